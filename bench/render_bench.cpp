// CPU side of drawing a frame: the sector mesh (rebuilt on every handoff and map patch),
// the entity geometry and the HUD text (both rebuilt every frame).
#include "render/entity_mesh.h"
#include "render/text.h"
#include "render/world_mesh.h"
#include "world/generate.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

// A style 1 sector (themed, with hazards) carved by the generator, with two portals.
Sector generated_sector() {
    return generate(7, 0x6B1F39A43ull, {Portal{1, 70, 2, 0, 1, 42}, Portal{2, 900, 3, 0, 1, 43}});
}

// The worst case: every cell walkable, so every cell has a floor and a ceiling and the whole
// border is walled.
Sector open_sector() {
    Sector sector;
    sector.seed = 2;
    sector.cells.fill(0);
    return sector;
}

void BM_WorldMeshGenerated(benchmark::State& state) {
    const Sector sector = generated_sector();
    std::size_t vertices = 0;
    for (auto _ : state) {
        const auto mesh = world_mesh(sector);
        vertices = mesh.size();
        benchmark::DoNotOptimize(mesh.data());
    }
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_WorldMeshGenerated)->Unit(benchmark::kMicrosecond);

void BM_WorldMeshOpen(benchmark::State& state) {
    const Sector sector = open_sector();
    std::size_t vertices = 0;
    for (auto _ : state) {
        const auto mesh = world_mesh(sector);
        vertices = mesh.size();
        benchmark::DoNotOptimize(mesh.data());
    }
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_WorldMeshOpen)->Unit(benchmark::kMicrosecond);

// 368 entities cycling through every kind 1..18 with the sub-types and states that select
// the different models, a quarter of them dead (fresh deaths with smoke and debris), some
// marked.
std::vector<DrawEntity> crowd() {
    static constexpr std::uint16_t enemy_types[] = {1, 3, 8, 14, 15, 16, 17, 18, 19};
    std::vector<DrawEntity> entities;
    for (int i = 0; i < 368; ++i) {
        DrawEntity e;
        e.x = 1.5f + static_cast<float>(i % 30);
        e.y = 1.5f + static_cast<float>(i / 30) * 2;
        e.id = static_cast<std::uint32_t>(i + 1);
        e.kind = static_cast<std::uint8_t>(1 + i % 18);
        e.type = e.kind == 2 ? enemy_types[(i / 18) % 9] : static_cast<std::uint16_t>(i % 5);
        e.state = static_cast<std::uint16_t>(i % 4);
        e.health = i % 4 == 3 ? 0 : 100;
        e.timer = static_cast<std::uint16_t>((i * 7) % 120);
        e.death_age = e.health == 0 ? 0.3f : 100.0f;
        e.marked = i % 5 == 0;
        entities.push_back(e);
    }
    return entities;
}

void BM_EntityPass368(benchmark::State& state) {
    const Sector sector = generated_sector();
    const std::vector<DrawEntity> entities = crowd();
    std::vector<Vertex> out;
    out.reserve(30000); // as the renderer reserves its per-frame list
    for (auto _ : state) {
        out.clear();
        entity_pass(out, entities, sector, 12345, 3.25f);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["vertices"] = static_cast<double>(out.size());
}
BENCHMARK(BM_EntityPass368)->Unit(benchmark::kMicrosecond);

// One line across the whole 640-pixel screen at scale 1: 106 characters.
void BM_TextFullLine(benchmark::State& state) {
    std::string line = "DEFEAT THE BOSS AND CLEAR THE MARKED SECTOR / RISKS ACTIVE / +75 COSMETIC "
                       "SALVAGE ON SUCCESS / SECTOR 4096";
    line.resize(106, ' ');
    std::vector<Vertex> out;
    out.reserve(30000);
    for (auto _ : state) {
        out.clear();
        text(out, line, 0, 100, {0.8f, 0.88f, 0.85f, 1}, 1);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["vertices"] = static_cast<double>(out.size());
}
BENCHMARK(BM_TextFullLine)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace kestrel
