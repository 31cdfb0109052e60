// Software mixer: synthesised effect voices over a looping music track, rendered as mono
// 32-bit float at sound_sample_rate. Plain data with no platform calls; the owner of the
// audio device pulls samples with render() and serialises every access (the audio thread
// renders while the main thread plays effects and changes the settings).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kestrel {

struct SoundMixer {
    // A whole effect, rendered in advance and never changed afterwards, so voices playing
    // the same effect (and the cache that made it) share one buffer.
    using Samples = std::shared_ptr<const std::vector<float>>;

    struct Voice {
        Samples samples;            // never null
        std::uint64_t position = 0; // next sample to play

        bool finished() const { return position >= samples->size(); }
    };

    // Beyond this many voices the oldest few are dropped to make room.
    static constexpr std::size_t max_voices = 32;
    static constexpr std::size_t dropped_voices = 4;
    // Per-sample one-pole smoothing of the music gain: switching music on or off fades over
    // roughly a quarter second instead of clicking.
    static constexpr float music_smoothing = 0.0003f;
    // Headroom below full scale for the summed output.
    static constexpr float output_limit = 0.95f;

    std::vector<Voice> voices;        // active effects, oldest first
    std::vector<float> music;         // looped background music in the output format, or empty
    std::uint64_t music_position = 0; // next music sample
    float music_gain = 0.0f;          // smoothed music gain actually applied
    bool music_on = true;
    bool effects_on = true;
    float music_level = 0.2f;    // loudness chosen by the game state, set every frame
    float effects_level = 0.85f; // effect loudness
    float music_volume = 1.0f;   // player's setting, 0..1
    float effects_volume = 1.0f; // player's setting, 0..1

    // Starts a voice on `samples` (not null); nothing when effects are off. Only adds a
    // reference: the synthesis happens before, outside the lock (see SoundCache).
    void play(Samples samples);

    // Fills `out` with the next samples: smoothed music plus every voice, clamped to
    // -output_limit..output_limit. Finished voices are removed afterwards, the others keep
    // their order. Turning effects off drops every voice here.
    void render(std::span<float> out);
};

} // namespace kestrel
