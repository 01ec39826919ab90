#include "device/discovery/dev_recorder.h"

#include "device/layouts/dev_modeltypes.h"
#include "pbd/jlib/jlib_text.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>

namespace Quil {

namespace {

constexpr uint8_t kServiceTypeLength = 8;

// The string of one length byte and its characters at *at; false when it
// runs past the block.
bool takeString(const uint8_t* block, size_t size, size_t* at, std::string* out)
{
    if (*at >= size)
        return false;
    const size_t length = block[*at];
    if (length > size - *at - 1)
        return false;
    out->assign(reinterpret_cast<const char*>(block + *at + 1), length);
    *at += 1 + length;
    return true;
}

// A model name with a device type; the name must match whole (an embedded
// NUL must not shorten it into a known name).
bool isKnownModel(const std::string& name)
{
    const ModelType type = modelTypeFromName(name.c_str());
    if (!modelTraits(type))
        return false;
    return std::strlen(modelNameOf(type)) == name.size();
}

// The maker's name in any case; an embedded NUL never matches.
bool isMaker(const std::string& name)
{
    const size_t length = std::strlen(kScpMaker);
    return name.size() == length && strncasecmp(name.c_str(), kScpMaker, length) == 0;
}

QString macText(const uint8_t mac[6])
{
    char text[18];
    snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return QString::fromLatin1(text, 17);
}

void appendAddress(QByteArray* out, const VSockAddress& a)
{
    out->append(reinterpret_cast<const char*>(&a.family), sizeof a.family);
    if (a.family == VSOCK_FAMILY_IPV4)
        out->append(reinterpret_cast<const char*>(a.addr), 4);
    if (a.family == VSOCK_FAMILY_IPV6) {
        out->append(reinterpret_cast<const char*>(a.addr), 16);
        out->append(reinterpret_cast<const char*>(&a.scopeId), sizeof a.scopeId);
    }
}

// The engine keeps one record per sender and listening address.
QByteArray originOf(const JsdpService& service)
{
    QByteArray origin;
    appendAddress(&origin, service.senderAddress);
    appendAddress(&origin, service.localAddress);
    return origin;
}

} // namespace

QString deviceKey(const QString& unitId, const QString& mac)
{
    return unitId + QLatin1Char('-') + mac;
}

QString macPartOfKey(const QString& key)
{
    const int minus = key.indexOf(QLatin1Char('-'));
    return minus < 0 ? QString() : key.mid(minus + 1);
}

bool parseUnitId(const QString& text, uint16_t* id)
{
    if (text.size() < 2 || text.at(0).toUpper() != QLatin1Char(kUnitIdPrefix))
        return false;
    uint32_t value = 0;
    for (int i = 1; i < text.size(); ++i) {
        const int digit = jlib_hexDigit(text.at(i).unicode());
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<uint32_t>(digit);
        if (value > 0xFFFF) // refused, not cut to its low bits
            return false;
    }
    *id = static_cast<uint16_t>(value);
    return true;
}

bool parseScpHost(const JsdpService& service, ScpHostInfo* host)
{
    if (service.addressKind != JSDP_ADDRESS_KIND_IPV4 || service.announcedAddress.family != VSOCK_FAMILY_IPV4)
        return false;
    if (service.serviceTypeLength != kServiceTypeLength
        || std::memcmp(service.serviceType, JSDP_SERVICE_TYPE_SCP, kServiceTypeLength) != 0)
        return false;
    char address[VSOCK_ADDRESS_TEXT_MAX];
    if (vsock_addressToText(&service.announcedAddress, address, sizeof address) != VSOCK_OK)
        return false;

    const size_t size = std::min<size_t>(service.payloadLength, JSDP_MAX_PAYLOAD);
    size_t at = 0;
    std::string maker, model, unitId;
    if (!takeString(service.payload, size, &at, &maker) || !takeString(service.payload, size, &at, &model)
        || !takeString(service.payload, size, &at, &unitId))
        return false;
    if (!isKnownModel(model) || !isMaker(maker))
        return false;
    uint16_t id = 0;
    const QString unitText = QString::fromUtf8(unitId.data(), int(unitId.size()));
    if (!parseUnitId(unitText, &id))
        return false;

    host->mac = macText(service.mac);
    host->address = QString::fromLatin1(address);
    host->model = QString::fromLatin1(model.data(), int(model.size()));
    host->maker = QString::fromLatin1(maker.data(), int(maker.size()));
    host->unitId = unitText;
    host->id = id;
    return true;
}

ScpRecorder::ScpRecorder(QObject* parent)
    : QObject(parent)
    , m_timer(this)
{
}

ScpRecorder::~ScpRecorder()
{
    // The engine never calls a recorder that is gone (a no-op when it was
    // not subscribed).
    jsdp_unsubscribe(&ScpRecorder::onService, this);
}

ScpRecorder* ScpRecorder::instance()
{
    static std::mutex lock;
    static QPointer<ScpRecorder> recorder;
    std::lock_guard<std::mutex> guard(lock);
    QCoreApplication* app = QCoreApplication::instance();
    if (!recorder && app)
        recorder = new ScpRecorder(app); // owned by the application object
    return recorder.data();
}

void ScpRecorder::onService(const JsdpService* service, int alive, void* context)
{
    auto* self = static_cast<ScpRecorder*>(context);
    if (!service || !self)
        return;
    ScpHostInfo host;
    const bool isUnit = parseScpHost(*service, &host);
    std::lock_guard<std::mutex> guard(self->m_lock);
    if (isUnit)
        self->record(originOf(*service), host, alive != 0);
    else
        self->m_heard.remove(originOf(*service)); // that sender no longer announces a unit
}

void ScpRecorder::setAgeing(int tickMs, int ticks)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_tickMs = tickMs > 0 ? tickMs : kDefaultAgeingTickMs;
    m_ticks = ticks > 0 ? ticks : kDefaultAgeingTicks;
}

JResult ScpRecorder::findDevice(const QString& key, DeviceEntry* entry) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_devices.constFind(key);
    if (it == m_devices.constEnd())
        return DEV_E_FAIL;
    if (entry)
        *entry = it.value();
    return DEV_OK;
}

QMap<QString, DeviceEntry> ScpRecorder::devices() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_devices;
}

QMap<QString, int> ScpRecorder::ageingCounts() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_ageing;
}

JResult ScpRecorder::startAgeingTimer()
{
    if (m_timerRunning)
        return DEV_E_FAIL;
    connect(&m_timer, &QTimer::timeout, this, &ScpRecorder::removeCheckTime);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_timer.setInterval(m_tickMs);
    }
    m_timer.start();
    m_timerRunning = true;
    return DEV_OK;
}

JResult ScpRecorder::stopAgeingTimer()
{
    if (!m_timerRunning)
        return DEV_E_FAIL;
    m_timer.stop();
    disconnect(&m_timer, &QTimer::timeout, this, &ScpRecorder::removeCheckTime);
    m_timerRunning = false;
    return DEV_OK;
}

void ScpRecorder::clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_devices.clear();
    m_ageing.clear();
    m_heard.clear();
}

void ScpRecorder::removeCheckTime()
{
    std::lock_guard<std::mutex> guard(m_lock);
    QStringList expired;
    for (auto it = m_ageing.begin(); it != m_ageing.end(); ++it)
        if (++it.value() >= m_ticks)
            expired.append(it.key());
    for (const QString& key : expired) {
        removeDevice(key);
        m_ageing.remove(key);
    }
    if (!expired.isEmpty())
        placeEvictedUnits();
}

void ScpRecorder::record(const QByteArray& origin, const ScpHostInfo& host, bool alive)
{
    if (alive) {
        m_heard.insert(origin, host);
        addOrRefresh(host);
        return;
    }
    m_heard.remove(origin);
    // A unit still heard elsewhere (it moved to a new address, whose
    // announcements the engine holds apart) has not gone.
    const QString key = deviceKey(host.unitId, host.mac);
    const bool stillHeard = std::any_of(m_heard.cbegin(), m_heard.cend(),
        [&](const ScpHostInfo& other) { return deviceKey(other.unitId, other.mac) == key; });
    if (!stillHeard)
        startAgeing(host);
    placeEvictedUnits();
}

void ScpRecorder::placeEvictedUnits()
{
    const QList<ScpHostInfo> heard = m_heard.values();
    for (const ScpHostInfo& host : heard) {
        if (m_devices.contains(deviceKey(host.unitId, host.mac)) || !keyWithAddress(host.address).isEmpty())
            continue;
        const bool contested = std::any_of(heard.cbegin(), heard.cend(),
            [&](const ScpHostInfo& other) { return other.address == host.address && other.mac != host.mac; });
        if (!contested)
            addOrRefresh(host);
    }
}

void ScpRecorder::addOrRefresh(const ScpHostInfo& host)
{
    const QString key = deviceKey(host.unitId, host.mac);
    m_ageing.remove(key);
    const auto present = m_devices.constFind(key);
    if (present != m_devices.constEnd()) {
        if (present.value().address == host.address)
            return;
        removeDevice(key); // the same unit at a new address
    } else {
        const QString sameAddress = keyWithAddress(host.address);
        if (!sameAddress.isEmpty()) {
            const QString sameMac = keyWithMac(host.mac);
            if (sameMac.isEmpty()) {
                // Another host claims a present unit's address: the present
                // one is dropped and the newcomer is not taken.
                emit foundDuplicateIPDev(key, sameAddress, host.address);
                removeDevice(sameAddress);
                return;
            }
            removeDevice(sameMac); // the same unit under an earlier unit id
        }
    }
    DeviceEntry entry;
    entry.key = key;
    entry.unitId = host.unitId;
    entry.address = host.address;
    entry.port = host.port;
    entry.model = host.model;
    entry.id = host.id;
    m_devices.insert(key, entry);
    emit foundDev(key);
}

void ScpRecorder::startAgeing(const ScpHostInfo& host)
{
    const QString key = deviceKey(host.unitId, host.mac);
    if (!m_ageing.contains(key))
        m_ageing.insert(key, 0);
}

void ScpRecorder::removeDevice(const QString& key)
{
    if (m_devices.remove(key) > 0)
        emit lostDev(key);
}

QString ScpRecorder::keyWithAddress(const QString& address) const
{
    for (auto it = m_devices.constBegin(); it != m_devices.constEnd(); ++it)
        if (it.value().address == address)
            return it.key();
    return QString();
}

QString ScpRecorder::keyWithMac(const QString& mac) const
{
    for (auto it = m_devices.constBegin(); it != m_devices.constEnd(); ++it)
        if (macPartOfKey(it.key()) == mac)
            return it.key();
    return QString();
}

} // namespace Quil
