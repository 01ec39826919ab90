#include "app/app_setupfile.h"

#include "app/app_setuprack.h"
#include "device/memory/dev_izdev.h"
#include "device/memory/dev_mmsarchiver.h"
#include "device/memory/dev_optiondata.h"
#include "mms/mms_lockedfield.h"
#include "mmsfield/mmsfield_block.h"
#include "pbd/jlib/jvariant.h"

#include <QUuid>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace Quil {

const char kProjSetupLayout[]
    = R"xml(<function name="ProjSetup" collections="3" parameters="3" datasize="72" stringsize="0">
  <collections>
    <collection name="RackMount" datasize="72" arraysize="1">
      <collection name="Brox" datasize="3" arraysize="24">
        <parameter name="Model" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>32</maximum>
          <default>0</default>
        </parameter>
        <parameter name="UnitID" type="uint8_t" arraysize="1">
          <minimum>0</minimum>
          <maximum>63</maximum>
          <default>0</default>
        </parameter>
        <parameter name="DeviceID" type="int8_t" arraysize="1">
          <minimum>-1</minimum>
          <maximum>127</maximum>
          <default>-1</default>
        </parameter>
      </collection>
    </collection>
  </collections>
</function>
)xml";

bool isKnownFamilyName(const QString& name)
{
    static const char* const kNames[] = {"Brox", "Mavik", "Sorn", "Pell", "Brox2", "Pell2", "Brox3"};
    for (const char* known : kNames)
        if (name == QLatin1String(known))
            return true;
    return false;
}

namespace {

constexpr const char* kProjSetup = "ProjSetup";
constexpr const char* kTextDifferentKind = "Different kind of data.";
constexpr const char* kTextInvalid = "Invalid data structure.";
constexpr const char* kTextUnknown = "Unknown error.";

void registerBlockFactories()
{
    static std::once_flag once;
    std::call_once(once, [] { MMSFUNC::mbdf_registerMMSFieldBlockFactory(); });
}

// The rack block's function, built fresh for every save and load so nothing
// is shared with the units' memory.
class ProjSetup {
public:
    ProjSetup()
    {
        if (m_archiver.loadDefinitionText(kProjSetupLayout, sizeof kProjSetupLayout, kProjSetup) >= 0)
            m_field = m_archiver.field(QString::fromLatin1(kProjSetup));
    }

    MMS::Field* field() const { return m_field; }

    JResult set(const char* name, int slot, const JLIB::JVariant& value)
    {
        const uint32_t indexes[3] = {0, static_cast<uint32_t>(slot), 0};
        const QByteArray path = pathOf(name);
        return m_field->setValueByName(
            value, kProjSetup, path.constData(), static_cast<uint32_t>(path.size()), indexes, 3, MMS::WriterOptions());
    }

    // The value as a signed number (DeviceID is int8_t); false when unread.
    bool get(const char* name, int slot, int32_t* out) const
    {
        const uint32_t indexes[3] = {0, static_cast<uint32_t>(slot), 0};
        const QByteArray path = pathOf(name);
        JLIB::JVariant value;
        uint8_t source = 0;
        if (m_field->getValueByName(
                &value, &source, kProjSetup, path.constData(), static_cast<uint32_t>(path.size()), indexes, 3, false, 0)
            < 0)
            return false;
        bool ok = false;
        *out = static_cast<int32_t>(value.toInteger(&ok));
        return ok;
    }

    JResult import(const MMSFUNC::MBDFMMSFieldBlock& block)
    {
        if (block.checkImage() < 0)
            return DEV_E_FAIL;
        // The import works on its own copy; the block's bytes stay as read.
        std::vector<uint8_t> copy(block.image(), block.image() + block.imageLength());
        return m_field->importImageByName(copy.data(), static_cast<uint32_t>(copy.size()), nullptr, 0, kProjSetup,
            nullptr, 0, nullptr, 0, 0, MMS::WriterOptions());
    }

private:
    static QByteArray pathOf(const char* name) { return QByteArray("RackMount/Brox/") + name; }

    MMSArchiver m_archiver;
    MMS::Field* m_field = nullptr;
};

JResult fail(QString* errorText, const char* text)
{
    if (errorText)
        *errorText = QString::fromLatin1(text);
    return DEV_E_FAIL;
}

bool fillRack(const SetupRack& rack, ProjSetup& setup)
{
    if (!setup.field())
        return false;
    for (int slot = 0; slot < kRackSlotCount; ++slot) {
        const IZDev* device = rack.rackDevice(slot);
        const int deviceId = device ? device->deviceId() : -1;
        if (setup.set("Model", slot, JLIB::JVariant(static_cast<int32_t>(rack.modelType(slot)))) < 0
            || setup.set("UnitID", slot, JLIB::JVariant(static_cast<int32_t>(slot + 1))) < 0
            || setup.set("DeviceID", slot, JLIB::JVariant(static_cast<int32_t>(deviceId))) < 0)
            return false;
    }
    return true;
}

bool appendUnitBlocks(const SetupRack& rack, FILECACHE::MBDF& file)
{
    for (int slot = 0; slot < kRackSlotCount; ++slot) {
        const ModelType type = rack.modelType(slot);
        IZDev* device = rack.rackDevice(slot);
        if (type == MODEL_NONE || !device)
            continue;
        const QString family = QString::fromLatin1(familyNameOf(type));
        for (int index = 0; index < device->setupBlockCount(); ++index) {
            auto block = std::unique_ptr<MMSFUNC::MBDFMMSFieldBlock>(new (std::nothrow) MMSFUNC::MBDFMMSFieldBlock);
            if (!block || device->saveSetup(index, family, block.get()) < 0 || file.append(std::move(block)) < 0)
                return false;
        }
    }
    return true;
}

uint32_t versionOf(const FILECACHE::MBDF& file)
{
    const uint8_t* v = file.topField();
    if (!v)
        return 0;
    return uint32_t{v[0]} << 24 | uint32_t{v[1]} << 16 | uint32_t{v[2]} << 8 | uint32_t{v[3]};
}

const MMSFUNC::MBDFMMSFieldBlock* findRackBlock(const FILECACHE::MBDF& file)
{
    for (auto p = file.begin(); p != file.end(); p = file.next(p)) {
        const FILECACHE::MBDFAbstractBlock& block = file.blockAt(p);
        if (block.tag() == MMSFUNC::MBDF_MMS_FIELD_TAG && block.subName() == kProjSetup)
            return dynamic_cast<const MMSFUNC::MBDFMMSFieldBlock*>(&block);
    }
    return nullptr;
}

void mountRack(SetupRack& rack, const ProjSetup& setup, bool idsValid)
{
    for (int slot = 0; slot < kRackSlotCount; ++slot) {
        int32_t model = 0;
        int32_t unitId = 0;
        if (setup.get("Model", slot, &model) && setup.get("UnitID", slot, &unitId) && unitId == slot + 1
            && !rack.hasConnection(slot) && model != rack.modelType(slot))
            rack.mountModel(slot, model);
        int32_t deviceId = slot + 1;
        if (idsValid && !setup.get("DeviceID", slot, &deviceId))
            continue;
        rack.reportDeviceId(slot, deviceId);
    }
}

// The slot index a unit block belongs to, from its DataInfo; -1 when the
// block names none.
int unitSlotOf(const FILECACHE::MBDFAbstractBlock& block)
{
    ZMBDFMMSOptionData info;
    if (block.part1Size() == 0 || info.importData(block.part1Data(), static_cast<uint32_t>(block.part1Size())) < 0)
        return -1;
    JLIB::JVariant value;
    bool ok = false;
    if (info.getValue("DataInfo/UnitID", &value) < 0)
        return -1;
    const uint32_t unitId = value.toInteger(&ok);
    return ok && unitId >= 1 && unitId <= kRackSlotCount ? static_cast<int>(unitId) - 1 : -1;
}

// Hands every unit block on; false when a unit refused its block.
bool loadUnitBlocks(SetupRack& rack, const FILECACHE::MBDF& file)
{
    bool allTaken = true;
    for (auto p = file.begin(); p != file.end(); p = file.next(p)) {
        const FILECACHE::MBDFAbstractBlock& block = file.blockAt(p);
        if (block.tag() != MMSFUNC::MBDF_MMS_FIELD_TAG || !isKnownFamilyName(QString::fromStdString(block.subName())))
            continue;
        const int slot = unitSlotOf(block);
        if (slot < 0)
            continue;
        IZDev* device = rack.rackDevice(slot);
        if (!device || device->loadSetup(&block) < 0)
            allTaken = false;
    }
    return allTaken;
}

} // namespace

JResult saveProject(
    const SetupRack& rack, const QString& path, QString* errorText, const FILECACHE::MBDFAbortFlag* abortFlag)
{
    registerBlockFactories();
    FILECACHE::MBDF file(4);
    const QByteArray uuid = QUuid::createUuid().toRfc4122();
    if (file.setTop("Project", "Quillon", "\xD6\x06", uuid.constData(), static_cast<uint32_t>(uuid.size())) < 0)
        return fail(errorText, kTextUnknown);
    ProjSetup setup;
    if (!fillRack(rack, setup))
        return fail(errorText, kTextUnknown);
    auto rackBlock = std::unique_ptr<MMSFUNC::MBDFMMSFieldBlock>(new (std::nothrow) MMSFUNC::MBDFMMSFieldBlock);
    if (!rackBlock || rackBlock->setField(kProjSetup, setup.field(), kProjSetup) < 0
        || file.append(std::move(rackBlock)) < 0 || !appendUnitBlocks(rack, file))
        return fail(errorText, kTextUnknown);
    const JResult written = file.write(path.toUtf8().constData(), abortFlag, nullptr);
    if (written == FILECACHE::FCACHE_E_ABORTED)
        return written;
    if (written < 0)
        return fail(errorText, kTextUnknown);
    return 0;
}

JResult loadProject(SetupRack& rack, const QString& path, QString* errorText, bool* rackChanged)
{
    if (rackChanged)
        *rackChanged = false;
    registerBlockFactories();
    FILECACHE::MBDF file(4);
    if (file.read(path.toUtf8().constData(), true, nullptr, nullptr) < 0)
        return DEV_E_FAIL;
    if (!file.isKind("Project") || file.topName() != "Quillon")
        return fail(errorText, kTextDifferentKind);
    if (!file.isValid())
        return fail(errorText, kTextInvalid);
    const MMSFUNC::MBDFMMSFieldBlock* rackBlock = findRackBlock(file);
    if (!rackBlock)
        return fail(errorText, kTextDifferentKind);
    ProjSetup setup;
    if (!setup.field())
        return fail(errorText, kTextUnknown);
    if (setup.import(*rackBlock) < 0)
        return fail(errorText, kTextInvalid);

    if (rackChanged)
        *rackChanged = true;
    rack.unmountUnconnected();
    mountRack(rack, setup, versionOf(file) >= kProjectVersion);
    if (!loadUnitBlocks(rack, file))
        return fail(errorText, kTextInvalid);
    return 0;
}

} // namespace Quil
