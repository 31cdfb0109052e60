#include "protocol/meta_state.h"

#include "tests/support/errors.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <type_traits>

namespace kestrel {
namespace {

using test::error_of;

// Overwrites width bytes at offset, little-endian; bytes beyond the eighth are zero.
void put(Bytes& bytes, std::size_t offset, int width, std::uint64_t value) {
    for (int i = 0; i < width; ++i)
        bytes.at(offset + i) = i < 8 ? static_cast<std::uint8_t>(value >> (8 * i)) : 0;
}

void label(Writer& out, std::string_view text, std::size_t width) {
    for (char c : text) out.u8(static_cast<std::uint8_t>(c));
    for (std::size_t i = text.size(); i < width; ++i) out.u8(0);
}

// Decodes a payload the way the client receives it: framed, header first.
template <class Record>
Record parse(const Bytes& payload, Type type) {
    Writer body;
    body.bytes = payload;
    const Bytes bytes = packet(type, 5, 1, 2, body);
    Reader reader(bytes);
    read_header(reader);
    return Record::read(reader);
}

struct Boundary {
    std::size_t offset;
    int width;
    std::uint64_t accepted;
    std::uint64_t refused;
    const char* message;
};

template <class Record>
void expect_boundaries(const Bytes& valid, Type type, std::initializer_list<Boundary> cases) {
    for (const Boundary& edge : cases) {
        SCOPED_TRACE("offset " + std::to_string(edge.offset));
        Bytes bytes = valid;
        put(bytes, edge.offset, edge.width, edge.accepted);
        EXPECT_EQ(error_of([&] { parse<Record>(bytes, type); }), "no error");
        put(bytes, edge.offset, edge.width, edge.refused);
        EXPECT_EQ(error_of([&] { parse<Record>(bytes, type); }), edge.message);
    }
}

// ---- SectorStatus -------------------------------------------------------------------------

Bytes status_bytes() {
    Writer out;
    out.u32(0x01020304);
    out.u16(0x0506);
    out.u16(30);
    out.u8(2);
    out.u8(9);
    return out.bytes;
}

SectorStatus parse_status(const Bytes& payload) {
    return parse<SectorStatus>(payload, Type::SectorStatus);
}

TEST(SectorStatus, ReadsTheTenByteLayout) {
    const SectorStatus status = parse_status(status_bytes());
    EXPECT_EQ(status.sequence, 0x01020304u);
    EXPECT_EQ(status.remaining, 0x0506);
    EXPECT_EQ(status.revive, 30);
    EXPECT_EQ(status.challenge, 2);
    EXPECT_EQ(status.flags, 9);
    EXPECT_EQ(status.write().bytes, status_bytes());
}

TEST(SectorStatus, RangeBoundaries) {
    expect_boundaries<SectorStatus>(status_bytes(), Type::SectorStatus,
                                    {{6, 2, 60, 61, "invalid sector status"},
                                     {8, 1, 5, 6, "invalid sector status"},
                                     {9, 1, 15, 16, "invalid sector status"}});
}

TEST(SectorStatus, TruncationTrailingAndTheirOrder) {
    Bytes bytes = status_bytes();
    bytes.pop_back();
    EXPECT_EQ(error_of([&] { parse_status(bytes); }), "truncated packet");
    bytes = status_bytes();
    bytes.push_back(0);
    EXPECT_EQ(error_of([&] { parse_status(bytes); }), "trailing bytes");
    put(bytes, 6, 2, 61); // the range check runs before the end check
    EXPECT_EQ(error_of([&] { parse_status(bytes); }), "invalid sector status");
}

// ---- AdventureState -----------------------------------------------------------------------

std::size_t teammate_at(std::size_t index) {
    return 72 + 36 * index;
}

Bytes adventure_bytes(std::size_t teammates, std::size_t count) {
    Writer out;
    for (std::uint32_t i = 0; i < 6; ++i) out.u32(0x11223340 + i);
    out.u16(0x0102);                                           // timer
    out.u16(0x0203);                                           // progress
    out.u16(0x0304);                                           // goal
    for (std::uint16_t i = 0; i < 6; ++i) out.u16(0x1001 + i); // objective, exit, ping
    for (std::uint16_t value : {0x0405, 0x0506, 0x0607, 0x0708, 0x0809}) out.u16(value);
    for (std::uint8_t value : {2, 0xEE, 1, 5, 3, 2, 1}) out.u8(value);
    label(out, "GET_TO_EXIT", 12);
    out.u8(static_cast<std::uint8_t>(count));
    for (std::uint32_t i = 0; i < teammates; ++i) {
        out.u32(0x01000001 + i);
        out.u64(0x1122334455667788ull + i);
        out.u16(0x1F00);
        out.u16(0x0100 + i);
        out.u16(50 + i);
        out.u8(static_cast<std::uint8_t>(i % 5));
        out.u8(static_cast<std::uint8_t>((i + 1) % 5));
        label(out, "MATE" + std::to_string(i), 16);
    }
    return out.bytes;
}

Bytes adventure_bytes(std::size_t teammates = 2) {
    return adventure_bytes(teammates, teammates);
}

AdventureState parse_adventure(const Bytes& payload) {
    return parse<AdventureState>(payload, Type::AdventureState);
}

TEST(AdventureState, ReadsTheLayout) {
    const Bytes payload = adventure_bytes();
    ASSERT_EQ(payload.size(), teammate_at(2));
    const AdventureState state = parse_adventure(payload);
    EXPECT_EQ(state.sequence, 0x11223340u);
    EXPECT_EQ(state.salvage_carried, 0x11223341u);
    EXPECT_EQ(state.salvage_banked, 0x11223342u);
    EXPECT_EQ(state.run_counter_a, 0x11223343u);
    EXPECT_EQ(state.run_counter_b, 0x11223344u);
    EXPECT_EQ(state.carrier, 0x11223345u);
    EXPECT_EQ(state.timer, 0x0102);
    EXPECT_EQ(state.progress, 0x0203);
    EXPECT_EQ(state.goal, 0x0304);
    EXPECT_EQ(state.objective_x, 0x1001);
    EXPECT_EQ(state.objective_y, 0x1002);
    EXPECT_EQ(state.exit_x, 0x1003);
    EXPECT_EQ(state.exit_y, 0x1004);
    EXPECT_EQ(state.ping_x, 0x1005);
    EXPECT_EQ(state.ping_y, 0x1006);
    EXPECT_EQ(state.ping_active, 0x0405);
    EXPECT_EQ(state.clip, 0x0506);
    EXPECT_EQ(state.reserve, 0x0607);
    EXPECT_EQ(state.reload, 0x0708);
    EXPECT_EQ(state.banking, 0x0809);
    EXPECT_EQ(state.mode, 2);
    EXPECT_EQ(state.mode_detail, 0xEE);
    EXPECT_EQ(state.objective, 1);
    EXPECT_EQ(state.objective_flags, 5);
    EXPECT_EQ(state.color_index, 3);
    EXPECT_EQ(state.colors_unlocked, 2);
    EXPECT_EQ(state.ping_kind, 1);
    EXPECT_EQ(state.message, "GET_TO_EXIT");
    ASSERT_EQ(state.teammates.size(), 2u);
    const Teammate& second = state.teammates[1];
    EXPECT_EQ(second.id, 0x01000002u);
    EXPECT_EQ(second.sector, 0x1122334455667789ull);
    EXPECT_EQ(second.x, 0x1F00);
    EXPECT_EQ(second.y, 0x0101);
    EXPECT_EQ(second.health, 51);
    EXPECT_EQ(second.color, 1);
    EXPECT_EQ(second.class_id, 2);
    EXPECT_EQ(second.name, "MATE1");
    EXPECT_EQ(state.teammates[0].name, "MATE0");
    EXPECT_EQ(state.write().bytes, payload);
}

TEST(AdventureState, FixedPartBoundaries) {
    const char* bad = "invalid adventure state";
    expect_boundaries<AdventureState>(
        adventure_bytes(), Type::AdventureState,
        {{52, 1, 3, 4, bad},
         {54, 1, 3, 4, bad},
         {55, 1, 7, 8, bad},
         {56, 1, 4, 5, bad},
         {57, 1, 4, 5, bad},
         {58, 1, 3, 4, bad},
         {30, 2, 8191, 8192, bad},
         {32, 2, 8191, 8192, bad},
         {34, 2, 8191, 8192, bad},
         {36, 2, 8191, 8192, bad},
         {38, 2, 8191, 8192, bad},
         {40, 2, 8191, 8192, bad},
         {26, 2, 0x0304, 0x0305, bad}}); // progress may reach the goal, not pass it
}

TEST(AdventureState, TeammateBoundaries) {
    const std::size_t t = teammate_at(1);
    const char* bad = "invalid teammate";
    expect_boundaries<AdventureState>(adventure_bytes(), Type::AdventureState,
                                      {{t, 4, 1, 0, bad},
                                       {t + 12, 2, 8191, 8192, bad},
                                       {t + 14, 2, 8191, 8192, bad},
                                       {t + 16, 2, 100, 101, bad},
                                       {t + 18, 1, 4, 5, bad},
                                       {t + 19, 1, 4, 5, bad}});
}

TEST(AdventureState, TeammateCount) {
    const AdventureState full = parse_adventure(adventure_bytes(8));
    EXPECT_EQ(full.teammates.size(), 8u);
    EXPECT_EQ(full.teammates[7].id, 0x01000008u);
    EXPECT_TRUE(parse_adventure(adventure_bytes(0)).teammates.empty());
    // Nine is refused from the count alone, before a teammate byte is needed.
    EXPECT_EQ(error_of([&] { parse_adventure(adventure_bytes(0, 9)); }), "invalid adventure state");
    EXPECT_EQ(error_of([&] { parse_adventure(adventure_bytes(1, 2)); }), "truncated packet");
    EXPECT_EQ(error_of([&] { parse_adventure(adventure_bytes(2, 1)); }), "trailing bytes");
}

TEST(AdventureState, TruncationAndTrailing) {
    Bytes bytes = adventure_bytes();
    bytes.pop_back();
    EXPECT_EQ(error_of([&] { parse_adventure(bytes); }), "truncated packet");
    bytes = adventure_bytes(0);
    bytes.pop_back(); // the count byte itself
    EXPECT_EQ(error_of([&] { parse_adventure(bytes); }), "truncated packet");
    bytes = adventure_bytes();
    bytes.push_back(0);
    EXPECT_EQ(error_of([&] { parse_adventure(bytes); }), "trailing bytes");
}

TEST(AdventureState, LabelsGoThroughFixedText) {
    Bytes bytes = adventure_bytes();
    put(bytes, 59, 1, 'g');
    EXPECT_EQ(error_of([&] { parse_adventure(bytes); }), "invalid label");
    bytes = adventure_bytes();
    put(bytes, 59, 12, 0);
    EXPECT_EQ(parse_adventure(bytes).message, "");
    bytes = adventure_bytes();
    put(bytes, teammate_at(1) + 20 + 6, 1, 'X'); // after the padding of "MATE1"
    EXPECT_EQ(error_of([&] { parse_adventure(bytes); }), "invalid label");
}

TEST(AdventureState, WriterEmitsOnlyReadableLabels) {
    AdventureState state;
    state.message = "go left!";
    state.teammates.push_back({7, 1, 2, 3, 4, 0, 1, "ace-pilot"});
    const AdventureState back = parse_adventure(state.write().bytes);
    EXPECT_EQ(back.message, "GOLEFT");
    EXPECT_EQ(back.teammates.at(0).name, "ACEPILOT");
}

// ---- ExpeditionState ----------------------------------------------------------------------

std::size_t choices_at(std::size_t crew) {
    return 107 + 17 * crew;
}
std::size_t nav_at(std::size_t crew, std::size_t index) {
    return choices_at(crew) + 14 + 16 * index;
}

Bytes expedition_bytes(std::size_t crew, std::size_t crew_count, std::size_t nav,
                       std::size_t nav_count) {
    Writer out;
    for (std::uint32_t i = 0; i < 10; ++i) out.u32(0x10000001 + i);
    label(out, "CAPTAIN_1", 16);
    out.u8(1);
    out.u64(0x0102030405060708ull);
    out.u64(0x1112131415161718ull);
    for (std::uint16_t value : {0x0102, 0x0203, 0x0304, 0x0405, 0x0506, 0x0607}) out.u16(value);
    for (std::uint8_t value : {2, 1, 2, 1, 2, 3}) out.u8(value);
    label(out, "CODE42", 12);
    for (std::uint8_t value : {1, 5, 1}) out.u8(value);
    out.u8(static_cast<std::uint8_t>(crew_count));
    for (std::size_t i = 0; i < crew; ++i) {
        label(out, "CREW" + std::to_string(i), 16);
        out.u8(static_cast<std::uint8_t>(i % 2));
    }
    out.u8(0x0A);
    out.u8(1);
    out.u16(45);
    out.u16(200);
    for (std::uint8_t value : {2, 3, 5, 1, 1, 3, 4}) out.u8(value); // bonus..vote_open, offers
    out.u8(static_cast<std::uint8_t>(nav_count));
    for (std::size_t i = 0; i < nav; ++i) {
        out.u64(0x0A0B0C0D00000001ull + i);
        out.u16(static_cast<std::uint16_t>(0x0102 + i));
        out.u16(0x0304);
        for (std::uint8_t value : {25, 2, 7, 3}) out.u8(value);
    }
    return out.bytes;
}

Bytes expedition_bytes(std::size_t crew = 2, std::size_t nav = 2) {
    return expedition_bytes(crew, crew, nav, nav);
}

ExpeditionState parse_expedition(const Bytes& payload) {
    return parse<ExpeditionState>(payload, Type::ExpeditionState);
}

TEST(ExpeditionState, ReadsTheLayout) {
    const Bytes payload = expedition_bytes();
    ASSERT_EQ(payload.size(), 121u + 2 * 17 + 2 * 16);
    const ExpeditionState state = parse_expedition(payload);
    EXPECT_EQ(state.sequence, 0x10000001u);
    EXPECT_EQ(state.run_id, 0x10000002u);
    EXPECT_EQ(state.salvage_banked, 0x10000003u);
    EXPECT_EQ(state.secrets, 0x10000004u);
    EXPECT_EQ(state.objectives, 0x10000005u);
    EXPECT_EQ(state.revives, 0x10000006u);
    EXPECT_EQ(state.time_seconds, 0x10000007u);
    EXPECT_EQ(state.total_bank, 0x10000008u);
    EXPECT_EQ(state.total_objectives, 0x10000009u);
    EXPECT_EQ(state.total_secrets, 0x1000000Au);
    EXPECT_EQ(state.leader_name, "CAPTAIN_1");
    EXPECT_TRUE(state.leader);
    EXPECT_EQ(state.linked_sector, 0x0102030405060708ull);
    EXPECT_EQ(state.current_sector, 0x1112131415161718ull);
    EXPECT_EQ(state.contract_progress, 0x0102);
    EXPECT_EQ(state.contract_goal, 0x0203);
    EXPECT_EQ(state.extraction_timer, 0x0304);
    EXPECT_EQ(state.boss_health, 0x0405);
    EXPECT_EQ(state.boss_health_max, 0x0506);
    EXPECT_EQ(state.attack_warning, 0x0607);
    EXPECT_EQ(state.contract_kind, 2);
    EXPECT_EQ(state.contract_state, 1);
    EXPECT_EQ(state.boss_phase, 2);
    EXPECT_EQ(state.attack_kind, 1);
    EXPECT_EQ(state.cosmetic_tier_before, 2);
    EXPECT_EQ(state.cosmetic_tier_after, 3);
    EXPECT_EQ(state.crew_code, "CODE42");
    EXPECT_TRUE(state.crew_flag);
    EXPECT_EQ(state.risks, 5);
    EXPECT_EQ(state.theme, 1);
    ASSERT_EQ(state.crew.size(), 2u);
    EXPECT_EQ(state.crew[0], (CrewMember{"CREW0", false}));
    EXPECT_EQ(state.crew[1], (CrewMember{"CREW1", true}));
    EXPECT_EQ(state.owned_upgrades, 0x0A);
    EXPECT_TRUE(state.team_shot_charged);
    EXPECT_EQ(state.revive_shield, 45);
    EXPECT_EQ(state.vote_ticks, 200);
    EXPECT_EQ(state.bonus_rounds, 2);
    EXPECT_EQ(state.votes_stay, 3);
    EXPECT_EQ(state.participants, 5);
    EXPECT_TRUE(state.vote_open);
    EXPECT_EQ(state.upgrade_offers, (std::array<std::uint8_t, 3>{1, 3, 4}));
    ASSERT_EQ(state.navigation.size(), 2u);
    EXPECT_EQ(state.navigation[1], (NavSector{0x0A0B0C0D00000002ull, 0x0103, 0x0304, 25, 2, 7, 3}));
    EXPECT_EQ(state.write().bytes, payload);
}

TEST(ExpeditionState, RangeBoundaries) {
    const std::size_t c = choices_at(2);
    const std::size_t n = nav_at(2, 1);
    expect_boundaries<ExpeditionState>(
        expedition_bytes(), Type::ExpeditionState,
        {{56, 1, 0, 2, "invalid leader flag"},
         {103, 1, 0, 2, "invalid crew state"},
         {104, 1, 7, 8, "invalid crew state"},
         {105, 1, 2, 3, "invalid crew state"},
         {choices_at(1) - 1, 1, 1, 2, "invalid ready flag"},
         {c - 1, 1, 0, 2, "invalid ready flag"},
         {c, 1, 15, 16, "invalid run choice"},
         {c + 1, 1, 0, 2, "invalid run choice"},
         {c + 2, 2, 90, 91, "invalid run choice"},
         {c + 4, 2, 240, 241, "invalid run choice"},
         {c + 6, 1, 3, 4, "invalid run choice"},
         {c + 7, 1, 5, 6, "invalid run choice"}, // votes_stay against 5 participants
         {c + 8, 1, 64, 65, "invalid run choice"},
         {c + 9, 1, 0, 2, "invalid run choice"},
         {c + 10, 1, 4, 5, "invalid upgrade offer"},
         {c + 11, 1, 0, 5, "invalid upgrade offer"},
         {c + 12, 1, 4, 255, "invalid upgrade offer"},
         {85, 1, 3, 4, "invalid expedition state"},
         {86, 1, 3, 4, "invalid expedition state"},
         {87, 1, 3, 4, "invalid expedition state"},
         {88, 1, 2, 3, "invalid expedition state"},
         {89, 1, 4, 5, "invalid expedition state"},
         {90, 1, 4, 5, "invalid expedition state"},
         {73, 2, 0x0203, 0x0204, "invalid expedition state"}, // progress against the goal
         {79, 2, 0x0506, 0x0507, "invalid expedition state"}, // health against its maximum
         {n, 8, 0xFFFFFFFFFFFFFFFFull, 0, "invalid navigation sector"},
         {n + 12, 1, 31, 32, "invalid navigation sector"},
         {n + 13, 1, 3, 4, "invalid navigation sector"},
         {n + 14, 1, 10, 11, "invalid navigation sector"},
         {n + 15, 1, 8, 9, "invalid navigation sector"}});
}

TEST(ExpeditionState, VotesStayMayEqualParticipants) {
    Bytes bytes = expedition_bytes();
    const std::size_t c = choices_at(2);
    put(bytes, c + 7, 1, 64);
    put(bytes, c + 8, 1, 64);
    EXPECT_EQ(parse_expedition(bytes).votes_stay, 64);
    put(bytes, c + 7, 1, 65);
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "invalid run choice");
}

TEST(ExpeditionState, ListCounts) {
    const ExpeditionState full = parse_expedition(expedition_bytes(8, 32));
    EXPECT_EQ(full.crew.size(), 8u);
    EXPECT_EQ(full.navigation.size(), 32u);
    EXPECT_EQ(full.navigation[31].id, 0x0A0B0C0D00000020ull);
    const ExpeditionState empty = parse_expedition(expedition_bytes(0, 0));
    EXPECT_TRUE(empty.crew.empty());
    EXPECT_TRUE(empty.navigation.empty());
    EXPECT_EQ(error_of([&] { parse_expedition(expedition_bytes(8, 9, 0, 0)); }),
              "invalid crew state");
    EXPECT_EQ(error_of([&] { parse_expedition(expedition_bytes(0, 0, 32, 33)); }),
              "invalid expedition state");
}

TEST(ExpeditionState, RepeatedNavigationIdIsRefused) {
    Bytes bytes = expedition_bytes(2, 3);
    put(bytes, nav_at(2, 2), 8, 0x0A0B0C0D00000001ull); // every range still valid
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "invalid navigation sector");
}

TEST(ExpeditionState, EachCheckFiresBeforeLaterFieldsAreRead) {
    // A ready byte of 2 stops the read at that member: nothing after it is needed.
    Bytes bytes = expedition_bytes(2, 0);
    bytes.resize(choices_at(1));
    put(bytes, choices_at(1) - 1, 1, 2);
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "invalid ready flag");

    bytes = expedition_bytes();
    bytes.resize(57);
    put(bytes, 56, 1, 2);
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "invalid leader flag");

    bytes = expedition_bytes(0, 0);
    bytes.resize(choices_at(0) + 11);
    put(bytes, choices_at(0) + 10, 1, 5);
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "invalid upgrade offer");
}

TEST(ExpeditionState, FirstFailingGroupDecidesTheMessage) {
    const std::size_t c = choices_at(2);
    auto message = [](std::initializer_list<Boundary> patches) {
        Bytes bytes = expedition_bytes();
        for (const Boundary& patch : patches) put(bytes, patch.offset, patch.width, patch.refused);
        return error_of([&] { parse_expedition(bytes); });
    };
    EXPECT_EQ(message({{56, 1, 0, 2, ""}, {105, 1, 0, 3, ""}}), "invalid leader flag");
    EXPECT_EQ(message({{104, 1, 0, 8, ""}, {c - 1, 1, 0, 2, ""}}), "invalid crew state");
    EXPECT_EQ(message({{c - 1, 1, 0, 2, ""}, {c, 1, 0, 16, ""}}), "invalid ready flag");
    // Offers are judged one by one, before the run choices they follow.
    EXPECT_EQ(message({{c + 2, 2, 0, 91, ""}, {c + 12, 1, 0, 5, ""}}), "invalid upgrade offer");
    // The contract fields at 85.. wait for the navigation count.
    EXPECT_EQ(message({{85, 1, 0, 4, ""}, {c + 8, 1, 0, 65, ""}}), "invalid run choice");
    EXPECT_EQ(message({{85, 1, 0, 4, ""}, {c - 1, 1, 0, 2, ""}}), "invalid ready flag");
    EXPECT_EQ(message({{87, 1, 0, 4, ""}, {nav_at(2, 0) + 14, 1, 0, 11, ""}}),
              "invalid expedition state");
}

TEST(ExpeditionState, TruncationTrailingAndLabels) {
    Bytes bytes = expedition_bytes();
    bytes.pop_back();
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "truncated packet");
    bytes = expedition_bytes(2, 0);
    bytes.pop_back(); // the navigation count
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "truncated packet");
    bytes = expedition_bytes();
    bytes.push_back(0);
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "trailing bytes");

    bytes = expedition_bytes();
    put(bytes, 40, 1, 'c');
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "invalid label");
    bytes = expedition_bytes();
    put(bytes, 91 + 11, 1, 'Z'); // after the padding of the crew code
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "invalid label");
    bytes = expedition_bytes();
    put(bytes, 107 + 17 + 2, 1, '-');
    EXPECT_EQ(error_of([&] { parse_expedition(bytes); }), "invalid label");
}

TEST(ExpeditionState, ReplacedWholesale) {
    static_assert(std::is_copy_assignable_v<ExpeditionState>);
    ExpeditionState stored = parse_expedition(expedition_bytes(8, 32));
    stored = parse_expedition(expedition_bytes(1, 1));
    EXPECT_EQ(stored.crew.size(), 1u);
    EXPECT_EQ(stored.navigation.size(), 1u);
    EXPECT_EQ(stored, parse_expedition(expedition_bytes(1, 1)));
}

} // namespace
} // namespace kestrel
