// What the client plays, heard through SDL's disk audio driver: the device writes its raw
// stream (32-bit float, at the rate and channel count the device chose, 44.1 kHz stereo
// unless a case asks for the client's own 24 kHz mono, converted by SDL from the client's
// stream) to a file, which is read back here.
// The client looks for its music next to its executable, so a copy of the executable
// without the audio folder beside it plays the effects alone.
#include "tests/e2e/e2e.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

struct Stream {
    std::size_t samples = 0;
    float peak = 0;          // largest magnitude
    std::size_t audible = 0; // samples above the silence threshold
};

Stream read_stream(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    Stream stream;
    float sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) {
        ++stream.samples;
        stream.peak = std::max(stream.peak, std::abs(sample));
        if (std::abs(sample) > 0.01f) ++stream.audible;
    }
    return stream;
}

// Sets the audio environment variables for the children started while it lives.
// With `native` the device takes the client's own stream format (24 kHz mono float), so
// the file holds the mixer's samples as they left it, with no conversion.
struct AudioDriver {
    explicit AudioDriver(const std::string& driver, const std::string& file = "",
                         bool native = false) {
        setenv("SDL_AUDIO_DRIVER", driver.c_str(), 1);
        setenv("SDL_AUDIO_DISK_OUTPUT_FILE", file.c_str(), 1);
        if (native) {
            setenv("SDL_AUDIO_FREQUENCY", "24000", 1);
            setenv("SDL_AUDIO_CHANNELS", "1", 1);
            setenv("SDL_AUDIO_FORMAT", "F32", 1);
        }
    }
    ~AudioDriver() {
        for (const char* name : {"SDL_AUDIO_DRIVER", "SDL_AUDIO_DISK_OUTPUT_FILE",
                                 "SDL_AUDIO_FREQUENCY", "SDL_AUDIO_CHANNELS", "SDL_AUDIO_FORMAT"})
            unsetenv(name);
    }
};

class Audio : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kestrel-audio-" + std::to_string(getpid()));
        fs::create_directories(dir / "silent");
        // The renderer needs its shaders beside the executable; the music stays behind.
        const fs::path bin = fs::path(KESTREL_CLIENT_BIN).parent_path();
        fs::copy_file(KESTREL_CLIENT_BIN, dir / "silent" / "client");
        fs::copy(bin / "shaders", dir / "silent" / "shaders", fs::copy_options::recursive);
        ASSERT_TRUE(fs::exists(bin / "audio" / "space-shooter.wav"));
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(Audio, MusicAndEffectsReachTheDeviceWithinTheLimit) {
    struct Case {
        const char* name;
        bool music;
        bool against_server; // auto-combat: shots, hits and kills
        bool audible;
        bool native; // the device at the stream's own format
    };
    // Nothing may reach full scale. The music is smooth, so it stays below it also after
    // SDL's conversion to the device's 44.1 kHz stereo. The effects are noise, whose peaks
    // between samples a band-limited converter brings back (1.02 seen in a fight, 1.4 for
    // six explosions at once): the fight is heard at the stream's own rate, where the
    // mixer's clamp is what reaches the device.
    const Case cases[] = {
        {"demo with music", true, false, true, false},
        {"demo without music", false, false, false, false},
        {"combat without music", false, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path raw = dir / "out.raw";
        fs::remove(raw);
        const AudioDriver driver("disk", raw.string(), c.native);
        const std::string client =
            c.music ? std::string(KESTREL_CLIENT_BIN) : (dir / "silent" / "client").string();
        Outcome outcome;
        if (c.against_server) {
            const int port = free_udp_port();
            Child server(KESTREL_SERVER_BIN,
                         {"--enemies", "6", "--port", std::to_string(port), "--seconds", "30"});
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            outcome = run(client,
                          {"--hidden", "--auto-combat", "--seconds", "6", "--require-commits", "1",
                           "-s", "127.0.0.1:" + std::to_string(port)},
                          std::chrono::seconds(60));
            kill(server.pid(), SIGTERM);
            EXPECT_EQ(server.wait().status, 0);
            EXPECT_GT(summary(outcome.out)["hits"], 0) << outcome.out;
        } else {
            outcome =
                run(client, {"--hidden", "--demo", "--frames", "30"}, std::chrono::seconds(60));
        }
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.err.find("Audio unavailable: "), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.err.find("Background music unavailable: ") == std::string::npos, c.music)
            << outcome.err;

        const Stream stream = read_stream(raw);
        ASSERT_GT(stream.samples, 10000u) << "the device ran for seconds";
        EXPECT_LT(stream.peak, 1.0f);
        if (c.audible) {
            EXPECT_GT(stream.audible, stream.samples / 100) << "peak " << stream.peak;
        } else {
            EXPECT_EQ(stream.peak, 0.0f);
        }
    }
}

TEST_F(Audio, WithoutADeviceTheRunGoesOnSilent) {
    const AudioDriver driver("no-such-driver");
    const Outcome outcome =
        run(KESTREL_CLIENT_BIN, {"--hidden", "--demo", "--frames", "10"}, std::chrono::seconds(60));
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(count_lines_starting(outcome.err, "Audio unavailable: "), 1) << outcome.err;
    EXPECT_NE(outcome.out.find("\nClient stopped: frames=10 "), std::string::npos) << outcome.out;
}

} // namespace
} // namespace kestrel::test
