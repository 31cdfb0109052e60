// Client-side prediction of the local player.
//
// Every command sent to the server is also applied here with the server's own movement rule
// and kept until a snapshot acknowledges it. A snapshot replaces the prediction with the
// authoritative state and replays the unacknowledged commands on top; the visible jump is
// kept as a drawing offset that decays over about 0.1 s, unless it is too large to hide
// (more than 0.75 cells) or the player is dead, in which case the view snaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "protocol/player.h"
#include "world/sector.h"

namespace kestrel {

class Prediction {
  public:
    static constexpr std::size_t max_pending = 120; // four seconds of commands
    static constexpr double snap_distance = 0.75;   // cells; larger corrections are not hidden
    static constexpr double smoothing_time = 0.1;   // seconds, time constant of the decay

    // Visual correction in cells, added to the drawn position.
    struct Offset {
        float x = 0;
        float y = 0;
        friend bool operator==(const Offset&, const Offset&) = default;
    };

    // Starts over from an authoritative state; the counters keep counting.
    void reset(const Player& player);

    // Applies one new command and queues it. Returns false, changing nothing, when the queue is
    // full. Throws "prediction command order" unless the command is newer than the newest
    // queued one in both sequence and tick.
    bool step(const Input& input, const Grid& grid);

    // Takes the server's state of the local player with the snapshot's input_ack and tick,
    // drops what the server has applied and replays the rest.
    void reconcile(const Player& server, std::uint32_t input_ack, std::uint32_t tick,
                   const Grid& grid);

    // Lets the offset decay by dt seconds; a negative dt counts as 0.
    void smooth(double dt);

    const std::deque<Input>& pending() const { return pending_; }
    const Player& predicted() const { return predicted_; }
    // The state before the last applied command; drawing blends from it to predicted.
    const Player& previous() const { return previous_; }
    Offset offset() const { return offset_; }
    std::uint64_t reconciles() const { return reconciles_; }
    // Largest correction seen, in cells.
    double max_correction() const { return max_correction_; }

  private:
    std::deque<Input> pending_;
    Player predicted_;
    Player previous_;
    Offset offset_;
    std::uint64_t reconciles_ = 0;
    double max_correction_ = 0;
};

} // namespace kestrel
