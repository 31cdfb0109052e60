// The playback stream, its callback and the background music file.
#include "client/audio.h"

#include "sound/sound_samples.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <span>
#include <string>

namespace kestrel {

Audio::Audio() {
    load_music();
    // Retried here only for its error text when the platform started without audio.
    if (!SDL_WasInit(SDL_INIT_AUDIO) && !SDL_InitSubSystem(SDL_INIT_AUDIO)) {
        std::cerr << "Audio unavailable: " << SDL_GetError() << '\n';
        return;
    }
    const SDL_AudioSpec spec{SDL_AUDIO_F32, 1, sound_sample_rate};
    stream = SDL_OpenAudioDeviceStream(SDL_AUDIO_DEVICE_DEFAULT_PLAYBACK, &spec, feed, this);
    if (stream == nullptr) {
        std::cerr << "Audio unavailable: " << SDL_GetError() << '\n';
        return;
    }
    SDL_ResumeAudioStreamDevice(stream);
}

void SDLCALL Audio::feed(void* userdata, SDL_AudioStream* stream, int additional_amount,
                         int /*total_amount*/) {
    Audio& audio = *static_cast<Audio*>(userdata);
    float buffer[512];
    while (additional_amount > 0) {
        const int count = std::min((additional_amount + 3) / 4, 512);
        audio.mixer.render(std::span<float>(buffer, static_cast<std::size_t>(count)));
        if (!SDL_PutAudioStreamData(stream, buffer, count * 4)) break;
        additional_amount -= count * 4;
    }
}

void Audio::load_music() {
    const char* base = SDL_GetBasePath();
    const std::string path = std::string(base != nullptr ? base : "") + "audio/space-shooter.wav";
    SDL_AudioSpec source{};
    Uint8* wav = nullptr;
    Uint32 wav_length = 0;
    if (SDL_LoadWAV(path.c_str(), &source, &wav, &wav_length)) {
        const SDL_AudioSpec target{SDL_AUDIO_F32, 1, sound_sample_rate};
        Uint8* converted = nullptr;
        int converted_length = 0;
        if (SDL_ConvertAudioSamples(&source, wav, static_cast<int>(wav_length), &target, &converted,
                                    &converted_length)) {
            const std::size_t count = static_cast<std::size_t>(converted_length) / 4;
            mixer.music.resize(count);
            std::memcpy(mixer.music.data(), converted, count * 4);
        }
        SDL_free(converted);
        SDL_free(wav);
    }
    if (mixer.music.empty())
        std::cerr << "Background music unavailable: " << SDL_GetError() << '\n';
}

} // namespace kestrel
