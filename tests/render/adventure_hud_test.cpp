#include "render/adventure_hud.h"

#include <gtest/gtest.h>

#include <vector>

#include "render/gameplay_hud.h"
#include "tests/support/hud.h"

namespace kestrel {
namespace {

using namespace adventure_color;
using namespace test;

constexpr std::uint64_t here = 77;  // current sector
constexpr std::uint16_t cell = 256; // one tile on the wire

// The player stands in the middle of the sector facing east (+x).
Player centre_player() {
    Player p;
    p.id = 4;
    p.x = p.y = 16 * 65536;
    return p;
}

AdventureState running() {
    AdventureState s;
    s.sequence = 1;
    s.objective_flags = 1; // complete: no objective marker unless a test wants one
    return s;
}

std::vector<Vertex> draw(const AdventureState& s, const Player& p = centre_player(),
                         float yaw = 0) {
    std::vector<Vertex> out;
    adventure_hud(out, s, p, here, yaw);
    return out;
}

Teammate mate(std::uint32_t id, std::string name, float x, float y, std::uint64_t sector = here) {
    Teammate t;
    t.id = id;
    t.name = std::move(name);
    t.x = static_cast<std::uint16_t>(x * cell);
    t.y = static_cast<std::uint16_t>(y * cell);
    t.sector = sector;
    t.health = 80;
    return t;
}

// A 5x5 marker dot on the minimap at a tile position.
bool has_dot(const std::vector<Vertex>& out, float x, float y, float yaw = 0) {
    const Vec3 p = minimap_point(x, y, yaw);
    return find_rect(out, p.x - 2, p.y - 2, 5, 5) != none;
}

TEST(AdventureHud, SequenceZeroDrawsNothingAtAll) {
    AdventureState s = running();
    s.sequence = 0;
    s.message = "HELLO";
    s.teammates = {mate(9, "ACE", 20, 16)};
    s.ping_active = 1;
    s.banking = 40;
    EXPECT_TRUE(draw(s).empty());
}

TEST(AdventureHud, ModeObjectiveSalvageAndKeys) {
    AdventureState s = running();
    s.objective_flags = 0;
    s.objective = 1;
    s.progress = 2;
    s.goal = 3;
    s.salvage_carried = 12;
    s.salvage_banked = 340;
    s.color_index = 2;
    s.colors_unlocked = 4;
    expect_shown(draw(s), {{"EXPLORATION", 10, 62, teal},
                           {"RESTORE GENERATOR / HOLD E", 10, 74, grey},
                           {"2 / 3", 10, 85, teal},
                           {"SALVAGE 12 / BANK 340", 10, 98, gold},
                           {"R RELOAD / G PING / C COLOR / P PARTY", 10, 250, grey},
                           {"COLOR 3 / 5 UNLOCKED", 10, 264, teal}});
    s.mode = 2;
    s.timer = 31;
    s.objective = 0;
    s.carrier = 9;
    s.message = "ARTIFACT TAKEN";
    expect_shown(draw(s), {{"REINFORCEMENTS INCOMING / 2", 10, 62, gold},
                           {"CARRY ARTIFACT THROUGH PORTAL / E", 10, 74},
                           {"2 / 3 / CARRIER 9", 10, 85},
                           {"ARTIFACT TAKEN", 10, 110, teal}});
    s.mode = 3;
    s.objective = 2;
    expect_shown(draw(s), {{"INTENSE ENCOUNTER", 10, 62}, {"DEFEND RELAY / STAY NEAR", 10, 74}});
    s.objective_flags = 1; // complete: the progress line goes
    const auto out = draw(s);
    expect_shown(out, {{"OBJECTIVE COMPLETE", 10, 74}});
    expect_absent(out, {{"2 / 3 / CARRIER 9", 10, 85}});
}

TEST(AdventureHud, TeammatesSkipTheLocalPlayerAndOnlyThoseHereAreMarked) {
    AdventureState s = running();
    Teammate scout = mate(9, "ACE", 20, 16); // 4 tiles straight ahead
    scout.class_id = 1;
    Teammate away = mate(11, "BOB", 20, 16, here + 1);
    away.health = 100;
    away.class_id = 7; // unknown class: ranger
    s.teammates = {mate(4, "ME", 16, 16), scout, away};
    const auto out = draw(s);
    expect_shown(out, {{"ACE / 80HP / SCOUT", 10, 122, grey},
                       {"BOB / 100HP / RANGER", 10, 133},
                       {"ACE", 320 - 9, 155, teal}, // centred over x = 320
                       {"V", 320, 166, teal}});
    expect_absent(out, {{"ME / 80HP / RANGER", 10, 122}, {"BOB", 320 - 9, 155}});
    EXPECT_TRUE(has_dot(out, 20, 16));
    std::vector<Vertex> v;
    text(v, "V", 320, 166, {}, 1);
    const std::size_t first = find(out, v);
    EXPECT_EQ(find(out, v, first + 1), none); // BOB gets no second "V"

    s.teammates = {mate(9, "ACE", 16, 20)}; // 4 tiles south: to the right of an east view
    expect_shown(draw(s), {{"ACE", 440 - 9, 155}, {"V", 440, 166}});
    const auto north = draw(s, centre_player(), 49152); // facing north it is behind
    expect_shown(north, {{"BACK", 320, 166}});
    expect_absent(north, {{"V", 320, 166}});
    EXPECT_TRUE(has_dot(north, 16, 20, 49152)); // the minimap dot turns with the view
}

TEST(AdventureHud, MarkersAheadAndBehindShareTheCentre) {
    AdventureState s = running();
    s.objective_flags = 2; // complete, exit open
    s.exit_x = 20 * cell;  // ahead
    s.exit_y = 16 * cell;
    s.ping_active = 1;
    s.ping_kind = 2;
    s.ping_x = 12 * cell; // behind
    s.ping_y = 16 * cell;
    auto out = draw(s);
    expect_shown(out, {{"EXIT", 308, 143, gold}, {"SUPPLY", 308, 143, gold}});
    expect_absent(out, {{"OBJ", 308, 143}});
    EXPECT_TRUE(has_dot(out, 20, 16));
    EXPECT_TRUE(has_dot(out, 12, 16));

    s.objective_flags = 0; // objective open, exit closed
    s.objective_x = 16 * cell;
    s.objective_y = 20 * cell; // to the right: 308 + 160
    s.ping_kind = 0;
    out = draw(s);
    expect_shown(out, {{"OBJ", 468, 143, teal}, {"PING", 308, 143}});
    expect_absent(out, {{"EXIT", 308, 143}});
    s.ping_kind = 1;
    expect_shown(draw(s), {{"ENEMY", 308, 143}});
    s.ping_kind = 3;
    expect_shown(draw(s), {{"PORTAL", 308, 143}});
    s.ping_active = 0;
    expect_absent(draw(s), {{"PORTAL", 308, 143}});
}

TEST(AdventureHud, BankingClipAndReload) {
    AdventureState s = running();
    s.clip = 6;
    s.reserve = 24;
    const Shown clip{"CLIP 6 / 24", 14, 295, teal};
    auto out = draw(s);
    expect_shown(out, {clip});
    expect_absent(out, {{"RELOADING", 260, 292}, {"BANKING / 0 PERCENT", 220, 202}});
    s.banking = 89;
    expect_shown(draw(s), {{"BANKING / 98 PERCENT", 220, 202, gold}});
    s.banking = 90;
    expect_shown(draw(s), {{"BANKING / 100 PERCENT", 220, 202}});
    s.reload = 3;
    out = draw(s);
    expect_shown(out, {{"RELOADING", 260, 292, gold}});
    expect_absent(out, {clip});
    s.reload = 0;
    Player miner = centre_player();
    miner.weapon = 4; // the landmine has no clip
    expect_absent(draw(s, miner), {clip});
}

} // namespace
} // namespace kestrel
