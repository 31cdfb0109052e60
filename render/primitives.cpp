#include "render/primitives.h"

namespace kestrel {

void quad(std::vector<Vertex>& out, Vec3 c0, Vec3 c1, Vec3 c2, Vec3 c3, float layer, Color color) {
    const Vertex v[6] = {
        {c0, {0, 1}, color, layer}, {c1, {1, 1}, color, layer}, {c2, {1, 0}, color, layer},
        {c0, {0, 1}, color, layer}, {c2, {1, 0}, color, layer}, {c3, {0, 0}, color, layer},
    };
    out.insert(out.end(), v, v + 6);
}

} // namespace kestrel
