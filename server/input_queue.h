// One player's received input commands, waiting to be applied in sequence order.
//
// The client sends 30 commands a second, each packet repeating the last three, and
// predicts every command the moment it sends it by running `move` from the state of its
// last snapshot. Its prediction only agrees with the server if the server applies exactly
// the same commands, each once, in the same order: so commands are deduplicated by
// sequence number, applied strictly in order however late they come, and a command that
// never arrives (three packets in a row lost) is skipped only after a short wait.
//
// Sequence numbers start at 1 in every epoch; the queue is replaced at each epoch change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/player.h"

namespace kestrel {

// Newer in wrap-around order (sequence numbers and ticks).
constexpr bool is_newer(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) > 0;
}

struct InputQueue {
    // How long a missing sequence is waited for before the commands after it are applied.
    static constexpr std::uint32_t gap_wait_ticks = 6;
    // Commands further ahead than this of the next expected one are refused as bogus; the
    // client never has more than 120 unacknowledged.
    static constexpr std::uint32_t max_ahead = 256;
    // Commands applied per tick: one, or up to this many while a backlog drains.
    static constexpr std::size_t max_per_tick = 4;

    std::uint32_t next = 1;         // sequence expected next
    std::uint32_t applied = 0;      // last applied sequence, 0 = none this epoch
    std::uint32_t applied_tick = 0; // the client's tick stamp of that command
    std::vector<Input> waiting;     // received, newer than `applied`, in sequence order
    std::uint32_t gap_since = 0;    // server tick at which `next` was first found missing
    bool gap_open = false;
    std::uint64_t skipped = 0; // sequences given up on

    // Adds one received command; false when it is a repeat or out of range.
    bool receive(const Input& input);

    // The commands to apply in this tick, in order, bookkeeping done (applied, applied_tick,
    // skips). `tick` is the server tick, used to time the wait for a missing sequence.
    std::vector<Input> take(std::uint32_t tick);

    // The smallest tick stamp among received commands not applied yet.
    std::optional<std::uint32_t> earliest_waiting_tick() const;
};

// How many commands to apply in one tick when `ready` consecutive commands are waiting:
// one, and more while a backlog of more than two drains, at most max_per_tick.
std::size_t apply_budget(std::size_t ready);

} // namespace kestrel
