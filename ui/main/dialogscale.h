// The one-time zoom of a finished 100 % dialog form, shared by the program's
// own dialogs.
#pragma once

#include "ui/widgets/zscaled.h"

namespace QuilMain {

// Scales the dialog's limits and size, then its children once, and stores
// the code. A second call scales again, as the form is not re-laid from
// records.
bool scaleDialogOnce(ZScaledDialog* dialog, ZoomCode code);

} // namespace QuilMain
