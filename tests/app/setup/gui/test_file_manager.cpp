// The open and save-as flows through real file dialogs and message boxes,
// answered by the modal driver, on a rack of real device objects.
#include "tests/app/setup/read_only_dir.h"
#include "tests/app/setup/setup_rack.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/test_support.h"
#include "ui/main/busycursor.h"
#include "ui/main/filemanager.h"

#include <QApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using qtest::ModalDriver;
using Quil::DEV_E_FAIL;
using Quil::FILE_E_NOT_CHOSEN;
using setup_test::TestRack;

const char* const kDelay = "/Backup/OutCh:4/DelayTime:0";

class FileManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(rack.mountModel(0, Quil::MODEL_BROXL_D3), 0);
        ASSERT_EQ(rack.mountModel(2, Quil::MODEL_SORN_D), 0);
        ASSERT_EQ(rack.mountModel(4, Quil::MODEL_MAVIK_D), 0);
        rack.slot(0).setDeviceId(21);
        ASSERT_GE(rack.set(0, kDelay, 1234), 0);
        ASSERT_EQ(manager.setDefaultDir(folder()), 0);
    }

    QString folder() const { return QString::fromStdString(dir.path()); }
    QString path(const char* name) const { return QString::fromStdString(dir.file(name)); }
    std::string bytes(const char* name) const { return qtest::readFile(dir.file(name)); }

    static void expectClean(const ModalDriver& driver)
    {
        EXPECT_EQ(driver.pendingAnswers(), 0u);
        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "busy cursor left behind";
    }
    static QStringList messages(const ModalDriver& driver)
    {
        QStringList out;
        for (const auto& seen : driver.seen())
            if (seen.kind == QLatin1String("message"))
                out << seen.title + QLatin1Char('|') + seen.text;
        return out;
    }

    // Saves the rack through the dialog under name.
    void saveThroughDialog(const char* name)
    {
        ModalDriver driver;
        driver.typeFileName(QString::fromLatin1(name));
        ASSERT_EQ(manager.saveAs(nullptr), 0);
        expectClean(driver);
    }

    // Opens name through the dialog; the load fails with the warning of error.
    void openRefused(const char* name, const char* error)
    {
        ModalDriver driver;
        driver.typeFileName(QString::fromLatin1(name));
        driver.pressButton(QStringLiteral("OK"));
        EXPECT_EQ(manager.open(nullptr), DEV_E_FAIL);
        expectClean(driver);
        EXPECT_EQ(messages(driver),
            QStringList{QStringLiteral("Quillon|Load operation not complete due to an error.\n\n")
                + QString::fromLatin1(error)});
    }

    qtest::TempDir dir;
    TestRack rack;
    Quil::FileManager manager{&rack};
};

TEST_F(FileManager, UntitledPathInTheDefaultFolder)
{
    EXPECT_EQ(manager.untitledPath(), folder() + "/Untitled 1.quil");
    EXPECT_EQ(manager.currentFilePath(), folder() + "/Untitled 1.quil") << "the name is made once";
    EXPECT_EQ(manager.setDefaultDir(path("missing")), DEV_E_FAIL);
    EXPECT_EQ(manager.setDefaultDir(QString()), DEV_E_FAIL);
    EXPECT_EQ(manager.defaultDir(), folder());
    EXPECT_EQ(manager.setCurrentFile(path("missing.quil")), DEV_E_FAIL);
}

TEST_F(FileManager, SaveAndOpenRestoreTheRack)
{
    QSignalSpy changed(&manager, &Quil::FileManager::fileChanged);
    saveThroughDialog("show.quil");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(manager.currentFilePath(), path("show.quil"));

    TestRack fresh;
    ASSERT_EQ(fresh.mountModel(9, Quil::MODEL_BROXM_D), 0);
    Quil::FileManager opener(&fresh);
    ASSERT_EQ(opener.setDefaultDir(folder()), 0);
    opener.setDirty(true);
    QSignalSpy dirty(&opener, &Quil::FileManager::dirtyChanged);
    ModalDriver driver;
    driver.pressButton(QStringLiteral("No"));
    driver.typeFileName(QStringLiteral("show.quil"));
    ASSERT_EQ(opener.open(nullptr), 0);
    expectClean(driver);
    EXPECT_EQ(messages(driver), QStringList{"Quillon|Save changes to a new file ?"});
    ASSERT_EQ(dirty.count(), 1);
    EXPECT_FALSE(dirty[0][0].toBool());
    EXPECT_EQ(fresh.layout(), rack.layout());
    EXPECT_EQ(fresh.value(0, kDelay), 1234);
    EXPECT_EQ(opener.currentFilePath(), path("show.quil"));
}

TEST_F(FileManager, QlnNameUnderTheQuilFilterIsSavedAsQuil)
{
    saveThroughDialog("older.qln");
    EXPECT_FALSE(bytes("older.quil").empty());
    EXPECT_FALSE(QFileInfo::exists(path("older.qln")));
    // The next save starts from the file just written.
    ModalDriver driver;
    driver.cancelFileDialog();
    EXPECT_EQ(manager.saveAs(nullptr), FILE_E_NOT_CHOSEN);
    ASSERT_FALSE(driver.seen().empty());
    expectClean(driver);
}

TEST_F(FileManager, DecliningTheOverwriteKeepsTheFile)
{
    saveThroughDialog("show.quil");
    const std::string before = bytes("show.quil");
    ModalDriver driver;
    driver.typeFileName(QStringLiteral("show.quil"));
    driver.pressButton(QStringLiteral("No"));
    EXPECT_EQ(manager.saveAs(nullptr), FILE_E_NOT_CHOSEN);
    expectClean(driver);
    EXPECT_EQ(messages(driver),
        QStringList{"Quillon|" + path("show.quil") + " already exists.\nDo you want to overwrite it?"});
    EXPECT_EQ(bytes("show.quil"), before);
}

TEST_F(FileManager, FailedSaveWarnsAndKeepsThePreviousFile)
{
    saveThroughDialog("show.quil");
    const std::string before = bytes("show.quil");
    ASSERT_GE(rack.set(0, kDelay, 555), 0);
    setup_test::ReadOnlyDir readOnly(dir.path());
    if (!readOnly.effective())
        GTEST_SKIP() << "this file system cannot make a folder read-only for root";
    ModalDriver driver;
    driver.typeFileName(QStringLiteral("show.quil"));
    driver.pressButton(QStringLiteral("Yes"));
    driver.pressButton(QStringLiteral("OK"));
    EXPECT_EQ(manager.saveAs(nullptr), DEV_E_FAIL);
    expectClean(driver);
    ASSERT_EQ(messages(driver).size(), 2);
    EXPECT_EQ(messages(driver)[1], "Quillon|Save operation not complete due to an error.\n\nUnknown error.");
    EXPECT_EQ(bytes("show.quil"), before);
}

TEST_F(FileManager, AbortedSaveIsACancelWithoutWarning)
{
    saveThroughDialog("show.quil");
    const std::string before = bytes("show.quil");
    ASSERT_GE(rack.set(0, kDelay, 555), 0);
    const FILECACHE::MBDFAbortFlag abort{1};
    manager.setAbortFlag(&abort);
    ModalDriver driver;
    driver.typeFileName(QStringLiteral("show.quil"));
    driver.pressButton(QStringLiteral("Yes"));
    EXPECT_EQ(manager.saveAs(nullptr), FILE_E_NOT_CHOSEN);
    expectClean(driver);
    EXPECT_EQ(messages(driver).size(), 1) << "only the overwrite question";
    EXPECT_EQ(bytes("show.quil"), before);
}

TEST_F(FileManager, FailedOpenWarnsAndLeavesTheRack)
{
    saveThroughDialog("show.quil");
    std::string foreign = bytes("show.quil");
    foreign.replace(foreign.find("Quillon"), 7, "Quillox");
    ASSERT_TRUE(qtest::writeFile(dir.file("foreign.quil"), foreign));
    const auto layout = rack.layout();
    openRefused("foreign.quil", "Different kind of data.");
    EXPECT_EQ(rack.layout(), layout);
    EXPECT_EQ(manager.currentFilePath(), path("show.quil"));
}

// A file that changed the rack before a part of it was refused is what the
// rack now holds: Save As proposes it, not the file opened before.
TEST_F(FileManager, PartlyRefusedOpenMakesTheFileCurrent)
{
    saveThroughDialog("show.quil");
    saveThroughDialog("previous.quil");
    ASSERT_EQ(rack.mountModel(2, Quil::MODEL_BROXL_D), 0);
    rack.connected = {2}; // refuses the file's Sorn block
    ASSERT_GE(rack.set(0, kDelay, 5), 0);
    openRefused("show.quil", "Invalid data structure.");
    EXPECT_EQ(rack.value(0, kDelay), 1234) << "the file's other units were loaded";
    EXPECT_EQ(manager.currentFilePath(), path("show.quil"));
}

TEST_F(FileManager, SaveQuestion)
{
    struct Case {
        const char* answer;
        bool goesOn;
    };
    for (const Case c : {Case{"Cancel", false}, Case{"No", true}}) {
        SCOPED_TRACE(c.answer);
        manager.setDirty(true);
        ModalDriver driver;
        driver.pressButton(QString::fromLatin1(c.answer));
        EXPECT_EQ(manager.saveIfWanted(nullptr), c.goesOn);
        expectClean(driver);
        EXPECT_EQ(manager.isDirty(), !c.goesOn);
    }
    // Not dirty: No without a question; Cancel on open ends the flow.
    ModalDriver quiet;
    EXPECT_EQ(manager.maybeSave(nullptr), QMessageBox::No);
    EXPECT_TRUE(quiet.seen().empty());
    manager.setDirty(true);
    ModalDriver driver;
    driver.pressButton(QStringLiteral("Cancel"));
    EXPECT_EQ(manager.open(nullptr), DEV_E_FAIL);
    expectClean(driver);
}

TEST(BusyCursor, RestoresTheCursorOnEveryWayOut)
{
    {
        const Quil::BusyCursor busy;
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
