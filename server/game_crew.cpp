#include "server/game_crew.h"

#include <algorithm>
#include <bit>

#include "server/game_combat.h"
#include "server/game_enemies.h"
#include "server/game_events.h"
#include "server/game_sector.h"
#include "server/game_space.h"
#include "server/game_world.h"
#include "server/sector_graph.h"

namespace kestrel {
namespace {

constexpr std::uint16_t risk_bonus = 25;
constexpr std::uint16_t bonus_salvage = 25;

CombatEvent crew_event(std::uint32_t tick, std::uint8_t kind, std::uint16_t value) {
    return {tick, 0, 0, 0, kind, value};
}

void tell_crew(WorldState& world, const std::string& code, const CombatEvent& event, Outbox& out) {
    for (const PlayerState* member : crew_members(world, code))
        send_event(out, member->id, member->sector, event);
}

bool code_in_use(const WorldState& world, const std::string& code) {
    return find_crew(world, code) != nullptr ||
           std::any_of(world.players.begin(), world.players.end(),
                       [&code](const PlayerState& p) { return p.game.crew == code; });
}

std::string generated_code(WorldState& world, const PlayerState& player) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (;;) {
        ++world.game.crews_made;
        std::uint64_t value = mix64(world.seed ^ (std::uint64_t{world.game.crews_made} << 32) ^
                                    player.id ^ 0xC3E4C0DE);
        std::string code = "C";
        for (int i = 0; i < 7; ++i, value /= 36) code.push_back(digits[value % 36]);
        if (!code_in_use(world, code)) return code;
    }
}

void join(WorldState& world, PlayerState& player, const std::string& code) {
    if (code == player.game.crew) return;
    player.game.crew = code;
    player.game.ready = false;
    player.game.vote = 0;
    player.profile.party = code;
    crew_of(world, code);
}

void end_contract(WorldState& world, Crew& crew, std::uint8_t state, Outbox& out) {
    crew.state = state;
    crew.ended_tick = world.tick;
    crew.vote_open = false;
    crew.vote_ticks = 0;
    crew.bonus_wave = false;
    const std::string code = crew.code;
    const std::uint32_t bonus =
        state == 2 ? risk_bonus * static_cast<std::uint32_t>(std::popcount(crew.risks)) : 0;
    for (PlayerState& player : world.players) {
        if (player.game.crew != code) continue;
        bank_salvage(world, player, out);
        player.game.banked += bonus;
        crew_of(world, code).run_bank += bonus;
        player.game.upgrades = 0; // upgrades last one expedition
        player.game.upgrade_credits = 0;
        player.game.vote = 0;
    }
    tell_crew(world, code, crew_event(world.tick, combat::contract, state), out);
}

void start_contract(WorldState& world, PlayerState& leader, std::uint8_t kind, Outbox& out) {
    Crew& crew = crew_of(world, leader.game.crew);
    crew.run_id += 1;
    crew.contract = kind;
    crew.state = 1;
    crew.progress = 0;
    crew.goal = kind == 1 ? 3 : kind == 2 ? 1 : 250;
    crew.started_tick = world.tick;
    crew.ended_tick = 0;
    crew.run_bank = crew.run_secrets = crew.run_objectives = crew.run_revives = 0;
    crew.run_artifacts = 0;
    crew.bonus_rounds = 0;
    crew.bonus_wave = false;
    crew.vote_open = false;
    crew.vote_ticks = 0;
    // The sentinel waits across the world from where the contract was taken.
    crew.target_sector =
        graph_sector_id(graph_column(leader.sector) + 2, graph_row(leader.sector) + 2);
    for (PlayerState& player : world.players)
        if (player.game.crew == crew.code) {
            player.game.tier_start = colors_unlocked(player);
            player.game.vote = 0;
        }
    tell_crew(world, crew.code, crew_event(world.tick, combat::contract, 1), out);
}

void ping(WorldState& world, PlayerState& player, Outbox& out) {
    if (!player.placed()) return;
    const std::int32_t x = player.body.x;
    const std::int32_t y = player.body.y;
    std::uint8_t kind = 0;
    for (const Entity& entity : world.entities) {
        if (entity.sector != player.sector) continue;
        const double d = distance_cells(x, y, entity.record.x, entity.record.y);
        if (entity.record.kind == entity_kind::enemy && entity.record.health != 0 && d <= 6.0)
            kind = 1;
        else if (kind == 0 && entity.record.kind == entity_kind::pickup && d <= 4.0)
            kind = 2;
    }
    if (kind == 0)
        for (const Portal& portal : find_sector(world, player.sector)->portals)
            if (distance_cells(x, y, centre_x(portal.cell), centre_y(portal.cell)) <= 4.0) kind = 3;
    Crew& crew = crew_of(world, player.game.crew);
    crew.ping_sector = player.sector;
    crew.ping_x = wire_coordinate(x);
    crew.ping_y = wire_coordinate(y);
    crew.ping_ticks = ping_ticks;
    crew.ping_kind = kind;
    for (const PlayerState* member : crew_members(world, crew.code))
        if (member->placed() && member->sector == player.sector)
            send_event(out, member->id, member->sector,
                       {world.tick, player.id, crew.ping_x, crew.ping_y, combat::ping, kind});
}

void vote(WorldState& world, PlayerState& player, std::uint8_t choice, Outbox& out) {
    Crew& crew = crew_of(world, player.game.crew);
    if (!crew.vote_open) return;
    player.game.vote = choice;
    if (choice == 1) {
        tell_crew(world, crew.code, crew_event(world.tick, combat::vote, 3), out);
        return end_contract(world, crew, 2, out);
    }
    std::vector<std::uint64_t> sectors;
    for (const PlayerState* member : crew_members(world, crew.code)) {
        if (!member->placed()) continue;
        if (member->game.vote != 2) return; // not everyone has voted to stay yet
        if (std::find(sectors.begin(), sectors.end(), member->sector) == sectors.end())
            sectors.push_back(member->sector);
    }
    crew.vote_open = false;
    crew.vote_ticks = 0;
    crew.bonus_rounds += 1;
    crew.bonus_wave = true;
    const std::string code = crew.code;
    for (PlayerState& member : world.players)
        if (member.game.crew == code) member.game.vote = 0;
    tell_crew(world, code, crew_event(world.tick, combat::vote, 2), out);
    if (world.game.enemies > 0)
        for (const std::uint64_t sector : sectors) spawn_wave(world, sector);
}

void arrive_sentinel(WorldState& world, const Crew& crew) {
    if (crew.contract != 2 || crew.progress >= crew.goal || world.game.enemies == 0) return;
    const std::uint64_t sector = crew.target_sector;
    if (sector_game(world, sector).boss != 0) return;
    const bool there =
        std::any_of(world.players.begin(), world.players.end(), [&](const PlayerState& p) {
            return p.placed() && p.sector == sector && p.game.crew == crew.code;
        });
    if (!there) return;
    const std::uint16_t cell = sector_game(world, sector).objective_cell;
    Entity& boss = spawn_enemy(world, sector, sentinel, centre_x(cell), centre_y(cell), false);
    boss.record.state = 1;
    boss.game.attack = enemy_kind(sentinel).interval;
    sector_game(world, sector).boss = boss.record.id;
}

} // namespace

void assign_crew(WorldState& world, PlayerState& player) {
    if (!player.game.crew.empty()) return;
    join(world, player,
         player.profile.party.empty() ? generated_code(world, player) : player.profile.party);
}

std::vector<const PlayerState*> crew_members(const WorldState& world, const std::string& code) {
    std::vector<const PlayerState*> members;
    for (const PlayerState& player : world.players)
        if (!code.empty() && player.game.crew == code) members.push_back(&player);
    return members;
}

const PlayerState* crew_leader(const WorldState& world, const std::string& code) {
    const auto members = crew_members(world, code);
    return members.empty() ? nullptr : members.front();
}

std::array<std::uint8_t, 3> upgrade_offers(const PlayerState& player) {
    std::array<std::uint8_t, 3> offers{};
    std::size_t next = 0;
    for (std::uint8_t upgrade = 1; upgrade <= 4 && next < offers.size(); ++upgrade)
        if ((player.game.upgrades & (1u << (upgrade - 1))) == 0) offers[next++] = upgrade;
    return offers;
}

void crew_command(WorldState& world, PlayerState& player, const ClientCommand& command,
                  Outbox& out) {
    assign_crew(world, player);
    Crew& crew = crew_of(world, player.game.crew);
    const bool leader = crew_leader(world, crew.code) == &player;
    switch (command.code) {
    case CommandCode::JoinParty:
        if (!command.name.empty()) player.profile.name = command.name;
        join(world, player, command.party.empty() ? generated_code(world, player) : command.party);
        break;
    case CommandCode::Colour:
        if (command.value <= colors_unlocked(player)) player.profile.color = command.value;
        break;
    case CommandCode::Ping:
        ping(world, player, out);
        break;
    case CommandCode::Reload:
        start_reload(player);
        break;
    case CommandCode::AccountLink:
        break; // no accounts here: the link code is accepted and forgotten
    case CommandCode::Contract: {
        if (!leader || !player.placed() || crew.state == 1 || command.value < 1 ||
            command.value > 3)
            break;
        if (command.value == 2 && world.game.enemies == 0) break; // no sentinel without enemies
        const auto members = crew_members(world, crew.code);
        if (!std::all_of(members.begin(), members.end(),
                         [](const PlayerState* member) { return member->game.ready; }))
            break;
        start_contract(world, player, command.value, out);
        break;
    }
    case CommandCode::ShareDestination:
        if (command.sector == 0 || find_sector(world, command.sector) == nullptr) break;
        crew.waypoint = crew.waypoint == command.sector ? 0 : command.sector;
        break;
    case CommandCode::CrewCreate: {
        const std::string before = player.game.crew;
        join(world, player, generated_code(world, player));
        player.game.previous_crew = before;
        break;
    }
    case CommandCode::CrewJoin:
        player.game.ready = !player.game.ready;
        break;
    case CommandCode::CrewLeave:
        if (!player.game.previous_crew.empty()) {
            const std::string back = player.game.previous_crew;
            player.game.previous_crew = player.game.crew;
            join(world, player, back);
        }
        break;
    case CommandCode::Risk:
        if (leader && crew.state != 1) crew.risks ^= command.value & 7;
        break;
    case CommandCode::Upgrade: {
        if (command.value < 1 || command.value > 3 || player.game.upgrade_credits == 0) break;
        const std::uint8_t offer = upgrade_offers(player)[command.value - 1];
        if (offer == 0) break;
        player.game.upgrades |= static_cast<std::uint8_t>(1u << (offer - 1));
        --player.game.upgrade_credits;
        send_event(out, player.id, player.sector,
                   {world.tick, player.id, wire_coordinate(player.body.x),
                    wire_coordinate(player.body.y), combat::upgrade, offer});
        break;
    }
    case CommandCode::Vote:
        vote(world, player, command.value, out);
        break;
    }
}

void crews_tick(WorldState& world, Outbox& out) {
    for (std::size_t i = 0; i < world.game.crews.size(); ++i) {
        Crew& crew = world.game.crews[i];
        if (crew.ping_ticks != 0) --crew.ping_ticks;
        if (crew.state != 1) continue;
        if (world.tick - crew.started_tick >= contract_limit) {
            end_contract(world, world.game.crews[i], 3, out);
            continue;
        }
        if (crew.contract == 1)
            crew.progress =
                static_cast<std::uint16_t>(std::min<std::uint32_t>(crew.goal, crew.run_artifacts));
        if (crew.contract == 3)
            crew.progress =
                static_cast<std::uint16_t>(std::min<std::uint32_t>(crew.goal, crew.run_bank));
        arrive_sentinel(world, world.game.crews[i]);
        Crew& now = world.game.crews[i];
        if (now.vote_open) {
            if (now.vote_ticks != 0) --now.vote_ticks;
            if (now.vote_ticks == 0) end_contract(world, now, 2, out); // leaving is the default
            continue;
        }
        if (now.bonus_wave || now.progress < now.goal) continue;
        if (now.bonus_rounds >= 3) {
            end_contract(world, now, 2, out);
            continue;
        }
        now.vote_open = true;
        now.vote_ticks = vote_ticks;
        for (PlayerState& player : world.players)
            if (player.game.crew == now.code) player.game.vote = 0;
        tell_crew(world, now.code, crew_event(world.tick, combat::vote, 1), out);
    }
}

void wave_cleared(WorldState& world, std::uint64_t sector, Outbox& out) {
    for (Crew& crew : world.game.crews) {
        if (!crew.bonus_wave) continue;
        bool here = false;
        for (PlayerState& player : world.players) {
            if (!player.placed() || player.sector != sector || player.game.crew != crew.code)
                continue;
            here = true;
            player.game.carried += bonus_salvage;
            send_event(out, player.id, sector,
                       {world.tick, player.id, wire_coordinate(player.body.x),
                        wire_coordinate(player.body.y), combat::salvage, bonus_salvage});
        }
        if (here) crew.bonus_wave = false;
    }
}

} // namespace kestrel
