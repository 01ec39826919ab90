// ZDial: pointer paths with real mouse events at 100 % and 200 %, the wheel
// and touchpad scrolling, and dials without a range or without frames.
#include "ui/widgets/zdial.h"

#include "tests/support/gui/gui_support.h"
#include "tests/ui/widgets/widget_fixtures.h"

#include <QApplication>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct DialHost {
    explicit DialHost(ZoomCode code = 0)
    {
        host.resize(200, 200);
        dial = new ZDial(&host);
        dial->setCombinedImage(fixtures::solidFrames(42, 42, fixtures::kFour));
        dial->setnSubImages(4);
        dial->setRange(0, 100);
        dial->setValue(50);
        dial->setGeometryScaled(20, 20, 42, 42);
        dial->applyScale(code);
        shownOk = qtest::showAndWait(&host);
    }
    // The point at `degrees` (clockwise from straight up) and `radius`
    // around the dial's visible centre, in dial coordinates.
    QPoint at(double degrees, double radius) const
    {
        const double a = degrees * kPi / 180.0;
        const QPointF c(dial->width() / 2.0, dial->height() / 2.0);
        return QPointF(c.x() + radius * std::sin(a), c.y() - radius * std::cos(a)).toPoint();
    }
    // Presses at the first angle, moves through the rest, releases; the
    // value after each move.
    std::vector<int> drag(const std::vector<double>& degrees, double radius)
    {
        std::vector<int> values;
        QTest::mousePress(dial, Qt::LeftButton, {}, at(degrees.front(), radius));
        for (size_t i = 1; i < degrees.size(); ++i) {
            QTest::mouseMove(dial, at(degrees[i], radius));
            values.push_back(dial->value());
        }
        QTest::mouseRelease(dial, Qt::LeftButton, {}, at(degrees.back(), radius));
        return values;
    }

    QWidget host;
    ZDial* dial = nullptr;
    bool shownOk = false;
};

std::vector<double> sweep(double from, double to, double step)
{
    std::vector<double> out;
    for (double d = from; step > 0 ? d <= to + 1e-9 : d >= to - 1e-9; d += step)
        out.push_back(d);
    return out;
}

bool nonDecreasing(const std::vector<int>& v)
{
    for (size_t i = 1; i < v.size(); ++i)
        if (v[i] < v[i - 1])
            return false;
    return true;
}

void wheel(QWidget* w, int delta, Qt::ScrollPhase phase)
{
    const QPointF pos(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent event(
        pos, w->mapToGlobal(pos.toPoint()), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, phase, false);
    QApplication::sendEvent(w, &event);
}

} // namespace

TEST(ZDial, DragTurnsFromStraightUpAndStopsAtTheEnd)
{
    DialHost h;
    ASSERT_TRUE(h.shownOk);
    // Clockwise from the top (value 50, angle 0) round past +135 and on
    // through the bottom gap to -150: the value climbs, stops at 100 and
    // never wraps to the minimum.
    const std::vector<int> values = h.drag(sweep(0, 210, 10), 15);
    EXPECT_TRUE(nonDecreasing(values));
    EXPECT_EQ(values.back(), 100);
    EXPECT_EQ(values[8], 83) << "90 degrees is 50 + 90/270 of the range";
    EXPECT_FALSE(h.dial->isDragging());
}

TEST(ZDial, NoJumpAcrossTheBottomGap)
{
    DialHost h;
    ASSERT_TRUE(h.shownOk);
    h.dial->setValue(95); // about +121.5 degrees
    // From near the maximum down through the gap to the far side.
    const std::vector<int> values = h.drag({121.5, 150, 175, 185, 200, 240}, 16);
    for (int v : values)
        EXPECT_GE(v, 95);
    EXPECT_EQ(h.dial->value(), 100);
    // And back anticlockwise: the first steps past the gap keep the stop.
    h.dial->setValue(2);
    const std::vector<int> down = h.drag({-130, -160, -185, -200}, 16);
    for (int v : down)
        EXPECT_LE(v, 2);
    EXPECT_EQ(h.dial->value(), 0);
}

TEST(ZDial, CircleAroundTheVisibleCentreTurnsOneWayAtTwoHundredPercent)
{
    DialHost h(2);
    ASSERT_TRUE(h.shownOk);
    ASSERT_EQ(h.dial->size(), QSize(84, 84));
    // A small circle around the centre as shown; a pivot at the 100 %
    // centre (the top-left quarter) would see the pointer swing both ways.
    const std::vector<int> values = h.drag(sweep(0, 120, 10), 12);
    EXPECT_TRUE(nonDecreasing(values));
    EXPECT_NEAR(h.dial->value(), 94, 2);
}

TEST(ZDial, WheelNotchesAndTouchpadTravel)
{
    DialHost h;
    ASSERT_TRUE(h.shownOk);
    struct Row {
        int delta;
        int change;
    };
    const Row rows[] = {{240, 2}, {120, 1}, {30, 1}, {-30, -1}, {-360, -3}, {0, 0}};
    for (const Row& row : rows) {
        h.dial->setValue(50);
        wheel(h.dial, row.delta, Qt::NoScrollPhase);
        EXPECT_EQ(h.dial->value(), 50 + row.change) << "delta " << row.delta;
    }
    EXPECT_TRUE(h.dial->hasFocus());

    // A touchpad gesture of eight small deltas is one notch of travel.
    h.dial->setValue(50);
    wheel(h.dial, 15, Qt::ScrollBegin);
    for (int i = 0; i < 7; ++i)
        wheel(h.dial, 15, Qt::ScrollUpdate);
    wheel(h.dial, 0, Qt::ScrollEnd);
    EXPECT_EQ(h.dial->value(), 51);
    // A new gesture starts from nothing: 60 left over does not count.
    wheel(h.dial, 60, Qt::ScrollBegin);
    wheel(h.dial, 0, Qt::ScrollEnd);
    wheel(h.dial, 60, Qt::ScrollBegin);
    EXPECT_EQ(h.dial->value(), 51);
}

TEST(ZDial, EmptyRangeAndNoFramesStayPut)
{
    DialHost h;
    ASSERT_TRUE(h.shownOk);
    h.dial->setRange(5, 5);
    EXPECT_EQ(h.dial->frameIndex(), 0);
    EXPECT_TRUE(qtest::near(qtest::pixelAt(h.dial, QPoint(20, 20)), fixtures::kFour[0]));
    // No angle to start from: the press starts no drag and moves change nothing.
    QTest::mousePress(h.dial, Qt::LeftButton, {}, h.at(0, 15));
    EXPECT_FALSE(h.dial->isDragging());
    for (double d : sweep(10, 90, 10))
        QTest::mouseMove(h.dial, h.at(d, 15));
    QTest::mouseRelease(h.dial, Qt::LeftButton, {}, h.at(90, 15));
    EXPECT_EQ(h.dial->value(), 5);

    h.dial->setRange(0, 100);
    h.dial->setValue(80);
    h.dial->setnSubImages(0);
    EXPECT_EQ(h.dial->frameIndex(), -1);
    QPixmap canvas(42, 42);
    canvas.fill(Qt::black);
    h.dial->render(&canvas, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(canvas.toImage().pixelColor(20, 20), QColor(Qt::black)) << "no frame below one frame";

    // Frame choice over the range: 4 frames of 25 values each.
    h.dial->setnSubImages(4);
    const int frames[][2] = {{0, 0}, {24, 0}, {25, 1}, {74, 2}, {99, 3}, {100, 3}};
    for (const auto& f : frames) {
        h.dial->setValue(f[0]);
        EXPECT_EQ(h.dial->frameIndex(), f[1]) << "value " << f[0];
    }
}
