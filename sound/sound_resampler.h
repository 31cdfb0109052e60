// Rate conversion from the mixer's sound_sample_rate to the playback device's rate by linear
// interpolation. Every output sample lies between two neighbouring mixer samples, so the
// mixer's clamp still holds at the device; a band-limited resampler (SDL's own) rings past a
// clamped peak, a few percent on a hard-clipped effect. Plain data, pulled under the same
// serialisation as the mixer it reads from.
#pragma once

#include "sound/sound_mixer.h"

#include <array>
#include <span>

namespace kestrel {

struct SoundResampler {
    double step = 1.0;  // mixer samples per output sample: mixer rate / device rate
    double phase = 1.0; // position between previous and next, in [0, 1) once started
    float previous = 0.0f;
    float next = 0.0f;
    // Mixer samples rendered ahead and not yet consumed: block[cursor..filled).
    std::array<float, 256> block{};
    std::size_t cursor = 0;
    std::size_t filled = 0;

    explicit SoundResampler(int source_rate = 1, int target_rate = 1)
        : step(static_cast<double>(source_rate) / target_rate) {}

    // Fills `out` at the target rate, rendering the mixer as far as it needs.
    void render(SoundMixer& mixer, std::span<float> out);
};

} // namespace kestrel
