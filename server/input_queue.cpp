#include "server/input_queue.h"

#include <algorithm>

namespace kestrel {

bool InputQueue::receive(const Input& input) {
    if (!is_newer(input.sequence, applied)) return false; // applied already (or skipped)
    if (input.sequence - next >= max_ahead) return false;
    const auto at = std::lower_bound(waiting.begin(), waiting.end(), input.sequence,
                                     [](const Input& held, std::uint32_t sequence) {
                                         return is_newer(sequence, held.sequence);
                                     });
    if (at != waiting.end() && at->sequence == input.sequence) return false; // a repeat
    waiting.insert(at, input);
    return true;
}

std::vector<Input> InputQueue::take(std::uint32_t tick) {
    auto ready = [this] {
        std::size_t count = 0;
        while (count < waiting.size() && waiting[count].sequence == next + count) ++count;
        return count;
    };

    std::size_t count = ready();
    if (count == 0 && !waiting.empty()) {
        if (!gap_open) {
            gap_open = true;
            gap_since = tick;
        }
        if (tick - gap_since >= gap_wait_ticks) {
            // Every packet repeats the last three commands, so a sequence still missing
            // after this long was in three lost packets and will never come.
            skipped += waiting.front().sequence - next;
            next = waiting.front().sequence;
            count = ready();
        }
    }
    if (count == 0) return {};
    gap_open = false;

    const std::size_t budget = apply_budget(count);
    std::vector<Input> out(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(budget));
    waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(budget));
    applied = out.back().sequence;
    applied_tick = out.back().tick;
    next = applied + 1;
    return out;
}

std::optional<std::uint32_t> InputQueue::earliest_waiting_tick() const {
    std::optional<std::uint32_t> earliest;
    for (const Input& input : waiting)
        if (!earliest || is_newer(*earliest, input.tick)) earliest = input.tick;
    return earliest;
}

std::size_t apply_budget(std::size_t ready) {
    if (ready <= 2) return std::min<std::size_t>(ready, 1);
    return std::min(ready - 1, InputQueue::max_per_tick);
}

} // namespace kestrel
