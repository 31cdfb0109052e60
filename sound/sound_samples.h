// Sound effects synthesised in code. Every effect is rendered whole before it plays (once per
// effect and variant, through SoundCache), so the audio callback only sums finished buffers.
#pragma once

#include <vector>

namespace kestrel {

// The mixer's output format: mono 32-bit float at this rate.
inline constexpr int sound_sample_rate = 24000;

// Renders effect `effect` (1..30; any other id gives the short 90 Hz default) refined by
// `variant`. A pure function: the same arguments always give the same samples, each within
// -0.8..0.8, starting at 0 and fading to silence at the end.
std::vector<float> sound_samples(int effect, unsigned variant);

} // namespace kestrel
