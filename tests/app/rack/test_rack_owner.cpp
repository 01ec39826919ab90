// The rack owner's slot operations, its questions before the rack is reset
// or left, and the setup-file flows on the real rack.
#include "tests/app/rack/rack_answers.h"

#include "app/app_prefs.h"
#include "app/app_rackobject.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/rack_fixture.h"
#include "tests/support/test_support.h"
#include "ui/main/filemanager.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Quil::DEV_E_FAIL;
using Quil::FILE_E_NOT_CHOSEN;
using Quil::QuilObject;
using racktest::expectClean;
using racktest::loopbackUnit;
using racktest::messageTexts;
using racktest::RackFixture;
using Mounts = std::vector<std::pair<unsigned, int>>;

constexpr int kQuiet = 50;
const char* const kDelay = "/Backup/OutCh:4/DelayTime:0";

// Slot 3 with a BroxL-D3 and a changed value; with `connected` a unit placed in it.
void prepareSlot(RackFixture& f, bool connected)
{
    constexpr int slot = 3;
    if (connected) {
        f.announce(loopbackUnit(slot + 1, 1));
        ASSERT_TRUE(RackFixture::spinUntil([&] { return f.rack().hasConnection(slot); }));
    } else {
        ASSERT_EQ(f.rack().mountModel(slot, Quil::MODEL_BROXL_D3), 0);
    }
    ASSERT_TRUE(f.editWhenSettled(slot, kDelay, 1234));
    f.mounts.clear();
}

TEST(RackOwner, MountModel)
{
    constexpr unsigned s = 3;
    const int broxl = Quil::MODEL_BROXL_D3;
    const int sorn = Quil::MODEL_SORN_D;
    struct Row {
        const char* name;
        std::optional<bool> mounted; // none: empty slot; else mounted, connected when true
        Quil::ModelType type;
        JResult result;
        Mounts emitted;
        Quil::ModelType after;
        bool keepsValue;
    };
    const Row rows[] = {
        {"empty slot", std::nullopt, broxl, 0, {{s, broxl}}, broxl, false},
        {"same type makes a fresh object", false, broxl, 0, {{s, 0}, {s, broxl}}, broxl, false},
        {"other type", false, sorn, 0, {{s, 0}, {s, sorn}}, sorn, false},
        {"type 0 empties", false, 0, 0, {{s, 0}, {s, 0}}, 0, false},
        {"no device object for the type", std::nullopt, 99, DEV_E_FAIL, {{s, 0}}, 0, false},
        {"replacing by a type without object", false, 99, DEV_E_FAIL, {{s, 0}, {s, 0}}, 0, false},
        {"connected slot keeps its model", true, sorn, DEV_E_FAIL, {{s, broxl}}, broxl, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RackFixture f(kQuiet);
        ASSERT_TRUE(f.ready());
        if (row.mounted)
            prepareSlot(f, *row.mounted);
        EXPECT_EQ(f.rack().mountModel(s, row.type), row.result);
        EXPECT_EQ(f.mounts, row.emitted);
        EXPECT_EQ(f.rack().modelType(s), row.after);
        EXPECT_EQ(f.rack().allSlotsEmpty(), row.after == 0);
        if (row.after == broxl) {
            EXPECT_EQ(f.value(s, kDelay) == 1234, row.keepsValue);
        }
        if (row.after != 0) {
            EXPECT_EQ(f.slotState(s), row.mounted.value_or(false) ? 2 : 1);
        }
    }
}

TEST(RackOwner, SlotOperationsOutsideTheRackOrOnAnEmptySlotFail)
{
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    QuilObject& rack = f.rack();
    const QString path = QString::fromLatin1(kDelay);
    JLIB::JVariant v(int32_t{1});
    Quil::DevInfoRecord info;
    const std::pair<const char*, std::function<JResult(int)>> calls[] = {
        {"updateSlotState", [&](int s) { return rack.updateSlotState(s); }},
        {"updateDeviceNum", [&](int s) { return rack.updateDeviceNum(s); }},
        {"connectSlot", [&](int s) { return rack.connectSlot(s, false); }},
        {"disconnectSlot", [&](int s) { return rack.disconnectSlot(s); }},
        {"getDeviceInfo", [&](int s) { return rack.getDeviceInfo(s, &info); }},
        {"setValue", [&](int s) { return rack.setValue(s, path, v, 1); }},
        {"setRawValue", [&](int s) { return rack.setRawValue(s, path, v, 1); }},
        {"getValue", [&](int s) { return rack.getValue(s, path, &v); }},
    };
    for (const int slot : {5, 24, -1, 1000}) {
        for (const auto& [name, call] : calls)
            EXPECT_EQ(call(slot), DEV_E_FAIL) << name << " " << slot;
        EXPECT_EQ(rack.modelType(slot), 0) << slot;
        EXPECT_FALSE(rack.hasConnection(slot)) << slot;
        EXPECT_FALSE(rack.isConnected(slot)) << slot;
        EXPECT_TRUE(rack.slotDevices(slot).isEmpty()) << slot;
    }
    for (const int slot : {24, -1, 1000}) {
        EXPECT_EQ(rack.rackDevice(slot), nullptr) << slot;
        EXPECT_EQ(rack.mountModel(slot, Quil::MODEL_BROXL_D3), DEV_E_FAIL) << slot;
    }
    EXPECT_TRUE(f.mounts.empty());
    EXPECT_EQ(rack.rackDevice(5), rack.rackSlot(5));
    EXPECT_EQ(rack.slotCount(), 24);

    int found = -1;
    EXPECT_EQ(rack.findSlotByDeviceId(&found, 6), 0);
    EXPECT_EQ(found, 5);
    rack.rackSlot(9)->setDeviceId(6);
    EXPECT_EQ(rack.findSlotByDeviceId(&found, 6), 0);
    EXPECT_EQ(found, 5) << "the lowest slot";
    EXPECT_EQ(rack.findSlotByDeviceId(&found, 25), DEV_E_FAIL);
}

TEST(RackOwner, ChangingTheInterfaceAsksAndResetsTheRack)
{
    struct Row {
        const char* name;
        QString mac; // the rack starts on an empty record
        QStringList answers; // "Yes", "No", "Cancel"; "cancel file" for the save dialog
        JResult result;
        bool reset;
    };
    const QString otherMac = QStringLiteral("02:00:5e:00:00:09");
    const Row rows[] = {
        {"the current interface", QString(), {}, 0, false},
        {"cancel", otherMac, {"Cancel"}, DEV_E_FAIL, false},
        {"a save that is not made", otherMac, {"Yes", "cancel file"}, FILE_E_NOT_CHOSEN, false},
        {"no save", otherMac, {"No"}, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RackFixture f(kQuiet);
        ASSERT_TRUE(f.ready());
        prepareSlot(f, true);
        ASSERT_EQ(f.rack().mountModel(7, Quil::MODEL_SORN_D), 0);
        const auto waiting = loopbackUnit(0x40, 2);
        f.announce(waiting);
        ASSERT_TRUE(RackFixture::spinUntil([&] { return !f.rack().pendingDevices().isEmpty(); }));
        f.mounts.clear();

        qtest::ModalDriver driver(1500);
        for (const QString& answer : row.answers) {
            if (answer == QLatin1String("cancel file"))
                driver.cancelFileDialog();
            else
                driver.pressButton(answer);
        }
        EXPECT_EQ(f.rack().setNetworkInterface(row.mac, QString(), true), row.result);
        expectClean(driver);
        if (!row.answers.isEmpty()) {
            EXPECT_EQ(messageTexts(driver).value(0),
                "Confirmation|Changing network setup initializes current setting.\n Will you save current setting?");
        }
        EXPECT_EQ(f.rack().allSlotsEmpty(), row.reset);
        EXPECT_EQ(f.rack().hasConnection(3), !row.reset);
        EXPECT_EQ(f.rack().slotDevices(3).isEmpty(), row.reset);
        EXPECT_EQ(f.rack().pendingDevices().isEmpty(), row.reset);
        EXPECT_EQ(f.mounts.size(), row.reset ? 24u : 0u);
        Quil::HostInterface current;
        ASSERT_EQ(f.rack().currentNetworkInterface(&current), 0);
        EXPECT_TRUE(current.isEmpty()) << "no such interface here";
    }
}

TEST(RackOwner, ConnectCommandAsksToSaveFirst)
{
    struct Row {
        const char* name;
        QStringList answers;
        JResult result;
        int32_t request; // ConnectReq afterwards
    };
    const Row rows[] = {
        {"cancel", {"Cancel"}, DEV_E_FAIL, 0},
        {"a save that is not made", {"Yes", "cancel file"}, FILE_E_NOT_CHOSEN, 0},
        {"no save", {"No"}, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RackFixture f(kQuiet);
        ASSERT_TRUE(f.ready());
        ASSERT_EQ(f.rack().mountModel(2, Quil::MODEL_BROXL_D3), 0);
        ASSERT_EQ(f.value(2, "/DevState/devstate:0/ConnectReq:0"), 0);

        qtest::ModalDriver driver;
        for (const QString& answer : row.answers) {
            if (answer == QLatin1String("cancel file"))
                driver.cancelFileDialog();
            else
                driver.pressButton(answer);
        }
        const JResult result = f.rack().connectSlot(2, true);
        if (row.result < 0) {
            EXPECT_EQ(result, row.result);
        } else {
            EXPECT_GE(result, 0);
        }
        expectClean(driver);
        EXPECT_EQ(messageTexts(driver).value(0),
            "Confirmation|Connecting device changes current setting.\n Will you save current setting?");
        EXPECT_EQ(f.value(2, "/DevState/devstate:0/ConnectReq:0"), row.request);
    }
}

TEST(RackOwner, DuplicateAddressIsShownWithBothUnits)
{
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    const auto present = loopbackUnit(1, 1);
    auto claimer = loopbackUnit(2, 2);
    claimer.address = present.address;
    f.announce(present);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.rack().hasConnection(0); }));

    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    f.announce(claimer);
    ASSERT_TRUE(driver.waitAllAnswered());
    expectClean(driver);
    EXPECT_EQ(messageTexts(driver),
        QStringList{QStringLiteral("Confirmation|Duplicate IP address!\n\n%1 \n has the same IP address as \n%2 . \n\n"
                                   "The IP address is %3.\n\nCorrect IP address of the device. ")
                        .arg(claimer.key(), present.key(), QString::fromStdString(present.address))});
}

// Each announcement period of two units on one address reports the clash
// again: while its box is open, another report for that address adds none.
TEST(RackOwner, DuplicateAddressOpensOneBoxPerAddressAtATime)
{
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    QuilObject& rack = f.rack();
    const QString ip = QStringLiteral("198.18.0.2");
    auto openBoxes = [] {
        QStringList texts;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w) && w->isVisible())
                texts << static_cast<QMessageBox*>(w)->text().section(QLatin1Char('\n'), 2, 2);
        return texts;
    };
    // One timer per period: a box opened inside a timer's slot would hold
    // that timer back.
    QList<QStringList> observed;
    const auto reportAt = [&](int ms, const char* name, const char* present, const QString& address) {
        QTimer::singleShot(ms, [&, name, present, address] {
            observed << openBoxes();
            rack.foundDuplicateIPDevSlot(QString::fromLatin1(name), QString::fromLatin1(present), address);
        });
    };
    for (int period = 1; period <= 3; ++period) // three more periods of the same clash
        reportAt(40 * period, "J002-b", "J001-a", ip);
    reportAt(160, "J004-d", "J003-c", QStringLiteral("198.18.0.7")); // another address has its own box
    QTimer::singleShot(200, [&] {
        observed << openBoxes();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                box->done(QMessageBox::Ok);
    });
    EXPECT_EQ(rack.foundDuplicateIPDevSlot(QStringLiteral("J002-b"), QStringLiteral("J001-a"), ip), 0);
    ASSERT_GE(observed.size(), 5);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(observed[i], QStringList{QStringLiteral("J002-b ")}) << "period " << i;
    EXPECT_EQ(observed[4].size(), 2) << observed[4].join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(openBoxes().isEmpty());

    // Once answered, the next report of that address shows a box again.
    QTimer::singleShot(40, [&] {
        observed = {openBoxes()};
        QApplication::activeModalWidget()->close();
    });
    EXPECT_EQ(rack.foundDuplicateIPDevSlot(QStringLiteral("J002-b"), QStringLiteral("J001-a"), ip), 0);
    EXPECT_EQ(observed.value(0), QStringList{QStringLiteral("J002-b ")});
}

TEST(RackOwner, LeavingAsksToSaveOnlyAMountedRack)
{
    qtest::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    QuilObject& rack = f.rack();
    ASSERT_EQ(rack.questions()->setDefaultDir(folder), 0);
    Quil::QuilPrefs& prefs = Quil::QuilPrefs::instance();
    prefs.setValue(Quil::QuilPrefs::kMacAddr, QStringLiteral("stale"));
    {
        qtest::ModalDriver driver(1000);
        EXPECT_TRUE(rack.canQuit());
        RackFixture::spinFor(20);
        expectClean(driver);
        EXPECT_TRUE(driver.seen().empty()) << "an empty rack leaves without a question";
    }
    EXPECT_EQ(prefs.value(Quil::QuilPrefs::kDefaultDir).toString(), folder);
    EXPECT_EQ(prefs.value(Quil::QuilPrefs::kMacAddr).toString(), QString());

    ASSERT_EQ(rack.mountModel(0, Quil::MODEL_BROXL_D3), 0);
    {
        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("Cancel"));
        driver.pressButton(QStringLiteral("Cancel"));
        driver.pressButton(QStringLiteral("No"));
        EXPECT_EQ(rack.saveSettings(nullptr), DEV_E_FAIL);
        EXPECT_EQ(rack.quit(), DEV_E_FAIL);
        EXPECT_TRUE(rack.canQuit());
        expectClean(driver);
        EXPECT_EQ(messageTexts(driver),
            QStringList(QVector<QString>(3, QStringLiteral("Quillon|Save changes to a new file ?")).toList()));
    }

    // Leaving an empty rack ends the application's loop with 0. (The
    // application's own loop, as the program runs: it forgets the exit when
    // it returns, so the later tests' dialogs still run.)
    ASSERT_EQ(rack.mountModel(0, 0), 0);
    JResult quitResult = DEV_E_FAIL;
    QTimer::singleShot(0, &rack, [&] { quitResult = rack.quit(); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    giveUp.start(3000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(quitResult, 0);
}

TEST(RackOwner, OpenAsksFirstOnlyForAMountedRackAndRestoresIt)
{
    qtest::TempDir dir;
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    QuilObject& rack = f.rack();
    ASSERT_EQ(rack.questions()->setDefaultDir(QString::fromStdString(dir.path())), 0);
    ASSERT_EQ(rack.mountModel(0, Quil::MODEL_BROXL_D3), 0);
    ASSERT_EQ(rack.mountModel(2, Quil::MODEL_SORN_D), 0);
    ASSERT_GE(rack.setValue(0, kDelay, JLIB::JVariant(int32_t{1234}), 1), 0);
    {
        qtest::ModalDriver driver;
        driver.typeFileName(QStringLiteral("show.quil"));
        ASSERT_EQ(rack.saveFileAs(nullptr), 0);
        expectClean(driver);
    }
    {
        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("Cancel"));
        EXPECT_EQ(rack.openFile(nullptr), DEV_E_FAIL);
        expectClean(driver);
        EXPECT_EQ(messageTexts(driver), QStringList{QStringLiteral("Quillon|Save changes to a new file ?")});
    }

    ASSERT_EQ(rack.mountModel(0, 0), 0);
    ASSERT_EQ(rack.mountModel(2, 0), 0);
    f.deviceIds.clear();
    {
        qtest::ModalDriver driver;
        driver.typeFileName(QStringLiteral("show.quil"));
        EXPECT_EQ(rack.openFile(nullptr), 0);
        expectClean(driver);
        EXPECT_TRUE(messageTexts(driver).isEmpty()) << "an empty rack opens without a question";
    }
    EXPECT_EQ(rack.modelType(0), Quil::MODEL_BROXL_D3);
    EXPECT_EQ(rack.modelType(2), Quil::MODEL_SORN_D);
    EXPECT_EQ(f.value(0, kDelay), 1234);
    ASSERT_EQ(f.deviceIds.size(), 24u);
    for (unsigned i = 0; i < 24; ++i)
        EXPECT_EQ(f.deviceIds[i], std::make_pair(i, int(i) + 1));
}

TEST(RackOwner, LoadingKeepsConnectedSlotsAndEmptiesTheOthers)
{
    qtest::TempDir dir;
    const QString path = QString::fromStdString(dir.file("rack.quil"));
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    QuilObject& rack = f.rack();
    ASSERT_EQ(rack.mountModel(0, Quil::MODEL_SORN_D), 0);
    ASSERT_EQ(rack.mountModel(1, Quil::MODEL_BROXL_D3), 0);
    QString error;
    ASSERT_EQ(rack.saveProject(path, &error), 0) << error.toStdString();
    ASSERT_EQ(rack.mountModel(0, 0), 0);
    ASSERT_EQ(rack.mountModel(1, 0), 0);
    ASSERT_EQ(rack.mountModel(6, Quil::MODEL_MAVIK_D), 0);
    const auto unit = loopbackUnit(1, 1);
    f.announce(unit);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.connectedKey(0) == unit.key(); }));

    // The file's Sorn-D block does not fit the connected BroxL-D3: that is
    // reported, and the rest still loads.
    EXPECT_EQ(rack.loadProject(path, &error), DEV_E_FAIL);
    EXPECT_EQ(error, QStringLiteral("Invalid data structure."));
    EXPECT_EQ(rack.modelType(0), Quil::MODEL_BROXL_D3);
    EXPECT_EQ(f.connectedKey(0), unit.key());
    EXPECT_EQ(rack.modelType(1), Quil::MODEL_BROXL_D3);
    EXPECT_EQ(rack.modelType(6), 0);
}

TEST(RackOwner, StartWithoutAUsableInterfaceAsksForANetworkSetup)
{
    qtest::TempDir dir;
    Quil::QuilPrefs& prefs = Quil::QuilPrefs::instance();
    prefs.setValue(Quil::QuilPrefs::kDefaultDir, QString::fromStdString(dir.path()));
    prefs.setValue(Quil::QuilPrefs::kMacAddr, QStringLiteral("02:00:5e:00:00:09"));
    RackFixture f(kQuiet);
    ASSERT_TRUE(f.ready());
    std::vector<bool> requests;
    QObject::connect(
        &f.rack(), &QuilObject::requestNetworkSetup, &f.rack(), [&](bool ask) { requests.push_back(ask); });
    EXPECT_EQ(f.rack().start(), 0);
    EXPECT_EQ(requests, std::vector<bool>{false});
    EXPECT_EQ(f.rack().questions()->defaultDir(), QString::fromStdString(dir.path()));
    Quil::HostInterface current;
    ASSERT_EQ(f.rack().currentNetworkInterface(&current), 0);
    EXPECT_TRUE(current.mac.isEmpty());
}

} // namespace
