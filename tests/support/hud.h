// Finding what a HUD builder drew: the exact geometry that `text` or `screen_rect` would have
// emitted for a string or rectangle (colour aside), searched in the builder's output.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "render/text.h"

namespace kestrel::test {

constexpr std::size_t none = static_cast<std::size_t>(-1);

// Index of the first vertex of `want` inside `out` from `from` on, or `none`.
inline std::size_t find(const std::vector<Vertex>& out, const std::vector<Vertex>& want,
                        std::size_t from = 0) {
    const auto same = [](const Vertex& a, const Vertex& b) {
        return a.position == b.position && a.uv == b.uv && a.layer == b.layer;
    };
    if (want.empty() || from > out.size()) return none;
    const auto it = std::search(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(),
                                want.begin(), want.end(), same);
    return it == out.end() ? none : static_cast<std::size_t>(it - out.begin());
}
inline std::size_t find_text(const std::vector<Vertex>& out, std::string_view s, float x, float y,
                             float scale = 1, std::vector<Vertex> want = {}) {
    return text(want, s, x, y, {}, scale), find(out, want);
}
inline std::size_t find_rect(const std::vector<Vertex>& out, float x, float y, float w, float h,
                             float layer = 0, std::vector<Vertex> want = {}) {
    return screen_rect(want, x, y, w, h, {}, layer), find(out, want);
}
// The colour of what was found at `i`, transparent black when nothing was.
inline Color color_at(const std::vector<Vertex>& out, std::size_t i) {
    return i == none ? Color{0, 0, 0, 0} : out[i].color;
}

// A line of text drawn at (x, y), in `color` when one is given.
struct Shown {
    std::string_view text;
    float x, y;
    std::optional<Color> color = {};
    float scale = 1;
};
// Builder output with the lines it must show and those it must not.
struct Case {
    std::vector<Vertex> out;
    std::initializer_list<Shown> shown, absent = {};
};
inline void expect_cases(std::initializer_list<Case> cases) {
    for (const Case& c : cases)
        for (const bool shown : {true, false})
            for (const Shown& s : shown ? c.shown : c.absent) {
                const std::size_t i = find_text(c.out, s.text, s.x, s.y, s.scale);
                EXPECT_EQ(i != none, shown) << '"' << s.text << "\" at " << s.x << ", " << s.y;
                EXPECT_EQ(color_at(c.out, i), shown && s.color ? *s.color : color_at(c.out, i))
                    << s.text;
            }
}

} // namespace kestrel::test
