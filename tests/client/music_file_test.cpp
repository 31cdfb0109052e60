// The background music generated at build time, read where the client looks for it.
#include <gtest/gtest.h>

#include <algorithm>
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

void put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

TEST(MusicFile, Mono16BitPcmAt24000HzThatLoopsWithoutASeam) {
    const auto path =
        std::filesystem::path(KESTREL_CLIENT_BIN).parent_path() / "audio" / "space-shooter.wav";
    std::ifstream file(path, std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GE(bytes.size(), 44u) << path;

    Bytes header{'R', 'I', 'F', 'F'};
    put32(header, static_cast<std::uint32_t>(bytes.size() - 8));
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0});
    put32(header, 24000);
    put32(header, 48000);
    header.insert(header.end(), {2, 0, 16, 0, 'd', 'a', 't', 'a'});
    put32(header, static_cast<std::uint32_t>(bytes.size() - 44));
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 44), header);

    std::vector<float> samples;
    for (std::size_t at = 44; at + 1 < bytes.size(); at += 2)
        samples.push_back(static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8) / 32768.0f);
    const double seconds = static_cast<double>(samples.size()) / 24000.0;
    EXPECT_GE(seconds, 16.0);
    EXPECT_LE(seconds, 32.0);
    float peak = 0;
    for (float s : samples) peak = std::max(peak, std::abs(s));
    EXPECT_LE(peak, 0.95f);
    EXPECT_GT(rms(samples, 0, samples.size()), 0.05);
    // No silent tenth of a second anywhere, ends included (a gap or fade would be heard on
    // every repeat), and the last sample leads into the first as neighbours do.
    const std::size_t tenth = 2400;
    for (std::size_t from = 0; from + tenth <= samples.size(); from += tenth)
        EXPECT_GT(rms(samples, from, tenth), 0.01) << "at " << from / 24000.0 << " s";
    EXPECT_GT(rms(samples, 0, tenth), 0.03);
    EXPECT_GT(rms(samples, samples.size() - tenth, tenth), 0.03);
    EXPECT_LT(std::abs(samples.back() - samples.front()), 0.1f);
}

} // namespace
