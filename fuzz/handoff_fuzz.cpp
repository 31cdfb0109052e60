// HandoffClient::handle fed one packet per record. A refused packet changes nothing, an ack
// needs a pending sector, a commit leaves a valid sector with the spawn on free ground.
#include "fuzz/same.h"

using namespace kestrel;
using namespace kestrel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{data, size};
    HandoffClient client;
    while (!input.empty()) {
        Reader reader(input.record());
        Header header;
        if (!decoded(header, [&] { return read_header(reader); })) continue;
        std::optional<Writer> ack;
        const std::uint32_t epoch = client.epoch;
        if (!applied(client, [&](HandoffClient& c) { ack = c.handle(header, reader); })) continue;
        if (ack) KESTREL_FUZZ_CHECK(client.pending && client.acknowledge()->bytes == ack->bytes);
        if (header.type == Type::TransitionCommit && client.epoch != epoch) {
            client.committed->validate();
            KESTREL_FUZZ_CHECK(
                body_clear(client.committed->collision(false), client.spawn.x, client.spawn.y));
        }
    }
    return 0;
}
