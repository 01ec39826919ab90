// The base libraries end to end: simulated units serving SCP and announcing
// by JSDP, found by the discovery engine and mirrored by an SCP client into
// its own field. In-process on loopback for the value paths and the fault
// knobs; as separate processes in a network namespace for discovery,
// ageing and disconnection.
#include "tests/sim/sim_client.h"
#include "tests/sim/sim_unit.h"

#include "pbd/jsdp/jsdp.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"
#include "tests/support/unit_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <unistd.h>

using namespace simtest;
using JLIB::JVariant;

using qtest::waitFor;

namespace {

const std::string kLayout = qtest::sourcePath("tests/sim/layouts/sim400.xml");

JVariant number(int32_t v)
{
    return JVariant(v);
}

JVariant text(const char* s)
{
    return JVariant(s, static_cast<uint32_t>(strlen(s)));
}

SimCell cellAt(SimMemory& memory, const std::string& path, int32_t x, int32_t y)
{
    return SimCell{memory.indexOfPath(path), x, y};
}

uint8_t sourceOf(SimMemory& memory, const SimCell& cell)
{
    uint32_t indexes[MMS::MMS_MAX_DEPTH], count = 0;
    memory.indexesOf(cell, indexes, &count);
    const std::string& path = memory.params()[static_cast<size_t>(cell.index)].path;
    JVariant v;
    uint8_t source = 0;
    memory.field().getValueByName(
        &v, &source, nullptr, path.c_str(), static_cast<uint32_t>(path.size()), indexes, count, false, 0);
    return source;
}

// Cells whose values differ between two memories of the same layout.
std::vector<std::string> differences(SimMemory& a, SimMemory& b)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < a.params().size(); ++i) {
        const SimParam& p = a.params()[i];
        for (int32_t y = 0; y < p.yCount; ++y) {
            for (int32_t x = 0; x < p.xCount; ++x) {
                const SimCell c{static_cast<int32_t>(i), x, y};
                if (a.valueText(c) != b.valueText(c))
                    out.push_back(p.path + "[" + std::to_string(x) + "," + std::to_string(y) + "]");
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// One unit and its mirror in this process, on loopback.

class SimLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(simStartPlatform(false));
        SimUnitConfig config;
        config.layoutPath = kLayout;
        config.model = "SimRack";
        config.unitId = "7";
        std::string why;
        ASSERT_EQ(0, unit.start(config, &why)) << why;
        ASSERT_EQ(0, mirror.load(kLayout, &why)) << why;
        ASSERT_TRUE(mirror.connect("127.0.0.1", "127.0.0.1", unit.port()));
        ASSERT_TRUE(pump([&] { return mirror.connected(); }));
    }

    bool pump(const std::function<bool()>& pred, int timeoutMs = 5000)
    {
        return simPumpUntil(waker, {&mirror}, pred, timeoutMs);
    }

    void associate()
    {
        ASSERT_EQ(SCP::SCP_OK, mirror.negotiate());
        ASSERT_TRUE(pump([&] { return mirror.negotiated(); }));
        ASSERT_EQ(SCP::SCP_OK, mirror.associate());
        ASSERT_TRUE(pump([&] { return mirror.associated(); }, 20000));
        ASSERT_EQ(0, mirror.failures());
    }

    SimUnit unit;
    SimWaker waker;
    MirrorClient mirror{waker};
};

TEST_F(SimLoopback, AssociationMirrorsEveryCellWithoutEchoingIt)
{
    SimMemory& u = unit.memory();
    ASSERT_GT(unit.setLocal("in/gain", 0, 3, number(-120)), 0);
    ASSERT_GT(unit.setLocal("in/label", 0, 2, text("Vox")), 0);
    ASSERT_GT(unit.setLocal("bus/src", 15, 7, number(199)), 0);
    ASSERT_GT(unit.setLocal("out/delay", 0, 15, number(48000)), 0);
    ASSERT_GT(unit.setLocal("matrix", 47, 0, number(100)), 0);

    associate();
    EXPECT_EQ("SimRack", mirror.device().model);
    EXPECT_EQ("7", mirror.device().unitId);
    EXPECT_EQ("normal", mirror.device().runMode);
    EXPECT_EQ(std::vector<std::string>{}, differences(u, mirror.memory()));
    // One store per cell and per NOTIFY of the edits above, none doubled.
    EXPECT_EQ(5u, unit.stats().notifies);
    EXPECT_EQ(u.cellCount() + 5, mirror.parameter().stores());

    // Received values are link writes: the link's own key sees nothing to
    // send back, the local side's key sees exactly the cells that changed.
    EXPECT_TRUE(mirror.memory().drainChanged(SOURCE_LINK).empty());
    const auto changed = mirror.memory().drainChanged(SOURCE_LOCAL);
    EXPECT_EQ(mirror.parameter().changedStores(), changed.size());
    std::set<std::string> paths;
    for (const SimCell& c : changed)
        paths.insert(mirror.memory().params()[static_cast<size_t>(c.index)].path);
    EXPECT_TRUE(paths.count("in/label") && paths.count("bus/src") && paths.count("matrix"));
    EXPECT_EQ(SOURCE_LINK, sourceOf(mirror.memory(), cellAt(mirror.memory(), "bus/src", 15, 7)));
}

TEST_F(SimLoopback, AUnitChangeArrivesOnceAndAnEditGoesOutOnce)
{
    associate();
    SimMemory& m = mirror.memory();
    m.drainChanged(SOURCE_LOCAL);
    const uint64_t storesBefore = mirror.parameter().changedStores();
    const uint64_t triggersBefore = m.trigger().count();

    // The unit's own change: one NOTIFY, stored with the link's source.
    const SimCell level = cellAt(m, "bus/level", 0, 5);
    ASSERT_GT(unit.setLocal("bus/level", 0, 5, number(-2000)), 0);
    ASSERT_TRUE(pump([&] { return m.valueText(level) == "-2000"; }));
    EXPECT_EQ(SOURCE_LINK, sourceOf(m, level));
    EXPECT_EQ(storesBefore + 1, mirror.parameter().changedStores());
    EXPECT_GT(m.trigger().count(), triggersBefore);
    const auto seen = m.drainChanged(SOURCE_LOCAL);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(level.index, seen[0].index);
    EXPECT_EQ(5, seen[0].y);
    EXPECT_TRUE(m.drainChanged(SOURCE_LINK).empty());

    // A text change on the unit.
    const SimCell label = cellAt(m, "out/label", 0, 9);
    ASSERT_GT(unit.setLocal("out/label", 0, 9, text("Wedge 2")), 0);
    ASSERT_TRUE(pump([&] { return m.valueText(label) == "Wedge 2"; }));
    ASSERT_EQ(1u, m.drainChanged(SOURCE_LOCAL).size());

    // A local edit: found by the walk of the link's key, sent as a set and
    // stored by the unit, which does not notify it back.
    ASSERT_TRUE(waitFor([&] { return unit.stats().notifies == 2; })) << "one NOTIFY per change";
    const SimCell delay = cellAt(m, "out/delay", 0, 7);
    ASSERT_GT(m.write(delay, number(1234), SOURCE_LOCAL), 0);
    EXPECT_TRUE(m.drainChanged(SOURCE_LOCAL).empty()) << "the editor does not see its own edit";
    ASSERT_EQ(1u, mirror.sendChanges());
    EXPECT_EQ(0u, mirror.sendChanges()) << "sent once";
    ASSERT_TRUE(pump([&] { return unit.memory().valueText(delay) == "1234"; }));
    EXPECT_EQ(SOURCE_LINK, sourceOf(unit.memory(), delay));
    // The OK reply carries the same value: nothing changes, nothing to send.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pump([] { return false; }, 50);
    EXPECT_EQ("1234", m.valueText(delay));
    EXPECT_TRUE(m.drainChanged(SOURCE_LINK).empty());
    EXPECT_EQ(2u, unit.stats().notifies);

    // A text edit goes out in the text form and the unit stores it.
    const SimCell inLabel = cellAt(m, "in/label", 0, 4);
    ASSERT_GT(m.write(inLabel, text("Kick"), SOURCE_LOCAL), 0);
    const size_t errorsBefore = mirror.device().errors.size();
    ASSERT_EQ(1u, mirror.sendChanges());
    ASSERT_TRUE(pump([&] { return unit.memory().valueText(inLabel) == "Kick"; }));
    pump([] { return false; }, 50);
    EXPECT_EQ(errorsBefore, mirror.device().errors.size()) << "the unit refused the set";
}

TEST_F(SimLoopback, FaultKnobsAreSurvivedOrSeen)
{
    // Split lines and a stalled reply: the association still completes,
    // only later.
    unit.splitLines(true);
    unit.stall(300);
    ASSERT_EQ(SCP::SCP_OK, mirror.negotiate());
    EXPECT_FALSE(pump([&] { return mirror.negotiated(); }, 150)) << "no answer during the stall";
    ASSERT_TRUE(pump([&] { return mirror.negotiated(); }));
    unit.splitLines(false);
    ASSERT_EQ(SCP::SCP_OK, mirror.associate());
    ASSERT_TRUE(pump([&] { return mirror.associated(); }, 20000));
    EXPECT_EQ(std::vector<std::string>{}, differences(unit.memory(), mirror.memory()));

    // A refused set: reported as the unit's error, the unit keeps its value.
    SimMemory& m = mirror.memory();
    const SimCell gain = cellAt(m, "in/gain", 0, 1);
    unit.errorNext();
    ASSERT_GT(m.write(gain, number(300), SOURCE_LOCAL), 0);
    ASSERT_EQ(1u, mirror.sendChanges());
    ASSERT_TRUE(pump([&] { return !mirror.device().errors.empty(); }));
    EXPECT_EQ("set Sim:in/gain", mirror.device().errors.front()) << "the refusal names the request";
    EXPECT_EQ("0", unit.memory().valueText(gain));

    // A value beyond the unit's limit is clamped by the unit's memory and
    // acknowledged.
    mirror.device().errors.clear();
    ASSERT_GE(mirror.client().set(gain.index, 0, 1, number(5000)), 0);
    ASSERT_TRUE(pump([&] { return unit.memory().valueText(gain) == "600"; }));
    pump([] { return false; }, 50);
    EXPECT_TRUE(mirror.device().errors.empty());

    // Half a line, then the connection closes: nothing half-read is stored.
    const uint64_t stores = mirror.parameter().stores();
    unit.closeMidLine();
    ASSERT_GE(unit.setLocal("in/hpf", 0, 4, number(120)), 0);
    ASSERT_TRUE(pump([&] { return !mirror.connected(); }));
    EXPECT_EQ(stores, mirror.parameter().stores());
    EXPECT_EQ("80", m.valueText(cellAt(m, "in/hpf", 0, 4)));
}

TEST_F(SimLoopback, AStalledAssociationIsCancelledByItsOwnerAndRunsAgain)
{
    ASSERT_EQ(SCP::SCP_OK, mirror.negotiate());
    ASSERT_TRUE(pump([&] { return mirror.negotiated(); }));
    unit.stall(600);
    ASSERT_EQ(SCP::SCP_OK, mirror.associate());
    // The owner's deadline passes first: it ends the sequence.
    EXPECT_FALSE(pump([&] { return mirror.associated(); }, 200));
    EXPECT_EQ(0, mirror.client().stepIndex());
    ASSERT_EQ(SCP::SCP_OK, mirror.client().cancelSequence());
    EXPECT_EQ(SCP::SCP_STATE_NEGOTIATED, mirror.client().state());
    // The late reply is still stored, but associates nothing.
    ASSERT_TRUE(pump([&] { return mirror.parameter().stores() == 1; }, 2000));
    pump([] { return false; }, 50);
    EXPECT_FALSE(mirror.associated());

    ASSERT_EQ(SCP::SCP_OK, mirror.associate());
    ASSERT_TRUE(pump([&] { return mirror.associated(); }, 20000));
    EXPECT_EQ(1 + unit.memory().cellCount(), mirror.parameter().stores());
}

TEST_F(SimLoopback, ASilentUnitAnswersNothingAndAClosedOneIsSeen)
{
    associate();
    unit.goSilent(true);
    ASSERT_GE(mirror.client().get(0, 0, 0), 0);
    ASSERT_GT(unit.setLocal("mode", 0, 0, number(2)), 0);
    EXPECT_FALSE(pump([&] { return mirror.memory().valueText(SimCell{2, 0, 0}) == "2"; }, 300));
    EXPECT_TRUE(mirror.connected());

    unit.closeAll();
    ASSERT_TRUE(pump([&] { return !mirror.connected(); }));
    EXPECT_TRUE(waitFor([&] { return unit.stats().connections == 0; }));
}

// ---------------------------------------------------------------------------
// Two unit processes in a network namespace.

struct Heard {
    int alive;
    std::string address;
    std::string payload;
    std::string mac;
};

class Discovery {
public:
    static void callback(const JsdpService* s, int alive, void* context)
    {
        auto* self = static_cast<Discovery*>(context);
        char address[VSOCK_ADDRESS_TEXT_MAX] = "?";
        vsock_addressToText(&s->announcedAddress, address, sizeof address);
        char mac[18];
        snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", s->mac[0], s->mac[1], s->mac[2], s->mac[3],
            s->mac[4], s->mac[5]);
        Heard h{alive, address, std::string(reinterpret_cast<const char*>(s->payload), s->payloadLength), mac};
        if (std::string(s->serviceType, s->serviceTypeLength) != JSDP_SERVICE_TYPE_SCP)
            return;
        std::lock_guard<std::mutex> guard(self->m_lock);
        self->m_heard.push_back(h);
    }
    std::vector<Heard> heard() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_heard;
    }
    // The last record for mac with this alive state; false when none.
    bool find(const std::string& mac, int alive, Heard* out) const
    {
        bool found = false;
        for (const Heard& h : heard()) {
            if (h.mac == mac && h.alive == alive) {
                *out = h;
                found = true;
            }
        }
        return found;
    }
    int count(const std::string& mac, int alive) const
    {
        int n = 0;
        for (const Heard& h : heard())
            n += h.mac == mac && h.alive == alive;
        return n;
    }

private:
    mutable std::mutex m_lock;
    std::vector<Heard> m_heard;
};

// A plain unit of the test layout at 198.18.0.<host>, named by `name`.
qtest::UnitSpec plainUnit(int host, const std::string& name, const std::string& mac)
{
    qtest::UnitSpec spec;
    spec.modelType = 0;
    spec.host = host;
    spec.unitId = name;
    spec.mac = mac;
    spec.model = "SimRack-" + name;
    spec.layout = kLayout;
    return spec;
}

uint64_t statOf(const std::string& stats, const std::string& name)
{
    const size_t at = stats.find(name);
    return at == std::string::npos ? ~uint64_t{0} : strtoull(stats.c_str() + at + name.size(), nullptr, 10);
}

// Units serve SCP on this port; their announcements do not carry it.
constexpr uint16_t kScpPort = 49280;

} // namespace

TEST(SimNetwork, TwoUnitsAreFoundMirroredAgedOutAndDisconnected)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    const std::string addressA = qtest::NetnsBed::kPeerAddress;
    const std::string addressB = "198.18.0.3";
    ASSERT_EQ(0, bed.runInPeer("ip addr add " + addressB + "/24 dev " + qtest::NetnsBed::kPeerInterface));

    ASSERT_TRUE(simStartPlatform(true));
    jsdp_setAgeingTime(1500);
    Discovery discovery;
    ASSERT_EQ(JSDP_OK, jsdp_subscribe(Discovery::callback, &discovery));
    std::string type = JSDP_SERVICE_TYPE_SCP, payload = "host=quillon-test";
    JsdpChannelConfig ch;
    ch.mode = 0;
    const uint8_t mac[6] = {0x02, 0x51, 0, 0, 0, 0x01};
    memcpy(ch.ownMac, mac, 6);
    vsock_textToAddress(VSOCK_FAMILY_IPV4, qtest::NetnsBed::kLocalAddress, &ch.ownAddress);
    vsock_textToAddress(VSOCK_FAMILY_IPV4, qtest::NetnsBed::kNetmask, &ch.netmask);
    vsock_textToAddress(VSOCK_FAMILY_IPV4, JSDP_DEFAULT_GROUP, &ch.group);
    ch.port = JSDP_DEFAULT_PORT;
    ch.serviceType = type.c_str();
    ch.serviceTypeLength = static_cast<uint8_t>(type.size());
    ch.payload = reinterpret_cast<const uint8_t*>(payload.data());
    ch.payloadLength = static_cast<uint16_t>(payload.size());
    ASSERT_EQ(JSDP_OK, jsdp_open(&ch, 1));

    qtest::TempDir dir;
    qtest::UnitProcess unitA(bed, dir, plainUnit(2, "A", "02:53:00:00:00:0a"));
    qtest::UnitProcess unitB(bed, dir, plainUnit(3, "B", "02:53:00:00:00:0b"));
    ASSERT_TRUE(unitA.waitReady() && unitB.waitReady()) << unitA.error() << unitB.error();
    // Values the mirrors must find after association.
    ASSERT_EQ("SET 256", unitA.ask("SET in/gain 0 3 -120", "SET"));
    ASSERT_EQ("SET 256", unitB.ask("SET in/label 0 2 \"Vox\"", "SET"));

    // Both found by the engine, each once, with the address and port they
    // announce.
    Heard a, b;
    ASSERT_TRUE(waitFor([&] { return discovery.find(unitA.mac(), 1, &a) && discovery.find(unitB.mac(), 1, &b); }));
    EXPECT_EQ(addressA, a.address);
    EXPECT_EQ(addressB, b.address);
    EXPECT_EQ(1, discovery.count(unitA.mac(), 1));
    EXPECT_EQ(1, discovery.count(unitB.mac(), 1));
    EXPECT_EQ(std::string("\x06Valdor\x09SimRack-A\x01"
                          "A"),
        a.payload);

    SimWaker waker;
    MirrorClient mirrorA(waker), mirrorB(waker);
    const std::vector<MirrorClient*> both = {&mirrorA, &mirrorB};
    std::string why;
    ASSERT_EQ(0, mirrorA.load(kLayout, &why)) << why;
    ASSERT_EQ(0, mirrorB.load(kLayout, &why)) << why;
    ASSERT_TRUE(mirrorA.connect(qtest::NetnsBed::kLocalAddress, a.address, kScpPort));
    ASSERT_TRUE(mirrorB.connect(qtest::NetnsBed::kLocalAddress, b.address, kScpPort));
    ASSERT_TRUE(simPumpUntil(
        waker, both, [&] { return mirrorA.connected() && mirrorB.connected(); }, 5000));
    ASSERT_EQ(SCP::SCP_OK, mirrorA.negotiate());
    ASSERT_EQ(SCP::SCP_OK, mirrorB.negotiate());
    ASSERT_TRUE(simPumpUntil(
        waker, both, [&] { return mirrorA.negotiated() && mirrorB.negotiated(); }, 5000));
    EXPECT_EQ("SimRack-A", mirrorA.device().model);
    EXPECT_EQ("SimRack-B", mirrorB.device().model);
    ASSERT_EQ(SCP::SCP_OK, mirrorA.associate());
    ASSERT_EQ(SCP::SCP_OK, mirrorB.associate());
    ASSERT_TRUE(simPumpUntil(
        waker, both, [&] { return mirrorA.associated() && mirrorB.associated(); }, 30000));
    SimMemory& mA = mirrorA.memory();
    SimMemory& mB = mirrorB.memory();
    EXPECT_EQ("-120", mA.valueText(cellAt(mA, "in/gain", 0, 3)));
    EXPECT_EQ("0", mB.valueText(cellAt(mB, "in/gain", 0, 3)));
    EXPECT_EQ("Vox", mB.valueText(cellAt(mB, "in/label", 0, 2)));
    // One store per cell, and one per NOTIFY that reached the connection
    // (an edit made just before it came up may).
    EXPECT_EQ(mA.cellCount() + statOf(unitA.ask("STATS", "STATS"), "notifies="), mirrorA.parameter().stores());
    mA.drainChanged(SOURCE_LOCAL);
    mB.drainChanged(SOURCE_LOCAL);

    // A change on unit A reaches mirror A only, as a link write, once.
    const SimCell level = cellAt(mA, "bus/level", 0, 5);
    ASSERT_EQ("SET 256", unitA.ask("SET bus/level 0 5 -2000", "SET"));
    ASSERT_TRUE(simPumpUntil(
        waker, both, [&] { return mA.valueText(level) == "-2000"; }, 5000));
    EXPECT_EQ(SOURCE_LINK, sourceOf(mA, level));
    const auto seen = mA.drainChanged(SOURCE_LOCAL);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(level.index, seen[0].index);
    EXPECT_EQ("0", mB.valueText(level));
    EXPECT_TRUE(mB.drainChanged(SOURCE_LOCAL).empty());

    // An edit in mirror B goes to unit B as a set and is stored there.
    const SimCell delay = cellAt(mB, "out/delay", 0, 7);
    ASSERT_GT(mB.write(delay, number(1234), SOURCE_LOCAL), 0);
    ASSERT_EQ(1u, mirrorB.sendChanges());
    std::string value;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (value != "VALUE out/delay 0 7 1234" && std::chrono::steady_clock::now() < deadline) {
        simPumpUntil(
            waker, both, [] { return false; }, 20);
        value = unitB.ask("GET out/delay 0 7", "VALUE");
    }
    EXPECT_EQ("VALUE out/delay 0 7 1234", value);
    EXPECT_TRUE(mB.drainChanged(SOURCE_LINK).empty()) << "the reply is not sent back again";
    EXPECT_EQ("STATS accepted=1 lines=", unitB.ask("STATS", "STATS").substr(0, 23));

    // Unit A goes silent: aged out, once; unit B stays.
    ASSERT_EQ("OK SILENT", unitA.ask("SILENT", "OK"));
    ASSERT_TRUE(waitFor([&] { return discovery.count(unitA.mac(), 0) > 0; }, 6000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(1, discovery.count(unitA.mac(), 0));
    EXPECT_EQ(0, discovery.count(unitB.mac(), 0));

    // Unit B closes the connection: the mirror sees it.
    ASSERT_EQ("OK CLOSE", unitB.ask("CLOSE", "OK"));
    ASSERT_TRUE(simPumpUntil(
        waker, both, [&] { return !mirrorB.connected(); }, 5000));

    jsdp_unsubscribe(Discovery::callback, &discovery);
    jsdp_close();
}
