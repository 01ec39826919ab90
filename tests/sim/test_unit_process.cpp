// The unit-process helper: units of each family serve SCP on their own
// address with the caller's names, and a killed unit neither hangs nor
// kills the test that still talks to it.
#include "tests/support/netns.h"
#include "tests/support/test_support.h"
#include "tests/support/unit_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

// True when a TCP connect to address:49280 is accepted.
bool serves(const std::string& address)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(qtest::UnitProcess::kScpPort);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

TEST(SimUnitProcess, FamiliesServeWithTheirNamesAndAKilledUnitIsGoneQuietly)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    qtest::UnitRack rack(bed);
    const auto unit = [](int modelType, int host, const char* name) {
        qtest::UnitSpec spec;
        spec.modelType = modelType;
        spec.host = host;
        spec.deviceName = name;
        return spec;
    };
    const qtest::UnitSpec brox = unit(8, 2, "Front"), sorn = unit(5, 3, "Side"), mavik = unit(6, 4, "Back");
    ASSERT_TRUE(rack.start({brox, sorn, mavik})) << rack.error();

    EXPECT_EQ("BroxL-D2", rack[0].model());
    EXPECT_EQ("Sorn-D", rack[1].model());
    EXPECT_EQ("J003", rack[1].unitId());
    EXPECT_EQ("02:53:00:00:00:04", rack[2].mac());
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(serves(rack[i].address())) << rack[i].address();
    EXPECT_TRUE(rack[1].set("Current/Dev/UserPatch", 7, 0, "42"));
    EXPECT_EQ("42", rack[1].value("Current/Dev/UserPatch", 7, 0));
    EXPECT_FALSE(rack[2].set("Current/Dev/NoSuchRow", 0, 0, "1"));
    // The kernel completes a connect before the unit's loop accepts it, so
    // the count is read once the unit has had its turn (bounded).
    uint64_t accepted = 0;
    for (int i = 0; i < 200 && (accepted = rack[0].stats()["accepted"]) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(1u, accepted);

    // Killed: no answer, promptly, and no SIGPIPE for the writer.
    rack[1].kill();
    EXPECT_FALSE(rack[1].running());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ("", rack[1].value("Current/Dev/UserPatch", 7, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_FALSE(serves(rack[1].address()));

    // Started again: the same address, a fresh memory.
    ASSERT_TRUE(rack.restart(1)) << rack.error();
    EXPECT_TRUE(serves(rack[1].address()));
    EXPECT_EQ("0", rack[1].value("Current/Dev/UserPatch", 7, 0));
}

} // namespace
