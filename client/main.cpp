// Program entry of the game client: command line, run-mode checks, and the run itself.
// Every error of the whole run ends here as one "client: " line and exit status 1.
#include "client/defaults.h"
#include "client/frame_builder.h"
#include "client/input.h"
#include "client/profile.h"
#include "client/router.h"
#include "client/run_state.h"
#include "protocol/codec.h"
#include "protocol/label.h"
#include "render/frame.h"
#include "render/renderer.h"
#include "sound/sound_mixer.h"
#include "sound/sound_samples.h"
#include "world/generate.h"

#include <SDL3/SDL.h>
#include <enet/enet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <span>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrel {
namespace {

// Everything a run does is fixed here before anything else is created; it never changes
// afterwards. Zero in frames, seconds, require_commits and drop_every means "off".
struct Options {
    std::string host{default_server_host};
    std::string capture;
    std::string capture_wormhole;
    std::string name;
    std::string party;
    std::string profile_file;
    std::uint32_t latency_ms = 0;
    std::uint32_t weapon = 1;
    std::uint32_t port = default_server_port;
    std::uint32_t frames = 0;
    std::uint32_t seconds = 0;
    std::uint32_t require_commits = 0;
    std::uint32_t drop_every = 0;
    bool auto_combat = false;
    bool demo = false;
    bool hidden = false;
    bool headless = false;
    bool auto_portal = false;
};

// --weapon is accepted but deliberately not advertised.
std::string usage_line() {
    return "client [-l] [-s IP:PORT] [--host " + std::string(default_server_host) + "] [--port " +
           std::to_string(default_server_port) +
           "] [--demo] [--hidden] [--headless] [--frames N] [--seconds N] [--auto-combat] "
           "[--latency-ms 0..150] [--auto-portal] [--require-commits N] [--drop-every N] "
           "[--name NAME] [--party CODE] [--profile-file PATH] [--capture file.png] "
           "[--capture-wormhole file.png]\n";
}

// Unsigned decimal through std::stoul. Text that does not start with a number makes stoul
// throw std::invalid_argument, whose own message is reported unchanged; trailing
// characters, values beyond unsigned long and values outside [low, high] are all
// "option out of range".
std::uint32_t parse_number(const std::string& text, std::uint32_t low, std::uint32_t high) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used);
    } catch (const std::out_of_range&) {
        throw std::runtime_error("option out of range");
    }
    if (used != text.size() || value < low || value > high)
        throw std::runtime_error("option out of range");
    return static_cast<std::uint32_t>(value);
}

// -s HOST:PORT. Exactly one colon with text on both sides, no whitespace anywhere, digits
// only after the colon (which also rules out a second colon). The host part is not checked
// further: names resolve later.
void apply_server(const std::string& value, Options& options) {
    const std::size_t colon = value.find(':');
    bool well_formed = colon != std::string::npos && colon != 0 && colon + 1 < value.size() &&
                       value.find_first_of(" \t\n\r") == std::string::npos;
    for (std::size_t i = colon + 1; well_formed && i < value.size(); ++i)
        well_formed = value[i] >= '0' && value[i] <= '9';
    if (!well_formed)
        throw std::runtime_error("-s requires IPv4-address-or-hostname:port (1..65535)");
    const std::uint32_t port = parse_number(value.substr(colon + 1), 1, 65535);
    options.host = value.substr(0, colon);
    options.port = port;
}

struct NumberOption {
    std::string_view name;
    std::uint32_t Options::*field;
    std::uint32_t low;
    std::uint32_t high;
};

constexpr NumberOption number_options[] = {
    {"--port", &Options::port, 1, 65535},
    {"--weapon", &Options::weapon, 1, 4},
    {"--frames", &Options::frames, 1, 1000000},
    {"--seconds", &Options::seconds, 1, 3600},
    {"--latency-ms", &Options::latency_ms, 0, 150},
    {"--drop-every", &Options::drop_every, 2, 1000},
    {"--require-commits", &Options::require_commits, 1, 10000},
};

struct TextOption {
    std::string_view name;
    std::string Options::*field;
};

constexpr TextOption text_options[] = {
    {"--host", &Options::host},
    {"--capture", &Options::capture},
    {"--profile-file", &Options::profile_file},
    {"--capture-wormhole", &Options::capture_wormhole},
};

// Returns false when the argument is not a flag. --help ends the process right here, so
// nothing after it is looked at and no post-parse check runs.
bool apply_flag(std::string_view argument, Options& options) {
    if (argument.size() < 2 || argument.size() > 13) return false;
    if (argument == "-l") {
        options.host = "127.0.0.1";
        options.port = default_server_port;
    } else if (argument == "--help") {
        std::cout << usage_line() << std::flush;
        std::exit(0);
    } else if (argument == "--demo") {
        options.demo = true;
    } else if (argument == "--hidden") {
        options.hidden = true;
    } else if (argument == "--headless") {
        options.headless = true;
    } else if (argument == "--auto-combat") {
        options.auto_combat = true;
    } else if (argument == "--auto-portal") {
        options.auto_portal = true;
    } else {
        return false;
    }
    return true;
}

void apply_value(std::string_view name, const std::string& value, Options& options) {
    if (name == "-s") return apply_server(value, options);
    if (name == "--name") {
        options.name = filter_label(value, max_name_length);
        return;
    }
    if (name == "--party") {
        options.party = filter_label(value, max_party_length);
        return;
    }
    for (const NumberOption& option : number_options) {
        if (name == option.name) {
            options.*option.field = parse_number(value, option.low, option.high);
            return;
        }
    }
    for (const TextOption& option : text_options) {
        if (name == option.name) {
            options.*option.field = value;
            return;
        }
    }
    throw std::runtime_error("unknown option " + std::string(name));
}

// Any argument that is not a flag takes the next one as its value, even when it names no
// option: a misspelt last argument is "missing option value", not "unknown option".
Options parse_options(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (apply_flag(argument, options)) continue;
        if (i + 1 >= argc) throw std::runtime_error("missing option value");
        apply_value(argument, argv[++i], options);
    }
    return options;
}

// Contradictory run modes are refused before any subsystem starts.
void check_options(const Options& options) {
    if (options.headless && (!options.capture.empty() || !options.capture_wormhole.empty()))
        throw std::runtime_error("headless mode cannot capture GPU frames");
    if (options.demo && options.require_commits != 0)
        throw std::runtime_error("demo cannot commit network transitions");
}

// ---------------------------------------------------------------------------------------
// Transport: one ENet client host with one peer and three channels. Every message is
// framed with the handoff's session and epoch and a per-connection counter; with
// --latency-ms set, packets wait in a FIFO (all share the same delay, so it stays in due
// order) until the main loop releases them.
// ---------------------------------------------------------------------------------------
std::int64_t steady_nanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class Network {
  public:
    struct Pending {
        std::int64_t due = 0;
        Bytes bytes;
        std::uint8_t channel = 0;
        bool reliable = false;
    };

    Network(const std::string& server, std::uint32_t port, std::uint32_t latency)
        : latency_ms(latency) {
        host = enet_host_create(nullptr, 1, 3, 0, 0);
        if (host == nullptr) throw std::runtime_error("cannot create ENet client");
        host->maximumPacketSize = max_packet_size;
        host->maximumWaitingData = 65536;
        ENetAddress address{};
        address.port = static_cast<enet_uint16>(port);
        if (enet_address_set_host(&address, server.c_str()) != 0) {
            release();
            throw std::runtime_error("cannot resolve server " + server);
        }
        peer = enet_host_connect(host, &address, 3, 0);
        if (peer == nullptr) {
            release();
            throw std::runtime_error("cannot connect to server");
        }
    }
    ~Network() { release(); }
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    void send(Type type, const Writer& payload, const HandoffClient& handoff, std::uint8_t channel,
              bool reliable) {
        ++sequence;
        Bytes bytes = packet(type, handoff.session, sequence, handoff.epoch, payload);
        if (latency_ms != 0) {
            pending_queue.push_back(
                Pending{steady_nanoseconds() + std::int64_t{latency_ms} * 1000000, std::move(bytes),
                        channel, reliable});
            return;
        }
        ENetPacket* message = make_packet(bytes, reliable);
        if (enet_peer_send(peer, channel, message) != 0) {
            enet_packet_destroy(message);
            throw std::runtime_error("packet send failure");
        }
    }

    // A refused send of a delayed packet only loses that packet.
    void release_due() {
        while (!pending_queue.empty() && pending_queue.front().due <= steady_nanoseconds()) {
            Pending entry = std::move(pending_queue.front());
            pending_queue.pop_front();
            ENetPacket* message = make_packet(entry.bytes, entry.reliable);
            if (enet_peer_send(peer, entry.channel, message) != 0) enet_packet_destroy(message);
        }
        enet_host_flush(host);
    }

    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    std::uint32_t sequence = 0;
    std::uint32_t latency_ms = 0;
    std::deque<Pending> pending_queue;

  private:
    static ENetPacket* make_packet(const Bytes& bytes, bool reliable) {
        ENetPacket* message = enet_packet_create(bytes.data(), bytes.size(),
                                                 reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
        if (message == nullptr) throw std::runtime_error("packet allocation failure");
        return message;
    }
    // Immediate disconnect: no handshake is waited for, queued packets are dropped.
    void release() {
        if (peer != nullptr) enet_peer_disconnect_now(peer, 0);
        if (host != nullptr) enet_host_destroy(host);
        peer = nullptr;
        host = nullptr;
        pending_queue.clear();
    }
};

// The payload of Hello: the 32-bit values 1, 7, 1, 0.
Writer hello_payload() {
    Writer payload;
    for (std::uint32_t value : {1u, 7u, 1u, 0u}) payload.u32(value);
    return payload;
}

// ---------------------------------------------------------------------------------------
// Sound output: one SDL audio stream on the default playback device, mono 32-bit float at
// 24 kHz, pulling from the mixer on SDL's audio thread. The main thread touches the mixer
// only under the stream's lock.
// ---------------------------------------------------------------------------------------
class Audio {
  public:
    Audio() {
        load_music();
        const SDL_AudioSpec spec{SDL_AUDIO_F32, 1, sound_sample_rate};
        stream = SDL_OpenAudioDeviceStream(SDL_AUDIO_DEVICE_DEFAULT_PLAYBACK, &spec, feed, this);
        if (stream == nullptr) {
            std::cerr << "Audio unavailable: " << SDL_GetError() << '\n';
            return;
        }
        SDL_ResumeAudioStreamDevice(stream);
    }
    // The stream goes first, so the callback has stopped before the mixer is destroyed.
    ~Audio() {
        if (stream != nullptr) SDL_DestroyAudioStream(stream);
    }
    Audio(const Audio&) = delete;
    Audio& operator=(const Audio&) = delete;

    // Runs f on the mixer under the stream lock; nothing when there is no stream.
    template <typename F>
    void with_mixer(F&& f) {
        if (stream == nullptr) return;
        struct Guard {
            SDL_AudioStream* locked;
            ~Guard() { SDL_UnlockAudioStream(locked); }
        };
        SDL_LockAudioStream(stream);
        const Guard guard{stream};
        f(mixer);
    }

    static void SDLCALL feed(void* userdata, SDL_AudioStream* stream, int additional_amount,
                             int /*total_amount*/) {
        Audio& audio = *static_cast<Audio*>(userdata);
        float buffer[512];
        while (additional_amount > 0) {
            const int count = std::min((additional_amount + 3) / 4, 512);
            audio.mixer.render(std::span<float>(buffer, static_cast<std::size_t>(count)));
            if (!SDL_PutAudioStreamData(stream, buffer, count * 4)) break;
            additional_amount -= count * 4;
        }
    }

    SDL_AudioStream* stream = nullptr;
    SoundMixer mixer;

  private:
    void load_music() {
        const char* base = SDL_GetBasePath();
        const std::string path =
            std::string(base != nullptr ? base : "") + "audio/space-shooter.wav";
        SDL_AudioSpec source{};
        Uint8* wav = nullptr;
        Uint32 wav_length = 0;
        if (SDL_LoadWAV(path.c_str(), &source, &wav, &wav_length)) {
            const SDL_AudioSpec target{SDL_AUDIO_F32, 1, sound_sample_rate};
            Uint8* converted = nullptr;
            int converted_length = 0;
            if (SDL_ConvertAudioSamples(&source, wav, static_cast<int>(wav_length), &target,
                                        &converted, &converted_length)) {
                const std::size_t count = static_cast<std::size_t>(converted_length) / 4;
                mixer.music.resize(count);
                std::memcpy(mixer.music.data(), converted, count * 4);
            }
            SDL_free(converted);
            SDL_free(wav);
        }
        if (mixer.music.empty())
            std::cerr << "Background music unavailable: " << SDL_GetError() << '\n';
    }
};

// ---------------------------------------------------------------------------------------
// The run: start-up, main loop, end-of-run checks and shut-down. Returns the exit status
// of a normal end; every failure is thrown and unwinds what was created so far.
// ---------------------------------------------------------------------------------------

// SDL and ENet are started and stopped as scoped values so that an error anywhere
// releases them in reverse order of creation.
struct Platform {
    explicit Platform(bool headless) {
        const SDL_InitFlags flags = headless ? 0 : (SDL_INIT_AUDIO | SDL_INIT_VIDEO);
        if (!SDL_Init(flags)) throw std::runtime_error(SDL_GetError());
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

class PacketGuard {
  public:
    explicit PacketGuard(ENetPacket* packet) : packet_(packet) {}
    ~PacketGuard() { enet_packet_destroy(packet_); }
    PacketGuard(const PacketGuard&) = delete;
    PacketGuard& operator=(const PacketGuard&) = delete;

  private:
    ENetPacket* packet_;
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

// Sends what the handlers queued, in order, stamped with the handoff's current session
// and epoch, and plays the queued sounds.
void flush_effects(RunState& state, Network* network, Audio* audio) {
    for (const Outgoing& message : state.outbox) {
        if (network != nullptr)
            network->send(message.type, message.payload, state.handoff, message.channel,
                          message.reliable);
    }
    state.outbox.clear();
    if (audio != nullptr && !state.sounds.empty()) {
        audio->with_mixer([&](SoundMixer& mixer) {
            for (const SoundCue& cue : state.sounds)
                mixer.play(cue.effect, static_cast<unsigned>(cue.variant));
        });
    }
    state.sounds.clear();
}

// Services the transport without blocking: at most 256 events per iteration.
void service_network(RunState& state, Network& network, Audio* audio, double now) {
    for (int handled = 0; handled < 256; ++handled) {
        ENetEvent event{};
        const int result = enet_host_service(network.host, &event, 0);
        if (result < 0) throw std::runtime_error("network service failure");
        if (result == 0) break;
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

// Carries out what an input handler asked of the platform. Without a window (headless,
// or before the renderer exists) the window actions have nothing to act on.
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

// Drains the platform's event queue and hands every event to the input handlers.
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

KeyState held_keys(const RunState& state) {
    KeyState keys;
    if (!state.config.has_window) return keys;
    int count = 0;
    const bool* pressed = SDL_GetKeyboardState(&count);
    for (int i = 0; i < count && i < static_cast<int>(key_count); ++i)
        if (pressed[i]) keys.press(static_cast<Key>(i));
    return keys;
}

// Builds this iteration's frame, sets the music level for the game state and draws it.
void present(RunState& state, Renderer& renderer, Audio* audio, double now) {
    AudioView settings; // no stream: "AUDIO UNAVAILABLE"
    if (audio != nullptr)
        audio->with_mixer([&](SoundMixer& mixer) { settings = audio_view(mixer); });
    const Frame frame = build_frame(state, now, settings);
    if (audio != nullptr)
        audio->with_mixer([&](SoundMixer& mixer) { mixer.music_level = music_level(state); });
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

        drain_events(state, window, audio.get(), now);
        if (network) service_network(state, *network, audio.get(), now);
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
        SDL_Delay(options.headless ? 1 : 8);
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
