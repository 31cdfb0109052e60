#include "session/snapshot_assembly.h"

#include <array>
#include <stdexcept>
#include <utility>

namespace kestrel {
namespace {

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

// Newer in wrap-around order: ids are compared by their signed 32-bit difference.
bool newer(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) > 0;
}

// True when the ids of `entities` are pairwise distinct. An open-addressing set on the
// stack: ids are never 0, so 0 marks a free slot, and 1024 slots stay under half full.
bool distinct_ids(const std::vector<ReplicatedEntity>& entities) {
    constexpr std::uint32_t slots = 1024;
    static_assert(slots >= 2 * max_snapshot_entities);
    std::array<std::uint32_t, slots> seen{};
    for (const ReplicatedEntity& entity : entities) {
        std::uint32_t slot = (entity.id * 2654435761u) >> 22;
        while (seen[slot] != 0) {
            if (seen[slot] == entity.id) return false;
            slot = (slot + 1) % slots;
        }
        seen[slot] = entity.id;
    }
    return true;
}

} // namespace

// SnapshotPart payload, 32 + 40 * count bytes:
//
//   offset size field
//        0    4 id           snapshot number, wrap-around order
//        4    4 tick         server tick
//        8    4 input_ack    last input sequence the server applied
//       12    4 revision     sector revision, not 0
//       16    8 sector       sector id, not 0 (before the viewer on the wire)
//       24    4 viewer       the entity the snapshot is for, not 0
//       28    2 count        entity records in this part, 1..24
//       30    1 index        below the part count
//       31    1 part count   1..16
//       32 40*n entity records; the viewer's own is the first of the whole snapshot
//
// The epoch is not in the payload: every part carries it in its header.
std::optional<Snapshot> SnapshotAssembly::ingest(const Header& header, Reader& in, double now) {
    Snapshot identity;
    identity.id = in.u32();
    identity.tick = in.u32();
    identity.input_ack = in.u32();
    identity.revision = in.u32();
    identity.sector = in.u64();
    identity.viewer = in.u32();
    identity.epoch = header.epoch;
    const std::uint16_t count = in.u16();
    const std::uint8_t index = in.u8();
    const std::uint8_t part_count = in.u8();
    if (identity.sector == 0 || identity.revision == 0 || identity.viewer == 0 || part_count < 1 ||
        part_count > max_snapshot_parts || count < 1 || count > max_part_entities ||
        index >= part_count || in.remaining() != std::uint64_t{count} * entity_record_size)
        fail("invalid snapshot part");
    std::vector<ReplicatedEntity> records;
    records.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) records.push_back(read_entity(in));
    in.end();

    if (last && !newer(identity.id, *last)) return std::nullopt; // already superseded

    // Work out what this part does before changing anything: which partials age out,
    // which one makes room, and whether the snapshot completes and passes its checks.
    const auto expired = [now](const Partial& partial) {
        return now - partial.received > partial_lifetime;
    };
    const auto found = partials.find(identity.id);
    const bool fresh = found == partials.end() || expired(found->second);
    std::optional<std::uint32_t> make_room;
    Partial created;
    if (fresh) {
        std::size_t survivors = 0;
        for (const auto& [id, held] : partials) {
            if (expired(held)) continue;
            if (survivors++ == 0) make_room = id; // the map is ordered: first is smallest
        }
        if (survivors < max_partials) make_room.reset();
        created.snapshot = identity;
        created.received = now;
        created.parts.resize(part_count);
    }
    const Partial& partial = fresh ? created : found->second;

    const Snapshot& first = partial.snapshot;
    if (first.tick != identity.tick || first.input_ack != identity.input_ack ||
        first.revision != identity.revision || first.sector != identity.sector ||
        first.viewer != identity.viewer || first.epoch != identity.epoch ||
        partial.parts.size() != part_count)
        fail("inconsistent snapshot parts");
    if (partial.parts[index]) fail("duplicate snapshot part");

    bool complete = true;
    std::size_t total = records.size();
    for (std::size_t i = 0; i < partial.parts.size(); ++i) {
        if (i == index) continue;
        if (!partial.parts[i])
            complete = false;
        else
            total += partial.parts[i]->size();
    }

    std::optional<Snapshot> result;
    if (complete) {
        Snapshot snapshot = first;
        snapshot.entities.reserve(total);
        for (std::size_t i = 0; i < partial.parts.size(); ++i) {
            const std::vector<ReplicatedEntity>& slot = i == index ? records : *partial.parts[i];
            snapshot.entities.insert(snapshot.entities.end(), slot.begin(), slot.end());
        }
        if (!distinct_ids(snapshot.entities)) fail("duplicate entity identity");
        if (snapshot.entities.size() > max_snapshot_entities ||
            snapshot.entities.front().id != snapshot.viewer)
            fail("invalid snapshot interest set");
        result = std::move(snapshot);
    }

    // Every check has passed: apply.
    std::erase_if(partials, [&](const auto& entry) { return expired(entry.second); });
    if (make_room) partials.erase(*make_room);
    if (result) {
        partials.erase(identity.id);
        last = identity.id;
    } else if (fresh) {
        created.parts[index] = std::move(records);
        partials.insert_or_assign(identity.id, std::move(created));
    } else {
        found->second.parts[index] = std::move(records);
    }
    return result;
}

} // namespace kestrel
