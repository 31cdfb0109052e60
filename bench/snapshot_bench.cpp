// Reassembly of the largest snapshot the protocol allows: 368 entities in 16 full parts,
// each part framed and header-checked as the main loop would receive it.
#include <benchmark/benchmark.h>

#include "session/handoff_messages.h"
#include "session/snapshot_assembly.h"

namespace kestrel {
namespace {

std::vector<Bytes> full_snapshot_packets() {
    Snapshot snapshot{1, 900, 40, 2, 1, 3, 0x5EC7, {}};
    for (std::uint32_t i = 0; i < 368; ++i) {
        ReplicatedEntity entity;
        entity.id = i + 1;
        entity.x = static_cast<std::int32_t>(256 + 17 * i) << 8;
        entity.y = static_cast<std::int32_t>(4096 + 5 * i) << 8;
        entity.kind = i == 0 ? 1 : static_cast<std::uint8_t>(2 + i % 16);
        entity.health = static_cast<std::uint16_t>(i % 100);
        snapshot.entities.push_back(entity);
    }
    std::vector<Bytes> packets;
    for (const Writer& part : snapshot_part_payloads(snapshot))
        packets.push_back(packet(Type::SnapshotPart, 77, 1, snapshot.epoch, part));
    return packets;
}

void BM_IngestFullSnapshot(benchmark::State& state) {
    const std::vector<Bytes> packets = full_snapshot_packets();
    std::size_t entities = 0;
    for (auto _ : state) {
        SnapshotAssembly assembly;
        std::optional<Snapshot> done;
        for (const Bytes& bytes : packets) {
            Reader reader(bytes);
            const Header header = read_header(reader);
            done = assembly.ingest(header, reader, 1.0);
        }
        if (!done) state.SkipWithError("snapshot did not complete");
        entities = done ? done->entities.size() : 0;
        benchmark::DoNotOptimize(done);
    }
    state.counters["parts"] = static_cast<double>(packets.size());
    state.counters["entities"] = static_cast<double>(entities);
}
BENCHMARK(BM_IngestFullSnapshot)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace kestrel
