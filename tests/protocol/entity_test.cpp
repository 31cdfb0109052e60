#include "protocol/entity.h"

#include "tests/support/errors.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <type_traits>

namespace kestrel {
namespace {

using test::error_of;

void put(Bytes& bytes, std::size_t offset, int width, std::uint32_t value) {
    for (int i = 0; i < width; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

struct Fields {
    std::uint32_t id = 0x01020304;
    std::uint16_t x = 0x1234;
    std::uint16_t y = 0x0567;
    std::uint16_t height = 0xFF80; // below the floor: stored as it is
    std::uint16_t yaw = 0xC001;
    std::int16_t vx = -2;
    std::int16_t vy = 0x1122;
    std::uint16_t vz = 0x7777;
    std::uint16_t health = 0x0102;
    std::uint16_t type = 0x0304;
    std::uint8_t kind = 4;
    std::uint8_t flags = 5;
    std::uint16_t state = 0x0506;
    std::uint16_t weapon = 3;
    std::uint16_t ammo = 0x0708;
    std::uint16_t cooldown = 0x090A;
    std::uint16_t boost_value = 150;
    std::uint16_t dash_cooldown = 45;
    std::uint16_t boost_ticks = 0x0300;
    std::uint16_t boost = 3;
};

// One record laid out by hand in wire order.
Bytes record(const Fields& f = {}) {
    Writer out;
    out.u32(f.id);
    for (std::uint16_t value : {f.x, f.y, f.height, f.yaw, static_cast<std::uint16_t>(f.vx),
                                static_cast<std::uint16_t>(f.vy), f.vz, f.health, f.type})
        out.u16(value);
    out.u8(f.kind);
    out.u8(f.flags);
    for (std::uint16_t value : {f.state, f.weapon, f.ammo, f.cooldown, f.boost_value,
                                f.dash_cooldown, f.boost_ticks, f.boost})
        out.u16(value);
    return out.bytes;
}

// Frames the records as a snapshot payload and reads the first one after the header.
ReplicatedEntity parse(const Bytes& payload) {
    Writer body;
    body.bytes = payload;
    const Bytes bytes = packet(Type::SnapshotPart, 3, 4, 5, body);
    Reader reader(bytes);
    read_header(reader);
    return read_entity(reader);
}

TEST(EntityRecord, ReadsTheFortyByteLayout) {
    const Bytes payload = record();
    ASSERT_EQ(payload.size(), entity_record_size);
    const ReplicatedEntity e = parse(payload);
    EXPECT_EQ(e.id, 0x01020304u);
    EXPECT_EQ(e.x, 0x1234 << 8);
    EXPECT_EQ(e.y, 0x0567 << 8);
    EXPECT_EQ(e.height, 0xFF80);
    EXPECT_EQ(e.yaw, 0xC001);
    EXPECT_EQ(e.vx, -512); // sign-extended before the shift
    EXPECT_EQ(e.vy, 0x1122 << 8);
    EXPECT_EQ(e.health, 0x0102);
    EXPECT_EQ(e.type, 0x0304);
    EXPECT_EQ(e.kind, 4);
    EXPECT_EQ(e.flags, 5);
    EXPECT_TRUE(e.tick_event);
    EXPECT_EQ(e.state, 0x0506);
    EXPECT_EQ(e.weapon, 3);
    EXPECT_EQ(e.entity_weapon, 3);
    EXPECT_EQ(e.ammo, 0x0708);
    EXPECT_EQ(e.cooldown, 0x090A);
    EXPECT_EQ(e.boost_value, 150);
    EXPECT_EQ(e.dash_cooldown, 45);
    EXPECT_EQ(e.boost_ticks, 0x0300);
    EXPECT_EQ(e.boost, 3);
    EXPECT_EQ(e.reserved[0] | e.reserved[1] | e.reserved[2], 0);
}

TEST(EntityRecord, ConsumesExactlyOneRecord) {
    Bytes payload = record();
    Fields second;
    second.id = 99;
    const Bytes next = record(second);
    payload.insert(payload.end(), next.begin(), next.end());
    payload.push_back(0xAB);

    Writer body;
    body.bytes = payload;
    const Bytes bytes = packet(Type::SnapshotPart, 3, 4, 5, body);
    Reader reader(bytes);
    read_header(reader);
    EXPECT_EQ(read_entity(reader).id, 0x01020304u);
    EXPECT_EQ(reader.position, header_size + entity_record_size);
    EXPECT_EQ(read_entity(reader).id, 99u);
    // What follows the records is the caller's to judge.
    EXPECT_EQ(reader.remaining(), 1u);
    EXPECT_EQ(error_of([&] { reader.end(); }), "trailing bytes");
}

TEST(EntityRecord, TruncatedAtTheFirstFieldThatDoesNotFit) {
    for (std::size_t size : {0u, 3u, 22u, 23u, 39u}) {
        SCOPED_TRACE(size);
        Bytes payload = record();
        payload.resize(size);
        EXPECT_EQ(error_of([&] { parse(payload); }), "truncated packet");
    }
    // Even a record whose values are all wrong fails on its length first.
    Bytes payload = record({.id = 0, .kind = 0, .boost_value = 999});
    payload.pop_back();
    EXPECT_EQ(error_of([&] { parse(payload); }), "truncated packet");
}

TEST(EntityRecord, VerticalSpeedIsIgnoredAndHeightUnchecked) {
    EXPECT_EQ(parse(record({.vz = 0})), parse(record({.vz = 0xFFFF})));
    EXPECT_EQ(parse(record({.height = 0x7FFF})).height, 0x7FFF);
}

TEST(EntityRecord, FlagsBitTwoIsTheTickEvent) {
    EXPECT_TRUE(parse(record({.flags = 7})).tick_event);
    EXPECT_TRUE(parse(record({.flags = 4})).tick_event);
    EXPECT_FALSE(parse(record({.flags = 3})).tick_event);
    EXPECT_FALSE(parse(record({.flags = 0})).tick_event);
}

TEST(EntityRecord, RangeBoundaries) {
    struct Boundary {
        std::size_t offset;
        int width;
        std::uint32_t accepted;
        std::uint32_t refused;
    };
    const Boundary identity[] = {
        {4, 2, 8191, 8192}, {6, 2, 8191, 8192}, {0, 4, 1, 0},  {22, 1, 18, 19}, {22, 1, 1, 0},
        {26, 2, 4, 5},      {26, 2, 1, 0},      {23, 1, 7, 8}, {23, 1, 0, 255},
    };
    const Boundary boost[] = {{32, 2, 200, 201}, {34, 2, 90, 91}, {36, 2, 900, 901}, {38, 2, 4, 5}};
    auto check = [](const Boundary& edge, const std::string& message_start) {
        SCOPED_TRACE("offset " + std::to_string(edge.offset));
        Bytes bytes = record();
        put(bytes, edge.offset, edge.width, edge.accepted);
        EXPECT_EQ(error_of([&] { parse(bytes); }), "no error");
        put(bytes, edge.offset, edge.width, edge.refused);
        EXPECT_EQ(error_of([&] { parse(bytes); }).rfind(message_start, 0), 0u);
    };
    for (const Boundary& edge : identity) check(edge, "invalid entity record id=");
    for (const Boundary& edge : boost) check(edge, "invalid player boost");
}

TEST(EntityRecord, IdentityMessageNamesEveryField) {
    EXPECT_EQ(error_of([&] {
                  parse(record({.id = 7, .x = 4, .y = 8, .kind = 0, .flags = 0, .weapon = 1}));
              }),
              "invalid entity record id=7 kind=0 weapon=1 x=1024 y=2048 flags=0");
    EXPECT_EQ(error_of([&] {
                  parse(record({.id = 4294967295u,
                                .x = 65535,
                                .y = 8191,
                                .kind = 255,
                                .flags = 200,
                                .weapon = 65535}));
              }),
              "invalid entity record id=4294967295 kind=255 weapon=65535 x=16776960 y=2096896 "
              "flags=200");
}

TEST(EntityRecord, BoostIsJudgedBeforeIdentity) {
    EXPECT_EQ(error_of([&] { parse(record({.kind = 0, .boost_value = 201})); }),
              "invalid player boost");
    EXPECT_EQ(error_of([&] { parse(record({.id = 0, .x = 9000, .boost = 5})); }),
              "invalid player boost");
}

TEST(EntityRecord, WriteRoundTrip) {
    const Bytes payload = record({.vz = 0});
    const ReplicatedEntity e = parse(payload);
    Writer out;
    write_entity(out, e);
    EXPECT_EQ(out.bytes, payload);

    // A marked entity carries the mark in flags bit 2 even when flags itself lacks it.
    ReplicatedEntity marked = e;
    marked.flags = 1;
    marked.tick_event = true;
    Writer again;
    write_entity(again, marked);
    EXPECT_EQ(parse(again.bytes).flags, 5);
}

TEST(EntityRecord, BeginsWithThePlayerState) {
    static_assert(std::is_base_of_v<Player, ReplicatedEntity>);
    const ReplicatedEntity e = parse(record());
    const Player& player = e;
    EXPECT_EQ(static_cast<const void*>(&player), static_cast<const void*>(&e));
    EXPECT_EQ(player.x, 0x1234 << 8);
    EXPECT_EQ(player.boost, 3);
}

} // namespace
} // namespace kestrel
