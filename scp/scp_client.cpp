// The client object held for one unit: connection states, the negotiation
// and association sequences and the matching of replies to their steps.
#include "scp/scp_client.h"

#include "pbd/jlib/jlib_heap.h"
#include "scp/scp_factory.h"

#include <cstdio>
#include <cstring>

namespace SCP {

ScpClient* ScpClient::create()
{
    return JLIB::arrayNew<ScpClient>(0, "ScpClient", 1);
}

void ScpClient::release(ScpClient* client)
{
    if (client)
        JLIB::arrayDelete(client);
}

// ---------------------------------------------------------------------------
// Connection events.

int32_t ScpClient::OnConnected(int32_t userId, uint8_t reserved)
{
    if (m_connected)
        return SCP_NOT_STARTED;
    m_base.OnConnected(userId, reserved);
    m_connected = 1;
    if (m_started && m_state <= SCP_STATE_IDLE)
        runFrom(0, SCP_ASSOCIATE_READ, ScpSequenceKind::Negotiation);
    return SCP_OK;
}

int32_t ScpClient::OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason)
{
    if (!m_connected)
        return SCP_NOT_STARTED;
    m_base.OnConnectionFailed(userId, reserved, reason);
    m_connected = 0;
    m_state = SCP_STATE_IDLE;
    m_advance = false;
    return SCP_OK;
}

int32_t ScpClient::OnDisconnected(int32_t userId, uint8_t reserved)
{
    if (!m_connected)
        return SCP_NOT_STARTED;
    m_base.OnDisconnected(userId, reserved);
    m_connected = 0;
    m_state = SCP_STATE_IDLE;
    m_advance = false;
    return SCP_OK;
}

int32_t ScpClient::OnReserved(int32_t userId, uint8_t reserved, int32_t value)
{
    return m_base.OnReserved(userId, reserved, value);
}

int32_t ScpClient::OnReceive(int32_t userId, uint8_t reserved)
{
    return m_base.OnReceive(userId, reserved);
}

int32_t ScpClient::OnSend(int32_t userId, uint8_t reserved)
{
    return m_base.OnSend(userId, reserved);
}

int32_t ScpClient::OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason)
{
    return m_base.OnCommunicationFailed(userId, reserved, reason);
}

// ---------------------------------------------------------------------------
// Lifecycle.

JResult ScpClient::attach(ScpAttachCallback callback, VCOM::IVCom* transport, IScpSynchronizeObserver* observer,
    ScpDeviceReporter* device, ScpParameter* parameter, ScpMeterReporter* meter)
{
    const JResult rc = m_base.attach(callback, transport, nullptr, device, parameter, meter);
    if (rc < 0)
        return rc;
    m_observer = observer;
    m_base.setReceiveFilter(this);
    if (parameter)
        parameter->setCallback(this);
    return rc;
}

JResult ScpClient::start(IScpConnectSequence* negotiation)
{
    if (m_started)
        return SCP_NOT_STARTED;
    const JResult rc = m_base.startSession();
    if (rc < 0)
        return rc;
    m_started = 1;
    m_negotiation = negotiation;
    m_association = nullptr;
    m_stepIndex = 0;
    if (m_connected && m_state <= SCP_STATE_IDLE)
        runFrom(0, SCP_ASSOCIATE_READ, ScpSequenceKind::Negotiation);
    // Lines that arrived before the start are handled now, not when the
    // next traffic happens to come.
    m_base.processReceived();
    return SCP_OK;
}

JResult ScpClient::stop()
{
    if (!m_started)
        return SCP_NOT_STARTED;
    const JResult rc = m_base.stop();
    if (rc < 0)
        return rc;
    m_started = 0;
    m_negotiation = nullptr;
    m_association = nullptr;
    m_stepIndex = 0;
    m_state = SCP_STATE_IDLE;
    m_advance = false;
    return SCP_OK;
}

JResult ScpClient::startAssociation(int32_t associationFlag, IScpConnectSequence* association)
{
    if (m_state != SCP_STATE_NEGOTIATED)
        return SCP_NOT_STARTED;
    m_associationFlag = associationFlag;
    m_association = association;
    m_stepIndex = 0;
    runFrom(0, associationFlag, ScpSequenceKind::Association);
    return SCP_OK;
}

JResult ScpClient::cancelSequence()
{
    if (!isSequenceRunning())
        return SCP_NOT_STARTED;
    m_state = m_state == SCP_STATE_ASSOCIATING ? SCP_STATE_NEGOTIATED : SCP_STATE_IDLE;
    m_advance = false;
    return SCP_OK;
}

JResult ScpClient::keepAliveTick()
{
    return m_base.keepAliveTick();
}

// ---------------------------------------------------------------------------
// Sequences.

void ScpClient::runFrom(int32_t index, int32_t associationFlag, ScpSequenceKind kind)
{
    const bool association = kind == ScpSequenceKind::Association;
    IScpConnectSequence* sequence = association ? m_association : m_negotiation;
    const ScpClientState running = association ? SCP_STATE_ASSOCIATING : SCP_STATE_NEGOTIATING;
    const ScpClientState done = association ? SCP_STATE_ASSOCIATED : SCP_STATE_NEGOTIATED;
    const int32_t count = sequence ? sequence->stepCount() : 0;
    m_stepIndex = index;
    m_advance = false;
    for (; m_stepIndex < count; ++m_stepIndex) {
        ScpConnectStep step;
        if (sequence->step(step, m_stepIndex) < 0 || !canFetch(step))
            continue; // a step that cannot be given or named is skipped
        const JResult rc = sendStep(step, associationFlag);
        if (rc >= 0) {
            m_state = running;
            return;
        }
        // The link did not take the request: ending "done" would claim a
        // state the unit never reached.
        m_state = association ? SCP_STATE_NEGOTIATED : SCP_STATE_IDLE;
        if (m_observer)
            m_observer->sequenceFailed(this, association, m_stepIndex, rc);
        return;
    }
    m_state = done;
    if (m_observer) {
        if (association)
            m_observer->associated(this);
        else
            m_observer->negotiated(this);
    }
}

bool ScpClient::canFetch(const ScpConnectStep& step) const
{
    ScpText address(SCP_ALNUM_MAX);
    switch (step.kind) {
    case SCP_STEP_GET: {
        ScpParameter* parameter = m_base.parameter();
        return parameter && parameter->nameOf(address, step.number(0)) >= 0;
    }
    case SCP_STEP_MTRSTART:
    case SCP_STEP_MTRSTOP: {
        ScpMeterReporter* meter = m_base.meterReporter();
        return meter && meter->nameOf(address, step.number(0)) >= 0;
    }
    default:
        return step.kind >= SCP_STEP_DEVSTATUS && step.kind <= SCP_STEP_LISTITEM;
    }
}

JResult ScpClient::sendStep(const ScpConnectStep& step, int32_t associationFlag)
{
    const bool reading = associationFlag != 0;
    switch (step.kind) {
    case SCP_STEP_DEVSTATUS:
        return m_base.devStatus(step.text(0));
    case SCP_STEP_DEVMODE:
        return m_base.devMode(step.text(1));
    case SCP_STEP_SCPMODE:
        return m_base.scpMode(step.text(0), step.text(1));
    case SCP_STEP_GET:
        return reading ? m_base.get(step.number(0), step.number(1), step.number(2))
                       : m_base.setFromMemory(step.number(0), step.number(1), step.number(2));
    case SCP_STEP_MTRSTART:
        return m_base.mtrStart(step.number(0), step.number(1));
    case SCP_STEP_MTRSTOP:
        return m_base.mtrStop(step.number(0));
    case SCP_STEP_SSCURRENT:
        return reading ? m_base.ssCurrent() : m_base.recallCurrentScene();
    case SCP_STEP_DEVINFO:
        return m_base.devInfo(step.text(0));
    case SCP_STEP_PRMNUM:
        return m_base.prmNum();
    case SCP_STEP_PRMINFO:
        return m_base.prmInfo(step.number(0));
    case SCP_STEP_MTRNUM:
        return m_base.mtrNum();
    case SCP_STEP_MTRINFO:
        return m_base.mtrInfo(step.number(0));
    case SCP_STEP_SSNUM:
        return m_base.ssNum();
    case SCP_STEP_SSINFO:
        return m_base.ssInfo(step.number(0));
    case SCP_STEP_SSUPDATE:
        return m_base.ssUpdate();
    case SCP_STEP_EVENT:
        return m_base.event(step.text(0), step.text(1));
    case SCP_STEP_LISTITEMNUM:
        return m_base.listItemNum(step.text(0));
    case SCP_STEP_LISTITEM:
        return m_base.listItem(step.text(0), step.number(1));
    default:
        // No request exists for it; the sequence could never go on.
        return SCP_E_ARG;
    }
}

// ---------------------------------------------------------------------------
// Reply matching.

namespace {

const char* const kStepWords[]
    = {"DEVSTATUS", "DEVMODE", "SCPMODE", "GET", "MTRSTART", "MTRSTOP", "SSCURRENT", "DEVINFO", "PRMNUM", "PRMINFO",
        "MTRNUM", "MTRINFO", "SSNUM", "SSINFO", "SSUPDATE", "EVENT", "LISTITEMNUM", "LISTITEM"};

bool valueIs(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values, const char* key,
    uint32_t defaultIndex, const char* expected, bool ignoreCase = true)
{
    const ScpText* value = scp_valueByKey(keys, values, key, defaultIndex);
    return value && expected && scp_wordEquals(*value, expected, ignoreCase);
}

bool numberIs(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values, const char* key,
    uint32_t defaultIndex, int32_t expected)
{
    char text[16];
    snprintf(text, sizeof text, "%d", static_cast<int>(expected));
    return valueIs(keys, values, key, defaultIndex, text);
}

bool wordIsOneOf(const ScpText& word, std::initializer_list<const char*> words)
{
    for (const char* w : words) {
        if (scp_wordEquals(word, w, true))
            return true;
    }
    return false;
}

} // namespace

bool ScpClient::matches(const ScpConnectStep& step, int32_t associationFlag, const ScpUnicodeStringTable& keys,
    const ScpUnicodeStringTable& values)
{
    const ScpText* word = scp_commandWord(keys, values);
    if (!word || step.kind < 0 || step.kind > SCP_STEP_LISTITEM)
        return false;
    // An ERROR answers the step only when it names the step's own request;
    // the unit's refusal need not repeat the request's values.
    const bool error = scp_replyWord(keys, values) == SCP_REPLY_ERROR;
    const bool reading = associationFlag != 0;
    switch (step.kind) {
    case SCP_STEP_GET: {
        const bool wordOk = reading ? wordIsOneOf(*word, {"GET", "GETN", "GETT"})
                                    : wordIsOneOf(*word, {"SET", "SETN", "SETT", "SETR"});
        if (!wordOk)
            return false;
        if (error)
            return true;
        const ScpText* address = scp_valueByKey(keys, values, "address", 2);
        ScpParameter* parameter = m_base.parameter();
        int32_t index = -1;
        if (!address || !parameter || parameter->indexOf(index, *address) < 0 || index != step.number(0))
            return false;
        return numberIs(keys, values, "x", 3, step.number(1)) && numberIs(keys, values, "y", 4, step.number(2));
    }
    case SCP_STEP_SSCURRENT:
        if (reading)
            return scp_wordEquals(*word, "SSCURRENT", true);
        if (!scp_wordEquals(*word, "SSRECALL", true))
            return false;
        return error || numberIs(keys, values, "index", 2, step.number(0));
    default:
        break;
    }
    if (!scp_wordEquals(*word, kStepWords[step.kind], true))
        return false;
    if (error)
        return true;
    switch (step.kind) {
    case SCP_STEP_DEVSTATUS:
    case SCP_STEP_SCPMODE:
    case SCP_STEP_DEVINFO:
        return valueIs(keys, values, "tag", 2, step.text(0));
    case SCP_STEP_PRMINFO:
    case SCP_STEP_MTRINFO:
    case SCP_STEP_SSINFO:
    case SCP_STEP_SSUPDATE:
        return numberIs(keys, values, "index", 2, step.number(0));
    case SCP_STEP_EVENT: {
        const ScpText* eventId = scp_valueByKey(keys, values, "eventid", 2);
        return eventId && step.text(0) && scp_wordEquals(*eventId, step.text(0), false);
    }
    case SCP_STEP_MTRSTART:
    case SCP_STEP_MTRSTOP: {
        // The request names the meter by its address text: so must the reply.
        ScpMeterReporter* meter = m_base.meterReporter();
        ScpText address(SCP_ALNUM_MAX);
        if (!meter || meter->nameOf(address, step.number(0)) != SCP_OK)
            return true;
        const ScpText* got = scp_valueByKey(keys, values, "address", 2);
        if (!got)
            return false;
        char expected[SCP_ALNUM_MAX + 1];
        scp_textToAscii7(address, expected, sizeof expected);
        return scp_wordEquals(*got, expected, true);
    }
    default:
        return true; // the word alone
    }
}

bool ScpClient::filter(int32_t, const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values)
{
    m_advance = false;
    if (m_state == SCP_STATE_IDLE)
        return true;
    if (m_state != SCP_STATE_NEGOTIATING && m_state != SCP_STATE_ASSOCIATING)
        return false;
    const bool association = m_state == SCP_STATE_ASSOCIATING;
    IScpConnectSequence* sequence = association ? m_association : m_negotiation;
    if (!sequence)
        return false;
    const uint8_t lineClass = scp_lineClass(keys, values);
    if (lineClass == SCP_CLASS_NOTIFICATION)
        return false;
    if (lineClass != SCP_CLASS_REPLY)
        return true;
    ScpConnectStep step;
    if (sequence->step(step, m_stepIndex) < 0)
        return false;
    const int32_t flag = association ? m_associationFlag : SCP_ASSOCIATE_READ;
    if (matches(step, flag, keys, values)) {
        m_advance = true; // once the handler has stored the reply's value
        return false;
    }
    // While associating, the device link may have sent requests of its own:
    // their replies are no answer to the step but still carry values.
    return !association;
}

void ScpClient::lineHandled(int32_t)
{
    if (!m_advance)
        return;
    m_advance = false;
    // The handler may have stopped the client or the connection may be gone.
    if (m_state == SCP_STATE_NEGOTIATING)
        runFrom(m_stepIndex + 1, SCP_ASSOCIATE_READ, ScpSequenceKind::Negotiation);
    else if (m_state == SCP_STATE_ASSOCIATING)
        runFrom(m_stepIndex + 1, m_associationFlag, ScpSequenceKind::Association);
}

// ---------------------------------------------------------------------------
// Requests: passed on once negotiation has finished.

template <class Call> JResult ScpClient::forward(Call call)
{
    if (m_state < SCP_STATE_NEGOTIATED)
        return SCP_OK;
    return call();
}

#define SCP_CLIENT_FORWARD(name, params, args)                                                                         \
    JResult ScpClient::name params                                                                                     \
    {                                                                                                                  \
        return forward([&] { return m_base.name args; });                                                              \
    }
SCP_CLIENT_REQUESTS(SCP_CLIENT_FORWARD)
#undef SCP_CLIENT_FORWARD

JResult ScpClient::forwardEvent(int32_t value1, int32_t value2, int32_t value3, int32_t value4)
{
    return m_base.forwardEvent(value1, value2, value3, value4);
}
JResult ScpClient::parameterChanged(bool notifyOnly, int32_t index, int32_t x, int32_t y)
{
    return m_base.parameterChanged(notifyOnly, index, x, y);
}
JResult ScpClient::parameterChanged(int32_t index, int32_t x, int32_t y)
{
    return m_base.parameterChanged(index, x, y);
}
JResult ScpClient::sceneRecalled(int32_t number)
{
    return m_base.sceneRecalled(number);
}

} // namespace SCP
