// Writes the seed corpora of the fuzz targets: valid messages and message sequences built
// with the project's own encoders, one directory per target under the given directory
// (make_corpus <dir> creates <dir>/<target>/seed-NNN). Nothing binary is kept in the
// repository; every seed is made here, the same way each run.
//
// The multi-message targets read the framing of fuzz/fuzz_input.h; every seed below is
// written with its FuzzOutput, in the per-message layout the target's own comment gives.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/sectors.h"
#include "protocol/credentials.h"
#include "protocol/entity.h"
#include "protocol/meta_state.h"
#include "session/handoff_client.h"
#include "session/handoff_messages.h"
#include "session/snapshot_assembly.h"
#include "world/generate.h"
#include "world/map_transfer.h"

using namespace kestrel;
using kestrel::fuzz::FuzzOutput;

namespace {

constexpr std::uint64_t session_id = 0x1122334455667788;
constexpr std::uint32_t first_epoch = 3;
constexpr std::uint32_t player_id = 42;
constexpr std::uint64_t trip = 0xABCD0001;
constexpr std::uint64_t second_trip = 0xABCD0002;

class Corpus {
  public:
    Corpus(const std::filesystem::path& root, const std::string& target) : dir_(root / target) {
        std::filesystem::create_directories(dir_);
    }
    void add(const std::vector<std::uint8_t>& bytes) {
        char name[32];
        std::snprintf(name, sizeof name, "seed-%03d", count_++);
        std::ofstream file(dir_ / name, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file) throw std::runtime_error("cannot write " + (dir_ / name).string());
    }
    void add(const FuzzOutput& out) { add(out.bytes); }
    int count() const { return count_; }

  private:
    std::filesystem::path dir_;
    int count_ = 0;
};

// ---------------------------------------------------------------- building blocks

// A sector as large as the format allows: a generated one with its palette filled up to
// 256 tiles and sixteen portals on distinct floor cells, 3520 bytes, four chunks.
Sector largest_sector() {
    Sector sector = generate(31, std::uint64_t{0xB16}, {});
    while (sector.tiles.size() < 256) sector.tiles.push_back(Tile{});
    const Grid blocked = sector.collision(false);
    std::uint16_t id = 0;
    for (std::uint16_t cell = 0; cell < cell_count && sector.portals.size() < 16; ++cell) {
        if (blocked[cell] || (sector.tiles[sector.cells[cell]].flags & Tile::secret)) continue;
        sector.portals.push_back(
            Portal{id, cell, 1000u + id, 0, static_cast<std::uint16_t>(id % 4), 0x5EEDull * id});
        ++id;
    }
    sector.validate();
    return sector;
}

std::vector<Sector> sample_sectors() {
    std::vector<Sector> sectors = fuzz::patch_sectors();
    for (std::uint64_t seed : {1ull, 2ull, 3ull, 0xC0FFEEull}) {
        try {
            sectors.push_back(generate(100 + seed, seed, {Portal{1, 70, 2, 0, 1, 42}}));
        } catch (const std::exception&) {
            // That seed cannot reach the portal; the others are enough.
        }
    }
    sectors.push_back(largest_sector());
    return sectors;
}

ReplicatedEntity entity(std::uint32_t id, std::uint8_t kind, int cell_x, int cell_y) {
    ReplicatedEntity e;
    e.id = id;
    e.kind = kind;
    e.x = (cell_x * 256 + 128) << 8;
    e.y = (cell_y * 256 + 128) << 8;
    e.flags = 1;
    if (kind == 4) e.height = 128;
    return e;
}

// A player at the sector's spawn, as the server would commit it.
Player spawn_player(const Sector& sector) {
    Player player = zero_player();
    player.id = player_id;
    player.x = sector.spawn_x << 8;
    player.y = sector.spawn_y << 8;
    player.yaw = 16384;
    player.health = 100;
    player.ammo = 50;
    player.weapon = 2;
    return player;
}

Snapshot snapshot_of(const Sector& sector, std::uint32_t id, std::uint32_t tick,
                     std::size_t others) {
    Snapshot snapshot;
    snapshot.id = id;
    snapshot.tick = tick;
    snapshot.input_ack = id;
    snapshot.revision = sector.revision;
    snapshot.viewer = player_id;
    snapshot.sector = sector.id;
    ReplicatedEntity viewer = entity(player_id, 1, sector.spawn_x >> 8, sector.spawn_y >> 8);
    viewer.health = 100;
    viewer.weapon = viewer.entity_weapon = 2;
    snapshot.entities.push_back(viewer);
    for (std::size_t i = 0; i < others; ++i) {
        const auto kind = static_cast<std::uint8_t>(1 + i % 18);
        ReplicatedEntity other = entity(static_cast<std::uint32_t>(1000 + i), kind,
                                        static_cast<int>(2 + i % 28), static_cast<int>(2 + i / 28));
        other.health = static_cast<std::uint16_t>(i % 101);
        other.vx = static_cast<std::int32_t>(i * 256) - 4096;
        other.tick_event = i % 3 == 0;
        snapshot.entities.push_back(other);
    }
    return snapshot;
}

AdventureState adventure(std::uint32_t sequence, std::size_t teammates) {
    AdventureState state;
    state.sequence = sequence;
    state.salvage_carried = 12;
    state.salvage_banked = 340;
    state.carrier = player_id;
    state.timer = 900;
    state.progress = 2;
    state.goal = 3;
    state.objective_x = state.exit_x = state.ping_x = 8191;
    state.objective_y = 100;
    state.ping_active = 1;
    state.clip = 6;
    state.reserve = 24;
    state.banking = 90;
    state.mode = 3;
    state.objective = 3;
    state.objective_flags = 7;
    state.color_index = state.colors_unlocked = 4;
    state.ping_kind = 3;
    state.message = "RELAY_ONLINE";
    for (std::size_t i = 0; i < teammates; ++i) {
        Teammate mate;
        mate.id = static_cast<std::uint32_t>(7 + i);
        mate.sector = 900 + i;
        mate.x = static_cast<std::uint16_t>(1000 * i);
        mate.y = 8191;
        mate.health = 100;
        mate.color = mate.class_id = static_cast<std::uint8_t>(i % 5);
        mate.name = "MATE" + std::to_string(i);
        state.teammates.push_back(mate);
    }
    return state;
}

ExpeditionState expedition(std::uint32_t sequence, std::size_t crew, std::size_t navigation) {
    ExpeditionState state;
    state.sequence = sequence;
    state.run_id = 5;
    state.salvage_banked = 250;
    state.secrets = 2;
    state.time_seconds = 321;
    state.leader = true;
    state.linked_sector = 77;
    state.current_sector = 900;
    state.contract_progress = state.contract_goal = 3;
    state.boss_health = 10;
    state.boss_health_max = 400;
    state.attack_warning = 1;
    state.contract_kind = state.contract_state = state.boss_phase = 3;
    state.attack_kind = 2;
    state.cosmetic_tier_before = 3;
    state.cosmetic_tier_after = 4;
    state.crew_code = "CREW42";
    state.crew_flag = true;
    state.risks = 7;
    state.theme = 2;
    for (std::size_t i = 0; i < crew; ++i)
        state.crew.push_back({"MEMBER" + std::to_string(i), i % 2 == 0});
    state.owned_upgrades = 15;
    state.team_shot_charged = true;
    state.revive_shield = 90;
    state.vote_ticks = 240;
    state.bonus_rounds = 3;
    state.votes_stay = state.participants = 64;
    state.vote_open = true;
    state.upgrade_offers = {1, 4, 0};
    for (std::size_t i = 0; i < navigation; ++i) {
        NavSector entry;
        entry.id = 900 + i;
        entry.column = static_cast<std::uint16_t>(i % 6);
        entry.row = static_cast<std::uint16_t>(i / 6);
        entry.flags = static_cast<std::uint8_t>(i % 32);
        entry.objective = static_cast<std::uint8_t>(i % 4);
        entry.danger = static_cast<std::uint8_t>(i % 11);
        entry.teammates = static_cast<std::uint8_t>(i % 9);
        state.navigation.push_back(entry);
    }
    return state;
}

Writer combat(std::uint8_t kind, std::uint16_t value, std::uint32_t subject = 77) {
    Writer out;
    out.u32(0xDEADBEEF);
    out.u32(subject);
    out.u16(0x0480);
    out.u16(0x0240);
    out.u8(kind);
    out.u8(0);
    out.u16(value);
    return out;
}

Writer bytes_writer(std::vector<std::uint8_t> bytes) {
    Writer out;
    out.bytes = std::move(bytes);
    return out;
}

// A packet stream with its per-message prefix bytes: the router's channel and dt, the
// snapshot assembly's dt, or nothing for the handoff client.
struct Stream {
    enum class Prefix { none, dt, channel_dt };
    Prefix prefix = Prefix::none;
    FuzzOutput out;
    std::uint32_t sequence = 0;
    std::uint32_t epoch = 0;

    void send(Type type, const Writer& payload, std::uint8_t channel = 0, std::uint8_t dt = 3,
              std::optional<std::uint32_t> header_epoch = {}) {
        if (prefix == Prefix::channel_dt) out.byte(channel);
        if (prefix != Prefix::none) out.byte(dt);
        out.record(packet(type, session_id, ++sequence, header_epoch.value_or(epoch), payload));
    }
    void welcome() {
        send(Type::Welcome, welcome_payload(player_id, 600, 9), 0, 3, first_epoch);
        epoch = first_epoch;
    }
    void chunks(std::uint64_t transition, const Sector& sector, bool reversed = false,
                bool twice = false) {
        std::vector<Writer> parts = map_chunks(transition, sector);
        if (reversed) std::reverse(parts.begin(), parts.end());
        for (const Writer& part : parts) {
            send(Type::MapChunk, part, 2);
            if (twice) send(Type::MapChunk, part, 2);
        }
    }
    // Begin, chunks and commit into `sector` at the next epoch.
    void hand_over(std::uint64_t transition, const Sector& sector, bool reversed = false) {
        const std::uint32_t next = epoch + 1;
        send(Type::TransitionBegin, transition_begin_payload(transition, sector.id, next, 300));
        chunks(transition, sector, reversed);
        send(Type::TransitionCommit,
             transition_commit_payload(transition, sector.id, next, 1234, spawn_player(sector)), 0,
             3, next);
        epoch = next;
    }
    void abort(std::uint64_t transition, const Sector& sector, std::uint32_t reason) {
        const std::uint32_t next = epoch + 1;
        send(Type::TransitionBegin, transition_begin_payload(transition, sector.id, next, 250));
        chunks(transition, sector);
        send(Type::TransitionAbort, transition_abort_payload(transition, reason), 0, 3, next);
        epoch = next;
    }
    void snapshot(const Snapshot& snapshot, std::uint8_t dt = 3) {
        for (const Writer& part : snapshot_part_payloads(snapshot))
            send(Type::SnapshotPart, part, 1, dt);
    }
};

// ---------------------------------------------------------------- the targets

void credentials_seeds(Corpus& corpus) {
    Credentials plain;
    corpus.add(plain.write().bytes);
    Credentials full;
    for (std::size_t i = 0; i < full.token.size(); ++i)
        full.token[i] = static_cast<std::uint8_t>(0xF0 + i);
    full.name = "ABCDEFGHIJKLMNOP";
    full.party = "CREW_0123456";
    full.color = 4;
    corpus.add(full.write().bytes);
    Credentials small;
    small.name = "Z";
    small.color = 2;
    corpus.add(small.write().bytes);
}

void meta_state_seeds(Corpus& corpus) {
    const auto add = [&](std::uint8_t which, const Writer& record) {
        std::vector<std::uint8_t> bytes{which};
        bytes.insert(bytes.end(), record.bytes.begin(), record.bytes.end());
        corpus.add(bytes);
    };
    add(0, SectorStatus{}.write());
    add(0, SectorStatus{0xFFFFFFFF, 12, 60, 5, 15}.write());
    add(1, AdventureState{}.write());
    add(1, adventure(9, 1).write());
    add(1, adventure(0x80000000, max_teammates).write());
    add(2, ExpeditionState{}.write());
    add(2, expedition(100, 2, 5).write());
    add(2, expedition(101, max_crew, max_navigation).write());
}

void entity_seeds(Corpus& corpus) {
    std::vector<ReplicatedEntity> entities = {entity(1, 1, 0, 0), entity(0xFFFFFFFF, 18, 31, 31),
                                              entity(5, 4, 10, 3)};
    ReplicatedEntity boosted = entity(9, 1, 4, 4);
    boosted.boost_value = 200;
    boosted.dash_cooldown = 90;
    boosted.boost_ticks = 900;
    boosted.boost = 4;
    boosted.weapon = boosted.entity_weapon = 4;
    boosted.flags = 7;
    boosted.tick_event = true;
    boosted.vx = -32768 * 256;
    boosted.vy = 32767 * 256;
    entities.push_back(boosted);
    for (const ReplicatedEntity& e : entities) {
        Writer out;
        write_entity(out, e);
        corpus.add(out.bytes);
    }
}

void sector_seeds(Corpus& corpus, const std::vector<Sector>& sectors) {
    for (const Sector& sector : sectors) corpus.add(sector.encode());
}

void map_assembly_seeds(Corpus& corpus, const std::vector<Sector>& sectors) {
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        const Sector& sector = sectors[i];
        const std::vector<Writer> chunks = map_chunks(trip, sector);
        FuzzOutput in_order, reversed, twice, foreign;
        for (FuzzOutput* out : {&in_order, &reversed, &twice, &foreign}) {
            out->u64(trip);
            out->u64(sector.id);
        }
        for (const Writer& chunk : chunks) {
            in_order.record(chunk.bytes);
            twice.record(chunk.bytes);
            twice.record(chunk.bytes);
        }
        for (auto chunk = chunks.rbegin(); chunk != chunks.rend(); ++chunk)
            reversed.record(chunk->bytes);
        // Another transfer's chunks interleaved with this one's.
        const std::vector<Writer> other = map_chunks(second_trip, sector);
        for (std::size_t c = 0; c < chunks.size(); ++c) {
            foreign.record(other[c].bytes);
            foreign.record(chunks[c].bytes);
        }
        corpus.add(in_order);
        if (i % 2 == 0) corpus.add(reversed);
        if (i == 0) {
            corpus.add(twice);
            corpus.add(foreign);
        }
    }
}

// Chains of valid patches on each patch sector: every allowed change the sector offers,
// applied one after another, as long as the map stays valid.
void map_patch_seeds(Corpus& corpus) {
    const std::vector<Sector>& sectors = fuzz::patch_sectors();
    for (std::size_t choice = 0; choice < sectors.size(); ++choice) {
        Sector current = sectors[choice];
        FuzzOutput exact, fixed;
        exact.byte(static_cast<std::uint8_t>(choice));
        exact.byte(0);
        fixed.byte(static_cast<std::uint8_t>(choice));
        fixed.byte(1);
        int patches = 0;
        for (std::uint16_t cell = 0; cell < cell_count && patches < 24; ++cell) {
            const std::uint8_t from = current.cells[cell];
            const bool rich = current.tiles.size() >= 8;
            std::uint8_t to = from;
            if (from == 2)
                to = 0;
            else if (rich && from == 7)
                to = 6;
            else if (rich && from == 4)
                to = 5;
            else if (rich && from == 5)
                to = 4;
            if (to == from) continue;
            Sector next = current;
            next.cells[cell] = to;
            next.revision = current.revision + 1;
            Writer patch;
            try {
                patch = map_patch_payload(next, cell);
            } catch (const std::exception&) {
                continue; // this change would break the map
            }
            exact.record(patch.bytes);
            Writer stale = patch; // the harness fixes the CRC in this seed
            stale.bytes[16] ^= 0xFF;
            fixed.record(stale.bytes);
            current = std::move(next);
            ++patches;
        }
        corpus.add(exact);
        corpus.add(fixed);
    }
}

void snapshot_seeds(Corpus& corpus, const Sector& sector) {
    const auto stream = [] {
        Stream s;
        s.prefix = Stream::Prefix::dt;
        s.epoch = first_epoch;
        return s;
    };
    {
        Stream s = stream();
        s.snapshot(snapshot_of(sector, 1, 100, 0));
        s.snapshot(snapshot_of(sector, 2, 102, 30));
        s.snapshot(snapshot_of(sector, 2, 102, 30)); // stale repeat
        s.snapshot(snapshot_of(sector, 3, 104, 60), 25);
        corpus.add(s.out);
    }
    {
        Stream s = stream(); // the largest snapshot, its parts in reverse
        const std::vector<Writer> parts =
            snapshot_part_payloads(snapshot_of(sector, 0xFFFFFFF0, 7, max_snapshot_entities - 1));
        for (auto part = parts.rbegin(); part != parts.rend(); ++part)
            s.send(Type::SnapshotPart, *part, 1, 0);
        corpus.add(s.out);
    }
    {
        Stream s = stream(); // five snapshots interleaved, partials evicted and completed
        std::vector<std::vector<Writer>> all;
        for (std::uint32_t id = 10; id < 15; ++id)
            all.push_back(snapshot_part_payloads(snapshot_of(sector, id, 200 + id, 40)));
        for (std::size_t part = 0; part < all.front().size(); ++part)
            for (const std::vector<Writer>& parts : all)
                s.send(Type::SnapshotPart, parts[part], 1, 1);
        corpus.add(s.out);
    }
}

void handoff_seeds(Corpus& corpus, const std::vector<Sector>& sectors) {
    const Sector& first = sectors[0];
    const Sector& second = sectors[1];
    {
        Stream s;
        s.welcome();
        s.hand_over(trip, first);
        s.hand_over(second_trip, second, true);
        corpus.add(s.out);
    }
    {
        Stream s; // chunks ahead of the Welcome and of the begin, a repeated begin, an abort
        s.epoch = 0;
        const std::vector<Writer> chunks = map_chunks(trip, first);
        s.send(Type::MapChunk, chunks[0], 2, 3, first_epoch);
        s.welcome();
        for (std::size_t c = 1; c < chunks.size(); ++c) s.send(Type::MapChunk, chunks[c], 2);
        s.send(Type::TransitionBegin, transition_begin_payload(trip, first.id, 4, 30000));
        s.send(Type::TransitionBegin, transition_begin_payload(trip, first.id, 4, 30000));
        s.send(Type::TransitionAbort, transition_abort_payload(trip, 2), 0, 3, 4);
        s.epoch = 4;
        s.abort(second_trip, second, 3);
        s.hand_over(trip + 7, sectors.back());
        corpus.add(s.out);
    }
}

void router_seeds(Corpus& corpus, const std::vector<Sector>& sectors) {
    const Sector& sector = sectors[0];
    // The router's input starts with its run flags: bit 0, an audio stream exists.
    const auto playing = [&](bool audio) {
        Stream s;
        s.prefix = Stream::Prefix::channel_dt;
        s.out.byte(audio ? 1 : 0);
        s.welcome();
        s.hand_over(trip, sector);
        return s;
    };
    {
        Stream s = playing(true); // snapshots, combat, status, meta-state
        s.snapshot(snapshot_of(sector, 1, 1240, 3));
        s.snapshot(snapshot_of(sector, 2, 1242, 40));
        for (std::uint8_t kind : {1, 2, 3, 5, 7, 11, 13, 19, 20, 21, 22, 30})
            s.send(Type::CombatEvent, combat(kind, 0x0119, kind == 13 ? player_id : 0x80000077));
        s.send(Type::CombatEvent, combat(3, 0x0205));
        s.send(Type::CombatEvent, combat(3, 0x0300));
        s.send(Type::SectorStatus, SectorStatus{5, 3, 60, 5, 15}.write(), 1);
        s.send(Type::SectorStatus, SectorStatus{4, 3, 0, 0, 0}.write(), 1);
        s.send(Type::AdventureState, adventure(8, 3).write(), 1);
        s.send(Type::AdventureState, adventure(7, 1).write(), 1); // older: kept out
        s.send(Type::ExpeditionState, expedition(50, 3, 6).write(), 1);
        s.send(Type::ExpeditionState, expedition(51, 0, 0).write(), 1);
        s.send(Type::ExpeditionState, expedition(49, 1, 1).write(), 1); // older: kept out
        s.snapshot(snapshot_of(sector, 3, 1244, 3), 30);
        // Killed, then back: the second snapshot restarts the prediction.
        Snapshot dead = snapshot_of(sector, 4, 1246, 3);
        dead.entities.front().health = 0;
        s.snapshot(dead);
        s.snapshot(snapshot_of(sector, 5, 1248, 3));
        // Two that end a real run: a projectile off its altitude, a snapshot of another map.
        Snapshot low = snapshot_of(sector, 6, 1250, 4);
        low.entities[4].height = 0;
        s.snapshot(low);
        Snapshot elsewhere = snapshot_of(sector, 7, 1252, 1);
        elsewhere.revision += 1;
        s.snapshot(elsewhere);
        corpus.add(s.out);
    }
    {
        Stream s = playing(false); // map patches between snapshots, then a second handoff
        Sector current = sector;
        int patches = 0;
        for (std::uint16_t cell = 0; cell < cell_count && patches < 4; ++cell) {
            if (current.cells[cell] != 2 && current.cells[cell] != 7) continue;
            Sector next = current;
            next.cells[cell] = current.cells[cell] == 2 ? 0 : 6;
            next.revision += 1;
            try {
                s.send(Type::MapPatch, map_patch_payload(next, cell));
            } catch (const std::exception&) {
                continue;
            }
            current = std::move(next);
            ++patches;
            s.snapshot(
                snapshot_of(current, static_cast<std::uint32_t>(patches), 1240u + patches, 2));
        }
        s.abort(second_trip, sectors[1], 1);
        s.snapshot(snapshot_of(current, 1, 2000, 2));
        s.hand_over(second_trip + 1, sectors[1]);
        s.snapshot(snapshot_of(sectors[1], 1, 3000, 5));
        corpus.add(s.out);
    }
    {
        Stream s = playing(false); // the run ends on a profile error
        s.send(Type::ProfileError, bytes_writer({1}));
        corpus.add(s.out);
    }
}

void header_seeds(Corpus& corpus, const std::vector<Sector>& sectors) {
    corpus.add(packet(Type::Hello, 0, 1, 0, Writer{}));
    corpus.add(
        packet(Type::Welcome, session_id, 1, first_epoch, welcome_payload(player_id, 600, 9)));
    corpus.add(packet(Type::MapChunk, session_id, 2, 4, map_chunks(trip, sectors[0]).front()));
    corpus.add(packet(Type::ExpeditionState, session_id, 3, 4,
                      bytes_writer(std::vector<std::uint8_t>(max_payload_size, 0))));
    corpus.add(packet(static_cast<Type>(255), ~0ull, ~0u, ~0u, combat(1, 0)));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_corpus <directory>\n";
        return 2;
    }
    try {
        const std::filesystem::path root = argv[1];
        const std::vector<Sector> sectors = sample_sectors();
        struct Target {
            const char* name;
            void (*seeds)(Corpus&, const std::vector<Sector>&);
        };
        const Target targets[] = {
            {"header_fuzz", header_seeds},
            {"credentials_fuzz",
             [](Corpus& c, const std::vector<Sector>&) { credentials_seeds(c); }},
            {"meta_state_fuzz", [](Corpus& c, const std::vector<Sector>&) { meta_state_seeds(c); }},
            {"entity_fuzz", [](Corpus& c, const std::vector<Sector>&) { entity_seeds(c); }},
            {"sector_fuzz", sector_seeds},
            {"map_assembly_fuzz", map_assembly_seeds},
            {"map_patch_fuzz", [](Corpus& c, const std::vector<Sector>&) { map_patch_seeds(c); }},
            {"snapshot_assembly_fuzz",
             [](Corpus& c, const std::vector<Sector>& s) { snapshot_seeds(c, s[0]); }},
            {"handoff_fuzz", handoff_seeds},
            {"router_fuzz", router_seeds},
        };
        for (const Target& target : targets) {
            Corpus corpus(root, target.name);
            target.seeds(corpus, sectors);
            std::cout << target.name << ": " << corpus.count() << " seeds\n";
        }
    } catch (const std::exception& error) {
        std::cerr << "make_corpus: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
