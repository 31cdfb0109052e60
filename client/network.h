// Transport: one ENet client host with one peer and three channels. Every message is
// framed with the handoff's session and epoch and a per-connection counter; with
// --latency-ms set, packets wait in a FIFO (all share the same delay, so it stays in due
// order) until the main loop releases them.
#pragma once

#include "protocol/codec.h"
#include "session/handoff_client.h"

#include <enet/enet.h>

#include <cstdint>
#include <deque>
#include <string>

namespace kestrel {

class Network {
  public:
    struct Pending {
        std::int64_t due = 0;
        Bytes bytes;
        std::uint8_t channel = 0;
        bool reliable = false;
    };

    Network(const std::string& server, std::uint32_t port, std::uint32_t latency);
    ~Network() { release(); }
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    void send(Type type, const Writer& payload, const HandoffClient& handoff, std::uint8_t channel,
              bool reliable);

    // A refused send of a delayed packet only loses that packet.
    void release_due();

    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    std::uint32_t sequence = 0;
    std::uint32_t latency_ms = 0;
    std::deque<Pending> pending_queue;

  private:
    static ENetPacket* make_packet(const Bytes& bytes, bool reliable);
    // Immediate disconnect: no handshake is waited for, queued packets are dropped.
    void release();
};

// Owns one received packet until the event has been handled.
class PacketGuard {
  public:
    explicit PacketGuard(ENetPacket* packet) : packet_(packet) {}
    ~PacketGuard() { enet_packet_destroy(packet_); }
    PacketGuard(const PacketGuard&) = delete;
    PacketGuard& operator=(const PacketGuard&) = delete;

  private:
    ENetPacket* packet_;
};

// The payload of Hello: the 32-bit values 1, 7, 1, 0.
Writer hello_payload();

} // namespace kestrel
