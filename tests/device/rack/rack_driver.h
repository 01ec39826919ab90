// Plays the rack owner of the device layer: every unit the discovery front
// finds gets a device object for its model type and a link bound to the
// local interface address; on demand it connects, disconnects, unmounts
// (links first, then device objects) and mounts again.
#pragma once

#include "device/discovery/dev_discovery.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/link/dev_comm.h"
#include "device/link/dev_scpdevice.h"
#include "device/memory/dev_memthread.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <mutex>

namespace racktest {

using namespace Quil;

struct Mounted {
    DeviceEntry entry;
    ModelType type = MODEL_NONE;
    int slot = -1;
    std::unique_ptr<DevObject> dev;
    std::unique_ptr<DevComm> comm; // goes before dev
};

class RackDriver : public QObject {
public:
    RackDriver(JsdpZDiscovery& discovery, const QString& localAddress, const DevCommTimings& timings)
        : m_discovery(discovery)
        , m_local(localAddress)
        , m_timings(timings)
    {
        connect(&discovery, &JsdpZDiscovery::foundServSignal, this, &RackDriver::onFound);
        connect(&discovery, &JsdpZDiscovery::lostServSignal, this, [this](QString key) { ++m_lost[key]; });
    }
    ~RackDriver() override { unmountAll(); }

    // Found and lost reports per key so far.
    int found(const QString& key) const { return m_found.count(key) ? m_found.at(key) : 0; }
    int lost(const QString& key) const { return m_lost.count(key) ? m_lost.at(key) : 0; }
    int foundTotal() const
    {
        int n = 0;
        for (const auto& entry : m_found)
            n += entry.second;
        return n;
    }

    std::map<QString, Mounted>& units() { return m_units; }
    Mounted* unit(const QString& key) { return m_units.count(key) ? &m_units.at(key) : nullptr; }
    // The mounted unit at this address, or null.
    Mounted* unitAt(const QString& address)
    {
        for (auto& [key, unit] : m_units) {
            if (unit.entry.address == address)
                return &unit;
        }
        return nullptr;
    }

    // Makes the unit's device object and link; false when the front does
    // not know the key or the model.
    bool mount(const QString& key)
    {
        Mounted m;
        if (m_discovery.findDevice(key, &m.entry) != DEV_OK)
            return false;
        m.type = modelTypeFromName(m.entry.model.toUtf8().constData());
        if (m.type == MODEL_NONE)
            return false;
        m.slot = m_slots.count(key) ? m_slots.at(key) : static_cast<int>(m_slots.size());
        m_slots[key] = m.slot;
        m.dev = std::make_unique<DevObject>(m.slot, m.type);
        m.dev->setAddress(m.entry.address, static_cast<uint16_t>(m.entry.port));
        m.comm = std::make_unique<DevComm>(nullptr, key, m.entry.address, static_cast<uint16_t>(m.entry.port),
            m.entry.model, m.type, m.slot, m_local, m_timings);
        if (m.comm->attachMemory(m.dev.get(), SOURCE_LINK) < 0)
            return false;
        m_units[key] = std::move(m);
        return true;
    }
    void connectUnit(const QString& key) { request(key, kConnectReqPath); }
    void disconnectUnit(const QString& key) { request(key, kDisconnectReqPath); }

    // Links first: a link never outlives the memory it writes.
    void unmount(const QString& key)
    {
        auto it = m_units.find(key);
        if (it == m_units.end())
            return;
        it->second.comm->detachMemory();
        it->second.comm.reset();
        it->second.dev.reset();
        m_units.erase(it);
    }
    void unmountAll()
    {
        for (auto& [key, unit] : m_units) {
            unit.comm->detachMemory();
            unit.comm.reset();
        }
        m_units.clear();
    }

    bool autoMount = true; // mount and connect each unit as it is found

private:
    void onFound(QString key)
    {
        ++m_found[key];
        if (autoMount && !m_units.count(key) && mount(key))
            connectUnit(key);
    }
    void request(const QString& key, const char* path)
    {
        if (Mounted* m = unit(key))
            m->dev->setValue(QString::fromLatin1(path), JLIB::JVariant(1), SOURCE_UI);
    }

    JsdpZDiscovery& m_discovery;
    const QString m_local;
    const DevCommTimings m_timings;
    std::map<QString, Mounted> m_units;
    std::map<QString, int> m_slots;
    std::map<QString, int> m_found;
    std::map<QString, int> m_lost;
};

} // namespace racktest
