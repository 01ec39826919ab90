// The modal driver against real message boxes, Qt's widget file dialogs and
// pop-up menus, each run by the call that opens it.
#include "tests/support/gui/modal_driver.h"

#include "tests/support/gui/gui_support.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

#include <gtest/gtest.h>

namespace {

using qtest::ModalDriver;

const QString kOpenFilters = QStringLiteral("Quillon File(*.quil);;QuillonV1 File(*.qln)");

TEST(ModalDriver, PressesMessageBoxButtonsByText)
{
    struct Case {
        const char* button;
        QMessageBox::StandardButton result;
    };
    const Case cases[] = {{"Yes", QMessageBox::Yes}, {"No", QMessageBox::No}, {"Cancel", QMessageBox::Cancel}};
    for (const Case& c : cases) {
        ModalDriver driver;
        driver.pressButton(QString::fromLatin1(c.button));
        const auto got
            = QMessageBox::question(nullptr, QStringLiteral("Quillon"), QStringLiteral("Save changes to a new file ?"),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
        EXPECT_EQ(got, c.result) << c.button;
        EXPECT_EQ(driver.pendingAnswers(), 0u);
        ASSERT_EQ(driver.seen().size(), 1u);
        EXPECT_EQ(driver.seen()[0].title, QStringLiteral("Quillon"));
        EXPECT_EQ(driver.seen()[0].text, QStringLiteral("Save changes to a new file ?"));
        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
    }
}

TEST(ModalDriver, DialogsNoAnswerFitsAreDismissedInBoundedTime)
{
    struct Case {
        const char* label;
        const char* answer; // a button to queue, or null for none
    };
    const Case cases[] = {{"unexpected", nullptr}, {"no such button", "Maybe"}};
    for (const Case& c : cases) {
        ModalDriver driver(200);
        if (c.answer)
            driver.pressButton(QString::fromLatin1(c.answer));
        QElapsedTimer clock;
        clock.start();
        QMessageBox::warning(nullptr, QStringLiteral("Quillon"), QStringLiteral("Unexpected"));
        EXPECT_LT(clock.elapsed(), 3000) << c.label;
        EXPECT_EQ(driver.errors().size(), 1) << c.label;
    }
}

class ModalDriverFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qtest::writeFile(dir.file("old.quil"), "x"));
        ASSERT_TRUE(qtest::writeFile(dir.file("older.qln"), "x"));
    }
    QString path(const char* name) const { return QString::fromStdString(dir.file(name)); }
    QString folder() const { return QString::fromStdString(dir.path()); }

    qtest::TempDir dir;
};

TEST_F(ModalDriverFiles, OpenDialogTakesATypedNameAndFilter)
{
    ModalDriver driver;
    driver.typeFileName(path("old.quil"));
    driver.typeFileName(QStringLiteral("older.qln"), QStringLiteral("QuillonV1 File(*.qln)"));
    driver.cancelFileDialog();

    QString filter = QStringLiteral("Quillon File(*.quil)");
    EXPECT_EQ(QFileDialog::getOpenFileName(
                  nullptr, QStringLiteral("Choose a document to load"), folder(), kOpenFilters, &filter),
        path("old.quil"));
    EXPECT_EQ(QFileDialog::getOpenFileName(
                  nullptr, QStringLiteral("Choose a document to load"), folder(), kOpenFilters, &filter),
        path("older.qln"));
    EXPECT_EQ(filter, QStringLiteral("QuillonV1 File(*.qln)"));
    EXPECT_TRUE(QFileDialog::getOpenFileName(
        nullptr, QStringLiteral("Choose a document to load"), folder(), kOpenFilters, &filter)
                    .isEmpty());

    EXPECT_EQ(driver.pendingAnswers(), 0u);
    ASSERT_EQ(driver.seen().size(), 3u);
    EXPECT_EQ(driver.seen()[0].title, QStringLiteral("Choose a document to load"));
    EXPECT_EQ(driver.seen()[0].text, folder());
    EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
}

TEST_F(ModalDriverFiles, SaveDialogAnswersItsOwnOverwriteQuestion)
{
    ModalDriver driver;
    driver.typeFileName(QStringLiteral("new.quil"));
    driver.typeFileName(QStringLiteral("old.quil"));
    driver.pressButton(QStringLiteral("Yes")); // the dialog's own "already exists" box

    const QString caption = QStringLiteral("Choose a filename to save under");
    const QString filter = QStringLiteral("Quillon File(*.quil)");
    EXPECT_EQ(QFileDialog::getSaveFileName(nullptr, caption, path("Untitled 1.quil"), filter), path("new.quil"));
    EXPECT_EQ(QFileDialog::getSaveFileName(nullptr, caption, path("Untitled 1.quil"), filter), path("old.quil"));
    EXPECT_EQ(driver.pendingAnswers(), 0u);
    ASSERT_EQ(driver.seen().size(), 3u);
    EXPECT_EQ(driver.seen()[2].kind, QStringLiteral("message"));
    EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
}

TEST(ModalDriver, ChoosesMenuItemsAndSubMenuItems)
{
    QMenu menu(QStringLiteral("&File"));
    menu.addAction(QStringLiteral("&Open..."));
    QAction* saveAs = menu.addAction(QStringLiteral("Save &As..."));
    menu.addSeparator();
    QMenu* zoom = menu.addMenu(QStringLiteral("&Zoom"));
    zoom->addAction(QStringLiteral("100 %"));
    QAction* zoom150 = zoom->addAction(QStringLiteral("150 %"));

    ModalDriver driver;
    driver.chooseMenuItem(QStringLiteral("Save As..."));
    EXPECT_EQ(menu.exec(QPoint(40, 40)), saveAs);

    driver.chooseMenuItem(QStringLiteral("Zoom"));
    driver.chooseMenuItem(QStringLiteral("150 %"));
    EXPECT_EQ(menu.exec(QPoint(40, 40)), zoom150);

    driver.chooseMenuItem(QStringLiteral("Close"));
    EXPECT_EQ(menu.exec(QPoint(40, 40)), nullptr);

    EXPECT_EQ(driver.pendingAnswers(), 0u);
    ASSERT_EQ(driver.seen().size(), 4u);
    EXPECT_EQ(driver.seen()[0].title, QStringLiteral("File"));
    EXPECT_EQ(driver.seen()[0].text, QStringLiteral("Open...\nSave As...\nZoom"));
    ASSERT_EQ(driver.errors().size(), 1);
    EXPECT_TRUE(driver.errors()[0].contains(QStringLiteral("no item \"Close\""))) << driver.errors()[0].toStdString();
}

} // namespace
