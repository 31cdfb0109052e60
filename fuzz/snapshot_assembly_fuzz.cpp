// SnapshotAssembly::ingest: per part a byte dt (1/100 s), then the packet as a record. A
// refused part changes nothing; a returned snapshot becomes `last` and leads with the viewer.
#include "fuzz/same.h"

using namespace kestrel;
using namespace kestrel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{data, size};
    SnapshotAssembly assembly;
    double now = 0;
    while (!input.empty()) {
        now += input.byte() / 100.0;
        Reader reader(input.record());
        Header header;
        if (!decoded(header, [&] { return read_header(reader); })) continue;
        std::optional<Snapshot> snapshot;
        applied(assembly, [&](SnapshotAssembly& a) { snapshot = a.ingest(header, reader, now); });
        if (snapshot)
            KESTREL_FUZZ_CHECK(assembly.last == snapshot->id &&
                               snapshot->entities.at(0).id == snapshot->viewer);
    }
    return 0;
}
