// ENet orders nothing across channels, so a client's snapshots wait until its map patch is
// confirmed: ENet released it (on the peer's ack) and every earlier one of its channel.
#include <gtest/gtest.h>

#include <enet/enet.h>

#include "server/core.h"
#include "server/receipts.h"

namespace kestrel::test {
namespace {

using Confirmed = std::vector<std::pair<PeerId, std::uint32_t>>;

TEST(ServerPatchOrder, NoSnapshotGoesOutUntilThePatchIsConfirmed) {
    ServerOptions options;
    options.enemies = options.items = 0;
    ServerCore core(options, 42);
    core.connect(1);
    Writer hello;
    for (const std::uint32_t value : {1u, 7u, 1u, 0u}) hello.u32(value);
    core.receive(1, 0, packet(Type::Hello, 0, 1, 0, hello));
    Credentials profile;
    for (std::uint8_t i = 0; i < 16; ++i) profile.token[i] = static_cast<std::uint8_t>(i + 1);
    const ClientSession& session = core.sessions.at(0);
    core.receive(1, 0, packet(Type::Profile, session.session, 2, 1, profile.write()));
    core.tick(); // the first handoff is announced
    ASSERT_EQ(session.phase, Phase::Transit);
    const Handoff handoff = *session.handoff;
    Writer ack;
    ack.u64(handoff.transition);
    ack.u64(handoff.target);
    ack.u32(handoff.revision);
    ack.u32(handoff.crc);
    core.receive(1, 0, packet(Type::TransitionAck, session.session, 3, 1, ack));
    ASSERT_EQ(session.phase, Phase::Playing);
    for (int i = 0; i < 4; ++i) core.tick();
    ASSERT_GT(core.counters.snapshots, 0u);
    core.take_outgoing();

    const Sector& start = core.world.sectors[0];
    std::uint16_t cell = 0;
    while (start.cells[cell] != 7) ++cell;
    Outbox box;
    change_cell(core.world, start.id, cell, 6, box);
    core.deliver(box);
    const std::uint64_t sent = core.counters.snapshots;
    for (int i = 0; i < 10; ++i) core.tick();
    std::uint32_t receipt = 0;
    for (const Outgoing& out : core.take_outgoing()) {
        EXPECT_NE(out.datagram.bytes.at(3), static_cast<std::uint8_t>(Type::SnapshotPart));
        if (out.datagram.bytes.at(3) == static_cast<std::uint8_t>(Type::MapPatch)) {
            EXPECT_EQ(std::tie(out.datagram.channel, out.datagram.reliable), std::tuple(0, true));
            receipt = out.datagram.receipt;
        }
    }
    ASSERT_NE(receipt, 0u);
    core.confirm(1, receipt + 1); // not this patch's
    core.confirm(2, receipt);     // not this peer's
    for (int i = 0; i < 4; ++i) core.tick();
    EXPECT_EQ(core.counters.snapshots, sent);
    core.confirm(1, receipt);
    for (int i = 0; i < 4; ++i) core.tick();
    EXPECT_GT(core.counters.snapshots, sent);
}

ENetPacket* reliable_packet() {
    const std::uint8_t byte = 1;
    return enet_packet_create(&byte, 1, ENET_PACKET_FLAG_RELIABLE);
}

TEST(DeliveryReceipts, AReceiptWaitsForEveryEarlierPacketOfItsChannelAndPeer) {
    ASSERT_EQ(enet_initialize(), 0);
    ENetPacket* first = reliable_packet();
    ENetPacket* patch = reliable_packet();
    ENetPacket* other_channel = reliable_packet();
    ENetPacket* theirs = reliable_packet();
    ENetPacket* forgotten = reliable_packet();
    ENetPacket* kept = reliable_packet();
    {
        DeliveryReceipts receipts;
        receipts.sent(1, 0, first, 0);
        receipts.sent(1, 0, patch, 7);
        receipts.sent(1, 2, other_channel, 0);
        receipts.sent(2, 0, theirs, 4);
        receipts.sent(3, 0, forgotten, 3);
        EXPECT_TRUE(receipts.take_confirmed().empty());
        enet_packet_destroy(patch); // ENet releases a reliable packet once it is acknowledged
        enet_packet_destroy(other_channel);
        enet_packet_destroy(theirs);
        EXPECT_EQ(receipts.take_confirmed(), (Confirmed{{2, 4}})); // peer 1's first may be lost
        enet_packet_destroy(first);
        EXPECT_EQ(receipts.take_confirmed(), (Confirmed{{1, 7}}));
        EXPECT_TRUE(receipts.take_confirmed().empty());
        receipts.forget(3);
        EXPECT_EQ(forgotten->freeCallback, nullptr);
        EXPECT_EQ(receipts.pending(), 0u);
        receipts.sent(4, 0, kept, 5);
    }
    // Both outlived the tracker; releasing them now calls nothing that is gone.
    EXPECT_EQ(kept->freeCallback, nullptr);
    enet_packet_destroy(forgotten);
    enet_packet_destroy(kept);
    enet_deinitialize();
}

} // namespace
} // namespace kestrel::test
