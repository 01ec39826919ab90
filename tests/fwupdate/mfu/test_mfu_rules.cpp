// The model decisions without a socket: version compare, model check,
// sub image and the pull URL.
#include "fwupdate/mfu/mfu_rules.h"
#include "fwupdate/mfu/mfu_unit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MfuUnitLinkRules, VersionCompare)
{
    const struct {
        const char* package;
        const char* unit;
        int32_t result;
    } rows[] = {
        {"V110", "V1.10", MFU_VERSION_EQUAL}, // the unit's '.' is stepped over
        {"V1.10", "V1.10", MFU_VERSION_SMALLER}, // the package's '.' meets the unit's next digit
        {"V120", "V1.10", MFU_VERSION_GREATER},
        {"V100", "V1.10", MFU_VERSION_SMALLER},
        {"v110", "V1.10", MFU_VERSION_EQUAL},
        {"R110", "r1.10", MFU_VERSION_EQUAL},
        {"R110", "V1.10", MFU_VERSION_OTHER_LETTER},
        {"V110", "R1.10", MFU_VERSION_OTHER_LETTER},
        {"V110", "1.10", MFU_VERSION_GREATER}, // unreadable unit version
        {"V110", "", MFU_VERSION_GREATER},
        {"110", "V1.10", MFU_VERSION_UNDECIDED},
        {"", "V1.10", MFU_VERSION_UNDECIDED},
        {"V11", "V1.10", MFU_VERSION_EQUAL}, // ends with the package text
        {"V1100", "V1.10", MFU_VERSION_GREATER},
        // Only 16 characters count.
        {"V111111111111111", "V11111111111111", MFU_VERSION_GREATER},
        {"V11111111111111129", "V11111111111111123", MFU_VERSION_EQUAL},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mfu_compareVersion(row.package, row.unit), row.result) << row.package << " vs " << row.unit;
    EXPECT_EQ(mfu_compareVersion(nullptr, "V1"), MFU_VERSION_UNDECIDED);
}

TEST(MfuUnitLinkRules, ModelCodeAndCheck)
{
    const uint32_t accepted[] = {1, 7, 8, 3, 4, 0};
    const struct {
        const char* name;
        uint32_t code;
        uint32_t expected;
        int32_t check;
    } rows[] = {
        {"Sorn-D16", 3, 3, MFU_MODEL_ACCEPTED},
        {"Mavik-D", 2, 2, MFU_MODEL_REFUSED}, // not an accepted code
        {"Z-Series 24", 1, 1, MFU_MODEL_ACCEPTED},
        {"PellM-D2", 4, 4, MFU_MODEL_ACCEPTED}, // "PellM-D" stands first
        {"Kesh", 5, 5, MFU_MODEL_REFUSED},
        {"Crell-X-AM3352", 9, 9, MFU_MODEL_REFUSED},
        {"BroxM-D2", 7, 7, MFU_MODEL_ACCEPTED},
        {"BroxL-D2 rev B", 7, 7, MFU_MODEL_ACCEPTED},
        {"BroxL-D3", 8, 8, MFU_MODEL_ACCEPTED},
        {"BroxL-D3", 8, 7, MFU_MODEL_REFUSED},
        {"BroxL-D3", 8, 10, MFU_MODEL_ACCEPTED}, // 10 takes any accepted model
        {"BroxL-D3", 8, 0, MFU_MODEL_UNDECIDED},
        {"Brox", 11, 7, MFU_MODEL_REFUSED},
        {"", 11, 7, MFU_MODEL_REFUSED},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(mfu_modelCode(row.name), row.code) << row.name;
        EXPECT_EQ(mfu_checkModel(row.name, row.expected, accepted), row.check) << row.name << " " << row.expected;
    }
}

TEST(MfuUnitLinkRules, SubImage)
{
    const struct {
        const char* name;
        const char* version;
        const char* subImage; // nullptr: none
    } rows[] = {
        {"BroxM-D2", "V200", "Brox-D2_V2.10"},
        {"BroxL-D2", "V180", "Brox-D2_V2.10"},
        {"PellM-D2", "V181 beta", "Pell-D2_V2.10"},
        {"BroxM-D2", "V1.80", nullptr}, // the number stops at the '.'
        {"BroxM-D2", "V179", nullptr},
        {"BroxM-D2", "V", nullptr},
        {"BroxM-D2", "V99999999999999", "Brox-D2_V2.10"},
        {"BroxL-D3", "V200", nullptr},
        {"Sorn-D16", "V200", nullptr},
        {"PellM-D", "V200", nullptr},
    };
    for (const auto& row : rows) {
        char name[MFU_SUB_IMAGE_MAX];
        const bool has = mfu_subImage(row.name, row.version, "V2.10", name, sizeof(name));
        EXPECT_EQ(has, row.subImage != nullptr) << row.name << " " << row.version;
        EXPECT_STREQ(name, row.subImage ? row.subImage : "") << row.name << " " << row.version;
    }
    char tiny[8];
    EXPECT_FALSE(mfu_subImage("BroxM-D2", "V200", "V2.10", tiny, sizeof(tiny)));
    EXPECT_STREQ(tiny, "");
}

TEST(MfuUnitLinkRules, PullUrlTakesTheFileNameAfterTheLastSeparator)
{
    const struct {
        const char* path;
        const char* url;
    } rows[] = {
        {"/data/pkg/data/BroxL-D3.bin", "tftp://10.0.0.5:1999/BroxL-D3.bin"},
        {"C:\\pkg\\data\\fw.bin", "tftp://10.0.0.5:1999/fw.bin"},
        {"/data\\mixed/fw.bin", "tftp://10.0.0.5:1999/fw.bin"},
        {"fw.bin", "tftp://10.0.0.5:1999/fw.bin"},
    };
    for (const auto& row : rows) {
        ModelFirmwareUpdate link;
        ASSERT_EQ(link.setPcAddress("10.0.0.5"), MFU_OK);
        ASSERT_EQ(link.setFile(row.path, 8, "V2.00"), MFU_OK);
        EXPECT_EQ(link.requestUrl(), row.url) << row.path;
    }
}

TEST(MfuUnitLinkRules, SetUpNeedsAllFour)
{
    ModelFirmwareUpdate link;
    EXPECT_EQ(link.initialize(), MFU_E_FAIL);
    EXPECT_LT(link.setPcAddress("not an address"), 0);
    EXPECT_EQ(link.setPcAddress("127.0.0.1"), MFU_OK);
    EXPECT_EQ(link.setUnitAddress("127.0.0.2"), MFU_OK);
    EXPECT_EQ(link.setFile(std::string(260, 'f').c_str(), 7, "V1.00"), MFU_E_FAIL);
    EXPECT_EQ(link.setFile("/f.bin", 7, "V1.00-too-long-text"), MFU_E_FAIL);
    EXPECT_EQ(link.setFile("/f.bin", 7, "V1.00"), MFU_OK);
    EXPECT_EQ(link.initialize(), MFU_E_FAIL);
    EXPECT_EQ(link.setWakeTarget(nullptr, 0), MFU_E_FAIL);
    // Operations that need a connected link refuse.
    EXPECT_EQ(link.transfer(), MFU_E_FAIL);
    EXPECT_EQ(link.startWrite(), MFU_E_FAIL);
    EXPECT_EQ(link.disconnect(), MFU_E_FAIL);
    EXPECT_EQ(link.poll(), MFU_OK);
}

} // namespace
