#include "ui/widgets/zscale.h"

#include "ui/widgets/zzoomstyle.h"

#include <QWidget>

#include <climits>

namespace ZScale {
namespace {

IScaledWidget* scaledOf(const QObject* object)
{
    return dynamic_cast<IScaledWidget*>(const_cast<QObject*>(object));
}

// Sizes handed to Qt stay within its limit: Qt would bound them anyway, but
// with a warning for every widget at every zoom change.
int boundedExtent(int v)
{
    return v > QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : v;
}

QSize boundedSize(const QSize& size)
{
    return QSize(boundedExtent(size.width()), boundedExtent(size.height()));
}

int saturated(uint64_t magnitude, bool negative)
{
    if (magnitude > static_cast<uint64_t>(INT_MAX))
        return negative ? -INT_MAX : INT_MAX;
    const int v = static_cast<int>(magnitude);
    return negative ? -v : v;
}

uint64_t magnitudeOf(int v)
{
    return v < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
}

} // namespace

int factor(ZoomCode code)
{
    switch (code) {
    case 1:
        return 150;
    case 2:
        return 200;
    default:
        return 100;
    }
}

int scaleValue(ZoomCode code, int v)
{
    const uint64_t f = static_cast<uint64_t>(factor(code));
    return saturated((magnitudeOf(v) * f + 50) / 100, v < 0);
}

int unscaleValue(ZoomCode code, int v)
{
    const uint64_t f = static_cast<uint64_t>(factor(code));
    return saturated(magnitudeOf(v) * 100 / f, v < 0);
}

int rescaleValue(ZoomCode newCode, ZoomCode oldCode, int v)
{
    return scaleValue(newCode, unscaleValue(oldCode, v));
}

QSize scaleSize(ZoomCode code, const QSize& size)
{
    return QSize(scaleValue(code, size.width()), scaleValue(code, size.height()));
}

QSize unscaleSize(ZoomCode code, const QSize& size)
{
    return QSize(unscaleValue(code, size.width()), unscaleValue(code, size.height()));
}

QPoint scaleSize(ZoomCode code, const QPoint& point)
{
    return QPoint(scaleValue(code, point.x()), scaleValue(code, point.y()));
}

QPoint unscaleSize(ZoomCode code, const QPoint& point)
{
    return QPoint(unscaleValue(code, point.x()), unscaleValue(code, point.y()));
}

QRect scaleRect(ZoomCode code, const QRect& rect)
{
    return QRect(scaleValue(code, rect.left()), scaleValue(code, rect.top()), scaleValue(code, rect.width()),
        scaleValue(code, rect.height()));
}

QRect unscaleRect(ZoomCode code, const QRect& rect)
{
    return QRect(unscaleValue(code, rect.left()), unscaleValue(code, rect.top()), unscaleValue(code, rect.width()),
        unscaleValue(code, rect.height()));
}

QFont scaleFont(ZoomCode newCode, ZoomCode oldCode, const QFont& font)
{
    QFont out(font);
    if (font.pointSize() > 0)
        out.setPointSize(rescaleValue(newCode, oldCode, font.pointSize()));
    if (font.pixelSize() > 0)
        out.setPixelSize(rescaleValue(newCode, oldCode, font.pixelSize()));
    return out;
}

int unscaledX(const QWidget* w, ZoomCode code)
{
    return w ? unscaleValue(code, w->x()) : -1;
}

int unscaledY(const QWidget* w, ZoomCode code)
{
    return w ? unscaleValue(code, w->y()) : -1;
}

int unscaledWidth(const QWidget* w, ZoomCode code)
{
    return w ? unscaleValue(code, w->width()) : -1;
}

int unscaledHeight(const QWidget* w, ZoomCode code)
{
    return w ? unscaleValue(code, w->height()) : -1;
}

QPoint unscaledPos(const QWidget* w, ZoomCode code)
{
    return w ? unscaleSize(code, w->pos()) : QPoint(0, 0);
}

QSize unscaledSize(const QWidget* w, ZoomCode code)
{
    return w ? unscaleSize(code, w->size()) : QSize(-1, -1);
}

QRect unscaledRect(const QWidget* w, ZoomCode code)
{
    return w ? unscaleRect(code, w->geometry()) : QRect();
}

QFont baseFontOf(const QWidget* w)
{
    if (!w)
        return QFont();
    if (const IScaledWidget* s = scaledOf(w))
        return s->baseFont();
    return w->font();
}

bool move(QWidget* w, ZoomCode code, int x, int y)
{
    if (!w)
        return false;
    w->move(scaleValue(code, x), scaleValue(code, y));
    return true;
}

bool resize(QWidget* w, ZoomCode code, const QSize& size)
{
    if (!w)
        return false;
    w->resize(scaleSize(code, size));
    IScaledWidget* s = scaledOf(w);
    if (s && !(s->baseSize().width() >= 0 && s->baseSize().height() >= 0))
        s->setBaseSize(size);
    return true;
}

bool resize(QWidget* w, ZoomCode code, int width, int height)
{
    return resize(w, code, QSize(width, height));
}

bool setGeometry(QWidget* w, ZoomCode code, const QRect& rect, bool force)
{
    if (!w)
        return false;
    w->setGeometry(scaleRect(code, rect));
    IScaledWidget* s = scaledOf(w);
    if (s && (force || !s->baseGeometry().isValid()))
        s->setBaseGeometry(rect);
    return true;
}

bool setGeometry(QWidget* w, ZoomCode code, int x, int y, int width, int height, bool force)
{
    return setGeometry(w, code, QRect(x, y, width, height), force);
}

bool setFont(QWidget* w, ZoomCode code, const QFont& font)
{
    if (!w)
        return false;
    w->setFont(scaleFont(code, 0, font));
    if (IScaledWidget* s = scaledOf(w))
        s->setBaseFont(font);
    return true;
}

bool setFixedSize(QWidget* w, ZoomCode code, int width, int height)
{
    if (!w)
        return false;
    w->setFixedSize(boundedSize(scaleSize(code, QSize(width, height))));
    return true;
}

bool setMinimumSize(QWidget* w, ZoomCode code, const QSize& size)
{
    if (!w)
        return false;
    w->setMinimumSize(boundedSize(scaleSize(code, size)));
    return true;
}

bool setMaximumSize(QWidget* w, ZoomCode code, const QSize& size)
{
    if (!w)
        return false;
    w->setMaximumSize(boundedSize(scaleSize(code, size)));
    return true;
}

bool applyScale(IScaledWidget* widget, ZoomCode code)
{
    QWidget* w = dynamic_cast<QWidget*>(widget);
    if (!w)
        return false;
    // Children first, even when this widget keeps its code: a child may lag.
    const QObjectList children = w->children();
    for (QObject* child : children)
        if (IScaledWidget* s = scaledOf(child))
            s->applyScale(code);

    const ZoomCode old = widget->scale();
    if (code == old)
        return true;
    const QSize minimum = unscaleSize(old, w->minimumSize());
    const QSize maximum = unscaleSize(old, w->maximumSize());
    const QSize size = unscaleSize(old, w->geometry().size());
    const QPoint pos = unscaleSize(old, w->geometry().topLeft());
    const QFont font = widget->baseFont();

    widget->setScale(code);
    setMinimumSize(w, code, minimum);
    setMaximumSize(w, code, maximum);
    const QSize baseSize = widget->baseSize();
    if (baseSize.width() >= 0 && baseSize.height() >= 0) {
        move(w, code, pos.x(), pos.y());
        resize(w, code, baseSize);
    } else if (widget->baseGeometry().isValid()) {
        setGeometry(w, code, widget->baseGeometry(), false);
    } else if (size.width() >= 0 && size.height() >= 0) {
        move(w, code, pos.x(), pos.y());
        resize(w, code, size); // records the read-back size as base size
    }
    setFont(w, code, font);
    return true;
}

bool scaleChildWidgets(QWidget* widget, ZoomCode code)
{
    if (!widget)
        return false;
    const QObjectList children = widget->children();
    for (QObject* object : children) {
        QWidget* child = qobject_cast<QWidget*>(object);
        if (!child)
            continue;
        scaleChildWidgets(child, code);
        child->setGeometry(scaleRect(code, child->geometry()));
        child->setFont(scaleFont(code, 0, child->font()));
        ZZoomStyle::apply(child, code);
    }
    return true;
}

} // namespace ZScale
