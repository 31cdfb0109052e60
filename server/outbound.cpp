#include "server/outbound.h"

#include <algorithm>

namespace kestrel {

void Outbound::push(Outgoing packet, std::int64_t now_ms) {
    if (!packet.datagram.reliable && loss_every != 0 &&
        ++unreliable_sent[packet.peer] % loss_every == 0) {
        ++lost;
        return;
    }
    held.push_back({now_ms + delay_ms, std::move(packet), false});
}

void Outbound::push_drop(PeerId peer, std::int64_t now_ms) {
    Held entry;
    entry.due_ms = now_ms + delay_ms;
    entry.packet.peer = peer;
    entry.drop = true;
    held.push_back(std::move(entry));
}

std::vector<Outbound::Held> Outbound::release(std::int64_t now_ms) {
    std::vector<Held> out;
    while (!held.empty() && held.front().due_ms <= now_ms) {
        out.push_back(std::move(held.front()));
        held.pop_front();
    }
    return out;
}

std::optional<std::int64_t> Outbound::next_due() const {
    if (held.empty()) return std::nullopt;
    return held.front().due_ms;
}

void Outbound::forget(PeerId peer) {
    std::erase_if(held, [peer](const Held& entry) { return entry.packet.peer == peer; });
    unreliable_sent.erase(peer);
}

} // namespace kestrel
