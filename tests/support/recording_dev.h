// Test helpers over real units: an offline rack (the process's memory
// thread and one device object per slot, no link) and a recording IZDev
// that passes every call to a slot's device object, counts the reads and
// the writes, and can refuse writes. Header only: programs that use it link
// the device layer.
#pragma once

#include "device/memory/dev_memthread.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"

#include <QString>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace qtest {

// Slots with offline-mounted units and the real memory thread.
class OfflineRack {
public:
    explicit OfflineRack(const std::vector<Quil::ModelType>& models)
    {
        memThread = Quil::createMemThread() == 0;
        for (size_t i = 0; i < models.size(); ++i)
            units.push_back(std::make_unique<Quil::DevObject>(static_cast<int>(i), models[i]));
    }
    ~OfflineRack()
    {
        units.clear();
        if (memThread)
            Quil::destroyMemThread();
    }
    OfflineRack(const OfflineRack&) = delete;
    OfflineRack& operator=(const OfflineRack&) = delete;

    Quil::DevObject& unit(size_t slot) { return *units.at(slot); }
    // A write as the device link makes it (source 2).
    JResult linkWrite(size_t slot, const char* path, int32_t value)
    {
        return units.at(slot)->setValue(QString::fromUtf8(path), JLIB::JVariant(value), Quil::SOURCE_LINK);
    }
    int read(size_t slot, const char* path)
    {
        JLIB::JVariant value;
        if (units.at(slot)->getValue(QString::fromUtf8(path), &value) < 0)
            return static_cast<int>(0x80000000u);
        return static_cast<int32_t>(value.toInteger());
    }

    bool memThread = false;
    std::vector<std::unique_ptr<Quil::DevObject>> units;
};

class RecordingDev : public Quil::IZDev {
public:
    explicit RecordingDev(Quil::IZDev* inner)
        : m_inner(inner)
    {
    }

    struct Write {
        std::string path;
        int32_t value;
        uint8_t source;
    };

    int reads = 0;
    std::map<std::string, int> readsOf; // getValue per path
    std::vector<Write> writes; // every write asked for, refused ones too
    bool refuseWrites = false;
    // Reads of these paths give the value, or fail (a unit reporting what
    // its layout does not allow, or an unreadable element).
    std::map<std::string, int32_t> forcedReads;
    std::set<std::string> failingReads;

    JResult setDeviceId(int deviceId) override { return m_inner->setDeviceId(deviceId); }
    int deviceId() const override { return m_inner->deviceId(); }
    JResult setValue(const QString& path, const JLIB::JVariant& value, uint8_t source) override
    {
        record(path, value, source);
        return refuseWrites ? Quil::DEV_E_FAIL : m_inner->setValue(path, value, source);
    }
    JResult setRawValue(const QString& path, const JLIB::JVariant& value, uint8_t source) override
    {
        record(path, value, source);
        return refuseWrites ? Quil::DEV_E_FAIL : m_inner->setRawValue(path, value, source);
    }
    JResult getValue(const QString& path, JLIB::JVariant* out) override
    {
        ++reads;
        const std::string key = path.toStdString();
        ++readsOf[key];
        if (failingReads.count(key) != 0)
            return Quil::DEV_E_FAIL;
        const auto forced = forcedReads.find(key);
        if (forced != forcedReads.end()) {
            *out = forced->second;
            return 0;
        }
        return m_inner->getValue(path, out);
    }
    JResult getMinimum(const QString& path, JLIB::JVariant* out) override
    {
        ++reads;
        return m_inner->getMinimum(path, out);
    }
    JResult getMaximum(const QString& path, JLIB::JVariant* out) override
    {
        ++reads;
        return m_inner->getMaximum(path, out);
    }
    JResult getDefault(const QString& path, JLIB::JVariant* out, bool nominal) override
    {
        ++reads;
        return m_inner->getDefault(path, out, nominal);
    }
    JResult loadSetup(const FILECACHE::MBDFAbstractBlock* block) override { return m_inner->loadSetup(block); }
    JResult saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block) override
    {
        return m_inner->saveSetup(index, name, block);
    }
    int setupBlockCount() const override { return m_inner->setupBlockCount(); }
    JResult subscribe(const QString& path, const QObject* receiver, int key, const char* slot) override
    {
        ++subscriptions;
        return m_inner->subscribe(path, receiver, key, slot);
    }
    JResult unsubscribe(const QString& path, const QObject* receiver, int key, const char* slot) override
    {
        ++unsubscriptions;
        return m_inner->unsubscribe(path, receiver, key, slot);
    }
    JResult connectMeter(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot) override
    {
        return m_inner->connectMeter(meter, channel, receiver, slot);
    }
    JResult connectMeterData(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot) override
    {
        return m_inner->connectMeterData(meter, channel, receiver, slot);
    }
    JResult getDeviceInfo(Quil::DevInfoRecord* out) override { return m_inner->getDeviceInfo(out); }
    JResult setAddress(const QString& ipAddress, uint16_t port) override
    {
        return m_inner->setAddress(ipAddress, port);
    }
    Quil::MemMeters* meters() const override { return m_inner->meters(); }
    JResult readChangeFlag(const QString& path, bool* changed, uint8_t source) override
    {
        return m_inner->readChangeFlag(path, changed, source);
    }
    const Quil::MemAddress* findAddress(const QString& path) const override { return m_inner->findAddress(path); }

    int subscriptions = 0;
    int unsubscriptions = 0;

private:
    void record(const QString& path, const JLIB::JVariant& value, uint8_t source)
    {
        writes.push_back({path.toStdString(), static_cast<int32_t>(value.toInteger()), source});
    }

    Quil::IZDev* m_inner;
};

} // namespace qtest
