#include "device/layouts/dev_modeltypes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace Quil;

namespace {

std::string text(const char* s)
{
    return s ? s : "<null>";
}

struct TypeRow {
    ModelType type;
    const char* name;
    const char* blank;
    const char* family;
};

const TypeRow kTypes[] = {
    {-1, nullptr, nullptr, nullptr},
    {0, nullptr, "BLANK", nullptr},
    {1, "BroxL-D", "BroxL-D", "Brox"},
    {2, "BroxM-D", "BroxM-D", "Brox"},
    {3, "BroxI-D", "BroxI-D", "Brox"},
    {4, "BroxO-D", "BroxO-D", "Brox"},
    {5, "Sorn-D", "Sorn-D", "Sorn"},
    {6, "Mavik-D", "Mavik-D", "Mavik"},
    {7, "PellM-D", "PellM-D", "Pell"},
    {8, "BroxL-D2", "BroxL-D2", "Brox2"},
    {9, "BroxM-D2", "BroxM-D2", "Brox2"},
    {10, "PellM-D2", "PellM-D2", "Pell2"},
    {11, "BroxL-D3", "BroxL-D3", "Brox3"},
    {12, "BroxM-D3", "BroxM-D3", "Brox3"},
    {13, nullptr, nullptr, nullptr},
    {261, nullptr, nullptr, nullptr},
};

} // namespace

TEST(DeviceModelTypes, NamesAndFamiliesByType)
{
    for (const TypeRow& row : kTypes) {
        SCOPED_TRACE(row.type);
        EXPECT_EQ(text(modelNameOf(row.type)), text(row.name));
        EXPECT_EQ(text(modelNameOrBlank(row.type)), text(row.blank));
        EXPECT_EQ(text(familyNameOf(row.type)), text(row.family));
        if (row.name) {
            EXPECT_EQ(modelTypeFromName(row.name), row.type);
        }
    }
}

TEST(DeviceModelTypes, NameLookupIsExact)
{
    const struct {
        const char* name;
        ModelType type;
    } cases[] = {
        {"BroxM-D3", 12},
        {"", 0},
        {"BroxL-D ", 0},
        {"broxl-d", 0},
        {"BroxL", 0},
        {"BLANK", 0},
        {nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(text(c.name));
        EXPECT_EQ(modelTypeFromName(c.name), c.type);
    }
}

TEST(DeviceModelTypes, DisplayFixupsApplyToSornOnly)
{
    const char* booting = "booting";
    const char* zero = "0.0.0";
    EXPECT_STREQ(displayRunModeText(5, booting), "initialize");
    EXPECT_EQ(displayRunModeText(1, booting), booting);
    EXPECT_STREQ(displayRunModeText(5, "Booting"), "Booting");
    EXPECT_STREQ(displayVersionText(5, zero), "1.0.0");
    EXPECT_STREQ(displayVersionText(5, "0.0.1"), "0.0.1");
    EXPECT_EQ(displayVersionText(6, zero), zero);
    // The low byte decides: 261 takes the Sorn rows, no other valid type does.
    EXPECT_STREQ(displayVersionText(261, zero), "1.0.0");
    for (ModelType t = 0; t <= MODEL_LAST; ++t) {
        if (t != MODEL_SORN_D) {
            EXPECT_EQ(displayRunModeText(t, booting), booting) << t;
        }
    }
}
