#include "ui/panels/imagepanel.h"

#include <QPainter>

namespace Panels {

void paintBackground(QWidget* widget, const QPixmap& picture, const QColor& colour)
{
    QPainter painter(widget);
    if (!picture.isNull())
        painter.drawPixmap(widget->rect(), picture, picture.rect());
    else if (colour.isValid())
        painter.fillRect(widget->rect(), colour);
}

} // namespace Panels

ImagePanel::ImagePanel(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
{
}

int ImagePanel::setPixmap(const QPixmap& picture)
{
    m_picture = picture;
    update();
    return 0;
}

void ImagePanel::paintEvent(QPaintEvent*)
{
    Panels::paintBackground(this, m_picture, m_background);
}
