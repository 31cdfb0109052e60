// The framing the multi-message fuzz targets cut their input with, and the writer that
// tools/make_corpus.cpp builds their seeds with, so both sides always agree.
//
// A fuzz input is a plain concatenation of fields:
//
//   byte     1 byte, 0 once the input is used up
//   u64      8 bytes little-endian, missing bytes read as 0
//   record   2-byte little-endian length n, then n bytes; a record longer than what is
//            left takes the rest, so a truncated input still yields its last message
//
// Each target documents which of these it reads per message.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
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

// Seed side: appends the same fields.
struct FuzzOutput {
    std::vector<std::uint8_t> bytes;

    void byte(std::uint8_t value) { bytes.push_back(value); }
    void u64(std::uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    void record(std::span<const std::uint8_t> data) {
        bytes.push_back(static_cast<std::uint8_t>(data.size()));
        bytes.push_back(static_cast<std::uint8_t>(data.size() >> 8));
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
};

// An invariant the decoder promised and broke: abort so that libFuzzer keeps the input.
#define KESTREL_FUZZ_CHECK(condition)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

} // namespace kestrel::fuzz
