#include "server/game_crowd.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <vector>

#include "server/game_space.h"
#include "server/game_world.h"
#include "server/sector_graph.h"
#include "world/movement.h"

namespace kestrel {
namespace {

constexpr std::uint16_t shortest_stroll = 60; // ticks before a wanderer turns on its own
constexpr std::uint16_t stroll_spread = 90;
constexpr std::int32_t stuck_step = 2048; // moved less than 1/32 cell: a wall holds it

// Cells walkable from the spawn, without portals, their mouths, the arrival cells and the
// still shut secret room, so nobody finds a wanderer standing where they arrive.
std::vector<std::uint16_t> floor_cells(const Sector& sector) {
    const Grid grid = sector.collision(false);
    std::array<bool, cell_count> excluded{};
    for (const Portal& portal : sector.portals)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int c = portal.cell % sector_size + dx;
                const int r = portal.cell / sector_size + dy;
                if (c >= 0 && r >= 0 && c < sector_size && r < sector_size)
                    excluded[r * sector_size + c] = true;
            }
    for (const std::uint16_t cell : spawn_cells(sector)) excluded[cell] = true;

    std::array<bool, cell_count> seen{};
    const int start = (sector.spawn_y >> 8) * sector_size + (sector.spawn_x >> 8);
    std::deque<int> queue{start};
    seen[start] = true;
    std::vector<std::uint16_t> cells;
    while (!queue.empty()) {
        const int cell = queue.front();
        queue.pop_front();
        const bool secret = (sector.tiles.at(sector.cells[cell]).flags & Tile::secret) != 0;
        if (!excluded[cell] && !secret) cells.push_back(static_cast<std::uint16_t>(cell));
        const int column = cell % sector_size;
        const int next[4] = {column < sector_size - 1 ? cell + 1 : -1, column > 0 ? cell - 1 : -1,
                             cell + sector_size < cell_count ? cell + sector_size : -1,
                             cell >= sector_size ? cell - sector_size : -1};
        for (const int n : next) {
            if (n < 0 || grid[n] != 0 || seen[n]) continue;
            seen[n] = true;
            queue.push_back(n);
        }
    }
    return cells;
}

void new_heading(WorldState& world, Entity& wanderer) {
    const std::uint64_t roll = draw(world);
    wanderer.record.yaw = static_cast<std::uint16_t>(roll);
    wanderer.game.turn = static_cast<std::uint16_t>(shortest_stroll + (roll >> 16) % stroll_spread);
}

} // namespace

bool is_wanderer(const Entity& entity) {
    return entity.record.kind == entity_kind::player; // players themselves live elsewhere
}

void crowd_start(WorldState& world, std::uint32_t count, bool fallen) {
    if (count == 0) return;
    const std::vector<Sector> sectors = world.sectors;
    for (const Sector& sector : sectors) {
        const std::vector<std::uint16_t> cells = floor_cells(sector);
        if (cells.empty()) continue;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t roll = draw(world);
            const std::uint16_t cell = cells[roll % cells.size()];
            // Up to a quarter cell off the centre, so a shared cell does not stack them.
            const auto offset = [](std::uint64_t bits) {
                return static_cast<std::int32_t>(bits % (cell_unit / 2)) - cell_unit / 4;
            };
            Entity& wanderer = add_entity(
                world, sector.id, fallen ? fallen_kind : entity_kind::player, wanderer_type,
                centre_x(cell) + offset(roll >> 20), centre_y(cell) + offset(roll >> 40));
            wanderer.record.state = static_cast<std::uint16_t>(i % 5); // suit colour
            if (fallen) {
                wanderer.record.health = 0;
                wanderer.record.cooldown =
                    static_cast<std::uint16_t>(fallen_timer - i % fallen_timer);
                continue;
            }
            wanderer.record.health = wanderer_health;
            new_heading(world, wanderer);
        }
    }
}

void crowd_tick(WorldState& world) {
    std::vector<std::uint64_t> watched;
    for (const PlayerState& player : world.players)
        if (player.placed()) watched.push_back(player.sector);
    if (watched.empty()) return;
    for (Entity& entity : world.entities) {
        if (entity.record.kind == fallen_kind) { // nothing else in the world is of this kind
            entity.record.cooldown = entity.record.cooldown > 1
                                         ? static_cast<std::uint16_t>(entity.record.cooldown - 1)
                                         : fallen_timer;
            continue;
        }
        if (!is_wanderer(entity)) continue;
        if (std::find(watched.begin(), watched.end(), entity.sector) == watched.end()) continue;
        if ((world.tick + entity.record.id) % wanderer_pace != 0) continue;
        const Grid* walk = find_grid(world, entity.sector);
        if (walk == nullptr) continue;
        const std::int32_t x = entity.record.x;
        const std::int32_t y = entity.record.y;
        Input input;
        input.buttons = button::forward;
        input.yaw = entity.record.yaw;
        move(entity.record, input, *walk);
        const bool stuck =
            std::abs(entity.record.x - x) + std::abs(entity.record.y - y) < stuck_step;
        if (entity.game.turn <= wanderer_pace || stuck)
            new_heading(world, entity);
        else
            entity.game.turn = static_cast<std::uint16_t>(entity.game.turn - wanderer_pace);
    }
}

} // namespace kestrel
