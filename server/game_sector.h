// What a sector does by itself and what players touch or use in it.
//
// Waves: every enemy of a sector belongs to its wave. When the last one dies the sector is
// cleared: a reward cache (kind 13) appears in its middle, every player there earns an
// upgrade credit, and the next wave arrives 30 s later. An arena lockdown (challenge 1)
// seals the portals 5 s after players arrive until the wave is cleared; a cache ambush
// (challenge 3) sends the next wave the moment the cache is opened.
//
// Pickups (kind 3) are taken by walking over them and come back 20 s later:
//   type 4 health  +25 while below 100          CombatEvent 3 value 0x0119
//   type 1 ammo    +20 reserve (+10 with the ammo risk) while below 300
//                                               value 0x0214 (0x020A)
//   type 2 power   speed boost: boost 3 for 300 ticks   value 0x0300
// The reward cache gives what the cache choice bits (12..14 of the buttons) ask for, once:
//   1 health +50 (0x0132), 2 ammo +60 (0x023C), 3 armour: boost 4 with 100 points for 900
//   ticks (0x0300), 4 rapid fire: boost 1 for 450 ticks (0x0300).
//
// Objectives, one per sector: restore the generator (kind 11) by holding use beside it for
// 90 ticks, defend the relay (kind 14) by staying within 2.5 cells for 300 ticks, or carry
// the artifact (kind 10, picked up with use) through any portal. Completing one gives every
// player present 40 salvage (CombatEvent 20). Salvage is banked by standing on the exit pad
// (kind 12) for 90 ticks once the exit is open (sector cleared or objective complete).
//
// The secret door: use beside a tile-2 cell opens it for everyone (a MapPatch to tile 0)
// and gives every player in the sector 50 salvage (CombatEvent 22).
//
// Hazard floor (the cells hazard_cell names, drawn yellow) costs 5 health a second.
#pragma once

#include <cstdint>

#include "server/game.h"
#include "server/world_state.h"

namespace kestrel {

inline constexpr std::uint16_t use_bit = 0x800;
inline constexpr std::uint16_t bank_ticks = 90;
inline constexpr std::uint16_t objective_salvage = 40;
inline constexpr std::uint16_t secret_salvage = 50;
inline constexpr std::uint32_t lockdown_delay = 150;

// Waves, lockdown, the relay, pickups coming back; run for every sector every tick.
void sector_tick(WorldState& world, std::uint64_t sector, Outbox& out);

// Pickups, the exit pad and hazard floor under one living player.
void touch_tick(WorldState& world, PlayerState& player, Outbox& out);

// The use button and the cache choice of one applied command.
void use_and_choose(WorldState& world, PlayerState& player, std::uint16_t buttons, Outbox& out);

// The player has arrived in a new sector: an artifact carried out of its sector is
// delivered.
void deliver_artifact(WorldState& world, PlayerState& player, Outbox& out);

// A carried artifact goes back to its place (the carrier left the game).
void return_artifact(WorldState& world, PlayerState& player);

// Salvage carried goes to the bank.
void bank_salvage(WorldState& world, PlayerState& player, Outbox& out);

bool exit_open(const SectorGame& sector);

} // namespace kestrel
