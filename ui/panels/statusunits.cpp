#include "ui/panels/statusunits.h"

#include "pbd/jlib/jvariant.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/panel_images.h"
#include "ui/widgets/blinktimer.h"
#include "ui/widgets/zstatedisplay.h"

namespace Quil {

namespace {

constexpr int kStatusRows = 14;

const StatusRow kSyncStatusTable[kStatusRows] = {
    {0, 0, ""},
    {1, 0, ""},
    {0, 1, "Under a synchronization."},
    {0, 2, "Wrong Word Clock."},
    {0, 3, "DANTE port does not have connection."},
    {0, 4, "DANTE Connection Error!"},
    {1, 1, "DANTE is not working by GIGA bit."},
    {1, 2, "DANTE is working at Secondary."},
    {1, 3, "Error occurred at Secondary Port."},
    {2, 0, "Operation as the word clock leader."},
    {2, 1, "DANTE is not working by GIGA bit."},
    {2, 2, "DANTE is working at Secondary."},
    {2, 3, "Error occurred at Secondary Port."},
    {0, 0, ""},
};

const StatusRow kSystemStatusTable[kStatusRows] = {
    {0, 0, "This device is not found."},
    {0, 0, ""},
    {1, 0, ""},
    {0, 3, "DANTE module error!"},
    {0, 4, "Illegal MAC Address!"},
    {1, 3, "Unit Fan has Malfunctioned!"},
    {1, 4, "Memory Error."},
    {0, 1, "Unit ID Duplicated!"},
    {0, 2, "Illegal DIP Switch Setting."},
    {0, 0, "Version mismatch."},
    {1, 2, "DANTE audio resource overflow."},
    {1, 1, "DANTE setting mismatch compared with the front panel."},
    {1, 0, "Power Supply Failed!"},
    {0, 0, ""},
};

const char* const kGreenLed = ":common/images/ind_dev_led_circle_green";
const char* const kInfoIcon = ":common/images/ind_icon_info.png";
const char* const kAlertIcon = ":common/images/ind_icon_alert.png";

const StatusUnit::Kind kSyncKind = {"/Current/Dev:0/SyncStatus:0", ":common/images/bg_dev_txt_SYNC.png",
    ":common/images/ind_dev_led_circle_yellow.png", 7, 26, kSyncStatusTable, syncStatusLevel};
const StatusUnit::Kind kSysKind = {"/Current/Dev:0/SystemStatus:0", ":common/images/bg_dev_txt_SYSTEM.png",
    ":common/images/ind_dev_led_circle_red.png", 6, 25, kSystemStatusTable, systemStatusLevel};

ZStateDisplay* makeLed(QWidget* parent, const char* picture, int x)
{
    auto* led = new ZStateDisplay(parent);
    led->setCombinedImage(Panels::loadPicture(QString::fromLatin1(picture)));
    led->setnSubImages(2);
    led->setCurrentImageIndex(0);
    led->setGeometryScaled(x, 26, 16, 16);
    return led;
}

} // namespace

int syncStatusLevel(int value)
{
    if (value >= 0 && value <= 2)
        return STATUS_LEVEL_NONE;
    if (value == 3 || value == 9)
        return STATUS_LEVEL_INFO;
    return STATUS_LEVEL_ALERT;
}

int systemStatusLevel(int value)
{
    return value >= 0 && value <= 2 ? STATUS_LEVEL_NONE : STATUS_LEVEL_ALERT;
}

StatusUnit::StatusUnit(const Kind& kind, QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
    , m_kind(kind)
{
    resizeScaled(49, 42);
    m_background = new ImagePanel(this);
    m_background->setGeometryScaled(0, 0, 49, 26);
    m_background->setPixmap(Panels::loadPicture(QString::fromLatin1(kind.background)));
    m_firstLed = makeLed(this, kGreenLed, kind.firstLedX);
    m_secondLed = makeLed(this, kind.secondLed, kind.secondLedX);
    m_icon = new ZScaledLabel(this);
    m_icon->setGeometryScaled(35, 12, 14, 13);
}

int StatusUnit::setAccessor(IZDev* accessor)
{
    if (!accessor)
        return DEV_E_FAIL;
    const QString path = QString::fromLatin1(m_kind.statusPath);
    // A second call must not leave two subscriptions behind.
    m_subscription.clear();
    m_accessor = accessor;
    refresh();
    m_subscription.add(accessor, path, this, &StatusUnit::memParamChanged);
    if (!m_blinkConnected)
        m_blinkConnected = connectBlinkTimer(this, &StatusUnit::onStateChanged) == BLINK_OK;
    return 0;
}

void StatusUnit::clear()
{
    m_firstPattern = 0;
    m_secondPattern = 0;
    setToolTip(QString());
}

void StatusUnit::setIcon(const QString& name)
{
    m_iconName = name;
    if (name.isEmpty())
        m_icon->clear();
    else
        m_icon->setPixmap(Panels::loadPicture(name));
}

int StatusUnit::refresh()
{
    if (!m_accessor) {
        clear();
        return DEV_E_FAIL;
    }
    JLIB::JVariant v;
    const JResult r = m_accessor->getValue(QString::fromLatin1(m_kind.statusPath), &v);
    if (r < 0) {
        clear();
        return r;
    }
    const int value = static_cast<int32_t>(v.toInteger());
    // Values beyond the table (from the unit) are shown as nothing.
    if (value < 0 || value >= kStatusRows) {
        clear();
        return 0;
    }
    const StatusRow& row = m_kind.table[value];
    m_firstPattern = row.first;
    m_secondPattern = row.second;
    setToolTip(QString::fromLatin1(row.tooltip));
    switch (m_kind.level(value)) {
    case STATUS_LEVEL_INFO:
        setIcon(QString::fromLatin1(kInfoIcon));
        break;
    case STATUS_LEVEL_ALERT:
        setIcon(QString::fromLatin1(kAlertIcon));
        break;
    default:
        setIcon(QString());
        break;
    }
    return 0;
}

int StatusUnit::memParamChanged()
{
    return refresh();
}

void StatusUnit::onStateChanged(uint32_t)
{
    m_firstLed->setCurrentImageIndex(blinkPhase(m_firstPattern) ? 1 : 0);
    m_secondLed->setCurrentImageIndex(blinkPhase(m_secondPattern) ? 1 : 0);
}

SyncUnit::SyncUnit(QWidget* parent, Qt::WindowFlags flags)
    : StatusUnit(kSyncKind, parent, flags)
{
}

SysUnit::SysUnit(QWidget* parent, Qt::WindowFlags flags)
    : StatusUnit(kSysKind, parent, flags)
{
}

} // namespace Quil
