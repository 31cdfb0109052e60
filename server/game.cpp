#include "server/game.h"

#include <algorithm>
#include <stdexcept>

#include "server/sector_graph.h"
#include "world/map_transfer.h"

namespace kestrel {
namespace {

std::uint16_t wire(std::int32_t coordinate) {
    return static_cast<std::uint16_t>(coordinate >> 8);
}

} // namespace

void game_start(WorldState&, const GameSettings&) {}

void game_enter(WorldState&, PlayerState&, Outbox&) {}

void game_input(WorldState&, PlayerState&, const Input&, Outbox&) {}

void game_tick(WorldState&, Outbox&) {}

void game_command(WorldState&, PlayerState& player, const ClientCommand& command, Outbox&) {
    switch (command.code) {
    case CommandCode::JoinParty:
        if (!command.name.empty()) player.profile.name = command.name;
        player.profile.party = command.party;
        break;
    case CommandCode::Colour:
        player.profile.color = command.value;
        break;
    default:
        break;
    }
}

void game_leave(WorldState&, const PlayerState&, Outbox&) {}

SectorStatus game_sector_status(const WorldState& world, const PlayerState& player) {
    SectorStatus status;
    for (const Entity& entity : world.entities)
        if (entity.sector == player.sector && entity.record.kind == 2 && entity.record.health != 0)
            ++status.remaining;
    return status;
}

AdventureState game_adventure(const WorldState& world, const PlayerState& player) {
    AdventureState state;
    state.color_index = player.profile.color;
    state.clip = player.body.ammo;
    for (const PlayerState& other : world.players) {
        if (other.id == player.id || other.sector == 0 || state.teammates.size() >= max_teammates)
            continue;
        Teammate mate;
        mate.id = other.id;
        mate.sector = other.sector;
        mate.x = wire(other.body.x);
        mate.y = wire(other.body.y);
        mate.health = std::min<std::uint16_t>(other.body.health, 100);
        mate.color = other.profile.color;
        mate.name = other.profile.name;
        state.teammates.push_back(mate);
    }
    return state;
}

ExpeditionState game_expedition(const WorldState& world, const PlayerState& player) {
    ExpeditionState state;
    state.run_id = 1;
    state.current_sector = player.sector;
    // The party code is echoed: the client adopts whatever crew code it is told.
    state.crew_code = player.profile.party;
    const PlayerState* leader = world.players.empty() ? nullptr : &world.players.front();
    if (leader != nullptr) state.leader_name = leader->profile.name;
    state.leader = leader != nullptr && leader->id == player.id;
    for (const PlayerState& member : world.players) {
        if (state.crew.size() >= max_crew) break;
        state.crew.push_back({member.profile.name, member.sector != 0});
    }
    state.participants = static_cast<std::uint8_t>(state.crew.size());
    for (const Sector& sector : world.sectors) {
        if (state.navigation.size() >= max_navigation) break;
        NavSector entry;
        entry.id = sector.id;
        entry.column = static_cast<std::uint16_t>(graph_column(sector.id));
        entry.row = static_cast<std::uint16_t>(graph_row(sector.id));
        entry.flags = (player.visited >> (sector.id - 1) & 1) != 0 ? 1 : 0;
        for (const PlayerState& other : world.players)
            if (other.sector == sector.id && entry.teammates < 8) ++entry.teammates;
        state.navigation.push_back(entry);
    }
    return state;
}

void change_cell(WorldState& world, std::uint64_t sector_id, std::uint16_t cell, std::uint8_t tile,
                 Outbox& out) {
    const Sector* current = find_sector(world, sector_id);
    if (current == nullptr || cell >= cell_count) throw std::runtime_error("invalid map patch");
    Sector patched = *current;
    patched.cells[cell] = tile;
    patched.revision += 1;
    Writer payload = map_patch_payload(patched, cell); // validates through encode
    replace_sector(world, patched);
    out.push_back({0, sector_id, Type::MapPatch, std::move(payload)});
}

} // namespace kestrel
