// The discovery front on the bed's veth pair: the real engine, real
// multicast, simulated units announcing from the peer namespace and the
// independent peer listening and announcing there.
#include "device/discovery/dev_discovery.h"
#include "device/discovery/dev_hostif.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/link/dev_comm.h"
#include "device/memory/dev_memthread.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "tests/device/discovery_records.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace Quil;
using disctest::SignalLog;
using qtest::NetnsBed;

namespace {

const char* const kSecondPeerAddress = "198.18.0.3";
const char* const kMacA = "02:53:00:00:00:0a";
const char* const kMacB = "02:53:00:00:00:0b";

// Runs the event loop until pred holds; false after timeoutMs.
template <typename Pred> bool pumpUntil(Pred pred, int timeoutMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

QString key(const char* unitId, const char* mac)
{
    return QString("%1-%2").arg(unitId, mac);
}

// Ticks of 50 ms so a silent unit goes within seconds; the engine reports
// silence after one second.
DiscoveryOptions quickOptions()
{
    DiscoveryOptions o;
    o.ageingTickMs = 50;
    o.announcePeriodMs = 200;
    return o;
}

class DeviceDiscoveryNet : public ::testing::Test {
protected:
    bool setUpNet()
    {
        if (!bed.ready()) {
            ADD_FAILURE() << bed.error();
            return false;
        }
        oswrap_init();
        if (vsock_init() != VSOCK_OK) {
            ADD_FAILURE() << "socket service";
            return false;
        }
        platform = true;
        jsdp_setAgeingTime(1000);
        return true;
    }
    void TearDown() override
    {
        log.reset();
        discovery.reset();
        if (memThread)
            destroyMemThread();
        if (platform)
            vsock_term();
    }

    // The front with its signal log, not started.
    JsdpZDiscovery& makeFront(const DiscoveryOptions& options = quickOptions())
    {
        discovery = std::make_unique<JsdpZDiscovery>(nullptr, options);
        log = std::make_unique<SignalLog>(discovery.get());
        return *discovery;
    }
    // Unit J001 announcing from the peer address and the front started on
    // the bed; true once the unit is found.
    bool discoverUnitA()
    {
        unitA = unit(NetnsBed::kPeerAddress, "J001", "BroxL-D", kMacA);
        makeFront();
        return startOnBed(*discovery) == JSDP_OK && pumpUntil([&] { return log->has("found " + key("J001", kMacA)); });
    }

    // A simulated unit in the peer namespace, announcing every 200 ms; with
    // brox it also answers the link as a Brox unit does.
    std::unique_ptr<qtest::ChildProcess> unit(
        const char* address, const char* unitId, const char* model, const char* mac, bool brox = false)
    {
        std::vector<std::string> args = {QUILLON_SIMUNIT, "--layout",
            qtest::sourcePath(brox ? "tests/sim/layouts/brox.xml" : "tests/sim/layouts/sim400.xml"), "--address",
            address, "--port", "49280", "--unit-id", unitId, "--model", model, "--mac", mac, "--period", "200"};
        if (brox)
            args.push_back("--brox");
        auto child = std::make_unique<qtest::ChildProcess>(bed.inPeer(args));
        std::string line;
        EXPECT_TRUE(child->started() && child->readLine(&line, 10000) && line == "READY 49280") << line;
        return child;
    }
    std::unique_ptr<qtest::ChildProcess> peer(const std::vector<std::string>& args)
    {
        auto child = std::make_unique<qtest::ChildProcess>(bed.inPeer(qtest::pythonPeer("jsdp_peer.py", args)));
        std::string line;
        EXPECT_TRUE(child->started() && child->readLine(&line, 5000) && line == "READY") << line;
        return child;
    }
    JsdpResult startOnBed(JsdpZDiscovery& discovery)
    {
        return discovery.start(NetnsBed::kLocalMac, NetnsBed::kLocalAddress, NetnsBed::kNetmask);
    }

    NetnsBed bed;
    bool platform = false;
    bool memThread = false;
    std::unique_ptr<qtest::ChildProcess> unitA;
    std::unique_ptr<JsdpZDiscovery> discovery;
    std::unique_ptr<SignalLog> log;
};

TEST_F(DeviceDiscoveryNet, ListsTheBedsInterfaceAndFindsItByMacAndAddress)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    // Loopback is up here too, and skipped.
    QList<HostInterface> all = listHostInterfaces();
    ASSERT_EQ(1, all.size());
    const HostInterface veth = all.front();
    EXPECT_EQ(NetnsBed::kLocalInterface, veth.name.toStdString());
    EXPECT_EQ(QString(NetnsBed::kLocalMac).toUpper(), veth.mac.toUpper());
    EXPECT_EQ(NetnsBed::kLocalAddress, veth.address.toStdString());
    EXPECT_EQ(NetnsBed::kNetmask, veth.netmask.toStdString());
    EXPECT_TRUE(veth.isUsable());
    EXPECT_GT(veth.index, 0);

    // One record per IPv4 address; IPv6 entries are skipped.
    ASSERT_EQ(0, qtest::runCommand("ip addr add 198.19.1.1/16 dev qveth0 && ip addr add fd00::1/64 dev qveth0"));
    all = listHostInterfaces();
    ASSERT_EQ(2, all.size());
    const HostInterface second = findHostInterface(veth.mac, "198.19.1.1");
    EXPECT_EQ("255.255.0.0", second.netmask.toStdString());
    EXPECT_EQ(veth.address, findHostInterface(veth.mac).address);
    EXPECT_TRUE(findHostInterface(veth.mac, "198.19.1.2").isEmpty());
    EXPECT_TRUE(findHostInterface("02:51:00:00:00:09").isEmpty());
    const HostInterface none = findHostInterface(QString(), NetnsBed::kLocalAddress);
    EXPECT_TRUE(none.name.isEmpty() && none.address.isEmpty() && !none.isUp && none.index == 0);

    // An interface that is down is listed, but not usable.
    ASSERT_EQ(0, qtest::runCommand("ip link set qveth0 down"));
    all = listHostInterfaces();
    ASSERT_EQ(2, all.size());
    EXPECT_FALSE(all.front().isUp);
    EXPECT_FALSE(all.front().isUsable());
}

TEST_F(DeviceDiscoveryNet, TheOwnAnnouncementOnTheWire)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    auto listener = peer({"listen", "--address", NetnsBed::kPeerAddress, "--seconds", "10"});
    JsdpZDiscovery discovery(nullptr, quickOptions());
    const HostInterface veth = findHostInterface(listHostInterfaces().value(0).mac, NetnsBed::kLocalAddress);
    ASSERT_EQ(JSDP_OK, discovery.start(veth.mac, veth.address, veth.netmask));

    const auto& block = ownAnnouncement();
    const std::string expected = std::string("HEARD 0 4 ") + NetnsBed::kLocalAddress + " " + NetnsBed::kLocalMac
        + " _jpa-scp " + qtest::hex(block.data(), block.size()) + " " + NetnsBed::kLocalAddress + " 54330";
    std::string line;
    ASSERT_TRUE(listener->readLine(&line, 5000));
    EXPECT_EQ(expected, line);
    ASSERT_TRUE(listener->readLine(&line, 5000)) << "announced again after the period";
    EXPECT_EQ(expected, line);
}

TEST_F(DeviceDiscoveryNet, FindsTwoUnitsRightAfterConstructionAndLosesTheOneThatFallsSilent)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    ASSERT_EQ(
        0, bed.runInPeer(std::string("ip addr add ") + kSecondPeerAddress + "/24 dev " + NetnsBed::kPeerInterface));
    auto unitA = unit(NetnsBed::kPeerAddress, "J001", "BroxL-D", kMacA);
    auto unitB = unit(kSecondPeerAddress, "J01F", "PellM-D2", kMacB);

    JsdpZDiscovery discovery(nullptr, quickOptions());
    SignalLog log(&discovery);
    // The engine's task may not have set it up yet: start waits for it.
    const int stateBefore = jsdp_getState();
    ASSERT_EQ(JSDP_OK, startOnBed(discovery)) << "engine state before start: " << stateBefore;
    const QString a = key("J001", kMacA), b = key("J01F", kMacB);
    ASSERT_TRUE(pumpUntil([&] { return log.has("found " + a) && log.has("found " + b); }))
        << log.lines.join(", ").toStdString();

    DeviceEntry entry;
    ASSERT_EQ(DEV_OK, discovery.findDevice(b, &entry));
    EXPECT_EQ(kSecondPeerAddress, entry.address.toStdString());
    EXPECT_EQ(49280, entry.port);
    EXPECT_EQ("PellM-D2", entry.model.toStdString());
    EXPECT_EQ("J01F", entry.unitId.toStdString());
    EXPECT_EQ(0x1F, entry.id);

    unitA.reset(); // silent from now on
    ASSERT_TRUE(pumpUntil([&] { return log.has("lost " + a); }));
    QMap<QString, DeviceEntry> present;
    discovery.devices(&present);
    EXPECT_EQ(QStringList({b}), present.keys());
    EXPECT_EQ(1, log.lines.count("found " + a)) << log.lines.join(", ").toStdString();
    EXPECT_EQ(1, log.lines.count("found " + b));
    EXPECT_EQ(1, log.lines.count("lost " + a));
    EXPECT_FALSE(log.has("lost " + b));
}

TEST_F(DeviceDiscoveryNet, AnotherHostOnAUnitsAddressEvictsIt)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    ASSERT_TRUE(discoverUnitA());
    const QString a = key("J001", kMacA);

    const char* const otherMac = "02:51:00:00:00:99";
    auto other = peer({"announce", "--address", NetnsBed::kPeerAddress, "--mac", otherMac, "--block", "Valdor",
        "BroxM-D", "J005", "--seconds", "10"});
    const QString intruder = key("J005", otherMac);
    ASSERT_TRUE(pumpUntil([&] { return log->has("lost " + a); })) << log->lines.join(", ").toStdString();
    EXPECT_EQ(QStringList({"found " + a, "dup " + intruder + " " + a + " " + NetnsBed::kPeerAddress, "lost " + a}),
        log->lines.mid(0, 3));
    // Both keep announcing from one address, so the engine reports them in
    // turn: the unit may come back and be evicted again; the intruder is
    // never taken.
    QMap<QString, DeviceEntry> present;
    discovery->devices(&present);
    EXPECT_FALSE(present.contains(intruder));
    EXPECT_FALSE(log->has("found " + intruder));
}

TEST_F(DeviceDiscoveryNet, StopThenStartAtOnceKeepsDiscovering)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    ASSERT_TRUE(discoverUnitA());
    const QString a = key("J001", kMacA);

    for (int round = 2; round <= 3; ++round) {
        discovery->stop();
        const int stateAfterStop = jsdp_getState();
        QMap<QString, DeviceEntry> present;
        discovery->devices(&present);
        EXPECT_TRUE(present.isEmpty());
        // The engine is most likely still closing here.
        ASSERT_EQ(JSDP_OK, startOnBed(*discovery)) << "engine state after stop: " << stateAfterStop;
        EXPECT_TRUE(discovery->recorder()->isAgeingTimerRunning());
        ASSERT_TRUE(pumpUntil([&] { return log->lines.count("found " + a) == round; }))
            << log->lines.join(", ").toStdString();
    }
    EXPECT_EQ(JSDP_E_STATE, startOnBed(*discovery)) << "a second start without stop is refused at once";
}

TEST_F(DeviceDiscoveryNet, AFrontMadeAfterAnotherOneWentStartsAgain)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    ASSERT_TRUE(discoverUnitA());
    // The engine must have finished closing before its task stopped, or the
    // next task finds it closing for good.
    log.reset();
    discovery.reset();
    JsdpZDiscovery& again = makeFront();
    ASSERT_EQ(JSDP_OK, startOnBed(again));
    EXPECT_TRUE(pumpUntil([&] { return log->has("found " + key("J001", kMacA)); }));
}

TEST_F(DeviceDiscoveryNet, DestructionStaysBoundedWhenTheEngineNeverComesUp)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    // With every semaphore taken the engine's task cannot set it up.
    std::vector<uint16_t> taken;
    for (int i = 0; i < OSWRAP_MAX_SEMAPHORES; ++i) {
        uint16_t id = 0;
        OswrapSemAttr attr{1, "FILL"};
        if (oswrap_createSemaphore(&id, &attr) != OSWRAP_OK)
            break;
        taken.push_back(id);
    }
    ASSERT_EQ(JSDP_STATE_NOINIT, jsdp_getState());

    DiscoveryOptions options = quickOptions();
    options.startWaitMs = 300;
    auto discovery = std::make_unique<JsdpZDiscovery>(nullptr, options);
    EXPECT_EQ(JSDP_E_NOINIT, startOnBed(*discovery)) << "start says that nothing started";
    EXPECT_FALSE(discovery->recorder()->isAgeingTimerRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    // The subscriber task leaves on its stop request; a task that never
    // looks at it holds the destructor for the wrapper's 5 s join time-out.
    const auto before = std::chrono::steady_clock::now();
    discovery.reset();
    const auto took
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before).count();
    EXPECT_LT(took, 2500);
    for (uint16_t id : taken)
        oswrap_deleteSemaphore(id);
}

// What the front found is all the link needs: the entry's address and port
// and model make the connection, which leaves from the bed's interface.
TEST_F(DeviceDiscoveryNet, AFoundUnitsEntryDrivesItsConnection)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    ASSERT_EQ(0, createMemThread());
    memThread = true;
    unitA = unit(NetnsBed::kPeerAddress, "J005", "BroxL-D2", kMacA, true);
    makeFront();
    ASSERT_EQ(JSDP_OK, startOnBed(*discovery));
    const QString k = key("J005", kMacA);
    ASSERT_TRUE(pumpUntil([&] { return log->has("found " + k); })) << log->lines.join(", ").toStdString();

    DeviceEntry entry;
    ASSERT_EQ(DEV_OK, discovery->findDevice(k, &entry));
    ASSERT_EQ(NetnsBed::kPeerAddress, entry.address.toStdString());
    ASSERT_EQ(49280, entry.port);
    const ModelType type = modelTypeFromName(entry.model.toUtf8().constData());
    ASSERT_EQ(MODEL_BROXL_D2, type);

    auto read = [](DevObject& dev, const char* path) {
        JLIB::JVariant value;
        return dev.getValue(QString::fromUtf8(path), &value) < 0 ? -1 : static_cast<int>(value.toInteger());
    };
    // The connection goes before its device object.
    DevObject dev(0, type);
    DevComm comm(nullptr, entry.key, entry.address, static_cast<uint16_t>(entry.port), entry.model, type, 0,
        NetnsBed::kLocalAddress);
    ASSERT_NE(nullptr, comm.clientThread());
    ASSERT_EQ(0, comm.attachMemory(&dev, SOURCE_LINK));
    // Past this point every check lets the test reach the detach below.
    EXPECT_GE(dev.setValue(kConnectReqPath, JLIB::JVariant(1), SOURCE_UI), 0);
    const bool connected = pumpUntil([&] { return read(dev, kConnectionStatePath) == 2; }, 15000);
    std::string sockets;
    bed.runInPeer("ss -tn state established", &sockets);
    EXPECT_TRUE(connected) << "ConnectionState " << read(dev, kConnectionStatePath);
    if (connected) {
        EXPECT_TRUE(comm.isConnected());
        EXPECT_NE(std::string::npos, sockets.find(std::string(NetnsBed::kLocalAddress) + ":")) << sockets;
        JLIB::JVariant name;
        EXPECT_GE(dev.getValue("/DevInfo/devinfo:0/devicename:0", &name), 0);
        EXPECT_STREQ("Stage Left", name.getString() ? name.getString() : "");
    }

    EXPECT_GE(dev.setValue(kDisconnectReqPath, JLIB::JVariant(1), SOURCE_UI), 0);
    EXPECT_TRUE(pumpUntil([&] { return read(dev, kConnectionStatePath) == 0 && !comm.isConnected(); }))
        << "ConnectionState " << read(dev, kConnectionStatePath);
    EXPECT_EQ(0, comm.detachMemory());
}

} // namespace
