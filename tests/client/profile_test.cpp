// Profile storage below the real client (tests/e2e covers the 44/46-byte files, a corrupt
// name, --name before a failing connection and the headless run): the refusal paths of a
// stored record, the options, the save through a temporary file and the path resolution.
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

std::string save_error(const std::string& path) {
    try {
        save_profile(path, stored());
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(saved)";
}

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

TEST_F(Profile, RefusedRecordsKeepANonZeroTokenAndTakeTheDefaults) {
    struct Case {
        std::size_t offset;
        std::uint8_t value;
        bool zero_token;
    };
    // Lower-case name, empty name, bad party, colour out of range; a zero token is redrawn.
    for (const Case c : {Case{16, 'a', false}, Case{16, 0, false}, Case{33, '-', false},
                         Case{44, 5, false}, Case{44, 9, true}}) {
        SCOPED_TRACE(c.offset);
        Credentials original = stored();
        if (c.zero_token) original.token = {};
        Bytes bytes = original.write().bytes;
        bytes[c.offset] = c.value;
        write_file(path, bytes);
        const Credentials credentials = set_up_profile(path, "", "");
        Credentials expected;
        expected.token = c.zero_token ? credentials.token : stored().token;
        EXPECT_EQ(credentials, expected);
        EXPECT_NE(credentials.token, Credentials{}.token);
        EXPECT_EQ(read_file(path), expected.write().bytes); // rewritten at once
    }
    write_file(path, {}); // an empty file gets a fresh profile as well
    EXPECT_NE(set_up_profile(path, "", "").token, Credentials{}.token);
    EXPECT_EQ(read_file(path).size(), credentials_size);
}

TEST_F(Profile, OptionsReplaceOnlyWhatTheyNameAndEveryTokenIsFresh) {
    write_file(path, stored().write().bytes);
    Credentials credentials = set_up_profile(path, "BOB_2", "");
    EXPECT_EQ(credentials.token, stored().token);
    EXPECT_EQ(credentials.name, "BOB_2");
    EXPECT_EQ(credentials.party, "CREW9");
    credentials.party = "NEWCREW";
    EXPECT_EQ(set_up_profile(path, "", "NEWCREW"), credentials);
    EXPECT_EQ(read_file(path), credentials.write().bytes);

    EXPECT_NE(complete_profile({}, "", "").token, complete_profile({}, "", "").token);
    EXPECT_EQ(load_profile(""), Credentials{});
    EXPECT_NO_THROW(save_profile("", stored())); // memory-only
    EXPECT_NE(set_up_profile("", "", "").token, Credentials{}.token);
}

TEST_F(Profile, SaveGoesThroughTheTemporaryFileAndReportsEachFailure) {
    write_file(path, Bytes(100, 0xEE));
    write_file(path + ".tmp", Bytes(300, 0xEE)); // left by an interrupted save
    save_profile(path, stored());
    EXPECT_EQ(read_file(path), stored().write().bytes);
    EXPECT_FALSE(fs::exists(path + ".tmp"));

    // As root a read-only directory is still writable: a path below a regular file or a
    // missing directory is not.
    write_file((dir / "plain").string(), Bytes{1});
    EXPECT_EQ(save_error((dir / "plain" / "profile.bin").string()), "cannot save profile");
    EXPECT_EQ(save_error((dir / "missing" / "profile.bin").string()), "cannot save profile");
    EXPECT_THROW(set_up_profile((dir / "missing" / "p.bin").string(), "BOB", ""),
                 std::runtime_error);
    // A file cannot be renamed over a non-empty directory: the platform's own text.
    fs::create_directories(dir / "occupied" / "inside");
    const std::string refused = save_error((dir / "occupied").string());
    EXPECT_NE(refused, "(saved)");
    EXPECT_NE(refused, "cannot save profile");
    EXPECT_NE(refused, "");
    EXPECT_TRUE(fs::is_directory(dir / "occupied" / "inside"));
}

TEST_F(Profile, PathComesFromThePreferenceDirectoryUnlessReplaced) {
    const std::string data = (dir / "data").string();
    ASSERT_EQ(setenv("XDG_DATA_HOME", data.c_str(), 1), 0); // where SDL puts it
    EXPECT_EQ(resolve_profile_path(true, ""), "");
    EXPECT_FALSE(fs::exists(data)); // headless asks no one
    EXPECT_EQ(resolve_profile_path(true, "/x/p.bin"), "/x/p.bin");
    EXPECT_EQ(fs::path(resolve_profile_path(false, "")),
              fs::path(data) / "Lanternfox" / "Duskhollow" / "profile.bin");
    EXPECT_EQ(resolve_profile_path(false, "/x/p.bin"), "/x/p.bin");
    unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace kestrel
