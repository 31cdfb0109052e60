// The renderer on a real GPU device: frames are drawn into a hidden window, captured to PNG,
// read back by an independent decoder and checked pixel by pixel.
//
// In the suite this runs under a virtual X server with Mesa's software Vulkan (see
// tests/CMakeLists.txt), with KESTREL_REQUIRE_GPU set so that a missing device fails instead
// of skipping. Run directly on a machine without a display or a Vulkan device it skips.
#include "render/renderer.h"

#include <SDL3/SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "render/frame.h"
#include "render/overlay.h"
#include "tests/render/png_reader.h"
#include "tests/support/process.h"
#include "world/generate.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

struct Rgb {
    int r, g, b;
};

Rgb rgb(Color c) {
    return {static_cast<int>(std::lround(c.r * 255)), static_cast<int>(std::lround(c.g * 255)),
            static_cast<int>(std::lround(c.b * 255))};
}

constexpr Rgb clear_colour{14, 19, 23}; // (0.055, 0.075, 0.09)

// A 4-row room of flat-white (atlas layer 0) surfaces, so every surface shows exactly its
// vertex colour: theme 0 (seed 3), light 255, floor z 0, ceiling z 1. Walkable cells are
// columns 10 .. east-1 of rows 10..13. The rock north of it has brick faces (layer 1), all
// other rock flat faces. Seen from inside: floor (0.7, 0.8, 0.9), ceiling (0.65, 0.7, 0.8),
// east and west faces 0.8 grey, north and south faces white.
Sector room(std::uint64_t id, std::uint32_t revision, int east = 14) {
    Sector s;
    s.id = id;
    s.revision = revision;
    s.seed = 3;
    const Tile rock{0, 2, 3, Tile::blocks_walk, 0, 8, 160};
    const Tile open{0, 0, 0, 0, 0, 8, 255};
    const Tile brick_rock{1, 2, 3, Tile::blocks_walk, 0, 8, 160};
    s.tiles = {rock, open, brick_rock};
    s.cells.fill(0);
    for (int x = 10; x < east; ++x) {
        s.cells[9 * 32 + x] = 2;
        for (int y = 10; y < 14; ++y) s.cells[y * 32 + x] = 1;
    }
    return s;
}

constexpr Rgb floor_colour{179, 204, 230};
constexpr Rgb ceiling_colour{166, 179, 204};
constexpr Rgb east_face{204, 204, 204};
constexpr Rgb south_face{255, 255, 255};

// An entity without a model of its own: drawn as the creature sprite (atlas layer 4),
// 0.55 wide and 0.8 tall, tinted white.
DrawEntity creature(float x, float y) {
    DrawEntity e;
    e.x = x;
    e.y = y;
    e.health = 100;
    e.type = 9;
    e.kind = 6;
    return e;
}

// The role of the copy made by MissingShaderNamesTheFullPath: create a renderer, print the
// error on stdout and exit 0 when it fails as expected, 1 otherwise, before any test runs.
[[maybe_unused]] const bool shaderless_copy = [] {
    if (!std::getenv("KESTREL_SHADERLESS_COPY")) return false;
    if (!SDL_Init(SDL_INIT_VIDEO)) std::exit(2);
    int status = 1;
    try {
        Renderer renderer(true);
    } catch (const std::runtime_error& e) {
        std::cout << e.what() << "\n" << std::flush;
        status = 0;
    }
    SDL_Quit();
    std::exit(status);
}();

class RendererTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Mesa's software Vulkan driver keeps caches in its globals and is unloaded when the
        // GPU device goes; pinned, its memory stays reachable until exit, so the sanitizer
        // build's leak check sees only what is really lost. Without lavapipe this does nothing.
        dlopen("libvulkan_lvp.so", RTLD_NOW | RTLD_NODELETE);
        if (!SDL_Init(SDL_INIT_VIDEO)) {
            unavailable = std::string("no video: ") + SDL_GetError();
            return;
        }
        testing::internal::CaptureStdout();
        try {
            renderer = new Renderer(true);
        } catch (const std::runtime_error& e) {
            unavailable = std::string("no GPU device: ") + e.what();
        }
        banner = testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite() {
        delete renderer;
        renderer = nullptr;
        SDL_Quit();
    }

    void SetUp() override {
        if (!renderer) {
            if (std::getenv("KESTREL_REQUIRE_GPU")) FAIL() << unavailable;
            GTEST_SKIP() << unavailable;
        }
        std::string pattern = (fs::temp_directory_path() / "kestrel-render-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }

    // Draws the frame, captures the image and decodes it.
    test::DecodedPng shot(const Frame& frame) {
        renderer->draw(frame);
        return capture();
    }
    test::DecodedPng capture() {
        const std::string path = (dir / ("shot" + std::to_string(++shots) + ".png")).string();
        renderer->capture(path);
        test::DecodedPng png = test::read_png(path);
        EXPECT_TRUE(png.ok) << png.output;
        EXPECT_EQ(png.width, 640u);
        EXPECT_EQ(png.height, 360u);
        return png;
    }

    static Frame looking_east(const Sector& sector) {
        Frame frame;
        frame.sector = &sector;
        frame.camera = {10.5f, 12.0f};
        frame.yaw = 0;
        return frame;
    }

    static Renderer* renderer;
    static std::string unavailable;
    static std::string banner;
    fs::path dir;
    int shots = 0;
};
Renderer* RendererTest::renderer = nullptr;
std::string RendererTest::unavailable;
std::string RendererTest::banner;

::testing::AssertionResult near(const test::DecodedPng& png, int x, int y, Rgb want,
                                int tolerance = 1) {
    if (!png.ok) return ::testing::AssertionFailure() << "no image";
    const std::uint32_t p = png.pixel(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    const Rgb got{static_cast<int>(p >> 24), static_cast<int>((p >> 16) & 255),
                  static_cast<int>((p >> 8) & 255)};
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance && (p & 255) == 255)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is (" << got.r << ", " << got.g << ", " << got.b
           << ", " << (p & 255) << "), want (" << want.r << ", " << want.g << ", " << want.b
           << ", 255)";
}

int differing_pixels(const test::DecodedPng& a, const test::DecodedPng& b, int x0, int y0, int x1,
                     int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += a.pixel(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) !=
                 b.pixel(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    return n;
}

int pixels_not(const test::DecodedPng& png, Rgb colour, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += !near(png, x, y, colour, 0);
    return n;
}

TEST_F(RendererTest, AnnouncesItsBackendOnce) {
    const std::string tail = " | 640x360 retro target\n";
    ASSERT_GT(banner.size(), std::string("GPU backend: ").size() + tail.size());
    EXPECT_EQ(banner.rfind("GPU backend: ", 0), 0u) << banner;
    EXPECT_EQ(banner.substr(banner.size() - tail.size()), tail) << banner;
    EXPECT_EQ(banner.find('\n'), banner.size() - 1) << "one line only: " << banner;
    if (std::getenv("KESTREL_REQUIRE_GPU")) {
        EXPECT_EQ(banner, "GPU backend: vulkan | 640x360 retro target\n");
    }
    ASSERT_NE(renderer->window(), nullptr);
    EXPECT_TRUE(SDL_GetWindowFlags(renderer->window()) & SDL_WINDOW_HIDDEN);
}

// Looking east from (10.5, 12) at the eye height 0.65 with a vertical focal length of
// 1/tan 30deg: the east wall, 3.5 tiles ahead, spans rows 148.8 (z = 1) to 237.9 (z = 0),
// and columns 142.2 to 497.8 (the room's side walls at y = 10 and y = 14).
TEST_F(RendererTest, ProjectsTheRoomFromTheCamera) {
    const Sector sector = room(101, 1);
    const test::DecodedPng png = shot(looking_east(sector));
    ASSERT_TRUE(png.ok);
    for (int x : {220, 250, 420}) { // columns clear of the HUD texts and the weapon
        EXPECT_TRUE(near(png, x, 60, ceiling_colour));
        EXPECT_TRUE(near(png, x, 147, ceiling_colour));
        EXPECT_TRUE(near(png, x, 150, east_face));
        EXPECT_TRUE(near(png, x, 200, east_face));
        EXPECT_TRUE(near(png, x, 236, east_face));
        EXPECT_TRUE(near(png, x, 239, floor_colour));
        EXPECT_TRUE(near(png, x, 300, floor_colour));
    }
    // Looking east, north is on the left: brick there, the flat white south face right.
    EXPECT_TRUE(near(png, 140, 200, south_face, 255)); // any colour, fully opaque
    EXPECT_FALSE(near(png, 80, 200, south_face, 30));
    EXPECT_FALSE(near(png, 80, 200, east_face, 30));
    EXPECT_TRUE(near(png, 145, 200, east_face));
    EXPECT_TRUE(near(png, 495, 200, east_face));
    EXPECT_TRUE(near(png, 500, 200, south_face));
    EXPECT_TRUE(near(png, 560, 200, south_face));
}

TEST_F(RendererTest, TurningTheCameraTurnsTheView) {
    // Facing south (yaw 16384) from the room's north-west corner: the south face of the
    // room is 3.5 tiles ahead, as the east face was above, so the same rows split the view.
    const Sector sector = room(102, 1);
    Frame frame = looking_east(sector);
    frame.camera = {12.0f, 10.5f};
    frame.yaw = 16384;
    const test::DecodedPng png = shot(frame);
    ASSERT_TRUE(png.ok);
    for (int x : {220, 420}) {
        EXPECT_TRUE(near(png, x, 147, ceiling_colour));
        EXPECT_TRUE(near(png, x, 150, south_face));
        EXPECT_TRUE(near(png, x, 236, south_face));
        EXPECT_TRUE(near(png, x, 239, floor_colour));
    }
    // Facing south the room is only 4 wide: east wall (x = 14) on the left, west (x = 10)
    // on the right, both grey.
    EXPECT_TRUE(near(png, 100, 200, east_face));
    EXPECT_TRUE(near(png, 540, 200, east_face));
}

// A creature 2 tiles ahead: sprite columns 277.1..362.9, rows 156.6..281.3, 32 texels each
// way. Its visor (texel 14, 8), its body (11, 15) and a transparent corner (2, 2), through
// which the wall must show.
TEST_F(RendererTest, DrawsSpritesWithTheirCutOutAndDepth) {
    const Sector sector = room(103, 1);
    Frame frame = looking_east(sector);
    frame.entities = {creature(12.5f, 12.0f)};
    const test::DecodedPng front = shot(frame);
    ASSERT_TRUE(front.ok);
    EXPECT_TRUE(near(front, 316, 190, {61, 192, 198}));
    EXPECT_TRUE(near(front, 308, 217, {196, 116, 59}));
    EXPECT_TRUE(near(front, 284, 166, east_face));
    EXPECT_TRUE(near(front, 270, 200, east_face));

    // The same creature behind the east wall is hidden by it.
    frame.entities = {creature(15.5f, 12.0f)};
    const test::DecodedPng behind = shot(frame);
    ASSERT_TRUE(behind.ok);
    EXPECT_EQ(pixels_not(behind, east_face, 300, 160, 316, 236), 0);

    // Behind the camera: not drawn at all.
    frame.entities = {creature(9.5f, 12.0f)};
    const test::DecodedPng back = shot(frame);
    EXPECT_EQ(differing_pixels(back, behind, 0, 0, 640, 360), 0);
}

// The overlay is drawn in screen space over the world, where the HUD layout puts it.
TEST_F(RendererTest, OverlayLandsWhereItWasPlaced) {
    const Sector sector = room(104, 1);
    const test::DecodedPng png = shot(looking_east(sector));
    ASSERT_TRUE(png.ok);
    EXPECT_TRUE(near(png, 300, 2, rgb({0.025f, 0.045f, 0.055f, 1}))); // top bar
    EXPECT_TRUE(near(png, 10, 6, rgb({0.95f, 0.55f, 0.25f, 1})));     // the D of DUSKHOLLOW
    EXPECT_TRUE(near(png, 14, 6, clear_colour, 255));                 // any, opaque
    EXPECT_TRUE(near(png, 500, 326, rgb({0.95f, 0.55f, 0.25f, 1})));  // bottom bar's edge
    EXPECT_TRUE(near(png, 500, 327, rgb({0.95f, 0.55f, 0.25f, 1})));
    EXPECT_TRUE(near(png, 500, 350, rgb({0.035f, 0.045f, 0.05f, 1}))); // bottom bar
    EXPECT_TRUE(near(png, 316, 180, rgb({0.18f, 0.85f, 0.85f, 1})));   // crosshair
}

TEST_F(RendererTest, GeneratedSectorFillsTheView) {
    const Sector sector = kestrel::generate(std::uint64_t{7}, std::uint64_t{12345}, {});
    Frame frame;
    frame.sector = &sector;
    frame.camera = {sector.spawn_x / 256.0f, sector.spawn_y / 256.0f};
    frame.yaw = sector.spawn_yaw;
    const test::DecodedPng png = shot(frame);
    ASSERT_TRUE(png.ok);
    // Between the top bar and the weapon, nothing is left at the clear colour.
    EXPECT_EQ(pixels_not(png, clear_colour, 20, 60, 460, 230), (460 - 20) * (230 - 60));
}

TEST_F(RendererTest, TransferScreenShowsTheAnimatedBackdropAndNoWorld) {
    const Sector sector = room(105, 1);
    Frame frame = looking_east(sector);
    frame.entities = {creature(12.5f, 12.0f)};
    frame.transition = true;
    frame.status_line = "WORMHOLE TRANSIT";
    frame.time = 0;
    const test::DecodedPng first = shot(frame);
    frame.time = 0.5f;
    const test::DecodedPng later = shot(frame);
    ASSERT_TRUE(first.ok && later.ok);
    EXPECT_TRUE(near(first, 125, 148, rgb({0.02f, 0.035f, 0.055f, 1}))); // the panel
    // No wall, no creature: the backdrop covers the screen instead, and it moves.
    EXPECT_EQ(pixels_not(first, east_face, 20, 150, 110, 236), (110 - 20) * (236 - 150));
    EXPECT_EQ(pixels_not(first, clear_colour, 0, 0, 640, 140), 640 * 140);
    EXPECT_GT(differing_pixels(first, later, 0, 0, 640, 140), 640 * 140 / 4);
}

TEST_F(RendererTest, SectorMeshIsCachedByIdAndRevision) {
    // Wall at x = 12: 1.5 tiles ahead, so its top edge is at row 107 instead of 148.8.
    const Sector near_wall = room(106, 1, 12);
    const Sector far_wall = room(106, 1, 14);
    const Sector far_wall_revised = room(106, 2, 14);

    // The transfer screen draws no world but still takes the new sector's mesh.
    Frame frame = looking_east(near_wall);
    frame.transition = true;
    renderer->draw(frame);
    frame.transition = false;
    frame.sector = &far_wall; // same id and revision: the cached mesh is drawn
    const test::DecodedPng cached = shot(frame);
    EXPECT_TRUE(near(cached, 200, 130, east_face));

    frame.sector = nullptr; // no sector: no world drawn, the cache stays
    renderer->draw(frame);
    frame.sector = &far_wall;
    EXPECT_TRUE(near(shot(frame), 200, 130, east_face));

    frame.sector = &far_wall_revised; // a new revision is rebuilt
    EXPECT_TRUE(near(shot(frame), 200, 130, ceiling_colour));
}

TEST_F(RendererTest, TooMuchDynamicGeometryDrawsNothing) {
    const Sector sector = room(107, 1);
    Frame frame = looking_east(sector);
    const test::DecodedPng before = shot(frame);

    // 6 vertices per sprite; the list limit of 131,072 lies between 131,070 and 131,076.
    std::vector<Vertex> hud;
    overlay_pass(hud, frame);
    ASSERT_EQ(hud.size() % 6, 0u);
    const std::size_t fitting = (131070 - hud.size()) / 6;
    frame.entities.assign(fitting, creature(12.5f, 12.0f));
    renderer->draw(frame);
    frame.entities.push_back(creature(12.5f, 12.5f));
    try {
        renderer->draw(frame);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "dynamic geometry capacity exceeded");
    }
    // The last image is still the one of the frame that fitted, and drawing goes on.
    const test::DecodedPng after = capture();
    EXPECT_TRUE(near(after, 316, 190, {61, 192, 198}));
    frame.entities.clear();
    EXPECT_EQ(differing_pixels(shot(frame), before, 0, 0, 640, 360), 0);
}

TEST_F(RendererTest, CaptureToAnUnwritablePathThrows) {
    const std::string path = (dir / "missing" / "shot.png").string();
    try {
        renderer->capture(path);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot write png: " + path);
    }
}

// Shaders are looked up next to the executable, so a copy of this test program in a folder
// without them must fail with the full path. Started with KESTREL_SHADERLESS_COPY set, the
// copy only tries to create a renderer (see shaderless_copy above).
TEST_F(RendererTest, MissingShaderNamesTheFullPath) {
    const fs::path copy = dir / "renderer_test";
    fs::copy_file("/proc/self/exe", copy);
    fs::permissions(copy, fs::perms::owner_exec, fs::perm_options::add);
    setenv("KESTREL_SHADERLESS_COPY", "1", 1);
    // The copy unloads the Vulkan driver at exit, so a leak check there would only see the
    // driver's own allocations without their module; this process keeps its leak check.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    const test::Outcome outcome = test::run(copy.string(), {});
    unsetenv("ASAN_OPTIONS");
    unsetenv("KESTREL_SHADERLESS_COPY");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    // The backend line comes first: the shaders are loaded after it.
    EXPECT_EQ(outcome.out.rfind("GPU backend: ", 0), 0u) << outcome.out;
    const std::string error = "missing shader: " + (dir / "shaders" / "world.vert.spv").string();
    EXPECT_EQ(outcome.out.substr(outcome.out.find('\n') + 1), error + "\n") << outcome.out;
}

} // namespace
} // namespace kestrel
