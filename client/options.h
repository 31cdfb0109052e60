// The client's command line: the options of one run, parsed and checked before anything
// else is created.
#pragma once

#include "client/defaults.h"

#include <cstdint>
#include <string>

namespace kestrel {

// Everything a run does is fixed here before anything else is created; it never changes
// afterwards. Zero in frames, seconds, require_commits and drop_every means "off".
struct Options {
    std::string host{default_server_host};
    std::string capture;
    std::string capture_wormhole;
    std::string name;
    std::string party;
    std::string profile_file;
    std::uint32_t latency_ms = 0;
    std::uint32_t weapon = 1;
    std::uint32_t port = default_server_port;
    std::uint32_t frames = 0;
    std::uint32_t seconds = 0;
    std::uint32_t require_commits = 0;
    std::uint32_t drop_every = 0;
    bool auto_combat = false;
    bool demo = false;
    bool hidden = false;
    bool headless = false;
    bool auto_portal = false;
};

// Any argument that is not a flag takes the next one as its value, even when it names no
// option: a misspelt last argument is "missing option value", not "unknown option".
// --help prints the usage line and ends the process with status 0.
Options parse_options(int argc, char** argv);

// Contradictory run modes are refused before any subsystem starts.
void check_options(const Options& options);

} // namespace kestrel
