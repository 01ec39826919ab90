// The recovery updater's window: its texts and boxes, the buttons through
// real runs against the simulated recovery unit, closing during a run, and
// the about box with the legal notices.
#include "tests/updater/window/window_fixture.h"

#include "ui/legal/legaldlg.h"
#include "updater/window/about_dialog.h"
#include "updater/window/updater_texts.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using recoverytest::onLoopback;
using recoverytest::options;
using recoverytest::Unit;
using windowtest::WindowBed;

namespace {

class RecoveryWindow : public WindowBed { };

const QString kWriteFailed = QStringLiteral("[ERROR:102]  Command transmission was failed.  (File writing)\n"
                                            "Please power off and power on.\nand Restart this Update Program.");
const QString kMismatched = QStringLiteral("[ERROR:112] Device was mismatched.");
const QString kConnected = QStringLiteral("Connection was completed.");
const QString kUpdated = QStringLiteral("Update was completed.\nClose this Update Program.");
const QString kInvalidFile = QStringLiteral("Invalid file.\nSelect a valid file.");

// Runs `act` on the next modal dialog of type T once it shows.
template <class T> bool onNextModal(const std::function<void(T*)>& act, const std::function<void()>& open)
{
    bool acted = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            if (!acted && dialog->isVisible()) {
                acted = true;
                act(dialog);
            }
        }
    });
    poll.start(10);
    open();
    return acted;
}

TEST_F(RecoveryWindow, EveryCodeHasItsTextAndOnlyFourBoxesExist)
{
    const std::vector<std::pair<uint16_t, const char*>> texts = {
        {1, "[ERROR:001]  Command transmission was failed.  (Securement of communication pathway )"},
        {2, "[ERROR:002]  Command transmission was failed.  (Acquisition of communication control authority)"},
        {3, "[ERROR:003]  Command transmission was failed.  (Control authority open)"},
        {4, "[ERROR:004]  Command transmission was failed.  (Disconnection of communication pathway )"},
        {5, "[ERROR:101]  Command transmission was failed.  (Update changeover)"},
        {6,
            "[ERROR:102]  Command transmission was failed.  (File writing)\nPlease power off and power on.\nand "
            "Restart this Update Program."},
        {7, "[ERROR:104]  Command transmission was failed.  (Version acquisition)"},
        {8, "[ERROR:105]  Command transmission was failed.  (Acquisition of device name)"},
        {9, "[ERROR:005]  Communication pathway couldn't be secured."},
        {10, "[ERROR:006]  Control authority couldn't be obtained."},
        {13, "[ERROR:106]  Update changeover was failed."},
        {14, "[ERROR:107]  File writing was failed.\nPlease power off and power on.\nand Restart this Update Program."},
        {15, "[ERROR:108]  Version acquisition was failed."},
        {16, "[ERROR:109]  Obtaining device name was failed."},
        {17, "[ERROR:112] Device was mismatched."},
        {18, "[ERROR:110]  The command is wrong."},
        {19, "[ERROR:008]  An illegal command has been being transmitted."},
        {20, "[ERROR:009]  Z Series is not an update mode."},
        {22, "Update was completed.\nClose this Update Program."},
    };
    // Through the window: each text replaces the line; 0, 11, 12 and 23 leave it.
    UpdaterDialog window(false);
    for (const auto& [code, text] : texts) {
        window.messageLine()->setPlainText("before");
        window.onRcvMsgCode(code);
        EXPECT_EQ(window.messageLine()->toPlainText(), QString::fromLatin1(text)) << code;
    }
    for (const uint16_t code : {0, 11, 12, 23, 0xFFFF}) {
        window.messageLine()->setPlainText("before");
        window.onRcvMsgCode(code);
        EXPECT_EQ(window.messageLine()->toPlainText(), "before") << code;
    }
    EXPECT_EQ(updaterMessageText(21, true), kConnected);
    EXPECT_EQ(updaterMessageText(21, false), kMismatched);

    // The reader's codes with and without their top bit.
    const QString fatal = "Unexpected error occurred.\nPlease restart the Update software and try again.";
    const QString tooLong = "Cannot unpack the file.\nFile path may be too long.\n"
                            "Make sure that the file path is less than 260 characters.";
    const QString locked = "Cannot unpack the file.\nUser directory cannot be edited.\n"
                           "Make sure that edits to this directory are permitted.";
    const QString boxes[12][2] = {{}, {"FATAL ERROR", fatal}, {"FILE READ ERROR", tooLong},
        {"FILE READ ERROR", kInvalidFile}, {"FILE READ ERROR", kInvalidFile}, {"FATAL ERROR", fatal}, {},
        {"FILE READ ERROR", kInvalidFile}, {"FILE READ ERROR", kInvalidFile}, {"FILE READ ERROR", locked},
        {"FILE READ ERROR", kInvalidFile}, {"FATAL ERROR", fatal}};
    for (int32_t code = 0; code < 12; ++code) {
        for (const int32_t result : {code, static_cast<int32_t>(0x80000000u | uint32_t(code))}) {
            const MessageBoxRecord* box = packageBoxFor(result);
            if (boxes[code][0].isEmpty()) {
                EXPECT_EQ(box, nullptr) << code;
                continue;
            }
            ASSERT_NE(box, nullptr) << code;
            EXPECT_EQ(box->kind, MessageBoxRecord::Critical);
            EXPECT_EQ(box->title, boxes[code][0]) << code;
            EXPECT_EQ(box->text, boxes[code][1]) << code;
        }
    }
    EXPECT_EQ(packageBoxFor(0x8000000C), nullptr);
    EXPECT_EQ(packageBoxFor(static_cast<int32_t>(0x80000003u)), packageBoxFor(static_cast<int32_t>(0x80000004u)));
}

TEST_F(RecoveryWindow, LayoutTitleAndSettingsShown)
{
    writeSettings(QString(), 12399);
    auto window = openWindow();
    EXPECT_EQ(window->windowTitle(), "Update Program V5.8.1.1");
    EXPECT_EQ(window->styleSheet(), "QWidget{font-size:12px}");
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(window->addressEdit()->text(), "127.0.0.1");
    EXPECT_EQ(window->portEdit()->text(), "12399");
    for (QLineEdit* field : {window->imageNameEdit(), window->imageVersionEdit(), window->fileNameEdit(),
             window->unitNameEdit(), window->unitVersionEdit(), window->portEdit(), window->addressEdit()})
        EXPECT_TRUE(field->isReadOnly()) << field->objectName().toStdString();
    EXPECT_TRUE(window->messageLine()->isReadOnly());
    EXPECT_EQ(window->progressBar()->minimum(), 0);
    EXPECT_EQ(window->progressBar()->maximum(), 100);
    EXPECT_EQ(window->progressBar()->value(), 0);
    // Top to bottom: select, the image fields, the bar, the line, the run buttons, the unit fields.
    const std::vector<QWidget*> order = {window->selectButton(), window->imageNameEdit(), window->imageVersionEdit(),
        window->fileNameEdit(), window->progressBar(), window->messageLine(), window->connectButton(),
        window->unitNameEdit(), window->unitVersionEdit(), window->portEdit(), window->addressEdit()};
    for (size_t i = 1; i < order.size(); ++i)
        EXPECT_LT(order[i - 1]->mapTo(window.get(), QPoint()).y(), order[i]->mapTo(window.get(), QPoint()).y()) << i;
    EXPECT_EQ(window->connectButton()->mapTo(window.get(), QPoint()).y(),
        window->updateButton()->mapTo(window.get(), QPoint()).y());

    // Only upwards.
    window->onRcvProgress(30);
    window->onRcvProgress(20);
    EXPECT_EQ(window->progressBar()->value(), 30);
    window->onRcvProgress(100);
    EXPECT_EQ(window->progressBar()->value(), 100);
}

TEST_F(RecoveryWindow, RefusedPackagesShowTheirBoxAndLeaveTheImageEmpty)
{
    const std::string fw = image("fw.img", "BroxL-D");
    const QString good = programPackage("good.bin", "BroxL-D", fw);
    const QString foo
        = QString::fromStdString(package("foo.bin", 16, "Foo", fwpkgtest::word(1), {"data/", "data/fw.BIN=" + fw}));
    const QString unknown = programPackage("unknown.bin", "Foo", fw);
    const QString damaged = QString::fromStdString(package(
        "damaged.bin", 16, "QuilBroxL-D", fwpkgtest::word(1), {"data/", "data/a.BIN=" + fw, "data/z.BIN!" + fw}));
    const QString plain = QString::fromStdString(src + "/plain.bin");
    ASSERT_TRUE(qtest::writeFile(plain.toStdString(), std::string(4096, 'x')));

    const QString fatal = "Unexpected error occurred.\nPlease restart the Update software and try again.";
    struct Case {
        const char* what;
        QString path;
        int32_t result;
        const char* title;
        QString text;
        const char* shownName; // a package of a known model still names it
    };
    const Case cases[] = {
        {"header Foo", foo, static_cast<int32_t>(0x80000003u), "FILE READ ERROR", kInvalidFile, ""},
        {"unknown model", unknown, static_cast<int32_t>(0x80000004u), "FILE READ ERROR", kInvalidFile, ""},
        {"not a container", plain, static_cast<int32_t>(0x8000000Au), "FILE READ ERROR", kInvalidFile, ""},
        {"no base folder takes it", damaged, static_cast<int32_t>(0x80000009u), "FILE READ ERROR",
            "Cannot unpack the file.\nUser directory cannot be edited.\n"
            "Make sure that edits to this directory are permitted.",
            "BroxL-D"},
    };
    auto window = openWindow();
    {
        // A file that vanished between the choice and the check.
        qtest::ModalDriver driver;
        driver.pressButton("OK");
        EXPECT_EQ(window->checkPackage(programDir + "/gone.bin"), static_cast<int32_t>(0x8000000Bu));
        ASSERT_EQ(driver.seen().size(), 1u);
        EXPECT_EQ(driver.seen()[0].title, "FATAL ERROR");
        EXPECT_EQ(driver.seen()[0].text, fatal);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A good package first, so a refused one has something to replace.
        select(*window, good);
        ASSERT_EQ(window->imageNameEdit()->text(), "BroxL-D");
        {
            qtest::ModalDriver driver;
            driver.pressButton("OK");
            EXPECT_EQ(window->checkPackage(c.path), c.result);
            ASSERT_EQ(driver.seen().size(), 1u);
            EXPECT_EQ(driver.seen()[0].title, c.title);
            EXPECT_EQ(driver.seen()[0].text, c.text);
        }
        select(*window, c.path, 1);
        EXPECT_EQ(window->imageNameEdit()->text(), c.shownName);
        EXPECT_TRUE(window->imageVersionEdit()->text().isEmpty());
        EXPECT_EQ(window->fileNameEdit()->text(), c.path);
        EXPECT_TRUE(window->imageFile().path().isEmpty());
        // Connecting stays possible: the unit can still be asked who it is.
        EXPECT_TRUE(window->connectButton()->isEnabled());
        EXPECT_FALSE(window->updateButton()->isEnabled());
    }
    // No box for a package the reader takes.
    qtest::ModalDriver quiet(500);
    EXPECT_EQ(window->checkPackage(good), 0);
    QTest::qWait(50);
    EXPECT_TRUE(quiet.seen().empty());
}

struct ButtonCase {
    const char* what;
    std::string package; // model of the package
    std::string footer; // model name in the image's footer
    std::vector<std::string> unit; // the unit's options
    bool update; // run an update after the connect
    QString message; // the line after the last run
    QString unitName;
    bool updateEnabled;
};

TEST_F(RecoveryWindow, ButtonsFollowTheRuns)
{
    const std::vector<ButtonCase> cases = {
        {"matching unit", "BroxL-D", "BroxL-D", {"--name", "BroxL-D", "--pver", "R1.050"}, false, kConnected, "BroxL-D",
            true},
        {"mismatching unit", "BroxL-D", "BroxL-D", {"--name", "Sorn-D"}, false, kMismatched, "Sorn-D", false},
        {"Mavik-D never matches", "Mavik-D", "Mavik-D", {"--name", "Mavik-D"}, false, kMismatched, "Mavik-D", false},
        {"image without a model name", "Sorn-D", "", {"--name", ""}, false, kConnected, "", false},
        {"padded names match", "Sorn-D", "Sorn-D ", {"--name", " Sorn-D"}, false, kConnected, " Sorn-D", true},
        {"refused changeover", "Sorn-D", "Sorn-D", {"--name", "Sorn-D", "--fault", "5:result:800000FF"}, true,
            "[ERROR:106]  Update changeover was failed.", "Sorn-D", true},
        {"failed write", "Sorn-D", "Sorn-D", {"--name", "Sorn-D", "--fault", "6:result:8000020A"}, true, kWriteFailed,
            "Sorn-D", true},
    };
    Unit unit(onLoopback());
    writeSettings(QString(), unit.port);
    int n = 0;
    for (const ButtonCase& c : cases) {
        SCOPED_TRACE(c.what);
        unit.configure(options(c.unit));
        const std::string name = "p" + std::to_string(n++) + ".bin";
        const QString path = programPackage(name, c.package, image(name + ".img", c.footer));
        auto window = openWindow();
        select(*window, path);
        ASSERT_TRUE(run(*window, window->connectButton()));
        EXPECT_EQ(window->unitNameEdit()->text(), c.unitName);
        if (c.update) {
            ASSERT_TRUE(run(*window, window->updateButton()));
        }
        EXPECT_EQ(message(*window), c.message);
        EXPECT_EQ(window->updateButton()->isEnabled(), c.updateEnabled);
        EXPECT_TRUE(window->connectButton()->isEnabled());
        EXPECT_TRUE(window->selectButton()->isEnabled());
        unit.lines();
    }
}

TEST_F(RecoveryWindow, ProductNameIsThePackagesForBroxAndPellElseTheImages)
{
    struct Row {
        std::string package;
        std::string footer;
        const char* shown;
    };
    const Row rows[] = {
        {"BroxL-D2", "Other", "BroxL-D2"},
        {"BroxO-D", "Other", "BroxO-D"},
        {"PellM-D", "Other", "PellM-D"},
        {"Sorn-D", "SornFooter", "SornFooter"},
        {"Mavik-D", "MavikFooter", "MavikFooter"},
    };
    auto window = openWindow();
    int n = 0;
    for (const Row& row : rows) {
        const std::string name = "n" + std::to_string(n++) + ".bin";
        const std::string img = image(name + ".img", row.footer);
        select(*window, programPackage(name, row.package, img));
        EXPECT_EQ(window->imageNameEdit()->text(), row.shown) << row.package;
        EXPECT_EQ(window->imageVersionEdit()->text(), "R0.107") << row.package;
    }
    // A cancelled choice keeps the image; connecting is offered all the same.
    window->messageLine()->setPlainText("old line");
    qtest::ModalDriver driver;
    driver.cancelFileDialog();
    QTest::mouseClick(window->selectButton(), Qt::LeftButton);
    EXPECT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(window->imageNameEdit()->text(), "MavikFooter");
    EXPECT_FALSE(window->imageFile().path().isEmpty());
    EXPECT_TRUE(window->connectButton()->isEnabled());
    EXPECT_TRUE(window->messageLine()->toPlainText().isEmpty());
}

TEST_F(RecoveryWindow, UpdateWritesTheImageOnceUntilAnotherIsSelected)
{
    Unit unit(onLoopback({"--name", "Sorn-D"}));
    writeSettings(QString(), unit.port);
    const std::string img = image("fw.img", "Sorn-D");
    const QString path = programPackage("sorn.bin", "Sorn-D", img);
    auto window = openWindow();
    select(*window, path);
    ASSERT_TRUE(run(*window, window->connectButton()));
    ASSERT_TRUE(window->updateButton()->isEnabled());
    EXPECT_EQ(window->unitVersionEdit()->text(), "R1.020");
    unit.lines();

    QTest::mouseClick(window->updateButton(), Qt::LeftButton);
    EXPECT_EQ(message(*window), " updating firmware.... ");
    EXPECT_FALSE(window->selectButton()->isEnabled());
    EXPECT_FALSE(window->connectButton()->isEnabled());
    EXPECT_FALSE(window->updateButton()->isEnabled());
    ASSERT_TRUE(
        qtest::waitUntil([&] { return !window->updater()->isRunning() && window->connectButton()->isEnabled(); },
            windowtest::kRunLimitMs));
    EXPECT_EQ(message(*window), kUpdated);
    EXPECT_EQ(window->progressBar()->value(), 100);
    EXPECT_FALSE(window->updateButton()->isEnabled());
    // The unit got the image's used bytes under the program tag.
    const QByteArray used = QByteArray::fromStdString(qtest::readFile(img)).left(windowtest::kProgramUsed);
    bool written = false;
    for (const std::string& line : unit.lines()) {
        written = written
            || line.rfind("WRITE FIRM:PROG " + std::to_string(used.size()) + " "
                       + QCryptographicHash::hash(used, QCryptographicHash::Md5).toHex().toStdString(),
                   0)
                == 0;
    }
    EXPECT_TRUE(written);

    // Connecting again does not offer the written image again ...
    ASSERT_TRUE(run(*window, window->connectButton()));
    EXPECT_EQ(message(*window), kConnected);
    EXPECT_FALSE(window->updateButton()->isEnabled());
    // ... selecting it anew does.
    select(*window, path);
    EXPECT_FALSE(window->updateButton()->isEnabled());
    ASSERT_TRUE(run(*window, window->connectButton()));
    EXPECT_TRUE(window->updateButton()->isEnabled());
}

TEST_F(RecoveryWindow, CloseAndEscapeAreRefusedDuringARunAndRemoveTheUnpackedPackage)
{
    // The unit never answers the pathway, so each run lasts the reply wait.
    Unit unit(onLoopback({"--fault", "1:silent"}));
    writeSettings(QString(), unit.port);
    const QString path = programPackage("sorn.bin", "Sorn-D", image("fw.img", "Sorn-D"));
    auto window = openWindow(false, 3000);

    using Request = std::function<void()>;
    const std::pair<const char*, Request> requests[] = {
        {"close", [&] { window->close(); }},
        {"Escape", [&] { QTest::keyClick(window.get(), Qt::Key_Escape); }},
    };
    for (const auto& [what, request] : requests) {
        SCOPED_TRACE(what);
        select(*window, path);
        ASSERT_EQ(unpackFolders(home).size(), 1u);
        QTest::mouseClick(window->connectButton(), Qt::LeftButton);
        ASSERT_TRUE(window->updater()->isRunning());
        request();
        QApplication::processEvents();
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(unpackFolders(home).empty());
        ASSERT_TRUE(
            qtest::waitUntil([&] { return !window->updater()->isRunning() && window->connectButton()->isEnabled(); },
                windowtest::kRunLimitMs));
        EXPECT_EQ(message(*window), "[ERROR:005]  Communication pathway couldn't be secured.");
    }
    // The image was read before its folder went: it is still offered.
    EXPECT_FALSE(window->imageFile().imageData().isEmpty());
    select(*window, path);
    ASSERT_EQ(unpackFolders(home).size(), 1u);
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(unpackFolders(home).empty());
}

TEST_F(RecoveryWindow, AboutFromTheMenuOpensTheLegalNoticesOfTheProgramDirectory)
{
    auto window = openWindow();
    QMenuBar* bar = window->menuBar();
    ASSERT_EQ(bar->actions().size(), 1);
    EXPECT_EQ(window->aboutAction()->text(), "About(&A)...");

    ASSERT_TRUE(QDir(programDir).mkpath("Legal"));
    ASSERT_TRUE(qtest::writeFile(progDir + "/Legal/legal.txt", "Notices of this directory.\n"));
    QString title, version, legalText;
    bool iconShown = false, fixed = false;
    const auto clickMenu = [&] {
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(window->aboutAction()).center());
    };
    const bool shown = onNextModal<AboutDialog>(
        [&](AboutDialog* about) {
            title = about->windowTitle();
            version = about->versionLabel()->text();
            iconShown = !about->iconLabel()->pixmap(Qt::ReturnByValue).isNull()
                && !about->windowIcon().isNull();
            fixed = about->minimumSize() == about->maximumSize() && about->styleSheet() == "QWidget{font-size:12px}";
            EXPECT_FALSE(about->noticeLabel()->text().isEmpty());
            onNextModal<Quil::LegalDlg>(
                [&](Quil::LegalDlg* legal) {
                    legalText = legal->textArea()->toPlainText();
                    legal->accept();
                },
                [&] { QTest::mouseClick(about->legalButton(), Qt::LeftButton); });

            // Without notices: the box names the file it looked for.
            ASSERT_TRUE(QFile::remove(programDir + "/Legal/legal.txt"));
            qtest::ModalDriver driver;
            driver.pressButton("OK");
            onNextModal<Quil::LegalDlg>([](Quil::LegalDlg* legal) { legal->accept(); },
                [&] { QTest::mouseClick(about->legalButton(), Qt::LeftButton); });
            ASSERT_EQ(driver.seen().size(), 1u);
            EXPECT_TRUE(driver.seen()[0].text.startsWith("Failed to load \"" + programDir + "/Legal/legal.txt\""))
                << driver.seen()[0].text.toStdString();
            QTest::mouseClick(about->okButton(), Qt::LeftButton);
        },
        clickMenu);
    EXPECT_TRUE(shown);
    EXPECT_EQ(title, "About Update Program");
    EXPECT_EQ(version, "Update Program V5.8.1.1");
    EXPECT_TRUE(iconShown);
    EXPECT_TRUE(fixed);
    EXPECT_EQ(legalText, "Notices of this directory.\n");
    EXPECT_TRUE(window->isVisible());
}

} // namespace
