// Procedural sectors against a model of the carving, the decoration passes, the hazard rule.
#include "world/generate.h"

#include "tests/support/errors.h"
#include "tests/world/rooms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

namespace kestrel {
namespace {

using Mask = std::array<bool, 1024>;
using namespace test;

constexpr std::uint64_t demo_seed = 0x6B1F39A42ull;

// Carved cells hold floor or what the room pass made of it (4, 7); the secret pass only takes wall.
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

// Room j from draws 4j+1..4j+4 (mix64(seed + i * G)), reached along the cursor's row, then its
// column; each portal gets a leg along row 3 and one along its column.
Mask reference(std::uint64_t seed, const std::vector<Portal>& portals) {
    Mask mask{};
    paint(mask, 1, 1, 7, 7);
    const int style = static_cast<int>(seed % 3);
    int cx = 3, cy = 3;
    for (int j = 0; j < (style == 0 ? 18 : style == 1 ? 24 : 12); ++j) {
        std::uint64_t r[5];
        for (int i = 1; i <= 4; ++i) r[i] = mix64(seed + (4 * j + i) * 0x9E3779B97F4A7C15ull);
        int x = int(r[1] % 27 + 2), y = int(r[2] % 27 + 2), w = 7, h = 2;
        if (style == 0) w = int(r[3] % 4 + 2), h = int(r[4] % 4 + 2);
        if (style == 1) x = 6 * (x / 6) + 2, y = 6 * (y / 6) + 2, w = h = 4;
        paint(mask, cx, cy, x, cy);
        paint(mask, x, cy, x, y);
        paint(mask, x, y, x + w - 1, y + h - 1);
        cx = x, cy = y;
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

TEST(Generate, CarvingFollowsTheRoomChain) {
    // Client and server both build the demo sector; its bytes must never drift.
    EXPECT_EQ(crc32(generate(1, demo_seed, {Portal{1, 70, 2, 0, 1, 42}}).encode()), 0x4191383Cu);
    // The shared checksum and hash on their published check values (zlib CRC-32, SplitMix64).
    const std::string_view check = "123456789";
    EXPECT_EQ(crc32({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
              0xCBF43926u);
    EXPECT_EQ(mix64(0), 0xE220A8397B1DCDAFull); // the first output from state 0
    // A portal on row 3 gets only the horizontal leg, one on column 3 only the vertical.
    // clang-format off
    const std::vector<std::vector<Portal>> portal_sets = {
        {}, {portal_at(1, 28, 28)}, {portal_at(1, 29, 3)}, {portal_at(1, 3, 28)},
        {portal_at(0, 1, 20), portal_at(1, 30, 1), portal_at(2, 15, 30), portal_at(3, 2, 2)}};
    // clang-format on
    // Every style; seed 2 clips a room at column 30, seed 15 one at row 30.
    for (std::uint64_t seed :
         {0ull, 1ull, 2ull, 4ull, 5ull, 15ull, 1000ull, 0x123456789ull, ~0ull}) {
        for (const auto& portals : portal_sets)
            EXPECT_EQ(carved(generate(5, seed, portals)), reference(seed, portals))
                << seed << " with " << portals.size() << " portals";
    }
    // No corridor reaches a portal on the west, east or south ring, nor on row 3's.
    for (auto [x, y] : {std::pair{0, 10}, {31, 10}, {10, 31}, {0, 3}})
        EXPECT_EQ(error_of([&] { generate(1, 4, {portal_at(1, x, y)}); }), "invalid portal");
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

const auto with_secret = [](Sector s) { return decorate_secret(s), s; };
const auto with_rooms = [](Sector s) { return decorate_rooms(s), s; };

TEST(Decorate, SecretDoorAndRoomThenAPillarThatNeverBreaksTheSector) {
    // Door E, W, S or N of a floor cell in 3..26, the 2x2 room (x, y) beyond it a quarter turn
    // clockwise; all inside 2..29, on wall, 3+ from every portal. Door -1: nothing placed.
    using Case = std::tuple<Sector, int, int, int>; // before, door, x, y
    // clang-format off
    const Case cases[] = {
        {solid_with({{10, 10}}), at(11, 10), 12, 10}, {solid_with({{10, 10}, {11, 10}}), at(9, 10), 7, 9},
        {solid_with({{4, 10}, {5, 10}}), at(4, 11), 3, 12}, {solid_with({{4, 10}, {5, 10}, {4, 11}}), at(4, 9), 4, 7},
        {solid_with({{26, 26}}), at(27, 26), 28, 26}, {solid_with({{4, 4}, {5, 4}, {4, 5}}), at(6, 4), 7, 4},
        {solid_with({{2, 10}, {27, 10}, {10, 2}, {10, 27}}), -1, 0, 0},
        {solid_with({{10, 10}}, {at(10, 12)}), at(11, 10), 12, 10},
        {solid_with({{10, 10}}, {at(11, 12)}), at(9, 10), 7, 9},
        {solid_with({{10, 10}}, {at(30, 30), at(11, 12)}), at(9, 10), 7, 9},
        {open_room(2), -1, 0, 0}}; // no wall block inside the 2..29 square
    // clang-format on
    for (const auto& [before, door, x, y] : cases) {
        Sector expected = before;
        expected.tiles.insert(expected.tiles.end(),
                              {{1, 2, 3, 0x0B, 0, 8, 130}, {1, 2, 3, 0x08, 0, 8, 160}});
        if (door >= 0) carve(expected, x, y, x + 1, y + 1, 3), expected.cells[door] = 2;
        EXPECT_EQ(with_secret(before), expected) << door;
    }
    for (std::size_t size : {3u, 4u, 5u}) // only palettes below four get the pass
        EXPECT_EQ(with_secret(open_room(size)).tiles.size(), size == 3 ? 5 : size);
    for (std::size_t size : {2u, 3u, 5u}) // only right after the secret pass
        EXPECT_EQ(with_rooms(open_room(size)), open_room(size)) << size;
    // Candidates start at row 8, column 8; the floor of the 5x5 block around it is lit.
    Sector expected = open_room(4);
    // clang-format off
    expected.tiles.insert(expected.tiles.end(), {{1, 2, 3, 0x03, 0, 8, 210}, {1, 2, 3, 0x00, 0, 8, 210},
                                                 {1, 2, 3, 0x00, 0, 8, 55}, {1, 2, 3, 0x00, 0, 8, 235}});
    // clang-format on
    carve(expected, 6, 6, 10, 10, 7);
    expected.cells[at(8, 8)] = 4;
    EXPECT_EQ(with_rooms(open_room(4)), expected);
    // Portals keep it 4 cells away: (8, 8) is 3 from (8, 11) and 4 from (8, 12).
    Sector near = open_room(4);
    near.portals.push_back(portal_at(1, 8, 11));
    EXPECT_EQ(with_rooms(near).cells[at(9, 8)], 4);
    near.portals[0].cell = std::uint16_t(at(8, 12));
    EXPECT_EQ(with_rooms(near).cells[at(8, 8)], 4);
    // No candidate: only the tiles are added.
    Sector none = solid_with({{2, 2}, {28, 28}});
    none.tiles.resize(4);
    const Sector after = with_rooms(none);
    EXPECT_EQ(std::tuple(after.cells, after.tiles.size()), std::tuple(none.cells, 8u));
    // A (full 3x3 at (20, 10)) ties with the later B (at (10, 20)); C (at (9, 9)) lacks a corner.
    Sector sector = solid_with({});
    sector.tiles.resize(4);
    // clang-format off
    for (auto [x0, y0, x1, y1] : {std::tuple{1, 1, 3, 3}, {1, 2, 20, 2}, {20, 2, 20, 8}, {19, 9, 21, 11},
                                  {9, 2, 9, 7}, {8, 8, 10, 10}, {10, 11, 10, 18}, {9, 19, 11, 21}})
        carve(sector, x0, y0, x1, y1); // clang-format on
    sector.cells[at(8, 10)] = 1;
    ASSERT_NO_THROW(sector.validate());
    // Only the floor of the 5x5 block changes: room A and the corridor end at (20, 8).
    expected = sector;
    carve(expected, 19, 9, 21, 11, 7);
    expected.cells[at(20, 8)] = 7, expected.cells[at(20, 10)] = 4;
    EXPECT_EQ(with_rooms(sector).cells, expected.cells);
    // Not valid to begin with (open border): the pillar is undone, nothing is thrown.
    sector = open_room(4);
    sector.cells[at(0, 5)] = 0;
    EXPECT_EQ(with_rooms(sector).cells[at(8, 8)], 7);
}

TEST(HazardCell, HashAwayFromSpawnAndPortalsOnPlainFloor) {
    const auto hits = [](std::uint64_t seed, int c) { return mix64(seed ^ unsigned(c)) % 17 == 0; };
    const auto d = [](int a, int b) {
        return std::abs(a % 32 - b % 32) + std::abs(a / 32 - b / 32);
    };
    // Spawn cell (16, 16) keeps distance 4 safe, the portals distance 2; walls are safe.
    Sector sector = open_room(2);
    sector.spawn_x = 16 * 256 + 200, sector.spawn_y = 16 * 256 + 10;
    sector.portals = {portal_at(1, 25, 5), portal_at(2, 20, 22)};
    for (sector.seed = 1; sector.seed < 40; sector.seed += 3) {
        for (int cell = 0; cell < 1024; ++cell) {
            const bool safe = cell % 32 % 31 == 0 || cell / 32 % 31 == 0 ||
                              d(cell, at(16, 16)) <= 4 ||
                              std::min(d(cell, at(25, 5)), d(cell, at(20, 22))) <= 2;
            EXPECT_EQ(hazard_cell(sector, cell), !safe && hits(sector.seed, cell)) << cell;
        }
    }
    // A plain interior cell the hash picks for seed 4, with other tiles on it.
    sector = open_room(2);
    sector.seed = 4;
    int cell = at(10, 10);
    while (!hits(4, cell) || cell % 32 % 31 == 0) ++cell;
    for (auto [flags, hazard] :
         {std::pair{0, true}, {1, false}, {8, false}, {2, true}, {4, true}}) {
        Sector changed = sector;
        changed.tiles.push_back(Tile{1, 2, 3, std::uint8_t(flags), 0, 8, 100});
        changed.cells[cell] = 2;
        EXPECT_EQ(hazard_cell(changed, cell), hazard) << flags;
    }
    for (std::uint64_t past : {1024ull, ~0ull}) EXPECT_FALSE(hazard_cell(sector, past)) << past;
    // The demo sector has 31; style 0 (seed 3) has none, the same cells in style 1 do.
    Sector sectors[] = {generate(1, demo_seed, {Portal{1, 70, 2, 0, 1, 42}}),
                        generate(1, std::uint64_t{3}, {}),
                        {}};
    sectors[2] = sectors[1], sectors[2].seed = 4;
    int counts[3] = {};
    for (int i = 0; i < 3 * 1024; ++i) counts[i / 1024] += hazard_cell(sectors[i / 1024], i % 1024);
    EXPECT_EQ(std::tuple(counts[0], counts[1], counts[2] > 0), std::tuple(31, 0, true));
}

} // namespace
} // namespace kestrel
