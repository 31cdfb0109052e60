// What a player is shown and how its snapshot is stamped and split.
#include <gtest/gtest.h>

#include "protocol/codec.h"
#include "server/snapshots.h"
#include "session/handoff_messages.h"
#include "session/prediction.h"
#include "session/snapshot_assembly.h"
#include "world/movement.h"

namespace kestrel {
namespace {

WorldState world_with_players(int players) {
    WorldState world = make_world(7);
    for (int i = 0; i < players; ++i) {
        PlayerState player;
        player.id = static_cast<std::uint32_t>(i + 1);
        player.slot = static_cast<std::uint32_t>(i);
        player.sector = 1;
        player.body.id = player.id;
        player.profile.color = static_cast<std::uint8_t>(i % 5);
        world.players.push_back(player);
    }
    return world;
}

void add_entities(WorldState& world, int count, std::uint64_t sector) {
    for (int i = 0; i < count; ++i) {
        Entity entity;
        entity.sector = sector;
        entity.record.id = allocate_entity_id(world);
        entity.record.kind = 2;
        entity.record.health = 30;
        world.entities.push_back(entity);
    }
}

TEST(ServerSnapshotTick, EpochStartBeforeAnyInput) {
    InputQueue inputs;
    EXPECT_EQ(snapshot_tick(500, 480, inputs), 480u);
    EXPECT_EQ(snapshot_tick(470, 480, inputs), 470u); // never ahead of the server
}

TEST(ServerSnapshotTick, LastAppliedCommandBoundsTheTick) {
    InputQueue inputs;
    inputs.applied = 9;
    inputs.applied_tick = 495;
    EXPECT_EQ(snapshot_tick(500, 480, inputs), 495u);
    inputs.applied_tick = 510; // the client stamps ahead of the server
    EXPECT_EQ(snapshot_tick(500, 480, inputs), 500u);
}

TEST(ServerSnapshotTick, StaysBelowEveryWaitingCommand) {
    InputQueue inputs;
    inputs.applied = 9;
    inputs.applied_tick = 495;
    inputs.next = 10;
    inputs.receive(Input{11, 497, 0, 0}); // 10 is missing
    inputs.receive(Input{12, 494, 0, 0}); // a stamp out of order still counts
    EXPECT_EQ(snapshot_tick(500, 480, inputs), 493u);
}

TEST(ServerSnapshotTick, WrapsAround) {
    InputQueue inputs;
    inputs.applied = 1;
    inputs.applied_tick = 0xFFFFFFF0u;
    EXPECT_EQ(snapshot_tick(5, 0, inputs), 0xFFFFFFF0u);
}

// The property the stamping exists for: replaying the client's reconciliation against
// snapshots stamped this way never drops a command the server has not applied, however
// many are still on their way; and a player running in circles along the walls, rebased
// on the carried 1/256-cell position at every snapshot, stays within a tenth of a cell.
TEST(ServerSnapshotTick, ClientReconciliationKeepsUnappliedCommands) {
    WorldState world = world_with_players(1);
    const Grid& grid = world.grids[0];
    world.players[0].body.x = world.players[0].body.y = 163840;
    Prediction prediction;
    prediction.reset(world.players[0].body);
    InputQueue inputs;
    const std::uint32_t epoch_tick = 1000;
    std::uint32_t server_tick = epoch_tick;
    std::uint32_t sequence = 0;
    // The client stamps 2 ticks ahead; its commands reach the server 4 ticks later.
    std::vector<Input> in_flight;
    for (int step = 0; step < 300; ++step) {
        ++server_tick;
        const Input command{++sequence, server_tick + 2, 0x41,
                            static_cast<std::uint16_t>(step * 300)};
        prediction.step(command, grid);
        in_flight.push_back(command);
        if (in_flight.size() > 4) {
            inputs.receive(in_flight.front());
            in_flight.erase(in_flight.begin());
        }
        for (const Input& input : inputs.take(server_tick))
            move(world.players[0].body, input, grid);
        prediction.reconcile(player_record(world.players[0]), inputs.applied,
                             snapshot_tick(server_tick, epoch_tick, inputs), grid);
        ASSERT_EQ(prediction.pending().size(), sequence - inputs.applied) << "step " << step;
    }
    EXPECT_LT(prediction.max_correction(), 0.12);
}

TEST(ServerRecordCoordinate, RoundsTowardTheCellCentre) {
    EXPECT_EQ(record_coordinate(65536 + 256), 65536 + 256); // exact values stay
    EXPECT_EQ(record_coordinate(65536 + 1), 65536 + 256);   // first half: up
    EXPECT_EQ(record_coordinate(65536 + 0x7FFF), 65536 + 0x8000);
    EXPECT_EQ(record_coordinate(65536 + 0x8001), 65536 + 0x8000); // second half: down
    EXPECT_EQ(record_coordinate(65536 + 0xFFFF), 65536 + 0xFF00);
    EXPECT_EQ(record_coordinate(coordinate_min) >> 8, 57);
    EXPECT_LT(record_coordinate(coordinate_max) >> 8, 8192);
}

TEST(ServerRecordCoordinate, ClearBodiesStayClear) {
    // Positions hugging the walls of a generated sector, just at the body radius.
    const WorldState world = make_world(11);
    const Grid& grid = world.grids[0];
    int checked = 0;
    for (int cell = 0; cell < cell_count; ++cell) {
        if (grid[cell] != 0) continue;
        const std::int32_t x0 = (cell % 32) * 65536;
        const std::int32_t y0 = (cell / 32) * 65536;
        for (const std::int32_t dx : {body_radius, body_radius + 77, 65536 - body_radius - 3})
            for (const std::int32_t dy : {body_radius + 1, 32768 + 99, 65536 - body_radius}) {
                if (!body_clear(grid, x0 + dx, y0 + dy)) continue;
                ++checked;
                EXPECT_TRUE(
                    body_clear(grid, record_coordinate(x0 + dx), record_coordinate(y0 + dy)))
                    << "cell " << cell << " at " << dx << "," << dy;
            }
    }
    EXPECT_GT(checked, 1000);
}

TEST(ServerInterestSet, ViewerFirstThenPlayersThenEntities) {
    WorldState world = world_with_players(3);
    world.players[2].sector = 2; // elsewhere
    add_entities(world, 2, 1);
    add_entities(world, 1, 2);
    const std::vector<ReplicatedEntity> seen = interest_set(world, world.players[1]);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].id, 2u);
    EXPECT_EQ(seen[1].id, 1u);
    EXPECT_EQ(seen[2].id, first_entity_id);
    EXPECT_EQ(seen[3].id, first_entity_id + 1);
    EXPECT_EQ(seen[0].kind, 1);
    EXPECT_EQ(seen[1].kind, 1);
    EXPECT_EQ(seen[1].state, 0); // player 1's suit colour
    EXPECT_EQ(seen[0].state, 1);
}

TEST(ServerInterestSet, PlayersInTransitAreNotShown) {
    WorldState world = world_with_players(2);
    world.players[1].in_transit = true;
    EXPECT_EQ(interest_set(world, world.players[0]).size(), 1u);
}

TEST(ServerInterestSet, CutAtTheLargestSnapshot) {
    WorldState world = world_with_players(1);
    add_entities(world, 400, 1);
    const std::vector<ReplicatedEntity> seen = interest_set(world, world.players[0]);
    ASSERT_EQ(seen.size(), max_interest);
    EXPECT_EQ(seen.front().id, 1u);
}

// Parts hold at most 23 records, the viewer's first, and the client reassembles them.
TEST(ServerSnapshotParts, SplitAndReassembled) {
    WorldState world = world_with_players(2);
    add_entities(world, 45, 1); // 47 records: 23 + 23 + 1
    const Snapshot snapshot = build_snapshot(world, world.players[0], 7, 900, 33, 4);
    EXPECT_EQ(snapshot.revision, world.sectors[0].revision);
    EXPECT_EQ(snapshot.sector, 1u);
    const std::vector<Writer> parts = snapshot_part_payloads(snapshot);
    ASSERT_EQ(parts.size(), 3u);
    SnapshotAssembly assembly;
    std::optional<Snapshot> done;
    for (std::size_t i = parts.size(); i-- > 0;) { // any order
        EXPECT_LE(parts[i].bytes.size(), max_payload_size);
        const Bytes bytes = packet(Type::SnapshotPart, 1, 1, 4, parts[i]);
        Reader in(bytes);
        const Header header = read_header(in);
        done = assembly.ingest(header, in, 0.0);
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(done->entities.size(), 47u);
    EXPECT_EQ(done->entities[0].id, world.players[0].id);
    EXPECT_EQ(done->tick, 900u);
    EXPECT_EQ(done->input_ack, 33u);
    EXPECT_EQ(parts[0].bytes.size(), 32u + 23 * 40);
    EXPECT_EQ(parts[2].bytes.size(), 32u + 40);
}

} // namespace
} // namespace kestrel
