#include "sound/sound_resampler.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "sound/sound_samples.h"

namespace kestrel {
namespace {

// A mixer whose output is exactly its music track: full gain from the first sample.
SoundMixer music_only(std::vector<float> track) {
    SoundMixer mixer;
    mixer.music = std::move(track);
    mixer.music_level = 1.0f;
    mixer.music_gain = 1.0f;
    return mixer;
}

std::vector<float> ramp(std::size_t count, float slope) {
    std::vector<float> track(count);
    for (std::size_t i = 0; i < count; ++i) track[i] = static_cast<float>(i) * slope;
    return track;
}

TEST(SoundResampler, OutputIsTheTrackInterpolatedAtTheRateRatio) {
    for (const int device_rate : {48000, 44100, 24000, 22050}) {
        SCOPED_TRACE(device_rate);
        const float slope = 1e-5f;
        SoundMixer mixer = music_only(ramp(60000, slope));
        SoundResampler resampler(sound_sample_rate, device_rate);
        std::vector<float> out(static_cast<std::size_t>(device_rate)); // one second
        resampler.render(mixer, out);
        // Output k sits at mixer position k x step, one mixer sample behind (the first output
        // is the silence before the track).
        const double step = static_cast<double>(sound_sample_rate) / device_rate;
        EXPECT_EQ(out[0], 0.0f);
        for (std::size_t k = 2; k < out.size(); k += 997) {
            const double position = static_cast<double>(k) * step - 1.0;
            EXPECT_NEAR(out[k], position * slope, 2e-6) << k;
        }
        // One second at the device consumed one second of the mixer.
        EXPECT_NEAR(out.back(), (sound_sample_rate - 1.0 - step) * slope, 2e-6);
    }
}

TEST(SoundResampler, ChunkSizesDoNotChangeTheStream) {
    SoundMixer whole_mixer = music_only(ramp(20000, 3e-5f));
    SoundMixer chunked_mixer = whole_mixer;
    SoundResampler whole(sound_sample_rate, 44100);
    SoundResampler chunked = whole;

    std::vector<float> expected(30000);
    whole.render(whole_mixer, expected);

    std::vector<float> got;
    const std::size_t sizes[] = {1, 17, 255, 256, 257, 3, 1024};
    for (std::size_t i = 0; got.size() < expected.size(); ++i) {
        std::vector<float> part(std::min(sizes[i % 7], expected.size() - got.size()));
        chunked.render(chunked_mixer, part);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, expected);
}

TEST(SoundResampler, TheMixerLimitHoldsAfterConversion) {
    // A hard-clipped square wave with one-sample edges and every effect at once: the worst
    // case for ringing, which a band-limited converter shows as peaks past the clamp.
    std::vector<float> square(24000);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 3) % 2 == 0 ? 1.5f : -1.5f;
    SoundMixer mixer = music_only(square);
    for (int effect = 0; effect < 16; ++effect) mixer.play(effect, 7);
    for (const int device_rate : {44100, 48000, 96000}) {
        SoundResampler resampler(sound_sample_rate, device_rate);
        std::vector<float> out(20000);
        resampler.render(mixer, out);
        float peak = 0;
        for (float s : out) peak = std::max(peak, std::abs(s));
        EXPECT_LE(peak, SoundMixer::output_limit) << device_rate;
        EXPECT_EQ(peak, SoundMixer::output_limit) << device_rate; // the clamp is reached
    }
}

} // namespace
} // namespace kestrel
