#include "ui/panels/sorn_uimain.h"

#include "device/layouts/dev_devstate.h"
#include "device/memory/dev_subscribe.h"
#include "pbd/jlib/jvariant.h"
#include "ui/bind/controllers.h"
#include "ui/panels/mavik_sorn_common.h"
#include "ui/panels/panel_images.h"
#include "ui/panels/sorn_routingpattern.h"
#include "ui/panels/sorn_userpatch.h"
#include "ui/panels/statusunits.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zstatedisplay.h"

#include <QAction>
#include <QPalette>

namespace Sorn {

namespace {

using IoPanels::path;
using IoPanels::readInt;

const char* const kSRCOn = "/Current/Slot:%d/SRCOn:%d";
const char* const kSRCLockStatus = "/Current/Slot:%d/SRCLockStatus:%d";
const char* const kSlotLockStatus = "/Current/Slot:%d/SLOTLockStatus:%d";
const char* const kCardSRCEnable = "/Current/Slot:%d/CardSRCEnable:%d";
const char* const kSRCSource = "/Current/Slot:%d/SRCSource:%d";
const char* const kInputPortNum = "/Current/Slot:%d/SLOTInputPortNum:%d";
const char* const kOutputPortNum = "/Current/Slot:%d/SLOTOutputPortNum:%d";
const char* const kCardName = "/Current/Slot:%d/CardName:%d";
const char* const kPowerOn = "/Current/Dev:%d/PowerOn:%d";
const char* const kWordClockSelect = "/Current/Dev:%d/WordClockSelect:%d";
const char* const kMasterWCLKLockStatus = "/Current/Dev:%d/MasterWCLKLockStatus:%d";
const char* const kRoutingPattern = "/Current/Dev:%d/RoutingPattern:%d";
const char* const kConnectionState = Quil::kConnectionStatePath;

const QString kNoValue = QStringLiteral("----");
const QString kNoPortCount = QStringLiteral("--");
const QString kLumoAE = QStringLiteral("Lumo-AE");
const QString kNoCard = QStringLiteral("0");

constexpr int kMainPatternCount = 8;
constexpr int kSlotLedFrames = 5;

ZStateDisplay* led(ZStateDisplay* display, int x, int y, const char* image, int frames)
{
    display->setGeometryScaled(x, y, 16, 16);
    display->setCombinedImage(Panels::loadPicture(image));
    display->setnSubImages(frames);
    display->setCurrentImageIndex(0);
    return display;
}

ZButton* switchButton(QWidget* parent, int x, int y)
{
    auto* button = new ZButton(parent);
    button->setCheckable(true);
    button->setCombinedImage(Panels::loadPicture(":sorn/images/btn_SW.png"));
    button->setnSubImages(4);
    button->setGeometryScaled(x, y, 96, 20);
    return button;
}

ZLabelDisplay* valueLabel(QWidget* parent, int x, int y, int width)
{
    auto* label = new ZLabelDisplay(parent);
    label->setGeometryScaled(x, y, width, 28);
    IoPanels::setUpValueLabel(label);
    return label;
}

} // namespace

UIMain::UIMain(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
{
    setFocusPolicy(Qt::ClickFocus);
    m_background = Panels::loadPicture(":sorn/images/bg_dev_SornD.png");
    resizeScaled(750, 410);
    build();
}

UIMain::~UIMain()
{
    // The patch window is top-level, so Qt parenthood does not reach it.
    delete m_userPatch.data();
}

void UIMain::build()
{
    m_sysUnit = new Quil::SysUnit(this);
    m_sysUnit->setGeometryScaled(611, 49, 49, 42);
    m_syncUnit = new Quil::SyncUnit(this);
    m_syncUnit->setGeometryScaled(659, 49, 49, 42);
    for (int i = 0; i < kSlotCount; ++i) {
        const int y = 77 + 39 * i;
        m_slotLeds[i] = static_cast<ZStateDisplayBlink*>(led(new ZStateDisplayBlink(this), 344, 83 + 39 * i,
            ":sorn/images/ind_dev_led_circle_green_red_x2.png", kSlotLedFrames));
        m_srcButtons[i] = switchButton(this, 408, y);
        m_srcLockLeds[i]
            = led(new ZStateDisplay(this), 389, 83 + 39 * i, ":sorn/images/ind_dev_led_circle_red_green.png", 3);
    }
    const int wordClockY[] = {287, 312, 337};
    for (int i = 0; i < 3; ++i)
        m_wordClockLeds[i] = static_cast<ZStateDisplayBlink*>(
            led(new ZStateDisplayBlink(this), 147, wordClockY[i], ":sorn/images/ind_dev_led_circle_green.png", 2));
    m_wordClockButton = switchButton(this, 142, 360);
    m_powerA = led(new ZStateDisplay(this), 631, 367, ":sorn/images/ind_dev_led_circle_green.png", 2);
    m_powerB = led(new ZStateDisplay(this), 670, 367, ":sorn/images/ind_dev_led_circle_yellow.png", 2);
    for (int i = 0; i < kSlotCount; ++i) {
        const int y = 77 + 39 * i;
        m_cardNames[i] = valueLabel(this, 107, y, 126);
        m_inputPorts[i] = valueLabel(this, 243, y, 36);
        m_outputPorts[i] = valueLabel(this, 283, y, 36);
        m_srcSources[i] = valueLabel(this, 447, y, 102);
    }

    m_routingPatternButton = new ZButton(this);
    m_routingPatternButton->setCombinedImage(Panels::loadPicture(":sorn/images/cbtn_black.png"));
    m_routingPatternButton->setnSubImages(2);
    m_routingPatternButton->setTextEnable(true);
    QPalette palette = m_routingPatternButton->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setBrush(group, QPalette::ButtonText, QBrush(QColor(255, 255, 255)));
    m_routingPatternButton->setPalette(palette);
    QFont font = m_routingPatternButton->baseFont();
    font.setPixelSize(12);
    font.setFamily(QStringLiteral("Arial"));
    font.setWeight(75);
    m_routingPatternButton->setFontScaled(font);
    m_routingPatternButton->setGeometryScaled(372, 290, 165, 25);
    connect(m_routingPatternButton, &QPushButton::clicked, this, &UIMain::openRoutingPattern);

    m_userPatternButton = new ZButton(this);
    m_userPatternButton->setCombinedImage(Panels::loadPicture(":sorn/images/cbtn_gray.png"));
    m_userPatternButton->setnSubImages(2);
    m_userPatternButton->setGeometryScaled(372, 352, 165, 25);
    connect(m_userPatternButton, &QPushButton::clicked, this, &UIMain::openUserPatch);

    m_properties = new QAction(QStringLiteral("Properties"), this);
    connect(m_properties, &QAction::triggered, this, &UIMain::onProperty);
}

void UIMain::subscribeSlots(const char* format, Handler handler)
{
    for (int i = 0; i < kSlotCount; ++i)
        Quil::subscribe(m_accessor, path(format, i), this, handler);
}

JResult UIMain::init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host)
{
    if (!accessor || !host)
        return Quil::DEV_E_FAIL;
    m_unitId = unitId;
    m_accessor = accessor;
    m_host = host;
    m_sysUnit->setAccessor(accessor);
    m_syncUnit->setAccessor(accessor);

    for (int i = 0; i < kSlotCount; ++i)
        (new ControllerForQPushButton(this))->attach(m_srcButtons[i], accessor, path(kSRCOn, i));

    subscribeSlots(kSRCOn, &UIMain::srcLockChanged);
    subscribeSlots(kSRCLockStatus, &UIMain::srcLockChanged);
    srcLockChanged();

    subscribeSlots(kSlotLockStatus, &UIMain::slotLockChanged);
    slotLockChanged();

    subscribeSlots(kCardSRCEnable, &UIMain::cardSRCEnableChanged);
    if (cardNameChanged() >= 0)
        srcSourceChanged();

    for (const Handler handler : {&UIMain::srcSourceChanged, &UIMain::cardNameChanged, &UIMain::inputPortNumChanged,
             &UIMain::outputPortNumChanged})
        subscribeSlots(kSlotLockStatus, handler);
    srcSourceChanged();

    subscribeSlots(kSRCSource, &UIMain::srcSourceChanged);
    srcSourceChanged();

    (new ControllerForZStateDisplay(this))->attach(m_powerA, accessor, path(kPowerOn, 0, 0));
    (new ControllerForZStateDisplay(this))->attach(m_powerB, accessor, path(kPowerOn, 0, 1));

    for (const char* format : {kWordClockSelect, kMasterWCLKLockStatus, kConnectionState})
        Quil::subscribe(accessor, path(format), this, &UIMain::masterWCLKChanged);
    masterWCLKChanged();
    connect(m_wordClockButton, &QPushButton::clicked, this, &UIMain::wordClockButtonPressed);

    for (const char* format : {kRoutingPattern, kConnectionState})
        Quil::subscribe(accessor, path(format), this, &UIMain::routingPatternChanged);
    routingPatternChanged();

    subscribeSlots(kInputPortNum, &UIMain::inputPortNumChanged);
    inputPortNumChanged();
    subscribeSlots(kOutputPortNum, &UIMain::outputPortNumChanged);
    outputPortNumChanged();

    subscribeSlots(kCardName, &UIMain::cardNameChanged);
    cardNameChanged();
    return 0;
}

bool UIMain::slotIsOut(int slot, ZLabelDisplay* label, const QString& unlockedText)
{
    int lock = 0;
    if (readInt(m_accessor, path(kSlotLockStatus, slot), &lock) < 0)
        return true;
    if (lock != 0)
        return false;
    label->setText(unlockedText);
    return true;
}

JResult UIMain::slotLockChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    JResult result = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        int lock = 0;
        result = readInt(m_accessor, path(kSlotLockStatus, i), &lock);
        if (result < 0)
            continue;
        // The lamp clamps a value past its frames to its last frame.
        m_slotLeds[i]->setCurrentImageIndex(lock);
        m_slotLeds[i]->setBlink(lock == 2 || lock == 4);
    }
    return result;
}

JResult UIMain::srcLockChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    JResult result = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        int on = 0;
        result = readInt(m_accessor, path(kSRCOn, i), &on);
        if (result < 0)
            continue;
        if (on == 0) {
            m_srcLockLeds[i]->setCurrentImageIndex(0);
            continue;
        }
        int lock = 0;
        result = readInt(m_accessor, path(kSRCLockStatus, i), &lock);
        if (result >= 0)
            m_srcLockLeds[i]->setCurrentImageIndex(lock == 0 ? 1 : 2);
    }
    return result;
}

QString UIMain::cardName(int slot, JResult* result)
{
    JLIB::JVariant value;
    *result = m_accessor->getValue(path(kCardName, slot), &value);
    bool ok = false;
    const char* text = value.getString(&ok);
    return *result >= 0 && ok && text ? QString::fromUtf8(text) : QString();
}

JResult UIMain::cardNameChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    for (int i = 0; i < kSlotCount; ++i) {
        if (slotIsOut(i, m_cardNames[i], kNoValue))
            continue;
        JResult read = 0;
        QString name = cardName(i, &read);
        if (read < 0) {
            m_cardNames[i]->setText(QString());
            continue;
        }
        if (name == kNoCard) {
            m_cardNames[i]->setText(kNoValue);
            continue;
        }
        int srcEnable = 0;
        readInt(m_accessor, path(kCardSRCEnable, i), &srcEnable);
        if (srcEnable != 0 && name == kLumoAE)
            name += QStringLiteral("\n(w/SRC)");
        m_cardNames[i]->setText(name);
    }
    return 0;
}

JResult UIMain::cardSRCEnableChanged()
{
    const JResult result = cardNameChanged();
    if (result < 0)
        return result;
    return srcSourceChanged();
}

JResult UIMain::srcSourceChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    for (int i = 0; i < kSlotCount; ++i) {
        if (slotIsOut(i, m_srcSources[i], kNoValue))
            continue;
        int srcEnable = 0;
        if (readInt(m_accessor, path(kCardSRCEnable, i), &srcEnable) < 0)
            continue;
        JResult read = 0;
        if (srcEnable != 0 && cardName(i, &read) == kLumoAE) {
            m_srcSources[i]->setText(QStringLiteral("CARD"));
            continue;
        }
        int source = 0;
        if (readInt(m_accessor, path(kSRCSource, i), &source) < 0)
            continue;
        if (source == 0)
            m_srcSources[i]->setText(QStringLiteral("SLOT"));
        else if (source == 1)
            m_srcSources[i]->setText(QStringLiteral("WCLK IN"));
    }
    return 0;
}

JResult UIMain::showPortCount(const char* format, const std::array<ZLabelDisplay*, kSlotCount>& labels)
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    for (int i = 0; i < kSlotCount; ++i) {
        if (slotIsOut(i, labels[i], kNoPortCount))
            continue;
        int count = 0;
        if (readInt(m_accessor, path(format, i), &count) >= 0)
            labels[i]->setText(QString::number(count));
    }
    return 0;
}

JResult UIMain::inputPortNumChanged()
{
    return showPortCount(kInputPortNum, m_inputPorts);
}

JResult UIMain::outputPortNumChanged()
{
    return showPortCount(kOutputPortNum, m_outputPorts);
}

JResult UIMain::masterWCLKChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int select = 0;
    const JResult selectRead = readInt(m_accessor, path(kWordClockSelect), &select);
    if (selectRead < 0)
        return selectRead;
    m_wordClockSelect = select;
    int lockValue = 0;
    const JResult lockRead = readInt(m_accessor, path(kMasterWCLKLockStatus), &lockValue);
    if (!IoPanels::isOnline(m_accessor)) {
        for (ZStateDisplayBlink* led : m_wordClockLeds)
            led->setCurrentImageIndex(0);
        return lockRead;
    }
    // LEDs top to bottom: selections 1 and 2, 3, then 0 (and anything else on top).
    const int lit = select == 0 ? 2 : select == 3 ? 1 : 0;
    const bool locked = lockValue != 0;
    for (int i = 0; i < 3; ++i) {
        m_wordClockLeds[i]->setCurrentImageIndex(i == lit ? 1 : 0);
        m_wordClockLeds[i]->setBlink(i == lit && !locked);
    }
    return lockRead;
}

JResult UIMain::routingPatternChanged()
{
    if (!m_accessor || !m_routingPatternButton)
        return Quil::DEV_E_FAIL;
    int pattern = 0;
    const JResult result = readInt(m_accessor, path(kRoutingPattern), &pattern);
    if (result < 0)
        return result;
    m_routingPatternButton->setText(
        IoPanels::isOnline(m_accessor) ? QStringLiteral("PATTERN #") + QString::number(pattern) : kNoValue);
    return result;
}

JResult UIMain::wordClockButtonPressed()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int select = 0;
    const JResult read = readInt(m_accessor, path(kWordClockSelect), &select);
    if (read < 0)
        return read;
    const uint32_t next = select == 0 ? 2 : select == 2 ? 3 : 0;
    return m_accessor->setValue(path(kWordClockSelect), JLIB::JVariant(next), Quil::SOURCE_UI);
}

JResult UIMain::onProperty()
{
    if (!m_host)
        return Quil::DEV_E_FAIL;
    return m_host->showProperties(m_unitId);
}

JResult UIMain::openRoutingPattern()
{
    if (!m_accessor || !IoPanels::isOnline(m_accessor))
        return 0;
    int pattern = 0;
    readInt(m_accessor, path(kRoutingPattern), &pattern);
    if (pattern < 0 || pattern >= kMainPatternCount)
        return 0;
    auto* popup = new RoutingPatternPopup(pattern, this, Qt::Tool);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->activateWindow();
    popup->applyScale(scale());
    popup->exec();
    return 0;
}

JResult UIMain::openUserPatch()
{
    if (m_userPatch) {
        m_userPatch->raise();
        m_userPatch->activateWindow();
        m_userPatch->setFocus(Qt::ActiveWindowFocusReason);
        return 0;
    }
    auto* window = new UserPatch(nullptr, Qt::Dialog);
    m_userPatch = window;
    connect(window, &UserPatch::deleted, this, &UIMain::onDeleteUserPatch);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->activateWindow();
    window->setAccessor(m_accessor);
    window->show();
    // Zoomed where it was first shown.
    const QPoint at = ZScale::unscaledPos(window, scale());
    window->applyScale(scale());
    window->moveScaled(at);
    return 0;
}

UserPatch* UIMain::userPatch() const
{
    return m_userPatch.data();
}

JResult UIMain::onDeleteUserPatch()
{
    m_userPatch = nullptr;
    return 0;
}

bool UIMain::applyScale(ZoomCode code)
{
    if (m_userPatch) {
        const QPoint at = ZScale::unscaledPos(m_userPatch, code);
        m_userPatch->applyScale(code);
        m_userPatch->moveScaled(at);
    }
    return ZScaledWidget::applyScale(code);
}

void UIMain::paintEvent(QPaintEvent* event)
{
    if (!IoPanels::paintBackground(this, m_background))
        ZScaledWidget::paintEvent(event);
}

void UIMain::contextMenuEvent(QContextMenuEvent* event)
{
    IoPanels::execPropertiesMenu(this, m_properties, scale(), event);
}

} // namespace Sorn
