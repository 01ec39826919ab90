#include "device/link/dev_comm.h"

#include <new>

namespace Quil {

DevComm::DevComm(QObject* parent, const QString& deviceKey, const QString& ip, uint16_t port, const QString& modelName,
    ModelType deviceType, int slotIndex, const QString& localAddress, const DevCommTimings& timings)
    : QObject(parent)
    , m_deviceKey(deviceKey)
    , m_ip(ip)
    , m_port(port)
    , m_modelName(modelName)
    , m_slotIndex(slotIndex)
    , m_localAddress(localAddress)
    , m_thread(new (std::nothrow) ScpClientThread(ip, port, localAddress, deviceType, timings))
{
    if (!m_thread)
        return;
    connect(m_thread.get(), &ScpClientThread::connected, this, &DevComm::connected);
    connect(m_thread.get(), &ScpClientThread::disconnected, this, &DevComm::disconnected);
}

DevComm::~DevComm() = default;

bool DevComm::isConnected()
{
    if (!m_thread)
        return false;
    return m_thread->withDevice([](ScpDevice& device) { return device.isConnected(); });
}

JResult DevComm::attachMemory(IZDev* device, int source)
{
    if (!m_thread)
        return 0;
    return m_thread->withDevice([&](ScpDevice& link) { return link.attachMemory(device, source); });
}

JResult DevComm::detachMemory()
{
    if (!m_thread)
        return 0;
    return m_thread->withDevice([](ScpDevice& device) { return device.detachMemory(); });
}

} // namespace Quil
