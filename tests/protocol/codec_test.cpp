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
    for (std::size_t size : {0u, 10u, 976u}) {
        const Bytes bytes = framed(size, Type::ExpeditionState);
        ASSERT_EQ(bytes.size(), 24 + size);
        Reader reader(bytes);
        const Header h = read_header(reader);
        EXPECT_EQ(h.type, Type::ExpeditionState);
        EXPECT_EQ(h.length, size);
        EXPECT_EQ(h.session, 0x1122334455667788ull);
        EXPECT_EQ(h.sequence, 0xA1B2C3D4u);
        EXPECT_EQ(h.epoch, 0x01020304u);
        EXPECT_EQ(reader.position, 24u);
    }
    EXPECT_EQ(error_of([] { framed(977); }), "oversized packet");
    for (int value : {0, 11, 19, 255}) { // the type is not judged here
        Bytes bytes = framed(0);
        bytes[3] = static_cast<std::uint8_t>(value);
        Reader reader(bytes);
        EXPECT_EQ(static_cast<int>(read_header(reader).type), value);
    }
}

TEST(ReadHeader, Refusals) {
    Bytes too_long = framed(976);
    too_long.push_back(0);
    const std::pair<Bytes, const char*> cases[] = {
        {Bytes(23, 0), "invalid header"}, // size is checked before the magic
        {too_long, "invalid header"},
        {with(framed(4), {{0, 1, 0x50}}), "invalid header"},
        {with(framed(4), {{1, 1, 0x57}}), "invalid header"},
        {with(framed(4), {{2, 1, 0x03}}), "invalid header"}, // version
        {with(framed(8), {{4, 1, 7}}), "invalid length/flags"},
        {with(framed(8), {{4, 1, 9}}), "invalid length/flags"},
        {with(framed(8), {{6, 1, 0x80}}), "invalid length/flags"},
        {with(framed(8), {{7, 1, 0x80}}), "invalid length/flags"}};
    for (const auto& [bytes, message] : cases) {
        Reader reader(bytes);
        EXPECT_EQ(error_of([&] { read_header(reader); }), message) << bytes.size();
        if (bytes.size() != 28 && bytes.size() != 32) {
            EXPECT_EQ(reader.position, 0u); // the size is judged before anything is read
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
    EXPECT_EQ(wide.u64(), 0x0102030405060708ull);
    EXPECT_EQ(wide.i32(), -2);
    EXPECT_EQ(wide.i16(), -32767);
    EXPECT_NO_THROW(wide.end());

    const Bytes bytes = {0x34, 0x12, 0x99};
    Reader reader(bytes);
    EXPECT_EQ(reader.u16(), 0x1234);
    EXPECT_EQ(error_of([&] { reader.end(); }), "trailing bytes");
    EXPECT_EQ(error_of([&] { reader.u16(); }), "truncated packet");
    EXPECT_EQ(reader.position, 3u); // a failed read still moves to the end
    EXPECT_EQ(error_of([&] { reader.u8(); }), "truncated packet");
    EXPECT_EQ(reader.position, 3u);
}

TEST(FixedText, PaddingRulesAndWidth) {
    const std::pair<Bytes, const char*> cases[] = {{{'A', 'B', 0, 0}, "AB"},
                                                   {{0, 0, 0, 0}, ""},
                                                   {{'Z', '9', '_', 'Q'}, "Z9_Q"},
                                                   {{'A', 0, 'B', 0}, "invalid label"},
                                                   {{'A', 'b', 0, 0}, "invalid label"},
                                                   {{'A', '-', 0, 0}, "invalid label"},
                                                   {{'A', 'B'}, "truncated packet"}};
    for (const auto& [bytes, expected] : cases) {
        Reader reader(bytes);
        std::string text;
        const std::string error = error_of([&] { text = fixed_text(reader, 4); });
        EXPECT_EQ(error == "no error" ? text : error, expected);
    }
    const Bytes bytes = {'A', 0, 0, 'X'};
    Reader reader(bytes);
    EXPECT_EQ(fixed_text(reader, 3), "A");
    EXPECT_EQ(reader.position, 3u);
}

TEST(FilterLabel, UpperCasesKeepsLettersDigitsUnderscoreUpToTheMaximum) {
    const std::tuple<const char*, std::size_t, const char*> cases[] = {
        {"ab-c_d!", max_name_length, "ABC_D"},
        {"Zed 42", max_name_length, "ZED42"},
        {"@[`{/:\xC3\xA9-9", max_name_length, "9"}, // neighbours of the ranges, UTF-8 dropped
        {"azAZ09_", max_name_length, "AZAZ09_"},
        {"****", max_party_length, ""},
        {"", max_name_length, ""},
        {"abcdefghijklmnopqrst", max_name_length, "ABCDEFGHIJKLMNOP"},
        {"-a-b-c-d-e-f-g-h-i-j-k-l-m-n", max_party_length, "ABCDEFGHIJKL"}, // only kept count
        {"abcdefghijkl", max_party_length, "ABCDEFGHIJKL"},
        {"abc", 0, ""}};
    for (const auto& [text, max, expected] : cases) EXPECT_EQ(filter_label(text, max), expected);
}

void label(Writer& out, std::string_view text, std::size_t width) {
    for (char c : text) out.u8(static_cast<std::uint8_t>(c));
    for (std::size_t i = text.size(); i < width; ++i) out.u8(0);
}

// A Profile payload laid out by hand: token 00..0f, name, party, colour.
Bytes record(std::string_view name = "PILOT_7", std::string_view party = "CREW9",
             std::uint8_t color = 3) {
    Writer out;
    for (std::uint8_t i = 0; i < 16; ++i) out.u8(i);
    label(out, name, 16);
    label(out, party, 12);
    out.u8(color);
    return out.bytes;
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

TEST(Credentials, LayoutAndRoundTrip) {
    const Bytes payload = record();
    ASSERT_EQ(payload.size(), credentials_size);
    const Credentials c = parse(payload);
    for (std::uint8_t i = 0; i < 16; ++i) EXPECT_EQ(c.token[i], i);
    EXPECT_EQ(std::tuple(c.name, c.party, c.color), std::tuple("PILOT_7", "CREW9", 3));
    EXPECT_EQ(c.write().bytes, payload);

    Credentials full;
    full.token = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xfe, 0xff};
    full.name = "0123456789_ABCDE"; // full widths carry no terminator
    full.party = "0123456789_Z";
    full.color = 4;
    EXPECT_EQ(parse(full.write().bytes), full);
    full.party = "";
    EXPECT_EQ(parse(full.write().bytes), full);
}

TEST(Credentials, Refusals) {
    Bytes gap = record("AB");
    gap[16 + 3] = 'C'; // a character after the zero padding
    Bytes long_empty = record("", "", 9);
    long_empty.push_back(0); // the end of the record is checked before its values
    const Bytes whole = record();
    const std::pair<Bytes, const char*> cases[] = {
        {Bytes(whole.begin(), whole.end() - 1), "truncated packet"},
        {Bytes(whole.begin(), whole.begin() + 10), "truncated packet"},
        {long_empty, "trailing bytes"},
        {record("Ranger"), "invalid label"},
        {record("RANGER", "crew"), "invalid label"},
        {record("RAN GER"), "invalid label"},
        {gap, "invalid label"},
        {record("A", "", 5), "invalid profile"},
        {record("", "CREW", 0), "invalid profile"},
        {record("A", "", 4), "no error"}};
    for (const auto& [bytes, message] : cases) EXPECT_EQ(error_of([&] { parse(bytes); }), message);
}

TEST(Credentials, WriteFiltersCutsAndPadsLabels) {
    Credentials c;
    c.name = "ranger-1";
    c.party = "a b-c_9";
    Bytes bytes = c.write().bytes;
    EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.end()),
              (Bytes{'R', 'A', 'N', 'G', 'E', 'R', '1', 0, 0, 0, 0, 0, 0, 0, 0,
                     0,   'A', 'B', 'C', '_', '9', 0,   0, 0, 0, 0, 0, 0, 0}));
    c.name = "ab-cd efghijklmnopqrst"; // only kept characters count towards the width
    c.party = "-1-2-3-4-5-6-7-8-9-0-a-b-c-d";
    EXPECT_EQ(parse(c.write().bytes).name, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(parse(c.write().bytes).party, "1234567890AB");
    c.party = "abcdefghijklmnop";
    EXPECT_EQ(parse(c.write().bytes).party, "ABCDEFGHIJKL");
    c.name = "---"; // written empty, then refused on reading
    bytes = c.write().bytes;
    ASSERT_EQ(bytes.size(), credentials_size);
    EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 32), Bytes(16, 0));
    EXPECT_EQ(error_of([&] { parse(bytes); }), "invalid profile");
}

TEST(Credentials, KeyIsLowerCaseHexHighNibbleFirst) {
    Credentials c;
    EXPECT_EQ(c.key(), std::string(32, '0'));
    for (std::uint8_t i = 0; i < 16; ++i) c.token[i] = i;
    EXPECT_EQ(c.key(), "000102030405060708090a0b0c0d0e0f");
    c.token = {0xf0, 0xab, 0x1c, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff};
    EXPECT_EQ(c.key(), "f0ab1c000000000000000000000000ff");
}

} // namespace
} // namespace kestrel
