// ClientCommand payloads exactly as the client builds them, and the messages the server's
// own client payload readers refuse with.
#include <gtest/gtest.h>

#include "server/client_session.h"
#include "server/commands.h"

namespace kestrel {
namespace {

ClientCommand read(const Bytes& payload) {
    Reader in(payload);
    return read_client_command(in);
}

std::string error_of(const Bytes& payload) {
    try {
        read(payload);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(ServerCommands, PartyCommandCarriesTwoLabels) {
    Bytes payload{1};
    const std::string name = "RANGER_7";
    payload.insert(payload.end(), name.begin(), name.end());
    payload.resize(1 + 16, 0);
    payload.insert(payload.end(), {'A', 'B', '1'});
    payload.resize(1 + 16 + 12, 0);
    const ClientCommand command = read(payload);
    EXPECT_EQ(command.code, CommandCode::JoinParty);
    EXPECT_EQ(command.name, "RANGER_7");
    EXPECT_EQ(command.party, "AB1");
    // An empty party code is 12 zero bytes and still a valid command.
    Bytes empty_party(payload.begin(), payload.begin() + 17);
    empty_party.resize(29, 0);
    EXPECT_EQ(read(empty_party).party, "");
}

TEST(ServerCommands, EveryCodeReadsItsArguments) {
    EXPECT_EQ(read({2, 4}).value, 4);
    EXPECT_EQ(read({3}).code, CommandCode::Ping);
    EXPECT_EQ(read({4}).code, CommandCode::Reload);
    Bytes link{5};
    for (std::uint8_t i = 0; i < 16; ++i) link.push_back(static_cast<std::uint8_t>(0xF0 + i));
    EXPECT_EQ(read(link).link[15], 0xFF);
    EXPECT_EQ(read({6, 3}).value, 3);
    EXPECT_EQ(read({7, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}).sector,
              0x5566778811223344u);
    EXPECT_EQ(read({8}).code, CommandCode::CrewCreate);
    EXPECT_EQ(read({9}).code, CommandCode::CrewJoin);
    EXPECT_EQ(read({10}).code, CommandCode::CrewLeave);
    EXPECT_EQ(read({11, 4}).value, 4);
    EXPECT_EQ(read({12, 1}).value, 1);
    EXPECT_EQ(read({13, 2}).value, 2);
}

TEST(ServerCommands, WriterAndReaderAgree) {
    ClientCommand command;
    command.code = CommandCode::JoinParty;
    command.name = "NOVA";
    command.party = "X9";
    EXPECT_EQ(read(write_client_command(command).bytes), command);
    command = ClientCommand{};
    command.code = CommandCode::ShareDestination;
    command.sector = 77;
    EXPECT_EQ(read(write_client_command(command).bytes), command);
}

TEST(ServerCommands, RefusedPayloads) {
    EXPECT_EQ(error_of({0}), "invalid client command");
    EXPECT_EQ(error_of({14}), "invalid client command");
    EXPECT_EQ(error_of({2, 5}), "invalid client command");
    EXPECT_EQ(error_of({6, 0}), "invalid client command");
    EXPECT_EQ(error_of({11, 3}), "invalid client command");
    EXPECT_EQ(error_of({13, 0}), "invalid client command");
    EXPECT_EQ(error_of({}), "truncated packet");
    EXPECT_EQ(error_of({2}), "truncated packet");
    EXPECT_EQ(error_of({3, 0}), "trailing bytes");
    Bytes lower{1, 'a'};
    lower.resize(29, 0);
    EXPECT_EQ(error_of(lower), "invalid label");
}

TEST(ServerClientPayloads, InputCommandsCountAndLength) {
    const Writer three = write_input_commands({{1, 10, 0x41, 7}, {2, 11, 0, 8}, {3, 12, 1, 9}});
    EXPECT_EQ(three.bytes.size(), 4u + 36);
    Reader in(three.bytes);
    const std::vector<Input> commands = read_input_commands(in);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0], (Input{1, 10, 0x41, 7}));
    EXPECT_EQ(commands[2], (Input{3, 12, 1, 9}));

    auto error = [](const Bytes& bytes) -> std::string {
        try {
            Reader r(bytes);
            read_input_commands(r);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(no error)";
    };
    Bytes none{0, 0, 0, 0};
    EXPECT_EQ(error(none), "invalid input commands");
    Bytes four{4, 0, 0, 0};
    four.resize(4 + 48, 0);
    EXPECT_EQ(error(four), "invalid input commands");
    Bytes short_one(three.bytes.begin(), three.bytes.end() - 1);
    EXPECT_EQ(error(short_one), "truncated packet");
    Bytes extra = write_input_commands({{1, 1, 0, 0}}).bytes;
    extra.push_back(0);
    EXPECT_EQ(error(extra), "trailing bytes");
}

TEST(ServerClientPayloads, HelloMustBeExact) {
    Writer hello;
    for (const std::uint32_t value : {1u, 7u, 1u, 0u}) hello.u32(value);
    auto check = [&](std::uint64_t session, std::uint32_t epoch, std::uint8_t channel,
                     const Writer& payload) {
        const Bytes bytes = packet(Type::Hello, session, 1, epoch, payload);
        Reader in(bytes);
        const Header header = read_header(in);
        return valid_hello(header, in, channel);
    };
    EXPECT_TRUE(check(0, 0, 0, hello));
    EXPECT_FALSE(check(1, 0, 0, hello));
    EXPECT_FALSE(check(0, 1, 0, hello));
    EXPECT_FALSE(check(0, 0, 1, hello));
    Writer other = hello;
    other.bytes[4] = 6;
    EXPECT_FALSE(check(0, 0, 0, other));
    Writer longer = hello;
    longer.u8(0);
    EXPECT_FALSE(check(0, 0, 0, longer));
}

TEST(ServerClientPayloads, TransitionAckIsTwentyFourBytes) {
    Writer ack;
    ack.u64(5);
    ack.u64(2);
    ack.u32(1);
    ack.u32(0xCAFEF00D);
    Reader in(ack.bytes);
    const TransitionAck read_back = read_transition_ack(in);
    EXPECT_EQ(read_back.transition, 5u);
    EXPECT_EQ(read_back.sector, 2u);
    EXPECT_EQ(read_back.revision, 1u);
    EXPECT_EQ(read_back.crc, 0xCAFEF00Du);
    ack.u8(0);
    Reader longer(ack.bytes);
    EXPECT_THROW(read_transition_ack(longer), std::runtime_error);
}

TEST(ServerClientPayloads, EpochsSkipZero) {
    EXPECT_EQ(next_epoch(1), 2u);
    EXPECT_EQ(next_epoch(0xFFFFFFFFu), 1u);
}

} // namespace
} // namespace kestrel
