// The discovery front: starts the discovery engine on one interface with
// this program's own announcement, feeds the engine's reports into the
// process-wide recorder and re-emits the recorder's signals.
//
// Tasks: the engine's "JSDPSVC" (started here, once per process in effect)
// and the subscriber "JSDPSUBSCRIBE", which subscribes the recorder to the
// engine, pausing between tries, then sleeps until it is asked to stop.
// Create, start, stop and destroy the object on the application's thread;
// the OS wrapper and the socket service must already run.
#pragma once

#include "device/discovery/dev_recorder.h"
#include "pbd/jsdp/jsdp.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>

namespace Quil {

struct DiscoveryOptions {
    int ageingTickMs = kDefaultAgeingTickMs;
    int ageingTicks = kDefaultAgeingTicks;
    uint32_t announcePeriodMs = 3000; // the engine's own announcements
    int startWaitMs = 3000; // how long start waits for an engine still starting or closing
    uint32_t subscribeRetryMs = 50; // pause between subscription tries
};

// The own announcement: "Valdor", "Quillon", "J000" as length-prefixed strings.
constexpr size_t kOwnAnnouncementSize = 20;
const std::array<uint8_t, kOwnAnnouncementSize>& ownAnnouncement();

// The engine's channel for this host: an announcer on the interface's
// address with the maker's service type and the own announcement.
// JSDP_E_PARAM when the MAC is not six ':'-separated hex bytes or an address
// is not IPv4 text.
JsdpResult buildDiscoveryConfig(
    const QString& mac, const QString& address, const QString& netmask, uint32_t periodMs, JsdpChannelConfig* config);

class JsdpZDiscovery : public QObject {
    Q_OBJECT
public:
    explicit JsdpZDiscovery(QObject* parent = nullptr, const DiscoveryOptions& options = DiscoveryOptions());
    ~JsdpZDiscovery() override;
    JsdpZDiscovery(const JsdpZDiscovery&) = delete;
    JsdpZDiscovery& operator=(const JsdpZDiscovery&) = delete;

    // Opens the engine on the interface and starts ageing. Waits (at most
    // startWaitMs) while the engine is still starting or closing. JSDP_OK,
    // JSDP_E_PARAM for a configuration that cannot be built, else the
    // engine's refusal (JSDP_E_NOINIT, JSDP_E_STATE); nothing is started
    // then.
    JsdpResult start(const QString& mac, const QString& address, const QString& netmask);
    // Closes the engine, stops ageing and empties the tables without a signal.
    void stop();

    // DEV_OK, or DEV_E_FAIL when the key is not in the table.
    JResult findDevice(const QString& key, DeviceEntry* entry) const;
    void devices(QMap<QString, DeviceEntry>* out) const;

    ScpRecorder* recorder() const { return m_recorder.data(); }

signals:
    void foundServSignal(QString serviceName);
    void lostServSignal(QString serviceName);
    // kept: callers and files use this name.
    void foundDeplicateIPDevSignal(QString serviceName, QString duplicateDevName, QString ipAddr);

public slots:
    void foundServSlot(QString serviceName);
    void lostServSlot(QString serviceName);
    void foundDeplicateIPDevSlot(QString serviceName, QString duplicateDevName, QString ipAddr);

private:
    static void subscriberTask(void* argument);
    bool startSubscriber();
    void stopSubscriber();

    const DiscoveryOptions m_options;
    // Gone with the application object; the engine keeps the plain pointer
    // (the recorder unsubscribes itself when it goes).
    QPointer<ScpRecorder> m_recorder;
    ScpRecorder* const m_context;
    uint16_t m_subscriber = 0; // task id, 0 when none
};

} // namespace Quil
