// The main panel of a Mavik-D unit: the sample-rate converter and its input
// clock, the input rate, the master word clock source and its sampling
// frequency, the external-control state, the input and output frame and
// channel status, and the status indicators. Every control follows its
// memory path by subscription; the buttons write the next value and wait
// for the change to come back. GUI thread only.
#pragma once

#include "ui/panels/uibase.h"
#include "ui/widgets/zscaled.h"

#include <QPixmap>

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

namespace Mavik {

class UIMain : public ZScaledWidget, public IZDevUI {
    Q_OBJECT
public:
    explicit UIMain(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    JResult init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host) override;
    JResult setPage(const QVariant&) override { return 0; }
    JResult setDeviceName(const QString&) override { return 0; }

    ZStateDisplay* srcLed() const { return m_srcLed; }
    ZButton* srcButton() const { return m_srcButton; }
    ZStateDisplayBlink* wclkInLed() const { return m_wclkInLed; }
    ZButton* wclkInButton() const { return m_wclkInButton; }
    ZStateDisplay* inputFsLed(int i) const { return m_inputFsLeds.at(i); }
    ZStateDisplay* inputRateLed(int i) const { return m_inputRateLeds.at(i); }
    ZButton* rateButton() const { return m_rateButton; }
    ZLabelDisplay* inputFrameLabel() const { return m_inFrame; }
    ZLabelDisplay* inputChannelLabel() const { return m_inChannel; }
    ZLabelDisplay* outputFrameLabel() const { return m_outFrame; }
    ZLabelDisplay* outputChannelLabel() const { return m_outChannel; }
    ZStateDisplayBlink* masterWclkLed(int i) const { return m_masterWclkLeds.at(i); }
    ZButton* masterWclkButton() const { return m_masterWclkButton; }
    ZStateDisplayBlink* masterFsLed(int i) const { return m_masterFsLeds.at(i); }
    ZStateDisplay* extCtrlLed() const { return m_extCtrlLed; }
    QAction* propertiesAction() const { return m_properties; }

public slots:
    JResult changeSrcOn();
    JResult changeFsRate();
    JResult changeWclkIn();
    JResult changeMasterWclk();
    JResult srcOnChanged();
    JResult inputRateFsChanged();
    JResult inputRateFsRateChanged();
    JResult wclkInChanged();
    JResult statusInOutChanged();
    JResult extCtrlChanged();
    JResult masterWCLKSelectChanged();
    JResult masterWCLKFsChanged();
    JResult onProperty();

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void build();
    void subscribeAll();
    void refreshAll();
    JResult onOffLed(const char* format, ZStateDisplay* led, ZButton* key = nullptr);
    // Writes the value that follows the current one; shows the refusal of a
    // workgroup manager.
    JResult writeNext(const char* format, const int (&next)[3]);
    void showFs(int fs, bool blink);

    QPixmap m_background;
    Quil::IZDev* m_accessor = nullptr;
    IZMainUICallback* m_host = nullptr;
    uint32_t m_unitId = 0;

    ZStateDisplay* m_srcLed = nullptr;
    ZButton* m_srcButton = nullptr;
    ZStateDisplayBlink* m_wclkInLed = nullptr;
    ZButton* m_wclkInButton = nullptr;
    std::array<ZStateDisplay*, 2> m_inputFsLeds{};
    std::array<ZStateDisplay*, 3> m_inputRateLeds{};
    ZButton* m_rateButton = nullptr;
    ZLabelDisplay* m_inFrame = nullptr;
    ZLabelDisplay* m_inChannel = nullptr;
    ZLabelDisplay* m_outFrame = nullptr;
    ZLabelDisplay* m_outChannel = nullptr;
    std::array<ZStateDisplayBlink*, 3> m_masterWclkLeds{};
    ZButton* m_masterWclkButton = nullptr;
    std::array<ZStateDisplayBlink*, 6> m_masterFsLeds{};
    Quil::SysUnit* m_sysUnit = nullptr;
    Quil::SyncUnit* m_syncUnit = nullptr;
    ZStateDisplay* m_extCtrlLed = nullptr;
    QAction* m_properties = nullptr;

    std::array<int, 2> m_inputFsStates{};
    std::array<int, 3> m_inputRateStates{};
    std::array<int, 3> m_masterWclkStates{};
    std::array<int, 6> m_masterFsStates{};
};

} // namespace Mavik
