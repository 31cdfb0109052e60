// One entity as the renderer draws it: a foot position in cells plus the few record fields
// the entity models read. Filled by remote interpolation and the frame builder.
#pragma once

#include <cstdint>

namespace kestrel {

struct DrawEntity {
    float x = 0; // foot position in world units (cells); z is the bottom of the sprite
    float y = 0;
    float z = 0;
    // Carried along for the frame builder and automation, never read when drawing.
    float yaw = 0;            // heading in 1/65536 turn, not wrapped into 0..65535
    std::uint32_t id = 0;     // entity identity
    std::uint16_t health = 0; // 0 = dead: corpse shape, death effects
    std::uint16_t type = 0;   // sub-type within a kind
    std::uint8_t kind = 0;    // 1..18
    std::uint8_t marked = 0;  // 1 = marker star and highlight
    // Seconds since death. Long past by default, so nothing sets off a debris burst unless
    // the frame builder says the death is recent.
    float death_age = 100;
    std::uint16_t timer = 0; // the record's cooldown, in ticks
    std::uint16_t state = 0; // kind-specific; suit colour for kinds 1 and 5

    friend bool operator==(const DrawEntity&, const DrawEntity&) = default;
};

} // namespace kestrel
