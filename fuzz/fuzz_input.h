// The framing the multi-message fuzz targets cut their input with, and the writer that
// tools/make_corpus.cpp builds their seeds with, so both sides always agree: fields are
// a byte (0 once the input is used up), a u64 (little-endian, missing bytes 0) and a
// record (2-byte little-endian length n, then n bytes; a longer n takes the rest).
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
    std::size_t size = 0;
    std::size_t position = 0;

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
        const std::span<const std::uint8_t> bytes(data + position, length);
        position += length;
        return bytes;
    }
};

struct FuzzOutput {
    std::vector<std::uint8_t> bytes;

    void byte(std::uint8_t value) { bytes.push_back(value); }
    void u64(std::uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8) bytes.push_back(std::uint8_t(value >> shift));
    }
    void record(std::span<const std::uint8_t> data) {
        bytes.push_back(static_cast<std::uint8_t>(data.size()));
        bytes.push_back(static_cast<std::uint8_t>(data.size() >> 8));
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
};

// An invariant the decoder promised and broke: abort so that libFuzzer keeps the input.
[[noreturn]] inline void broken(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", condition, file, line);
    std::abort();
}
#define KESTREL_FUZZ_CHECK(c) ((c) ? void() : ::kestrel::fuzz::broken(#c, __FILE__, __LINE__))

// Runs `action`, which returns a value; false when it threw std::runtime_error.
template <class T, class Action>
bool decoded(T& out, Action&& action) {
    try {
        out = action();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

} // namespace kestrel::fuzz
