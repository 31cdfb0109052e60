#include "protocol/codec.h"
#include "protocol/credentials.h"
#include "protocol/label.h"

#include "tests/support/errors.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using test::error_of;
using test::with;

Bytes framed(std::size_t payload_size, Type type = Type::SnapshotPart) {
    Writer payload;
    payload.bytes.assign(payload_size, 0xAB);
    return packet(type, 0x1122334455667788ull, 0xA1B2C3D4u, 0x01020304u, payload);
}

TEST(Packet, HeaderLayoutRoundTripAndSizeLimits) {
    Writer one;
    one.u8(0xEE);
    EXPECT_EQ(packet(Type::Welcome, 0x1122334455667788ull, 0xA1B2C3D4u, 0x01020304u, one),
              (Bytes{0x51, 0x56, 0x02, 0x02, 0x01, 0x00, 0x00, 0x00, 0x88, 0x77, 0x66, 0x55, 0x44,
                     0x33, 0x22, 0x11, 0xD4, 0xC3, 0xB2, 0xA1, 0x04, 0x03, 0x02, 0x01, 0xEE}));
    EXPECT_EQ(error_of([] { framed(977); }), "oversized packet");
    // Any type byte reads back: the type is judged by the router, not here.
    for (auto [size, type] : {std::pair{0u, 0}, {10u, 11}, {976u, 19}, {3u, 255}}) {
        const Bytes bytes = framed(size, static_cast<Type>(type));
        ASSERT_EQ(bytes.size(), 24 + size);
        Reader reader(bytes);
        const Header h = read_header(reader);
        EXPECT_EQ(std::tuple(static_cast<int>(h.type), h.length, h.session, h.sequence, h.epoch,
                             reader.position),
                  std::tuple(type, size, 0x1122334455667788ull, 0xA1B2C3D4u, 0x01020304u, 24u));
    }
}

TEST(ReadHeader, Refusals) {
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
        // The size is judged before anything is read.
        if (bytes.size() != 28 && bytes.size() != 32) {
            EXPECT_EQ(reader.position, 0u);
        }
    }
}

TEST(Reader, LittleEndianTruncationAndEnd) {
    Writer writer;
    writer.u64(0x0102030405060708ull);
    writer.u32(0xFFFFFFFEu);
    writer.u16(0x8001);
    EXPECT_EQ(writer.bytes.front(), 0x08);
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

TEST(FilterLabel, UpperCasesKeepsLettersDigitsUnderscoreUpToTheMaximum) {
    const std::size_t name = max_name_length, party = max_party_length;
    // Neighbours of the ranges and UTF-8 are dropped; only kept characters count.
    // clang-format off
    const std::tuple<const char*, std::size_t, const char*> cases[] = {
        {"ab-c_d!", name, "ABC_D"}, {"Zed 42", name, "ZED42"}, {"@[`{/:\xC3\xA9-9", name, "9"},
        {"azAZ09_", name, "AZAZ09_"}, {"****", party, ""}, {"", name, ""}, {"abc", 0, ""},
        {"abcdefghijklmnopqrst", name, "ABCDEFGHIJKLMNOP"}, {"abcdefghijkl", party, "ABCDEFGHIJKL"},
        {"-a-b-c-d-e-f-g-h-i-j-k-l-m-n", party, "ABCDEFGHIJKL"}};
    // clang-format on
    for (const auto& [text, max, expected] : cases) EXPECT_EQ(filter_label(text, max), expected);
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

// Decodes the record the way the server receives it: framed as a Profile packet.
Credentials parse(const Bytes& payload) {
    Writer body;
    body.bytes = payload;
    const Bytes bytes = packet(Type::Profile, 9, 1, 1, body);
    Reader reader(bytes);
    read_header(reader);
    return Credentials::read(reader);
}

TEST(Credentials, LayoutRoundTripAndRefusals) {
    const Bytes whole = record();
    ASSERT_EQ(whole.size(), credentials_size);
    EXPECT_EQ(parse(whole), (Credentials{counting, "PILOT_7", "CREW9", 3}));
    EXPECT_EQ(parse(whole).write().bytes, whole);
    // Full widths carry no terminator.
    Credentials full{
        {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xfe, 0xff}, "", "", 4};
    std::tie(full.name, full.party) = std::tuple("0123456789_ABCDE", "0123456789_Z");
    EXPECT_EQ(parse(full.write().bytes), full);
    full.party = "";
    EXPECT_EQ(parse(full.write().bytes), full);

    Bytes gap = record("AB");
    gap[16 + 3] = 'C'; // a character after the zero padding
    Bytes long_empty = record("", "", 9);
    long_empty.push_back(0); // the end of the record is checked before its values
    const char *label = "invalid label", *profile = "invalid profile", *cut = "truncated packet";
    // clang-format off
    const std::pair<Bytes, const char*> cases[] = {
        {Bytes(whole.begin(), whole.end() - 1), cut}, {Bytes(whole.begin(), whole.begin() + 10), cut},
        {long_empty, "trailing bytes"}, {record("Ranger"), label}, {record("RANGER", "crew"), label},
        {record("RAN GER"), label}, {gap, label}, {record("A", "", 5), profile},
        {record("", "CREW", 0), profile}, {record("A", "", 4), "no error"}};
    // clang-format on
    for (const auto& [bytes, message] : cases) EXPECT_EQ(error_of([&] { parse(bytes); }), message);
}

TEST(Credentials, WriteFiltersCutsAndPadsLabels) {
    Credentials c{counting, "ranger-1", "a b-c_9", 0};
    EXPECT_EQ(c.write().bytes, record("RANGER1", "ABC_9", 0));
    // Only kept characters count towards the width.
    std::tie(c.name, c.party) =
        std::tuple("ab-cd efghijklmnopqrst", "-1-2-3-4-5-6-7-8-9-0-a-b-c-d");
    EXPECT_EQ(parse(c.write().bytes),
              (Credentials{counting, "ABCDEFGHIJKLMNOP", "1234567890AB", 0}));
    c.name = "---"; // written empty, then refused on reading
    EXPECT_EQ(c.write().bytes, record("", "1234567890AB", 0));
    EXPECT_EQ(error_of([&] { parse(c.write().bytes); }), "invalid profile");
}

TEST(Credentials, KeyIsLowerCaseHexHighNibbleFirst) {
    Credentials c;
    EXPECT_EQ(c.key(), std::string(32, '0'));
    c.token = counting;
    EXPECT_EQ(c.key(), "000102030405060708090a0b0c0d0e0f");
    c.token = {0xf0, 0xab, 0x1c, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff};
    EXPECT_EQ(c.key(), "f0ab1c000000000000000000000000ff");
}

} // namespace
} // namespace kestrel
