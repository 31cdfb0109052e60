// The message of the std::runtime_error an action throws, or "no error": tests compare the
// exact text.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrel::test {

inline std::string error_of(auto&& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

} // namespace kestrel::test
