// The discovery front without a network: the engine channel it builds, its
// own announcement, and how the recorder's signals reach its receivers.
#include "device/discovery/dev_discovery.h"
#include "tests/device/discovery_records.h"
#include "tests/support/vsock_service_test.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <string>
#include <thread>

using namespace Quil;
using disctest::Announcement;
using disctest::serviceOf;
using disctest::SignalLog;

namespace {

std::string addressText(const VSockAddress& a)
{
    char text[VSOCK_ADDRESS_TEXT_MAX] = "?";
    vsock_addressToText(&a, text, sizeof text);
    return text;
}

TEST(DeviceDiscoveryConfig, OwnAnnouncementIsTheThreeStringsOfTwentyBytes)
{
    const auto& block = ownAnnouncement();
    EXPECT_EQ(std::string("\x06Valdor\x07Quillon\x04J000"), std::string(block.begin(), block.end()));
}

TEST(DeviceDiscoveryConfig, AnAnnouncerOnTheInterfaceWithTheMakersServiceType)
{
    JsdpChannelConfig c;
    ASSERT_EQ(JSDP_OK, buildDiscoveryConfig("02:51:0A:ff:00:01", "198.18.0.1", "255.255.255.0", 3000, &c));
    EXPECT_EQ(1, c.mode);
    const uint8_t mac[6] = {0x02, 0x51, 0x0a, 0xff, 0x00, 0x01};
    EXPECT_EQ(0, memcmp(mac, c.ownMac, 6));
    EXPECT_EQ(JSDP_ADDRESS_KIND_IPV4, c.addressKind);
    EXPECT_EQ("198.18.0.1", addressText(c.ownAddress));
    EXPECT_EQ("255.255.255.0", addressText(c.netmask));
    EXPECT_EQ(JSDP_DEFAULT_PORT, c.port);
    EXPECT_EQ(JSDP_DEFAULT_GROUP, addressText(c.group));
    EXPECT_EQ("_jpa-scp", std::string(c.serviceType, c.serviceTypeLength));
    EXPECT_EQ(3000u, c.periodMs);
    EXPECT_EQ(ownAnnouncement().data(), c.payload);
    EXPECT_EQ(kOwnAnnouncementSize, c.payloadLength);
    // The engine takes it as it is.
    uint8_t packet[JSDP_BUFFER_SIZE];
    size_t length = 0;
    EXPECT_EQ(JSDP_OK, jsdp_buildPacket(&c, packet, sizeof packet, &length));
}

TEST(DeviceDiscoveryConfig, RefusesWhatIsNoMacOrIpv4Address)
{
    struct Row {
        const char* mac;
        const char* address;
        const char* netmask;
    };
    const Row rows[] = {
        {"", "198.18.0.1", "255.255.255.0"},
        {"02:51:00:00:00", "198.18.0.1", "255.255.255.0"},
        {"02:51:00:00:00:01:02", "198.18.0.1", "255.255.255.0"},
        {"02:51:00:00:00:0g", "198.18.0.1", "255.255.255.0"},
        {"02:51:00:00:00:001", "198.18.0.1", "255.255.255.0"},
        {"02:51:00:00::01", "198.18.0.1", "255.255.255.0"},
        {"02-51-00-00-00-01", "198.18.0.1", "255.255.255.0"},
        {"02:51:00:00:00:01", "", "255.255.255.0"},
        {"02:51:00:00:00:01", "198.18.0", "255.255.255.0"},
        {"02:51:00:00:00:01", "fd00::1", "255.255.255.0"},
        {"02:51:00:00:00:01", "198.18.0.1", ""},
        {"02:51:00:00:00:01", "198.18.0.1", "255.255.256.0"},
    };
    for (const Row& r : rows) {
        JsdpChannelConfig c;
        EXPECT_EQ(JSDP_E_PARAM, buildDiscoveryConfig(r.mac, r.address, r.netmask, 3000, &c))
            << r.mac << " " << r.address << " " << r.netmask;
    }
    JsdpChannelConfig c;
    EXPECT_EQ(JSDP_E_PARAM, buildDiscoveryConfig("02:51:00:00:00:01", "198.18.0.1", "255.255.255.0", 0, &c))
        << "an announcer needs a period";
}

// A front with the engine's task running but no channel open.
class DeviceDiscoveryFront : public qtest::VsockServiceTest { };

TEST_F(DeviceDiscoveryFront, AConfigurationThatCannotBeBuiltStartsNothing)
{
    JsdpZDiscovery discovery;
    EXPECT_EQ(JSDP_E_PARAM, discovery.start("02:51:00:00:00", "198.18.0.1", "255.255.255.0"));
    EXPECT_FALSE(discovery.recorder()->isAgeingTimerRunning());
    EXPECT_NE(JSDP_STATE_RUNNING, jsdp_getState());
}

TEST_F(DeviceDiscoveryFront, ReceiversMayReadTheTableFromTheirSlots)
{
    JsdpZDiscovery discovery;
    ScpRecorder* recorder = discovery.recorder();
    ASSERT_NE(nullptr, recorder);
    SignalLog log(&discovery);
    QStringList seen;
    // A receiver that looks the unit up as soon as it hears of it, also when
    // the tick on this very thread drops it.
    const auto lookUp = [&](QString key) {
        DeviceEntry entry;
        QMap<QString, DeviceEntry> all;
        discovery.devices(&all);
        seen << QString("%1 %2 %3").arg(key).arg(discovery.findDevice(key, &entry) == DEV_OK).arg(all.size());
    };
    QObject::connect(&discovery, &JsdpZDiscovery::foundServSignal, lookUp);
    QObject::connect(&discovery, &JsdpZDiscovery::lostServSignal, lookUp);

    const JsdpService service = serviceOf(Announcement());
    ScpRecorder::onService(&service, 1, recorder);
    ScpRecorder::onService(&service, 0, recorder);
    for (int i = 0; i < kDefaultAgeingTicks; ++i)
        recorder->removeCheckTime();
    EXPECT_TRUE(log.lines.isEmpty()) << "re-emitted from the event loop, not under the recorder's lock";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (log.lines.size() < 2 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(QStringList({"found J001-02:53:00:00:00:0a", "lost J001-02:53:00:00:00:0a"}), log.lines);
    EXPECT_EQ(QStringList({"J001-02:53:00:00:00:0a 0 0", "J001-02:53:00:00:00:0a 0 0"}), seen);
}

TEST_F(DeviceDiscoveryFront, DuplicatesAreReemittedWithTheirArguments)
{
    JsdpZDiscovery discovery;
    SignalLog log(&discovery);
    Announcement a, b;
    b.unitId = "J002";
    b.mac = "02:53:00:00:00:0b";
    const JsdpService first = serviceOf(a), second = serviceOf(b);
    ScpRecorder::onService(&first, 1, discovery.recorder());
    ScpRecorder::onService(&second, 1, discovery.recorder());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (log.lines.size() < 3 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(QStringList({"found J001-02:53:00:00:00:0a",
                  "dup J002-02:53:00:00:00:0b J001-02:53:00:00:00:0a 198.18.0.2", "lost J001-02:53:00:00:00:0a"}),
        log.lines);
}

TEST_F(DeviceDiscoveryFront, DestructionEmptiesTheRecorder)
{
    ScpRecorder* recorder = nullptr;
    {
        JsdpZDiscovery discovery;
        recorder = discovery.recorder();
        const JsdpService service = serviceOf(Announcement());
        ScpRecorder::onService(&service, 1, recorder);
        ASSERT_EQ(1, recorder->devices().size());
    }
    EXPECT_TRUE(recorder->devices().isEmpty());
    EXPECT_FALSE(recorder->isAgeingTimerRunning());
}

TEST_F(DeviceDiscoveryFront, ARecorderThatGoesLeavesTheEngine)
{
    JsdpZDiscovery discovery;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (jsdp_getState() == JSDP_STATE_NOINIT && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The recorder lives in storage that outlives it, so its address can still
    // be offered as the engine's key once the recorder is gone.
    alignas(ScpRecorder) unsigned char storage[sizeof(ScpRecorder)];
    auto* recorder = new (storage) ScpRecorder;
    ASSERT_EQ(JSDP_OK, jsdp_subscribe(&ScpRecorder::onService, recorder));
    recorder->~ScpRecorder();
    EXPECT_EQ(JSDP_E_PARAM, jsdp_unsubscribe(&ScpRecorder::onService, storage)) << "still subscribed";
}

} // namespace
