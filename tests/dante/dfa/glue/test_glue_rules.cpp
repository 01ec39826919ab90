// The glue's own rules, without the clients: the upgrade error map, the
// percent, type names and payloads that must change nothing.
#include "dante/dfa/dfa_glue_parts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(DfaGlueRules, UpgradeErrorMap)
{
    struct Case {
        uint16_t state;
        uint16_t lastError;
        DfaResult code;
    };
    const Case cases[] = {
        {2, 0, DFA_ERR_NOERR},
        {1, 0, DFA_ERR_NOERR},
        // A failure without an error is not a success.
        {3, 0, DFA_ERR_DAPI_UNKNOWN},
        {3, 0x101, DFA_ERR_DAPI_UPGRADE_DEV_CODE_MISMATCH},
        {3, 0x121, DFA_ERR_DAPI_UPGRADE_UNSUPPORTED_OPTIONS},
        {3, 0x201, DFA_ERR_DAPI_UPGRADE_FLASH_ACCESS_FAILED},
        {3, 0x300, DFA_ERR_DAPI_UPGRADE_DOWNLOAD_ERROR},
        {3, 0x307, DFA_ERR_DAPI_UPGRADE_FILENAME_TOO_LONG},
        {3, 0x104, DFA_ERR_DAPI_UNKNOWN},
        {3, 0x308, DFA_ERR_DAPI_UNKNOWN},
        {2, 0xFFFF, DFA_ERR_DAPI_UNKNOWN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dfa_conmon_upgrade_code(c.state, c.lastError), c.code) << c.state << " " << c.lastError;
}

TEST(DfaGlueRules, PercentIn64BitsAtMost100)
{
    struct Case {
        uint32_t progress;
        uint32_t total;
        uint16_t percent;
    };
    const Case cases[] = {
        {50, 200, 25},
        {0, 0, 0},
        {7, 0, 0},
        // progress x 100 passes 32 bits here.
        {50000000, 100000000, 50},
        {0xFFFFFFFF, 0xFFFFFFFF, 100},
        // More bytes than announced never shows above 100.
        {2000, 1000, 100},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dfa_conmon_percent(c.progress, c.total), c.percent) << c.progress << " of " << c.total;
}

TEST(DfaGlueRules, TypeNamesOnlyForKnownTypes)
{
    EXPECT_STREQ(dfa_conmon_type_name(0x60), "VERSIONS_STATUS");
    EXPECT_STREQ(dfa_conmon_type_name(0x70), "UPGRADE_STATUS");
    EXPECT_STREQ(dfa_conmon_type_name(0x90), "SYS_RESET");
    EXPECT_STREQ(dfa_conmon_type_name(0x131), "DANTE_READY_QUERY");
    EXPECT_STREQ(dfa_conmon_type_name(0x62), "unknown");
    EXPECT_STREQ(dfa_conmon_type_name(0), "unknown");
}

TEST(DfaGlueRules, ShortOrForeignMonitoringPayloadsChangeNothing)
{
    std::vector<uint8_t> message(24 + 60, 0);
    // Envelope length word covers a payload cut short of its header.
    message[2] = 0;
    message[3] = 24 + 4;
    std::memcpy(&message[16], "Audinate", 8);
    dfa_conmon_monitoring(2, message.data(), message.size());
    dfa_conmon_monitoring(2, message.data(), 10);
    dfa_conmon_monitoring(2, nullptr, 0);
    uint8_t state = 0;
    EXPECT_NE(dfa_conmon_device_state("anything", &state), DFA_OK);
}

} // namespace
