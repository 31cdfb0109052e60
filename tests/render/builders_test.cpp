// The geometry builders, from vertex layout to HUD: long outputs are pinned by digests for
// states that take every branch, beside a few readable exact checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>

#include "render/adventure_hud.h"
#include "render/atlas.h"
#include "render/entity_mesh.h"
#include "render/expedition_hud.h"
#include "render/gameplay_hud.h"
#include "render/letterbox.h"
#include "render/overlay.h"
#include "render/primitives.h"
#include "render/world_mesh.h"
#include "tests/support/hud.h"
#include "world/generate.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrel {
namespace {

using namespace test;
using V = std::vector<Vertex>;

// clang-format off
// The GPU reads float3 at 0, float2 at 12, float4 at 20, float at 36, pitch 40; c0 takes the
// bottom-left of the texture, triangles (c0, c1, c2) and (c0, c2, c3).
TEST(Primitives, VertexLayoutQuadsFontAtlasAndLetterbox) {
    static_assert(sizeof(Vertex) == 40 && offsetof(Vertex, position) == 0);
    static_assert(offsetof(Vertex, uv) == 12 && offsetof(Vertex, color) == 20);
    static_assert(offsetof(Vertex, layer) == 36);
    V out(1); // appends, keeps what was there
    const Vec3 c0{0, 0, 0}, c1{1, 0, 0}, c2{1, 0, 1}, c3{0, 0, 1};
    const Color r{1, 0, 0, 1};
    quad(out, c0, c1, c2, c3, 5, r);
    EXPECT_EQ(out, (V{{}, {c0, {0, 1}, r, 5}, {c1, {1, 1}, r, 5}, {c2, {1, 0}, r, 5},
                      {c0, {0, 1}, r, 5}, {c2, {1, 0}, r, 5}, {c3, {0, 0}, r, 5}}));
    EXPECT_EQ(device_point(160, 270), (Vec3{-0.5f, -0.5f, 0})); // pixels, y down
    // Text drawn is pinned by the HUD digests; here the whole font and the widths.
    EXPECT_EQ(crc32(glyphs), 0x57ae2b6eu) << std::hex << crc32(glyphs);
    for (const auto& [s, scale, width] :
         {std::tuple{"", 1.f, 0.f}, {"HEALTH", 1.f, 36.f}, {"a%", 2.f, 24.f}})
        EXPECT_EQ(text_width(s, scale), width) << s;
    // Eight generated layers, always the same: the creature's visor (layer 4, texel (20, 7)).
    const std::vector<std::uint8_t> atlas = make_atlas();
    ASSERT_TRUE(atlas.size() == atlas_bytes && atlas_bytes == 32768u && make_atlas() == atlas);
    EXPECT_EQ(Bytes(&atlas[4 * 4096 + (7 * 32 + 20) * 4], &atlas[4 * 4096 + (7 * 32 + 21) * 4]),
              (Bytes{61, 192, 198, 255}));
    EXPECT_EQ(crc32(atlas), 0x0635c6aeu) << std::hex << crc32(atlas);
    // Letterbox: the limiting side's scale, never rounded; size truncated; odd leftover after.
    const std::pair<std::array<std::uint32_t, 2>, BlitRect> cases[] = {
        {{1920, 1080}, {0, 0, 1920, 1080}}, {{1000, 1000}, {0, 219, 1000, 562}},
        {{100, 50}, {6, 0, 88, 50}}, {{1280, 720}, {0, 0, 1280, 720}},
        {{960, 720}, {0, 90, 960, 540}}, {{2560, 1600}, {0, 80, 2560, 1440}},
        {{300, 360}, {0, 96, 300, 168}}, {{641, 360}, {0, 0, 640, 360}},
        {{643, 360}, {1, 0, 640, 360}}, {{640, 363}, {0, 1, 640, 360}}, {{1, 1}, {0, 0, 1, 0}},
        {{100000, 10}, {49991, 0, 17, 10}}, {{10, 100000}, {0, 49997, 10, 5}}};
    for (const auto& [size, expected] : cases)
        EXPECT_EQ(letterbox(size[0], size[1]), expected) << size[0] << "x" << size[1];
    static_assert(letterbox(1920, 1080) == BlitRect{0, 0, 1920, 1080}); // usable at compile time
}

TEST(WorldMesh, CellsWallsHazardsAndThemes) {
    // Blocking tile 1 (wall texture 7), theme 0 (colour factors 1, 1, 1).
    Sector sector{.seed = 3,
                  .tiles = {{1, 2, 3, 0, 2, 20, 204}, {7, 2, 3, Tile::blocks_walk, 0, 8, 160}}};
    sector.cells.fill(1);
    EXPECT_TRUE(world_mesh(sector).empty());
    // A lone cell: floor, ceiling, walls W, E (shaded 0.8), N, S of the neighbour's texture.
    sector.cells[7 * 32 + 5] = 0;
    const float L = 204 / 255.0f, f = 0.25f; // the ceiling at 2.5 and the walls in the digest
    std::vector<V> meshes = {world_mesh(sector)}, want(1);
    quad(want[0], {5, 7, f}, {6, 7, f}, {6, 8, f}, {5, 8, f}, 2, {L * 0.7f, L * 0.8f, L * 0.9f, 1});
    EXPECT_TRUE(meshes[0].size() == 36 && V(meshes[0].begin(), meshes[0].begin() + 6) == want[0]);
    // Open sky; a raised step; all floor (brick border); theme 1 tints all but ceilings;
    // hazard floors ignore the light (192) and take the theme's green.
    sector.tiles[0].flags = Tile::no_ceiling;
    meshes.push_back(world_mesh(sector));
    sector.tiles.push_back(Tile{1, 2, 3, 0, 4, 8, 100});
    sector.tiles[0].flags = 0;
    sector.cells[7 * 32 + 6] = 2;
    meshes.push_back(world_mesh(sector));
    sector.tiles[0] = Tile{6};
    sector.cells.fill(0);
    meshes.push_back(world_mesh(sector));
    sector.tiles = {{1, 2, 3, 0, 0, 8, 255}, {7, 2, 3, Tile::blocks_walk, 0, 8, 160}};
    sector.cells.fill(1);
    sector.seed = 4;
    sector.spawn_x = sector.spawn_y = 5 << 8; // keeps the cell clear of hazards
    sector.cells[7 * 32 + 5] = 0;
    meshes.push_back(world_mesh(sector));
    for (const std::uint64_t seed : {1u, 2u}) { // themes 1 and 2
        const Sector hazards = generate(1, seed, {});
        ASSERT_TRUE(hazard_cell(hazards, 40 - seed));
        meshes.push_back(world_mesh(hazards));
    }
    expect_digest(meshes, 0x7e46c200, "world meshes");
}

constexpr float east = 0; // lateral axis +y
DrawEntity entity(std::uint8_t kind, std::uint16_t type = 0, std::uint16_t health = 100,
                  std::uint16_t timer = 0, std::uint16_t state = 0, std::uint8_t marked = 0) {
    return {.x = 10.5f, .y = 4.25f, .z = 0.5f, .health = health, .type = type, .kind = kind,
            .marked = marked, .timer = timer, .state = state};
}
V pass(const std::vector<DrawEntity>& entities, const Sector& sector = {}, float time = 0) {
    V out;
    return entity_pass(out, entities, sector, east, time), out;
}

TEST(EntityMesh, ModelsSpritesDeathEffectsPickupsAndPortals) {
    // Pickups (3) and kinds 2 (type 8) and 6 go the sprite way: nothing drawn, false. Downed
    // (timer 6): smoke, spark, the lying body and the figure; state 2 of a player: violet suit.
    std::vector<V> models;
    std::vector<DrawEntity> all = {entity(1), entity(1, 0, 0), entity(5, 0, 0, 6), entity(2, 8),
                                   entity(2, 16), entity(2, 19, 0), entity(3), entity(4), entity(6),
                                   entity(18, 0, 100, 0, 1), entity(18, 0, 100, 150, 1),
                                   entity(1, 0, 100, 0, 2)};
    for (std::uint8_t kind = 8; kind <= 18; ++kind) all.push_back(entity(kind));
    for (const DrawEntity& e : all) {
        V& out = models.emplace_back();
        const bool drawn = special_entity(out, e, east, 0);
        EXPECT_EQ(drawn, !out.empty()) << int(e.kind) << " " << e.type;
    }
    for (const std::uint16_t timer : {90, 30, 1000}) // a charging sentinel's core, clamped at 0
        special_entity(models.emplace_back(), entity(18, 0, 100, timer, 1, 1), east, 0);
    // Dead without a model: smoke, the spark at the countdown's end or when floor(12 t) % 7 == 0.
    DrawEntity dead = entity(6, 1, 0);
    for (const auto& [timer, time] :
         {std::pair{50, 0.1f}, {3, 0.1f}, {20, 7.0f / 12 + 0.01f}, {20, 8.0f / 12 + 0.01f}}) {
        dead.timer = std::uint16_t(timer);
        EXPECT_FALSE(special_entity(models.emplace_back(), dead, east, time));
    }
    expect_digest(models, 0x18951c31, "models");
    // Sprites and tints (a marked brute: yellow under a star); dead sizes the pass never reaches.
    std::vector<V> sprites;
    for (const DrawEntity& e : {entity(6), entity(6, 8), entity(2, 8, 250), entity(2, 3),
                                entity(2, 1), entity(2, 8, 250, 0, 0, 1)})
        sprites.push_back(pass({e}));
    for (const DrawEntity& e : {entity(2, 14, 0), entity(3, 8, 0), entity(4, 8, 0)})
        billboard(sprites.emplace_back(), e, 1234, 4, {});
    dead.timer = 100; // past the smoke and the spark: lying flat, sparks flying for half a second
    dead.death_age = 0.25f;
    sprites.push_back(pass({dead}));
    dead.death_age = 0.6f;
    EXPECT_EQ(pass({dead}).size(), 6u);
    sprites.insert(sprites.end(), {pass({entity(3, 4)}), pass({entity(3, 1)})}); // flat pickups
    // Rings of open portals only, after all entities; violet toward challenges (2, not 3).
    Sector sector;
    sector.portals = {{.cell = 3 * 32 + 7, .target = 1, .link_flags = 3},
                      {.cell = 3 * 32 + 7, .target = 1, .link_flags = 2},
                      {.cell = 31 * 32, .target = 2, .link_flags = 1},
                      {.cell = 31 * 32, .target = 3, .link_flags = 1}};
    const V& rings = sprites.emplace_back(pass({entity(6)}, sector, 0.3f));
    EXPECT_TRUE(rings.size() == 6u + 3 * 6 && rings[6].layer == 5);
    expect_digest(sprites, 0xc8cb6d32, "sprites");
    // The first-person weapon's tint: the cosmetic skin wins over the weapon.
    EXPECT_EQ(weapon_color(2, 3), (Color{0.3f, 1, 0.5f, 1})); // skin 3, whatever the weapon
    V tints;
    for (std::uint16_t weapon = 0; weapon <= 5; ++weapon)
        for (std::uint8_t skin = 0; skin <= 6; ++skin)
            tints.push_back({{}, {}, weapon_color(weapon, skin), 0});
    expect_digest({tints}, 0x30908985, "tints");
}

V overlay(const Frame& frame, V out = {}) {
    return overlay_pass(out, frame), out;
}

TEST(Overlay, TransferScreenLayersAndWeapons) {
    const Sector sector = generate(7, std::uint64_t{0x6B1F39A43}, {});
    V screen, nowhere;
    transfer_screen(screen, "WORMHOLE TRANSIT", 77);
    transfer_screen(nowhere, "CONNECTING", 0);
    EXPECT_EQ(find_text(screen, "WORMHOLE TRANSIT", 140, 158, 2), 12u); // over backdrop, panel
    EXPECT_EQ(overlay({.sector = &sector, .blips = {{16, 16, 0}}, .adventure = {.sequence = 5},
                       .expedition_panel = 2, .transition = true, .destination = 77,
                       .status_line = "WORMHOLE TRANSIT"}), screen); // instead of every layer
    const V out = overlay({.sector = &sector, .blips = {{10, 12, 0.2f}},
                           .adventure = {.sequence = 3}, .expedition_panel = 1, .yaw = 5000,
                           .health = 64, .ammo = 7, .status_line = "AWAITING SERVER"});
    EXPECT_EQ(find_text(out, "DUSKHOLLOW", 10, 6), 6u);
    const V dead = overlay({.health = 0});
    EXPECT_NE(find_text(dead, "YOU DIED - RESPAWNING", 178, 176, 2), none); // not from health 1
    // Each weapon with recoil, reload (lowered), skin tint and flash; 9 is a pistol.
    const auto weapon = [](std::uint16_t weapon, float recoil, std::uint16_t reload, bool flash) {
        return overlay({.weapon = weapon, .adventure = {.reload = reload, .color_index = 2},
                        .recoil = recoil, .muzzle_flash = flash});
    };
    expect_digest({screen, nowhere, out, dead, overlay({.health = 1}),
                   overlay({.local_preview = true}),
                   overlay({.notice = "NAME: ACE", .hit_marker = true, .damage_flash = true,
                            .banner_visible = true}),
                   overlay({.weapon = 4, .muzzle_flash = true}), weapon(3, 0.5f, 4, false),
                   weapon(2, 0, 0, true), weapon(9, 0, 0, true)}, 0x577baef4, "overlay");
}

TEST(GameplayHud, MinimapStatusLinesPortalHintsAndTheMine) {
    // +x ahead at yaw 0 (up), +y to its right; a quarter turn later +y is ahead.
    for (const auto& [x, y, yaw, sx, sy] :
         {std::array<float, 5>{17, 16, 0, 556, 98.7f}, {16, 17, 0, 559.3f, 102},
          {16, 17, 16384, 556, 98.7f}}) {
        const Vec3 p = minimap_point(x, y, yaw);
        EXPECT_LT(std::abs(p.x - sx) + std::abs(p.y - sy), 1e-4f) << x << ", " << y;
    }
    for (const auto& [age, strength] :
         {std::pair{0.f, 1.f}, {0.75f, 0.5f}, {1.5f, 0.f}, {-1.f, 1.f}})
        EXPECT_FLOAT_EQ(radar_strength(age), strength);
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
    const auto hud = [](const Player& player, const SectorStatus& status, V out = {}) {
        return gameplay_hud(out, player, status), out;
    };
    // Challenge 9: named standard, coloured a challenge; cleared: cache until used; sealed wins.
    expect_digest({hud({}, {.remaining = 4}), hud({}, {.challenge = 1}),
                   hud({.dash_cooldown = 1, .boost_ticks = 31, .boost = 3},
                       {.revive = 1, .challenge = 5}),
                   hud({.boost_value = 50, .dash_cooldown = 30, .boost_ticks = 900},
                       {.revive = 59, .challenge = 2}),
                   hud({.dash_cooldown = 31}, {.revive = 60, .challenge = 9}),
                   hud({}, {.challenge = 1, .flags = 1}), hud({}, {.challenge = 1, .flags = 3}),
                   hud({}, {.challenge = 1, .flags = 4}), hud({}, {.challenge = 3}),
                   hud({}, {.challenge = 3, .flags = 8}), hud({}, {.challenge = 3, .flags = 4})},
                  0x8a3c18c9, "status");
    EXPECT_EQ(hud({.boost_value = 50, .boost = 2}, {}).size(), hud({}, {}).size()); // no time left
    // Target hashes: 8 % 20 == 0 (elite); 2, 16, 39, 90 % 5 == 0 ((h / 20) % 4: 0, 2, 1, 3); 3
    // neither; 1 is home. Only within 3.5 tiles of the portal's centre; two in reach overlap.
    sector = {};
    const std::uint16_t cell = 10 * 32 + 10;
    std::vector<V> hints;
    for (const auto& [target, dx, dy, shown] :
         {std::tuple{8, 0.f, 0.f, true}, {16, 0.f, 0.f, true}, {39, 0.f, 0.f, true},
          {2, 0.f, 0.f, true}, {90, 0.f, 0.f, true}, {8, 3.49f, 0.f, true}, {3, 0.f, 0.f, false},
          {1, 0.f, 0.f, false}, {8, 3.5f, 0.f, false}, {8, 3.f, 3.f, false}}) {
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

// Player 4 mid sector 77 facing +x; markers ahead at the centre, 160 px per quarter turn right.
V adventure(const AdventureState& s, float yaw = 0, std::uint16_t weapon = 1, V out = {}) {
    const Player me{.id = 4, .x = 16 << 16, .y = 16 << 16, .weapon = weapon};
    return adventure_hud(out, s, me, 77, yaw), out;
}
Teammate mate(std::uint32_t id, std::string name, float x, float y, std::uint64_t sector = 77,
              std::uint16_t health = 80, std::uint8_t class_id = 0) {
    return {.id = id, .sector = sector, .x = std::uint16_t(x * 256), .y = std::uint16_t(y * 256),
            .health = health, .class_id = class_id, .name = std::move(name)};
}

TEST(AdventureHud, EveryLineWithItsState) {
    // Not the local player; the unknown class 7 is a ranger; only those here are marked.
    const std::vector<Teammate> team = {mate(4, "ME", 16, 16), mate(9, "ACE", 20, 16, 77, 80, 1),
                                        mate(11, "BOB", 20, 16, 78, 100, 7)};
    const V teammates = adventure({.sequence = 1, .teammates = team});
    EXPECT_NE(find_text(teammates, "ACE / 80HP / SCOUT", 10, 122), none);
    EXPECT_TRUE(adventure({.ping_active = 1, .banking = 40, .message = "HI", .teammates = team})
                    .empty()); // nothing before the first state
    const int t = 256; // one tile
    // Exit ahead, supply ping behind: both at the centre; a mine (weapon 4) hides the clip.
    expect_digest({teammates,
        adventure({.sequence = 1, .salvage_carried = 12, .salvage_banked = 340, .progress = 2,
                   .goal = 3, .ping_x = 12 * t, .ping_y = 16 * t, .ping_active = 1, .clip = 6,
                   .reserve = 24, .banking = 89, .objective = 1, .color_index = 2,
                   .colors_unlocked = 4, .ping_kind = 1}),
        adventure({.sequence = 1, .carrier = 9, .timer = 31, .progress = 2, .goal = 3, .clip = 6,
                   .reserve = 24, .reload = 3, .banking = 90, .mode = 2,
                   .message = "ARTIFACT TAKEN"}),
        adventure({.sequence = 1, .carrier = 9, .progress = 2, .goal = 3, .ping_x = 12 * t,
                   .ping_y = 16 * t, .ping_active = 1, .clip = 6, .reserve = 24, .mode = 3,
                   .objective = 2, .ping_kind = 3}, 0, 4),
        adventure({.sequence = 1, .carrier = 9, .progress = 2, .goal = 3, .ping_x = 12 * t,
                   .ping_y = 16 * t, .objective_flags = 1, .ping_kind = 3}),
        adventure({.sequence = 1, .teammates = {mate(9, "ACE", 16, 20)}}),
        adventure({.sequence = 1, .teammates = {mate(9, "ACE", 16, 20)}}, 49152),
        adventure({.sequence = 1, .exit_x = 20 * t, .exit_y = 16 * t, .ping_x = 12 * t,
                   .ping_y = 16 * t, .ping_active = 1, .objective_flags = 2, .ping_kind = 2}),
        adventure({.sequence = 1, .objective_x = 16 * t, .objective_y = 20 * t, .exit_x = 20 * t,
                   .exit_y = 16 * t, .ping_x = 12 * t, .ping_y = 16 * t, .ping_active = 1})},
        0x4660b1ad, "adventure");
}

V expedition(const ExpeditionState& s, std::uint8_t panel = 0, std::uint32_t pick = 0, V out = {}) {
    return expedition_hud(out, s, panel, pick), out;
}
NavSector nav(std::uint64_t id, std::uint16_t column, std::uint16_t row, std::uint8_t flags = 0) {
    return {.id = id, .column = column, .row = row, .flags = flags};
}

TEST(ExpeditionHud, LinesPanelsAndNavigation) {
    ExpeditionState summary{.salvage_banked = 250, .secrets = 2, .objectives = 3, .revives = 1,
                            .time_seconds = 125, .total_bank = 900, .total_objectives = 11,
                            .total_secrets = 4, .contract_kind = 1, .contract_state = 3,
                            .cosmetic_tier_before = 3, .cosmetic_tier_after = 3};
    ExpeditionState complete = summary, fight{.boss_health = 50, .boss_health_max = 200,
                                              .attack_warning = 20, .boss_phase = 2,
                                              .attack_kind = 1};
    complete.contract_state = 2, complete.cosmetic_tier_after = 4;
    // The hazard line of theme 2 changes every 60 ticks; 2^32 - 1 is 75 mod 180.
    std::vector<V> outs;
    for (std::uint32_t tick : {0u, 59u, 60u, 119u, 120u, 179u, 180u, 240u, 0xFFFFFFFFu})
        outs.push_back(expedition({.sequence = tick, .theme = 2}));
    EXPECT_NE(find_text(outs[2], "HAZARD WARNING / MOVE", 250, 18), none);
    outs.push_back(expedition(fight));
    fight.boss_health_max = fight.attack_warning = 0; // an empty bar rather than divided by zero
    // No boss no attack warning; a completed contract no line; each panel (2: an empty map).
    outs.insert(outs.end(), {expedition({.risks = 2, .theme = 1}),
        expedition({.contract_progress = 1, .contract_goal = 1, .contract_kind = 2,
                    .contract_state = 2, .risks = 7}),
        expedition({.contract_progress = 1, .contract_goal = 1, .contract_kind = 2,
                    .contract_state = 1}),
        expedition({.contract_progress = 120, .contract_goal = 250, .extraction_timer = 61,
                    .attack_warning = 20, .contract_kind = 3, .contract_state = 1,
                    .attack_kind = 2, .team_shot_charged = true, .revive_shield = 90}),
        expedition(fight), expedition({.attack_warning = 20, .boss_phase = 1, .attack_kind = 2}),
        expedition({.leader_name = "ACE", .risks = 5}, 1),
        expedition({.leader_name = "ACE", .leader = true, .contract_state = 1}, 1),
        expedition(summary, 3), expedition(complete, 3),
        expedition({.crew_code = "K7Q2", .crew = {{"ACE", true}, {"BOB", false}, {"CY", true}}}, 4),
        expedition({}, 4),
        expedition({.owned_upgrades = 1 | 4 | 8, .upgrade_offers = {2, 0, 4}}, 5),
        expedition({.vote_ticks = 211, .bonus_rounds = 1, .votes_stay = 2, .participants = 3}, 6),
        expedition({}, 2, 0)});
    expect_digest(outs, 0x213bd3e9, "expedition lines");
    const ExpeditionState s{.navigation = {nav(5, 1, 1, 1), nav(6, 2, 1, 2)}};
    EXPECT_EQ(expedition(s, 7, 1), expedition(s, 2, 1)); // above panel 6 is navigation
    // Waypoint over boss over cleared; a selection outside the list selects nothing; one beyond
    // column 5 or row 4 moves the map's centre onto itself.
    NavSector crowded = nav(6, 1, 2, 1 | 2), far = nav(40, 10, 3, 1);
    crowded.teammates = 3;
    far.objective = 2, far.danger = 7;
    ExpeditionState map{.current_sector = 6, .navigation = {nav(5, 0, 0, 16 | 8), crowded,
                                                            nav(7, 5, 4, 8 | 2), nav(8, 6, 0, 1),
                                                            nav(9, 2, 5, 0)}};
    std::vector<V> maps = {expedition(map, 2, 0), expedition(map, 2, 1), expedition(map, 2, 2)};
    EXPECT_NE(find_text(maps[0], "SENTINEL WARNING", 374, 145), none);
    for (const auto& [list, selection] :
         {std::pair{std::vector{nav(5, 0, 0), nav(6, 9, 9)}, 2},
          {{nav(5, 0, 0), far, nav(41, 15, 7, 0), nav(42, 16, 3, 0), nav(43, 5, 3, 1)}, 1},
          {{nav(5, 0, 0), nav(6, 6, 0)}, 1}, {{nav(5, 0, 0), nav(6, 0, 5)}, 1},
          {{nav(5, 0, 0), nav(6, 5, 4)}, 1}}) {
        map.navigation = list;
        maps.push_back(expedition(map, 2, std::uint32_t(selection)));
    }
    expect_digest(maps, 0x75cfd32b, "navigation");
}
// clang-format on

} // namespace
} // namespace kestrel
