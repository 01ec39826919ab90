// The program with simulated units on the bed's interface: choosing the
// network, placing a unit by id through the slot controls, connecting and
// disconnecting, duplicates, and a setup file opened while a unit waits.
#include "app/app_prefs.h"
#include "device/link/dev_vsockobject.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/netns.h"
#include "tests/support/unit_process.h"
#include "tests/ui/main/main_fixture.h"
#include "tests/ui/main/units/program_bed.h"
#include "ui/main/netsetupdlg.h"
#include "ui/main/qlapp.h"
#include "ui/panels/devlistframe.h"
#include "ui/widgets/zpopup.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTreeWidget>

#include <set>

namespace {

using qtest::chooseUnitId;
using qtest::foundCount;
using qtest::Program;
using qtest::rightClickChoose;
using qtest::waitForPicture;

constexpr int kWaitMs = qtest::kProgramWaitMs;

qtest::UnitSpec unitJ001(int host)
{
    qtest::UnitSpec spec;
    spec.modelType = Quil::MODEL_BROXL_D3;
    spec.host = host;
    spec.unitId = "J001";
    spec.deviceName = "Stage Left";
    return spec;
}

// The bed with the unit "J001" at 198.18.0.11.
struct OneUnitBed {
    bool start() { return bed.ready() && units.start({unitJ001(11)}); }
    std::string error() const { return bed.ready() ? units.error() : bed.error(); }
    qtest::NetnsBed bed;
    qtest::UnitRack units{bed};
};

TEST(MainWindowUnits, FirstStartChoosesTheInterfaceAndFindsAUnit)
{
    QTEST_IN_NETNS();
    OneUnitBed net;
    ASSERT_TRUE(net.start()) << net.error();

    Program program{QString()};
    QStringList rows;
    qtest::onNextModal<NetSetupDlg>(
        [&](NetSetupDlg* dialog) {
            QTreeWidget* tree = dialog->treeWidget();
            for (int i = 0; i < tree->topLevelItemCount(); ++i)
                rows << tree->topLevelItem(i)->text(0);
            const QList<QTreeWidgetItem*> bedRow
                = tree->findItems(QString::fromLatin1(qtest::NetnsBed::kLocalInterface), Qt::MatchExactly);
            if (bedRow.size() == 1) {
                const QRect rect = tree->visualItemRect(bedRow[0]);
                QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
            } else {
                dialog->reject();
            }
        },
        kWaitMs);
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(qtest::waitUntil([&] { return !rows.isEmpty(); }, kWaitMs));
    EXPECT_EQ(rows.value(0), "Offline");
    EXPECT_TRUE(rows.contains(qtest::NetnsBed::kLocalInterface)) << rows.join(',').toStdString();
    EXPECT_FALSE(rows.contains("lo"));
    EXPECT_TRUE(program.waitFound(1));

    program.window->action("Quit")->trigger();
    EXPECT_EQ(Quil::QuilPrefs::instance().value(Quil::QuilPrefs::kMacAddr).toString(), qtest::NetnsBed::kLocalMac);
    EXPECT_TRUE(Quil::QuilPrefs::instance().value(Quil::QuilPrefs::kDefaultDir).isValid());
    EXPECT_EQ(Quil::QuilPrefs::instance().value(Quil::QuilPrefs::kGeometry).type(), QVariant::Point);
}

TEST(MainWindowUnits, PlacingByIdConnectingAndDuplicates)
{
    QTEST_IN_NETNS();
    OneUnitBed net;
    ASSERT_TRUE(net.start()) << net.error();

    Program program{QString::fromLatin1(qtest::NetnsBed::kLocalMac)};
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.waitFound(1));
    DevSelFrame* slot1 = program.window->slotStrip()->button(0);
    EXPECT_EQ(program.core->connection(0), nullptr);

    chooseUnitId(slot1, 1);
    std::set<int> seen;
    ASSERT_TRUE(waitForPicture(slot1, SLOT_CONNECTED, &seen)) << slot1->indicator();
    EXPECT_TRUE(seen.count(SLOT_CONNECTING)) << "no connecting picture on the way";
    EXPECT_EQ(slot1->label(), "BroxL-D3");
    EXPECT_EQ(program.core->modelType(0), Quil::MODEL_BROXL_D3);
    EXPECT_TRUE(qtest::waitUntil([&] { return program.window->nameBar()->name() == "Stage Left"; }, kWaitMs));

    rightClickChoose(program.window, 0, "Disconnect");
    EXPECT_TRUE(waitForPicture(slot1, SLOT_DISCONNECTED)) << slot1->indicator();
    {
        qtest::ModalDriver driver;
        driver.chooseMenuItem("Connect");
        driver.pressButton("No");
        program.window->contextMenuRequestSlot(0);
        EXPECT_TRUE(driver.waitAllAnswered(kWaitMs));
    }
    EXPECT_TRUE(waitForPicture(slot1, SLOT_CONNECTED)) << slot1->indicator();

    // A second unit with the same id: placing it asks first whether to save
    // the slot's setup.
    qtest::ModalDriver driver(kWaitMs);
    driver.pressButton("No");
    ASSERT_TRUE(net.units.add(unitJ001(12))) << net.units.error();
    EXPECT_TRUE(waitForPicture(slot1, SLOT_DUPLICATED)) << slot1->indicator();
    EXPECT_TRUE(driver.waitAllAnswered(kWaitMs));
    ASSERT_FALSE(driver.seen().empty());
    EXPECT_TRUE(driver.seen()[0].text.startsWith("New devices has been discovered"))
        << driver.seen()[0].text.toStdString();
}

// Opening a setup file while a unit waits to be placed: the file's device
// ids are applied once the file is in, so the unit is placed after the load
// and no question comes up while the busy cursor shows.
TEST(MainWindowUnits, UnitWaitingDuringALoadIsPlacedAfterIt)
{
    QTEST_IN_NETNS();
    OneUnitBed net;
    ASSERT_TRUE(net.start()) << net.error();

    Program program{QString::fromLatin1(qtest::NetnsBed::kLocalMac)};
    ASSERT_TRUE(program.start());
    Quil::QuilObject* core = program.core;
    core->setPendingInterval(300);

    // A file with a BroxL-D3 in slot 1 and device id 1, written by the program.
    const qtest::TempDir dir;
    const QString path = QString::fromStdString(dir.path()) + "/stage.quil";
    ASSERT_GE(core->mountModel(0, Quil::MODEL_BROXL_D3), 0);
    ASSERT_GE(core->rackDevice(0)->setDeviceId(1), 0);
    QString error;
    ASSERT_GE(core->saveProject(path, &error), 0) << error.toStdString();
    ASSERT_GE(core->mountModel(0, Quil::MODEL_NONE), 0);
    core->rackDevice(0)->setDeviceId(-1);
    core->questions()->setDirty(false);

    ASSERT_TRUE(program.waitFound(1));
    ASSERT_TRUE(qtest::waitUntil([&] { return !core->pendingDevices().isEmpty(); }, kWaitMs));

    // Every question is noted with whether the busy cursor showed, and
    // answered No.
    std::vector<std::pair<QString, bool>> questions;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || !box->button(QMessageBox::No))
            return;
        questions.emplace_back(box->text(), QApplication::overrideCursor() != nullptr);
        box->button(QMessageBox::No)->click();
    });
    watcher.start(10);

    qtest::ModalDriver driver(kWaitMs);
    driver.typeFileName(path);
    program.window->action("Open")->trigger();
    EXPECT_TRUE(driver.waitAllAnswered(kWaitMs));
    EXPECT_EQ(core->modelType(0), Quil::MODEL_BROXL_D3);
    EXPECT_EQ(core->connection(0), nullptr) << "placed before the file was in";

    DevSelFrame* slot1 = program.window->slotStrip()->button(0);
    EXPECT_TRUE(waitForPicture(slot1, SLOT_CONNECTED)) << slot1->indicator();
    EXPECT_NE(core->connection(0), nullptr);
    EXPECT_EQ(slot1->deviceId(), 1);
    for (const auto& question : questions)
        EXPECT_FALSE(question.second) << "asked under the busy cursor: " << question.first.toStdString();
}

} // namespace
