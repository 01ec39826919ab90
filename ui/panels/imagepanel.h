// ImagePanel: one picture stretched over the widget (backgrounds of the main
// window, the meter windows and the unit panels).
#pragma once

#include "ui/widgets/zscaled.h"

#include <QColor>
#include <QPixmap>

class ImagePanel : public ZScaledWidget {
    Q_OBJECT
public:
    explicit ImagePanel(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    int setPixmap(const QPixmap& picture);
    const QPixmap& pixmap() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_background;
    QPixmap m_picture;
};

namespace Panels {
// The picture stretched over the widget, or the colour when there is no
// picture (nothing when the colour is unset).
void paintBackground(QWidget* widget, const QPixmap& picture, const QColor& colour);
} // namespace Panels
