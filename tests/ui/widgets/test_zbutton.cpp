// ZButton: the frame table, frames by pixels, triggers and drags with real
// mouse events on a shown window.
#include "ui/widgets/zbutton.h"

#include "tests/support/gui/gui_support.h"
#include "tests/ui/widgets/widget_fixtures.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using fixtures::kFour;
using fixtures::solidFrames;

namespace {

// A shown window with one four-frame button; each test makes its own.
struct ButtonHost {
    ButtonHost()
    {
        host.resize(240, 120);
        button = new ZButton(&host);
        button->setCombinedImage(solidFrames(40, 20, kFour));
        button->setnSubImages(4);
        button->move(10, 10);
        shownOk = qtest::showAndWait(&host);
    }
    QColor shown() { return qtest::pixelAt(button, QPoint(20, 10)); }

    bool shownOk = false;
    QWidget host;
    ZButton* button = nullptr;
    const QPoint inside{20, 10};
    const QPoint outside{150, 80};
};

} // namespace

TEST(ZButton, SubImageIndexTable)
{
    // Rows: frame count 0..5; columns: states 0..3, then two states out of range.
    const int expected[6][6] = {
        {-1, -1, -1, -1, -1, -1},
        {0, 0, 0, 0, -1, -1},
        {1, 0, 1, 0, -1, -1},
        {2, 0, 1, 1, -1, -1},
        {2, 0, 3, 1, -1, -1},
        {2, 0, 3, 1, -1, -1},
    };
    const int states[6] = {0, 1, 2, 3, -1, 4};
    ZButton b;
    for (int n = 0; n < 6; ++n)
        for (int s = 0; s < 6; ++s)
            EXPECT_EQ(b.subImageIndex(n, states[s]), expected[n][s]) << "frames " << n << " state " << states[s];
    EXPECT_EQ(b.subImageIndex(-3, 0), -1);
}

TEST(ZButton, FramesByPixelsAndSize)
{
    ButtonHost h;
    ASSERT_TRUE(h.shownOk);
    ZButton* button = h.button;
    EXPECT_EQ(button->size(), QSize(40, 20));
    button->setCheckable(true);
    EXPECT_TRUE(qtest::near(h.shown(), kFour[0])) << "off";
    button->setChecked(true);
    EXPECT_TRUE(qtest::near(h.shown(), kFour[2])) << "on";
    button->setDown(true);
    EXPECT_TRUE(qtest::near(h.shown(), kFour[3])) << "on, pressed";
    button->setChecked(false);
    EXPECT_TRUE(qtest::near(h.shown(), kFour[1])) << "off, pressed";

    // Counts below 1 become 1: one frame, the whole picture tall.
    button->setnSubImages(0);
    EXPECT_EQ(button->nSubImages(), 1);
    EXPECT_EQ(button->size(), QSize(40, 80));
    button->setnSubImages(-2);
    EXPECT_EQ(button->nSubImages(), 1);

    // A zoomed button shows the same frame stretched.
    button->setnSubImages(4);
    button->applyScale(2);
    EXPECT_EQ(button->size(), QSize(80, 40));
    EXPECT_TRUE(qtest::near(qtest::pixelAt(button, QPoint(75, 35)), kFour[1]));
}

TEST(ZButton, NullPictureDrawsOnlyText)
{
    ButtonHost h;
    ASSERT_TRUE(h.shownOk);
    ZButton plain(&h.host);
    plain.setGeometry(100, 10, 60, 30);
    plain.setText(QStringLiteral("X"));
    plain.show();
    QPixmap canvas(60, 30);
    canvas.fill(Qt::black);
    plain.render(&canvas, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(canvas.toImage().pixelColor(2, 2), QColor(Qt::black)) << "no frame, no text";
    plain.setTextEnable(true);
    plain.setReleasedTextColor(Qt::white);
    canvas.fill(Qt::black);
    plain.render(&canvas, QPoint(), QRegion(), QWidget::RenderFlags());
    int lit = 0;
    const QImage img = canvas.toImage();
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x)
            lit += img.pixelColor(x, y).lightness() > 128;
    EXPECT_GT(lit, 5) << "the text is drawn";
}

TEST(ZButton, TriggersDecideWhenTheButtonToggles)
{
    ButtonHost h;
    ASSERT_TRUE(h.shownOk);
    ZButton* button = h.button;
    button->setCheckable(true);
    QSignalSpy toggled(button, &QAbstractButton::toggled);

    // Default: toggles at the release.
    QTest::mousePress(button, Qt::LeftButton, {}, h.inside);
    EXPECT_FALSE(button->isChecked());
    QTest::mouseRelease(button, Qt::LeftButton, {}, h.inside);
    EXPECT_TRUE(button->isChecked());
    QTest::mouseClick(button, Qt::LeftButton, {}, h.inside);
    EXPECT_FALSE(button->isChecked());

    // On at the press, off at the release of the next click.
    button->setOnTrigger(ZButton::buttonPush);
    QTest::mousePress(button, Qt::LeftButton, {}, h.inside);
    EXPECT_TRUE(button->isChecked());
    QTest::mouseRelease(button, Qt::LeftButton, {}, h.inside);
    EXPECT_TRUE(button->isChecked()) << "the release of the same click does nothing";
    QTest::mousePress(button, Qt::LeftButton, {}, h.inside);
    EXPECT_TRUE(button->isChecked());
    QTest::mouseRelease(button, Qt::LeftButton, {}, h.inside);
    EXPECT_FALSE(button->isChecked());
    EXPECT_EQ(toggled.count(), 4);

    // A right press leaves it up and unchanged.
    QTest::mousePress(button, Qt::RightButton, {}, h.inside);
    EXPECT_FALSE(button->isDown());
    QTest::mouseRelease(button, Qt::RightButton, {}, h.inside);
    EXPECT_FALSE(button->isChecked());
    EXPECT_EQ(toggled.count(), 4);
}

TEST(ZButton, DragOffAndBackTogglesAfterAnAnimatedClick)
{
    ButtonHost h;
    ASSERT_TRUE(h.shownOk);
    ZButton* button = h.button;
    button->setCheckable(true);
    QTest::mousePress(button, Qt::LeftButton, {}, h.inside);
    EXPECT_EQ(button->dragState(), ZButton::DragTracking);
    QTest::mouseMove(button, h.outside);
    EXPECT_EQ(button->dragState(), ZButton::DragLeft);
    EXPECT_FALSE(button->isDown());
    QTest::mouseMove(button, h.inside);
    EXPECT_EQ(button->dragState(), ZButton::DragBack);
    EXPECT_FALSE(button->isDown()) << "coming back does not show it down again";
    QTest::mouseRelease(button, Qt::LeftButton, {}, h.inside);
    EXPECT_FALSE(button->isChecked()) << "the click is animated, not immediate";
    EXPECT_TRUE(button->isDown());
    EXPECT_TRUE(qtest::waitUntil([&] { return button->isChecked(); }, 2000));
    EXPECT_EQ(button->dragState(), ZButton::DragIdle);
}

TEST(ZButton, ReleaseOffTheButtonTogglesNothing)
{
    ButtonHost h;
    ASSERT_TRUE(h.shownOk);
    ZButton* button = h.button;
    button->setCheckable(true);
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mousePress(button, Qt::LeftButton, {}, h.inside);
    QTest::mouseMove(button, h.outside);
    QTest::mouseMove(button, h.inside);
    QTest::mouseMove(button, h.outside);
    QTest::mouseRelease(button, Qt::LeftButton, {}, h.outside);
    QTest::qWait(250);
    EXPECT_FALSE(button->isChecked());
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(button->dragState(), ZButton::DragIdle);
}
