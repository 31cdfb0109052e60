// The renderer on a real GPU device (Xvfb + lavapipe in the suite, where KESTREL_REQUIRE_GPU
// makes a missing device a failure), its frames and the PNG encoder checked by decoding with
// tests/render/check_png.py, written apart from the encoder (Python's zlib inflates).
#include "render/renderer.h"

#include <SDL3/SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "render/frame.h"
#include "render/overlay.h"
#include "render/png.h"
#include "tests/support/errors.h"
#include "tests/support/png_reader.h"
#include "world/generate.h"

// Frames and sectors are written with designated initialisers, the rest left default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrel {
namespace {
// clang-format off

namespace fs = std::filesystem;
using Rgb = std::array<int, 3>;

using test::Png;
using test::read_png;

struct TempDir : ::testing::Test {
    std::string pattern = (fs::temp_directory_path() / "kestrel-render-XXXXXX").string();
    fs::path dir = mkdtemp(pattern.data());
    ~TempDir() override { fs::remove_all(dir); }
};
using PngTest = TempDir;

// kind 0: what a screenshot looks like to the compressor (flat bars, a noisy textured half
// and a gradient: literals, short matches and long runs); 1: flat; else noise seeded by kind.
struct Image { std::uint32_t width, height; Bytes rgba; };
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

TEST_F(PngTest, DecodesToTheSamePixelsWithAnIndependentReader) {
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
          Image{3, 2, {0, 0, 0, 0, 255, 255, 255, 255, 1, 2, 3, 4, 250, 251, 252, 253, 9, 9, 9, 9,
                       10, 200, 30, 128}},
          image(640, 360, 0), image(257, 3, 5), image(300, 300, 1), rows}) {
        save_png(path, original.width, original.height, original.rgba);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
                  encode_png(original.width, original.height, original.rgba));
        const Png decoded = read_png(path);
        EXPECT_EQ(decoded.output,
                  std::to_string(original.width) + "x" + std::to_string(original.height) + "\n");
        EXPECT_TRUE(decoded.rgba == original.rgba) << original.width;
    }
    EXPECT_LT(encode_png(300, 300, image(300, 300, 1).rgba).size(), 300 * 300 * 4 / 100);
    EXPECT_LT(encode_png(640, 360, image(640, 360, 0).rgba).size(), 640 * 360 * 4 / 2);
}

TEST_F(PngTest, FileLayoutAndBadSizesRejectedBeforeTouchingAFile) {
    const Bytes png = encode_png(640, 360, image(640, 360, 3).rgba);
    // Signature; IHDR of length 13: 640 and 360 big-endian, 8-bit RGBA, no interlace; after
    // its CRC one IDAT starting with the zlib header (the reader checks CRCs and IEND).
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 29),
              (Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                     0, 0, 2, 0x80, 0, 0, 1, 0x68, 8, 6, 0, 0, 0}));
    EXPECT_EQ(Bytes(png.begin() + 37, png.begin() + 43), (Bytes{'I', 'D', 'A', 'T', 0x78, 0x01}));
    for (const auto& [width, height, bytes, message] :
         {std::tuple{0u, 1u, 0, "invalid png size"}, {1u, 0u, 0, "invalid png size"},
          {0x80000000u, 1u, 4, "invalid png size"}, {2u, 1u, 4, "png pixel count mismatch"},
          {1u, 1u, 5, "png pixel count mismatch"}})
        EXPECT_EQ(test::error_of([&] { encode_png(width, height, Bytes(bytes)); }), message);
    for (const auto& [name, width, message] :
         {std::tuple{"missing/shot.png", 1u, "cannot write png: "},
          {"untouched.png", 2u, "png pixel count mismatch"}}) {
        const std::string path = (dir / name).string();
        EXPECT_EQ(test::error_of([&] { save_png(path, width, 2 - width % 2, Bytes(4)); }),
                  message + (width == 1 ? path : ""));
        EXPECT_FALSE(fs::exists(path));
    }
}

constexpr Rgb clear_colour{14, 19, 23}, ground{179, 204, 230}, roof{166, 179, 204},
    grey{204, 204, 204}, white{255, 255, 255}, visor{61, 192, 198}, orange{242, 140, 64};

// Flat-white surfaces showing their vertex colour: walkable columns 10..east-1 of rows 10..13,
// brick rock north of it. From inside, east and west faces are grey, north and south white.
Sector room(std::uint64_t id, std::uint32_t revision, int east = 14) {
        Sector s{.id = id, .seed = 3, .revision = revision,
             .tiles = {{0, 2, 3, Tile::blocks_walk, 0, 8, 160}, {0, 0, 0, 0, 0, 8, 255},
                       {1, 2, 3, Tile::blocks_walk, 0, 8, 160}}};
        for (int x = 10; x < east; ++x) {
        s.cells[9 * 32 + x] = 2;
        for (int y = 10; y < 14; ++y) s.cells[y * 32 + x] = 1;
    }
    return s;
}
// The creature sprite (layer 4), 0.55 x 0.8, tinted white.
DrawEntity creature(float x) {
    return {.x = x, .y = 12, .health = 100, .type = 9, .kind = 6};
}
Frame looking_east(const Sector& sector) {
    return {.sector = &sector, .camera = {10.5f, 12.0f}};
}

// The copy made by AnnouncesItsBackend...: exits 0 when creating the renderer fails.
[[maybe_unused]] const bool shaderless_copy = [] {
    if (!std::getenv("KESTREL_SHADERLESS_COPY")) return false;
    if (!SDL_Init(SDL_INIT_VIDEO)) std::exit(2);
    const std::string error = test::error_of([] { Renderer renderer(true); });
    std::cout << error << "\n" << std::flush;
    SDL_Quit();
    std::exit(error == "no error");
}();

class RendererTest : public TempDir {
  protected:
    static void SetUpTestSuite() {
        // Pinned, lavapipe's caches stay reachable until exit for the leak check.
        dlopen("libvulkan_lvp.so", RTLD_NOW | RTLD_NODELETE);
        if (!SDL_Init(SDL_INIT_VIDEO)) return void(unavailable = SDL_GetError());
        testing::internal::CaptureStdout();
        unavailable = test::error_of([] { renderer = new Renderer(true); });
        banner = testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite() {
        delete renderer;
        SDL_Quit();
    }
    void SetUp() override {
        if (!renderer && std::getenv("KESTREL_REQUIRE_GPU")) FAIL() << unavailable;
        if (!renderer) GTEST_SKIP() << unavailable;
    }
    Png shot(const Frame& frame) {
        renderer->draw(frame);
        const std::string path = (dir / ("shot" + std::to_string(++shots) + ".png")).string();
        renderer->capture(path);
        Png png = read_png(path);
        EXPECT_EQ(png.output, "640x360\n");
        return png;
    }
    static inline Renderer* renderer = nullptr;
    static inline std::string unavailable, banner;
    int shots = 0;
};

// Whether pixel (x, y) is opaque and within `tolerance` of `want` in every channel.
bool near(const Png& png, int x, int y, Rgb want, int tolerance = 1) {
    const std::uint32_t p = png.pixel(x, y);
    for (int i = 0; i < 3; ++i)
        if (std::abs(int(p >> (24 - 8 * i) & 255) - want[i]) > tolerance) return false;
    return (p & 255) == 255;
}
void expect_pixels(const Png& png, std::initializer_list<std::tuple<int, int, Rgb>> probes) {
    for (const auto& [x, y, want] : probes) EXPECT_TRUE(near(png, x, y, want)) << x << ", " << y;
}
// Pixels of the box [x0, x1) x [y0, y1) that are not `want` (a colour or another image).
int differing(const Png& png, auto want, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if constexpr (std::is_same_v<decltype(want), Rgb>) n += !near(png, x, y, want, 0);
            else n += png.pixel(x, y) != want.pixel(x, y);
    return n;
}

// Eye height 0.65, focal length 1/tan 30deg: the east wall 3.5 tiles ahead spans rows 148.8
// to 237.9 and columns 142.2 to 497.8; facing south the south face is as far.
TEST_F(RendererTest, ProjectsTheRoomFromTheCamera) {
    const Sector sector = room(101, 1);
    Frame frame = looking_east(sector);
    const Png east = shot(frame);
    const Png south = shot({.sector = &sector, .camera = {12.0f, 10.5f}, .yaw = 16384});
    for (int x : {220, 250, 420}) {
        expect_pixels(east, {{x, 60, roof}, {x, 147, roof}, {x, 150, grey}, {x, 200, grey},
                             {x, 236, grey}, {x, 239, ground}, {x, 300, ground}});
        expect_pixels(south, {{x, 147, roof}, {x, 150, white}, {x, 236, white}, {x, 239, ground}});
    }
    // Looking east, north is on the left: brick there (neither flat colour).
    expect_pixels(east, {{145, 200, grey}, {495, 200, grey}, {500, 200, white}, {560, 200, white}});
    EXPECT_TRUE(near(east, 140, 200, white, 255)); // any colour, opaque
    EXPECT_FALSE(near(east, 80, 200, white, 30) || near(east, 80, 200, grey, 30));
    expect_pixels(south, {{100, 200, grey}, {540, 200, grey}});
}

// A creature 2 tiles ahead: sprite columns 277.1..362.9, rows 156.6..281.3, 32 texels each
// way: its visor, its body and a transparent corner through which the wall shows.
TEST_F(RendererTest, DrawsSpritesWithTheirCutOutDepthAndBufferGrowth) {
    const Sector sector = room(103, 1);
    Frame frame = looking_east(sector);
    frame.entities = {creature(12.5f)};
    expect_pixels(shot(frame), {{316, 190, visor}, {308, 217, {196, 116, 59}}, {284, 166, grey},
                                {270, 200, grey}});
    frame.entities = {creature(15.5f)}; // behind the east wall: hidden
    const Png behind = shot(frame);
    EXPECT_EQ(differing(behind, grey, 300, 160, 316, 236), 0);
    frame.entities = {creature(9.5f)}; // behind the camera: not drawn
    EXPECT_EQ(differing(shot(frame), behind, 0, 0, 640, 360), 0);
    // Per-frame buffers start at 131,072 vertices and grow (6 per sprite, plus the overlay's);
    // above dynamic_vertex_limit a frame is refused before any GPU work, the image kept.
    std::vector<Vertex> hud;
    overlay_pass(hud, frame);
    frame.entities.assign((131072 - hud.size()) / 6 + 1, creature(12.5f));
    const Png grown = shot(frame);
    EXPECT_TRUE(near(grown, 316, 190, visor));
    frame.entities.assign((dynamic_vertex_limit - hud.size()) / 6 + 1, creature(15.5f));
    EXPECT_EQ(test::error_of([&] { renderer->draw(frame); }), "dynamic geometry capacity exceeded");
    const std::string path = (dir / "kept.png").string();
    renderer->capture(path);
    EXPECT_EQ(differing(read_png(path), grown, 0, 0, 640, 360), 0);
    frame.entities = {creature(15.5f)};
    EXPECT_EQ(differing(shot(frame), behind, 0, 0, 640, 360), 0);
}

TEST_F(RendererTest, OverlayTransferScreenAndAGeneratedSector) {
    const Sector sector = room(104, 1);
    Frame frame = looking_east(sector);
    // Top bar, the D of DUSKHOLLOW, the bottom bar's orange edge, the bar, the crosshair.
    const Png png = shot(frame);
    expect_pixels(png, {{300, 2, {6, 11, 14}}, {10, 6, orange}, {500, 326, orange},
                        {500, 327, orange}, {500, 350, {9, 11, 13}}, {316, 180, {46, 217, 217}}});
    EXPECT_TRUE(near(png, 14, 6, clear_colour, 255)); // any, opaque
    // The transfer screen: its panel over a moving backdrop instead of wall and creature.
    frame.entities = {creature(12.5f)};
    frame.transition = true;
    const Png first = shot(frame);
    frame.time = 0.5f;
    const Png later = shot(frame);
    EXPECT_TRUE(near(first, 125, 148, Rgb{5, 9, 14}));
    EXPECT_EQ(differing(first, grey, 20, 150, 110, 236), 90 * 86);
    EXPECT_EQ(differing(first, clear_colour, 0, 0, 640, 140), 640 * 140);
    EXPECT_GT(differing(first, later, 0, 0, 640, 140), 640 * 140 / 4);
    // Between the top bar and the weapon nothing of a generated sector is the clear colour.
    const Sector generated = generate(std::uint64_t{7}, std::uint64_t{12345}, {});
    const Frame spawn{.sector = &generated, .camera = {generated.spawn_x / 256.0f,
                      generated.spawn_y / 256.0f}, .yaw = float(generated.spawn_yaw)};
    EXPECT_EQ(differing(shot(spawn), clear_colour, 20, 60, 460, 230), 440 * 170);
}

TEST_F(RendererTest, SectorMeshIsCachedByIdAndRevision) {
    // Wall at x = 12: 1.5 tiles ahead, so its top edge is at row 107 instead of 148.8.
    const Sector near_wall = room(106, 1, 12), far_wall = room(106, 1), revised = room(106, 2);
    Frame frame = looking_east(near_wall);
    frame.transition = true; // draws no world but takes the new sector's mesh
    renderer->draw(frame);
    frame.transition = false;
    frame.sector = &far_wall; // same id and revision: the cached mesh
    EXPECT_TRUE(near(shot(frame), 200, 130, grey));
    frame.sector = nullptr; // no world drawn, the cache stays
    renderer->draw(frame);
    frame.sector = &far_wall;
    EXPECT_TRUE(near(shot(frame), 200, 130, grey));
    frame.sector = &revised;
    EXPECT_TRUE(near(shot(frame), 200, 130, roof));
}

TEST_F(RendererTest, AnnouncesItsBackendInAHiddenWindowAndErrorsNameTheFullPath) {
    // One line; the suite's device (KESTREL_REQUIRE_GPU) is lavapipe's Vulkan.
    const bool suite = std::getenv("KESTREL_REQUIRE_GPU");
    EXPECT_EQ(banner, suite ? "GPU backend: vulkan | 640x360 retro target\n" : banner);
    EXPECT_TRUE(SDL_GetWindowFlags(renderer->window()) & SDL_WINDOW_HIDDEN);
    const std::string path = (dir / "missing" / "shot.png").string();
    EXPECT_EQ(test::error_of([&] { renderer->capture(path); }), "cannot write png: " + path);
    // Shaders are looked up next to the executable: a copy of this program elsewhere fails.
    const fs::path copy = dir / "renderer_test";
    fs::copy_file("/proc/self/exe", copy);
    fs::permissions(copy, fs::perms::owner_exec, fs::perm_options::add);
    setenv("KESTREL_SHADERLESS_COPY", "1", 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    const test::Outcome outcome = test::run(copy.string(), {});
    unsetenv("ASAN_OPTIONS");
    unsetenv("KESTREL_SHADERLESS_COPY");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.rfind("GPU backend: ", 0), 0u) << outcome.out;
    EXPECT_EQ(outcome.out.substr(outcome.out.find('\n') + 1),
              "missing shader: " + (dir / "shaders" / "world.vert.spv").string() + "\n");
}

// clang-format on
} // namespace
} // namespace kestrel
