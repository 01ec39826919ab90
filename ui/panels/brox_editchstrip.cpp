#include "ui/panels/brox_editchstrip.h"

#include "pbd/jlib/jvariant.h"
#include "ui/bind/converters.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zmeter.h"

#include <QEvent>

namespace Brox {

namespace {

constexpr int kStripWidth = 64;
constexpr int kStripHeight = 305;
constexpr int kGainStep = 100;
constexpr int kDelayStep = 20;

} // namespace

// ---- input strips

InputStripBase::InputStripBase(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
{
    resizeScaled(kStripWidth, kStripHeight);
    m_phantom = makeSwitchButton(this, QRect(3, 27, 56, 20), QStringLiteral(":brox/images/tbtn_+48V.png"));
    m_gainKnob = makeKnob(this, QRect(4, 52, 42, 42));
    m_meter = makeMeter(this, QPoint(48, 50));
    m_gainValue = makeValueDisplay(this, QRect(5, 96, 52, 16));
    m_hpfKnob = makeKnob(this, QRect(10, 208, 42, 42), true);
    m_hpfValue = makeValueDisplay(this, QRect(5, 252, 52, 16));
    m_hpf = makeSwitchButton(this, QRect(3, 285, 56, 20), QStringLiteral(":brox/images/tbtn_HPF.png"));
    m_gainKnob->installEventFilter(this);
}

JResult InputStripBase::setAccessor(Quil::IZDev* accessor)
{
    if (!accessor)
        return DEV_E_FAIL;
    m_accessor = accessor;
    return bind();
}

JResult InputStripBase::setChannel(int channel)
{
    m_channel = channel;
    showLabel();
    return m_accessor ? bind() : 0;
}

void InputStripBase::tabWidgets(QList<QWidget*>* widgets) const
{
    widgets->clear();
    widgets->append(m_gainKnob);
    widgets->append(m_gainValue);
    widgets->append(m_hpfKnob);
    widgets->append(m_hpfValue);
}

JResult InputStripBase::bind()
{
    showLabel();
    const QString gain = inputPath(m_channel, "HAGain");
    const QString frequency = inputPath(m_channel, "HPFFreq");
    m_bindings.button(m_phantom, m_accessor, inputPath(m_channel, "48VOn"));
    m_bindings.dial(m_gainKnob, m_accessor, gain, 1);
    m_bindings.display(m_gainValue, m_accessor, gain, ParamConverterAGain::instance());
    m_bindings.button(m_hpf, m_accessor, inputPath(m_channel, "HPFOn"));
    m_bindings.meter(m_meter, m_accessor, "Dev/InputLevel", m_channel);
    m_bindings.dial(m_hpfKnob, m_accessor, frequency, 1);
    m_bindings.display(m_hpfValue, m_accessor, frequency, ParamConverterHpfFreq::instance());
    bindOwn();
    return 0;
}

bool InputStripBase::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_gainKnob && event->type() == QEvent::ContextMenu) {
        emit haGainContextRequest();
        return true;
    }
    return ZScaledWidget::eventFilter(watched, event);
}

EditChStrip::EditChStrip(QWidget* parent, Qt::WindowFlags flags)
    : InputStripBase(parent, flags)
{
    m_identify = makeIdentifyButton(this, QRect(0, 0, 64, 19));
    m_compensation = makeValueDisplay(this, QRect(5, 148, 52, 16), false);
    m_compensation->setEditable(false);
    m_gc = makeSwitchButton(this, QRect(3, 166, 56, 20), QStringLiteral(":brox/images/tbtn_GC.png"));
    connect(m_gc, &QPushButton::toggled, this, &EditChStrip::onGcOnChanged);
    connect(m_identify, &QPushButton::pressed, this, &EditChStrip::onIdentifyOn);
    connect(m_identify, &QPushButton::released, this, &EditChStrip::onIdentifyOff);
    showLabel();
    onGcOnChanged(m_gc->isChecked());
}

void EditChStrip::showLabel()
{
    m_identify->setText(QString::number(m_channel + 1));
}

void EditChStrip::bindOwn()
{
    m_bindings.display(m_compensation, m_accessor, inputPath(m_channel, "CompGain"), ParamConverterAGain::instance());
    m_bindings.button(m_gc, m_accessor, inputPath(m_channel, "GainCompOn"));
    onGcOnChanged(m_gc->isChecked());
}

void EditChStrip::onGcOnChanged(bool)
{
    m_compensation->setVisible(m_gc->isChecked());
}

JResult EditChStrip::onIdentifyOn()
{
    return writeIdentify(m_accessor, m_channel, false, 1);
}

JResult EditChStrip::onIdentifyOff()
{
    return writeIdentify(m_accessor, m_channel, false, 0);
}

// ---- output strip

EditChStripOutput::EditChStripOutput(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
{
    resizeScaled(kStripWidth, kStripHeight);
    m_identify = makeIdentifyButton(this, QRect(0, 0, 64, 19));
    m_polarity = makeSwitchButton(this, QRect(3, 27, 56, 20), QStringLiteral(":brox/images/tbtn_phase.png"));
    m_gainKnob = makeKnob(this, QRect(4, 52, 42, 42));
    m_gainKnob->setSingleStep(kGainStep);
    m_meter = makeMeter(this, QPoint(48, 50));
    m_gainValue = makeValueDisplay(this, QRect(5, 96, 52, 16));
    m_delaySwitch = makeSwitchButton(this, QRect(3, 166, 56, 20), QStringLiteral(":brox/images/tbtn_delay.png"));
    m_delayMs = makeValueDisplay(this, QRect(5, 192, 52, 16));
    m_msLabel = makeUnitLabel(this, QRect(2, 206, 52, 16));
    m_msLabel->setText(QStringLiteral("ms"));
    m_delayKnob = makeKnob(this, QRect(10, 224, 42, 42));
    m_delayKnob->setSingleStep(kDelayStep);
    m_delayValue = makeValueDisplay(this, QRect(5, 270, 52, 16));
    m_unitLabel = makeUnitLabel(this, QRect(2, 284, 52, 16));
    m_identify->setText(channelLabel(m_channel, true));
    connect(m_identify, &QPushButton::pressed, this, &EditChStripOutput::onIdentifyOn);
    connect(m_identify, &QPushButton::released, this, &EditChStripOutput::onIdentifyOff);
}

JResult EditChStripOutput::setAccessor(Quil::IZDev* accessor)
{
    if (!accessor)
        return DEV_E_FAIL;
    m_accessor = accessor;
    return bind();
}

JResult EditChStripOutput::setChannel(int channel)
{
    m_channel = channel;
    m_identify->setText(channelLabel(channel, true));
    return m_accessor ? bind() : 0;
}

void EditChStripOutput::tabWidgets(QList<QWidget*>* widgets) const
{
    widgets->clear();
    widgets->append(m_gainKnob);
    widgets->append(m_gainValue);
    widgets->append(m_delayKnob);
    widgets->append(m_delayMs);
}

JResult EditChStripOutput::bind()
{
    m_identify->setText(channelLabel(m_channel, true));
    const QString gain = outputPath(m_channel, "GainLevel");
    const QString delay = outputPath(m_channel, "DelayTime");
    m_bindings.button(m_polarity, m_accessor, outputPath(m_channel, "Polarity"));
    m_bindings.dial(m_gainKnob, m_accessor, gain, 1);
    m_bindings.display(m_gainValue, m_accessor, gain, ParamConverterOutGain::instance());
    m_bindings.meter(m_meter, m_accessor, "Dev/OutputLevel", m_channel);
    m_bindings.button(m_delaySwitch, m_accessor, outputPath(m_channel, "DelayOn"));
    m_bindings.dial(m_delayKnob, m_accessor, delay, kDelayStep);
    m_bindings.display(m_delayMs, m_accessor, delay, ParamConverterDelayMs::instance());
    subscribeDelayTriggers(m_accessor, this, &m_subscriptions);
    onDelayScaleChanged();
    return 0;
}

JResult EditChStripOutput::onIdentifyOn()
{
    return writeIdentify(m_accessor, m_channel, true, 1);
}

JResult EditChStripOutput::onIdentifyOff()
{
    return writeIdentify(m_accessor, m_channel, true, 0);
}

JResult EditChStripOutput::onDelayScaleChanged()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    ++m_rebinds;
    rebindDelayDisplay(m_accessor, m_channel, &m_delayScale, &m_bindings, m_delayValue, m_unitLabel);
    // With the ms scale the chosen-unit display already shows milliseconds.
    const bool showMs = m_delayScale != DELAY_UNIT_MS;
    m_delayMs->setVisible(showMs);
    m_msLabel->setVisible(showMs);
    return 0;
}

JResult EditChStripOutput::onDelayFrameChanged()
{
    return onDelayScaleChanged();
}

JResult EditChStripOutput::onFsChanged()
{
    return onDelayScaleChanged();
}

} // namespace Brox

namespace Pell {

EditChStrip::EditChStrip(QWidget* parent, Qt::WindowFlags flags)
    : Brox::InputStripBase(parent, flags)
{
    m_label = new ZScaledLabel(this);
    m_label->setFontScaled(Brox::panelFont());
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, QColor(180, 180, 180));
    m_label->setPalette(palette);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setGeometryScaled(0, 0, 64, 19);
    showLabel();
}

void EditChStrip::showLabel()
{
    m_label->setText(QString::number(m_channel + 1));
}

} // namespace Pell
