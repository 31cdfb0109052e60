// The world map: deterministic, portals paired, compass neighbours wrapped, portal 1 a short
// run from every spawn, and nobody arriving on or beside a portal.
#include <gtest/gtest.h>

#include "server/sector_graph.h"
#include "world/movement.h"

namespace kestrel {
namespace {

const Portal& portal_by_id(const Sector& sector, std::uint16_t id) {
    for (const Portal& portal : sector.portals)
        if (portal.id == id) return portal;
    throw std::runtime_error("no such portal");
}

// Ticks of running toward portal 1, as automated portal walking does, until in it.
int ticks_to_portal_one(const Sector& sector, Player player) {
    const Grid grid = sector.collision(false);
    for (int tick = 1; tick <= 300; ++tick) {
        const auto yaw =
            navigation_yaw(grid, player.x, player.y, portal_by_id(sector, portal_id::east).cell);
        if (!yaw) return -1;
        move(player, Input{static_cast<std::uint32_t>(tick), 0, 0x41, *yaw}, grid);
        if (const auto portal = portal_at(sector, player.x, player.y))
            return portal->id == portal_id::east ? tick : -2;
    }
    return -1;
}

TEST(ServerSectorGraph, SameSeedSameWorldAndEveryPortalLeadsBack) {
    const std::vector<Sector> other = build_sector_graph(100);
    for (const std::uint64_t seed : {99ull, 0x6B1F39A42ull, 0xDEADBEEFull, 123456789ull}) {
        const std::vector<Sector> sectors = build_sector_graph(seed);
        ASSERT_EQ(sectors.size(), graph_sectors);
        for (const Sector& sector : sectors) {
            const std::size_t i = sector.id - 1;
            EXPECT_EQ(sector.encode(), build_sector_graph(seed)[i].encode());
            EXPECT_NE(sector.encode(), other[i].encode());
            EXPECT_EQ(std::tie(sector.id, sector.seed),
                      std::tuple(i + 1, graph_sector_seed(seed, i + 1)));
            ASSERT_EQ(sector.portals.size(), 4u);
            for (std::uint16_t id = 0; id < 4; ++id) portal_by_id(sector, id); // throws if missing
            for (const Portal& portal : sector.portals) {
                ASSERT_TRUE(portal.target >= 1 && portal.target <= graph_sectors);
                EXPECT_NE(portal.target, sector.id);
                const Sector& target = sectors[portal.target - 1];
                EXPECT_EQ(portal.target_seed, target.seed);
                const Portal& back = portal_by_id(target, portal.target_portal);
                EXPECT_EQ(std::tie(back.target, back.target_portal),
                          std::tie(sector.id, portal.id));
            }
            const std::vector<std::uint16_t> cells = spawn_cells(sector);
            ASSERT_EQ(cells.size(), 8u);
            EXPECT_EQ(cells.front(), (sector.spawn_y >> 8) * 32 + (sector.spawn_x >> 8));
            const Grid grid = sector.collision(false);
            for (std::uint32_t slot = 0; slot < 10; ++slot) {
                const Player p = spawn_player(sector, slot, Player{});
                EXPECT_TRUE(body_clear(grid, p.x, p.y));
                EXPECT_EQ(p.x % 256 + p.y % 256, 0); // carried exactly by the commit record
                for (const Portal& portal : sector.portals)
                    EXPECT_GT(std::abs((p.x >> 16) - portal.cell % 32) +
                                  std::abs((p.y >> 16) - portal.cell / 32),
                              1);
                if (slot >= 8) continue;
                const int ticks = ticks_to_portal_one(sector, p);
                EXPECT_TRUE(ticks > 0 && ticks <= 75) << ticks << " ticks, sector " << sector.id;
            }
        }
    }
}

TEST(ServerSectorGraph, CompassNeighboursSpawnStateAndPortalCells) {
    const std::vector<Sector> sectors = build_sector_graph(5);
    const Sector& corner = sectors[graph_sector_id(3, 0) - 1]; // top right, wraps both ways
    EXPECT_EQ(portal_by_id(corner, portal_id::east).target, graph_sector_id(0, 0));
    EXPECT_EQ(portal_by_id(corner, portal_id::west).target, graph_sector_id(2, 0));
    EXPECT_EQ(portal_by_id(corner, portal_id::north).target, graph_sector_id(3, 3));
    EXPECT_EQ(portal_by_id(corner, portal_id::south).target, graph_sector_id(3, 1));
    EXPECT_EQ(std::tuple(graph_column(graph_sector_id(3, 2)), graph_row(graph_sector_id(3, 2))),
              std::tuple(3, 2));
    const Sector& sector = sectors[0];
    const Player placed =
        spawn_player(sector, 1, Player{.vx = 5000, .health = 40, .ammo = 7, .weapon = 3});
    EXPECT_EQ(std::tie(placed.health, placed.ammo, placed.weapon, placed.vx),
              std::tuple(40, 7, 3, 0));
    EXPECT_EQ(placed.x, (spawn_cells(sector)[1] % 32) * 65536 + 32768);
    const Portal& east = portal_by_id(sector, portal_id::east);
    const std::int32_t x = (east.cell % 32) * 65536;
    const std::int32_t y = (east.cell / 32) * 65536;
    EXPECT_EQ(portal_at(sector, x, y)->id, portal_id::east);
    EXPECT_EQ(portal_at(sector, x + 65535, y + 65535)->id, portal_id::east);
    EXPECT_FALSE(portal_at(sector, x - 1, y));
    EXPECT_FALSE(portal_at(sector, -5, 0));
    EXPECT_FALSE(portal_at(sector, 32 * 65536, 0));
}

} // namespace
} // namespace kestrel
