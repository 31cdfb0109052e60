// What the game rules remember beside the replicated records: per entity, per player, per
// sector and per crew. Plain values inside WorldState, so the whole game is one copyable
// value that a test can inspect and a seed reproduces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// Entity kinds the rules create (the renderer draws each of them).
namespace entity_kind {
inline constexpr std::uint8_t player = 1;
inline constexpr std::uint8_t enemy = 2;
inline constexpr std::uint8_t pickup = 3;
inline constexpr std::uint8_t projectile = 4;
inline constexpr std::uint8_t artifact = 10;
inline constexpr std::uint8_t generator = 11;
inline constexpr std::uint8_t exit_pad = 12;
inline constexpr std::uint8_t cache = 13;
inline constexpr std::uint8_t relay = 14;
inline constexpr std::uint8_t mine = 17;
} // namespace entity_kind

// Beside an entity's record.
struct EntityGame {
    std::uint32_t spawner = 0; // 1 + index of the sector spawner that made it, 0 = none
    std::uint32_t owner = 0;   // projectile or mine: who fired or laid it
    std::int32_t step_x = 0;   // projectile: flight per tick, 1/65536 cell
    std::int32_t step_y = 0;
    std::uint16_t damage = 0; // projectile, mine
    std::uint16_t life = 0;   // projectile, mine: ticks left
    std::uint16_t attack = 0; // enemy: ticks until it may attack again; boss: until its volley
    std::uint32_t target = 0; // enemy: the player it chases, 0 = idle
    std::uint32_t killer = 0; // enemy: the player who dealt the last blow
    bool elite = false;       // enemy: tougher and marked
    std::uint16_t turn = 0;   // wanderer: ticks until it picks a new heading
};

// Where an enemy or a pickup comes from; it brings its entity back after a death or a
// pickup.
struct Spawner {
    std::uint8_t kind = entity_kind::enemy;
    std::uint16_t type = 0;
    std::uint16_t cell = 0;
    std::uint32_t entity = 0; // its entity while one is in the world (living or dying)
    std::uint32_t due = 0;    // pickup: the tick it returns at
    bool elite = false;       // enemy: tougher and marked
};

struct SectorGame {
    std::uint8_t challenge = 0; // 0..5, the same rule the client's portal hints apply
    std::uint8_t objective = 0; // 1 restore a generator, 2 defend a relay, 3 carry an artifact
    std::uint16_t objective_cell = 0;
    std::uint32_t objective_entity = 0;
    std::uint16_t progress = 0;
    std::uint16_t goal = 0;
    bool objective_done = false;
    std::uint32_t carrier = 0; // player carrying this sector's artifact, 0 = none
    std::uint16_t exit_cell = 0;
    std::uint16_t cache_cell = 0;
    std::uint32_t cache_entity = 0; // the reward cache while it waits to be opened
    std::vector<Spawner> spawners;
    std::uint32_t wave = 0;           // waves of enemies spawned so far
    bool cleared = false;             // every enemy of the wave is dead
    bool cache_used = false;          // this wave's reward cache has been opened
    bool ambushed = false;            // a cache ambush has been sprung (challenge 3)
    std::uint32_t reinforce_tick = 0; // cleared: the tick the next wave arrives
    std::uint32_t occupied_since = 0; // tick the sector last went from empty to occupied
    bool sealed = false;              // arena lockdown: portals closed until cleared
    std::uint16_t revive = 0;         // progress of the revive under way, ticks
    std::uint32_t revive_target = 0;  // the fallen player being revived
    std::uint32_t revive_tick = 0;    // last tick someone held use over the fallen
    std::uint32_t progress_tick = 0;  // last tick the objective advanced
    bool secret_found = false;
    std::uint32_t boss = 0; // the sentinel entity in this sector, 0 = none
};

struct PlayerGame {
    std::string crew;            // crew code
    bool ready = false;          // crew ready flag
    std::uint16_t reserve = 100; // reserve rounds; the clip is the body's ammo
    std::uint16_t reload = 0;    // ticks until the reload completes
    std::uint32_t respawn_tick = 0;
    std::uint16_t shield = 0; // revive shield ticks: no damage meanwhile
    std::uint32_t carried = 0;
    std::uint32_t banked = 0;
    std::uint16_t banking = 0; // ticks on the exit pad, 90 banks
    std::uint16_t generator_tick = 0;
    std::uint8_t upgrades = 0; // bits 1, 2, 4, 8
    std::uint8_t upgrade_credits = 0;
    std::uint32_t kills = 0;
    std::uint32_t deaths = 0;
    std::uint32_t total_objectives = 0;
    std::uint32_t total_secrets = 0;
    std::uint64_t carrying = 0;  // sector whose artifact the player carries
    std::uint8_t vote = 0;       // 0 none, 1 leave, 2 stay
    std::uint32_t use_tick = 0;  // last tick the use button was handled
    std::uint16_t hazard = 0;    // ticks spent on hazard floor
    std::string previous_crew;   // the crew before the last one created
    std::uint8_t tier_start = 0; // cosmetic tier when the current run began
};

struct Crew {
    std::string code;
    std::uint32_t run_id = 0;
    std::uint8_t contract = 0; // 1 three artifacts, 2 the sentinel, 3 bank 250 salvage
    std::uint8_t state = 0;    // 0 none, 1 active, 2 completed, 3 extracted incomplete
    std::uint16_t progress = 0;
    std::uint16_t goal = 0;
    std::uint8_t risks = 0;
    std::uint32_t started_tick = 0;
    std::uint32_t ended_tick = 0;
    std::uint32_t run_bank = 0;
    std::uint32_t run_secrets = 0;
    std::uint32_t run_objectives = 0;
    std::uint32_t run_revives = 0;
    std::uint32_t run_artifacts = 0;
    std::uint64_t target_sector = 0; // the sentinel's sector
    std::uint64_t waypoint = 0;
    bool vote_open = false;
    std::uint16_t vote_ticks = 0;
    std::uint8_t bonus_rounds = 0;
    bool bonus_wave = false;
    std::uint8_t tier_before = 0;
    std::uint8_t tier_after = 0;
    std::uint16_t team_hits = 0;
    bool team_shot = false;
    std::uint64_t ping_sector = 0;
    std::uint16_t ping_x = 0;
    std::uint16_t ping_y = 0;
    std::uint16_t ping_ticks = 0;
    std::uint8_t ping_kind = 0;
};

struct GameState {
    std::uint32_t enemies = 0;       // per sector
    std::uint32_t items = 0;         // per sector
    std::uint64_t random = 0;        // the draw counter, seeded from the world seed
    std::vector<SectorGame> sectors; // element i: sector id i + 1
    std::vector<Crew> crews;
    std::uint32_t crews_made = 0; // generated crew codes so far
};

} // namespace kestrel
