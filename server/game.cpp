#include "server/game.h"

#include <stdexcept>

#include "server/game_combat.h"
#include "server/game_crew.h"
#include "server/game_crowd.h"
#include "server/game_enemies.h"
#include "server/game_meta.h"
#include "server/game_sector.h"
#include "server/game_world.h"
#include "world/map_transfer.h"

namespace kestrel {

void game_start(WorldState& world, const GameSettings& settings) {
    populate(world, settings);
    crowd_start(world, settings.crowd, settings.fallen_crowd);
}

void game_enter(WorldState& world, PlayerState& player, Outbox& out) {
    assign_crew(world, player);
    deliver_artifact(world, player, out);
}

void game_input(WorldState& world, PlayerState& player, const Input& input, Outbox& out) {
    fire(world, player, input.buttons, out);
    use_and_choose(world, player, input.buttons, out);
}

// Enemies act first, then what they fired flies and the crowd strolls; then the players'
// own upkeep and what they touch, then each sector takes stock (a wave just cleared, a
// lockdown), the dead enemies fade, and the crews count their contracts.
void game_tick(WorldState& world, Outbox& out) {
    for (const Sector& sector : world.sectors)
        if (occupied(world, sector.id)) enemies_tick(world, sector.id, out);
    projectiles_tick(world, out);
    crowd_tick(world);
    mines_tick(world, out);
    players_tick(world, out);
    for (PlayerState& player : world.players) touch_tick(world, player, out);
    for (std::size_t i = 0; i < world.sectors.size(); ++i)
        sector_tick(world, world.sectors[i].id, out);
    corpses_tick(world);
    crews_tick(world, out);
}

void game_command(WorldState& world, PlayerState& player, const ClientCommand& command,
                  Outbox& out) {
    crew_command(world, player, command, out);
}

bool game_portal_open(const WorldState& world, const PlayerState& player) {
    return player.sector == 0 || !sector_game(world, player.sector).sealed;
}

void game_leave(WorldState& world, const PlayerState& player, Outbox&) {
    PlayerState leaving = player;
    return_artifact(world, leaving);
}

SectorStatus game_sector_status(const WorldState& world, const PlayerState& player) {
    return sector_status(world, player);
}

AdventureState game_adventure(const WorldState& world, const PlayerState& player) {
    return adventure_state(world, player);
}

ExpeditionState game_expedition(const WorldState& world, const PlayerState& player) {
    return expedition_state(world, player);
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
