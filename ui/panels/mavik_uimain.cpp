#include "ui/panels/mavik_uimain.h"

#include "device/layouts/dev_devstate.h"
#include "device/memory/dev_subscribe.h"
#include "pbd/jlib/jvariant.h"
#include "ui/panels/mavik_sorn_common.h"
#include "ui/panels/panel_images.h"
#include "ui/panels/statusunits.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zstatedisplay.h"

#include <QAction>
#include <QMessageBox>
#include <QSignalBlocker>

namespace Mavik {

namespace {

using IoPanels::path;

const char* const kSRCOn = "/Current/SRC:%d/On:%d";
const char* const kSRCInputClockSource = "/Current/SRCInputClock:%d/Source:%d";
const char* const kSRCClockWclkInLock = "/Current/SRCClock_WCLKIN:%d/LockUnlock:%d";
const char* const kSRCClockMadiLock = "/Current/SRCClock_MADI:%d/LockUnlock:%d";
const char* const kExtCtrlOn = "/Current/Dev:%d/ExtCtrl:%d/On:%d";
const char* const kInputFs = "/Current/InputRate:%d/Fs:%d";
const char* const kInputFsRate = "/Current/InputRate:%d/FsRate:%d";
const char* const kInFrame = "/Current/InStatus:%d/Frame:%d";
const char* const kInChannel = "/Current/InStatus:%d/Channel:%d";
const char* const kOutFrame = "/Current/OutStatus:%d/Frame:%d";
const char* const kOutChannel = "/Current/OutStatus:%d/Channel:%d";
const char* const kMasterSel = "/Current/Dev:%d/MasterWCLK:%d/Sel:%d";
const char* const kMasterWclkInLock = "/Current/Dev:%d/MasterWCLK_WCLKIN:%d/LockUnlock:%d";
const char* const kMasterMadiLock = "/Current/Dev:%d/MasterWCLK_MADI:%d/LockUnlock:%d";
const char* const kMasterDanteLock = "/Current/Dev:%d/MasterWCLK_Dante:%d/LockUnlock:%d";
const char* const kMasterDanteFs = "/Current/Dev:%d/MasterWCLK_Dante:%d/Fs:%d";
const char* const kMasterFs = "/Current/Dev:%d/MasterWCLK:%d/Fs:%d";
const char* const kConnectionState = Quil::kConnectionStatePath;

const char* const kGreenLed = ":mavik/images/ind_dev_circle_green.png";
const QString kNoValue = QStringLiteral("----");

// Next value written by each button, for current values 0, 1 and 2 (99 for
// anything else).
constexpr int kNextOnOff[3] = {1, 0, 99};
constexpr int kNextFsRate[3] = {1, 2, 0};
constexpr int kNextMasterSel[3] = {2, 0, 1};
constexpr int kUnknownNext = 99;

// Master Fs value to LED (row * 3 + column).
int fsLedIndex(int fs)
{
    switch (fs) {
    case 5:
        return 0;
    case 3:
        return 1;
    case 1:
        return 2;
    case 4:
        return 3;
    case 2:
        return 4;
    case 0:
        return 5;
    default:
        return -1;
    }
}

template <class Led> Led* makeLed(QWidget* parent, int x, int y)
{
    auto* led = new Led(parent);
    led->setGeometryScaled(x, y, 16, 16);
    led->setCombinedImage(Panels::loadPicture(kGreenLed));
    led->setnSubImages(2);
    led->setCurrentImageIndex(0);
    return led;
}

ZButton* switchButton(QWidget* parent, int x, int y)
{
    auto* button = new ZButton(parent);
    button->setCheckable(true);
    button->setCombinedImage(Panels::loadPicture(QStringLiteral(":mavik/images/btn_SW.png")));
    button->setnSubImages(4);
    button->setGeometryScaled(x, y, 96, 20);
    return button;
}

ZLabelDisplay* valueLabel(QWidget* parent, int x, int y)
{
    auto* label = new ZLabelDisplay(parent);
    label->setGeometryScaled(x, y, 52, 15);
    IoPanels::setUpValueLabel(label);
    return label;
}

// The input frame and channel texts; null for a value that leaves the label.
const char* frameText(int value)
{
    return value == 0 ? "48k" : value == 1 ? "96k" : value == 2 ? "----" : nullptr;
}

const char* channelText(int value)
{
    return value == 0 ? "64" : value == 1 ? "56" : value == 2 ? "----" : nullptr;
}

// A switch key shows its function's state (pressed: away from the default
// 0) without sending a click of its own.
void showKey(ZButton* key, bool on)
{
    if (!key)
        return;
    const QSignalBlocker quiet(key);
    key->setChecked(on);
}

void setTextIf(ZLabelDisplay* label, const char* text)
{
    if (text)
        label->setText(QString::fromUtf8(text));
}

} // namespace

UIMain::UIMain(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
{
    setFocusPolicy(Qt::ClickFocus);
    m_background = Panels::loadPicture(QStringLiteral(":mavik/images/bg_dev_MavikD.png"));
    resizeScaled(750, 410);
    build();
}

void UIMain::build()
{
    m_srcLed = makeLed<ZStateDisplay>(this, 118, 106);
    m_srcButton = switchButton(this, 113, 160);
    connect(m_srcButton, &QPushButton::clicked, this, &UIMain::changeSrcOn);
    m_wclkInLed = makeLed<ZStateDisplayBlink>(this, 170, 106);
    m_wclkInButton = switchButton(this, 166, 160);
    connect(m_wclkInButton, &QPushButton::clicked, this, &UIMain::changeWclkIn);
    for (int i = 0; i < 2; ++i)
        m_inputFsLeds[i] = makeLed<ZStateDisplay>(this, 246, 82 + 26 * i);
    for (int i = 0; i < 3; ++i)
        m_inputRateLeds[i] = makeLed<ZStateDisplay>(this, 330, 82 + 26 * i);
    m_rateButton = switchButton(this, 324, 160);
    connect(m_rateButton, &QPushButton::clicked, this, &UIMain::changeFsRate);
    m_inFrame = valueLabel(this, 413, 114);
    m_inChannel = valueLabel(this, 413, 185);
    m_outFrame = valueLabel(this, 473, 114);
    m_outChannel = valueLabel(this, 473, 185);
    for (int i = 0; i < 3; ++i)
        m_masterWclkLeds[i] = makeLed<ZStateDisplayBlink>(this, 118, 286 + 26 * i);
    m_masterWclkButton = switchButton(this, 113, 362);
    connect(m_masterWclkButton, &QPushButton::clicked, this, &UIMain::changeMasterWclk);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            m_masterFsLeds[3 * r + c] = makeLed<ZStateDisplayBlink>(this, 246 + 110 * c, 310 + 26 * r);
    m_sysUnit = new Quil::SysUnit(this);
    m_sysUnit->setGeometryScaled(611, 49, 49, 42);
    m_syncUnit = new Quil::SyncUnit(this);
    m_syncUnit->setGeometryScaled(659, 49, 49, 42);
    m_extCtrlLed = makeLed<ZStateDisplay>(this, 651, 370);
    m_properties = new QAction(QStringLiteral("Properties"), this);
    connect(m_properties, &QAction::triggered, this, &UIMain::onProperty);
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
    subscribeAll();
    refreshAll();
    return 0;
}

void UIMain::subscribeAll()
{
    using Handler = JResult (UIMain::*)();
    const auto sub = [this](const char* format, std::initializer_list<Handler> targets) {
        for (const Handler handler : targets)
            Quil::subscribe(m_accessor, path(format), this, handler);
    };
    const Handler srcOn = &UIMain::srcOnChanged;
    const Handler fs = &UIMain::inputRateFsChanged;
    const Handler fsRate = &UIMain::inputRateFsRateChanged;
    const Handler wclkIn = &UIMain::wclkInChanged;
    const Handler status = &UIMain::statusInOutChanged;
    const Handler extCtrl = &UIMain::extCtrlChanged;
    const Handler masterSel = &UIMain::masterWCLKSelectChanged;
    const Handler masterFs = &UIMain::masterWCLKFsChanged;

    sub(kSRCOn, {srcOn});
    srcOnChanged();
    sub(kSRCInputClockSource, {wclkIn});
    sub(kSRCClockWclkInLock, {wclkIn});
    wclkInChanged();
    sub(kExtCtrlOn, {extCtrl});
    extCtrlChanged();
    sub(kInputFs, {fs, masterFs});
    // The input Fs LEDs light only while the MADI clock is locked, so a lock
    // change alone must redraw them too.
    sub(kSRCClockMadiLock, {fs});
    inputRateFsChanged();
    sub(kInputFsRate, {fsRate, masterFs});
    inputRateFsRateChanged();
    masterWCLKFsChanged();
    for (const char* format : {kInFrame, kInChannel, kOutFrame, kOutChannel})
        sub(format, {status});
    statusInOutChanged();
    for (const char* format :
        {kMasterSel, kMasterWclkInLock, kMasterMadiLock, kMasterDanteLock, kMasterDanteFs, kMasterFs})
        sub(format, {masterSel, masterFs});
    masterWCLKSelectChanged();
    masterWCLKFsChanged();
    sub(kConnectionState, {srcOn, fs, fsRate, wclkIn, status, extCtrl, masterSel, masterFs});
}

void UIMain::refreshAll()
{
    srcOnChanged();
    inputRateFsChanged();
    inputRateFsRateChanged();
    wclkInChanged();
    statusInOutChanged();
    extCtrlChanged();
    masterWCLKSelectChanged();
    masterWCLKFsChanged();
}

JResult UIMain::onOffLed(const char* format, ZStateDisplay* led, ZButton* key)
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int value = 0;
    const JResult result = IoPanels::readInt(m_accessor, path(format), &value);
    if (!IoPanels::isOnline(m_accessor) || value == 0) {
        led->setCurrentImageIndex(0);
        showKey(key, false);
    } else if (value == 1) {
        led->setCurrentImageIndex(1);
        showKey(key, true);
    }
    return result;
}

JResult UIMain::srcOnChanged()
{
    return onOffLed(kSRCOn, m_srcLed, m_srcButton);
}

JResult UIMain::extCtrlChanged()
{
    return onOffLed(kExtCtrlOn, m_extCtrlLed);
}

JResult UIMain::wclkInChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int source = 0;
    int lock = 0;
    IoPanels::readInt(m_accessor, path(kSRCInputClockSource), &source);
    const JResult result = IoPanels::readInt(m_accessor, path(kSRCClockWclkInLock), &lock);
    if (!IoPanels::isOnline(m_accessor)) {
        m_wclkInLed->setCurrentImageIndex(0);
        showKey(m_wclkInButton, false);
        return result;
    }
    if (source == 0 || source == 1) {
        m_wclkInLed->setCurrentImageIndex(source);
        showKey(m_wclkInButton, source == 1);
    }
    if (lock == 0 || lock == 1)
        m_wclkInLed->setBlink(lock == 0);
    return result;
}

JResult UIMain::inputRateFsChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int lock = 0;
    int fs = 0;
    IoPanels::readInt(m_accessor, path(kSRCClockMadiLock), &lock);
    const JResult result = IoPanels::readInt(m_accessor, path(kInputFs), &fs);
    m_inputFsStates.fill(0);
    if (IoPanels::isOnline(m_accessor) && lock == 1 && (fs == 0 || fs == 1))
        m_inputFsStates[static_cast<size_t>(fs)] = 1;
    for (size_t i = 0; i < m_inputFsLeds.size(); ++i)
        m_inputFsLeds[i]->setCurrentImageIndex(m_inputFsStates[i]);
    return result;
}

JResult UIMain::inputRateFsRateChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int rate = 0;
    const JResult result = IoPanels::readInt(m_accessor, path(kInputFsRate), &rate);
    m_inputRateStates.fill(0);
    const bool online = IoPanels::isOnline(m_accessor);
    if (online && rate >= 0 && rate <= 2)
        m_inputRateStates[static_cast<size_t>(rate)] = 1;
    if (!online || (rate >= 0 && rate <= 2))
        showKey(m_rateButton, online && rate != 0);
    for (size_t i = 0; i < m_inputRateLeds.size(); ++i)
        m_inputRateLeds[i]->setCurrentImageIndex(m_inputRateStates[i]);
    return result;
}

JResult UIMain::statusInOutChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int inFrame = 0;
    int inChannel = 0;
    int outFrame = 0;
    int outChannel = 0;
    IoPanels::readInt(m_accessor, path(kInFrame), &inFrame);
    IoPanels::readInt(m_accessor, path(kInChannel), &inChannel);
    IoPanels::readInt(m_accessor, path(kOutFrame), &outFrame);
    const JResult result = IoPanels::readInt(m_accessor, path(kOutChannel), &outChannel);
    if (!IoPanels::isOnline(m_accessor)) {
        for (ZLabelDisplay* label : {m_inFrame, m_inChannel, m_outFrame, m_outChannel})
            label->setText(kNoValue);
        return result;
    }
    setTextIf(m_inFrame, frameText(inFrame));
    setTextIf(m_inChannel, channelText(inChannel));
    // Output 0 follows the input; 1 and 2 name the output's own setting.
    setTextIf(m_outFrame, outFrame == 0 ? frameText(inFrame) : outFrame == 1 ? "48k" : outFrame == 2 ? "96k" : nullptr);
    setTextIf(m_outChannel,
        outChannel == 0       ? channelText(inChannel)
            : outChannel == 1 ? "64"
            : outChannel == 2 ? "56"
                              : nullptr);
    return result;
}

JResult UIMain::masterWCLKSelectChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int sel = 0;
    int wclkInLock = 0;
    int madiLock = 0;
    int danteLock = 0;
    IoPanels::readInt(m_accessor, path(kMasterSel), &sel);
    IoPanels::readInt(m_accessor, path(kMasterWclkInLock), &wclkInLock);
    IoPanels::readInt(m_accessor, path(kMasterMadiLock), &madiLock);
    const JResult result = IoPanels::readInt(m_accessor, path(kMasterDanteLock), &danteLock);
    m_masterWclkStates.fill(0);
    const auto apply = [this] {
        for (size_t i = 0; i < m_masterWclkLeds.size(); ++i)
            m_masterWclkLeds[i]->setCurrentImageIndex(m_masterWclkStates[i]);
    };
    if (!IoPanels::isOnline(m_accessor)) {
        apply();
        showKey(m_masterWclkButton, false);
        return result;
    }
    const auto blinkByLock = [this](int lock) {
        if (lock == 0 || lock == 1)
            for (ZStateDisplayBlink* led : m_masterWclkLeds)
                led->setBlink(lock == 0);
    };
    switch (sel) {
    case 2:
        m_masterWclkStates[0] = 1;
        blinkByLock(wclkInLock);
        break;
    case 1:
        m_masterWclkStates[1] = 1;
        blinkByLock(madiLock);
        break;
    case 0:
        // Dante's clock is never shown as unlocked.
        m_masterWclkStates[2] = 1;
        if (danteLock == 0 || danteLock == 1)
            for (ZStateDisplayBlink* led : m_masterWclkLeds)
                led->setBlink(false);
        break;
    default:
        return result;
    }
    apply();
    showKey(m_masterWclkButton, sel != 0);
    return result;
}

void UIMain::showFs(int fs, bool blink)
{
    const int led = fsLedIndex(fs);
    if (led >= 0)
        m_masterFsStates[static_cast<size_t>(led)] = 1;
    for (size_t i = 0; i < m_masterFsLeds.size(); ++i) {
        m_masterFsLeds[i]->setBlink(blink);
        m_masterFsLeds[i]->setCurrentImageIndex(m_masterFsStates[i]);
    }
}

JResult UIMain::masterWCLKFsChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int sel = 0;
    int wclkInLock = 0;
    int madiLock = 0;
    int danteLock = 0;
    IoPanels::readInt(m_accessor, path(kMasterSel), &sel);
    IoPanels::readInt(m_accessor, path(kMasterWclkInLock), &wclkInLock);
    IoPanels::readInt(m_accessor, path(kMasterMadiLock), &madiLock);
    const JResult result = IoPanels::readInt(m_accessor, path(kMasterDanteLock), &danteLock);
    m_masterFsStates.fill(0);
    if (!IoPanels::isOnline(m_accessor)) {
        for (size_t i = 0; i < m_masterFsLeds.size(); ++i)
            m_masterFsLeds[i]->setCurrentImageIndex(0);
        return result;
    }
    int fs = 0;
    switch (sel) {
    case 0:
        IoPanels::readInt(m_accessor, path(kMasterDanteFs), &fs);
        showFs(fs, false);
        break;
    case 1:
        IoPanels::readInt(m_accessor, path(kMasterFs), &fs);
        showFs(fs, madiLock == 0);
        break;
    case 2:
        IoPanels::readInt(m_accessor, path(kMasterFs), &fs);
        showFs(fs, wclkInLock == 0);
        break;
    default:
        break;
    }
    return result;
}

JResult UIMain::writeNext(const char* format, const int (&next)[3])
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    int value = 0;
    IoPanels::readInt(m_accessor, path(format), &value);
    const int written = value >= 0 && value <= 2 ? next[value] : kUnknownNext;
    const JResult result
        = m_accessor->setValue(path(format), JLIB::JVariant(static_cast<uint32_t>(written)), Quil::SOURCE_UI);
    if (result == Quil::DEV_E_WGM)
        QMessageBox::information(
            this, QStringLiteral("Confirmation"), QStringLiteral("Access denied by\n Workgroup Manager"));
    return result;
}

JResult UIMain::changeSrcOn()
{
    return writeNext(kSRCOn, kNextOnOff);
}

JResult UIMain::changeWclkIn()
{
    return writeNext(kSRCInputClockSource, kNextOnOff);
}

JResult UIMain::changeFsRate()
{
    return writeNext(kInputFsRate, kNextFsRate);
}

JResult UIMain::changeMasterWclk()
{
    return writeNext(kMasterSel, kNextMasterSel);
}

JResult UIMain::onProperty()
{
    if (!m_host)
        return Quil::DEV_E_FAIL;
    return m_host->showProperties(m_unitId);
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

} // namespace Mavik
