#include "session/prediction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "tests/support/errors.h"
#include "world/movement.h"

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;

const Grid grid = [] { // free cells inside a solid border
    Sector sector;
    for (int i = 0; i < 32; ++i)
        sector.cells[i] = sector.cells[31 * 32 + i] = sector.cells[i * 32] =
            sector.cells[i * 32 + 31] = 1;
    return sector.collision(false);
}();

Player at(std::int32_t x, std::int32_t y, std::uint16_t health = 100) {
    Player player;
    player.id = 7;
    player.x = x;
    player.y = y;
    player.health = health;
    return player;
}

Input walk(std::uint32_t sequence, std::uint32_t tick, std::uint16_t yaw = 3000) {
    return Input{sequence, tick, button::forward, yaw};
}

auto view(const Prediction& p) {
    return std::make_tuple(p.pending(), p.predicted(), p.previous(), p.offset(), p.reconciles(),
                           p.max_correction());
}

// Standing at (16, 16) cells with the commands (i, 100 + i, i * 4000) for i in 1..count.
Prediction walked(std::uint32_t count) {
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    for (std::uint32_t i = 1; i <= count; ++i)
        EXPECT_TRUE(prediction.step(walk(i, 100 + i, static_cast<std::uint16_t>(i * 4000)), grid));
    return prediction;
}

// A prediction at (16, 16) cells corrected by (dx, dy) units with nothing pending.
Prediction corrected_by(std::int32_t dx, std::int32_t dy, std::uint16_t health = 100) {
    Prediction prediction = walked(0);
    prediction.reconcile(at(16 * cell - dx, 16 * cell - dy, health), 0, 0, grid);
    return prediction;
}

TEST(Prediction, StepMovesQueuesAndRefusesOldOrSurplusCommands) {
    Prediction prediction = walked(2);
    Player first = at(16 * cell, 16 * cell), second;
    move(first, walk(1, 101, 4000), grid);
    move(second = first, walk(2, 102, 8000), grid);
    EXPECT_EQ(prediction.predicted(), second);
    EXPECT_EQ(prediction.previous(), first);
    EXPECT_EQ(prediction.pending().back(), walk(2, 102, 8000));
    const auto before = view(prediction);
    // Not newer in both counts; more than half the counter range ahead reads as behind.
    for (const Input& input :
         {walk(2, 103), walk(3, 102), walk(3, 101), walk(1, 103), walk(2 + 0x80000000u, 103)})
        EXPECT_EQ(test::error_of([&] { prediction.step(input, grid); }),
                  "prediction command order");
    EXPECT_TRUE(view(prediction) == before);

    Prediction wrapping; // counters that wrap are still in order
    for (std::uint32_t i : {4294967295u, 0u, 1u}) ASSERT_TRUE(wrapping.step(walk(i, i), grid));
    wrapping.reconcile(at(16 * cell, 16 * cell), 4294967295u, 4294967295u, grid);
    ASSERT_EQ(wrapping.pending().size(), 2u);
    EXPECT_EQ(wrapping.pending().front().sequence, 0u);

    Prediction full = walked(120);
    const auto at_limit = view(full);
    EXPECT_FALSE(full.step(walk(121, 221), grid));
    EXPECT_FALSE(full.step(walk(1, 1), grid)); // the size check comes before the order check
    EXPECT_TRUE(view(full) == at_limit);
    full.reconcile(full.predicted(), 1, 101, grid);
    EXPECT_EQ(full.pending().size(), 119u);
    EXPECT_TRUE(full.step(walk(121, 221), grid));
}

TEST(Prediction, ReconcileReplaysWhatTheServerHasNotApplied) {
    Prediction all = walked(5), some = walked(10), by_tick = walked(6), by_sequence = walked(6);
    Player server = at(17 * cell, 15 * cell);
    server.ammo = 42;
    all.reconcile(server, 5, 105, grid);
    EXPECT_TRUE(all.pending().empty());
    EXPECT_EQ(all.predicted(), server);
    EXPECT_EQ(all.previous(), server);

    server = at(15 * cell + 123, 16 * cell - 4567);
    some.reconcile(server, 4, 104, grid);
    for (std::uint32_t i = 5; i <= 10; ++i)
        move(server, walk(i, 100 + i, static_cast<std::uint16_t>(i * 4000)), grid);
    ASSERT_EQ(some.pending().size(), 6u);
    EXPECT_EQ(some.pending().front().sequence, 5u);
    EXPECT_EQ(some.predicted(), server);
    EXPECT_EQ(some.previous(), server);

    by_tick.reconcile(at(16 * cell, 16 * cell), 0, 103, grid); // either count acknowledges
    by_sequence.reconcile(at(16 * cell, 16 * cell), 2, 50, grid);
    EXPECT_EQ(by_tick.pending().front().sequence, 4u);
    EXPECT_EQ(by_sequence.pending().front().sequence, 3u);
}

TEST(Prediction, CorrectionsUpToThreeQuartersOfACellAreSmoothed) {
    using Offset = Prediction::Offset;
    // dx, dy, health; the offset left; the largest correction (the Euclidean length).
    const std::tuple<std::int32_t, std::int32_t, std::uint16_t, Offset, double> cases[] = {
        {49152, 0, 100, {0.75f, 0}, 0.75},
        {0, -49153, 100, {}, 49153.0 / 65536},
        {34734,
         34734,
         100,
         {34734.0f / 65536, 34734.0f / 65536},
         std::hypot(34734.0 / 65536, 34734.0 / 65536)},
        {35390, 35390, 100, {}, std::hypot(35390.0 / 65536, 35390.0 / 65536)},
        {1000, 1000, 0, {}, std::hypot(1000.0 / 65536, 1000.0 / 65536)}, // dead: always snaps
    };
    for (const auto& [dx, dy, health, offset, largest] : cases) {
        const Prediction p = corrected_by(dx, dy, health);
        EXPECT_EQ(p.offset(), offset) << dx << " " << dy;
        EXPECT_NEAR(p.max_correction(), largest, 1e-12);
        EXPECT_EQ(p.reconciles(), 1u);
    }

    Prediction prediction = corrected_by(32768, -16384);
    ASSERT_EQ(prediction.offset(), (Offset{0.5f, -0.25f}));
    for (double dt : {-1.0, 0.0}) prediction.smooth(dt); // no time: no decay
    EXPECT_EQ(prediction.offset(), (Offset{0.5f, -0.25f}));
    Prediction again = prediction; // a second jump adds to the offset: 0.5 + 0.3 snaps
    Player server = again.predicted();
    server.x -= 19661;
    again.reconcile(server, 0, 0, grid);
    EXPECT_EQ(again.offset(), Offset{});
    EXPECT_GT(again.max_correction(), 0.8);
    EXPECT_EQ(again.reconciles(), 2u);
    prediction.smooth(0.1); // a time constant of 0.1 s
    EXPECT_FLOAT_EQ(prediction.offset().x, static_cast<float>(0.5 * std::exp(-1.0)));
    EXPECT_FLOAT_EQ(prediction.offset().y, static_cast<float>(-0.25 * std::exp(-1.0)));
    EXPECT_NEAR(prediction.offset().x, 0.5 * 0.3679, 1e-4);

    // A reset starts over but keeps the counters; any first command is then accepted.
    prediction.step(walk(5, 5), grid);
    const Player spawn = at(3 * cell, 4 * cell);
    prediction.reset(spawn);
    EXPECT_TRUE(view(prediction) == std::make_tuple(std::deque<Input>{}, spawn, spawn, Offset{},
                                                    std::uint64_t{1}, std::sqrt(0.3125)));
    EXPECT_TRUE(prediction.step(walk(0, 0), grid));
}

} // namespace
} // namespace kestrel
