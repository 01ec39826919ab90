// The demo's screenshots: the program brought up as its entry does, the
// demo's setup file opened through File > Open, the window grabbed once the
// file's units show connected; then the first unit's device log and its
// properties and the BroxL-D2's summary, each opened through the slot's
// context menu as a right click opens it, and grabbed; last the firmware
// window through Tool > Firmware Update, the BroxL-D3 package chosen in its
// file dialog, grabbed once the unit is analysed.
#include "tests/screens/screens.h"

#include "app/app_quilobject.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_globaltimers.h"
#include "tests/support/gui/modal_driver.h"
#include "ui/main/qlapp.h"
#include "ui/panels/devlistframe.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/blinktimer.h"
#include "ui/widgets/zmeter.h"

#ifdef QUILLON_SCREENS_FWUPDATE
#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"
#endif

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMap>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace screens {
namespace {

constexpr int kUnits = 4;
// The slot of the BroxL-D3, whose log is uploaded to the program.
constexpr int kLogSlot = 0;
// The slot of the BroxL-D2, whose summaries are read line by line.
constexpr int kSummarySlot = 3;
// Discovery and connection share one bound from the start: on a loaded
// machine (tests run two a core) four units took longer than 30 s.
constexpr int kLimitMs = 60000;

template <typename Pred> bool waitFor(Pred pred, const QElapsedTimer& clock)
{
    while (!pred()) {
        if (clock.elapsed() >= kLimitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

int connectedSlots(const QLMainWindow* window)
{
    int connected = 0;
    for (int slot = 0; slot < kUnits; ++slot)
        connected += window->slotStrip()->button(slot)->indicator() == SLOT_CONNECTED ? 1 : 0;
    return connected;
}

bool save(const QImage& image, const QString& path)
{
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "quillon_screens: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Opens the slot's context menu as a right click on the slot does; the
// driver's answers choose the entry and answer what it opens. Returns once
// that has closed.
void openSlotMenu(QLMainWindow* window, int slot, const qtest::ModalDriver& driver)
{
    QWidget* button = window->slotStrip()->button(slot);
    const QPoint at = button->rect().center();
    QCursor::setPos(button->mapToGlobal(at));
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, button->mapToGlobal(at));
    QApplication::sendEvent(button, &event);
    for (const QString& error : driver.errors())
        std::fprintf(stderr, "quillon_screens: %s\n", qPrintable(error));
}

// Grabs the device log dialog as it hides itself, which it does once the
// unit's upload has finished: the last picture of it, with its last text.
class LogDialogCatcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Hide && widget && widget->isWindow()
            && widget->objectName() == QLatin1String("DevLogDlg")) {
            image = widget->grab().toImage();
            if (const auto* label = widget->findChild<QLabel*>(QStringLiteral("m_messageLabel")))
                text = label->text();
        }
        return false;
    }
    QImage image;
    QString text;
};

// "Log" on the BroxL-D3: the unit collects its log files and uploads them
// into a folder of the demo's home. True when the dialog finished and the
// files arrived.
bool captureDeviceLog(QLMainWindow* window, const QString& out)
{
    const QString folder = QDir::home().filePath(QStringLiteral("Documents/Device Log"));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    LogDialogCatcher catcher;
    qApp->installEventFilter(&catcher);
    {
        qtest::ModalDriver driver(20000);
        driver.chooseMenuItem(QStringLiteral("Log"));
        driver.typeFileName(folder + QLatin1Char('/'));
        openSlotMenu(window, kLogSlot, driver);
    }
    qApp->removeEventFilter(&catcher);
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot);
    std::printf("device log: \"%s\", %d files in %s: %s\n", qPrintable(catcher.text), static_cast<int>(files.size()),
        qPrintable(folder), qPrintable(files.join(QStringLiteral(", "))));
    const bool saved = save(catcher.image, out + QStringLiteral("/demo-devlog.png"));
    return saved && catcher.text.endsWith(QStringLiteral(" finished")) && !files.isEmpty();
}

// A dialog that the slot's menu entry opens, grabbed once it has shown the
// unit's values for `settleMs`, then closed with Escape.
bool captureDialog(QLMainWindow* window, int slot, const QString& entry, int settleMs, const QString& path)
{
    QImage image;
    QElapsedTimer shown;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        // Titled with the slot: "Properties #1".
        if (!dialog || !dialog->windowTitle().startsWith(entry))
            return;
        if (!shown.isValid())
            shown.start();
        if (shown.elapsed() < settleMs)
            return;
        image = dialog->grab().toImage();
        watch.stop();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    watch.start();
    {
        qtest::ModalDriver driver(settleMs + 10000);
        driver.chooseMenuItem(entry);
        openSlotMenu(window, slot, driver);
    }
    return save(image, path);
}

#ifdef QUILLON_SCREENS_FWUPDATE
// The demo's BroxL-D3 package, in the documents folder the window's file
// dialog opens, so its bare name is what a user would pick.
constexpr const char* kFirmwarePackage = "BroxL-D3_V210.bin";

// Tool > Firmware Update, the package chosen through "Select", the window
// grabbed once its rows are analysed (J001 with a version), then closed.
// True when J001 was analysed.
bool captureFirmware(QLMainWindow* window, const QString& path)
{
    QImage image;
    bool analysed = false;
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    watch.setInterval(50);
    bool chosen = false;
    int fewest = kUnits;
    std::unique_ptr<qtest::ModalDriver> driver;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* firmware = qobject_cast<Quil::FirmUpdateUI*>(QApplication::activeModalWidget());
        if (!chosen && firmware) {
            chosen = true;
            driver = std::make_unique<qtest::ModalDriver>(10000);
            driver->typeFileName(QString::fromLatin1(kFirmwarePackage));
            QTest::mouseClick(firmware->form().m_btnFileSelect, Qt::LeftButton);
            // Answered; the driver must not take the window for a dialog
            // it has no answer for.
            for (const QString& error : driver->errors())
                std::fprintf(stderr, "quillon_screens: %s\n", qPrintable(error));
            driver.reset();
            return;
        }
        if (!firmware)
            return;
        fewest = std::min(fewest, connectedSlots(window));
        const auto& rows = firmware->rows();
        analysed = firmware->uiState() == Quil::FirmUpdateUI::UPDATE_UI_READY && !rows.empty()
            && std::all_of(rows.begin(), rows.end(),
                [](const auto& row) { return row->modelState() == Quil::DeviceObject::Analyzed; });
        if (!analysed && clock.elapsed() < kLimitMs)
            return;
        watch.stop();
        // A last moment to draw the analysed rows.
        for (int i = 0; i < 10; ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        image = firmware->grab().toImage();
        for (const auto& row : rows)
            std::printf("firmware row %s: model state %d, version %s\n", qPrintable(row->deviceName()),
                row->modelState(), qPrintable(row->modelVersion()));
        firmware->close();
    });
    watch.start();
    window->action(QStringLiteral("Firmware Update"))->trigger();
    // The window took the analysed unit's rack link (one slot fewer while
    // it was open); closing it gives the link back.
    clock.restart();
    const bool reconnected = waitFor([&] { return connectedSlots(window) == kUnits; }, clock);
    std::printf("%d of %d units connected while the firmware window was open, %d again %lld ms after it closed\n",
        fewest, kUnits, connectedSlots(window), static_cast<long long>(clock.elapsed()));
    return save(image, path) && analysed && fewest < kUnits && reconnected;
}
#endif

} // namespace

int runDemo(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: quillon_screens --demo <output-folder> <setup-file> [--firmware-only]\n");
        return 2;
    }
    const bool firmwareOnly = argc > 4 && std::strcmp(argv[4], "--firmware-only") == 0;
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();
    ZSkins::init();
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QString setupFile = QString::fromLocal8Bit(argv[3]);

    const Quil::VSockObject socketLayer;
    Quil::QLApp quil;
    if (quil.init() < 0) {
        std::fprintf(stderr, "quillon_screens: the program did not start\n");
        return 1;
    }
    Quil::GlobalTimer timers;
    timers.startGlobalTimers();
    Quil::startBlinkTimer();
    QLMainWindow* window = quil.mainWindow();

    QElapsedTimer clock;
    clock.start();
    // Opened once the units are known, as a user would after start-up.
    int found = 0;
    const bool allFound = waitFor(
        [&] {
            QMap<QString, Quil::DeviceEntry> devices;
            quil.core()->getFoundDevices(&devices);
            found = devices.size();
            return found >= kUnits;
        },
        clock);
    // Says which step a failed run stopped at: discovery or placing.
    if (!allFound)
        std::printf("%d of %d units found after %lld ms\n", found, kUnits, static_cast<long long>(clock.elapsed()));
    bool allConnected = false;
    {
        qtest::ModalDriver driver(10000);
        driver.typeFileName(setupFile);
        // Placing units into a mounted rack asks whether to save it first,
        // and so does placing the units it then finds; an answer left over
        // goes with the driver.
        driver.pressButton("No");
        driver.pressButton("No");
        window->action(QStringLiteral("Open"))->trigger();
        allConnected = waitFor([&] { return connectedSlots(window) == kUnits; }, clock);
        for (const QString& error : driver.errors())
            std::printf("placing: %s\n", qPrintable(error));
    }
    // The link asks for meters at its first renewal, some seconds after a
    // unit connects: wait for levels on the shown panel (bounded), so the
    // picture shows a live unit.
    QElapsedTimer settle;
    settle.start();
    const auto showsLevels = [&] {
        const QList<ZMeter*> meters = window->findChildren<ZMeter*>();
        return std::any_of(meters.begin(), meters.end(), [](const ZMeter* m) { return m->value() > 0; });
    };
    while (settle.elapsed() < 12000 && !showsLevels())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 10);

    if (!QDir().mkpath(out) || !save(window->grab().toImage(), out + QStringLiteral("/demo.png")))
        return 1;
    std::printf("%d of %d units connected after %lld ms\n", connectedSlots(window), kUnits,
        static_cast<long long>(clock.elapsed()));
    if (!allConnected)
        return 1;
    bool logged = true;
    bool properties = true;
    bool summary = true;
    if (!firmwareOnly) {
        logged = captureDeviceLog(window, out);
        properties = captureDialog(
            window, kLogSlot, QStringLiteral("Properties"), 1500, out + QStringLiteral("/demo-properties.png"));
        // The BroxL-D2's summary, read from the unit line by line.
        summary = captureDialog(
            window, kSummarySlot, QStringLiteral("Summary"), 4000, out + QStringLiteral("/demo-summary.png"));
    }
#ifdef QUILLON_SCREENS_FWUPDATE
    const bool firmware = captureFirmware(window, out + QStringLiteral("/demo-firmware.png"));
#else
    const bool firmware = !firmwareOnly;
#endif
    return logged && properties && summary && firmware ? 0 : 1;
}

} // namespace screens
