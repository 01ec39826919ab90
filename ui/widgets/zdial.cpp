#include "ui/widgets/zdial.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>
#include <cstdint>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSweep = 135.0 * kPi / 180.0;
// Steps larger than this are jumps of the pointer, not turns.
constexpr double kMaxStep = 2.356194490192345;
constexpr double kFarPoint = 999.9;
constexpr int kNotch = 120;

QPointF onRay(QPointF origin, double angle, double distance)
{
    return QPointF(origin.x() + distance * std::sin(angle), origin.y() - distance * std::cos(angle));
}

// Which side of the line a-b the point p lies on (sign of the cross product).
double sideOf(QPointF a, QPointF b, QPointF p)
{
    return (b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x());
}

// Crossing of segment p-m with the line o-f; m when they are parallel.
QPointF crossing(QPointF p, QPointF m, QPointF o, QPointF f)
{
    const QPointF d1 = m - p;
    const QPointF d2 = f - o;
    const double denominator = d1.x() * d2.y() - d1.y() * d2.x();
    if (std::fabs(denominator) < 1e-12)
        return m;
    const double t = ((o.x() - p.x()) * d2.y() - (o.y() - p.y()) * d2.x()) / denominator;
    return p + t * d1;
}

} // namespace

ZDial::ZDial(QWidget* parent)
    : ZScaledDial(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void ZDial::setCombinedImage(const QPixmap& image)
{
    m_image = image;
    update();
}

int ZDial::frameIndex() const
{
    if (m_nSubImages < 1)
        return -1;
    const int64_t range = static_cast<int64_t>(maximum()) - minimum();
    if (range <= 0)
        return 0; // an empty range has no position to show
    const float k
        = (static_cast<float>(value()) - static_cast<float>(minimum())) / (static_cast<float>(range) / m_nSubImages);
    const int frame = static_cast<int>(k);
    return frame < 0 ? 0 : (frame > m_nSubImages - 1 ? m_nSubImages - 1 : frame);
}

bool ZDial::drawCombinedImage(QPainter& painter)
{
    const int k = frameIndex();
    if (m_image.isNull() || k < 0 || k >= m_nSubImages)
        return false;
    const int h = m_image.height() / m_nSubImages;
    painter.drawPixmap(rect(), m_image, QRect(0, k * h, m_image.width(), h));
    return true;
}

void ZDial::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawCombinedImage(painter);
    if (hasFocus()) {
        painter.setPen(QPen(Qt::magenta, 2));
        painter.drawRect(1, 1, width() - 2, height() - 2);
    }
}

void ZDial::mousePressEvent(QMouseEvent* event)
{
    const bool plainLeft
        = event->button() == Qt::LeftButton && !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
    const int64_t range = static_cast<int64_t>(maximum()) - minimum();
    // An empty range has no angle to start from; such a dial keeps its value.
    if (!plainLeft || m_dragging || range <= 0)
        return;
    m_dragging = true;
    // The centre of the widget as shown, at whatever zoom.
    m_pivot = QPointF(mapToGlobal(QPoint(0, 0))) + QPointF(width() / 2.0, height() / 2.0);
    const double degrees = (static_cast<double>(value()) - minimum()) * 270.0 / static_cast<double>(range) - 135.0;
    m_angle = degrees * kPi / 180.0;
    m_previous = event->screenPos();
    m_reference = onRay(m_pivot, m_angle, 1.0);
    m_minAngle = -kSweep;
    m_maxAngle = kSweep;
}

void ZDial::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        dragTo(event->screenPos());
}

void ZDial::dragTo(QPointF m)
{
    const QPointF o = m_pivot;
    const QPointF p = m_previous;
    double step = std::fabs(std::atan2(m.y() - o.y(), m.x() - o.x()) - std::atan2(p.y() - o.y(), p.x() - o.x()));
    if (step >= kPi)
        step = 2 * kPi - step;
    const double dir = (m.y() - p.y()) * (o.x() - p.x()) - (o.y() - p.y()) * (m.x() - p.x());
    const bool towardMax = dir < 0;
    const QPointF r = m_reference;
    const double side = ((m.y() - r.y()) * (o.x() - r.x()) - (o.y() - r.y()) * (m.x() - r.x())) * dir;

    if (side < 0) {
        // Behind the pointer: stop at the ray opposite the stop, so a pointer
        // that swings through the bottom gap does not wrap to the other end.
        const double stop = towardMax ? m_maxAngle : m_minAngle;
        const QPointF f = onRay(o, stop + kPi, kFarPoint);
        const bool pmApart = !(sideOf(o, f, p) * sideOf(o, f, m) > 1e-6);
        const bool ofApart = !(sideOf(p, m, o) * sideOf(p, m, f) > 1e-6);
        if (pmApart && ofApart)
            m = crossing(p, m, o, f);
    }
    m_previous = m;
    if (side < 0 || step > kMaxStep)
        return;
    if (towardMax)
        m_angle = std::min(m_angle + step, m_maxAngle);
    else
        m_angle = std::max(m_angle - step, m_minAngle);
    m_reference = onRay(o, m_angle, 1.0);

    const double degrees = m_angle * 180.0 / kPi;
    const double range = static_cast<double>(maximum()) - minimum();
    setValue(minimum() + static_cast<int>(range * (degrees + 135.0) / 270.0 + 0.5));
}

void ZDial::mouseReleaseEvent(QMouseEvent*)
{
    m_dragging = false;
}

void ZDial::wheelEvent(QWheelEvent* event)
{
    setFocus(Qt::OtherFocusReason);
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    int steps = 0;
    if (event->phase() != Qt::NoScrollPhase) {
        // Touchpads send many small deltas per notch of travel.
        if (event->phase() == Qt::ScrollBegin)
            m_scrollRemainder = 0;
        m_scrollRemainder += delta;
        steps = m_scrollRemainder / kNotch;
        m_scrollRemainder -= steps * kNotch;
    } else {
        steps = delta / kNotch;
        if (steps == 0 && delta != 0)
            steps = delta > 0 ? 1 : -1;
    }
    if (steps != 0)
        setValue(value() + steps * singleStep());
    event->accept();
}
