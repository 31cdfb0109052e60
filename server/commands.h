// Discrete requests a client sends with ClientCommand (channel 0, reliable).
//
// Payload: one code byte, then the code's arguments:
//
//   code  key                      arguments
//      1  party prompt confirmed   name (16-byte label), party code (12-byte label)
//      2  C, colour                colour index, 1 byte, 0..4
//      3  G, ping                  -
//      4  R, reload                -
//      5  F6, account link         link code, 16 raw bytes
//      6  contract choice          digit 1..3, 1 byte
//      7  F9, share destination    sector id, 8 bytes (two u32, low half first)
//      8  F2 in the crew panel     -
//      9  F3 in the crew panel     -
//     10  F4 in the crew panel     -
//     11  contract risk            1, 2 or 4, 1 byte
//     12  upgrade choice           digit 1..3, 1 byte
//     13  extraction vote          2 stay (Y), 1 leave (N), 1 byte
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/codec.h"

namespace kestrel {

enum class CommandCode : std::uint8_t {
    JoinParty = 1,
    Colour = 2,
    Ping = 3,
    Reload = 4,
    AccountLink = 5,
    Contract = 6,
    ShareDestination = 7,
    CrewCreate = 8,
    CrewJoin = 9,
    CrewLeave = 10,
    Risk = 11,
    Upgrade = 12,
    Vote = 13,
};

struct ClientCommand {
    CommandCode code{};
    std::string name;                    // code 1
    std::string party;                   // code 1
    std::uint8_t value = 0;              // codes 2, 6, 11, 12, 13
    std::array<std::uint8_t, 16> link{}; // code 5
    std::uint64_t sector = 0;            // code 7

    friend bool operator==(const ClientCommand&, const ClientCommand&) = default;
};

// Reads the whole payload. Throws "invalid client command" for an unknown code or an
// argument out of range, and the reader's "truncated packet" / "trailing bytes".
ClientCommand read_client_command(Reader& reader);

// The payload of a command, as a client sends it (for tests and tools).
Writer write_client_command(const ClientCommand& command);

} // namespace kestrel
