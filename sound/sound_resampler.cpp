#include "sound/sound_resampler.h"

#include <algorithm>

namespace kestrel {

void SoundResampler::render(SoundMixer& mixer, std::span<float> out) {
    for (float& sample : out) {
        while (phase >= 1.0) {
            if (cursor == filled) {
                mixer.render(block);
                cursor = 0;
                filled = block.size();
            }
            previous = next;
            next = block[cursor++];
            phase -= 1.0;
        }
        const float t = static_cast<float>(phase);
        // Clamped to the pair so rounding cannot step past the louder of the two.
        sample = std::clamp(previous + (next - previous) * t, std::min(previous, next),
                            std::max(previous, next));
        phase += step;
    }
}

} // namespace kestrel
