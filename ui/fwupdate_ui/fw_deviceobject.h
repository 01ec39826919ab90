// DeviceObject: one unit of the firmware update window. It keeps what
// discovery said about the unit, owns the unit's update-mode connection and
// its connect retries, holds an analysis state and an update state for each
// firmware side (the unit's own and its Dante module's), enforces which
// update-state changes are allowed, and draws the unit's 42-pixel row.
//
// Everything runs on the GUI thread; the connection's signals arrive queued.
#pragma once

#include "device/layouts/dev_modeltypes.h"
#include "ui/fwupdate_ui/fw_scpthread.h"

#include <QFrame>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class QWidget;

namespace Quil {

constexpr JResult DEVOBJ_E_FAIL = static_cast<JResult>(0x80000000u);

// The row's waits, in milliseconds; tests shorten them.
struct DeviceObjectTimings {
    int connectionMs = 5000;
    int updateModeMs = 5000;
    int blinkMs = 500;
};
constexpr int DEVOBJ_CONNECT_RETRIES = 3;
constexpr int DEVOBJ_ROW_HEIGHT = 42;
constexpr int DEVOBJ_ROW_WIDTH = 681;

class DeviceObject : public QObject {
    Q_OBJECT

public:
    // Analysis states of a side.
    enum State { StateNone = 0, Disconnected = 1, Analyzing = 2, Analyzed = 3, Updating = 4, Done = 5 };
    // Update states of a side (SeeNote: the unit's own side only).
    enum UpdateState {
        UpdateNone = 0,
        Waiting = 1,
        Cancelled = 2,
        Erasing = 3,
        Transferring = 4,
        Writing = 5,
        Finished = 6,
        Failed = 7,
        Completed = 8,
        SeeNote = 9,
    };

    DeviceObject(uint id, ModelType deviceType, const DeviceObjectTimings& timings = DeviceObjectTimings());
    // Deletes the row frame and the connection.
    ~DeviceObject() override;

    JResult setDiscoveryData(const QString& serviceName, const QString& modelName, uint16_t unitNumber, uint16_t port,
        const QString& ipAddress, const QString& interfaceAddress);
    JResult setIpAddress(const QString& text);
    JResult createConnection();
    JResult connect();
    JResult disconnect();
    JResult dropConnection();
    JResult setUpdateMode(bool on);
    JResult queryUpdateMode();
    JResult sendDanteProgress(uint percent);
    bool isSelectable(bool danteMode) const;
    bool modelChecked() const;
    bool danteChecked() const;
    JResult setModelVersion(const QString& version, const QString& packageVersion, int relation);
    JResult setDanteVersion(const QString& version, int relation);
    JResult setDanteModule(const QString& text);
    JResult modelAnalyzed(bool ok);
    JResult danteAnalyzed(bool ok);
    JResult markModelUnavailable();
    JResult markDanteUnavailable();
    JResult prepareModelUpdate();
    JResult prepareDanteUpdate();
    JResult cancelModelWaiting();
    JResult cancelDanteWaiting();
    JResult endModelRun();
    JResult endDanteRun();
    JResult setModelState(int state);
    JResult setDanteState(int state);
    JResult setModelUpdateState(int state);
    JResult setDanteUpdateState(int state);
    JResult showModelProgress(int value);
    JResult showModelWriteProgress(int value);
    JResult showDanteProgress(int value);
    JResult setDanteProgressMaximum(int value);
    JResult startDanteTimeout(int ms);
    JResult stopDanteTimeout();
    // Draws the row into parent at 100 %; null without a parent.
    QFrame* makeRow(QWidget* parent);

    uint id() const { return m_id; }
    ModelType deviceType() const { return m_deviceType; }
    uint16_t unitNumber() const { return m_unitNumber; }
    QString deviceName() const { return m_deviceName; }
    QString serviceName() const { return m_serviceName; }
    QString modelName() const { return m_modelName; }
    QString ipAddress() const { return m_ipAddress; }
    QString modelVersion() const { return m_modelVersion; }
    QString danteVersion() const { return m_danteVersion; }
    QString packageVersion() const { return m_packageVersion; }
    QString danteModule() const { return m_danteModule; }
    int modelState() const { return m_modelState; }
    int danteState() const { return m_danteState; }
    int modelUpdateState() const { return m_modelUpdateState; }
    int danteUpdateState() const { return m_danteUpdateState; }
    bool isAssociated() const { return m_associated; }
    bool isDanteListed() const { return m_danteListed; }
    void setDanteListed(bool on) { m_danteListed = on; }
    bool isFound() const { return m_found; }
    void setFound(bool on) { m_found = on; }
    bool isUpdatable() const { return m_updatable; }
    void setUpdatable(bool on) { m_updatable = on; }
    QFrame* rowFrame() const { return m_rowFrame; }
    ScpClientThread_fwUpdate* connection() const { return m_connection.get(); }

signals:
    void connectedDeviceObj(uint id);
    void disconnectedDeviceObj(uint id);
    void timeoutFWUpdatemodeReceive(uint id);
    void receiveFWUpdatemode(uint id, bool isOn);
    void receiveFWUpdatemodeChanged(uint id, bool isOn);
    void updateStateChanged(int unitNumber);
    void danteUpdateFailedByDfa(uint32_t id);

public slots:
    void OnConnectedScp();
    void OnDisconnectedScp();
    void OnScpConnectionTimer();
    void OnReceivedFWUpdatemodeTimer();
    void OnConnectionAssociated();
    void dispTransferProgress_model(uint value);
    void OnTimerUpdateBlink_model();
    void OnTimerUpdateBlink_dante();
    void OnTimerDfaCallbackTimeout();
    void OnReceiveFWUpdatemodeChanged(bool isOn);
    void OnReceiveFWUpdatemode(uint value);

private:
    // Tests name a row's unit without a connection.
    friend class FirmRunAccess;
    // One firmware side's widgets and values.
    struct Side {
        QCheckBox* check = nullptr;
        QLabel* stateLabel = nullptr;
        QLabel* updateLabel = nullptr;
        QProgressBar* bar = nullptr;
        QLabel* status = nullptr;
        QTimer blink;
    };
    JResult setState(bool dante, int state);
    JResult setUpdateState(bool dante, int state);
    JResult setVersion(bool dante, const QString& version, int relation);
    JResult analyzed(bool dante, bool ok);
    JResult markUnavailable(bool dante);
    JResult prepare(bool dante);
    JResult endRun(bool dante);
    void startBlink(Side& side);
    void stopBlink(Side& side);
    void toggleBlink(Side& side);
    int& stateOf(bool dante) { return dante ? m_danteState : m_modelState; }
    int& updateStateOf(bool dante) { return dante ? m_danteUpdateState : m_modelUpdateState; }
    QString& versionOf(bool dante) { return dante ? m_danteVersion : m_modelVersion; }
    Side& sideOf(bool dante) { return dante ? m_dante : m_model; }
    bool connectionAssociated() const;
    void releaseConnection();
    // The widgets exist (the window may have deleted the frame with its list).
    bool rowMade() const { return m_rowMade && m_rowFrame; }
    void log(const QString& text) const;

    const uint m_id;
    const ModelType m_deviceType;
    const DeviceObjectTimings m_timings;
    QPointer<QFrame> m_rowFrame;
    bool m_rowMade = false;
    int m_modelState = StateNone;
    int m_danteState = StateNone;
    bool m_associated = false;
    std::unique_ptr<ScpClientThread_fwUpdate> m_connection;
    int m_modelUpdateState = UpdateNone;
    int m_danteUpdateState = UpdateNone;
    bool m_danteListed = false;
    QString m_deviceName;
    QString m_modelName;
    QString m_serviceName;
    QString m_ipAddress;
    QString m_interfaceAddress;
    uint16_t m_unitNumber = 0;
    uint16_t m_port = 0;
    QString m_modelVersion;
    QString m_danteVersion;
    QString m_packageVersion;
    QTimer m_connectionTimer;
    uint8_t m_retries = 0;
    // The last connect opened a link (one whose closing takes the next try).
    bool m_linkOpen = false;
    QTimer m_updateModeTimer;
    bool m_found = true;
    QTimer m_danteTimeout;
    QString m_danteModule;
    bool m_updatable = true;
    // The mode answer is passed on only when it answers our own query: the
    // window answers it with a SET, whose reply would come back as another
    // answer and toggle the unit again.
    bool m_modeQueryPending = false;
    QLabel* m_nameLabel = nullptr;
    Side m_model;
    Side m_dante;
};

} // namespace Quil
