// Every named fault, sent to the test client, stops it with exactly the message its table
// row promises (or, for the stale packets, not at all).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "server/faults.h"
#include "tests/server/simulation.h"

namespace kestrel::test {
namespace {

TEST(ServerFaultTable, NamesAreUniqueAndCoverTheClientChecks) {
    std::set<std::string_view> names;
    for (const Fault& fault : fault_table()) {
        EXPECT_TRUE(names.insert(fault.name).second) << fault.name;
        EXPECT_EQ(find_fault(fault.name), &fault);
    }
    for (const char* required : {"invalid-header",
                                 "invalid-length",
                                 "invalid-welcome",
                                 "unsupported-tick-rates",
                                 "unsupported-ruleset",
                                 "invalid-welcome-identity",
                                 "session-mismatch",
                                 "invalid-transition-begin",
                                 "overlapping-transition",
                                 "too-many-early-chunks",
                                 "invalid-chunk-metadata",
                                 "invalid-chunk-length",
                                 "inconsistent-chunks",
                                 "conflicting-duplicate-chunk",
                                 "corrupt-map",
                                 "map-identity-mismatch",
                                 "invalid-transition-commit",
                                 "invalid-commit-weapon",
                                 "invalid-abort",
                                 "invalid-abort-epoch",
                                 "invalid-snapshot-part",
                                 "duplicate-snapshot-part",
                                 "duplicate-entity-identity",
                                 "invalid-interest-set",
                                 "snapshot-world-mismatch",
                                 "invalid-entity-record",
                                 "invalid-player-boost",
                                 "invalid-snapshot-channel",
                                 "invalid-control-channel",
                                 "truncated-packet",
                                 "trailing-bytes",
                                 "invalid-map-patch",
                                 "map-patch-checksum",
                                 "invalid-combat-event",
                                 "invalid-combat-kind",
                                 "invalid-sector-status-channel",
                                 "profile-in-use",
                                 "profile-error",
                                 "disconnect",
                                 "stale-packets"})
        EXPECT_NE(find_fault(required), nullptr) << required;
    EXPECT_EQ(find_fault("no-such-fault"), nullptr);
}

class ServerFault : public ::testing::TestWithParam<std::string_view> {};

TEST_P(ServerFault, ClientStopsWithTheTableMessage) {
    const Fault& fault = *find_fault(GetParam());
    ServerOptions options;
    options.enemies = options.items = 0;
    options.faults.fault = std::string(fault.name);
    Simulation sim(options);
    Simulation::Link& link = sim.add_client(test_profile(1));
    sim.run(3 * 30);
    EXPECT_EQ(sim.core.counters.faults, 1u);
    if (fault.client_message.empty()) {
        EXPECT_FALSE(link.error) << *link.error;
        EXPECT_TRUE(link.client.in_game());
        EXPECT_GT(link.client.snapshots, 20u);
    } else {
        ASSERT_TRUE(link.error) << "the client kept running";
        EXPECT_EQ(*link.error, fault.client_message);
    }
}

std::vector<std::string_view> all_names() {
    std::vector<std::string_view> names;
    for (const Fault& fault : fault_table()) names.push_back(fault.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Table, ServerFault, ::testing::ValuesIn(all_names()),
                         [](const ::testing::TestParamInfo<std::string_view>& info) {
                             std::string name(info.param);
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

TEST(ServerFaultMoment, PlayingFaultWaitsForPlay) {
    // Half a second after the commit, and only once.
    ServerOptions options;
    options.faults.fault = "invalid-combat-kind";
    Simulation sim(options);
    Simulation::Link& link = sim.add_client(test_profile(1));
    ASSERT_TRUE(sim.run_until([&] { return link.client.commits == 1; }, 30));
    const int committed_at = sim.step;
    ASSERT_TRUE(sim.run_until([&] { return link.error.has_value(); }, 60));
    // The server commits while handling the ack, before its tick of that step.
    EXPECT_GE(sim.step - committed_at + 1, static_cast<int>(ServerCore::fault_delay));
    EXPECT_GT(link.client.snapshots, 0u);
}

} // namespace
} // namespace kestrel::test
