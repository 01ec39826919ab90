// Shared pieces of the Brox panel tests: a host that records what the
// panels ask of it, and a bed with one simulated Brox unit on loopback
// linked to a real device object, pumped by the test thread.
#pragma once

#include "device/memory/dev_memthread.h"
#include "tests/device/loopback_link.h"
#include "tests/sim/sim_unit.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/recording_dev.h"
#include "ui/panels/uibase.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace broxtest {

struct EditRequest {
    uint32_t unitId;
    int kind;
    int page;
    bool option;
};

class RecordingHost : public IZMainUICallback {
public:
    int openEditWindow(uint32_t unitId, int kind, const QVariant& page, bool option) override
    {
        editRequests.push_back({unitId, kind, page.toInt(), option});
        return 0;
    }
    int closeEditWindows(uint32_t) override { return 0; }
    int showProperties(uint32_t unitId) override
    {
        properties.push_back(unitId);
        return 0;
    }

    std::vector<EditRequest> editRequests;
    std::vector<uint32_t> properties;
};

inline JResult writeText(Quil::IZDev& dev, const char* path, const char* text)
{
    return dev.setValue(QString::fromUtf8(path), JLIB::JVariant(text, 1000), Quil::SOURCE_LINK);
}

inline QString readText(Quil::IZDev& dev, const char* path)
{
    JLIB::JVariant value;
    if (dev.getValue(QString::fromUtf8(path), &value) < 0)
        return QStringLiteral("error");
    bool ok = false;
    const char* text = value.getString(&ok);
    return ok ? QString::fromUtf8(text) : QStringLiteral("not text");
}

// A simulated BroxL-D3 (or the given model) on loopback, associated.
class UnitBed : public testing::Test {
protected:
    void SetUp() override { start(Quil::MODEL_BROXL_D3, "1.1.0"); }
    void TearDown() override { stop(); }

    void stop()
    {
        link.reset();
        if (sim)
            sim->stop();
        sim.reset();
        if (memThread)
            Quil::destroyMemThread();
        memThread = false;
    }

    void start(Quil::ModelType model, const char* paramSetVer)
    {
        ASSERT_TRUE(simtest::simStartPlatform(false));
        // An offline rack of the same test may run the memory thread already.
        memThread = Quil::createMemThread() == 0;
        simtest::SimUnitConfig config;
        config.layoutPath = std::string(QUILLON_SOURCE_DIR) + "/tests/sim/layouts/brox.xml";
        config.meters = {"IO:Current/Dev/InputLevel", "IO:Current/Dev/OutputLevel", "IO:Current/Dev/PhonesLevel"};
        config.meterItems = {32, 24, 2};
        config.devStatus = {{"runmode", "normal"}, {"error", "nothing"}};
        config.devInfo = {{"protocolver", "1.0"}, {"paramsetver", paramSetVer}, {"version", "V1.30"},
            {"productname", "BroxL-D3"}, {"manufacturer", "Quillon"}, {"category", "IO"}, {"deviceid", "5"},
            {"devicename", "Stage"}, {"inputport", "32"}, {"outputport", "24"}};
        std::string why;
        sim = std::make_unique<simtest::SimUnit>();
        ASSERT_EQ(0, sim->start(config, &why)) << why;
        link = std::make_unique<devtest::Link>(model);
        // As the rack does for a found unit: its device information is read
        // only once it has an address.
        link->dev.setAddress(QStringLiteral("127.0.0.1"), sim->port());
        ASSERT_TRUE(link->connectAndAssociate(sim->port()));
    }

    // Pumps the link and the GUI until pred holds (bounded).
    template <typename Pred> bool pumpUntil(Pred pred, int ms = 5000) { return link->pumpUntil(pred, ms); }
    void settle(int ms = 150)
    {
        link->pumpUntil([] { return false; }, ms);
    }

    int32_t unitValue(const char* address, int32_t x)
    {
        const int32_t index = sim->memory().indexOfAddress(address);
        JLIB::JVariant value;
        if (sim->memory().read(simtest::SimCell{index, x, 0}, &value) < 0)
            return INT32_MIN;
        return static_cast<int32_t>(value.toInteger());
    }
    uint64_t sets()
    {
        const auto stats = sim->stats();
        const auto it = stats.words.find("set");
        return it == stats.words.end() ? 0 : it->second;
    }

    bool memThread = false;
    simtest::SimUnit& unit() { return *sim; }

    std::unique_ptr<simtest::SimUnit> sim;
    std::unique_ptr<devtest::Link> link;
};

} // namespace broxtest
