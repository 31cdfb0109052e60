#include "session/handoff_client.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "session/handoff_messages.h"
#include "tests/support/errors.h"

namespace kestrel {
namespace {

constexpr std::uint64_t session_id = 0x0102030405060708, trip = 0x7777000011112222, target = 900;
constexpr std::uint32_t first_epoch = 5, next_epoch = 6, player = 42;
constexpr std::int32_t cell = 65536;
using Fields = std::vector<test::Field>;

const Sector sector = [] { // a closed room with one pillar in cell (16, 16)
    Sector room;
    room.id = target;
    for (int i = 0; i < 32; ++i)
        room.cells[i] = room.cells[31 * 32 + i] = room.cells[i * 32] = room.cells[i * 32 + 31] = 1;
    room.cells[16 * 32 + 16] = 1;
    return room;
}();
const std::vector<Writer> chunks = map_chunks(trip, sector);

// The payload with `set` overwritten, then cut or padded to `size` if given.
Bytes frame(Type type, Writer payload, std::uint32_t epoch = first_epoch, const Fields& set = {},
            std::size_t size = 0, std::uint64_t session = session_id) {
    payload.bytes = test::with(payload.bytes, set);
    if (size) payload.bytes.resize(size);
    return packet(type, session, 1, epoch, payload);
}

std::optional<Writer> deliver(HandoffClient& client, const Bytes& bytes) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return client.handle(header, reader);
}

auto view(const HandoffClient& c) {
    return std::make_tuple(c.transition, c.target_sector, c.target_epoch, c.assembly.received,
                           c.assembly.bytes, c.pending, c.early_chunks.size(), c.session, c.epoch,
                           c.player_id, c.server_tick, c.spawn, c.committed, c.state);
}

Bytes welcome(const Fields& set = {}, std::size_t size = 0) {
    return frame(Type::Welcome, welcome_payload(player, 600, 99), first_epoch, set, size);
}

Bytes begin(std::uint64_t id = trip, std::uint32_t window = 300, std::uint32_t epoch = next_epoch,
            std::uint64_t to = target, std::uint32_t header_epoch = first_epoch) {
    return frame(Type::TransitionBegin, transition_begin_payload(id, to, epoch, window),
                 header_epoch);
}

Player spawn_at(std::int32_t x, std::int32_t y) {
    return {.id = player, .x = x, .y = y, .ammo = 0, .weapon = 2};
}

Bytes commit(const Fields& set = {}, int resize = 0,
             const Player& spawn = spawn_at(3 * cell, 3 * cell), std::uint32_t epoch = next_epoch) {
    Writer payload = transition_commit_payload(trip, target, next_epoch, 1234, spawn);
    return frame(Type::TransitionCommit, payload, epoch, set, payload.bytes.size() + resize);
}

Bytes abort(std::uint32_t reason, std::uint32_t detail = 0, std::size_t size = 16,
            std::uint64_t id = trip, std::uint32_t epoch = next_epoch) {
    return frame(Type::TransitionAbort, transition_abort_payload(id, reason), epoch,
                 {{12, 4, detail}}, size);
}

// Welcomed, then the given packets; `map` adds a begin and the whole map.
HandoffClient after(std::vector<Bytes> packets, bool map = false) {
    HandoffClient client;
    if (map) packets.insert(packets.begin(), begin());
    for (const Writer& chunk : map ? chunks : std::vector<Writer>{})
        packets.push_back(frame(Type::MapChunk, chunk));
    deliver(client, welcome());
    for (const Bytes& bytes : packets) deliver(client, bytes);
    return client;
}

// Refused packets name their cause, stale ones ("no error") are dropped; neither changes
// anything nor is acknowledged.
TEST(HandoffClient, RefusedAndStalePackets) {
    std::vector<Bytes> corrupt; // a complete map whose CRC does not match
    for (const Writer& chunk : chunks)
        corrupt.push_back(
            frame(Type::MapChunk, chunk, first_epoch, {{24, 4, crc32(sector.encode()) ^ 1}}));
    HandoffClient fresh, five_early, corrupt_early = after(corrupt), aborting = after({}, true);
    for (int i = 0; i < 5; ++i) deliver(five_early, frame(Type::MapChunk, chunks[0]));
    deliver(aborting, commit());
    deliver(aborting, begin(trip + 1, 300, 7, 901, next_epoch));
    const HandoffClient w = after({}), full = after({}, true), edge = after({begin(trip, 30000)}),
                        first_chunk = after({begin(), frame(Type::MapChunk, chunks[0])}),
                        corrupt_half = after({begin(), corrupt[0]});
    const Writer hello = welcome_payload(player, 600, 99),
                 go = transition_begin_payload(trip, target, next_epoch, 300);
    const std::string welcome_ = "invalid welcome", rates = "unsupported tick rates",
                      ruleset = "unsupported ruleset", id_ = "invalid welcome identity",
                      session = "handoff session mismatch", begin_ = "invalid transition begin",
                      map = "incomplete/corrupt map", weapon = "invalid commit weapon",
                      height = "unsupported player height", boost = "invalid commit boost",
                      commit_ = "invalid transition commit", abort_ = "invalid abort",
                      short_ = "truncated packet", long_ = "trailing bytes", none = "no error";
    // clang-format off
    const std::tuple<const HandoffClient&, Bytes, std::string> cases[] = {
        {five_early, frame(Type::MapChunk, chunks[0]), "too many early chunks"},
        {w, welcome(), welcome_}, {fresh, welcome({}, 23), welcome_}, {fresh, welcome({}, 25), welcome_},
        {fresh, frame(Type::Welcome, hello, first_epoch, {}, 0, 0), welcome_},
        {fresh, frame(Type::Welcome, hello, 0), welcome_}, {fresh, welcome({{4, 2, 31}}), rates},
        {fresh, welcome({{6, 2, 16}}), rates}, {fresh, welcome({{12, 4, 8}}), ruleset},
        {fresh, welcome({{0, 4, 0}}), id_}, {fresh, welcome({{16, 8, 0}}), id_},
        {fresh, welcome({{12, 4, 8}, {0, 4, 0}}), ruleset}, // judged in this order
        {fresh, welcome({{4, 2, 60}, {12, 4, 8}, {0, 4, 0}}), rates},
        {full, frame(Type::MapChunk, chunks[0], first_epoch, {}, 0, 9), session},
        {full, frame(Type{11}, Writer{}, first_epoch, {}, 0, 9), session},
        {w, begin(0), begin_}, {w, begin(trip, 300, next_epoch, 0), begin_}, {w, begin(trip, 300, 0), begin_},
        {w, begin(trip, 300, first_epoch), begin_}, {w, begin(trip, 249), begin_}, {w, begin(trip, 30001), begin_},
        {w, frame(Type::TransitionBegin, go, first_epoch, {}, 25), long_},
        {w, frame(Type::TransitionBegin, go, first_epoch, {}, 16), short_},
        {edge, begin(trip + 1, 250), "overlapping transition"}, {corrupt_half, corrupt[1], map},
        {corrupt_early, begin(), map}, // the early replay fails alike
        {full, commit({{32, 2, 1}}), height}, {full, commit({{40, 2, 1}}), "unsupported vertical velocity"},
        {full, commit({{46, 1, 2}}), "commit entity kind"}, {full, commit({{47, 1, 8}}), "entity flags"},
        {full, commit({{50, 2, 0}}), weapon}, {full, commit({{50, 2, 5}}), weapon},
        {full, commit({{56, 2, 201}}), boost}, {full, commit({{58, 2, 91}}), boost},
        {full, commit({{60, 2, 901}}), boost}, {full, commit({{62, 2, 5}}), boost},
        {full, commit({{0, 8, trip + 1}, {32, 2, 1}}), height}, // fields first
        {full, commit({}, -1), short_}, {full, commit({}, 1), long_},
        {full, commit({{8, 8, target + 1}}), commit_}, {full, commit({{16, 4, next_epoch + 1}}), commit_},
        {full, commit({{24, 4, player + 1}}), commit_}, {first_chunk, commit(), commit_},
        {full, commit({}, 0, spawn_at(3 * cell, 3 * cell), first_epoch), commit_}, // header epoch
        // Just inside the player radius of the pillar, and outside the coordinate range.
        {full, commit({}, 0, spawn_at(17 * cell + 56 * 256, 16 * cell + cell / 2)), commit_},
        {full, commit({}, 0, spawn_at(17 * cell + 56 * 256, 17 * cell + 1280)), commit_},
        {full, commit({}, 0, spawn_at(0, 3 * cell)), commit_},
        {full, abort(0), abort_}, {full, abort(4), abort_}, {full, abort(1, 1), abort_},
        {full, abort(0x10001, 0, 12), abort_}, // high bits before the missing detail
        {full, abort(1, 0, 12), short_}, {full, abort(1, 0, 17), long_},
        {aborting, abort(1, 0, 16, trip + 1, 6), "invalid abort epoch"},
        {full, frame(Type::MapChunk, chunks[0], next_epoch), none}, {full, frame(Type{11}, Writer{}), none},
        {full, frame(Type::Hello, Writer{}), none}, {full, commit({{0, 8, trip + 1}}), none},
        {full, abort(1, 0, 16, trip + 1), none}, {w, commit(), none},
        {full, frame(Type::TransitionBegin, Writer{}, first_epoch - 1), none}, // unread
    };
    // clang-format on
    for (const auto& [start, bytes, message] : cases) {
        HandoffClient client = start;
        std::optional<Writer> ack;
        EXPECT_EQ(test::error_of([&] { ack = deliver(client, bytes); }), message);
        EXPECT_TRUE(!ack && view(client) == view(start)) << message;
    }
    // A wrong first rate stops the read before the second one; a reader running past the
    // header's length can carry more, and is refused too.
    Bytes rate = welcome({{4, 2, 31}}), longer = welcome();
    longer.push_back(0);
    Reader reader(rate), past(longer);
    const Header header = read_header(reader);
    past.position = header_size;
    EXPECT_ANY_THROW(fresh.handle(header, reader));
    EXPECT_EQ(reader.position, header_size + 6);
    EXPECT_EQ(test::error_of([&] { fresh.handle(header, past); }), long_);
}

TEST(HandoffClient, WelcomeBeginChunksCommitAndAbort) {
    HandoffClient client;
    EXPECT_FALSE(deliver(client, welcome()));
    EXPECT_EQ(
        std::tie(client.session, client.epoch, client.player_id, client.server_tick, client.state),
        std::make_tuple(session_id, first_epoch, player, 600u, HandoffState::Transit));
    EXPECT_FALSE(deliver(client, begin()));
    EXPECT_FALSE(deliver(client, begin()));       // a repeat before the map is complete: no ack
    for (std::size_t i = chunks.size(); i-- > 1;) // reversed, each twice
        for (int twice = 0; twice < 2; ++twice)
            EXPECT_FALSE(deliver(client, frame(Type::MapChunk, chunks[i])));
    const std::optional<Writer> ack = deliver(client, frame(Type::MapChunk, chunks[0]));
    EXPECT_EQ(client.pending, sector);
    ASSERT_TRUE(ack); // transition, target sector, revision, blob CRC
    // clang-format off
    EXPECT_EQ(ack->bytes, test::with(Bytes(24), {{0, 8, trip}, {8, 8, target}, {16, 4, sector.revision},
                                                 {20, 4, crc32(sector.encode())}}));
    // clang-format on
    // Every later chunk, and a repeated begin, acknowledges again.
    EXPECT_EQ(deliver(client, frame(Type::MapChunk, chunks[1]))->bytes, ack->bytes);
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
    EXPECT_FALSE(client.acknowledge());

    // An abort with a sector committed stays in it, one epoch on: the old epoch is stale.
    deliver(client, begin(trip + 1, 300, 7, 901, next_epoch));
    EXPECT_EQ(client.state, HandoffState::Transit);
    deliver(client, abort(3, 0, 16, trip + 1, 7));
    EXPECT_EQ(std::tie(client.state, client.epoch, client.committed),
              std::make_tuple(HandoffState::Active, 7u, sector));
    EXPECT_FALSE(deliver(client, begin(trip + 2, 300, 9, 902, next_epoch)));
    EXPECT_EQ(client.transition, 0u);
}

TEST(HandoffClient, EarlyChunksReplayOnlyForTheCurrentEpochAndSession) {
    HandoffClient client; // before the Welcome nothing is checked, not even the session
    for (const Writer& chunk : chunks) deliver(client, frame(Type::MapChunk, chunk));
    deliver(client, frame(Type::MapChunk, chunks[0], first_epoch,
                          {{40, 1, chunks[0].bytes[40] ^ 1u}}, 0, 3)); // would conflict if replayed
    EXPECT_EQ(client.early_chunks.size(), chunks.size() + 1);
    deliver(client, welcome());
    ASSERT_TRUE(deliver(client, begin()));
    EXPECT_TRUE(client.pending == sector && client.early_chunks.empty());

    std::vector<Bytes> packets{frame(Type::MapChunk, chunks[0], next_epoch)}; // never replayed
    for (std::size_t i = 1; i < chunks.size(); ++i)
        packets.push_back(frame(Type::MapChunk, chunks[i]));
    HandoffClient lost = after(packets);
    EXPECT_FALSE(deliver(lost, begin()));
    std::vector<bool> received(chunks.size(), true);
    received[0] = false;
    EXPECT_EQ(std::tie(lost.pending, lost.assembly.received),
              std::make_tuple(std::nullopt, received));
}

} // namespace
} // namespace kestrel
