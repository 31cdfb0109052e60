#include "server/core.h"

#include <algorithm>
#include <exception>

#include "protocol/credentials.h"
#include "server/sector_graph.h"
#include "server/snapshots.h"
#include "session/handoff_messages.h"
#include "world/map_transfer.h"
#include "world/movement.h"

namespace kestrel {
namespace {

ClientSession* find_session(ServerCore& core, PeerId peer) {
    for (ClientSession& session : core.sessions)
        if (session.peer == peer) return &session;
    return nullptr;
}

void drop(ServerCore& core, ClientSession& session) {
    if (session.disconnect) return;
    session.disconnect = true;
    core.drops.push_back(session.peer);
}

// --- faults ------------------------------------------------------------------------------

bool fault_due(const ServerCore& core, const ClientSession& session, FaultMoment moment) {
    return core.fault != nullptr && core.fault->moment == moment && !session.fault_done;
}

FaultContext fault_context(const ServerCore& core, const ClientSession& session) {
    FaultContext context;
    context.session = session.session;
    context.epoch = session.epoch;
    context.player_id = session.player_id;
    context.tick = core.world.tick;
    context.token = core.token;
    if (session.handoff) {
        context.transition = session.handoff->transition;
        context.new_epoch = session.handoff->new_epoch;
        context.target = find_sector(core.world, session.handoff->target);
        context.player = session.handoff->spawn;
    }
    if (const PlayerState* player = find_player(core.world, session.player_id)) {
        if (!session.handoff) context.player = player->body;
        context.sector = find_sector(core.world, player->sector);
    }
    context.snapshot_tick = snapshot_tick(core.world.tick, session.epoch_tick, session.inputs);
    context.input_ack = session.inputs.applied;
    return context;
}

// Sends the fault's packets in place of (or after) what the moment would send.
void fire_fault(ServerCore& core, ClientSession& session, FaultContext context) {
    session.fault_done = true;
    ++core.counters.faults;
    FaultResult result = core.fault->build(context, session.sequence);
    for (Datagram& datagram : result.datagrams) session.out.push_back(std::move(datagram));
    if (result.disconnect) drop(core, session);
}

// --- the game's messages -----------------------------------------------------------------

struct Route {
    std::uint8_t channel;
    bool reliable;
};

Route route_of(Type type) {
    switch (type) {
    case Type::SectorStatus:
    case Type::AdventureState:
    case Type::ExpeditionState:
    case Type::SnapshotPart:
        return {1, false};
    case Type::MapChunk:
        return {2, true};
    default:
        return {0, true};
    }
}

void abort_handoff(ServerCore& core, ClientSession& session, AbortReason reason);

void route_messages(ServerCore& core, Outbox& box) {
    for (GameMessage& message : box) {
        const Route route = route_of(message.type);
        for (ClientSession& session : core.sessions) {
            const PlayerState* player = find_player(core.world, session.player_id);
            if (player == nullptr || session.disconnect) continue;
            // A player on its way into a patched sector would arrive with the old map.
            if (message.type == Type::MapPatch && session.handoff &&
                session.handoff->target == message.sector && session.handoff->announced) {
                abort_handoff(core, session, AbortReason::Unavailable);
                continue;
            }
            const bool addressed = message.player != 0
                                       ? message.player == session.player_id
                                       : player->placed() && player->sector == message.sector;
            if (!addressed || session.phase != Phase::Playing) continue;
            session.send(message.type, message.payload, route.channel, route.reliable);
            // Snapshots of the new revision wait until the client has the patch.
            if (message.type == Type::MapPatch) {
                session.out.back().receipt = ++session.receipts;
                session.unconfirmed_patches.push_back(session.receipts);
            }
        }
    }
    box.clear();
}

// --- admission ---------------------------------------------------------------------------

void admit(ServerCore& core, ClientSession& session) {
    do {
        core.entropy += 0x9E3779B97F4A7C15;
        session.session = mix64(core.entropy);
    } while (session.session == 0);
    session.epoch = 1;
    session.player_id = core.next_player_id++;
    session.phase = Phase::AwaitProfile;
    ++core.counters.clients;
    if (fault_due(core, session, FaultMoment::Welcome)) {
        fire_fault(core, session, fault_context(core, session));
        return;
    }
    session.send(Type::Welcome, welcome_payload(session.player_id, core.world.tick, core.token), 0,
                 true);
}

std::uint32_t free_slot(const WorldState& world) {
    for (std::uint32_t slot = 0;; ++slot) {
        const bool used = std::any_of(world.players.begin(), world.players.end(),
                                      [slot](const PlayerState& p) { return p.slot == slot; });
        if (!used) return slot;
    }
}

void reject(ServerCore& core, ClientSession& session, std::uint8_t code) {
    Writer payload;
    payload.u8(code);
    session.send(Type::ProfileError, payload, 0, true);
    session.phase = Phase::Rejected;
    ++core.counters.rejected;
}

// Profile payload: the 45-byte Credentials record (protocol/credentials.h).
void accept_profile(ServerCore& core, ClientSession& session, Reader& in) {
    Credentials profile;
    bool readable = true;
    try {
        profile = Credentials::read(in);
    } catch (const std::exception&) {
        readable = false;
    }
    const bool blank = std::all_of(profile.token.begin(), profile.token.end(),
                                   [](std::uint8_t byte) { return byte == 0; });
    if (fault_due(core, session, FaultMoment::Profile)) {
        fire_fault(core, session, fault_context(core, session));
        session.phase = Phase::Rejected;
        ++core.counters.rejected;
        return;
    }
    if (!readable || blank) return reject(core, session, 2);
    const bool in_use = std::any_of(
        core.world.players.begin(), core.world.players.end(),
        [&profile](const PlayerState& player) { return player.profile.token == profile.token; });
    if (in_use) return reject(core, session, 1);

    PlayerState player;
    player.id = session.player_id;
    player.slot = free_slot(core.world);
    player.profile = profile;
    player.body.id = session.player_id;
    core.world.players.push_back(player);
    session.phase = Phase::Joining;
    session.retry_tick = core.world.tick;
}

// --- handoffs ----------------------------------------------------------------------------

// The player exactly as the commit's entity record carries it (1/256 cell positions).
Player as_committed(Player player) {
    player.x &= ~0xFF;
    player.y &= ~0xFF;
    player.vx = 0;
    player.vy = 0;
    return player;
}

void send_chunks(ServerCore& core, ClientSession& session) {
    const Handoff& handoff = *session.handoff;
    if (handoff.first && fault_due(core, session, FaultMoment::Chunks))
        return fire_fault(core, session, fault_context(core, session));
    std::vector<Writer> chunks =
        map_chunks(handoff.transition, *find_sector(core.world, handoff.target));
    const FaultOptions& hooks = core.options.faults;
    if (hooks.reverse_chunks) std::reverse(chunks.begin(), chunks.end());
    for (const Writer& chunk : chunks) {
        session.send(Type::MapChunk, chunk, 2, true);
        if (hooks.duplicate_chunks) session.send(Type::MapChunk, chunk, 2, true);
    }
}

void announce(ServerCore& core, ClientSession& session) {
    Handoff& handoff = *session.handoff;
    handoff.announced = true;
    handoff.begun_tick = core.world.tick;
    session.send(Type::TransitionBegin,
                 transition_begin_payload(handoff.transition, handoff.target, handoff.new_epoch,
                                          ServerCore::handoff_window),
                 0, true);
    if (handoff.first && fault_due(core, session, FaultMoment::Begin))
        fire_fault(core, session, fault_context(core, session));
}

void start_handoff(ServerCore& core, ClientSession& session, PlayerState& player,
                   const Sector& target, const Player& spawn, bool first) {
    Handoff handoff;
    handoff.transition = core.next_transition++;
    handoff.target = target.id;
    handoff.new_epoch = next_epoch(session.epoch);
    handoff.revision = target.revision;
    handoff.crc = crc32(target.encode());
    handoff.begun_tick = core.world.tick;
    handoff.first = first;
    handoff.spawn = spawn;
    session.handoff = handoff;
    session.phase = Phase::Transit;
    session.inputs = InputQueue{};
    ++session.handoffs_begun;
    player.in_transit = true;
    if (core.options.faults.early_chunks) {
        send_chunks(core, session); // the announcement follows on the next tick
        return;
    }
    announce(core, session);
    send_chunks(core, session);
}

// A new epoch without an applied input: the snapshot tick stands at the epoch's start.
void begin_epoch(ServerCore& core, ClientSession& session, std::uint32_t epoch) {
    session.epoch = epoch;
    session.epoch_tick = core.world.tick;
    session.inputs = InputQueue{};
    session.handoff.reset();
}

void abort_handoff(ServerCore& core, ClientSession& session, AbortReason reason) {
    const Handoff handoff = *session.handoff;
    session.send_in(
        handoff.new_epoch, Type::TransitionAbort,
        transition_abort_payload(handoff.transition, static_cast<std::uint32_t>(reason)), 0, true);
    begin_epoch(core, session, handoff.new_epoch);
    ++session.aborts;
    ++core.counters.aborts;
    session.retry_tick = core.world.tick + ServerCore::retry_delay;
    PlayerState* player = find_player(core.world, session.player_id);
    player->in_transit = false;
    session.phase = player->sector != 0 ? Phase::Playing : Phase::Joining;
}

void commit_handoff(ServerCore& core, ClientSession& session) {
    const Handoff handoff = *session.handoff;
    PlayerState& player = *find_player(core.world, session.player_id);
    Player body = as_committed(handoff.spawn);
    body.id = session.player_id;

    if (handoff.first && fault_due(core, session, FaultMoment::Commit)) {
        FaultContext context = fault_context(core, session);
        context.player = body;
        fire_fault(core, session, context);
    } else {
        session.send_in(handoff.new_epoch, Type::TransitionCommit,
                        transition_commit_payload(handoff.transition, handoff.target,
                                                  handoff.new_epoch, core.world.tick, body),
                        0, true);
    }
    player.body = body;
    player.sector = handoff.target;
    player.in_transit = false;
    player.visited |= 1u << ((handoff.target - 1) % 32);
    begin_epoch(core, session, handoff.new_epoch);
    session.phase = Phase::Playing;
    session.committed_tick = core.world.tick;
    ++session.commits;
    ++core.counters.handoffs;

    Outbox box;
    game_enter(core.world, player, box);
    route_messages(core, box);
}

void on_ack(ServerCore& core, ClientSession& session, Reader& in) {
    const TransitionAck ack = read_transition_ack(in);
    // Every chunk that arrives after the map is complete brings another ack; only the
    // first one for the pending handoff counts.
    if (!session.handoff || !session.handoff->announced ||
        ack.transition != session.handoff->transition)
        return;
    const Handoff& handoff = *session.handoff;
    if (ack.sector != handoff.target || ack.revision != handoff.revision || ack.crc != handoff.crc)
        return abort_handoff(core, session, AbortReason::Mismatch);
    // The target was patched after its chunks went out (before the announcement, so no
    // abort was sent then): the client holds the old map.
    if (find_sector(core.world, handoff.target)->revision != handoff.revision)
        return abort_handoff(core, session, AbortReason::Unavailable);
    if (core.options.faults.abort_first_handoff && handoff.first && session.aborts == 0)
        return abort_handoff(core, session, AbortReason::Unavailable);
    commit_handoff(core, session);
}

// --- play --------------------------------------------------------------------------------

void on_inputs(ClientSession& session, const Header& header, Reader& in) {
    const std::vector<Input> commands = read_input_commands(in);
    // Commands of an earlier epoch were predicted in a sector the client has left.
    if (session.phase != Phase::Playing || header.epoch != session.epoch) return;
    for (const Input& command : commands) session.inputs.receive(command);
}

void on_command(ServerCore& core, ClientSession& session, Reader& in) {
    const ClientCommand command = read_client_command(in);
    PlayerState* player = find_player(core.world, session.player_id);
    if (player == nullptr) return;
    player->commands[static_cast<std::size_t>(command.code)] = command;
    Outbox box;
    game_command(core.world, *player, command, box);
    route_messages(core, box);
}

void apply_inputs(ServerCore& core, Outbox& box) {
    for (ClientSession& session : core.sessions) {
        if (session.phase != Phase::Playing) continue;
        PlayerState* player = find_player(core.world, session.player_id);
        if (player == nullptr || !player->placed()) continue;
        const Grid& grid = *find_grid(core.world, player->sector);
        const std::uint64_t skipped = session.inputs.skipped;
        for (const Input& input : session.inputs.take(core.world.tick)) {
            move(player->body, input, grid);
            ++core.counters.inputs;
            game_input(core.world, *player, input, box);
        }
        core.counters.skipped += session.inputs.skipped - skipped;
    }
}

void advance_handoffs(ServerCore& core) {
    const std::uint32_t now = core.world.tick;
    for (ClientSession& session : core.sessions) {
        if (session.disconnect) continue;
        PlayerState* player = find_player(core.world, session.player_id);
        if (player == nullptr) continue;
        if (session.phase == Phase::Joining && now - session.retry_tick < 0x80000000u) {
            const Sector& start = *find_sector(core.world, ServerCore::start_sector);
            Player fresh;
            fresh.id = session.player_id;
            start_handoff(core, session, *player, start, spawn_player(start, player->slot, fresh),
                          true);
        } else if (session.phase == Phase::Transit && session.handoff) {
            if (!session.handoff->announced) {
                announce(core, session);
            } else if (now - session.handoff->begun_tick > ServerCore::handoff_window) {
                abort_handoff(core, session, AbortReason::Timeout);
            }
        } else if (session.phase == Phase::Playing && player->placed() &&
                   player->body.health != 0 && now - session.retry_tick < 0x80000000u &&
                   game_portal_open(core.world, *player)) {
            const Sector& here = *find_sector(core.world, player->sector);
            const auto portal = portal_at(here, player->body.x, player->body.y);
            const Sector* target = portal ? find_sector(core.world, portal->target) : nullptr;
            if (target != nullptr)
                start_handoff(core, session, *player, *target,
                              spawn_player(*target, player->slot, player->body), false);
        }
    }
}

void send_snapshots(ServerCore& core) {
    const std::uint32_t now = core.world.tick;
    if (now % ServerCore::snapshot_interval != 0) return;
    for (ClientSession& session : core.sessions) {
        if (session.phase != Phase::Playing || session.disconnect) continue;
        if (!session.unconfirmed_patches.empty()) continue;
        const PlayerState* player = find_player(core.world, session.player_id);
        if (player == nullptr || !player->placed()) continue;
        const Snapshot snapshot =
            build_snapshot(core.world, *player, ++session.snapshot_id,
                           snapshot_tick(now, session.epoch_tick, session.inputs),
                           session.inputs.applied, session.epoch);
        for (const Writer& part : snapshot_part_payloads(snapshot))
            session.send(Type::SnapshotPart, part, 1, false);
        ++core.counters.snapshots;
    }
}

// The three records take turns, one every five ticks, each twice a second.
void send_meta_state(ServerCore& core) {
    const std::uint32_t now = core.world.tick;
    const std::uint32_t turn = now % ServerCore::meta_interval;
    if (turn % 5 != 0) return;
    for (ClientSession& session : core.sessions) {
        if (session.phase != Phase::Playing || session.disconnect) continue;
        const PlayerState* player = find_player(core.world, session.player_id);
        if (player == nullptr || !player->placed()) continue;
        if (turn == 0) {
            SectorStatus status = game_sector_status(core.world, *player);
            status.sequence = now;
            session.send(Type::SectorStatus, status.write(), 1, false);
        } else if (turn == 5) {
            AdventureState state = game_adventure(core.world, *player);
            state.sequence = now;
            session.send(Type::AdventureState, state.write(), 1, false);
        } else {
            ExpeditionState state = game_expedition(core.world, *player);
            state.sequence = now;
            session.send(Type::ExpeditionState, state.write(), 1, false);
        }
    }
}

void housekeeping(ServerCore& core) {
    const std::uint32_t now = core.world.tick;
    for (ClientSession& session : core.sessions) {
        if (session.disconnect) continue;
        if ((session.phase == Phase::AwaitHello || session.phase == Phase::AwaitProfile) &&
            now - session.connected_tick > ServerCore::admission_timeout) {
            drop(core, session);
            continue;
        }
        if (session.phase == Phase::Playing && session.commits > 0 && session.snapshot_id > 0 &&
            now - session.committed_tick >= ServerCore::fault_delay &&
            fault_due(core, session, FaultMoment::Playing)) {
            FaultContext context = fault_context(core, session);
            context.snapshot_id = ++session.snapshot_id; // later real snapshots stay newer
            fire_fault(core, session, context);
        }
    }
}

void handle(ServerCore& core, ClientSession& session, const Header& header, Reader& in,
            std::uint8_t channel) {
    switch (session.phase) {
    case Phase::AwaitHello: {
        bool valid = false;
        try {
            valid = valid_hello(header, in, channel);
        } catch (const std::exception&) {
        }
        if (!valid) {
            ++core.counters.rejected;
            drop(core, session);
            return;
        }
        return admit(core, session);
    }
    case Phase::Rejected:
        return;
    case Phase::AwaitProfile:
        if (header.type != Type::Profile || channel != 0 || header.session != session.session)
            break;
        return accept_profile(core, session, in);
    case Phase::Joining:
    case Phase::Transit:
    case Phase::Playing:
        if (header.session != session.session) break;
        if (header.type == Type::TransitionAck && channel == 0) return on_ack(core, session, in);
        if (header.type == Type::InputCommands && channel == 1)
            return on_inputs(session, header, in);
        if (header.type == Type::ClientCommand && channel == 0)
            return on_command(core, session, in);
        break;
    }
    ++core.counters.errors;
}

} // namespace

ServerCore::ServerCore(const ServerOptions& server_options, std::uint64_t seed_entropy)
    : options(server_options), world(make_world(server_options.seed)), entropy(seed_entropy) {
    if (!options.faults.fault.empty()) fault = find_fault(options.faults.fault);
    token = mix64(options.seed ^ 0x7E57AB1E) | 1;
    game_start(world, {options.enemies, options.items, options.crowd, options.fallen_crowd});
}

void ServerCore::connect(PeerId peer) {
    ClientSession session;
    session.peer = peer;
    session.connected_tick = world.tick;
    sessions.push_back(std::move(session));
}

void ServerCore::receive(PeerId peer, std::uint8_t channel, std::span<const std::uint8_t> bytes) {
    ClientSession* session = find_session(*this, peer);
    if (session == nullptr || session->disconnect) return;
    Reader in(bytes);
    try {
        const Header header = read_header(in);
        handle(*this, *session, header, in, channel);
    } catch (const std::exception&) {
        ++counters.errors; // every handler reads its whole payload before it changes anything
    }
}

void ServerCore::disconnect(PeerId peer) {
    const auto found = std::find_if(sessions.begin(), sessions.end(),
                                    [peer](const ClientSession& s) { return s.peer == peer; });
    if (found == sessions.end()) return;
    const std::uint32_t id = found->player_id;
    sessions.erase(found);
    const auto player = std::find_if(world.players.begin(), world.players.end(),
                                     [id](const PlayerState& p) { return p.id == id; });
    if (player == world.players.end()) return;
    Outbox box;
    game_leave(world, *player, box);
    world.players.erase(player);
    route_messages(*this, box);
}

void ServerCore::tick() {
    world.tick += 1;
    Outbox box;
    apply_inputs(*this, box);
    game_tick(world, box);
    route_messages(*this, box);
    advance_handoffs(*this);
    send_snapshots(*this);
    send_meta_state(*this);
    housekeeping(*this);
}

void ServerCore::confirm(PeerId peer, std::uint32_t receipt) {
    ClientSession* session = find_session(*this, peer);
    if (session == nullptr) return;
    std::erase(session->unconfirmed_patches, receipt);
}

void ServerCore::deliver(Outbox& box) {
    route_messages(*this, box);
}

std::vector<Outgoing> ServerCore::take_outgoing() {
    std::vector<Outgoing> out;
    for (ClientSession& session : sessions) {
        for (Datagram& datagram : session.out) out.push_back({session.peer, std::move(datagram)});
        session.out.clear();
    }
    return out;
}

std::vector<PeerId> ServerCore::take_drops() {
    std::vector<PeerId> out;
    out.swap(drops);
    return out;
}

} // namespace kestrel
