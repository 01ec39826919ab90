// Version-1 setup files (.qln) read into real rack slots.
#include "app/app_fileloaderv1.h"
#include "device/layouts/dev_iotable.h"
#include "tests/app/setup/setup_rack.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Quil::DEV_E_FAIL;
using Quil::FileLoaderV1;
using setup_test::TestRack;

std::string unit(const char* devid, const std::string& params, const char* setVersion = "0.1")
{
    return std::string("  <brox devid=\"") + devid + "\">\n    <param_set version=\"" + setVersion + "\">\n" + params
        + "    </param_set>\n  </brox>\n";
}

std::string param(const char* address, const char* x, const char* y, const char* val)
{
    return std::string("      <param address=\"") + address + "\" x=\"" + x + "\" y=\"" + y + "\" val=\"" + val
        + "\"/>\n";
}

std::string document(const std::string& units, const char* version = "0.1")
{
    return std::string("<?xml version=\"1.0\"?>\n<brox_device version=\"") + version + "\">\n" + units
        + "</brox_device>\n";
}

class QlnFile : public ::testing::Test {
protected:
    // Writes a fixture; a well-formed one is checked by xmllint first, so a
    // test never passes on XML the fixture got wrong.
    QString fixture(const std::string& text, bool wellFormed = true)
    {
        const std::string file = dir.file("setup.qln");
        EXPECT_TRUE(qtest::writeFile(file, text));
        if (wellFormed) {
            EXPECT_EQ(qtest::runCommand("xmllint --noout '" + file + "' 2>&1"), 0) << text;
        }
        return QString::fromStdString(file);
    }

    qtest::TempDir dir;
};

TEST_F(QlnFile, VersionTexts)
{
    for (const char* good : {"0.0", "0.1", "00.01"})
        EXPECT_TRUE(FileLoaderV1::isAcceptedVersion(QString::fromLatin1(good))) << good;
    for (const char* bad : {"0.2", "1.0", "0", "a.b", "0.1.0", "", ".1", "0.", "-0.1", "+0.1", " 0.1", "0x0.1",
             "4294967296.0", "0.4294967296", "429496730.0"})
        EXPECT_FALSE(FileLoaderV1::isAcceptedVersion(QString::fromLatin1(bad))) << bad;
}

TEST_F(QlnFile, LoadsUnitsAndSkipsDevidsOutsideTheRack)
{
    const std::string params = param("IO:Current/InCh/HPFFreq", "2", "0", "1000")
        + param("IO:Current/OutCh/DelayTime", "4", "0", "480") + param("IO:Current/Dev/MuteOn", "0", "0", "1")
        + param("IO:Current/InCh/48VOn", "1", "z", "1"); // "y" not decimal: not applied
    const std::string skipped = param("IO:Current/OutCh/DelayTime", "4", "0", "999");
    TestRack rack;
    ASSERT_EQ(rack.mountModel(5, Quil::MODEL_BROXM_D), 0);
    ASSERT_EQ(rack.mountModel(6, Quil::MODEL_SORN_D), 0);
    rack.connected = {6};
    QString error;
    const QString path = fixture(document(unit("1", params) + unit("-1", skipped) + unit("24", skipped)
        + unit("x", skipped) + unit("5", skipped) + unit("6", skipped)));
    ASSERT_EQ(FileLoaderV1(rack).load(path, &error), 0) << error.toStdString();

    EXPECT_EQ(rack.slot(1).modelType(), Quil::MODEL_BROXL_D);
    EXPECT_EQ(rack.value(1, "/Backup/InCh:2/HPFFreq:0"), Quil::hpfNearestIndex(100.0));
    EXPECT_EQ(rack.value(1, "/Backup/OutCh:4/DelayTime:0"), 480);
    EXPECT_EQ(rack.value(1, "/Backup/InCh:1/48VOn:0"), 0);
    EXPECT_EQ(rack.slot(5).modelType(), Quil::MODEL_BROXM_D) << "a first-generation Brox stays";
    EXPECT_EQ(rack.value(5, "/Backup/OutCh:4/DelayTime:0"), 999);
    EXPECT_EQ(rack.slot(6).modelType(), Quil::MODEL_SORN_D) << "connected with another model: skipped";
    for (int i : {0, 2, 3, 4, 23})
        EXPECT_EQ(rack.slot(i).modelType(), Quil::MODEL_NONE) << i;
}

TEST_F(QlnFile, RefusedFilesGiveTheirText)
{
    const std::string good = unit("0", param("IO:Current/OutCh/DelayTime", "1", "0", "5"));
    struct Case {
        const char* name;
        std::string text;
        bool wellFormed;
        const char* error;
        bool firstUnitApplied;
    };
    const Case cases[] = {
        {"root version 0.2", document(good, "0.2"), true, "Version error.", false},
        {"root version 1.0", document(good, "1.0"), true, "Version error.", false},
        {"root version a.b", document(good, "a.b"), true, "Version error.", false},
        {"unit version 0", document(unit("2", "", "0")), true, "Version error.", false},
        {"other root", "<brox_devices version=\"0.1\"/>", true, "Different kind of data.", false},
        {"not XML", "brox_device version=0.1", false, "Different kind of data.", false},
        {"unclosed", "<brox_device version=\"0.1\">", false, "Different kind of data.", false},
        {"element after a unit", document(good + "  <pell devid=\"3\"/>\n"), true, "Different kind of data.", true},
        {"unit without param_set", document(good + "  <brox devid=\"3\"><param/></brox>\n"), true,
            "Different kind of data.", true},
        {"unknown parameter", document(good + unit("3", param("IO:Current/InCh/Nothing", "0", "0", "1"))), true,
            "Invalid data structure.", true},
        {"refused write", document(good + unit("3", param("IO:Current/OutCh/DelayTime", "99", "0", "1"))), true,
            "Invalid data structure.", true},
        {"entity expansion",
            "<?xml version=\"1.0\"?>\n<!DOCTYPE brox_device [<!ENTITY a \"aaaaaaaaaa\">"
            "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
            "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
            "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>\n<brox_device version=\"&f;\"/>\n",
            false, "Different kind of data.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestRack rack;
        QString error;
        EXPECT_EQ(FileLoaderV1(rack).load(fixture(c.text, c.wellFormed), &error), DEV_E_FAIL);
        EXPECT_EQ(error.toStdString(), c.error);
        EXPECT_EQ(rack.value(0, "/Backup/OutCh:1/DelayTime:0"), c.firstUnitApplied ? 5 : INT32_MIN);
    }
}

// A unit whose param_set holds `levels` nested elements below it: a shape
// the unit walk itself would accept (it ignores other children).
std::string nestedUnit(int levels)
{
    std::string open;
    std::string close;
    for (int i = 0; i < levels; ++i) {
        open += "<n>";
        close += "</n>";
    }
    return unit("0", param("IO:Current/OutCh/DelayTime", "1", "0", "5") + open + close);
}

// Nesting or size far past any real file is refused before any unit is read,
// quickly (a whole DOM of such a file takes minutes and its teardown overflows
// the stack), and the rack stays as it was.
TEST_F(QlnFile, RefusesFilesNestedTooDeepOrTooLargeBeforeReadingUnits)
{
    const int unitDepth = 3; // brox_device, brox, param_set
    struct Case {
        const char* name;
        std::string text;
        bool accepted;
    };
    const Case cases[] = {
        {"at the depth bound", document(nestedUnit(FileLoaderV1::kMaxDepth - unitDepth)), true},
        {"one past the depth bound", document(nestedUnit(FileLoaderV1::kMaxDepth - unitDepth + 1)), false},
        {"200000 levels", document(nestedUnit(200000)), false},
        {"past the size bound",
            document(unit("0", param("IO:Current/OutCh/DelayTime", "1", "0", "5")))
                + std::string(FileLoaderV1::kMaxFileSize, ' '),
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestRack rack;
        QString error;
        const JResult r = FileLoaderV1(rack).load(fixture(c.text, false), &error);
        if (c.accepted) {
            EXPECT_EQ(r, 0) << error.toStdString();
            EXPECT_EQ(rack.value(0, "/Backup/OutCh:1/DelayTime:0"), 5);
            continue;
        }
        EXPECT_EQ(r, DEV_E_FAIL);
        EXPECT_EQ(error.toStdString(), "Different kind of data.");
        EXPECT_EQ(rack.slot(0).modelType(), Quil::MODEL_NONE) << "the rack is unchanged";
    }
}

TEST_F(QlnFile, MissingFileGivesTheFilesOwnError)
{
    TestRack rack;
    QString error;
    EXPECT_EQ(FileLoaderV1(rack).load(QString::fromStdString(dir.file("none.qln")), &error), DEV_E_FAIL);
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
