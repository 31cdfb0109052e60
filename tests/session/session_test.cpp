// The session: handoff packets, snapshots in parts, prediction and remote interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/same.h" // same(): member-wise equality of the session types
#include "session/handoff_client.h"
#include "session/handoff_messages.h"
#include "session/prediction.h"
#include "session/remote_interpolation.h"
#include "session/snapshot_assembly.h"
#include "tests/support/errors.h"
#include "world/movement.h"

namespace kestrel {
namespace {

constexpr std::uint64_t session_id = 0x0102030405060708, trip = 0x7777000011112222, target = 900;
constexpr std::uint32_t first_epoch = 5, next_epoch = 6, player = 42;
constexpr std::int32_t cell = 65536;
using Fields = std::vector<test::Field>;
using u32 = std::uint32_t;
using u64 = std::uint64_t;

Sector room(bool pillar) { // with a pillar in cell (16, 16)
    Sector s;
    s.id = target;
    for (int i = 0; i < 32; ++i)
        s.cells[i] = s.cells[31 * 32 + i] = s.cells[i * 32] = s.cells[i * 32 + 31] = 1;
    s.cells[16 * 32 + 16] = pillar;
    return s;
}
const Sector sector = room(true);
const std::vector<Writer> chunks = map_chunks(trip, sector);

// The payload with `set` overwritten, then cut or padded to `size` if given.
Bytes frame(Type type, Writer payload, u32 epoch = first_epoch, const Fields& set = {},
            std::size_t size = 0, u64 session = session_id) {
    payload.bytes = test::with(payload.bytes, set);
    if (size) payload.bytes.resize(size);
    return packet(type, session, 1, epoch, payload);
}

Bytes chunk(std::size_t i, u32 epoch = first_epoch, const Fields& set = {},
            u64 session = session_id) {
    return frame(Type::MapChunk, chunks[i], epoch, set, 0, session);
}

std::optional<Writer> deliver(HandoffClient& client, const Bytes& bytes) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return client.handle(header, reader);
}

Bytes welcome(const Fields& set = {}, std::size_t size = 0) {
    return frame(Type::Welcome, welcome_payload(player, 600, 99), first_epoch, set, size);
}

Bytes begin(u64 id = trip, u32 window = 300, u32 epoch = next_epoch, u64 to = target,
            u32 header_epoch = first_epoch) {
    return frame(Type::TransitionBegin, transition_begin_payload(id, to, epoch, window),
                 header_epoch);
}

Player spawn_at(std::int32_t x, std::int32_t y) {
    return {.id = player, .x = x, .y = y, .ammo = 0, .weapon = 2};
}

Bytes commit(const Fields& set = {}, int resize = 0,
             const Player& spawn = spawn_at(3 * cell, 3 * cell), u32 epoch = next_epoch) {
    Writer payload = transition_commit_payload(trip, target, next_epoch, 1234, spawn);
    return frame(Type::TransitionCommit, payload, epoch, set, payload.bytes.size() + resize);
}

Bytes abort(u32 reason, u32 detail = 0, std::size_t size = 16, u64 id = trip,
            u32 epoch = next_epoch) {
    return frame(Type::TransitionAbort, transition_abort_payload(id, reason), epoch,
                 {{12, 4, detail}}, size);
}

// Welcomed, then the given packets; `map` adds a begin and the whole map.
HandoffClient after(std::vector<Bytes> packets, bool map = false) {
    HandoffClient client;
    if (map) packets.insert(packets.begin(), begin());
    for (std::size_t i = 0; map && i < chunks.size(); ++i) packets.push_back(chunk(i));
    deliver(client, welcome());
    for (const Bytes& bytes : packets) deliver(client, bytes);
    return client;
}

// Refused packets name their cause, stale ones ("no error") are dropped; neither is acked.
TEST(HandoffClient, RefusedStaleAndAcceptedPackets) {
    std::vector<Bytes> corrupt; // a complete map whose CRC does not match
    for (std::size_t i = 0; i < chunks.size(); ++i)
        corrupt.push_back(chunk(i, first_epoch, {{24, 4, crc32(sector.encode()) ^ 1}}));
    HandoffClient fresh, five_early, corrupt_early = after(corrupt), aborting = after({}, true);
    for (int i = 0; i < 5; ++i) deliver(five_early, chunk(0));
    deliver(aborting, commit());
    deliver(aborting, begin(trip + 1, 300, 7, 901, next_epoch));
    const HandoffClient w = after({}), full = after({}, true), edge = after({begin(trip, 30000)}),
                        first_chunk = after({begin(), chunk(0)}),
                        corrupt_half = after({begin(), corrupt[0]});
    const Writer hello = welcome_payload(player, 600, 99),
                 go = transition_begin_payload(trip, target, next_epoch, 300);
    const std::string welcome_ = "invalid welcome", id_ = "invalid welcome identity",
                      rates = "unsupported tick rates", begin_ = "invalid transition begin",
                      map = "incomplete/corrupt map", boost = "invalid commit boost",
                      weapon = "invalid commit weapon", commit_ = "invalid transition commit",
                      abort_ = "invalid abort", short_ = "truncated packet",
                      long_ = "trailing bytes", none = "no error";
    // Spawns just inside the player radius of the pillar (two) and outside the coordinates.
    const Player inside = spawn_at(17 * cell + 56 * 256, 16 * cell + cell / 2),
                 near = spawn_at(17 * cell + 56 * 256, 17 * cell + 1280),
                 out = spawn_at(0, 3 * cell);
    // clang-format off
    using enum Type;
    const std::pair<const HandoffClient&, std::vector<std::pair<Bytes, std::string>>> cases[] = {
        {five_early, {{chunk(0), "too many early chunks"}}},
        {fresh, {{welcome({}, 23), welcome_}, {welcome({}, 25), welcome_}, {frame(Welcome, hello, 0), welcome_},
            {frame(Welcome, hello, first_epoch, {}, 0, 0), welcome_}, {welcome({{4, 2, 31}}), rates},
            {welcome({{6, 2, 16}}), rates}, {welcome({{12, 4, 8}}), "unsupported ruleset"},
            {welcome({{0, 4, 0}}), id_}, {welcome({{16, 8, 0}}), id_}}},
        {w, {{welcome(), welcome_}, {begin(0), begin_}, {begin(trip, 300, next_epoch, 0), begin_},
            {begin(trip, 300, 0), begin_}, {begin(trip, 300, first_epoch), begin_}, {begin(trip, 249), begin_},
            {begin(trip, 30001), begin_}, {frame(TransitionBegin, go, first_epoch, {}, 25), long_},
            {frame(TransitionBegin, go, first_epoch, {}, 16), short_}, {commit(), none}}},
        {edge, {{begin(trip + 1, 250), "overlapping transition"}}}, {first_chunk, {{commit(), commit_}}},
        {corrupt_half, {{corrupt[1], map}}}, {corrupt_early, {{begin(), map}}}, // replayed alike
        {aborting, {{abort(1, 0, 16, trip + 1, 6), "invalid abort epoch"}}},
        {full, {{chunk(0, first_epoch, {}, 9), "handoff session mismatch"},
            {commit({{32, 2, 1}}), "unsupported player height"}, {commit({{47, 1, 8}}), "entity flags"},
            {commit({{40, 2, 1}}), "unsupported vertical velocity"}, {commit({{46, 1, 2}}), "commit entity kind"},
            {commit({{50, 2, 0}}), weapon}, {commit({{50, 2, 5}}), weapon}, {commit({{56, 2, 201}}), boost},
            {commit({{58, 2, 91}}), boost}, {commit({{60, 2, 901}}), boost}, {commit({{62, 2, 5}}), boost},
            {commit({}, -1), short_}, {commit({}, 1), long_}, {commit({{8, 8, target + 1}}), commit_},
            {commit({{16, 4, next_epoch + 1}}), commit_}, {commit({{24, 4, player + 1}}), commit_},
            {commit({}, 0, spawn_at(3 * cell, 3 * cell), first_epoch), commit_}, // header epoch
            {commit({}, 0, inside), commit_}, {commit({}, 0, near), commit_}, {commit({}, 0, out), commit_},
            {abort(0), abort_}, {abort(4), abort_}, {abort(1, 1), abort_}, {abort(1, 0, 12), short_},
            {abort(0x10001, 0, 12), abort_}, {abort(1, 0, 17), long_}, // high bits before the detail
            {commit({{0, 8, trip + 1}}), none}, {chunk(0, next_epoch), none}, {frame(Type{11}, {}), none},
            {abort(1, 0, 16, trip + 1), none}, {frame(TransitionBegin, {}, first_epoch - 1), none}}}, // unread
    };
    // clang-format on
    for (const auto& [start, rows] : cases)
        for (const auto& [bytes, message] : rows) {
            HandoffClient client = start;
            std::optional<Writer> ack;
            EXPECT_EQ(test::error_of([&] { ack = deliver(client, bytes); }), message);
            EXPECT_TRUE(!ack && fuzz::same(client, start)) << message;
        }
    // Only a reader running past the header's length can carry more: still refused.
    Bytes good = welcome(), longer = good;
    longer.push_back(0);
    Reader reader(good), past(longer);
    const Header header = read_header(reader);
    past.position = header_size;
    EXPECT_EQ(test::error_of([&] { fresh.handle(header, past); }), long_);

    HandoffClient client;
    EXPECT_FALSE(deliver(client, welcome()));
    EXPECT_EQ(
        std::tie(client.session, client.epoch, client.player_id, client.server_tick, client.state),
        std::make_tuple(session_id, first_epoch, player, 600u, HandoffState::Transit));
    EXPECT_FALSE(deliver(client, begin()) || deliver(client, begin())); // a repeat: no ack yet
    for (std::size_t i = chunks.size(); i-- > 1;)                       // reversed, each twice
        EXPECT_FALSE(deliver(client, chunk(i)) || deliver(client, chunk(i)));
    const std::optional<Writer> ack = deliver(client, chunk(0));
    EXPECT_EQ(client.pending, sector);
    ASSERT_TRUE(ack); // transition, target sector, revision, blob CRC
    // clang-format off
    EXPECT_EQ(ack->bytes, test::with(Bytes(24), {{0, 8, trip}, {8, 8, target}, {16, 4, sector.revision},
                                                 {20, 4, crc32(sector.encode())}}));
    // clang-format on
    // Every later chunk, and a repeated begin, acknowledges again.
    EXPECT_EQ(deliver(client, chunk(1))->bytes, ack->bytes);
    EXPECT_EQ(deliver(client, begin())->bytes, ack->bytes);

    HandoffClient aborted = client, lower = client;
    EXPECT_FALSE(deliver(aborted, abort(2)));
    EXPECT_EQ(std::tie(aborted.state, aborted.epoch, aborted.transition, aborted.target_sector,
                       aborted.pending),
              std::make_tuple(HandoffState::Aborted, next_epoch, 0ull, 0ull, std::nullopt));

    // The player radius 14418 lies between wire steps of 256: 57 * 256 clears the pillar, and
    // so does 256 * hypot(56, 6) = 14418.4 off its corner. Flags 4..7 raise tick_event.
    Player spawn = spawn_at(17 * cell + 57 * 256, 16 * cell + cell / 2),
           corner = spawn_at(17 * cell + 56 * 256, 17 * cell + 1536);
    spawn.yaw = 16384, spawn.vx = -512, spawn.ammo = 55, spawn.boost = 4, spawn.tick_event = true;
    deliver(lower, commit({{47, 1, 3}}, 0, corner));
    EXPECT_EQ(lower.spawn, corner);
    EXPECT_FALSE(deliver(client, commit({{47, 1, 7}}, 0, spawn)));
    EXPECT_EQ(std::tie(client.state, client.committed, client.pending, client.spawn, client.epoch,
                       client.server_tick, client.transition, client.target_sector),
              std::make_tuple(HandoffState::Active, sector, std::nullopt, spawn, next_epoch, 1234u,
                              0ull, 0ull));

    // An abort with a sector committed stays in it, one epoch on: the old epoch is stale.
    deliver(client, begin(trip + 1, 300, 7, 901, next_epoch));
    EXPECT_EQ(client.state, HandoffState::Transit);
    deliver(client, abort(3, 0, 16, trip + 1, 7));
    EXPECT_EQ(std::tie(client.state, client.epoch, client.committed),
              std::make_tuple(HandoffState::Active, 7u, sector));
    EXPECT_FALSE(deliver(client, begin(trip + 2, 300, 9, 902, next_epoch)));
    EXPECT_EQ(client.transition, 0u);

    // Early chunks go unchecked until the Welcome; only the current epoch and session replay.
    HandoffClient early;
    const Fields flip = {{40, 1, chunks[0].bytes[40] ^ 1u}}; // would spoil the map if replayed
    for (const Bytes& bytes :
         {chunk(0, first_epoch, flip, 3), chunk(0, next_epoch, flip), chunk(0), chunk(1)})
        deliver(early, bytes);
    EXPECT_EQ(early.early_chunks.size(), 4u);
    deliver(early, welcome());
    ASSERT_TRUE(deliver(early, begin()));
    EXPECT_TRUE(early.pending == sector && early.early_chunks.empty());
}

// The viewer's id hashes to the slot of id 16: the duplicate check must probe past it.
constexpr u32 epoch = 4, viewer = 1003;

Snapshot snapshot(u32 id, std::size_t count) { // the viewer first
    Snapshot s{
        id, 300 + id, 12, 3, viewer, epoch, 0xABCDEF0123ull, std::vector<ReplicatedEntity>(count)};
    for (u32 i = 0; i < count; ++i) s.entities[i].id = i == 0 ? viewer : i;
    return s;
}

Bytes part(const Snapshot& s, std::size_t index, const Fields& set = {}, u32 header_epoch = epoch,
           std::size_t size = 0) {
    return frame(Type::SnapshotPart, snapshot_part_payloads(s)[index], header_epoch, set, size);
}

std::optional<Snapshot> ingest(SnapshotAssembly& assembly, const Bytes& bytes, double now = 1.0) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return assembly.ingest(header, reader, now);
}

TEST(SnapshotAssembly, RefusalsCompletionOrderStalenessCapAndExpiry) {
    SnapshotAssembly started, second_only, full, late_start, twice_start;
    for (u32 id : {6u, 3u}) ingest(started, part(snapshot(id, 30), 0));
    ingest(second_only, part(snapshot(7, 60), 1));
    ingest(full, part(snapshot(1, 30), 0), 0.0); // at the cap, 1 aged out at 0.3: a refusal
    for (u32 id : {2u, 4u, 5u}) ingest(full, part(snapshot(id, 30), 0), 0.15);
    Snapshot late = snapshot(2, 30), twice = snapshot(6, 30), one_twice = snapshot(9, 2);
    std::swap(late.entities[0], late.entities[25]); // the viewer only in the second part
    twice.entities[27].id = 4;                      // entity 4 in both parts
    one_twice.entities[1].id = viewer;
    ingest(late_start, part(late, 0));
    ingest(twice_start, part(twice, 1));

    const std::string invalid = "invalid snapshot part", mixed = "inconsistent snapshot parts",
                      dup = "duplicate entity identity";
    // clang-format off
    std::vector<std::tuple<const SnapshotAssembly*, Bytes, std::string, double>> cases = {
        {&started, part(snapshot(6, 2), 0, {{28, 2, 0}}, epoch, 32), invalid, 1.0},
        {&started, part(snapshot(6, 2), 0, {}, epoch, 31), "truncated packet", 1.0},
        {&started, part(snapshot(6, 30), 1, {}, epoch + 1), mixed, 1.0}, {&full, part(one_twice, 0), dup, 0.3},
        {&second_only, part(snapshot(7, 60), 1), "duplicate snapshot part", 1.0},
        {&late_start, part(late, 1), "invalid snapshot interest set", 1.0},
        {&twice_start, part(twice, 0), dup, 1.0},
    };
    // clang-format on
    // (entities, part, field) against `started`: revision, sector, viewer 0; count 0, 1, 3 of 2;
    // index 1 of 1; 0 or 17 parts; then tick, ack, revision, sector, viewer, parts changed.
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
        EXPECT_TRUE(fuzz::same(assembly, *start)) << message;
    }

    SnapshotAssembly assembly;
    std::optional<Snapshot> got = ingest(assembly, part(snapshot(9, 23), 0)); // one part is all
    EXPECT_TRUE(got && fuzz::same(*got, snapshot(9, 23)));
    EXPECT_TRUE(fuzz::same(assembly, SnapshotAssembly{{}, 9}));
    Snapshot big = snapshot(10, 368); // 16 parts in reverse, the epoch from the header
    for (std::size_t i = 16; i-- > 1;) ASSERT_FALSE(ingest(assembly, part(big, i, {}, 11)));
    got = ingest(assembly, part(big, 0, {}, 11));
    big.epoch = 11;
    EXPECT_TRUE(got && fuzz::same(*got, big));
    // Ids up to 2^31 behind the last, with wrap-around, are dropped unread.
    const SnapshotAssembly before = assembly;
    for (u32 id : {10u, 9u, 10u + 0x80000000u})
        EXPECT_FALSE(ingest(assembly, part(snapshot(id, 1), 0))) << id;
    EXPECT_TRUE(fuzz::same(assembly, before));
    EXPECT_TRUE(ingest(assembly, part(snapshot(9u + 0x80000000u, 1), 0)));
    assembly.last = 0xFFFFFFFFu;
    EXPECT_TRUE(ingest(assembly, part(snapshot(0, 1), 0)));
    EXPECT_FALSE(ingest(assembly, part(snapshot(0xFFFFFFF0u, 1), 0)));

    SnapshotAssembly capped; // at most four partials: the smallest id goes
    for (u32 id : {10u, 3u, 7u, 12u, 20u}) ingest(capped, part(snapshot(id, 30), 0));
    EXPECT_TRUE(capped.partials.size() == 4 && !capped.partials.contains(3));
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

using Offset = Prediction::Offset;

const Grid grid = room(false).collision(false);

Player at(std::int32_t x, std::int32_t y, std::uint16_t health = 100) {
    return {.id = 7, .x = x, .y = y, .health = health};
}

Input walk(u32 sequence, u32 tick, u32 yaw = 3000) {
    return Input{sequence, tick, button::forward, static_cast<std::uint16_t>(yaw)};
}

auto view(const Prediction& p) {
    return std::make_tuple(p.pending(), p.predicted(), p.previous(), p.offset(), p.reconciles(),
                           p.max_correction());
}

// Standing at (16, 16) cells with the commands (i, 100 + i, i * 4000) for i in 1..count.
Prediction walked(u32 count) {
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    for (u32 i = 1; i <= count; ++i) EXPECT_TRUE(prediction.step(walk(i, 100 + i, i * 4000), grid));
    return prediction;
}

TEST(Prediction, StepsRefusalsReconcilingAndSmoothing) {
    Prediction prediction = walked(2);
    Player first = at(16 * cell, 16 * cell), second;
    move(first, walk(1, 101, 4000), grid);
    move(second = first, walk(2, 102, 8000), grid);
    const auto walked_two = std::make_tuple(std::deque{walk(1, 101, 4000), walk(2, 102, 8000)},
                                            second, first, Offset{}, u64{0}, 0.0);
    // Not newer in both counts; more than half the counter range ahead reads as behind.
    for (const Input& input :
         {walk(2, 103), walk(3, 102), walk(3, 101), walk(1, 103), walk(2 + 0x80000000u, 103)})
        EXPECT_EQ(test::error_of([&] { prediction.step(input, grid); }),
                  "prediction command order");
    EXPECT_TRUE(view(prediction) == walked_two);

    Prediction wrapping; // counters that wrap are still in order
    for (u32 i : {4294967295u, 0u, 1u}) ASSERT_TRUE(wrapping.step(walk(i, i), grid));
    wrapping.reconcile(at(16 * cell, 16 * cell), 4294967295u, 4294967295u, grid);
    EXPECT_EQ(wrapping.pending(), (std::deque{walk(0, 0), walk(1, 1)}));

    Prediction full = walked(120);
    const auto at_limit = view(full);
    EXPECT_FALSE(full.step(walk(121, 221), grid) || full.step(walk(1, 1), grid)); // size first
    EXPECT_TRUE(view(full) == at_limit);
    full.reconcile(full.predicted(), 1, 101, grid);
    EXPECT_TRUE(full.pending().size() == 119 && full.step(walk(121, 221), grid));

    // Reconciling replays what the server has not applied; either count acknowledges.
    Prediction all = walked(5), some = walked(10), by_tick = walked(6), by_sequence = walked(6);
    Player server = at(17 * cell, 15 * cell), moved = at(15 * cell + 123, 16 * cell - 4567);
    server.ammo = 42;
    all.reconcile(server, 5, 105, grid);
    some.reconcile(moved, 4, 104, grid);
    by_tick.reconcile(at(16 * cell, 16 * cell), 0, 103, grid);
    by_sequence.reconcile(at(16 * cell, 16 * cell), 2, 50, grid);
    for (u32 i = 5; i <= 10; ++i) move(moved, walk(i, 100 + i, i * 4000), grid);
    EXPECT_TRUE(all.pending().empty() && all.predicted() == server && all.previous() == server);
    EXPECT_TRUE(some.pending().size() == 6 && some.predicted() == moved &&
                some.previous() == moved);
    EXPECT_EQ(std::make_tuple(some.pending().front().sequence, by_tick.pending().front().sequence,
                              by_sequence.pending().front().sequence),
              std::make_tuple(5u, 4u, 3u));

    // Corrections up to three quarters of a cell are smoothed. A jump by (dx, dy) units with
    // nothing pending; the offset left; the largest correction.
    // clang-format off
    const std::tuple<std::int32_t, std::int32_t, std::uint16_t, Offset, double> cases[] = {
        {49152, 0, 100, {0.75f, 0}, 0.75}, {0, -49153, 100, {}, 49153.0 / 65536},
        {34734, 34734, 100, {34734.0f / 65536, 34734.0f / 65536}, std::hypot(34734.0, 34734.0) / 65536},
        {35390, 35390, 100, {}, std::hypot(35390.0, 35390.0) / 65536},
        {1000, 1000, 0, {}, std::hypot(1000.0, 1000.0) / 65536}, // dead: always snaps
    };
    // clang-format on
    for (const auto& [dx, dy, health, offset, largest] : cases) {
        Prediction p = walked(0);
        p.reconcile(at(16 * cell - dx, 16 * cell - dy, health), 0, 0, grid);
        EXPECT_EQ(std::make_pair(p.offset(), p.reconciles()), std::make_pair(offset, 1ul));
        EXPECT_NEAR(p.max_correction(), largest, 1e-12);
    }
    Prediction smoothed = walked(0);
    smoothed.reconcile(at(16 * cell - 32768, 16 * cell + 16384), 0, 0, grid);
    for (double dt : {-1.0, 0.0}) smoothed.smooth(dt); // no time: no decay
    EXPECT_EQ(smoothed.offset(), (Offset{0.5f, -0.25f}));
    Prediction again = smoothed; // a second jump adds to the offset: 0.5 + 0.3 snaps
    again.reconcile(at(16 * cell - 32768 - 19661, 16 * cell + 16384), 0, 0, grid);
    EXPECT_EQ(std::make_pair(again.offset(), again.reconciles()), std::make_pair(Offset{}, 2ul));
    smoothed.smooth(0.1); // a time constant of 0.1 s
    EXPECT_EQ(smoothed.offset(), (Offset{static_cast<float>(0.5 * std::exp(-1.0)),
                                         static_cast<float>(-0.25 * std::exp(-1.0))}));
    // A reset starts over but keeps the counters; any first command is then accepted.
    smoothed.step(walk(5, 5), grid);
    smoothed.reset(at(3 * cell, 4 * cell));
    EXPECT_TRUE(view(smoothed) == std::make_tuple(std::deque<Input>{}, at(3 * cell, 4 * cell),
                                                  at(3 * cell, 4 * cell), Offset{}, u64{1},
                                                  std::sqrt(0.3125)));
    EXPECT_TRUE(smoothed.step(walk(0, 0), grid));
}

ReplicatedEntity entity(u32 id, double x, double y, std::uint16_t yaw = 0) {
    return {{.id = id, .x = std::int32_t(x * cell), .y = std::int32_t(y * cell), .yaw = yaw}};
}

// The viewer (id 1) first, as every snapshot has it.
Snapshot remote(u32 tick, std::vector<ReplicatedEntity> others) {
    others.insert(others.begin(), entity(1, 5, 5));
    return {tick, tick, 0, 0, 1, 0, 0, others};
}

// The drawn entity with the given id, or a default one with id 0.
DrawEntity drawn(const std::vector<DrawEntity>& entities, u32 id) {
    for (const DrawEntity& e : entities)
        if (e.id == id) return e;
    return DrawEntity{};
}

auto view(const RemoteInterpolation& r) {
    return std::make_tuple(r.samples().size(), r.samples().empty() ? -1 : r.samples().back().time,
                           r.pushed_at(), r.server_time());
}

TEST(RemoteInterpolation, TimeLineBlendHoldCoastGapsYawClampAndRecordFields) {
    RemoteInterpolation lerp;
    EXPECT_TRUE(lerp.sample(1.0).empty());
    lerp.push(remote(100, {}), 5.0);
    EXPECT_EQ(view(lerp), std::make_tuple(1u, 0.0, 5.0, 0.0));
    for (auto [tick, now] : {std::pair{130u, 6.0}, {130u, 7.0}, {129u, 7.5}}) // older ignored
        lerp.push(remote(tick, {}), now);
    EXPECT_EQ(view(lerp), std::make_tuple(2u, 1.0, 6.0, 1.0));
    lerp.push(Snapshot{131, 131, 0, 0, 1, 0, 0, {}}, 7.0);
    EXPECT_TRUE(lerp.sample(7.2).empty()); // the newest sample has nobody

    lerp.clear();
    lerp.push(remote(4294967290u, {}), 0.0);
    lerp.push(remote(4, {}), 0.5); // 10 ticks later
    EXPECT_DOUBLE_EQ(lerp.server_time(), 10.0 / 30.0);
    // Entity 2 stands at x = tick * tick / 8 cells; only the newest 8 samples are kept.
    for (u32 tick = 5; tick < 13; ++tick)
        lerp.push(remote(tick, {entity(2, tick * tick / 8.0, 1)}), 1.0);
    EXPECT_EQ(std::make_pair(lerp.samples().size(), lerp.samples().front().snapshot.tick),
              std::make_pair(std::size_t{8}, 5u));
    EXPECT_DOUBLE_EQ(lerp.server_time(), 18.0 / 30.0);
    // r = 18/30 + 1/30 - 0.1 is the time of tick 10.
    EXPECT_FLOAT_EQ(drawn(lerp.sample(1.0 + 1.0 / 30.0), 2).x, 12.5f);

    ReplicatedEntity mover = entity(2, 10, 20);
    mover.vx = 3 * cell, mover.vy = -2 * cell; // cells per second
    RemoteInterpolation one;
    one.push(remote(50, {mover}), 4.0);
    // Held until r passes the sample, then coasting for at most a tenth of a second.
    // clang-format off
    const std::tuple<double, float, float> path[] = {
        {4.0, 10, 20}, {4.1, 10, 20}, {4.15, 10.15f, 19.9f}, {4.2, 10.3f, 19.8f}, {9.0, 10.3f, 19.8f}};
    // clang-format on
    for (const auto& [now, x, y] : path) {
        EXPECT_FLOAT_EQ(drawn(one.sample(now), 2).x, x) << now;
        EXPECT_FLOAT_EQ(drawn(one.sample(now), 2).y, y) << now;
    }

    RemoteInterpolation early;
    early.push(remote(0, {entity(2, 6, 6)}), 0.0); // r before the oldest: the oldest is used
    early.push(remote(2, {entity(2, 8, 6)}), 0.0);
    EXPECT_EQ(drawn(early.sample(0.0), 2).x, 6.0f);

    // Entity 2 blends from 0 s to 2 s past the sample that lacks it, entity 3 from 1 s to
    // 2 s; 4 exists only in the newest, 5 only in an older one; the newest order is kept.
    RemoteInterpolation gaps;
    for (const Snapshot& s : {remote(0, {entity(2, 10, 10)}), remote(30, {entity(3, 2, 2)}),
                              remote(60, {entity(2, 14, 14), entity(3, 3, 3), entity(5, 1, 1)}),
                              remote(62, {entity(3, 3, 3), entity(2, 14, 14), entity(4, 9, 9)})})
        gaps.push(s, 0.0);
    const double r = 62.0 / 30.0 - 0.1;
    const std::vector<DrawEntity> out = gaps.sample(0.0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(std::make_tuple(out[0].id, out[1].id, out[2].id), std::make_tuple(3u, 2u, 4u));
    EXPECT_FLOAT_EQ(out[0].x, static_cast<float>(2 + (r - 1)));
    EXPECT_FLOAT_EQ(out[1].x, static_cast<float>(10 + r / 2 * 4));
    EXPECT_TRUE(out[1].y == out[1].x && gaps.sample(-1.0) == out); // a clock behind counts as now
    EXPECT_EQ(std::make_pair(out[2].x, out[2].y), std::make_pair(9.0f, 9.0f));

    RemoteInterpolation turning, fields;
    turning.push(remote(0, {entity(2, 4, 4, 65000), entity(3, 4, 4, 16000)}), 0.0);
    turning.push(remote(30, {entity(2, 4, 4, 500), entity(3, 4, 4, 48000)}), 0.0);
    const std::vector<DrawEntity> turned = turning.sample(0.0); // a = 0.9
    EXPECT_FLOAT_EQ(turned[0].yaw, 65000.0f + 0.9f * 1036.0f);  // across 65536, unwrapped
    EXPECT_FLOAT_EQ(turned[1].yaw, 16000.0f + 0.9f * 32000.0f); // +32000 is the short way

    ReplicatedEntity outside = entity(2, 32.5, -1.0), coasting = entity(3, 31.9, 0.05),
                     e = entity(9, 3, 4, 1234), up = entity(10, 6, 7);
    coasting.vx = 2 * cell, coasting.vy = -2 * cell;
    e.health = 0, e.type = 17, e.kind = 18, e.tick_event = true, e.cooldown = 155, e.state = 3;
    e.height = static_cast<std::uint16_t>(-640), up.height = 384; // 2.5 cells below the floor
    Snapshot s = remote(7, {outside, coasting, e, up, entity(11, 1, 1)});
    s.viewer = 11; // the viewer need not be the first record
    fields.push(s, 0.0);
    const std::vector<DrawEntity> drawn = fields.sample(1.0);
    ASSERT_EQ(drawn.size(), 5u); // id 1 is drawn, the viewer 11 is not
    EXPECT_EQ(drawn[0].id, 1u);
    for (int i : {1, 2})
        EXPECT_EQ(std::make_pair(drawn[i].x, drawn[i].y), std::make_pair(31.99f, 0.0f));
    EXPECT_EQ(drawn[3], (DrawEntity{3, 4, -2.5f, 1234, 9, 0, 17, 18, 1, 100, 155, 3}));
    EXPECT_EQ(std::make_pair(drawn[4].z, drawn[4].marked), std::make_pair(1.5f, std::uint8_t{0}));
}

} // namespace
} // namespace kestrel
