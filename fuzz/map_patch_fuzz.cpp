// apply_map_patch on generated sectors, a sequence of patches applied one after another.
//
// Input: byte sector choice (modulo the list in sectors.h), byte mode, then one record per
// MapPatch payload. With mode bit 0 set, the harness first overwrites the CRC field of a
// 20-byte patch with the CRC the patched sector would have, so the fuzzer gets past the
// checksum and reaches the validation of chains of patches. After every patch:
//   - a refused patch leaves the current sector untouched (it is passed by const
//     reference; the check guards against a cast or an aliasing slip);
//   - an accepted one changes exactly the named cell, raises the revision by one, carries
//     the patch's CRC and survives an encode/decode round trip.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/sectors.h"
#include "world/map_transfer.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

constexpr std::string_view messages[] = {
    "truncated packet",        "trailing bytes",
    "invalid map patch",       "map patch checksum",
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

std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16)) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// Patch payload: sector u64, revision u32 at 8, cell u16 at 12, tile u8 at 14,
// reserved u8 at 15, crc u32 at 16.
void fix_crc(const Sector& current, Bytes& patch) {
    if (patch.size() != map_patch_size) return;
    const unsigned cell = patch[12] | (patch[13] << 8);
    const std::uint8_t tile = patch[14];
    if (cell >= cell_count || tile >= current.tiles.size()) return;
    Sector next = current;
    next.cells[cell] = tile;
    next.revision = le32(patch, 8);
    try {
        const std::uint32_t crc = crc32(next.encode());
        for (int i = 0; i < 4; ++i) patch[16 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    } catch (const std::runtime_error&) {
        // Left as it is: apply_map_patch must refuse it the same way.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{data, size};
    const std::vector<Sector>& choices = patch_sectors();
    Sector current = choices[input.byte() % choices.size()];
    const bool fix = (input.byte() & 1) != 0;

    while (!input.empty()) {
        const std::span<const std::uint8_t> record = input.record();
        Bytes patch(record.begin(), record.end());
        if (fix) fix_crc(current, patch);
        const Sector before = current;
        Reader reader(patch);
        Sector next;
        try {
            next = apply_map_patch(current, reader);
        } catch (const std::runtime_error& error) {
            KESTREL_FUZZ_CHECK(known(error.what()));
            KESTREL_FUZZ_CHECK(current == before);
            continue;
        }
        KESTREL_FUZZ_CHECK(current == before);
        KESTREL_FUZZ_CHECK(patch.size() == map_patch_size);
        KESTREL_FUZZ_CHECK(next.revision == current.revision + 1);
        int changed = 0;
        for (int cell = 0; cell < cell_count; ++cell)
            changed += next.cells[cell] != current.cells[cell];
        const unsigned cell = patch[12] | (patch[13] << 8);
        KESTREL_FUZZ_CHECK(changed == 1 && next.cells[cell] == patch[14]);
        Sector rest = next;
        rest.cells = current.cells;
        rest.revision = current.revision;
        KESTREL_FUZZ_CHECK(rest == current);
        const Bytes blob = next.encode();
        KESTREL_FUZZ_CHECK(crc32(blob) == le32(patch, 16));
        KESTREL_FUZZ_CHECK(Sector::decode(blob) == next);
        current = std::move(next);
    }
    return 0;
}
