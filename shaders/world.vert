#version 450
// Vertex stage of the game's one shader pair. World and entity vertices are in tile units
// (x east along the columns, y south along the rows, z up) and are projected here from the
// camera uniforms; overlay vertices arrive in device coordinates and pass straight through.
//
// Device coordinates as SDL's GPU API defines them on every backend: x right, y up, depth
// 0 (near) .. 1 (far); the world pipeline tests depth with LESS against a clear of 1.

layout(location = 0) in vec3 in_position;
layout(location = 1) in vec2 in_uv;
layout(location = 2) in vec4 in_color;
layout(location = 3) in float in_layer;

layout(location = 0) out vec2 out_uv;
layout(location = 1) out vec4 out_color;
layout(location = 2) flat out float out_layer;
layout(location = 3) out float out_distance; // along the view direction; 0 for the overlay

// Vertex uniform slot 0 (SPIR-V: set 1), 48 bytes.
layout(set = 1, binding = 0) uniform Scene {
    vec4 camera;     // camera x, camera y (tiles), cos yaw, sin yaw
    vec4 projection; // 1 / tan 30deg (vertical), aspect 640 / 360, eye height 0.65, 0
    vec4 mode;       // overlay flag (1: device coordinates), 0, 0, 0
};

// The player never gets closer than its body radius (0.22 tiles) to a wall, and a sector
// is 32 tiles across, so this range keeps all of it while leaving the 32-bit depth buffer
// enough precision for the 0.002-tile layering of the entity models.
const float near_plane = 0.1;
const float far_plane = 64.0;

void main() {
    out_uv = in_uv;
    out_color = in_color;
    out_layer = in_layer;
    if (mode.x > 0.5) {
        gl_Position = vec4(in_position, 1.0);
        out_distance = 0.0;
        return;
    }
    // View axes: ahead = (cos a, sin a); right on screen = (-sin a, cos a), which is south
    // when looking east because the rows grow southward; up = z.
    vec2 d = in_position.xy - camera.xy;
    float ahead = d.x * camera.z + d.y * camera.w;
    float right = d.y * camera.z - d.x * camera.w;
    float up = in_position.z - projection.z;
    float focal = projection.x;
    gl_Position = vec4(right * focal / projection.y, up * focal,
                       (ahead - near_plane) * far_plane / (far_plane - near_plane), ahead);
    out_distance = ahead;
}
