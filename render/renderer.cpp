#include "render/renderer.h"

#include <SDL3/SDL.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/atlas.h"
#include "render/entity_mesh.h"
#include "render/frame.h"
#include "render/letterbox.h"
#include "render/overlay.h"
#include "render/png.h"
#include "render/vertex.h"
#include "render/world_mesh.h"

namespace kestrel {
namespace {

constexpr std::uint32_t world_capacity = 65536; // vertices; 2,621,440 bytes

// Enough for every ordinary frame; busier ones grow the buffers by powers of two.
constexpr std::uint32_t dynamic_start = 131072; // vertices; 5,242,880 bytes
static_assert(dynamic_vertex_limit == 1048576 && dynamic_vertex_limit >= dynamic_start);
constexpr std::size_t dynamic_reserve = 30000; // at least; the list keeps what busier frames grew
constexpr std::uint32_t scene_bytes = scene_width * scene_height * 4;

[[noreturn]] void fail_sdl() {
    throw std::runtime_error(SDL_GetError());
}

template <class T>
T* check(T* handle) {
    if (!handle) fail_sdl();
    return handle;
}

void check(bool ok) {
    if (!ok) fail_sdl();
}

// Vertex-stage uniforms (slot 0), 48 bytes, read by the shaders as three vec4:
//
//   offset  floats
//        0  camera x, camera y (tiles), cos a, sin a (a = view yaw in radians)
//       16  1/tan 30deg (vertical focal length), 640/360 (aspect), 0.65 (eye height), 0
//       32  overlay flag (1: positions are device coordinates already), 0, 0, 0
struct SceneUniforms {
    float values[12];
};
static_assert(sizeof(SceneUniforms) == 48);

SceneUniforms scene_uniforms(const Frame& frame, bool overlay) {
    const double a = frame.yaw * 6.283185307179586 / 65536.0;
    return {{frame.camera.x, frame.camera.y, static_cast<float>(std::cos(a)),
             static_cast<float>(std::sin(a)), 1.7320508f, 1.7777778f, 0.65f, 0.0f,
             overlay ? 1.0f : 0.0f, 0.0f, 0.0f, 0.0f}};
}

// Fragment-stage uniforms (slot 0), 16 bytes: time in seconds, 0, 0, 0.
struct FragmentUniforms {
    float values[4];
};
static_assert(sizeof(FragmentUniforms) == 16);

// A command buffer must end in a submit or a cancel, or SDL keeps it forever. When drawing
// fails part-way (never with a pass open) this cancels it, or submits what was recorded once
// a swapchain image was acquired, since SDL forbids cancelling then. The error text was
// copied into the exception before this runs.
class PendingCommands {
  public:
    explicit PendingCommands(SDL_GPUCommandBuffer* commands) : commands_(commands) {}
    ~PendingCommands() {
        if (commands_ && !SDL_CancelGPUCommandBuffer(commands_))
            SDL_SubmitGPUCommandBuffer(commands_);
    }
    PendingCommands(const PendingCommands&) = delete;
    PendingCommands& operator=(const PendingCommands&) = delete;

    SDL_GPUCommandBuffer* get() const { return commands_; }
    // Hands the buffer over to a submit of the caller's own.
    SDL_GPUCommandBuffer* release() {
        SDL_GPUCommandBuffer* commands = commands_;
        commands_ = nullptr;
        return commands;
    }
    void submit() { check(SDL_SubmitGPUCommandBuffer(release())); } // consumed even on failure

  private:
    SDL_GPUCommandBuffer* commands_;
};

} // namespace

struct Renderer::Impl {
    struct WorldKey {
        std::uint64_t id = 0;
        std::uint32_t revision = 0;
    };

    SDL_Window* window_handle = nullptr;
    SDL_GPUDevice* gpu_device = nullptr;
    SDL_GPUTexture* scene_target = nullptr;
    SDL_GPUTexture* depth_target = nullptr;
    SDL_GPUTexture* atlas_texture = nullptr;
    SDL_GPUSampler* atlas_sampler = nullptr;
    SDL_GPUShader* vertex_shader = nullptr;
    SDL_GPUShader* fragment_shader = nullptr;
    SDL_GPUGraphicsPipeline* world_pipeline = nullptr;
    SDL_GPUGraphicsPipeline* overlay_pipeline = nullptr;
    SDL_GPUBuffer* world_buffer = nullptr;
    SDL_GPUBuffer* dynamic_buffer = nullptr;
    SDL_GPUTransferBuffer* upload_buffer = nullptr;
    std::uint32_t dynamic_capacity = 0; // vertices that dynamic_buffer and upload_buffer hold
    WorldKey world_key;
    std::uint32_t world_vertex_count = 0;
    // The per-frame list, kept between frames so a busy frame does not allocate and fault
    // in fresh pages every time.
    std::vector<Vertex> frame_vertices;

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl();

    SDL_GPUShader* shader(bool vertex);
    SDL_GPUGraphicsPipeline* pipeline(bool overlay);
    void upload_vertices(SDL_GPUCommandBuffer* commands, SDL_GPUBuffer* buffer,
                         const std::vector<Vertex>& vertices);

    SDL_GPUTexture* texture(SDL_GPUTextureType type, SDL_GPUTextureFormat format,
                            SDL_GPUTextureUsageFlags usage, std::uint32_t width,
                            std::uint32_t height, std::uint32_t layers);
    SDL_GPUBuffer* vertex_buffer(std::uint32_t vertices);
    SDL_GPUTransferBuffer* transfer_buffer(std::uint32_t vertices);
    void grow_dynamic(std::uint32_t vertices);
    void upload_atlas();
};

Renderer::Impl::~Impl() {
    if (gpu_device) {
        SDL_WaitForGPUIdle(gpu_device);
        if (world_pipeline) SDL_ReleaseGPUGraphicsPipeline(gpu_device, world_pipeline);
        if (overlay_pipeline) SDL_ReleaseGPUGraphicsPipeline(gpu_device, overlay_pipeline);
        if (vertex_shader) SDL_ReleaseGPUShader(gpu_device, vertex_shader);
        if (fragment_shader) SDL_ReleaseGPUShader(gpu_device, fragment_shader);
        if (world_buffer) SDL_ReleaseGPUBuffer(gpu_device, world_buffer);
        if (dynamic_buffer) SDL_ReleaseGPUBuffer(gpu_device, dynamic_buffer);
        if (upload_buffer) SDL_ReleaseGPUTransferBuffer(gpu_device, upload_buffer);
        if (atlas_sampler) SDL_ReleaseGPUSampler(gpu_device, atlas_sampler);
        if (scene_target) SDL_ReleaseGPUTexture(gpu_device, scene_target);
        if (depth_target) SDL_ReleaseGPUTexture(gpu_device, depth_target);
        if (atlas_texture) SDL_ReleaseGPUTexture(gpu_device, atlas_texture);
        // Harmless for a window that was never claimed: the device just finds no swapchain.
        SDL_ReleaseWindowFromGPUDevice(gpu_device, window_handle);
        SDL_DestroyGPUDevice(gpu_device);
    }
    if (window_handle) SDL_DestroyWindow(window_handle);
}

SDL_GPUShader* Renderer::Impl::shader(bool vertex) {
    // A Metal device takes MSL source: one file holds both stages under their own entry
    // points. Every other backend takes SPIR-V, one file per stage.
    const bool metal = std::strcmp(SDL_GetGPUDeviceDriver(gpu_device), "metal") == 0;
    const char* base = check(SDL_GetBasePath());
    const char* file = metal ? "world.metal" : vertex ? "world.vert.spv" : "world.frag.spv";
    const std::string path = (std::filesystem::path(base) / "shaders" / file).string();

    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> code;
    if (in) code.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) throw std::runtime_error("missing shader: " + path);

    SDL_GPUShaderCreateInfo info{};
    if (metal) {
        code.push_back(0); // SDL hands MSL to the Metal compiler as a C string
        info.format = SDL_GPU_SHADERFORMAT_MSL;
        info.entrypoint = vertex ? "vertex_main" : "fragment_main";
    } else {
        info.format = SDL_GPU_SHADERFORMAT_SPIRV;
        info.entrypoint = "main";
    }
    info.code = code.data();
    info.code_size = code.size();
    info.stage = vertex ? SDL_GPU_SHADERSTAGE_VERTEX : SDL_GPU_SHADERSTAGE_FRAGMENT;
    info.num_samplers = vertex ? 0 : 1; // the atlas
    info.num_storage_textures = 0;
    info.num_storage_buffers = 0;
    info.num_uniform_buffers = 1;
    return check(SDL_CreateGPUShader(gpu_device, &info));
}

SDL_GPUGraphicsPipeline* Renderer::Impl::pipeline(bool overlay) {
    SDL_GPUVertexBufferDescription buffer{};
    buffer.slot = 0;
    buffer.pitch = sizeof(Vertex);
    buffer.input_rate = SDL_GPU_VERTEXINPUTRATE_VERTEX;
    buffer.instance_step_rate = 0;

    // Locations match the shaders' inputs; offsets are those of `Vertex`.
    SDL_GPUVertexAttribute attributes[4]{};
    attributes[0] = {0, 0, SDL_GPU_VERTEXELEMENTFORMAT_FLOAT3, 0};  // position
    attributes[1] = {1, 0, SDL_GPU_VERTEXELEMENTFORMAT_FLOAT2, 12}; // uv
    attributes[2] = {2, 0, SDL_GPU_VERTEXELEMENTFORMAT_FLOAT4, 20}; // colour
    attributes[3] = {3, 0, SDL_GPU_VERTEXELEMENTFORMAT_FLOAT, 36};  // atlas layer

    SDL_GPUColorTargetDescription color{};
    color.format = SDL_GPU_TEXTUREFORMAT_R8G8B8A8_UNORM; // blending stays off

    SDL_GPUGraphicsPipelineCreateInfo info{};
    info.vertex_shader = vertex_shader;
    info.fragment_shader = fragment_shader;
    info.vertex_input_state.vertex_buffer_descriptions = &buffer;
    info.vertex_input_state.num_vertex_buffers = 1;
    info.vertex_input_state.vertex_attributes = attributes;
    info.vertex_input_state.num_vertex_attributes = 4;
    info.primitive_type = SDL_GPU_PRIMITIVETYPE_TRIANGLELIST;
    // Sprites and walls are seen from both sides, so nothing is culled.
    info.rasterizer_state.fill_mode = SDL_GPU_FILLMODE_FILL;
    info.rasterizer_state.cull_mode = SDL_GPU_CULLMODE_NONE;
    info.rasterizer_state.front_face = SDL_GPU_FRONTFACE_COUNTER_CLOCKWISE;
    info.rasterizer_state.enable_depth_bias = false;
    info.rasterizer_state.enable_depth_clip = true;
    info.multisample_state.sample_count = SDL_GPU_SAMPLECOUNT_1;
    // The overlay is drawn last, over everything, in the order it was built.
    info.depth_stencil_state.compare_op = SDL_GPU_COMPAREOP_LESS;
    info.depth_stencil_state.enable_depth_test = !overlay;
    info.depth_stencil_state.enable_depth_write = !overlay;
    info.depth_stencil_state.enable_stencil_test = false;
    info.target_info.color_target_descriptions = &color;
    info.target_info.num_color_targets = 1;
    info.target_info.depth_stencil_format = SDL_GPU_TEXTUREFORMAT_D32_FLOAT;
    info.target_info.has_depth_stencil_target = true;
    return check(SDL_CreateGPUGraphicsPipeline(gpu_device, &info));
}

void Renderer::Impl::upload_vertices(SDL_GPUCommandBuffer* commands, SDL_GPUBuffer* buffer,
                                     const std::vector<Vertex>& vertices) {
    if (vertices.empty()) return; // nothing to copy, and nothing will be drawn from it
    const auto size = static_cast<std::uint32_t>(vertices.size() * sizeof(Vertex));
    // Cycling: a transfer or vertex buffer still read by an earlier upload or frame in flight
    // is swapped for a fresh one instead of being overwritten or waited for.
    void* mapped = check(SDL_MapGPUTransferBuffer(gpu_device, upload_buffer, true));
    std::memcpy(mapped, vertices.data(), size);
    SDL_UnmapGPUTransferBuffer(gpu_device, upload_buffer);

    SDL_GPUCopyPass* copy = check(SDL_BeginGPUCopyPass(commands));
    SDL_GPUTransferBufferLocation source{};
    source.transfer_buffer = upload_buffer;
    source.offset = 0;
    SDL_GPUBufferRegion destination{};
    destination.buffer = buffer;
    destination.offset = 0;
    destination.size = size;
    SDL_UploadToGPUBuffer(copy, &source, &destination, true);
    SDL_EndGPUCopyPass(copy);
}

SDL_GPUTexture* Renderer::Impl::texture(SDL_GPUTextureType type, SDL_GPUTextureFormat format,
                                        SDL_GPUTextureUsageFlags usage, std::uint32_t width,
                                        std::uint32_t height, std::uint32_t layers) {
    SDL_GPUTextureCreateInfo info{};
    info.type = type;
    info.format = format;
    info.usage = usage;
    info.width = width;
    info.height = height;
    info.layer_count_or_depth = layers;
    info.num_levels = 1;
    info.sample_count = SDL_GPU_SAMPLECOUNT_1;
    return check(SDL_CreateGPUTexture(gpu_device, &info));
}

SDL_GPUBuffer* Renderer::Impl::vertex_buffer(std::uint32_t vertices) {
    SDL_GPUBufferCreateInfo info{};
    info.usage = SDL_GPU_BUFFERUSAGE_VERTEX;
    info.size = vertices * static_cast<std::uint32_t>(sizeof(Vertex));
    return check(SDL_CreateGPUBuffer(gpu_device, &info));
}

SDL_GPUTransferBuffer* Renderer::Impl::transfer_buffer(std::uint32_t vertices) {
    SDL_GPUTransferBufferCreateInfo info{};
    info.usage = SDL_GPU_TRANSFERBUFFERUSAGE_UPLOAD;
    info.size = vertices * static_cast<std::uint32_t>(sizeof(Vertex));
    return check(SDL_CreateGPUTransferBuffer(gpu_device, &info));
}

// Makes room for a frame of `vertices` (at most dynamic_vertex_limit) in the dynamic and upload
// buffers, doubling them as often as needed; they stay that large for later frames. When
// creating fails the old pair is kept.
void Renderer::Impl::grow_dynamic(std::uint32_t vertices) {
    if (vertices <= dynamic_capacity) return;
    const std::uint32_t capacity = std::bit_ceil(vertices);
    SDL_GPUBuffer* buffer = vertex_buffer(capacity);
    SDL_GPUTransferBuffer* upload = nullptr;
    try {
        upload = transfer_buffer(capacity);
    } catch (...) {
        SDL_ReleaseGPUBuffer(gpu_device, buffer);
        throw;
    }
    // Frames still in flight may read the old pair: SDL destroys it once the GPU is done.
    SDL_ReleaseGPUBuffer(gpu_device, dynamic_buffer);
    SDL_ReleaseGPUTransferBuffer(gpu_device, upload_buffer);
    dynamic_buffer = buffer;
    upload_buffer = upload;
    dynamic_capacity = capacity;
}

void Renderer::Impl::upload_atlas() {
    const std::vector<std::uint8_t> atlas = make_atlas();
    void* mapped = check(SDL_MapGPUTransferBuffer(gpu_device, upload_buffer, false));
    std::memcpy(mapped, atlas.data(), atlas.size());
    SDL_UnmapGPUTransferBuffer(gpu_device, upload_buffer);

    PendingCommands commands(check(SDL_AcquireGPUCommandBuffer(gpu_device)));
    SDL_GPUCopyPass* copy = check(SDL_BeginGPUCopyPass(commands.get()));
    for (std::uint32_t i = 0; i < atlas_layers; ++i) {
        SDL_GPUTextureTransferInfo source{};
        source.transfer_buffer = upload_buffer;
        source.offset = static_cast<std::uint32_t>(i * atlas_layer_bytes);
        source.pixels_per_row = atlas_size;
        source.rows_per_layer = atlas_size;
        SDL_GPUTextureRegion destination{};
        destination.texture = atlas_texture;
        destination.mip_level = 0;
        destination.layer = i;
        destination.w = atlas_size;
        destination.h = atlas_size;
        destination.d = 1;
        SDL_UploadToGPUTexture(copy, &source, &destination, false);
    }
    SDL_EndGPUCopyPass(copy);
    commands.submit();
}

Renderer::Renderer(bool hidden) : impl_(std::make_unique<Impl>()) {
    // A throw from here on destroys impl_, whose destructor releases whatever was created.
    Impl& r = *impl_;
    SDL_WindowFlags flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIGH_PIXEL_DENSITY;
    if (hidden) flags |= SDL_WINDOW_HIDDEN;
    r.window_handle =
        check(SDL_CreateWindow("DUSKHOLLOW // F6: Link Player Account", 1280, 720, flags));
    r.gpu_device = check(
        SDL_CreateGPUDevice(SDL_GPU_SHADERFORMAT_SPIRV | SDL_GPU_SHADERFORMAT_MSL, false, nullptr));
    check(SDL_ClaimWindowForGPUDevice(r.gpu_device, r.window_handle));
    if (!SDL_SetGPUSwapchainParameters(r.gpu_device, r.window_handle,
                                       SDL_GPU_SWAPCHAINCOMPOSITION_SDR, SDL_GPU_PRESENTMODE_VSYNC))
        check(SDL_SetGPUSwapchainParameters(r.gpu_device, r.window_handle,
                                            SDL_GPU_SWAPCHAINCOMPOSITION_SDR,
                                            SDL_GPU_PRESENTMODE_IMMEDIATE));
    std::cout << "GPU backend: " << SDL_GetGPUDeviceDriver(r.gpu_device)
              << " | 640x360 retro target\n"
              << std::flush;

    r.vertex_shader = r.shader(true);
    r.fragment_shader = r.shader(false);
    r.world_pipeline = r.pipeline(false);
    r.overlay_pipeline = r.pipeline(true);

    r.scene_target = r.texture(SDL_GPU_TEXTURETYPE_2D, SDL_GPU_TEXTUREFORMAT_R8G8B8A8_UNORM,
                               SDL_GPU_TEXTUREUSAGE_SAMPLER | SDL_GPU_TEXTUREUSAGE_COLOR_TARGET,
                               scene_width, scene_height, 1);
    r.depth_target =
        r.texture(SDL_GPU_TEXTURETYPE_2D, SDL_GPU_TEXTUREFORMAT_D32_FLOAT,
                  SDL_GPU_TEXTUREUSAGE_DEPTH_STENCIL_TARGET, scene_width, scene_height, 1);
    r.atlas_texture = r.texture(SDL_GPU_TEXTURETYPE_2D_ARRAY, SDL_GPU_TEXTUREFORMAT_R8G8B8A8_UNORM,
                                SDL_GPU_TEXTUREUSAGE_SAMPLER, atlas_size, atlas_size, atlas_layers);
    const SDL_GPUSamplerCreateInfo sampler{}; // nearest everywhere, repeat on every axis
    r.atlas_sampler = check(SDL_CreateGPUSampler(r.gpu_device, &sampler));
    r.world_buffer = r.vertex_buffer(world_capacity);
    // The upload buffer also carries the atlas and the world mesh, both smaller than this.
    static_assert(dynamic_start >= world_capacity && dynamic_start * sizeof(Vertex) >= atlas_bytes);
    r.dynamic_buffer = r.vertex_buffer(dynamic_start);
    r.upload_buffer = r.transfer_buffer(dynamic_start);
    r.dynamic_capacity = dynamic_start;

    r.upload_atlas();
}

Renderer::~Renderer() = default;

SDL_Window* Renderer::window() const {
    return impl_->window_handle;
}

void Renderer::draw(const Frame& frame) {
    Impl& r = *impl_;

    // All geometry is built before any GPU work is recorded, so that a capacity error leaves
    // the mesh cache as it was and records nothing for this frame.
    const bool rebuild = frame.sector && (frame.sector->id != r.world_key.id ||
                                          frame.sector->revision != r.world_key.revision);
    std::vector<Vertex> world;
    if (rebuild) {
        world = world_mesh(*frame.sector);
        if (world.size() > world_capacity)
            throw std::runtime_error("world geometry capacity exceeded");
    }
    std::vector<Vertex>& vertices = r.frame_vertices;
    vertices.clear();
    vertices.reserve(dynamic_reserve);
    if (frame.sector && !frame.transition)
        entity_pass(vertices, frame.entities, *frame.sector, frame.yaw, frame.time);
    const auto split = static_cast<std::uint32_t>(vertices.size()); // 3D part first, then 2D
    overlay_pass(vertices, frame);
    if (vertices.size() > dynamic_vertex_limit)
        throw std::runtime_error("dynamic geometry capacity exceeded");
    const auto total = static_cast<std::uint32_t>(vertices.size());
    r.grow_dynamic(total); // before any command, so a failure records nothing

    PendingCommands commands(check(SDL_AcquireGPUCommandBuffer(r.gpu_device)));
    // Null while the window cannot present (hidden, minimised): only the blit is skipped.
    SDL_GPUTexture* swapchain = nullptr;
    std::uint32_t width = 0, height = 0;
    check(SDL_WaitAndAcquireGPUSwapchainTexture(commands.get(), r.window_handle, &swapchain, &width,
                                                &height));

    if (rebuild) r.upload_vertices(commands.get(), r.world_buffer, world);
    const auto world_count =
        rebuild ? static_cast<std::uint32_t>(world.size()) : r.world_vertex_count;
    r.upload_vertices(commands.get(), r.dynamic_buffer, vertices);

    SDL_GPUColorTargetInfo color{};
    color.texture = r.scene_target;
    color.clear_color = {0.055f, 0.075f, 0.09f, 1.0f};
    color.load_op = SDL_GPU_LOADOP_CLEAR;
    color.store_op = SDL_GPU_STOREOP_STORE;
    SDL_GPUDepthStencilTargetInfo depth{};
    depth.texture = r.depth_target;
    depth.clear_depth = 1.0f;
    depth.load_op = SDL_GPU_LOADOP_CLEAR;
    depth.store_op = SDL_GPU_STOREOP_DONT_CARE;
    depth.stencil_load_op = SDL_GPU_LOADOP_DONT_CARE;
    depth.stencil_store_op = SDL_GPU_STOREOP_DONT_CARE;
    SDL_GPURenderPass* pass = check(SDL_BeginGPURenderPass(commands.get(), &color, 1, &depth));

    const FragmentUniforms fragment{{frame.time, 0.0f, 0.0f, 0.0f}};
    SDL_PushGPUFragmentUniformData(commands.get(), 0, &fragment, sizeof fragment);
    SDL_GPUTextureSamplerBinding atlas{};
    atlas.texture = r.atlas_texture;
    atlas.sampler = r.atlas_sampler;
    SDL_BindGPUFragmentSamplers(pass, 0, &atlas, 1);

    SDL_BindGPUGraphicsPipeline(pass, r.world_pipeline);
    const SceneUniforms scene = scene_uniforms(frame, false);
    SDL_PushGPUVertexUniformData(commands.get(), 0, &scene, sizeof scene);
    SDL_GPUBufferBinding binding{};
    if (!frame.transition && frame.sector) {
        if (world_count > 0) {
            binding.buffer = r.world_buffer;
            SDL_BindGPUVertexBuffers(pass, 0, &binding, 1);
            SDL_DrawGPUPrimitives(pass, world_count, 1, 0, 0);
        }
        if (split > 0) {
            binding.buffer = r.dynamic_buffer;
            SDL_BindGPUVertexBuffers(pass, 0, &binding, 1);
            SDL_DrawGPUPrimitives(pass, split, 1, 0, 0);
        }
    }

    SDL_BindGPUGraphicsPipeline(pass, r.overlay_pipeline);
    const SceneUniforms screen = scene_uniforms(frame, true);
    SDL_PushGPUVertexUniformData(commands.get(), 0, &screen, sizeof screen);
    if (total > split) {
        binding.buffer = r.dynamic_buffer;
        SDL_BindGPUVertexBuffers(pass, 0, &binding, 1);
        SDL_DrawGPUPrimitives(pass, total - split, 1, split, 0);
    }
    SDL_EndGPURenderPass(pass);

    // A window too small to hold one scaled row or column gets nothing, not an empty blit.
    const BlitRect to = width != 0 && height != 0 ? letterbox(width, height) : BlitRect{};
    if (swapchain && to.w != 0 && to.h != 0) {
        SDL_GPUBlitInfo blit{};
        blit.source.texture = r.scene_target;
        blit.source.w = scene_width;
        blit.source.h = scene_height;
        blit.destination.texture = swapchain;
        blit.destination.x = to.x;
        blit.destination.y = to.y;
        blit.destination.w = to.w;
        blit.destination.h = to.h;
        blit.load_op = SDL_GPU_LOADOP_CLEAR; // the bars
        blit.clear_color = {0.0f, 0.0f, 0.0f, 1.0f};
        blit.flip_mode = SDL_FLIP_NONE;
        blit.filter = SDL_GPU_FILTER_NEAREST;
        SDL_BlitGPUTexture(commands.get(), &blit);
    }
    commands.submit();
    // The cache names the new mesh only once its upload is on its way to the GPU.
    if (rebuild) {
        r.world_vertex_count = world_count;
        r.world_key = {frame.sector->id, frame.sector->revision};
    }
}

void Renderer::capture(const std::string& path) {
    Impl& r = *impl_;

    // The download buffer and the fence are released on every way out.
    struct Download {
        SDL_GPUDevice* device;
        SDL_GPUTransferBuffer* buffer = nullptr;
        SDL_GPUFence* fence = nullptr;
        ~Download() {
            if (fence) SDL_ReleaseGPUFence(device, fence);
            if (buffer) SDL_ReleaseGPUTransferBuffer(device, buffer);
        }
    } download{r.gpu_device};

    SDL_GPUTransferBufferCreateInfo info{};
    info.usage = SDL_GPU_TRANSFERBUFFERUSAGE_DOWNLOAD;
    info.size = scene_bytes;
    download.buffer = check(SDL_CreateGPUTransferBuffer(r.gpu_device, &info));

    PendingCommands commands(check(SDL_AcquireGPUCommandBuffer(r.gpu_device)));
    SDL_GPUCopyPass* copy = check(SDL_BeginGPUCopyPass(commands.get()));
    SDL_GPUTextureRegion source{};
    source.texture = r.scene_target;
    source.w = scene_width;
    source.h = scene_height;
    source.d = 1;
    SDL_GPUTextureTransferInfo destination{};
    destination.transfer_buffer = download.buffer;
    destination.offset = 0;
    destination.pixels_per_row = scene_width;
    destination.rows_per_layer = scene_height;
    SDL_DownloadFromGPUTexture(copy, &source, &destination);
    SDL_EndGPUCopyPass(copy);
    download.fence = check(SDL_SubmitGPUCommandBufferAndAcquireFence(commands.release()));
    check(SDL_WaitForGPUFences(r.gpu_device, true, &download.fence, 1));

    // Bytes R, G, B, A per pixel, rows top to bottom: the layout of R8G8B8A8_UNORM.
    const auto* mapped = static_cast<const std::uint8_t*>(
        check(SDL_MapGPUTransferBuffer(r.gpu_device, download.buffer, false)));
    const std::vector<std::uint8_t> pixels(mapped, mapped + scene_bytes);
    SDL_UnmapGPUTransferBuffer(r.gpu_device, download.buffer);
    save_png(path, scene_width, scene_height, pixels);
}

} // namespace kestrel
