#include "sound/sound_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace kestrel {
namespace {

// The synthesiser's running state at one sample, computed independently: time t, progress p,
// tone phase, white noise w from the low 16 bits of a 32-bit LCG and the low-passed rumble r.
struct At {
    double t = 0, p = 0, phase = 0, w = 0, r = 0;
    double tone() const { return std::sin(phase); }
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
const Rule tone = [](const At& a) { return a.tone(); };
const Rule hiss = [](const At& a) { return 0.8 * a.w + 0.4 * a.tone(); };
const Rule thud = [](const At& a) { return 0.5 * a.w + 3 * a.r; };
const Rule rumble = [](const At& a) { return 3 * a.r + 0.4 * a.tone(); };
const Rule growl = [](const At& a) { return 0.5 * a.tone() + 2.5 * a.r; };
const Rule chord = [](const At& a) {
    return 0.5 * a.tone() + 0.25 * std::sin(1.5 * a.phase) + 0.15 * std::sin(2 * a.phase);
};
const Rule gate = [](const At& a) { return (odd(8 * a.p) ? 0.05 : 0.7) * a.w + 0.15 * a.tone(); };
const Rule alarm = [](const At& a) { return (odd(6 * a.p) ? 0.05 : 0.6) * a.w + 0.2 * a.tone(); };
const Rule explosion = [](const At& a) {
    return 0.15 * a.tone() + 3 * a.r + (a.t < 0.04 ? 0.9 : 0.08) * a.w;
};

// clang-format off
struct Effect { int effect; unsigned variant; std::size_t count; double amplitude; Rule f, v; };
// clang-format on

// Every row is checked sample by sample against the rules: the count from the duration, the
// tone phase accumulated per sample, the signal, a 3 ms attack, the quadratic decay and the
// clamp to -0.8..0.8.
TEST(SoundSamples, EveryEffectFollowsItsRules) {
    // clang-format off
    const Effect table[] = {
        {1, 0, 1680, .32, sweep(1100), tone},          {8, 0, 1680, .32, sweep(2000), tone},
        {2, 0, 3600, .32, sweep(130), tone},           {12, 0, 3600, .32, sweep(950), tone},
        {15, 0, 3600, .32, sweep(90), tone},           {0, 0, 3600, .32, sweep(90), tone},
        {31, 0, 3600, .32, sweep(90), tone},           {-7, 5, 3600, .32, sweep(90), tone},
        {14, 0, 3600, .32, sweep(900, -700), tone},    {27, 0, 15600, .32, sweep(660, 440), tone},
        {28, 0, 15600, .32, sweep(440, 880), tone},    {30, 0, 15600, .32, sweep(160, 80), tone},
        {29, 0, 15600, .32, beat(12, 880, 220), tone}, {18, 0, 24000, .32, beat(8, 900, 600), tone},
        {26, 0, 21600, .32, beat(6, 720, 480), tone},  {25, 0, 21600, .32, wobble, tone},
        {4, 0, 26400, .32, sweep(200, 1100), chord},   {17, 9, 16800, .32, sweep(200, 1100), chord},
        // The reward arpeggio, and its falling form for variants 512..767 (boundaries included).
        {3, 0, 7200, .32, arpeggio, tone},             {6, 511, 12000, .32, arpeggio, tone},
        {6, 512, 12000, .32, fall, tone},              {16, 0, 12000, .32, arpeggio, tone},
        {19, 767, 3600, .32, fall, tone},              {20, 768, 3600, .32, arpeggio, tone},
        {23, 0, 3600, .32, arpeggio, tone},            {3, 600, 7200, .32, fall, alarm},
        {5, 3, 3600, .32, sweep(90), hiss},            {7, 0, 3600, .32, sweep(90), hiss},
        {13, 0, 3600, .32, sweep(150), hiss},          {13, 4, 3600, .32, sweep(150), hiss},
        {13, 2, 6000, .5, sweep(150), thud},           {13, 3, 5280, .32, sweep(240, -150), rumble},
        {9, 0, 19200, .55, sweep(90), explosion},      {10, 7, 19200, .55, sweep(90), explosion},
        {11, 1, 19200, .45, sweep(210, -100), growl},  {11, 2, 12000, .45, sweep(140, -100), growl},
        {11, 0, 12000, .45, sweep(140, -100), growl},  {24, 0, 12000, .32, sweep(160), gate},
        {24, 1, 12000, .32, sweep(900), gate},         {24, 2, 12000, .32, sweep(350), gate},
        {24, 3, 12000, .32, sweep(160), gate}};
    // clang-format on
    for (const Effect& e : table) {
        SCOPED_TRACE(testing::Message() << "effect " << e.effect << " variant " << e.variant);
        const std::vector<float> s = sound_samples(e.effect, e.variant);
        ASSERT_EQ(s.size(), e.count);
        std::uint32_t seed = static_cast<std::uint32_t>(e.effect * 97) + e.variant + 12345u;
        At at;
        for (std::size_t i = 0; i < s.size(); ++i) {
            at.t = static_cast<double>(i) / 24000.0;
            at.p = static_cast<double>(i) / static_cast<double>(e.count);
            seed = seed * 1664525u + 1013904223u;
            at.w = static_cast<double>(seed & 0xFFFF) / 32768.0 - 1.0;
            at.r = at.r * 0.94 + at.w * 0.06;
            at.phase += e.f(at) * 2 * std::numbers::pi / 24000.0;
            const double x =
                std::min(at.t / 0.003, 1.0) * e.amplitude * (1 - at.p) * (1 - at.p) * e.v(at);
            ASSERT_NEAR(s[i], std::clamp(x, -0.8, 0.8), 2e-6) << "sample " << i;
        }
    }
}

TEST(SoundSamples, AnyIdIsDeterministicStartsSilentAndStaysWithinTheClamp) {
    for (int effect = -1; effect <= 31; ++effect)
        for (unsigned variant : {0u, 1u, 2u, 3u, 600u, 0xFFFFFFFFu}) {
            const std::vector<float> s = sound_samples(effect, variant);
            ASSERT_EQ(s, sound_samples(effect, variant)) << effect << " " << variant;
            ASSERT_EQ(s.front(), 0.0f) << effect << " " << variant;
            ASSERT_LE(std::fabs(std::ranges::max(s, {}, [](float x) { return std::fabs(x); })),
                      0.8f);
        }
}

} // namespace
} // namespace kestrel
