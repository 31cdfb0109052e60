// Sound output: one SDL audio stream on the default playback device, mono 32-bit float,
// pulling from the mixer (24 kHz) through a linear resampler to the device's rate on SDL's
// audio thread. The main thread touches the mixer only under the stream's lock.
#pragma once

#include "sound/sound_mixer.h"
#include "sound/sound_resampler.h"

#include <SDL3/SDL.h>

namespace kestrel {

class Audio {
  public:
    // Without a playback device the run goes on silent: "Audio unavailable: " and SDL's
    // reason go to stderr and stream stays null.
    Audio();
    // The stream goes first, so the callback has stopped before the mixer is destroyed.
    ~Audio() {
        if (stream != nullptr) SDL_DestroyAudioStream(stream);
    }
    Audio(const Audio&) = delete;
    Audio& operator=(const Audio&) = delete;

    // Runs f on the mixer under the stream lock; nothing when there is no stream.
    template <typename F>
    void with_mixer(F&& f) {
        if (stream == nullptr) return;
        struct Guard {
            SDL_AudioStream* locked;
            ~Guard() { SDL_UnlockAudioStream(locked); }
        };
        SDL_LockAudioStream(stream);
        const Guard guard{stream};
        f(mixer);
    }

    static void SDLCALL feed(void* userdata, SDL_AudioStream* stream, int additional_amount,
                             int total_amount);

    SDL_AudioStream* stream = nullptr;
    SoundMixer mixer;
    SoundResampler resampler; // 1:1 until the device's rate is known

  private:
    void load_music();
};

} // namespace kestrel
