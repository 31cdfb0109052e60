// The expedition layer of the overlay: the always-visible lines (theme and hazard, risks,
// contract, extraction defence, boss, revive shield, team shot) and at most one full panel:
// contracts, sector navigation, summary, crew assembly, weapon upgrades or the extract vote.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "protocol/meta_state.h"
#include "render/vertex.h"

namespace kestrel {

// The open panel as the main loop keeps it; values above `vote` show navigation.
namespace expedition_panel {
inline constexpr std::uint8_t none = 0;
inline constexpr std::uint8_t contracts = 1;
inline constexpr std::uint8_t navigation = 2;
inline constexpr std::uint8_t summary = 3;
inline constexpr std::uint8_t crew = 4;
inline constexpr std::uint8_t upgrades = 5;
inline constexpr std::uint8_t vote = 6;
} // namespace expedition_panel

namespace expedition_color {
inline constexpr Color hint{0.8f, 0.88f, 0.85f, 1};      // key hints and panel body text
inline constexpr Color title{0.95f, 0.55f, 0.25f, 1};    // panel titles
inline constexpr Color info{0.18f, 0.85f, 0.85f, 1};     // theme, contract, shield
inline constexpr Color hazard{1, 0.9f, 0.2f, 1};         // "YELLOW FLOOR" band
inline constexpr Color alert{1, 0.55f, 0.12f, 1};        // hazard warning band, attacks
inline constexpr Color reward{1, 0.75f, 0.2f, 1};        // risks, team shot
inline constexpr Color boss{1, 0.3f, 0.25f, 1};          // sentinel line and health fill
inline constexpr Color boss_bar{0.12f, 0.03f, 0.03f, 1}; // health bar background
inline constexpr Color panel{0.025f, 0.055f, 0.07f, 0.98f};
// Navigation boxes, after the legend line.
inline constexpr Color waypoint{1, 0.75f, 0.2f, 1};
inline constexpr Color sentinel{0.9f, 0.15f, 0.12f, 1};
inline constexpr Color cleared{0.25f, 0.8f, 0.4f, 1};
inline constexpr Color discovered{0.3f, 0.38f, 0.42f, 1};
inline constexpr Color undiscovered{0.12f, 0.16f, 0.19f, 1};
inline constexpr Color you{0.18f, 0.85f, 0.85f, 1};
inline constexpr Color selected{1, 1, 1, 1};
inline constexpr Color count{0, 0, 0, 1};
} // namespace expedition_color

// Name of a contract kind 1..3; empty for any other kind.
std::string_view contract_name(unsigned kind);

// `panel` is the open panel (0 none); `selection` the index of the selected navigation
// entry, which may lie outside the list (then nothing is selected).
void expedition_hud(std::vector<Vertex>& out, const ExpeditionState& state, std::uint8_t panel,
                    std::uint32_t selection);

} // namespace kestrel
