// Checking what a geometry builder emitted: a digest of whole outputs, and where the exact
// geometry that `text` would emit for a string (colour aside) sits in a builder's output.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "render/text.h"
#include "world/sector.h"

namespace kestrel::test {

// crc32 over the sizes and vertex bytes of several outputs: it pins every vertex. When an
// intended change moves it, re-pin the expected value to the one the failure prints.
inline void expect_digest(const std::vector<std::vector<Vertex>>& outs, std::uint32_t want,
                          std::string_view what) {
    std::vector<std::uint8_t> bytes;
    for (const std::vector<Vertex>& out : outs) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(out.data());
        bytes.push_back(std::uint8_t(out.size()));
        bytes.insert(bytes.end(), p, p + out.size() * sizeof(Vertex));
    }
    const std::uint32_t got = crc32(bytes);
    EXPECT_EQ(got, want) << what << ": digest 0x" << std::hex << got;
}

constexpr std::size_t none = static_cast<std::size_t>(-1);

// Index of the first vertex of what `text` draws for `s` inside `out` (colour aside), or `none`.
inline std::size_t find_text(const std::vector<Vertex>& out, std::string_view s, float x, float y,
                             float scale = 1, std::vector<Vertex> want = {}) {
    text(want, s, x, y, {}, scale);
    const auto it =
        std::search(out.begin(), out.end(), want.begin(), want.end(), [](auto& a, auto& b) {
            return a.position == b.position && a.uv == b.uv && a.layer == b.layer;
        });
    return it == out.end() ? none : static_cast<std::size_t>(it - out.begin());
}

} // namespace kestrel::test
