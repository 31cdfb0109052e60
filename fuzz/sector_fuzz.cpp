// Sector::decode: an accepted sector encodes back to its blob (the ruleset word at 56 is
// written as 1) and its spawn is clear of walls.
#include "fuzz/fuzz_input.h"
#include "world/sector.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Sector sector;
    if (!fuzz::decoded(sector, [&] { return Sector::decode({data, size}); })) return 0;
    Bytes expected(data, data + size);
    expected[56] = 1;
    expected[57] = expected[58] = expected[59] = 0;
    KESTREL_FUZZ_CHECK(sector.encode() == expected);
    KESTREL_FUZZ_CHECK(
        body_clear(sector.collision(false), sector.spawn_x << 8, sector.spawn_y << 8));
    return 0;
}
