// Parsing of the client's command line.
#include "client/options.h"

#include "protocol/label.h"

#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string_view>

namespace kestrel {
namespace {

// --weapon is accepted but deliberately not advertised.
std::string usage_line() {
    return "client [-l] [-s IP:PORT] [--host " + std::string(default_server_host) + "] [--port " +
           std::to_string(default_server_port) +
           "] [--demo] [--hidden] [--headless] [--frames N] [--seconds N] [--auto-combat] "
           "[--latency-ms 0..150] [--auto-portal] [--require-commits N] [--drop-every N] "
           "[--name NAME] [--party CODE] [--profile-file PATH] [--capture file.png] "
           "[--capture-wormhole file.png]\n";
}

// Unsigned decimal through std::stoul. Text that does not start with a number makes stoul
// throw std::invalid_argument, whose own message is reported unchanged; trailing
// characters, values beyond unsigned long and values outside [low, high] are all
// "option out of range".
std::uint32_t parse_number(const std::string& text, std::uint32_t low, std::uint32_t high) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used);
    } catch (const std::out_of_range&) {
        throw std::runtime_error("option out of range");
    }
    if (used != text.size() || value < low || value > high)
        throw std::runtime_error("option out of range");
    return static_cast<std::uint32_t>(value);
}

// -s HOST:PORT. Exactly one colon with text on both sides, no whitespace anywhere, digits
// only after the colon (which also rules out a second colon). The host part is not checked
// further: names resolve later.
void apply_server(const std::string& value, Options& options) {
    const std::size_t colon = value.find(':');
    bool well_formed = colon != std::string::npos && colon != 0 && colon + 1 < value.size() &&
                       value.find_first_of(" \t\n\r") == std::string::npos;
    for (std::size_t i = colon + 1; well_formed && i < value.size(); ++i)
        well_formed = value[i] >= '0' && value[i] <= '9';
    if (!well_formed)
        throw std::runtime_error("-s requires IPv4-address-or-hostname:port (1..65535)");
    const std::uint32_t port = parse_number(value.substr(colon + 1), 1, 65535);
    options.host = value.substr(0, colon);
    options.port = port;
}

struct NumberOption {
    std::string_view name;
    std::uint32_t Options::*field;
    std::uint32_t low;
    std::uint32_t high;
};

constexpr NumberOption number_options[] = {
    {"--port", &Options::port, 1, 65535},
    {"--weapon", &Options::weapon, 1, 4},
    {"--frames", &Options::frames, 1, 1000000},
    {"--seconds", &Options::seconds, 1, 3600},
    {"--latency-ms", &Options::latency_ms, 0, 150},
    {"--drop-every", &Options::drop_every, 2, 1000},
    {"--require-commits", &Options::require_commits, 1, 10000},
};

struct TextOption {
    std::string_view name;
    std::string Options::*field;
};

constexpr TextOption text_options[] = {
    {"--host", &Options::host},
    {"--capture", &Options::capture},
    {"--profile-file", &Options::profile_file},
    {"--capture-wormhole", &Options::capture_wormhole},
};

// Returns false when the argument is not a flag. --help ends the process right here, so
// nothing after it is looked at and no post-parse check runs.
bool apply_flag(std::string_view argument, Options& options) {
    if (argument.size() < 2 || argument.size() > 13) return false;
    if (argument == "-l") {
        options.host = "127.0.0.1";
        options.port = default_server_port;
    } else if (argument == "--help") {
        std::cout << usage_line() << std::flush;
        std::exit(0);
    } else if (argument == "--demo") {
        options.demo = true;
    } else if (argument == "--hidden") {
        options.hidden = true;
    } else if (argument == "--headless") {
        options.headless = true;
    } else if (argument == "--auto-combat") {
        options.auto_combat = true;
    } else if (argument == "--auto-portal") {
        options.auto_portal = true;
    } else {
        return false;
    }
    return true;
}

void apply_value(std::string_view name, const std::string& value, Options& options) {
    if (name == "-s") return apply_server(value, options);
    if (name == "--name") {
        options.name = filter_label(value, max_name_length);
        return;
    }
    if (name == "--party") {
        options.party = filter_label(value, max_party_length);
        return;
    }
    for (const NumberOption& option : number_options) {
        if (name == option.name) {
            options.*option.field = parse_number(value, option.low, option.high);
            return;
        }
    }
    for (const TextOption& option : text_options) {
        if (name == option.name) {
            options.*option.field = value;
            return;
        }
    }
    throw std::runtime_error("unknown option " + std::string(name));
}

} // namespace

// Any argument that is not a flag takes the next one as its value, even when it names no
// option: a misspelt last argument is "missing option value", not "unknown option".
Options parse_options(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (apply_flag(argument, options)) continue;
        if (i + 1 >= argc) throw std::runtime_error("missing option value");
        apply_value(argument, argv[++i], options);
    }
    return options;
}

// Contradictory run modes are refused before any subsystem starts.
void check_options(const Options& options) {
    if (options.headless && (!options.capture.empty() || !options.capture_wormhole.empty()))
        throw std::runtime_error("headless mode cannot capture GPU frames");
    if (options.demo && options.require_commits != 0)
        throw std::runtime_error("demo cannot commit network transitions");
}

} // namespace kestrel
