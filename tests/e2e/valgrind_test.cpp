// The headless client under memcheck for a short networked run with combat and a saved
// profile: no invalid access, no uninitialised use, nothing definitely or indirectly lost.
// Headless mode loads no GPU or audio driver, so there is nothing of theirs to excuse.
#include "tests/e2e/e2e.h"

namespace kestrel::test {
namespace {

TEST(Valgrind, HeadlessNetworkedRunIsClean) {
#ifdef __SANITIZE_ADDRESS__ // as the client is; valgrind cannot run that
    GTEST_SKIP() << "built with AddressSanitizer, which valgrind cannot run";
#endif
    if (!fs::exists("/usr/bin/valgrind")) GTEST_SKIP() << "valgrind is not installed";
    const TempDir dir("kestrel-valgrind");
    const Match match = play(
        {},
        {"--error-exitcode=99", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect",
         "--log-file=" + (dir / "log").string(), KESTREL_CLIENT_BIN, "--headless", "--seconds", "4",
         "--auto-combat", "--require-commits", "1", "--name", "memcheck", "--profile-file",
         (dir / "profile.bin").string()},
        60, "/usr/bin/valgrind");
    const std::string report = read_file(dir / "log");
    EXPECT_EQ(match.client.status, 0) << match.client.err << report;
    EXPECT_EQ(match.client.err, "");
    const auto values = summary(match.client.out);
    ASSERT_FALSE(values.empty()) << match.client.out;
    EXPECT_GE(values.at("commits"), 1);
    EXPECT_GT(values.at("snapshots"), 0);
    EXPECT_NE(report.find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos) << report;
    EXPECT_EQ(match.server.status, 0) << match.server.err;
}

} // namespace
} // namespace kestrel::test
