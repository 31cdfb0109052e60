#include "protocol/codec.h"

#include <stdexcept>

namespace kestrel {

void Reader::truncated() {
    throw std::runtime_error("truncated packet");
}

std::uint16_t Reader::u16_at_end() {
    const std::uint16_t low = u8();
    const std::uint16_t high = u8();
    return static_cast<std::uint16_t>(low | (high << 8));
}

std::uint64_t Reader::u64() {
    const std::uint64_t low = u32();
    const std::uint64_t high = u32();
    return low | (high << 32);
}

void Reader::end() const {
    if (position != size) throw std::runtime_error("trailing bytes");
}

void Writer::u16(std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Writer::u32(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void Writer::u64(std::uint64_t value) {
    u32(static_cast<std::uint32_t>(value));
    u32(static_cast<std::uint32_t>(value >> 32));
}

Bytes packet(Type type, std::uint64_t session, std::uint32_t sequence, std::uint32_t epoch,
             const Writer& payload) {
    if (payload.bytes.size() > max_payload_size) throw std::runtime_error("oversized packet");
    Writer out;
    out.bytes.reserve(header_size + payload.bytes.size());
    out.u8(0x51);
    out.u8(0x56);
    out.u8(2);
    out.u8(static_cast<std::uint8_t>(type));
    out.u16(static_cast<std::uint16_t>(payload.bytes.size()));
    out.u16(0);
    out.u64(session);
    out.u32(sequence);
    out.u32(epoch);
    out.append(payload.bytes);
    return std::move(out.bytes);
}

Header read_header(Reader& reader) {
    if (reader.size < header_size || reader.size > max_packet_size)
        throw std::runtime_error("invalid header");
    if (reader.u16() != 0x5651) throw std::runtime_error("invalid header");
    if (reader.u8() != 2) throw std::runtime_error("invalid header");
    Header header;
    header.type = static_cast<Type>(reader.u8());
    header.length = reader.u16();
    const std::uint16_t flags = reader.u16();
    if (flags != 0 || header.length != reader.size - header_size)
        throw std::runtime_error("invalid length/flags");
    header.session = reader.u64();
    header.sequence = reader.u32();
    header.epoch = reader.u32();
    return header;
}

std::string fixed_text(Reader& reader, std::uint64_t width) {
    std::string text;
    bool padding = false;
    for (std::uint64_t i = 0; i < width; ++i) {
        const std::uint8_t byte = reader.u8();
        if (byte == 0) {
            padding = true;
            continue;
        }
        const bool label_char =
            (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '_';
        if (padding || !label_char) throw std::runtime_error("invalid label");
        text.push_back(static_cast<char>(byte));
    }
    return text;
}

} // namespace kestrel
