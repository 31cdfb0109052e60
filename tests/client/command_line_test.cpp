// Runs the real client binary and checks its exact output and exit status. Acceptance of a
// value is observed by pairing it with a run-mode conflict that is only detected after
// parsing: reaching that message proves every argument before it was accepted.
#include "client/defaults.h"

#include <gtest/gtest.h>

#include "tests/support/process.h"

#include <string>
#include <vector>

namespace kestrel {
namespace {

using Args = std::vector<std::string>;

test::Outcome run_client(const Args& args) {
    return test::run(KESTREL_CLIENT_BIN, args, std::chrono::seconds(30));
}

void expect_error(const Args& args, const std::string& message) {
    std::string shown;
    for (const std::string& arg : args) shown += " [" + arg + "]";
    SCOPED_TRACE("client" + shown);
    const test::Outcome outcome = run_client(args);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "client: " + message + "\n");
    EXPECT_EQ(outcome.out, "");
}

const Args headless_capture{"--headless", "--capture", "x.png"};
const std::string headless = "headless mode cannot capture GPU frames";
const std::string demo = "demo cannot commit network transitions";
const std::string range = "option out of range";
const std::string server = "-s requires IPv4-address-or-hostname:port (1..65535)";

TEST(CommandLine, RefusedArgumentsEndWithTheirMessage) {
    struct Case {
        Args args;
        std::string message;
    };
    std::vector<Case> cases;
    for (const char* value :
         {":7777", "10.0.0.5:", "10.0.0.5:77:77", "10.0.0.5 :7777", "10.0.0.5:77a7", "10.0.0.5", "",
          "host\t:7777", "host:7777 ", "::", ":0"}) // the shape is checked before the port's value
        cases.push_back({{"-s", value}, server});
    for (const char* value : {"10.0.0.5:0", "10.0.0.5:65536", "10.0.0.5:99999999999999999999999"})
        cases.push_back({{"-s", value}, range});
    const Args just_outside[] = {{"--port", "0"},
                                 {"--port", "65536"},
                                 {"--weapon", "0"},
                                 {"--weapon", "5"},
                                 {"--frames", "0"},
                                 {"--frames", "1000001"},
                                 {"--seconds", "0"},
                                 {"--seconds", "3601"},
                                 {"--latency-ms", "151"},
                                 {"--drop-every", "1"},
                                 {"--drop-every", "1001"},
                                 {"--require-commits", "0"},
                                 {"--require-commits", "10001"},
                                 // characters after the digits, overflow, a wrapped minus
                                 {"--port", "80abc"},
                                 {"--port", "80 "},
                                 {"--port", "0x50"},
                                 {"--frames", "99999999999999999999999"},
                                 {"--latency-ms", "-1"}};
    for (const Args& args : just_outside) cases.push_back({args, range});
    for (const char* value : {"abc", "", "-"}) cases.push_back({{"--port", value}, "stoul"});
    const Case others[] = {
        {{"--bogus"}, "missing option value"}, // the last argument, even when unknown
        {{"--headless", "--frames"}, "missing option value"},
        {{"--bogus", "1"}, "unknown option --bogus"},
        {{"--Headless", "x"}, "unknown option --Headless"},
        {{"--demo=1", "x"}, "unknown option --demo=1"},
        {{"", "x"}, "unknown option "},
        // An earlier error wins over a later --help.
        {{"--frames", "0", "--help"}, range},
        {{"-s", "nohost", "--help"}, server},
        // Run modes are checked after parsing, headless before demo.
        {headless_capture, headless},
        {{"--capture-wormhole", "w.png", "--headless"}, headless},
        {{"--headless", "--demo", "--require-commits", "1"}, demo},
        {{"--demo", "--require-commits", "1", "--headless", "--capture", "x.png"}, headless},
        {{"--headless", "--capture", "x.png", "--frames", "0"}, range},
        // Values are taken verbatim, so --headless here is the host, not the flag.
        {{"--host", "--headless", "--capture", "x.png", "--demo", "--require-commits", "1"}, demo},
        // The last of a repeated option wins.
        {{"--capture", "x.png", "--capture", "", "--headless", "--demo", "--require-commits", "1"},
         demo},
        {{"--capture", "", "--capture", "x.png", "--headless"}, headless},
    };
    cases.insert(cases.end(), std::begin(others), std::end(others));
    for (const Case& c : cases) expect_error(c.args, c.message);
}

TEST(CommandLine, AcceptedValuesReachTheRunModeCheck) {
    const Args accepted[] = {
        {"-s", "10.0.0.5:1"},
        {"-s", "play.example.org:65535"},
        {"-s", "h:007777"},
        {"--port", "1", "--port", "65535", "--weapon", "1", "--weapon", "4"},
        {"--frames", "1", "--frames", "1000000", "--seconds", "1", "--seconds", "3600"},
        {"--latency-ms", "0", "--latency-ms", "150", "--drop-every", "2", "--drop-every", "1000"},
        {"--require-commits", "1", "--require-commits", "10000"},
        {"-l", "--hidden", "--auto-combat", "--auto-portal", "--demo"}, // flags take no value
        {"--name", "ab-c_d!", "--party", "****"},
        {"--name", "abcdefghijklmnopqrst", "--party", "", "--name", "\xC3\xA9"},
        {"--name", "--help"}, // a value, so no usage line
    };
    for (Args args : accepted) {
        args.insert(args.end(), headless_capture.begin(), headless_capture.end());
        expect_error(args, headless);
    }
}

TEST(CommandLine, HelpPrintsTheUsageLineAndNothingAfterItIsLookedAt) {
    const std::string usage =
        "client [-l] [-s IP:PORT] [--host " + std::string(default_server_host) +
        "] [--port 7777] [--demo] [--hidden] [--headless] [--frames N] [--seconds N] "
        "[--auto-combat] [--latency-ms 0..150] [--auto-portal] [--require-commits N] "
        "[--drop-every N] [--name NAME] [--party CODE] [--profile-file PATH] "
        "[--capture file.png] [--capture-wormhole file.png]\n";
    for (const Args& args : {Args{"--help"}, Args{"--help", "--frames", "0"}, Args{"--help", "-x"},
                             Args{"--headless", "--capture", "x.png", "--help"}}) {
        const test::Outcome outcome = run_client(args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, usage);
        EXPECT_EQ(outcome.err, "");
    }
}

TEST(CommandLine, ShortRunsPrintOneSummaryLine) {
    test::Outcome outcome = run_client({"--demo", "--headless", "--seconds", "1"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    ASSERT_EQ(outcome.out.rfind("Client stopped: frames=", 0), 0u) << outcome.out;
    EXPECT_NE(outcome.out.find(" commits=0 "), std::string::npos);
    EXPECT_NE(outcome.out.find(" snapshots=0 reconciliations=0 largest_correction=0\n"),
              std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.out.find('\n'), outcome.out.size() - 1) << "exactly one line";

    outcome = run_client({"--demo", "--headless", "--frames", "1"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out.rfind("Client stopped: frames=1 commits=0 ", 0), 0u) << outcome.out;

    // The host is seen through what fails: --host after -l keeps the unresolvable name, -l
    // after --host replaces it with the loopback address (one frame needs no answer).
    expect_error({"--headless", "-l", "--host", "no-such-host.invalid", "--frames", "1"},
                 "cannot resolve server no-such-host.invalid");
    outcome = run_client({"--headless", "--host", "no-such-host.invalid", "-l", "--frames", "1"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.rfind("Client stopped: frames=1 ", 0), 0u) << outcome.out;
}

} // namespace
} // namespace kestrel
