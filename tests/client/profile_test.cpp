#include "client/profile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class Profile : public ::testing::Test {
  protected:
    fs::path dir;
    std::string path;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kestrel-profile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = (dir / "profile.bin").string();
    }
    void TearDown() override { fs::remove_all(dir); }
};

Bytes read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Credentials stored() {
    Credentials credentials;
    for (std::size_t i = 0; i < 16; ++i) credentials.token[i] = static_cast<std::uint8_t>(0xA0 + i);
    credentials.name = "ALICE";
    credentials.party = "CREW9";
    credentials.color = 3;
    return credentials;
}

Credentials reread(const std::string& path) {
    const Bytes bytes = read_file(path);
    Reader reader(bytes);
    return Credentials::read(reader);
}

void expect_save_refused(const std::string& path, const std::string& message) {
    try {
        save_profile(path, stored());
        ADD_FAILURE() << "saved to " << path;
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(error.what(), message);
    }
}

TEST_F(Profile, ValidFileIsKeptAndRewrittenAsTheExactRecord) {
    write_file(path, stored().write().bytes);
    const Credentials credentials = set_up_profile(path, "", "");
    EXPECT_EQ(credentials, stored());
    EXPECT_EQ(read_file(path), stored().write().bytes);
    EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST_F(Profile, WrongSizesAreReplacedByAValidRecordWithAFreshToken) {
    for (std::size_t size : {std::size_t{0}, credentials_size - 1, credentials_size + 1}) {
        Bytes bytes = stored().write().bytes;
        bytes.resize(size, 0);
        write_file(path, bytes);
        const Credentials credentials = set_up_profile(path, "", "");
        EXPECT_NE(credentials.token, stored().token) << size;
        EXPECT_NE(credentials.token, Credentials{}.token) << size;
        EXPECT_EQ(credentials.name, "RANGER");
        EXPECT_EQ(credentials.party, "");
        EXPECT_EQ(read_file(path).size(), credentials_size);
        EXPECT_EQ(reread(path), credentials);
    }
}

TEST_F(Profile, RefusedRecordKeepsItsTokenAndTakesTheDefaults) {
    const auto corrupt = [&](std::size_t offset, std::uint8_t value) {
        Bytes bytes = stored().write().bytes;
        bytes[offset] = value;
        write_file(path, bytes);
        const Credentials credentials = set_up_profile(path, "", "");
        Credentials expected;
        expected.token = stored().token;
        EXPECT_EQ(credentials, expected) << offset;
        EXPECT_EQ(read_file(path), expected.write().bytes);
    };
    corrupt(16, 'a'); // lower-case name: invalid label
    corrupt(16, 0);   // empty name: invalid profile
    corrupt(33, '-'); // party: invalid label
    corrupt(44, 5);   // colour out of range
}

TEST_F(Profile, RefusedRecordWithZeroTokenGetsAFreshOne) {
    Credentials zero = stored();
    zero.token = {};
    Bytes bytes = zero.write().bytes;
    bytes[44] = 9;
    write_file(path, bytes);
    EXPECT_NE(set_up_profile(path, "", "").token, Credentials{}.token);
}

TEST_F(Profile, NameAndPartyOptionsAreAppliedAndPersisted) {
    write_file(path, stored().write().bytes);
    const Credentials credentials = set_up_profile(path, "BOB_2", "");
    EXPECT_EQ(credentials.token, stored().token);
    EXPECT_EQ(credentials.name, "BOB_2");
    EXPECT_EQ(credentials.party, "CREW9");
    EXPECT_EQ(reread(path), credentials);
    EXPECT_EQ(reread(path).party, "CREW9");
    set_up_profile(path, "", "NEWCREW");
    EXPECT_EQ(reread(path).name, "BOB_2");
    EXPECT_EQ(reread(path).party, "NEWCREW");
}

TEST_F(Profile, EveryNewTokenIsDrawnAfresh) {
    const Credentials a = complete_profile(Credentials{}, "", "");
    const Credentials b = complete_profile(Credentials{}, "", "");
    EXPECT_NE(a.token, b.token);
    EXPECT_EQ(complete_profile(stored(), "", "").token, stored().token);
}

TEST_F(Profile, SaveReplacesTheProfileAndTruncatesAStaleTemporary) {
    write_file(path, Bytes(100, 0xEE));
    write_file(path + ".tmp", Bytes(300, 0xEE)); // left by an interrupted save
    save_profile(path, stored());
    EXPECT_EQ(read_file(path), stored().write().bytes);
    EXPECT_FALSE(fs::exists(path + ".tmp"));
}

// Tests run as root, for whom a read-only directory is still writable, so the failures are
// provoked with paths that no user can create: one below a regular file and one below a
// directory that does not exist.
TEST_F(Profile, UnwritableTemporaryFileCannotSaveProfile) {
    write_file((dir / "plain").string(), Bytes{1});
    expect_save_refused((dir / "plain" / "profile.bin").string(), "cannot save profile");
    expect_save_refused((dir / "missing" / "profile.bin").string(), "cannot save profile");
    try {
        set_up_profile((dir / "missing" / "profile.bin").string(), "BOB", "");
        ADD_FAILURE() << "start-up saved into a missing directory";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "cannot save profile");
    }
}

TEST_F(Profile, RefusedRenameReportsThePlatformTextAndKeepsWhatWasThere) {
    // The temporary file is written, but a file cannot be renamed over a non-empty directory.
    fs::create_directories(dir / "occupied" / "inside");
    const std::string target = (dir / "occupied").string();
    try {
        save_profile(target, stored());
        ADD_FAILURE() << "renamed over a directory";
    } catch (const std::runtime_error& error) {
        EXPECT_STRNE(error.what(), "");
        EXPECT_STRNE(error.what(), "cannot save profile");
    }
    EXPECT_TRUE(fs::is_directory(dir / "occupied" / "inside"));
}

TEST_F(Profile, EmptyPathIsMemoryOnly) {
    EXPECT_EQ(load_profile(""), Credentials{});
    EXPECT_NO_THROW(save_profile("", stored()));
    EXPECT_NE(set_up_profile("", "", "").token, Credentials{}.token);
}

TEST_F(Profile, PathComesFromThePreferenceDirectoryUnlessReplaced) {
    // SDL puts the preference directory under XDG_DATA_HOME (and creates it).
    const std::string data = (dir / "data").string();
    ASSERT_EQ(setenv("XDG_DATA_HOME", data.c_str(), 1), 0);

    // Headless without a profile file asks no one and creates nothing.
    EXPECT_EQ(resolve_profile_path(true, ""), "");
    EXPECT_FALSE(fs::exists(data));
    EXPECT_EQ(resolve_profile_path(true, "/x/p.bin"), "/x/p.bin");

    EXPECT_EQ(fs::path(resolve_profile_path(false, "")),
              fs::path(data) / "Lanternfox" / "Duskhollow" / "profile.bin");
    EXPECT_EQ(resolve_profile_path(false, "/x/p.bin"), "/x/p.bin");
    unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace kestrel
