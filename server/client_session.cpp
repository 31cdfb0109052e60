#include "server/client_session.h"

#include <stdexcept>

namespace kestrel {

void ClientSession::send(Type type, const Writer& payload, std::uint8_t channel, bool reliable) {
    send_in(epoch, type, payload, channel, reliable);
}

void ClientSession::send_in(std::uint32_t epoch_stamp, Type type, const Writer& payload,
                            std::uint8_t channel, bool reliable) {
    out.push_back({packet(type, session, ++sequence, epoch_stamp, payload), channel, reliable});
}

std::uint32_t next_epoch(std::uint32_t epoch) {
    return epoch + 1 == 0 ? 1 : epoch + 1;
}

bool valid_hello(const Header& header, Reader& in, std::uint8_t channel) {
    if (header.type != Type::Hello || channel != 0 || header.session != 0 || header.epoch != 0 ||
        header.length != 16)
        return false;
    return in.u32() == 1 && in.u32() == 7 && in.u32() == 1 && in.u32() == 0;
}

TransitionAck read_transition_ack(Reader& in) {
    TransitionAck ack;
    ack.transition = in.u64();
    ack.sector = in.u64();
    ack.revision = in.u32();
    ack.crc = in.u32();
    in.end();
    return ack;
}

std::vector<Input> read_input_commands(Reader& in) {
    const std::uint32_t count = in.u32();
    if (count < 1 || count > 3) throw std::runtime_error("invalid input commands");
    std::vector<Input> commands(count);
    for (Input& command : commands) {
        command.sequence = in.u32();
        command.tick = in.u32();
        command.buttons = in.u16();
        command.yaw = in.u16();
    }
    in.end();
    return commands;
}

Writer write_input_commands(const std::vector<Input>& commands) {
    Writer out;
    out.u32(static_cast<std::uint32_t>(commands.size()));
    for (const Input& command : commands) {
        out.u32(command.sequence);
        out.u32(command.tick);
        out.u16(command.buttons);
        out.u16(command.yaw);
    }
    return out;
}

} // namespace kestrel
