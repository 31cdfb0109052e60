// The whole server as a value: connection events and received packets go in, framed
// packets for each client come out. No sockets and no clocks here - the host loop
// (server.h) owns ENet and calls tick() 30 times a second - so every rule of admission,
// handoff, input and replication can be driven and checked directly.
//
// One tick, in order:
//   1. apply each playing client's queued input commands with `move` (input_queue.h);
//   2. the game rules (game.h);
//   3. handoffs: the first one of newly admitted clients, delayed announcements, ack
//      timeouts, and a new one for every committed, alive player standing in a portal;
//   4. snapshots (every other tick) and meta-state records (twice a second);
//   5. fault hooks and admission timeouts.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "server/client_session.h"
#include "server/datagram.h"
#include "server/faults.h"
#include "server/game.h"
#include "server/options.h"
#include "server/world_state.h"

namespace kestrel {

struct ServerCounters {
    std::uint64_t clients = 0;   // clients welcomed
    std::uint64_t handoffs = 0;  // handoffs committed
    std::uint64_t aborts = 0;    // handoffs aborted
    std::uint64_t snapshots = 0; // snapshots sent (each in one or more parts)
    std::uint64_t inputs = 0;    // input commands applied
    std::uint64_t skipped = 0;   // input sequences given up as lost
    std::uint64_t rejected = 0;  // bad Hellos and refused profiles
    std::uint64_t errors = 0;    // malformed or misplaced client packets, ignored
    std::uint64_t faults = 0;    // named faults sent
};

struct Outgoing {
    PeerId peer = 0;
    Datagram datagram;
};

struct ServerCore {
    static constexpr std::uint32_t snapshot_interval = 2;   // ticks: 15 snapshots a second
    static constexpr std::uint32_t meta_interval = 15;      // ticks: twice a second
    static constexpr std::uint32_t handoff_window = 300;    // ticks to wait for the ack
    static constexpr std::uint32_t retry_delay = 30;        // ticks after an abort
    static constexpr std::uint32_t admission_timeout = 300; // ticks from connect to Profile
    static constexpr std::uint32_t fault_delay = 15;        // ticks of play before a fault
    static constexpr std::uint64_t start_sector = 1;

    ServerOptions options;
    const Fault* fault = nullptr;
    WorldState world;
    std::vector<ClientSession> sessions;
    ServerCounters counters;
    std::uint64_t entropy = 0; // session ids are drawn from it
    std::uint64_t token = 0;   // the Welcome's 64-bit value, identifies this world
    std::uint64_t next_transition = 1;
    std::uint32_t next_player_id = 1;
    std::vector<PeerId> drops; // peers to disconnect once their packets are out

    // Builds the world from the options' seed and lets the game populate it.
    ServerCore(const ServerOptions& options, std::uint64_t entropy);

    void connect(PeerId peer);
    // Malformed, misplaced or out-of-turn packets are counted in `errors` and ignored.
    void receive(PeerId peer, std::uint8_t channel, std::span<const std::uint8_t> bytes);
    // The peer has gone: its player leaves the world.
    void disconnect(PeerId peer);
    void tick();
    // The peer has acknowledged the packet that carried this receipt (Datagram::receipt).
    void confirm(PeerId peer, std::uint32_t receipt);
    // Frames and queues messages of the game rules produced outside a hook.
    void deliver(Outbox& box);

    // Every packet framed since the last call, in order.
    std::vector<Outgoing> take_outgoing();
    // Peers the server wants to drop, once each.
    std::vector<PeerId> take_drops();
};

} // namespace kestrel
