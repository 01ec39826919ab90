#include "device/link/dev_scpdevice.h"

#include "device/link/dev_family.h"
#include "device/link/dev_sequences.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"

#include <algorithm>
#include <cassert>

namespace Quil {

namespace {

// ConnectionState as the rest of the program sees it.
ConnectionState connectionStateOf(ScpDevice::State state)
{
    switch (state) {
    case ScpDevice::State::Disconnected:
        return ConnectionState::Disconnected;
    case ScpDevice::State::Negotiating:
    case ScpDevice::State::Associating:
        return ConnectionState::Connecting;
    case ScpDevice::State::Connected:
        return ConnectionState::Connected;
    case ScpDevice::State::Disconnecting:
        return ConnectionState::Disconnecting;
    }
    return ConnectionState::Disconnected;
}

constexpr int kMinReadTimeoutMs = 5000;
constexpr int kKeepAliveIntervals = 3;
constexpr int32_t kMeterInterval = 40;

} // namespace

// ---------------------------------------------------------------------------

VCOM::VComResult LinkSocket::read(void* buffer, uint32_t size, uint32_t* countOut)
{
    const VCOM::VComResult rc = VComTcpClientSocket::read(buffer, size, countOut);
    if (rc >= 0 && countOut && *countOut > 0)
        m_owed = false;
    return rc;
}

VCOM::VComResult LinkSocket::write(const void* data, uint32_t length, uint32_t* countOut)
{
    const VCOM::VComResult rc = VComTcpClientSocket::write(data, length, countOut);
    // The keep-alive line feed is never answered; anything else is.
    const bool keepAlive = length == 1 && static_cast<const char*>(data)[0] == '\n';
    if (rc >= 0 && length > 0 && !keepAlive && !m_owed) {
        m_owed = true;
        m_owedSince.start();
    }
    return rc;
}

// ---------------------------------------------------------------------------

ScpDevice::ScpDevice(
    const QString& ip, uint16_t port, const QString& localAddress, ModelType deviceType, const DevCommTimings& timings)
    : m_port(port)
    , m_deviceType(deviceType)
    , m_timings(timings)
{
    // stateChanged crosses from the unit's thread to the GUI thread.
    qRegisterMetaType<Quil::ScpDevice::State>("Quil::ScpDevice::State");
    m_remote.setAddressText(VSOCK_FAMILY_IPV4, ip.toLatin1().constData());
    if (!localAddress.isEmpty())
        m_local.setAddressText(VSOCK_FAMILY_IPV4, localAddress.toLatin1().constData());
    m_parameter = createScpParameter(deviceType);
    m_reporter = createScpDeviceReporter(deviceType);
    m_meter = createScpMeterReporter(deviceType);
    m_negotiation = createNegoSeq(deviceType);
    m_association = createAssoSeq(deviceType);
}

ScpDevice::~ScpDevice()
{
    if (m_client)
        m_client->stop();
    m_socket.detach();
    if (m_socket.state() != VCOM::VCOM_STATE_CLOSED)
        m_socket.disconnect();
    if (m_client)
        SCP::ScpClient::release(m_client);
    m_client = nullptr;
    setState(State::Disconnected);
}

JResult ScpDevice::bindWakeup(VCOM::IVComWakeupFunction* wakeup)
{
    if (!hasFamily() || !wakeup)
        return LINK_E_FAIL;
    m_wakeup = wakeup;
    m_client = SCP::ScpClient::create();
    if (!m_client)
        return LINK_E_FAIL;
    m_parameter->setCallback(m_client);
    m_reporter->setParameterAdapter(m_parameter.get());
    return m_client->attach(nullptr, &m_socket, this, m_reporter.get(), m_parameter.get(), m_meter.get()) < 0
        ? LINK_E_FAIL
        : 0;
}

JResult ScpDevice::attachMemory(IZDev* device, int source)
{
    assertRunMutexHeld();
    if (!hasFamily())
        return LINK_E_FAIL;
    m_device = device;
    m_source = static_cast<uint8_t>(source);
    m_parameter->bind(device, m_source);
    m_reporter->bind(device, m_source, m_client);
    if (!device) {
        m_meter->setRegistry(nullptr);
        *m_attached = false;
        return 0;
    }
    m_meter->setRegistry(device->meters());
    *m_attached = true;
#ifndef NDEBUG
    // The meter reporter keeps the device's meter store: the rack unmounts
    // connections first, and a device object must not go while attached.
    if (auto* object = dynamic_cast<QObject*>(device)) {
        connect(object, &QObject::destroyed, this, [attached = m_attached] {
            Q_ASSERT_X(!*attached, "ScpDevice", "a device object went while its link was still attached");
        });
    }
#endif
    if (device->subscribe(QString::fromLatin1(kConnectReqPath), this, SUBSCRIBE_KEY, "1memParamChanged()") < 0)
        return LINK_E_FAIL;
    return device->subscribe(QString::fromLatin1(kDisconnectReqPath), this, SUBSCRIBE_KEY, "1memParamChanged()") < 0
        ? LINK_E_FAIL
        : 0;
}

JResult ScpDevice::detachMemory()
{
    assertRunMutexHeld();
    if (!hasFamily())
        return LINK_E_FAIL;
    if (m_device)
        m_reporter->resetInfo();
    resetLinkValues();
    if (m_client)
        m_client->stop();
    m_meter->setRegistry(nullptr);
    *m_attached = false;
    return 0;
}

void ScpDevice::resetLinkValues()
{
    if (!m_device)
        return;
    m_meter->resetAllMeters();
    m_parameter->applyResetList();
}

JResult ScpDevice::connectToDevice()
{
    if (!m_client || !m_wakeup || m_socket.isConnected() || m_state != State::Disconnected)
        return LINK_E_FAIL;
    m_socket.attach(1, m_wakeup);
    m_socket.forgetOwed();
    const VCOM::VComResult rc = m_socket.connect(m_local, m_remote, m_port);
    if (rc < 0)
        return rc;
    const JResult started = m_client->start(m_negotiation.get());
    if (started < 0 || started == SCP::SCP_NOT_STARTED) {
        // Nothing runs the link: close what was opened, so that the next
        // request finds the socket free.
        m_socket.disconnect();
        return started < 0 ? started : LINK_E_FAIL;
    }
    m_stepState = State::Disconnected;
    setState(State::Negotiating);
    return started;
}

JResult ScpDevice::disconnectFromDevice()
{
    assertRunMutexHeld();
    if (!hasFamily())
        return LINK_E_FAIL;
    if (m_client)
        m_client->stop();
    resetLinkValues();
    setState(State::Disconnecting);
    const VCOM::VComResult rc = m_socket.disconnect();
    if (rc < 0 && m_socket.state() == VCOM::VCOM_STATE_CLOSED) {
        // Nothing left to close, so no event will end the disconnect.
        setState(State::Disconnected);
        return 0;
    }
    return rc;
}

JResult ScpDevice::keepAliveTick()
{
    assertRunMutexHeld();
    if (!m_client || m_state == State::Disconnected || m_state == State::Disconnecting)
        return 0;
    return m_client->keepAliveTick();
}

JResult ScpDevice::renewMeters()
{
    assertRunMutexHeld();
    if (m_state != State::Connected || !m_client || !m_meter)
        return LINK_E_FAIL;
    int32_t count = 0;
    m_meter->getMeterCount(count);
    if (count <= 0)
        return LINK_E_FAIL;
    JResult result = 0;
    for (int32_t i = 0; i < count; ++i)
        result |= m_client->mtrStart(i, kMeterInterval);
    return result | LINK_E_FAIL;
}

JResult ScpDevice::dispatchSocketEvents()
{
    assertRunMutexHeld();
    const VCOM::VComResult rc = m_socket.processEvents(this);
    if (m_stopClientDue && m_client) {
        // After the dispatch, so the client is not stopped from inside its
        // own handling of the event.
        m_client->stop();
    }
    m_stopClientDue = false;
    return rc;
}

JResult ScpDevice::sendChanged()
{
    assertRunMutexHeld();
    if (!hasFamily())
        return LINK_E_FAIL;
    // In every state: marks made while no link runs are used up here, so an
    // offline edit never reaches the unit (the unit's values win at connect).
    m_parameter->sendChanged();
    return m_reporter->pollRequests();
}

int ScpDevice::readTimeoutMs() const
{
    if (m_timings.readTimeoutMs > 0)
        return m_timings.readTimeoutMs;
    const uint32_t keepAlive = m_client ? m_client->base().session().keepAlive() : 0;
    return std::max<int>(
        kMinReadTimeoutMs, static_cast<int>(std::min<uint32_t>(keepAlive, 1u << 28)) * kKeepAliveIntervals);
}

bool ScpDevice::serviceDeadlines()
{
    assertRunMutexHeld();
    if (m_disconnectDue) {
        m_disconnectDue = false;
        if (m_state == State::Negotiating || m_state == State::Associating || m_state == State::Connected) {
            disconnectFromDevice();
            return true;
        }
    }
    if (!m_client)
        return false;
    if (m_state == State::Negotiating || m_state == State::Associating) {
        const int32_t step = m_client->stepIndex();
        if (m_stepState != m_state || m_stepIndex != step) {
            m_stepState = m_state;
            m_stepIndex = step;
            m_stepSince.start();
        } else if (m_stepSince.elapsed() > m_timings.stepTimeoutMs) {
            // A step without its reply ends the link as a refused
            // negotiation does.
            m_client->cancelSequence();
            disconnectFromDevice();
            return true;
        }
    }
    if (m_state == State::Connected && m_socket.owedForMs() > readTimeoutMs()) {
        // The unit owes an answer and has sent nothing: close the link; its
        // OnDisconnected ends it as lost.
        m_socket.forgetOwed();
        m_client->stop();
        m_socket.disconnect();
        return true;
    }
    return false;
}

void ScpDevice::assertRunMutexHeld() const
{
    assert(!m_runMutex || m_runMutex->heldByCaller());
}

JResult ScpDevice::memParamChanged()
{
    if (!m_runMutex)
        return handleRequests();
    std::unique_lock<JLIB::OwnedMutex> lock(*m_runMutex);
    const JResult rc = handleRequests();
    lock.unlock();
    wakeOwner();
    return rc;
}

JResult ScpDevice::handleRequests()
{
    if (!m_device)
        return LINK_E_FAIL;
    int32_t request = 0;
    if (m_state == State::Disconnected) {
        if (readInt(kConnectReqPath, &request) && request == 1)
            connectToDevice();
    } else if (m_state == State::Negotiating || m_state == State::Connected) {
        if (readInt(kDisconnectReqPath, &request) && request == 1)
            disconnectFromDevice();
    }
    writeInt(kConnectReqPath, 0);
    writeInt(kDisconnectReqPath, 0);
    return 0;
}

bool ScpDevice::readInt(const char* path, int32_t* out) const
{
    JLIB::JVariant value;
    if (m_device->getValue(QString::fromLatin1(path), &value) < 0)
        return false;
    *out = static_cast<int32_t>(value.toInteger());
    return true;
}

void ScpDevice::writeInt(const char* path, int32_t value)
{
    m_device->setValue(QString::fromLatin1(path), JLIB::JVariant(value), m_source);
}

void ScpDevice::wakeOwner()
{
    if (m_wakeup)
        m_wakeup->wakeup(0, &m_socket);
}

JResult ScpDevice::setState(State state)
{
    const bool changed = state != m_state;
    m_state = state;
    JResult rc = 0;
    if (m_device)
        m_device->setValue(
            QString::fromLatin1(kConnectionStatePath), JLIB::JVariant(stateValue(connectionStateOf(state))), m_source);
    else
        rc = LINK_E_FAIL;
    if (changed)
        emit stateChanged(state);
    return rc;
}

void ScpDevice::linkLost()
{
    m_stopClientDue = true;
    m_disconnectDue = false;
    m_socket.forgetOwed();
    if (hasFamily())
        resetLinkValues();
    setState(State::Disconnected);
    emit disconnected();
}

// ---------------------------------------------------------------------------
// Socket events, on the unit's thread.

int32_t ScpDevice::OnConnected(int32_t userId, uint8_t reserved)
{
    if (m_client)
        m_client->OnConnected(userId, reserved);
    emit connected();
    return 0;
}

int32_t ScpDevice::OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason)
{
    if (m_client)
        m_client->OnConnectionFailed(userId, reserved, reason);
    linkLost();
    return 0;
}

int32_t ScpDevice::OnDisconnected(int32_t userId, uint8_t reserved)
{
    if (m_client)
        m_client->OnDisconnected(userId, reserved);
    linkLost();
    return 0;
}

int32_t ScpDevice::OnReserved(int32_t userId, uint8_t reserved, int32_t value)
{
    return m_client ? m_client->OnReserved(userId, reserved, value) : 0;
}

int32_t ScpDevice::OnReceive(int32_t userId, uint8_t reserved)
{
    return m_client ? m_client->OnReceive(userId, reserved) : 0;
}

int32_t ScpDevice::OnSend(int32_t userId, uint8_t reserved)
{
    return m_client ? m_client->OnSend(userId, reserved) : 0;
}

int32_t ScpDevice::OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason)
{
    return m_client ? m_client->OnCommunicationFailed(userId, reserved, reason) : 0;
}

// ---------------------------------------------------------------------------
// The client's sequence ends, on the unit's thread inside the client.

JResult ScpDevice::negotiated(SCP::ScpClient* client)
{
    assertRunMutexHeld();
    if (m_state != State::Negotiating || !client || !hasFamily())
        return LINK_E_FAIL;
    if (!m_reporter->acceptNegotiation()) {
        // Stopping the client here would free the decoder that is calling
        // us: the loop disconnects once the call has returned.
        m_disconnectDue = true;
        return 0;
    }
    client->startAssociation(SCP::SCP_ASSOCIATE_READ, m_association.get());
    // Still Connecting in memory: the write stores the value it holds.
    setState(State::Associating);
    return 0;
}

JResult ScpDevice::associated(SCP::ScpClient*)
{
    assertRunMutexHeld();
    // A late end (the link already gone or going) must not claim a
    // connection that does not exist.
    if (m_state != State::Associating || !hasFamily())
        return LINK_E_FAIL;
    if (m_parameter->needsPostAssociationFix())
        m_parameter->applyPostAssociationFix();
    setState(State::Connected);
    return 0;
}

JResult ScpDevice::sequenceFailed(SCP::ScpClient*, bool, int32_t, JResult)
{
    // A step that cannot be sent ends the link like a refusal.
    if (m_state == State::Negotiating || m_state == State::Associating)
        m_disconnectDue = true;
    return 0;
}

} // namespace Quil
