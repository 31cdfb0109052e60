#include "render/world_mesh.h"

#include "render/primitives.h"
#include "world/generate.h"

namespace kestrel {
namespace {

// Per-sector colour theme, chosen by seed % 3: factors for walls and lit floors, and the
// green of a hazard floor.
struct Theme {
    float r, g, b;
    float hazard_green;
};
constexpr Theme themes[3] = {
    {1.0f, 1.0f, 1.0f, 0.35f},
    {0.48f, 1.0f, 0.6f, 0.8f},
    {0.5f, 0.72f, 1.0f, 0.35f},
};

bool blocks(const Tile& tile) {
    return (tile.flags & Tile::blocks_walk) != 0;
}

} // namespace

std::vector<Vertex> world_mesh(const Sector& sector) {
    std::vector<Vertex> out;
    out.reserve(24000);
    const Theme& theme = themes[sector.seed % 3];

    for (int y = 0; y < sector_size; ++y) {
        for (int x = 0; x < sector_size; ++x) {
            const int cell = y * sector_size + x;
            const Tile& d = sector.tiles.at(sector.cells[cell]);
            if (blocks(d)) continue;

            const float light = d.light / 255.0f;
            const float zf = d.floor_height * 0.125f;
            const float zc = d.ceiling_height * 0.125f;
            const float x0 = static_cast<float>(x), x1 = x0 + 1;
            const float y0 = static_cast<float>(y), y1 = y0 + 1;

            // Hazard floors keep one warning colour however dark the tile is.
            const Color floor = hazard_cell(sector, static_cast<std::uint64_t>(cell))
                                    ? Color{0.85f, theme.hazard_green, 0.15f, 1}
                                    : Color{light * 0.7f * theme.r, light * 0.8f * theme.g,
                                            light * 0.9f * theme.b, 1};
            quad(out, {x0, y0, zf}, {x1, y0, zf}, {x1, y1, zf}, {x0, y1, zf}, d.floor_texture,
                 floor);

            if ((d.flags & Tile::no_ceiling) == 0) {
                quad(out, {x0, y0, zc}, {x1, y0, zc}, {x1, y1, zc}, {x0, y1, zc}, d.ceiling_texture,
                     {light * 0.65f, light * 0.7f, light * 0.8f, 1});
            }

            // Walls are built from the walkable side only, so every face exists once. Off the
            // grid is a wall of the default brick layer, whatever the palette says. The
            // corners are only worked out for a side that has a wall.
            const auto wall = [&](int nx, int ny, float shade, Vec3 c0, Vec3 c1, Vec3 c2, Vec3 c3) {
                float layer = 1;
                if (nx >= 0 && nx < sector_size && ny >= 0 && ny < sector_size) {
                    const Tile& n = sector.tiles.at(sector.cells[ny * sector_size + nx]);
                    if (!blocks(n)) return;
                    layer = n.wall_texture;
                }
                const float s = light * shade;
                quad(out, c0, c1, c2, c3, layer, {theme.r * s, theme.g * s, theme.b * s, 1});
            };
            wall(x - 1, y, 0.8f, {x0, y0, zf}, {x0, y1, zf}, {x0, y1, zc}, {x0, y0, zc});
            wall(x + 1, y, 0.8f, {x1, y1, zf}, {x1, y0, zf}, {x1, y0, zc}, {x1, y1, zc});
            wall(x, y - 1, 1.0f, {x1, y0, zf}, {x0, y0, zf}, {x0, y0, zc}, {x1, y0, zc});
            wall(x, y + 1, 1.0f, {x0, y1, zf}, {x1, y1, zf}, {x1, y1, zc}, {x0, y1, zc});
        }
    }
    return out;
}

} // namespace kestrel
