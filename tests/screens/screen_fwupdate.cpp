// The firmware update window's form with three unit rows: one analysed and
// ticked, one transferring, one disconnected.
#ifdef QUILLON_SCREENS_FWUPDATE

#include "screens.h"

#include "fwupdate_ui/fw_deviceobject.h"
#include "fwupdate_ui/fw_firmupdateui.h"

namespace screens {
namespace {

std::unique_ptr<QWidget> firmUpdateWindow(ZoomCode code)
{
    auto window = std::make_unique<Quil::FirmUpdateUI>();
    window->applyScale(code);
    for (uint id = 0; id < 3; ++id) {
        // Owned by the window; each deletes its row when it goes.
        auto* row = new Quil::DeviceObject(id, Quil::MODEL_BROXL_D2);
        row->setParent(window.get());
        window->addRowWidget(row);
        switch (id) {
        case 0:
            row->setModelVersion("V1.30", "V1.40", 1);
            row->setDanteVersion("4.2.1", 0);
            row->modelAnalyzed(true);
            row->danteAnalyzed(true);
            break;
        case 1:
            row->setModelVersion("V1.20", "V1.40", 1);
            row->modelAnalyzed(true);
            row->prepareModelUpdate();
            row->setModelUpdateState(Quil::DeviceObject::Transferring);
            row->showModelProgress(64);
            break;
        default:
            row->setModelState(Quil::DeviceObject::Disconnected);
            row->setDanteState(Quil::DeviceObject::Disconnected);
            break;
        }
    }
    return window;
}

const ScreenRegistrar kFirmUpdate({QStringLiteral("FirmUpdateWindow"), firmUpdateWindow, nullptr, {}});

} // namespace
} // namespace screens

#endif
