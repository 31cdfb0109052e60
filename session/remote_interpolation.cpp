#include "session/remote_interpolation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

namespace kestrel {
namespace {

constexpr float cells_per_unit = 1.0f / 65536.0f;
constexpr float max_cell = 31.99f; // keeps a drawn entity inside the 32x32 sector

using Index = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Finds the record with the given id. The server sends entities in a stable order, so the
// record is usually the one after the previous hit (the cursor) and a frame costs one probe
// per entity and sample; otherwise the sorted index answers in a binary search.
const ReplicatedEntity* find(const std::vector<ReplicatedEntity>& entities, const Index& by_id,
                             std::uint32_t id, std::size_t& cursor) {
    if (cursor < entities.size() && entities[cursor].id == id) return &entities[cursor++];
    const auto it =
        std::lower_bound(by_id.begin(), by_id.end(), id,
                         [](const auto& entry, std::uint32_t key) { return entry.first < key; });
    if (it == by_id.end() || it->first != id) return nullptr;
    cursor = it->second + 1;
    return &entities[it->second];
}

} // namespace

void RemoteInterpolation::push(const Snapshot& snapshot, double now) {
    if (!samples_.empty()) {
        const auto d = static_cast<std::int32_t>(snapshot.tick - samples_.back().snapshot.tick);
        if (d < 1) return; // not newer: the time line never runs backwards
        server_time_ += d / 30.0;
    }
    Index by_id(snapshot.entities.size());
    for (std::uint32_t i = 0; i < by_id.size(); ++i) by_id[i] = {snapshot.entities[i].id, i};
    std::sort(by_id.begin(), by_id.end());

    samples_.push_back(Sample{snapshot, server_time_});
    by_id_.push_back(std::move(by_id));
    pushed_at_ = now;
    while (samples_.size() > max_samples) {
        samples_.pop_front();
        by_id_.pop_front();
    }
}

std::vector<DrawEntity> RemoteInterpolation::sample(double now) const {
    std::vector<DrawEntity> out;
    if (samples_.empty() || samples_.back().snapshot.entities.empty()) return out;

    const Snapshot& newest = samples_.back().snapshot;
    const double t_new = samples_.back().time;
    const double r = server_time_ + std::max(0.0, now - pushed_at_) - delay;

    std::array<std::size_t, max_samples> cursors{};
    out.reserve(newest.entities.size());
    for (const ReplicatedEntity& e : newest.entities) {
        if (e.id == newest.viewer) continue; // drawn from prediction instead

        // The newest record at or before r, and the oldest at or after it.
        const ReplicatedEntity* before = &e;
        const ReplicatedEntity* after = nullptr;
        double t0 = t_new;
        double t1 = t_new;
        for (std::size_t k = 0; k < samples_.size(); ++k) {
            const Sample& s = samples_[k];
            const ReplicatedEntity* record = find(s.snapshot.entities, by_id_[k], e.id, cursors[k]);
            if (!record) continue;
            if (s.time <= r) before = record, t0 = s.time;
            if (s.time >= r) {
                after = record, t1 = s.time;
                break;
            }
        }
        if (!after) after = &e, t1 = t_new;

        const double a = t1 <= t0 ? 1.0 : std::clamp((r - t0) / (t1 - t0), 0.0, 1.0);
        const float af = static_cast<float>(a);
        float x =
            ((1.0f - af) * static_cast<float>(before->x) + af * static_cast<float>(after->x)) /
            65536.0f;
        float y =
            ((1.0f - af) * static_cast<float>(before->y) + af * static_cast<float>(after->y)) /
            65536.0f;
        if (r > t_new) {
            const float h = static_cast<float>(std::min(r - t_new, max_extrapolation));
            x = static_cast<float>(e.x) * cells_per_unit +
                h * (static_cast<float>(e.vx) * cells_per_unit);
            y = static_cast<float>(e.y) * cells_per_unit +
                h * (static_cast<float>(e.vy) * cells_per_unit);
        }

        // The short way round; left unwrapped, so it may leave 0..65535 slightly.
        const double turn = std::remainder(static_cast<double>(after->yaw) - before->yaw, 65536.0);

        DrawEntity d;
        d.x = std::clamp(x, 0.0f, max_cell);
        d.y = std::clamp(y, 0.0f, max_cell);
        d.z = static_cast<float>(static_cast<std::int16_t>(e.height)) / 256.0f;
        d.yaw = static_cast<float>(before->yaw + a * turn);
        d.id = e.id;
        d.health = e.health;
        d.type = e.type;
        d.kind = e.kind;
        d.marked = e.tick_event ? 1 : 0;
        d.death_age = 100;
        d.timer = e.cooldown;
        d.state = e.state;
        out.push_back(d);
    }
    return out;
}

} // namespace kestrel
