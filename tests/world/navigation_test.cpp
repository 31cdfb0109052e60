#include "world/movement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

namespace kestrel {
namespace {

constexpr int cell = 65536;

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

constexpr std::uint16_t index(int x, int y) {
    return static_cast<std::uint16_t>(y * 32 + x);
}
constexpr int middle(int c) {
    return c * cell + cell / 2;
}

std::optional<std::uint16_t> from_centre(const Grid& grid, int x, int y, std::uint16_t target) {
    return navigation_yaw(grid, middle(x), middle(y), target);
}

TEST(NavigationYawTest, NoHeadingWithoutUsablePath) {
    const Grid grid = walled();
    EXPECT_EQ(from_centre(grid, 5, 5, 1024), std::nullopt);
    EXPECT_EQ(from_centre(grid, 5, 5, 65535), std::nullopt);
    EXPECT_EQ(from_centre(grid, 5, 5, index(0, 5)), std::nullopt); // border wall

    const Grid pocket = walled({{9, 10}, {11, 10}, {10, 9}, {10, 11}});
    EXPECT_EQ(from_centre(pocket, 10, 10, index(20, 20)), std::nullopt);
    EXPECT_EQ(from_centre(pocket, 20, 20, index(10, 10)), std::nullopt);
    EXPECT_EQ(from_centre(pocket, 9, 10, index(20, 20)), std::nullopt); // inside a wall

    // Positions off the grid.
    EXPECT_EQ(navigation_yaw(grid, middle(5), 32 * cell + 100, index(5, 5)), std::nullopt);
    EXPECT_EQ(navigation_yaw(grid, -70000, middle(0), index(5, 5)), std::nullopt);
}

TEST(NavigationYawTest, DivisorIsNotQuiteTwoPi) {
    // Dividing by 6.28318530718 (a hair above 2*pi) and truncating turns due south into
    // 16383 and due west into 32767; east wraps from 65536 to 0.
    const Grid grid = walled();
    EXPECT_EQ(from_centre(grid, 5, 5, index(10, 5)), 0);
    EXPECT_EQ(from_centre(grid, 5, 5, index(5, 10)), 16383);
    EXPECT_EQ(from_centre(grid, 5, 5, index(1, 5)), 32767);
    EXPECT_EQ(from_centre(grid, 5, 5, index(5, 1)), 49152);
}

TEST(NavigationYawTest, AimsAtCentreOfNextCell) {
    const Grid grid = walled();
    // From (5.25, 5.75) toward (6.5, 5.5): atan2(-0.25, 1.25).
    EXPECT_EQ(navigation_yaw(grid, 5 * cell + cell / 4, 5 * cell + 3 * cell / 4, index(10, 5)),
              63477);
    // Just south of the centre line, the heading wraps below 65536; just north it is small.
    EXPECT_EQ(navigation_yaw(grid, middle(5), middle(5) + cell / 16, index(10, 5)), 64884);
    EXPECT_EQ(navigation_yaw(grid, middle(5), middle(5) - cell / 16, index(10, 5)), 651);
}

TEST(NavigationYawTest, InsideTargetCellPointsAtItsCentre) {
    const Grid grid = walled();
    EXPECT_EQ(navigation_yaw(grid, 5 * cell + cell / 4, 5 * cell + cell / 4, index(5, 5)), 8191);
    EXPECT_EQ(from_centre(grid, 5, 5, index(5, 5)), 0);
    // Truncating division: x = -100 is column 0, so this player stands in the target cell.
    const Grid open{};
    EXPECT_EQ(navigation_yaw(open, -100, middle(5), index(0, 5)), 0);
}

TEST(NavigationYawTest, EqualRoutesPreferEastWestSouthNorth) {
    const Grid grid = walled();
    EXPECT_EQ(from_centre(grid, 5, 5, index(6, 6)), 0);     // east before south
    EXPECT_EQ(from_centre(grid, 5, 5, index(6, 4)), 0);     // east before north
    EXPECT_EQ(from_centre(grid, 5, 5, index(4, 6)), 32767); // west before south
    EXPECT_EQ(from_centre(grid, 5, 5, index(4, 4)), 32767); // west before north
    // East blocked, routes around either side equally long: south before north.
    EXPECT_EQ(from_centre(walled({{6, 5}}), 5, 5, index(7, 5)), 16383);
}

TEST(NavigationYawTest, FollowsShortestPathAroundWalls) {
    // A wall column at x = 8 with its only gap at row 1: the way east leads north first.
    Grid grid = walled();
    for (int y = 2; y <= 30; ++y) grid[index(8, y)] = 1;
    EXPECT_EQ(from_centre(grid, 7, 5, index(9, 5)), 49152);

    // A pocket open only to the west: the path starts away from the target.
    const Grid pocket = walled({{8, 4}, {8, 5}, {8, 6}, {7, 4}, {7, 6}});
    EXPECT_EQ(from_centre(pocket, 7, 5, index(9, 5)), 32767);
}

} // namespace
} // namespace kestrel
