// Picks the model firmware updater for a package's device type.
#pragma once

#include "fwupdate_ui/fw_modelupdater.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace Quil {

// The updater for a device type (1..11), or null when that type has none:
// PellM-D2 (10) is updated through PellM-D packages, and the Mavik family's
// updater is added beside this one.
std::unique_ptr<IModelFirmUpdater> createModelFirmUpdater(int32_t deviceType);

// What the window calls to make its updater; tests hand in their own.
using ModelFirmUpdaterFactory = std::function<std::unique_ptr<IModelFirmUpdater>(int32_t deviceType)>;

} // namespace Quil
