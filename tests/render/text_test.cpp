#include "render/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {
namespace {

// Back from device coordinates to screen pixels.
float px(const Vertex& v) {
    return (v.position.x + 1) * 320;
}
float py(const Vertex& v) {
    return (1 - v.position.y) * 180;
}

// The lit font pixels of a scale-1 text at (0, 0), as (column, row) from each square's
// top-left corner (the last vertex of a rectangle).
std::set<std::pair<int, int>> lit(std::string_view s) {
    std::vector<Vertex> out;
    text(out, s, 0, 0, {}, 1);
    std::set<std::pair<int, int>> pixels;
    for (std::size_t i = 0; i + 5 < out.size(); i += 6) {
        pixels.insert({static_cast<int>(std::lround(px(out[i + 5]))),
                       static_cast<int>(std::lround(py(out[i + 5])))});
    }
    return pixels;
}

std::set<std::pair<int, int>> picture(const std::vector<std::string>& rows) {
    std::set<std::pair<int, int>> pixels;
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
        for (int k = 0; k < static_cast<int>(rows[r].size()); ++k)
            if (rows[r][k] == '#') pixels.insert({k, r});
    return pixels;
}

TEST(ScreenRect, FullScreenCoversDeviceSpace) {
    std::vector<Vertex> out;
    screen_rect(out, 0, 0, 640, 360, {0.1f, 0.2f, 0.3f, 1}, 3);
    ASSERT_EQ(out.size(), 6u);
    // c0 bottom-left, c1 bottom-right, c2 top-right, c3 top-left.
    EXPECT_EQ(out[0].position, (Vec3{-1, -1, 0}));
    EXPECT_EQ(out[1].position, (Vec3{1, -1, 0}));
    EXPECT_EQ(out[2].position, (Vec3{1, 1, 0}));
    EXPECT_EQ(out[5].position, (Vec3{-1, 1, 0}));
    EXPECT_EQ(out[0].uv, (Vec2{0, 1}));
    EXPECT_EQ(out[5].uv, (Vec2{0, 0}));
    for (const Vertex& v : out) {
        EXPECT_EQ(v.layer, 3);
        EXPECT_EQ(v.color, (Color{0.1f, 0.2f, 0.3f, 1}));
    }
}

TEST(Text, LetterAIsEighteenSquaresInsideItsCell) {
    std::vector<Vertex> out;
    const Color pale{0.8f, 0.88f, 0.85f, 1};
    text(out, "A", 0, 0, pale, 1);
    ASSERT_EQ(out.size(), 108u);
    for (const Vertex& v : out) {
        EXPECT_GE(px(v), 0);
        EXPECT_LE(px(v), 5); // pixels 0..4, the right edge of pixel 4 at 5
        EXPECT_GE(py(v), 0);
        EXPECT_LE(py(v), 7);
        EXPECT_EQ(v.color, pale);
        EXPECT_EQ(v.layer, 0);
    }
    EXPECT_EQ(lit("A"), picture({".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}));
}

TEST(Text, EveryLitPixelIsExactlyTheScreenRectOfThatSquare) {
    const std::string_view line = "K7:Q/ .";
    const Color c{0.3f, 0.6f, 0.9f, 0.5f};
    std::vector<Vertex> out, expected;
    text(out, line, 10.5f, 33.25f, c, 3);
    for (std::size_t n = 0; n < line.size(); ++n) {
        const auto glyph = font_characters.find(line[n]);
        for (int r = 0; r < 7; ++r)
            for (int k = 0; k < 5; ++k)
                if ((glyphs[glyph * 7 + static_cast<std::size_t>(r)] >> (4 - k)) & 1)
                    screen_rect(expected, 10.5f + 18.0f * n + 3.0f * k, 33.25f + 3.0f * r, 3, 3, c,
                                0);
    }
    EXPECT_EQ(out, expected);
}

TEST(Text, GlyphBitsRunLeftToRightTopToBottom) {
    EXPECT_EQ(lit("K"), picture({"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}));
    EXPECT_EQ(lit("4"), picture({"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}));
    EXPECT_EQ(lit("/"), picture({"....#", "...#.", "...#.", "..#..", ".#...", ".#...", "#...."}));
    EXPECT_EQ(lit("Q"), picture({".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}));
    EXPECT_TRUE(lit(" ").empty());
}

TEST(Text, UnknownBytesLeaveAFullBlankCell) {
    std::vector<Vertex> out;
    text(out, "a b", 10, 20, {}, 2);
    EXPECT_TRUE(out.empty());
    // The pen still moved by three cells: a following letter starts at 18 x scale.
    text(out, "a b.", 10, 20, {}, 2);
    ASSERT_EQ(out.size(), 2u * 6);
    EXPECT_FLOAT_EQ(px(out[5]), 10 + 36 + 4); // "." lights column 2 of rows 5 and 6
    EXPECT_FLOAT_EQ(py(out[5]), 20 + 10);
    EXPECT_FLOAT_EQ(px(out[1]), 10 + 36 + 6); // each square is scale x scale
    EXPECT_FLOAT_EQ(py(out[1]), 20 + 12);

    out.clear();
    text(out, "", 0, 0, {}, 1);
    EXPECT_TRUE(out.empty());
}

TEST(Text, LettersOfTheSameRowAlignWithTheirWidth) {
    EXPECT_EQ(text_width("", 1), 0);
    EXPECT_EQ(text_width("HEALTH", 1), 36);
    EXPECT_EQ(text_width("a%", 2), 24);
    EXPECT_EQ(text_width("100", 2), 36);

    // Drawing "AB" equals drawing "A" and then "B" at the width of "A".
    std::vector<Vertex> joined, split;
    text(joined, "AB", 3, 4, {}, 2);
    text(split, "A", 3, 4, {}, 2);
    text(split, "B", 3 + text_width("A", 2), 4, {}, 2);
    EXPECT_EQ(joined, split);
    // The width includes the blank column after the last glyph.
    float right = 0;
    for (const Vertex& v : joined) right = std::max(right, px(v));
    EXPECT_FLOAT_EQ(right, 3 + text_width("AB", 2) - 2);
}

} // namespace
} // namespace kestrel
