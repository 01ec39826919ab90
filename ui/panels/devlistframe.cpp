#include "ui/panels/devlistframe.h"

#include "device/layouts/dev_devstate.h"
#include "pbd/jlib/jvariant.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/panel_images.h"
#include "ui/panels/statusunits.h"
#include "ui/widgets/zpopup.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kButtonWidth = 114;
constexpr int kButtonHeight = 67;
constexpr int kButtonGap = 7;
constexpr int kUnitIds = 128;
using Quil::ConnectionState;
using Quil::DEV_E_FAIL;
using Quil::SlotState;
using Quil::stateValue;

const char* const kSlotState = Quil::kSlotStatePath;
const char* const kListConnectionState = Quil::kConnectionStatePath;
const char* const kDeviceNum = Quil::kDeviceNumPath;
const char* const kSystemStatus = "/Current/Dev:0/SystemStatus:0";
const char* const kSyncStatus = "/Current/Dev:0/SyncStatus:0";
const char* const kStatePaths[] = {kSlotState, kListConnectionState, kDeviceNum, kSystemStatus, kSyncStatus};

const char* const kIndicatorPictures[] = {
    ":/images/ind_mode_blank.png",
    ":/images/ind_mode_virtual.png",
    ":/images/ind_mode_disconnected.png",
    ":/images/ind_mode_connecting.png",
    ":/images/ind_mode_connected.png",
    ":/images/ind_mode_conflict.png",
    ":/images/ind_mode_duplicated.png",
};

const QColor& white()
{
    static const QColor colour(255, 255, 255);
    return colour;
}

const QColor& lightGrey()
{
    static const QColor colour(204, 204, 204);
    return colour;
}

const QColor& nearBlack()
{
    static const QColor colour(16, 16, 16);
    return colour;
}

bool readListInt(Quil::IZDev* accessor, const char* path, int* value)
{
    JLIB::JVariant v;
    if (accessor->getValue(QString::fromLatin1(path), &v) < 0)
        return false;
    *value = static_cast<int32_t>(v.toInteger());
    return true;
}

// Frame `frame` of `count` stacked frames.
QRect frameRect(const QPixmap& picture, int frame, int count)
{
    const int height = picture.height() / count;
    return QRect(0, frame * height, picture.width(), height);
}

} // namespace

QString unitIdText(int id)
{
    return QString::asprintf("J%03X", static_cast<unsigned>(id));
}

// ---- one slot button

DevSelFrame::DevSelFrame(unsigned slot, QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
    , m_slot(slot)
    , m_buttonPicture(Panels::loadPicture(QStringLiteral(":/images/cbtn_seldevice.png")))
    , m_indicatorPicture(Panels::loadPicture(QString::fromLatin1(kIndicatorPictures[SLOT_BLANK])))
    , m_normalPen(white())
    , m_pressedPen(lightGrey())
    , m_selectedPen(nearBlack())
{
    resizeScaled(kButtonWidth, kButtonHeight);
    QFont font(QStringLiteral("Arial"));
    font.setWeight(75);
    font.setPixelSize(13);
    setFontScaled(font);

    m_alertIcon = new ZScaledLabel(this);
    m_alertIcon->setGeometryScaled(90, 6, 14, 13);

    m_deviceIdPopup = new ZPopup(this);
    m_deviceIdPopup->setFocusPolicy(Qt::NoFocus);
    m_deviceIdPopup->setGeometryScaled(32, 7, 50, 12);
    QFont popupFont(QStringLiteral("Arial"));
    popupFont.setPixelSize(12);
    m_deviceIdPopup->setFontScaled(popupFont);
    m_deviceIdPopup->setGroupOverride(QStringLiteral("1;16;16;16;16;16;16;16;16"));
    m_deviceIdPopup->setMenuItemSize(QSize(42, 20));
    connect(m_deviceIdPopup, &ZPopup::selectionChanged, this, &DevSelFrame::onDeviceIdMenuSelected);
}

int DevSelFrame::setAccessor(Quil::IZDev* accessor)
{
    m_accessor = accessor;
    return 0;
}

int DevSelFrame::setLabel(const QString& text)
{
    if (text != m_label) {
        m_label = text;
        update();
    }
    return 0;
}

int DevSelFrame::setSelected(bool selected)
{
    if (selected != m_selected) {
        m_selected = selected;
        update();
    }
    return 0;
}

int DevSelFrame::setMounted(bool mounted)
{
    if (mounted != m_mounted) {
        m_mounted = mounted;
        memParamChanged();
    }
    return 0;
}

void DevSelFrame::selectQuietly(int id)
{
    m_quiet = true;
    m_deviceIdPopup->setSelectionID(id);
    m_quiet = false;
}

int DevSelFrame::setDeviceId(int id)
{
    if (id != m_deviceId) {
        m_deviceId = id;
        selectQuietly(id);
        update();
    }
    return 0;
}

int DevSelFrame::setDeviceIdNames(const QStringList& names)
{
    std::vector<ZPopupEntry> entries;
    entries.reserve(static_cast<size_t>(names.size()));
    for (int i = 0; i < names.size(); ++i)
        entries.push_back({i - 1, names[i], true, true});
    m_deviceIdPopup->setMenuItems(entries);
    selectQuietly(-1);
    return 0;
}

int DevSelFrame::updateDeviceIdEnables(const std::vector<bool>& used)
{
    std::vector<ZPopupEntry> entries = m_deviceIdPopup->menuItems();
    const size_t own = static_cast<size_t>(m_deviceId + 1);
    for (size_t k = 0; k < entries.size(); ++k)
        entries[k].enabled = k == own || k >= used.size() || used[k];
    m_deviceIdPopup->setMenuItems(entries);
    // The own id may have been taken elsewhere until now.
    selectQuietly(m_deviceId);
    return 0;
}

int DevSelFrame::subscribeDevice()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    // Mount changes call this again: a second connection would run every
    // change twice.
    m_subscriptions.clear();
    for (const char* path : kStatePaths) {
        if (m_subscriptions.add(m_accessor, QString::fromLatin1(path), this, &DevSelFrame::memParamChanged) < 0)
            return DEV_E_FAIL;
    }
    return 0;
}

int DevSelFrame::deriveIndicator()
{
    if (!m_mounted)
        return SLOT_BLANK;
    int slotState = 0;
    if (!readListInt(m_accessor, kSlotState, &slotState))
        return SLOT_BLANK;
    if (slotState == stateValue(SlotState::Virtual))
        return SLOT_VIRTUAL;
    int connection = 0;
    if (slotState != stateValue(SlotState::Attached) || !readListInt(m_accessor, kListConnectionState, &connection))
        return SLOT_BLANK;
    switch (static_cast<ConnectionState>(connection)) {
    case ConnectionState::Disconnected:
    case ConnectionState::Disconnecting:
        return SLOT_DISCONNECTED;
    case ConnectionState::Connecting:
        return SLOT_CONNECTING;
    case ConnectionState::Connected: {
        int devices = 0;
        if (!readListInt(m_accessor, kDeviceNum, &devices))
            return SLOT_BLANK;
        return devices > 1 ? SLOT_DUPLICATED : SLOT_CONNECTED;
    }
    default:
        return SLOT_BLANK;
    }
}

int DevSelFrame::memParamChanged()
{
    if (!m_accessor)
        return DEV_E_FAIL;
    setIndicatorState(deriveIndicator());
    updateAlertIcon();
    return 0;
}

int DevSelFrame::setIndicatorState(int state)
{
    if (state < SLOT_BLANK || state > SLOT_DUPLICATED)
        return DEV_E_FAIL;
    if (state != m_indicator) {
        m_indicator = state;
        m_indicatorPicture = Panels::loadPicture(QString::fromLatin1(kIndicatorPictures[state]));
        update();
    }
    return 0;
}

int DevSelFrame::updateAlertIcon()
{
    if (!m_accessor || !m_alertIcon)
        return DEV_E_FAIL;
    int system = 0;
    int sync = 0;
    const bool known
        = m_mounted && readListInt(m_accessor, kSystemStatus, &system) && readListInt(m_accessor, kSyncStatus, &sync);
    m_alertShown = known
        && (Quil::systemStatusLevel(system) == Quil::STATUS_LEVEL_ALERT
            || Quil::syncStatusLevel(sync) == Quil::STATUS_LEVEL_ALERT);
    if (m_alertShown)
        m_alertIcon->setPixmap(Panels::loadPicture(QStringLiteral(":common/images/ind_icon_alert.png")));
    else
        m_alertIcon->clear();
    return 0;
}

void DevSelFrame::onDeviceIdMenuSelected(int selectedId)
{
    // Selections the program makes are not the user's choice.
    if (m_quiet)
        return;
    if (m_indicator == SLOT_CONNECTING) {
        selectQuietly(m_deviceId);
        return;
    }
    if (selectedId != m_deviceId) {
        m_deviceId = selectedId;
        selectQuietly(selectedId);
        update();
    }
    emit deviceIdSelected(m_slot, m_deviceId);
}

void DevSelFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const ZoomCode code = scale();
    const int buttonFrame = m_pressed ? 1 : (m_selected ? 2 : 0);
    if (!m_buttonPicture.isNull())
        painter.drawPixmap(
            ZScale::scaleRect(code, QRect(1, 1, 110, 66)), m_buttonPicture, frameRect(m_buttonPicture, buttonFrame, 3));
    if (!m_indicatorPicture.isNull())
        painter.drawPixmap(ZScale::scaleRect(code, QRect(7, 41, 98, 18)), m_indicatorPicture,
            frameRect(m_indicatorPicture, m_pressed ? 1 : 0, 2));

    const int align = Qt::AlignLeft | Qt::AlignVCenter;
    painter.setPen(m_pressed ? m_pressedPen : m_normalPen);
    painter.drawText(ZScale::scaleRect(code, QRect(11, 24, 87, 11)), align, m_label);
    if (m_selected && !m_pressed)
        painter.setPen(m_selectedPen);
    painter.drawText(ZScale::scaleRect(code, QRect(9, 5, 50, 15)), align, QString::asprintf("#%u", m_slot + 1));
    if (m_deviceId >= 0)
        painter.drawText(
            ZScale::scaleRect(code, QRect(32, 7, 50, 12)), align, QStringLiteral("  ") + unitIdText(m_deviceId));
}

void DevSelFrame::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        ZScaledWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    repaint();
    emit selPressed(m_slot);
}

void DevSelFrame::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        ZScaledWidget::mouseReleaseEvent(event);
        return;
    }
    m_pressed = false;
    repaint();
    emit selReleased(m_slot);
    emit selClicked(m_slot);
}

void DevSelFrame::contextMenuEvent(QContextMenuEvent*)
{
    emit contextMenuRequest(m_slot);
}

// ---- the strip

DevListFrame::DevListFrame(int slotCount, QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
    , m_slotCount(slotCount > 0 ? slotCount : 0)
{
    m_deviceIdNames << QStringLiteral("NONE");
    for (int id = 0; id < kUnitIds; ++id)
        m_deviceIdNames << unitIdText(id);

    for (int i = 0; i < m_slotCount; ++i) {
        auto* button = new DevSelFrame(static_cast<unsigned>(i), this);
        button->moveScaled(0, i * (kButtonHeight + kButtonGap));
        button->setDeviceIdNames(m_deviceIdNames);
        connect(button, &DevSelFrame::selClicked, this, &DevListFrame::selClicked);
        connect(button, &DevSelFrame::selPressed, this, &DevListFrame::selPressed);
        connect(button, &DevSelFrame::selReleased, this, &DevListFrame::selReleased);
        connect(button, &DevSelFrame::contextMenuRequest, this, &DevListFrame::contextMenuRequest);
        connect(button, &DevSelFrame::deviceIdSelected, this, &DevListFrame::onDeviceIdSelected);
        m_buttons.emplace_back(button);
    }
    // The gaps are left to the main window.
    const int width = m_buttons.empty() ? kButtonWidth : m_buttons.front()->unscaledWidth();
    resizeScaled(width, m_slotCount * kButtonHeight);
}

DevSelFrame* DevListFrame::button(int index) const
{
    if (index < 0 || index >= m_slotCount)
        return nullptr;
    return m_buttons[static_cast<size_t>(index)].data();
}

int DevListFrame::setPixmap(const QPixmap& picture)
{
    m_picture = picture;
    update();
    return 0;
}

int DevListFrame::setSlotLabel(int index, const QString& text)
{
    DevSelFrame* b = button(index);
    return b ? b->setLabel(text) : DEV_E_FAIL;
}

int DevListFrame::setAccessor(int index, Quil::IZDev* accessor)
{
    DevSelFrame* b = button(index);
    return b ? b->setAccessor(accessor) : DEV_E_FAIL;
}

int DevListFrame::setMounted(int index, bool mounted)
{
    DevSelFrame* b = button(index);
    return b ? b->setMounted(mounted) : 0;
}

int DevListFrame::subscribeSlot(int index)
{
    DevSelFrame* b = button(index);
    return b ? b->subscribeDevice() : DEV_E_FAIL;
}

int DevListFrame::setSelected(int index)
{
    if (index < 0 || index >= m_slotCount)
        return DEV_E_FAIL;
    for (int i = 0; i < m_slotCount; ++i) {
        if (DevSelFrame* b = button(i))
            b->setSelected(i == index);
    }
    return 0;
}

int DevListFrame::setDeviceId(int index, int id)
{
    DevSelFrame* target = button(index);
    if (!target)
        return DEV_E_FAIL;
    target->setDeviceId(id);
    std::vector<bool> free(static_cast<size_t>(m_deviceIdNames.size()), true);
    for (const auto& b : m_buttons) {
        const int used = b ? b->deviceId() : -1;
        if (used >= 0 && used + 1 < static_cast<int>(free.size()))
            free[static_cast<size_t>(used + 1)] = false;
    }
    for (const auto& b : m_buttons) {
        if (b)
            b->updateDeviceIdEnables(free);
    }
    return 0;
}

void DevListFrame::onDeviceIdSelected(uint unitId, int deviceId)
{
    setDeviceId(static_cast<int>(unitId), deviceId);
    emit deviceIdSelected(unitId, deviceId);
}

void DevListFrame::paintEvent(QPaintEvent*)
{
    Panels::paintBackground(this, m_picture, m_background);
}

// ---- the name bar

DevNameFrame::DevNameFrame(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
    , m_textColour(white())
    , m_picture(Panels::loadPicture(QStringLiteral(":/images/bg_DispArea.png")))
{
    resizeScaled(752, 51);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(18);
    setFontScaled(font);
}

int DevNameFrame::setName(int slot, const QString& name)
{
    if (slot != m_slot || name != m_name) {
        m_slot = slot;
        m_name = name;
        update();
    }
    return 0;
}

void DevNameFrame::paintEvent(QPaintEvent*)
{
    Panels::paintBackground(this, m_picture, m_background);
    QPainter painter(this);
    painter.setPen(m_textColour);
    const ZoomCode code = scale();
    const int align = Qt::AlignLeft | Qt::AlignVCenter;
    painter.drawText(ZScale::scaleRect(code, QRect(26, 11, 50, 31)), align, QString::asprintf("#%d", m_slot + 1));
    painter.drawText(ZScale::scaleRect(code, QRect(104, 11, 400, 31)), align, m_name);
}
