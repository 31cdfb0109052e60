// The headless client plays against the reference server over real ENet on loopback.
#include "tests/e2e/e2e.h"

namespace kestrel::test {
namespace {

TEST(Play, AutoPortalReachesThreeCommits) {
    const Match match =
        play({"--enemies", "0", "--items", "0"},
             {"--headless", "--seconds", "20", "--auto-portal", "--require-commits", "3"}, 24);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    EXPECT_EQ(match.client.err, "");
    const auto values = summary(match.client.out);
    ASSERT_FALSE(values.empty()) << match.client.out;
    EXPECT_GE(values.at("commits"), 3);
    EXPECT_GT(values.at("snapshots"), 0);
    EXPECT_EQ(count_lines_starting(match.client.out, "Committed sector "), values.at("commits"));
    // Standard output holds the commit lines and the summary, nothing else.
    EXPECT_EQ(count_lines_starting(match.client.out, ""), values.at("commits") + 1);
    EXPECT_EQ(match.server.status, 0) << match.server.err;
}

// Only input moves the player, so prediction agrees with the server up to the 1/256-cell
// rounding of the records, even with every outgoing packet delayed and one in three input
// packets lost.
TEST(Play, PredictionAgreesUnderLatencyAndLoss) {
    const Match match = play({"--enemies", "0", "--items", "0"},
                             {"--headless", "--seconds", "12", "--auto-portal", "--latency-ms",
                              "150", "--drop-every", "3", "--require-commits", "1"},
                             16);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    const auto values = summary(match.client.out);
    EXPECT_GT(values.at("reconciliations"), 50);
    EXPECT_LE(values.at("largest_correction"), 0.12);
}

TEST(Play, StandingPlayerReconcilesWithoutCorrection) {
    const Match match = play({"--enemies", "0", "--items", "0"},
                             {"--headless", "--seconds", "4", "--require-commits", "1"}, 8);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    const auto values = summary(match.client.out);
    EXPECT_GT(values.at("reconciliations"), 10);
    EXPECT_EQ(values.at("largest_correction"), 0);
}

TEST(Play, NoServerTimesOutAfterTenSeconds) {
    const int port = free_udp_port();
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome =
        run(KESTREL_CLIENT_BIN, {"--headless", "-s", "127.0.0.1:" + std::to_string(port)},
            std::chrono::seconds(30));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "client: connection timed out: 127.0.0.1:" + std::to_string(port) +
                               " (UDP); check server availability\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_GE(elapsed, 10.0);
    EXPECT_LT(elapsed, 15.0);
}

} // namespace
} // namespace kestrel::test
