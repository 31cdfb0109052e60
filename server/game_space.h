// Geometry of the game rules on a sector's grids. Positions are 1/65536 cell like the
// bodies; distances are in cells. Sight and shots use the secondary grid (pillars and the
// secret door stop them as walls do); walking uses the primary grid through `move`.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "world/sector.h"

namespace kestrel {

inline constexpr std::int32_t cell_unit = 65536;

double distance_cells(std::int32_t ax, std::int32_t ay, std::int32_t bx, std::int32_t by);

// The centre of a cell, 1/65536 cell.
std::int32_t centre_x(std::uint16_t cell);
std::int32_t centre_y(std::uint16_t cell);

// The cell holding a point; empty outside the sector.
std::optional<std::uint16_t> cell_at(std::int32_t x, std::int32_t y);

// True when the point lies in a blocked cell or outside the sector.
bool blocked_at(const Grid& grid, std::int32_t x, std::int32_t y);

// True when no blocked cell lies on the straight line (sampled every 1/16 cell).
bool line_clear(const Grid& grid, std::int32_t ax, std::int32_t ay, std::int32_t bx,
                std::int32_t by);

// Unit vector of a heading (0 faces +x, 16384 faces +y).
std::pair<double, double> heading(std::uint16_t yaw);

// The heading from a toward b.
std::uint16_t yaw_toward(std::int32_t ax, std::int32_t ay, std::int32_t bx, std::int32_t by);

// How far a ray from (x, y) along the unit vector (dx, dy) runs before it enters a blocked
// cell, in cells, at most `range`.
double ray_length(const Grid& grid, std::int32_t x, std::int32_t y, double dx, double dy,
                  double range);

// Where a ray first passes within `radius` of the point (px, py), in cells along the ray;
// empty when it never does within `range`.
std::optional<double> ray_hit(std::int32_t x, std::int32_t y, double dx, double dy, double range,
                              std::int32_t px, std::int32_t py, double radius);

// The record wire carries 1/256 cell; 0..8191 for every point inside the sector.
std::uint16_t wire_coordinate(std::int32_t value);

} // namespace kestrel
