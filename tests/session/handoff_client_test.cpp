#include "session/handoff_client.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "session/handoff_messages.h"
#include "world/generate.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

constexpr std::uint64_t session_id = 0x0102030405060708;
constexpr std::uint32_t first_epoch = 5;
constexpr std::uint32_t next_epoch = 6;
constexpr std::uint32_t player = 42;
constexpr std::uint64_t trip = 0x7777000011112222;
constexpr std::uint64_t target = 900;

Bytes frame(Type type, const Writer& payload, std::uint32_t epoch = first_epoch,
            std::uint64_t session = session_id) {
    return packet(type, session, 1, epoch, payload);
}

std::optional<Writer> deliver(HandoffClient& client, const Bytes& bytes) {
    Reader reader(bytes);
    const Header header = read_header(reader);
    return client.handle(header, reader);
}

void patch(Writer& payload, std::size_t offset, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) payload.bytes[offset + i] = std::uint8_t(value >> (8 * i));
}

Writer cut(Writer payload, std::size_t size) {
    payload.bytes.resize(size);
    return payload;
}

void expect_same(const HandoffClient& a, const HandoffClient& b) {
    EXPECT_EQ(a.transition, b.transition);
    EXPECT_EQ(a.target_sector, b.target_sector);
    EXPECT_EQ(a.target_epoch, b.target_epoch);
    EXPECT_EQ(a.assembly.transition, b.assembly.transition);
    EXPECT_EQ(a.assembly.sector, b.assembly.sector);
    EXPECT_EQ(a.assembly.revision, b.assembly.revision);
    EXPECT_EQ(a.assembly.crc, b.assembly.crc);
    EXPECT_EQ(a.assembly.bytes, b.assembly.bytes);
    EXPECT_EQ(a.assembly.received, b.assembly.received);
    EXPECT_EQ(a.pending, b.pending);
    ASSERT_EQ(a.early_chunks.size(), b.early_chunks.size());
    for (std::size_t i = 0; i < a.early_chunks.size(); ++i) {
        EXPECT_EQ(a.early_chunks[i].payload, b.early_chunks[i].payload);
        EXPECT_EQ(a.early_chunks[i].header.epoch, b.early_chunks[i].header.epoch);
    }
    EXPECT_EQ(a.session, b.session);
    EXPECT_EQ(a.epoch, b.epoch);
    EXPECT_EQ(a.player_id, b.player_id);
    EXPECT_EQ(a.server_tick, b.server_tick);
    EXPECT_EQ(a.spawn, b.spawn);
    EXPECT_EQ(a.committed, b.committed);
    EXPECT_EQ(a.state, b.state);
}

// The packet must be refused with exactly `message` and leave the client untouched.
void expect_refused(HandoffClient& client, const Bytes& bytes, const std::string& message) {
    const HandoffClient before = client;
    try {
        deliver(client, bytes);
        ADD_FAILURE() << "accepted, expected \"" << message << "\"";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(error.what(), message);
    }
    expect_same(client, before);
}

// The packet must change nothing and produce no acknowledgement.
void expect_ignored(HandoffClient& client, const Bytes& bytes) {
    const HandoffClient before = client;
    EXPECT_FALSE(deliver(client, bytes));
    expect_same(client, before);
}

Sector target_sector() {
    return generate(target, 0x5EED, {});
}

// A closed 32x32 room with one pillar in cell (16, 16).
Sector pillar_room() {
    Sector sector;
    sector.id = target;
    for (int i = 0; i < 32; ++i) {
        sector.cells[i] = sector.cells[31 * 32 + i] = 1;
        sector.cells[i * 32] = sector.cells[i * 32 + 31] = 1;
    }
    sector.cells[16 * 32 + 16] = 1;
    return sector;
}

Player spawn_of(const Sector& sector) {
    Player spawn = zero_player();
    spawn.id = player;
    spawn.x = sector.spawn_x << 8;
    spawn.y = sector.spawn_y << 8;
    spawn.health = 100;
    spawn.weapon = 2;
    return spawn;
}

Writer commit_for(const Sector& sector, const Player& spawn = {}) {
    return transition_commit_payload(trip, sector.id, next_epoch, 1234,
                                     spawn.id == 0 ? spawn_of(sector) : spawn);
}

HandoffClient welcomed() {
    HandoffClient client;
    deliver(client, frame(Type::Welcome, welcome_payload(player, 600, 99)));
    return client;
}

// Welcomed, begun and with the whole map of `sector` received.
HandoffClient ready(const Sector& sector) {
    HandoffClient client = welcomed();
    deliver(client, frame(Type::TransitionBegin,
                          transition_begin_payload(trip, sector.id, next_epoch, 300)));
    for (const Writer& chunk : map_chunks(trip, sector))
        deliver(client, frame(Type::MapChunk, chunk));
    return client;
}

TEST(HandoffWelcome, AdmitsOnce) {
    HandoffClient client;
    EXPECT_EQ(client.state, HandoffState::Connecting);
    EXPECT_FALSE(deliver(client, frame(Type::Welcome, welcome_payload(player, 600, 99))));
    EXPECT_EQ(client.session, session_id);
    EXPECT_EQ(client.epoch, first_epoch);
    EXPECT_EQ(client.player_id, player);
    EXPECT_EQ(client.server_tick, 600u);
    EXPECT_EQ(client.state, HandoffState::Transit);
    expect_refused(client, frame(Type::Welcome, welcome_payload(player, 600, 99)),
                   "invalid welcome");
}

TEST(HandoffWelcome, ChecksFieldsInOrder) {
    const Writer good = welcome_payload(player, 600, 99);
    HandoffClient client;
    Writer shorter = good;
    shorter.bytes.pop_back();
    Writer longer = good;
    longer.u8(0);
    expect_refused(client, frame(Type::Welcome, shorter), "invalid welcome");
    expect_refused(client, frame(Type::Welcome, longer), "invalid welcome");
    expect_refused(client, frame(Type::Welcome, good, first_epoch, 0), "invalid welcome");
    expect_refused(client, frame(Type::Welcome, good, 0), "invalid welcome");

    const auto refused = [&](std::size_t offset, std::uint64_t value, int width,
                             const std::string& message) {
        Writer bad = good;
        patch(bad, offset, value, width);
        expect_refused(client, frame(Type::Welcome, bad), message);
    };
    refused(4, 31, 2, "unsupported tick rates");
    refused(6, 16, 2, "unsupported tick rates");
    refused(12, 8, 4, "unsupported ruleset");
    refused(0, 0, 4, "invalid welcome identity");
    refused(16, 0, 8, "invalid welcome identity");

    // Tick rates are judged before the ruleset, and both before the identity.
    Writer both = good;
    patch(both, 4, 60, 2);
    patch(both, 12, 8, 4);
    patch(both, 0, 0, 4);
    expect_refused(client, frame(Type::Welcome, both), "unsupported tick rates");
    patch(both, 4, 30, 2);
    expect_refused(client, frame(Type::Welcome, both), "unsupported ruleset");

    // A wrong first rate stops the read before the second one.
    Writer rate = good;
    patch(rate, 4, 31, 2);
    const Bytes bytes = frame(Type::Welcome, rate);
    Reader reader(bytes);
    const Header header = read_header(reader);
    EXPECT_THROW(client.handle(header, reader), std::runtime_error);
    EXPECT_EQ(reader.position, header_size + 6);
}

TEST(HandoffWelcome, RefusesBytesBeyondTheRecord) {
    // read_header ties the length to the packet size, so only a reader that runs past the
    // header's length can carry more; the parser still must not accept it.
    Bytes bytes = frame(Type::Welcome, welcome_payload(player, 600, 99));
    Reader reader(bytes);
    const Header header = read_header(reader);
    bytes.push_back(0);
    Reader longer(bytes);
    longer.position = reader.position;
    HandoffClient client;
    EXPECT_THROW(
        try { client.handle(header, longer); } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "trailing bytes");
            throw;
        },
        std::runtime_error);
    EXPECT_EQ(client.session, 0u);
}

TEST(Handoff, FullHandoffWithReversedRepeatedChunks) {
    const Sector sector = target_sector();
    const Bytes blob = sector.encode();
    std::vector<Writer> chunks = map_chunks(trip, sector);
    ASSERT_GE(chunks.size(), 2u);
    ASSERT_EQ(chunks.back().bytes.size(), chunk_header_size + blob.size() % chunk_data_size);

    HandoffClient client = welcomed();
    EXPECT_FALSE(deliver(client, frame(Type::TransitionBegin,
                                       transition_begin_payload(trip, target, next_epoch, 300))));
    EXPECT_EQ(client.state, HandoffState::Transit);
    EXPECT_EQ(client.transition, trip);
    EXPECT_EQ(client.target_epoch, next_epoch);

    for (std::size_t i = chunks.size(); i-- > 1;) {
        EXPECT_FALSE(deliver(client, frame(Type::MapChunk, chunks[i])));
        EXPECT_FALSE(deliver(client, frame(Type::MapChunk, chunks[i])));
    }
    const std::optional<Writer> ack = deliver(client, frame(Type::MapChunk, chunks[0]));
    ASSERT_TRUE(ack);
    EXPECT_EQ(client.pending, sector);
    // Every later chunk, repeats included, acknowledges again.
    const std::optional<Writer> again = deliver(client, frame(Type::MapChunk, chunks[1]));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->bytes, ack->bytes);

    // transition, target sector, revision, blob CRC; all little-endian.
    Writer expected;
    expected.u64(trip);
    expected.u64(target);
    expected.u32(sector.revision);
    expected.u32(crc32(blob));
    EXPECT_EQ(ack->bytes, expected.bytes);
    EXPECT_EQ(ack->bytes.size(), 24u);
    EXPECT_EQ(ack->bytes[0], 0x22);
    EXPECT_EQ(ack->bytes[7], 0x77);
    EXPECT_EQ(ack->bytes[8], 0x84); // 900

    Player spawn = spawn_of(sector);
    spawn.yaw = 16384;
    spawn.vx = -512;
    spawn.ammo = 55;
    spawn.boost = 4;
    spawn.tick_event = true;
    EXPECT_FALSE(
        deliver(client, frame(Type::TransitionCommit, commit_for(sector, spawn), next_epoch)));
    EXPECT_EQ(client.state, HandoffState::Active);
    EXPECT_EQ(client.committed, sector);
    EXPECT_FALSE(client.pending);
    EXPECT_EQ(client.spawn, spawn);
    EXPECT_EQ(client.epoch, next_epoch);
    EXPECT_EQ(client.server_tick, 1234u);
    EXPECT_EQ(client.transition, 0u);
    EXPECT_EQ(client.target_sector, 0u);
    EXPECT_FALSE(client.acknowledge());
}

TEST(Handoff, RepeatedBeginAcknowledgesOnlyACompleteMap) {
    const Sector sector = target_sector();
    const std::vector<Writer> chunks = map_chunks(trip, sector);
    const Bytes begin =
        frame(Type::TransitionBegin, transition_begin_payload(trip, target, next_epoch, 300));
    HandoffClient client = welcomed();
    deliver(client, begin);
    deliver(client, frame(Type::MapChunk, chunks[0]));
    expect_ignored(client, begin);
    for (const Writer& chunk : chunks) deliver(client, frame(Type::MapChunk, chunk));
    const std::optional<Writer> ack = deliver(client, begin);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->bytes, client.acknowledge()->bytes);
}

TEST(Handoff, EarlyChunksAreBufferedAndReplayed) {
    const Sector sector = target_sector();
    const std::vector<Writer> chunks = map_chunks(trip, sector);
    HandoffClient client;
    // Before the Welcome nothing is checked, not even the session.
    for (const Writer& chunk : chunks) deliver(client, frame(Type::MapChunk, chunk));
    Writer foreign = chunks[0];
    foreign.bytes[40] ^= 1; // would conflict if it were replayed
    deliver(client, frame(Type::MapChunk, foreign, first_epoch, 3));
    EXPECT_EQ(client.early_chunks.size(), chunks.size() + 1);
    deliver(client, frame(Type::Welcome, welcome_payload(player, 600, 99)));
    const std::optional<Writer> ack =
        deliver(client, frame(Type::TransitionBegin,
                              transition_begin_payload(trip, target, next_epoch, 300)));
    ASSERT_TRUE(ack);
    EXPECT_EQ(client.pending, sector);
    EXPECT_TRUE(client.early_chunks.empty());
}

TEST(Handoff, AtMostFiveEarlyChunks) {
    HandoffClient client;
    const Writer chunk = map_chunks(trip, target_sector())[0];
    for (int i = 0; i < 5; ++i) deliver(client, frame(Type::MapChunk, chunk));
    expect_refused(client, frame(Type::MapChunk, chunk), "too many early chunks");
}

TEST(Handoff, EarlyChunkOfTheNewEpochIsLost) {
    const Sector sector = target_sector();
    const std::vector<Writer> chunks = map_chunks(trip, sector);
    HandoffClient client = welcomed();
    deliver(client, frame(Type::MapChunk, chunks[0], next_epoch));
    for (std::size_t i = 1; i < chunks.size(); ++i)
        deliver(client, frame(Type::MapChunk, chunks[i]));
    EXPECT_FALSE(deliver(client, frame(Type::TransitionBegin,
                                       transition_begin_payload(trip, target, next_epoch, 300))));
    EXPECT_FALSE(client.pending);
    std::vector<bool> received(chunks.size(), true);
    received[0] = false;
    EXPECT_EQ(client.assembly.received, received);
}

TEST(Handoff, FailedReplayOrFinishChangesNothing) {
    const Sector sector = target_sector();
    std::vector<Writer> chunks = map_chunks(trip, sector);
    const Bytes begin =
        frame(Type::TransitionBegin, transition_begin_payload(trip, target, next_epoch, 300));

    // A complete map whose CRC does not match: the last chunk is refused as a whole.
    HandoffClient client = welcomed();
    deliver(client, begin);
    std::vector<Writer> corrupt = chunks;
    for (Writer& chunk : corrupt) patch(chunk, 24, crc32(sector.encode()) ^ 1, 4);
    deliver(client, frame(Type::MapChunk, corrupt[0]));
    expect_refused(client, frame(Type::MapChunk, corrupt[1]), "incomplete/corrupt map");

    // The same map buffered early fails at the begin, which then is not applied either.
    HandoffClient early = welcomed();
    for (const Writer& chunk : corrupt) deliver(early, frame(Type::MapChunk, chunk));
    expect_refused(early, begin, "incomplete/corrupt map");
}

TEST(Handoff, BeginChecks) {
    HandoffClient client = welcomed();
    const auto begin = [](std::uint64_t id, std::uint64_t sector, std::uint32_t epoch,
                          std::uint32_t window) {
        return frame(Type::TransitionBegin, transition_begin_payload(id, sector, epoch, window));
    };
    expect_refused(client, begin(0, target, next_epoch, 300), "invalid transition begin");
    expect_refused(client, begin(trip, 0, next_epoch, 300), "invalid transition begin");
    expect_refused(client, begin(trip, target, 0, 300), "invalid transition begin");
    expect_refused(client, begin(trip, target, first_epoch, 300), "invalid transition begin");
    expect_refused(client, begin(trip, target, next_epoch, 249), "invalid transition begin");
    expect_refused(client, begin(trip, target, next_epoch, 30001), "invalid transition begin");
    Writer longer = transition_begin_payload(trip, target, next_epoch, 300);
    longer.u8(0);
    expect_refused(client, frame(Type::TransitionBegin, longer), "trailing bytes");
    expect_refused(client,
                   frame(Type::TransitionBegin,
                         cut(transition_begin_payload(trip, target, next_epoch, 300), 16)),
                   "truncated packet");

    HandoffClient edge = welcomed();
    deliver(edge, begin(trip, target, next_epoch, 30000));
    EXPECT_EQ(edge.transition, trip);
    expect_refused(edge, begin(trip + 1, target, next_epoch, 250), "overlapping transition");

    // Stale: another epoch's begin is not even parsed.
    expect_ignored(client, frame(Type::TransitionBegin, Writer{}, first_epoch - 1));
}

TEST(Handoff, StalePacketsAndSessions) {
    const Sector sector = target_sector();
    HandoffClient client = ready(sector);
    const Writer chunk = map_chunks(trip, sector)[0];
    expect_ignored(client, frame(Type::MapChunk, chunk, next_epoch));
    expect_ignored(client, frame(static_cast<Type>(11), Writer{}));
    expect_ignored(client, frame(Type::Hello, Writer{}));
    Writer other = commit_for(sector);
    patch(other, 0, trip + 1, 8);
    expect_ignored(client, frame(Type::TransitionCommit, other, next_epoch));
    expect_ignored(client,
                   frame(Type::TransitionAbort, transition_abort_payload(trip + 1, 1), next_epoch));

    expect_refused(client, frame(Type::MapChunk, chunk, first_epoch, 9),
                   "handoff session mismatch");
    expect_refused(client, frame(static_cast<Type>(11), Writer{}, first_epoch, 9),
                   "handoff session mismatch");
    expect_refused(client,
                   frame(Type::TransitionBegin,
                         transition_begin_payload(trip, target, next_epoch, 300), first_epoch, 9),
                   "handoff session mismatch");
}

TEST(HandoffCommit, FieldChecksInOrder) {
    const Sector sector = target_sector();
    HandoffClient client = ready(sector);
    const Writer good = commit_for(sector);
    const auto refused = [&](std::size_t offset, std::uint64_t value, int width,
                             const std::string& message) {
        Writer bad = good;
        patch(bad, offset, value, width);
        expect_refused(client, frame(Type::TransitionCommit, bad, next_epoch), message);
    };
    refused(32, 1, 2, "unsupported player height");
    refused(40, 1, 2, "unsupported vertical velocity");
    refused(46, 2, 1, "commit entity kind");
    refused(47, 8, 1, "entity flags");
    refused(50, 0, 2, "invalid commit weapon");
    refused(50, 5, 2, "invalid commit weapon");
    refused(56, 201, 2, "invalid commit boost");
    refused(58, 91, 2, "invalid commit boost");
    refused(60, 901, 2, "invalid commit boost");
    refused(62, 5, 2, "invalid commit boost");
    // Field checks come first, even for a commit that would be ignored.
    Writer stale = good;
    patch(stale, 0, trip + 1, 8);
    patch(stale, 32, 1, 2);
    expect_refused(client, frame(Type::TransitionCommit, stale, next_epoch),
                   "unsupported player height");

    Writer shorter = good;
    shorter.bytes.pop_back();
    expect_refused(client, frame(Type::TransitionCommit, shorter, next_epoch), "truncated packet");
    Writer longer = good;
    longer.u8(0);
    expect_refused(client, frame(Type::TransitionCommit, longer, next_epoch), "trailing bytes");

    refused(8, target + 1, 8, "invalid transition commit");
    refused(16, next_epoch + 1, 4, "invalid transition commit");
    refused(24, player + 1, 4, "invalid transition commit");
    expect_refused(client, frame(Type::TransitionCommit, good, first_epoch),
                   "invalid transition commit");

    // Flags 4..7 raise tick_event, lower ones do not.
    Writer flags = good;
    patch(flags, 47, 3, 1);
    HandoffClient low = client;
    deliver(low, frame(Type::TransitionCommit, flags, next_epoch));
    EXPECT_FALSE(low.spawn.tick_event);
    patch(flags, 47, 7, 1);
    deliver(client, frame(Type::TransitionCommit, flags, next_epoch));
    EXPECT_TRUE(client.spawn.tick_event);
}

TEST(HandoffCommit, NeedsTheWholeMap) {
    const Sector sector = target_sector();
    HandoffClient client = welcomed();
    const Bytes commit = frame(Type::TransitionCommit, commit_for(sector), next_epoch);
    expect_ignored(client, commit); // nothing pending
    deliver(client,
            frame(Type::TransitionBegin, transition_begin_payload(trip, target, next_epoch, 300)));
    deliver(client, frame(Type::MapChunk, map_chunks(trip, sector)[0]));
    expect_refused(client, commit, "invalid transition commit");
}

TEST(HandoffCommit, SpawnClearanceAtTheRadius) {
    // Wire coordinates are 1/256 cell, so 14418 itself cannot be sent: these are the
    // nearest representable points on either side of the radius around the pillar.
    const Sector sector = pillar_room();
    const auto commit_at = [&](std::int32_t dx, std::int32_t dy) {
        HandoffClient client = ready(sector);
        Player spawn = spawn_of(sector);
        spawn.x = 17 * 65536 + dx;
        spawn.y = (dy == 0 ? 16 * 65536 + 32768 : 17 * 65536 + dy);
        const Bytes bytes = frame(Type::TransitionCommit, commit_for(sector, spawn), next_epoch);
        try {
            deliver(client, bytes);
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "invalid transition commit");
            EXPECT_EQ(client.state, HandoffState::Transit);
            return false;
        }
        EXPECT_EQ(client.spawn.x, spawn.x);
        return true;
    };
    EXPECT_TRUE(commit_at(57 * 256, 0));  // 14592 from the pillar's face
    EXPECT_FALSE(commit_at(56 * 256, 0)); // 14336
    // Off the corner: 256 * sqrt(56^2 + 6^2) = 14418.4 clears, 256 * sqrt(56^2 + 5^2) does not.
    EXPECT_TRUE(commit_at(56 * 256, 6 * 256));
    EXPECT_FALSE(commit_at(56 * 256, 5 * 256));
}

TEST(HandoffAbort, MovesTheEpochOn) {
    const Sector sector = target_sector();
    const Bytes abort = frame(Type::TransitionAbort, transition_abort_payload(trip, 2), next_epoch);

    HandoffClient fresh = ready(sector);
    EXPECT_FALSE(deliver(fresh, abort));
    EXPECT_EQ(fresh.state, HandoffState::Aborted);
    EXPECT_EQ(fresh.epoch, next_epoch);
    EXPECT_FALSE(fresh.pending);
    EXPECT_EQ(fresh.transition, 0u);

    // With a sector committed the client stays in it, one epoch further on.
    HandoffClient client = ready(sector);
    deliver(client, frame(Type::TransitionCommit, commit_for(sector), next_epoch));
    const std::uint64_t trip2 = trip + 1;
    const std::uint32_t epoch3 = next_epoch + 1;
    deliver(client, frame(Type::TransitionBegin, transition_begin_payload(trip2, 901, epoch3, 300),
                          next_epoch));
    EXPECT_EQ(client.state, HandoffState::Transit);
    expect_refused(client,
                   frame(Type::TransitionAbort, transition_abort_payload(trip2, 1), next_epoch),
                   "invalid abort epoch");
    deliver(client, frame(Type::TransitionAbort, transition_abort_payload(trip2, 3), epoch3));
    EXPECT_EQ(client.state, HandoffState::Active);
    EXPECT_EQ(client.epoch, epoch3);
    EXPECT_EQ(client.committed, sector);
    // The old epoch is over: its begin is stale now.
    expect_ignored(client, frame(Type::TransitionBegin,
                                 transition_begin_payload(trip + 2, 902, 9, 300), next_epoch));
}

TEST(HandoffAbort, PayloadChecks) {
    HandoffClient client = ready(target_sector());
    const auto abort = [](std::uint32_t reason, std::uint32_t detail, std::size_t size = 16) {
        Writer out = transition_abort_payload(trip, reason);
        patch(out, 12, detail, 4);
        return frame(Type::TransitionAbort, cut(out, size), next_epoch);
    };
    expect_refused(client, abort(0, 0), "invalid abort");
    expect_refused(client, abort(4, 0), "invalid abort");
    expect_refused(client, abort(1, 1), "invalid abort");
    // High reason bits fail before the detail is read, even when it is missing.
    expect_refused(client, abort(0x10001, 0, 12), "invalid abort");
    expect_refused(client, abort(1, 0, 12), "truncated packet");
    Writer longer = transition_abort_payload(trip, 1);
    longer.u8(0);
    expect_refused(client, frame(Type::TransitionAbort, longer, next_epoch), "trailing bytes");
}

} // namespace
} // namespace kestrel
