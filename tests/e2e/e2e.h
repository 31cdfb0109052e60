// Runs the real server and client on a loopback port of their own and parses what the
// client printed.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/process.h"

#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test {

struct Match {
    Outcome client;
    Outcome server;
};

// Starts the server (it would stop by itself after server_seconds), gives it a moment to
// bind, runs the client against it, then stops the server and collects both.
inline Match play(std::vector<std::string> server_args, std::vector<std::string> client_args,
                  int server_seconds) {
    const int port = free_udp_port();
    server_args.insert(server_args.end(), {"--port", std::to_string(port), "--seconds",
                                           std::to_string(server_seconds)});
    Child server(KESTREL_SERVER_BIN, server_args);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    client_args.insert(client_args.end(), {"-s", "127.0.0.1:" + std::to_string(port)});
    Match match;
    match.client = run(KESTREL_CLIENT_BIN, client_args, std::chrono::seconds(server_seconds + 30));
    kill(server.pid(), SIGTERM); // the server's --seconds is only the backstop
    match.server = server.wait(std::chrono::seconds(server_seconds + 30));
    return match;
}

// The values of the summary line, by name ("frames", "commits", ...); empty without one.
inline std::map<std::string, double> summary(const std::string& out) {
    std::map<std::string, double> values;
    const std::string prefix = "Client stopped: ";
    const std::size_t start = out.find(prefix);
    if (start == std::string::npos) return values;
    std::istringstream line(out.substr(start + prefix.size(), out.find('\n', start) - start));
    std::string word;
    while (line >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos)
            values[word.substr(0, equals)] = std::stod(word.substr(equals + 1));
    }
    return values;
}

inline int count_lines_starting(const std::string& text, const std::string& prefix) {
    int count = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(prefix, 0) == 0) ++count;
    return count;
}

} // namespace kestrel::test
