#include "fwupdate/workgroup/wg_session.h"

#include "fwupdate/workgroup/wg_adapters.h"
#include "fwupdate/workgroup/wg_handoff.h"
#include "fwupdate/workgroup/wg_tables.h"

#include <QCoreApplication>
#include <QTimer>

namespace WG {

namespace {

constexpr int key(int messageClass, int command)
{
    return messageClass << 8 | command;
}

} // namespace

SessionTimes& sessionTimes()
{
    static SessionTimes times;
    return times;
}

DeleteWMSession::DeleteWMSession(WMSession* s)
    : QEvent(kType)
    , session(s)
{
}

QString hardwareSetupText(const QByteArray& payload)
{
    const int zero = payload.indexOf('\0');
    QString text = QString::fromLatin1(payload.constData(), zero < 0 ? payload.size() : zero);
    // Growing a QString leaves the new characters undefined: pad them.
    text.append(QString(payload.size() - text.size(), QChar(0)));
    return text;
}

WMSession::WMSession(
    SessionDocumentIF* document, uint64_t deviceId, uint16_t modelCode, uint16_t negotiatedWord, SessionMode mode)
    : m_document(document)
    , m_deviceId(deviceId)
    , m_negotiatedWord(negotiatedWord)
    , m_mode(mode)
    , m_thread(new QThread)
    , m_modelCode(modelCode)
{
    // A session torn down on its own thread cannot join it: the thread
    // object then goes once it has ended, on the thread that made it.
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    moveToThread(m_thread);
    m_thread->start(QThread::InheritPriority);
}

WMSession::~WMSession()
{
    if (QThread::currentThread() == m_thread) {
        teardown();
        m_thread->quit();
        return;
    }
    if (m_thread->isRunning())
        QMetaObject::invokeMethod(this, "teardown", Qt::BlockingQueuedConnection);
    else
        teardown();
    // teardown() ends under this lock: what it changed is ordered before
    // the members go.
    {
        std::lock_guard<std::mutex> ordered(m_lock);
    }
    m_thread->quit();
    if (m_thread->wait(static_cast<unsigned long>(transportTimes().threadJoinMs.load())))
        delete m_thread;
}

void WMSession::teardown()
{
    if (m_tornDown)
        return;
    m_tornDown = true;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_updateRunning)
            finishUpdateLocked(1);
    }
    delete m_statusTimer;
    m_statusTimer = nullptr;
    std::unique_ptr<TCPCommunication> transport;
    {
        std::lock_guard<std::mutex> guard(m_transportLock);
        transport = std::move(m_transport);
    }
    if (transport)
        transport->stopConnecting(sessionTimes().connectStopMs);
    // Stops the receive thread: no message reaches the session after this.
    transport.reset();
    std::lock_guard<std::mutex> guard(m_lock);
}

bool WMSession::connectTo(const QString& addressText, int port, int kind, int scopeId)
{
    m_connecting = true;
    if (kind < ConnectManagement || kind > ConnectInitWorkgroupId) {
        m_connecting = false;
        return false;
    }
    if (scopeId < 0) {
        Ipv6AdapterList* adapters = m_document ? m_document->adapterList() : nullptr;
        scopeId = adapters ? static_cast<int>(adapters->selectedInterfaceIndex()) : 0;
    }
    const QString host = scopeId == 0 ? addressText : addressText + QLatin1Char('%') + QString::number(scopeId);
    TCPCommunication* transport = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_transportLock);
        if (m_transport) // one connection per session
            return false;
        m_transport = std::make_unique<TCPCommunication>(this, kind);
        m_transport->moveToThread(m_thread);
        transport = m_transport.get();
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_host = host;
    }
    queueHandoff(transport, [transport, host, port] { transport->connectTo(host, port); });
    return true;
}

QString WMSession::hostText() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_host;
}

bool WMSession::firmwareUpdateRunning() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_updateRunning;
}

bool WMSession::send(const QByteArray& message)
{
    std::lock_guard<std::mutex> guard(m_transportLock);
    return m_transport && m_transport->send(message);
}

void WMSession::arm(int ms, void (WMSession::*slot)())
{
    if (QThread::currentThread() == m_thread)
        QTimer::singleShot(ms, this, slot);
    else
        queueHandoff(this, [this, ms, slot] { QTimer::singleShot(ms, this, slot); });
}

void WMSession::postDelete()
{
    if (QObject* target = m_document->eventTarget())
        postHandoff(target, new DeleteWMSession(this));
}

void WMSession::removeFromEnumeration()
{
    std::lock_guard<DocumentMutex> guard(m_document->documentMutex());
    m_document->enumerationTable()->remove(m_deviceId);
}

void WMSession::endTask(bool leaveEnumeration)
{
    if (leaveEnumeration)
        removeFromEnumeration();
    m_document->detachSession(m_deviceId);
    postDelete();
}

// ---------------------------------------------------------------------------
// Connect results.

void WMSession::customEvent(QEvent* event)
{
    if (event->type() != SessionConnectEvent::kType)
        return;
    acceptHandoff();
    const auto* e = static_cast<SessionConnectEvent*>(event);
    switch (e->kind()) {
    case ConnectManagement:
        slotTcpConnectStatusForManagementSession(e->success());
        break;
    case ConnectInterception:
        slotTcpConnectStatusForInterception(e->success());
        break;
    case ConnectIdentify:
        slotTcpConnectStatusForIdentify(e->success());
        break;
    case ConnectInitWorkgroupId:
        slotTcpConnectStatusForInitWorkgroupID(e->success());
        break;
    default:
        break;
    }
    m_connecting = false;
}

void WMSession::slotTcpConnectStatusForManagementSession(bool success)
{
    if (!success) {
        endTask(false);
        return;
    }
    bool present = false;
    uint16_t slot = 0;
    {
        std::lock_guard<DocumentMutex> guard(m_document->documentMutex());
        if (const WorkgroupMember* m = findMember(*m_document->workgroupTable(), m_deviceId)) {
            present = true;
            slot = m->slotWord;
        }
    }
    if (!present)
        return;
    // Set before sending, so that a quick reply is never followed by a
    // time-out that ends the session.
    m_awaitingReply = true;
    send(buildManagementRequest(m_document->ownWorkgroupId(), m_negotiatedWord, slot));
    arm(sessionTimes().connectWaitMs, &WMSession::slotConnectTimeout);
}

void WMSession::interruptStarted(bool success, int task)
{
    if (!success) {
        endTask(task == TaskInterception);
        return;
    }
    m_task = task;
    m_awaitingReply = true;
    send(buildInterruptRequest(m_document->ownWorkgroupId()));
    arm(sessionTimes().connectWaitMs, &WMSession::slotConnectTimeout);
}

void WMSession::slotTcpConnectStatusForInterception(bool success)
{
    interruptStarted(success, TaskInterception);
}

void WMSession::slotTcpConnectStatusForIdentify(bool success)
{
    interruptStarted(success, TaskIdentify);
}

void WMSession::slotTcpConnectStatusForInitWorkgroupID(bool success)
{
    interruptStarted(success, TaskInitWorkgroupId);
}

// ---------------------------------------------------------------------------
// Time-outs.

void WMSession::slotConnectTimeout()
{
    if (m_awaitingReply.exchange(false))
        endTask(m_task == TaskInterception);
}

void WMSession::slotInterruptSessionDisconnectReqTimeout()
{
    if (!m_disconnectRequested)
        return;
    // As a refused 1/7.
    WgMessage refused;
    refused.messageClass = ClassSession;
    refused.command = 7;
    refused.result = kResultFailure;
    dispatchInterrupt(refused);
}

void WMSession::slotManageSessionDisconnectReqTimeout()
{
    if (!m_disconnectRequested)
        return;
    removeFromEnumeration();
    requestInterruptDisconnect(m_document->ownWorkgroupId());
    m_awaitingReply = false;
    m_disconnectRequested = false;
}

void WMSession::slotRemoteControlSessionCloseReqTimeout()
{
    if (!m_disconnectRequested)
        return;
    m_document->remoteCloseDone();
    m_awaitingReply = false;
    m_disconnectRequested = false;
}

void WMSession::slotMonitorSessionCloseReqTimeout() { }

void WMSession::slotInteranlErrTimeOut()
{
    m_document->expireErrors();
}

// ---------------------------------------------------------------------------
// Requests.

bool WMSession::sendKeepAlive(uint64_t workgroupId)
{
    return m_mode == SessionMode::Management && send(buildKeepAlive(workgroupId));
}

bool WMSession::requestManagementDisconnect(uint64_t workgroupId)
{
    if (m_task == TaskInterception) {
        m_disconnectRequested = true;
        arm(sessionTimes().disconnectWaitMs, &WMSession::slotManageSessionDisconnectReqTimeout);
    }
    return send(buildManagementDisconnect(workgroupId));
}

bool WMSession::requestInterruptDisconnect(uint64_t ownId)
{
    m_disconnectRequested = true;
    arm(sessionTimes().disconnectWaitMs, &WMSession::slotInterruptSessionDisconnectReqTimeout);
    return send(buildInterruptDisconnect(ownId));
}

bool WMSession::setWorkgroupId(uint64_t id)
{
    {
        std::lock_guard<DocumentMutex> guard(m_document->documentMutex());
        if (WorkgroupMember* m = findMember(*m_document->workgroupTable(), m_deviceId))
            m->heldWorkgroupId = id;
    }
    return send(buildWorkgroupIdSet(id));
}

bool WMSession::requestStatus()
{
    return send(buildStatusRequest(m_document->ownWorkgroupId()));
}

void WMSession::setHardwareSetupReceiver(QObject* receiver)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_hardwareReceiver = receiver;
}

// ---------------------------------------------------------------------------
// Firmware update.

bool WMSession::startFirmwareUpdate(
    const QByteArray& fileName, uint16_t serverPort, QObject* receiver, const uint8_t* pcAddress)
{
    if (fileName.isEmpty() || !m_document || !pcAddress)
        return false;
    const QByteArray message = buildFirmwareUpdateStart(m_document->ownWorkgroupId(), pcAddress, serverPort, fileName);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_firmwareReceiver = receiver;
        m_statusTicks = 0;
        queueHandoff(this, [this] { slotFirmUpdateStart(); });
        m_updateRunning = true;
    }
    return send(message);
}

void WMSession::slotFirmUpdateStart()
{
    if (!m_statusTimer) {
        m_statusTimer = new QTimer(this);
        connect(m_statusTimer, &QTimer::timeout, this, &WMSession::slotFirmUpdateStatusTimeout);
    }
    m_statusTimer->start(sessionTimes().statusTickMs);
}

void WMSession::slotFirmUpdateStatusTimeout()
{
    bool ask = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_updateRunning)
            return;
        ++m_statusTicks;
        if (m_statusTicks >= sessionTimes().unansweredLimit) {
            // A unit that stopped answering ends its update as a failure.
            finishUpdateLocked(1);
            queueHandoff(this, [this] { slotFirmUpdateFininshed(); });
            return;
        }
        ask = m_statusTicks > sessionTimes().statusLimit;
    }
    if (ask)
        requestStatus();
}

void WMSession::slotFirmUpdateFininshed()
{
    delete m_statusTimer;
    m_statusTimer = nullptr;
}

void WMSession::finishUpdateLocked(uint16_t result)
{
    if (m_firmwareReceiver)
        postHandoff(m_firmwareReceiver, new FirmUpdateReplyEvent(result, m_deviceId));
    if (QObject* target = m_document->eventTarget())
        postHandoff(target, new FirmUpdateReplyEvent(result, m_deviceId));
    m_updateRunning = false;
}

// ---------------------------------------------------------------------------
// Received messages, on the transport's receive thread.

bool WMSession::receive(const uint8_t* buffer, uint32_t length)
{
    if (!m_document || !m_document->enabled())
        return false;
    WgMessage m;
    switch (decodeMessage(buffer, length, m_mode, &m)) {
    case Decode::Refused:
        return false;
    case Decode::Ignored:
        return true;
    case Decode::Message:
        break;
    }
    if (m_mode == SessionMode::Management)
        dispatchManagement(m);
    else
        dispatchInterrupt(m);
    return true;
}

void WMSession::onManagementReply(const WgMessage& m)
{
    m_awaitingReply = false;
    if (resultFailed(m.result))
        m_document->dropSession(m_deviceId);
    else
        setWorkgroupId(m_document->ownWorkgroupId());
}

void WMSession::dispatchManagement(const WgMessage& m)
{
    const uint64_t own = m_document->ownWorkgroupId();
    switch (key(m.messageClass, m.command)) {
    case key(1, 1):
        onManagementReply(m);
        break;
    case key(1, 3):
        if (!resultFailed(m.result))
            m_document->dropSession(m_deviceId);
        break;
    case key(1, 10):
        m_document->setPendingLink(m.deviceId, false);
        break;
    case key(1, 14):
        if (!resultFailed(m.result)) {
            std::lock_guard<DocumentMutex> guard(m_document->documentMutex());
            if (WorkgroupMember* member = findMember(*m_document->workgroupTable(), m_deviceId))
                member->remoteControlFlag = false;
        }
        m_document->remoteCloseDone();
        m_awaitingReply = false;
        m_disconnectRequested = false;
        break;
    case key(1, 17): {
        std::lock_guard<DocumentMutex> guard(m_document->documentMutex());
        if (WorkgroupMember* member = findMember(*m_document->workgroupTable(), m_deviceId))
            member->releaseFlag = true;
    }
        setWorkgroupId(0);
        requestManagementDisconnect(own);
        break;
    case key(2, 2): {
        std::lock_guard<DocumentMutex> guard(m_document->documentMutex());
        if (WorkgroupMember* member = findMember(*m_document->workgroupTable(), m.deviceId))
            member->expireFlag = true;
        break;
    }
    case key(3, 1): {
        std::lock_guard<std::mutex> guard(m_lock);
        m_statusTicks = 0;
        if (m_firmwareReceiver) {
            auto* e = new FirmUpdateStatusEvent;
            e->statusWord = m.result;
            e->byte22 = m.statusBytes[0];
            e->byte24 = m.statusBytes[1];
            e->byte26 = m.statusBytes[2];
            e->byte27 = m.statusBytes[3];
            e->text = QString::fromLatin1(m.text);
            e->deviceId = m_deviceId;
            postHandoff(m_firmwareReceiver, e);
        }
        break;
    }
    case key(3, 3): {
        queueHandoff(this, [this] { slotFirmUpdateFininshed(); });
        std::lock_guard<std::mutex> guard(m_lock);
        finishUpdateLocked(m.result);
        break;
    }
    case key(3, 5):
    case key(3, 7): {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_hardwareReceiver)
            postHandoff(m_hardwareReceiver, new HardwareSetupReplyEvent(m.result, hardwareSetupText(m.payload)));
        break;
    }
    case key(3, 8):
        m_document->recordError(m.deviceId, m.errorCode);
        arm(sessionTimes().errorWaitMs, &WMSession::slotInteranlErrTimeOut);
        break;
    default:
        break;
    }
}

void WMSession::dispatchInterrupt(const WgMessage& m)
{
    const uint64_t own = m_document->ownWorkgroupId();
    const bool failed = resultFailed(m.result);
    switch (key(m.messageClass, m.command)) {
    case key(1, 5):
        m_awaitingReply = false;
        if (failed) {
            if (m_task == TaskInterception)
                endTask(true);
        } else if (m_task == TaskInterception) {
            requestManagementDisconnect(own);
        } else if (m_task == TaskIdentify) {
            send(buildIdentify(own));
            requestInterruptDisconnect(own);
        } else if (m_task == TaskInitWorkgroupId) {
            setWorkgroupId(0);
            requestInterruptDisconnect(own);
        }
        break;
    case key(1, 3):
        if (failed)
            removeFromEnumeration();
        requestInterruptDisconnect(own);
        m_awaitingReply = false;
        m_disconnectRequested = false;
        break;
    case key(1, 7):
        m_document->detachSession(m_deviceId);
        if (!failed && m_task == TaskInterception) {
            {
                std::lock_guard<DocumentMutex> guard(m_document->documentMutex());
                if (WorkgroupMember* member = findMember(*m_document->workgroupTable(), m_deviceId))
                    member->attemptCount = 0;
            }
            m_document->openManagementSession(m_deviceId);
        }
        postDelete();
        m_awaitingReply = false;
        m_disconnectRequested = false;
        break;
    case key(1, 1):
        onManagementReply(m);
        break;
    default:
        break;
    }
}

} // namespace WG
