// One replicated entity as snapshots carry it. It begins with the Player state, so the
// client's own record can be handed to prediction as it is.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/codec.h"
#include "protocol/player.h"

namespace kestrel {

inline constexpr std::size_t entity_record_size = 40;

struct ReplicatedEntity : Player {
    std::uint16_t height = 0; // 1/256 cell above the floor; the wire bits, read as signed later
    std::uint16_t type = 0;   // sub-type within the kind
    std::uint16_t state = 0;  // kind-specific; a player's suit colour
    std::uint16_t entity_weapon = 1; // the record's copy of Player::weapon
    std::uint8_t kind = 1;           // 1..18: 1 player, 4 projectile
    std::uint8_t flags = 1;          // below 8; bit 2 is also tick_event

    friend bool operator==(const ReplicatedEntity&, const ReplicatedEntity&) = default;
};

// Reads exactly one 40-byte record; the caller decides what may follow it.
ReplicatedEntity read_entity(Reader& reader);

// Appends one 40-byte record. Positions and velocities lose their low 8 bits, the vertical
// velocity is 0, the weapon is Player::weapon and tick_event is merged into flags bit 2.
// Checks nothing.
void write_entity(Writer& out, const ReplicatedEntity& entity);

} // namespace kestrel
