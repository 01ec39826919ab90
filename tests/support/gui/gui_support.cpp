#include "tests/support/gui/gui_support.h"

#include <QWidget>

#include <cstdlib>

namespace qtest {

bool showAndWait(QWidget* window)
{
    window->show();
    return QTest::qWaitForWindowExposed(window, 5000);
}

QImage grabImage(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

QColor pixelAt(QWidget* widget, QPoint at)
{
    const QImage image = grabImage(widget);
    if (!image.rect().contains(at))
        return QColor();
    return QColor::fromRgba(image.pixel(at));
}

bool near(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace qtest
