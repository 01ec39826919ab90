#include "fwupdate_ui/fw_updaterfactory.h"

#include "device/dev_modeltypes.h"
#include "fwupdate_ui/fw_mavikupdater.h"

namespace Quil {

std::unique_ptr<IModelFirmUpdater> createModelFirmUpdater(int32_t deviceType)
{
    if (deviceType < MODEL_BROXL_D || deviceType > MODEL_BROXL_D3)
        return nullptr;
    switch (deviceType) {
    case MODEL_PELLM_D2:
        return nullptr;
    case MODEL_MAVIK_D:
        return std::make_unique<ModelFirmUpdater_Mavik>();
    default:
        return std::make_unique<ModelFirmUpdater>();
    }
}

} // namespace Quil
