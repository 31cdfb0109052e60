// The sector blob format, the validation rules and the collision grids.
#include "world/sector.h"

#include "tests/support/errors.h"
#include "tests/world/rooms.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestrel {
namespace {

using namespace test;
using Change = std::function<void(Sector&)>;

// The validation message of a room (by default open_room()) after the change.
std::string error_with(const Change& change, Sector sector = open_room()) {
    change(sector);
    return error_of([&] { sector.validate(); });
}

TEST(Checksums, Crc32AndSplitMix64) {
    const auto crc = [](std::string_view s) {
        return crc32({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
    };
    EXPECT_EQ(crc("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(crc(""), 0u);
    // SplitMix64 seeded with 0 emits mix64(0), mix64(G), ...
    EXPECT_EQ(mix64(0), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(mix64(0x9E3779B97F4A7C15ull), 0x6E789E6AA1B965F4ull);
}

TEST(SectorEncode, LayoutAndRoundTrip) {
    // Every member away from its default, so a dropped or swapped field shows up.
    Sector sector = open_room();
    sector.id = 0x0123456789ABCDEFull;
    sector.seed = 0xFEDCBA9876543210ull;
    sector.revision = 0x80000001u;
    sector.spawn_x = 5 * 256 + 77;
    sector.spawn_y = 9 * 256 + 200;
    sector.spawn_yaw = 0xBEEF;
    sector.tiles.push_back(Tile{9, 8, 7, 0x0C, -20, 90, 17});
    sector.tiles.push_back(Tile{250, 251, 252, 0x0B, 127, -128, 0});
    sector.cells[at(10, 10)] = 2;
    sector.cells[at(20, 20)] = 3;
    sector.portals = {Portal{7, 396, 0x1122334455667788ull, 0xA1B2, 2, 0x99AABBCCDDEEFF00ull},
                      Portal{0, 451, 1, 0, 0, 0}};
    // spawn_height (0) comes before spawn_yaw, then ruleset 1 and a reserved 0; each tile
    // ends in a zero byte.
    // clang-format off
    Bytes expected = {
        'S', 'E', 'C', 'T', 1, 0, 64, 0, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01,
        0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 1, 0, 0, 0, 1, 0, 0, 0x80,
        32, 0, 32, 0, 4, 0, 2, 0, 0, 4, 0, 0, 0x90, 0x04, 0, 0,
        77, 5, 200, 9, 0, 0, 0xEF, 0xBE, 1, 0, 0, 0, 0, 0, 0, 0,
        1, 2, 3, 0, 0, 8, 192, 0, 1, 2, 3, 3, 0, 8, 160, 0,
        9, 8, 7, 0x0C, 0xEC, 90, 17, 0, 250, 251, 252, 0x0B, 127, 0x80, 0, 0};
    expected.insert(expected.end(), sector.cells.begin(), sector.cells.end());
    expected.insert(expected.end(), {
        7, 0, 0x8C, 1, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0xB2, 0xA1, 2, 0,
        0x00, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0, 0, 0xC3, 1, 1, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    // clang-format on
    EXPECT_EQ(sector.encode(), expected);
    EXPECT_EQ(Sector::decode(expected), sector);

    // The largest valid sector: 256 tiles, named by cells, and 16 portals.
    Sector full = open_room();
    for (int i = 2; i < 256; ++i) full.tiles.push_back(Tile{std::uint8_t(i), 2, 3, 0, 0, 8, 100});
    for (int i = 0; i < 16; ++i) full.portals.push_back(portal_at(i, 5 + i, 20));
    for (int i = 0; i < 256; ++i) full.cells[at(4 + i % 20, 4 + i / 20)] = std::uint8_t(i);
    EXPECT_EQ(full.encode().size(), 3520u);
    EXPECT_EQ(Sector::decode(full.encode()), full);
    // Never encoded invalid, so an invalid sector reports its rule, not its size.
    EXPECT_EQ(error_of([] { Sector{}.encode(); }), "open sector boundary");
    full.portals.push_back(portal_at(16, 25, 20));
    EXPECT_EQ(error_of([&] { full.encode(); }), "invalid sector metadata");
}

TEST(SectorDecode, RefusalsInOrder) {
    const Bytes blob = open_room().encode(); // 2 tiles, 1104 bytes
    // Rulesets 1 to 3 are read, none is kept.
    EXPECT_EQ(Sector::decode(with(blob, {{56, 4, 2}})), open_room());
    EXPECT_EQ(Sector::decode(with(blob, {{56, 4, 3}})), open_room());
    // Counts past their limits with a total that agrees: 17 portals, 257 tiles.
    Bytes many_portals = blob, many_tiles = blob, longer = blob, padded = blob;
    many_portals.resize(1104 + 17 * 24);
    many_tiles.insert(many_tiles.begin() + 80, 255 * 8, 0);
    longer.push_back(0);
    padded.resize(4097);
    const Bytes header(blob.begin(), blob.begin() + 64), shorter(blob.begin(), blob.end() - 1);
    const char *counts = "sector counts", *version = "sector version",
               *dimensions = "sector dimensions", *ruleset = "sector ruleset";
    struct Case {
        Bytes blob;
        std::vector<test::Field> fields;
        const char* message;
    };
    // clang-format off
    const Case cases[] = {
        {Bytes(63, 0), {}, "sector length"}, {padded, {}, "sector length"},
        {Bytes(padded.begin(), padded.end() - 1), {}, counts}, // 4096 is read
        {header, {}, counts}, {header, {{44, 4, 64}}, counts}, {longer, {}, counts},
        {longer, {{44, 4, 1105}}, counts}, // the total agrees, the formula not
        {shorter, {}, counts}, {blob, {{36, 2, 0}}, counts}, {blob, {{36, 2, 257}}, counts},
        {blob, {{36, 2, 3}}, counts}, // in range, but the total disagrees
        {blob, {{38, 2, 17}}, counts}, {many_portals, {{38, 2, 17}, {44, 4, 1512}}, counts},
        {many_tiles, {{36, 2, 257}, {44, 4, 3144}}, counts}, {blob, {{40, 4, 1023}}, counts},
        {blob, {{0, 1, 'R'}}, version}, {blob, {{3, 1, 'S'}}, version}, // magic
        {blob, {{4, 2, 2}}, version}, {blob, {{6, 2, 63}}, version},
        {blob, {{32, 2, 31}}, dimensions}, {blob, {{34, 2, 33}}, dimensions},
        {blob, {{56, 4, 0}}, ruleset}, {blob, {{56, 4, 4}}, ruleset},
        {blob, {{56, 4, 0xFFFFFFFF}}, ruleset}, {blob, {{63, 1, 1}}, ruleset}, // reserved
        {blob, {{79, 1, 1}}, "tile reserved"},
        {blob, {{80, 1, 0}}, "open sector boundary"}, // validation runs last
        {blob, {{80, 1, 0}, {28, 4, 0}}, "invalid sector metadata"},
        // Each case breaks one check and every check after it.
        {blob, {{4, 2, 9}, {32, 2, 1}, {36, 2, 0}, {56, 4, 0}}, version},
        {blob, {{32, 2, 16}, {38, 2, 99}, {56, 4, 7}}, dimensions},
        {blob, {{40, 4, 0}, {60, 4, 5}, {71, 1, 1}}, counts},
        {blob, {{56, 4, 0}, {71, 1, 1}}, ruleset}, {blob, {{79, 1, 1}, {8, 8, 0}}, "tile reserved"}};
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { Sector::decode(with(c.blob, c.fields)); }), c.message);
}

TEST(Validation, MetadataTilesSpawnAndBorder) {
    const char *meta = "invalid sector metadata", *spawn = "invalid spawn";
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
        // A secret walkable tile is still open: only blocks_walk closes the border.
        {[](Sector& s) { s.tiles.push_back({1, 2, 3, 0x0A, 0, 8, 0}), s.cells[at(31, 20)] = 2; },
         "open sector boundary"},
        // An all-floor sector has no solid cell for the clearance test to hit, so only the
        // coordinate range can reject its spawn.
        {[](Sector& s) { s = Sector{}, s.spawn_x = 56; }, spawn},
        {[](Sector& s) { s = Sector{}, s.spawn_x = 57; }, "open sector boundary"}};
    // Tiles no cell uses: the palette alone is checked. Walkable tiles need a headroom of
    // at least 7/8 cell, compared signed (flag 2 alone is walkable); solid ones may have any.
    const std::pair<Tile, bool> tiles[] = {
        {{1, 2, 3, 15, 0, 8, 0}, true}, {{1, 2, 3, 16, 0, 8, 0}, false}, {{1, 2, 3, 0x81, 0, 8, 0}, false},
        {{1, 2, 3, 0, 0, 6, 0}, false}, {{1, 2, 3, 0, 0, 7, 0}, true}, {{1, 2, 3, 0, -100, -94, 0}, false},
        {{1, 2, 3, 0, -100, -93, 0}, true}, {{1, 2, 3, 0, -128, 127, 0}, true}, {{1, 2, 3, 8, 20, 10, 0}, false},
        {{1, 2, 3, 2, 0, 0, 0}, false}, {{1, 2, 3, 1, 0, 0, 0}, true}, {{1, 2, 3, 3, 127, -128, 0}, true}};
    // The coordinate range (56 * 256 is below the body radius, 8136 past 32 cells minus
    // it) and the clearance from the border: 313 leaves 14592 units to column 1's west
    // edge, 312 only 14336; column 31 starts at 2031616. Off the south-east corner of a
    // lone pillar at (5, 5), 14482 units away is clear, 14301 is not.
    const std::tuple<int, int, bool> spawns[] = {
        {56, 640, false}, {640, 56, false}, {640, 8136, false}, {313, 2688, true}, {312, 2688, false},
        {2688, 313, true}, {2688, 312, false}, {7879, 2688, true}, {7880, 2688, false},
        {1576, 1576, true}, {1575, 1576, false}};
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(error_with(cases[i].first), cases[i].second) << "case " << i;
    for (const auto& [tile, valid] : tiles)
        EXPECT_EQ(error_with([&](Sector& s) { s.tiles.push_back(tile); }),
                  valid ? "no error" : "invalid tile definition")
            << int(tile.flags) << " " << int(tile.floor_height) << " " << int(tile.ceiling_height);
    for (const auto& [x, y, valid] : spawns)
        EXPECT_EQ(error_with([&](Sector& s) {
                      s.cells[at(5, 5)] = 1, s.spawn_x = std::uint16_t(x),
                                    s.spawn_y = std::uint16_t(y);
                  }),
                  valid ? "no error" : spawn)
            << x << "," << y;
    for (int cell : {at(7, 0), at(7, 31), at(0, 7), at(31, 7), 0, 31, 992, 1023})
        EXPECT_EQ(error_with([&](Sector& s) { s.cells[cell] = 0; }), "open sector boundary")
            << cell;
}

TEST(Validation, ReachabilityAndPortals) {
    // An open room split by a solid wall on column 16: the east half is sealed off.
    Sector split = open_room();
    carve(split, 16, 1, 30, 30, 1);
    // A 2x2 island of secret floor (tile 2) in the sealed half, one cell of it `tile`.
    const auto island = [](std::uint8_t tile) {
        return [tile](Sector& s) {
            s.tiles.push_back(Tile{1, 2, 3, 0x08, 0, 8, 160});
            carve(s, 20, 10, 21, 11, 2);
            s.cells[at(21, 11)] = tile;
        };
    };
    // Cells touching only at a corner are not connected: a notch at (16, 6) is reached
    // from (15, 6), (17, 5) only touches it.
    const auto notch = [](Sector& s) { s.cells[at(16, 6)] = s.cells[at(17, 5)] = 0; };
    const auto portals = [](std::vector<Portal> list) {
        return [list](Sector& s) { s.portals = list; };
    };
    const char *apart = "disconnected walkable cells", *portal = "invalid portal";
    Portal open_link = portal_at(1, 5, 5), no_target = open_link, bad_flags = open_link,
           off_grid = open_link;
    open_link.link_flags = 3;
    no_target.target = 0;
    bad_flags.link_flags = 4;
    off_grid.cell = 1024;
    // On a wall, on the border, a repeated id, a repeated cell; the secret island itself is
    // allowed, a portal on it is not.
    // clang-format off
    const std::pair<Change, const char*> cases[] = {
        {[](Sector&) {}, "no error"}, {island(2), "no error"}, {island(0), apart},
        {[](Sector& s) { s.cells[at(20, 10)] = 0; }, apart}, {notch, apart},
        {[&](Sector& s) { notch(s), s.cells[at(17, 6)] = 0; }, "no error"},
        {portals({portal_at(1, 5, 5), portal_at(0, 6, 5)}), "no error"},
        {portals({open_link}), "no error"}, {portals({no_target}), portal},
        {portals({bad_flags}), portal}, {portals({off_grid}), portal},
        {portals({portal_at(1, 16, 5)}), portal}, {portals({portal_at(1, 0, 5)}), portal},
        {portals({portal_at(1, 5, 5), portal_at(1, 6, 5)}), portal},
        {portals({portal_at(1, 5, 5), portal_at(2, 5, 5)}), portal},
        {[&](Sector& s) { island(2)(s), s.portals = {portal_at(1, 20, 10)}; }, portal}};
    // Each change breaks the named rule and every rule after it.
    const std::pair<Change, const char*> earliest[] = {
        {[](Sector& s) { s.cells[at(20, 10)] = 0, s.portals = {portal_at(1, 16, 3)}; }, apart},
        {[](Sector& s) { s.cells[at(0, 9)] = 0; }, "open sector boundary"},
        {[](Sector& s) { s.spawn_x = 16 * 256 + 128; }, "invalid spawn"},
        {[](Sector& s) { s.cells[at(3, 3)] = 9; }, "invalid tile index"},
        {[](Sector& s) { s.tiles.push_back(Tile{1, 2, 3, 0, 4, 8, 0}); }, "invalid tile definition"},
        {[](Sector& s) { s.revision = 0; }, "invalid sector metadata"}};
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(error_with(cases[i].first, split), cases[i].second) << "case " << i;
    for (const auto& [change, message] : earliest) {
        change(split);
        EXPECT_EQ(error_with([](Sector&) {}, split), message);
    }
}

TEST(Collision, GridsAndBodyClearance) {
    Sector sector = open_room();
    carve(sector, 16, 1, 30, 30, 1);
    sector.tiles.push_back(Tile{1, 2, 3, 0x01, 0, 8, 0}); // blocks walking only
    sector.tiles.push_back(Tile{1, 2, 3, 0x02, 0, 8, 0}); // blocks the secondary test only
    sector.cells[at(4, 4)] = 2;
    sector.cells[at(5, 4)] = 3;
    const Grid walk = sector.collision(false), secondary = sector.collision(true);
    // clang-format off
    for (auto [cell, w, s] : {std::tuple{0, 1, 1}, {at(2, 2), 0, 0}, {at(16, 5), 1, 1},
                              {at(20, 5), 1, 1}, {at(4, 4), 1, 0}, {at(5, 4), 0, 1}})
        EXPECT_EQ(walk[cell] * 2 + secondary[cell], w * 2 + s) << cell; // clang-format on
    sector.cells[at(3, 3)] = 7;
    EXPECT_THROW(sector.collision(false), std::out_of_range);
    // Touching at exactly the radius is clear; outside the grid counts as blocked.
    Grid blocked{};
    blocked[at(10, 10)] = 1;
    const std::int32_t y = 10 * 65536 + 32768;
    for (auto [x, clear] : {std::pair{10 * 65536 - 14418, true},
                            {10 * 65536 - 14417, false},
                            {14418, true},
                            {14417, false}})
        EXPECT_EQ(body_clear(blocked, x, y), clear) << x;
}

} // namespace
} // namespace kestrel
