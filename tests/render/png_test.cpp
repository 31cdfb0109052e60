#include "render/png.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/render/png_reader.h"
#include "tests/support/errors.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

struct Image {
    std::uint32_t width, height;
    Bytes rgba;
};

// kind 0: what a screenshot looks like to the compressor (flat bars, a noisy textured half
// and a gradient: literals, short matches and long runs); 1: flat; else noise seeded by kind.
Image image(std::uint32_t width, std::uint32_t height, unsigned kind) {
    Image image{width, height, Bytes(std::size_t{width} * height * 4)};
    std::mt19937 random(kind);
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        const auto x = std::uint32_t(i / 4 % width), y = std::uint32_t(i / 4 / width);
        const auto n = std::uint8_t(random() & 15);
        const auto r = [&] { return std::uint8_t(random()); };
        const bool flat = kind == 1 || y < 18 || y >= 326;
        const Bytes p = kind > 1  ? Bytes{r(), r(), r(), r()}
                        : flat    ? Bytes{14, 19, 23, 255}
                        : x < 320 ? Bytes{std::uint8_t(126 + n), std::uint8_t(75 + n),
                                          std::uint8_t(51 + ((x / 4 + y) & 7)), 255}
                                  : Bytes{std::uint8_t(x), std::uint8_t(y), 90, 255};
        std::copy(p.begin(), p.end(), image.rgba.begin() + std::ptrdiff_t(i));
    }
    return image;
}

struct Png : ::testing::Test {
    std::string pattern = (fs::temp_directory_path() / "kestrel-png-XXXXXX").string();
    fs::path dir = mkdtemp(pattern.data());
    ~Png() override { fs::remove_all(dir); }
};

TEST_F(Png, DecodesToTheSamePixelsWithAnIndependentReader) {
    // Far more than one 258-byte match and than the 32 KiB window of identical bytes; only
    // literals, with the 9-bit codes of bytes 144..255; then the same noisy row repeated, so
    // matches reach back exactly one row, up to the window's edge.
    Image rows = image(2048, 1, 2);
    for (int i = 0; i < 5; ++i)
        rows.rgba.insert(rows.rgba.end(), rows.rgba.begin(), rows.rgba.begin() + 2048 * 4);
    rows.height = 6;
    const std::string path = (dir / "shot.png").string();
    { std::ofstream(path) << std::string(4096, 'x'); } // an older, longer file: replaced whole
    for (const Image& original :
         {Image{1, 1, {1, 2, 3, 4}},
          Image{3, 2, {0,   0,   0,   0,   255, 255, 255, 255, 1,  2,   3,  4,
                       250, 251, 252, 253, 9,   9,   9,   9,   10, 200, 30, 128}},
          image(640, 360, 0), image(257, 3, 5), image(300, 300, 1), rows}) {
        save_png(path, original.width, original.height, original.rgba);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
                  encode_png(original.width, original.height, original.rgba));
        const test::DecodedPng decoded = test::read_png(path);
        EXPECT_TRUE(decoded.ok && decoded.width == original.width &&
                    decoded.height == original.height && decoded.rgba == original.rgba)
            << original.width << ": " << decoded.output;
    }
    EXPECT_LT(encode_png(300, 300, image(300, 300, 1).rgba).size(), 300 * 300 * 4 / 100);
    EXPECT_LT(encode_png(640, 360, image(640, 360, 0).rgba).size(), 640 * 360 * 4 / 2);
}

TEST_F(Png, FileLayoutSignatureHeaderAndEnd) {
    const Image noise = image(640, 360, 3);
    const Bytes png = encode_png(noise.width, noise.height, noise.rgba);
    ASSERT_GT(png.size(), 8u + 25 + 12 + 12);
    // Signature; IHDR of length 13: 640 and 360 big-endian, 8-bit RGBA, no interlace.
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 29),
              (Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0,    0, 0, 13, 'I', 'H', 'D',
                     'R',  0,   0,   2,   0x80, 0,    0,    1,    0x68, 8, 6, 0,  0,   0}));
    // After its CRC one IDAT starting with the zlib header (the reader checks CRCs and IEND).
    EXPECT_EQ(Bytes(png.begin() + 37, png.begin() + 43), (Bytes{'I', 'D', 'A', 'T', 0x78, 0x01}));
}

TEST_F(Png, RejectsBadSizesBeforeTouchingAFile) {
    const Bytes four(4);
    // clang-format off
    for (const auto& [width, height, bytes, message] :
         {std::tuple{0u, 1u, 0, "invalid png size"}, {1u, 0u, 0, "invalid png size"},
          {0x80000000u, 1u, 4, "invalid png size"}, {2u, 1u, 4, "png pixel count mismatch"},
          {1u, 1u, 5, "png pixel count mismatch"}})
        // clang-format on
        EXPECT_EQ(test::error_of([&] { encode_png(width, height, Bytes(bytes)); }), message);
    for (const auto& [name, width, message] :
         {std::tuple{"missing/shot.png", 1u, "cannot write png: "},
          {"untouched.png", 2u, "png pixel count mismatch"}}) {
        const std::string path = (dir / name).string();
        EXPECT_EQ(test::error_of([&] { save_png(path, width, 2 - width % 2, four); }),
                  message + (width == 1 ? path : ""));
        EXPECT_FALSE(fs::exists(path));
    }
}

} // namespace
} // namespace kestrel
