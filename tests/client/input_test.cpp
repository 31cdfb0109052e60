// Keys, prompts, steering, the buttons of a tick, the 30 Hz schedule and the frame to draw.
#include "client/input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "client/defaults.h"
#include "client/frame_builder.h"

namespace kestrel {
namespace {

// main.cpp casts the platform's scancodes straight to Key.
using enum Key;
static_assert(int(A) == 4 && int(Z) == 29 && int(Digit1) == 30 && int(Digit0) == 39 &&
              int(Return) == 40 && int(Backspace) == 42 && int(Space) == 44 &&
              int(RightBracket) == 48 && int(F1) == 58 && int(F12) == 69 && int(Right) == 79 &&
              int(Up) == 82 && int(LeftCtrl) == 224 && int(LeftShift) == 225);

using Kind = PlatformAction::Kind;
const PlatformAction release{Kind::release_mouse, "", 0};
constexpr std::int32_t centre = 2 * 65536 + 32768; // of cell 2

// A windowed run with audio, admitted by the official server, in cell (2, 2) of an open sector.
RunState with_session(bool session = true, std::uint16_t ammo = 100, std::uint8_t boost = 0) {
    RunState state;
    state.config.host = default_server_host;
    state.config.has_transport = state.config.has_window = state.config.has_audio = true;
    std::tie(state.handoff.session, state.handoff.state, state.handoff.committed, state.focused) =
        std::make_tuple(session ? 0x1234 : 0, HandoffState::Active, Sector{}, true);
    Player me;
    std::tie(me.id, me.x, me.y, me.ammo, me.boost, me.boost_ticks) =
        std::make_tuple(1, centre, centre, ammo, boost, boost ? 100 : 0);
    state.prediction.reset(me);
    return state;
}

PlatformActions press(RunState& state, Key key, double now = 10.0, bool repeat = false) {
    std::uint32_t next = 0x100; // low bytes 00, 01, 02, ...
    return handle_key_down(state, key, repeat, now, [&] { return next++; });
}

KeyState holding(std::initializer_list<Key> keys) {
    KeyState state;
    for (Key key : keys) state.press(key);
    return state;
}

// The payloads of the queued commands, each checked for type, channel 0 and reliability.
std::vector<Bytes> commands(const RunState& state) {
    std::vector<Bytes> all;
    for (const Outgoing& out : state.outbox) {
        EXPECT_EQ(std::tie(out.type, out.channel, out.reliable),
                  std::make_tuple(Type::ClientCommand, 0, true));
        all.push_back(out.payload.bytes);
    }
    return all;
}

// A profile path of this process alone: the same tests may run elsewhere at the same time.
const std::string profile = testing::TempDir() + "kestrel-input-" + std::to_string(getpid());

Bytes saved() {
    std::ifstream in(profile, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(Input, KeysSendSelectAndToggleByPanelAndSession) {
    using enum Panel;
    // With a session a digit picks (and may close the panel), without it arms.
    // clang-format off
    const struct { bool session; Panel panel; Key key; std::vector<Bytes> sent; Panel after; std::uint32_t weapon = 1; bool repeat = false; } cases[] = {
        {1, contracts, Digit2, {{6, 2}}, none}, {0, contracts, Digit2, {}, contracts, 2},
        {1, upgrades, Digit3, {{12, 3}}, upgrades}, {0, upgrades, Digit3, {}, upgrades, 3},
        {1, contracts, Digit4, {}, contracts, 4}, {1, contracts, Digit5, {}, contracts},
        {1, contracts, Digit7, {{11, 1}}, contracts}, {1, contracts, Digit8, {{11, 2}}, contracts},
        {1, contracts, Digit9, {{11, 4}}, contracts}, {1, none, Digit7, {}, none}, {1, crew, F2, {{8}}, crew},
        {1, crew, F3, {{9}}, crew}, {1, crew, F4, {{10}}, crew}, {0, crew, F2, {}, crew},
        {1, none, G, {{3}}, none}, {1, none, R, {{4}}, none}, {1, none, U, {}, upgrades},
        {1, upgrades, U, {}, none}, {1, none, F10, {}, crew}, {1, crew, F10, {}, none},
        {1, none, F5, {}, contracts}, {1, none, F7, {}, navigation}, {1, navigation, F7, {}, none},
        {1, vote, Return, {}, vote}, {1, summary, Return, {}, none}, {1, none, F5, {}, none, 1, true},
        {1, none, Digit3, {}, none, 1, true}}; // repeats: nothing
    // clang-format on
    for (const auto& c : cases) {
        RunState state = with_session(c.session);
        state.panel = c.panel;
        press(state, c.key, 10.0, c.repeat);
        EXPECT_EQ(std::make_tuple(commands(state), state.panel, state.selected_weapon),
                  std::make_tuple(c.sent, c.after, c.weapon))
            << int(c.key) << " " << int(c.panel) << " " << c.session;
    }
}

TEST(Input, VoteNavigationColourAccountLinkAndPlatformActions) {
    RunState state = with_session();
    std::tie(state.expedition.vote_open, state.expedition.vote_ticks) = std::make_tuple(1, 240);
    for (Key key : {Y, N, F8, F9}) press(state, key); // no map: no cycling
    EXPECT_EQ(state.navigation_selection, 0u);
    state.expedition.vote_ticks = 0; // run out: N falls through to the effects switch
    EXPECT_EQ(press(state, N), (PlatformActions{{Kind::toggle_effects, "", 0}}));
    state.expedition.navigation.resize(3);
    state.expedition.navigation[1].id = 0x1122334455667788ull;
    for (Key key : {F8, F9, F8, F8}) press(state, key);
    EXPECT_EQ(state.navigation_selection, 0u); // wrapped
    state.profile_path = profile;
    std::tie(state.adventure.color_index, state.adventure.colors_unlocked) = std::make_tuple(1, 3);
    press(state, C);
    EXPECT_EQ(std::make_pair(state.credentials.color, saved()),
              std::make_pair(std::uint8_t{2}, state.credentials.write().bytes));
    state.adventure.color_index = 3;
    press(state, C);
    EXPECT_EQ(state.credentials.color, 0); // wraps after the last unlocked colour
    const Bytes share{7, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(commands(state), (std::vector<Bytes>{{13, 2}, {13, 1}, share, {2, 2}, {2, 0}}));
    std::filesystem::remove(profile);

    state.panel = Panel::crew;
    EXPECT_TRUE(press(state, F1).empty()); // no crew code yet: nothing to copy
    state.expedition.crew_code = "K7Q2ZX";
    EXPECT_EQ(press(state, F1),
              (PlatformActions{{Kind::set_clipboard, "https://kestrel-game.net/?crew=K7Q2ZX", 0}}));
    RunState offline = with_session(false); // F1 without a session copies nothing
    std::tie(offline.panel, offline.expedition.crew_code) = std::make_tuple(Panel::crew, "K7Q2ZX");
    offline.adventure.colors_unlocked = 4; // the colour changes, the command stays home
    PlatformActions all;
    for (Key key : {C, F1, M, N, LeftBracket, RightBracket, Minus, Equals, F11})
        for (const PlatformAction& action : press(offline, key)) all.push_back(action);
    // clang-format off
    EXPECT_EQ(all, (PlatformActions{{Kind::toggle_music, "", 0}, {Kind::toggle_effects, "", 0},
        {Kind::music_volume, "", -0.1f}, {Kind::music_volume, "", 0.1f}, {Kind::effects_volume, "", -0.1f},
        {Kind::effects_volume, "", 0.1f}, {Kind::toggle_fullscreen, "", 0}}));
    // clang-format on
    EXPECT_TRUE(offline.outbox.empty() && offline.credentials.color == 1);
    offline.config.has_audio = offline.config.has_window = false;
    for (Key key : {M, Equals, F11, P}) EXPECT_TRUE(press(offline, key).empty());

    state.mouse_captured = true;
    EXPECT_EQ(press(state, Escape), PlatformActions{release}); // the mouse first
    EXPECT_TRUE(state.running && !state.mouse_captured && press(state, Escape).empty());
    EXPECT_FALSE(state.running);
    SoundMixer mixer;
    for (Kind kind : {Kind::toggle_music, Kind::toggle_effects, Kind::music_volume})
        apply_audio_action(mixer, {kind, "", 0.1f});
    for (int i = 0; i < 11; ++i) apply_audio_action(mixer, {Kind::effects_volume, "", -0.1f});
    apply_audio_action(mixer, {Kind::open_url, "x", -0.5f});
    EXPECT_EQ(std::tie(mixer.music_on, mixer.effects_on, mixer.music_volume, mixer.effects_volume),
              std::make_tuple(false, false, 1.0f, 0.0f)); // clamped, no negative crumb

    // The account link opens once per cooldown and only for the official server.
    state = with_session();
    state.mouse_captured = true;
    const std::string url = "https://kestrel-game.net/#link=000102030405060708090a0b0c0d0e0f";
    EXPECT_EQ(press(state, F6, 10.0), (PlatformActions{release, {Kind::open_url, url, 0}}));
    EXPECT_TRUE(press(state, F6, 15.9).empty() && press(state, F6, 16.0).size() == 2);
    const Bytes link{5, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(commands(state), (std::vector<Bytes>{link, link}));
    EXPECT_EQ(state.credentials.token, (std::array<std::uint8_t, 16>{})); // own token untouched
    RunState other = with_session();
    other.config.host = "127.0.0.1";
    for (RunState* s : {&other, &offline})
        EXPECT_TRUE(press(*s, F6).empty() && s->outbox.empty() && !s->link_cooldown_until);
}

TEST(Input, NameAndPartyPromptsKeepTheirLimits) {
    RunState state = with_session();
    std::tie(state.profile_path, state.credentials.name, state.mouse_captured) =
        std::make_tuple(profile, "SCOUT", true);
    EXPECT_EQ(press(state, P), (PlatformActions{release, {Kind::start_text_input, "", 0}}));
    handle_text_input(state, "x-9 abcdefghijklmnopqrstuvwxyz"); // filtered, cut at 16
    press(state, Digit3);                                       // swallowed
    EXPECT_EQ(std::tie(state.text_entry.buffer, state.selected_weapon),
              std::make_tuple("SCOUTX9ABCDEFGHI", 1u));
    press(state, Backspace, 10.0, true); // held keys repeat
    EXPECT_TRUE(press(state, Return).empty());
    press(state, Backspace);                      // nothing to delete
    handle_text_input(state, "crew_70123456789"); // cut at 12
    EXPECT_EQ(text_entry_notice(state), "PARTY CODE / CREW_7012345_ / ENTER TO JOIN");
    EXPECT_EQ(press(state, Return), (PlatformActions{{Kind::stop_text_input, "", 0}}));
    EXPECT_EQ(std::tie(state.credentials.name, state.credentials.party),
              std::make_tuple("SCOUTX9ABCDEFGH", "CREW_7012345"));
    EXPECT_EQ(saved(), state.credentials.write().bytes);
    std::string join("\1SCOUTX9ABCDEFGH\0CREW_7012345", 29);
    EXPECT_EQ(commands(state), std::vector<Bytes>{Bytes(join.begin(), join.end())});
    press(state, P);
    EXPECT_EQ(press(state, Escape), (PlatformActions{{Kind::stop_text_input, "", 0}}));
    handle_text_input(state, "Q"); // no prompt: typed text goes nowhere
    EXPECT_TRUE(state.text_entry.buffer == "SCOUTX9ABCDEFGH" && state.running &&
                state.credentials.party == "CREW_7012345");
    std::filesystem::remove(profile);
}

TEST(Input, MouseTurnsOnlyWhileCaptured) {
    RunState state = with_session();
    state.yaw = 65000;
    handle_mouse_motion(state, 30);
    state.mouse_captured = true;
    for (const auto& [dx, yaw] :
         {std::pair{30.0f, 304.0f}, {-20.0f, 65280.0f}, {-0.5f, 65266.0f}}) {
        handle_mouse_motion(state, dx); // 28 units a pixel, kept in [0, 65536)
        EXPECT_EQ(state.yaw, yaw);
    }
    EXPECT_EQ(handle_focus_lost(state), PlatformActions{release});
    state.config.hidden = true;
    EXPECT_TRUE(!state.mouse_captured && handle_left_mouse_down(state).empty());
}

// A snapshot at `now` of entities: id, kind (1 the viewer, 2 an enemy), cell x and y, health.
void push(RunState& state,
          std::vector<std::tuple<std::uint32_t, std::uint8_t, float, float, std::uint16_t>> all,
          double now) {
    Snapshot snapshot{1, 1, 0, 0, 1, 0, 0, {}};
    for (const auto& [id, kind, x, y, health] : all) {
        ReplicatedEntity e;
        std::tie(e.id, e.kind, e.x, e.y, e.health) =
            std::make_tuple(id, kind, std::int32_t(x * 65536), std::int32_t(y * 65536), health);
        snapshot.entities.push_back(e);
    }
    state.remotes.push(snapshot, now);
}

TEST(Input, ButtonsFromKeysMouseCacheAndAutomation) {
    KeyState mouse;
    mouse.left_mouse = mouse.right_mouse = true;
    // The first cache key wins, not with a panel open; the mouse only while captured; portal
    // walking outranks combat, and automation ignores the keyboard and the focus.
    // clang-format off
    const struct { KeyState keys; std::uint16_t buttons; bool panel = false, captured = false, unfocused = false, combat = false, approach = false, portal = false; } cases[] = {
        {holding({Space, LeftCtrl}), 0x10},
        {holding({W, S, A, D, X, LeftShift, Q, E}), 0xC6F},
        {holding({F2, F3}), 2 * 4096}, {holding({F4, F1}), 1 * 4096},
        {holding({F4}), 4 * 4096}, {holding({F2, W}), 0x1, true}, {mouse, 0},
        {mouse, 0x30, false, true}, {holding({W, Space}), 0, false, true, true},
        {holding({S}), 0x10, false, false, true, true}, {{}, 0x51, false, false, true, true, true},
        {holding({Space}), 0x41, false, false, true, true, true, true}};
    // clang-format on
    for (const auto& c : cases) {
        RunState state = with_session();
        state.panel = c.panel ? Panel::crew : Panel::none;
        std::tie(state.mouse_captured, state.focused, state.config.auto_combat, state.approach,
                 state.config.auto_portal) =
            std::make_tuple(c.captured, !c.unfocused, c.combat, c.approach, c.portal);
        EXPECT_EQ(tick_buttons(state, c.keys), c.buttons) << c.buttons;
    }
}

TEST(Input, SteeringByArrowsPortalAndCombat) {
    RunState state = with_session();
    state.yaw = 100; // 10000 units a second; both arrows cancel
    for (const auto& [dt, keys, yaw] : {std::tuple{0.05, holding({Right}), 600.0f},
                                        {0.1, holding({Left}), 65136.0f},
                                        {0.1, holding({Left, Right}), 65136.0f}}) {
        steer(state, 5.0, dt, keys);
        EXPECT_FLOAT_EQ(state.yaw, yaw);
    }
    for (int blocked = 0; blocked < 3; ++blocked) { // a prompt, no focus, out of game
        RunState s = state;
        std::tie(s.text_entry.active, s.focused) = std::make_tuple(blocked == 0, blocked != 1);
        if (blocked == 2) s.handoff.state = HandoffState::Transit;
        steer(s, 5.0, 0.1, holding({Right}));
        EXPECT_FLOAT_EQ(s.yaw, 65136);
    }
    state.config.auto_portal = true; // toward portal 1, south here: the arrows stay off
    Sector& sector = *state.handoff.committed;
    sector.portals = {Portal{2, 10 + 32 * 2}, Portal{1, 2 + 32 * 10}};
    steer(state, 5.0, 0.1, holding({Right}));
    // Navigation divides by 6.28318530718, a hair more than a turn: south comes out as 16383.
    EXPECT_EQ(state.yaw, 16383.0f);
    sector.cells[sector.portals[1].cell] = 1; // in a wall: no path, the heading stays
    steer(state, 5.0, 0.016, {});
    sector.portals[1].id = 3; // no portal 1
    steer(state, 5.0, 0.016, {});
    EXPECT_EQ(state.yaw, 16383.0f);
    // The nearest living enemy (kind 2): dead, not an enemy, 2 cells south, 2 east (a tie: the
    // earlier stays), 2.1 north; 8.4 cells east is walked to; none leaves the heading.
    const auto fight = [](const auto& all) {
        RunState fighter = with_session();
        std::tie(fighter.config.auto_combat, fighter.approach, fighter.yaw) =
            std::make_tuple(true, true, 500.0f);
        if (all.size()) push(fighter, all, 5.0);
        steer(fighter, 5.0, 0.016, {});
        return std::make_pair(fighter.yaw, fighter.approach);
    };
    using Them = std::vector<std::tuple<std::uint32_t, std::uint8_t, float, float, std::uint16_t>>;
    // clang-format off
    EXPECT_EQ(fight(Them{{1, 1, 2.5f, 2.5f, 50}, {7, 2, 3.0f, 2.5f, 0}, {8, 3, 3.0f, 2.5f, 50}, {9, 2, 2.5f, 4.5f, 50},
                         {10, 2, 4.5f, 2.5f, 50}, {11, 2, 2.5f, 0.4f, 50}}), std::make_pair(16384.0f, false));
    // clang-format on
    EXPECT_EQ(fight(Them{{9, 2, 10.9f, 2.2f, 50}}), std::make_pair(0.0f, true));
    EXPECT_EQ(fight(Them{}), std::make_pair(500.0f, false));
}

TEST(Input, PayloadScheduleStampsRepeatsPausesAndAFullQueue) {
    RunState state = with_session(); // 34 ms of latency round up to 2 ticks
    std::tie(state.server_tick_base, state.last_snapshot_time, state.next_tick_time,
             state.config.latency_ms, state.selected_weapon, state.yaw) =
        std::make_tuple(1000, 1.0, 1.25, 34, 2, 16384.9f);
    run_input_ticks(state, 1.25, holding({W}));
    ASSERT_EQ(state.outbox.size(), 1u);
    // tick = 1000 + 2 + int(30 * 0.25) + 2 = 1011 = 0x3F3; buttons 0x1 + 2 * 128.
    const Outgoing& out = state.outbox[0]; // on channel 1, unreliable
    EXPECT_EQ(
        std::tie(out.type, out.channel, out.reliable, out.payload.bytes),
        std::make_tuple(Type::InputCommands, 1, false,
                        Bytes{1, 0, 0, 0, 1, 0, 0, 0, 0xF3, 0x03, 0, 0, 0x01, 0x01, 0x00, 0x40}));
    const Player& me = state.prediction.predicted(); // it walked south and switched weapon
    EXPECT_EQ(std::make_tuple(state.last_sequence, state.last_tick, state.next_tick_time,
                              state.prediction.pending().size(), me.x, me.y, me.weapon),
              std::make_tuple(1u, 1011u, 1.25 + 1.0 / 30, 1u, centre, centre + 8738, 2));

    RunState late = with_session(), away = with_session(); // at most four ticks a frame
    late.last_snapshot_time = 0.4;
    for (double now : {0.5, 0.52, 0.5 + 1.0 / 30}) run_input_ticks(late, now, {});
    away.handoff.state = HandoffState::Transit; // out of game the schedule stays at now
    run_input_ticks(away, 7.5, {});
    EXPECT_EQ(std::make_tuple(late.outbox.size(), late.next_tick_time, away.next_tick_time,
                              away.outbox.size()),
              std::make_tuple(5u, 0.5 + 2.0 / 30, 7.5, 0u));

    RunState quiet = with_session(), full = with_session();
    quiet.last_snapshot_time = 1.0; // two seconds without a snapshot, or paused: nothing
    run_input_tick(quiet, 3.0, 10, 0, {});
    quiet.input_paused = true;
    run_input_tick(quiet, 1.5, 10, 0, {});
    EXPECT_TRUE(quiet.outbox.empty() && quiet.prediction.pending().empty() && !quiet.last_sequence);
    quiet.input_paused = false;
    run_input_tick(quiet, 2.99, 10, 0, {});
    EXPECT_EQ(quiet.outbox.size(), 1u);
    for (std::uint32_t i = 0; i < Prediction::max_pending; ++i)
        run_input_tick(full, 0.5, 10 + i, 0, {});
    const Input newest = full.input_history.back();
    run_input_tick(full, 0.5, 500, 0, {}); // a full prediction queue takes no more
    EXPECT_EQ(
        std::make_tuple(full.outbox.size(), full.last_sequence, full.last_tick,
                        full.input_history.back()),
        std::make_tuple(Prediction::max_pending, Prediction::max_pending, newest.tick, newest));
}

TEST(Input, ShotCostsAndRefireIntervalsGateTheSound) {
    const auto shoot = [](RunState& state, double now, const KeyState& keys) {
        state.sounds.clear();
        state.last_snapshot_time = now;
        run_input_tick(state, now, static_cast<std::uint32_t>(now * 30) + 1, 0, keys);
        return state.sounds.size();
    };
    RunState state = with_session();
    EXPECT_EQ(shoot(state, 1.0, holding({Space})), 1u);
    EXPECT_EQ(std::make_tuple(state.sounds[0].effect, state.sounds[0].variant, state.last_shot_time,
                              state.next_shot_time),
              std::make_tuple(13, 1, 1.0, 1.2));
    for (const auto& [now, space, sounds] :
         {std::tuple{1.1, true, 0u}, {1.2, true, 1u}, {2.0, false, 0u}})
        EXPECT_EQ(shoot(state, now, space ? holding({Space}) : KeyState{}), sounds) << now;
    // weapon, ammo, boost, key, the next shot (0: none): alternate fire doubles cost and wait
    // (not the landmine's); only the fire boost halves the wait.
    const std::tuple<std::uint32_t, std::uint16_t, std::uint8_t, Key, double> cases[] = {
        {3, 9, 0, X, 0},      {3, 9, 0, Space, 2.0},   {3, 10, 0, X, 3.0},     {4, 30, 0, X, 2.5},
        {4, 29, 0, Space, 0}, {2, 100, 1, Space, 1.4}, {2, 100, 3, Space, 1.8}};
    for (const auto& [weapon, ammo, boost, key, next_shot] : cases) {
        RunState s = with_session(true, ammo, boost);
        s.selected_weapon = weapon;
        EXPECT_EQ(shoot(s, 1.0, holding({key})), next_shot > 0 ? 1u : 0u) << weapon << " " << ammo;
        EXPECT_DOUBLE_EQ(s.next_shot_time, next_shot); // untouched (0) without a shot
    }
}

constexpr std::int32_t cell = 65536;
using Times = std::map<std::uint32_t, double>;
const AudioView speakers{true, true, true, 1, 1};

// In game, the last snapshot at time 10.
RunState playing() {
    RunState state = with_session();
    state.last_snapshot_time = state.next_tick_time = 10.0;
    return state;
}

TEST(FrameBuilder, StatusCameraDemoPanelsMusicRadarAndDeaths) {
    RunState state;
    Frame frame = build_frame(state, 1.0, speakers);
    EXPECT_EQ(std::tie(frame.sector, frame.status_line, frame.transition, frame.local_preview),
              std::make_tuple(nullptr, "CONNECTING", true, false));
    state = playing(); // a handoff in flight with the old sector held: the target, no world
    state.handoff.target_sector = 77;
    state.handoff.state = HandoffState::Transit;
    frame = build_frame(state, 10.0, speakers);
    EXPECT_EQ(std::tie(frame.sector, frame.status_line, frame.destination, frame.transition),
              std::make_tuple(nullptr, "WORMHOLE TRANSIT", 77u, true));
    state.handoff.state = HandoffState::Active;
    EXPECT_EQ(build_frame(state, 10.2, speakers).sector, &*state.handoff.committed);
    SoundMixer mixer;
    mixer.music_on = false;
    mixer.effects_volume = 0.9f;
    // Rounded to the nearest percent; a switched-off channel reads 0; exactly 0.5 s is fresh.
    // clang-format off
    const std::tuple<double, AudioView, const char*> lines[] = {
        {10.5, speakers, "MUSIC [ ] 100% SFX - + 100%"}, {10.5, {true, true, true, 0.666f, 0.25f}, "MUSIC [ ] 67% SFX - + 25%"},
        {10.5, audio_view(mixer), "MUSIC [ ] 0% SFX - + 90%"}, {10.5, AudioView{}, "AUDIO UNAVAILABLE"},
        {10.51, speakers, "AWAITING SERVER"}};
    // clang-format on
    for (const auto& [now, audio, line] : lines)
        EXPECT_EQ(build_frame(state, now, audio).status_line, line);

    // The camera blends the last tick's two states by the time into the tick.
    ASSERT_TRUE(state.prediction.step(Input{1, 1, button::forward | button::run, 0}, Grid{}));
    const Player previous = state.prediction.previous(), predicted = state.prediction.predicted();
    ASSERT_NE(previous.x, predicted.x);
    state.next_tick_time = 10.0 + 1.0 / 60.0; // half-way into the tick
    EXPECT_FLOAT_EQ(build_frame(state, 10.0, speakers).camera.x,
                    (previous.x + predicted.x) / 2.0f / cell);

    state.config.demo = true; // the seven sample entities replace whatever was sampled
    push(state, {{1, 1, 4, 4, 100}, {40, 2, 4, 4, 100}}, 0.0);
    frame = build_frame(state, 30.0, speakers);
    EXPECT_TRUE(frame.local_preview && frame.status_line == "WASD / ARROWS / CLICK");
    ASSERT_EQ(frame.entities.size(), 7u);
    EXPECT_EQ(frame.entities[6], (DrawEntity{4.5f, 2.0f, 0, 0, 5, 0, 1, 5, 0, 100.0f, 6, 0}));

    state = playing();
    Player me = state.prediction.predicted();
    std::tie(me.health, me.ammo, me.weapon, state.text_entry) =
        std::make_tuple(37, 12, 3, TextEntry{true, TextEntry::Field::name, "ACE", ""});
    state.prediction.reset(me);
    std::tie(state.panel, state.navigation_selection, state.hit_marker_until,
             state.damage_flash_until, state.banner_until, state.banner_text,
             state.last_shot_time) =
        std::make_tuple(Panel::navigation, 5, 20.0, 19.0, 21.0, "SALVAGE +5", 19.91);
    frame = build_frame(state, 20.0, speakers);
    EXPECT_EQ(std::tie(frame.health, frame.ammo, frame.weapon, frame.expedition_panel,
                       frame.expedition_selection, frame.notice, frame.banner),
              std::make_tuple(37, 12, 3, 2, 5u, "NAME / ACE_ / ENTER FOR PARTY", "SALVAGE +5"));
    EXPECT_NEAR(frame.recoil, 0.5f, 1e-4f);
    // 0.09 s after the shot no flash; deadlines are exclusive.
    EXPECT_EQ(
        std::tie(frame.muzzle_flash, frame.hit_marker, frame.damage_flash, frame.banner_visible),
        std::make_tuple(false, false, false, true));
    state.last_shot_time = 19.95;
    EXPECT_TRUE(build_frame(state, 20.0, speakers).muzzle_flash);
    EXPECT_EQ(build_frame(state, 20.5, speakers).recoil, 0.0f);
    // The music follows the game: out of it, enemies left, cleared, dead.
    RunState out_of_game, fight = playing(), dead = playing();
    fight.status.remaining = 1;
    me.health = 0;
    dead.prediction.reset(me);
    EXPECT_EQ(std::make_tuple(music_level(out_of_game), music_level(fight), music_level(state),
                              music_level(dead)),
              std::make_tuple(0.055f, 0.23f, 0.13f, 0.07f));

    state = playing();
    state.radar_contacts = {{7, {RadarBlip{3, 4, 0}, 8.5}}, // exactly 1.5 s old
                            {2, {RadarBlip{6, 7, 0}, 9.75}},
                            {5, {RadarBlip{1, 1, 0}, 8.4}}}; // too old
    frame = build_frame(state, 10.0, speakers);
    ASSERT_EQ(frame.blips.size(), 2u);
    EXPECT_EQ(
        std::make_tuple(frame.blips[0].x, frame.blips[0].age, frame.blips[1].y, frame.blips[1].age),
        std::make_tuple(6.0f, 0.25f, 4.0f, 1.5f)); // in id order
    // Without a frame, too; with no snapshot nobody is drawn, so no death time stays.
    state.attack_times = {{3, 8.5}, {4, 8.4}};
    state.death_times = {{9, 2.0}, {1, 2.0}};
    prune_contacts(state, 10.0);
    EXPECT_EQ(std::make_tuple(state.radar_contacts.size(), state.attack_times, state.death_times),
              std::make_tuple(std::size_t{2}, Times{{3, 8.5}}, Times{}));
    push(state, {{1, 1, 4, 4, 100}, {9, 2, 4, 4, 0}, {10, 2, 4, 4, 100}, {12, 2, 4, 4, 100}}, 5.0);
    state.death_times = {{10, 1.0}, {11, 1.0}}; // 10 is alive again, 11 is gone
    state.attack_times = {{9, 4.8}, {10, 4.75}, {20, 3.5}, {21, 3.4}};
    const std::vector<DrawEntity> drawn = build_frame(state, 5.0, speakers).entities;
    ASSERT_EQ(drawn.size(), 3u); // the viewer is drawn from prediction
    EXPECT_EQ(std::make_tuple(drawn[0].death_age, drawn[1].death_age, drawn[0].marked,
                              drawn[1].marked, state.death_times, state.attack_times),
              std::make_tuple(0.0f, 100.0f, 1, 0, Times{{9, 5.0}}, // attacked 0.2 s and 0.25 s ago
                              Times{{9, 4.8}, {10, 4.75}, {20, 3.5}}));
    state.death_times = {{9, 2.0}, {10, 2.0}, {11, 2.0}};
    prune_contacts(state, 6.0); // as a frame would leave it
    EXPECT_EQ(state.death_times, (Times{{9, 2.0}}));
}

} // namespace
} // namespace kestrel
