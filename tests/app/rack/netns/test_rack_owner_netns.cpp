// The rack owner on a namespace bed: simulated units announce themselves,
// are placed by unit id and connect; a second unit with a connected id waits
// and takes the slot over when the first one stops.
#include "app/app_rackobject.h"
#include "device/memory/dev_object.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/netns.h"
#include "tests/support/rack_fixture.h"
#include "tests/support/unit_process.h"

#include <gtest/gtest.h>

namespace {

using qtest::NetnsBed;
using racktest::RackFixture;

constexpr int kQuiet = 100;

Quil::DiscoveryOptions bedDiscovery()
{
    Quil::DiscoveryOptions o;
    o.ageingTickMs = 50;
    o.ageingTicks = 4;
    o.announcePeriodMs = 200;
    return o;
}

QString keyOf(qtest::UnitProcess& unit)
{
    return QString::fromStdString(unit.unitId() + "-" + unit.mac());
}

qtest::UnitSpec unitSpec(Quil::ModelType type, int host, const char* unitId)
{
    qtest::UnitSpec spec;
    spec.modelType = type;
    spec.host = host;
    spec.unitId = unitId;
    return spec;
}

TEST(RackOwner, AnnouncedUnitsConnectAndASecondUnitOfOneIdTakesOver)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    qtest::UnitRack units(bed);
    ASSERT_TRUE(units.start({unitSpec(Quil::MODEL_BROXL_D3, 2, "J001"), unitSpec(Quil::MODEL_BROXM_D2, 3, "J002")}))
        << units.error();

    RackFixture f(kQuiet, bedDiscovery());
    ASSERT_TRUE(f.ready());
    Quil::QuilObject& rack = f.rack();
    ASSERT_EQ(rack.setNetworkInterface(NetnsBed::kLocalMac, NetnsBed::kLocalAddress, false), 0);
    Quil::HostInterface current;
    ASSERT_EQ(rack.currentNetworkInterface(&current), 0);
    EXPECT_EQ(current.address, NetnsBed::kLocalAddress);

    const auto connectionState = [&](int slot) { return f.value(slot, Quil::kConnectionStatePath); };
    ASSERT_TRUE(RackFixture::spinUntil([&] { return connectionState(0) == 2 && connectionState(1) == 2; }, 20000))
        << connectionState(0) << " " << connectionState(1);
    EXPECT_EQ(f.connectedKey(0), keyOf(units[0]));
    EXPECT_EQ(f.connectedKey(1), keyOf(units[1]));
    EXPECT_EQ(rack.modelType(0), Quil::MODEL_BROXL_D3);
    EXPECT_EQ(rack.modelType(1), Quil::MODEL_BROXM_D2);
    EXPECT_TRUE(rack.isConnected(0));
    EXPECT_TRUE(rack.isConnected(1));

    // The connect command brings a disconnected slot back.
    ASSERT_GE(rack.disconnectSlot(1), 0);
    ASSERT_TRUE(RackFixture::spinUntil([&] { return connectionState(1) == 0; }, 10000));
    ASSERT_GE(rack.connectSlot(1, false), 0);
    EXPECT_TRUE(RackFixture::spinUntil([&] { return connectionState(1) == 2; }, 15000));

    // Another J001: counted, asked about (its slot is mounted), not connected.
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("No"));
    ASSERT_TRUE(units.add(unitSpec(Quil::MODEL_BROXL_D3, 4, "J001"))) << units.error();
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.deviceNum(0) == 2; }, 10000));
    EXPECT_EQ(rack.slotDevices(0), (QStringList{keyOf(units[0]), keyOf(units[2])}));
    EXPECT_EQ(f.connectedKey(0), keyOf(units[0]));
    EXPECT_TRUE(driver.waitAllAnswered());

    // The first one stops: the slot goes to the other after the quiet time.
    units[0].stop();
    ASSERT_TRUE(RackFixture::spinUntil([&] { return f.connectedKey(0) == keyOf(units[2]); }, 15000));
    EXPECT_TRUE(RackFixture::spinUntil([&] { return connectionState(0) == 2; }, 15000));
    EXPECT_EQ(f.deviceNum(0), 1);
    EXPECT_EQ(connectionState(1), 2);
    EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
}

} // namespace
