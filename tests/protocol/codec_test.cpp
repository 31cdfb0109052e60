#include "protocol/codec.h"

#include "tests/support/errors.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kestrel {
namespace {

using test::error_of;

Bytes framed(std::size_t payload_size, Type type = Type::SnapshotPart) {
    Writer payload;
    payload.bytes.assign(payload_size, 0xAB);
    return packet(type, 0x1122334455667788ull, 0xA1B2C3D4u, 0x01020304u, payload);
}

TEST(Packet, HeaderBytesAreLittleEndianAndUnpadded) {
    Writer payload;
    payload.u8(0xEE);
    const Bytes bytes =
        packet(Type::Welcome, 0x1122334455667788ull, 0xA1B2C3D4u, 0x01020304u, payload);
    const Bytes expected = {0x51, 0x56, 0x02, 0x02, 0x01, 0x00, 0x00, 0x00, 0x88,
                            0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0xD4, 0xC3,
                            0xB2, 0xA1, 0x04, 0x03, 0x02, 0x01, 0xEE};
    EXPECT_EQ(bytes, expected);
}

TEST(Packet, RoundTripsThroughReadHeader) {
    const Bytes bytes = framed(10, Type::ExpeditionState);
    Reader reader(bytes);
    const Header header = read_header(reader);
    EXPECT_EQ(header.type, Type::ExpeditionState);
    EXPECT_EQ(header.length, 10);
    EXPECT_EQ(header.session, 0x1122334455667788ull);
    EXPECT_EQ(header.sequence, 0xA1B2C3D4u);
    EXPECT_EQ(header.epoch, 0x01020304u);
    EXPECT_EQ(reader.position, 24u);
}

TEST(Packet, PayloadLimitIs976Bytes) {
    const Bytes largest = framed(976);
    EXPECT_EQ(largest.size(), 1000u);
    Reader reader(largest);
    EXPECT_EQ(read_header(reader).length, 976);
    EXPECT_EQ(error_of([] { framed(977); }), "oversized packet");
}

TEST(ReadHeader, EmptyPayloadIsValid) {
    const Bytes bytes = framed(0);
    ASSERT_EQ(bytes.size(), 24u);
    Reader reader(bytes);
    EXPECT_EQ(read_header(reader).length, 0);
    EXPECT_NO_THROW(reader.end());
}

TEST(ReadHeader, SizeIsCheckedBeforeMagic) {
    Bytes short_packet(23, 0);
    Reader too_short(short_packet);
    EXPECT_EQ(error_of([&] { read_header(too_short); }), "invalid header");
    EXPECT_EQ(too_short.position, 0u);

    Bytes long_packet = framed(976);
    long_packet.push_back(0);
    Reader too_long(long_packet);
    EXPECT_EQ(error_of([&] { read_header(too_long); }), "invalid header");
    EXPECT_EQ(too_long.position, 0u);
}

TEST(ReadHeader, MagicAndVersion) {
    for (int index : {0, 1, 2}) {
        Bytes bytes = framed(4);
        bytes[index] ^= 0x01;
        Reader reader(bytes);
        EXPECT_EQ(error_of([&] { read_header(reader); }), "invalid header") << index;
    }
}

TEST(ReadHeader, AnyTypeValuePasses) {
    for (int value : {0, 11, 19, 255}) {
        Bytes bytes = framed(0);
        bytes[3] = static_cast<std::uint8_t>(value);
        Reader reader(bytes);
        EXPECT_EQ(static_cast<int>(read_header(reader).type), value);
    }
}

TEST(ReadHeader, LengthOffByOneAndFlags) {
    for (int delta : {-1, +1}) {
        Bytes bytes = framed(8);
        bytes[4] = static_cast<std::uint8_t>(8 + delta);
        Reader reader(bytes);
        EXPECT_EQ(error_of([&] { read_header(reader); }), "invalid length/flags") << delta;
    }
    for (int index : {6, 7}) {
        Bytes bytes = framed(8);
        bytes[index] = 0x80;
        Reader reader(bytes);
        EXPECT_EQ(error_of([&] { read_header(reader); }), "invalid length/flags") << index;
    }
}

TEST(Reader, TruncationLeavesPositionAdvanced) {
    const Bytes bytes = {0x34, 0x12, 0x99};
    Reader reader(bytes);
    EXPECT_EQ(reader.u16(), 0x1234);
    EXPECT_EQ(error_of([&] { reader.u16(); }), "truncated packet");
    EXPECT_EQ(reader.position, 3u);
    EXPECT_EQ(error_of([&] { reader.u8(); }), "truncated packet");
    EXPECT_EQ(reader.position, 3u);
}

TEST(Reader, WideValuesAreLowHalfFirst) {
    Writer writer;
    writer.u64(0x0102030405060708ull);
    writer.u32(0xFFFFFFFEu);
    writer.u16(0x8001);
    Reader reader(writer.bytes);
    EXPECT_EQ(writer.bytes.front(), 0x08);
    EXPECT_EQ(reader.u64(), 0x0102030405060708ull);
    EXPECT_EQ(reader.i32(), -2);
    EXPECT_EQ(reader.i16(), -32767);
    EXPECT_NO_THROW(reader.end());
}

TEST(Reader, EndReportsTrailingBytes) {
    const Bytes bytes = {1, 2};
    Reader reader(bytes);
    reader.u8();
    EXPECT_EQ(error_of([&] { reader.end(); }), "trailing bytes");
}

std::string label(Bytes bytes, std::uint64_t width) {
    Reader reader(bytes);
    return fixed_text(reader, width);
}

TEST(FixedText, PaddingRules) {
    EXPECT_EQ(label({'A', 'B', 0, 0}, 4), "AB");
    EXPECT_EQ(label({0, 0, 0, 0}, 4), "");
    EXPECT_EQ(label({'Z', '9', '_', 'Q'}, 4), "Z9_Q");
    EXPECT_EQ(error_of([] { label({'A', 0, 'B', 0}, 4); }), "invalid label");
    EXPECT_EQ(error_of([] { label({'A', 'b', 0, 0}, 4); }), "invalid label");
    EXPECT_EQ(error_of([] { label({'A', '-', 0, 0}, 4); }), "invalid label");
    EXPECT_EQ(error_of([] { label({'A', 'B'}, 4); }), "truncated packet");
}

TEST(FixedText, ConsumesExactlyTheWidth) {
    const Bytes bytes = {'A', 0, 0, 'X'};
    Reader reader(bytes);
    EXPECT_EQ(fixed_text(reader, 3), "A");
    EXPECT_EQ(reader.position, 3u);
}

} // namespace
} // namespace kestrel
