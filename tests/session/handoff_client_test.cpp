#include "session/handoff_client.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "session/handoff_messages.h"
#include "tests/support/errors.h"
#include "world/generate.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

constexpr std::uint64_t session_id = 0x0102030405060708;
constexpr std::uint32_t first_epoch = 5, next_epoch = 6, player = 42;
constexpr std::uint64_t trip = 0x7777000011112222, target = 900;

Bytes frame(Type type, const Writer& payload, std::uint32_t epoch = first_epoch,
            std::uint64_t session = session_id) {
    return packet(type, session, 1, epoch, payload);
}

std::optional<Writer> deliver(HandoffClient& client, const Bytes& bytes) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return client.handle(header, reader);
}

struct Patch {
    std::size_t offset;
    std::uint64_t value;
    int width;
};

// The payload with fields overwritten (little-endian) and then cut or zero-padded to size.
Writer edit(Writer payload, std::initializer_list<Patch> patches, std::size_t size = 0) {
    for (const Patch& p : patches)
        for (int i = 0; i < p.width; ++i)
            payload.bytes[p.offset + i] = static_cast<std::uint8_t>(p.value >> (8 * i));
    if (size) payload.bytes.resize(size);
    return payload;
}

auto view(const HandoffClient& c) {
    return std::make_tuple(c.transition, c.target_sector, c.target_epoch, c.assembly.received,
                           c.assembly.bytes, c.pending, c.early_chunks.size(), c.session, c.epoch,
                           c.player_id, c.server_tick, c.spawn, c.committed, c.state);
}

const Sector sector = generate(target, 0x5EED, {});
const std::vector<Writer> chunks = map_chunks(trip, sector);
const Writer welcome = welcome_payload(player, 600, 99);

Bytes begin(std::uint64_t id = trip, std::uint32_t window = 300, std::uint32_t epoch = next_epoch,
            std::uint64_t to = target, std::uint32_t header_epoch = first_epoch) {
    return frame(Type::TransitionBegin, transition_begin_payload(id, to, epoch, window),
                 header_epoch);
}

Player spawn_of(const Sector& where) {
    Player spawn = zero_player();
    spawn.id = player;
    spawn.x = where.spawn_x << 8;
    spawn.y = where.spawn_y << 8;
    spawn.health = 100;
    spawn.weapon = 2;
    return spawn;
}

Writer commit_for(const Sector& where, const Player& spawn) {
    return transition_commit_payload(trip, where.id, next_epoch, 1234, spawn);
}

HandoffClient welcomed() {
    HandoffClient client;
    deliver(client, frame(Type::Welcome, welcome));
    return client;
}

// Welcomed, begun and with the whole map of `where` received.
HandoffClient ready(const Sector& where = sector) {
    HandoffClient client = welcomed();
    deliver(client, begin(trip, 300, next_epoch, where.id));
    for (const Writer& chunk : map_chunks(trip, where))
        deliver(client, frame(Type::MapChunk, chunk));
    return client;
}

// Every refused packet names its cause and changes nothing; stale ones ("no error") are
// dropped without an acknowledgement.
TEST(HandoffClient, RefusedAndStalePackets) {
    const Writer commit = commit_for(sector, spawn_of(sector));
    const auto abort = [](std::uint32_t reason, std::uint32_t detail, std::size_t size = 16) {
        return frame(Type::TransitionAbort,
                     edit(transition_abort_payload(trip, reason), {{12, detail, 4}}, size),
                     next_epoch);
    };
    std::vector<Writer> corrupt = chunks; // a complete map whose CRC does not match
    for (Writer& chunk : corrupt) chunk = edit(chunk, {{24, crc32(sector.encode()) ^ 1, 4}});
    HandoffClient fresh, five_early, first_chunk = welcomed(), corrupt_half = welcomed(),
                                     corrupt_early = welcomed(), edge = welcomed(),
                                     aborting = ready();
    const HandoffClient admitted = welcomed(), full = ready();
    for (int i = 0; i < 5; ++i) deliver(five_early, frame(Type::MapChunk, chunks[0]));
    deliver(first_chunk, begin());
    deliver(first_chunk, frame(Type::MapChunk, chunks[0]));
    deliver(corrupt_half, begin());
    deliver(corrupt_half, frame(Type::MapChunk, corrupt[0]));
    for (const Writer& chunk : corrupt) deliver(corrupt_early, frame(Type::MapChunk, chunk));
    deliver(edge, begin(trip, 30000));
    deliver(aborting, frame(Type::TransitionCommit, commit, next_epoch));
    deliver(aborting, begin(trip + 1, 300, next_epoch + 1, 901, next_epoch));
    const Writer begin_bytes = transition_begin_payload(trip, target, next_epoch, 300);

    struct Case {
        const HandoffClient& start;
        Bytes packet;
        std::string message;
    };
    std::vector<Case> cases = {
        {five_early, frame(Type::MapChunk, chunks[0]), "too many early chunks"},
        {admitted, frame(Type::Welcome, welcome), "invalid welcome"},
        {fresh, frame(Type::Welcome, edit(welcome, {}, 23)), "invalid welcome"},
        {fresh, frame(Type::Welcome, edit(welcome, {}, 25)), "invalid welcome"},
        {fresh, frame(Type::Welcome, welcome, first_epoch, 0), "invalid welcome"},
        {fresh, frame(Type::Welcome, welcome, 0), "invalid welcome"},
        // Rates before the ruleset, both before the identity.
        {fresh, frame(Type::Welcome, edit(welcome, {{4, 60, 2}, {12, 8, 4}, {0, 0, 4}})),
         "unsupported tick rates"},
        {fresh, frame(Type::Welcome, edit(welcome, {{12, 8, 4}, {0, 0, 4}})),
         "unsupported ruleset"},
        {full, frame(Type::MapChunk, chunks[0], first_epoch, 9), "handoff session mismatch"},
        {full, frame(Type{11}, Writer{}, first_epoch, 9), "handoff session mismatch"},
        {admitted, frame(Type::TransitionBegin, begin_bytes, first_epoch, 9),
         "handoff session mismatch"},
        {admitted, begin(0), "invalid transition begin"},
        {admitted, begin(trip, 300, next_epoch, 0), "invalid transition begin"},
        {admitted, begin(trip, 300, 0), "invalid transition begin"},
        {admitted, begin(trip, 300, first_epoch), "invalid transition begin"},
        {admitted, begin(trip, 249), "invalid transition begin"},
        {admitted, begin(trip, 30001), "invalid transition begin"},
        {admitted, frame(Type::TransitionBegin, edit(begin_bytes, {}, 25)), "trailing bytes"},
        {admitted, frame(Type::TransitionBegin, edit(begin_bytes, {}, 16)), "truncated packet"},
        {edge, begin(trip + 1, 250), "overlapping transition"},
        {corrupt_half, frame(Type::MapChunk, corrupt[1]), "incomplete/corrupt map"},
        {corrupt_early, begin(), "incomplete/corrupt map"}, // the early replay fails as well
        {full,
         frame(Type::TransitionCommit, edit(commit, {{0, trip + 1, 8}, {32, 1, 2}}), next_epoch),
         "unsupported player height"}, // field checks even before the transition's
        {full, frame(Type::TransitionCommit, edit(commit, {}, commit.bytes.size() - 1), next_epoch),
         "truncated packet"},
        {full, frame(Type::TransitionCommit, edit(commit, {}, commit.bytes.size() + 1), next_epoch),
         "trailing bytes"},
        {full, frame(Type::TransitionCommit, commit, first_epoch), "invalid transition commit"},
        {first_chunk, frame(Type::TransitionCommit, commit, next_epoch),
         "invalid transition commit"}, // the map is incomplete
        {full, abort(0, 0), "invalid abort"},
        {full, abort(4, 0), "invalid abort"},
        {full, abort(1, 1), "invalid abort"},
        {full, abort(0x10001, 0, 12), "invalid abort"}, // high bits before the missing detail
        {full, abort(1, 0, 12), "truncated packet"},
        {full, abort(1, 0, 17), "trailing bytes"},
        {aborting, frame(Type::TransitionAbort, transition_abort_payload(trip + 1, 1), next_epoch),
         "invalid abort epoch"},
        {full, frame(Type::MapChunk, chunks[0], next_epoch), "no error"},
        {full, frame(Type{11}, Writer{}), "no error"},
        {full, frame(Type::Hello, Writer{}), "no error"},
        {full, frame(Type::TransitionCommit, edit(commit, {{0, trip + 1, 8}}), next_epoch),
         "no error"},
        {full, frame(Type::TransitionAbort, transition_abort_payload(trip + 1, 1), next_epoch),
         "no error"},
        {full, frame(Type::TransitionBegin, Writer{}, first_epoch - 1), "no error"}, // unread
        {admitted, frame(Type::TransitionCommit, commit, next_epoch), "no error"}};
    struct Field {
        std::size_t offset;
        std::uint64_t value;
        int width;
        const char* message;
    };
    const Field welcome_fields[] = {{4, 31, 2, "unsupported tick rates"},
                                    {6, 16, 2, "unsupported tick rates"},
                                    {12, 8, 4, "unsupported ruleset"},
                                    {0, 0, 4, "invalid welcome identity"},
                                    {16, 0, 8, "invalid welcome identity"}};
    for (const Field& f : welcome_fields)
        cases.push_back({fresh, frame(Type::Welcome, edit(welcome, {{f.offset, f.value, f.width}})),
                         f.message});
    const Field commit_fields[] = {{32, 1, 2, "unsupported player height"},
                                   {40, 1, 2, "unsupported vertical velocity"},
                                   {46, 2, 1, "commit entity kind"},
                                   {47, 8, 1, "entity flags"},
                                   {50, 0, 2, "invalid commit weapon"},
                                   {50, 5, 2, "invalid commit weapon"},
                                   {56, 201, 2, "invalid commit boost"},
                                   {58, 91, 2, "invalid commit boost"},
                                   {60, 901, 2, "invalid commit boost"},
                                   {62, 5, 2, "invalid commit boost"},
                                   {8, target + 1, 8, "invalid transition commit"},
                                   {16, next_epoch + 1, 4, "invalid transition commit"},
                                   {24, player + 1, 4, "invalid transition commit"}};
    for (const Field& f : commit_fields)
        cases.push_back({full,
                         frame(Type::TransitionCommit, edit(commit, {{f.offset, f.value, f.width}}),
                               next_epoch),
                         f.message});
    for (const Case& c : cases) {
        HandoffClient client = c.start;
        std::optional<Writer> ack;
        EXPECT_EQ(test::error_of([&] { ack = deliver(client, c.packet); }), c.message);
        EXPECT_FALSE(ack);
        EXPECT_TRUE(view(client) == view(c.start)) << c.message;
    }

    // A wrong first rate stops the read before the second one.
    const Bytes rate = frame(Type::Welcome, edit(welcome, {{4, 31, 2}}));
    Reader reader(rate);
    const Header header = read_header(reader);
    EXPECT_ANY_THROW(fresh.handle(header, reader));
    EXPECT_EQ(reader.position, header_size + 6);
    // read_header ties the length to the packet size: only a reader running past it can
    // carry more, and the Welcome must still refuse it.
    Bytes longer = frame(Type::Welcome, welcome);
    longer.push_back(0);
    Reader past(longer);
    past.position = header_size;
    EXPECT_EQ(test::error_of([&] { fresh.handle(header, past); }), "trailing bytes");
    EXPECT_EQ(fresh.session, 0u);
}

TEST(HandoffClient, WelcomeBeginChunksCommitAndAbort) {
    HandoffClient client;
    EXPECT_EQ(client.state, HandoffState::Connecting);
    EXPECT_FALSE(deliver(client, frame(Type::Welcome, welcome)));
    EXPECT_EQ(std::tie(client.session, client.epoch, client.player_id, client.server_tick),
              std::make_tuple(session_id, first_epoch, player, 600u));
    EXPECT_EQ(client.state, HandoffState::Transit);
    ASSERT_EQ(chunks.back().bytes.size(),
              chunk_header_size + sector.encode().size() % chunk_data_size);
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
    Writer expected; // transition, target sector, revision, blob CRC; all little-endian
    expected.u64(trip);
    expected.u64(target);
    expected.u32(sector.revision);
    expected.u32(crc32(sector.encode()));
    EXPECT_EQ(ack->bytes, expected.bytes);
    EXPECT_EQ(std::make_tuple(ack->bytes.size(), ack->bytes[0], ack->bytes[7], ack->bytes[8]),
              std::make_tuple(24u, 0x22, 0x77, 0x84));
    // Every later chunk, and a repeated begin, acknowledges again.
    EXPECT_EQ(deliver(client, frame(Type::MapChunk, chunks[1]))->bytes, ack->bytes);
    EXPECT_EQ(deliver(client, begin())->bytes, ack->bytes);

    HandoffClient aborted = client;
    EXPECT_FALSE(deliver(
        aborted, frame(Type::TransitionAbort, transition_abort_payload(trip, 2), next_epoch)));
    EXPECT_EQ(std::tie(aborted.state, aborted.epoch, aborted.transition, aborted.target_sector),
              std::make_tuple(HandoffState::Aborted, next_epoch, 0ull, 0ull));
    EXPECT_FALSE(aborted.pending);

    Player spawn = spawn_of(sector);
    spawn.yaw = 16384;
    spawn.vx = -512;
    spawn.ammo = 55;
    spawn.boost = 4;
    spawn.tick_event = true;
    HandoffClient low = client; // flags 4..7 raise tick_event, lower ones do not
    deliver(low, frame(Type::TransitionCommit, edit(commit_for(sector, spawn), {{47, 3, 1}}),
                       next_epoch));
    EXPECT_FALSE(low.spawn.tick_event);
    EXPECT_FALSE(deliver(client, frame(Type::TransitionCommit,
                                       edit(commit_for(sector, spawn), {{47, 7, 1}}), next_epoch)));
    EXPECT_EQ(client.state, HandoffState::Active);
    EXPECT_EQ(client.committed, sector);
    EXPECT_FALSE(client.pending);
    EXPECT_EQ(client.spawn, spawn);
    EXPECT_EQ(std::tie(client.epoch, client.server_tick, client.transition, client.target_sector),
              std::make_tuple(next_epoch, 1234u, 0ull, 0ull));
    EXPECT_FALSE(client.acknowledge());

    // An abort with a sector committed stays in it, one epoch further on, so the old
    // epoch's packets are stale afterwards.
    deliver(client, begin(trip + 1, 300, next_epoch + 1, 901, next_epoch));
    EXPECT_EQ(client.state, HandoffState::Transit);
    deliver(client,
            frame(Type::TransitionAbort, transition_abort_payload(trip + 1, 3), next_epoch + 1));
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
    deliver(client, frame(Type::Welcome, welcome));
    ASSERT_TRUE(deliver(client, begin()));
    EXPECT_EQ(client.pending, sector);
    EXPECT_TRUE(client.early_chunks.empty());

    HandoffClient lost = welcomed(); // buffered in the new epoch: never replayed
    deliver(lost, frame(Type::MapChunk, chunks[0], next_epoch));
    for (std::size_t i = 1; i < chunks.size(); ++i) deliver(lost, frame(Type::MapChunk, chunks[i]));
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
    const std::tuple<std::int32_t, std::int32_t, bool> spots[] = {{57 * 256, 0, true},
                                                                  {56 * 256, 0, false},
                                                                  {56 * 256, 6 * 256, true},
                                                                  {56 * 256, 1280, false}};
    for (const auto& [dx, dy, free] : spots) {
        HandoffClient client = ready(room);
        Player spawn = spawn_of(room);
        spawn.x = 17 * 65536 + dx;
        spawn.y = dy == 0 ? 16 * 65536 + 32768 : 17 * 65536 + dy;
        const Bytes commit = frame(Type::TransitionCommit, commit_for(room, spawn), next_epoch);
        EXPECT_EQ(test::error_of([&] { deliver(client, commit); }),
                  free ? "no error" : "invalid transition commit");
        EXPECT_EQ(client.spawn.x, free ? spawn.x : 0);
    }
}

} // namespace
} // namespace kestrel
