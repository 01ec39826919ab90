// A panel's unit for the tests: a simulated Mavik-D or Sorn-D answering SCP
// on loopback, and the real device object linked to it, pumped from the Qt
// event loop as the unit's connection thread would pump it. The unit's own
// edits (setLocal) come back as notifications; what the panel writes lands
// in the unit's memory, where the test reads it.
#pragma once

#include "tests/device/loopback_link.h"

#include "device/memory/dev_memthread.h"
#include "device/memory/dev_object.h"
#include "tests/sim/sim_unit.h"
#include "tests/support/gui/gui_support.h"
#include "ui/panels/uibase.h"

#include <QAction>
#include <QTimer>

#include <set>

#include <string>

namespace iofam {

using devtest::Link;

// The process's memory thread for the life of one bed.
struct MemThreadScope {
    MemThreadScope() { ok = Quil::createMemThread() == 0; }
    ~MemThreadScope()
    {
        if (ok)
            Quil::destroyMemThread();
    }
    bool ok = false;
};

// One parameter as both sides name it.
struct Param {
    const char* unit; // name path on the unit, without "IO:"
    int x; // the unit's element index
    std::string dev; // memory path on our side
};

class UnitBed {
public:
    UnitBed(Quil::ModelType type, const char* layoutFile, const char* runmode = "normal")
        : link(type)
    {
        simtest::SimUnitConfig config;
        config.layoutPath = std::string(QUILLON_SOURCE_DIR) + "/tests/sim/layouts/" + layoutFile;
        config.meters = {};
        config.devStatus = {{"runmode", runmode}, {"error", "nothing"}};
        config.devInfo = {{"productname", layoutFile}, {"devicename", "Rack 2"}};
        std::string why;
        up = memThread.ok && simtest::simStartPlatform(false) && unit.start(config, &why) == 0
            && link.connectAndAssociate(unit.port());
        QObject::connect(&pump, &QTimer::timeout, [this] { link.pump(); });
        pump.start(2);
        QObject::connect(&probe, &QAction::triggered, [this] { ++notified; });
    }
    ~UnitBed()
    {
        pump.stop();
        unit.stop();
    }

    // The unit changes a value itself; true once our memory holds it and the
    // panels had their notifications.
    bool change(const Param& p, int32_t value) { return changeTo(p, JLIB::JVariant(value), std::to_string(value)); }
    bool changeText(const Param& p, const char* text)
    {
        return changeTo(p, JLIB::JVariant(text, 64), std::string("\"") + text + "\"");
    }
    // The unit's value, as text ("error" when it has no such cell).
    std::string unitValue(const Param& p) { return unitValue(p.unit, p.x); }
    std::string unitValue(const char* name, int x)
    {
        JLIB::JVariant v;
        const std::string address = std::string("IO:") + name;
        const JResult r = unit.memory().read(simtest::SimCell{unit.memory().indexOfAddress(address), x, 0}, &v);
        return devtest::textOf(r, v);
    }
    uint64_t received(const char* word) const
    {
        const auto stats = unit.stats();
        const auto it = stats.words.find(word);
        return it == stats.words.end() ? 0 : it->second;
    }
    // The link reports the unit connecting (1) or connected (2).
    void setConnectionState(int32_t state)
    {
        const std::string path = Quil::kConnectionStatePath;
        watch(path);
        const int before = notified;
        link.dev.setValue(QString::fromStdString(path), JLIB::JVariant(state), Quil::SOURCE_LINK);
        qtest::waitUntil([&] { return notified > before; }, 3000);
        settle();
    }
    // A little more of the event loop, for what follows a notification.
    static void settle() { QTest::qWait(20); }

private:
    // Subscribed after the panels, with their key, so its notification is
    // queued behind theirs: once it arrives, the panels have had theirs.
    void watch(const std::string& devPath)
    {
        if (watched.insert(devPath).second)
            link.dev.subscribe(QString::fromStdString(devPath), &probe, 1, SLOT(trigger()));
    }
    bool changeTo(const Param& p, const JLIB::JVariant& value, const std::string& want)
    {
        watch(p.dev);
        if (link.read(p.dev) == want) {
            settle();
            return true;
        }
        const int before = notified;
        if (unit.setLocal(p.unit, p.x, 0, value) < 0)
            return false;
        const bool arrived = qtest::waitUntil([&] { return link.read(p.dev) == want && notified > before; }, 5000);
        settle();
        return arrived;
    }
    QAction probe;
    int notified = 0;
    std::set<std::string> watched;

public:
    MemThreadScope memThread;
    simtest::SimUnit unit;
    Link link;
    QTimer pump;
    bool up = false;
};

// The host's side of a panel: counts Properties requests.
class HostStandIn : public IZMainUICallback {
public:
    int openEditWindow(uint32_t, int, const QVariant&, bool) override { return 0; }
    int closeEditWindows(uint32_t) override { return 0; }
    int showProperties(uint32_t unitId) override
    {
        propertiesOf.push_back(unitId);
        return 0;
    }
    std::vector<uint32_t> propertiesOf;
};

} // namespace iofam
