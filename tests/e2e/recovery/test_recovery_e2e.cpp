// The recovery updater as an operator meets it: the built executable started
// from its own program directory on a virtual X server (link or platform
// plugin faults end it at once), and the program's body bringing a unit back
// from the first click to the closed window.
#include "window_fixture.h"

#include "updater/window/about_dialog.h"
#include "updater/window/updater_main.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMenuBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

using recoverytest::onLoopback;
using recoverytest::Unit;
using windowtest::WindowBed;

namespace {

class RecoveryE2E : public WindowBed {
protected:
    // A full program directory: settings naming the package, the boot
    // image and the legal notices.
    QString fillProgramDirectory(uint16_t port)
    {
        const QString path = programPackage("broxl.bin", "BroxL-D2", image("fw.img", "BroxL-D2"));
        writeSettings(path, port);
        EXPECT_TRUE(
            recoverytest::writeImage(programDir + "/boot.bin", windowtest::kBootSize, 0xE0000, "b0123", "BroxL-D2"));
        EXPECT_EQ(::mkdir((progDir + "/Legal").c_str(), 0755), 0);
        EXPECT_TRUE(
            qtest::writeFile(progDir + "/Legal/legal.txt", qtest::readFile(qtest::sourcePath("Legal/legal.txt"))));
        return path;
    }
};

TEST_F(RecoveryE2E, BuiltProgramStartsFromItsDirectoryOnAnXServer)
{
    if (::access("/usr/bin/Xvfb", X_OK) != 0)
        GTEST_SKIP() << "Xvfb is not installed (scripts/bootstrap installs it)";
    fillProgramDirectory(12302);
    // The program reads its settings beside its own file, so it runs from a
    // copy in the program directory.
    const std::string program = progDir + "/quillon_updater";
    ASSERT_TRUE(qtest::writeFile(program, qtest::readFile(QUILLON_UPDATER_PROGRAM)));
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);

    // Xvfb names the display it took on its output.
    qtest::ChildProcess server({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    std::string display;
    ASSERT_TRUE(server.readLine(&display, 20000)) << "Xvfb named no display";
    qtest::ChildProcess updater({"env", "DISPLAY=:" + display, "QT_QPA_PLATFORM=xcb", program});
    ASSERT_TRUE(updater.started());
    EXPECT_EQ(updater.wait(2000), -1) << "the program ended by itself";
    updater.terminate();
    server.terminate();
}

TEST_F(RecoveryE2E, UnitIsBroughtBackFromTheFirstClickToTheClosedWindow)
{
    Unit unit(onLoopback({"--name", "BroxL-D2"}));
    const QString path = fillProgramDirectory(unit.port);
    const QByteArray used = QByteArray::fromStdString(qtest::readFile(src + "/fw.img")).left(windowtest::kProgramUsed);
    const std::string written = "WRITE FIRM:PROG " + std::to_string(used.size()) + " "
        + QCryptographicHash::hash(used, QCryptographicHash::Md5).toHex().toStdString();
    bool driven = false;
    bool aboutSeen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<UpdaterDialog*>(widget);
            if (!window || !window->isVisible() || driven)
                continue;
            driven = true;
            window->updater()->setTimeouts({5000, 5000, windowtest::kReplyMs});
            // The settings' package is offered as the program starts.
            EXPECT_EQ(window->fileNameEdit()->text(), QDir::toNativeSeparators(path));
            select(*window, path);
            ASSERT_TRUE(run(*window, window->connectButton()));
            EXPECT_EQ(message(*window), "Connection was completed.");
            EXPECT_EQ(window->unitNameEdit()->text(), "BroxL-D2");
            EXPECT_EQ(window->unitVersionEdit()->text(), "R1.020");
            ASSERT_TRUE(run(*window, window->updateButton()));
            EXPECT_EQ(message(*window), "Update was completed.\nClose this Update Program.");
            bool wrote = false;
            for (const std::string& line : unit.lines())
                wrote = wrote || line.rfind(written, 0) == 0;
            EXPECT_TRUE(wrote) << "the unit did not record the image";

            // About from the menu, then the window closes.
            QTimer::singleShot(0, [&] {
                EXPECT_TRUE(qtest::waitUntil([&] { return QApplication::activeModalWidget() != nullptr; }, 10000));
                if (auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
                    aboutSeen = true;
                    QTest::mouseClick(about->okButton(), Qt::LeftButton);
                }
            });
            QMenuBar* bar = window->menuBar();
            QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(window->aboutAction()).center());
            window->close();
        }
    });
    poll.start(10);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        ADD_FAILURE() << "the program did not end";
        QApplication::closeAllWindows();
        QApplication::quit();
    });
    watchdog.start(windowtest::kRunLimitMs * 2);
    EXPECT_EQ(updaterMain({}, programDir), 0);
    EXPECT_TRUE(driven);
    EXPECT_TRUE(aboutSeen);
    EXPECT_TRUE(unpackFolders(home).empty());
}

} // namespace
