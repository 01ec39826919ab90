// The main window with a real, offline rack owner: menus, layout and zoom,
// the slot context menu, mounting through the dialog, identify and select,
// the name bar, the saved position and closing.
#include "app/app_prefs.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/test_support.h"
#include "tests/ui/main/main_fixture.h"
#include "ui/main/mountdlg.h"
#include "ui/main/netsetupdlg.h"
#include "ui/panels/devlistframe.h"
#include "ui/panels/imagepanel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QDialogButtonBox>
#include <QFile>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>

namespace {

using qtest::WatchedCore;

const QString kConnectionState = QStringLiteral("/DevState/devstate:0/ConnectionState:0");
const QString kSlotState = QStringLiteral("/DevState/devstate:0/SlotState:0");

QStringList actionTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

struct WindowSizes {
    QSize window;
    QSize strip;
    QSize scroll;
    QPoint right;
    qreal menuFont;
};

WindowSizes sizesOf(const QLMainWindow& window)
{
    const QFont font = window.fileMenu()->font();
    return {window.size(), window.slotStrip()->size(), window.slotScroll()->size(), window.rightPanel()->pos(),
        font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF()};
}

// The window is the wanted size where the screen's available area holds it,
// else no larger than that area with the whole frame still reachable by
// scrolling; either way fixed, and its frame inside the area.
void expectFitted(const QLMainWindow& window, const QSize& wanted)
{
    QCoreApplication::processEvents();
    const QRect area = window.screen()->availableGeometry();
    EXPECT_LE(window.frameGeometry().width(), area.width());
    EXPECT_LE(window.frameGeometry().height(), area.height());
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.size(), window.maximumSize());
    auto* view = qobject_cast<QScrollArea*>(window.centralWidget());
    ASSERT_NE(view, nullptr);
    if (area.width() >= wanted.width() && area.height() >= wanted.height()) {
        EXPECT_EQ(window.size(), wanted);
        return;
    }
    if (window.height() < wanted.height()) {
        EXPECT_EQ(view->verticalScrollBar()->maximum(), window.centralFrame()->height() - view->viewport()->height());
    }
}

using MainWindow = qtest::MainWindowTest;

TEST_F(MainWindow, MenusAndActions)
{
    QLMainWindow window;
    EXPECT_EQ(window.windowTitle(), "Quillon");
    QStringList titles;
    for (const QAction* action : window.menuBar()->actions())
        titles << action->text();
    EXPECT_EQ(titles, QStringList({"&File", "Tool", "Zoom", "About"}));
    EXPECT_EQ(actionTexts(window.fileMenu()),
        QStringList({"Open", "Save As", "-", "Network Setup", "Device Information", "Meter (1Line)", "Meter (2Line)",
            "-", "Quit"}));
    EXPECT_EQ(actionTexts(window.toolMenu()), QStringList({"Firmware Update"}));
    EXPECT_EQ(actionTexts(window.zoomMenu()), QStringList({"100%", "150%", "200%", "Meter Zoom"}));
    EXPECT_EQ(actionTexts(window.aboutMenu()), QStringList({"About Quillon"}));

    QAction* zoom100 = window.action("100%");
    ASSERT_NE(zoom100, nullptr);
    EXPECT_TRUE(zoom100->isChecked());
    ASSERT_NE(zoom100->actionGroup(), nullptr);
    EXPECT_TRUE(zoom100->actionGroup()->isExclusive());
    EXPECT_EQ(zoom100->actionGroup(), window.action("200%")->actionGroup());
    QAction* meterZoom = window.action("Meter Zoom");
    EXPECT_TRUE(meterZoom->isCheckable());
    EXPECT_FALSE(meterZoom->isChecked());
    EXPECT_EQ(meterZoom->actionGroup(), nullptr);
    for (const char* entry : {"Mount", "Connect", "Disconnect", "Properties", "Summary", "Log"})
        EXPECT_NE(window.action(entry), nullptr) << entry;

    // Without a rack owner every opener refuses without a dialog.
    EXPECT_EQ(window.showNetworkSetup(true), static_cast<JResult>(0x80000000u));
    EXPECT_EQ(window.showMount(0), static_cast<JResult>(0x80000000u));
    EXPECT_EQ(window.showProperties(0), static_cast<int>(0x80000000u));
}

TEST_F(MainWindow, FixedLayoutAndZoomRoundTrip)
{
    QLMainWindow window;
    ASSERT_TRUE(qtest::showAndWait(&window));
    const int extent = window.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int stripWidth = window.slotStrip()->width();
    EXPECT_EQ(window.slotStrip()->height(), 24 * 67 + 168);
    EXPECT_EQ(window.slotScroll()->size(), QSize(stripWidth + extent + 2, 594));
    EXPECT_EQ(window.slotScroll()->pos(), QPoint(0, 0));
    EXPECT_EQ(window.rightPanel()->geometry(), QRect(stripWidth + extent + 2, 0, 752, 594));
    EXPECT_EQ(window.nameBar()->geometry(), QRect(0, 0, 752, 51));
    EXPECT_EQ(window.deviceArea()->geometry(), QRect(0, 51, 752, 543));
    const QSize expected(stripWidth + extent + 2 + 752, 594 + window.menuBar()->sizeHint().height());
    expectFitted(window, expected);
    EXPECT_EQ(window.slotScroll()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(window.slotScroll()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    const WindowSizes at100 = sizesOf(window);
    // Chosen through the menu, as the user does.
    window.action("150%")->trigger();
    EXPECT_EQ(window.zoomCode(), 1);
    const WindowSizes at150 = sizesOf(window);
    EXPECT_EQ(at150.strip, QSize(ZScale::scaleValue(1, stripWidth), ZScale::scaleValue(1, 24 * 67 + 168)));
    // The scroll bar keeps its width, so the window grows by less than half.
    EXPECT_EQ(at150.scroll.width(), ZScale::scaleValue(1, stripWidth + 2) + extent);
    expectFitted(window,
        QSize(ZScale::scaleValue(1, expected.width()) - (ZScale::scaleValue(1, extent) - extent),
            ZScale::scaleValue(1, 594) + ZScale::scaleValue(1, window.menuBar()->sizeHint().height())));
    EXPECT_EQ(at150.right.x(), at150.scroll.width());
    EXPECT_DOUBLE_EQ(at150.menuFont, at100.menuFont * 1.5);
    EXPECT_TRUE(window.action("150%")->isChecked());

    window.action("200%")->trigger();
    EXPECT_EQ(sizesOf(window).strip.height(), 2 * (24 * 67 + 168));
    EXPECT_EQ(window.centralFrame()->height(), 2 * 594);
    expectFitted(window, QSize(2 * expected.width() - extent, 2 * expected.height()));
    window.action("100%")->trigger();
    const WindowSizes back = sizesOf(window);
    EXPECT_EQ(back.window, at100.window);
    EXPECT_EQ(back.strip, at100.strip);
    EXPECT_EQ(back.scroll, at100.scroll);
    EXPECT_EQ(back.right, at100.right);
    EXPECT_DOUBLE_EQ(back.menuFont, at100.menuFont);
    expectFitted(window, expected);

    // The current zoom again changes nothing.
    EXPECT_EQ(window.setZoom(0), 0);
    EXPECT_EQ(window.size(), at100.window);
}

TEST_F(MainWindow, ContextMenuEnablingTable)
{
    struct Row {
        Quil::ModelType type;
        std::optional<uint32_t> connection; // nullopt: unreadable
        std::optional<uint32_t> slot;
        bool mount, connect, disconnect, summary, log;
    };
    const std::optional<uint32_t> unreadable;
    const Row rows[] = {
        {0, 0, 0, true, false, false, false, false},
        {0, 2, 2, true, false, false, false, false},
        {1, 0, 2, false, true, false, false, false},
        {1, 0, 1, true, false, false, false, false},
        {1, 0, unreadable, true, false, false, false, false}, // counts as SlotState 3
        {8, 1, 2, false, false, true, true, true},
        {9, 2, 0, false, false, true, true, true},
        {11, 3, 2, false, false, true, false, true},
        {12, 4, 2, false, false, false, false, true},
        {10, unreadable, 2, false, false, false, false, false},
        {5, 0, 2, false, true, false, false, false},
    };
    WatchedCore core;
    QLMainWindow window;
    window.attachCore(&core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    for (const Row& row : rows) {
        core.models[4] = row.type;
        core.states[{4, kConnectionState}] = row.connection;
        core.states[{4, kSlotState}] = row.slot;
        QStringList shown;
        qtest::onNextPopup([&](QMenu* menu) { shown = actionTexts(menu); });
        // A real right-click on slot 5's button.
        DevSelFrame* button = window.slotStrip()->button(4);
        window.slotScroll()->ensureWidgetVisible(button);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), button->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(button, &event);
        const QString what = QStringLiteral("type %1").arg(row.type);
        EXPECT_EQ(shown, QStringList({"Mount", "Connect", "Disconnect", "-", "Properties", "Summary", "Log"}))
            << what.toStdString();
        EXPECT_EQ(window.action("Mount")->isEnabled(), row.mount) << what.toStdString();
        EXPECT_EQ(window.action("Connect")->isEnabled(), row.connect) << what.toStdString();
        EXPECT_EQ(window.action("Disconnect")->isEnabled(), row.disconnect) << what.toStdString();
        EXPECT_TRUE(window.action("Properties")->isEnabled());
        EXPECT_EQ(window.action("Summary")->isEnabled(), row.summary) << what.toStdString();
        EXPECT_EQ(window.action("Log")->isEnabled(), row.log) << what.toStdString();
        EXPECT_EQ(window.action("Mount")->data().toUInt(), 4u);
    }
    // The menu follows the zoom in its font.
    window.setZoom(2);
    qreal zoomed = 0;
    const QFont plain = QMenu().font();
    qtest::onNextPopup([&](QMenu* menu) { zoomed = menu->font().pointSizeF(); });
    window.contextMenuRequestSlot(0);
    EXPECT_DOUBLE_EQ(zoomed, plain.pointSizeF() * 2);
}

TEST_F(MainWindow, MountThroughTheDialog)
{
    WatchedCore core;
    QLMainWindow window;
    qtest::wireAsTheProgram(&window, &core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    QSignalSpy mounted(&core, &Quil::QuilObject::mountChanged);

    qtest::ModalDriver driver;
    driver.chooseMenuItem("Mount");
    QString title;
    qtest::onNextModal<MountDlg>([&](MountDlg* dialog) {
        title = dialog->windowTitle();
        QRadioButton* broxL = dialog->button(1);
        QTest::mouseClick(broxL, Qt::LeftButton, Qt::NoModifier, QPoint(5, broxL->height() / 2));
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    window.contextMenuRequestSlot(2);
    EXPECT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(title, "Mount #3 BLANK");
    ASSERT_EQ(mounted.size(), 1);
    EXPECT_EQ(mounted[0][0].toUInt(), 2u);
    EXPECT_EQ(mounted[0][1].toInt(), 1);
    EXPECT_EQ(core.modelType(2), 1);
    ASSERT_TRUE(qtest::waitUntil([&] { return window.slotStrip()->button(2)->label() == "BroxL-D"; }));
    EXPECT_TRUE(window.slotStrip()->button(2)->isMounted());

    // Accepting the model already there mounts nothing.
    qtest::onNextModal<MountDlg>([&](MountDlg* dialog) {
        title = dialog->windowTitle();
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(window.showMount(2), 0);
    EXPECT_EQ(title, "Mount #3 BroxL-D");
    EXPECT_EQ(mounted.size(), 1);
}

TEST_F(MainWindow, PressIdentifiesAndReleaseSelects)
{
    WatchedCore core;
    ASSERT_GE(core.mountModel(3, Quil::MODEL_BROXL_D), 0);
    QLMainWindow window;
    window.attachCore(&core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    DevSelFrame* button = window.slotStrip()->button(3);
    const QPoint at(button->width() - 8, button->height() - 8);
    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, at);
    ASSERT_EQ(core.writes.size(), 1u);
    EXPECT_EQ(window.selectedSlot(), 0u);
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, at);
    ASSERT_EQ(core.writes.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(core.writes[i].slot, 3);
        EXPECT_EQ(core.writes[i].path, "/Event/Dev:0/Identify:0");
        EXPECT_EQ(core.writes[i].value, i == 0 ? 1 : 0);
        EXPECT_EQ(core.writes[i].source, 1);
    }
    EXPECT_EQ(window.selectedSlot(), 3u);
    EXPECT_TRUE(button->isSelected());
    EXPECT_FALSE(window.slotStrip()->button(0)->isSelected());
    EXPECT_EQ(window.setSelectId(24), static_cast<int>(0x80000000u));
    EXPECT_EQ(window.selectedSlot(), 3u);
}

// The name bar keeps following renames of the shown unit, however often it
// was selected, with one subscription on the shown slot only.
TEST_F(MainWindow, NameBarFollowsEveryRenameWithOneSubscription)
{
    WatchedCore core;
    ASSERT_GE(core.mountModel(0, Quil::MODEL_BROXL_D), 0);
    ASSERT_GE(core.mountModel(1, Quil::MODEL_BROXM_D), 0);
    // A unit reports its information only once it has an address.
    core.rackDevice(0)->setAddress(QStringLiteral("198.18.0.11"), 5000);
    QLMainWindow window;
    window.attachCore(&core);
    window.setSelectId(1);
    window.setSelectId(0);
    window.setSelectId(1);
    window.setSelectId(0);
    const QString path = QStringLiteral("/DevInfo/devinfo:0/devicename:0");
    const auto live = [&](int slot) { return core.recorders[slot]->live[{&window, path}]; };
    EXPECT_EQ(live(0), 1);
    EXPECT_EQ(live(1), 0);

    for (const char* name : {"Stage Left", "Stage Right", "Booth"}) {
        ASSERT_GE(core.rackDevice(0)->setRawValue(path, JLIB::JVariant(name, 64), 2), 0);
        EXPECT_TRUE(qtest::waitUntil([&] { return window.nameBar()->name() == name; })) << name;
        EXPECT_EQ(window.nameBar()->slot(), 0);
    }
    EXPECT_EQ(live(0), 1);
}

TEST_F(MainWindow, WindowPositionRestoredUnlessOffTheDesktop)
{
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint inside = desktop.topLeft() + QPoint(40, 30);
    struct Case {
        QVariant stored;
        bool restored;
    };
    const Case cases[] = {
        {QVariant(inside), true},
        {QVariant(desktop.bottomRight() + QPoint(500, 500)), false},
        {QVariant(QStringLiteral("40,30")), false},
        {QVariant(), false},
    };
    for (const Case& c : cases) {
        Quil::QuilPrefs::instance().setValue(Quil::QuilPrefs::kGeometry, c.stored);
        QLMainWindow window;
        EXPECT_EQ(window.restoreWindowPosition() == 0, c.restored) << c.stored.toString().toStdString();
        if (c.restored) {
            EXPECT_EQ(window.pos(), inside);
        }
    }
}

TEST_F(MainWindow, CancellingTheSaveQuestionKeepsTheWindow)
{
    WatchedCore core;
    auto* window = new QLMainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QLMainWindow> guard(window);
    window->attachCore(&core);
    ASSERT_TRUE(qtest::showAndWait(window));
    ASSERT_GE(core.mountModel(0, Quil::MODEL_SORN_D), 0);
    QSignalSpy closing(window, &QLMainWindow::aboutToClose);

    qtest::ModalDriver driver;
    driver.pressButton("Cancel");
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(driver.waitAllAnswered());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(closing.size(), 0);

    window->move(window->pos() + QPoint(7, 5));
    const QPoint frameAt = window->frameGeometry().topLeft();
    driver.pressButton("No");
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(closing.size(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    EXPECT_EQ(Quil::QuilPrefs::instance().value(Quil::QuilPrefs::kGeometry).toPoint(), frameAt);
}

} // namespace

namespace {

using MainWindow = qtest::MainWindowTest;

// A damaged setup file: the load warning, and the window keeps working.
TEST_F(MainWindow, CorruptSetupFileWarnsAndTheWindowStaysUsable)
{
    const qtest::TempDir dir;
    const QString path = QString::fromStdString(dir.path()) + "/broken.quil";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("MBDF").append(QByteArray(200, '\x7f')));
    file.close();

    WatchedCore core;
    QLMainWindow window;
    qtest::wireAsTheProgram(&window, &core);
    ASSERT_TRUE(qtest::showAndWait(&window));
    qtest::ModalDriver driver;
    driver.typeFileName(path);
    driver.pressButton("OK");
    window.action("Open")->trigger();
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 2u);
    EXPECT_EQ(driver.seen()[1].kind, "message");
    EXPECT_TRUE(driver.seen()[1].text.startsWith("Load operation not complete")) << driver.seen()[1].text.toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Still usable: zoom, select, mount.
    window.action("150%")->trigger();
    EXPECT_EQ(window.zoomCode(), 1);
    EXPECT_EQ(window.setSelectId(6), 0);
    EXPECT_GE(core.mountModel(6, Quil::MODEL_BROXO_D), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return window.slotStrip()->button(6)->label() == "BroxO-D"; }));
}

} // namespace
