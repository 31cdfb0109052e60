// The server core against the test client in simulated time: admission, the handoffs, the
// snapshot stream and the prediction agreement it exists for.
#include <gtest/gtest.h>

#include "server/sector_graph.h"
#include "session/handoff_messages.h"
#include "tests/server/simulation.h"

namespace kestrel::test {
namespace {

ServerOptions quiet_world() {
    ServerOptions options;
    options.enemies = 0;
    options.items = 0;
    return options;
}

bool playing(const Simulation::Link& link) {
    return link.client.in_game() && link.client.snapshots > 0;
}

TEST(ServerAdmission, WelcomeThenFirstHandoffIntoTheStartSector) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return playing(sim.links[0]); }, 30));
    const TestClient& client = link.client;
    EXPECT_FALSE(link.error);
    EXPECT_NE(client.handoff.session, 0u);
    EXPECT_EQ(client.handoff.player_id, 1u);
    EXPECT_EQ(client.commits, 1u);
    EXPECT_EQ(client.committed_sectors, std::vector<std::uint64_t>{ServerCore::start_sector});
    EXPECT_EQ(client.handoff.epoch, 2u); // the Welcome's epoch 1, then the commit's
    // The spawn is the first free cell by the sector spawn, at its centre.
    const Sector& start = sim.core.world.sectors[0];
    EXPECT_EQ(client.handoff.spawn.x, start.spawn_x * 256);
    EXPECT_EQ(client.handoff.spawn.y, start.spawn_y * 256);
    EXPECT_EQ(sim.core.counters.clients, 1u);
    EXPECT_EQ(sim.core.counters.handoffs, 1u);
    EXPECT_EQ(sim.core.counters.errors, 0u);
}

TEST(ServerAdmission, MetaStateFlowsWithIncreasingSequences) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    sim.run(70);
    const TestClient& client = link.client;
    ASSERT_FALSE(link.error);
    EXPECT_GE(client.status_records, 3u);
    EXPECT_GE(client.adventure_records, 3u);
    EXPECT_GE(client.expedition_records, 3u);
    EXPECT_NE(client.adventure.sequence, 0u);
    EXPECT_EQ(client.expedition.current_sector, ServerCore::start_sector);
    EXPECT_EQ(client.expedition.crew_code, "CREW7"); // echoed, so the client keeps its party
    EXPECT_EQ(client.expedition.navigation.size(), graph_sectors);
}

TEST(ServerAdmission, SecondClientWithTheSameTokenIsTurnedAway) {
    Simulation sim(quiet_world());
    sim.add_client(test_profile(1));
    sim.run(10);
    sim.add_client(test_profile(1));
    sim.run(10);
    EXPECT_FALSE(sim.links[0].error);
    EXPECT_EQ(sim.links[1].error,
              "This profile is already playing. Close the other client and reconnect.");
    EXPECT_EQ(sim.core.counters.rejected, 1u);
}

TEST(ServerAdmission, UnreadableProfileIsRefusedWithCodeTwo) {
    Simulation sim(quiet_world());
    Credentials nameless = test_profile(2);
    nameless.name = ""; // written as zeros, which a reader refuses
    sim.add_client(nameless);
    sim.run(10);
    EXPECT_EQ(sim.links[0].error, "Cannot load the saved profile");
}

TEST(ServerAdmission, BadHelloIsDropped) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    Writer hello;
    hello.u32(1);
    hello.u32(6); // wrong ruleset
    hello.u32(1);
    hello.u32(0);
    link.client.outbox.clear();
    link.client.outbox.push_back({packet(Type::Hello, 0, 1, 0, hello), 0, true});
    sim.run(5);
    EXPECT_EQ(link.error, "server disconnected");
    EXPECT_EQ(sim.core.counters.rejected, 1u);
    EXPECT_EQ(sim.core.counters.clients, 0u);
}

TEST(ServerPlay, TwoPlayersSeeEachOtherAsPlayerEntities) {
    Simulation sim(quiet_world());
    sim.add_client(test_profile(1));
    sim.add_client(test_profile(2));
    sim.run(40);
    for (const Simulation::Link& link : sim.links) {
        ASSERT_FALSE(link.error);
        ASSERT_TRUE(link.client.last_snapshot);
        const Snapshot& snapshot = *link.client.last_snapshot;
        ASSERT_EQ(snapshot.entities.size(), 2u);
        EXPECT_EQ(snapshot.entities[0].id, link.client.handoff.player_id);
        EXPECT_NE(snapshot.entities[1].id, link.client.handoff.player_id);
        EXPECT_EQ(snapshot.entities[1].kind, 1);
    }
    // Different slots, different spawn cells.
    EXPECT_NE(sim.links[0].client.handoff.spawn.x + sim.links[0].client.handoff.spawn.y * 7,
              sim.links[1].client.handoff.spawn.x + sim.links[1].client.handoff.spawn.y * 7);
}

TEST(ServerPlay, StandingPlayerReconcilesWithoutCorrection) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    link.client.latency_ticks = 5;
    sim.latency_steps = 5;
    sim.run(120);
    ASSERT_FALSE(link.error);
    EXPECT_GT(link.client.prediction.reconciles(), 20u);
    EXPECT_EQ(link.client.prediction.max_correction(), 0.0);
    EXPECT_GT(sim.core.counters.inputs, 60u);
}

// The walk of --auto-portal --require-commits 3, with and without a slow, lossy uplink.
struct WalkCase {
    int latency_steps;
    std::uint32_t latency_ticks;
    std::uint32_t drop_every;
};

class ServerWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(ServerWalk, ThreeCommitsAndPredictionAgrees) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    link.client.latency_ticks = GetParam().latency_ticks;
    link.client.drop_every = GetParam().drop_every;
    sim.latency_steps = GetParam().latency_steps;
    ASSERT_TRUE(sim.run_until([&] { return link.client.commits >= 4; }, 20 * 30, walk_to_portal));
    ASSERT_FALSE(link.error) << *link.error;
    // Each walk leaves through portal 1, the east one, into the next sector east.
    EXPECT_EQ(link.client.committed_sectors, (std::vector<std::uint64_t>{1, 2, 3, 4}));
    EXPECT_LE(link.client.prediction.max_correction(), 0.02);
    EXPECT_EQ(sim.core.counters.skipped, 0u);
    EXPECT_EQ(sim.core.counters.errors, 0u);
}

INSTANTIATE_TEST_SUITE_P(Links, ServerWalk,
                         ::testing::Values(WalkCase{0, 0, 0}, WalkCase{5, 5, 0}, WalkCase{5, 5, 3},
                                           WalkCase{2, 5, 2}));

TEST(ServerPlay, InputOfAnEarlierEpochIsNotApplied) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    sim.run(30);
    ASSERT_TRUE(playing(link));
    const std::uint64_t before = sim.core.counters.inputs;
    const Player body = sim.core.world.players[0].body;
    // Commands stamped with the Welcome's epoch, as if sent before the first commit.
    const Input forward{1000, 1000, 0x41, 0};
    sim.core.receive(link.peer, 1,
                     packet(Type::InputCommands, link.client.handoff.session, 999, 1,
                            write_input_commands({forward})));
    sim.core.tick();
    EXPECT_EQ(sim.core.world.players[0].body, body);
    EXPECT_EQ(sim.core.counters.inputs, before);
}

TEST(ServerPlay, MisroutedClientPacketsAreCountedAndIgnored) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    sim.run(30);
    const TestClient& client = link.client;
    const Writer commands = write_input_commands({Input{1, 1, 0, 0}});
    sim.core.receive(
        link.peer, 0, // input belongs on channel 1
        packet(Type::InputCommands, client.handoff.session, 1, client.handoff.epoch, commands));
    sim.core.receive(
        link.peer, 1, // another session
        packet(Type::InputCommands, client.handoff.session + 1, 2, client.handoff.epoch, commands));
    Writer bad_count;
    bad_count.u32(4);
    sim.core.receive(
        link.peer, 1,
        packet(Type::InputCommands, client.handoff.session, 3, client.handoff.epoch, bad_count));
    sim.core.receive(link.peer, 0, Bytes(23, 0)); // no header
    EXPECT_EQ(sim.core.counters.errors, 4u);
    sim.run(10);
    EXPECT_FALSE(link.error);
}

TEST(ServerPlay, ClientCommandsAreKeptAndTheProfileOnesApplied) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    sim.run(30);
    sim.core.world.players[0].game.banked = 300; // three colours unlocked
    ClientCommand party;
    party.code = CommandCode::JoinParty;
    party.name = "NOVA";
    party.party = "WOLF9";
    ClientCommand colour;
    colour.code = CommandCode::Colour;
    colour.value = 3;
    ClientCommand vote;
    vote.code = CommandCode::Vote;
    vote.value = 2;
    for (const ClientCommand& command : {party, colour, vote})
        link.client.send(Type::ClientCommand, write_client_command(command), 0, true);
    sim.run(20);
    const PlayerState& player = sim.core.world.players[0];
    EXPECT_EQ(player.profile.name, "NOVA");
    EXPECT_EQ(player.profile.party, "WOLF9");
    EXPECT_EQ(player.profile.color, 3);
    EXPECT_EQ(player.commands[13], vote);
    EXPECT_FALSE(player.commands[3]);
    // The colour shows on the player's record; the crew code follows the party.
    EXPECT_EQ(link.client.last_snapshot->entities[0].state, 3);
    EXPECT_EQ(link.client.expedition.crew_code, "WOLF9");
    EXPECT_EQ(sim.core.counters.errors, 0u);
}

// --- handoff hooks -----------------------------------------------------------------------

TEST(ServerHandoff, ChunkHooksStillAssembleTheMap) {
    for (int hook = 0; hook < 4; ++hook) {
        ServerOptions options = quiet_world();
        options.faults.duplicate_chunks = hook == 0 || hook == 3;
        options.faults.reverse_chunks = hook == 1 || hook == 3;
        options.faults.early_chunks = hook == 2;
        Simulation sim(options);
        Simulation::Link& link = sim.add_client(test_profile(1));
        ASSERT_TRUE(
            sim.run_until([&] { return link.client.commits >= 2; }, 10 * 30, walk_to_portal))
            << "hook " << hook;
        EXPECT_FALSE(link.error) << "hook " << hook << ": " << link.error.value_or("");
    }
}

TEST(ServerHandoff, AbortFirstHandoffThenEnterLater) {
    ServerOptions options = quiet_world();
    options.faults.abort_first_handoff = true;
    Simulation sim(options);
    Simulation::Link& link = sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return playing(link); }, 3 * 30));
    EXPECT_FALSE(link.error);
    EXPECT_EQ(link.client.aborts, 1u);
    EXPECT_EQ(link.client.commits, 1u);
    EXPECT_EQ(link.client.handoff.epoch, 3u); // Welcome 1, the abort 2, the commit 3
    EXPECT_EQ(sim.core.counters.aborts, 1u);
}

TEST(ServerHandoff, MissingAckTimesOutWithAnAbort) {
    Simulation sim(quiet_world());
    sim.add_client(test_profile(1));
    // Hello, Profile, and the first handoff is announced.
    ASSERT_TRUE(sim.run_until([&] { return sim.core.sessions[0].phase == Phase::Transit; }, 5));
    sim.links[0].gone = true; // the client stops answering
    sim.run(ServerCore::handoff_window + 2);
    EXPECT_EQ(sim.core.counters.aborts, 1u);
    EXPECT_EQ(sim.core.sessions[0].phase, Phase::Joining); // to try again later
    EXPECT_EQ(sim.core.sessions[0].epoch, 2u);
}

TEST(ServerHandoff, AckForAnotherMapAborts) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return sim.core.sessions[0].phase == Phase::Transit; }, 5));
    const Handoff handoff = *sim.core.sessions[0].handoff;
    Writer ack;
    ack.u64(handoff.transition);
    ack.u64(handoff.target);
    ack.u32(handoff.revision);
    ack.u32(handoff.crc ^ 1);
    sim.core.receive(link.peer, 0,
                     packet(Type::TransitionAck, sim.core.sessions[0].session, 9, 1, ack));
    EXPECT_EQ(sim.core.counters.aborts, 1u);
    EXPECT_EQ(sim.core.counters.handoffs, 0u);
}

TEST(ServerHandoff, PatchedTargetAbortsTheHandoffAndRetries) {
    Simulation sim(quiet_world());
    Simulation::Link& link = sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return sim.core.sessions[0].phase == Phase::Transit; }, 5));
    // The target sector changes while its old blob is on the way.
    const Sector& start = sim.core.world.sectors[0];
    std::uint16_t cell = 0;
    while (start.cells[cell] != 7) ++cell;
    Outbox box;
    change_cell(sim.core.world, start.id, cell, 6, box);
    sim.core.deliver(box);
    ASSERT_TRUE(sim.run_until([&] { return playing(link); }, 3 * 30));
    EXPECT_FALSE(link.error);
    EXPECT_EQ(link.client.handoff.committed->revision, 2u);
}

} // namespace
} // namespace kestrel::test
