// The family kits by model type: every part a unit's object is built from,
// chosen from the model's row. Each factory returns null for 0 and any type
// that is not a model.
#pragma once

#include "device/layouts/dev_modeltypes.h"

#include <QObject>

#include <memory>

namespace SCP {
class IScpConnectSequence;
}

namespace Quil {

class MMSArchiver;
class ScpDeviceReporter_Quil;
class ScpMeterReporter_Quil;
class ScpParameter_Quil;
class ZMemConstructor;
class ZMemObject;

std::unique_ptr<ScpParameter_Quil> createScpParameter(ModelType type);
std::unique_ptr<ScpDeviceReporter_Quil> createScpDeviceReporter(ModelType type);
std::unique_ptr<ScpMeterReporter_Quil> createScpMeterReporter(ModelType type);
std::unique_ptr<SCP::IScpConnectSequence> createAssoSeq(ModelType type);
std::unique_ptr<SCP::IScpConnectSequence> createNegoSeq(ModelType type);
// Loads the family's layouts into a unit's archiver.
std::unique_ptr<ZMemConstructor> createMemConstructor(ModelType type);
// The family's memory object (initAccessors already run when an archiver is
// given). Owned by parent, or by the caller without one.
ZMemObject* createMemObject(ModelType type, int slotIndex, QObject* parent, MMSArchiver* archiver);

} // namespace Quil
