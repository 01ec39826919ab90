#include "tests/ui/dialogs/dialog_bed.h"

#include "app/app_rackobject.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "tests/sim/sim_client.h"

#include <unistd.h>

namespace dlgtest {

namespace {

std::string layoutFor(Quil::ModelType type)
{
    const char* name = type == Quil::MODEL_MAVIK_D ? "mavik.xml" : type == Quil::MODEL_SORN_D ? "sorn.xml" : "brox.xml";
    return std::string(QUILLON_SOURCE_DIR) + "/tests/sim/layouts/" + name;
}

bool isBrox(Quil::ModelType type)
{
    return type != Quil::MODEL_MAVIK_D && type != Quil::MODEL_SORN_D;
}

} // namespace

simtest::SimUnitConfig unitConfig(Quil::ModelType type)
{
    const std::string model = Quil::modelNameOf(type) ? Quil::modelNameOf(type) : "";
    simtest::SimUnitConfig config;
    config.layoutPath = layoutFor(type);
    config.model = model;
    if (isBrox(type)) {
        config.meters = {"IO:Current/Dev/InputLevel", "IO:Current/Dev/OutputLevel", "IO:Current/Dev/PhonesLevel"};
        config.meterItems = {};
    } else {
        config.meters = {};
    }
    config.devStatus = {{"runmode", "normal"}, {"error", "nothing"}};
    config.devInfo = {{"protocolver", "1.0"}, {"paramsetver", "2.1"}, {"version", "V1.30"}, {"productname", model},
        {"manufacturer", "Quillon"}, {"category", "IO"}, {"deviceid", "5"}, {"devicename", "Stage Left"},
        {"inputport", "32"}, {"outputport", "24"}};
    return config;
}

DialogBed::DialogBed()
    : m_fixture(50)
{
    if (!simtest::simStartPlatform(false))
        m_error = "the simulated units' platform did not start";
}

DialogBed::~DialogBed()
{
    for (auto& unit : m_units)
        unit->stop();
}

simtest::SimUnit* DialogBed::addUnit(int slot, Quil::ModelType type, const simtest::SimUnitConfig& config, bool connect)
{
    // Loopback addresses are shared with the other test programs running
    // at the same time: take the first free one from a start of our own.
    const int first = static_cast<int>(::getpid() % 200) + slot;
    for (int n = first; n < first + 250; ++n) {
        racktest::UnitAnnouncement unit
            = racktest::loopbackUnit(static_cast<uint16_t>(slot + 1), n % 250, Quil::modelNameOf(type));
        simtest::SimUnitConfig own = config;
        own.address = unit.address;
        own.port = 49280;
        own.mac = unit.mac;
        own.unitId = unit.unitId;
        auto sim = std::make_unique<simtest::SimUnit>();
        std::string why;
        if (sim->start(own, &why) < 0)
            continue;
        m_fixture.announce(unit);
        Quil::QuilObject& rack = m_fixture.rack();
        const bool placed = racktest::RackFixture::spinUntil(
            [&] { return rack.modelType(slot) == type && (!connect || rack.isConnected(slot)); }, 10000);
        if (!placed) {
            m_error = "slot " + std::to_string(slot) + " did not " + (connect ? "connect" : "mount");
            return nullptr;
        }
        m_units.push_back(std::move(sim));
        return m_units.back().get();
    }
    m_error = "no free loopback address for slot " + std::to_string(slot);
    return nullptr;
}

int32_t DialogBed::value(int slot, const QString& path)
{
    JLIB::JVariant v;
    if (rack().getValue(slot, path, &v) < 0)
        return INT32_MIN;
    return static_cast<int32_t>(v.toInteger());
}

QString DialogBed::text(int slot, const QString& path)
{
    JLIB::JVariant v;
    if (rack().getValue(slot, path, &v) < 0 || v.type() != JLIB::JVARIANT_STRING)
        return QString();
    return QString::fromUtf8(v.getString());
}

bool DialogBed::writeAsLink(int slot, const QString& path, int32_t value)
{
    return rack().setValue(slot, path, JLIB::JVariant(value), Quil::SOURCE_LINK) >= 0;
}

LabelTrail::LabelTrail(QLabel* label)
    : m_label(label)
    , m_last(label->text())
{
}

bool LabelTrail::follow(Quil::QuilObject& rack, int slot, const char* path)
{
    Quil::IZDev* device = rack.rackDevice(slot);
    return device && device->subscribe(QString::fromLatin1(path), this, Quil::SUBSCRIBE_KEY, SLOT(changed())) >= 0;
}

void LabelTrail::changed()
{
    if (m_label->text() != m_last) {
        m_last = m_label->text();
        texts.append(m_last);
    }
}

int32_t unitValue(simtest::SimUnit& unit, const std::string& address, int32_t x)
{
    const int32_t index = unit.memory().indexOfAddress(address);
    JLIB::JVariant value;
    if (index < 0 || unit.memory().read(simtest::SimCell{index, x, 0}, &value) < 0)
        return INT32_MIN;
    return static_cast<int32_t>(value.toInteger());
}

uint64_t wordCount(simtest::SimUnit& unit, const char* word)
{
    const auto stats = unit.stats();
    const auto it = stats.words.find(word);
    return it == stats.words.end() ? 0 : it->second;
}

} // namespace dlgtest
