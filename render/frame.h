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
