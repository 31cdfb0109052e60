// The headless client under valgrind's memcheck for a short networked run with combat and a
// saved profile: no invalid access, no use of uninitialised memory, and nothing definitely
// or indirectly lost. Headless mode loads no GPU or audio driver, so there is nothing of
// theirs to excuse.
#include "tests/e2e/e2e.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

// Valgrind cannot run a program built with AddressSanitizer, and the test is built with the
// same flags as the client.
constexpr bool sanitized() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

std::string find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        const fs::path candidate = fs::path(directory) / name;
        if (!directory.empty() && access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return "";
}

TEST(Valgrind, HeadlessNetworkedRunIsClean) {
    if (sanitized()) GTEST_SKIP() << "built with AddressSanitizer, which valgrind cannot run";
    const std::string valgrind = find_program("valgrind");
    if (valgrind.empty()) GTEST_SKIP() << "valgrind is not installed";

    const fs::path dir =
        fs::temp_directory_path() / ("kestrel-valgrind-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path log = dir / "memcheck.log";
    const int port = free_udp_port();
    Child server(KESTREL_SERVER_BIN, {"--port", std::to_string(port), "--seconds", "60"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Outcome client =
        run(valgrind,
            {"--error-exitcode=99", "--leak-check=full",
             "--errors-for-leak-kinds=definite,indirect", "--log-file=" + log.string(),
             KESTREL_CLIENT_BIN, "--headless", "-s", "127.0.0.1:" + std::to_string(port),
             "--seconds", "4", "--auto-combat", "--require-commits", "1", "--name", "memcheck",
             "--profile-file", (dir / "profile.bin").string()},
            std::chrono::seconds(120));
    kill(server.pid(), SIGTERM); // --seconds is only the backstop
    const Outcome served = server.wait(std::chrono::seconds(30));
    std::ifstream in(log);
    const std::string report{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    fs::remove_all(dir);

    EXPECT_FALSE(client.timed_out);
    EXPECT_EQ(client.status, 0) << client.err << report;
    EXPECT_EQ(client.err, "");
    const auto values = summary(client.out);
    ASSERT_FALSE(values.empty()) << client.out;
    EXPECT_GE(values.at("commits"), 1);
    EXPECT_GT(values.at("snapshots"), 0);
    EXPECT_NE(report.find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos) << report;
    EXPECT_EQ(served.status, 0) << served.err;
}

} // namespace
} // namespace kestrel::test
