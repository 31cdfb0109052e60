#include "server/faults.h"

#include <algorithm>
#include <optional>

#include "protocol/entity.h"
#include "protocol/meta_state.h"
#include "session/handoff_messages.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

constexpr std::uint32_t handoff_window = 300; // a valid fourth TransitionBegin value

// --- framing -----------------------------------------------------------------------------

// Fault packets always travel reliably: the loss hook must not swallow them.
Datagram framed(std::uint32_t& sequence, Type type, const Writer& payload, std::uint8_t channel,
                std::uint64_t session, std::uint32_t epoch) {
    return {packet(type, session, ++sequence, epoch, payload), channel, true};
}

Datagram on(std::uint8_t channel, const FaultContext& c, std::uint32_t& sequence, Type type,
            const Writer& payload) {
    return framed(sequence, type, payload, channel, c.session, c.epoch);
}

FaultResult one(Datagram datagram) {
    FaultResult result;
    result.datagrams.push_back(std::move(datagram));
    return result;
}

Writer bytes_of(Bytes bytes) {
    Writer out;
    out.bytes = std::move(bytes);
    return out;
}

// Overwrites a little-endian field of a payload in place.
void poke(Writer& payload, std::size_t offset, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        payload.bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// --- records -----------------------------------------------------------------------------

ReplicatedEntity viewer_record(const FaultContext& c) {
    ReplicatedEntity record;
    static_cast<Player&>(record) = c.player;
    record.id = c.player_id;
    record.entity_weapon = c.player.weapon;
    record.kind = 1;
    record.flags = 1;
    return record;
}

// A harmless entity next to the viewer.
ReplicatedEntity bystander(const FaultContext& c, std::uint8_t kind) {
    ReplicatedEntity record = viewer_record(c);
    record.id = 0x7FFF0001;
    record.kind = kind;
    record.health = 10;
    return record;
}

// A snapshot that would be applied as it is: newest id, the played sector, the viewer.
Snapshot snapshot_of(const FaultContext& c, std::vector<ReplicatedEntity> entities) {
    Snapshot snapshot;
    snapshot.id = c.snapshot_id;
    snapshot.tick = c.snapshot_tick;
    snapshot.input_ack = c.input_ack;
    snapshot.revision = c.sector->revision;
    snapshot.viewer = c.player_id;
    snapshot.epoch = c.epoch;
    snapshot.sector = c.sector->id;
    snapshot.entities = std::move(entities);
    return snapshot;
}

Writer single_part(const FaultContext& c, std::vector<ReplicatedEntity> entities) {
    return snapshot_part_payloads(snapshot_of(c, std::move(entities))).front();
}

FaultResult snapshot_fault(const FaultContext& c, std::uint32_t& sequence,
                           std::vector<ReplicatedEntity> entities) {
    return one(on(1, c, sequence, Type::SnapshotPart, single_part(c, std::move(entities))));
}

Writer welcome(const FaultContext& c, std::uint16_t rate, std::uint32_t rules,
               std::uint64_t token) {
    Writer out;
    out.u32(c.player_id);
    out.u16(rate);
    out.u16(snapshot_rate);
    out.u32(c.tick);
    out.u32(rules);
    out.u64(token);
    return out;
}

Writer combat_event(std::uint8_t kind, std::size_t length) {
    Writer out;
    out.u32(0);
    out.u32(1);
    out.u16(256);
    out.u16(256);
    out.u8(kind);
    out.u8(0);
    out.u16(0);
    out.bytes.resize(length);
    return out;
}

Writer profile_error(std::uint8_t code) {
    Writer out;
    out.u8(code);
    return out;
}

Writer commit_with(const FaultContext& c, Player player) {
    return transition_commit_payload(c.transition, c.target->id, c.new_epoch, c.tick, player);
}

// Commit payload offsets of the entity record fields (the record starts at 24).
constexpr std::size_t commit_height = 24 + 8;
constexpr std::size_t commit_kind = 24 + 22;

FaultResult commit_fault(const FaultContext& c, std::uint32_t& sequence, const Writer& payload) {
    return one(framed(sequence, Type::TransitionCommit, payload, 0, c.session, c.new_epoch));
}

std::vector<Writer> target_chunks(const FaultContext& c) {
    return map_chunks(c.transition, *c.target);
}

// Chunk payload offsets.
constexpr std::size_t chunk_revision = 16;
constexpr std::size_t chunk_crc = 24;

FaultResult chunk_fault(const FaultContext& c, std::uint32_t& sequence,
                        const std::vector<Writer>& chunks) {
    FaultResult result;
    for (const Writer& chunk : chunks)
        result.datagrams.push_back(on(2, c, sequence, Type::MapChunk, chunk));
    return result;
}

// A change the patch rules allow on the played sector, applied to a copy.
std::optional<std::pair<Sector, std::uint16_t>> allowed_change(const Sector& sector) {
    constexpr std::pair<std::uint8_t, std::uint8_t> changes[] = {{7, 6}, {2, 0}, {4, 5}};
    for (const auto& [from, to] : changes) {
        if (to >= sector.tiles.size() || (from != 2 && sector.tiles.size() < 8)) continue;
        for (std::uint16_t cell = 0; cell < cell_count; ++cell) {
            if (sector.cells[cell] != from) continue;
            Sector patched = sector;
            patched.cells[cell] = to;
            patched.revision += 1;
            try {
                patched.validate();
            } catch (const std::exception&) {
                continue;
            }
            return std::pair{patched, cell};
        }
    }
    return std::nullopt;
}

Writer adventure_bytes() {
    AdventureState state;
    state.sequence = 1;
    return state.write();
}

Writer sector_status_bytes(std::uint16_t revive) {
    Writer out;
    out.u32(1);
    out.u16(0);
    out.u16(revive);
    out.u8(0);
    out.u8(0);
    return out;
}

// --- the table ---------------------------------------------------------------------------

using M = FaultMoment;

constexpr Fault faults[] = {
    // Admission.
    {"invalid-welcome", M::Welcome, "invalid welcome",
     [](const FaultContext& c, std::uint32_t& s) {
         FaultResult r; // a second Welcome after the first
         r.datagrams.push_back(on(0, c, s, Type::Welcome, welcome(c, tick_rate, ruleset, c.token)));
         r.datagrams.push_back(on(0, c, s, Type::Welcome, welcome(c, tick_rate, ruleset, c.token)));
         return r;
     }},
    {"unsupported-tick-rates", M::Welcome, "unsupported tick rates",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::Welcome, welcome(c, 20, ruleset, c.token)));
     }},
    {"unsupported-ruleset", M::Welcome, "unsupported ruleset",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::Welcome, welcome(c, tick_rate, 6, c.token)));
     }},
    {"invalid-welcome-identity", M::Welcome, "invalid welcome identity",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::Welcome, welcome(c, tick_rate, ruleset, 0)));
     }},
    {"profile-in-use", M::Profile,
     "This profile is already playing. Close the other client and reconnect.",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::ProfileError, profile_error(1)));
     }},
    {"profile-error", M::Profile, "Cannot load the saved profile",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::ProfileError, profile_error(2)));
     }},

    // Handoff announcement.
    {"overlapping-transition", M::Begin, "overlapping transition",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::TransitionBegin,
                       transition_begin_payload(c.transition + 1000, c.target->id,
                                                c.new_epoch + 1, handoff_window)));
     }},
    {"invalid-abort-epoch", M::Begin, "invalid abort epoch",
     [](const FaultContext& c, std::uint32_t& s) {
         // The abort of the pending handoff, stamped with the old epoch, not the target one.
         return one(on(0, c, s, Type::TransitionAbort, transition_abort_payload(c.transition, 1)));
     }},

    // Map chunks.
    {"invalid-chunk-metadata", M::Chunks, "invalid chunk metadata",
     [](const FaultContext& c, std::uint32_t& s) {
         std::vector<Writer> chunks = target_chunks(c);
         poke(chunks.front(), chunk_revision, 0, 4);
         return chunk_fault(c, s, chunks);
     }},
    {"invalid-chunk-length", M::Chunks, "invalid chunk length",
     [](const FaultContext& c, std::uint32_t& s) {
         std::vector<Writer> chunks = target_chunks(c);
         chunks.front().bytes.pop_back();
         return chunk_fault(c, s, chunks);
     }},
    {"inconsistent-chunks", M::Chunks, "inconsistent chunks",
     [](const FaultContext& c, std::uint32_t& s) {
         std::vector<Writer> chunks = target_chunks(c);
         Writer other = chunks.front(); // the same chunk announcing another CRC
         poke(other, chunk_crc, crc32(c.target->encode()) ^ 1, 4);
         return chunk_fault(c, s, {chunks.front(), other});
     }},
    {"conflicting-duplicate-chunk", M::Chunks, "conflicting duplicate chunk",
     [](const FaultContext& c, std::uint32_t& s) {
         std::vector<Writer> chunks = target_chunks(c);
         Writer other = chunks.front();
         other.bytes.at(chunk_header_size) ^= 0x01;
         return chunk_fault(c, s, {chunks.front(), other});
     }},
    {"corrupt-map", M::Chunks, "incomplete/corrupt map",
     [](const FaultContext& c, std::uint32_t& s) {
         const Bytes blob = c.target->encode();
         return chunk_fault(c, s,
                            map_chunks(c.transition, c.target->id, c.target->revision,
                                       crc32(blob) ^ 1, blob));
     }},
    {"map-identity-mismatch", M::Chunks, "map identity mismatch",
     [](const FaultContext& c, std::uint32_t& s) {
         const Bytes blob = c.target->encode();
         return chunk_fault(c, s,
                            map_chunks(c.transition, c.target->id, c.target->revision + 1,
                                       crc32(blob), blob));
     }},

    // Commit.
    {"invalid-transition-commit", M::Commit, "invalid transition commit",
     [](const FaultContext& c, std::uint32_t& s) {
         Player inside_wall = c.player; // the centre of corner cell (0, 0)
         inside_wall.x = inside_wall.y = 32768;
         return commit_fault(c, s, commit_with(c, inside_wall));
     }},
    {"invalid-commit-weapon", M::Commit, "invalid commit weapon",
     [](const FaultContext& c, std::uint32_t& s) {
         Player unarmed = c.player;
         unarmed.weapon = 0;
         return commit_fault(c, s, commit_with(c, unarmed));
     }},
    {"invalid-commit-boost", M::Commit, "invalid commit boost",
     [](const FaultContext& c, std::uint32_t& s) {
         Player boosted = c.player;
         boosted.boost = 5;
         return commit_fault(c, s, commit_with(c, boosted));
     }},
    {"unsupported-player-height", M::Commit, "unsupported player height",
     [](const FaultContext& c, std::uint32_t& s) {
         Writer payload = commit_with(c, c.player);
         poke(payload, commit_height, 1, 2);
         return commit_fault(c, s, payload);
     }},
    {"commit-entity-kind", M::Commit, "commit entity kind",
     [](const FaultContext& c, std::uint32_t& s) {
         Writer payload = commit_with(c, c.player);
         poke(payload, commit_kind, 2, 1);
         return commit_fault(c, s, payload);
     }},

    // Packet framing, in play.
    {"invalid-header", M::Playing, "invalid header",
     [](const FaultContext& c, std::uint32_t& s) {
         Datagram d = on(1, c, s, Type::SectorStatus, sector_status_bytes(0));
         d.bytes[2] = 3; // version
         return one(d);
     }},
    {"invalid-length", M::Playing, "invalid length/flags",
     [](const FaultContext& c, std::uint32_t& s) {
         Datagram d = on(1, c, s, Type::SectorStatus, sector_status_bytes(0));
         d.bytes[4] += 1; // one more payload byte than the packet holds
         return one(d);
     }},
    {"truncated-packet", M::Playing, "truncated packet",
     [](const FaultContext& c, std::uint32_t& s) {
         Writer payload = adventure_bytes();
         payload.bytes.pop_back();
         return one(on(1, c, s, Type::AdventureState, payload));
     }},
    {"trailing-bytes", M::Playing, "trailing bytes",
     [](const FaultContext& c, std::uint32_t& s) {
         Writer payload = adventure_bytes();
         payload.u8(0);
         return one(on(1, c, s, Type::AdventureState, payload));
     }},
    {"invalid-label", M::Playing, "invalid label",
     [](const FaultContext& c, std::uint32_t& s) {
         Writer payload = adventure_bytes();
         payload.bytes.at(59) = 'a'; // the message label
         return one(on(1, c, s, Type::AdventureState, payload));
     }},
    {"session-mismatch", M::Playing, "handoff session mismatch",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(framed(s, Type::TransitionBegin,
                           transition_begin_payload(0xF00D, c.sector->id, c.epoch + 1,
                                                    handoff_window),
                           0, c.session + 1, c.epoch));
     }},

    // Handoff messages out of turn, in play.
    {"invalid-transition-begin", M::Playing, "invalid transition begin",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::TransitionBegin,
                       transition_begin_payload(0xF00D, c.sector->id, c.epoch + 1, 100)));
     }},
    {"too-many-early-chunks", M::Playing, "too many early chunks",
     [](const FaultContext& c, std::uint32_t& s) {
         const std::vector<Writer> chunks = map_chunks(0xF00D, *c.sector);
         std::vector<Writer> six;
         while (six.size() < 6) six.push_back(chunks[six.size() % chunks.size()]);
         return chunk_fault(c, s, six);
     }},
    {"invalid-abort", M::Playing, "invalid abort",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::TransitionAbort, transition_abort_payload(0xF00D, 4)));
     }},

    // Snapshots.
    {"invalid-snapshot-part", M::Playing, "invalid snapshot part",
     [](const FaultContext& c, std::uint32_t& s) {
         Writer part = single_part(c, {viewer_record(c)});
         part.bytes.at(31) = 0; // part count
         return one(on(1, c, s, Type::SnapshotPart, part));
     }},
    {"duplicate-snapshot-part", M::Playing, "duplicate snapshot part",
     [](const FaultContext& c, std::uint32_t& s) {
         Writer part = single_part(c, {viewer_record(c)});
         part.bytes.at(31) = 2; // part 0 of 2, sent twice
         FaultResult r;
         r.datagrams.push_back(on(1, c, s, Type::SnapshotPart, part));
         r.datagrams.push_back(on(1, c, s, Type::SnapshotPart, part));
         return r;
     }},
    {"duplicate-entity-identity", M::Playing, "duplicate entity identity",
     [](const FaultContext& c, std::uint32_t& s) {
         return snapshot_fault(c, s, {viewer_record(c), viewer_record(c)});
     }},
    {"invalid-interest-set", M::Playing, "invalid snapshot interest set",
     [](const FaultContext& c, std::uint32_t& s) {
         return snapshot_fault(c, s, {bystander(c, 3), viewer_record(c)});
     }},
    {"snapshot-world-mismatch", M::Playing, "snapshot world mismatch",
     [](const FaultContext& c, std::uint32_t& s) {
         Snapshot snapshot = snapshot_of(c, {viewer_record(c)});
         snapshot.revision += 1;
         return one(on(1, c, s, Type::SnapshotPart, snapshot_part_payloads(snapshot).front()));
     }},
    {"invalid-entity-record", M::Playing,
     "invalid entity record id=999999 kind=0 weapon=1 x=1048576 y=1048576 flags=1",
     [](const FaultContext& c, std::uint32_t& s) {
         ReplicatedEntity odd = bystander(c, 0);
         odd.id = 999999;
         odd.x = odd.y = 16 * 65536;
         odd.weapon = odd.entity_weapon = 1;
         odd.flags = 1;
         odd.tick_event = false;
         return snapshot_fault(c, s, {viewer_record(c), odd});
     }},
    {"invalid-player-boost", M::Playing, "invalid player boost",
     [](const FaultContext& c, std::uint32_t& s) {
         ReplicatedEntity viewer = viewer_record(c);
         viewer.boost_value = 201;
         return snapshot_fault(c, s, {viewer});
     }},
    {"projectile-altitude", M::Playing, "projectile altitude mismatch",
     [](const FaultContext& c, std::uint32_t& s) {
         return snapshot_fault(c, s, {viewer_record(c), bystander(c, 4)}); // height 0, not 128
     }},

    // Channels.
    {"invalid-snapshot-channel", M::Playing, "invalid snapshot channel/session",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::SnapshotPart, single_part(c, {viewer_record(c)})));
     }},
    {"invalid-control-channel", M::Playing, "invalid control channel",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::MapChunk, map_chunks(0xF00D, *c.sector).front()));
     }},
    {"invalid-sector-status-channel", M::Playing, "invalid sector status channel",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::SectorStatus, sector_status_bytes(0)));
     }},
    {"invalid-adventure-channel", M::Playing, "invalid adventure channel",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::AdventureState, adventure_bytes()));
     }},
    {"invalid-expedition-channel", M::Playing, "invalid expedition channel",
     [](const FaultContext& c, std::uint32_t& s) {
         ExpeditionState state;
         state.sequence = c.tick;
         return one(on(0, c, s, Type::ExpeditionState, state.write()));
     }},
    {"invalid-map-patch-channel", M::Playing, "invalid map patch channel",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(1, c, s, Type::MapPatch,
                       map_patch_payload(c.sector->id, c.sector->revision + 1, 0, 0, 0)));
     }},
    {"invalid-profile-error", M::Playing, "invalid profile error",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(1, c, s, Type::ProfileError, profile_error(1)));
     }},

    // Map patches, combat events and status records.
    {"invalid-map-patch", M::Playing, "invalid map patch",
     [](const FaultContext& c, std::uint32_t& s) {
         // Skips a revision.
         return one(on(0, c, s, Type::MapPatch,
                       map_patch_payload(c.sector->id, c.sector->revision + 2, 0, 0, 0)));
     }},
    {"map-patch-checksum", M::Playing, "map patch checksum",
     [](const FaultContext& c, std::uint32_t& s) {
         // A change the rules allow, announcing the checksum of some other map.
         const auto change = allowed_change(*c.sector);
         if (!change) return one(on(0, c, s, Type::MapPatch, Writer{}));
         Writer payload = map_patch_payload(change->first, change->second);
         poke(payload, 16, crc32(change->first.encode()) ^ 1, 4);
         return one(on(0, c, s, Type::MapPatch, payload));
     }},
    {"invalid-combat-event", M::Playing, "invalid combat event",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::CombatEvent, combat_event(1, 15)));
     }},
    {"invalid-combat-kind", M::Playing, "invalid combat kind",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(0, c, s, Type::CombatEvent, combat_event(31, 16)));
     }},
    {"invalid-sector-status", M::Playing, "invalid sector status",
     [](const FaultContext& c, std::uint32_t& s) {
         return one(on(1, c, s, Type::SectorStatus, sector_status_bytes(61)));
     }},

    // The connection itself.
    {"disconnect", M::Playing, "server disconnected",
     [](const FaultContext&, std::uint32_t&) {
         FaultResult r;
         r.disconnect = true;
         return r;
     }},
    {"stale-packets", M::Playing, "",
     [](const FaultContext& c, std::uint32_t& s) {
         // Everything here belongs to an older epoch or to no handoff at all: the client
         // must drop it silently and play on.
         FaultResult r;
         const std::uint32_t old = c.epoch - 1;
         r.datagrams.push_back(framed(
             s, Type::TransitionBegin,
             transition_begin_payload(0xF00D, c.sector->id, c.epoch + 1, handoff_window), 0,
             c.session, old));
         Snapshot stale = snapshot_of(c, {viewer_record(c)});
         r.datagrams.push_back(framed(s, Type::SnapshotPart,
                                      snapshot_part_payloads(stale).front(), 1, c.session, old));
         r.datagrams.push_back(
             framed(s, Type::SectorStatus, sector_status_bytes(0), 1, c.session, old));
         r.datagrams.push_back(framed(s, Type::AdventureState, adventure_bytes(), 1, c.session,
                                      old));
         r.datagrams.push_back(on(0, c, s, Type::TransitionCommit,
                                  transition_commit_payload(0xF00D, c.sector->id, c.epoch + 1,
                                                            c.tick, c.player)));
         r.datagrams.push_back(
             on(0, c, s, Type::TransitionAbort, transition_abort_payload(0xF00D, 1)));
         r.datagrams.push_back(on(0, c, s, static_cast<Type>(11), bytes_of({1, 2, 3})));
         return r;
     }},
};

} // namespace

std::span<const Fault> fault_table() {
    return faults;
}

const Fault* find_fault(std::string_view name) {
    const auto found = std::find_if(std::begin(faults), std::end(faults),
                                    [name](const Fault& fault) { return fault.name == name; });
    return found == std::end(faults) ? nullptr : found;
}

} // namespace kestrel
