// The link hooks: loss of every Nth unreliable packet per client, a fixed delay that keeps
// the order, and disconnects that wait their turn.
#include <gtest/gtest.h>

#include "server/outbound.h"

namespace kestrel {
namespace {

Outgoing datagram(PeerId peer, std::uint8_t tag, bool reliable) {
    return {peer, Datagram{Bytes{tag}, 1, reliable}};
}

std::vector<std::uint8_t> tags(const std::vector<Outbound::Held>& released) {
    std::vector<std::uint8_t> out;
    for (const Outbound::Held& held : released)
        out.push_back(held.drop ? 0xFF : held.packet.datagram.bytes.at(0));
    return out;
}

TEST(ServerOutbound, WithoutHooksEverythingGoesAtOnce) {
    Outbound outbound;
    outbound.push(datagram(1, 1, false), 100);
    outbound.push(datagram(1, 2, true), 100);
    EXPECT_EQ(tags(outbound.release(100)), (std::vector<std::uint8_t>{1, 2}));
    EXPECT_FALSE(outbound.next_due());
}

TEST(ServerOutbound, LossCountsUnreliablePacketsPerClient) {
    Outbound outbound;
    outbound.loss_every = 3;
    for (std::uint8_t tag = 1; tag <= 7; ++tag) {
        outbound.push(datagram(1, tag, false), 0);
        if (tag == 2) outbound.push(datagram(1, 100, true), 0); // reliable: never counted
        outbound.push(datagram(2, static_cast<std::uint8_t>(tag + 10), false), 0);
    }
    EXPECT_EQ(tags(outbound.release(0)),
              (std::vector<std::uint8_t>{1, 11, 2, 100, 12, 4, 14, 5, 15, 7, 17}));
    EXPECT_EQ(outbound.lost, 4u);
}

TEST(ServerOutbound, DelayHoldsEveryPacketInOrder) {
    Outbound outbound;
    outbound.delay_ms = 150;
    outbound.push(datagram(1, 1, true), 1000);
    outbound.push(datagram(1, 2, false), 1010);
    outbound.push_drop(1, 1020);
    EXPECT_TRUE(outbound.release(1149).empty());
    EXPECT_EQ(outbound.next_due(), 1150);
    EXPECT_EQ(tags(outbound.release(1150)), std::vector<std::uint8_t>{1});
    EXPECT_EQ(tags(outbound.release(2000)), (std::vector<std::uint8_t>{2, 0xFF}));
}

TEST(ServerOutbound, ForgetDiscardsAGoneClientsPackets) {
    Outbound outbound;
    outbound.delay_ms = 10;
    outbound.loss_every = 2;
    outbound.push(datagram(1, 1, false), 0);
    outbound.push(datagram(2, 2, true), 0);
    outbound.forget(1);
    EXPECT_EQ(tags(outbound.release(10)), std::vector<std::uint8_t>{2});
    outbound.push(datagram(1, 3, false), 20); // its loss count starts over
    EXPECT_EQ(tags(outbound.release(30)), std::vector<std::uint8_t>{3});
}

} // namespace
} // namespace kestrel
