#include "server/snapshots.h"

namespace kestrel {
namespace {

std::uint32_t earlier(std::uint32_t a, std::uint32_t b) {
    return is_newer(a, b) ? b : a;
}

} // namespace

std::uint32_t snapshot_tick(std::uint32_t server_tick, std::uint32_t epoch_tick,
                            const InputQueue& inputs) {
    std::uint32_t tick =
        earlier(server_tick, inputs.applied != 0 ? inputs.applied_tick : epoch_tick);
    if (const auto waiting = inputs.earliest_waiting_tick()) tick = earlier(tick, *waiting - 1);
    return tick;
}

std::vector<ReplicatedEntity> interest_set(const WorldState& world, const PlayerState& viewer) {
    std::vector<ReplicatedEntity> entities;
    entities.push_back(player_record(viewer));
    for (const PlayerState& other : world.players) {
        if (entities.size() >= max_interest) break;
        if (other.id != viewer.id && other.placed() && other.sector == viewer.sector)
            entities.push_back(player_record(other));
    }
    for (const Entity& entity : world.entities) {
        if (entities.size() >= max_interest) break;
        if (entity.sector == viewer.sector) entities.push_back(entity.record);
    }
    return entities;
}

Snapshot build_snapshot(const WorldState& world, const PlayerState& viewer, std::uint32_t id,
                        std::uint32_t tick, std::uint32_t input_ack, std::uint32_t epoch) {
    Snapshot snapshot;
    snapshot.id = id;
    snapshot.tick = tick;
    snapshot.input_ack = input_ack;
    snapshot.viewer = viewer.id;
    snapshot.epoch = epoch;
    snapshot.sector = viewer.sector;
    if (const Sector* sector = find_sector(world, viewer.sector))
        snapshot.revision = sector->revision;
    snapshot.entities = interest_set(world, viewer);
    return snapshot;
}

} // namespace kestrel
