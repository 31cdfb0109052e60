// Decoration passes that finish a generated sector, and the hazard-cell rule.
//
// Palette indices appended here are fixed, because map patches name them directly:
//
//   index  flags  light  role
//       2  0x0B    130   secret door (solid, secret)
//       3  0x08    160   secret room floor
//       4  0x03    210   lit pillar
//       5  0x00    210   bright floor (patches only)
//       6  0x00     55   dark floor (patches only)
//       7  0x00    235   lit floor around the pillar
//
// All of them use textures 1, 2, 3 and heights 0, 8.
#include "world/generate.h"

#include <cstdlib>

namespace kestrel {
namespace {

constexpr std::uint8_t floor_tile = 0;
constexpr std::uint8_t wall_tile = 1;
constexpr std::uint8_t secret_door_tile = 2;
constexpr std::uint8_t secret_floor_tile = 3;
constexpr std::uint8_t pillar_tile = 4;
constexpr std::uint8_t pillar_ring_tile = 7;

Tile plain_tile(std::uint8_t flags, std::uint8_t light) {
    return Tile{1, 2, 3, flags, 0, 8, light};
}

std::uint8_t& cell_at(Sector& sector, int x, int y) {
    return sector.cells[static_cast<std::size_t>(y * sector_size + x)];
}

std::uint8_t cell_at(const Sector& sector, int x, int y) {
    return sector.cells[static_cast<std::size_t>(y * sector_size + x)];
}

// Portal cells are addressed like any cell: column = cell & 31, row = cell >> 5.
int distance_to_portal(const Portal& portal, int x, int y) {
    return std::abs((portal.cell & 31) - x) + std::abs((portal.cell >> 5) - y);
}

bool near_any_portal(const Sector& sector, int x, int y, int limit) {
    for (const Portal& portal : sector.portals)
        if (distance_to_portal(portal, x, y) < limit) return true;
    return false;
}

struct Point {
    int x, y;
};

// Door one step out from the floor cell p, a 2x2 room beyond it, offset to the side that
// is a quarter turn clockwise from d (east -> south, south -> west, ...).
struct SecretShape {
    Point cells[5]; // door first
};

SecretShape secret_shape(Point p, Point d) {
    const Point side{-d.y, d.x};
    return {{{p.x + d.x, p.y + d.y},
             {p.x + 2 * d.x, p.y + 2 * d.y},
             {p.x + 3 * d.x, p.y + 3 * d.y},
             {p.x + 2 * d.x + side.x, p.y + 2 * d.y + side.y},
             {p.x + 3 * d.x + side.x, p.y + 3 * d.y + side.y}}};
}

bool shape_accepted(const Sector& sector, const SecretShape& shape) {
    for (const Point& c : shape.cells) {
        if (c.x < 2 || c.x > 29 || c.y < 2 || c.y > 29) return false;
        if (cell_at(sector, c.x, c.y) != wall_tile) return false;
        if (near_any_portal(sector, c.x, c.y, 3)) return false;
    }
    return true;
}

} // namespace

void decorate_secret(Sector& sector) {
    if (sector.tiles.size() >= 4) return;
    sector.tiles.push_back(plain_tile(0x0B, 130));
    sector.tiles.push_back(plain_tile(0x08, 160));

    constexpr Point directions[4] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}}; // E, W, S, N
    for (int y = 3; y <= 26; ++y) {
        for (int x = 3; x <= 26; ++x) {
            if (cell_at(sector, x, y) != floor_tile) continue;
            for (const Point& d : directions) {
                const SecretShape shape = secret_shape({x, y}, d);
                if (!shape_accepted(sector, shape)) continue;
                cell_at(sector, shape.cells[0].x, shape.cells[0].y) = secret_door_tile;
                for (int i = 1; i < 5; ++i)
                    cell_at(sector, shape.cells[i].x, shape.cells[i].y) = secret_floor_tile;
                return;
            }
        }
    }
}

void decorate_rooms(Sector& sector) {
    // Runs only right after the secret pass, so the indices 4..7 come out fixed.
    if (sector.tiles.size() != 4) return;
    sector.tiles.push_back(plain_tile(0x03, 210));
    sector.tiles.push_back(plain_tile(0x00, 210));
    sector.tiles.push_back(plain_tile(0x00, 55));
    sector.tiles.push_back(plain_tile(0x00, 235));

    // Most open spot: the first cell, in index order, with the most floor in its 3x3 block.
    int best_score = 0;
    Point best{0, 0};
    for (int y = 8; y <= 27; ++y) {
        for (int x = 8; x <= 27; ++x) {
            if (cell_at(sector, x, y) != floor_tile) continue;
            if (near_any_portal(sector, x, y, 4)) continue;
            int score = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    score += cell_at(sector, x + dx, y + dy) == floor_tile;
            if (score > best_score) {
                best_score = score;
                best = {x, y};
            }
        }
    }
    if (best_score == 0) return;

    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            std::uint8_t& cell = cell_at(sector, best.x + dx, best.y + dy);
            if (cell == floor_tile) cell = pillar_ring_tile;
        }
    // A pillar that cuts the map apart (or strands a portal) is not worth a broken sector:
    // leave the lit floor without it.
    std::uint8_t& centre = cell_at(sector, best.x, best.y);
    centre = pillar_tile;
    try {
        sector.validate();
    } catch (...) {
        centre = pillar_ring_tile;
    }
}

bool hazard_cell(const Sector& sector, std::uint64_t cell) {
    if (cell > 1023) return false;
    if (sector.seed % 3 == 0) return false;
    if ((sector.tiles.at(sector.cells[cell]).flags & (Tile::blocks_walk | Tile::secret)) != 0)
        return false;
    const int x = static_cast<int>(cell & 31);
    const int y = static_cast<int>(cell >> 5);
    // Keep the arrival area and the portal mouths safe.
    if (std::abs((sector.spawn_x >> 8) - x) + std::abs((sector.spawn_y >> 8) - y) < 5) return false;
    if (near_any_portal(sector, x, y, 3)) return false;
    return mix64(sector.seed ^ cell) % 17 == 0;
}

} // namespace kestrel
