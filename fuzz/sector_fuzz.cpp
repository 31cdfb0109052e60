// Sector::decode over arbitrary blobs. A sector it accepts is valid, encodes back to the
// very same blob (except the ruleset word at offset 56, which is read as 1..3 and always
// written as 1) and decodes from that to an equal value; the derived grids and hazard
// cells, which the renderer and movement read, must be computable on it.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "world/generate.h"
#include "world/sector.h"

using namespace kestrel;

namespace {

constexpr std::string_view messages[] = {
    "sector length",           "sector version",
    "sector dimensions",       "sector counts",
    "sector ruleset",          "tile reserved",
    "trailing bytes",          "truncated packet",
    "invalid sector metadata", "invalid tile definition",
    "invalid tile index",      "invalid spawn",
    "open sector boundary",    "disconnected walkable cells",
    "invalid portal",
};

bool known(const std::string& message) {
    for (std::string_view m : messages)
        if (message == m) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> blob(data, size);
    Sector sector;
    try {
        sector = Sector::decode(blob);
    } catch (const std::runtime_error& error) {
        KESTREL_FUZZ_CHECK(known(error.what()));
        return 0;
    }
    Bytes expected(data, data + size);
    expected[56] = 1;
    expected[57] = expected[58] = expected[59] = 0;
    const Bytes encoded = sector.encode();
    KESTREL_FUZZ_CHECK(encoded == expected);
    KESTREL_FUZZ_CHECK(Sector::decode(encoded) == sector);

    const Grid walk = sector.collision(false);
    const Grid secondary = sector.collision(true);
    const std::int32_t spawn_x = std::int32_t{sector.spawn_x} << 8;
    const std::int32_t spawn_y = std::int32_t{sector.spawn_y} << 8;
    KESTREL_FUZZ_CHECK(body_clear(walk, spawn_x, spawn_y));
    for (int cell = 0; cell < cell_count; ++cell) {
        KESTREL_FUZZ_CHECK(walk[cell] <= 1 && secondary[cell] <= 1);
        if (hazard_cell(sector, static_cast<std::uint64_t>(cell))) KESTREL_FUZZ_CHECK(!walk[cell]);
    }
    return 0;
}
