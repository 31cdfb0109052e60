// Shared benchmark fixtures: the movement benchmarks' ground (a sector with free cells
// inside a solid border, and a player standing in its middle), and the busy frame that the
// geometry and renderer benchmarks build and draw.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "render/frame.h"
#include "session/remote_interpolation.h"
#include "world/generate.h"
#include "world/movement.h"

namespace kestrel::bench {

inline Grid open_sector() {
    Sector sector;
    for (int i = 0; i < 32; ++i) {
        sector.cells[i] = sector.cells[31 * 32 + i] = 1;
        sector.cells[i * 32] = sector.cells[i * 32 + 31] = 1;
    }
    return sector.collision(false);
}

inline Player start_player() {
    Player player;
    player.id = 1;
    player.x = 16 * 65536;
    player.y = 16 * 65536;
    return player;
}

inline constexpr int busy_entity_count = 368;
inline constexpr std::uint32_t busy_viewer = 1;

// A snapshot of the viewer plus 368 entities cycling through every kind and the sub-types
// and states that select the different models; a quarter of them dead.
inline Snapshot busy_snapshot(std::uint32_t tick, std::int32_t drift) {
    static constexpr std::uint16_t enemy_types[] = {1, 3, 8, 14, 15, 16, 17, 18, 19};
    Snapshot s;
    s.id = tick;
    s.tick = tick;
    s.viewer = busy_viewer;
    s.sector = 7;
    ReplicatedEntity me;
    me.id = busy_viewer;
    s.entities.push_back(me);
    for (int i = 0; i < busy_entity_count; ++i) {
        ReplicatedEntity e;
        e.id = static_cast<std::uint32_t>(i + 2);
        e.x = (2 + i % 28) * 65536 + drift;
        e.y = (2 + (i / 28) * 2) * 65536;
        e.kind = static_cast<std::uint8_t>(1 + i % 18);
        e.type = e.kind == 2 ? enemy_types[(i / 18) % 9] : static_cast<std::uint16_t>(i % 5);
        e.state = static_cast<std::uint16_t>(i % 4);
        e.health = i % 4 == 3 ? 0 : 100;
        e.cooldown = static_cast<std::uint16_t>((i * 7) % 120);
        s.entities.push_back(e);
    }
    return s;
}

// Entities as the frame builder gets them: interpolated between two snapshots, with fresh
// deaths and a few recent attackers marked.
inline std::vector<DrawEntity> busy_entities() {
    RemoteInterpolation interpolation;
    interpolation.push(busy_snapshot(100, 0), 10.0);
    interpolation.push(busy_snapshot(101, 2048), 10.0 + 1.0 / 30);
    std::vector<DrawEntity> entities = interpolation.sample(10.0 + 1.0 / 30 + 0.1 - 1.0 / 60);
    if (entities.size() != busy_entity_count) throw std::runtime_error("unexpected sample size");
    for (std::size_t i = 0; i < entities.size(); ++i) {
        if (entities[i].health == 0) entities[i].death_age = 0.3f;
        entities[i].marked = i % 5 == 0;
    }
    return entities;
}

inline Sector busy_sector() {
    // Portal 0 leads to an elite sector (hint shown near it); portal 1 is the way home.
    return generate(7, std::uint64_t{0x6B1F39A43},
                    {Portal{0, 70, 8, 0, 1, 42}, Portal{1, 900, 1, 0, 1, 43}});
}

// A frame with every line of every HUD switched on.
inline Frame busy_frame(const Sector& s, std::vector<DrawEntity> entities) {
    Frame f;
    f.sector = &s;
    f.entities = std::move(entities);
    for (int i = 0; i < 16; ++i) {
        f.blips.push_back({4.0f + static_cast<float>(i), 6.0f + static_cast<float>(i % 5),
                           0.09f * static_cast<float>(i)});
    }
    f.weapon = 3;
    f.camera = {6.5f, 2.5f}; // within reach of portal 0 (cell 70: 6, 2)
    f.yaw = 9000;
    f.time = 12.3f;
    f.health = 73;
    f.ammo = 42;
    f.recoil = 0.4f;
    f.muzzle_flash = f.hit_marker = f.damage_flash = f.banner_visible = true;
    f.notice = "PARTY CODE: K7Q2_";
    f.status_line = "MUSIC [ ] 20% SFX - + 85%";
    f.banner = "PICKUP";

    f.player = Player{};
    f.player.id = busy_viewer;
    f.player.x = 6 * 65536 + 32768;
    f.player.y = 2 * 65536 + 32768;
    f.player.weapon = 3;
    f.player.dash_cooldown = 45;
    f.player.boost = 2;
    f.player.boost_ticks = 400;
    f.player.boost_value = 120;

    f.status.remaining = 12;
    f.status.revive = 30;
    f.status.challenge = 3; // cache signal
    f.status.flags = 1 | 4; // cleared: cache choices; portals sealed

    AdventureState& a = f.adventure;
    a.sequence = 9;
    a.salvage_carried = 35;
    a.salvage_banked = 410;
    a.carrier = 3;
    a.timer = 400;
    a.progress = 1;
    a.goal = 3;
    a.objective_x = 20 * 256;
    a.objective_y = 12 * 256;
    a.exit_x = 28 * 256;
    a.exit_y = 28 * 256;
    a.ping_x = 10 * 256;
    a.ping_y = 20 * 256;
    a.ping_active = 1;
    a.ping_kind = 1;
    a.clip = 4;
    a.reserve = 20;
    a.banking = 45;
    a.mode = 2;
    a.objective = 1;
    a.objective_flags = 2; // exit open, objective pending
    a.color_index = 2;
    a.colors_unlocked = 3;
    a.message = "RELAY ONLINE";
    for (std::uint32_t i = 0; i < 8; ++i) {
        Teammate t;
        t.id = 100 + i;
        t.sector = s.id;
        t.x = static_cast<std::uint16_t>((4 + 3 * i) * 256);
        t.y = static_cast<std::uint16_t>((26 - 2 * i) * 256);
        t.health = static_cast<std::uint16_t>(40 + 7 * i);
        t.class_id = static_cast<std::uint8_t>(i % 5);
        t.name = "RANGER_" + std::to_string(i);
        a.teammates.push_back(t);
    }

    ExpeditionState& e = f.expedition;
    e.sequence = 70;
    e.theme = 1;
    e.risks = 7;
    e.contract_kind = 2;
    e.contract_state = 1;
    e.contract_progress = 1;
    e.contract_goal = 2;
    e.extraction_timer = 200;
    e.boss_phase = 2;
    e.boss_health = 600;
    e.boss_health_max = 1000;
    e.attack_warning = 15;
    e.attack_kind = 1;
    e.revive_shield = 45;
    e.team_shot_charged = true;
    e.current_sector = 7;
    // 8 x 4 sectors around the selection, so all 32 boxes are on the map.
    for (std::uint16_t i = 0; i < 32; ++i) {
        NavSector n;
        n.id = i == 0 ? 7 : 1000 + i;
        n.column = static_cast<std::uint16_t>(3 + i % 8);
        n.row = static_cast<std::uint16_t>(2 + i / 8);
        n.flags = static_cast<std::uint8_t>(i % 32);
        n.objective = static_cast<std::uint8_t>(i % 4);
        n.danger = static_cast<std::uint8_t>(i % 11);
        n.teammates = static_cast<std::uint8_t>(i % 3);
        e.navigation.push_back(n);
    }
    f.expedition_panel = 2;
    f.expedition_selection = 20; // column 7, row 4: the map centres on it
    return f;
}

} // namespace kestrel::bench
