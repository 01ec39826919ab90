// The table of the maker's units that are present on the chosen interface.
//
// The discovery engine calls `ScpRecorder::onService` for every service it
// hears (alive) or that went silent (gone). The recorder keeps the
// announcements of known models from the maker, keyed by unit id and MAC,
// and ages a unit reported gone in ticks, dropping it after `ageingTicks`
// ticks unless it is announced again.
//
// Threads: the engine calls onService on its task with its main lock held
// (the replay at subscription runs on the subscribing task); the tick and
// the readers run on the recorder's (GUI) thread. One mutex guards both
// tables and is held while the signals are emitted, so connect to them
// queued: a slot that runs while the mutex is held must not call back in.
// Lock order: the engine's main lock before this mutex; never open, close
// or subscribe to the engine while holding it.
#pragma once

#include "device/memory/dev_result.h"
#include "pbd/jsdp/jsdp.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <mutex>

namespace Quil {

constexpr int32_t kScpPort = 49280; // the units' SCP port; announcements do not carry one
constexpr const char* kScpMaker = "Valdor";
constexpr char kUnitIdPrefix = 'J';
constexpr int kDefaultAgeingTickMs = 1000;
constexpr int kDefaultAgeingTicks = 10;

// One announcement of a unit, parsed.
class ScpHostInfo {
public:
    virtual ~ScpHostInfo() = default;

    QString mac; // "00:1a:..." lower-case
    QString address; // dotted IPv4
    QString model;
    QString maker;
    QString unitId; // as announced, "J01F"
    int32_t port = kScpPort;
    uint16_t id = 0; // the unit id read from unitId
};

// The value of the recorder's device table.
struct DeviceEntry {
    QString key;
    QString unitId;
    QString address;
    int32_t port = kScpPort;
    QString model;
    uint16_t id = 0;
};

// "<unit-id text>-<MAC text>"; the MAC part is the text after the first '-'.
QString deviceKey(const QString& unitId, const QString& mac);
QString macPartOfKey(const QString& key);

// A unit-id text: the prefix 'J' in either case, then one or more hex digits
// whose value fits 16 bits. False for anything else, overflow included.
bool parseUnitId(const QString& text, uint16_t* id);

// The announcement of one of the maker's units of a known model: an IPv4
// record of the service type "_jpa-scp" (length 8) whose text block holds
// three length-prefixed strings (maker, model, unit id) with a valid unit id.
// False, with *host untouched in meaning, for anything else.
bool parseScpHost(const JsdpService& service, ScpHostInfo* host);

class ScpRecorder : public QObject {
    Q_OBJECT
public:
    explicit ScpRecorder(QObject* parent = nullptr);
    ~ScpRecorder() override;

    // The process-wide recorder, made on first use as a child of the
    // application object (and gone with it); null while no application
    // object exists. Call it first on the application's thread.
    static ScpRecorder* instance();

    // The engine's subscriber callback; `context` is the recorder.
    static void onService(const JsdpService* service, int alive, void* context);

    // The ageing tick and the number of ticks after which a unit reported
    // gone is dropped; applies from the next start of the timer.
    void setAgeing(int tickMs, int ticks);

    JResult findDevice(const QString& key, DeviceEntry* entry) const;
    QMap<QString, DeviceEntry> devices() const;
    QMap<QString, int> ageingCounts() const;

    // DEV_E_FAIL when the timer already is in the asked state.
    JResult startAgeingTimer();
    JResult stopAgeingTimer();
    bool isAgeingTimerRunning() const { return m_timerRunning; }
    // Empties both tables without a signal.
    void clear();

signals:
    void foundDev(QString keyname);
    void lostDev(QString keyname);
    void foundDuplicateIPDev(QString keyname, QString duplicateDevName, QString ipAddr);

public slots:
    // One ageing tick.
    void removeCheckTime();

private:
    // The steps below run with m_lock held.
    void record(const QByteArray& origin, const ScpHostInfo& host, bool alive);
    void addOrRefresh(const ScpHostInfo& host);
    void startAgeing(const ScpHostInfo& host);
    void removeDevice(const QString& key);
    QString keyWithAddress(const QString& address) const;
    QString keyWithMac(const QString& mac) const;
    // Takes in again the units still announcing that a conflict of
    // addresses had evicted, once no other announcement claims their address.
    void placeEvictedUnits();

    // The announcements the engine holds alive now, by where they came from.
    // The engine reports a record only when it changes, so an evicted unit
    // that keeps announcing is found again from here.
    QMap<QByteArray, ScpHostInfo> m_heard;

    mutable std::mutex m_lock;
    QMap<QString, DeviceEntry> m_devices;
    QMap<QString, int> m_ageing;
    QTimer m_timer;
    bool m_timerRunning = false;
    int m_tickMs = kDefaultAgeingTickMs;
    int m_ticks = kDefaultAgeingTicks;
};

} // namespace Quil
