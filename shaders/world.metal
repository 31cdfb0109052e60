// The game's one shader pair for Metal devices, both stages in one file; it behaves exactly
// like world.vert and world.frag (see there for the conventions). SDL binds uniform slot 0
// of each stage at [[buffer(0)]], the atlas at [[texture(0)]] / [[sampler(0)]], and feeds
// the vertex attributes through [[stage_in]] from the pipeline's vertex layout.

#include <metal_stdlib>
using namespace metal;

struct VertexIn {
    float3 position [[attribute(0)]];
    float2 uv [[attribute(1)]];
    float4 color [[attribute(2)]];
    float layer [[attribute(3)]];
};

struct VertexOut {
    float4 position [[position]];
    float2 uv;
    float4 color;
    float layer [[flat]];
    float view_distance; // along the view direction; 0 for the overlay
};

// Vertex uniform slot 0, 48 bytes.
struct Scene {
    float4 camera;     // camera x, camera y (tiles), cos yaw, sin yaw
    float4 projection; // 1 / tan 30deg (vertical), aspect 640 / 360, eye height 0.65, 0
    float4 mode;       // overlay flag (1: device coordinates), 0, 0, 0
};

// Fragment uniform slot 0, 16 bytes: time in seconds, 0, 0, 0.
struct Timing {
    float4 timing;
};

constant float near_plane = 0.1;
constant float far_plane = 64.0;
constant float3 haze = float3(0.055, 0.075, 0.09);

vertex VertexOut vertex_main(VertexIn input [[stage_in]], constant Scene& scene [[buffer(0)]]) {
    VertexOut output;
    output.uv = input.uv;
    output.color = input.color;
    output.layer = input.layer;
    if (scene.mode.x > 0.5) {
        output.position = float4(input.position, 1.0);
        output.view_distance = 0.0;
        return output;
    }
    float2 d = input.position.xy - scene.camera.xy;
    float ahead = d.x * scene.camera.z + d.y * scene.camera.w;
    float right = d.y * scene.camera.z - d.x * scene.camera.w;
    float up = input.position.z - scene.projection.z;
    float focal = scene.projection.x;
    output.position = float4(right * focal / scene.projection.y, up * focal,
                          (ahead - near_plane) * far_plane / (far_plane - near_plane), ahead);
    output.view_distance = ahead;
    return output;
}

static float3 backdrop(float2 uv, float t) {
    const float turn = 6.2831853;
    float2 p = (uv - 0.5) * float2(640.0 / 360.0, 1.0);
    float r = max(length(p), 0.001);
    float depth = 0.5 / r + t * 1.5;
    float lanes = atan2(p.y, p.x) / turn * 6.0;
    float spiral = 0.5 + 0.5 * sin((lanes + depth * 0.8 + t * 0.1) * turn);
    float rings = 0.5 + 0.5 * sin(depth * turn * 2.0);
    float detail = smoothstep(0.04, 0.2, r);
    float glow = spiral * (0.35 + 0.65 * rings) * detail;
    float3 c = mix(float3(0.03, 0.02, 0.10), float3(0.34, 0.11, 0.70), float3(glow));
    c += float3(0.15, 0.75, 0.85) * pow(glow, 6.0);
    c += float3(0.80, 0.90, 1.00) * exp(-r * 10.0);
    c *= 1.0 - 0.4 * smoothstep(0.5, 1.0, r);
    return floor(c * 16.0 + 0.5) / 16.0;
}

fragment float4 fragment_main(VertexOut input [[stage_in]],
                              texture2d_array<float> atlas [[texture(0)]],
                              sampler atlas_sampler [[sampler(0)]],
                              constant Timing& timing [[buffer(0)]]) {
    if (input.layer < -0.5) {
        return float4(backdrop(input.uv, timing.timing.x) * input.color.rgb, 1.0);
    }
    // GLSL's texture() on an array rounds the layer to the nearest integer; so does this.
    float4 texel = atlas.sample(atlas_sampler, input.uv, uint(input.layer + 0.5));
    if (texel.a == 0.0) {
        discard_fragment();
    }
    float3 rgb = texel.rgb * input.color.rgb;
    rgb = mix(rgb, haze, float3(clamp((input.view_distance - 6.0) / 40.0, 0.0, 0.45)));
    return float4(rgb, 1.0);
}
