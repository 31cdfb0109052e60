#include "render/expedition_hud.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "render/text.h"

namespace kestrel {
namespace {

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
std::size_t find_text(const std::vector<Vertex>& out, std::string_view s, float x, float y,
                      float scale = 1) {
    std::vector<Vertex> want;
    text(want, s, x, y, {}, scale);
    return find(out, want);
}
bool has_text(const std::vector<Vertex>& out, std::string_view s, float x, float y,
              float scale = 1) {
    return find_text(out, s, x, y, scale) != none;
}
Color text_color(const std::vector<Vertex>& out, std::string_view s, float x, float y) {
    const std::size_t i = find_text(out, s, x, y);
    return i == none ? Color{0, 0, 0, 0} : out[i].color;
}
std::size_t find_rect(const std::vector<Vertex>& out, float x, float y, float w, float h) {
    std::vector<Vertex> want;
    screen_rect(want, x, y, w, h, {}, 0);
    return find(out, want);
}

std::vector<Vertex> draw(const ExpeditionState& s, std::uint8_t panel = 0,
                         std::uint32_t selection = 0) {
    std::vector<Vertex> out;
    expedition_hud(out, s, panel, selection);
    return out;
}

NavSector nav(std::uint64_t id, std::uint16_t column, std::uint16_t row, std::uint8_t flags = 0) {
    NavSector n;
    n.id = id;
    n.column = column;
    n.row = row;
    n.flags = flags;
    return n;
}

TEST(ExpeditionLines, AlwaysVisible) {
    const ExpeditionState s;
    const auto out = draw(s);
    EXPECT_TRUE(has_text(out, "F5 CONTRACTS / F7 MAP / F10 CREW", 10, 238));
    EXPECT_TRUE(has_text(out, "INDUSTRIAL RUINS", 250, 6));
    EXPECT_TRUE(has_text(out, "U UPGRADES / E SWITCHES", 310, 308));
    // Theme 0 has no hazard line in either band.
    EXPECT_FALSE(has_text(out, "YELLOW FLOOR = HAZARD", 250, 18));
    EXPECT_FALSE(has_text(out, "HAZARD WARNING / MOVE", 250, 18));
}

TEST(ExpeditionLines, HazardLineAlternatesInSixtyTickBands) {
    ExpeditionState s;
    s.theme = 1;
    EXPECT_TRUE(has_text(draw(s), "INFESTED LABORATORY", 250, 6));
    s.theme = 2;
    EXPECT_TRUE(has_text(draw(s), "DAMAGED SPACE STATION", 250, 6));
    for (std::uint32_t tick : {0u, 59u, 120u, 179u, 180u, 180u * 1000 + 130}) {
        s.sequence = tick;
        const auto out = draw(s);
        EXPECT_TRUE(has_text(out, "YELLOW FLOOR = HAZARD", 250, 18)) << tick;
        EXPECT_FALSE(has_text(out, "HAZARD WARNING / MOVE", 250, 18)) << tick;
    }
    for (std::uint32_t tick : {60u, 119u, 240u, 0xFFFFFFFFu}) { // 2^32 - 1 is 75 mod 180
        s.sequence = tick;
        const auto out = draw(s);
        EXPECT_TRUE(has_text(out, "HAZARD WARNING / MOVE", 250, 18)) << tick;
        EXPECT_FALSE(has_text(out, "YELLOW FLOOR = HAZARD", 250, 18)) << tick;
    }
    s.sequence = 0;
    const Color yellow = text_color(draw(s), "YELLOW FLOOR = HAZARD", 250, 18);
    s.sequence = 60;
    EXPECT_NE(text_color(draw(s), "HAZARD WARNING / MOVE", 250, 18), yellow);
}

TEST(ExpeditionLines, RisksCountTwentyFiveEach) {
    ExpeditionState s;
    const auto absent = draw(s);
    for (const char* line : {"RISKS ACTIVE / +0 COSMETIC SALVAGE ON SUCCESS",
                             "RISKS ACTIVE / +25 COSMETIC SALVAGE ON SUCCESS"}) {
        EXPECT_FALSE(has_text(absent, line, 10, 276));
    }
    s.risks = 2;
    EXPECT_TRUE(has_text(draw(s), "RISKS ACTIVE / +25 COSMETIC SALVAGE ON SUCCESS", 10, 276));
    s.risks = 5;
    EXPECT_TRUE(has_text(draw(s), "RISKS ACTIVE / +50 COSMETIC SALVAGE ON SUCCESS", 10, 276));
    s.risks = 7;
    EXPECT_TRUE(has_text(draw(s), "RISKS ACTIVE / +75 COSMETIC SALVAGE ON SUCCESS", 10, 276));
}

TEST(ExpeditionLines, ContractExtractionShieldAndTeamShot) {
    ExpeditionState s;
    s.contract_kind = 2;
    s.contract_progress = 1;
    s.contract_goal = 1;
    s.contract_state = 2; // completed: no longer shown
    EXPECT_FALSE(has_text(draw(s), "DEFEAT SENTINEL / CLEAR TARGET 1/1", 10, 226));
    s.contract_state = 1;
    EXPECT_TRUE(has_text(draw(s), "DEFEAT SENTINEL / CLEAR TARGET 1/1", 10, 226));
    s.contract_kind = 3;
    s.contract_progress = 120;
    s.contract_goal = 250;
    EXPECT_TRUE(has_text(draw(s), "BANK 250 SALVAGE 120/250", 10, 226));

    s.extraction_timer = 61;
    s.revive_shield = 90;
    s.team_shot_charged = true;
    const auto out = draw(s);
    EXPECT_TRUE(has_text(out, "DEFEND EXTRACTION / 3S / STAY NEAR", 150, 156));
    EXPECT_TRUE(has_text(out, "REVIVE SHIELD / 90", 240, 52));
    EXPECT_TRUE(has_text(out, "TEAM SHOT CHARGED", 240, 64));
}

TEST(ExpeditionLines, BossPhaseHealthBarAndAttacks) {
    ExpeditionState s;
    s.attack_warning = 20; // no boss: no warning
    EXPECT_FALSE(has_text(draw(s), "RING INCOMING / FIND COVER", 160, 46));

    s.boss_phase = 2;
    s.boss_health = 50;
    s.boss_health_max = 200;
    s.attack_kind = 1;
    auto out = draw(s);
    EXPECT_TRUE(has_text(out, "SECTOR SENTINEL / PHASE 2", 160, 26));
    const std::size_t back = find_rect(out, 160, 36, 160, 5);
    ASSERT_NE(back, none);
    EXPECT_EQ(find_rect(out, 160, 36, 40, 5), back + 6); // a quarter of the bar, on top
    const Color fill = out[back + 6].color;
    EXPECT_TRUE(has_text(out, "FAN INCOMING / MOVE SIDEWAYS", 160, 46));
    s.attack_kind = 2;
    EXPECT_TRUE(has_text(draw(s), "RING INCOMING / FIND COVER", 160, 46));

    // A zero maximum leaves the bar empty rather than dividing by zero.
    s.boss_health = 0;
    s.boss_health_max = 0;
    out = draw(s);
    const std::size_t empty = find_rect(out, 160, 36, 160, 5);
    ASSERT_NE(empty, none);
    EXPECT_NE(out[empty + 6].color, fill); // next comes the warning text, not a fill
}

TEST(ExpeditionPanels, BackgroundFirstAndOnlyWithAPanel) {
    ExpeditionState s;
    s.navigation = {nav(5, 0, 0)};
    const auto lines = draw(s);
    EXPECT_EQ(find_rect(lines, 48, 44, 544, 264), none);
    for (std::uint8_t panel = 1; panel <= 6; ++panel) {
        const auto out = draw(s, panel);
        ASSERT_GT(out.size(), lines.size() + 6) << int(panel);
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), out.begin()));
        EXPECT_EQ(find_rect(out, 48, 44, 544, 264), lines.size()) << int(panel);
        EXPECT_EQ(out[lines.size()].color, (Color{0.025f, 0.055f, 0.07f, 0.98f}));
    }
}

TEST(ExpeditionPanels, ValuesAboveSixShowNavigation) {
    ExpeditionState s;
    s.navigation = {nav(5, 1, 1, 1), nav(6, 2, 1, 2)};
    const auto navigation = draw(s, 2, 1);
    EXPECT_TRUE(has_text(navigation, "SECTOR NAVIGATION", 64, 55));
    EXPECT_EQ(draw(s, 7, 1), navigation);
    EXPECT_EQ(draw(s, 255, 1), navigation);
}

TEST(ExpeditionPanels, Contracts) {
    ExpeditionState s;
    s.leader_name = "ACE";
    s.risks = 5;
    auto out = draw(s, 1);
    EXPECT_TRUE(has_text(out, "EXPEDITION CONTRACTS", 72, 62, 2));
    EXPECT_TRUE(has_text(out, "PARTY LEADER CHOOSES / ACE", 72, 90));
    EXPECT_TRUE(has_text(out, "1 / RECOVER THREE ARTIFACTS", 72, 116));
    EXPECT_TRUE(has_text(out, "BANK 250 SALVAGE AT A DEFENDED EXTRACTION", 72, 216));
    EXPECT_TRUE(has_text(out, "7 AMMO ON / 8 BARRELS OFF / 9 FAST SHOTS ON", 72, 240));
    EXPECT_TRUE(has_text(out, "+25 COSMETIC SALVAGE PER RISK ON SUCCESS / F10 READY", 72, 256));
    EXPECT_TRUE(has_text(out, "CHOOSE THEN EXPLORE / F5 CLOSE", 72, 276));
    s.leader = true;
    s.contract_state = 1;
    out = draw(s, 1);
    EXPECT_TRUE(has_text(out, "CHOOSE 1 2 3 / LEADER ACE", 72, 90));
    EXPECT_TRUE(has_text(out, "CONTRACT ACTIVE / FINISH BEFORE CHOOSING AGAIN", 72, 276));
}

TEST(ExpeditionPanels, NavigationGridAroundTheOriginWhileTheSelectionIsNear) {
    using namespace expedition_color;
    ExpeditionState s;
    s.current_sector = 6;
    NavSector crowded = nav(6, 1, 2, 1 | 2);
    crowded.teammates = 3;
    s.navigation = {nav(5, 0, 0, 16 | 8), crowded, nav(7, 5, 4, 8 | 2), nav(8, 6, 0, 1),
                    nav(9, 2, 5, 0)};
    auto out = draw(s, 2, 0);
    EXPECT_TRUE(has_text(out, "F8 NEXT / F9 SHARE DESTINATION / F7 CLOSE", 64, 72));
    EXPECT_TRUE(has_text(out, "CYAN YOU / GREEN CLEARED / RED BOSS / GOLD WAYPOINT", 64, 284));
    // Boxes at (216 + 24 column, 180 + 22 row); column 6 and row 5 are off the map.
    std::size_t i = find_rect(out, 216, 180, 22, 16);
    ASSERT_NE(i, none);
    EXPECT_EQ(out[i].color, waypoint); // waypoint wins over boss
    i = find_rect(out, 216 + 24, 180 + 44, 22, 16);
    ASSERT_NE(i, none);
    EXPECT_EQ(out[i].color, cleared);
    EXPECT_EQ(out[i + 6].color, you); // the current sector's highlight follows its box
    EXPECT_EQ(text_color(out, "3", 218 + 24, 183 + 44), (Color{0, 0, 0, 1}));
    i = find_rect(out, 216 + 120, 180 + 88, 22, 16);
    ASSERT_NE(i, none);
    EXPECT_EQ(out[i].color, sentinel); // boss wins over cleared
    EXPECT_EQ(find_rect(out, 216 + 144, 180, 22, 16), none);
    EXPECT_EQ(find_rect(out, 216 + 48, 180 + 110, 22, 16), none);

    // The selected entry is described on the right.
    EXPECT_TRUE(has_text(out, "SECTOR 5 / DANGER 0", 374, 106));
    EXPECT_TRUE(has_text(out, "UNEXPLORED PORTAL", 374, 125));
    EXPECT_TRUE(has_text(out, "SENTINEL WARNING", 374, 145));
    EXPECT_TRUE(has_text(out, "TEAMMATES 0", 374, 185));

    out = draw(s, 2, 1);
    EXPECT_TRUE(has_text(out, "DISCOVERED", 374, 125));
    EXPECT_TRUE(has_text(out, "SECTOR CLEARED", 374, 145));
    EXPECT_TRUE(has_text(out, "TEAMMATES 3", 374, 185));
    EXPECT_NE(find_rect(out, 216, 180, 22, 16), none); // still centred on the origin
}

TEST(ExpeditionPanels, NavigationFollowsAFarSelection) {
    using namespace expedition_color;
    ExpeditionState s;
    NavSector far = nav(40, 10, 3, 1);
    far.objective = 2;
    far.danger = 7;
    s.navigation = {nav(5, 0, 0), far, nav(41, 15, 7, 0), nav(42, 16, 3, 0), nav(43, 5, 3, 1)};
    const auto out = draw(s, 2, 1);
    const std::size_t centre = find_rect(out, 216, 180, 22, 16);
    ASSERT_NE(centre, none);
    EXPECT_EQ(out[centre].color, discovered);
    EXPECT_EQ(out[centre + 6].color, selected); // the selection's mark follows its box
    EXPECT_NE(find_rect(out, 216 + 120, 180 + 88, 22, 16), none); // (15, 7)
    EXPECT_NE(find_rect(out, 216 - 120, 180, 22, 16), none);      // (5, 3)
    EXPECT_EQ(find_rect(out, 216 + 144, 180, 22, 16), none);      // (16, 3): too far
    EXPECT_EQ(find_rect(out, 216 - 240, 180 - 66, 22, 16), none); // the origin entry
    EXPECT_TRUE(has_text(out, "SECTOR 40 / DANGER 7", 374, 106));
    EXPECT_TRUE(has_text(out, "EXPLORE / FIGHT", 374, 145));
    EXPECT_TRUE(has_text(out, "DEFEND RELAY", 374, 165));

    // Column 6 or row 5 is far already: the selection moves to the centre and the origin
    // entry, 6 columns or 5 rows away, drops off.
    for (const NavSector& edge : {nav(6, 6, 0), nav(6, 0, 5)}) {
        s.navigation = {nav(5, 0, 0), edge};
        const auto moved = draw(s, 2, 1);
        EXPECT_NE(find_rect(moved, 216, 198, 22, 2), none); // the selection's underline
        EXPECT_EQ(find_rect(moved, 216 - 144, 180, 22, 16), none);
        EXPECT_EQ(find_rect(moved, 216, 180 - 110, 22, 16), none);
    }
    // Column 5 and row 4 keep the origin in the centre.
    s.navigation = {nav(5, 0, 0), nav(6, 5, 4)};
    const auto kept = draw(s, 2, 1);
    EXPECT_NE(find_rect(kept, 216 + 120, 180 + 88 + 18, 22, 2), none);
    EXPECT_NE(find_rect(kept, 216, 180, 22, 16), none);
}

TEST(ExpeditionPanels, NavigationSelectionOutsideTheListSelectsNothing) {
    ExpeditionState s;
    s.navigation = {nav(5, 0, 0), nav(6, 9, 9)};
    const auto out = draw(s, 2, 2);
    EXPECT_NE(find_rect(out, 216, 180, 22, 16), none);
    EXPECT_EQ(find_text(out, "SECTOR 5 / DANGER 0", 374, 106), none);
    EXPECT_EQ(find_text(out, "SECTOR 6 / DANGER 0", 374, 106), none);
    EXPECT_EQ(find_rect(out, 216, 198, 22, 2), none);
    s.navigation.clear();
    EXPECT_TRUE(has_text(draw(s, 2, 0), "SECTOR NAVIGATION", 64, 55));
}

TEST(ExpeditionPanels, Summary) {
    ExpeditionState s;
    s.contract_kind = 1;
    s.contract_state = 3;
    s.salvage_banked = 250;
    s.secrets = 2;
    s.objectives = 3;
    s.revives = 1;
    s.time_seconds = 125;
    s.cosmetic_tier_before = 3;
    s.cosmetic_tier_after = 3;
    s.total_bank = 900;
    s.total_objectives = 11;
    s.total_secrets = 4;
    auto out = draw(s, 3);
    EXPECT_TRUE(has_text(out, "EXTRACTED / CONTRACT INCOMPLETE", 72, 62));
    EXPECT_TRUE(has_text(out, "RECOVER 3 ARTIFACTS", 72, 84));
    EXPECT_TRUE(has_text(out, "SALVAGE BANKED  250", 72, 114));
    EXPECT_TRUE(has_text(out, "SECRETS FOUND   2", 72, 136));
    EXPECT_TRUE(has_text(out, "OBJECTIVES      3", 72, 158));
    EXPECT_TRUE(has_text(out, "TEAMMATE REVIVES 1", 72, 180));
    EXPECT_TRUE(has_text(out, "TIME / 2M 5", 72, 202));
    EXPECT_TRUE(has_text(out, "COSMETIC TIER 3 -> 3", 72, 228));
    EXPECT_FALSE(has_text(out, "COSMETIC COLLECTION COMPLETE", 72, 246));
    EXPECT_TRUE(has_text(out, "TOTAL BANK 900 / OBJECTIVES 11 / SECRETS 4", 72, 260));
    EXPECT_TRUE(has_text(out, "ENTER CLOSE / F5 NEW EXPEDITION", 72, 276));
    s.contract_state = 2;
    s.cosmetic_tier_after = 4;
    out = draw(s, 3);
    EXPECT_TRUE(has_text(out, "EXPEDITION COMPLETE", 72, 62));
    EXPECT_TRUE(has_text(out, "COSMETIC COLLECTION COMPLETE", 72, 246));
}

TEST(ExpeditionPanels, CrewMembersOneLineEach) {
    ExpeditionState s;
    s.crew_code = "K7Q2";
    s.crew = {{"ACE", true}, {"BOB", false}, {"CY", true}};
    const auto out = draw(s, 4);
    EXPECT_TRUE(has_text(out, "CREW ASSEMBLY", 72, 62, 2));
    EXPECT_TRUE(has_text(out, "CREW CODE / K7Q2", 72, 94));
    EXPECT_TRUE(has_text(out, "F1 COPY INVITE / F2 CREATE CREW", 72, 114));
    EXPECT_TRUE(has_text(out, "F3 TOGGLE READY / F4 JOIN YOUR SAVED CREW", 72, 132));
    EXPECT_TRUE(has_text(out, "P ENTER INVITE CODE / F10 CLOSE", 72, 150));
    EXPECT_TRUE(has_text(out, "ACE / READY", 72, 174));
    EXPECT_TRUE(has_text(out, "BOB / NOT READY", 72, 187));
    EXPECT_TRUE(has_text(out, "CY / READY", 72, 200));
    EXPECT_TRUE(has_text(out, "EVERY CREW MEMBER MUST READY BEFORE A CONTRACT", 72, 288));
}

TEST(ExpeditionPanels, UpgradeOffersAndOwnedNames) {
    ExpeditionState s;
    s.upgrade_offers = {2, 0, 4};
    s.owned_upgrades = 1 | 4 | 8;
    const auto out = draw(s, 5);
    EXPECT_TRUE(has_text(out, "EXPEDITION WEAPON UPGRADES", 72, 62, 2));
    EXPECT_TRUE(has_text(out, "CHOOSE 1 2 3 AT A CLEARED REWARD CACHE", 72, 92));
    EXPECT_TRUE(has_text(out, "1 / SHOTGUN KNOCKBACK", 72, 122));
    EXPECT_TRUE(has_text(out, "2 / NO FURTHER UPGRADE", 72, 150));
    EXPECT_TRUE(has_text(out, "3 / GRAVITY MINES", 72, 178));
    EXPECT_TRUE(has_text(out, "ONE PER CLEARED SECTOR / RESETS AFTER EXTRACTION", 72, 222));
    EXPECT_TRUE(has_text(out, "OWNED /", 72, 244));
    EXPECT_TRUE(has_text(out, "U CLOSE", 72, 276));
    // Owned names in bit order from x = 126, one blank cell apart.
    EXPECT_TRUE(has_text(out, "RICOCHET PISTOL CLUSTER ROCKETS GRAVITY MINES", 126, 244));
    EXPECT_FALSE(has_text(out, "SHOTGUN KNOCKBACK", 126, 244));
}

TEST(ExpeditionPanels, Vote) {
    ExpeditionState s;
    s.votes_stay = 2;
    s.participants = 3;
    s.vote_ticks = 211;
    s.bonus_rounds = 1;
    const auto out = draw(s, 6);
    EXPECT_TRUE(has_text(out, "EXTRACT OR PUSH YOUR LUCK?", 72, 66, 2));
    EXPECT_TRUE(has_text(out, "N / LEAVE NOW AND BANK YOUR SALVAGE", 72, 110));
    EXPECT_TRUE(has_text(out, "Y / ANOTHER WAVE FOR +25 BONUS SALVAGE", 72, 142));
    EXPECT_TRUE(has_text(out, "ALL PARTICIPANTS MUST VOTE TO STAY", 72, 180));
    EXPECT_TRUE(has_text(out, "DEFAULT / LEAVE WHEN TIME EXPIRES", 72, 200));
    EXPECT_TRUE(has_text(out, "STAY 2 / 3   8S", 72, 232));
    EXPECT_TRUE(has_text(out, "BONUS ROUNDS CLEARED / 1", 72, 258));
}

} // namespace
} // namespace kestrel
