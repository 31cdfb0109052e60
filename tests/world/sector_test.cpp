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

// The validation message of a sector (by default open_room()) after the change.
std::string error_with(const Change& change, Sector sector = open_room()) {
    change(sector);
    return error_of([&] { sector.validate(); });
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
    // spawn_height (0) before spawn_yaw, ruleset 1, reserved 0; a zero byte ends each tile.
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
    // Never encoded invalid, so an invalid sector reports its rule.
    EXPECT_EQ(error_of([] { Sector{}.encode(); }), "open sector boundary");
}

TEST(SectorDecode, RefusalsInOrder) {
    const Bytes blob = open_room().encode(); // 2 tiles, 1104 bytes
    // Rulesets 1 to 3 are read, none is kept.
    EXPECT_EQ(Sector::decode(with(blob, {{56, 4, 2}})), open_room());
    EXPECT_EQ(Sector::decode(with(blob, {{56, 4, 3}})), open_room());
    // The blob resized (zero-padded) to `size`, then the fields overwritten.
    struct Case {
        std::vector<Field> fields;
        const char* message;
        std::size_t size = 1104;
    };
    const char *counts = "sector counts", *version = "sector version",
               *dimensions = "sector dimensions", *ruleset = "sector ruleset";
    // clang-format off
    const Case cases[] = {
        {{{0, 1, 0}}, "sector length", 63}, {{}, "sector length", 4097}, {{}, counts, 4096},
        {{}, counts, 1105}, {{}, counts, 1103}, {{{44, 4, 1105}}, counts, 1105}, // formula
        {{{36, 2, 0}}, counts}, {{{36, 2, 257}}, counts}, {{{36, 2, 3}}, counts}, {{{38, 2, 17}}, counts},
        {{{38, 2, 17}, {44, 4, 1512}}, counts, 1512}, {{{36, 2, 257}, {44, 4, 3144}}, counts, 3144},
        {{{40, 4, 1023}}, counts}, {{{0, 1, 'R'}}, version}, {{{3, 1, 'S'}}, version},
        {{{4, 2, 2}}, version}, {{{6, 2, 63}}, version}, {{{32, 2, 31}}, dimensions},
        {{{34, 2, 33}}, dimensions}, {{{56, 4, 0}}, ruleset}, {{{56, 4, 4}}, ruleset},
        {{{56, 4, 0xFFFFFFFF}}, ruleset}, {{{63, 1, 1}}, ruleset}, {{{79, 1, 1}}, "tile reserved"},
        {{{80, 1, 0}}, "open sector boundary"}, {{{80, 1, 0}, {28, 4, 0}}, "invalid sector metadata"},
        // Each case breaks one check and every check after it.
        {{{4, 2, 9}, {32, 2, 1}, {36, 2, 0}, {56, 4, 0}}, version},
        {{{32, 2, 16}, {38, 2, 99}, {56, 4, 7}}, dimensions},
        {{{40, 4, 0}, {60, 4, 5}, {71, 1, 1}}, counts}, {{{56, 4, 0}, {71, 1, 1}}, ruleset},
        {{{79, 1, 1}, {8, 8, 0}}, "tile reserved"}};
    // clang-format on
    for (const Case& c : cases) {
        Bytes bytes = blob;
        bytes.resize(c.size);
        EXPECT_EQ(error_of([&] { Sector::decode(with(bytes, c.fields)); }), c.message) << c.size;
    }
}

TEST(Validation, MetadataTilesSpawnAndBorder) {
    const char *meta = "invalid sector metadata", *spawn = "invalid spawn";
    // An all-floor sector has no solid cell for the clearance test to hit, so only the
    // coordinate range can reject its spawn. A secret walkable tile leaves the border open.
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
    // Tiles no cell uses: walkable ones need a headroom of at least 7/8 cell, compared signed
    // (flag 2 alone is walkable); solid ones may have any.
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
        EXPECT_EQ(error_with(cases[i].first), cases[i].second) << "case " << i;
    for (const auto& [tile, valid] : tiles)
        EXPECT_EQ(error_with([&](Sector& s) { s.tiles.push_back(tile); }),
                  valid ? "no error" : "invalid tile definition");
    for (const auto& [x, y, valid] : spawns) {
        const Change p = [&](Sector& s) { s.cells[at(5, 5)] = 1, s.spawn_x = x, s.spawn_y = y; };
        EXPECT_EQ(error_with(p), valid ? "no error" : spawn) << x << "," << y;
    }
    for (int cell : {at(7, 0), at(7, 31), at(0, 7), at(31, 7), 0, 31, 992, 1023})
        EXPECT_EQ(error_with([&](Sector& s) { s.cells[cell] = 0; }), "open sector boundary")
            << cell;
}

TEST(Validation, ReachabilityAndPortals) {
    Sector split = open_room(); // a wall on column 16 seals off the east half
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
    const auto portals = [](std::vector<Portal> list) {
        return [list](Sector& s) { s.portals = list; };
    };
    const char *apart = "disconnected walkable cells", *portal = "invalid portal";
    Portal open_link = portal_at(1, 5, 5), no_target = open_link, bad_flags = open_link,
           off_grid = open_link;
    open_link.link_flags = 3, no_target.target = 0, bad_flags.link_flags = 4, off_grid.cell = 1024;
    // On a wall, on the border, a repeated id, a repeated cell, on the secret island.
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
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(error_with(cases[i].first, split), cases[i].second) << "case " << i;
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

} // namespace
} // namespace kestrel
