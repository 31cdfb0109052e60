#include "server/options.h"

#include <charconv>
#include <stdexcept>

#include "server/faults.h"

namespace kestrel {
namespace {

[[noreturn]] void invalid(std::string_view name, std::string_view value) {
    throw std::runtime_error("invalid value for " + std::string(name) + ": " + std::string(value));
}

// Decimal, or hexadecimal after 0x; the whole text must be the number.
std::uint64_t parse_number(std::string_view name, std::string_view text, std::uint64_t low,
                           std::uint64_t high) {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value < low || value > high)
        invalid(name, text);
    return value;
}

struct Flag {
    std::string_view name;
    bool FaultOptions::*member;
};

constexpr Flag flags[] = {
    {"--duplicate-chunks", &FaultOptions::duplicate_chunks},
    {"--reverse-chunks", &FaultOptions::reverse_chunks},
    {"--early-chunks", &FaultOptions::early_chunks},
    {"--abort-first-handoff", &FaultOptions::abort_first_handoff},
};

// Numeric options: where the value goes and its range.
struct Number {
    std::string_view name;
    std::uint64_t low;
    std::uint64_t high;
    void (*store)(ServerOptions&, std::uint64_t);
};

constexpr Number numbers[] = {
    {"--port", 1, 65535,
     [](ServerOptions& o, std::uint64_t v) { o.port = static_cast<std::uint16_t>(v); }},
    {"--seconds", 1, 86400,
     [](ServerOptions& o, std::uint64_t v) { o.seconds = static_cast<std::uint32_t>(v); }},
    {"--seed", 0, UINT64_MAX, [](ServerOptions& o, std::uint64_t v) { o.seed = v; }},
    {"--enemies", 0, 64,
     [](ServerOptions& o, std::uint64_t v) { o.enemies = static_cast<std::uint32_t>(v); }},
    {"--items", 0, 64,
     [](ServerOptions& o, std::uint64_t v) { o.items = static_cast<std::uint32_t>(v); }},
    // With the viewer, a full crowd fills one snapshot (sixteen parts of 23).
    {"--crowd", 0, 367,
     [](ServerOptions& o, std::uint64_t v) { o.crowd = static_cast<std::uint32_t>(v); }},
    {"--loss-every", 2, 1000,
     [](ServerOptions& o, std::uint64_t v) {
         o.faults.loss_every = static_cast<std::uint32_t>(v);
     }},
    {"--delay-ms", 0, 2000,
     [](ServerOptions& o, std::uint64_t v) { o.faults.delay_ms = static_cast<std::uint32_t>(v); }},
};

} // namespace

ServerOptions parse_server_options(std::span<const std::string> arguments) {
    ServerOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--fire-report") {
            options.fire_report = true;
            continue;
        }
        if (name == "--fallen-crowd") {
            options.fallen_crowd = true;
            continue;
        }
        bool matched = false;
        for (const Flag& flag : flags) {
            if (name == flag.name) {
                options.faults.*flag.member = true;
                matched = true;
            }
        }
        if (matched) continue;

        const bool takes_value = name == "--bind" || name == "--fault";
        const Number* number = nullptr;
        for (const Number& candidate : numbers)
            if (name == candidate.name) number = &candidate;
        if (!takes_value && number == nullptr) throw std::runtime_error("unknown option " + name);
        if (i + 1 >= arguments.size()) throw std::runtime_error("missing value for " + name);
        const std::string& value = arguments[++i];

        if (number != nullptr) {
            number->store(options, parse_number(name, value, number->low, number->high));
        } else if (name == "--bind") {
            if (value.empty()) invalid(name, value);
            options.bind = value;
        } else {
            if (find_fault(value) == nullptr) throw std::runtime_error("unknown fault " + value);
            options.faults.fault = value;
        }
    }
    return options;
}

std::string_view server_usage() {
    return "server [--port N] [--bind ADDR] [--seconds N] [--seed N] [--enemies N] [--items N]\n"
           "       [--crowd N] [--fallen-crowd] [--loss-every N] [--delay-ms N]\n"
           "       [--duplicate-chunks] [--reverse-chunks] [--early-chunks]\n"
           "       [--abort-first-handoff] [--fault NAME] [--fire-report]\n";
}

} // namespace kestrel
