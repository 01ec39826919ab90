#include "ui/panels/brox_delayscaleunit.h"

#include "device/layouts/dev_modeltypes.h"
#include "pbd/jlib/jvariant.h"
#include "ui/bind/controllers.h"
#include "ui/bind/converters.h"
#include "ui/panels/panel_images.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zmeter.h"
#include "ui/widgets/zpopup.h"

#include <QAction>
#include <QButtonGroup>
#include <QMenu>
#include <QPainter>

#include <vector>

namespace Brox {

namespace {

constexpr int kScaleCount = 5;
constexpr int kFrameRateCount = 7;
constexpr uint8_t kSourceHeadphone = 0;
const char* const kLeftAssignPath = "/Backup/Headphone:0/Assign:0";
const char* const kRightAssignPath = "/Backup/Headphone:1/Assign:0";
const char* const kMonoPath = "/Backup/Headphone:0/Mono:0";
const char* const kImpedancePath = "/Current/Dev:0/OutputImpedance:0";

struct ScaleButton {
    int x;
    const char* image;
};
constexpr ScaleButton kScaleButtons[kScaleCount] = {
    {98, ":brox/images/tbtn_meter.png"},
    {186, ":brox/images/tbtn_feet.png"},
    {274, ":brox/images/tbtn_sample.png"},
    {362, ":brox/images/tbtn_msec.png"},
    {450, ":brox/images/tbtn_frame.png"},
};

const char* const kFrameRates[kFrameRateCount] = {"30", "29.97", "25", "24", "60", "59.94", "50"};

struct FsText {
    int rate;
    const char* text;
};
constexpr FsText kFsTexts[] = {{44100, "44.1kHz"}, {48000, "48kHz"}, {88200, "88.2kHz"}, {96000, "96kHz"},
    {176400, "176.4kHz"}, {192000, "192kHz"}};

// The widget's font at the given size, in the panel's Arial: the default
// face is wider and cuts "1127.26" and "frame /s" in their 38-pixel labels.
QFont ownFont(const QWidget* widget, int pixelSize)
{
    QFont font = widget->font();
    font.setFamily(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    return font;
}

ZScaledLabel* makeCaption(QWidget* parent, const QRect& geometry, const QString& text)
{
    auto* label = new ZScaledLabel(parent);
    label->setFontScaled(ownFont(label, 10));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignCenter);
    label->setText(text);
    label->setGeometryScaled(geometry);
    return label;
}

// The 59 headphone sources; the first entry names "no source".
std::vector<ZPopupEntry> phonesEntries(const QString& first, int type, int inputs, int outputs)
{
    std::vector<ZPopupEntry> entries;
    entries.push_back({0, first, true, true});
    for (int n = 1; n <= 32; ++n)
        entries.push_back({n, QStringLiteral("INPUT %1").arg(n), n - 1 < inputs, true});
    for (int n = 1; n <= 16; ++n)
        entries.push_back({32 + n, QStringLiteral("OUTPUT %1").arg(n), n - 1 < outputs, true});
    for (int n = 1; n <= 8; ++n)
        entries.push_back({48 + n, QStringLiteral("AES %1").arg(n), 15 + n < outputs, true});
    // The unit's own Dante channels follow its outputs.
    const Quil::ModelTraits* traits = Quil::modelTraits(type);
    const int firstDante = (traits && traits->outputView ? traits->outputView : 8) + 1;
    entries.push_back({57, QStringLiteral("DANTE %1").arg(firstDante), true, true});
    entries.push_back({58, QStringLiteral("DANTE %1").arg(firstDante + 1), true, true});
    return entries;
}

ZPopup* makePhonesPopup(QWidget* parent, const QRect& geometry, std::vector<ZPopupEntry> entries)
{
    auto* popup = new ZPopup(parent);
    popup->setFocusPolicy(Qt::NoFocus);
    popup->setFontScaled(arialFont(10, false));
    QPalette palette = popup->palette();
    palette.setColor(QPalette::ButtonText, Qt::white);
    popup->setPalette(palette);
    popup->setTextEnable(true);
    popup->setGroupOverride(QStringLiteral("1;8;8;8;8;8;8;8;2"));
    popup->setMenuItemSize(QSize(65, 16));
    popup->setMenuItems(entries);
    popup->setGeometryScaled(geometry);
    return popup;
}

} // namespace

MainDelayScaleUnitOutput::MainDelayScaleUnitOutput(
    int deviceType, int inputCount, int outputCount, QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
    , m_type(deviceType)
    , m_inputCount(inputCount)
    , m_outputCount(outputCount)
{
    resizeScaled(554, 130);
    m_scaleGroup = new QButtonGroup(this);
    for (int id = 0; id < kScaleCount; ++id) {
        ZButton* button = makeSwitchButton(
            this, QRect(kScaleButtons[id].x, 23, 48, 18), QString::fromLatin1(kScaleButtons[id].image));
        m_scaleGroup->addButton(button, id);
    }
    connect(m_scaleGroup, &QButtonGroup::idClicked, this, &MainDelayScaleUnitOutput::onScaleBtnClicked);

    m_frameButton = new ZButton(this);
    m_frameButton->setFocusPolicy(Qt::NoFocus);
    m_frameButton->setTextEnable(true);
    m_frameButton->setFontScaled(ownFont(m_frameButton, 12));
    m_frameButton->setGeometryScaled(502, 23, 42, 11);
    connect(m_frameButton, &QPushButton::clicked, this, &MainDelayScaleUnitOutput::onFrameMenuClicked);
    m_frameMenu = new QMenu(this);
    for (int i = 0; i < kFrameRateCount; ++i) {
        QAction* action = m_frameMenu->addAction(QString::fromLatin1(kFrameRates[i]));
        action->setData(i);
        m_frameActions.append(action);
    }

    makeCaption(this, QRect(147, 14, 38, 38), QStringLiteral("343.59\nm/s"));
    makeCaption(this, QRect(234, 14, 38, 38), QStringLiteral("1127.26\nft/s"));
    m_fsLabel = makeCaption(this, QRect(322, 14, 38, 38), QString());
    // "176.4kHz" is wider than the label; a narrower cut fits every rate.
    QFont narrow = ownFont(m_fsLabel, 10);
    narrow.setStretch(QFont::SemiCondensed);
    m_fsLabel->setFontScaled(narrow);
    makeCaption(this, QRect(502, 34, 38, 13), QStringLiteral("frame /s"));

    const Quil::ModelTraits* traits = Quil::modelTraits(deviceType);
    if (traits && traits->phones > 0)
        buildPhones();
}

MainDelayScaleUnitOutput::~MainDelayScaleUnitOutput() = default;

void MainDelayScaleUnitOutput::buildPhones()
{
    m_leftPhones = makePhonesPopup(
        this, QRect(34, 102, 58, 11), phonesEntries(QStringLiteral("NONE"), m_type, m_inputCount, m_outputCount));
    m_leftMeter = makeMeter(this, QPoint(94, 72));
    m_rightPhones = makePhonesPopup(
        this, QRect(142, 102, 58, 11), phonesEntries(QStringLiteral("MONO"), m_type, m_inputCount, m_outputCount));
    m_rightMeter = makeMeter(this, QPoint(201, 72));
    // Only the user's choice writes: a selection the block sets to show
    // the memory must not turn into a write.
    connect(m_rightPhones, &ZPopup::signalItemSelected, this, &MainDelayScaleUnitOutput::onPhonesPatchSelectedR);

    m_impedance = new ZButton(this);
    m_impedance->setTextEnable(true);
    m_impedance->setFontScaled(ownFont(m_impedance, 12));
    m_impedance->setnSubImages(2);
    m_impedance->setCombinedImage(Panels::loadPicture(QStringLiteral(":brox/images/tbtn_impedance.png")));
    m_impedance->setGeometryScaled(451, 100, 48, 18);
    connect(m_impedance, &QPushButton::clicked, this, &MainDelayScaleUnitOutput::onImpedanceBtnClicked);
}

ZButton* MainDelayScaleUnitOutput::scaleButton(int id) const
{
    return static_cast<ZButton*>(m_scaleGroup->button(id));
}

JResult MainDelayScaleUnitOutput::setAccessor(Quil::IZDev* accessor)
{
    if (!accessor)
        return DEV_E_FAIL;
    m_accessor = accessor;
    m_subscriptions.clear();
    if (m_leftPhones) {
        m_leftController = std::make_unique<ControllerForZPopup>(nullptr);
        m_leftController->attach(m_leftPhones, accessor, QString::fromLatin1(kLeftAssignPath));
    }
    m_subscriptions.add(
        accessor, QString::fromLatin1(kRightAssignPath), this, &MainDelayScaleUnitOutput::onPhonesPatchChangedR);
    onPhonesPatchChangedR();
    m_subscriptions.add(accessor, QString::fromLatin1(kMonoPath), this, &MainDelayScaleUnitOutput::onPhonesMonoChanged);
    onPhonesPatchChangedR();
    if (m_leftMeter) {
        m_leftMeterController = std::make_unique<ControllerForZMeter>(ParamConverterMeter41pix::instance(), nullptr);
        m_leftMeterController->attach(m_leftMeter, accessor, QStringLiteral("Dev/PhonesLevel"), 0);
        m_rightMeterController = std::make_unique<ControllerForZMeter>(ParamConverterMeter41pix::instance(), nullptr);
        m_rightMeterController->attach(m_rightMeter, accessor, QStringLiteral("Dev/PhonesLevel"), 1);
    }
    int scale = 0;
    if (readInt(accessor, QString::fromLatin1(kDelayScalePath), &scale) >= 0) {
        if (QAbstractButton* button = m_scaleGroup->button(scale))
            button->setChecked(true);
        onScaleBtnClicked(scale);
    }
    int frame = 0;
    if (readInt(accessor, QString::fromLatin1(kDelayFramePath), &frame) >= 0)
        setDelayFrame(frame);
    m_subscriptions.add(accessor, QString::fromLatin1(kWordclockFsPath), this, &MainDelayScaleUnitOutput::onFsChanged);
    onFsChanged();
    m_subscriptions.add(
        accessor, QString::fromLatin1(kImpedancePath), this, &MainDelayScaleUnitOutput::onImpedancePrmChanged);
    onImpedancePrmChanged();
    m_subscriptions.add(
        accessor, QString::fromLatin1(kDelayScalePath), this, &MainDelayScaleUnitOutput::onDelayScaleParamChanged);
    m_subscriptions.add(
        accessor, QString::fromLatin1(kDelayFramePath), this, &MainDelayScaleUnitOutput::onDelayFrameParamChanged);
    return 0;
}

void MainDelayScaleUnitOutput::showScale(int id)
{
    const bool frame = id == DELAY_UNIT_FRAME;
    m_frameButton->setEnabled(frame);
    const QColor colour = frame ? QColor(Qt::white) : QColor(Qt::darkGray);
    m_frameButton->setPressedTextColor(colour);
    m_frameButton->setReleasedTextColor(colour);
}

JResult MainDelayScaleUnitOutput::onScaleBtnClicked(int id)
{
    if (!m_accessor)
        return DEV_E_FAIL;
    if (id < 0 || id >= kScaleCount)
        return 0;
    showScale(id);
    m_accessor->setValue(QString::fromLatin1(kDelayScalePath), JLIB::JVariant(static_cast<int32_t>(id)), SOURCE_UI);
    return 0;
}

JResult MainDelayScaleUnitOutput::onDelayScaleParamChanged()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    ++m_scaleFollows;
    int scale = 0;
    if (readInt(m_accessor, QString::fromLatin1(kDelayScalePath), &scale) < 0)
        return 0;
    if (QAbstractButton* button = m_scaleGroup->button(scale)) {
        button->setChecked(true);
        showScale(scale);
    }
    return 0;
}

JResult MainDelayScaleUnitOutput::onFrameMenuClicked()
{
    if (!m_frameMenu)
        return DEV_E_FAIL;
    const QFont saved = m_frameMenu->font();
    m_frameMenu->setFont(ZScale::scaleFont(scale(), 0, saved));
    const QRect button = ZScale::unscaledRect(m_frameButton, scale());
    const QPoint corner = ZScale::scaleSize(scale(), QPoint(button.x(), button.y() + button.height()));
    QAction* chosen = m_frameMenu->exec(mapToGlobal(corner));
    m_frameMenu->setFont(saved);
    if (!chosen)
        return DEV_E_FAIL;
    return setDelayFrame(static_cast<int>(chosen->data().toUInt()));
}

void MainDelayScaleUnitOutput::showFrame(int index)
{
    m_frameButton->setText(m_frameActions.at(index)->text());
}

JResult MainDelayScaleUnitOutput::setDelayFrame(int index)
{
    if (!m_accessor)
        return DEV_E_FAIL;
    if (index < 0 || index >= m_frameActions.size() || !m_frameButton || !m_frameMenu)
        return DEV_E_FAIL;
    showFrame(index);
    m_accessor->setValue(QString::fromLatin1(kDelayFramePath), JLIB::JVariant(static_cast<uint32_t>(index)), SOURCE_UI);
    return 0;
}

JResult MainDelayScaleUnitOutput::onDelayFrameParamChanged()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    int index = 0;
    if (readInt(m_accessor, QString::fromLatin1(kDelayFramePath), &index) >= 0 && index >= 0
        && index < m_frameActions.size())
        showFrame(index);
    return 0;
}

JResult MainDelayScaleUnitOutput::onFsChanged()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    int rate = 0;
    if (readInt(m_accessor, QString::fromLatin1(kWordclockFsPath), &rate) < 0)
        return 0;
    QString text = QStringLiteral("Fs=\n");
    if (rate == 0) {
        m_fsLabel->setText(text);
        return 0;
    }
    for (const FsText& row : kFsTexts) {
        if (row.rate == rate) {
            m_fsLabel->setText(text + QLatin1String(row.text));
            return 0;
        }
    }
    m_fsLabel->setText(text);
    return DEV_E_FAIL;
}

namespace {

QString readText(Quil::IZDev* accessor, const char* path)
{
    JLIB::JVariant value;
    if (accessor->getValue(QString::fromLatin1(path), &value) < 0)
        return QString();
    bool ok = false;
    const char* text = value.getString(&ok);
    return ok && text ? QString::fromUtf8(text) : QString();
}

} // namespace

JResult MainDelayScaleUnitOutput::onImpedanceBtnClicked()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    const bool high = readText(m_accessor, kImpedancePath) == QLatin1String("10k");
    const char* next = high ? "600" : "10k";
    m_accessor->setValue(QString::fromLatin1(kImpedancePath), JLIB::JVariant(next, 4), SOURCE_UI);
    return 0;
}

JResult MainDelayScaleUnitOutput::onImpedancePrmChanged()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    if (m_impedance) {
        const bool low = readText(m_accessor, kImpedancePath) == QLatin1String("600");
        m_impedance->setText(low ? QStringLiteral("600") : QStringLiteral("10k"));
    }
    return 0;
}

JResult MainDelayScaleUnitOutput::onPhonesMonoChanged()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    return onPhonesPatchChangedR();
}

JResult MainDelayScaleUnitOutput::onPhonesPatchChangedR()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    if (!m_rightPhones)
        return 0;
    int mono = 0;
    if (readInt(m_accessor, QString::fromLatin1(kMonoPath), &mono) < 0)
        return 0;
    if (mono != 0) {
        m_rightPhones->setSelectionID(0);
        return 0;
    }
    int assign = 0;
    if (readInt(m_accessor, QString::fromLatin1(kRightAssignPath), &assign) >= 0)
        m_rightPhones->setSelectionID(assign);
    return 0;
}

JResult MainDelayScaleUnitOutput::onPhonesPatchSelectedR(int val)
{
    if (!m_accessor)
        return DEV_E_FAIL;
    const QString mono = QString::fromLatin1(kMonoPath);
    if (val != 0) {
        m_accessor->setValue(mono, JLIB::JVariant(static_cast<int32_t>(0)), kSourceHeadphone);
        m_accessor->setValue(
            QString::fromLatin1(kRightAssignPath), JLIB::JVariant(static_cast<int32_t>(val)), kSourceHeadphone);
    } else {
        m_accessor->setValue(mono, JLIB::JVariant(static_cast<int32_t>(1)), kSourceHeadphone);
    }
    return 0;
}

void MainDelayScaleUnitOutput::paintEvent(QPaintEvent*)
{
    const QPixmap picture = Panels::loadPicture(QStringLiteral(":brox/images/bg_delayscale_output.png"));
    QPainter painter(this);
    if (!picture.isNull())
        painter.drawPixmap(rect(), picture, picture.rect());
}

} // namespace Brox
