// The stored profile as the real client leaves it on disk: start-up always rewrites
// "profile.bin" as a valid 45-byte record for its owner alone, keeps the token, applies
// --name before anything can fail, and leaves a complete record whenever it is killed.
#include "protocol/credentials.h"
#include "tests/e2e/e2e.h"

#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>
#include <random>

namespace kestrel::test {
namespace {

using Clock = std::chrono::steady_clock;

std::optional<Credentials> stored(const fs::path& path) {
    const std::string text = read_file(path);
    if (text.size() != credentials_size) return std::nullopt;
    const Bytes bytes(text.begin(), text.end());
    Reader reader(bytes);
    return Credentials::read(reader); // throws on an invalid record
}

void write(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

std::vector<std::string> demo(const std::string& path) {
    return {"--headless", "--demo", "--frames", "1", "--profile-file", path};
}

Credentials sample() {
    Credentials credentials{{}, "NOVA", "CREW7", 2};
    std::iota(credentials.token.begin(), credentials.token.end(), 0xA0);
    return credentials;
}

TEST(ProfileFile, StartUpRewritesTheRecordForTheOwnerAlone) {
    const TempDir dir("kestrel-profile");
    const std::string path = (dir / "profile.bin").string();
    Bytes corrupt = sample().write().bytes;
    corrupt[16] = 'a'; // lower case is no label character
    Credentials token_only;
    token_only.token = sample().token;
    struct Case {
        const char* name;
        std::optional<Bytes> file;
        std::optional<Credentials> expected; // none: the defaults with a freshly drawn token
    };
    const Case cases[] = {{"first save", std::nullopt, std::nullopt},
                          {"44 bytes", Bytes(44, 0x41), std::nullopt},
                          {"46 bytes", Bytes(46, 0x41), std::nullopt},
                          {"valid", sample().write().bytes, sample()},
                          {"corrupt name", corrupt, token_only}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        if (c.file) {
            // World-readable, beside a stale ".tmp" anyone may write (the creation mode
            // alone would leave that one as it was).
            write(path, *c.file);
            fs::permissions(path, fs::perms(0644));
            std::ofstream(path + ".tmp") << "stale";
            fs::permissions(path + ".tmp", fs::perms(0666));
        }
        ASSERT_EQ(run(KESTREL_CLIENT_BIN, demo(path), 30s).status, 0);
        const Credentials got = stored(path).value();
        Credentials expected = c.expected.value_or(Credentials{});
        if (!c.expected) {
            EXPECT_NE(got.token, Credentials{}.token) << "a new token was drawn";
            expected.token = got.token;
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_FALSE(fs::exists(path + ".tmp"));
    }
}

TEST(ProfileFile, NameIsSavedEvenWhenTheConnectionThenFails) {
    const TempDir dir("kestrel-profile-name");
    const std::string path = (dir / "profile.bin").string();
    write(path, sample().write().bytes);
    const Outcome outcome = run(
        KESTREL_CLIENT_BIN,
        {"--headless", "--profile-file", path, "--name", "ace-1", "--host", "no-such-host.invalid"},
        30s);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "client: cannot resolve server no-such-host.invalid\n");
    Credentials expected = sample();
    expected.name = "ACE1";
    EXPECT_EQ(stored(path), expected);
}

TEST(ProfileFile, AnUnwritableLocationEndsTheRun) {
    // Tests run as root, for whom a read-only directory is still writable; a path below a
    // regular file can be written by nobody.
    const TempDir dir("kestrel-profile-unwritable");
    write((dir / "file").string(), sample().write().bytes);
    const Outcome outcome = run(KESTREL_CLIENT_BIN, demo(dir / "file" / "profile.bin"), 30s);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "client: cannot save profile\n");
    EXPECT_EQ(outcome.out, "");
}

TEST(ProfileFile, HeadlessWithoutAProfileFileTouchesNothing) {
    const TempDir dir("kestrel-profile-none");
    const Env env("XDG_DATA_HOME", dir.path.string()); // where the preferences would live
    EXPECT_EQ(run(KESTREL_CLIENT_BIN, {"--headless", "--demo", "--frames", "1"}, 30s).status, 0);
    EXPECT_TRUE(fs::is_empty(dir.path));
}

// Whether the child has ended, without reaping it (Child::wait still collects it).
bool ended(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

double micros_since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// SIGKILL at random instants of the start-up save: "profile.bin" always holds a complete
// record with the previous or the new name, and the token never changes.
TEST(ProfileFile, KillsDuringStartUpLeaveTheOldOrTheNewProfile) {
    const TempDir dir("kestrel-profile-crash");
    const fs::path path = dir / "profile.bin";
    const fs::path temporary = dir / "profile.bin.tmp";
    const auto start = [&](const std::string& name) {
        return std::make_unique<Child>(KESTREL_CLIENT_BIN, plus(demo(path), {"--name", name}));
    };
    // Unkilled runs, watching the directory: how long a run takes and how long the temporary
    // file lives (open to rename), so the kills below can aim at it.
    std::vector<double> runs;
    double save_us = 0;
    for (int i = 0; i < 5; ++i) {
        const auto begun = Clock::now();
        auto child = start("CALIBRATE" + std::to_string(i));
        double appeared = -1;
        double renamed = -1;
        while (renamed < 0 && !ended(child->pid())) {
            const bool exists = fs::exists(temporary);
            if (exists && appeared < 0) appeared = micros_since(begun);
            if (!exists && appeared >= 0) renamed = micros_since(begun);
        }
        ASSERT_EQ(child->wait(30s).status, 0);
        runs.push_back(micros_since(begun));
        if (renamed >= 0) save_us = std::max(save_us, renamed - appeared);
    }
    ASSERT_GT(save_us, 0) << "no save was seen in progress";
    std::sort(runs.begin(), runs.end());
    const double run_us = runs[runs.size() / 2];
    // The sanitizer build starts far slower; the same time budget then buys fewer kills.
    const int iterations = std::clamp(static_cast<int>(12e6 / run_us), 50, 300);

    // The first run drew the token; every later one must keep it.
    const Credentials seeded = stored(path).value();
    std::string previous = seeded.name;
    std::mt19937 random(12345);
    int before_save = 0, mid_save = 0, after_rename = 0;
    for (int i = 0; i < iterations; ++i) {
        const std::string name = "KILL" + std::to_string(i);
        auto begun = Clock::now();
        auto child = start(name);
        if (i % 2 == 1) { // from the start of the save rather than from spawn
            while (!fs::exists(temporary) && !ended(child->pid())) {
            }
            begun = Clock::now();
        }
        const double at =
            std::uniform_real_distribution<double>(0, i % 2 == 1 ? save_us : run_us)(random);
        while (micros_since(begun) < at) {
        }
        kill(child->pid(), SIGKILL);
        const Outcome outcome = child->wait(30s);

        const std::optional<Credentials> now = stored(path);
        ASSERT_TRUE(now) << "after kill " << i << ": profile.bin is missing or no record";
        ASSERT_TRUE(now->name == previous || now->name == name)
            << "after kill " << i << ": " << now->name;
        ASSERT_EQ(now->token, seeded.token) << "after kill " << i;
        ASSERT_TRUE(outcome.status == 0 || outcome.status == -1) << outcome.err;
        if (outcome.status == 0)
            EXPECT_EQ(now->name, name);
        else if (fs::exists(temporary))
            ++mid_save;
        else if (now->name == name)
            ++after_rename;
        else
            ++before_save;
        fs::remove(temporary); // the next run's poll needs a directory without the leftover
        previous = now->name;
    }
    EXPECT_GT(mid_save, 0) << "no kill landed while the temporary file existed";
    EXPECT_GT(before_save + after_rename, 0);
}

} // namespace
} // namespace kestrel::test
