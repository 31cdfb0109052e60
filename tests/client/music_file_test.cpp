// The background music generated at build time, read where the client looks for it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

double rms(const std::vector<float>& s, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i) sum += s[i] * s[i];
    return std::sqrt(sum / static_cast<double>(count));
}

TEST(MusicFile, Mono16BitPcmAt24000HzThatLoopsWithoutASeam) {
    std::ifstream file(std::filesystem::path(KESTREL_CLIENT_BIN).parent_path() / "audio" /
                           "space-shooter.wav",
                       std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GE(bytes.size(), 44u);
    Bytes header{
        'R', 'I', 'F', 'F', 0,  0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
        ' ', 16,  0,   0,   0,  1, 0,   1,   0,   0xC0, 0x5D, 0,   0,   0x80, 0xBB,
        0,   0,   2,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0}; // 24000 Hz, 48000 bytes
                                                                            // a second
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = std::uint8_t((bytes.size() - 8) >> (8 * i));
        header[40 + i] = std::uint8_t((bytes.size() - 44) >> (8 * i));
    }
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 44), header);
    std::vector<float> samples;
    float peak = 0;
    for (std::size_t at = 44; at + 1 < bytes.size(); at += 2) {
        samples.push_back(static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8) / 32768.0f);
        peak = std::max(peak, std::abs(samples.back()));
    }
    const double seconds = static_cast<double>(samples.size()) / 24000.0;
    EXPECT_TRUE(seconds >= 16.0 && seconds <= 32.0) << seconds;
    EXPECT_LE(peak, 0.95f);
    EXPECT_GT(rms(samples, 0, samples.size()), 0.05);
    // No silent tenth of a second anywhere, ends included (a gap or fade would be heard on
    // every repeat), and the last sample leads into the first as neighbours do.
    const std::size_t tenth = 2400;
    for (std::size_t from = 0; from + tenth <= samples.size(); from += tenth)
        EXPECT_GT(rms(samples, from, tenth), 0.01) << "at " << from / 24000.0 << " s";
    EXPECT_GT(std::min(rms(samples, 0, tenth), rms(samples, samples.size() - tenth, tenth)), 0.03);
    EXPECT_LT(std::abs(samples.back() - samples.front()), 0.1f);
}

} // namespace
