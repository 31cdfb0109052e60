// The secret door, and why its map patch must reach a client before any snapshot of the
// new revision: the patch travels reliably on channel 0, snapshots unreliably on channel 1,
// and ENet orders nothing across channels. The server holds a client's snapshots until
// ENet reports the patch acknowledged (DeliveryReceipts in the host loop).
#include <gtest/gtest.h>

#include <enet/enet.h>

#include <chrono>
#include <thread>

#include "server/game_events.h"
#include "server/game_sector.h"
#include "server/receipts.h"
#include "tests/server/game_test_support.h"
#include "tests/support/process.h"

namespace kestrel::test {
namespace {

struct Door {
    std::uint16_t door = 0;  // the tile-2 cell
    std::uint16_t front = 0; // the floor cell beside it
};

Door find_door(const Sector& sector) {
    for (int cell = 0; cell < cell_count; ++cell) {
        if (sector.cells[cell] != 2) continue;
        for (const int step : {1, -1, sector_size, -sector_size}) {
            const int next = cell + step;
            if (next >= 0 && next < cell_count && sector.cells[next] == 0)
                return {static_cast<std::uint16_t>(cell), static_cast<std::uint16_t>(next)};
        }
    }
    ADD_FAILURE() << "no secret door";
    return {};
}

Simulation::Driver use(const Simulation& sim) {
    return [&sim](const TestClient& client) {
        const bool finder = &client == &sim.links.front().client;
        return std::pair<std::uint16_t, std::uint16_t>{finder ? use_bit : 0, 0};
    };
}

TEST(GameSecret, UseBesideTheDoorOpensItForEveryoneInTheSector) {
    Simulation sim(rules_world(0, 0));
    sim.latency_steps = 2;
    sim.add_client(test_profile(1));
    sim.add_client(test_profile(2));
    ASSERT_TRUE(sim.run_until([&] { return in_play(sim.links[0]) && in_play(sim.links[1]); }, 90));
    WorldState& world = sim.core.world;
    const Door door = find_door(world.sectors[0]);
    PlayerState& finder = world.players[0];
    finder.body.x = centre_x(door.front);
    finder.body.y = centre_y(door.front);
    ASSERT_TRUE(sim.run_until([&] { return sim.links[1].client.patches == 1; }, 30, use(sim)));
    sim.run(30, use(sim)); // holding use on an open door changes nothing more
    EXPECT_EQ(world.sectors[0].revision, 2u);
    EXPECT_EQ(world.sectors[0].cells[door.door], 0);
    EXPECT_EQ(find_grid(world, 1)->at(door.door), 0); // walkable now
    for (const Simulation::Link& link : sim.links) {
        EXPECT_FALSE(link.error) << *link.error;
        EXPECT_EQ(link.client.patches, 1u);
        EXPECT_EQ(link.client.handoff.committed->revision, 2u);
        EXPECT_EQ(link.client.handoff.committed->cells[door.door], 0);
        EXPECT_EQ(link.client.handoff.committed->encode(), world.sectors[0].encode());
        EXPECT_EQ(link.client.last_snapshot->revision, 2u); // snapshots flow on, patched
        const auto found = events_of(link.client, combat::secret);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].value, 50);
        EXPECT_EQ(found[0].subject, finder.id);
    }
    EXPECT_EQ(world.players[0].game.carried, 50u);
    EXPECT_EQ(world.players[1].game.carried, 50u);
    EXPECT_EQ(world.players[0].game.total_secrets, 1u);
}

TEST(GameSecret, NoSnapshotGoesOutUntilThePatchIsAcknowledged) {
    Simulation sim(rules_world(0, 0));
    sim.latency_steps = 3;
    sim.acknowledge = false; // the client's acknowledgements are held back
    Simulation::Link& link = sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return in_play(link); }, 60));
    const Door door = find_door(sim.core.world.sectors[0]);
    sim.core.world.players[0].body.x = centre_x(door.front);
    sim.core.world.players[0].body.y = centre_y(door.front);
    ASSERT_TRUE(sim.run_until([&] { return !sim.core.sessions[0].unconfirmed_patches.empty(); }, 10,
                              use(sim)));
    const std::uint64_t sent = sim.core.counters.snapshots;
    sim.run(60);
    EXPECT_EQ(sim.core.counters.snapshots, sent);
    EXPECT_EQ(link.client.patches, 1u);
    EXPECT_FALSE(link.error);
    // The acknowledgement lets the new revision through.
    sim.core.confirm(link.peer, sim.core.sessions[0].unconfirmed_patches.front());
    sim.run(8);
    EXPECT_GT(sim.core.counters.snapshots, sent);
    EXPECT_EQ(link.client.last_snapshot->revision, 2u);
    EXPECT_FALSE(link.error);
}

TEST(GameSecret, ANewRevisionSnapshotAheadOfItsPatchEndsTheClient) {
    // What the hold prevents: the map changes, and the client never hears of it in time.
    Simulation sim(rules_world(0, 0));
    Simulation::Link& link = sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return in_play(link); }, 60));
    const Door door = find_door(sim.core.world.sectors[0]);
    Outbox lost;
    change_cell(sim.core.world, 1, door.door, 0, lost); // the patch is never delivered
    sim.run(4);
    EXPECT_EQ(link.error, "snapshot world mismatch");
}

TEST(GameSecret, PatchIntoTheTargetOfAnUnannouncedHandoffIsRetried) {
    ServerOptions options = rules_world(0, 0);
    options.faults.early_chunks = true; // the chunks go out a tick before the announcement
    Simulation sim(options);
    Simulation::Link& link = sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return sim.core.sessions[0].phase == Phase::Transit; }, 5));
    ASSERT_FALSE(sim.core.sessions[0].handoff->announced);
    const Door door = find_door(sim.core.world.sectors[0]);
    Outbox box;
    change_cell(sim.core.world, 1, door.door, 0, box);
    sim.core.deliver(box);
    ASSERT_TRUE(sim.run_until([&] { return in_play(link); }, 90));
    EXPECT_EQ(link.client.handoff.committed->revision, 2u);
    EXPECT_EQ(sim.core.counters.aborts, 1u);
    EXPECT_FALSE(link.error);
}

// --- DeliveryReceipts ---------------------------------------------------------------------

struct Enet {
    Enet() { enet_initialize(); }
    ~Enet() { enet_deinitialize(); }
};

ENetPacket* reliable_packet() {
    const std::uint8_t byte = 1;
    return enet_packet_create(&byte, 1, ENET_PACKET_FLAG_RELIABLE);
}

TEST(DeliveryReceipts, AReceiptWaitsForEveryEarlierPacketOfItsChannel) {
    Enet enet;
    DeliveryReceipts receipts;
    ENetPacket* first = reliable_packet();
    ENetPacket* patch = reliable_packet();
    ENetPacket* other_channel = reliable_packet();
    receipts.sent(1, 0, first, 0);
    receipts.sent(1, 0, patch, 7);
    receipts.sent(1, 2, other_channel, 0);
    EXPECT_TRUE(receipts.take_confirmed().empty());
    // ENet releases a reliable packet when the peer acknowledges it.
    enet_packet_destroy(patch);
    enet_packet_destroy(other_channel);
    EXPECT_TRUE(receipts.take_confirmed().empty()); // the first one may still be lost
    enet_packet_destroy(first);
    const auto confirmed = receipts.take_confirmed();
    ASSERT_EQ(confirmed.size(), 1u);
    EXPECT_EQ(confirmed[0], (std::pair<PeerId, std::uint32_t>{1, 7}));
    EXPECT_TRUE(receipts.take_confirmed().empty());
    EXPECT_EQ(receipts.pending(), 0u);
}

TEST(DeliveryReceipts, PeersAreIndependentAndAForgottenPeerLetsGo) {
    Enet enet;
    ENetPacket* kept = reliable_packet();
    ENetPacket* mine = reliable_packet();
    ENetPacket* theirs = reliable_packet();
    {
        DeliveryReceipts receipts;
        receipts.sent(1, 0, mine, 3);
        receipts.sent(2, 0, theirs, 4);
        enet_packet_destroy(theirs);
        EXPECT_EQ(receipts.take_confirmed(),
                  (std::vector<std::pair<PeerId, std::uint32_t>>{{2, 4}}));
        receipts.forget(1);
        EXPECT_EQ(mine->freeCallback, nullptr);
        EXPECT_EQ(receipts.pending(), 0u);
        receipts.sent(3, 0, kept, 5);
    }
    // Both outlived the tracker; releasing them now calls nothing that is gone.
    EXPECT_EQ(kept->freeCallback, nullptr);
    enet_packet_destroy(mine);
    enet_packet_destroy(kept);
}

TEST(DeliveryReceipts, ConfirmedOnlyAfterTheRemoteHostReceivedThePacket) {
    Enet enet;
    const int port = free_udp_port();
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(port);
    ENetHost* server = enet_host_create(&address, 1, 3, 0, 0);
    ENetHost* client = enet_host_create(nullptr, 1, 3, 0, 0);
    ASSERT_NE(server, nullptr);
    ASSERT_NE(client, nullptr);
    enet_host_connect(client, &address, 3, 0);
    ENetPeer* peer = nullptr;
    int received = 0;
    const auto pump = [&](ENetHost* host) {
        ENetEvent event;
        while (enet_host_service(host, &event, 0) > 0) {
            if (event.type == ENET_EVENT_TYPE_CONNECT && host == server) peer = event.peer;
            if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                ++received;
                enet_packet_destroy(event.packet);
            }
        }
    };
    for (int i = 0; i < 400 && peer == nullptr; ++i) {
        pump(client);
        pump(server);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(peer, nullptr);
    {
        DeliveryReceipts receipts;
        ENetPacket* packet = reliable_packet();
        ASSERT_EQ(enet_peer_send(peer, 0, packet), 0);
        receipts.sent(1, 0, packet, 9);
        enet_host_flush(server);
        pump(server);
        EXPECT_TRUE(receipts.take_confirmed().empty()); // the client has not even looked
        std::vector<std::pair<PeerId, std::uint32_t>> confirmed;
        for (int i = 0; i < 400 && confirmed.empty(); ++i) {
            pump(client);
            pump(server);
            confirmed = receipts.take_confirmed();
            if (confirmed.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(received, 1);
        EXPECT_EQ(confirmed, (std::vector<std::pair<PeerId, std::uint32_t>>{{1, 9}}));
    }
    enet_host_destroy(client);
    enet_host_destroy(server);
}

} // namespace
} // namespace kestrel::test
