// Options, the binary's own output, the run's end and the profile below the real client.
#include "client/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "client/defaults.h"
#include "client/profile.h"
#include "client/run_stats.h"
#include "tests/support/errors.h"
#include "tests/support/process.h"

namespace kestrel {
namespace {

using Args = std::vector<std::string>;

// "no error" (and the options), or what the parse or the run-mode check threw; '|' separates.
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

const std::string range = "option out of range", value = "missing option value",
                  headless = "headless mode cannot capture GPU frames",
                  server = "-s requires IPv4-address-or-hostname:port (1..65535)";

TEST(CommandLine, RefusedArgumentsEndWithTheirMessage) {
    // clang-format off
    std::vector<std::pair<std::string, std::string>> cases = {
        {"--bogus", value}, {"--bogus|1", "unknown option --bogus"}, {"|x", "unknown option "}, {"--port|abc", "stoul"},
        {"--capture-wormhole|w.png|--headless", headless}, {"--capture||--capture|x.png|--headless", headless},
        {"--capture|x.png|--capture||--headless", "no error"}, // the last one wins
        {"--headless|--demo|--require-commits|1", "demo cannot commit network transitions"},
        {"-s|10.0.0.5:0", range}, {"-s|10.0.0.5:65536", range}};
    // clang-format on
    for (const char* value : {":7777", "10.0.0.5:", "10.0.0.5:77:77", "10.0.0.5:77a7", "10.0.0.5",
                              "h :1", "h\t:1", "h\n:1", "h\r:1"})
        cases.push_back({"-s|" + std::string(value), server}); // the shape before the port
    // Each limit from both sides: option, the last value inside, the first one outside.
    std::istringstream limits(
        "--port 1 0 --port 65535 65536 --weapon 1 0 --weapon 4 5 --frames 1 0 --frames 1000000 "
        "1000001 --seconds 1 0 --seconds 3600 3601 --latency-ms 0 -1 --latency-ms 150 151 "
        "--drop-every 2 1 --drop-every 1000 1001 --require-commits 1 0 --require-commits 10000 "
        "10001 --port 80 80abc --frames 1 99999999999999999999999");
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
                    "--capture|c.png|--capture-wormhole|w.png|--hidden|--auto-combat|--auto-portal|"
                    "--name|abcdefghijklmnopqrst|--party|abcdefghijklmnop", // cut to their fields
                    &o),
              "no error");
    EXPECT_EQ(std::tie(o.host, o.port, o.weapon, o.frames, o.seconds, o.latency_ms, o.drop_every,
                       o.require_commits, o.profile_file, o.capture, o.capture_wormhole, o.name,
                       o.party),
              std::make_tuple("play.example.org", 65535u, 3u, 1000000u, 3600u, 150u, 2u, 10000u,
                              "p.bin", "c.png", "w.png", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKL"));
    EXPECT_TRUE(o.hidden && o.auto_combat && o.auto_portal && !o.demo && !o.headless);
    ASSERT_EQ(parse("--port|9|--host|--demo|-l", &(o = Options{})), "no error"); // -l: both
    EXPECT_EQ(std::tie(o.host, o.port, o.weapon, o.demo),
              std::make_tuple("127.0.0.1", 7777u, 1u, false));
}

TEST(CommandLine, TheBinaryPrintsUsageErrorsAndTheSummary) {
    const std::string usage =
        "client [-l] [-s IP:PORT] [--host " + std::string(default_server_host) +
        "] [--port 7777] [--demo] [--hidden] [--headless] [--frames N] [--seconds N] "
        "[--auto-combat] [--latency-ms 0..150] [--auto-portal] [--require-commits N] "
        "[--drop-every N] [--name NAME] [--party CODE] [--profile-file PATH] "
        "[--capture file.png] [--capture-wormhole file.png]\n";
    RunStats stats; // every counter but the frames stays 0 in a headless demo
    stats.frames = 1;
    const std::string zero = summary_line(stats, 0, 0, 0, 0.0);
    // --help ends the run at once: nothing after it is looked at, but an earlier error wins.
    // -l after --host replaces the unresolvable name.
    const std::tuple<Args, int, std::string, std::string> runs[] = {
        {{"--help", "--frames", "0", "-x"}, 0, usage, ""},
        {{"--frames", "0", "--help"}, 1, "", "client: " + range + "\n"},
        {{"--headless", "--host", "no-such-host.invalid", "-l", "--frames", "1"}, 0, zero, ""}};
    for (const auto& [args, status, out, err] : runs) {
        const test::Outcome outcome = test::run(KESTREL_CLIENT_BIN, args, std::chrono::seconds(30));
        EXPECT_EQ(std::tie(outcome.status, outcome.out, outcome.err), std::tie(status, out, err));
    }
    const test::Outcome demo = test::run(
        KESTREL_CLIENT_BIN, {"--demo", "--headless", "--seconds", "1"}, std::chrono::seconds(30));
    EXPECT_EQ(std::tie(demo.status, demo.err), std::make_tuple(0, ""));
    ASSERT_EQ(demo.out.rfind("Client stopped: frames=", 0), 0u) << demo.out;
    EXPECT_EQ(demo.out.substr(demo.out.find(" commits=")), zero.substr(zero.find(" commits=")));
}

TEST(RunStats, SummaryLineAndTheChecksAtTheEnd) {
    RunStats stats{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1.5f, 0.1234567f, 4294967295u};
    // unlocked is a byte; 65 would print as 'A' if it reached the stream as a char.
    EXPECT_EQ(summary_line(stats, 4000000000u, 65, 18446744073709551615ull, 0.25),
              "Client stopped: frames=1 commits=2 hits=3 damage=4 pickups=5 respawns=6 "
              "enemy_shots=7 rewards=8 projectile_snapshots=9 initial_items=10 "
              "enemy_span_x=1.5 enemy_span_y=0.123457 bank=4000000000 unlocked=65 "
              "snapshots=4294967295 reconciliations=18446744073709551615 "
              "largest_correction=0.25\n");
    const std::string commits = "required sector commits not reached", none = "no error";
    // commits, snapshots, require_commits, demo, seconds: what the end of the run says.
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, bool, std::uint32_t, std::string>
        cases[] = {{0, 0, 0, false, 0, none},
                   {3, 1, 3, false, 10, none},
                   {2, 5, 3, false, 0, commits},
                   {0, 0, 0, true, 5, none},
                   {0, 0, 0, false, 5, "no complete authoritative snapshots received"}};
    for (const auto& [commit_count, snapshot_count, required, demo, seconds, failure] : cases) {
        std::tie(stats.commits, stats.snapshots) = std::tie(commit_count, snapshot_count);
        EXPECT_EQ(test::error_of([&] { check_run_end(stats, required, demo, seconds); }), failure);
    }
}

namespace fs = std::filesystem;

Bytes read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

TEST(Profile, RecordsOptionsSavesAndPaths) {
    std::string pattern = (fs::temp_directory_path() / "kestrel-profile-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr); // a directory of its own
    const fs::path dir = pattern;
    const std::string path = (dir / "profile.bin").string();
    Credentials stored{{}, "ALICE", "CREW9", 3};
    stored.token[5] = 0xA5;
    Bytes bytes = stored.write().bytes; // a bad party: the defaults, the token kept, rewritten
    bytes[33] = '-';
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    Credentials expected;
    expected.token = stored.token;
    EXPECT_EQ(set_up_profile(path, "", ""), expected);
    EXPECT_EQ(read_file(path), expected.write().bytes);
    save_profile(path, stored); // options replace only what they name
    stored.party = "NEWCREW";
    EXPECT_EQ(set_up_profile(path, "", "NEWCREW"), stored);
    EXPECT_EQ(read_file(path), stored.write().bytes);
    EXPECT_NE(complete_profile({}, "", "").token, complete_profile({}, "", "").token);
    EXPECT_EQ(load_profile(""), Credentials{});
    EXPECT_NO_THROW(save_profile("", stored)); // memory-only
    EXPECT_EQ(test::error_of([&] { save_profile((dir / "missing/p.bin").string(), stored); }),
              "cannot save profile");
    // A file cannot be renamed over a non-empty directory: the platform's own text.
    fs::create_directories(dir / "occupied" / "inside");
    const std::string refused =
        test::error_of([&] { save_profile((dir / "occupied").string(), stored); });
    EXPECT_TRUE(refused != "no error" && refused != "cannot save profile" && !refused.empty());
    EXPECT_TRUE(fs::is_directory(dir / "occupied" / "inside"));

    const std::string data = (dir / "data").string();
    ASSERT_EQ(setenv("XDG_DATA_HOME", data.c_str(), 1), 0); // where SDL puts it
    EXPECT_EQ(fs::path(resolve_profile_path(false, "")),
              fs::path(data) / "Lanternfox" / "Duskhollow" / "profile.bin");
    EXPECT_EQ(resolve_profile_path(true, "/x/p.bin"), "/x/p.bin");
    unsetenv("XDG_DATA_HOME");
    fs::remove_all(dir);
}

} // namespace
} // namespace kestrel
