// Chunked sector transfer and single-cell map patches, fed framed the way they arrive.
#include "world/map_transfer.h"

#include "tests/support/errors.h"
#include "tests/world/rooms.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using namespace test;

constexpr std::uint64_t transition_id = 0x1020304050607080ull;
constexpr std::uint64_t sector_id = 77;

// A closed room with the largest palette (256 tiles) and 16 portals, so that its blob
// (3520 bytes) needs four chunks, the last one partial.
Sector big_sector() {
    Sector s = open_room();
    s.id = sector_id;
    s.seed = 0xABCDEF;
    s.revision = 3;
    for (int i = 2; i < 256; ++i) s.tiles.push_back(Tile{1, 2, 3, 0, 0, 8, std::uint8_t(i)});
    s.cells[at(5, 5)] = 200;
    s.cells[at(6, 6)] = 255;
    for (std::uint16_t i = 0; i < 16; ++i)
        s.portals.push_back(Portal{i, std::uint16_t(at(4 + i, 10)), 900u + i, 1, 1, i * 7ull});
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

Writer changed(Writer w, const std::vector<Field>& fields) {
    w.bytes = with(w.bytes, fields);
    return w;
}

bool same(const MapAssembly& a, const MapAssembly& b) {
    return std::tie(a.transition, a.sector, a.revision, a.crc, a.bytes, a.received) ==
           std::tie(b.transition, b.sector, b.revision, b.crc, b.bytes, b.received);
}

MapAssembly fresh() {
    MapAssembly assembly;
    assembly.reset(transition_id, sector_id);
    return assembly;
}

// Frames the chunk into a MapChunk packet (a payload too big for one is handed over bare)
// and ingests it: "complete", "pending" or the refusal, after which the assembly must be
// unchanged. `unread` receives what the assembly left of the payload.
std::string deliver(MapAssembly& assembly, const Writer& payload, std::size_t* unread = nullptr) {
    const bool framed = payload.bytes.size() <= max_payload_size;
    const Bytes bytes = framed ? packet(Type::MapChunk, 9, 1, 4, payload) : payload.bytes;
    Reader in(bytes);
    if (framed) read_header(in);
    const MapAssembly before = assembly;
    bool complete = false;
    const std::string error = error_of([&] { complete = assembly.ingest(in); });
    if (unread) *unread = in.remaining();
    if (error != "no error") {
        EXPECT_TRUE(same(assembly, before)) << error;
        return error;
    }
    return complete ? "complete" : "pending";
}

TEST(MapChunks, LayoutAndCutPoints) {
    const Bytes blob = blob_of(4096);
    const auto chunks =
        map_chunks(0x0102030405060708ull, 0x1112131415161718ull, 0x21222324, 0x31323334, blob);
    ASSERT_EQ(chunks.size(), 5u);
    const Bytes head = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x18, 0x17, 0x16,
                        0x15, 0x14, 0x13, 0x12, 0x11, 0x24, 0x23, 0x22, 0x21, 0x00, 0x10,
                        0x00, 0x00, 0x34, 0x33, 0x32, 0x31, 0x03, 0x00, 0x05, 0x00};
    const Bytes& fourth = chunks[3].bytes;
    EXPECT_EQ(Bytes(fourth.begin(), fourth.begin() + 32), head);
    EXPECT_EQ(Bytes(fourth.begin() + 32, fourth.end()),
              Bytes(blob.begin() + 3 * 944, blob.begin() + 4 * 944));
    EXPECT_EQ(chunks[0].bytes.size(), 976u); // a full chunk fills a payload exactly
    EXPECT_EQ(chunks[4].bytes.size(), 32u + 4096 - 4 * 944);
    EXPECT_EQ(error_of([] { map_chunks(1, 1, 1, 0, blob_of(63)); }), "sector length");
    EXPECT_EQ(error_of([] { map_chunks(1, 1, 1, 0, blob_of(4097)); }), "sector length");
}

TEST(MapAssembly, AnyOrderAndRepeatsGiveTheSameSector) {
    const Sector sector = big_sector();
    const auto chunks = map_chunks(transition_id, sector);
    ASSERT_EQ(chunks.size(), 4u);
    MapAssembly in_order = fresh(), reversed = fresh();
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(deliver(in_order, chunks[i]), i == 3 ? "complete" : "pending");
    for (std::size_t i = 4; i-- > 0;) {
        std::size_t unread = 99;
        EXPECT_EQ(deliver(reversed, chunks[i]), i == 0 ? "complete" : "pending");
        EXPECT_EQ(deliver(reversed, chunks[i], &unread), i == 0 ? "complete" : "pending");
        EXPECT_EQ(unread, 0u);
    }
    EXPECT_TRUE(same(in_order, reversed));
    EXPECT_EQ(reversed.revision, 3u);
    EXPECT_EQ(reversed.crc, crc32(sector.encode()));
    EXPECT_EQ(reversed.finish(), sector);

    for (std::size_t length : {64u, 944u, 945u, 1888u, 1889u, 4096u}) {
        const Bytes blob = blob_of(length);
        const auto parts = chunks_of(blob);
        ASSERT_EQ(parts.size(), (length + 943) / 944);
        EXPECT_EQ(parts.back().bytes.size(), 32 + length - (parts.size() - 1) * 944);
        MapAssembly assembly = fresh();
        for (std::size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(deliver(assembly, parts[i]), i + 1 == parts.size() ? "complete" : "pending");
            EXPECT_EQ(assembly.bytes.size(), length);
            EXPECT_EQ(assembly.received.size(), parts.size());
        }
        EXPECT_EQ(assembly.bytes, blob);
    }
    // 945 bytes: the second chunk alone carries the single last byte.
    MapAssembly assembly = fresh();
    EXPECT_EQ(deliver(assembly, chunks_of(blob_of(945))[1]), "pending");
    EXPECT_EQ(assembly.received, (std::vector<bool>{false, true}));
    EXPECT_EQ(assembly.bytes[944], blob_of(945)[944]);
    EXPECT_EQ(assembly.bytes[0], 0);
}

TEST(MapAssembly, OtherTransferIsSkippedUnread) {
    const auto chunks = chunks_of(blob_of(1500));
    for (bool started : {false, true}) {
        MapAssembly assembly = fresh();
        if (started) deliver(assembly, chunks[0]);
        const MapAssembly before = assembly;
        for (auto [t, s] :
             {std::pair{transition_id + 1, sector_id}, {transition_id, sector_id + 1}}) {
            // Even a malformed chunk of another transfer is skipped before its checks.
            for (std::uint32_t revision : {3u, 0u}) {
                const Writer other = map_chunks(t, s, revision, 0, blob_of(1500))[1];
                std::size_t unread = 0;
                EXPECT_EQ(deliver(assembly, other, &unread), "pending");
                EXPECT_EQ(unread, other.bytes.size() - 32);
                EXPECT_TRUE(same(assembly, before));
            }
        }
    }
}

TEST(MapAssembly, Refusals) {
    const Bytes blob = blob_of(1500); // chunks of 944 and 556 bytes
    const auto chunks = chunks_of(blob);
    Writer too_short = chunks_of(blob_of(64))[0], too_long = chunks_of(blob_of(4096))[4];
    too_short.bytes.pop_back(); // one byte outside the length bounds, the data fitting it
    too_long.u8(0);
    Writer index_and_length = changed(chunks[1], {{28, 2, 2}});
    index_and_length.u8(0); // metadata is checked before the data length
    const Writer invalid[] = {changed(chunks[0], {{16, 4, 0}}), // revision 0
                              changed(too_short, {{20, 4, 63}}),
                              changed(too_long, {{20, 4, 4097}}),
                              changed(chunks[0], {{20, 4, 0xFFFFFFFF}}),
                              changed(chunks[0], {{30, 2, 3}}), // 1500 bytes are 2 chunks
                              changed(chunks[0], {{30, 2, 1}}),
                              changed(chunks[1], {{28, 2, 2}}), // index == count
                              changed(chunks[1], {{28, 2, 0xFFFF}}),
                              index_and_length};
    for (bool started : {false, true}) {
        MapAssembly assembly = fresh();
        if (started) deliver(assembly, chunks[0]);
        for (const Writer& chunk : invalid)
            EXPECT_EQ(deliver(assembly, chunk), "invalid chunk metadata");
        for (std::size_t index : {0u, 1u}) {
            MapAssembly other_first = fresh();
            if (started) deliver(other_first, chunks[1 - index]);
            Writer shorter = chunks[index], longer = chunks[index];
            shorter.bytes.pop_back();
            longer.u8(0);
            EXPECT_EQ(deliver(other_first, shorter), "invalid chunk length");
            EXPECT_EQ(deliver(other_first, longer), "invalid chunk length");
        }
    }
    Writer stub = chunks[0]; // too short for the chunk header
    stub.bytes.resize(31);
    MapAssembly assembly = fresh();
    EXPECT_EQ(deliver(assembly, stub), "truncated packet");

    // Self-consistent chunks that disagree with what the first chunk announced: length,
    // length and count, revision, CRC, CRC on a repeat.
    deliver(assembly, chunks[0]);
    const Writer inconsistent[] = {
        map_chunks(transition_id, sector_id, 3, crc32(blob), blob_of(1501))[1],
        map_chunks(transition_id, sector_id, 3, crc32(blob), blob_of(2000))[1],
        chunks_of(blob, 4)[1],
        map_chunks(transition_id, sector_id, 3, 0xBAD, blob)[1],
        map_chunks(transition_id, sector_id, 3, 0xBAD, blob)[0],
        changed(chunks_of(blob, 4)[0], {{100, 1, 0}}), // consistency before duplicates
    };
    for (const Writer& chunk : inconsistent)
        EXPECT_EQ(deliver(assembly, chunk), "inconsistent chunks");
    // The data length is checked against the chunk's own header first: 556 bytes fit the
    // first chunk's 1500 but not this chunk's 1501.
    Writer sized_for_first = chunks_of(blob_of(1501))[1];
    sized_for_first.bytes.pop_back();
    EXPECT_EQ(deliver(assembly, sized_for_first), "invalid chunk length");
    for (std::size_t offset : {32u, 500u, 975u}) {
        EXPECT_EQ(
            deliver(assembly, changed(chunks[0], {{offset, 1, chunks[0].bytes[offset] ^ 0x40u}})),
            "conflicting duplicate chunk");
        EXPECT_EQ(deliver(assembly, chunks[0]), "pending"); // an identical repeat is fine
    }
    // After completion too, and the finished buffer stays intact.
    EXPECT_EQ(deliver(assembly, chunks[1]), "complete");
    EXPECT_EQ(deliver(assembly, changed(chunks[1], {{587, 1, chunks[1].bytes[587] ^ 1u}})),
              "conflicting duplicate chunk");
    EXPECT_EQ(assembly.bytes, blob);
}

TEST(MapAssembly, FinishAndReset) {
    const Sector sector = big_sector(); // id 77, revision 3
    const Bytes blob = sector.encode();
    const auto finished = [](std::uint64_t sector, const std::vector<Writer>& chunks,
                             std::size_t count) {
        MapAssembly assembly;
        assembly.reset(transition_id, sector);
        for (std::size_t i = 0; i < count; ++i) deliver(assembly, chunks[i]);
        return error_of([&] { assembly.finish(); });
    };
    const auto chunks = map_chunks(transition_id, sector);
    EXPECT_EQ(finished(sector_id, chunks, 0), "incomplete/corrupt map");
    EXPECT_EQ(finished(sector_id, chunks, 3), "incomplete/corrupt map");
    EXPECT_EQ(finished(sector_id, chunks, 4), "no error");
    const auto corrupt = map_chunks(transition_id, sector_id, 3, crc32(blob) ^ 1, blob);
    EXPECT_EQ(finished(sector_id, corrupt, 4), "incomplete/corrupt map");
    // The blob's own format errors come through unchanged.
    EXPECT_EQ(finished(sector_id, chunks_of(Bytes(1200, 0)), 2), "sector version");
    // The blob must be the announced sector at the announced revision.
    const auto revision_4 = map_chunks(transition_id, sector_id, 4, crc32(blob), blob);
    EXPECT_EQ(finished(sector_id, revision_4, 4), "map identity mismatch");
    const auto other = map_chunks(transition_id, sector_id + 1, 3, crc32(blob), blob);
    EXPECT_EQ(finished(sector_id + 1, other, 4), "map identity mismatch");

    MapAssembly assembly = fresh(), empty;
    deliver(assembly, chunks[0]);
    assembly.reset(5, 6);
    empty.transition = 5;
    empty.sector = 6;
    EXPECT_TRUE(same(assembly, empty));
}

// ---- patches

constexpr int door = at(10, 10), pillar = at(20, 20), lit = at(19, 19), bright = at(16, 16);
constexpr int gap = at(15, 25); // the only way into rows 26..30

// A closed room with the decorated palette: a secret door in front of a one-cell secret
// alcove, a lit pillar ringed by lit floor, a bright floor cell, and a wall across row 25
// whose single opening is a bright floor cell.
Sector room() {
    Sector s = open_room();
    s.id = 0x5EC7'0000'0042ull;
    s.seed = 4;
    s.revision = 3;
    s.tiles = {Tile{1, 2, 3, 0x00, 0, 8, 192}, Tile{1, 2, 3, 0x03, 0, 8, 160},
               Tile{1, 2, 3, 0x0B, 0, 8, 130}, Tile{1, 2, 3, 0x08, 0, 8, 160},
               Tile{1, 2, 3, 0x03, 0, 8, 210}, Tile{1, 2, 3, 0x00, 0, 8, 210},
               Tile{1, 2, 3, 0x00, 0, 8, 55},  Tile{1, 2, 3, 0x00, 0, 8, 235}};
    carve(s, 1, 25, 30, 25, 1);
    s.cells[door] = 2;
    s.cells[at(11, 10)] = 3;
    s.cells[at(11, 9)] = s.cells[at(12, 10)] = s.cells[at(11, 11)] = 1;
    carve(s, 19, 19, 21, 21, 7);
    s.cells[pillar] = 4;
    s.cells[bright] = s.cells[gap] = 5;
    s.portals.push_back(Portal{1, std::uint16_t(at(28, 28)), 99, 0, 1, 0});
    return s;
}

// The room cut down to a smaller palette: dropped tiles become plain floor, the alcove
// plain wall.
Sector with_palette(std::size_t size) {
    Sector s = room();
    s.tiles.resize(size);
    for (auto& cell : s.cells)
        if (cell >= size) cell = cell == 3 ? 1 : 0;
    return s;
}

Sector changed(const Sector& current, int cell, std::uint8_t tile) {
    Sector next = current;
    next.cells[cell] = tile;
    next.revision = current.revision + 1;
    return next;
}

// The patch with the CRC the changed sector has (0 when it cannot be encoded at all).
Writer patch(const Sector& current, int cell, std::uint8_t tile) {
    const Sector next = changed(current, cell, tile);
    std::uint32_t crc = 0;
    error_of([&] { crc = crc32(next.encode()); });
    return map_patch_payload(next.id, next.revision, std::uint16_t(cell), tile, crc);
}

// Frames the patch into a MapPatch packet and applies it; `current` is never touched.
Sector apply(const Sector& current, const Writer& payload) {
    const Bytes bytes = packet(Type::MapPatch, 9, 1, 4, payload);
    Reader in(bytes);
    read_header(in);
    const Sector before = current;
    Sector next = apply_map_patch(current, in);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(current, before);
    return next;
}

std::string refusal(const Sector& current, const Writer& payload) {
    const Sector before = current;
    const std::string message = error_of([&] { apply(current, payload); });
    EXPECT_EQ(current, before);
    return message;
}

TEST(MapPatch, LayoutAndEveryAllowedChange) {
    EXPECT_EQ(map_patch_payload(0x0102030405060708ull, 0x11121314, 0x0321, 7, 0x21222324).bytes,
              (Bytes{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x14, 0x13,
                     0x12, 0x11, 0x21, 0x03, 0x07, 0x00, 0x24, 0x23, 0x22, 0x21}));
    const Sector current = room();
    ASSERT_NO_THROW(current.validate());
    for (auto [cell, tile] : {std::pair{door, 0}, {lit, 6}, {pillar, 5}, {bright, 4}}) {
        const Sector expected = changed(current, cell, std::uint8_t(tile));
        // Only the cell and the revision differ.
        EXPECT_EQ(apply(current, map_patch_payload(expected, std::uint16_t(cell))), expected);
        EXPECT_EQ(map_patch_payload(expected, std::uint16_t(cell)).bytes,
                  patch(current, cell, std::uint8_t(tile)).bytes);
    }
    // The secret door opens whatever the palette size.
    const Sector small = with_palette(3);
    EXPECT_EQ(apply(small, patch(small, door, 0)), changed(small, door, 0));
    // Successive patches chain revisions; an old revision's patch no longer fits.
    const Sector second = apply(current, patch(current, pillar, 5));
    const Sector third = apply(second, patch(second, pillar, 4));
    EXPECT_EQ(third.revision, 5u);
    EXPECT_EQ(third.cells, current.cells);
    EXPECT_EQ(refusal(third, patch(current, pillar, 5)), "invalid map patch");
}

TEST(MapPatch, Refusals) {
    const Sector current = room();
    const std::uint32_t crc = crc32(changed(current, door, 0).encode());
    const auto raw = [&](std::uint64_t id, std::uint32_t revision, std::uint16_t cell,
                         std::uint8_t tile) {
        return map_patch_payload(id, revision, cell, tile, crc);
    };
    EXPECT_EQ(refusal(current, raw(current.id, 4, door, 0)), "no error"); // the unedited one
    Writer reserved = raw(current.id, 4, door, 0);
    reserved.bytes[15] = 1;
    Sector last = current; // no revision follows the highest one; it does not wrap to 0
    last.revision = 0xFFFFFFFF;
    Writer shorter = patch(current, door, 0), longer = patch(current, door, 0);
    shorter.bytes.pop_back();
    longer.u8(0);
    const std::uint32_t old_crc = crc32(current.encode());
    const std::pair<Writer, const char*> cases[] = {
        {raw(current.id, 3, door, 0), "invalid map patch"}, // a repeat
        {raw(current.id, 5, door, 0), "invalid map patch"}, // one skipped
        {raw(current.id, 2, door, 0), "invalid map patch"},
        {raw(current.id + 1, 4, door, 0), "invalid map patch"},
        {raw(current.id, 4, 1024, 0), "invalid map patch"},
        {raw(current.id, 4, 0xFFFF, 0), "invalid map patch"},
        {raw(current.id, 4, door, 8), "invalid map patch"},
        {raw(current.id, 4, door, 255), "invalid map patch"},
        {reserved, "invalid map patch"},
        {map_patch_payload(current.id, 4, door, 0, old_crc), "map patch checksum"},
        {map_patch_payload(current.id, 4, door, 0, crc ^ 0x80000000), "map patch checksum"},
        {shorter, "truncated packet"},
        {longer, "trailing bytes"}};
    for (const auto& [payload, message] : cases) EXPECT_EQ(refusal(current, payload), message);
    EXPECT_EQ(refusal(last, map_patch_payload(last.id, 0, door, 0, 0)), "invalid map patch");

    // Changes outside the table: floor never becomes a secret door or a pillar, ...
    const std::pair<int, std::uint8_t> outside[] = {
        {at(5, 5), 2}, {at(5, 5), 4}, {lit, 4},      {lit, 5},    {lit, 7},   {at(11, 10), 0},
        {door, 3},     {at(5, 5), 6}, {at(1, 5), 0}, {bright, 6}, {pillar, 7}};
    for (auto [cell, tile] : outside)
        EXPECT_EQ(refusal(current, patch(current, cell, tile)), "invalid map patch") << cell;
    // ... and the pillar rows need the full palette.
    for (std::size_t size : {6u, 7u}) {
        const Sector small = with_palette(size);
        ASSERT_NO_THROW(small.validate());
        EXPECT_EQ(refusal(small, patch(small, pillar, 5)), "invalid map patch");
        EXPECT_EQ(refusal(small, patch(small, bright, 4)), "invalid map patch");
    }
    // The patched sector must validate: a pillar in the only opening seals off the south,
    // one on the spawn cell leaves no room for the player.
    EXPECT_EQ(refusal(current, patch(current, gap, 4)), "disconnected walkable cells");
    Sector at_spawn = current;
    at_spawn.cells[at(2, 2)] = 5;
    ASSERT_NO_THROW(at_spawn.validate());
    EXPECT_EQ(refusal(at_spawn, patch(at_spawn, at(2, 2), 4)), "invalid spawn");
}

} // namespace
} // namespace kestrel
