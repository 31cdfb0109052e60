// Synthesised effects kept for reuse. sound_samples() costs up to about a millisecond for
// the longest effect, so each (effect, variant) is rendered once, before the audio lock is
// taken, and the mixer's voices share the finished buffer. Variants run to 65,535 and more,
// so the cache is bounded in bytes and forgets the least recently used effect first.
// Plain data; used from one thread only (the main loop), never under the audio lock.
#pragma once

#include <cstdint>
#include <list>
#include <unordered_map>
#include <utility>

#include "sound/sound_mixer.h"

namespace kestrel {

class SoundCache {
  public:
    // 2 MiB of samples: about twenty of the longest effects or a few hundred short ones.
    static constexpr std::size_t default_capacity = std::size_t{2} << 20;

    explicit SoundCache(std::size_t capacity_bytes = default_capacity) : capacity(capacity_bytes) {}

    // The samples of sound_samples(effect, variant), synthesised on a miss. The newest effect
    // always stays, even one larger than the whole capacity.
    SoundMixer::Samples get(int effect, unsigned variant);

    std::size_t bytes() const { return held; }        // sample bytes currently held
    std::size_t size() const { return order.size(); } // effects currently held

  private:
    static std::uint64_t key(int effect, unsigned variant) {
        return std::uint64_t{static_cast<std::uint32_t>(effect)} << 32 | variant;
    }

    using Entry = std::pair<std::uint64_t, SoundMixer::Samples>;
    std::size_t capacity;
    std::size_t held = 0;
    std::list<Entry> order; // most recently used first
    std::unordered_map<std::uint64_t, std::list<Entry>::iterator> index;
};

} // namespace kestrel
