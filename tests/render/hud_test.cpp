// The overlay's builders: every HUD line with its place and colour, the rectangles and
// markers around them, and the order of the layers.
#include <gtest/gtest.h>

#include "render/adventure_hud.h"
#include "render/entity_mesh.h"
#include "render/expedition_hud.h"
#include "render/gameplay_hud.h"
#include "render/overlay.h"
#include "tests/support/hud.h"
#include "world/generate.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrel {
namespace {

using namespace test;
using V = std::vector<Vertex>;
using Rect = std::array<float, 4>;

V overlay(const Frame& frame) {
    V out;
    overlay_pass(out, frame);
    return out;
}
V hud(const Player& player, const SectorStatus& status) {
    V out;
    gameplay_hud(out, player, status);
    return out;
}
bool has(const V& out, const Rect& r, float layer = 0) {
    return find_rect(out, r[0], r[1], r[2], r[3], layer) != none;
}

TEST(Overlay, TransferScreenBarsLinesWeaponsAndBuildersInOrder) {
    using namespace hud_color;
    const Sector sector = generate(7, std::uint64_t{0x6B1F39A43}, {});
    // The transfer screen replaces every other layer.
    V screen, nowhere;
    transfer_screen(screen, "WORMHOLE TRANSIT", 77);
    ASSERT_GE(screen.size(), 12u); // first the animated backdrop over the whole device square
    EXPECT_EQ(screen[0], (Vertex{{-1, -1, 0}, {0, 1}, white, -1}));
    EXPECT_EQ(screen[2].position, (Vec3{1, 1, 0}));
    EXPECT_EQ(find_rect(screen, 120, 145, 400, 56), 6u);
    EXPECT_EQ(screen[6].color, (Color{0.02f, 0.035f, 0.055f, 1}));
    EXPECT_EQ(find_text(screen, "WORMHOLE TRANSIT", 140, 158, 2), 12u);
    transfer_screen(nowhere, "CONNECTING", 0);
    // clang-format off
    expect_cases({{screen, {{"WORMHOLE TRANSIT", 140, 158, pale, 2}, {"DESTINATION / 77", 140, 183, cyan}}},
                  {nowhere, {}, {{"DESTINATION / 0", 140, 183}}}});
    EXPECT_EQ(overlay({.sector = &sector, .blips = {{16, 16, 0}}, .adventure = {.sequence = 5},
                       .expedition_panel = 2, .transition = true, .destination = 77,
                       .status_line = "WORMHOLE TRANSIT"}), screen);
    // clang-format on
    // clang-format off
    const Frame frame{.sector = &sector, .blips = {{10, 12, 0.2f}}, .adventure = {.sequence = 3},
                      .expedition_panel = 1, .yaw = 5000, .health = 64, .ammo = 7,
                      .status_line = "AWAITING SERVER"};
    // clang-format on
    V out = overlay(frame), part, mine;
    EXPECT_EQ(find_rect(out, 0, 0, 640, 18), 0u);
    EXPECT_EQ(out[0].color, (Color{0.025f, 0.045f, 0.055f, 1}));
    EXPECT_EQ(find_text(out, "DUSKHOLLOW", 10, 6), 6u);
    const std::size_t bar = find_rect(out, 0, 326, 640, 34);
    EXPECT_EQ(color_at(out, bar), (Color{0.035f, 0.045f, 0.05f, 1}));
    EXPECT_EQ(find_rect(out, 0, 326, 640, 2), bar + 6); // the orange edge right on top
    EXPECT_EQ(out[bar + 6].color, orange);
    // Gameplay lines, minimap and adventure in this order; the expedition layer ends it.
    std::size_t last = 0;
    for (int layer = 0; layer < 4; ++layer) {
        part.clear();
        if (layer == 0) gameplay_hud(part, frame.player, frame.status);
        if (layer == 1) minimap(part, &sector, frame.blips, frame.camera, frame.yaw);
        if (layer == 2) adventure_hud(part, frame.adventure, frame.player, sector.id, frame.yaw);
        if (layer == 3) expedition_hud(part, frame.expedition, 1, 0);
        EXPECT_NE(last = find(out, part, last), none) << layer;
    }
    EXPECT_EQ(last + part.size(), out.size());
    mine_hud(mine, 0);
    const V preview = overlay({.local_preview = true}), dead = overlay({.health = 0}),
            alive = overlay({.health = 1}), flash = overlay({.damage_flash = true}),
            landmine = overlay({.weapon = 4, .muzzle_flash = true});
    // clang-format off
    expect_cases({
        {out, {{"DUSKHOLLOW", 10, 6, orange}, {"SECTOR / 7", 480, 6, cyan}, {"AMMO", 153, 335, pale},
               {"HEALTH", 14, 335, pale}, {"64", 59, 334, orange, 2}, {"7", 185, 334, cyan, 2},
               {"AWAITING SERVER", 355, 338, pale}, {"1 PISTOL", 14, 308, pale}}},
        {preview, {{"SECTOR / 0", 480, 6}, {"LOCAL PREVIEW", 355, 338}},
                  {{"CONNECTING", 355, 338}, {"X", 315, 174, {}, 2}, {"PICKUP", 270, 40, {}, 2}}},
        {overlay({.notice = "NAME: ACE", .hit_marker = true, .damage_flash = true,
                  .banner_visible = true}),
         {{"X", 315, 174, white, 2}, {"PICKUP", 270, 40, cyan, 2}, {"NAME: ACE", 160, 220, white}}},
        {dead, {{"YOU DIED - RESPAWNING", 178, 176, orange, 2}}},
        {alive, {}, {{"YOU DIED - RESPAWNING", 178, 176, {}, 2}}},
        {landmine, {{"4 LANDMINE / 30", 14, 308}}}});
    // Damage flash on three sides, none without; the crosshair stays from health 1 and with
    // the mine, but not when dead; the mine replaces the weapon sprite and flash (layers 6, 7).
    for (const Rect& r : {Rect{0, 18, 640, 6}, {0, 24, 6, 302}, {634, 24, 6, 302}}) {
        EXPECT_EQ(color_at(flash, find_rect(flash, r[0], r[1], r[2], r[3])), (Color{0.8f, 0.08f, 0.04f, 1}));
        EXPECT_FALSE(has(preview, r));
    }
    for (const Rect& r : {Rect{316, 180, 3, 1}, {322, 180, 3, 1}, {320, 176, 1, 3}, {320, 182, 1, 3}})
        EXPECT_TRUE(has(landmine, r) && has(alive, r) && !has(dead, r)) << r[0] << ", " << r[1];
    // clang-format on
    EXPECT_NE(find(landmine, mine), none);
    for (const V* v : {&landmine, &dead})
        EXPECT_TRUE(std::none_of(v->begin(), v->end(), [](auto& x) { return x.layer >= 6; }));
    // Weapon, recoil, reload (lowered): its name, tinted sprite and flash. 9 is a pistol.
    for (const auto& [weapon, recoil, reload, flash, name, sprite] :
         {std::tuple{3, 0.5f, 4, false, "3 LAUNCHER", Rect{267, 258, 106, 104}},
          {2, 0.f, 0, true, "2 SHOTGUN", {252, 237, 136, 91}},
          {9, 0.f, 0, true, "1 PISTOL", {267, 237, 106, 91}}}) {
        Frame f{.weapon = std::uint16_t(weapon), .recoil = recoil, .muzzle_flash = flash};
        f.adventure.color_index = 2;
        f.adventure.reload = std::uint16_t(reload);
        out = overlay(f);
        expect_cases({{out, {{name, 14, 308}}}});
        const std::size_t at = find_rect(out, sprite[0], sprite[1], sprite[2], sprite[3], 6);
        EXPECT_EQ(color_at(out, at), weapon_color(std::uint16_t(weapon), 2)) << name;
        EXPECT_EQ(has(out, {298, 218, 44, 44}, 7), flash) << name;
    }
}

TEST(Minimap, ViewDirectionPointsUpGridPortalsBlipsAndPlayer) {
    // clang-format off
    for (const auto& [x, y, yaw, sx, sy] : // +x ahead at yaw 0, +y to its right
         {std::array<float, 5>{16, 16, 1234, 556, 102}, {17, 16, 0, 556, 102 - 3.3f},
          {16, 17, 0, 556 + 3.3f, 102}, {16, 17, 16384, 556, 102 - 3.3f}, {16, 26, 32768, 556 - 33, 102}}) {
        const Vec3 p = minimap_point(x, y, yaw);
        EXPECT_TRUE(std::abs(p.x - sx) + std::abs(p.y - sy) < 1e-4f && p.z == 0) << x << ", " << y;
    }
    for (const auto& [age, strength] : {std::pair{0.f, 1.f}, {0.75f, 0.5f}, {1.5f, 0.f}, {-1.f, 1.f}})
        EXPECT_FLOAT_EQ(radar_strength(age), strength);
    // clang-format on
    Sector sector;
    sector.cells.fill(1); // the blocking tile, but cell (3, 5)
    sector.cells[5 * 32 + 3] = 0;
    sector.portals = {Portal{2, 5 * 32 + 3, 4, 0, 1, 0}, Portal{7, 40, 4, 0, 1, 0}};
    const std::vector<RadarBlip> blips = {{16, 16, 0}, {17, 16, 0.75f}, {18, 16, 2}};
    V out;
    minimap(out, &sector, blips, {16, 17}, 0);
    // Background, cells row by row, portal dots (2 is north: "N", 7 has no letter), blips
    // (full red, half, black), then the player's dot and nose in white.
    EXPECT_EQ(find_rect(out, 476, 22, 160, 160), 0u);
    EXPECT_EQ(out[0].color, (Color{0.01f, 0.025f, 0.03f, 1}));
    EXPECT_EQ(out[6].color, (Color{0.3f, 0.4f, 0.43f, 1}));
    EXPECT_EQ(out[6 + 6 * (5 * 32 + 3)].color, (Color{0.04f, 0.09f, 0.1f, 1}));
    const Vec3 p = minimap_point(3.5f, 5.5f, 0), me = minimap_point(16, 17, 0);
    EXPECT_EQ(color_at(out, find_text(out, "N", p.x + 3, p.y - 3)), hud_color::cyan);
    EXPECT_EQ(out[out.size() - 30].color, (Color{1, 0.1f, 0.03f, 1})); // the first blip
    EXPECT_EQ(out[out.size() - 24].color.r, 0.5f);
    EXPECT_EQ(out[out.size() - 18].color, (Color{0, 0, 0.03f, 1}));
    EXPECT_EQ(find_rect(out, me.x - 1, me.y - 2, 3, 4), out.size() - 12);
    EXPECT_EQ(find_rect(out, me.x, me.y - 4, 1, 2), out.size() - 6);
    EXPECT_EQ(out.back().color, hud_color::white);
    out.clear();
    minimap(out, nullptr, blips, {2.5f, 2.5f}, 0); // background, blips and player only
    EXPECT_EQ(out.size(), 6u * 6);
}

TEST(GameplayHud, StatusLinesPortalHintsAndTheMine) {
    using namespace hud_color;
    const Shown lockdown{"WARNING / LOCKDOWN AFTER 5 SECONDS", 300, 188, warning},
        clear{"CLEAR / FIND THE REWARD CACHE", 270, 185, cyan},
        sealed{"PORTALS SEALED / CLEAR TO ESCAPE", 300, 188},
        signal{"CACHE SIGNAL / APPROACH WITH CAUTION", 300, 188};
    // A challenge 9 is named standard but coloured a challenge. Once cleared no lockdown
    // warning but the reward cache until it is used; sealed wins; cache signal and sealed overlap.
    // clang-format off
    expect_cases({
        {hud({}, {.remaining = 4}),
         {{"STANDARD SECTOR / LEFT 4", 12, 23, pale}, {"Q DASH READY / E REVIVE", 12, 36, cyan}}},
        {hud({}, {.challenge = 5}), {{"DANGER / ELITE SECTOR / LEFT 0", 12, 23, warning}}},
        {hud({}, {.challenge = 2}), {{"ROAMING BOSS / LEFT 0", 12, 23, warning}}},
        {hud({}, {.challenge = 9}), {{"STANDARD SECTOR / LEFT 0", 12, 23, warning}}},
        {hud({.dash_cooldown = 1}, {}), {{"Q DASH 1S / E REVIVE", 12, 36, cyan}}},
        {hud({.dash_cooldown = 30}, {}), {{"Q DASH 1S / E REVIVE", 12, 36}}},
        {hud({.dash_cooldown = 31}, {}), {{"Q DASH 2S / E REVIVE", 12, 36}}},
        {hud({.boost_value = 50, .boost_ticks = 31, .boost = 3}, {}), {{"SPEED BOOST 2S / ARMOR 50", 12, 49}}},
        {hud({.boost_value = 50, .boost_ticks = 900}, {}), {{"ARMOR 30S / ARMOR 50", 12, 49}}},
        {hud({}, {}), {}, {{"REVIVING 0% / HOLD E", 270, 207}, lockdown}},
        {hud({}, {.revive = 1}), {{"REVIVING 1% / HOLD E", 270, 207, cyan}}},
        {hud({}, {.revive = 59}), {{"REVIVING 98% / HOLD E", 270, 207, cyan}}},
        {hud({}, {.revive = 60}), {{"REVIVING 100% / HOLD E", 270, 207, cyan}}},
        {hud({}, {.challenge = 1}), {lockdown}},
        {hud({}, {.challenge = 1, .flags = 1}), {clear, {"AT CACHE: F1 HEALTH / F2 AMMO", 270, 197, pale},
                                                 {"F3 ARMOR / F4 POWER-UP", 270, 209, pale}}, {lockdown}},
        {hud({}, {.challenge = 1, .flags = 3}), {}, {clear}},
        {hud({}, {.challenge = 1, .flags = 4}), {sealed}, {lockdown}},
        {hud({}, {.challenge = 3}), {signal}}, {hud({}, {.challenge = 3, .flags = 8}), {}, {signal}},
        {hud({}, {.challenge = 3, .flags = 4}), {sealed, signal}}});
    // clang-format on
    EXPECT_EQ(hud({.boost_value = 50, .boost = 2}, {}).size(), hud({}, {}).size()); // no time left

    // Destination hashes: 8 is a multiple of 20 (elite); 2, 16, 39 and 90 of 5 with (h / 20)
    // mod 4 giving 0, 2, 1 and 3; 3 neither; 1 is the home sector, never hinted. Only within
    // 3.5 tiles of the portal's centre (10.5, 10.5); two in reach overlap.
    Sector sector;
    const std::uint16_t cell = 10 * 32 + 10;
    // clang-format off
    for (const auto& [target, dx, dy, line] :
         {std::tuple{8, 0.f, 0.f, "PORTAL: DANGER / ELITE SECTOR"}, {16, 0.f, 0.f, "PORTAL: CACHE AMBUSH"},
          {39, 0.f, 0.f, "PORTAL: ROAMING BOSS"}, {2, 0.f, 0.f, "PORTAL: ARENA LOCKDOWN"},
          {90, 0.f, 0.f, "PORTAL: RANGED SWARM"}, {8, 3.49f, 0.f, "PORTAL: DANGER / ELITE SECTOR"},
          {3, 0.f, 0.f, ""}, {1, 0.f, 0.f, ""}, {8, 3.5f, 0.f, ""}, {8, 3.f, 3.f, ""}}) {
        // clang-format on
        sector.portals = {Portal{0, cell, std::uint64_t(target), 0, 1, 0}};
        V out;
        portal_hint(out, sector, 10.5f + dx, 10.5f + dy);
        const auto colour = target == 8 ? std::optional(warning) : std::nullopt;
        if (*line) expect_cases({{out, {{line, 80, 285, colour}}}});
        EXPECT_EQ(out.empty(), !*line) << target << " " << dx;
    }
    sector.portals = {Portal{0, cell, 8, 0, 1, 0}, Portal{1, cell + 1, 16, 0, 1, 0}};
    V out;
    portal_hint(out, sector, 11, 10.5f);
    expect_cases(
        {{out, {{"PORTAL: DANGER / ELITE SECTOR", 80, 285}, {"PORTAL: CACHE AMBUSH", 80, 285}}}});

    // The mine: left hand first, then the right and the mine, its light blinking.
    const Color on{1, 0.15f, 0.03f, 1}, off{0.4f, 0.05f, 0.02f, 1};
    for (const auto& [time, light] :
         {std::pair{0.f, off}, {0.25f, on}, {0.49f, on}, {0.5f, off}, {1.8f, on}}) {
        V mine;
        mine_hud(mine, time);
        EXPECT_EQ(color_at(mine, find_rect(mine, 315, 281, 10, 6)), light) << time;
        EXPECT_EQ(find_rect(mine, 258, 290, 26, 38), 0u);
        EXPECT_EQ(mine[0].color, (Color{0.6f, 0.35f, 0.22f, 1}));
        EXPECT_TRUE(has(mine, {356, 290, 26, 38}) && has(mine, {277, 271, 86, 57}));
    }
}

// A player (id 4) in the middle of sector 77 facing east (+x); one tile is 256 on the wire.
// Markers ahead are drawn at the centre, 160 pixels further per quarter turn right.
V adventure(const AdventureState& s, float yaw = 0, std::uint16_t weapon = 1) {
    V out;
    adventure_hud(out, s, {.id = 4, .x = 16 << 16, .y = 16 << 16, .weapon = weapon}, 77, yaw);
    return out;
}
Teammate mate(std::uint32_t id, std::string name, float x, float y, std::uint64_t sector = 77,
              std::uint16_t health = 80, std::uint8_t class_id = 0) {
    // clang-format off
    return {.id = id, .sector = sector, .x = std::uint16_t(x * 256), .y = std::uint16_t(y * 256),
            .health = health, .class_id = class_id, .name = std::move(name)};
    // clang-format on
}
bool has_dot(const V& out, float x, float y, float yaw = 0) { // 5 x 5 on the minimap
    const Vec3 p = minimap_point(x, y, yaw);
    return has(out, {p.x - 2, p.y - 2, 5, 5});
}

TEST(AdventureHud, EveryLineWithItsStateAndColour) {
    using namespace adventure_color;
    // Not the local player; the unknown class 7 is a ranger; only those here are marked.
    const std::vector<Teammate> team = {mate(4, "ME", 16, 16), mate(9, "ACE", 20, 16, 77, 80, 1),
                                        mate(11, "BOB", 20, 16, 78, 100, 7)};
    const V teammates = adventure({.sequence = 1, .teammates = team});
    const V behind = adventure({.sequence = 1, .teammates = {mate(9, "ACE", 16, 20)}}, 49152);
    const int t = 256; // one tile
    const auto ping = [&](std::uint8_t kind, std::uint16_t active) {
        return adventure({.sequence = 1,
                          .ping_x = 12 * t,
                          .ping_y = 16 * t,
                          .ping_active = active,
                          .ping_kind = kind});
    };
    // clang-format off
    const V markers = adventure({.sequence = 1, .exit_x = 20 * t, .exit_y = 16 * t, .ping_x = 12 * t,
                                 .ping_y = 16 * t, .ping_active = 1, .objective_flags = 2, .ping_kind = 2});
    expect_cases({
        {adventure({.sequence = 1, .salvage_carried = 12, .salvage_banked = 340, .progress = 2,
                    .goal = 3, .objective = 1, .color_index = 2, .colors_unlocked = 4}),
         {{"EXPLORATION", 10, 62, teal}, {"RESTORE GENERATOR / HOLD E", 10, 74, grey}, {"2 / 3", 10, 85, teal},
          {"SALVAGE 12 / BANK 340", 10, 98, gold}, {"R RELOAD / G PING / C COLOR / P PARTY", 10, 250, grey},
          {"COLOR 3 / 5 UNLOCKED", 10, 264, teal}}},
        {adventure({.sequence = 1, .carrier = 9, .timer = 31, .progress = 2, .goal = 3, .mode = 2,
                    .message = "ARTIFACT TAKEN"}),
         {{"REINFORCEMENTS INCOMING / 2", 10, 62, gold}, {"CARRY ARTIFACT THROUGH PORTAL / E", 10, 74},
          {"2 / 3 / CARRIER 9", 10, 85}, {"ARTIFACT TAKEN", 10, 110, teal}}},
        {adventure({.sequence = 1, .carrier = 9, .progress = 2, .goal = 3, .mode = 3, .objective = 2}),
         {{"INTENSE ENCOUNTER", 10, 62}, {"DEFEND RELAY / STAY NEAR", 10, 74}}},
        {adventure({.sequence = 1, .carrier = 9, .progress = 2, .goal = 3, .objective_flags = 1}),
         {{"OBJECTIVE COMPLETE", 10, 74}}, {{"2 / 3 / CARRIER 9", 10, 85}}},
        {adventure({.sequence = 1, .clip = 6, .reserve = 24}), {{"CLIP 6 / 24", 14, 295, teal}},
         {{"RELOADING", 260, 292}, {"BANKING / 0 PERCENT", 220, 202}}},
        {adventure({.sequence = 1, .clip = 6, .reserve = 24}, 0, 4), {}, {{"CLIP 6 / 24", 14, 295}}}, // a mine
        {adventure({.sequence = 1, .banking = 89}), {{"BANKING / 98 PERCENT", 220, 202, gold}}},
        {adventure({.sequence = 1, .banking = 90}), {{"BANKING / 100 PERCENT", 220, 202}}},
        {adventure({.sequence = 1, .clip = 6, .reserve = 24, .reload = 3}), {{"RELOADING", 260, 292, gold}},
         {{"CLIP 6 / 24", 14, 295}}},
        {teammates, {{"ACE / 80HP / SCOUT", 10, 122, grey}, {"BOB / 100HP / RANGER", 10, 133},
                     {"ACE", 320 - 9, 155, teal}, {"V", 320, 166, teal}},
                    {{"ME / 80HP / RANGER", 10, 122}, {"BOB", 320 - 9, 155}}},
        {adventure({.sequence = 1, .teammates = {mate(9, "ACE", 16, 20)}}),
         {{"ACE", 440 - 9, 155}, {"V", 440, 166}}},
        {behind, {{"BACK", 320, 166}}, {{"V", 320, 166}}},
        // An exit ahead (open) and a supply ping behind both print at the centre.
        {markers, {{"EXIT", 308, 143, gold}, {"SUPPLY", 308, 143, gold}}, {{"OBJ", 308, 143}}},
        {adventure({.sequence = 1, .objective_x = 16 * t, .objective_y = 20 * t, .exit_x = 20 * t,
                    .exit_y = 16 * t, .ping_x = 12 * t, .ping_y = 16 * t, .ping_active = 1}),
         {{"OBJ", 468, 143, teal}, {"PING", 308, 143}}, {{"EXIT", 308, 143}}},
        {ping(1, 1), {{"ENEMY", 308, 143}}}, {ping(3, 1), {{"PORTAL", 308, 143}}},
        {ping(3, 0), {}, {{"PORTAL", 308, 143}}}});
    // clang-format on
    EXPECT_TRUE(
        adventure({.ping_active = 1, .banking = 40, .message = "HI", .teammates = team}).empty());
    EXPECT_TRUE(has_dot(markers, 20, 16) && has_dot(markers, 12, 16) && has_dot(teammates, 20, 16));
    EXPECT_TRUE(has_dot(behind, 16, 20, 49152)); // the minimap turns with the view
    V v;
    text(v, "V", 320, 166, {}, 1);
    EXPECT_EQ(find(teammates, v, find(teammates, v) + 1), none); // BOB gets no second "V"
}

V expedition(const ExpeditionState& s, std::uint8_t panel = 0, std::uint32_t selection = 0) {
    V out;
    expedition_hud(out, s, panel, selection);
    return out;
}
NavSector nav(std::uint64_t id, std::uint16_t column, std::uint16_t row, std::uint8_t flags = 0) {
    return {.id = id, .column = column, .row = row, .flags = flags};
}
// The navigation box at map column and row offsets from the centre box, or `none`.
std::size_t box(const V& out, int column, int row) {
    return find_rect(out, 216.0f + 24 * column, 180.0f + 22 * row, 22, 16);
}

TEST(ExpeditionHud, LinesPanelsAndTheirStates) {
    using namespace expedition_color;
    const Shown yellow{"YELLOW FLOOR = HAZARD", 250, 18}, move{"HAZARD WARNING / MOVE", 250, 18},
        sentinel_line{"DEFEAT SENTINEL / CLEAR TARGET 1/1", 10, 226},
        ring{"RING INCOMING / FIND COVER", 160, 46};
    // clang-format off
    ExpeditionState summary{.salvage_banked = 250, .secrets = 2, .objectives = 3, .revives = 1,
                            .time_seconds = 125, .total_bank = 900, .total_objectives = 11,
                            .total_secrets = 4, .contract_kind = 1, .contract_state = 3,
                            .cosmetic_tier_before = 3, .cosmetic_tier_after = 3};
    ExpeditionState complete = summary, fight{.boss_health = 50, .boss_health_max = 200,
                                              .attack_warning = 20, .boss_phase = 2, .attack_kind = 1};
    // clang-format on
    complete.contract_state = 2, complete.cosmetic_tier_after = 4;
    // The hazard line of theme 2 changes every 60 ticks; 2^32 - 1 is 75 mod 180.
    for (std::uint32_t tick : {0u, 59u, 60u, 119u, 120u, 179u, 180u, 240u, 0xFFFFFFFFu}) {
        const bool first = tick % 180 < 60 || tick % 180 >= 120;
        expect_cases({{expedition({.sequence = tick, .theme = 2}),
                       {{"DAMAGED SPACE STATION", 250, 6}, first ? yellow : move},
                       {first ? move : yellow}}});
    }
    const V band = expedition({.theme = 2}), other = expedition({.sequence = 60, .theme = 2});
    EXPECT_NE(color_at(band, find_text(band, yellow.text, 250, 18)),
              color_at(other, find_text(other, move.text, 250, 18)));
    // clang-format off
    expect_cases({
        // Theme 0 has no hazard line, no risks no risks line, a completed contract no line.
        {expedition({}), {{"F5 CONTRACTS / F7 MAP / F10 CREW", 10, 238}, {"INDUSTRIAL RUINS", 250, 6},
                          {"U UPGRADES / E SWITCHES", 310, 308}},
         {yellow, move, {"RISKS ACTIVE / +0 COSMETIC SALVAGE ON SUCCESS", 10, 276}}},
        {expedition({.theme = 1}), {{"INFESTED LABORATORY", 250, 6}}},
        {expedition({.risks = 2}), {{"RISKS ACTIVE / +25 COSMETIC SALVAGE ON SUCCESS", 10, 276}}},
        {expedition({.risks = 5}), {{"RISKS ACTIVE / +50 COSMETIC SALVAGE ON SUCCESS", 10, 276}}},
        {expedition({.risks = 7}), {{"RISKS ACTIVE / +75 COSMETIC SALVAGE ON SUCCESS", 10, 276}}},
        {expedition({.contract_progress = 1, .contract_goal = 1, .contract_kind = 2, .contract_state = 2}),
         {}, {sentinel_line}},
        {expedition({.contract_progress = 1, .contract_goal = 1, .contract_kind = 2, .contract_state = 1}),
         {sentinel_line}},
        // No boss: no attack warning.
        {expedition({.contract_progress = 120, .contract_goal = 250, .extraction_timer = 61,
                     .attack_warning = 20, .contract_kind = 3, .contract_state = 1,
                     .attack_kind = 2, .team_shot_charged = true, .revive_shield = 90}),
         {{"BANK 250 SALVAGE 120/250", 10, 226}, {"DEFEND EXTRACTION / 3S / STAY NEAR", 150, 156},
          {"REVIVE SHIELD / 90", 240, 52}, {"TEAM SHOT CHARGED", 240, 64}}, {ring}},
        {expedition(fight),
         {{"SECTOR SENTINEL / PHASE 2", 160, 26}, {"FAN INCOMING / MOVE SIDEWAYS", 160, 46}}},
        {expedition({.attack_warning = 20, .boss_phase = 1, .attack_kind = 2}), {ring}},
        {expedition({.leader_name = "ACE", .risks = 5}, 1),
         {{"EXPEDITION CONTRACTS", 72, 62, {}, 2}, {"PARTY LEADER CHOOSES / ACE", 72, 90},
          {"1 / RECOVER THREE ARTIFACTS", 72, 116}, {"BANK 250 SALVAGE AT A DEFENDED EXTRACTION", 72, 216},
          {"7 AMMO ON / 8 BARRELS OFF / 9 FAST SHOTS ON", 72, 240}, {"CHOOSE THEN EXPLORE / F5 CLOSE", 72, 276}}},
        {expedition({.leader_name = "ACE", .leader = true, .contract_state = 1}, 1),
         {{"CHOOSE 1 2 3 / LEADER ACE", 72, 90}, {"CONTRACT ACTIVE / FINISH BEFORE CHOOSING AGAIN", 72, 276}}},
        {expedition(summary, 3),
         {{"EXTRACTED / CONTRACT INCOMPLETE", 72, 62}, {"RECOVER 3 ARTIFACTS", 72, 84},
          {"SALVAGE BANKED  250", 72, 114}, {"SECRETS FOUND   2", 72, 136}, {"OBJECTIVES      3", 72, 158},
          {"TEAMMATE REVIVES 1", 72, 180}, {"TIME / 2M 5", 72, 202}, {"COSMETIC TIER 3 -> 3", 72, 228},
          {"TOTAL BANK 900 / OBJECTIVES 11 / SECRETS 4", 72, 260}}, {{"COSMETIC COLLECTION COMPLETE", 72, 246}}},
        {expedition(complete, 3), {{"EXPEDITION COMPLETE", 72, 62}, {"COSMETIC COLLECTION COMPLETE", 72, 246}}},
        {expedition({.crew_code = "K7Q2", .crew = {{"ACE", true}, {"BOB", false}, {"CY", true}}}, 4),
         {{"CREW ASSEMBLY", 72, 62, {}, 2}, {"CREW CODE / K7Q2", 72, 94}, {"ACE / READY", 72, 174},
          {"BOB / NOT READY", 72, 187}, {"CY / READY", 72, 200}}},
        // Owned names in bit order from x = 126, one blank cell apart.
        {expedition({.owned_upgrades = 1 | 4 | 8, .upgrade_offers = {2, 0, 4}}, 5),
         {{"EXPEDITION WEAPON UPGRADES", 72, 62, {}, 2}, {"1 / SHOTGUN KNOCKBACK", 72, 122},
          {"2 / NO FURTHER UPGRADE", 72, 150}, {"3 / GRAVITY MINES", 72, 178}, {"OWNED /", 72, 244},
          {"RICOCHET PISTOL CLUSTER ROCKETS GRAVITY MINES", 126, 244}}, {{"SHOTGUN KNOCKBACK", 126, 244}}},
        {expedition({.vote_ticks = 211, .bonus_rounds = 1, .votes_stay = 2, .participants = 3}, 6),
         {{"EXTRACT OR PUSH YOUR LUCK?", 72, 66, {}, 2}, {"Y / ANOTHER WAVE FOR +25 BONUS SALVAGE", 72, 142},
          {"STAY 2 / 3   8S", 72, 232}, {"BONUS ROUNDS CLEARED / 1", 72, 258}}}});
    // clang-format on
    // The boss bar: a quarter filled on top of its back; with a zero maximum empty rather
    // than divided by zero (next comes the warning text, not a fill).
    for (const std::uint16_t max : {200, 0}) {
        fight.boss_health_max = max;
        const V out = expedition(fight);
        const std::size_t back = find_rect(out, 160, 36, 160, 5);
        ASSERT_NE(back, none);
        EXPECT_EQ(color_at(out, back), boss_bar);
        EXPECT_EQ(find_rect(out, 160, 36, 40, 5) == back + 6, max > 0);
        EXPECT_EQ(out[back + 6].color == boss, max > 0);
    }
    // Panels 1..6 follow the lines with their background; above 6 is navigation.
    const ExpeditionState s{.navigation = {nav(5, 1, 1, 1), nav(6, 2, 1, 2)}};
    const V lines = expedition(s);
    EXPECT_EQ(find_rect(lines, 48, 44, 544, 264), none);
    for (std::uint8_t open = 1; open <= 6; ++open) {
        const V out = expedition(s, open);
        ASSERT_GT(out.size(), lines.size() + 6);
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), out.begin())) << int(open);
        EXPECT_EQ(find_rect(out, 48, 44, 544, 264), lines.size()) << int(open);
        EXPECT_EQ(out[lines.size()].color, panel);
    }
    EXPECT_TRUE(expedition(s, 7, 1) == expedition(s, 2, 1) &&
                expedition(s, 255, 1) == expedition(s, 2, 1));
    expect_cases({{expedition(s, 2, 1), {{"SECTOR NAVIGATION", 64, 55}}},
                  {expedition({}, 2, 0), {{"SECTOR NAVIGATION", 64, 55}}}}); // an empty map
}

TEST(ExpeditionHud, NavigationGridColoursSelectionAndFollowing) {
    using namespace expedition_color;
    NavSector crowded = nav(6, 1, 2, 1 | 2), far = nav(40, 10, 3, 1);
    crowded.teammates = 3;
    far.objective = 2, far.danger = 7;
    ExpeditionState s{.current_sector = 6,
                      .navigation = {nav(5, 0, 0, 16 | 8), crowded, nav(7, 5, 4, 8 | 2),
                                     nav(8, 6, 0, 1), nav(9, 2, 5, 0)}};
    V out = expedition(s, 2, 0);
    // clang-format off
    expect_cases({
        {out, {{"SECTOR 5 / DANGER 0", 374, 106}, {"UNEXPLORED PORTAL", 374, 125}, {"SENTINEL WARNING", 374, 145},
               {"TEAMMATES 0", 374, 185}, {"3", 218 + 24, 183 + 44, count}}},
        {expedition(s, 2, 1),
         {{"DISCOVERED", 374, 125}, {"SECTOR CLEARED", 374, 145}, {"TEAMMATES 3", 374, 185}}}});
    // clang-format on
    EXPECT_EQ(color_at(out, box(out, 0, 0)), waypoint); // waypoint wins over boss
    ASSERT_NE(box(out, 1, 2), none);
    EXPECT_EQ(out[box(out, 1, 2)].color, cleared);
    EXPECT_EQ(out[box(out, 1, 2) + 6].color, you);      // the current sector's frame follows
    EXPECT_EQ(color_at(out, box(out, 5, 4)), sentinel); // boss wins over cleared
    EXPECT_TRUE(box(out, 6, 0) == none && box(out, 2, 5) == none); // off the map
    EXPECT_NE(box(expedition(s, 2, 1), 0, 0), none);               // still centred on the origin

    // A selection outside the list selects nothing (the map may shrink under it).
    s.navigation = {nav(5, 0, 0), nav(6, 9, 9)};
    out = expedition(s, 2, 2);
    EXPECT_NE(box(out, 0, 0), none);
    expect_cases(
        {{out, {}, {{"SECTOR 5 / DANGER 0", 374, 106}, {"SECTOR 6 / DANGER 0", 374, 106}}}});
    EXPECT_EQ(find_rect(out, 216, 198, 22, 2), none);

    // A selection beyond column 5 or row 4 moves the map's centre onto itself.
    s.navigation = {nav(5, 0, 0), far, nav(41, 15, 7, 0), nav(42, 16, 3, 0), nav(43, 5, 3, 1)};
    out = expedition(s, 2, 1);
    EXPECT_EQ(color_at(out, box(out, 0, 0)), discovered);
    EXPECT_EQ(out[box(out, 0, 0) + 6].color, selected); // the selection's mark follows its box
    EXPECT_TRUE(box(out, 5, 4) != none && box(out, -5, 0) != none);   // (15, 7) and (5, 3)
    EXPECT_TRUE(box(out, 6, 0) == none && box(out, -10, -3) == none); // (16, 3), the origin
    expect_cases({{out,
                   {{"SECTOR 40 / DANGER 7", 374, 106},
                    {"EXPLORE / FIGHT", 374, 145},
                    {"DEFEND RELAY", 374, 165}}}});
    for (const NavSector& edge : {nav(6, 6, 0), nav(6, 0, 5), nav(6, 5, 4)}) {
        s.navigation = {nav(5, 0, 0), edge};
        const bool moved = edge.column == 6 || edge.row == 5;
        out = expedition(s, 2, 1);
        EXPECT_NE(find_rect(out, moved ? 216 : 336, moved ? 198 : 286, 22, 2), none); // underline
        EXPECT_EQ(box(out, moved ? -edge.column : 0, moved ? -edge.row : 0) != none, !moved);
    }
}

} // namespace
} // namespace kestrel
