// Framing, labels and the records, read from framed payloads laid out by hand with a distinct
// value in every field, so a dropped, swapped or mis-sized field shows up in the write-back.
#include "protocol/codec.h"
#include "protocol/credentials.h"
#include "protocol/entity.h"
#include "protocol/label.h"
#include "protocol/meta_state.h"

#include "tests/support/errors.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kestrel {
namespace {

using test::error_of;
using test::Field;
using test::with;

void label(Writer& out, std::string_view text, std::size_t width) {
    for (char c : text) out.u8(static_cast<std::uint8_t>(c));
    for (std::size_t i = text.size(); i < width; ++i) out.u8(0);
}

// Reads a payload the way the client receives it: framed, header first.
template <class Read>
auto parse(const Bytes& payload, Read read) {
    const Bytes bytes = packet(Type::SnapshotPart, 5, 1, 2, Writer{payload});
    Reader reader(bytes);
    read_header(reader);
    return read(reader);
}

template <class Read>
std::string error(const Bytes& payload, Read read) {
    return error_of([&] { parse(payload, read); });
}

// A field accepted at its limit and refused (the message starts with `message`) past it.
// clang-format off
struct Limit { Field accepted; std::uint64_t refused; const char* message; };
// clang-format on

template <class Read>
void expect_limits(const Bytes& valid, Read read, const std::vector<Limit>& limits) {
    for (const Limit& l : limits) {
        const auto [offset, width, accepted] = l.accepted;
        EXPECT_EQ(error(with(valid, {l.accepted}), read), "no error") << offset;
        const std::string refused = error(with(valid, {{offset, width, l.refused}}), read);
        EXPECT_EQ(refused.substr(0, std::strlen(l.message)), l.message) << offset;
    }
}

// The payload cut or padded with zeros to each size.
template <class Read>
void expect_sizes(const Bytes& bytes, Read read,
                  std::initializer_list<std::pair<std::size_t, const char*>> cases) {
    for (const auto& [size, message] : cases) {
        Bytes resized = bytes;
        resized.resize(size);
        EXPECT_EQ(error(resized, read), message) << size;
    }
}

Bytes framed(std::size_t payload_size, Type type = Type::SnapshotPart) {
    return packet(type, 0x1122334455667788ull, 0xA1B2C3D4u, 0x01020304u,
                  Writer{Bytes(payload_size, 0xAB)});
}

TEST(Packet, HeaderLayoutLimitsRefusalsAndTheReader) {
    EXPECT_EQ(
        packet(Type::Welcome, 0x1122334455667788ull, 0xA1B2C3D4u, 0x01020304u, Writer{{0xEE}}),
        (Bytes{0x51, 0x56, 0x02, 0x02, 0x01, 0x00, 0x00, 0x00, 0x88, 0x77, 0x66, 0x55, 0x44,
               0x33, 0x22, 0x11, 0xD4, 0xC3, 0xB2, 0xA1, 0x04, 0x03, 0x02, 0x01, 0xEE}));
    EXPECT_EQ(error_of([] { framed(977); }), "oversized packet");
    // Any type byte reads back: the type is judged by the router, not here.
    for (auto [size, type] : {std::pair{0u, 0}, {10u, 11}, {976u, 19}, {3u, 255}}) {
        const Bytes bytes = framed(size, static_cast<Type>(type));
        Reader reader(bytes);
        const Header h = read_header(reader);
        EXPECT_EQ(std::tuple(static_cast<int>(h.type), h.length, h.session, h.sequence, h.epoch,
                             reader.position),
                  std::tuple(type, size, 0x1122334455667788ull, 0xA1B2C3D4u, 0x01020304u, 24u));
    }

    Bytes too_long = framed(976);
    too_long.push_back(0);
    const char *head = "invalid header", *length = "invalid length/flags";
    // clang-format off
    const std::pair<Bytes, const char*> cases[] = {
        {Bytes(23, 0), head}, {too_long, head}, {with(framed(4), {{0, 1, 0x50}}), head},
        {with(framed(4), {{1, 1, 0x57}}), head}, {with(framed(4), {{2, 1, 0x03}}), head},
        {with(framed(8), {{4, 1, 7}}), length}, {with(framed(8), {{4, 1, 9}}), length},
        {with(framed(8), {{6, 1, 0x80}}), length}, {with(framed(8), {{7, 1, 0x80}}), length}};
    // clang-format on
    for (const auto& [bytes, message] : cases) {
        Reader reader(bytes);
        EXPECT_EQ(error_of([&] { read_header(reader); }), message) << bytes.size();
    }

    Writer writer;
    writer.u64(0x0102030405060708ull);
    writer.u32(0xFFFFFFFEu);
    writer.u16(0x8001);
    Reader wide(writer.bytes);
    EXPECT_EQ((std::tuple{wide.u64(), wide.i32(), wide.i16()}),
              std::tuple(0x0102030405060708ull, -2, -32767));
    EXPECT_NO_THROW(wide.end());

    const Bytes bytes = {0x34, 0x12, 0x99};
    Reader reader(bytes);
    EXPECT_EQ(reader.u16(), 0x1234);
    EXPECT_EQ(error_of([&] { reader.end(); }), "trailing bytes");
    for (int width : {2, 1}) { // a failed read still moves to the end
        EXPECT_EQ(error_of([&] { width == 2 ? reader.u16() : reader.u8(); }), "truncated packet");
        EXPECT_EQ(reader.position, 3u);
    }
}

const std::array<std::uint8_t, 16> counting = {0, 1, 2,  3,  4,  5,  6,  7,
                                               8, 9, 10, 11, 12, 13, 14, 15};

// A Profile payload laid out by hand: token 00..0f, name, party, colour.
Bytes record(std::string_view name = "PILOT_7", std::string_view party = "CREW9",
             std::uint8_t color = 3) {
    Bytes out(counting.begin(), counting.end());
    out.resize(16 + 16 + 12 + 1, 0);
    std::copy(name.begin(), name.end(), out.begin() + 16);
    std::copy(party.begin(), party.end(), out.begin() + 32);
    out.back() = color;
    return out;
}

TEST(Credentials, LayoutRoundTripRefusalsWriteAndKey) {
    const Bytes whole = record();
    ASSERT_EQ(whole.size(), credentials_size);
    EXPECT_EQ(parse(whole, Credentials::read), (Credentials{counting, "PILOT_7", "CREW9", 3}));
    EXPECT_EQ(parse(whole, Credentials::read).write().bytes, whole);
    // Full widths carry no terminator.
    const Credentials full{{0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xfe, 0xff},
                           "0123456789_ABCDE",
                           "0123456789_Z",
                           4};
    EXPECT_EQ(parse(full.write().bytes, Credentials::read), full);

    Bytes gap = record("AB");
    gap[16 + 3] = 'C'; // a character after the zero padding
    Bytes long_empty = record("", "", 9);
    long_empty.push_back(0); // the end of the record is checked before its values
    const char *bad_label = "invalid label", *profile = "invalid profile",
               *cut = "truncated packet";
    // clang-format off
    const std::pair<Bytes, const char*> cases[] = {
        {Bytes(whole.begin(), whole.end() - 1), cut}, {long_empty, "trailing bytes"},
        {Bytes(whole.begin(), whole.begin() + 10), cut}, {record("Ranger"), bad_label},
        {gap, bad_label}, {record("RANGER", "crew"), bad_label}, {record("RAN GER"), bad_label},
        {record("A", "", 5), profile}, {record("", "CREW", 0), profile},
        {record("A", "", 4), "no error"}};
    // clang-format on
    for (const auto& [bytes, message] : cases) EXPECT_EQ(error(bytes, Credentials::read), message);

    // The writer filters, cuts and pads labels; only kept characters count towards the width.
    Credentials c{counting, "ranger-1", "a b-c_9", 0};
    EXPECT_EQ(c.write().bytes, record("RANGER1", "ABC_9", 0));
    std::tie(c.name, c.party) =
        std::tuple("ab-cd efghijklmnopqrst", "-1-2-3-4-5-6-7-8-9-0-a-b-c-d");
    EXPECT_EQ(parse(c.write().bytes, Credentials::read),
              (Credentials{counting, "ABCDEFGHIJKLMNOP", "1234567890AB", 0}));
    c.name = "---"; // written empty, then refused on reading
    EXPECT_EQ(c.write().bytes, record("", "1234567890AB", 0));
    EXPECT_EQ(error(c.write().bytes, Credentials::read), "invalid profile");
    const std::size_t name = max_name_length, party = max_party_length;
    // Labels upper-case letters and keep digits and '_' up to the maximum; neighbours of the
    // ranges and UTF-8 are dropped.
    // clang-format off
    const std::tuple<const char*, std::size_t, const char*> labels[] = {
        {"ab-c_d!", name, "ABC_D"}, {"Zed 42", name, "ZED42"}, {"@[`{/:\xC3\xA9-9", name, "9"},
        {"azAZ09_", name, "AZAZ09_"}, {"****", party, ""}, {"", name, ""}, {"abc", 0, ""},
        {"abcdefghijklmnopqrst", name, "ABCDEFGHIJKLMNOP"}, {"abcdefghijkl", party, "ABCDEFGHIJKL"},
        {"-a-b-c-d-e-f-g-h-i-j-k-l-m-n", party, "ABCDEFGHIJKL"}};
    // clang-format on
    for (const auto& [text, max, expected] : labels) EXPECT_EQ(filter_label(text, max), expected);
    // The key is lower-case hex, high nibble first.
    c.token = counting;
    EXPECT_EQ(c.key(), "000102030405060708090a0b0c0d0e0f");
    c.token = {0xf0, 0xab, 0x1c, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff};
    EXPECT_EQ(c.key(), "f0ab1c000000000000000000000000ff");
}

// ---- entity: id, x, y, height, yaw, vx, vy, vz, health, type, kind u8, flags u8, state,
// weapon, ammo, cooldown, boost_value, dash_cooldown, boost_ticks, boost
Bytes entity(const std::vector<Field>& fields = {}) {
    // clang-format off
    return with({4, 3, 2, 1, 0x34, 0x12, 0x67, 0x05, 0x80, 0xFF, 0x01, 0xC0, 0xFE, 0xFF, 0x22, 0x11,
                 0x77, 0x77, 0x02, 0x01, 0x04, 0x03, 4, 5, 0x06, 0x05, 3, 0, 0x08, 0x07, 0x0A, 0x09,
                 150, 0, 45, 0, 0x00, 0x03, 3, 0}, fields);
    // clang-format on
}

TEST(EntityRecord, LayoutWriteBackBoundariesAndMessages) {
    ASSERT_EQ(entity().size(), entity_record_size);
    const ReplicatedEntity e = parse(entity(), read_entity);
    // vx is sign-extended before the shift; flags bit 2 is the tick event.
    EXPECT_EQ(std::tuple(e.id, e.x, e.y, e.height, e.yaw, e.vx, e.vy, e.health, e.type, e.kind,
                         e.flags, e.tick_event, e.state, e.weapon, e.entity_weapon, e.ammo),
              std::tuple(0x01020304u, 0x1234 << 8, 0x0567 << 8, 0xFF80, 0xC001, -512, 0x1122 << 8,
                         0x0102, 0x0304, 4, 5, true, 0x0506, 3, 3, 0x0708));
    EXPECT_EQ(std::tuple(e.cooldown, e.boost_value, e.dash_cooldown, e.boost_ticks, e.boost,
                         e.reserved[0] | e.reserved[1] | e.reserved[2]),
              std::tuple(0x090A, 150, 45, 0x0300, 3, 0));
    // Vertical speed is dropped on reading and written as 0; height is not checked.
    EXPECT_EQ(parse(entity({{16, 2, 0}}), read_entity), e);
    EXPECT_EQ(parse(entity({{8, 2, 0x7FFF}}), read_entity).height, 0x7FFF);
    Writer out;
    write_entity(out, e);
    EXPECT_EQ(out.bytes, entity({{16, 2, 0}}));
    for (auto [flags, tick] : {std::pair{7, true}, {4, true}, {3, false}, {0, false}})
        EXPECT_EQ(parse(entity({{23, 1, std::uint64_t(flags)}}), read_entity).tick_event, tick);
    // A marked entity carries the mark in flags bit 2 even when flags itself lacks it.
    ReplicatedEntity marked = e;
    marked.flags = 1;
    Writer again;
    write_entity(again, marked);
    EXPECT_EQ(parse(again.bytes, read_entity).flags, 5);

    // One record is consumed exactly; cut short at any field, it is truncated.
    Bytes payload = entity();
    const Bytes next = entity({{0, 4, 99}});
    payload.insert(payload.end(), next.begin(), next.end());
    payload.push_back(0xAB);
    parse(payload, [](Reader& reader) {
        EXPECT_EQ(read_entity(reader).id, 0x01020304u);
        EXPECT_EQ(reader.position, header_size + entity_record_size);
        EXPECT_EQ(read_entity(reader).id, 99u);
        EXPECT_EQ(reader.remaining(), 1u); // what follows is the caller's to judge
        return 0;
    });
    const char* cut = "truncated packet";
    expect_sizes(entity(), read_entity, {{39, cut}, {22, cut}, {3, cut}, {0, cut}});

    const char *id = "invalid entity record id=", *boost = "invalid player boost";
    // clang-format off
    expect_limits(entity(), read_entity, {
        {4, 2, 8191, 8192, id}, {6, 2, 8191, 8192, id}, {0, 4, 1, 0, id}, {22, 1, 18, 19, id},
        {22, 1, 1, 0, id}, {26, 2, 4, 5, id}, {26, 2, 1, 0, id}, {23, 1, 7, 8, id},
        {23, 1, 0, 255, id}, {32, 2, 200, 201, boost}, {34, 2, 90, 91, boost},
        {36, 2, 900, 901, boost}, {38, 2, 4, 5, boost}});
    // clang-format on
    EXPECT_EQ(error(entity({{0, 4, 7}, {4, 2, 4}, {6, 2, 8}, {22, 1, 0}, {23, 1, 0}, {26, 2, 1}}),
                    read_entity),
              "invalid entity record id=7 kind=0 weapon=1 x=1024 y=2048 flags=0");
    const std::vector<Field> large = {{0, 4, 4294967295u}, {4, 2, 65535}, {6, 2, 8191},
                                      {22, 1, 255},        {23, 1, 200},  {26, 2, 65535}};
    EXPECT_EQ(error(entity(large), read_entity),
              "invalid entity record id=4294967295 kind=255 weapon=65535 x=16776960 y=2096896 "
              "flags=200");
}

// ---- AdventureState: six u32, timer, progress, goal, six coordinates, five u16, seven u8,
// message[12], count, then 36-byte teammates
const auto teammate_at = [](std::size_t index) { return 72 + 36 * index; };

Bytes adventure(std::size_t teammates = 2, int count = -1) {
    Writer out;
    for (std::uint32_t i = 0; i < 6; ++i) out.u32(0x11223340 + i);
    for (std::uint16_t v : {0x0102, 0x0203, 0x0304}) out.u16(v); // timer, progress, goal
    for (std::uint16_t i = 0; i < 6; ++i) out.u16(0x1001 + i);   // objective, exit, ping
    for (std::uint16_t v : {0x0405, 0x0506, 0x0607, 0x0708, 0x0809}) out.u16(v);
    for (std::uint8_t v : {2, 0xEE, 1, 5, 3, 2, 1}) out.u8(v);
    label(out, "GET_TO_EXIT", 12);
    out.u8(static_cast<std::uint8_t>(count < 0 ? teammates : count));
    for (std::uint32_t i = 0; i < teammates; ++i) {
        out.u32(0x01000001 + i);
        out.u64(0x1122334455667788ull + i);
        for (std::uint32_t v : {0x1F00u, 0x0100 + i, 50 + i})
            out.u16(static_cast<std::uint16_t>(v));
        for (std::uint32_t v : {i % 5, (i + 1) % 5}) out.u8(static_cast<std::uint8_t>(v));
        label(out, "MATE" + std::to_string(i), 16);
    }
    return out.bytes;
}

TEST(MetaState, AdventureAndSectorStatusLayoutsWriteBackAndRefusals) {
    ASSERT_EQ(adventure().size(), teammate_at(2));
    const AdventureState s = parse(adventure(), AdventureState::read);
    ASSERT_EQ(s.write().bytes, adventure()); // distinct values: a misread field shows here
    EXPECT_EQ(std::tuple(s.sequence, s.carrier, s.message),
              std::tuple(0x11223340u, 0x11223345u, "GET_TO_EXIT"));
    EXPECT_EQ(s.teammates[1],
              (Teammate{0x01000002u, 0x1122334455667789ull, 0x1F00, 0x0101, 51, 1, 2, "MATE1"}));
    EXPECT_EQ(parse(adventure(8), AdventureState::read).teammates[7].id, 0x01000008u);
    EXPECT_EQ(parse(adventure(0), AdventureState::read).write().bytes, adventure(0));
    EXPECT_EQ(parse(with(adventure(), {{59, 8, 0}, {67, 4, 0}}), AdventureState::read).message, "");
    // The writer emits only readable labels.
    AdventureState w;
    w.message = "go left!";
    w.teammates.push_back({7, 1, 2, 3, 4, 0, 1, "ace-pilot"});
    const AdventureState back = parse(w.write().bytes, AdventureState::read);
    EXPECT_EQ(std::tuple(back.message, back.teammates.at(0).name),
              std::tuple("GOLEFT", "ACEPILOT"));

    // Progress (26) may reach the goal; teammate 2 starts at 108; a letter after "MATE1".
    const char *bad = "invalid adventure state", *mate = "invalid teammate",
               *text = "invalid label";
    // clang-format off
    expect_limits(adventure(), AdventureState::read, {
        {52, 1, 3, 4, bad}, {54, 1, 3, 4, bad}, {55, 1, 7, 8, bad}, {56, 1, 4, 5, bad},
        {57, 1, 4, 5, bad}, {58, 1, 3, 4, bad}, {30, 2, 8191, 8192, bad}, {32, 2, 8191, 8192, bad},
        {34, 2, 8191, 8192, bad}, {36, 2, 8191, 8192, bad}, {38, 2, 8191, 8192, bad},
        {40, 2, 8191, 8192, bad}, {26, 2, 0x0304, 0x0305, bad}, {108, 4, 1, 0, mate},
        {120, 2, 8191, 8192, mate}, {122, 2, 8191, 8192, mate}, {124, 2, 100, 101, mate},
        {126, 1, 4, 5, mate}, {127, 1, 4, 5, mate}, {59, 1, 'G', 'g', text},
        {134, 1, 0, 'X', text}});
    // clang-format on
    const char *trailing = "trailing bytes", *cut = "truncated packet";
    // The last size cuts the count byte itself; nine is refused from the count alone.
    expect_sizes(
        adventure(), AdventureState::read,
        {{teammate_at(2) + 1, trailing}, {teammate_at(2) - 1, cut}, {teammate_at(0) - 1, cut}});
    EXPECT_EQ(error(adventure(0, 9), AdventureState::read), bad);
    EXPECT_EQ(error(adventure(1, 2), AdventureState::read), cut);
    EXPECT_EQ(error(adventure(2, 1), AdventureState::read), trailing);

    // SectorStatus: sequence u32, remaining, revive, challenge u8, flags u8
    const Bytes status = {0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 30, 0, 2, 9};
    const SectorStatus st = parse(status, SectorStatus::read);
    EXPECT_EQ(std::tuple(st.sequence, st.remaining, st.revive, st.challenge, st.flags),
              std::tuple(0x01020304u, 0x0506, 30, 2, 9));
    EXPECT_EQ(st.write().bytes, status);
    const char* sector = "invalid sector status";
    expect_limits(status, SectorStatus::read,
                  {{6, 2, 60, 61, sector}, {8, 1, 5, 6, sector}, {9, 1, 15, 16, sector}});
    expect_sizes(status, SectorStatus::read, {{9, "truncated packet"}, {11, "trailing bytes"}});
}

// ---- ExpeditionState: ten u32, leader name[16], leader u8, two u64, six u16, six u8, crew
// code[12], three u8, crew count, 17-byte members, run choices (14 bytes), 16-byte nav sectors.
const auto choices_at = [](std::size_t crew) { return 107 + 17 * crew; };
const auto nav_at = [](std::size_t crew, std::size_t i) { return choices_at(crew) + 14 + 16 * i; };

Bytes expedition(std::size_t crew = 2, std::size_t nav = 2, int crew_count = -1,
                 int nav_count = -1) {
    Writer out;
    for (std::uint32_t i = 0; i < 10; ++i) out.u32(0x10000001 + i);
    label(out, "CAPTAIN_1", 16);
    out.u8(1);
    for (std::uint64_t v : {0x0102030405060708ull, 0x1112131415161718ull}) out.u64(v);
    for (std::uint16_t v : {0x0102, 0x0203, 0x0304, 0x0405, 0x0506, 0x0607}) out.u16(v);
    for (std::uint8_t v : {2, 1, 2, 1, 2, 3}) out.u8(v);
    label(out, "CODE42", 12);
    for (std::uint8_t v : {1, 5, 1}) out.u8(v);
    out.u8(static_cast<std::uint8_t>(crew_count < 0 ? crew : crew_count));
    for (std::size_t i = 0; i < crew; ++i) {
        label(out, "CREW" + std::to_string(i), 16);
        out.u8(static_cast<std::uint8_t>(i % 2));
    }
    for (std::uint8_t v : {0x0A, 1}) out.u8(v);
    for (std::uint16_t v : {45, 200}) out.u16(v);
    for (std::uint8_t v : {2, 3, 5, 1, 1, 3, 4}) out.u8(v); // bonus..vote_open, offers
    out.u8(static_cast<std::uint8_t>(nav_count < 0 ? nav : nav_count));
    for (std::size_t i = 0; i < nav; ++i) {
        out.u64(0x0A0B0C0D00000001ull + i);
        for (std::size_t v : {0x0102 + i, std::size_t{0x0304}})
            out.u16(static_cast<std::uint16_t>(v));
        for (std::uint8_t v : {25, 2, 7, 3}) out.u8(v);
    }
    return out.bytes;
}

TEST(ExpeditionState, LayoutWriteBackAndBoundaries) {
    ASSERT_EQ(expedition().size(), 121u + 2 * 17 + 2 * 16);
    const ExpeditionState s = parse(expedition(), ExpeditionState::read);
    ASSERT_EQ(s.write().bytes, expedition()); // distinct values: a misread field shows here
    EXPECT_EQ(std::tuple(s.sequence, s.leader_name, s.leader, s.crew_code, s.upgrade_offers[2]),
              std::tuple(0x10000001u, "CAPTAIN_1", true, "CODE42", 4));
    EXPECT_EQ(s.crew, (std::vector<CrewMember>{{"CREW0", false}, {"CREW1", true}}));
    EXPECT_EQ(s.navigation[1], (NavSector{0x0A0B0C0D00000002ull, 0x0103, 0x0304, 25, 2, 7, 3}));
    EXPECT_EQ(parse(expedition(8, 32), ExpeditionState::read).write().bytes, expedition(8, 32));
    EXPECT_EQ(parse(expedition(0, 0), ExpeditionState::read).write().bytes, expedition(0, 0));

    // Run choices start at c = 141 (votes_stay at c + 7 is judged against 5 participants),
    // the second navigation sector at 171 (its id 0 or the first's is refused).
    const std::size_t c = choices_at(2);
    const std::uint64_t first_id = 0x0A0B0C0D00000001ull;
    const char *lead = "invalid leader flag", *crew = "invalid crew state",
               *ready = "invalid ready flag", *run = "invalid run choice",
               *offer = "invalid upgrade offer", *state = "invalid expedition state",
               *nav = "invalid navigation sector", *text = "invalid label";
    // clang-format off
    expect_limits(expedition(), ExpeditionState::read, {
        {56, 1, 0, 2, lead}, {103, 1, 0, 2, crew}, {104, 1, 7, 8, crew}, {105, 1, 2, 3, crew},
        {123, 1, 1, 2, ready}, {140, 1, 0, 2, ready}, {141, 1, 15, 16, run}, {142, 1, 0, 2, run},
        {143, 2, 90, 91, run}, {145, 2, 240, 241, run}, {147, 1, 3, 4, run}, {148, 1, 5, 6, run},
        {149, 1, 64, 65, run}, {150, 1, 0, 2, run}, {151, 1, 4, 5, offer}, {152, 1, 0, 5, offer},
        {153, 1, 4, 255, offer}, {85, 1, 3, 4, state}, {86, 1, 3, 4, state}, {87, 1, 3, 4, state},
        {88, 1, 2, 3, state}, {89, 1, 4, 5, state}, {90, 1, 4, 5, state},
        {73, 2, 0x0203, 0x0204, state}, {79, 2, 0x0506, 0x0507, state}, {183, 1, 31, 32, nav},
        {184, 1, 3, 4, nav}, {185, 1, 10, 11, nav}, {186, 1, 8, 9, nav}, {40, 1, 'C', 'c', text},
        {102, 1, 0, 'Z', text}, {126, 1, 'E', '-', text}, {171, 8, ~0ull, 0, nav},
        {171, 8, first_id + 1, first_id, nav}});
    // clang-format on
    const Bytes all_vote = with(expedition(), {{c + 7, 1, 64}, {c + 8, 1, 64}});
    EXPECT_EQ(parse(all_vote, ExpeditionState::read).votes_stay, 64);
    EXPECT_EQ(error(with(all_vote, {{c + 7, 1, 65}}), ExpeditionState::read), run);
    EXPECT_EQ(error(expedition(8, 0, 9), ExpeditionState::read), crew);
    EXPECT_EQ(error(expedition(0, 32, 0, 33), ExpeditionState::read), state);
    expect_sizes(expedition(), ExpeditionState::read,
                 {{nav_at(2, 2) + 1, "trailing bytes"}, {nav_at(2, 2) - 1, "truncated packet"}});
    expect_sizes(expedition(2, 0), ExpeditionState::read, {{nav_at(2, 0) - 1, "truncated packet"}});
}

} // namespace
} // namespace kestrel
