// Reads a PNG back through tests/render/check_png.py, a decoder written apart from the game's
// encoder (Python's zlib inflates), so no test checks the encoder with its own assumptions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace kestrel::test {

// The reader's "WIDTHxHEIGHT" line (or its error) and the RGBA pixels.
struct Png {
    std::string output;
    std::vector<std::uint8_t> rgba;

    std::uint32_t pixel(int x, int y) const { // of a 640-pixel-wide shot: R in the high byte
        const std::size_t i = (std::size_t(y) * 640 + std::size_t(x)) * 4;
        if (i + 4 > rgba.size()) return 0;
        return std::uint32_t{rgba[i]} << 24 | rgba[i + 1] << 16 | rgba[i + 2] << 8 | rgba[i + 3];
    }
};

inline Png read_png(const std::string& path) {
    const std::string raw = path + ".rgba";
    const Outcome checked = run(
        "/usr/bin/env", {"python3", KESTREL_SOURCE_DIR "/tests/render/check_png.py", path, raw});
    std::ifstream in(raw, std::ios::binary);
    Png png{checked.out + checked.err, {std::istreambuf_iterator<char>(in), {}}};
    std::remove(raw.c_str());
    return png;
}

} // namespace kestrel::test
