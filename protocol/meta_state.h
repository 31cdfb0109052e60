// The slowly changing game state the server keeps every client informed about: the status of
// the current sector, the adventure run with its teammates, and the expedition and crew
// meta-game. Each record is sent whole and every one begins with its 32-bit sequence number;
// which record is newest is the message handlers' decision, not the decoder's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/codec.h"

namespace kestrel {

inline constexpr std::size_t sector_status_size = 10;
inline constexpr std::size_t max_teammates = 8;
inline constexpr std::size_t max_crew = 8;
inline constexpr std::size_t max_navigation = 32;

struct SectorStatus {
    std::uint32_t sequence = 0;
    std::uint16_t remaining = 0; // enemies left
    std::uint16_t revive = 0;    // revive progress in ticks, 0..60
    std::uint8_t challenge = 0;  // 0..5
    std::uint8_t flags = 0;      // 0..15: cleared, cache used, portals sealed, warning over

    static SectorStatus read(Reader& reader);
    Writer write() const;

    friend bool operator==(const SectorStatus&, const SectorStatus&) = default;
};

struct Teammate {
    std::uint32_t id = 0;     // never 0
    std::uint64_t sector = 0; // sector the teammate is in
    std::uint16_t x = 0;      // 1/256 cell, 0..8191
    std::uint16_t y = 0;
    std::uint16_t health = 0;  // 0..100
    std::uint8_t color = 0;    // 0..4, carried but not interpreted by the client
    std::uint8_t class_id = 0; // 0..4: 1 scout, 2 pathfinder, 3 vanguard, 4 sentinel, else ranger
    std::string name;

    friend bool operator==(const Teammate&, const Teammate&) = default;
};

// Members in wire order.
struct AdventureState {
    std::uint32_t sequence = 0; // 0: no adventure running
    std::uint32_t salvage_carried = 0;
    std::uint32_t salvage_banked = 0;
    std::uint32_t run_counter_a = 0; // carried, not interpreted
    std::uint32_t run_counter_b = 0; // carried, not interpreted
    std::uint32_t carrier = 0;       // player carrying the artifact, 0 = none
    std::uint16_t timer = 0;         // encounter timer in ticks
    std::uint16_t progress = 0;      // at most goal
    std::uint16_t goal = 0;
    std::uint16_t objective_x = 0; // 1/256 cell, 0..8191 like the other five coordinates
    std::uint16_t objective_y = 0;
    std::uint16_t exit_x = 0;
    std::uint16_t exit_y = 0;
    std::uint16_t ping_x = 0;
    std::uint16_t ping_y = 0;
    std::uint16_t ping_active = 0;
    std::uint16_t clip = 0;
    std::uint16_t reserve = 0;
    std::uint16_t reload = 0;
    std::uint16_t banking = 0;        // 90 = complete
    std::uint8_t mode = 0;            // 0..3
    std::uint8_t mode_detail = 0;     // carried, not interpreted
    std::uint8_t objective = 0;       // 0..3
    std::uint8_t objective_flags = 0; // 0..7: complete, exit open
    std::uint8_t color_index = 0;     // 0..4
    std::uint8_t colors_unlocked = 0; // 0..4
    std::uint8_t ping_kind = 0;       // 0..3
    std::string message;
    std::vector<Teammate> teammates; // at most 8

    static AdventureState read(Reader& reader);
    Writer write() const;

    friend bool operator==(const AdventureState&, const AdventureState&) = default;
};

struct CrewMember {
    std::string name;
    bool ready = false;

    friend bool operator==(const CrewMember&, const CrewMember&) = default;
};

struct NavSector {
    std::uint64_t id = 0; // never 0, unique within one record
    std::uint16_t column = 0;
    std::uint16_t row = 0;
    std::uint8_t flags = 0;     // 0..31: discovered, cleared, -, sentinel, waypoint
    std::uint8_t objective = 0; // 0..3
    std::uint8_t danger = 0;    // 0..10
    std::uint8_t teammates = 0; // 0..8

    friend bool operator==(const NavSector&, const NavSector&) = default;
};

// Members in wire order.
struct ExpeditionState {
    std::uint32_t sequence = 0; // server tick of the state
    std::uint32_t run_id = 0;
    std::uint32_t salvage_banked = 0;
    std::uint32_t secrets = 0;
    std::uint32_t objectives = 0;
    std::uint32_t revives = 0;
    std::uint32_t time_seconds = 0;
    std::uint32_t total_bank = 0;
    std::uint32_t total_objectives = 0;
    std::uint32_t total_secrets = 0;
    std::string leader_name = "RANGER";
    bool leader = false;
    std::uint64_t linked_sector = 0; // carried, not interpreted
    std::uint64_t current_sector = 0;
    std::uint16_t contract_progress = 0; // at most contract_goal
    std::uint16_t contract_goal = 0;
    std::uint16_t extraction_timer = 0;
    std::uint16_t boss_health = 0; // at most boss_health_max
    std::uint16_t boss_health_max = 0;
    std::uint16_t attack_warning = 0;
    std::uint8_t contract_kind = 0;        // 0..3
    std::uint8_t contract_state = 0;       // 0..3: none, active, completed, extracted incomplete
    std::uint8_t boss_phase = 0;           // 0..3
    std::uint8_t attack_kind = 0;          // 0..2
    std::uint8_t cosmetic_tier_before = 0; // 0..4
    std::uint8_t cosmetic_tier_after = 0;  // 0..4
    std::string crew_code;
    bool crew_flag = false;          // carried, not interpreted
    std::uint8_t risks = 0;          // 0..7
    std::uint8_t theme = 0;          // 0..2
    std::vector<CrewMember> crew;    // at most 8
    std::uint8_t owned_upgrades = 0; // 0..15
    bool team_shot_charged = false;
    std::uint16_t revive_shield = 0; // 0..90
    std::uint16_t vote_ticks = 0;    // 0..240
    std::uint8_t bonus_rounds = 0;   // 0..3
    std::uint8_t votes_stay = 0;     // at most participants
    std::uint8_t participants = 0;   // 0..64
    bool vote_open = false;
    std::array<std::uint8_t, 3> upgrade_offers{}; // 0..4 each, 0 = none
    std::vector<NavSector> navigation;            // at most 32

    static ExpeditionState read(Reader& reader);
    Writer write() const;

    friend bool operator==(const ExpeditionState&, const ExpeditionState&) = default;
};

} // namespace kestrel
