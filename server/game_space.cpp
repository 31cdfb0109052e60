#include "server/game_space.h"

#include <algorithm>
#include <cmath>

namespace kestrel {
namespace {

constexpr double tau = 6.283185307179586;

double cells(std::int32_t value) {
    return static_cast<double>(value) / cell_unit;
}

} // namespace

double distance_cells(std::int32_t ax, std::int32_t ay, std::int32_t bx, std::int32_t by) {
    return std::hypot(cells(bx) - cells(ax), cells(by) - cells(ay));
}

std::int32_t centre_x(std::uint16_t cell) {
    return (cell % sector_size) * cell_unit + cell_unit / 2;
}

std::int32_t centre_y(std::uint16_t cell) {
    return (cell / sector_size) * cell_unit + cell_unit / 2;
}

std::optional<std::uint16_t> cell_at(std::int32_t x, std::int32_t y) {
    if (x < 0 || y < 0) return std::nullopt;
    const std::int32_t column = x / cell_unit;
    const std::int32_t row = y / cell_unit;
    if (column >= sector_size || row >= sector_size) return std::nullopt;
    return static_cast<std::uint16_t>(row * sector_size + column);
}

bool blocked_at(const Grid& grid, std::int32_t x, std::int32_t y) {
    const auto cell = cell_at(x, y);
    return !cell || grid[*cell] != 0;
}

bool line_clear(const Grid& grid, std::int32_t ax, std::int32_t ay, std::int32_t bx,
                std::int32_t by) {
    const double length = distance_cells(ax, ay, bx, by);
    const int samples = std::max(1, static_cast<int>(std::ceil(length * 16)));
    for (int i = 0; i <= samples; ++i) {
        const double t = static_cast<double>(i) / samples;
        const auto x = static_cast<std::int32_t>(ax + (bx - ax) * t);
        const auto y = static_cast<std::int32_t>(ay + (by - ay) * t);
        if (blocked_at(grid, x, y)) return false;
    }
    return true;
}

std::pair<double, double> heading(std::uint16_t yaw) {
    const double angle = yaw * tau / 65536.0;
    return {std::cos(angle), std::sin(angle)};
}

std::uint16_t yaw_toward(std::int32_t ax, std::int32_t ay, std::int32_t bx, std::int32_t by) {
    const double angle = std::atan2(cells(by) - cells(ay), cells(bx) - cells(ax));
    const auto turns = static_cast<std::int64_t>(std::lround(angle * 65536.0 / tau));
    return static_cast<std::uint16_t>(turns & 0xFFFF);
}

double ray_length(const Grid& grid, std::int32_t x, std::int32_t y, double dx, double dy,
                  double range) {
    constexpr double step = 1.0 / 16;
    for (double t = step; t <= range; t += step) {
        const auto px = static_cast<std::int32_t>(x + dx * t * cell_unit);
        const auto py = static_cast<std::int32_t>(y + dy * t * cell_unit);
        if (blocked_at(grid, px, py)) return t - step;
    }
    return range;
}

std::optional<double> ray_hit(std::int32_t x, std::int32_t y, double dx, double dy, double range,
                              std::int32_t px, std::int32_t py, double radius) {
    const double rx = cells(px) - cells(x);
    const double ry = cells(py) - cells(y);
    if (rx * rx + ry * ry <= radius * radius) return 0.0; // point blank
    const double along = rx * dx + ry * dy;
    if (along < 0) return std::nullopt;
    const double across_squared = rx * rx + ry * ry - along * along;
    if (across_squared > radius * radius) return std::nullopt;
    const double entry = along - std::sqrt(std::max(0.0, radius * radius - across_squared));
    const double at = std::max(0.0, entry);
    if (at > range) return std::nullopt;
    return at;
}

std::uint16_t wire_coordinate(std::int32_t value) {
    return static_cast<std::uint16_t>(std::clamp(value >> 8, 0, 8191));
}

} // namespace kestrel
