// Turns the run state into the Frame the renderer draws, once per iteration.
//
// Everything here is a plain function of the run state, the run clock and a copy of the
// mixer settings; nothing touches the platform. The mixer lives behind the audio stream
// lock, so the main loop copies what the status line needs into an AudioView while it holds
// the lock and writes music_level() back the same way.
#pragma once

#include <vector>

#include "client/run_state.h"
#include "render/frame.h"
#include "session/draw_entity.h"
#include "sound/sound_mixer.h"

namespace kestrel {

// The mixer settings the status line shows. stream is false when there is no audio
// stream at all (headless, or the device failed to open): the status line then reads
// "AUDIO UNAVAILABLE" and the other fields are not read.
struct AudioView {
    bool stream = false;
    bool music_on = true;
    bool effects_on = true;
    float music_volume = 1.0f;
    float effects_volume = 1.0f;
};

// A copy of the settings of a mixer behind an existing stream. Call with the lock held.
AudioView audio_view(const SoundMixer& mixer);

// A radar contact or an attack mark is forgotten this long after the shot (seconds); the
// minimap fades the dot out over the same time.
inline constexpr double contact_lifetime = 1.5;
// An entity that attacked within this many seconds is drawn marked.
inline constexpr double attack_mark_time = 0.25;
// The status line reads "AWAITING SERVER" once the last snapshot is older than this.
inline constexpr double snapshot_silence = 0.5;

// Builds this iteration's frame. The state is taken by reference because the frame ages
// the radar: contacts and attack times older than contact_lifetime are erased, death
// times are recorded for entities first seen dead and dropped for the living and the gone.
//
// Frame::sector points into state.handoff.committed (null out of game). It is valid only
// until the state changes: a commit, an abort or a map patch replaces the sector, so draw
// the frame before routing the next packet.
Frame build_frame(RunState& state, double now, const AudioView& audio);

// The same ageing of radar_contacts, attack_times and death_times without building a
// frame, for iterations that draw nothing (headless), so these maps stay bounded. Death
// times survive only for entities of the newest snapshot that are still dead.
void prune_contacts(RunState& state, double now);

// The music loudness the game state asks for: quiet in transit, quieter while dead,
// louder while enemies remain in the sector. The main loop writes it to
// SoundMixer::music_level under the stream lock every frame.
float music_level(const RunState& state);

// The fixed set of entities the local preview shows around its spawn point, one of each
// of the common kinds.
std::vector<DrawEntity> demo_entities();

} // namespace kestrel
