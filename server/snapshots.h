// What one player is shown of the world, and how its snapshot is stamped.
//
// The client reconciles by dropping every queued command whose sequence is at most the
// snapshot's input_ack or whose tick is not newer than the snapshot's tick, and replaying
// the rest on top of the snapshot's record. So a snapshot must never carry a tick at or past
// the tick stamp of a command the server has not applied yet, or the client would drop that
// command as applied and its prediction would jump. The client stamps its commands with
// strictly increasing ticks, so every command after the last applied one has a later stamp
// than it: stamping the snapshot at most at the last applied command's tick covers them all,
// including those still on their way. Before any command of an epoch has been applied the
// epoch's own start tick (the commit's server tick, below every stamp the client makes in
// the epoch) stands in for it.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/entity.h"
#include "server/input_queue.h"
#include "server/world_state.h"
#include "session/snapshot.h"

namespace kestrel {

// The most entities one snapshot can carry (sixteen parts of 23).
inline constexpr std::size_t max_interest = 368;

// min(server tick, last applied command's tick or else the epoch start tick, earliest
// waiting command's tick - 1), in wrap-around order.
std::uint32_t snapshot_tick(std::uint32_t server_tick, std::uint32_t epoch_tick,
                            const InputQueue& inputs);

// The viewer's own record first, then the other players in its sector, then the sector's
// other entities, cut at max_interest.
std::vector<ReplicatedEntity> interest_set(const WorldState& world, const PlayerState& viewer);

// The viewer's snapshot; the caller chooses id, tick and epoch.
Snapshot build_snapshot(const WorldState& world, const PlayerState& viewer, std::uint32_t id,
                        std::uint32_t tick, std::uint32_t input_ack, std::uint32_t epoch);

} // namespace kestrel
