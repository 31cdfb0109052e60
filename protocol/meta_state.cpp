#include "protocol/meta_state.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/credentials.h"

namespace kestrel {

// SectorStatus payload, 10 bytes:
//
//   offset size field
//        0    4 sequence
//        4    2 remaining
//        6    2 revive     0..60
//        8    1 challenge  0..5
//        9    1 flags      0..15
//
// Range checks come before the end-of-payload check.
SectorStatus SectorStatus::read(Reader& reader) {
    SectorStatus status;
    status.sequence = reader.u32();
    status.remaining = reader.u16();
    status.revive = reader.u16();
    status.challenge = reader.u8();
    status.flags = reader.u8();
    if (status.revive > 60 || status.challenge > 5 || status.flags >= 16)
        throw std::runtime_error("invalid sector status");
    reader.end();
    return status;
}

Writer SectorStatus::write() const {
    Writer out;
    out.u32(sequence);
    out.u16(remaining);
    out.u16(revive);
    out.u8(challenge);
    out.u8(flags);
    return out;
}

namespace {

// Teammate, 36 bytes:
//
//   offset size field
//        0    4 id        not 0
//        4    8 sector
//       12    2 x         0..8191
//       14    2 y         0..8191
//       16    2 health    0..100
//       18    1 color     0..4
//       19    1 class_id  0..4
//       20   16 name      label
//
// The whole record is read before it is judged.
Teammate read_teammate(Reader& reader) {
    Teammate mate;
    mate.id = reader.u32();
    mate.sector = reader.u64();
    mate.x = reader.u16();
    mate.y = reader.u16();
    mate.health = reader.u16();
    mate.color = reader.u8();
    mate.class_id = reader.u8();
    mate.name = fixed_text(reader, 16);
    if (mate.id == 0 || mate.x > 8191 || mate.y > 8191 || mate.health > 100 || mate.color > 4 ||
        mate.class_id > 4)
        throw std::runtime_error("invalid teammate");
    return mate;
}

void write_teammate(Writer& out, const Teammate& mate) {
    out.u32(mate.id);
    out.u64(mate.sector);
    out.u16(mate.x);
    out.u16(mate.y);
    out.u16(mate.health);
    out.u8(mate.color);
    out.u8(mate.class_id);
    write_label(out, mate.name, 16);
}

// Crew member, 17 bytes: name (16-byte label), ready (0 or 1).
CrewMember read_crew_member(Reader& reader) {
    CrewMember member;
    member.name = fixed_text(reader, 16);
    const std::uint8_t ready = reader.u8();
    if (ready > 1) throw std::runtime_error("invalid ready flag");
    member.ready = ready != 0;
    return member;
}

// Navigation entry, 16 bytes:
//
//   offset size field
//        0    8 id         not 0, not repeated within the record
//        8    2 column
//       10    2 row
//       12    1 flags      0..31
//       13    1 objective  0..3
//       14    1 danger     0..10
//       15    1 teammates  0..8
NavSector read_nav_sector(Reader& reader, const std::vector<NavSector>& earlier) {
    NavSector entry;
    entry.id = reader.u64();
    entry.column = reader.u16();
    entry.row = reader.u16();
    entry.flags = reader.u8();
    entry.objective = reader.u8();
    entry.danger = reader.u8();
    entry.teammates = reader.u8();
    const bool repeated = std::any_of(earlier.begin(), earlier.end(),
                                      [&](const NavSector& other) { return other.id == entry.id; });
    if (entry.id == 0 || repeated || entry.flags > 31 || entry.objective > 3 || entry.danger > 10 ||
        entry.teammates > 8)
        throw std::runtime_error("invalid navigation sector");
    return entry;
}

std::uint8_t flag_byte(bool value) {
    return value ? 1 : 0;
}

} // namespace

// AdventureState payload, 72 + 36 * count bytes:
//
//   offset size field
//        0    4 sequence          0 = no adventure
//        4    4 salvage_carried
//        8    4 salvage_banked
//       12    4 run_counter_a
//       16    4 run_counter_b
//       20    4 carrier
//       24    2 timer
//       26    2 progress          at most goal
//       28    2 goal
//       30    2 objective_x       0..8191, as are the five coordinates after it
//       32    2 objective_y
//       34    2 exit_x
//       36    2 exit_y
//       38    2 ping_x
//       40    2 ping_y
//       42    2 ping_active
//       44    2 clip
//       46    2 reserve
//       48    2 reload
//       50    2 banking
//       52    1 mode              0..3
//       53    1 mode_detail
//       54    1 objective         0..3
//       55    1 objective_flags   0..7
//       56    1 color_index       0..4
//       57    1 colors_unlocked   0..4
//       58    1 ping_kind         0..3
//       59   12 message           label
//       71    1 teammate count    0..8
//       72   36 teammates         count times
//
// The fixed part is judged as a whole before the first teammate is read.
AdventureState AdventureState::read(Reader& reader) {
    AdventureState state;
    state.sequence = reader.u32();
    state.salvage_carried = reader.u32();
    state.salvage_banked = reader.u32();
    state.run_counter_a = reader.u32();
    state.run_counter_b = reader.u32();
    state.carrier = reader.u32();
    state.timer = reader.u16();
    state.progress = reader.u16();
    state.goal = reader.u16();
    state.objective_x = reader.u16();
    state.objective_y = reader.u16();
    state.exit_x = reader.u16();
    state.exit_y = reader.u16();
    state.ping_x = reader.u16();
    state.ping_y = reader.u16();
    state.ping_active = reader.u16();
    state.clip = reader.u16();
    state.reserve = reader.u16();
    state.reload = reader.u16();
    state.banking = reader.u16();
    state.mode = reader.u8();
    state.mode_detail = reader.u8();
    state.objective = reader.u8();
    state.objective_flags = reader.u8();
    state.color_index = reader.u8();
    state.colors_unlocked = reader.u8();
    state.ping_kind = reader.u8();
    state.message = fixed_text(reader, 12);
    const std::uint8_t count = reader.u8();

    const std::uint16_t coordinates[] = {state.objective_x, state.objective_y, state.exit_x,
                                         state.exit_y,      state.ping_x,      state.ping_y};
    const bool off_map = std::any_of(std::begin(coordinates), std::end(coordinates),
                                     [](std::uint16_t value) { return value > 8191; });
    if (count > max_teammates || state.objective_flags > 7 || state.color_index > 4 ||
        state.colors_unlocked > 4 || state.ping_kind > 3 || state.mode > 3 || state.objective > 3 ||
        state.progress > state.goal || off_map)
        throw std::runtime_error("invalid adventure state");

    state.teammates.reserve(count);
    for (std::uint8_t i = 0; i < count; ++i) state.teammates.push_back(read_teammate(reader));
    reader.end();
    return state;
}

Writer AdventureState::write() const {
    Writer out;
    out.u32(sequence);
    out.u32(salvage_carried);
    out.u32(salvage_banked);
    out.u32(run_counter_a);
    out.u32(run_counter_b);
    out.u32(carrier);
    for (std::uint16_t value : {timer, progress, goal, objective_x, objective_y, exit_x, exit_y,
                                ping_x, ping_y, ping_active, clip, reserve, reload, banking})
        out.u16(value);
    for (std::uint8_t value :
         {mode, mode_detail, objective, objective_flags, color_index, colors_unlocked, ping_kind})
        out.u8(value);
    write_label(out, message, 12);
    out.u8(static_cast<std::uint8_t>(teammates.size()));
    for (const Teammate& mate : teammates) write_teammate(out, mate);
    return out;
}

// ExpeditionState payload, 121 + 17 * crew + 16 * navigation bytes (c = 107 + 17 * crew):
//
//   offset size field
//        0    4 sequence
//        4    4 run_id
//        8    4 salvage_banked
//       12    4 secrets
//       16    4 objectives
//       20    4 revives
//       24    4 time_seconds
//       28    4 total_bank
//       32    4 total_objectives
//       36    4 total_secrets
//       40   16 leader_name           label
//       56    1 leader                0..1   "invalid leader flag", at once
//       57    8 linked_sector
//       65    8 current_sector
//       73    2 contract_progress     at most contract_goal
//       75    2 contract_goal
//       77    2 extraction_timer
//       79    2 boss_health           at most boss_health_max
//       81    2 boss_health_max
//       83    2 attack_warning
//       85    1 contract_kind         0..3
//       86    1 contract_state        0..3
//       87    1 boss_phase            0..3
//       88    1 attack_kind           0..2
//       89    1 cosmetic_tier_before  0..4
//       90    1 cosmetic_tier_after   0..4
//       91   12 crew_code             label
//      103    1 crew_flag             0..1   -+
//      104    1 risks                 0..7    |  "invalid crew state"
//      105    1 theme                 0..2    |
//      106    1 crew count            0..8   -+
//      107   17 crew members          count times, "invalid ready flag" per member
//      c+0    1 owned_upgrades        0..15  -+
//      c+1    1 team_shot_charged     0..1    |
//      c+2    2 revive_shield         0..90   |
//      c+4    2 vote_ticks            0..240  |  "invalid run choice", judged after
//      c+6    1 bonus_rounds          0..3    |  the upgrade offers
//      c+7    1 votes_stay            at most participants
//      c+8    1 participants          0..64   |
//      c+9    1 vote_open             0..1   -+
//     c+10    3 upgrade_offers        0..4 each, "invalid upgrade offer" one by one
//     c+13    1 navigation count      0..32, judged with the fields at 73..90
//     c+14   16 navigation entries    count times
//
// Groups are judged in the order above and the first offending one decides the message;
// the fields at 73..90 are judged only together with the navigation count, so a bad crew
// member or run choice wins over them.
ExpeditionState ExpeditionState::read(Reader& reader) {
    ExpeditionState state;
    for (std::uint32_t* field :
         {&state.sequence, &state.run_id, &state.salvage_banked, &state.secrets, &state.objectives,
          &state.revives, &state.time_seconds, &state.total_bank, &state.total_objectives,
          &state.total_secrets})
        *field = reader.u32();
    state.leader_name = fixed_text(reader, 16);
    const std::uint8_t leader = reader.u8();
    if (leader > 1) throw std::runtime_error("invalid leader flag");
    state.leader = leader != 0;

    state.linked_sector = reader.u64();
    state.current_sector = reader.u64();
    for (std::uint16_t* field :
         {&state.contract_progress, &state.contract_goal, &state.extraction_timer,
          &state.boss_health, &state.boss_health_max, &state.attack_warning})
        *field = reader.u16();
    for (std::uint8_t* field :
         {&state.contract_kind, &state.contract_state, &state.boss_phase, &state.attack_kind,
          &state.cosmetic_tier_before, &state.cosmetic_tier_after})
        *field = reader.u8();
    state.crew_code = fixed_text(reader, 12);

    const std::uint8_t crew_flag = reader.u8();
    state.risks = reader.u8();
    state.theme = reader.u8();
    const std::uint8_t crew_count = reader.u8();
    if (crew_flag > 1 || state.risks > 7 || state.theme > 2 || crew_count > max_crew)
        throw std::runtime_error("invalid crew state");
    state.crew_flag = crew_flag != 0;
    state.crew.reserve(crew_count);
    for (std::uint8_t i = 0; i < crew_count; ++i) state.crew.push_back(read_crew_member(reader));

    state.owned_upgrades = reader.u8();
    const std::uint8_t team_shot_charged = reader.u8();
    state.revive_shield = reader.u16();
    state.vote_ticks = reader.u16();
    state.bonus_rounds = reader.u8();
    state.votes_stay = reader.u8();
    state.participants = reader.u8();
    const std::uint8_t vote_open = reader.u8();
    for (std::uint8_t& offer : state.upgrade_offers) {
        offer = reader.u8();
        if (offer > 4) throw std::runtime_error("invalid upgrade offer");
    }
    if (team_shot_charged > 1 || vote_open > 1 || state.owned_upgrades > 15 ||
        state.revive_shield > 90 || state.vote_ticks > 240 || state.bonus_rounds > 3 ||
        state.participants > 64 || state.votes_stay > state.participants)
        throw std::runtime_error("invalid run choice");
    state.team_shot_charged = team_shot_charged != 0;
    state.vote_open = vote_open != 0;

    const std::uint8_t navigation_count = reader.u8();
    if (navigation_count > max_navigation || state.contract_kind > 3 || state.contract_state > 3 ||
        state.boss_phase > 3 || state.attack_kind > 2 || state.cosmetic_tier_before > 4 ||
        state.cosmetic_tier_after > 4 || state.contract_progress > state.contract_goal ||
        state.boss_health > state.boss_health_max)
        throw std::runtime_error("invalid expedition state");
    state.navigation.reserve(navigation_count);
    for (std::uint8_t i = 0; i < navigation_count; ++i)
        state.navigation.push_back(read_nav_sector(reader, state.navigation));
    reader.end();
    return state;
}

Writer ExpeditionState::write() const {
    Writer out;
    for (std::uint32_t value : {sequence, run_id, salvage_banked, secrets, objectives, revives,
                                time_seconds, total_bank, total_objectives, total_secrets})
        out.u32(value);
    write_label(out, leader_name, 16);
    out.u8(flag_byte(leader));
    out.u64(linked_sector);
    out.u64(current_sector);
    for (std::uint16_t value : {contract_progress, contract_goal, extraction_timer, boss_health,
                                boss_health_max, attack_warning})
        out.u16(value);
    for (std::uint8_t value : {contract_kind, contract_state, boss_phase, attack_kind,
                               cosmetic_tier_before, cosmetic_tier_after})
        out.u8(value);
    write_label(out, crew_code, 12);
    out.u8(flag_byte(crew_flag));
    out.u8(risks);
    out.u8(theme);
    out.u8(static_cast<std::uint8_t>(crew.size()));
    for (const CrewMember& member : crew) {
        write_label(out, member.name, 16);
        out.u8(flag_byte(member.ready));
    }
    out.u8(owned_upgrades);
    out.u8(flag_byte(team_shot_charged));
    out.u16(revive_shield);
    out.u16(vote_ticks);
    out.u8(bonus_rounds);
    out.u8(votes_stay);
    out.u8(participants);
    out.u8(flag_byte(vote_open));
    for (std::uint8_t offer : upgrade_offers) out.u8(offer);
    out.u8(static_cast<std::uint8_t>(navigation.size()));
    for (const NavSector& entry : navigation) {
        out.u64(entry.id);
        out.u16(entry.column);
        out.u16(entry.row);
        out.u8(entry.flags);
        out.u8(entry.objective);
        out.u8(entry.danger);
        out.u8(entry.teammates);
    }
    return out;
}

} // namespace kestrel
