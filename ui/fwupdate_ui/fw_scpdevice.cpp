#include "ui/fwupdate_ui/fw_scpdevice.h"

#include "scp/scp_codec.h"

#include <cerrno>
#include <cstdlib>

namespace Quil {

namespace {

constexpr int32_t kSocketUser = 1;

// A decimal integer token; false for anything else.
bool integerOf(const SCP::ScpText* text, int64_t* out)
{
    if (!text || text->length() == 0 || text->length() > 20)
        return false;
    char buffer[24];
    SCP::scp_textToAscii7(*text, buffer, sizeof buffer);
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(buffer, &end, 10);
    if (errno != 0 || !end || *end != '\0' || end == buffer)
        return false;
    *out = value;
    return true;
}

} // namespace

ScpDevice_fwUpdate::ScpDevice_fwUpdate(
    uint id, const QString& address, uint16_t port, const QString& localAddress, int deviceType, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_port(port)
    , m_deviceType(deviceType)
{
    m_remote.setAddressText(VSOCK_FAMILY_IPV4, address.toLatin1().constData());
    m_local.setAddressText(VSOCK_FAMILY_IPV4, localAddress.toLatin1().constData());
    connect(&m_parameter, &ScpParameter_fwUpdate::receiveFWUpdateMode, this, &ScpDevice_fwUpdate::receiveFWUpdateMode);
    connect(&m_parameter, &ScpParameter_fwUpdate::receiveFWUpdateProgress, this,
        &ScpDevice_fwUpdate::receiveFWUpdateProgress);
}

ScpDevice_fwUpdate::~ScpDevice_fwUpdate()
{
    if (m_client)
        m_client->stop();
    // No wake-up may reach the owner once it is going.
    m_socket.detach();
    if (m_socket.state() != VCOM::VCOM_STATE_CLOSED)
        m_socket.disconnect();
    if (m_client)
        SCP::ScpClient::release(m_client);
    m_client = nullptr;
}

JResult ScpDevice_fwUpdate::attach(VCOM::IVComWakeupFunction* wakeup)
{
    m_wakeup = wakeup;
    if (!m_client)
        m_client = SCP::ScpClient::create();
    if (!m_client)
        return FWSCP_E_FAIL;
    const JResult rc = m_client->attach(nullptr, &m_socket, this, &m_reporter, &m_parameter, &m_meter);
    if (rc < 0)
        return rc;
    m_client->base().setReceiveFilter(&m_tap);
    return 0;
}

void ScpDevice_fwUpdate::setState(State state)
{
    m_state = state;
}

// ---------------------------------------------------------------------------
// Owner calls, under the thread's run lock.

JResult ScpDevice_fwUpdate::connectNetwork()
{
    if (!m_client || !m_wakeup || m_socket.state() != VCOM::VCOM_STATE_CLOSED || m_state != State::Idle)
        return FWSCP_E_FAIL;
    {
        // A new negotiation tells everything again; kept texts would double.
        std::lock_guard<std::mutex> lock(m_infoLock);
        m_info.clear();
    }
    const int32_t opened = m_socket.attach(kSocketUser, m_wakeup);
    if (opened < 0)
        return opened;
    const VCOM::VComResult rc = m_socket.connect(m_local, m_remote, m_port);
    if (rc < 0)
        return rc;
    const JResult started = m_client->start(&m_negotiation);
    if (started < 0) {
        m_socket.disconnect();
        return started;
    }
    m_stopClientDue = false;
    m_closeDue = false;
    setState(State::Negotiating);
    runDeferred();
    return 0;
}

JResult ScpDevice_fwUpdate::disconnectNetwork()
{
    if (m_client)
        m_client->stop();
    m_stopClientDue = false;
    m_closeDue = false;
    if (m_socket.state() == VCOM::VCOM_STATE_CLOSED) {
        // Nothing to close, so no event would ever end the disconnect.
        if (m_state != State::Idle) {
            setState(State::Idle);
            m_tcpUp = 0;
            emit disconnected(m_id);
        }
        return 0;
    }
    setState(State::Disconnecting);
    // The close arrives as OnDisconnected at the next dispatch.
    return m_socket.disconnect();
}

JResult ScpDevice_fwUpdate::keepAliveTick()
{
    if (!m_client || m_state == State::Idle || m_state == State::Disconnecting)
        return 0;
    return m_client->keepAliveTick();
}

JResult ScpDevice_fwUpdate::dispatchSocketEvents()
{
    const VCOM::VComResult rc = m_socket.processEvents(this);
    runDeferred();
    return rc == VCOM::VCOM_E_STATE ? 0 : rc;
}

void ScpDevice_fwUpdate::runDeferred()
{
    if (m_closeDue) {
        m_closeDue = false;
        if (m_state == State::Disconnecting) {
            if (m_client)
                m_client->stop();
            if (m_socket.disconnect() < 0 && m_socket.state() == VCOM::VCOM_STATE_CLOSED)
                linkLost();
        }
    }
    if (m_stopClientDue) {
        m_stopClientDue = false;
        if (m_client)
            m_client->stop();
    }
}

JResult ScpDevice_fwUpdate::request(int32_t index, const JLIB::JVariant* value)
{
    // Before association the client would report success and send nothing.
    if (!m_client || m_state != State::Associated)
        return FWSCP_E_FAIL;
    return value ? m_client->set(index, 0, 0, *value) : m_client->get(index, 0, 0);
}

JResult ScpDevice_fwUpdate::setFWUpdateMode(bool on)
{
    const JLIB::JVariant value(static_cast<int32_t>(on ? 1 : 0));
    return request(FWSCP_PARAM_MODE, &value);
}

JResult ScpDevice_fwUpdate::requestFWUpdateMode()
{
    return request(FWSCP_PARAM_MODE, nullptr);
}

JResult ScpDevice_fwUpdate::sendDanteUpdateProgress(uint value)
{
    const JLIB::JVariant v(static_cast<uint32_t>(value));
    return request(FWSCP_PARAM_DANTE_PROGRESS, &v);
}

// ---------------------------------------------------------------------------
// Socket events, on the connection thread.

void ScpDevice_fwUpdate::linkLost()
{
    // The client is stopped once the dispatch has returned, never from
    // inside its own handling of the event.
    m_stopClientDue = true;
    m_closeDue = false;
    m_tcpUp = 0;
    setState(State::Idle);
    emit disconnected(m_id);
}

int32_t ScpDevice_fwUpdate::OnConnected(int32_t userId, uint8_t reserved)
{
    if (m_client)
        m_client->OnConnected(userId, reserved);
    m_tcpUp = 1;
    emit connected(m_id);
    return 0;
}

int32_t ScpDevice_fwUpdate::OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason)
{
    if (m_client)
        m_client->OnConnectionFailed(userId, reserved, reason);
    linkLost();
    return 0;
}

int32_t ScpDevice_fwUpdate::OnDisconnected(int32_t userId, uint8_t reserved)
{
    if (m_client)
        m_client->OnDisconnected(userId, reserved);
    linkLost();
    return 0;
}

int32_t ScpDevice_fwUpdate::OnReserved(int32_t userId, uint8_t reserved, int32_t value)
{
    return m_client ? m_client->OnReserved(userId, reserved, value) : 0;
}

int32_t ScpDevice_fwUpdate::OnReceive(int32_t userId, uint8_t reserved)
{
    return m_client ? m_client->OnReceive(userId, reserved) : 0;
}

int32_t ScpDevice_fwUpdate::OnSend(int32_t userId, uint8_t reserved)
{
    return m_client ? m_client->OnSend(userId, reserved) : 0;
}

int32_t ScpDevice_fwUpdate::OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason)
{
    return m_client ? m_client->OnCommunicationFailed(userId, reserved, reason) : 0;
}

// ---------------------------------------------------------------------------
// The client's sequences, on the connection thread inside the client.

JResult ScpDevice_fwUpdate::negotiated(SCP::ScpClient* client)
{
    if (m_state != State::Negotiating || !client)
        return FWSCP_E_FAIL;
    if (!m_reporter.negotiationAccepted()) {
        // Stopping the client here would free the decoder that calls us.
        setState(State::Disconnecting);
        m_closeDue = true;
        return 0;
    }
    setState(State::Associating);
    // No steps: associated() is called before this returns.
    client->startAssociation(SCP::SCP_ASSOCIATE_READ, &m_association);
    return 0;
}

JResult ScpDevice_fwUpdate::associated(SCP::ScpClient*)
{
    if (m_state != State::Associating)
        return FWSCP_E_FAIL;
    setState(State::Associated);
    emit associated(m_id);
    return 0;
}

JResult ScpDevice_fwUpdate::sequenceFailed(SCP::ScpClient*, bool, int32_t, JResult)
{
    // A step that could not be sent would leave the negotiation waiting for
    // good: it ends like a refusal.
    if (m_state == State::Negotiating || m_state == State::Associating) {
        setState(State::Disconnecting);
        m_closeDue = true;
    }
    return 0;
}

// ---------------------------------------------------------------------------

JResult ScpDevice_fwUpdate::set(const QString& tag, const QString& value)
{
    {
        std::lock_guard<std::mutex> lock(m_infoLock);
        m_info[tag].append(value);
    }
    if (tag == QLatin1String("runmode"))
        emit receiveFWUpdatemodeChanged(value == QLatin1String("update"));
    return 0;
}

JResult ScpDevice_fwUpdate::get(const QString& tag, QString& value)
{
    std::lock_guard<std::mutex> lock(m_infoLock);
    const auto it = m_info.constFind(tag);
    if (it != m_info.constEnd())
        value = it.value();
    return 0;
}

// ---------------------------------------------------------------------------

bool ScpDevice_fwUpdate::SetReplyTap::filter(
    int32_t id, const SCP::ScpUnicodeStringTable& keys, const SCP::ScpUnicodeStringTable& values)
{
    SCP::ScpClient* client = m_owner.m_client;
    if (!client || client->filter(id, keys, values))
        return true;
    if (SCP::scp_lineClass(keys, values) != SCP::SCP_CLASS_REPLY
        || SCP::scp_replyWord(keys, values) != SCP::SCP_REPLY_OK)
        return false;
    const SCP::ScpText* word = SCP::scp_commandWord(keys, values);
    if (!word || !SCP::scp_wordEquals(*word, "set", true))
        return false;
    const SCP::ScpText* address = SCP::scp_valueByKey(keys, values, "address", 2);
    int32_t index = -1;
    int64_t x = 0;
    int64_t y = 0;
    int64_t value = 0;
    if (!address || m_owner.m_parameter.indexOf(index, *address) < 0
        || !integerOf(SCP::scp_valueByKey(keys, values, "x", 3), &x)
        || !integerOf(SCP::scp_valueByKey(keys, values, "y", 4), &y)
        || !integerOf(SCP::scp_valueByKey(keys, values, "param", 5), &value) || value < INT32_MIN || value > UINT32_MAX)
        return false;
    const JLIB::JVariant stored(static_cast<uint32_t>(value));
    m_owner.m_parameter.storeValue(id, index, static_cast<int32_t>(x), static_cast<int32_t>(y), stored);
    return false;
}

void ScpDevice_fwUpdate::SetReplyTap::lineHandled(int32_t id)
{
    if (m_owner.m_client)
        m_owner.m_client->lineHandled(id);
}

} // namespace Quil
