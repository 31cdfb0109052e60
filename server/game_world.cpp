#include "server/game_world.h"

#include <algorithm>
#include <cstdlib>
#include <deque>

#include "server/game_enemies.h"
#include "server/game_space.h"
#include "server/sector_graph.h"

namespace kestrel {
namespace {

struct Candidate {
    std::uint16_t cell = 0;
    int steps = 0; // walking distance from the spawn cell, in cells
};

// Cells a player can walk to from the spawn: no secret room (it is shut until its door is
// found), no portal or portal mouth, none of the arrival cells.
std::vector<Candidate> open_cells(const Sector& sector) {
    const Grid grid = sector.collision(false);
    std::array<bool, cell_count> excluded{};
    for (const Portal& portal : sector.portals) {
        const int column = portal.cell % sector_size;
        const int row = portal.cell / sector_size;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int c = column + dx;
                const int r = row + dy;
                if (c >= 0 && r >= 0 && c < sector_size && r < sector_size)
                    excluded[r * sector_size + c] = true;
            }
    }
    for (const std::uint16_t cell : spawn_cells(sector)) excluded[cell] = true;

    std::array<int, cell_count> steps;
    steps.fill(-1);
    const int start = (sector.spawn_y >> 8) * sector_size + (sector.spawn_x >> 8);
    std::deque<int> queue{start};
    steps[start] = 0;
    std::vector<Candidate> cells;
    while (!queue.empty()) {
        const int cell = queue.front();
        queue.pop_front();
        const bool secret = (sector.tiles.at(sector.cells[cell]).flags & Tile::secret) != 0;
        if (!excluded[cell] && !secret)
            cells.push_back({static_cast<std::uint16_t>(cell), steps[cell]});
        const int column = cell % sector_size;
        const int next[4] = {column < sector_size - 1 ? cell + 1 : -1, column > 0 ? cell - 1 : -1,
                             cell + sector_size < cell_count ? cell + sector_size : -1,
                             cell >= sector_size ? cell - sector_size : -1};
        for (const int n : next) {
            if (n < 0 || grid[n] != 0 || steps[n] >= 0) continue;
            steps[n] = steps[cell] + 1;
            queue.push_back(n);
        }
    }
    return cells;
}

// Takes a random cell among those at least `min_steps` away (fewer if there are none),
// without putting it back.
std::uint16_t take_cell(WorldState& world, std::vector<Candidate>& cells, int min_steps) {
    std::vector<std::size_t> choice;
    for (int limit = min_steps; choice.empty() && limit >= 0; limit -= 2)
        for (std::size_t i = 0; i < cells.size(); ++i)
            if (cells[i].steps >= limit) choice.push_back(i);
    if (choice.empty()) return 0;
    const std::size_t index = choice[draw(world) % choice.size()];
    const std::uint16_t cell = cells[index].cell;
    cells.erase(cells.begin() + static_cast<std::ptrdiff_t>(index));
    return cell;
}

std::uint16_t enemy_type(WorldState& world, std::uint8_t challenge, std::uint32_t index) {
    if (challenge == 2 && index == 0) return brute; // the roaming boss
    if (challenge == 4) return draw(world) % 2 == 0 ? drone : gunner;
    if (index % 6 == 5) return brute;
    static constexpr std::uint16_t pool[4] = {drone, drone, stalker, gunner};
    return pool[draw(world) % 4];
}

Entity& place(WorldState& world, std::uint64_t sector, std::uint8_t kind, std::uint16_t type,
              std::uint16_t cell) {
    return add_entity(world, sector, kind, type, centre_x(cell), centre_y(cell));
}

void lay_out(WorldState& world, const Sector& sector) {
    SectorGame& game = sector_game(world, sector.id);
    game.challenge = sector_challenge(sector.id);
    std::vector<Candidate> cells = open_cells(sector);
    if (cells.empty()) return;
    const GameState& settings = world.game;

    if (settings.enemies > 0) {
        game.objective = sector_objective(sector);
        game.objective_cell = take_cell(world, cells, 10);
        // The exit pad waits a few steps from the arrival cells.
        const auto exit = std::find_if(cells.begin(), cells.end(),
                                       [](const Candidate& c) { return c.steps >= 2; });
        game.exit_cell = exit != cells.end() ? exit->cell : cells.front().cell;
        if (exit != cells.end()) cells.erase(exit);
        // The reward cache appears in the open nearest the middle of the sector.
        const auto middle = std::min_element(cells.begin(), cells.end(),
                                             [](const Candidate& a, const Candidate& b) {
                                                 const auto d = [](std::uint16_t cell) {
                                                     const int dx = cell % sector_size - 16;
                                                     const int dy = cell / sector_size - 16;
                                                     return dx * dx + dy * dy;
                                                 };
                                                 return d(a.cell) < d(b.cell);
                                             });
        game.cache_cell = middle->cell;
        cells.erase(middle);

        static constexpr std::uint8_t objective_kinds[4] = {
            0, entity_kind::generator, entity_kind::relay, entity_kind::artifact};
        Entity& objective =
            place(world, sector.id, objective_kinds[game.objective], 0, game.objective_cell);
        objective.record.state = game.objective == 3 ? 1 : 0;
        game.objective_entity = objective.record.id;
        game.goal = game.objective == 1 ? 90 : game.objective == 2 ? 300 : 1;
        place(world, sector.id, entity_kind::exit_pad, 0, game.exit_cell);

        for (std::uint32_t i = 0; i < settings.enemies && !cells.empty(); ++i) {
            Spawner spawner;
            spawner.kind = entity_kind::enemy;
            spawner.type = enemy_type(world, game.challenge, i);
            spawner.elite = game.challenge == 5 || (game.challenge == 2 && i == 0);
            spawner.cell = take_cell(world, cells, 6);
            game.spawners.push_back(spawner);
        }
        spawn_wave(world, sector.id);
    }

    static constexpr std::uint16_t pickup_types[3] = {pickup_type::health, pickup_type::ammo,
                                                      pickup_type::power};
    for (std::uint32_t i = 0; i < settings.items && !cells.empty(); ++i) {
        Spawner spawner;
        spawner.kind = entity_kind::pickup;
        spawner.type = pickup_types[i % 3];
        spawner.cell = take_cell(world, cells, 3);
        Entity& item = place(world, sector.id, entity_kind::pickup, spawner.type, spawner.cell);
        SectorGame& again = sector_game(world, sector.id);
        item.game.spawner = static_cast<std::uint32_t>(again.spawners.size() + 1);
        spawner.entity = item.record.id;
        again.spawners.push_back(spawner);
    }
}

} // namespace

std::uint64_t draw(WorldState& world) {
    world.game.random += 0x9E3779B97F4A7C15;
    return mix64(world.game.random);
}

Entity* find_entity(WorldState& world, std::uint32_t id) {
    for (Entity& entity : world.entities)
        if (entity.record.id == id) return &entity;
    return nullptr;
}

const Entity* find_entity(const WorldState& world, std::uint32_t id) {
    for (const Entity& entity : world.entities)
        if (entity.record.id == id) return &entity;
    return nullptr;
}

Entity& add_entity(WorldState& world, std::uint64_t sector, std::uint8_t kind, std::uint16_t type,
                   std::int32_t x, std::int32_t y) {
    Entity entity;
    entity.sector = sector;
    entity.record.id = allocate_entity_id(world);
    entity.record.x = x;
    entity.record.y = y;
    entity.record.kind = kind;
    entity.record.type = type;
    entity.record.flags = 1;
    world.entities.push_back(entity);
    return world.entities.back();
}

void remove_entity(WorldState& world, std::uint32_t id) {
    std::erase_if(world.entities, [id](const Entity& e) { return e.record.id == id; });
}

SectorGame& sector_game(WorldState& world, std::uint64_t sector) {
    return world.game.sectors.at(sector - 1);
}

const SectorGame& sector_game(const WorldState& world, std::uint64_t sector) {
    return world.game.sectors.at(sector - 1);
}

std::uint8_t sector_challenge(std::uint64_t id) {
    if (id == 1) return 0;
    const std::uint64_t h = mix64(id);
    if (h % 20 == 0) return 5;
    if (h % 5 == 0) return static_cast<std::uint8_t>(1 + (h / 20) % 4);
    return 0;
}

std::uint8_t sector_objective(const Sector& sector) {
    return static_cast<std::uint8_t>(1 + mix64(sector.seed ^ 0x0B1EC7) % 3);
}

bool occupied(const WorldState& world, std::uint64_t sector) {
    return std::any_of(world.players.begin(), world.players.end(),
                       [sector](const PlayerState& p) { return p.placed() && p.sector == sector; });
}

std::uint16_t living_enemies(const WorldState& world, std::uint64_t sector) {
    std::uint16_t count = 0;
    for (const Entity& entity : world.entities)
        if (entity.sector == sector && entity.record.kind == entity_kind::enemy &&
            entity.record.health != 0)
            ++count;
    return count;
}

void populate(WorldState& world, const GameSettings& settings) {
    world.game.enemies = settings.enemies;
    world.game.items = settings.items;
    world.game.random = mix64(world.seed ^ 0x6A3E5EED);
    world.game.sectors.assign(world.sectors.size(), SectorGame{});
    const std::vector<Sector> sectors = world.sectors;
    for (const Sector& sector : sectors) lay_out(world, sector);
}

Entity& spawn_enemy(WorldState& world, std::uint64_t sector, std::uint16_t type, std::int32_t x,
                    std::int32_t y, bool elite) {
    const EnemyKind& kind = enemy_kind(type);
    const std::uint64_t roll = draw(world);
    Entity& enemy = add_entity(world, sector, entity_kind::enemy, type, x, y);
    enemy.record.health = elite ? static_cast<std::uint16_t>(kind.health * 3 / 2) : kind.health;
    enemy.record.flags = elite ? 5 : 1; // bit 2: drawn marked
    enemy.record.yaw = static_cast<std::uint16_t>(roll);
    enemy.game.elite = elite;
    enemy.game.attack =
        static_cast<std::uint16_t>(kind.interval / 2 + (roll >> 16) % kind.interval);
    return enemy;
}

void spawn_wave(WorldState& world, std::uint64_t sector) {
    SectorGame& game = sector_game(world, sector);
    for (std::size_t i = 0; i < game.spawners.size(); ++i) {
        Spawner spawner = game.spawners[i];
        if (spawner.kind != entity_kind::enemy) continue;
        if (const Entity* current = find_entity(world, spawner.entity)) {
            if (current->record.health != 0) continue;
            remove_entity(world, spawner.entity); // a corpse gives way to the new wave
        }
        Entity& enemy = spawn_enemy(world, sector, spawner.type, centre_x(spawner.cell),
                                    centre_y(spawner.cell), spawner.elite);
        enemy.game.spawner = static_cast<std::uint32_t>(i + 1);
        sector_game(world, sector).spawners[i].entity = enemy.record.id;
    }
    SectorGame& after = sector_game(world, sector);
    after.wave += 1;
    after.cleared = false;
    after.cache_used = false;
    if (after.cache_entity != 0) remove_entity(world, after.cache_entity);
    after.cache_entity = 0;
}

Crew& crew_of(WorldState& world, const std::string& code) {
    for (Crew& crew : world.game.crews)
        if (crew.code == code) return crew;
    Crew crew;
    crew.code = code;
    world.game.crews.push_back(crew);
    return world.game.crews.back();
}

const Crew* find_crew(const WorldState& world, const std::string& code) {
    for (const Crew& crew : world.game.crews)
        if (crew.code == code) return &crew;
    return nullptr;
}

} // namespace kestrel
