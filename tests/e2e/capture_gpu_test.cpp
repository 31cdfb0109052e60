// The client renders for real (hidden window, Mesa's software Vulkan under a virtual X
// server, which ctest provides) and saves what it drew; the PNG is read back by an
// independent decoder and checked where the HUD puts its pieces.
#include "tests/e2e/e2e.h"
#include "tests/render/png_reader.h"

#include <cstdlib>
#include <filesystem>

namespace kestrel::test {
namespace {

struct Rgb {
    int r, g, b;
};

Rgb rgb(const DecodedPng& png, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t p = png.pixel(x, y);
    return {static_cast<int>(p >> 24), static_cast<int>((p >> 16) & 255),
            static_cast<int>((p >> 8) & 255)};
}

bool near(Rgb a, Rgb b, int tolerance = 3) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// Any pixel of the rectangle with the colour.
bool any_in(const DecodedPng& png, std::uint32_t x0, std::uint32_t y0, std::uint32_t w,
            std::uint32_t h, Rgb colour) {
    for (std::uint32_t y = y0; y < y0 + h; ++y)
        for (std::uint32_t x = x0; x < x0 + w; ++x)
            if (near(rgb(png, x, y), colour)) return true;
    return false;
}

std::string temp_path(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            (name + "-" + std::to_string(getpid()) + ".png"))
        .string();
}

const Rgb top_bar{6, 11, 14};       // 0.025, 0.045, 0.055
const Rgb orange{242, 140, 64};     // 0.95, 0.55, 0.25
const Rgb cyan{46, 217, 217};       // 0.18, 0.85, 0.85
const Rgb minimap_back{3, 6, 8};    // 0.01, 0.025, 0.03
const Rgb clear_colour{14, 19, 23}; // 0.055, 0.075, 0.09
const Rgb panel{5, 9, 14};          // 0.02, 0.035, 0.055
const Rgb pale{204, 224, 217};      // 0.8, 0.88, 0.85

TEST(Capture, DemoFrameShowsWorldAndHud) {
    const std::string path = temp_path("demo");
    const Outcome outcome =
        run(KESTREL_CLIENT_BIN, {"--hidden", "--demo", "--frames", "30", "--capture", path},
            std::chrono::seconds(120));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    ASSERT_EQ(outcome.out.rfind("GPU backend: vulkan | 640x360 retro target\n", 0), 0u)
        << outcome.out;
    EXPECT_NE(outcome.out.find("\nClient stopped: frames=30 "), std::string::npos);

    const DecodedPng png = read_png(path);
    std::remove(path.c_str());
    ASSERT_TRUE(png.ok) << png.output;
    ASSERT_EQ(png.width, 640u);
    ASSERT_EQ(png.height, 360u);
    EXPECT_TRUE(near(rgb(png, 300, 1), top_bar));
    EXPECT_TRUE(near(rgb(png, 8, 8), top_bar));
    EXPECT_TRUE(any_in(png, 10, 6, 6, 7, orange)) << "DUSKHOLLOW at (10, 6)";
    EXPECT_FALSE(any_in(png, 0, 0, 9, 18, orange));
    EXPECT_TRUE(near(rgb(png, 478, 24), minimap_back));
    EXPECT_TRUE(near(rgb(png, 317, 180), cyan)) << "crosshair";
    // The middle of the screen is world geometry, not the clear colour.
    int world = 0;
    for (std::uint32_t x = 200; x < 440; x += 8)
        if (!near(rgb(png, x, 120), clear_colour, 1)) ++world;
    EXPECT_GT(world, 20);
}

TEST(Capture, TransferScreenOnceAndHudAgainstTheServer) {
    const std::string wormhole = temp_path("wormhole");
    const std::string last = temp_path("last");
    const Match match = play({"--enemies", "0", "--items", "0"},
                             {"--hidden", "--seconds", "4", "--require-commits", "1",
                              "--capture-wormhole", wormhole, "--capture", last},
                             10);
    ASSERT_EQ(match.client.status, 0) << match.client.err;

    const DecodedPng transfer = read_png(wormhole);
    std::remove(wormhole.c_str());
    ASSERT_TRUE(transfer.ok) << transfer.output;
    EXPECT_TRUE(near(rgb(transfer, 122, 147), panel)) << "the transfer panel";
    EXPECT_TRUE(any_in(transfer, 140, 158, 200, 14, pale)) << "its status text";
    EXPECT_FALSE(any_in(transfer, 0, 326, 640, 2, orange)) << "no HUD bar during transit";

    const DecodedPng hud = read_png(last);
    std::remove(last.c_str());
    ASSERT_TRUE(hud.ok) << hud.output;
    EXPECT_TRUE(near(rgb(hud, 100, 326), orange)) << "the bottom bar's edge";
    EXPECT_TRUE(any_in(hud, 59, 334, 40, 14, orange)) << "health 100";
    EXPECT_TRUE(any_in(hud, 185, 334, 40, 14, cyan)) << "ammo 100";
}

} // namespace
} // namespace kestrel::test
