// The SYNC and SYSTEM indicators over an offline-mounted unit: every status
// row (patterns, tooltip, icon), values the table does not hold, failed
// reads, following the memory, and the LEDs at the blink steps.
#include "tests/support/gui/gui_support.h"
#include "tests/support/recording_dev.h"
#include "ui/panels/statusunits.h"
#include "ui/widgets/blinktimer.h"
#include "ui/widgets/zstatedisplay.h"

#include <gtest/gtest.h>

namespace {

using Quil::StatusUnit;

const char* const kSync = "/Current/Dev:0/SyncStatus:0";
const char* const kSystem = "/Current/Dev:0/SystemStatus:0";
const char* const kInfo = ":common/images/ind_icon_info.png";
const char* const kAlert = ":common/images/ind_icon_alert.png";

struct Row {
    int value;
    int first;
    int second;
    const char* tooltip;
    const char* icon;
};

const Row kSyncRows[] = {
    {0, 0, 0, "", ""}, {1, 1, 0, "", ""}, {2, 0, 1, "Under a synchronization.", ""},
    {3, 0, 2, "Wrong Word Clock.", kInfo}, {4, 0, 3, "DANTE port does not have connection.", kAlert},
    {5, 0, 4, "DANTE Connection Error!", kAlert}, {6, 1, 1, "DANTE is not working by GIGA bit.", kAlert},
    {7, 1, 2, "DANTE is working at Secondary.", kAlert}, {8, 1, 3, "Error occurred at Secondary Port.", kAlert},
    {9, 2, 0, "Operation as the word clock leader.", kInfo}, {10, 2, 1, "DANTE is not working by GIGA bit.", kAlert},
    {11, 2, 2, "DANTE is working at Secondary.", kAlert}, {12, 2, 3, "Error occurred at Secondary Port.", kAlert},
    {13, 0, 0, "", kAlert}, {14, 0, 0, "", nullptr}, // beyond the table: icon unchanged
};

const Row kSystemRows[] = {
    {0, 0, 0, "This device is not found.", ""},
    {1, 0, 0, "", ""},
    {2, 1, 0, "", ""},
    {3, 0, 3, "DANTE module error!", kAlert},
    {4, 0, 4, "Illegal MAC Address!", kAlert},
    {5, 1, 3, "Unit Fan has Malfunctioned!", kAlert},
    {6, 1, 4, "Memory Error.", kAlert},
    {7, 0, 1, "Unit ID Duplicated!", kAlert},
    {8, 0, 2, "Illegal DIP Switch Setting.", kAlert},
    {9, 0, 0, "Version mismatch.", kAlert},
    {10, 1, 2, "DANTE audio resource overflow.", kAlert},
    {11, 1, 1, "DANTE setting mismatch compared with the front panel.", kAlert},
    {12, 1, 0, "Power Supply Failed!", kAlert},
    {13, 0, 0, "", kAlert},
    {14, 0, 0, "", nullptr},
};

class StatusIndicators : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rack.memThread); }

    template <class Unit> void checkRows(const char* path, const Row (&rows)[15], int (*level)(int))
    {
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(path) + " " + std::to_string(r.value));
            Unit unit;
            dev.forcedReads.clear();
            if (r.value <= 13)
                ASSERT_GE(rack.linkWrite(0, path, r.value), 0);
            else
                dev.forcedReads[path] = r.value;
            ASSERT_EQ(0, unit.setAccessor(&dev));
            EXPECT_EQ(r.first, unit.firstPattern());
            EXPECT_EQ(r.second, unit.secondPattern());
            EXPECT_EQ(r.tooltip, unit.toolTip().toStdString());
            if (r.icon) {
                EXPECT_EQ(r.icon, unit.iconName().toStdString());
            }
            if (r.value <= 13) {
                const int expected = *r.icon == 0 ? 0 : (r.icon == kInfo ? 2 : 3);
                EXPECT_EQ(expected, level(r.value));
            }
        }
    }

    qtest::OfflineRack rack{{Quil::MODEL_BROXL_D3}};
    qtest::RecordingDev dev{&rack.unit(0)};
};

TEST_F(StatusIndicators, SyncRowsGivePatternsTooltipsAndIcons)
{
    checkRows<Quil::SyncUnit>(kSync, kSyncRows, Quil::syncStatusLevel);
    EXPECT_EQ(3, Quil::syncStatusLevel(200));
    EXPECT_EQ(3, Quil::syncStatusLevel(-1));
}

TEST_F(StatusIndicators, SystemRowsGivePatternsTooltipsAndIcons)
{
    checkRows<Quil::SysUnit>(kSystem, kSystemRows, Quil::systemStatusLevel);
    EXPECT_EQ(3, Quil::systemStatusLevel(200));
}

TEST_F(StatusIndicators, ValuesOutsideTheTableAndFailedReadsShowNothing)
{
    Quil::SyncUnit unit;
    ASSERT_GE(rack.linkWrite(0, kSync, 5), 0);
    ASSERT_EQ(0, unit.setAccessor(&dev));
    ASSERT_EQ(kAlert, unit.iconName().toStdString());
    for (const int value : {14, 255, -1, 1 << 30}) {
        dev.forcedReads[kSync] = value;
        EXPECT_EQ(0, unit.memParamChanged());
        EXPECT_EQ(0, unit.firstPattern());
        EXPECT_EQ(0, unit.secondPattern());
        EXPECT_TRUE(unit.toolTip().isEmpty());
        EXPECT_EQ(kAlert, unit.iconName().toStdString()) << "icon unchanged";
    }
    dev.forcedReads.clear();
    dev.failingReads.insert(kSync);
    EXPECT_LT(unit.memParamChanged(), 0);
    EXPECT_EQ(0, unit.firstPattern());
    EXPECT_TRUE(unit.toolTip().isEmpty());
    Quil::SysUnit none;
    EXPECT_EQ(static_cast<int>(0x80000000u), none.setAccessor(nullptr));
}

TEST_F(StatusIndicators, FollowTheMemoryAndBlinkInStep)
{
    Quil::SyncUnit sync;
    Quil::SysUnit system;
    ASSERT_GE(rack.linkWrite(0, kSync, 1), 0);
    ASSERT_GE(rack.linkWrite(0, kSystem, 2), 0);
    ASSERT_EQ(0, sync.setAccessor(&dev));
    ASSERT_EQ(0, system.setAccessor(&dev));

    ASSERT_GE(rack.linkWrite(0, kSync, 9), 0); // green: two 500 ms flashes
    ASSERT_GE(rack.linkWrite(0, kSystem, 6), 0); // green on, red three 200 ms flashes
    ASSERT_TRUE(qtest::waitUntil([&] { return sync.firstPattern() == 2 && system.secondPattern() == 4; }));
    EXPECT_EQ(kInfo, sync.iconName().toStdString());
    EXPECT_EQ("Memory Error.", system.toolTip().toStdString());

    Quil::BlinkTimer* timer = Quil::blinkTimer();
    ASSERT_NE(nullptr, timer);
    int lit = 0;
    for (uint32_t i = 0; i < Quil::BLINK_STEPS; ++i) {
        timer->onTimeout();
        const uint32_t step = timer->step();
        SCOPED_TRACE("step " + std::to_string(step));
        EXPECT_EQ(Quil::blinkPatternOn(2, step) ? 1 : 0, sync.firstLed()->currentImageIndex());
        EXPECT_EQ(0, sync.secondLed()->currentImageIndex());
        EXPECT_EQ(1, system.firstLed()->currentImageIndex());
        EXPECT_EQ(Quil::blinkPatternOn(4, step) ? 1 : 0, system.secondLed()->currentImageIndex());
        lit += sync.firstLed()->currentImageIndex();
    }
    EXPECT_GT(lit, 0);
    EXPECT_LT(lit, static_cast<int>(Quil::BLINK_STEPS));
    EXPECT_TRUE(dev.writes.empty());
}

TEST_F(StatusIndicators, ASecondAccessorLeavesOneSubscription)
{
    Quil::SysUnit unit;
    ASSERT_EQ(0, unit.setAccessor(&dev));
    ASSERT_EQ(0, unit.setAccessor(&dev));
    const int start = dev.readsOf[kSystem];
    ASSERT_GE(rack.linkWrite(0, kSystem, 7), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return unit.toolTip() == "Unit ID Duplicated!"; }));
    qtest::waitUntil([] { return false; }, 100);
    EXPECT_EQ(1, dev.readsOf[kSystem] - start);
}

} // namespace
