// One connected client as the server sees it: where it is in admission and in the handoff
// protocol, its session and epoch, its queued input, and the packets framed for it.
//
// Connection phases:
//
//   AwaitHello    connected; the first packet must be a Hello
//   AwaitProfile  Welcome sent; the next must be a Profile
//   Rejected      ProfileError sent; everything is ignored until the client leaves
//   Joining       profile accepted; the first handoff starts on the next tick (again after
//                 an aborted first handoff)
//   Transit       a handoff is under way (TransitionBegin sent, commit not yet)
//   Playing       committed into a sector; input is applied and snapshots flow
//
// Every packet to the client carries this session and the current epoch in its header,
// except the commit and the abort, which carry the epoch they start.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/codec.h"
#include "protocol/player.h"
#include "server/datagram.h"
#include "server/input_queue.h"

namespace kestrel {

enum class Phase : std::uint8_t { AwaitHello, AwaitProfile, Rejected, Joining, Transit, Playing };

// The server's side of one handoff.
struct Handoff {
    std::uint64_t transition = 0;
    std::uint64_t target = 0; // sector id
    std::uint32_t new_epoch = 0;
    std::uint32_t revision = 0; // of the target sector as its chunks carry it
    std::uint32_t crc = 0;      // of the target sector's blob
    std::uint32_t begun_tick = 0;
    bool announced = false; // TransitionBegin sent (early chunks go out a tick before it)
    bool first = false;     // the handoff that brings the client into the world
    Player spawn;           // where the player arrives
};

// Why a handoff is aborted (the TransitionAbort reason).
enum class AbortReason : std::uint32_t {
    Unavailable = 1, // the target cannot take the player
    Timeout = 2,     // no matching acknowledgement in time
    Mismatch = 3,    // the acknowledged map is not the one sent
};

struct ClientSession {
    PeerId peer = 0;
    Phase phase = Phase::AwaitHello;
    std::uint64_t session = 0;
    std::uint32_t epoch = 0;
    std::uint32_t sequence = 0; // packet counter, advanced before every packet
    std::uint32_t player_id = 0;
    std::uint32_t connected_tick = 0;
    std::optional<Handoff> handoff;
    std::uint32_t handoffs_begun = 0;
    std::uint32_t commits = 0;
    std::uint32_t aborts = 0;
    std::uint32_t committed_tick = 0; // server tick of the last commit
    std::uint32_t retry_tick = 0;     // no handoff starts before this tick
    std::uint32_t epoch_tick = 0;     // stands in for the input tick before any input applies
    InputQueue inputs;
    std::uint32_t snapshot_id = 0; // of the last snapshot sent
    // Receipts of map patches the client has not yet acknowledged. A snapshot of the new
    // revision must not reach the client before the patch does, and ENet orders nothing
    // across channels, so no snapshot goes out while any is pending.
    std::vector<std::uint32_t> unconfirmed_patches;
    std::uint32_t receipts = 0; // the last receipt number given out
    bool fault_done = false;
    bool disconnect = false;   // the host loop drops the connection after sending `out`
    std::vector<Datagram> out; // framed, not yet handed to the host

    // Frames with this session and the current epoch (or the given one) and queues it.
    void send(Type type, const Writer& payload, std::uint8_t channel, bool reliable);
    void send_in(std::uint32_t epoch_stamp, Type type, const Writer& payload, std::uint8_t channel,
                 bool reliable);
};

// The epoch after `epoch`, never 0.
std::uint32_t next_epoch(std::uint32_t epoch);

// Hello payload, 16 bytes: the 32-bit values 1, 7, 1, 0. True when the packet is exactly
// that, on channel 0, with session and epoch 0 in its header.
bool valid_hello(const Header& header, Reader& reader, std::uint8_t channel);

// TransitionAck payload, 24 bytes:
//
//   offset size field
//        0    8 transition id
//        8    8 sector id
//       16    4 revision of the received sector
//       20    4 CRC-32 of the received blob
struct TransitionAck {
    std::uint64_t transition = 0;
    std::uint64_t sector = 0;
    std::uint32_t revision = 0;
    std::uint32_t crc = 0;
};
TransitionAck read_transition_ack(Reader& reader);

// InputCommands payload, 4 + 12 n bytes:
//
//   offset size field
//        0    4 count n, 1..3
//        4   12 each command, oldest first:
//               sequence u32, tick u32, buttons u16, yaw u16
//
// Throws "invalid input commands" for a count outside 1..3, and the reader's messages.
std::vector<Input> read_input_commands(Reader& reader);

// The payload as the client builds it (for tests).
Writer write_input_commands(const std::vector<Input>& commands);

} // namespace kestrel
