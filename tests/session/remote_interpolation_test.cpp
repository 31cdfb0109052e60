#include "session/remote_interpolation.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;

ReplicatedEntity entity(std::uint32_t id, double x, double y, std::uint16_t yaw = 0) {
    ReplicatedEntity e;
    e.id = id;
    e.x = static_cast<std::int32_t>(x * cell);
    e.y = static_cast<std::int32_t>(y * cell);
    e.yaw = yaw;
    e.kind = 2;
    return e;
}

// The viewer (id 1) first, as every snapshot has it, then the given entities.
Snapshot snapshot(std::uint32_t tick, std::vector<ReplicatedEntity> others) {
    Snapshot s{tick, tick, 0, 0, 1, 0, 0, {entity(1, 5, 5)}};
    s.entities.insert(s.entities.end(), others.begin(), others.end());
    return s;
}

// The drawn entity with the given id, or a default one with id 0.
DrawEntity drawn(const std::vector<DrawEntity>& entities, std::uint32_t id) {
    for (const DrawEntity& e : entities)
        if (e.id == id) return e;
    return DrawEntity{};
}

TEST(RemoteInterpolation, TicksBuildTheServerTimeLine) {
    RemoteInterpolation lerp;
    EXPECT_TRUE(lerp.sample(1.0).empty());
    lerp.push(snapshot(100, {}), 5.0);
    EXPECT_EQ(std::make_tuple(lerp.samples().size(), lerp.samples().back().time, lerp.pushed_at()),
              std::make_tuple(std::size_t{1}, 0.0, 5.0));
    lerp.push(snapshot(130, {}), 6.0);
    EXPECT_EQ(std::make_pair(lerp.server_time(), lerp.samples().back().time),
              std::make_pair(1.0, 1.0));
    lerp.push(snapshot(130, {}), 7.0); // not newer: ignored, and the push time stays
    lerp.push(snapshot(129, {}), 7.5);
    EXPECT_EQ(std::make_tuple(lerp.samples().size(), lerp.pushed_at(), lerp.server_time()),
              std::make_tuple(std::size_t{2}, 6.0, 1.0));
    Snapshot empty = snapshot(131, {});
    empty.entities.clear();
    lerp.push(empty, 7.0);
    EXPECT_TRUE(lerp.sample(7.2).empty()); // the newest sample has nobody

    lerp.clear();
    lerp.push(snapshot(4294967290u, {}), 0.0);
    lerp.push(snapshot(4, {}), 0.5); // 10 ticks later
    EXPECT_DOUBLE_EQ(lerp.server_time(), 10.0 / 30.0);
    // Entity 2 stands at x = tick * tick / 8 cells, behind a varying number of other records.
    for (std::uint32_t tick = 5; tick < 13; ++tick) {
        std::vector<ReplicatedEntity> others(tick % 3, entity(20, 30, 30));
        for (std::uint32_t j = 0; j < others.size(); ++j) others[j].id += j;
        others.push_back(entity(2, tick * tick / 8.0, 1));
        lerp.push(snapshot(tick, others), 1.0);
    }
    ASSERT_EQ(lerp.samples().size(), 8u);
    EXPECT_EQ(lerp.samples().front().snapshot.tick, 5u);
    EXPECT_DOUBLE_EQ(lerp.server_time(), 18.0 / 30.0);
    // r = 18/30 + 1/30 - 0.1 is the time of tick 10.
    EXPECT_FLOAT_EQ(drawn(lerp.sample(1.0 + 1.0 / 30.0), 2).x, 12.5f);
    lerp.clear();
    EXPECT_EQ(std::make_pair(lerp.samples().size(), lerp.server_time()), std::make_pair(std::size_t{0}, 0.0));
    lerp.push(snapshot(2, {}), 3.0); // older than before the clear, yet taken
    EXPECT_EQ(lerp.samples().size(), 1u);
}

TEST(RemoteInterpolation, BlendsHoldsAndCoasts) {
    ReplicatedEntity mover = entity(2, 10, 20);
    mover.vx = 3 * cell; // cells per second
    mover.vy = -2 * cell;
    RemoteInterpolation one;
    one.push(snapshot(50, {mover}), 4.0);
    // Held until r passes the sample, then coasting for at most a tenth of a second.
    const std::tuple<double, float, float> path[] = {{3.0, 10, 20},       {4.0, 10, 20},
                                                     {4.1, 10, 20},       {4.15, 10.15f, 19.9f},
                                                     {4.2, 10.3f, 19.8f}, {9.0, 10.3f, 19.8f}};
    for (const auto& [now, x, y] : path) {
        EXPECT_FLOAT_EQ(drawn(one.sample(now), 2).x, x) << now;
        EXPECT_FLOAT_EQ(drawn(one.sample(now), 2).y, y) << now;
    }

    RemoteInterpolation three;
    three.push(snapshot(0, {entity(2, 10, 4)}), 0.0);
    three.push(snapshot(15, {entity(2, 12, 4)}), 0.5);
    three.push(snapshot(30, {entity(2, 14, 8)}), 1.0);
    const DrawEntity late = drawn(three.sample(1.0), 2); // r = 0.9: between 0.5 and 1.0
    EXPECT_FLOAT_EQ(late.x, 13.6f);
    EXPECT_FLOAT_EQ(late.y, 7.2f);
    EXPECT_EQ(drawn(three.sample(0.7), 2), late); // a clock behind the push counts as it

    RemoteInterpolation early; // r before the oldest sample: the oldest is used
    early.push(snapshot(0, {entity(2, 6, 6)}), 0.0);
    early.push(snapshot(2, {entity(2, 8, 6)}), 0.0);
    EXPECT_EQ(drawn(early.sample(0.0), 2).x, 6.0f);

    // Entity 2 blends from 0 s to 2 s past the sample that lacks it, entity 3 from 1 s to
    // 2 s; 4 exists only in the newest, 5 only in an older one; the newest order is kept.
    RemoteInterpolation gaps;
    gaps.push(snapshot(0, {entity(2, 10, 10)}), 0.0);
    gaps.push(snapshot(30, {entity(3, 2, 2)}), 0.0);
    gaps.push(snapshot(60, {entity(2, 14, 10), entity(3, 3, 3), entity(5, 1, 1)}), 0.0);
    gaps.push(snapshot(62, {entity(3, 3, 3), entity(2, 14, 10), entity(4, 9, 9)}), 0.0);
    const double r = 62.0 / 30.0 - 0.1;
    const std::vector<DrawEntity> out = gaps.sample(0.0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(std::make_tuple(out[0].id, out[1].id, out[2].id), std::make_tuple(3u, 2u, 4u));
    EXPECT_FLOAT_EQ(out[0].x, static_cast<float>(2 + (r - 1)));
    EXPECT_FLOAT_EQ(out[1].x, static_cast<float>(10 + r / 2 * 4));
    EXPECT_EQ(std::make_pair(out[2].x, out[2].y), std::make_pair(9.0f, 9.0f));
}

TEST(RemoteInterpolation, YawClampAndRecordFields) {
    RemoteInterpolation turning;
    turning.push(snapshot(0, {entity(2, 4, 4, 65000), entity(3, 4, 4, 16000)}), 0.0);
    turning.push(snapshot(30, {entity(2, 4, 4, 500), entity(3, 4, 4, 48000)}), 0.0);
    const std::vector<DrawEntity> turned = turning.sample(0.0); // a = 0.9
    EXPECT_FLOAT_EQ(turned[0].yaw, 65000.0f + 0.9f * 1036.0f);  // across 65536, unwrapped
    EXPECT_GT(turned[0].yaw, 65535.0f);
    EXPECT_FLOAT_EQ(turned[1].yaw, 16000.0f + 0.9f * 32000.0f); // +32000 is the short way

    ReplicatedEntity outside = entity(2, 32.5, -1.0), coasting = entity(3, 31.9, 0.05);
    coasting.vx = 2 * cell;
    coasting.vy = -2 * cell;
    ReplicatedEntity e = entity(9, 3, 4, 1234), up = entity(10, 6, 7);
    e.health = 0;
    e.type = 17;
    e.kind = 18;
    e.tick_event = true;
    e.cooldown = 155;
    e.state = 3;
    e.height = static_cast<std::uint16_t>(-640); // 2.5 cells below the floor
    up.height = 384;
    Snapshot s = snapshot(7, {outside, coasting, e, up, entity(11, 1, 1)});
    s.viewer = 11; // the viewer need not be the first record
    RemoteInterpolation lerp;
    lerp.push(s, 0.0);
    const std::vector<DrawEntity> out = lerp.sample(1.0);
    ASSERT_EQ(out.size(), 5u); // id 1 is drawn, the viewer 11 is not
    EXPECT_EQ(out[0].id, 1u);
    for (int i : {1, 2})
        EXPECT_EQ(std::make_pair(out[i].x, out[i].y), std::make_pair(31.99f, 0.0f));
    const DrawEntity expected{3, 4, -2.5f, 1234, 9, 0, 17, 18, 1, 100, 155, 3};
    EXPECT_EQ(out[3], expected);
    EXPECT_EQ(std::make_pair(out[4].z, out[4].marked), std::make_pair(1.5f, std::uint8_t{0}));
}

} // namespace
} // namespace kestrel
