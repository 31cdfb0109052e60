// The server's command line: values, ranges, and the exact error texts, also through the
// real binary.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "server/options.h"
#include "tests/support/process.h"

namespace kestrel {
namespace {

ServerOptions parse(std::vector<std::string> arguments) {
    return parse_server_options(arguments);
}

std::string error_of(std::vector<std::string> arguments) {
    try {
        parse(arguments);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(ServerOptions, Defaults) {
    const ServerOptions options = parse({});
    EXPECT_EQ(options.port, 7777);
    EXPECT_EQ(options.bind, "127.0.0.1");
    EXPECT_EQ(options.seconds, 0u);
    EXPECT_EQ(options.faults, FaultOptions{});
    EXPECT_FALSE(options.help);
}

TEST(ServerOptions, EveryOptionLandsInItsField) {
    const ServerOptions options = parse({"--port",
                                         "7801",
                                         "--bind",
                                         "0.0.0.0",
                                         "--seconds",
                                         "20",
                                         "--seed",
                                         "0x2A",
                                         "--enemies",
                                         "0",
                                         "--items",
                                         "64",
                                         "--loss-every",
                                         "3",
                                         "--delay-ms",
                                         "150",
                                         "--duplicate-chunks",
                                         "--reverse-chunks",
                                         "--early-chunks",
                                         "--abort-first-handoff",
                                         "--fault",
                                         "corrupt-map"});
    EXPECT_EQ(options.port, 7801);
    EXPECT_EQ(options.bind, "0.0.0.0");
    EXPECT_EQ(options.seconds, 20u);
    EXPECT_EQ(options.seed, 42u);
    EXPECT_EQ(options.enemies, 0u);
    EXPECT_EQ(options.items, 64u);
    EXPECT_EQ(options.faults.loss_every, 3u);
    EXPECT_EQ(options.faults.delay_ms, 150u);
    EXPECT_TRUE(options.faults.duplicate_chunks);
    EXPECT_TRUE(options.faults.reverse_chunks);
    EXPECT_TRUE(options.faults.early_chunks);
    EXPECT_TRUE(options.faults.abort_first_handoff);
    EXPECT_EQ(options.faults.fault, "corrupt-map");
}

TEST(ServerOptions, RangesAreInclusive) {
    EXPECT_EQ(parse({"--port", "1"}).port, 1);
    EXPECT_EQ(parse({"--port", "65535"}).port, 65535);
    EXPECT_EQ(error_of({"--port", "0"}), "invalid value for --port: 0");
    EXPECT_EQ(error_of({"--port", "65536"}), "invalid value for --port: 65536");
    EXPECT_EQ(error_of({"--seconds", "0"}), "invalid value for --seconds: 0");
    EXPECT_EQ(error_of({"--enemies", "65"}), "invalid value for --enemies: 65");
    EXPECT_EQ(parse({"--crowd", "0"}).crowd, 0u);
    EXPECT_EQ(parse({"--crowd", "367"}).crowd, 367u);
    EXPECT_EQ(error_of({"--crowd", "368"}), "invalid value for --crowd: 368");
    EXPECT_EQ(error_of({"--crowd", "-1"}), "invalid value for --crowd: -1");
    EXPECT_EQ(error_of({"--loss-every", "1"}), "invalid value for --loss-every: 1");
    EXPECT_EQ(parse({"--seed", "18446744073709551615"}).seed, UINT64_MAX);
    EXPECT_EQ(error_of({"--seed", "18446744073709551616"}),
              "invalid value for --seed: 18446744073709551616");
}

TEST(ServerOptions, NumbersMustBeWholeNumbers) {
    EXPECT_EQ(error_of({"--port", "77x"}), "invalid value for --port: 77x");
    EXPECT_EQ(error_of({"--port", "-1"}), "invalid value for --port: -1");
    EXPECT_EQ(error_of({"--port", ""}), "invalid value for --port: ");
    EXPECT_EQ(error_of({"--seed", "0x"}), "invalid value for --seed: 0x");
    EXPECT_EQ(error_of({"--bind", ""}), "invalid value for --bind: ");
}

TEST(ServerOptions, UnknownMissingAndFaultNames) {
    EXPECT_EQ(error_of({"--ports", "1"}), "unknown option --ports");
    EXPECT_EQ(error_of({"-l"}), "unknown option -l");
    EXPECT_EQ(error_of({"--port"}), "missing value for --port");
    EXPECT_EQ(error_of({"--fault"}), "missing value for --fault");
    EXPECT_EQ(error_of({"--fault", "oversized"}), "unknown fault oversized");
    EXPECT_TRUE(parse({"--help"}).help);
}

TEST(ServerBinary, ErrorsAreOneLineAndStatusOne) {
    const test::Outcome bad = test::run(KESTREL_SERVER_BIN, {"--port", "0"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "server: invalid value for --port: 0\n");
    const test::Outcome unresolvable =
        test::run(KESTREL_SERVER_BIN, {"--bind", "300.1.1.1", "--seconds", "1"});
    EXPECT_EQ(unresolvable.status, 1);
    EXPECT_EQ(unresolvable.err, "server: cannot resolve bind address 300.1.1.1\n");
}

TEST(ServerBinary, HelpPrintsTheUsage) {
    const test::Outcome help = test::run(KESTREL_SERVER_BIN, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, server_usage());
}

TEST(ServerBinary, TimedRunEndsWithTheSummaryLine) {
    const test::Outcome run =
        test::run(KESTREL_SERVER_BIN, {"--port", std::to_string(test::free_udp_port()), "--seconds",
                                       "1", "--enemies", "0", "--items", "0"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "Server stopped: clients=0 handoffs=0 aborts=0 snapshots=0 inputs=0 "
                       "skipped=0 rejected=0 errors=0 faults=0 lost=0\n");
}

} // namespace
} // namespace kestrel
