// The stored profile as the real client leaves it on disk: start-up always rewrites
// "profile.bin" as a valid 45-byte record, keeps a usable token, and applies --name before
// anything can fail.
#include "protocol/credentials.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

class ProfileFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kestrel-profile-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "profile.bin").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    Bytes read() const {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    Credentials stored() const {
        const Bytes bytes = read();
        EXPECT_EQ(bytes.size(), 45u);
        Reader reader(bytes);
        return Credentials::read(reader);
    }
    Outcome demo(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--headless", "--demo",         "--frames",
                                      "1",          "--profile-file", path};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(KESTREL_CLIENT_BIN, args, std::chrono::seconds(30));
    }

    fs::path dir;
    std::string path;
};

Credentials sample() {
    Credentials credentials;
    for (std::size_t i = 0; i < credentials.token.size(); ++i)
        credentials.token[i] = static_cast<std::uint8_t>(0xA0 + i);
    credentials.name = "NOVA";
    credentials.party = "CREW7";
    credentials.color = 2;
    return credentials;
}

TEST_F(ProfileFile, WrongSizesAreReplacedWithAFreshProfile) {
    for (std::size_t size : {44u, 46u}) {
        write(Bytes(size, 0x41));
        ASSERT_EQ(demo().status, 0);
        const Credentials credentials = stored();
        EXPECT_EQ(credentials.name, "RANGER");
        EXPECT_NE(credentials.token, Credentials{}.token) << "a new token was drawn";
    }
}

TEST_F(ProfileFile, AValidProfileIsKeptAndRewrittenUnchanged) {
    write(sample().write().bytes);
    ASSERT_EQ(demo().status, 0);
    EXPECT_EQ(stored(), sample());
    EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST_F(ProfileFile, ACorruptNameKeepsTheToken) {
    Bytes bytes = sample().write().bytes;
    bytes[16] = 'a'; // lower case is no label character
    write(bytes);
    ASSERT_EQ(demo().status, 0);
    const Credentials credentials = stored();
    EXPECT_EQ(credentials.token, sample().token);
    EXPECT_EQ(credentials.name, "RANGER");
    EXPECT_EQ(credentials.party, "");
}

TEST_F(ProfileFile, NameIsSavedEvenWhenTheConnectionThenFails) {
    write(sample().write().bytes);
    const Outcome outcome = run(
        KESTREL_CLIENT_BIN,
        {"--headless", "--profile-file", path, "--name", "ace-1", "--host", "no-such-host.invalid"},
        std::chrono::seconds(30));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "client: cannot resolve server no-such-host.invalid\n");
    const Credentials credentials = stored();
    EXPECT_EQ(credentials.name, "ACE1");
    EXPECT_EQ(credentials.token, sample().token);
}

TEST_F(ProfileFile, AnUnwritableLocationEndsTheRun) {
    // Tests run as root, for whom a read-only directory is still writable; a path below a
    // regular file can be written by nobody.
    write(sample().write().bytes);
    const std::string below_file = path + "/profile.bin";
    const Outcome outcome = run(
        KESTREL_CLIENT_BIN, {"--headless", "--demo", "--frames", "1", "--profile-file", below_file},
        std::chrono::seconds(30));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "client: cannot save profile\n");
    EXPECT_EQ(outcome.out, "");
}

TEST_F(ProfileFile, TheSavedFileIsTheOwnersAlone) {
    // A first save, then one replacing a world-readable profile through a stale ".tmp" that
    // anyone may write (the creation mode alone would leave that one as it was).
    for (const bool replacing : {false, true}) {
        if (replacing) {
            fs::permissions(path, fs::perms(0644));
            std::ofstream(path + ".tmp") << "stale";
            fs::permissions(path + ".tmp", fs::perms(0666));
        }
        ASSERT_EQ(demo().status, 0);
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write)
            << "replacing=" << replacing;
    }
}

TEST_F(ProfileFile, HeadlessWithoutAProfileFileTouchesNothing) {
    // The per-user preference directory would live below XDG_DATA_HOME.
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    const Outcome outcome = run(KESTREL_CLIENT_BIN, {"--headless", "--demo", "--frames", "1"},
                                std::chrono::seconds(30));
    EXPECT_EQ(outcome.status, 0);
    unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(fs::is_empty(dir));
}

} // namespace
} // namespace kestrel::test
