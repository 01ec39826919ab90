#include "ui/widgets/zstatedisplay.h"

#include "ui/widgets/blinktimer.h"

#include <QPainter>

namespace {

// The phase every blinking indicator follows: two 500 ms flashes per cycle.
constexpr int kBlinkPattern = 2;

} // namespace

ZStateDisplay::ZStateDisplay(QWidget* parent)
    : ZScaledWidget(parent)
{
}

void ZStateDisplay::setCombinedImage(const QPixmap& image)
{
    m_image = image;
    m_drawnIndex = m_index;
    update();
}

void ZStateDisplay::setnSubImages(int value)
{
    m_nSubImages = value;
    if (m_index >= value)
        m_index = value - 1;
}

void ZStateDisplay::setCurrentImageIndex(int index)
{
    if (index < 0)
        index = 0;
    if (index >= m_nSubImages)
        index = m_nSubImages - 1;
    m_index = index;
    if (index == m_drawnIndex)
        return;
    m_drawnIndex = index;
    update();
}

void ZStateDisplay::drawFrame(QPainter& painter, int frame)
{
    // A count or index pulled below zero shows nothing rather than a row outside the picture.
    if (m_image.isNull() || m_nSubImages <= 0 || frame < 0 || frame >= m_nSubImages)
        return;
    const int h = m_image.height() / m_nSubImages;
    painter.drawPixmap(rect(), m_image, QRect(0, frame * h, m_image.width(), h));
}

void ZStateDisplay::paintEvent(QPaintEvent*)
{
    if (!isEnabled())
        return;
    QPainter painter(this);
    drawFrame(painter, m_index);
}

ZStateDisplayBlink::ZStateDisplayBlink(QWidget* parent)
    : ZStateDisplay(parent)
{
    m_phaseOn = Quil::blinkPhase(kBlinkPattern);
    Quil::connectBlinkTimer(this, &ZStateDisplayBlink::onStateChanged);
}

void ZStateDisplayBlink::setBlink(bool blink)
{
    m_blink = blink;
    update();
}

void ZStateDisplayBlink::onStateChanged(uint32_t stateNo)
{
    const bool on = Quil::blinkPatternOn(kBlinkPattern, stateNo);
    const bool turned = on != m_phaseOn;
    m_phaseOn = on;
    if (m_blink && turned && currentImageIndex() != 0)
        update();
}

void ZStateDisplayBlink::paintEvent(QPaintEvent* event)
{
    if (!m_blink) {
        ZStateDisplay::paintEvent(event);
        return;
    }
    if (!isEnabled())
        return;
    QPainter painter(this);
    // Stretched like the steady look, so a zoomed LED blinks at its full size.
    drawFrame(painter, Quil::blinkPhase(kBlinkPattern) ? currentImageIndex() : 0);
}
