// The sector blob format, the validation rules and the collision grids.
#include "world/sector.h"

#include "tests/support/errors.h"
#include "tests/world/rooms.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestrel {
namespace {

using namespace test;

// Open room split by a solid wall on column 16: the east half is sealed off.
Sector split_room() {
    Sector sector = open_room();
    carve(sector, 16, 1, 30, 30, 1);
    return sector;
}

std::string decode_error(const Bytes& blob) {
    return error_of([&] { Sector::decode(blob); });
}

TEST(Checksums, Crc32AndSplitMix64) {
    const std::string check = "123456789", fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(crc32({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
              0xCBF43926u);
    EXPECT_EQ(crc32({reinterpret_cast<const std::uint8_t*>(fox.data()), fox.size()}), 0x414FA339u);
    EXPECT_EQ(crc32({}), 0u);
    // SplitMix64 seeded with 0 emits mix64(0), mix64(G), mix64(2G), ...
    constexpr std::uint64_t G = 0x9E3779B97F4A7C15ull;
    EXPECT_EQ(mix64(0), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(mix64(G), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(mix64(2 * G), 0x06C45D188009454Full);
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
    const Bytes blob = sector.encode();
    EXPECT_EQ(Sector::decode(blob), sector);
    ASSERT_EQ(blob.size(), 64 + 8 * 4 + 1024 + 24 * 2);
    // Header: spawn_height (0) comes before spawn_yaw, then ruleset 1 and a reserved 0.
    const Bytes header = {'S',  'E',  'C',  'T',  1,    0,    64,   0,    0xEF, 0xCD, 0xAB,
                          0x89, 0x67, 0x45, 0x23, 0x01, 0x10, 0x32, 0x54, 0x76, 0x98, 0xBA,
                          0xDC, 0xFE, 1,    0,    0,    0,    1,    0,    0,    0x80, 32,
                          0,    32,   0,    4,    0,    2,    0,    0,    4,    0,    0,
                          0x90, 0x04, 0,    0,    77,   5,    200,  9,    0,    0,    0xEF,
                          0xBE, 1,    0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 64), header);
    const Bytes tiles = {9, 8, 7, 0x0C, 0xEC, 90, 17, 0, 250, 251, 252, 0x0B, 127, 0x80, 0, 0};
    EXPECT_EQ(Bytes(blob.begin() + 64 + 16, blob.begin() + 96), tiles);
    EXPECT_EQ(Bytes(blob.begin() + 96, blob.begin() + 1120),
              Bytes(sector.cells.begin(), sector.cells.end()));
    const Bytes portals = {7,    0,    0x8C, 1,    0x88, 0x77, 0x66, 0x55, 0x44, 0x33,
                           0x22, 0x11, 0xB2, 0xA1, 2,    0,    0x00, 0xFF, 0xEE, 0xDD,
                           0xCC, 0xBB, 0xAA, 0x99, 0,    0,    0xC3, 1};
    EXPECT_EQ(Bytes(blob.begin() + 1120, blob.begin() + 1148), portals);

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
    struct Case {
        Bytes blob;
        std::vector<test::Field> fields;
        const char* message;
    };
    const Case cases[] = {
        {Bytes(63, 0), {}, "sector length"},
        {Bytes(), {}, "sector length"},
        {padded, {}, "sector length"},
        {Bytes(padded.begin(), padded.end() - 1), {}, "sector counts"}, // 4096 is read
        {Bytes(blob.begin(), blob.begin() + 64), {}, "sector counts"},
        {Bytes(blob.begin(), blob.begin() + 64), {{44, 4, 64}}, "sector counts"},
        {longer, {}, "sector counts"},
        {longer, {{44, 4, 1105}}, "sector counts"}, // the total agrees, the formula not
        {Bytes(blob.begin(), blob.end() - 1), {}, "sector counts"},
        {blob, {{36, 2, 0}}, "sector counts"},
        {blob, {{36, 2, 257}}, "sector counts"},
        {blob, {{36, 2, 3}}, "sector counts"}, // in range, but the total disagrees
        {blob, {{38, 2, 17}}, "sector counts"},
        {many_portals, {{38, 2, 17}, {44, 4, 1512}}, "sector counts"},
        {many_tiles, {{36, 2, 257}, {44, 4, 3144}}, "sector counts"},
        {blob, {{40, 4, 1023}}, "sector counts"},
        {blob, {{0, 1, 'R'}}, "sector version"}, // magic
        {blob, {{3, 1, 'S'}}, "sector version"},
        {blob, {{4, 2, 2}}, "sector version"},
        {blob, {{6, 2, 63}}, "sector version"},
        {blob, {{32, 2, 31}}, "sector dimensions"},
        {blob, {{34, 2, 33}}, "sector dimensions"},
        {blob, {{56, 4, 0}}, "sector ruleset"},
        {blob, {{56, 4, 4}}, "sector ruleset"},
        {blob, {{56, 4, 0xFFFFFFFF}}, "sector ruleset"},
        {blob, {{63, 1, 1}}, "sector ruleset"}, // reserved
        {blob, {{79, 1, 1}}, "tile reserved"},
        {blob, {{80, 1, 0}}, "open sector boundary"}, // validation runs last
        {blob, {{80, 1, 0}, {28, 4, 0}}, "invalid sector metadata"},
        // Each case breaks one check and every check after it.
        {blob, {{4, 2, 9}, {32, 2, 1}, {36, 2, 0}, {56, 4, 0}}, "sector version"},
        {blob, {{32, 2, 16}, {38, 2, 99}, {56, 4, 7}}, "sector dimensions"},
        {blob, {{40, 4, 0}, {60, 4, 5}, {71, 1, 1}}, "sector counts"},
        {blob, {{56, 4, 0}, {71, 1, 1}}, "sector ruleset"},
        {blob, {{79, 1, 1}, {8, 8, 0}}, "tile reserved"},
        {Bytes(blob.begin(), blob.begin() + 63), {{0, 1, 0}}, "sector length"}};
    for (const Case& c : cases) EXPECT_EQ(decode_error(with(c.blob, c.fields)), c.message);
}

std::string validation_error(const Sector& sector) {
    return error_of([&] { sector.validate(); });
}

TEST(Validation, MetadataTilesSpawnAndBorder) {
    const char* meta = "invalid sector metadata";
    const std::pair<std::function<void(Sector&)>, const char*> cases[] = {
        {[](Sector&) {}, "no error"},
        {[](Sector& s) { s.id = 0; }, meta},
        {[](Sector& s) { s.revision = 0; }, meta},
        {[](Sector& s) { s.schema = 2; }, meta},
        {[](Sector& s) { s.schema = 0; }, meta},
        {[](Sector& s) { s.tiles.clear(); }, meta},
        {[](Sector& s) { s.tiles.resize(257); }, meta},
        {[](Sector& s) { s.tiles.resize(256); }, "no error"},
        {[](Sector& s) { s.portals.assign(17, portal_at(0, 5, 5)); }, meta},
        {[](Sector& s) { s.cells[at(31, 31)] = 2; }, "invalid tile index"},
        {[](Sector& s) { s.spawn_height = 1; }, "invalid spawn"},
        {[](Sector& s) { s.cells[at(2, 2)] = 1; }, "invalid spawn"},
        // A secret walkable tile is still open: only blocks_walk closes the border.
        {[](Sector& s) {
             s.tiles.push_back({1, 2, 3, 0x0A, 0, 8, 0}), s.cells[at(31, 20)] = 2;
         },
         "open sector boundary"},
        // An all-floor sector has no solid cell for the clearance test to hit, so only the
        // coordinate range can reject its spawn.
        {[](Sector& s) { s = Sector{}, s.spawn_x = 56; }, "invalid spawn"},
        {[](Sector& s) { s = Sector{}, s.spawn_x = 57; }, "open sector boundary"}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Sector sector = open_room();
        cases[i].first(sector);
        EXPECT_EQ(validation_error(sector), cases[i].second) << "case " << i;
    }
    Sector sector = open_room();
    for (int i = 0; i < 16; ++i) sector.portals.push_back(portal_at(i, 5 + i, 5));
    EXPECT_EQ(validation_error(sector), "no error");

    // Tiles no cell uses: the palette alone is checked. Walkable tiles need a headroom of
    // at least 7/8 cell, compared signed (flag 2 alone is walkable); solid ones may have any.
    const std::pair<Tile, bool> tiles[] = {
        {{1, 2, 3, 15, 0, 8, 0}, true},     {{1, 2, 3, 16, 0, 8, 0}, false},
        {{1, 2, 3, 0x81, 0, 8, 0}, false},  {{1, 2, 3, 0, 0, 6, 0}, false},
        {{1, 2, 3, 0, 0, 7, 0}, true},      {{1, 2, 3, 0, -100, -94, 0}, false},
        {{1, 2, 3, 0, -100, -93, 0}, true}, {{1, 2, 3, 0, -128, 127, 0}, true},
        {{1, 2, 3, 8, 20, 10, 0}, false},   {{1, 2, 3, 2, 0, 0, 0}, false},
        {{1, 2, 3, 1, 0, 0, 0}, true},      {{1, 2, 3, 3, 127, -128, 0}, true}};
    for (const auto& [tile, valid] : tiles) {
        sector = open_room();
        sector.tiles.push_back(tile);
        EXPECT_EQ(validation_error(sector), valid ? "no error" : "invalid tile definition")
            << int(tile.flags) << " " << int(tile.floor_height) << " " << int(tile.ceiling_height);
    }
    // The coordinate range (56 * 256 is below the body radius, 8136 past 32 cells minus
    // it) and the clearance from the border: 313 leaves 14592 units to column 1's west
    // edge, 312 only 14336; column 31 starts at 2031616. Off the south-east corner of a
    // lone pillar at (5, 5), 14482 units away is clear, 14301 is not.
    const std::tuple<int, int, bool> spawns[] = {
        {56, 640, false},    {640, 56, false},   {640, 8136, false}, {313, 2688, true},
        {312, 2688, false},  {2688, 313, true},  {2688, 312, false}, {7879, 2688, true},
        {7880, 2688, false}, {1576, 1576, true}, {1575, 1576, false}};
    for (const auto& [x, y, valid] : spawns) {
        sector = open_room();
        sector.cells[at(5, 5)] = 1;
        sector.spawn_x = std::uint16_t(x);
        sector.spawn_y = std::uint16_t(y);
        EXPECT_EQ(validation_error(sector), valid ? "no error" : "invalid spawn") << x << "," << y;
    }
    for (int cell : {at(7, 0), at(7, 31), at(0, 7), at(31, 7), 0, 31, 992, 1023}) {
        sector = open_room();
        sector.cells[cell] = 0;
        EXPECT_EQ(validation_error(sector), "open sector boundary") << cell;
    }
}

TEST(Validation, ReachabilityAndPortals) {
    const auto error_with = [](std::function<void(Sector&)> change) {
        Sector sector = split_room();
        change(sector);
        const Sector before = sector;
        const std::string message = error_of([&] { sector.validate(); });
        EXPECT_EQ(sector, before); // validation never modifies the sector
        return message;
    };
    const auto island = [](std::uint8_t tile) {
        return [tile](Sector& s) {
            s.tiles.push_back(Tile{1, 2, 3, 0x08, 0, 8, 160}); // secret floor, tile 2
            for (int cell : {at(20, 10), at(21, 10), at(20, 11), at(21, 11)}) s.cells[cell] = 2;
            s.cells[at(21, 11)] = tile;
        };
    };
    const char *apart = "disconnected walkable cells", *portal = "invalid portal";
    EXPECT_EQ(error_with([](Sector&) {}), "no error");
    // A sealed island is disconnected unless every cell of it is secret floor.
    EXPECT_EQ(error_with(island(2)), "no error");
    EXPECT_EQ(error_with(island(0)), apart);
    EXPECT_EQ(error_with([](Sector& s) { s.cells[at(20, 10)] = 0; }), apart);
    // Cells touching only at a corner are not connected: a notch at (16, 6) is reached
    // from (15, 6), (17, 5) only touches it.
    const auto notch = [](Sector& s) { s.cells[at(16, 6)] = s.cells[at(17, 5)] = 0; };
    EXPECT_EQ(error_with(notch), apart);
    EXPECT_EQ(error_with([&](Sector& s) { notch(s), s.cells[at(17, 6)] = 0; }), "no error");

    Portal open_link = portal_at(1, 5, 5), no_target = open_link, bad_flags = open_link,
           off_grid = open_link;
    open_link.link_flags = 3;
    no_target.target = 0;
    bad_flags.link_flags = 4;
    off_grid.cell = 1024;
    // On a wall, on the border, a repeated id, a repeated cell.
    const std::pair<std::vector<Portal>, const char*> portals[] = {
        {{portal_at(1, 5, 5), portal_at(0, 6, 5)}, "no error"},
        {{open_link}, "no error"},
        {{no_target}, portal},
        {{bad_flags}, portal},
        {{off_grid}, portal},
        {{portal_at(1, 16, 5)}, portal},
        {{portal_at(1, 0, 5)}, portal},
        {{portal_at(1, 5, 5), portal_at(1, 6, 5)}, portal},
        {{portal_at(1, 5, 5), portal_at(2, 5, 5)}, portal}};
    for (const auto& [list, message] : portals)
        EXPECT_EQ(error_with([&](Sector& s) { s.portals = list; }), message) << list.size();
    // The secret island itself is allowed, a portal on it is not.
    EXPECT_EQ(error_with([&](Sector& s) { island(2)(s), s.portals = {portal_at(1, 20, 10)}; }),
              portal);

    // Each sector breaks the named rule and every rule after it.
    const std::pair<std::function<void(Sector&)>, const char*> earliest[] = {
        {[](Sector& s) { s.cells[at(20, 10)] = 0, s.portals = {portal_at(1, 16, 3)}; }, apart},
        {[](Sector& s) { s.cells[at(0, 9)] = 0; }, "open sector boundary"},
        {[](Sector& s) { s.spawn_x = 16 * 256 + 128; }, "invalid spawn"},
        {[](Sector& s) { s.cells[at(3, 3)] = 9; }, "invalid tile index"},
        {[](Sector& s) {
             s.tiles.push_back(Tile{1, 2, 3, 0, 4, 8, 0});
         },
         "invalid tile definition"},
        {[](Sector& s) { s.revision = 0; }, "invalid sector metadata"}};
    Sector sector = split_room();
    for (const auto& [change, message] : earliest) {
        change(sector);
        EXPECT_EQ(error_of([&] { sector.validate(); }), message);
    }
}

TEST(Collision, GridsAndBodyClearance) {
    Sector sector = split_room();
    sector.tiles.push_back(Tile{1, 2, 3, 0x01, 0, 8, 0}); // blocks walking only
    sector.tiles.push_back(Tile{1, 2, 3, 0x02, 0, 8, 0}); // blocks the secondary test only
    sector.cells[at(4, 4)] = 2;
    sector.cells[at(5, 4)] = 3;
    const Grid walk = sector.collision(false), secondary = sector.collision(true);
    for (auto [cell, w, s] : {std::tuple{0, 1, 1},
                              {at(2, 2), 0, 0},
                              {at(16, 5), 1, 1},
                              {at(20, 5), 1, 1},
                              {at(4, 4), 1, 0},
                              {at(5, 4), 0, 1}}) {
        EXPECT_EQ(walk[cell], w) << cell;
        EXPECT_EQ(secondary[cell], s) << cell;
    }
    sector.cells[at(3, 3)] = 7;
    EXPECT_THROW(sector.collision(false), std::out_of_range);

    // Touching at exactly the radius is clear; outside the grid counts as blocked.
    Grid blocked{};
    blocked[at(10, 10)] = 1;
    const std::int32_t y = 10 * 65536 + 32768;
    EXPECT_TRUE(body_clear(blocked, 10 * 65536 - 14418, y));
    EXPECT_FALSE(body_clear(blocked, 10 * 65536 - 14417, y));
    EXPECT_TRUE(body_clear(blocked, 14418, y));
    EXPECT_FALSE(body_clear(blocked, 14417, y));
}

} // namespace
} // namespace kestrel
