// How multi-message targets cut their input, and how make_corpus writes seeds: a byte (0 at
// the end), a little-endian u64, a record (u16 length n, then n bytes; too long takes
// the rest).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <stdexcept>
#include <vector>

namespace kestrel::fuzz {

struct FuzzInput {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0, position = 0;

    bool empty() const { return position >= size; }
    std::uint8_t byte() { return empty() ? 0 : data[position++]; }
    std::uint64_t u64() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 8) value |= std::uint64_t{byte()} << shift;
        return value;
    }
    std::span<const std::uint8_t> record() {
        std::size_t length = byte();
        length |= std::size_t{byte()} << 8;
        length = std::min(length, size - std::min(position, size));
        position += length;
        return {data + position - length, length};
    }
};

struct FuzzOutput {
    std::vector<std::uint8_t> bytes;

    void byte(std::uint8_t value) { bytes.push_back(value); }
    void u64(std::uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8) byte(std::uint8_t(value >> shift));
    }
    void record(std::span<const std::uint8_t> data) {
        bytes.insert(bytes.end(), {std::uint8_t(data.size()), std::uint8_t(data.size() >> 8)});
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
};

// A broken invariant aborts, so that libFuzzer keeps the input.
#define KESTREL_FUZZ_CHECK(c)                                                                      \
    ((c) ? void()                                                                                  \
         : (std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #c, __FILE__, __LINE__),        \
            std::abort()))

// Stores what `action` returns; false when it threw std::runtime_error.
template <class T, class Action>
bool decoded(T& out, Action&& action) try {
    out = action();
    return true;
} catch (const std::runtime_error&) {
    return false;
}

} // namespace kestrel::fuzz
