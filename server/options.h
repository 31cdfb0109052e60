// The reference server's command line. Everything a server run does is fixed here before
// the host is created; nothing changes it afterwards.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrel {

// Test hooks that make the server misbehave on purpose (the named faults are in faults.h).
struct FaultOptions {
    std::uint32_t loss_every = 0;     // drop every Nth outgoing unreliable packet; 0 = never
    std::uint32_t delay_ms = 0;       // hold every outgoing packet this long
    bool duplicate_chunks = false;    // send every map chunk twice
    bool reverse_chunks = false;      // send map chunks last index first
    bool early_chunks = false;        // send a handoff's chunks a tick before its begin
    bool abort_first_handoff = false; // abort the first handoff at its ack, retry later
    std::string fault;                // one named bad message (fault_table()), or empty

    friend bool operator==(const FaultOptions&, const FaultOptions&) = default;
};

struct ServerOptions {
    std::uint16_t port = 7777;
    std::string bind = "127.0.0.1"; // loopback; 0.0.0.0 serves the LAN
    std::uint32_t seconds = 0;      // stop after this long; 0 = until interrupted
    std::uint64_t seed = 0x6B1F39A42;
    std::uint32_t enemies = 6;
    std::uint32_t items = 4;
    std::uint32_t crowd = 0;   // passive wanderers per sector
    bool fallen_crowd = false; // the crowd lies fallen instead (kind 5, health 0, death timer)
    bool fire_report = false;  // print the fire bits each client sent, at the end
    bool help = false;
    FaultOptions faults;

    friend bool operator==(const ServerOptions&, const ServerOptions&) = default;
};

// The arguments after the program name. Throws "unknown option NAME", "missing value for
// NAME", "invalid value for NAME: VALUE" or "unknown fault NAME".
ServerOptions parse_server_options(std::span<const std::string> arguments);

std::string_view server_usage();

} // namespace kestrel
