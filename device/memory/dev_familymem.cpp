#include "device/memory/dev_familymem.h"

#include "device/layouts/dev_devstate.h"
#include "device/memory/dev_mmsarchiver.h"
#include "device/memory/dev_optiondata.h"
#include "mmsfield/mmsfield_block.h"
#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace Quil {
namespace {

constexpr const char* kBackup = "Backup";
constexpr const char* kDevState = "DevState";
constexpr const char* kFamilyBrox = "Brox";
constexpr const char* kFamilySorn = "Sorn";
constexpr uint32_t kDataInfoVersion = 256;

// One change page per key, no initial marks.
constexpr uint32_t kChangePages = 1;

const MemAddress& connectionStateAddress()
{
    static const MemAddress address{"DevState", "devstate/ConnectionState", {0, 0}};
    return address;
}

const MemAddress& runModeAddress()
{
    static const MemAddress address{"DevInfo", "devstatus/runmode", {0, 0}};
    return address;
}

// The values of "Current" that only the unit sets.
bool isBroxUnitOwned(const std::string& namePath)
{
    static const char* const kPaths[]
        = {"Dev/48VMasterOn", "Dev/MuteOn", "Dev/CurrIPSelectMode", "Dev/CurrIPAddress", "Dev/CurrSubnetMask",
            "Dev/CurrDefaultGateway", "Dev/NextIPSelectMode", "Dev/ExecMode", "Dev/SystemStatus", "Dev/SyncStatus"};
    for (const char* path : kPaths) {
        if (namePath == path)
            return true;
    }
    return false;
}

using Conversion = JResult (BroxMemObject::*)(const MemAddress&, const JLIB::JVariant&, uint8_t);

// Made on first use, once per process, safely from any thread.
const std::map<std::string, Conversion>& conversionTable()
{
    static const std::map<std::string, Conversion> table{
        {"/Backup/InCh/GainCompOn", &BroxMemObject::convertGainComp},
    };
    return table;
}

int32_t integerOf(const JLIB::JVariant& value)
{
    return static_cast<int32_t>(value.toInteger());
}

bool readText(const ZMBDFMMSOptionData& info, const char* path, std::string* out)
{
    JLIB::JVariant value;
    bool ok = false;
    if (info.getValue(path, &value) < 0)
        return false;
    const char* text = value.getString(&ok);
    if (!ok || !text)
        return false;
    *out = text;
    return true;
}

} // namespace

// --- shared ------------------------------------------------------------------------------------

FamilyMemObject::FamilyMemObject(
    const FamilyLayout& layout, int slotIndex, ModelType deviceType, QObject* parent, MMSArchiver* archiver)
    : ZMemObject(parent, archiver)
    , m_layout(layout)
    , m_slotIndex(slotIndex)
    , m_deviceType(deviceType)
{
}

JResult FamilyMemObject::initAccessors(MMSArchiver* archiver)
{
    if (!archiver)
        return DEV_E_FAIL;
    for (size_t i = 0; i < m_layout.count; ++i) {
        const char* name = m_layout.functions[i].name;
        MMS::Field* field = archiver->field(QString::fromLatin1(name));
        if (!field)
            continue;
        auto accessor = std::make_unique<MMSAccessor>(nullptr, field, name, SOURCE_UI);
        accessor->setNotifier(this);
        const bool event = std::strcmp(name, "Event") == 0;
        const bool devInfo = std::strcmp(name, "DevInfo") == 0;
        if (event)
            accessor->setSourceMode(SOURCE_UI, MARK_OTHERS);
        accessor->setSourceMode(SOURCE_LINK, MARK_OTHERS);
        field->addNotifier(0, SOURCE_UI, kChangePages, false);
        if (!devInfo)
            field->addNotifier(0, SOURCE_LINK, kChangePages, false);
        addAccessor(QString::fromLatin1(name), std::move(accessor));
    }
    return DEV_OK;
}

bool FamilyMemObject::readsNotConnected() const
{
    JLIB::JVariant state;
    return getValue(connectionStateAddress(), &state) >= 0
        && integerOf(state) != stateValue(ConnectionState::Connected);
}

JResult FamilyMemObject::saveFunction(
    int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block, const char* function, const char* familyText)
{
    MMSAccessor* source = accessor(QString::fromLatin1(function));
    if (!block || index < 0 || index >= setupBlockCount() || !source || !source->field())
        return DEV_E_FAIL;
    const JResult result = block->setField(name.toUtf8().constData(), source->field(), function);
    if (result < 0)
        return DEV_E_FAIL;
    if (!familyText)
        return result;

    const char* modelName = modelNameOf(m_deviceType);
    ZMBDFMMSOptionData info;
    if (!modelName || info.setValue("DataInfo/Version", JLIB::JVariant(kDataInfoVersion)) < 0
        || info.setValue("DataInfo/UnitID", JLIB::JVariant(static_cast<uint32_t>(m_slotIndex + 1))) < 0
        || info.setValue("DataInfo/ModelName", JLIB::JVariant(modelName, 64)) < 0
        || info.setValue("DataInfo/ModelType", JLIB::JVariant(familyText, 64)) < 0
        || info.setValue("DataInfo/MMSField", JLIB::JVariant(kBackup, 64)) < 0)
        return DEV_E_FAIL;
    uint32_t size = 0;
    if (info.dataSize(&size) < 0 || size == 0)
        return DEV_E_FAIL;
    std::vector<uint8_t> image(size);
    if (info.exportData(image.data(), size) < 0 || block->setPart1(image.data(), size) < 0)
        return DEV_E_FAIL;
    return result;
}

JResult FamilyMemObject::loadBackup(const FILECACHE::MBDFAbstractBlock* block, const char* familyText)
{
    if (!block || !block->part1Data() || block->part1Size() == 0)
        return DEV_E_FAIL;
    ZMBDFMMSOptionData info;
    if (info.importData(block->part1Data(), static_cast<uint32_t>(block->part1Size())) < 0)
        return DEV_E_FAIL;
    std::string family, modelName, function;
    if (!readText(info, "DataInfo/ModelType", &family) || family != familyText)
        return DEV_E_FAIL;
    if (!readText(info, "DataInfo/ModelName", &modelName) || !acceptsModel(modelTypeFromName(modelName.c_str())))
        return DEV_E_FAIL;
    JLIB::JVariant version, unitId;
    if (info.getValue("DataInfo/Version", &version) < 0 || info.getValue("DataInfo/UnitID", &unitId) < 0)
        return DEV_E_FAIL;
    // Only the function saveSetup writes may be loaded: a block naming
    // another one would set connection requests, unit-owned values or
    // events that go straight to the unit.
    if (!readText(info, "DataInfo/MMSField", &function) || function != kBackup)
        return DEV_E_FAIL;
    MMSAccessor* target = accessor(QString::fromLatin1(kBackup));
    if (!target || !block->part2Data() || block->part2Size() == 0 || block->part2Size() > UINT32_MAX)
        return DEV_E_FAIL;
    return target->importImage(block->part2Data(), static_cast<uint32_t>(block->part2Size()));
}

// --- Brox and Pell -----------------------------------------------------------------------------

BroxMemObject::BroxMemObject(int slotIndex, ModelType deviceType, QObject* parent, MMSArchiver* archiver)
    : FamilyMemObject(broxFamilyLayout(), slotIndex, deviceType, parent, archiver)
{
    conversionTable();
    if (archiver)
        initAccessors(archiver);
}

JResult BroxMemObject::setValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    if (source == SOURCE_UI) {
        const auto& table = conversionTable();
        const auto it = table.find("/" + address.function + "/" + address.namePath);
        if (it != table.end())
            return (this->*(it->second))(address, value, source);
    }
    return setRawValue(address, value, source);
}

JResult BroxMemObject::setRawValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    if (source == SOURCE_UI && address.function == "Current" && isBroxUnitOwned(address.namePath))
        return DEV_E_FAIL;
    return ZMemObject::setRawValue(address, value, source);
}

JResult BroxMemObject::convertGainComp(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    JLIB::JVariant previous;
    JResult result = getValue(address, &previous);
    if (result < 0)
        return result;
    result = setRawValue(address, value, source);
    if (result < 0)
        return result;
    const bool wasOn = integerOf(previous) != 0;
    if (wasOn == (integerOf(value) != 0))
        return result;
    // On: keep the head-amp gain as the compensation gain; off: restore it.
    MemAddress from = address;
    MemAddress to = address;
    from.namePath = wasOn ? "InCh/CompGain" : "InCh/HAGain";
    to.namePath = wasOn ? "InCh/HAGain" : "InCh/CompGain";
    JLIB::JVariant gain;
    result = getValue(from, &gain);
    if (result < 0)
        return result;
    return setRawValue(to, gain, source);
}

JResult BroxMemObject::loadSetup(const FILECACHE::MBDFAbstractBlock* block)
{
    return loadBackup(block, kFamilyBrox);
}

JResult BroxMemObject::saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block)
{
    return saveFunction(index, name, block, kBackup, kFamilyBrox);
}

JResult BroxMemObject::getNominal(const MemAddress& address, JLIB::JVariant* out)
{
    if (address.function == kBackup && address.namePath == "InCh/HAGain") {
        if (!out)
            return DEV_E_FAIL;
        *out = JLIB::JVariant(int32_t{0});
        return DEV_OK;
    }
    return ZMemObject::getNominal(address, out);
}

bool BroxMemObject::acceptsModel(ModelType type) const
{
    return servedByKit(type, ModelKit::Brox);
}

// --- Mavik -------------------------------------------------------------------------------------

MavikMemObject::MavikMemObject(int slotIndex, QObject* parent, MMSArchiver* archiver)
    : FamilyMemObject(mavikFamilyLayout(), slotIndex, MODEL_MAVIK_D, parent, archiver)
{
    if (archiver)
        initAccessors(archiver);
}

JResult MavikMemObject::setRawValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    if (source == SOURCE_UI && address.function != kDevState) {
        if (readsNotConnected())
            return DEV_E_FAIL;
        JLIB::JVariant mode;
        bool ok = false;
        if (getValue(runModeAddress(), &mode) >= 0 && mode.getString(&ok) && ok
            && std::strcmp(mode.getString(), "WGM") == 0)
            return DEV_E_WGM;
    }
    return ZMemObject::setRawValue(address, value, source);
}

JResult MavikMemObject::loadSetup(const FILECACHE::MBDFAbstractBlock*)
{
    return DEV_OK;
}

JResult MavikMemObject::saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block)
{
    return saveFunction(index, name, block, "Current", nullptr);
}

bool MavikMemObject::acceptsModel(ModelType type) const
{
    return servedByKit(type, ModelKit::Mavik);
}

// --- Sorn --------------------------------------------------------------------------------------

SornMemObject::SornMemObject(int slotIndex, QObject* parent, MMSArchiver* archiver)
    : FamilyMemObject(sornFamilyLayout(), slotIndex, MODEL_SORN_D, parent, archiver)
{
    if (archiver)
        initAccessors(archiver);
}

JResult SornMemObject::initAccessors(MMSArchiver* archiver)
{
    JResult result = FamilyMemObject::initAccessors(archiver);
    if (result < 0)
        return result;
    // Source 2: the panel shows the patch, the unit is not told.
    MemAddress address{kBackup, "Patch/UserPatchSrc", {0, 0}};
    for (uint32_t i = 0; i < 128; ++i) {
        address.indexes[0] = i;
        result = setValue(address, JLIB::JVariant((i + 64) % 128), SOURCE_LINK);
        if (result < 0)
            return result;
    }
    return DEV_OK;
}

JResult SornMemObject::setRawValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    if (source == SOURCE_UI && address.function != kDevState && address.function != kBackup && readsNotConnected())
        return DEV_E_FAIL;
    return ZMemObject::setRawValue(address, value, source);
}

JResult SornMemObject::loadSetup(const FILECACHE::MBDFAbstractBlock* block)
{
    return loadBackup(block, kFamilySorn);
}

JResult SornMemObject::saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block)
{
    return saveFunction(index, name, block, kBackup, kFamilySorn);
}

bool SornMemObject::acceptsModel(ModelType type) const
{
    return servedByKit(type, ModelKit::Sorn);
}

} // namespace Quil
