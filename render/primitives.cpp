#include "render/primitives.h"

namespace kestrel {

// Built in place, vertex by vertex, with the appends flattened into it: a rectangle
// assembled on the stack and copied in costs a stalled copy (wide loads of just-written
// narrow stores) on top of its stores, and most of a frame is rectangles.
[[gnu::flatten]] void quad(std::vector<Vertex>& out, Vec3 c0, Vec3 c1, Vec3 c2, Vec3 c3,
                           float layer, Color color) {
    make_room(out, 6);
    out.emplace_back(c0, Vec2{0, 1}, color, layer);
    out.emplace_back(c1, Vec2{1, 1}, color, layer);
    out.emplace_back(c2, Vec2{1, 0}, color, layer);
    out.emplace_back(c0, Vec2{0, 1}, color, layer);
    out.emplace_back(c2, Vec2{1, 0}, color, layer);
    out.emplace_back(c3, Vec2{0, 0}, color, layer);
}

} // namespace kestrel
