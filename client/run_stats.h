// Counters of one client run and the statistics line printed when it ends normally.
// The main loop and the message handlers increment the counters; nothing else reads
// them until the run is over.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

struct RunStats {
    std::uint32_t frames = 0;               // main-loop iterations, drawn or not
    std::uint32_t commits = 0;              // applied sector handoffs
    std::uint32_t hits = 0;                 // combat events of kind 1
    std::uint32_t damage = 0;               // kind 2
    std::uint32_t pickups = 0;              // kind 3
    std::uint32_t respawns = 0;             // kind 4
    std::uint32_t enemy_shots = 0;          // kind 5
    std::uint32_t rewards = 0;              // kind 6
    std::uint32_t projectile_snapshots = 0; // applied snapshots holding a projectile
    std::uint32_t initial_items = 0;        // items in the first applied snapshot
    float enemy_span_x = 0.0f;              // enemy extent in the first applied snapshot,
    float enemy_span_y = 0.0f;              // in tiles; 0 without enemies
    std::uint32_t snapshots = 0;            // complete snapshots applied
};

// The final line, line break included. bank and unlocked come from the last accepted
// adventure state, reconciles and max_correction from the prediction; floating-point
// values are printed the way a default-configured output stream prints them.
std::string summary_line(const RunStats& stats, std::uint32_t bank, std::uint8_t unlocked,
                         std::uint64_t reconciles, double max_correction);

// The success conditions of a run that reached its normal end; throws the first one
// that failed. require_commits and seconds are 0 when not requested.
void check_run_end(const RunStats& stats, std::uint32_t require_commits, bool demo,
                   std::uint32_t seconds);

} // namespace kestrel
