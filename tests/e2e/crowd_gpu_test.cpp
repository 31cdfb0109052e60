// The heaviest snapshots a server may send, drawn for real: 367 fallen crew members lying
// in the player's sector, each with its body and its smoke, make a frame of some 150,000
// vertices. The renderer grows its buffers for it instead of ending the run.
#include "tests/e2e/e2e.h"
#include "tests/render/png_reader.h"

#include <filesystem>

namespace kestrel::test {
namespace {

TEST(Crowd, FullFallenCrowdIsDrawnAndTheRunEndsNormally) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("fallen-" + std::to_string(getpid()) + ".png"))
            .string();
    const Match match =
        play({"--enemies", "0", "--items", "0", "--crowd", "367", "--fallen-crowd"},
             {"--hidden", "--seconds", "4", "--require-commits", "1", "--capture", path}, 10);
    ASSERT_EQ(match.client.status, 0) << match.client.err;
    const auto values = summary(match.client.out);
    ASSERT_FALSE(values.empty()) << match.client.out;
    EXPECT_GT(values.at("snapshots"), 30);
    EXPECT_EQ(match.server.status, 0) << match.server.err;

    // The last frame holds the smoke of the fallen, (0.035, 0.04, 0.06), in the 3D view.
    const DecodedPng png = read_png(path);
    std::remove(path.c_str());
    ASSERT_TRUE(png.ok) << png.output;
    int smoke = 0;
    for (std::uint32_t y = 24; y < 320; ++y)
        for (std::uint32_t x = 0; x < 470; ++x)
            if ((png.pixel(x, y) >> 8) == 0x090a0fu) ++smoke;
    EXPECT_GT(smoke, 100);
}

} // namespace
} // namespace kestrel::test
