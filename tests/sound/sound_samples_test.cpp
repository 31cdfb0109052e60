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

constexpr double two_pi = 2.0 * std::numbers::pi;

struct Expected {
    int effect;
    unsigned variant;
    std::size_t count;
};

TEST(SoundSamples, SampleCountFollowsTheDurationOfEachEffect) {
    const Expected table[] = {
        {27, 0, 15600}, {28, 0, 15600}, {29, 0, 15600}, {30, 0, 15600}, {25, 0, 21600},
        {26, 0, 21600}, {4, 0, 26400},  {11, 1, 19200}, {11, 0, 12000}, {11, 2, 12000},
        {18, 0, 24000}, {24, 1, 12000}, {9, 0, 19200},  {10, 0, 19200}, {3, 0, 7200},
        {3, 600, 7200}, {6, 0, 12000},  {16, 0, 12000}, {17, 0, 16800}, {13, 2, 6000},
        {13, 3, 5280},  {13, 0, 3600},  {13, 1, 3600},  {13, 4, 3600},  {1, 0, 1680},
        {8, 0, 1680},   {2, 0, 3600},   {5, 0, 3600},   {7, 0, 3600},   {12, 0, 3600},
        {14, 0, 3600},  {15, 0, 3600},  {19, 0, 3600},  {23, 0, 3600},  {0, 0, 3600},
        {31, 0, 3600},  {-7, 5, 3600},
    };
    for (const Expected& e : table) {
        EXPECT_EQ(sound_samples(e.effect, e.variant).size(), e.count)
            << "effect " << e.effect << " variant " << e.variant;
    }
}

TEST(SoundSamples, SameArgumentsGiveIdenticalSamplesAndVariantsReseedTheNoise) {
    for (int effect = 0; effect <= 31; ++effect) {
        for (unsigned variant : {0u, 1u, 2u, 3u, 600u}) {
            EXPECT_EQ(sound_samples(effect, variant), sound_samples(effect, variant))
                << "effect " << effect << " variant " << variant;
        }
    }
    // Noise-based effects differ between variants because the variant is part of the seed.
    EXPECT_NE(sound_samples(5, 0), sound_samples(5, 1));
    EXPECT_NE(sound_samples(9, 0), sound_samples(9, 7));
    EXPECT_NE(sound_samples(5, 0), sound_samples(7, 0));
}

TEST(SoundSamples, EverySampleStartsSilentAndStaysWithinTheClamp) {
    for (int effect = -1; effect <= 31; ++effect) {
        for (unsigned variant : {0u, 1u, 2u, 3u, 600u, 0xFFFFFFFFu}) {
            const std::vector<float> s = sound_samples(effect, variant);
            ASSERT_FALSE(s.empty());
            EXPECT_EQ(s.front(), 0.0f) << "effect " << effect;
            for (float x : s) ASSERT_LE(std::fabs(x), 0.8f) << "effect " << effect;
            // The quadratic decay ends in (near) silence.
            EXPECT_LT(std::fabs(s.back()), 1e-6f) << "effect " << effect;
        }
    }
}

// Effect 1 is a plain 1100 Hz tone, so every sample has a closed form: the phase after
// sample i is (i + 1) steps of 1100 x 2 pi / 24000.
TEST(SoundSamples, AttackRampsForThreeMillisecondsThenFollowsTheDecay) {
    const std::vector<float> s = sound_samples(1, 0);
    ASSERT_EQ(s.size(), 1680u);
    EXPECT_EQ(s[0], 0.0f);
    const double n = 1680.0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double p = static_cast<double>(i) / n;
        const double attack = i >= 72 ? 1.0 : static_cast<double>(i) / 72.0;
        const double tone = std::sin(static_cast<double>(i + 1) * 1100.0 * two_pi / 24000.0);
        ASSERT_NEAR(s[i], attack * 0.32 * (1 - p) * (1 - p) * tone, 1e-6) << "sample " << i;
    }
}

// Phase of a tone after sample i when its frequency runs linearly from a to a + b over the
// effect: the sum of (a + b k / n) for k = 0..i, in radians.
double linear_phase(double a, double b, double n, std::size_t i) {
    const double k = static_cast<double>(i);
    return two_pi / 24000.0 * (a * (k + 1) + b * k * (k + 1) / (2 * n));
}

void expect_tone(int effect, unsigned variant, double a, double b) {
    const std::vector<float> s = sound_samples(effect, variant);
    const double n = static_cast<double>(s.size());
    for (std::size_t i = 72; i < s.size(); ++i) {
        const double p = static_cast<double>(i) / n;
        const double v = std::sin(linear_phase(a, b, n, i));
        ASSERT_NEAR(s[i], 0.32 * (1 - p) * (1 - p) * v, 2e-6)
            << "effect " << effect << " variant " << variant << " sample " << i;
    }
}

TEST(SoundSamples, TonesAndSweepsHaveTheirFrequencies) {
    expect_tone(2, 0, 130, 0);
    expect_tone(8, 0, 2000, 0);
    expect_tone(12, 0, 950, 0);
    expect_tone(15, 0, 90, 0);
    expect_tone(0, 0, 90, 0);
    expect_tone(14, 0, 900, -700);
    expect_tone(27, 0, 660, 440);
    expect_tone(28, 0, 440, 880);
    expect_tone(30, 0, 160, 80);
    // The falling form of the reward arpeggio (variants 512..767), boundaries included.
    expect_tone(6, 512, 1050, -500);
    expect_tone(19, 767, 1050, -500);
}

// Counts sign changes of the samples in [begin, end).
int crossings(const std::vector<float>& s, std::size_t begin, std::size_t end) {
    int count = 0;
    for (std::size_t i = begin + 1; i < end; ++i) {
        if ((s[i - 1] < 0) != (s[i] < 0)) ++count;
    }
    return count;
}

// Expected sign changes of a tone of f Hz over the samples [begin, end).
double expected_crossings(double f, std::size_t begin, std::size_t end) {
    return 2.0 * f * static_cast<double>(end - begin) / 24000.0;
}

TEST(SoundSamples, ArpeggioStepsThroughFourNotesByQuarter) {
    for (int effect : {3, 6, 16, 19, 20, 21, 22, 23}) {
        const std::vector<float> s = sound_samples(effect, 0);
        const std::size_t q = s.size() / 4;
        const double notes[] = {523.25, 659.25, 783.99, 1046.5};
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_NEAR(crossings(s, k * q, (k + 1) * q),
                        expected_crossings(notes[k], k * q, (k + 1) * q), 2.0)
                << "effect " << effect << " quarter " << k;
        }
    }
    // 511 and 768 are outside the falling range: still the arpeggio.
    EXPECT_EQ(sound_samples(6, 511).size(), 12000u);
    const std::vector<float> s = sound_samples(6, 768);
    EXPECT_NEAR(crossings(s, 0, 3000), expected_crossings(523.25, 0, 3000), 2.0);
}

TEST(SoundSamples, AlternatingTonesSwitchOnTheirBeat) {
    // 18: 900 Hz in even eighths of a second, 600 Hz in odd ones.
    const std::vector<float> a = sound_samples(18, 0);
    EXPECT_NEAR(crossings(a, 0, 3000), expected_crossings(900, 0, 3000), 2.0);
    EXPECT_NEAR(crossings(a, 3000, 6000), expected_crossings(600, 3000, 6000), 2.0);
    EXPECT_NEAR(crossings(a, 6000, 9000), expected_crossings(900, 6000, 9000), 2.0);
    // 26: 720 Hz then 480 Hz by sixths of a second.
    const std::vector<float> b = sound_samples(26, 0);
    EXPECT_NEAR(crossings(b, 0, 4000), expected_crossings(720, 0, 4000), 2.0);
    EXPECT_NEAR(crossings(b, 4000, 8000), expected_crossings(480, 4000, 8000), 2.0);
    // 29: 880 Hz then 220 Hz by twelfths of a second.
    const std::vector<float> c = sound_samples(29, 0);
    EXPECT_NEAR(crossings(c, 0, 2000), expected_crossings(880, 0, 2000), 2.0);
    EXPECT_NEAR(crossings(c, 2000, 4000), expected_crossings(220, 2000, 4000), 2.0);
}

// The noise source as the synthesiser defines it, computed independently: a 32-bit LCG seeded
// with effect x 97 + variant + 12345, white noise from its low 16 bits and a low-passed rumble.
struct Noise {
    std::uint32_t seed;
    double w = 0;
    double r = 0;

    Noise(int effect, unsigned variant)
        : seed(static_cast<std::uint32_t>(effect * 97) + variant + 12345u) {}
    void step() {
        seed = seed * 1664525u + 1013904223u;
        w = static_cast<double>(seed & 0xFFFF) / 32768.0 - 1.0;
        r = r * 0.94 + w * 0.06;
    }
};

using Frequency = std::function<double(double t, double p)>;
using Signal = std::function<double(double t, double p, double phase, const Noise&)>;

void expect_noise_effect(int effect, unsigned variant, double amplitude, const Frequency& f,
                         const Signal& v) {
    const std::vector<float> s = sound_samples(effect, variant);
    const double n = static_cast<double>(s.size());
    Noise noise(effect, variant);
    double phase = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / 24000.0;
        const double p = static_cast<double>(i) / n;
        noise.step();
        phase += f(t, p) * two_pi / 24000.0;
        const double attack = std::min(t / 0.003, 1.0);
        double x = attack * amplitude * (1 - p) * (1 - p) * v(t, p, phase, noise);
        x = std::clamp(x, -0.8, 0.8);
        ASSERT_NEAR(s[i], x, 2e-6) << "effect " << effect << " variant " << variant << " i " << i;
    }
}

TEST(SoundSamples, NoiseEffectsFollowTheirSignals) {
    const auto fixed = [](double hz) { return [hz](double, double) { return hz; }; };
    const auto odd = [](double x) { return static_cast<long>(std::floor(x)) % 2 != 0; };

    for (int effect : {5, 7}) {
        expect_noise_effect(effect, 3, 0.32, fixed(90), [](double, double, double ph, auto& z) {
            return 0.8 * z.w + 0.4 * std::sin(ph);
        });
    }
    expect_noise_effect(13, 1, 0.32, fixed(150), [](double, double, double ph, auto& z) {
        return 0.8 * z.w + 0.4 * std::sin(ph);
    });
    expect_noise_effect(13, 2, 0.5, fixed(150),
                        [](double, double, double, auto& z) { return 0.5 * z.w + 3 * z.r; });
    expect_noise_effect(
        13, 3, 0.32, [](double, double p) { return 240 - 150 * p; },
        [](double, double, double ph, auto& z) { return 3 * z.r + 0.4 * std::sin(ph); });
    for (int effect : {9, 10}) {
        expect_noise_effect(effect, 0, 0.55, fixed(90), [](double t, double, double ph, auto& z) {
            return 0.15 * std::sin(ph) + 3 * z.r + (t < 0.04 ? 0.9 : 0.08) * z.w;
        });
    }
    for (unsigned variant : {1u, 2u}) {
        expect_noise_effect(
            11, variant, 0.45,
            [variant](double, double p) { return (variant == 1 ? 210 : 140) - 100 * p; },
            [](double, double, double ph, auto& z) { return 0.5 * std::sin(ph) + 2.5 * z.r; });
    }
    const double gate_tones[] = {160, 900, 350, 160};
    for (unsigned variant : {0u, 1u, 2u, 3u}) {
        expect_noise_effect(24, variant, 0.32, fixed(gate_tones[variant]),
                            [odd](double, double p, double ph, auto& z) {
                                return (odd(8 * p) ? 0.05 : 0.7) * z.w + 0.15 * std::sin(ph);
                            });
    }
    expect_noise_effect(
        3, 600, 0.32, [](double, double p) { return 1050 - 500 * p; },
        [odd](double, double p, double ph, auto& z) {
            return (odd(6 * p) ? 0.05 : 0.6) * z.w + 0.2 * std::sin(ph);
        });
}

TEST(SoundSamples, ChordAndWobbleEffectsFollowTheirSignals) {
    const auto chord = [](double, double, double ph, const Noise&) {
        return 0.5 * std::sin(ph) + 0.25 * std::sin(1.5 * ph) + 0.15 * std::sin(2 * ph);
    };
    const auto rise = [](double, double p) { return 200 + 1100 * p; };
    expect_noise_effect(4, 0, 0.32, rise, chord);
    expect_noise_effect(17, 9, 0.32, rise, chord);
    expect_noise_effect(
        25, 0, 0.32, [](double t, double) { return 120 + 60 * std::sin(15 * t); },
        [](double, double, double ph, const Noise&) { return std::sin(ph); });
}

} // namespace
} // namespace kestrel
