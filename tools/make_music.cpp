// Build-time generator of the client's background music: a 20-second loop in A minor
// (96 beats per minute, eight bars: Am F C G Am F Dm E, the E leading back into the Am)
// with a plucked bass, a sixteenth-note arpeggio with a dotted-eighth echo, a soft pad,
// a quiet kick and an off-beat hat.
//
// Every note is rendered into a circular buffer: whatever rings past the end of the loop
// (pad releases, echoes, the bass tail of the last bar) wraps onto its start, so the track
// repeats without a seam. The result is normalised to a peak of 0.8 and written as a
// RIFF/WAVE file, 16-bit PCM, mono, 24000 Hz, which is also the mixer's own rate, so the
// client's conversion is a plain format change.
//
// usage: make_music <output.wav>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int sample_rate = 24000;
constexpr int beats_per_bar = 4;
constexpr int bars = 8;
constexpr double beat_seconds = 60.0 / 96.0;                               // 0.625 s
constexpr int beat_samples = static_cast<int>(beat_seconds * sample_rate); // 15000, exact
constexpr int bar_samples = beat_samples * beats_per_bar;
constexpr int loop_samples = bar_samples * bars; // 480000 = 20 s
constexpr double peak = 0.8;
constexpr double two_pi = 2.0 * std::numbers::pi;

// One bar's harmony: the bass root and a close three-note voicing for the pad and the
// arpeggio, as MIDI note numbers.
struct Chord {
    int root;
    std::array<int, 3> voicing;
};

constexpr std::array<Chord, bars> progression{{
    {45, {57, 60, 64}}, // Am
    {41, {57, 60, 65}}, // F
    {36, {55, 60, 64}}, // C
    {43, {55, 59, 62}}, // G
    {45, {57, 60, 64}}, // Am
    {41, {57, 60, 65}}, // F
    {38, {57, 62, 65}}, // Dm
    {40, {56, 59, 64}}, // E, with the G sharp of the harmonic minor
}};

double frequency(int midi) {
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

using Track = std::vector<double>;

// Adds `length` samples of voice(t) starting at `start`, wrapping around the loop.
template <typename Voice>
void add(Track& track, int start, int length, Voice voice) {
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / sample_rate;
        track[static_cast<std::size_t>((start + i) % loop_samples)] += voice(t);
    }
}

// A short linear fade-in, so that no note starts with a step.
double attack(double t, double seconds) {
    return std::min(t / seconds, 1.0);
}

// Plucked bass: sine plus a little second and third harmonic, decaying exponentially and
// released smoothly before the next note.
void bass(Track& track) {
    // Eighth notes per bar as semitones above the root.
    constexpr std::array<int, 8> pattern{0, 0, 12, 0, 0, 7, 12, 0};
    const int eighth = beat_samples / 2;
    for (int bar = 0; bar < bars; ++bar) {
        for (int step = 0; step < 8; ++step) {
            const double f = frequency(progression[bar].root + pattern[step]);
            const double length = static_cast<double>(eighth) / sample_rate;
            add(track, bar * bar_samples + step * eighth, eighth, [&](double t) {
                const double release = std::min((length - t) / 0.02, 1.0);
                const double envelope = attack(t, 0.004) * std::exp(-t / 0.18) * release;
                const double phase = two_pi * f * t;
                return 0.34 * envelope *
                       (std::sin(phase) + 0.3 * std::sin(2 * phase) + 0.1 * std::sin(3 * phase));
            });
        }
    }
}

// Sixteenth-note arpeggio an octave above the pad, a soft square (odd harmonics falling
// off quickly) with a dotted-eighth echo.
void arpeggio(Track& track) {
    // Up and down through the three chord tones and the octave.
    constexpr std::array<int, 16> pattern{0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 2, 1, 0, 2, 1, 2};
    const int sixteenth = beat_samples / 4;
    const int ring = sixteenth * 3; // each note rings on under the next ones
    Track dry(loop_samples, 0.0);
    for (int bar = 0; bar < bars; ++bar) {
        const Chord& chord = progression[bar];
        for (int step = 0; step < 16; ++step) {
            const int tone = pattern[step];
            const int midi = 12 + (tone == 3 ? chord.voicing[0] + 12 : chord.voicing[tone]);
            const double f = frequency(midi);
            const double length = static_cast<double>(ring) / sample_rate;
            // Accent on each beat.
            const double level = step % 4 == 0 ? 0.16 : 0.11;
            add(dry, bar * bar_samples + step * sixteenth, ring, [&](double t) {
                const double release = std::min((length - t) / 0.02, 1.0);
                const double envelope = attack(t, 0.003) * std::exp(-t / 0.09) * release;
                const double phase = two_pi * f * t;
                return level * envelope *
                       (std::sin(phase) + std::sin(3 * phase) / 9 + std::sin(5 * phase) / 25);
            });
        }
    }
    // The echo is taken around the loop as well, so the last bar's repeats land at the start.
    const int delay = sixteenth * 3;
    double gain = 1.0;
    for (int repeat = 0; repeat < 5; ++repeat, gain *= 0.4) {
        const int shift = repeat * delay;
        for (int i = 0; i < loop_samples; ++i)
            track[static_cast<std::size_t>((i + shift) % loop_samples)] +=
                gain * dry[static_cast<std::size_t>(i)];
    }
}

// Soft pad: each chord tone as two slightly detuned oscillators with gently falling
// harmonics, swelling in over the bar and released across the bar line.
void pad(Track& track) {
    const double bar_length = static_cast<double>(bar_samples) / sample_rate;
    const int length = bar_samples + sample_rate; // one second of release into the next bar
    for (int bar = 0; bar < bars; ++bar) {
        for (int midi : progression[bar].voicing) {
            for (double detune : {0.997, 1.003}) {
                const double f = frequency(midi) * detune;
                add(track, bar * bar_samples, length, [&](double t) {
                    const double swell = 1.0 - std::exp(-t / 0.35);
                    const double release = t < bar_length ? 1.0 : std::exp(-(t - bar_length) / 0.2);
                    // The tail is forced to zero over its last 20 ms.
                    const double end = std::min((bar_length + 1.0 - t) / 0.02, 1.0);
                    const double phase = two_pi * f * t;
                    double v = 0;
                    for (int n = 1; n <= 5; ++n) v += std::sin(n * phase) / (n * n);
                    return 0.035 * swell * release * end * v;
                });
            }
        }
    }
}

// Quiet kick on beats one and three, and a hat of differenced noise on every off-beat.
void drums(Track& track) {
    const int kick_length = sample_rate / 4;
    for (int beat = 0; beat < bars * beats_per_bar; beat += 2) {
        double phase = 0;
        add(track, beat * beat_samples, kick_length, [&](double t) {
            phase += two_pi * (45.0 + 75.0 * std::exp(-t / 0.03)) / sample_rate;
            const double end = std::min((0.25 - t) / 0.02, 1.0);
            return 0.3 * attack(t, 0.002) * std::exp(-t / 0.09) * end * std::sin(phase);
        });
    }
    std::uint32_t seed = 0x6b657374; // fixed: the track is the same on every build
    const int hat_length = sample_rate / 20;
    for (int beat = 0; beat < bars * beats_per_bar; ++beat) {
        double last = 0;
        add(track, beat * beat_samples + beat_samples / 2, hat_length, [&](double t) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = static_cast<double>(seed >> 16) / 32768.0 - 1.0;
            const double bright = noise - last;
            last = noise;
            const double end = std::min((0.05 - t) / 0.01, 1.0);
            return 0.025 * attack(t, 0.001) * std::exp(-t / 0.012) * end * bright;
        });
    }
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}

void put_tag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
    out.insert(out.end(), tag, tag + 4);
}

// RIFF/WAVE, little-endian, 44-byte header:
//
//   offset  size  field
//        0     4  "RIFF"
//        4     4  36 + data size (bytes that follow this field)
//        8     4  "WAVE"
//       12     4  "fmt "
//       16     4  16 (fmt chunk size)
//       20     2  1 (integer PCM)
//       22     2  1 channel
//       24     4  24000 samples per second
//       28     4  48000 bytes per second
//       32     2  2 (block align)
//       34     2  16 bits per sample
//       36     4  "data"
//       40     4  data size = 2 x sample count
//       44        samples, signed 16-bit
std::vector<std::uint8_t> wave_file(const Track& track) {
    const auto data_size = static_cast<std::uint32_t>(track.size() * 2);
    std::vector<std::uint8_t> out;
    out.reserve(44 + data_size);
    put_tag(out, "RIFF");
    put32(out, 36 + data_size);
    put_tag(out, "WAVE");
    put_tag(out, "fmt ");
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, sample_rate);
    put32(out, sample_rate * 2);
    put16(out, 2);
    put16(out, 16);
    put_tag(out, "data");
    put32(out, data_size);
    for (double s : track) {
        const long v = std::lround(std::clamp(s, -1.0, 1.0) * 32767.0);
        put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_music <output.wav>\n");
        return 1;
    }
    Track track(loop_samples, 0.0);
    bass(track);
    arpeggio(track);
    pad(track);
    drums(track);

    double loudest = 0;
    for (double s : track) loudest = std::max(loudest, std::abs(s));
    if (loudest > 0)
        for (double& s : track) s *= peak / loudest;

    // Written beside the target and renamed, so an interrupted build never leaves a
    // truncated file that looks up to date.
    const std::filesystem::path path = argv[1];
    const std::filesystem::path temporary = path.string() + ".tmp";
    const std::vector<std::uint8_t> bytes = wave_file(track);
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            std::fprintf(stderr, "make_music: cannot write %s\n", temporary.string().c_str());
            return 1;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::fprintf(stderr, "make_music: cannot write %s: %s\n", path.string().c_str(),
                     error.message().c_str());
        return 1;
    }
    return 0;
}
