// Everything the main loop wants shown in one presented image. The frame builder fills it
// once per iteration; the renderer and the mesh builders only read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/meta_state.h"
#include "protocol/player.h"
#include "render/radar_blip.h"
#include "render/vertex.h"
#include "session/draw_entity.h"
#include "world/sector.h"

namespace kestrel {

// The most vertices the per-frame list (entities, then the overlay) can hold for any state
// the server may legally send, every part at its worst at once:
//   entities      368 x 444 = 163,392  (a snapshot's 368, each at most a dead sentinel:
//                                        smoke 5 x 48 + spark 7 x 6 + 3 rects + 3 ellipses)
//   portal rings   16 x 6   =      96
//   text        2,560 x 210 = 537,600  (a character is at most 35 squares; the longest lines
//                                        add up to 2,415: bars and notices 201, sector lines
//                                        with 16 portal hints and letters 748, adventure with
//                                        8 teammates 741, expedition 315, crew panel 410)
//   rectangles  1,648 x 6   =   9,888  (minimap 1,024 cells, a radar blip for each of the
//                                        368 entity ids, 256 for every other box and bar)
inline constexpr std::uint32_t max_frame_vertices =
    368 * 444 + 16 * 6 + 2560 * 210 + 1648 * 6; // 710,976

struct Frame {
    const Sector* sector = nullptr; // null: nothing of the world is drawn, the cached mesh stays
    std::vector<DrawEntity> entities;
    std::vector<RadarBlip> blips; // radar contacts with their age
    std::uint16_t weapon = 1;     // 1..4
    Player player;
    SectorStatus status;
    AdventureState adventure; // its colour index also tints the weapon sprite
    ExpeditionState expedition;
    std::uint8_t expedition_panel = 0; // 0 = none, 1..6 = open panel
    std::uint32_t expedition_selection = 0;
    float recoil = 0; // 0..1, weapon kick after a shot
    std::string notice;
    Vec2 camera{2.5f, 2.5f};    // tile units
    float yaw = 0;              // 1/65536 turn
    float time = 0;             // seconds, drives the pulsing effects
    std::uint16_t health = 100; // 0 = dead
    std::uint16_t ammo = 100;
    bool transition = false; // sector transfer screen instead of the world
    bool muzzle_flash = false;
    bool local_preview = false;
    bool hit_marker = false;
    bool damage_flash = false;
    bool banner_visible = false;
    std::uint64_t destination = 0; // sector id, 0 = none
    std::string status_line = "CONNECTING";
    std::string banner = "PICKUP";
};

} // namespace kestrel
