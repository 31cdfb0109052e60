// One tick of movement and the navigation heading, on real collision grids.
#include "world/movement.h"

#include "tests/world/rooms.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;
constexpr std::int32_t centre = 16 * cell; // well away from every wall
constexpr std::uint16_t east = 0, south = 16384, west = 32768;

// The collision grid of a closed room with extra wall cells (x, y) and wall column `column`.
Grid walled(std::initializer_list<std::pair<int, int>> walls = {}, int column = 0) {
    Sector sector = test::open_room();
    test::carve(sector, column, 1, column, 30, 1);
    for (auto [x, y] : walls) sector.cells[test::at(x, y)] = 1;
    return sector.collision(false);
}

Player at(std::int32_t x, std::int32_t y) {
    return Player{.x = x, .y = y};
}

Player stepped(Player player, int buttons, std::uint16_t yaw, const Grid& grid = walled()) {
    move(player, Input{1, 1, static_cast<std::uint16_t>(buttons), yaw}, grid);
    return player;
}

TEST(Move, DisplacementPerStep) {
    using namespace button;
    using Case = std::tuple<int, int, int, int>; // buttons, yaw, dx, dy
    // Diagonals scale by 46341, truncated; run is ignored while dashing; a bare dash moves twice
    // the sine entry the yaw's top ten bits pick.
    // clang-format off
    const Case cases[] = {
        {forward, east, 8738, 0}, {backward, east, -8738, 0}, {strafe_right, east, 0, 8738},
        {strafe_left, east, 0, -8738}, {forward, south, 0, 8738}, {forward | backward, east, 0, 0},
        {strafe_left | strafe_right, east, 0, 0}, {forward | strafe_right, east, 6178, 6178},
        {forward | strafe_left, east, 6178, -6178}, {backward | strafe_left, east, -6178, -6178},
        {forward, 8192, 6178, 6178}, {backward, 8192, -6178, -6178}, {forward | run, east, 13107, 0},
        {forward | strafe_right | dash, east, 92682, 92682}, {dash | strafe_right, east, 0, 131072},
        {dash | run, east, 131072, 0}, {dash, 1 << 6 | 63, 2 * 65535, 2 * 402}, {forward, 8192 + 63, 6178, 6178},
        {dash, 85 << 6, 2 * 56823, 2 * 32652}, {dash, 768 << 6, 0, -131072}, {dash, 1023 << 6, 2 * 65535, -2 * 402}};
    // clang-format on
    for (auto [buttons, yaw, dx, dy] : cases) {
        const Player moved = stepped(at(centre, centre), buttons, std::uint16_t(yaw));
        EXPECT_EQ(std::pair(moved.x - centre, moved.y - centre), std::pair(dx, dy)) << buttons;
    }
    Player dashed{.x = centre, .y = centre + 131072, .vy = 131072 * 30, .yaw = south};
    dashed.dash_cooldown = 90;
    EXPECT_EQ(stepped(at(centre, centre), dash, south), dashed);
}

TEST(Move, BoostDashCooldownDeathWeaponsAndCountdowns) {
    using namespace button;
    Player boosted{.x = centre, .y = centre, .boost_value = 200, .boost_ticks = 3, .boost = 3};
    EXPECT_EQ(stepped(boosted, forward, east).x - centre, 13107);
    boosted = stepped(stepped(boosted, forward | run, east), forward | run, east);
    const auto boost = [](const Player& p) {
        return std::tuple(p.x - centre, p.boost_ticks, p.boost, p.boost_value);
    };
    EXPECT_EQ(boost(boosted), std::tuple(2 * 19660, 1, 3, 200));
    // The step that uses up the last tick already runs at the plain speed.
    EXPECT_EQ(boost(stepped(boosted, forward | run, east)), std::tuple(2 * 19660 + 13107, 0, 0, 0));
    // Only a running kind 3 is faster; kind 3 without ticks is not running, nor cleared.
    const Player faster_fire{.x = centre, .y = centre, .boost_ticks = 10, .boost = 1};
    EXPECT_EQ(stepped(faster_fire, forward, east).x - centre, 8738);
    EXPECT_EQ(stepped(faster_fire, 0, east).boost_ticks, 9);
    const Player expired{.x = centre, .y = centre, .boost = 3};
    EXPECT_EQ(stepped(expired, forward, east).x - centre, 8738);
    EXPECT_EQ(stepped(expired, 0, east).boost, 3);
    Player player = stepped(at(centre, centre), forward | dash, east);
    ASSERT_EQ(player.x - centre, 131072);
    for (int step = 1; step <= 90; ++step) {
        player.x = centre;
        player = stepped(player, forward | dash, east);
        // The cooldown falls from 1 to 0 on the 90th step, which already allows the dash.
        ASSERT_EQ(player.x - centre, step < 90 ? 8738 : 131072) << "step " << step;
        ASSERT_EQ(player.dash_cooldown, step < 90 ? 90 - step : 90);
    }
    // A dead player's timers run on; it does not move, nor use a ready dash.
    Player dead = at(centre, centre), expected;
    dead.vx = 1234, dead.vy = -99, dead.health = 0, dead.cooldown = 5, dead.tick_event = true;
    dead.boost_value = 50, dead.dash_cooldown = 3, dead.boost_ticks = 1, dead.boost = 3;
    expected = dead;
    expected.vx = expected.vy = 0, expected.yaw = 4096, expected.cooldown = 4;
    expected.dash_cooldown = 2, expected.boost_ticks = expected.boost = expected.boost_value = 0;
    expected.weapon = 3, expected.tick_event = false;
    const int buttons = forward | dash | (3 << weapon_shift);
    EXPECT_EQ(stepped(dead, buttons, 4096), expected);
    dead.dash_cooldown = 0;
    EXPECT_EQ(stepped(dead, buttons, 0).dash_cooldown, 0);

    for (int w = 0; w < 8; ++w) {
        const Player armed{.x = centre, .y = centre, .weapon = 2};
        EXPECT_EQ(stepped(armed, w << weapon_shift, 0).weapon, (w >= 1 && w <= 4) ? w : 2) << w;
    }
    // Fire cooldown counts down to 0 and stays there; the tick event is cleared.
    const Player alive{.x = centre, .y = centre, .ammo = 7, .cooldown = 2, .tick_event = true};
    EXPECT_EQ(stepped(alive, 0, 0), (Player{.x = centre, .y = centre, .ammo = 7, .cooldown = 1}));
    EXPECT_EQ(stepped(stepped(stepped(alive, 0, 0), 0, 0), 0, 0).cooldown, 0);
}

TEST(Move, WallsStopSubStepsAndTheCoordinateRange) {
    const Grid column = walled({}, 4);
    // The body may advance to 262144 - R = 247726: of a dash's 19 sub-steps 12 fit (82782).
    Player stopped = stepped(at(163840, 16 * cell + cell / 2), button::dash, east, column);
    EXPECT_EQ(std::tuple(stopped.x, stopped.vx), std::tuple(163840 + 82782, 82782 * 30));
    // At 45 degrees, 92682 per axis in 13 sub-steps: x stops after 11 (78423), y goes on.
    stopped = stepped(at(163840, 163840), button::dash, 8192, column);
    EXPECT_EQ(std::tuple(stopped.x, stopped.y, stopped.vx, stopped.vy),
              std::tuple(163840 + 78423, 163840 + 92682, 78423 * 30, 92682 * 30));
    // Sliding along the wall keeps the tangential component.
    const std::int32_t near = 4 * cell - body_radius - 100;
    EXPECT_EQ(stepped(at(near, centre), button::forward, 57344, column),
              (Player{.x = near, .y = centre - 6178, .vy = -6178 * 30, .yaw = 57344}));
    // Touching is clear; 8738 exceeds the 7209 sub-step limit, so it goes in halves of 4369.
    const std::int32_t touching = 4 * cell - body_radius;
    EXPECT_EQ(stepped(at(touching - 8738, centre), button::forward, east, column).x, touching);
    const Player half = stepped(at(touching - 8737, centre), button::forward, east, column);
    EXPECT_EQ(std::tuple(half.x, half.vx), std::tuple(touching - 8737 + 4369, 4369 * 30));
    const Player refused = stepped(at(touching - 4368, centre), button::forward, east, column);
    EXPECT_EQ(std::tuple(refused.x, refused.vx), std::tuple(touching - 4368, 0));

    // The coordinate range is inclusive; a grid without walls leaves only it to stop a body.
    const Grid open{};
    Player player = stepped(at(coordinate_min + 8738, centre), button::forward, west, open);
    EXPECT_EQ(player.x, coordinate_min);
    EXPECT_EQ(stepped(player, button::forward, west, open).vx, 0);
    player = stepped(at(centre, coordinate_max - 8738), button::forward, south, open);
    EXPECT_EQ(player.y, coordinate_max);
    EXPECT_EQ(stepped(player, button::forward, south, open).y, coordinate_max);
    // Outside the range nothing moves, even far out where a sum could overflow.
    const Player stray = at(INT32_MAX - 5, INT32_MIN + 5);
    EXPECT_EQ(stepped(stray, button::dash | button::forward, 8192, open),
              (Player{.x = INT32_MAX - 5, .y = INT32_MIN + 5, .yaw = 8192, .dash_cooldown = 90}));
    EXPECT_EQ(stepped(at(centre, 5000), button::forward, east, open).x, centre);
}

TEST(NavigationYaw, ShortestPathHeadings) {
    const auto middle = [](int c) { return c * cell + cell / 2; };
    const auto index = [](int x, int y) { return std::uint16_t(y * 32 + x); };
    const Grid grid = walled(), pocket = walled({{9, 10}, {11, 10}, {10, 9}, {10, 11}});
    Grid gate = walled({}, 8); // wall column 8 with its only gap at row 1
    gate[index(8, 1)] = 0;
    const int m5 = middle(5), quarter = 5 * cell + cell / 4;
    using Case = std::tuple<Grid, int, int, std::uint16_t, std::optional<std::uint16_t>>;
    // clang-format off
    const Case cases[] = {
        // No heading without a usable path: off the grid, on a wall, walled in.
        {grid, m5, m5, 1024, {}}, {grid, m5, m5, 65535, {}}, {grid, m5, m5, index(0, 5), {}},
        {pocket, middle(10), middle(10), index(20, 20), {}},
        {pocket, middle(20), middle(20), index(10, 10), {}},
        {pocket, middle(9), middle(10), index(20, 20), {}},
        {grid, m5, 32 * cell + 100, index(5, 5), {}}, {grid, -70000, middle(0), index(5, 5), {}},
        // Divided by 6.28318530718 and truncated: south 16383, west 32767; east wraps to 0.
        {grid, m5, m5, index(10, 5), 0}, {grid, m5, m5, index(5, 10), 16383},
        {grid, m5, m5, index(1, 5), 32767}, {grid, m5, m5, index(5, 1), 49152},
        // Aims at the centre of the next cell: from (5.25, 5.75) toward (6.5, 5.5).
        {grid, quarter, 5 * cell + 3 * cell / 4, index(10, 5), 63477},
        {grid, m5, m5 + cell / 16, index(10, 5), 64884}, {grid, m5, m5 - cell / 16, index(10, 5), 651},
        // Inside the target cell it points at the centre; x = -100 is column 0.
        {grid, quarter, quarter, index(5, 5), 8191}, {grid, m5, m5, index(5, 5), 0},
        {Grid{}, -100, m5, index(0, 5), 0}, {Grid{}, middle(31), m5, index(30, 5), 32767},
        // Equal routes prefer east, west, south, north.
        {grid, m5, m5, index(6, 6), 0}, {grid, m5, m5, index(6, 4), 0},
        {grid, m5, m5, index(4, 6), 32767}, {grid, m5, m5, index(4, 4), 32767},
        {walled({{6, 5}}), m5, m5, index(7, 5), 16383},
        // Around walls: the way east leads north first, out of a pocket open to the west.
        {gate, middle(7), m5, index(9, 5), 49152},
        {walled({{8, 4}, {8, 5}, {8, 6}, {7, 4}, {7, 6}}), middle(7), m5, index(9, 5), 32767}};
    // clang-format on
    for (const auto& [g, x, y, target, yaw] : cases)
        EXPECT_EQ(navigation_yaw(g, x, y, target), yaw) << x << "," << y << " to " << target;
}

} // namespace
} // namespace kestrel
