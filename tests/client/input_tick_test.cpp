// Steering, the buttons of a tick, the 30 Hz input schedule and one input tick.
#include "client/input.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel {
namespace {

constexpr std::int32_t centre = 2 * 65536 + 32768; // of cell 2

// In game on an open sector, admitted, focused, standing in the centre of cell (2, 2) with
// `ammo` and `boost`.
RunState playing(std::uint16_t ammo = 100, std::uint8_t boost = 0) {
    RunState state;
    state.config.has_transport = state.config.has_window = state.focused = true;
    state.handoff.session = 9;
    state.handoff.state = HandoffState::Active;
    state.handoff.committed = Sector{}; // tile 0 everywhere, which blocks nothing
    Player me;
    me.id = 1;
    me.x = me.y = centre;
    me.ammo = ammo;
    me.boost = boost;
    me.boost_ticks = boost ? 100 : 0;
    state.prediction.reset(me);
    return state;
}

KeyState holding(std::initializer_list<Key> keys) {
    KeyState state;
    for (Key key : keys) state.press(key);
    return state;
}

// The inputs of one InputCommands packet (channel 1, unreliable).
std::vector<Input> sent(const Outgoing& out) {
    EXPECT_EQ(std::tie(out.type, out.channel, out.reliable),
              std::make_tuple(Type::InputCommands, 1, false));
    Reader reader(out.payload.bytes);
    std::vector<Input> inputs(reader.u32());
    for (Input& input : inputs) input = {reader.u32(), reader.u32(), reader.u16(), reader.u16()};
    reader.end();
    return inputs;
}

// Enemies (kind 2) at the given cells with the given health, behind ourselves (id 1).
void see(RunState& state, std::vector<std::tuple<std::uint32_t, float, float, std::uint16_t>> all) {
    Snapshot snapshot{1, 100, 0, 0, 1, 0, 0, {}};
    for (const auto& [id, x, y, health] : all) {
        ReplicatedEntity e;
        e.id = id;
        e.kind = id == 8 ? 3 : id == 1 ? 1 : 2;
        e.x = static_cast<std::int32_t>(x * 65536);
        e.y = static_cast<std::int32_t>(y * 65536);
        e.health = health;
        snapshot.entities.push_back(e);
    }
    state.remotes.clear();
    state.remotes.push(snapshot, 5.0);
}

TEST(InputTick, ButtonsFromKeysMouseCacheAndAutomation) {
    RunState state = playing();
    const std::pair<KeyState, std::uint16_t> held[] = {
        {holding({Key::Space, Key::LeftCtrl}), 0x10}, // one fire bit
        {holding({Key::W, Key::S, Key::A, Key::D, Key::X, Key::LeftShift, Key::Q, Key::E}), 0xC6F},
        {holding({Key::F2, Key::F3}), 2 * 4096}, // the first held cache key wins
        {holding({Key::F4, Key::F1}), 1 * 4096},
        {holding({Key::F4}), 4 * 4096}};
    for (const auto& [keys, buttons] : held) EXPECT_EQ(tick_buttons(state, keys), buttons);
    state.panel = Panel::crew; // no cache choice with a panel open
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

TEST(InputTick, SteeringByArrowsPortalAndCombat) {
    RunState state = playing();
    state.yaw = 100;
    steer(state, 5.0, 0.05, holding({Key::Right}));
    EXPECT_FLOAT_EQ(state.yaw, 600);
    steer(state, 5.0, 0.1, holding({Key::Left}));
    EXPECT_FLOAT_EQ(state.yaw, 65136); // 600 - 1000 + 65536
    steer(state, 5.0, 0.1, holding({Key::Left, Key::Right}));
    for (int blocked = 0; blocked < 3; ++blocked) { // a prompt, no focus, out of game
        RunState s = state;
        s.text_entry.active = blocked == 0;
        s.focused = blocked != 1;
        if (blocked == 2) s.handoff.state = HandoffState::Transit;
        steer(s, 5.0, 0.1, holding({Key::Right}));
        EXPECT_FLOAT_EQ(s.yaw, 65136);
    }

    state.config.auto_portal = true;
    Sector& sector = *state.handoff.committed;
    sector.portals = {Portal{2, 2 + 32 * 10}, Portal{1, 10 + 32 * 2}}; // south, east
    steer(state, 5.0, 0.016, holding({Key::Right}));
    EXPECT_EQ(state.yaw, 0.0f);
    std::swap(sector.portals[0].id, sector.portals[1].id);
    steer(state, 5.0, 0.016, {});
    // Navigation divides by 6.28318530718, a hair more than a turn: south comes out as 16383.
    EXPECT_EQ(state.yaw, 16383.0f);
    sector.cells[sector.portals[0].cell] = 1; // in a wall: no path, the heading stays
    steer(state, 5.0, 0.016, {});
    sector.portals[0].id = 3; // no portal 1: the heading stays, and the arrows stay off
    steer(state, 5.0, 0.1, holding({Key::Right}));
    EXPECT_EQ(state.yaw, 16383.0f);

    RunState fighter = playing();
    fighter.config.auto_combat = fighter.approach = true;
    // Dead, not an enemy, 2 cells south, 2 cells east (a tie: the earlier stays), 2.1 north.
    see(fighter, {{1, 2.5f, 2.5f, 50},
                  {7, 3.0f, 2.5f, 0},
                  {8, 3.0f, 2.5f, 50},
                  {9, 2.5f, 4.5f, 50},
                  {10, 4.5f, 2.5f, 50},
                  {11, 2.5f, 0.4f, 50}});
    steer(fighter, 5.0, 0.016, {});
    EXPECT_EQ(fighter.yaw, 16384.0f);
    EXPECT_FALSE(fighter.approach);
    see(fighter, {{1, 2.5f, 2.5f, 50}, {9, 1.5f, 1.5f, 50}}); // north-west: -3/8 turn
    steer(fighter, 5.0, 0.016, {});
    EXPECT_EQ(fighter.yaw, 40960.0f);
    see(fighter, {{1, 2.5f, 2.5f, 50}, {9, 10.9f, 2.2f, 50}}); // 8.4 cells east: walk east
    fighter.yaw = 500;
    steer(fighter, 5.0, 0.016, {});
    EXPECT_TRUE(fighter.approach);
    EXPECT_EQ(fighter.yaw, 0.0f);
    fighter.remotes.clear();
    steer(fighter, 5.0, 0.016, {});
    EXPECT_FALSE(fighter.approach);
}

TEST(InputTick, PayloadScheduleAndRepeats) {
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
    EXPECT_EQ(std::tie(state.last_sequence, state.last_tick), std::make_tuple(1u, 1011u));
    EXPECT_DOUBLE_EQ(state.next_tick_time, 1.25 + 1.0 / 30);
    // The prediction took the same command: it walked south and switched weapon.
    const Player& me = state.prediction.predicted();
    EXPECT_EQ(std::make_tuple(state.prediction.pending().size(), me.x, me.y, me.weapon),
              std::make_tuple(std::size_t{1}, centre, centre + 8738, std::uint16_t{2}));

    RunState dropping = playing(); // every third packet is not sent, the next repeats it
    dropping.config.drop_every = 3;
    for (std::uint32_t i = 0; i < 10; ++i) run_input_tick(dropping, 0.5, 10 + i, 0, {});
    std::vector<std::vector<std::uint32_t>> packets;
    for (const Outgoing& out : dropping.outbox) {
        packets.emplace_back();
        for (const Input& input : sent(out)) packets.back().push_back(input.sequence);
    }
    EXPECT_EQ(packets, (std::vector<std::vector<std::uint32_t>>{
                           {1}, {1, 2}, {2, 3, 4}, {3, 4, 5}, {5, 6, 7}, {6, 7, 8}, {8, 9, 10}}));
    EXPECT_EQ(dropping.input_history.size(), 3u);
    EXPECT_EQ(dropping.prediction.pending().size(), 10u);

    RunState late = playing(); // at most four ticks a frame, then the schedule restarts
    late.last_snapshot_time = 0.4;
    for (double now : {0.5, 0.52, 0.5 + 1.0 / 30}) run_input_ticks(late, now, {});
    EXPECT_EQ(late.outbox.size(), 5u);
    EXPECT_DOUBLE_EQ(late.next_tick_time, 0.5 + 2.0 / 30);
    RunState away = playing();
    away.handoff.state = HandoffState::Transit; // out of game the schedule stays at now
    run_input_ticks(away, 7.5, {});
    EXPECT_EQ(away.next_tick_time, 7.5);
    EXPECT_TRUE(away.outbox.empty());
}

TEST(InputTick, StampsPausesDemoAndAFullQueue) {
    RunState state = playing();
    state.server_tick_base = 300;
    state.last_snapshot_time = 10.0;
    state.next_tick_time = 10.2; // a 200 ms stall, then this frame finds two ticks due
    run_input_ticks(state, 10.25, {});
    ASSERT_EQ(state.outbox.size(), 2u);
    const std::vector<Input> second = sent(state.outbox[1]);
    EXPECT_EQ(std::make_pair(second[0].tick, second[1].tick), std::make_pair(309u, 310u));
    run_input_tick(state, 10.3, 200, 0, {}); // a tick_base behind the last stamp
    EXPECT_EQ(sent(state.outbox.back()).back().tick, 311u);
    state.prediction.reset(state.prediction.predicted());
    state.last_tick = 0xFFFFFFFF; // a stamp that wrapped around counts as newer
    run_input_tick(state, 10.3, 5, 0, {});
    EXPECT_EQ(state.last_tick, 5u);

    RunState quiet = playing();
    quiet.last_snapshot_time = 1.0;
    run_input_tick(quiet, 3.0, 10, 0, {}); // two seconds without a snapshot
    quiet.input_paused = true;
    run_input_tick(quiet, 1.5, 10, 0, {});
    EXPECT_TRUE(quiet.outbox.empty() && quiet.prediction.pending().empty());
    EXPECT_EQ(quiet.last_sequence, 0u);
    quiet.input_paused = false;
    run_input_tick(quiet, 2.99, 10, 0, {});
    EXPECT_EQ(quiet.outbox.size(), 1u);

    RunState demo = playing();
    demo.config.demo = true;
    demo.config.has_transport = false;
    run_input_ticks(demo, 30.0, {});
    EXPECT_TRUE(demo.outbox.empty());
    EXPECT_EQ(std::make_pair(demo.last_sequence, demo.prediction.pending().size()),
              std::make_pair(4u, std::size_t{4}));

    RunState full = playing();
    for (std::uint32_t i = 0; i < Prediction::max_pending; ++i)
        run_input_tick(full, 0.5, 10 + i, 0, {});
    const Input newest = full.input_history.back();
    run_input_tick(full, 0.5, 500, 0, {});
    EXPECT_EQ(std::make_tuple(full.outbox.size(), full.last_sequence, full.last_tick),
              std::make_tuple(Prediction::max_pending, Prediction::max_pending, newest.tick));
    EXPECT_EQ(full.input_history.back(), newest);
}

TEST(InputTick, ShotCostsAndRefireIntervalsGateTheSound) {
    // One tick at `now` with the given keys; the sounds it produced.
    const auto shoot = [](RunState& state, double now, const KeyState& keys) {
        state.sounds.clear();
        state.last_snapshot_time = now;
        run_input_tick(state, now, static_cast<std::uint32_t>(now * 30) + 1, 0, keys);
        return state.sounds.size();
    };
    RunState state = playing();
    EXPECT_EQ(shoot(state, 1.0, holding({Key::Space})), 1u);
    EXPECT_EQ(
        std::make_tuple(state.sounds[0].effect, state.sounds[0].variant, state.last_shot_time),
        std::make_tuple(13, 1, 1.0));
    EXPECT_DOUBLE_EQ(state.next_shot_time, 1.2);
    EXPECT_EQ(shoot(state, 1.1, holding({Key::Space})), 0u);
    EXPECT_EQ(shoot(state, 1.2, holding({Key::Space})), 1u);
    EXPECT_EQ(shoot(state, 2.0, {}), 0u);
    // Alternate fire doubles cost and wait, except for the landmine; only the fire boost
    // halves the wait. weapon, ammo, boost, key, the next shot (0: no sound).
    const std::tuple<std::uint32_t, std::uint16_t, std::uint8_t, Key, double> cases[] = {
        {3, 9, 0, Key::X, 0},        {3, 9, 0, Key::Space, 2.0}, {3, 10, 0, Key::X, 3.0},
        {4, 30, 0, Key::X, 2.5},     {4, 29, 0, Key::Space, 0},  {2, 100, 1, Key::Space, 1.4},
        {2, 100, 3, Key::Space, 1.8}};
    for (const auto& [weapon, ammo, boost, key, next_shot] : cases) {
        RunState s = playing(ammo, boost);
        s.selected_weapon = weapon;
        EXPECT_EQ(shoot(s, 1.0, holding({key})), next_shot > 0 ? 1u : 0u) << weapon << " " << ammo;
        if (next_shot > 0) EXPECT_DOUBLE_EQ(s.next_shot_time, next_shot);
    }
    RunState reloading = playing(), dead = playing();
    reloading.adventure.reload = 1;
    EXPECT_EQ(shoot(reloading, 1.0, holding({Key::Space})), 0u);
    EXPECT_EQ(reloading.last_shot_time, -1.0);
    Player me = dead.prediction.predicted();
    me.health = 0;
    dead.prediction.reset(me);
    EXPECT_EQ(shoot(dead, 1.0, holding({Key::Space})), 0u);
}

} // namespace
} // namespace kestrel
