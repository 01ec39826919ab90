// The memory side of one mounted unit: its parameter memory (fields,
// family memory object, family constructor), change notifier, meter store
// and address cache, offered through IZDev. A rack slot owns one while a
// model is mounted.
//
// Threads: the GUI thread and the unit's connection thread call IZDev at
// once. The memory is guarded by the unit's MMS locks, the notifier, meter
// store and address cache by their own.
#pragma once

#include "device/layouts/dev_devstate.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_addrarchiver.h"
#include "device/memory/dev_izdev.h"
#include "device/memory/dev_notifier.h"

#include <QObject>

#include <memory>

namespace Quil {

class MMSArchiver;
class MemMeters;
class ZMemConstructor;
class ZMemObject;

extern const char* const kPeakHoldPath;

class DevObject : public QObject, public IZDev {
    Q_OBJECT

public:
    DevObject(int slotIndex, ModelType deviceType, QObject* parent = nullptr);
    ~DevObject() override;
    DevObject(const DevObject&) = delete;
    DevObject& operator=(const DevObject&) = delete;

    ModelType deviceType() const { return m_deviceType; }
    int slotIndex() const { return m_slotIndex; }
    // Null when the definitions failed to load.
    ZMemObject* memory() const { return m_memory.get(); }
    MemNotifier& notifier() { return m_notifier; }
    const AddrArchiver& addresses() const { return m_addresses; }

    JResult setDeviceId(int deviceId) override;
    int deviceId() const override { return m_deviceId; }
    JResult setValue(const QString& path, const JLIB::JVariant& value, uint8_t source) override;
    JResult setRawValue(const QString& path, const JLIB::JVariant& value, uint8_t source) override;
    JResult getValue(const QString& path, JLIB::JVariant* out) override;
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
    MemMeters* meters() const override { return m_meters.get(); }
    JResult readChangeFlag(const QString& path, bool* changed, uint8_t source) override;
    bool hasChangeMarks(const QString& function, uint8_t source) const override;
    JResult changedElements(
        const QString& function, uint8_t source, size_t max, std::vector<MemAddress>* out) const override;
    const MemAddress* findAddress(const QString& path) const override;
    JResult getValueAt(const MemAddress& address, JLIB::JVariant* out) override;
    JResult setValueAt(const MemAddress& address, const JLIB::JVariant& value, uint8_t source) override;

public slots:
    // Re-applies "/Backup/MeterSetup:0/PeakHold:0" to every meter channel.
    JResult onPeakHoldChanged();

private:
    enum class WriteKind { Converted, Raw };
    JResult write(const QString& path, const JLIB::JVariant& value, uint8_t source, WriteKind kind);
    JResult write(const MemAddress& address, const JLIB::JVariant& value, uint8_t source, WriteKind kind);
    // ConnectionState reads as Connecting.
    bool isConnecting();
    void readInfoField(const char* path, QString* field);

    const ModelType m_deviceType;
    const int m_slotIndex;
    int m_deviceId = -1;
    QString m_address;
    uint16_t m_port = 0;
    // Destroyed last: the notifier and the cache (members, in reverse).
    AddrArchiver m_addresses;
    // The connection state's address, resolved once: every user-interface
    // write asks it.
    const MemAddress* m_connectionState = nullptr;
    MemNotifier m_notifier;
    // Released in the destructor in the documented order.
    std::unique_ptr<MemMeters> m_meters;
    std::unique_ptr<ZMemConstructor> m_constructor;
    std::unique_ptr<MMSArchiver> m_archiver;
    std::unique_ptr<ZMemObject> m_memory;
};

} // namespace Quil
