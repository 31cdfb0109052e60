#include "session/prediction.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "world/movement.h"

namespace kestrel {
namespace {

// Sequence numbers and ticks wrap; a is newer than b when the signed difference is positive.
bool newer(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) > 0;
}

constexpr float cells_per_unit = 1.0f / 65536.0f;

} // namespace

void Prediction::reset(const Player& player) {
    predicted_ = player;
    previous_ = player;
    pending_.clear();
    offset_ = {};
}

bool Prediction::step(const Input& input, const Grid& grid) {
    if (pending_.size() >= max_pending) return false;
    if (!pending_.empty()) {
        const Input& last = pending_.back();
        if (!newer(input.sequence, last.sequence) || !newer(input.tick, last.tick))
            throw std::runtime_error("prediction command order");
    }
    previous_ = predicted_;
    move(predicted_, input, grid);
    pending_.push_back(input);
    return true;
}

void Prediction::reconcile(const Player& server, std::uint32_t input_ack, std::uint32_t tick,
                           const Grid& grid) {
    const float old_x = static_cast<float>(predicted_.x) * cells_per_unit;
    const float old_y = static_cast<float>(predicted_.y) * cells_per_unit;

    // A command the server has reached by either count is one it has applied.
    while (!pending_.empty() &&
           !(newer(pending_.front().sequence, input_ack) && newer(pending_.front().tick, tick)))
        pending_.pop_front();

    predicted_ = server;
    for (const Input& input : pending_) move(predicted_, input, grid);
    previous_ = predicted_;

    const float ex = offset_.x + (old_x - static_cast<float>(predicted_.x) * cells_per_unit);
    const float ey = offset_.y + (old_y - static_cast<float>(predicted_.y) * cells_per_unit);
    const double d = std::sqrt(static_cast<double>(ex) * ex + static_cast<double>(ey) * ey);

    max_correction_ = std::max(max_correction_, d);
    ++reconciles_;

    // Keep the drawn position (predicted + offset) where it was, unless the jump is too large
    // to hide or there is nothing alive to smooth.
    if (predicted_.health == 0 || d > snap_distance)
        offset_ = {};
    else
        offset_ = {ex, ey};
}

void Prediction::smooth(double dt) {
    const double factor = std::exp(std::max(dt, 0.0) / -smoothing_time);
    offset_.x = static_cast<float>(offset_.x * factor);
    offset_.y = static_cast<float>(offset_.y * factor);
}

} // namespace kestrel
