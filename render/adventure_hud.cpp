#include "render/adventure_hud.h"

#include <cmath>
#include <numbers>
#include <string>
#include <string_view>

#include "render/gameplay_hud.h"
#include "render/text.h"

namespace kestrel {
namespace {

using namespace adventure_color;

std::string_view mode_name(unsigned mode) {
    switch (mode) {
    case 1:
        return "SKIRMISH";
    case 2:
        return "REINFORCEMENTS INCOMING";
    case 3:
        return "INTENSE ENCOUNTER";
    default:
        return "EXPLORATION";
    }
}

std::string_view objective_name(unsigned objective) {
    switch (objective) {
    case 1:
        return "RESTORE GENERATOR / HOLD E";
    case 2:
        return "DEFEND RELAY / STAY NEAR";
    default:
        return "CARRY ARTIFACT THROUGH PORTAL / E";
    }
}

std::string_view class_name(unsigned class_id) {
    switch (class_id) {
    case 1:
        return "SCOUT";
    case 2:
        return "PATHFINDER";
    case 3:
        return "VANGUARD";
    case 4:
        return "SENTINEL";
    default:
        return "RANGER";
    }
}

std::string_view ping_name(unsigned kind) {
    switch (kind) {
    case 1:
        return "ENEMY";
    case 2:
        return "SUPPLY";
    case 3:
        return "PORTAL";
    default:
        return "PING";
    }
}

// Where a target lies relative to the view: the angle between the view direction and the
// line from the player to it, positive to the right.
struct Bearing {
    double a;      // view angle in radians
    double px, py; // player position in tiles

    double toward(double x, double y) const { return std::atan2(y - py, x - px) - a; }
};

// Wire positions are 1/256 tile.
float tiles(std::uint16_t v) {
    return static_cast<float>(v) / 256.0f;
}

void marker(std::vector<Vertex>& out, const Bearing& bearing, float yaw, std::uint16_t x,
            std::uint16_t y, std::string_view label, Color color) {
    const Vec3 p = minimap_point(tiles(x), tiles(y), yaw);
    screen_rect(out, p.x - 2, p.y - 2, 5, 5, color, 0);
    const double b = bearing.toward(tiles(x), tiles(y));
    text(out, label, static_cast<float>(308 + 160 * std::sin(b)), 143, color, 1);
}

} // namespace

void adventure_hud(std::vector<Vertex>& out, const AdventureState& state, const Player& player,
                   std::uint64_t sector_id, float yaw) {
    if (state.sequence == 0) return;
    const bool complete = state.objective_flags & 1;
    const bool exit_open = state.objective_flags & 2;

    std::string line{mode_name(state.mode)};
    if (state.mode == 2) line += " / " + std::to_string(whole_seconds(state.timer));
    text(out, line, 10, 62, state.mode == 2 ? gold : teal, 1);

    text(out, complete ? std::string_view("OBJECTIVE COMPLETE") : objective_name(state.objective),
         10, 74, grey, 1);
    if (!complete) {
        line = std::to_string(state.progress) + " / " + std::to_string(state.goal);
        if (state.carrier != 0) line += " / CARRIER " + std::to_string(state.carrier);
        text(out, line, 10, 85, teal, 1);
    }
    text(out,
         "SALVAGE " + std::to_string(state.salvage_carried) + " / BANK " +
             std::to_string(state.salvage_banked),
         10, 98, gold, 1);
    text(out, "R RELOAD / G PING / C COLOR / P PARTY", 10, 250, grey, 1);
    if (!state.message.empty()) text(out, state.message, 10, 110, teal, 1);
    text(out,
         "COLOR " + std::to_string(state.color_index + 1) + " / " +
             std::to_string(state.colors_unlocked + 1) + " UNLOCKED",
         10, 264, teal, 1);

    const Bearing bearing{yaw * 2.0 * std::numbers::pi / 65536.0, player.x / 65536.0,
                          player.y / 65536.0};
    int row = 0;
    for (const Teammate& mate : state.teammates) {
        if (mate.id == player.id) continue; // our own record does not take a row
        line = mate.name + " / " + std::to_string(mate.health) + "HP / ";
        line += class_name(mate.class_id);
        text(out, line, 10, static_cast<float>(122 + 11 * row), grey, 1);
        ++row;
        if (mate.sector != sector_id) continue;
        const Vec3 p = minimap_point(tiles(mate.x), tiles(mate.y), yaw);
        screen_rect(out, p.x - 2, p.y - 2, 5, 5, teammate_dot, 0);
        const double b = bearing.toward(tiles(mate.x), tiles(mate.y));
        const auto x = static_cast<float>(320 + 120 * std::sin(b));
        text(out, mate.name, x - 3.0f * static_cast<float>(mate.name.size()), 155, teal, 1);
        text(out, std::cos(b) >= 0 ? "V" : "BACK", x, 166, teal, 1);
    }

    if (!complete) {
        marker(out, bearing, yaw, state.objective_x, state.objective_y, "OBJ", teal);
    }
    if (exit_open) marker(out, bearing, yaw, state.exit_x, state.exit_y, "EXIT", gold);
    if (state.ping_active != 0) {
        marker(out, bearing, yaw, state.ping_x, state.ping_y, ping_name(state.ping_kind), gold);
    }

    if (state.banking != 0) {
        text(out, "BANKING / " + std::to_string(state.banking * 100 / 90) + " PERCENT", 220, 202,
             gold, 1);
    }
    if (state.reload == 0 && player.weapon != 4) {
        text(out, "CLIP " + std::to_string(state.clip) + " / " + std::to_string(state.reserve), 14,
             295, teal, 1);
    }
    if (state.reload != 0) text(out, "RELOADING", 260, 292, gold, 1);
}

} // namespace kestrel
