// The mouse buttons fire: the client plays in a visible window on the virtual display,
// xdotool clicks into it (capturing the mouse) and holds the left, then the right button
// through real X input events, and the server's --fire-report says which fire bits the
// input commands carried, run by run.
#include "tests/e2e/e2e.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace kestrel::test {
namespace {

using namespace std::chrono_literals;

struct FireRun {
    unsigned bits = 0;
    unsigned commands = 0;
};

// The runs of the server's first client, in the order they arrived.
std::vector<FireRun> fire_runs(const std::string& out) {
    std::vector<FireRun> runs;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned client = 0;
        FireRun run;
        if (std::sscanf(line.c_str(), "Fire client=%u bits=0x%x commands=%u", &client, &run.bits,
                        &run.commands) == 3 &&
            client == 1)
            runs.push_back(run);
    }
    return runs;
}

std::string find_on_path(const std::string& name) {
    std::istringstream path(getenv("PATH") != nullptr ? getenv("PATH") : "");
    std::string dir;
    while (std::getline(path, dir, ':'))
        if (std::filesystem::exists(dir + "/" + name)) return dir + "/" + name;
    return "";
}

TEST(Mouse, HeldButtonsFireWhileCaptured) {
    // tools/bootstrap installs xdotool and ctest runs this under xvfb-run, so neither may be
    // missing where the suite runs.
    const std::string xdotool = find_on_path("xdotool");
    ASSERT_FALSE(xdotool.empty()) << "xdotool not found on PATH (tools/bootstrap installs it)";
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "no X display; run under xvfb-run";
    const auto x = [&](std::vector<std::string> args) {
        const Outcome outcome = run(xdotool, args, 30s);
        EXPECT_EQ(outcome.status, 0) << "xdotool " << args[0] << ": " << outcome.err;
        return outcome.out;
    };

    const int port = free_udp_port();
    Child server(KESTREL_SERVER_BIN,
                 {"--port", std::to_string(port), "--seconds", "120", "--fire-report"});
    std::this_thread::sleep_for(200ms);
    // Visible: no --hidden. The time limit is only the backstop; Escape ends the run.
    Child client(KESTREL_CLIENT_BIN,
                 {"-s", "127.0.0.1:" + std::to_string(port), "--seconds", "90"});

    const std::string window = x({"search", "--sync", "--pid", std::to_string(client.pid())});
    const std::string id = window.substr(0, window.find('\n'));
    ASSERT_FALSE(id.empty());
    x({"windowfocus", "--sync", id});
    x({"mousemove", "--window", id, "320", "180"});
    std::this_thread::sleep_for(3s); // admitted and playing before the buttons count
    x({"click", "1"});               // captures the mouse
    std::this_thread::sleep_for(1s);
    for (const char* button : {"1", "3"}) {
        x({"mousedown", button});
        std::this_thread::sleep_for(2s);
        x({"mouseup", button});
        std::this_thread::sleep_for(1500ms);
    }
    x({"key", "Escape"}); // releases the mouse
    std::this_thread::sleep_for(500ms);
    x({"key", "Escape"}); // quits

    const Outcome played = client.wait(120s);
    EXPECT_EQ(played.status, 0) << played.err;
    EXPECT_GT(summary(played.out)["frames"], 0) << played.out;
    kill(server.pid(), SIGTERM);
    const Outcome served = server.wait(30s);
    ASSERT_EQ(served.status, 0) << served.err;

    // Each button held for two seconds is some 60 commands; the margins allow for a loaded
    // machine without letting a stray command pass for a held button.
    const std::vector<FireRun> runs = fire_runs(served.out);
    const auto held = [&](unsigned bits, std::size_t from) {
        for (std::size_t i = from; i < runs.size(); ++i)
            if (runs[i].bits == bits && runs[i].commands >= 10) return i;
        return runs.size();
    };
    const std::size_t left = held(0x10, 0);
    ASSERT_LT(left, runs.size()) << "no fire while the left button was held\n" << served.out;
    ASSERT_LT(held(0x20, left + 1), runs.size())
        << "no alternate fire while the right button was held\n"
        << served.out;
    for (const FireRun& run : runs) EXPECT_NE(run.bits, 0x30u) << served.out;
    EXPECT_EQ(runs.back().bits, 0u) << "still firing after the release\n" << served.out;
    EXPECT_GE(runs.back().commands, 15u) << served.out;
}

} // namespace
} // namespace kestrel::test
