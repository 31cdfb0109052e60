// The crowd: passive figures that wander the open floor of every sector, so a server can
// fill a snapshot (the viewer and 367 others, sixteen parts of 23) and the client's
// interpolation, drawing and memory can be watched under that load.
//
// A wanderer is a kind-1 figure (drawn like a player, in one of the five suit colours) that
// nothing in the rules targets, hurts or picks up. It strolls with `move` on the walking
// grid, every other tick, so it slides along walls and never enters one, and it turns to a
// fresh random heading every few seconds or as soon as a wall holds it back. Like enemies,
// wanderers only move while a player is in their sector.
//
// A fallen crowd (--fallen-crowd) lies where it was placed instead: kind-5 fallen crew
// members with health 0 whose death timer runs down from 90 ticks and starts over at 1, so
// the client always draws each with its body and its smoke (about 400 vertices): a full
// fallen crowd is among the heaviest frames a client can be sent.
#pragma once

#include <cstdint>

#include "server/world_state.h"

namespace kestrel {

inline constexpr std::uint16_t wanderer_type = 0;     // kind 1, sub-type 0
inline constexpr std::uint16_t wanderer_health = 100; // never changes: nothing hits them
inline constexpr std::uint8_t wanderer_pace = 2;      // steps on every other tick
inline constexpr std::uint8_t fallen_kind = 5;        // a fallen crew member
inline constexpr std::uint16_t fallen_timer = 90;     // death timer, in ticks, when it starts over

// game_start, after the rest of the world is laid out: `count` wanderers in every sector,
// each at the centre of a random cell walkable from the spawn (not a portal's or an
// arrival cell); fallen ones when `fallen`, their timers spread over the 90 ticks.
void crowd_start(WorldState& world, std::uint32_t count, bool fallen = false);

// One tick of every wanderer in an occupied sector, and of every fallen one's timer.
void crowd_tick(WorldState& world);

// A wanderer of the crowd (not a player and not any other kind-1 entity the rules make).
bool is_wanderer(const Entity& entity);

} // namespace kestrel
