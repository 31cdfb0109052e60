// CombatEvent messages: what happened to whom, for the client's counters, banners, radar and
// sounds.
//
// CombatEvent payload, 16 bytes:
//
//   offset size field
//        0    4 server tick (the client ignores it)
//        4    4 subject: the entity the event is about
//        8    2 x, 1/256 cell
//       10    2 y, 1/256 cell
//       12    1 kind, 1..30
//       13    1 padding, 0
//       14    2 value, kind-specific
//
// Kinds the rules send, and their value:
//
//   kind  to                     subject           value
//      1  the shooter            enemy hit         damage dealt
//      2  the victim             attacker          damage taken
//      3  the player             pickup            0x01NN health +NN, 0x02NN ammo +NN,
//                                                  0x0300 power-up
//      4  the player             the player        0 (back alive: respawned or revived)
//      5  players in the sector  enemy that shot   0
//      6  the killer             enemy killed      salvage earned
//      7  players in the sector  enemy in melee    0
//     11  players in the sector  rocket or mine    0 (an explosion; the sound's size is the
//                                                  subject's top bit)
//     12  crew in the sector     the pinger        0
//     13  players in the sector  the shooter       weapon (the shooter itself hears its own
//                                                  shot locally and skips it)
//     14  players in the sector  the fallen        0
//     16  the player             the player        upgrade bought, 1..4
//     17  players in the sector  the revived       0
//     18  players in the sector  0                 0 (lockdown: the portals are sealed)
//     19  the player             the player        salvage picked up
//     20  players in the sector  objective         40 (objective complete)
//     21  the player             the player        salvage banked
//     22  players in the sector  the finder        50 (secret found)
//     24  the crew               0                 vote: 1 opened, 2 stay, 3 leave
//     27  the crew               0                 contract: 1 started, 2 completed, 3 ended
//     29  players in the sector  the sentinel      attack kind, a volley is coming
#pragma once

#include <cstdint>

#include "server/game.h"

namespace kestrel {

namespace combat {
inline constexpr std::uint8_t hit = 1;
inline constexpr std::uint8_t damage = 2;
inline constexpr std::uint8_t pickup = 3;
inline constexpr std::uint8_t respawn = 4;
inline constexpr std::uint8_t enemy_shot = 5;
inline constexpr std::uint8_t reward = 6;
inline constexpr std::uint8_t enemy_melee = 7;
inline constexpr std::uint8_t explosion = 11;
inline constexpr std::uint8_t ping = 12;
inline constexpr std::uint8_t shot = 13;
inline constexpr std::uint8_t fallen = 14;
inline constexpr std::uint8_t upgrade = 16;
inline constexpr std::uint8_t revived = 17;
inline constexpr std::uint8_t lockdown = 18;
inline constexpr std::uint8_t salvage = 19;
inline constexpr std::uint8_t objective = 20;
inline constexpr std::uint8_t banked = 21;
inline constexpr std::uint8_t secret = 22;
inline constexpr std::uint8_t vote = 24;
inline constexpr std::uint8_t contract = 27;
inline constexpr std::uint8_t boss_attack = 29;
} // namespace combat

struct CombatEvent {
    std::uint32_t tick = 0;
    std::uint32_t subject = 0;
    std::uint16_t x = 0; // 1/256 cell
    std::uint16_t y = 0;
    std::uint8_t kind = 0;
    std::uint16_t value = 0;

    Writer write() const;
    // Reads the 16 bytes; "invalid combat kind" for a kind outside 1..30 or non-zero padding.
    static CombatEvent read(Reader& reader);

    friend bool operator==(const CombatEvent&, const CombatEvent&) = default;
};

// Queues an event for one player, or (player 0) for every placed player in the sector.
void send_event(Outbox& out, std::uint32_t player, std::uint64_t sector, const CombatEvent& event);

} // namespace kestrel
