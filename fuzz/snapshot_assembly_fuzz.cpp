// SnapshotAssembly::ingest fed a sequence of SnapshotPart packets. Input, per part: byte
// dt (the clock advances by dt / 100 seconds), then one record holding the whole packet,
// header included. A refused part leaves the assembly as it was; a returned snapshot
// becomes `last` and leads with the viewer.
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
        if (snapshot) {
            KESTREL_FUZZ_CHECK(assembly.last == snapshot->id);
            KESTREL_FUZZ_CHECK(snapshot->entities.at(0).id == snapshot->viewer);
        }
    }
    return 0;
}
