// What the Mavik and Sorn panels share: reading the unit's memory by path
// format, the online test, the look of their value labels, the background
// and the one-item "Properties" menu. GUI thread only.
#pragma once

#include "device/memory/dev_izdev.h"
#include "device/memory/dev_mmsaccessor.h"
#include "ui/widgets/zscale.h"

#include <QString>

class QAction;
class QContextMenuEvent;
class QPixmap;
class QWidget;
class ZLabelDisplay;

namespace IoPanels {

// "/Current/SRC:%d/On:%d" with the indexes filled in, in order.
QString path(const char* format, int first = 0, int second = 0, int third = 0);

// The read's result; *value is the integer read, 0 when nothing could be
// read (an empty variant counts as 0).
JResult readInt(Quil::IZDev* accessor, const QString& path, int* value);

// Connected (2), or the connection state cannot be read.
bool isOnline(Quil::IZDev* accessor);

// White bold 12-pixel Arial on a transparent window, read-only.
void setUpValueLabel(ZLabelDisplay* label);

// The background stretched over the widget; false with no picture.
bool paintBackground(QWidget* widget, const QPixmap& background);

// A menu holding only `properties`, its font zoomed like the panel.
void execPropertiesMenu(QWidget* panel, QAction* properties, ZoomCode code, QContextMenuEvent* event);

} // namespace IoPanels
