#include "server/world_state.h"

#include "server/sector_graph.h"

namespace kestrel {

WorldState make_world(std::uint64_t seed) {
    WorldState world;
    world.seed = seed;
    world.sectors = build_sector_graph(seed);
    for (const Sector& sector : world.sectors) world.grids.push_back(sector.collision(false));
    return world;
}

const Sector* find_sector(const WorldState& world, std::uint64_t id) {
    if (id == 0 || id > world.sectors.size()) return nullptr;
    return &world.sectors[id - 1];
}

const Grid* find_grid(const WorldState& world, std::uint64_t id) {
    if (id == 0 || id > world.grids.size()) return nullptr;
    return &world.grids[id - 1];
}

PlayerState* find_player(WorldState& world, std::uint32_t id) {
    for (PlayerState& player : world.players)
        if (player.id == id) return &player;
    return nullptr;
}

const PlayerState* find_player(const WorldState& world, std::uint32_t id) {
    for (const PlayerState& player : world.players)
        if (player.id == id) return &player;
    return nullptr;
}

void replace_sector(WorldState& world, const Sector& sector) {
    if (find_sector(world, sector.id) == nullptr) return;
    world.sectors[sector.id - 1] = sector;
    world.grids[sector.id - 1] = sector.collision(false);
}

std::int32_t record_coordinate(std::int32_t value) {
    if ((value & 0xFF) == 0) return value;
    const bool first_half = (value & 0xFFFF) < 0x8000; // the centre is a multiple of 256
    return first_half ? (value | 0xFF) + 1 : value & ~0xFF;
}

ReplicatedEntity player_record(const PlayerState& player) {
    ReplicatedEntity record;
    static_cast<Player&>(record) = player.body;
    record.x = record_coordinate(player.body.x);
    record.y = record_coordinate(player.body.y);
    record.height = 0;
    record.type = 0;
    record.state = player.profile.color;
    record.entity_weapon = player.body.weapon;
    record.kind = 1;
    record.flags = 1;
    return record;
}

std::uint32_t allocate_entity_id(WorldState& world) {
    return world.next_entity_id++;
}

} // namespace kestrel
