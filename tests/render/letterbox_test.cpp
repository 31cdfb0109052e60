#include "render/letterbox.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

// The scale is the limiting side's (never rounded to whole numbers), the image size is
// truncated, and an odd leftover goes after the image.
TEST(Letterbox, ScalesByTheLimitingSideAndCentres) {
    struct Case {
        std::uint32_t width, height;
        BlitRect expected;
    };
    const Case cases[] = {
        {1920, 1080, {0, 0, 1920, 1080}},
        {1000, 1000, {0, 219, 1000, 562}},
        {100, 50, {6, 0, 88, 50}},
        {1280, 720, {0, 0, 1280, 720}},
        {960, 720, {0, 90, 960, 540}},
        {2560, 1600, {0, 80, 2560, 1440}},
        {300, 360, {0, 96, 300, 168}},
        {641, 360, {0, 0, 640, 360}},
        {643, 360, {1, 0, 640, 360}},
        {640, 363, {0, 1, 640, 360}},
        {1, 1, {0, 0, 1, 0}},
        {100000, 10, {49991, 0, 17, 10}},
        {10, 100000, {0, 49997, 10, 5}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(letterbox(c.width, c.height), c.expected) << c.width << "x" << c.height;
    static_assert(letterbox(1920, 1080) == BlitRect{0, 0, 1920, 1080}); // usable at compile time
}

} // namespace
} // namespace kestrel
