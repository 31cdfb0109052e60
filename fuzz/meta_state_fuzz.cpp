// The meta-state decoders, picked by the first byte: an accepted record writes back to its payload.
#include "fuzz/fuzz_input.h"
#include "protocol/meta_state.h"

using namespace kestrel;

template <typename Record>
void round_trip(const std::uint8_t* data, std::size_t size) {
    Reader reader(data, size);
    Record record;
    if (fuzz::decoded(record, [&] { return Record::read(reader); }))
        KESTREL_FUZZ_CHECK(record.write().bytes == Bytes(data, data + size));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int pick = data[0] % 3;
    if (pick == 0) round_trip<SectorStatus>(data + 1, size - 1);
    if (pick == 1) round_trip<AdventureState>(data + 1, size - 1);
    if (pick == 2) round_trip<ExpeditionState>(data + 1, size - 1);
    return 0;
}
