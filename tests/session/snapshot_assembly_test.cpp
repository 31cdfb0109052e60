#include "session/snapshot_assembly.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "session/handoff_messages.h"
#include "tests/support/errors.h"

namespace kestrel {
namespace {

constexpr std::uint32_t epoch = 4, viewer = 1000;

// A snapshot of `count` entities, the viewer first.
Snapshot snapshot(std::uint32_t id, std::size_t count) {
    Snapshot s{id, 300 + id, 12, 3, viewer, epoch, 0xABCDEF0123ull, {}};
    for (std::size_t i = 0; i < count; ++i) {
        ReplicatedEntity e;
        e.id = i == 0 ? viewer : static_cast<std::uint32_t>(i);
        e.x = static_cast<std::int32_t>(e.id % 8000) << 8;
        e.y = 5 << 16;
        e.kind = i == 0 ? 1 : 2;
        e.health = 50;
        s.entities.push_back(e);
    }
    return s;
}

auto fields(const Snapshot& s) {
    return std::make_tuple(s.id, s.tick, s.input_ack, s.revision, s.viewer, s.epoch, s.sector,
                           s.entities);
}

auto view(const SnapshotAssembly& a) {
    std::vector<std::tuple<std::uint32_t, decltype(fields({})), double, std::vector<bool>>> all;
    for (const auto& [id, p] : a.partials) {
        std::vector<bool> filled;
        for (const auto& slot : p.parts) filled.push_back(slot.has_value());
        all.emplace_back(id, fields(p.snapshot), p.received, filled);
    }
    return std::make_pair(a.last, all);
}

// Part `index` of snapshot `id` with `count` entities, edited at byte `offset` if given.
Bytes part(std::uint32_t id, std::size_t count, std::size_t index,
           std::uint32_t header_epoch = epoch, std::size_t offset = 0, std::uint64_t value = 0,
           int width = 0) {
    Writer payload = snapshot_part_payloads(snapshot(id, count))[index];
    for (int i = 0; i < width; ++i)
        payload.bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return packet(Type::SnapshotPart, 77, 1, header_epoch, payload);
}

std::optional<Snapshot> ingest(SnapshotAssembly& assembly, const Bytes& bytes, double now = 1.0) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return assembly.ingest(header, reader, now);
}

TEST(SnapshotAssembly, RefusedPartsNameTheirCauseAndChangeNothing) {
    SnapshotAssembly started; // snapshot 6 has its first part, snapshot 3 too
    ingest(started, part(6, 30, 0));
    ingest(started, part(3, 30, 0));
    SnapshotAssembly second_only; // snapshot 6's second part, and snapshot 7's
    ingest(second_only, part(6, 30, 1));
    ingest(second_only, part(7, 60, 1));
    SnapshotAssembly aged; // partial 1 has aged out at 0.3: refusals must not expire it
    ingest(aged, part(1, 30, 0), 0.0);
    for (std::uint32_t id : {2u, 4u, 5u}) ingest(aged, part(id, 30, 0), 0.15);
    SnapshotAssembly crowded; // four live partials: refusals must not make room
    for (std::uint32_t id : {2u, 4u, 5u, 6u}) ingest(crowded, part(id, 30, 0), 0.15);

    Snapshot late = snapshot(2, 30); // the viewer only in the second part
    std::swap(late.entities[0], late.entities[25]);
    Snapshot twice = snapshot(6, 30); // entity 4 in both parts
    twice.entities[27].id = 4;
    Snapshot one_twice = snapshot(9, 2); // the viewer twice in one part
    one_twice.entities[1].id = viewer;
    const auto whole = [](const Snapshot& s, std::size_t index, std::size_t size = 0) {
        Writer payload = snapshot_part_payloads(s)[index];
        if (size) payload.bytes.resize(size);
        return packet(Type::SnapshotPart, 77, 1, epoch, payload);
    };
    SnapshotAssembly late_start, twice_start;
    ingest(late_start, whole(late, 0));
    ingest(twice_start, whole(twice, 1));
    Writer header_only = snapshot_part_payloads(snapshot(6, 2))[0];
    header_only.bytes.resize(32);
    header_only.bytes[28] = 0;

    const std::string invalid = "invalid snapshot part",
                      inconsistent = "inconsistent snapshot parts";
    struct Case {
        const SnapshotAssembly& start;
        Bytes bytes;
        std::string message;
        double now = 1.0;
    };
    const Case cases[] = {
        {started, part(6, 2, 0, epoch, 12, 0, 4), invalid}, // revision
        {started, part(6, 2, 0, epoch, 16, 0, 8), invalid}, // sector
        {started, part(6, 2, 0, epoch, 24, 0, 4), invalid}, // viewer
        {started, part(6, 2, 0, epoch, 28, 0, 2), invalid}, // entity count 0
        {started, part(6, 2, 0, epoch, 28, 1, 2), invalid}, // fewer records than are there
        {started, part(6, 2, 0, epoch, 28, 3, 2), invalid}, // or more
        {started, part(6, 2, 0, epoch, 30, 1, 1), invalid}, // index not below the count
        {started, part(6, 2, 0, epoch, 31, 0, 1), invalid},
        {started, part(6, 2, 0, epoch, 31, 17, 1), invalid},
        {started, packet(Type::SnapshotPart, 77, 1, epoch, header_only), invalid},
        {started, whole(snapshot(6, 2), 0, 31), "truncated packet"},
        {started, part(6, 2, 0, epoch, 32 + 40 + 22, 19, 1),
         "invalid entity record id=1 kind=19 weapon=1 x=256 y=327680 flags=1"},
        {started, part(6, 30, 1, epoch, 4, 1, 4), inconsistent},     // tick
        {started, part(6, 30, 1, epoch, 8, 1, 4), inconsistent},     // input_ack
        {started, part(6, 30, 1, epoch, 12, 1, 4), inconsistent},    // revision
        {started, part(6, 30, 1, epoch, 16, 1, 8), inconsistent},    // sector
        {started, part(6, 30, 1, epoch, 24, 1001, 4), inconsistent}, // viewer
        {started, part(6, 30, 1, epoch, 31, 3, 1), inconsistent},    // part count
        {started, part(6, 30, 1, epoch + 1), inconsistent},          // header epoch
        {second_only, part(7, 60, 1), "duplicate snapshot part"},
        {late_start, whole(late, 1), "invalid snapshot interest set"},
        {twice_start, whole(twice, 0), "duplicate entity identity"},
        {aged, whole(one_twice, 0), "duplicate entity identity", 0.3},
        {aged, part(2, 30, 1, epoch, 4, 0, 4), inconsistent, 0.3},
        {crowded, whole(one_twice, 0), "duplicate entity identity", 0.3},
    };
    for (const Case& c : cases) {
        SnapshotAssembly assembly = c.start;
        EXPECT_EQ(test::error_of([&] { ingest(assembly, c.bytes, c.now); }), c.message);
        EXPECT_TRUE(view(assembly) == view(c.start)) << c.message;
    }
}

TEST(SnapshotAssembly, CompletionOrderAndStaleness) {
    SnapshotAssembly assembly;
    ASSERT_EQ(snapshot_part_payloads(snapshot(9, 23))[0].bytes.size(), 32u + 23 * 40);
    std::optional<Snapshot> got = ingest(assembly, part(9, 23, 0)); // a single part completes
    ASSERT_TRUE(got);
    EXPECT_TRUE(fields(*got) == fields(snapshot(9, 23)));
    EXPECT_EQ(assembly.last, 9u);
    EXPECT_TRUE(assembly.partials.empty());

    Snapshot big = snapshot(10, 368); // 16 parts in reverse, the epoch from the header
    big.epoch = 11;
    for (std::size_t i = 16; i-- > 1;) ASSERT_FALSE(ingest(assembly, part(10, 368, i, 11)));
    got = ingest(assembly, part(10, 368, 0, 11));
    ASSERT_TRUE(got);
    EXPECT_TRUE(fields(*got) == fields(big));
    EXPECT_FALSE(ingest(assembly, part(10, 368, 0, 11))); // stale once complete

    // Ids up to 2^31 behind the last, with wrap-around, are dropped unread.
    for (std::uint32_t id : {10u, 9u, 10u + 0x80000000u}) {
        const auto before = view(assembly);
        EXPECT_FALSE(ingest(assembly, part(id, 1, 0)));
        EXPECT_TRUE(view(assembly) == before) << id;
    }
    EXPECT_TRUE(ingest(assembly, part(9u + 0x80000000u, 1, 0)));
    assembly.last = 0xFFFFFFFFu;
    EXPECT_TRUE(ingest(assembly, part(0, 1, 0)));
    EXPECT_FALSE(ingest(assembly, part(0xFFFFFFF0u, 1, 0)));
}

TEST(SnapshotAssembly, PartialsAreCappedAndExpire) {
    SnapshotAssembly assembly;
    for (std::uint32_t id : {10u, 3u, 7u, 12u, 20u}) ingest(assembly, part(id, 30, 0));
    std::vector<std::uint32_t> ids;
    for (const auto& entry : assembly.partials) ids.push_back(entry.first);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{7, 10, 12, 20})); // the smallest id went
    EXPECT_FALSE(ingest(assembly, part(3, 30, 1)));              // starts over, pushing out 7
    EXPECT_FALSE(assembly.partials.contains(7));

    SnapshotAssembly aging;
    ingest(aging, part(8, 30, 0), 1.0);
    EXPECT_FALSE(ingest(aging, part(8, 30, 1), 1.25)); // evicted first, then started anew
    ASSERT_TRUE(aging.partials.contains(8));
    EXPECT_EQ(aging.partials.at(8).received, 1.25);
    EXPECT_FALSE(aging.partials.at(8).parts[0]);
    ingest(aging, part(9, 30, 0), 1.1);
    ingest(aging, part(11, 30, 0), 1.5); // sweeps every aged partial, not only its own
    EXPECT_FALSE(aging.partials.contains(8) || aging.partials.contains(9));
    SnapshotAssembly young;
    ingest(young, part(8, 30, 0), 1.0);
    EXPECT_TRUE(ingest(young, part(8, 30, 1), 1.125));
}

} // namespace
} // namespace kestrel
