#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "protocol/codec.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

constexpr int at(int x, int y) {
    return y * 32 + x;
}

constexpr int door = at(10, 10);
constexpr int pillar = at(20, 20);
constexpr int lit = at(19, 19);
constexpr int bright = at(16, 16);
constexpr int gap = at(15, 25); // the only way into rows 26..30

// A closed room with the decorated palette: a secret door in front of a one-cell secret
// alcove, a lit pillar ringed by lit floor, a bright floor cell, and a wall across row 25
// whose single opening is a bright floor cell.
Sector room() {
    Sector s;
    s.id = 0x5EC7'0000'0042ull;
    s.seed = 4;
    s.revision = 3;
    s.tiles = {
        Tile{1, 2, 3, 0x00, 0, 8, 192}, Tile{1, 2, 3, 0x03, 0, 8, 160},
        Tile{1, 2, 3, 0x0B, 0, 8, 130}, Tile{1, 2, 3, 0x08, 0, 8, 160},
        Tile{1, 2, 3, 0x03, 0, 8, 210}, Tile{1, 2, 3, 0x00, 0, 8, 210},
        Tile{1, 2, 3, 0x00, 0, 8, 55},  Tile{1, 2, 3, 0x00, 0, 8, 235},
    };
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            s.cells[at(x, y)] = (x == 0 || y == 0 || x == 31 || y == 31 || y == 25) ? 1 : 0;
    s.cells[door] = 2;
    s.cells[at(11, 10)] = 3;
    s.cells[at(11, 9)] = s.cells[at(12, 10)] = s.cells[at(11, 11)] = 1;
    for (int y = 19; y <= 21; ++y)
        for (int x = 19; x <= 21; ++x) s.cells[at(x, y)] = 7;
    s.cells[pillar] = 4;
    s.cells[bright] = 5;
    s.cells[gap] = 5;
    s.portals.push_back(Portal{1, std::uint16_t(at(28, 28)), 99, 0, 1, 0});
    return s;
}

// The same room cut down to a smaller palette: cells naming dropped tiles become plain
// floor, the alcove plain wall.
Sector with_palette(std::size_t size) {
    Sector s = room();
    s.tiles.resize(size);
    for (auto& cell : s.cells)
        if (cell >= size) cell = cell == 3 ? 1 : 0;
    return s;
}

// The expected result of a patch, and the CRC its payload must carry (0 when the changed
// sector cannot be encoded at all).
Sector changed(const Sector& current, int cell, std::uint8_t tile) {
    Sector next = current;
    next.cells[cell] = tile;
    next.revision = current.revision + 1;
    return next;
}

std::uint32_t crc_of(const Sector& s) {
    try {
        return crc32(s.encode());
    } catch (const std::runtime_error&) {
        return 0;
    }
}

// The patch as it arrives: framed into a MapPatch packet, header read, then applied.
Sector apply(const Sector& current, const Writer& payload) {
    const Bytes bytes = packet(Type::MapPatch, 9, 1, 4, payload);
    Reader in(bytes);
    EXPECT_EQ(read_header(in).type, Type::MapPatch);
    Sector next = apply_map_patch(current, in);
    EXPECT_EQ(in.remaining(), 0u);
    return next;
}

// Applies and returns the error; checks that `current` came through untouched.
std::string refusal(const Sector& current, const Writer& payload) {
    const Sector before = current;
    std::string message = "accepted";
    try {
        apply(current, payload);
    } catch (const std::runtime_error& e) {
        message = e.what();
    }
    EXPECT_EQ(current, before);
    return message;
}

Writer patch(const Sector& current, int cell, std::uint8_t tile) {
    const Sector next = changed(current, cell, tile);
    return map_patch_payload(next.id, next.revision, std::uint16_t(cell), tile, crc_of(next));
}

TEST(MapPatch, PayloadLayout) {
    const Writer w = map_patch_payload(0x0102030405060708ull, 0x11121314, 0x0321, 7, 0x21222324);
    EXPECT_EQ(w.bytes, (Bytes{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x14, 0x13,
                              0x12, 0x11, 0x21, 0x03, 0x07, 0x00, 0x24, 0x23, 0x22, 0x21}));
    const Sector next = changed(room(), door, 0);
    EXPECT_EQ(map_patch_payload(next, door).bytes,
              map_patch_payload(next.id, 4, door, 0, crc32(next.encode())).bytes);
}

TEST(MapPatch, EveryAllowedChange) {
    const Sector current = room();
    ASSERT_NO_THROW(current.validate());
    for (auto [cell, tile] : {std::pair{door, 0}, {lit, 6}, {pillar, 5}, {bright, 4}}) {
        SCOPED_TRACE(cell);
        const Sector expected = changed(current, cell, std::uint8_t(tile));
        const Sector before = current;
        const Sector next = apply(current, map_patch_payload(expected, std::uint16_t(cell)));
        EXPECT_EQ(next, expected); // only the cell and the revision differ
        EXPECT_EQ(next.id, current.id);
        EXPECT_EQ(next.revision, 4u);
        EXPECT_EQ(current, before);
    }
    // The secret door opens whatever the palette size.
    const Sector small = with_palette(3);
    EXPECT_EQ(apply(small, patch(small, door, 0)), changed(small, door, 0));
}

TEST(MapPatch, SuccessivePatchesChainRevisions) {
    const Sector first = room();
    const Sector second = apply(first, patch(first, pillar, 5));
    const Sector third = apply(second, patch(second, pillar, 4));
    EXPECT_EQ(second.revision, 4u);
    EXPECT_EQ(third.revision, 5u);
    EXPECT_EQ(third.cells, first.cells);
    // The old revision's patch no longer fits the new sector.
    EXPECT_EQ(refusal(third, patch(first, pillar, 5)), "invalid map patch");
}

TEST(MapPatch, RefusedFields) {
    const Sector current = room();
    const Sector next = changed(current, door, 0);
    const std::uint32_t crc = crc32(next.encode());
    auto raw = [&](std::uint64_t id, std::uint32_t revision, std::uint16_t cell,
                   std::uint8_t tile) { return map_patch_payload(id, revision, cell, tile, crc); };

    EXPECT_EQ(refusal(current, raw(current.id, 3, door, 0)), "invalid map patch"); // repeat
    EXPECT_EQ(refusal(current, raw(current.id, 5, door, 0)), "invalid map patch"); // skipped
    EXPECT_EQ(refusal(current, raw(current.id, 2, door, 0)), "invalid map patch");
    EXPECT_EQ(refusal(current, raw(current.id + 1, 4, door, 0)), "invalid map patch");
    EXPECT_EQ(refusal(current, raw(current.id, 4, 1024, 0)), "invalid map patch");
    EXPECT_EQ(refusal(current, raw(current.id, 4, 0xFFFF, 0)), "invalid map patch");
    EXPECT_EQ(refusal(current, raw(current.id, 4, door, 8)), "invalid map patch");
    EXPECT_EQ(refusal(current, raw(current.id, 4, door, 255)), "invalid map patch");
    Writer reserved = raw(current.id, 4, door, 0);
    reserved.bytes[15] = 1;
    EXPECT_EQ(refusal(current, reserved), "invalid map patch");
    EXPECT_EQ(apply(current, raw(current.id, 4, door, 0)), next); // the unedited one fits

    // No revision follows the highest one; it does not wrap around to 0.
    Sector last = current;
    last.revision = 0xFFFFFFFF;
    EXPECT_EQ(refusal(last, map_patch_payload(last.id, 0, door, 0, 0)), "invalid map patch");
}

TEST(MapPatch, ChangesOutsideTheTable) {
    const Sector current = room();
    const std::pair<int, std::uint8_t> refused[] = {
        {at(5, 5), 2}, // floor into a secret door: never the other way round
        {at(5, 5), 4}, // floor into a pillar
        {lit, 4},      {lit, 5},      {lit, 7},    {at(11, 10), 0}, {door, 3},
        {at(5, 5), 6}, {at(1, 5), 0}, {bright, 6}, {pillar, 7},
    };
    for (auto [cell, tile] : refused) {
        SCOPED_TRACE(cell * 1000 + tile);
        EXPECT_EQ(refusal(current, patch(current, cell, tile)), "invalid map patch");
    }
    // The pillar rows need the full palette.
    for (std::size_t size : {6u, 7u}) {
        SCOPED_TRACE(size);
        const Sector small = with_palette(size);
        ASSERT_NO_THROW(small.validate());
        EXPECT_EQ(refusal(small, patch(small, pillar, 5)), "invalid map patch");
        EXPECT_EQ(refusal(small, patch(small, bright, 4)), "invalid map patch");
    }
}

TEST(MapPatch, ValidationOfThePatchedSector) {
    const Sector current = room();
    // A pillar in the only opening seals off the south of the room.
    EXPECT_EQ(refusal(current, patch(current, gap, 4)), "disconnected walkable cells");
    // A pillar on the spawn cell leaves no room for the player.
    Sector at_spawn = current;
    at_spawn.cells[at(2, 2)] = 5;
    ASSERT_NO_THROW(at_spawn.validate());
    EXPECT_EQ(refusal(at_spawn, patch(at_spawn, at(2, 2), 4)), "invalid spawn");
}

TEST(MapPatch, ChecksumOverTheOldSector) {
    const Sector current = room();
    const std::uint32_t old_crc = crc32(current.encode());
    EXPECT_EQ(refusal(current, map_patch_payload(current.id, 4, door, 0, old_crc)),
              "map patch checksum");
    const std::uint32_t right = crc32(changed(current, door, 0).encode());
    EXPECT_EQ(refusal(current, map_patch_payload(current.id, 4, door, 0, right ^ 0x80000000)),
              "map patch checksum");
}

TEST(MapPatch, ExactlyTwentyBytes) {
    const Sector current = room();
    Writer shorter = patch(current, door, 0);
    shorter.bytes.pop_back();
    EXPECT_EQ(refusal(current, shorter), "truncated packet");
    Writer longer = patch(current, door, 0);
    longer.u8(0);
    EXPECT_EQ(refusal(current, longer), "trailing bytes");
}

} // namespace
} // namespace kestrel
