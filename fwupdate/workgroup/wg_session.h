// One TCP session with one workgroup unit. A management session keeps the
// unit in the PC's workgroup and carries its firmware update; an interrupt
// session does one short task on a unit that is not (yet) the PC's: take it
// over from another workgroup, make it identify itself, or clear its
// workgroup id. The session lives in a thread of its own, where its timers
// run; the transport's receive thread hands it the unit's messages.
#pragma once

#include "fwupdate/workgroup/wg_message.h"
#include "fwupdate/workgroup/wg_transport.h"

#include <QByteArray>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class QTimer;

namespace WG {

class EnumData;
class Ipv6AdapterList;
class WMSession;
class WorkgroupData;

// Waits and limits of the sessions, in milliseconds and ticks; tests
// shorten them before they make a session.
struct SessionTimes {
    std::atomic<int> connectWaitMs{5000}; // for the reply to 1/0 or 1/4
    std::atomic<int> disconnectWaitMs{5000}; // for the reply to 1/2 or 1/6
    std::atomic<int> errorWaitMs{4000}; // a recorded error is cleared after it
    std::atomic<int> statusTickMs{2000}; // firmware status polling
    std::atomic<int> statusLimit{5}; // quiet ticks before 3/2 is asked for
    std::atomic<int> unansweredLimit{30}; // quiet ticks that end the update
    std::atomic<int> connectStopMs{3000}; // for a connect thread at teardown
};
SessionTimes& sessionTimes();

// Connection kinds, echoed by the transport in its SessionConnectEvent.
enum ConnectKind : int {
    ConnectManagement = 0,
    ConnectInterception = 1,
    ConnectIdentify = 2,
    ConnectInitWorkgroupId = 3,
};

// Interrupt tasks.
enum InterruptTask : int {
    TaskNone = -1,
    TaskInterception = 0,
    TaskIdentify = 1,
    TaskInitWorkgroupId = 2,
};

// The document mutex: recursive, because the document's own steps (a
// heartbeat, say) call into sessions that take it again.
using DocumentMutex = std::recursive_mutex;

// What a session needs of the document. The operations take the document
// mutex themselves.
class SessionDocumentIF {
public:
    virtual ~SessionDocumentIF() = default;
    virtual void detachSession(uint64_t deviceId) = 0;
    virtual void dropSession(uint64_t deviceId) = 0;
    virtual void closeSession(uint64_t deviceId, bool resetAttempts) = 0;
    virtual void openManagementSession(uint64_t deviceId) = 0;
    virtual void startInterruptTask(uint64_t deviceId, int task) = 0;
    virtual void assignWorkgroupId(uint64_t deviceId, uint64_t id) = 0;
    virtual void recordError(uint64_t deviceId, uint32_t code) = 0;
    // Clears recorded error codes older than the error wait.
    virtual void expireErrors() = 0;
    virtual void setPendingLink(uint64_t deviceId, bool value) = 0;
    virtual void remoteCloseDone() = 0;
    virtual void markConnected(uint64_t deviceId) = 0;

    // Guards both tables and every member in them.
    virtual DocumentMutex& documentMutex() = 0;
    virtual WorkgroupData* workgroupTable() = 0;
    virtual EnumData* enumerationTable() = 0;
    virtual uint64_t ownWorkgroupId() const = 0;
    virtual bool enabled() const = 0;
    virtual Ipv6AdapterList* adapterList() = 0;
    // Where DeleteWMSession and the firmware replies are posted.
    virtual QObject* eventTarget() = 0;
};

// Asks the document to delete the session if it still exists.
class DeleteWMSession : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(1002);
    explicit DeleteWMSession(WMSession* session);
    QPointer<WMSession> session;
};

class FirmUpdateReplyEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(1007);
    FirmUpdateReplyEvent(uint16_t result, uint64_t deviceId)
        : QEvent(kType)
        , result(result)
        , deviceId(deviceId)
    {
    }
    uint16_t result;
    uint64_t deviceId;
};

class FirmUpdateStatusEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(1008);
    FirmUpdateStatusEvent()
        : QEvent(kType)
    {
    }
    uint16_t statusWord = 0;
    uint8_t byte24 = 0;
    uint8_t byte26 = 0;
    uint8_t byte27 = 0;
    QString text;
    uint8_t byte22 = 0;
    uint64_t deviceId = 0;
};

class HardwareSetupReplyEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(1009);
    HardwareSetupReplyEvent(uint16_t word, const QString& payload)
        : QEvent(kType)
        , word(word)
        , payload(payload)
    {
    }
    uint16_t word;
    QString payload;
};

// The payload's 8-bit characters up to the first zero byte, padded with
// zero characters to the payload's length.
QString hardwareSetupText(const QByteArray& payload);

class WMSession : public QObject, public TcpOwnerIF {
    Q_OBJECT
public:
    // Starts the session's thread and moves the session into it.
    WMSession(
        SessionDocumentIF* document, uint64_t deviceId, uint16_t modelCode, uint16_t negotiatedWord, SessionMode mode);
    // Tears the session down on its own thread (a running update ends with
    // result 1), then ends and joins that thread. Never call it with the
    // document mutex held.
    ~WMSession() override;

    // A negative scope id takes the adapter list's selected interface.
    bool connectTo(const QString& addressText, int port, int kind, int scopeId);
    bool receive(const uint8_t* buffer, uint32_t length) override;
    QObject* connectEventTarget() override { return this; }

    // pcAddress: the PC's 16-byte link-local address on the unit's adapter.
    bool startFirmwareUpdate(
        const QByteArray& fileName, uint16_t serverPort, QObject* receiver, const uint8_t* pcAddress);
    bool sendKeepAlive(uint64_t workgroupId);
    bool requestManagementDisconnect(uint64_t workgroupId);
    bool requestInterruptDisconnect(uint64_t ownId);
    bool setWorkgroupId(uint64_t id);
    bool requestStatus();
    void setHardwareSetupReceiver(QObject* receiver);

    uint64_t deviceId() const { return m_deviceId; }
    SessionMode mode() const { return m_mode; }
    int interruptTask() const { return m_task; }
    uint16_t negotiatedWord() const { return m_negotiatedWord; }
    QString hostText() const;
    bool awaitingReply() const { return m_awaitingReply; }
    bool disconnectRequested() const { return m_disconnectRequested; }
    bool connecting() const { return m_connecting; }
    bool firmwareUpdateRunning() const;

public slots:
    void slotTcpConnectStatusForIdentify(bool success);
    void slotTcpConnectStatusForInitWorkgroupID(bool success);
    void slotTcpConnectStatusForInterception(bool success);
    void slotTcpConnectStatusForManagementSession(bool success);
    void slotConnectTimeout();
    void slotInterruptSessionDisconnectReqTimeout();
    void slotRemoteControlSessionCloseReqTimeout();
    void slotMonitorSessionCloseReqTimeout();
    void slotManageSessionDisconnectReqTimeout();
    void slotInteranlErrTimeOut();
    void slotFirmUpdateStatusTimeout();
    void slotFirmUpdateStart();
    void slotFirmUpdateFininshed();

protected:
    void customEvent(QEvent* event) override;

private:
    bool send(const QByteArray& message);
    // Runs slot on the session's thread after ms, from any thread.
    void arm(int ms, void (WMSession::*slot)());
    void dispatchManagement(const WgMessage& m);
    void dispatchInterrupt(const WgMessage& m);
    void onManagementReply(const WgMessage& m);
    void interruptStarted(bool success, int task);
    // Ends the task: detach, and ask the document to delete the session.
    void endTask(bool leaveEnumeration);
    void removeFromEnumeration();
    void postDelete();
    // Reports result to the update's receiver and the document and stops
    // the polling; the session mutex is held.
    void finishUpdateLocked(uint16_t result);
    // On the session's own thread: the update, the timers, the transport.
    Q_INVOKABLE void teardown();

    mutable std::mutex m_transportLock; // the pointer: send() comes from several threads
    std::unique_ptr<TCPCommunication> m_transport;
    SessionDocumentIF* const m_document;
    const uint64_t m_deviceId;
    const uint16_t m_negotiatedWord;
    const SessionMode m_mode;
    std::atomic<int> m_task{TaskNone};
    QPointer<QObject> m_hardwareReceiver;
    QPointer<QObject> m_firmwareReceiver;
    QThread* m_thread; // deleted once it has ended
    mutable std::mutex m_lock; // receivers, running flag, tick count, host text
    const uint16_t m_modelCode;
    std::atomic<bool> m_awaitingReply{false};
    std::atomic<bool> m_disconnectRequested{false};
    std::atomic<bool> m_connecting{false};
    int m_statusTicks = 0;
    bool m_updateRunning = false;
    QTimer* m_statusTimer = nullptr; // a child, on the session's thread
    QString m_host;
    bool m_tornDown = false;
};

} // namespace WG
