#include "session/handoff_client.h"

#include <stdexcept>
#include <utility>

namespace kestrel {
namespace {

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

// Every handler below reads and checks the whole payload into locals first and only then
// touches the client, so a refused packet leaves it exactly as it was.

void buffer_early_chunk(HandoffClient& client, const Header& header, Reader& in) {
    if (client.early_chunks.size() >= max_early_chunks) fail("too many early chunks");
    ChunkEnvelope envelope{header, Bytes(in.data + in.position, in.data + in.size)};
    client.early_chunks.push_back(std::move(envelope));
    in.position = in.size;
}

// Welcome payload, 24 bytes (the header length must say exactly that):
//
//   offset size field
//        0    4 player_id      the client's own entity id, not 0
//        4    2 tick rate      30
//        6    2 snapshot rate  15
//        8    4 server tick
//       12    4 ruleset        7
//       16    8 token          not 0, not kept
void handle_welcome(HandoffClient& client, const Header& header, Reader& in) {
    if (client.session != 0 || header.length != 24 || header.session == 0 || header.epoch == 0)
        fail("invalid welcome");
    const std::uint32_t player_id = in.u32();
    if (in.u16() != 30 || in.u16() != 15) fail("unsupported tick rates");
    const std::uint32_t server_tick = in.u32();
    if (in.u32() != 7) fail("unsupported ruleset");
    const std::uint64_t token = in.u64();
    in.end();
    if (player_id == 0 || token == 0) fail("invalid welcome identity");

    client.session = header.session;
    client.epoch = header.epoch;
    client.player_id = player_id;
    client.server_tick = server_tick;
    client.state = HandoffState::Transit;
}

// Feeds one chunk payload to `assembly`; once the map is complete, `pending` receives the
// finished sector. Both are the caller's locals, so a failed finish() changes nothing.
void feed_chunk(MapAssembly& assembly, std::optional<Sector>& pending, Reader& in) {
    if (assembly.ingest(in)) pending = assembly.finish();
}

// TransitionBegin payload, 24 bytes:
//
//   offset size field
//        0    8 transition id  not 0
//        8    8 sector id      target sector, not 0
//       16    4 new epoch      not 0, not the current epoch
//       20    4 window         250..30000, not kept
std::optional<Writer> handle_begin(HandoffClient& client, const Header& header, Reader& in) {
    if (header.epoch != client.epoch) return std::nullopt; // an older handoff's announcement
    const std::uint64_t transition = in.u64();
    const std::uint64_t sector = in.u64();
    const std::uint32_t new_epoch = in.u32();
    const std::uint32_t window = in.u32();
    in.end();
    if (transition == 0 || sector == 0 || new_epoch == 0 || window < 250 || window > 30000 ||
        new_epoch == client.epoch)
        fail("invalid transition begin");
    if (client.transition == transition) return client.acknowledge(); // a repeat
    if (client.transition != 0) fail("overlapping transition");

    // Chunks that outran the announcement were sent in the current epoch; any other
    // session or epoch belongs to something else and is dropped with the rest.
    MapAssembly assembly;
    assembly.reset(transition, sector);
    std::optional<Sector> pending;
    for (const ChunkEnvelope& early : client.early_chunks) {
        if (early.header.session != client.session || early.header.epoch != client.epoch) continue;
        Reader chunk(early.payload);
        feed_chunk(assembly, pending, chunk);
    }

    client.transition = transition;
    client.target_sector = sector;
    client.target_epoch = new_epoch;
    client.state = HandoffState::Transit;
    client.assembly = std::move(assembly);
    client.pending = std::move(pending);
    client.early_chunks.clear();
    return client.acknowledge();
}

std::optional<Writer> handle_chunk(HandoffClient& client, const Header& header, Reader& in) {
    if (header.epoch != client.epoch) return std::nullopt;
    MapAssembly assembly = client.assembly;
    std::optional<Sector> pending = client.pending;
    feed_chunk(assembly, pending, in);
    client.assembly = std::move(assembly);
    client.pending = std::move(pending);
    // Every chunk after completion, repeats included, acknowledges again: the server
    // resends until an acknowledgement gets through.
    return client.acknowledge();
}

// Whether a player body centred at (x, y) fits on the sector's walking grid.
bool spawn_free(const Sector& sector, std::int32_t x, std::int32_t y) {
    if (x < coordinate_min || x > coordinate_max || y < coordinate_min || y > coordinate_max)
        return false;
    return body_clear(sector.collision(false), x, y);
}

// TransitionCommit payload, 64 bytes: the handoff, then the client's own player as an
// entity record whose height, vertical velocity and kind are fixed.
//
//   offset size field
//        0    8 transition id
//        8    8 sector id
//       16    4 new epoch           also the header epoch
//       20    4 server tick
//       24    4 player id           the Welcome's player_id
//       28    2 x                   1/256 cell
//       30    2 y
//       32    2 height              0
//       34    2 yaw
//       36    2 vx, signed          1/256 cell per second
//       38    2 vy, signed
//       40    2 vertical velocity   0
//       42    2 health
//       44    2 (type)              skipped
//       46    1 kind                1, a player
//       47    1 flags               below 8; 4 and up set tick_event
//       48    2 (state)             skipped
//       50    2 weapon              1..4
//       52    2 ammo
//       54    2 cooldown
//       56    2 boost_value         at most 200
//       58    2 dash_cooldown       at most 90
//       60    2 boost_ticks         at most 900
//       62    2 boost               at most 4
void handle_commit(HandoffClient& client, const Header& header, Reader& in) {
    const std::uint64_t transition = in.u64();
    const std::uint64_t sector = in.u64();
    const std::uint32_t new_epoch = in.u32();
    const std::uint32_t server_tick = in.u32();

    Player spawn = zero_player();
    spawn.id = in.u32();
    spawn.x = static_cast<std::int32_t>(in.u16()) * 256;
    spawn.y = static_cast<std::int32_t>(in.u16()) * 256;
    if (in.u16() != 0) fail("unsupported player height");
    spawn.yaw = in.u16();
    spawn.vx = static_cast<std::int32_t>(in.i16()) * 256;
    spawn.vy = static_cast<std::int32_t>(in.i16()) * 256;
    if (in.u16() != 0) fail("unsupported vertical velocity");
    spawn.health = in.u16();
    in.u16();
    if (in.u8() != 1) fail("commit entity kind");
    const std::uint8_t flags = in.u8();
    if (flags >= 8) fail("entity flags");
    spawn.tick_event = flags >= 4;
    in.u16();
    spawn.weapon = in.u16();
    if (spawn.weapon < 1 || spawn.weapon > 4) fail("invalid commit weapon");
    spawn.ammo = in.u16();
    spawn.cooldown = in.u16();
    spawn.boost_value = in.u16();
    if (spawn.boost_value > 200) fail("invalid commit boost");
    spawn.dash_cooldown = in.u16();
    if (spawn.dash_cooldown > 90) fail("invalid commit boost");
    spawn.boost_ticks = in.u16();
    if (spawn.boost_ticks > 900) fail("invalid commit boost");
    spawn.boost = in.u16();
    if (spawn.boost > 4) fail("invalid commit boost");
    in.end();

    if (client.transition == 0 || transition != client.transition) return; // not ours
    if (!client.pending || sector != client.target_sector || new_epoch != client.target_epoch ||
        header.epoch != new_epoch || spawn.id != client.player_id ||
        !spawn_free(*client.pending, spawn.x, spawn.y))
        fail("invalid transition commit");

    client.committed = std::move(client.pending);
    client.pending.reset();
    client.spawn = spawn;
    client.epoch = new_epoch;
    client.server_tick = server_tick;
    client.state = HandoffState::Active;
    client.transition = 0;
    client.target_sector = 0;
    client.early_chunks.clear();
}

// TransitionAbort payload, 16 bytes:
//
//   offset size field
//        0    8 transition id
//        8    4 reason   1..3 (upper 16 bits 0, judged before anything else is read)
//       12    4 detail   0
void handle_abort(HandoffClient& client, const Header& header, Reader& in) {
    const std::uint64_t transition = in.u64();
    const std::uint32_t reason = in.u32();
    if ((reason >> 16) != 0) fail("invalid abort");
    const std::uint32_t detail = in.u32();
    if (reason < 1 || reason > 3 || detail != 0) fail("invalid abort");
    in.end();

    if (client.transition == 0 || transition != client.transition) return; // not ours
    if (header.epoch != client.target_epoch) fail("invalid abort epoch");

    // The client stays where it is, but the handoff's epoch still begins.
    client.epoch = header.epoch;
    client.state = client.committed ? HandoffState::Active : HandoffState::Aborted;
    client.transition = 0;
    client.target_sector = 0;
    client.pending.reset();
    client.early_chunks.clear();
}

} // namespace

std::optional<Writer> HandoffClient::handle(const Header& header, Reader& reader) {
    // Chunks can overtake both the Welcome and the begin they belong to: keep them unchecked.
    if (header.type == Type::MapChunk && (session == 0 || transition == 0)) {
        buffer_early_chunk(*this, header, reader);
        return std::nullopt;
    }
    if (header.type == Type::Welcome) {
        handle_welcome(*this, header, reader);
        return std::nullopt;
    }
    if (header.session != session) fail("handoff session mismatch");
    switch (header.type) {
    case Type::TransitionBegin:
        return handle_begin(*this, header, reader);
    case Type::MapChunk:
        return handle_chunk(*this, header, reader);
    case Type::TransitionCommit:
        handle_commit(*this, header, reader);
        return std::nullopt;
    case Type::TransitionAbort:
        handle_abort(*this, header, reader);
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

// TransitionAck payload, 24 bytes:
//
//   offset size field
//        0    8 transition id
//        8    8 target sector id
//       16    4 revision of the pending sector
//       20    4 CRC-32 of the assembled sector blob
std::optional<Writer> HandoffClient::acknowledge() const {
    if (!pending) return std::nullopt;
    Writer out;
    out.u64(transition);
    out.u64(target_sector);
    out.u32(pending->revision);
    out.u32(assembly.crc);
    return out;
}

} // namespace kestrel
