// Everything one client run keeps between loop iterations. The main loop owns the single
// RunState; the message router, the input code and the frame builder read and write it.
// Effects that reach outside the process state (packets to send, sounds to play) are
// queued here and carried out by the main loop right after the call that queued them, so
// these handlers stay testable without a socket or an audio device.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "client/run_stats.h"
#include "protocol/codec.h"
#include "protocol/credentials.h"
#include "protocol/meta_state.h"
#include "protocol/player.h"
#include "render/radar_blip.h"
#include "session/handoff_client.h"
#include "session/prediction.h"
#include "session/remote_interpolation.h"
#include "session/snapshot_assembly.h"

namespace kestrel {

// The open expedition panel.
enum class Panel : std::uint8_t {
    none = 0,
    contracts = 1,
    navigation = 2,
    summary = 3,
    crew = 4,
    upgrades = 5,
    vote = 6,
};

struct TextEntry {
    enum class Field { name, party };
    bool active = false;
    Field field = Field::name;
    std::string buffer;
    std::string pending_name;
};

// The parts of the command line that handlers consult.
struct RunConfig {
    std::string host;
    std::uint32_t latency_ms = 0;
    std::uint32_t drop_every = 0;
    bool demo = false;
    bool hidden = false;
    bool headless = false;
    bool auto_combat = false;
    bool auto_portal = false;
    bool has_transport = false; // false in demo mode
    bool has_window = false;
    bool has_audio = false; // an audio stream exists
};

// A message for Network::send, stamped with the handoff's session and epoch when sent.
struct Outgoing {
    Type type{};
    Writer payload;
    std::uint8_t channel = 0;
    bool reliable = true;
};

struct SoundCue {
    int effect = 0;
    int variant = 0;
};

struct RunState {
    RunConfig config;
    Credentials credentials;
    std::string profile_path; // empty: the profile lives in memory only
    HandoffClient handoff;
    Prediction prediction;
    SnapshotAssembly assembly;
    RemoteInterpolation remotes;
    AdventureState adventure;
    ExpeditionState expedition;
    SectorStatus status;
    std::uint32_t status_sequence = 0; // 0: none accepted yet
    RunStats stats;

    std::map<std::uint32_t, std::pair<RadarBlip, double>> radar_contacts; // id -> blip, last shot
    std::map<std::uint32_t, double> attack_times;
    std::map<std::uint32_t, double> death_times;

    std::string banner_text = "PICKUP";
    Panel panel = Panel::none;
    std::uint32_t last_summary_run = 0;
    std::size_t navigation_selection = 0;
    std::uint32_t selected_weapon = 1;
    float yaw = 0;         // 1/65536 turn, kept in [0, 65536)
    bool approach = false; // automated combat is walking toward its target

    std::deque<Input> input_history; // the last up to three sent inputs
    std::uint32_t last_sequence = 0;
    std::uint32_t last_tick = 0;
    double next_tick_time = 0;
    std::uint32_t server_tick_base = 0;
    double last_snapshot_time = 0;
    bool input_paused = false;

    double last_shot_time = -1.0;
    double next_shot_time = 0;
    double hit_marker_until = 0;
    double damage_flash_until = 0;
    double banner_until = 0;
    double link_cooldown_until = 0;

    bool focused = false;
    bool mouse_captured = false;
    bool running = true;
    TextEntry text_entry;

    std::vector<Outgoing> outbox;
    std::vector<SoundCue> sounds;

    // In game: playing a committed sector.
    bool in_game() const {
        return handoff.state == HandoffState::Active && handoff.committed.has_value();
    }
    // Commands need a transport and a session from the Welcome.
    bool has_session() const { return config.has_transport && handoff.session != 0; }
};

} // namespace kestrel
