#include "render/gameplay_hud.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "render/entity_mesh.h"
#include "render/primitives.h"
#include "render/text.h"

namespace kestrel {
namespace {

using namespace hud_color;

constexpr float minimap_x = 556; // centre of the minimap square
constexpr float minimap_y = 102;
constexpr float minimap_scale = 3.3f; // pixels per tile

// The rotation of the minimap for one view yaw, so the grid pays for cos and sin once.
struct MinimapView {
    double c, s;

    explicit MinimapView(float yaw) {
        const double a = yaw * 2.0 * std::numbers::pi / 65536.0;
        c = std::cos(a);
        s = std::sin(a);
    }

    // The view direction (cos a, sin a) maps to screen up, its right-hand side to screen
    // right.
    Vec3 point(double x, double y) const {
        const double dx = x - 16, dy = y - 16;
        return {static_cast<float>(minimap_x + minimap_scale * (c * dy - s * dx)),
                static_cast<float>(minimap_y + minimap_scale * (-s * dy - c * dx)), 0};
    }
};

Vec3 to_device(Vec3 p) {
    return device_point(p.x, p.y);
}

// Centre of a cell in tiles.
Vec2 cell_centre(std::uint16_t cell) {
    return {static_cast<float>(cell & 31) + 0.5f, static_cast<float>(cell >> 5) + 0.5f};
}

std::string_view boost_name(unsigned boost) {
    switch (boost) {
    case 1:
        return "RAPID FIRE";
    case 2:
        return "EXPLOSIVE ROUNDS";
    case 3:
        return "SPEED BOOST";
    default:
        return "ARMOR";
    }
}

// The challenge a portal's destination is announced with, or empty when it has none. The
// hash is the one that also colours the portal's ring, so hint and ring agree.
std::string_view destination_challenge(std::uint64_t target) {
    static constexpr std::string_view names[] = {"ARENA LOCKDOWN", "ROAMING BOSS", "CACHE AMBUSH",
                                                 "RANGED SWARM"};
    const std::uint64_t h = splitmix_finalizer(target);
    if (h % 20 == 0) return "DANGER / ELITE SECTOR";
    if (h % 5 == 0) return names[(h / 20) % 4];
    return {};
}

// A box given by its pixel edges.
void box(std::vector<Vertex>& out, float x0, float y0, float x1, float y1, Color color) {
    screen_rect(out, x0, y0, x1 - x0, y1 - y0, color, 0);
}

} // namespace

std::string_view challenge_name(unsigned challenge) {
    switch (challenge) {
    case 1:
        return "ARENA LOCKDOWN";
    case 2:
        return "ROAMING BOSS";
    case 3:
        return "CACHE AMBUSH";
    case 4:
        return "RANGED SWARM";
    case 5:
        return "DANGER / ELITE SECTOR";
    default:
        return "STANDARD SECTOR";
    }
}

void gameplay_hud(std::vector<Vertex>& out, const Player& player, const SectorStatus& status) {
    std::string line{challenge_name(status.challenge)};
    line += " / LEFT " + std::to_string(status.remaining);
    text(out, line, 12, 23, status.challenge == 0 ? pale : warning, 1);

    line = "Q DASH ";
    line += player.dash_cooldown == 0 ? std::string("READY")
                                      : std::to_string(whole_seconds(player.dash_cooldown)) + "S";
    line += " / E REVIVE";
    text(out, line, 12, 36, cyan, 1);

    if (player.boost_ticks != 0) {
        line = boost_name(player.boost);
        line += " " + std::to_string(whole_seconds(player.boost_ticks)) + "S / ARMOR " +
                std::to_string(player.boost_value);
        text(out, line, 12, 49, cyan, 1);
    }

    const bool cleared = status.flags & 1;
    if (status.flags & 4) {
        text(out, "PORTALS SEALED / CLEAR TO ESCAPE", 300, 188, warning, 1);
    } else if (status.challenge == 1 && !cleared) {
        text(out, "WARNING / LOCKDOWN AFTER 5 SECONDS", 300, 188, warning, 1);
    }
    if (status.challenge == 3 && !(status.flags & 8)) {
        text(out, "CACHE SIGNAL / APPROACH WITH CAUTION", 300, 188, warning, 1);
    }

    if (status.revive != 0) {
        // The font has no "%": it leaves a blank cell.
        text(out, "REVIVING " + std::to_string(status.revive * 100 / 60) + "% / HOLD E", 270, 207,
             cyan, 1);
    }

    // Cleared, and the reward cache not used yet.
    if ((status.flags & 3) == 1) {
        text(out, "CLEAR / FIND THE REWARD CACHE", 270, 185, cyan, 1);
        text(out, "AT CACHE: F1 HEALTH / F2 AMMO", 270, 197, pale, 1);
        text(out, "F3 ARMOR / F4 POWER-UP", 270, 209, pale, 1);
    }
}

void portal_hint(std::vector<Vertex>& out, const Sector& sector, float x, float y) {
    for (const Portal& portal : sector.portals) {
        if (portal.target == 1) continue;
        const std::string_view challenge = destination_challenge(portal.target);
        if (challenge.empty()) continue;
        const Vec2 c = cell_centre(portal.cell);
        if (std::hypot(x - c.x, y - c.y) < 3.5f) {
            std::string line = "PORTAL: ";
            line += challenge;
            text(out, line, 80, 285, warning, 1);
        }
    }
}

void mine_hud(std::vector<Vertex>& out, float time) {
    constexpr Color hands{0.6f, 0.35f, 0.22f, 1};
    constexpr Color body{0.15f, 0.22f, 0.13f, 1};
    constexpr Color plate{0.3f, 0.4f, 0.22f, 1};
    constexpr Color light_on{1, 0.15f, 0.03f, 1};
    constexpr Color light_off{0.4f, 0.05f, 0.02f, 1};
    constexpr Color post{0.65f, 0.65f, 0.56f, 1};

    box(out, 258, 290, 284, 328, hands);
    box(out, 356, 290, 382, 328, hands);
    box(out, 277, 271, 363, 328, body);
    box(out, 286, 264, 354, 273, plate);
    const auto quarter = static_cast<long long>(std::floor(4.0 * time));
    box(out, 315, 281, 325, 287, (quarter & 1) ? light_on : light_off);
    // The posts run from under the plate down to the foot of the mine.
    box(out, 284, 282, 288, 328, post);
    box(out, 352, 282, 356, 328, post);
}

Vec3 minimap_point(float x, float y, float yaw) {
    return MinimapView(yaw).point(x, y);
}

float radar_strength(float age) {
    return std::clamp(1.0f - age / 1.5f, 0.0f, 1.0f);
}

void minimap(std::vector<Vertex>& out, const Sector* sector, std::span<const RadarBlip> blips,
             Vec2 camera, float yaw) {
    const MinimapView view(yaw);
    screen_rect(out, 476, 22, 160, 160, {0.01f, 0.025f, 0.03f, 1}, 0);

    if (sector) {
        constexpr Color open{0.04f, 0.09f, 0.1f, 1};
        constexpr Color blocked{0.3f, 0.4f, 0.43f, 1};
        // Grid corners in device coordinates, each shared by up to four cells.
        std::array<Vec3, (sector_size + 1) * (sector_size + 1)> corner;
        for (int y = 0; y <= sector_size; ++y)
            for (int x = 0; x <= sector_size; ++x)
                corner[static_cast<std::size_t>(y * (sector_size + 1) + x)] =
                    to_device(view.point(x, y));
        const Grid grid = sector->collision(false);
        for (int y = 0; y < sector_size; ++y) {
            for (int x = 0; x < sector_size; ++x) {
                const auto at = [&](int cx, int cy) {
                    return corner[static_cast<std::size_t>(cy * (sector_size + 1) + cx)];
                };
                const bool solid = grid[static_cast<std::size_t>(y * sector_size + x)] != 0;
                quad(out, at(x, y), at(x + 1, y), at(x + 1, y + 1), at(x, y + 1), 0,
                     solid ? blocked : open);
            }
        }
        static constexpr std::string_view letters[] = {"W", "E", "N", "S"};
        for (const Portal& portal : sector->portals) {
            const Vec2 c = cell_centre(portal.cell);
            const Vec3 p = view.point(c.x, c.y);
            screen_rect(out, p.x - 2, p.y - 2, 4, 4, cyan, 0);
            if (portal.id < 4) text(out, letters[portal.id], p.x + 3, p.y - 3, cyan, 1);
        }
    }

    for (const RadarBlip& blip : blips) {
        const Vec3 p = view.point(blip.x, blip.y);
        const float s = radar_strength(blip.age);
        screen_rect(out, p.x - 2, p.y - 2, 4, 4, {s, 0.1f * s, 0.03f, 1}, 0);
    }

    // A dot with a nose pointing up, the view direction.
    const Vec3 p = view.point(camera.x, camera.y);
    screen_rect(out, p.x - 1, p.y - 2, 3, 4, white, 0);
    screen_rect(out, p.x, p.y - 4, 1, 2, white, 0);
}

void transfer_screen(std::vector<Vertex>& out, std::string_view status_line,
                     std::uint64_t destination) {
    screen_rect(out, 0, 0, 640, 360, white, -1); // the shader animates layer -1
    screen_rect(out, 120, 145, 400, 56, {0.02f, 0.035f, 0.055f, 1}, 0);
    text(out, status_line, 140, 158, pale, 2);
    if (destination != 0) {
        text(out, "DESTINATION / " + std::to_string(destination), 140, 183, cyan, 1);
    }
}

} // namespace kestrel
