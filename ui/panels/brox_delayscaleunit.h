// The output set-up block of the third-generation Brox panel: the delay
// scale every output delay display follows, the frame rate of the frame
// scale, the word-clock rate, the output impedance and the two headphone
// sources with their meters. GUI thread only.
#pragma once

#include "ui/panels/brox_columnstyle.h"
#include "ui/widgets/zscaled.h"

#include <QList>

class QAction;
class QButtonGroup;
class QMenu;
class ZButton;
class ZMeter;
class ZPopup;
class ControllerForZMeter;
class ControllerForZPopup;

namespace Brox {

class MainDelayScaleUnitOutput : public ZScaledWidget {
    Q_OBJECT
public:
    MainDelayScaleUnitOutput(int deviceType, int inputCount, int outputCount, QWidget* parent = nullptr,
        Qt::WindowFlags flags = Qt::WindowFlags());
    ~MainDelayScaleUnitOutput() override;

    // Null: DEV_E_FAIL; otherwise binds every control.
    virtual JResult setAccessor(Quil::IZDev* accessor);
    // Shows the frame rate of `index` (0..6) and writes it.
    virtual JResult setDelayFrame(int index);

    ZButton* scaleButton(int id) const;
    QButtonGroup* scaleGroup() const { return m_scaleGroup; }
    ZButton* frameRateButton() const { return m_frameButton; }
    QMenu* frameMenu() const { return m_frameMenu; }
    ZScaledLabel* fsLabel() const { return m_fsLabel; }
    ZPopup* leftPhones() const { return m_leftPhones; }
    ZPopup* rightPhones() const { return m_rightPhones; }
    ZButton* impedanceButton() const { return m_impedance; }
    // Runs of the scale and frame-rate followers, for tests of the
    // subscriptions.
    int scaleFollows() const { return m_scaleFollows; }

public slots:
    JResult onScaleBtnClicked(int id);
    JResult onFrameMenuClicked();
    JResult onPhonesPatchSelectedR(int val);
    JResult onPhonesPatchChangedR();
    JResult onPhonesMonoChanged();
    JResult onFsChanged();
    JResult onImpedanceBtnClicked();
    JResult onImpedancePrmChanged();

private slots:
    // The buttons follow a scale or frame rate set elsewhere (the unit, a
    // setup file) without writing it back.
    JResult onDelayScaleParamChanged();
    JResult onDelayFrameParamChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void buildPhones();
    // Checks the scale's button and sets the frame-rate button's state.
    void showScale(int id);
    void showFrame(int index);

    Quil::IZDev* m_accessor = nullptr;
    const int m_type;
    const int m_inputCount;
    const int m_outputCount;
    QButtonGroup* m_scaleGroup;
    ZButton* m_frameButton;
    QMenu* m_frameMenu;
    QList<QAction*> m_frameActions;
    ZScaledLabel* m_fsLabel;
    ZPopup* m_leftPhones = nullptr;
    ZPopup* m_rightPhones = nullptr;
    ZMeter* m_leftMeter = nullptr;
    ZMeter* m_rightMeter = nullptr;
    ZButton* m_impedance = nullptr;
    std::unique_ptr<ControllerForZPopup> m_leftController;
    std::unique_ptr<ControllerForZMeter> m_leftMeterController;
    std::unique_ptr<ControllerForZMeter> m_rightMeterController;
    Subscriptions m_subscriptions;
    int m_scaleFollows = 0;
};

} // namespace Brox
