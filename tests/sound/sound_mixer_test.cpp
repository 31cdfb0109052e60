// The mixer, and the cache that feeds it synthesised effects.
#include "sound/sound_mixer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "sound/sound_cache.h"
#include "sound/sound_samples.h"

namespace kestrel {
namespace {

std::vector<float> render(SoundMixer& mixer, std::size_t count) {
    std::vector<float> out(count, 123.0f); // garbage the mixer must overwrite
    mixer.render(out);
    return out;
}

SoundMixer::Samples fresh(int effect, unsigned variant) {
    return std::make_shared<const std::vector<float>>(sound_samples(effect, variant));
}

constexpr std::size_t f32 = sizeof(float);

// Effects 1 and 8 are 1680 samples each, 2 and 5 are 3600, 4 is 26400.
TEST(SoundCache, SharesOneBufferPerKeyAndForgetsTheLeastRecentlyUsed) {
    SoundCache cache;
    const SoundMixer::Samples first = cache.get(4, 0);
    EXPECT_EQ(*first, sound_samples(4, 0));
    EXPECT_EQ(cache.get(4, 0), first);             // the same buffer, not a copy
    EXPECT_NE(*cache.get(5, 1), *cache.get(5, 0)); // the variant is part of the key
    EXPECT_EQ(*cache.get(-7, 0xFFFFFFFF), sound_samples(-7, 0xFFFFFFFF));
    EXPECT_EQ(std::pair(cache.size(), cache.bytes()), std::pair(4ul, f32 * (26400 + 3 * 3600)));

    SoundCache small(f32 * 2 * 1680); // exactly two short effects
    const SoundMixer::Samples a = small.get(1, 0);
    small.get(8, 0);
    EXPECT_EQ(small.bytes(), f32 * 2 * 1680); // full is not over
    EXPECT_EQ(small.get(1, 0), a);            // and makes effect 1 the most recent
    small.get(8, 1);                          // evicts effect 8, not effect 1
    EXPECT_EQ(small.size(), 2u);
    EXPECT_EQ(small.get(1, 0), a);
    small.get(2, 0); // larger than the whole capacity: everything else goes, it stays
    EXPECT_EQ(std::pair(small.size(), small.bytes()), std::pair(1ul, f32 * 3600));
    EXPECT_NE(small.get(1, 0), a); // synthesised anew; the evicted buffer lives on in `a`

    // The default bound keeps the store to a few MiB: 19 of the longest effects.
    for (unsigned v = 0; v < 40; ++v) cache.get(4, v);
    EXPECT_EQ(cache.size(), 19u);
}

TEST(SoundMixer, PlayKeepsAtMost32VoicesAndNoneWithEffectsOff) {
    SoundMixer mixer;
    std::vector<SoundMixer::Samples> played;
    for (unsigned v = 0; v <= 32; ++v) {
        ASSERT_EQ(mixer.voices.size(), v); // up to the limit nothing is dropped
        played.push_back(fresh(5, v));
        mixer.play(played.back());
    }
    ASSERT_EQ(mixer.voices.size(), 29u); // the 33rd dropped the four oldest
    for (unsigned i = 0; i < 29; ++i) EXPECT_EQ(mixer.voices[i].samples, played[i + 4]) << i;
    mixer.effects_on = false;
    mixer.play(played[0]);
    EXPECT_EQ(mixer.voices.size(), 29u); // nothing added, nothing dropped until the callback
    EXPECT_EQ(render(mixer, 256), std::vector<float>(256, 0.0f));
    EXPECT_TRUE(mixer.voices.empty());
}

// Cached voices sound like a fresh synthesis scaled by level x volume; finished ones leave
// and the rest keep order and position. Without a track the music gain still glides.
TEST(SoundMixer, VoicesAreScaledSummedAndRemovedInOrder) {
    const int effects[] = {4, 1, 17, 8, 9}; // 1 and 8 are 1680 samples, the others longer
    SoundCache cache;
    SoundMixer mixer;
    mixer.effects_volume = 0.5f;
    std::vector<float> expected(2000, 0.0f);
    for (int effect : effects) {
        mixer.play(cache.get(effect, 0));
        const std::vector<float> s = sound_samples(effect, 0);
        for (std::size_t i = 0; i < expected.size() && i < s.size(); ++i)
            expected[i] += s[i] * 0.85f * 0.5f;
    }
    const std::vector<float> out = render(mixer, 2000);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(out[i], expected[i], 1e-6f) << i;
    EXPECT_NEAR(mixer.music_gain, 0.2 * (1 - std::pow(0.9997, 2000)), 1e-5);
    EXPECT_EQ(mixer.music_position, 0u);
    ASSERT_EQ(mixer.voices.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(mixer.voices[k].samples, cache.get(effects[2 * k], 0)) << k; // shared, no copy
        EXPECT_EQ(mixer.voices[k].position, 2000u);
    }
}

TEST(SoundMixer, SplittingARenderGivesTheSameSamples) {
    SoundMixer whole;
    whole.music = {0.5f, -0.25f, 1.0f, 0.0f, -1.0f};
    whole.play(fresh(1, 0));
    whole.play(fresh(13, 2));
    SoundMixer split = whole;
    const std::vector<float> expected = render(whole, 3000);
    std::vector<float> got;
    for (std::size_t n : {1u, 511u, 1168u, 0u, 1320u}) {
        const std::vector<float> part = render(split, n);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, expected); // an empty render in the middle moved nothing either
}

TEST(SoundMixer, MusicLoopsAtItsSmoothedGainAndFadesWhenOff) {
    SoundMixer mixer;
    mixer.music = {0.5f, -0.5f, 1.0f};
    mixer.music_level = 0.25f;
    mixer.music_volume = 0.8f;
    const std::vector<float> out = render(mixer, 7);
    double gain = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        gain += (0.2 - gain) * 0.0003;
        ASSERT_NEAR(out[i], gain * mixer.music[i % 3], 1e-7) << i;
    }
    EXPECT_EQ(mixer.music_position, 1u);
    // Off, or at volume 0, the gain glides to 0 over about a quarter second.
    for (const auto& [on, volume] : {std::pair{false, 1.0f}, std::pair{true, 0.0f}}) {
        SoundMixer fading;
        fading.music = std::vector<float>(100, 1.0f);
        fading.music_gain = 0.2f;
        std::tie(fading.music_on, fading.music_volume) = std::pair(on, volume);
        const std::vector<float> faded = render(fading, 24000);
        for (std::size_t i = 1; i < faded.size(); ++i) ASSERT_LT(faded[i], faded[i - 1]) << i;
        EXPECT_NEAR(faded[6000], 0.2 * std::pow(0.9997, 6001), 1e-5); // about 3% left
    }
}

// States the owner can leave behind, and a sum past the output limit.
TEST(SoundMixer, SurvivesLeftoverStatesAndClampsLoudSums) {
    SoundMixer mixer; // music swapped for a shorter track while the position was past its end
    mixer.music = std::vector<float>(1000, 0.5f);
    render(mixer, 900);
    mixer.music = {1.0f, -1.0f};
    mixer.music_gain = 0.2f;
    mixer.music_level = 0.2f;
    EXPECT_EQ(render(mixer, 3), (std::vector<float>{0.2f, -0.2f, 0.2f}));
    EXPECT_EQ(mixer.music_position, 1u);
    // A voice already at or past its end is finished, contributes nothing and is removed.
    mixer.music.clear();
    const auto ten = std::make_shared<const std::vector<float>>(10, 0.5f);
    mixer.voices = {{ten, 10}, {ten, 25}, {fresh(1, 0), 1680}};
    EXPECT_EQ(render(mixer, 16), std::vector<float>(16, 0.0f));
    EXPECT_TRUE(mixer.voices.empty());

    // Identical noise bursts add up in phase; exactly at both limits means the clamp did it.
    mixer.music = std::vector<float>(4096, 1.0f);
    mixer.music_level = 1.0f;
    const SoundMixer::Samples burst = fresh(9, 0);
    for (int i = 0; i < 3; ++i) mixer.play(burst);
    const std::vector<float> out = render(mixer, 20000);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0.95f);
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), -0.95f);
}

} // namespace
} // namespace kestrel
