// Entities and portal rings as flat, camera-facing cut-outs in the per-frame vertex list:
// either one textured sprite (`billboard`) or a small model of coloured rectangles and
// ellipses (`special_entity`).
//
// Every builder takes the view yaw in 1/65536 turn: with a = yaw * 2pi / 65536 the view
// direction is (cos a, sin a) and the sprite plane's lateral axis, left to right on screen,
// is (-sin a, cos a).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "render/vertex.h"
#include "session/draw_entity.h"
#include "world/sector.h"

namespace kestrel {

// One camera-facing rectangle standing on the entity's feet: 0.55 x 0.8 alive, 0.7 x 0.16
// dead (lying); kind 2 types 8 and 14 are 1.0 wide and 0.98 (dead 0.2) tall; kind 3 is
// 0.45 x 0.4 and kind 4 0.12 x 0.12 whatever their health.
void billboard(std::vector<Vertex>& out, const DrawEntity& e, float yaw, float layer, Color color);

// Appends the model of the entity's kind and returns true; returns false when the generic
// sprite path must draw it, having appended nothing or only the death smoke and sparks.
bool special_entity(std::vector<Vertex>& out, const DrawEntity& e, float yaw, float time);

// Tint of the first-person weapon sprite: the cosmetic skin 1..4 wins, else by weapon.
Color weapon_color(std::uint16_t weapon, std::uint8_t skin);

// The splitmix64 finaliser (no increment, unlike mix64): how a portal's destination id is
// hashed into its marker colour and its challenge hint.
constexpr std::uint64_t splitmix_finalizer(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x;
}

// A ring at the centre of every open portal (link_flags bit 0): pulsing yellow, or violet
// blue when the destination hashes to a challenge sector.
void portal_markers(std::vector<Vertex>& out, const Sector& sector, float yaw, float time);

// The 3D entity geometry of one frame: every entity in order (model, pickup symbol or tinted
// sprite with marker star and debris), then the portal markers.
void entity_pass(std::vector<Vertex>& out, std::span<const DrawEntity> entities,
                 const Sector& sector, float yaw, float time);

} // namespace kestrel
