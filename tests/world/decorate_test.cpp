#include "world/generate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace kestrel {
namespace {

const Tile secret_door{1, 2, 3, 0x0B, 0, 8, 130};
const Tile secret_floor{1, 2, 3, 0x08, 0, 8, 160};

int at(int x, int y) {
    return y * 32 + x;
}

// All plain wall, with the given floor cells.
Sector solid_with(const std::vector<std::pair<int, int>>& floor) {
    Sector sector;
    sector.cells.fill(1);
    for (auto [x, y] : floor) sector.cells[at(x, y)] = 0;
    return sector;
}

void carve(Sector& sector, int x0, int y0, int x1, int y1) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) sector.cells[at(x, y)] = 0;
}

// Solid outer ring, open floor inside.
Sector open_room() {
    Sector sector;
    sector.cells.fill(1);
    carve(sector, 1, 1, 30, 30);
    return sector;
}

Sector with_secret_tiles(Sector sector) {
    sector.tiles.push_back(secret_door);
    sector.tiles.push_back(secret_floor);
    return sector;
}

std::vector<int> changed_cells(const Sector& before, const Sector& after) {
    std::vector<int> cells;
    for (int i = 0; i < 1024; ++i)
        if (before.cells[i] != after.cells[i]) cells.push_back(i);
    return cells;
}

// Cell index of the secret door, or -1.
int door_of(const Sector& sector) {
    for (int i = 0; i < 1024; ++i)
        if (sector.cells[i] == 2) return i;
    return -1;
}

Sector secret_decorated(Sector sector) {
    decorate_secret(sector);
    return sector;
}

Sector room_decorated(Sector sector) {
    decorate_rooms(sector);
    return sector;
}

int manhattan(int a, int b) {
    return std::abs(a % 32 - b % 32) + std::abs(a / 32 - b / 32);
}

TEST(DecorateSecret, PlacesDoorAndRoomBehindTheFirstFloorCell) {
    const Sector before = solid_with({{10, 10}});
    const Sector after = secret_decorated(before);
    EXPECT_EQ(after.tiles,
              (std::vector<Tile>{before.tiles[0], before.tiles[1], secret_door, secret_floor}));
    // East of (10, 10): door, then a 2x2 room offset to the south.
    EXPECT_EQ(changed_cells(before, after),
              (std::vector<int>{at(11, 10), at(12, 10), at(13, 10), at(12, 11), at(13, 11)}));
    EXPECT_EQ(after.cells[at(11, 10)], 2);
    for (int cell : {at(12, 10), at(13, 10), at(12, 11), at(13, 11)})
        EXPECT_EQ(after.cells[cell], 3);
}

TEST(DecorateSecret, TriesEastWestSouthNorth) {
    // West, with its room offset to the north, once the east door cell is floor.
    EXPECT_EQ(changed_cells(solid_with({{10, 10}, {11, 10}}),
                            secret_decorated(solid_with({{10, 10}, {11, 10}}))),
              (std::vector<int>{at(7, 9), at(8, 9), at(7, 10), at(8, 10), at(9, 10)}));
    EXPECT_EQ(door_of(secret_decorated(solid_with({{10, 10}, {11, 10}}))), at(9, 10));

    // At column 4 the west room would reach column 1, outside 2..29: south, offset west.
    const Sector south = secret_decorated(solid_with({{4, 10}, {5, 10}}));
    EXPECT_EQ(door_of(south), at(4, 11));
    for (int cell : {at(4, 12), at(4, 13), at(3, 12), at(3, 13)}) EXPECT_EQ(south.cells[cell], 3);

    // North, offset east, when the south door cell is floor too.
    const Sector north = secret_decorated(solid_with({{4, 10}, {5, 10}, {4, 11}}));
    EXPECT_EQ(door_of(north), at(4, 9));
    for (int cell : {at(4, 8), at(4, 7), at(5, 8), at(5, 7)}) EXPECT_EQ(north.cells[cell], 3);
}

TEST(DecorateSecret, ScansOnlyRowsAndColumns3To26) {
    const Sector before = solid_with({{2, 10}, {27, 10}, {10, 2}, {10, 27}});
    const Sector after = secret_decorated(before);
    EXPECT_EQ(after.tiles.size(), 4u);
    EXPECT_EQ(after.cells, before.cells);
    // Row 26 and column 26 are still scanned.
    EXPECT_EQ(door_of(secret_decorated(solid_with({{26, 26}}))), at(27, 26));
}

TEST(DecorateSecret, ShapeMustStayInside2To29) {
    // At (4, 4) the east and south doors are floor, and the west and north shapes would
    // reach row or column 1: refused, so the door goes east of the next floor cell.
    EXPECT_EQ(door_of(secret_decorated(solid_with({{4, 4}, {5, 4}, {4, 5}}))), at(6, 4));
}

TEST(DecorateSecret, KeepsAwayFromPortals) {
    // The east shape of (10, 10) comes within 3 of (10, 12): still accepted.
    Sector near = solid_with({{10, 10}});
    near.portals.push_back(Portal{1, static_cast<std::uint16_t>(at(10, 12)), 2, 0, 1, 0});
    EXPECT_EQ(door_of(secret_decorated(near)), at(11, 10));
    // Within 2 of (11, 12): refused, and the west shape is taken instead.
    Sector nearer = solid_with({{10, 10}});
    nearer.portals.push_back(Portal{1, static_cast<std::uint16_t>(at(11, 12)), 2, 0, 1, 0});
    EXPECT_EQ(door_of(secret_decorated(nearer)), at(9, 10));
    // Every portal counts, not just the first.
    nearer.portals.insert(nearer.portals.begin(),
                          Portal{0, static_cast<std::uint16_t>(at(30, 30)), 2, 0, 1, 0});
    EXPECT_EQ(door_of(secret_decorated(nearer)), at(9, 10));
}

TEST(DecorateSecret, NoFittingShapeStillAddsTheTiles) {
    const Sector before = open_room(); // no wall block inside the 2..29 square
    const Sector after = secret_decorated(before);
    EXPECT_EQ(after.tiles.size(), 4u);
    EXPECT_EQ(after.tiles[2], secret_door);
    EXPECT_EQ(after.tiles[3], secret_floor);
    EXPECT_EQ(after.cells, before.cells);

    // So the room pass still runs on it.
    const Sector pillared = room_decorated(after);
    EXPECT_EQ(pillared.tiles.size(), 8u);
    EXPECT_EQ(pillared.cells[at(8, 8)], 4);
}

TEST(DecorateSecret, RunsOnlyOnPalettesBelowFour) {
    const Sector base = solid_with({{10, 10}});
    Sector four = with_secret_tiles(base);
    EXPECT_EQ(secret_decorated(four), four);
    Sector five = four;
    five.tiles.push_back(Tile{});
    EXPECT_EQ(secret_decorated(five), five);
    Sector three = base;
    three.tiles.push_back(Tile{});
    EXPECT_EQ(secret_decorated(three).tiles.size(), 5u);
}

TEST(DecorateRooms, RunsOnlyOnAFourTilePalette) {
    const Sector room = open_room();
    for (std::size_t size : {2u, 3u, 5u}) {
        Sector sector = room;
        sector.tiles.resize(size);
        EXPECT_EQ(room_decorated(sector), sector) << size;
    }
    EXPECT_NE(room_decorated(with_secret_tiles(room)), with_secret_tiles(room));
}

TEST(DecorateRooms, PillarInTheFirstFullyOpenCell) {
    const Sector before = with_secret_tiles(open_room());
    const Sector after = room_decorated(before);
    const std::vector<Tile> added = {{1, 2, 3, 0x03, 0, 8, 210},
                                     {1, 2, 3, 0x00, 0, 8, 210},
                                     {1, 2, 3, 0x00, 0, 8, 55},
                                     {1, 2, 3, 0x00, 0, 8, 235}};
    EXPECT_EQ(std::vector<Tile>(after.tiles.begin() + 4, after.tiles.end()), added);
    // Candidates start at row 8, column 8; the 5x5 block around the pillar is lit.
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const bool ring = x >= 6 && x <= 10 && y >= 6 && y <= 10;
            const int expected = (x == 8 && y == 8) ? 4 : ring ? 7 : before.cells[at(x, y)];
            EXPECT_EQ(after.cells[at(x, y)], expected) << x << "," << y;
        }
    }
    EXPECT_NO_THROW(after.validate());
}

TEST(DecorateRooms, HighestScoreThenLowestIndexWins) {
    Sector sector = open_room();
    sector.cells.fill(1);
    carve(sector, 1, 1, 3, 3); // start room around the spawn
    carve(sector, 1, 2, 20, 2);
    carve(sector, 20, 2, 20, 8);
    carve(sector, 19, 9, 21, 11); // A: full 3x3 around (20, 10), index 340
    carve(sector, 9, 2, 9, 7);
    carve(sector, 8, 8, 10, 10); // C: 3x3 around (9, 9) missing a corner, scores 8
    sector.cells[at(8, 10)] = 1;
    carve(sector, 10, 11, 10, 18);
    carve(sector, 9, 19, 11, 21); // B: full 3x3 around (10, 20), index 650
    sector = with_secret_tiles(sector);
    ASSERT_NO_THROW(sector.validate());

    const Sector after = room_decorated(sector);
    EXPECT_EQ(after.cells[at(20, 10)], 4);
    EXPECT_EQ(after.cells[at(9, 9)], 0);
    EXPECT_EQ(after.cells[at(10, 20)], 0);
    // Only the floor of the 5x5 block changes: room A and the corridor end at (20, 8).
    std::vector<int> expected;
    for (int y = 8; y <= 11; ++y)
        for (int x = 19; x <= 21; ++x)
            if (y >= 9 || x == 20) expected.push_back(at(x, y));
    EXPECT_EQ(changed_cells(sector, after), expected);
}

TEST(DecorateRooms, PillarThatSplitsTheMapIsLeftOut) {
    // A one-wide corridor down column 15 into a hall on rows 28..30. The best candidate is
    // the corridor's last cell (15, 27), whose pillar would cut the hall off.
    Sector sector = open_room();
    sector.cells.fill(1);
    carve(sector, 1, 1, 5, 5);
    carve(sector, 5, 3, 15, 3);
    carve(sector, 15, 3, 15, 27);
    carve(sector, 1, 28, 30, 30);
    sector = with_secret_tiles(sector);
    ASSERT_NO_THROW(sector.validate());

    Sector after;
    ASSERT_NO_THROW(after = room_decorated(sector));
    EXPECT_EQ(after.tiles.size(), 8u);
    std::vector<int> expected;
    for (int y = 25; y <= 29; ++y)
        for (int x = 13; x <= 17; ++x)
            if (sector.cells[at(x, y)] == 0) expected.push_back(at(x, y));
    ASSERT_EQ(expected.size(), 13u);
    EXPECT_EQ(changed_cells(sector, after), expected);
    for (int cell : expected) EXPECT_EQ(after.cells[cell], 7);
    EXPECT_NO_THROW(after.validate());
}

TEST(DecorateRooms, SwallowsValidationErrors) {
    // Not valid to begin with (open border): the pillar is undone, nothing is thrown.
    Sector sector = with_secret_tiles(open_room());
    sector.cells[at(0, 5)] = 0;
    Sector after;
    ASSERT_NO_THROW(after = room_decorated(sector));
    EXPECT_EQ(after.cells[at(8, 8)], 7);
    EXPECT_EQ(after.tiles.size(), 8u);
}

TEST(DecorateRooms, KeepsAwayFromPortals) {
    Sector sector = with_secret_tiles(open_room());
    sector.portals.push_back(Portal{1, static_cast<std::uint16_t>(at(8, 11)), 2, 0, 1, 0});
    EXPECT_EQ(room_decorated(sector).cells[at(9, 8)], 4); // (8, 8) is only 3 away
    sector.portals[0].cell = static_cast<std::uint16_t>(at(8, 12));
    EXPECT_EQ(room_decorated(sector).cells[at(8, 8)], 4); // 4 away is allowed
}

TEST(DecorateRooms, NoCandidateOnlyAddsTiles) {
    Sector sector = with_secret_tiles(solid_with({{2, 2}, {28, 28}}));
    const Sector after = room_decorated(sector);
    EXPECT_EQ(after.tiles.size(), 8u);
    EXPECT_EQ(after.cells, sector.cells);
}

// Style 1 open room; hazards never depend on anything but seed, spawn, portals and tiles.
Sector hazard_room(std::uint64_t seed) {
    Sector sector = open_room();
    sector.seed = seed;
    return sector;
}

bool hash_hits(std::uint64_t seed, int cell) {
    return mix64(seed ^ static_cast<std::uint64_t>(cell)) % 17 == 0;
}

TEST(HazardCell, FollowsTheHashAwayFromSpawnAndPortals) {
    const Sector sector = hazard_room(4);
    int hazards = 0;
    for (int cell = 0; cell < 1024; ++cell) {
        const int x = cell % 32, y = cell / 32;
        if (x == 0 || y == 0 || x == 31 || y == 31 || manhattan(cell, at(2, 2)) < 5) continue;
        EXPECT_EQ(hazard_cell(sector, cell), hash_hits(4, cell)) << cell;
        hazards += hazard_cell(sector, cell);
    }
    // About one cell in seventeen.
    EXPECT_GT(hazards, 30);
    EXPECT_LT(hazards, 90);
}

TEST(HazardCell, DemoSectorHazards) {
    const Sector demo = generate(1, 0x6B1F39A42ull, {Portal{1, 70, 2, 0, 1, 42}});
    int hazards = 0;
    for (int cell = 0; cell < 1024; ++cell) hazards += hazard_cell(demo, cell);
    EXPECT_EQ(hazards, 31);
    for (int cell : {at(9, 2), at(12, 3), at(4, 5), at(15, 8)}) {
        EXPECT_TRUE(hazard_cell(demo, cell)) << cell;
        EXPECT_TRUE(hash_hits(demo.seed, cell)) << cell;
    }
}

TEST(HazardCell, StyleZeroHasNone) {
    for (std::uint64_t seed : {0ull, 3ull, 0x6B1F39A42ull * 3}) {
        Sector sector = generate(1, seed, {});
        for (int cell = 0; cell < 1024; ++cell) EXPECT_FALSE(hazard_cell(sector, cell));
        sector.seed = seed + 1; // the same cells in style 1 do have hazards
        int hazards = 0;
        for (int cell = 0; cell < 1024; ++cell) hazards += hazard_cell(sector, cell);
        EXPECT_GT(hazards, 0) << seed;
    }
}

TEST(HazardCell, SpawnSurroundingsAreSafe) {
    for (std::uint64_t seed = 1; seed < 40; seed += 3) {
        Sector sector = hazard_room(seed);
        sector.spawn_x = 16 * 256 + 200; // cell (16, 16)
        sector.spawn_y = 16 * 256 + 10;
        for (int cell = 0; cell < 1024; ++cell) {
            const int d = manhattan(cell, at(16, 16));
            if (d <= 4) {
                EXPECT_FALSE(hazard_cell(sector, cell)) << seed << " " << cell;
            }
            if (d == 5) {
                EXPECT_EQ(hazard_cell(sector, cell), hash_hits(seed, cell));
            }
        }
    }
    // The rule is not vacuous: some cell near that spawn would otherwise be a hazard.
    bool would_hit = false;
    for (int cell = 0; cell < 1024; ++cell)
        for (std::uint64_t seed = 1; seed < 40; seed += 3)
            would_hit |= manhattan(cell, at(16, 16)) <= 4 && hash_hits(seed, cell);
    EXPECT_TRUE(would_hit);
}

TEST(HazardCell, PortalSurroundingsAreSafe) {
    for (std::uint64_t seed = 1; seed < 40; seed += 3) {
        Sector sector = hazard_room(seed);
        sector.portals = {Portal{1, static_cast<std::uint16_t>(at(25, 5)), 2, 0, 1, 0},
                          Portal{2, static_cast<std::uint16_t>(at(20, 22)), 2, 0, 1, 0}};
        for (int cell = 0; cell < 1024; ++cell) {
            const int d = std::min(manhattan(cell, at(25, 5)), manhattan(cell, at(20, 22)));
            const int x = cell % 32, y = cell / 32;
            if (x == 0 || y == 0 || x == 31 || y == 31) continue;
            if (d <= 2) {
                EXPECT_FALSE(hazard_cell(sector, cell)) << seed << " " << cell;
            }
            if (d == 3) {
                EXPECT_EQ(hazard_cell(sector, cell), hash_hits(seed, cell));
            }
        }
    }
    bool would_hit = false;
    for (int cell = 0; cell < 1024; ++cell)
        for (std::uint64_t seed = 1; seed < 40; seed += 3)
            would_hit |= manhattan(cell, at(20, 22)) <= 2 && hash_hits(seed, cell);
    EXPECT_TRUE(would_hit);
}

TEST(HazardCell, OnlyPlainWalkableCells) {
    const std::uint64_t seed = 4;
    // An interior cell far from the spawn that the hash picks.
    int cell = -1;
    for (int c = at(10, 10); c < 1024 && cell < 0; ++c)
        if (c % 32 > 0 && c % 32 < 31 && c / 32 < 31 && hash_hits(seed, c)) cell = c;
    ASSERT_GE(cell, 0);

    Sector sector = hazard_room(seed);
    EXPECT_TRUE(hazard_cell(sector, cell));
    const auto with_flags = [&](std::uint8_t flags) {
        Sector changed = sector;
        changed.tiles.push_back(Tile{1, 2, 3, flags, 0, 8, 100});
        changed.cells[cell] = 2;
        return hazard_cell(changed, cell);
    };
    EXPECT_FALSE(with_flags(0x01)); // blocks_walk
    EXPECT_FALSE(with_flags(0x03));
    EXPECT_FALSE(with_flags(0x08)); // secret floor
    EXPECT_FALSE(with_flags(0x0B)); // secret door
    EXPECT_TRUE(with_flags(0x02));  // blocks_secondary alone does not count
    EXPECT_TRUE(with_flags(0x04));

    // The border walls, some of which the hash picks.
    int picked_walls = 0;
    for (int c = 0; c < 1024; ++c) {
        if (sector.cells[c] != 1) continue;
        EXPECT_FALSE(hazard_cell(sector, c)) << c;
        picked_walls += manhattan(c, at(2, 2)) >= 5 && hash_hits(seed, c);
    }
    EXPECT_GT(picked_walls, 0);
}

TEST(HazardCell, CellsPastTheGridAreNot) {
    const Sector sector = hazard_room(4);
    for (std::uint64_t cell : {1024ull, 1025ull, 1ull << 40, ~0ull})
        EXPECT_FALSE(hazard_cell(sector, cell)) << cell;
}

} // namespace
} // namespace kestrel
