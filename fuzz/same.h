// Equality of the types the targets drive (they need no operator==): a refusal changes nothing.
#pragma once

#include <cstring>
#include <optional>
#include <ranges>
#include <tuple>
#include <type_traits>
#include <utility>

#include "fuzz/fuzz_input.h"
#include "session/handoff_client.h"
#include "session/snapshot_assembly.h"
#include "world/map_transfer.h"

namespace kestrel::fuzz {

// Members<T>::of(v): the members of a type without ==, as a tuple (lvalues by reference).
// clang-format off
template <class T> struct Members {};
template <class... A> auto members(A&&... a) { return std::tuple<A...>(std::forward<A>(a)...); }
#define KESTREL_MEMBERS(T, ...) template <> struct kestrel::fuzz::Members<T> { \
        static auto of(const T& v) { return kestrel::fuzz::members(__VA_ARGS__); } }
// clang-format on

// Floating point by bits (so NaN equals NaN), then Members, ranges and tuples, the rest by ==.
// clang-format off
template <class T>
bool same(const T& a, const T& b) {
    if constexpr (std::is_floating_point_v<T>) return std::memcmp(&a, &b, sizeof a) == 0;
    else if constexpr (requires { Members<T>::of(a); }) return same(Members<T>::of(a), Members<T>::of(b));
    else if constexpr (std::ranges::input_range<T>)
        return std::ranges::equal(a, b, [](const auto& x, const auto& y) { return same(x, y); });
    else if constexpr (requires { std::tuple_size<T>::value; })
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return (same(std::get<I>(a), std::get<I>(b)) && ...); }(std::make_index_sequence<std::tuple_size_v<T>>{});
    else return a == b;
}
// clang-format on

// Runs `action` on `state`: the state before if it went through, else (state unchanged) none.
template <class State, class Action>
std::optional<State> applied(State& state, Action&& action) {
    std::optional<State> before = state;
    try {
        action(state);
        return before;
    } catch (const std::runtime_error&) {
        KESTREL_FUZZ_CHECK(same(state, *before));
        return std::nullopt;
    }
}

} // namespace kestrel::fuzz

// clang-format off
KESTREL_MEMBERS(kestrel::Header, v.type, v.length, v.session, v.sequence, v.epoch);
KESTREL_MEMBERS(kestrel::MapAssembly, v.transition, v.sector, v.revision, v.crc, v.bytes, v.received);
KESTREL_MEMBERS(kestrel::Snapshot, v.id, v.tick, v.input_ack, v.revision, v.viewer, v.epoch, v.sector, v.entities);
KESTREL_MEMBERS(kestrel::SnapshotAssembly::Partial, v.snapshot, v.received, v.parts);
KESTREL_MEMBERS(kestrel::SnapshotAssembly, v.partials, v.last);
KESTREL_MEMBERS(kestrel::ChunkEnvelope, v.header, v.payload);
KESTREL_MEMBERS(kestrel::HandoffClient, v.early_chunks, v.transition, v.target_sector, v.target_epoch,
                v.assembly, v.pending, v.session, v.epoch, v.player_id, v.server_tick, v.spawn,
                v.committed, v.state);
// clang-format on
