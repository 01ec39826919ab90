#include "app/app_rackobject.h"

#include "device/memory/dev_object.h"

#include <new>

namespace Quil {

RackObject::RackObject(int slotIndex, QObject* parent)
    : QObject(parent)
    , m_slotIndex(slotIndex)
{
}

RackObject::~RackObject() = default;

JResult RackObject::setModel(ModelType type)
{
    if (type == MODEL_NONE) {
        m_device.reset();
        m_modelType = MODEL_NONE;
        return 0;
    }
    if (m_modelType != MODEL_NONE)
        return DEV_E_FAIL;
    // Only the known models have a device object; reporting success for an
    // empty slot would let callers believe a unit is mounted.
    if (!modelNameOf(type))
        return DEV_E_FAIL;
    m_device.reset(new (std::nothrow) DevObject(m_slotIndex, type));
    if (!m_device)
        return DEV_E_FAIL;
    m_device->setDeviceId(m_deviceId);
    m_modelType = type;
    return 0;
}

JResult RackObject::setDeviceId(int deviceId)
{
    m_deviceId = deviceId;
    return 0;
}

JResult RackObject::setValue(const QString& path, const JLIB::JVariant& value, uint8_t source)
{
    return m_device ? m_device->setValue(path, value, source) : DEV_E_FAIL;
}

JResult RackObject::setRawValue(const QString& path, const JLIB::JVariant& value, uint8_t source)
{
    return m_device ? m_device->setRawValue(path, value, source) : DEV_E_FAIL;
}

JResult RackObject::getValue(const QString& path, JLIB::JVariant* out)
{
    return m_device ? m_device->getValue(path, out) : DEV_E_FAIL;
}

JResult RackObject::getValueAt(const MemAddress& address, JLIB::JVariant* out)
{
    return m_device ? m_device->getValueAt(address, out) : DEV_E_FAIL;
}

JResult RackObject::setValueAt(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    return m_device ? m_device->setValueAt(address, value, source) : DEV_E_FAIL;
}

JResult RackObject::getMinimum(const QString& path, JLIB::JVariant* out)
{
    return m_device ? m_device->getMinimum(path, out) : DEV_E_FAIL;
}

JResult RackObject::getMaximum(const QString& path, JLIB::JVariant* out)
{
    return m_device ? m_device->getMaximum(path, out) : DEV_E_FAIL;
}

JResult RackObject::getDefault(const QString& path, JLIB::JVariant* out, bool nominal)
{
    return m_device ? m_device->getDefault(path, out, nominal) : DEV_E_FAIL;
}

JResult RackObject::loadSetup(const FILECACHE::MBDFAbstractBlock* block)
{
    return m_device ? m_device->loadSetup(block) : DEV_E_FAIL;
}

JResult RackObject::saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block)
{
    return m_device ? m_device->saveSetup(index, name, block) : DEV_E_FAIL;
}

int RackObject::setupBlockCount() const
{
    return m_device ? m_device->setupBlockCount() : 0;
}

JResult RackObject::subscribe(const QString& path, const QObject* receiver, int key, const char* slot)
{
    return m_device ? m_device->subscribe(path, receiver, key, slot) : DEV_E_FAIL;
}

JResult RackObject::unsubscribe(const QString& path, const QObject* receiver, int key, const char* slot)
{
    return m_device ? m_device->unsubscribe(path, receiver, key, slot) : DEV_E_FAIL;
}

JResult RackObject::connectMeter(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot)
{
    return m_device ? m_device->connectMeter(meter, channel, receiver, slot) : DEV_E_FAIL;
}

JResult RackObject::connectMeterData(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot)
{
    return m_device ? m_device->connectMeterData(meter, channel, receiver, slot) : DEV_E_FAIL;
}

JResult RackObject::getDeviceInfo(DevInfoRecord* out)
{
    return m_device ? m_device->getDeviceInfo(out) : DEV_E_FAIL;
}

JResult RackObject::setAddress(const QString& ipAddress, uint16_t port)
{
    return m_device ? m_device->setAddress(ipAddress, port) : DEV_E_FAIL;
}

MemMeters* RackObject::meters() const
{
    return m_device ? m_device->meters() : nullptr;
}

JResult RackObject::readChangeFlag(const QString& path, bool* changed, uint8_t source)
{
    return m_device ? m_device->readChangeFlag(path, changed, source) : DEV_E_FAIL;
}

bool RackObject::hasChangeMarks(const QString& function, uint8_t source) const
{
    return m_device && m_device->hasChangeMarks(function, source);
}

const MemAddress* RackObject::findAddress(const QString& path) const
{
    return m_device ? m_device->findAddress(path) : nullptr;
}

} // namespace Quil
