#include "server/commands.h"

#include <stdexcept>

#include "protocol/credentials.h"

namespace kestrel {
namespace {

[[noreturn]] void invalid() {
    throw std::runtime_error("invalid client command");
}

std::uint8_t in_range(std::uint8_t value, std::uint8_t low, std::uint8_t high) {
    if (value < low || value > high) invalid();
    return value;
}

} // namespace

ClientCommand read_client_command(Reader& in) {
    ClientCommand command;
    const std::uint8_t code = in.u8();
    if (code < 1 || code > 13) invalid();
    command.code = static_cast<CommandCode>(code);
    switch (command.code) {
    case CommandCode::JoinParty:
        command.name = fixed_text(in, 16);
        command.party = fixed_text(in, 12);
        break;
    case CommandCode::Colour:
        command.value = in_range(in.u8(), 0, 4);
        break;
    case CommandCode::AccountLink:
        for (std::uint8_t& byte : command.link) byte = in.u8();
        break;
    case CommandCode::Contract:
    case CommandCode::Upgrade:
        command.value = in_range(in.u8(), 1, 3);
        break;
    case CommandCode::ShareDestination:
        command.sector = in.u64();
        break;
    case CommandCode::Risk:
        command.value = in.u8();
        if (command.value != 1 && command.value != 2 && command.value != 4) invalid();
        break;
    case CommandCode::Vote:
        command.value = in_range(in.u8(), 1, 2);
        break;
    case CommandCode::Ping:
    case CommandCode::Reload:
    case CommandCode::CrewCreate:
    case CommandCode::CrewJoin:
    case CommandCode::CrewLeave:
        break;
    }
    in.end();
    return command;
}

Writer write_client_command(const ClientCommand& command) {
    Writer out;
    out.u8(static_cast<std::uint8_t>(command.code));
    switch (command.code) {
    case CommandCode::JoinParty:
        write_label(out, command.name, 16);
        write_label(out, command.party, 12);
        break;
    case CommandCode::AccountLink:
        for (const std::uint8_t byte : command.link) out.u8(byte);
        break;
    case CommandCode::ShareDestination:
        out.u64(command.sector);
        break;
    case CommandCode::Colour:
    case CommandCode::Contract:
    case CommandCode::Risk:
    case CommandCode::Upgrade:
    case CommandCode::Vote:
        out.u8(command.value);
        break;
    case CommandCode::Ping:
    case CommandCode::Reload:
    case CommandCode::CrewCreate:
    case CommandCode::CrewJoin:
    case CommandCode::CrewLeave:
        break;
    }
    return out;
}

} // namespace kestrel
