#include "render/expedition_hud.h"

#include <bit>
#include <cstdlib>
#include <string>

#include "render/gameplay_hud.h"
#include "render/text.h"

namespace kestrel {
namespace {

using namespace expedition_color;

std::string_view upgrade_name(unsigned offer) {
    switch (offer) {
    case 1:
        return "RICOCHET PISTOL";
    case 2:
        return "SHOTGUN KNOCKBACK";
    case 3:
        return "CLUSTER ROCKETS";
    case 4:
        return "GRAVITY MINES";
    default:
        return "NO FURTHER UPGRADE";
    }
}

std::string_view theme_name(unsigned theme) {
    switch (theme) {
    case 1:
        return "INFESTED LABORATORY";
    case 2:
        return "DAMAGED SPACE STATION";
    default:
        return "INDUSTRIAL RUINS";
    }
}

std::string num(unsigned long long v) {
    return std::to_string(v);
}

const char* on_off(bool on) {
    return on ? "ON" : "OFF";
}

bool contract_active(const ExpeditionState& s) {
    return s.contract_state == 1;
}

void always_visible(std::vector<Vertex>& out, const ExpeditionState& s) {
    text(out, "F5 CONTRACTS / F7 MAP / F10 CREW", 10, 238, hint, 1);
    text(out, theme_name(s.theme), 250, 6, info, 1);
    if (s.theme != 0) {
        const unsigned c = s.sequence % 180;
        if (c < 60 || c > 119) {
            text(out, "YELLOW FLOOR = HAZARD", 250, 18, hazard, 1);
        } else {
            text(out, "HAZARD WARNING / MOVE", 250, 18, alert, 1);
        }
    }
    const unsigned risks = s.risks & 7u; // the three risk bits
    if (risks != 0) {
        text(out,
             "RISKS ACTIVE / +" + num(25u * static_cast<unsigned>(std::popcount(risks))) +
                 " COSMETIC SALVAGE ON SUCCESS",
             10, 276, reward, 1);
    }
    if (contract_active(s)) {
        std::string line{contract_name(s.contract_kind)};
        line += " " + num(s.contract_progress) + "/" + num(s.contract_goal);
        text(out, line, 10, 226, info, 1);
    }
    if (s.extraction_timer != 0) {
        text(out, "DEFEND EXTRACTION / " + num(whole_seconds(s.extraction_timer)) + "S / STAY NEAR",
             150, 156, alert, 1);
    }
    if (s.boss_phase != 0) {
        text(out, "SECTOR SENTINEL / PHASE " + num(s.boss_phase), 160, 26, boss, 1);
        // Health bar under the title; a zero maximum shows an empty bar.
        constexpr float bar_width = 160;
        screen_rect(out, 160, 36, bar_width, 5, boss_bar, 0);
        if (s.boss_health_max != 0 && s.boss_health != 0) {
            const float fill = bar_width * static_cast<float>(s.boss_health) /
                               static_cast<float>(s.boss_health_max);
            screen_rect(out, 160, 36, fill, 5, boss, 0);
        }
        if (s.attack_warning != 0) {
            text(out,
                 s.attack_kind == 1 ? "FAN INCOMING / MOVE SIDEWAYS" : "RING INCOMING / FIND COVER",
                 160, 46, alert, 1);
        }
    }
    text(out, "U UPGRADES / E SWITCHES", 310, 308, hint, 1);
    if (s.revive_shield != 0) {
        text(out, "REVIVE SHIELD / " + num(s.revive_shield), 240, 52, info, 1);
    }
    if (s.team_shot_charged) text(out, "TEAM SHOT CHARGED", 240, 64, reward, 1);
}

void contracts(std::vector<Vertex>& out, const ExpeditionState& s) {
    constexpr float x = 72;
    text(out, "EXPEDITION CONTRACTS", x, 62, title, 2);
    text(out, (s.leader ? "CHOOSE 1 2 3 / LEADER " : "PARTY LEADER CHOOSES / ") + s.leader_name, x,
         90, hint, 1);
    text(out, "1 / RECOVER THREE ARTIFACTS", x, 116, info, 1);
    text(out, "DELIVER ARTIFACT OBJECTIVES THROUGH PORTALS", x, 132, hint, 1);
    text(out, "2 / SENTINEL SECTOR", x, 158, info, 1);
    text(out, "DEFEAT THE BOSS AND CLEAR THE MARKED SECTOR", x, 174, hint, 1);
    text(out, "3 / SALVAGE RUN", x, 200, info, 1);
    text(out, "BANK 250 SALVAGE AT A DEFENDED EXTRACTION", x, 216, hint, 1);
    text(out,
         std::string("7 AMMO ") + on_off(s.risks & 1) + " / 8 BARRELS " + on_off(s.risks & 2) +
             " / 9 FAST SHOTS " + on_off(s.risks & 4),
         x, 240, reward, 1);
    text(out, "+25 COSMETIC SALVAGE PER RISK ON SUCCESS / F10 READY", x, 256, hint, 1);
    text(out,
         contract_active(s) ? "CONTRACT ACTIVE / FINISH BEFORE CHOOSING AGAIN"
                            : "CHOOSE THEN EXPLORE / F5 CLOSE",
         x, 276, title, 1);
}

Color node_color(std::uint8_t flags) {
    if (flags & 16) return waypoint;
    if (flags & 8) return sentinel;
    if (flags & 2) return cleared;
    return (flags & 1) ? discovered : undiscovered;
}

void navigation(std::vector<Vertex>& out, const ExpeditionState& s, std::uint32_t selection) {
    text(out, "SECTOR NAVIGATION", 64, 55, title, 1);
    text(out, "F8 NEXT / F9 SHARE DESTINATION / F7 CLOSE", 64, 72, hint, 1);

    const NavSector* chosen = selection < s.navigation.size() ? &s.navigation[selection] : nullptr;
    // The map stays put while the selection is near the origin and follows it otherwise.
    long cx = 0, cy = 0;
    if (chosen && !(chosen->column < 6 && chosen->row < 5)) {
        cx = chosen->column;
        cy = chosen->row;
    }
    for (const NavSector& n : s.navigation) {
        const long dc = static_cast<long>(n.column) - cx;
        const long dr = static_cast<long>(n.row) - cy;
        if (std::labs(dc) > 5 || std::labs(dr) > 4) continue;
        const auto bx = static_cast<float>(216 + 24 * dc);
        const auto by = static_cast<float>(180 + 22 * dr);
        screen_rect(out, bx, by, 22, 16, node_color(n.flags), 0);
        if (n.id == s.current_sector) { // a cyan frame inside the box
            screen_rect(out, bx, by, 22, 1, you, 0);
            screen_rect(out, bx, by + 15, 22, 1, you, 0);
            screen_rect(out, bx, by + 1, 1, 14, you, 0);
            screen_rect(out, bx + 21, by + 1, 1, 14, you, 0);
        }
        if (&n == chosen) screen_rect(out, bx, by + 18, 22, 2, selected, 0); // underline
        if (n.teammates != 0) text(out, num(n.teammates), bx + 2, by + 3, count, 1);
    }
    text(out, "CYAN YOU / GREEN CLEARED / RED BOSS / GOLD WAYPOINT", 64, 284, hint, 1);

    if (!chosen) return;
    constexpr float x = 374;
    text(out, "SECTOR " + num(chosen->id) + " / DANGER " + num(chosen->danger), x, 106, title, 1);
    text(out, (chosen->flags & 1) ? "DISCOVERED" : "UNEXPLORED PORTAL", x, 125, hint, 1);
    const char* threat = (chosen->flags & 8)   ? "SENTINEL WARNING"
                         : (chosen->flags & 2) ? "SECTOR CLEARED"
                                               : "EXPLORE / FIGHT";
    text(out, threat, x, 145, hint, 1);
    static constexpr std::string_view objectives[] = {"", "GENERATOR", "DEFEND RELAY", "ARTIFACT"};
    if (chosen->objective >= 1 && chosen->objective <= 3) {
        text(out, objectives[chosen->objective], x, 165, info, 1);
    }
    text(out, "TEAMMATES " + num(chosen->teammates), x, 185, hint, 1);
}

void summary(std::vector<Vertex>& out, const ExpeditionState& s) {
    constexpr float x = 72;
    text(out, s.contract_state == 2 ? "EXPEDITION COMPLETE" : "EXTRACTED / CONTRACT INCOMPLETE", x,
         62, title, 1);
    text(out, contract_name(s.contract_kind), x, 84, info, 1);
    text(out, "SALVAGE BANKED  " + num(s.salvage_banked), x, 114, hint, 1);
    text(out, "SECRETS FOUND   " + num(s.secrets), x, 136, hint, 1);
    text(out, "OBJECTIVES      " + num(s.objectives), x, 158, hint, 1);
    text(out, "TEAMMATE REVIVES " + num(s.revives), x, 180, hint, 1);
    text(out, "TIME / " + num(s.time_seconds / 60) + "M " + num(s.time_seconds % 60), x, 202, hint,
         1);
    // The font has no ">": the arrow shows as "-" and a gap.
    text(out, "COSMETIC TIER " + num(s.cosmetic_tier_before) + " -> " + num(s.cosmetic_tier_after),
         x, 228, reward, 1);
    if (s.cosmetic_tier_after >= 4) text(out, "COSMETIC COLLECTION COMPLETE", x, 246, reward, 1);
    text(out,
         "TOTAL BANK " + num(s.total_bank) + " / OBJECTIVES " + num(s.total_objectives) +
             " / SECRETS " + num(s.total_secrets),
         x, 260, hint, 1);
    text(out, "ENTER CLOSE / F5 NEW EXPEDITION", x, 276, title, 1);
}

void crew(std::vector<Vertex>& out, const ExpeditionState& s) {
    constexpr float x = 72;
    text(out, "CREW ASSEMBLY", x, 62, title, 2);
    text(out, "CREW CODE / " + (s.crew_code.empty() ? std::string("NONE") : s.crew_code), x, 94,
         info, 1);
    text(out, "F1 COPY INVITE / F2 CREATE CREW", x, 114, hint, 1);
    text(out, "F3 TOGGLE READY / F4 JOIN YOUR SAVED CREW", x, 132, hint, 1);
    text(out, "P ENTER INVITE CODE / F10 CLOSE", x, 150, hint, 1);
    for (std::size_t i = 0; i < s.crew.size(); ++i) {
        const CrewMember& m = s.crew[i];
        text(out, m.name + (m.ready ? " / READY" : " / NOT READY"), x,
             static_cast<float>(174 + 13 * i), m.ready ? cleared : hint, 1);
    }
    text(out, "EVERY CREW MEMBER MUST READY BEFORE A CONTRACT", x, 288, title, 1);
}

void upgrades(std::vector<Vertex>& out, const ExpeditionState& s) {
    constexpr float x = 72;
    text(out, "EXPEDITION WEAPON UPGRADES", x, 62, title, 2);
    text(out, "CHOOSE 1 2 3 AT A CLEARED REWARD CACHE", x, 92, hint, 1);
    for (std::size_t i = 0; i < s.upgrade_offers.size(); ++i) {
        std::string line = num(i + 1) + " / ";
        line += upgrade_name(s.upgrade_offers[i]);
        text(out, line, x, static_cast<float>(122 + 28 * i), info, 1);
    }
    text(out, "ONE PER CLEARED SECTOR / RESETS AFTER EXTRACTION", x, 222, hint, 1);
    text(out, "OWNED /", x, 244, hint, 1);
    // Owned names follow one another with one blank cell between them, so they stay
    // readable as separate names.
    float pen = 126;
    for (unsigned bit = 0; bit < 4; ++bit) {
        if (!(s.owned_upgrades & (1u << bit))) continue;
        const std::string_view name = upgrade_name(bit + 1);
        text(out, name, pen, 244, reward, 1);
        pen += text_width(name, 1) + text_width(" ", 1);
    }
    text(out, "U CLOSE", x, 276, title, 1);
}

void vote(std::vector<Vertex>& out, const ExpeditionState& s) {
    constexpr float x = 72;
    text(out, "EXTRACT OR PUSH YOUR LUCK?", x, 66, title, 2);
    text(out, "N / LEAVE NOW AND BANK YOUR SALVAGE", x, 110, hint, 1);
    text(out, "Y / ANOTHER WAVE FOR +25 BONUS SALVAGE", x, 142, hint, 1);
    text(out, "ALL PARTICIPANTS MUST VOTE TO STAY", x, 180, hint, 1);
    text(out, "DEFAULT / LEAVE WHEN TIME EXPIRES", x, 200, hint, 1);
    text(out,
         "STAY " + num(s.votes_stay) + " / " + num(s.participants) + "   " +
             num(whole_seconds(s.vote_ticks)) + "S",
         x, 232, reward, 1);
    text(out, "BONUS ROUNDS CLEARED / " + num(s.bonus_rounds), x, 258, info, 1);
}

} // namespace

std::string_view contract_name(unsigned kind) {
    switch (kind) {
    case 1:
        return "RECOVER 3 ARTIFACTS";
    case 2:
        return "DEFEAT SENTINEL / CLEAR TARGET";
    case 3:
        return "BANK 250 SALVAGE";
    default:
        return {};
    }
}

void expedition_hud(std::vector<Vertex>& out, const ExpeditionState& state, std::uint8_t panel,
                    std::uint32_t selection) {
    always_visible(out, state);
    if (panel == expedition_panel::none) return;
    screen_rect(out, 48, 44, 592 - 48, 308 - 44, expedition_color::panel, 0);
    switch (panel) {
    case expedition_panel::contracts:
        contracts(out, state);
        break;
    case expedition_panel::summary:
        summary(out, state);
        break;
    case expedition_panel::crew:
        crew(out, state);
        break;
    case expedition_panel::upgrades:
        upgrades(out, state);
        break;
    case expedition_panel::vote:
        vote(out, state);
        break;
    default:
        navigation(out, state, selection);
        break; // 2, and anything unknown
    }
}

} // namespace kestrel
