// A program directory for the recovery updater with its own settings, in
// the package sandbox (its own home, documents and package folders), and the
// window driven with real clicks against the simulated recovery unit.
#pragma once

#include "tests/fwupdate/package/fwpkg_fixture.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/updater/recovery_fixtures.h"

#include "updater/ini_settings.h"
#include "updater/updater.h"
#include "updater/window/updater_dialog.h"
#include "updater/window/updater_main.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCodec>
#include <QTextEdit>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace windowtest {

constexpr int kRunLimitMs = 60000;
constexpr int kReplyMs = 5000;
const char kUnitMac[] = "00-11-22-33-44-55";

// A 2 MiB program image: its footer sits inside the data it writes.
constexpr int64_t kProgramSize = 0x200000;
constexpr uint32_t kProgramUsed = 0x10F010;
// A boot image of 1 MiB: only the first 0xE0000 bytes are written.
constexpr int64_t kBootSize = 0x100000;

class WindowBed : public fwpkgtest::PackageSandbox {
protected:
    void SetUp() override
    {
        PackageSandbox::SetUp();
        progDir = root.file("prog");
        ASSERT_EQ(::mkdir(progDir.c_str(), 0755), 0);
        programDir = QString::fromStdString(progDir);
        setApplicationDirectory(programDir);
    }
    void TearDown() override
    {
        setApplicationDirectory(QString());
        PackageSandbox::TearDown();
    }

    // An image with its footer in the source folder.
    std::string image(const std::string& name, const std::string& model, int64_t size = kProgramSize,
        uint32_t footerAt = kProgramUsed, const char* version = "r0107")
    {
        const std::string path = src + "/" + name;
        EXPECT_TRUE(recoverytest::writeImage(QString::fromStdString(path), size, footerAt, version, model.c_str()));
        return path;
    }
    // A package of the model in the package folder, holding the image.
    QString programPackage(const std::string& file, const std::string& model, const std::string& imagePath)
    {
        return QString::fromStdString(package(file, 16, "Quil" + model,
            fwpkgtest::word(fwpkgtest::version('V', 1, 2, 0)), {"data/", "data/fw.BIN=" + imagePath}));
    }
    // "update.ini", in Shift-JIS as the units' tools write it.
    void writeSettings(const QString& program, uint16_t port)
    {
        const QString text = QStringLiteral("[UPDATE]\r\nPROGRAM=%1\r\nIPaddress=127.0.0.1\r\nPortNumber=%2\r\n"
                                            "MACaddress=%3\r\n")
                                 .arg(program)
                                 .arg(port)
                                 .arg(QLatin1String(kUnitMac));
        QFile file(programDir + QStringLiteral("/update.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QTextCodec::codecForName("Shift-JIS")->fromUnicode(text));
    }

    // The window of the program directory, shown, with waits short enough
    // for silent units.
    std::unique_ptr<UpdaterDialog> openWindow(bool boot = false, int replyMs = kReplyMs)
    {
        auto window = std::make_unique<UpdaterDialog>(boot);
        Updater::Timeouts timeouts;
        timeouts.connectMs = 5000;
        timeouts.writeMs = 5000;
        timeouts.replyMs = replyMs;
        window->updater()->setTimeouts(timeouts);
        EXPECT_TRUE(qtest::showAndWait(window.get()));
        return window;
    }

    // "select", answering the file dialog with path and any boxes with OK.
    static void select(UpdaterDialog& window, const QString& path, int boxes = 0)
    {
        qtest::ModalDriver driver;
        driver.typeFileName(path);
        for (int i = 0; i < boxes; ++i)
            driver.pressButton(QStringLiteral("OK"));
        QTest::mouseClick(window.selectButton(), Qt::LeftButton);
        EXPECT_TRUE(driver.waitAllAnswered());
        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
    }

    // Clicks a run button and waits until the window has taken the end of
    // the run.
    static bool run(UpdaterDialog& window, QPushButton* button)
    {
        if (!button->isEnabled())
            return false;
        QTest::mouseClick(button, Qt::LeftButton);
        return qtest::waitUntil(
            [&] { return !window.updater()->isRunning() && window.connectButton()->isEnabled(); }, kRunLimitMs);
    }

    static QString message(const UpdaterDialog& window) { return window.messageLine()->toPlainText(); }

    // Runs the program's start-up with `arguments`; `drive` gets the shown
    // window (waits shortened) inside the event loop and ends by closing
    // it. A stuck test ends at the watchdog instead of hanging.
    int runProgram(const QStringList& arguments, const std::function<void(UpdaterDialog*)>& drive)
    {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* window = qobject_cast<UpdaterDialog*>(widget);
                if (!window)
                    continue;
                windowSeen = true;
                if (window->isVisible() && !windowDriven) {
                    windowDriven = true;
                    window->updater()->setTimeouts({5000, 5000, kReplyMs});
                    drive(window);
                }
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
        watchdog.start(kRunLimitMs * 2);
        windowSeen = windowDriven = false;
        const int result = updaterMain(arguments, programDir);
        EXPECT_EQ(QCoreApplication::applicationName(), "Quillon Recovery Updater");
        return result;
    }

    // The WRITE line the unit prints for these image bytes under tag.
    static std::string writeLine(const std::string& tag, const QByteArray& bytes)
    {
        return "WRITE " + tag + " " + std::to_string(bytes.size()) + " "
            + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString();
    }
    // The unit printed a line starting with prefix during the last run.
    static bool printed(recoverytest::Unit& unit, const std::string& prefix)
    {
        bool seen = false;
        for (const std::string& line : unit.lines())
            seen = seen || line.rfind(prefix, 0) == 0;
        return seen;
    }

    std::string progDir;
    QString programDir;
    bool windowSeen = false;
    bool windowDriven = false;
};

} // namespace windowtest
