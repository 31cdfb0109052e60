// Prediction of the local player and interpolation of everybody else.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "session/prediction.h"
#include "session/remote_interpolation.h"
#include "tests/support/errors.h"
#include "world/movement.h"

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;
using Offset = Prediction::Offset;

const Grid grid = [] { // free cells inside a solid border
    Sector s;
    for (int i = 0; i < 32; ++i)
        s.cells[i] = s.cells[31 * 32 + i] = s.cells[i * 32] = s.cells[i * 32 + 31] = 1;
    return s.collision(false);
}();

Player at(std::int32_t x, std::int32_t y, std::uint16_t health = 100) {
    return {.id = 7, .x = x, .y = y, .health = health};
}

Input walk(std::uint32_t sequence, std::uint32_t tick, std::uint16_t yaw = 3000) {
    return Input{sequence, tick, button::forward, yaw};
}

auto view(const Prediction& p) {
    return std::make_tuple(p.pending(), p.predicted(), p.previous(), p.offset(), p.reconciles(),
                           p.max_correction());
}

// Standing at (16, 16) cells with the commands (i, 100 + i, i * 4000) for i in 1..count.
Prediction walked(std::uint32_t count) {
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    for (std::uint32_t i = 1; i <= count; ++i)
        EXPECT_TRUE(prediction.step(walk(i, 100 + i, static_cast<std::uint16_t>(i * 4000)), grid));
    return prediction;
}

TEST(Prediction, StepQueuesAndRefusesOldOrSurplusCommands) {
    Prediction prediction = walked(2);
    Player first = at(16 * cell, 16 * cell), second;
    move(first, walk(1, 101, 4000), grid);
    move(second = first, walk(2, 102, 8000), grid);
    const auto walked_two = std::make_tuple(std::deque{walk(1, 101, 4000), walk(2, 102, 8000)},
                                            second, first, Offset{}, std::uint64_t{0}, 0.0);
    // Not newer in both counts; more than half the counter range ahead reads as behind.
    for (const Input& input :
         {walk(2, 103), walk(3, 102), walk(3, 101), walk(1, 103), walk(2 + 0x80000000u, 103)})
        EXPECT_EQ(test::error_of([&] { prediction.step(input, grid); }),
                  "prediction command order");
    EXPECT_TRUE(view(prediction) == walked_two);

    Prediction wrapping; // counters that wrap are still in order
    for (std::uint32_t i : {4294967295u, 0u, 1u}) ASSERT_TRUE(wrapping.step(walk(i, i), grid));
    wrapping.reconcile(at(16 * cell, 16 * cell), 4294967295u, 4294967295u, grid);
    EXPECT_EQ(wrapping.pending(), (std::deque{walk(0, 0), walk(1, 1)}));

    Prediction full = walked(120);
    const auto at_limit = view(full);
    EXPECT_FALSE(full.step(walk(121, 221), grid) || full.step(walk(1, 1), grid)); // size first
    EXPECT_TRUE(view(full) == at_limit);
    full.reconcile(full.predicted(), 1, 101, grid);
    EXPECT_TRUE(full.pending().size() == 119 && full.step(walk(121, 221), grid));

    // Reconciling replays what the server has not applied.
    Prediction all = walked(5), some = walked(10), by_tick = walked(6), by_sequence = walked(6);
    Player server = at(17 * cell, 15 * cell), moved = at(15 * cell + 123, 16 * cell - 4567);
    server.ammo = 42;
    all.reconcile(server, 5, 105, grid);
    some.reconcile(moved, 4, 104, grid);
    by_tick.reconcile(at(16 * cell, 16 * cell), 0, 103, grid); // either count acknowledges
    by_sequence.reconcile(at(16 * cell, 16 * cell), 2, 50, grid);
    for (std::uint32_t i = 5; i <= 10; ++i)
        move(moved, walk(i, 100 + i, static_cast<std::uint16_t>(i * 4000)), grid);
    EXPECT_TRUE(all.pending().empty() && all.predicted() == server && all.previous() == server);
    EXPECT_TRUE(some.pending().size() == 6 && some.predicted() == moved &&
                some.previous() == moved);
    EXPECT_EQ(std::make_tuple(some.pending().front().sequence, by_tick.pending().front().sequence,
                              by_sequence.pending().front().sequence),
              std::make_tuple(5u, 4u, 3u));
}

TEST(Prediction, CorrectionsUpToThreeQuartersOfACellAreSmoothed) {
    // A jump by (dx, dy) units with nothing pending; the offset left; the largest correction.
    // clang-format off
    const std::tuple<std::int32_t, std::int32_t, std::uint16_t, Offset, double> cases[] = {
        {49152, 0, 100, {0.75f, 0}, 0.75}, {0, -49153, 100, {}, 49153.0 / 65536},
        {34734, 34734, 100, {34734.0f / 65536, 34734.0f / 65536}, std::hypot(34734.0, 34734.0) / 65536},
        {35390, 35390, 100, {}, std::hypot(35390.0, 35390.0) / 65536},
        {1000, 1000, 0, {}, std::hypot(1000.0, 1000.0) / 65536}, // dead: always snaps
    };
    // clang-format on
    for (const auto& [dx, dy, health, offset, largest] : cases) {
        Prediction p = walked(0);
        p.reconcile(at(16 * cell - dx, 16 * cell - dy, health), 0, 0, grid);
        EXPECT_EQ(std::make_pair(p.offset(), p.reconciles()), std::make_pair(offset, 1ul));
        EXPECT_NEAR(p.max_correction(), largest, 1e-12);
    }
    Prediction prediction = walked(0);
    prediction.reconcile(at(16 * cell - 32768, 16 * cell + 16384), 0, 0, grid);
    for (double dt : {-1.0, 0.0}) prediction.smooth(dt); // no time: no decay
    EXPECT_EQ(prediction.offset(), (Offset{0.5f, -0.25f}));
    Prediction again = prediction; // a second jump adds to the offset: 0.5 + 0.3 snaps
    again.reconcile(at(16 * cell - 32768 - 19661, 16 * cell + 16384), 0, 0, grid);
    EXPECT_EQ(std::make_pair(again.offset(), again.reconciles()), std::make_pair(Offset{}, 2ul));
    prediction.smooth(0.1); // a time constant of 0.1 s
    EXPECT_EQ(prediction.offset(), (Offset{static_cast<float>(0.5 * std::exp(-1.0)),
                                           static_cast<float>(-0.25 * std::exp(-1.0))}));
    // A reset starts over but keeps the counters; any first command is then accepted.
    prediction.step(walk(5, 5), grid);
    prediction.reset(at(3 * cell, 4 * cell));
    EXPECT_TRUE(view(prediction) == std::make_tuple(std::deque<Input>{}, at(3 * cell, 4 * cell),
                                                    at(3 * cell, 4 * cell), Offset{},
                                                    std::uint64_t{1}, std::sqrt(0.3125)));
    EXPECT_TRUE(prediction.step(walk(0, 0), grid));
}

ReplicatedEntity entity(std::uint32_t id, double x, double y, std::uint16_t yaw = 0) {
    return {{.id = id, .x = std::int32_t(x * cell), .y = std::int32_t(y * cell), .yaw = yaw}};
}

// The viewer (id 1) first, as every snapshot has it, then the given entities.
Snapshot snapshot(std::uint32_t tick, std::vector<ReplicatedEntity> others) {
    others.insert(others.begin(), entity(1, 5, 5));
    return {tick, tick, 0, 0, 1, 0, 0, others};
}

// The drawn entity with the given id, or a default one with id 0.
DrawEntity drawn(const std::vector<DrawEntity>& entities, std::uint32_t id) {
    for (const DrawEntity& e : entities)
        if (e.id == id) return e;
    return DrawEntity{};
}

auto view(const RemoteInterpolation& r) {
    return std::make_tuple(r.samples().size(), r.samples().empty() ? -1 : r.samples().back().time,
                           r.pushed_at(), r.server_time());
}

TEST(RemoteInterpolation, TicksBuildTheServerTimeLine) {
    RemoteInterpolation lerp;
    EXPECT_TRUE(lerp.sample(1.0).empty());
    lerp.push(snapshot(100, {}), 5.0);
    EXPECT_EQ(view(lerp), std::make_tuple(1u, 0.0, 5.0, 0.0));
    for (auto [tick, now] : {std::pair{130u, 6.0}, {130u, 7.0}, {129u, 7.5}}) // older ignored
        lerp.push(snapshot(tick, {}), now);
    EXPECT_EQ(view(lerp), std::make_tuple(2u, 1.0, 6.0, 1.0));
    lerp.push(Snapshot{131, 131, 0, 0, 1, 0, 0, {}}, 7.0);
    EXPECT_TRUE(lerp.sample(7.2).empty()); // the newest sample has nobody

    lerp.clear();
    lerp.push(snapshot(4294967290u, {}), 0.0);
    lerp.push(snapshot(4, {}), 0.5); // 10 ticks later
    EXPECT_DOUBLE_EQ(lerp.server_time(), 10.0 / 30.0);
    // Entity 2 stands at x = tick * tick / 8 cells; only the newest 8 samples are kept.
    for (std::uint32_t tick = 5; tick < 13; ++tick)
        lerp.push(snapshot(tick, {entity(2, tick * tick / 8.0, 1)}), 1.0);
    EXPECT_EQ(std::make_pair(lerp.samples().size(), lerp.samples().front().snapshot.tick),
              std::make_pair(std::size_t{8}, 5u));
    EXPECT_DOUBLE_EQ(lerp.server_time(), 18.0 / 30.0);
    // r = 18/30 + 1/30 - 0.1 is the time of tick 10.
    EXPECT_FLOAT_EQ(drawn(lerp.sample(1.0 + 1.0 / 30.0), 2).x, 12.5f);
    lerp.clear();
    EXPECT_EQ(view(lerp), std::make_tuple(0u, -1.0, 0.0, 0.0));
    lerp.push(snapshot(2, {}), 3.0); // older than before the clear, yet taken
    EXPECT_EQ(lerp.samples().size(), 1u);
}

TEST(RemoteInterpolation, BlendsHoldsAndCoasts) {
    ReplicatedEntity mover = entity(2, 10, 20);
    mover.vx = 3 * cell, mover.vy = -2 * cell; // cells per second
    RemoteInterpolation one;
    one.push(snapshot(50, {mover}), 4.0);
    // Held until r passes the sample, then coasting for at most a tenth of a second.
    const std::tuple<double, float, float> path[] = {{4.0, 10, 20},
                                                     {4.1, 10, 20},
                                                     {4.15, 10.15f, 19.9f},
                                                     {4.2, 10.3f, 19.8f},
                                                     {9.0, 10.3f, 19.8f}};
    for (const auto& [now, x, y] : path) {
        EXPECT_FLOAT_EQ(drawn(one.sample(now), 2).x, x) << now;
        EXPECT_FLOAT_EQ(drawn(one.sample(now), 2).y, y) << now;
    }

    RemoteInterpolation early;
    early.push(snapshot(0, {entity(2, 6, 6)}), 0.0); // r before the oldest: the oldest is used
    early.push(snapshot(2, {entity(2, 8, 6)}), 0.0);
    EXPECT_EQ(drawn(early.sample(0.0), 2).x, 6.0f);
}

TEST(RemoteInterpolation, GapsYawClampAndRecordFields) {
    // Entity 2 blends from 0 s to 2 s past the sample that lacks it, entity 3 from 1 s to
    // 2 s; 4 exists only in the newest, 5 only in an older one; the newest order is kept.
    RemoteInterpolation gaps;
    for (const Snapshot& s : {snapshot(0, {entity(2, 10, 10)}), snapshot(30, {entity(3, 2, 2)}),
                              snapshot(60, {entity(2, 14, 14), entity(3, 3, 3), entity(5, 1, 1)}),
                              snapshot(62, {entity(3, 3, 3), entity(2, 14, 14), entity(4, 9, 9)})})
        gaps.push(s, 0.0);
    const double r = 62.0 / 30.0 - 0.1;
    const std::vector<DrawEntity> out = gaps.sample(0.0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(std::make_tuple(out[0].id, out[1].id, out[2].id), std::make_tuple(3u, 2u, 4u));
    EXPECT_FLOAT_EQ(out[0].x, static_cast<float>(2 + (r - 1)));
    EXPECT_FLOAT_EQ(out[1].x, static_cast<float>(10 + r / 2 * 4));
    EXPECT_TRUE(out[1].y == out[1].x && gaps.sample(-1.0) == out); // a clock behind counts as now
    EXPECT_EQ(std::make_pair(out[2].x, out[2].y), std::make_pair(9.0f, 9.0f));

    RemoteInterpolation turning, lerp;
    turning.push(snapshot(0, {entity(2, 4, 4, 65000), entity(3, 4, 4, 16000)}), 0.0);
    turning.push(snapshot(30, {entity(2, 4, 4, 500), entity(3, 4, 4, 48000)}), 0.0);
    const std::vector<DrawEntity> turned = turning.sample(0.0); // a = 0.9
    EXPECT_FLOAT_EQ(turned[0].yaw, 65000.0f + 0.9f * 1036.0f);  // across 65536, unwrapped
    EXPECT_FLOAT_EQ(turned[1].yaw, 16000.0f + 0.9f * 32000.0f); // +32000 is the short way

    ReplicatedEntity outside = entity(2, 32.5, -1.0), coasting = entity(3, 31.9, 0.05),
                     e = entity(9, 3, 4, 1234), up = entity(10, 6, 7);
    coasting.vx = 2 * cell, coasting.vy = -2 * cell;
    e.health = 0, e.type = 17, e.kind = 18, e.tick_event = true, e.cooldown = 155, e.state = 3;
    e.height = static_cast<std::uint16_t>(-640), up.height = 384; // 2.5 cells below the floor
    Snapshot s = snapshot(7, {outside, coasting, e, up, entity(11, 1, 1)});
    s.viewer = 11; // the viewer need not be the first record
    lerp.push(s, 0.0);
    const std::vector<DrawEntity> drawn = lerp.sample(1.0);
    ASSERT_EQ(drawn.size(), 5u); // id 1 is drawn, the viewer 11 is not
    EXPECT_EQ(drawn[0].id, 1u);
    for (int i : {1, 2})
        EXPECT_EQ(std::make_pair(drawn[i].x, drawn[i].y), std::make_pair(31.99f, 0.0f));
    EXPECT_EQ(drawn[3], (DrawEntity{3, 4, -2.5f, 1234, 9, 0, 17, 18, 1, 100, 155, 3}));
    EXPECT_EQ(std::make_pair(drawn[4].z, drawn[4].marked), std::make_pair(1.5f, std::uint8_t{0}));
}

} // namespace
} // namespace kestrel
