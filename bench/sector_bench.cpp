// Sector format, validation and generation costs. Decoding (with validation) runs on every
// handoff; generation once per demo start.
#include "world/generate.h"
#include "world/sector.h"

#include <benchmark/benchmark.h>

namespace kestrel {
namespace {

// The largest valid sector: 256 tiles, 16 portals, 3520 bytes. Built on a generated map so
// the flood fill in validation has real corridors to walk.
Sector full_sector() {
    Sector sector = generate(1, 0x6B1F39A42ull, {Portal{1, 70, 2, 0, 1, 42}});
    while (sector.tiles.size() < 256)
        sector.tiles.push_back(
            Tile{static_cast<std::uint8_t>(sector.tiles.size()), 2, 3, 0, 0, 8, 128});
    // Fifteen more portals on the start room floor (rows 1..5, columns 1..7).
    for (std::uint16_t i = 0; sector.portals.size() < 16; ++i) {
        const std::uint16_t cell = static_cast<std::uint16_t>((1 + i / 7) * 32 + 1 + i % 7);
        if (cell == 70) continue;
        sector.portals.push_back(Portal{static_cast<std::uint16_t>(10 + i), cell, 3, 0, 1, i});
    }
    return sector;
}

void BM_SectorDecode(benchmark::State& state) {
    const Bytes blob = full_sector().encode();
    if (blob.size() != 3520) state.SkipWithError("expected a 3520-byte blob");
    for (auto _ : state) benchmark::DoNotOptimize(Sector::decode(blob));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(blob.size()));
}
BENCHMARK(BM_SectorDecode);

void BM_SectorEncode(benchmark::State& state) {
    const Sector sector = full_sector();
    for (auto _ : state) benchmark::DoNotOptimize(sector.encode());
}
BENCHMARK(BM_SectorEncode);

void BM_SectorValidate(benchmark::State& state) {
    const Sector sector = full_sector();
    for (auto _ : state) sector.validate();
}
BENCHMARK(BM_SectorValidate);

void BM_GenerateDemo(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(generate(1, 0x6B1F39A42ull, {Portal{1, 70, 2, 0, 1, 42}}));
}
BENCHMARK(BM_GenerateDemo);

void BM_Crc32(benchmark::State& state) {
    const Bytes blob = full_sector().encode();
    for (auto _ : state) benchmark::DoNotOptimize(crc32(blob));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(blob.size()));
}
BENCHMARK(BM_Crc32);

} // namespace
} // namespace kestrel
