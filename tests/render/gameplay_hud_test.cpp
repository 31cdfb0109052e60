#include "render/gameplay_hud.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "render/adventure_hud.h"
#include "render/entity_mesh.h"
#include "render/expedition_hud.h"
#include "render/overlay.h"
#include "tests/support/hud.h"
#include "world/generate.h"

namespace kestrel {
namespace {

using namespace hud_color;
using namespace test;

std::vector<Vertex> hud(const Player& player, const SectorStatus& status) {
    std::vector<Vertex> out;
    gameplay_hud(out, player, status);
    return out;
}

std::vector<Vertex> overlay(const Frame& frame) {
    std::vector<Vertex> out;
    overlay_pass(out, frame);
    return out;
}

bool any_sprite(const std::vector<Vertex>& out) {
    return std::any_of(out.begin(), out.end(),
                       [](const Vertex& v) { return v.layer == 6 || v.layer == 7; });
}

TEST(TransferScreen, ReplacesEveryOtherOverlay) {
    std::vector<Vertex> out;
    transfer_screen(out, "WORMHOLE TRANSIT", 77);
    // The backdrop covers the whole device square with the animated layer.
    ASSERT_GE(out.size(), 12u);
    EXPECT_EQ(out[0].position, (Vec3{-1, -1, 0}));
    EXPECT_EQ(out[2].position, (Vec3{1, 1, 0}));
    EXPECT_EQ(out[0].layer, -1);
    EXPECT_EQ(out[0].color, white);
    EXPECT_EQ(find_rect(out, 120, 145, 400, 56), 6u);
    EXPECT_EQ(out[6].color, (Color{0.02f, 0.035f, 0.055f, 1}));
    EXPECT_EQ(find_text(out, "WORMHOLE TRANSIT", 140, 158, 2), 12u);
    expect_shown(out,
                 {{"WORMHOLE TRANSIT", 140, 158, pale, 2}, {"DESTINATION / 77", 140, 183, cyan}});
    std::vector<Vertex> nowhere;
    transfer_screen(nowhere, "CONNECTING", 0);
    expect_absent(nowhere, {{"DESTINATION / 0", 140, 183}});

    const Sector sector = generate(7, std::uint64_t{0x6B1F39A43}, {});
    Frame frame;
    frame.transition = true;
    frame.sector = &sector;
    frame.status_line = "WORMHOLE TRANSIT";
    frame.destination = 77;
    frame.expedition_panel = 2;
    frame.adventure.sequence = 5;
    frame.blips.push_back({16, 16, 0});
    EXPECT_EQ(overlay(frame), out);
}

TEST(Overlay, BarsTitleAndBuildersInOrderWithTheExpeditionLast) {
    const Sector sector = generate(7, std::uint64_t{0x6B1F39A43}, {});
    Frame frame;
    frame.sector = &sector;
    frame.camera = {2.5f, 2.5f};
    frame.yaw = 5000;
    frame.health = 64;
    frame.ammo = 7;
    frame.status_line = "AWAITING SERVER";
    frame.adventure.sequence = 3;
    frame.expedition_panel = 1;
    frame.blips.push_back({10, 12, 0.2f});
    auto out = overlay(frame);
    EXPECT_EQ(find_rect(out, 0, 0, 640, 18), 0u);
    EXPECT_EQ(out[0].color, (Color{0.025f, 0.045f, 0.055f, 1}));
    EXPECT_EQ(find_text(out, "DUSKHOLLOW", 10, 6), 6u);
    const std::size_t bar = find_rect(out, 0, 326, 640, 34);
    ASSERT_NE(bar, none);
    EXPECT_EQ(out[bar].color, (Color{0.035f, 0.045f, 0.05f, 1}));
    EXPECT_EQ(find_rect(out, 0, 326, 640, 2), bar + 6); // the orange edge right on top
    EXPECT_EQ(out[bar + 6].color, orange);
    expect_shown(out, {{"DUSKHOLLOW", 10, 6, orange},
                       {"SECTOR / 7", 480, 6, cyan},
                       {"HEALTH", 14, 335, pale},
                       {"64", 59, 334, orange, 2},
                       {"AMMO", 153, 335, pale},
                       {"7", 185, 334, cyan, 2},
                       {"AWAITING SERVER", 355, 338, pale},
                       {"1 PISTOL", 14, 308, pale}});

    std::vector<std::size_t> at;
    std::vector<Vertex> part;
    gameplay_hud(part, frame.player, frame.status);
    at.push_back(find(out, part));
    part.clear();
    minimap(part, &sector, frame.blips, frame.camera, frame.yaw);
    at.push_back(find(out, part));
    part.clear();
    adventure_hud(part, frame.adventure, frame.player, sector.id, frame.yaw);
    at.push_back(find(out, part));
    EXPECT_EQ(std::count(at.begin(), at.end(), none), 0);
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end())) << at[0] << " " << at[1] << " " << at[2];
    part.clear();
    expedition_hud(part, frame.expedition, 1, 0);
    ASSERT_LE(part.size(), out.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), out.end() - static_cast<long>(part.size())));

    frame = Frame{};
    frame.local_preview = true;
    out = overlay(frame);
    expect_shown(out, {{"SECTOR / 0", 480, 6}, {"LOCAL PREVIEW", 355, 338}});
    expect_absent(out,
                  {{"CONNECTING", 355, 338}, {"X", 315, 174, {}, 2}, {"PICKUP", 270, 40, {}, 2}});
    EXPECT_EQ(find_rect(out, 0, 18, 640, 6), none);
}

TEST(Overlay, FlashesMarkerBannerAndNotice) {
    Frame frame;
    frame.damage_flash = frame.hit_marker = frame.banner_visible = true;
    frame.notice = "NAME: ACE";
    const auto out = overlay(frame);
    const Color red{0.8f, 0.08f, 0.04f, 1};
    EXPECT_EQ(rect_color(out, 0, 18, 640, 6), red);
    EXPECT_EQ(rect_color(out, 0, 24, 6, 302), red);
    EXPECT_EQ(rect_color(out, 634, 24, 6, 302), red);
    expect_shown(
        out,
        {{"X", 315, 174, white, 2}, {"PICKUP", 270, 40, cyan, 2}, {"NAME: ACE", 160, 220, white}});
}

TEST(Overlay, WeaponNamesSpritesAndTheLandmine) {
    Frame frame;
    frame.adventure.color_index = 2;
    frame.recoil = 0.5f;
    frame.weapon = 3;
    frame.adventure.reload = 4; // lowered while reloading
    auto out = overlay(frame);
    expect_shown(out, {{"3 LAUNCHER", 14, 308}});
    EXPECT_EQ(rect_color(out, 267, 9 + 224 + 25, 106, 104, 6), weapon_color(3, 2));
    frame.weapon = 2;
    frame.adventure.reload = 0;
    frame.recoil = 0;
    frame.muzzle_flash = true;
    out = overlay(frame);
    expect_shown(out, {{"2 SHOTGUN", 14, 308}});
    EXPECT_NE(find_rect(out, 252, 237, 136, 91, 6), none);
    EXPECT_NE(find_rect(out, 298, 218, 44, 44, 7), none);
    frame.weapon = 9; // unknown: named and drawn like the pistol
    out = overlay(frame);
    expect_shown(out, {{"1 PISTOL", 14, 308}});
    EXPECT_NE(find_rect(out, 267, 237, 106, 91, 6), none);

    frame.weapon = 4; // the landmine replaces the sprite and never flashes
    out = overlay(frame);
    expect_shown(out, {{"4 LANDMINE / 30", 14, 308}});
    std::vector<Vertex> mine;
    mine_hud(mine, frame.time);
    EXPECT_NE(find(out, mine), none);
    EXPECT_FALSE(any_sprite(out));
    EXPECT_NE(find_rect(out, 316, 180, 3, 1), none); // the crosshair stays
}

TEST(Overlay, DeadPlayerHasNoWeaponFlashOrCrosshair) {
    Frame frame;
    frame.health = 0;
    frame.muzzle_flash = true;
    const auto out = overlay(frame);
    expect_shown(out, {{"YOU DIED - RESPAWNING", 178, 176, orange, 2}});
    EXPECT_FALSE(any_sprite(out));
    for (const auto& [x, y, w, h] : {std::array<float, 4>{316, 180, 3, 1},
                                     {322, 180, 3, 1},
                                     {320, 176, 1, 3},
                                     {320, 182, 1, 3}})
        EXPECT_EQ(find_rect(out, x, y, w, h), none);
    frame.health = 1;
    const auto alive = overlay(frame);
    EXPECT_NE(find_rect(alive, 320, 182, 1, 3), none);
    expect_absent(alive, {{"YOU DIED - RESPAWNING", 178, 176, {}, 2}});
}

TEST(Minimap, ViewDirectionPointsUpAndBlipsFade) {
    const auto near = [](Vec3 p, float x, float y) {
        EXPECT_NEAR(p.x, x, 1e-4f);
        EXPECT_NEAR(p.y, y, 1e-4f);
        EXPECT_EQ(p.z, 0);
    };
    near(minimap_point(16, 16, 1234), 556, 102);
    near(minimap_point(17, 16, 0), 556, 102 - 3.3f); // +x is ahead at yaw 0
    near(minimap_point(16, 17, 0), 556 + 3.3f, 102); // +y is to its right
    near(minimap_point(16, 17, 16384), 556, 102 - 3.3f);
    near(minimap_point(16, 16 + 10, 32768), 556 - 33, 102); // facing -x, +y is on the left
    EXPECT_EQ(radar_strength(0), 1);
    EXPECT_FLOAT_EQ(radar_strength(0.75f), 0.5f);
    EXPECT_EQ(radar_strength(1.5f), 0);
    EXPECT_EQ(radar_strength(-1), 1);
}

TEST(Minimap, GridPortalsBlipsAndPlayerInOrder) {
    Sector sector;
    sector.cells.fill(1); // the blocking tile
    sector.cells[5 * 32 + 3] = 0;
    sector.portals = {Portal{2, 5 * 32 + 3, 4, 0, 1, 0}, Portal{7, 40, 4, 0, 1, 0}};
    const std::vector<RadarBlip> blips = {{16, 16, 0}, {17, 16, 0.75f}, {18, 16, 2}};
    std::vector<Vertex> out;
    minimap(out, &sector, blips, {16, 17}, 0);
    EXPECT_EQ(find_rect(out, 476, 22, 160, 160), 0u);
    EXPECT_EQ(out[0].color, (Color{0.01f, 0.025f, 0.03f, 1}));
    // Cell (3, 5) is the only open one; cell (0, 0) is blocked. Quads follow row by row.
    const Vertex* open = &out[6 + 6 * (5 * 32 + 3)];
    EXPECT_EQ(open->color, (Color{0.04f, 0.09f, 0.1f, 1}));
    EXPECT_NEAR(px(open[0]), minimap_point(3, 5, 0).x, 1e-3f);
    EXPECT_NEAR(py(open[2]), minimap_point(4, 6, 0).y, 1e-3f);
    EXPECT_EQ(out[6].color, (Color{0.3f, 0.4f, 0.43f, 1}));

    // Portal 2 is north ("N"); portal 7 has no letter.
    const Vec3 p = minimap_point(3.5f, 5.5f, 0);
    const std::size_t dot = 6 + 6 * 1024;
    EXPECT_NEAR(px(out[dot + 5]), p.x - 2, 1e-3f);
    EXPECT_NEAR(py(out[dot + 5]), p.y - 2, 1e-3f);
    EXPECT_EQ(out[dot].color, cyan);
    EXPECT_EQ(find_text(out, "N", p.x + 3, p.y - 3), dot + 6);
    std::vector<Vertex> letter;
    text(letter, "N", 0, 0, {}, 1);
    const std::size_t second = dot + 6 + letter.size();
    EXPECT_NEAR(px(out[second + 5]), minimap_point(8.5f, 1.5f, 0).x - 2, 1e-3f);

    // Blips: full red, half, black; then the player's dot and nose, white.
    const std::size_t blip = second + 6;
    EXPECT_EQ(out[blip].color, (Color{1, 0.1f, 0.03f, 1}));
    EXPECT_FLOAT_EQ(out[blip + 6].color.r, 0.5f);
    EXPECT_FLOAT_EQ(out[blip + 6].color.g, 0.05f);
    EXPECT_EQ(out[blip + 12].color, (Color{0, 0, 0.03f, 1}));
    const Vec3 me = minimap_point(16, 17, 0);
    ASSERT_EQ(out.size(), blip + 18 + 12);
    EXPECT_EQ(find_rect(out, me.x - 1, me.y - 2, 3, 4), blip + 18);
    EXPECT_EQ(find_rect(out, me.x, me.y - 4, 1, 2), blip + 24);
    EXPECT_EQ(out.back().color, white);

    out.clear();
    minimap(out, nullptr, blips, {2.5f, 2.5f}, 0); // background, blips and player only
    EXPECT_EQ(out.size(), 6u * 6);
}

TEST(GameplayHud, StatusLinesTheirRoundingAndColours) {
    SectorStatus status;
    status.remaining = 4;
    Player player;
    expect_shown(hud(player, status), {{"STANDARD SECTOR / LEFT 4", 12, 23, pale},
                                       {"Q DASH READY / E REVIVE", 12, 36, cyan}});
    status.remaining = 0;
    for (const auto& [challenge, line] :
         {std::pair<int, const char*>{5, "DANGER / ELITE SECTOR / LEFT 0"},
          {2, "ROAMING BOSS / LEFT 0"},
          {9, "STANDARD SECTOR / LEFT 0"}}) { // unknown: named standard, coloured a challenge
        status.challenge = static_cast<std::uint8_t>(challenge);
        expect_shown(hud(player, status), {{line, 12, 23, warning}});
    }
    for (const auto& [ticks, line] : {std::pair<int, const char*>{1, "Q DASH 1S / E REVIVE"},
                                      {30, "Q DASH 1S / E REVIVE"},
                                      {31, "Q DASH 2S / E REVIVE"}}) {
        player.dash_cooldown = static_cast<std::uint16_t>(ticks);
        expect_shown(hud(player, {}), {{line, 12, 36, cyan}});
    }
    player.boost = 3;
    player.boost_value = 50;
    const std::size_t without = hud(player, {}).size(); // no line without time left
    player.boost_ticks = 31;
    expect_shown(hud(player, {}), {{"SPEED BOOST 2S / ARMOR 50", 12, 49}});
    player.boost = 0;
    player.boost_ticks = 900;
    expect_shown(hud(player, {}), {{"ARMOR 30S / ARMOR 50", 12, 49}});
    player.boost = 2;
    player.boost_ticks = 0;
    EXPECT_EQ(hud(player, {}).size(), without);

    status = {};
    expect_absent(hud({}, status), {{"REVIVING 0% / HOLD E", 270, 207}});
    for (const auto& [revive, line] : {std::pair<int, const char*>{1, "REVIVING 1% / HOLD E"},
                                       {59, "REVIVING 98% / HOLD E"},
                                       {60, "REVIVING 100% / HOLD E"}}) {
        status.revive = static_cast<std::uint16_t>(revive);
        expect_shown(hud({}, status), {{line, 270, 207, cyan}});
    }
}

TEST(GameplayHud, SectorWarnings) {
    const Shown lockdown{"WARNING / LOCKDOWN AFTER 5 SECONDS", 300, 188, warning};
    const Shown clear{"CLEAR / FIND THE REWARD CACHE", 270, 185, cyan};
    const Shown sealed{"PORTALS SEALED / CLEAR TO ESCAPE", 300, 188};
    const Shown signal{"CACHE SIGNAL / APPROACH WITH CAUTION", 300, 188};
    SectorStatus status;
    status.challenge = 1;
    expect_shown(hud({}, status), {lockdown});
    status.flags = 1; // cleared: no lockdown warning, but the reward cache
    auto out = hud({}, status);
    expect_absent(out, {lockdown});
    expect_shown(out, {clear,
                       {"AT CACHE: F1 HEALTH / F2 AMMO", 270, 197, pale},
                       {"F3 ARMOR / F4 POWER-UP", 270, 209, pale}});
    status.flags = 3; // cache used
    expect_absent(hud({}, status), {clear});
    status.flags = 4; // sealed wins over the lockdown warning
    out = hud({}, status);
    expect_shown(out, {sealed});
    expect_absent(out, {lockdown});
    status = {};
    status.challenge = 3;
    expect_shown(hud({}, status), {signal});
    status.flags = 8;
    expect_absent(hud({}, status), {signal});
    status.flags = 4; // sealed and the cache signal overlap
    expect_shown(hud({}, status), {sealed, signal});
}

TEST(PortalHint, ChallengeDestinationsWithinReach) {
    // Destination hashes: 8 is a multiple of 20 (elite); 2, 16, 39 and 90 of 5 with (h / 20)
    // mod 4 giving 0, 2, 1 and 3; 3 neither. Destination 1 is the home sector, never hinted.
    Sector sector;
    const std::uint16_t cell = 10 * 32 + 10; // centre (10.5, 10.5)
    const auto hint = [&](std::uint64_t target, float x, float y) {
        sector.portals = {Portal{0, cell, target, 0, 1, 0}};
        std::vector<Vertex> out;
        portal_hint(out, sector, x, y);
        return out;
    };
    expect_shown(hint(8, 10.5f, 10.5f), {{"PORTAL: DANGER / ELITE SECTOR", 80, 285, warning}});
    expect_shown(hint(16, 10.5f, 10.5f), {{"PORTAL: CACHE AMBUSH", 80, 285}});
    expect_shown(hint(39, 10.5f, 10.5f), {{"PORTAL: ROAMING BOSS", 80, 285}});
    expect_shown(hint(2, 10.5f, 10.5f), {{"PORTAL: ARENA LOCKDOWN", 80, 285}});
    expect_shown(hint(90, 10.5f, 10.5f), {{"PORTAL: RANGED SWARM", 80, 285}});
    EXPECT_TRUE(hint(3, 10.5f, 10.5f).empty());
    EXPECT_TRUE(hint(1, 10.5f, 10.5f).empty());
    EXPECT_FALSE(hint(8, 10.5f + 3.49f, 10.5f).empty());
    EXPECT_TRUE(hint(8, 10.5f + 3.5f, 10.5f).empty());
    EXPECT_TRUE(hint(8, 10.5f + 3, 10.5f + 3).empty()); // 4.24 tiles away
    sector.portals = {Portal{0, cell, 8, 0, 1, 0}, Portal{1, cell + 1, 16, 0, 1, 0}};
    std::vector<Vertex> out;
    portal_hint(out, sector, 11, 10.5f); // two in reach print on top of each other
    expect_shown(out,
                 {{"PORTAL: DANGER / ELITE SECTOR", 80, 285}, {"PORTAL: CACHE AMBUSH", 80, 285}});
}

TEST(MineHud, HandsFirstAndTheSignalBlinksEveryQuarterSecond) {
    const auto light = [](float time) {
        std::vector<Vertex> out;
        mine_hud(out, time);
        return rect_color(out, 315, 281, 10, 6);
    };
    const Color on{1, 0.15f, 0.03f, 1}, off{0.4f, 0.05f, 0.02f, 1};
    EXPECT_EQ(light(0), off);
    EXPECT_EQ(light(0.25f), on);
    EXPECT_EQ(light(0.49f), on);
    EXPECT_EQ(light(0.5f), off);
    EXPECT_EQ(light(1.8f), on);
    std::vector<Vertex> out;
    mine_hud(out, 0);
    EXPECT_EQ(find_rect(out, 258, 290, 26, 38), 0u); // left hand first
    EXPECT_EQ(out[0].color, (Color{0.6f, 0.35f, 0.22f, 1}));
    EXPECT_NE(find_rect(out, 356, 290, 26, 38), none);
    EXPECT_NE(find_rect(out, 277, 271, 86, 57), none);
}

} // namespace
} // namespace kestrel
