// Every bad message the server can send on purpose ends the client with that exact
// message and status 1; stale messages are ignored and the client plays on.
#include "server/faults.h"
#include "tests/e2e/e2e.h"

#include <string>

namespace kestrel::test {
namespace {

class ServerFault : public ::testing::TestWithParam<std::string> {};

TEST_P(ServerFault, EndsTheClientWithItsMessage) {
    const Fault* fault = find_fault(GetParam());
    ASSERT_NE(fault, nullptr);
    const Match match =
        play({"--fault", std::string(fault->name)}, {"--headless", "--seconds", "4"}, 8);
    EXPECT_FALSE(match.client.timed_out);
    if (fault->client_message.empty()) {
        EXPECT_EQ(match.client.status, 0) << match.client.err;
        EXPECT_EQ(match.client.err, "");
        EXPECT_GT(summary(match.client.out).at("snapshots"), 0);
    } else {
        EXPECT_EQ(match.client.status, 1);
        EXPECT_EQ(match.client.err, "client: " + std::string(fault->client_message) + "\n");
        EXPECT_EQ(match.client.out.find("Client stopped"), std::string::npos);
    }
}

std::vector<std::string> fault_names() {
    std::vector<std::string> names;
    for (const Fault& fault : fault_table()) names.emplace_back(fault.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(All, ServerFault, ::testing::ValuesIn(fault_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

} // namespace
} // namespace kestrel::test
