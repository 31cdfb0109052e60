// The headless client against the reference server over real ENet on loopback.
#include "server/faults.h"
#include "tests/e2e/e2e.h"

#include <algorithm>

namespace kestrel {
void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.name;
}
namespace test {
namespace {

// Only input moves the player, so prediction agrees with the server up to the 1/256-cell
// rounding of the records, even with outgoing packets delayed and one in three lost.
TEST(Play, AutoPortalCommitsThreeTimesAndPredictsUnderLatencyAndLoss) {
    const Match match = play({"--enemies", "0", "--items", "0"},
                             {"--headless", "--seconds", "20", "--auto-portal", "--latency-ms",
                              "150", "--drop-every", "3", "--require-commits", "3"},
                             24);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    EXPECT_EQ(match.client.err, "");
    const auto values = summary(match.client.out);
    ASSERT_FALSE(values.empty()) << match.client.out;
    EXPECT_GE(values.at("commits"), 3);
    EXPECT_EQ(count_lines_starting(match.client.out, "Committed sector "), values.at("commits"));
    // Standard output holds the commit lines and the summary, nothing else.
    EXPECT_EQ(count_lines_starting(match.client.out, ""), values.at("commits") + 1);
    EXPECT_GT(values.at("reconciliations"), 50);
    EXPECT_LE(values.at("largest_correction"), 0.12);
    EXPECT_EQ(match.server.status, 0) << match.server.err;
}

// Without enemies and pickups nothing but input moves the player, also in combat mode.
TEST(Play, QuietWorldStandsStillAndGivesAutoCombatNothingToDo) {
    const Match match =
        play({"--enemies", "0", "--items", "0"},
             {"--headless", "--auto-combat", "--seconds", "4", "--require-commits", "1"}, 8);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    const auto values = summary(match.client.out);
    EXPECT_GT(values.at("reconciliations"), 10);
    for (const char* zero :
         {"hits", "damage", "initial_items", "enemy_span_x", "largest_correction"})
        EXPECT_EQ(values.at(zero), 0) << zero;
}

TEST(Play, NoServerTimesOutAfterTenSeconds) {
    const int port = free_udp_port();
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome =
        run(KESTREL_CLIENT_BIN, {"--headless", "-s", "127.0.0.1:" + std::to_string(port)}, 30s);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "client: connection timed out: 127.0.0.1:" + std::to_string(port) +
                               " (UDP); check server availability\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_GE(elapsed, 10.0);
    EXPECT_LT(elapsed, 15.0);
}

// It finds, shoots and kills enemies that fire back.
TEST(Combat, AutoCombatScoresHitsAndKillsAgainstEnemiesThatShootBack) {
    const Match match =
        play({"--enemies", "6"}, {"--headless", "--auto-combat", "--seconds", "15"}, 19);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    EXPECT_EQ(match.client.err, "");
    auto values = summary(match.client.out);
    ASSERT_FALSE(values.empty()) << match.client.out;
    for (const char* name : {"hits", "rewards", "enemy_shots", "projectile_snapshots", "damage"})
        EXPECT_GT(values[name], 0) << name;
    EXPECT_GE(values["hits"], 2 * values["rewards"]); // no enemy falls to a single shot
    // The first snapshot shows the default four pickups and the six enemies spread out.
    EXPECT_EQ(values["initial_items"], 4);
    for (const char* span : {"enemy_span_x", "enemy_span_y"}) {
        EXPECT_GT(values[span], 2) << span;
        EXPECT_LT(values[span], 32) << span;
    }
    EXPECT_EQ(values["commits"], 1); // it fights where it arrived
    EXPECT_GT(values["snapshots"], 150);
    EXPECT_EQ(match.server.status, 0) << match.server.err;
}

// Every bad message the server can send on purpose ends the client with that exact message
// and status 1; stale messages are ignored and the client plays on.
class ServerFault : public ::testing::TestWithParam<Fault> {};

TEST_P(ServerFault, EndsTheClientWithItsMessage) {
    const Fault& fault = GetParam();
    const Match match =
        play({"--fault", std::string(fault.name)}, {"--headless", "--seconds", "4"}, 8);
    if (fault.client_message.empty()) {
        EXPECT_EQ(match.client.status, 0) << match.client.err;
        EXPECT_EQ(match.client.err, "");
        EXPECT_GT(summary(match.client.out).at("snapshots"), 0);
    } else {
        EXPECT_EQ(match.client.status, 1);
        EXPECT_EQ(match.client.err, "client: " + std::string(fault.client_message) + "\n");
        EXPECT_EQ(match.client.out.find("Client stopped"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(All, ServerFault, ::testing::ValuesIn(fault_table()),
                         [](const auto& info) {
                             std::string name(info.param.name);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
} // namespace test
} // namespace kestrel
