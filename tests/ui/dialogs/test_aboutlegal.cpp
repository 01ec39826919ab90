// The about box and the legal notices it opens from beside the program.
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"

#include "ui/dialogs/aboutdlg.h"
#include "ui/legal/legaldlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Closes the legal dialog once it runs, noting its text first.
QString closeLegalWhenShown()
{
    QString shown = "<never shown>";
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* legal = qobject_cast<Quil::LegalDlg*>(QApplication::activeModalWidget());
        if (legal) {
            const QPlainTextEdit* view = legal->textArea();
            EXPECT_TRUE(view->isReadOnly());
            EXPECT_EQ(view->font().pixelSize(), 12);
            EXPECT_EQ(view->tabStopDistance(), 48);
            shown = view->toPlainText();
            legal->accept();
        }
    });
    poll.start(20);
    qtest::waitUntil([&] { return shown != "<never shown>"; }, 5000);
    return shown;
}

TEST(AboutLegal, AboutShowsNameVersionAndNoticeAndOkRejects)
{
    Quil::AboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Quillon");
    EXPECT_EQ(about.versionLabel()->text(), "Quillon V6.0.0.1");
    EXPECT_FALSE(about.noticeLabel()->text().isEmpty());
    EXPECT_EQ(about.legalButton()->text(), "Legal");
    QTimer::singleShot(0, [&] { QTest::mouseClick(about.okButton(), Qt::LeftButton); });
    EXPECT_EQ(about.exec(), QDialog::Rejected);
}

// One test for both cases: they share the folder beside the test program.
TEST(AboutLegal, LegalShowsTheNoticesOrWarnsWithTheFullPath)
{
    const QString path = Quil::LegalDlg::legalTextPath();
    ASSERT_EQ(path, QCoreApplication::applicationDirPath() + "/Legal/legal.txt");
    QFile shipped(path);
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly)) << "the build copies the notices beside the program";
    const QString notices = QString::fromUtf8(shipped.readAll());
    shipped.close();
    ASSERT_TRUE(notices.contains("zlib"));

    Quil::AboutDlg about;
    ASSERT_TRUE(qtest::showAndWait(&about));
    QTimer::singleShot(0, [&] { QTest::mouseClick(about.legalButton(), Qt::LeftButton); });
    EXPECT_EQ(closeLegalWhenShown(), notices);

    const QString folder = QCoreApplication::applicationDirPath() + "/Legal";
    const QString moved = folder + ".away";
    QDir().rename(moved, folder); // a run that stopped half way
    ASSERT_TRUE(QDir().rename(folder, moved));
    qtest::ModalDriver driver;
    driver.pressButton("OK");
    QTimer::singleShot(0, [&] { QTest::mouseClick(about.legalButton(), Qt::LeftButton); });
    const QString shownWithout = closeLegalWhenShown();
    QDir().rename(moved, folder);
    EXPECT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].title, "Quillon");
    EXPECT_TRUE(driver.seen()[0].text.startsWith("Failed to load \"" + path + "\"\n\n"))
        << driver.seen()[0].text.toStdString();
    EXPECT_EQ(shownWithout, "");
}

} // namespace
