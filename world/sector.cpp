#include "world/sector.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace kestrel {
namespace {

constexpr std::uint32_t sector_magic = 0x54434553; // "SECT"

std::size_t blob_length(std::size_t tiles, std::size_t portals) {
    return 64 + 8 * tiles + cell_count + 24 * portals;
}

void fail(const char* message) {
    throw std::runtime_error(message);
}

} // namespace

bool body_clear(const Grid& blocked, std::int32_t x, std::int32_t y) {
    const std::int64_t px = x;
    const std::int64_t py = y;
    for (std::int64_t row = (py - body_radius) >> 16; row <= (py + body_radius) >> 16; ++row) {
        for (std::int64_t column = (px - body_radius) >> 16; column <= (px + body_radius) >> 16;
             ++column) {
            const bool outside =
                column < 0 || column >= sector_size || row < 0 || row >= sector_size;
            if (!outside && blocked[static_cast<std::size_t>(row * sector_size + column)] == 0)
                continue;
            const std::int64_t nx = std::clamp(px, column * 65536, column * 65536 + 65536);
            const std::int64_t ny = std::clamp(py, row * 65536, row * 65536 + 65536);
            if ((px - nx) * (px - nx) + (py - ny) * (py - ny) < body_radius_squared) return false;
        }
    }
    return true;
}

void Sector::validate() const {
    if (id == 0 || revision == 0 || schema != 1 || tiles.empty() || tiles.size() > 256 ||
        portals.size() > 16)
        fail("invalid sector metadata");
    for (const Tile& tile : tiles) {
        const bool walkable = (tile.flags & Tile::blocks_walk) == 0;
        if (tile.flags > 15 || (walkable && tile.ceiling_height - tile.floor_height < 7))
            fail("invalid tile definition");
    }
    for (std::uint8_t cell : cells)
        if (cell >= tiles.size()) fail("invalid tile index");

    Grid solid{};
    for (int i = 0; i < cell_count; ++i) solid[i] = tiles[cells[i]].flags & Tile::blocks_walk;

    const std::int32_t x = std::int32_t{spawn_x} * 256;
    const std::int32_t y = std::int32_t{spawn_y} * 256;
    if (spawn_height != 0 || x < coordinate_min || x > coordinate_max || y < coordinate_min ||
        y > coordinate_max || !body_clear(solid, x, y))
        fail("invalid spawn");

    for (int i = 0; i < sector_size; ++i) {
        if (!solid[i] || !solid[31 * sector_size + i] || !solid[i * sector_size] ||
            !solid[i * sector_size + 31])
            fail("open sector boundary");
    }

    // Flood fill from the spawn over walkable cells, four neighbours.
    std::array<bool, cell_count> reached{};
    std::array<std::uint16_t, cell_count> queue{};
    std::size_t head = 0;
    std::size_t tail = 0;
    const int start = (spawn_y >> 8) * sector_size + (spawn_x >> 8);
    reached[start] = true;
    queue[tail++] = static_cast<std::uint16_t>(start);
    while (head < tail) {
        const int cell = queue[head++];
        const int cx = cell % sector_size;
        const int cy = cell / sector_size;
        const int neighbours[4][2] = {{cx + 1, cy}, {cx - 1, cy}, {cx, cy + 1}, {cx, cy - 1}};
        for (const auto& n : neighbours) {
            if (n[0] < 0 || n[0] >= sector_size || n[1] < 0 || n[1] >= sector_size) continue;
            const int next = n[1] * sector_size + n[0];
            if (solid[next] || reached[next]) continue;
            reached[next] = true;
            queue[tail++] = static_cast<std::uint16_t>(next);
        }
    }
    for (int i = 0; i < cell_count; ++i) {
        if (!solid[i] && !reached[i] && (tiles[cells[i]].flags & Tile::secret) == 0)
            fail("disconnected walkable cells");
    }

    std::set<std::uint16_t> ids;
    std::set<std::uint16_t> portal_cells;
    for (const Portal& portal : portals) {
        if (portal.target == 0 || portal.cell >= cell_count || portal.link_flags > 3 ||
            !reached[portal.cell] || !ids.insert(portal.id).second ||
            !portal_cells.insert(portal.cell).second)
            fail("invalid portal");
    }
}

Grid Sector::collision(bool secondary) const {
    const std::uint8_t mask = secondary ? Tile::blocks_secondary : Tile::blocks_walk;
    Grid grid;
    for (int i = 0; i < cell_count; ++i) grid[i] = (tiles.at(cells[i]).flags & mask) != 0;
    return grid;
}

Bytes Sector::encode() const {
    validate();
    Writer out;
    out.bytes.reserve(blob_length(tiles.size(), portals.size()));
    out.u32(sector_magic);
    out.u16(1);  // format version
    out.u16(64); // header size
    out.u64(id);
    out.u64(seed);
    out.u32(schema);
    out.u32(revision);
    out.u16(sector_size);
    out.u16(sector_size);
    out.u16(static_cast<std::uint16_t>(tiles.size()));
    out.u16(static_cast<std::uint16_t>(portals.size()));
    out.u32(cell_count);
    out.u32(static_cast<std::uint32_t>(blob_length(tiles.size(), portals.size())));
    out.u16(spawn_x);
    out.u16(spawn_y);
    out.u16(spawn_height);
    out.u16(spawn_yaw);
    out.u32(1); // ruleset
    out.u32(0); // reserved
    for (const Tile& tile : tiles) {
        out.u8(tile.wall_texture);
        out.u8(tile.floor_texture);
        out.u8(tile.ceiling_texture);
        out.u8(tile.flags);
        out.u8(static_cast<std::uint8_t>(tile.floor_height));
        out.u8(static_cast<std::uint8_t>(tile.ceiling_height));
        out.u8(tile.light);
        out.u8(0);
    }
    out.append(cells);
    for (const Portal& portal : portals) {
        out.u16(portal.id);
        out.u16(portal.cell);
        out.u64(portal.target);
        out.u16(portal.target_portal);
        out.u16(portal.link_flags);
        out.u64(portal.target_seed);
    }
    if (out.bytes.size() > max_blob_size) fail("sector too large");
    return std::move(out.bytes);
}

Sector Sector::decode(std::span<const std::uint8_t> blob) {
    if (blob.size() < 64 || blob.size() > max_blob_size) fail("sector length");
    Sector sector;
    Reader in(blob);
    if (in.u32() != sector_magic || in.u16() != 1 || in.u16() != 64) fail("sector version");
    sector.id = in.u64();
    sector.seed = in.u64();
    sector.schema = in.u32();
    sector.revision = in.u32();
    if (in.u16() != sector_size || in.u16() != sector_size) fail("sector dimensions");
    const std::uint16_t tile_count = in.u16();
    const std::uint16_t portal_count = in.u16();
    if (tile_count < 1 || tile_count > 256 || portal_count > 16) fail("sector counts");
    if (in.u32() != cell_count) fail("sector counts");
    const std::uint32_t total = in.u32();
    if (total != blob.size() || total != blob_length(tile_count, portal_count))
        fail("sector counts");
    sector.spawn_x = in.u16();
    sector.spawn_y = in.u16();
    sector.spawn_height = in.u16();
    sector.spawn_yaw = in.u16();
    const std::uint32_t ruleset = in.u32();
    if (ruleset < 1 || ruleset > 3 || in.u32() != 0) fail("sector ruleset");

    sector.tiles.clear();
    sector.tiles.reserve(tile_count);
    for (int i = 0; i < tile_count; ++i) {
        Tile tile;
        tile.wall_texture = in.u8();
        tile.floor_texture = in.u8();
        tile.ceiling_texture = in.u8();
        tile.flags = in.u8();
        tile.floor_height = static_cast<std::int8_t>(in.u8());
        tile.ceiling_height = static_cast<std::int8_t>(in.u8());
        tile.light = in.u8();
        if (in.u8() != 0) fail("tile reserved");
        sector.tiles.push_back(tile);
    }
    for (std::uint8_t& cell : sector.cells) cell = in.u8();
    sector.portals.reserve(portal_count);
    for (int i = 0; i < portal_count; ++i) {
        Portal portal;
        portal.id = in.u16();
        portal.cell = in.u16();
        portal.target = in.u64();
        portal.target_portal = in.u16();
        portal.link_flags = in.u16();
        portal.target_seed = in.u64();
        sector.portals.push_back(portal);
    }
    in.end();
    sector.validate();
    return sector;
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    // Table-driven form of the bytewise reflected CRC (polynomial 0xEDB88320).
    static constexpr auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint64_t mix64(std::uint64_t x) {
    std::uint64_t z = x + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace kestrel
