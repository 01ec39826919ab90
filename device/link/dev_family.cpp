#include "device/link/dev_family.h"

#include "device/link/dev_brox.h"
#include "device/link/dev_mavik.h"
#include "device/link/dev_sequences.h"
#include "device/link/dev_sorn.h"
#include "device/memory/dev_familymem.h"
#include "device/memory/dev_memconstructor.h"

#include <new>

namespace Quil {
namespace {

// Adapters are made without throwing: a unit that cannot be built is
// refused, not fatal.
template <typename Base, typename Made> std::unique_ptr<Base> make()
{
    return std::unique_ptr<Base>(new (std::nothrow) Made);
}

} // namespace

std::unique_ptr<ScpParameter_Quil> createScpParameter(ModelType type)
{
    const ModelTraits* traits = modelTraits(type);
    if (!traits)
        return nullptr;
    switch (traits->kit) {
    case ModelKit::Sorn:
        return make<ScpParameter_Quil, ScpParameter_Sorn>();
    case ModelKit::Mavik:
        return make<ScpParameter_Quil, ScpParameter_Mavik>();
    case ModelKit::Brox:
        break;
    }
    return make<ScpParameter_Quil, ScpParameter_Brox>();
}

std::unique_ptr<ScpDeviceReporter_Quil> createScpDeviceReporter(ModelType type)
{
    const ModelTraits* traits = modelTraits(type);
    if (!traits)
        return nullptr;
    switch (traits->kit) {
    case ModelKit::Sorn:
        return make<ScpDeviceReporter_Quil, ScpDeviceReporter_Sorn>();
    case ModelKit::Mavik:
        return make<ScpDeviceReporter_Quil, ScpDeviceReporter_Mavik>();
    case ModelKit::Brox:
        break;
    }
    // Units that keep a log also carry summary lists and the TFTP address.
    if (traits->log != DeviceLog::None)
        return make<ScpDeviceReporter_Quil, ScpDeviceReporter_Brox2>();
    return make<ScpDeviceReporter_Quil, ScpDeviceReporter_Brox>();
}

std::unique_ptr<ScpMeterReporter_Quil> createScpMeterReporter(ModelType type)
{
    const ModelTraits* traits = modelTraits(type);
    if (!traits)
        return nullptr;
    switch (traits->kit) {
    case ModelKit::Sorn:
        return make<ScpMeterReporter_Quil, ScpMeterReporter_Sorn>();
    case ModelKit::Mavik:
        return make<ScpMeterReporter_Quil, ScpMeterReporter_Mavik>();
    case ModelKit::Brox:
        break;
    }
    return make<ScpMeterReporter_Quil, ScpMeterReporter_Brox>();
}

std::unique_ptr<SCP::IScpConnectSequence> createAssoSeq(ModelType type)
{
    const ModelTraits* traits = modelTraits(type);
    if (!traits)
        return nullptr;
    switch (traits->kit) {
    case ModelKit::Sorn:
        return make<SCP::IScpConnectSequence, SornAssoSeq>();
    case ModelKit::Mavik:
        return make<SCP::IScpConnectSequence, MavikAssoSeq>();
    case ModelKit::Brox:
        break;
    }
    return make<SCP::IScpConnectSequence, BroxAssoSeq>();
}

std::unique_ptr<SCP::IScpConnectSequence> createNegoSeq(ModelType type)
{
    // Every family negotiates alike.
    if (!modelTraits(type))
        return nullptr;
    return make<SCP::IScpConnectSequence, NegoSeq>();
}

std::unique_ptr<ZMemConstructor> createMemConstructor(ModelType type)
{
    const ModelTraits* traits = modelTraits(type);
    if (!traits)
        return nullptr;
    switch (traits->kit) {
    case ModelKit::Sorn:
        return std::make_unique<MemConstructor_Sorn>();
    case ModelKit::Mavik:
        return std::make_unique<MemConstructor_Mavik>();
    case ModelKit::Brox:
        break;
    }
    return std::make_unique<BroxMemConstructor>();
}

ZMemObject* createMemObject(ModelType type, int slotIndex, QObject* parent, MMSArchiver* archiver)
{
    const ModelTraits* traits = modelTraits(type);
    if (!traits)
        return nullptr;
    switch (traits->kit) {
    case ModelKit::Sorn:
        return new SornMemObject(slotIndex, parent, archiver);
    case ModelKit::Mavik:
        return new MavikMemObject(slotIndex, parent, archiver);
    case ModelKit::Brox:
        break;
    }
    return new BroxMemObject(slotIndex, type, parent, archiver);
}

} // namespace Quil
