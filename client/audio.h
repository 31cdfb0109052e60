// Sound output: one SDL audio stream on the default playback device, mono 32-bit float at
// the mixer's 24 kHz, pulled from the mixer on SDL's audio thread; SDL converts it to the
// device. The main thread touches the mixer only under the stream's lock, and synthesises
// effects (through the cache) before taking it.
#pragma once

#include "sound/sound_cache.h"
#include "sound/sound_mixer.h"

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
    SoundCache effects; // main thread only, never under the lock

  private:
    void load_music();
};

} // namespace kestrel
