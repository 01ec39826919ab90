// The Mavik-D and Sorn-D panels online and offline, the eight routing
// pattern pictures, and the user patch editor with a pattern recalled and
// one slot unlocked.
#include "tests/screens/screens.h"

#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "ui/panels/mavik_uimain.h"
#include "ui/panels/sorn_routingpattern.h"
#include "ui/panels/sorn_uimain.h"
#include "ui/panels/sorn_userpatch.h"
#include "ui/panels/uibase.h"

#include <memory>

namespace screens {
namespace {

class NoHost : public IZMainUICallback {
public:
    int openEditWindow(uint32_t, int, const QVariant&, bool) override { return 0; }
    int closeEditWindows(uint32_t) override { return 0; }
    int showProperties(uint32_t) override { return 0; }
};

// An offline unit that lives as long as the widget showing it.
class UnitHolder : public QObject {
public:
    UnitHolder(QObject* parent, Quil::ModelType type)
        : QObject(parent)
        , unit(0, type)
    {
    }
    void set(const QString& path, int32_t value) { unit.setValue(path, JLIB::JVariant(value), Quil::SOURCE_LINK); }
    void setText(const QString& path, const char* text)
    {
        unit.setValue(path, JLIB::JVariant(text, 64), Quil::SOURCE_LINK);
    }
    Quil::DevObject unit;
    NoHost host;
};

const QString kConnection = QString::fromLatin1(Quil::kConnectionStatePath);

std::unique_ptr<QWidget> mavik(ZoomCode code, bool online)
{
    std::unique_ptr<QWidget> panel(Quil::createUIMain(6, nullptr));
    auto* holder = new UnitHolder(panel.get(), Quil::MODEL_MAVIK_D);
    const std::pair<const char*, int> values[] = {{"/Current/SRC:0/On:0", 1}, {"/Current/SRCInputClock:0/Source:0", 1},
        {"/Current/SRCClock_WCLKIN:0/LockUnlock:0", 1}, {"/Current/SRCClock_MADI:0/LockUnlock:0", 1},
        {"/Current/InputRate:0/Fs:0", 1}, {"/Current/InputRate:0/FsRate:0", 2}, {"/Current/InStatus:0/Frame:0", 1},
        {"/Current/InStatus:0/Channel:0", 0}, {"/Current/OutStatus:0/Frame:0", 0},
        {"/Current/OutStatus:0/Channel:0", 2}, {"/Current/Dev:0/MasterWCLK:0/Sel:0", 2},
        {"/Current/Dev:0/MasterWCLK_WCLKIN:0/LockUnlock:0", 1}, {"/Current/Dev:0/MasterWCLK:0/Fs:0", 3},
        {"/Current/Dev:0/ExtCtrl:0/On:0", 1}};
    for (const auto& [path, value] : values)
        holder->set(QString::fromLatin1(path), value);
    holder->set(kConnection, online ? 2 : 1);
    dynamic_cast<IZDevUI*>(panel.get())->init(1, &holder->unit, &holder->host);
    dynamic_cast<IScaledWidget*>(panel.get())->applyScale(code);
    return panel;
}

std::unique_ptr<QWidget> sorn(ZoomCode code, bool online)
{
    std::unique_ptr<QWidget> panel(Quil::createUIMain(5, nullptr));
    auto* holder = new UnitHolder(panel.get(), Quil::MODEL_SORN_D);
    const char* names[] = {"Lumo-AE", "MADI-X", "0", "Lumo-AE"};
    const int locks[] = {1, 2, 0, 4};
    for (int slot = 0; slot < 4; ++slot) {
        const auto at = [slot](const char* format) { return QString::asprintf(format, slot, 0); };
        holder->setText(at("/Current/Slot:%d/CardName:%d"), names[slot]);
        holder->set(at("/Current/Slot:%d/SLOTLockStatus:%d"), locks[slot]);
        holder->set(at("/Current/Slot:%d/CardSRCEnable:%d"), slot == 0 ? 1 : 0);
        holder->set(at("/Current/Slot:%d/SRCOn:%d"), slot % 2);
        holder->set(at("/Current/Slot:%d/SRCLockStatus:%d"), 1);
        holder->set(at("/Current/Slot:%d/SRCSource:%d"), slot == 1 ? 1 : 0);
        holder->set(at("/Current/Slot:%d/SLOTInputPortNum:%d"), 16);
        holder->set(at("/Current/Slot:%d/SLOTOutputPortNum:%d"), 8);
    }
    holder->set(QStringLiteral("/Current/Dev:0/PowerOn:0"), 1);
    holder->set(QStringLiteral("/Current/Dev:0/PowerOn:1"), 1);
    holder->set(QStringLiteral("/Current/Dev:0/WordClockSelect:0"), 3);
    holder->set(QStringLiteral("/Current/Dev:0/MasterWCLKLockStatus:0"), 1);
    holder->set(QStringLiteral("/Current/Dev:0/RoutingPattern:0"), 5);
    holder->set(kConnection, online ? 2 : 1);
    dynamic_cast<IZDevUI*>(panel.get())->init(1, &holder->unit, &holder->host);
    dynamic_cast<IScaledWidget*>(panel.get())->applyScale(code);
    return panel;
}

std::unique_ptr<QWidget> pattern(ZoomCode code, int index)
{
    auto popup = std::make_unique<Sorn::RoutingPatternPopup>(index);
    popup->applyScale(code);
    return popup;
}

std::unique_ptr<QWidget> userPatch(ZoomCode code)
{
    auto window = std::make_unique<Sorn::UserPatch>(nullptr, Qt::Dialog);
    auto* holder = new UnitHolder(window.get(), Quil::MODEL_SORN_D);
    for (int output = 0; output < Sorn::kPatchSize; ++output)
        holder->set(QString::asprintf("/Backup/Patch:%d/UserPatchSrc:0", output), Sorn::fixedPatternSource(3, output));
    for (int slot = 0; slot < 4; ++slot)
        holder->set(QString::asprintf("/Current/Slot:%d/SLOTLockStatus:0", slot), slot == 1 ? 0 : 1);
    holder->set(kConnection, 2);
    window->setAccessor(&holder->unit);
    window->updatePatch();
    window->grid()->setCurrentMatrixPos({20, 84});
    window->applyScale(code);
    return window;
}

const ScreenRegistrar mavikOnline(
    {QStringLiteral("iofam_mavik_online"), [](ZoomCode c) { return mavik(c, true); }, nullptr});
const ScreenRegistrar mavikOffline(
    {QStringLiteral("iofam_mavik_offline"), [](ZoomCode c) { return mavik(c, false); }, nullptr});
const ScreenRegistrar sornOnline(
    {QStringLiteral("iofam_sorn_online"), [](ZoomCode c) { return sorn(c, true); }, nullptr});
const ScreenRegistrar sornOffline(
    {QStringLiteral("iofam_sorn_offline"), [](ZoomCode c) { return sorn(c, false); }, nullptr});
const ScreenRegistrar patch({QStringLiteral("iofam_sorn_user_patch"), userPatch, nullptr});

struct Patterns {
    Patterns()
    {
        for (int i = 0; i < 8; ++i)
            registry().push_back(
                {QStringLiteral("iofam_sorn_pattern_%1").arg(i), [i](ZoomCode c) { return pattern(c, i); }, nullptr});
    }
};
const Patterns patterns;

} // namespace
} // namespace screens
