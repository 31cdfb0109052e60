#include "server/game_meta.h"

#include <algorithm>

#include "server/game_combat.h"
#include "server/game_crew.h"
#include "server/game_enemies.h"
#include "server/game_sector.h"
#include "server/game_space.h"
#include "server/game_world.h"
#include "server/sector_graph.h"

namespace kestrel {
namespace {

template <typename T>
T clamped(std::uint32_t value, std::uint32_t limit) {
    return static_cast<T>(std::min(value, limit));
}

const Entity* boss_here(const WorldState& world, std::uint64_t sector) {
    const Entity* boss = find_entity(world, sector_game(world, sector).boss);
    return boss != nullptr && boss->record.health != 0 ? boss : nullptr;
}

std::uint8_t danger(std::uint8_t challenge, std::uint8_t bonus_rounds) {
    static constexpr std::uint8_t levels[6] = {2, 5, 6, 4, 5, 9};
    return static_cast<std::uint8_t>(
        std::min(10, levels[std::min<int>(challenge, 5)] + bonus_rounds));
}

std::string message(const WorldState& world, const PlayerState& player, const SectorGame& game,
                    const Crew* crew) {
    if (player.body.health == 0) return "DOWN";
    if (game.sealed) return "LOCKDOWN";
    if (crew != nullptr && crew->vote_open) return "VOTE_NOW";
    if (boss_here(world, player.sector) != nullptr) return "SENTINEL";
    if (player.game.carrying != 0) return "ARTIFACT";
    return "";
}

} // namespace

SectorStatus sector_status(const WorldState& world, const PlayerState& player) {
    SectorStatus status;
    status.remaining = living_enemies(world, player.sector);
    const SectorGame& game = sector_game(world, player.sector);
    status.revive = clamped<std::uint16_t>(game.revive, revive_ticks);
    status.challenge = std::min<std::uint8_t>(game.challenge, 5);
    status.flags = static_cast<std::uint8_t>((game.cleared ? 1 : 0) | (game.cache_used ? 2 : 0) |
                                             (game.sealed ? 4 : 0) | (game.ambushed ? 8 : 0));
    return status;
}

AdventureState adventure_state(const WorldState& world, const PlayerState& player) {
    AdventureState state;
    const PlayerGame& mine = player.game;
    const SectorGame& game = sector_game(world, player.sector);
    const Crew* crew = find_crew(world, mine.crew);
    state.salvage_carried = mine.carried;
    state.salvage_banked = mine.banked;
    state.run_counter_a = mine.kills;
    state.run_counter_b = mine.deaths;
    state.carrier = game.carrier;

    std::uint32_t hunting = 0;
    for (const Entity& entity : world.entities)
        if (entity.sector == player.sector && entity.record.kind == entity_kind::enemy &&
            entity.record.health != 0 && entity.game.target != 0)
            ++hunting;
    if (boss_here(world, player.sector) != nullptr || hunting >= 4)
        state.mode = 3;
    else if (hunting > 0)
        state.mode = 1;
    else if (game.cleared) {
        state.mode = 2;
        state.timer = clamped<std::uint16_t>(game.reinforce_tick - world.tick, 0xFFFF);
        if (static_cast<std::int32_t>(game.reinforce_tick - world.tick) < 0) state.timer = 0;
    }

    if (game.objective != 0) {
        state.objective = game.objective;
        state.goal = game.goal;
        state.progress = std::min(game.progress, game.goal);
        std::int32_t x = centre_x(game.objective_cell);
        std::int32_t y = centre_y(game.objective_cell);
        if (const Entity* orb = find_entity(world, game.objective_entity))
            x = orb->record.x, y = orb->record.y;
        state.objective_x = wire_coordinate(x);
        state.objective_y = wire_coordinate(y);
        state.exit_x = wire_coordinate(centre_x(game.exit_cell));
        state.exit_y = wire_coordinate(centre_y(game.exit_cell));
        state.objective_flags =
            static_cast<std::uint8_t>((game.objective_done ? 1 : 0) | (exit_open(game) ? 2 : 0));
    }
    if (crew != nullptr && crew->ping_ticks != 0 && crew->ping_sector == player.sector) {
        state.ping_x = std::min<std::uint16_t>(crew->ping_x, 8191);
        state.ping_y = std::min<std::uint16_t>(crew->ping_y, 8191);
        state.ping_active = crew->ping_ticks;
        state.ping_kind = std::min<std::uint8_t>(crew->ping_kind, 3);
    }
    state.clip = player.body.ammo;
    state.reserve = mine.reserve;
    state.reload = mine.reload;
    state.banking = std::min(mine.banking, bank_ticks);
    state.color_index = std::min<std::uint8_t>(player.profile.color, 4);
    state.colors_unlocked = colors_unlocked(player);
    state.message = message(world, player, game, crew);

    for (const PlayerState& other : world.players) {
        if (other.id == player.id || !other.placed() || state.teammates.size() >= max_teammates)
            continue;
        Teammate mate;
        mate.id = other.id;
        mate.sector = other.sector;
        mate.x = wire_coordinate(other.body.x);
        mate.y = wire_coordinate(other.body.y);
        mate.health = std::min<std::uint16_t>(other.body.health, 100);
        mate.color = std::min<std::uint8_t>(other.profile.color, 4);
        mate.class_id =
            static_cast<std::uint8_t>(std::clamp<std::uint16_t>(other.body.weapon, 1, 4));
        mate.name = other.profile.name;
        state.teammates.push_back(mate);
    }
    return state;
}

ExpeditionState expedition_state(const WorldState& world, const PlayerState& player) {
    ExpeditionState state;
    const PlayerGame& mine = player.game;
    const Crew* crew = find_crew(world, mine.crew);
    const Crew none;
    const Crew& run = crew != nullptr ? *crew : none;
    const auto members = crew_members(world, mine.crew);

    state.run_id = run.run_id;
    state.salvage_banked = run.run_bank;
    state.secrets = run.run_secrets;
    state.objectives = run.run_objectives;
    state.revives = run.run_revives;
    if (run.run_id != 0)
        state.time_seconds =
            ((run.state == 1 ? world.tick : run.ended_tick) - run.started_tick) / 30;
    state.total_bank = mine.banked;
    state.total_objectives = mine.total_objectives;
    state.total_secrets = mine.total_secrets;
    const PlayerState* leader = crew_leader(world, mine.crew);
    if (leader != nullptr && !leader->profile.name.empty())
        state.leader_name = leader->profile.name;
    state.leader = leader == &player;
    state.current_sector = player.sector;
    state.contract_goal = run.goal;
    state.contract_progress = std::min(run.progress, run.goal);
    if (mine.banking != 0)
        state.extraction_timer =
            static_cast<std::uint16_t>(bank_ticks - std::min(mine.banking, bank_ticks));
    if (const Entity* boss = boss_here(world, player.sector)) {
        const std::uint16_t most = enemy_kind(sentinel).health;
        state.boss_health_max = most;
        state.boss_health = std::min(boss->record.health, most);
        state.boss_phase = state.boss_health > most * 2 / 3 ? 1
                           : state.boss_health > most / 3   ? 2
                                                            : 3;
        if (boss->game.attack != 0 && boss->game.attack <= volley_warning) {
            state.attack_warning = boss->game.attack;
            state.attack_kind =
                static_cast<std::uint8_t>(std::clamp<std::uint16_t>(boss->record.state, 1, 2));
        }
    }
    state.contract_kind = std::min<std::uint8_t>(run.contract, 3);
    state.contract_state = std::min<std::uint8_t>(run.state, 3);
    state.cosmetic_tier_before = std::min<std::uint8_t>(mine.tier_start, 4);
    state.cosmetic_tier_after = colors_unlocked(player);
    state.crew_code = mine.crew;
    state.crew_flag = members.size() > 1;
    state.risks = run.risks & 7;
    state.theme = static_cast<std::uint8_t>(find_sector(world, player.sector)->seed % 3);
    std::uint8_t present = 0;
    std::uint8_t staying = 0;
    for (const PlayerState* member : members) {
        if (state.crew.size() < max_crew)
            state.crew.push_back({member->profile.name, member->game.ready});
        if (!member->placed()) continue;
        ++present;
        if (member->game.vote == 2) ++staying;
    }
    state.owned_upgrades = mine.upgrades & 15;
    state.team_shot_charged = run.team_shot;
    state.revive_shield = std::min(mine.shield, revive_shield);
    state.vote_open = run.vote_open && run.vote_ticks != 0;
    state.vote_ticks = state.vote_open ? std::min(run.vote_ticks, vote_ticks) : 0;
    state.bonus_rounds = std::min<std::uint8_t>(run.bonus_rounds, 3);
    state.participants = std::min<std::uint8_t>(present, 64);
    state.votes_stay = std::min(staying, state.participants);
    state.upgrade_offers = upgrade_offers(player);

    std::uint32_t discovered = 0;
    for (const PlayerState* member : members) discovered |= member->visited;
    for (const Sector& sector : world.sectors) {
        if (state.navigation.size() >= max_navigation) break;
        const SectorGame& game = sector_game(world, sector.id);
        NavSector entry;
        entry.id = sector.id;
        entry.column = static_cast<std::uint16_t>(graph_column(sector.id));
        entry.row = static_cast<std::uint16_t>(graph_row(sector.id));
        const bool known = ((discovered | player.visited) >> ((sector.id - 1) % 32) & 1) != 0;
        std::uint8_t flags = known ? 1 : 0;
        if (known && game.cleared) flags |= 2;
        if (run.state == 1 && run.contract == 2 && run.progress < run.goal &&
            run.target_sector == sector.id)
            flags |= 8;
        if (run.waypoint == sector.id) flags |= 16;
        entry.flags = flags;
        entry.objective = game.objective_done ? 0 : std::min<std::uint8_t>(game.objective, 3);
        entry.danger = danger(game.challenge, run.bonus_rounds);
        for (const PlayerState* member : members)
            if (member->placed() && member->sector == sector.id && entry.teammates < 8)
                ++entry.teammates;
        state.navigation.push_back(entry);
    }
    return state;
}

} // namespace kestrel
