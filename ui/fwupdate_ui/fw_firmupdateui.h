// The firmware update window's fixed form: the package path, the framed
// firmware information, the headed unit list in a scroll area and the two
// buttons, built at 100 % and scaled once by the window's zoom code. The
// window's behaviour (package choice, discovery, analysis, runs) builds on
// this form.
#pragma once

#include "device/dev_hostif.h"
#include "device/dev_recorder.h"
#include "fwupdate/package/fwpkg_filemanager.h"
#include "fwupdate_ui/fw_deviceobject.h"
#include "fwupdate_ui/fw_updaterfactory.h"
#include "widgets/zscaled.h"

#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QWidget;

namespace Quil {

class DeviceObject;

// The form's widgets, made by setupUi and named as the window's code and
// style sheets address them.
struct Ui_FirmUpdateUI {
    QLabel* m_lblFilePath = nullptr;
    QLineEdit* m_lblFileName = nullptr;
    QPushButton* m_btnFileSelect = nullptr;
    QLabel* m_lblInfo = nullptr;
    QFrame* m_FrameFirmInfo = nullptr;
    QLabel* m_lbltitle_type = nullptr;
    QLabel* m_lblInfo_type = nullptr;
    QFrame* line_2 = nullptr;
    QLabel* m_lbltitle_modelVersion = nullptr;
    QLabel* m_lblInfo_modelVersion = nullptr;
    QLabel* m_lblInfo_modelVersion_msg = nullptr;
    QFrame* line_3 = nullptr;
    QLabel* m_lbltitle_danteVersion = nullptr;
    QLabel* m_lblInfo_danteVersion_BN2 = nullptr;
    QLabel* m_lblInfo_danteModel_BN2 = nullptr;
    QFrame* line_11 = nullptr;
    QLabel* m_lbltitle_danteVersion_2 = nullptr;
    QLabel* m_lblInfo_danteVersion_BN3 = nullptr;
    QLabel* m_lblInfo_danteModel_BN3 = nullptr;
    QFrame* line = nullptr;
    QLabel* m_Devices = nullptr;
    QFrame* line_4 = nullptr;
    QLabel* label = nullptr;
    QLabel* label_4 = nullptr;
    QLabel* label_5 = nullptr;
    QLabel* label_6 = nullptr;
    QFrame* line_5 = nullptr;
    QFrame* line_6 = nullptr;
    QFrame* line_7 = nullptr;
    QFrame* line_8 = nullptr;
    QFrame* line_9 = nullptr;
    QFrame* line_10 = nullptr;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* scrollAreaWidgetContents = nullptr;
    QFrame* m_DeviceObjframe = nullptr;
    QPushButton* m_btnUpdate = nullptr;
    QPushButton* m_btnCancel = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class QuilObject;

constexpr int32_t FWUI_E_FAIL = static_cast<int32_t>(0x80000000u);

// The window's waits, in milliseconds; tests shorten them.
struct FirmWindowTimings {
    int agentMs = 10000;
    int linkCloseMs = 5000;
    DeviceObjectTimings rows;
};

// A message box of the window: kind 0 information, 1 warning, 2 critical,
// 3 question (Yes / No, No the default and the escape button).
struct FirmMessage {
    int kind;
    QString title;
    QString body;
};

// The window's fixed message texts.
struct FirmMessages {
    FirmMessage closeWithFailures, selectWithFailures, updateInProgress, invalidNetwork, danteServiceMissing,
        danteInitFailed, danteSettingFailed, pathTooLong, directoryReadOnly, invalidFile, unexpectedError,
        newDeviceFound;
};
const FirmMessages& firmMessages();
// Opens the box; the button pressed.
int showMessage(QWidget* parent, const FirmMessage& message);
// The message for a package reader failure code.
const FirmMessage& packageErrorMessage(JResult code);

// "v123a" -> "v1.23", "v123b" -> "v1.23b"; see the window's version label.
QString formatModelVersion(const QString& text);
// The Brooklyn module of a Dante line: 0 Brooklyn-2, 1 Brooklyn-3, -1 none.
int danteLineModuleType(const QString& line);
// A unit of type unitType is listed for a package of type packageType.
bool unitFitsPackage(int32_t packageType, int32_t unitType);

class FirmUpdateUI : public ZScaledDialog, public IModelUICallback {
    Q_OBJECT

public:
    enum UiState { UPDATE_UI_NOFILE = 0, UPDATE_UI_DEVICE_ANALYZING = 2, UPDATE_UI_READY = 3, UPDATE_UI_UPDATING = 4 };

    explicit FirmUpdateUI(QWidget* parent = nullptr, Qt::WindowFlags flags = {},
        ModelFirmUpdaterFactory factory = createModelFirmUpdater,
        const FirmWindowTimings& timings = FirmWindowTimings());
    ~FirmUpdateUI() override;
    int32_t init(QuilObject* core);

    // Scales the form once from 100 %; the unit list frame keeps its font.
    bool applyScale(ZoomCode code) override;
    // Draws the row into the unit list frame and scales it to the zoom.
    void addRowWidget(DeviceObject* row);

    const Ui_FirmUpdateUI& form() const { return ui; }

    int32_t setUiState(int state);
    int uiState() const { return m_uiState; }
    int32_t packageDeviceType() const { return m_packageType; }
    bool danteMode() const { return m_danteMode; }
    bool thirdGeneration() const { return m_thirdGeneration; }
    QString packageVersion() const { return m_packageVersion; }
    QString modelFirmwarePath() const { return m_modelPath; }
    const std::vector<std::unique_ptr<DeviceObject>>& rows() const { return m_rows; }
    IModelFirmUpdater* modelUpdater() const { return m_updater.get(); }
    QList<int> suspendedSlots() const { return m_suspended; }
    DeviceObject* rowById(uint id) const;
    DeviceObject* rowByDeviceName(const QString& name) const;
    DeviceObject* rowByServiceName(const QString& name) const;
    bool anyUpdateFailed() const;
    bool allRowsAnalyzed() const;

    // IModelUICallback, on the GUI thread.
    void modelCallback(uint32_t kind, uint32_t unitId) override;
    int32_t deviceName(uint32_t unitId, char* name) override;
    bool unitIdOf(const char* name, uint32_t* unitId) override;

public slots:
    void openFileSelect();
    int32_t readFile(QString filePath);
    void onJsdpFoundDevice(QString serviceName);
    void onJsdpLostDevice(QString serviceName);
    void onConnectedDeviceObj(uint id);
    void onDisconnectedDeviceObj(uint id);
    void updateUpdateButton();
    void updateCancelButton();
    void onReceiveFWUpdatemode(uint id, bool isOn);
    void onReceiveFWUpdatemodeChanged(uint id, bool isOn);
    void onTimeoutFWUpdatemodeReceive(uint id);
    void onTimeoutDfuCallback_InitializeDfa();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    Ui_FirmUpdateUI ui;

private:
    int32_t loadPackage(const QString& path);
    int32_t setupDevices();
    int32_t createDeviceObjects(int32_t packageType);
    int32_t createDeviceObject(const DeviceEntry& entry);
    int32_t startAnalyzing();
    int32_t closeRackLink(DeviceObject* row);
    int32_t startModelAnalysis(DeviceObject* row);
    int32_t requestModelSetup(DeviceObject* row);
    int32_t processPendingLists();
    bool handleFoundDevice(const QString& serviceName);
    void handleLostDevice(const QString& serviceName);
    void removeRow(DeviceObject* row, bool later);
    void releaseRows();
    void onModelError(DeviceObject* row);
    void onDanteError(DeviceObject* row);
    void analysisSettled();
    int32_t resumeSuspendedSlots();
    void connectDiscovery();
    uint freeUnitId() const;
    void log(const QString& text) const;

    const ModelFirmUpdaterFactory m_factory;
    const FirmWindowTimings m_timings;
    int m_uiState = UPDATE_UI_NOFILE;
    int32_t m_packageType = 0;
    QuilObject* m_core = nullptr;
    HostInterface m_interface;
    std::unique_ptr<IModelFirmUpdater> m_updater;
    FirmUpdateUIFileManager m_reader;
    int32_t m_jobIndex = -1;
    bool m_cancelRequested = false;
    int32_t m_agentResult = FWUI_E_FAIL;
    QString m_packagePath, m_packageFolder, m_packageFileName, m_modelPath;
    QStringList m_danteFiles;
    QString m_packageVersion;
    uint32_t m_progressMax = 0;
    QStringList m_danteLines;
    QStringList m_foundWhileBusy, m_lostWhileBusy, m_modelFailed, m_danteFailed;
    QList<int> m_suspended;
    std::vector<std::unique_ptr<DeviceObject>> m_rows;
    QTimer m_agentTimer;
    bool m_danteMode = true;
    bool m_thirdGeneration = false;
    QMetaObject::Connection m_foundConnection, m_lostConnection;
};

} // namespace Quil
