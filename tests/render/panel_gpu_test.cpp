// The open sector-navigation panel drawn by the real renderer over a generated sector and
// captured: every rectangle the expedition layer builds (panel, text pixels, map boxes, the
// "you" frame and the selection underline) must show its colour where its vertices put it,
// unless a later one covers that spot. The capture is kept next to the test as
// panel_gpu_test.png so it can be looked at.
#include "render/expedition_hud.h"
#include "render/frame.h"
#include "render/overlay.h"
#include "render/renderer.h"

#include <SDL3/SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>

#include "tests/render/png_reader.h"
#include "tests/support/hud.h"
#include "world/generate.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace expedition_color;

struct Rgb {
    int r, g, b;
    auto operator<=>(const Rgb&) const = default;
};

Rgb rgb(Color c) {
    return {static_cast<int>(std::lround(c.r * 255)), static_cast<int>(std::lround(c.g * 255)),
            static_cast<int>(std::lround(c.b * 255))};
}

Rgb at(const test::DecodedPng& png, int x, int y) {
    const std::uint32_t p = png.pixel(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    return {static_cast<int>(p >> 24), static_cast<int>((p >> 16) & 255),
            static_cast<int>((p >> 8) & 255)};
}

bool near(Rgb a, Rgb b) {
    return std::abs(a.r - b.r) <= 1 && std::abs(a.g - b.g) <= 1 && std::abs(a.b - b.b) <= 1;
}

// A rectangle of the overlay in target pixels, from its six vertices.
struct Box {
    float x0, y0, x1, y1;
    Color color;
    bool contains(float x, float y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

std::vector<Box> boxes(const std::vector<Vertex>& out, std::size_t from) {
    std::vector<Box> result;
    for (std::size_t i = from; i + 6 <= out.size(); i += 6) {
        Box b{640, 360, 0, 0, out[i].color};
        for (std::size_t k = i; k < i + 6; ++k) {
            b.x0 = std::min(b.x0, test::px(out[k]));
            b.x1 = std::max(b.x1, test::px(out[k]));
            b.y0 = std::min(b.y0, test::py(out[k]));
            b.y1 = std::max(b.y1, test::py(out[k]));
        }
        result.push_back(b);
    }
    return result;
}

// Whether a box after `index` with another colour covers the pixel (x, y).
bool covered(const std::vector<Box>& all, std::size_t index, int x, int y) {
    for (std::size_t j = index + 1; j < all.size(); ++j)
        if (all[j].contains(x + 0.5f, y + 0.5f) && rgb(all[j].color) != rgb(all[index].color))
            return true;
    return false;
}

NavSector nav(std::uint64_t id, std::uint16_t column, std::uint16_t row, std::uint8_t flags) {
    NavSector n;
    n.id = id;
    n.column = column;
    n.row = row;
    n.flags = flags;
    n.danger = 3;
    return n;
}

struct Video {
    Video() { EXPECT_TRUE(SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError(); }
    ~Video() { SDL_Quit(); }
};

TEST(PanelCapture, NavigationPanelShowsEveryPieceWhereItsGeometryIs) {
    const Video video;
    Renderer renderer(true);
    std::string pattern = (fs::temp_directory_path() / "kestrel-panel-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;

    const Sector sector = generate(1, 0x6B1F39A42ull, {});
    Frame frame;
    frame.sector = &sector;
    frame.expedition.current_sector = 11;
    frame.expedition.navigation = {nav(10, 0, 0, 16), nav(11, 1, 0, 1), nav(12, 2, 0, 2),
                                   nav(13, 0, 1, 8),  nav(14, 1, 1, 0), nav(15, 3, 2, 3)};
    frame.expedition_panel = expedition_panel::navigation;
    frame.expedition_selection = 2;

    // The expedition layer comes last in the overlay; its panel rectangle follows the
    // always-visible lines, and everything after it is the panel's content.
    std::vector<Vertex> overlay, layer, lines;
    overlay_pass(overlay, frame);
    expedition_hud(layer, frame.expedition, frame.expedition_panel, frame.expedition_selection);
    expedition_hud(lines, frame.expedition, expedition_panel::none, 0);
    ASSERT_EQ(test::find(overlay, layer), overlay.size() - layer.size());
    ASSERT_EQ(layer.size() % 6, 0u);
    const std::vector<Box> all = boxes(layer, lines.size());
    ASSERT_FALSE(all.empty());
    const Box panel_box = all.front();
    ASSERT_EQ(rgb(panel_box.color), rgb(panel));

    const auto shoot = [&](const std::string& name) {
        renderer.draw(frame);
        const std::string path = (dir / name).string();
        renderer.capture(path);
        test::DecodedPng png = test::read_png(path);
        EXPECT_TRUE(png.ok) << png.output;
        EXPECT_EQ(png.width, 640u);
        EXPECT_EQ(png.height, 360u);
        return png;
    };
    const test::DecodedPng open = shoot("open.png");
    ASSERT_TRUE(open.ok);
    const fs::path kept = fs::current_path() / "panel_gpu_test.png";
    fs::copy_file(dir / "open.png", kept, fs::copy_options::overwrite_existing);
    std::cout << "navigation panel capture: " << kept.string() << '\n';
    frame.expedition_panel = expedition_panel::none;
    const test::DecodedPng closed = shoot("closed.png");
    ASSERT_TRUE(closed.ok);
    fs::remove_all(dir);

    // Every rectangle at its centre (text pixels are one target pixel each); the panel
    // itself wherever nothing is drawn on it.
    std::map<Rgb, int> checked;
    for (std::size_t i = 1; i < all.size(); ++i) {
        const Box& b = all[i];
        const int x = static_cast<int>(std::floor((b.x0 + b.x1) / 2));
        const int y = static_cast<int>(std::floor((b.y0 + b.y1) / 2));
        if (covered(all, i, x, y)) continue;
        ++checked[rgb(b.color)];
        EXPECT_TRUE(near(at(open, x, y), rgb(b.color)))
            << "rectangle " << i << " at " << x << ", " << y;
    }
    int panel_pixels = 0, panel_when_closed = 0;
    for (int y = static_cast<int>(panel_box.y0) + 1; y < panel_box.y1 - 1; y += 3)
        for (int x = static_cast<int>(panel_box.x0) + 1; x < panel_box.x1 - 1; x += 3) {
            if (covered(all, 0, x, y)) continue;
            ++panel_pixels;
            EXPECT_TRUE(near(at(open, x, y), rgb(panel))) << x << ", " << y;
            panel_when_closed += near(at(closed, x, y), rgb(panel));
        }
    EXPECT_GT(panel_pixels, 10000);
    EXPECT_LT(panel_when_closed, panel_pixels / 10) << "the world shows when it is closed";
    // Outside the panel nothing of it shows.
    EXPECT_FALSE(near(at(open, static_cast<int>(panel_box.x0) - 2, 100), rgb(panel)));

    for (const Color c :
         {title, hint, waypoint, sentinel, cleared, discovered, undiscovered, you, selected}) {
        const Rgb want = rgb(c);
        EXPECT_GT(checked[want], 0) << want.r << " " << want.g << " " << want.b;
    }
}

} // namespace
} // namespace kestrel
