// The main panel of a Sorn-D format converter: four card slots (lock, card
// name, port counts, SRC switch and lock, SRC clock source), the word clock
// selection and lock, both power supplies, the routing pattern, the status
// indicators, and the doors to the routing pattern picture and the user
// patch editor. GUI thread only.
#pragma once

#include "ui/panels/uibase.h"
#include "ui/widgets/zscaled.h"

#include <QPixmap>
#include <QPointer>

#include <array>

class QAction;
class ZButton;
class ZLabelDisplay;
class ZStateDisplay;
class ZStateDisplayBlink;

namespace Quil {
class SyncUnit;
class SysUnit;
} // namespace Quil

namespace Sorn {

class UserPatch;

constexpr int kSlotCount = 4;

class UIMain : public ZScaledWidget, public IZDevUI {
    Q_OBJECT
public:
    explicit UIMain(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~UIMain() override;

    JResult init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host) override;
    JResult setPage(const QVariant&) override { return 0; }
    JResult setDeviceName(const QString&) override { return 0; }
    // An open patch window keeps its place on the screen.
    bool applyScale(ZoomCode code) override;

    // Controls, for the host's tests and screenshots.
    ZStateDisplayBlink* slotLed(int slot) const { return m_slotLeds.at(slot); }
    ZButton* srcButton(int slot) const { return m_srcButtons.at(slot); }
    ZStateDisplay* srcLockLed(int slot) const { return m_srcLockLeds.at(slot); }
    ZLabelDisplay* cardNameLabel(int slot) const { return m_cardNames.at(slot); }
    ZLabelDisplay* inputPortLabel(int slot) const { return m_inputPorts.at(slot); }
    ZLabelDisplay* outputPortLabel(int slot) const { return m_outputPorts.at(slot); }
    ZLabelDisplay* srcSourceLabel(int slot) const { return m_srcSources.at(slot); }
    ZStateDisplayBlink* wordClockLed(int i) const { return m_wordClockLeds.at(i); }
    ZButton* wordClockButton() const { return m_wordClockButton; }
    ZStateDisplay* powerLedA() const { return m_powerA; }
    ZStateDisplay* powerLedB() const { return m_powerB; }
    ZButton* routingPatternButton() const { return m_routingPatternButton; }
    ZButton* userPatternButton() const { return m_userPatternButton; }
    QAction* propertiesAction() const { return m_properties; }
    UserPatch* userPatch() const;

public slots:
    JResult wordClockButtonPressed();
    JResult srcSourceChanged();
    JResult masterWCLKChanged();
    JResult srcLockChanged();
    JResult slotLockChanged();
    JResult cardSRCEnableChanged();
    JResult routingPatternChanged();
    JResult cardNameChanged();
    JResult inputPortNumChanged();
    JResult outputPortNumChanged();
    JResult onProperty();
    JResult openUserPatch();
    JResult onDeleteUserPatch();
    JResult openRoutingPattern();

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void build();
    using Handler = JResult (UIMain::*)();
    void subscribeSlots(const char* format, Handler handler);
    JResult showPortCount(const char* format, const std::array<ZLabelDisplay*, kSlotCount>& labels);
    // True when a slot's row needs nothing more: its lock cannot be read
    // (label kept) or reads 0 (label shows `unlockedText`).
    bool slotIsOut(int slot, ZLabelDisplay* label, const QString& unlockedText);
    QString cardName(int slot, JResult* result);

    QPixmap m_background;
    Quil::IZDev* m_accessor = nullptr;
    IZMainUICallback* m_host = nullptr;
    uint32_t m_unitId = 0;
    int m_wordClockSelect = 0;
    QPointer<UserPatch> m_userPatch;

    Quil::SysUnit* m_sysUnit = nullptr;
    Quil::SyncUnit* m_syncUnit = nullptr;
    std::array<ZStateDisplayBlink*, kSlotCount> m_slotLeds{};
    std::array<ZButton*, kSlotCount> m_srcButtons{};
    std::array<ZStateDisplay*, kSlotCount> m_srcLockLeds{};
    std::array<ZLabelDisplay*, kSlotCount> m_cardNames{};
    std::array<ZLabelDisplay*, kSlotCount> m_inputPorts{};
    std::array<ZLabelDisplay*, kSlotCount> m_outputPorts{};
    std::array<ZLabelDisplay*, kSlotCount> m_srcSources{};
    std::array<ZStateDisplayBlink*, 3> m_wordClockLeds{};
    ZButton* m_wordClockButton = nullptr;
    ZStateDisplay* m_powerA = nullptr;
    ZStateDisplay* m_powerB = nullptr;
    ZButton* m_routingPatternButton = nullptr;
    ZButton* m_userPatternButton = nullptr;
    QAction* m_properties = nullptr;
};

} // namespace Sorn
