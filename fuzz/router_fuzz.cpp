// The whole client message router fed a sequence of packets on a fresh RunState of a
// networked run (config.has_transport, no profile file), as the main loop
// delivers them.
//
// Input: byte run flags (bit 0: an audio stream exists, so combat events queue sounds),
// then per packet: byte channel (modulo 4: the three ENet channels and one that does
// not exist), byte dt (the clock advances by dt / 100 seconds), then one record holding
// the packet, header included (framing in fuzz_input.h). Packets whose header read_header
// refuses are skipped. The main loop would end the run at the first error; the fuzzer
// carries on with the state the error left, which must be the state before the packet.
// After every accepted packet the queued packets must be sendable, an epoch change must
// have cleared what belongs to the sector left behind, a message of a stale epoch on a
// dedicated route must have changed nothing, the stored sector status may only have
// moved to a newer sequence (or been cleared by an epoch change), and the frame
// builder's remote sample must be computable. The "Committed sector" lines go to a stream without
// buffer.
#include <bit>
#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "client/frame_builder.h"
#include "client/router.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/same.h"
#include "render/entity_mesh.h"
#include "render/frame.h"
#include "render/overlay.h"
#include "render/world_mesh.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

using kestrel::fuzz::same;

// Bit equality, so that a NaN that was already there compares equal to itself.
bool same(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
bool same(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

template <typename Map>
bool same_times(const Map& a, const Map& b) {
    if (a.size() != b.size()) return false;
    for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y)
        if (x->first != y->first || !same(x->second, y->second)) return false;
    return true;
}

bool same(const RunStats& a, const RunStats& b) {
    return a.frames == b.frames && a.commits == b.commits && a.hits == b.hits &&
           a.damage == b.damage && a.pickups == b.pickups && a.respawns == b.respawns &&
           a.enemy_shots == b.enemy_shots && a.rewards == b.rewards &&
           a.projectile_snapshots == b.projectile_snapshots && a.initial_items == b.initial_items &&
           same(a.enemy_span_x, b.enemy_span_x) && same(a.enemy_span_y, b.enemy_span_y) &&
           a.snapshots == b.snapshots;
}

bool same(const Prediction& a, const Prediction& b) {
    return a.pending() == b.pending() && a.predicted() == b.predicted() &&
           a.previous() == b.previous() && same(a.offset().x, b.offset().x) &&
           same(a.offset().y, b.offset().y) && a.reconciles() == b.reconciles() &&
           same(a.max_correction(), b.max_correction());
}

bool same(const RemoteInterpolation& a, const RemoteInterpolation& b) {
    if (a.samples().size() != b.samples().size()) return false;
    for (std::size_t i = 0; i < a.samples().size(); ++i)
        if (!same(a.samples()[i].snapshot, b.samples()[i].snapshot) ||
            !same(a.samples()[i].time, b.samples()[i].time))
            return false;
    return same(a.server_time(), b.server_time()) && same(a.pushed_at(), b.pushed_at());
}

bool same_radar(const RunState& a, const RunState& b) {
    if (a.radar_contacts.size() != b.radar_contacts.size()) return false;
    for (auto x = a.radar_contacts.begin(), y = b.radar_contacts.begin();
         x != a.radar_contacts.end(); ++x, ++y) {
        const auto& [blip_a, time_a] = x->second;
        const auto& [blip_b, time_b] = y->second;
        if (x->first != y->first || !same(blip_a.x, blip_b.x) || !same(blip_a.y, blip_b.y) ||
            !same(blip_a.age, blip_b.age) || !same(time_a, time_b))
            return false;
    }
    return true;
}

bool same_queues(const RunState& a, const RunState& b) {
    if (a.outbox.size() != b.outbox.size() || a.sounds.size() != b.sounds.size()) return false;
    for (std::size_t i = 0; i < a.outbox.size(); ++i) {
        const Outgoing& x = a.outbox[i];
        const Outgoing& y = b.outbox[i];
        if (x.type != y.type || x.payload.bytes != y.payload.bytes || x.channel != y.channel ||
            x.reliable != y.reliable)
            return false;
    }
    for (std::size_t i = 0; i < a.sounds.size(); ++i)
        if (a.sounds[i].effect != b.sounds[i].effect || a.sounds[i].variant != b.sounds[i].variant)
            return false;
    return true;
}

// Every member of the run state the router may reach.
bool same(const RunState& a, const RunState& b) {
    return a.credentials == b.credentials && a.profile_path == b.profile_path &&
           same(a.handoff, b.handoff) && same(a.prediction, b.prediction) &&
           same(a.assembly, b.assembly) && same(a.remotes, b.remotes) &&
           a.adventure == b.adventure && a.expedition == b.expedition && a.status == b.status &&
           a.status_sequence == b.status_sequence && same(a.stats, b.stats) && same_radar(a, b) &&
           same_times(a.attack_times, b.attack_times) && same_times(a.death_times, b.death_times) &&
           a.banner_text == b.banner_text && a.panel == b.panel &&
           a.last_summary_run == b.last_summary_run &&
           a.navigation_selection == b.navigation_selection &&
           a.selected_weapon == b.selected_weapon && same(a.yaw, b.yaw) &&
           a.approach == b.approach && a.input_history == b.input_history &&
           a.last_sequence == b.last_sequence && a.last_tick == b.last_tick &&
           same(a.next_tick_time, b.next_tick_time) && a.server_tick_base == b.server_tick_base &&
           same(a.last_snapshot_time, b.last_snapshot_time) && a.input_paused == b.input_paused &&
           same(a.last_shot_time, b.last_shot_time) && same(a.next_shot_time, b.next_shot_time) &&
           same(a.hit_marker_until, b.hit_marker_until) &&
           same(a.damage_flash_until, b.damage_flash_until) &&
           same(a.banner_until, b.banner_until) &&
           same(a.link_cooldown_until, b.link_cooldown_until) && a.focused == b.focused &&
           a.mouse_captured == b.mouse_captured && a.running == b.running &&
           a.text_entry.active == b.text_entry.active && a.text_entry.field == b.text_entry.field &&
           a.text_entry.buffer == b.text_entry.buffer &&
           a.text_entry.pending_name == b.text_entry.pending_name && same_queues(a, b);
}

// The routes that drop a message of another epoch after their guards.
bool epoch_route(Type type) {
    switch (type) {
    case Type::SnapshotPart:
    case Type::MapPatch:
    case Type::CombatEvent:
    case Type::SectorStatus:
    case Type::AdventureState:
    case Type::ExpeditionState:
        return true;
    default:
        return false;
    }
}

// The world mesh buffer's size (render/renderer.cpp): a sector that needs more ends the run
// with a capacity error. The per-frame buffers grow instead, up to a guard above
// max_frame_vertices (render/frame.h), the bound every frame must keep, whatever the server
// sent.
constexpr std::size_t world_capacity = 65536;

// The sector whose world mesh was built last, as the renderer caches it.
struct MeshKey {
    std::uint64_t id = 0;
    std::uint32_t revision = 0;
};

void present(RunState& state, double now, MeshKey& key) {
    const Frame frame = build_frame(state, now, AudioView{});
    if (frame.sector && (frame.sector->id != key.id || frame.sector->revision != key.revision)) {
        KESTREL_FUZZ_CHECK(world_mesh(*frame.sector).size() <= world_capacity);
        key = {frame.sector->id, frame.sector->revision};
    }
    // One buffer for the whole run, like the renderer's: a fresh vector per frame would
    // spend the time in page faults on memory the sanitizer's quarantine never hands back.
    static std::vector<Vertex> vertices;
    vertices.clear();
    if (frame.sector && !frame.transition)
        entity_pass(vertices, frame.entities, *frame.sector, frame.yaw, frame.time);
    overlay_pass(vertices, frame);
    KESTREL_FUZZ_CHECK(vertices.size() <= max_frame_vertices);
}

void check(RunState& state, const RunState& before, const Header& header) {
    if (epoch_route(header.type) && header.epoch != before.handoff.epoch)
        KESTREL_FUZZ_CHECK(same(state, before));
    if (state.status_sequence != before.status_sequence && state.status_sequence != 0)
        KESTREL_FUZZ_CHECK(
            before.status_sequence == 0 ||
            static_cast<std::int32_t>(state.status_sequence - before.status_sequence) > 0);
    for (const Outgoing& message : state.outbox) {
        KESTREL_FUZZ_CHECK(message.type == Type::Profile || message.type == Type::TransitionAck);
        KESTREL_FUZZ_CHECK(message.channel == 0 && message.reliable);
        packet(message.type, state.handoff.session, 1, state.handoff.epoch, message.payload);
    }
    // Only a combat event plays a sound, one at most, and only with an audio stream.
    if (!state.config.has_audio || header.type != Type::CombatEvent)
        KESTREL_FUZZ_CHECK(state.sounds.empty());
    KESTREL_FUZZ_CHECK(state.sounds.size() <= 1);
    if (state.in_game()) KESTREL_FUZZ_CHECK(state.handoff.committed.has_value());
    if (state.handoff.epoch != before.handoff.epoch) {
        KESTREL_FUZZ_CHECK(state.assembly.partials.empty() && !state.assembly.last);
        KESTREL_FUZZ_CHECK(state.remotes.samples().empty());
        KESTREL_FUZZ_CHECK(state.radar_contacts.empty() && state.status_sequence == 0);
        KESTREL_FUZZ_CHECK(state.adventure == AdventureState{});
        KESTREL_FUZZ_CHECK(state.prediction.predicted() == state.handoff.spawn);
        KESTREL_FUZZ_CHECK(state.last_sequence == 0 && state.last_tick == 0);
    }
    const RunStats& stats = state.stats;
    KESTREL_FUZZ_CHECK(stats.snapshots >= before.stats.snapshots);
    if (stats.snapshots != before.stats.snapshots) {
        KESTREL_FUZZ_CHECK(state.in_game() && !state.remotes.samples().empty());
        KESTREL_FUZZ_CHECK(state.server_tick_base == state.handoff.server_tick);
    }
    KESTREL_FUZZ_CHECK(stats.commits >= before.stats.commits);
    state.prediction.smooth(1.0 / 60);
    state.outbox.clear();
    state.sounds.clear();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{data, size};
    RunState state;
    state.config.has_transport = true;
    state.config.has_audio = (input.byte() & 1) != 0;
    std::ostream out(nullptr);
    double now = 0;
    MeshKey key;
    while (!input.empty()) {
        const auto channel = static_cast<std::uint8_t>(input.byte() % 4);
        now += input.byte() / 100.0;
        const std::span<const std::uint8_t> bytes = input.record();
        Reader reader(bytes);
        Header header;
        try {
            header = read_header(reader);
        } catch (const std::runtime_error&) {
            continue;
        }
        const RunState before = state;
        try {
            route(state, header, reader, channel, now, out);
        } catch (const std::runtime_error&) {
            KESTREL_FUZZ_CHECK(same(state, before));
            continue;
        }
        check(state, before, header);
        present(state, now, key);
    }
    return 0;
}
