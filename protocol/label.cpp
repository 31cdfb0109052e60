#include "protocol/label.h"

namespace kestrel {

std::string filter_label(std::string_view text, std::size_t max_length) {
    std::string label;
    for (char c : text) {
        if (label.size() >= max_length) break;
        // Plain ASCII ranges on purpose: <cctype> depends on the locale and is undefined
        // for the negative chars of UTF-8 input.
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') label.push_back(c);
    }
    return label;
}

} // namespace kestrel
