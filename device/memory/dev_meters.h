// The meter store of one unit: per meter path ("Dev/InputLevel") one
// MemMeter, per channel one MemMeterData. The device link feeds meter bytes
// from its connection thread; the 50 ms meter timer calls notify() on the GUI
// thread, which reports each channel's highest level since the last tick.
//
// A meter byte carries the level in bits 0-6 and an over flag in bit 7; the
// two are held apart, so 0x85 then 0x10 within one tick shows 0x90.
#pragma once

#include "device/memory/dev_result.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Quil {

class MemMeterData : public QObject {
    Q_OBJECT

public:
    MemMeterData() = default;

    void update(uint8_t byte);
    void setPeakHold(bool on);
    // Clears the levels and peaks; peak hold keeps its setting.
    void reset();

    uint8_t level() const { return m_level; }
    uint8_t over() const { return m_over; }
    uint8_t peakLevel() const { return m_peakLevel; }
    uint8_t peakOver() const { return m_peakOver; }
    bool peakHold() const { return m_peakHold; }

public slots:
    // Emits notifyData(peak, data); the next byte starts afresh.
    void notify();

signals:
    void notifyData(uint8_t peakData, uint8_t data);

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    // Set by a connection to notifyData; after a disconnection (a receiver
    // that went) the next notify asks Qt whether any is left. So the tick
    // passes over the channels nobody shows (most of a rack's 1392) and
    // emits to the shown ones without asking Qt for receivers first.
    std::atomic<bool> m_listened{false};
    std::atomic<bool> m_recheck{false};
    uint8_t m_level = 0;
    uint8_t m_over = 0;
    uint8_t m_peakLevel = 0;
    uint8_t m_peakOver = 0;
    bool m_peakHold = false;
    bool m_resetPending = false;
};

class MemMeter : public QObject {
    Q_OBJECT

public:
    explicit MemMeter(uint32_t channels);

    uint32_t channelCount() const { return static_cast<uint32_t>(m_channels.size()); }
    MemMeterData* channel(uint32_t index) const;
    // Feeds min(count, channels) bytes to the channels in order.
    void update(const uint8_t* bytes, uint32_t count);
    void setPeakHold(bool on);
    void reset();

public slots:
    void notify();

private:
    std::vector<std::unique_ptr<MemMeterData>> m_channels;
};

// Every operation holds the store's lock for its whole run.
class MemMeters : public QObject {
    Q_OBJECT

public:
    explicit MemMeters(QObject* parent = nullptr);
    ~MemMeters() override;

    // DEV_E_FAIL when the path is taken.
    JResult addMeter(const QString& path, uint32_t channels);
    // DEV_E_FAIL for an unknown path or null bytes.
    JResult update(const QString& path, const uint8_t* bytes, uint32_t count);
    // The meter of a path, or null; it lives as long as the store, so a
    // feeder can look it up once and update it by pointer.
    MemMeter* meter(const QString& path) const;
    // DEV_E_FAIL for a null meter or null bytes.
    JResult update(MemMeter* meter, const uint8_t* bytes, uint32_t count);
    // Connects a channel's notifyData(uint8_t,uint8_t) to the receiver's slot
    // (automatic type). DEV_E_FAIL for an unknown path, a channel out of
    // range or a refused connection.
    JResult connect(const QString& path, uint32_t channel, const QObject* receiver, const char* slot);
    JResult resetAll();
    JResult setPeakHold(bool on);

public slots:
    // Every channel of every meter, in path order.
    void notify();

private:
    MemMeter* find(const QString& path) const;

    mutable std::recursive_mutex m_lock;
    std::map<QString, std::unique_ptr<MemMeter>> m_meters;
};

} // namespace Quil
