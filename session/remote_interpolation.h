// Smooth positions for every entity but the local player.
//
// The newest snapshots are laid on a server time line built from their ticks (30 per
// second). Each frame is drawn 0.1 s behind that line, blending every entity between the
// two snapshots around the render moment; when the newest snapshot is already behind it,
// entities coast along their velocity for at most 0.1 s and then hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "session/draw_entity.h"
#include "session/snapshot.h"

namespace kestrel {

class RemoteInterpolation {
  public:
    static constexpr std::size_t max_samples = 8;
    static constexpr double delay = 0.1;             // seconds behind the newest snapshot
    static constexpr double max_extrapolation = 0.1; // seconds of coasting past it

    struct Sample {
        Snapshot snapshot;
        double time = 0; // on the server time line, seconds
    };

    // Adds a snapshot received at the caller's time now (seconds). A snapshot whose tick is
    // not newer than the newest held one is ignored entirely.
    void push(const Snapshot& snapshot, double now);

    // The entities of the newest snapshot, viewer excluded, as drawn at the caller's time now.
    std::vector<DrawEntity> sample(double now) const;

    // Forgets every sample; the time line restarts at 0. Same as assigning a fresh value.
    void clear() { *this = RemoteInterpolation{}; }

    // Oldest first.
    const std::deque<Sample>& samples() const { return samples_; }
    double server_time() const { return server_time_; }
    // Caller's time of the last accepted push.
    double pushed_at() const { return pushed_at_; }

  private:
    std::deque<Sample> samples_;
    // Per sample, (id, record position) sorted by id: finds a record when the order of the
    // entities changed between snapshots.
    std::deque<std::vector<std::pair<std::uint32_t, std::uint32_t>>> by_id_;
    double server_time_ = 0;
    double pushed_at_ = 0;
};

} // namespace kestrel
