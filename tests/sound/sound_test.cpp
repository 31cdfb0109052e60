// Synthesis, the cache that keeps what was synthesised, and the mixer that plays it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "sound/sound_cache.h"
#include "sound/sound_mixer.h"
#include "sound/sound_samples.h"

namespace kestrel {
namespace {

// The synthesiser's running state at one sample, computed independently: time t, progress p,
// tone phase, white noise w from the low 16 bits of a 32-bit LCG and the low-passed rumble r.
struct At {
    double t = 0, p = 0, phase = 0, w = 0, r = 0, tone = 0; // tone = sin(phase)
};
using Rule = std::function<double(const At&)>; // a frequency in Hz or a signal

const auto odd = [](double x) { return static_cast<long>(std::floor(x)) % 2 != 0; };
const auto sweep = [](double from, double by = 0) -> Rule {
    return [=](const At& a) { return from + by * a.p; };
};
// Two tones alternating `per_second` times a second, the first one first.
const auto beat = [](double per_second, double first, double second) -> Rule {
    return [=](const At& a) { return odd(per_second * a.t) ? second : first; };
};
const Rule arpeggio = [](const At& a) {
    const double notes[] = {523.25, 659.25, 783.99, 1046.5};
    return notes[std::min(static_cast<int>(std::floor(4 * a.p)), 3)];
};
const Rule fall = sweep(1050, -500);
const Rule wobble = [](const At& a) { return 120 + 60 * std::sin(15 * a.t); };
const Rule tone = [](const At& a) { return a.tone; };
const Rule hiss = [](const At& a) { return 0.8 * a.w + 0.4 * a.tone; };
const Rule thud = [](const At& a) { return 0.5 * a.w + 3 * a.r; };
const Rule rumble = [](const At& a) { return 3 * a.r + 0.4 * a.tone; };
const Rule growl = [](const At& a) { return 0.5 * a.tone + 2.5 * a.r; };
const Rule chord = [](const At& a) {
    return 0.5 * a.tone + 0.25 * std::sin(1.5 * a.phase) + 0.15 * std::sin(2 * a.phase);
};
const Rule gate = [](const At& a) { return (odd(8 * a.p) ? 0.05 : 0.7) * a.w + 0.15 * a.tone; };
const Rule alarm = [](const At& a) { return (odd(6 * a.p) ? 0.05 : 0.6) * a.w + 0.2 * a.tone; };
const Rule explosion = [](const At& a) {
    return 0.15 * a.tone + 3 * a.r + (a.t < 0.04 ? 0.9 : 0.08) * a.w;
};

// clang-format off
struct Effect { int effect; unsigned variant; std::size_t count; double amplitude; Rule f, v; };
// clang-format on

// Each row sample by sample: the count from the duration, the tone phase accumulated per
// sample, the signal, a 3 ms attack, the quadratic decay and the clamp to -0.8..0.8.
TEST(SoundSamples, EveryEffectFollowsItsRules) {
    // clang-format off
    const Effect table[] = {
        {1, 0, 1680, .32, sweep(1100), tone},          {8, 0, 1680, .32, sweep(2000), tone},
        {2, 0, 3600, .32, sweep(130), tone},           {12, 0, 3600, .32, sweep(950), tone},
        {-7, 5, 3600, .32, sweep(90), tone},           {14, 0, 3600, .32, sweep(900, -700), tone},
        {27, 0, 15600, .32, sweep(660, 440), tone},    {28, 0, 15600, .32, sweep(440, 880), tone},
        {30, 0, 15600, .32, sweep(160, 80), tone},     {29, 0, 15600, .32, beat(12, 880, 220), tone},
        {18, 0, 24000, .32, beat(8, 900, 600), tone},  {26, 0, 21600, .32, beat(6, 720, 480), tone},
        {25, 0, 21600, .32, wobble, tone},             {4, 0, 26400, .32, sweep(200, 1100), chord},
        {17, 9, 16800, .32, sweep(200, 1100), chord},
        // The reward arpeggio, and its falling form for variants 512..767 (boundaries included).
        {3, 0, 7200, .32, arpeggio, tone},             {6, 511, 12000, .32, arpeggio, tone},
        {6, 512, 12000, .32, fall, tone},              {16, 0, 12000, .32, arpeggio, tone},
        {19, 767, 3600, .32, fall, tone},              {20, 768, 3600, .32, arpeggio, tone},
        {23, 0, 3600, .32, arpeggio, tone},            {3, 600, 7200, .32, fall, alarm},
        {5, 3, 3600, .32, sweep(90), hiss},            {7, 0, 3600, .32, sweep(90), hiss},
        {13, 4, 3600, .32, sweep(150), hiss},          {13, 2, 6000, .5, sweep(150), thud},
        {13, 3, 5280, .32, sweep(240, -150), rumble},  {9, 0, 19200, .55, sweep(90), explosion},
        {10, 7, 19200, .55, sweep(90), explosion},     {11, 1, 19200, .45, sweep(210, -100), growl},
        {11, 2, 12000, .45, sweep(140, -100), growl},  {24, 0, 12000, .32, sweep(160), gate},
        {24, 1, 12000, .32, sweep(900), gate},         {24, 2, 12000, .32, sweep(350), gate}};
    // clang-format on
    for (const Effect& e : table) {
        const std::vector<float> s = sound_samples(e.effect, e.variant);
        ASSERT_EQ(s.size(), e.count) << e.effect << " " << e.variant;
        std::uint32_t seed = static_cast<std::uint32_t>(e.effect * 97) + e.variant + 12345u;
        At at;
        for (std::size_t i = 0; i < s.size(); ++i) {
            at.t = static_cast<double>(i) / 24000.0;
            at.p = static_cast<double>(i) / static_cast<double>(e.count);
            seed = seed * 1664525u + 1013904223u;
            at.w = static_cast<double>(seed & 0xFFFF) / 32768.0 - 1.0;
            at.r = at.r * 0.94 + at.w * 0.06;
            at.tone = std::sin(at.phase += e.f(at) * 2 * std::numbers::pi / 24000.0);
            const double x =
                std::min(at.t / 0.003, 1.0) * e.amplitude * (1 - at.p) * (1 - at.p) * e.v(at);
            ASSERT_NEAR(s[i], std::clamp(x, -.8, .8), 2e-6)
                << e.effect << ' ' << e.variant << ' ' << i;
        }
    }
}

std::vector<float> render(SoundMixer& mixer, std::size_t count) {
    std::vector<float> out(count, 123.0f); // garbage the mixer must overwrite
    mixer.render(out);
    return out;
}

SoundMixer::Samples fresh(int effect, unsigned variant) {
    return std::make_shared<const std::vector<float>>(sound_samples(effect, variant));
}

// Effects 1 and 8 are 1680 samples each, 2 and 5 are 3600, 4 is 26400.
TEST(SoundCacheAndMixer, SharedLeastRecentlyUsedBuffersMixedWithMusicInOneRenderOrInParts) {
    SoundCache cache;
    const SoundMixer::Samples first = cache.get(4, 0);
    EXPECT_EQ(*first, sound_samples(4, 0));
    EXPECT_EQ(cache.get(4, 0), first);             // the same buffer, not a copy
    EXPECT_NE(*cache.get(5, 1), *cache.get(5, 0)); // the variant is part of the key
    EXPECT_EQ(*cache.get(-7, 0xFFFFFFFF), sound_samples(-7, 0xFFFFFFFF));
    EXPECT_EQ(std::pair(cache.size(), cache.bytes()), std::pair(4ul, 4ul * (26400 + 3 * 3600)));

    SoundCache small(4 * 2 * 1680); // bytes: exactly two short effects
    const SoundMixer::Samples a = small.get(1, 0);
    small.get(8, 0);
    EXPECT_EQ(small.bytes(), 4ul * 2 * 1680); // full is not over
    EXPECT_EQ(small.get(1, 0), a);            // and makes effect 1 the most recent
    small.get(8, 1);                          // evicts effect 8, not effect 1
    EXPECT_EQ(small.size(), 2u);
    EXPECT_EQ(small.get(1, 0), a);
    small.get(2, 0); // larger than the whole capacity: everything else goes, it stays
    EXPECT_EQ(std::pair(small.size(), small.bytes()), std::pair(1ul, 4ul * 3600));
    EXPECT_NE(small.get(1, 0), a); // synthesised anew; the evicted buffer lives on in `a`

    // The default bound keeps the store to a few MiB: 19 of the longest effects.
    for (unsigned v = 0; v < 40; ++v) cache.get(4, v);
    EXPECT_EQ(cache.size(), 19u);

    // Music loops at its smoothed gain; cached voices add a fresh synthesis scaled by level x
    // volume; finished ones leave, the rest keep order and position; split renders agree.
    const int effects[] = {4, 1, 17, 8, 9};
    SoundMixer mixer;
    mixer.music = {0.5f, -0.5f, 1.0f};
    std::tie(mixer.music_level, mixer.music_volume, mixer.effects_volume) =
        std::tuple(.25f, .8f, .5f);
    std::vector<float> expected(2000);
    double gain = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<float>((gain += (0.2 - gain) * 0.0003) * mixer.music[i % 3]);
    for (int effect : effects) {
        mixer.play(cache.get(effect, 0));
        const std::vector<float> s = sound_samples(effect, 0);
        for (std::size_t i = 0; i < expected.size() && i < s.size(); ++i)
            expected[i] += s[i] * 0.85f * 0.5f;
    }
    SoundMixer split = mixer;
    const std::vector<float> out = render(mixer, 2000);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(out[i], expected[i], 1e-5f) << i;
    EXPECT_EQ(mixer.music_position, 2000u % 3);
    ASSERT_EQ(mixer.voices.size(), 3u);
    for (int k = 0; k < 3; ++k) // shared buffers, no copies
        EXPECT_EQ(std::pair(mixer.voices[k].samples, mixer.voices[k].position),
                  std::pair(cache.get(effects[2 * k], 0), std::uint64_t{2000}));
    std::vector<float> got;
    for (std::size_t n : {1u, 511u, 1168u, 0u, 320u}) // an empty render moves nothing either
        std::ranges::copy(render(split, n), std::back_inserter(got));
    EXPECT_EQ(got, out);
}

// At most 32 voices and none with effects off; states the owner can leave behind, a sum past
// the output limit, and music turned off.
TEST(SoundMixer, KeepsAtMost32VoicesSurvivesLeftoverStatesClampsAndFades) {
    SoundMixer full;
    std::vector<SoundMixer::Samples> played;
    for (unsigned v = 0; v <= 32; ++v) {
        ASSERT_EQ(full.voices.size(), v); // up to the limit nothing is dropped
        played.push_back(fresh(5, v));
        full.play(played.back());
    }
    ASSERT_EQ(full.voices.size(), 29u); // the 33rd dropped the four oldest
    for (unsigned i = 0; i < 29; ++i) EXPECT_EQ(full.voices[i].samples, played[i + 4]) << i;
    full.effects_on = false;
    full.play(played[0]);
    EXPECT_EQ(full.voices.size(), 29u); // nothing added, nothing dropped until the callback
    EXPECT_EQ(render(full, 256), std::vector<float>(256, 0.0f));
    EXPECT_TRUE(full.voices.empty());
    EXPECT_NEAR(full.music_gain, 0.2 * (1 - std::pow(0.9997, 256)), 1e-6); // glides, no track

    SoundMixer mixer; // music swapped for a shorter track while the position was past its end
    mixer.music = {1.0f, -1.0f};
    mixer.music_position = 900;
    mixer.music_gain = 0.2f;
    EXPECT_EQ(render(mixer, 3), (std::vector<float>{0.2f, -0.2f, 0.2f}));
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

    // Off, the music gain glides to 0 over about a quarter second.
    mixer.music_gain = 0.2f; // the bursts have ended
    mixer.music_on = false;
    EXPECT_NEAR(render(mixer, 24000)[6000], 0.2 * std::pow(0.9997, 6001), 1e-5); // about 3% left
}

} // namespace
} // namespace kestrel
