// The recovery updater as the program starts it: program or boot mode, the
// image it offers, and whole runs from the first click to the closed window
// against the simulated recovery unit.
#include "tests/updater/window/window_fixture.h"

#include "updater/window/updater_main.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <vector>

using recoverytest::onLoopback;
using recoverytest::Unit;
using windowtest::WindowBed;

namespace {

class RecoveryStartup : public WindowBed { };

TEST_F(RecoveryStartup, BootWithoutBootImageEndsWithABoxAndNoWindow)
{
    // Another image beside it does not stand in for the boot image.
    ASSERT_TRUE(qtest::writeFile(progDir + "/other.bin", "x"));
    qtest::ModalDriver driver;
    driver.pressButton("OK");
    const int result = runProgram({"boot"}, [](UpdaterDialog* window) { window->close(); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(result & 0xFF, 255);
    EXPECT_FALSE(windowSeen);
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].kind, "message");
    EXPECT_EQ(driver.seen()[0].title, "Quillon Recovery Updater");
    EXPECT_EQ(driver.seen()[0].text, "File 'boot.bin' not found!");
}

TEST_F(RecoveryStartup, TheOfferedImageIsShownButConnectWaitsForAChoice)
{
    const std::string program = image("fw.img", "Sorn-D");
    const QString outside = programPackage("outside.bin", "Sorn-D", program);
    const QString japanese = QString::fromUtf8("ファーム.bin");
    const QString boot = programDir + "/boot.bin";
    ASSERT_TRUE(recoverytest::writeImage(boot, windowtest::kBootSize, 0xE0000, "b0123", "BootUnit"));
    struct Case {
        const char* what;
        QStringList arguments;
        QString program; // the PROGRAM setting
        QString besideProgram; // a package moved into the program directory under this name
        QString shownFile;
        const char* title;
        const char* imageName;
        const char* imageVersion;
    };
    const Case cases[] = {
        {"PROGRAM names a package", {}, outside, "", outside, "Update Program V5.8.1.1", "Sorn-D", "R0.107"},
        {"relative PROGRAM in Shift-JIS", {"Boot"}, japanese, japanese, programDir + "/" + japanese,
            "Update Program V5.8.1.1", "Sorn-D", "R0.107"},
        {"the one package beside the program", {"boot2"}, "", "only.bin", programDir + "/only.bin",
            "Update Program V5.8.1.1", "Sorn-D", "R0.107"},
        {"boot mode", {"boot", "extra"}, outside, "", boot, "Update Program V5.8.1.1 BootMode", "BootUnit", "b0123"},
    };
    ASSERT_TRUE(QDir(programDir).mkdir("folder.bin"));
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeSettings(c.program, 12302);
        QString moved;
        if (!c.besideProgram.isEmpty()) {
            // Out of the way while the other cases run: a second package
            // would make the directory's order decide.
            const QString made = programPackage("m" + std::to_string(n++) + ".bin", "Sorn-D", program);
            moved = programDir + "/" + c.besideProgram;
            ASSERT_TRUE(QFile::rename(made, moved));
            ASSERT_TRUE(QFile::rename(boot, boot + ".away"));
        }
        const int result = runProgram(c.arguments, [&](UpdaterDialog* window) {
            EXPECT_EQ(window->windowTitle(), c.title);
            EXPECT_EQ(window->fileNameEdit()->text(), QDir::toNativeSeparators(c.shownFile));
            EXPECT_EQ(window->imageNameEdit()->text(), c.imageName);
            EXPECT_EQ(window->imageVersionEdit()->text(), c.imageVersion);
            EXPECT_FALSE(window->imageFile().path().isEmpty());
            EXPECT_TRUE(window->selectButton()->isEnabled());
            EXPECT_FALSE(window->connectButton()->isEnabled());
            EXPECT_FALSE(window->updateButton()->isEnabled());
            EXPECT_TRUE(window->messageLine()->toPlainText().isEmpty());
            window->close();
        });
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(windowSeen);
        if (!moved.isEmpty()) {
            ASSERT_TRUE(QFile::remove(moved));
            ASSERT_TRUE(QFile::rename(boot + ".away", boot));
        }
    }
}

TEST_F(RecoveryStartup, ProgramModeUpdatesAUnitFromTheFirstClickToTheClosedWindow)
{
    Unit unit(onLoopback({"--name", "BroxL-D2"}));
    const std::string img = image("fw.img", "BroxL-D2");
    const QString path = programPackage("broxl.bin", "BroxL-D2", img);
    writeSettings(path, unit.port);
    const QByteArray used = QByteArray::fromStdString(qtest::readFile(img)).left(windowtest::kProgramUsed);
    const int result = runProgram({}, [&](UpdaterDialog* window) {
        window->updater()->setTimeouts({5000, 5000, windowtest::kReplyMs});
        select(*window, path);
        ASSERT_TRUE(run(*window, window->connectButton()));
        EXPECT_EQ(message(*window), "Connection was completed.");
        EXPECT_EQ(window->unitNameEdit()->text(), "BroxL-D2");
        EXPECT_EQ(window->unitVersionEdit()->text(), "R1.020");
        ASSERT_TRUE(run(*window, window->updateButton()));
        EXPECT_EQ(message(*window), "Update was completed.\nClose this Update Program.");
        EXPECT_EQ(window->progressBar()->value(), 100);
        EXPECT_TRUE(printed(unit, writeLine("FIRM:PROG", used)));
        window->close();
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(unpackFolders(home).empty());
}

TEST_F(RecoveryStartup, BootModeWritesTheBootImageAndOffersNoOtherAfterwards)
{
    Unit unit(onLoopback({"--name", "BootUnit"}));
    writeSettings(QString(), unit.port);
    const QString boot = programDir + "/boot.bin";
    ASSERT_TRUE(recoverytest::writeImage(boot, windowtest::kBootSize, 0xE0000, "b0123", "BootUnit"));
    const QByteArray used = QByteArray::fromStdString(qtest::readFile(boot.toStdString())).left(0xE0000);
    const int result = runProgram({"boot"}, [&](UpdaterDialog* window) {
        window->updater()->setTimeouts({5000, 5000, windowtest::kReplyMs});
        EXPECT_TRUE(window->windowTitle().endsWith(" BootMode"));
        select(*window, boot);
        ASSERT_TRUE(run(*window, window->connectButton()));
        EXPECT_FALSE(window->selectButton()->isEnabled());
        ASSERT_TRUE(window->updateButton()->isEnabled());
        ASSERT_TRUE(run(*window, window->updateButton()));
        EXPECT_EQ(message(*window), "Update was completed.\nClose this Update Program.");
        EXPECT_TRUE(printed(unit, writeLine("FIRM:BOOT", used)));
        EXPECT_FALSE(window->selectButton()->isEnabled());
        EXPECT_TRUE(window->connectButton()->isEnabled());
        EXPECT_FALSE(window->updateButton()->isEnabled());
        window->close();
    });
    EXPECT_EQ(result, 0);
}

TEST_F(RecoveryStartup, ProgramIsBuiltWithTheLegalNoticesBesideIt)
{
    const QFileInfo program(QStringLiteral(QUILLON_UPDATER_PROGRAM));
    ASSERT_TRUE(program.isExecutable());
    EXPECT_EQ(program.fileName(), "quillon_updater");
    const std::string beside = program.absolutePath().toStdString() + "/Legal/legal.txt";
    EXPECT_EQ(qtest::readFile(beside), qtest::readFile(qtest::sourcePath("Legal/legal.txt")));
    EXPECT_FALSE(qtest::readFile(beside).empty());
}

} // namespace
