// The crowd option: a full interest set of passive wanderers, cut into sixteen parts, that
// stroll over the open floor while someone watches.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "server/game_crowd.h"
#include "server/snapshots.h"
#include "tests/server/simulation.h"

namespace kestrel::test {
namespace {

ServerOptions crowd_world() {
    ServerOptions options;
    options.enemies = 0;
    options.items = 0;
    options.crowd = 367;
    return options;
}

std::uint16_t u16_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t u32_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return u16_at(bytes, at) | static_cast<std::uint32_t>(u16_at(bytes, at + 2)) << 16;
}

bool open_floor(const Grid& grid, std::int32_t x, std::int32_t y) {
    const int column = x >> 16;
    const int row = y >> 16;
    return column >= 0 && row >= 0 && column < sector_size && row < sector_size &&
           grid[row * sector_size + column] == 0;
}

TEST(ServerCrowd, FullSnapshotsTravelInSixteenPartsWithTheViewerFirst) {
    Simulation sim(crowd_world());
    sim.latency_steps = 1; // so each step's packets can be read before they are delivered
    Simulation::Link& link = sim.add_client(test_profile(1));
    // Snapshot id -> entity count of every part seen, by part index.
    std::map<std::uint32_t, std::map<int, int>> parts;
    for (int step = 0; step < 90; ++step) {
        sim.advance(nullptr);
        for (const auto& [due, datagram] : link.to_client) {
            const auto& bytes = datagram.bytes;
            if (due != sim.step + 1 || bytes.size() < 56 || bytes[3] != 4) continue;
            EXPECT_EQ(datagram.channel, 1);
            const int count = u16_at(bytes, 24 + 28);
            EXPECT_LE(count, 23);
            EXPECT_EQ(bytes.size(), 56u + 40u * count);
            EXPECT_EQ(bytes[24 + 31], 16) << "part count";
            const std::uint32_t id = u32_at(bytes, 24);
            const int index = bytes[24 + 30];
            if (index == 0 && count > 0) { // the viewer's record leads the first part
                EXPECT_EQ(u32_at(bytes, 56), u32_at(bytes, 24 + 24));
            }
            EXPECT_TRUE(parts[id].emplace(index, count).second) << "part sent twice";
        }
    }
    ASSERT_FALSE(link.error) << *link.error;
    ASSERT_GE(parts.size(), 30u);
    for (const auto& [id, seen] : parts) {
        ASSERT_EQ(seen.size(), 16u) << "snapshot " << id;
        int total = 0;
        for (const auto& [index, count] : seen) total += count;
        EXPECT_EQ(total, 368) << "snapshot " << id;
    }

    ASSERT_TRUE(link.client.last_snapshot);
    const Snapshot& snapshot = *link.client.last_snapshot;
    ASSERT_EQ(snapshot.entities.size(), max_interest);
    EXPECT_EQ(snapshot.entities[0].id, snapshot.viewer);
    std::set<std::uint32_t> ids;
    std::set<std::uint16_t> colours;
    for (std::size_t i = 1; i < snapshot.entities.size(); ++i) {
        const ReplicatedEntity& e = snapshot.entities[i];
        EXPECT_EQ(e.kind, entity_kind::player);
        EXPECT_EQ(e.health, wanderer_health);
        EXPECT_GE(e.id, first_entity_id);
        ids.insert(e.id);
        colours.insert(e.state);
    }
    EXPECT_EQ(ids.size(), 367u);
    EXPECT_EQ(colours, (std::set<std::uint16_t>{0, 1, 2, 3, 4}));
}

TEST(ServerCrowd, WanderersStrollOnOpenFloorOnlyWhereSomeoneWatches) {
    Simulation sim(crowd_world());
    const auto positions = [&](std::uint64_t sector) {
        std::map<std::uint32_t, std::pair<std::int32_t, std::int32_t>> at;
        for (const Entity& e : sim.core.world.entities)
            if (e.sector == sector && is_wanderer(e)) at[e.record.id] = {e.record.x, e.record.y};
        return at;
    };
    const auto start = positions(1);
    const auto elsewhere = positions(2);
    ASSERT_EQ(start.size(), 367u);
    ASSERT_EQ(elsewhere.size(), 367u);

    Simulation::Link& link = sim.add_client(test_profile(1));
    const Grid& walk = *find_grid(sim.core.world, 1);
    for (int step = 0; step < 150; ++step) {
        sim.advance(nullptr);
        for (const auto& [id, at] : positions(1))
            ASSERT_TRUE(open_floor(walk, at.first, at.second))
                << "wanderer " << id << " in a wall at step " << step;
    }
    ASSERT_FALSE(link.error) << *link.error;
    ASSERT_TRUE(link.client.in_game());

    const auto end = positions(1);
    int moved = 0;
    double travelled = 0;
    for (const auto& [id, at] : end) {
        const auto [x0, y0] = start.at(id);
        moved += at != start.at(id) ? 1 : 0;
        travelled += std::hypot(at.first - x0, at.second - y0) / 65536.0;
    }
    EXPECT_EQ(moved, 367);
    EXPECT_GT(travelled / 367, 1.0) << "cells from the start on average after 5 s";
    EXPECT_EQ(positions(2), elsewhere) << "nobody watches sector 2";

    // What the client is shown stands on open floor too.
    ASSERT_TRUE(link.client.last_snapshot);
    const Grid seen = link.client.grid();
    for (const ReplicatedEntity& e : link.client.last_snapshot->entities)
        EXPECT_TRUE(open_floor(seen, e.x, e.y)) << "entity " << e.id;
}

} // namespace
} // namespace kestrel::test
