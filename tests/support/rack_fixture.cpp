#include "tests/support/rack_fixture.h"

#include "app/app_rackobject.h"
#include "device/discovery/dev_recorder.h"
#include "device/link/dev_comm.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_memthread.h"
#include "pbd/jlib/jvariant.h"
#include "tests/device/discovery_records.h"
#include "tests/support/gui/gui_support.h"
#include "ui/main/rackdialogs.h"

#include <QCoreApplication>

#include <cstdio>

namespace racktest {

bool socketLayerUp()
{
    static Quil::VSockObject holder;
    return holder.isReady() || vsock_getState() == VSOCK_STATE_READY;
}

QString UnitAnnouncement::key() const
{
    return QString::fromStdString(unitId + "-" + mac);
}

UnitAnnouncement loopbackUnit(uint16_t id, int n, const std::string& model)
{
    char unitId[8];
    char mac[32];
    std::snprintf(unitId, sizeof unitId, "J%03X", id);
    std::snprintf(mac, sizeof mac, "02:53:00:00:%02x:%02x", (n >> 8) & 0xff, n & 0xff);
    return UnitAnnouncement{unitId, mac, "127.0.1." + std::to_string(n % 250 + 1), model};
}

Quil::DiscoveryOptions quickAgeing()
{
    Quil::DiscoveryOptions options;
    options.ageingTicks = 1;
    return options;
}

namespace {

disctest::Announcement announcementOf(const UnitAnnouncement& unit)
{
    disctest::Announcement a;
    a.unitId = unit.unitId;
    a.mac = unit.mac;
    a.address = unit.address;
    a.model = unit.model;
    return a;
}

} // namespace

RackFixture::RackFixture(int pendingMs, const Quil::DiscoveryOptions& options)
{
    m_ready = socketLayerUp() && Quil::createMemThread() == 0;
    m_rack = std::make_unique<Quil::QuilObject>(nullptr, options);
    m_rack->setQuestions(std::make_unique<Quil::RackDialogs>(m_rack.get()));
    m_rack->setPendingInterval(pendingMs);
    Quil::DevCommTimings timings;
    timings.stepTimeoutMs = 3000;
    timings.readTimeoutMs = 1500;
    m_rack->setCommTimings(timings);
    for (int i = 0; i < Quil::kRackSlotCount; ++i)
        m_rack->rackSlot(i)->setDeviceId(i + 1);
    QObject::connect(m_rack.get(), &Quil::QuilObject::mountChanged, m_rack.get(),
        [this](uint slot, int type) { mounts.emplace_back(slot, type); });
    QObject::connect(m_rack.get(), &Quil::QuilObject::deviceIdChanged, m_rack.get(),
        [this](uint slot, int id) { deviceIds.emplace_back(slot, id); });
}

RackFixture::~RackFixture()
{
    m_rack.reset();
    // Queued reports of the gone front must not reach the next test.
    QCoreApplication::processEvents();
    Quil::destroyMemThread();
}

void RackFixture::announce(const UnitAnnouncement& unit)
{
    const JsdpService service = disctest::serviceOf(announcementOf(unit));
    Quil::ScpRecorder::onService(&service, 1, m_rack->discovery()->recorder());
}

void RackFixture::silence(const UnitAnnouncement& unit)
{
    Quil::ScpRecorder* recorder = m_rack->discovery()->recorder();
    const JsdpService service = disctest::serviceOf(announcementOf(unit));
    Quil::ScpRecorder::onService(&service, 0, recorder);
    for (int i = 0; i <= Quil::kDefaultAgeingTicks && recorder->ageingCounts().contains(unit.key()); ++i)
        recorder->removeCheckTime();
}

bool RackFixture::spinUntil(const std::function<bool()>& pred, int ms)
{
    return qtest::waitUntil(pred, ms);
}

void RackFixture::spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
}

bool RackFixture::editWhenSettled(int slot, const char* path, int32_t value, int ms)
{
    return spinUntil(
        [&] { return rack().setValue(slot, QString::fromLatin1(path), JLIB::JVariant(value), Quil::SOURCE_UI) >= 0; },
        ms);
}

int32_t RackFixture::value(int slot, const char* path)
{
    JLIB::JVariant v;
    if (m_rack->getValue(slot, QString::fromLatin1(path), &v) < 0)
        return INT32_MIN;
    return static_cast<int32_t>(v.toInteger());
}

int32_t RackFixture::deviceNum(int slot)
{
    return value(slot, "/DevState/devstate:0/DeviceNum:0");
}

int32_t RackFixture::slotState(int slot)
{
    return value(slot, "/DevState/devstate:0/SlotState:0");
}

QString RackFixture::connectedKey(int slot)
{
    const Quil::DevComm* comm = m_rack->connection(slot);
    return comm ? comm->deviceKey() : QString();
}

} // namespace racktest
