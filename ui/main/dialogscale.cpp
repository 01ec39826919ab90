#include "main/dialogscale.h"

namespace QuilMain {

bool scaleDialogOnce(ZScaledDialog* dialog, ZoomCode code)
{
    // Maximum first: a minimum above the old maximum would be clamped.
    dialog->setMaximumSize(ZScale::scaleSize(code, dialog->maximumSize()));
    dialog->setMinimumSize(ZScale::scaleSize(code, dialog->minimumSize()));
    dialog->resize(ZScale::scaleSize(code, dialog->size()));
    ZScale::scaleChildWidgets(dialog, code);
    return dialog->setScale(code);
}

} // namespace QuilMain
