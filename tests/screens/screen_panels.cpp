// The rack slot strip in every connection picture the rules give, and the
// SYNC and SYSTEM indicators in each of their status rows.
#include "tests/screens/screen_sheet.h"
#include "tests/screens/screens.h"

#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "ui/panels/devlistframe.h"
#include "ui/panels/statusunits.h"

#include <memory>
#include <vector>

namespace screens {
namespace {

// Offline units that live as long as the sheet that shows them.
class Units : public QObject {
public:
    explicit Units(QObject* parent)
        : QObject(parent)
    {
    }
    Quil::DevObject* add(std::initializer_list<std::pair<const char*, int>> values)
    {
        m_units.push_back(std::make_unique<Quil::DevObject>(static_cast<int>(m_units.size()), Quil::MODEL_BROXL_D3));
        for (const auto& [path, value] : values)
            m_units.back()->setValue(QString::fromLatin1(path), JLIB::JVariant(value), Quil::SOURCE_LINK);
        return m_units.back().get();
    }

private:
    std::vector<std::unique_ptr<Quil::DevObject>> m_units;
};

const char* const kSlot = "/DevState/devstate:0/SlotState:0";
const char* const kConnection = "/DevState/devstate:0/ConnectionState:0";
const char* const kDevices = "/DevState/devstate:0/DeviceNum:0";
const char* const kSystem = "/Current/Dev:0/SystemStatus:0";
const char* const kSync = "/Current/Dev:0/SyncStatus:0";

std::unique_ptr<QWidget> slotStrip(ZoomCode code)
{
    Sheet sheet(900);
    auto* units = new Units(sheet.page());
    struct Slot {
        const char* caption;
        const char* label;
        int slotState, connection, devices, system, sync, id;
        bool mounted, selected;
    };
    const Slot rows[] = {
        {"empty", "", 0, 0, 0, 2, 1, -1, false, false},
        {"offline setup", "BroxL-D3", 1, 0, 0, 2, 1, -1, true, false},
        {"placed, not connected", "BroxL-D3", 2, 0, 0, 2, 1, 3, true, false},
        {"connecting", "BroxL-D3", 2, 1, 1, 2, 1, 4, true, false},
        {"online, selected", "BroxL-D3", 2, 2, 1, 2, 1, 5, true, true},
        {"duplicate id", "BroxL-D3", 2, 2, 2, 2, 1, 6, true, false},
        {"online, alert", "BroxL-D3", 2, 2, 1, 5, 4, 127, true, false},
    };
    for (const Slot& s : rows) {
        auto* button = new DevSelFrame(static_cast<unsigned>(&s - rows));
        Quil::DevObject* unit = units->add({{kSlot, s.slotState}, {kConnection, s.connection}, {kDevices, s.devices},
            {kSystem, s.system}, {kSync, s.sync}});
        button->setAccessor(unit);
        button->setLabel(QString::fromLatin1(s.label));
        button->setDeviceId(s.id);
        button->setSelected(s.selected);
        button->setMounted(s.mounted);
        sheet.place(button, QSize(114, 67), QString::fromLatin1(s.caption));
    }
    return sheet.finish(code);
}

template <class Unit> void statusRow(Sheet& sheet, Units* units, const char* path, const char* name)
{
    for (int v = 0; v <= 13; ++v) {
        auto* unit = new Unit;
        unit->setAccessor(units->add({{path, v}}));
        unit->onStateChanged(0);
        sheet.place(unit, QSize(49, 42), QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(v));
    }
    sheet.newRow();
}

std::unique_ptr<QWidget> statusIndicators(ZoomCode code)
{
    Sheet sheet(900);
    auto* units = new Units(sheet.page());
    statusRow<Quil::SyncUnit>(sheet, units, kSync, "SYNC");
    statusRow<Quil::SysUnit>(sheet, units, kSystem, "SYSTEM");
    return sheet.finish(code);
}

const ScreenRegistrar strip({QStringLiteral("panels_slot_strip"), slotStrip, nullptr});
const ScreenRegistrar status({QStringLiteral("panels_status_indicators"), statusIndicators, nullptr});

} // namespace
} // namespace screens
