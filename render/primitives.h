// The rectangle every builder is made of, and the pixel-to-device conversion of the overlay.
#pragma once

#include <algorithm>
#include <vector>

#include "render/vertex.h"

namespace kestrel {

// Makes room for n more vertices, doubling as push_back would, so that a builder writing a
// shape vertex by vertex pays one capacity check for the shape instead of one per vertex.
inline void make_room(std::vector<Vertex>& out, std::size_t n) {
    if (out.capacity() - out.size() < n)
        out.reserve(std::max<std::size_t>(128, 2 * out.size() + n));
}

// Appends the rectangle c0..c3 as the triangles (c0, c1, c2) and (c0, c2, c3). c0 takes the
// bottom-left of the texture, c1 the bottom-right, c2 the top-right, c3 the top-left.
void quad(std::vector<Vertex>& out, Vec3 c0, Vec3 c1, Vec3 c2, Vec3 c3, float layer, Color color);

// A point of the 640x360 pixel screen (origin top-left, y down) in normalised device
// coordinates, z = 0.
constexpr Vec3 device_point(float px, float py) {
    return {px / 320.0f - 1.0f, 1.0f - py / 180.0f, 0.0f};
}

} // namespace kestrel
