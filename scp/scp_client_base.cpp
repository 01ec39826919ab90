// The protocol engine of one connection: receive loop, requests, change
// notifications and keep-alive.
#include "scp/scp_client.h"

#include "pbd/OSWRAP/oswrap.h"
#include "scp/scp_command.h"
#include "scp/scp_factory.h"

namespace SCP {

bool ScpReceiveFilter::filter(int32_t, const ScpUnicodeStringTable&, const ScpUnicodeStringTable&)
{
    return false;
}

void ScpReceiveFilter::lineHandled(int32_t) { }

JResult IScpSynchronizeObserver::sequenceFailed(ScpClient*, bool, int32_t, JResult)
{
    return 0;
}

ScpBaseClient::ScpBaseClient()
{
    uint16_t task = 0;
    if (oswrap_getTaskId(&task) == OSWRAP_OK)
        m_context = task;
    m_output.allocate(0, SCP_OUTPUT_RING_SIZE);
}

// ---------------------------------------------------------------------------
// Connection events.

int32_t ScpBaseClient::OnConnected(int32_t, uint8_t)
{
    if (!m_transport)
        return SCP_E_NOTATTACHED;
    if (m_started)
        m_session.activate();
    return SCP_OK;
}

int32_t ScpBaseClient::OnConnectionFailed(int32_t, uint8_t, int32_t)
{
    if (!m_transport)
        return SCP_E_NOTATTACHED;
    m_session.reset();
    return SCP_OK;
}

int32_t ScpBaseClient::OnDisconnected(int32_t, uint8_t)
{
    if (!m_transport)
        return SCP_E_NOTATTACHED;
    m_session.reset();
    return SCP_OK;
}

int32_t ScpBaseClient::OnReserved(int32_t, uint8_t, int32_t)
{
    return SCP_OK;
}

int32_t ScpBaseClient::OnSend(int32_t, uint8_t)
{
    return SCP_OK;
}

int32_t ScpBaseClient::OnCommunicationFailed(int32_t, uint8_t, int32_t)
{
    return SCP_OK;
}

// ---------------------------------------------------------------------------
// Receive loop.

int32_t ScpBaseClient::OnReceive(int32_t userId, uint8_t)
{
    if (!m_transport || !m_device || !m_parameter || !m_meter)
        return SCP_E_NOTATTACHED;
    if (!m_started)
        return SCP_NOT_STARTED;
    VCOM::IVCom* socket = m_transport->self();
    if (!socket)
        return SCP_E_NO_READER;
    // The socket holds at most its stream and one chunk; the bound only
    // guards against a transport that never runs dry.
    for (int reads = 0; reads < 4096; ++reads) {
        uint32_t count = 0;
        const int32_t rc = socket->read(m_receiveBuffer, SCP_RECEIVE_BUFFER_SIZE, &count);
        if (rc < 0)
            return SCP_E_READ;
        if (count > SCP_RECEIVE_BUFFER_SIZE)
            return SCP_E_READ;
        if (count > 0 && !feed(userId, m_receiveBuffer, count))
            return SCP_OK;
        if (rc == 0 || count == 0)
            return SCP_OK;
    }
    return SCP_OK;
}

bool ScpBaseClient::feed(int32_t id, const uint8_t* data, size_t length)
{
    size_t position = 0;
    while (position < length) {
        // Fetched afresh for every line: a handler may replace the decoder
        // (a "format" reply) or free it (a stop that resets the session).
        ScpAbstractDecoder* decoder = m_session.decoder();
        if (!decoder)
            return true;
        size_t consumed = 0;
        const JResult rc = decoder->feed(data + position, length - position, &consumed);
        if (consumed > length - position)
            consumed = length - position;
        if (rc == SCP_LINE_COMPLETE) {
            handleLine(id, *decoder);
            if (!m_started)
                return false;
            if (ScpAbstractDecoder* current = m_session.decoder())
                current->resetAll();
            position += consumed;
            continue;
        }
        if (rc < 0 && consumed > 0) {
            // The decoder is clean again; go on after the offending byte.
            position += consumed;
            continue;
        }
        break;
    }
    return true;
}

void ScpBaseClient::handleLine(int32_t id, const ScpAbstractDecoder& decoder)
{
    const ScpUnicodeStringTable& keys = decoder.keys();
    const ScpUnicodeStringTable& values = decoder.values();
    const ScpText* word = scp_commandWord(keys, values);
    const IScpClientCommandFactory* factory = word ? scp_findClientCommandFactory(*word) : nullptr;
    const bool taken = m_filter && m_filter->filter(id, keys, values);
    if (!taken && factory) {
        if (ScpClientCommand* command = factory->create()) {
            ScpInfoReporter info;
            info.device = m_device;
            info.parameter = m_parameter;
            info.meter = m_meter;
            info.session = &m_session;
            command->dispatch(id, keys, values, info);
            factory->release(command);
        }
    }
    if (m_filter)
        m_filter->lineHandled(id);
}

// ---------------------------------------------------------------------------
// Lifecycle.

JResult ScpBaseClient::attach(ScpAttachCallback callback, VCOM::IVCom* transport, IScpSynchronizeObserver*,
    ScpDeviceReporter* device, ScpParameter* parameter, ScpMeterReporter* meter)
{
    if (m_transport)
        return SCP_E_NOTATTACHED;
    if (!transport)
        return SCP_E_ARG;
    const JResult rc = m_session.init(1);
    if (rc < 0)
        return rc;
    m_callback = callback;
    m_transport = transport;
    m_device = device;
    m_parameter = parameter;
    m_meter = meter;
    return SCP_OK;
}

JResult ScpBaseClient::startSession()
{
    if (!m_transport)
        return SCP_E_NOTATTACHED;
    m_started = 1;
    if (m_transport->isOpen())
        m_session.activate();
    return SCP_OK;
}

JResult ScpBaseClient::start()
{
    const JResult rc = startSession();
    if (rc < 0)
        return rc;
    processReceived();
    return SCP_OK;
}

JResult ScpBaseClient::processReceived()
{
    if (!m_transport || !m_started || !m_transport->isOpen())
        return SCP_OK;
    return OnReceive(m_transport->getUserId(), 0);
}

JResult ScpBaseClient::stop()
{
    m_started = 0;
    m_session.reset();
    return SCP_OK;
}

JResult ScpBaseClient::status() const
{
    if (!m_transport)
        return SCP_E_NOTATTACHED;
    return m_started ? SCP_OK : SCP_NOT_STARTED;
}

bool ScpBaseClient::isReady() const
{
    return m_transport && m_transport->isOpen() && m_started;
}

JResult ScpBaseClient::keepAliveTick()
{
    if (!m_transport)
        return SCP_E_NOTATTACHED;
    if (!m_started)
        return SCP_NOT_STARTED;
    if (m_transport->isOpen() && m_session.keepAliveDue()) {
        if (scp_encodeKeepAlive(m_output) >= 0 && sendRing() >= 0)
            m_session.restartKeepAlive();
    }
    return SCP_OK;
}

// ---------------------------------------------------------------------------
// Sending.

JResult ScpBaseClient::sendRing()
{
    const uint32_t length = m_output.count();
    if (length == 0 || m_transport->writableSpace() < length)
        return SCP_E_FAIL;
    uint32_t written = 0;
    const int32_t rc = m_transport->write(m_output.buffer(), length, &written);
    if (rc < 0 || written != length)
        return SCP_E_FAIL;
    return SCP_OK;
}

template <class Command, class Fill> JResult ScpBaseClient::request(Fill fill)
{
    if (!m_transport)
        return SCP_E_FAIL;
    if (!m_started || !m_transport->isOpen())
        return SCP_E_NOTREADY;
    Command command;
    const JResult filled = fill(command);
    if (filled != SCP_OK)
        return filled < 0 ? SCP_E_FAIL : filled;
    const bool json = m_session.decoderKind() != SCP_DECODER_RAW;
    const bool utf8 = m_session.encoding() == SCP_ENCODING_UTF8;
    if (command.encode(json, utf8, m_output) < 0)
        return SCP_E_FAIL;
    return sendRing();
}

namespace {

// The parameter's address text; its own nonzero result when it cannot name it.
JResult addressOf(ScpParameter* parameter, int32_t index, ScpText& address)
{
    if (!parameter)
        return SCP_E_FAIL;
    return parameter->nameOf(address, index);
}

} // namespace

JResult ScpBaseClient::devStatus(const char* tag)
{
    return request<ScpClientCommandDEVSTATUS>([&](ScpClientCommand& c) { return c.setText(tag); });
}

JResult ScpBaseClient::devMode(const char* mode)
{
    return request<ScpClientCommandDEVMODE>([&](ScpClientCommand& c) { return c.setText(mode); });
}

JResult ScpBaseClient::scpMode(const char* tag, const char* data)
{
    return request<ScpClientCommandSCPMODE>([&](ScpClientCommand& c) { return c.setTexts(tag, data); });
}

// Requests that address a parameter cell: the address text first.
#define SCP_CELL_REQUEST(Word, ...)                                                                                    \
    request<Word>([&](ScpClientCommand& c) {                                                                           \
        ScpText address(SCP_ALNUM_MAX);                                                                                \
        const JResult named = addressOf(m_parameter, index, address);                                                  \
        if (named != SCP_OK)                                                                                           \
            return named;                                                                                              \
        return c.setCell(address, x, y, ##__VA_ARGS__);                                                                \
    })

JResult ScpBaseClient::get(int32_t index, int32_t x, int32_t y)
{
    return SCP_CELL_REQUEST(ScpClientCommandGET);
}

JResult ScpBaseClient::getN(int32_t index, int32_t x, int32_t y)
{
    return SCP_CELL_REQUEST(ScpClientCommandGETN);
}

JResult ScpBaseClient::getT(int32_t index, int32_t x, int32_t y)
{
    return SCP_CELL_REQUEST(ScpClientCommandGETT);
}

JResult ScpBaseClient::set(int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value)
{
    return SCP_CELL_REQUEST(ScpClientCommandSET, value);
}

JResult ScpBaseClient::setN(int32_t index, int32_t x, int32_t y, int32_t value)
{
    return SCP_CELL_REQUEST(ScpClientCommandSETN, value);
}

JResult ScpBaseClient::setT(int32_t index, int32_t x, int32_t y, const ScpText& text)
{
    return SCP_CELL_REQUEST(ScpClientCommandSETT, text);
}

JResult ScpBaseClient::setR(int32_t index, int32_t x, int32_t y, int32_t step)
{
    return SCP_CELL_REQUEST(ScpClientCommandSETR, step);
}

#undef SCP_CELL_REQUEST

JResult ScpBaseClient::mtrStart(int32_t meterIndex, int32_t interval)
{
    return request<ScpClientCommandMTRSTART>([&](ScpClientCommand& c) {
        ScpText address(SCP_ALNUM_MAX);
        const JResult named = m_meter ? m_meter->nameOf(address, meterIndex) : SCP_E_FAIL;
        if (named != SCP_OK)
            return named;
        return c.setMeter(address, interval);
    });
}

JResult ScpBaseClient::mtrStop(int32_t meterIndex)
{
    return request<ScpClientCommandMTRSTOP>([&](ScpClientCommand& c) {
        ScpText address(SCP_ALNUM_MAX);
        const JResult named = m_meter ? m_meter->nameOf(address, meterIndex) : SCP_E_FAIL;
        if (named != SCP_OK)
            return named;
        return c.setMeter(address);
    });
}

JResult ScpBaseClient::ssCurrent()
{
    return request<ScpClientCommandSSCURRENT>([](ScpClientCommand&) { return SCP_OK; });
}

JResult ScpBaseClient::ssRecall(int32_t number)
{
    return request<ScpClientCommandSSRECALL>([&](ScpClientCommand& c) { return c.setIndex(number); });
}

JResult ScpBaseClient::devInfo(const char* tag)
{
    return request<ScpClientCommandDEVINFO>([&](ScpClientCommand& c) { return c.setText(tag); });
}

JResult ScpBaseClient::prmNum()
{
    return request<ScpClientCommandPRMNUM>([](ScpClientCommand&) { return SCP_OK; });
}

JResult ScpBaseClient::prmInfo(int32_t index)
{
    return request<ScpClientCommandPRMINFO>([&](ScpClientCommand& c) { return c.setIndex(index); });
}

JResult ScpBaseClient::mtrNum()
{
    return request<ScpClientCommandMTRNUM>([](ScpClientCommand&) { return SCP_OK; });
}

JResult ScpBaseClient::mtrInfo(int32_t index)
{
    return request<ScpClientCommandMTRINFO>([&](ScpClientCommand& c) { return c.setIndex(index); });
}

JResult ScpBaseClient::ssNum()
{
    return request<ScpClientCommandSSNUM>([](ScpClientCommand&) { return SCP_OK; });
}

JResult ScpBaseClient::ssInfo(int32_t index)
{
    return request<ScpClientCommandSSINFO>([&](ScpClientCommand& c) { return c.setIndex(index); });
}

JResult ScpBaseClient::ssUpdate()
{
    return request<ScpClientCommandSSUPDATE>([](ScpClientCommand&) { return SCP_OK; });
}

JResult ScpBaseClient::event(const char* eventId, const char* data)
{
    return request<ScpClientCommandEVENT>([&](ScpClientCommand& c) { return c.setTexts(eventId, data); });
}

JResult ScpBaseClient::listItemNum(const char* category)
{
    return request<ScpClientCommandLISTITEMNUM>([&](ScpClientCommand& c) { return c.setText(category); });
}

JResult ScpBaseClient::listItem(const char* category, int32_t index)
{
    return request<ScpClientCommandLISTITEM>([&](ScpClientCommand& c) { return c.setTextInteger(category, index); });
}

JResult ScpBaseClient::setFromMemory(int32_t index, int32_t x, int32_t y)
{
    if (!m_parameter)
        return SCP_E_FAIL;
    JLIB::JVariant value;
    const JResult rc = m_parameter->readValue(value, index, x, y);
    if (rc < 0)
        return rc;
    return set(index, x, y, JLIB::JVariant(static_cast<int32_t>(value.toInteger())));
}

JResult ScpBaseClient::setNFromMemory(int32_t index, int32_t x, int32_t y)
{
    if (!m_parameter)
        return SCP_E_FAIL;
    int32_t value = 0;
    const JResult rc = m_parameter->readNormalized(value, m_session.resolution(), index, x, y);
    if (rc < 0)
        return rc;
    return setN(index, x, y, value);
}

JResult ScpBaseClient::setTFromMemory(int32_t index, int32_t x, int32_t y)
{
    if (!m_parameter)
        return SCP_E_FAIL;
    ScpText text(SCP_ALNUM_MAX);
    const JResult rc = m_parameter->readText(text, index, x, y);
    if (rc < 0)
        return rc;
    return setT(index, x, y, text);
}

JResult ScpBaseClient::recallCurrentScene()
{
    if (!m_parameter)
        return SCP_E_FAIL;
    int32_t number = 0;
    int32_t flag = 0;
    const JResult rc = m_parameter->currentScene(number, flag);
    if (rc < 0)
        return rc;
    return ssRecall(number);
}

// ---------------------------------------------------------------------------
// Change path.

JResult ScpBaseClient::sendNotification(const ScpClientNotification& notification)
{
    const bool json = m_session.decoderKind() != SCP_DECODER_RAW;
    const bool utf8 = m_session.encoding() == SCP_ENCODING_UTF8;
    if (notification.encode(json, utf8, m_output) < 0)
        return SCP_E_FAIL;
    return sendRing();
}

JResult ScpBaseClient::forwardEvent(int32_t value1, int32_t value2, int32_t value3, int32_t value4)
{
    if (!m_transport)
        return SCP_E_ARG;
    if (!m_started)
        return SCP_CHANGE_NOT_STARTED;
    if (m_callback)
        m_callback(m_context, value1, value2, value3, value4);
    return SCP_OK;
}

JResult ScpBaseClient::parameterChanged(bool notifyOnly, int32_t index, int32_t x, int32_t y)
{
    if (!m_transport)
        return SCP_E_ARG;
    if (!m_started)
        return SCP_CHANGE_NOT_STARTED;
    if (!m_parameter)
        return SCP_E_NOTIFY_SEND;
    if (notifyOnly) {
        JResult rc;
        if (m_session.valueType() == SCP_VALUETYPE_NORMALIZED) {
            rc = m_setN.fill(*m_parameter, m_session, index, x, y);
            if (rc >= 0)
                rc = sendNotification(m_setN);
        } else {
            rc = m_set.fill(*m_parameter, index, x, y);
            if (rc >= 0)
                rc = sendNotification(m_set);
        }
        return rc < 0 ? SCP_E_NOTIFY_SEND : SCP_OK;
    }
    JLIB::JVariant value;
    if (m_parameter->readValue(value, index, x, y) < 0)
        return SCP_OK;
    const JResult rc = set(index, x, y, value);
    if (rc < 0)
        return rc == SCP_E_READ ? SCP_E_CHANGE_SEND : SCP_E_FAIL;
    return SCP_OK;
}

JResult ScpBaseClient::parameterChanged(int32_t index, int32_t x, int32_t y)
{
    return parameterChanged(false, index, x, y);
}

JResult ScpBaseClient::sceneRecalled(int32_t number)
{
    if (!m_transport)
        return SCP_E_NOTATTACHED;
    if (!m_started)
        return SCP_NOT_STARTED;
    if (m_ssRecall.set(number) >= 0)
        sendNotification(m_ssRecall);
    return SCP_OK;
}

} // namespace SCP
