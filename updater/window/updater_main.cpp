#include "updater/window/updater_main.h"

#include "updater/ini_settings.h"
#include "updater/window/about_dialog.h"
#include "updater/window/updater_dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>

int updaterMain(const QStringList& arguments, const QString& programDirectory)
{
    QCoreApplication::setApplicationName(QStringLiteral("Quillon Recovery Updater"));
    QApplication::setWindowIcon(updaterIcon());
    setApplicationDirectory(programDirectory);

    const bool bootMode = !arguments.isEmpty() && arguments.first() == QLatin1String("boot");
    if (bootMode && !QFileInfo(applicationFilePath() + QStringLiteral("boot.bin")).exists()) {
        QMessageBox::critical(
            nullptr, QCoreApplication::applicationName(), QStringLiteral("File 'boot.bin' not found!"));
        return -1;
    }
    UpdaterDialog dialog(bootMode);
    dialog.show();
    return QApplication::exec();
}
