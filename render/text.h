// Screen-space builders of the overlay: flat rectangles and the built-in 5x7 pixel font.
// Both work in the 640x360 pixel space (origin top-left, y down) and emit vertices already
// in device coordinates.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "render/vertex.h"

namespace kestrel {

// The characters the font can draw, in the order of `glyphs`; the last one is a space.
inline constexpr std::string_view font_characters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-:/._ ";

// Seven rows per character, top row first; bit 4 is the leftmost of the five columns.
extern const std::array<std::uint8_t, 7 * 42> glyphs;

// One rectangle with top-left (x, y) and size w x h pixels, textured with atlas `layer`
// (0 draws the flat colour).
void screen_rect(std::vector<Vertex>& out, float x, float y, float w, float h, Color color,
                 float layer);

// One line of text with its top-left corner at pixel (x, y); a font pixel is scale x scale
// screen pixels, one square each. Bytes outside the font leave a blank cell of full width.
// No line breaks, no clipping.
void text(std::vector<Vertex>& out, std::string_view s, float x, float y, Color color, float scale);

// Pixels the pen advances over `s`: 6 x scale per byte, the last character's 1-pixel gap
// included.
constexpr float text_width(std::string_view s, float scale) {
    return 6.0f * scale * static_cast<float>(s.size());
}

} // namespace kestrel
