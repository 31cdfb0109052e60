// The game rules, layered on top of the connection core.
//
// The core (core.h) admits clients, hands players between sectors, applies every input
// command with `move`, and replicates the world. Everything else that makes the world a
// game - enemies, pickups, projectiles, combat, objectives, crews and the expedition - lives
// behind the hooks below. They see the world as plain values (world_state.h), change it in
// place, and speak to clients only through the outbox; the core frames and delivers the
// messages, and every snapshot shows the world as the hooks left it.
//
// Order within one server tick: every player's input commands (game_input after each),
// then game_tick, then handoffs, snapshots and the meta-state records.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/codec.h"
#include "protocol/meta_state.h"
#include "server/commands.h"
#include "server/world_state.h"

namespace kestrel {

struct GameSettings {
    std::uint32_t enemies = 0; // per sector, from --enemies
    std::uint32_t items = 0;   // per sector, from --items
    std::uint32_t crowd = 0;   // per sector, from --crowd
    bool fallen_crowd = false; // from --fallen-crowd
};

// A message from the rules to clients. The channel follows from the type: CombatEvent and
// MapPatch go reliably on channel 0, the meta-state records unreliably on channel 1.
struct GameMessage {
    std::uint32_t player = 0; // recipient; 0 = every placed player in `sector`
    std::uint64_t sector = 0;
    Type type{};
    Writer payload;
};

using Outbox = std::vector<GameMessage>;

// Once, before the first client connects: populate the world.
void game_start(WorldState& world, const GameSettings& settings);

// A player has been committed into a sector (its first, or through a portal).
void game_enter(WorldState& world, PlayerState& player, Outbox& out);

// After `move` has applied one of the player's input commands (fire, use, reward choices).
void game_input(WorldState& world, PlayerState& player, const Input& input, Outbox& out);

// Once per tick, after every player's commands of the tick.
void game_tick(WorldState& world, Outbox& out);

// A ClientCommand the player sent (already parsed and range-checked).
void game_command(WorldState& world, PlayerState& player, const ClientCommand& command,
                  Outbox& out);

// Whether a portal may take the player now (an arena lockdown seals them).
bool game_portal_open(const WorldState& world, const PlayerState& player);

// The player is about to be removed (disconnected).
void game_leave(WorldState& world, const PlayerState& player, Outbox& out);

// The meta-state records for one player, sent twice a second. The core stamps the sequence
// numbers, so the hooks only fill in the content.
SectorStatus game_sector_status(const WorldState& world, const PlayerState& player);
AdventureState game_adventure(const WorldState& world, const PlayerState& player);
ExpeditionState game_expedition(const WorldState& world, const PlayerState& player);

// Changes one cell of a sector for everyone: raises the revision, replaces the sector in
// the world and queues the MapPatch to every player in it. Throws the validation message
// when the change would break the sector (nothing changes then).
void change_cell(WorldState& world, std::uint64_t sector, std::uint16_t cell, std::uint8_t tile,
                 Outbox& out);

} // namespace kestrel
