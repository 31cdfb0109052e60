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
static_assert(static_cast<int>(Key::Digit1) == 30 && static_cast<int>(Key::Digit9) == 38);
static_assert(static_cast<int>(Key::Digit0) == 39 && static_cast<int>(Key::Return) == 40);
static_assert(static_cast<int>(Key::Escape) == 41 && static_cast<int>(Key::Backspace) == 42);
static_assert(static_cast<int>(Key::Space) == 44 && static_cast<int>(Key::RightBracket) == 48);
static_assert(static_cast<int>(Key::F1) == 58 && static_cast<int>(Key::F12) == 69);
static_assert(static_cast<int>(Key::Right) == 79 && static_cast<int>(Key::Up) == 82);
static_assert(static_cast<int>(Key::LeftCtrl) == 224 && static_cast<int>(Key::LeftShift) == 225);

using Kind = PlatformAction::Kind;

// A windowed run with audio, connected to the official server and admitted.
RunState with_session() {
    RunState state;
    state.config.host = std::string(default_server_host);
    state.config.has_transport = true;
    state.config.has_window = true;
    state.config.has_audio = true;
    state.handoff.session = 0x1234;
    state.focused = true;
    return state;
}

RunState without_session() {
    RunState state = with_session();
    state.handoff.session = 0; // no Welcome yet
    return state;
}

PlatformActions press(RunState& state, Key key, double now = 10.0, bool repeat = false) {
    std::uint32_t next = 0x100; // low bytes 00, 01, 02, ...
    return handle_key_down(state, key, repeat, now, [&] { return next++; });
}

// The one command queued so far, checked for channel 0 and reliability.
Bytes only_command(const RunState& state) {
    EXPECT_EQ(state.outbox.size(), 1u);
    if (state.outbox.size() != 1) return {};
    const Outgoing& out = state.outbox.front();
    EXPECT_EQ(out.type, Type::ClientCommand);
    EXPECT_EQ(out.channel, 0);
    EXPECT_TRUE(out.reliable);
    return out.payload.bytes;
}

Bytes label(std::string text, std::size_t width) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(width, 0);
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
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

TEST(KeyTable, ContractDigitWithSessionPicksContractAndClosesPanel) {
    RunState state = with_session();
    state.panel = Panel::contracts;
    press(state, Key::Digit2);
    EXPECT_EQ(only_command(state), (Bytes{6, 2}));
    EXPECT_EQ(state.panel, Panel::none);
    EXPECT_EQ(state.selected_weapon, 1u);
}

TEST(KeyTable, ContractDigitWithoutSessionSelectsWeapon) {
    RunState state = without_session();
    state.panel = Panel::contracts;
    press(state, Key::Digit2);
    EXPECT_TRUE(state.outbox.empty());
    EXPECT_EQ(state.panel, Panel::contracts);
    EXPECT_EQ(state.selected_weapon, 2u);
}

TEST(KeyTable, UpgradeDigitKeepsPanelOpenAndWeaponUnchanged) {
    RunState state = with_session();
    state.panel = Panel::upgrades;
    press(state, Key::Digit3);
    EXPECT_EQ(only_command(state), (Bytes{12, 3}));
    EXPECT_EQ(state.panel, Panel::upgrades);
    EXPECT_EQ(state.selected_weapon, 1u);

    RunState offline = without_session();
    offline.panel = Panel::upgrades;
    press(offline, Key::Digit3);
    EXPECT_TRUE(offline.outbox.empty());
    EXPECT_EQ(offline.selected_weapon, 3u);
}

TEST(KeyTable, Digit4AlwaysSelectsAndDigit5NeverDoes) {
    RunState state = with_session();
    state.panel = Panel::contracts;
    press(state, Key::Digit4);
    EXPECT_EQ(state.selected_weapon, 4u);
    press(state, Key::Digit5);
    EXPECT_EQ(state.selected_weapon, 4u);
    EXPECT_TRUE(state.outbox.empty());
    EXPECT_EQ(state.panel, Panel::contracts);
}

TEST(KeyTable, ContractRiskKeysSendBitsOnlyInContractsPanel) {
    RunState state = with_session();
    state.panel = Panel::contracts;
    for (Key key : {Key::Digit7, Key::Digit8, Key::Digit9}) press(state, key);
    ASSERT_EQ(state.outbox.size(), 3u);
    EXPECT_EQ(state.outbox[0].payload.bytes, (Bytes{11, 1}));
    EXPECT_EQ(state.outbox[1].payload.bytes, (Bytes{11, 2}));
    EXPECT_EQ(state.outbox[2].payload.bytes, (Bytes{11, 4}));
    EXPECT_EQ(state.panel, Panel::contracts);

    RunState closed = with_session();
    press(closed, Key::Digit7);
    EXPECT_TRUE(closed.outbox.empty());
}

TEST(KeyTable, VoteNeedsAnOpenVoteWithTicksLeft) {
    RunState state = with_session();
    state.expedition.vote_open = true;
    state.expedition.vote_ticks = 240;
    press(state, Key::Y);
    press(state, Key::N);
    ASSERT_EQ(state.outbox.size(), 2u);
    EXPECT_EQ(state.outbox[0].payload.bytes, (Bytes{13, 2}));
    EXPECT_EQ(state.outbox[1].payload.bytes, (Bytes{13, 1}));

    // With the vote run out, N falls through to the effects switch.
    RunState expired = with_session();
    expired.expedition.vote_open = true;
    expired.expedition.vote_ticks = 0;
    EXPECT_EQ(press(expired, Key::N), (PlatformActions{{Kind::toggle_effects, "", 0}}));
    EXPECT_TRUE(expired.outbox.empty());
}

TEST(KeyTable, CrewPanelKeys) {
    RunState state = with_session();
    state.panel = Panel::crew;
    EXPECT_TRUE(press(state, Key::F1).empty()); // no crew code yet: nothing to copy
    for (Key key : {Key::F2, Key::F3, Key::F4}) press(state, key);
    ASSERT_EQ(state.outbox.size(), 3u);
    EXPECT_EQ(state.outbox[0].payload.bytes, (Bytes{8}));
    EXPECT_EQ(state.outbox[1].payload.bytes, (Bytes{9}));
    EXPECT_EQ(state.outbox[2].payload.bytes, (Bytes{10}));

    state.expedition.crew_code = "K7Q2ZX";
    EXPECT_EQ(press(state, Key::F1),
              (PlatformActions{{Kind::set_clipboard, "https://kestrel-game.net/?crew=K7Q2ZX", 0}}));

    RunState offline = without_session();
    offline.panel = Panel::crew;
    offline.expedition.crew_code = "K7Q2ZX";
    EXPECT_TRUE(press(offline, Key::F1).empty());
    press(offline, Key::F2);
    EXPECT_TRUE(offline.outbox.empty());
}

TEST(KeyTable, PanelKeysToggleAndEnterClosesOnlyTheSummary) {
    RunState state = without_session();
    press(state, Key::U);
    EXPECT_EQ(state.panel, Panel::upgrades);
    press(state, Key::F10);
    EXPECT_EQ(state.panel, Panel::crew);
    press(state, Key::F10);
    EXPECT_EQ(state.panel, Panel::none);
    press(state, Key::F5);
    EXPECT_EQ(state.panel, Panel::contracts);
    press(state, Key::F7);
    EXPECT_EQ(state.panel, Panel::navigation);
    press(state, Key::F7);
    EXPECT_EQ(state.panel, Panel::none);
    press(state, Key::U);
    press(state, Key::U);
    EXPECT_EQ(state.panel, Panel::none);

    state.panel = Panel::vote;
    press(state, Key::Return);
    EXPECT_EQ(state.panel, Panel::vote);
    state.panel = Panel::summary;
    press(state, Key::Return);
    EXPECT_EQ(state.panel, Panel::none);
}

TEST(KeyTable, NavigationSelectionWrapsAndSharesTheSelectedId) {
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
    EXPECT_EQ(only_command(state), (Bytes{7, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
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

TEST(KeyTable, PingAndReloadNeedSession) {
    RunState state = with_session();
    press(state, Key::G);
    press(state, Key::R);
    ASSERT_EQ(state.outbox.size(), 2u);
    EXPECT_EQ(state.outbox[0].payload.bytes, (Bytes{3}));
    EXPECT_EQ(state.outbox[1].payload.bytes, (Bytes{4}));

    RunState demo = with_session();
    demo.config.has_transport = false; // a session number alone is not enough
    press(demo, Key::G);
    EXPECT_TRUE(demo.outbox.empty());
}

TEST(KeyTable, ColorCyclesThroughUnlockedColorsAndSavesProfile) {
    RunState state = with_session();
    state.profile_path = temp_profile("input_color_profile.bin");
    state.adventure.color_index = 1;
    state.adventure.colors_unlocked = 3;
    press(state, Key::C);
    EXPECT_EQ(only_command(state), (Bytes{2, 2}));
    EXPECT_EQ(state.credentials.color, 2);
    const Bytes saved = file_bytes(state.profile_path);
    ASSERT_EQ(saved.size(), credentials_size);
    EXPECT_EQ(saved[44], 2);

    state.adventure.color_index = 3;
    press(state, Key::C);
    EXPECT_EQ(state.credentials.color, 0); // wraps after the last unlocked colour
    EXPECT_EQ(state.outbox.back().payload.bytes, (Bytes{2, 0}));

    // Offline the colour still changes; only the command stays home.
    RunState offline = without_session();
    offline.adventure.colors_unlocked = 4;
    press(offline, Key::C);
    EXPECT_EQ(offline.credentials.color, 1);
    EXPECT_TRUE(offline.outbox.empty());
}

TEST(KeyTable, EscapeReleasesTheMouseFirstThenQuits) {
    RunState state = with_session();
    state.mouse_captured = true;
    EXPECT_EQ(press(state, Key::Escape), (PlatformActions{{Kind::release_mouse, "", 0}}));
    EXPECT_FALSE(state.mouse_captured);
    EXPECT_TRUE(state.running);
    EXPECT_TRUE(press(state, Key::Escape).empty());
    EXPECT_FALSE(state.running);
}

TEST(KeyTable, RepeatsAreIgnoredOutsideTextEntry) {
    RunState state = with_session();
    press(state, Key::F5, 10.0, true);
    EXPECT_EQ(state.panel, Panel::none);
    press(state, Key::Digit3, 10.0, true);
    EXPECT_EQ(state.selected_weapon, 1u);
}

TEST(KeyTable, AudioKeysNeedAStream) {
    RunState state = with_session();
    PlatformActions all;
    for (Key key : {Key::M, Key::N, Key::LeftBracket, Key::RightBracket, Key::Minus, Key::Equals})
        for (const PlatformAction& action : press(state, key)) all.push_back(action);
    EXPECT_EQ(all, (PlatformActions{{Kind::toggle_music, "", 0},
                                    {Kind::toggle_effects, "", 0},
                                    {Kind::music_volume, "", -0.1f},
                                    {Kind::music_volume, "", 0.1f},
                                    {Kind::effects_volume, "", -0.1f},
                                    {Kind::effects_volume, "", 0.1f}}));

    state.config.has_audio = false;
    EXPECT_TRUE(press(state, Key::M).empty());
    EXPECT_TRUE(press(state, Key::Equals).empty());
}

TEST(AudioAction, TogglesAndClampsVolumes) {
    SoundMixer mixer;
    apply_audio_action(mixer, {Kind::toggle_music, "", 0});
    apply_audio_action(mixer, {Kind::toggle_effects, "", 0});
    EXPECT_FALSE(mixer.music_on);
    EXPECT_FALSE(mixer.effects_on);
    apply_audio_action(mixer, {Kind::music_volume, "", 0.1f});
    EXPECT_EQ(mixer.music_volume, 1.0f);
    for (int i = 0; i < 10; ++i) apply_audio_action(mixer, {Kind::effects_volume, "", -0.1f});
    EXPECT_EQ(mixer.effects_volume, 0.0f); // float steps never leave a negative crumb
    apply_audio_action(mixer, {Kind::effects_volume, "", -0.1f});
    EXPECT_EQ(mixer.effects_volume, 0.0f);
    apply_audio_action(mixer, {Kind::open_url, "x", 0.5f});
    EXPECT_EQ(mixer.music_volume, 1.0f);
}

TEST(KeyTable, FullscreenNeedsAWindow) {
    RunState state = with_session();
    EXPECT_EQ(press(state, Key::F11), (PlatformActions{{Kind::toggle_fullscreen, "", 0}}));
    state.config.has_window = false;
    EXPECT_TRUE(press(state, Key::F11).empty());
}

TEST(AccountLink, OpensOncePerCooldownWithFreshCode) {
    RunState state = with_session();
    state.mouse_captured = true;
    const PlatformActions first = press(state, Key::F6, 10.0);
    EXPECT_EQ(first, (PlatformActions{{Kind::release_mouse, "", 0},
                                      {Kind::open_url,
                                       "https://kestrel-game.net/#link="
                                       "000102030405060708090a0b0c0d0e0f",
                                       0}}));
    EXPECT_FALSE(state.mouse_captured);
    EXPECT_EQ(only_command(state),
              (Bytes{5, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(state.credentials.token, (std::array<std::uint8_t, 16>{})); // own token untouched

    EXPECT_TRUE(press(state, Key::F6, 15.9).empty());
    EXPECT_EQ(state.outbox.size(), 1u);
    EXPECT_EQ(press(state, Key::F6, 16.0).size(), 2u);
    EXPECT_EQ(state.outbox.size(), 2u);
}

TEST(AccountLink, OnlyForTheOfficialServerWithSessionAndWindow) {
    RunState other = with_session();
    other.config.host = "127.0.0.1";
    EXPECT_TRUE(press(other, Key::F6).empty());
    EXPECT_TRUE(press(other, Key::F6, 100.0).empty());
    EXPECT_TRUE(other.outbox.empty());

    RunState offline = without_session();
    EXPECT_TRUE(press(offline, Key::F6).empty());

    RunState windowless = with_session();
    windowless.config.has_window = false;
    EXPECT_TRUE(press(windowless, Key::F6).empty());
    EXPECT_TRUE(windowless.outbox.empty());
    EXPECT_EQ(windowless.link_cooldown_until, 0.0);
}

TEST(TextEntry, NameThenPartyJoinsAndSaves) {
    RunState state = with_session();
    state.profile_path = temp_profile("input_prompt_profile.bin");
    state.credentials.name = "SCOUT";
    state.credentials.party = "OLD";
    state.mouse_captured = true;

    EXPECT_EQ(press(state, Key::P),
              (PlatformActions{{Kind::release_mouse, "", 0}, {Kind::start_text_input, "", 0}}));
    EXPECT_FALSE(state.mouse_captured);
    EXPECT_EQ(text_entry_notice(state), "NAME / SCOUT_ / ENTER FOR PARTY");

    handle_text_input(state, "x-9 ");
    EXPECT_EQ(text_entry_notice(state), "NAME / SCOUTX9_ / ENTER FOR PARTY");
    EXPECT_TRUE(press(state, Key::Return).empty());
    EXPECT_EQ(text_entry_notice(state), "PARTY CODE / OLD_ / ENTER TO JOIN");
    press(state, Key::Backspace);
    press(state, Key::Backspace);
    press(state, Key::Backspace);
    press(state, Key::Backspace); // nothing left to delete
    handle_text_input(state, "crew_7");
    EXPECT_EQ(state.credentials.name, "SCOUT"); // nothing stored before the last Enter

    EXPECT_EQ(press(state, Key::Return), (PlatformActions{{Kind::stop_text_input, "", 0}}));
    EXPECT_FALSE(state.text_entry.active);
    EXPECT_EQ(text_entry_notice(state), "");
    EXPECT_EQ(state.credentials.name, "SCOUTX9");
    EXPECT_EQ(state.credentials.party, "CREW_7");
    EXPECT_EQ(only_command(state), concat({{1}, label("SCOUTX9", 16), label("CREW_7", 12)}));
    const Bytes saved = file_bytes(state.profile_path);
    ASSERT_EQ(saved.size(), credentials_size);
    EXPECT_EQ(Bytes(saved.begin() + 16, saved.begin() + 44),
              concat({label("SCOUTX9", 16), label("CREW_7", 12)}));
}

TEST(TextEntry, EmptyNameBecomesRangerAndEmptyPartyStillJoins) {
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
    EXPECT_EQ(only_command(state), concat({{1}, label("RANGER", 16), Bytes(12, 0)}));
}

TEST(TextEntry, FieldsAreCutAtTheirLimits) {
    RunState state = with_session();
    press(state, Key::P);
    handle_text_input(state, "abcdefghijklmnopqrstuvwxyz"); // appended to RANGER
    EXPECT_EQ(state.text_entry.buffer, "RANGERABCDEFGHIJ");
    press(state, Key::Return);
    handle_text_input(state, "0123456789abcdef");
    EXPECT_EQ(state.text_entry.buffer, "0123456789AB");
}

TEST(TextEntry, EscapeCancelsAndEveryKeyIsSwallowed) {
    RunState state = with_session();
    press(state, Key::P);
    handle_text_input(state, "Z");
    press(state, Key::Digit3);
    press(state, Key::F5);
    press(state, Key::G);
    press(state, Key::P);
    EXPECT_EQ(state.selected_weapon, 1u);
    EXPECT_EQ(state.panel, Panel::none);
    EXPECT_TRUE(state.outbox.empty());
    EXPECT_EQ(state.text_entry.buffer, "RANGERZ");

    EXPECT_EQ(press(state, Key::Escape), (PlatformActions{{Kind::stop_text_input, "", 0}}));
    EXPECT_FALSE(state.text_entry.active);
    EXPECT_TRUE(state.running);
    EXPECT_EQ(state.credentials.name, "RANGER");

    handle_text_input(state, "Q"); // no prompt: typed text goes nowhere
    EXPECT_EQ(state.text_entry.buffer, "RANGERZ");
}

TEST(TextEntry, NeedsAWindow) {
    RunState state = with_session();
    state.config.has_window = false;
    EXPECT_TRUE(press(state, Key::P).empty());
    EXPECT_FALSE(state.text_entry.active);
}

TEST(Events, FocusAndMouseCapture) {
    RunState state = with_session();
    handle_focus_gained(state);
    EXPECT_TRUE(state.focused);
    EXPECT_EQ(handle_left_mouse_down(state), (PlatformActions{{Kind::capture_mouse, "", 0}}));

    state.mouse_captured = true;
    EXPECT_EQ(handle_focus_lost(state), (PlatformActions{{Kind::release_mouse, "", 0}}));
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

TEST(Events, MouseMotionTurnsOnlyWhileCaptured) {
    RunState state = with_session();
    state.yaw = 65000;
    handle_mouse_motion(state, 30);
    EXPECT_EQ(state.yaw, 65000.0f);

    state.mouse_captured = true;
    handle_mouse_motion(state, 30);
    EXPECT_EQ(state.yaw, 304.0f); // 65000 + 840 - 65536
    handle_mouse_motion(state, -20);
    EXPECT_EQ(state.yaw, 65280.0f); // 304 - 560 + 65536
    handle_mouse_motion(state, -0.5f);
    EXPECT_EQ(state.yaw, 65266.0f);
}

} // namespace
} // namespace kestrel
