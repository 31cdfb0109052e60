#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "protocol/codec.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

constexpr std::uint64_t transition_id = 0x1020304050607080ull;
constexpr std::uint64_t sector_id = 77;

// A closed 32x32 room with the largest palette (256 tiles) and 16 portals, so that its blob
// (3520 bytes) needs four chunks, the last one partial.
Sector big_sector() {
    Sector s;
    s.id = sector_id;
    s.seed = 0xABCDEF;
    s.revision = 3;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            s.cells[y * 32 + x] = (x == 0 || y == 0 || x == 31 || y == 31) ? 1 : 0;
    for (int i = 2; i < 256; ++i) s.tiles.push_back(Tile{1, 2, 3, 0, 0, 8, std::uint8_t(i)});
    s.cells[5 * 32 + 5] = 200; // some cells name the later palette entries
    s.cells[6 * 32 + 6] = 255;
    for (std::uint16_t i = 0; i < 16; ++i)
        s.portals.push_back(Portal{i, std::uint16_t(10 * 32 + 4 + i), 900u + i, 1, 1, i * 7ull});
    return s;
}

// Test blob of any length; MapAssembly does not decode before finish().
Bytes blob_of(std::size_t length) {
    Bytes blob(length);
    for (std::size_t i = 0; i < length; ++i) blob[i] = std::uint8_t(i * 31 + 7);
    return blob;
}

std::vector<Writer> chunks_of(const Bytes& blob, std::uint32_t revision = 3) {
    return map_chunks(transition_id, sector_id, revision, crc32(blob), blob);
}

void put_u16(Writer& w, std::size_t offset, std::uint16_t v) {
    w.bytes[offset] = std::uint8_t(v);
    w.bytes[offset + 1] = std::uint8_t(v >> 8);
}

void put_u32(Writer& w, std::size_t offset, std::uint32_t v) {
    put_u16(w, offset, std::uint16_t(v));
    put_u16(w, offset + 2, std::uint16_t(v >> 16));
}

// A chunk as it arrives: framed into a MapChunk packet, header read, then handed over.
struct Delivery {
    bool complete;
    std::uint64_t unread;
};

// A payload too big for any packet (a full chunk plus one byte) is handed over bare.
Delivery deliver(MapAssembly& assembly, const Writer& payload) {
    const bool framed = payload.bytes.size() <= max_payload_size;
    const Bytes bytes = framed ? packet(Type::MapChunk, 9, 1, 4, payload) : payload.bytes;
    Reader in(bytes);
    if (framed) {
        EXPECT_EQ(read_header(in).type, Type::MapChunk);
    }
    const bool complete = assembly.ingest(in);
    return {complete, in.remaining()};
}

std::string refusal(MapAssembly& assembly, const Writer& payload) {
    try {
        deliver(assembly, payload);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "accepted";
}

std::string finish_error(const MapAssembly& assembly) {
    try {
        assembly.finish();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "finished";
}

void expect_same(const MapAssembly& a, const MapAssembly& b) {
    EXPECT_EQ(a.transition, b.transition);
    EXPECT_EQ(a.sector, b.sector);
    EXPECT_EQ(a.revision, b.revision);
    EXPECT_EQ(a.crc, b.crc);
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(a.received, b.received);
}

MapAssembly fresh() {
    MapAssembly assembly;
    assembly.reset(transition_id, sector_id);
    return assembly;
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
    EXPECT_THROW(map_chunks(1, 1, 1, 0, blob_of(63)), std::runtime_error);
    EXPECT_THROW(map_chunks(1, 1, 1, 0, blob_of(4097)), std::runtime_error);
}

TEST(MapAssembly, ReverseOrderAndRepeatsGiveTheSameSector) {
    const Sector sector = big_sector();
    const auto chunks = map_chunks(transition_id, sector);
    ASSERT_EQ(chunks.size(), 4u); // 3520 bytes

    MapAssembly in_order = fresh();
    for (std::size_t i = 0; i < chunks.size(); ++i)
        EXPECT_EQ(deliver(in_order, chunks[i]).complete, i + 1 == chunks.size());

    MapAssembly shuffled = fresh();
    for (std::size_t i = chunks.size(); i-- > 0;) {
        const Delivery once = deliver(shuffled, chunks[i]);
        const Delivery twice = deliver(shuffled, chunks[i]);
        EXPECT_EQ(once.complete, i == 0);
        EXPECT_EQ(twice.complete, i == 0);
        EXPECT_EQ(twice.unread, 0u);
    }
    expect_same(in_order, shuffled);
    EXPECT_EQ(shuffled.revision, 3u);
    EXPECT_EQ(shuffled.crc, crc32(sector.encode()));
    EXPECT_EQ(shuffled.finish(), sector);
    EXPECT_EQ(in_order.finish(), sector);
}

TEST(MapAssembly, ChunkCountFollowsTheBlobLength) {
    for (std::size_t length : {64u, 944u, 945u, 1888u, 1889u, 4096u}) {
        SCOPED_TRACE(length);
        const Bytes blob = blob_of(length);
        const auto chunks = chunks_of(blob);
        ASSERT_EQ(chunks.size(), (length + 943) / 944);
        EXPECT_EQ(chunks.back().bytes.size(), 32 + length - (chunks.size() - 1) * 944);
        MapAssembly assembly = fresh();
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(deliver(assembly, chunks[i]).complete, i + 1 == chunks.size());
            EXPECT_EQ(assembly.bytes.size(), length);
            EXPECT_EQ(assembly.received.size(), chunks.size());
        }
        EXPECT_EQ(assembly.bytes, blob);
    }
    // 945 bytes: the second chunk carries the single last byte.
    const Bytes blob = blob_of(945);
    const auto chunks = chunks_of(blob);
    ASSERT_EQ(chunks[1].bytes.size(), 33u);
    MapAssembly assembly = fresh();
    EXPECT_FALSE(deliver(assembly, chunks[1]).complete);
    EXPECT_EQ(assembly.received, (std::vector<bool>{false, true}));
    EXPECT_EQ(assembly.bytes[944], blob[944]);
    EXPECT_EQ(assembly.bytes[0], 0);
}

TEST(MapAssembly, OtherTransferIsSkippedUnread) {
    const auto chunks = chunks_of(blob_of(1500));
    for (bool started : {false, true}) {
        SCOPED_TRACE(started);
        MapAssembly assembly = fresh();
        if (started) deliver(assembly, chunks[0]);
        const MapAssembly before = assembly;
        for (auto [t, s] :
             {std::pair{transition_id + 1, sector_id}, std::pair{transition_id, sector_id + 1}}) {
            Writer other = map_chunks(t, s, 3, 0, blob_of(1500))[1];
            other.bytes[40] ^= 0xFF;
            const Delivery d = deliver(assembly, other);
            EXPECT_FALSE(d.complete);
            EXPECT_EQ(d.unread, other.bytes.size() - 32);
            expect_same(assembly, before);
            // Even a malformed chunk of another transfer is skipped before its checks.
            put_u32(other, 16, 0);
            EXPECT_FALSE(deliver(assembly, other).complete);
            expect_same(assembly, before);
        }
    }
}

TEST(MapAssembly, InvalidMetadata) {
    const Bytes blob = blob_of(1500);
    const auto chunks = chunks_of(blob);
    auto with = [&](std::size_t index, auto edit) {
        Writer w = chunks[index];
        edit(w);
        return w;
    };
    const std::vector<Writer> bad = {
        with(0, [](Writer& w) { put_u32(w, 16, 0); }), // revision 0
        // One byte outside the blob length bounds, everything else fitting that length.
        [] {
            Writer w = chunks_of(blob_of(64))[0];
            put_u32(w, 20, 63);
            w.bytes.pop_back();
            return w;
        }(),
        [] {
            Writer w = chunks_of(blob_of(4096))[4];
            put_u32(w, 20, 4097);
            w.u8(0);
            return w;
        }(),
        with(0, [](Writer& w) { put_u32(w, 20, 0xFFFFFFFF); }),
        with(0, [](Writer& w) { put_u16(w, 30, 3); }), // 1500 bytes are 2 chunks
        with(0, [](Writer& w) { put_u16(w, 30, 1); }),
        with(1, [](Writer& w) { put_u16(w, 28, 2); }), // index == count
        with(1, [](Writer& w) { put_u16(w, 28, 0xFFFF); }),
        // metadata is checked before the data length
        with(1,
             [](Writer& w) {
                 put_u16(w, 28, 2);
                 w.u8(0);
             }),
    };
    for (bool started : {false, true}) {
        MapAssembly assembly = fresh();
        if (started) deliver(assembly, chunks[0]);
        const MapAssembly before = assembly;
        for (std::size_t i = 0; i < bad.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(refusal(assembly, bad[i]), "invalid chunk metadata");
            expect_same(assembly, before);
        }
    }
}

TEST(MapAssembly, InvalidChunkLength) {
    const auto chunks = chunks_of(blob_of(1500)); // 944 + 556
    for (std::size_t index : {0u, 1u}) {
        for (bool started : {false, true}) {
            SCOPED_TRACE(index * 10 + started);
            MapAssembly assembly = fresh();
            if (started) deliver(assembly, chunks[1 - index]);
            const MapAssembly before = assembly;
            Writer shorter = chunks[index];
            shorter.bytes.pop_back();
            Writer longer = chunks[index];
            longer.u8(0);
            EXPECT_EQ(refusal(assembly, shorter), "invalid chunk length");
            EXPECT_EQ(refusal(assembly, longer), "invalid chunk length");
            expect_same(assembly, before);
        }
    }
    // A payload too short for the chunk header is a truncated packet.
    Writer stub = chunks[0];
    stub.bytes.resize(31);
    MapAssembly assembly = fresh();
    EXPECT_EQ(refusal(assembly, stub), "truncated packet");
    EXPECT_TRUE(assembly.bytes.empty());
}

TEST(MapAssembly, InconsistentWithTheFirstChunk) {
    const Bytes blob = blob_of(1500);
    const auto chunks = chunks_of(blob);
    MapAssembly assembly = fresh();
    deliver(assembly, chunks[0]);
    const MapAssembly before = assembly;

    // Each is self-consistent but disagrees with what the first chunk announced.
    const std::vector<Writer> bad = {
        map_chunks(transition_id, sector_id, 3, crc32(blob), blob_of(1501))[1], // length
        map_chunks(transition_id, sector_id, 3, crc32(blob), blob_of(2000))[1], // and count
        chunks_of(blob, 4)[1],                                                  // revision
        map_chunks(transition_id, sector_id, 3, 0xBAD, blob)[1],                // crc
        map_chunks(transition_id, sector_id, 3, 0xBAD, blob)[0],                // crc on a repeat
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(refusal(assembly, bad[i]), "inconsistent chunks");
        expect_same(assembly, before);
    }
    // The data length is checked against the chunk's own header, before consistency:
    // 556 bytes fit the first chunk's 1500 but not this chunk's 1501.
    Writer sized_for_first = chunks_of(blob_of(1501))[1];
    sized_for_first.bytes.pop_back();
    EXPECT_EQ(refusal(assembly, sized_for_first), "invalid chunk length");
    // Consistency is checked before duplicates: a changed repeat with another revision.
    Writer changed = chunks_of(blob, 4)[0];
    changed.bytes[100] ^= 1;
    EXPECT_EQ(refusal(assembly, changed), "inconsistent chunks");
    expect_same(assembly, before);
}

TEST(MapAssembly, ConflictingDuplicate) {
    const Bytes blob = blob_of(1500);
    const auto chunks = chunks_of(blob);
    for (std::size_t offset : {32u, 500u, 975u}) {
        SCOPED_TRACE(offset);
        MapAssembly assembly = fresh();
        deliver(assembly, chunks[0]);
        const MapAssembly before = assembly;
        Writer changed = chunks[0];
        changed.bytes[offset] ^= 0x40;
        EXPECT_EQ(refusal(assembly, changed), "conflicting duplicate chunk");
        expect_same(assembly, before);
        EXPECT_FALSE(deliver(assembly, chunks[0]).complete); // identical repeat is fine
    }
    // After completion too: the finished buffer stays intact.
    MapAssembly assembly = fresh();
    deliver(assembly, chunks[0]);
    deliver(assembly, chunks[1]);
    Writer changed = chunks[1];
    changed.bytes.back() ^= 1;
    EXPECT_EQ(refusal(assembly, changed), "conflicting duplicate chunk");
    EXPECT_EQ(assembly.bytes, blob);
}

TEST(MapAssembly, FinishNeedsEveryChunkAndTheRightCrc) {
    const Sector sector = big_sector();
    const Bytes blob = sector.encode();

    MapAssembly assembly = fresh();
    EXPECT_EQ(finish_error(assembly), "incomplete/corrupt map");
    const auto chunks = map_chunks(transition_id, sector);
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i) deliver(assembly, chunks[i]);
    EXPECT_EQ(finish_error(assembly), "incomplete/corrupt map");

    MapAssembly corrupt = fresh();
    for (const Writer& chunk : map_chunks(transition_id, sector_id, 3, crc32(blob) ^ 1, blob))
        deliver(corrupt, chunk);
    EXPECT_EQ(finish_error(corrupt), "incomplete/corrupt map");

    // The blob's own format errors come through unchanged.
    MapAssembly garbage = fresh();
    for (const Writer& chunk : chunks_of(Bytes(1200, 0))) deliver(garbage, chunk);
    EXPECT_EQ(finish_error(garbage), "sector version");
}

TEST(MapAssembly, FinishChecksIdentity) {
    const Sector sector = big_sector(); // id 77, revision 3
    const Bytes blob = sector.encode();

    MapAssembly other_revision = fresh();
    for (const Writer& chunk : map_chunks(transition_id, sector_id, 4, crc32(blob), blob))
        deliver(other_revision, chunk);
    EXPECT_EQ(finish_error(other_revision), "map identity mismatch");

    MapAssembly other_sector;
    other_sector.reset(transition_id, sector_id + 1);
    for (const Writer& chunk : map_chunks(transition_id, sector_id + 1, 3, crc32(blob), blob))
        deliver(other_sector, chunk);
    EXPECT_EQ(finish_error(other_sector), "map identity mismatch");
}

TEST(MapAssembly, ResetStartsOver) {
    MapAssembly assembly = fresh();
    deliver(assembly, chunks_of(blob_of(1500))[0]);
    assembly.reset(5, 6);
    expect_same(assembly, [] {
        MapAssembly empty;
        empty.transition = 5;
        empty.sector = 6;
        return empty;
    }());
}

} // namespace
} // namespace kestrel
