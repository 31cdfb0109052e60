#include "session/handoff_messages.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/entity.h"

namespace kestrel {
namespace {

constexpr std::size_t part_entities = (max_payload_size - 32) / entity_record_size; // 23

} // namespace

Writer welcome_payload(std::uint32_t player_id, std::uint32_t server_tick, std::uint64_t token) {
    Writer out;
    out.u32(player_id);
    out.u16(tick_rate);
    out.u16(snapshot_rate);
    out.u32(server_tick);
    out.u32(ruleset);
    out.u64(token);
    return out;
}

Writer transition_begin_payload(std::uint64_t transition, std::uint64_t sector,
                                std::uint32_t new_epoch, std::uint32_t window) {
    Writer out;
    out.u64(transition);
    out.u64(sector);
    out.u32(new_epoch);
    out.u32(window);
    return out;
}

Writer transition_commit_payload(std::uint64_t transition, std::uint64_t sector,
                                 std::uint32_t new_epoch, std::uint32_t server_tick,
                                 const Player& player) {
    ReplicatedEntity record;
    static_cast<Player&>(record) = player;
    record.height = 0;
    record.type = 0;
    record.state = 0;
    record.kind = 1;
    record.flags = 0; // write_entity adds tick_event as bit 2
    Writer out;
    out.u64(transition);
    out.u64(sector);
    out.u32(new_epoch);
    out.u32(server_tick);
    write_entity(out, record);
    return out;
}

Writer transition_abort_payload(std::uint64_t transition, std::uint32_t reason) {
    Writer out;
    out.u64(transition);
    out.u32(reason);
    out.u32(0);
    return out;
}

std::vector<Writer> snapshot_part_payloads(const Snapshot& snapshot) {
    const std::size_t total = snapshot.entities.size();
    if (total == 0 || total > 16 * part_entities)
        throw std::runtime_error("invalid snapshot interest set");
    const std::size_t count = (total + part_entities - 1) / part_entities;
    std::vector<Writer> parts(count);
    for (std::size_t index = 0; index < count; ++index) {
        const std::size_t begin = index * part_entities;
        const std::size_t end = std::min(total, begin + part_entities);
        Writer& out = parts[index];
        out.bytes.reserve(32 + (end - begin) * entity_record_size);
        out.u32(snapshot.id);
        out.u32(snapshot.tick);
        out.u32(snapshot.input_ack);
        out.u32(snapshot.revision);
        out.u64(snapshot.sector);
        out.u32(snapshot.viewer);
        out.u16(static_cast<std::uint16_t>(end - begin));
        out.u8(static_cast<std::uint8_t>(index));
        out.u8(static_cast<std::uint8_t>(count));
        for (std::size_t i = begin; i < end; ++i) write_entity(out, snapshot.entities[i]);
    }
    return parts;
}

} // namespace kestrel
