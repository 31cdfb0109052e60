// Cells and small sectors the world tests build their cases from.
#pragma once

#include "world/sector.h"

namespace kestrel::test {

constexpr int at(int x, int y) {
    return y * 32 + x;
}

inline void carve(Sector& sector, int x0, int y0, int x1, int y1, std::uint8_t tile = 0) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) sector.cells[at(x, y)] = tile;
}

// Solid outer ring, open floor inside; the default spawn is the centre of cell (2, 2).
inline Sector open_room() {
    Sector sector;
    sector.cells.fill(1);
    carve(sector, 1, 1, 30, 30);
    return sector;
}

inline Portal portal_at(std::uint16_t id, int x, int y) {
    return Portal{id, static_cast<std::uint16_t>(at(x, y)), 2, 0, 1, 0};
}

} // namespace kestrel::test
