// Picks the model firmware updater for a package's device type.
#pragma once

#include "ui/fwupdate_ui/fw_modelupdater.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace Quil {

// The updater for a device type (1..11): the Mavik one for Mavik-D, the
// command-link one for the others; null for PellM-D2 (10), which is updated
// through PellM-D packages, and for types outside 1..11.
std::unique_ptr<IModelFirmUpdater> createModelFirmUpdater(int32_t deviceType);

// What the window calls to make its updater; tests hand in their own.
using ModelFirmUpdaterFactory = std::function<std::unique_ptr<IModelFirmUpdater>(int32_t deviceType)>;

} // namespace Quil
