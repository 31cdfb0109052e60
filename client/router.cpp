#include "client/router.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "client/profile.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

// Meta-state records replace the stored one only when they are newer in wrap-around order
// (signed 32-bit difference above 0); a stored sequence of 0 means none yet.
bool accepts(std::uint32_t stored, std::uint32_t incoming) {
    return stored == 0 || static_cast<std::int32_t>(incoming - stored) > 0;
}

constexpr std::uint8_t kind_enemy = 2;
constexpr std::uint8_t kind_item = 3;
constexpr std::uint8_t kind_projectile = 4;
constexpr std::uint16_t projectile_height = 128; // half a cell, where every shot flies

// Everything that belongs to the sector just left is dropped when the epoch changes; the
// expedition state and the banner survive. The Welcome's first epoch counts as a change
// too, which starts the run from the same clean state as any handoff.
void start_epoch(RunState& state, Type type, double now, std::ostream& out) {
    const HandoffClient& handoff = state.handoff;
    state.adventure = AdventureState{};
    state.prediction.reset(handoff.spawn);
    state.input_history.clear();
    state.radar_contacts.clear();
    state.death_times.clear();
    state.attack_times.clear();
    state.assembly = SnapshotAssembly{};
    state.remotes.clear();
    state.yaw = static_cast<float>(handoff.spawn.yaw);
    state.server_tick_base = handoff.server_tick;
    // An abort keeps the old sector but the server has not placed us in the new epoch yet:
    // input waits for the first snapshot of it.
    state.input_paused = type == Type::TransitionAbort;
    state.status = SectorStatus{};
    state.status_sequence = 0;
    if (type == Type::TransitionCommit && handoff.committed) {
        out << "Committed sector " << handoff.committed->id << " epoch " << handoff.epoch << '\n';
        out.flush();
        state.stats.commits += 1;
        state.input_paused = false;
    }
    // Input sequence numbers restart at 1 in every epoch.
    state.last_tick = 0;
    state.last_sequence = 0;
    state.last_snapshot_time = now;
    state.next_tick_time = now;
}

// Admission and handoff: everything the dedicated routes do not take.
void route_control(RunState& state, const Header& header, Reader& in, double now,
                   std::ostream& out) {
    const std::uint32_t epoch_before = state.handoff.epoch;
    const HandoffState state_before = state.handoff.state;
    std::optional<Writer> ack = state.handoff.handle(header, in);
    if (header.type == Type::Welcome)
        state.outbox.push_back({Type::Profile, state.credentials.write(), 0, true});
    if (ack) state.outbox.push_back({Type::TransitionAck, std::move(*ack), 0, true});
    if (state.handoff.epoch != epoch_before) start_epoch(state, header.type, now, out);
    if (state_before != HandoffState::Transit && state.handoff.state == HandoffState::Transit) {
        state.input_history.clear();
        state.next_tick_time = now;
    }
}

void apply_snapshot(RunState& state, const Header& header, Reader& in, double now) {
    // Ingest into a copy: the world checks below may still refuse the completed snapshot,
    // and a refused one must not count as the last completed.
    SnapshotAssembly assembly = state.assembly;
    std::optional<Snapshot> completed = assembly.ingest(header, in, now);
    if (!completed) {
        state.assembly = std::move(assembly);
        return;
    }
    const Snapshot& snapshot = *completed;
    const std::optional<Sector>& sector = state.handoff.committed;
    if (!sector || snapshot.sector != sector->id || snapshot.revision != sector->revision ||
        snapshot.viewer != state.handoff.player_id)
        fail("snapshot world mismatch");

    bool has_projectile = false;
    for (const ReplicatedEntity& entity : snapshot.entities) {
        if (entity.kind != kind_projectile) continue;
        has_projectile = true;
        if (entity.height != projectile_height) fail("projectile altitude mismatch");
    }

    // Checks passed; from here on nothing throws.
    if (has_projectile) state.stats.projectile_snapshots += 1;
    if (state.stats.snapshots == 0) {
        // The extent of the enemies in cells; no enemy (or one) gives 0.
        float min_x = 32, min_y = 32, max_x = 0, max_y = 0;
        for (const ReplicatedEntity& entity : snapshot.entities) {
            if (entity.kind == kind_item) state.stats.initial_items += 1;
            if (entity.kind != kind_enemy) continue;
            const float x = static_cast<float>(entity.x) / 65536.0f;
            const float y = static_cast<float>(entity.y) / 65536.0f;
            min_x = std::min(min_x, x);
            max_x = std::max(max_x, x);
            min_y = std::min(min_y, y);
            max_y = std::max(max_y, y);
        }
        state.stats.enemy_span_x = std::max(0.0f, max_x - min_x);
        state.stats.enemy_span_y = std::max(0.0f, max_y - min_y);
    }

    const Player& viewer = snapshot.entities.front(); // the assembly guarantees the viewer first
    if (state.prediction.predicted().health == 0 && viewer.health != 0) {
        state.prediction.reset(viewer); // respawned
        state.input_history.clear();
    }
    state.prediction.reconcile(viewer, snapshot.input_ack, snapshot.tick, sector->collision(false));
    state.handoff.spawn = viewer;
    state.handoff.server_tick = snapshot.tick;
    state.server_tick_base = snapshot.tick;
    state.remotes.push(snapshot, now);
    state.assembly = std::move(assembly);
    state.stats.snapshots += 1;
    state.input_paused = false;
    state.last_snapshot_time = now;
}

// CombatEvent payload, 16 bytes:
//
//   offset size field
//        0    4 (not used by the client)
//        4    4 subject   entity the event is about
//        8    2 x         1/256 cell
//       10    2 y         1/256 cell
//       12    1 kind      1..30
//       13    1 padding   0
//       14    2 value     kind-specific amount
struct CombatEvent {
    std::uint32_t subject = 0;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint8_t kind = 0;
    std::uint16_t value = 0;
};

CombatEvent read_combat_event(Reader& in) {
    CombatEvent event;
    in.u32();
    event.subject = in.u32();
    event.x = in.u16();
    event.y = in.u16();
    event.kind = in.u8();
    const std::uint8_t padding = in.u8();
    if (event.kind < 1 || event.kind > 30 || padding != 0) fail("invalid combat kind");
    event.value = in.u16();
    in.end();
    return event;
}

// A pickup's value carries its sort in the high byte and the amount in the low byte.
std::string pickup_banner(std::uint16_t value) {
    const std::string amount = std::to_string(value & 0xff);
    switch (value >> 8) {
    case 1:
        return "HEALTH +" + amount;
    case 2:
        return "AMMO +" + amount;
    default:
        return "POWER-UP";
    }
}

void handle_combat(RunState& state, Reader& in, double now) {
    const CombatEvent event = read_combat_event(in);
    RunStats& stats = state.stats;
    switch (event.kind) {
    case 1:
        stats.hits += 1;
        state.hit_marker_until = now + 0.15;
        break;
    case 2:
        stats.damage += 1;
        state.damage_flash_until = now + 0.3;
        break;
    case 3:
        stats.pickups += 1;
        state.banner_text = pickup_banner(event.value);
        state.banner_until = now + 0.5;
        break;
    case 4:
        stats.respawns += 1;
        break;
    case 5:
        stats.enemy_shots += 1;
        state.radar_contacts[event.subject] = {
            RadarBlip{static_cast<float>(event.x) / 256.0f, static_cast<float>(event.y) / 256.0f},
            now};
        state.attack_times[event.subject] = now;
        break;
    case 6:
        stats.rewards += 1;
        break;
    case 7:
        state.attack_times[event.subject] = now;
        break;
    case 19:
        state.banner_text = "SALVAGE +" + std::to_string(event.value);
        state.banner_until = now + 1.5;
        break;
    case 20:
        state.banner_text = "OBJECTIVE COMPLETE / SALVAGE +40";
        state.banner_until = now + 1.5;
        break;
    case 21:
        state.banner_text = "SALVAGE BANKED +" + std::to_string(event.value);
        state.banner_until = now + 1.5;
        break;
    case 22:
        state.banner_text = "SECRET FOUND / SALVAGE +50";
        state.banner_until = now + 1.5;
        break;
    default:
        break;
    }

    if (!state.config.has_audio) return;
    // Kind 13 about ourselves is our own sound, already played locally.
    if (event.kind == 13 && event.subject == state.handoff.spawn.id) return;
    // Kind 11 picks its variant from the subject's top bit.
    const int variant = event.kind == 11 ? 1 + static_cast<int>(event.subject >> 31) : event.value;
    state.sounds.push_back({event.kind, variant});
}

void handle_status(RunState& state, Reader& in) {
    const SectorStatus status = SectorStatus::read(in);
    if (!accepts(state.status_sequence, status.sequence)) return;
    state.status = status;
    state.status_sequence = status.sequence;
}

void handle_adventure(RunState& state, Reader& in) {
    AdventureState adventure = AdventureState::read(in);
    if (!accepts(state.adventure.sequence, adventure.sequence)) return;
    state.adventure = std::move(adventure);
}

void handle_expedition(RunState& state, Reader& in) {
    ExpeditionState expedition = ExpeditionState::read(in);
    if (!accepts(state.expedition.sequence, expedition.sequence)) return;

    Panel panel = state.panel == Panel::vote ? Panel::none : state.panel;
    if (expedition.vote_open && expedition.vote_ticks != 0) panel = Panel::vote;
    std::uint32_t last_summary_run = state.last_summary_run;
    // contract_state 2 (completed) or 3 (extracted): the expedition is over; its summary
    // opens once per run.
    if (expedition.contract_state > 1) {
        if (expedition.run_id != last_summary_run) panel = Panel::summary;
        last_summary_run = expedition.run_id;
    }

    // The server's crew code is the party we rejoin next time. Saved before anything is
    // applied, so a failed save leaves the run state untouched.
    if (expedition.crew_code != state.credentials.party) {
        Credentials credentials = state.credentials;
        credentials.party = expedition.crew_code;
        save_profile(state.profile_path, credentials);
        state.credentials = std::move(credentials);
    }
    state.expedition = std::move(expedition);
    state.panel = panel;
    state.last_summary_run = last_summary_run;
}

// ProfileError payload, 1 byte: the code (1 = already playing elsewhere).
[[noreturn]] void handle_profile_error(Reader& in) {
    const std::uint8_t code = in.u8();
    in.end();
    if (code == 1) fail("This profile is already playing. Close the other client and reconnect.");
    fail("Cannot load the saved profile");
}

} // namespace

void route(RunState& state, const Header& header, Reader& reader, std::uint8_t channel, double now,
           std::ostream& out) {
    const HandoffClient& handoff = state.handoff;
    const bool session = header.session == handoff.session;
    const bool current = header.epoch == handoff.epoch;
    switch (header.type) {
    case Type::SnapshotPart:
        if (channel != 1 || !session) fail("invalid snapshot channel/session");
        if (!current || handoff.state != HandoffState::Active) return;
        apply_snapshot(state, header, reader, now);
        return;
    case Type::MapPatch:
        if (channel != 0 || !session) fail("invalid map patch channel");
        if (!current || !handoff.committed) return;
        state.handoff.committed = apply_map_patch(*handoff.committed, reader);
        return;
    case Type::CombatEvent:
        if (channel != 0 || !session || header.length != combat_event_size)
            fail("invalid combat event");
        if (!current) return;
        handle_combat(state, reader, now);
        return;
    case Type::SectorStatus:
        if (channel != 1 || !session || header.length != sector_status_size)
            fail("invalid sector status channel");
        if (!current) return;
        handle_status(state, reader);
        return;
    case Type::AdventureState:
        if (channel != 1 || !session) fail("invalid adventure channel");
        if (!current) return;
        handle_adventure(state, reader);
        return;
    case Type::ProfileError:
        if (channel != 0 || !session) fail("invalid profile error");
        handle_profile_error(reader);
    case Type::ExpeditionState:
        if (channel != 1 || !session) fail("invalid expedition channel");
        if (!current) return;
        handle_expedition(state, reader);
        return;
    default:
        if (channel != (header.type == Type::MapChunk ? 2 : 0)) fail("invalid control channel");
        route_control(state, header, reader, now, out);
        return;
    }
}

} // namespace kestrel
