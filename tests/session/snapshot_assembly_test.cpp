#include "session/snapshot_assembly.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "session/handoff_messages.h"

namespace kestrel {
namespace {

constexpr std::uint64_t session_id = 77;
constexpr std::uint32_t epoch = 4;
constexpr std::uint32_t viewer = 1000;

ReplicatedEntity entity(std::uint32_t id) {
    ReplicatedEntity e;
    e.id = id;
    e.x = static_cast<std::int32_t>(id % 8000) << 8;
    e.y = 5 << 16;
    e.kind = id == viewer ? 1 : 2;
    e.health = 50;
    return e;
}

// A snapshot of `count` entities, the viewer first.
Snapshot snapshot(std::uint32_t id, std::size_t count) {
    Snapshot s{id, 300 + id, 12, 3, viewer, epoch, 0xABCDEF0123ull, {}};
    for (std::size_t i = 0; i < count; ++i)
        s.entities.push_back(entity(i == 0 ? viewer : static_cast<std::uint32_t>(i)));
    return s;
}

Bytes frame(const Writer& payload, std::uint32_t header_epoch = epoch) {
    return packet(Type::SnapshotPart, session_id, 1, header_epoch, payload);
}

std::optional<Snapshot> ingest(SnapshotAssembly& assembly, const Bytes& bytes, double now = 1.0) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return assembly.ingest(header, reader, now);
}

void patch(Writer& payload, std::size_t offset, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) payload.bytes[offset + i] = std::uint8_t(value >> (8 * i));
}

void expect_same_snapshot(const Snapshot& a, const Snapshot& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.tick, b.tick);
    EXPECT_EQ(a.input_ack, b.input_ack);
    EXPECT_EQ(a.revision, b.revision);
    EXPECT_EQ(a.viewer, b.viewer);
    EXPECT_EQ(a.epoch, b.epoch);
    EXPECT_EQ(a.sector, b.sector);
    EXPECT_EQ(a.entities, b.entities);
}

void expect_same(const SnapshotAssembly& a, const SnapshotAssembly& b) {
    EXPECT_EQ(a.last, b.last);
    ASSERT_EQ(a.partials.size(), b.partials.size());
    for (auto i = a.partials.begin(), j = b.partials.begin(); i != a.partials.end(); ++i, ++j) {
        EXPECT_EQ(i->first, j->first);
        expect_same_snapshot(i->second.snapshot, j->second.snapshot);
        EXPECT_EQ(i->second.received, j->second.received);
        EXPECT_EQ(i->second.parts, j->second.parts);
    }
}

void expect_refused(SnapshotAssembly& assembly, const Bytes& bytes, const std::string& message,
                    double now = 1.0) {
    const SnapshotAssembly before = assembly;
    try {
        ingest(assembly, bytes, now);
        ADD_FAILURE() << "accepted, expected \"" << message << "\"";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(error.what(), message);
    }
    expect_same(assembly, before);
}

// Starts snapshot `id` (two parts) with its first part only.
void start(SnapshotAssembly& assembly, std::uint32_t id, double now = 1.0) {
    ASSERT_FALSE(ingest(assembly, frame(snapshot_part_payloads(snapshot(id, 30))[0]), now));
}

TEST(SnapshotAssembly, SinglePartCompletesAtOnce) {
    const Snapshot sent = snapshot(9, 23);
    const std::vector<Writer> parts = snapshot_part_payloads(sent);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].bytes.size(), 32u + 23 * 40);
    SnapshotAssembly assembly;
    const std::optional<Snapshot> got = ingest(assembly, frame(parts[0]));
    ASSERT_TRUE(got);
    expect_same_snapshot(*got, sent);
    EXPECT_EQ(assembly.last, 9u);
    EXPECT_TRUE(assembly.partials.empty());
}

TEST(SnapshotAssembly, PartsInAnyOrderAndEpochFromTheHeader) {
    Snapshot sent = snapshot(9, 368);
    sent.epoch = 11;
    const std::vector<Writer> parts = snapshot_part_payloads(sent);
    ASSERT_EQ(parts.size(), 16u);
    SnapshotAssembly assembly;
    for (std::size_t i = parts.size(); i-- > 1;)
        ASSERT_FALSE(ingest(assembly, frame(parts[i], 11)));
    const std::optional<Snapshot> got = ingest(assembly, frame(parts[0], 11));
    ASSERT_TRUE(got);
    expect_same_snapshot(*got, sent);
}

TEST(SnapshotAssembly, StaleIdsWithWrapAround) {
    SnapshotAssembly assembly;
    ingest(assembly, frame(snapshot_part_payloads(snapshot(5, 1))[0]));
    // The same id again is dropped, even though it would complete another snapshot.
    const auto dropped = [&](std::uint32_t id) {
        const SnapshotAssembly before = assembly;
        EXPECT_FALSE(ingest(assembly, frame(snapshot_part_payloads(snapshot(id, 1))[0])));
        expect_same(assembly, before);
    };
    dropped(5);
    dropped(4);
    dropped(5u + 0x80000000u); // 2^31 away counts as behind
    EXPECT_TRUE(ingest(assembly, frame(snapshot_part_payloads(snapshot(4u + 0x80000000u, 1))[0])));
    // And across zero.
    assembly.last = 0xFFFFFFFFu;
    EXPECT_TRUE(ingest(assembly, frame(snapshot_part_payloads(snapshot(0, 1))[0])));
    dropped(0xFFFFFFF0u);
}

TEST(SnapshotAssembly, DuplicatePart) {
    const std::vector<Writer> parts = snapshot_part_payloads(snapshot(7, 60));
    SnapshotAssembly assembly;
    ingest(assembly, frame(parts[1]));
    expect_refused(assembly, frame(parts[1]), "duplicate snapshot part");
    ingest(assembly, frame(parts[0]));
    ASSERT_TRUE(ingest(assembly, frame(parts[2])));
    EXPECT_FALSE(ingest(assembly, frame(parts[2]))); // stale once complete
}

TEST(SnapshotAssembly, FifthPartialEvictsTheSmallestId) {
    SnapshotAssembly assembly;
    for (std::uint32_t id : {10u, 3u, 7u, 12u}) start(assembly, id);
    start(assembly, 20);
    std::vector<std::uint32_t> ids;
    for (const auto& entry : assembly.partials) ids.push_back(entry.first);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{7, 10, 12, 20}));
    // Snapshot 3's second part now starts over instead of completing it.
    EXPECT_FALSE(ingest(assembly, frame(snapshot_part_payloads(snapshot(3, 30))[1])));
    EXPECT_FALSE(assembly.partials.contains(7));
}

TEST(SnapshotAssembly, OldPartialsExpire) {
    const std::vector<Writer> parts = snapshot_part_payloads(snapshot(8, 30));
    SnapshotAssembly assembly;
    ingest(assembly, frame(parts[0]), 1.0);
    EXPECT_FALSE(ingest(assembly, frame(parts[1]), 1.25));
    ASSERT_TRUE(assembly.partials.contains(8));
    EXPECT_EQ(assembly.partials.at(8).received, 1.25);
    EXPECT_FALSE(assembly.partials.at(8).parts[0]);

    // Any later part sweeps out every partial that has aged out, not only its own.
    start(assembly, 9, 1.1);
    start(assembly, 10, 1.5);
    EXPECT_FALSE(assembly.partials.contains(8));
    EXPECT_FALSE(assembly.partials.contains(9));

    SnapshotAssembly young;
    ingest(young, frame(parts[0]), 1.0);
    EXPECT_TRUE(ingest(young, frame(parts[1]), 1.125));
}

TEST(SnapshotAssembly, InterestSet) {
    Snapshot late = snapshot(2, 30);
    std::swap(late.entities[0], late.entities[25]); // the viewer is in the second part
    const std::vector<Writer> parts = snapshot_part_payloads(late);
    SnapshotAssembly assembly;
    ingest(assembly, frame(parts[0]));
    expect_refused(assembly, frame(parts[1]), "invalid snapshot interest set");

    Snapshot twice = snapshot(2, 30);
    twice.entities[27].id = 4; // also in the first part
    const std::vector<Writer> dup = snapshot_part_payloads(twice);
    SnapshotAssembly other;
    ingest(other, frame(dup[1]));
    expect_refused(other, frame(dup[0]), "duplicate entity identity");
}

TEST(SnapshotAssembly, InconsistentParts) {
    const std::vector<Writer> parts = snapshot_part_payloads(snapshot(6, 30));
    SnapshotAssembly assembly;
    ingest(assembly, frame(parts[0]));
    const auto refused = [&](std::size_t offset, std::uint64_t value, int width) {
        Writer bad = parts[1];
        patch(bad, offset, value, width);
        expect_refused(assembly, frame(bad), "inconsistent snapshot parts");
    };
    refused(4, 1, 4);     // tick
    refused(8, 1, 4);     // input_ack
    refused(12, 1, 4);    // revision
    refused(16, 1, 8);    // sector
    refused(24, 1001, 4); // viewer
    refused(31, 3, 1);    // part count
    expect_refused(assembly, frame(parts[1], epoch + 1), "inconsistent snapshot parts");
}

TEST(SnapshotAssembly, InvalidParts) {
    const Writer good = snapshot_part_payloads(snapshot(6, 2))[0];
    SnapshotAssembly assembly;
    start(assembly, 3);
    const auto refused = [&](std::size_t offset, std::uint64_t value, int width) {
        Writer bad = good;
        patch(bad, offset, value, width);
        expect_refused(assembly, frame(bad), "invalid snapshot part");
    };
    refused(12, 0, 4); // revision
    refused(16, 0, 8); // sector
    refused(24, 0, 4); // viewer
    refused(28, 0, 2); // entity count
    refused(28, 1, 2); // count says fewer records than are there
    refused(28, 3, 2); // or more
    refused(30, 1, 1); // index not below the part count
    refused(31, 0, 1);
    refused(31, 17, 1);
    Writer header_only = good;
    header_only.bytes.resize(32);
    patch(header_only, 28, 0, 2);
    expect_refused(assembly, frame(header_only), "invalid snapshot part");
    header_only.bytes.resize(31);
    expect_refused(assembly, frame(header_only), "truncated packet");

    Writer bad_record = good;
    patch(bad_record, 32 + 40 + 22, 19, 1); // kind of the second record
    expect_refused(assembly, frame(bad_record),
                   "invalid entity record id=1 kind=19 weapon=1 x=256 y=327680 flags=1");
}

TEST(SnapshotAssembly, RefusalUndoesEvictions) {
    Snapshot twice = snapshot(9, 2);
    twice.entities[1].id = viewer;
    const Bytes refused = frame(snapshot_part_payloads(twice)[0]);

    // Partial 1 has aged out by 0.3: a refused part must not expire it.
    SnapshotAssembly aged;
    start(aged, 1, 0.0);
    for (std::uint32_t id : {2u, 4u, 5u}) start(aged, id, 0.15);
    expect_refused(aged, refused, "duplicate entity identity", 0.3);
    Writer inconsistent = snapshot_part_payloads(snapshot(2, 30))[1];
    patch(inconsistent, 4, 0, 4);
    expect_refused(aged, frame(inconsistent), "inconsistent snapshot parts", 0.3);
    EXPECT_TRUE(aged.partials.contains(1));

    // Four live partials: a refused new snapshot must not make room by dropping 2.
    SnapshotAssembly full;
    for (std::uint32_t id : {2u, 4u, 5u, 6u}) start(full, id, 0.15);
    expect_refused(full, refused, "duplicate entity identity", 0.3);
    EXPECT_TRUE(full.partials.contains(2));
}

} // namespace
} // namespace kestrel
