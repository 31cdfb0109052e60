// The static triangle mesh of a sector: floor, ceiling and walls of every walkable cell.
#pragma once

#include <vector>

#include "render/vertex.h"
#include "world/sector.h"

namespace kestrel {

// Cells in row-major order, each as floor, ceiling (unless open above), then the walls
// toward west, east, north and south where the neighbour blocks or lies off the grid.
// Throws std::out_of_range for a cell naming a tile outside the palette.
std::vector<Vertex> world_mesh(const Sector& sector);

} // namespace kestrel
