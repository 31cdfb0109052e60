// A small client for the server tests, built from the client's own session code
// (HandoffClient, SnapshotAssembly, Prediction) and routing received packets with the same
// channel, session and epoch guards and the same fatal messages as the game client. It
// predicts its input exactly as the game does: commands stamped from the last snapshot's
// tick, applied at once with `move`, each packet repeating the last three commands.
//
// Every error is thrown, as in the game; callers catch it to compare the message.
#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/codec.h"
#include "protocol/credentials.h"
#include "protocol/meta_state.h"
#include "server/client_session.h"
#include "server/datagram.h"
#include "session/handoff_client.h"
#include "session/prediction.h"
#include "session/snapshot_assembly.h"
#include "world/map_transfer.h"
#include "world/movement.h"

namespace kestrel::test {

inline Credentials test_profile(std::uint8_t seed) {
    Credentials profile;
    for (std::size_t i = 0; i < profile.token.size(); ++i)
        profile.token[i] = static_cast<std::uint8_t>(seed * 31 + i + 1);
    profile.name = "TESTER" + std::to_string(seed);
    profile.party = "CREW7";
    return profile;
}

struct TestClient {
    HandoffClient handoff;
    SnapshotAssembly assembly;
    Prediction prediction;
    Credentials credentials = test_profile(1);
    std::uint32_t drop_every = 0;    // like --drop-every
    std::uint32_t latency_ticks = 0; // what --latency-ms adds to every tick stamp

    std::uint32_t sequence = 0; // packet counter
    std::deque<Input> history;
    std::uint32_t last_sequence = 0;
    std::uint32_t last_tick = 0;
    std::uint32_t server_tick_base = 0;
    double last_snapshot_time = 0;
    bool input_paused = false;

    std::uint32_t commits = 0;
    std::uint32_t aborts = 0;
    std::uint32_t snapshots = 0;
    std::uint32_t inputs_sent = 0;
    std::vector<std::uint64_t> committed_sectors;
    std::optional<Snapshot> last_snapshot;
    SectorStatus status;
    AdventureState adventure;
    ExpeditionState expedition;
    std::uint32_t status_records = 0;
    std::uint32_t adventure_records = 0;
    std::uint32_t expedition_records = 0;
    std::uint32_t patches = 0;
    std::uint32_t combat_events = 0;
    struct SeenEvent {
        std::uint32_t subject = 0;
        std::uint8_t kind = 0;
        std::uint16_t value = 0;
    };
    std::vector<SeenEvent> events; // every combat event, in arrival order

    std::vector<Datagram> outbox; // packets to send, oldest first

    void send(Type type, const Writer& payload, std::uint8_t channel, bool reliable) {
        outbox.push_back(
            {packet(type, handoff.session, ++sequence, handoff.epoch, payload), channel, reliable});
    }

    void connected() {
        Writer hello;
        hello.u32(1);
        hello.u32(7);
        hello.u32(1);
        hello.u32(0);
        send(Type::Hello, hello, 0, true);
    }

    bool in_game() const { return handoff.state == HandoffState::Active && handoff.committed; }
    Grid grid() const { return handoff.committed->collision(false); }

    void receive(std::uint8_t channel, std::span<const std::uint8_t> bytes, double now) {
        Reader in(bytes);
        const Header header = read_header(in);
        const bool session = header.session == handoff.session;
        const bool epoch = header.epoch == handoff.epoch;
        switch (header.type) {
        case Type::SnapshotPart:
            if (channel != 1 || !session) fail("invalid snapshot channel/session");
            if (!epoch || handoff.state != HandoffState::Active) return;
            return apply_snapshot(header, in, now);
        case Type::MapPatch:
            if (channel != 0 || !session) fail("invalid map patch channel");
            if (!epoch || !handoff.committed) return;
            handoff.committed = apply_map_patch(*handoff.committed, in);
            ++patches;
            return;
        case Type::CombatEvent: {
            if (channel != 0 || !session || header.length != 16) fail("invalid combat event");
            if (!epoch) return;
            in.u32();
            const std::uint32_t subject = in.u32();
            in.u16();
            in.u16();
            const std::uint8_t kind = in.u8();
            const std::uint8_t padding = in.u8();
            const std::uint16_t value = in.u16();
            in.end();
            if (kind < 1 || kind > 30 || padding != 0) fail("invalid combat kind");
            ++combat_events;
            events.push_back({subject, kind, value});
            return;
        }
        case Type::SectorStatus: {
            if (channel != 1 || !session || header.length != 10)
                fail("invalid sector status channel");
            if (!epoch) return;
            const SectorStatus record = SectorStatus::read(in);
            if (status.sequence == 0 || newer(record.sequence, status.sequence)) status = record;
            ++status_records;
            return;
        }
        case Type::AdventureState: {
            if (channel != 1 || !session) fail("invalid adventure channel");
            if (!epoch) return;
            const AdventureState record = AdventureState::read(in);
            if (adventure.sequence == 0 || newer(record.sequence, adventure.sequence))
                adventure = record;
            ++adventure_records;
            return;
        }
        case Type::ProfileError: {
            if (channel != 0 || !session) fail("invalid profile error");
            const std::uint8_t code = in.u8();
            in.end();
            fail(code == 1 ? "This profile is already playing. Close the other client and "
                             "reconnect."
                           : "Cannot load the saved profile");
        }
        case Type::ExpeditionState: {
            if (channel != 1 || !session) fail("invalid expedition channel");
            if (!epoch) return;
            const ExpeditionState record = ExpeditionState::read(in);
            if (expedition.sequence == 0 || newer(record.sequence, expedition.sequence))
                expedition = record;
            ++expedition_records;
            return;
        }
        default:
            return handoff_route(header, in, channel, now);
        }
    }

    // One input tick; `buttons` and `yaw` as the sampler would produce them.
    void input_tick(std::uint16_t buttons, std::uint16_t yaw, double now) {
        if (!in_game()) return;
        if (now - last_snapshot_time >= 2.0 || input_paused) return;
        const std::uint32_t tick_base =
            server_tick_base + 2 +
            static_cast<std::uint32_t>(30 * std::max(0.0, now - last_snapshot_time));
        std::uint32_t t = tick_base + latency_ticks;
        if (last_tick != 0) {
            if (static_cast<std::int32_t>(t - last_tick) < 0) t = last_tick + 1;
            if (t == last_tick) t = last_tick + 1;
        }
        const Input command{last_sequence + 1, t, static_cast<std::uint16_t>(buttons | 128), yaw};
        if (!prediction.step(command, grid())) return;
        history.push_back(command);
        while (history.size() > 3) history.pop_front();
        if (drop_every == 0 || command.sequence % drop_every != 0) {
            send(Type::InputCommands,
                 write_input_commands(std::vector<Input>(history.begin(), history.end())), 1,
                 false);
            ++inputs_sent;
        }
        last_tick = t;
        last_sequence = command.sequence;
    }

    // The heading automated portal walking steers: toward the first portal with id 1.
    std::optional<std::uint16_t> portal_yaw() const {
        if (!in_game()) return std::nullopt;
        for (const Portal& portal : handoff.committed->portals) {
            if (portal.id != 1) continue;
            return navigation_yaw(grid(), prediction.predicted().x, prediction.predicted().y,
                                  portal.cell);
        }
        return std::nullopt;
    }

  private:
    [[noreturn]] static void fail(const char* message) { throw std::runtime_error(message); }

    static bool newer(std::uint32_t a, std::uint32_t b) {
        return static_cast<std::int32_t>(a - b) > 0;
    }

    void handoff_route(const Header& header, Reader& in, std::uint8_t channel, double now) {
        const std::uint8_t required = header.type == Type::MapChunk ? 2 : 0;
        if (channel != required) fail("invalid control channel");
        const std::uint32_t epoch_before = handoff.epoch;
        const HandoffState state_before = handoff.state;
        const std::optional<Writer> ack = handoff.handle(header, in);
        if (header.type == Type::Welcome) send(Type::Profile, credentials.write(), 0, true);
        if (ack) send(Type::TransitionAck, *ack, 0, true);
        if (handoff.epoch != epoch_before) {
            prediction.reset(handoff.spawn);
            history.clear();
            assembly = SnapshotAssembly{};
            server_tick_base = handoff.server_tick;
            input_paused = header.type == Type::TransitionAbort;
            status = SectorStatus{};
            adventure = AdventureState{};
            if (header.type == Type::TransitionAbort) ++aborts;
            if (header.type == Type::TransitionCommit) {
                ++commits;
                committed_sectors.push_back(handoff.committed->id);
                input_paused = false;
            }
            last_tick = 0;
            last_sequence = 0;
            last_snapshot_time = now;
        }
        if (state_before != HandoffState::Transit && handoff.state == HandoffState::Transit)
            history.clear();
    }

    void apply_snapshot(const Header& header, Reader& in, double now) {
        const std::optional<Snapshot> snapshot = assembly.ingest(header, in, now);
        if (!snapshot) return;
        const Sector& sector = *handoff.committed;
        if (snapshot->sector != sector.id || snapshot->revision != sector.revision ||
            snapshot->viewer != handoff.player_id)
            fail("snapshot world mismatch");
        for (const ReplicatedEntity& entity : snapshot->entities)
            if (entity.kind == 4 && entity.height != 128) fail("projectile altitude mismatch");
        const ReplicatedEntity& viewer = snapshot->entities.front();
        if (prediction.predicted().health == 0 && viewer.health != 0) {
            prediction.reset(viewer);
            history.clear();
        }
        prediction.reconcile(viewer, snapshot->input_ack, snapshot->tick, grid());
        handoff.spawn = viewer;
        server_tick_base = handoff.server_tick = snapshot->tick;
        ++snapshots;
        input_paused = false;
        last_snapshot_time = now;
        last_snapshot = snapshot;
    }
};

} // namespace kestrel::test
