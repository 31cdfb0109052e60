// Cost of the two per-snapshot and per-frame session steps at their largest sizes: a
// reconciliation replaying a full queue, and a frame's interpolation of a full snapshot.
#include "session/prediction.h"
#include "session/remote_interpolation.h"

#include "bench/fixtures.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>

namespace kestrel {
namespace {

using bench::open_sector;
using bench::start_player;

// 120 walking commands queued. The acknowledgement lies before all of them, so every
// reconcile replays the whole queue and leaves it as it was: no refill is needed.
void BM_Reconcile120(benchmark::State& state) {
    const Grid grid = open_sector();
    Prediction prediction;
    prediction.reset(start_player());
    for (std::uint32_t i = 1; i <= Prediction::max_pending; ++i) {
        const std::uint16_t buttons =
            i % 3 == 0 ? button::forward | button::strafe_left : button::forward;
        prediction.step(Input{i, 1000 + i, buttons, static_cast<std::uint16_t>(i * 97)}, grid);
    }
    Player server = start_player();
    server.x += 3000;
    for (auto _ : state) {
        prediction.reconcile(server, 0, 1000, grid);
        benchmark::DoNotOptimize(prediction.predicted());
    }
    if (prediction.pending().size() != Prediction::max_pending)
        state.SkipWithError("queue changed");
}
BENCHMARK(BM_Reconcile120);

// Eight snapshots of 368 entities each, one tick apart, every entity moving.
RemoteInterpolation full_buffer(bool shuffled) {
    std::mt19937 random(7);
    std::vector<ReplicatedEntity> entities(368);
    for (std::uint32_t i = 0; i < entities.size(); ++i) {
        ReplicatedEntity& e = entities[i];
        e.id = i + 1;
        e.x = static_cast<std::int32_t>(random() % (30 * 65536)) + 65536;
        e.y = static_cast<std::int32_t>(random() % (30 * 65536)) + 65536;
        e.vx = static_cast<std::int32_t>(random() % 65536) - 32768;
        e.vy = static_cast<std::int32_t>(random() % 65536) - 32768;
        e.yaw = static_cast<std::uint16_t>(random());
        e.kind = static_cast<std::uint8_t>(1 + i % 18);
    }
    RemoteInterpolation interpolation;
    for (std::uint32_t tick = 1; tick <= RemoteInterpolation::max_samples; ++tick) {
        Snapshot snapshot;
        snapshot.tick = tick;
        snapshot.viewer = 1;
        for (ReplicatedEntity& e : entities) {
            e.x += e.vx / 30;
            e.y += e.vy / 30;
            e.yaw = static_cast<std::uint16_t>(e.yaw + 300);
        }
        snapshot.entities = entities;
        if (shuffled) std::shuffle(snapshot.entities.begin() + 1, snapshot.entities.end(), random);
        interpolation.push(snapshot, 0.0);
    }
    return interpolation;
}

// The render moment just before the newest sample, so each entity's walk visits all eight.
void sample_bench(benchmark::State& state, bool shuffled) {
    const RemoteInterpolation interpolation = full_buffer(shuffled);
    const double now = 0.09;
    for (auto _ : state) {
        std::vector<DrawEntity> out = interpolation.sample(now);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_Sample8x368(benchmark::State& state) {
    sample_bench(state, false);
}
BENCHMARK(BM_Sample8x368);

// The same with every snapshot in a different order: the lookup cannot follow its cursor.
void BM_Sample8x368Shuffled(benchmark::State& state) {
    sample_bench(state, true);
}
BENCHMARK(BM_Sample8x368Shuffled);

} // namespace
} // namespace kestrel
