#include "sound/sound_cache.h"

#include <memory>

#include "sound/sound_samples.h"

namespace kestrel {

SoundMixer::Samples SoundCache::get(int effect, unsigned variant) {
    const std::uint64_t k = key(effect, variant);
    if (const auto found = index.find(k); found != index.end()) {
        order.splice(order.begin(), order, found->second);
        return found->second->second;
    }
    auto samples = std::make_shared<const std::vector<float>>(sound_samples(effect, variant));
    order.emplace_front(k, samples);
    index.emplace(k, order.begin());
    held += samples->size() * sizeof(float);
    // Voices still playing an evicted effect keep their own reference to it.
    while (held > capacity && order.size() > 1) {
        held -= order.back().second->size() * sizeof(float);
        index.erase(order.back().first);
        order.pop_back();
    }
    return samples;
}

} // namespace kestrel
