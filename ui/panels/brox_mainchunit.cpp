#include "ui/panels/brox_mainchunit.h"

#include "pbd/jlib/jvariant.h"
#include "ui/bind/converters.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zmeter.h"

#include <QContextMenuEvent>

namespace Brox {

namespace {

constexpr int kMainDelayStep = 20;

} // namespace

void rebindDelayDisplay(
    Quil::IZDev* accessor, int channel, int* scale, Bindings* bindings, ZLabelDisplay* display, ZScaledLabel* label)
{
    int read = 0;
    if (readInt(accessor, QString::fromLatin1(kDelayScalePath), &read) >= 0)
        *scale = read;
    QString unit;
    const IStringParamConverter* converter = delayConverterFor(accessor, *scale, &unit);
    bindings->drop(display);
    if (converter)
        bindings->display(display, accessor, outputPath(channel, "DelayTime"), converter);
    label->setText(unit);
}

// ---- input column

MainChUnit::MainChUnit(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
{
    resizeScaled(58, 118);
    m_identify = makeIdentifyButton(this, QRect(1, 0, 57, 16));
    m_gainKnob = makeKnob(this, QRect(1, 39, 42, 42));
    m_gainValue = makeValueDisplay(this, QRect(2, 83, 52, 16));
    m_phantom = makeSwitchButton(this, QRect(0, 17, 56, 20), QStringLiteral(":brox/images/tbtn_+48V.png"));
    m_hpf = makeSwitchButton(this, QRect(0, 100, 56, 20), QStringLiteral(":brox/images/tbtn_HPF.png"));
    m_meter = makeMeter(this, QPoint(45, 37));
    m_identify->setText(channelLabel(m_channel, false));
    m_gainKnob->installEventFilter(this);
    connect(m_identify, &QPushButton::pressed, this, &MainChUnit::onIdentifyOn);
    connect(m_identify, &QPushButton::released, this, &MainChUnit::onIdentifyOff);
}

JResult MainChUnit::setAccessor(Quil::IZDev* accessor)
{
    if (!accessor)
        return DEV_E_FAIL;
    m_accessor = accessor;
    return bind();
}

JResult MainChUnit::setChannel(int channel)
{
    m_channel = channel;
    m_identify->setText(channelLabel(channel, false));
    return m_accessor ? bind() : 0;
}

void MainChUnit::tabWidgets(QList<QWidget*>* widgets) const
{
    widgets->clear();
    widgets->append(m_gainKnob);
    widgets->append(m_gainValue);
}

JResult MainChUnit::bind()
{
    m_identify->setText(channelLabel(m_channel, false));
    const QString gain = inputPath(m_channel, "HAGain");
    m_bindings.button(m_phantom, m_accessor, inputPath(m_channel, "48VOn"));
    m_bindings.dial(m_gainKnob, m_accessor, gain, 1);
    m_bindings.display(m_gainValue, m_accessor, gain, ParamConverterAGain::instance());
    m_bindings.button(m_hpf, m_accessor, inputPath(m_channel, "HPFOn"));
    m_bindings.meter(m_meter, m_accessor, "Dev/InputLevel", m_channel);
    return 0;
}

JResult MainChUnit::onIdentifyOn()
{
    return writeIdentify(m_accessor, m_channel, false, 1);
}

JResult MainChUnit::onIdentifyOff()
{
    return writeIdentify(m_accessor, m_channel, false, 0);
}

bool MainChUnit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_gainKnob && event->type() == QEvent::ContextMenu) {
        emit haGainContextRequest();
        return true;
    }
    return ZScaledWidget::eventFilter(watched, event);
}

// ---- output column

MainChUnitOutput::MainChUnitOutput(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
{
    resizeScaled(58, 118);
    m_identify = makeIdentifyButton(this, QRect(1, 0, 57, 16));
    m_delayKnob = makeKnob(this, QRect(1, 39, 42, 42));
    m_delayKnob->setSingleStep(kMainDelayStep);
    m_delayMs = makeValueDisplay(this, QRect(2, 83, 52, 16));
    m_delaySwitch = makeSwitchButton(this, QRect(0, 17, 56, 20), QStringLiteral(":brox/images/tbtn_delay.png"));
    m_delayValue = makeValueDisplay(this, QRect(2, 83, 52, 16));
    m_unitLabel = makeUnitLabel(this, QRect(2, 98, 52, 16));
    m_meter = makeMeter(this, QPoint(45, 37));
    m_identify->setText(channelLabel(m_channel, true));
    m_delayKnob->installEventFilter(this);
    connect(m_identify, &QPushButton::pressed, this, &MainChUnitOutput::onIdentifyOn);
    connect(m_identify, &QPushButton::released, this, &MainChUnitOutput::onIdentifyOff);
}

JResult MainChUnitOutput::setAccessor(Quil::IZDev* accessor)
{
    if (!accessor)
        return DEV_E_FAIL;
    m_accessor = accessor;
    return bind();
}

JResult MainChUnitOutput::setChannel(int channel)
{
    m_channel = channel;
    m_identify->setText(channelLabel(channel, true));
    return m_accessor ? bind() : 0;
}

void MainChUnitOutput::tabWidgets(QList<QWidget*>* widgets) const
{
    widgets->clear();
    widgets->append(m_delayKnob);
    widgets->append(m_delayMs);
}

JResult MainChUnitOutput::bind()
{
    m_identify->setText(channelLabel(m_channel, true));
    const QString delay = outputPath(m_channel, "DelayTime");
    m_bindings.button(m_delaySwitch, m_accessor, outputPath(m_channel, "DelayOn"));
    m_bindings.dial(m_delayKnob, m_accessor, delay, kMainDelayStep);
    m_bindings.display(m_delayMs, m_accessor, delay, ParamConverterDelayMs::instance());
    m_bindings.meter(m_meter, m_accessor, "Dev/OutputLevel", m_channel);
    subscribeDelayTriggers(m_accessor, this, &m_subscriptions);
    onDelayScaleChanged();
    return 0;
}

JResult MainChUnitOutput::onIdentifyOn()
{
    return writeIdentify(m_accessor, m_channel, true, 1);
}

JResult MainChUnitOutput::onIdentifyOff()
{
    return writeIdentify(m_accessor, m_channel, true, 0);
}

JResult MainChUnitOutput::onDelayScaleChanged()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    ++m_rebinds;
    rebindDelayDisplay(m_accessor, m_channel, &m_delayScale, &m_bindings, m_delayValue, m_unitLabel);
    m_delayMs->hide();
    return 0;
}

JResult MainChUnitOutput::onDelayFrameChanged()
{
    return onDelayScaleChanged();
}

JResult MainChUnitOutput::onFsChanged()
{
    return onDelayScaleChanged();
}

bool MainChUnitOutput::eventFilter(QObject* watched, QEvent* event)
{
    // The delay knob has no menu of its own; every event goes on.
    return ZScaledWidget::eventFilter(watched, event);
}

} // namespace Brox
