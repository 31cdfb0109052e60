#include "server/sector_graph.h"

#include <algorithm>
#include <array>
#include <deque>

#include "world/generate.h"

namespace kestrel {
namespace {

constexpr std::uint16_t cell_at(int column, int row) {
    return static_cast<std::uint16_t>(row * sector_size + column);
}

int wrap(int value, int size) {
    return ((value % size) + size) % size;
}

Portal link(std::uint64_t world_seed, std::uint16_t id, std::uint16_t cell, int column, int row,
            std::uint16_t arrival) {
    Portal portal;
    portal.id = id;
    portal.cell = cell;
    portal.target = graph_sector_id(column, row);
    portal.target_portal = arrival;
    portal.link_flags = 1;
    portal.target_seed = graph_sector_seed(world_seed, portal.target);
    return portal;
}

} // namespace

std::uint64_t graph_sector_id(int column, int row) {
    return 1 + static_cast<std::uint64_t>(wrap(row, graph_rows) * graph_columns +
                                          wrap(column, graph_columns));
}

int graph_column(std::uint64_t id) {
    return static_cast<int>((id - 1) % graph_columns);
}

int graph_row(std::uint64_t id) {
    return static_cast<int>((id - 1) / graph_columns % graph_rows);
}

std::uint64_t graph_sector_seed(std::uint64_t world_seed, std::uint64_t id) {
    return mix64(world_seed ^ mix64(id));
}

std::vector<Portal> graph_portals(std::uint64_t world_seed, std::uint64_t id) {
    const int column = graph_column(id);
    const int row = graph_row(id);
    // The generator carves a corridor along row 3 and then down the portal's column, so
    // portal 1 sits below row 3 where the corridor to portal 2 never passes through it.
    const std::uint64_t r = mix64(graph_sector_seed(world_seed, id) + 0x5EC7);
    const std::uint16_t east =
        cell_at(8 + static_cast<int>(r & 1), 4 + static_cast<int>(r >> 1 & 1));
    const std::uint16_t west = cell_at(1, 10 + static_cast<int>((r >> 8) % 6));
    const std::uint16_t north = cell_at(14 + static_cast<int>((r >> 16) % 8), 1);
    const std::uint16_t south = cell_at(5 + static_cast<int>((r >> 24) % 3), 29);
    return {
        link(world_seed, portal_id::west, west, column - 1, row, portal_id::east),
        link(world_seed, portal_id::east, east, column + 1, row, portal_id::west),
        link(world_seed, portal_id::north, north, column, row - 1, portal_id::south),
        link(world_seed, portal_id::south, south, column, row + 1, portal_id::north),
    };
}

std::vector<Sector> build_sector_graph(std::uint64_t world_seed) {
    std::vector<Sector> sectors;
    sectors.reserve(graph_sectors);
    for (std::uint64_t id = 1; id <= graph_sectors; ++id)
        sectors.push_back(kestrel::generate(id, graph_sector_seed(world_seed, id),
                                            graph_portals(world_seed, id)));
    return sectors;
}

std::vector<std::uint16_t> spawn_cells(const Sector& sector) {
    const Grid grid = sector.collision(false);
    std::array<bool, cell_count> near_portal{};
    for (const Portal& portal : sector.portals) {
        const int column = portal.cell % sector_size;
        const int row = portal.cell / sector_size;
        near_portal[portal.cell] = true;
        if (column > 0) near_portal[portal.cell - 1] = true;
        if (column < sector_size - 1) near_portal[portal.cell + 1] = true;
        if (row > 0) near_portal[portal.cell - sector_size] = true;
        if (row < sector_size - 1) near_portal[portal.cell + sector_size] = true;
    }

    std::vector<std::uint16_t> cells;
    std::array<bool, cell_count> seen{};
    std::deque<int> queue;
    const int start = (sector.spawn_y >> 8) * sector_size + (sector.spawn_x >> 8);
    seen[start] = true;
    queue.push_back(start);
    while (!queue.empty() && cells.size() < 8) {
        const int cell = queue.front();
        queue.pop_front();
        if (grid[cell] == 0 && !near_portal[cell])
            cells.push_back(static_cast<std::uint16_t>(cell));
        const int column = cell % sector_size;
        const int row = cell / sector_size;
        const int neighbours[4] = {
            column < sector_size - 1 ? cell + 1 : -1, column > 0 ? cell - 1 : -1,
            row < sector_size - 1 ? cell + sector_size : -1, row > 0 ? cell - sector_size : -1};
        for (const int next : neighbours) {
            if (next < 0 || seen[next] || grid[next] != 0) continue;
            seen[next] = true;
            queue.push_back(next);
        }
    }
    return cells;
}

Player spawn_player(const Sector& sector, std::uint32_t slot, Player player) {
    const std::vector<std::uint16_t> cells = spawn_cells(sector);
    // A valid sector's spawn cell is free, and it is never next to a portal in this graph;
    // should a sector ever lack candidates, its own spawn point is still a legal position.
    std::int32_t x = sector.spawn_x * 256;
    std::int32_t y = sector.spawn_y * 256;
    if (!cells.empty()) {
        const std::uint16_t cell = cells[slot % cells.size()];
        x = (cell % sector_size) * 65536 + 32768;
        y = (cell / sector_size) * 65536 + 32768;
    }
    player.x = x;
    player.y = y;
    player.vx = 0;
    player.vy = 0;
    return player;
}

std::optional<Portal> portal_at(const Sector& sector, std::int32_t x, std::int32_t y) {
    if (x < 0 || y < 0) return std::nullopt;
    const std::int32_t column = x >> 16;
    const std::int32_t row = y >> 16;
    if (column >= sector_size || row >= sector_size) return std::nullopt;
    const auto cell = static_cast<std::uint16_t>(row * sector_size + column);
    const auto found = std::find_if(sector.portals.begin(), sector.portals.end(),
                                    [cell](const Portal& portal) { return portal.cell == cell; });
    if (found == sector.portals.end()) return std::nullopt;
    return *found;
}

} // namespace kestrel
