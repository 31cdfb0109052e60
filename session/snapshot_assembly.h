// Reassembly of world snapshots that the server splits over several SnapshotPart packets.
//
// A few incomplete snapshots are kept for a short while; anything not newer than the last
// completed snapshot is dropped, so each snapshot is handed out exactly once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "protocol/codec.h"
#include "protocol/entity.h"
#include "session/snapshot.h"

namespace kestrel {

inline constexpr std::size_t max_snapshot_parts = 16;
inline constexpr std::size_t max_part_entities = 24;
inline constexpr std::size_t max_snapshot_entities = 368; // 16 full packets of 23 records
inline constexpr std::size_t max_partials = 4;
inline constexpr double partial_lifetime = 0.2; // seconds

struct SnapshotAssembly {
    struct Partial {
        Snapshot snapshot; // identity fields of the first part, no entities
        double received = 0;
        std::vector<std::optional<std::vector<ReplicatedEntity>>> parts;
    };

    std::map<std::uint32_t, Partial> partials; // by plain numeric id
    std::optional<std::uint32_t> last;         // the last completed snapshot

    // Takes one SnapshotPart (reader at the payload) and returns the snapshot it completes.
    // Stale parts are dropped silently. On a throw nothing has changed.
    std::optional<Snapshot> ingest(const Header& header, Reader& reader, double now);
};

} // namespace kestrel
