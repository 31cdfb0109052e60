#include "render/atlas.h"

#include <gtest/gtest.h>

#include <array>

#include "world/sector.h"

namespace kestrel {
namespace {

using Rgba = std::array<int, 4>;

const std::vector<std::uint8_t>& atlas() {
    static const std::vector<std::uint8_t> bytes = make_atlas();
    return bytes;
}

Rgba at(int layer, int x, int y) {
    const std::size_t i = static_cast<std::size_t>(layer) * 4096 + (y * 32 + x) * 4;
    return {atlas()[i], atlas()[i + 1], atlas()[i + 2], atlas()[i + 3]};
}

int noise(int x, int y) {
    return static_cast<int>(mix64(y * 32 + x) & 15);
}

TEST(Atlas, EightLayersWhereOnlySpritesHaveHoles) {
    EXPECT_EQ(atlas().size(), 32768u);
    EXPECT_EQ(atlas_bytes, 32768u);
    EXPECT_EQ(make_atlas(), atlas()); // generated, so always the same bytes
    for (int layer = 0; layer < 8; ++layer) {
        int transparent = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                transparent += at(layer, x, y)[3] == 0;
                if (layer == 0) {
                    ASSERT_EQ(at(0, x, y), (Rgba{255, 255, 255, 255})); // flat white
                }
            }
        if (layer < 4)
            EXPECT_EQ(transparent, 0) << layer;
        else
            EXPECT_TRUE(transparent > 0 && transparent < 1024) << layer;
    }
}

TEST(Atlas, TexelGoldens) {
    const int n = noise(3, 2), top = noise(3, 9), half = noise(5, 7) / 2;
    struct Case {
        int layer, x, y;
        Rgba rgba;
    };
    const Case cases[] = {
        // brick: bed joint, head joints of even and odd courses, face, lit first row
        {1, 5, 0, {38, 30, 29, 255}},
        {1, 16, 3, {38, 30, 29, 255}},
        {1, 8, 11, {38, 30, 29, 255}},
        {1, 3, 2, {n + 126, n + 75, n + 51, 255}},
        {1, 3, 9, {top + 156, top + 93, top + 61, 255}},
        {2, 16, 7, {18, 24, 28, 255}}, // floor
        {2, 5, 7, {half + 38, half + 47, half + 53, 255}},
        {3, 0, 9, {19, 28, 32, 255}}, // ceiling
        {3, 9, 9, {46, 57, 63, 255}},
        {3, 6, 5, {107, 160, 165, 255}},
        {3, 25, 5, {107, 160, 165, 255}},
        {3, 26, 5, {46, 57, 63, 255}},
        {4, 0, 0, {255, 255, 255, 0}}, // creature: body, darker fifth column, chest, visor, foot
        {4, 16, 12, {196, 116, 59, 255}},
        {4, 10, 20, {112, 72, 44, 255}},
        {4, 15, 16, {43, 52, 61, 255}},
        {4, 20, 7, {61, 192, 198, 255}},
        {4, 11, 30, {29, 34, 40, 255}},
        {4, 5, 23, {112, 72, 44, 255}},
        {5, 15, 1, {25, 180, 215, 255}}, // portal ring and its hole
        {5, 15, 15, {25, 194, 209 + 60 % 40, 0}},
        {6, 3, 10, {255, 255, 255, 0}}, // weapon: above the hands, hand, barrel, muzzle, sight
        {6, 3, 25, {152, 91, 62, 255}},
        {6, 22, 25, {67, 78, 84, 255}},
        {6, 12, 10, {168, 185, 189, 255}},
        {6, 16, 5, {28, 35, 41, 255}},
        {6, 16, 18, {30, 198, 184, 255}},
        {7, 15, 15, {255, 213, 89, 255}}, // spark
        {7, 0, 0, {255, 213, 89, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(at(c.layer, c.x, c.y), c.rgba) << c.layer << " (" << c.x << ", " << c.y << ")";
    // Alpha alone: holes between the legs, beside the ring and the muzzle; the spark's beams
    // and its |dx| + |dy| < 13 diamond.
    const std::array<int, 4> alphas[] = {{4, 15, 25, 0}, {4, 27, 15, 0},  {5, 0, 0, 0},
                                         {6, 16, 2, 0},  {7, 0, 15, 255}, {7, 16, 31, 255},
                                         {7, 4, 4, 0},   {7, 9, 9, 0},    {7, 10, 9, 255}};
    for (const auto& [layer, x, y, alpha] : alphas)
        EXPECT_EQ(at(layer, x, y)[3], alpha) << layer << " (" << x << ", " << y << ")";
}

} // namespace
} // namespace kestrel
