// The per-frame CPU geometry of a busy frame, everything the renderer uploads into its
// dynamic buffer: the 3D entity pass over a full snapshot's worth of interpolated entities
// plus the whole overlay with every conditional HUD line on, an open navigation panel with
// 32 sector boxes, 8 teammates on the minimap and 16 radar contacts. Budget: 0.5 ms.
#include "bench/fixtures.h"
#include "render/entity_mesh.h"
#include "render/overlay.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace kestrel {
namespace {

using bench::busy_entities;
using bench::busy_frame;
using bench::busy_sector;

void dynamic_geometry(std::vector<Vertex>& out, const Frame& f) {
    entity_pass(out, f.entities, *f.sector, f.yaw, f.time);
    overlay_pass(out, f);
}

// As the renderer does it: one list kept across frames, cleared and reserved at 30,000
// vertices each frame. The frame is 141,030 vertices, more than the renderer's first
// 131,072-vertex buffer holds: renderer_bench draws it, buffers grown, on the GPU.
void BM_FrameGeometry(benchmark::State& state) {
    const Sector s = busy_sector();
    const Frame f = busy_frame(s, busy_entities());
    std::vector<Vertex> out;
    for (auto _ : state) {
        out.clear();
        out.reserve(30000);
        dynamic_geometry(out, f);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["vertices"] = static_cast<double>(out.size());
}
BENCHMARK(BM_FrameGeometry)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

// The overlay alone, every line on.
void BM_OverlayPass(benchmark::State& state) {
    const Sector s = busy_sector();
    const Frame f = busy_frame(s, {});
    std::vector<Vertex> out;
    out.reserve(131072);
    for (auto _ : state) {
        out.clear();
        overlay_pass(out, f);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["vertices"] = static_cast<double>(out.size());
}
BENCHMARK(BM_OverlayPass)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

} // namespace
} // namespace kestrel
