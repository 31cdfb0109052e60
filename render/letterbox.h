// Where the fixed 640x360 scene lands in a window of any size: scaled by the largest factor
// that fits (not rounded to a whole number, so a 1000-pixel window is filled edge to edge)
// and centred, with black bars on the two sides that are left over.
#pragma once

#include <cstdint>

namespace kestrel {

inline constexpr std::uint32_t scene_width = 640;
inline constexpr std::uint32_t scene_height = 360;

struct BlitRect {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t w = 0;
    std::uint32_t h = 0;

    friend bool operator==(const BlitRect&, const BlitRect&) = default;
};

// Window (swapchain) size in pixels to the destination rectangle of the scene; both sizes
// must be non-zero. Worked in integers, so the limiting side is filled exactly (a float
// scale of 50/360 times 360 can come out at 49.999...); the other side is truncated toward
// zero, and the bars are halved in integers, so an odd leftover pixel goes after the image.
constexpr BlitRect letterbox(std::uint32_t width, std::uint32_t height) {
    const std::uint64_t w = width, h = height;
    BlitRect r;
    if (w * scene_height <= h * scene_width) { // width limits: bars above and below
        r.w = width;
        r.h = static_cast<std::uint32_t>(w * scene_height / scene_width);
    } else { // height limits: bars left and right
        r.w = static_cast<std::uint32_t>(h * scene_width / scene_height);
        r.h = height;
    }
    r.x = (width - r.w) / 2;
    r.y = (height - r.h) / 2;
    return r;
}

} // namespace kestrel
