// Zoom arithmetic and the re-layout of widget trees.
//
// Every window is authored at 100 % and shown at 100, 150 or 200 %. A zoom
// code names the zoom: 0 = 100 %, 1 = 150 %, 2 = 200 %; any other code acts
// as 100 %. All geometry and fonts go through the integer rules below, so a
// value scaled and unscaled with the same code comes back unchanged.
//
// Zoomable widgets carry IScaledWidget (see zscaled.h), which records the
// widget's 100 % geometry, size and font as the wrappers below set the scaled
// ones; ZScale::applyScale re-lays a widget and its zoomable children from
// those records. GUI thread only.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>

class QWidget;

using ZoomCode = uint;

// The zoom mix-in: the state every zoomable widget keeps, in the order of its
// virtual slots. Implemented by the nine ZScaled* classes.
class IScaledWidget {
public:
    virtual ~IScaledWidget() = default;
    // Re-lays the widget for a new zoom code.
    virtual bool applyScale(ZoomCode code) = 0;
    // The code the widget is laid out for.
    virtual ZoomCode scale() const = 0;
    virtual bool setScale(ZoomCode code) = 0;
    // 100 % geometry; "stored" when right >= left and bottom >= top.
    virtual bool setBaseGeometry(const QRect& rect) = 0;
    virtual QRect baseGeometry() const = 0;
    // 100 % size; "stored" when both components are >= 0.
    virtual bool setBaseSize(const QSize& size) = 0;
    virtual QSize baseSize() const = 0;
    // 100 % font.
    virtual bool setBaseFont(const QFont& font) = 0;
    virtual QFont baseFont() const = 0;
};

namespace ZScale {

// 100, 150 or 200; 100 for any code other than 0, 1 and 2.
int factor(ZoomCode code);

// 100 % to screen: (v x f + 50) / 100; negative values mirror positive ones.
// Results beyond the int range saturate instead of wrapping.
int scaleValue(ZoomCode code, int v);
// Screen to 100 %: v x 100 / f, truncated; negative values mirror.
int unscaleValue(ZoomCode code, int v);
int rescaleValue(ZoomCode newCode, ZoomCode oldCode, int v);
QSize scaleSize(ZoomCode code, const QSize& size);
QSize unscaleSize(ZoomCode code, const QSize& size);
QPoint scaleSize(ZoomCode code, const QPoint& point);
QPoint unscaleSize(ZoomCode code, const QPoint& point);
// Origin and extent are scaled apart, never the right and bottom edges.
QRect scaleRect(ZoomCode code, const QRect& rect);
QRect unscaleRect(ZoomCode code, const QRect& rect);
// Point and pixel sizes (whichever is set) rescaled from oldCode to newCode.
QFont scaleFont(ZoomCode newCode, ZoomCode oldCode, const QFont& font);

// Read-backs: the widget's current value unscaled with `code`.
int unscaledX(const QWidget* w, ZoomCode code); // -1 for a null widget
int unscaledY(const QWidget* w, ZoomCode code);
int unscaledWidth(const QWidget* w, ZoomCode code);
int unscaledHeight(const QWidget* w, ZoomCode code);
QPoint unscaledPos(const QWidget* w, ZoomCode code); // 0,0 for a null widget
QSize unscaledSize(const QWidget* w, ZoomCode code); // -1 x -1 for a null widget
QRect unscaledRect(const QWidget* w, ZoomCode code); // null rect for a null widget
// The base font of a zoomable widget, else the widget's current font.
QFont baseFontOf(const QWidget* w);

// Setters: values at 100 %, applied scaled by `code`; false for a null widget.
// Sizes handed to Qt are bounded by its largest widget size.
bool move(QWidget* w, ZoomCode code, int x, int y);
// Records the size as base size when none is stored.
bool resize(QWidget* w, ZoomCode code, const QSize& size);
bool resize(QWidget* w, ZoomCode code, int width, int height);
// Records the rect as base geometry when none is stored or when forced.
bool setGeometry(QWidget* w, ZoomCode code, const QRect& rect, bool force = false);
bool setGeometry(QWidget* w, ZoomCode code, int x, int y, int width, int height, bool force = false);
// Always records the font as base font.
bool setFont(QWidget* w, ZoomCode code, const QFont& font);
bool setFixedSize(QWidget* w, ZoomCode code, int width, int height);
bool setMinimumSize(QWidget* w, ZoomCode code, const QSize& size);
bool setMaximumSize(QWidget* w, ZoomCode code, const QSize& size);

// Re-lays a zoomable widget for `code`: first every zoomable direct child
// (through its own applyScale), then, when the code changes, the widget's
// limits, geometry and font from its 100 % records. False when the object
// is not a QWidget.
bool applyScale(IScaledWidget* widget, ZoomCode code);
// Scales a finished 100 % form once, inner widgets first. Records nothing and
// touches no zoom code, so a second call scales again. False for null.
bool scaleChildWidgets(QWidget* widget, ZoomCode code);

} // namespace ZScale
