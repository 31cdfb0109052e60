// The client message router on a fresh networked RunState. Input: byte flags (bit 0: audio),
// then per packet: byte channel (modulo 4: one does not exist), byte dt (1/100 s), a record
// with the packet. A refused packet must leave the state as it was; the run carries on.
#include <ostream>

#include "client/frame_builder.h"
#include "client/router.h"
#include "fuzz/same.h"
#include "render/entity_mesh.h"
#include "render/frame.h"
#include "render/overlay.h"
#include "render/world_mesh.h"

// clang-format off
KESTREL_MEMBERS(kestrel::RunStats, v.frames, v.commits, v.hits, v.damage, v.pickups, v.respawns,
                v.enemy_shots, v.rewards, v.projectile_snapshots, v.initial_items, v.enemy_span_x,
                v.enemy_span_y, v.snapshots);
KESTREL_MEMBERS(kestrel::RemoteInterpolation::Sample, v.snapshot, v.time);
KESTREL_MEMBERS(kestrel::RadarBlip, v.x, v.y, v.age);
KESTREL_MEMBERS(kestrel::Outgoing, v.type, v.payload.bytes, v.channel, v.reliable);
KESTREL_MEMBERS(kestrel::SoundCue, v.effect, v.variant);
KESTREL_MEMBERS(kestrel::TextEntry, v.active, v.field, v.buffer, v.pending_name);
// Every member of the run state the router may reach.
KESTREL_MEMBERS(kestrel::RunState, v.credentials, v.profile_path, v.handoff, v.prediction, v.assembly,
                v.remotes, v.adventure, v.expedition, v.status, v.status_sequence, v.stats,
                v.radar_contacts, v.attack_times, v.death_times, v.banner_text, v.panel,
                v.last_summary_run, v.navigation_selection, v.selected_weapon, v.yaw, v.approach,
                v.input_history, v.last_sequence, v.last_tick, v.next_tick_time, v.server_tick_base,
                v.last_snapshot_time, v.input_paused, v.last_shot_time, v.next_shot_time,
                v.hit_marker_until, v.damage_flash_until, v.banner_until, v.link_cooldown_until,
                v.focused, v.mouse_captured, v.running, v.text_entry, v.outbox, v.sounds);
// clang-format on
KESTREL_MEMBERS(kestrel::Prediction, v.pending(), v.predicted(), v.previous(), v.offset().x,
                v.offset().y, v.reconciles(), v.max_correction());
KESTREL_MEMBERS(kestrel::RemoteInterpolation, v.samples(), v.server_time(), v.pushed_at());

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

// The world mesh buffer's size (render/renderer.cpp); more ends the run with an error.
constexpr std::size_t world_capacity = 65536;

using MeshKey = std::pair<std::uint64_t, std::uint32_t>; // the sector last meshed, as cached

void check(RunState& state, const RunState& before, const Header& header, double now,
           MeshKey& key) {
    // The routes that drop a message of another epoch after their guards change nothing.
    using enum Type;
    for (Type type :
         {SnapshotPart, MapPatch, CombatEvent, SectorStatus, AdventureState, ExpeditionState})
        if (header.type == type && header.epoch != before.handoff.epoch)
            KESTREL_FUZZ_CHECK(same(state, before));
    // A sector status only moves to a newer sequence (or is cleared by an epoch change).
    const std::uint32_t was = before.status_sequence, is = state.status_sequence;
    if (is != was && is != 0) KESTREL_FUZZ_CHECK(was == 0 || std::int32_t(is - was) > 0);
    for (const Outgoing& m : state.outbox) // reliable on channel 0, and sendable
        KESTREL_FUZZ_CHECK(
            (m.type == Profile || m.type == TransitionAck) && m.channel == 0 && m.reliable &&
            !packet(m.type, state.handoff.session, 1, state.handoff.epoch, m.payload).empty());
    // Only a combat event plays a sound, one at most, and only with an audio stream.
    KESTREL_FUZZ_CHECK(state.sounds.size() <=
                       (state.config.has_audio && header.type == CombatEvent));
    if (state.in_game()) KESTREL_FUZZ_CHECK(state.handoff.committed.has_value());
    // An epoch change clears what belongs to the sector left behind.
    if (state.handoff.epoch != before.handoff.epoch)
        KESTREL_FUZZ_CHECK(state.assembly.partials.empty() && !state.assembly.last &&
                           state.remotes.samples().empty() && state.radar_contacts.empty() &&
                           state.status_sequence == 0 &&
                           state.adventure == kestrel::AdventureState{} &&
                           state.prediction.predicted() == state.handoff.spawn &&
                           state.last_sequence == 0 && state.last_tick == 0);
    KESTREL_FUZZ_CHECK(state.stats.snapshots >= before.stats.snapshots &&
                       state.stats.commits >= before.stats.commits);
    if (state.stats.snapshots != before.stats.snapshots)
        KESTREL_FUZZ_CHECK(state.in_game() && !state.remotes.samples().empty() &&
                           state.server_tick_base == state.handoff.server_tick);
    state.prediction.smooth(1.0 / 60);
    state.outbox.clear();
    state.sounds.clear();

    const Frame frame = build_frame(state, now, AudioView{});
    if (frame.sector && key != MeshKey{frame.sector->id, frame.sector->revision}) {
        KESTREL_FUZZ_CHECK(world_mesh(*frame.sector).size() <= world_capacity);
        key = {frame.sector->id, frame.sector->revision};
    }
    // One buffer, like the renderer's: fresh ones cost page faults under the sanitizer.
    static std::vector<Vertex> vertices;
    vertices.clear();
    if (frame.sector && !frame.transition)
        entity_pass(vertices, frame.entities, *frame.sector, frame.yaw, frame.time);
    overlay_pass(vertices, frame);
    KESTREL_FUZZ_CHECK(vertices.size() <= max_frame_vertices);
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
        Reader reader(input.record());
        Header header;
        if (!decoded(header, [&] { return read_header(reader); })) continue;
        const auto before =
            applied(state, [&](RunState& s) { route(s, header, reader, channel, now, out); });
        if (before) check(state, *before, header, now, key);
    }
    return 0;
}
