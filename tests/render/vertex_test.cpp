#include "render/primitives.h"
#include "render/vertex.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace kestrel {
namespace {

// The GPU pipeline reads vertices as raw bytes: float3 at 0, float2 at 12, float4 at 20,
// float at 36, pitch 40.
TEST(VertexLayout, MatchesThePipelineVertexInput) {
    EXPECT_EQ(sizeof(Vertex), 40u);
    EXPECT_EQ(offsetof(Vertex, position), 0u);
    EXPECT_EQ(offsetof(Vertex, uv), 12u);
    EXPECT_EQ(offsetof(Vertex, color), 20u);
    EXPECT_EQ(offsetof(Vertex, layer), 36u);

    const Vertex v{{1, 2, 3}, {4, 5}, {6, 7, 8, 9}, 10};
    float raw[10];
    std::memcpy(raw, &v, sizeof raw);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(raw[i], static_cast<float>(i + 1)) << i;

    std::vector<Vertex> two(2);
    EXPECT_EQ(reinterpret_cast<const std::byte*>(&two[1]) -
                  reinterpret_cast<const std::byte*>(&two[0]),
              40);
}

TEST(Quad, TwoTrianglesSharingTheFirstCornerWithFixedTextureCorners) {
    std::vector<Vertex> out(1); // appends, keeps what was there
    const Vec3 c0{0, 0, 0}, c1{1, 0, 0}, c2{1, 0, 1}, c3{0, 0, 1};
    const Color red{1, 0, 0, 1};
    quad(out, c0, c1, c2, c3, 5, red);
    ASSERT_EQ(out.size(), 7u);
    const Vec3 positions[6] = {c0, c1, c2, c0, c2, c3};
    const Vec2 uvs[6] = {{0, 1}, {1, 1}, {1, 0}, {0, 1}, {1, 0}, {0, 0}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(out[1 + i].position, positions[i]) << i;
        EXPECT_EQ(out[1 + i].uv, uvs[i]) << i;
        EXPECT_EQ(out[1 + i].color, red);
        EXPECT_EQ(out[1 + i].layer, 5);
    }
}

TEST(DevicePoint, MapsThe640x360ScreenOntoMinusOneToOne) {
    EXPECT_EQ(device_point(0, 0), (Vec3{-1, 1, 0}));
    EXPECT_EQ(device_point(640, 360), (Vec3{1, -1, 0}));
    EXPECT_EQ(device_point(320, 180), (Vec3{0, 0, 0}));
    EXPECT_EQ(device_point(160, 270), (Vec3{-0.5f, -0.5f, 0}));
}

} // namespace
} // namespace kestrel
