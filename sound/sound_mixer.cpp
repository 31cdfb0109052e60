#include "sound/sound_mixer.h"

#include <algorithm>
#include <utility>

namespace kestrel {
namespace {

// The callback's inner loops run in fixed blocks of 8 so the compiler can keep them in vector
// registers (no run-time alias check, no remainder inside the block); the tail goes one by one.
constexpr std::size_t block = 8;

// out[i] += in[i] x gain.
void add_scaled(float* __restrict out, const float* __restrict in, std::size_t n, float gain) {
    std::size_t i = 0;
    for (; i + block <= n; i += block) {
        for (std::size_t k = 0; k < block; ++k) out[i + k] += in[i + k] * gain;
    }
    for (; i < n; ++i) out[i] += in[i] * gain;
}

void clamp_all(std::span<float> out, float limit) {
    const auto clamp = [limit](float s) { return std::min(std::max(s, -limit), limit); };
    std::size_t i = 0;
    for (; i + block <= out.size(); i += block) {
        for (std::size_t k = 0; k < block; ++k) out[i + k] = clamp(out[i + k]);
    }
    for (; i < out.size(); ++i) out[i] = clamp(out[i]);
}

} // namespace

void SoundMixer::play(Samples samples) {
    if (!effects_on) return;
    if (voices.size() >= max_voices) {
        voices.erase(voices.begin(), voices.begin() + dropped_voices);
    }
    voices.push_back(Voice{std::move(samples), 0});
}

void SoundMixer::render(std::span<float> out) {
    if (!effects_on) voices.clear();

    // Music first. The gain glides toward its target every sample even when there is no
    // track, so a track that appears later fades in from where the gain has got to.
    const float target = music_on ? music_level * music_volume : 0.0f;
    if (music.empty()) {
        for (float& s : out) {
            music_gain += (target - music_gain) * music_smoothing;
            s = 0.0f;
        }
    } else {
        // The track may have been replaced by a shorter one since the last call.
        if (music_position >= music.size()) music_position = 0;
        for (float& s : out) {
            music_gain += (target - music_gain) * music_smoothing;
            s = music_gain * music[music_position];
            if (++music_position == music.size()) music_position = 0;
        }
    }

    // Then each voice over the whole block. Per output sample this is the same sum in the same
    // order (music, then the voices oldest first), but the inner loop stays branch-free.
    const float gain = effects_level * effects_volume;
    for (Voice& voice : voices) {
        if (voice.finished()) continue;
        const std::size_t left = voice.samples->size() - voice.position;
        const std::size_t n = std::min(left, out.size());
        add_scaled(out.data(), voice.samples->data() + voice.position, n, gain);
        voice.position += n;
    }

    clamp_all(out, output_limit);
    std::erase_if(voices, [](const Voice& voice) { return voice.finished(); });
}

} // namespace kestrel
