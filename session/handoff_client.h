// The client's side of admission and of the sector-to-sector handoff.
//
// The server admits the client with a Welcome, then moves it between sectors in three
// steps: TransitionBegin announces the target, MapChunks rebuild the target sector (each
// answered with a TransitionAck once the map is complete) and TransitionCommit switches
// the epoch and the played sector, or TransitionAbort moves the epoch on in place.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/codec.h"
#include "protocol/player.h"
#include "world/map_transfer.h"
#include "world/sector.h"

namespace kestrel {

enum class HandoffState : std::uint32_t {
    Connecting = 0, // no Welcome yet
    Transit = 1,    // waiting for a sector; snapshots are not applied
    Active = 2,     // playing the committed sector
    Aborted = 3,    // no sector to play
};

// Map chunks held while no handoff is pending; the server never sends more ahead.
inline constexpr std::size_t max_early_chunks = 5;

// A Player with every field 0: the spawn before the first commit, and the base of every
// spawn a commit builds (the fields a commit does not carry stay 0).
inline constexpr Player zero_player() {
    Player player;
    player.x = player.y = 0;
    player.health = player.ammo = player.weapon = 0;
    return player;
}

struct HandoffClient {
    std::uint64_t transition = 0; // pending handoff, 0 when none
    std::uint64_t target_sector = 0;
    std::uint32_t target_epoch = 0;
    MapAssembly assembly;
    std::optional<Sector> pending; // the target sector once every chunk has arrived
    std::vector<ChunkEnvelope> early_chunks;
    std::uint64_t session = 0;
    std::uint32_t epoch = 0;
    std::uint32_t player_id = 0;
    std::uint32_t server_tick = 0;
    Player spawn = zero_player();
    std::optional<Sector> committed;
    HandoffState state = HandoffState::Connecting;

    // Handles one packet whose header has been read. A returned Writer is a TransitionAck
    // payload, to be sent reliably on channel 0. On a throw nothing has changed.
    std::optional<Writer> handle(const Header& header, Reader& reader);

    // The TransitionAck payload while a pending sector is present.
    std::optional<Writer> acknowledge() const;
};

} // namespace kestrel
