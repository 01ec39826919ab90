// The demo's screenshot: the program brought up as its entry does, the
// demo's setup file opened through File > Open, the window grabbed once the
// file's units show connected.
#include "screens.h"

#include "app/app_quilobject.h"
#include "device/dev_globaltimers.h"
#include "device/dev_vsockobject.h"
#include "support/gui/modal_driver.h"
#include "ui/main/qlapp.h"
#include "ui/panels/devlistframe.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/zmeter.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMap>

#include <algorithm>
#include <cstdio>

namespace screens {
namespace {

constexpr int kUnits = 3;
constexpr int kLimitMs = 30000;

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

} // namespace

int runDemo(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: quillon_screens --demo <output-folder> <setup-file>\n");
        return 2;
    }
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
    QLMainWindow* window = quil.mainWindow();

    QElapsedTimer clock;
    clock.start();
    // Opened once the units are known, as a user would after start-up.
    waitFor(
        [&] {
            QMap<QString, Quil::DeviceEntry> found;
            quil.core()->getFoundDevices(&found);
            return found.size() >= kUnits;
        },
        clock);
    qtest::ModalDriver driver(10000);
    driver.typeFileName(setupFile);
    // Placing units into a mounted rack asks whether to save it first.
    driver.pressButton("No");
    window->action(QStringLiteral("Open"))->trigger();
    const bool allConnected = waitFor([&] { return connectedSlots(window) == kUnits; }, clock);
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

    const QString path = out + QStringLiteral("/demo.png");
    if (!QDir().mkpath(out) || !window->grab().save(path)) {
        std::fprintf(stderr, "quillon_screens: cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("%s\n", qPrintable(path));
    std::printf("%d of %d units connected after %lld ms\n", connectedSlots(window), kUnits,
        static_cast<long long>(clock.elapsed()));
    return allConnected ? 0 : 1;
}

} // namespace screens
