#include "server/server.h"

#include <enet/enet.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <random>
#include <span>
#include <stdexcept>
#include <thread>
#include <vector>

#include "server/outbound.h"
#include "server/receipts.h"

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t max_clients = 8;
constexpr std::size_t channel_count = 3;
constexpr std::int64_t tick_ns = 1'000'000'000 / 30;
constexpr std::size_t max_events_per_wait = 1024;
constexpr enet_uint32 longest_wait_ms = 10;

std::int64_t since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

std::uint64_t fresh_entropy() {
    std::random_device device;
    return (std::uint64_t{device()} << 32) ^ device();
}

// ENet's own state, released in reverse order however the loop ends.
struct Host {
    ENetHost* host = nullptr;
    bool initialised = false;

    Host() = default;
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ~Host() {
        if (host != nullptr) {
            for (std::size_t i = 0; i < host->peerCount; ++i)
                if (host->peers[i].state == ENET_PEER_STATE_CONNECTED)
                    enet_peer_disconnect_now(&host->peers[i], 0);
            enet_host_flush(host);
            enet_host_destroy(host);
        }
        if (initialised) enet_deinitialize();
    }
};

struct Peers {
    std::map<ENetPeer*, PeerId> ids;
    std::map<PeerId, ENetPeer*> handles;
    PeerId next = 1;

    PeerId add(ENetPeer* peer) {
        const PeerId id = next++;
        ids[peer] = id;
        handles[id] = peer;
        return id;
    }
    std::optional<PeerId> id_of(ENetPeer* peer) const {
        const auto found = ids.find(peer);
        if (found == ids.end()) return std::nullopt;
        return found->second;
    }
    ENetPeer* handle_of(PeerId id) const {
        const auto found = handles.find(id);
        return found == handles.end() ? nullptr : found->second;
    }
    void remove(ENetPeer* peer) {
        const auto found = ids.find(peer);
        if (found == ids.end()) return;
        handles.erase(found->second);
        ids.erase(found);
    }
};

// --fire-report: the fire (0x10) and alternate fire (0x20) bits of the input commands each
// client sent, as runs of equal bits in the order they arrived. A command counts once
// however many packets repeat it, and commands of an older epoch are left out.
class FireReport {
  public:
    void receive(PeerId peer, std::uint8_t channel, std::span<const std::uint8_t> bytes) {
        if (channel != 1) return;
        try {
            Reader reader(bytes);
            const Header header = read_header(reader);
            if (header.type != Type::InputCommands) return;
            const std::vector<Input> commands = read_input_commands(reader);
            Client& client = clients_[peer];
            if (newer(header.epoch, client.epoch)) {
                client.epoch = header.epoch;
                client.sequence = 0; // sequences restart in every epoch
            }
            if (header.epoch != client.epoch) return;
            for (const Input& command : commands) {
                if (!newer(command.sequence, client.sequence)) continue;
                client.sequence = command.sequence;
                const std::uint16_t bits = command.buttons & 0x30;
                if (client.runs.empty() || client.runs.back().bits != bits)
                    client.runs.push_back({bits, 0, command.tick, command.tick});
                ++client.runs.back().commands;
                client.runs.back().last_tick = command.tick;
            }
        } catch (const std::runtime_error&) {
            // Malformed: the core counts it among the errors.
        }
    }

    // "Fire client=ID bits=0x10 commands=N ticks=FIRST-LAST" per run, by client.
    std::string lines() const {
        std::string text;
        for (const auto& [peer, client] : clients_)
            for (const Run& run : client.runs)
                text += "Fire client=" + std::to_string(peer) + " bits=0x" +
                        static_cast<char>('0' + (run.bits >> 4)) +
                        "0 commands=" + std::to_string(run.commands) +
                        " ticks=" + std::to_string(run.first_tick) + "-" +
                        std::to_string(run.last_tick) + "\n";
        return text;
    }

  private:
    struct Run {
        std::uint16_t bits = 0;
        std::uint32_t commands = 0;
        std::uint32_t first_tick = 0;
        std::uint32_t last_tick = 0;
    };
    struct Client {
        std::uint32_t epoch = 0;
        std::uint32_t sequence = 0;
        std::vector<Run> runs;
    };
    static bool newer(std::uint32_t a, std::uint32_t b) {
        return static_cast<std::int32_t>(a - b) > 0;
    }
    std::map<PeerId, Client> clients_;
};

void handle_event(const ENetEvent& event, ServerCore& core, Peers& peers, Outbound& outbound,
                  DeliveryReceipts& receipts, FireReport* report) {
    switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT:
        core.connect(peers.add(event.peer));
        break;
    case ENET_EVENT_TYPE_RECEIVE:
        if (const auto id = peers.id_of(event.peer)) {
            const std::span<const std::uint8_t> bytes(event.packet->data, event.packet->dataLength);
            if (report != nullptr) report->receive(*id, event.channelID, bytes);
            core.receive(*id, event.channelID, bytes);
        }
        enet_packet_destroy(event.packet);
        break;
    case ENET_EVENT_TYPE_DISCONNECT:
        if (const auto id = peers.id_of(event.peer)) {
            core.disconnect(*id);
            outbound.forget(*id);
            receipts.forget(*id);
        }
        peers.remove(event.peer);
        break;
    case ENET_EVENT_TYPE_NONE:
        break;
    }
}

// A refused send only happens for a peer that is going away; its packet is dropped. Every
// reliable packet is watched until the peer acknowledges it (receipts.h).
void transmit(ENetPeer* peer, PeerId id, const Datagram& datagram, DeliveryReceipts& receipts) {
    ENetPacket* packet = enet_packet_create(datagram.bytes.data(), datagram.bytes.size(),
                                            datagram.reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (packet == nullptr) throw std::runtime_error("packet allocation failure");
    if (enet_peer_send(peer, datagram.channel, packet) < 0) {
        enet_packet_destroy(packet);
        return;
    }
    if (datagram.reliable) receipts.sent(id, datagram.channel, packet, datagram.receipt);
}

} // namespace

ServerRun run_server(const ServerOptions& options, const std::atomic<bool>& stop) {
    Host enet;
    if (enet_initialize() != 0) throw std::runtime_error("ENet initialization failed");
    enet.initialised = true;

    ENetAddress address{};
    if (enet_address_set_host(&address, options.bind.c_str()) != 0)
        throw std::runtime_error("cannot resolve bind address " + options.bind);
    address.port = options.port;
    enet.host = enet_host_create(&address, max_clients, channel_count, 0, 0);
    if (enet.host == nullptr)
        throw std::runtime_error("cannot listen on " + options.bind + ":" +
                                 std::to_string(options.port) + " (UDP)");
    enet.host->maximumPacketSize = max_packet_size;

    ServerCore core(options, fresh_entropy());
    Outbound outbound;
    outbound.loss_every = options.faults.loss_every;
    outbound.delay_ms = options.faults.delay_ms;
    Peers peers;
    DeliveryReceipts receipts; // destroyed before the host: it lets go of ENet's packets
    FireReport report;

    const Clock::time_point start = Clock::now();
    const std::int64_t end_ns = std::int64_t{options.seconds} * 1'000'000'000;
    std::int64_t next_tick = tick_ns;

    while (!stop.load() && (options.seconds == 0 || since(start) < end_ns)) {
        // Sleep in the service call until the next tick or the next held packet is due,
        // rounding up so that the last fraction of a millisecond is slept, not spun.
        std::int64_t wake = next_tick;
        if (const auto due = outbound.next_due()) wake = std::min(wake, *due * 1'000'000);
        const std::int64_t wait_ns = std::max<std::int64_t>(0, wake - since(start));
        const auto wait_ms = std::min<enet_uint32>(
            longest_wait_ms, static_cast<enet_uint32>((wait_ns + 999'999) / 1'000'000));

        ENetEvent event;
        int result = enet_host_service(enet.host, &event, wait_ms);
        for (std::size_t handled = 0; result > 0; ++handled) {
            handle_event(event, core, peers, outbound, receipts,
                         options.fire_report ? &report : nullptr);
            if (handled + 1 >= max_events_per_wait) break;
            result = enet_host_service(enet.host, &event, 0);
        }
        // A failed socket send is an outage that ENet's time-outs sort out per peer. The
        // failing call returns before it waits, so the wait is made up here to keep the
        // loop from spinning while the network is gone.
        if (result < 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
        for (const auto& [peer, receipt] : receipts.take_confirmed()) core.confirm(peer, receipt);

        const std::int64_t now = since(start);
        if (now >= next_tick) {
            core.tick();
            next_tick += tick_ns;
            // After a stall the schedule restarts rather than racing to catch up.
            if (now - next_tick > 5 * tick_ns) next_tick = now + tick_ns;
        }

        const std::int64_t now_ms = since(start) / 1'000'000;
        for (Outgoing& out : core.take_outgoing()) outbound.push(std::move(out), now_ms);
        for (const PeerId peer : core.take_drops()) outbound.push_drop(peer, now_ms);
        for (const Outbound::Held& entry : outbound.release(now_ms)) {
            ENetPeer* peer = peers.handle_of(entry.packet.peer);
            if (peer == nullptr) continue;
            if (entry.drop)
                enet_peer_disconnect_later(peer, 0);
            else
                transmit(peer, entry.packet.peer, entry.packet.datagram, receipts);
        }
        enet_host_flush(enet.host);
    }
    if (options.fire_report) std::cout << report.lines();
    return {core.counters, outbound.lost};
}

std::string summary_line(const ServerRun& run) {
    const ServerCounters& c = run.counters;
    return "Server stopped: clients=" + std::to_string(c.clients) +
           " handoffs=" + std::to_string(c.handoffs) + " aborts=" + std::to_string(c.aborts) +
           " snapshots=" + std::to_string(c.snapshots) + " inputs=" + std::to_string(c.inputs) +
           " skipped=" + std::to_string(c.skipped) + " rejected=" + std::to_string(c.rejected) +
           " errors=" + std::to_string(c.errors) + " faults=" + std::to_string(c.faults) +
           " lost=" + std::to_string(run.lost) + "\n";
}

} // namespace kestrel
