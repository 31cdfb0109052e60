// Shared set-up of the game rule tests: a world with the rules switched on, a player in it,
// and enemies or items put exactly where a test wants them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "server/game_enemies.h"
#include "server/game_space.h"
#include "server/game_world.h"
#include "tests/server/simulation.h"

namespace kestrel::test {

inline ServerOptions rules_world(std::uint32_t enemies, std::uint32_t items) {
    ServerOptions options;
    options.enemies = enemies;
    options.items = items;
    return options;
}

inline bool in_play(const Simulation::Link& link) {
    return link.client.in_game() && link.client.snapshots > 0;
}

// Removes every enemy and projectile of the sector and its enemy spawners, so only what a
// test places fights.
inline void empty_sector(WorldState& world, std::uint64_t sector) {
    std::erase_if(world.entities, [sector](const Entity& e) {
        return e.sector == sector &&
               (e.record.kind == entity_kind::enemy || e.record.kind == entity_kind::projectile ||
                e.record.kind == entity_kind::pickup);
    });
    std::erase_if(sector_game(world, sector).spawners,
                  [](const Spawner& s) { return s.kind == entity_kind::enemy; });
    std::erase_if(sector_game(world, sector).spawners,
                  [](const Spawner& s) { return s.kind == entity_kind::pickup; });
}

struct Line {
    std::int32_t dx = 0; // unit step in cells
    std::int32_t dy = 0;
};

// A direction from the player's cell along which `cells` cells are free and in sight.
inline std::optional<Line> open_line(const WorldState& world, const PlayerState& player,
                                     int cells) {
    const Sector& sector = *find_sector(world, player.sector);
    const Grid walk = sector.collision(false);
    const Grid sight = sector.collision(true);
    const int column = player.body.x / cell_unit;
    const int row = player.body.y / cell_unit;
    const Line lines[4] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const Line& line : lines) {
        bool clear = true;
        for (int k = 1; k <= cells && clear; ++k) {
            const int c = column + line.dx * k;
            const int r = row + line.dy * k;
            clear = c > 0 && r > 0 && c < sector_size - 1 && r < sector_size - 1 &&
                    walk[r * sector_size + c] == 0 && sight[r * sector_size + c] == 0;
        }
        if (clear) return line;
    }
    return std::nullopt;
}

// The centre of the cell k cells along the line from the player's cell.
inline std::pair<std::int32_t, std::int32_t> along(const PlayerState& player, Line line, int k) {
    const int column = player.body.x / cell_unit + line.dx * k;
    const int row = player.body.y / cell_unit + line.dy * k;
    return {column * cell_unit + cell_unit / 2, row * cell_unit + cell_unit / 2};
}

inline std::uint32_t place_enemy(WorldState& world, const PlayerState& player, Line line, int k,
                                 std::uint16_t type) {
    const auto [x, y] = along(player, line, k);
    return spawn_enemy(world, player.sector, type, x, y, false).record.id;
}

inline std::uint32_t place_item(WorldState& world, const PlayerState& player, Line line, int k,
                                std::uint16_t type) {
    const auto [x, y] = along(player, line, k);
    return add_entity(world, player.sector, entity_kind::pickup, type, x, y).record.id;
}

inline std::vector<TestClient::SeenEvent> events_of(const TestClient& client, std::uint8_t kind) {
    std::vector<TestClient::SeenEvent> found;
    for (const auto& event : client.events)
        if (event.kind == kind) found.push_back(event);
    return found;
}

// Aims the player at an entity from the server's own positions and holds the buttons.
inline Simulation::Driver aim_at(Simulation& sim, std::uint32_t target, std::uint16_t buttons) {
    return [&sim, target, buttons](const TestClient& client) {
        const PlayerState& me = sim.core.world.players.front();
        const Entity* enemy = find_entity(sim.core.world, target);
        const std::uint16_t yaw =
            enemy ? yaw_toward(me.body.x, me.body.y, enemy->record.x, enemy->record.y)
                  : client.prediction.predicted().yaw;
        return std::pair<std::uint16_t, std::uint16_t>{buttons, yaw};
    };
}

} // namespace kestrel::test
