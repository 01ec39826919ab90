#include "ui/main/qlmainwindow.h"

#include "app/app_prefs.h"
#include "app/app_quilobject.h"
#include "device/layouts/dev_devstate.h"
#include "device/layouts/dev_modeltypes.h"
#include "pbd/jlib/jvariant.h"
#include "ui/main/mountdlg.h"
#include "ui/main/netsetupdlg.h"
#include "ui/main/rackdialogs.h"
#include "ui/panels/devlistframe.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/panel_images.h"
#include "ui/skins/zlook.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

#include <memory>

namespace {

using Quil::DEV_E_FAIL;
constexpr int kSlotCount = 24;
const char* const kDeviceNamePath = "/DevInfo/devinfo:0/devicename:0";
const char* const kIdentifyPath = "/Event/Dev:0/Identify:0";
using Quil::kConnectionStatePath;
using Quil::kSlotStatePath;
// What a state reads as when it cannot be read: no state at all.
constexpr uint32_t kUnreadConnection = 4;
constexpr uint32_t kUnreadSlot = 3;

QString modelLabel(int type)
{
    const char* name = Quil::modelNameOrBlank(type);
    return name ? QString::fromLatin1(name) : QString();
}

// The enabling of Mount, Connect and Disconnect for one slot state.
struct SlotEnables {
    bool mount;
    bool connect;
    bool disconnect;
};

SlotEnables slotEnables(Quil::ModelType type, uint32_t connectionState, uint32_t slotState)
{
    if (type == Quil::MODEL_NONE)
        return {true, false, false};
    using Quil::stateValue;
    if (connectionState == stateValue(Quil::ConnectionState::Disconnected))
        return slotState == stateValue(Quil::SlotState::Attached) ? SlotEnables{false, true, false}
                                                                  : SlotEnables{true, false, false};
    if (connectionState <= stateValue(Quil::ConnectionState::Disconnecting))
        return {false, false, true};
    return {false, false, false};
}

uint32_t readState(Quil::QuilObject* core, uint32_t unitId, const char* path, uint32_t fallback)
{
    JLIB::JVariant value;
    if (core->getValue(static_cast<int>(unitId), QString::fromLatin1(path), &value) < 0)
        return fallback;
    bool ok = false;
    const uint32_t state = value.toInteger(&ok);
    return ok ? state : fallback;
}

} // namespace

QLMainWindow::QLMainWindow(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledMainWindow(parent, flags)
{
    buildActions();
    buildMenus();
    buildLayout();
    restoreWindowPosition();
}

QLMainWindow::~QLMainWindow()
{
    delete m_uiModule;
    m_uiModule = nullptr;
    for (EditWindowEntry& entry : m_editWindows) {
        delete entry.window.data();
        entry = EditWindowEntry();
    }
    for (QWidget* meter : {m_meterWindow1.data(), m_meterWindow2.data()}) {
        if (meter)
            meter->close();
    }
}

QAction* QLMainWindow::addAction(const QString& text, void (QLMainWindow::*slot)())
{
    auto* action = new QAction(text, this);
    action->setObjectName(text);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

QAction* QLMainWindow::action(const QString& text) const
{
    for (QAction* candidate : findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

void QLMainWindow::buildActions()
{
    m_openAction = addAction(tr("Open"), &QLMainWindow::onOpenFile);
    m_saveAsAction = addAction(tr("Save As"), &QLMainWindow::onSaveAs);
    m_networkSetupAction = addAction(tr("Network Setup"), qOverload<>(&QLMainWindow::onNetworkSetup));
    m_deviceInfoAction = addAction(tr("Device Information"), &QLMainWindow::onDeviceInfo);
    m_meter1Action = addAction(tr("Meter (1Line)"), &QLMainWindow::onMeterAll1Line);
    m_meter2Action = addAction(tr("Meter (2Line)"), &QLMainWindow::onMeterAll2Line);
    m_aboutAction = addAction(tr("About Quillon"), &QLMainWindow::onAbout);
    m_firmwareAction = addAction(tr("Firmware Update"), &QLMainWindow::onFirmwareUpdate);
    m_quitAction = addAction(tr("Quit"), &QLMainWindow::onQuit);
    m_zoom100Action = addAction(tr("100%"), &QLMainWindow::onZoom_100);
    m_zoom150Action = addAction(tr("150%"), &QLMainWindow::onZoom_150);
    m_zoom200Action = addAction(tr("200%"), &QLMainWindow::onZoom_200);
    m_meterZoomAction = addAction(tr("Meter Zoom"), &QLMainWindow::onZoom_Meter);
    m_mountAction = addAction(tr("Mount"), &QLMainWindow::onMount);
    m_connectAction = addAction(tr("Connect"), &QLMainWindow::onConnect);
    m_disconnectAction = addAction(tr("Disconnect"), &QLMainWindow::onDisconnect);
    m_propertiesAction = addAction(tr("Properties"), &QLMainWindow::onProperty);
    m_summaryAction = addAction(tr("Summary"), &QLMainWindow::onSummary);
    m_logAction = addAction(tr("Log"), &QLMainWindow::onLog);

    m_zoomGroup = new QActionGroup(this);
    m_zoomGroup->setExclusive(true);
    for (QAction* zoom : {m_zoom100Action, m_zoom150Action, m_zoom200Action}) {
        zoom->setCheckable(true);
        m_zoomGroup->addAction(zoom);
    }
    m_zoom100Action->setChecked(true);
    m_meterZoomAction->setCheckable(true);
}

void QLMainWindow::buildMenus()
{
    m_menuBar = menuBar();
    m_fileMenu = m_menuBar->addMenu(tr("&File"));
    m_fileMenu->addAction(m_openAction);
    m_fileMenu->addAction(m_saveAsAction);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_networkSetupAction);
    m_fileMenu->addAction(m_deviceInfoAction);
    m_fileMenu->addAction(m_meter1Action);
    m_fileMenu->addAction(m_meter2Action);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_quitAction);

    m_toolMenu = m_menuBar->addMenu(tr("Tool"));
    m_toolMenu->addAction(m_firmwareAction);

    m_zoomMenu = m_menuBar->addMenu(tr("Zoom"));
    m_zoomMenu->addAction(m_zoom100Action);
    m_zoomMenu->addAction(m_zoom150Action);
    m_zoomMenu->addAction(m_zoom200Action);
    m_zoomMenu->addAction(m_meterZoomAction);

    m_aboutMenu = m_menuBar->addMenu(tr("About"));
    m_aboutMenu->addAction(m_aboutAction);

    for (QWidget* menu : std::initializer_list<QWidget*>{m_menuBar, m_fileMenu, m_toolMenu, m_zoomMenu, m_aboutMenu})
        menu->setPalette(ZLook::darkPalette());
}

void QLMainWindow::fitWindow(const QSize& wanted)
{
    m_wantedSize = wanted;
    const QSize size = fittedSize(wanted);
    setFixedSize(size);
    // The frame is wider than the window by what the unscaled slot bar saves:
    // that strip is empty and needs no bar.
    m_frameScroll->setHorizontalScrollBarPolicy(
        size.width() < wanted.width() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    m_frameScroll->setVerticalScrollBarPolicy(
        size.height() < wanted.height() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    const QScreen* screen = this->screen();
    if (!screen || !isVisible())
        return;
    // Kept inside the area, so the grown window's bottom is never off screen.
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const int x = qMax(area.left(), qMin(frame.left(), area.right() + 1 - frame.width()));
    const int y = qMax(area.top(), qMin(frame.top(), area.bottom() + 1 - frame.height()));
    if (x != frame.left() || y != frame.top())
        move(x, y);
}

QSize QLMainWindow::fittedSize(const QSize& wanted) const
{
    const QScreen* screen = this->screen();
    if (!screen)
        return wanted;
    const QSize decoration = frameGeometry().size() - geometry().size();
    const QSize room = screen->availableGeometry().size() - decoration;
    QSize size = wanted.boundedTo(room);
    // A bar that appears in one direction takes room from the other.
    const int bar = m_frameScroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (size.height() < wanted.height())
        size.setWidth(qMin(wanted.width() + bar, room.width()));
    if (size.width() < wanted.width())
        size.setHeight(qMin(wanted.height() + bar, room.height()));
    return size;
}

int QLMainWindow::scrollBarExtent() const
{
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

void QLMainWindow::buildLayout()
{
    setWindowTitle(tr("Quillon"));
    setStatusBar(nullptr);

    m_centralFrame = new ZScaledFrame(this);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    m_centralFrame->setFontScaled(font);

    m_slotScroll = new ZScaledScrollArea(m_centralFrame);
    m_slotScroll->setGeometryScaled(0, 51, 114, 594);
    m_slotScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_slotScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_slotScroll->setFocusPolicy(Qt::NoFocus);
    m_slotScroll->setBarsFollowZoom(false);
    m_slotScroll->verticalScrollBar()->setPalette(ZLook::darkPalette());

    m_slotStrip = new DevListFrame(kSlotCount);
    m_slotStrip->setPixmap(Panels::loadPicture(QStringLiteral(":/images/bg_SelDevArea_24.png")));
    m_slotStrip->resizeScaled(m_slotStrip->width(), m_slotStrip->height() + kStripGaps);
    m_slotScroll->setWidget(m_slotStrip);
    for (int slot = 0; slot < kSlotCount; ++slot)
        m_slotStrip->setSlotLabel(slot, modelLabel(Quil::MODEL_NONE));
    m_slotStrip->setSelected(static_cast<int>(m_selectedSlot));

    const int extent = scrollBarExtent();
    m_slotScroll->resizeScaled(m_slotStrip->width() + extent + 2, m_slotScroll->height());
    m_slotScroll->moveScaled(0, 0);

    m_rightPanel = new ImagePanel(m_centralFrame);
    m_rightPanel->setGeometryScaled(114, 0, 752, 594);
    m_rightPanel->setPixmap(Panels::loadPicture(QStringLiteral(":/images/bg_Right.png")));
    m_rightPanel->moveScaled(m_slotScroll->width(), 0);

    m_nameBar = new DevNameFrame(m_rightPanel);
    m_nameBar->setGeometryScaled(0, 0, 752, 51);
    m_deviceArea = new ImagePanel(m_rightPanel);
    m_deviceArea->setGeometryScaled(0, 51, 752, 543);
    m_deviceArea->setPixmap(Panels::loadPicture(QStringLiteral(":/images/bg_dev_area.png")));

    const QSize frame(m_slotScroll->width() + m_rightPanel->width(), m_rightPanel->height());
    m_centralFrame->setMinimumSizeScaled(frame);
    m_centralFrame->setMaximumSizeScaled(frame);
    m_menuBarHeight = m_menuBar->sizeHint().height();
    // The frame scrolls only where the window would not fit on the screen.
    m_frameScroll = new QScrollArea(this);
    m_frameScroll->setFrameShape(QFrame::NoFrame);
    m_frameScroll->setWidgetResizable(false);
    m_frameScroll->setFocusPolicy(Qt::NoFocus);
    m_frameScroll->setWidget(m_centralFrame);
    for (QScrollBar* bar : {m_frameScroll->horizontalScrollBar(), m_frameScroll->verticalScrollBar()})
        bar->setPalette(ZLook::darkPalette());
    setCentralWidget(m_frameScroll);
    fitWindow(QSize(frame.width(), frame.height() + m_menuBarHeight));

    connect(m_slotStrip, &DevListFrame::selPressed, this, &QLMainWindow::identifyOn);
    connect(m_slotStrip, &DevListFrame::selReleased, this, &QLMainWindow::identifyOff);
    connect(m_slotStrip, &DevListFrame::selClicked, this, &QLMainWindow::setSelectId);
    connect(m_slotStrip, &DevListFrame::contextMenuRequest, this, &QLMainWindow::contextMenuRequestSlot);
    connect(m_slotStrip, &DevListFrame::deviceIdSelected, this, &QLMainWindow::deviceIdSelectedSlot);
}

JResult QLMainWindow::attachCore(Quil::QuilObject* core)
{
    m_core = core;
    const JResult result = selectDevice(m_selectedSlot);
    if (!m_core)
        return result;
    for (int slot = 0; slot < kSlotCount; ++slot)
        m_slotStrip->setAccessor(slot, m_core->rackDevice(slot));
    // The rack's questions and file dialogs are the window's message boxes,
    // unless the rack was given other answers.
    if (!m_core->questions())
        m_core->setQuestions(std::make_unique<Quil::RackDialogs>(m_core));
    // Queued: a setup file reports every slot's id while it loads, and the
    // placing these ids trigger must see the whole file, not half of it.
    connect(m_core, &Quil::QuilObject::deviceIdChanged, this, &QLMainWindow::deviceIdReadSlot, Qt::QueuedConnection);
    return result;
}

// ---- menu and context-menu slots

bool QLMainWindow::unitOfSender(uint32_t* unitId) const
{
    const auto* origin = qobject_cast<const QAction*>(sender());
    if (!origin)
        return false;
    *unitId = origin->data().toUInt();
    return true;
}

void QLMainWindow::onOpenFile()
{
    if (m_core)
        m_core->openFile(nullptr);
}

void QLMainWindow::onSaveAs()
{
    if (m_core)
        m_core->saveFileAs(nullptr);
}

void QLMainWindow::onNetworkSetup()
{
    showNetworkSetup(true);
}

void QLMainWindow::onNetworkSetup(bool withSaveConfirm)
{
    showNetworkSetup(withSaveConfirm);
}

void QLMainWindow::onDeviceInfo()
{
    showDeviceInfo();
}

void QLMainWindow::onMeterAll1Line()
{
    showMeterWindow(1);
}

void QLMainWindow::onDeleteMeterAll1Line()
{
    m_meterWindow1 = nullptr;
}

void QLMainWindow::onMeterAll2Line()
{
    showMeterWindow(2);
}

void QLMainWindow::onDeleteMeterAll2Line()
{
    m_meterWindow2 = nullptr;
}

void QLMainWindow::onIPAddressSetup()
{
    uint32_t unitId = 0;
    if (unitOfSender(&unitId))
        showIpAddressSetup(unitId);
}

void QLMainWindow::onFirmwareUpdate()
{
    showFirmwareUpdate();
}

void QLMainWindow::onAbout()
{
    runAboutDlg();
}

void QLMainWindow::onQuit()
{
    if (m_core)
        m_core->quit();
    saveWindowPosition();
}

void QLMainWindow::onZoom_100()
{
    setZoom(0);
}

void QLMainWindow::onZoom_150()
{
    setZoom(1);
}

void QLMainWindow::onZoom_200()
{
    setZoom(2);
}

void QLMainWindow::onZoom_Meter()
{
    applyMeterZoom();
}

void QLMainWindow::onMount()
{
    uint32_t unitId = 0;
    if (unitOfSender(&unitId))
        showMount(unitId);
}

void QLMainWindow::onConnect()
{
    uint32_t unitId = 0;
    if (unitOfSender(&unitId) && m_core)
        m_core->connectSlot(static_cast<int>(unitId), true);
}

void QLMainWindow::onDisconnect()
{
    uint32_t unitId = 0;
    if (unitOfSender(&unitId) && m_core)
        m_core->disconnectSlot(static_cast<int>(unitId));
}

void QLMainWindow::onProperty()
{
    uint32_t unitId = 0;
    if (unitOfSender(&unitId))
        showProperties(unitId);
}

void QLMainWindow::onSummary()
{
    uint32_t unitId = 0;
    if (unitOfSender(&unitId))
        showSummary(unitId);
}

void QLMainWindow::onLog()
{
    uint32_t unitId = 0;
    if (unitOfSender(&unitId))
        showDeviceLog(unitId);
}

void QLMainWindow::ipAddressSetupRequested(uint unitId)
{
    showIpAddressSetup(unitId);
}

void QLMainWindow::propertyRequested(uint unitId)
{
    showProperties(unitId);
}

// ---- the slot strip

int QLMainWindow::identify(uint32_t unitId, int32_t on)
{
    if (!m_core)
        return DEV_E_FAIL;
    return m_core->setValue(
        static_cast<int>(unitId), QString::fromLatin1(kIdentifyPath), JLIB::JVariant(on), Quil::SOURCE_UI);
}

void QLMainWindow::identifyOn(uint unitId)
{
    identify(unitId, 1);
}

void QLMainWindow::identifyOff(uint unitId)
{
    identify(unitId, 0);
}

void QLMainWindow::deviceIdSelectedSlot(uint unitId, int deviceId)
{
    if (!m_core)
        return;
    if (Quil::IZDev* slot = m_core->rackDevice(static_cast<int>(unitId)))
        slot->setDeviceId(deviceId);
    m_core->refreshMountDevice(unitId, deviceId);
}

void QLMainWindow::deviceIdReadSlot(uint unitId, int deviceId)
{
    if (!m_core)
        return;
    Quil::IZDev* slot = m_core->rackDevice(static_cast<int>(unitId));
    if (slot && slot->deviceId() != deviceId) {
        slot->setDeviceId(deviceId);
        m_core->refreshMountDevice(unitId, deviceId);
    }
    m_slotStrip->setDeviceId(static_cast<int>(unitId), deviceId);
}

void QLMainWindow::updateContextEnables(uint32_t unitId)
{
    const Quil::ModelType type = m_core->modelType(static_cast<int>(unitId));
    const uint32_t connection = readState(m_core, unitId, kConnectionStatePath, kUnreadConnection);
    const uint32_t slotState = readState(m_core, unitId, kSlotStatePath, kUnreadSlot);
    const SlotEnables enables = slotEnables(type, connection, slotState);
    m_mountAction->setEnabled(enables.mount);
    m_connectAction->setEnabled(enables.connect);
    m_disconnectAction->setEnabled(enables.disconnect);
    const Quil::ModelTraits* traits = Quil::modelTraits(type);
    m_summaryAction->setEnabled(traits && traits->summary);
    m_logAction->setEnabled(traits && traits->log != Quil::DeviceLog::None);
    m_propertiesAction->setEnabled(true);
}

QMenu* QLMainWindow::makeContextMenu(uint32_t unitId)
{
    if (m_core)
        updateContextEnables(unitId);
    auto* menu = new QMenu(this);
    menu->setPalette(ZLook::darkPalette());
    for (QAction* entry : {m_mountAction, m_connectAction, m_disconnectAction}) {
        entry->setData(unitId);
        menu->addAction(entry);
    }
    menu->addSeparator();
    for (QAction* entry : {m_propertiesAction, m_summaryAction, m_logAction}) {
        entry->setData(unitId);
        menu->addAction(entry);
    }
    menu->setFont(ZScale::scaleFont(static_cast<ZoomCode>(m_zoomCode), 0, menu->font()));
    return menu;
}

void QLMainWindow::contextMenuRequestSlot(uint unitId)
{
    const std::unique_ptr<QMenu> menu(makeContextMenu(unitId));
    menu->exec(QCursor::pos());
}

// ---- selection and the shown unit

int QLMainWindow::setSelectId(uint unitId)
{
    if (unitId >= kSlotCount)
        return DEV_E_FAIL;
    m_slotStrip->setSelected(static_cast<int>(unitId));
    if (unitId != m_selectedSlot) {
        m_selectedSlot = unitId;
        selectDevice(unitId);
    }
    return 0;
}

void QLMainWindow::refreshNameBar()
{
    if (!m_nameBar || !m_core)
        return;
    Quil::DevInfoRecord info;
    const QString name
        = m_core->getDeviceInfo(static_cast<int>(m_selectedSlot), &info) >= 0 ? info.devicename : QString();
    m_nameBar->setName(static_cast<int>(m_selectedSlot), name);
}

void QLMainWindow::unsubscribeName()
{
    m_nameSubscription.clear();
}

// One subscription at a time, on the shown slot: a rename of the shown unit
// keeps refreshing the name bar, and selecting again never adds another.
void QLMainWindow::subscribeName(uint32_t slot)
{
    unsubscribeName();
    Quil::IZDev* device = m_core->rackDevice(static_cast<int>(slot));
    m_nameSubscription.add(device, QString::fromLatin1(kDeviceNamePath), this, &QLMainWindow::devNameChanged);
}

void QLMainWindow::closeMainPanel()
{
    if (QWidget* panel = m_mainPanel.data()) {
        m_mainPanel = nullptr;
        panel->close();
        // Gone now, not at the next turn of the event loop: the module it
        // was bound to is deleted next.
        delete panel;
    }
    delete m_uiModule;
    m_uiModule = nullptr;
}

IZDevUIBase* QLMainWindow::createUIModule(Quil::ModelType type)
{
    return Quil::createUIBase(static_cast<uint32_t>(type));
}

JResult QLMainWindow::selectDevice(uint32_t slot)
{
    if (!m_core)
        return 0;
    m_selectedModelType = m_core->modelType(static_cast<int>(slot));
    refreshNameBar();
    subscribeName(slot);
    closeMainPanel();

    m_uiModule = createUIModule(m_selectedModelType);
    if (!m_uiModule)
        return 0;
    Quil::IZDev* device = m_core->rackDevice(static_cast<int>(m_selectedSlot));
    if (!device)
        return 0;
    JResult result = m_uiModule->init(m_selectedSlot, device);
    if (result < 0)
        return result;
    QWidget* panel = Quil::createUIMain(static_cast<uint32_t>(m_selectedModelType), m_deviceArea);
    if (!panel)
        return result;
    m_mainPanel = panel;
    if (IZDevUI* ui = m_uiModule->asDevUI(panel))
        result = ui->init(m_selectedSlot, device, this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->show();
    if (auto* scaled = dynamic_cast<IScaledWidget*>(panel))
        scaled->applyScale(static_cast<ZoomCode>(m_zoomCode));
    return result;
}

void QLMainWindow::devNameChanged()
{
    refreshNameBar();
}

int QLMainWindow::mountChangedSlot(uint unitId, int modelType)
{
    const int index = static_cast<int>(unitId);
    if (m_slotStrip) {
        if (modelType < Quil::MODEL_LAST + 1)
            m_slotStrip->setSlotLabel(index, modelLabel(modelType));
        if (m_core && modelType != Quil::MODEL_NONE) {
            m_slotStrip->subscribeSlot(index);
            m_slotStrip->setMounted(index, true);
        } else {
            m_slotStrip->setMounted(index, false);
        }
    }
    if (unitId == m_selectedSlot && modelType != m_selectedModelType)
        selectDevice(unitId);
    closeEditWindows(unitId);
    return 0;
}

// ---- zoom

JResult QLMainWindow::setZoom(int code)
{
    if (code == m_zoomCode)
        return 0;
    const auto oldCode = static_cast<ZoomCode>(m_zoomCode);
    const auto newCode = static_cast<ZoomCode>(code);
    m_zoomCode = code;

    for (QWidget* menu : std::initializer_list<QWidget*>{m_menuBar, m_fileMenu, m_toolMenu, m_zoomMenu, m_aboutMenu})
        menu->setFont(ZScale::scaleFont(newCode, oldCode, menu->font()));
    // Kept from the 100 % layout rather than read back, so rounding never
    // drifts and every return to 100 % gives the first size again.
    m_menuBarHeight = ZScale::rescaleValue(newCode, oldCode, m_menuBarHeight);

    m_centralFrame->applyScale(newCode);

    // The scroll bar keeps its platform width at every zoom.
    const int extent = scrollBarExtent();
    m_slotScroll->resizeScaled(m_slotScroll->unscaledWidth() - (extent - ZScale::unscaleValue(newCode, extent)),
        m_slotScroll->unscaledHeight());
    m_rightPanel->moveScaled(m_slotScroll->unscaledWidth(), m_rightPanel->unscaledY());
    m_slotStrip->resizeScaled(m_slotStrip->unscaledWidth(), m_slotStrip->unscaledHeight() + kStripGaps);

    fitWindow(QSize(m_centralFrame->maximumWidth() - (ZScale::scaleValue(newCode, extent) - extent),
        m_centralFrame->maximumHeight() + m_menuBarHeight));
    // A window held at the screen's size is not resized, so nothing else
    // would lay the taller menu bar out before the next event.
    layout()->activate();

    for (EditWindowEntry& entry : m_editWindows) {
        if (auto* scaled = dynamic_cast<IScaledWidget*>(entry.window.data()))
            scaled->applyScale(newCode);
    }
    if (m_meterZoomAction->isChecked())
        applyMeterZoom();
    return 0;
}

JResult QLMainWindow::applyMeterZoom()
{
    const auto code = static_cast<ZoomCode>(m_meterZoomAction->isChecked() ? m_zoomCode : 0);
    for (QWidget* meter : {m_meterWindow1.data(), m_meterWindow2.data()}) {
        auto* scaled = dynamic_cast<IScaledWidget*>(meter);
        if (!scaled)
            continue;
        const QPoint at = ZScale::unscaledPos(meter, scaled->scale());
        scaled->applyScale(code);
        ZScale::move(meter, code, at.x(), at.y());
    }
    return 0;
}

// ---- edit windows

QLMainWindow::EditWindowEntry* QLMainWindow::findEditWindow(uint32_t unitId, int kind)
{
    for (EditWindowEntry& entry : m_editWindows) {
        if (!entry.isFree() && entry.unitId == unitId && entry.kind == kind)
            return &entry;
    }
    return nullptr;
}

QLMainWindow::EditWindowEntry* QLMainWindow::freeEditWindow()
{
    for (EditWindowEntry& entry : m_editWindows) {
        if (entry.isFree())
            return &entry;
    }
    return nullptr;
}

int QLMainWindow::openEditWindow(uint32_t unitId, int kind, const QVariant& page, bool option)
{
    if (!m_uiModule || unitId != m_selectedSlot)
        return DEV_E_FAIL;
    if (EditWindowEntry* open = findEditWindow(unitId, kind)) {
        IZDevUI* ui = m_uiModule->asDevUI(open->window);
        const int result = ui ? ui->setPage(page) : DEV_E_FAIL;
        open->window->showNormal();
        open->window->raise();
        return result;
    }
    EditWindowEntry* entry = freeEditWindow();
    if (!entry) {
        QMessageBox::information(nullptr, tr("information"), tr("No more Edit Window can be opened!"), QMessageBox::Ok);
        return DEV_E_FAIL;
    }
    if (!m_uiModule->hasEditWindow()) {
        QMessageBox::information(nullptr, tr("information"), tr("No Edit Window!"), QMessageBox::Ok);
        return 0;
    }
    Quil::IZDev* device = m_core ? m_core->rackDevice(static_cast<int>(m_selectedSlot)) : nullptr;
    if (!device)
        return DEV_E_FAIL;
    QWidget* window = m_uiModule->createEditWindow(kind, page, nullptr, Qt::Dialog, option);
    if (!window)
        return DEV_E_FAIL;
    int result = DEV_E_FAIL;
    if (IZDevUI* ui = m_uiModule->asDevUI(window)) {
        result = ui->init(m_selectedSlot, device, this);
        if (result >= 0)
            result = ui->setPage(page);
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    if (auto* scaled = dynamic_cast<IScaledWidget*>(window))
        scaled->applyScale(static_cast<ZoomCode>(m_zoomCode));
    entry->unitId = unitId;
    entry->kind = kind;
    entry->window = window;
    return result;
}

int QLMainWindow::closeEditWindows(uint32_t unitId)
{
    for (EditWindowEntry& entry : m_editWindows) {
        if (entry.isFree() || entry.unitId != unitId)
            continue;
        QWidget* window = entry.window.data();
        entry = EditWindowEntry();
        window->close();
        delete window;
    }
    return 0;
}

// ---- dialogs

JResult QLMainWindow::showNetworkSetup(bool withSaveConfirm)
{
    if (!m_core)
        return DEV_E_FAIL;
    NetSetupDlg dialog;
    const JResult result = dialog.setup(m_core, withSaveConfirm);
    if (result < 0)
        return result;
    dialog.applyScale(static_cast<ZoomCode>(m_zoomCode));
    dialog.exec();
    return 0;
}

JResult QLMainWindow::showMount(uint32_t unitId)
{
    if (!m_core)
        return DEV_E_FAIL;
    const Quil::ModelType current = m_core->modelType(static_cast<int>(unitId));
    MountDlg dialog(unitId);
    dialog.setCurrentModel(current);
    dialog.applyScale(static_cast<ZoomCode>(m_zoomCode));
    if (dialog.exec() != QDialog::Accepted || !m_core)
        return 0;
    const Quil::ModelType chosen = dialog.chosenModel();
    return chosen != current ? m_core->mountModel(static_cast<int>(unitId), chosen) : 0;
}

JResult QLMainWindow::showDeviceInfo()
{
    return m_core ? runDeviceInfoDlg() : DEV_E_FAIL;
}

JResult QLMainWindow::showFirmwareUpdate()
{
    runFirmwareUpdate();
    return 0;
}

JResult QLMainWindow::showIpAddressSetup(uint32_t unitId)
{
    return m_core ? runIpAddrDlg(unitId) : DEV_E_FAIL;
}

int QLMainWindow::showProperties(uint32_t unitId)
{
    return m_core ? runPropDlg(unitId) : DEV_E_FAIL;
}

JResult QLMainWindow::showSummary(uint32_t unitId)
{
    return m_core ? runSummaryDlg(unitId) : DEV_E_FAIL;
}

JResult QLMainWindow::showDeviceLog(uint32_t unitId)
{
    if (!m_core)
        return DEV_E_FAIL;
    const Quil::ModelTraits* traits = Quil::modelTraits(m_core->modelType(static_cast<int>(unitId)));
    switch (traits ? traits->log : Quil::DeviceLog::None) {
    case Quil::DeviceLog::Handshake:
        return runDevLogDlg(unitId);
    case Quil::DeviceLog::Tftp:
        return runDevLogTftpDlg(unitId);
    case Quil::DeviceLog::None:
        break;
    }
    return DEV_E_FAIL;
}

JResult QLMainWindow::showMeterWindow(int lines)
{
    return openMeterWindow(lines);
}

// ---- position and closing

JResult QLMainWindow::saveWindowPosition()
{
    return Quil::QuilPrefs::instance().setValue(
        QString::fromLatin1(Quil::QuilPrefs::kGeometry), QVariant(frameGeometry().topLeft()));
}

JResult QLMainWindow::restoreWindowPosition()
{
    const QVariant stored = Quil::QuilPrefs::instance().value(QString::fromLatin1(Quil::QuilPrefs::kGeometry));
    if (!stored.isValid() || stored.type() != QVariant::Point)
        return DEV_E_FAIL;
    const QPoint at = stored.toPoint();
    const QScreen* screen = QGuiApplication::screenAt(at);
    if (!screen || !screen->availableGeometry().contains(at))
        return DEV_E_FAIL;
    moveScaled(at);
    return 0;
}

void QLMainWindow::showEvent(QShowEvent* event)
{
    ZScaledMainWindow::showEvent(event);
    // Only a shown window knows its frame and its screen for certain.
    fitWindow(m_wantedSize);
}

void QLMainWindow::closeEvent(QCloseEvent* event)
{
    if (m_core && m_core->saveSettings(nullptr) < 0) {
        event->ignore();
        return;
    }
    saveWindowPosition();
    emit aboutToClose();
    ZScaledMainWindow::closeEvent(event);
}
