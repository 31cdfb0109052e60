// Chunked sector transfer and single-cell map patches.
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
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/codec.h"
#include "world/sector.h"

namespace kestrel {

inline constexpr std::size_t chunk_header_size = 32;
inline constexpr std::size_t chunk_data_size = 944;

struct MapAssembly {
    std::uint64_t transition = 0;
    std::uint64_t sector = 0;
    std::uint32_t revision = 0;
    std::uint32_t crc = 0;
    Bytes bytes;
    std::vector<bool> received;

    void reset(std::uint64_t transition_id, std::uint64_t sector_id);
    // Consumes one chunk payload; true once every chunk has arrived. A chunk of another
    // transfer is skipped (false, nothing stored); a rejected chunk changes nothing.
    bool ingest(Reader& reader);
    Sector finish() const;
};

// A map chunk that arrived before its handoff was announced, kept whole.
struct ChunkEnvelope {
    Header header;
    Bytes payload;
};

// Returns the patched copy; `current` is never modified.
Sector apply_map_patch(const Sector& current, Reader& reader);

} // namespace kestrel
