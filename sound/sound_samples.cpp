#include "sound/sound_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace kestrel {
namespace {

constexpr double rate = sound_sample_rate;
constexpr double two_pi = 2.0 * std::numbers::pi;

// Durations are kept in whole milliseconds so the sample count is exact (ms x 24) rather
// than a truncated floating-point product.
int duration_ms(int effect, unsigned variant) {
    switch (effect) {
    case 27:
    case 28:
    case 29:
    case 30:
        return 650;
    case 25:
    case 26:
        return 900;
    case 4:
        return 1100;
    case 11:
        return variant == 1 ? 800 : 500;
    case 18:
        return 1000;
    case 24:
        return 500;
    case 9:
    case 10:
        return 800;
    case 3:
        return 300;
    case 6:
    case 16:
        return 500;
    case 17:
        return 700;
    case 13:
        return variant == 2 ? 250 : variant == 3 ? 220 : 150;
    case 1:
    case 8:
        return 70;
    default:
        return 150;
    }
}

bool odd(double x) {
    return static_cast<std::int64_t>(std::floor(x)) % 2 != 0;
}

// Pickups, rewards and other cheerful events share a rising major arpeggio; variants
// 512..767 turn it into a falling tone for the matching failure.
bool arpeggio(int effect) {
    return effect == 3 || effect == 6 || effect == 16 || (effect >= 19 && effect <= 23);
}
bool falling(unsigned variant) {
    return variant >= 512 && variant <= 767;
}

// Tone frequency in Hz at time t (seconds) and progress p (0..1).
double frequency(int effect, unsigned variant, double t, double p) {
    if (arpeggio(effect)) {
        if (falling(variant)) return 1050.0 - 500.0 * p;
        static constexpr double notes[] = {523.25, 659.25, 783.99, 1046.5};
        return notes[std::min(static_cast<int>(std::floor(4.0 * p)), 3)];
    }
    switch (effect) {
    case 1:
        return 1100.0;
    case 2:
        return 130.0;
    case 4:
    case 17:
        return 200.0 + 1100.0 * p;
    case 8:
        return 2000.0;
    case 11:
        return (variant == 1 ? 210.0 : 140.0) - 100.0 * p;
    case 12:
        return 950.0;
    case 13:
        return variant == 3 ? 240.0 - 150.0 * p : 150.0;
    case 14:
        return 900.0 - 700.0 * p;
    case 18:
        return odd(8.0 * t) ? 600.0 : 900.0;
    case 24:
        return variant == 1 ? 900.0 : variant == 2 ? 350.0 : 160.0;
    case 25:
        return 120.0 + 60.0 * std::sin(15.0 * t);
    case 26:
        return odd(6.0 * t) ? 480.0 : 720.0;
    case 27:
        return 660.0 + 440.0 * p;
    case 28:
        return 440.0 + 880.0 * p;
    case 29:
        return odd(12.0 * t) ? 220.0 : 880.0;
    case 30:
        return 160.0 + 80.0 * p;
    default:
        return 90.0;
    }
}

// Signal before the envelope from the tone phase, white noise w and rumble r (low-passed noise).
double signal(int effect, unsigned variant, double t, double p, double phase, double w, double r) {
    const double tone = std::sin(phase);
    switch (effect) {
    case 5:
    case 7:
        return 0.8 * w + 0.4 * tone;
    case 13:
        if (variant == 2) return 0.5 * w + 3.0 * r;
        if (variant == 3) return 3.0 * r + 0.4 * tone;
        return 0.8 * w + 0.4 * tone;
    case 9:
    case 10:
        return 0.15 * tone + 3.0 * r + (t < 0.04 ? 0.9 : 0.08) * w;
    case 11:
        return 0.5 * tone + 2.5 * r;
    case 4:
    case 17:
        return 0.5 * tone + 0.25 * std::sin(1.5 * phase) + 0.15 * std::sin(2.0 * phase);
    case 24:
        return (odd(8.0 * p) ? 0.05 : 0.7) * w + 0.15 * tone;
    case 3:
        if (falling(variant)) return (odd(6.0 * p) ? 0.05 : 0.6) * w + 0.2 * tone;
        return tone;
    default:
        return tone;
    }
}

double amplitude(int effect, unsigned variant) {
    if (effect == 11) return 0.45;
    if (effect == 9 || effect == 10) return 0.55;
    if (effect == 13 && variant == 2) return 0.5;
    return 0.32;
}

} // namespace

std::vector<float> sound_samples(int effect, unsigned variant) {
    const std::size_t count = static_cast<std::size_t>(duration_ms(effect, variant)) * 24;
    const double gain = amplitude(effect, variant);
    std::vector<float> samples(count);

    // Unsigned arithmetic: the generator wraps modulo 2^32 by design, whatever the id.
    std::uint32_t seed = static_cast<std::uint32_t>(effect) * 97u + variant + 12345u;
    double phase = 0.0;
    double rumble = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double p = static_cast<double>(i) / static_cast<double>(count);
        seed = seed * 1664525u + 1013904223u;
        const double w = static_cast<double>(seed & 0xFFFFu) / 32768.0 - 1.0;
        rumble = rumble * 0.94 + w * 0.06;
        phase += frequency(effect, variant, t, p) * two_pi / rate;

        const double v = signal(effect, variant, t, p, phase, w, rumble);
        // 3 ms attack against clicks, then a quadratic decay to silence at the end.
        const double attack = std::min(t / 0.003, 1.0);
        const double decay = (1.0 - p) * (1.0 - p);
        samples[i] = static_cast<float>(std::clamp(attack * gain * decay * v, -0.8, 0.8));
    }
    return samples;
}

} // namespace kestrel
