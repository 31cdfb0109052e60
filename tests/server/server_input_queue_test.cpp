// Input ordering: every command once, in sequence order, however late; repeats dropped;
// a sequence that never comes skipped after a short wait; backlogs drained a few per tick.
#include <gtest/gtest.h>

#include "server/input_queue.h"

namespace kestrel {
namespace {

Input command(std::uint32_t sequence) {
    return Input{sequence, 100 + sequence, 0x1, 0};
}

std::vector<std::uint32_t> sequences(const std::vector<Input>& inputs) {
    std::vector<std::uint32_t> out;
    for (const Input& input : inputs) out.push_back(input.sequence);
    return out;
}

// The three-command packets the client sends, each repeating the last three.
void receive_packet(InputQueue& queue, std::uint32_t newest) {
    for (std::uint32_t s = newest >= 3 ? newest - 2 : 1; s <= newest; ++s)
        queue.receive(command(s));
}

TEST(ServerInputQueue, RepeatedCommandsAreAppliedOnce) {
    InputQueue queue;
    std::vector<std::uint32_t> applied;
    for (std::uint32_t newest = 1; newest <= 10; ++newest) {
        receive_packet(queue, newest);
        for (const std::uint32_t s : sequences(queue.take(newest))) applied.push_back(s);
    }
    EXPECT_EQ(applied, (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(queue.applied, 10u);
    EXPECT_EQ(queue.applied_tick, 110u);
    EXPECT_FALSE(queue.receive(command(10)));
    EXPECT_FALSE(queue.receive(command(4)));
    EXPECT_TRUE(queue.waiting.empty());
}

TEST(ServerInputQueue, OutOfOrderArrivalIsAppliedInSequenceOrder) {
    InputQueue queue;
    EXPECT_TRUE(queue.receive(command(3)));
    EXPECT_TRUE(queue.receive(command(2)));
    EXPECT_TRUE(queue.take(1).empty()); // 1 is missing: wait
    EXPECT_TRUE(queue.receive(command(1)));
    // Three ready: a backlog, so two go in this tick.
    EXPECT_EQ(sequences(queue.take(2)), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(sequences(queue.take(3)), std::vector<std::uint32_t>{3});
    EXPECT_EQ(queue.skipped, 0u);
}

TEST(ServerInputQueue, DropEveryThirdPacketLosesNothing) {
    // --drop-every 3: the packets whose newest command is 3, 6, 9 ... never leave.
    InputQueue queue;
    std::vector<std::uint32_t> applied;
    for (std::uint32_t newest = 1; newest <= 30; ++newest) {
        if (newest % 3 != 0) receive_packet(queue, newest);
        for (const std::uint32_t s : sequences(queue.take(newest))) applied.push_back(s);
    }
    for (const std::uint32_t s : sequences(queue.take(31))) applied.push_back(s);
    ASSERT_EQ(applied.size(), 29u); // 30 was only in the dropped packet
    for (std::size_t i = 0; i < applied.size(); ++i) EXPECT_EQ(applied[i], i + 1);
    EXPECT_EQ(queue.skipped, 0u);
}

TEST(ServerInputQueue, PermanentGapIsSkippedAfterTheWait) {
    InputQueue queue;
    queue.receive(command(1));
    EXPECT_EQ(sequences(queue.take(10)), std::vector<std::uint32_t>{1});
    // 2 and 3 were in three lost packets; 4 arrives.
    queue.receive(command(4));
    for (std::uint32_t tick = 11; tick < 11 + InputQueue::gap_wait_ticks; ++tick)
        EXPECT_TRUE(queue.take(tick).empty()) << "tick " << tick;
    EXPECT_EQ(sequences(queue.take(11 + InputQueue::gap_wait_ticks)),
              std::vector<std::uint32_t>{4});
    EXPECT_EQ(queue.skipped, 2u);
    // A late copy of a skipped command is never applied.
    EXPECT_FALSE(queue.receive(command(3)));
}

TEST(ServerInputQueue, GapFilledDuringTheWaitSkipsNothing) {
    InputQueue queue;
    queue.receive(command(2));
    EXPECT_TRUE(queue.take(1).empty());
    EXPECT_TRUE(queue.take(2).empty());
    queue.receive(command(1));
    EXPECT_EQ(sequences(queue.take(3)), std::vector<std::uint32_t>{1});
    EXPECT_EQ(sequences(queue.take(4)), std::vector<std::uint32_t>{2});
    // A new gap starts its own wait.
    queue.receive(command(4));
    for (std::uint32_t tick = 5; tick < 5 + InputQueue::gap_wait_ticks; ++tick)
        EXPECT_TRUE(queue.take(tick).empty());
    EXPECT_FALSE(queue.take(5 + InputQueue::gap_wait_ticks).empty());
    EXPECT_EQ(queue.skipped, 1u);
}

TEST(ServerInputQueue, BacklogDrainsAtMostFourPerTick) {
    InputQueue queue;
    for (std::uint32_t s = 1; s <= 12; ++s) queue.receive(command(s));
    EXPECT_EQ(queue.take(1).size(), 4u);
    EXPECT_EQ(queue.take(2).size(), 4u);
    EXPECT_EQ(queue.take(3).size(), 3u); // four ready: three, leaving one
    EXPECT_EQ(queue.take(4).size(), 1u);
    EXPECT_TRUE(queue.take(5).empty());
    EXPECT_EQ(queue.applied, 12u);
}

TEST(ServerInputQueue, BudgetIsOneUntilTheBacklogExceedsTwo) {
    EXPECT_EQ(apply_budget(0), 0u);
    EXPECT_EQ(apply_budget(1), 1u);
    EXPECT_EQ(apply_budget(2), 1u);
    EXPECT_EQ(apply_budget(3), 2u);
    EXPECT_EQ(apply_budget(5), 4u);
    EXPECT_EQ(apply_budget(100), 4u);
}

TEST(ServerInputQueue, CommandsFarAheadAreRefused) {
    InputQueue queue;
    EXPECT_FALSE(queue.receive(command(1 + InputQueue::max_ahead)));
    EXPECT_TRUE(queue.receive(command(InputQueue::max_ahead)));
    EXPECT_FALSE(queue.receive(command(0))); // sequences start at 1
}

TEST(ServerInputQueue, EarliestWaitingTick) {
    InputQueue queue;
    EXPECT_FALSE(queue.earliest_waiting_tick());
    queue.receive(Input{3, 50, 0, 0});
    queue.receive(Input{2, 40, 0, 0});
    EXPECT_EQ(queue.earliest_waiting_tick(), 40u);
}

TEST(ServerInputQueue, SequencesWrapAround) {
    InputQueue queue;
    queue.next = 0xFFFFFFFFu;
    queue.applied = 0xFFFFFFFEu;
    queue.receive(command(0));
    queue.receive(command(0xFFFFFFFFu));
    EXPECT_EQ(sequences(queue.take(1)), std::vector<std::uint32_t>{0xFFFFFFFFu});
    EXPECT_EQ(sequences(queue.take(2)), std::vector<std::uint32_t>{0});
}

} // namespace
} // namespace kestrel
