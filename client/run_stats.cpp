#include "client/run_stats.h"

#include <locale>
#include <sstream>
#include <stdexcept>

namespace kestrel {

std::string summary_line(const RunStats& stats, std::uint32_t bank, std::uint8_t unlocked,
                         std::uint64_t reconciles, double max_correction) {
    std::ostringstream out;
    // Scripts parse this line, so a global locale must not add digit grouping.
    out.imbue(std::locale::classic());
    out << "Client stopped: frames=" << stats.frames << " commits=" << stats.commits
        << " hits=" << stats.hits << " damage=" << stats.damage << " pickups=" << stats.pickups
        << " respawns=" << stats.respawns << " enemy_shots=" << stats.enemy_shots
        << " rewards=" << stats.rewards << " projectile_snapshots=" << stats.projectile_snapshots
        << " initial_items=" << stats.initial_items << " enemy_span_x=" << stats.enemy_span_x
        << " enemy_span_y=" << stats.enemy_span_y << " bank="
        << bank
        // Widened so that the stream prints a number, not a character.
        << " unlocked=" << static_cast<unsigned>(unlocked) << " snapshots=" << stats.snapshots
        << " reconciliations=" << reconciles << " largest_correction=" << max_correction << '\n';
    return out.str();
}

void check_run_end(const RunStats& stats, std::uint32_t require_commits, bool demo,
                   std::uint32_t seconds) {
    if (require_commits != 0 && stats.commits < require_commits)
        throw std::runtime_error("required sector commits not reached");
    // A timed network run that never saw the world is a failed run, not a quiet one.
    if (!demo && seconds != 0 && stats.snapshots == 0)
        throw std::runtime_error("no complete authoritative snapshots received");
}

} // namespace kestrel
