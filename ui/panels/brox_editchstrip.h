// The channel strips of the Brox and Pell edit window: eight of one class
// per window, rebound to other channels when the page changes. GUI thread
// only.
#pragma once

#include "ui/panels/brox_columnstyle.h"
#include "ui/widgets/zscaled.h"

#include <QList>

class ZButton;
class ZDial;
class ZLabelDisplay;
class ZMeter;

class IEditChStrip {
public:
    virtual ~IEditChStrip() = default;
    // Null: DEV_E_FAIL and nothing changes; otherwise binds the strip.
    virtual JResult setAccessor(Quil::IZDev* accessor) = 0;
    // Binds when an accessor is stored, else only stores the channel.
    virtual JResult setChannel(int channel) = 0;
    // The strip's focusable controls in tab order.
    virtual void tabWidgets(QList<QWidget*>* widgets) const = 0;
};

namespace Brox {

// The controls both input strips share: +48V, gain, meter, high-pass.
class InputStripBase : public ZScaledWidget, public IEditChStrip {
    Q_OBJECT
public:
    JResult setAccessor(Quil::IZDev* accessor) override;
    JResult setChannel(int channel) override;
    // Gain knob, gain value, HPF frequency knob, HPF frequency value.
    void tabWidgets(QList<QWidget*>* widgets) const override;

    int channel() const { return m_channel; }
    ZButton* phantomButton() const { return m_phantom; }
    ZDial* gainKnob() const { return m_gainKnob; }
    ZLabelDisplay* gainValue() const { return m_gainValue; }
    ZMeter* meter() const { return m_meter; }
    ZDial* hpfKnob() const { return m_hpfKnob; }
    ZLabelDisplay* hpfValue() const { return m_hpfValue; }
    ZButton* hpfButton() const { return m_hpf; }

signals:
    void haGainContextRequest();

protected:
    InputStripBase(QWidget* parent, Qt::WindowFlags flags);
    bool eventFilter(QObject* watched, QEvent* event) override;
    virtual void showLabel() = 0;
    virtual void bindOwn() { }

    Quil::IZDev* m_accessor = nullptr;
    int m_channel = 0;
    Bindings m_bindings;

private:
    JResult bind();

    ZButton* m_phantom;
    ZDial* m_gainKnob;
    ZMeter* m_meter;
    ZLabelDisplay* m_gainValue;
    ZDial* m_hpfKnob;
    ZLabelDisplay* m_hpfValue;
    ZButton* m_hpf;
};

class EditChStrip : public InputStripBase {
    Q_OBJECT
public:
    explicit EditChStrip(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    ZButton* identifyButton() const { return m_identify; }
    ZLabelDisplay* compensationValue() const { return m_compensation; }
    ZButton* gcButton() const { return m_gc; }

public slots:
    // Shows the compensation value while the GC button is checked; reads the
    // button, not the argument.
    void onGcOnChanged(bool enabled);
    JResult onIdentifyOn();
    JResult onIdentifyOff();

protected:
    void showLabel() override;
    void bindOwn() override;

private:
    ZButton* m_identify;
    ZLabelDisplay* m_compensation;
    ZButton* m_gc;
};

// The output channel strip of the third-generation units.
class EditChStripOutput : public ZScaledWidget, public IEditChStrip {
    Q_OBJECT
public:
    explicit EditChStripOutput(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    JResult setAccessor(Quil::IZDev* accessor) override;
    JResult setChannel(int channel) override;
    // Gain knob, gain value, delay knob, delay value in ms.
    void tabWidgets(QList<QWidget*>* widgets) const override;

    int channel() const { return m_channel; }
    int delayScale() const { return m_delayScale; }
    int rebindCount() const { return m_rebinds; }
    ZButton* identifyButton() const { return m_identify; }
    ZButton* polarityButton() const { return m_polarity; }
    ZDial* gainKnob() const { return m_gainKnob; }
    ZLabelDisplay* gainValue() const { return m_gainValue; }
    ZButton* delaySwitch() const { return m_delaySwitch; }
    ZLabelDisplay* delayMs() const { return m_delayMs; }
    ZScaledLabel* msLabel() const { return m_msLabel; }
    ZDial* delayKnob() const { return m_delayKnob; }
    ZLabelDisplay* delayValue() const { return m_delayValue; }
    ZScaledLabel* unitLabel() const { return m_unitLabel; }

signals:
    // Never emitted: output windows have no gain menu.
    void haGainContextRequest();

public slots:
    JResult onIdentifyOn();
    JResult onIdentifyOff();
    JResult onDelayScaleChanged();
    JResult onDelayFrameChanged();
    JResult onFsChanged();

private:
    JResult bind();

    Quil::IZDev* m_accessor = nullptr;
    int m_channel = 0;
    int m_delayScale = 0;
    int m_rebinds = 0;
    ZButton* m_identify;
    ZButton* m_polarity;
    ZDial* m_gainKnob;
    ZMeter* m_meter;
    ZLabelDisplay* m_gainValue;
    ZButton* m_delaySwitch;
    ZLabelDisplay* m_delayMs;
    ZScaledLabel* m_msLabel;
    ZDial* m_delayKnob;
    ZLabelDisplay* m_delayValue;
    ZScaledLabel* m_unitLabel;
    Bindings m_bindings;
    Subscriptions m_subscriptions;
};

} // namespace Brox

namespace Pell {

// A Pell input strip: no gain compensation, and a plain channel label in
// place of the identify button.
class EditChStrip : public Brox::InputStripBase {
    Q_OBJECT
public:
    explicit EditChStrip(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ZScaledLabel* channelLabel() const { return m_label; }

protected:
    void showLabel() override;

private:
    ZScaledLabel* m_label;
};

} // namespace Pell
