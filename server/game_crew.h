// Crews and the expedition meta-game.
//
// A crew is every player with the same crew code: the player's party code, or a generated
// one ("C" and seven letters or digits) when it has none. The client adopts the code it is
// told as its party code, so a generated code sticks across reconnects. The leader is the
// crew's member who joined first.
//
// ClientCommand codes (read_client_command has checked the ranges):
//    1  name and party: the name, and the party code as the crew code
//    2  suit colour, only up to the colours unlocked
//    3  ping at the player's position, shown to the crew in that sector for 5 s; its kind
//       names an enemy (within 6 cells), a supply (pickup within 4) or a portal (within 4)
//    4  reload
//    5  account link: accepted, nothing to do on this server
//    6  contract 1..3, chosen by the leader when no contract is active and everyone is ready
//    7  share destination: the sector becomes the crew's waypoint (again: cleared)
//    8  create a new crew (generated code), remembering the old one
//    9  toggle ready
//   10  rejoin the crew before the last one created
//   11  toggle a risk (1 ammo: half ammo from pickups, 2 barrels: enemies hit a quarter
//       harder, 4 fast shots: enemy projectiles half again as fast) while no contract runs;
//       each pays 25 salvage when a contract completes
//   12  buy upgrade offer 1..3 with an upgrade credit (one per cleared wave)
//   13  extraction vote: 2 stay, 1 leave
//
// Contracts: 1 deliver three artifacts, 2 defeat the sentinel in the marked sector (it
// appears when a crew member arrives there), 3 bank 250 salvage. When the goal is reached
// an extraction vote opens for 240 ticks: leaving (or letting the time run out) ends the
// contract completed, banking everyone's carried salvage plus the risk bonus and resetting
// the upgrades; if every member present votes to stay, a bonus wave comes into each of
// their sectors and clearing one pays 25 salvage, up to three bonus rounds. A contract still
// running after 15 minutes ends as extracted incomplete.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "server/game.h"
#include "server/world_state.h"

namespace kestrel {

inline constexpr std::uint16_t vote_ticks = 240;
inline constexpr std::uint32_t contract_limit = 15 * 60 * 30;
inline constexpr std::uint16_t ping_ticks = 150;

// Gives a player without one its crew code.
void assign_crew(WorldState& world, PlayerState& player);

// The crew's members in join order (placed or not).
std::vector<const PlayerState*> crew_members(const WorldState& world, const std::string& code);
const PlayerState* crew_leader(const WorldState& world, const std::string& code);

void crew_command(WorldState& world, PlayerState& player, const ClientCommand& command,
                  Outbox& out);

// Votes, contract progress, the sentinel's arrival, pings.
void crews_tick(WorldState& world, Outbox& out);

// A wave was cleared in the sector: crews on a bonus round there are paid.
void wave_cleared(WorldState& world, std::uint64_t sector, Outbox& out);

// The upgrades on offer: the first three not owned, in order, 0 after them.
std::array<std::uint8_t, 3> upgrade_offers(const PlayerState& player);

} // namespace kestrel
