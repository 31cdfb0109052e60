#version 450
// Fragment stage: the atlas texel times the vertex colour. Blending is off, so a sprite's
// transparent texels are simply not drawn. Layer -1 is the animated wormhole backdrop of
// the transfer screen, drawn from the rectangle's texture coordinates instead of the atlas.

layout(location = 0) in vec2 in_uv;
layout(location = 1) in vec4 in_color;
layout(location = 2) flat in float in_layer;
layout(location = 3) in float in_distance;

layout(location = 0) out vec4 out_color;

// Fragment sampler slot 0 (SPIR-V: set 2): 8 layers of 32x32, nearest, repeating.
layout(set = 2, binding = 0) uniform sampler2DArray atlas;

// Fragment uniform slot 0 (SPIR-V: set 3), 16 bytes: time in seconds, 0, 0, 0.
layout(set = 3, binding = 0) uniform Timing {
    vec4 timing;
};

const vec3 haze = vec3(0.055, 0.075, 0.09); // the scene's clear colour

// A tunnel rushing toward the viewer: six spiral lanes twisting into the depth, crossed by
// rings, violet with cyan glints, around a white core; uv spans the screen, y down.
vec3 backdrop(vec2 uv, float t) {
    const float turn = 6.2831853;
    vec2 p = (uv - 0.5) * vec2(640.0 / 360.0, 1.0);
    float r = max(length(p), 0.001);
    float depth = 0.5 / r + t * 1.5;          // distance into the tunnel
    float lanes = atan(p.y, p.x) / turn * 6.0; // around the tunnel wall
    float spiral = 0.5 + 0.5 * sin((lanes + depth * 0.8 + t * 0.1) * turn);
    float rings = 0.5 + 0.5 * sin(depth * turn * 2.0);
    float detail = smoothstep(0.04, 0.2, r); // too fine to draw near the core
    float glow = spiral * (0.35 + 0.65 * rings) * detail;
    vec3 c = mix(vec3(0.03, 0.02, 0.10), vec3(0.34, 0.11, 0.70), glow);
    c += vec3(0.15, 0.75, 0.85) * pow(glow, 6.0);
    c += vec3(0.80, 0.90, 1.00) * exp(-r * 10.0);
    c *= 1.0 - 0.4 * smoothstep(0.5, 1.0, r);
    return floor(c * 16.0 + 0.5) / 16.0; // a few flat bands, like the rest of the low-res look
}

void main() {
    if (in_layer < -0.5) {
        out_color = vec4(backdrop(in_uv, timing.x) * in_color.rgb, 1.0);
        return;
    }
    vec4 texel = texture(atlas, vec3(in_uv, in_layer));
    if (texel.a == 0.0) discard;
    vec3 rgb = texel.rgb * in_color.rgb;
    // Far parts of the sector sink into the haze a little, which reads as depth in a world
    // made of flat-shaded boxes. The overlay has distance 0 and is never hazed.
    rgb = mix(rgb, haze, clamp((in_distance - 6.0) / 40.0, 0.0, 0.45));
    out_color = vec4(rgb, 1.0);
}
