// apply_map_patch chained: byte sector (sectors.h), byte mode, one MapPatch per record; mode
// bit 0 fixes the CRC field to get past the checksum. An accepted patch changes exactly the
// named cell, raises the revision by one and leaves a sector with the patch's CRC.
#include "fuzz/fuzz_input.h"
#include "fuzz/sectors.h"
#include "world/map_transfer.h"

using namespace kestrel;

static std::uint32_t le(const Bytes& bytes, std::size_t at, int width) {
    return width == 1 ? bytes[at] : bytes[at] | le(bytes, at + 1, width - 1) << 8;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input{data, size};
    const std::vector<Sector>& choices = fuzz::patch_sectors();
    Sector current = choices[input.byte() % choices.size()];
    const bool fix = (input.byte() & 1) != 0;
    while (!input.empty()) {
        const std::span<const std::uint8_t> record = input.record();
        Bytes patch(record.begin(), record.end());
        Sector next = current;
        const std::uint32_t at = patch.size() == map_patch_size ? le(patch, 12, 2) : cell_count;
        if (fix && at < cell_count && patch[14] < current.tiles.size()) {
            next.cells[at] = patch[14];
            next.revision = le(patch, 8, 4);
            Bytes blob;
            if (fuzz::decoded(blob, [&] { return next.encode(); }))
                for (int i = 0; i < 4; ++i) patch[16 + i] = std::uint8_t(crc32(blob) >> 8 * i);
        }
        Reader reader(patch);
        if (!fuzz::decoded(next, [&] { return apply_map_patch(current, reader); })) continue;
        KESTREL_FUZZ_CHECK(next.revision == current.revision + 1);
        Sector rest = next;
        rest.cells[at] = current.cells[at];
        rest.revision = current.revision;
        KESTREL_FUZZ_CHECK(rest == current && next.cells[at] == patch[14]);
        KESTREL_FUZZ_CHECK(crc32(next.encode()) == le(patch, 16, 4));
        current = std::move(next);
    }
    return 0;
}
