// Kills the real client with SIGKILL at random instants of its start-up save. Whenever it
// dies, "profile.bin" must still be a complete record holding the previous or the new name,
// and the player's token must never change.
#include "protocol/credentials.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::optional<Credentials> decode(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() != credentials_size) return std::nullopt;
    try {
        Reader reader(bytes);
        return Credentials::read(reader);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

double micros_since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Whether the child has ended, without reaping it (Child::wait still collects it).
bool ended(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

void spin_until(Clock::time_point start, double micros) {
    while (micros_since(start) < micros) {
    }
}

TEST(ProfileCrash, KillsDuringStartUpLeaveTheOldOrTheNewProfile) {
    const fs::path dir =
        fs::temp_directory_path() / ("kestrel-profile-crash-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> cleanup(
        &dir, [](const fs::path* p) { fs::remove_all(*p); });
    const fs::path path = dir / "profile.bin";
    const fs::path temporary = dir / "profile.bin.tmp";
    auto start_client = [&](const std::string& name) {
        return std::make_unique<Child>(KESTREL_CLIENT_BIN,
                                       std::vector<std::string>{"--headless", "--demo", "--frames",
                                                                "1", "--profile-file",
                                                                path.string(), "--name", name});
    };

    // A complete run writes the first profile; every later one must keep its token.
    ASSERT_EQ(start_client("SEED")->wait(std::chrono::seconds(30)).status, 0);
    const std::optional<Credentials> seeded = decode(path);
    ASSERT_TRUE(seeded);
    ASSERT_EQ(seeded->name, "SEED");

    // Unkilled runs, watched by polling the directory: how long a whole run takes and how
    // long the temporary file lives (open to rename), so the kills below can aim at it.
    std::vector<double> runs;
    double save_us = 0;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        auto child = start_client("CALIBRATE" + std::to_string(i));
        double appeared = -1;
        double renamed = -1;
        while (renamed < 0 && !ended(child->pid())) {
            const bool exists = fs::exists(temporary);
            if (exists && appeared < 0) appeared = micros_since(start);
            if (!exists && appeared >= 0) renamed = micros_since(start);
        }
        ASSERT_EQ(child->wait(std::chrono::seconds(30)).status, 0);
        runs.push_back(micros_since(start));
        if (renamed >= 0) save_us = std::max(save_us, renamed - appeared);
    }
    ASSERT_GT(save_us, 0) << "no save was seen in progress";
    std::sort(runs.begin(), runs.end());
    const double run_us = runs[runs.size() / 2];
    // The sanitizer build starts far slower; the same time budget then buys fewer kills.
    const int iterations = std::clamp(static_cast<int>(12e6 / run_us), 50, 300);

    std::mt19937 random(12345);
    const std::optional<Credentials> calibrated = decode(path);
    ASSERT_TRUE(calibrated);
    std::string previous = calibrated->name;
    int before_save = 0;
    int mid_save = 0;
    int after_rename = 0;
    int exited = 0;
    for (int i = 0; i < iterations; ++i) {
        const std::string name = "KILL" + std::to_string(i);
        const auto start = Clock::now();
        auto child = start_client(name);
        if (i % 2 == 0) {
            // Any instant from spawn to the end of an unkilled run.
            spin_until(start, std::uniform_real_distribution<double>(0, run_us)(random));
        } else {
            // Once the save has begun, any instant of its measured length.
            while (!fs::exists(temporary) && !ended(child->pid())) {
            }
            const auto begun = Clock::now();
            spin_until(begun, std::uniform_real_distribution<double>(0, save_us)(random));
        }
        kill(child->pid(), SIGKILL);
        const Outcome outcome = child->wait(std::chrono::seconds(30));

        const std::optional<Credentials> stored = decode(path);
        ASSERT_TRUE(stored) << "after kill " << i << ": profile.bin is missing or no record";
        ASSERT_TRUE(stored->name == previous || stored->name == name)
            << "after kill " << i << ": " << stored->name;
        ASSERT_EQ(stored->token, seeded->token) << "after kill " << i;
        const bool left_temporary = fs::exists(temporary);
        if (outcome.status == 0) {
            ++exited;
            EXPECT_EQ(stored->name, name);
        } else if (left_temporary) {
            ++mid_save;
        } else if (stored->name == name) {
            ++after_rename;
        } else {
            ++before_save;
        }
        ASSERT_TRUE(outcome.status == 0 || outcome.status == -1) << outcome.err;
        // The next run's poll needs a directory without the leftover.
        fs::remove(temporary);
        previous = stored->name;
    }
    std::printf("%d kills (run %.0f us, save %.0f us): %d before the save, %d mid-save, %d after "
                "the rename, %d runs ended by themselves\n",
                iterations, run_us, save_us, before_save, mid_save, after_rename, exited);
    EXPECT_GT(mid_save, 0) << "no kill landed while the temporary file existed";
    EXPECT_GT(before_save + after_rename, 0);

    // A leftover from a killed save does not stand in the way of the next one.
    std::ofstream(temporary, std::ios::binary) << "torn";
    ASSERT_EQ(start_client("AFTER")->wait(std::chrono::seconds(30)).status, 0);
    const std::optional<Credentials> last = decode(path);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->name, "AFTER");
    EXPECT_EQ(last->token, seeded->token);
    EXPECT_FALSE(fs::exists(temporary));
}

} // namespace
} // namespace kestrel::test
