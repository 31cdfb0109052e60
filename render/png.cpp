#include "render/png.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "world/sector.h"

namespace kestrel {
namespace {

// PNG file:
//
//   8 bytes  signature 89 50 4E 47 0D 0A 1A 0A
//   chunks   length u32 BE (data only), type (4 ASCII), data, CRC-32 u32 BE over type + data
//
//   IHDR (13 bytes): width u32 BE, height u32 BE, bit depth 8, colour type 6 (RGBA),
//                    compression 0, filter method 0, interlace 0
//   IDAT: one zlib stream of the filtered rows, each row = filter byte 0 (none) + 4 x width
//   IEND: empty
//
// zlib stream: CMF 0x78 (deflate, 32 KiB window), FLG 0x01 (check bits, no dictionary),
// the deflate data, Adler-32 of the uncompressed rows u32 BE.

void put_u32_be(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void put_chunk(Bytes& out, const char (&type)[5], std::span<const std::uint8_t> data) {
    put_u32_be(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t crc_from = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_u32_be(out, crc32(std::span<const std::uint8_t>(out).subspan(crc_from)));
}

std::uint32_t adler32(std::span<const std::uint8_t> bytes) {
    std::uint32_t a = 1, b = 0;
    // 5552 bytes is the most that can be summed before b could overflow 32 bits.
    for (std::size_t i = 0; i < bytes.size(); i += 5552) {
        const std::size_t end = std::min(bytes.size(), i + 5552);
        for (std::size_t k = i; k < end; ++k) {
            a += bytes[k];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

// Deflate bits go out least significant bit first; Huffman codes are defined most
// significant bit first, so they are reversed on the way in.
class BitWriter {
  public:
    explicit BitWriter(Bytes& out) : out_(out) {}

    void bits(std::uint32_t value, int count) {
        buffer_ |= value << filled_;
        filled_ += count;
        while (filled_ >= 8) {
            out_.push_back(static_cast<std::uint8_t>(buffer_));
            buffer_ >>= 8;
            filled_ -= 8;
        }
    }

    void code(std::uint32_t value, int length) {
        std::uint32_t reversed = 0;
        for (int i = 0; i < length; ++i) reversed |= ((value >> i) & 1) << (length - 1 - i);
        bits(reversed, length);
    }

    void flush() {
        if (filled_ > 0) out_.push_back(static_cast<std::uint8_t>(buffer_));
        buffer_ = 0;
        filled_ = 0;
    }

  private:
    Bytes& out_;
    std::uint32_t buffer_ = 0;
    int filled_ = 0;
};

// The fixed literal/length code of deflate (RFC 1951, 3.2.6).
void symbol(BitWriter& w, int s) {
    if (s < 144)
        w.code(0x30 + s, 8);
    else if (s < 256)
        w.code(0x190 + (s - 144), 9);
    else if (s < 280)
        w.code(s - 256, 7);
    else
        w.code(0xC0 + (s - 280), 8);
}

constexpr std::array<int, 29> length_base{3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                          15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                          67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> length_extra{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> distance_base{
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> distance_extra{0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void match(BitWriter& w, int length, int distance) {
    int i = static_cast<int>(length_base.size()) - 1;
    while (length_base[i] > length) --i;
    symbol(w, 257 + i);
    w.bits(static_cast<std::uint32_t>(length - length_base[i]), length_extra[i]);
    int d = static_cast<int>(distance_base.size()) - 1;
    while (distance_base[d] > distance) --d;
    w.code(static_cast<std::uint32_t>(d), 5); // fixed distance codes are 5 bits
    w.bits(static_cast<std::uint32_t>(distance - distance_base[d]), distance_extra[d]);
}

// One final fixed-Huffman block with greedy LZ77: a hash of the next three bytes leads to
// earlier positions with the same start, of which a few of the nearest are tried.
void deflate(Bytes& out, std::span<const std::uint8_t> data) {
    constexpr std::size_t window = 32768;
    constexpr int max_length = 258;
    constexpr int max_chain = 32;
    constexpr std::size_t hash_size = 1 << 15;

    std::vector<std::int64_t> head(hash_size, -1);
    std::vector<std::int64_t> previous(window, -1);
    const std::size_t n = data.size();
    auto hash = [&](std::size_t p) {
        return ((data[p] << 10) ^ (data[p + 1] << 5) ^ data[p + 2]) & (hash_size - 1);
    };
    auto insert = [&](std::size_t p) {
        if (p + 3 > n) return;
        const std::size_t h = hash(p);
        previous[p % window] = head[h];
        head[h] = static_cast<std::int64_t>(p);
    };

    BitWriter w(out);
    w.bits(1, 1); // BFINAL: this is the only block
    w.bits(1, 2); // BTYPE 01: fixed Huffman codes
    std::size_t pos = 0;
    while (pos < n) {
        int best_length = 0;
        std::size_t best_distance = 0;
        if (pos + 3 <= n) {
            const int longest = static_cast<int>(std::min<std::size_t>(max_length, n - pos));
            std::int64_t candidate = head[hash(pos)];
            // A slot of `previous` is reused every `window` positions, so the walk stops at
            // the window's edge, before it could follow a reused slot.
            for (int chain = 0; candidate >= 0 && chain < max_chain &&
                                pos - static_cast<std::size_t>(candidate) <= window;
                 ++chain) {
                const std::size_t c = static_cast<std::size_t>(candidate);
                int length = 0;
                while (length < longest && data[c + length] == data[pos + length]) ++length;
                if (length > best_length) {
                    best_length = length;
                    best_distance = pos - c;
                    if (length == longest) break;
                }
                candidate = previous[c % window];
            }
        }
        if (best_length >= 3) {
            match(w, best_length, static_cast<int>(best_distance));
            for (int k = 0; k < best_length; ++k) insert(pos + k);
            pos += static_cast<std::size_t>(best_length);
        } else {
            symbol(w, data[pos]);
            insert(pos);
            ++pos;
        }
    }
    symbol(w, 256); // end of block
    w.flush();
}

} // namespace

Bytes encode_png(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgba) {
    constexpr std::uint32_t max_dimension = 0x7FFFFFFF;
    if (width == 0 || height == 0 || width > max_dimension || height > max_dimension)
        throw std::runtime_error("invalid png size");
    const std::uint64_t row_bytes = std::uint64_t{width} * 4;
    if (rgba.size() != row_bytes * height) throw std::runtime_error("png pixel count mismatch");

    Bytes rows;
    rows.reserve(static_cast<std::size_t>((row_bytes + 1) * height));
    for (std::uint32_t y = 0; y < height; ++y) {
        rows.push_back(0); // filter: none
        const auto row = rgba.subspan(static_cast<std::size_t>(row_bytes * y), row_bytes);
        rows.insert(rows.end(), row.begin(), row.end());
    }

    Bytes z{0x78, 0x01};
    deflate(z, rows);
    put_u32_be(z, adler32(rows));

    Bytes header;
    put_u32_be(header, width);
    put_u32_be(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});

    Bytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", z);
    put_chunk(png, "IEND", {});
    return png;
}

void save_png(const std::string& path, std::uint32_t width, std::uint32_t height,
              std::span<const std::uint8_t> rgba) {
    const Bytes png = encode_png(width, height, rgba);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) {
        file.write(reinterpret_cast<const char*>(png.data()),
                   static_cast<std::streamsize>(png.size()));
        file.close();
        if (file) return;
        std::remove(path.c_str()); // no half-written screenshot left behind
    }
    throw std::runtime_error("cannot write png: " + path);
}

} // namespace kestrel
