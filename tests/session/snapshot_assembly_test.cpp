#include "session/snapshot_assembly.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "session/handoff_messages.h"
#include "tests/support/errors.h"

namespace kestrel {
namespace {

// The viewer's id hashes to the slot of id 16: the duplicate check must probe past it.
constexpr std::uint32_t epoch = 4, viewer = 1003;

// A snapshot of `count` entities, the viewer first.
Snapshot snapshot(std::uint32_t id, std::size_t count) {
    Snapshot s{
        id, 300 + id, 12, 3, viewer, epoch, 0xABCDEF0123ull, std::vector<ReplicatedEntity>(count)};
    for (std::uint32_t i = 0; i < count; ++i) s.entities[i].id = i == 0 ? viewer : i;
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

// Part `index` of `s` with the given payload fields overwritten, cut to `size` if given.
Bytes part(const Snapshot& s, std::size_t index, const std::vector<test::Field>& set = {},
           std::uint32_t header_epoch = epoch, std::size_t size = 0) {
    Writer payload = snapshot_part_payloads(s)[index];
    payload.bytes = test::with(payload.bytes, set);
    if (size) payload.bytes.resize(size);
    return packet(Type::SnapshotPart, 77, 1, header_epoch, payload);
}

std::optional<Snapshot> ingest(SnapshotAssembly& assembly, const Bytes& bytes, double now = 1.0) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return assembly.ingest(header, reader, now);
}

TEST(SnapshotAssembly, RefusedPartsNameTheirCauseAndChangeNothing) {
    SnapshotAssembly started, second_only, aged, crowded, late_start, twice_start;
    for (std::uint32_t id : {6u, 3u}) ingest(started, part(snapshot(id, 30), 0));
    ingest(second_only, part(snapshot(7, 60), 1));
    ingest(aged, part(snapshot(1, 30), 0), 0.0); // aged out at 0.3: refusals must not expire it
    for (std::uint32_t id : {2u, 4u, 5u}) ingest(aged, part(snapshot(id, 30), 0), 0.15);
    for (std::uint32_t id : {2u, 4u, 5u, 6u}) ingest(crowded, part(snapshot(id, 30), 0), 0.15);
    Snapshot late = snapshot(2, 30), twice = snapshot(6, 30), one_twice = snapshot(9, 2);
    std::swap(late.entities[0], late.entities[25]); // the viewer only in the second part
    twice.entities[27].id = 4;                      // entity 4 in both parts
    one_twice.entities[1].id = viewer;
    ingest(late_start, part(late, 0));
    ingest(twice_start, part(twice, 1));

    const std::string invalid = "invalid snapshot part", mixed = "inconsistent snapshot parts",
                      dup = "duplicate entity identity";
    std::vector<std::tuple<const SnapshotAssembly*, Bytes, std::string, double>> cases = {
        {&started, part(snapshot(6, 2), 0, {{28, 2, 0}}, epoch, 32), invalid, 1.0},
        {&started, part(snapshot(6, 2), 0, {}, epoch, 31), "truncated packet", 1.0},
        {&started, part(snapshot(6, 30), 1, {}, epoch + 1), mixed, 1.0},
        {&second_only, part(snapshot(7, 60), 1), "duplicate snapshot part", 1.0},
        {&late_start, part(late, 1), "invalid snapshot interest set", 1.0},
        {&twice_start, part(twice, 0), dup, 1.0},
        {&aged, part(one_twice, 0), dup, 0.3},
        {&aged, part(snapshot(2, 30), 1, {{4, 4, 0}}), mixed, 0.3},
        {&crowded, part(one_twice, 0), dup, 0.3},
    };
    // (entities, part, offset, width, value) against `started`: revision, sector, viewer 0;
    // entity count 0, 1 or 3 of 2; index 1 of 1; part count 0 or 17; then fields that differ
    // from the first part: tick, input_ack, revision, sector, viewer, part count.
    const std::tuple<std::size_t, std::size_t, test::Field, std::string> edits[] = {
        // clang-format off
        {2, 0, {12, 4, 0}, invalid}, {2, 0, {16, 8, 0}, invalid}, {2, 0, {24, 4, 0}, invalid},
        {2, 0, {28, 2, 0}, invalid}, {2, 0, {28, 2, 1}, invalid}, {2, 0, {28, 2, 3}, invalid},
        {2, 0, {30, 1, 1}, invalid}, {2, 0, {31, 1, 0}, invalid}, {2, 0, {31, 1, 17}, invalid},
        {2, 0, {32 + 40 + 22, 1, 19}, "invalid entity record id=1 kind=19 weapon=1 x=131072 y=131072 flags=1"},
        {30, 1, {4, 4, 1}, mixed}, {30, 1, {8, 4, 1}, mixed}, {30, 1, {12, 4, 1}, mixed},
        {30, 1, {16, 8, 1}, mixed}, {30, 1, {24, 4, 1001}, mixed}, {30, 1, {31, 1, 3}, mixed},
        // clang-format on
    };
    for (const auto& [count, index, field, message] : edits)
        cases.emplace_back(&started, part(snapshot(6, count), index, {field}), message, 1.0);
    for (const auto& [start, bytes, message, now] : cases) {
        SnapshotAssembly assembly = *start;
        EXPECT_EQ(test::error_of([&] { ingest(assembly, bytes, now); }), message);
        EXPECT_TRUE(view(assembly) == view(*start)) << message;
    }
}

TEST(SnapshotAssembly, CompletionOrderStalenessCapAndExpiry) {
    SnapshotAssembly assembly;
    ASSERT_EQ(snapshot_part_payloads(snapshot(9, 23))[0].bytes.size(), 32u + 23 * 40);
    std::optional<Snapshot> got = ingest(assembly, part(snapshot(9, 23), 0)); // one part is all
    EXPECT_TRUE(got && fields(*got) == fields(snapshot(9, 23)));
    EXPECT_TRUE(view(assembly) == view(SnapshotAssembly{{}, 9}));
    Snapshot big = snapshot(10, 368); // 16 parts in reverse, the epoch from the header
    for (std::size_t i = 16; i-- > 1;) ASSERT_FALSE(ingest(assembly, part(big, i, {}, 11)));
    got = ingest(assembly, part(big, 0, {}, 11));
    big.epoch = 11;
    EXPECT_TRUE(got && fields(*got) == fields(big));
    // Ids up to 2^31 behind the last, with wrap-around, are dropped unread.
    const auto before = view(assembly);
    for (std::uint32_t id : {10u, 9u, 10u + 0x80000000u})
        EXPECT_FALSE(ingest(assembly, part(snapshot(id, 1), 0))) << id;
    EXPECT_TRUE(view(assembly) == before);
    EXPECT_TRUE(ingest(assembly, part(snapshot(9u + 0x80000000u, 1), 0)));
    assembly.last = 0xFFFFFFFFu;
    EXPECT_TRUE(ingest(assembly, part(snapshot(0, 1), 0)));
    EXPECT_FALSE(ingest(assembly, part(snapshot(0xFFFFFFF0u, 1), 0)));

    SnapshotAssembly capped; // at most four partials: the smallest id goes
    for (std::uint32_t id : {10u, 3u, 7u, 12u, 20u}) ingest(capped, part(snapshot(id, 30), 0));
    std::vector<std::uint32_t> ids;
    for (const auto& [id, partial] : capped.partials) ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{7, 10, 12, 20}));
    EXPECT_FALSE(ingest(capped, part(snapshot(3, 30), 1))); // starts over, pushing out 7
    EXPECT_FALSE(capped.partials.contains(7));

    SnapshotAssembly aging, young; // a partial lives 0.2 s
    for (auto* a : {&aging, &young}) ingest(*a, part(snapshot(8, 30), 0), 1.0);
    EXPECT_TRUE(ingest(young, part(snapshot(8, 30), 1), 1.125));
    EXPECT_FALSE(ingest(aging, part(snapshot(8, 30), 1), 1.25)); // evicted, then started anew
    const auto& anew = aging.partials.at(8);
    EXPECT_TRUE(anew.received == 1.25 && !anew.parts[0] && anew.parts[1]);
    ingest(aging, part(snapshot(9, 30), 0), 1.1);
    ingest(aging, part(snapshot(11, 30), 0), 1.5); // sweeps every aged partial, not only its own
    EXPECT_FALSE(aging.partials.contains(8) || aging.partials.contains(9));
}

} // namespace
} // namespace kestrel
