// Procedural sectors and their decoration. The same arguments always give the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "world/sector.h"

namespace kestrel {

// Carves rooms and corridors from a solid block, decorates, then validates; throws the
// validation message when the portals cannot all be reached. Note: called unqualified with
// two int arguments and a std::vector, argument-dependent lookup picks std::generate, so
// pass a std::uint64_t seed or write kestrel::generate.
Sector generate(std::uint64_t id, std::uint64_t seed, std::vector<Portal> portals);

// Hides one secret door (tile 2) with a small room (tile 3) behind it.
void decorate_secret(Sector& sector);
// Places one lit pillar (tile 4) in the most open floor area, ringed by lit floor (tile 7).
void decorate_rooms(Sector& sector);

// Whether a floor cell is a hazard; a pure rule, nothing is stored in the sector.
bool hazard_cell(const Sector& sector, std::uint64_t cell);

} // namespace kestrel
