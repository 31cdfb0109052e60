#include "session/prediction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "world/movement.h"

namespace kestrel {
namespace {

constexpr std::int32_t cell = 65536;

// An open sector: free cells inside a solid border.
Grid open_sector() {
    Sector sector;
    for (int i = 0; i < 32; ++i) {
        sector.cells[i] = sector.cells[31 * 32 + i] = 1;
        sector.cells[i * 32] = sector.cells[i * 32 + 31] = 1;
    }
    return sector.collision(false);
}

Player at(std::int32_t x, std::int32_t y) {
    Player player;
    player.id = 7;
    player.x = x;
    player.y = y;
    return player;
}

Input walk(std::uint32_t sequence, std::uint32_t tick, std::uint16_t yaw = 3000) {
    return Input{sequence, tick, button::forward, yaw};
}

std::string order_error(Prediction& prediction, const Input& input, const Grid& grid) {
    try {
        prediction.step(input, grid);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

void expect_same(const Prediction& a, const Prediction& b) {
    EXPECT_EQ(a.pending(), b.pending());
    EXPECT_EQ(a.predicted(), b.predicted());
    EXPECT_EQ(a.previous(), b.previous());
    EXPECT_EQ(a.offset(), b.offset());
    EXPECT_EQ(a.reconciles(), b.reconciles());
    EXPECT_EQ(a.max_correction(), b.max_correction());
}

// A prediction standing at (16, 16) cells whose next reconcile against `server` with nothing
// pending yields the correction (dx, dy) units.
Prediction corrected_by(std::int32_t dx, std::int32_t dy, std::uint16_t health = 100) {
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    Player server = at(16 * cell - dx, 16 * cell - dy);
    server.health = health;
    prediction.reconcile(server, 0, 0, open_sector());
    return prediction;
}

TEST(PredictionStep, AppliesMoveAndQueuesTheCommand) {
    const Grid grid = open_sector();
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));

    ASSERT_TRUE(prediction.step(walk(1, 10), grid));
    ASSERT_TRUE(prediction.step(walk(2, 11, 9000), grid));

    Player after_first = at(16 * cell, 16 * cell);
    move(after_first, walk(1, 10), grid);
    Player expected = after_first;
    move(expected, walk(2, 11, 9000), grid);

    EXPECT_EQ(prediction.predicted(), expected);
    EXPECT_EQ(prediction.previous(), after_first);
    ASSERT_EQ(prediction.pending().size(), 2u);
    EXPECT_EQ(prediction.pending().back(), walk(2, 11, 9000));
}

TEST(PredictionStep, RefusesCommandsNotNewerInBothCounts) {
    const Grid grid = open_sector();
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    ASSERT_TRUE(prediction.step(walk(5, 50), grid));
    const Prediction before = prediction;

    EXPECT_EQ(order_error(prediction, walk(5, 51), grid), "prediction command order");
    EXPECT_EQ(order_error(prediction, walk(6, 50), grid), "prediction command order");
    EXPECT_EQ(order_error(prediction, walk(6, 49), grid), "prediction command order");
    EXPECT_EQ(order_error(prediction, walk(4, 51), grid), "prediction command order");
    expect_same(prediction, before);

    // More than half the counter range ahead reads as behind.
    EXPECT_EQ(order_error(prediction, walk(5 + 0x80000000u, 51), grid), "prediction command order");
    EXPECT_TRUE(prediction.step(walk(6, 51), grid));
}

TEST(PredictionStep, CountersWrapAroundInOrder) {
    const Grid grid = open_sector();
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    ASSERT_TRUE(prediction.step(walk(4294967295u, 4294967295u), grid));
    ASSERT_TRUE(prediction.step(walk(0, 0), grid));
    ASSERT_TRUE(prediction.step(walk(1, 1), grid));

    // An acknowledgement just before the wrap keeps everything after it.
    prediction.reconcile(at(16 * cell, 16 * cell), 4294967295u, 4294967295u, grid);
    ASSERT_EQ(prediction.pending().size(), 2u);
    EXPECT_EQ(prediction.pending().front().sequence, 0u);
}

TEST(PredictionStep, FullQueueRefusesAndChangesNothing) {
    const Grid grid = open_sector();
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    for (std::uint32_t i = 1; i <= 120; ++i)
        ASSERT_TRUE(prediction.step(walk(i, i, static_cast<std::uint16_t>(i * 500)), grid));
    const Prediction full = prediction;

    EXPECT_FALSE(prediction.step(walk(121, 121), grid));
    expect_same(prediction, full);
    // The size check comes first: a full queue refuses even a misordered command quietly.
    EXPECT_FALSE(prediction.step(walk(1, 1), grid));
    expect_same(prediction, full);

    prediction.reconcile(prediction.predicted(), 1, 1, grid);
    EXPECT_EQ(prediction.pending().size(), 119u);
    EXPECT_TRUE(prediction.step(walk(121, 121), grid));
}

TEST(PredictionReconcile, FullAcknowledgementAdoptsTheServerState) {
    const Grid grid = open_sector();
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    for (std::uint32_t i = 1; i <= 5; ++i) prediction.step(walk(i, 100 + i), grid);

    Player server = at(17 * cell, 15 * cell);
    server.ammo = 42;
    prediction.reconcile(server, 5, 105, grid);
    EXPECT_TRUE(prediction.pending().empty());
    EXPECT_EQ(prediction.predicted(), server);
    EXPECT_EQ(prediction.previous(), server);
}

TEST(PredictionReconcile, ReplaysWhatTheServerHasNotApplied) {
    const Grid grid = open_sector();
    Prediction prediction;
    prediction.reset(at(16 * cell, 16 * cell));
    for (std::uint32_t i = 1; i <= 10; ++i)
        prediction.step(walk(i, 100 + i, static_cast<std::uint16_t>(i * 4000)), grid);

    const Player server = at(15 * cell + 123, 16 * cell - 4567);
    prediction.reconcile(server, 4, 104, grid);

    Player expected = server;
    for (std::uint32_t i = 5; i <= 10; ++i)
        move(expected, walk(i, 100 + i, static_cast<std::uint16_t>(i * 4000)), grid);
    ASSERT_EQ(prediction.pending().size(), 6u);
    EXPECT_EQ(prediction.pending().front().sequence, 5u);
    EXPECT_EQ(prediction.predicted(), expected);
    EXPECT_EQ(prediction.previous(), expected);
}

TEST(PredictionReconcile, EitherCountAcknowledges) {
    const Grid grid = open_sector();
    Prediction by_tick;
    by_tick.reset(at(16 * cell, 16 * cell));
    for (std::uint32_t i = 1; i <= 6; ++i) by_tick.step(walk(i, 100 + i), grid);
    Prediction by_sequence = by_tick;

    by_tick.reconcile(at(16 * cell, 16 * cell), 0, 103, grid);
    ASSERT_FALSE(by_tick.pending().empty());
    EXPECT_EQ(by_tick.pending().front().sequence, 4u);

    by_sequence.reconcile(at(16 * cell, 16 * cell), 2, 50, grid);
    ASSERT_FALSE(by_sequence.pending().empty());
    EXPECT_EQ(by_sequence.pending().front().sequence, 3u);
}

TEST(PredictionReconcile, HidesCorrectionsUpToThreeQuartersOfACell) {
    const Prediction exact = corrected_by(49152, 0); // 0.75 cells
    EXPECT_EQ(exact.offset(), (Prediction::Offset{0.75f, 0.0f}));
    EXPECT_EQ(exact.max_correction(), 0.75);

    const Prediction over = corrected_by(0, -49153); // one unit more
    EXPECT_EQ(over.offset(), (Prediction::Offset{}));
    EXPECT_DOUBLE_EQ(over.max_correction(), 49153.0 / 65536.0);

    // The distance is the Euclidean length, not the larger component or the sum.
    const Prediction diagonal_in = corrected_by(34734, 34734); // 0.7495 cells
    EXPECT_EQ(diagonal_in.offset().x, 34734.0f / 65536.0f);
    EXPECT_EQ(diagonal_in.offset().y, 34734.0f / 65536.0f);
    EXPECT_EQ(corrected_by(35390, 35390).offset(), (Prediction::Offset{})); // 0.7637
}

TEST(PredictionReconcile, CorrectionKeepsTheDrawnPositionStill) {
    const Grid grid = open_sector();
    Prediction prediction = corrected_by(32768, -16384); // (0.5, -0.25)
    ASSERT_EQ(prediction.offset(), (Prediction::Offset{0.5f, -0.25f}));

    // A second jump adds to the unfaded offset: 0.5 + 0.3 is more than 0.75 and snaps.
    const Player here = prediction.predicted();
    Player server = here;
    server.x -= 19661;
    prediction.reconcile(server, 0, 0, grid);
    EXPECT_EQ(prediction.offset(), (Prediction::Offset{}));
    EXPECT_GT(prediction.max_correction(), 0.8);
    EXPECT_EQ(prediction.reconciles(), 2u);
}

TEST(PredictionReconcile, DeadPlayerSnaps) {
    const Prediction dead = corrected_by(1000, 1000, 0);
    EXPECT_EQ(dead.offset(), (Prediction::Offset{}));
    EXPECT_EQ(dead.reconciles(), 1u);
    EXPECT_GT(dead.max_correction(), 0.0);
}

TEST(PredictionSmooth, DecaysWithATenthOfASecondTimeConstant) {
    Prediction prediction = corrected_by(32768, -16384); // (0.5, -0.25)
    prediction.smooth(-1.0);
    EXPECT_EQ(prediction.offset(), (Prediction::Offset{0.5f, -0.25f}));
    prediction.smooth(0.0);
    EXPECT_EQ(prediction.offset(), (Prediction::Offset{0.5f, -0.25f}));

    prediction.smooth(0.1);
    EXPECT_FLOAT_EQ(prediction.offset().x, static_cast<float>(0.5 * std::exp(-1.0)));
    EXPECT_FLOAT_EQ(prediction.offset().y, static_cast<float>(-0.25 * std::exp(-1.0)));
    EXPECT_NEAR(prediction.offset().x, 0.5 * 0.3679, 1e-4);
}

TEST(PredictionReset, StartsOverButKeepsCounting) {
    const Grid grid = open_sector();
    Prediction prediction = corrected_by(32768, 0);
    prediction.step(walk(1, 1), grid);
    prediction.step(walk(2, 2), grid);

    const Player spawn = at(3 * cell, 4 * cell);
    prediction.reset(spawn);
    EXPECT_TRUE(prediction.pending().empty());
    EXPECT_EQ(prediction.predicted(), spawn);
    EXPECT_EQ(prediction.previous(), spawn);
    EXPECT_EQ(prediction.offset(), (Prediction::Offset{}));
    EXPECT_EQ(prediction.reconciles(), 1u);
    EXPECT_EQ(prediction.max_correction(), 0.5);

    // After a reset any first command is accepted, even one behind the old queue.
    EXPECT_TRUE(prediction.step(walk(0, 0), grid));
}

} // namespace
} // namespace kestrel
