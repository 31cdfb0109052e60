// The platform side of the client on real ENet hosts on loopback: loop pacing, a key command
// keeping its epoch and the latency queue.
#include "client/loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "client/router.h"
#include "session/handoff_messages.h"
#include "tests/support/errors.h"
#include "tests/support/process.h"
#include "world/generate.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

TEST(Loop, PacingSleepsOnlyWithoutAVisibleWindow) {
    for (const auto& [headless, hidden, ms] :
         {std::tuple{true, false, 1u}, {false, true, 8u}, {false, false, 0u}}) {
        RunConfig config;
        std::tie(config.headless, config.hidden) = std::tie(headless, hidden);
        EXPECT_EQ(pacing_delay_ms(config), ms) << headless << hidden;
    }
}

// A key pressed while a commit arrives leaves before the transport is serviced, so the
// commit routed in the same iteration cannot restamp it with the new epoch.
TEST(Loop, AKeyCommandKeepsTheEpochItWasPressedInAndLatencyHoldsPackets) {
    constexpr std::uint64_t session = 0x1122334455667788, trip = 7;
    constexpr std::uint32_t old_epoch = 3, new_epoch = 4;
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
        for (int i = 0; i < 500 && (!client || network.peer->state != ENET_PEER_STATE_CONNECTED);
             ++i) {
            if (enet_host_service(server, &event, 5) > 0 && event.type == ENET_EVENT_TYPE_CONNECT)
                client = event.peer;
            enet_host_service(network.host, &event, 5);
        }
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(test::error_of([] { Network("no-such-host.invalid", 1, 0); }),
                  "cannot resolve server no-such-host.invalid");
        // Services `host` while `more()`, handing each received packet to `take`.
        const auto pump = [&](ENetHost* host, const auto& more, const auto& take) {
            for (int i = 0; i < 500 && more(); ++i)
                if (enet_host_service(host, &event, 5) > 0 &&
                    event.type == ENET_EVENT_TYPE_RECEIVE) {
                    const PacketGuard guard(event.packet);
                    Reader reader(event.packet->data, event.packet->dataLength);
                    take(read_header(reader), reader, event.channelID);
                }
        };
        RunState state; // welcomed, with the map complete: the commit is all that is left
        state.config.has_transport = true;
        std::ostringstream lines;
        const auto deliver = [&](Type type, const Writer& payload, std::uint8_t channel) {
            const Bytes bytes = packet(type, session, 1, old_epoch, payload);
            Reader reader(bytes);
            route(state, read_header(reader), reader, channel, 1.0, lines);
        };
        const Sector sector = generate(900, std::uint64_t{0x5EED}, {});
        deliver(Type::Welcome, welcome_payload(42, 600, 9), 0);
        deliver(Type::TransitionBegin, transition_begin_payload(trip, 900, new_epoch, 300), 0);
        for (const Writer& chunk : map_chunks(trip, sector)) deliver(Type::MapChunk, chunk, 2);
        state.outbox.clear();
        Player spawn = zero_player();
        std::tie(spawn.id, spawn.weapon, spawn.health, spawn.x, spawn.y) =
            std::make_tuple(42, 1, 100, 0x28000, 0x28000);
        const Bytes commit = packet(Type::TransitionCommit, session, 2, new_epoch,
                                    transition_commit_payload(trip, 900, new_epoch, 1234, spawn));
        enet_peer_send(client, 0, enet_packet_create(commit.data(), commit.size(), 1));
        enet_host_flush(server);
        SDL_Event key{};
        std::tie(key.type, key.key.scancode, key.key.down) =
            std::make_tuple(SDL_EVENT_KEY_DOWN, SDL_SCANCODE_G, true); // ping
        ASSERT_TRUE(SDL_PushEvent(&key)) << SDL_GetError();
        handle_events_then_service(state, nullptr, &network, nullptr, 1.0, [&] {
            pump(
                network.host, [&] { return state.handoff.epoch != new_epoch; },
                [&](const Header& header, Reader& reader, std::uint8_t channel) {
                    route(state, header, reader, channel, 1.0, lines);
                    flush_effects(state, &network, nullptr);
                });
        });
        EXPECT_EQ(lines.str(), "Committed sector 900 epoch 4\n");
        enet_host_flush(network.host);
        std::optional<Header> ping;
        pump(
            server, [&] { return !ping; },
            [&](const Header& header, Reader& reader, std::uint8_t) {
                if (header.type == Type::ClientCommand && reader.u8() == 3) ping = header;
            });
        ASSERT_TRUE(ping.has_value());
        EXPECT_EQ(std::tie(ping->session, ping->epoch), std::tie(session, old_epoch));

        // The latency queue, against a peer that never answers: at most the 40 ms worth of
        // packets (sent 10 ms apart, released each iteration) ever wait.
        Network delayed("127.0.0.1", static_cast<std::uint32_t>(test::free_udp_port()), 40);
        std::size_t most = 0;
        for (int i = 0; i < 40; ++i) {
            if (i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            delayed.send(Type::InputCommands, Writer{{7, 0, 0, 0}}, HandoffClient{}, 0, false);
            delayed.release_due();
            EXPECT_TRUE(i > 0 || delayed.pending_queue.size() == 1u); // held back, not due yet
            most = std::max(most, delayed.pending_queue.size());
        }
        EXPECT_TRUE(most >= 1 && most <= 5) << most;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        delayed.release_due();
        EXPECT_TRUE(delayed.pending_queue.empty());
    }
    enet_host_destroy(server);
    enet_deinitialize();
    SDL_Quit();
}

} // namespace
} // namespace kestrel
