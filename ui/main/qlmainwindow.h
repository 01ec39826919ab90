// The program's only top-level window: the rack as a strip of 24 slot
// buttons, the name bar and the selected unit's panel, the menus, the slot
// context menu, the zoom of the whole user interface and the table of open
// edit windows. It opens every dialog modally and hands user requests to
// the rack owner, and follows the rack owner's mount and device-id changes.
// Panels reach it through IZMainUICallback. GUI thread only.
#pragma once

#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_result.h"
#include "device/memory/dev_subscribe.h"
#include "ui/panels/uibase.h"
#include "ui/widgets/zscaled.h"

#include <QPointer>

#include <array>

class DevListFrame;
class DevNameFrame;
class ImagePanel;
class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QScrollArea;

namespace Quil {
class QuilObject;
}

class QLMainWindow : public ZScaledMainWindow, public IZMainUICallback {
    Q_OBJECT
public:
    // Gaps between the slot buttons, which the strip does not count.
    static constexpr int kStripGaps = 168;
    static constexpr int kEditWindowCount = 2;

    struct EditWindowEntry {
        uint32_t unitId = 0;
        int kind = 0;
        QPointer<QWidget> window;
        bool isFree() const { return window.isNull(); }
    };

    explicit QLMainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~QLMainWindow() override;

    // Selects the current slot's unit and binds the strip to the rack slots,
    // and answers the rack's questions with message boxes unless it has
    // answers already; the result of showing the unit.
    JResult attachCore(Quil::QuilObject* core);

    // IZMainUICallback.
    int openEditWindow(uint32_t unitId, int kind, const QVariant& page, bool option) override;
    int closeEditWindows(uint32_t unitId) override;
    int showProperties(uint32_t unitId) override;

    JResult showNetworkSetup(bool withSaveConfirm);
    JResult showDeviceInfo();
    JResult showFirmwareUpdate();
    JResult showIpAddressSetup(uint32_t unitId);
    JResult showMount(uint32_t unitId);
    JResult showSummary(uint32_t unitId);
    JResult showDeviceLog(uint32_t unitId);
    JResult showMeterWindow(int lines);

    // The slot's context menu with its entries enabled for the slot's state;
    // owned by the caller.
    QMenu* makeContextMenu(uint32_t unitId);
    JResult selectDevice(uint32_t slot);
    JResult setZoom(int code);
    JResult applyMeterZoom();
    JResult saveWindowPosition();
    JResult restoreWindowPosition();

    int zoomCode() const { return m_zoomCode; }
    uint32_t selectedSlot() const { return m_selectedSlot; }
    Quil::QuilObject* core() const { return m_core; }
    DevListFrame* slotStrip() const { return m_slotStrip; }
    DevNameFrame* nameBar() const { return m_nameBar; }
    ZScaledScrollArea* slotScroll() const { return m_slotScroll; }
    ZScaledFrame* centralFrame() const { return m_centralFrame; }
    ImagePanel* rightPanel() const { return m_rightPanel; }
    ImagePanel* deviceArea() const { return m_deviceArea; }
    QWidget* mainPanel() const { return m_mainPanel; }
    IZDevUIBase* uiModule() const { return m_uiModule; }
    const std::array<EditWindowEntry, kEditWindowCount>& editWindows() const { return m_editWindows; }
    // The window's action with this text, menus and context menu alike.
    QAction* action(const QString& text) const;
    QMenu* fileMenu() const { return m_fileMenu; }
    QMenu* toolMenu() const { return m_toolMenu; }
    QMenu* zoomMenu() const { return m_zoomMenu; }
    QMenu* aboutMenu() const { return m_aboutMenu; }

signals:
    void aboutToClose();

public slots:
    void onOpenFile();
    void onSaveAs();
    void onNetworkSetup();
    void onNetworkSetup(bool withSaveConfirm);
    void onDeviceInfo();
    void onMeterAll1Line();
    void onDeleteMeterAll1Line();
    void onMeterAll2Line();
    void onDeleteMeterAll2Line();
    void onIPAddressSetup();
    void onFirmwareUpdate();
    void onAbout();
    void onQuit();
    void onZoom_100();
    void onZoom_150();
    void onZoom_200();
    void onZoom_Meter();
    void onMount();
    void onConnect();
    void onDisconnect();
    void onProperty();
    void onSummary();
    void onLog();
    void ipAddressSetupRequested(uint unitId);
    void propertyRequested(uint unitId);
    int mountChangedSlot(uint unitId, int modelType);
    int setSelectId(uint unitId);
    void contextMenuRequestSlot(uint unitId);
    void deviceIdSelectedSlot(uint unitId, int deviceId);
    void deviceIdReadSlot(uint unitId, int deviceId);
    void identifyOn(uint unitId);
    void identifyOff(uint unitId);
    void devNameChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // The unit's UI module; tests put a stand-in here.
    virtual IZDevUIBase* createUIModule(Quil::ModelType type);

private:
    void buildActions();
    void buildMenus();
    void buildLayout();
    QAction* addAction(const QString& text, void (QLMainWindow::*slot)());
    bool unitOfSender(uint32_t* unitId) const;
    void updateContextEnables(uint32_t unitId);
    void refreshNameBar();
    void subscribeName(uint32_t slot);
    void unsubscribeName();
    void closeMainPanel();
    int scrollBarExtent() const;
    // Fixes the window at `wanted`, or at what of it fits the screen's
    // available area, the frame then scrolling; kept inside that area.
    void fitWindow(const QSize& wanted);
    QSize fittedSize(const QSize& wanted) const;
    EditWindowEntry* findEditWindow(uint32_t unitId, int kind);
    EditWindowEntry* freeEditWindow();
    int identify(uint32_t unitId, int32_t on);

    // Dialogs that are wired in beside this window; see qlmainwindow_openers.cpp.
    JResult runDeviceInfoDlg();
    JResult runIpAddrDlg(uint32_t unitId);
    JResult runPropDlg(uint32_t unitId);
    JResult runSummaryDlg(uint32_t unitId);
    JResult runDevLogDlg(uint32_t unitId);
    JResult runDevLogTftpDlg(uint32_t unitId);
    JResult runAboutDlg();
    JResult runFirmwareUpdate();
    JResult openMeterWindow(int lines);

    int m_zoomCode = 0;
    uint32_t m_selectedSlot = 0;
    Quil::ModelType m_selectedModelType = Quil::MODEL_NONE;
    Quil::Subscriptions m_nameSubscription;
    Quil::QuilObject* m_core = nullptr;
    QMenuBar* m_menuBar = nullptr;
    int m_menuBarHeight = 0;
    QScrollArea* m_frameScroll = nullptr;
    QSize m_wantedSize; // the window's size when the screen holds it
    ZScaledFrame* m_centralFrame = nullptr;
    ZScaledScrollArea* m_slotScroll = nullptr;
    DevListFrame* m_slotStrip = nullptr;
    ImagePanel* m_rightPanel = nullptr;
    DevNameFrame* m_nameBar = nullptr;
    ImagePanel* m_deviceArea = nullptr;
    IZDevUIBase* m_uiModule = nullptr;
    QPointer<QWidget> m_mainPanel;
    std::array<EditWindowEntry, kEditWindowCount> m_editWindows;
    QPointer<QWidget> m_meterWindow1;
    QPointer<QWidget> m_meterWindow2;

    QMenu* m_fileMenu = nullptr;
    QMenu* m_toolMenu = nullptr;
    QMenu* m_zoomMenu = nullptr;
    QMenu* m_aboutMenu = nullptr;
    QActionGroup* m_zoomGroup = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_saveAsAction = nullptr;
    QAction* m_networkSetupAction = nullptr;
    QAction* m_deviceInfoAction = nullptr;
    QAction* m_meter1Action = nullptr;
    QAction* m_meter2Action = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_firmwareAction = nullptr;
    QAction* m_quitAction = nullptr;
    QAction* m_zoom100Action = nullptr;
    QAction* m_zoom150Action = nullptr;
    QAction* m_zoom200Action = nullptr;
    QAction* m_meterZoomAction = nullptr;
    QAction* m_mountAction = nullptr;
    QAction* m_connectAction = nullptr;
    QAction* m_disconnectAction = nullptr;
    QAction* m_propertiesAction = nullptr;
    QAction* m_summaryAction = nullptr;
    QAction* m_logAction = nullptr;
};
