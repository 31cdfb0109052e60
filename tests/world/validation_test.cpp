#include "world/sector.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kestrel {
namespace {

std::string error_of(const Sector& sector) {
    try {
        sector.validate();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "valid";
}

void set(Sector& sector, int x, int y, std::uint8_t tile) {
    sector.cells[y * 32 + x] = tile;
}

// Solid outer ring, open floor inside; spawn at the centre of cell (2, 2).
Sector open_room() {
    Sector sector;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            set(sector, x, y, (x == 0 || y == 0 || x == 31 || y == 31) ? 1 : 0);
    return sector;
}

// Open room split by a solid wall on column 16: the east half is sealed off.
Sector split_room() {
    Sector sector = open_room();
    for (int y = 0; y < 32; ++y) set(sector, 16, y, 1);
    for (int y = 1; y < 31; ++y)
        for (int x = 17; x < 31; ++x) set(sector, x, y, 1);
    return sector;
}

Portal portal_at(std::uint16_t id, int x, int y) {
    return Portal{id, static_cast<std::uint16_t>(y * 32 + x), 2, 0, 1, 0};
}

TEST(Validation, OpenRoomIsValid) {
    EXPECT_EQ(error_of(open_room()), "valid");
}

TEST(Validation, Metadata) {
    const auto broken = [](auto change) {
        Sector sector = open_room();
        change(sector);
        return error_of(sector);
    };
    EXPECT_EQ(broken([](Sector& s) { s.id = 0; }), "invalid sector metadata");
    EXPECT_EQ(broken([](Sector& s) { s.revision = 0; }), "invalid sector metadata");
    EXPECT_EQ(broken([](Sector& s) { s.schema = 2; }), "invalid sector metadata");
    EXPECT_EQ(broken([](Sector& s) { s.schema = 0; }), "invalid sector metadata");
    EXPECT_EQ(broken([](Sector& s) { s.tiles.clear(); }), "invalid sector metadata");
    EXPECT_EQ(broken([](Sector& s) { s.tiles.resize(257); }), "invalid sector metadata");
    EXPECT_EQ(broken([](Sector& s) { s.tiles.resize(256); }), "valid");
    EXPECT_EQ(broken([](Sector& s) {
                  for (int i = 0; i < 17; ++i) s.portals.push_back(portal_at(i, 5 + i, 5));
              }),
              "invalid sector metadata");
    EXPECT_EQ(broken([](Sector& s) {
                  for (int i = 0; i < 16; ++i) s.portals.push_back(portal_at(i, 5 + i, 5));
              }),
              "valid");
}

TEST(Validation, TileDefinitions) {
    const auto with_tile = [](Tile tile) {
        Sector sector = open_room();
        sector.tiles.push_back(tile); // unused by any cell: the palette alone is checked
        return error_of(sector);
    };
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 15, 0, 8, 0}), "valid");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 16, 0, 8, 0}), "invalid tile definition");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 0x81, 0, 8, 0}), "invalid tile definition");
    // Walkable tiles need a headroom of at least 7/8 cell, compared signed.
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 0, 0, 6, 0}), "invalid tile definition");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 0, 0, 7, 0}), "valid");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 0, -100, -94, 0}), "invalid tile definition");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 0, -100, -93, 0}), "valid");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 0, -128, 127, 0}), "valid");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 8, 20, 10, 0}), "invalid tile definition");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 2, 0, 0, 0}), "invalid tile definition"); // flag 2 alone
    // Solid tiles may have any heights.
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 1, 0, 0, 0}), "valid");
    EXPECT_EQ(with_tile(Tile{1, 2, 3, 3, 127, -128, 0}), "valid");
}

TEST(Validation, TileIndex) {
    Sector sector = open_room();
    set(sector, 31, 31, 2);
    EXPECT_EQ(error_of(sector), "invalid tile index");
    sector.tiles.push_back(Tile{1, 2, 3, 3, 0, 8, 0});
    EXPECT_EQ(error_of(sector), "valid");
}

TEST(Validation, SpawnRange) {
    Sector sector = open_room();
    sector.spawn_height = 1;
    EXPECT_EQ(error_of(sector), "invalid spawn");

    sector = open_room();
    sector.spawn_x = 56; // 56 * 256 is below the body radius
    EXPECT_EQ(error_of(sector), "invalid spawn");
    sector.spawn_x = 640;
    sector.spawn_y = 56;
    EXPECT_EQ(error_of(sector), "invalid spawn");
    sector.spawn_y = 8136; // past 32 cells minus the radius
    EXPECT_EQ(error_of(sector), "invalid spawn");
}

TEST(Validation, SpawnRangeIsCheckedBeforeAnyCell) {
    // An all-floor sector has no solid cell for the clearance test to hit, so only the
    // coordinate range can reject this spawn.
    Sector sector;
    sector.spawn_x = 56;
    EXPECT_EQ(error_of(sector), "invalid spawn");
    sector.spawn_x = 57;
    EXPECT_EQ(error_of(sector), "open sector boundary");
}

TEST(Validation, SpawnClearanceAgainstTheBorder) {
    // Column 0 is solid, cells around column 1 are free.
    Sector sector = open_room();
    sector.spawn_y = 10 * 256 + 128;
    sector.spawn_x = 313; // 14592 units east of column 1's west edge
    EXPECT_EQ(error_of(sector), "valid");
    sector.spawn_x = 312; // 14336 units, inside the body radius
    EXPECT_EQ(error_of(sector), "invalid spawn");

    sector.spawn_x = 10 * 256 + 128;
    sector.spawn_y = 313;
    EXPECT_EQ(error_of(sector), "valid");
    sector.spawn_y = 312;
    EXPECT_EQ(error_of(sector), "invalid spawn");

    // East border: column 31 starts at 2031616; 7879 * 256 leaves 14592 units, 7880 14336.
    sector.spawn_y = 10 * 256 + 128;
    sector.spawn_x = 7879;
    EXPECT_EQ(error_of(sector), "valid");
    sector.spawn_x = 7880;
    EXPECT_EQ(error_of(sector), "invalid spawn");
}

TEST(Validation, SpawnClearanceAtACornerIsEuclidean) {
    // A lone pillar at (5, 5); the spawn sits diagonally off its south-east corner, with
    // the edge neighbours (6, 5) and (5, 6) free.
    Sector sector = open_room();
    set(sector, 5, 5, 1);
    sector.spawn_y = 6 * 256 + 40; // 10240 units off each axis: 14482 from the corner
    sector.spawn_x = 6 * 256 + 40;
    EXPECT_EQ(error_of(sector), "valid");
    sector.spawn_x = 6 * 256 + 39; // 9984 and 10240: 14301 from the corner
    EXPECT_EQ(error_of(sector), "invalid spawn");
}

TEST(Validation, SpawnOnASolidCell) {
    Sector sector = open_room();
    set(sector, 2, 2, 1);
    EXPECT_EQ(error_of(sector), "invalid spawn");
}

TEST(Validation, BorderMustBeSolidAllRound) {
    const int sides[4][2] = {{7, 0}, {7, 31}, {0, 7}, {31, 7}};
    for (const auto& cell : sides) {
        Sector sector = open_room();
        set(sector, cell[0], cell[1], 0);
        EXPECT_EQ(error_of(sector), "open sector boundary") << cell[0] << "," << cell[1];
    }
    for (const auto& corner : {0, 31, 992, 1023}) {
        Sector sector = open_room();
        sector.cells[corner] = 0;
        EXPECT_EQ(error_of(sector), "open sector boundary") << corner;
    }
    // A secret walkable tile is still open: only blocks_walk closes the border.
    Sector secret = open_room();
    secret.tiles.push_back(Tile{1, 2, 3, 0x0A, 0, 8, 0});
    set(secret, 31, 20, 2);
    EXPECT_EQ(error_of(secret), "open sector boundary");
}

TEST(Validation, SealedIslandIsDisconnected) {
    Sector sector = split_room();
    EXPECT_EQ(error_of(sector), "valid");
    // A 2x2 island east of the wall.
    for (int y = 10; y < 12; ++y)
        for (int x = 20; x < 22; ++x) set(sector, x, y, 0);
    EXPECT_EQ(error_of(sector), "disconnected walkable cells");

    // Secret floor is exempt, but only if every cell of the island is secret.
    sector.tiles.push_back(Tile{1, 2, 3, 0x08, 0, 8, 160});
    for (int y = 10; y < 12; ++y)
        for (int x = 20; x < 22; ++x) set(sector, x, y, 2);
    EXPECT_EQ(error_of(sector), "valid");
    set(sector, 21, 11, 0);
    EXPECT_EQ(error_of(sector), "disconnected walkable cells");
}

TEST(Validation, ReachabilityStepsOnlyThroughEdges) {
    // Two cells touching only at a corner are not connected.
    Sector sector = split_room();
    set(sector, 16, 6, 0); // a notch in the wall, reached from (15, 6)
    set(sector, 17, 5, 0); // touches the notch only at a corner
    EXPECT_EQ(error_of(sector), "disconnected walkable cells");
    set(sector, 17, 6, 0);
    EXPECT_EQ(error_of(sector), "valid");
}

TEST(Validation, Portals) {
    const auto with = [](std::vector<Portal> portals) {
        Sector sector = split_room();
        sector.portals = std::move(portals);
        return error_of(sector);
    };
    EXPECT_EQ(with({portal_at(1, 5, 5), portal_at(0, 6, 5)}), "valid");
    Portal open_link = portal_at(1, 5, 5);
    open_link.link_flags = 3;
    EXPECT_EQ(with({open_link}), "valid");

    Portal no_target = portal_at(1, 5, 5);
    no_target.target = 0;
    EXPECT_EQ(with({no_target}), "invalid portal");
    Portal bad_flags = portal_at(1, 5, 5);
    bad_flags.link_flags = 4;
    EXPECT_EQ(with({bad_flags}), "invalid portal");
    Portal off_grid = portal_at(1, 5, 5);
    off_grid.cell = 1024;
    EXPECT_EQ(with({off_grid}), "invalid portal");
    EXPECT_EQ(with({portal_at(1, 16, 5)}), "invalid portal"); // on a wall
    EXPECT_EQ(with({portal_at(1, 0, 5)}), "invalid portal");  // on the border
    EXPECT_EQ(with({portal_at(1, 20, 5)}), "invalid portal"); // beyond the wall, solid
    EXPECT_EQ(with({portal_at(1, 5, 5), portal_at(1, 6, 5)}), "invalid portal");
    EXPECT_EQ(with({portal_at(1, 5, 5), portal_at(2, 5, 5)}), "invalid portal");
}

TEST(Validation, PortalOnAnUnreachedSecretCell) {
    // The secret island itself is allowed, a portal on it is not.
    Sector sector = split_room();
    sector.tiles.push_back(Tile{1, 2, 3, 0x08, 0, 8, 160});
    set(sector, 20, 10, 2);
    EXPECT_EQ(error_of(sector), "valid");
    sector.portals.push_back(portal_at(1, 20, 10));
    EXPECT_EQ(error_of(sector), "invalid portal");
}

TEST(Validation, ReportsTheEarliestBrokenRule) {
    // Each sector breaks the named rule and every rule after it.
    Sector sector = split_room();
    set(sector, 20, 10, 0);                        // disconnected
    sector.portals.push_back(portal_at(1, 16, 3)); // portal on a wall
    EXPECT_EQ(error_of(sector), "disconnected walkable cells");
    set(sector, 0, 9, 0); // open border
    EXPECT_EQ(error_of(sector), "open sector boundary");
    sector.spawn_x = 16 * 256 + 128; // spawn inside the wall
    EXPECT_EQ(error_of(sector), "invalid spawn");
    set(sector, 3, 3, 9); // tile index out of range
    EXPECT_EQ(error_of(sector), "invalid tile index");
    sector.tiles.push_back(Tile{1, 2, 3, 0, 4, 8, 0}); // headroom 4
    EXPECT_EQ(error_of(sector), "invalid tile definition");
    sector.revision = 0;
    EXPECT_EQ(error_of(sector), "invalid sector metadata");
}

TEST(Validation, NeverModifiesTheSector) {
    Sector sector = split_room();
    set(sector, 20, 10, 0);
    const Sector before = sector;
    EXPECT_EQ(error_of(sector), "disconnected walkable cells");
    EXPECT_EQ(sector, before);
}

TEST(Collision, BlockedFollowsTheSelectedFlag) {
    Sector sector = split_room();
    EXPECT_EQ(sector.collision(true), sector.collision(false)); // walls use flags 3

    const Grid walk = sector.collision(false);
    EXPECT_EQ(walk[0], 1);
    EXPECT_EQ(walk[2 * 32 + 2], 0);
    EXPECT_EQ(walk[5 * 32 + 16], 1);
    EXPECT_EQ(walk[5 * 32 + 20], 1);

    sector.tiles.push_back(Tile{1, 2, 3, 0x01, 0, 8, 0}); // blocks walking only
    sector.tiles.push_back(Tile{1, 2, 3, 0x02, 0, 8, 0}); // blocks the secondary test only
    set(sector, 4, 4, 2);
    set(sector, 5, 4, 3);
    const Grid primary = sector.collision(false);
    const Grid secondary = sector.collision(true);
    EXPECT_EQ(primary[4 * 32 + 4], 1);
    EXPECT_EQ(primary[4 * 32 + 5], 0);
    EXPECT_EQ(secondary[4 * 32 + 4], 0);
    EXPECT_EQ(secondary[4 * 32 + 5], 1);
}

TEST(Collision, TileOutsideThePaletteThrows) {
    Sector sector = open_room();
    set(sector, 3, 3, 7);
    EXPECT_THROW(sector.collision(false), std::out_of_range);
}

TEST(BodyClear, TouchingAtExactlyTheRadiusIsClear) {
    Grid blocked{};
    blocked[10 * 32 + 10] = 1;
    const std::int32_t west_edge = 10 * 65536;
    const std::int32_t y = 10 * 65536 + 32768;
    EXPECT_TRUE(body_clear(blocked, west_edge - 14418, y));
    EXPECT_FALSE(body_clear(blocked, west_edge - 14417, y));
    // Outside the grid counts as blocked.
    EXPECT_TRUE(body_clear(blocked, 14418, y));
    EXPECT_FALSE(body_clear(blocked, 14417, y));
}

} // namespace
} // namespace kestrel
