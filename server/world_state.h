// The authoritative world as plain values: the sectors, the players and every other
// entity. The connection layer (client_session.h) moves players between sectors and
// applies their input; the game rules (game.h) do everything else to these values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/credentials.h"
#include "protocol/entity.h"
#include "server/commands.h"
#include "server/game_state.h"
#include "world/sector.h"

namespace kestrel {

// Entity ids: players count up from 1, everything else from here, so the two never meet.
inline constexpr std::uint32_t first_entity_id = 0x10000;

struct PlayerState {
    std::uint32_t id = 0;
    std::uint32_t slot = 0;   // 0..7, picks the spawn cell
    std::uint64_t sector = 0; // committed sector, 0 before the first commit
    bool in_transit = false;  // a handoff is under way; the player is frozen and unseen
    Player body;              // authoritative, full 1/65536 precision
    Credentials profile;
    std::uint32_t visited = 0; // bit (sector id - 1) for every sector entered
    // The latest ClientCommand of every code (index = code 1..13), kept for the rules.
    std::array<std::optional<ClientCommand>, 14> commands{};
    PlayerGame game; // the rules' own numbers (game.h)

    bool placed() const { return sector != 0 && !in_transit; }
};

// Anything that is not a player: enemies, pickups, projectiles, objectives. The record is
// what snapshots carry; ids from first_entity_id.
struct Entity {
    std::uint64_t sector = 0;
    ReplicatedEntity record;
    EntityGame game; // the rules' own numbers (game.h)
};

struct WorldState {
    std::uint64_t seed = 0;
    std::uint32_t tick = 1;           // server tick, 30 per second
    std::vector<Sector> sectors;      // element i holds sector id i + 1
    std::vector<Grid> grids;          // collision grid of each sector, kept in step
    std::vector<PlayerState> players; // connected players with a profile
    std::vector<Entity> entities;
    std::uint32_t next_entity_id = first_entity_id;
    GameState game; // the rules' own numbers (game.h)
};

// A world of generated sectors (sector_graph.h), no players and no entities.
WorldState make_world(std::uint64_t seed);

const Sector* find_sector(const WorldState& world, std::uint64_t id);
const Grid* find_grid(const WorldState& world, std::uint64_t id);
PlayerState* find_player(WorldState& world, std::uint32_t id);
const PlayerState* find_player(const WorldState& world, std::uint32_t id);

// Replaces a sector (after a map change) and its collision grid. The caller raises the
// revision and tells the clients (map patch).
void replace_sector(WorldState& world, const Sector& sector);

// The coordinate a record carries (records hold 1/256 cell): rounded toward the centre of
// the cell it lies in, never toward the cell's edges. The client replays its unacknowledged
// commands from the carried position; rounded this way a body that is clear of the walls
// stays clear there, instead of landing inside a wall's reach and sticking where the
// server's body slides on.
std::int32_t record_coordinate(std::int32_t value);

// The snapshot record of a player: kind 1, the suit colour as its state, the position as
// record_coordinate carries it.
ReplicatedEntity player_record(const PlayerState& player);

// A fresh entity id.
std::uint32_t allocate_entity_id(WorldState& world);

} // namespace kestrel
