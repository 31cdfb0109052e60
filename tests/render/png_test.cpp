#include "render/png.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "tests/render/png_reader.h"
#include "world/sector.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

struct Image {
    std::uint32_t width;
    std::uint32_t height;
    Bytes rgba;
};

// What a screenshot looks like to the compressor: flat bars, a noisy textured middle and a
// gradient, so literals, short matches and long runs all occur.
Image scene_like() {
    Image image{640, 360, Bytes(640 * 360 * 4)};
    std::mt19937 random(7);
    for (std::uint32_t y = 0; y < 360; ++y)
        for (std::uint32_t x = 0; x < 640; ++x) {
            std::uint8_t* p = &image.rgba[(y * 640 + x) * 4];
            if (y < 18 || y >= 326) {
                p[0] = 6, p[1] = 11, p[2] = 14;
            } else if (x < 320) {
                const auto n = static_cast<std::uint8_t>(random() & 15);
                p[0] = 126 + n, p[1] = 75 + n, p[2] = 51 + ((x / 4 + y) & 7);
            } else {
                p[0] = static_cast<std::uint8_t>(x), p[1] = static_cast<std::uint8_t>(y), p[2] = 90;
            }
            p[3] = 255;
        }
    return image;
}

Image noise(std::uint32_t width, std::uint32_t height, unsigned seed) {
    Image image{width, height, Bytes(std::size_t{width} * height * 4)};
    std::mt19937 random(seed);
    for (auto& byte : image.rgba) byte = static_cast<std::uint8_t>(random());
    return image;
}

Image solid(std::uint32_t width, std::uint32_t height) {
    Image image{width, height, Bytes(std::size_t{width} * height * 4)};
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        image.rgba[i] = 14, image.rgba[i + 1] = 19, image.rgba[i + 2] = 23, image.rgba[i + 3] = 255;
    }
    return image;
}

class Png : public ::testing::Test {
  protected:
    fs::path dir;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kestrel-png-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Saves the image, reads it back with the independent decoder and compares every pixel.
    void round_trip(const Image& image, const std::string& name) {
        const std::string path = (dir / name).string();
        save_png(path, image.width, image.height, image.rgba);
        const test::DecodedPng decoded = test::read_png(path);
        ASSERT_TRUE(decoded.ok) << name << ": " << decoded.output;
        EXPECT_EQ(decoded.width, image.width) << name;
        EXPECT_EQ(decoded.height, image.height) << name;
        EXPECT_TRUE(decoded.rgba == image.rgba) << name << ": pixels differ";
    }
};

TEST_F(Png, DecodesToTheSamePixelsWithAnIndependentReader) {
    round_trip(Image{1, 1, {1, 2, 3, 4}}, "one.png");
    round_trip(Image{3, 2, {0,   0,   0,   0,   255, 255, 255, 255, 1,  2,   3,  4,
                            250, 251, 252, 253, 9,   9,   9,   9,   10, 200, 30, 128}},
               "six.png");
    round_trip(scene_like(), "scene.png");
    // Incompressible bytes: literals only, with the 9-bit codes of bytes 144..255.
    round_trip(noise(257, 3, 1), "noise.png");
    // Far more than one 258-byte match and more than the 32 KiB window of identical bytes.
    round_trip(solid(300, 300), "solid.png");
    // The same noisy row repeated: matches reach back exactly one row, up to the window edge.
    Image rows = noise(2048, 1, 2);
    for (int i = 0; i < 5; ++i)
        rows.rgba.insert(rows.rgba.end(), rows.rgba.begin(), rows.rgba.begin() + 2048 * 4);
    rows.height = 6;
    round_trip(rows, "rows.png");
}

TEST_F(Png, FileLayoutSignatureHeaderAndEnd) {
    const Image image = noise(640, 360, 3);
    const Bytes png = encode_png(image.width, image.height, image.rgba);
    ASSERT_GT(png.size(), 8u + 25 + 12 + 12);
    const Bytes signature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8), signature);
    // IHDR first: length 13, then width 640 and height 360 big-endian, 8-bit RGBA, no
    // interlace, and its CRC over type and data.
    const Bytes ihdr{0,    0, 0, 13,   'I',  'H', 'D', 'R', 0, 0, 0x02,
                     0x80, 0, 0, 0x01, 0x68, 8,   6,   0,   0, 0};
    EXPECT_EQ(Bytes(png.begin() + 8, png.begin() + 29), ihdr);
    const std::uint32_t crc = crc32(std::span<const std::uint8_t>(png).subspan(12, 17));
    EXPECT_EQ(Bytes(png.begin() + 29, png.begin() + 33),
              (Bytes{static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
                     static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)}));
    // Then one IDAT starting with the zlib header, and the fixed 12 bytes of IEND.
    EXPECT_EQ(Bytes(png.begin() + 37, png.begin() + 43), (Bytes{'I', 'D', 'A', 'T', 0x78, 0x01}));
    const Bytes iend{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    EXPECT_EQ(Bytes(png.end() - 12, png.end()), iend);
    EXPECT_EQ(encode_png(image.width, image.height, image.rgba), png); // a pure function
}

TEST_F(Png, FlatAreasCompress) {
    const Image flat = solid(640, 360);
    EXPECT_LT(encode_png(640, 360, flat.rgba).size(), flat.rgba.size() / 100);
    const Image scene = scene_like();
    EXPECT_LT(encode_png(640, 360, scene.rgba).size(), scene.rgba.size() / 2);
}

TEST_F(Png, RejectsBadSizesAndUnwritablePaths) {
    const Bytes four(4);
    auto message = [](auto&& call) {
        try {
            call();
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { encode_png(0, 1, {}); }), "invalid png size");
    EXPECT_EQ(message([&] { encode_png(1, 0, {}); }), "invalid png size");
    EXPECT_EQ(message([&] { encode_png(0x80000000u, 1, four); }), "invalid png size");
    EXPECT_EQ(message([&] { encode_png(2, 1, four); }), "png pixel count mismatch");
    EXPECT_EQ(message([&] { encode_png(1, 1, Bytes(5)); }), "png pixel count mismatch");

    const std::string path = (dir / "missing" / "shot.png").string();
    EXPECT_EQ(message([&] { save_png(path, 1, 1, four); }), "cannot write png: " + path);
    EXPECT_FALSE(fs::exists(path));
    // A bad image is refused before any file is touched.
    const std::string untouched = (dir / "untouched.png").string();
    EXPECT_EQ(message([&] { save_png(untouched, 2, 2, four); }), "png pixel count mismatch");
    EXPECT_FALSE(fs::exists(untouched));
}

TEST_F(Png, SaveWritesExactlyTheEncodedBytes) {
    const Image image{1, 1, {10, 20, 30, 255}};
    const std::string path = (dir / "shot.png").string();
    { std::ofstream(path) << std::string(4096, 'x'); } // an older, longer file: replaced whole
    save_png(path, image.width, image.height, image.rgba);
    std::ifstream in(path, std::ios::binary);
    const Bytes written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(written, encode_png(image.width, image.height, image.rgba));
}

} // namespace
} // namespace kestrel
