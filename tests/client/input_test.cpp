// Keys, commands, prompts, steering, the buttons of a tick and the 30 Hz input schedule.
#include "client/input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client/defaults.h"

namespace kestrel {
namespace {

// main.cpp casts the platform's scancodes straight to Key.
static_assert(int(Key::A) == 4 && int(Key::Z) == 29 && int(Key::Digit1) == 30 &&
              int(Key::Digit0) == 39 && int(Key::Return) == 40 && int(Key::Backspace) == 42 &&
              int(Key::Space) == 44 && int(Key::RightBracket) == 48 && int(Key::F1) == 58 &&
              int(Key::F12) == 69 && int(Key::Right) == 79 && int(Key::Up) == 82 &&
              int(Key::LeftCtrl) == 224 && int(Key::LeftShift) == 225);

using Kind = PlatformAction::Kind;
const PlatformAction release{Kind::release_mouse, "", 0};
constexpr std::int32_t centre = 2 * 65536 + 32768; // of cell 2

// A windowed run with audio, connected to the official server, admitted and in game on an
// open sector, standing in the centre of cell (2, 2).
RunState with_session(bool session = true) {
    RunState state;
    state.config = {std::string(default_server_host),
                    0,
                    0,
                    false,
                    false,
                    false,
                    false,
                    false,
                    true,
                    true,
                    true};
    state.handoff.session = session ? 0x1234 : 0;
    state.handoff.state = HandoffState::Active;
    state.handoff.committed = Sector{}; // tile 0 everywhere, which blocks nothing
    state.focused = true;
    Player me;
    me.id = 1;
    me.x = me.y = centre;
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

// The payloads of the commands queued so far, each checked for type, channel 0 and
// reliability.
std::vector<Bytes> commands(const RunState& state) {
    std::vector<Bytes> all;
    for (const Outgoing& out : state.outbox) {
        EXPECT_EQ(std::tie(out.type, out.channel, out.reliable),
                  std::make_tuple(Type::ClientCommand, 0, true));
        all.push_back(out.payload.bytes);
    }
    return all;
}

Bytes join_command(std::string name, std::string party) {
    name.resize(16, '\0');
    party.resize(12, '\0');
    Bytes all{1};
    all.insert(all.end(), name.begin(), name.end());
    all.insert(all.end(), party.begin(), party.end());
    return all;
}

Bytes saved(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(Input, KeysSendSelectAndToggleByPanelAndSession) {
    const struct {
        bool session;
        Panel panel;
        Key key;
        std::vector<Bytes> sent;
        Panel after;
        std::uint32_t weapon = 1;
        bool repeat = false;
    } cases[] = {
        {true, Panel::contracts, Key::Digit2, {{6, 2}}, Panel::none},    // picks, closes the panel
        {false, Panel::contracts, Key::Digit2, {}, Panel::contracts, 2}, // no session: weapon
        {true, Panel::upgrades, Key::Digit3, {{12, 3}}, Panel::upgrades},
        {false, Panel::upgrades, Key::Digit3, {}, Panel::upgrades, 3},
        {true, Panel::contracts, Key::Digit4, {}, Panel::contracts, 4},
        {true, Panel::contracts, Key::Digit5, {}, Panel::contracts},
        {true, Panel::contracts, Key::Digit7, {{11, 1}}, Panel::contracts},
        {true, Panel::contracts, Key::Digit8, {{11, 2}}, Panel::contracts},
        {true, Panel::contracts, Key::Digit9, {{11, 4}}, Panel::contracts},
        {true, Panel::none, Key::Digit7, {}, Panel::none},
        {true, Panel::crew, Key::F2, {{8}}, Panel::crew},
        {true, Panel::crew, Key::F3, {{9}}, Panel::crew},
        {true, Panel::crew, Key::F4, {{10}}, Panel::crew},
        {false, Panel::crew, Key::F2, {}, Panel::crew},
        {true, Panel::none, Key::G, {{3}}, Panel::none},
        {true, Panel::none, Key::R, {{4}}, Panel::none},
        {true, Panel::none, Key::U, {}, Panel::upgrades},
        {true, Panel::upgrades, Key::U, {}, Panel::none},
        {true, Panel::none, Key::F10, {}, Panel::crew},
        {true, Panel::crew, Key::F10, {}, Panel::none},
        {true, Panel::none, Key::F5, {}, Panel::contracts},
        {true, Panel::none, Key::F7, {}, Panel::navigation},
        {true, Panel::navigation, Key::F7, {}, Panel::none},
        {true, Panel::vote, Key::Return, {}, Panel::vote},
        {true, Panel::summary, Key::Return, {}, Panel::none},
        {true, Panel::none, Key::F5, {}, Panel::none, 1, true}, // repeats do nothing
        {true, Panel::none, Key::Digit3, {}, Panel::none, 1, true},
    };
    for (const auto& c : cases) {
        RunState state = with_session(c.session);
        state.panel = c.panel;
        press(state, c.key, 10.0, c.repeat);
        EXPECT_EQ(std::make_tuple(commands(state), state.panel, state.selected_weapon),
                  std::make_tuple(c.sent, c.after, c.weapon))
            << int(c.key) << " " << int(c.panel) << " " << c.session;
    }
    RunState demo = with_session();
    demo.config.has_transport = false; // a session number alone is not enough
    press(demo, Key::G);
    EXPECT_TRUE(demo.outbox.empty());
}

TEST(Input, VoteNavigationColourAndPlatformActions) {
    RunState state = with_session();
    state.expedition.vote_open = true;
    state.expedition.vote_ticks = 240;
    press(state, Key::Y);
    press(state, Key::N);
    state.expedition.vote_ticks = 0; // run out: N falls through to the effects switch
    EXPECT_EQ(press(state, Key::N), (PlatformActions{{Kind::toggle_effects, "", 0}}));
    press(state, Key::F8); // an empty map: nothing to cycle or share
    press(state, Key::F9);
    EXPECT_EQ(state.navigation_selection, 0u);
    state.expedition.navigation.resize(3);
    state.expedition.navigation[1].id = 0x1122334455667788ull;
    press(state, Key::F8);
    press(state, Key::F9);
    EXPECT_EQ(commands(state),
              (std::vector<Bytes>{
                  {13, 2}, {13, 1}, {7, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}}));
    press(state, Key::F8);
    press(state, Key::F8);
    EXPECT_EQ(state.navigation_selection, 0u); // wrapped
    state.outbox.clear();
    state.navigation_selection = 7; // the map shrank below the selection: F9 sends nothing
    press(state, Key::F9);
    EXPECT_TRUE(state.outbox.empty());
    press(state, Key::F8);
    EXPECT_EQ(state.navigation_selection, 2u); // 8 mod 3

    state.profile_path = testing::TempDir() + "input_color_profile.bin";
    state.adventure.color_index = 1;
    state.adventure.colors_unlocked = 3;
    press(state, Key::C);
    EXPECT_EQ(state.credentials.color, 2);
    ASSERT_EQ(saved(state.profile_path).size(), credentials_size);
    EXPECT_EQ(saved(state.profile_path)[44], 2);
    state.adventure.color_index = 3;
    press(state, Key::C);
    EXPECT_EQ(state.credentials.color, 0); // wraps after the last unlocked colour
    EXPECT_EQ(commands(state), (std::vector<Bytes>{{2, 2}, {2, 0}}));

    state.panel = Panel::crew;
    EXPECT_TRUE(press(state, Key::F1).empty()); // no crew code yet: nothing to copy
    state.expedition.crew_code = "K7Q2ZX";
    EXPECT_EQ(press(state, Key::F1),
              (PlatformActions{{Kind::set_clipboard, "https://kestrel-game.net/?crew=K7Q2ZX", 0}}));
    RunState offline = with_session(false);
    offline.panel = Panel::crew;
    offline.expedition.crew_code = "K7Q2ZX";
    offline.adventure.colors_unlocked = 4; // the colour changes, the command stays home
    press(offline, Key::C);
    EXPECT_EQ(offline.credentials.color, 1);
    PlatformActions all;
    for (Key key : {Key::F1, Key::M, Key::N, Key::LeftBracket, Key::RightBracket, Key::Minus,
                    Key::Equals, Key::F11})
        for (const PlatformAction& action : press(offline, key)) all.push_back(action);
    EXPECT_EQ(all, (PlatformActions{{Kind::toggle_music, "", 0},
                                    {Kind::toggle_effects, "", 0},
                                    {Kind::music_volume, "", -0.1f},
                                    {Kind::music_volume, "", 0.1f},
                                    {Kind::effects_volume, "", -0.1f},
                                    {Kind::effects_volume, "", 0.1f},
                                    {Kind::toggle_fullscreen, "", 0}}));
    EXPECT_TRUE(offline.outbox.empty());
    offline.config.has_audio = offline.config.has_window = false;
    for (Key key : {Key::M, Key::Equals, Key::F11, Key::P})
        EXPECT_TRUE(press(offline, key).empty());
    EXPECT_FALSE(offline.text_entry.active);

    RunState quitting = with_session();
    quitting.mouse_captured = true;
    EXPECT_EQ(press(quitting, Key::Escape), PlatformActions{release}); // the mouse first
    EXPECT_TRUE(quitting.running && !quitting.mouse_captured);
    EXPECT_TRUE(press(quitting, Key::Escape).empty());
    EXPECT_FALSE(quitting.running);

    SoundMixer mixer;
    for (Kind kind : {Kind::toggle_music, Kind::toggle_effects, Kind::music_volume})
        apply_audio_action(mixer, {kind, "", 0.1f});
    for (int i = 0; i < 11; ++i) apply_audio_action(mixer, {Kind::effects_volume, "", -0.1f});
    apply_audio_action(mixer, {Kind::open_url, "x", -0.5f});
    EXPECT_EQ(std::tie(mixer.music_on, mixer.effects_on, mixer.music_volume, mixer.effects_volume),
              std::make_tuple(false, false, 1.0f, 0.0f)); // clamped, no negative crumb
}

TEST(Input, AccountLinkOpensOncePerCooldownOnlyForTheOfficialServer) {
    RunState state = with_session();
    state.mouse_captured = true;
    EXPECT_EQ(
        press(state, Key::F6, 10.0),
        (PlatformActions{release,
                         {Kind::open_url,
                          "https://kestrel-game.net/#link=000102030405060708090a0b0c0d0e0f", 0}}));
    EXPECT_FALSE(state.mouse_captured);
    EXPECT_EQ(commands(state),
              (std::vector<Bytes>{{5, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}}));
    EXPECT_EQ(state.credentials.token, (std::array<std::uint8_t, 16>{})); // own token untouched
    EXPECT_TRUE(press(state, Key::F6, 15.9).empty());
    EXPECT_EQ(press(state, Key::F6, 16.0).size(), 2u);
    EXPECT_EQ(state.outbox.size(), 2u);
    RunState other = with_session(), windowless = with_session(), offline = with_session(false);
    other.config.host = "127.0.0.1";
    windowless.config.has_window = false;
    for (RunState* s : {&other, &windowless, &offline}) {
        EXPECT_TRUE(press(*s, Key::F6).empty() && press(*s, Key::F6, 100.0).empty());
        EXPECT_TRUE(s->outbox.empty());
        EXPECT_EQ(s->link_cooldown_until, 0.0);
    }
}

TEST(Input, NameAndPartyPrompts) {
    RunState state = with_session();
    state.profile_path = testing::TempDir() + "input_prompt_profile.bin";
    state.credentials.name = "SCOUT";
    state.credentials.party = "OLD";
    state.mouse_captured = true;
    EXPECT_EQ(press(state, Key::P), (PlatformActions{release, {Kind::start_text_input, "", 0}}));
    EXPECT_EQ(text_entry_notice(state), "NAME / SCOUT_ / ENTER FOR PARTY");
    handle_text_input(state, "x-9 ");
    EXPECT_EQ(text_entry_notice(state), "NAME / SCOUTX9_ / ENTER FOR PARTY");
    for (Key key : {Key::Digit3, Key::F5, Key::G, Key::P}) press(state, key); // swallowed
    EXPECT_EQ(std::tie(state.selected_weapon, state.panel), std::make_tuple(1u, Panel::none));
    EXPECT_TRUE(press(state, Key::Return).empty());
    EXPECT_EQ(text_entry_notice(state), "PARTY CODE / OLD_ / ENTER TO JOIN");
    for (int i = 0; i < 4; ++i) press(state, Key::Backspace); // one more than there is
    handle_text_input(state, "crew_7");
    EXPECT_EQ(state.credentials.name, "SCOUT"); // nothing stored before the last Enter
    EXPECT_TRUE(state.outbox.empty());
    EXPECT_EQ(press(state, Key::Return), (PlatformActions{{Kind::stop_text_input, "", 0}}));
    EXPECT_EQ(text_entry_notice(state), "");
    EXPECT_EQ(std::tie(state.credentials.name, state.credentials.party),
              std::make_tuple("SCOUTX9", "CREW_7"));
    const Bytes join = join_command("SCOUTX9", "CREW_7"), file = saved(state.profile_path);
    EXPECT_EQ(commands(state), std::vector<Bytes>{join});
    ASSERT_EQ(file.size(), credentials_size);
    EXPECT_EQ(Bytes(file.begin() + 16, file.end() - 1), Bytes(join.begin() + 1, join.end()));

    state.outbox.clear();
    press(state, Key::P);
    for (int i = 0; i < 8; ++i) press(state, Key::Backspace, 10.0, true); // held: repeats count
    EXPECT_EQ(text_entry_notice(state), "NAME / _ / ENTER FOR PARTY");
    press(state, Key::Return);
    for (int i = 0; i < 7; ++i) press(state, Key::Backspace, 10.0, true);
    press(state, Key::Return);
    EXPECT_EQ(std::tie(state.credentials.name, state.credentials.party),
              std::make_tuple("RANGER", "")); // an empty name is the default one
    EXPECT_EQ(commands(state), std::vector<Bytes>{join_command("RANGER", "")});
    press(state, Key::P);
    handle_text_input(state, "abcdefghijklmnopqrstuvwxyz"); // appended to RANGER
    EXPECT_EQ(state.text_entry.buffer, "RANGERABCDEFGHIJ");
    press(state, Key::Return);
    handle_text_input(state, "0123456789abcdef");
    EXPECT_EQ(state.text_entry.buffer, "0123456789AB");
    EXPECT_EQ(press(state, Key::Escape), (PlatformActions{{Kind::stop_text_input, "", 0}}));
    EXPECT_TRUE(!state.text_entry.active && state.running);
    EXPECT_EQ(state.credentials.name, "RANGER");
    handle_text_input(state, "Q"); // no prompt: typed text goes nowhere
    EXPECT_EQ(state.text_entry.buffer, "0123456789AB");
}

TEST(Input, FocusMouseAndTurning) {
    RunState state = with_session();
    state.focused = false;
    handle_focus_gained(state);
    EXPECT_TRUE(state.focused);
    EXPECT_EQ(handle_left_mouse_down(state), (PlatformActions{{Kind::capture_mouse, "", 0}}));
    state.yaw = 65000;
    handle_mouse_motion(state, 30);
    EXPECT_EQ(state.yaw, 65000.0f); // only while captured
    state.mouse_captured = true;
    for (const auto& [dx, yaw] :
         {std::pair{30.0f, 304.0f}, {-20.0f, 65280.0f}, {-0.5f, 65266.0f}}) {
        handle_mouse_motion(state, dx); // 28 units a pixel, kept in [0, 65536)
        EXPECT_EQ(state.yaw, yaw);
    }
    EXPECT_EQ(handle_focus_lost(state), PlatformActions{release});
    EXPECT_FALSE(state.focused || state.mouse_captured);
    state.config.hidden = true;
    EXPECT_TRUE(handle_left_mouse_down(state).empty());
    RunState headless = with_session();
    headless.config.has_window = false;
    EXPECT_TRUE(handle_left_mouse_down(headless).empty() && handle_focus_lost(headless).empty());
    handle_quit(state);
    EXPECT_FALSE(state.running);
}

} // namespace
} // namespace kestrel
