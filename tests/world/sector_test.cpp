// Sector blobs, validation rules, collision grids, chunked transfer and map patches.
#include "world/map_transfer.h"

#include "tests/support/errors.h"
#include "tests/world/rooms.h"
#include "world/generate.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestrel {
namespace {

using namespace test;
using Change = std::function<void(Sector&)>;

// The validation message of the sector after the change.
std::string error_with(const Change& change, Sector sector) {
    change(sector);
    return error_of([&] { sector.validate(); });
}

TEST(SectorEncode, LayoutAndRoundTrip) {
    // Every member away from its default, so a dropped or swapped field shows up.
    Sector sector = open_room();
    sector.id = 0x0123456789ABCDEFull, sector.seed = 0xFEDCBA9876543210ull;
    sector.revision = 0x80000001u, sector.spawn_yaw = 0xBEEF;
    sector.spawn_x = 5 * 256 + 77, sector.spawn_y = 9 * 256 + 200;
    sector.tiles.insert(sector.tiles.end(),
                        {{9, 8, 7, 12, -20, 90, 17}, {250, 251, 252, 11, 127, -128, 0}});
    sector.cells[at(10, 10)] = 2, sector.cells[at(20, 20)] = 3;
    sector.portals = {Portal{7, 396, 0x1122334455667788ull, 0xA1B2, 2, 0x99AABBCCDDEEFF00ull},
                      Portal{0, 451, 1, 0, 0, 0}};
    // spawn_height (0) before spawn_yaw, ruleset 1, reserved 0; a zero byte ends each tile.
    // clang-format off
    Bytes expected = {
        'S', 'E', 'C', 'T', 1, 0, 64, 0, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01,
        0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 1, 0, 0, 0, 1, 0, 0, 0x80,
        32, 0, 32, 0, 4, 0, 2, 0, 0, 4, 0, 0, 0x90, 0x04, 0, 0,
        77, 5, 200, 9, 0, 0, 0xEF, 0xBE, 1, 0, 0, 0, 0, 0, 0, 0,
        1, 2, 3, 0, 0, 8, 192, 0, 1, 2, 3, 3, 0, 8, 160, 0,
        9, 8, 7, 0x0C, 0xEC, 90, 17, 0, 250, 251, 252, 0x0B, 127, 0x80, 0, 0};
    expected.resize(96 + 1024);
    std::copy(sector.cells.begin(), sector.cells.end(), expected.begin() + 96);
    expected.insert(expected.end(), {
        7, 0, 0x8C, 1, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0xB2, 0xA1, 2, 0,
        0x00, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0, 0, 0xC3, 1, 1, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    // clang-format on
    EXPECT_EQ(sector.encode(), expected);
    EXPECT_EQ(Sector::decode(expected), sector);
    // Never encoded invalid, so an invalid sector reports its rule.
    EXPECT_EQ(error_of([] { Sector{}.encode(); }), "open sector boundary");
}

TEST(SectorDecode, RefusalsInOrder) {
    const Bytes blob = open_room().encode(); // 2 tiles, 1104 bytes
    // The blob resized (zero-padded) to `size`, then the fields overwritten.
    using Case = std::tuple<std::vector<Field>, const char*, std::size_t>;
    const char *counts = "sector counts", *version = "sector version",
               *dimensions = "sector dimensions", *ruleset = "sector ruleset";
    // clang-format off
    const Case cases[] = {
        {{{0, 1, 0}}, "sector length", 63}, {{{56, 4, 2}}, "no error", 0},
        {{{56, 4, 3}}, "no error", 0}, {{}, "sector length", 4097}, {{}, counts, 4096},
        {{}, counts, 1105}, {{{44, 4, 1105}}, counts, 1105}, {{{36, 2, 0}}, counts, 0},
        {{{36, 2, 257}}, counts, 0}, {{{36, 2, 3}}, counts, 0}, {{{38, 2, 17}}, counts, 0},
        {{{38, 2, 17}, {44, 4, 1512}}, counts, 1512}, {{{36, 2, 257}, {44, 4, 3144}}, counts, 3144},
        {{{40, 4, 1023}}, counts, 0}, {{{0, 1, 'R'}}, version, 0}, {{{3, 1, 'S'}}, version, 0},
        {{{4, 2, 2}}, version, 0}, {{{6, 2, 63}}, version, 0}, {{{32, 2, 31}}, dimensions, 0},
        {{{34, 2, 33}}, dimensions, 0}, {{{56, 4, 0}}, ruleset, 0}, {{{56, 4, 4}}, ruleset, 0},
        {{{63, 1, 1}}, ruleset, 0}, {{{79, 1, 1}}, "tile reserved", 0},
        {{{80, 1, 0}}, "open sector boundary", 0},
        {{{80, 1, 0}, {28, 4, 0}}, "invalid sector metadata", 0},
        // Each case breaks one check and every check after it.
        {{{4, 2, 9}, {32, 2, 1}, {36, 2, 0}, {56, 4, 0}}, version, 0},
        {{{32, 2, 16}, {38, 2, 99}, {56, 4, 7}}, dimensions, 0},
        {{{40, 4, 0}, {60, 4, 5}, {71, 1, 1}}, counts, 0}, {{{56, 4, 0}, {71, 1, 1}}, ruleset, 0},
        {{{79, 1, 1}, {8, 8, 0}}, "tile reserved", 0}};
    // clang-format on
    for (auto [fields, message, size] : cases) { // size 0: as encoded; rulesets 1..3 are read
        Bytes bytes = blob;
        bytes.resize(size ? size : bytes.size());
        EXPECT_EQ(error_of([&] { Sector::decode(with(bytes, fields)); }), message) << size;
    }
}

TEST(Validation, EveryRule) {
    const Sector room = open_room();
    const char *meta = "invalid sector metadata", *spawn = "invalid spawn";
    // All floor: only the coordinate range rejects a spawn. A secret walkable tile is open.
    // clang-format off
    const std::pair<Change, const char*> cases[] = {
        {[](Sector&) {}, "no error"}, {[](Sector& s) { s.id = 0; }, meta},
        {[](Sector& s) { s.revision = 0; }, meta}, {[](Sector& s) { s.schema = 2; }, meta},
        {[](Sector& s) { s.schema = 0; }, meta}, {[](Sector& s) { s.tiles.clear(); }, meta},
        {[](Sector& s) { s.tiles.resize(257); }, meta}, {[](Sector& s) { s.tiles.resize(256); }, "no error"},
        {[](Sector& s) { s.portals.assign(17, portal_at(0, 5, 5)); }, meta},
        {[](Sector& s) { for (int i = 0; i < 16; ++i) s.portals.push_back(portal_at(i, 5 + i, 5)); }, "no error"},
        {[](Sector& s) { s.cells[at(31, 31)] = 2; }, "invalid tile index"},
        {[](Sector& s) { s.spawn_height = 1; }, spawn}, {[](Sector& s) { s.cells[at(2, 2)] = 1; }, spawn},
        {[](Sector& s) { s = Sector{}, s.spawn_x = 56; }, spawn},
        {[](Sector& s) { s = Sector{}, s.spawn_x = 57; }, "open sector boundary"},
        {[](Sector& s) { s.tiles.push_back({1, 2, 3, 0x0A, 0, 8, 0}), s.cells[at(31, 20)] = 2; },
         "open sector boundary"}};
    // Unused tiles: walkable ones (flag 2 alone is) need a signed headroom of 7; solid, any.
    const std::pair<Tile, bool> tiles[] = {
        {{1, 2, 3, 15, 0, 8, 0}, true}, {{1, 2, 3, 16, 0, 8, 0}, false}, {{1, 2, 3, 0x81, 0, 8, 0}, false},
        {{1, 2, 3, 0, 0, 6, 0}, false}, {{1, 2, 3, 0, 0, 7, 0}, true}, {{1, 2, 3, 0, -100, -94, 0}, false},
        {{1, 2, 3, 0, -100, -93, 0}, true}, {{1, 2, 3, 0, -128, 127, 0}, true}, {{1, 2, 3, 8, 20, 10, 0}, false},
        {{1, 2, 3, 2, 0, 0, 0}, false}, {{1, 2, 3, 1, 0, 0, 0}, true}, {{1, 2, 3, 3, 127, -128, 0}, true}};
    // Range 56 * 256 (< body radius) .. 8136 (past 32 cells minus it); border clearance 313
    // (14592 units) vs 312 (14336); a pillar at (5, 5): 14482 units away clear, 14301 not.
    const std::tuple<int, int, bool> spawns[] = {
        {56, 640, false}, {640, 56, false}, {640, 8136, false}, {313, 2688, true}, {312, 2688, false},
        {2688, 313, true}, {2688, 312, false}, {7879, 2688, true}, {7880, 2688, false},
        {1576, 1576, true}, {1575, 1576, false}};
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(error_with(cases[i].first, room), cases[i].second) << "case " << i;
    for (const auto& [tile, valid] : tiles)
        EXPECT_EQ(error_with([&](Sector& s) { s.tiles.push_back(tile); }, room),
                  valid ? "no error" : "invalid tile definition");
    for (const auto& [x, y, valid] : spawns) {
        const Change p = [&](Sector& s) { s.cells[at(5, 5)] = 1, s.spawn_x = x, s.spawn_y = y; };
        EXPECT_EQ(error_with(p, room), valid ? "no error" : spawn) << x << "," << y;
    }
    for (int cell : {at(7, 0), at(7, 31), at(0, 7), at(31, 7), 0, 31, 992, 1023})
        EXPECT_EQ(error_with([&](Sector& s) { s.cells[cell] = 0; }, room), "open sector boundary")
            << cell;

    Sector split = room; // a wall on column 16 seals off the east half
    carve(split, 16, 1, 30, 30, 1);
    // A 2x2 island of secret floor (tile 2) in the sealed half, one cell of it `tile`.
    const auto island = [](std::uint8_t tile) {
        return [tile](Sector& s) {
            s.tiles.push_back(Tile{1, 2, 3, 0x08, 0, 8, 160});
            carve(s, 20, 10, 21, 11, 2);
            s.cells[at(21, 11)] = tile;
        };
    };
    // A notch at (16, 6) is reached from (15, 6); (17, 5) only touches it at a corner.
    const Change notch = [](Sector& s) { s.cells[at(16, 6)] = s.cells[at(17, 5)] = 0; };
    const auto portals = [](std::vector<Portal> p) { return [p](Sector& s) { s.portals = p; }; };
    const char *apart = "disconnected walkable cells", *portal = "invalid portal";
    Portal open_link = portal_at(1, 5, 5), no_target = open_link, bad_flags = open_link,
           off_grid = open_link;
    open_link.link_flags = 3, no_target.target = 0, bad_flags.link_flags = 4, off_grid.cell = 1024;
    // On a wall, on the border, a repeated id, a repeated cell, on the secret island.
    // clang-format off
    const std::pair<Change, const char*> reach[] = {
        {[](Sector&) {}, "no error"}, {island(2), "no error"}, {island(0), apart},
        {[](Sector& s) { s.spawn_y = 20 * 256; }, "no error"}, // the fill starts at (2, 20)
        {[](Sector& s) { s.cells[at(20, 10)] = 0; }, apart}, {notch, apart},
        {[&](Sector& s) { notch(s), s.cells[at(17, 6)] = 0; }, "no error"},
        {portals({portal_at(1, 5, 5), portal_at(0, 6, 5)}), "no error"},
        {portals({open_link}), "no error"}, {portals({no_target}), portal},
        {portals({bad_flags}), portal}, {portals({off_grid}), portal},
        {portals({portal_at(1, 16, 5)}), portal}, {portals({portal_at(1, 0, 5)}), portal},
        {portals({portal_at(1, 5, 5), portal_at(1, 6, 5)}), portal},
        {portals({portal_at(1, 5, 5), portal_at(2, 5, 5)}), portal},
        {[&](Sector& s) { island(2)(s), s.portals = {portal_at(1, 20, 10)}; }, portal}};
    // clang-format on
    for (std::size_t i = 0; i < std::size(reach); ++i)
        EXPECT_EQ(error_with(reach[i].first, split), reach[i].second) << "reach " << i;
}

TEST(Collision, GridsAndBodyClearance) {
    Sector sector = open_room();
    carve(sector, 16, 1, 30, 30, 1);
    // Tile 2 blocks walking only, tile 3 the secondary test only.
    sector.tiles.insert(sector.tiles.end(), {{1, 2, 3, 0x01, 0, 8, 0}, {1, 2, 3, 0x02, 0, 8, 0}});
    sector.cells[at(4, 4)] = 2, sector.cells[at(5, 4)] = 3;
    const Grid walk = sector.collision(false), secondary = sector.collision(true);
    // clang-format off
    for (auto [cell, w, s] : {std::tuple{0, 1, 1}, {at(2, 2), 0, 0}, {at(16, 5), 1, 1},
                              {at(20, 5), 1, 1}, {at(4, 4), 1, 0}, {at(5, 4), 0, 1}})
        EXPECT_EQ(walk[cell] * 2 + secondary[cell], w * 2 + s) << cell;
    // Touching at exactly the radius is clear; outside the grid counts as blocked.
    for (auto [grid, x, clear] : {std::tuple{walk, 16 * 65536 - 14418, true}, {walk, 16 * 65536 - 14417, false},
                                  {Grid{}, 14418, true}, {Grid{}, 14417, false}})
        EXPECT_EQ(body_clear(grid, x, 10 * 65536 + 32768), clear) << x; // clang-format on
    sector.cells[at(3, 3)] = 7;
    EXPECT_THROW(sector.collision(false), std::out_of_range);
}

constexpr std::uint64_t transition_id = 0x1020304050607080ull, sector_id = 0x5EC7'0000'0042ull;
constexpr int door = at(10, 10), pillar = at(20, 20), lit = at(19, 19), bright = at(16, 16);
constexpr int gap = at(15, 25); // the only way into rows 26..30

// The decorated palette: a secret door before a secret alcove, a lit pillar ringed by lit
// floor, bright floor, and a wall across row 25 whose only opening is bright floor.
Sector room() {
    Sector s = open_room();
    s.id = sector_id, s.seed = 4, s.revision = 3;
    s.tiles = generate(1, 3, {}).tiles;
    carve(s, 1, 25, 30, 25, 1);
    carve(s, 19, 19, 21, 21, 7);
    s.cells[door] = 2, s.cells[at(11, 10)] = 3, s.cells[pillar] = 4;
    s.cells[at(11, 9)] = s.cells[at(12, 10)] = s.cells[at(11, 11)] = 1;
    s.cells[bright] = s.cells[gap] = 5;
    s.portals.push_back(Portal{1, std::uint16_t(at(28, 28)), 99, 0, 1, 0});
    return s;
}

// A blob of any length: the assembly does not decode before finish().
Bytes blob_of(std::size_t length) {
    Bytes blob(length);
    for (std::size_t i = 0; i < length; ++i) blob[i] = std::uint8_t(i * 31 + 7);
    return blob;
}

std::vector<Writer> chunks_of(const Bytes& blob, std::uint32_t revision = 3) {
    return map_chunks(transition_id, sector_id, revision, crc32(blob), blob);
}

// The payload with fields overwritten and `extra` zero bytes added (cut when negative).
Writer changed(Writer w, const std::vector<Field>& fields, int extra = 0) {
    w.bytes = with(w.bytes, fields);
    w.bytes.resize(w.bytes.size() + extra);
    return w;
}

auto state(const MapAssembly& a) {
    return std::tie(a.transition, a.sector, a.revision, a.crc, a.bytes, a.received);
}

MapAssembly fresh(std::uint64_t sector = sector_id) {
    MapAssembly assembly;
    assembly.reset(transition_id, sector);
    return assembly;
}

// Ingests the chunks in turn; a refused last one must leave the assembly unchanged.
std::string deliver(const std::vector<Writer>& chunks, MapAssembly& assembly,
                    std::size_t* unread = nullptr) {
    std::string result;
    for (const Writer& payload : chunks) {
        Reader in(payload.bytes);
        const MapAssembly before = assembly;
        bool complete = false;
        result = error_of([&] { complete = assembly.ingest(in); });
        if (unread) *unread = in.remaining();
        const bool unchanged = &payload == &chunks.back() && state(assembly) == state(before);
        EXPECT_TRUE(result == "no error" || unchanged) << result;
        if (result == "no error") result = complete ? "complete" : "pending";
    }
    return result;
}

std::string deliver(const std::vector<Writer>& chunks) {
    MapAssembly assembly = fresh();
    return deliver(chunks, assembly);
}

TEST(MapChunks, LayoutCutPointsAndAnyOrder) {
    const Bytes blob = blob_of(4096);
    const auto chunks =
        map_chunks(0x0102030405060708ull, 0x1112131415161718ull, 0x21222324, 0x31323334, blob);
    Bytes fourth = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x18, 0x17, 0x16,
                    0x15, 0x14, 0x13, 0x12, 0x11, 0x24, 0x23, 0x22, 0x21, 0x00, 0x10,
                    0x00, 0x00, 0x34, 0x33, 0x32, 0x31, 0x03, 0x00, 0x05, 0x00};
    fourth.insert(fourth.end(), blob.begin() + 3 * 944, blob.begin() + 4 * 944);
    ASSERT_EQ(chunks.size(), 5u);
    EXPECT_EQ(chunks[3].bytes, fourth); // a full chunk fills a payload exactly
    EXPECT_EQ(error_of([] { map_chunks(1, 1, 1, 0, blob_of(63)); }), "sector length");
    EXPECT_EQ(error_of([] { map_chunks(1, 1, 1, 0, blob_of(4097)); }), "sector length");
    for (std::size_t length : {64u, 944u, 945u, 1888u, 1889u, 4096u}) {
        const auto parts = chunks_of(blob_of(length));
        ASSERT_EQ(parts.size(), (length + 943) / 944);
        EXPECT_EQ(parts.back().bytes.size(), 32 + length - (parts.size() - 1) * 944);
        MapAssembly assembly = fresh();
        EXPECT_EQ(deliver(parts, assembly), "complete");
        EXPECT_EQ(assembly.bytes, blob_of(length));
    }
    // The largest sector (256 tiles, 16 portals) in 4 chunks, reversed and each twice.
    Sector sector = room();
    for (int i = 8; i < 256; ++i) sector.tiles.push_back(Tile{1, 2, 3, 0, 0, 8, std::uint8_t(i)});
    for (int i = 2; i <= 16; ++i) sector.portals.push_back(portal_at(i, i, 12));
    const auto parts = map_chunks(transition_id, sector);
    MapAssembly assembly = fresh();
    ASSERT_EQ(parts.size(), 4u);
    for (std::size_t i = 4; i-- > 0;)
        EXPECT_EQ(deliver({parts[i], parts[i]}, assembly), i ? "pending" : "complete");
    EXPECT_EQ(std::tuple(assembly.revision, assembly.crc), std::tuple(3u, crc32(sector.encode())));
    EXPECT_EQ(assembly.finish(), sector);
}

TEST(MapAssembly, RefusalsFinishAndReset) {
    const Bytes blob = blob_of(1500); // chunks of 944 and 556 bytes
    const auto chunks = chunks_of(blob);
    const Writer &c0 = chunks[0], &c1 = chunks[1];
    // Revision 0, length or count off by one, index == count; metadata before data length.
    // clang-format off
    const Writer invalid[] = {
        changed(c0, {{16, 4, 0}}), changed(chunks_of(blob_of(64))[0], {{20, 4, 63}}, -1),
        changed(chunks_of(blob_of(4096))[4], {{20, 4, 4097}}, 1), changed(c0, {{20, 4, 0xFFFFFFFF}}),
        changed(c0, {{30, 2, 3}}), changed(c0, {{30, 2, 1}}), changed(c1, {{28, 2, 2}}),
        changed(c1, {{28, 2, 2}}, 1)};
    // clang-format on
    for (const Writer& chunk : invalid) {
        EXPECT_EQ(deliver({chunk}), "invalid chunk metadata");
        EXPECT_EQ(deliver({c0, chunk}), "invalid chunk metadata");
    }
    // Another transfer's chunk is skipped unread, even a malformed one (revision 0).
    for (auto [t, s] : {std::pair{transition_id + 1, sector_id}, {transition_id, sector_id + 1}}) {
        const Writer other = map_chunks(t, s, 0, 0, blob)[1];
        MapAssembly assembly = fresh(), started = fresh();
        std::size_t unread = 0;
        EXPECT_EQ(deliver({other}, assembly, &unread), "pending");
        EXPECT_EQ(deliver({c0, other}, started), "pending");
        EXPECT_TRUE(unread == other.bytes.size() - 32 && state(assembly) == state(fresh()));
        EXPECT_EQ(started.received, (std::vector<bool>{true, false}));
    }
    const auto flip = [](Writer c, std::size_t i) { return c.bytes[i] ^= 0x40, c; };
    const char *length = "invalid chunk length", *inconsistent = "inconsistent chunks",
               *duplicate = "conflicting duplicate chunk";
    // clang-format off
    const std::pair<std::vector<Writer>, const char*> cases[] = {
        // Data one byte short or long, in a first or a later chunk, full or partial.
        {{changed(c0, {}, -1)}, length}, {{changed(c0, {}, 1)}, length},
        {{changed(c1, {}, -1)}, length}, {{changed(c1, {}, 1)}, length},
        {{c1, changed(c0, {}, -1)}, length}, {{c1, changed(c0, {}, 1)}, length},
        {{c0, changed(c1, {}, -1)}, length}, {{c0, changed(c1, {}, 1)}, length},
        {{changed(c0, {}, -945)}, "truncated packet"}, // 31 bytes: no whole chunk header
        // Disagreeing with the first: length, count, revision, CRC; checked before duplicates.
        {{c0, map_chunks(transition_id, sector_id, 3, crc32(blob), blob_of(1501))[1]}, inconsistent},
        {{c0, map_chunks(transition_id, sector_id, 3, crc32(blob), blob_of(2000))[1]}, inconsistent},
        {{c0, chunks_of(blob, 4)[1]}, inconsistent},
        {{c0, map_chunks(transition_id, sector_id, 3, 0xBAD, blob)[1]}, inconsistent},
        {{c0, map_chunks(transition_id, sector_id, 3, 0xBAD, blob)[0]}, inconsistent},
        {{c0, changed(chunks_of(blob, 4)[0], {{100, 1, 0}})}, inconsistent},
        // The data length is judged by the chunk's own header: 556 bytes fit 1500, not 1501.
        {{c0, changed(chunks_of(blob_of(1501))[1], {}, -1)}, length},
        // A repeat must be identical, also after completion.
        {{c0, c0}, "pending"}, {{c0, flip(c0, 32)}, duplicate}, {{c0, flip(c0, 500)}, duplicate},
        {{c0, flip(c0, 975)}, duplicate}, {{c0, c1, c1}, "complete"}, {{c0, c1, flip(c1, 587)}, duplicate}};
    // clang-format on
    for (const auto& [list, message] : cases) EXPECT_EQ(deliver(list), message) << list.size();
    const Bytes sent = room().encode(); // 2 chunks, revision 3
    const auto finished = [](const std::vector<Writer>& list, std::uint64_t sector = sector_id) {
        MapAssembly assembly = fresh(sector);
        deliver(list, assembly);
        return error_of([&] { assembly.finish(); });
    };
    const auto parts = chunks_of(sent);
    const char *corrupt = "incomplete/corrupt map", *mismatch = "map identity mismatch";
    EXPECT_EQ(finished({}), corrupt);
    EXPECT_EQ(finished({parts[0]}), corrupt);
    EXPECT_EQ(finished(map_chunks(transition_id, sector_id, 3, crc32(sent) ^ 1, sent)), corrupt);
    EXPECT_EQ(finished(chunks_of(Bytes(1200, 0))), "sector version"); // the blob's own error
    // The blob must be the announced sector at the announced revision.
    EXPECT_EQ(finished(chunks_of(sent, 4)), mismatch);
    EXPECT_EQ(finished(map_chunks(transition_id, 9, 3, crc32(sent), sent), 9), mismatch);

    MapAssembly assembly = fresh();
    deliver({parts[0]}, assembly);
    assembly.reset(0, 0);
    EXPECT_TRUE(state(assembly) == state(MapAssembly{}));
}

// The room cut down to a smaller palette: dropped tiles become floor, the alcove wall.
Sector with_palette(std::size_t size) {
    Sector s = room();
    s.tiles.resize(size);
    for (auto& cell : s.cells)
        if (cell >= size) cell = cell == 3 ? 1 : 0;
    return s;
}

Sector changed(Sector next, int cell, std::uint8_t tile) {
    next.cells[cell] = tile, ++next.revision;
    return next;
}

// The patch with the CRC the changed sector has (0 when it cannot be encoded at all).
Writer patch(const Sector& current, int cell, std::uint8_t tile) {
    std::uint32_t crc = 0;
    error_of([&] { crc = crc32(changed(current, cell, tile).encode()); });
    return map_patch_payload(current.id, current.revision + 1, std::uint16_t(cell), tile, crc);
}

Sector apply(const Sector& current, const Writer& payload) {
    Reader in(payload.bytes);
    return apply_map_patch(current, in);
}

std::string refusal(const Sector& current, const Writer& payload) {
    return error_of([&] { apply(current, payload); });
}

TEST(MapPatch, LayoutAllowedChangesAndRefusals) {
    EXPECT_EQ(map_patch_payload(0x0102030405060708ull, 0x11121314, 0x0321, 7, 0x21222324).bytes,
              (Bytes{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x14, 0x13,
                     0x12, 0x11, 0x21, 0x03, 0x07, 0x00, 0x24, 0x23, 0x22, 0x21}));
    const Sector current = room();
    for (auto [cell, tile] : {std::pair{door, 0}, {lit, 6}, {pillar, 5}, {bright, 4}}) {
        const Sector expected = changed(current, cell, std::uint8_t(tile)); // cell and revision
        const Writer payload = map_patch_payload(expected, std::uint16_t(cell));
        EXPECT_EQ(payload.bytes, patch(current, cell, std::uint8_t(tile)).bytes);
        EXPECT_EQ(apply(current, payload), expected);
    }
    // The secret door opens whatever the palette size.
    const Sector small = with_palette(3);
    EXPECT_EQ(apply(small, patch(small, door, 0)), changed(small, door, 0));

    const std::uint64_t id = current.id;
    const std::uint32_t crc = crc32(changed(current, door, 0).encode());
    const auto raw = [&](auto... fields) { return map_patch_payload(fields..., crc); };
    EXPECT_EQ(refusal(current, raw(id, 4, door, 0)), "no error"); // the unedited one
    const char* invalid = "invalid map patch";
    // A repeat, one skipped, an older one, another sector, cells and tiles out of range.
    // clang-format off
    const std::pair<Writer, const char*> cases[] = {
        {raw(id, 3, door, 0), invalid}, {raw(id, 5, door, 0), invalid}, {raw(id, 2, door, 0), invalid},
        {raw(id + 1, 4, door, 0), invalid}, {raw(id, 4, 1024, 0), invalid}, {raw(id, 4, 0xFFFF, 0), invalid},
        {raw(id, 4, door, 8), invalid}, {raw(id, 4, door, 255), invalid},
        {changed(raw(id, 4, door, 0), {{15, 1, 1}}), invalid}, // reserved
        {map_patch_payload(id, 4, door, 0, crc32(current.encode())), "map patch checksum"},
        {map_patch_payload(id, 4, door, 0, crc ^ 0x80000000), "map patch checksum"},
        {changed(raw(id, 4, door, 0), {}, -1), "truncated packet"},
        {changed(raw(id, 4, door, 0), {}, 1), "trailing bytes"}};
    // Floor never becomes a secret door or a pillar, nor anything outside the table.
    const std::pair<int, std::uint8_t> outside[] = {
        {at(5, 5), 2}, {at(5, 5), 4}, {lit, 4}, {lit, 5}, {lit, 7}, {at(11, 10), 0},
        {door, 3}, {at(5, 5), 6}, {at(1, 5), 0}, {bright, 6}, {pillar, 7}};
    // clang-format on
    for (const auto& [payload, message] : cases) EXPECT_EQ(refusal(current, payload), message);
    for (auto [cell, tile] : outside)
        EXPECT_EQ(refusal(current, patch(current, cell, tile)), invalid) << cell;
    Sector last = current; // no revision follows the highest one; it does not wrap to 0
    last.revision = 0xFFFFFFFF;
    EXPECT_EQ(refusal(last, map_patch_payload(last.id, 0, door, 0, 0)), invalid);
    for (std::size_t size : {6u, 7u}) { // the pillar rows need the full palette
        const Sector small = with_palette(size);
        EXPECT_EQ(refusal(small, patch(small, pillar, 5)), invalid);
        EXPECT_EQ(refusal(small, patch(small, bright, 4)), invalid);
    }
    // The result must validate: a pillar in the only opening, or on the spawn cell.
    EXPECT_EQ(refusal(current, patch(current, gap, 4)), "disconnected walkable cells");
    Sector at_spawn = current;
    at_spawn.cells[at(2, 2)] = 5;
    EXPECT_EQ(refusal(at_spawn, patch(at_spawn, at(2, 2), 4)), "invalid spawn");
}

} // namespace
} // namespace kestrel
