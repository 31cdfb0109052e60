// The game's only textures, generated at start-up: one array of eight 32x32 RGBA layers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

inline constexpr int atlas_size = 32; // pixels per side of a layer
inline constexpr int atlas_layers = 8;
inline constexpr std::size_t atlas_layer_bytes = atlas_size * atlas_size * 4;
inline constexpr std::size_t atlas_bytes = atlas_layers * atlas_layer_bytes;

// Atlas layers by use.
namespace atlas_layer {
inline constexpr int flat = 0;     // opaque white: plain vertex colour
inline constexpr int wall = 1;     // brick, also the grid border
inline constexpr int floor = 2;    // floor plates
inline constexpr int ceiling = 3;  // ceiling panels with a light strip
inline constexpr int creature = 4; // sprite, transparent background
inline constexpr int portal = 5;   // ring, transparent inside and out
inline constexpr int weapon = 6;   // first-person weapon, transparent background
inline constexpr int spark = 7;    // star-shaped flash, transparent corners
} // namespace atlas_layer

// 32,768 bytes: layer after layer, rows top to bottom, 4 bytes R, G, B, A per pixel, so
// pixel (x, y) of layer l starts at l * 4096 + (y * 32 + x) * 4.
std::vector<std::uint8_t> make_atlas();

} // namespace kestrel
