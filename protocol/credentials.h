// The player's saved identity. The profile file on disk and the Profile message payload are
// the same 45 bytes, so one encoder and one decoder serve both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/codec.h"

namespace kestrel {

inline constexpr std::size_t credentials_size = 45;

// Appends text as a fixed-width label field: a-z is raised to A-Z, anything that is then not
// A-Z, 0-9 or '_' is dropped, at most width characters are kept and zero bytes fill the rest.
// Every label a record writes goes through here, so fixed_text can always read it back.
void write_label(Writer& out, std::string_view text, std::size_t width);

struct Credentials {
    std::array<std::uint8_t, 16> token{}; // all zero: not generated yet
    std::string name = "RANGER";          // 1..16 label characters
    std::string party;                    // 0..12 label characters
    std::uint8_t color = 0;               // suit colour 0..4

    static Credentials read(Reader& reader);
    // Checks nothing: an empty name is written as zeros and refused by read.
    Writer write() const;
    // The token as 32 lower-case hex digits, high nibble first.
    std::string key() const;

    friend bool operator==(const Credentials&, const Credentials&) = default;
};

} // namespace kestrel
