// Procedural sectors: a solid block, a fixed start room, a chain of rooms joined by
// L-shaped corridors, one corridor per portal, then the two decoration passes.
//
// Client and server both run this and must agree byte for byte, so everything here is
// unsigned 64-bit or small int arithmetic with no floating point and no library RNG.
#include "world/generate.h"

#include <algorithm>
#include <utility>

namespace kestrel {
namespace {

constexpr std::uint64_t golden_gamma = 0x9E3779B97F4A7C15ull;
constexpr std::uint8_t floor_tile = 0;
constexpr std::uint8_t wall_tile = 1;

// Counter-based: draw i is mix64(seed + i * gamma), so room j always uses draws
// 4j+1..4j+4 and no style can shift the sequence of a later room.
std::uint64_t draw(std::uint64_t seed, std::uint64_t index) {
    return mix64(seed + index * golden_gamma);
}

// Carving never touches the outer ring, which keeps the sector closed.
void carve(Sector& sector, int x, int y) {
    if (x < 1 || x > 30 || y < 1 || y > 30) return;
    sector.cells[static_cast<std::size_t>(y * sector_size + x)] = floor_tile;
}

int step_toward(int from, int to) {
    return from < to ? from + 1 : from - 1;
}

struct Room {
    int x, y, w, h;
};

Room room_for(std::uint64_t style, std::uint64_t r1, std::uint64_t r2, std::uint64_t r3,
              std::uint64_t r4) {
    Room room{static_cast<int>(r1 % 27 + 2), static_cast<int>(r2 % 27 + 2), 0, 0};
    switch (style) {
    case 0:
        room.w = static_cast<int>((r3 & 3) + 2);
        room.h = static_cast<int>((r4 & 3) + 2);
        break;
    case 1:
        // Snap to the 6-cell lattice 2, 8, 14, 20, 26.
        room.x = room.x - room.x % 6 + 2;
        room.y = room.y - room.y % 6 + 2;
        room.w = 4;
        room.h = 4;
        break;
    default:
        room.w = 7;
        room.h = 2;
        break;
    }
    return room;
}

} // namespace

Sector generate(std::uint64_t id, std::uint64_t seed, std::vector<Portal> portals) {
    Sector sector;
    sector.id = id;
    sector.seed = seed;
    sector.portals = std::move(portals);
    sector.cells.fill(wall_tile);

    // Start room around the default spawn, which is the centre of cell (2, 2).
    for (int y = 1; y <= 7; ++y)
        for (int x = 1; x <= 7; ++x) carve(sector, x, y);

    constexpr int room_counts[3] = {18, 24, 12};
    const std::uint64_t style = seed % 3;
    int cx = 3;
    int cy = 3;
    for (int j = 0; j < room_counts[style]; ++j) {
        const std::uint64_t base = 4 * static_cast<std::uint64_t>(j);
        const Room room = room_for(style, draw(seed, base + 1), draw(seed, base + 2),
                                   draw(seed, base + 3), draw(seed, base + 4));
        // Horizontal leg stops short of the target column; the vertical leg covers it.
        while (cx != room.x) {
            carve(sector, cx, cy);
            cx = step_toward(cx, room.x);
        }
        while (cy != room.y) {
            carve(sector, room.x, cy);
            cy = step_toward(cy, room.y);
        }
        carve(sector, room.x, room.y);
        for (int y = room.y; y < std::min(room.y + room.h, 31); ++y)
            for (int x = room.x; x < std::min(room.x + room.w, 31); ++x) carve(sector, x, y);
    }

    // Each portal gets its own corridor: along row 3 from the start room, then down or up
    // its column. A portal column on the outer ring cannot be reached, so it is left for
    // validation to reject.
    for (const Portal& portal : sector.portals) {
        const int px = portal.cell & 31;
        const int py = portal.cell >> 5;
        for (int x = 3; x != px; x = step_toward(x, px)) carve(sector, x, 3);
        if (py != 3) {
            if (px < 1 || px > 30) continue;
            for (int y = 3; y != py; y = step_toward(y, py)) carve(sector, px, y);
        }
        carve(sector, px, py);
    }

    decorate_secret(sector);
    decorate_rooms(sector);
    sector.validate();
    return sector;
}

} // namespace kestrel
