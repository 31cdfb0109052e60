// SnapshotAssembly::ingest fed a sequence of SnapshotPart packets.
//
// Input, per part: byte dt (the clock advances by dt / 100 seconds before the part),
// then one record holding the whole packet, header included (framing in fuzz_input.h).
// Packets whose header read_header refuses are skipped; the rest go to ingest with the
// reader at the payload. After every part:
//   - a refused part leaves the assembly exactly as it was;
//   - a returned snapshot is newer than the last one, holds 1..368 entities with distinct
//     ids and the viewer first, carries the header's epoch and becomes `last`;
//   - a part not newer than the last completed snapshot changes nothing;
//   - no more than four partials are kept, each with 1..16 slots.
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/same.h"
#include "session/snapshot_assembly.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

bool known(const std::string& message) {
    return message == "invalid snapshot part" || message == "trailing bytes" ||
           message == "truncated packet" || message == "inconsistent snapshot parts" ||
           message == "duplicate snapshot part" || message == "duplicate entity identity" ||
           message == "invalid snapshot interest set" || message == "invalid player boost" ||
           message.starts_with("invalid entity record id=");
}

void check_snapshot(const Snapshot& snapshot, const SnapshotAssembly& before,
                    const SnapshotAssembly& after, const Header& header) {
    KESTREL_FUZZ_CHECK(!before.last || static_cast<std::int32_t>(snapshot.id - *before.last) > 0);
    KESTREL_FUZZ_CHECK(after.last == snapshot.id);
    KESTREL_FUZZ_CHECK(!after.partials.contains(snapshot.id));
    KESTREL_FUZZ_CHECK(snapshot.epoch == header.epoch);
    KESTREL_FUZZ_CHECK(snapshot.sector != 0 && snapshot.revision != 0 && snapshot.viewer != 0);
    KESTREL_FUZZ_CHECK(!snapshot.entities.empty() &&
                       snapshot.entities.size() <= max_snapshot_entities);
    KESTREL_FUZZ_CHECK(snapshot.entities.front().id == snapshot.viewer);
    std::set<std::uint32_t> ids;
    for (const ReplicatedEntity& entity : snapshot.entities) {
        KESTREL_FUZZ_CHECK(ids.insert(entity.id).second);
        KESTREL_FUZZ_CHECK(entity.kind >= 1 && entity.kind <= 18);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{data, size};
    SnapshotAssembly assembly;
    double now = 0;
    while (!input.empty()) {
        now += input.byte() / 100.0;
        const std::span<const std::uint8_t> bytes = input.record();
        Reader reader(bytes);
        Header header;
        try {
            header = read_header(reader);
        } catch (const std::runtime_error&) {
            continue;
        }
        const SnapshotAssembly before = assembly;
        std::optional<Snapshot> snapshot;
        try {
            snapshot = assembly.ingest(header, reader, now);
        } catch (const std::runtime_error& error) {
            KESTREL_FUZZ_CHECK(known(error.what()));
            KESTREL_FUZZ_CHECK(same(assembly, before));
            continue;
        }
        KESTREL_FUZZ_CHECK(reader.position == bytes.size());
        // The snapshot id is the first payload field.
        const std::uint32_t id =
            static_cast<std::uint32_t>(bytes[24] | (bytes[25] << 8) | (bytes[26] << 16)) |
            (static_cast<std::uint32_t>(bytes[27]) << 24);
        if (before.last && static_cast<std::int32_t>(id - *before.last) <= 0)
            KESTREL_FUZZ_CHECK(!snapshot && same(assembly, before));
        if (snapshot)
            check_snapshot(*snapshot, before, assembly, header);
        else
            KESTREL_FUZZ_CHECK(assembly.last == before.last);
        KESTREL_FUZZ_CHECK(assembly.partials.size() <= max_partials);
        for (const auto& [id, partial] : assembly.partials) {
            KESTREL_FUZZ_CHECK(!partial.parts.empty() &&
                               partial.parts.size() <= max_snapshot_parts);
            KESTREL_FUZZ_CHECK(partial.snapshot.entities.empty());
            bool missing = false;
            for (const auto& part : partial.parts) missing = missing || !part;
            KESTREL_FUZZ_CHECK(missing);
        }
    }
    return 0;
}
