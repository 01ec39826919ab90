// A full rack: 24 simulated unit processes, every model type twice, found
// by the real discovery front and linked by one thread each, all woken by
// the one memory thread. Each case builds the rack in a fresh namespace.
#include "tests/device/rack/rack_driver.h"

#include "device/link/dev_family.h"
#include "device/link/dev_mavik.h"
#include "device/link/dev_scpadapter.h"
#include "device/link/dev_sorn.h"
#include "device/link/dev_vsockobject.h"
#include "tests/device/connection_rig.h"
#include "tests/support/netns.h"
#include "tests/support/unit_process.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace racktest;
using devtest::spinFor;
using devtest::spinUntil;
using qtest::NetnsBed;
using qtest::UnitFault;

namespace {

constexpr int kUnits = 24;

int typeOf(int unit)
{
    return 1 + unit % MODEL_LAST;
}

bool isIoFamily(int type)
{
    return type == MODEL_SORN_D || type == MODEL_MAVIK_D;
}

bool isSecondGeneration(int type)
{
    return type == MODEL_BROXL_D2 || type == MODEL_BROXM_D2 || type == MODEL_BROXL_D3 || type == MODEL_BROXM_D3;
}

// One cell both sides name: the memory path and the unit's name path and x.
struct Cell {
    std::string path;
    std::string unitPath;
    int x;
};

// Per family: a cell the user edits (sent to the unit) and one the unit
// changes (notified), and how many adapter rows the association reads.
struct Family {
    Cell edited;
    Cell notified;
    int readRows;
};

Family familyOf(int type)
{
    if (type == MODEL_SORN_D)
        return {{"/Backup/Patch:5/UserPatchSrc:0", "Current/Dev/UserPatch", 5},
            {"/Backup/Patch:9/UserPatchSrc:0", "Current/Dev/UserPatch", 9}, SORN_PARAMETER_COUNT - 1};
    if (type == MODEL_MAVIK_D)
        return {{"/Current/Dev:0/NextIPAddress:2", "NextBoot/Dev/IPAddress", 2},
            {"/Current/Dev:0/CurrIPAddress:3", "Current/Dev/IPAddress", 3}, MAVIK_PARAMETER_COUNT};
    return {{"/Backup/OutCh:6/DelayTime:0", "Current/OutCh/DelayTime", 6},
        {"/Backup/OutCh:5/DelayTime:0", "Current/OutCh/DelayTime", 5}, 33};
}

// Counts what reaches a subscriber, and the last meter byte.
class Listener : public QObject {
    Q_OBJECT
public:
    std::map<QString, int> changes;
    int meterByte = -1;
public slots:
    void onParamChanged(const QString& path) { ++changes[path]; }
    void onMeter(uint8_t, uint8_t data) { meterByte = data; }
};

// Meters renewed soon after association; steps and reads given room for 24
// links associating at once on a loaded machine.
DevCommTimings rackTimings()
{
    DevCommTimings t = conntest::fastTimings();
    t.meterRenewalMs = 300;
    t.stepTimeoutMs = 5000;
    t.readTimeoutMs = 1500;
    return t;
}

DiscoveryOptions quickDiscovery()
{
    DiscoveryOptions o;
    o.ageingTickMs = 50;
    o.announcePeriodMs = 200;
    return o;
}

std::string readText(DevObject& dev, const std::string& path)
{
    JLIB::JVariant value;
    return devtest::textOf(dev.getValue(QString::fromStdString(path), &value), value);
}

class DeviceRack : public testing::Test {
protected:
    // The units, the platform, the front and the driver; true once every
    // unit is found and associated.
    bool bringUp()
    {
        bed = std::make_unique<NetnsBed>();
        if (!bed->ready())
            return fail(bed->error());
        units = std::make_unique<qtest::UnitRack>(*bed);
        std::vector<qtest::UnitSpec> specs;
        for (int i = 0; i < kUnits; ++i) {
            qtest::UnitSpec spec;
            spec.modelType = typeOf(i);
            spec.host = 2 + i;
            spec.deviceName = "Rack " + std::to_string(i);
            specs.push_back(spec);
        }
        if (!units->start(specs))
            return fail(units->error());
        // Values the association must carry over.
        for (int i = 0; i < kUnits; ++i) {
            const Cell& c = familyOf(typeOf(i)).notified;
            if (!unit(i).set(c.unitPath, c.x, 0, std::to_string(10 + i)))
                return fail("preset of unit " + std::to_string(i));
        }
        if (!conntest::socketLayerUp() || createMemThread() != 0)
            return fail("platform");
        memThread = true;
        jsdp_setAgeingTime(1000);
        discovery = std::make_unique<JsdpZDiscovery>(nullptr, quickDiscovery());
        driver = std::make_unique<RackDriver>(*discovery, NetnsBed::kLocalAddress, rackTimings());
        if (discovery->start(NetnsBed::kLocalMac, NetnsBed::kLocalAddress, NetnsBed::kNetmask) != JSDP_OK)
            return fail("discovery did not start");
        if (!spinUntil([&] { return driver->units().size() == kUnits; }, 10000))
            return fail("found " + std::to_string(driver->units().size()) + " units");
        if (!spinUntil([&] { return connectedCount() == kUnits; }, 30000))
            return fail(std::to_string(connectedCount()) + " units connected");
        return true;
    }
    bool fail(const std::string& why)
    {
        ADD_FAILURE() << why;
        return false;
    }
    void TearDown() override
    {
        driver.reset();
        if (discovery)
            discovery->stop();
        discovery.reset();
        units.reset();
        if (memThread)
            destroyMemThread();
        bed.reset();
    }

    qtest::UnitProcess& unit(int i) { return (*units)[static_cast<size_t>(i)]; }
    Mounted& mounted(int i)
    {
        Mounted* m = driver->unitAt(QString::fromStdString(unit(i).address()));
        EXPECT_NE(nullptr, m) << "unit " << i << " not mounted";
        return *m;
    }
    std::string connectionState(int i) { return readText(*mounted(i).dev, kConnectionStatePath); }
    int connectedCount()
    {
        int n = 0;
        for (auto& [key, m] : driver->units())
            n += readText(*m.dev, kConnectionStatePath) == "2";
        return n;
    }
    uint64_t sets(int i) { return unit(i).stats()["set"]; }

    // Every element the association reads that differs from the unit's
    // (texts aside), as "name x: ours/unit's".
    std::vector<std::string> differences(int i)
    {
        Mounted& m = mounted(i);
        auto parameter = createScpParameter(m.type);
        parameter->bind(m.dev.get(), SOURCE_LINK);
        std::vector<std::string> out;
        for (int32_t index = 0; index < familyOf(m.type).readRows; ++index) {
            const ScpParamRow* row = parameter->row(index);
            const ScpPathFormat* format = parameter->pathFormat(index);
            const int32_t xCount = row->xSlot == 0 ? format->collections : row->xSlot == 1 ? format->elements : 1;
            const std::string name = std::strchr(row->scpName, ':') + 1;
            for (int32_t x = 0; x < xCount; ++x) {
                JLIB::JVariant ours;
                if (parameter->readValue(ours, index, x, 0) < 0) {
                    out.push_back(name + " unreadable");
                    continue;
                }
                if (ours.type() == JLIB::JVARIANT_STRING)
                    continue;
                const std::string mine = devtest::textOf(0, ours), theirs = unit(i).value(name, x, 0);
                if (mine != theirs)
                    out.push_back(name + " " + std::to_string(x) + ": " + mine + "/" + theirs);
            }
        }
        return out;
    }

    std::unique_ptr<NetnsBed> bed;
    std::unique_ptr<qtest::UnitRack> units;
    std::unique_ptr<JsdpZDiscovery> discovery;
    std::unique_ptr<RackDriver> driver;
    bool memThread = false;
};

TEST_F(DeviceRack, EveryUnitFoundOnceAssociatedAndEqualMetersOnlyFromBrox)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(bringUp());
    std::vector<Listener> meters(kUnits);
    for (int i = 0; i < kUnits; ++i) {
        SCOPED_TRACE("unit " + std::to_string(i));
        Mounted& m = mounted(i);
        EXPECT_EQ(1, driver->found(m.entry.key));
        EXPECT_EQ(typeOf(i), m.type);
        EXPECT_EQ("2", connectionState(i));
        EXPECT_EQ("\"Rack " + std::to_string(i) + "\"", readText(*m.dev, "/DevInfo/devinfo:0/devicename:0"));
        EXPECT_EQ(std::to_string(10 + i), readText(*m.dev, familyOf(m.type).notified.path));
        EXPECT_EQ(std::vector<std::string>{}, differences(i));
        if (!isIoFamily(m.type)) {
            EXPECT_EQ(0, m.dev->connectMeter("Dev/InputLevel", 0, &meters[i], SLOT(onMeter(uint8_t, uint8_t))));
        }
    }
    EXPECT_EQ(kUnits, driver->foundTotal());

    // Meter lines flow from the Brox-family units only; the others are
    // never asked.
    ASSERT_TRUE(spinUntil(
        [&] {
            for (auto& [key, m] : driver->units())
                m.dev->meters() ? m.dev->meters()->notify() : void();
            for (int i = 0; i < kUnits; ++i) {
                if (!isIoFamily(typeOf(i)) && meters[i].meterByte != 0x40)
                    return false;
            }
            return true;
        },
        5000))
        << [&] {
               std::string t;
               for (int i = 0; i < kUnits; ++i)
                   t += std::to_string(meters[i].meterByte) + "/" + std::to_string(unit(i).stats()["mtrstart"]) + " ";
               return t;
           }();
    for (int i = 0; i < kUnits; ++i)
        EXPECT_EQ(isIoFamily(typeOf(i)) ? 0u : 1u, unit(i).stats()["mtrstart"] > 0 ? 1u : 0u) << "unit " << i;
    EXPECT_EQ(kUnits, driver->foundTotal()) << "nobody found twice";
}

TEST_F(DeviceRack, EditsBothWaysOnEveryUnitEachOnceWithoutEchoWhileSummariesAnswer)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(bringUp());
    std::vector<Listener> listeners(kUnits);
    std::vector<uint64_t> setsBefore(kUnits);
    for (int i = 0; i < kUnits; ++i) {
        Mounted& m = mounted(i);
        const Family f = familyOf(m.type);
        for (const Cell* c : {&f.edited, &f.notified})
            ASSERT_EQ(0,
                m.dev->subscribe(
                    QString::fromStdString(c->path), &listeners[i], SOURCE_UI, SLOT(onParamChanged(QString))));
        setsBefore[i] = sets(i);
    }

    // The user edits every unit at once, and every unit changes a value of
    // its own; second-generation units are asked for a summary meanwhile.
    for (int i = 0; i < kUnits; ++i) {
        Mounted& m = mounted(i);
        ASSERT_GE(
            m.dev->setValue(QString::fromStdString(familyOf(m.type).edited.path), JLIB::JVariant(100 + i), SOURCE_UI),
            0);
    }
    for (int i = 0; i < kUnits; ++i) {
        const Cell& c = familyOf(typeOf(i)).notified;
        ASSERT_TRUE(unit(i).set(c.unitPath, c.x, 0, std::to_string(150 + i)));
        if (isSecondGeneration(typeOf(i)))
            mounted(i).dev->setValue("/ListItem/listitem:0/CurSummaryNumReq:0", JLIB::JVariant(1), SOURCE_UI);
    }

    for (int i = 0; i < kUnits; ++i) {
        SCOPED_TRACE("unit " + std::to_string(i));
        Mounted& m = mounted(i);
        const Family f = familyOf(m.type);
        EXPECT_TRUE(
            spinUntil([&] { return unit(i).value(f.edited.unitPath, f.edited.x, 0) == std::to_string(100 + i); }));
        EXPECT_TRUE(spinUntil([&] { return readText(*m.dev, f.notified.path) == std::to_string(150 + i); }));
        if (isSecondGeneration(m.type)) {
            EXPECT_TRUE(
                spinUntil([&] { return readText(*m.dev, "/ListItem/listitem:0/CurSummaryNumReceived:0") == "1"; }));
            EXPECT_EQ("12", readText(*m.dev, "/ListItem/listitem:0/CurSummaryNum:0"));
            EXPECT_EQ("14", readText(*m.dev, "/ListItem/listitem:0/CurSummaryEnd:0"));
            m.dev->setValue("/ListItem/listitem:0/CurSummaryItemReq:0", JLIB::JVariant(5), SOURCE_UI);
            EXPECT_TRUE(
                spinUntil([&] { return readText(*m.dev, "/ListItem/listitem:0/CurSummaryItemReceived:0") == "1"; }));
            EXPECT_EQ("\"IO:_CurSummary item 5\"", readText(*m.dev, "/ListItem/listitem:0/CurSummaryItem:0"));
        }
    }
    // Settled: each unit took exactly one set, its own; each subscriber heard
    // each change once, the user's edit without a second time from the unit's
    // reply.
    spinFor(300);
    for (int i = 0; i < kUnits; ++i) {
        SCOPED_TRACE("unit " + std::to_string(i));
        const Family f = familyOf(typeOf(i));
        EXPECT_EQ(setsBefore[i] + 1, sets(i));
        EXPECT_EQ(std::to_string(100 + i), unit(i).value(f.edited.unitPath, f.edited.x, 0));
        EXPECT_EQ(1, listeners[i].changes[QString::fromStdString(f.notified.path)]);
        EXPECT_EQ(1, listeners[i].changes[QString::fromStdString(f.edited.path)]) << "the unit's reply came back";
        EXPECT_EQ("2", connectionState(i));
    }
}

TEST_F(DeviceRack, AThirdLosesTheLinkTheRestStaysAndTheLostReconnectWithNewValues)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(bringUp());
    // Every third unit, its faults taken in turn; the others stay.
    std::map<int, UnitFault> lossy;
    const UnitFault faults[] = {UnitFault::Close, UnitFault::Reset, UnitFault::Silent};
    for (int i = 1, k = 0; i < kUnits; i += 3, ++k)
        lossy[i] = faults[k % 3];
    std::vector<uint64_t> setsBefore(kUnits);
    for (int i = 0; i < kUnits; ++i)
        setsBefore[i] = sets(i);

    for (const auto& [i, fault] : lossy) {
        ASSERT_TRUE(unit(i).fault(fault)) << "unit " << i;
        // A silent unit is lost once it owes an answer past the read time-out.
        if (fault == UnitFault::Silent) {
            Mounted& m = mounted(i);
            m.dev->setValue(QString::fromStdString(familyOf(m.type).edited.path), JLIB::JVariant(77), SOURCE_UI);
        }
    }
    for (const auto& [i, fault] : lossy)
        EXPECT_TRUE(spinUntil([&] { return connectionState(i) == "0"; }, 8000)) << "unit " << i;
    // The silent ones stop announcing and age out; the others stay listed.
    for (const auto& [i, fault] : lossy) {
        if (fault == UnitFault::Silent) {
            const QString key = mounted(i).entry.key;
            EXPECT_TRUE(spinUntil([&] { return driver->lost(key) == 1; }, 8000)) << "unit " << i;
        }
    }
    for (int i = 0; i < kUnits; ++i) {
        if (lossy.count(i))
            continue;
        SCOPED_TRACE("unit " + std::to_string(i));
        EXPECT_EQ("2", connectionState(i));
        EXPECT_EQ(0, driver->lost(mounted(i).entry.key));
        EXPECT_EQ(setsBefore[i], sets(i));
    }

    // The units change meanwhile (a silent one comes back as a fresh
    // process); a new connect reads what they hold now.
    for (const auto& [i, fault] : lossy) {
        SCOPED_TRACE("unit " + std::to_string(i));
        if (fault == UnitFault::Silent) {
            ASSERT_TRUE(units->restart(static_cast<size_t>(i))) << units->error();
            const QString key = mounted(i).entry.key;
            EXPECT_TRUE(spinUntil([&] { return driver->found(key) == 2; }, 8000));
        }
        const Cell& c = familyOf(typeOf(i)).notified;
        ASSERT_TRUE(unit(i).set(c.unitPath, c.x, 0, std::to_string(200 + i)));
        driver->connectUnit(mounted(i).entry.key);
    }
    for (const auto& [i, fault] : lossy) {
        SCOPED_TRACE("unit " + std::to_string(i));
        ASSERT_TRUE(spinUntil([&] { return connectionState(i) == "2"; }, 15000));
        EXPECT_EQ(std::to_string(200 + i), readText(*mounted(i).dev, familyOf(typeOf(i)).notified.path));
        EXPECT_EQ(std::vector<std::string>{}, differences(i));
    }
    EXPECT_EQ(kUnits, connectedCount());
}

TEST_F(DeviceRack, UnmountAndMountAgainUnderTraffic)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(bringUp());
    driver->autoMount = false;
    std::vector<QString> keys;
    for (int i = 0; i < kUnits; ++i)
        keys.push_back(mounted(i).entry.key);

    // Values fit every family's cells (the narrowest hold 0 to 255).
    for (int round = 0; round < 2; ++round) {
        // Edits both ways in flight, meters running, then every unit goes.
        for (int i = 0; i < kUnits; ++i) {
            Mounted& m = mounted(i);
            const Family f = familyOf(m.type);
            m.dev->setValue(QString::fromStdString(f.edited.path), JLIB::JVariant(60 + 40 * round + i), SOURCE_UI);
            unit(i).set(f.notified.unitPath, f.notified.x, 0, std::to_string(110 + 40 * round + i));
        }
        driver->unmountAll();
        EXPECT_TRUE(driver->units().empty());
        spinFor(100);
        for (const QString& key : keys) {
            ASSERT_TRUE(driver->mount(key));
            driver->connectUnit(key);
        }
        ASSERT_TRUE(spinUntil([&] { return connectedCount() == kUnits; }, 30000))
            << connectedCount() << " connected in round " << round;
        for (int i = 0; i < kUnits; ++i) {
            SCOPED_TRACE("unit " + std::to_string(i));
            EXPECT_EQ(
                std::to_string(110 + 40 * round + i), readText(*mounted(i).dev, familyOf(typeOf(i)).notified.path));
            EXPECT_EQ(std::vector<std::string>{}, differences(i));
        }
    }
}

// The front stopped and made anew while 24 units announce: the engine's
// task is busy, so its close is still going on when the old front goes.
TEST_F(DeviceRack, AFrontStoppedAndMadeAnewFindsTheRackAgain)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(bringUp());
    driver->autoMount = false;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        driver.reset(); // its units unmounted; the front next
        discovery->stop();
        discovery.reset();
        ASSERT_NE(JSDP_STATE_CLOSING, jsdp_getState()) << "the engine's task stopped in the middle of a close";
        discovery = std::make_unique<JsdpZDiscovery>(nullptr, quickDiscovery());
        driver = std::make_unique<RackDriver>(*discovery, NetnsBed::kLocalAddress, rackTimings());
        driver->autoMount = false;
        ASSERT_EQ(JSDP_OK, discovery->start(NetnsBed::kLocalMac, NetnsBed::kLocalAddress, NetnsBed::kNetmask))
            << "engine state " << jsdp_getState();
        EXPECT_TRUE(spinUntil([&] { return driver->foundTotal() == kUnits; }, 5000)) << driver->foundTotal();
    }
}

} // namespace

#include "test_device_rack.moc"
