// The overlay's builders, pinned by digests of their whole output for states that take every
// branch, beside a few readable checks of where lines go.
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

V overlay(const Frame& frame) {
    V out;
    overlay_pass(out, frame);
    return out;
}

TEST(Overlay, TransferScreenLayersAndWeapons) {
    const Sector sector = generate(7, std::uint64_t{0x6B1F39A43}, {});
    V screen, nowhere;
    transfer_screen(screen, "WORMHOLE TRANSIT", 77);
    transfer_screen(nowhere, "CONNECTING", 0);
    EXPECT_EQ(find_text(screen, "WORMHOLE TRANSIT", 140, 158, 2), 12u); // over backdrop, panel
    // clang-format off
    EXPECT_EQ(overlay({.sector = &sector, .blips = {{16, 16, 0}}, .adventure = {.sequence = 5},
                       .expedition_panel = 2, .transition = true, .destination = 77,
                       .status_line = "WORMHOLE TRANSIT"}), screen); // instead of every layer
    const V out = overlay({.sector = &sector, .blips = {{10, 12, 0.2f}}, .adventure = {.sequence = 3},
                           .expedition_panel = 1, .yaw = 5000, .health = 64, .ammo = 7,
                           .status_line = "AWAITING SERVER"});
    // Each weapon with recoil, reload (lowered), skin tint and flash; 9 is a pistol.
    const auto weapon = [](std::uint16_t weapon, float recoil, std::uint16_t reload, bool flash) {
        return overlay({.weapon = weapon, .adventure = {.reload = reload, .color_index = 2},
                        .recoil = recoil, .muzzle_flash = flash});
    };
    // clang-format on
    EXPECT_EQ(find_text(out, "DUSKHOLLOW", 10, 6), 6u);
    const V dead = overlay({.health = 0});
    EXPECT_NE(find_text(dead, "YOU DIED - RESPAWNING", 178, 176, 2), none); // not from health 1
    // clang-format off
    expect_digest({screen, nowhere, out, dead, overlay({.health = 1}), overlay({.local_preview = true}),
                   overlay({.notice = "NAME: ACE", .hit_marker = true, .damage_flash = true,
                            .banner_visible = true}),
                   overlay({.weapon = 4, .muzzle_flash = true}), weapon(3, 0.5f, 4, false),
                   weapon(2, 0, 0, true), weapon(9, 0, 0, true)}, 0x577baef4, "overlay");
    // clang-format on
}

TEST(Minimap, ViewDirectionPointsUpGridPortalsBlipsAndPlayer) {
    // clang-format off
    for (const auto& [x, y, yaw, sx, sy] : // +x ahead at yaw 0, +y to its right
         {std::array<float, 5>{16, 16, 1234, 556, 102}, {17, 16, 0, 556, 102 - 3.3f},
          {16, 17, 0, 556 + 3.3f, 102}, {16, 17, 16384, 556, 102 - 3.3f}, {16, 26, 32768, 523, 102}}) {
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
    V out, bare;
    minimap(out, &sector, blips, {16, 17}, 0);
    minimap(bare, nullptr, blips, {2.5f, 2.5f}, 0); // background, blips and player only
    EXPECT_EQ(bare.size(), 6u * 6);
    const Vec3 p = minimap_point(3.5f, 5.5f, 0); // portal 2 is north: "N", 7 has no letter
    const std::size_t north = find_text(out, "N", p.x + 3, p.y - 3);
    EXPECT_TRUE(north != none && out[north].color == hud_color::cyan);
    expect_digest({out, bare}, 0xecc79f18, "minimap");
}

TEST(GameplayHud, StatusLinesPortalHintsAndTheMine) {
    const auto hud = [](const Player& player, const SectorStatus& status) {
        V out;
        gameplay_hud(out, player, status);
        return out;
    };
    // Challenge 9 is named standard but coloured a challenge. Once cleared no lockdown warning
    // but the reward cache until it is used; sealed wins; cache signal and sealed overlap.
    // clang-format off
    expect_digest({hud({}, {.remaining = 4}), hud({}, {.challenge = 1}),
                   hud({.dash_cooldown = 1, .boost_ticks = 31, .boost = 3}, {.revive = 1, .challenge = 5}),
                   hud({.boost_value = 50, .dash_cooldown = 30, .boost_ticks = 900}, {.revive = 59, .challenge = 2}),
                   hud({.dash_cooldown = 31}, {.revive = 60, .challenge = 9}),
                   hud({}, {.challenge = 1, .flags = 1}), hud({}, {.challenge = 1, .flags = 3}),
                   hud({}, {.challenge = 1, .flags = 4}), hud({}, {.challenge = 3}),
                   hud({}, {.challenge = 3, .flags = 8}), hud({}, {.challenge = 3, .flags = 4})},
                  0x8a3c18c9, "status");
    // clang-format on
    EXPECT_NE(find_text(hud({.dash_cooldown = 31}, {}), "Q DASH 2S / E REVIVE", 12, 36), none);
    EXPECT_EQ(hud({.boost_value = 50, .boost = 2}, {}).size(), hud({}, {}).size()); // no time left

    // Destination hashes: 8 is a multiple of 20 (elite); 2, 16, 39 and 90 of 5 with (h / 20)
    // mod 4 giving 0, 2, 1 and 3; 3 neither; 1 is the home sector, never hinted. Only within
    // 3.5 tiles of the portal's centre (10.5, 10.5); two in reach overlap.
    Sector sector;
    const std::uint16_t cell = 10 * 32 + 10;
    std::vector<V> hints;
    // clang-format off
    for (const auto& [target, dx, dy, shown] :
         {std::tuple{8, 0.f, 0.f, true}, {16, 0.f, 0.f, true}, {39, 0.f, 0.f, true}, {2, 0.f, 0.f, true},
          {90, 0.f, 0.f, true}, {8, 3.49f, 0.f, true}, {3, 0.f, 0.f, false}, {1, 0.f, 0.f, false},
          {8, 3.5f, 0.f, false}, {8, 3.f, 3.f, false}}) {
        // clang-format on
        sector.portals = {Portal{0, cell, std::uint64_t(target), 0, 1, 0}};
        portal_hint(hints.emplace_back(), sector, 10.5f + dx, 10.5f + dy);
        EXPECT_EQ(hints.back().empty(), !shown) << target << " " << dx;
    }
    EXPECT_NE(find_text(hints[2], "PORTAL: ROAMING BOSS", 80, 285), none);
    sector.portals = {Portal{0, cell, 8, 0, 1, 0}, Portal{1, cell + 1, 16, 0, 1, 0}};
    portal_hint(hints.emplace_back(), sector, 11, 10.5f);
    // The mine: left hand first, then the right and the mine, its light blinking.
    for (const float time : {0.f, 0.25f, 0.49f, 0.5f, 1.8f}) mine_hud(hints.emplace_back(), time);
    expect_digest(hints, 0xb3fae125, "hints and mine");
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

TEST(AdventureHud, EveryLineWithItsState) {
    // Not the local player; the unknown class 7 is a ranger; only those here are marked.
    const std::vector<Teammate> team = {mate(4, "ME", 16, 16), mate(9, "ACE", 20, 16, 77, 80, 1),
                                        mate(11, "BOB", 20, 16, 78, 100, 7)};
    const V teammates = adventure({.sequence = 1, .teammates = team});
    EXPECT_NE(find_text(teammates, "ACE / 80HP / SCOUT", 10, 122), none);
    EXPECT_TRUE(adventure({.ping_active = 1, .banking = 40, .message = "HI", .teammates = team})
                    .empty()); // nothing before the first state
    const int t = 256;         // one tile
    // An exit ahead (open) and a supply ping behind both print at the centre; a mine (weapon 4)
    // hides the clip; the minimap turns with the view; ENEMY, PORTAL and inactive pings.
    // clang-format off
    expect_digest({teammates, adventure({.sequence = 1, .salvage_carried = 12, .salvage_banked = 340,
                   .progress = 2, .goal = 3, .ping_x = 12 * t, .ping_y = 16 * t, .ping_active = 1,
                   .clip = 6, .reserve = 24, .banking = 89, .objective = 1, .color_index = 2,
                   .colors_unlocked = 4, .ping_kind = 1}),
        adventure({.sequence = 1, .carrier = 9, .timer = 31, .progress = 2, .goal = 3, .clip = 6,
                   .reserve = 24, .reload = 3, .banking = 90, .mode = 2, .message = "ARTIFACT TAKEN"}),
        adventure({.sequence = 1, .carrier = 9, .progress = 2, .goal = 3, .ping_x = 12 * t, .ping_y = 16 * t,
                   .ping_active = 1, .clip = 6, .reserve = 24, .mode = 3, .objective = 2, .ping_kind = 3}, 0, 4),
        adventure({.sequence = 1, .carrier = 9, .progress = 2, .goal = 3, .ping_x = 12 * t, .ping_y = 16 * t,
                   .objective_flags = 1, .ping_kind = 3}),
        adventure({.sequence = 1, .teammates = {mate(9, "ACE", 16, 20)}}),
        adventure({.sequence = 1, .teammates = {mate(9, "ACE", 16, 20)}}, 49152),
        adventure({.sequence = 1, .exit_x = 20 * t, .exit_y = 16 * t, .ping_x = 12 * t,
                   .ping_y = 16 * t, .ping_active = 1, .objective_flags = 2, .ping_kind = 2}),
        adventure({.sequence = 1, .objective_x = 16 * t, .objective_y = 20 * t, .exit_x = 20 * t,
                   .exit_y = 16 * t, .ping_x = 12 * t, .ping_y = 16 * t, .ping_active = 1})}, 0x4660b1ad, "adventure");
    // clang-format on
}

V expedition(const ExpeditionState& s, std::uint8_t panel = 0, std::uint32_t selection = 0) {
    V out;
    expedition_hud(out, s, panel, selection);
    return out;
}
NavSector nav(std::uint64_t id, std::uint16_t column, std::uint16_t row, std::uint8_t flags = 0) {
    return {.id = id, .column = column, .row = row, .flags = flags};
}

TEST(ExpeditionHud, LinesPanelsAndNavigation) {
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
    std::vector<V> outs;
    for (std::uint32_t tick : {0u, 59u, 60u, 119u, 120u, 179u, 180u, 240u, 0xFFFFFFFFu})
        outs.push_back(expedition({.sequence = tick, .theme = 2}));
    EXPECT_NE(find_text(outs[2], "HAZARD WARNING / MOVE", 250, 18), none);
    outs.push_back(expedition(fight));
    fight.boss_health_max = 0; // the boss bar empty rather than divided by zero
    // Theme 0 has no hazard line, no risks no risks line, a completed contract no line; no boss
    // no attack warning; the summary and each panel (2 with an empty map, risks 5 in 1).
    // clang-format off
    outs.insert(outs.end(), {expedition({.risks = 2, .theme = 1}),
        expedition({.contract_progress = 1, .contract_goal = 1, .contract_kind = 2, .contract_state = 2,
                    .risks = 7}),
        expedition({.contract_progress = 1, .contract_goal = 1, .contract_kind = 2, .contract_state = 1}),
        expedition({.contract_progress = 120, .contract_goal = 250, .extraction_timer = 61,
                    .attack_warning = 20, .contract_kind = 3, .contract_state = 1,
                    .attack_kind = 2, .team_shot_charged = true, .revive_shield = 90}),
        expedition(fight), expedition({.attack_warning = 20, .boss_phase = 1, .attack_kind = 2}),
        expedition({.leader_name = "ACE", .risks = 5}, 1),
        expedition({.leader_name = "ACE", .leader = true, .contract_state = 1}, 1),
        expedition(summary, 3), expedition(complete, 3),
        expedition({.crew_code = "K7Q2", .crew = {{"ACE", true}, {"BOB", false}, {"CY", true}}}, 4),
        expedition({.owned_upgrades = 1 | 4 | 8, .upgrade_offers = {2, 0, 4}}, 5),
        expedition({.vote_ticks = 211, .bonus_rounds = 1, .votes_stay = 2, .participants = 3}, 6),
        expedition({}, 2, 0)});
    // clang-format on
    expect_digest(outs, 0x76f02390, "expedition lines");
    // Panels 1..6 follow the lines with their background; above 6 is navigation.
    const ExpeditionState s{.navigation = {nav(5, 1, 1, 1), nav(6, 2, 1, 2)}};
    EXPECT_EQ(expedition(s, 7, 1), expedition(s, 2, 1));
    EXPECT_EQ(find_rect(expedition(s, 6), 48, 44, 544, 264), expedition(s).size());

    // Navigation: waypoint wins over boss, boss over cleared, the current sector framed; a
    // selection outside the list selects nothing (the map may shrink under it); one beyond
    // column 5 or row 4 moves the map's centre onto itself.
    NavSector crowded = nav(6, 1, 2, 1 | 2), far = nav(40, 10, 3, 1);
    crowded.teammates = 3;
    far.objective = 2, far.danger = 7;
    ExpeditionState map{.current_sector = 6,
                        .navigation = {nav(5, 0, 0, 16 | 8), crowded, nav(7, 5, 4, 8 | 2),
                                       nav(8, 6, 0, 1), nav(9, 2, 5, 0)}};
    std::vector<V> maps = {expedition(map, 2, 0), expedition(map, 2, 1), expedition(map, 2, 2)};
    EXPECT_NE(find_text(maps[0], "SENTINEL WARNING", 374, 145), none);
    // clang-format off
    for (const auto& [list, selection] :
         {std::pair{std::vector{nav(5, 0, 0), nav(6, 9, 9)}, 2},
          {{nav(5, 0, 0), far, nav(41, 15, 7, 0), nav(42, 16, 3, 0), nav(43, 5, 3, 1)}, 1},
          {{nav(5, 0, 0), nav(6, 6, 0)}, 1}, {{nav(5, 0, 0), nav(6, 0, 5)}, 1}, {{nav(5, 0, 0), nav(6, 5, 4)}, 1}}) {
        // clang-format on
        map.navigation = list;
        maps.push_back(expedition(map, 2, std::uint32_t(selection)));
    }
    expect_digest(maps, 0x75cfd32b, "navigation");
}

} // namespace
} // namespace kestrel
