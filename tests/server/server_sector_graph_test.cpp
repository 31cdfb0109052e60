// The world map: deterministic, fully linked, portal 1 a short run from every spawn, and
// nobody ever arriving on a portal.
#include <gtest/gtest.h>

#include <set>

#include "server/sector_graph.h"
#include "world/movement.h"

namespace kestrel {
namespace {

constexpr std::uint64_t seeds[] = {0x6B1F39A42, 1, 2, 0xDEADBEEF, 123456789};

const Portal& portal_by_id(const Sector& sector, std::uint16_t id) {
    for (const Portal& portal : sector.portals)
        if (portal.id == id) return portal;
    throw std::runtime_error("no such portal");
}

TEST(ServerSectorGraph, SameSeedSameWorldByteForByte) {
    const std::vector<Sector> a = build_sector_graph(99);
    const std::vector<Sector> b = build_sector_graph(99);
    const std::vector<Sector> c = build_sector_graph(100);
    ASSERT_EQ(a.size(), graph_sectors);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].encode(), b[i].encode());
        EXPECT_NE(a[i].encode(), c[i].encode());
        EXPECT_EQ(a[i].id, i + 1);
        EXPECT_EQ(a[i].seed, graph_sector_seed(99, i + 1));
    }
}

TEST(ServerSectorGraph, EveryPortalLeadsBackThroughItsPartner) {
    for (const std::uint64_t seed : seeds) {
        const std::vector<Sector> sectors = build_sector_graph(seed);
        for (const Sector& sector : sectors) {
            std::set<std::uint16_t> ids;
            for (const Portal& portal : sector.portals) ids.insert(portal.id);
            EXPECT_EQ(ids, (std::set<std::uint16_t>{0, 1, 2, 3}));
            for (const Portal& portal : sector.portals) {
                ASSERT_GE(portal.target, 1u);
                ASSERT_LE(portal.target, graph_sectors);
                EXPECT_NE(portal.target, sector.id);
                const Sector& target = sectors[portal.target - 1];
                EXPECT_EQ(portal.target_seed, target.seed);
                const Portal& back = portal_by_id(target, portal.target_portal);
                EXPECT_EQ(back.target, sector.id)
                    << "sector " << sector.id << " portal " << portal.id;
                EXPECT_EQ(back.target_portal, portal.id);
            }
        }
    }
}

TEST(ServerSectorGraph, CompassPortalsLeadToTheNeighbours) {
    const std::vector<Sector> sectors = build_sector_graph(5);
    const Sector& corner = sectors[graph_sector_id(3, 0) - 1]; // top right, wraps both ways
    EXPECT_EQ(portal_by_id(corner, portal_id::east).target, graph_sector_id(0, 0));
    EXPECT_EQ(portal_by_id(corner, portal_id::west).target, graph_sector_id(2, 0));
    EXPECT_EQ(portal_by_id(corner, portal_id::north).target, graph_sector_id(3, 3));
    EXPECT_EQ(portal_by_id(corner, portal_id::south).target, graph_sector_id(3, 1));
    EXPECT_EQ(graph_column(graph_sector_id(3, 2)), 3);
    EXPECT_EQ(graph_row(graph_sector_id(3, 2)), 2);
    EXPECT_EQ(graph_sector_id(-1, 4), graph_sector_id(3, 0));
}

// Runs forward toward portal 1 the way automated portal walking does and counts the ticks
// until the player stands in it.
int ticks_to_portal_one(const Sector& sector, Player player) {
    const Grid grid = sector.collision(false);
    const std::uint16_t target = portal_by_id(sector, portal_id::east).cell;
    for (int tick = 1; tick <= 300; ++tick) {
        const auto yaw = navigation_yaw(grid, player.x, player.y, target);
        if (!yaw) return -1;
        move(player, Input{static_cast<std::uint32_t>(tick), 0, 0x41, *yaw}, grid);
        const auto portal = portal_at(sector, player.x, player.y);
        if (portal) return portal->id == portal_id::east ? tick : -2;
    }
    return -1;
}

TEST(ServerSectorGraph, PortalOneIsAShortRunFromEverySpawn) {
    for (const std::uint64_t seed : seeds) {
        for (const Sector& sector : build_sector_graph(seed)) {
            for (std::uint32_t slot = 0; slot < 8; ++slot) {
                const int ticks = ticks_to_portal_one(sector, spawn_player(sector, slot, Player{}));
                EXPECT_GT(ticks, 0) << "seed " << seed << " sector " << sector.id;
                EXPECT_LE(ticks, 75) << "seed " << seed << " sector " << sector.id; // 2.5 s
            }
        }
    }
}

TEST(ServerSectorGraph, SpawnsAreFreeAndNeverOnOrBesideAPortal) {
    for (const std::uint64_t seed : seeds) {
        for (const Sector& sector : build_sector_graph(seed)) {
            const Grid grid = sector.collision(false);
            const std::vector<std::uint16_t> cells = spawn_cells(sector);
            ASSERT_EQ(cells.size(), 8u);
            EXPECT_EQ(cells.front(), (sector.spawn_y >> 8) * 32 + (sector.spawn_x >> 8));
            for (std::uint32_t slot = 0; slot < 10; ++slot) {
                const Player p = spawn_player(sector, slot, Player{});
                EXPECT_TRUE(body_clear(grid, p.x, p.y));
                EXPECT_EQ(p.x % 256, 0); // carried exactly by the commit record
                EXPECT_EQ(p.y % 256, 0);
                for (const Portal& portal : sector.portals) {
                    const int dx = std::abs(static_cast<int>(p.x >> 16) - portal.cell % 32);
                    const int dy = std::abs(static_cast<int>(p.y >> 16) - portal.cell / 32);
                    EXPECT_GT(dx + dy, 1) << "sector " << sector.id;
                }
            }
        }
    }
}

TEST(ServerSectorGraph, SpawnKeepsThePlayersOtherState) {
    const Sector sector = build_sector_graph(3)[0];
    Player player;
    player.health = 40;
    player.ammo = 7;
    player.vx = 5000;
    player.weapon = 3;
    const Player placed = spawn_player(sector, 1, player);
    EXPECT_EQ(placed.health, 40);
    EXPECT_EQ(placed.ammo, 7);
    EXPECT_EQ(placed.weapon, 3);
    EXPECT_EQ(placed.vx, 0);
    EXPECT_EQ(placed.x, (spawn_cells(sector)[1] % 32) * 65536 + 32768);
}

TEST(ServerSectorGraph, PortalAtFindsTheCellUnderThePoint) {
    const Sector sector = build_sector_graph(3)[0];
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
