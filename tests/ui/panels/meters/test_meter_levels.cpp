// Strips bound to units linked to simulated units over loopback: the levels
// the units send reach the meters through the 50 ms meter timer, and fall
// back when the units stop.
#include "tests/ui/panels/meters/meters_fixture.h"

#include "device/memory/dev_globaltimers.h"
#include "tests/device/loopback_link.h"
#include "tests/sim/sim_brox.h"
#include "tests/sim/sim_unit.h"
#include "ui/panels/imagepanel.h"
#include "ui/widgets/blinktimer.h"
#include "ui/widgets/zmeter.h"

#include <memory>

namespace {

using namespace Quil;

simtest::SimUnitConfig unitConfig(const char* product, uint32_t inputs, uint32_t outputs)
{
    simtest::SimUnitConfig config;
    config.layoutPath = std::string(QUILLON_SOURCE_DIR) + "/tests/sim/layouts/brox.xml";
    simtest::useBroxAnswers(&config);
    config.meterItems = {inputs, outputs, 2};
    config.devInfo["productname"] = product;
    return config;
}

struct Bench {
    Bench(ModelType type, const simtest::SimUnitConfig& config)
        : link(type)
    {
        std::string why;
        started = unit.start(config, &why) == 0;
    }
    ~Bench() { unit.stop(); }

    simtest::SimUnit unit;
    devtest::Link link;
    bool started = false;
};

bool allAt(const MeterStrip& strip, int block, int count, int level)
{
    for (int i = 0; i < count; ++i)
        if (strip.meters(block).at(i)->value() != level)
            return false;
    return true;
}

TEST_F(MeterWindows, MetersFollowSimulatedUnitsAndFallBackWhenTheyStop)
{
    ASSERT_TRUE(simtest::simStartPlatform(false));
    // The device objects join the meter timer when they are made.
    GlobalTimer().startGlobalTimers();
    Quil::startBlinkTimer();
    ASSERT_NE(nullptr, meterTimer());

    Bench large(MODEL_BROXL_D3, unitConfig("BroxL-D3", 32, 24));
    Bench medium(MODEL_BROXM_D2, unitConfig("BroxM-D2", 16, 8));
    ASSERT_TRUE(large.started && medium.started);
    large.unit.setMeterLevel(111); // 21 steps
    medium.unit.setMeterLevel(127); // full scale
    ASSERT_TRUE(large.link.connectAndAssociate(large.unit.port()));
    ASSERT_TRUE(medium.link.connectAndAssociate(medium.unit.port()));
    ASSERT_GE(large.link.client->mtrStart(0, 50), 0);
    ASSERT_GE(medium.link.client->mtrStart(0, 50), 0);

    // As the rack owner does for a found unit: the name is read from memory.
    large.link.dev.setAddress(QStringLiteral("127.0.0.1"), large.unit.port());
    medium.link.dev.setAddress(QStringLiteral("127.0.0.1"), medium.unit.port());
    MeterStrip first(&host, &large.link.dev, 1);
    MeterStrip second(&host, &medium.link.dev, 2);
    EXPECT_EQ(QStringLiteral("Stage Left"), first.nameText());
    auto pumpUntil = [&](const std::function<bool()>& done) {
        return large.link.pumpUntil([&] {
            medium.link.pump();
            return done();
        });
    };
    EXPECT_TRUE(pumpUntil([&] {
        return allAt(first, 0, 32, 21) && allAt(first, 1, 24, 21) && allAt(first, 2, 2, 21) && allAt(second, 0, 16, 41)
            && allAt(second, 1, 8, 41);
    }));
    // The medium unit's missing channels stay dark.
    EXPECT_EQ(0, second.meters(0).at(16)->value());
    EXPECT_TRUE(second.meterBases(2).at(0)->isHidden());

    // The large unit's signal stops; its meters fall, the other's hold.
    large.unit.setMeterLevel(0);
    EXPECT_TRUE(pumpUntil([&] { return allAt(first, 0, 32, 0) && allAt(first, 1, 24, 0) && allAt(first, 2, 2, 0); }));
    EXPECT_TRUE(allAt(second, 0, 16, 41));
    medium.unit.setMeterLevel(0);
    EXPECT_TRUE(pumpUntil([&] { return allAt(second, 0, 16, 0) && allAt(second, 1, 8, 0); }));
}

} // namespace
