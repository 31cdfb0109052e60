// The sectors map_patch_fuzz patches, indexed by the seeds make_corpus writes.
#pragma once

#include <algorithm>
#include <vector>

#include "world/generate.h"

namespace kestrel::fuzz {

inline const std::vector<Sector>& patch_sectors() {
    static const std::vector<Sector> built = [] {
        // The last one lost its pillar decoration: four tiles, only the door may be patched.
        Sector small = generate(5, std::uint64_t{0xACE}, {});
        std::ranges::replace_if(
            small.cells, [](std::uint8_t cell) { return cell >= 4; }, 0);
        small.tiles.resize(4);
        small.validate();
        return std::vector<Sector>{
            generate(900, std::uint64_t{0x5EED}, {}),
            generate(1, std::uint64_t{0x6B1F39A42}, {Portal{1, 70, 2, 0, 1, 42}}),
            generate(77, std::uint64_t{4}, {}), small};
    }();
    return built;
}

} // namespace kestrel::fuzz
