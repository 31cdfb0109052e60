// The movement benchmarks' ground: a sector with free cells inside a solid border, and a
// player standing in its middle.
#pragma once

#include "world/movement.h"

namespace kestrel::bench {

inline Grid open_sector() {
    Sector sector;
    for (int i = 0; i < 32; ++i) {
        sector.cells[i] = sector.cells[31 * 32 + i] = 1;
        sector.cells[i * 32] = sector.cells[i * 32 + 31] = 1;
    }
    return sector.collision(false);
}

inline Player start_player() {
    Player player;
    player.id = 1;
    player.x = 16 * 65536;
    player.y = 16 * 65536;
    return player;
}

} // namespace kestrel::bench
