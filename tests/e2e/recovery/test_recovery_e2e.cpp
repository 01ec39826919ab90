// The recovery updater as an operator meets it: the built executable started
// from its own program directory on a virtual X server (link or platform
// plugin faults end it at once), and the program's body bringing a unit back
// from the first click to the closed window.
#include "tests/updater/window/window_fixture.h"

#include "updater/window/about_dialog.h"
#include "updater/window/updater_main.h"

#include <QDir>
#include <QMenuBar>
#include <QStringList>
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
    bool aboutSeen = false;
    const int result = runProgram({}, [&](UpdaterDialog* window) {
        // The settings' package is offered as the program starts.
        EXPECT_EQ(window->fileNameEdit()->text(), QDir::toNativeSeparators(path));
        select(*window, path);
        ASSERT_TRUE(run(*window, window->connectButton()));
        EXPECT_EQ(message(*window), "Connection was completed.");
        EXPECT_EQ(window->unitNameEdit()->text(), "BroxL-D2");
        EXPECT_EQ(window->unitVersionEdit()->text(), "R1.020");
        ASSERT_TRUE(run(*window, window->updateButton()));
        EXPECT_EQ(message(*window), "Update was completed.\nClose this Update Program.");
        EXPECT_TRUE(printed(unit, writeLine("FIRM:PROG", used))) << "the unit did not record the image";

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
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(windowDriven);
    EXPECT_TRUE(aboutSeen);
    EXPECT_TRUE(unpackFolders(home).empty());
}

TEST_F(RecoveryE2E, BootModeSurvivesARefusedChangeoverAndThenWritesTheBootImage)
{
    // A unit that is not in its update mode refuses the changeover with
    // 0x800000FF; the operator sees why, and may try again once it is.
    Unit unit(onLoopback({"--name", "BroxL-D2", "--fault", "5:result:800000FF"}));
    fillProgramDirectory(unit.port);
    const QString boot = programDir + "/boot.bin";
    const QByteArray used = QByteArray::fromStdString(qtest::readFile(boot.toStdString())).left(0xE0000);
    const int result = runProgram({"boot"}, [&](UpdaterDialog* window) {
        EXPECT_EQ(window->fileNameEdit()->text(), QDir::toNativeSeparators(boot));
        select(*window, boot);
        ASSERT_TRUE(run(*window, window->connectButton()));
        EXPECT_EQ(message(*window), "Connection was completed.");

        QStringList shown;
        const auto recording = QObject::connect(
            window->messageLine(), &QTextEdit::textChanged, [&] { shown << window->messageLine()->toPlainText(); });
        ASSERT_TRUE(run(*window, window->updateButton()));
        QObject::disconnect(recording);
        EXPECT_TRUE(shown.contains("[ERROR:009]  Z Series is not an update mode.")) << shown.join('|').toStdString();
        EXPECT_EQ(message(*window), "[ERROR:106]  Update changeover was failed.");
        EXPECT_FALSE(printed(unit, "WRITE")) << "an image was written after the refusal";
        ASSERT_TRUE(window->updateButton()->isEnabled()) << "update is not usable after the refusal";

        unit.configure(recoverytest::options({"--name", "BroxL-D2"}));
        ASSERT_TRUE(run(*window, window->updateButton()));
        EXPECT_EQ(message(*window), "Update was completed.\nClose this Update Program.");
        EXPECT_TRUE(printed(unit, writeLine("FIRM:BOOT", used)));
        EXPECT_FALSE(window->updateButton()->isEnabled());
        window->close();
    });
    EXPECT_EQ(result, 0);
}

} // namespace
