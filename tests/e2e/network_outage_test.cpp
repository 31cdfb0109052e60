// The real client and server in a network namespace of the test's own, where the network
// can be taken away: a failed socket send is an outage to sit out, not the end of the run.
#include "tests/e2e/e2e.h"

namespace kestrel::test {
namespace {

class NetworkOutage : public ::testing::Test {
  protected:
    void SetUp() override {
        const Outcome probe = run("/usr/bin/unshare", {"-n", "true"}, 30s);
        if (probe.status != 0)
            GTEST_SKIP() << "cannot create a network namespace (unshare -n needs root): "
                         << probe.err;
    }
};

TEST_F(NetworkOutage, WithoutAnyNetworkTheConnectionTimesOut) {
    // A fresh namespace has only its loopback, and that is down: every send fails. The
    // message waits for the client's own clock to pass 10 seconds.
    const Outcome client = run("/usr/bin/unshare", {"-n", KESTREL_CLIENT_BIN, "--headless", "-l"});
    EXPECT_EQ(client.err,
              "client: connection timed out: 127.0.0.1:7777 (UDP); check server availability\n");
    EXPECT_EQ(client.status, 1);
}

TEST_F(NetworkOutage, AGameRidesOutTwoSecondsWithoutRoutes) {
    // Without the loopback's local routes every send fails with "network unreachable" (a
    // link that is merely down still accepts sends): seconds 3 to 5 of the client's 14.
    const std::string script = R"(
        ip link set lo up
        "$1" --seconds 16 & server=$!
        sleep 0.3
        "$2" --headless -l --seconds 14 & client=$!
        sleep 3
        ip route del local 127.0.0.0/8 dev lo table local
        ip route del local 127.0.0.1 dev lo table local
        sleep 2
        ip route add local 127.0.0.0/8 dev lo table local
        ip route add local 127.0.0.1 dev lo table local
        wait $client; echo "client status $?"
        wait $server; echo "server status $?")";
    const Outcome both =
        run("/usr/bin/unshare",
            {"-n", "sh", "-c", script, "sh", KESTREL_SERVER_BIN, KESTREL_CLIENT_BIN}, 90s);
    EXPECT_EQ(both.err, "") << "neither program nor a route change may complain";
    for (const char* line :
         {"client status 0\n", "\nServer stopped: clients=1 ", "server status 0\n"})
        EXPECT_NE(both.out.find(line), std::string::npos) << both.out;
    // 15 snapshots a second, none while the routes are gone: more than 5 seconds' worth plus
    // a margin means play resumed afterwards.
    auto values = summary(both.out);
    for (const char* name : {"snapshots", "reconciliations"})
        EXPECT_GT(values[name], 15 * (5 + 2)) << name;
}

} // namespace
} // namespace kestrel::test
