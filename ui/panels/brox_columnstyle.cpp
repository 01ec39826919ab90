#include "ui/panels/brox_columnstyle.h"

#include "pbd/jlib/jvariant.h"
#include "ui/bind/controllers.h"
#include "ui/bind/converters.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/panel_images.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zmeter.h"

#include <QRegExpValidator>

namespace Brox {

const char* const kDelayScalePath = "/Backup/OutputSetup:0/DelayScale:0";
const char* const kDelayFramePath = "/Backup/OutputSetup:0/DelayFrame:0";
const char* const kWordclockFsPath = "/Current/Dev:0/WordclockFs:0";
const char* const kPeakHoldPath = "/Backup/MeterSetup:0/PeakHold:0";

namespace {

constexpr int kKnobFrames = 101;
const QColor kIdentifyReleased(180, 180, 180);

} // namespace

QFont arialFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    if (bold)
        font.setWeight(QFont::Bold);
    font.setPixelSize(pixelSize);
    return font;
}

QFont panelFont()
{
    return arialFont(11, true);
}

QString channelLabel(int channel, bool output)
{
    if (output && channel >= kFirstAesChannel)
        return QStringLiteral("AES %1").arg(channel - (kFirstAesChannel - 1));
    return QString::number(channel + 1);
}

ZButton* makeIdentifyButton(QWidget* parent, const QRect& geometry)
{
    auto* button = new ZButton(parent);
    button->setTextEnable(true);
    button->setFontScaled(panelFont());
    button->setReleasedTextColor(kIdentifyReleased);
    button->setPressedTextColor(Qt::white);
    button->setGeometryScaled(geometry);
    return button;
}

ZButton* makeSwitchButton(QWidget* parent, const QRect& geometry, const QString& image, int subImages)
{
    auto* button = new ZButton(parent);
    button->setCheckable(true);
    button->setnSubImages(subImages);
    button->setCombinedImage(Panels::loadPicture(image));
    button->setGeometryScaled(geometry);
    return button;
}

ZDial* makeKnob(QWidget* parent, const QRect& geometry, bool green)
{
    auto* knob = new ZDial(parent);
    knob->setCombinedImage(Panels::loadPicture(
        green ? QStringLiteral(":brox/images/knob_green.png") : QStringLiteral(":brox/images/knob_white.png")));
    knob->setnSubImages(kKnobFrames);
    knob->setGeometryScaled(geometry);
    return knob;
}

ZLabelDisplay* makeValueDisplay(QWidget* parent, const QRect& geometry, bool withValidator)
{
    auto* display = new ZLabelDisplay(parent);
    display->setBackgroundImage(Panels::loadPicture(QStringLiteral(":brox/images/bg_textbox.png")));
    if (withValidator) {
        display->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("^[+-]?[0-9]+[.]?[0-9]*")), display));
    }
    QPalette palette = display->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, Qt::white);
        palette.setColor(group, QPalette::Base, Qt::black);
    }
    display->setPalette(palette);
    display->setFontScaled(panelFont());
    display->setGeometryScaled(geometry);
    return display;
}

ZScaledLabel* makeUnitLabel(QWidget* parent, const QRect& geometry)
{
    auto* label = new ZScaledLabel(parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignRight);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFontScaled(font);
    label->setGeometryScaled(geometry);
    return label;
}

ZMeter* makeMeter(QWidget* parent, const QPoint& frameAt)
{
    auto* frame = new ImagePanel(parent);
    frame->setPixmap(Panels::loadPicture(QStringLiteral(":brox/images/meter_base.png")));
    frame->setGeometryScaled(frameAt.x(), frameAt.y(), 9, 45);
    auto* meter = new ZMeter(frame);
    meter->setMeterImage(Panels::loadPicture(QStringLiteral(":brox/images/meter_value.png")));
    meter->setGeometryScaled(2, 2, 5, 41);
    return meter;
}

QString inputPath(int channel, const char* name)
{
    return QStringLiteral("/Backup/InCh:%1/%2:0").arg(channel).arg(QLatin1String(name));
}

QString outputPath(int channel, const char* name)
{
    if (channel >= kFirstAesChannel) {
        return QStringLiteral("/Backup/OutChAES:%1/%2:0").arg(channel - kFirstAesChannel).arg(QLatin1String(name));
    }
    return QStringLiteral("/Backup/OutCh:%1/%2:0").arg(channel).arg(QLatin1String(name));
}

QString identifyPath(int channel, bool output)
{
    // AES outputs identify through the plain output index.
    return output ? QStringLiteral("/Event/OutCh:%1/Identify:0").arg(channel)
                  : QStringLiteral("/Event/InCh:%1/Identify:0").arg(channel);
}

JResult writeIdentify(Quil::IZDev* accessor, int channel, bool output, int value)
{
    if (!accessor)
        return DEV_E_FAIL;
    return accessor->setValue(identifyPath(channel, output), JLIB::JVariant(static_cast<int32_t>(value)), SOURCE_UI);
}

JResult writeAllInputGains(Quil::IZDev* accessor, int count, bool nominal)
{
    if (!accessor)
        return 0;
    JLIB::JVariant value;
    if (accessor->getDefault(inputPath(0, "HAGain"), &value, nominal) < 0)
        return 0;
    // Each input is written on its own; one refusal does not stop the rest.
    for (int channel = 0; channel < count; ++channel)
        accessor->setValue(inputPath(channel, "HAGain"), value, SOURCE_UI);
    return 0;
}

JResult readInt(Quil::IZDev* accessor, const QString& path, int* value)
{
    JLIB::JVariant v;
    const JResult r = accessor->getValue(path, &v);
    if (r >= 0)
        *value = static_cast<int32_t>(v.toInteger());
    return r;
}

const IStringParamConverter* delayConverterFor(Quil::IZDev* accessor, int scale, QString* unitName)
{
    switch (scale) {
    case DELAY_UNIT_METER:
        *unitName = QStringLiteral("m");
        return ParamConverterDelayMeter::instance();
    case DELAY_UNIT_FEET:
        *unitName = QStringLiteral("feet");
        return ParamConverterDelayFeet::instance();
    case DELAY_UNIT_SAMPLE: {
        int rate = 0;
        if (readInt(accessor, QString::fromLatin1(kWordclockFsPath), &rate) < 0)
            rate = 0;
        *unitName = QStringLiteral("sample");
        return ParamConverterDelaySample::instance(rate);
    }
    case DELAY_UNIT_MS:
        *unitName = QStringLiteral("ms");
        return ParamConverterDelayMs::instance();
    case DELAY_UNIT_FRAME: {
        int index = -1;
        if (readInt(accessor, QString::fromLatin1(kDelayFramePath), &index) < 0)
            index = -1;
        *unitName = QStringLiteral("frame");
        return ParamConverterDelayFrame::instance(index);
    }
    default:
        unitName->clear();
        return nullptr;
    }
}

void Bindings::drop(const QWidget* widget)
{
    m_controllers.erase(widget);
}

JResult Bindings::button(QPushButton* button, Quil::IZDev* accessor, const QString& path)
{
    drop(button);
    auto controller = std::make_unique<ControllerForQPushButton>(nullptr);
    const JResult r = controller->attach(button, accessor, path);
    m_controllers[button] = std::move(controller);
    return r;
}

JResult Bindings::dial(QDial* dial, Quil::IZDev* accessor, const QString& path, unsigned step)
{
    drop(dial);
    auto controller = std::make_unique<ControllerForQDial>(nullptr);
    const JResult r = controller->attach(dial, accessor, path, step);
    m_controllers[dial] = std::move(controller);
    return r;
}

JResult Bindings::display(
    ZLabelDisplay* display, Quil::IZDev* accessor, const QString& path, const IStringParamConverter* converter)
{
    drop(display);
    auto controller = std::make_unique<ControllerForZLabelDisplay>(converter, nullptr);
    const JResult r = controller->attach(display, accessor, path);
    m_controllers[display] = std::move(controller);
    return r;
}

JResult Bindings::meter(ZMeter* meter, Quil::IZDev* accessor, const char* meterPath, int channel)
{
    drop(meter);
    auto controller = std::make_unique<ControllerForZMeter>(ParamConverterMeter41pix::instance(), nullptr);
    const JResult r
        = controller->attach(meter, accessor, QString::fromLatin1(meterPath), static_cast<uint32_t>(channel));
    m_controllers[meter] = std::move(controller);
    return r;
}

} // namespace Brox
