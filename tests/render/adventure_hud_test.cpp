#include "render/adventure_hud.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "render/gameplay_hud.h"
#include "render/text.h"

namespace kestrel {
namespace {

using namespace adventure_color;
constexpr std::size_t none = static_cast<std::size_t>(-1);

// Index of the first vertex of the geometry `want` inside `out` (colour aside).
std::size_t find(const std::vector<Vertex>& out, const std::vector<Vertex>& want) {
    const auto same = [](const Vertex& a, const Vertex& b) {
        return a.position == b.position && a.uv == b.uv && a.layer == b.layer;
    };
    if (want.empty()) return none;
    const auto it = std::search(out.begin(), out.end(), want.begin(), want.end(), same);
    return it == out.end() ? none : static_cast<std::size_t>(it - out.begin());
}
bool has_text(const std::vector<Vertex>& out, std::string_view s, float x, float y) {
    std::vector<Vertex> want;
    text(want, s, x, y, {}, 1);
    return find(out, want) != none;
}
Color text_color(const std::vector<Vertex>& out, std::string_view s, float x, float y) {
    std::vector<Vertex> want;
    text(want, s, x, y, {}, 1);
    const std::size_t i = find(out, want);
    return i == none ? Color{0, 0, 0, 0} : out[i].color;
}
std::size_t find_rect(const std::vector<Vertex>& out, float x, float y, float w, float h) {
    std::vector<Vertex> want;
    screen_rect(want, x, y, w, h, {}, 0);
    return find(out, want);
}

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

TEST(AdventureHud, NothingWithoutARunningAdventure) {
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
    auto out = draw(s);
    EXPECT_EQ(text_color(out, "EXPLORATION", 10, 62), teal);
    EXPECT_EQ(text_color(out, "RESTORE GENERATOR / HOLD E", 10, 74), grey);
    EXPECT_EQ(text_color(out, "2 / 3", 10, 85), teal);
    EXPECT_EQ(text_color(out, "SALVAGE 12 / BANK 340", 10, 98), gold);
    EXPECT_EQ(text_color(out, "R RELOAD / G PING / C COLOR / P PARTY", 10, 250), grey);
    EXPECT_EQ(text_color(out, "COLOR 3 / 5 UNLOCKED", 10, 264), teal);

    s.mode = 2;
    s.timer = 31;
    s.objective = 0;
    s.carrier = 9;
    s.message = "ARTIFACT TAKEN";
    out = draw(s);
    EXPECT_EQ(text_color(out, "REINFORCEMENTS INCOMING / 2", 10, 62), gold);
    EXPECT_TRUE(has_text(out, "CARRY ARTIFACT THROUGH PORTAL / E", 10, 74));
    EXPECT_TRUE(has_text(out, "2 / 3 / CARRIER 9", 10, 85));
    EXPECT_EQ(text_color(out, "ARTIFACT TAKEN", 10, 110), teal);

    s.mode = 3;
    s.objective = 2;
    EXPECT_TRUE(has_text(draw(s), "INTENSE ENCOUNTER", 10, 62));
    EXPECT_TRUE(has_text(draw(s), "DEFEND RELAY / STAY NEAR", 10, 74));

    s.objective_flags = 1; // complete: the progress line goes
    out = draw(s);
    EXPECT_TRUE(has_text(out, "OBJECTIVE COMPLETE", 10, 74));
    EXPECT_FALSE(has_text(out, "2 / 3 / CARRIER 9", 10, 85));
}

TEST(AdventureHud, TeammateRowsSkipTheLocalPlayer) {
    AdventureState s = running();
    Teammate self = mate(4, "ME", 16, 16);
    Teammate scout = mate(9, "ACE", 20, 16);
    scout.class_id = 1;
    Teammate away = mate(11, "BOB", 20, 16, here + 1);
    away.health = 100;
    away.class_id = 7; // unknown class: ranger
    s.teammates = {self, scout, away};
    const auto out = draw(s);
    EXPECT_EQ(text_color(out, "ACE / 80HP / SCOUT", 10, 122), grey);
    EXPECT_TRUE(has_text(out, "BOB / 100HP / RANGER", 10, 133));
    EXPECT_FALSE(has_text(out, "ME / 80HP / RANGER", 10, 122));

    // ACE, 4 tiles straight ahead: dot on the minimap, name centred over x = 320, "V".
    const Vec3 p = minimap_point(20, 16, 0);
    EXPECT_NE(find_rect(out, p.x - 2, p.y - 2, 5, 5), none);
    EXPECT_EQ(text_color(out, "ACE", 320 - 9, 155), teal);
    EXPECT_EQ(text_color(out, "V", 320, 166), teal);
    // BOB is elsewhere: a row and nothing more.
    EXPECT_FALSE(has_text(out, "BOB", 320 - 9, 155));
    std::size_t v_labels = 0;
    std::vector<Vertex> v;
    text(v, "V", 320, 166, {}, 1);
    for (std::size_t i = find(out, v); i != none;) {
        ++v_labels;
        const std::vector<Vertex> rest(out.begin() + static_cast<long>(i + v.size()), out.end());
        const std::size_t next = find(rest, v);
        i = next == none ? none : i + v.size() + next;
    }
    EXPECT_EQ(v_labels, 1u);
}

TEST(AdventureHud, TeammateBearingFollowsTheView) {
    AdventureState s = running();
    s.teammates = {mate(9, "ACE", 16, 20)}; // 4 tiles south
    // Facing east, south is to the right: x = 320 + 120.
    auto out = draw(s);
    EXPECT_TRUE(has_text(out, "ACE", 440 - 9, 155));
    EXPECT_TRUE(has_text(out, "V", 440, 166));
    // Facing north, south is behind.
    out = draw(s, centre_player(), 49152);
    EXPECT_TRUE(has_text(out, "BACK", 320, 166));
    EXPECT_FALSE(has_text(out, "V", 320, 166));
    // The minimap dot turns with the view too.
    const Vec3 p = minimap_point(16, 20, 49152);
    EXPECT_NE(find_rect(out, p.x - 2, p.y - 2, 5, 5), none);
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
    EXPECT_FALSE(has_text(out, "OBJ", 308, 143));
    EXPECT_EQ(text_color(out, "EXIT", 308, 143), gold);
    EXPECT_EQ(text_color(out, "SUPPLY", 308, 143), gold);
    const Vec3 exit = minimap_point(20, 16, 0);
    EXPECT_NE(find_rect(out, exit.x - 2, exit.y - 2, 5, 5), none);
    const Vec3 ping = minimap_point(12, 16, 0);
    EXPECT_NE(find_rect(out, ping.x - 2, ping.y - 2, 5, 5), none);

    s.objective_flags = 0; // objective open, exit closed
    s.objective_x = 16 * cell;
    s.objective_y = 20 * cell; // to the right: 308 + 160
    s.ping_kind = 0;
    out = draw(s);
    EXPECT_EQ(text_color(out, "OBJ", 468, 143), teal);
    EXPECT_FALSE(has_text(out, "EXIT", 308, 143));
    EXPECT_TRUE(has_text(out, "PING", 308, 143));
    s.ping_kind = 1;
    EXPECT_TRUE(has_text(draw(s), "ENEMY", 308, 143));
    s.ping_kind = 3;
    EXPECT_TRUE(has_text(draw(s), "PORTAL", 308, 143));
    s.ping_active = 0;
    EXPECT_FALSE(has_text(draw(s), "PORTAL", 308, 143));
}

TEST(AdventureHud, BankingClipAndReload) {
    AdventureState s = running();
    s.clip = 6;
    s.reserve = 24;
    auto out = draw(s);
    EXPECT_EQ(text_color(out, "CLIP 6 / 24", 14, 295), teal);
    EXPECT_FALSE(has_text(out, "RELOADING", 260, 292));
    EXPECT_FALSE(has_text(out, "BANKING / 0 PERCENT", 220, 202));

    s.banking = 89;
    EXPECT_EQ(text_color(draw(s), "BANKING / 98 PERCENT", 220, 202), gold);
    s.banking = 90;
    EXPECT_TRUE(has_text(draw(s), "BANKING / 100 PERCENT", 220, 202));

    s.reload = 3;
    out = draw(s);
    EXPECT_EQ(text_color(out, "RELOADING", 260, 292), gold);
    EXPECT_FALSE(has_text(out, "CLIP 6 / 24", 14, 295));

    // The landmine has no clip.
    s.reload = 0;
    Player miner = centre_player();
    miner.weapon = 4;
    EXPECT_FALSE(has_text(draw(s, miner), "CLIP 6 / 24", 14, 295));
}

} // namespace
} // namespace kestrel
