#include "server/game_sector.h"

#include <algorithm>

#include "server/game_combat.h"
#include "server/game_crew.h"
#include "server/game_events.h"
#include "server/game_space.h"
#include "server/game_world.h"
#include "world/generate.h"

namespace kestrel {
namespace {

constexpr std::uint8_t risk_ammo = 1;
constexpr std::uint8_t secret_door = 2; // palette index of the secret door tile

CombatEvent event_at(std::uint32_t tick, std::uint8_t kind, std::uint32_t subject, std::int32_t x,
                     std::int32_t y, std::uint16_t value) {
    return {tick, subject, wire_coordinate(x), wire_coordinate(y), kind, value};
}

void notify_pickup(const WorldState& world, Outbox& out, const PlayerState& player,
                   std::uint32_t subject, std::uint16_t value) {
    send_event(out, player.id, player.sector,
               event_at(world.tick, combat::pickup, subject, player.body.x, player.body.y, value));
}

// Applies a pickup; false when the player has no use for it (it stays).
bool take_pickup(WorldState& world, PlayerState& player, const Entity& item, Outbox& out) {
    Player& body = player.body;
    const Crew* crew = find_crew(world, player.game.crew);
    const bool scarce = crew != nullptr && crew->state == 1 && (crew->risks & risk_ammo) != 0;
    switch (item.record.type) {
    case pickup_type::health:
        if (body.health >= 100) return false;
        body.health = static_cast<std::uint16_t>(std::min(100, body.health + 25));
        notify_pickup(world, out, player, item.record.id, 0x0119);
        return true;
    case pickup_type::ammo: {
        if (player.game.reserve >= reserve_max) return false;
        const std::uint16_t amount = scarce ? 10 : 20;
        player.game.reserve =
            static_cast<std::uint16_t>(std::min<int>(reserve_max, player.game.reserve + amount));
        notify_pickup(world, out, player, item.record.id,
                      static_cast<std::uint16_t>(0x0200 | amount));
        return true;
    }
    default:
        body.boost = 3;
        body.boost_ticks = 300;
        body.boost_value = 0;
        notify_pickup(world, out, player, item.record.id, 0x0300);
        return true;
    }
}

void open_cache(WorldState& world, PlayerState& player, std::uint16_t choice, Outbox& out) {
    SectorGame& game = sector_game(world, player.sector);
    const std::uint32_t cache = game.cache_entity;
    Player& body = player.body;
    switch (choice) {
    case 1:
        body.health = static_cast<std::uint16_t>(std::min(100, body.health + 50));
        notify_pickup(world, out, player, cache, 0x0132);
        break;
    case 2:
        player.game.reserve =
            static_cast<std::uint16_t>(std::min<int>(reserve_max, player.game.reserve + 60));
        notify_pickup(world, out, player, cache, 0x023C);
        break;
    case 3:
        body.boost = 4;
        body.boost_value = 100;
        body.boost_ticks = 900;
        notify_pickup(world, out, player, cache, 0x0300);
        break;
    default:
        body.boost = 1;
        body.boost_value = 0;
        body.boost_ticks = 450;
        notify_pickup(world, out, player, cache, 0x0300);
        break;
    }
    remove_entity(world, cache);
    game.cache_entity = 0;
    game.cache_used = true;
    if (game.challenge == 3 && !game.ambushed) {
        game.ambushed = true;
        spawn_wave(world, player.sector); // the ambush
        sector_game(world, player.sector).cache_used = true;
    }
}

void complete_objective(WorldState& world, std::uint64_t sector, Outbox& out) {
    SectorGame& game = sector_game(world, sector);
    game.objective_done = true;
    game.progress = game.goal;
    if (Entity* entity = find_entity(world, game.objective_entity)) entity->record.state = 1;
    const std::int32_t x = centre_x(game.objective_cell);
    const std::int32_t y = centre_y(game.objective_cell);
    send_event(
        out, 0, sector,
        event_at(world.tick, combat::objective, game.objective_entity, x, y, objective_salvage));
    std::vector<std::string> crews;
    for (PlayerState& player : world.players) {
        if (!player.placed() || player.sector != sector) continue;
        player.game.carried += objective_salvage;
        ++player.game.total_objectives;
        if (std::find(crews.begin(), crews.end(), player.game.crew) == crews.end())
            crews.push_back(player.game.crew);
    }
    for (const std::string& code : crews) ++crew_of(world, code).run_objectives;
}

// The first secret door within reach of the player, opened.
bool open_secret(WorldState& world, PlayerState& player, Outbox& out) {
    const Sector& sector = *find_sector(world, player.sector);
    const auto here = cell_at(player.body.x, player.body.y);
    if (!here) return false;
    const int column = *here % sector_size;
    const int row = *here / sector_size;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int c = column + dx;
            const int r = row + dy;
            if (c < 0 || r < 0 || c >= sector_size || r >= sector_size) continue;
            const auto cell = static_cast<std::uint16_t>(r * sector_size + c);
            if (sector.cells[cell] != secret_door) continue;
            if (distance_cells(player.body.x, player.body.y, centre_x(cell), centre_y(cell)) > 1.5)
                continue;
            try {
                change_cell(world, player.sector, cell, 0, out);
            } catch (const std::exception&) {
                continue; // the sector would not stay valid; the door stays shut
            }
            SectorGame& game = sector_game(world, player.sector);
            game.secret_found = true;
            ++player.game.total_secrets;
            ++crew_of(world, player.game.crew).run_secrets;
            for (PlayerState& other : world.players)
                if (other.placed() && other.sector == player.sector)
                    other.game.carried += secret_salvage;
            send_event(out, 0, player.sector,
                       event_at(world.tick, combat::secret, player.id, centre_x(cell),
                                centre_y(cell), secret_salvage));
            return true;
        }
    return false;
}

void clear_wave(WorldState& world, std::uint64_t sector, Outbox& out) {
    SectorGame& game = sector_game(world, sector);
    game.cleared = true;
    game.sealed = false;
    game.reinforce_tick = world.tick + reinforce_delay;
    if (game.cache_entity == 0 && !game.cache_used) {
        Entity& cache = add_entity(world, sector, entity_kind::cache, 0, centre_x(game.cache_cell),
                                   centre_y(game.cache_cell));
        sector_game(world, sector).cache_entity = cache.record.id;
    }
    for (PlayerState& player : world.players)
        if (player.placed() && player.sector == sector && player.game.upgrade_credits < 4)
            ++player.game.upgrade_credits;
    wave_cleared(world, sector, out);
}

} // namespace

bool exit_open(const SectorGame& sector) {
    return sector.cleared || sector.objective_done;
}

void bank_salvage(WorldState& world, PlayerState& player, Outbox& out) {
    const std::uint32_t amount = player.game.carried;
    if (amount == 0) return;
    player.game.carried = 0;
    player.game.banked += amount;
    if (!player.game.crew.empty()) {
        Crew& crew = crew_of(world, player.game.crew);
        if (crew.state == 1) crew.run_bank += amount;
    }
    send_event(out, player.id, player.sector,
               event_at(world.tick, combat::banked, player.id, player.body.x, player.body.y,
                        static_cast<std::uint16_t>(std::min<std::uint32_t>(amount, 0xFFFF))));
}

void sector_tick(WorldState& world, std::uint64_t sector, Outbox& out) {
    SectorGame& game = sector_game(world, sector);
    // Pickups come back whether or not anybody is there.
    for (std::size_t i = 0; i < game.spawners.size(); ++i) {
        const Spawner spawner = game.spawners[i];
        if (spawner.kind != entity_kind::pickup || spawner.entity != 0 ||
            static_cast<std::int32_t>(world.tick - spawner.due) < 0)
            continue;
        Entity& item = add_entity(world, sector, entity_kind::pickup, spawner.type,
                                  centre_x(spawner.cell), centre_y(spawner.cell));
        item.game.spawner = static_cast<std::uint32_t>(i + 1);
        game.spawners[i].entity = item.record.id;
    }

    if (!occupied(world, sector)) {
        game.occupied_since = 0;
        game.sealed = false;
        return;
    }
    if (game.occupied_since == 0) game.occupied_since = world.tick;
    if (world.game.enemies == 0) return;

    if (!game.cleared && game.wave > 0 && living_enemies(world, sector) == 0)
        clear_wave(world, sector, out);
    SectorGame& now = sector_game(world, sector);
    if (now.cleared && static_cast<std::int32_t>(world.tick - now.reinforce_tick) >= 0) {
        spawn_wave(world, sector);
        sector_game(world, sector).occupied_since = world.tick; // the lockdown clock restarts
    }
    SectorGame& after = sector_game(world, sector);
    if (after.challenge == 1 && !after.cleared && !after.sealed &&
        world.tick - after.occupied_since >= lockdown_delay) {
        after.sealed = true;
        send_event(out, 0, sector, event_at(world.tick, combat::lockdown, 0, 0, 0, 0));
    }
    if (after.objective == 2 && !after.objective_done) {
        const std::int32_t x = centre_x(after.objective_cell);
        const std::int32_t y = centre_y(after.objective_cell);
        const bool guarded =
            std::any_of(world.players.begin(), world.players.end(), [&](const PlayerState& player) {
                return player.placed() && player.sector == sector && player.body.health != 0 &&
                       distance_cells(player.body.x, player.body.y, x, y) <= 2.5;
            });
        if (guarded) ++after.progress;
    }
    if (after.objective != 3 && !after.objective_done && after.goal != 0 &&
        after.progress >= after.goal)
        complete_objective(world, sector, out);
}

void touch_tick(WorldState& world, PlayerState& player, Outbox& out) {
    if (!player.placed() || player.body.health == 0) return;
    const std::uint64_t sector = player.sector;

    std::vector<std::uint32_t> taken;
    for (const Entity& item : world.entities) {
        if (item.sector != sector || item.record.kind != entity_kind::pickup) continue;
        if (distance_cells(player.body.x, player.body.y, item.record.x, item.record.y) > 0.6)
            continue;
        if (take_pickup(world, player, item, out)) taken.push_back(item.record.id);
    }
    for (const std::uint32_t id : taken) {
        const Entity& item = *find_entity(world, id);
        SectorGame& game = sector_game(world, sector);
        if (item.game.spawner != 0) {
            Spawner& spawner = game.spawners.at(item.game.spawner - 1);
            spawner.entity = 0;
            spawner.due = world.tick + pickup_return;
        }
        remove_entity(world, id);
    }

    const SectorGame& game = sector_game(world, sector);
    PlayerGame& mine = player.game;
    const bool on_pad = world.game.enemies > 0 && exit_open(game) &&
                        distance_cells(player.body.x, player.body.y, centre_x(game.exit_cell),
                                       centre_y(game.exit_cell)) <= 0.75;
    if (on_pad && mine.carried > 0) {
        if (++mine.banking >= bank_ticks) {
            mine.banking = 0;
            bank_salvage(world, player, out);
        }
    } else {
        mine.banking = 0;
    }

    const auto cell = cell_at(player.body.x, player.body.y);
    if (world.game.enemies > 0 && cell && hazard_cell(*find_sector(world, sector), *cell)) {
        if (++mine.hazard % 30 == 0) damage_player(world, player.id, 5, 0, out);
    } else {
        mine.hazard = 0;
    }
}

void use_and_choose(WorldState& world, PlayerState& player, std::uint16_t buttons, Outbox& out) {
    if (!player.placed() || player.body.health == 0) return;
    const std::uint16_t choice = (buttons >> 12) & 7;
    if (choice >= 1 && choice <= 4) {
        const SectorGame& game = sector_game(world, player.sector);
        const Entity* cache = find_entity(world, game.cache_entity);
        if (cache != nullptr &&
            distance_cells(player.body.x, player.body.y, cache->record.x, cache->record.y) <= 1.2)
            open_cache(world, player, choice, out);
    }
    if ((buttons & use_bit) == 0) return;
    if (open_secret(world, player, out)) return;
    if (player.game.use_tick == world.tick) return; // the hold counts once per tick
    player.game.use_tick = world.tick;
    if (revive_hold(world, player)) return;

    SectorGame& game = sector_game(world, player.sector);
    if (game.objective_done || world.game.enemies == 0) return;
    if (game.objective == 1 &&
        distance_cells(player.body.x, player.body.y, centre_x(game.objective_cell),
                       centre_y(game.objective_cell)) <= 1.5 &&
        game.progress_tick != world.tick) {
        game.progress_tick = world.tick;
        ++game.progress;
    } else if (game.objective == 3 && game.carrier == 0) {
        const Entity* orb = find_entity(world, game.objective_entity);
        if (orb != nullptr &&
            distance_cells(player.body.x, player.body.y, orb->record.x, orb->record.y) <= 1.0) {
            game.carrier = player.id;
            player.game.carrying = player.sector;
            remove_entity(world, game.objective_entity);
            game.objective_entity = 0;
        }
    }
}

void deliver_artifact(WorldState& world, PlayerState& player, Outbox& out) {
    const std::uint64_t origin = player.game.carrying;
    if (origin == 0 || origin == player.sector) return;
    SectorGame& game = sector_game(world, origin);
    game.carrier = 0;
    game.objective_done = true;
    game.progress = game.goal;
    player.game.carrying = 0;
    player.game.carried += objective_salvage;
    ++player.game.total_objectives;
    Crew& crew = crew_of(world, player.game.crew);
    ++crew.run_objectives;
    ++crew.run_artifacts;
    send_event(out, player.id, player.sector,
               event_at(world.tick, combat::objective, player.id, player.body.x, player.body.y,
                        objective_salvage));
}

void return_artifact(WorldState& world, PlayerState& player) {
    const std::uint64_t origin = player.game.carrying;
    if (origin == 0) return;
    player.game.carrying = 0;
    SectorGame& game = sector_game(world, origin);
    game.carrier = 0;
    Entity& orb = add_entity(world, origin, entity_kind::artifact, 0, centre_x(game.objective_cell),
                             centre_y(game.objective_cell));
    orb.record.state = 1;
    sector_game(world, origin).objective_entity = orb.record.id;
}

} // namespace kestrel
