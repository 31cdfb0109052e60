// The mouse buttons fire: the client plays in a visible window on the virtual display,
// xdotool clicks into it (capturing the mouse) and holds the left, then the right button
// through real X input events; the server's --fire-report tells which fire bits the input
// commands carried, run by run.
#include "tests/e2e/e2e.h"

#include <cstdio>

namespace kestrel::test {
namespace {

TEST(Mouse, HeldButtonsFireWhileCaptured) {
    ASSERT_TRUE(fs::exists("/usr/bin/xdotool")) << "tools/bootstrap installs xdotool";
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "no X display; run under xvfb-run";
    const auto x = [&](std::vector<std::string> args) {
        const Outcome outcome = run("/usr/bin/xdotool", args, 30s);
        EXPECT_EQ(outcome.status, 0) << "xdotool " << args[0] << ": " << outcome.err;
        return outcome.out;
    };
    Server server({"--fire-report"}, 120);
    // Visible: no --hidden. The time limit is only the backstop; Escape ends the run.
    Child client(KESTREL_CLIENT_BIN, {"-s", server.address(), "--seconds", "90"});
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
    const Outcome served = server.stop();
    ASSERT_EQ(served.status, 0) << served.err;

    // The fire runs of the server's first client, in order: {bits, commands}.
    std::vector<std::pair<unsigned, unsigned>> runs;
    std::istringstream lines(served.out);
    for (std::string line; std::getline(lines, line);) {
        unsigned client_id = 0, bits = 0, commands = 0;
        if (std::sscanf(line.c_str(), "Fire client=%u bits=0x%x commands=%u", &client_id, &bits,
                        &commands) == 3 &&
            client_id == 1)
            runs.emplace_back(bits, commands);
    }
    // A button held for two seconds is some 60 commands; the margins allow for a loaded
    // machine without letting a stray command pass for a held button.
    const auto held = [&](unsigned bits, std::size_t from) {
        for (std::size_t i = from; i < runs.size(); ++i)
            if (runs[i].first == bits && runs[i].second >= 10) return i;
        return runs.size();
    };
    const std::size_t left = held(0x10, 0);
    ASSERT_LT(left, runs.size()) << "no fire while the left button was held\n" << served.out;
    ASSERT_LT(held(0x20, left + 1), runs.size())
        << "no alternate fire while the right button was held\n"
        << served.out;
    for (const auto& run : runs) EXPECT_NE(run.first, 0x30u) << served.out;
    EXPECT_EQ(runs.back().first, 0u) << "still firing after the release\n" << served.out;
    EXPECT_GE(runs.back().second, 15u) << served.out;
}

} // namespace
} // namespace kestrel::test
