// Enemies, their projectiles, and the sentinel.
//
// An enemy stands idle at its spawn until a living player comes within sight range (or
// shoots it); then it chases the nearest living player in its sector along the grid with
// navigation_yaw, moving with `move` like a player, so it slides along walls and never
// enters one. Ranged kinds stop at their keeping distance while they see the target and
// fire projectiles; melee kinds close in and strike. Projectiles (kind 4, height 128) fly
// straight and end at the first wall or player they meet.
#pragma once

#include <cstdint>

#include "server/game.h"
#include "server/world_state.h"

namespace kestrel {

struct EnemyKind {
    std::uint16_t type = 0;
    std::uint16_t health = 0;
    std::uint8_t pace = 1; // moves on every pace-th tick
    bool ranged = false;
    double keep = 0;  // cells: a ranged kind stops closing in here while it sees the target
    double reach = 0; // cells: attack range
    std::uint16_t damage = 0;
    std::uint16_t interval = 0; // ticks between attacks
    std::uint16_t salvage = 0;  // earned by the killer
    double radius = 0.4;        // cells: what a shot must pass within
};

// Types as the renderer draws them: 16 drone, 17 stalker, 18 gunner, 19 brute, 14 sentinel.
inline constexpr std::uint16_t drone = 16;
inline constexpr std::uint16_t stalker = 17;
inline constexpr std::uint16_t gunner = 18;
inline constexpr std::uint16_t brute = 19;
inline constexpr std::uint16_t sentinel = 14;

const EnemyKind& enemy_kind(std::uint16_t type);

inline constexpr double sight_range = 8.0;              // cells: an idle enemy notices a player
inline constexpr double chase_range = 14.0;             // cells: beyond this a chase is given up
inline constexpr std::int32_t projectile_speed = 13107; // 0.2 cells per tick
inline constexpr std::uint16_t projectile_life = 90;    // ticks
inline constexpr std::uint16_t projectile_height = 128; // half a cell, as the client requires
inline constexpr double projectile_radius = 0.32;       // cells: a player is hit within
inline constexpr std::uint16_t volley_warning = 24;     // ticks the sentinel announces a volley

// One tick of every living enemy in an occupied sector.
void enemies_tick(WorldState& world, std::uint64_t sector, Outbox& out);

// One tick of every projectile in the world.
void projectiles_tick(WorldState& world, Outbox& out);

// Fires one projectile from the shooter along the heading.
void launch_projectile(WorldState& world, const Entity& shooter, std::uint16_t yaw,
                       std::uint16_t damage, std::int32_t speed);

} // namespace kestrel
