// Program entry of the game client: command line, run-mode checks, and the run itself.
// Every error of the whole run ends here as one "client: " line and exit status 1.
#include "client/audio.h"
#include "client/frame_builder.h"
#include "client/input.h"
#include "client/loop.h"
#include "client/network.h"
#include "client/options.h"
#include "client/profile.h"
#include "client/router.h"
#include "client/run_state.h"
#include "protocol/codec.h"
#include "render/frame.h"
#include "render/renderer.h"
#include "sound/sound_mixer.h"
#include "world/generate.h"

#include <SDL3/SDL.h>
#include <enet/enet.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

#include <cstdint>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

namespace kestrel {
namespace {

// ---------------------------------------------------------------------------------------
// The run: start-up, main loop, end-of-run checks and shut-down. Returns the exit status
// of a normal end; every failure is thrown and unwinds what was created so far.
// ---------------------------------------------------------------------------------------

// SDL and ENet are started and stopped as scoped values so that an error anywhere
// releases them in reverse order of creation.
struct Platform {
    // A machine without a usable audio driver still plays, silent: video starts first and
    // alone, then audio, whose failure Audio reports. (Starting both at once and retrying
    // video alone after an audio failure would restart video in the same process, which
    // fails now and then with "No available video device".)
    explicit Platform(bool headless) {
        if (!SDL_Init(headless ? 0 : SDL_INIT_VIDEO)) throw std::runtime_error(SDL_GetError());
        if (!headless) SDL_InitSubSystem(SDL_INIT_AUDIO);
    }
    ~Platform() { SDL_Quit(); }
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;
};

struct EnetLibrary {
    EnetLibrary() {
        if (enet_initialize() != 0) throw std::runtime_error("ENet initialization failed");
    }
    ~EnetLibrary() { enet_deinitialize(); }
    EnetLibrary(const EnetLibrary&) = delete;
    EnetLibrary& operator=(const EnetLibrary&) = delete;
};

RunConfig run_config(const Options& options) {
    RunConfig config;
    config.host = options.host;
    config.latency_ms = options.latency_ms;
    config.drop_every = options.drop_every;
    config.demo = options.demo;
    config.hidden = options.hidden;
    config.headless = options.headless;
    config.auto_combat = options.auto_combat;
    config.auto_portal = options.auto_portal;
    config.has_transport = !options.demo;
    return config;
}

// The offline sector: generated locally, played from the start, nothing sent.
void start_demo(RunState& state) {
    Portal portal;
    portal.id = 1;
    portal.cell = 70;
    portal.target = 2;
    portal.target_portal = 0;
    portal.link_flags = 1;
    portal.target_seed = 42;
    state.handoff.committed = kestrel::generate(1, 0x6B1F39A42ull, {portal});
    state.handoff.state = HandoffState::Active;
    Player spawn{};
    spawn.id = 1;
    spawn.x = 0x28000;
    spawn.y = 0x28000;
    spawn.yaw = 0;
    spawn.health = 100;
    spawn.ammo = 100;
    spawn.cooldown = 0;
    spawn.weapon = 1;
    state.handoff.spawn = spawn;
    state.prediction.reset(spawn);
}

// Services the transport without blocking: at most 256 events per iteration.
void service_network(RunState& state, Network& network, Audio* audio, double now) {
    for (int handled = 0; handled < 256; ++handled) {
        ENetEvent event{};
        const int result = enet_host_service(network.host, &event, 0);
        // A failed socket send (an outage: no route, Wi-Fi gone) is not the end of the run:
        // nothing is pending this iteration, and the connection time-out or ENet's own
        // disconnect decides whether the game is over.
        if (result <= 0) break;
        std::optional<PacketGuard> guard;
        if (event.type == ENET_EVENT_TYPE_RECEIVE) guard.emplace(event.packet);
        if (event.peer != network.peer) throw std::runtime_error("unexpected network peer");
        switch (event.type) {
        case ENET_EVENT_TYPE_CONNECT:
            network.send(Type::Hello, hello_payload(), state.handoff, 0, true);
            break;
        case ENET_EVENT_TYPE_DISCONNECT:
            state.handoff.state = HandoffState::Aborted;
            throw std::runtime_error("server disconnected");
        case ENET_EVENT_TYPE_RECEIVE: {
            Reader reader(event.packet->data, event.packet->dataLength);
            const Header header = read_header(reader);
            route(state, header, reader, event.channelID, now, std::cout);
            flush_effects(state, &network, audio);
            break;
        }
        case ENET_EVENT_TYPE_NONE:
            break;
        }
    }
}

// Builds this iteration's frame, sets the music level for the game state and draws it.
void present(RunState& state, Renderer& renderer, Audio* audio, double now) {
    AudioView settings; // no stream: "AUDIO UNAVAILABLE"
    // One lock per frame: the level depends on the game state alone, not on the frame.
    if (audio != nullptr) {
        audio->with_mixer([&](SoundMixer& mixer) {
            settings = audio_view(mixer);
            mixer.music_level = music_level(state);
        });
    }
    const Frame frame = build_frame(state, now, settings);
    renderer.draw(frame);
}

int run(const Options& options) {
    const Platform platform(options.headless);
    const EnetLibrary enet;

    std::unique_ptr<Renderer> renderer;
    std::unique_ptr<Audio> audio;
    if (!options.headless) {
        renderer = std::make_unique<Renderer>(options.hidden);
        audio = std::make_unique<Audio>();
    }

    RunState state;
    state.config = run_config(options);
    state.config.has_audio = audio != nullptr && audio->stream != nullptr;
    state.config.has_window = renderer != nullptr;
    state.selected_weapon = options.weapon;
    state.profile_path = resolve_profile_path(options.headless, options.profile_file);
    state.credentials = set_up_profile(state.profile_path, options.name, options.party);

    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Network> network;
    if (options.demo)
        start_demo(state);
    else
        network = std::make_unique<Network>(options.host, options.port, options.latency_ms);

    SDL_Window* window = renderer ? renderer->window() : nullptr;
    bool wormhole_captured = false;
    double previous = 0;
    while (state.running) {
        const double now =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double dt = std::clamp(now - previous, 0.0, 0.1);
        previous = now;

        handle_events_then_service(state, window, network.get(), audio.get(), now, [&] {
            if (network) service_network(state, *network, audio.get(), now);
        });
        if (network && state.handoff.state == HandoffState::Connecting && now > 10.0)
            throw std::runtime_error("connection timed out: " + options.host + ":" +
                                     std::to_string(options.port) +
                                     " (UDP); check server availability");

        const KeyState keys = held_keys(state);
        if (state.in_game()) steer(state, now, dt, keys);
        run_input_ticks(state, now, keys);
        flush_effects(state, network.get(), audio.get());
        if (network) network->release_due();
        state.prediction.smooth(dt);
        if (renderer) {
            present(state, *renderer, audio.get(), now);
            // The first frame drawn while a handoff is in transit, once per run.
            if (!options.capture_wormhole.empty() && !wormhole_captured && !state.in_game() &&
                state.handoff.state == HandoffState::Transit && state.handoff.transition != 0) {
                wormhole_captured = true;
                renderer->capture(options.capture_wormhole);
            }
        } else {
            // Without a frame nothing else ages the radar, attack and death maps.
            prune_contacts(state, now);
        }

        ++state.stats.frames;
        if ((options.frames != 0 && state.stats.frames >= options.frames) ||
            (options.seconds != 0 && now >= options.seconds))
            state.running = false;
        SDL_Delay(pacing_delay_ms(state.config));
    }

    if (renderer && !options.capture.empty()) renderer->capture(options.capture);
    check_run_end(state.stats, options.require_commits, options.demo, options.seconds);
    std::cout << summary_line(state.stats, state.adventure.salvage_banked,
                              state.adventure.colors_unlocked, state.prediction.reconciles(),
                              state.prediction.max_correction())
              << std::flush;

    // Reverse order of start-up; the platform and ENet follow as scoped values.
    state.input_history.clear();
    state.handoff = HandoffClient{};
    network.reset();
    state.attack_times.clear();
    state.death_times.clear();
    state.radar_contacts.clear();
    audio.reset();
    renderer.reset();
    return 0;
}

} // namespace
} // namespace kestrel

int main(int argc, char** argv) {
    try {
        const kestrel::Options options = kestrel::parse_options(argc, argv);
        kestrel::check_options(options);
        return kestrel::run(options);
    } catch (const std::exception& error) {
        // Reached after unwinding, so everything the run created is already released.
        std::cerr << "client: " << error.what() << '\n';
        return 1;
    }
}
