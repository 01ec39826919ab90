#include "ui/widgets/zbutton.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// Frames by count (rows 0..4, five and more use the last) and state.
constexpr int kFrameTable[5][4] = {
    {-1, -1, -1, -1},
    {0, 0, 0, 0},
    {1, 0, 1, 0},
    {2, 0, 1, 1},
    {2, 0, 3, 1},
};

} // namespace

ZButton::ZButton(QWidget* parent)
    : ZScaledPushButton(parent)
{
    setFlat(true);
    setFocusPolicy(Qt::NoFocus);
}

ZButton::ButtonState ZButton::buttonState() const
{
    if (!isCheckable())
        return isDown() ? StateOn : StateOff;
    if (isChecked())
        return isDown() ? StateOnPressed : StateOn;
    return isDown() ? StateOffPressed : StateOff;
}

int ZButton::subImageIndex(int nSubImages, int state) const
{
    if (state < 0 || state > 3)
        return -1;
    const int row = nSubImages < 0 ? 0 : (nSubImages > 4 ? 4 : nSubImages);
    return kFrameTable[row][state];
}

bool ZButton::drawCombinedImage(QPainter& painter)
{
    if (m_image.isNull())
        return false;
    const int h = m_image.height() / m_nSubImages;
    const int k = subImageIndex(m_nSubImages, buttonState());
    if (k < 0)
        return false;
    painter.drawPixmap(rect(), m_image, QRect(0, k * h, m_image.width(), h));
    return true;
}

void ZButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawCombinedImage(painter);
    if (!m_textEnable)
        return;
    const bool released = !isDown() && (!isCheckable() || isChecked());
    const QColor& ink = released ? m_releasedTextColor : m_pressedTextColor;
    if (ink.isValid())
        painter.setPen(ink);
    painter.drawText(rect(), static_cast<int>(m_textAlignment), text());
}

void ZButton::fitToImage()
{
    setFixedSizeScaled(m_image.width(), m_image.height() / m_nSubImages);
}

void ZButton::setCombinedImage(const QPixmap& image)
{
    m_image = image;
    fitToImage();
    update();
}

void ZButton::setnSubImages(int value)
{
    m_nSubImages = value <= 0 ? 1 : value;
    if (!m_image.isNull())
        fitToImage();
    update();
}

void ZButton::setTextEnable(bool enable)
{
    m_textEnable = enable;
    update();
}

void ZButton::setTextAlignment(Qt::Alignment alignment)
{
    m_textAlignment = alignment;
    update();
}

void ZButton::setOnTrigger(ZButton::OnOffTrigger mode)
{
    m_onTrigger = mode;
}

void ZButton::setOffTrigger(ZButton::OnOffTrigger mode)
{
    m_offTrigger = mode;
}

void ZButton::setPressedTextColor(const QColor& col)
{
    m_pressedTextColor = col;
}

void ZButton::setReleasedTextColor(const QColor& col)
{
    m_releasedTextColor = col;
}

void ZButton::mousePressEvent(QMouseEvent* event)
{
    if (!isCheckable()) {
        m_dragState = DragIdle;
        ZScaledPushButton::mousePressEvent(event);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        m_dragState = DragIdle;
        setDown(false);
        return;
    }
    const OnOffTrigger trigger = isChecked() ? m_offTrigger : m_onTrigger;
    if (trigger == buttonPush) {
        // Toggle now: the press and an immediate release go to the button.
        ZScaledPushButton::mousePressEvent(event);
        QMouseEvent release(QEvent::MouseButtonRelease, event->localPos(), event->windowPos(), event->screenPos(),
            Qt::LeftButton, event->buttons() & ~Qt::LeftButton, event->modifiers());
        ZScaledPushButton::mouseReleaseEvent(&release);
        return;
    }
    ZScaledPushButton::mousePressEvent(event);
    m_dragState = DragTracking;
}

void ZButton::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragState != DragIdle) {
        if (hitButton(event->pos())) {
            if (m_dragState == DragLeft || m_dragState == DragBack) {
                // Back over the button: it stays up until the release.
                m_dragState = DragBack;
                return;
            }
        } else {
            m_dragState = DragLeft;
        }
    }
    ZScaledPushButton::mouseMoveEvent(event);
}

void ZButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragState == DragBack) {
        if (event->button() != Qt::LeftButton)
            return;
        m_dragState = DragIdle;
        if (hitButton(event->pos())) {
            animateClick(100);
            return;
        }
        ZScaledPushButton::mouseReleaseEvent(event);
        return;
    }
    if (event->button() == Qt::LeftButton)
        m_dragState = DragIdle;
    ZScaledPushButton::mouseReleaseEvent(event);
}
