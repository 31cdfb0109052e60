// The server's command line (fields, inclusive ranges, exact errors) and the binary's output.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "server/options.h"
#include "tests/support/errors.h"
#include "tests/support/process.h"

namespace kestrel::test {
namespace {

ServerOptions parse(std::vector<std::string> arguments) {
    return parse_server_options(arguments);
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
}

TEST(ServerOptions, EveryOptionLandsInItsField) {
    EXPECT_EQ(parse({}), ServerOptions{});
    const ServerOptions d;
    EXPECT_EQ(std::tie(d.port, d.bind, d.seconds, d.seed, d.enemies, d.items, d.crowd),
              std::tuple(7777, "127.0.0.1", 0u, 0x6B1F39A42u, 6u, 4u, 0u));
    const ServerOptions o = parse(words(
        "--port 7801 --bind 0.0.0.0 --seconds 20 --seed 0x2A --enemies 0 --items 64 --crowd 367 "
        "--loss-every 3 --delay-ms 150 --duplicate-chunks --reverse-chunks --early-chunks "
        "--abort-first-handoff --fault corrupt-map --fallen-crowd --fire-report -h"));
    EXPECT_EQ(std::tie(o.port, o.bind, o.seconds, o.seed, o.enemies, o.items, o.crowd),
              std::tuple(7801, "0.0.0.0", 20u, 42u, 0u, 64u, 367u));
    EXPECT_EQ(std::tie(o.faults.loss_every, o.faults.delay_ms, o.faults.fault),
              std::tuple(3u, 150u, "corrupt-map"));
    EXPECT_TRUE(o.faults.duplicate_chunks && o.faults.reverse_chunks && o.faults.early_chunks &&
                o.faults.abort_first_handoff && o.fallen_crowd && o.fire_report && o.help);
    EXPECT_EQ(parse({"--port", "1", "--seconds", "86400", "--crowd", "0", "--loss-every", "2",
                     "--delay-ms", "2000", "--enemies", "64"})
                  .port,
              1);
    EXPECT_EQ(parse({"--port", "65535"}).port, 65535);
    EXPECT_EQ(parse({"--seed", "18446744073709551615"}).seed, UINT64_MAX);
}

TEST(ServerOptions, ErrorMessages) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--ports", "1"}, "unknown option --ports"},
        {{"-l"}, "unknown option -l"},
        {{"--port"}, "missing value for --port"},
        {{"--fault"}, "missing value for --fault"},
        {{"--fault", "oversized"}, "unknown fault oversized"},
        {{"--port", "0"}, "invalid value for --port: 0"},
        {{"--port", "65536"}, "invalid value for --port: 65536"},
        {{"--port", "77x"}, "invalid value for --port: 77x"},
        {{"--port", "-1"}, "invalid value for --port: -1"},
        {{"--port", ""}, "invalid value for --port: "},
        {{"--seconds", "0"}, "invalid value for --seconds: 0"},
        {{"--seconds", "86401"}, "invalid value for --seconds: 86401"},
        {{"--enemies", "65"}, "invalid value for --enemies: 65"},
        {{"--items", "65"}, "invalid value for --items: 65"},
        {{"--crowd", "368"}, "invalid value for --crowd: 368"},
        {{"--loss-every", "1"}, "invalid value for --loss-every: 1"},
        {{"--loss-every", "1001"}, "invalid value for --loss-every: 1001"},
        {{"--delay-ms", "2001"}, "invalid value for --delay-ms: 2001"},
        {{"--seed", "18446744073709551616"}, "invalid value for --seed: 18446744073709551616"},
        {{"--seed", "0x"}, "invalid value for --seed: 0x"},
        {{"--bind", ""}, "invalid value for --bind: "},
    };
    for (const auto& [arguments, message] : cases)
        EXPECT_EQ(error_of([&] { parse(arguments); }), message);
}

TEST(ServerBinary, ErrorsUsageAndTheSummaryLine) {
    const Outcome bad = run(KESTREL_SERVER_BIN, {"--port", "0"});
    EXPECT_EQ(std::tie(bad.status, bad.out, bad.err),
              std::tuple(1, "", "server: invalid value for --port: 0\n"));
    const Outcome unresolvable = run(KESTREL_SERVER_BIN, {"--bind", "300.1.1.1", "--seconds", "1"});
    EXPECT_EQ(std::tie(unresolvable.status, unresolvable.err),
              std::tuple(1, "server: cannot resolve bind address 300.1.1.1\n"));
    const Outcome timed = run(KESTREL_SERVER_BIN, {"--port", std::to_string(free_udp_port()),
                                                   "--seconds", "1", "--enemies", "0"});
    EXPECT_EQ(std::tie(timed.status, timed.err), std::tuple(0, ""));
    EXPECT_EQ(timed.out, "Server stopped: clients=0 handoffs=0 aborts=0 snapshots=0 inputs=0 "
                         "skipped=0 rejected=0 errors=0 faults=0 lost=0\n");
}

} // namespace
} // namespace kestrel::test
