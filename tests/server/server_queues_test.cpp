// Input commands applied once each, in order, gaps skipped after a wait, backlogs drained;
// outgoing packets lost every Nth unreliable one per client or delayed, in order.
#include <gtest/gtest.h>

#include "server/input_queue.h"
#include "server/outbound.h"

namespace kestrel {
namespace {

using Seqs = std::vector<std::uint32_t>;

Input command(std::uint32_t sequence) {
    return Input{sequence, 100 + sequence, 0x1, 0};
}

Seqs take(InputQueue& queue, std::uint32_t tick) {
    Seqs out;
    for (const Input& input : queue.take(tick)) out.push_back(input.sequence);
    return out;
}

TEST(ServerInputQueue, ClientPacketsRepeatingThreeAreAppliedOnceEvenWithEveryThirdLost) {
    for (const std::uint32_t drop_every : {0u, 3u}) {
        InputQueue queue;
        Seqs applied;
        for (std::uint32_t newest = 1; newest <= 31; ++newest) {
            if (newest <= 30 && (drop_every == 0 || newest % drop_every != 0))
                for (std::uint32_t s = newest >= 3 ? newest - 2 : 1; s <= newest; ++s)
                    queue.receive(command(s));
            for (const std::uint32_t s : take(queue, newest)) applied.push_back(s);
        }
        const std::size_t expected = drop_every == 0 ? 30 : 29; // 30 only in a dropped packet
        ASSERT_EQ(applied.size(), expected);
        for (std::size_t i = 0; i < expected; ++i) EXPECT_EQ(applied[i], i + 1);
        EXPECT_EQ(std::tie(queue.applied, queue.applied_tick, queue.skipped),
                  std::tuple(expected, 100 + expected, 0u));
        EXPECT_FALSE(queue.receive(command(expected))); // a repeat
    }
}

TEST(ServerInputQueue, OutOfOrderArrivalWaitsForTheMissingOne) {
    InputQueue queue;
    EXPECT_TRUE(queue.receive(command(3)));
    EXPECT_TRUE(queue.receive(command(2)));
    EXPECT_EQ(queue.earliest_waiting_tick(), 102u);
    EXPECT_TRUE(take(queue, 1).empty());
    EXPECT_TRUE(queue.receive(command(1)));
    EXPECT_EQ(take(queue, 2), (Seqs{1, 2})); // three ready: a backlog, two this tick
    EXPECT_EQ(take(queue, 3), Seqs{3});
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
} // namespace kestrel
