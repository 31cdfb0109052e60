#include "render/expedition_hud.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/hud.h"

namespace kestrel {
namespace {

using namespace test;
using namespace expedition_color;

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

// A navigation box at map column and row offsets from the centre box.
std::size_t box(const std::vector<Vertex>& out, int column, int row) {
    return find_rect(out, 216.0f + 24 * column, 180.0f + 22 * row, 22, 16);
}

TEST(ExpeditionLines, ThemesHazardBandsAndRisks) {
    ExpeditionState s;
    const Shown yellow{"YELLOW FLOOR = HAZARD", 250, 18}, move{"HAZARD WARNING / MOVE", 250, 18};
    auto out = draw(s);
    expect_shown(out, {{"F5 CONTRACTS / F7 MAP / F10 CREW", 10, 238},
                       {"INDUSTRIAL RUINS", 250, 6},
                       {"U UPGRADES / E SWITCHES", 310, 308}});
    expect_absent(out, {yellow, move}); // theme 0 has no hazard line in either band
    for (const char* risks : {"+0", "+25"})
        expect_absent(
            out,
            {{std::string("RISKS ACTIVE / ") + risks + " COSMETIC SALVAGE ON SUCCESS", 10, 276}});
    s.theme = 1;
    expect_shown(draw(s), {{"INFESTED LABORATORY", 250, 6}});
    s.theme = 2;
    expect_shown(draw(s), {{"DAMAGED SPACE STATION", 250, 6}});
    // 2^32 - 1 is 75 mod 180.
    for (std::uint32_t tick : {0u, 59u, 60u, 119u, 120u, 179u, 180u, 240u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(tick);
        s.sequence = tick;
        const bool first = tick % 180 < 60 || (tick % 180 >= 120);
        out = draw(s);
        expect_shown(out, {first ? yellow : move});
        expect_absent(out, {first ? move : yellow});
    }
    s.sequence = 0;
    const Color first_band = text_color(draw(s), yellow.text, 250, 18);
    s.sequence = 60;
    EXPECT_NE(text_color(draw(s), move.text, 250, 18), first_band);

    for (const auto& [risks, line] :
         {std::pair<int, const char*>{2, "+25"}, {5, "+50"}, {7, "+75"}}) {
        s.risks = static_cast<std::uint8_t>(risks);
        expect_shown(
            draw(s),
            {{std::string("RISKS ACTIVE / ") + line + " COSMETIC SALVAGE ON SUCCESS", 10, 276}});
    }
}

TEST(ExpeditionLines, ContractExtractionShieldTeamShotAndBoss) {
    ExpeditionState s;
    s.contract_kind = 2;
    s.contract_progress = s.contract_goal = 1;
    s.contract_state = 2; // completed: no longer shown
    expect_absent(draw(s), {{"DEFEAT SENTINEL / CLEAR TARGET 1/1", 10, 226}});
    s.contract_state = 1;
    expect_shown(draw(s), {{"DEFEAT SENTINEL / CLEAR TARGET 1/1", 10, 226}});
    s.contract_kind = 3;
    s.contract_progress = 120;
    s.contract_goal = 250;
    s.extraction_timer = 61;
    s.revive_shield = 90;
    s.team_shot_charged = true;
    s.attack_warning = 20; // no boss: no warning
    auto out = draw(s);
    expect_shown(out, {{"BANK 250 SALVAGE 120/250", 10, 226},
                       {"DEFEND EXTRACTION / 3S / STAY NEAR", 150, 156},
                       {"REVIVE SHIELD / 90", 240, 52},
                       {"TEAM SHOT CHARGED", 240, 64}});
    expect_absent(out, {{"RING INCOMING / FIND COVER", 160, 46}});

    s.boss_phase = 2;
    s.boss_health = 50;
    s.boss_health_max = 200;
    s.attack_kind = 1;
    out = draw(s);
    expect_shown(
        out, {{"SECTOR SENTINEL / PHASE 2", 160, 26}, {"FAN INCOMING / MOVE SIDEWAYS", 160, 46}});
    const std::size_t back = find_rect(out, 160, 36, 160, 5);
    ASSERT_NE(back, none);
    EXPECT_EQ(find_rect(out, 160, 36, 40, 5), back + 6); // a quarter of the bar, on top
    const Color fill = out[back + 6].color;
    s.attack_kind = 2;
    expect_shown(draw(s), {{"RING INCOMING / FIND COVER", 160, 46}});
    // A zero maximum leaves the bar empty rather than dividing by zero.
    s.boss_health = s.boss_health_max = 0;
    out = draw(s);
    const std::size_t empty = find_rect(out, 160, 36, 160, 5);
    ASSERT_NE(empty, none);
    EXPECT_NE(out[empty + 6].color, fill); // next comes the warning text, not a fill
}

TEST(ExpeditionPanels, BackgroundFirstOnlyWithAPanelAndAboveSixIsNavigation) {
    ExpeditionState s;
    s.navigation = {nav(5, 1, 1, 1), nav(6, 2, 1, 2)};
    const auto lines = draw(s);
    EXPECT_EQ(find_rect(lines, 48, 44, 544, 264), none);
    for (std::uint8_t panel = 1; panel <= 6; ++panel) {
        SCOPED_TRACE(int(panel));
        const auto out = draw(s, panel);
        ASSERT_GT(out.size(), lines.size() + 6);
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), out.begin()));
        EXPECT_EQ(find_rect(out, 48, 44, 544, 264), lines.size());
        EXPECT_EQ(out[lines.size()].color, (Color{0.025f, 0.055f, 0.07f, 0.98f}));
    }
    const auto navigation = draw(s, 2, 1);
    expect_shown(navigation, {{"SECTOR NAVIGATION", 64, 55}});
    EXPECT_EQ(draw(s, 7, 1), navigation);
    EXPECT_EQ(draw(s, 255, 1), navigation);
}

TEST(ExpeditionPanels, NavigationGridColoursAndTheSelectedEntry) {
    ExpeditionState s;
    s.current_sector = 6;
    NavSector crowded = nav(6, 1, 2, 1 | 2);
    crowded.teammates = 3;
    s.navigation = {nav(5, 0, 0, 16 | 8), crowded, nav(7, 5, 4, 8 | 2), nav(8, 6, 0, 1),
                    nav(9, 2, 5, 0)};
    auto out = draw(s, 2, 0);
    expect_shown(out, {{"F8 NEXT / F9 SHARE DESTINATION / F7 CLOSE", 64, 72},
                       {"CYAN YOU / GREEN CLEARED / RED BOSS / GOLD WAYPOINT", 64, 284},
                       {"SECTOR 5 / DANGER 0", 374, 106},
                       {"UNEXPLORED PORTAL", 374, 125},
                       {"SENTINEL WARNING", 374, 145},
                       {"TEAMMATES 0", 374, 185}});
    ASSERT_NE(box(out, 0, 0), none);
    EXPECT_EQ(out[box(out, 0, 0)].color, waypoint); // waypoint wins over boss
    const std::size_t i = box(out, 1, 2);
    ASSERT_NE(i, none);
    EXPECT_EQ(out[i].color, cleared);
    EXPECT_EQ(out[i + 6].color, you); // the current sector's highlight follows its box
    expect_shown(out, {{"3", 218 + 24, 183 + 44, Color{0, 0, 0, 1}}});
    ASSERT_NE(box(out, 5, 4), none);
    EXPECT_EQ(out[box(out, 5, 4)].color, sentinel); // boss wins over cleared
    EXPECT_EQ(box(out, 6, 0), none);                // column 6 and row 5 are off the map
    EXPECT_EQ(box(out, 2, 5), none);
    out = draw(s, 2, 1);
    expect_shown(
        out, {{"DISCOVERED", 374, 125}, {"SECTOR CLEARED", 374, 145}, {"TEAMMATES 3", 374, 185}});
    EXPECT_NE(box(out, 0, 0), none); // still centred on the origin

    // A selection outside the list selects nothing (the map may shrink under it).
    s.navigation = {nav(5, 0, 0), nav(6, 9, 9)};
    out = draw(s, 2, 2);
    EXPECT_NE(box(out, 0, 0), none);
    expect_absent(out, {{"SECTOR 5 / DANGER 0", 374, 106}, {"SECTOR 6 / DANGER 0", 374, 106}});
    EXPECT_EQ(find_rect(out, 216, 198, 22, 2), none);
    s.navigation.clear();
    expect_shown(draw(s, 2, 0), {{"SECTOR NAVIGATION", 64, 55}});
}

TEST(ExpeditionPanels, NavigationFollowsAFarSelection) {
    ExpeditionState s;
    NavSector far = nav(40, 10, 3, 1);
    far.objective = 2;
    far.danger = 7;
    s.navigation = {nav(5, 0, 0), far, nav(41, 15, 7, 0), nav(42, 16, 3, 0), nav(43, 5, 3, 1)};
    const auto out = draw(s, 2, 1);
    const std::size_t centre = box(out, 0, 0);
    ASSERT_NE(centre, none);
    EXPECT_EQ(out[centre].color, discovered);
    EXPECT_EQ(out[centre + 6].color, selected); // the selection's mark follows its box
    EXPECT_NE(box(out, 5, 4), none);            // (15, 7)
    EXPECT_NE(box(out, -5, 0), none);           // (5, 3)
    EXPECT_EQ(box(out, 6, 0), none);            // (16, 3): too far
    EXPECT_EQ(box(out, -10, -3), none);         // the origin entry
    expect_shown(out, {{"SECTOR 40 / DANGER 7", 374, 106},
                       {"EXPLORE / FIGHT", 374, 145},
                       {"DEFEND RELAY", 374, 165}});
    // Column 6 or row 5 is far already; column 5 and row 4 keep the origin in the centre.
    for (const NavSector& edge : {nav(6, 6, 0), nav(6, 0, 5)}) {
        s.navigation = {nav(5, 0, 0), edge};
        const auto moved = draw(s, 2, 1);
        EXPECT_NE(find_rect(moved, 216, 198, 22, 2), none); // the selection's underline
        EXPECT_EQ(box(moved, -6, 0), none);
        EXPECT_EQ(box(moved, 0, -5), none);
    }
    s.navigation = {nav(5, 0, 0), nav(6, 5, 4)};
    const auto kept = draw(s, 2, 1);
    EXPECT_NE(find_rect(kept, 216 + 120, 180 + 88 + 18, 22, 2), none);
    EXPECT_NE(box(kept, 0, 0), none);
}

TEST(ExpeditionPanels, ContractsSummaryCrewUpgradesAndVote) {
    ExpeditionState s;
    s.leader_name = "ACE";
    s.risks = 5;
    expect_shown(draw(s, 1), {{"EXPEDITION CONTRACTS", 72, 62, {}, 2},
                              {"PARTY LEADER CHOOSES / ACE", 72, 90},
                              {"1 / RECOVER THREE ARTIFACTS", 72, 116},
                              {"BANK 250 SALVAGE AT A DEFENDED EXTRACTION", 72, 216},
                              {"7 AMMO ON / 8 BARRELS OFF / 9 FAST SHOTS ON", 72, 240},
                              {"+25 COSMETIC SALVAGE PER RISK ON SUCCESS / F10 READY", 72, 256},
                              {"CHOOSE THEN EXPLORE / F5 CLOSE", 72, 276}});
    s.leader = true;
    s.contract_state = 1;
    expect_shown(draw(s, 1), {{"CHOOSE 1 2 3 / LEADER ACE", 72, 90},
                              {"CONTRACT ACTIVE / FINISH BEFORE CHOOSING AGAIN", 72, 276}});

    s = {};
    s.contract_kind = 1;
    s.contract_state = 3;
    s.salvage_banked = 250;
    s.secrets = 2;
    s.objectives = 3;
    s.revives = 1;
    s.time_seconds = 125;
    s.cosmetic_tier_before = s.cosmetic_tier_after = 3;
    s.total_bank = 900;
    s.total_objectives = 11;
    s.total_secrets = 4;
    auto out = draw(s, 3);
    expect_shown(out, {{"EXTRACTED / CONTRACT INCOMPLETE", 72, 62},
                       {"RECOVER 3 ARTIFACTS", 72, 84},
                       {"SALVAGE BANKED  250", 72, 114},
                       {"SECRETS FOUND   2", 72, 136},
                       {"OBJECTIVES      3", 72, 158},
                       {"TEAMMATE REVIVES 1", 72, 180},
                       {"TIME / 2M 5", 72, 202},
                       {"COSMETIC TIER 3 -> 3", 72, 228},
                       {"TOTAL BANK 900 / OBJECTIVES 11 / SECRETS 4", 72, 260},
                       {"ENTER CLOSE / F5 NEW EXPEDITION", 72, 276}});
    expect_absent(out, {{"COSMETIC COLLECTION COMPLETE", 72, 246}});
    s.contract_state = 2;
    s.cosmetic_tier_after = 4;
    expect_shown(draw(s, 3),
                 {{"EXPEDITION COMPLETE", 72, 62}, {"COSMETIC COLLECTION COMPLETE", 72, 246}});

    s = {};
    s.crew_code = "K7Q2";
    s.crew = {{"ACE", true}, {"BOB", false}, {"CY", true}};
    expect_shown(draw(s, 4), {{"CREW ASSEMBLY", 72, 62, {}, 2},
                              {"CREW CODE / K7Q2", 72, 94},
                              {"F1 COPY INVITE / F2 CREATE CREW", 72, 114},
                              {"F3 TOGGLE READY / F4 JOIN YOUR SAVED CREW", 72, 132},
                              {"P ENTER INVITE CODE / F10 CLOSE", 72, 150},
                              {"ACE / READY", 72, 174},
                              {"BOB / NOT READY", 72, 187},
                              {"CY / READY", 72, 200},
                              {"EVERY CREW MEMBER MUST READY BEFORE A CONTRACT", 72, 288}});

    s.upgrade_offers = {2, 0, 4};
    s.owned_upgrades = 1 | 4 | 8;
    out = draw(s, 5);
    expect_shown(out, {{"EXPEDITION WEAPON UPGRADES", 72, 62, {}, 2},
                       {"CHOOSE 1 2 3 AT A CLEARED REWARD CACHE", 72, 92},
                       {"1 / SHOTGUN KNOCKBACK", 72, 122},
                       {"2 / NO FURTHER UPGRADE", 72, 150},
                       {"3 / GRAVITY MINES", 72, 178},
                       {"ONE PER CLEARED SECTOR / RESETS AFTER EXTRACTION", 72, 222},
                       {"OWNED /", 72, 244},
                       {"U CLOSE", 72, 276},
                       // owned names in bit order from x = 126, one blank cell apart
                       {"RICOCHET PISTOL CLUSTER ROCKETS GRAVITY MINES", 126, 244}});
    expect_absent(out, {{"SHOTGUN KNOCKBACK", 126, 244}});

    s.votes_stay = 2;
    s.participants = 3;
    s.vote_ticks = 211;
    s.bonus_rounds = 1;
    expect_shown(draw(s, 6), {{"EXTRACT OR PUSH YOUR LUCK?", 72, 66, {}, 2},
                              {"N / LEAVE NOW AND BANK YOUR SALVAGE", 72, 110},
                              {"Y / ANOTHER WAVE FOR +25 BONUS SALVAGE", 72, 142},
                              {"ALL PARTICIPANTS MUST VOTE TO STAY", 72, 180},
                              {"DEFAULT / LEAVE WHEN TIME EXPIRES", 72, 200},
                              {"STAY 2 / 3   8S", 72, 232},
                              {"BONUS ROUNDS CLEARED / 1", 72, 258}});
}

} // namespace
} // namespace kestrel
