// Quillon Recovery Updater: the application object, then the window with
// the files beside the program. Exit code: the event loop's, 255 when boot
// mode finds no boot image.
#include "updater/window/updater_main.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    return updaterMain(QCoreApplication::arguments().mid(1), QCoreApplication::applicationDirPath());
}
