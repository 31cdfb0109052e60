// Steering, the buttons of a tick, the 30 Hz input schedule and one input tick.
#include "client/input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace kestrel {
namespace {

constexpr std::int32_t cell_centre(int cell) {
    return cell * 65536 + 32768;
}

// In game on an open sector, admitted, focused, the player standing in the centre of (2, 2).
RunState playing() {
    RunState state;
    state.config.has_transport = true;
    state.config.has_window = true;
    state.handoff.session = 9;
    state.handoff.state = HandoffState::Active;
    state.handoff.committed = Sector{}; // every cell uses tile 0, which blocks nothing
    state.focused = true;
    Player me;
    me.id = 1;
    me.x = me.y = cell_centre(2);
    state.prediction.reset(me);
    return state;
}

KeyState holding(std::initializer_list<Key> keys) {
    KeyState state;
    for (Key key : keys) state.press(key);
    return state;
}

std::vector<Input> decode_commands(const Outgoing& out) {
    EXPECT_EQ(out.type, Type::InputCommands);
    EXPECT_EQ(out.channel, 1);
    EXPECT_FALSE(out.reliable);
    Reader reader(out.payload.bytes);
    std::vector<Input> inputs(reader.u32());
    for (Input& input : inputs) {
        input.sequence = reader.u32();
        input.tick = reader.u32();
        input.buttons = reader.u16();
        input.yaw = reader.u16();
    }
    reader.end();
    return inputs;
}

std::vector<std::uint32_t> sequences(const Outgoing& out) {
    std::vector<std::uint32_t> result;
    for (const Input& input : decode_commands(out)) result.push_back(input.sequence);
    return result;
}

ReplicatedEntity entity(std::uint32_t id, std::uint8_t kind, float x, float y,
                        std::uint16_t health = 50) {
    ReplicatedEntity e;
    e.id = id;
    e.kind = kind;
    e.x = static_cast<std::int32_t>(x * 65536);
    e.y = static_cast<std::int32_t>(y * 65536);
    e.health = health;
    return e;
}

void see(RunState& state, std::vector<ReplicatedEntity> entities) {
    Snapshot snapshot;
    snapshot.tick = 100;
    snapshot.viewer = 1;
    snapshot.entities.push_back(entity(1, 1, 2.5f, 2.5f)); // ourselves, never a target
    for (const ReplicatedEntity& e : entities) snapshot.entities.push_back(e);
    state.remotes.push(snapshot, 5.0);
}

TEST(TickButtons, KeyboardMouseCacheChoiceAndAutomation) {
    RunState state = playing();
    EXPECT_EQ(tick_buttons(state, holding({Key::Space, Key::LeftCtrl})), 0x10); // one fire bit
    EXPECT_EQ(tick_buttons(state, holding({Key::W, Key::S, Key::A, Key::D, Key::X, Key::LeftShift,
                                           Key::Q, Key::E})),
              0x1 | 0x2 | 0x4 | 0x8 | 0x20 | 0x40 | 0x400 | 0x800);
    // The first held cache key wins, and only without a panel.
    EXPECT_EQ(tick_buttons(state, holding({Key::F2, Key::F3})), 2 * 4096);
    EXPECT_EQ(tick_buttons(state, holding({Key::F4, Key::F1})), 1 * 4096);
    EXPECT_EQ(tick_buttons(state, holding({Key::F4})), 4 * 4096);
    state.panel = Panel::crew;
    EXPECT_EQ(tick_buttons(state, holding({Key::F2, Key::W})), 0x1);
    KeyState mouse;
    mouse.left_mouse = mouse.right_mouse = true;
    EXPECT_EQ(tick_buttons(state, mouse), 0);
    state.mouse_captured = true;
    EXPECT_EQ(tick_buttons(state, mouse), 0x30);
    state.focused = false;
    EXPECT_EQ(tick_buttons(state, holding({Key::W, Key::Space})), 0);

    // Automation ignores the keyboard and the focus; portal walking outranks combat.
    state.config.auto_combat = true;
    EXPECT_EQ(tick_buttons(state, holding({Key::S})), 0x10);
    state.approach = true;
    EXPECT_EQ(tick_buttons(state, {}), 0x51);
    state.config.auto_portal = true;
    EXPECT_EQ(tick_buttons(state, holding({Key::Space})), 0x41);
}

TEST(Steering, AutoPortalHeadsForPortalOne) {
    RunState state = playing();
    state.config.auto_portal = true;
    Sector& sector = *state.handoff.committed;
    sector.portals = {Portal{2, 2 + 32 * 10}, Portal{1, 10 + 32 * 2}}; // south, east
    state.yaw = 1234;
    steer(state, 5.0, 0.016, holding({Key::Right}));
    EXPECT_EQ(state.yaw, 0.0f);
    std::swap(sector.portals[0].id, sector.portals[1].id);
    steer(state, 5.0, 0.016, {});
    // Navigation divides by 6.28318530718, a hair more than a turn: south comes out as 16383.
    EXPECT_EQ(state.yaw, 16383.0f);
    sector.cells[sector.portals[0].cell] = 1; // in a wall: no path, the heading stays
    steer(state, 5.0, 0.016, {});
    EXPECT_EQ(state.yaw, 16383.0f);
    sector.portals[0].id = 3; // no portal 1: the heading stays, and the arrows stay off
    steer(state, 5.0, 0.1, holding({Key::Right}));
    EXPECT_EQ(state.yaw, 16383.0f);
}

TEST(Steering, AutoCombatAimsAtTheNearestLivingEnemyOrWalksToIt) {
    RunState state = playing();
    state.config.auto_combat = true;
    see(state, {entity(7, 2, 3.0f, 2.5f, 0), // dead
                entity(8, 3, 3.0f, 2.5f),    // not an enemy
                entity(9, 2, 2.5f, 4.5f),    // 2 cells south
                entity(10, 2, 4.5f, 2.5f),   // 2 cells east: a tie, the earlier one stays
                entity(11, 2, 2.5f, 0.4f)}); // 2.1 cells north
    state.approach = true;
    steer(state, 5.0, 0.016, {});
    EXPECT_EQ(state.yaw, 16384.0f);
    EXPECT_FALSE(state.approach);

    state.remotes.clear();
    see(state, {entity(9, 2, 1.5f, 1.5f)}); // north-west: -3/8 turn brought into range
    steer(state, 5.0, 0.016, {});
    EXPECT_EQ(state.yaw, 40960.0f);

    state.remotes.clear();
    see(state, {entity(9, 2, 10.9f, 2.2f)}); // 8.4 cells east: walk one cell east
    state.yaw = 500;
    steer(state, 5.0, 0.016, {});
    EXPECT_TRUE(state.approach);
    EXPECT_EQ(state.yaw, 0.0f);
    state.remotes.clear();
    steer(state, 5.0, 0.016, {});
    EXPECT_FALSE(state.approach);
}

TEST(Steering, ArrowsTurnOnlyInGameWithFocusAndNoPrompt) {
    RunState state = playing();
    state.yaw = 100;
    steer(state, 5.0, 0.05, holding({Key::Right}));
    EXPECT_FLOAT_EQ(state.yaw, 600);
    steer(state, 5.0, 0.1, holding({Key::Left}));
    EXPECT_FLOAT_EQ(state.yaw, 65136); // 600 - 1000 + 65536
    steer(state, 5.0, 0.1, holding({Key::Left, Key::Right}));
    state.text_entry.active = true;
    steer(state, 5.0, 0.1, holding({Key::Right}));
    state.text_entry.active = false;
    state.focused = false;
    steer(state, 5.0, 0.1, holding({Key::Right}));
    state.focused = true;
    state.handoff.state = HandoffState::Transit;
    steer(state, 5.0, 0.1, holding({Key::Right}));
    EXPECT_FLOAT_EQ(state.yaw, 65136);
}

TEST(InputTicks, PayloadCarriesTheStampedCommand) {
    RunState state = playing();
    state.server_tick_base = 1000;
    state.last_snapshot_time = 1.0;
    state.next_tick_time = 1.25;
    state.config.latency_ms = 34; // rounds up to 2 ticks
    state.selected_weapon = 2;
    state.yaw = 16384.9f;
    run_input_ticks(state, 1.25, holding({Key::W}));
    ASSERT_EQ(state.outbox.size(), 1u);
    // tick = 1000 + 2 + int(30 * 0.25) + 2 = 1011 = 0x3F3; buttons 0x1 + 2 * 128.
    EXPECT_EQ(state.outbox[0].payload.bytes,
              (Bytes{1, 0, 0, 0, 1, 0, 0, 0, 0xF3, 0x03, 0, 0, 0x01, 0x01, 0x00, 0x40}));
    EXPECT_EQ(state.last_sequence, 1u);
    EXPECT_EQ(state.last_tick, 1011u);
    EXPECT_DOUBLE_EQ(state.next_tick_time, 1.25 + 1.0 / 30);
    // The prediction took the same command: it walked south (yaw 16384) and switched weapon.
    EXPECT_EQ(state.prediction.pending().size(), 1u);
    EXPECT_EQ(state.prediction.predicted().x, cell_centre(2));
    EXPECT_EQ(state.prediction.predicted().y, cell_centre(2) + 8738);
    EXPECT_EQ(state.prediction.predicted().weapon, 2);
}

TEST(InputTicks, PacketsRepeatTheLastThreeAndDropEverySkipsOnlyPackets) {
    RunState state = playing();
    state.config.drop_every = 3;
    for (std::uint32_t i = 0; i < 10; ++i) run_input_tick(state, 0.5, 10 + i, 0, {});
    std::vector<std::uint32_t> newest;
    for (const Outgoing& out : state.outbox) newest.push_back(sequences(out).back());
    EXPECT_EQ(newest, (std::vector<std::uint32_t>{1, 2, 4, 5, 7, 8, 10}));
    EXPECT_EQ(sequences(state.outbox[0]), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(sequences(state.outbox[1]), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(sequences(state.outbox[2]), (std::vector<std::uint32_t>{2, 3, 4})); // oldest first
    EXPECT_EQ(sequences(state.outbox[4]), (std::vector<std::uint32_t>{5, 6, 7}));
    EXPECT_EQ(state.outbox[4].payload.bytes.size(), 4u + 3 * 12);
    EXPECT_EQ(state.input_history.size(), 3u);
    EXPECT_EQ(state.prediction.pending().size(), 10u);
}

TEST(InputTicks, AtMostFourTicksPerFrameThenTheScheduleRestarts) {
    RunState state = playing();
    state.last_snapshot_time = 0.4;
    run_input_ticks(state, 0.5, {}); // next_tick_time was 0: fifteen ticks overdue
    EXPECT_EQ(state.outbox.size(), 4u);
    EXPECT_DOUBLE_EQ(state.next_tick_time, 0.5 + 1.0 / 30);
    run_input_ticks(state, 0.52, {});
    EXPECT_EQ(state.outbox.size(), 4u);
    run_input_ticks(state, 0.5 + 1.0 / 30, {});
    EXPECT_EQ(state.outbox.size(), 5u);

    RunState away = playing();
    away.handoff.state = HandoffState::Transit; // out of game the schedule stays at now
    run_input_ticks(away, 7.5, {});
    EXPECT_EQ(away.next_tick_time, 7.5);
    EXPECT_TRUE(away.outbox.empty());
}

TEST(InputTicks, StampsStayStrictlyIncreasingAfterAStall) {
    RunState state = playing();
    state.server_tick_base = 300;
    state.last_snapshot_time = 10.0;
    state.next_tick_time = 10.2; // a 200 ms stall, then this frame finds two ticks due
    run_input_ticks(state, 10.25, {});
    ASSERT_EQ(state.outbox.size(), 2u);
    const std::vector<Input> second = decode_commands(state.outbox[1]);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].tick, 300u + 2 + 7); // both from the same tick_base
    EXPECT_EQ(second[1].tick, 300u + 2 + 7 + 1);
    run_input_tick(state, 10.3, 200, 0, {}); // a tick_base behind the last stamp
    EXPECT_EQ(decode_commands(state.outbox.back()).back().tick, 311u);
    state.prediction.reset(state.prediction.predicted());
    state.last_tick = 0xFFFFFFFF; // a stamp that wrapped around counts as newer
    run_input_tick(state, 10.3, 5, 0, {});
    EXPECT_EQ(state.last_tick, 5u);
}

TEST(InputTicks, SilencePauseDemoAndAFullQueue) {
    RunState state = playing();
    state.last_snapshot_time = 1.0;
    run_input_tick(state, 3.0, 10, 0, {}); // two seconds without a snapshot
    state.input_paused = true;
    run_input_tick(state, 1.5, 10, 0, {});
    EXPECT_TRUE(state.outbox.empty());
    EXPECT_EQ(state.last_sequence, 0u);
    EXPECT_TRUE(state.prediction.pending().empty());
    state.input_paused = false;
    run_input_tick(state, 2.99, 10, 0, {});
    EXPECT_EQ(state.outbox.size(), 1u);

    RunState demo = playing();
    demo.config.demo = true;
    demo.config.has_transport = false;
    run_input_ticks(demo, 30.0, {});
    EXPECT_TRUE(demo.outbox.empty());
    EXPECT_EQ(demo.last_sequence, 4u);
    EXPECT_EQ(demo.prediction.pending().size(), 4u);

    RunState full = playing();
    for (std::uint32_t i = 0; i < Prediction::max_pending; ++i)
        run_input_tick(full, 0.5, 10 + i, 0, {});
    const Input newest = full.input_history.back();
    run_input_tick(full, 0.5, 500, 0, {});
    EXPECT_EQ(full.outbox.size(), Prediction::max_pending);
    EXPECT_EQ(full.last_sequence, Prediction::max_pending);
    EXPECT_EQ(full.input_history.back(), newest);
    EXPECT_EQ(full.last_tick, newest.tick);
}

// One tick with the given keys at now and the given weapon state; the sounds it produced.
std::vector<SoundCue> shoot(RunState& state, double now, const KeyState& keys) {
    state.sounds.clear();
    state.last_snapshot_time = now;
    run_input_tick(state, now, static_cast<std::uint32_t>(now * 30) + 1, 0, keys);
    return state.sounds;
}

RunState armed(std::uint32_t weapon, std::uint16_t ammo, std::uint8_t boost = 0) {
    RunState state = playing();
    state.selected_weapon = weapon;
    Player me = state.prediction.predicted();
    me.ammo = ammo;
    me.boost = boost;
    me.boost_ticks = boost ? 100 : 0;
    state.prediction.reset(me);
    return state;
}

TEST(ShotFeedback, CostsAndRefireIntervalsGateTheSound) {
    RunState state = armed(1, 100);
    const std::vector<SoundCue> cues = shoot(state, 1.0, holding({Key::Space}));
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0].effect, 13);
    EXPECT_EQ(cues[0].variant, 1);
    EXPECT_DOUBLE_EQ(state.next_shot_time, 1.2);
    EXPECT_EQ(state.last_shot_time, 1.0);
    EXPECT_TRUE(shoot(state, 1.1, holding({Key::Space})).empty());
    EXPECT_EQ(shoot(state, 1.2, holding({Key::Space})).size(), 1u);
    EXPECT_TRUE(shoot(state, 2.0, {}).empty());

    struct Case {
        std::uint32_t weapon;
        std::uint16_t ammo;
        std::uint8_t boost;
        Key key;
        bool sounds;
        double next_shot;
    };
    // Alternate fire doubles cost and wait, except for the landmine; only the fire boost
    // halves the wait.
    const Case cases[] = {
        {3, 9, 0, Key::X, false, 0},        {3, 9, 0, Key::Space, true, 2.0},
        {3, 10, 0, Key::X, true, 3.0},      {4, 30, 0, Key::X, true, 2.5},
        {4, 29, 0, Key::Space, false, 0},   {2, 100, 1, Key::Space, true, 1.4},
        {2, 100, 3, Key::Space, true, 1.8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.weapon << " " << c.ammo << " " << int(c.boost));
        RunState s = armed(c.weapon, c.ammo, c.boost);
        EXPECT_EQ(shoot(s, 1.0, holding({c.key})).size(), c.sounds ? 1u : 0u);
        if (c.sounds) {
            EXPECT_DOUBLE_EQ(s.next_shot_time, c.next_shot);
        }
    }

    RunState reloading = armed(1, 100);
    reloading.adventure.reload = 1;
    EXPECT_TRUE(shoot(reloading, 1.0, holding({Key::Space})).empty());
    EXPECT_EQ(reloading.last_shot_time, -1.0);
    RunState dead = armed(1, 100);
    Player me = dead.prediction.predicted();
    me.health = 0;
    dead.prediction.reset(me);
    EXPECT_TRUE(shoot(dead, 1.0, holding({Key::Space})).empty());
}

} // namespace
} // namespace kestrel
