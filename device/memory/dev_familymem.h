// The memory objects of the three unit families. Each knows its family's
// rules: which user-interface writes are refused, which values are
// converted on the way in, what goes into a setup file and what may come
// back from one.
//
// Marking per function (key 1 the user interface, key 2 the device link):
//   Event      keys 1, 2   sources 1 and 2 mark the other key only
//   DevInfo    key 1       never sent to the unit
//   the rest   keys 1, 2   source 2 marks key 1 only; source 1 both
#pragma once

#include "device/layouts/dev_layouts.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_memconstructor.h"
#include "device/memory/dev_memobject.h"

namespace Quil {

// What the families share: slot, model type and the accessor set-up.
class FamilyMemObject : public ZMemObject {
    Q_OBJECT

public:
    int slotIndex() const { return m_slotIndex; }
    ModelType deviceType() const { return m_deviceType; }

    JResult initAccessors(MMSArchiver* archiver) override;

protected:
    FamilyMemObject(
        const FamilyLayout& layout, int slotIndex, ModelType deviceType, QObject* parent, MMSArchiver* archiver);

    // Writes the function's image into the block, and with familyText the
    // DataInfo record as its option data.
    JResult saveFunction(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block, const char* function,
        const char* familyText);
    // Checks the block's DataInfo (familyText, a model accepted by
    // acceptsModel, version and unit id present) and imports its image into
    // "Backup", the one function saveFunction writes with DataInfo. Any
    // other function named by the block is refused.
    JResult loadBackup(const FILECACHE::MBDFAbstractBlock* block, const char* familyText);
    virtual bool acceptsModel(ModelType type) const = 0;

    // ConnectionState reads and is not Connected.
    bool readsNotConnected() const;

private:
    const FamilyLayout& m_layout;
    int m_slotIndex;
    ModelType m_deviceType;
};

// Brox and Pell units (every model type but 5 and 6).
class BroxMemObject final : public FamilyMemObject {
    Q_OBJECT

public:
    BroxMemObject(int slotIndex, ModelType deviceType, QObject* parent, MMSArchiver* archiver);

    // Source 1 writes to a converted parameter ("GainCompOn") go through
    // its conversion.
    JResult setValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source) override;
    // Refuses source-1 writes to the unit-owned values of "Current".
    JResult setRawValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source) override;
    JResult loadSetup(const FILECACHE::MBDFAbstractBlock* block) override;
    JResult saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block) override;
    // "/Backup/InCh/HAGain" is nominally 0; the rest per definition.
    JResult getNominal(const MemAddress& address, JLIB::JVariant* out) override;

    // Switching gain compensation swaps the channel's head-amp and
    // compensation gains.
    JResult convertGainComp(const MemAddress& address, const JLIB::JVariant& value, uint8_t source);

protected:
    bool acceptsModel(ModelType type) const override;
};

// Mavik units: source-1 writes only while connected and not in "WGM" mode.
class MavikMemObject final : public FamilyMemObject {
    Q_OBJECT

public:
    MavikMemObject(int slotIndex, QObject* parent, MMSArchiver* archiver);

    JResult setRawValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source) override;
    // Nothing is read back from a setup file.
    JResult loadSetup(const FILECACHE::MBDFAbstractBlock* block) override;
    // The "Current" function, without DataInfo.
    JResult saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block) override;

protected:
    bool acceptsModel(ModelType type) const override;
};

// Sorn units: source-1 writes only while connected, except to "DevState"
// and the user patch in "Backup".
class SornMemObject final : public FamilyMemObject {
    Q_OBJECT

public:
    SornMemObject(int slotIndex, QObject* parent, MMSArchiver* archiver);

    // Then the initial user patch: source (i + 64) mod 128 for output i.
    JResult initAccessors(MMSArchiver* archiver) override;
    JResult setRawValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source) override;
    JResult loadSetup(const FILECACHE::MBDFAbstractBlock* block) override;
    JResult saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block) override;

protected:
    bool acceptsModel(ModelType type) const override;
};

} // namespace Quil
