// The run-level overlay of an adventure: encounter mode, objective and its progress, salvage,
// key hints, suit colour, the teammates with their minimap dots and bearing labels, the
// objective, exit and ping markers, banking progress and the weapon clip.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/meta_state.h"
#include "protocol/player.h"
#include "render/vertex.h"

namespace kestrel {

namespace adventure_color {
inline constexpr Color teal{0.2f, 0.9f, 0.85f, 1};
inline constexpr Color gold{1, 0.75f, 0.2f, 1};
inline constexpr Color grey{0.8f, 0.85f, 0.9f, 1};
inline constexpr Color teammate_dot{0.45f, 1, 0.5f, 1};
} // namespace adventure_color

// Draws nothing while no adventure runs (`sequence` 0). `sector_id` is the current sector
// (0 without one): only teammates in it get a dot and a bearing label. `yaw` is the view
// yaw in 1/65536 turn.
void adventure_hud(std::vector<Vertex>& out, const AdventureState& state, const Player& player,
                   std::uint64_t sector_id, float yaw);

} // namespace kestrel
