// The platform side of a loop iteration: how long it sleeps, and that a key command leaves
// before the transport is serviced, so a commit routed in the same iteration cannot restamp
// it with the new epoch. A real ENet host on loopback plays the server.
#include "client/loop.h"

#include <gtest/gtest.h>

#include <sstream>

#include "client/router.h"
#include "session/handoff_messages.h"
#include "tests/support/process.h"
#include "world/generate.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

TEST(Loop, PacingSleepsOnlyWithoutAVisibleWindow) {
    struct Case {
        bool headless;
        bool hidden;
        std::uint32_t ms;
    };
    for (const Case c : {Case{true, false, 1}, Case{false, true, 8}, Case{false, false, 0}}) {
        RunConfig config;
        config.headless = c.headless;
        config.hidden = c.hidden;
        EXPECT_EQ(pacing_delay_ms(config), c.ms) << c.headless << c.hidden;
    }
}

TEST(Loop, AKeyCommandKeepsTheEpochItWasPressedIn) {
    constexpr std::uint64_t session = 0x1122334455667788;
    constexpr std::uint32_t old_epoch = 3;
    constexpr std::uint32_t new_epoch = 4;
    constexpr std::uint64_t trip = 7;
    ASSERT_TRUE(SDL_Init(SDL_INIT_EVENTS)) << SDL_GetError();
    ASSERT_EQ(enet_initialize(), 0);

    const int port = test::free_udp_port();
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(port);
    ENetHost* server = enet_host_create(&address, 1, 3, 0, 0);
    ASSERT_NE(server, nullptr);
    {
        Network network("127.0.0.1", static_cast<std::uint32_t>(port), 0);
        ENetEvent event{};
        ENetPeer* client = nullptr;
        for (int i = 0;
             i < 500 && (client == nullptr || network.peer->state != ENET_PEER_STATE_CONNECTED);
             ++i) {
            if (enet_host_service(server, &event, 5) > 0 && event.type == ENET_EVENT_TYPE_CONNECT)
                client = event.peer;
            enet_host_service(network.host, &event, 5);
        }
        ASSERT_NE(client, nullptr);

        // Welcomed and in a handoff whose map is complete: the commit is all that is left.
        RunState state;
        state.config.has_transport = true;
        std::ostringstream lines;
        const Sector sector = generate(900, std::uint64_t{0x5EED}, {});
        const auto deliver = [&](Type type, const Writer& payload, std::uint32_t epoch,
                                 std::uint8_t channel) {
            const Bytes bytes = packet(type, session, 1, epoch, payload);
            Reader reader(bytes);
            route(state, read_header(reader), reader, channel, 1.0, lines);
        };
        deliver(Type::Welcome, welcome_payload(42, 600, 9), old_epoch, 0);
        deliver(Type::TransitionBegin, transition_begin_payload(trip, sector.id, new_epoch, 300),
                old_epoch, 0);
        for (const Writer& chunk : map_chunks(trip, sector))
            deliver(Type::MapChunk, chunk, old_epoch, 2);
        state.outbox.clear();

        // The commit is on its way when G (ping) is pressed.
        Player spawn = zero_player();
        spawn.id = 42;
        spawn.weapon = 1;
        spawn.health = 100;
        spawn.x = spawn.y = 0x28000;
        const Bytes commit =
            packet(Type::TransitionCommit, session, 2, new_epoch,
                   transition_commit_payload(trip, sector.id, new_epoch, 1234, spawn));
        enet_peer_send(client, 0, enet_packet_create(commit.data(), commit.size(), 1));
        enet_host_flush(server);
        SDL_Event key{};
        key.type = SDL_EVENT_KEY_DOWN;
        key.key.scancode = SDL_SCANCODE_G;
        key.key.down = true;
        ASSERT_TRUE(SDL_PushEvent(&key)) << SDL_GetError();

        // The service routes like the main loop's: each message, then what it queued.
        handle_events_then_service(state, nullptr, &network, nullptr, 1.0, [&] {
            for (int i = 0; i < 500 && state.handoff.epoch != new_epoch; ++i) {
                if (enet_host_service(network.host, &event, 5) <= 0 ||
                    event.type != ENET_EVENT_TYPE_RECEIVE)
                    continue;
                const PacketGuard guard(event.packet);
                Reader reader(event.packet->data, event.packet->dataLength);
                route(state, read_header(reader), reader, event.channelID, 1.0, lines);
                flush_effects(state, &network, nullptr);
            }
        });
        EXPECT_EQ(lines.str(), "Committed sector 900 epoch 4\n");
        enet_host_flush(network.host);

        std::optional<Header> ping; // and the command code after it
        for (int i = 0; i < 500 && !ping; ++i) {
            if (enet_host_service(server, &event, 5) <= 0 || event.type != ENET_EVENT_TYPE_RECEIVE)
                continue;
            const PacketGuard guard(event.packet);
            Reader reader(event.packet->data, event.packet->dataLength);
            const Header header = read_header(reader);
            if (header.type == Type::ClientCommand && reader.u8() == 3) ping = header;
        }
        ASSERT_TRUE(ping.has_value());
        EXPECT_EQ(ping->session, session);
        EXPECT_EQ(ping->epoch, old_epoch);
    }
    enet_host_destroy(server);
    enet_deinitialize();
    SDL_Quit();
}

} // namespace
} // namespace kestrel
