// Runs the real server and client on a loopback port of their own and reads what they print.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/process.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <utility>

namespace kestrel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::vector<std::string> plus(std::vector<std::string> a, std::vector<std::string> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The server on a free loopback port; its --seconds is only the backstop for stop().
struct Server {
    Server(const std::vector<std::string>& args, int seconds)
        : port(free_udp_port()),
          child(KESTREL_SERVER_BIN, plus(args, {"--port", std::to_string(port), "--seconds",
                                                std::to_string(seconds)})) {
        std::this_thread::sleep_for(200ms); // bound before the client's first packet
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
    Outcome stop() {
        kill(child.pid(), SIGTERM);
        return child.wait();
    }
    int port;
    Child child;
};

struct Match {
    Outcome client, server;
};

// The client (or `program`, given the client's arguments) against a server of its own.
inline Match play(const std::vector<std::string>& server_args,
                  const std::vector<std::string>& client_args, int server_seconds,
                  const std::string& program = KESTREL_CLIENT_BIN) {
    Server server(server_args, server_seconds);
    Match match;
    match.client = run(program, plus(client_args, {"-s", server.address()}),
                       std::chrono::seconds(server_seconds + 60));
    match.server = server.stop();
    return match;
}

// The values of the summary line, by name ("frames", "commits", ...); empty without one.
inline std::map<std::string, double> summary(const std::string& out) {
    std::map<std::string, double> values;
    const std::size_t start = out.find("Client stopped: ");
    if (start == std::string::npos) return values;
    std::istringstream line(out.substr(start, out.find('\n', start) - start));
    for (std::string word; line >> word;)
        if (const std::size_t equals = word.find('='); equals != std::string::npos)
            values[word.substr(0, equals)] = std::stod(word.substr(equals + 1));
    return values;
}

inline int count_lines_starting(const std::string& text, const std::string& prefix) {
    int count = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) count += line.rfind(prefix, 0) == 0;
    return count;
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sets environment variables for the children started while it lives.
struct Env {
    explicit Env(std::vector<std::pair<std::string, std::string>> vars) : vars(std::move(vars)) {
        for (const auto& [name, value] : this->vars) setenv(name.c_str(), value.c_str(), 1);
    }
    Env(const std::string& name, const std::string& value) : Env({{name, value}}) {}
    ~Env() {
        for (const auto& var : vars) unsetenv(var.first.c_str());
    }
    std::vector<std::pair<std::string, std::string>> vars;
};

} // namespace kestrel::test
