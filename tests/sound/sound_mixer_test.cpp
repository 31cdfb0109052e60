#include "sound/sound_mixer.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "sound/sound_samples.h"

namespace kestrel {
namespace {

std::vector<float> render(SoundMixer& mixer, std::size_t count) {
    std::vector<float> out(count, 123.0f); // garbage the mixer must overwrite
    mixer.render(out);
    return out;
}

TEST(SoundMixer, EffectsOffPlaysNothingAndDropsPlayingVoicesAtTheNextRender) {
    SoundMixer mixer;
    mixer.effects_on = false;
    mixer.play(4, 0);
    EXPECT_TRUE(mixer.voices.empty());

    mixer.effects_on = true;
    mixer.play(4, 0);
    mixer.play(9, 0);
    mixer.effects_on = false;
    EXPECT_EQ(mixer.voices.size(), 2u); // nothing happens until the next callback
    for (float s : render(mixer, 256)) ASSERT_EQ(s, 0.0f);
    EXPECT_TRUE(mixer.voices.empty());
}

TEST(SoundMixer, ThirtyThirdPlayDropsTheFourOldest) {
    SoundMixer mixer;
    // Effect 5 is noise seeded by the variant, so each voice is recognisable.
    for (unsigned v = 0; v < 32; ++v) mixer.play(5, v);
    ASSERT_EQ(mixer.voices.size(), 32u); // exactly at the limit: nothing dropped yet
    EXPECT_EQ(mixer.voices[0].samples, sound_samples(5, 0));

    mixer.play(5, 32);
    ASSERT_EQ(mixer.voices.size(), 29u);
    for (unsigned i = 0; i < 29; ++i) {
        EXPECT_EQ(mixer.voices[i].samples, sound_samples(5, i + 4)) << "voice " << i;
    }
}

TEST(SoundMixer, VoicesAreScaledByLevelAndVolumeAndRemovedWhenFinished) {
    SoundMixer mixer;
    mixer.music_on = false;
    mixer.effects_volume = 0.5f;
    mixer.play(1, 0); // 1680 samples
    mixer.play(4, 0); // 26400 samples
    const std::vector<float> a = sound_samples(1, 0);
    const std::vector<float> b = sound_samples(4, 0);

    const std::vector<float> out = render(mixer, 2000);
    const float gain = 0.85f * 0.5f;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float expected = (i < a.size() ? a[i] * gain : 0.0f) + b[i] * gain;
        ASSERT_NEAR(out[i], expected, 1e-6f) << "sample " << i;
    }
    // The short voice is gone; the long one keeps its place and position.
    ASSERT_EQ(mixer.voices.size(), 1u);
    EXPECT_EQ(mixer.voices[0].samples, b);
    EXPECT_EQ(mixer.voices[0].position, 2000u);
}

TEST(SoundMixer, RemovingFinishedVoicesKeepsTheOrderOfTheOthers) {
    SoundMixer mixer;
    mixer.play(4, 0);    // long
    mixer.play(1, 0);    // short
    mixer.play(17, 0);   // long
    mixer.play(8, 0);    // short
    mixer.play(9, 0);    // long
    render(mixer, 1680); // exactly the length of the short ones
    ASSERT_EQ(mixer.voices.size(), 3u);
    EXPECT_EQ(mixer.voices[0].samples, sound_samples(4, 0));
    EXPECT_EQ(mixer.voices[1].samples, sound_samples(17, 0));
    EXPECT_EQ(mixer.voices[2].samples, sound_samples(9, 0));
}

TEST(SoundMixer, SplittingARenderGivesTheSameSamples) {
    SoundMixer whole;
    whole.music = {0.5f, -0.25f, 1.0f, 0.0f, -1.0f};
    whole.play(1, 0);
    whole.play(13, 2);
    SoundMixer split = whole;

    const std::vector<float> expected = render(whole, 3000);
    std::vector<float> got;
    for (std::size_t n : {1u, 511u, 1168u, 0u, 1320u}) {
        const std::vector<float> part = render(split, n);
        got.insert(got.end(), part.begin(), part.end());
    }
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << i;
    EXPECT_EQ(split.music_position, whole.music_position);
    EXPECT_EQ(split.music_gain, whole.music_gain);
    EXPECT_EQ(split.voices.size(), whole.voices.size());
}

TEST(SoundMixer, WithoutMusicTheGainStillMovesAndOnlyEffectsAreHeard) {
    SoundMixer mixer;
    for (float s : render(mixer, 1000)) ASSERT_EQ(s, 0.0f);
    // One-pole glide toward 0.2 x 1.0: gain after n samples is 0.2 (1 - 0.9997^n).
    EXPECT_NEAR(mixer.music_gain, 0.2 * (1 - std::pow(0.9997, 1000)), 1e-5);
    EXPECT_EQ(mixer.music_position, 0u);

    mixer.play(2, 0);
    const std::vector<float> tone = sound_samples(2, 0);
    const std::vector<float> out = render(mixer, tone.size());
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_FLOAT_EQ(out[i], tone[i] * 0.85f) << i;
    EXPECT_TRUE(mixer.voices.empty());
}

TEST(SoundMixer, MusicLoopsAtItsSmoothedGain) {
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

    // Settled gain: the output is the track at level x volume.
    mixer.music_gain = 0.2f;
    const std::vector<float> settled = render(mixer, 3);
    EXPECT_FLOAT_EQ(settled[0], 0.2f * -0.5f);
    EXPECT_FLOAT_EQ(settled[1], 0.2f * 1.0f);
    EXPECT_FLOAT_EQ(settled[2], 0.2f * 0.5f);
}

TEST(SoundMixer, MusicOffFadesOutRatherThanCutting) {
    SoundMixer mixer;
    mixer.music = std::vector<float>(100, 1.0f);
    mixer.music_gain = 0.2f;
    mixer.music_on = false;
    const std::vector<float> out = render(mixer, 24000);
    EXPECT_GT(out[0], 0.19f); // first sample barely changed
    for (std::size_t i = 1; i < out.size(); ++i) ASSERT_LT(out[i], out[i - 1]) << i;
    EXPECT_NEAR(out[6000], 0.2 * std::pow(0.9997, 6001), 1e-4); // quarter second: ~3%
    EXPECT_LT(mixer.music_gain, 0.001f);

    // Muting the player's music volume has the same target.
    SoundMixer muted;
    muted.music_gain = 0.2f;
    muted.music_volume = 0.0f;
    render(muted, 1000);
    EXPECT_NEAR(muted.music_gain, 0.2 * std::pow(0.9997, 1000), 1e-5);
}

TEST(SoundMixer, ThreeLoudVoicesAreClampedToTheOutputLimit) {
    SoundMixer mixer;
    mixer.music = std::vector<float>(4096, 1.0f);
    mixer.music_gain = 0.2f;
    mixer.music_level = 1.0f;
    for (int i = 0; i < 3; ++i) mixer.play(9, 0); // identical noise bursts add up in phase
    float high = 0, low = 0;
    for (int block = 0; block < 40; ++block) {
        for (float s : render(mixer, 512)) {
            ASSERT_GE(s, -0.95f);
            ASSERT_LE(s, 0.95f);
            high = std::max(high, s);
            low = std::min(low, s);
        }
    }
    // Both limits are reached, so the clamp (not quiet input) kept the output in range.
    EXPECT_EQ(high, 0.95f);
    EXPECT_EQ(low, -0.95f);
}

TEST(SoundMixer, SurvivesStatesTheOwnerCanLeaveBehind) {
    // Music swapped for a shorter track while the position pointed past its end.
    SoundMixer mixer;
    mixer.music = std::vector<float>(1000, 0.5f);
    render(mixer, 900);
    mixer.music = {1.0f, -1.0f};
    mixer.music_gain = 0.2f;
    mixer.music_level = 0.2f;
    const std::vector<float> out = render(mixer, 3);
    EXPECT_FLOAT_EQ(out[0], 0.2f);
    EXPECT_FLOAT_EQ(out[1], -0.2f);
    EXPECT_EQ(mixer.music_position, 1u);

    // A voice already at or past its end is finished, contributes nothing and is removed.
    mixer.music.clear();
    mixer.voices.push_back({std::vector<float>(10, 0.5f), 10});
    mixer.voices.push_back({std::vector<float>(10, 0.5f), 25});
    mixer.voices.push_back({{}, 0});
    for (float s : render(mixer, 16)) ASSERT_EQ(s, 0.0f);
    EXPECT_TRUE(mixer.voices.empty());

    // An empty buffer renders nothing and moves nothing.
    mixer.play(1, 0);
    const float gain = mixer.music_gain;
    mixer.render({});
    ASSERT_EQ(mixer.voices.size(), 1u);
    EXPECT_EQ(mixer.voices[0].position, 0u);
    EXPECT_EQ(mixer.music_gain, gain);
}

} // namespace
} // namespace kestrel
