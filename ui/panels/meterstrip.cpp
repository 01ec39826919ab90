#include "ui/panels/meterstrip.h"

#include "device/layouts/dev_modeltypes.h"
#include "ui/bind/controllers.h"
#include "ui/bind/converters.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/panel_images.h"
#include "ui/widgets/zmeter.h"

#include <QPalette>

using namespace Quil;

namespace {

const char* const kDeviceNamePath = "/DevInfo/devinfo:0/devicename:0";

constexpr int kScaleWidth = 5;
constexpr int kPictureTop = 13;
constexpr int kPictureHeight = 45;
constexpr int kBaseWidth = 9;

const MeterStrip::BlockSpec kBlocks[MeterStrip::BlockCount] = {
    {"Dev/InputLevel", 32, 5, 8, ":display/images/meter_base.png", ":display/images/meter_value.png"},
    {"Dev/OutputLevel", 24, 4, 8, ":brox/images/meter_base.png", ":brox/images/meter_value.png"},
    {"Dev/PhonesLevel", 2, 2, 2, ":brox/images/meter_base.png", ":brox/images/meter_value.png"},
};

QString nameOf(const DevInfoRecord& info)
{
    return info.devicename.isEmpty() ? info.productname : info.devicename;
}

void setWhiteText(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    widget->setPalette(palette);
}

} // namespace

const MeterStrip::BlockSpec& MeterStrip::blockSpec(int block)
{
    return kBlocks[block];
}

MeterStrip::Channels MeterStrip::channelsOf(ModelType type)
{
    // Sorn, Mavik, an empty slot and anything unknown have no strip meters.
    const ModelTraits* traits = modelTraits(type);
    if (!hasStripMeters(traits))
        return {{0, 0, 0}, false};
    return {{traits->inputs, traits->outputs, traits->phones}, true};
}

MeterStrip::MeterStrip(QWidget* parent, IZDev* accessor, int unitNumber)
    : ZScaledWidget(parent)
{
    resizeScaled(kWidth, kHeight);
    auto* box = new ZScaledFrame(this);
    box->setFrameShape(QFrame::Box);
    box->setGeometryScaled(0, 0, kWidth, kHeight);

    m_number = makeLabel(14, QRect(1, 1, 26, 13), Qt::AlignLeft | Qt::AlignVCenter);
    m_number->setText(QStringLiteral("#") + QString::number(unitNumber));
    m_name = makeLabel(11, QRect(28, 1, 700, 13), Qt::AlignLeft | Qt::AlignVCenter);

    int end = 0;
    for (int block = 0; block < BlockCount; ++block)
        end = buildBlock(block, end);

    setAccessor(accessor);
}

ZScaledLabel* MeterStrip::makeLabel(int pixelSize, const QRect& geometry, Qt::Alignment alignment)
{
    auto* label = new ZScaledLabel(this);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    label->setFontScaled(font);
    setWhiteText(label);
    label->setAlignment(alignment);
    label->setGeometryScaled(geometry);
    return label;
}

int MeterStrip::buildBlock(int block, int start)
{
    const BlockSpec& spec = kBlocks[block];
    BlockWidgets& widgets = m_blocks[block];
    const bool input = block == BlockInput;
    const QPixmap scalePicture = Panels::loadPicture(QStringLiteral(":display/images/meter_scale.png"));
    const QPixmap basePicture = Panels::loadPicture(QString::fromLatin1(spec.basePicture));
    const QPixmap meterPicture = Panels::loadPicture(QString::fromLatin1(spec.meterPicture));

    auto addScale = [&](int x) {
        auto* scale = new ZScaledLabel(this);
        scale->setPixmap(scalePicture);
        scale->setGeometryScaled(x, kPictureTop, kScaleWidth, kPictureHeight);
        widgets.scales.append(scale);
    };

    int a = start + 4;
    if (!input) {
        auto* separator = new ZScaledFrame(this);
        separator->setFrameShape(QFrame::VLine);
        separator->setFrameShadow(QFrame::Sunken);
        QPalette palette = separator->palette();
        // A sunken line draws in the light and dark roles, not the text colour.
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Light, QPalette::Dark})
            palette.setColor(role, Qt::black);
        separator->setPalette(palette);
        separator->setGeometryScaled(a, 2, 2, 63);
        a += 6;
    }
    for (int i = 0; i < spec.meters; ++i) {
        if (i % spec.group == 0) {
            addScale(input ? a + 1 : a);
            a += input ? 7 : 6;
        } else {
            a += 2;
        }
        auto* base = new ImagePanel(this);
        base->setPixmap(basePicture);
        base->setGeometryScaled(a, kPictureTop, kBaseWidth, kPictureHeight);
        auto* meter = new ZMeter(base);
        meter->setMeterImage(meterPicture);
        meter->setGeometryScaled(2, 2, 5, 41);

        QString text;
        if (block == BlockPhones)
            text = i == 0 ? QStringLiteral("L") : QStringLiteral("R");
        else
            text = i % 4 == 0 ? QString::number(i + 1) : QStringLiteral(".");
        ZScaledLabel* label = makeLabel(11, QRect(a - 2, 57, 14, 8), Qt::AlignCenter);
        label->setText(text);

        widgets.bases.append(base);
        widgets.meters.append(meter);
        widgets.labels.append(label);
        a += kBaseWidth;
    }
    addScale(a + 1);
    return a + 7;
}

void MeterStrip::releaseBinding()
{
    for (BlockWidgets& widgets : m_blocks) {
        qDeleteAll(widgets.controllers);
        widgets.controllers.clear();
    }
    m_nameSubscription.clear();
}

bool MeterStrip::setAccessor(IZDev* accessor)
{
    // A strip bound again must not stay fed or notified through the old binding.
    releaseBinding();
    m_accessor = accessor;
    if (!accessor)
        return false;

    DevInfoRecord info;
    accessor->getDeviceInfo(&info);
    const Channels channels = channelsOf(modelTypeFromName(info.productname.toLatin1().constData()));

    m_nameSubscription.add(accessor, QString::fromLatin1(kDeviceNamePath), this, &MeterStrip::updateDeviceName);
    m_name->setText(nameOf(info));

    setVisible(channels.shown);
    for (int block = 0; block < BlockCount; ++block)
        showChannels(block, channels.counts[block]);

    ParamConverterMeter41pix* converter = ParamConverterMeter41pix::instance();
    for (int block = 0; block < BlockCount; ++block) {
        BlockWidgets& widgets = m_blocks[block];
        const QString path = QString::fromLatin1(kBlocks[block].path);
        for (int i = 0; i < widgets.meters.size(); ++i) {
            auto* controller = new ControllerForZMeter(converter, this);
            widgets.controllers.append(controller);
            // A channel the unit lacks has no meter data and is simply not fed.
            controller->attach(widgets.meters[i], accessor, path, static_cast<uint32_t>(i));
        }
    }
    return true;
}

JResult MeterStrip::showChannels(int block, int count)
{
    BlockWidgets& widgets = m_blocks[block];
    const BlockSpec& spec = kBlocks[block];
    if (count < 0 || count > widgets.meters.size())
        return DEV_E_FAIL;
    for (int i = 0; i < widgets.meters.size(); ++i) {
        widgets.bases[i]->setVisible(i < count);
        widgets.labels[i]->setVisible(i < count);
    }
    // A scale stands before every shown group and after the last one.
    for (int j = 0; j < widgets.scales.size(); ++j)
        widgets.scales[j]->setVisible(count > 0 && count >= j * spec.group);
    return 0;
}

void MeterStrip::updateDeviceName()
{
    if (!m_accessor)
        return;
    DevInfoRecord info;
    m_accessor->getDeviceInfo(&info);
    m_name->setText(nameOf(info));
}

const QString MeterStrip::nameText() const
{
    return m_name->text();
}

const QString MeterStrip::numberText() const
{
    return m_number->text();
}
