#include "protocol/credentials.h"

#include "tests/support/errors.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kestrel {
namespace {

using test::error_of;

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

TEST(Credentials, ReadsTheFortyFiveByteLayout) {
    const Bytes payload = record();
    ASSERT_EQ(payload.size(), credentials_size);
    const Credentials credentials = parse(payload);
    for (std::uint8_t i = 0; i < 16; ++i) EXPECT_EQ(credentials.token[i], i);
    EXPECT_EQ(credentials.name, "PILOT_7");
    EXPECT_EQ(credentials.party, "CREW9");
    EXPECT_EQ(credentials.color, 3);
    EXPECT_EQ(credentials.write().bytes, payload);
}

TEST(Credentials, WriteReadRoundTrip) {
    Credentials original;
    original.token = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xfe, 0xff};
    original.name = "ABCDEFGHIJKLMNOP";
    original.party = "ZZZZZZZZZZZZ";
    original.color = 4;
    const Writer written = original.write();
    ASSERT_EQ(written.bytes.size(), credentials_size);
    EXPECT_EQ(parse(written.bytes), original);

    Credentials no_party;
    no_party.party = "";
    EXPECT_EQ(parse(no_party.write().bytes), no_party);
}

TEST(Credentials, RecordMustBeExactlyFortyFiveBytes) {
    Bytes short_record = record();
    short_record.pop_back();
    EXPECT_EQ(error_of([&] { parse(short_record); }), "truncated packet");
    short_record.resize(10);
    EXPECT_EQ(error_of([&] { parse(short_record); }), "truncated packet");
    Bytes long_record = record();
    long_record.push_back(0);
    EXPECT_EQ(error_of([&] { parse(long_record); }), "trailing bytes");
}

TEST(Credentials, NameOfSixteenCharactersHasNoTerminator) {
    EXPECT_EQ(parse(record("0123456789_ABCDE")).name, "0123456789_ABCDE");
    EXPECT_EQ(parse(record("A", "0123456789_Z")).party, "0123456789_Z");
}

TEST(Credentials, LabelsAreCheckedByFixedText) {
    EXPECT_EQ(error_of([&] { parse(record("Ranger")); }), "invalid label");
    EXPECT_EQ(error_of([&] { parse(record("RANGER", "crew")); }), "invalid label");
    EXPECT_EQ(error_of([&] { parse(record("RAN GER")); }), "invalid label");
    Bytes gap = record("AB");
    gap[16 + 3] = 'C'; // a character after the zero padding
    EXPECT_EQ(error_of([&] { parse(gap); }), "invalid label");
}

TEST(Credentials, EmptyNameAndColourFiveAreInvalidProfiles) {
    EXPECT_EQ(parse(record("A", "", 4)).color, 4);
    EXPECT_EQ(error_of([&] { parse(record("A", "", 5)); }), "invalid profile");
    EXPECT_EQ(error_of([&] { parse(record("", "CREW", 0)); }), "invalid profile");
    // The end of the record is checked before its values.
    Bytes long_empty = record("", "", 9);
    long_empty.push_back(0);
    EXPECT_EQ(error_of([&] { parse(long_empty); }), "trailing bytes");
}

TEST(Credentials, WriteFiltersAndPadsLabels) {
    Credentials credentials;
    credentials.name = "ranger-1";
    credentials.party = "a b-c_9";
    const Bytes bytes = credentials.write().bytes;
    const Bytes name(bytes.begin() + 16, bytes.begin() + 32);
    EXPECT_EQ(name, (Bytes{'R', 'A', 'N', 'G', 'E', 'R', '1', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const Bytes party(bytes.begin() + 32, bytes.begin() + 44);
    EXPECT_EQ(party, (Bytes{'A', 'B', 'C', '_', '9', 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Credentials, WriteCutsAfterTheKeptCharacters) {
    Credentials credentials;
    // Twenty valid characters with dropped ones in between: only kept ones count.
    credentials.name = "ab-cd efghijklmnopqrst";
    credentials.party = "-1-2-3-4-5-6-7-8-9-0-a-b-c-d";
    const Credentials back = parse(credentials.write().bytes);
    EXPECT_EQ(back.name, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(back.party, "1234567890AB");
    credentials.party = "abcdefghijklmnop";
    EXPECT_EQ(parse(credentials.write().bytes).party, "ABCDEFGHIJKL");
}

TEST(Credentials, EmptyNameIsWrittenButNotReadBack) {
    Credentials credentials;
    credentials.name = "---";
    const Bytes bytes = credentials.write().bytes;
    ASSERT_EQ(bytes.size(), credentials_size);
    EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 32), Bytes(16, 0));
    EXPECT_EQ(error_of([&] { parse(bytes); }), "invalid profile");
}

TEST(Credentials, KeyIsLowerCaseHexHighNibbleFirst) {
    Credentials credentials;
    for (std::uint8_t i = 0; i < 16; ++i) credentials.token[i] = i;
    EXPECT_EQ(credentials.key(), "000102030405060708090a0b0c0d0e0f");
    credentials.token = {0xf0, 0xab, 0x1c, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff};
    EXPECT_EQ(credentials.key(), "f0ab1c000000000000000000000000ff");
    EXPECT_EQ(Credentials{}.key(), std::string(32, '0'));
}

} // namespace
} // namespace kestrel
