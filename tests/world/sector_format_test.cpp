#include "world/sector.h"

#include "tests/support/errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrel {
namespace {

using test::error_of;

std::string decode_error(const Bytes& blob) {
    return error_of([&] { Sector::decode(blob); });
}

std::span<const std::uint8_t> ascii(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Solid outer ring, open floor inside.
Sector open_room() {
    Sector sector;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            sector.cells[y * 32 + x] = (x == 0 || y == 0 || x == 31 || y == 31) ? 1 : 0;
    return sector;
}

// Every member away from its default, so a dropped or swapped field shows up.
Sector busy_sector() {
    Sector sector = open_room();
    sector.id = 0x0123456789ABCDEFull;
    sector.seed = 0xFEDCBA9876543210ull;
    sector.revision = 0x80000001u;
    sector.spawn_x = 5 * 256 + 77;
    sector.spawn_y = 9 * 256 + 200;
    sector.spawn_yaw = 0xBEEF;
    sector.tiles.push_back(Tile{9, 8, 7, 0x0C, -20, 90, 17});
    sector.tiles.push_back(Tile{250, 251, 252, 0x0B, 127, -128, 0});
    sector.cells[10 * 32 + 10] = 2;
    sector.cells[20 * 32 + 20] = 3;
    sector.portals.push_back(
        Portal{7, 12 * 32 + 12, 0x1122334455667788ull, 0xA1B2, 2, 0x99AABBCCDDEEFF00ull});
    sector.portals.push_back(Portal{0, 14 * 32 + 3, 1, 0, 0, 0});
    return sector;
}

// The largest valid sector: 256 tiles and 16 portals.
Sector full_sector() {
    Sector sector = open_room();
    while (sector.tiles.size() < 256)
        sector.tiles.push_back(
            Tile{static_cast<std::uint8_t>(sector.tiles.size()), 2, 3, 0, 0, 8, 100});
    for (int i = 0; i < 16; ++i)
        sector.portals.push_back(Portal{static_cast<std::uint16_t>(i),
                                        static_cast<std::uint16_t>(20 * 32 + 5 + i), 2, 0, 1,
                                        static_cast<std::uint64_t>(i)});
    // Cells name every tile; tile 1 is the wall, the rest are floors.
    for (int i = 0; i < 256; ++i) sector.cells[4 * 32 + 4 + i % 20 + (i / 20) * 32] = i;
    return sector;
}

std::uint16_t u16_at(const Bytes& blob, std::size_t offset) {
    return static_cast<std::uint16_t>(blob[offset] | blob[offset + 1] << 8);
}

std::uint32_t u32_at(const Bytes& blob, std::size_t offset) {
    return u16_at(blob, offset) | std::uint32_t{u16_at(blob, offset + 2)} << 16;
}

std::uint64_t u64_at(const Bytes& blob, std::size_t offset) {
    return u32_at(blob, offset) | std::uint64_t{u32_at(blob, offset + 4)} << 32;
}

void put_u16(Bytes& blob, std::size_t offset, std::uint16_t value) {
    blob[offset] = static_cast<std::uint8_t>(value);
    blob[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put_u32(Bytes& blob, std::size_t offset, std::uint32_t value) {
    put_u16(blob, offset, static_cast<std::uint16_t>(value));
    put_u16(blob, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

TEST(Checksums, Crc32MatchesZlibCheckValues) {
    EXPECT_EQ(crc32(ascii("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(ascii("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
    EXPECT_EQ(crc32({}), 0u);
}

TEST(Checksums, Mix64IsTheSplitMix64Sequence) {
    // SplitMix64 seeded with 0 emits mix64(0), mix64(G), mix64(2G), ...
    constexpr std::uint64_t G = 0x9E3779B97F4A7C15ull;
    EXPECT_EQ(mix64(0), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(mix64(G), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(mix64(2 * G), 0x06C45D188009454Full);
}

TEST(SectorEncode, RoundTripsEveryMember) {
    const Sector original = busy_sector();
    const Sector decoded = Sector::decode(original.encode());
    EXPECT_EQ(decoded.id, original.id);
    EXPECT_EQ(decoded.seed, original.seed);
    EXPECT_EQ(decoded.schema, original.schema);
    EXPECT_EQ(decoded.revision, original.revision);
    EXPECT_EQ(decoded.spawn_x, original.spawn_x);
    EXPECT_EQ(decoded.spawn_y, original.spawn_y);
    EXPECT_EQ(decoded.spawn_yaw, original.spawn_yaw);
    EXPECT_EQ(decoded.spawn_height, original.spawn_height);
    EXPECT_EQ(decoded.tiles, original.tiles);
    EXPECT_EQ(decoded.cells, original.cells);
    EXPECT_EQ(decoded.portals, original.portals);
    EXPECT_EQ(decoded, original);
}

TEST(SectorEncode, WritesTheDocumentedLayout) {
    const Sector sector = busy_sector();
    const Bytes blob = sector.encode();
    const std::size_t tiles = 4;
    ASSERT_EQ(blob.size(), 64 + 8 * tiles + 1024 + 24 * 2);
    EXPECT_EQ(std::memcmp(blob.data(), "SECT", 4), 0);
    EXPECT_EQ(u16_at(blob, 4), 1);
    EXPECT_EQ(u16_at(blob, 6), 64);
    EXPECT_EQ(u64_at(blob, 8), sector.id);
    EXPECT_EQ(u64_at(blob, 16), sector.seed);
    EXPECT_EQ(u32_at(blob, 24), 1u);
    EXPECT_EQ(u32_at(blob, 28), sector.revision);
    EXPECT_EQ(u16_at(blob, 32), 32);
    EXPECT_EQ(u16_at(blob, 34), 32);
    EXPECT_EQ(u16_at(blob, 36), tiles);
    EXPECT_EQ(u16_at(blob, 38), 2);
    EXPECT_EQ(u32_at(blob, 40), 1024u);
    EXPECT_EQ(u32_at(blob, 44), blob.size());
    EXPECT_EQ(u16_at(blob, 48), sector.spawn_x);
    EXPECT_EQ(u16_at(blob, 50), sector.spawn_y);
    EXPECT_EQ(u16_at(blob, 52), 0);      // spawn_height comes first on the wire
    EXPECT_EQ(u16_at(blob, 54), 0xBEEF); // then spawn_yaw
    EXPECT_EQ(u32_at(blob, 56), 1u);     // ruleset
    EXPECT_EQ(u32_at(blob, 60), 0u);

    const Bytes tile3(blob.begin() + 64 + 3 * 8, blob.begin() + 64 + 4 * 8);
    EXPECT_EQ(tile3, (Bytes{250, 251, 252, 0x0B, 127, 0x80, 0, 0}));
    const Bytes tile2(blob.begin() + 64 + 2 * 8, blob.begin() + 64 + 3 * 8);
    EXPECT_EQ(tile2, (Bytes{9, 8, 7, 0x0C, 0xEC, 90, 17, 0}));

    const std::size_t cells = 64 + 8 * tiles;
    EXPECT_EQ(blob[cells + 0], 1);
    EXPECT_EQ(blob[cells + 33], 0);
    EXPECT_EQ(blob[cells + 10 * 32 + 10], 2);
    EXPECT_EQ(blob[cells + 20 * 32 + 20], 3);

    const std::size_t portal = cells + 1024;
    EXPECT_EQ(u16_at(blob, portal), 7);
    EXPECT_EQ(u16_at(blob, portal + 2), 12 * 32 + 12);
    EXPECT_EQ(u64_at(blob, portal + 4), 0x1122334455667788ull);
    EXPECT_EQ(u16_at(blob, portal + 12), 0xA1B2);
    EXPECT_EQ(u16_at(blob, portal + 14), 2);
    EXPECT_EQ(u64_at(blob, portal + 16), 0x99AABBCCDDEEFF00ull);
    EXPECT_EQ(u16_at(blob, portal + 24), 0);
    EXPECT_EQ(u16_at(blob, portal + 26), 14 * 32 + 3);
}

TEST(SectorEncode, LargestSectorIs3520Bytes) {
    const Sector sector = full_sector();
    const Bytes blob = sector.encode();
    EXPECT_EQ(blob.size(), 3520u);
    EXPECT_EQ(Sector::decode(blob), sector);
}

TEST(SectorEncode, InvalidSectorIsNeverEncoded) {
    // A default sector has no solid border; a sector that is valid never exceeds 3520 bytes,
    // so the validation message is what an invalid one reports, not "sector too large".
    EXPECT_EQ(error_of([] { Sector{}.encode(); }), "open sector boundary");
    Sector broken = open_room();
    broken.portals.resize(17, Portal{1, 40, 2, 0, 1, 0});
    EXPECT_EQ(error_of([&] { broken.encode(); }), "invalid sector metadata");
}

TEST(SectorDecode, AcceptsRulesetsOneToThree) {
    const Bytes blob = open_room().encode();
    for (std::uint32_t ruleset : {1u, 2u, 3u}) {
        Bytes changed = blob;
        put_u32(changed, 56, ruleset);
        EXPECT_EQ(Sector::decode(changed), open_room()) << ruleset;
    }
    for (std::uint32_t ruleset : {0u, 4u, 0xFFFFFFFFu}) {
        Bytes changed = blob;
        put_u32(changed, 56, ruleset);
        EXPECT_EQ(decode_error(changed), "sector ruleset") << ruleset;
    }
    Bytes reserved = blob;
    reserved[63] = 1;
    EXPECT_EQ(decode_error(reserved), "sector ruleset");
}

TEST(SectorDecode, LengthIsCheckedBeforeAnythingIsRead) {
    EXPECT_EQ(decode_error(Bytes(63, 0)), "sector length");
    EXPECT_EQ(decode_error(Bytes(0)), "sector length");
    Bytes padded = full_sector().encode();
    padded.resize(4097, 0);
    EXPECT_EQ(decode_error(padded), "sector length");
    // At exactly 4096 bytes the header is read and the counts disagree instead.
    padded.resize(4096);
    EXPECT_EQ(decode_error(padded), "sector counts");
}

TEST(SectorDecode, HeaderOnlyBlobHasImpossibleCounts) {
    Bytes blob = open_room().encode();
    blob.resize(64);
    EXPECT_EQ(decode_error(blob), "sector counts");
    put_u32(blob, 44, 64);
    EXPECT_EQ(decode_error(blob), "sector counts");
}

TEST(SectorDecode, CountsMustMatchTheBlob) {
    const Bytes blob = busy_sector().encode();

    Bytes longer = blob;
    longer.push_back(0);
    EXPECT_EQ(decode_error(longer), "sector counts");
    put_u32(longer, 44, static_cast<std::uint32_t>(longer.size())); // total agrees, formula not
    EXPECT_EQ(decode_error(longer), "sector counts");

    Bytes shorter(blob.begin(), blob.end() - 1);
    EXPECT_EQ(decode_error(shorter), "sector counts");

    const auto with = [&](std::size_t offset, std::uint32_t value, bool wide) {
        Bytes changed = blob;
        if (wide)
            put_u32(changed, offset, value);
        else
            put_u16(changed, offset, static_cast<std::uint16_t>(value));
        return decode_error(changed);
    };
    EXPECT_EQ(with(36, 0, false), "sector counts");
    EXPECT_EQ(with(36, 257, false), "sector counts");
    EXPECT_EQ(with(36, 3, false), "sector counts"); // in range, but the total disagrees
    EXPECT_EQ(with(38, 17, false), "sector counts");
    EXPECT_EQ(with(40, 1023, true), "sector counts");
}

TEST(SectorDecode, HeaderFieldsMustMatch) {
    const Bytes blob = open_room().encode();
    const auto with = [&](std::size_t offset, std::uint16_t value) {
        Bytes changed = blob;
        put_u16(changed, offset, value);
        return decode_error(changed);
    };
    EXPECT_EQ(with(0, 0x4553 ^ 1), "sector version"); // magic
    EXPECT_EQ(with(2, 0x5454), "sector version");
    EXPECT_EQ(with(4, 2), "sector version");
    EXPECT_EQ(with(6, 63), "sector version");
    EXPECT_EQ(with(32, 31), "sector dimensions");
    EXPECT_EQ(with(34, 33), "sector dimensions");
}

TEST(SectorDecode, ReservedTileByteMustBeZero) {
    Bytes blob = open_room().encode();
    blob[64 + 8 + 7] = 1;
    EXPECT_EQ(decode_error(blob), "tile reserved");
}

TEST(SectorDecode, ValidationRunsLast) {
    Bytes blob = open_room().encode();
    blob[64 + 8 * 2 + 0] = 0; // open the border
    EXPECT_EQ(decode_error(blob), "open sector boundary");
    put_u32(blob, 28, 0); // revision 0
    EXPECT_EQ(decode_error(blob), "invalid sector metadata");
}

TEST(SectorDecode, ReportsTheFirstFailingCheck) {
    const Bytes blob = open_room().encode();
    // Each case breaks one check and every check after it.
    Bytes version_and_more = blob;
    put_u16(version_and_more, 4, 9);
    put_u16(version_and_more, 32, 1);
    put_u16(version_and_more, 36, 0);
    put_u32(version_and_more, 56, 0);
    EXPECT_EQ(decode_error(version_and_more), "sector version");

    Bytes dims_and_more = blob;
    put_u16(dims_and_more, 32, 16);
    put_u16(dims_and_more, 38, 99);
    put_u32(dims_and_more, 56, 7);
    EXPECT_EQ(decode_error(dims_and_more), "sector dimensions");

    Bytes counts_and_more = blob;
    put_u32(counts_and_more, 40, 0);
    put_u32(counts_and_more, 60, 5);
    counts_and_more[64 + 7] = 1;
    EXPECT_EQ(decode_error(counts_and_more), "sector counts");

    Bytes ruleset_and_more = blob;
    put_u32(ruleset_and_more, 56, 0);
    ruleset_and_more[64 + 7] = 1;
    EXPECT_EQ(decode_error(ruleset_and_more), "sector ruleset");

    Bytes reserved_and_invalid = blob;
    reserved_and_invalid[64 + 15] = 1;
    put_u32(reserved_and_invalid, 8, 0); // id 0 would fail validation
    put_u32(reserved_and_invalid, 12, 0);
    EXPECT_EQ(decode_error(reserved_and_invalid), "tile reserved");

    Bytes length_and_version(blob.begin(), blob.begin() + 63);
    length_and_version[0] = 0;
    EXPECT_EQ(decode_error(length_and_version), "sector length");
}

} // namespace
} // namespace kestrel
