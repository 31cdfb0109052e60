// The player's kinematic state and one input command: the values that movement advances
// and that entity records, commits and input packets carry.
#pragma once

#include <cstdint>

namespace kestrel {

struct Player {
    std::uint32_t id = 0;
    std::int32_t x = 131072; // 1/65536 cell
    std::int32_t y = 131072;
    std::int32_t vx = 0; // 1/65536 cell per second
    std::int32_t vy = 0;
    std::uint16_t yaw = 0; // 1/65536 turn, 0 faces +x, 16384 faces +y
    std::uint16_t health = 100;
    std::uint16_t ammo = 100;
    std::uint16_t cooldown = 0;
    std::uint16_t weapon = 1;
    bool tick_event = false;
    std::uint8_t reserved[3] = {}; // kept zero, never read, not on the wire
    std::uint16_t boost_value = 0;
    std::uint16_t dash_cooldown = 0;
    std::uint16_t boost_ticks = 0;
    std::uint16_t boost = 0;

    friend bool operator==(const Player&, const Player&) = default;
};

struct Input {
    std::uint32_t sequence = 0;
    std::uint32_t tick = 0;
    std::uint16_t buttons = 0;
    std::uint16_t yaw = 0;

    friend bool operator==(const Input&, const Input&) = default;
};

// Button bits of Input::buttons.
namespace button {
inline constexpr std::uint16_t forward = 0x1;
inline constexpr std::uint16_t backward = 0x2;
inline constexpr std::uint16_t strafe_left = 0x4;
inline constexpr std::uint16_t strafe_right = 0x8;
inline constexpr std::uint16_t run = 0x40;
inline constexpr std::uint16_t weapon_shift = 7; // 3-bit weapon select in bits 7..9
inline constexpr std::uint16_t weapon_mask = 0x380;
inline constexpr std::uint16_t dash = 0x400;
} // namespace button

} // namespace kestrel
