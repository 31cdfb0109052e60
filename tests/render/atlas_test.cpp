#include "render/atlas.h"

#include <gtest/gtest.h>

#include <array>

#include "world/sector.h"

namespace kestrel {
namespace {

using Rgba = std::array<int, 4>;

class AtlasTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { atlas = new std::vector<std::uint8_t>(make_atlas()); }
    static void TearDownTestSuite() { delete atlas; }

    static Rgba at(int layer, int x, int y) {
        const std::size_t i = static_cast<std::size_t>(layer) * 4096 + (y * 32 + x) * 4;
        return {(*atlas)[i], (*atlas)[i + 1], (*atlas)[i + 2], (*atlas)[i + 3]};
    }
    static int transparent(int layer) {
        int n = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) n += at(layer, x, y)[3] == 0;
        return n;
    }
    static int noise(int x, int y) { return static_cast<int>(mix64(y * 32 + x) & 15); }

    static std::vector<std::uint8_t>* atlas;
};
std::vector<std::uint8_t>* AtlasTest::atlas = nullptr;

TEST_F(AtlasTest, EightLayersOf32x32Rgba) {
    EXPECT_EQ(atlas->size(), 32768u);
    EXPECT_EQ(atlas_bytes, 32768u);
    EXPECT_EQ(make_atlas(), *atlas); // generated, so always the same bytes
}

TEST_F(AtlasTest, FlatLayerIsOpaqueWhiteAndOnlySpritesHaveHoles) {
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(at(0, x, y), (Rgba{255, 255, 255, 255}));
    for (int layer : {1, 2, 3}) EXPECT_EQ(transparent(layer), 0) << layer;
    for (int layer : {4, 5, 6, 7}) {
        EXPECT_GT(transparent(layer), 0) << layer;
        EXPECT_LT(transparent(layer), 1024) << layer;
    }
}

TEST_F(AtlasTest, WallFloorAndCeilingPixels) {
    EXPECT_EQ(at(1, 5, 0), (Rgba{38, 30, 29, 255}));  // bed joint
    EXPECT_EQ(at(1, 16, 3), (Rgba{38, 30, 29, 255})); // head joint, even course
    EXPECT_EQ(at(1, 8, 11), (Rgba{38, 30, 29, 255})); // head joint, odd course shifted by 8
    const int n = noise(3, 2);
    EXPECT_EQ(at(1, 3, 2), (Rgba{n + 126, n + 75, n + 51, 255}));
    const int top = noise(3, 9);
    EXPECT_EQ(at(1, 3, 9), (Rgba{top + 156, top + 93, top + 61, 255})); // lit first row

    EXPECT_EQ(at(2, 16, 7), (Rgba{18, 24, 28, 255}));
    const int half = noise(5, 7) / 2;
    EXPECT_EQ(at(2, 5, 7), (Rgba{half + 38, half + 47, half + 53, 255}));

    EXPECT_EQ(at(3, 0, 9), (Rgba{19, 28, 32, 255}));
    EXPECT_EQ(at(3, 9, 9), (Rgba{46, 57, 63, 255}));
    EXPECT_EQ(at(3, 6, 5), (Rgba{107, 160, 165, 255}));
    EXPECT_EQ(at(3, 25, 5), (Rgba{107, 160, 165, 255}));
    EXPECT_EQ(at(3, 26, 5), (Rgba{46, 57, 63, 255}));
}

TEST_F(AtlasTest, CreatureSprite) {
    EXPECT_EQ(at(4, 0, 0), (Rgba{255, 255, 255, 0}));
    EXPECT_EQ(at(4, 16, 12), (Rgba{196, 116, 59, 255})); // body
    EXPECT_EQ(at(4, 10, 20), (Rgba{112, 72, 44, 255}));  // body, darker fifth column
    EXPECT_EQ(at(4, 15, 16), (Rgba{43, 52, 61, 255}));   // chest panel
    EXPECT_EQ(at(4, 20, 7), (Rgba{61, 192, 198, 255}));  // visor
    EXPECT_EQ(at(4, 11, 30), (Rgba{29, 34, 40, 255}));   // foot
    EXPECT_EQ(at(4, 5, 23), (Rgba{112, 72, 44, 255}));   // hand
    EXPECT_EQ(at(4, 15, 25)[3], 0);                      // between the legs
    EXPECT_EQ(at(4, 27, 15)[3], 0);
}

TEST_F(AtlasTest, PortalRingWeaponAndSpark) {
    EXPECT_EQ(at(5, 15, 1), (Rgba{25, 180, 215, 255}));          // on the ring
    EXPECT_EQ(at(5, 15, 15), (Rgba{25, 194, 209 + 60 % 40, 0})); // hole in the middle
    EXPECT_EQ(at(5, 0, 0)[3], 0);

    EXPECT_EQ(at(6, 3, 10), (Rgba{255, 255, 255, 0})); // above the hands
    EXPECT_EQ(at(6, 3, 25), (Rgba{152, 91, 62, 255})); // hand
    EXPECT_EQ(at(6, 22, 25), (Rgba{67, 78, 84, 255})); // barrel
    EXPECT_EQ(at(6, 12, 10), (Rgba{168, 185, 189, 255}));
    EXPECT_EQ(at(6, 16, 5), (Rgba{28, 35, 41, 255}));    // muzzle
    EXPECT_EQ(at(6, 16, 18), (Rgba{30, 198, 184, 255})); // sight
    EXPECT_EQ(at(6, 16, 2)[3], 0);

    EXPECT_EQ(at(7, 15, 15), (Rgba{255, 213, 89, 255}));
    EXPECT_EQ(at(7, 0, 15)[3], 255);  // horizontal beam
    EXPECT_EQ(at(7, 16, 31)[3], 255); // vertical beam
    EXPECT_EQ(at(7, 0, 0), (Rgba{255, 213, 89, 0}));
    EXPECT_EQ(at(7, 4, 4)[3], 0);    // |dx| + |dy| = 23
    EXPECT_EQ(at(7, 9, 9)[3], 0);    // |dx| + |dy| = 13 exactly is outside
    EXPECT_EQ(at(7, 10, 9)[3], 255); // 12
}

} // namespace
} // namespace kestrel
