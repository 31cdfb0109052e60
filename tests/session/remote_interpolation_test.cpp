#include "session/remote_interpolation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;
constexpr std::uint32_t viewer = 1;

ReplicatedEntity entity(std::uint32_t id, double x, double y, std::uint16_t yaw = 0) {
    ReplicatedEntity e;
    e.id = id;
    e.x = static_cast<std::int32_t>(x * cell);
    e.y = static_cast<std::int32_t>(y * cell);
    e.yaw = yaw;
    e.kind = 2;
    return e;
}

// The viewer first, as every snapshot has it, then the given entities.
Snapshot snapshot(std::uint32_t tick, std::vector<ReplicatedEntity> others) {
    Snapshot s;
    s.id = tick;
    s.tick = tick;
    s.viewer = viewer;
    s.entities.push_back(entity(viewer, 5, 5));
    s.entities.insert(s.entities.end(), others.begin(), others.end());
    return s;
}

// The drawn entity with the given id, or a default one with id 0.
DrawEntity drawn(const std::vector<DrawEntity>& entities, std::uint32_t id) {
    for (const DrawEntity& e : entities)
        if (e.id == id) return e;
    return DrawEntity{};
}

TEST(RemoteInterpolationPush, TicksBuildTheServerTimeLine) {
    RemoteInterpolation interpolation;
    interpolation.push(snapshot(100, {}), 5.0);
    ASSERT_EQ(interpolation.samples().size(), 1u);
    EXPECT_EQ(interpolation.samples().back().time, 0.0);
    EXPECT_EQ(interpolation.pushed_at(), 5.0);

    interpolation.push(snapshot(130, {}), 6.0);
    EXPECT_EQ(interpolation.server_time(), 1.0);
    EXPECT_EQ(interpolation.samples().back().time, 1.0);

    // Not newer: ignored, and the push time stays.
    interpolation.push(snapshot(130, {}), 7.0);
    interpolation.push(snapshot(129, {}), 7.5);
    EXPECT_EQ(interpolation.samples().size(), 2u);
    EXPECT_EQ(interpolation.pushed_at(), 6.0);
    EXPECT_EQ(interpolation.server_time(), 1.0);
}

TEST(RemoteInterpolationPush, TicksWrapAndOnlyEightAreKept) {
    RemoteInterpolation interpolation;
    interpolation.push(snapshot(4294967290u, {}), 0.0);
    interpolation.push(snapshot(4, {}), 0.5); // 10 ticks later
    EXPECT_DOUBLE_EQ(interpolation.server_time(), 10.0 / 30.0);

    // Entity 2 stands at x = tick * tick / 8 cells, behind a varying number of other records.
    for (std::uint32_t tick = 5; tick < 13; ++tick) {
        std::vector<ReplicatedEntity> others;
        for (std::uint32_t j = 0; j < tick % 3; ++j) others.push_back(entity(20 + j, 30, 30));
        others.push_back(entity(2, tick * tick / 8.0, 1));
        interpolation.push(snapshot(tick, others), 1.0);
    }
    ASSERT_EQ(interpolation.samples().size(), 8u);
    EXPECT_EQ(interpolation.samples().front().snapshot.tick, 5u);
    EXPECT_EQ(interpolation.samples().back().snapshot.tick, 12u);
    EXPECT_DOUBLE_EQ(interpolation.server_time(), 18.0 / 30.0);
    // r = 18/30 + 1/30 - 0.1 is the time of tick 10.
    EXPECT_FLOAT_EQ(drawn(interpolation.sample(1.0 + 1.0 / 30.0), 2).x, 12.5f);

    interpolation.clear();
    EXPECT_TRUE(interpolation.samples().empty());
    EXPECT_EQ(interpolation.server_time(), 0.0);
    interpolation.push(snapshot(2, {}), 3.0); // older than before the clear, yet taken
    EXPECT_EQ(interpolation.samples().size(), 1u);
    EXPECT_EQ(interpolation.samples().back().time, 0.0);
}

TEST(RemoteInterpolationSample, NothingToDraw) {
    RemoteInterpolation interpolation;
    EXPECT_TRUE(interpolation.sample(1.0).empty());
    interpolation.push(snapshot(10, {entity(2, 3, 3)}), 0.0);
    Snapshot empty = snapshot(11, {});
    empty.entities.clear();
    interpolation.push(empty, 0.1);
    EXPECT_TRUE(interpolation.sample(0.2).empty());
}

TEST(RemoteInterpolationSample, SingleSampleHoldsThenCoastsAtMostATenth) {
    ReplicatedEntity mover = entity(2, 10, 20);
    mover.vx = 3 * cell;  // 3 cells per second
    mover.vy = -2 * cell; // -2 cells per second
    RemoteInterpolation interpolation;
    interpolation.push(snapshot(50, {mover}), 4.0);

    for (double now : {3.0, 4.0, 4.1}) { // r = -0.1 .. 0, not past the sample
        const DrawEntity d = drawn(interpolation.sample(now), 2);
        EXPECT_EQ(d.x, 10.0f) << now;
        EXPECT_EQ(d.y, 20.0f) << now;
    }
    const DrawEntity coasting = drawn(interpolation.sample(4.15), 2);
    EXPECT_FLOAT_EQ(coasting.x, 10.15f);
    EXPECT_FLOAT_EQ(coasting.y, 19.9f);
    for (double now : {4.2, 9.0}) {
        const DrawEntity held = drawn(interpolation.sample(now), 2);
        EXPECT_FLOAT_EQ(held.x, 10.3f) << now;
        EXPECT_FLOAT_EQ(held.y, 19.8f) << now;
    }
}

TEST(RemoteInterpolationSample, BlendsBetweenTheSamplesAroundTheRenderMoment) {
    RemoteInterpolation interpolation;
    interpolation.push(snapshot(0, {entity(2, 10, 4)}), 0.0);
    interpolation.push(snapshot(15, {entity(2, 12, 4)}), 0.5);
    interpolation.push(snapshot(30, {entity(2, 14, 8)}), 1.0);

    // r = 0.9: between the samples at 0.5 and 1.0.
    const DrawEntity late = drawn(interpolation.sample(1.0), 2);
    EXPECT_FLOAT_EQ(late.x, 13.6f);
    EXPECT_FLOAT_EQ(late.y, 7.2f);
    // A clock behind the last push counts as the push moment.
    EXPECT_EQ(drawn(interpolation.sample(0.7), 2), late);
}

TEST(RemoteInterpolationSample, WalksPastSamplesThatLackTheEntity) {
    RemoteInterpolation interpolation;
    interpolation.push(snapshot(0, {entity(2, 10, 10)}), 0.0);
    interpolation.push(snapshot(30, {entity(3, 2, 2)}), 0.0);
    interpolation.push(snapshot(60, {entity(2, 14, 10), entity(3, 3, 3), entity(5, 1, 1)}), 0.0);
    interpolation.push(snapshot(62, {entity(3, 3, 3), entity(2, 14, 10), entity(4, 9, 9)}), 0.0);

    // r lies between the samples at 1 s and 2 s. Entity 2 blends from 0 s to 2 s, past the
    // sample that lacks it; entity 3 from 1 s to 2 s; entity 4 exists only in the newest and
    // entity 5 only in an older one. The order differs from snapshot to snapshot.
    const double r = 62.0 / 30.0 - 0.1;
    const std::vector<DrawEntity> out = interpolation.sample(0.0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].id, 3u); // the newest snapshot's order
    EXPECT_EQ(out[1].id, 2u);
    EXPECT_EQ(out[2].id, 4u);
    EXPECT_FLOAT_EQ(out[0].x, static_cast<float>(2 + (r - 1)));
    EXPECT_FLOAT_EQ(out[1].x, static_cast<float>(10 + r / 2 * 4));
    EXPECT_EQ(out[2].x, 9.0f);
    EXPECT_EQ(out[2].y, 9.0f);
}

TEST(RemoteInterpolationSample, RenderMomentBeforeEverySampleUsesTheOldest) {
    RemoteInterpolation interpolation;
    interpolation.push(snapshot(0, {entity(2, 6, 6)}), 0.0);
    interpolation.push(snapshot(2, {entity(2, 8, 6)}), 0.0);
    // r = 2/30 - 0.1, before the oldest sample at 0.
    EXPECT_EQ(drawn(interpolation.sample(0.0), 2).x, 6.0f);
}

TEST(RemoteInterpolationSample, YawTurnsTheShortWay) {
    RemoteInterpolation interpolation;
    interpolation.push(snapshot(0, {entity(2, 4, 4, 65000), entity(3, 4, 4, 16000)}), 0.0);
    interpolation.push(snapshot(30, {entity(2, 4, 4, 500), entity(3, 4, 4, 48000)}), 0.0);
    const std::vector<DrawEntity> out = interpolation.sample(0.0);
    ASSERT_EQ(out.size(), 2u);
    // r = 0.9, so a = 0.9. 65000 → 500 is +1036 across 65536, drawn unwrapped.
    EXPECT_FLOAT_EQ(out[0].yaw, 65000.0f + 0.9f * 1036.0f);
    EXPECT_GT(out[0].yaw, 65535.0f);
    // 16000 → 48000 is +32000, less than half a turn: forward, not backward.
    EXPECT_FLOAT_EQ(out[1].yaw, 16000.0f + 0.9f * 32000.0f);
}

TEST(RemoteInterpolationSample, PositionsAreClampedIntoTheSector) {
    ReplicatedEntity outside = entity(2, 32.5, -1.0);
    ReplicatedEntity coasting = entity(3, 31.9, 0.05);
    coasting.vx = 2 * cell;
    coasting.vy = -2 * cell;
    RemoteInterpolation interpolation;
    interpolation.push(snapshot(0, {outside, coasting}), 0.0);
    const std::vector<DrawEntity> out = interpolation.sample(1.0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].x, 31.99f);
    EXPECT_EQ(out[0].y, 0.0f);
    EXPECT_EQ(out[1].x, 31.99f);
    EXPECT_EQ(out[1].y, 0.0f);
}

TEST(RemoteInterpolationSample, CopiesTheRecordFieldsAndSkipsTheViewer) {
    ReplicatedEntity e = entity(9, 3, 4, 1234);
    e.health = 0;
    e.type = 17;
    e.kind = 18;
    e.tick_event = true;
    e.cooldown = 155;
    e.state = 3;
    e.height = static_cast<std::uint16_t>(-640); // 2.5 cells below the floor
    ReplicatedEntity up = entity(10, 6, 7);
    up.height = 384;

    Snapshot s = snapshot(7, {e, up});
    s.entities.push_back(entity(11, 1, 1));
    s.viewer = 11; // the viewer is not necessarily the first record here
    RemoteInterpolation interpolation;
    interpolation.push(s, 0.0);
    const std::vector<DrawEntity> out = interpolation.sample(0.0);
    ASSERT_EQ(out.size(), 3u); // id 1 is drawn, the viewer 11 is not
    EXPECT_EQ(out[0].id, 1u);
    EXPECT_EQ(drawn(out, 11).id, 0u);

    DrawEntity expected;
    expected.x = 3;
    expected.y = 4;
    expected.z = -2.5f;
    expected.yaw = 1234;
    expected.id = 9;
    expected.health = 0;
    expected.type = 17;
    expected.kind = 18;
    expected.marked = 1;
    expected.death_age = 100;
    expected.timer = 155;
    expected.state = 3;
    EXPECT_EQ(out[1], expected);
    EXPECT_EQ(out[2].z, 1.5f);
    EXPECT_EQ(out[2].marked, 0);
}

} // namespace
} // namespace kestrel
