#include <array>
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "sound/sound_mixer.h"
#include "sound/sound_samples.h"

namespace {

// One audio callback's worth: 512 samples with every voice slot busy and music playing.
void BM_RenderFullMixer(benchmark::State& state) {
    kestrel::SoundMixer mixer;
    mixer.music.resize(static_cast<std::size_t>(kestrel::sound_sample_rate) * 10);
    for (std::size_t i = 0; i < mixer.music.size(); ++i) {
        mixer.music[i] = 0.5f * static_cast<float>(std::sin(static_cast<double>(i) * 0.05));
    }
    for (int v = 0; v < 32; ++v) mixer.play(1 + v % 30, static_cast<unsigned>(v));

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

void BM_SynthesiseLongestEffect(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(kestrel::sound_samples(4, 0));
}
BENCHMARK(BM_SynthesiseLongestEffect);

} // namespace
