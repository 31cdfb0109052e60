// Runs the real client binary and checks its exact output and exit status: parse errors,
// contradictory run modes and --help end before the game loop starts; the offline demo
// and a few host settings are observed through short real runs. Acceptance of a value is
// often observed by pairing it with a run-mode conflict that is only detected after
// parsing: reaching that message proves the value parsed.
#include "client/defaults.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace kestrel {
namespace {

struct Outcome {
    int status = -1; // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// posix_spawn with the arguments passed as an argument vector, so no shell ever
// re-interprets blanks, quotes or empty strings.
Outcome run_client(const std::vector<std::string>& args) {
    std::vector<std::string> words{KESTREL_CLIENT_BIN};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);

    Outcome outcome;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        close(out_pipe[0]);
        close(err_pipe[0]);
        return outcome;
    }
    // Drain both pipes together so that neither can fill up and stall the child.
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    int open_pipes = 2;
    while (open_pipes > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    int wait_status = 0;
    while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
    return outcome;
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
