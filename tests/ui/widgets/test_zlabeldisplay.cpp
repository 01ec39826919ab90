// ZLabelDisplay: the edit signals in order for Tab, clicks, Return and the
// line edit's own pop-up, with real key and mouse events.
#include "ui/widgets/zlabeldisplay.h"

#include "tests/support/gui/gui_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// before | label | after, in tab order, shown and active.
struct Form {
    Form()
    {
        auto* layout = new QVBoxLayout(&window);
        before = new QLineEdit(&window);
        label = new ZLabelDisplay(&window);
        after = new QLineEdit(&window);
        layout->addWidget(before);
        layout->addWidget(label);
        layout->addWidget(after);
        label->setText(QStringLiteral("-12.5"));
        QObject::connect(label, &ZLabelDisplay::startEdit, [this] { events.push_back("start"); });
        QObject::connect(label, &ZLabelDisplay::acceptEdit, [this] { events.push_back("accept"); });
        QObject::connect(label, &ZLabelDisplay::abortEdit, [this] { events.push_back("abort"); });
        QObject::connect(label, &QLineEdit::returnPressed, [this] { events.push_back("returnPressed"); });
        window.show();
        window.activateWindow();
        ready = QTest::qWaitForWindowActive(&window, 5000);
        before->setFocus(Qt::OtherFocusReason);
        ready = ready && qtest::waitUntil([this] { return before->hasFocus(); }, 2000);
    }
    using Events = std::vector<std::string>;

    QWidget window;
    QLineEdit* before;
    ZLabelDisplay* label;
    QLineEdit* after;
    Events events;
    bool ready = false;
};

} // namespace

TEST(ZLabelDisplay, TabInStartsAndTabOutAcceptsThenAborts)
{
    Form f;
    ASSERT_TRUE(f.ready);
    EXPECT_TRUE(f.label->isReadOnly());
    QTest::keyClick(f.before, Qt::Key_Tab);
    ASSERT_TRUE(f.label->hasFocus());
    EXPECT_EQ(f.events, Form::Events({"start"}));
    EXPECT_FALSE(f.label->isReadOnly());
    EXPECT_EQ(f.label->selectedText(), QStringLiteral("-12.5"));

    QTest::keyClick(f.label, Qt::Key_Tab);
    EXPECT_TRUE(f.after->hasFocus());
    EXPECT_EQ(f.events, Form::Events({"start", "accept", "abort"}));
    EXPECT_TRUE(f.label->isReadOnly());
}

TEST(ZLabelDisplay, ClickElsewhereAbortsOnlyAndPopupKeepsTheEdit)
{
    Form f;
    ASSERT_TRUE(f.ready);
    QTest::mouseDClick(f.label, Qt::LeftButton, {}, f.label->rect().center());
    ASSERT_EQ(f.events, Form::Events({"start"}));
    ASSERT_FALSE(f.label->isReadOnly());

    // The line edit's own context menu takes focus with the popup reason.
    QFocusEvent popupOut(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(f.label, &popupOut);
    EXPECT_EQ(f.events, Form::Events({"start"}));
    EXPECT_FALSE(f.label->isReadOnly());

    f.label->setFocus(Qt::OtherFocusReason);
    QTest::mouseClick(f.after, Qt::LeftButton, {}, f.after->rect().center());
    EXPECT_TRUE(f.after->hasFocus());
    EXPECT_EQ(f.events, Form::Events({"start", "abort"}));
    EXPECT_TRUE(f.label->isReadOnly());
}

TEST(ZLabelDisplay, ReturnAcceptsWhileEditingAndIsDroppedWhenReadOnly)
{
    Form f;
    ASSERT_TRUE(f.ready);
    f.label->setFocus(Qt::OtherFocusReason); // not by Tab: no edit starts
    ASSERT_TRUE(qtest::waitUntil([&] { return f.label->hasFocus(); }, 2000));
    QTest::keyClick(f.label, Qt::Key_Return);
    QTest::keyClick(f.label, Qt::Key_Enter);
    EXPECT_TRUE(f.events.empty());

    QTest::mouseDClick(f.label, Qt::LeftButton, {}, f.label->rect().center());
    QTest::keyClicks(f.label, QStringLiteral("3"));
    QTest::keyClick(f.label, Qt::Key_Enter);
    EXPECT_EQ(f.events, Form::Events({"start", "accept"}));
    EXPECT_TRUE(f.label->isReadOnly());
    EXPECT_EQ(f.label->text(), QStringLiteral("3"));
}

TEST(ZLabelDisplay, NotEditableIgnoresDoubleClickAndTab)
{
    Form f;
    ASSERT_TRUE(f.ready);
    f.label->setEditable(false);
    QTest::keyClick(f.before, Qt::Key_Tab);
    EXPECT_TRUE(f.label->hasFocus());
    QTest::mouseDClick(f.label, Qt::LeftButton, {}, f.label->rect().center());
    EXPECT_TRUE(f.events.empty());
    EXPECT_TRUE(f.label->isReadOnly());
}

TEST(ZLabelDisplay, FontPixelSizeIsTheHundredPercentSize)
{
    ZLabelDisplay label;
    label.applyScale(1);
    label.setFontPixelSize(12);
    EXPECT_EQ(label.fontPixelSize(), 12);
    EXPECT_EQ(label.font().pixelSize(), 18);
    label.applyScale(2);
    EXPECT_EQ(label.font().pixelSize(), 24);
    EXPECT_EQ(label.fontPixelSize(), 12);
}
