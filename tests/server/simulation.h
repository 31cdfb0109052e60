// The server core and a few test clients in simulated time, without sockets: one step is
// one server tick (1/30 s), packets take a fixed number of steps each way, and every client
// runs one input tick per step. Deterministic, so a run can be checked exactly.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "server/core.h"
#include "server/outbound.h"
#include "tests/server/test_client.h"

namespace kestrel::test {

struct Simulation {
    struct Link {
        TestClient client;
        PeerId peer = 0;
        std::optional<std::string> error; // the message the client stopped with
        bool gone = false;                // stopped, or dropped by the server
        std::deque<std::pair<int, Datagram>> to_client;
        std::deque<std::pair<int, Datagram>> to_server;
    };

    // Buttons and yaw of one client's input tick.
    using Driver = std::function<std::pair<std::uint16_t, std::uint16_t>(const TestClient&)>;

    ServerCore core;
    std::vector<Link> links;
    int step = 0;
    int latency_steps = 0;        // each way
    Outbound shaper;              // the loss hook on the server's side
    std::vector<PeerId> dropping; // disconnected by the server once their packets are in
    bool acknowledge = true;      // the client's ENet acknowledges receipted packets
    // Acknowledgements on their way back: due step, peer, receipt.
    std::deque<std::tuple<int, PeerId, std::uint32_t>> acks;

    explicit Simulation(const ServerOptions& options, std::uint64_t entropy = 42)
        : core(options, entropy) {
        shaper.loss_every = options.faults.loss_every;
    }

    double now() const { return step / 30.0; }

    Link& add_client(const Credentials& profile) {
        Link link;
        link.peer = static_cast<PeerId>(links.size() + 1);
        link.client.credentials = profile;
        core.connect(link.peer);
        link.client.connected();
        links.push_back(std::move(link));
        return links.back();
    }

    void run(int steps, const Driver& driver = nullptr) {
        for (int i = 0; i < steps; ++i) advance(driver);
    }

    // Runs until `done` holds or `limit` steps have passed; true when it held.
    bool run_until(const std::function<bool()>& done, int limit, const Driver& driver = nullptr) {
        for (int i = 0; i < limit; ++i) {
            if (done()) return true;
            advance(driver);
        }
        return done();
    }

    void advance(const Driver& driver) {
        ++step;
        while (!acks.empty() && std::get<0>(acks.front()) <= step) {
            core.confirm(std::get<1>(acks.front()), std::get<2>(acks.front()));
            acks.pop_front();
        }
        for (Link& link : links) {
            while (!link.to_server.empty() && link.to_server.front().first <= step) {
                const Datagram datagram = std::move(link.to_server.front().second);
                link.to_server.pop_front();
                if (!link.gone) core.receive(link.peer, datagram.channel, datagram.bytes);
            }
        }
        core.tick();
        for (Outgoing& out : core.take_outgoing()) shaper.push(std::move(out), step);
        for (const Outbound::Held& held : shaper.release(step))
            for (Link& link : links)
                if (link.peer == held.packet.peer)
                    link.to_client.emplace_back(step + latency_steps, held.packet.datagram);
        for (const PeerId peer : core.take_drops()) dropping.push_back(peer);
        for (Link& link : links) {
            while (!link.gone && !link.to_client.empty() && link.to_client.front().first <= step) {
                const Datagram datagram = std::move(link.to_client.front().second);
                link.to_client.pop_front();
                if (datagram.receipt != 0 && acknowledge)
                    acks.emplace_back(step + latency_steps, link.peer, datagram.receipt);
                try {
                    link.client.receive(datagram.channel, datagram.bytes, now());
                } catch (const std::exception& error) {
                    stop(link, error.what());
                }
            }
            for (const PeerId peer : dropping)
                if (peer == link.peer && !link.gone && link.to_client.empty())
                    stop(link, "server disconnected");
            if (link.gone) continue;
            std::pair<std::uint16_t, std::uint16_t> control{0, 0};
            if (driver) control = driver(link.client);
            try {
                link.client.input_tick(control.first, control.second, now());
            } catch (const std::exception& error) {
                stop(link, error.what());
                continue;
            }
            for (Datagram& datagram : link.client.outbox)
                link.to_server.emplace_back(step + latency_steps, std::move(datagram));
            link.client.outbox.clear();
        }
    }

    void stop(Link& link, const std::string& message) {
        link.error = message;
        link.gone = true;
        core.disconnect(link.peer);
    }
};

// Automated portal walking: run forward toward portal 1, as --auto-portal does.
inline std::pair<std::uint16_t, std::uint16_t> walk_to_portal(const TestClient& client) {
    const auto r = client.portal_yaw();
    return {static_cast<std::uint16_t>(0x41), r ? *r : client.prediction.predicted().yaw};
}

} // namespace kestrel::test
