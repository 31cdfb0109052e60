#include "protocol/credentials.h"

#include "protocol/label.h"

#include <stdexcept>

namespace kestrel {

void write_label(Writer& out, std::string_view text, std::size_t width) {
    const std::string label = filter_label(text, width);
    for (char c : label) out.u8(static_cast<std::uint8_t>(c));
    for (std::size_t kept = label.size(); kept < width; ++kept) out.u8(0);
}

// Credentials record, 45 bytes:
//
//   offset size field
//        0   16 token   raw bytes
//       16   16 name    label, zero padded, must not be empty
//       32   12 party   label, zero padded, may be empty
//       44    1 color   0..4
//
// Trailing bytes are reported before the value checks.
Credentials Credentials::read(Reader& reader) {
    Credentials record;
    for (std::uint8_t& byte : record.token) byte = reader.u8();
    record.name = fixed_text(reader, 16);
    record.party = fixed_text(reader, 12);
    record.color = reader.u8();
    reader.end();
    if (record.name.empty() || record.color >= 5) throw std::runtime_error("invalid profile");
    return record;
}

Writer Credentials::write() const {
    Writer out;
    for (std::uint8_t byte : token) out.u8(byte);
    write_label(out, name, 16);
    write_label(out, party, 12);
    out.u8(color);
    return out;
}

std::string Credentials::key() const {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(token.size() * 2);
    for (std::uint8_t byte : token) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

} // namespace kestrel
