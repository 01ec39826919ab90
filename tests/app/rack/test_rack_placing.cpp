// Placing announced units into the rack: the quiet time, units nobody has a
// slot for, modal dialogs, several units with one unit id, foreign ids and
// the save question before a mounted slot is replaced.
#include "app/app_setupfile.h"
#include "tests/app/rack/rack_answers.h"
#include "tests/app/setup/setup_rack.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/rack_fixture.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

using Quil::DEV_E_FAIL;
using Quil::QuilObject;
using racktest::expectClean;
using racktest::loopbackUnit;
using racktest::messageTexts;
using racktest::RackFixture;

constexpr int kQuiet = 100;
const char* const kDelay = "/Backup/OutCh:4/DelayTime:0";
const char* const kNewDevicesQuestion = "New devices has been discovered.\n Will you save current setting?";

TEST(RackPlacing, UnitsFoundCloseTogetherWaitForTheQuietTimeAfterTheLast)
{
    RackFixture f(QuilObject::kPendingIntervalMs);
    ASSERT_TRUE(f.ready());
    const auto a = loopbackUnit(1, 1);
    const auto b = loopbackUnit(2, 2, "BroxM-D2");
    QElapsedTimer clock;
    clock.start();
    std::map<unsigned, qint64> placedAt;
    QObject::connect(&f.rack(), &QuilObject::mountChanged, &f.rack(), [&](uint slot, int type) {
        if (type != 0)
            placedAt.emplace(slot, clock.elapsed());
    });

    f.announce(a);
    RackFixture::spinFor(500);
    const qint64 secondAt = clock.elapsed();
    f.announce(b);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return placedAt.size() == 2; }, 5000));

    // The first unit's own quiet time ended 500 ms before the second's.
    // A coarse timer may fire up to 5 % early, and its deadline and both
    // readings of the clock drop what is below a millisecond: one more
    // millisecond is what the clocks allow.
    const qint64 quietAfterSecond = secondAt + QuilObject::kPendingIntervalMs * 95 / 100 - 1;
    EXPECT_GE(placedAt[0], quietAfterSecond);
    EXPECT_GE(placedAt[1], quietAfterSecond);
    EXPECT_EQ(f.connectedKey(0), a.key());
    EXPECT_EQ(f.connectedKey(1), b.key());
    EXPECT_EQ(f.rack().modelType(0), Quil::MODEL_BROXL_D3);
    EXPECT_EQ(f.rack().modelType(1), Quil::MODEL_BROXM_D2);
    for (int slot : {0, 1}) {
        EXPECT_EQ(f.deviceNum(slot), 1) << slot;
        EXPECT_EQ(f.slotState(slot), 2) << slot;
    }
    EXPECT_TRUE(f.rack().pendingDevices().isEmpty());
}

TEST(RackPlacing, AUnitWithoutASlotWaitsUntilASlotTakesItsId)
{
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    const auto unit = loopbackUnit(0x30, 1);
    f.announce(unit);
    RackFixture::spinFor(4 * kQuiet);
    EXPECT_EQ(f.rack().pendingDevices(), QStringList{unit.key()});
    EXPECT_TRUE(f.mounts.empty());

    // The main window gives slot 5 the unit's id and asks for a new look.
    f.rack().rackSlot(4)->setDeviceId(0x30);
    f.rack().refreshMountDevice(4, 0x30);
    EXPECT_EQ(f.connectedKey(4), unit.key());
    EXPECT_EQ(f.rack().slotDevices(4), QStringList{unit.key()});
    EXPECT_TRUE(f.rack().pendingDevices().isEmpty());
}

TEST(RackPlacing, AUnitMovesToTheSlotThatTakesItsIdAfterARefresh)
{
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    const auto unit = loopbackUnit(1, 1);
    f.announce(unit);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.connectedKey(0) == unit.key(); }));

    // The main window swaps the ids of slots 1 and 5.
    f.rack().rackSlot(0)->setDeviceId(5);
    f.rack().rackSlot(4)->setDeviceId(1);
    f.rack().refreshMountDevice(0, 5);
    EXPECT_FALSE(f.rack().hasConnection(0));
    EXPECT_EQ(f.rack().modelType(0), 0);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.connectedKey(4) == unit.key(); }));
    EXPECT_TRUE(f.rack().slotDevices(0).isEmpty());
    EXPECT_EQ(f.deviceNum(4), 1);
}

TEST(RackPlacing, NothingIsPlacedWhileAModalDialogIsOpen)
{
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    QDialog dialog;
    dialog.setModal(true);
    dialog.show();
    ASSERT_TRUE(RackFixture::spinUntil([&] { return QApplication::activeModalWidget() == &dialog; }));

    const auto unit = loopbackUnit(3, 1);
    f.announce(unit);
    RackFixture::spinFor(6 * kQuiet);
    EXPECT_TRUE(f.mounts.empty());
    EXPECT_EQ(f.rack().pendingDevices(), QStringList{unit.key()});

    dialog.reject();
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.connectedKey(2) == unit.key(); }));
}

TEST(RackPlacing, ASecondUnitWithTheSameIdIsCountedAndTakesOverWhenTheFirstIsLost)
{
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    const auto first = loopbackUnit(1, 1);
    const auto second = loopbackUnit(1, 2);
    f.announce(first);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.connectedKey(0) == first.key(); }));
    ASSERT_TRUE(f.editWhenSettled(0, kDelay, 1234));

    // Its slot is mounted, so the save question comes first, though
    // nothing is replaced.
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("No"));
    driver.pressButton(QStringLiteral("No"));
    f.announce(second);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.deviceNum(0) == 2; }));
    EXPECT_EQ(f.rack().slotDevices(0), (QStringList{first.key(), second.key()}));
    EXPECT_EQ(f.connectedKey(0), first.key());

    // Losing the one that waits only counts it out.
    f.silence(second);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.deviceNum(0) == 1; }));
    EXPECT_EQ(f.connectedKey(0), first.key());
    f.announce(second);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.deviceNum(0) == 2; }));

    EXPECT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(f.value(0, kDelay), 1234) << "the connected unit's parameters stay";

    // Losing the connected one empties the slot; the other follows after the quiet time.
    f.mounts.clear();
    f.silence(first);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.connectedKey(0) == second.key(); }));
    EXPECT_EQ(f.rack().slotDevices(0), QStringList{second.key()});
    EXPECT_EQ(f.deviceNum(0), 1);
    EXPECT_EQ(f.slotState(0), 2);
    ASSERT_FALSE(f.mounts.empty());
    EXPECT_EQ(f.mounts.front(), std::make_pair(0u, 0));
    EXPECT_EQ(f.mounts.back(), std::make_pair(0u, int{Quil::MODEL_BROXL_D3}));
    expectClean(driver);
}

// Unit ids from 127 on are never placed, also not into a mounted slot
// holding such an id: that would replace its stored parameters without the
// save question, which is only asked for rack ids.
TEST(RackPlacing, UnitIdsFrom127AreNeverPlaced)
{
    struct Row {
        uint16_t id;
        bool asked;
        bool placed;
    };
    for (const Row& row : {Row{126, true, true}, Row{127, false, false}, Row{0x7FF, false, false}}) {
        SCOPED_TRACE(row.id);
        RackFixture f(kQuiet);
        ASSERT_TRUE(f.ready());
        f.rack().rackSlot(0)->setDeviceId(row.id);
        ASSERT_EQ(f.rack().mountModel(0, Quil::MODEL_BROXL_D3), 0);
        ASSERT_TRUE(f.editWhenSettled(0, kDelay, 1234));

        qtest::ModalDriver driver(1500);
        if (row.asked)
            driver.pressButton(QStringLiteral("No"));
        const auto unit = loopbackUnit(row.id, 1);
        f.announce(unit);
        RackFixture::spinFor(5 * kQuiet);
        if (row.asked) {
            EXPECT_TRUE(driver.waitAllAnswered());
        }
        RackFixture::spinFor(2 * kQuiet);

        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
        EXPECT_EQ(messageTexts(driver).size(), row.asked ? 1 : 0);
        EXPECT_EQ(f.connectedKey(0), row.placed ? unit.key() : QString());
        EXPECT_EQ(f.value(0, kDelay) == 1234, !row.placed) << "stored parameters";
        EXPECT_EQ(f.rack().modelType(0), Quil::MODEL_BROXL_D3);
    }
}

TEST(RackPlacing, PlacingIntoAMountedSlotAsksToSaveUntilSavedOrDeclined)
{
    struct Row {
        const char* name;
        bool saves; // Yes and a file name; else Yes, no file, then No
    };
    for (const Row& row : {Row{"declined after a failed save", false}, Row{"saved", true}}) {
        SCOPED_TRACE(row.name);
        qtest::TempDir dir;
        RackFixture f(kQuiet);
        ASSERT_TRUE(f.ready());
        ASSERT_EQ(f.rack().questions()->setDefaultDir(QString::fromStdString(dir.path())), 0);
        ASSERT_EQ(f.rack().mountModel(0, Quil::MODEL_BROXL_D3), 0);
        ASSERT_TRUE(f.editWhenSettled(0, kDelay, 1234));

        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("Yes"));
        if (row.saves) {
            driver.typeFileName(QStringLiteral("before.quil"));
        } else {
            driver.cancelFileDialog();
            driver.pressButton(QStringLiteral("No"));
        }
        const auto unit = loopbackUnit(1, 1);
        f.announce(unit);
        ASSERT_TRUE(driver.waitAllAnswered(10000));
        ASSERT_TRUE(RackFixture::spinUntil([&] { return f.connectedKey(0) == unit.key(); }));
        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();

        const QString question = QStringLiteral("Confirmation|") + kNewDevicesQuestion;
        EXPECT_EQ(messageTexts(driver), row.saves ? QStringList{question} : (QStringList{question, question}));
        EXPECT_NE(f.value(0, kDelay), 1234) << "the placed unit has a fresh device object";
        if (row.saves) {
            // The file holds the parameters as they were before the unit came.
            setup_test::TestRack saved;
            QString error;
            ASSERT_EQ(Quil::loadProject(saved, QString::fromStdString(dir.file("before.quil")), &error), 0)
                << error.toStdString();
            EXPECT_EQ(saved.value(0, kDelay), 1234);
        }
    }
}

} // namespace
