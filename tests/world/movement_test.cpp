#include "world/movement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <utility>

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;
constexpr std::int32_t centre = 16 * cell; // well away from every wall

// The collision grid of a sector closed by its border, plus extra wall cells (x, y).
Grid walled(std::initializer_list<std::pair<int, int>> walls = {}) {
    Sector sector;
    for (int i = 0; i < 32; ++i) {
        sector.cells[i] = sector.cells[31 * 32 + i] = 1;
        sector.cells[i * 32] = sector.cells[i * 32 + 31] = 1;
    }
    for (auto [x, y] : walls) sector.cells[y * 32 + x] = 1;
    return sector.collision(false);
}

// A full wall column at x, rows 1..30.
Grid wall_column(int x) {
    Sector sector;
    for (int i = 0; i < 32; ++i) {
        sector.cells[i] = sector.cells[31 * 32 + i] = 1;
        sector.cells[i * 32] = sector.cells[i * 32 + 31] = 1;
        sector.cells[i * 32 + x] = 1;
    }
    return sector.collision(false);
}

Player at(std::int32_t x, std::int32_t y) {
    Player player;
    player.x = x;
    player.y = y;
    return player;
}

Player stepped(Player player, std::uint16_t buttons, std::uint16_t yaw, const Grid& grid) {
    move(player, Input{1, 1, buttons, yaw}, grid);
    return player;
}

struct Offset {
    std::int32_t dx, dy;
    friend bool operator==(const Offset&, const Offset&) = default;
};

Offset displacement(std::uint16_t buttons, std::uint16_t yaw, Player start = at(centre, centre)) {
    const Player moved = stepped(start, buttons, yaw, walled());
    return {moved.x - start.x, moved.y - start.y};
}

void PrintTo(const Offset& o, std::ostream* os) {
    *os << "(" << o.dx << ", " << o.dy << ")";
}

constexpr std::uint16_t east = 0;
constexpr std::uint16_t south = 16384;
constexpr std::uint16_t west = 32768;

TEST(MoveTest, WalksAlongHeadingAndSideways) {
    using namespace button;
    EXPECT_EQ(displacement(forward, east), (Offset{8738, 0}));
    EXPECT_EQ(displacement(backward, east), (Offset{-8738, 0}));
    EXPECT_EQ(displacement(strafe_right, east), (Offset{0, 8738}));
    EXPECT_EQ(displacement(strafe_left, east), (Offset{0, -8738}));
    EXPECT_EQ(displacement(forward, south), (Offset{0, 8738}));
    EXPECT_EQ(displacement(forward | backward, east), (Offset{0, 0}));
    EXPECT_EQ(displacement(strafe_left | strafe_right, east), (Offset{0, 0}));

    const Player moved = stepped(at(centre, centre), forward, east, walled());
    EXPECT_EQ(moved.vx, 8738 * 30);
    EXPECT_EQ(moved.vy, 0);
    EXPECT_EQ(moved.yaw, east);
}

TEST(MoveTest, DiagonalInputIsScaledDown) {
    using namespace button;
    EXPECT_EQ(displacement(forward | strafe_right, east), (Offset{6178, 6178}));
    EXPECT_EQ(displacement(forward | strafe_left, east), (Offset{6178, -6178}));
    EXPECT_EQ(displacement(backward | strafe_left, east), (Offset{-6178, -6178}));
    // A dash on a diagonal: 131072 * 46341 >> 16, which needs a 64-bit product.
    EXPECT_EQ(displacement(forward | strafe_right | dash, east), (Offset{92682, 92682}));
}

TEST(MoveTest, DisplacementTruncatesTowardZero) {
    using namespace button;
    // 46341 * 8738 / 65536 = 6178.6: forward rounds down, backward rounds up, not to -6179.
    EXPECT_EQ(displacement(forward, 8192), (Offset{6178, 6178}));
    EXPECT_EQ(displacement(backward, 8192), (Offset{-6178, -6178}));
    // Only the top ten bits of the yaw pick the table entry.
    EXPECT_EQ(displacement(forward, 8192 + 63), (Offset{6178, 6178}));
    EXPECT_EQ(displacement(forward, 8192 + 64), displacement(forward, 8192 + 127));
}

TEST(MoveTest, SineTableMatchesRoundedSine) {
    // A bare dash moves 131072 * v / 65536 = exactly twice the table entry on each axis.
    auto entry = [](int i) {
        return static_cast<std::int32_t>(std::lround(std::sin(2 * M_PI * i / 1024) * 65536));
    };
    for (int i = 0; i < 1024; ++i) {
        const auto yaw = static_cast<std::uint16_t>(i << 6 | (i & 63));
        const Offset expected{2 * entry((i + 256) & 1023), 2 * entry(i)};
        ASSERT_EQ(displacement(button::dash, yaw), expected) << "table index " << i;
    }
    // SIN[0] = 0, SIN[256] = 65536, SIN[128] = 46341, SIN[85] = 32652, SIN[257] = 65535.
    EXPECT_EQ(displacement(button::dash, 0), (Offset{131072, 0}));
    EXPECT_EQ(displacement(button::dash, 128 << 6), (Offset{92682, 92682}));
    EXPECT_EQ(displacement(button::dash, 85 << 6), (Offset{2 * 56823, 2 * 32652}));
    EXPECT_EQ(displacement(button::dash, 1 << 6), (Offset{2 * 65535, 2 * 402}));
    EXPECT_EQ(displacement(button::dash, 768 << 6), (Offset{0, -131072}));
}

TEST(MoveTest, RunAndSpeedBoost) {
    using namespace button;
    EXPECT_EQ(displacement(forward | run, east), (Offset{13107, 0}));

    Player boosted = at(centre, centre);
    boosted.boost = 3;
    boosted.boost_ticks = 3;
    boosted.boost_value = 200;
    EXPECT_EQ(displacement(forward, east, boosted), (Offset{13107, 0}));

    const Grid grid = walled();
    boosted = stepped(boosted, forward | run, east, grid);
    EXPECT_EQ(boosted.x - centre, 19660);
    boosted = stepped(boosted, forward | run, east, grid);
    EXPECT_EQ(boosted.x - centre, 2 * 19660);
    EXPECT_EQ(boosted.boost_ticks, 1);
    EXPECT_EQ(boosted.boost, 3);
    EXPECT_EQ(boosted.boost_value, 200);
    // The step that uses up the last tick already runs at the plain speed.
    boosted = stepped(boosted, forward | run, east, grid);
    EXPECT_EQ(boosted.x - centre, 2 * 19660 + 13107);
    EXPECT_EQ(boosted.boost_ticks, 0);
    EXPECT_EQ(boosted.boost, 0);
    EXPECT_EQ(boosted.boost_value, 0);
}

TEST(MoveTest, OnlyARunningKindThreeBoostIsFaster) {
    Player faster_fire = at(centre, centre);
    faster_fire.boost = 1;
    faster_fire.boost_ticks = 10;
    EXPECT_EQ(displacement(button::forward, east, faster_fire), (Offset{8738, 0}));
    EXPECT_EQ(stepped(faster_fire, 0, east, walled()).boost_ticks, 9);

    // Kind 3 without remaining ticks is not running; it is also not cleared.
    Player expired = at(centre, centre);
    expired.boost = 3;
    EXPECT_EQ(displacement(button::forward, east, expired), (Offset{8738, 0}));
    EXPECT_EQ(stepped(expired, 0, east, walled()).boost, 3);
}

TEST(MoveTest, BareDashCoversTwoCellsInNineteenSubSteps) {
    using namespace button;
    const Player dashed = stepped(at(centre, centre), dash | run, east, walled());
    EXPECT_EQ(dashed.x - centre, 131072); // run is ignored while dashing
    EXPECT_EQ(dashed.vx, 131072 * 30);
    EXPECT_EQ(dashed.dash_cooldown, 90);
    EXPECT_EQ(displacement(dash | strafe_right, east), (Offset{0, 131072}));

    // Wall cell column 4 begins at 262144; the body may advance to 262144 - R = 247726.
    // Sub-step k ends at floor(131072k / 19): k = 12 (82782) fits, k = 13 does not. With a
    // different sub-step count the body would stop elsewhere.
    const Player stopped = stepped(at(163840, 16 * cell + cell / 2), dash, east, wall_column(4));
    EXPECT_EQ(stopped.x, 163840 + 82782);
    EXPECT_EQ(stopped.vx, 82782 * 30);
}

TEST(MoveTest, DashStopsAtWallWhileFreeAxisContinues) {
    // 45 degrees: 92682 per axis in 13 sub-steps; x stops after sub-step 11 (78423).
    const Player dashed = stepped(at(163840, 163840), button::dash, 8192, wall_column(4));
    EXPECT_EQ(dashed.x, 163840 + 78423);
    EXPECT_EQ(dashed.y, 163840 + 92682);
    EXPECT_EQ(dashed.vx, 78423 * 30);
    EXPECT_EQ(dashed.vy, 92682 * 30);
}

TEST(MoveTest, SecondDashOnNinetiethStepAfterFirst) {
    using namespace button;
    const Grid grid = walled();
    Player player = stepped(at(centre, centre), forward | dash, east, grid);
    ASSERT_EQ(player.x - centre, 131072);
    for (int step = 1; step < 90; ++step) {
        player.x = centre;
        player = stepped(player, forward | dash, east, grid);
        ASSERT_EQ(player.x - centre, 8738) << "step " << step;
        ASSERT_EQ(player.dash_cooldown, 90 - step);
    }
    // The cooldown falls from 1 to 0 on this step, and that already allows the dash.
    player.x = centre;
    player = stepped(player, forward | dash, east, grid);
    EXPECT_EQ(player.x - centre, 131072);
    EXPECT_EQ(player.dash_cooldown, 90);
}

TEST(MoveTest, WallSlideKeepsTangentialComponent) {
    const Grid grid = wall_column(4);
    const std::int32_t near_wall = 4 * cell - body_radius - 100;
    const Player south_east = stepped(at(near_wall, centre), button::forward, 8192, grid);
    EXPECT_EQ(south_east.x, near_wall);
    EXPECT_EQ(south_east.y, centre + 6178);
    EXPECT_EQ(south_east.vx, 0);
    EXPECT_EQ(south_east.vy, 6178 * 30);

    const Player north_east = stepped(at(near_wall, centre), button::forward, 57344, grid);
    EXPECT_EQ(north_east.x, near_wall);
    EXPECT_EQ(north_east.y, centre - 6178);
    EXPECT_EQ(north_east.vy, -6178 * 30);
}

TEST(MoveTest, TouchingAWallIsClearAndWalkingTakesTwoSubSteps) {
    const Grid grid = wall_column(4);
    const std::int32_t touching = 4 * cell - body_radius;
    EXPECT_EQ(stepped(at(touching - 8738, centre), button::forward, east, grid).x, touching);
    // One unit farther would overlap. 8738 exceeds the 7209 sub-step limit, so the step is
    // two halves of 4369: the first still fits, the second is dropped.
    const Player halfway = stepped(at(touching - 8737, centre), button::forward, east, grid);
    EXPECT_EQ(halfway.x, touching - 8737 + 4369);
    EXPECT_EQ(halfway.vx, 4369 * 30);
    const Player refused = stepped(at(touching - 4368, centre), button::forward, east, grid);
    EXPECT_EQ(refused.x, touching - 4368);
    EXPECT_EQ(refused.vx, 0);
}

TEST(MoveTest, CoordinateRangeIsInclusive) {
    const Grid open{}; // no walls at all; only the outside of the grid blocks
    Player player = stepped(at(coordinate_min + 8738, centre), button::forward, west, open);
    EXPECT_EQ(player.x, coordinate_min);
    player = stepped(player, button::forward, west, open);
    EXPECT_EQ(player.x, coordinate_min);
    EXPECT_EQ(player.vx, 0);

    player = stepped(at(centre, coordinate_max - 8738), button::forward, south, open);
    EXPECT_EQ(player.y, coordinate_max);
    EXPECT_EQ(stepped(player, button::forward, south, open).y, coordinate_max);

    // Outside the range nothing moves, even far out where a sum could overflow.
    const Player stray = at(std::numeric_limits<std::int32_t>::max() - 5,
                            std::numeric_limits<std::int32_t>::min() + 5);
    const Player after = stepped(stray, button::dash | button::forward, 8192, open);
    EXPECT_EQ(after.x, stray.x);
    EXPECT_EQ(after.y, stray.y);
    EXPECT_EQ(after.vx, 0);
    EXPECT_EQ(after.vy, 0);
    EXPECT_EQ(stepped(at(centre, 5000), button::forward, east, open).x, centre);
}

TEST(MoveTest, DeadPlayerOnlyAdvancesCounters) {
    Player dead = at(centre, centre);
    dead.health = 0;
    dead.vx = 1234;
    dead.vy = -99;
    dead.cooldown = 5;
    dead.dash_cooldown = 3;
    dead.boost = 3;
    dead.boost_ticks = 1;
    dead.boost_value = 50;
    dead.tick_event = true;
    const std::uint16_t buttons = button::forward | button::dash | (3 << button::weapon_shift);

    const Player after = stepped(dead, buttons, 4096, walled());
    EXPECT_EQ(after.x, centre);
    EXPECT_EQ(after.y, centre);
    EXPECT_EQ(after.vx, 0);
    EXPECT_EQ(after.vy, 0);
    EXPECT_EQ(after.yaw, 4096);
    EXPECT_EQ(after.cooldown, 4);
    EXPECT_EQ(after.dash_cooldown, 2);
    EXPECT_EQ(after.boost_ticks, 0);
    EXPECT_EQ(after.boost, 0);
    EXPECT_EQ(after.boost_value, 0);
    EXPECT_EQ(after.weapon, 3);
    EXPECT_FALSE(after.tick_event);

    // A ready dash is not consumed by a dead player.
    dead.dash_cooldown = 0;
    EXPECT_EQ(stepped(dead, buttons, 0, walled()).dash_cooldown, 0);
}

TEST(MoveTest, WeaponSelectAndCountdowns) {
    const Grid grid = walled();
    for (std::uint16_t w = 0; w < 8; ++w) {
        Player player = at(centre, centre);
        player.weapon = 2;
        const auto buttons = static_cast<std::uint16_t>(w << button::weapon_shift);
        EXPECT_EQ(stepped(player, buttons, 0, grid).weapon, (w >= 1 && w <= 4) ? w : 2)
            << "select " << w;
    }

    Player player = at(centre, centre);
    player.cooldown = 2;
    player.tick_event = true;
    player.ammo = 7;
    player = stepped(player, 0, 0, grid);
    EXPECT_EQ(player.cooldown, 1);
    EXPECT_FALSE(player.tick_event);
    player = stepped(stepped(player, 0, 0, grid), 0, 0, grid);
    EXPECT_EQ(player.cooldown, 0);
    EXPECT_EQ(player.ammo, 7);
    EXPECT_EQ(player.weapon, 1);
}

} // namespace
} // namespace kestrel
