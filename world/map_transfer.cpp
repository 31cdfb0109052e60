#include "world/map_transfer.h"

#include <algorithm>
#include <stdexcept>

namespace kestrel {
namespace {

void fail(const char* message) {
    throw std::runtime_error(message);
}

// The next n bytes of the reader, bounds-checked like n u8() reads: when fewer are left the
// reader stops at the end and "truncated packet" is thrown.
std::span<const std::uint8_t> take(Reader& in, std::uint64_t n) {
    if (in.remaining() < n) {
        in.position = std::max(in.position, in.size);
        fail("truncated packet");
    }
    const std::span<const std::uint8_t> bytes(in.data + in.position, n);
    in.position += n;
    return bytes;
}

std::uint32_t chunk_count_for(std::uint32_t length) {
    return (length + static_cast<std::uint32_t>(chunk_data_size) - 1) /
           static_cast<std::uint32_t>(chunk_data_size);
}

bool allowed_change(std::uint8_t from, std::uint8_t to, std::size_t palette) {
    if (from == 2 && to == 0) return true;
    if (palette < 8) return false;
    return (from == 7 && to == 6) || (from == 4 && to == 5) || (from == 5 && to == 4);
}

} // namespace

void MapAssembly::reset(std::uint64_t transition_id, std::uint64_t sector_id) {
    transition = transition_id;
    sector = sector_id;
    revision = 0;
    crc = 0;
    bytes.clear();
    received.clear();
}

bool MapAssembly::ingest(Reader& in) {
    // Chunk header, 32 bytes: transition u64, sector u64, revision u32, blob length u32,
    // blob crc u32, index u16, count u16. The blob bytes of this chunk follow.
    const std::uint64_t chunk_transition = in.u64();
    const std::uint64_t chunk_sector = in.u64();
    const std::uint32_t chunk_revision = in.u32();
    const std::uint32_t length = in.u32();
    const std::uint32_t chunk_crc = in.u32();
    const std::uint16_t index = in.u16();
    const std::uint16_t count = in.u16();

    // Another transfer's chunk (a stale handoff) is not an error; its data stays unread.
    if (chunk_transition != transition || chunk_sector != sector) return false;

    if (chunk_revision == 0 || length < 64 || length > max_blob_size ||
        count != chunk_count_for(length) || index >= count)
        fail("invalid chunk metadata");
    const std::size_t offset = std::size_t{index} * chunk_data_size;
    const std::size_t n = std::min<std::size_t>(length - offset, chunk_data_size);
    if (in.remaining() != n) fail("invalid chunk length");

    // Nothing is stored until every check has passed, so a refused chunk leaves the
    // assembly as it was, even when it would have been the first.
    const bool first = bytes.empty();
    if (!first && (bytes.size() != length || received.size() != count ||
                   chunk_revision != revision || chunk_crc != crc))
        fail("inconsistent chunks");
    const std::span<const std::uint8_t> data = take(in, n);
    if (!first && received[index] &&
        !std::equal(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset)))
        fail("conflicting duplicate chunk");

    if (first) {
        bytes.assign(length, 0);
        received.assign(count, false);
        revision = chunk_revision;
        crc = chunk_crc;
    }
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    received[index] = true;
    return std::all_of(received.begin(), received.end(), [](bool got) { return got; });
}

Sector MapAssembly::finish() const {
    if (received.empty() ||
        !std::all_of(received.begin(), received.end(), [](bool b) { return b; }))
        fail("incomplete/corrupt map");
    if (crc32(bytes) != crc) fail("incomplete/corrupt map");
    Sector decoded = Sector::decode(bytes);
    if (decoded.id != sector || decoded.revision != revision) fail("map identity mismatch");
    return decoded;
}

Sector apply_map_patch(const Sector& current, Reader& in) {
    // Patch payload, 20 bytes: sector u64, new revision u32, cell u16, new tile u8,
    // reserved u8 (0), crc u32 of the patched sector's blob.
    const std::uint64_t sector_id = in.u64();
    const std::uint32_t new_revision = in.u32();
    const std::uint16_t cell = in.u16();
    const std::uint8_t tile = in.u8();
    const std::uint8_t reserved = in.u8();
    const std::uint32_t patch_crc = in.u32();
    in.end();

    // In 64 bits: at the top revision no patch can follow, rather than wrapping to 0.
    if (sector_id != current.id || cell >= cell_count ||
        new_revision != std::uint64_t{current.revision} + 1 || reserved != 0 ||
        tile >= current.tiles.size() ||
        !allowed_change(current.cells[cell], tile, current.tiles.size()))
        fail("invalid map patch");

    Sector next = current;
    next.cells[cell] = tile;
    next.revision = new_revision;
    // encode() validates: a change that breaks the map (a pillar sealing off a room)
    // fails here with the validation message.
    if (crc32(next.encode()) != patch_crc) fail("map patch checksum");
    return next;
}

std::vector<Writer> map_chunks(std::uint64_t transition, std::uint64_t sector,
                               std::uint32_t revision, std::uint32_t crc,
                               std::span<const std::uint8_t> blob) {
    if (blob.size() < 64 || blob.size() > max_blob_size) fail("sector length");
    const auto length = static_cast<std::uint32_t>(blob.size());
    const std::uint32_t count = chunk_count_for(length);
    std::vector<Writer> chunks(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        const std::size_t offset = std::size_t{index} * chunk_data_size;
        const std::size_t n = std::min(blob.size() - offset, chunk_data_size);
        Writer& out = chunks[index];
        out.bytes.reserve(chunk_header_size + n);
        out.u64(transition);
        out.u64(sector);
        out.u32(revision);
        out.u32(length);
        out.u32(crc);
        out.u16(static_cast<std::uint16_t>(index));
        out.u16(static_cast<std::uint16_t>(count));
        out.append(blob.subspan(offset, n));
    }
    return chunks;
}

std::vector<Writer> map_chunks(std::uint64_t transition, const Sector& sector) {
    const Bytes blob = sector.encode();
    return map_chunks(transition, sector.id, sector.revision, crc32(blob), blob);
}

Writer map_patch_payload(std::uint64_t sector, std::uint32_t revision, std::uint16_t cell,
                         std::uint8_t tile, std::uint32_t crc) {
    Writer out;
    out.u64(sector);
    out.u32(revision);
    out.u16(cell);
    out.u8(tile);
    out.u8(0);
    out.u32(crc);
    return out;
}

Writer map_patch_payload(const Sector& patched, std::uint16_t cell) {
    return map_patch_payload(patched.id, patched.revision, cell, patched.cells.at(cell),
                             crc32(patched.encode()));
}

} // namespace kestrel
