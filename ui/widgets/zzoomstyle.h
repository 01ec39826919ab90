// Scroll bars, scroll views and buttons drawn at their window's zoom.
//
// Geometry and fonts follow the zoom through ZScale; the extents a style
// measures (scroll-bar width, icon and indicator sizes) do not, so a zoomed
// window would keep 100 % scroll bars and icons. The zoom style is the
// application style with those metrics scaled. GUI thread only.
#pragma once

#include "ui/widgets/zscale.h"

class QStyle;
class QWidget;

namespace ZZoomStyle {

// The application style scaled for `code`: one shared instance per zoom,
// owned by the application; null (the application style itself) at 100 %.
QStyle* forZoom(ZoomCode code);

// Gives `w` the zoom style when it measures through it: a scroll view with
// its two bars, a scroll bar or a button. Other widgets are left alone.
void apply(QWidget* w, ZoomCode code);

} // namespace ZZoomStyle
