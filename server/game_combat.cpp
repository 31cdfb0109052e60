#include "server/game_combat.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "server/game_enemies.h"
#include "server/game_events.h"
#include "server/game_space.h"
#include "server/game_world.h"
#include "server/sector_graph.h"

namespace kestrel {
namespace {

constexpr std::uint16_t fire_bit = 0x10;
constexpr std::uint16_t alt_fire_bit = 0x20;
constexpr double tau = 6.283185307179586;

CombatEvent event_at(std::uint32_t tick, std::uint8_t kind, std::uint32_t subject, std::int32_t x,
                     std::int32_t y, std::uint16_t value) {
    return {tick, subject, wire_coordinate(x), wire_coordinate(y), kind, value};
}

struct RayHit {
    std::uint32_t enemy = 0;
    double at = 0; // cells along the ray
};

// The first living enemy of the sector the ray meets before a wall.
std::optional<RayHit> first_enemy(const WorldState& world, std::uint64_t sector, const Grid& sight,
                                  std::int32_t x, std::int32_t y, double dx, double dy,
                                  double range) {
    const double wall = ray_length(sight, x, y, dx, dy, range);
    std::optional<RayHit> best;
    for (const Entity& entity : world.entities) {
        if (entity.sector != sector || entity.record.kind != entity_kind::enemy ||
            entity.record.health == 0)
            continue;
        const double radius = enemy_kind(entity.record.type).radius;
        const auto at = ray_hit(x, y, dx, dy, wall, entity.record.x, entity.record.y, radius);
        if (at && (!best || *at < best->at)) best = RayHit{entity.record.id, *at};
    }
    return best;
}

void explode(WorldState& world, std::uint64_t sector, std::int32_t x, std::int32_t y, double radius,
             std::uint16_t damage, std::uint32_t by, std::uint32_t subject, Outbox& out) {
    std::vector<std::uint32_t> caught;
    for (const Entity& entity : world.entities)
        if (entity.sector == sector && entity.record.kind == entity_kind::enemy &&
            entity.record.health != 0 &&
            distance_cells(x, y, entity.record.x, entity.record.y) <= radius)
            caught.push_back(entity.record.id);
    send_event(out, 0, sector, event_at(world.tick, combat::explosion, subject, x, y, 0));
    for (const std::uint32_t id : caught) damage_enemy(world, id, damage, by, out);
}

void lay_mine(WorldState& world, const PlayerState& player) {
    std::vector<std::uint32_t> mine_ids;
    for (const Entity& entity : world.entities)
        if (entity.record.kind == entity_kind::mine && entity.game.owner == player.id)
            mine_ids.push_back(entity.record.id);
    if (mine_ids.size() >= 3) remove_entity(world, mine_ids.front()); // the oldest goes
    Entity& mine =
        add_entity(world, player.sector, entity_kind::mine, 0, player.body.x, player.body.y);
    mine.record.state = 1; // arming
    mine.game.owner = player.id;
    mine.game.attack = 20;
    mine.game.life = 900;
    mine.game.damage = 120;
}

void push_back_enemy(WorldState& world, std::uint32_t id, double dx, double dy) {
    Entity* enemy = find_entity(world, id);
    if (enemy == nullptr || enemy->record.health == 0) return;
    const Grid& walk = *find_grid(world, enemy->sector);
    const auto x = static_cast<std::int32_t>(enemy->record.x + dx * cell_unit / 4);
    const auto y = static_cast<std::int32_t>(enemy->record.y + dy * cell_unit / 4);
    if (x >= coordinate_min && x <= coordinate_max && y >= coordinate_min && y <= coordinate_max &&
        body_clear(walk, x, y)) {
        enemy->record.x = x;
        enemy->record.y = y;
    }
}

void respawn(WorldState& world, PlayerState& player, Outbox& out) {
    const Sector& sector = *find_sector(world, player.sector);
    Player body = spawn_player(sector, player.slot, player.body);
    body.health = 100;
    body.ammo = clip_size;
    body.cooldown = 0;
    body.boost = 0;
    body.boost_ticks = 0;
    body.boost_value = 0;
    body.tick_event = false;
    player.body = body;
    player.game.reload = 0;
    player.game.reserve = std::max<std::uint16_t>(player.game.reserve, 50);
    send_event(out, player.id, player.sector,
               event_at(world.tick, combat::respawn, player.id, body.x, body.y, 0));
}

void fall(WorldState& world, PlayerState& player, Outbox& out) {
    PlayerGame& game = player.game;
    game.respawn_tick = world.tick + respawn_delay;
    game.reload = 0;
    game.banking = 0;
    game.carried /= 2;
    ++game.deaths;
    player.body.vx = 0;
    player.body.vy = 0;
    send_event(out, 0, player.sector,
               event_at(world.tick, combat::fallen, player.id, player.body.x, player.body.y, 0));
    if (game.carrying != 0) {
        // The artifact falls where its carrier did (a carrier never leaves the sector
        // still carrying: the portal delivers it).
        Entity& orb = add_entity(world, player.sector, entity_kind::artifact, 0, player.body.x,
                                 player.body.y);
        orb.record.state = 1;
        SectorGame& origin = sector_game(world, game.carrying);
        origin.objective_entity = orb.record.id;
        origin.carrier = 0;
        game.carrying = 0;
    }
}

} // namespace

const WeaponFigures& weapon_figures(std::uint16_t weapon) {
    static constexpr WeaponFigures figures[4] = {{1, 6}, {2, 24}, {5, 30}, {30, 45}};
    return figures[std::clamp<std::uint16_t>(weapon, 1, 4) - 1];
}

std::uint8_t colors_unlocked(const PlayerState& player) {
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(4, player.game.banked / 100));
}

void start_reload(PlayerState& player) {
    if (player.game.reload != 0 || player.body.health == 0) return;
    if (player.body.ammo >= clip_size || player.game.reserve == 0) return;
    player.game.reload = reload_ticks;
}

void fire(WorldState& world, PlayerState& player, std::uint16_t buttons, Outbox& out) {
    if ((buttons & (fire_bit | alt_fire_bit)) == 0) return;
    Player& body = player.body;
    if (body.health == 0 || player.game.reload != 0 || body.cooldown != 0) return;
    const std::uint16_t weapon = std::clamp<std::uint16_t>(body.weapon, 1, 4);
    const bool alt = (buttons & alt_fire_bit) != 0 && weapon != 4;
    const WeaponFigures& figures = weapon_figures(weapon);
    const auto cost = static_cast<std::uint16_t>(figures.cost * (alt ? 2 : 1));
    if (body.ammo < cost) return start_reload(player);
    body.ammo = static_cast<std::uint16_t>(body.ammo - cost);
    auto wait = static_cast<std::uint16_t>(figures.wait * (alt ? 2 : 1));
    if (body.boost == 1 && body.boost_ticks != 0) wait = static_cast<std::uint16_t>((wait + 1) / 2);
    body.cooldown = wait;

    const std::uint64_t sector = player.sector;
    send_event(out, 0, sector,
               event_at(world.tick, combat::shot, player.id, body.x, body.y, weapon));
    // A shot is heard: idle enemies near enough come looking, around walls too.
    for (Entity& entity : world.entities)
        if (entity.sector == sector && entity.record.kind == entity_kind::enemy &&
            entity.record.health != 0 && entity.game.target == 0 &&
            distance_cells(body.x, body.y, entity.record.x, entity.record.y) <= hearing_range)
            entity.game.target = player.id;
    const Grid sight = find_sector(world, sector)->collision(true);
    const std::uint8_t upgrades = player.game.upgrades;
    const std::uint32_t by = player.id;
    const std::int32_t x = body.x;
    const std::int32_t y = body.y;
    const auto [dx, dy] = heading(body.yaw);

    switch (weapon) {
    case 1: {
        auto damage = static_cast<std::uint16_t>(alt ? 45 : 20);
        if ((upgrades & upgrade::ricochet) != 0)
            damage = static_cast<std::uint16_t>(damage * 3 / 2);
        if (const auto hit = first_enemy(world, sector, sight, x, y, dx, dy, 20.0))
            damage_enemy(world, hit->enemy, damage, by, out);
        break;
    }
    case 2: {
        const int pellets = alt ? 10 : 6;
        const double spread = alt ? 0.2 : 0.12;
        const double base = body.yaw * tau / 65536.0;
        std::map<std::uint32_t, std::uint16_t> dealt; // per enemy, so one hit event each
        std::map<std::uint32_t, std::pair<double, double>> push;
        for (int i = 0; i < pellets; ++i) {
            const double angle = base + spread * (2.0 * i / (pellets - 1) - 1.0);
            const double px = std::cos(angle);
            const double py = std::sin(angle);
            if (const auto hit = first_enemy(world, sector, sight, x, y, px, py, 8.0)) {
                dealt[hit->enemy] = static_cast<std::uint16_t>(dealt[hit->enemy] + 10);
                push[hit->enemy] = {px, py};
            }
        }
        for (const auto& [enemy, damage] : dealt) {
            damage_enemy(world, enemy, damage, by, out);
            if ((upgrades & upgrade::knockback) != 0)
                push_back_enemy(world, enemy, push[enemy].first, push[enemy].second);
        }
        break;
    }
    case 3: {
        const auto hit = first_enemy(world, sector, sight, x, y, dx, dy, 20.0);
        // A rocket bursts on the body it meets, else just short of the wall.
        const double at = ray_length(sight, x, y, dx, dy, 20.0);
        auto ix = static_cast<std::int32_t>(x + dx * at * cell_unit);
        auto iy = static_cast<std::int32_t>(y + dy * at * cell_unit);
        if (hit) {
            const Entity& struck = *find_entity(world, hit->enemy);
            ix = struck.record.x;
            iy = struck.record.y;
        }
        double radius = alt ? 2.2 : 1.5;
        if ((upgrades & upgrade::cluster) != 0) radius += 1.0;
        explode(world, sector, ix, iy, radius, 70, by, by, out);
        break;
    }
    default:
        lay_mine(world, player);
        break;
    }
}

void damage_player(WorldState& world, std::uint32_t id, std::uint16_t amount, std::uint32_t source,
                   Outbox& out) {
    PlayerState* player = find_player(world, id);
    if (player == nullptr || !player->placed() || player->body.health == 0 || amount == 0) return;
    if (player->game.shield != 0) return;
    Player& body = player->body;
    if (body.boost == 4 && body.boost_value != 0) {
        const auto absorbed =
            std::min<std::uint16_t>(body.boost_value, static_cast<std::uint16_t>(amount * 2 / 3));
        body.boost_value = static_cast<std::uint16_t>(body.boost_value - absorbed);
        amount = static_cast<std::uint16_t>(amount - absorbed);
    }
    const std::uint16_t taken = std::min(amount, body.health);
    body.health = static_cast<std::uint16_t>(body.health - taken);
    send_event(out, id, player->sector,
               event_at(world.tick, combat::damage, source, body.x, body.y, taken));
    if (body.health == 0) fall(world, *player, out);
}

void damage_enemy(WorldState& world, std::uint32_t id, std::uint16_t amount, std::uint32_t by,
                  Outbox& out) {
    Entity* enemy = find_entity(world, id);
    if (enemy == nullptr || enemy->record.kind != entity_kind::enemy || enemy->record.health == 0)
        return;
    PlayerState* shooter = by != 0 ? find_player(world, by) : nullptr;
    if (shooter != nullptr && !shooter->game.crew.empty()) {
        Crew& crew = crew_of(world, shooter->game.crew);
        if (crew.team_shot) {
            amount = static_cast<std::uint16_t>(amount * 2);
            crew.team_shot = false;
        } else if (++crew.team_hits >= team_shot_hits) {
            crew.team_hits = 0;
            crew.team_shot = true;
        }
    }
    enemy = find_entity(world, id);
    ReplicatedEntity& record = enemy->record;
    const std::uint16_t dealt = std::min(amount, record.health);
    record.health = static_cast<std::uint16_t>(record.health - dealt);
    if (shooter != nullptr) {
        enemy->game.target = shooter->id; // a wounded enemy turns on its attacker
        send_event(out, shooter->id, enemy->sector,
                   event_at(world.tick, combat::hit, id, record.x, record.y, dealt));
    }
    if (record.health != 0) return;

    // Dead: it lies there for corpse_ticks (the drawing's timer), then it is gone.
    record.cooldown = corpse_ticks;
    record.vx = 0;
    record.vy = 0;
    enemy->game.killer = by;
    const std::uint64_t sector = enemy->sector;
    const std::uint16_t type = record.type;
    const std::uint16_t salvage = enemy_kind(type).salvage;
    if (shooter != nullptr) {
        ++shooter->game.kills;
        shooter->game.carried += salvage;
        send_event(out, shooter->id, sector,
                   event_at(world.tick, combat::reward, id, record.x, record.y, salvage));
        send_event(out, shooter->id, sector,
                   event_at(world.tick, combat::salvage, shooter->id, shooter->body.x,
                            shooter->body.y, salvage));
    }
    if (type == sentinel) {
        for (Crew& crew : world.game.crews)
            if (crew.state == 1 && crew.contract == 2 && crew.target_sector == sector)
                crew.progress = crew.goal;
    }
}

bool revive_hold(WorldState& world, const PlayerState& helper) {
    if (helper.body.health == 0) return false;
    for (const PlayerState& fallen : world.players) {
        if (fallen.id == helper.id || !fallen.placed() || fallen.sector != helper.sector ||
            fallen.body.health != 0)
            continue;
        if (distance_cells(helper.body.x, helper.body.y, fallen.body.x, fallen.body.y) > 1.5)
            continue;
        SectorGame& game = sector_game(world, helper.sector);
        if (game.revive_tick == world.tick) return true; // counted once per tick
        if (game.revive_target != fallen.id) game.revive = 0;
        game.revive_target = fallen.id;
        game.revive_tick = world.tick;
        game.revive = static_cast<std::uint16_t>(std::min<int>(game.revive + 1, revive_ticks));
        return true;
    }
    return false;
}

void players_tick(WorldState& world, Outbox& out) {
    for (PlayerState& player : world.players) {
        if (!player.placed()) continue;
        PlayerGame& game = player.game;
        if (game.shield != 0) --game.shield;
        if (game.reload != 0 && --game.reload == 0) {
            const auto moved = std::min<std::uint16_t>(
                static_cast<std::uint16_t>(clip_size - std::min(player.body.ammo, clip_size)),
                game.reserve);
            player.body.ammo = static_cast<std::uint16_t>(player.body.ammo + moved);
            game.reserve = static_cast<std::uint16_t>(game.reserve - moved);
        }
        if (player.body.health != 0) continue;

        SectorGame& sector = sector_game(world, player.sector);
        const bool held = sector.revive_target == player.id && sector.revive_tick == world.tick;
        if (held && sector.revive >= revive_ticks) {
            player.body.health = revive_health;
            game.shield = revive_shield;
            sector.revive = 0;
            sector.revive_target = 0;
            for (const PlayerState& other : world.players)
                if (other.placed() && other.sector == player.sector && other.id != player.id &&
                    !other.game.crew.empty() && other.game.crew == game.crew) {
                    ++crew_of(world, game.crew).run_revives;
                    break;
                }
            send_event(
                out, 0, player.sector,
                event_at(world.tick, combat::revived, player.id, player.body.x, player.body.y, 0));
            send_event(
                out, player.id, player.sector,
                event_at(world.tick, combat::respawn, player.id, player.body.x, player.body.y, 0));
            continue;
        }
        if (held) {
            game.respawn_tick = std::max(game.respawn_tick, world.tick + 1); // waits for the revive
            continue;
        }
        if (sector.revive_target == player.id) sector.revive = 0;
        if (static_cast<std::int32_t>(world.tick - game.respawn_tick) >= 0)
            respawn(world, player, out);
    }
}

void corpses_tick(WorldState& world) {
    std::vector<std::uint32_t> gone;
    for (Entity& entity : world.entities) {
        if (entity.record.kind != entity_kind::enemy || entity.record.health != 0) continue;
        if (entity.record.cooldown > 0) --entity.record.cooldown;
        if (entity.record.cooldown == 0) gone.push_back(entity.record.id);
    }
    for (const std::uint32_t id : gone) {
        const Entity& corpse = *find_entity(world, id);
        SectorGame& game = sector_game(world, corpse.sector);
        if (corpse.game.spawner != 0) game.spawners.at(corpse.game.spawner - 1).entity = 0;
        if (game.boss == id) game.boss = 0;
        remove_entity(world, id);
    }
}

void mines_tick(WorldState& world, Outbox& out) {
    struct Burst {
        std::uint32_t mine;
        std::uint64_t sector;
        std::int32_t x, y;
        std::uint32_t owner;
        std::uint16_t damage;
    };
    std::vector<Burst> bursts;
    std::vector<std::uint32_t> spent;
    for (Entity& mine : world.entities) {
        if (mine.record.kind != entity_kind::mine) continue;
        if (mine.game.life == 0 || --mine.game.life == 0) {
            spent.push_back(mine.record.id);
            continue;
        }
        if (mine.game.attack != 0) {
            if (--mine.game.attack == 0) mine.record.state = 2; // armed
            continue;
        }
        const PlayerState* owner = find_player(world, mine.game.owner);
        const double trigger =
            owner != nullptr && (owner->game.upgrades & upgrade::gravity) != 0 ? 2.0 : 1.0;
        for (const Entity& enemy : world.entities)
            if (enemy.sector == mine.sector && enemy.record.kind == entity_kind::enemy &&
                enemy.record.health != 0 &&
                distance_cells(mine.record.x, mine.record.y, enemy.record.x, enemy.record.y) <=
                    trigger) {
                bursts.push_back({mine.record.id, mine.sector, mine.record.x, mine.record.y,
                                  mine.game.owner, mine.game.damage});
                break;
            }
    }
    for (const std::uint32_t id : spent) remove_entity(world, id);
    for (const Burst& burst : bursts) {
        remove_entity(world, burst.mine);
        // The top bit of the subject asks for the big explosion sound.
        explode(world, burst.sector, burst.x, burst.y, 1.6, burst.damage, burst.owner,
                burst.mine | 0x80000000u, out);
    }
}

} // namespace kestrel
