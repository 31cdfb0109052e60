// Screenshots as PNG files (SDL 3.2 has no PNG writer of its own).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "protocol/codec.h"

namespace kestrel {

// A complete PNG file of an 8-bit RGBA image: `rgba` holds width x height pixels, rows top
// to bottom, 4 bytes R, G, B, A each. The pixels are deflated with fixed Huffman codes and
// back-references, so flat HUD areas cost little. Throws "invalid png size" for a zero or
// oversized dimension and "png pixel count mismatch" when `rgba` has the wrong length.
Bytes encode_png(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgba);

// Encodes as above and writes the file in one go; throws "cannot write png: " + path when
// the file cannot be created or written completely.
void save_png(const std::string& path, std::uint32_t width, std::uint32_t height,
              std::span<const std::uint8_t> rgba);

} // namespace kestrel
