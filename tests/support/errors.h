// error_of: the message of the std::runtime_error an action throws, or "no error". with():
// overwrites little-endian fields of a valid layout, to break one rule (or several).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::test {

inline std::string error_of(auto&& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

struct Field {
    std::size_t offset;
    int width;
    std::uint64_t value;
};

inline std::vector<std::uint8_t> with(std::vector<std::uint8_t> bytes,
                                      const std::vector<Field>& fields) {
    for (const Field& f : fields)
        for (int i = 0; i < f.width; ++i)
            bytes.at(f.offset + i) = static_cast<std::uint8_t>(f.value >> 8 * i);
    return bytes;
}

} // namespace kestrel::test
