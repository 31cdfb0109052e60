// Events, the key table, client commands and the name/party prompts.
#include "client/input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client/defaults.h"

namespace kestrel {
namespace {

// main.cpp casts the platform's scancodes straight to Key.
static_assert(static_cast<int>(Key::A) == 4 && static_cast<int>(Key::Z) == 29);
static_assert(static_cast<int>(Key::Digit1) == 30 && static_cast<int>(Key::Digit0) == 39);
static_assert(static_cast<int>(Key::Return) == 40 && static_cast<int>(Key::Backspace) == 42);
static_assert(static_cast<int>(Key::Space) == 44 && static_cast<int>(Key::RightBracket) == 48);
static_assert(static_cast<int>(Key::F1) == 58 && static_cast<int>(Key::F12) == 69);
static_assert(static_cast<int>(Key::Right) == 79 && static_cast<int>(Key::Up) == 82);
static_assert(static_cast<int>(Key::LeftCtrl) == 224 && static_cast<int>(Key::LeftShift) == 225);

using Kind = PlatformAction::Kind;
const PlatformAction release{Kind::release_mouse, "", 0};

// A windowed run with audio, connected to the official server and admitted.
RunState with_session(bool session = true) {
    RunState state;
    state.config.host = std::string(default_server_host);
    state.config.has_transport = true;
    state.config.has_window = true;
    state.config.has_audio = true;
    state.handoff.session = session ? 0x1234 : 0;
    state.focused = true;
    return state;
}

PlatformActions press(RunState& state, Key key, double now = 10.0, bool repeat = false) {
    std::uint32_t next = 0x100; // low bytes 00, 01, 02, ...
    return handle_key_down(state, key, repeat, now, [&] { return next++; });
}

// The payloads of the commands queued so far, each checked for channel 0 and reliability.
std::vector<Bytes> commands(const RunState& state) {
    std::vector<Bytes> all;
    for (const Outgoing& out : state.outbox) {
        EXPECT_EQ(out.type, Type::ClientCommand);
        EXPECT_EQ(out.channel, 0);
        EXPECT_TRUE(out.reliable);
        all.push_back(out.payload.bytes);
    }
    return all;
}

Bytes label(std::string text, std::size_t width) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(width, 0);
    return bytes;
}

Bytes join_command(const std::string& name, const std::string& party) {
    Bytes all{1};
    for (const Bytes& part : {label(name, 16), label(party, 12)})
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string temp_profile(const char* name) {
    const auto path = std::filesystem::path(testing::TempDir()) / name;
    std::filesystem::remove(path);
    return path.string();
}

Bytes file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(KeyTable, KeysSendSelectAndToggleByPanelAndSession) {
    struct Case {
        bool session;
        Panel panel;
        Key key;
        std::vector<Bytes> sent;
        Panel after;
        std::uint32_t weapon = 1;
        bool repeat = false;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << static_cast<int>(c.key) << " panel "
                                        << static_cast<int>(c.panel) << " session " << c.session);
        RunState state = with_session(c.session);
        state.panel = c.panel;
        press(state, c.key, 10.0, c.repeat);
        EXPECT_EQ(commands(state), c.sent);
        EXPECT_EQ(state.panel, c.after);
        EXPECT_EQ(state.selected_weapon, c.weapon);
    }
    RunState demo = with_session();
    demo.config.has_transport = false; // a session number alone is not enough
    press(demo, Key::G);
    EXPECT_TRUE(demo.outbox.empty());
}

TEST(KeyTable, VoteCrewInviteAndPlatformActions) {
    RunState state = with_session();
    state.expedition.vote_open = true;
    state.expedition.vote_ticks = 240;
    press(state, Key::Y);
    press(state, Key::N);
    EXPECT_EQ(commands(state), (std::vector<Bytes>{{13, 2}, {13, 1}}));
    state.outbox.clear();
    state.expedition.vote_ticks = 0; // run out: N falls through to the effects switch
    EXPECT_EQ(press(state, Key::N), (PlatformActions{{Kind::toggle_effects, "", 0}}));
    EXPECT_TRUE(state.outbox.empty());

    state.panel = Panel::crew;
    EXPECT_TRUE(press(state, Key::F1).empty()); // no crew code yet: nothing to copy
    state.expedition.crew_code = "K7Q2ZX";
    EXPECT_EQ(press(state, Key::F1),
              (PlatformActions{{Kind::set_clipboard, "https://kestrel-game.net/?crew=K7Q2ZX", 0}}));
    RunState offline = with_session(false);
    offline.panel = Panel::crew;
    offline.expedition.crew_code = "K7Q2ZX";
    EXPECT_TRUE(press(offline, Key::F1).empty());

    PlatformActions all;
    for (Key key :
         {Key::M, Key::N, Key::LeftBracket, Key::RightBracket, Key::Minus, Key::Equals, Key::F11})
        for (const PlatformAction& action : press(offline, key)) all.push_back(action);
    EXPECT_EQ(all, (PlatformActions{{Kind::toggle_music, "", 0},
                                    {Kind::toggle_effects, "", 0},
                                    {Kind::music_volume, "", -0.1f},
                                    {Kind::music_volume, "", 0.1f},
                                    {Kind::effects_volume, "", -0.1f},
                                    {Kind::effects_volume, "", 0.1f},
                                    {Kind::toggle_fullscreen, "", 0}}));
    offline.config.has_audio = offline.config.has_window = false;
    for (Key key : {Key::M, Key::Equals, Key::F11, Key::P})
        EXPECT_TRUE(press(offline, key).empty());
    EXPECT_FALSE(offline.text_entry.active);

    RunState quitting = with_session();
    quitting.mouse_captured = true;
    EXPECT_EQ(press(quitting, Key::Escape), PlatformActions{release}); // the mouse first
    EXPECT_FALSE(quitting.mouse_captured);
    EXPECT_TRUE(quitting.running);
    EXPECT_TRUE(press(quitting, Key::Escape).empty());
    EXPECT_FALSE(quitting.running);
}

TEST(KeyTable, NavigationSelectionWrapsAndNeverSharesOutOfRange) {
    RunState state = with_session();
    press(state, Key::F8);
    EXPECT_EQ(state.navigation_selection, 0u); // empty map: nothing to cycle
    press(state, Key::F9);
    EXPECT_TRUE(state.outbox.empty());
    state.expedition.navigation.resize(3);
    state.expedition.navigation[1].id = 0x1122334455667788ull;
    press(state, Key::F8);
    EXPECT_EQ(state.navigation_selection, 1u);
    press(state, Key::F9);
    EXPECT_EQ(commands(state),
              (std::vector<Bytes>{{7, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}}));
    press(state, Key::F8);
    press(state, Key::F8);
    EXPECT_EQ(state.navigation_selection, 0u);
    // The map shrank below the selection: F9 sends nothing, F8 brings it back in range.
    state.outbox.clear();
    state.navigation_selection = 7;
    press(state, Key::F9);
    EXPECT_TRUE(state.outbox.empty());
    press(state, Key::F8);
    EXPECT_EQ(state.navigation_selection, 2u); // 8 mod 3
}

TEST(KeyTable, ColorCyclesThroughUnlockedColorsAndSavesTheProfile) {
    RunState state = with_session();
    state.profile_path = temp_profile("input_color_profile.bin");
    state.adventure.color_index = 1;
    state.adventure.colors_unlocked = 3;
    press(state, Key::C);
    EXPECT_EQ(state.credentials.color, 2);
    const Bytes saved = file_bytes(state.profile_path);
    ASSERT_EQ(saved.size(), credentials_size);
    EXPECT_EQ(saved[44], 2);
    state.adventure.color_index = 3;
    press(state, Key::C);
    EXPECT_EQ(state.credentials.color, 0); // wraps after the last unlocked colour
    EXPECT_EQ(commands(state), (std::vector<Bytes>{{2, 2}, {2, 0}}));

    RunState offline = with_session(false); // the colour changes, the command stays home
    offline.adventure.colors_unlocked = 4;
    press(offline, Key::C);
    EXPECT_EQ(offline.credentials.color, 1);
    EXPECT_TRUE(offline.outbox.empty());
}

TEST(AudioAction, TogglesAndClampsVolumes) {
    SoundMixer mixer;
    apply_audio_action(mixer, {Kind::toggle_music, "", 0});
    apply_audio_action(mixer, {Kind::toggle_effects, "", 0});
    EXPECT_FALSE(mixer.music_on);
    EXPECT_FALSE(mixer.effects_on);
    apply_audio_action(mixer, {Kind::music_volume, "", 0.1f});
    EXPECT_EQ(mixer.music_volume, 1.0f);
    for (int i = 0; i < 11; ++i) apply_audio_action(mixer, {Kind::effects_volume, "", -0.1f});
    EXPECT_EQ(mixer.effects_volume, 0.0f); // float steps never leave a negative crumb
    apply_audio_action(mixer, {Kind::open_url, "x", 0.5f});
    EXPECT_EQ(mixer.music_volume, 1.0f);
}

TEST(AccountLink, OpensOncePerCooldownOnlyForTheOfficialServer) {
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

    RunState other = with_session();
    other.config.host = "127.0.0.1";
    RunState windowless = with_session();
    windowless.config.has_window = false;
    RunState offline = with_session(false);
    for (RunState* s : {&other, &windowless, &offline}) {
        EXPECT_TRUE(press(*s, Key::F6).empty());
        EXPECT_TRUE(press(*s, Key::F6, 100.0).empty());
        EXPECT_TRUE(s->outbox.empty());
        EXPECT_EQ(s->link_cooldown_until, 0.0);
    }
}

TEST(TextEntry, NameThenPartyJoinsAndSaves) {
    RunState state = with_session();
    state.profile_path = temp_profile("input_prompt_profile.bin");
    state.credentials.name = "SCOUT";
    state.credentials.party = "OLD";
    state.mouse_captured = true;
    EXPECT_EQ(press(state, Key::P), (PlatformActions{release, {Kind::start_text_input, "", 0}}));
    EXPECT_EQ(text_entry_notice(state), "NAME / SCOUT_ / ENTER FOR PARTY");
    handle_text_input(state, "x-9 ");
    EXPECT_EQ(text_entry_notice(state), "NAME / SCOUTX9_ / ENTER FOR PARTY");
    // Every other key is swallowed by the prompt.
    for (Key key : {Key::Digit3, Key::F5, Key::G, Key::P}) press(state, key);
    EXPECT_EQ(state.selected_weapon, 1u);
    EXPECT_EQ(state.panel, Panel::none);
    EXPECT_TRUE(press(state, Key::Return).empty());
    EXPECT_EQ(text_entry_notice(state), "PARTY CODE / OLD_ / ENTER TO JOIN");
    for (int i = 0; i < 4; ++i) press(state, Key::Backspace); // one more than there is
    handle_text_input(state, "crew_7");
    EXPECT_EQ(state.credentials.name, "SCOUT"); // nothing stored before the last Enter
    EXPECT_TRUE(state.outbox.empty());

    EXPECT_EQ(press(state, Key::Return), (PlatformActions{{Kind::stop_text_input, "", 0}}));
    EXPECT_EQ(text_entry_notice(state), "");
    EXPECT_EQ(state.credentials.name, "SCOUTX9");
    EXPECT_EQ(state.credentials.party, "CREW_7");
    EXPECT_EQ(commands(state), std::vector<Bytes>{join_command("SCOUTX9", "CREW_7")});
    const Bytes saved = file_bytes(state.profile_path);
    const Bytes labels = join_command("SCOUTX9", "CREW_7");
    ASSERT_EQ(saved.size(), credentials_size);
    EXPECT_EQ(Bytes(saved.begin() + 16, saved.end() - 1), Bytes(labels.begin() + 1, labels.end()));
}

TEST(TextEntry, EmptyFieldsLimitsRepeatsAndEscape) {
    RunState state = with_session();
    state.credentials.party = "AB";
    press(state, Key::P);
    for (int i = 0; i < 6; ++i) press(state, Key::Backspace, 10.0, true); // held: repeats count
    EXPECT_EQ(text_entry_notice(state), "NAME / _ / ENTER FOR PARTY");
    press(state, Key::Return);
    press(state, Key::Backspace);
    press(state, Key::Backspace, 10.0, true);
    press(state, Key::Return);
    EXPECT_EQ(state.credentials.name, "RANGER");
    EXPECT_EQ(state.credentials.party, "");
    EXPECT_EQ(commands(state), std::vector<Bytes>{join_command("RANGER", "")});

    press(state, Key::P);
    handle_text_input(state, "abcdefghijklmnopqrstuvwxyz"); // appended to RANGER
    EXPECT_EQ(state.text_entry.buffer, "RANGERABCDEFGHIJ");
    press(state, Key::Return);
    handle_text_input(state, "0123456789abcdef");
    EXPECT_EQ(state.text_entry.buffer, "0123456789AB");
    EXPECT_EQ(press(state, Key::Escape), (PlatformActions{{Kind::stop_text_input, "", 0}}));
    EXPECT_FALSE(state.text_entry.active);
    EXPECT_TRUE(state.running);
    EXPECT_EQ(state.credentials.name, "RANGER");
    handle_text_input(state, "Q"); // no prompt: typed text goes nowhere
    EXPECT_EQ(state.text_entry.buffer, "0123456789AB");
}

TEST(Events, FocusMouseCaptureAndTurning) {
    RunState state = with_session();
    handle_focus_gained(state);
    EXPECT_TRUE(state.focused);
    EXPECT_EQ(handle_left_mouse_down(state), (PlatformActions{{Kind::capture_mouse, "", 0}}));
    state.yaw = 65000;
    handle_mouse_motion(state, 30);
    EXPECT_EQ(state.yaw, 65000.0f); // only while captured
    state.mouse_captured = true;
    handle_mouse_motion(state, 30);
    EXPECT_EQ(state.yaw, 304.0f); // 65000 + 840 - 65536
    handle_mouse_motion(state, -20);
    EXPECT_EQ(state.yaw, 65280.0f); // 304 - 560 + 65536
    handle_mouse_motion(state, -0.5f);
    EXPECT_EQ(state.yaw, 65266.0f);
    EXPECT_EQ(handle_focus_lost(state), PlatformActions{release});
    EXPECT_FALSE(state.focused);
    EXPECT_FALSE(state.mouse_captured);

    state.config.hidden = true;
    EXPECT_TRUE(handle_left_mouse_down(state).empty());
    RunState headless = with_session();
    headless.config.has_window = false;
    EXPECT_TRUE(handle_left_mouse_down(headless).empty());
    EXPECT_TRUE(handle_focus_lost(headless).empty());
    handle_quit(state);
    EXPECT_FALSE(state.running);
}

} // namespace
} // namespace kestrel
