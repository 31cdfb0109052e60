// Deterministic player movement and grid navigation. Client and server run the same code,
// so every constant and rounding here is part of the protocol.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/player.h"
#include "world/sector.h"

namespace kestrel {

// Advances the player by one 1/30 s tick.
void move(Player& player, const Input& input, const Grid& grid);

// Yaw that leads one cell along a shortest 4-connected path from (x, y) toward the target
// cell; empty when the target is blocked, out of range or unreachable.
std::optional<std::uint16_t> navigation_yaw(const Grid& grid, int x, int y, std::uint16_t target);

} // namespace kestrel
