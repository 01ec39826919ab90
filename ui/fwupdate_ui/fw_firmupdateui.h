// The firmware update window's fixed form: the package path, the framed
// firmware information, the headed unit list in a scroll area and the two
// buttons, built at 100 % and scaled once by the window's zoom code. The
// window's behaviour (package choice, discovery, analysis, runs) builds on
// this form.
#pragma once

#include "device/discovery/dev_hostif.h"
#include "device/discovery/dev_recorder.h"
#include "fwupdate/dfu/dfu.h"
#include "fwupdate/package/fwpkg_filemanager.h"
#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_updaterfactory.h"
#include "ui/widgets/zscaled.h"

#include <QSet>
#include <QStringList>
#include <QTimer>

#include <array>
#include <atomic>
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
    // How long the window waits for its units to leave update mode before
    // their rack links are asked for again.
    int leaveUpdateModeMs = 3000;
    // A Dante job whose module stays silent this long fails.
    int danteUpdateMs = 90000;
    DeviceObjectTimings rows;
};
// The timings of a window made without its own, as the application shell
// makes it; a test that drives the whole program shortens them here.
FirmWindowTimings& firmWindowDefaultTimings();

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
// The update run's question and end-of-run results.
struct FirmRunMessages {
    FirmMessage cancelUpdate, completed, failed, failedNoteRich, failedNote;
};
const FirmRunMessages& firmRunMessages();
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

// ---- Dante side: text helpers ---------------------------------------------
// The Dante version and module type (0 Brooklyn-2, 1 Brooklyn-3) of a
// package's Dante line; false when the line holds neither.
bool danteLineVersion(const QString& line, DfuVersion* version, int* moduleType);
// The TFTP server's IPv4 bytes from an address text of one to four decimal
// parts (missing bytes 0); false for any other text.
bool danteTftpAddress(const QString& text, uint8_t out[4]);
// A Dante file path into a zero-terminated slot of DFU_PATH_CHARS wide
// characters; false when it does not fit.
bool danteFileSlot(const QString& path, std::array<char16_t, DFU_PATH_CHARS>* slot);

class FirmUpdateUI : public ZScaledDialog, public IModelUICallback, public IDfuAppCallback {
    Q_OBJECT

public:
    enum UiState { UPDATE_UI_NOFILE = 0, UPDATE_UI_DEVICE_ANALYZING = 2, UPDATE_UI_READY = 3, UPDATE_UI_UPDATING = 4 };

    explicit FirmUpdateUI(QWidget* parent = nullptr, Qt::WindowFlags flags = {},
        ModelFirmUpdaterFactory factory = createModelFirmUpdater,
        const FirmWindowTimings& timings = firmWindowDefaultTimings());
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

    // -- The update run: jobs one at a time, in row order, each unit's
    // -- model job before its Dante job; cancel; the end of the run.
public:
    // The side of a unit that a job updates.
    enum class RunSide { None, Model, Dante };
    int32_t jobIndex() const { return m_jobIndex; }
    // The running job's side; None between jobs and outside a run.
    RunSide runningSide() const { return m_runSide; }
    // Dante event 4 (upgrade status) for the labelled row.
    int32_t danteUpdateStatusChanged(DeviceObject* row);

public slots:
    void startFirmUpdate();
    int32_t cancelUpdate();
    void danteTransferProgressValueChanged(int value);
    void onTimerDanteUpdateFailed(uint32_t id);
    int32_t receiveDfuSendDataCallback(uint childId, uint type, QString targetDeviceLabel);

signals:
    void signalDanteTransferProgressValue(int value);

private:
    int32_t startNextJob();
    int32_t findNextJob(RunSide* side);
    int32_t startModelUpdate(DeviceObject* row);
    int32_t startDanteUpdate(DeviceObject* row);
    int32_t finishModelJob(bool ok);
    int32_t finishDanteJob(bool ok);
    int32_t updateEnd();
    bool anyVersionError() const;
    // Model callbacks 2 to 4 during a run.
    int32_t modelRunCallback(uint32_t kind, DeviceObject* row);
    // An error of a side in a run: the running job ends failed, a waiting
    // side is marked Failed, a side whose job ended is left alone.
    void runSideError(DeviceObject* row, RunSide side);
    DeviceObject* runningRow() const;
    bool isRunning(const DeviceObject* row, RunSide side) const;

    RunSide m_runSide = RunSide::None;
    uint m_runId = 0;
    // Tests reach the window's rows and updater through this.
    friend class FirmRunAccess;
    // -- end of the update run

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    Ui_FirmUpdateUI ui;

private:
    int32_t loadPackage(const QString& path);
    int32_t setupDevices();
    int32_t createDeviceObjects(int32_t packageType);
    int32_t createDeviceObject(const DeviceEntry& entry);
    // modelAgain: associated rows whose model job failed; their units are
    // set up in the model engine again, so the next run can start them.
    int32_t startAnalyzing(const QSet<uint>& modelAgain = {});
    bool analyzeModelAgain(DeviceObject* row);
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

    // ---- Dante side (fw_firmdante.cpp) -----------------------------------
public:
    // IDfuAppCallback, on the agent's or the TFTP task: each only copies the
    // front's target label and emits a queued signal.
    void dfuAppCallback(uint32_t event) override;
    void dfuAppErrorCallback(const DfuErrorInfo& error) override;
    void dfuAppDeviceErrorCallback(const DfuErrorInfo& error, const char* deviceName) override;
    void dfuSendDataCallback(uint16_t childId, uint32_t state) override;

    DanteFirmwareUpdateModule* danteFront() const { return m_dfu.get(); }
    bool danteReady() const { return m_danteReady; }
    int32_t danteAgentResult() const { return m_agentResult; }
    QStringList danteFiles() const { return m_danteFiles; }

signals:
    void signalDfuAppCallback(uint callbackType, QString targetDeviceLabel);
    void signalDfuAppErrorCallback(uint callbackType, QString targetDeviceLabel);
    void signalDfuSendDataCallback(uint childId, uint type, QString targetDeviceLabel);

public slots:
    void receiveDfuAppCallback(uint callbackType, QString targetDeviceLabel);
    void receiveDfuAppErrorCallback(uint callbackType, QString targetDeviceLabel);

private:
    int32_t initDanteAgent();
    int32_t initDanteTftp();
    int32_t setDanteFileVersions();
    void showDanteFileInfo(const QStringList& lines);
    int32_t requestDanteDeviceList();
    int32_t startDanteSearch();
    int32_t onDanteDeviceList();
    int32_t setupDanteList(DeviceObject* row);
    int32_t startModelAnalysisAll();
    // The list never came: the Dante sides fail and the model sides go on.
    void danteListFailed();
    void releaseDanteTftp();
    QString danteLabel() const;
    // The rows' ids: a walk that may run events (a message box, a link
    // closing) must find each row again, as rows may go meanwhile.
    std::vector<uint> rowIds() const;
    // Takes every unit out of update mode and waits, bounded, until those
    // that were in it have said so.
    void leaveUpdateMode();

    std::unique_ptr<DanteFirmwareUpdateModule> m_dfu;
    // What the tasks' callbacks read: set once at init, kept while the
    // front's destructor stops its tasks.
    std::atomic<DanteFirmwareUpdateModule*> m_dfuLive{nullptr};
    bool m_danteReady = false;
    bool m_danteListPending = false;
    QSet<uint> m_inUpdateMode; // units that reported run mode "update"
};

} // namespace Quil
