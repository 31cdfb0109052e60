#include "protocol/entity.h"

#include <stdexcept>
#include <string>

namespace kestrel {

namespace {

constexpr std::uint8_t tick_event_bit = 0x04;

} // namespace

// Entity record, 40 bytes:
//
//   offset size field
//        0    4 id               not 0
//        4    2 x                1/256 cell, below 8192; stored shifted left by 8
//        6    2 y                likewise
//        8    2 height
//       10    2 yaw
//       12    2 vx               signed 1/256 cell per second; sign-extended, shifted by 8
//       14    2 vy               likewise
//       16    2 vertical speed   read and dropped
//       18    2 health
//       20    2 type
//       22    1 kind             1..18
//       23    1 flags            below 8; bit 2 sets tick_event
//       24    2 state
//       26    2 weapon           1..4, stored in weapon and entity_weapon
//       28    2 ammo
//       30    2 cooldown
//       32    2 boost_value      at most 200  -+
//       34    2 dash_cooldown    at most 90    |  "invalid player boost", judged
//       36    2 boost_ticks      at most 900   |  before the identity fields
//       38    2 boost            at most 4    -+
ReplicatedEntity read_entity(Reader& reader) {
    ReplicatedEntity entity;
    entity.id = reader.u32();
    const std::uint16_t wire_x = reader.u16();
    const std::uint16_t wire_y = reader.u16();
    entity.x = static_cast<std::int32_t>(wire_x) << 8;
    entity.y = static_cast<std::int32_t>(wire_y) << 8;
    entity.height = reader.u16();
    entity.yaw = reader.u16();
    entity.vx = static_cast<std::int32_t>(reader.i16()) * 256;
    entity.vy = static_cast<std::int32_t>(reader.i16()) * 256;
    reader.u16(); // vertical speed: the client simulates no vertical motion
    entity.health = reader.u16();
    entity.type = reader.u16();
    entity.kind = reader.u8();
    entity.flags = reader.u8();
    entity.state = reader.u16();
    entity.weapon = reader.u16();
    entity.entity_weapon = entity.weapon;
    entity.ammo = reader.u16();
    entity.cooldown = reader.u16();
    entity.boost_value = reader.u16();
    entity.dash_cooldown = reader.u16();
    entity.boost_ticks = reader.u16();
    entity.boost = reader.u16();

    if (entity.boost_value > 200 || entity.dash_cooldown > 90 || entity.boost_ticks > 900 ||
        entity.boost > 4)
        throw std::runtime_error("invalid player boost");
    entity.tick_event = (entity.flags & tick_event_bit) != 0;
    if (wire_x >= 8192 || entity.id == 0 || wire_y >= 8192 || entity.kind < 1 || entity.kind > 18 ||
        entity.weapon < 1 || entity.weapon > 4 || entity.flags >= 8)
        throw std::runtime_error(
            "invalid entity record id=" + std::to_string(entity.id) +
            " kind=" + std::to_string(entity.kind) + " weapon=" + std::to_string(entity.weapon) +
            " x=" + std::to_string(entity.x) + " y=" + std::to_string(entity.y) +
            " flags=" + std::to_string(entity.flags));
    return entity;
}

void write_entity(Writer& out, const ReplicatedEntity& entity) {
    out.u32(entity.id);
    out.u16(static_cast<std::uint16_t>(entity.x >> 8));
    out.u16(static_cast<std::uint16_t>(entity.y >> 8));
    out.u16(entity.height);
    out.u16(entity.yaw);
    out.u16(static_cast<std::uint16_t>(entity.vx >> 8));
    out.u16(static_cast<std::uint16_t>(entity.vy >> 8));
    out.u16(0);
    out.u16(entity.health);
    out.u16(entity.type);
    out.u8(entity.kind);
    out.u8(static_cast<std::uint8_t>(entity.flags | (entity.tick_event ? tick_event_bit : 0)));
    out.u16(entity.state);
    out.u16(entity.weapon);
    out.u16(entity.ammo);
    out.u16(entity.cooldown);
    out.u16(entity.boost_value);
    out.u16(entity.dash_cooldown);
    out.u16(entity.boost_ticks);
    out.u16(entity.boost);
}

} // namespace kestrel
