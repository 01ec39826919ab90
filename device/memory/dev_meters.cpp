#include "device/memory/dev_meters.h"

#include <QMetaMethod>
#include <QMetaType>

#include <algorithm>

namespace Quil {

namespace {

constexpr uint8_t kLevelBits = 0x7F;
constexpr uint8_t kOverBit = 0x80;

const QMetaMethod& notifyDataSignal()
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&MemMeterData::notifyData);
    return signal;
}

} // namespace

void MemMeterData::update(uint8_t byte)
{
    if (m_resetPending) {
        m_level = 0;
        m_over = 0;
        m_resetPending = false;
    }
    m_level = std::max<uint8_t>(m_level, byte & kLevelBits);
    m_over = std::max<uint8_t>(m_over, byte & kOverBit);
    if (m_peakHold) {
        m_peakLevel = std::max<uint8_t>(m_peakLevel, byte & kLevelBits);
        m_peakOver = std::max<uint8_t>(m_peakOver, byte & kOverBit);
    }
}

void MemMeterData::connectNotify(const QMetaMethod& signal)
{
    if (signal == notifyDataSignal())
        m_listened.store(true, std::memory_order_relaxed);
}

void MemMeterData::disconnectNotify(const QMetaMethod& signal)
{
    // An invalid method stands for a disconnection of every signal.
    if (!signal.isValid() || signal == notifyDataSignal())
        m_recheck.store(true, std::memory_order_relaxed);
}

void MemMeterData::notify()
{
    if (m_listened.load(std::memory_order_relaxed)) {
        const bool recheck
            = m_recheck.load(std::memory_order_relaxed) && m_recheck.exchange(false, std::memory_order_relaxed);
        if (recheck && !isSignalConnected(notifyDataSignal()))
            m_listened.store(false, std::memory_order_relaxed);
        else
            emit notifyData(static_cast<uint8_t>(m_peakLevel | m_peakOver), static_cast<uint8_t>(m_level | m_over));
    }
    m_resetPending = true;
}

void MemMeterData::setPeakHold(bool on)
{
    if (on != m_peakHold) {
        m_peakLevel = 0;
        m_peakOver = 0;
    }
    m_peakHold = on;
}

void MemMeterData::reset()
{
    m_level = 0;
    m_over = 0;
    m_peakLevel = 0;
    m_peakOver = 0;
    m_resetPending = false;
}

MemMeter::MemMeter(uint32_t channels)
{
    m_channels.reserve(channels);
    for (uint32_t i = 0; i < channels; ++i)
        m_channels.push_back(std::make_unique<MemMeterData>());
}

MemMeterData* MemMeter::channel(uint32_t index) const
{
    return index < m_channels.size() ? m_channels[index].get() : nullptr;
}

void MemMeter::update(const uint8_t* bytes, uint32_t count)
{
    const size_t n = std::min<size_t>(count, m_channels.size());
    for (size_t i = 0; i < n; ++i)
        m_channels[i]->update(bytes[i]);
}

void MemMeter::setPeakHold(bool on)
{
    for (const auto& channel : m_channels)
        channel->setPeakHold(on);
}

void MemMeter::reset()
{
    for (const auto& channel : m_channels)
        channel->reset();
}

void MemMeter::notify()
{
    for (const auto& channel : m_channels)
        channel->notify();
}

MemMeters::MemMeters(QObject* parent)
    : QObject(parent)
{
    // Receivers on other threads get the two bytes through a queued call.
    qRegisterMetaType<uint8_t>("uint8_t");
}

MemMeters::~MemMeters() = default;

MemMeter* MemMeters::find(const QString& path) const
{
    const auto it = m_meters.find(path);
    return it == m_meters.end() ? nullptr : it->second.get();
}

JResult MemMeters::addMeter(const QString& path, uint32_t channels)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (find(path))
        return DEV_E_FAIL;
    m_meters.emplace(path, std::make_unique<MemMeter>(channels));
    return DEV_OK;
}

JResult MemMeters::update(const QString& path, const uint8_t* bytes, uint32_t count)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    MemMeter* meter = find(path);
    if (!meter || !bytes)
        return DEV_E_FAIL;
    meter->update(bytes, count);
    return DEV_OK;
}

MemMeter* MemMeters::meter(const QString& path) const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return find(path);
}

JResult MemMeters::update(MemMeter* meter, const uint8_t* bytes, uint32_t count)
{
    if (!meter || !bytes)
        return DEV_E_FAIL;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    meter->update(bytes, count);
    return DEV_OK;
}

JResult MemMeters::connect(const QString& path, uint32_t channel, const QObject* receiver, const char* slot)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    MemMeter* meter = find(path);
    MemMeterData* data = meter ? meter->channel(channel) : nullptr;
    if (!data || !receiver || !slot)
        return DEV_E_FAIL;
    const bool connected
        = QObject::connect(data, SIGNAL(notifyData(uint8_t, uint8_t)), receiver, slot, Qt::AutoConnection);
    return connected ? DEV_OK : DEV_E_FAIL;
}

JResult MemMeters::resetAll()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const auto& entry : m_meters)
        entry.second->reset();
    return DEV_OK;
}

JResult MemMeters::setPeakHold(bool on)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const auto& entry : m_meters)
        entry.second->setPeakHold(on);
    return DEV_OK;
}

void MemMeters::notify()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const auto& entry : m_meters)
        entry.second->notify();
}

} // namespace Quil
