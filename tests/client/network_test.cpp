// The latency queue of the client's transport, on a real ENet host whose peer never answers
// (packets released to it are dropped by ENet, which is all the queue needs).
#include "client/network.h"

#include "tests/support/process.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Network, LatencyQueueHoldsOnlyThePacketsOfTheLastDelay) {
    ASSERT_EQ(enet_initialize(), 0);
    {
        Network network("127.0.0.1", static_cast<std::uint32_t>(test::free_udp_port()), 40);
        const HandoffClient handoff;
        Writer payload;
        payload.u32(7);
        network.send(Type::InputCommands, payload, handoff, 0, false);
        network.release_due();
        EXPECT_EQ(network.pending_queue.size(), 1u); // held back, not due yet
        // One packet every 10 ms, released every iteration as the main loop does: at most
        // the 40 ms worth of packets (5 sends apart by at least 10 ms) ever wait.
        std::size_t most = 0;
        for (int i = 0; i < 40; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            network.send(Type::InputCommands, payload, handoff, 0, false);
            network.release_due();
            most = std::max(most, network.pending_queue.size());
        }
        EXPECT_TRUE(most >= 1 && most <= 5) << most;
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // one delay later: all gone
        network.release_due();
        EXPECT_TRUE(network.pending_queue.empty());
    }
    enet_deinitialize();
}

} // namespace
} // namespace kestrel
