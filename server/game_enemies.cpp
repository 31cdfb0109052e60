#include "server/game_enemies.h"

#include <algorithm>

#include "server/game_combat.h"
#include "server/game_events.h"
#include "server/game_space.h"
#include "server/game_world.h"
#include "world/movement.h"

namespace kestrel {
namespace {

constexpr std::uint8_t risk_barrels = 2; // enemies hit a quarter harder
constexpr std::uint8_t risk_fast = 4;    // enemy projectiles fly half again as fast

struct Harm {
    std::uint32_t player;
    std::uint16_t amount;
    std::uint32_t source;
};

CombatEvent event_at(std::uint32_t tick, std::uint8_t kind, std::uint32_t subject, std::int32_t x,
                     std::int32_t y, std::uint16_t value) {
    return {tick, subject, wire_coordinate(x), wire_coordinate(y), kind, value};
}

// The risks of every active contract with a player in the sector.
std::uint8_t sector_risks(const WorldState& world, std::uint64_t sector) {
    std::uint8_t risks = 0;
    for (const PlayerState& player : world.players) {
        if (!player.placed() || player.sector != sector) continue;
        if (const Crew* crew = find_crew(world, player.game.crew); crew && crew->state == 1)
            risks |= crew->risks;
    }
    return risks;
}

// The nearest living player in the sector: within chase range once engaged, within sight
// (and seen) while idle.
PlayerState* choose_target(WorldState& world, const Entity& enemy, const Grid& sight) {
    PlayerState* best = nullptr;
    double nearest = 0;
    const bool engaged = enemy.game.target != 0;
    for (PlayerState& player : world.players) {
        if (!player.placed() || player.sector != enemy.sector || player.body.health == 0) continue;
        const double d =
            distance_cells(enemy.record.x, enemy.record.y, player.body.x, player.body.y);
        if (engaged ? d > chase_range
                    : d > sight_range || !line_clear(sight, enemy.record.x, enemy.record.y,
                                                     player.body.x, player.body.y))
            continue;
        if (best == nullptr || d < nearest) best = &player, nearest = d;
    }
    return best;
}

// One step along the grid toward the target, with the same movement rule as players.
void step_toward(ReplicatedEntity& body, const Player& target, const Grid& walk) {
    const auto here = cell_at(body.x, body.y);
    const auto there = cell_at(target.x, target.y);
    std::uint16_t yaw = yaw_toward(body.x, body.y, target.x, target.y);
    if (here && there && *here != *there)
        if (const auto route = navigation_yaw(walk, body.x, body.y, *there)) yaw = *route;
    Input input;
    input.buttons = button::forward;
    input.yaw = yaw;
    move(body, input, walk);
}

} // namespace

const EnemyKind& enemy_kind(std::uint16_t type) {
    //                         type     hp pace ranged keep reach dmg  int salv radius
    static const EnemyKind kinds[] = {
        {drone, 60, 2, true, 3.0, 7.0, 6, 45, 5, 0.4},
        {stalker, 80, 1, false, 0.0, 0.9, 10, 30, 8, 0.4},
        {gunner, 120, 2, true, 4.0, 9.0, 10, 60, 10, 0.45},
        {brute, 250, 2, false, 0.0, 1.1, 20, 45, 20, 0.55},
        {sentinel, 600, 3, true, 5.0, 12.0, 12, 90, 100, 0.6},
    };
    for (const EnemyKind& kind : kinds)
        if (kind.type == type) return kind;
    return kinds[0];
}

void launch_projectile(WorldState& world, const Entity& shooter, std::uint16_t yaw,
                       std::uint16_t damage, std::int32_t speed) {
    const auto [dx, dy] = heading(yaw);
    const Grid sight = find_sector(world, shooter.sector)->collision(true);
    auto x = static_cast<std::int32_t>(shooter.record.x + dx * 0.35 * cell_unit);
    auto y = static_cast<std::int32_t>(shooter.record.y + dy * 0.35 * cell_unit);
    if (blocked_at(sight, x, y)) x = shooter.record.x, y = shooter.record.y;
    const std::uint64_t sector = shooter.sector;
    const std::uint32_t owner = shooter.record.id;
    const std::uint16_t type = shooter.record.type;
    Entity& shot = add_entity(world, sector, entity_kind::projectile, type, x, y);
    shot.record.height = projectile_height;
    shot.record.yaw = yaw;
    shot.record.health = 1;
    shot.game.owner = owner;
    shot.game.damage = damage;
    shot.game.life = projectile_life;
    shot.game.step_x = static_cast<std::int32_t>(dx * speed);
    shot.game.step_y = static_cast<std::int32_t>(dy * speed);
    shot.record.vx = shot.game.step_x * 30;
    shot.record.vy = shot.game.step_y * 30;
}

void enemies_tick(WorldState& world, std::uint64_t sector, Outbox& out) {
    const Grid& walk = *find_grid(world, sector);
    const Grid sight = find_sector(world, sector)->collision(true);
    const std::uint8_t risks = sector_risks(world, sector);
    std::vector<Harm> harms;

    // Index by index: a shot appends to world.entities.
    for (std::size_t i = 0; i < world.entities.size(); ++i) {
        if (world.entities[i].sector != sector ||
            world.entities[i].record.kind != entity_kind::enemy ||
            world.entities[i].record.health == 0)
            continue;
        Entity& enemy = world.entities[i];
        const EnemyKind& kind = enemy_kind(enemy.record.type);
        if (enemy.game.attack > 0) --enemy.game.attack;
        PlayerState* target = choose_target(world, enemy, sight);
        if (target == nullptr) {
            enemy.game.target = 0;
            enemy.record.vx = enemy.record.vy = 0;
            continue;
        }
        enemy.game.target = target->id;
        const Player& aim = target->body;
        const double d = distance_cells(enemy.record.x, enemy.record.y, aim.x, aim.y);
        const bool seen = line_clear(sight, enemy.record.x, enemy.record.y, aim.x, aim.y);
        const bool hold = seen && d <= (kind.ranged ? kind.keep : kind.reach * 0.8);
        if (!hold && world.tick % kind.pace == 0) {
            step_toward(enemy.record, aim, walk);
        } else {
            enemy.record.vx = enemy.record.vy = 0;
            if (seen) enemy.record.yaw = yaw_toward(enemy.record.x, enemy.record.y, aim.x, aim.y);
        }

        auto damage = kind.damage;
        if ((risks & risk_barrels) != 0) damage = static_cast<std::uint16_t>(damage * 5 / 4);
        const std::int32_t speed =
            (risks & risk_fast) != 0 ? projectile_speed * 3 / 2 : projectile_speed;
        const std::uint16_t toward = yaw_toward(enemy.record.x, enemy.record.y, aim.x, aim.y);

        if (enemy.record.type == sentinel) {
            // A volley every interval, announced volley_warning ticks ahead; fans and rings
            // take turns (the record's state says which comes next).
            if (enemy.record.state == 0) enemy.record.state = 1;
            if (enemy.game.attack == volley_warning)
                send_event(out, 0, sector,
                           event_at(world.tick, combat::boss_attack, enemy.record.id,
                                    enemy.record.x, enemy.record.y, enemy.record.state));
            if (enemy.game.attack != 0 || d > kind.reach) continue;
            enemy.game.attack = kind.interval;
            const bool fan = enemy.record.state == 1;
            enemy.record.state = fan ? 2 : 1;
            const Entity shooter = enemy;
            send_event(out, 0, sector,
                       event_at(world.tick, combat::enemy_shot, shooter.record.id, shooter.record.x,
                                shooter.record.y, 0));
            for (int k = 0; k < (fan ? 5 : 8); ++k) {
                const auto yaw =
                    static_cast<std::uint16_t>(fan ? toward + (k - 2) * 2731 : toward + k * 8192);
                launch_projectile(world, shooter, yaw, damage, speed);
            }
            continue;
        }

        if (enemy.game.attack != 0 || !seen || d > kind.reach) continue;
        enemy.game.attack = kind.interval;
        const Entity shooter = enemy;
        if (kind.ranged) {
            send_event(out, 0, sector,
                       event_at(world.tick, combat::enemy_shot, shooter.record.id, shooter.record.x,
                                shooter.record.y, 0));
            launch_projectile(world, shooter, toward, damage, speed);
        } else {
            send_event(out, 0, sector,
                       event_at(world.tick, combat::enemy_melee, shooter.record.id,
                                shooter.record.x, shooter.record.y, 0));
            harms.push_back({target->id, damage, shooter.record.id});
        }
    }
    for (const Harm& harm : harms) damage_player(world, harm.player, harm.amount, harm.source, out);
}

void projectiles_tick(WorldState& world, Outbox& out) {
    std::vector<Harm> harms;
    std::vector<std::uint32_t> spent;
    std::vector<std::pair<std::uint64_t, Grid>> sights; // per sector, made when first needed
    const auto sight_of = [&](std::uint64_t sector) -> const Grid& {
        for (const auto& [id, grid] : sights)
            if (id == sector) return grid;
        sights.emplace_back(sector, find_sector(world, sector)->collision(true));
        return sights.back().second;
    };
    for (Entity& shot : world.entities) {
        if (shot.record.kind != entity_kind::projectile) continue;
        if (shot.game.life == 0 || --shot.game.life == 0) {
            spent.push_back(shot.record.id);
            continue;
        }
        const Grid& sight = sight_of(shot.sector);
        // Two half steps, so nothing slips between the samples.
        for (int half = 0; half < 2; ++half) {
            shot.record.x += shot.game.step_x / 2;
            shot.record.y += shot.game.step_y / 2;
            if (blocked_at(sight, shot.record.x, shot.record.y)) {
                spent.push_back(shot.record.id);
                break;
            }
            const PlayerState* victim = nullptr;
            for (const PlayerState& player : world.players)
                if (player.placed() && player.sector == shot.sector && player.body.health != 0 &&
                    distance_cells(shot.record.x, shot.record.y, player.body.x, player.body.y) <=
                        projectile_radius) {
                    victim = &player;
                    break;
                }
            if (victim != nullptr) {
                harms.push_back({victim->id, shot.game.damage, shot.game.owner});
                spent.push_back(shot.record.id);
                break;
            }
        }
    }
    for (const std::uint32_t id : spent) remove_entity(world, id);
    for (const Harm& harm : harms) damage_player(world, harm.player, harm.amount, harm.source, out);
}

} // namespace kestrel
