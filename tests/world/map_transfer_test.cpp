// Chunked sector transfer and single-cell map patches.
#include "world/map_transfer.h"

#include "tests/support/errors.h"
#include "tests/world/rooms.h"
#include "world/generate.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using namespace test;

constexpr std::uint64_t transition_id = 0x1020304050607080ull, sector_id = 0x5EC7'0000'0042ull;
constexpr int door = at(10, 10), pillar = at(20, 20), lit = at(19, 19), bright = at(16, 16);
constexpr int gap = at(15, 25); // the only way into rows 26..30

// A closed room with the decorated palette: a secret door in front of a one-cell secret
// alcove, a lit pillar ringed by lit floor, a bright floor cell, and a wall across row 25
// whose single opening is a bright floor cell.
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

// Ingests the chunks in turn: "complete", "pending" or the last one's refusal, after which
// the assembly must be unchanged. `unread`: what the last one left of its payload.
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

TEST(MapAssembly, Refusals) {
    const Bytes blob = blob_of(1500); // chunks of 944 and 556 bytes
    const auto chunks = chunks_of(blob);
    const Writer &c0 = chunks[0], &c1 = chunks[1];
    // Revision 0; lengths one past each bound (the data fitting them); counts other than
    // ceil(1500 / 944); index == count; the metadata is checked before the data length.
    // clang-format off
    const Writer invalid[] = {
        changed(c0, {{16, 4, 0}}), changed(chunks_of(blob_of(64))[0], {{20, 4, 63}}, -1),
        changed(chunks_of(blob_of(4096))[4], {{20, 4, 4097}}, 1), changed(c0, {{20, 4, 0xFFFFFFFF}}),
        changed(c0, {{30, 2, 3}}), changed(c0, {{30, 2, 1}}), changed(c1, {{28, 2, 2}}),
        changed(c1, {{28, 2, 0xFFFF}}), changed(c1, {{28, 2, 2}}, 1)};
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
    const auto flip = [](const Writer& c, std::size_t at) {
        return changed(c, {{at, 1, c.bytes[at] ^ 0x40u}});
    };
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
        // Self-consistent chunks that disagree with the first: length, length and count,
        // revision, CRC, CRC on a repeat; consistency is checked before duplicates.
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
}

TEST(MapAssembly, FinishAndReset) {
    const Bytes blob = room().encode(); // 2 chunks, revision 3
    const auto finished = [](const std::vector<Writer>& chunks, std::uint64_t sector = sector_id) {
        MapAssembly assembly = fresh(sector);
        deliver(chunks, assembly);
        return error_of([&] { assembly.finish(); });
    };
    const auto chunks = chunks_of(blob);
    const char *corrupt = "incomplete/corrupt map", *mismatch = "map identity mismatch";
    EXPECT_EQ(finished({}), corrupt);
    EXPECT_EQ(finished({chunks[0]}), corrupt);
    EXPECT_EQ(finished(map_chunks(transition_id, sector_id, 3, crc32(blob) ^ 1, blob)), corrupt);
    EXPECT_EQ(finished(chunks), "no error");
    EXPECT_EQ(finished(chunks_of(Bytes(1200, 0))), "sector version"); // the blob's own error
    // The blob must be the announced sector at the announced revision.
    EXPECT_EQ(finished(chunks_of(blob, 4)), mismatch);
    EXPECT_EQ(finished(map_chunks(transition_id, 9, 3, crc32(blob), blob), 9), mismatch);

    MapAssembly assembly = fresh();
    deliver({chunks[0]}, assembly);
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
    // Successive patches chain revisions; an old revision's patch no longer fits.
    const Sector second = apply(current, patch(current, pillar, 5));
    const Sector third = apply(second, patch(second, pillar, 4));
    EXPECT_EQ(std::tuple(third.revision, third.cells), std::tuple(5u, current.cells));
    EXPECT_EQ(refusal(third, patch(current, pillar, 5)), "invalid map patch");

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
    // The patched sector must validate: a pillar in the only opening seals off the south,
    // one on the spawn cell leaves no room for the player.
    EXPECT_EQ(refusal(current, patch(current, gap, 4)), "disconnected walkable cells");
    Sector at_spawn = current;
    at_spawn.cells[at(2, 2)] = 5;
    EXPECT_EQ(refusal(at_spawn, patch(at_spawn, at(2, 2), 4)), "invalid spawn");
}

} // namespace
} // namespace kestrel
