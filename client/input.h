// Player input, client commands and automated play.
//
// Everything here is a plain function of the run state and one event or one frame's held
// keys. Packets go to RunState::outbox and sounds to RunState::sounds; whatever needs the
// platform (mouse mode, text input, clipboard, browser, fullscreen, the mixer behind the
// audio stream lock) comes back as PlatformActions for the main loop to carry out in order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/keys.h"
#include "client/run_state.h"
#include "sound/sound_mixer.h"

namespace kestrel {

struct PlatformAction {
    enum class Kind : std::uint8_t {
        capture_mouse, // relative mouse mode on; the main loop stores the outcome in mouse_captured
        release_mouse, // relative mouse mode off
        start_text_input,
        stop_text_input,
        set_clipboard, // text
        open_url,      // text
        toggle_fullscreen,
        // Mixer settings, applied with apply_audio_action under the audio stream lock.
        toggle_music,
        toggle_effects,
        music_volume,   // by step
        effects_volume, // by step
    };

    Kind kind{};
    std::string text;
    float step = 0;

    friend bool operator==(const PlatformAction&, const PlatformAction&) = default;
};

using PlatformActions = std::vector<PlatformAction>;

// One draw of a random source; the low 8 bits make one byte of a link code. The main loop
// passes the standard random device, tests a fixed sequence.
using RandomDraw = std::function<std::uint32_t()>;

// ClientCommand payload (channel 0, reliable): one code byte, then that code's arguments as
// listed here, multi-byte values little-endian, labels zero-padded to their width.
namespace command {
inline constexpr std::uint8_t join_party = 1;        // name[16] party[12]
inline constexpr std::uint8_t color = 2;             // colour index
inline constexpr std::uint8_t ping = 3;              // no arguments
inline constexpr std::uint8_t reload = 4;            // no arguments
inline constexpr std::uint8_t account_link = 5;      // link code[16]
inline constexpr std::uint8_t contract = 6;          // digit 1..3
inline constexpr std::uint8_t share_destination = 7; // NavSector id: u32 low, u32 high
inline constexpr std::uint8_t crew_first = 8;        // no arguments; the crew panel's F2
inline constexpr std::uint8_t crew_second = 9;       // no arguments; F3
inline constexpr std::uint8_t crew_third = 10;       // no arguments; F4
inline constexpr std::uint8_t contract_risk = 11;    // risk bit 1, 2 or 4
inline constexpr std::uint8_t upgrade = 12;          // digit 1..3
inline constexpr std::uint8_t vote = 13;             // 2 for Y, 1 for N
} // namespace command

// Queues ClientCommand 1 (name and party from the credentials) or 2 (argument = colour) on
// channel 0, reliably. Does nothing without a session.
void send_command(RunState& state, std::uint8_t code, std::uint8_t argument = 0);

// --- Platform events ---------------------------------------------------------------------

void handle_quit(RunState& state);
void handle_focus_gained(RunState& state);
PlatformActions handle_focus_lost(RunState& state);
PlatformActions handle_left_mouse_down(const RunState& state);
// dx: horizontal relative motion in pixels. Ignored unless the mouse is captured.
void handle_mouse_motion(RunState& state, float dx);
// Typed text; only the name and party prompts take it.
void handle_text_input(RunState& state, std::string_view text);
// A key press. Repeats count only while a prompt is open. now is the run clock (the account
// link cooldown), draw the source of link codes.
PlatformActions handle_key_down(RunState& state, Key key, bool repeat, double now,
                                const RandomDraw& draw);
// The same with the standard random device as the source of link codes.
PlatformActions handle_key_down(RunState& state, Key key, bool repeat, double now);

// Carries out one of the mixer kinds; the caller holds the audio stream lock. Other kinds
// are left alone.
void apply_audio_action(SoundMixer& mixer, const PlatformAction& action);

// The mid-screen prompt while text entry is active, else empty.
std::string text_entry_notice(const RunState& state);

// --- Per frame -----------------------------------------------------------------------------

// Turns the view once per frame while in game: automation, or the arrow keys. dt is the
// frame time in seconds as the main loop limits it.
void steer(RunState& state, double now, double dt, const KeyState& keys);

// The buttons of an input tick, before the selected weapon is added.
std::uint16_t tick_buttons(const RunState& state, const KeyState& keys);

// One input tick: stamps, predicts and sends one command and predicts the shot feedback.
void run_input_tick(RunState& state, double now, std::uint32_t tick_base,
                    std::uint32_t latency_ticks, const KeyState& keys);

// The 30 Hz schedule: runs the due input ticks of this frame (at most four, after which the
// schedule restarts from now instead of catching up). Out of game it only keeps the
// schedule at now, so play starts with a tick.
void run_input_ticks(RunState& state, double now, const KeyState& keys);

} // namespace kestrel
