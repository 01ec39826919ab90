// The channel columns of the Brox and Pell main panel: one per input
// (identify, +48V, gain, HPF, meter) and, on third-generation units, one per
// output (identify, delay switch, delay knob and its value in the chosen
// delay unit, meter). GUI thread only.
#pragma once

#include "ui/panels/brox_columnstyle.h"
#include "ui/widgets/zscaled.h"

#include <QList>

class ZButton;
class ZDial;
class ZLabelDisplay;
class ZMeter;

namespace Brox {

class MainChUnit : public ZScaledWidget {
    Q_OBJECT
public:
    explicit MainChUnit(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // Null: DEV_E_FAIL and nothing changes; otherwise binds the column.
    virtual JResult setAccessor(Quil::IZDev* accessor);
    // Binds when an accessor is stored, else only stores the channel.
    virtual JResult setChannel(int channel);
    // The gain knob and the gain value, in that order.
    virtual void tabWidgets(QList<QWidget*>* widgets) const;

    int channel() const { return m_channel; }
    ZButton* identifyButton() const { return m_identify; }
    ZDial* gainKnob() const { return m_gainKnob; }
    ZLabelDisplay* gainValue() const { return m_gainValue; }
    ZButton* phantomButton() const { return m_phantom; }
    ZButton* hpfButton() const { return m_hpf; }
    ZMeter* meter() const { return m_meter; }

signals:
    void haGainContextRequest();

public slots:
    JResult onIdentifyOn();
    JResult onIdentifyOff();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    JResult bind();

    Quil::IZDev* m_accessor = nullptr;
    int m_channel = 0;
    ZButton* m_identify;
    ZDial* m_gainKnob;
    ZLabelDisplay* m_gainValue;
    ZButton* m_phantom;
    ZButton* m_hpf;
    ZMeter* m_meter;
    Bindings m_bindings;
};

class MainChUnitOutput : public ZScaledWidget {
    Q_OBJECT
public:
    explicit MainChUnitOutput(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    virtual JResult setAccessor(Quil::IZDev* accessor);
    virtual JResult setChannel(int channel);
    // The delay knob and the delay value in ms, in that order.
    virtual void tabWidgets(QList<QWidget*>* widgets) const;

    int channel() const { return m_channel; }
    int delayScale() const { return m_delayScale; }
    ZButton* identifyButton() const { return m_identify; }
    ZDial* delayKnob() const { return m_delayKnob; }
    ZLabelDisplay* delayMs() const { return m_delayMs; }
    ZButton* delaySwitch() const { return m_delaySwitch; }
    ZLabelDisplay* delayValue() const { return m_delayValue; }
    ZScaledLabel* unitLabel() const { return m_unitLabel; }
    ZMeter* meter() const { return m_meter; }
    // Runs of the delay display rebinding, for tests of the subscriptions.
    int rebindCount() const { return m_rebinds; }

signals:
    // Never emitted: output columns have no gain menu.
    void haGainContextRequest();

public slots:
    JResult onIdentifyOn();
    JResult onIdentifyOff();
    JResult onDelayScaleChanged();
    JResult onDelayFrameChanged();
    JResult onFsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    JResult bind();

    Quil::IZDev* m_accessor = nullptr;
    int m_channel = 0;
    int m_delayScale = 0;
    int m_rebinds = 0;
    ZButton* m_identify;
    ZDial* m_delayKnob;
    ZLabelDisplay* m_delayMs;
    ZButton* m_delaySwitch;
    ZLabelDisplay* m_delayValue;
    ZScaledLabel* m_unitLabel;
    ZMeter* m_meter;
    Bindings m_bindings;
    Subscriptions m_subscriptions;
};

// Rebinds `display` to the channel's delay in the unit of the memory's delay
// scale and names the unit on `label`; keeps *scale when the scale cannot be
// read. Shared by the output columns and the edit window's output strips.
void rebindDelayDisplay(
    Quil::IZDev* accessor, int channel, int* scale, Bindings* bindings, ZLabelDisplay* display, ZScaledLabel* label);

// Subscribes the three delay-display triggers (scale, frame rate, word
// clock) of a column, dropping the earlier ones.
template <class Column> void subscribeDelayTriggers(Quil::IZDev* accessor, Column* column, Subscriptions* subscriptions)
{
    subscriptions->clear();
    subscriptions->add(accessor, QString::fromLatin1(kDelayScalePath), column, &Column::onDelayScaleChanged);
    subscriptions->add(accessor, QString::fromLatin1(kDelayFramePath), column, &Column::onDelayFrameChanged);
    subscriptions->add(accessor, QString::fromLatin1(kWordclockFsPath), column, &Column::onFsChanged);
}

} // namespace Brox
