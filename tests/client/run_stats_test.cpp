#include "client/run_stats.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kestrel {
namespace {

std::string failure_of(const RunStats& stats, std::uint32_t require_commits, bool demo,
                       std::uint32_t seconds) {
    try {
        check_run_end(stats, require_commits, demo, seconds);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

TEST(SummaryLine, FreshRunPrintsZerosEverywhere) {
    EXPECT_EQ(summary_line(RunStats{}, 0, 0, 0, 0.0),
              "Client stopped: frames=0 commits=0 hits=0 damage=0 pickups=0 respawns=0 "
              "enemy_shots=0 rewards=0 projectile_snapshots=0 initial_items=0 enemy_span_x=0 "
              "enemy_span_y=0 bank=0 unlocked=0 snapshots=0 reconciliations=0 "
              "largest_correction=0\n");
}

TEST(SummaryLine, EveryCounterLandsInItsOwnField) {
    RunStats stats;
    stats.frames = 1;
    stats.commits = 2;
    stats.hits = 3;
    stats.damage = 4;
    stats.pickups = 5;
    stats.respawns = 6;
    stats.enemy_shots = 7;
    stats.rewards = 8;
    stats.projectile_snapshots = 9;
    stats.initial_items = 10;
    stats.enemy_span_x = 1.5f;
    stats.enemy_span_y = 0.1234567f;
    stats.snapshots = 4294967295u;
    // unlocked is a byte; 65 would print as 'A' if it reached the stream as a char.
    EXPECT_EQ(summary_line(stats, 4000000000u, 65, 18446744073709551615ull, 0.25),
              "Client stopped: frames=1 commits=2 hits=3 damage=4 pickups=5 respawns=6 "
              "enemy_shots=7 rewards=8 projectile_snapshots=9 initial_items=10 "
              "enemy_span_x=1.5 enemy_span_y=0.123457 bank=4000000000 unlocked=65 "
              "snapshots=4294967295 reconciliations=18446744073709551615 "
              "largest_correction=0.25\n");
}

TEST(SummaryLine, FloatingPointUsesDefaultStreamFormatting) {
    RunStats stats;
    stats.enemy_span_x = 30.0f;
    stats.enemy_span_y = 1234567.0f;
    const std::string line = summary_line(stats, 0, 255, 0, 1.0 / 3.0);
    EXPECT_NE(line.find(" enemy_span_x=30 "), std::string::npos) << line;
    EXPECT_NE(line.find(" enemy_span_y=1.23457e+06 "), std::string::npos) << line;
    EXPECT_NE(line.find(" unlocked=255 "), std::string::npos) << line;
    EXPECT_NE(line.find(" largest_correction=0.333333\n"), std::string::npos) << line;
}

TEST(CheckRunEnd, PassesWhenNothingIsRequired) {
    EXPECT_EQ(failure_of(RunStats{}, 0, false, 0), "");
    RunStats played;
    played.commits = 3;
    played.snapshots = 1;
    EXPECT_EQ(failure_of(played, 3, false, 10), "");
}

TEST(CheckRunEnd, RequiredCommitsAreAMinimum) {
    RunStats stats;
    stats.snapshots = 5;
    stats.commits = 2;
    EXPECT_EQ(failure_of(stats, 3, false, 0), "required sector commits not reached");
    EXPECT_EQ(failure_of(stats, 2, false, 0), "");
}

TEST(CheckRunEnd, TimedNetworkRunNeedsASnapshotButDemoDoesNot) {
    EXPECT_EQ(failure_of(RunStats{}, 0, false, 5), "no complete authoritative snapshots received");
    EXPECT_EQ(failure_of(RunStats{}, 0, true, 5), "");
    // Without a time limit (frames-limited run) no snapshot is required.
    EXPECT_EQ(failure_of(RunStats{}, 0, false, 0), "");
}

TEST(CheckRunEnd, CommitsAreCheckedBeforeSnapshots) {
    EXPECT_EQ(failure_of(RunStats{}, 1, false, 5), "required sector commits not reached");
}

} // namespace
} // namespace kestrel
