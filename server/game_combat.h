// Player weapons, damage, death, respawn and revives.
//
// A shot needs the fire (0x10) or alternate fire (0x20) bit, a living player, no reload
// under way, the body's cooldown at 0 (move counts it down once per applied command, as the
// client's prediction does) and enough rounds in the clip. Each weapon costs and waits as
// the client's shot feedback expects; alternate fire costs and waits twice as much (the
// landmine has none), and the rapid-fire boost halves the wait. An empty clip starts a
// reload from the reserve instead.
//
//   weapon      cost  wait   effect
//   1 pistol       1   6 t   one ray, 20 cells, 20 damage (alt 45); ricochet upgrade x1.5
//   2 shotgun      2  24 t   6 pellets over 0.24 rad (alt 10 over 0.4), 8 cells, 10 each;
//                            knockback upgrade pushes the enemy back a quarter cell
//   3 launcher     5  30 t   a ray to the first enemy or wall, 70 damage to every enemy
//                            within 1.5 cells of the impact (alt 2.2; cluster upgrade +1)
//   4 landmine    30  45 t   a mine at the feet; armed after 20 ticks, it bursts when an
//                            enemy comes within 1 cell (gravity upgrade 2), 120 damage
//                            within 1.6 cells
//
// A shot is heard: idle enemies within 10 cells start hunting the shooter, walls or not.
//
// A player at health 0 stands still (move does that), drops what it carries, loses half its
// carried salvage, and comes back after 3 s at the sector spawn with full health and clip
// (CombatEvent 4), unless a teammate holding use beside it revives it first: 60 ticks of
// holding bring it back where it fell with half health and a 90-tick shield.
#pragma once

#include <cstdint>

#include "server/game.h"
#include "server/world_state.h"

namespace kestrel {

struct WeaponFigures {
    std::uint16_t cost = 1;
    std::uint16_t wait = 6; // ticks
};
const WeaponFigures& weapon_figures(std::uint16_t weapon);

inline constexpr std::uint16_t clip_size = 100;
inline constexpr std::uint16_t reserve_max = 300;
inline constexpr std::uint16_t reload_ticks = 45;
inline constexpr std::uint32_t respawn_delay = 90;
inline constexpr std::uint16_t revive_ticks = 60;
inline constexpr std::uint16_t revive_health = 50;
inline constexpr std::uint16_t revive_shield = 90;
inline constexpr std::uint16_t team_shot_hits = 25; // crew hits that charge a double shot
inline constexpr double hearing_range = 10.0;       // cells: idle enemies hear a shot

// Upgrade bits (ExpeditionState::owned_upgrades).
namespace upgrade {
inline constexpr std::uint8_t ricochet = 1;
inline constexpr std::uint8_t knockback = 2;
inline constexpr std::uint8_t cluster = 4;
inline constexpr std::uint8_t gravity = 8;
} // namespace upgrade

// One applied command's trigger.
void fire(WorldState& world, PlayerState& player, std::uint16_t buttons, Outbox& out);

// Starts a reload when the clip is not full and the reserve has rounds.
void start_reload(PlayerState& player);

// Damage from an enemy, a projectile or the floor (source 0). Armour (boost 4) takes two
// thirds of it while it lasts; a revive shield takes all of it.
void damage_player(WorldState& world, std::uint32_t player, std::uint16_t amount,
                   std::uint32_t source, Outbox& out);

// Damage dealt by a player (or by nobody, 0).
void damage_enemy(WorldState& world, std::uint32_t enemy, std::uint16_t amount, std::uint32_t by,
                  Outbox& out);

// Reloads, shields, respawns and revives; corpses and mines.
void players_tick(WorldState& world, Outbox& out);
void corpses_tick(WorldState& world);
void mines_tick(WorldState& world, Outbox& out);

// The use button beside a fallen player of the sector: one tick of reviving.
bool revive_hold(WorldState& world, const PlayerState& helper);

// Tier of the colours a player has unlocked: one per 100 salvage banked, at most 4.
std::uint8_t colors_unlocked(const PlayerState& player);

} // namespace kestrel
