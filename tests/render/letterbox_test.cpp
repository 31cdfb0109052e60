#include "render/letterbox.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Letterbox, ScalesByTheLimitingSideAndCentres) {
    // Exactly 3x: no bars.
    EXPECT_EQ(letterbox(1920, 1080), (BlitRect{0, 0, 1920, 1080}));
    // Width limits at 1.5625x: 562.5 rows truncated to 562, bars of 219 above and below.
    EXPECT_EQ(letterbox(1000, 1000), (BlitRect{0, 219, 1000, 562}));
    // Height limits at 50/360: 88.9 columns truncated to 88, bars of 6 at the sides. The
    // limiting side is filled exactly even though 50/360 has no exact binary fraction.
    EXPECT_EQ(letterbox(100, 50), (BlitRect{6, 0, 88, 50}));
}

TEST(Letterbox, ScaleIsNotRoundedToWholeNumbers) {
    EXPECT_EQ(letterbox(1280, 720), (BlitRect{0, 0, 1280, 720}));
    EXPECT_EQ(letterbox(640, 360), (BlitRect{0, 0, 640, 360}));
    EXPECT_EQ(letterbox(960, 720), (BlitRect{0, 90, 960, 540}));     // 1.5x, not 1x
    EXPECT_EQ(letterbox(2560, 1600), (BlitRect{0, 80, 2560, 1440})); // 4x, bars of 80
    EXPECT_EQ(letterbox(300, 360), (BlitRect{0, 96, 300, 168}));     // below 1x: shrinks
}

TEST(Letterbox, OddLeftoverGoesAfterTheImage) {
    // 641 wide at 1x height: one spare column, halved to 0 before and 1 after.
    EXPECT_EQ(letterbox(641, 360), (BlitRect{0, 0, 640, 360}));
    EXPECT_EQ(letterbox(643, 360), (BlitRect{1, 0, 640, 360}));
    EXPECT_EQ(letterbox(640, 363), (BlitRect{0, 1, 640, 360}));
}

TEST(Letterbox, TinyAndExtremeWindows) {
    EXPECT_EQ(letterbox(1, 1), (BlitRect{0, 0, 1, 0})); // rounds down to an empty image
    EXPECT_EQ(letterbox(16, 9), (BlitRect{0, 0, 16, 9}));
    EXPECT_EQ(letterbox(100000, 10), (BlitRect{49991, 0, 17, 10}));
    EXPECT_EQ(letterbox(10, 100000), (BlitRect{0, 49997, 10, 5}));
    static_assert(letterbox(1920, 1080) == BlitRect{0, 0, 1920, 1080}); // usable at compile time
}

} // namespace
} // namespace kestrel
