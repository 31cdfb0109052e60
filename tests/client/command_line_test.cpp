// Runs the real client binary and checks its exact output and exit status: parse errors,
// contradictory run modes and --help end before the game loop starts; the offline demo
// and a few host settings are observed through short real runs. Acceptance of a value is
// often observed by pairing it with a run-mode conflict that is only detected after
// parsing: reaching that message proves the value parsed.
#include "client/defaults.h"

#include <gtest/gtest.h>

#include "tests/support/process.h"

#include <string>
#include <vector>

namespace kestrel {
namespace {

using test::Outcome;

Outcome run_client(const std::vector<std::string>& args) {
    return test::run(KESTREL_CLIENT_BIN, args, std::chrono::seconds(30));
}

void expect_error(const std::vector<std::string>& args, const std::string& message) {
    std::string shown;
    for (const std::string& arg : args) shown += " [" + arg + "]";
    SCOPED_TRACE("client" + shown);
    const Outcome outcome = run_client(args);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "client: " + message + "\n");
    EXPECT_EQ(outcome.out, "");
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& tail) {
    args.insert(args.end(), tail.begin(), tail.end());
    return args;
}

// Fails after parsing, so reaching its message means every argument before it was accepted.
const std::vector<std::string> headless_capture{"--headless", "--capture", "x.png"};
const std::string headless_message = "headless mode cannot capture GPU frames";
const std::string demo_message = "demo cannot commit network transitions";
const std::string range_message = "option out of range";
const std::string server_message = "-s requires IPv4-address-or-hostname:port (1..65535)";

TEST(CommandLineServer, MalformedAddressesGetTheUsageMessage) {
    for (const char* value :
         {":7777", "10.0.0.5:", "10.0.0.5:77:77", "10.0.0.5 :7777", "10.0.0.5:77a7", "10.0.0.5", "",
          "host\t:7777", "ho\nst:7777", "host\r:7777", "host:7777 ", "::"}) {
        expect_error({"-s", value}, server_message);
    }
}

TEST(CommandLineServer, PortMustBeOneTo65535) {
    expect_error({"-s", "10.0.0.5:0"}, range_message);
    expect_error({"-s", "10.0.0.5:65536"}, range_message);
    expect_error({"-s", "10.0.0.5:99999999999999999999999"}, range_message);
    // Shape is checked before the port's value.
    expect_error({"-s", ":0"}, server_message);
}

TEST(CommandLineServer, WellFormedAddressesAreAccepted) {
    for (const char* value : {"10.0.0.5:1", "play.example.org:65535", "h:007777"})
        expect_error(with({"-s", value}, headless_capture), headless_message);
}

TEST(CommandLineNumbers, ValuesJustOutsideTheirRangesAreRejected) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port", "0"},
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
    };
    for (const auto& args : cases) expect_error(args, range_message);
}

TEST(CommandLineNumbers, RangeEndsAreAccepted) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port", "1"},
        {"--port", "65535"},
        {"--weapon", "1"},
        {"--weapon", "4"},
        {"--frames", "1"},
        {"--frames", "1000000"},
        {"--seconds", "1"},
        {"--seconds", "3600"},
        {"--latency-ms", "0"},
        {"--latency-ms", "150"},
        {"--drop-every", "2"},
        {"--drop-every", "1000"},
        {"--require-commits", "1"},
        {"--require-commits", "10000"},
    };
    for (const auto& args : cases) expect_error(with(args, headless_capture), headless_message);
}

TEST(CommandLineNumbers, TrailingCharactersAndOverflowAreOutOfRange) {
    expect_error({"--port", "80abc"}, range_message);
    expect_error({"--port", "80 "}, range_message);
    expect_error({"--port", "0x50"}, range_message);
    expect_error({"--frames", "99999999999999999999999"}, range_message);
    // A minus sign wraps around in the unsigned conversion, far beyond every range.
    expect_error({"--latency-ms", "-1"}, range_message);
}

TEST(CommandLineNumbers, TextThatIsNoNumberReportsTheConversionError) {
    for (const char* value : {"abc", "", "x80", "-"}) expect_error({"--port", value}, "stoul");
    expect_error({"--seconds", "ten"}, "stoul");
}

TEST(CommandLineOptions, LastArgumentWithoutValueIsMissingEvenWhenUnknown) {
    expect_error({"--bogus"}, "missing option value");
    expect_error({"--headless", "--frames"}, "missing option value");
    expect_error({"-x"}, "missing option value");
    expect_error({"--bogus", "1"}, "unknown option --bogus");
}

TEST(CommandLineOptions, FlagsTakeNoValue) {
    // Were any of these taken as a value option, it would swallow its neighbour and fail
    // as an unknown option instead.
    expect_error(
        with({"-l", "--hidden", "--auto-combat", "--auto-portal", "--demo"}, headless_capture),
        headless_message);
}

TEST(CommandLineOptions, UnknownNamesAreReportedVerbatim) {
    expect_error({"--Headless", "x"}, "unknown option --Headless");
    expect_error({"--demo=1", "x"}, "unknown option --demo=1");
    expect_error({"-", "x"}, "unknown option -");
    expect_error({"", "x"}, "unknown option ");
    // --weapon is valid although the usage line leaves it out.
    expect_error(with({"--weapon", "2"}, headless_capture), headless_message);
}

TEST(CommandLineOptions, ValuesAreTakenVerbatimEvenWhenTheyLookLikeFlags) {
    // --help and --headless are consumed as values here, so neither acts.
    expect_error(with({"--name", "--help"}, headless_capture), headless_message);
    expect_error({"--host", "--headless", "--capture", "x.png", "--demo", "--require-commits", "1"},
                 demo_message);
}

TEST(CommandLineOptions, TheLastOfARepeatedOptionWins) {
    // With the second, empty capture path the headless check passes and the demo check fires.
    expect_error(
        {"--capture", "x.png", "--capture", "", "--headless", "--demo", "--require-commits", "1"},
        demo_message);
    expect_error({"--capture", "", "--capture", "x.png", "--headless"}, headless_message);
}

TEST(CommandLineOptions, OddNamesAndPartyCodesAreAccepted) {
    expect_error(with({"--name", "ab-c_d!", "--party", "****"}, headless_capture),
                 headless_message);
    expect_error(with({"--name", "abcdefghijklmnopqrst", "--party", "", "--name", "\xC3\xA9"},
                      headless_capture),
                 headless_message);
}

TEST(CommandLineHelp, PrintsTheUsageLineAndExitsZero) {
    const std::string usage =
        "client [-l] [-s IP:PORT] [--host " + std::string(default_server_host) +
        "] [--port 7777] [--demo] [--hidden] [--headless] [--frames N] [--seconds N] "
        "[--auto-combat] [--latency-ms 0..150] [--auto-portal] [--require-commits N] "
        "[--drop-every N] [--name NAME] [--party CODE] [--profile-file PATH] "
        "[--capture file.png] [--capture-wormhole file.png]\n";
    // After --help nothing is looked at: neither later errors nor the run-mode checks.
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"--help", "--frames", "0"},
                                               {"--help", "--bogus"},
                                               {"--headless", "--capture", "x.png", "--help"},
                                               {"--demo", "--require-commits", "1", "--help"}}) {
        const Outcome outcome = run_client(args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, usage);
        EXPECT_EQ(outcome.err, "");
    }
}

TEST(CommandLineHelp, AnEarlierErrorWins) {
    expect_error({"--frames", "0", "--help"}, range_message);
    expect_error({"--bogus", "x", "--help"}, "unknown option --bogus");
    expect_error({"-s", "nohost", "--help"}, server_message);
}

TEST(CommandLineRunModes, ConflictingModesAreRefused) {
    expect_error(headless_capture, headless_message);
    expect_error({"--capture-wormhole", "w.png", "--headless"}, headless_message);
    expect_error({"--demo", "--require-commits", "1"}, demo_message);
    // Headless alone is no conflict for the demo check to hide behind.
    expect_error({"--headless", "--demo", "--require-commits", "1"}, demo_message);
}

TEST(CommandLineRunModes, HeadlessConflictIsReportedBeforeDemoConflict) {
    expect_error({"--demo", "--require-commits", "1", "--headless", "--capture", "x.png"},
                 headless_message);
}

TEST(CommandLineRunModes, ParseErrorsComeBeforeRunModeChecks) {
    expect_error(with(headless_capture, {"--frames", "0"}), range_message);
    expect_error(with(headless_capture, {"--bogus"}), "missing option value");
}

} // namespace
} // namespace kestrel

namespace kestrel {
namespace {

const std::string summary_prefix = "Client stopped: frames=";

TEST(CommandLineRuns, DemoWithSecondsEndsNormallyWithoutSnapshots) {
    const Outcome outcome = run_client({"--demo", "--headless", "--seconds", "1"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    ASSERT_EQ(outcome.out.rfind(summary_prefix, 0), 0u) << outcome.out;
    EXPECT_NE(outcome.out.find(" commits=0 "), std::string::npos);
    EXPECT_NE(outcome.out.find(" snapshots=0 reconciliations=0 largest_correction=0\n"),
              std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.out.find('\n'), outcome.out.size() - 1) << "exactly one line";
}

TEST(CommandLineRuns, FramesOneRunsExactlyOneIteration) {
    const Outcome outcome = run_client({"--demo", "--headless", "--frames", "1"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out.rfind(summary_prefix + "1 commits=0 ", 0), 0u) << outcome.out;
}

// The host a run talks to is only visible through what fails: an unresolvable name is
// refused at start-up, before any loop iteration.
TEST(CommandLineRuns, HostAfterLocalFlagWins) {
    expect_error({"--headless", "-l", "--host", "no-such-host.invalid", "--frames", "1"},
                 "cannot resolve server no-such-host.invalid");
}

TEST(CommandLineRuns, LocalFlagAfterHostWins) {
    // -l replaces the unresolvable name with the loopback address: one iteration ends
    // normally (nothing has to answer within a single frame).
    const Outcome outcome =
        run_client({"--headless", "--host", "no-such-host.invalid", "-l", "--frames", "1"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.rfind(summary_prefix + "1 ", 0), 0u) << outcome.out;
}

} // namespace
} // namespace kestrel
