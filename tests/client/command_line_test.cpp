// The option parser in-process, the real client binary for what ends the process (--help,
// the error line, the summary of a short run), and the checks and summary at a run's end.
#include "client/options.h"

#include <gtest/gtest.h>

#include "client/defaults.h"
#include "client/run_stats.h"
#include "tests/support/errors.h"
#include "tests/support/process.h"

#include <sstream>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using Args = std::vector<std::string>;

// "no error" and the parsed options, or the message of whatever the parse or the run-mode
// check threw (the conversion's own exceptions included). Arguments are separated by '|'.
std::string parse(const std::string& line, Options* parsed = nullptr) {
    Args args{"client"};
    for (std::size_t from = 0, bar = 0; bar != std::string::npos; from = bar + 1)
        args.push_back(line.substr(from, (bar = line.find('|', from)) - from));
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    try {
        const Options options = parse_options(static_cast<int>(argv.size()), argv.data());
        check_options(options);
        if (parsed) *parsed = options;
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

const std::string range = "option out of range",
                  headless = "headless mode cannot capture GPU frames",
                  server = "-s requires IPv4-address-or-hostname:port (1..65535)";

TEST(CommandLine, RefusedArgumentsEndWithTheirMessage) {
    std::vector<std::pair<std::string, std::string>> cases = {
        {"--bogus", "missing option value"}, // the last argument, even when unknown
        {"--headless|--frames", "missing option value"},
        {"--bogus|1", "unknown option --bogus"},
        {"--Headless|x", "unknown option --Headless"},
        {"--demo=1|x", "unknown option --demo=1"},
        {"|x", "unknown option "},
        {"--capture-wormhole|w.png|--headless", headless}, // after parsing, headless first
        {"--headless|--demo|--require-commits|1", "demo cannot commit network transitions"},
        {"--demo|--require-commits|1|--headless|--capture|x.png", headless},
        {"--headless|--capture|x.png|--frames|0", range},
        {"--capture|x.png|--capture||--headless", "no error"}, // the last one wins
        {"--capture||--capture|x.png|--headless", headless},
        {"--port|abc", "stoul"},
        {"--port|", "stoul"},
        {"--port|-", "stoul"},
        {"--port|80 ", range}}; // characters after the digits
    for (const char* value :
         {":7777", "10.0.0.5:", "10.0.0.5:77:77", "10.0.0.5 :7777", "10.0.0.5:77a7", "10.0.0.5", "",
          "host\t:7777", "host:7777 ", "h\n:1", "h\r:1", "::", ":0"})
        cases.push_back({"-s|" + std::string(value), server}); // the shape before the port
    for (const char* value : {"10.0.0.5:0", "10.0.0.5:65536", "10.0.0.5:99999999999999999999999"})
        cases.push_back({"-s|" + std::string(value), range});
    // Each limit from both sides: option, the last value inside, the first one outside.
    std::istringstream limits(
        "--port 1 0 --port 65535 65536 --weapon 1 0 --weapon 4 5 --frames 1 0 --frames 1000000 "
        "1000001 --seconds 1 0 --seconds 3600 3601 --latency-ms 0 -1 --latency-ms 150 151 "
        "--drop-every 2 1 --drop-every 1000 1001 --require-commits 1 0 --require-commits 10000 "
        "10001 --port 80 80abc --port 80 0x50 --frames 1 99999999999999999999999");
    for (std::string option, inside, outside; limits >> option >> inside >> outside;) {
        cases.push_back({option + "|" + inside, "no error"});
        cases.push_back({option + "|" + outside, range});
    }
    for (const auto& [args, message] : cases) EXPECT_EQ(parse(args), message) << args;
}

TEST(CommandLine, AcceptedValuesLandInTheirFields) {
    Options o;
    ASSERT_EQ(parse("-s|play.example.org:65535|--weapon|3|--frames|1000000|--seconds|3600|"
                    "--latency-ms|150|--drop-every|2|--require-commits|10000|--profile-file|p.bin|"
                    "--capture|c.png|--capture-wormhole|w.png|--hidden|--auto-combat|--auto-portal",
                    &o),
              "no error");
    EXPECT_EQ(std::tie(o.host, o.port, o.weapon, o.frames, o.seconds, o.latency_ms, o.drop_every,
                       o.require_commits, o.profile_file, o.capture, o.capture_wormhole),
              std::make_tuple("play.example.org", 65535u, 3u, 1000000u, 3600u, 150u, 2u, 10000u,
                              "p.bin", "c.png", "w.png"));
    EXPECT_TRUE(o.hidden && o.auto_combat && o.auto_portal && !o.demo && !o.headless);
    ASSERT_EQ(parse("--demo|--headless|--name|ab-c_d!|--party|****", &o), "no error");
    EXPECT_TRUE(o.demo && o.headless);
    EXPECT_EQ(std::tie(o.host, o.port, o.weapon, o.name, o.party),
              std::make_tuple(std::string(default_server_host), 7777u, 1u, "ABC_D", ""));
    parse("--name|abcdefghijklmnopqrst|--party|abcdefghijklmnop|-s|h:007777", &o);
    EXPECT_EQ(std::tie(o.name, o.party, o.host, o.port),
              std::make_tuple("ABCDEFGHIJKLMNOP", "ABCDEFGHIJKL", "h", 7777u));
    parse("--host|--headless", &o); // values, not flags
    EXPECT_EQ(std::tie(o.host, o.headless), std::make_tuple("--headless", false));
    // --help as a flag would end the process: in a child, so that the test sees it.
    EXPECT_EXIT(std::exit(parse("--name|--help", &o) == "no error" && o.name == "HELP" ? 7 : 8),
                testing::ExitedWithCode(7), "");
    parse("-s|h:5|-l|--host|far", &o);
    EXPECT_EQ(std::tie(o.host, o.port), std::make_tuple("far", 7777u));
    parse("--port|9|--host|far|-l", &o);
    EXPECT_EQ(std::tie(o.host, o.port), std::make_tuple("127.0.0.1", 7777u));
}

TEST(CommandLine, TheBinaryPrintsUsageErrorsAndTheSummary) {
    const auto client = [](const Args& args) {
        return test::run(KESTREL_CLIENT_BIN, args, std::chrono::seconds(30));
    };
    const std::string usage =
        "client [-l] [-s IP:PORT] [--host " + std::string(default_server_host) +
        "] [--port 7777] [--demo] [--hidden] [--headless] [--frames N] [--seconds N] "
        "[--auto-combat] [--latency-ms 0..150] [--auto-portal] [--require-commits N] "
        "[--drop-every N] [--name NAME] [--party CODE] [--profile-file PATH] "
        "[--capture file.png] [--capture-wormhole file.png]\n";
    // --help ends the run at once: nothing after it is looked at, no run-mode check is made,
    // but an earlier error wins.
    const std::tuple<Args, int, std::string, std::string> runs[] = {
        {{"--help"}, 0, usage, ""},
        {{"--help", "--frames", "0", "-x"}, 0, usage, ""},
        {{"--headless", "--capture", "x.png", "--help"}, 0, usage, ""},
        {{"--frames", "0", "--help"}, 1, "", "client: " + range + "\n"},
        {{"-s", "nohost", "--help"}, 1, "", "client: " + server + "\n"},
        {{"--port", "abc"}, 1, "", "client: stoul\n"},
        {{"--headless", "-l", "--host", "no-such-host.invalid", "--frames", "1"},
         1,
         "",
         "client: cannot resolve server no-such-host.invalid\n"}};
    for (const auto& [args, status, out, err] : runs) {
        const test::Outcome outcome = client(args);
        EXPECT_EQ(std::tie(outcome.status, outcome.out, outcome.err), std::tie(status, out, err));
    }
    test::Outcome outcome = client({"--demo", "--headless", "--seconds", "1"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    RunStats stats; // every counter but the frames stays 0 in a headless demo
    stats.frames = 1;
    const std::string zero = summary_line(stats, 0, 0, 0, 0.0);
    const std::size_t tail = zero.find(" commits=");
    ASSERT_EQ(outcome.out.rfind("Client stopped: frames=", 0), 0u) << outcome.out;
    EXPECT_EQ(outcome.out.substr(outcome.out.find(" commits=")), zero.substr(tail));
    // -l after --host replaces the unresolvable name with the loopback address.
    outcome = client({"--headless", "--host", "no-such-host.invalid", "-l", "--frames", "1"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, zero);
}

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
