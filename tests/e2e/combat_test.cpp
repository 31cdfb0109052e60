// The headless client's automatic combat against the reference server's game rules over
// real ENet on loopback: it finds, shoots and kills enemies that fire back.
#include "tests/e2e/e2e.h"

namespace kestrel::test {
namespace {

TEST(Combat, AutoCombatScoresHitsAndKillsAgainstEnemiesThatShootBack) {
    const Match match =
        play({"--enemies", "6"}, {"--headless", "--auto-combat", "--seconds", "15"}, 19);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    EXPECT_EQ(match.client.err, "");
    const auto values = summary(match.client.out);
    ASSERT_FALSE(values.empty()) << match.client.out;
    EXPECT_GT(values.at("hits"), 0);
    EXPECT_GT(values.at("rewards"), 0);
    EXPECT_GE(values.at("hits"), 2 * values.at("rewards")); // no enemy falls to a single shot
    EXPECT_GT(values.at("enemy_shots"), 0);
    EXPECT_GT(values.at("projectile_snapshots"), 0);
    EXPECT_GT(values.at("damage"), 0);
    // The first snapshot shows the default four pickups and the six enemies spread out.
    EXPECT_EQ(values.at("initial_items"), 4);
    EXPECT_GT(values.at("enemy_span_x"), 2);
    EXPECT_LT(values.at("enemy_span_x"), 32);
    EXPECT_GT(values.at("enemy_span_y"), 2);
    EXPECT_LT(values.at("enemy_span_y"), 32);
    EXPECT_EQ(values.at("commits"), 1); // it fights where it arrived
    EXPECT_GT(values.at("snapshots"), 150);
    EXPECT_EQ(match.server.status, 0) << match.server.err;
}

// Without enemies and pickups nothing but input moves the player, also in combat mode.
TEST(Combat, QuietWorldGivesAutoCombatNothingToDo) {
    const Match match = play({"--enemies", "0", "--items", "0"},
                             {"--headless", "--auto-combat", "--seconds", "4"}, 8);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    const auto values = summary(match.client.out);
    EXPECT_EQ(values.at("hits"), 0);
    EXPECT_EQ(values.at("damage"), 0);
    EXPECT_EQ(values.at("initial_items"), 0);
    EXPECT_EQ(values.at("enemy_span_x"), 0);
    EXPECT_EQ(values.at("largest_correction"), 0);
}

} // namespace
} // namespace kestrel::test
