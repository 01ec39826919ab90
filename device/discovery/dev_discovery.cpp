#include "device/discovery/dev_discovery.h"

#include "pbd/OSWRAP/oswrap.h"

#include <QStringList>

#include <chrono>
#include <cstring>
#include <thread>

namespace Quil {

namespace {

// Wake bits of the subscriber task besides its stop request; nobody sets
// them today, a wake-up without the stop request just waits again.
constexpr uint32_t kSubscriberFlags = 0xE0000;
constexpr uint32_t kRetryStepMs = 10;

bool parseMac(const QString& text, uint8_t mac[6])
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint value = parts[i].toUInt(&ok, 16);
        if (!ok || parts[i].isEmpty() || parts[i].size() > 2 || value > 0xFF)
            return false;
        mac[i] = static_cast<uint8_t>(value);
    }
    return true;
}

bool parseIpv4(const QString& text, VSockAddress* address)
{
    const QByteArray latin = text.toLatin1();
    return !text.isEmpty() && vsock_textToAddress(VSOCK_FAMILY_IPV4, latin.constData(), address) == VSOCK_OK;
}

// True while the engine may still become ready for an open: not set up yet,
// or opening or closing. A refusal because it is already open is final.
bool engineSettling(JsdpResult rc)
{
    if (rc == JSDP_E_NOINIT)
        return true;
    return rc == JSDP_E_STATE && jsdp_getState() != JSDP_STATE_RUNNING;
}

template <typename Pred> bool waitUntil(Pred pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryStepMs));
    }
    return true;
}

} // namespace

const std::array<uint8_t, kOwnAnnouncementSize>& ownAnnouncement()
{
    static const std::array<uint8_t, kOwnAnnouncementSize> block = [] {
        std::array<uint8_t, kOwnAnnouncementSize> b{};
        size_t at = 0;
        for (const char* text : {kScpMaker, "Quillon", "J000"}) {
            const size_t length = std::strlen(text);
            b[at++] = static_cast<uint8_t>(length);
            std::memcpy(b.data() + at, text, length);
            at += length;
        }
        return b;
    }();
    return block;
}

JsdpResult buildDiscoveryConfig(
    const QString& mac, const QString& address, const QString& netmask, uint32_t periodMs, JsdpChannelConfig* config)
{
    JsdpChannelConfig c;
    c.mode = 1;
    if (!parseMac(mac, c.ownMac) || !parseIpv4(address, &c.ownAddress) || !parseIpv4(netmask, &c.netmask)
        || periodMs == 0)
        return JSDP_E_PARAM;
    c.addressKind = JSDP_ADDRESS_KIND_IPV4;
    c.port = JSDP_DEFAULT_PORT;
    vsock_textToAddress(VSOCK_FAMILY_IPV4, JSDP_DEFAULT_GROUP, &c.group);
    c.serviceType = JSDP_SERVICE_TYPE_SCP;
    c.serviceTypeLength = static_cast<uint8_t>(std::strlen(JSDP_SERVICE_TYPE_SCP));
    c.periodMs = periodMs;
    c.payload = ownAnnouncement().data();
    c.payloadLength = static_cast<uint16_t>(ownAnnouncement().size());
    *config = c;
    return JSDP_OK;
}

JsdpZDiscovery::JsdpZDiscovery(QObject* parent, const DiscoveryOptions& options)
    : QObject(parent)
    , m_options(options)
    , m_recorder(ScpRecorder::instance())
    , m_context(m_recorder.data())
{
    jsdp_startService();
    if (!m_recorder)
        return;
    m_recorder->setAgeing(m_options.ageingTickMs, m_options.ageingTicks);
    startSubscriber();
    // Queued even on this thread: the recorder emits with its mutex held,
    // and a receiver may well ask for the device table.
    connect(m_recorder.data(), &ScpRecorder::foundDev, this, &JsdpZDiscovery::foundServSlot, Qt::QueuedConnection);
    connect(m_recorder.data(), &ScpRecorder::lostDev, this, &JsdpZDiscovery::lostServSlot, Qt::QueuedConnection);
    connect(m_recorder.data(), &ScpRecorder::foundDuplicateIPDev, this, &JsdpZDiscovery::foundDeplicateIPDevSlot,
        Qt::QueuedConnection);
}

JsdpZDiscovery::~JsdpZDiscovery()
{
    stopSubscriber();
    // After this returns the engine calls the recorder no more.
    if (m_context)
        jsdp_unsubscribe(&ScpRecorder::onService, m_context);
    // Let the engine finish closing before its task stops, so that a later
    // task finds it ready to open again; also when stop() asked it to close
    // already and this close is refused as busy.
    jsdp_close();
    waitUntil([] { return jsdp_getState() != JSDP_STATE_CLOSING; }, m_options.startWaitMs);
    if (m_recorder) {
        m_recorder->stopAgeingTimer();
        m_recorder->clear();
    }
    jsdp_stopService();
}

JsdpResult JsdpZDiscovery::start(const QString& mac, const QString& address, const QString& netmask)
{
    JsdpChannelConfig config;
    JsdpResult rc = buildDiscoveryConfig(mac, address, netmask, m_options.announcePeriodMs, &config);
    if (rc != JSDP_OK)
        return rc;
    if (!m_recorder)
        return JSDP_E_NOINIT;
    // Right after construction the engine may not be set up yet, right
    // after stop it may still be closing: both pass within moments.
    waitUntil(
        [&] {
            rc = jsdp_open(&config, 1);
            return !engineSettling(rc);
        },
        m_options.startWaitMs);
    if (rc != JSDP_OK)
        return rc;
    m_recorder->startAgeingTimer();
    return JSDP_OK;
}

void JsdpZDiscovery::stop()
{
    jsdp_close(); // not under the recorder's mutex: the engine's lock comes first
    if (!m_recorder)
        return;
    m_recorder->stopAgeingTimer();
    m_recorder->clear();
}

JResult JsdpZDiscovery::findDevice(const QString& key, DeviceEntry* entry) const
{
    return m_recorder ? m_recorder->findDevice(key, entry) : DEV_E_FAIL;
}

void JsdpZDiscovery::devices(QMap<QString, DeviceEntry>* out) const
{
    if (out)
        *out = m_recorder ? m_recorder->devices() : QMap<QString, DeviceEntry>();
}

void JsdpZDiscovery::foundServSlot(QString serviceName)
{
    emit foundServSignal(serviceName);
}

void JsdpZDiscovery::lostServSlot(QString serviceName)
{
    emit lostServSignal(serviceName);
}

void JsdpZDiscovery::foundDeplicateIPDevSlot(QString serviceName, QString duplicateDevName, QString ipAddr)
{
    emit foundDeplicateIPDevSignal(serviceName, duplicateDevName, ipAddr);
}

void JsdpZDiscovery::subscriberTask(void* argument)
{
    const auto* self = static_cast<const JsdpZDiscovery*>(argument);
    uint32_t pattern = 0;
    // The engine refuses while it is not set up; pause between tries and
    // leave at once on the stop request.
    while (jsdp_subscribe(&ScpRecorder::onService, self->m_context) != JSDP_OK) {
        if (oswrap_waitTaskFlags(&pattern, kSubscriberFlags, self->m_options.subscribeRetryMs) == OSWRAP_E_STOP) {
            oswrap_exitTask();
            return;
        }
    }
    while (oswrap_waitTaskFlags(&pattern, kSubscriberFlags, OSWRAP_WAIT_FOREVER) != OSWRAP_E_STOP) { }
    oswrap_exitTask();
}

bool JsdpZDiscovery::startSubscriber()
{
    OswrapTaskAttr attr;
    attr.entry = &JsdpZDiscovery::subscriberTask;
    attr.priority = 12;
    attr.stackSize = 4096;
    attr.name = "JSDPSUBSCRIBE";
    uint16_t id = 0;
    if (oswrap_createTask(&id, &attr) != OSWRAP_OK)
        return false;
    if (oswrap_startTask(id, this) != OSWRAP_OK) {
        oswrap_deleteTask(id);
        return false;
    }
    m_subscriber = id;
    return true;
}

void JsdpZDiscovery::stopSubscriber()
{
    if (m_subscriber == 0)
        return;
    oswrap_terminateTask(m_subscriber);
    oswrap_deleteTask(m_subscriber);
    m_subscriber = 0;
}

} // namespace Quil
