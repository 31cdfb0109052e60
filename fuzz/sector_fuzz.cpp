// Sector::decode: an accepted sector encodes back to its blob (ruleset 1) and spawns clear.
#include "fuzz/fuzz_input.h"
#include "world/sector.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Sector sector;
    if (!fuzz::decoded(sector, [&] { return Sector::decode({data, size}); })) return 0;
    Bytes expected(data, data + size);
    std::copy_n("\1\0\0", 4, expected.begin() + 56); // ruleset 1
    KESTREL_FUZZ_CHECK(sector.encode() == expected);
    KESTREL_FUZZ_CHECK(
        body_clear(sector.collision(false), sector.spawn_x << 8, sector.spawn_y << 8));
    return 0;
}
