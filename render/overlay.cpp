#include "render/overlay.h"

#include <string>

#include "render/adventure_hud.h"
#include "render/atlas.h"
#include "render/entity_mesh.h"
#include "render/expedition_hud.h"
#include "render/gameplay_hud.h"
#include "render/text.h"

namespace kestrel {
namespace {

using namespace hud_color;

void bars(std::vector<Vertex>& out, const Frame& frame) {
    screen_rect(out, 0, 0, 640, 18, {0.025f, 0.045f, 0.055f, 1}, 0);
    text(out, "DUSKHOLLOW", 10, 6, orange, 1);
    text(out, "SECTOR / " + std::to_string(frame.sector ? frame.sector->id : 0), 480, 6, cyan, 1);

    screen_rect(out, 0, 326, 640, 34, {0.035f, 0.045f, 0.05f, 1}, 0);
    screen_rect(out, 0, 326, 640, 2, orange, 0);
    text(out, "HEALTH", 14, 335, pale, 1);
    text(out, std::to_string(frame.health), 59, 334, orange, 2);
    text(out, "AMMO", 153, 335, pale, 1);
    text(out, std::to_string(frame.ammo), 185, 334, cyan, 2);
    text(out, frame.local_preview ? std::string_view("LOCAL PREVIEW") : frame.status_line, 355, 338,
         pale, 1);
}

// The first-person weapon: the landmine, or the tinted sprite with its muzzle flash, and the
// crosshair.
void weapon_view(std::vector<Vertex>& out, const Frame& frame) {
    if (frame.weapon == 4) {
        mine_hud(out, frame.time);
    } else {
        const float w = frame.weapon == 2 ? 136 : 106;
        const float h = frame.weapon == 3 ? 104 : 91;
        const float x = frame.weapon == 2 ? 252 : 267;
        // Kicked down by the recoil, and lowered out of the way while reloading.
        const float y = 18 * frame.recoil + (frame.weapon == 3 ? 224 : 237) +
                        (frame.adventure.reload != 0 ? 25 : 0);
        screen_rect(out, x, y, w, h, weapon_color(frame.weapon, frame.adventure.color_index),
                    atlas_layer::weapon);
        if (frame.muzzle_flash) screen_rect(out, 298, 218, 44, 44, white, atlas_layer::spark);
    }
    screen_rect(out, 316, 180, 3, 1, cyan, 0);
    screen_rect(out, 322, 180, 3, 1, cyan, 0);
    screen_rect(out, 320, 176, 1, 3, cyan, 0);
    screen_rect(out, 320, 182, 1, 3, cyan, 0);
}

} // namespace

std::string_view weapon_name(unsigned weapon) {
    switch (weapon) {
    case 2:
        return "2 SHOTGUN";
    case 3:
        return "3 LAUNCHER";
    case 4:
        return "4 LANDMINE / 30";
    default:
        return "1 PISTOL";
    }
}

void overlay_pass(std::vector<Vertex>& out, const Frame& frame) {
    if (frame.transition) {
        transfer_screen(out, frame.status_line, frame.destination);
        return;
    }

    bars(out, frame);
    if (frame.damage_flash) {
        constexpr Color red{0.8f, 0.08f, 0.04f, 1};
        screen_rect(out, 0, 18, 640, 6, red, 0);
        screen_rect(out, 0, 24, 6, 302, red, 0);
        screen_rect(out, 634, 24, 6, 302, red, 0);
    }
    if (frame.hit_marker) text(out, "X", 315, 174, white, 2);
    if (frame.banner_visible) text(out, frame.banner, 270, 40, cyan, 2);

    gameplay_hud(out, frame.player, frame.status);
    if (frame.sector) portal_hint(out, *frame.sector, frame.camera.x, frame.camera.y);
    text(out, weapon_name(frame.weapon), 14, 308, pale, 1);
    minimap(out, frame.sector, frame.blips, frame.camera, frame.yaw);

    // The adventure's bearings and minimap markers turn with the view, like the minimap.
    adventure_hud(out, frame.adventure, frame.player, frame.sector ? frame.sector->id : 0,
                  frame.yaw);
    if (!frame.notice.empty()) text(out, frame.notice, 160, 220, white, 1);

    if (frame.health == 0) {
        text(out, "YOU DIED - RESPAWNING", 178, 176, orange, 2);
    } else {
        weapon_view(out, frame);
    }

    expedition_hud(out, frame.expedition, frame.expedition_panel, frame.expedition_selection);
}

} // namespace kestrel
