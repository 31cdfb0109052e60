#include "session/handoff_client.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "session/handoff_messages.h"
#include "tests/support/errors.h"
#include "world/generate.h"

namespace kestrel {
namespace {

constexpr std::uint64_t session_id = 0x0102030405060708, trip = 0x7777000011112222, target = 900;
constexpr std::uint32_t first_epoch = 5, next_epoch = 6, player = 42;
const Sector sector = generate(target, 0x5EED, {});
const std::vector<Writer> chunks = map_chunks(trip, sector);

Bytes frame(Type type, const Writer& payload, std::uint32_t epoch = first_epoch,
            std::uint64_t session = session_id) {
    return packet(type, session, 1, epoch, payload);
}

std::optional<Writer> deliver(HandoffClient& client, const Bytes& bytes) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return client.handle(header, reader);
}

// The payload with (offset, value, width) fields overwritten, then cut or padded to size.
Writer edit(Writer payload, std::initializer_list<std::tuple<std::size_t, std::uint64_t, int>> set,
            std::size_t size = 0) {
    for (const auto& [offset, value, width] : set)
        for (int i = 0; i < width; ++i) payload.bytes[offset + i] = std::uint8_t(value >> (8 * i));
    if (size) payload.bytes.resize(size);
    return payload;
}

auto view(const HandoffClient& c) {
    return std::make_tuple(c.transition, c.target_sector, c.target_epoch, c.assembly.received,
                           c.assembly.bytes, c.pending, c.early_chunks.size(), c.session, c.epoch,
                           c.player_id, c.server_tick, c.spawn, c.committed, c.state);
}

Bytes welcome(std::initializer_list<std::tuple<std::size_t, std::uint64_t, int>> set = {},
              std::size_t size = 0) {
    return frame(Type::Welcome, edit(welcome_payload(player, 600, 99), set, size));
}

Bytes begin(std::uint64_t id = trip, std::uint32_t window = 300, std::uint32_t epoch = next_epoch,
            std::uint64_t to = target, std::uint32_t header_epoch = first_epoch) {
    return frame(Type::TransitionBegin, transition_begin_payload(id, to, epoch, window),
                 header_epoch);
}

Player spawn_in(const Sector& where) {
    Player spawn = zero_player();
    spawn.id = player;
    spawn.x = where.spawn_x << 8;
    spawn.y = where.spawn_y << 8;
    spawn.health = 100;
    spawn.weapon = 2;
    return spawn;
}

Bytes commit(std::initializer_list<std::tuple<std::size_t, std::uint64_t, int>> set = {},
             int resize = 0, const Sector& where = sector, const Player& spawn = spawn_in(sector)) {
    Writer payload = transition_commit_payload(trip, where.id, next_epoch, 1234, spawn);
    return frame(Type::TransitionCommit, edit(payload, set, payload.bytes.size() + resize),
                 next_epoch);
}

Bytes abort(std::uint32_t reason, std::uint32_t detail = 0, std::size_t size = 16,
            std::uint64_t id = trip, std::uint32_t epoch = next_epoch) {
    return frame(Type::TransitionAbort,
                 edit(transition_abort_payload(id, reason), {{12, detail, 4}}, size), epoch);
}

// Welcomed, then the given packets.
HandoffClient after(const std::vector<Bytes>& packets) {
    HandoffClient client;
    deliver(client, welcome());
    for (const Bytes& bytes : packets) deliver(client, bytes);
    return client;
}

// Welcomed, begun and with the whole map of `where` received.
HandoffClient ready(const Sector& where = sector) {
    HandoffClient client = after({begin(trip, 300, next_epoch, where.id)});
    for (const Writer& chunk : map_chunks(trip, where))
        deliver(client, frame(Type::MapChunk, chunk));
    return client;
}

// Refused packets name their cause, stale ones ("no error") are dropped; neither changes
// anything nor is acknowledged.
TEST(HandoffClient, RefusedAndStalePackets) {
    std::vector<Bytes> corrupt; // a complete map whose CRC does not match
    for (const Writer& chunk : chunks)
        corrupt.push_back(
            frame(Type::MapChunk, edit(chunk, {{24, crc32(sector.encode()) ^ 1, 4}})));
    HandoffClient fresh, five_early, corrupt_early = after(corrupt), aborting = ready();
    for (int i = 0; i < 5; ++i) deliver(five_early, frame(Type::MapChunk, chunks[0]));
    deliver(aborting, commit());
    deliver(aborting, begin(trip + 1, 300, 7, 901, next_epoch));
    const HandoffClient welcomed = after({}), full = ready(),
                        first_chunk = after({begin(), frame(Type::MapChunk, chunks[0])}),
                        corrupt_half = after({begin(), corrupt[0]}),
                        edge = after({begin(trip, 30000)});
    const Writer begin_payload = transition_begin_payload(trip, target, next_epoch, 300),
                 commit_payload =
                     transition_commit_payload(trip, target, next_epoch, 1234, spawn_in(sector));
    const struct {
        const HandoffClient& start;
        Bytes packet;
        std::string message;
    } cases[] = {
        {five_early, frame(Type::MapChunk, chunks[0]), "too many early chunks"},
        {welcomed, welcome(), "invalid welcome"},
        {fresh, welcome({}, 23), "invalid welcome"},
        {fresh, welcome({}, 25), "invalid welcome"},
        {fresh, frame(Type::Welcome, welcome_payload(player, 600, 99), first_epoch, 0),
         "invalid welcome"},
        {fresh, frame(Type::Welcome, welcome_payload(player, 600, 99), 0), "invalid welcome"},
        {fresh, welcome({{4, 31, 2}}), "unsupported tick rates"},
        {fresh, welcome({{6, 16, 2}}), "unsupported tick rates"},
        {fresh, welcome({{12, 8, 4}}), "unsupported ruleset"},
        {fresh, welcome({{0, 0, 4}}), "invalid welcome identity"},
        {fresh, welcome({{16, 0, 8}}), "invalid welcome identity"},
        {fresh, welcome({{4, 60, 2}, {12, 8, 4}, {0, 0, 4}}), "unsupported tick rates"},
        {fresh, welcome({{12, 8, 4}, {0, 0, 4}}), "unsupported ruleset"},
        {full, frame(Type::MapChunk, chunks[0], first_epoch, 9), "handoff session mismatch"},
        {full, frame(Type{11}, Writer{}, first_epoch, 9), "handoff session mismatch"},
        {welcomed, frame(Type::TransitionBegin, begin_payload, 5, 9), "handoff session mismatch"},
        {welcomed, begin(0), "invalid transition begin"},
        {welcomed, begin(trip, 300, next_epoch, 0), "invalid transition begin"},
        {welcomed, begin(trip, 300, 0), "invalid transition begin"},
        {welcomed, begin(trip, 300, first_epoch), "invalid transition begin"},
        {welcomed, begin(trip, 249), "invalid transition begin"},
        {welcomed, begin(trip, 30001), "invalid transition begin"},
        {welcomed, frame(Type::TransitionBegin, edit(begin_payload, {}, 25)), "trailing bytes"},
        {welcomed, frame(Type::TransitionBegin, edit(begin_payload, {}, 16)), "truncated packet"},
        {edge, begin(trip + 1, 250), "overlapping transition"},
        {corrupt_half, corrupt[1], "incomplete/corrupt map"},
        {corrupt_early, begin(), "incomplete/corrupt map"}, // the early replay fails alike
        {full, commit({{32, 1, 2}}), "unsupported player height"},
        {full, commit({{40, 1, 2}}), "unsupported vertical velocity"},
        {full, commit({{46, 2, 1}}), "commit entity kind"},
        {full, commit({{47, 8, 1}}), "entity flags"},
        {full, commit({{50, 0, 2}}), "invalid commit weapon"},
        {full, commit({{50, 5, 2}}), "invalid commit weapon"},
        {full, commit({{56, 201, 2}}), "invalid commit boost"},
        {full, commit({{58, 91, 2}}), "invalid commit boost"},
        {full, commit({{60, 901, 2}}), "invalid commit boost"},
        {full, commit({{62, 5, 2}}), "invalid commit boost"},
        {full, commit({{0, trip + 1, 8}, {32, 1, 2}}), "unsupported player height"}, // fields first
        {full, commit({}, -1), "truncated packet"},
        {full, commit({}, 1), "trailing bytes"},
        {full, commit({{8, target + 1, 8}}), "invalid transition commit"},
        {full, commit({{16, next_epoch + 1, 4}}), "invalid transition commit"},
        {full, commit({{24, player + 1, 4}}), "invalid transition commit"},
        {first_chunk, commit(), "invalid transition commit"},           // the map is incomplete
        {full, frame(Type::TransitionCommit, edit(commit_payload, {})), // header epoch
         "invalid transition commit"},
        {full, abort(0), "invalid abort"},
        {full, abort(4), "invalid abort"},
        {full, abort(1, 1), "invalid abort"},
        {full, abort(0x10001, 0, 12), "invalid abort"}, // high bits before the missing detail
        {full, abort(1, 0, 12), "truncated packet"},
        {full, abort(1, 0, 17), "trailing bytes"},
        {aborting, abort(1, 0, 16, trip + 1, 6), "invalid abort epoch"},
        {full, frame(Type::MapChunk, chunks[0], next_epoch), "no error"},
        {full, frame(Type{11}, Writer{}), "no error"},
        {full, frame(Type::Hello, Writer{}), "no error"},
        {full, commit({{0, trip + 1, 8}}), "no error"},
        {full, abort(1, 0, 16, trip + 1), "no error"},
        {full, frame(Type::TransitionBegin, Writer{}, first_epoch - 1), "no error"}, // unread
        {welcomed, commit(), "no error"},
    };
    for (const auto& c : cases) {
        HandoffClient client = c.start;
        std::optional<Writer> ack;
        EXPECT_EQ(test::error_of([&] { ack = deliver(client, c.packet); }), c.message);
        EXPECT_FALSE(ack);
        EXPECT_TRUE(view(client) == view(c.start)) << c.message;
    }
    // A wrong first rate stops the read before the second one.
    const Bytes rate = welcome({{4, 31, 2}});
    Reader reader(rate);
    const Header header = read_header(reader);
    EXPECT_ANY_THROW(fresh.handle(header, reader));
    EXPECT_EQ(reader.position, header_size + 6);
    // Only a reader running past the header's length can carry more: still refused.
    Bytes longer = welcome();
    longer.push_back(0);
    Reader past(longer);
    past.position = header_size;
    EXPECT_EQ(test::error_of([&] { fresh.handle(header, past); }), "trailing bytes");
}

TEST(HandoffClient, WelcomeBeginChunksCommitAndAbort) {
    HandoffClient client;
    EXPECT_EQ(client.state, HandoffState::Connecting);
    EXPECT_FALSE(deliver(client, welcome()));
    EXPECT_EQ(std::tie(client.session, client.epoch, client.player_id, client.server_tick),
              std::make_tuple(session_id, first_epoch, player, 600u));
    EXPECT_EQ(client.state, HandoffState::Transit);
    EXPECT_FALSE(deliver(client, begin()));
    EXPECT_EQ(std::tie(client.transition, client.target_sector, client.target_epoch),
              std::make_tuple(trip, target, next_epoch));
    EXPECT_FALSE(deliver(client, begin()));       // a repeat before the map is complete: no ack
    for (std::size_t i = chunks.size(); i-- > 1;) // reversed, each twice
        for (int twice = 0; twice < 2; ++twice)
            EXPECT_FALSE(deliver(client, frame(Type::MapChunk, chunks[i])));
    const std::optional<Writer> ack = deliver(client, frame(Type::MapChunk, chunks[0]));
    ASSERT_TRUE(ack);
    EXPECT_EQ(client.pending, sector);
    Writer expected; // transition, target sector, revision, blob CRC
    expected.u64(trip);
    expected.u64(target);
    expected.u32(sector.revision);
    expected.u32(crc32(sector.encode()));
    EXPECT_EQ(ack->bytes, expected.bytes);
    // Every later chunk, and a repeated begin, acknowledges again.
    EXPECT_EQ(deliver(client, frame(Type::MapChunk, chunks[1]))->bytes, ack->bytes);
    EXPECT_EQ(deliver(client, begin())->bytes, ack->bytes);

    HandoffClient aborted = client;
    EXPECT_FALSE(deliver(aborted, abort(2)));
    EXPECT_EQ(std::tie(aborted.state, aborted.epoch, aborted.transition, aborted.target_sector),
              std::make_tuple(HandoffState::Aborted, next_epoch, 0ull, 0ull));
    EXPECT_FALSE(aborted.pending);

    Player spawn = spawn_in(sector);
    spawn.yaw = 16384;
    spawn.vx = -512;
    spawn.ammo = 55;
    spawn.boost = 4;
    spawn.tick_event = true;
    HandoffClient low = client; // flags 4..7 raise tick_event, lower ones do not
    deliver(low, commit({{47, 3, 1}}, 0, sector, spawn));
    EXPECT_FALSE(low.spawn.tick_event);
    EXPECT_FALSE(deliver(client, commit({{47, 7, 1}}, 0, sector, spawn)));
    EXPECT_EQ(client.state, HandoffState::Active);
    EXPECT_EQ(client.committed, sector);
    EXPECT_FALSE(client.pending);
    EXPECT_EQ(client.spawn, spawn);
    EXPECT_EQ(std::tie(client.epoch, client.server_tick, client.transition, client.target_sector),
              std::make_tuple(next_epoch, 1234u, 0ull, 0ull));
    EXPECT_FALSE(client.acknowledge());

    // An abort with a sector committed stays in it, one epoch on: the old epoch is stale.
    deliver(client, begin(trip + 1, 300, 7, 901, next_epoch));
    EXPECT_EQ(client.state, HandoffState::Transit);
    deliver(client, abort(3, 0, 16, trip + 1, 7));
    EXPECT_EQ(std::tie(client.state, client.epoch), std::make_tuple(HandoffState::Active, 7u));
    EXPECT_EQ(client.committed, sector);
    EXPECT_FALSE(deliver(client, begin(trip + 2, 300, 9, 902, next_epoch)));
    EXPECT_EQ(client.transition, 0u);
}

TEST(HandoffClient, EarlyChunksReplayOnlyForTheCurrentEpochAndSession) {
    HandoffClient client; // before the Welcome nothing is checked, not even the session
    for (const Writer& chunk : chunks) deliver(client, frame(Type::MapChunk, chunk));
    deliver(client, frame(Type::MapChunk, edit(chunks[0], {{40, chunks[0].bytes[40] ^ 1u, 1}}),
                          first_epoch, 3)); // would conflict if it were replayed
    EXPECT_EQ(client.early_chunks.size(), chunks.size() + 1);
    deliver(client, welcome());
    ASSERT_TRUE(deliver(client, begin()));
    EXPECT_EQ(client.pending, sector);
    EXPECT_TRUE(client.early_chunks.empty());

    std::vector<Bytes> packets{frame(Type::MapChunk, chunks[0], next_epoch)}; // never replayed
    for (std::size_t i = 1; i < chunks.size(); ++i)
        packets.push_back(frame(Type::MapChunk, chunks[i]));
    HandoffClient lost = after(packets);
    EXPECT_FALSE(deliver(lost, begin()));
    EXPECT_FALSE(lost.pending);
    std::vector<bool> received(chunks.size(), true);
    received[0] = false;
    EXPECT_EQ(lost.assembly.received, received);
}

TEST(HandoffClient, SpawnClearanceAtThePlayerRadius) {
    Sector room; // a closed room with one pillar in cell (16, 16)
    room.id = target;
    for (int i = 0; i < 32; ++i)
        room.cells[i] = room.cells[31 * 32 + i] = room.cells[i * 32] = room.cells[i * 32 + 31] = 1;
    room.cells[16 * 32 + 16] = 1;
    // Wire coordinates are 1/256 cell, so 14418 itself cannot be sent: the nearest points on
    // either side. Off the corner 256 * hypot(56, 6) = 14418.4 clears, hypot(56, 5) does not.
    const std::tuple<std::int32_t, std::int32_t, bool> spots[] = {
        {57 * 256, 0, true}, {56 * 256, 0, false}, {56 * 256, 1536, true}, {56 * 256, 1280, false}};
    for (const auto& [dx, dy, free] : spots) {
        HandoffClient client = ready(room);
        Player spawn = spawn_in(room);
        spawn.x = 17 * 65536 + dx;
        spawn.y = dy == 0 ? 16 * 65536 + 32768 : 17 * 65536 + dy;
        EXPECT_EQ(test::error_of([&] { deliver(client, commit({}, 0, room, spawn)); }),
                  free ? "no error" : "invalid transition commit");
        EXPECT_EQ(client.spawn.x, free ? spawn.x : 0);
    }
}

} // namespace
} // namespace kestrel
