// Equality of the receivers the targets drive, to check that a refused message changes
// nothing (the types themselves need no operator==).
#pragma once

#include "fuzz/fuzz_input.h"
#include "session/handoff_client.h"
#include "session/snapshot_assembly.h"
#include "world/map_transfer.h"

namespace kestrel::fuzz {

inline bool same(const Header& a, const Header& b) {
    return a.type == b.type && a.length == b.length && a.session == b.session &&
           a.sequence == b.sequence && a.epoch == b.epoch;
}

inline bool same(const MapAssembly& a, const MapAssembly& b) {
    return a.transition == b.transition && a.sector == b.sector && a.revision == b.revision &&
           a.crc == b.crc && a.bytes == b.bytes && a.received == b.received;
}

inline bool same(const Snapshot& a, const Snapshot& b) {
    return a.id == b.id && a.tick == b.tick && a.input_ack == b.input_ack &&
           a.revision == b.revision && a.viewer == b.viewer && a.epoch == b.epoch &&
           a.sector == b.sector && a.entities == b.entities;
}

inline bool same(const SnapshotAssembly& a, const SnapshotAssembly& b) {
    if (a.last != b.last || a.partials.size() != b.partials.size()) return false;
    for (auto x = a.partials.begin(), y = b.partials.begin(); x != a.partials.end(); ++x, ++y) {
        if (x->first != y->first || !same(x->second.snapshot, y->second.snapshot) ||
            x->second.received != y->second.received || x->second.parts != y->second.parts)
            return false;
    }
    return true;
}

inline bool same(const HandoffClient& a, const HandoffClient& b) {
    if (a.early_chunks.size() != b.early_chunks.size()) return false;
    for (std::size_t i = 0; i < a.early_chunks.size(); ++i) {
        if (!same(a.early_chunks[i].header, b.early_chunks[i].header) ||
            a.early_chunks[i].payload != b.early_chunks[i].payload)
            return false;
    }
    return a.transition == b.transition && a.target_sector == b.target_sector &&
           a.target_epoch == b.target_epoch && same(a.assembly, b.assembly) &&
           a.pending == b.pending && a.session == b.session && a.epoch == b.epoch &&
           a.player_id == b.player_id && a.server_tick == b.server_tick && a.spawn == b.spawn &&
           a.committed == b.committed && a.state == b.state;
}

// Runs `action` on `state`: whether it went through; when it threw, `state` is unchanged.
template <class State, class Action>
bool applied(State& state, Action&& action) {
    const State before = state;
    try {
        action(state);
        return true;
    } catch (const std::runtime_error&) {
        KESTREL_FUZZ_CHECK(same(state, before));
        return false;
    }
}

} // namespace kestrel::fuzz
