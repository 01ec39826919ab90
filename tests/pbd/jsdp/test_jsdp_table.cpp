// Merge and ageing of the service table, on a simulated clock.
#include "pbd/jsdp/jsdp_table.h"

#include "tests/pbd/jsdp/jsdp_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

uint32_t g_now = 0;
uint32_t fakeTick()
{
    return g_now;
}

class JsdpTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_now = 1000;
        oswrap_setTickSource(fakeTick);
        jsdp_tableClear(table.get(), JSDP_MAX_SERVICES);
    }
    void TearDown() override { oswrap_setTickSource(nullptr); }

    // A packet from 10.0.x.y heard on 10.0.0.1.
    static JsdpService heard(int sender, const std::string& payload = "model=X")
    {
        JsdpService s{};
        memcpy(s.tag, "JSDP", 4);
        s.addressKind = 4;
        s.announcedAddress = jsdptest::ipv4("10.0.0.9");
        s.serviceTypeLength = 8;
        memcpy(s.serviceType, "_jpa-scp", 8);
        s.payloadLength = static_cast<uint16_t>(payload.size());
        memcpy(s.payload, payload.data(), payload.size());
        s.localAddress = jsdptest::ipv4("10.0.0.1");
        s.senderAddress = jsdptest::ipv4(
            ("10.0." + std::to_string(1 + sender / 250) + "." + std::to_string(2 + sender % 250)).c_str());
        return s;
    }
    JsdpMerge merge(const JsdpService& s) { return jsdp_tableMerge(table.get(), JSDP_MAX_SERVICES, s, 6000); }
    bool age() { return jsdp_tableAge(table.get(), JSDP_MAX_SERVICES); }
    // Marks every record reported, as the dispatch does.
    void report()
    {
        for (int i = 0; i < JSDP_MAX_SERVICES; ++i)
            table[i].changed = 0;
    }
    int find(const JsdpService& s) const
    {
        for (int i = 0; i < JSDP_MAX_SERVICES; ++i)
            if (table[i].inUse && jsdp_sameAddress(table[i].senderAddress, s.senderAddress))
                return i;
        return -1;
    }

    std::unique_ptr<JsdpService[]> table{new JsdpService[JSDP_MAX_SERVICES]};
};

} // namespace

TEST_F(JsdpTable, KnowsAServiceBySenderAndLocalAddress)
{
    const JsdpService a = heard(0);
    EXPECT_EQ(merge(a), JsdpMerge::Changed);
    report();
    EXPECT_EQ(merge(a), JsdpMerge::Unchanged);
    EXPECT_EQ(table[0].changed, 0);

    EXPECT_EQ(merge(heard(0, "model=Y")), JsdpMerge::Changed);
    EXPECT_EQ(find(a), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(table[0].payload), table[0].payloadLength), "model=Y");

    // The same sender heard on another interface is another service.
    JsdpService other = heard(0);
    other.localAddress = jsdptest::ipv4("10.9.0.1");
    EXPECT_EQ(merge(other), JsdpMerge::Changed);
    EXPECT_EQ(table[1].inUse, 1);
}

TEST_F(JsdpTable, ReportsASilentServiceGoneOnceAndBackInTheSameRecord)
{
    merge(heard(0));
    report();
    g_now += 5999;
    EXPECT_FALSE(age());
    EXPECT_EQ(merge(heard(0)), JsdpMerge::Unchanged); // restarts the timer
    g_now += 5999;
    EXPECT_FALSE(age());
    g_now += 1;
    EXPECT_TRUE(age());
    EXPECT_EQ(table[0].alive, 0);
    EXPECT_EQ(table[0].changed, 1);
    report();
    g_now += 60000;
    EXPECT_FALSE(age()) << "a gone service is reported once";

    EXPECT_EQ(merge(heard(0)), JsdpMerge::Changed);
    EXPECT_EQ(table[0].alive, 1);
    EXPECT_EQ(find(heard(0)), 0);
}

TEST_F(JsdpTable, ReusesRecordsOfUnitsReportedGone)
{
    for (int i = 0; i < JSDP_MAX_SERVICES; ++i)
        ASSERT_EQ(merge(heard(i)), JsdpMerge::Changed);
    report();
    EXPECT_EQ(merge(heard(JSDP_MAX_SERVICES)), JsdpMerge::Full) << "a 129th sender while all are alive";

    // Unit 5 goes silent; until subscribers are told, its record is kept.
    g_now += 3000;
    for (int i = 0; i < JSDP_MAX_SERVICES; ++i)
        if (i != 5)
            merge(heard(i));
    g_now += 3000;
    EXPECT_TRUE(age());
    EXPECT_EQ(merge(heard(JSDP_MAX_SERVICES)), JsdpMerge::Full);
    EXPECT_EQ(table[5].alive, 0);

    report();
    EXPECT_EQ(merge(heard(JSDP_MAX_SERVICES)), JsdpMerge::Changed);
    EXPECT_EQ(find(heard(JSDP_MAX_SERVICES)), 5);
    EXPECT_EQ(table[5].alive, 1);
    EXPECT_EQ(find(heard(5)), -1);
}
