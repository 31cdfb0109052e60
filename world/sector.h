// The sector: a 32x32 grid of palette cells, a spawn point and up to sixteen portals.
//
// Sector blob, little-endian (T tiles, P portals):
//
//   offset     size  field
//        0        4  magic "SECT"
//        4        2  format version      1
//        6        2  header size         64
//        8        8  id
//       16        8  seed
//       24        4  schema
//       28        4  revision
//       32        2  width               32
//       34        2  height              32
//       36        2  tile count T        1..256
//       38        2  portal count P      0..16
//       40        4  cell count          1024
//       44        4  total length        64 + 8T + 1024 + 24P
//       48        2  spawn_x             1/256 cell
//       50        2  spawn_y
//       52        2  spawn_height        (before spawn_yaw on the wire)
//       54        2  spawn_yaw
//       56        4  ruleset             written 1, read 1..3, not kept
//       60        4  reserved            0
//       64       8T  tiles: 7 Tile bytes + 1 reserved zero byte
//   64+8T      1024  cells, row-major tile indices
//   1088+8T     24P  portals: id u16, cell u16, target u64, target_portal u16,
//                    link_flags u16, target_seed u64
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/codec.h"

namespace kestrel {

inline constexpr int sector_size = 32;
inline constexpr int cell_count = sector_size * sector_size;
inline constexpr std::size_t max_blob_size = 4096;

// Player body radius and the legal coordinate range, in 1/65536 cell.
inline constexpr std::int32_t body_radius = 14418;
inline constexpr std::int64_t body_radius_squared = 207878724;
inline constexpr std::int32_t coordinate_min = body_radius;
inline constexpr std::int32_t coordinate_max = sector_size * 65536 - body_radius;

struct Tile {
    static constexpr std::uint8_t blocks_walk = 1;
    static constexpr std::uint8_t blocks_secondary = 2;
    static constexpr std::uint8_t no_ceiling = 4;
    static constexpr std::uint8_t secret = 8;

    std::uint8_t wall_texture = 1;
    std::uint8_t floor_texture = 2;
    std::uint8_t ceiling_texture = 3;
    std::uint8_t flags = 0;
    std::int8_t floor_height = 0;   // 1/8 cell
    std::int8_t ceiling_height = 8; // 1/8 cell
    std::uint8_t light = 192;

    friend bool operator==(const Tile&, const Tile&) = default;
};

struct Portal {
    std::uint16_t id = 0;
    std::uint16_t cell = 0;
    std::uint64_t target = 0;
    std::uint16_t target_portal = 0;
    std::uint16_t link_flags = 1; // bit 0: open (its ring marker is drawn)
    std::uint64_t target_seed = 0;

    friend bool operator==(const Portal&, const Portal&) = default;
};

// 1 = blocked, 0 = free, index y * 32 + x.
using Grid = std::array<std::uint8_t, cell_count>;

struct Sector {
    std::uint64_t id = 1;
    std::uint64_t seed = 0;
    std::uint32_t schema = 1;
    std::uint32_t revision = 1;
    std::uint16_t spawn_x = 640;
    std::uint16_t spawn_y = 640;
    std::uint16_t spawn_yaw = 0;
    std::uint16_t spawn_height = 0;
    std::vector<Tile> tiles{Tile{}, Tile{1, 2, 3, 3, 0, 8, 160}};
    std::array<std::uint8_t, cell_count> cells{};
    std::vector<Portal> portals;

    // Validates first, so an invalid sector is never encoded.
    Bytes encode() const;
    static Sector decode(std::span<const std::uint8_t> blob);

    // Throws the message of the first broken rule.
    void validate() const;
    // Blocked where the cell's tile has blocks_walk (or blocks_secondary when secondary).
    Grid collision(bool secondary) const;

    friend bool operator==(const Sector&, const Sector&) = default;
};

// True when a player body centred at (x, y) (1/65536 cell) overlaps no blocked cell;
// cells outside the grid count as blocked. Touching at exactly the radius is clear.
bool body_clear(const Grid& blocked, std::int32_t x, std::int32_t y);

std::uint32_t crc32(std::span<const std::uint8_t> bytes);
std::uint64_t mix64(std::uint64_t x);

} // namespace kestrel
