// The one vertex format of the presentation layer: every triangle, world, entity or HUD, is
// made of these and drawn by the same shader pair.
#pragma once

#include <cstddef>

namespace kestrel {

// World units: x grows with the tile column, y with the tile row, z is up; one tile is 1.0.
struct Vec3 {
    float x = 0;
    float y = 0;
    float z = 0;

    friend bool operator==(const Vec3&, const Vec3&) = default;
};

struct Vec2 {
    float x = 0;
    float y = 0;

    friend bool operator==(const Vec2&, const Vec2&) = default;
};

// Multiplied with the atlas texel in the fragment stage, so white leaves the texture as is.
struct Color {
    float r = 1;
    float g = 1;
    float b = 1;
    float a = 1;

    friend bool operator==(const Color&, const Color&) = default;
};

// GPU vertex, 40 bytes, no padding; the pipeline's vertex input reads exactly this:
//
//   offset  size  field
//        0    12  position  float3: world units, or device coordinates (z = 0) for the overlay
//       12     8  uv        float2: texture coordinates in the atlas layer, 0..1
//       20    16  color     float4: r, g, b, a
//       36     4  layer     float:  atlas layer 0..7; 0 is plain white; -1 the transfer backdrop
struct Vertex {
    // Spelled out so lists can emplace_back a vertex in place with every compiler.
    Vertex() = default;
    constexpr Vertex(Vec3 position_, Vec2 uv_, Color color_, float layer_)
        : position(position_), uv(uv_), color(color_), layer(layer_) {}

    Vec3 position;
    Vec2 uv;
    Color color;
    float layer = 0;

    friend bool operator==(const Vertex&, const Vertex&) = default;
};

static_assert(sizeof(Vertex) == 40);
static_assert(offsetof(Vertex, position) == 0);
static_assert(offsetof(Vertex, uv) == 12);
static_assert(offsetof(Vertex, color) == 20);
static_assert(offsetof(Vertex, layer) == 36);

} // namespace kestrel
