// HandoffClient::handle fed a sequence of packets, the way the router passes them on.
//
// Input: one record per packet, header included (framing in fuzz_input.h); packets whose
// header read_header refuses are skipped. After every packet:
//   - a refused packet leaves the client exactly as it was;
//   - an acknowledgement is only returned with a pending sector, and is acknowledge();
//   - no pending sector without a pending transition, and a pending sector is the
//     announced one; at most five early chunks; Active only with a committed sector;
//   - the session is set once; the epoch moves only with a Welcome, commit or abort;
//   - a commit leaves the spawn on free ground of the sector it committed;
//   - stale packets change nothing: a begin or a pending transfer's chunk of another
//     epoch, and every type outside 5..9 once the Welcome is in (it is checked against
//     the session, then ignored).
#include <cstdint>
#include <stdexcept>

#include "fuzz/fuzz_input.h"
#include "fuzz/same.h"
#include "session/handoff_client.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

void check(const HandoffClient& client, const HandoffClient& before, const Header& header,
           const std::optional<Writer>& ack) {
    if (ack) {
        KESTREL_FUZZ_CHECK(client.pending.has_value());
        const std::optional<Writer> again = client.acknowledge();
        KESTREL_FUZZ_CHECK(again && again->bytes == ack->bytes && ack->bytes.size() == 24);
    }
    KESTREL_FUZZ_CHECK(client.early_chunks.size() <= max_early_chunks);
    if (client.transition == 0) KESTREL_FUZZ_CHECK(!client.pending && client.target_sector == 0);
    if (client.pending) {
        KESTREL_FUZZ_CHECK(client.pending->id == client.target_sector);
        KESTREL_FUZZ_CHECK(client.pending->revision == client.assembly.revision);
        client.pending->validate();
    }
    if (client.state == HandoffState::Active) KESTREL_FUZZ_CHECK(client.committed.has_value());
    if (client.committed) client.committed->validate();
    if (before.session != 0) KESTREL_FUZZ_CHECK(client.session == before.session);
    if (client.epoch != before.epoch)
        KESTREL_FUZZ_CHECK(header.type == Type::Welcome || header.type == Type::TransitionCommit ||
                           header.type == Type::TransitionAbort);
    if (header.type == Type::TransitionCommit && client.epoch != before.epoch) {
        KESTREL_FUZZ_CHECK(client.state == HandoffState::Active && !client.pending);
        KESTREL_FUZZ_CHECK(client.spawn.id == client.player_id);
        KESTREL_FUZZ_CHECK(
            body_clear(client.committed->collision(false), client.spawn.x, client.spawn.y));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{data, size};
    HandoffClient client;
    while (!input.empty()) {
        const std::span<const std::uint8_t> bytes = input.record();
        Reader reader(bytes);
        Header header;
        try {
            header = read_header(reader);
        } catch (const std::runtime_error&) {
            continue;
        }
        const HandoffClient before = client;
        std::optional<Writer> ack;
        try {
            ack = client.handle(header, reader);
        } catch (const std::runtime_error&) {
            KESTREL_FUZZ_CHECK(same(client, before));
            continue;
        }
        check(client, before, header, ack);
        const auto type = static_cast<unsigned>(header.type);
        const bool chunk_for_transfer =
            header.type == Type::MapChunk && before.session != 0 && before.transition != 0;
        const bool stale_epoch = (header.type == Type::TransitionBegin || chunk_for_transfer) &&
                                 header.epoch != before.epoch;
        const bool ignored_type =
            before.session != 0 && (type < 5 || type > 9) && header.type != Type::Welcome;
        if (stale_epoch || ignored_type) KESTREL_FUZZ_CHECK(same(client, before) && !ack);
    }
    return 0;
}
