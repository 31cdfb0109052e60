// The window and the GPU: turns one Frame into one presented image. Everything is drawn into
// a fixed 640x360 target with its own depth buffer and then scaled into the window with
// nearest filtering and black bars. This is the only part of the game that talks to the SDL
// GPU API; the geometry comes from the pure builders of this folder.
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <string>

#include "render/frame.h"

struct SDL_Window;

namespace kestrel {

// The most vertices one frame's per-frame geometry may have: a guard far above
// max_frame_vertices, the largest frame any valid state builds (1,048,576 vertices, 40 MiB).
// Its buffers start at 131,072 vertices and grow by powers of two up to this.
inline constexpr std::uint32_t dynamic_vertex_limit = std::bit_ceil(max_frame_vertices);

class Renderer {
  public:
    // Creates the 1280x720 window (never shown when `hidden`), the GPU device, shaders,
    // pipelines, targets, atlas and buffers, and prints the backend line on stdout. SDL's
    // video subsystem must be initialised. Throws with SDL's error text, or
    // "missing shader: " + path when a shader file next to the executable is absent.
    explicit Renderer(bool hidden);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    SDL_Window* window() const;

    // Renders and presents one frame. The sector mesh is rebuilt only when the sector's id or
    // revision changed; the buffers of the per-frame geometry grow when a frame needs more
    // and keep that size. Throws with SDL's error text, "world geometry capacity exceeded" (the
    // cached mesh stays) or "dynamic geometry capacity exceeded" (beyond dynamic_vertex_limit;
    // nothing is drawn).
    void draw(const Frame& frame);

    // Saves the last drawn 640x360 image, before scaling, as a PNG file.
    void capture(const std::string& path);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

} // namespace kestrel
