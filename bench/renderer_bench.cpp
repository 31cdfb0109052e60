// Whole frames on the GPU at the fixed 640x360 target, into a hidden window: what the
// unattended runs (captures, end-to-end tests) cost per frame. Needs a display and a Vulkan
// device; on Mesa's software Vulkan under a virtual X server:
//
//   xvfb-run -a env VK_ICD_FILENAMES=/usr/share/vulkan/icd.d/lvp_icd.x86_64.json
//   build/bin/renderer_bench
//
// The "fps" counter is frames drawn per second of wall time, GPU work included (every
// iteration waits for the previous frame's resources through SDL's cycling).
#include "bench/fixtures.h"
#include "render/frame.h"
#include "render/renderer.h"
#include "world/generate.h"

#include <SDL3/SDL.h>
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel {
namespace {

Sector generated_sector() {
    return generate(7, 0x6B1F39A43ull, {Portal{1, 70, 2, 0, 1, 42}, Portal{2, 900, 3, 0, 1, 43}});
}

// A dozen creatures and models in front of the camera, like a busy fight.
std::vector<DrawEntity> crowd(float x, float y) {
    std::vector<DrawEntity> entities;
    const std::uint8_t kinds[] = {1, 2, 6, 8, 9, 10, 11, 12};
    for (int i = 0; i < 12; ++i) {
        DrawEntity e;
        e.x = x + 1.5f + static_cast<float>(i % 4) * 0.7f;
        e.y = y - 1.0f + static_cast<float>(i / 4) * 0.8f;
        e.id = static_cast<std::uint32_t>(i + 2);
        e.health = 100;
        e.kind = kinds[i % 8];
        e.type = 8;
        entities.push_back(e);
    }
    return entities;
}

// One window and device for all benchmarks, made on first use and kept until exit: SDL's
// video subsystem does not always come back after a quit in the same process.
Renderer* shared_renderer(benchmark::State& state) {
    static std::string unavailable;
    static std::unique_ptr<Renderer> renderer = []() -> std::unique_ptr<Renderer> {
        if (!SDL_Init(SDL_INIT_VIDEO)) {
            unavailable = std::string("no video: ") + SDL_GetError();
            return nullptr;
        }
        try {
            return std::make_unique<Renderer>(true);
        } catch (const std::runtime_error& e) {
            unavailable = std::string("no GPU device: ") + e.what();
            return nullptr;
        }
    }();
    if (!renderer) state.SkipWithError(unavailable.c_str());
    return renderer.get();
}

// The steady state: cached sector mesh, entities and HUD rebuilt and uploaded every frame.
void BM_HiddenFrame(benchmark::State& state) {
    Renderer* renderer = shared_renderer(state);
    if (!renderer) return;
    const Sector sector = generated_sector();
    Frame frame;
    frame.sector = &sector;
    frame.camera = {sector.spawn_x / 256.0f, sector.spawn_y / 256.0f};
    frame.yaw = sector.spawn_yaw;
    frame.entities = crowd(frame.camera.x, frame.camera.y);
    for (auto _ : state) {
        frame.time += 1.0f / 60;
        frame.yaw += 40; // turning, so the view is not the same every frame
        renderer->draw(frame);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HiddenFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// The busy frame of frame_geometry_bench, 141,030 vertices: 368 entities, every HUD line
// and an open navigation panel. It outgrows the first per-frame buffers, which grow for it
// once, before the timing starts.
void BM_HiddenBusyFrame(benchmark::State& state) {
    Renderer* renderer = shared_renderer(state);
    if (!renderer) return;
    const Sector sector = bench::busy_sector();
    Frame frame = bench::busy_frame(sector, bench::busy_entities());
    renderer->draw(frame);
    for (auto _ : state) {
        frame.time += 1.0f / 60;
        frame.yaw += 40;
        renderer->draw(frame);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HiddenBusyFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every frame a new sector revision, as during a burst of map patches: the sector mesh is
// rebuilt and uploaded each time.
void BM_HiddenFrameNewRevision(benchmark::State& state) {
    Renderer* renderer = shared_renderer(state);
    if (!renderer) return;
    Sector sector = generated_sector();
    Frame frame;
    frame.sector = &sector;
    frame.camera = {sector.spawn_x / 256.0f, sector.spawn_y / 256.0f};
    frame.yaw = sector.spawn_yaw;
    for (auto _ : state) {
        ++sector.revision;
        renderer->draw(frame);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HiddenFrameNewRevision)->Unit(benchmark::kMillisecond)->UseRealTime();

// The transfer screen: one full-screen backdrop, shaded per pixel.
void BM_HiddenTransferScreen(benchmark::State& state) {
    Renderer* renderer = shared_renderer(state);
    if (!renderer) return;
    Frame frame;
    frame.transition = true;
    frame.status_line = "WORMHOLE TRANSIT";
    frame.destination = 42;
    for (auto _ : state) {
        frame.time += 1.0f / 60;
        renderer->draw(frame);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HiddenTransferScreen)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace kestrel
