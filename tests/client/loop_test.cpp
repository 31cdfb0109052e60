// The platform side of the client: loop pacing, a key command keeping its epoch, the latency
// queue and the music file, on real ENet hosts on loopback and the real generated file.
#include "client/loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "client/router.h"
#include "session/handoff_messages.h"
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
TEST(Loop, AKeyCommandKeepsTheEpochItWasPressedIn) {
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
        for (int i = 0;
             i < 500 && (client == nullptr || network.peer->state != ENET_PEER_STATE_CONNECTED);
             ++i) {
            if (enet_host_service(server, &event, 5) > 0 && event.type == ENET_EVENT_TYPE_CONNECT)
                client = event.peer;
            enet_host_service(network.host, &event, 5);
        }
        ASSERT_NE(client, nullptr);
        RunState state; // welcomed, with the map complete: the commit is all that is left
        state.config.has_transport = true;
        std::ostringstream lines;
        const Sector sector = generate(900, std::uint64_t{0x5EED}, {});
        const auto deliver = [&](Type type, const Writer& payload, std::uint8_t channel) {
            const Bytes bytes = packet(type, session, 1, old_epoch, payload);
            Reader reader(bytes);
            route(state, read_header(reader), reader, channel, 1.0, lines);
        };
        deliver(Type::Welcome, welcome_payload(42, 600, 9), 0);
        deliver(Type::TransitionBegin, transition_begin_payload(trip, sector.id, new_epoch, 300),
                0);
        for (const Writer& chunk : map_chunks(trip, sector)) deliver(Type::MapChunk, chunk, 2);
        state.outbox.clear();
        Player spawn = zero_player();
        std::tie(spawn.id, spawn.weapon, spawn.health, spawn.x, spawn.y) =
            std::make_tuple(42, 1, 100, 0x28000, 0x28000);
        const Bytes commit =
            packet(Type::TransitionCommit, session, 2, new_epoch,
                   transition_commit_payload(trip, sector.id, new_epoch, 1234, spawn));
        enet_peer_send(client, 0, enet_packet_create(commit.data(), commit.size(), 1));
        enet_host_flush(server);
        SDL_Event key{};
        key.type = SDL_EVENT_KEY_DOWN;
        key.key.scancode = SDL_SCANCODE_G; // ping
        key.key.down = true;
        ASSERT_TRUE(SDL_PushEvent(&key)) << SDL_GetError();
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
        std::optional<Header> ping;
        for (int i = 0; i < 500 && !ping; ++i) {
            if (enet_host_service(server, &event, 5) <= 0 || event.type != ENET_EVENT_TYPE_RECEIVE)
                continue;
            const PacketGuard guard(event.packet);
            Reader reader(event.packet->data, event.packet->dataLength);
            const Header header = read_header(reader);
            if (header.type == Type::ClientCommand && reader.u8() == 3) ping = header;
        }
        ASSERT_TRUE(ping.has_value());
        EXPECT_EQ(std::tie(ping->session, ping->epoch), std::tie(session, old_epoch));

        // The latency queue, against a peer that never answers: at most the 40 ms worth of
        // packets (sent 10 ms apart, released each iteration) ever wait.
        Network delayed("127.0.0.1", static_cast<std::uint32_t>(test::free_udp_port()), 40);
        const HandoffClient handoff;
        std::size_t most = 0;
        for (int i = 0; i < 40; ++i) {
            if (i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            delayed.send(Type::InputCommands, Writer{{7, 0, 0, 0}}, handoff, 0, false);
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

// Mono 16-bit PCM at 24000 Hz that loops without a seam: no silent tenth of a second, ends
// included, and the last sample leads into the first as neighbours do.
TEST(MusicFile, Mono16BitPcmAt24000HzThatLoopsWithoutASeam) {
    std::ifstream file(std::filesystem::path(KESTREL_CLIENT_BIN).parent_path() / "audio" /
                           "space-shooter.wav",
                       std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GE(bytes.size(), 44u);
    Writer header{{'R', 'I', 'F', 'F'}};
    header.u32(std::uint32_t(bytes.size() - 8));
    for (std::uint32_t word : {0x45564157u, 0x20746D66u, 16u, 0x10001u, 24000u, 48000u, 0x100002u,
                               0x61746164u, std::uint32_t(bytes.size() - 44)})
        header.u32(word);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 44), header.bytes);
    std::vector<float> s;
    for (std::size_t at = 44; at + 1 < bytes.size(); at += 2)
        s.push_back(static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8) / 32768.0f);
    const auto rms = [&](std::size_t from, std::size_t count) {
        double sum = 0;
        for (std::size_t i = from; i < from + count; ++i) sum += s[i] * s[i];
        return std::sqrt(sum / static_cast<double>(count));
    };
    const double seconds = static_cast<double>(s.size()) / 24000.0;
    EXPECT_TRUE(seconds >= 16.0 && seconds <= 32.0) << seconds;
    float peak = 0;
    for (float sample : s) peak = std::max(peak, std::abs(sample));
    EXPECT_LE(peak, 0.95f);
    EXPECT_GT(rms(0, s.size()), 0.05);
    const std::size_t tenth = 2400;
    for (std::size_t from = 0; from + tenth <= s.size(); from += tenth)
        EXPECT_GT(rms(from, tenth), 0.01) << "at " << from / 24000.0 << " s";
    EXPECT_GT(std::min(rms(0, tenth), rms(s.size() - tenth, tenth)), 0.03);
    EXPECT_LT(std::abs(s.back() - s.front()), 0.1f);
}

} // namespace
} // namespace kestrel
