// The dialogs' test bed: a real rack owner (rack fixture) whose slots are
// found, mounted and connected, through the discovery front, the
// connection threads and SCP, to simulated units on loopback addresses.
#pragma once

#include "tests/support/gui/gui_support.h"
#include "tests/support/rack_fixture.h"

#include "device/layouts/dev_modeltypes.h"
#include "tests/sim/sim_unit.h"

#include <QLabel>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

namespace dlgtest {

// A unit of `type` as the simulated unit answers it: the family's layout,
// device information and a normal run mode.
simtest::SimUnitConfig unitConfig(Quil::ModelType type);

class DialogBed {
public:
    DialogBed();
    ~DialogBed();

    bool ready() const { return m_fixture.ready(); }
    const std::string& error() const { return m_error; }
    Quil::QuilObject& rack() { return m_fixture.rack(); }
    racktest::RackFixture& fixture() { return m_fixture; }

    // Starts a unit for `slot` (device id slot + 1), announces it and waits
    // until the rack has mounted it and, when `connect` is set, connected
    // it. Null (and error()) when it did not come.
    simtest::SimUnit* addUnit(
        int slot, Quil::ModelType type, const simtest::SimUnitConfig& config, bool connect = true);
    simtest::SimUnit* addUnit(int slot, Quil::ModelType type) { return addUnit(slot, type, unitConfig(type)); }

    // A slot's memory value as a number (INT32_MIN when unreadable) or text.
    int32_t value(int slot, const QString& path);
    QString text(int slot, const QString& path);
    // Writes as the link does (source 2).
    bool writeAsLink(int slot, const QString& path, int32_t value);

private:
    racktest::RackFixture m_fixture;
    std::vector<std::unique_ptr<simtest::SimUnit>> m_units;
    std::string m_error;
};

// Writes down every new text a label shows, by following a Received flag
// the dialog follows too: the dialog subscribed first, so its notification
// runs first and the label already shows the reply.
class LabelTrail : public QObject {
    Q_OBJECT
public:
    explicit LabelTrail(QLabel* label);
    bool follow(Quil::QuilObject& rack, int slot, const char* path);
    QStringList texts;
public slots:
    void changed();

private:
    QLabel* m_label;
    QString m_last;
};

// The value of a unit's own memory cell (SCP address, x) as a number.
int32_t unitValue(simtest::SimUnit& unit, const std::string& address, int32_t x);
// Request lines of one word the unit has answered or dropped.
uint64_t wordCount(simtest::SimUnit& unit, const char* word);

} // namespace dlgtest
