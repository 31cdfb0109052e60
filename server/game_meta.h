// The three meta-state records of one player, built from the rules' state. Every value is
// kept inside the range the client's readers accept (a record outside them would end the
// client), whatever the game's state.
//
// SectorStatus: remaining = living enemies; revive = the revive under way (0..60);
// challenge = the sector's (0..5); flags bit 0 cleared, bit 1 this wave's cache opened,
// bit 2 portals sealed, bit 3 the cache ambush is over.
//
// AdventureState: salvage carried and banked; the two run counters carry kills and deaths;
// carrier of this sector's artifact; mode 0 exploration, 1 skirmish (1 to 3 enemies on the
// hunt), 3 intense (4 or more, or the sentinel), 2 reinforcements with the timer counting
// down to the next wave; the sector's objective with its progress, position and flags
// (bit 0 complete, bit 1 exit open); the exit pad; the crew's ping in this sector; clip,
// reserve, reload and banking; colour and colours unlocked; a short message; every other
// placed player as a teammate (class from the weapon held).
//
// ExpeditionState: the crew's run (contract, risks, vote, bonus rounds, summary counters),
// the player's lifetime totals, upgrades and shield, the sentinel of the player's sector,
// the crew list, and the navigation map of all sixteen sectors (bit 0 discovered by the
// crew, bit 1 cleared, bit 3 the sentinel's sector, bit 4 the crew's waypoint; danger from
// the challenge and bonus rounds; crew members there).
#pragma once

#include "protocol/meta_state.h"
#include "server/world_state.h"

namespace kestrel {

SectorStatus sector_status(const WorldState& world, const PlayerState& player);
AdventureState adventure_state(const WorldState& world, const PlayerState& player);
ExpeditionState expedition_state(const WorldState& world, const PlayerState& player);

} // namespace kestrel
