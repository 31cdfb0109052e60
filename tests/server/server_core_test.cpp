// The server core's own rules, which no client sees directly: the handoff hooks; the hold on
// snapshots until a map patch is confirmed (ENet orders nothing across channels), confirmed
// once ENet released it and every earlier packet of its channel; input commands applied once
// each, in order, gaps skipped after a wait; outgoing packets lost or delayed, in order.
#include <gtest/gtest.h>

#include <enet/enet.h>

#include <algorithm>
#include <array>

#include "server/core.h"
#include "server/input_queue.h"
#include "server/outbound.h"
#include "server/receipts.h"

namespace kestrel::test {
namespace {

using Confirmed = std::vector<std::pair<PeerId, std::uint32_t>>;

// Hello and Profile from peer 1; the first handoff starts on the next tick.
const ClientSession& join(ServerCore& core) {
    core.connect(1);
    Writer hello;
    for (const std::uint32_t value : {1u, 7u, 1u, 0u}) hello.u32(value);
    core.receive(1, 0, packet(Type::Hello, 0, 1, 0, hello));
    Credentials profile;
    profile.token.fill(7);
    core.receive(1, 0, packet(Type::Profile, core.sessions.at(0).session, 2, 1, profile.write()));
    return core.sessions.at(0);
}

void acknowledge(ServerCore& core) {
    const ClientSession& session = core.sessions.at(0);
    Writer ack;
    ack.u64(session.handoff->transition);
    ack.u64(session.handoff->target);
    ack.u32(session.handoff->revision);
    ack.u32(session.handoff->crc);
    core.receive(1, 0, packet(Type::TransitionAck, session.session, 3, 1, ack));
}

// What went out since the last call, a letter a packet: W welcome, B begin, a chunk's index,
// A abort, C commit, S snapshot part, . anything else.
std::string sent(ServerCore& core) {
    std::string out;
    for (const Outgoing& o : core.take_outgoing()) {
        const Bytes& b = o.datagram.bytes; // the type is header byte 3
        out += b.at(3) == static_cast<std::uint8_t>(Type::MapChunk)
                   ? static_cast<char>('0' + b.at(header_size + 28))
                   : std::string_view("..W.SB..CA.........").at(b.at(3));
    }
    return out;
}

TEST(ServerHandoffHooks, ChunksDuplicatedReversedOrEarlyAndTheFirstHandoffAborted) {
    const std::pair<const char*, std::string> cases[] = {{"", "W|B01|C"},
                                                         {"--duplicate-chunks", "W|B0011|C"},
                                                         {"--reverse-chunks", "W|B10|C"},
                                                         {"--early-chunks", "W|01|B|C"},
                                                         {"--abort-first-handoff", "W|B01|A"}};
    for (const auto& [hook, expected] : cases) {
        std::vector<std::string> arguments;
        if (*hook != 0) arguments.emplace_back(hook);
        ServerCore core(parse_server_options(arguments), 42);
        const ClientSession& session = join(core);
        std::string trace = sent(core);
        while (!session.handoff || !session.handoff->announced) {
            core.tick();
            trace += "|" + sent(core);
        }
        acknowledge(core);
        trace += "|" + sent(core);
        EXPECT_EQ(trace.substr(0, trace.rfind('|') + 2), expected) << hook; // the ack's answer
    }
}

TEST(ServerPatchOrder, NoSnapshotGoesOutUntilThePatchIsConfirmed) {
    ServerCore core(ServerOptions{}, 42);
    join(core);
    core.tick(); // the first handoff is announced
    acknowledge(core);
    for (int i = 0; i < 4; ++i) core.tick();
    ASSERT_NE(sent(core).find('S'), std::string::npos);
    const Sector& start = core.world.sectors[0];
    const auto cell = std::ranges::find(start.cells, 7) - start.cells.begin();
    Outbox box;
    change_cell(core.world, start.id, static_cast<std::uint16_t>(cell), 6, box);
    core.deliver(box);
    const Datagram patch = core.sessions[0].out.at(0);
    EXPECT_EQ(std::tie(patch.bytes.at(3), patch.channel, patch.reliable), std::tuple(10, 0, true));
    ASSERT_NE(patch.receipt, 0u);
    for (int i = 0; i < 10; ++i) core.tick();
    core.confirm(1, patch.receipt + 1); // not this patch's
    core.confirm(2, patch.receipt);     // not this peer's
    for (int i = 0; i < 4; ++i) core.tick();
    EXPECT_EQ(sent(core).find('S'), std::string::npos);
    core.confirm(1, patch.receipt);
    for (int i = 0; i < 4; ++i) core.tick();
    EXPECT_NE(sent(core).find('S'), std::string::npos);
}

TEST(DeliveryReceipts, AReceiptWaitsForEveryEarlierPacketOfItsChannelAndPeer) {
    ASSERT_EQ(enet_initialize(), 0);
    std::array<ENetPacket*, 6> packets{};
    for (ENetPacket*& p : packets) p = enet_packet_create(nullptr, 1, ENET_PACKET_FLAG_RELIABLE);
    const auto [first, patch, other_channel, theirs, forgotten, kept] = packets;
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

using Seqs = std::vector<std::uint32_t>;

Input command(std::uint32_t sequence) {
    return Input{sequence, 100 + sequence, 0x1, 0};
}

Seqs take(InputQueue& queue, std::uint32_t tick) {
    Seqs out;
    for (const Input& input : queue.take(tick)) out.push_back(input.sequence);
    return out;
}

TEST(ServerInputQueue, OutOfOrderArrivalWaitsForTheMissingOne) {
    InputQueue queue;
    EXPECT_TRUE(queue.receive(command(3)));
    EXPECT_TRUE(queue.receive(command(2)));
    EXPECT_FALSE(queue.receive(command(3))); // a repeat
    EXPECT_EQ(queue.earliest_waiting_tick(), 102u);
    EXPECT_TRUE(take(queue, 1).empty());
    EXPECT_TRUE(queue.receive(command(1)));
    EXPECT_EQ(take(queue, 2), (Seqs{1, 2})); // three ready: a backlog, two this tick
    EXPECT_EQ(take(queue, 3), Seqs{3});
    EXPECT_EQ(std::tie(queue.applied, queue.applied_tick), std::tuple(3u, 103u));
    EXPECT_FALSE(queue.earliest_waiting_tick());
    // A permanent gap (4 lost) is skipped after the wait, never earlier or later.
    queue.receive(command(5));
    for (std::uint32_t tick = 4; tick < 4 + InputQueue::gap_wait_ticks; ++tick)
        EXPECT_TRUE(take(queue, tick).empty()) << tick;
    EXPECT_EQ(take(queue, 4 + InputQueue::gap_wait_ticks), Seqs{5});
    EXPECT_EQ(queue.skipped, 1u);
    EXPECT_FALSE(queue.receive(command(4))); // a late copy of a skipped command
    // A gap filled during the wait skips nothing, and the next gap waits afresh.
    queue.receive(command(7));
    EXPECT_TRUE(take(queue, 20).empty());
    queue.receive(command(6));
    EXPECT_EQ(take(queue, 21), Seqs{6});
    EXPECT_EQ(take(queue, 22), Seqs{7});
    queue.receive(command(9));
    for (std::uint32_t tick = 23; tick < 23 + InputQueue::gap_wait_ticks; ++tick)
        EXPECT_TRUE(take(queue, tick).empty());
    EXPECT_EQ(take(queue, 23 + InputQueue::gap_wait_ticks), Seqs{9});
    EXPECT_EQ(queue.skipped, 2u);
}

TEST(ServerInputQueue, BacklogBudgetRangeAndWrapAround) {
    const std::pair<std::size_t, std::size_t> budgets[] = {{0, 0}, {1, 1}, {2, 1},
                                                           {3, 2}, {5, 4}, {100, 4}};
    for (const auto& [ready, budget] : budgets) EXPECT_EQ(apply_budget(ready), budget) << ready;
    InputQueue queue;
    for (std::uint32_t s = 1; s <= 12; ++s) queue.receive(command(s));
    for (const std::size_t size : {4u, 4u, 3u, 1u, 0u}) EXPECT_EQ(queue.take(1).size(), size);
    InputQueue fresh;
    EXPECT_FALSE(fresh.receive(command(1 + InputQueue::max_ahead)));
    EXPECT_TRUE(fresh.receive(command(InputQueue::max_ahead)));
    EXPECT_FALSE(fresh.receive(command(0))); // sequences start at 1
    InputQueue wrapping;
    wrapping.next = 0xFFFFFFFFu;
    wrapping.applied = 0xFFFFFFFEu;
    wrapping.receive(command(0));
    wrapping.receive(command(0xFFFFFFFFu));
    EXPECT_EQ(take(wrapping, 1), Seqs{0xFFFFFFFFu});
    EXPECT_EQ(take(wrapping, 2), Seqs{0});
}

Outgoing datagram(PeerId peer, std::uint8_t tag, bool reliable) {
    return {peer, Datagram{Bytes{tag}, 1, reliable}};
}

std::vector<int> tags(const std::vector<Outbound::Held>& released) {
    std::vector<int> out;
    for (const Outbound::Held& held : released)
        out.push_back(held.drop ? -1 : held.packet.datagram.bytes.at(0));
    return out;
}

TEST(ServerOutbound, LossPerClientDelayAndForget) {
    Outbound outbound;
    outbound.push(datagram(1, 1, false), 100);
    EXPECT_EQ(tags(outbound.release(100)), std::vector<int>{1}); // no hooks: at once
    EXPECT_FALSE(outbound.next_due());
    outbound.loss_every = 3;
    for (std::uint8_t tag = 2; tag <= 7; ++tag) {
        outbound.push(datagram(1, tag, false), 0);
        if (tag == 3) outbound.push(datagram(1, 100, true), 0); // reliable: never counted
        outbound.push(datagram(2, static_cast<std::uint8_t>(tag + 10), false), 0);
    }
    EXPECT_EQ(tags(outbound.release(0)), (std::vector<int>{2, 12, 3, 100, 13, 5, 15, 6, 16}));
    EXPECT_EQ(outbound.lost, 4u);
    // A delay keeps the order, a disconnect included; a gone client's packets are dropped.
    outbound.loss_every = 0;
    outbound.delay_ms = 150;
    outbound.push(datagram(1, 1, true), 1000);
    outbound.push(datagram(1, 2, false), 1010);
    outbound.push_drop(1, 1020);
    EXPECT_TRUE(outbound.release(1149).empty());
    EXPECT_EQ(outbound.next_due(), 1150);
    EXPECT_EQ(tags(outbound.release(1150)), std::vector<int>{1});
    EXPECT_EQ(tags(outbound.release(2000)), (std::vector<int>{2, -1}));
    outbound.loss_every = 2;
    outbound.push(datagram(1, 3, false), 3000);
    outbound.push(datagram(2, 4, true), 3000);
    outbound.forget(1);
    EXPECT_EQ(tags(outbound.release(4000)), std::vector<int>{4});
    outbound.push(datagram(1, 5, false), 4000); // its loss count starts over
    EXPECT_EQ(tags(outbound.release(5000)), std::vector<int>{5});
}

} // namespace
} // namespace kestrel::test
