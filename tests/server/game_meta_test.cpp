// The meta-state records and the client commands behind them: every record a long game
// produces passes the client's own readers, and the crew, contract, vote, upgrade, colour,
// ping and waypoint commands change what the records say.
#include <gtest/gtest.h>

#include <cmath>

#include "server/game_combat.h"
#include "server/game_crew.h"
#include "server/game_events.h"
#include "server/game_meta.h"
#include "server/game_sector.h"
#include "tests/server/game_test_support.h"

namespace kestrel::test {
namespace {

void command(Simulation::Link& link, CommandCode code, std::uint8_t value = 0,
             std::uint64_t sector = 0) {
    ClientCommand c;
    c.code = code;
    c.value = value;
    c.sector = sector;
    if (code == CommandCode::JoinParty) c.name = "NOVA";
    link.client.send(Type::ClientCommand, write_client_command(c), 0, true);
}

// --client --auto-combat as the game does it, from the client's own view.
std::pair<std::uint16_t, std::uint16_t> fight(const TestClient& client) {
    if (!client.last_snapshot) return {0, 0};
    const Player& me = client.prediction.predicted();
    const float px = me.x / 65536.0f;
    const float py = me.y / 65536.0f;
    const ReplicatedEntity* target = nullptr;
    float best = 1e9f;
    for (const ReplicatedEntity& e : client.last_snapshot->entities) {
        if (e.kind != entity_kind::enemy || e.health == 0) continue;
        const float dx = e.x / 65536.0f - px;
        const float dy = e.y / 65536.0f - py;
        if (dx * dx + dy * dy < best) best = dx * dx + dy * dy, target = &e;
    }
    if (target == nullptr) return {0, me.yaw};
    if (best <= 6.25f) {
        const float angle = std::atan2(target->y / 65536.0f - py, target->x / 65536.0f - px);
        const auto yaw = static_cast<std::int32_t>(angle * 65536.0f / 6.2831855f);
        return {0x10, static_cast<std::uint16_t>(yaw & 0xFFFF)};
    }
    const auto cell = static_cast<std::uint16_t>(static_cast<int>(target->x / 65536.0f) +
                                                 32 * static_cast<int>(target->y / 65536.0f));
    const auto yaw = navigation_yaw(client.grid(), me.x, me.y, cell);
    return {0x51, yaw ? *yaw : me.yaw};
}

template <typename Record>
void expect_round_trip(const Record& record) {
    const Writer bytes = record.write();
    Reader in(bytes.bytes);
    EXPECT_EQ(Record::read(in), record);
}

TEST(GameMeta, EveryRecordOfALongGamePassesTheClientsReaders) {
    Simulation sim(rules_world(6, 4));
    sim.add_client(test_profile(1));
    sim.add_client(test_profile(2));
    const CommandCode codes[] = {CommandCode::Ping,     CommandCode::Reload,
                                 CommandCode::CrewJoin, CommandCode::Contract,
                                 CommandCode::Risk,     CommandCode::Upgrade,
                                 CommandCode::Vote,     CommandCode::ShareDestination,
                                 CommandCode::Colour,   CommandCode::CrewCreate,
                                 CommandCode::CrewLeave};
    std::size_t next = 0;
    for (int step = 0; step < 90 * 30; ++step) {
        sim.advance([&](const TestClient& client) {
            return &client == &sim.links[0].client ? fight(client) : walk_to_portal(client);
        });
        if (step % 41 == 40 && in_play(sim.links[0])) {
            const CommandCode code = codes[next++ % std::size(codes)];
            const std::uint8_t value = code == CommandCode::Risk     ? 4
                                       : code == CommandCode::Vote   ? 2
                                       : code == CommandCode::Colour ? 1
                                                                     : 3;
            command(sim.links[0], code, value, 6);
        }
        if (step % 15 == 0)
            for (const PlayerState& player : sim.core.world.players) {
                if (!player.placed()) continue;
                expect_round_trip(sector_status(sim.core.world, player));
                expect_round_trip(adventure_state(sim.core.world, player));
                expect_round_trip(expedition_state(sim.core.world, player));
            }
    }
    for (const Simulation::Link& link : sim.links) {
        EXPECT_FALSE(link.error) << *link.error;
        EXPECT_GT(link.client.status_records, 150u);
        EXPECT_GT(link.client.adventure_records, 150u);
        EXPECT_GT(link.client.expedition_records, 150u);
    }
    const TestClient& fighter = sim.links[0].client;
    EXPECT_FALSE(events_of(fighter, combat::hit).empty());
    EXPECT_FALSE(events_of(fighter, combat::reward).empty());
    EXPECT_GT(sim.links[1].client.commits, 5u);
    // The two see each other as teammates wherever they are.
    ASSERT_EQ(fighter.adventure.teammates.size(), 1u);
    EXPECT_EQ(fighter.adventure.teammates[0].id, 2u);
    EXPECT_EQ(fighter.adventure.teammates[0].name, "TESTER2");
    EXPECT_EQ(sim.core.counters.errors, 0u);
}

struct Crewed {
    Simulation sim;
    explicit Crewed(std::uint32_t enemies = 0) : sim(rules_world(enemies, 0)) {
        sim.add_client(test_profile(1));
        EXPECT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
        sim.run(16);
    }
    Simulation::Link& link() { return sim.links[0]; }
    const ExpeditionState& expedition() { return sim.links[0].client.expedition; }
    const AdventureState& adventure() { return sim.links[0].client.adventure; }
    PlayerState& me() { return sim.core.world.players.front(); }
    void send(CommandCode code, std::uint8_t value = 0, std::uint64_t sector = 0) {
        command(link(), code, value, sector);
        sim.run(16); // one round of records
    }
};

TEST(GameCrew, ContractNeedsReadyThenRunsToItsVoteAndSummary) {
    Crewed crew;
    EXPECT_EQ(crew.expedition().crew_code, "CREW7");
    EXPECT_TRUE(crew.expedition().leader);
    crew.send(CommandCode::Contract, 3);
    EXPECT_EQ(crew.expedition().contract_state, 0); // not ready yet
    crew.send(CommandCode::CrewJoin);
    ASSERT_EQ(crew.expedition().crew.size(), 1u);
    EXPECT_TRUE(crew.expedition().crew[0].ready);
    crew.send(CommandCode::Risk, 4);
    EXPECT_EQ(crew.expedition().risks, 4);
    crew.send(CommandCode::Contract, 3);
    EXPECT_EQ(crew.expedition().contract_state, 1);
    EXPECT_EQ(crew.expedition().contract_kind, 3);
    EXPECT_EQ(crew.expedition().contract_goal, 250);
    EXPECT_EQ(crew.expedition().run_id, 1u);
    crew.send(CommandCode::Risk, 1); // no changing the risks mid-contract
    EXPECT_EQ(crew.expedition().risks, 4);

    crew.me().game.carried = 260;
    Outbox box;
    bank_salvage(crew.sim.core.world, crew.me(), box);
    crew.sim.core.deliver(box);
    crew.sim.run(31);
    EXPECT_EQ(crew.expedition().contract_progress, 250);
    ASSERT_TRUE(crew.expedition().vote_open);
    EXPECT_LE(crew.expedition().vote_ticks, 240);
    EXPECT_GT(crew.expedition().vote_ticks, 200);
    EXPECT_EQ(crew.expedition().participants, 1);

    crew.send(CommandCode::Vote, 1); // leave
    EXPECT_EQ(crew.expedition().contract_state, 2);
    EXPECT_FALSE(crew.expedition().vote_open);
    EXPECT_EQ(crew.expedition().salvage_banked, 260u + 25u); // one risk paid
    EXPECT_EQ(crew.expedition().total_bank, 285u);
    EXPECT_EQ(crew.adventure().salvage_banked, 285u);
    EXPECT_EQ(crew.adventure().colors_unlocked, 2);
    EXPECT_EQ(crew.expedition().cosmetic_tier_before, 0);
    EXPECT_EQ(crew.expedition().cosmetic_tier_after, 2);
    const auto contract = events_of(crew.link().client, combat::contract);
    ASSERT_EQ(contract.size(), 2u);
    EXPECT_EQ(contract[0].value, 1);
    EXPECT_EQ(contract[1].value, 2);
    EXPECT_FALSE(crew.link().error);
}

TEST(GameCrew, StayingBringsABonusWaveThatPaysWhenCleared) {
    Crewed crew(2);
    empty_sector(crew.sim.core.world, 1);
    sector_game(crew.sim.core.world, 1)
        .spawners.push_back({entity_kind::enemy, drone, 300, 0, 0, false});
    crew.send(CommandCode::CrewJoin);
    crew.send(CommandCode::Contract, 3);
    crew.me().game.carried = 250;
    Outbox box;
    bank_salvage(crew.sim.core.world, crew.me(), box);
    crew.sim.core.deliver(box);
    crew.sim.run(31);
    ASSERT_TRUE(crew.expedition().vote_open);
    crew.send(CommandCode::Vote, 2); // everyone present stays
    EXPECT_EQ(crew.expedition().bonus_rounds, 1);
    EXPECT_FALSE(crew.expedition().vote_open);
    EXPECT_EQ(living_enemies(crew.sim.core.world, 1), 1);
    for (const Entity& e : std::vector<Entity>(crew.sim.core.world.entities))
        if (e.record.kind == entity_kind::enemy)
            damage_enemy(crew.sim.core.world, e.record.id, 1000, 0, box);
    crew.sim.core.deliver(box);
    crew.sim.run(32);
    EXPECT_EQ(events_of(crew.link().client, combat::salvage).back().value, 25);
    EXPECT_EQ(crew.me().game.carried, 25u);
    EXPECT_TRUE(crew.expedition().vote_open); // the next round is put to the vote
}

TEST(GameCrew, SentinelContractMarksItsSectorAndEndsWhenItFalls) {
    Crewed crew(1);
    crew.send(CommandCode::CrewJoin);
    crew.send(CommandCode::Contract, 2);
    WorldState& world = crew.sim.core.world;
    Crew& run = crew_of(world, "CREW7");
    ASSERT_EQ(run.state, 1);
    EXPECT_EQ(run.target_sector, 11u); // two columns and two rows across the world
    EXPECT_EQ(crew.expedition().navigation.at(10).flags & 8, 8);
    run.target_sector = 1; // bring the sentinel here
    crew.sim.run(16);
    const std::uint32_t boss = sector_game(world, 1).boss;
    ASSERT_NE(boss, 0u);
    EXPECT_EQ(find_entity(world, boss)->record.type, sentinel);
    EXPECT_EQ(crew.expedition().boss_phase, 1);
    EXPECT_EQ(crew.expedition().boss_health_max, 600);
    Outbox box;
    damage_enemy(world, boss, 450, crew.me().id, box);
    crew.sim.core.deliver(box);
    crew.sim.run(16);
    EXPECT_EQ(crew.expedition().boss_phase, 3);
    damage_enemy(world, boss, 450, crew.me().id, box);
    crew.sim.core.deliver(box);
    crew.sim.run(16);
    EXPECT_EQ(crew.expedition().contract_progress, 1);
    EXPECT_TRUE(crew.expedition().vote_open);
    EXPECT_EQ(crew.expedition().boss_phase, 0);
    EXPECT_EQ(events_of(crew.link().client, combat::reward).back().value, 100);
}

TEST(GameCrew, CrewCodesColoursUpgradesPingsAndWaypoints) {
    Crewed crew(1);
    crew.send(CommandCode::CrewCreate);
    const std::string made = crew.expedition().crew_code;
    EXPECT_EQ(made.size(), 8u);
    EXPECT_EQ(made[0], 'C');
    EXPECT_EQ(crew.me().profile.party, made);
    crew.send(CommandCode::CrewLeave); // back to the crew before
    EXPECT_EQ(crew.expedition().crew_code, "CREW7");

    crew.send(CommandCode::Colour, 1);
    EXPECT_EQ(crew.adventure().color_index, 0); // not unlocked
    crew.me().game.banked = 100;
    crew.send(CommandCode::Colour, 1);
    EXPECT_EQ(crew.adventure().color_index, 1);

    crew.send(CommandCode::Upgrade, 2);
    EXPECT_EQ(crew.expedition().owned_upgrades, 0); // no credit
    crew.me().game.upgrade_credits = 1;
    crew.send(CommandCode::Upgrade, 2);
    EXPECT_EQ(crew.expedition().owned_upgrades, 2);
    EXPECT_EQ(crew.expedition().upgrade_offers, (std::array<std::uint8_t, 3>{1, 3, 4}));
    EXPECT_EQ(events_of(crew.link().client, combat::upgrade).back().value, 2);

    crew.send(CommandCode::Ping);
    EXPECT_GT(crew.adventure().ping_active, 0);
    EXPECT_EQ(crew.adventure().ping_x, crew.me().body.x >> 8);
    EXPECT_EQ(events_of(crew.link().client, combat::ping).size(), 1u);

    crew.send(CommandCode::ShareDestination, 0, 6);
    EXPECT_EQ(crew.expedition().navigation.at(5).flags & 16, 16);
    crew.send(CommandCode::ShareDestination, 0, 6);
    EXPECT_EQ(crew.expedition().navigation.at(5).flags & 16, 0);

    crew.me().body.ammo = 40;
    command(crew.link(), CommandCode::Reload);
    crew.sim.run(10);
    EXPECT_GT(crew.me().game.reload, 0);
    crew.sim.run(40);
    EXPECT_EQ(crew.me().body.ammo, 100);
    EXPECT_EQ(crew.me().game.reserve, 40);
    EXPECT_FALSE(crew.link().error);
}

TEST(GameCrew, APlayerWithoutAPartyGetsAGeneratedCodeFromTheSeed) {
    std::string codes[2];
    for (std::string& code : codes) {
        Simulation sim(rules_world(0, 0));
        Credentials profile = test_profile(3);
        profile.party = "";
        sim.add_client(profile);
        ASSERT_TRUE(sim.run_until([&] { return in_play(sim.links[0]); }, 60));
        sim.run(16);
        code = sim.links[0].client.expedition.crew_code;
    }
    EXPECT_EQ(codes[0].size(), 8u);
    EXPECT_EQ(codes[0], codes[1]);
}

} // namespace
} // namespace kestrel::test
