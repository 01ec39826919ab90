#include "ui/fwupdate_ui/fw_updaterfactory.h"

#include "device/layouts/dev_modeltypes.h"
#include "ui/fwupdate_ui/fw_mavikupdater.h"

namespace Quil {

std::unique_ptr<IModelFirmUpdater> createModelFirmUpdater(int32_t deviceType)
{
    const ModelTraits* traits = modelTraits(deviceType);
    switch (traits ? traits->firmware.updater : FirmUpdater::None) {
    case FirmUpdater::Mfu:
        return std::make_unique<ModelFirmUpdater>();
    case FirmUpdater::Mavik:
        return std::make_unique<ModelFirmUpdater_Mavik>();
    case FirmUpdater::None:
        break;
    }
    return nullptr;
}

} // namespace Quil
