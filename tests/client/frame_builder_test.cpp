#include "client/frame_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;
constexpr std::uint32_t viewer = 1;
const AudioView speakers{true, true, true, 1, 1};

// Solid border, open inside: the default palette's tile 1 blocks, tile 0 is floor.
Sector walled_room() {
    Sector sector;
    sector.id = 500;
    for (int i = 0; i < sector_size; ++i) {
        sector.cells[i] = sector.cells[31 * sector_size + i] = 1;
        sector.cells[i * sector_size] = sector.cells[i * sector_size + 31] = 1;
    }
    return sector;
}

Player at(double x, double y) {
    Player player;
    player.id = viewer;
    player.x = static_cast<std::int32_t>(x * cell);
    player.y = static_cast<std::int32_t>(y * cell);
    return player;
}

// Playing the walled room at (5.5, 5.5), last snapshot at time 10.
RunState playing() {
    RunState state;
    state.handoff.committed = walled_room();
    state.handoff.state = HandoffState::Active;
    state.prediction.reset(at(5.5, 5.5));
    state.last_snapshot_time = 10.0;
    state.next_tick_time = 10.0;
    return state;
}

ReplicatedEntity record(std::uint32_t id, std::uint16_t health) {
    ReplicatedEntity e;
    e.id = id;
    e.x = e.y = 4 * cell;
    e.health = health;
    e.kind = 2;
    return e;
}

void push(RunState& state, std::vector<ReplicatedEntity> others, double now) {
    Snapshot snapshot;
    snapshot.tick = 1;
    snapshot.viewer = viewer;
    snapshot.entities.push_back(record(viewer, 100));
    snapshot.entities.insert(snapshot.entities.end(), others.begin(), others.end());
    state.remotes.push(snapshot, now);
}

const DrawEntity* find(const Frame& frame, std::uint32_t id) {
    for (const DrawEntity& e : frame.entities)
        if (e.id == id) return &e;
    return nullptr;
}

TEST(FrameBuilder, StatusLineFollowsTheConnectionAndTheAudio) {
    RunState state;
    Frame frame = build_frame(state, 1.0, speakers);
    EXPECT_EQ(frame.sector, nullptr);
    EXPECT_EQ(frame.status_line, "CONNECTING");
    EXPECT_TRUE(frame.transition);
    EXPECT_FALSE(frame.local_preview);

    // A handoff in flight with the old sector still held: the target, and no world.
    state = playing();
    state.handoff.state = HandoffState::Transit;
    state.handoff.target_sector = 77;
    frame = build_frame(state, 10.0, speakers);
    EXPECT_EQ(frame.sector, nullptr);
    EXPECT_EQ(frame.status_line, "WORMHOLE TRANSIT");
    EXPECT_EQ(frame.destination, 77u);
    EXPECT_TRUE(frame.transition);
    state.handoff.state = HandoffState::Aborted;
    EXPECT_EQ(build_frame(state, 10.0, speakers).status_line, "WORMHOLE TRANSIT");

    state.handoff.state = HandoffState::Active;
    frame = build_frame(state, 10.2, speakers);
    EXPECT_EQ(frame.sector, &*state.handoff.committed);
    EXPECT_FALSE(frame.transition);
    EXPECT_EQ(frame.destination, 77u);
    // Rounded to the nearest percent; a switched-off channel reads 0 whatever its volume.
    const std::pair<AudioView, const char*> lines[] = {
        {speakers, "MUSIC [ ] 100% SFX - + 100%"},
        {{true, true, true, 0.666f, 0.25f}, "MUSIC [ ] 67% SFX - + 25%"},
        {{true, false, true, 0.666f, 0.3f}, "MUSIC [ ] 0% SFX - + 30%"},
        {{true, true, false, 0.5f, 0.8f}, "MUSIC [ ] 50% SFX - + 0%"},
        {AudioView{}, "AUDIO UNAVAILABLE"},
    };
    for (const auto& [audio, line] : lines)
        EXPECT_EQ(build_frame(state, 10.5, audio).status_line, line); // exactly 0.5 s: connected
    EXPECT_EQ(build_frame(state, 10.51, speakers).status_line, "AWAITING SERVER");
    EXPECT_EQ(build_frame(state, 10.51, AudioView{}).status_line, "AWAITING SERVER");

    SoundMixer mixer;
    mixer.music_on = false;
    mixer.effects_volume = 0.9f;
    EXPECT_EQ(build_frame(state, 10.5, audio_view(mixer)).status_line, "MUSIC [ ] 0% SFX - + 90%");
}

TEST(FrameBuilder, DemoShowsTheSevenSampleEntitiesInPlaceOfSampledOnes) {
    RunState state = playing();
    state.config.demo = true;
    push(state, {record(40, 100)}, 0.0);
    const Frame frame = build_frame(state, 30.0, speakers);
    EXPECT_TRUE(frame.local_preview);
    EXPECT_EQ(frame.status_line, "WASD / ARROWS / CLICK"); // never "AWAITING SERVER"
    // x, y, z, yaw, id, health, type, kind, marked, death_age, timer, state
    const std::vector<DrawEntity> expected{
        {4.5f, 3.5f, 0, 0, 2, 100, 1, 1, 0, 100.0f, 0, 0},
        {5.5f, 2.5f, 0, 0, 3, 250, 8, 2, 0, 100.0f, 0, 0},
        {3.7f, 3.0f, 0, 0, 4, 1, 9, 6, 0, 100.0f, 0, 0},
        {4.5f, 4.0f, 0, 0, 6, 25, 11, 8, 0, 100.0f, 0, 0},
        {5.0f, 1.5f, 0, 0, 7, 100, 12, 9, 0, 100.0f, 0, 0},
        {3.2f, 1.8f, 0, 0, 8, 100, 13, 10, 0, 100.0f, 0, 3},
        {4.5f, 2.0f, 0, 0, 5, 0, 1, 5, 0, 100.0f, 6, 0},
    };
    EXPECT_EQ(frame.entities, expected);
}

TEST(FrameBuilder, CameraBlendsTheLastTickAndFallsBackInsideWalls) {
    RunState state = playing();
    const Grid grid = state.handoff.committed->collision(false);
    Input input;
    input.sequence = input.tick = 1;
    input.buttons = button::forward | button::run;
    ASSERT_TRUE(state.prediction.step(input, grid));
    const Player previous = state.prediction.previous();
    const Player predicted = state.prediction.predicted();
    ASSERT_NE(previous.x, predicted.x);
    state.next_tick_time = 10.0 + 1.0 / 60.0; // half-way into the tick
    EXPECT_FLOAT_EQ(build_frame(state, 10.0, speakers).camera.x,
                    (previous.x + predicted.x) / 2.0f / cell);
    // Late frames hold the newest state instead of running past it.
    EXPECT_EQ(build_frame(state, 11.0, speakers).camera,
              (Vec2{static_cast<float>(predicted.x) / cell, 5.5f}));

    // A correction offset that would put the view 0.7 cells into the west wall: the camera
    // stays at the predicted position, unblended and without the offset.
    state.prediction.reset(at(0.7, 5.5));
    state.prediction.reconcile(at(1.3, 5.5), 0, 0, grid);
    ASSERT_LT(state.prediction.offset().x, -0.5f);
    EXPECT_EQ(build_frame(state, 11.0, speakers).camera,
              (Vec2{static_cast<float>(at(1.3, 5.5).x) / cell, 5.5f}));
    state.handoff.state = HandoffState::Transit; // out of game no grid is asked
    EXPECT_NEAR(build_frame(state, 11.0, speakers).camera.x, 0.7f, 1e-5f);
}

TEST(FrameBuilder, PlayerPanelsAndExclusiveDeadlines) {
    RunState state = playing();
    Player me = at(5.5, 5.5);
    me.health = 37;
    me.ammo = 12;
    me.weapon = 3;
    state.prediction.reset(me);
    state.panel = Panel::navigation;
    state.navigation_selection = 5;
    state.text_entry.active = true;
    state.text_entry.buffer = "ACE";
    state.hit_marker_until = 20.0;
    state.damage_flash_until = 19.0;
    state.banner_until = 21.0;
    state.banner_text = "SALVAGE +5";
    state.last_shot_time = 19.91;
    Frame frame = build_frame(state, 20.0, speakers);
    EXPECT_EQ(frame.player, me);
    EXPECT_EQ(std::make_tuple(frame.health, frame.ammo, frame.weapon), std::make_tuple(37, 12, 3));
    EXPECT_EQ(frame.expedition_panel, 2);
    EXPECT_EQ(frame.expedition_selection, 5u);
    EXPECT_EQ(frame.notice, "NAME / ACE_ / ENTER FOR PARTY");
    EXPECT_NEAR(frame.recoil, 0.5f, 1e-4f);
    EXPECT_FALSE(frame.muzzle_flash); // 0.09 s after the shot
    EXPECT_FALSE(frame.hit_marker);   // deadlines are exclusive
    EXPECT_FALSE(frame.damage_flash);
    EXPECT_TRUE(frame.banner_visible);
    EXPECT_EQ(frame.banner, "SALVAGE +5");
    state.last_shot_time = 19.95;
    state.text_entry.active = false;
    frame = build_frame(state, 20.0, speakers);
    EXPECT_TRUE(frame.muzzle_flash);
    EXPECT_EQ(frame.notice, "");
    EXPECT_EQ(build_frame(state, 20.5, speakers).recoil, 0.0f);
}

TEST(FrameBuilder, ContactsOlderThanOneAndAHalfSecondsArePruned) {
    RunState state = playing();
    state.radar_contacts[7] = {RadarBlip{3, 4, 0}, 8.5};  // exactly 1.5 s old
    state.radar_contacts[2] = {RadarBlip{6, 7, 0}, 9.75}; // 0.25 s
    state.radar_contacts[5] = {RadarBlip{1, 1, 0}, 8.4};  // too old
    const Frame frame = build_frame(state, 10.0, speakers);
    ASSERT_EQ(frame.blips.size(), 2u);
    EXPECT_EQ(frame.blips[0].x, 6.0f); // id order
    EXPECT_EQ(frame.blips[0].age, 0.25f);
    EXPECT_EQ(frame.blips[1].y, 4.0f);
    EXPECT_EQ(frame.blips[1].age, 1.5f);
    EXPECT_FALSE(state.radar_contacts.contains(5));

    // Without a frame, too; with no snapshot nobody is drawn, so no death time stays.
    state.attack_times = {{3, 8.5}, {4, 8.4}};
    state.death_times = {{9, 2.0}, {viewer, 2.0}};
    prune_contacts(state, 10.0);
    EXPECT_EQ(state.radar_contacts.size(), 2u);
    EXPECT_EQ(state.attack_times, (std::map<std::uint32_t, double>{{3, 8.5}}));
    EXPECT_TRUE(state.death_times.empty());
}

TEST(FrameBuilder, DeathAgesAndAttackMarksOfTheNewestSnapshot) {
    RunState state = playing();
    push(state, {record(9, 0), record(10, 100), record(12, 100)}, 5.0);
    state.death_times = {{10, 1.0}, {11, 1.0}}; // 10 is alive again, 11 is gone
    state.attack_times = {{9, 4.8}, {10, 4.75}, {20, 3.5}, {21, 3.4}};
    Frame frame = build_frame(state, 5.0, speakers);
    ASSERT_EQ(frame.entities.size(), 3u); // the viewer is drawn from prediction
    EXPECT_EQ(find(frame, 9)->death_age, 0.0f);
    EXPECT_EQ(find(frame, 10)->death_age, 100.0f);
    EXPECT_EQ(find(frame, 9)->marked, 1);  // attacked 0.2 s ago
    EXPECT_EQ(find(frame, 10)->marked, 0); // exactly 0.25 s ago
    EXPECT_EQ(state.death_times, (std::map<std::uint32_t, double>{{9, 5.0}}));
    EXPECT_EQ(state.attack_times,
              (std::map<std::uint32_t, double>{{9, 4.8}, {10, 4.75}, {20, 3.5}}));
    frame = build_frame(state, 5.25, speakers); // the death time is kept: the age grows
    EXPECT_EQ(find(frame, 9)->death_age, 0.25f);
    EXPECT_EQ(find(frame, 9)->marked, 0);
    state.death_times = {{9, 2.0}, {10, 2.0}, {11, 2.0}};
    prune_contacts(state, 6.0); // as a frame would leave it
    EXPECT_EQ(state.death_times, (std::map<std::uint32_t, double>{{9, 2.0}}));
}

TEST(FrameBuilder, MusicLevelFollowsTheGameState) {
    RunState state;
    EXPECT_EQ(music_level(state), 0.055f);
    state = playing();
    EXPECT_EQ(music_level(state), 0.13f);
    state.status.remaining = 3;
    EXPECT_EQ(music_level(state), 0.23f);
    Player dead = at(5.5, 5.5);
    dead.health = 0;
    state.prediction.reset(dead);
    EXPECT_EQ(music_level(state), 0.07f);
    state.handoff.state = HandoffState::Transit;
    EXPECT_EQ(music_level(state), 0.055f);
}

} // namespace
} // namespace kestrel
