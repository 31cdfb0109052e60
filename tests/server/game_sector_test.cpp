// Pickups, the reward cache, waves, objectives and banking, played by the test client.
#include <gtest/gtest.h>

#include "server/game_combat.h"
#include "server/game_events.h"
#include "server/game_sector.h"
#include "tests/server/game_test_support.h"

namespace kestrel::test {
namespace {

struct Room {
    Simulation sim;
    Line line;

    explicit Room(std::uint32_t enemies = 6, std::uint32_t items = 3)
        : sim(rules_world(enemies, items)) {
        sim.add_client(test_profile(1));
        EXPECT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
        empty_sector(world(), me().sector);
        const auto open = open_line(world(), me(), 3);
        EXPECT_TRUE(open.has_value());
        if (open) line = *open;
    }
    WorldState& world() { return sim.core.world; }
    PlayerState& me() { return sim.core.world.players.front(); }
    TestClient& client() { return sim.links[0].client; }
    // Puts the player on a point (the client's prediction follows with the next snapshot).
    void stand_at(std::int32_t x, std::int32_t y) {
        me().body.x = x;
        me().body.y = y;
    }
};

Simulation::Driver hold(std::uint16_t buttons) {
    return [buttons](const TestClient&) {
        return std::pair<std::uint16_t, std::uint16_t>{buttons, 0};
    };
}

TEST(GamePickups, HealthAmmoAndPowerUpCarryTheirExactValues) {
    Room room(0, 0);
    room.me().body.health = 50;
    const std::uint32_t health =
        place_item(room.world(), room.me(), room.line, 0, pickup_type::health);
    room.sim.run(2);
    const auto first = events_of(room.client(), combat::pickup);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].value, 0x0119);
    EXPECT_EQ(first[0].subject, health);
    EXPECT_EQ(room.me().body.health, 75);
    EXPECT_EQ(find_entity(room.world(), health), nullptr);

    place_item(room.world(), room.me(), room.line, 0, pickup_type::ammo);
    room.sim.run(2);
    EXPECT_EQ(events_of(room.client(), combat::pickup).back().value, 0x0214);
    EXPECT_EQ(room.me().game.reserve, 120);

    place_item(room.world(), room.me(), room.line, 0, pickup_type::power);
    room.sim.run(2);
    EXPECT_EQ(events_of(room.client(), combat::pickup).back().value, 0x0300);
    EXPECT_EQ(room.me().body.boost, 3);
    EXPECT_LE(room.me().body.boost_ticks, 300);
    EXPECT_GT(room.me().body.boost_ticks, 290);
    // The client's records carry the boost, and its prediction runs boosted with the server.
    room.sim.run(20, hold(0x41));
    ASSERT_TRUE(room.client().last_snapshot);
    EXPECT_EQ(room.client().last_snapshot->entities.front().boost, 3);
    EXPECT_EQ(room.client().prediction.predicted().boost, 3);
    EXPECT_FALSE(room.sim.links[0].error);
}

TEST(GamePickups, FullHealthLeavesTheHealthPickupWhereItIs) {
    Room room(0, 0);
    const std::uint32_t health =
        place_item(room.world(), room.me(), room.line, 0, pickup_type::health);
    room.sim.run(5);
    EXPECT_NE(find_entity(room.world(), health), nullptr);
    EXPECT_TRUE(events_of(room.client(), combat::pickup).empty());
}

TEST(GamePickups, ATakenPickupComesBackToItsSpawner) {
    Simulation sim(rules_world(0, 3));
    sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
    WorldState& world = sim.core.world;
    const Spawner spawner = sector_game(world, 1).spawners.at(1); // the ammo pickup
    ASSERT_EQ(spawner.kind, entity_kind::pickup);
    ASSERT_EQ(spawner.type, pickup_type::ammo);
    PlayerState& me = world.players.front();
    me.body.x = centre_x(spawner.cell);
    me.body.y = centre_y(spawner.cell);
    sim.run(2);
    EXPECT_EQ(find_entity(world, spawner.entity), nullptr);
    EXPECT_EQ(sector_game(world, 1).spawners[1].entity, 0u);
    me.body.x = centre_x(sector_game(world, 1).spawners[0].cell); // step off
    me.body.y = centre_y(sector_game(world, 1).spawners[0].cell);
    me.body.health = 100;
    sim.run(pickup_return);
    const std::uint32_t back = sector_game(world, 1).spawners[1].entity;
    ASSERT_NE(back, 0u);
    EXPECT_EQ(find_entity(world, back)->record.x, centre_x(spawner.cell));
    EXPECT_EQ(find_entity(world, back)->record.type, pickup_type::ammo);
}

TEST(GameWaves, ClearingTheWaveOpensTheCacheAndItsChoiceIsGiven) {
    Simulation sim(rules_world(2, 0));
    sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
    WorldState& world = sim.core.world;
    PlayerState& me = world.players.front();
    std::vector<std::uint32_t> enemies;
    for (const Entity& e : world.entities)
        if (e.sector == 1 && e.record.kind == entity_kind::enemy) enemies.push_back(e.record.id);
    ASSERT_EQ(enemies.size(), 2u);
    EXPECT_FALSE(sector_game(world, 1).cleared);
    Outbox box;
    for (const std::uint32_t id : enemies) damage_enemy(world, id, 1000, me.id, box);
    sim.core.deliver(box);
    sim.run(16); // a round of meta-state records
    const SectorGame& game = sector_game(world, 1);
    ASSERT_TRUE(game.cleared);
    EXPECT_EQ(sim.links[0].client.status.flags & 3, 1); // cleared, cache not used
    const Entity* cache = find_entity(world, game.cache_entity);
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->record.kind, entity_kind::cache);
    EXPECT_EQ(me.game.upgrade_credits, 1);
    EXPECT_EQ(sim.links[0].client.adventure.mode, 2); // reinforcements are coming
    EXPECT_GT(sim.links[0].client.adventure.timer, 0);

    me.body.x = cache->record.x;
    me.body.y = cache->record.y;
    sim.run(2, hold(2 << 12)); // F2: ammo
    EXPECT_EQ(events_of(sim.links[0].client, combat::pickup).back().value, 0x023C);
    EXPECT_EQ(me.game.reserve, 160);
    EXPECT_TRUE(game.cache_used);
    EXPECT_EQ(find_entity(world, game.cache_entity), nullptr);
    sim.run(15);
    EXPECT_EQ(sim.links[0].client.status.flags & 3, 3);

    // The next wave comes after the delay.
    sim.run(reinforce_delay);
    EXPECT_EQ(living_enemies(world, 1), 2);
    EXPECT_FALSE(sector_game(world, 1).cleared);
    EXPECT_FALSE(sim.links[0].error);
}

TEST(GameWaves, ArmourFromTheCacheTakesTwoThirdsOfTheDamage) {
    Room room(0, 0);
    room.me().body.boost = 4;
    room.me().body.boost_value = 100;
    room.me().body.boost_ticks = 900;
    Outbox box;
    damage_player(room.world(), room.me().id, 30, 0, box);
    EXPECT_EQ(room.me().body.health, 90);
    EXPECT_EQ(room.me().body.boost_value, 80);
    Reader in(box.back().payload.bytes);
    EXPECT_EQ(CombatEvent::read(in).value, 10); // the damage that got through
}

TEST(GameObjectives, HoldingUseAtTheGeneratorCompletesItAndTheExitBanks) {
    Simulation sim(rules_world(1, 0));
    sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
    WorldState& world = sim.core.world;
    // Sector 1 holds whichever objective its seed gave; make it a generator here.
    SectorGame& game = sector_game(world, 1);
    game.objective = 1;
    game.goal = 90;
    empty_sector(world, 1);
    PlayerState& me = world.players.front();
    me.body.x = centre_x(game.objective_cell);
    me.body.y = centre_y(game.objective_cell);
    sim.run(45, hold(use_bit));
    EXPECT_GE(game.progress, 40);
    EXPECT_FALSE(game.objective_done);
    sim.run(20);
    const std::uint16_t paused = game.progress; // letting go keeps the progress
    EXPECT_LT(paused, 90);
    ASSERT_TRUE(sim.run_until([&] { return game.objective_done; }, 90, hold(use_bit)));
    sim.run(16);
    const auto done = events_of(sim.links[0].client, combat::objective);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].value, 40);
    EXPECT_EQ(me.game.carried, 40u);
    EXPECT_EQ(sim.links[0].client.adventure.objective_flags, 3); // complete, exit open

    me.body.x = centre_x(game.exit_cell);
    me.body.y = centre_y(game.exit_cell);
    sim.run(bank_ticks + 2);
    const auto banked = events_of(sim.links[0].client, combat::banked);
    ASSERT_EQ(banked.size(), 1u);
    EXPECT_EQ(banked[0].value, 40);
    EXPECT_EQ(me.game.carried, 0u);
    EXPECT_EQ(me.game.banked, 40u);
    EXPECT_FALSE(sim.links[0].error);
}

TEST(GameObjectives, AnArtifactCarriedThroughAPortalIsDelivered) {
    Simulation sim(rules_world(1, 0));
    sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
    WorldState& world = sim.core.world;
    SectorGame& game = sector_game(world, 1);
    empty_sector(world, 1);
    if (game.objective != 3) {
        remove_entity(world, game.objective_entity);
        game.objective = 3;
        game.goal = 1;
        game.objective_entity =
            add_entity(world, 1, entity_kind::artifact, 0, centre_x(game.objective_cell),
                       centre_y(game.objective_cell))
                .record.id;
    }
    PlayerState& me = world.players.front();
    me.body.x = centre_x(game.objective_cell);
    me.body.y = centre_y(game.objective_cell);
    sim.run(3, hold(use_bit));
    EXPECT_EQ(game.carrier, me.id);
    EXPECT_EQ(me.game.carrying, 1u);
    EXPECT_EQ(game.objective_entity, 0u);
    ASSERT_TRUE(
        sim.run_until([&] { return sim.links[0].client.commits >= 2; }, 600, walk_to_portal));
    sim.run(5);
    EXPECT_TRUE(game.objective_done);
    EXPECT_EQ(game.carrier, 0u);
    EXPECT_EQ(me.game.carried, 40u);
    EXPECT_EQ(events_of(sim.links[0].client, combat::objective).size(), 1u);
    EXPECT_EQ(crew_of(world, me.game.crew).run_artifacts, 1u);
}

TEST(GameSectors, ArenaLockdownSealsThePortalsUntilCleared) {
    Simulation sim(rules_world(1, 0));
    sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
    WorldState& world = sim.core.world;
    SectorGame& game = sector_game(world, 1);
    game.challenge = 1; // sector 1 is a standard one; make it an arena
    game.occupied_since = world.tick;
    sim.run(lockdown_delay + 16);
    EXPECT_TRUE(game.sealed);
    EXPECT_EQ(sim.links[0].client.status.flags & 4, 4);
    EXPECT_EQ(events_of(sim.links[0].client, combat::lockdown).size(), 1u);
    // Standing in the portal goes nowhere while sealed.
    sim.run(90, walk_to_portal);
    EXPECT_EQ(sim.links[0].client.commits, 1u);
    Outbox box;
    for (const Entity& e : std::vector<Entity>(world.entities))
        if (e.record.kind == entity_kind::enemy) damage_enemy(world, e.record.id, 1000, 0, box);
    sim.core.deliver(box);
    ASSERT_TRUE(
        sim.run_until([&] { return sim.links[0].client.commits >= 2; }, 120, walk_to_portal));
    EXPECT_FALSE(game.sealed);
}

} // namespace
} // namespace kestrel::test
