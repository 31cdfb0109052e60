// The geometry builders: vertex layout, quads and screen rectangles, the pixel font, the
// texture atlas, the letterbox, the sector mesh and the entity models.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>

#include "render/atlas.h"
#include "render/entity_mesh.h"
#include "render/letterbox.h"
#include "render/primitives.h"
#include "render/world_mesh.h"
#include "tests/support/hud.h"
#include "world/generate.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrel {
namespace {

using V = std::vector<Vertex>;

// The GPU reads float3 at 0, float2 at 12, float4 at 20, float at 36, pitch 40; c0 takes the
// bottom-left of the texture, triangles (c0, c1, c2) and (c0, c2, c3).
TEST(Primitives, VertexLayoutQuadsAndScreenRects) {
    static_assert(sizeof(Vertex) == 40 && offsetof(Vertex, uv) == 12);
    static_assert(offsetof(Vertex, color) == 20 && offsetof(Vertex, layer) == 36);
    static_assert(offsetof(Vertex, position) == 0);
    V out(1); // appends, keeps what was there
    const Vec3 c0{0, 0, 0}, c1{1, 0, 0}, c2{1, 0, 1}, c3{0, 0, 1};
    const Color r{1, 0, 0, 1};
    quad(out, c0, c1, c2, c3, 5, r);
    // clang-format off
    EXPECT_EQ(out, (V{{}, {c0, {0, 1}, r, 5}, {c1, {1, 1}, r, 5}, {c2, {1, 0}, r, 5},
                      {c0, {0, 1}, r, 5}, {c2, {1, 0}, r, 5}, {c3, {0, 0}, r, 5}}));
    // clang-format on
    EXPECT_EQ(device_point(160, 270), (Vec3{-0.5f, -0.5f, 0})); // pixels, y down
}

// Every text drawn is pinned by the HUD digests; here the font itself and the widths.
TEST(Text, GlyphsAndWidths) {
    EXPECT_EQ(crc32(glyphs), 0x57ae2b6eu) << std::hex << crc32(glyphs);
    for (const auto& [s, scale, width] :
         {std::tuple{"", 1.f, 0.f}, {"HEALTH", 1.f, 36.f}, {"a%", 2.f, 24.f}, {"100", 2.f, 36.f}})
        EXPECT_EQ(text_width(s, scale), width) << s;
}

TEST(Atlas, EightLayersOfGeneratedTexels) {
    const std::vector<std::uint8_t> atlas = make_atlas();
    ASSERT_TRUE(atlas.size() == atlas_bytes && atlas_bytes == 32768u);
    EXPECT_EQ(make_atlas(), atlas); // generated, so always the same bytes
    // RGBA of layer 4 (the creature), texel (20, 7): its visor; then a digest of every texel.
    EXPECT_EQ(Bytes(atlas.begin() + 4 * 4096 + (7 * 32 + 20) * 4,
                    atlas.begin() + 4 * 4096 + (7 * 32 + 21) * 4),
              (Bytes{61, 192, 198, 255}));
    EXPECT_EQ(crc32(atlas), 0x0635c6aeu) << std::hex << crc32(atlas);
}

// The scale is the limiting side's (never rounded), the size truncated, and an odd leftover
// goes after the image.
TEST(Letterbox, ScalesByTheLimitingSideAndCentres) {
    // clang-format off
    const std::pair<std::array<std::uint32_t, 2>, BlitRect> cases[] = {
        {{1920, 1080}, {0, 0, 1920, 1080}}, {{1000, 1000}, {0, 219, 1000, 562}},
        {{100, 50}, {6, 0, 88, 50}}, {{1280, 720}, {0, 0, 1280, 720}},
        {{960, 720}, {0, 90, 960, 540}}, {{2560, 1600}, {0, 80, 2560, 1440}},
        {{300, 360}, {0, 96, 300, 168}}, {{641, 360}, {0, 0, 640, 360}},
        {{643, 360}, {1, 0, 640, 360}}, {{640, 363}, {0, 1, 640, 360}}, {{1, 1}, {0, 0, 1, 0}},
        {{100000, 10}, {49991, 0, 17, 10}}, {{10, 100000}, {0, 49997, 10, 5}}};
    // clang-format on
    for (const auto& [size, expected] : cases)
        EXPECT_EQ(letterbox(size[0], size[1]), expected) << size[0] << "x" << size[1];
    static_assert(letterbox(1920, 1080) == BlitRect{0, 0, 1920, 1080}); // usable at compile time
}

// A sector of the blocking tile 1 (wall texture 7), theme 0 (colour factors 1, 1, 1).
Sector solid(Tile open = {}) {
    Sector sector{.seed = 3, .tiles = {open, Tile{7, 2, 3, Tile::blocks_walk, 0, 8, 160}}};
    sector.cells.fill(1);
    return sector;
}
TEST(WorldMesh, CellsWallsAndTheirCounts) {
    EXPECT_TRUE(world_mesh(solid()).empty());
    // A lone cell (floor 0.25, ceiling 2.5): floor, ceiling, walls W, E (shaded 0.8), N, S with
    // the blocking neighbour's wall texture.
    Sector sector = solid({1, 2, 3, 0, 2, 20, 204});
    sector.cells[7 * 32 + 5] = 0;
    const float L = 204 / 255.0f, f = 0.25f, c = 2.5f, s = L * 0.8f; // the rest in the digest
    std::vector<V> meshes = {world_mesh(sector)}, want(1);
    quad(want[0], {5, 7, f}, {6, 7, f}, {6, 8, f}, {5, 8, f}, 2, {L * 0.7f, L * 0.8f, L * 0.9f, 1});
    quad(want[0], {5, 7, c}, {6, 7, c}, {6, 8, c}, {5, 8, c}, 3,
         {L * 0.65f, L * 0.7f, L * 0.8f, 1});
    quad(want[0], {5, 7, f}, {5, 8, f}, {5, 8, c}, {5, 7, c}, 7, {s, s, s, 1});
    EXPECT_TRUE(meshes[0].size() == 6u * 6 &&
                std::equal(want[0].begin(), want[0].end(), meshes[0].begin()));
    // Open sky (no ceiling); a raised floor next to it (the step is open); all floor (the
    // grid border is brick whatever the palette says); theme 1 (0.48, 1.0, 0.6) tints floors
    // and walls but not ceilings.
    sector.tiles[0].flags = Tile::no_ceiling;
    meshes.push_back(world_mesh(sector));
    sector.tiles.push_back(Tile{1, 2, 3, 0, 4, 8, 100});
    sector.tiles[0].flags = 0;
    sector.cells[7 * 32 + 6] = 2;
    meshes.push_back(world_mesh(sector));
    sector.tiles[0] = Tile{6};
    sector.cells.fill(0);
    meshes.push_back(world_mesh(sector));
    EXPECT_EQ(meshes.back().size(), (1024u * 2 + 128u) * 6);
    sector = solid({1, 2, 3, 0, 0, 8, 255});
    sector.seed = 4;
    sector.spawn_x = sector.spawn_y = 5 << 8; // keeps the cell clear of hazards
    sector.cells[7 * 32 + 5] = 0;
    meshes.push_back(world_mesh(sector));
    for (const std::uint64_t seed : {1u, 2u}) {       // hazard floors ignore the light (192 here)
        const Sector hazards = generate(1, seed, {}); // and carry the green of theme 1 or 2
        ASSERT_TRUE(hazard_cell(hazards, 40 - seed));
        meshes.push_back(world_mesh(hazards));
    }
    test::expect_digest(meshes, 0x7e46c200, "world meshes");
}

constexpr float east = 0; // lateral axis +y
DrawEntity entity(std::uint8_t kind, std::uint16_t type = 0, std::uint16_t health = 100) {
    return {.x = 10.5f, .y = 4.25f, .z = 0.5f, .health = health, .type = type, .kind = kind};
}
V pass(const std::vector<DrawEntity>& entities, const Sector& sector = {}, float time = 0) {
    V out;
    entity_pass(out, entities, sector, east, time);
    return out;
}

TEST(EntityMesh, ModelsSpritesDeathEffectsPickupsAndPortals) {
    DrawEntity downed = entity(5, 0, 0), awake = entity(18), player = entity(1);
    downed.timer = 6; // smoke and spark, then the lying body and the figure
    awake.state = 1;
    player.state = 2; // the violet suit
    DrawEntity warning = awake, charging = awake;
    warning.timer = 150;
    charging.marked = 1; // its core swells from timer 90 on, clamped at nothing
    // Players never smoke; kind 2 type 19 dead at timer 0: the spark, then the flat corpse.
    // Pickups (3) and kinds 2 (type 8) and 6 go the sprite way: nothing drawn, false.
    std::vector<V> models;
    std::vector<DrawEntity> all = {
        entity(1), entity(1, 0, 0), downed,    entity(2, 8), entity(2, 16), entity(2, 19, 0),
        entity(3), entity(4),       entity(6), awake,        warning,       player};
    for (std::uint8_t kind = 8; kind <= 18; ++kind) all.push_back(entity(kind));
    for (const DrawEntity& e : all) {
        V& out = models.emplace_back();
        const bool drawn = special_entity(out, e, east, 0);
        EXPECT_EQ(drawn, !out.empty()) << int(e.kind) << " " << e.type;
    }
    EXPECT_TRUE(models[3].empty() && models[6].empty() && models[8].empty() && !models[4].empty());
    EXPECT_EQ(models[0].size(), 17u * 6); // a player: rectangles only
    for (const std::uint16_t timer : {90, 30, 1000}) {
        charging.timer = timer;
        special_entity(models.emplace_back(), charging, east, 0);
    }
    // Dead without a model: smoke (five 48-vertex ellipses) with the zig-zag spark at the end
    // of the countdown, later flickering on when floor(12 t) is a multiple of 7.
    DrawEntity dead = entity(6, 1, 0);
    for (const auto& [timer, time] :
         {std::pair{50, 0.1f}, {3, 0.1f}, {20, 7.0f / 12 + 0.01f}, {20, 8.0f / 12 + 0.01f}}) {
        dead.timer = std::uint16_t(timer);
        EXPECT_FALSE(special_entity(models.emplace_back(), dead, east, time));
    }
    test::expect_digest(models, 0x18951c31, "models");
    // Sprites and their tints (a marked brute turns yellow under a white star); the dead sizes
    // of kinds 2 (type 14), 3 and 4 are the billboard's own, which the pass never reaches.
    DrawEntity brute = entity(2, 8, 250);
    brute.marked = 1;
    std::vector<V> sprites;
    for (const DrawEntity& e :
         {entity(6), entity(6, 8), entity(2, 8, 250), entity(2, 3), entity(2, 1), brute})
        sprites.push_back(pass({e}));
    for (const DrawEntity& e : {entity(2, 14, 0), entity(3, 8, 0), entity(4, 8, 0)})
        billboard(sprites.emplace_back(), e, 1234, 4, {});
    // Lying flat, then five sparks flying out for half a second.
    dead.timer = 100; // past the smoke and the electric spark
    dead.death_age = 0.25f;
    sprites.push_back(pass({dead}));
    dead.death_age = 0.6f;
    EXPECT_EQ(pass({dead}).size(), 6u);
    // Pickups: flat symbols (layer 0), each part 0.002 nearer the viewer.
    sprites.insert(sprites.end(), {pass({entity(3, 4)}), pass({entity(3, 1)})});
    // Only open portals get a ring (layer 5), after all entities: pulsing yellow, or violet
    // blue toward a destination that hashes to a challenge sector.
    Portal open{.cell = 3 * 32 + 7, .target = 1, .link_flags = 3}, closed = open;
    closed.link_flags = 2;
    Portal challenge{.cell = 31 * 32, .target = 2, .link_flags = 1};
    while (splitmix_finalizer(challenge.target) % 5 != 0) ++challenge.target;
    Portal plain = challenge;
    for (++plain.target; splitmix_finalizer(plain.target) % 5 == 0;) ++plain.target;
    Sector sector;
    sector.portals = {open, closed, challenge, plain};
    const V& rings = sprites.emplace_back(pass({entity(6)}, sector, 0.3f));
    ASSERT_EQ(rings.size(), 6u + 3 * 6);
    EXPECT_EQ(rings[6].layer, 5);
    test::expect_digest(sprites, 0xc8cb6d32, "sprites");

    // The first-person weapon's tint: the cosmetic skin wins over the weapon.
    EXPECT_TRUE(weapon_color(3, 0) == (Color{0.65f, 0.8f, 1, 1}) &&
                weapon_color(2, 3) == (Color{0.3f, 1, 0.5f, 1}));
    V tints;
    for (std::uint16_t weapon = 0; weapon <= 5; ++weapon)
        for (std::uint8_t skin = 0; skin <= 6; ++skin)
            tints.push_back({{}, {}, weapon_color(weapon, skin), 0});
    test::expect_digest({tints}, 0x30908985, "tints");
}

} // namespace
} // namespace kestrel
