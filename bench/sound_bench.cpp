#include <array>
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "client/frame_builder.h"
#include "sound/sound_cache.h"
#include "sound/sound_mixer.h"
#include "sound/sound_samples.h"

namespace {

using kestrel::SoundCache;
using kestrel::SoundMixer;

// A busy fight: music playing and every voice slot taken.
SoundMixer busy_mixer(SoundCache& cache) {
    SoundMixer mixer;
    mixer.music.resize(static_cast<std::size_t>(kestrel::sound_sample_rate) * 10);
    for (std::size_t i = 0; i < mixer.music.size(); ++i) {
        mixer.music[i] = 0.5f * static_cast<float>(std::sin(static_cast<double>(i) * 0.05));
    }
    for (int v = 0; v < 32; ++v) mixer.play(cache.get(1 + v % 30, static_cast<unsigned>(v)));
    return mixer;
}

// One audio callback's worth: 512 samples with every voice slot busy and music playing.
void BM_RenderFullMixer(benchmark::State& state) {
    SoundCache cache;
    SoundMixer mixer = busy_mixer(cache);
    std::array<float, 512> out{};
    for (auto _ : state) {
        // Rewind the voices so all 32 stay active (every effect is longer than 512 samples).
        for (auto& voice : mixer.voices) voice.position = 0;
        mixer.render(out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 512);
}
BENCHMARK(BM_RenderFullMixer);

// What a cache miss costs the main loop (outside the lock).
void BM_SynthesiseLongestEffect(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(kestrel::sound_samples(4, 0));
}
BENCHMARK(BM_SynthesiseLongestEffect);

// Playing the longest effect again: a cache hit plus one voice, with every slot taken so the
// oldest voices are dropped along the way.
void BM_PlayLongestCached(benchmark::State& state) {
    SoundCache cache;
    SoundMixer mixer = busy_mixer(cache);
    for (auto _ : state) {
        mixer.play(cache.get(4, 0));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlayLongestCached);

// Everything the main loop does under the audio lock in one frame of a busy fight: a burst
// of 16 effects (fetched from the cache beforehand), then the status line's settings and the
// music level.
void BM_LockedFrameBurst16(benchmark::State& state) {
    SoundCache cache;
    SoundMixer mixer = busy_mixer(cache);
    std::vector<SoundMixer::Samples> burst;
    for (int i = 0; i < 16; ++i) burst.push_back(cache.get(5 + i % 9, static_cast<unsigned>(i)));
    for (auto _ : state) {
        for (const SoundMixer::Samples& samples : burst) mixer.play(samples);
        benchmark::DoNotOptimize(kestrel::audio_view(mixer));
        mixer.music_level = 0.23f;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LockedFrameBurst16);

} // namespace
