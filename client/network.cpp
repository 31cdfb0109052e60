// The client's ENet transport and its latency queue.
#include "client/network.h"

#include <chrono>
#include <stdexcept>
#include <utility>

namespace kestrel {
namespace {

std::int64_t steady_nanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

Network::Network(const std::string& server, std::uint32_t port, std::uint32_t latency)
    : latency_ms(latency) {
    host = enet_host_create(nullptr, 1, 3, 0, 0);
    if (host == nullptr) throw std::runtime_error("cannot create ENet client");
    host->maximumPacketSize = max_packet_size;
    host->maximumWaitingData = 65536;
    ENetAddress address{};
    address.port = static_cast<enet_uint16>(port);
    if (enet_address_set_host(&address, server.c_str()) != 0) {
        release();
        throw std::runtime_error("cannot resolve server " + server);
    }
    peer = enet_host_connect(host, &address, 3, 0);
    if (peer == nullptr) {
        release();
        throw std::runtime_error("cannot connect to server");
    }
}

void Network::send(Type type, const Writer& payload, const HandoffClient& handoff,
                   std::uint8_t channel, bool reliable) {
    ++sequence;
    Bytes bytes = packet(type, handoff.session, sequence, handoff.epoch, payload);
    if (latency_ms != 0) {
        pending_queue.push_back(Pending{steady_nanoseconds() + std::int64_t{latency_ms} * 1000000,
                                        std::move(bytes), channel, reliable});
        return;
    }
    ENetPacket* message = make_packet(bytes, reliable);
    // ENet only queues here; it refuses a peer that is not connected, never a network that
    // is down (a failed socket send shows up in the service call instead).
    if (enet_peer_send(peer, channel, message) != 0) {
        enet_packet_destroy(message);
        throw std::runtime_error("packet send failure");
    }
}

void Network::release_due() {
    while (!pending_queue.empty() && pending_queue.front().due <= steady_nanoseconds()) {
        Pending entry = std::move(pending_queue.front());
        pending_queue.pop_front();
        ENetPacket* message = make_packet(entry.bytes, entry.reliable);
        if (enet_peer_send(peer, entry.channel, message) != 0) enet_packet_destroy(message);
    }
    enet_host_flush(host);
}

ENetPacket* Network::make_packet(const Bytes& bytes, bool reliable) {
    ENetPacket* message =
        enet_packet_create(bytes.data(), bytes.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (message == nullptr) throw std::runtime_error("packet allocation failure");
    return message;
}

void Network::release() {
    if (peer != nullptr) enet_peer_disconnect_now(peer, 0);
    if (host != nullptr) enet_host_destroy(host);
    peer = nullptr;
    host = nullptr;
    pending_queue.clear();
}

Writer hello_payload() {
    Writer payload;
    for (std::uint32_t value : {1u, 7u, 1u, 0u}) payload.u32(value);
    return payload;
}

} // namespace kestrel
