// Reads a PNG back through tests/render/check_png.py, a decoder written apart from the game's
// encoder (Python's zlib inflates), so no test checks the encoder with its own assumptions.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/support/process.h"

namespace kestrel::test {

struct DecodedPng {
    bool ok = false;
    std::string output; // the checker's "WIDTHxHEIGHT" line, or its error message
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;

    std::uint32_t pixel(auto x, auto y) const { // RGBA, R in the high byte
        const std::size_t i = (std::size_t(y) * width + std::size_t(x)) * 4;
        return std::uint32_t{rgba[i]} << 24 | rgba[i + 1] << 16 | rgba[i + 2] << 8 | rgba[i + 3];
    }
};

inline DecodedPng read_png(const std::string& path) {
    DecodedPng png;
    const std::string raw = path + ".rgba";
    const Outcome checked = run(
        "/usr/bin/env", {"python3", KESTREL_SOURCE_DIR "/tests/render/check_png.py", path, raw});
    png.output = checked.out + checked.err;
    if (checked.status != 0 ||
        std::sscanf(checked.out.c_str(), "%ux%u", &png.width, &png.height) != 2)
        return png;
    std::ifstream in(raw, std::ios::binary);
    png.rgba.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    png.ok = png.rgba.size() == std::size_t{png.width} * png.height * 4;
    return png;
}

} // namespace kestrel::test
