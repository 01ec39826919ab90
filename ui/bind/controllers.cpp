#include "ui/bind/controllers.h"

#include "device/memory/dev_result.h"
#include "pbd/jlib/jvariant.h"
#include "ui/bind/converters.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zmeter.h"
#include "ui/widgets/zpopup.h"
#include "ui/widgets/zstatedisplay.h"

#include <QDial>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>

using Quil::DEV_E_FAIL;
using Quil::DEV_OK;
using Quil::IZDev;

namespace {

constexpr int kLabelEditLength = 7;

JResult readLimit(
    JResult (IZDev::*get)(const QString&, JLIB::JVariant*), IZDev* accessor, const QString& path, int* value)
{
    JLIB::JVariant v;
    const JResult r = (accessor->*get)(path, &v);
    if (r >= 0)
        *value = static_cast<int32_t>(v.toInteger());
    return r;
}

} // namespace

// ---- binding

void ParamBinding::set(IZDev* accessor, const QString& path)
{
    m_subscription.clear();
    m_accessor = accessor;
    m_path = path;
    m_hasAddress = accessor && Quil::parseMemPath(path, &m_address) >= 0;
}

JResult ParamBinding::read(int* value) const
{
    JLIB::JVariant v;
    JResult r = DEV_E_FAIL;
    if (const Quil::MemAddress* at = address())
        r = m_accessor->getValueAt(*at, &v);
    else if (m_accessor)
        r = m_accessor->getValue(m_path, &v);
    if (r >= 0)
        *value = static_cast<int32_t>(v.toInteger());
    return r;
}

JResult ParamBinding::write(int value) const
{
    return write(JLIB::JVariant(static_cast<int32_t>(value)));
}

JResult ParamBinding::write(const JLIB::JVariant& value) const
{
    if (const Quil::MemAddress* at = address())
        return m_accessor->setValueAt(*at, value, Quil::SOURCE_UI);
    return m_accessor ? m_accessor->setValue(m_path, value, Quil::SOURCE_UI) : DEV_E_FAIL;
}

ParamController::ParamController(QObject* parent)
    : QObject(parent)
{
}

JResult ParamController::refresh()
{
    if (!m_binding.isBound() || !hasWidget())
        return DEV_E_FAIL;
    int value = 0;
    const JResult r = m_binding.read(&value);
    if (r >= 0)
        show(value);
    return r;
}

// ---- dial

ControllerForQDial::ControllerForQDial(QObject* parent)
    : ParamController(parent)
{
}

JResult ControllerForQDial::attach(QDial* dial, IZDev* accessor, const QString& path, unsigned step)
{
    m_dial = dial;
    m_binding.set(accessor, path);
    if (!dial || !accessor)
        return DEV_E_FAIL;
    m_step = step;
    int maximum = 0;
    int minimum = 0;
    JResult result = DEV_E_FAIL;
    if (readLimit(&IZDev::getMaximum, accessor, path, &maximum) >= 0) {
        dial->setMaximum(maximum);
        if (readLimit(&IZDev::getMinimum, accessor, path, &minimum) >= 0) {
            dial->setMinimum(minimum);
            if (refresh() >= 0)
                result = follow();
        }
    }
    connect(dial, &QDial::valueChanged, this, &ControllerForQDial::valueChangedSlot);
    dial->installEventFilter(this);
    return result;
}

int ControllerForQDial::roundToStep(int value) const
{
    if (m_step <= 1 || !m_dial)
        return value;
    const int64_t step = m_step;
    const int64_t remainder = ((value % step) + step) % step;
    const int64_t rounded = remainder == 0 ? value : value + (step - remainder);
    return static_cast<int>(std::clamp<int64_t>(rounded, m_dial->minimum(), m_dial->maximum()));
}

void ControllerForQDial::valueChangedSlot(int val)
{
    if (!m_binding.isBound() || m_binding.echoing())
        return;
    const int value = roundToStep(val);
    const JResult r = m_binding.write(value);
    // A refused write, or a rounded one the memory may already hold (and so
    // will not announce), is shown by reading the memory back.
    if (r < 0 || value != val)
        refresh();
}

void ControllerForQDial::show(int value)
{
    if (value != m_dial->value())
        m_binding.showing([&] { m_dial->setValue(value); });
}

void ControllerForQDial::writeDefault(bool nominal)
{
    JLIB::JVariant value;
    if (m_binding.accessor()->getDefault(m_binding.path(), &value, nominal) >= 0)
        m_binding.write(value);
}

bool ControllerForQDial::eventFilter(QObject* watched, QEvent* event)
{
    if (m_binding.isBound() && watched == m_dial) {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ControlModifier))
                writeDefault((mouse->modifiers() & Qt::ShiftModifier) != 0);
        } else if (event->type() == QEvent::MouseMove) {
            // Control held: the press set the default, the dial stays put.
            if (static_cast<QMouseEvent*>(event)->modifiers() & Qt::ControlModifier)
                return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// ---- push button

ControllerForQPushButton::ControllerForQPushButton(QObject* parent)
    : ParamController(parent)
{
}

JResult ControllerForQPushButton::attach(QPushButton* button, IZDev* accessor, const QString& path)
{
    m_button = button;
    m_binding.set(accessor, path);
    if (!button || !accessor)
        return DEV_E_FAIL;
    const JResult r = refresh();
    if (r < 0) {
        button->hide();
        return r;
    }
    button->show();
    const JResult result = follow();
    connect(button, &QPushButton::pressed, this, &ControllerForQPushButton::pressedSlot);
    connect(button, &QPushButton::released, this, &ControllerForQPushButton::releasedSlot);
    connect(button, &QPushButton::toggled, this, &ControllerForQPushButton::toggledSlot);
    return result;
}

void ControllerForQPushButton::show(int value)
{
    m_binding.showing([&] { m_button->setChecked(value != 0); });
}

void ControllerForQPushButton::pressedSlot() { }

void ControllerForQPushButton::releasedSlot() { }

void ControllerForQPushButton::toggledSlot(bool checked)
{
    // A toggle that follows the memory writes nothing: writing it back
    // would turn a stored 2 into 1 and send it to the unit.
    if (!m_binding.isBound() || m_binding.echoing())
        return;
    if (m_binding.write(checked ? 1 : 0) < 0)
        refresh();
}

// ---- label display

ControllerForZLabelDisplay::ControllerForZLabelDisplay(const IStringParamConverter* converter, QObject* parent)
    : ParamController(parent)
{
    m_binding.setConverter(converter);
}

JResult ControllerForZLabelDisplay::attach(ZLabelDisplay* label, IZDev* accessor, const QString& path)
{
    m_label = label;
    m_binding.set(accessor, path);
    if (!label || !accessor || !m_binding.converter())
        return DEV_E_FAIL;
    JResult result = refresh();
    if (result >= 0)
        result = follow();
    connect(label, &ZLabelDisplay::startEdit, this, &ControllerForZLabelDisplay::startEditSlot);
    connect(label, &ZLabelDisplay::abortEdit, this, &ControllerForZLabelDisplay::abortEditSlot);
    connect(label, &ZLabelDisplay::acceptEdit, this, &ControllerForZLabelDisplay::acceptEditSlot);
    return result;
}

void ControllerForZLabelDisplay::show(int value)
{
    QString text;
    m_binding.converter()->toDisplayString(value, &text);
    if (!m_editing)
        m_label->setText(text);
    m_savedText = text;
}

void ControllerForZLabelDisplay::startEditSlot()
{
    if (!m_binding.isBound() || !m_label)
        return;
    m_savedText = m_label->text();
    int value = 0;
    if (m_binding.read(&value) >= 0) {
        QString text;
        m_binding.converter()->toString(value, &text);
        m_label->setText(text);
    }
    m_label->setMaxLength(kLabelEditLength);
    m_editing = true;
}

void ControllerForZLabelDisplay::abortEditSlot()
{
    if (!m_label)
        return;
    m_label->setText(m_savedText);
    m_editing = false;
}

void ControllerForZLabelDisplay::acceptEditSlot()
{
    if (!m_binding.isBound() || !m_label)
        return;
    int value = 0;
    if (m_binding.converter()->fromString(m_label->text(), &value) == CONV_OK)
        m_binding.write(value);
    m_editing = false;
    refresh();
}

// ---- meter

ControllerForZMeter::ControllerForZMeter(const ParamConverterMeter41pix* converter, QObject* parent)
    : QObject(parent)
    , m_converter(converter)
{
}

JResult ControllerForZMeter::attach(ZMeter* meter, IZDev* accessor, const QString& meterPath, uint32_t channel)
{
    m_meter = meter;
    m_shown = false;
    m_binding.set(accessor, meterPath);
    if (!meter || !accessor || !m_converter)
        return DEV_E_FAIL;
    meter->setValue(0);
    meter->setPeakHoldValue(0);
    return m_binding.followMeter(this, channel, &ControllerForZMeter::meterChanged);
}

void ControllerForZMeter::meterChanged(uint8_t peak, uint8_t data)
{
    // The over bit (0x80) is not shown.
    peak &= 0x7F;
    data &= 0x7F;
    if (m_shown && peak == m_shownPeak && data == m_shownData)
        return;
    if (!m_meter)
        return;
    m_shown = true;
    m_shownPeak = peak;
    m_shownData = data;
    int level = 0;
    int peakLevel = 0;
    m_converter->convert(data, &level);
    m_converter->convert(peak, &peakLevel);
    m_meter->setValue(level);
    m_meter->setPeakHold(peakLevel, peakLevel > 0 ? 1 : 0);
}

// ---- popup

ControllerForZPopup::ControllerForZPopup(QObject* parent)
    : ParamController(parent)
{
}

JResult ControllerForZPopup::attach(ZPopup* popup, IZDev* accessor, const QString& path)
{
    m_popup = popup;
    m_binding.set(accessor, path);
    if (!popup || !accessor)
        return DEV_E_FAIL;
    const JResult r = refresh();
    if (r < 0) {
        popup->hide();
        return r;
    }
    popup->show();
    const JResult result = follow();
    connect(popup, &ZPopup::signalItemSelected, this, &ControllerForZPopup::itemSelectedSlot);
    return result;
}

void ControllerForZPopup::show(int value)
{
    m_popup->setSelectionID(value);
}

void ControllerForZPopup::itemSelectedSlot(int id)
{
    if (!m_binding.isBound())
        return;
    // The popup takes the chosen id only after this signal, so a refused
    // write is put back once it has.
    if (m_binding.write(id) < 0)
        QMetaObject::invokeMethod(this, &ControllerForZPopup::memParamChanged, Qt::QueuedConnection);
}

// ---- state display

ControllerForZStateDisplay::ControllerForZStateDisplay(QObject* parent)
    : ParamController(parent)
{
}

JResult ControllerForZStateDisplay::attach(ZStateDisplay* display, IZDev* accessor, const QString& path)
{
    m_display = display;
    m_binding.set(accessor, path);
    if (!display || !accessor)
        return DEV_E_FAIL;
    if (refresh() >= 0)
        follow();
    return DEV_OK;
}

void ControllerForZStateDisplay::show(int value)
{
    m_display->setCurrentImageIndex(value);
}
