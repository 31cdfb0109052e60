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
    EXPECT_EQ(device_point(160, 270), (Vec3{-0.5f, -0.5f, 0}));
    out.clear();
    screen_rect(out, 0, 0, 640, 360, {0.1f, 0.2f, 0.3f, 1}, 3);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0], (Vertex{{-1, -1, 0}, {0, 1}, {0.1f, 0.2f, 0.3f, 1}, 3}));
    EXPECT_EQ(out[2].position, (Vec3{1, 1, 0}));
}

TEST(Text, GlyphsCellsAndWidths) {
    // Rows of five pixels, the leftmost in bit 4.
    // clang-format off
    for (const auto& [c, rows] : std::initializer_list<std::pair<char, std::array<int, 7>>>{
        {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
        {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'/', {0x01, 0x02, 0x02, 0x04, 0x08, 0x08, 0x10}},
        {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}}) {
        // clang-format on
        const std::size_t g = font_characters.find(c) * 7;
        EXPECT_TRUE(std::equal(rows.begin(), rows.end(), glyphs.begin() + g)) << c;
    }
    // At any scale every lit pixel is the screen rectangle of its square, cells 6 apart;
    // bytes outside the font leave a blank cell.
    const std::string_view line = "K7:aQ/ .";
    const Color c{0.3f, 0.6f, 0.9f, 0.5f};
    V out, expected;
    text(out, line, 10.5f, 33.25f, c, 3);
    for (std::size_t n = 0, g; n < line.size(); ++n)
        for (int i = 0; i < 35 && (g = font_characters.find(line[n])) != font_characters.npos; ++i)
            if ((glyphs[g * 7 + std::size_t(i / 5)] >> (4 - i % 5)) & 1)
                screen_rect(expected, 10.5f + 18.0f * n + 3.0f * (i % 5), 33.25f + 3.0f * (i / 5),
                            3, 3, c, 0);
    EXPECT_EQ(out, expected);
    for (const auto& [s, scale, width] :
         {std::tuple{"", 1.f, 0.f}, {"HEALTH", 1.f, 36.f}, {"a%", 2.f, 24.f}, {"100", 2.f, 36.f}})
        EXPECT_EQ(text_width(s, scale), width) << s;
}

TEST(Atlas, EightLayersWhereOnlySpritesHaveHoles) {
    const std::vector<std::uint8_t> atlas = make_atlas();
    ASSERT_TRUE(atlas.size() == atlas_bytes && atlas_bytes == 32768u);
    EXPECT_EQ(make_atlas(), atlas); // generated, so always the same bytes
    const auto at = [&](int layer, int x, int y) {
        const std::size_t i = std::size_t(layer) * 4096 + std::size_t(y * 32 + x) * 4;
        return std::array<int, 4>{atlas[i], atlas[i + 1], atlas[i + 2], atlas[i + 3]};
    };
    for (int layer = 0; layer < 8; ++layer) {
        int transparent = 0, white = 0;
        for (int i = 0; i < 1024; ++i) {
            transparent += at(layer, i % 32, i / 32)[3] == 0;
            white += at(layer, i % 32, i / 32) == std::array{255, 255, 255, 255};
        }
        EXPECT_TRUE((transparent > 0) == (layer >= 4) && transparent < 1024) << layer;
        EXPECT_TRUE(layer > 0 || white == 1024); // flat white
    }
    // Layer, texel, RGBA: brick joint, floor, ceiling, creature body, visor and hole, portal,
    // weapon hand, spark centre and beyond its |dx| + |dy| < 13 diamond.
    // clang-format off
    const std::array<int, 7> texels[] = {
        {1, 5, 0, 38, 30, 29, 255}, {2, 16, 7, 18, 24, 28, 255}, {3, 9, 9, 46, 57, 63, 255},
        {4, 16, 12, 196, 116, 59, 255}, {4, 20, 7, 61, 192, 198, 255}, {4, 0, 0, 255, 255, 255, 0},
        {5, 15, 1, 25, 180, 215, 255}, {6, 3, 25, 152, 91, 62, 255}, {7, 15, 15, 255, 213, 89, 255},
        {7, 0, 0, 255, 213, 89, 0}};
    // clang-format on
    for (const auto& [layer, x, y, r, g, b, a] : texels) {
        EXPECT_EQ(at(layer, x, y), (std::array{r, g, b, a}))
            << layer << " (" << x << ", " << y << ")";
    }
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
void expect_color(const Color& c, float r, float g, float b) {
    EXPECT_TRUE(std::abs(c.r - r) + std::abs(c.g - g) + std::abs(c.b - b) < 1e-6f && c.a == 1)
        << c.r << " " << c.g << " " << c.b;
}

TEST(WorldMesh, CellsWallsAndTheirCounts) {
    EXPECT_TRUE(world_mesh(solid()).empty());
    // A lone cell (floor 0.25, ceiling 2.5): floor, ceiling, walls W, E (shaded 0.8), N, S with
    // the blocking neighbour's wall texture.
    Sector sector = solid({1, 2, 3, 0, 2, 20, 204});
    sector.cells[7 * 32 + 5] = 0;
    const float L = 204 / 255.0f, f = 0.25f, c = 2.5f, s = L * 0.8f;
    V want;
    quad(want, {5, 7, f}, {6, 7, f}, {6, 8, f}, {5, 8, f}, 2, {L * 0.7f, L * 0.8f, L * 0.9f, 1});
    quad(want, {5, 7, c}, {6, 7, c}, {6, 8, c}, {5, 8, c}, 3, {L * 0.65f, L * 0.7f, L * 0.8f, 1});
    quad(want, {5, 7, f}, {5, 8, f}, {5, 8, c}, {5, 7, c}, 7, {s, s, s, 1});
    quad(want, {6, 8, f}, {6, 7, f}, {6, 7, c}, {6, 8, c}, 7, {s, s, s, 1});
    quad(want, {6, 7, f}, {5, 7, f}, {5, 7, c}, {6, 7, c}, 7, {L, L, L, 1});
    quad(want, {5, 8, f}, {6, 8, f}, {6, 8, c}, {5, 8, c}, 7, {L, L, L, 1});
    EXPECT_EQ(world_mesh(sector), want);
    sector.tiles[0].flags = Tile::no_ceiling; // open sky: straight on to the west wall
    want.erase(want.begin() + 6, want.begin() + 12);
    EXPECT_EQ(world_mesh(sector), want);
    sector.tiles.push_back(Tile{1, 2, 3, 0, 4, 8, 100}); // a raised floor next to it
    sector.tiles[0].flags = 0;
    sector.cells[7 * 32 + 6] = 2;
    V mesh = world_mesh(sector); // two cells of floor, ceiling and three walls: the step is open
    ASSERT_EQ(mesh.size(), 2u * 5 * 6);
    EXPECT_EQ(mesh[30].position, (Vec3{6, 7, 0.5f}));

    // All floor: the grid border is brick whatever the palette says. Cell (0, 0): floor,
    // ceiling, west and north walls; cell (1, 0) follows with its north wall only.
    sector.tiles[0] = Tile{6};
    sector.cells.fill(0);
    mesh = world_mesh(sector);
    ASSERT_EQ(mesh.size(), (1024u * 2 + 128u) * 6);
    for (const auto& [quad, x] : {std::pair{2, 0.f}, {3, 1.f}, {4, 1.f}, {6, 2.f}})
        EXPECT_EQ(mesh[quad * 6].position, (Vec3{x, 0, 0})) << quad;
    EXPECT_TRUE(mesh[12].layer == 1 && mesh[18].layer == 1);

    // Theme 1 (0.48, 1.0, 0.6) tints floors and walls but not ceilings.
    sector = solid({1, 2, 3, 0, 0, 8, 255});
    sector.seed = 4;
    sector.spawn_x = sector.spawn_y = 5 << 8; // keeps the cell clear of hazards
    sector.cells[7 * 32 + 5] = 0;
    mesh = world_mesh(sector);
    expect_color(mesh[0].color, 0.7f * 0.48f, 0.8f, 0.9f * 0.6f);
    expect_color(mesh[6].color, 0.65f, 0.7f, 0.8f);
    expect_color(mesh[12].color, 0.48f * 0.8f, 0.8f, 0.6f * 0.8f); // west
    expect_color(mesh[24].color, 0.48f, 1.0f, 0.6f);               // north
}

// Hazard floors ignore the light (theme 1 and 2 greens); the ceiling above is lit as usual.
TEST(WorldMesh, HazardFloorIgnoresLightAndCarriesTheThemeGreen) {
    for (const std::uint64_t style : {1u, 2u}) {
        Sector s;
        int hazard = -1;
        for (std::uint64_t seed = style; hazard < 0 && seed < 300; seed += 3) {
            s = generate(1, seed, {});
            for (int cell = 0; cell < 1024 && hazard < 0; ++cell)
                if (hazard_cell(s, std::uint64_t(cell))) hazard = cell;
        }
        ASSERT_GE(hazard, 0) << style;
        Tile own = s.tiles.at(s.cells[hazard]);
        own.light = 40;
        s.tiles.push_back(own);
        s.cells[hazard] = std::uint8_t(s.tiles.size() - 1);
        const V mesh = world_mesh(s);
        const Vec3 c0{float(hazard % 32), float(hazard / 32), own.floor_height * 0.125f};
        std::size_t i = 0;
        while (i < mesh.size() &&
               (mesh[i].position != c0 || mesh[i + 2].position != Vec3{c0.x + 1, c0.y + 1, c0.z}))
            i += 6;
        ASSERT_LT(i, mesh.size());
        expect_color(mesh[i].color, 0.85f, style == 1 ? 0.8f : 0.35f, 0.15f);
        expect_color(mesh[i + 6].color, 40 / 255.0f * 0.65f, 40 / 255.0f * 0.7f,
                     40 / 255.0f * 0.8f);
    }
}

constexpr float east = 0, south = 16384; // lateral axis +y or -x
DrawEntity entity(std::uint8_t kind, std::uint16_t type = 0, std::uint16_t health = 100) {
    return {.x = 10.5f, .y = 4.25f, .z = 0.5f, .health = health, .type = type, .kind = kind};
}
V pass(const std::vector<DrawEntity>& entities, const Sector& sector = {}, float time = 0) {
    V out;
    entity_pass(out, entities, sector, east, time);
    return out;
}
struct Rect { // an upright quad: first corner, middle of its foot, size, layer and colour
    Vec3 c0;
    Vec2 foot;
    float width, height, layer;
    Color color;
};
Rect rect(const V& out, std::size_t quad) {
    const Vec3 a = out[quad * 6].position, b = out[quad * 6 + 1].position;
    return {a,
            {(a.x + b.x) / 2, (a.y + b.y) / 2},
            std::hypot(b.x - a.x, b.y - a.y),
            out[quad * 6 + 5].position.z - a.z,
            out[quad * 6].layer,
            out[quad * 6].color};
}

TEST(EntityMesh, ModelsSpritesDeathEffectsPickupsAndPortals) {
    DrawEntity downed = entity(5, 0, 0), dormant = entity(18), awake = entity(18);
    downed.timer = 6; // smoke and spark, then the lying body and the figure
    awake.state = 1;
    DrawEntity warning = awake;
    warning.timer = 150;
    // Players never smoke; kind 2 type 19 dead at timer 0: the spark, then the flat corpse.
    // Pickups (3) and kinds 2 (type 8) and 6 go the sprite way.
    // clang-format off
    const std::tuple<DrawEntity, bool, std::size_t> cases[] = {
        {entity(1), true, 17 * 6}, {entity(1, 0, 0), true, 21 * 6},
        {downed, true, 5 * 48 + 7 * 6 + 21 * 6}, {entity(2, 8), false, 0},
        {entity(2, 16), true, 6 + 48 + 2 * 6}, {entity(2, 19, 0), true, 7 * 6 + 6},
        {entity(3), false, 0}, {entity(4), true, 2 * 6}, {entity(6), false, 0},
        {entity(8), true, 6 * 6}, {entity(9), true, 2 * 6}, {entity(10), true, 48 + 6},
        {entity(11), true, 5 * 6}, {entity(12), true, 3 * 6}, {entity(13), true, 4 * 6},
        {entity(14), true, 2 * 48 + 2 * 6}, {entity(15), true, 2 * 6}, {entity(16), true, 2 * 6},
        {entity(17), true, 6}, {dormant, true, 6}, {awake, true, 2 * 6 + 3 * 48},
        {warning, true, 3 * 6 + 3 * 48}};
    // clang-format on
    V out;
    for (const auto& [e, drawn, vertices] : cases) {
        out.clear();
        EXPECT_EQ(special_entity(out, e, east, 0), drawn) << int(e.kind) << " " << e.type;
        EXPECT_EQ(out.size(), vertices) << int(e.kind) << " " << e.type;
        for (const Vertex& v : out) ASSERT_EQ(v.layer, 0);
    }
    // A charging sentinel's core swells from radius 0.19 at timer 90, clamped at nothing.
    awake.marked = 1;
    for (const auto& [timer, radius] : {std::pair{90, 0.19f}, {30, 0.32f}, {1000, 0.f}}) {
        awake.timer = std::uint16_t(timer);
        out.clear();
        special_entity(out, awake, east, 0);
        float r = 0; // the core follows base, band and body
        for (int i = 60; i < 108; ++i) r = std::max(r, std::abs(out[i].position.y - 4.25f));
        EXPECT_NEAR(r, radius, 1e-5f) << timer;
    }
    DrawEntity player = entity(1); // state 2: the violet suit
    player.state = 2;
    out.clear();
    special_entity(out, player, east, 0);
    EXPECT_TRUE(std::ranges::any_of(out, [](auto& v) {
        return v.color == Color{0.55f, 0.25f, 1, 1};
    }));
    // Sprite sizes and tints (layer 4); the dead sizes of kinds 2 (type 14), 3 and 4 are the
    // billboard's own, which the pass never reaches.
    const Color white{1, 1, 1, 1};
    DrawEntity brute = entity(2, 8, 250);
    brute.marked = 1; // turns yellow under a white star
    // clang-format off
    const std::tuple<DrawEntity, float, float, Color, bool> sprites[] = {
        {entity(6), 0.55f, 0.8f, white, true}, {entity(6, 8), 0.55f, 0.8f, white, true},
        {entity(2, 8, 250), 1, 0.98f, {0.6f, 0.35f, 0.75f, 1}, true},
        {entity(2, 3), 0.55f, 0.8f, {0.5f, 0.7f, 1, 1}, true},
        {entity(2, 1), 0.55f, 0.8f, {1, 0.4f, 0.3f, 1}, true}, {brute, 1, 0.98f, {1, 1, 0.5f, 1}, true},
        {entity(2, 14, 0), 1, 0.2f, {}, false}, {entity(3, 8, 0), 0.45f, 0.4f, {}, false},
        {entity(4, 8, 0), 0.12f, 0.12f, {}, false}};
    // clang-format on
    for (const auto& [e, w, h, color, in_pass] : sprites) {
        out.clear();
        in_pass ? void(out = pass({e})) : billboard(out, e, 1234, 4, {});
        const Rect r = rect(out, e.marked);
        ASSERT_EQ(out.size(), 6u + 6 * e.marked);
        EXPECT_TRUE(r.layer == 4 && std::abs(r.width - w) + std::abs(r.height - h) < 1e-5f &&
                    (!in_pass || r.color == color))
            << int(e.kind) << " " << e.type;
    }
    // Dead without a model: lying flat, then five sparks flying out for half a second.
    DrawEntity dead = entity(6, 1, 0);
    dead.timer = 100; // past the smoke and the electric spark
    dead.death_age = 0.25f;
    out = pass({dead});
    ASSERT_EQ(out.size(), 6u * 6);
    EXPECT_NEAR(rect(out, 0).width + rect(out, 0).height, 0.7f + 0.16f, 1e-5f);
    EXPECT_TRUE(rect(out, 1).layer == 7 && rect(out, 5).color == (Color{1, 0.3f, 0.1f, 1}));
    dead.death_age = 0.6f;
    EXPECT_EQ(pass({dead}).size(), 6u);
    // Smoke (five 48-vertex ellipses) first, with the zig-zag spark of seven bars at the end
    // of the countdown, later flickering on when floor(12 t) is a multiple of 7.
    const Color none{0, 0, 0, 0};
    for (const auto& [timer, time, vertices, first, last] :
         {std::tuple{50, 0.1f, 5 * 48, Color{0.035f, 0.04f, 0.06f, 1}, none},
          {3, 0.1f, 5 * 48 + 7 * 6, none, Color{0.65f, 0.85f, 1, 1}},
          {20, 7.0f / 12 + 0.01f, 5 * 48 + 7 * 6, none, none},
          {20, 8.0f / 12 + 0.01f, 5 * 48, none, none}}) {
        dead.timer = std::uint16_t(timer);
        out.clear();
        EXPECT_FALSE(special_entity(out, dead, east, time));
        ASSERT_EQ(out.size(), std::size_t(vertices)) << timer;
        EXPECT_EQ(out[0].color, first.a ? first : out[0].color);
        EXPECT_EQ(out.back().color, last.a ? last : out.back().color);
    }

    // Pickups: flat symbols (layer 0), each part 0.002 nearer the viewer.
    V health = pass({entity(3, 4)}), ammo = pass({entity(3, 1)}), both = health;
    both.insert(both.end(), ammo.begin(), ammo.end());
    ASSERT_TRUE(health.size() == 3u * 6 && ammo.size() == 4u * 6);
    EXPECT_TRUE(std::ranges::all_of(both, [](auto& v) { return v.layer == 0; }));
    EXPECT_EQ(rect(health, 0).color, (Color{0.12f, 0.15f, 0.18f, 1}));
    EXPECT_EQ(rect(health, 1).color, (Color{0.3f, 1, 0.3f, 1}));
    EXPECT_EQ(rect(ammo, 3).color, (Color{1, 0.65f, 0.15f, 1}));
    EXPECT_FLOAT_EQ(rect(ammo, 3).c0.x, 10.5f - 0.006f);

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
    out = pass({entity(6)}, sector, 0.3f);
    ASSERT_EQ(out.size(), 6u + 3 * 6);
    const Rect ring = rect(out, 1);
    const Color pulse{1, 1, 0.65f + 0.35f * std::sin(4 * 0.3f), 1};
    EXPECT_TRUE(ring.layer == 5 && ring.c0.z == 0 && ring.color == pulse);
    EXPECT_NEAR(ring.width + ring.height, 0.55f + 0.8f, 1e-5f);
    EXPECT_TRUE(ring.foot.x == 7.5f && ring.foot.y == 3.5f && rect(out, 2).foot.y == 31.5f);
    EXPECT_EQ(rect(out, 2).color, (Color{0.25f, 0.1f, 1, 1}));
    EXPECT_EQ(rect(out, 3).color, pulse);

    // The first-person weapon's tint: the cosmetic skin wins over the weapon.
    // clang-format off
    const std::tuple<std::uint16_t, std::uint8_t, Color> tints[] = {
        {3, 1, {1, 0.65f, 0.22f, 1}}, {1, 2, {0.65f, 0.4f, 1, 1}}, {2, 3, {0.3f, 1, 0.5f, 1}},
        {4, 4, {1, 0.25f, 0.5f, 1}}, {3, 0, {0.65f, 0.8f, 1, 1}}, {2, 5, {0.85f, 0.7f, 0.5f, 1}},
        {1, 0, white}, {4, 0, white}};
    // clang-format on
    for (const auto& [weapon, skin, color] : tints)
        EXPECT_EQ(weapon_color(weapon, skin), color) << weapon << " " << int(skin);
}

} // namespace
} // namespace kestrel
