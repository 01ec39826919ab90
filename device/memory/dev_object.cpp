#include "device/memory/dev_object.h"

#include "device/link/dev_family.h"
#include "device/link/dev_scpadapter.h"
#include "device/memory/dev_familymem.h"
#include "device/memory/dev_globaltimers.h"
#include "device/memory/dev_memconstructor.h"
#include "device/memory/dev_memobject.h"
#include "device/memory/dev_memthread.h"
#include "device/memory/dev_meters.h"
#include "device/memory/dev_mmsarchiver.h"
#include "pbd/jlib/jvariant.h"

#include <cstring>

namespace Quil {

const char* const kPeakHoldPath = "/Backup/MeterSetup:0/PeakHold:0";

namespace {

// The meters every unit has, whatever its family reports.
struct MeterSpec {
    const char* path;
    uint32_t channels;
};
constexpr MeterSpec kMeters[] = {{"Dev/InputLevel", 32}, {"Dev/OutputLevel", 24}, {"Dev/PhonesLevel", 2}};

QString valueText(const JLIB::JVariant& value)
{
    switch (value.type()) {
    case JLIB::JVARIANT_STRING:
        return QString::fromUtf8(value.getString());
    case JLIB::JVARIANT_INT32:
        return QString::number(static_cast<int32_t>(value.toInteger()));
    case JLIB::JVARIANT_UINT32:
        return QString::number(value.toInteger());
    case JLIB::JVARIANT_FLOAT:
        return QString::number(static_cast<double>(value.toFloat()));
    default:
        return QString();
    }
}

// The record's field for an information row; null for rows it does not show.
QString DevInfoRecord::*recordFieldOf(const char* tag)
{
    static const struct {
        const char* tag;
        QString DevInfoRecord::*field;
    } kFields[] = {
        {"runmode", &DevInfoRecord::runmode},
        {"error", &DevInfoRecord::error},
        {"protocolver", &DevInfoRecord::protocolver},
        {"paramsetver", &DevInfoRecord::paramsetver},
        {"version", &DevInfoRecord::version},
        {"productname", &DevInfoRecord::productname},
        {"manufacturer", &DevInfoRecord::manufacturer},
        {"category", &DevInfoRecord::category},
        {"deviceid", &DevInfoRecord::deviceid},
        {"devicename", &DevInfoRecord::devicename},
        {"inputport", &DevInfoRecord::inputport},
        {"outputport", &DevInfoRecord::outputport},
    };
    for (const auto& f : kFields)
        if (std::strcmp(f.tag, tag) == 0)
            return f.field;
    return nullptr;
}

} // namespace

DevObject::DevObject(int slotIndex, ModelType deviceType, QObject* parent)
    : QObject(parent)
    , m_deviceType(deviceType)
    , m_slotIndex(slotIndex)
{
    m_connectionState = m_addresses.resolve(QString::fromLatin1(kConnectionStatePath));
    m_meters = std::make_unique<MemMeters>();
    for (const MeterSpec& meter : kMeters)
        m_meters->addMeter(QString::fromLatin1(meter.path), meter.channels);
    if (QTimer* timer = meterTimer())
        connect(timer, &QTimer::timeout, m_meters.get(), &MemMeters::notify);

    m_archiver = std::make_unique<MMSArchiver>();
    m_constructor = createMemConstructor(deviceType);
    if (m_constructor && m_constructor->load(m_archiver.get()) >= 0) {
        m_memory.reset(createMemObject(deviceType, slotIndex, nullptr, m_archiver.get()));
        if (m_memory) {
            m_memory->setNotifier(&m_notifier);
            // Without a memory thread (tests, tools) the unit still works;
            // only the change walk is not woken.
            registerMemArchiver(m_archiver.get());
            registerMemListener(m_memory.get());
        }
    }

    onPeakHoldChanged();
    subscribe(QString::fromLatin1(kPeakHoldPath), this, SUBSCRIBE_KEY, SLOT(onPeakHoldChanged()));
}

DevObject::~DevObject()
{
    if (QTimer* timer = meterTimer())
        disconnect(timer, nullptr, m_meters.get(), nullptr);
    if (m_memory)
        unregisterMemListener(m_memory.get());
    m_memory.reset();
    m_archiver.reset();
    m_constructor.reset();
    m_meters.reset();
}

JResult DevObject::setDeviceId(int deviceId)
{
    m_deviceId = deviceId;
    return DEV_OK;
}

bool DevObject::isConnecting()
{
    JLIB::JVariant state;
    return m_connectionState && getValueAt(*m_connectionState, &state) >= 0
        && state.toInteger() == stateValue(ConnectionState::Connecting);
}

JResult DevObject::write(const QString& path, const JLIB::JVariant& value, uint8_t source, WriteKind kind)
{
    const MemAddress* address = m_addresses.resolve(path);
    return address ? write(*address, value, source, kind) : DEV_E_FAIL;
}

JResult DevObject::write(const MemAddress& address, const JLIB::JVariant& value, uint8_t source, WriteKind kind)
{
    // While the link negotiates or reads the unit, the user's edits would be
    // overwritten by what the unit holds: refuse them, but let the link's
    // own writes and the connection requests through.
    if (source == SOURCE_UI && address.function != "DevState" && isConnecting())
        return DEV_E_FAIL;
    if (!m_memory)
        return DEV_E_FAIL;
    return kind == WriteKind::Raw ? m_memory->setRawValue(address, value, source)
                                  : m_memory->setValue(address, value, source);
}

JResult DevObject::setValueAt(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
{
    return write(address, value, source, WriteKind::Converted);
}

JResult DevObject::getValueAt(const MemAddress& address, JLIB::JVariant* out)
{
    if (!m_memory || !out)
        return DEV_E_FAIL;
    return m_memory->getValue(address, out);
}

JResult DevObject::setValue(const QString& path, const JLIB::JVariant& value, uint8_t source)
{
    return write(path, value, source, WriteKind::Converted);
}

JResult DevObject::setRawValue(const QString& path, const JLIB::JVariant& value, uint8_t source)
{
    return write(path, value, source, WriteKind::Raw);
}

JResult DevObject::getValue(const QString& path, JLIB::JVariant* out)
{
    const MemAddress* address = m_addresses.resolve(path);
    if (!address || !m_memory || !out)
        return DEV_E_FAIL;
    return m_memory->getValue(*address, out);
}

JResult DevObject::getMinimum(const QString& path, JLIB::JVariant* out)
{
    const MemAddress* address = m_addresses.resolve(path);
    if (!address || !m_memory || !out)
        return DEV_E_FAIL;
    return m_memory->getMinimum(*address, out);
}

JResult DevObject::getMaximum(const QString& path, JLIB::JVariant* out)
{
    const MemAddress* address = m_addresses.resolve(path);
    if (!address || !m_memory || !out)
        return DEV_E_FAIL;
    return m_memory->getMaximum(*address, out);
}

JResult DevObject::getDefault(const QString& path, JLIB::JVariant* out, bool nominal)
{
    const MemAddress* address = m_addresses.resolve(path);
    if (!address || !m_memory || !out)
        return DEV_E_FAIL;
    return m_memory->getDefault(*address, out, nominal);
}

JResult DevObject::loadSetup(const FILECACHE::MBDFAbstractBlock* block)
{
    if (!m_memory || isConnecting())
        return DEV_E_FAIL;
    return m_memory->loadSetup(block);
}

JResult DevObject::saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block)
{
    return m_memory ? m_memory->saveSetup(index, name, block) : DEV_E_FAIL;
}

int DevObject::setupBlockCount() const
{
    return m_memory ? m_memory->setupBlockCount() : 0;
}

JResult DevObject::subscribe(const QString& path, const QObject* receiver, int key, const char* slot)
{
    if (key < 0)
        return DEV_E_FAIL;
    return m_notifier.subscribe(path, receiver, static_cast<uint32_t>(key), slot, Qt::QueuedConnection);
}

JResult DevObject::unsubscribe(const QString& path, const QObject* receiver, int key, const char* slot)
{
    if (key < 0 || !receiver || !slot)
        return DEV_E_FAIL;
    MemNotifierProxy* proxy = m_notifier.proxy(MemNotifier::proxyKey(path, static_cast<uint32_t>(key)));
    if (!proxy)
        return DEV_E_FAIL;
    return QObject::disconnect(proxy, SIGNAL(paramChanged(QString)), receiver, slot) ? DEV_OK : DEV_E_FAIL;
}

JResult DevObject::connectMeter(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot)
{
    if (!m_meters)
        return DEV_E_FAIL;
    return m_meters->connect(meter, channel, receiver, slot);
}

JResult DevObject::connectMeterData(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot)
{
    return connectMeter(meter, channel, receiver, slot);
}

void DevObject::readInfoField(const char* path, QString* field)
{
    JLIB::JVariant value;
    if (getValue(QString::fromLatin1(path), &value) >= 0)
        *field = valueText(value);
}

JResult DevObject::getDeviceInfo(DevInfoRecord* out)
{
    if (!out)
        return DEV_E_FAIL;
    if (!m_address.isNull()) {
        out->ipAddress = m_address;
        out->port = QString::number(m_port);
        out->deviceid = QString::number(m_slotIndex);
        int32_t count = 0;
        const ScpInfoRow* rows = infoRows(&count);
        for (int32_t i = 0; i < count; ++i) {
            if (QString DevInfoRecord::*field = recordFieldOf(rows[i].tag))
                readInfoField(rows[i].path, &(out->*field));
        }
    }
    if (m_address.isNull() || out->productname.isEmpty())
        out->productname = QString::fromLatin1(modelNameOf(m_deviceType));
    return DEV_OK;
}

JResult DevObject::setAddress(const QString& ipAddress, uint16_t port)
{
    m_address = ipAddress.isNull() ? QString(QLatin1String("")) : ipAddress;
    m_port = port;
    return DEV_OK;
}

JResult DevObject::readChangeFlag(const QString& path, bool* changed, uint8_t source)
{
    const MemAddress* address = m_addresses.resolve(path);
    if (!address || !m_memory || !changed)
        return DEV_E_FAIL;
    uint8_t flag = 0;
    const JResult r = m_memory->readChangeFlag(*address, &flag, source);
    *changed = r >= 0 && flag != 0;
    return r;
}

bool DevObject::hasChangeMarks(const QString& function, uint8_t source) const
{
    return m_memory && m_memory->hasChangeMarks(function, source);
}

JResult DevObject::changedElements(
    const QString& function, uint8_t source, size_t max, std::vector<MemAddress>* out) const
{
    return m_memory ? m_memory->changedElements(function, source, max, out) : DEV_E_FAIL;
}

const MemAddress* DevObject::findAddress(const QString& path) const
{
    return m_addresses.find(path);
}

JResult DevObject::onPeakHoldChanged()
{
    if (!m_meters || !m_memory)
        return DEV_E_FAIL;
    JLIB::JVariant value;
    const JResult r = getValue(QString::fromLatin1(kPeakHoldPath), &value);
    if (r < 0)
        return r;
    return m_meters->setPeakHold(value.toInteger() != 0);
}

} // namespace Quil
