// MapAssembly: u64 transition, u64 sector, one MapChunk payload per record. A refused chunk
// changes nothing; a finished sector (again with the CRC corrected) is the announced blob.
#include <algorithm>

#include "fuzz/same.h"

using namespace kestrel;
using namespace kestrel::fuzz;

static void check_finish(const MapAssembly& assembly) {
    Sector sector;
    if (!decoded(sector, [&] { return assembly.finish(); })) return;
    KESTREL_FUZZ_CHECK(sector.id == assembly.sector && sector.revision == assembly.revision);
    Bytes expected = assembly.bytes;
    std::copy_n("\1\0\0", 4, expected.begin() + 56); // ruleset 1
    KESTREL_FUZZ_CHECK(sector.encode() == expected);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{data, size};
    MapAssembly assembly;
    const std::uint64_t transition = input.u64(); // read before the sector
    assembly.reset(transition, input.u64());
    while (!input.empty()) {
        Reader reader(input.record());
        bool complete = false;
        if (!applied(assembly, [&](MapAssembly& a) { complete = a.ingest(reader); }) || !complete)
            continue;
        check_finish(assembly);
        MapAssembly matching = assembly;
        matching.crc = crc32(matching.bytes);
        check_finish(matching);
    }
    return 0;
}
