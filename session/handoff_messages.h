// Server-side encoders of the admission, handoff and snapshot payloads that the client
// reads in handoff_client.cpp and snapshot_assembly.cpp (the byte layouts are written down
// there). The reference server and the tests build their packets with these; each returns
// the payload only, framing is `packet`'s job. Map chunks come from `map_chunks`.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/codec.h"
#include "protocol/player.h"
#include "session/snapshot.h"

namespace kestrel {

// The rates and the ruleset this client speaks.
inline constexpr std::uint16_t tick_rate = 30;
inline constexpr std::uint16_t snapshot_rate = 15;
inline constexpr std::uint32_t ruleset = 7;

Writer welcome_payload(std::uint32_t player_id, std::uint32_t server_tick, std::uint64_t token);

// `window` is the server's handoff time limit in ticks, 250..30000.
Writer transition_begin_payload(std::uint64_t transition, std::uint64_t sector,
                                std::uint32_t new_epoch, std::uint32_t window);

// The player travels as a player entity record: height and vertical velocity 0, kind 1,
// flags 4 when tick_event is set, positions and velocities cut to 1/256 cell.
Writer transition_commit_payload(std::uint64_t transition, std::uint64_t sector,
                                 std::uint32_t new_epoch, std::uint32_t server_tick,
                                 const Player& player);

// `reason` 1..3.
Writer transition_abort_payload(std::uint64_t transition, std::uint32_t reason);

// The snapshot split into parts of at most 23 records (the most a packet holds), the
// entities in order. The epoch travels in the packet headers, not here. Throws
// "invalid snapshot interest set" unless the snapshot holds 1 to 368 entities.
std::vector<Writer> snapshot_part_payloads(const Snapshot& snapshot);

} // namespace kestrel
