// Start-up and leaving as the program does them: the application object in
// this process, and the real binary for the single-instance rule.
#include "app/app_instance.h"
#include "app/app_prefs.h"
#include "tests/support/test_support.h"
#include "tests/ui/main/main_fixture.h"
#include "ui/main/netsetupdlg.h"
#include "ui/main/qlapp.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>

namespace {

using MainWindow = qtest::MainWindowTest;

QVariant pref(const char* key)
{
    return Quil::QuilPrefs::instance().value(QString::fromLatin1(key));
}

// No stored interface: the window shows first, then (queued) the network
// dialog with "Offline" first and chosen; Quit stores the preferences.
TEST_F(MainWindow, FirstStartShowsTheWindowThenAsksForTheNetwork)
{
    Quil::QLApp app;
    QStringList rows;
    QString current;
    bool windowShownFirst = false;
    qtest::onNextModal<NetSetupDlg>([&](NetSetupDlg* dialog) {
        windowShownFirst = app.mainWindow() && app.mainWindow()->isVisible();
        for (int i = 0; i < dialog->treeWidget()->topLevelItemCount(); ++i)
            rows << dialog->treeWidget()->topLevelItem(i)->text(0);
        current = dialog->treeWidget()->currentItem()->text(0);
        dialog->reject();
    });
    ASSERT_GE(app.init(), 0);
    EXPECT_EQ(app.init(), static_cast<JResult>(0x80000000u));
    ASSERT_TRUE(qtest::waitUntil([&] { return !rows.isEmpty(); }));
    EXPECT_TRUE(windowShownFirst);
    EXPECT_EQ(rows.value(0), "Offline");
    EXPECT_EQ(current, "Offline");
    EXPECT_TRUE(app.mainWindow()->testAttribute(Qt::WA_DeleteOnClose));

    EXPECT_FALSE(pref(Quil::QuilPrefs::kGeometry).isValid());
    app.mainWindow()->action("Quit")->trigger();
    EXPECT_TRUE(pref(Quil::QuilPrefs::kMacAddr).isValid());
    EXPECT_TRUE(pref(Quil::QuilPrefs::kDefaultDir).isValid());
    EXPECT_EQ(pref(Quil::QuilPrefs::kGeometry).type(), QVariant::Point);
}

// A later start asks the first to come forward: a minimised window is shown
// normal, but not past a modal dialog.
TEST_F(MainWindow, ActivationRaisesTheWindowUnlessADialogIsOpen)
{
    Quil::QuilPrefs::instance().setValue(Quil::QuilPrefs::kMacAddr, QStringLiteral("02:00:00:00:00:99"));
    Quil::QLApp app;
    // The stored interface is missing here: the network dialog opens at once.
    bool stayedMinimised = false;
    qtest::onNextModal<NetSetupDlg>([&](NetSetupDlg* dialog) {
        app.mainWindow()->showMinimized();
        app.raiseMainWindow();
        stayedMinimised = app.mainWindow()->isMinimized();
        dialog->reject();
    });
    ASSERT_GE(app.init(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return stayedMinimised; }));
    app.raiseMainWindow();
    EXPECT_FALSE(app.mainWindow()->isMinimized());
    EXPECT_TRUE(app.mainWindow()->isVisible());
}

TEST_F(MainWindow, SecondStartEndsWithZeroAndTheFirstStartsWithoutALog)
{
    const std::string program = QUILLON_PROGRAM;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Every run starts without the previous run's log.
    const QString log = QDir::homePath() + "/Quil.log";
    QFile previous(log);
    ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
    previous.write("last run\n");
    previous.close();
    qtest::ChildProcess first({program});
    ASSERT_TRUE(first.started());
    const QString lock = InstanceChecker::lockFilePath();
    ASSERT_TRUE(qtest::waitFor([&] { return QFileInfo::exists(lock); }, 20000));
    EXPECT_TRUE(qtest::waitFor([&] { return !QFileInfo::exists(log); }, 20000));
    qtest::ChildProcess second({program});
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.wait(20000), 0);
    // The first one still runs.
    EXPECT_EQ(first.wait(0), -1);
    first.terminate();
}

} // namespace
