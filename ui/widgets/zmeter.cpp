#include "ui/widgets/zmeter.h"

#include <QPainter>

#include <algorithm>

namespace {

// Strip height at the top of a full meter, in 100 % pixels.
constexpr int kTopStrip = 4;

int clampTo(int v, int limit)
{
    return std::max(0, std::min(v, limit));
}

} // namespace

ZMeter::ZMeter(QWidget* parent)
    : ZScaledWidget(parent)
{
}

void ZMeter::setValue(int val)
{
    val = std::max(val, 0);
    if (val == m_value)
        return;
    m_value = val;
    update();
}

void ZMeter::setPeakHoldValue(int val)
{
    val = std::max(val, 0);
    if (val == m_peak)
        return;
    m_peak = val;
    update();
}

void ZMeter::setPeakHoldSize(int size)
{
    if (size == m_peakSize)
        return;
    m_peakSize = size;
    update();
}

void ZMeter::setPeakHold(int value, int size)
{
    setPeakHoldValue(value);
    setPeakHoldSize(size);
}

void ZMeter::setPeakHoldEnabled(bool enable)
{
    m_peakEnabled = enable;
    if (!enable) {
        m_peak = 0;
        m_peakSize = 1;
    }
    update();
}

void ZMeter::setInverted(bool invert)
{
    m_inverted = invert;
}

void ZMeter::setMeterImage(const QPixmap& image)
{
    m_image = image;
    if (!image.isNull())
        setFixedSize(image.size());
}

void ZMeter::setMeterBgndImage(const QPixmap& image)
{
    m_background = image;
}

QRect ZMeter::litSourceRect() const
{
    const int w = m_image.width();
    const int h = m_image.height();
    // A value past the picture lights all of it, never rows outside it.
    switch (m_orientation) {
    case mtrOrient_Up: {
        const int v = clampTo(m_value, h);
        return m_inverted ? QRect(0, v, w, h - v) : QRect(0, h - v, w, v);
    }
    case mtrOrient_Down: {
        const int v = clampTo(m_value, h);
        return m_inverted ? QRect(0, 0, w, h - v) : QRect(0, 0, w, v);
    }
    case mtrOrient_Right: {
        const int v = clampTo(m_value, w);
        return m_inverted ? QRect(0, 0, w - v, h) : QRect(0, 0, v, h);
    }
    }
    return QRect();
}

QRect ZMeter::peakSourceRect() const
{
    if (!m_peakEnabled || m_inverted || m_peak < 1)
        return QRect();
    const int s = m_peakSize;
    const int p = m_peak;
    const int w = m_image.width();
    const int h = m_image.height();
    QRect r;
    switch (m_orientation) {
    case mtrOrient_Up:
        r = QRect(0, h - p, w, s);
        break;
    case mtrOrient_Down:
        r = QRect(0, p - s, w, s);
        break;
    case mtrOrient_Right:
        r = QRect(p - s, 0, s, h);
        break;
    }
    return r.intersected(m_image.rect());
}

void ZMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const ZoomCode code = scale();
    if (!m_background.isNull())
        painter.drawPixmap(QRect(0, 0, ZScale::scaleValue(code, m_background.width()),
                               ZScale::scaleValue(code, m_background.height())),
            m_background);
    if (!isEnabled() || m_image.isNull())
        return;
    if (m_orientation != mtrOrient_Up && m_orientation != mtrOrient_Down && m_orientation != mtrOrient_Right)
        return;
    const QRect lit = litSourceRect();
    if (!lit.isEmpty()) {
        const QRect target = ZScale::scaleRect(code, lit);
        painter.drawPixmap(target, m_image, lit);
        if (m_value >= unscaledHeight()) {
            const QRect strip(target.left(), target.top(), target.width(), ZScale::scaleValue(code, kTopStrip));
            painter.drawPixmap(strip, m_image, QRect(lit.left(), lit.top(), lit.width(), 1));
        }
    }
    const QRect peak = peakSourceRect();
    if (!peak.isEmpty())
        painter.drawPixmap(ZScale::scaleRect(code, peak), m_image, peak);
}
