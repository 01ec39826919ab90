// The main window's dialogs and meter windows, each reached as the user
// reaches it: File and About from real clicks on the menu bar, the unit
// dialogs from the slot's context menu.
#include "tests/support/gui/modal_driver.h"
#include "tests/support/test_support.h"
#include "tests/ui/main/main_fixture.h"
#include "ui/dialogs/aboutdlg.h"
#include "ui/dialogs/devinfodlg.h"
#include "ui/dialogs/devlogdlg.h"
#include "ui/dialogs/devlogdlg_tftp.h"
#include "ui/dialogs/ipaddrdlg.h"
#include "ui/dialogs/propdlg.h"
#include "ui/dialogs/summarydlg.h"
#include "ui/panels/meterall.h"
#include "ui/panels/meterstrip.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

namespace {

using qtest::WatchedCore;
using MainWindow = qtest::MainWindowTest;

constexpr JResult kNotAvailable = static_cast<JResult>(0x80000000u);

// Records the next modal dialog (its class, title and zoom) and closes it
// at once; file dialogs are left to the modal driver. Watches only while it
// lives, so a dialog that never came cannot be answered in a later test.
class NextModal {
public:
    NextModal()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(10);
    }
    QString className;
    QString title;
    int zoom = -1; // -1: a dialog that does not zoom
    bool seen() const { return !className.isEmpty(); }

private:
    void poll()
    {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || qobject_cast<QFileDialog*>(dialog) || !dialog->isVisible())
            return;
        m_timer.stop();
        className = QString::fromLatin1(dialog->metaObject()->className());
        title = dialog->windowTitle();
        if (auto* scaled = dynamic_cast<IScaledWidget*>(dialog))
            zoom = static_cast<int>(scaled->scale());
        dialog->reject();
    }
    QTimer m_timer;
};

// A real click on a title of the menu bar; the driver then picks the item.
void clickMenuTitle(QLMainWindow* window, const QString& title)
{
    QMenuBar* bar = window->menuBar();
    for (QAction* action : bar->actions()) {
        if (action->text() == title) {
            QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(action).center());
            return;
        }
    }
    ADD_FAILURE() << "no menu " << title.toStdString();
}

// The open meter windows; a closed one may still wait for its deletion.
QList<MeterAll*> meterWindows()
{
    QList<MeterAll*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* meter = qobject_cast<MeterAll*>(widget);
        if (meter && meter->isVisible())
            found << meter;
    }
    return found;
}

MeterAll* meterWindow(int layout)
{
    for (MeterAll* meter : meterWindows()) {
        if (meter->layoutMode() == layout)
            return meter;
    }
    return nullptr;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(MainWindow, EachOpenerShowsItsDialogFromItsMenuEntry)
{
    struct Row {
        const char* menu; // menu bar title, or nullptr for slot 3's context menu
        const char* item;
        const char* className;
        const char* title;
        bool zoomed;
    };
    const Row rows[] = {
        {"&File", "Device Information", "Quil::DevInfoDlg", "Device Information", true},
        {"About", "About Quillon", "Quil::AboutDlg", "About Quillon", false},
        {nullptr, "Properties", "Quil::PropDlg", "Properties #3", true},
        {nullptr, "Summary", "Quil::SummaryDlg", "Summary", false},
        {nullptr, "Log", "Quil::DevLogDlg", "Device Log", true},
    };
    WatchedCore core;
    ASSERT_GE(core.mountModel(2, Quil::MODEL_BROXL_D2), 0);
    QLMainWindow window;
    qtest::wireAsTheProgram(&window, &core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    window.action("200%")->trigger();

    for (const Row& row : rows) {
        SCOPED_TRACE(row.item);
        NextModal opened;
        qtest::ModalDriver driver;
        driver.chooseMenuItem(row.item);
        if (row.menu)
            clickMenuTitle(&window, row.menu);
        else
            window.contextMenuRequestSlot(2);
        EXPECT_TRUE(driver.waitAllAnswered());
        ASSERT_TRUE(qtest::waitUntil([&] { return opened.seen(); }));
        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
        EXPECT_EQ(opened.className, row.className);
        EXPECT_EQ(opened.title, row.title);
        if (row.zoomed)
            EXPECT_EQ(opened.zoom, 2);
        else
            EXPECT_NE(opened.zoom, 2);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

// "Tool" > "Firmware Update" opens the firmware update window at the zoom.
TEST_F(MainWindow, FirmwareUpdateOpensItsWindowZoomed)
{
    struct NetCore : WatchedCore {
        JResult currentNetworkInterface(Quil::HostInterface* out) const override
        {
            out->mac = QStringLiteral("02:00:00:00:00:01");
            out->address = QStringLiteral("127.0.0.1");
            return 0;
        }
    } core;
    QLMainWindow window;
    qtest::wireAsTheProgram(&window, &core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    window.action("200%")->trigger();
    ASSERT_TRUE(window.action("Firmware Update")->isEnabled());

    NextModal opened;
    qtest::ModalDriver driver;
    driver.chooseMenuItem("Firmware Update");
    clickMenuTitle(&window, "Tool");
    EXPECT_TRUE(driver.waitAllAnswered());
    ASSERT_TRUE(qtest::waitUntil([&] { return opened.seen(); }));
    EXPECT_EQ(opened.className, "Quil::FirmUpdateUI");
    EXPECT_EQ(opened.title, "Firmware Update");
    EXPECT_EQ(opened.zoom, 2);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The information list's requests open the unit's properties and its
// address setup while the list is still up.
TEST_F(MainWindow, DeviceInformationOpensPropertiesAndAddressSetup)
{
    WatchedCore core;
    ASSERT_GE(core.mountModel(4, Quil::MODEL_BROXM_D), 0);
    QLMainWindow window;
    window.attachCore(&core);
    ASSERT_TRUE(qtest::showAndWait(&window));

    QStringList titles;
    qtest::onNextModal<Quil::DevInfoDlg>([&](Quil::DevInfoDlg* info) {
        for (const auto& request : {&Quil::DevInfoDlg::requestDetail, &Quil::DevInfoDlg::requestSetIPAddress}) {
            qtest::onNextModal<QDialog>([&](QDialog* inner) {
                titles << inner->windowTitle();
                inner->reject();
            });
            emit(info->*request)(4);
        }
        info->reject();
    });
    EXPECT_GE(window.showDeviceInfo(), 0);
    EXPECT_EQ(titles, QStringList({"Properties #5", "IP Address #5"}));
}

// A dialog whose setup fails never shows; its result comes back.
TEST_F(MainWindow, FailedSetupShowsNothing)
{
    WatchedCore core;
    QLMainWindow window;
    window.attachCore(&core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    NextModal opened;
    // An empty slot has no address to set.
    EXPECT_LT(window.showIpAddressSetup(5), 0);
    QTest::qWait(50);
    EXPECT_FALSE(opened.seen()) << opened.className.toStdString();

    // Without a rack owner nothing opens either.
    QLMainWindow bare;
    EXPECT_EQ(bare.showDeviceInfo(), kNotAvailable);
    EXPECT_EQ(bare.showSummary(0), kNotAvailable);
    EXPECT_EQ(bare.showDeviceLog(0), kNotAvailable);
    EXPECT_EQ(bare.showIpAddressSetup(0), kNotAvailable);
}

TEST_F(MainWindow, LogDialogChosenByModelType)
{
    struct Row {
        Quil::ModelType type;
        const char* className; // nullptr: nothing opens
        bool folderAsked;
    };
    const Row rows[] = {
        {Quil::MODEL_BROXL_D2, "Quil::DevLogDlg", false},
        {Quil::MODEL_BROXM_D2, "Quil::DevLogDlg", false},
        {Quil::MODEL_BROXL_D3, "Quil::DevLogDlg_TFTP", true},
        {Quil::MODEL_BROXM_D3, "Quil::DevLogDlg_TFTP", true},
        {Quil::MODEL_NONE, nullptr, false},
        {Quil::MODEL_BROXL_D, nullptr, false},
        {Quil::MODEL_PELLM_D2, nullptr, false},
        {Quil::MODEL_SORN_D, nullptr, false},
    };
    const qtest::TempDir folder;
    WatchedCore core;
    QLMainWindow window;
    window.attachCore(&core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        // Only a unit that is there answers the log's requests.
        if (row.className) {
            ASSERT_GE(core.mountModel(6, row.type), 0);
        }
        core.models[6] = row.type;
        qtest::ModalDriver driver;
        if (row.folderAsked)
            driver.typeFileName(QString::fromStdString(folder.path()) + "/");
        NextModal opened;
        const JResult result = window.showDeviceLog(6);
        if (!row.className) {
            EXPECT_EQ(result, kNotAvailable);
            EXPECT_TRUE(driver.seen().empty());
            EXPECT_FALSE(opened.seen());
            continue;
        }
        EXPECT_GE(result, 0);
        EXPECT_TRUE(driver.waitAllAnswered());
        EXPECT_EQ(opened.className, row.className);
    }

    // Cancelling the TFTP log's folder fails its setup: no log dialog.
    ASSERT_GE(core.mountModel(6, Quil::MODEL_BROXL_D3), 0);
    core.models[6] = Quil::MODEL_BROXL_D3;
    qtest::ModalDriver driver;
    driver.cancelFileDialog();
    NextModal opened;
    EXPECT_LT(window.showDeviceLog(6), 0);
    EXPECT_TRUE(driver.waitAllAnswered());
    QTest::qWait(50);
    EXPECT_FALSE(opened.seen()) << opened.className.toStdString();
}

TEST_F(MainWindow, MeterWindowsOneEachRaisedAndForgottenWhenClosed)
{
    WatchedCore core;
    auto window = std::make_unique<QLMainWindow>();
    qtest::wireAsTheProgram(window.get(), &core);
    ASSERT_TRUE(qtest::showAndWait(window.get()));
    const auto open = [&](const char* item) {
        qtest::ModalDriver driver;
        driver.chooseMenuItem(item);
        clickMenuTitle(window.get(), "&File");
        EXPECT_TRUE(driver.waitAllAnswered()) << item;
    };

    open("Meter (1Line)");
    ASSERT_EQ(meterWindows().size(), 1);
    QPointer<MeterAll> one = meterWindow(MeterAll::OneLine);
    ASSERT_TRUE(one);
    EXPECT_TRUE(one->isVisible());
    EXPECT_TRUE(one->isWindow());
    EXPECT_EQ(one->parent(), nullptr);

    one->showMinimized();
    open("Meter (1Line)");
    EXPECT_EQ(meterWindows().size(), 1);
    EXPECT_EQ(meterWindow(MeterAll::OneLine), one.data());
    EXPECT_FALSE(one->isMinimized());

    open("Meter (2Line)");
    ASSERT_EQ(meterWindows().size(), 2);
    QPointer<MeterAll> two = meterWindow(MeterAll::TwoLine);
    ASSERT_TRUE(two);

    // Closing deletes the window; the next request makes a new one.
    one->close();
    flushDeletes();
    EXPECT_TRUE(one.isNull());
    EXPECT_EQ(meterWindows().size(), 1);
    open("Meter (1Line)");
    one = meterWindow(MeterAll::OneLine);
    ASSERT_TRUE(one);
    EXPECT_TRUE(one->isVisible());

    // Both go with the main window.
    window.reset();
    flushDeletes();
    EXPECT_TRUE(one.isNull());
    EXPECT_TRUE(two.isNull());
}

TEST_F(MainWindow, MeterZoomKeepsTheHundredPercentPosition)
{
    WatchedCore core;
    QLMainWindow window;
    window.attachCore(&core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    ASSERT_GE(window.showMeterWindow(2), 0);
    MeterAll* meter = meterWindow(MeterAll::TwoLine);
    ASSERT_NE(meter, nullptr);
    const QPoint at(120, 90);
    meter->moveScaled(at);
    const QSize size100 = meter->size();
    const auto check = [&](int code) {
        EXPECT_EQ(meter->scale(), static_cast<ZoomCode>(code));
        EXPECT_EQ(ZScale::unscaledPos(meter, meter->scale()), at);
        EXPECT_EQ(meter->size(), ZScale::scaleSize(code, size100));
    };

    // Off: the meters stay at 100 % whatever the window's zoom.
    window.action("150%")->trigger();
    SCOPED_TRACE("off at 150%");
    check(0);
    // On: they follow the window's zoom, now and on every later change.
    window.action("Meter Zoom")->trigger();
    check(1);
    window.action("200%")->trigger();
    check(2);
    // A window opened while it is on starts at the window's zoom.
    ASSERT_GE(window.showMeterWindow(1), 0);
    EXPECT_EQ(meterWindow(MeterAll::OneLine)->scale(), 2u);
    window.action("Meter Zoom")->trigger();
    check(0);
    EXPECT_EQ(meterWindow(MeterAll::OneLine)->scale(), 0u);
}

TEST_F(MainWindow, MeterStripsFollowMounts)
{
    WatchedCore core;
    QLMainWindow window;
    qtest::wireAsTheProgram(&window, &core);
    ASSERT_GE(window.showMeterWindow(1), 0);
    MeterAll* meter = meterWindow(MeterAll::OneLine);
    ASSERT_NE(meter, nullptr);
    MeterStrip* strip = meter->strip(3);
    ASSERT_NE(strip, nullptr);
    EXPECT_TRUE(strip->isHidden());
    ASSERT_GE(core.mountModel(3, Quil::MODEL_BROXM_D3), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return !strip->isHidden(); }));
    EXPECT_EQ(strip->accessor(), core.rackDevice(3));
    ASSERT_GE(core.mountModel(3, Quil::MODEL_NONE), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return strip->isHidden(); }));
}

} // namespace
