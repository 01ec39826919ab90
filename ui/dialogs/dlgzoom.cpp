#include "ui/dialogs/dlgzoom.h"

#include <QDialog>

namespace Quil {

namespace {

// An unset limit (Qt's largest size) stays unset rather than overflowing.
QSize scaledLimit(ZoomCode code, const QSize& size)
{
    const QSize scaled = ZScale::scaleSize(code, size);
    return QSize(size.width() >= QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : qMin(scaled.width(), QWIDGETSIZE_MAX),
        size.height() >= QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : qMin(scaled.height(), QWIDGETSIZE_MAX));
}

} // namespace

void zoomDialogOnce(QDialog* dialog, ZoomCode code)
{
    dialog->setMinimumSize(scaledLimit(code, dialog->minimumSize()));
    dialog->setMaximumSize(scaledLimit(code, dialog->maximumSize()));
    dialog->resize(ZScale::scaleSize(code, dialog->size()));
    ZScale::scaleChildWidgets(dialog, code);
}

} // namespace Quil
