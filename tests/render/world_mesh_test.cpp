#include "render/world_mesh.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "world/generate.h"

namespace kestrel {
namespace {

constexpr std::uint8_t solid = 1; // index of the blocking tile in every sector below

int at(int x, int y) {
    return y * 32 + x;
}

Sector solid_sector() {
    Sector sector;
    sector.seed = 3; // theme 0: colour factors 1, 1, 1
    sector.tiles = {Tile{}, Tile{7, 2, 3, Tile::blocks_walk, 0, 8, 160}};
    sector.cells.fill(solid);
    return sector;
}

struct Corners {
    Vec3 c0, c1, c2, c3;
};

Corners corners(const std::vector<Vertex>& mesh, std::size_t quad) {
    const Vertex* v = &mesh[quad * 6];
    return {v[0].position, v[1].position, v[2].position, v[5].position};
}

void expect_color(const Color& c, float r, float g, float b) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_EQ(c.a, 1);
}

TEST(WorldMesh, AllSolidSectorIsEmpty) {
    EXPECT_TRUE(world_mesh(solid_sector()).empty());
}

TEST(WorldMesh, LoneCellIsFloorCeilingAndFourWalls) {
    Sector sector = solid_sector();
    sector.tiles[0] = Tile{1, 2, 3, 0, 2, 20, 204}; // floor at 0.25, ceiling at 2.5
    sector.cells[at(5, 7)] = 0;
    const auto mesh = world_mesh(sector);
    ASSERT_EQ(mesh.size(), 36u);
    const float L = 204 / 255.0f;

    const Corners floor = corners(mesh, 0);
    EXPECT_EQ(floor.c0, (Vec3{5, 7, 0.25f}));
    EXPECT_EQ(floor.c1, (Vec3{6, 7, 0.25f}));
    EXPECT_EQ(floor.c2, (Vec3{6, 8, 0.25f}));
    EXPECT_EQ(floor.c3, (Vec3{5, 8, 0.25f}));
    EXPECT_EQ(mesh[0].layer, 2);
    expect_color(mesh[0].color, L * 0.7f, L * 0.8f, L * 0.9f);

    EXPECT_EQ(corners(mesh, 1).c0, (Vec3{5, 7, 2.5f}));
    EXPECT_EQ(mesh[6].layer, 3);
    expect_color(mesh[6].color, L * 0.65f, L * 0.7f, L * 0.8f);

    // West, east, north, south; the wall layer is the blocking neighbour's wall texture.
    const Corners expected[4] = {
        {{5, 7, 0.25f}, {5, 8, 0.25f}, {5, 8, 2.5f}, {5, 7, 2.5f}},
        {{6, 8, 0.25f}, {6, 7, 0.25f}, {6, 7, 2.5f}, {6, 8, 2.5f}},
        {{6, 7, 0.25f}, {5, 7, 0.25f}, {5, 7, 2.5f}, {6, 7, 2.5f}},
        {{5, 8, 0.25f}, {6, 8, 0.25f}, {6, 8, 2.5f}, {5, 8, 2.5f}},
    };
    for (int side = 0; side < 4; ++side) {
        const Corners c = corners(mesh, 2 + side);
        EXPECT_EQ(std::tie(c.c0, c.c1, c.c2, c.c3), std::tie(expected[side].c0, expected[side].c1,
                                                             expected[side].c2, expected[side].c3))
            << side;
        EXPECT_EQ(mesh[(2 + side) * 6].layer, 7) << side;
        const float s = L * (side < 2 ? 0.8f : 1.0f);
        expect_color(mesh[(2 + side) * 6].color, s, s, s);
    }
}

TEST(WorldMesh, OpenSkyDropsTheCeiling) {
    Sector sector = solid_sector();
    sector.tiles[0].flags = Tile::no_ceiling;
    sector.cells[at(5, 7)] = 0;
    const auto mesh = world_mesh(sector);
    ASSERT_EQ(mesh.size(), 30u);
    EXPECT_EQ(mesh[6].layer, 7); // straight on to the west wall
}

TEST(WorldMesh, GridBorderIsBrickWhateverThePaletteSays) {
    Sector sector = solid_sector();
    sector.tiles[0].wall_texture = 6;
    sector.cells.fill(0); // all floor, no blocking cell anywhere
    const auto mesh = world_mesh(sector);
    ASSERT_EQ(mesh.size(), (1024u * 2 + 128u) * 6);
    // Cell (0, 0): floor, ceiling, then west and north walls on the border.
    EXPECT_EQ(mesh[12].layer, 1);
    EXPECT_EQ(corners(mesh, 2).c0, (Vec3{0, 0, 0}));
    EXPECT_EQ(mesh[18].layer, 1);
    EXPECT_EQ(corners(mesh, 3).c0, (Vec3{1, 0, 0}));
    // Cell (1, 0) follows with its north wall only.
    EXPECT_EQ(corners(mesh, 4).c0, (Vec3{1, 0, 0}));
    EXPECT_EQ(corners(mesh, 6).c0, (Vec3{2, 0, 0}));
}

TEST(WorldMesh, StepsBetweenWalkableTilesStayOpen) {
    Sector sector = solid_sector();
    sector.tiles.push_back(Tile{1, 2, 3, 0, 4, 8, 100}); // a raised floor
    sector.cells[at(5, 7)] = 0;
    sector.cells[at(6, 7)] = 2;
    const auto mesh = world_mesh(sector);
    // Two cells of floor, ceiling and three walls each: nothing closes the step.
    ASSERT_EQ(mesh.size(), 2u * 5 * 6);
    EXPECT_EQ(corners(mesh, 5).c0, (Vec3{6, 7, 0.5f})); // second cell's floor
}

// First vertex index of the floor quad of a cell, found by its first corner.
std::optional<std::size_t> floor_of(const std::vector<Vertex>& mesh, const Sector& s, int cell) {
    const float zf = s.tiles.at(s.cells[cell]).floor_height * 0.125f;
    const Vec3 c0{static_cast<float>(cell % 32), static_cast<float>(cell / 32), zf};
    for (std::size_t i = 0; i < mesh.size(); i += 6) {
        if (mesh[i].position == c0 && mesh[i + 1].position == (Vec3{c0.x + 1, c0.y, zf}) &&
            mesh[i + 2].position == (Vec3{c0.x + 1, c0.y + 1, zf}))
            return i;
    }
    return std::nullopt;
}

TEST(WorldMesh, HazardFloorIgnoresLightAndCarriesTheThemeGreen) {
    for (const std::uint64_t style : {1u, 2u}) {
        std::optional<Sector> found;
        int hazard = -1;
        for (std::uint64_t seed = style; !found && seed < 300; seed += 3) {
            Sector s = generate(1, seed, {});
            for (int cell = 0; cell < 1024; ++cell) {
                if (hazard_cell(s, static_cast<std::uint64_t>(cell))) {
                    found = s;
                    hazard = cell;
                    break;
                }
            }
        }
        ASSERT_TRUE(found) << style;
        const float green = style == 1 ? 0.8f : 0.35f;
        for (const std::uint8_t light : {0, 40, 255}) {
            Sector s = *found;
            Tile own = s.tiles.at(s.cells[hazard]);
            own.light = light;
            s.tiles.push_back(own);
            s.cells[hazard] = static_cast<std::uint8_t>(s.tiles.size() - 1);
            const auto mesh = world_mesh(s);
            const auto i = floor_of(mesh, s, hazard);
            ASSERT_TRUE(i);
            expect_color(mesh[*i].color, 0.85f, green, 0.15f);
            // Its ceiling is lit as usual.
            const float L = light / 255.0f;
            expect_color(mesh[*i + 6].color, L * 0.65f, L * 0.7f, L * 0.8f);
        }
    }
}

TEST(WorldMesh, ThemeTintsFloorsAndWallsButNotCeilings) {
    Sector sector = solid_sector();
    sector.seed = 4; // theme 1: 0.48, 1.0, 0.6
    sector.tiles[0].light = 255;
    sector.spawn_x = sector.spawn_y = 5 << 8; // keeps the cell clear of hazards
    sector.cells[at(5, 7)] = 0;
    const auto mesh = world_mesh(sector);
    ASSERT_EQ(mesh.size(), 36u);
    expect_color(mesh[0].color, 0.7f * 0.48f, 0.8f, 0.9f * 0.6f);
    expect_color(mesh[6].color, 0.65f, 0.7f, 0.8f);
    expect_color(mesh[12].color, 0.48f * 0.8f, 0.8f, 0.6f * 0.8f); // west
    expect_color(mesh[24].color, 0.48f, 1.0f, 0.6f);               // north
}

} // namespace
} // namespace kestrel
