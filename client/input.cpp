#include "client/input.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

#include "client/defaults.h"
#include "client/profile.h"
#include "protocol/credentials.h"
#include "protocol/label.h"
#include "world/movement.h"

namespace kestrel {
namespace {

constexpr double tick_seconds = 1.0 / 30.0;
constexpr std::uint32_t max_ticks_per_frame = 4;
constexpr double input_silence = 2.0;     // seconds without a snapshot before input stops
constexpr double link_cooldown = 6.0;     // seconds between two account links
constexpr float mouse_yaw_per_pixel = 28; // 1/65536 turn
constexpr double arrow_yaw_per_second = 10000;
constexpr float close_combat_squared = 6.25f; // 2.5 cells: aim directly instead of walking
constexpr std::uint8_t enemy_kind = 2;
constexpr int shot_effect = 13;

constexpr std::uint16_t fire = 0x10;
constexpr std::uint16_t alt_fire = 0x20;
constexpr std::uint16_t use = 0x800;
constexpr std::uint16_t choice_shift = 12; // reward-cache choice 1..4 in bits 12..14

struct Weapon {
    std::uint16_t cost; // ammunition per shot
    double refire;      // seconds between shots
};
constexpr std::array<Weapon, 4> weapons{{{1, 0.2}, {2, 0.8}, {5, 1.0}, {30, 1.5}}};

// A heading taken modulo one turn into [0, 65536). The guard catches a tiny negative value
// that rounds up to a whole turn when it is brought back into range.
float wrap_yaw(double yaw) {
    double wrapped = std::fmod(yaw, 65536.0);
    if (wrapped < 0) wrapped += 65536.0;
    const auto narrow = static_cast<float>(wrapped);
    return narrow >= 65536.0f ? 0.0f : narrow;
}

// 1..9 for the digit keys 1..9, 0 for every other key.
int digit_of(Key key) {
    const auto code = static_cast<int>(key);
    const auto first = static_cast<int>(Key::Digit1);
    return code >= first && code <= static_cast<int>(Key::Digit9) ? code - first + 1 : 0;
}

PlatformAction act(PlatformAction::Kind kind, std::string text = {}, float step = 0) {
    return PlatformAction{kind, std::move(text), step};
}

void toggle(Panel& panel, Panel which) {
    panel = panel == which ? Panel::none : which;
}

Writer command_payload(std::uint8_t code) {
    Writer out;
    out.u8(code);
    return out;
}

// Every ClientCommand goes out on channel 0, reliably, and only once the Welcome has given
// the client a session; before that the server would drop it anyway.
void queue_command(RunState& state, Writer payload) {
    if (!state.has_session()) return;
    state.outbox.push_back(Outgoing{Type::ClientCommand, std::move(payload), 0, true});
}

void queue_byte_command(RunState& state, std::uint8_t code, std::uint8_t argument) {
    Writer out = command_payload(code);
    out.u8(argument);
    queue_command(state, std::move(out));
}

void stop_text_entry(RunState& state, PlatformActions& actions) {
    actions.push_back(act(PlatformAction::Kind::stop_text_input));
    state.text_entry.active = false;
}

void start_text_entry(RunState& state, PlatformActions& actions) {
    TextEntry& entry = state.text_entry;
    entry.buffer = state.credentials.name;
    actions.push_back(act(PlatformAction::Kind::release_mouse));
    state.mouse_captured = false;
    entry.field = TextEntry::Field::name;
    actions.push_back(act(PlatformAction::Kind::start_text_input));
    entry.active = true;
}

// While a prompt is open every key belongs to it, repeats included (so a held Backspace
// keeps deleting).
void text_entry_key(RunState& state, Key key, PlatformActions& actions) {
    TextEntry& entry = state.text_entry;
    if (key == Key::Backspace) {
        if (!entry.buffer.empty()) entry.buffer.pop_back();
    } else if (key == Key::Return && entry.field == TextEntry::Field::name) {
        entry.pending_name = entry.buffer.empty() ? "RANGER" : entry.buffer;
        entry.buffer = state.credentials.party;
        entry.field = TextEntry::Field::party;
    } else if (key == Key::Return) {
        Credentials next = state.credentials;
        next.name = entry.pending_name;
        next.party = entry.buffer;
        save_profile(state.profile_path, next);
        state.credentials = std::move(next);
        send_command(state, command::join_party);
        stop_text_entry(state, actions);
    } else if (key == Key::Escape) {
        stop_text_entry(state, actions);
    }
}

// F6: hands the browser a one-time code that ties this profile to a web account. Only the
// official server knows such codes; the cooldown keeps repeated presses from flooding the
// server and the site with them.
void account_link(RunState& state, double now, const RandomDraw& draw, PlatformActions& actions) {
    if (!state.has_session() || state.config.host != default_server_host ||
        now < state.link_cooldown_until)
        return;
    Credentials link; // defaults except the token
    for (std::uint8_t& byte : link.token) byte = static_cast<std::uint8_t>(draw() & 0xFF);

    Writer out = command_payload(command::account_link);
    out.append(link.token);
    queue_command(state, std::move(out));

    actions.push_back(act(PlatformAction::Kind::release_mouse));
    state.mouse_captured = false;
    actions.push_back(
        act(PlatformAction::Kind::open_url, std::string(web_site) + "/#link=" + link.key()));
    state.link_cooldown_until = now + link_cooldown;
}

// C: the next unlocked suit colour, wrapping to the first.
void next_color(RunState& state) {
    const auto color = static_cast<std::uint8_t>((state.adventure.color_index + 1) %
                                                 (state.adventure.colors_unlocked + 1));
    Credentials next = state.credentials;
    next.color = color;
    save_profile(state.profile_path, next);
    state.credentials = std::move(next);
    send_command(state, command::color, color);
}

// The key table. Rows are tried in order; a row that acts returns, which is how it keeps
// the key from the rows below (a contracts digit must not also switch weapons).
void game_key(RunState& state, Key key, double now, const RandomDraw& draw,
              PlatformActions& actions) {
    const bool session = state.has_session();
    const bool window = state.config.has_window;
    const ExpeditionState& expedition = state.expedition;
    const int digit = digit_of(key);
    const bool digit_1_to_3 = digit >= 1 && digit <= 3;

    if (key == Key::U) return toggle(state.panel, Panel::upgrades);
    if ((key == Key::Y || key == Key::N) && session && expedition.vote_open &&
        expedition.vote_ticks != 0)
        return queue_byte_command(state, command::vote, key == Key::Y ? 2 : 1);
    if (digit_1_to_3 && state.panel == Panel::upgrades && session)
        return queue_byte_command(state, command::upgrade, static_cast<std::uint8_t>(digit));
    if (key == Key::F10) return toggle(state.panel, Panel::crew);
    if (session && state.panel == Panel::contracts && digit >= 7) {
        const std::uint8_t risk = digit == 7 ? 1 : digit == 8 ? 2 : 4;
        return queue_byte_command(state, command::contract_risk, risk);
    }
    if (session && state.panel == Panel::crew) {
        if (key == Key::F2) return queue_command(state, command_payload(command::crew_first));
        if (key == Key::F3) return queue_command(state, command_payload(command::crew_second));
        if (key == Key::F4) return queue_command(state, command_payload(command::crew_third));
        if (key == Key::F1 && !expedition.crew_code.empty()) {
            actions.push_back(act(PlatformAction::Kind::set_clipboard,
                                  std::string(web_site) + "/?crew=" + expedition.crew_code));
            return;
        }
    }
    if (key == Key::F5) return toggle(state.panel, Panel::contracts);
    if (key == Key::F7) return toggle(state.panel, Panel::navigation);
    if (key == Key::F8) {
        const std::size_t count = expedition.navigation.size();
        if (count != 0) {
            std::size_t next = state.navigation_selection + 1;
            if (next >= count) next %= count;
            state.navigation_selection = next;
        }
        return;
    }
    if (key == Key::F9) {
        if (session && state.navigation_selection < expedition.navigation.size()) {
            const std::uint64_t id = expedition.navigation[state.navigation_selection].id;
            Writer out = command_payload(command::share_destination);
            out.u32(static_cast<std::uint32_t>(id));
            out.u32(static_cast<std::uint32_t>(id >> 32));
            queue_command(state, std::move(out));
        }
        return;
    }
    if (key == Key::Return && state.panel == Panel::summary) {
        state.panel = Panel::none;
        return;
    }
    if (digit_1_to_3 && state.panel == Panel::contracts && session) {
        queue_byte_command(state, command::contract, static_cast<std::uint8_t>(digit));
        state.panel = Panel::none;
        return;
    }
    if (key == Key::F6 && window) return account_link(state, now, draw, actions);

    // G, R and C act and still fall through; no row below reads them.
    if (key == Key::G) queue_command(state, command_payload(command::ping));
    if (key == Key::R) queue_command(state, command_payload(command::reload));
    if (key == Key::C) next_color(state);

    if (key == Key::Escape) {
        if (state.mouse_captured) {
            actions.push_back(act(PlatformAction::Kind::release_mouse));
            state.mouse_captured = false;
        } else {
            state.running = false;
        }
        return;
    }
    if (key == Key::P && window) return start_text_entry(state, actions);
    if (digit >= 1 && digit <= 4) {
        state.selected_weapon = static_cast<std::uint32_t>(digit);
        return;
    }
    if (state.config.has_audio) {
        using Kind = PlatformAction::Kind;
        const auto audio = [&](Kind kind, float step) { actions.push_back(act(kind, {}, step)); };
        switch (key) {
        case Key::M:
            return audio(Kind::toggle_music, 0);
        case Key::N:
            return audio(Kind::toggle_effects, 0);
        case Key::LeftBracket:
            return audio(Kind::music_volume, -0.1f);
        case Key::RightBracket:
            return audio(Kind::music_volume, 0.1f);
        case Key::Minus:
            return audio(Kind::effects_volume, -0.1f);
        case Key::Equals:
            return audio(Kind::effects_volume, 0.1f);
        default:
            break;
        }
    }
    if (key == Key::F11 && window) actions.push_back(act(PlatformAction::Kind::toggle_fullscreen));
}

float clamp_volume(float volume) {
    if (volume < 0.0f) return 0.0f;
    return std::min(volume, 1.0f);
}

// Automated combat: the nearest living enemy. Close enough, aim straight at it; otherwise
// walk the grid toward its cell with the approach flag raised (forward and run).
void steer_combat(RunState& state, double now, const Grid& grid) {
    const Player& me = state.prediction.predicted();
    const float px = static_cast<float>(me.x) / 65536.0f;
    const float py = static_cast<float>(me.y) / 65536.0f;
    const std::vector<DrawEntity> entities = state.remotes.sample(now);
    const DrawEntity* target = nullptr;
    float best = std::numeric_limits<float>::infinity();
    for (const DrawEntity& entity : entities) {
        if (entity.kind != enemy_kind || entity.health == 0) continue;
        const float dx = entity.x - px;
        const float dy = entity.y - py;
        const float squared = dx * dx + dy * dy;
        if (squared < best) best = squared, target = &entity; // ties keep the earlier one
    }
    if (!target) {
        state.approach = false;
        return;
    }
    if (best <= close_combat_squared) {
        const float angle = std::atan2(target->y - py, target->x - px);
        state.yaw = wrap_yaw(angle * 65536.0f / 6.2831855f);
        state.approach = false;
        return;
    }
    const auto cell =
        static_cast<std::uint16_t>(static_cast<int>(target->x) + 32 * static_cast<int>(target->y));
    state.approach = true;
    if (const auto yaw = navigation_yaw(grid, me.x, me.y, cell)) state.yaw = *yaw;
}

// Ammunition and the server's reload flag are checked so the sound only plays for a shot
// the server will most likely fire too; the server alone decides hits and ammunition.
void shot_feedback(RunState& state, double now, std::uint16_t buttons) {
    if (state.selected_weapon < 1 || state.selected_weapon > weapons.size()) return;
    const Weapon& weapon = weapons[state.selected_weapon - 1];
    const bool alt = (buttons & alt_fire) != 0 && state.selected_weapon != 4;
    const Player& me = state.prediction.predicted();
    const std::uint32_t cost = alt ? 2u * weapon.cost : weapon.cost;
    if ((buttons & (fire | alt_fire)) == 0 || state.adventure.reload != 0 || me.health == 0 ||
        me.ammo < cost || now < state.next_shot_time)
        return;
    state.sounds.push_back(SoundCue{shot_effect, static_cast<int>(state.selected_weapon)});
    state.next_shot_time = now + (alt ? 2 * weapon.refire : weapon.refire);
    if (me.boost == 1 && me.boost_ticks != 0)
        state.next_shot_time = now + (state.next_shot_time - now) * 0.5;
    state.last_shot_time = now;
}

// InputCommands payload, channel 1, unreliable; every packet repeats the last three
// commands so one lost packet costs nothing:
//
//   offset  size  field
//        0     4  count n (1..3)
//   4+12i      4  sequence
//   8+12i      4  tick
//  12+12i      2  buttons
//  14+12i      2  yaw
//
// oldest command first; 4 + 12n bytes.
Writer input_commands(const std::deque<Input>& history) {
    Writer out;
    out.u32(static_cast<std::uint32_t>(history.size()));
    for (const Input& input : history) {
        out.u32(input.sequence);
        out.u32(input.tick);
        out.u16(input.buttons);
        out.u16(input.yaw);
    }
    return out;
}

} // namespace

// ClientCommand payload, channel 0, reliable: the command code byte, then
//
//   code 1: name[16] party[12]   labels, zero-padded
//   code 2: colour u8
//
// (the other codes are built where their keys are handled).
void send_command(RunState& state, std::uint8_t code, std::uint8_t argument) {
    Writer out = command_payload(code);
    if (code == command::join_party) {
        write_label(out, state.credentials.name, max_name_length);
        write_label(out, state.credentials.party, max_party_length);
    } else if (code == command::color) {
        out.u8(argument);
    }
    queue_command(state, std::move(out));
}

void handle_quit(RunState& state) {
    state.running = false;
}

void handle_focus_gained(RunState& state) {
    state.focused = true;
}

PlatformActions handle_focus_lost(RunState& state) {
    PlatformActions actions;
    if (state.config.has_window) actions.push_back(act(PlatformAction::Kind::release_mouse));
    state.focused = false;
    state.mouse_captured = false;
    return actions;
}

PlatformActions handle_left_mouse_down(const RunState& state) {
    if (!state.config.has_window || state.config.hidden) return {};
    return {act(PlatformAction::Kind::capture_mouse)};
}

void handle_mouse_motion(RunState& state, float dx) {
    if (!state.mouse_captured) return;
    state.yaw = wrap_yaw(state.yaw + mouse_yaw_per_pixel * dx);
}

void handle_text_input(RunState& state, std::string_view text) {
    TextEntry& entry = state.text_entry;
    if (!entry.active) return;
    const std::size_t limit =
        entry.field == TextEntry::Field::name ? max_name_length : max_party_length;
    entry.buffer = filter_label(entry.buffer + std::string(text), limit);
}

PlatformActions handle_key_down(RunState& state, Key key, bool repeat, double now,
                                const RandomDraw& draw) {
    PlatformActions actions;
    if (state.text_entry.active)
        text_entry_key(state, key, actions);
    else if (!repeat)
        game_key(state, key, now, draw, actions);
    return actions;
}

PlatformActions handle_key_down(RunState& state, Key key, bool repeat, double now) {
    static std::random_device device;
    return handle_key_down(state, key, repeat, now, [] { return device(); });
}

void apply_audio_action(SoundMixer& mixer, const PlatformAction& action) {
    switch (action.kind) {
    case PlatformAction::Kind::toggle_music:
        mixer.music_on = !mixer.music_on;
        break;
    case PlatformAction::Kind::toggle_effects:
        mixer.effects_on = !mixer.effects_on;
        break;
    case PlatformAction::Kind::music_volume:
        mixer.music_volume = clamp_volume(mixer.music_volume + action.step);
        break;
    case PlatformAction::Kind::effects_volume:
        mixer.effects_volume = clamp_volume(mixer.effects_volume + action.step);
        break;
    default:
        break;
    }
}

std::string text_entry_notice(const RunState& state) {
    const TextEntry& entry = state.text_entry;
    if (!entry.active) return {};
    if (entry.field == TextEntry::Field::name)
        return "NAME / " + entry.buffer + "_ / ENTER FOR PARTY";
    return "PARTY CODE / " + entry.buffer + "_ / ENTER TO JOIN";
}

void steer(RunState& state, double now, double dt, const KeyState& keys) {
    if (!state.in_game()) return;
    const Sector& sector = *state.handoff.committed;
    if (state.config.auto_portal) {
        const auto portal = std::find_if(sector.portals.begin(), sector.portals.end(),
                                         [](const Portal& p) { return p.id == 1; });
        if (portal == sector.portals.end()) return;
        const Player& me = state.prediction.predicted();
        if (const auto yaw = navigation_yaw(sector.collision(false), me.x, me.y, portal->cell))
            state.yaw = *yaw;
        return;
    }
    if (state.config.auto_combat) return steer_combat(state, now, sector.collision(false));
    if (!state.focused || state.text_entry.active) return;
    const int turn = int{keys.held(Key::Right)} - int{keys.held(Key::Left)};
    state.yaw = wrap_yaw(state.yaw + turn * dt * arrow_yaw_per_second);
}

std::uint16_t tick_buttons(const RunState& state, const KeyState& keys) {
    if (state.config.auto_portal) return button::forward | button::run;
    if (state.config.auto_combat)
        return state.approach ? button::forward | button::run | fire : fire;
    if (!state.focused) return 0;

    const bool mouse = state.mouse_captured;
    std::uint16_t buttons = 0;
    const auto set = [&](bool held, std::uint16_t bit) {
        if (held) buttons |= bit;
    };
    set(keys.held(Key::W), button::forward);
    set(keys.held(Key::S), button::backward);
    set(keys.held(Key::A), button::strafe_left);
    set(keys.held(Key::D), button::strafe_right);
    set(keys.held(Key::Space) || keys.held(Key::LeftCtrl) || (mouse && keys.left_mouse), fire);
    set(keys.held(Key::X) || (mouse && keys.right_mouse), alt_fire);
    set(keys.held(Key::LeftShift), button::run);
    set(keys.held(Key::Q), button::dash);
    set(keys.held(Key::E), use);
    if (state.panel == Panel::none) {
        std::uint16_t choice = 0;
        if (keys.held(Key::F1))
            choice = 1;
        else if (keys.held(Key::F2))
            choice = 2;
        else if (keys.held(Key::F3))
            choice = 3;
        else if (keys.held(Key::F4))
            choice = 4;
        buttons |= static_cast<std::uint16_t>(choice << choice_shift);
    }
    return buttons;
}

void run_input_tick(RunState& state, double now, std::uint32_t tick_base,
                    std::uint32_t latency_ticks, const KeyState& keys) {
    if (!state.handoff.committed) return;
    if ((now - state.last_snapshot_time >= input_silence && !state.config.demo) ||
        state.input_paused)
        return;

    // Stamps strictly increase even when two ticks of one frame share a tick_base or the
    // base falls back after a late snapshot.
    std::uint32_t t = tick_base + latency_ticks;
    if (state.last_tick != 0) {
        if (static_cast<std::int32_t>(t - state.last_tick) < 0) t = state.last_tick + 1;
        if (t == state.last_tick) t = state.last_tick + 1;
    }

    const std::uint16_t buttons = tick_buttons(state, keys);
    Input input;
    input.sequence = state.last_sequence + 1;
    input.tick = t;
    input.buttons = static_cast<std::uint16_t>(buttons + state.selected_weapon * 128);
    input.yaw = static_cast<std::uint16_t>(static_cast<std::uint32_t>(state.yaw));
    if (!state.prediction.step(input, state.handoff.committed->collision(false))) return;

    state.input_history.push_back(input);
    while (state.input_history.size() > 3) state.input_history.pop_front();

    const std::uint32_t drop_every = state.config.drop_every;
    if (state.config.has_transport && (drop_every == 0 || input.sequence % drop_every != 0))
        state.outbox.push_back(
            Outgoing{Type::InputCommands, input_commands(state.input_history), 1, false});

    shot_feedback(state, now, input.buttons);
    state.last_tick = t;
    state.last_sequence = input.sequence;
}

void run_input_ticks(RunState& state, double now, const KeyState& keys) {
    if (!state.in_game()) {
        state.next_tick_time = now;
        return;
    }
    if (now < state.next_tick_time) return;

    const double silence = std::max(0.0, now - state.last_snapshot_time);
    const auto tick_base = state.server_tick_base + 2 +
                           static_cast<std::uint32_t>(static_cast<std::uint64_t>(30 * silence));
    const auto latency_ticks =
        static_cast<std::uint32_t>((std::uint64_t{state.config.latency_ms} * 30 + 999) / 1000);

    for (std::uint32_t ran = 0;; ++ran) {
        if (ran == max_ticks_per_frame) {
            state.next_tick_time = now + tick_seconds;
            return;
        }
        run_input_tick(state, now, tick_base, latency_ticks, keys);
        state.next_tick_time += tick_seconds;
        if (state.next_tick_time > now) return;
    }
}

} // namespace kestrel
