// ZMeter: which part of the meter picture is lit for each orientation,
// inversion and value, checked by pixels on a picture whose every pixel
// names its own row and column.
#include "ui/widgets/zmeter.h"

#include "tests/support/gui/gui_support.h"
#include "tests/ui/widgets/widget_fixtures.h"

#include <gtest/gtest.h>

namespace {

constexpr int kSide = 40;

// Pixel (x, y) is (6x, 6y, 100): a drawn pixel tells where it came from.
QPixmap gradient(int width = kSide, int height = kSide)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor((x * 6) % 256, (y * 6) % 256, 100));
    return QPixmap::fromImage(image);
}

QPixmap blackPicture(int width = kSide, int height = kSide)
{
    QPixmap p(width, height);
    p.fill(Qt::black);
    return p;
}

QColor source(int x, int y)
{
    return QColor((x * 6) % 256, (y * 6) % 256, 100);
}

struct MeterHost {
    MeterHost()
    {
        host.resize(120, 120);
        meter = new ZMeter(&host);
        meter->moveScaled(10, 10);
        meter->setMeterImage(gradient());
        meter->setMeterBgndImage(blackPicture());
        shownOk = qtest::showAndWait(&host);
    }
    QWidget host;
    ZMeter* meter = nullptr;
    bool shownOk = false;
};

} // namespace

TEST(ZMeter, LitPartByOrientationInversionAndValue)
{
    MeterHost h;
    ASSERT_TRUE(h.shownOk);
    EXPECT_EQ(h.meter->size(), QSize(kSide, kSide));
    h.meter->setPeakHoldEnabled(false);
    struct Row {
        ZMeter::eMeterOrientation orientation;
        bool inverted;
        int value;
        QRect lit;
    };
    const Row rows[] = {
        {ZMeter::mtrOrient_Up, false, 10, QRect(0, 30, 40, 10)},
        {ZMeter::mtrOrient_Up, true, 10, QRect(0, 10, 40, 30)},
        {ZMeter::mtrOrient_Up, true, 0, QRect(0, 0, 40, 40)},
        {ZMeter::mtrOrient_Down, false, 10, QRect(0, 0, 40, 10)},
        {ZMeter::mtrOrient_Down, true, 10, QRect(0, 0, 40, 30)},
        {ZMeter::mtrOrient_Right, false, 10, QRect(0, 0, 10, 40)},
        {ZMeter::mtrOrient_Right, true, 10, QRect(0, 0, 30, 40)},
        {ZMeter::mtrOrient_Up, false, 0, QRect(0, 40, 40, 0)},
        // A value past the picture lights it all and nothing outside it.
        {ZMeter::mtrOrient_Up, false, 55, QRect(0, 0, 40, 40)},
        {ZMeter::mtrOrient_Right, false, 55, QRect(0, 0, 40, 40)},
    };
    for (const Row& row : rows) {
        h.meter->setMeterOrientation(row.orientation);
        h.meter->setInverted(row.inverted);
        h.meter->setValue(row.value);
        const QRect lit = h.meter->litSourceRect();
        EXPECT_EQ(lit, row.lit) << row.orientation << " " << row.inverted << " " << row.value;
        const QImage shot = qtest::grabImage(h.meter);
        if (!lit.isEmpty()) {
            // Corners of the lit part show their own picture pixels (the
            // top row of a full meter is the strip, tested apart).
            const QPoint bottomRight = lit.bottomRight();
            EXPECT_TRUE(qtest::near(shot.pixelColor(bottomRight), source(bottomRight.x(), bottomRight.y()), 2));
            const QPoint inner(lit.left() + 1, lit.top() + (row.value >= kSide ? 5 : 0));
            EXPECT_TRUE(qtest::near(shot.pixelColor(inner), source(inner.x(), inner.y()), 2));
        }
        // The pixel just past the lit part's open end is the unlit background.
        const QPoint beyond = row.orientation == ZMeter::mtrOrient_Right ? QPoint(lit.right() + 1, 5)
            : row.orientation == ZMeter::mtrOrient_Up                    ? QPoint(5, lit.top() - 1)
                                                                         : QPoint(5, lit.bottom() + 1);
        if (!lit.isEmpty() && shot.rect().contains(beyond)) {
            EXPECT_EQ(shot.pixelColor(beyond), QColor(Qt::black)) << "beyond " << beyond.x() << "," << beyond.y();
        }
    }
}

TEST(ZMeter, ZoomedMeterAndTopStrip)
{
    // 8 x 100 at 150 %: v = 50 lights rows 50..99, drawn from y = 75, 75 high.
    QWidget host;
    host.resize(60, 200);
    auto* meter = new ZMeter(&host);
    meter->setMeterImage(gradient(8, 100));
    meter->setPeakHoldEnabled(false);
    meter->applyScale(1);
    ASSERT_EQ(meter->size(), QSize(12, 150));
    ASSERT_TRUE(qtest::showAndWait(&host));
    meter->setValue(50);
    EXPECT_EQ(meter->litSourceRect(), QRect(0, 50, 8, 50));
    EXPECT_EQ(ZScale::scaleRect(1, meter->litSourceRect()), QRect(0, 75, 12, 75));
    const QImage shot = qtest::grabImage(meter);
    EXPECT_TRUE(qtest::near(shot.pixelColor(3, 76), source(2, 50), 8));
    EXPECT_TRUE(qtest::near(shot.pixelColor(3, 149), source(2, 99), 8));

    // Full: the top four rows (six at 150 %) repeat the picture's top row.
    meter->setValue(100);
    const QImage full = qtest::grabImage(meter);
    EXPECT_TRUE(qtest::near(full.pixelColor(3, 5), source(2, 0), 8));
    EXPECT_TRUE(qtest::near(full.pixelColor(3, 9), source(2, 6), 8));
}

TEST(ZMeter, PeakSegment)
{
    MeterHost h;
    ASSERT_TRUE(h.shownOk);
    h.meter->setValue(10);
    h.meter->setPeakHold(20, 2);
    EXPECT_EQ(h.meter->peakSourceRect(), QRect(0, 20, 40, 2));
    QImage shot = qtest::grabImage(h.meter);
    EXPECT_TRUE(qtest::near(shot.pixelColor(5, 21), source(5, 21), 2));
    EXPECT_EQ(shot.pixelColor(5, 22), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(5, 19), QColor(Qt::black));

    h.meter->setMeterOrientation(ZMeter::mtrOrient_Down);
    EXPECT_EQ(h.meter->peakSourceRect(), QRect(0, 18, 40, 2));
    h.meter->setMeterOrientation(ZMeter::mtrOrient_Right);
    EXPECT_EQ(h.meter->peakSourceRect(), QRect(18, 0, 2, 40));

    // Position 0 draws no segment, whatever the size; inverted neither.
    h.meter->setPeakHold(0, 5);
    EXPECT_TRUE(h.meter->peakSourceRect().isEmpty());
    h.meter->setPeakHold(20, 2);
    h.meter->setInverted(true);
    EXPECT_TRUE(h.meter->peakSourceRect().isEmpty());
    h.meter->setInverted(false);

    // Off and on again starts from position 0 and size 1.
    h.meter->setPeakHoldEnabled(false);
    h.meter->setPeakHoldEnabled(true);
    EXPECT_EQ(h.meter->peakHoldValue(), 0);
    EXPECT_EQ(h.meter->peakHoldSize(), 1);
}

TEST(ZMeter, SameValueTwicePaintsOnceAndNegativeIsZero)
{
    MeterHost h;
    ASSERT_TRUE(h.shownOk);
    h.meter->setValue(-5);
    EXPECT_EQ(h.meter->value(), 0);
    QTest::qWait(30);
    fixtures::PaintCounter paints(h.meter);
    h.meter->setValue(12);
    ASSERT_TRUE(qtest::waitUntil([&] { return paints.count == 1; }, 1000));
    h.meter->setValue(12);
    h.meter->setPeakHoldValue(0);
    QTest::qWait(50);
    EXPECT_EQ(paints.count, 1);
}
