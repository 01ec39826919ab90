// What the setup-file code needs of the rack: the 24 slots, their mounting
// and whether a unit is connected in them. The rack owner implements it.
#pragma once

#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_result.h"

#include <QString>

namespace Quil {

class IZDev;

constexpr int kRackSlotCount = 24;

class SetupRack {
public:
    virtual ~SetupRack() = default;

    // The slot's IZDev; null for a slot outside the rack.
    virtual IZDev* rackDevice(int slot) const = 0;
    virtual ModelType modelType(int slot) const = 0;
    virtual bool hasConnection(int slot) const = 0;
    virtual JResult mountModel(int slot, ModelType type) = 0;
    // Empties every slot that has no connection.
    virtual void unmountUnconnected() = 0;
    // A setup file names the device id that belongs in the slot.
    virtual void reportDeviceId(int slot, int deviceId) = 0;
};

// "Brox", "Mavik", "Sorn", "Pell", "Brox2", "Pell2" and "Brox3".
bool isKnownFamilyName(const QString& name);

} // namespace Quil
