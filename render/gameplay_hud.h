// The fixed heads-up display over the 3D view: sector status lines, the portal proximity
// hint, the first-person landmine, the rotating minimap with its radar, and the screen shown
// instead of all of it while a sector is being transferred. Everything is in pixels of the
// 640x360 screen (origin top-left, y down) and appended as device-coordinate vertices.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/meta_state.h"
#include "protocol/player.h"
#include "render/radar_blip.h"
#include "render/vertex.h"
#include "world/sector.h"

namespace kestrel {

// The HUD palette.
namespace hud_color {
inline constexpr Color pale{0.8f, 0.88f, 0.85f, 1};
inline constexpr Color orange{0.95f, 0.55f, 0.25f, 1};
inline constexpr Color cyan{0.18f, 0.85f, 0.85f, 1};
inline constexpr Color warning{1, 0.55f, 0.12f, 1};
inline constexpr Color white{1, 1, 1, 1};
} // namespace hud_color

// Ticks (1/30 s) as whole seconds, rounded up.
constexpr unsigned whole_seconds(unsigned ticks) {
    return (ticks + 29) / 30;
}

// Name of a sector challenge 1..5; everything else is a standard sector.
std::string_view challenge_name(unsigned challenge);

// Status lines of the current sector: challenge and enemies left, dash and boost timers,
// lockdown and cache warnings, revive progress and the reward-cache choices.
void gameplay_hud(std::vector<Vertex>& out, const Player& player, const SectorStatus& status);

// "PORTAL: " and the challenge of the destination for every portal within 3.5 tiles of the
// camera (x, y) whose destination hashes to a challenge sector.
void portal_hint(std::vector<Vertex>& out, const Sector& sector, float x, float y);

// The first-person landmine, its signal light blinking every quarter second.
void mine_hud(std::vector<Vertex>& out, float time);

// Screen pixel of world point (x, y) (tiles) on the minimap: centred on the middle of the
// sector, 3.3 pixels per tile, rotated so the view direction points up; z = 0.
Vec3 minimap_point(float x, float y, float yaw);

// Brightness of a radar contact of the given age in seconds: 1 when fresh, 0 from 1.5 s on.
float radar_strength(float age);

// The minimap square: background, the collision grid and lettered portals of the sector
// (when there is one), the radar contacts and the player's marker at `camera` (tiles).
void minimap(std::vector<Vertex>& out, const Sector* sector, std::span<const RadarBlip> blips,
             Vec2 camera, float yaw);

// What is shown instead of the world and every HUD while a sector is transferred: the
// animated backdrop, a panel with the status line and the destination (0 = none).
void transfer_screen(std::vector<Vertex>& out, std::string_view status_line,
                     std::uint64_t destination);

} // namespace kestrel
