// Named bad messages the server sends on purpose (`--fault NAME`), so that every fatal
// check of the client can be provoked in a test, and stale messages it must ignore.
//
// Each fault belongs to one moment of a connection and is sent once per client:
//
//   moment   what the fault's packets do
//   Welcome  replace the Welcome
//   Profile  replace the answer to the Profile (the client is then turned away)
//   Begin    follow the first TransitionBegin, before its chunks
//   Chunks   replace the chunks of the first handoff
//   Commit   replace the commit of the first handoff
//   Playing  follow half a second of play after the first commit
//
// The table pairs each name with the exact message the client must stop with (the text
// after "client: "); an empty message means the client must not stop at all.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/player.h"
#include "server/datagram.h"
#include "world/sector.h"

namespace kestrel {

enum class FaultMoment : std::uint8_t { Welcome, Profile, Begin, Chunks, Commit, Playing };

// What the connection knows at the fault's moment.
struct FaultContext {
    std::uint64_t session = 0;
    std::uint32_t epoch = 0; // the client's current epoch
    std::uint32_t player_id = 0;
    std::uint32_t tick = 0;  // server tick
    std::uint64_t token = 0; // the Welcome's 64-bit value
    // Begin, Chunks, Commit: the first handoff.
    std::uint64_t transition = 0;
    std::uint32_t new_epoch = 0;
    const Sector* target = nullptr;
    // Commit: the spawn; Playing: the player as it is.
    Player player;
    // Playing: the committed sector and the snapshot stream.
    const Sector* sector = nullptr;
    std::uint32_t snapshot_id = 0; // newer than every snapshot sent so far
    std::uint32_t snapshot_tick = 0;
    std::uint32_t input_ack = 0;
};

struct FaultResult {
    std::vector<Datagram> datagrams; // framed with the counter passed to build
    bool disconnect = false;         // then drop the connection
};

struct Fault {
    std::string_view name;
    FaultMoment moment;
    std::string_view client_message;
    // `sequence` is the connection's packet counter, advanced for every packet framed.
    FaultResult (*build)(const FaultContext& context, std::uint32_t& sequence);
};

std::span<const Fault> fault_table();
const Fault* find_fault(std::string_view name);

} // namespace kestrel
