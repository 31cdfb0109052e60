// The server's map of the world: sixteen generated sectors laid out on a 4 x 4 grid that
// wraps around at its edges (a torus), every sector joined to its four neighbours.
//
// Each sector has the four compass portals the minimap labels W, E, N and S (ids 0..3):
//
//   id  where (cell column, row)        leads to             arrives through
//    0  W   column 1, row 10..15         the sector west      its portal 1
//    1  E   column 8..9, row 4..5        the sector east      its portal 0
//    2  N   column 14..21, row 1         the sector north     its portal 3
//    3  S   column 5..7, row 29          the sector south     its portal 2
//
// The exact cells vary with the sector's seed. Portal 1 is 8 to 10 cells from the spawn
// (about 1.5 s of running), so automated portal walking hands over quickly; the other
// corridors never cross it. Sector ids are 1 + row * 4 + column; every seed is derived
// from the world seed, so the same world seed always gives the same world byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/player.h"
#include "world/sector.h"

namespace kestrel {

inline constexpr int graph_columns = 4;
inline constexpr int graph_rows = 4;
inline constexpr std::size_t graph_sectors = graph_columns * graph_rows;

namespace portal_id {
inline constexpr std::uint16_t west = 0;
inline constexpr std::uint16_t east = 1;
inline constexpr std::uint16_t north = 2;
inline constexpr std::uint16_t south = 3;
} // namespace portal_id

// Column and row wrap around.
std::uint64_t graph_sector_id(int column, int row);
int graph_column(std::uint64_t id);
int graph_row(std::uint64_t id);

std::uint64_t graph_sector_seed(std::uint64_t world_seed, std::uint64_t id);
std::vector<Portal> graph_portals(std::uint64_t world_seed, std::uint64_t id);

// All sectors, element i holding the sector with id i + 1.
std::vector<Sector> build_sector_graph(std::uint64_t world_seed);

// Where players enter a sector: free cells nearest the sector spawn (breadth first), none
// on a portal or next to one, so that nobody arrives standing in a portal. At most 8.
std::vector<std::uint16_t> spawn_cells(const Sector& sector);

// The player moved to the centre of the slot's spawn cell with no velocity. The centre is a
// multiple of 1/256 cell, so the commit carries the position without loss.
Player spawn_player(const Sector& sector, std::uint32_t slot, Player player);

// The portal whose cell holds the point, if any.
std::optional<Portal> portal_at(const Sector& sector, std::int32_t x, std::int32_t y);

} // namespace kestrel
