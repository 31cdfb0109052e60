#include "client/run_stats.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/errors.h"

namespace kestrel {
namespace {

TEST(RunStats, SummaryLineWithDefaultStreamFormatting) {
    EXPECT_EQ(summary_line(RunStats{}, 0, 0, 0, 0.0),
              "Client stopped: frames=0 commits=0 hits=0 damage=0 pickups=0 respawns=0 "
              "enemy_shots=0 rewards=0 projectile_snapshots=0 initial_items=0 enemy_span_x=0 "
              "enemy_span_y=0 bank=0 unlocked=0 snapshots=0 reconciliations=0 "
              "largest_correction=0\n");
    RunStats stats{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1.5f, 0.1234567f, 4294967295u};
    // unlocked is a byte; 65 would print as 'A' if it reached the stream as a char.
    EXPECT_EQ(summary_line(stats, 4000000000u, 65, 18446744073709551615ull, 0.25),
              "Client stopped: frames=1 commits=2 hits=3 damage=4 pickups=5 respawns=6 "
              "enemy_shots=7 rewards=8 projectile_snapshots=9 initial_items=10 "
              "enemy_span_x=1.5 enemy_span_y=0.123457 bank=4000000000 unlocked=65 "
              "snapshots=4294967295 reconciliations=18446744073709551615 "
              "largest_correction=0.25\n");
    stats.enemy_span_x = 30.0f;
    stats.enemy_span_y = 1234567.0f;
    const std::string line = summary_line(stats, 0, 255, 0, 1.0 / 3.0);
    EXPECT_NE(line.find(" enemy_span_x=30 enemy_span_y=1.23457e+06 "), std::string::npos) << line;
    EXPECT_NE(line.find(" unlocked=255 "), std::string::npos) << line;
    EXPECT_NE(line.find(" largest_correction=0.333333\n"), std::string::npos) << line;
}

TEST(RunStats, RunEndChecksCommitsFirstThenASnapshotForTimedNetworkRuns) {
    const std::string commits = "required sector commits not reached",
                      snapshots = "no complete authoritative snapshots received", none = "no error";
    // commits, snapshots, require_commits, demo, seconds; the failure.
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, bool, std::uint32_t, std::string>
        cases[] = {{0, 0, 0, false, 0, none},      {3, 1, 3, false, 10, none},
                   {2, 5, 3, false, 0, commits},   {2, 5, 2, false, 0, none},
                   {0, 0, 0, false, 5, snapshots}, {0, 0, 0, true, 5, none},
                   {0, 0, 1, false, 5, commits}};
    for (const auto& [commit_count, snapshot_count, required, demo, seconds, failure] : cases) {
        RunStats stats;
        stats.commits = commit_count;
        stats.snapshots = snapshot_count;
        EXPECT_EQ(test::error_of([&] { check_run_end(stats, required, demo, seconds); }), failure);
    }
}

} // namespace
} // namespace kestrel
