// One of the 24 rack slots. It stands for the unit that belongs in the slot
// whether or not a model is mounted: panels and controllers keep the slot's
// IZDev, and every operation reaches the mounted device object, or gives the
// empty-slot answer.
#pragma once

#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_izdev.h"

#include <QObject>

#include <memory>

namespace Quil {

class DevObject;

class RackObject : public QObject, public IZDev {
    Q_OBJECT

public:
    explicit RackObject(int slotIndex, QObject* parent = nullptr);
    ~RackObject() override;
    RackObject(const RackObject&) = delete;
    RackObject& operator=(const RackObject&) = delete;

    int slotIndex() const { return m_slotIndex; }
    ModelType modelType() const { return m_modelType; }
    // Type 0 unmounts. Another type mounts a new device object that takes the
    // slot's device id; DEV_E_FAIL when a model is already mounted or no
    // device object can be made for the type (the slot stays empty).
    JResult setModel(ModelType type);

    // Kept by the slot itself, never forwarded.
    JResult setDeviceId(int deviceId) override;
    int deviceId() const override { return m_deviceId; }

    JResult setValue(const QString& path, const JLIB::JVariant& value, uint8_t source) override;
    JResult setRawValue(const QString& path, const JLIB::JVariant& value, uint8_t source) override;
    JResult getValue(const QString& path, JLIB::JVariant* out) override;
    JResult getValueAt(const MemAddress& address, JLIB::JVariant* out) override;
    JResult setValueAt(const MemAddress& address, const JLIB::JVariant& value, uint8_t source) override;
    JResult getMinimum(const QString& path, JLIB::JVariant* out) override;
    JResult getMaximum(const QString& path, JLIB::JVariant* out) override;
    JResult getDefault(const QString& path, JLIB::JVariant* out, bool nominal) override;
    JResult loadSetup(const FILECACHE::MBDFAbstractBlock* block) override;
    JResult saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block) override;
    int setupBlockCount() const override;
    JResult subscribe(const QString& path, const QObject* receiver, int key, const char* slot) override;
    JResult unsubscribe(const QString& path, const QObject* receiver, int key, const char* slot) override;
    JResult connectMeter(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot) override;
    JResult connectMeterData(
        const QString& meter, uint32_t channel, const QObject* receiver, const char* slot) override;
    JResult getDeviceInfo(DevInfoRecord* out) override;
    JResult setAddress(const QString& ipAddress, uint16_t port) override;
    MemMeters* meters() const override;
    JResult readChangeFlag(const QString& path, bool* changed, uint8_t source) override;
    bool hasChangeMarks(const QString& function, uint8_t source) const override;
    const MemAddress* findAddress(const QString& path) const override;

private:
    const int m_slotIndex;
    int m_deviceId = -1;
    ModelType m_modelType = MODEL_NONE;
    std::unique_ptr<DevObject> m_device;
};

} // namespace Quil
