#include "server/receipts.h"

#include <enet/enet.h>

namespace kestrel {

DeliveryReceipts::~DeliveryReceipts() {
    for (auto& [key, line] : lines_) detach(line);
}

void DeliveryReceipts::on_free(ENetPacket* packet) {
    if (packet->userData != nullptr) static_cast<Entry*>(packet->userData)->released = true;
}

void DeliveryReceipts::detach(std::deque<std::unique_ptr<Entry>>& line) {
    // An unreleased packet is still alive inside ENet; it must not call back into us later.
    for (const std::unique_ptr<Entry>& entry : line)
        if (!entry->released) {
            entry->packet->freeCallback = nullptr;
            entry->packet->userData = nullptr;
        }
    line.clear();
}

void DeliveryReceipts::sent(PeerId peer, std::uint8_t channel, ENetPacket* packet,
                            std::uint32_t receipt) {
    auto entry = std::make_unique<Entry>();
    entry->packet = packet;
    entry->receipt = receipt;
    packet->userData = entry.get();
    packet->freeCallback = &DeliveryReceipts::on_free;
    lines_[{peer, channel}].push_back(std::move(entry));
}

std::vector<std::pair<PeerId, std::uint32_t>> DeliveryReceipts::take_confirmed() {
    std::vector<std::pair<PeerId, std::uint32_t>> confirmed;
    for (auto& [key, line] : lines_) {
        while (!line.empty() && line.front()->released) {
            if (line.front()->receipt != 0)
                confirmed.emplace_back(key.first, line.front()->receipt);
            line.pop_front();
        }
    }
    return confirmed;
}

void DeliveryReceipts::forget(PeerId peer) {
    for (auto it = lines_.begin(); it != lines_.end();) {
        if (it->first.first == peer) {
            detach(it->second);
            it = lines_.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t DeliveryReceipts::pending() const {
    std::size_t count = 0;
    for (const auto& [key, line] : lines_) count += line.size();
    return count;
}

} // namespace kestrel
