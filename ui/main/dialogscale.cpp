#include "ui/main/dialogscale.h"

namespace QuilMain {

bool scaleDialogOnce(ZScaledDialog* dialog, ZoomCode code)
{
    // Maximum first: a minimum above the old maximum would be clamped.
    ZScale::setMaximumSize(dialog, code, dialog->maximumSize());
    ZScale::setMinimumSize(dialog, code, dialog->minimumSize());
    dialog->resize(ZScale::scaleSize(code, dialog->size()));
    ZScale::scaleChildWidgets(dialog, code);
    return dialog->setScale(code);
}

} // namespace QuilMain
