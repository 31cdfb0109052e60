// The renderer on a real GPU device: frames are drawn into a hidden window, captured to PNG,
// read back by an independent decoder and checked pixel by pixel. In the suite this runs
// under a virtual X server with Mesa's software Vulkan and KESTREL_REQUIRE_GPU set, so a
// missing device fails; run directly without a display or device it skips.
#include "render/renderer.h"

#include <SDL3/SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>

#include "render/expedition_hud.h"
#include "render/frame.h"
#include "render/overlay.h"
#include "tests/render/png_reader.h"
#include "tests/support/errors.h"
#include "tests/support/hud.h"
#include "world/generate.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using Png = test::DecodedPng;

struct Rgb {
    int r, g, b;
    auto operator<=>(const Rgb&) const = default;
};
Rgb rgb(Color c) {
    return {int(std::lround(c.r * 255)), int(std::lround(c.g * 255)), int(std::lround(c.b * 255))};
}
constexpr Rgb clear_colour{14, 19, 23}, floor_colour{179, 204, 230}, ceiling{166, 179, 204},
    east_face{204, 204, 204}, south_face{255, 255, 255}, visor{61, 192, 198}, body{196, 116, 59};

// A 4-row room of flat-white (atlas layer 0) surfaces, so every surface shows exactly its
// vertex colour (theme 0, light 255, floor z 0, ceiling z 1): walkable columns 10..east-1
// of rows 10..13; brick rock (layer 1) north of it, flat rock elsewhere.
Sector room(std::uint64_t id, std::uint32_t revision, int east = 14) {
    Sector s;
    s.id = id;
    s.revision = revision;
    s.seed = 3;
    s.tiles = {{0, 2, 3, Tile::blocks_walk, 0, 8, 160},
               {0, 0, 0, 0, 0, 8, 255},
               {1, 2, 3, Tile::blocks_walk, 0, 8, 160}};
    s.cells.fill(0);
    for (int x = 10; x < east; ++x) {
        s.cells[9 * 32 + x] = 2;
        for (int y = 10; y < 14; ++y) s.cells[y * 32 + x] = 1;
    }
    return s;
}

// Without a model of its own: the creature sprite (layer 4), 0.55 x 0.8, tinted white.
DrawEntity creature(float x, float y) {
    DrawEntity e;
    e.x = x;
    e.y = y;
    e.health = 100;
    e.type = 9;
    e.kind = 6;
    return e;
}

// The copy made by MissingShaderNamesTheFullPath only creates a renderer, prints the error
// and exits 0 when that fails, 1 otherwise, before any test runs.
[[maybe_unused]] const bool shaderless_copy = [] {
    if (!std::getenv("KESTREL_SHADERLESS_COPY")) return false;
    if (!SDL_Init(SDL_INIT_VIDEO)) std::exit(2);
    const std::string error = test::error_of([] { Renderer renderer(true); });
    std::cout << error << "\n" << std::flush;
    SDL_Quit();
    std::exit(error == "no error");
}();

class RendererTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Pinned, lavapipe's caches stay reachable until exit, so the sanitizer build's leak
        // check sees only what is really lost. Without lavapipe this does nothing.
        dlopen("libvulkan_lvp.so", RTLD_NOW | RTLD_NODELETE);
        if (!SDL_Init(SDL_INIT_VIDEO)) {
            unavailable = std::string("no video: ") + SDL_GetError();
            return;
        }
        testing::internal::CaptureStdout();
        unavailable = test::error_of([] { renderer = new Renderer(true); });
        banner = testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite() {
        delete renderer;
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
    Png shot(const Frame& frame) {
        renderer->draw(frame);
        return capture();
    }
    Png capture() {
        const std::string path = (dir / ("shot" + std::to_string(++shots) + ".png")).string();
        renderer->capture(path);
        Png png = test::read_png(path);
        EXPECT_TRUE(png.ok && png.width == 640 && png.height == 360) << png.output;
        return png;
    }
    static Frame looking_east(const Sector& sector) {
        Frame frame;
        frame.sector = &sector;
        frame.camera = {10.5f, 12.0f};
        return frame;
    }
    static inline Renderer* renderer = nullptr;
    static inline std::string unavailable, banner;
    fs::path dir;
    int shots = 0;
};

Rgb at(const Png& png, int x, int y) {
    const std::uint32_t p = png.pixel(std::uint32_t(x), std::uint32_t(y));
    return {int(p >> 24), int((p >> 16) & 255), int((p >> 8) & 255)};
}
bool close(Rgb a, Rgb b, int tolerance = 1) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}
::testing::AssertionResult near(const Png& png, int x, int y, Rgb want, int tolerance = 1) {
    if (!png.ok) return ::testing::AssertionFailure() << "no image";
    const Rgb got = at(png, x, y);
    if (close(got, want, tolerance) && (png.pixel(x, y) & 255) == 255)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is (" << got.r << ", "
                                         << got.g << ", " << got.b << ")";
}
// Pixels of the box [x0, x1) x [y0, y1) differing from `want` (a colour or another image).
int differing(const Png& png, auto want, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            if constexpr (std::is_same_v<decltype(want), Rgb>)
                n += !near(png, x, y, want, 0);
            else
                n += png.pixel(x, y) != want.pixel(x, y);
        }
    return n;
}

TEST_F(RendererTest, AnnouncesItsBackendOnceWithAHiddenWindow) {
    const std::string tail = " | 640x360 retro target\n";
    EXPECT_EQ(banner.rfind("GPU backend: ", 0), 0u) << banner;
    ASSERT_GT(banner.size(), 13 + tail.size());
    EXPECT_EQ(banner.substr(banner.size() - tail.size()), tail);
    EXPECT_EQ(banner.find('\n'), banner.size() - 1) << "one line only: " << banner;
    EXPECT_EQ(banner, std::getenv("KESTREL_REQUIRE_GPU") ? "GPU backend: vulkan" + tail : banner);
    ASSERT_NE(renderer->window(), nullptr);
    EXPECT_TRUE(SDL_GetWindowFlags(renderer->window()) & SDL_WINDOW_HIDDEN);
}

// From (10.5, 12) at eye height 0.65 with a vertical focal length of 1/tan 30deg, the east
// wall 3.5 tiles ahead spans rows 148.8 (z = 1) to 237.9 (z = 0) and columns 142.2 to 497.8.
// Facing south from (12, 10.5) the south face is as far. Columns clear of HUD and weapon.
TEST_F(RendererTest, ProjectsTheRoomFromTheCamera) {
    const Sector sector = room(101, 1);
    Frame frame = looking_east(sector);
    const Png east = shot(frame);
    frame.camera = {12.0f, 10.5f};
    frame.yaw = 16384;
    const Png south = shot(frame);
    for (int x : {220, 250, 420})
        for (const auto& [y, east_colour, south_colour] : {std::tuple{60, ceiling, ceiling},
                                                           {147, ceiling, ceiling},
                                                           {150, east_face, south_face},
                                                           {200, east_face, south_face},
                                                           {236, east_face, south_face},
                                                           {239, floor_colour, floor_colour},
                                                           {300, floor_colour, floor_colour}}) {
            EXPECT_TRUE(near(east, x, y, east_colour));
            EXPECT_TRUE(near(south, x, y, south_colour));
        }
    // East: brick on the left (north), the flat white south face right. South: the room is
    // 4 wide, grey east and west walls on either side.
    EXPECT_TRUE(near(east, 140, 200, south_face, 255)); // any colour, fully opaque
    EXPECT_FALSE(close(at(east, 80, 200), south_face, 30));
    EXPECT_FALSE(close(at(east, 80, 200), east_face, 30));
    for (const auto& [x, want] :
         {std::pair{145, east_face}, {495, east_face}, {500, south_face}, {560, south_face}})
        EXPECT_TRUE(near(east, x, 200, want));
    EXPECT_TRUE(near(south, 100, 200, east_face));
    EXPECT_TRUE(near(south, 540, 200, east_face));
}

// A creature 2 tiles ahead: sprite columns 277.1..362.9, rows 156.6..281.3, 32 texels each
// way: its visor, its body and a transparent corner through which the wall shows.
TEST_F(RendererTest, DrawsSpritesWithTheirCutOutAndDepth) {
    const Sector sector = room(103, 1);
    Frame frame = looking_east(sector);
    frame.entities = {creature(12.5f, 12.0f)};
    const Png front = shot(frame);
    EXPECT_TRUE(near(front, 316, 190, visor));
    EXPECT_TRUE(near(front, 308, 217, body));
    EXPECT_TRUE(near(front, 284, 166, east_face));
    EXPECT_TRUE(near(front, 270, 200, east_face));
    frame.entities = {creature(15.5f, 12.0f)}; // behind the east wall: hidden
    const Png behind = shot(frame);
    EXPECT_EQ(differing(behind, east_face, 300, 160, 316, 236), 0);
    frame.entities = {creature(9.5f, 12.0f)}; // behind the camera: not drawn
    EXPECT_EQ(differing(shot(frame), behind, 0, 0, 640, 360), 0);

    // 6 vertices per sprite, up to 131,070 vertices with the overlay's: still drawn.
    std::vector<Vertex> hud;
    overlay_pass(hud, frame);
    ASSERT_EQ(hud.size() % 6, 0u);
    frame.entities.assign((131070 - hud.size()) / 6, creature(12.5f, 12.0f));
    EXPECT_TRUE(near(shot(frame), 316, 190, visor));
}

TEST_F(RendererTest, OverlayAndGeneratedSectorAndTransferScreen) {
    const Sector sector = room(104, 1);
    Frame frame = looking_east(sector);
    const Png png = shot(frame);
    const Rgb orange = rgb({0.95f, 0.55f, 0.25f, 1});
    for (const auto& [x, y, want] :
         {std::tuple{300, 2, rgb({0.025f, 0.045f, 0.055f, 1})}, // top bar
          {10, 6, orange},                                      // the D of DUSKHOLLOW
          {500, 326, orange},                                   // the bottom bar's edge
          {500, 327, orange},
          {500, 350, rgb({0.035f, 0.045f, 0.05f, 1})}, // bottom bar
          {316, 180, rgb({0.18f, 0.85f, 0.85f, 1})}})  // crosshair
        EXPECT_TRUE(near(png, x, y, want));
    EXPECT_TRUE(near(png, 14, 6, clear_colour, 255)); // any, opaque

    frame.entities = {creature(12.5f, 12.0f)};
    frame.transition = true;
    frame.status_line = "WORMHOLE TRANSIT";
    const Png first = shot(frame);
    frame.time = 0.5f;
    const Png later = shot(frame);
    EXPECT_TRUE(near(first, 125, 148, rgb({0.02f, 0.035f, 0.055f, 1}))); // the panel
    // No wall, no creature: the moving backdrop covers the screen instead.
    EXPECT_EQ(differing(first, east_face, 20, 150, 110, 236), 90 * 86);
    EXPECT_EQ(differing(first, clear_colour, 0, 0, 640, 140), 640 * 140);
    EXPECT_GT(differing(first, later, 0, 0, 640, 140), 640 * 140 / 4);

    const Sector generated = generate(std::uint64_t{7}, std::uint64_t{12345}, {});
    frame = Frame{};
    frame.sector = &generated;
    frame.camera = {generated.spawn_x / 256.0f, generated.spawn_y / 256.0f};
    frame.yaw = generated.spawn_yaw;
    // Between the top bar and the weapon, nothing is left at the clear colour.
    EXPECT_EQ(differing(shot(frame), clear_colour, 20, 60, 460, 230), 440 * 170);
}

TEST_F(RendererTest, SectorMeshIsCachedByIdAndRevision) {
    // Wall at x = 12: 1.5 tiles ahead, so its top edge is at row 107 instead of 148.8.
    const Sector near_wall = room(106, 1, 12), far_wall = room(106, 1, 14),
                 revised = room(106, 2, 14);
    Frame frame = looking_east(near_wall);
    frame.transition = true; // draws no world but takes the new sector's mesh
    renderer->draw(frame);
    frame.transition = false;
    frame.sector = &far_wall; // same id and revision: the cached mesh
    EXPECT_TRUE(near(shot(frame), 200, 130, east_face));
    frame.sector = nullptr; // no world drawn, the cache stays
    renderer->draw(frame);
    frame.sector = &far_wall;
    EXPECT_TRUE(near(shot(frame), 200, 130, east_face));
    frame.sector = &revised;
    EXPECT_TRUE(near(shot(frame), 200, 130, ceiling));
}

TEST_F(RendererTest, CaptureAndShaderErrorsNameTheFullPath) {
    const std::string path = (dir / "missing" / "shot.png").string();
    EXPECT_EQ(test::error_of([&] { renderer->capture(path); }), "cannot write png: " + path);

    // Shaders are looked up next to the executable: a copy of this program elsewhere fails.
    const fs::path copy = dir / "renderer_test";
    fs::copy_file("/proc/self/exe", copy);
    fs::permissions(copy, fs::perms::owner_exec, fs::perm_options::add);
    setenv("KESTREL_SHADERLESS_COPY", "1", 1);
    // The copy unloads the Vulkan driver at exit: its leak check would see only the driver.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    const test::Outcome outcome = test::run(copy.string(), {});
    unsetenv("ASAN_OPTIONS");
    unsetenv("KESTREL_SHADERLESS_COPY");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.rfind("GPU backend: ", 0), 0u) << outcome.out; // shaders come after
    EXPECT_EQ(outcome.out.substr(outcome.out.find('\n') + 1),
              "missing shader: " + (dir / "shaders" / "world.vert.spv").string() + "\n");
}

// The open navigation panel over a generated sector: every rectangle of the panel's content
// shows its colour at its centre unless a later one covers it, the panel wherever nothing
// is on it, and the world when it is closed. Kept as panel_capture.png to be looked at.
TEST_F(RendererTest, NavigationPanelShowsEveryPieceWhereItsGeometryIs) {
    using namespace expedition_color;
    const Sector sector = generate(1, 0x6B1F39A42ull, {});
    Frame frame;
    frame.sector = &sector;
    frame.expedition.current_sector = 11;
    for (const auto& [id, column, row, flags] : {std::array<int, 4>{10, 0, 0, 16},
                                                 {11, 1, 0, 1},
                                                 {12, 2, 0, 2},
                                                 {13, 0, 1, 8},
                                                 {14, 1, 1, 0},
                                                 {15, 3, 2, 3}})
        frame.expedition.navigation.push_back(NavSector{.id = std::uint64_t(id),
                                                        .column = std::uint16_t(column),
                                                        .row = std::uint16_t(row),
                                                        .flags = std::uint8_t(flags),
                                                        .danger = 3});
    frame.expedition_panel = expedition_panel::navigation;
    frame.expedition_selection = 2;
    // The expedition layer comes last in the overlay; after its lines the panel's boxes.
    std::vector<Vertex> overlay, layer, lines;
    overlay_pass(overlay, frame);
    expedition_hud(layer, frame.expedition, expedition_panel::navigation, 2);
    expedition_hud(lines, frame.expedition, expedition_panel::none, 0);
    ASSERT_EQ(test::find(overlay, layer), overlay.size() - layer.size());
    struct Box {
        float x0 = 640, y0 = 360, x1 = 0, y1 = 0;
        Rgb colour;
        bool has(float x, float y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
    };
    std::vector<Box> all;
    for (std::size_t i = lines.size(); i + 6 <= layer.size(); i += 6) {
        Box& b = all.emplace_back(Box{.colour = rgb(layer[i].color)});
        for (std::size_t k = i; k < i + 6; ++k) {
            b.x0 = std::min(b.x0, test::px(layer[k])), b.x1 = std::max(b.x1, test::px(layer[k]));
            b.y0 = std::min(b.y0, test::py(layer[k])), b.y1 = std::max(b.y1, test::py(layer[k]));
        }
    }
    ASSERT_FALSE(all.empty());
    const Box panel_box = all.front();
    ASSERT_EQ(panel_box.colour, rgb(panel));
    const auto covered = [&](std::size_t index, int x, int y) {
        for (std::size_t j = index + 1; j < all.size(); ++j)
            if (all[j].has(x + 0.5f, y + 0.5f) && all[j].colour != all[index].colour) return true;
        return false;
    };
    const Png open = shot(frame);
    fs::copy_file(dir / ("shot" + std::to_string(shots) + ".png"), "panel_capture.png",
                  fs::copy_options::overwrite_existing);
    frame.expedition_panel = expedition_panel::none;
    const Png closed = shot(frame);
    std::map<Rgb, int> checked;
    for (std::size_t i = 1; i < all.size(); ++i) {
        const int x = int(std::floor((all[i].x0 + all[i].x1) / 2));
        const int y = int(std::floor((all[i].y0 + all[i].y1) / 2));
        if (covered(i, x, y)) continue;
        ++checked[all[i].colour];
        EXPECT_TRUE(near(open, x, y, all[i].colour)) << "rectangle " << i;
    }
    int panel_pixels = 0, panel_when_closed = 0;
    for (int y = int(panel_box.y0) + 1; y < panel_box.y1 - 1; y += 3)
        for (int x = int(panel_box.x0) + 1; x < panel_box.x1 - 1; x += 3) {
            if (covered(0, x, y)) continue;
            ++panel_pixels;
            EXPECT_TRUE(near(open, x, y, rgb(panel)));
            panel_when_closed += close(at(closed, x, y), rgb(panel));
        }
    EXPECT_GT(panel_pixels, 10000);
    EXPECT_LT(panel_when_closed, panel_pixels / 10) << "the world shows when it is closed";
    EXPECT_FALSE(close(at(open, int(panel_box.x0) - 2, 100), rgb(panel))); // nothing outside
    for (const Color c :
         {title, hint, waypoint, sentinel, cleared, discovered, undiscovered, you, selected})
        EXPECT_GT(checked[rgb(c)], 0) << rgb(c).r << " " << rgb(c).g << " " << rgb(c).b;
}

} // namespace
} // namespace kestrel
