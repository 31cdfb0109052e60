// What the client shows and plays, captured for real: frames drawn by lavapipe under a
// virtual X server, saved as PNG and read back by an independent decoder; sound written by
// SDL's disk audio driver as raw 32-bit floats. The client looks for its music next to its
// executable, so a copy without the audio folder beside it plays the effects alone.
#include "tests/e2e/e2e.h"
#include "tests/support/png_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace kestrel::test {
namespace {

using Rgb = std::array<int, 3>;

bool near(const Png& png, std::uint32_t x, std::uint32_t y, Rgb c, int tolerance = 3) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(static_cast<int>(png.pixel(x, y) >> (24 - 8 * i) & 255) - c[i]) > tolerance)
            return false;
    return true;
}

// Any pixel of the rectangle with the colour.
bool any_in(const Png& png, std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h,
            Rgb colour) {
    for (std::uint32_t y = y0; y < y0 + h; ++y)
        for (std::uint32_t x = x0; x < x0 + w; ++x)
            if (near(png, x, y, colour)) return true;
    return false;
}

const Rgb top_bar{6, 11, 14}, orange{242, 140, 64}, cyan{46, 217, 217}, minimap_back{3, 6, 8},
    clear_colour{14, 19, 23}, panel{5, 9, 14}, pale{204, 224, 217};

// The device at the stream's own format (24 kHz mono) when native, else SDL's 44.1 kHz stereo.
Env disk_audio(const fs::path& raw, bool native) {
    std::vector<std::pair<std::string, std::string>> vars{
        {"SDL_AUDIO_DRIVER", "disk"}, {"SDL_AUDIO_DISK_OUTPUT_FILE", raw.string()}};
    if (native)
        vars.insert(vars.end(), {{"SDL_AUDIO_FREQUENCY", "24000"},
                                 {"SDL_AUDIO_CHANNELS", "1"},
                                 {"SDL_AUDIO_FORMAT", "F32"}});
    return Env(vars);
}

// Nothing may reach full scale. Smooth music stays below it after SDL's conversion; the
// effects are noise, whose inter-sample peaks a band-limited converter brings back (1.4 for
// six explosions at once), so fights are heard at the native format.
void expect_sound(const fs::path& raw, bool audible) {
    const std::string stream = read_file(raw);
    float peak = 0;
    std::size_t loud = 0;
    for (std::size_t i = 0; i + 4 <= stream.size(); i += 4) {
        float sample = 0;
        std::memcpy(&sample, stream.data() + i, 4);
        peak = std::max(peak, std::abs(sample));
        loud += std::abs(sample) > 0.01f;
    }
    const std::size_t samples = stream.size() / 4;
    EXPECT_GT(samples, 10000u) << "the device ran for seconds";
    EXPECT_LT(peak, 1.0f);
    if (audible) {
        EXPECT_GT(loud, samples / 100) << "peak " << peak;
    } else {
        EXPECT_EQ(peak, 0.0f);
    }
}

TEST(Capture, DemoFrameShowsWorldAndHudWithMusic) {
    const TempDir dir("kestrel-capture-demo");
    const std::string path = (dir / "demo.png").string();
    const Env audio = disk_audio(dir / "out.raw", false);
    const Outcome outcome =
        run(KESTREL_CLIENT_BIN, {"--hidden", "--demo", "--frames", "30", "--capture", path}, 120s);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    ASSERT_EQ(outcome.out.rfind("GPU backend: vulkan | 640x360 retro target\n", 0), 0u)
        << outcome.out;
    EXPECT_NE(outcome.out.find("\nClient stopped: frames=30 "), std::string::npos);
    for (const char* complaint : {"Audio unavailable: ", "Background music unavailable: "})
        EXPECT_EQ(outcome.err.find(complaint), std::string::npos) << outcome.err;
    expect_sound(dir / "out.raw", true);

    const Png png = read_png(path);
    ASSERT_EQ(png.output, "640x360\n");
    EXPECT_TRUE(near(png, 300, 1, top_bar));
    EXPECT_TRUE(near(png, 8, 8, top_bar));
    EXPECT_TRUE(any_in(png, 10, 6, 6, 7, orange)) << "DUSKHOLLOW at (10, 6)";
    EXPECT_FALSE(any_in(png, 0, 0, 9, 18, orange));
    EXPECT_TRUE(near(png, 478, 24, minimap_back));
    EXPECT_TRUE(near(png, 317, 180, cyan)) << "crosshair";
    // The middle of the screen is world geometry, not the clear colour.
    int world = 0;
    for (std::uint32_t x = 200; x < 440; x += 8) world += !near(png, x, 120, clear_colour, 1);
    EXPECT_GT(world, 20);
}

TEST(Capture, EffectsAloneAreHeardInAFightOnly) {
    const TempDir dir("kestrel-capture-effects");
    const fs::path bin = fs::path(KESTREL_CLIENT_BIN).parent_path();
    fs::create_directories(dir / "silent");
    fs::copy_file(KESTREL_CLIENT_BIN, dir / "silent" / "client");
    fs::copy(bin / "shaders", dir / "silent" / "shaders", fs::copy_options::recursive);
    const std::string silent = (dir / "silent" / "client").string();
    for (const bool fight : {false, true}) {
        SCOPED_TRACE(fight ? "combat" : "demo");
        fs::remove(dir / "out.raw");
        const Env audio = disk_audio(dir / "out.raw", fight);
        Outcome outcome;
        if (fight) {
            const Match match =
                play({"--enemies", "6"},
                     {"--hidden", "--auto-combat", "--seconds", "6", "--require-commits", "1"}, 30,
                     silent);
            EXPECT_EQ(match.server.status, 0);
            EXPECT_GT(summary(match.client.out)["hits"], 0) << match.client.out;
            outcome = match.client;
        } else {
            outcome = run(silent, {"--hidden", "--demo", "--frames", "30"}, 120s);
        }
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.err.find("Audio unavailable: "), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("Background music unavailable: "), std::string::npos)
            << outcome.err;
        expect_sound(dir / "out.raw", fight);
    }
}

TEST(Capture, WithoutAnAudioDeviceTheRunGoesOnSilent) {
    const Env audio("SDL_AUDIO_DRIVER", "no-such-driver");
    const Outcome outcome = run(KESTREL_CLIENT_BIN, {"--hidden", "--demo", "--frames", "10"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(count_lines_starting(outcome.err, "Audio unavailable: "), 1) << outcome.err;
    EXPECT_NE(outcome.out.find("\nClient stopped: frames=10 "), std::string::npos) << outcome.out;
}

// The transfer screen once, then the HUD over the heaviest snapshots a server may send:
// 367 fallen crew with body and smoke, some 150,000 vertices a frame, for which the
// renderer grows its buffers instead of ending the run.
TEST(Capture, TransferScreenThenHudOverAFallenCrowd) {
    const TempDir dir("kestrel-capture-play");
    const std::string wormhole = (dir / "wormhole.png").string();
    const std::string last = (dir / "last.png").string();
    // The server holds its packets back, so the handoff spans frames even on a loaded machine.
    const Match match = play(
        {"--enemies", "0", "--items", "0", "--crowd", "367", "--fallen-crowd", "--delay-ms", "300"},
        {"--hidden", "--seconds", "5", "--require-commits", "1", "--capture-wormhole", wormhole,
         "--capture", last},
        12);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    EXPECT_GT(summary(match.client.out)["snapshots"], 30) << match.client.out;
    EXPECT_EQ(match.server.status, 0) << match.server.err;

    const Png transfer = read_png(wormhole);
    ASSERT_EQ(transfer.output, "640x360\n");
    EXPECT_TRUE(near(transfer, 122, 147, panel)) << "the transfer panel";
    EXPECT_TRUE(any_in(transfer, 140, 158, 200, 14, pale)) << "its status text";
    EXPECT_FALSE(any_in(transfer, 0, 326, 640, 2, orange)) << "no HUD bar during transit";

    const Png hud = read_png(last);
    ASSERT_EQ(hud.output, "640x360\n");
    EXPECT_TRUE(near(hud, 100, 326, orange)) << "the bottom bar's edge";
    EXPECT_TRUE(any_in(hud, 59, 334, 40, 14, orange)) << "health 100";
    EXPECT_TRUE(any_in(hud, 185, 334, 40, 14, cyan)) << "ammo 100";
    // The smoke of the fallen, (0.035, 0.04, 0.06), in the 3D view.
    int smoke = 0;
    for (std::uint32_t y = 24; y < 320; ++y)
        for (std::uint32_t x = 0; x < 470; ++x) smoke += (hud.pixel(x, y) >> 8) == 0x090a0fu;
    EXPECT_GT(smoke, 100);
}

} // namespace
} // namespace kestrel::test
