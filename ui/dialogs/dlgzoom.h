// The zoom of a finished dialog form: its limits and size scaled, then its
// children scaled once.
#pragma once

#include "ui/widgets/zscale.h"

class QDialog;

namespace Quil {

void zoomDialogOnce(QDialog* dialog, ZoomCode code);

} // namespace Quil
