// The last stop of every packet before ENet: the two link hooks. --loss-every drops every
// Nth unreliable packet to each client (reliable ones always go); --delay-ms holds every
// packet back for a fixed time. Both keep the order of what they let through, and a
// requested disconnect waits in the same line, so a client still gets everything sent
// before it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "server/core.h"

namespace kestrel {

struct Outbound {
    struct Held {
        std::int64_t due_ms = 0;
        Outgoing packet;
        bool drop = false; // a disconnect of packet.peer instead of a packet
    };

    std::uint32_t loss_every = 0;
    std::uint32_t delay_ms = 0;
    std::deque<Held> held; // in due order, since every entry waits equally long
    std::map<PeerId, std::uint32_t> unreliable_sent;
    std::uint64_t lost = 0;

    void push(Outgoing packet, std::int64_t now_ms);
    void push_drop(PeerId peer, std::int64_t now_ms);
    // Everything due at now_ms, oldest first.
    std::vector<Held> release(std::int64_t now_ms);
    std::optional<std::int64_t> next_due() const;
    // The peer has gone: its held packets are discarded.
    void forget(PeerId peer);
};

} // namespace kestrel
