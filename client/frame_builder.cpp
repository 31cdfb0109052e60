#include "client/frame_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>

#include "client/input.h"

namespace kestrel {
namespace {

constexpr double tick_seconds = 1.0 / 30.0;
constexpr double recoil_seconds = 0.18; // the weapon kick settles in this long
constexpr double muzzle_flash_seconds = 0.08;
constexpr float cells_per_unit = 1.0f / 65536.0f;

// A volume setting as the status line shows it: whole percent, 0 while switched off.
std::string percent(bool on, float volume) {
    return std::to_string(on ? std::lround(volume * 100.0f) : 0L) + "%";
}

std::string status_line(const RunState& state, double now, const AudioView& audio) {
    if (!state.in_game())
        return state.handoff.state == HandoffState::Connecting ? "CONNECTING" : "WORMHOLE TRANSIT";
    if (state.config.demo) return "WASD / ARROWS / CLICK";
    if (now - state.last_snapshot_time > snapshot_silence) return "AWAITING SERVER";
    if (!audio.stream) return "AUDIO UNAVAILABLE";
    // "[ ]" and "- +" name the keys that change the two volumes.
    return "MUSIC [ ] " + percent(audio.music_on, audio.music_volume) + " SFX - + " +
           percent(audio.effects_on, audio.effects_volume);
}

// True when a camera at (x, y) cells would see through a wall: outside the legal player
// range, or closer than the body radius to a blocked or off-grid cell.
bool camera_in_wall(const Grid& grid, float x, float y) {
    const double px = static_cast<double>(x) * 65536.0;
    const double py = static_cast<double>(y) * 65536.0;
    if (px < coordinate_min || px > coordinate_max || py < coordinate_min || py > coordinate_max)
        return true;
    return !body_clear(grid, static_cast<std::int32_t>(std::lround(px)),
                       static_cast<std::int32_t>(std::lround(py)));
}

// The drawn view point: the last two predicted states blended by how far this instant is
// into the current input tick, plus the fading reconciliation offset. In game a point that
// pokes into a wall falls back to the predicted state itself.
Vec2 camera(const RunState& state, double now) {
    const Prediction& prediction = state.prediction;
    const Player& previous = prediction.previous();
    const Player& predicted = prediction.predicted();
    const float alpha = static_cast<float>(
        std::clamp(((now - state.next_tick_time) + tick_seconds) * 30.0, 0.0, 1.0));
    const Prediction::Offset offset = prediction.offset();
    const Vec2 blended{offset.x + ((1.0f - alpha) * static_cast<float>(previous.x) +
                                   alpha * static_cast<float>(predicted.x)) *
                                      cells_per_unit,
                       offset.y + ((1.0f - alpha) * static_cast<float>(previous.y) +
                                   alpha * static_cast<float>(predicted.y)) *
                                      cells_per_unit};
    if (state.in_game() &&
        camera_in_wall(state.handoff.committed->collision(false), blended.x, blended.y))
        return Vec2{static_cast<float>(predicted.x) * cells_per_unit,
                    static_cast<float>(predicted.y) * cells_per_unit};
    return blended;
}

// Erases every entry last touched more than contact_lifetime before now.
template <typename Map, typename TimeOf>
void erase_stale(Map& map, double now, TimeOf time_of) {
    std::erase_if(map, [&](const auto& entry) { return now - time_of(entry) > contact_lifetime; });
}

void prune_radar(RunState& state, double now) {
    erase_stale(state.radar_contacts, now, [](const auto& entry) { return entry.second.second; });
}

void prune_attacks(RunState& state, double now) {
    erase_stale(state.attack_times, now, [](const auto& entry) { return entry.second; });
}

// Death times, attack marks and the pruning that goes with them, over this frame's
// entities in order.
void age_entities(RunState& state, std::vector<DrawEntity>& entities, double now) {
    std::vector<std::uint32_t> seen;
    seen.reserve(entities.size());
    for (DrawEntity& entity : entities) {
        seen.push_back(entity.id);
        if (entity.health == 0) {
            const auto [it, inserted] = state.death_times.try_emplace(entity.id, now);
            entity.death_age = static_cast<float>(now - it->second);
        } else {
            state.death_times.erase(entity.id);
        }
        const auto attack = state.attack_times.find(entity.id);
        if (attack != state.attack_times.end() && now - attack->second < attack_mark_time)
            entity.marked = 1;
    }
    std::sort(seen.begin(), seen.end());
    std::erase_if(state.death_times, [&](const auto& entry) {
        return !std::binary_search(seen.begin(), seen.end(), entry.first);
    });
    prune_attacks(state, now);
}

DrawEntity demo_entity(float x, float y, std::uint32_t id, std::uint16_t health, std::uint16_t type,
                       std::uint8_t kind, std::uint16_t timer, std::uint16_t state) {
    DrawEntity entity;
    entity.x = x;
    entity.y = y;
    entity.z = 0;
    entity.yaw = 0;
    entity.id = id;
    entity.health = health;
    entity.type = type;
    entity.kind = kind;
    entity.marked = 0;
    entity.death_age = 100.0f;
    entity.timer = timer;
    entity.state = state;
    return entity;
}

} // namespace

AudioView audio_view(const SoundMixer& mixer) {
    return AudioView{true, mixer.music_on, mixer.effects_on, mixer.music_volume,
                     mixer.effects_volume};
}

Frame build_frame(RunState& state, double now, const AudioView& audio) {
    Frame frame;
    const bool in_game = state.in_game();
    frame.time = static_cast<float>(now);
    frame.transition = !in_game;
    frame.local_preview = state.config.demo;
    if (in_game) frame.sector = &*state.handoff.committed;
    frame.destination = state.handoff.target_sector;
    frame.status_line = status_line(state, now, audio);

    frame.camera = camera(state, now);
    const Player& predicted = state.prediction.predicted();
    frame.yaw = state.yaw;
    frame.health = predicted.health;
    frame.ammo = predicted.ammo;
    frame.weapon = predicted.weapon;
    frame.player = predicted;

    frame.status = state.status;
    frame.adventure = state.adventure;
    frame.expedition = state.expedition;
    frame.expedition_panel = static_cast<std::uint8_t>(state.panel);
    frame.expedition_selection = static_cast<std::uint32_t>(state.navigation_selection);
    frame.recoil =
        static_cast<float>(std::max(0.0, 1.0 - (now - state.last_shot_time) / recoil_seconds));
    frame.notice = text_entry_notice(state);

    frame.hit_marker = now < state.hit_marker_until;
    frame.damage_flash = now < state.damage_flash_until;
    frame.banner_visible = now < state.banner_until;
    frame.banner = state.banner_text;
    frame.muzzle_flash = now - state.last_shot_time < muzzle_flash_seconds;

    prune_radar(state, now);
    frame.blips.reserve(state.radar_contacts.size());
    for (const auto& [id, contact] : state.radar_contacts) {
        RadarBlip blip = contact.first;
        blip.age = static_cast<float>(now - contact.second);
        frame.blips.push_back(blip);
    }

    frame.entities = state.remotes.sample(now);
    age_entities(state, frame.entities, now);
    if (state.config.demo) frame.entities = demo_entities();
    return frame;
}

void prune_contacts(RunState& state, double now) {
    prune_radar(state, now);
    prune_attacks(state, now);
    // What the next frame would keep: the dead among the entities sampling would draw,
    // which are those of the newest snapshot except the viewer, with their newest health.
    const auto& samples = state.remotes.samples();
    if (samples.empty()) {
        state.death_times.clear();
        return;
    }
    const Snapshot& newest = samples.back().snapshot;
    std::erase_if(state.death_times, [&](const auto& entry) {
        return std::none_of(
            newest.entities.begin(), newest.entities.end(), [&](const ReplicatedEntity& e) {
                return e.id == entry.first && e.id != newest.viewer && e.health == 0;
            });
    });
}

float music_level(const RunState& state) {
    if (!state.in_game()) return 0.055f;
    if (state.prediction.predicted().health == 0) return 0.07f;
    return state.status.remaining != 0 ? 0.23f : 0.13f;
}

std::vector<DrawEntity> demo_entities() {
    return {
        //          x     y   id  health type kind timer state
        demo_entity(4.5f, 3.5f, 2, 100, 1, 1, 0, 0), // a player
        demo_entity(5.5f, 2.5f, 3, 250, 8, 2, 0, 0), // a large enemy
        demo_entity(3.7f, 3.0f, 4, 1, 9, 6, 0, 0),    demo_entity(4.5f, 4.0f, 6, 25, 11, 8, 0, 0),
        demo_entity(5.0f, 1.5f, 7, 100, 12, 9, 0, 0), demo_entity(3.2f, 1.8f, 8, 100, 13, 10, 0, 3),
        demo_entity(4.5f, 2.0f, 5, 0, 1, 5, 6, 0), // a downed player, its death long past
    };
}

} // namespace kestrel
