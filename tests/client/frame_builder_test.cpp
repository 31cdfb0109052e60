#include "client/frame_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;
using Times = std::map<std::uint32_t, double>;
const AudioView speakers{true, true, true, 1, 1};

Player at(double x, double y, std::uint16_t health = 100) {
    Player player;
    std::tie(player.id, player.x, player.y, player.health) =
        std::make_tuple(1, std::int32_t(x * cell), std::int32_t(y * cell), health);
    return player;
}

// Playing an open room at (5.5, 5.5), the last snapshot at time 10.
RunState playing() {
    RunState state;
    state.handoff.committed = Sector{};
    state.handoff.state = HandoffState::Active;
    state.prediction.reset(at(5.5, 5.5));
    state.last_snapshot_time = state.next_tick_time = 10.0;
    return state;
}

// The viewer (id 1) and enemies with the given ids and health, all at (4, 4).
void push(RunState& state, std::vector<std::pair<std::uint32_t, std::uint16_t>> all, double now) {
    Snapshot snapshot{1, 1, 0, 0, 1, 0, 0, {}};
    for (const auto& [id, health] : all) {
        ReplicatedEntity e;
        std::tie(e.id, e.x, e.y, e.health, e.kind) =
            std::make_tuple(id, 4 * cell, 4 * cell, health, 2);
        snapshot.entities.push_back(e);
    }
    state.remotes.push(snapshot, now);
}

TEST(FrameBuilder, StatusLineCameraAndDemo) {
    RunState state;
    Frame frame = build_frame(state, 1.0, speakers);
    EXPECT_EQ(std::tie(frame.sector, frame.status_line, frame.transition, frame.local_preview),
              std::make_tuple(nullptr, "CONNECTING", true, false));
    state = playing(); // a handoff in flight with the old sector held: the target, no world
    state.handoff.target_sector = 77;
    state.handoff.state = HandoffState::Transit;
    frame = build_frame(state, 10.0, speakers);
    EXPECT_EQ(std::tie(frame.sector, frame.status_line, frame.destination, frame.transition),
              std::make_tuple(nullptr, "WORMHOLE TRANSIT", 77u, true));
    state.handoff.state = HandoffState::Active;
    frame = build_frame(state, 10.2, speakers);
    EXPECT_EQ(std::tie(frame.sector, frame.transition, frame.destination),
              std::make_tuple(&*state.handoff.committed, false, 77u));
    SoundMixer mixer;
    mixer.music_on = false;
    mixer.effects_volume = 0.9f;
    // Rounded to the nearest percent; a switched-off channel reads 0; exactly 0.5 s is fresh.
    // clang-format off
    const std::tuple<double, AudioView, const char*> lines[] = {
        {10.5, speakers, "MUSIC [ ] 100% SFX - + 100%"}, {10.5, {true, true, true, 0.666f, 0.25f}, "MUSIC [ ] 67% SFX - + 25%"},
        {10.5, audio_view(mixer), "MUSIC [ ] 0% SFX - + 90%"}, {10.5, AudioView{}, "AUDIO UNAVAILABLE"},
        {10.51, speakers, "AWAITING SERVER"}};
    // clang-format on
    for (const auto& [now, audio, line] : lines)
        EXPECT_EQ(build_frame(state, now, audio).status_line, line);

    // The camera blends the last tick's two states by the time into the tick.
    ASSERT_TRUE(state.prediction.step(Input{1, 1, button::forward | button::run, 0}, Grid{}));
    const Player previous = state.prediction.previous(), predicted = state.prediction.predicted();
    ASSERT_NE(previous.x, predicted.x);
    state.next_tick_time = 10.0 + 1.0 / 60.0; // half-way into the tick
    EXPECT_FLOAT_EQ(build_frame(state, 10.0, speakers).camera.x,
                    (previous.x + predicted.x) / 2.0f / cell);

    state.config.demo = true; // the seven sample entities replace whatever was sampled
    push(state, {{1, 100}, {40, 100}}, 0.0);
    frame = build_frame(state, 30.0, speakers);
    EXPECT_TRUE(frame.local_preview && frame.status_line == "WASD / ARROWS / CLICK");
    ASSERT_EQ(frame.entities.size(), 7u);
    EXPECT_EQ(frame.entities[6], (DrawEntity{4.5f, 2.0f, 0, 0, 5, 0, 1, 5, 0, 100.0f, 6, 0}));
}

TEST(FrameBuilder, PlayerPanelsDeadlinesAndMusic) {
    RunState state = playing();
    Player me = at(5.5, 5.5, 37);
    std::tie(me.ammo, me.weapon) = std::make_tuple(12, 3);
    state.prediction.reset(me);
    state.text_entry = {true, TextEntry::Field::name, "ACE", ""};
    std::tie(state.panel, state.navigation_selection, state.hit_marker_until,
             state.damage_flash_until, state.banner_until, state.banner_text,
             state.last_shot_time) =
        std::make_tuple(Panel::navigation, 5, 20.0, 19.0, 21.0, "SALVAGE +5", 19.91);
    Frame frame = build_frame(state, 20.0, speakers);
    EXPECT_EQ(frame.player, me);
    EXPECT_EQ(std::tie(frame.health, frame.ammo, frame.weapon, frame.expedition_panel,
                       frame.expedition_selection, frame.notice, frame.banner),
              std::make_tuple(37, 12, 3, 2, 5u, "NAME / ACE_ / ENTER FOR PARTY", "SALVAGE +5"));
    EXPECT_NEAR(frame.recoil, 0.5f, 1e-4f);
    // 0.09 s after the shot no flash; deadlines are exclusive.
    EXPECT_EQ(
        std::tie(frame.muzzle_flash, frame.hit_marker, frame.damage_flash, frame.banner_visible),
        std::make_tuple(false, false, false, true));
    state.last_shot_time = 19.95;
    EXPECT_TRUE(build_frame(state, 20.0, speakers).muzzle_flash);
    EXPECT_EQ(build_frame(state, 20.5, speakers).recoil, 0.0f);

    const float calm = music_level(state);
    state.status.remaining = 3;
    const float fight = music_level(state);
    state.prediction.reset(at(5.5, 5.5, 0));
    const float dead = music_level(state);
    state.handoff.state = HandoffState::Transit;
    EXPECT_EQ(std::make_tuple(music_level(RunState{}), calm, fight, dead, music_level(state)),
              std::make_tuple(0.055f, 0.13f, 0.23f, 0.07f, 0.055f));
}

TEST(FrameBuilder, RadarContactsDeathAgesAndAttackMarks) {
    RunState state = playing();
    state.radar_contacts = {{7, {RadarBlip{3, 4, 0}, 8.5}}, // exactly 1.5 s old
                            {2, {RadarBlip{6, 7, 0}, 9.75}},
                            {5, {RadarBlip{1, 1, 0}, 8.4}}}; // too old
    const Frame frame = build_frame(state, 10.0, speakers);
    ASSERT_EQ(frame.blips.size(), 2u);
    EXPECT_EQ(
        std::make_tuple(frame.blips[0].x, frame.blips[0].age, frame.blips[1].y, frame.blips[1].age),
        std::make_tuple(6.0f, 0.25f, 4.0f, 1.5f)); // in id order
    // Without a frame, too; with no snapshot nobody is drawn, so no death time stays.
    state.attack_times = {{3, 8.5}, {4, 8.4}};
    state.death_times = {{9, 2.0}, {1, 2.0}};
    prune_contacts(state, 10.0);
    EXPECT_EQ(std::make_tuple(state.radar_contacts.size(), state.attack_times, state.death_times),
              std::make_tuple(std::size_t{2}, Times{{3, 8.5}}, Times{}));

    push(state, {{1, 100}, {9, 0}, {10, 100}, {12, 100}}, 5.0);
    state.death_times = {{10, 1.0}, {11, 1.0}}; // 10 is alive again, 11 is gone
    state.attack_times = {{9, 4.8}, {10, 4.75}, {20, 3.5}, {21, 3.4}};
    std::vector<DrawEntity> drawn = build_frame(state, 5.0, speakers).entities;
    ASSERT_EQ(drawn.size(), 3u); // the viewer is drawn from prediction
    EXPECT_EQ(
        std::make_tuple(drawn[0].death_age, drawn[1].death_age, drawn[0].marked, drawn[1].marked),
        std::make_tuple(0.0f, 100.0f, 1, 0)); // attacked 0.2 s and exactly 0.25 s ago
    EXPECT_EQ(std::tie(state.death_times, state.attack_times),
              std::make_tuple(Times{{9, 5.0}}, Times{{9, 4.8}, {10, 4.75}, {20, 3.5}}));
    drawn = build_frame(state, 5.25, speakers).entities; // the death time is kept
    EXPECT_EQ(std::make_tuple(drawn[0].death_age, drawn[0].marked), std::make_tuple(0.25f, 0));
    state.death_times = {{9, 2.0}, {10, 2.0}, {11, 2.0}};
    prune_contacts(state, 6.0); // as a frame would leave it
    EXPECT_EQ(state.death_times, (Times{{9, 2.0}}));
}

} // namespace
} // namespace kestrel
