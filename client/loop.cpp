#include "client/loop.h"

namespace kestrel {
namespace {

void drain_events(RunState& state, SDL_Window* window, Audio* audio, double now) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_EVENT_QUIT:
            handle_quit(state);
            break;
        case SDL_EVENT_WINDOW_FOCUS_GAINED:
            handle_focus_gained(state);
            break;
        case SDL_EVENT_WINDOW_FOCUS_LOST:
            perform(state, window, audio, handle_focus_lost(state));
            break;
        case SDL_EVENT_MOUSE_BUTTON_DOWN:
            if (event.button.button == SDL_BUTTON_LEFT)
                perform(state, window, audio, handle_left_mouse_down(state));
            break;
        case SDL_EVENT_MOUSE_MOTION:
            handle_mouse_motion(state, event.motion.xrel);
            break;
        case SDL_EVENT_TEXT_INPUT:
            handle_text_input(state, event.text.text);
            break;
        case SDL_EVENT_KEY_DOWN:
            perform(state, window, audio,
                    handle_key_down(state, static_cast<Key>(event.key.scancode), event.key.repeat,
                                    now));
            break;
        default:
            break;
        }
    }
}

} // namespace

std::uint32_t pacing_delay_ms(const RunConfig& config) {
    if (config.headless) return 1;
    return config.hidden ? 8 : 0;
}

void perform(RunState& state, SDL_Window* window, Audio* audio, const PlatformActions& actions) {
    for (const PlatformAction& action : actions) {
        switch (action.kind) {
        case PlatformAction::Kind::capture_mouse:
            state.mouse_captured =
                window != nullptr && SDL_SetWindowRelativeMouseMode(window, true);
            break;
        case PlatformAction::Kind::release_mouse:
            if (window != nullptr) SDL_SetWindowRelativeMouseMode(window, false);
            break;
        case PlatformAction::Kind::start_text_input:
            if (window != nullptr) SDL_StartTextInput(window);
            break;
        case PlatformAction::Kind::stop_text_input:
            if (window != nullptr) SDL_StopTextInput(window);
            break;
        case PlatformAction::Kind::set_clipboard:
            SDL_SetClipboardText(action.text.c_str());
            break;
        case PlatformAction::Kind::open_url:
            SDL_OpenURL(action.text.c_str());
            break;
        case PlatformAction::Kind::toggle_fullscreen:
            if (window != nullptr) {
                const bool fullscreen = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0;
                SDL_SetWindowFullscreen(window, !fullscreen);
            }
            break;
        case PlatformAction::Kind::toggle_music:
        case PlatformAction::Kind::toggle_effects:
        case PlatformAction::Kind::music_volume:
        case PlatformAction::Kind::effects_volume:
            if (audio != nullptr)
                audio->with_mixer([&](SoundMixer& mixer) { apply_audio_action(mixer, action); });
            break;
        }
    }
}

void flush_effects(RunState& state, Network* network, Audio* audio) {
    for (const Outgoing& message : state.outbox) {
        if (network != nullptr)
            network->send(message.type, message.payload, state.handoff, message.channel,
                          message.reliable);
    }
    state.outbox.clear();
    if (audio != nullptr && audio->stream != nullptr && !state.sounds.empty()) {
        // Synthesis (on a cache miss) happens here, before the lock: the audio thread waits
        // only while the voices are added.
        std::vector<SoundMixer::Samples> ready;
        ready.reserve(state.sounds.size());
        for (const SoundCue& cue : state.sounds)
            ready.push_back(audio->effects.get(cue.effect, static_cast<unsigned>(cue.variant)));
        audio->with_mixer([&](SoundMixer& mixer) {
            for (SoundMixer::Samples& samples : ready) mixer.play(std::move(samples));
        });
    }
    state.sounds.clear();
}

void handle_events_then_service(RunState& state, SDL_Window* window, Network* network, Audio* audio,
                                double now, const std::function<void()>& service) {
    drain_events(state, window, audio, now);
    flush_effects(state, network, audio);
    service();
}

KeyState held_keys(const RunState& state) {
    KeyState keys;
    if (!state.config.has_window) return keys;
    int count = 0;
    const bool* pressed = SDL_GetKeyboardState(&count);
    for (int i = 0; i < count && i < static_cast<int>(key_count); ++i)
        if (pressed[i]) keys.press(static_cast<Key>(i));
    const SDL_MouseButtonFlags buttons = SDL_GetMouseState(nullptr, nullptr);
    keys.left_mouse = (buttons & SDL_BUTTON_LMASK) != 0;
    keys.right_mouse = (buttons & SDL_BUTTON_RMASK) != 0;
    return keys;
}

} // namespace kestrel
