// State displays (steady and blinking) and the selection strip, by pixels.
#include "ui/widgets/zselectiondisplay.h"
#include "ui/widgets/zstatedisplay.h"

#include "tests/support/gui/gui_support.h"
#include "tests/ui/widgets/widget_fixtures.h"
#include "ui/widgets/blinktimer.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using fixtures::solidFrames;

namespace {

const std::vector<QColor> kLed = {QColor(20, 20, 20), QColor(0, 220, 0), QColor(220, 0, 0)};

} // namespace

TEST(ZStateDisplay, IndexClampsAndFollowsTheCount)
{
    QWidget host;
    host.resize(100, 100);
    auto* led = new ZStateDisplay(&host);
    led->setGeometryScaled(10, 10, 16, 16);
    led->setCombinedImage(solidFrames(16, 16, kLed));
    led->setnSubImages(3);
    ASSERT_TRUE(qtest::showAndWait(&host));

    struct Row {
        int set;
        int stored;
    };
    for (const Row& row : {Row{7, 2}, Row{-4, 0}, Row{1, 1}, Row{3, 2}}) {
        led->setCurrentImageIndex(row.set);
        EXPECT_EQ(led->currentImageIndex(), row.stored) << row.set;
        EXPECT_TRUE(qtest::near(qtest::pixelAt(led, QPoint(8, 8)), kLed[static_cast<size_t>(row.stored)]));
    }
    // Fewer frames pull the index down without a repaint; setting that
    // index then draws it, and setting it again draws nothing.
    led->setCurrentImageIndex(2);
    QTest::qWait(20);
    fixtures::PaintCounter paints(led);
    led->setnSubImages(2);
    EXPECT_EQ(led->currentImageIndex(), 1);
    QTest::qWait(50);
    EXPECT_EQ(paints.count, 0);
    led->setCurrentImageIndex(1);
    EXPECT_TRUE(qtest::waitUntil([&] { return paints.count > 0; }, 1000));
    QTest::qWait(30);
    paints.count = 0;
    led->setCurrentImageIndex(1);
    QTest::qWait(50);
    EXPECT_EQ(paints.count, 0);

    // A disabled display shows nothing of its picture.
    led->setEnabled(false);
    EXPECT_FALSE(qtest::near(qtest::pixelAt(led, QPoint(8, 8)), kLed[1], 30));
}

TEST(ZStateDisplay, BlinkFrameFillsTheWidgetWhenZoomed)
{
    QWidget host;
    host.resize(100, 100);
    auto* led = new ZStateDisplayBlink(&host);
    led->setGeometryScaled(10, 10, 16, 16);
    led->setCombinedImage(solidFrames(16, 16, kLed));
    led->setnSubImages(3);
    led->setCurrentImageIndex(1);
    led->setBlink(true);
    led->applyScale(2);
    ASSERT_EQ(led->size(), QSize(32, 32));
    ASSERT_TRUE(qtest::showAndWait(&host));

    const uint32_t step = Quil::blinkTimer() ? Quil::blinkTimer()->step() : 0;
    const QColor expected = Quil::blinkPatternOn(2, step) ? kLed[1] : kLed[0];
    EXPECT_TRUE(qtest::near(qtest::pixelAt(led, QPoint(4, 4)), expected));
    EXPECT_TRUE(qtest::near(qtest::pixelAt(led, QPoint(28, 28)), expected)) << "the far corner is drawn too";

    // The blink timer drives repaints only while blinking, and only on the
    // steps where the phase turns: steps 0-9 of pattern 2 are on, 10 is off.
    ASSERT_NE(Quil::blinkTimer(), nullptr);
    while (Quil::blinkTimer()->step() != 1)
        Quil::blinkTimer()->onTimeout();
    QTest::qWait(30);
    fixtures::PaintCounter paints(led);
    Quil::blinkTimer()->onTimeout(); // step 2: still on
    QTest::qWait(30);
    EXPECT_EQ(paints.count, 0);
    while (Quil::blinkTimer()->step() != 10)
        Quil::blinkTimer()->onTimeout();
    EXPECT_TRUE(qtest::waitUntil([&] { return paints.count > 0; }, 1000));
    EXPECT_TRUE(qtest::near(qtest::pixelAt(led, QPoint(28, 28)), kLed[0]));
    led->setBlink(false);
    QTest::qWait(30);
    paints.count = 0;
    Quil::blinkTimer()->onTimeout();
    QTest::qWait(30);
    EXPECT_EQ(paints.count, 0);
    EXPECT_TRUE(qtest::near(qtest::pixelAt(led, QPoint(28, 28)), kLed[1]));

    // Off phase: frame 0. Step 10 of pattern 2 is off.
    led->setBlink(true);
    while (Quil::blinkTimer()->step() != 10)
        Quil::blinkTimer()->onTimeout();
    EXPECT_TRUE(qtest::near(qtest::pixelAt(led, QPoint(28, 28)), kLed[0]));
    led->setEnabled(false);
    EXPECT_FALSE(qtest::near(qtest::pixelAt(led, QPoint(28, 28)), kLed[0], 3));
}

namespace {

// A strip of 20 cells of 10 x 10: grey background, blue sprite.
struct Strip {
    explicit Strip(bool vertical, int groupLength = 16)
    {
        host.resize(400, 400);
        display = new ZSelectionDisplay(&host);
        const QSize size = vertical ? QSize(10, 300) : QSize(300, 10);
        display->setGeometryScaled(QRect(QPoint(0, 0), size));
        QPixmap bg(size);
        bg.fill(Qt::gray);
        QPixmap sprite(size);
        sprite.fill(Qt::blue);
        display->setPixmaps(bg, sprite);
        display->setCellLayout(QSize(10, 10), 20, groupLength, 1, 4, vertical);
        shownOk = qtest::showAndWait(&host);
    }
    QWidget host;
    ZSelectionDisplay* display = nullptr;
    bool shownOk = false;
};

} // namespace

TEST(ZSelectionDisplay, CellsRunInGroupsWithTheirGaps)
{
    Strip h(false);
    ASSERT_TRUE(h.shownOk);
    EXPECT_EQ(h.display->sourceCellRect(16), QRect(179, 0, 10, 10));
    EXPECT_EQ(h.display->sourceCellRect(15), QRect(165, 0, 10, 10));
    EXPECT_TRUE(h.display->sourceCellRect(20).isNull());
    EXPECT_TRUE(h.display->sourceCellRect(-1).isNull());

    EXPECT_TRUE(qtest::near(qtest::pixelAt(h.display, QPoint(184, 5)), QColor(Qt::gray)));
    h.display->setSelection(16);
    EXPECT_TRUE(qtest::near(qtest::pixelAt(h.display, QPoint(179, 5)), QColor(Qt::blue)));
    EXPECT_TRUE(qtest::near(qtest::pixelAt(h.display, QPoint(178, 5)), QColor(Qt::gray)));
    h.display->setSelection(-1);
    EXPECT_TRUE(qtest::near(qtest::pixelAt(h.display, QPoint(184, 5)), QColor(Qt::gray)));

    // Zoomed, a cell sits where the stretched background shows it: at 150 %
    // the rounded gaps must not add up (cell 19 starts at 212 x 1.5 = 318).
    h.display->applyScale(1);
    EXPECT_EQ(h.display->targetCellRect(19), QRect(318, 0, 15, 15));
    h.display->applyScale(2);
    EXPECT_EQ(h.display->targetCellRect(16), QRect(358, 0, 20, 20));
}

TEST(ZSelectionDisplay, VerticalStripAndGroupLengthZero)
{
    Strip v(true);
    ASSERT_TRUE(v.shownOk);
    EXPECT_EQ(v.display->sourceCellRect(16), QRect(0, 179, 10, 10));
    v.display->setSelection(16);
    EXPECT_TRUE(qtest::near(qtest::pixelAt(v.display, QPoint(5, 180)), QColor(Qt::blue)));

    // Length 0 with several cells: every cell is its own group.
    Strip z(false, 0);
    ASSERT_TRUE(z.shownOk);
    EXPECT_EQ(z.display->sourceCellRect(3), QRect(42, 0, 10, 10));
    z.display->setSelection(3);
    EXPECT_TRUE(qtest::near(qtest::pixelAt(z.display, QPoint(45, 5)), QColor(Qt::blue)));
}
