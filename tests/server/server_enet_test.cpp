// The real server binary over real ENet on the loopback interface, played by the test
// client: admission, handoffs through portal 1, the snapshot stream and the summary line.
// Every test uses a free loopback port and a bounded server run.
#include <gtest/gtest.h>

#include <enet/enet.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/server/simulation.h"
#include "tests/support/process.h"

namespace kestrel::test {
namespace {

struct EnetRun {
    TestClient client;
    std::optional<std::string> error;
    std::string server_output;
    int server_status = -1;
};

struct Play {
    std::string server_arguments;
    double seconds = 3.0; // the client's part; the server runs a second longer
    bool walk = true;
    std::uint32_t latency_ticks = 0;
    std::uint32_t drop_every = 0;
};

void pump(ENetHost* host, ENetPeer* server, EnetRun& run, double now) {
    ENetEvent event;
    while (!run.error && enet_host_service(host, &event, 1) > 0) {
        if (event.peer != server) {
            run.error = "unexpected network peer";
        } else if (event.type == ENET_EVENT_TYPE_CONNECT) {
            run.client.connected();
        } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
            run.error = "server disconnected";
        } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
            try {
                run.client.receive(
                    event.channelID,
                    std::span<const std::uint8_t>(event.packet->data, event.packet->dataLength),
                    now);
            } catch (const std::exception& error) {
                run.error = error.what();
            }
            enet_packet_destroy(event.packet);
        }
    }
}

EnetRun play(const Play& play) {
    EnetRun run;
    run.client.latency_ticks = play.latency_ticks;
    run.client.drop_every = play.drop_every;
    const int port = free_udp_port();
    std::vector<std::string> arguments{"--port", std::to_string(port), "--seconds",
                                       std::to_string(static_cast<int>(play.seconds) + 1)};
    std::istringstream words(play.server_arguments);
    for (std::string word; words >> word;) arguments.push_back(word);
    Child server(KESTREL_SERVER_BIN, arguments);

    enet_initialize();
    ENetHost* host = enet_host_create(nullptr, 1, 3, 0, 0);
    host->maximumPacketSize = max_packet_size;
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(port);
    ENetPeer* peer = enet_host_connect(host, &address, 3, 0);

    const auto start = std::chrono::steady_clock::now();
    auto clock = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double next_tick = 0;
    while (!run.error && clock() < play.seconds) {
        pump(host, peer, run, clock());
        const double now = clock();
        if (now >= next_tick) {
            const auto control = play.walk ? walk_to_portal(run.client)
                                           : std::pair<std::uint16_t, std::uint16_t>{0, 0};
            try {
                run.client.input_tick(control.first, control.second, now);
            } catch (const std::exception& error) {
                run.error = error.what();
            }
            next_tick += 1.0 / 30;
        }
        for (const Datagram& datagram : run.client.outbox) {
            ENetPacket* packet =
                enet_packet_create(datagram.bytes.data(), datagram.bytes.size(),
                                   datagram.reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
            enet_peer_send(peer, datagram.channel, packet);
        }
        run.client.outbox.clear();
        enet_host_flush(host);
    }
    enet_peer_disconnect_now(peer, 0);
    enet_host_flush(host);
    enet_host_destroy(host);
    enet_deinitialize();

    const Outcome outcome = server.wait(std::chrono::seconds(30));
    run.server_output = outcome.out + outcome.err;
    run.server_status = outcome.status;
    return run;
}

TEST(ServerOverEnet, AutoPortalWalkCommitsAndPredictionAgrees) {
    const EnetRun run = play({"--enemies 0 --items 0", 5.0, true, 0, 0});
    ASSERT_FALSE(run.error) << *run.error;
    EXPECT_GE(run.client.commits, 3u);
    EXPECT_EQ(run.client.committed_sectors.front(), 1u);
    EXPECT_GT(run.client.snapshots, 30u);
    EXPECT_GT(run.client.status_records, 2u);
    EXPECT_LE(run.client.prediction.max_correction(), 0.12);
    EXPECT_EQ(run.server_status, 0);
    EXPECT_EQ(run.server_output.rfind("Server stopped: clients=1 handoffs=", 0), 0u)
        << run.server_output;
    EXPECT_NE(run.server_output.find(" errors=0 "), std::string::npos) << run.server_output;
}

TEST(ServerOverEnet, SlowLossyLinkStillPredictsClosely) {
    // The client's own 150 ms is its stamping lead; the server holds every packet 100 ms and
    // drops every fourth unreliable one, and the client drops every third input packet.
    const EnetRun run =
        play({"--enemies 0 --items 0 --delay-ms 100 --loss-every 4", 5.0, true, 5, 3});
    ASSERT_FALSE(run.error) << *run.error;
    EXPECT_GE(run.client.commits, 2u);
    EXPECT_GT(run.client.prediction.reconciles(), 20u);
    EXPECT_LE(run.client.prediction.max_correction(), 0.12);
    EXPECT_NE(run.server_output.find(" skipped=0 "), std::string::npos) << run.server_output;
}

TEST(ServerOverEnet, StandingPlayerReconcilesWithZero) {
    const EnetRun run = play({"--enemies 0 --items 0", 2.0, false, 0, 0});
    ASSERT_FALSE(run.error) << *run.error;
    EXPECT_EQ(run.client.commits, 1u);
    EXPECT_GT(run.client.prediction.reconciles(), 10u);
    EXPECT_EQ(run.client.prediction.max_correction(), 0.0);
}

TEST(ServerOverEnet, NamedFaultReachesTheClient) {
    const EnetRun run = play({"--fault corrupt-map --early-chunks", 2.0, false, 0, 0});
    EXPECT_EQ(run.error, "incomplete/corrupt map");
    EXPECT_NE(run.server_output.find(" faults=1 "), std::string::npos) << run.server_output;
}

} // namespace
} // namespace kestrel::test
