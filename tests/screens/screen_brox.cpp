// The Brox and Pell main panels of every type (both views of the
// third-generation units) and their edit windows, on offline units with a
// few values set so the controls show something.
#include "tests/screens/screens.h"

#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "ui/panels/brox_uiedit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/widgets/zbutton.h"

#include <memory>

namespace screens {
namespace {

class NoHost : public IZMainUICallback {
public:
    int openEditWindow(uint32_t, int, const QVariant&, bool) override { return 0; }
    int closeEditWindows(uint32_t) override { return 0; }
    int showProperties(uint32_t) override { return 0; }
};

NoHost host;

// An offline unit that lives as long as the widget showing it, so it goes
// before the program's memory thread does.
class UnitHolder : public QObject {
public:
    UnitHolder(QObject* parent, int type)
        : QObject(parent)
        , unit(0, static_cast<Quil::ModelType>(type))
    {
    }
    Quil::DevObject unit;
};

Quil::DevObject* unitOf(int type, QObject* owner)
{
    Quil::DevObject* unit = &(new UnitHolder(owner, type))->unit;
    auto set = [unit](const QString& path, int value) {
        unit->setValue(path, JLIB::JVariant(static_cast<int32_t>(value)), Quil::SOURCE_LINK);
    };
    for (int i = 0; i < 32; ++i) {
        set(QStringLiteral("/Backup/InCh:%1/HAGain:0").arg(i), (i * 7) % 60);
        set(QStringLiteral("/Backup/InCh:%1/48VOn:0").arg(i), i % 3 == 0);
        set(QStringLiteral("/Backup/InCh:%1/HPFOn:0").arg(i), i % 4 == 1);
        set(QStringLiteral("/Backup/InCh:%1/GainCompOn:0").arg(i), i % 2);
    }
    for (int i = 0; i < 16; ++i) {
        set(QStringLiteral("/Backup/OutCh:%1/DelayTime:0").arg(i), 480 * i);
        set(QStringLiteral("/Backup/OutCh:%1/DelayOn:0").arg(i), i % 2);
    }
    set(QStringLiteral("/Current/Dev:0/WordclockFs:0"), 48000);
    set(QStringLiteral("/Backup/OutputSetup:0/DelayScale:0"), 3);
    unit->setValue(QStringLiteral("/Current/Dev:0/OutputImpedance:0"), JLIB::JVariant("600", 4), Quil::SOURCE_LINK);
    return unit;
}

ScreenFactory mainPanel(int type, bool outputView)
{
    return [type, outputView](ZoomCode code) {
        auto panel = std::make_unique<Brox::UIMain>(type);
        panel->init(0, unitOf(type, panel.get()), &host);
        if (outputView)
            panel->outputButton()->click(); // as the user does, so the buttons agree

        panel->applyScale(code);
        return std::unique_ptr<QWidget>(std::move(panel));
    };
}

ScreenFactory editWindow(int type, bool option)
{
    return [type, option](ZoomCode code) {
        auto window = std::make_unique<Brox::UIEdit>(type, nullptr, Qt::Dialog, option);
        window->init(0, unitOf(type, window.get()), &host);
        window->applyScale(code);
        return std::unique_ptr<QWidget>(std::move(window));
    };
}

struct Registrations {
    Registrations()
    {
        for (int type : {1, 2, 3, 4, 7, 8, 9, 10, 11, 12}) {
            registry().push_back({QStringLiteral("brox_main_type%1").arg(type), mainPanel(type, false), nullptr});
            if (type >= 11)
                registry().push_back(
                    {QStringLiteral("brox_main_type%1_output").arg(type), mainPanel(type, true), nullptr});
        }
        for (int type : {1, 2, 3, 7, 8, 9, 10, 11, 12})
            registry().push_back({QStringLiteral("brox_edit_type%1").arg(type), editWindow(type, false), nullptr});
        for (int type : {11, 12})
            registry().push_back(
                {QStringLiteral("brox_edit_type%1_output").arg(type), editWindow(type, true), nullptr});
    }
};

const Registrations registrations;

} // namespace
} // namespace screens
