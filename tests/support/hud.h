// Finding what a HUD builder drew: the exact geometry that `text` or `screen_rect` would
// have emitted for a string or rectangle (colour aside), searched in the builder's output.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "render/text.h"

namespace kestrel::test {

constexpr std::size_t none = static_cast<std::size_t>(-1);

// Index of the first vertex of `want` inside `out`, or `none`.
inline std::size_t find(const std::vector<Vertex>& out, const std::vector<Vertex>& want,
                        std::size_t from = 0) {
    const auto same = [](const Vertex& a, const Vertex& b) {
        return a.position == b.position && a.uv == b.uv && a.layer == b.layer;
    };
    if (want.empty() || from > out.size()) return none;
    const auto begin = out.begin() + static_cast<std::ptrdiff_t>(from);
    const auto it = std::search(begin, out.end(), want.begin(), want.end(), same);
    return it == out.end() ? none : static_cast<std::size_t>(it - out.begin());
}

inline std::size_t find_text(const std::vector<Vertex>& out, std::string_view s, float x, float y,
                             float scale = 1) {
    std::vector<Vertex> want;
    text(want, s, x, y, {}, scale);
    return find(out, want);
}

inline bool has_text(const std::vector<Vertex>& out, std::string_view s, float x, float y,
                     float scale = 1) {
    return find_text(out, s, x, y, scale) != none;
}

inline std::size_t find_rect(const std::vector<Vertex>& out, float x, float y, float w, float h,
                             float layer = 0) {
    std::vector<Vertex> want;
    screen_rect(want, x, y, w, h, {}, layer);
    return find(out, want);
}

// The colour of a drawn text or rectangle, or transparent black when it is not there.
inline Color text_color(const std::vector<Vertex>& out, std::string_view s, float x, float y,
                        float scale = 1) {
    const std::size_t i = find_text(out, s, x, y, scale);
    return i == none ? Color{0, 0, 0, 0} : out[i].color;
}

inline Color rect_color(const std::vector<Vertex>& out, float x, float y, float w, float h,
                        float layer = 0) {
    const std::size_t i = find_rect(out, x, y, w, h, layer);
    return i == none ? Color{0, 0, 0, 0} : out[i].color;
}

// A line of text that must be drawn at (x, y), in `color` when one is given.
struct Shown {
    std::string_view text;
    float x, y;
    std::optional<Color> color = {};
    float scale = 1;
};

inline void expect_shown(const std::vector<Vertex>& out, std::initializer_list<Shown> lines) {
    for (const Shown& s : lines) {
        const std::size_t i = find_text(out, s.text, s.x, s.y, s.scale);
        EXPECT_NE(i, none) << '"' << s.text << "\" at (" << s.x << ", " << s.y << ")";
        if (i != none && s.color) {
            EXPECT_EQ(out[i].color, *s.color) << s.text;
        }
    }
}

inline void expect_absent(const std::vector<Vertex>& out, std::initializer_list<Shown> lines) {
    for (const Shown& s : lines)
        EXPECT_FALSE(has_text(out, s.text, s.x, s.y, s.scale))
            << '"' << s.text << "\" at (" << s.x << ", " << s.y << ")";
}

// Screen pixels of a vertex in device coordinates.
inline float px(const Vertex& v) {
    return (v.position.x + 1) * 320;
}
inline float py(const Vertex& v) {
    return (1 - v.position.y) * 180;
}

} // namespace kestrel::test
