// Which reliable packets a peer has acknowledged, for the host loop.
//
// ENet keeps a reliable packet until the peer acknowledges it and then releases it (it also
// releases everything when a connection is reset). Every reliable packet handed to ENet is
// registered here with its free callback; a packet that carries a receipt is confirmed once
// it and every reliable packet sent before it on the same channel to the same peer have been
// released. That is the moment the peer's ENet can deliver the packet to the application:
// reliable packets of one channel are delivered in order, so an acknowledged packet still
// waits for any earlier one that was lost. Only then may the server send what must not
// arrive before it (snapshots of a patched map, which travel unreliably on another channel).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "server/datagram.h"

typedef struct _ENetPacket ENetPacket;

namespace kestrel {

class DeliveryReceipts {
  public:
    DeliveryReceipts() = default;
    DeliveryReceipts(const DeliveryReceipts&) = delete;
    DeliveryReceipts& operator=(const DeliveryReceipts&) = delete;
    // Detaches from the packets ENet still holds, so ENet may outlive this.
    ~DeliveryReceipts();

    // Right after enet_peer_send accepted a reliable packet; receipt 0 = nothing to report.
    void sent(PeerId peer, std::uint8_t channel, ENetPacket* packet, std::uint32_t receipt);

    // Receipts confirmed since the last call, in sending order per channel.
    std::vector<std::pair<PeerId, std::uint32_t>> take_confirmed();

    // The peer has gone; its packets are no longer watched.
    void forget(PeerId peer);

    // Reliable packets still unacknowledged (or not yet taken), for tests.
    std::size_t pending() const;

  private:
    struct Entry {
        ENetPacket* packet = nullptr;
        std::uint32_t receipt = 0;
        bool released = false;
    };
    static void on_free(ENetPacket* packet);
    void detach(std::deque<std::unique_ptr<Entry>>& line);

    std::map<std::pair<PeerId, std::uint8_t>, std::deque<std::unique_ptr<Entry>>> lines_;
};

} // namespace kestrel
