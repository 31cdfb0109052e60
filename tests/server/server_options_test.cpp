// The server's command line: values, ranges, and the exact error texts, also through the
// real binary.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "server/options.h"

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

struct BinaryRun {
    int status = -1;
    std::string output;
};

BinaryRun run_binary(const std::string& arguments) {
    BinaryRun run;
    const std::string command = std::string(KESTREL_SERVER_BIN) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) run.output += buffer.data();
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(ServerBinary, ErrorsAreOneLineAndStatusOne) {
    const BinaryRun bad = run_binary("--port 0");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.output, "server: invalid value for --port: 0\n");
    const BinaryRun unresolvable = run_binary("--bind 300.1.1.1 --seconds 1");
    EXPECT_EQ(unresolvable.status, 1);
    EXPECT_EQ(unresolvable.output, "server: cannot resolve bind address 300.1.1.1\n");
}

TEST(ServerBinary, TimedRunEndsWithTheSummaryLine) {
    const BinaryRun run = run_binary("--port 7891 --seconds 1 --enemies 0 --items 0");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "Server stopped: clients=0 handoffs=0 aborts=0 snapshots=0 inputs=0 "
                          "skipped=0 rejected=0 errors=0 faults=0 lost=0\n");
}

} // namespace
} // namespace kestrel
