// quillon: the desktop program. Brings up the process-wide services in
// order, runs the event loop and takes everything down in reverse.
// Exit code: the event loop's, -1 when start-up fails, 0 for a second start
// (the running instance is asked to come to the front instead).
#include "app/app_instance.h"
#include "app/app_log.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_globaltimers.h"
#include "ui/main/qlapp.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/blinktimer.h"

#include <QApplication>
#include <QStandardPaths>

#include <memory>

namespace {

// Lives between the socket layer and the event loop's end.
int runApplication(QApplication& app, InstanceChecker& checker)
{
    const Quil::VSockObject socketLayer;
    auto quil = std::make_unique<Quil::QLApp>();
    QObject::connect(&checker, &InstanceChecker::activationRequested, quil.get(),
        [app = quil.get()](qint64) { app->raiseMainWindow(); });
    if (quil->init() < 0)
        return -1;

    Quil::GlobalTimer timers;
    timers.startGlobalTimers();
    Quil::startBlinkTimer();
    // Every run starts with no log file.
    const QByteArray logPath
        = (QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + QStringLiteral("/Quil.log")).toUtf8();
    appLogSetPath(logPath.constData());
    appLogReset();
    appLogInstallSinks();
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();
    ZSkins::init();
    InstanceChecker checker;
    if (checker.check(argc, argv))
        return 0;
    return runApplication(app, checker);
}
