// Setup files written and read back on real device objects and real files.
#include "app/app_setupfile.h"
#include "tests/app/setup/read_only_dir.h"
#include "tests/app/setup/setup_rack.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using Quil::DEV_E_FAIL;
using setup_test::TestRack;

const char* const kBroxDelay = "/Backup/OutCh:4/DelayTime:0";
const char* const kBroxPhantom = "/Backup/InCh:1/48VOn:0";
const char* const kSornPatch = "/Backup/Patch:3/UserPatchSrc:0";

class SetupFile : public ::testing::Test {
protected:
    // BroxL-D3 in slot 1, Sorn-D in slot 3, Mavik-D in slot 5 (indexes 0,
    // 2, 4) with their own device ids and changed stored values.
    static void fillRack(TestRack& rack)
    {
        const std::pair<int, Quil::ModelType> mounts[]
            = {{0, Quil::MODEL_BROXL_D3}, {2, Quil::MODEL_SORN_D}, {4, Quil::MODEL_MAVIK_D}, {7, Quil::MODEL_BROXM_D2}};
        for (const auto& [slot, type] : mounts) {
            rack.slot(slot).setDeviceId(40 + slot);
            ASSERT_EQ(rack.mountModel(slot, type), 0);
        }
        ASSERT_GE(rack.set(0, kBroxDelay, 1234), 0);
        ASSERT_GE(rack.set(0, kBroxPhantom, 1), 0);
        ASSERT_GE(rack.set(7, kBroxDelay, 99), 0);
        ASSERT_GE(rack.set(2, kSornPatch, 17), 0);
    }

    QString path(const char* name) const { return QString::fromStdString(dir.file(name)); }

    qtest::TempDir dir;
};

TEST_F(SetupFile, RoundTripRestoresModelsDeviceIdsAndValues)
{
    TestRack saved;
    fillRack(saved);
    QString error;
    ASSERT_EQ(Quil::saveProject(saved, path("show.quil"), &error), 0);
    EXPECT_TRUE(error.isEmpty());

    TestRack loaded;
    ASSERT_EQ(loaded.mountModel(10, Quil::MODEL_SORN_D), 0); // not in the file: emptied
    ASSERT_EQ(Quil::loadProject(loaded, path("show.quil"), &error), 0) << error.toStdString();
    EXPECT_EQ(loaded.layout(), saved.layout());
    EXPECT_EQ(loaded.reported.size(), 24u);
    EXPECT_EQ(loaded.value(0, kBroxDelay), 1234);
    EXPECT_EQ(loaded.value(0, kBroxPhantom), 1);
    EXPECT_EQ(loaded.value(7, kBroxDelay), 99);
    EXPECT_EQ(loaded.value(2, kSornPatch), 17);
    EXPECT_EQ(loaded.slot(10).modelType(), Quil::MODEL_NONE);
    EXPECT_EQ(loaded.slot(10).deviceId(), -1) << "the file's own id for an empty slot";
}

TEST_F(SetupFile, ConnectedSlotsKeepTheirModel)
{
    TestRack saved;
    fillRack(saved);
    QString error;
    ASSERT_EQ(Quil::saveProject(saved, path("show.quil"), &error), 0);

    TestRack loaded;
    ASSERT_EQ(loaded.mountModel(1, Quil::MODEL_BROXO_D), 0);
    loaded.connected = {1};
    ASSERT_EQ(Quil::loadProject(loaded, path("show.quil"), &error), 0) << error.toStdString();
    EXPECT_EQ(loaded.slot(1).modelType(), Quil::MODEL_BROXO_D);
    EXPECT_EQ(loaded.slot(0).modelType(), Quil::MODEL_BROXL_D3);
}

// A unit that refuses its block does not stop the others, and the load does
// not claim success.
TEST_F(SetupFile, RefusedUnitBlockFailsLoadButKeepsTheRest)
{
    TestRack saved;
    fillRack(saved);
    QString error;
    ASSERT_EQ(Quil::saveProject(saved, path("show.quil"), &error), 0);

    TestRack loaded;
    ASSERT_EQ(loaded.mountModel(2, Quil::MODEL_BROXL_D), 0); // connected: refuses the Sorn block
    loaded.connected = {2};
    EXPECT_EQ(Quil::loadProject(loaded, path("show.quil"), &error), DEV_E_FAIL);
    EXPECT_EQ(error, QStringLiteral("Invalid data structure."));
    EXPECT_EQ(loaded.value(0, kBroxDelay), 1234) << "blocks before the refused one stay";
    EXPECT_EQ(loaded.value(7, kBroxDelay), 99) << "blocks after the refused one are still loaded";
    EXPECT_EQ(loaded.slot(2).modelType(), Quil::MODEL_BROXL_D);
}

TEST_F(SetupFile, FailedSaveLeavesThePreviousFile)
{
    TestRack rack;
    fillRack(rack);
    QString error;
    ASSERT_EQ(Quil::saveProject(rack, path("show.quil"), &error), 0);
    const std::string before = qtest::readFile(dir.file("show.quil"));
    ASSERT_GE(rack.set(0, kBroxDelay, 555), 0);

    // Aborted: a cancel with no error text.
    const FILECACHE::MBDFAbortFlag abort{1};
    EXPECT_EQ(Quil::saveProject(rack, path("show.quil"), &error, &abort), FILECACHE::FCACHE_E_ABORTED);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(qtest::readFile(dir.file("show.quil")), before);

    setup_test::ReadOnlyDir readOnly(dir.path());
    if (!readOnly.effective())
        GTEST_SKIP() << "this file system cannot make a folder read-only for root";
    EXPECT_EQ(Quil::saveProject(rack, path("show.quil"), &error), DEV_E_FAIL);
    EXPECT_EQ(error, QStringLiteral("Unknown error."));
    EXPECT_EQ(qtest::readFile(dir.file("show.quil")), before);
}

TEST_F(SetupFile, UnreadableFileFailsWithoutTextAndChangesNothing)
{
    TestRack rack;
    fillRack(rack);
    const auto layout = rack.layout();
    ASSERT_TRUE(qtest::writeFile(dir.file("text.quil"), "just some text, no container"));
    for (const char* name : {"missing.quil", "text.quil"}) {
        QString error;
        EXPECT_EQ(Quil::loadProject(rack, path(name), &error), DEV_E_FAIL) << name;
        EXPECT_EQ(rack.layout(), layout) << name;
        EXPECT_EQ(rack.value(0, kBroxDelay), 1234) << name;
    }
}

} // namespace
