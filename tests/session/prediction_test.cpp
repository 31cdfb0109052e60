#include "session/prediction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "tests/support/errors.h"
#include "world/movement.h"

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;
using Offset = Prediction::Offset;

const Grid grid = [] { // free cells inside a solid border
    Sector sector;
    for (int i = 0; i < 32; ++i)
        sector.cells[i] = sector.cells[31 * 32 + i] = sector.cells[i * 32] =
            sector.cells[i * 32 + 31] = 1;
    return sector.collision(false);
}();

Player at(std::int32_t x, std::int32_t y, std::uint16_t health = 100) {
    return {.id = 7, .x = x, .y = y, .health = health};
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

// `server` walked by the commands from..10 of walked(10).
Player replayed(Player server, std::uint32_t from) {
    for (std::uint32_t i = from; i <= 10; ++i)
        move(server, walk(i, 100 + i, static_cast<std::uint16_t>(i * 4000)), grid);
    return server;
}

TEST(Prediction, StepQueuesAndRefusesOldOrSurplusCommands) {
    Prediction prediction = walked(2);
    Player first = at(16 * cell, 16 * cell), second;
    move(first, walk(1, 101, 4000), grid);
    move(second = first, walk(2, 102, 8000), grid);
    const auto walked_two = std::make_tuple(std::deque{walk(1, 101, 4000), walk(2, 102, 8000)},
                                            second, first, Offset{}, std::uint64_t{0}, 0.0);
    EXPECT_TRUE(view(prediction) == walked_two);
    // Not newer in both counts; more than half the counter range ahead reads as behind.
    for (const Input& input :
         {walk(2, 103), walk(3, 102), walk(3, 101), walk(1, 103), walk(2 + 0x80000000u, 103)})
        EXPECT_EQ(test::error_of([&] { prediction.step(input, grid); }),
                  "prediction command order");
    EXPECT_TRUE(view(prediction) == walked_two);

    Prediction wrapping; // counters that wrap are still in order
    for (std::uint32_t i : {4294967295u, 0u, 1u}) ASSERT_TRUE(wrapping.step(walk(i, i), grid));
    wrapping.reconcile(at(16 * cell, 16 * cell), 4294967295u, 4294967295u, grid);
    EXPECT_EQ(wrapping.pending(), (std::deque{walk(0, 0), walk(1, 1)}));

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
    EXPECT_TRUE(all.pending().empty() && all.predicted() == server && all.previous() == server);
    server = at(15 * cell + 123, 16 * cell - 4567);
    some.reconcile(server, 4, 104, grid);
    EXPECT_EQ(some.pending().size(), 6u);
    EXPECT_EQ(std::tie(some.pending().front().sequence, some.predicted(), some.previous()),
              std::make_tuple(5u, replayed(server, 5), replayed(server, 5)));
    by_tick.reconcile(at(16 * cell, 16 * cell), 0, 103, grid); // either count acknowledges
    by_sequence.reconcile(at(16 * cell, 16 * cell), 2, 50, grid);
    EXPECT_EQ(by_tick.pending().front().sequence, 4u);
    EXPECT_EQ(by_sequence.pending().front().sequence, 3u);
}

TEST(Prediction, CorrectionsUpToThreeQuartersOfACellAreSmoothed) {
    // A jump by (dx, dy) units with nothing pending; the offset left; the largest correction.
    // clang-format off
    const std::tuple<std::int32_t, std::int32_t, std::uint16_t, Offset, double> cases[] = {
        {49152, 0, 100, {0.75f, 0}, 0.75}, {0, -49153, 100, {}, 49153.0 / 65536},
        {34734, 34734, 100, {34734.0f / 65536, 34734.0f / 65536}, std::hypot(34734.0, 34734.0) / 65536},
        {35390, 35390, 100, {}, std::hypot(35390.0, 35390.0) / 65536},
        {1000, 1000, 0, {}, std::hypot(1000.0, 1000.0) / 65536}, // dead: always snaps
    };
    // clang-format on
    for (const auto& [dx, dy, health, offset, largest] : cases) {
        Prediction p = walked(0);
        p.reconcile(at(16 * cell - dx, 16 * cell - dy, health), 0, 0, grid);
        EXPECT_EQ(std::make_pair(p.offset(), p.reconciles()),
                  std::make_pair(offset, std::uint64_t{1}));
        EXPECT_NEAR(p.max_correction(), largest, 1e-12);
    }

    Prediction prediction = walked(0);
    prediction.reconcile(at(16 * cell - 32768, 16 * cell + 16384), 0, 0, grid);
    for (double dt : {-1.0, 0.0}) prediction.smooth(dt); // no time: no decay
    EXPECT_EQ(prediction.offset(), (Offset{0.5f, -0.25f}));
    Prediction again = prediction; // a second jump adds to the offset: 0.5 + 0.3 snaps
    again.reconcile(at(16 * cell - 32768 - 19661, 16 * cell + 16384), 0, 0, grid);
    EXPECT_EQ(std::make_pair(again.offset(), again.reconciles()),
              std::make_pair(Offset{}, std::uint64_t{2}));
    EXPECT_GT(again.max_correction(), 0.8);
    prediction.smooth(0.1); // a time constant of 0.1 s
    EXPECT_EQ(prediction.offset(), (Offset{static_cast<float>(0.5 * std::exp(-1.0)),
                                           static_cast<float>(-0.25 * std::exp(-1.0))}));
    EXPECT_NEAR(prediction.offset().x, 0.5 * 0.3679, 1e-4);

    // A reset starts over but keeps the counters; any first command is then accepted.
    prediction.step(walk(5, 5), grid);
    prediction.reset(at(3 * cell, 4 * cell));
    EXPECT_TRUE(view(prediction) == std::make_tuple(std::deque<Input>{}, at(3 * cell, 4 * cell),
                                                    at(3 * cell, 4 * cell), Offset{},
                                                    std::uint64_t{1}, std::sqrt(0.3125)));
    EXPECT_TRUE(prediction.step(walk(0, 0), grid));
}

} // namespace
} // namespace kestrel
