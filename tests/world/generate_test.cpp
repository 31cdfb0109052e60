#include "world/generate.h"

#include "tests/support/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel {
namespace {

constexpr std::uint64_t G = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t demo_seed = 0x6B1F39A42ull;

using Mask = std::array<bool, 1024>;

using test::error_of;

Portal portal_at(std::uint16_t id, int x, int y) {
    return Portal{id, static_cast<std::uint16_t>(y * 32 + x), 2, 0, 1, 0};
}

Sector demo() {
    return generate(1, demo_seed, {Portal{1, 70, 2, 0, 1, 42}});
}

// Carved cells hold plain floor or what the room pass turned floor into (4 and 7); the
// secret pass only ever replaces plain wall. So this mask does not depend on decoration.
Mask carved(const Sector& sector) {
    Mask mask{};
    for (int i = 0; i < 1024; ++i) {
        const std::uint8_t tile = sector.cells[i];
        mask[i] = tile == 0 || tile == 4 || tile == 7;
    }
    return mask;
}

int count(const Sector& sector, std::uint8_t tile) {
    return static_cast<int>(std::count(sector.cells.begin(), sector.cells.end(), tile));
}

// Paints the inclusive rectangle spanned by two corners, clipped to the carvable 1..30.
void paint(Mask& mask, int x0, int y0, int x1, int y1) {
    for (int y = std::max(std::min(y0, y1), 1); y <= std::min(std::max(y0, y1), 30); ++y)
        for (int x = std::max(std::min(x0, x1), 1); x <= std::min(std::max(x0, x1), 30); ++x)
            mask[y * 32 + x] = true;
}

struct Room {
    int x, y, w, h;
};

// Room j from draws 4j+1..4j+4, where draw i is produced by `draw(i)`.
template <typename Draw>
std::vector<Room> rooms(std::uint64_t seed, Draw draw) {
    const int style = static_cast<int>(seed % 3);
    const int total = style == 0 ? 18 : style == 1 ? 24 : 12;
    std::vector<Room> result;
    for (int j = 0; j < total; ++j) {
        const std::uint64_t r1 = draw(4 * j + 1), r2 = draw(4 * j + 2);
        const std::uint64_t r3 = draw(4 * j + 3), r4 = draw(4 * j + 4);
        Room room{int(r1 % 27 + 2), int(r2 % 27 + 2), 7, 2};
        if (style == 0) {
            room.w = int(r3 % 4 + 2);
            room.h = int(r4 % 4 + 2);
        } else if (style == 1) {
            room = {6 * (room.x / 6) + 2, 6 * (room.y / 6) + 2, 4, 4};
        }
        result.push_back(room);
    }
    return result;
}

std::vector<Room> rooms(std::uint64_t seed) {
    return rooms(seed, [seed](std::uint64_t i) { return mix64(seed + i * G); });
}

// The carving written as shapes: each room's corridor is the row segment from the cursor to
// the room's column (both ends) plus the column segment down to the room's corner.
Mask reference_carving(const std::vector<Room>& chain, const std::vector<Portal>& portals) {
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
        if (py != 3) {
            if (px < 1 || px > 30) continue;
            if (py > 3) paint(mask, px, 3, px, py - 1);
            if (py < 3) paint(mask, px, py + 1, px, 3);
        }
        paint(mask, px, py, px, py);
    }
    return mask;
}

Mask reference_carving(std::uint64_t seed, const std::vector<Portal>& portals = {}) {
    return reference_carving(rooms(seed), portals);
}

std::vector<int> differences(const Mask& a, const Mask& b) {
    std::vector<int> cells;
    for (int i = 0; i < 1024; ++i)
        if (a[i] != b[i]) cells.push_back(i);
    return cells;
}

TEST(Generate, SameArgumentsGiveTheSameBytes) {
    EXPECT_EQ(demo().encode(), demo().encode());
    const std::vector<Portal> portals = {portal_at(1, 20, 20), portal_at(0, 10, 25)};
    for (std::uint64_t seed : {0ull, 1ull, 2ull, 0xFFFFFFFFFFFFFFFFull})
        EXPECT_EQ(generate(9, seed, portals).encode(), generate(9, seed, portals).encode());
    EXPECT_NE(generate(1, 3, {}).encode(), generate(1, 6, {}).encode());
}

TEST(Generate, DemoSectorIsStable) {
    // Client and server both build this sector; its bytes must never drift.
    const Bytes blob = demo().encode();
    ASSERT_EQ(blob.size(), 1176u);
    EXPECT_EQ(crc32(blob), 0x4191383Cu);
}

TEST(Generate, DemoSectorShape) {
    const Sector sector = demo();
    EXPECT_EQ(sector.seed % 3, 1u);
    EXPECT_EQ(sector.id, 1u);
    EXPECT_EQ(sector.seed, demo_seed);
    EXPECT_EQ(sector.portals, (std::vector<Portal>{Portal{1, 70, 2, 0, 1, 42}}));
    EXPECT_EQ(sector.spawn_x, 640);
    EXPECT_EQ(sector.spawn_y, 640);
    EXPECT_EQ(sector.schema, 1u);
    EXPECT_EQ(sector.revision, 1u);
    EXPECT_EQ(sector.encode().size(), 64u + 64 + 1024 + 24);

    const std::vector<Room> chain = rooms(demo_seed);
    ASSERT_EQ(chain.size(), 24u);
    const Mask mask = carved(sector);
    for (const Room& room : chain) {
        for (int v : {room.x, room.y})
            EXPECT_TRUE(v == 2 || v == 8 || v == 14 || v == 20 || v == 26) << v;
        EXPECT_EQ(room.w, 4);
        for (int y = room.y; y < room.y + 4; ++y)
            for (int x = room.x; x < room.x + 4; ++x)
                EXPECT_TRUE(mask[y * 32 + x]) << x << "," << y;
    }
    EXPECT_EQ(mask, reference_carving(demo_seed, sector.portals));
}

TEST(Generate, PaletteIsTheBaseTilesPlusBothDecorations) {
    const std::vector<Tile> expected = {
        {1, 2, 3, 0x00, 0, 8, 192}, {1, 2, 3, 0x03, 0, 8, 160}, {1, 2, 3, 0x0B, 0, 8, 130},
        {1, 2, 3, 0x08, 0, 8, 160}, {1, 2, 3, 0x03, 0, 8, 210}, {1, 2, 3, 0x00, 0, 8, 210},
        {1, 2, 3, 0x00, 0, 8, 55},  {1, 2, 3, 0x00, 0, 8, 235},
    };
    EXPECT_EQ(demo().tiles, expected);
    for (std::uint64_t seed = 0; seed < 12; ++seed)
        EXPECT_EQ(generate(1, seed, {}).tiles, expected) << seed;
}

TEST(Generate, FirstDrawIsMixOfSeedPlusOneIncrement) {
    const Mask actual = carved(demo());
    const std::vector<Portal> portals = demo().portals;
    // Draw i taken as mix64(seed + (i - 1) * G), i.e. starting at mix64(seed): a different chain.
    const std::vector<Room> shifted =
        rooms(demo_seed, [](std::uint64_t i) { return mix64(demo_seed + (i - 1) * G); });
    EXPECT_NE(actual, reference_carving(shifted, portals));
    EXPECT_EQ(actual, reference_carving(demo_seed, portals));
    EXPECT_EQ(mix64(0), 0xE220A8397B1DCDAFull);
}

TEST(Generate, CarvingMatchesTheRoomChainForEveryStyle) {
    const std::vector<std::vector<Portal>> portal_sets = {
        {},
        {portal_at(1, 28, 28)},
        {portal_at(0, 1, 20), portal_at(1, 30, 1), portal_at(2, 15, 30), portal_at(3, 2, 2)},
    };
    for (std::uint64_t seed :
         {0ull, 1ull, 2ull, 3ull, 4ull, 5ull, 1000ull, 0x123456789ull, 0xFFFFFFFFFFFFFFFFull}) {
        for (const auto& portals : portal_sets) {
            const Sector sector = generate(5, seed, portals);
            EXPECT_EQ(carved(sector), reference_carving(seed, portals))
                << seed << " with " << portals.size() << " portals";
            EXPECT_EQ(Sector::decode(sector.encode()), sector);
        }
    }
}

TEST(Generate, WideRoomsAreClippedAtColumn30) {
    // A style 2 room (7 x 2) starting at column 25 or more.
    for (std::uint64_t seed = 2; seed < 3000; seed += 3) {
        const std::vector<Room> chain = rooms(seed);
        const auto wide =
            std::find_if(chain.begin(), chain.end(), [](const Room& room) { return room.x >= 25; });
        if (wide == chain.end()) continue;
        const Sector sector = generate(1, seed, {});
        const Mask mask = carved(sector);
        for (int y = wide->y; y < std::min(wide->y + 2, 31); ++y) {
            for (int x = wide->x; x <= 30; ++x) EXPECT_TRUE(mask[y * 32 + x]) << x << "," << y;
            EXPECT_EQ(sector.cells[y * 32 + 31], 1);
        }
        EXPECT_EQ(mask, reference_carving(seed));
        return;
    }
    FAIL() << "no style 2 seed with a room at column 25 or more";
}

TEST(Generate, TallRoomsAreClippedAtRow30) {
    // A style 0 room of height 5 starting at row 27 or more.
    for (std::uint64_t seed = 0; seed < 3000; seed += 3) {
        const std::vector<Room> chain = rooms(seed);
        const auto tall = std::find_if(chain.begin(), chain.end(), [](const Room& room) {
            return room.h == 5 && room.y >= 27;
        });
        if (tall == chain.end()) continue;
        const Sector sector = generate(1, seed, {});
        const Mask mask = carved(sector);
        for (int x = tall->x; x < std::min(tall->x + tall->w, 31); ++x) {
            for (int y = tall->y; y <= 30; ++y) EXPECT_TRUE(mask[y * 32 + x]) << x << "," << y;
            EXPECT_EQ(sector.cells[31 * 32 + x], 1);
        }
        EXPECT_EQ(mask, reference_carving(seed));
        return;
    }
    FAIL() << "no style 0 seed with a tall room at row 27 or more";
}

// Finds a seed whose portal-free sector leaves every listed cell uncarved.
std::uint64_t seed_leaving_uncarved(const std::vector<int>& cells) {
    for (std::uint64_t seed = 0; seed < 3000; ++seed) {
        const Mask mask = carved(generate(1, seed, {}));
        if (std::none_of(cells.begin(), cells.end(), [&](int c) { return mask[c]; })) return seed;
    }
    ADD_FAILURE() << "no seed found";
    return 0;
}

TEST(Generate, PortalOnRow3GetsOnlyTheHorizontalLeg) {
    const std::uint64_t seed = seed_leaving_uncarved({3 * 32 + 28, 3 * 32 + 29});
    const Mask without = carved(generate(1, seed, {}));
    const Mask with = carved(generate(1, seed, {portal_at(1, 29, 3)}));
    const std::vector<int> added = differences(without, with);
    ASSERT_FALSE(added.empty());
    for (int cell : added) {
        EXPECT_EQ(cell / 32, 3) << cell;
        EXPECT_TRUE(with[cell]);
    }
    for (int x = 3; x <= 29; ++x) EXPECT_TRUE(with[3 * 32 + x]) << x;
}

TEST(Generate, PortalOnColumn3GetsOnlyTheVerticalLeg) {
    const std::uint64_t seed = seed_leaving_uncarved({27 * 32 + 3, 28 * 32 + 3});
    const Mask without = carved(generate(1, seed, {}));
    const Mask with = carved(generate(1, seed, {portal_at(1, 3, 28)}));
    const std::vector<int> added = differences(without, with);
    ASSERT_FALSE(added.empty());
    for (int cell : added) {
        EXPECT_EQ(cell % 32, 3) << cell;
        EXPECT_TRUE(with[cell]);
    }
    for (int y = 3; y <= 28; ++y) EXPECT_TRUE(with[y * 32 + 3]) << y;
}

TEST(Generate, PortalsThatCannotBeConnectedFailValidation) {
    const auto error_with = [](std::vector<Portal> portals) {
        return error_of([&] { kestrel::generate(1, 4, std::move(portals)); });
    };
    EXPECT_EQ(error_with({portal_at(1, 0, 10)}), "invalid portal");  // west ring
    EXPECT_EQ(error_with({portal_at(1, 31, 10)}), "invalid portal"); // east ring
    EXPECT_EQ(error_with({portal_at(1, 10, 31)}), "invalid portal"); // south ring
    EXPECT_EQ(error_with({portal_at(1, 0, 3)}), "invalid portal");   // ring, on row 3
    EXPECT_EQ(error_with({portal_at(1, 10, 10), portal_at(1, 12, 12)}), "invalid portal");
    EXPECT_EQ(error_with({portal_at(1, 10, 10), portal_at(2, 10, 10)}), "invalid portal");
    Portal no_target = portal_at(1, 10, 10);
    no_target.target = 0;
    EXPECT_EQ(error_with({no_target}), "invalid portal");
    EXPECT_EQ(error_with({portal_at(1, 10, 10)}), "no error");
}

TEST(Generate, WithoutPortalsStillDecorates) {
    for (std::uint64_t seed : {0ull, 1ull, 2ull}) {
        const Sector sector = generate(1, seed, {});
        const Mask mask = carved(sector);
        for (int y = 1; y <= 7; ++y)
            for (int x = 1; x <= 7; ++x) EXPECT_TRUE(mask[y * 32 + x]) << seed;
        EXPECT_EQ(mask, reference_carving(seed)) << seed;
        EXPECT_EQ(sector.tiles.size(), 8u);
        EXPECT_EQ(count(sector, 2), 1) << seed; // secret door
        EXPECT_EQ(count(sector, 3), 4) << seed; // secret room
        EXPECT_EQ(count(sector, 4), 1) << seed; // pillar
        EXPECT_GE(count(sector, 7), 1) << seed;
        EXPECT_NO_THROW(sector.validate());
    }
}

} // namespace
} // namespace kestrel
