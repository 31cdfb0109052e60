// MapAssembly fed a sequence of MapChunk payloads.
//
// Input: u64 transition, u64 sector (the reset), then one record per chunk payload
// (framing in fuzz_input.h). After every chunk:
//   - a refused chunk leaves the assembly exactly as it was;
//   - a chunk of another transfer is skipped with its data unread;
//   - an accepted chunk leaves a buffer of the announced length and one flag per chunk;
//   - once complete, finish() either refuses or yields the announced sector, whose blob
//     is the assembled one (the ruleset word aside) and matches the announced CRC; a
//     complete assembly whose CRC does not match is also finished with the CRC corrected.
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/same.h"
#include "world/map_transfer.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

std::uint64_t le64(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

void check_finish(const MapAssembly& assembly, bool complete) {
    const MapAssembly before = assembly;
    Sector sector;
    try {
        sector = assembly.finish();
    } catch (const std::runtime_error& error) {
        if (!complete) KESTREL_FUZZ_CHECK(std::string(error.what()) == "incomplete/corrupt map");
        return;
    }
    KESTREL_FUZZ_CHECK(complete);
    KESTREL_FUZZ_CHECK(same(assembly, before));
    KESTREL_FUZZ_CHECK(sector.id == assembly.sector && sector.revision == assembly.revision);
    KESTREL_FUZZ_CHECK(crc32(assembly.bytes) == assembly.crc);
    Bytes expected = assembly.bytes;
    std::fill(expected.begin() + 57, expected.begin() + 60, std::uint8_t{0});
    expected[56] = 1;
    KESTREL_FUZZ_CHECK(sector.encode() == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{data, size};
    MapAssembly assembly;
    const std::uint64_t transition = input.u64();
    const std::uint64_t sector = input.u64();
    assembly.reset(transition, sector);

    while (!input.empty()) {
        const std::span<const std::uint8_t> chunk = input.record();
        const MapAssembly before = assembly;
        Reader reader(chunk);
        bool complete = false;
        try {
            complete = assembly.ingest(reader);
        } catch (const std::runtime_error& error) {
            const std::string message = error.what();
            KESTREL_FUZZ_CHECK(
                message == "truncated packet" || message == "invalid chunk metadata" ||
                message == "invalid chunk length" || message == "inconsistent chunks" ||
                message == "conflicting duplicate chunk");
            KESTREL_FUZZ_CHECK(same(assembly, before));
            continue;
        }
        KESTREL_FUZZ_CHECK(chunk.size() >= chunk_header_size);
        const bool foreign = le64(chunk, 0) != transition || le64(chunk, 8) != sector;
        if (foreign) {
            KESTREL_FUZZ_CHECK(!complete && same(assembly, before));
            KESTREL_FUZZ_CHECK(reader.position == chunk_header_size);
            continue;
        }
        KESTREL_FUZZ_CHECK(reader.position == chunk.size());
        const std::size_t length = assembly.bytes.size();
        KESTREL_FUZZ_CHECK(length >= 64 && length <= max_blob_size);
        KESTREL_FUZZ_CHECK(assembly.received.size() ==
                           (length + chunk_data_size - 1) / chunk_data_size);
        KESTREL_FUZZ_CHECK(assembly.revision != 0);
        KESTREL_FUZZ_CHECK(complete == std::all_of(assembly.received.begin(),
                                                   assembly.received.end(),
                                                   [](bool got) { return got; }));
        check_finish(assembly, complete);
        // A mutated blob rarely matches the CRC its chunks announce. The same assembly with
        // the CRC the bytes really have takes finish() on to decoding and the identity check.
        if (complete && crc32(assembly.bytes) != assembly.crc) {
            MapAssembly matching = assembly;
            matching.crc = crc32(matching.bytes);
            check_finish(matching, true);
        }
    }
    return 0;
}
