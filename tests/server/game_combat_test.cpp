// Enemies, projectiles, player shots, death and respawn, with the test client playing the
// server core in simulated time.
#include <gtest/gtest.h>

#include "server/game_combat.h"
#include "server/game_events.h"
#include "server/sector_graph.h"
#include "tests/server/game_test_support.h"
#include "world/movement.h"

namespace kestrel::test {
namespace {

struct Arena {
    Simulation sim{rules_world(6, 0)};
    Simulation::Link* link = nullptr;
    Line line;

    explicit Arena(int room = 5) {
        link = &sim.add_client(test_profile(1));
        EXPECT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
        empty_sector(world(), me().sector);
        const auto open = open_line(world(), me(), room);
        EXPECT_TRUE(open.has_value());
        if (open) line = *open;
    }
    WorldState& world() { return sim.core.world; }
    PlayerState& me() { return sim.core.world.players.front(); }
    TestClient& client() { return sim.links[0].client; }
    const Entity* entity(std::uint32_t id) { return find_entity(world(), id); }
    double distance_to(std::uint32_t id) {
        const Entity* e = entity(id);
        return distance_cells(me().body.x, me().body.y, e->record.x, e->record.y);
    }
};

TEST(GameEnemies, DroneClosesInAndItsProjectilesFlyAtHalfACellAndHurt) {
    Arena arena;
    const std::uint32_t drone_id = place_enemy(arena.world(), arena.me(), arena.line, 5, drone);
    const double start = arena.distance_to(drone_id);
    bool projectile_seen = false;
    bool always_clear = true;
    const auto watch = [&](const TestClient& client) {
        if (client.last_snapshot)
            for (const ReplicatedEntity& e : client.last_snapshot->entities)
                if (e.kind == entity_kind::projectile) projectile_seen = e.height == 128;
        const Entity* e = arena.entity(drone_id);
        always_clear = always_clear &&
                       body_clear(*find_grid(arena.world(), e->sector), e->record.x, e->record.y);
        return std::pair<std::uint16_t, std::uint16_t>{0, 0};
    };
    ASSERT_TRUE(arena.sim.run_until(
        [&] { return !events_of(arena.client(), combat::damage).empty(); }, 400, watch));
    EXPECT_FALSE(arena.link->error);
    EXPECT_LT(arena.distance_to(drone_id), start - 1.5); // it came closer, to its keeping range
    EXPECT_TRUE(always_clear);
    EXPECT_TRUE(projectile_seen);
    const auto shots = events_of(arena.client(), combat::enemy_shot);
    ASSERT_FALSE(shots.empty());
    EXPECT_EQ(shots.front().subject, drone_id);
    const auto hurt = events_of(arena.client(), combat::damage);
    EXPECT_EQ(hurt.front().value, enemy_kind(drone).damage);
    EXPECT_EQ(hurt.front().subject, drone_id);
    EXPECT_EQ(arena.me().body.health, 100 - enemy_kind(drone).damage * hurt.size());
}

TEST(GameEnemies, StalkerStrikesInMelee) {
    Arena arena;
    const std::uint32_t id = place_enemy(arena.world(), arena.me(), arena.line, 5, stalker);
    ASSERT_TRUE(arena.sim.run_until(
        [&] { return !events_of(arena.client(), combat::damage).empty(); }, 300));
    EXPECT_LE(arena.distance_to(id), enemy_kind(stalker).reach);
    const auto strikes = events_of(arena.client(), combat::enemy_melee);
    ASSERT_FALSE(strikes.empty());
    EXPECT_EQ(strikes.front().subject, id);
    EXPECT_TRUE(events_of(arena.client(), combat::enemy_shot).empty()); // no projectiles
    EXPECT_EQ(events_of(arena.client(), combat::damage).front().value, 10);
}

TEST(GameEnemies, IdleEnemyOutOfSightStaysPut) {
    Arena arena(3);
    // Far beyond sight range: it never notices the player.
    WorldState& world = arena.world();
    const Entity& far =
        spawn_enemy(world, arena.me().sector, gunner, arena.me().body.x, arena.me().body.y, false);
    const std::uint32_t id = far.record.id;
    Entity* enemy = find_entity(world, id);
    const Grid grid = find_sector(world, enemy->sector)->collision(false);
    for (int cell = cell_count - 1; cell >= 0; --cell)
        if (grid[cell] == 0 && distance_cells(arena.me().body.x, arena.me().body.y, centre_x(cell),
                                              centre_y(cell)) > sight_range + 4) {
            enemy->record.x = centre_x(cell);
            enemy->record.y = centre_y(cell);
            break;
        }
    const std::int32_t x = enemy->record.x;
    arena.sim.run(60);
    EXPECT_EQ(find_entity(world, id)->record.x, x);
    EXPECT_EQ(find_entity(world, id)->game.target, 0u);
}

TEST(GameEnemies, ProjectileEndsAtTheFirstWall) {
    WorldState world = make_world(0x6B1F39A42);
    game_start(world, {1, 0});
    std::erase_if(world.entities, [](const Entity& e) { return e.record.kind == 2; });
    const Sector& sector = world.sectors[0];
    Entity shooter;
    shooter.sector = 1;
    shooter.record.id = 77;
    shooter.record.x = sector.spawn_x * 256;
    shooter.record.y = sector.spawn_y * 256;
    launch_projectile(world, shooter, 0, 10, projectile_speed);
    ASSERT_EQ(world.entities.back().record.kind, entity_kind::projectile);
    EXPECT_EQ(world.entities.back().record.height, 128);
    const std::uint32_t id = world.entities.back().record.id;
    const Grid sight = sector.collision(true);
    const double wall =
        ray_length(sight, shooter.record.x, shooter.record.y, 1.0, 0.0, 32.0) - 0.35;
    Outbox out;
    int ticks = 0;
    while (find_entity(world, id) != nullptr && ticks < 200) {
        projectiles_tick(world, out);
        ++ticks;
    }
    EXPECT_TRUE(out.empty()); // nobody hit
    // It flew its 0.2 cells a tick until the wall, long before its life ran out.
    EXPECT_GE(ticks, static_cast<int>(wall / 0.2));
    EXPECT_LE(ticks, static_cast<int>(wall / 0.2) + 2);
    EXPECT_LT(ticks, projectile_life);
}

TEST(GameCombat, PistolShotsHitAndTheThirdKills) {
    Arena arena;
    const std::uint32_t id = place_enemy(arena.world(), arena.me(), arena.line, 2, drone);
    ASSERT_TRUE(
        arena.sim.run_until([&] { return !events_of(arena.client(), combat::reward).empty(); }, 120,
                            aim_at(arena.sim, id, 0x10)));
    const auto hits = events_of(arena.client(), combat::hit);
    ASSERT_EQ(hits.size(), 3u); // 60 health, 20 a shot
    for (const auto& hit : hits) {
        EXPECT_EQ(hit.subject, id);
        EXPECT_EQ(hit.value, 20);
    }
    const auto reward = events_of(arena.client(), combat::reward);
    EXPECT_EQ(reward.front().subject, id);
    EXPECT_EQ(reward.front().value, enemy_kind(drone).salvage);
    EXPECT_EQ(events_of(arena.client(), combat::salvage).front().value, enemy_kind(drone).salvage);
    EXPECT_EQ(arena.me().game.carried, enemy_kind(drone).salvage);
    EXPECT_EQ(arena.me().game.kills, 1u);
    // Every shot cost a round; its shot event told the sector.
    const auto shots = events_of(arena.client(), combat::shot);
    EXPECT_EQ(arena.me().body.ammo, 100 - shots.size());

    // The corpse stays visible with its death timer running, then goes.
    const Entity* corpse = arena.entity(id);
    ASSERT_NE(corpse, nullptr);
    EXPECT_EQ(corpse->record.health, 0);
    EXPECT_GT(corpse->record.cooldown, 0);
    EXPECT_LE(corpse->record.cooldown, corpse_ticks);
    arena.sim.run(corpse_ticks);
    EXPECT_EQ(arena.entity(id), nullptr);
    EXPECT_FALSE(arena.link->error);
}

TEST(GameCombat, LauncherSplashesEveryEnemyNearTheImpact) {
    Arena arena;
    const std::uint32_t first = place_enemy(arena.world(), arena.me(), arena.line, 4, brute);
    const std::uint32_t second = place_enemy(arena.world(), arena.me(), arena.line, 5, brute);
    // 0x100 with the test client's weapon bit 0x80 selects weapon 3.
    ASSERT_TRUE(
        arena.sim.run_until([&] { return !events_of(arena.client(), combat::explosion).empty(); },
                            30, aim_at(arena.sim, first, 0x110)));
    EXPECT_EQ(arena.me().body.weapon, 3);
    EXPECT_EQ(arena.entity(first)->record.health, 250 - 70);
    EXPECT_EQ(arena.entity(second)->record.health, 250 - 70);
    EXPECT_EQ(arena.me().body.ammo, 95);
    EXPECT_EQ(events_of(arena.client(), combat::hit).size(), 2u);
}

// The trigger rules on a bare world: costs, waits, alternate fire, boosts and the reload.
struct Range {
    WorldState world = make_world(0x6B1F39A42);
    Outbox out;

    Range() {
        game_start(world, {0, 0});
        PlayerState player;
        player.id = 1;
        player.sector = 1;
        player.body = spawn_player(world.sectors[0], 0, Player{});
        player.body.id = 1;
        world.players.push_back(player);
    }
    PlayerState& me() { return world.players.front(); }
    // Ticks of held buttons; the number of shots fired.
    int hold(std::uint16_t buttons, int ticks) {
        int shots = 0;
        for (int i = 0; i < ticks; ++i) {
            Input input{static_cast<std::uint32_t>(i + 1), 0, buttons, me().body.yaw};
            move(me().body, input, *find_grid(world, 1));
            const std::size_t before = out.size();
            fire(world, me(), buttons, out);
            for (std::size_t k = before; k < out.size(); ++k) {
                Reader in(out[k].payload.bytes);
                if (CombatEvent::read(in).kind == combat::shot) ++shots;
            }
        }
        return shots;
    }
};

TEST(GameCombat, EachWeaponCostsAndWaitsAsTheClientExpects) {
    struct Case {
        std::uint16_t buttons;
        int shots;
        std::uint16_t ammo;
    };
    const Case cases[] = {
        {0x10 | 0x080, 5, 95}, // pistol: 1 round, 6 ticks
        {0x20 | 0x080, 3, 94}, // alternate: 2 rounds, 12 ticks
        {0x10 | 0x100, 2, 96}, // shotgun: 2 rounds, 24 ticks
        {0x20 | 0x100, 1, 96}, // shotgun alternate: 4 rounds, 48 ticks
        {0x10 | 0x180, 1, 95}, // launcher: 5 rounds, 30 ticks
        {0x10 | 0x200, 1, 70}, // landmine: 30 rounds, 45 ticks
        {0x20 | 0x200, 1, 70}, // the landmine has no alternate fire
    };
    for (const Case& c : cases) {
        Range range;
        EXPECT_EQ(range.hold(c.buttons, 30), c.shots) << c.buttons;
        EXPECT_EQ(range.me().body.ammo, c.ammo) << c.buttons;
    }
}

TEST(GameCombat, RapidFireHalvesTheWaitAndAnEmptyClipReloads) {
    Range range;
    range.me().body.boost = 1;
    range.me().body.boost_ticks = 900;
    EXPECT_EQ(range.hold(0x90, 30), 10);

    Range empty;
    empty.me().body.ammo = 0;
    EXPECT_EQ(empty.hold(0x90, 1), 0);
    EXPECT_EQ(empty.me().game.reload, reload_ticks);
    for (std::uint16_t i = 0; i < reload_ticks; ++i) players_tick(empty.world, empty.out);
    EXPECT_EQ(empty.me().body.ammo, clip_size);
    EXPECT_EQ(empty.me().game.reserve, 0); // the default reserve of 100 went into the clip
    EXPECT_EQ(empty.hold(0x90, 1), 1);
}

TEST(GameCombat, ShotgunPelletsAddUpToOneHitEvent) {
    Range range;
    range.world.players.front().body.yaw = 0;
    const auto open = open_line(range.world, range.me(), 3);
    ASSERT_TRUE(open);
    const std::uint32_t id = place_enemy(range.world, range.me(), *open, 2, brute);
    range.me().body.yaw =
        yaw_toward(range.me().body.x, range.me().body.y, find_entity(range.world, id)->record.x,
                   find_entity(range.world, id)->record.y);
    range.hold(0x110, 1);
    int hits = 0;
    for (const GameMessage& message : range.out) {
        Reader in(message.payload.bytes);
        const CombatEvent event = CombatEvent::read(in);
        if (event.kind != combat::hit) continue;
        ++hits;
        EXPECT_EQ(event.value, 250 - find_entity(range.world, id)->record.health);
        EXPECT_EQ(event.value % 10, 0);
        EXPECT_GE(event.value, 40); // most of six pellets at two cells
    }
    EXPECT_EQ(hits, 1);
}

TEST(GamePlayers, DeadPlayerStandsStillThenRespawnsAtTheSpawn) {
    Arena arena;
    arena.me().game.carried = 40;
    arena.me().body.health = 6;
    place_enemy(arena.world(), arena.me(), arena.line, 3, drone);
    const auto forward = [](const TestClient&) {
        return std::pair<std::uint16_t, std::uint16_t>{0x01, 0};
    };
    ASSERT_TRUE(arena.sim.run_until([&] { return arena.me().body.health == 0; }, 300));
    const Player fallen = arena.me().body;
    EXPECT_EQ(arena.me().game.carried, 20u); // half is lost
    EXPECT_EQ(events_of(arena.client(), combat::fallen).size(), 1u);
    arena.sim.run(30, forward);
    EXPECT_EQ(arena.me().body.x, fallen.x); // move holds a dead body
    EXPECT_EQ(arena.me().body.y, fallen.y);
    EXPECT_TRUE(events_of(arena.client(), combat::respawn).empty());
    ASSERT_TRUE(arena.sim.run_until(
        [&] { return !events_of(arena.client(), combat::respawn).empty(); }, 70));
    EXPECT_EQ(arena.me().body.health, 100);
    EXPECT_EQ(arena.me().body.ammo, clip_size);
    const Player spawn = spawn_player(*find_sector(arena.world(), arena.me().sector), 0, Player{});
    EXPECT_LE(distance_cells(arena.me().body.x, arena.me().body.y, spawn.x, spawn.y), 0.5);
    EXPECT_EQ(events_of(arena.client(), combat::respawn).front().subject, arena.me().id);
    // The client sees its player alive again and predicts from there.
    arena.sim.run(6);
    EXPECT_EQ(arena.client().prediction.predicted().health, 100);
    EXPECT_FALSE(arena.link->error);
}

TEST(GamePlayers, TeammateHoldingUseRevivesTheFallen) {
    Simulation sim(rules_world(6, 0));
    sim.add_client(test_profile(1));
    sim.add_client(test_profile(2));
    ASSERT_TRUE(sim.run_until([&] { return in_play(sim.links[0]) && in_play(sim.links[1]); }, 90));
    WorldState& world = sim.core.world;
    empty_sector(world, 1);
    PlayerState& helper = world.players[0];
    PlayerState& fallen = world.players[1];
    Outbox box;
    damage_player(world, fallen.id, 100, 0, box);
    sim.core.deliver(box);
    ASSERT_EQ(fallen.body.health, 0);
    helper.body.x = fallen.body.x;
    helper.body.y = fallen.body.y;
    std::uint16_t seen_revive = 0;
    const auto use = [&](const TestClient& client) {
        seen_revive = std::max(seen_revive, client.status.revive);
        return std::pair<std::uint16_t, std::uint16_t>{
            static_cast<std::uint16_t>(&client == &sim.links[0].client ? 0x800 : 0), 0};
    };
    ASSERT_TRUE(sim.run_until([&] { return fallen.body.health != 0; }, revive_ticks + 10, use));
    EXPECT_EQ(fallen.body.health, revive_health);
    EXPECT_GT(fallen.game.shield, revive_shield - 3);
    EXPECT_GT(seen_revive, 0);
    sim.run(3);
    EXPECT_FALSE(events_of(sim.links[1].client, combat::respawn).empty());
    EXPECT_FALSE(events_of(sim.links[0].client, combat::revived).empty());
    // Shielded: damage passes it by.
    damage_player(world, fallen.id, 30, 0, box);
    EXPECT_EQ(fallen.body.health, revive_health);
}

} // namespace
} // namespace kestrel::test
