// Chunked sector transfer and single-cell map patches.
//
// A sector blob of L bytes (64..4096) travels in ceil(L / 944) MapChunk messages; 944 is
// what fits next to the 32-byte chunk header in a 976-byte payload. Chunk i carries blob
// bytes i*944 .. min(L, (i+1)*944) - 1. Every chunk repeats the whole transfer's identity
// so that chunks may arrive in any order, and any number of times.
//
// Map chunk payload:
//
//   offset size field
//        0    8 transition identifier
//        8    8 sector identifier
//       16    4 revision (nonzero)
//       20    4 total blob length L (64..4096)
//       24    4 CRC-32 of the whole blob
//       28    2 chunk index
//       30    2 chunk count = ceil(L / 944)
//       32    n blob bytes, n = min(L - index * 944, 944)
//
// Map patch payload, 20 bytes:
//
//   offset size field
//        0    8 sector identifier
//        8    4 new revision (current + 1)
//       12    2 cell index
//       14    1 new tile index
//       15    1 reserved, 0
//       16    4 CRC-32 of the sector blob after the change
//
// A patch may only make these changes (palette indices laid down by the decorations):
//
//   cell holds          becomes            palette needed
//   2 secret door       0 plain floor      any
//   7 lit floor         6 dark floor       8 tiles
//   4 lit pillar        5 bright floor     8 tiles
//   5 bright floor      4 lit pillar       8 tiles
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "protocol/codec.h"
#include "world/sector.h"

namespace kestrel {

inline constexpr std::size_t chunk_header_size = 32;
inline constexpr std::size_t chunk_data_size = 944;
inline constexpr std::size_t map_patch_size = 20;

// Receiving side of one chunked transfer. Only the first accepted chunk fixes the blob
// length, chunk count, revision and CRC; every later chunk must agree with it.
struct MapAssembly {
    std::uint64_t transition = 0;
    std::uint64_t sector = 0;
    std::uint32_t revision = 0; // announced by the first accepted chunk
    std::uint32_t crc = 0;      // announced by the first accepted chunk; echoed in the ack
    Bytes bytes;                // the blob being rebuilt; L bytes once a chunk was accepted
    std::vector<bool> received; // one flag per chunk

    void reset(std::uint64_t transition_id, std::uint64_t sector_id);
    // Consumes one chunk payload; true once every chunk has arrived. A chunk of another
    // transfer is skipped (false, nothing stored, its data left unread); a rejected chunk
    // throws and changes nothing.
    bool ingest(Reader& reader);
    // Checks completeness and CRC, decodes the blob and checks it is the announced sector
    // at the announced revision.
    Sector finish() const;
};

// A map chunk that arrived before its handoff was announced, kept whole.
struct ChunkEnvelope {
    Header header;
    Bytes payload;
};

// Returns the patched copy; `current` is never modified.
Sector apply_map_patch(const Sector& current, Reader& reader);

// Sending side, for the server and for tests.

// Cuts a blob into its MapChunk payloads, in index order. The blob must be 64..4096 bytes
// ("sector length" otherwise), so nothing is sent that a receiver would refuse for size.
std::vector<Writer> map_chunks(std::uint64_t transition, std::uint64_t sector,
                               std::uint32_t revision, std::uint32_t crc,
                               std::span<const std::uint8_t> blob);
// The chunks of a sector's own blob, with its id, revision and CRC.
std::vector<Writer> map_chunks(std::uint64_t transition, const Sector& sector);

// A MapPatch payload with the fields as given (reserved byte 0).
Writer map_patch_payload(std::uint64_t sector, std::uint32_t revision, std::uint16_t cell,
                         std::uint8_t tile, std::uint32_t crc);
// The patch that turns the previous revision into `patched` by changing `cell`: the
// caller has already set the cell and raised the revision; the CRC is taken over
// patched.encode(), which validates it.
Writer map_patch_payload(const Sector& patched, std::uint16_t cell);

} // namespace kestrel
