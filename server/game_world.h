// The rules' view of the world: looking things up, drawing random numbers, and laying out
// every sector at start (enemy and pickup spawners, the objective, the exit pad, the cache
// spot) and its waves of enemies later.
//
// Every choice is drawn from GameState::random, which starts from the world seed, so the
// same seed and the same inputs give the same game.
#pragma once

#include <cstdint>

#include "server/game.h"
#include "server/world_state.h"

namespace kestrel {

// Ticks of the rules (30 per second).
inline constexpr std::uint32_t reinforce_delay = 900; // a cleared sector's next wave
inline constexpr std::uint32_t pickup_return = 600;   // a taken pickup comes back
inline constexpr std::uint16_t corpse_ticks = 90;     // a dead enemy stays visible

// Pickup types (the renderer draws type 4 as a green cross, the others as orange bars).
namespace pickup_type {
inline constexpr std::uint16_t ammo = 1;
inline constexpr std::uint16_t power = 2;
inline constexpr std::uint16_t health = 4;
} // namespace pickup_type

std::uint64_t draw(WorldState& world);

Entity* find_entity(WorldState& world, std::uint32_t id);
const Entity* find_entity(const WorldState& world, std::uint32_t id);
// Adds an entity with a fresh id at (x, y); the reference is valid until the next change
// of world.entities.
Entity& add_entity(WorldState& world, std::uint64_t sector, std::uint8_t kind, std::uint16_t type,
                   std::int32_t x, std::int32_t y);
void remove_entity(WorldState& world, std::uint32_t id);

SectorGame& sector_game(WorldState& world, std::uint64_t sector);
const SectorGame& sector_game(const WorldState& world, std::uint64_t sector);

// The challenge of a sector, by the rule the client's portal hints apply to the portal's
// target: the SplitMix64 finaliser h of the id; 5 when h is a multiple of 20, else
// 1 + (h / 20) % 4 when a multiple of 5, else 0. Sector 1 is always standard.
std::uint8_t sector_challenge(std::uint64_t id);

// The sector's objective kind, 1..3, from its seed.
std::uint8_t sector_objective(const Sector& sector);

// A placed player stands in the sector.
bool occupied(const WorldState& world, std::uint64_t sector);
std::uint16_t living_enemies(const WorldState& world, std::uint64_t sector);

// game_start: spawners, objectives and the first wave in every sector.
void populate(WorldState& world, const GameSettings& settings);

// Brings every enemy spawner of the sector back to life (a new wave).
void spawn_wave(WorldState& world, std::uint64_t sector);

// A fresh enemy of the type at the point.
Entity& spawn_enemy(WorldState& world, std::uint64_t sector, std::uint16_t type, std::int32_t x,
                    std::int32_t y, bool elite);

// Players of the same crew code.
Crew& crew_of(WorldState& world, const std::string& code);
const Crew* find_crew(const WorldState& world, const std::string& code);

} // namespace kestrel
