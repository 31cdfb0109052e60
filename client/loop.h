// The platform side of one main loop iteration: SDL events handed to the input handlers,
// what the handlers asked for carried out, the held keys and mouse buttons read, and the
// pause at the end. The input rules themselves stay in input.h, free of the platform.
#pragma once

#include <SDL3/SDL.h>

#include <cstdint>
#include <functional>

#include "client/audio.h"
#include "client/input.h"
#include "client/keys.h"
#include "client/network.h"
#include "client/run_state.h"

namespace kestrel {

// The sleep at the end of an iteration: 1 ms without a window, 8 ms with a hidden one, none
// for a visible window, whose presentation sets the frame rate.
std::uint32_t pacing_delay_ms(const RunConfig& config);

// Carries out what an input handler asked of the platform. Without a window (headless, or
// before the renderer exists) the window actions have nothing to act on.
void perform(RunState& state, SDL_Window* window, Audio* audio, const PlatformActions& actions);

// Sends what the handlers queued, in order, stamped with the handoff's current session and
// epoch, and plays the queued sounds.
void flush_effects(RunState& state, Network* network, Audio* audio);

// The first steps of an iteration: handles every pending platform event, sends what the
// handlers queued, and only then runs `service` (the transport). A key command thus carries
// the session and epoch of the moment it was pressed, even when the service then routes a
// commit that starts a new epoch.
void handle_events_then_service(RunState& state, SDL_Window* window, Network* network, Audio* audio,
                                double now, const std::function<void()>& service);

// The keyboard and the two mouse buttons as held now; nothing without a window.
KeyState held_keys(const RunState& state);

} // namespace kestrel
