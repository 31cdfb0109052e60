// Byte codec and packet header shared by every message.
//
// Packet header, 24 bytes, little-endian, no padding:
//
//   offset size field     value
//        0    2 magic     'Q' 'V' (0x51 0x56)
//        2    1 version   2
//        3    1 type      Type
//        4    2 length    packet size - 24
//        6    2 flags     0
//        8    8 session   handoff session (0 before Welcome)
//       16    4 sequence  sender's packet counter
//       20    4 epoch     handoff epoch
//       24    n payload   n <= 976, so a packet never exceeds 1000 bytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t header_size = 24;
inline constexpr std::size_t max_packet_size = 1000;
inline constexpr std::size_t max_payload_size = max_packet_size - header_size;

enum class Type : std::uint8_t {
    Hello = 1,
    Welcome = 2,
    InputCommands = 3,
    SnapshotPart = 4,
    TransitionBegin = 5,
    MapChunk = 6,
    TransitionAck = 7,
    TransitionCommit = 8,
    TransitionAbort = 9,
    MapPatch = 10,
    CombatEvent = 12,
    SectorStatus = 13,
    Profile = 14,
    AdventureState = 15,
    ClientCommand = 16,
    ProfileError = 17,
    ExpeditionState = 18,
};

// A bounds-checked little-endian view over a received packet. It does not own the bytes.
// A failed read throws "truncated packet" and leaves the position where the failing byte
// read stopped (a u16 with one byte left advances past that byte).
struct Reader {
    const std::uint8_t* data = nullptr;
    std::uint64_t size = 0;
    std::uint64_t position = 0;

    Reader() = default;
    Reader(const std::uint8_t* bytes, std::uint64_t count) : data(bytes), size(count) {}
    explicit Reader(std::span<const std::uint8_t> bytes) : data(bytes.data()), size(bytes.size()) {}

    // Inline, with the whole field checked at once when it fits: a full snapshot part is
    // over a hundred of these reads. Only a field that runs past the end goes byte by byte.
    std::uint8_t u8() {
        if (position >= size) truncated();
        return data[position++];
    }
    std::uint16_t u16() {
        if (size - position < 2 || position > size) return u16_at_end();
        const std::uint16_t value =
            static_cast<std::uint16_t>(data[position] | data[position + 1] << 8);
        position += 2;
        return value;
    }
    // Composed the one way every parser composes them: low half first.
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        const std::uint32_t high = u16();
        return low | (high << 16);
    }
    std::uint64_t u64();
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    // Throws "trailing bytes" unless every byte has been read.
    void end() const;
    std::uint64_t remaining() const { return position < size ? size - position : 0; }

  private:
    [[noreturn]] static void truncated();
    std::uint16_t u16_at_end();
};

// Builds a payload; the header is added by packet().
struct Writer {
    Bytes bytes;

    void u8(std::uint8_t value) { bytes.push_back(value); }
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void u64(std::uint64_t value);
    void append(std::span<const std::uint8_t> data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
};

struct Header {
    Type type{};
    std::uint16_t length = 0;
    std::uint64_t session = 0;
    std::uint32_t sequence = 0;
    std::uint32_t epoch = 0;
};

// Frames a payload. Throws "oversized packet" for payloads of 977 bytes or more.
Bytes packet(Type type, std::uint64_t session, std::uint32_t sequence, std::uint32_t epoch,
             const Writer& payload);

// Checks and decodes the header, leaving the reader at the first payload byte.
Header read_header(Reader& reader);

// Reads a fixed-width label of A-Z, 0-9 and '_' padded with zero bytes.
std::string fixed_text(Reader& reader, std::uint64_t width);

} // namespace kestrel
