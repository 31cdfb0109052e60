// The background music generated at build time, read where the client looks for it.

#include <gtest/gtest.h>

#include <SDL3/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::filesystem::path music_path =
    std::filesystem::path(KESTREL_CLIENT_BIN).parent_path() / "audio" / "space-shooter.wav";

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t u16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::string tag(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

double rms(const std::vector<float>& s, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i) sum += s[i] * s[i];
    return std::sqrt(sum / static_cast<double>(count));
}

class MusicFile : public ::testing::Test {
  protected:
    void SetUp() override {
        bytes = read_file(music_path);
        ASSERT_GE(bytes.size(), 44u) << music_path;
        for (std::size_t at = 44; at + 1 < bytes.size(); at += 2)
            samples.push_back(static_cast<std::int16_t>(u16(bytes, at)) / 32768.0f);
    }
    std::vector<std::uint8_t> bytes;
    std::vector<float> samples;
};

TEST_F(MusicFile, HeaderIsMono16BitPcmAt24000Hz) {
    EXPECT_EQ(tag(bytes, 0), "RIFF");
    EXPECT_EQ(u32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(tag(bytes, 8), "WAVE");
    EXPECT_EQ(tag(bytes, 12), "fmt ");
    EXPECT_EQ(u32(bytes, 16), 16u);
    EXPECT_EQ(u16(bytes, 20), 1); // integer PCM
    EXPECT_EQ(u16(bytes, 22), 1); // channels
    EXPECT_EQ(u32(bytes, 24), 24000u);
    EXPECT_EQ(u32(bytes, 28), 48000u);
    EXPECT_EQ(u16(bytes, 32), 2);
    EXPECT_EQ(u16(bytes, 34), 16);
    EXPECT_EQ(tag(bytes, 36), "data");
    EXPECT_EQ(u32(bytes, 40), bytes.size() - 44);

    const double seconds = static_cast<double>(samples.size()) / 24000.0;
    EXPECT_GE(seconds, 16.0);
    EXPECT_LE(seconds, 32.0);
}

TEST_F(MusicFile, LoudButWithHeadroomAndLoopsWithoutASeam) {
    float peak = 0;
    for (float s : samples) peak = std::max(peak, std::abs(s));
    EXPECT_LE(peak, 0.95f);
    EXPECT_GT(rms(samples, 0, samples.size()), 0.05);

    // Nothing fades out or in at the loop point: both ends play at a level like the rest,
    // and the last sample leads into the first as smoothly as neighbouring samples do.
    const std::size_t tenth = 2400;
    EXPECT_GT(rms(samples, 0, tenth), 0.03);
    EXPECT_GT(rms(samples, samples.size() - tenth, tenth), 0.03);
    EXPECT_LT(std::abs(samples.back() - samples.front()), 0.1f);

    // No silent stretch anywhere (a gap would be heard on every repeat).
    for (std::size_t from = 0; from + tenth <= samples.size(); from += tenth)
        EXPECT_GT(rms(samples, from, tenth), 0.01) << "at " << from / 24000.0 << " s";
}

TEST_F(MusicFile, LoadsAndConvertsToTheMixerFormat) {
    SDL_AudioSpec source{};
    Uint8* wav = nullptr;
    Uint32 length = 0;
    ASSERT_TRUE(SDL_LoadWAV(music_path.string().c_str(), &source, &wav, &length)) << SDL_GetError();
    EXPECT_EQ(source.freq, 24000);
    EXPECT_EQ(source.channels, 1);
    const SDL_AudioSpec mixer{SDL_AUDIO_F32, 1, 24000};
    Uint8* converted = nullptr;
    int converted_length = 0;
    EXPECT_TRUE(SDL_ConvertAudioSamples(&source, wav, static_cast<int>(length), &mixer, &converted,
                                        &converted_length))
        << SDL_GetError();
    EXPECT_EQ(static_cast<std::size_t>(converted_length) / 4, samples.size());
    SDL_free(converted);
    SDL_free(wav);
}

} // namespace
