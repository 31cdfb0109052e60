// Procedural sectors against a reference model of the carving, the decoration passes and
// the hazard rule.
#include "world/generate.h"

#include "tests/support/errors.h"
#include "tests/world/rooms.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrel {
namespace {

constexpr std::uint64_t G = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t demo_seed = 0x6B1F39A42ull;

using Mask = std::array<bool, 1024>;
using namespace test;

Sector demo() {
    return generate(1, demo_seed, {Portal{1, 70, 2, 0, 1, 42}});
}

// Carved cells hold plain floor or what the room pass turned floor into (4 and 7); the
// secret pass only ever replaces plain wall. So this mask does not depend on decoration.
Mask carved(const Sector& sector) {
    Mask mask{};
    for (int i = 0; i < 1024; ++i) mask[i] = sector.cells[i] == 0 || sector.cells[i] >= 4;
    return mask;
}

// Paints the inclusive rectangle spanned by two corners, clipped to the carvable 1..30.
void paint(Mask& mask, int x0, int y0, int x1, int y1) {
    for (int y = std::max(std::min(y0, y1), 1); y <= std::min(std::max(y0, y1), 30); ++y)
        for (int x = std::max(std::min(x0, x1), 1); x <= std::min(std::max(x0, x1), 30); ++x)
            mask[at(x, y)] = true;
}

struct Room {
    int x, y, w, h;
};

// Room j from draws 4j+1..4j+4, draw i being mix64(seed + i * G) unless `shift` moves it.
std::vector<Room> rooms(std::uint64_t seed, int shift = 0) {
    const int style = static_cast<int>(seed % 3);
    std::vector<Room> result;
    for (int j = 0; j < (style == 0 ? 18 : style == 1 ? 24 : 12); ++j) {
        std::uint64_t r[5];
        for (int i = 1; i <= 4; ++i) r[i] = mix64(seed + (4 * j + i - shift) * G);
        Room room{int(r[1] % 27 + 2), int(r[2] % 27 + 2), 7, 2};
        if (style == 0) room = {room.x, room.y, int(r[3] % 4 + 2), int(r[4] % 4 + 2)};
        if (style == 1) room = {6 * (room.x / 6) + 2, 6 * (room.y / 6) + 2, 4, 4};
        result.push_back(room);
    }
    return result;
}

// The carving written as shapes: each room's corridor is the row segment from the cursor
// to the room's column plus the column segment down to the room's corner; each portal gets
// a leg along row 3 and one along its column.
Mask reference(const std::vector<Room>& chain, const std::vector<Portal>& portals = {}) {
    Mask mask{};
    paint(mask, 1, 1, 7, 7);
    int cx = 3, cy = 3;
    for (const Room& room : chain) {
        paint(mask, cx, cy, room.x, cy);
        paint(mask, room.x, cy, room.x, room.y);
        paint(mask, room.x, room.y, room.x + room.w - 1, room.y + room.h - 1);
        cx = room.x;
        cy = room.y;
    }
    for (const Portal& portal : portals) {
        const int px = portal.cell % 32, py = portal.cell / 32;
        if (px > 3) paint(mask, 3, 3, px - 1, 3);
        if (px < 3) paint(mask, px + 1, 3, 3, 3);
        if (py != 3 && px >= 1 && px <= 30) paint(mask, px, 3, px, py > 3 ? py - 1 : py + 1);
        paint(mask, px, py, px, py);
    }
    return mask;
}

TEST(Generate, DemoSectorIsStable) {
    // Client and server both build this sector; its bytes must never drift.
    const Sector sector = demo();
    const Bytes blob = sector.encode();
    EXPECT_EQ(blob, demo().encode());
    ASSERT_EQ(blob.size(), 64u + 64 + 1024 + 24);
    EXPECT_EQ(crc32(blob), 0x4191383Cu);
    EXPECT_EQ(std::tuple(sector.id, sector.seed, sector.spawn_x, sector.spawn_y, sector.schema,
                         sector.revision),
              std::tuple(1u, demo_seed, 640, 640, 1u, 1u));
    EXPECT_EQ(sector.portals, (std::vector<Portal>{Portal{1, 70, 2, 0, 1, 42}}));
    // Style 1: 24 rooms of 4x4 on a 6-cell raster.
    const std::vector<Room> chain = rooms(demo_seed);
    ASSERT_EQ(chain.size(), 24u);
    for (const Room& room : chain)
        for (int v : {room.x, room.y}) EXPECT_TRUE(v % 6 == 2 && v <= 26) << v;
    EXPECT_EQ(carved(sector), reference(chain, sector.portals));
    // The first draw is mix64(seed + G), not mix64(seed).
    EXPECT_NE(carved(sector), reference(rooms(demo_seed, 1), sector.portals));
    const std::vector<Tile> palette = {{1, 2, 3, 0x00, 0, 8, 192}, {1, 2, 3, 0x03, 0, 8, 160},
                                       {1, 2, 3, 0x0B, 0, 8, 130}, {1, 2, 3, 0x08, 0, 8, 160},
                                       {1, 2, 3, 0x03, 0, 8, 210}, {1, 2, 3, 0x00, 0, 8, 210},
                                       {1, 2, 3, 0x00, 0, 8, 55},  {1, 2, 3, 0x00, 0, 8, 235}};
    EXPECT_EQ(sector.tiles, palette);
    for (std::uint64_t seed = 0; seed < 12; ++seed)
        EXPECT_EQ(generate(1, seed, {}).tiles, palette) << seed;
    EXPECT_NE(generate(1, 3, {}).encode(), generate(1, 6, {}).encode());
}

TEST(Generate, CarvingMatchesTheRoomChainForEveryStyle) {
    const std::vector<std::vector<Portal>> portal_sets = {
        {},
        {portal_at(1, 28, 28)},
        {portal_at(0, 1, 20), portal_at(1, 30, 1), portal_at(2, 15, 30), portal_at(3, 2, 2)},
        {portal_at(1, 29, 3)}, // on row 3: only the horizontal leg
        {portal_at(1, 3, 28)}, // on column 3: only the vertical leg
    };
    for (std::uint64_t seed :
         {0ull, 1ull, 2ull, 3ull, 4ull, 5ull, 1000ull, 0x123456789ull, 0xFFFFFFFFFFFFFFFFull}) {
        for (const auto& portals : portal_sets) {
            const Sector sector = generate(5, seed, portals);
            EXPECT_EQ(carved(sector), reference(rooms(seed), portals))
                << seed << " with " << portals.size() << " portals";
            EXPECT_EQ(sector.encode(), generate(5, seed, portals).encode());
            EXPECT_EQ(Sector::decode(sector.encode()), sector);
        }
        // Decorated even without portals: one secret door and room, one pillar.
        const Sector sector = generate(1, seed, {});
        for (auto [tile, count] : {std::pair{2, 1}, {3, 4}, {4, 1}})
            EXPECT_EQ(std::count(sector.cells.begin(), sector.cells.end(), tile), count) << seed;
    }
    // Rooms reaching past column or row 30 are clipped there: a style 2 room (7 x 2) at
    // column 25 or more, a style 0 room of height 5 at row 27 or more.
    bool found[2] = {false, false};
    for (std::uint64_t seed = 0; seed < 3000 && !(found[0] && found[1]); ++seed) {
        const auto chain = rooms(seed);
        const int kind = seed % 3 == 2 ? 0 : seed % 3 == 0 ? 1 : -1;
        if (kind < 0 || found[kind] || std::none_of(chain.begin(), chain.end(), [&](Room r) {
                return kind == 0 ? r.x >= 25 : r.h == 5 && r.y >= 27;
            }))
            continue;
        EXPECT_EQ(carved(generate(1, seed, {})), reference(chain)) << seed;
        found[kind] = true;
    }
    EXPECT_TRUE(found[0] && found[1]);
}

TEST(Generate, PortalsThatCannotBeConnectedFailValidation) {
    const auto error_with = [](std::vector<Portal> portals) {
        return test::error_of([&] { kestrel::generate(1, 4, std::move(portals)); });
    };
    Portal no_target = portal_at(1, 10, 10);
    no_target.target = 0;
    // On the west, east and south rings, on the ring on row 3, repeated ids and cells.
    const std::vector<Portal> invalid[] = {{portal_at(1, 0, 10)},
                                           {portal_at(1, 31, 10)},
                                           {portal_at(1, 10, 31)},
                                           {portal_at(1, 0, 3)},
                                           {portal_at(1, 10, 10), portal_at(1, 12, 12)},
                                           {portal_at(1, 10, 10), portal_at(2, 10, 10)},
                                           {no_target}};
    for (const auto& portals : invalid) EXPECT_EQ(error_with(portals), "invalid portal");
    EXPECT_EQ(error_with({portal_at(1, 10, 10)}), "no error");
}

// All plain wall, with the given floor cells and portals.
Sector solid_with(std::vector<std::pair<int, int>> floor, std::vector<int> portals = {}) {
    Sector sector;
    sector.cells.fill(1);
    for (auto [x, y] : floor) sector.cells[at(x, y)] = 0;
    for (int cell : portals) sector.portals.push_back(Portal{1, std::uint16_t(cell), 2, 0, 1, 0});
    return sector;
}

Sector open_room(std::size_t palette) {
    Sector sector = test::open_room();
    sector.tiles.resize(palette, Tile{1, 2, 3, 0x08, 0, 8, 160}); // as if the secret pass ran
    return sector;
}

std::vector<int> changed_cells(const Sector& before, const Sector& after) {
    std::vector<int> cells;
    for (int i = 0; i < 1024; ++i)
        if (before.cells[i] != after.cells[i]) cells.push_back(i);
    return cells;
}

template <void (*pass)(Sector&)>
Sector decorated(Sector sector) {
    pass(sector);
    return sector;
}

TEST(DecorateSecret, DoorAndRoomBehindTheFirstFittingFloorCell) {
    struct Case {
        Sector before;
        int door;
        std::vector<int> room; // empty: nothing placed
    };
    // Door one step east, west, south or north, the room beyond it offset a quarter turn
    // clockwise; the whole shape inside 2..29, on wall and 3 or more from every portal;
    // floor cells scanned on rows and columns 3..26.
    const Case cases[] = {
        {solid_with({{10, 10}}), at(11, 10), {at(12, 10), at(13, 10), at(12, 11), at(13, 11)}},
        {solid_with({{10, 10}, {11, 10}}), at(9, 10), {at(7, 9), at(8, 9), at(7, 10), at(8, 10)}},
        {solid_with({{4, 10}, {5, 10}}), at(4, 11), {at(3, 12), at(4, 12), at(3, 13), at(4, 13)}},
        {solid_with({{4, 10}, {5, 10}, {4, 11}}),
         at(4, 9),
         {at(4, 7), at(5, 7), at(4, 8), at(5, 8)}},
        {solid_with({{26, 26}}), at(27, 26), {at(28, 26), at(29, 26), at(28, 27), at(29, 27)}},
        {solid_with({{4, 4}, {5, 4}, {4, 5}}), at(6, 4), {at(7, 4), at(8, 4), at(7, 5), at(8, 5)}},
        {solid_with({{2, 10}, {27, 10}, {10, 2}, {10, 27}}), -1, {}},
        {solid_with({{10, 10}}, {at(10, 12)}),
         at(11, 10),
         {at(12, 10), at(13, 10), at(12, 11), at(13, 11)}},
        {solid_with({{10, 10}}, {at(11, 12)}),
         at(9, 10),
         {at(7, 9), at(8, 9), at(7, 10), at(8, 10)}},
        {solid_with({{10, 10}}, {at(30, 30), at(11, 12)}),
         at(9, 10),
         {at(7, 9), at(8, 9), at(7, 10), at(8, 10)}},
        {open_room(2), -1, {}}, // no wall block inside the 2..29 square
    };
    for (const Case& c : cases) {
        const Sector after = decorated<decorate_secret>(c.before);
        EXPECT_EQ(after.tiles, (std::vector<Tile>{c.before.tiles[0],
                                                  c.before.tiles[1],
                                                  {1, 2, 3, 0x0B, 0, 8, 130},
                                                  {1, 2, 3, 0x08, 0, 8, 160}}));
        std::vector<int> expected = c.room;
        if (c.door >= 0) expected.push_back(c.door);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(changed_cells(c.before, after), expected) << c.door;
        for (int cell : c.room) EXPECT_EQ(after.cells[cell], 3);
        EXPECT_TRUE(c.door < 0 || after.cells[c.door] == 2);
    }
    // Only palettes below four get the pass.
    for (std::size_t size : {4u, 5u}) {
        Sector sector = solid_with({{10, 10}});
        sector.tiles.resize(size);
        EXPECT_EQ(decorated<decorate_secret>(sector), sector);
    }
    Sector three = solid_with({{10, 10}});
    three.tiles.resize(3);
    EXPECT_EQ(decorated<decorate_secret>(three).tiles.size(), 5u);
}

TEST(DecorateRooms, PillarInTheMostOpenCell) {
    for (std::size_t size : {2u, 3u, 5u})
        EXPECT_EQ(decorated<decorate_rooms>(open_room(size)), open_room(size)) << size;
    const Sector before = open_room(4);
    const Sector after = decorated<decorate_rooms>(before);
    EXPECT_EQ(std::vector<Tile>(after.tiles.begin() + 4, after.tiles.end()),
              (std::vector<Tile>{{1, 2, 3, 0x03, 0, 8, 210},
                                 {1, 2, 3, 0x00, 0, 8, 210},
                                 {1, 2, 3, 0x00, 0, 8, 55},
                                 {1, 2, 3, 0x00, 0, 8, 235}}));
    // Candidates start at row 8, column 8; the 5x5 block around the pillar is lit.
    for (int i = 0; i < 1024; ++i) {
        const int x = i % 32, y = i / 32;
        const bool ring = x >= 6 && x <= 10 && y >= 6 && y <= 10;
        EXPECT_EQ(after.cells[i], i == at(8, 8) ? 4 : ring ? 7 : before.cells[i]) << x << "," << y;
    }
    // Portals keep it 4 cells away: (8, 8) is 3 from (8, 11) and 4 from (8, 12).
    Sector near = open_room(4);
    near.portals.push_back(portal_at(1, 8, 11));
    EXPECT_EQ(decorated<decorate_rooms>(near).cells[at(9, 8)], 4);
    near.portals[0].cell = std::uint16_t(at(8, 12));
    EXPECT_EQ(decorated<decorate_rooms>(near).cells[at(8, 8)], 4);
    // No candidate: only the tiles are added.
    const Sector none = solid_with({{2, 2}, {28, 28}});
    Sector none4 = none;
    none4.tiles.resize(4);
    EXPECT_EQ(changed_cells(none4, decorated<decorate_rooms>(none4)), std::vector<int>{});
    EXPECT_EQ(decorated<decorate_rooms>(none4).tiles.size(), 8u);
}

TEST(DecorateRooms, HighestScoreLowestIndexAndNeverABrokenSector) {
    Sector sector = open_room(4);
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
    ASSERT_NO_THROW(sector.validate());
    // Only the floor of the 5x5 block changes: room A and the corridor end at (20, 8).
    std::vector<int> expected;
    for (int y = 8; y <= 11; ++y)
        for (int x = 19; x <= 21; ++x)
            if (y >= 9 || x == 20) expected.push_back(at(x, y));
    Sector after = decorated<decorate_rooms>(sector);
    EXPECT_EQ(changed_cells(sector, after), expected);
    EXPECT_EQ(after.cells[at(20, 10)], 4);

    // A one-wide corridor down column 15 into a hall on rows 28..30: the best candidate is
    // its last cell (15, 27), whose pillar would cut the hall off, so it stays lit floor.
    sector.cells.fill(1);
    carve(sector, 1, 1, 5, 5);
    carve(sector, 5, 3, 15, 3);
    carve(sector, 15, 3, 15, 27);
    carve(sector, 1, 28, 30, 30);
    ASSERT_NO_THROW(after = decorated<decorate_rooms>(sector));
    expected.clear();
    for (int y = 25; y <= 29; ++y)
        for (int x = 13; x <= 17; ++x)
            if (sector.cells[at(x, y)] == 0) expected.push_back(at(x, y));
    ASSERT_EQ(expected.size(), 13u);
    EXPECT_EQ(changed_cells(sector, after), expected);
    for (int cell : expected) EXPECT_EQ(after.cells[cell], 7);
    EXPECT_NO_THROW(after.validate());
    // Not valid to begin with (open border): the pillar is undone, nothing is thrown.
    Sector open = open_room(4);
    open.cells[at(0, 5)] = 0;
    ASSERT_NO_THROW(after = decorated<decorate_rooms>(open));
    EXPECT_EQ(after.cells[at(8, 8)], 7);
}

bool hash_hits(std::uint64_t seed, int cell) {
    return mix64(seed ^ static_cast<std::uint64_t>(cell)) % 17 == 0;
}

int distance(int a, int b) {
    return std::abs(a % 32 - b % 32) + std::abs(a / 32 - b / 32);
}

TEST(HazardCell, HashAwayFromSpawnAndPortalsOnPlainFloor) {
    // Style 1 rooms: only seed, spawn, portals and tiles matter. The spawn at cell (16, 16)
    // keeps distance 4 safe, the portals distance 2.
    int hazards = 0, near_spawn = 0, near_portal = 0, on_wall = 0;
    for (std::uint64_t seed = 1; seed < 40; seed += 3) {
        Sector sector = open_room(2);
        sector.seed = seed;
        sector.spawn_x = 16 * 256 + 200;
        sector.spawn_y = 16 * 256 + 10;
        sector.portals = {portal_at(1, 25, 5), portal_at(2, 20, 22)};
        for (int cell = 0; cell < 1024; ++cell) {
            const int x = cell % 32, y = cell / 32;
            const bool border = x == 0 || y == 0 || x == 31 || y == 31;
            const bool safe = distance(cell, at(16, 16)) <= 4 ||
                              std::min(distance(cell, at(25, 5)), distance(cell, at(20, 22))) <= 2;
            EXPECT_EQ(hazard_cell(sector, cell), !border && !safe && hash_hits(seed, cell)) << cell;
            hazards += hazard_cell(sector, cell);
            near_spawn += distance(cell, at(16, 16)) <= 4 && hash_hits(seed, cell);
            near_portal += distance(cell, at(20, 22)) <= 2 && hash_hits(seed, cell);
            on_wall += border && hash_hits(seed, cell);
        }
    }
    EXPECT_GT(near_spawn, 0); // the rules are not vacuous
    EXPECT_GT(near_portal, 0);
    EXPECT_GT(on_wall, 0);
    EXPECT_GT(hazards, 13 * 30); // about one cell in seventeen
    EXPECT_LT(hazards, 13 * 90);

    // A plain interior cell the hash picks for seed 4, with other tiles on it.
    Sector sector = open_room(2);
    sector.seed = 4;
    int cell = at(10, 10);
    while (!hash_hits(4, cell) || cell % 32 == 0 || cell % 32 == 31) ++cell;
    EXPECT_TRUE(hazard_cell(sector, cell));
    for (auto [flags, hazard] : {std::pair{0x01, false},
                                 {0x03, false},
                                 {0x08, false},
                                 {0x0B, false},
                                 {0x02, true},
                                 {0x04, true}}) {
        Sector changed = sector;
        changed.tiles.push_back(Tile{1, 2, 3, std::uint8_t(flags), 0, 8, 100});
        changed.cells[cell] = 2;
        EXPECT_EQ(hazard_cell(changed, cell), hazard) << flags;
    }
    for (std::uint64_t past : {1024ull, 1025ull, 1ull << 40, ~0ull})
        EXPECT_FALSE(hazard_cell(sector, past)) << past;
}

TEST(HazardCell, DemoSectorAndStyleZero) {
    const Sector sector = demo();
    int hazards = 0;
    for (int cell = 0; cell < 1024; ++cell) hazards += hazard_cell(sector, cell);
    EXPECT_EQ(hazards, 31);
    for (int cell : {at(9, 2), at(12, 3), at(4, 5), at(15, 8)})
        EXPECT_TRUE(hazard_cell(sector, cell));
    // Style 0 has none; the same cells in style 1 do.
    for (std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{3}, demo_seed * 3}) {
        Sector style0 = generate(1, seed, {});
        int counts[2] = {0, 0};
        for (int cell = 0; cell < 1024; ++cell) counts[0] += hazard_cell(style0, cell);
        style0.seed = seed + 1;
        for (int cell = 0; cell < 1024; ++cell) counts[1] += hazard_cell(style0, cell);
        EXPECT_EQ(counts[0], 0) << seed;
        EXPECT_GT(counts[1], 0) << seed;
    }
}

} // namespace
} // namespace kestrel
