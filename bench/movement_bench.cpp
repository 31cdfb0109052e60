// Cost of one movement step, of a reconciliation-sized replay and of one navigation query.
#include "world/movement.h"

#include "bench/fixtures.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

namespace kestrel {
namespace {

using bench::open_sector;
using bench::start_player;

void BM_MoveWalk(benchmark::State& state) {
    const Grid grid = open_sector();
    const Player start = start_player();
    const Input input{1, 1, button::forward, 5000};
    for (auto _ : state) {
        Player player = start;
        benchmark::DoNotOptimize(player);
        move(player, input, grid);
        benchmark::DoNotOptimize(player);
    }
}
BENCHMARK(BM_MoveWalk);

// Four seconds of mixed input, as a reconciliation might replay after a lag spike.
void BM_MoveReplay120(benchmark::State& state) {
    const Grid grid = open_sector();
    const Player start = start_player();
    std::array<Input, 120> inputs{};
    for (std::uint32_t i = 0; i < inputs.size(); ++i) {
        std::uint16_t buttons = button::forward;
        if (i % 3 == 0) buttons |= button::strafe_right;
        if (i % 5 == 0) buttons |= button::run;
        if (i % 40 == 7) buttons |= button::dash;
        inputs[i] = Input{i, i, buttons, static_cast<std::uint16_t>(i * 547)};
    }
    for (auto _ : state) {
        Player player = start;
        for (const Input& input : inputs) move(player, input, grid);
        benchmark::DoNotOptimize(player);
    }
}
BENCHMARK(BM_MoveReplay120);

void BM_NavigationFarCorner(benchmark::State& state) {
    const Grid grid = open_sector();
    const int x = 65536 + 32768;
    const int y = 65536 + 32768;
    const std::uint16_t target = 30 * 32 + 30;
    for (auto _ : state) benchmark::DoNotOptimize(navigation_yaw(grid, x, y, target));
}
BENCHMARK(BM_NavigationFarCorner);

} // namespace
} // namespace kestrel
