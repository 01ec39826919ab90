// The SCP client of one unit connection.
//
// ScpBaseClient is the protocol engine: the socket layer calls its
// IVComCallback operations on the connection's thread, received lines are
// decoded, offered to a receive filter and handed to their word's handler;
// requests are encoded into one 2048-byte ring and written at once.
//
// ScpClient wraps it and adds the connection procedure: a negotiation
// sequence once the connection is up, an association sequence on request.
// Each step sends one request and the next step waits for the reply that
// matches it. Everything runs on the thread that owns the connection; there
// is no lock.
#pragma once

#include "pbd/vcom/vcom.h"
#include "scp/scp_codec.h"
#include "scp/scp_contracts.h"
#include "scp/scp_element.h"
#include "scp/scp_notification.h"
#include "scp/scp_session.h"

#include <cstdint>

namespace SCP {

class IScpSynchronizeObserver;
class IScpConnectSequence;

// Forwarded events: the context given at construction (the constructing
// task's id), then four values whose meaning is the caller's business.
using ScpAttachCallback = JResult (*)(uint32_t context, int32_t value1, int32_t value2, int32_t value3, int32_t value4);

// Results of the change path.
constexpr JResult SCP_E_CHANGE_SEND = static_cast<JResult>(0x80000005u); // the SET request could not be read back
constexpr JResult SCP_E_NOTIFY_SEND = static_cast<JResult>(0x80000006u); // the notification could not be sent
constexpr JResult SCP_E_NO_READER = static_cast<JResult>(0x80000002u);
// forwardEvent and parameterChanged while not started.
constexpr JResult SCP_CHANGE_NOT_STARTED = 2;

// Bytes taken from the socket per read, and the output ring.
constexpr uint32_t SCP_RECEIVE_BUFFER_SIZE = 1500;
constexpr uint32_t SCP_OUTPUT_RING_SIZE = 2048;

class IScpParameterCallback {
public:
    virtual JResult forwardEvent(int32_t value1, int32_t value2, int32_t value3, int32_t value4) = 0;
    virtual JResult parameterChanged(bool notifyOnly, int32_t index, int32_t x, int32_t y) = 0;
    virtual JResult parameterChanged(int32_t index, int32_t x, int32_t y) = 0; // notify only false
    virtual JResult sceneRecalled(int32_t number) = 0;
    virtual ~IScpParameterCallback() = default;
};

// Decides, before the handlers, whether a received line is taken away.
class ScpReceiveFilter {
public:
    virtual ~ScpReceiveFilter() = default;
    // True when the line is taken away from the handlers.
    virtual bool filter(int32_t id, const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values);
    // Called after the line's handler has run (or the line was dropped), so
    // that what the filter decided can act on the stored values. keys and
    // values may be gone by then.
    virtual void lineHandled(int32_t id);
};

// One step of a connect sequence: the kind (0 to 17) and three values. A
// text value holds a pointer to a NUL-terminated text owned by the caller.
struct ScpConnectStep {
    int32_t kind = 0;
    intptr_t values[3] = {0, 0, 0};

    int32_t number(int i) const { return static_cast<int32_t>(values[i]); }
    const char* text(int i) const { return reinterpret_cast<const char*>(values[i]); }
};

constexpr int32_t SCP_STEP_DEVSTATUS = 0;
constexpr int32_t SCP_STEP_DEVMODE = 1;
constexpr int32_t SCP_STEP_SCPMODE = 2;
constexpr int32_t SCP_STEP_GET = 3;
constexpr int32_t SCP_STEP_MTRSTART = 4;
constexpr int32_t SCP_STEP_MTRSTOP = 5;
constexpr int32_t SCP_STEP_SSCURRENT = 6;
constexpr int32_t SCP_STEP_DEVINFO = 7;
constexpr int32_t SCP_STEP_PRMNUM = 8;
constexpr int32_t SCP_STEP_PRMINFO = 9;
constexpr int32_t SCP_STEP_MTRNUM = 10;
constexpr int32_t SCP_STEP_MTRINFO = 11;
constexpr int32_t SCP_STEP_SSNUM = 12;
constexpr int32_t SCP_STEP_SSINFO = 13;
constexpr int32_t SCP_STEP_SSUPDATE = 14;
constexpr int32_t SCP_STEP_EVENT = 15;
constexpr int32_t SCP_STEP_LISTITEMNUM = 16;
constexpr int32_t SCP_STEP_LISTITEM = 17;

class IScpConnectSequence {
public:
    virtual ~IScpConnectSequence() = default;
    virtual int32_t stepCount() = 0;
    // Negative when the step cannot be given.
    virtual JResult step(ScpConnectStep& step, int32_t index) = 0;
};

class ScpClient;

class IScpSynchronizeObserver {
public:
    virtual ~IScpSynchronizeObserver() = default;
    virtual JResult negotiated(ScpClient* client) = 0;
    virtual JResult associated(ScpClient* client) = 0;
    // A step's request could not be sent: the sequence ended without
    // finishing (association: back to negotiated; negotiation: idle).
    virtual JResult sequenceFailed(ScpClient* client, bool association, int32_t stepIndex, JResult result);
};

// The requests every SCP client offers, as OP(name, (parameters), (arguments)).
#define SCP_CLIENT_REQUESTS(OP)                                                                                        \
    OP(devStatus, (const char* tag), (tag))                                                                            \
    OP(devMode, (const char* mode), (mode))                                                                            \
    OP(scpMode, (const char* tag, const char* data), (tag, data))                                                      \
    OP(get, (int32_t index, int32_t x, int32_t y), (index, x, y))                                                      \
    OP(getN, (int32_t index, int32_t x, int32_t y), (index, x, y))                                                     \
    OP(getT, (int32_t index, int32_t x, int32_t y), (index, x, y))                                                     \
    OP(set, (int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value), (index, x, y, value))                  \
    OP(setN, (int32_t index, int32_t x, int32_t y, int32_t value), (index, x, y, value))                               \
    OP(setT, (int32_t index, int32_t x, int32_t y, const ScpText& text), (index, x, y, text))                          \
    OP(setR, (int32_t index, int32_t x, int32_t y, int32_t step), (index, x, y, step))                                 \
    OP(mtrStart, (int32_t meterIndex, int32_t interval), (meterIndex, interval))                                       \
    OP(mtrStop, (int32_t meterIndex), (meterIndex))                                                                    \
    OP(ssCurrent, (), ())                                                                                              \
    OP(ssRecall, (int32_t number), (number))                                                                           \
    OP(devInfo, (const char* tag), (tag))                                                                              \
    OP(prmNum, (), ())                                                                                                 \
    OP(prmInfo, (int32_t index), (index))                                                                              \
    OP(mtrNum, (), ())                                                                                                 \
    OP(mtrInfo, (int32_t index), (index))                                                                              \
    OP(ssNum, (), ())                                                                                                  \
    OP(ssInfo, (int32_t index), (index))                                                                               \
    OP(ssUpdate, (), ())                                                                                               \
    OP(event, (const char* eventId, const char* data), (eventId, data))                                                \
    OP(listItemNum, (const char* category), (category))                                                                \
    OP(listItem, (const char* category, int32_t index), (category, index))                                             \
    OP(setFromMemory, (int32_t index, int32_t x, int32_t y), (index, x, y))                                            \
    OP(setNFromMemory, (int32_t index, int32_t x, int32_t y), (index, x, y))                                           \
    OP(setTFromMemory, (int32_t index, int32_t x, int32_t y), (index, x, y))                                           \
    OP(recallCurrentScene, (), ())

#define SCP_CLIENT_DECLARE_PURE(name, params, args) virtual JResult name params = 0;
#define SCP_CLIENT_DECLARE_OVERRIDE(name, params, args) JResult name params override;

// The operations every SCP client offers, after those of IVComCallback.
class IScpClient : public VCOM::IVComCallback {
public:
    virtual JResult attach(ScpAttachCallback callback, VCOM::IVCom* transport, IScpSynchronizeObserver* observer,
        ScpDeviceReporter* device, ScpParameter* parameter, ScpMeterReporter* meter)
        = 0;
    virtual JResult stop() = 0;
    virtual JResult keepAliveTick() = 0;

    SCP_CLIENT_REQUESTS(SCP_CLIENT_DECLARE_PURE)
};

class ScpBaseClient : public IScpClient, public IScpParameterCallback {
public:
    ScpBaseClient();
    ~ScpBaseClient() override = default;
    ScpBaseClient(const ScpBaseClient&) = delete;
    ScpBaseClient& operator=(const ScpBaseClient&) = delete;

    // IVComCallback.
    int32_t OnConnected(int32_t userId, uint8_t reserved) override;
    int32_t OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason) override;
    int32_t OnDisconnected(int32_t userId, uint8_t reserved) override;
    int32_t OnReserved(int32_t userId, uint8_t reserved, int32_t value) override;
    int32_t OnReceive(int32_t userId, uint8_t reserved) override;
    int32_t OnSend(int32_t userId, uint8_t reserved) override;
    int32_t OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason) override;

    // The observer is not used by the base client.
    JResult attach(ScpAttachCallback callback, VCOM::IVCom* transport, IScpSynchronizeObserver* observer,
        ScpDeviceReporter* device, ScpParameter* parameter, ScpMeterReporter* meter) override;
    // Starts, then processes what the socket already holds.
    JResult start();
    // Starts without touching received data (the caller processes it).
    JResult startSession();
    JResult stop() override;
    JResult status() const;
    bool isReady() const;
    JResult keepAliveTick() override;
    // Runs the receive loop over data the socket already holds.
    JResult processReceived();

    SCP_CLIENT_REQUESTS(SCP_CLIENT_DECLARE_OVERRIDE)

    // IScpParameterCallback.
    JResult forwardEvent(int32_t value1, int32_t value2, int32_t value3, int32_t value4) override;
    JResult parameterChanged(bool notifyOnly, int32_t index, int32_t x, int32_t y) override;
    JResult parameterChanged(int32_t index, int32_t x, int32_t y) override;
    JResult sceneRecalled(int32_t number) override;

    void setReceiveFilter(ScpReceiveFilter* filter) { m_filter = filter; }
    ScpSessionData& session() { return m_session; }
    ScpParameter* parameter() const { return m_parameter; }
    ScpMeterReporter* meterReporter() const { return m_meter; }
    VCOM::IVCom* transport() const { return m_transport; }
    bool isStarted() const { return m_started != 0; }

private:
    template <class Command, class Fill> JResult request(Fill fill);
    JResult cellRequest(int word, int32_t index, int32_t x, int32_t y, const JLIB::JVariant* value,
        const int32_t* integer, const ScpText* text);
    JResult sendRing();
    JResult sendNotification(const ScpClientNotification& notification);
    // Feeds one read; false once the loop must stop (client stopped).
    bool feed(int32_t id, const uint8_t* data, size_t length);
    void handleLine(int32_t id, const ScpAbstractDecoder& decoder);

    ScpAttachCallback m_callback = nullptr;
    uint32_t m_context = 0;
    uint8_t m_started = 0;
    VCOM::IVCom* m_transport = nullptr;
    ScpReceiveFilter* m_filter = nullptr;
    ScpDeviceReporter* m_device = nullptr;
    ScpParameter* m_parameter = nullptr;
    ScpMeterReporter* m_meter = nullptr;
    ScpSessionData m_session;
    uint8_t m_receiveBuffer[SCP_RECEIVE_BUFFER_SIZE] = {};
    ScpRing m_output;
    ScpClientNotificationMTRSTART m_mtrStart;
    ScpClientNotificationMTRSTOP m_mtrStop;
    ScpClientNotificationSET m_set;
    ScpClientNotificationSETN m_setN;
    ScpClientNotificationSSRECALL m_ssRecall;
};

// Connection states of ScpClient, in the order a connection goes through
// them (later states compare greater).
enum class ScpClientState : int32_t { Idle = 0, Negotiating = 1, Negotiated = 2, Associating = 3, Associated = 4 };
constexpr ScpClientState SCP_STATE_IDLE = ScpClientState::Idle;
constexpr ScpClientState SCP_STATE_NEGOTIATING = ScpClientState::Negotiating;
constexpr ScpClientState SCP_STATE_NEGOTIATED = ScpClientState::Negotiated;
constexpr ScpClientState SCP_STATE_ASSOCIATING = ScpClientState::Associating;
constexpr ScpClientState SCP_STATE_ASSOCIATED = ScpClientState::Associated;

// Association flags: read the unit's values into memory, or write the
// memory to the unit. Negotiation steps always read.
constexpr int32_t SCP_ASSOCIATE_WRITE = 0;
constexpr int32_t SCP_ASSOCIATE_READ = 1;

// Which of the two connect sequences runs.
enum class ScpSequenceKind { Negotiation, Association };

class ScpClient : public IScpClient, public IScpParameterCallback, public ScpReceiveFilter {
public:
    // One object on the tracked heap (tag "ScpClient"); null on failure.
    static ScpClient* create();
    static void release(ScpClient* client);

    ScpClient() = default;
    ~ScpClient() override = default;
    ScpClient(const ScpClient&) = delete;
    ScpClient& operator=(const ScpClient&) = delete;

    int32_t OnConnected(int32_t userId, uint8_t reserved) override;
    int32_t OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason) override;
    int32_t OnDisconnected(int32_t userId, uint8_t reserved) override;
    int32_t OnReserved(int32_t userId, uint8_t reserved, int32_t value) override;
    int32_t OnReceive(int32_t userId, uint8_t reserved) override;
    int32_t OnSend(int32_t userId, uint8_t reserved) override;
    int32_t OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason) override;

    JResult attach(ScpAttachCallback callback, VCOM::IVCom* transport, IScpSynchronizeObserver* observer,
        ScpDeviceReporter* device, ScpParameter* parameter, ScpMeterReporter* meter) override;
    JResult start(IScpConnectSequence* negotiation);
    JResult stop() override;
    // associationFlag 1 reads from the unit, 0 writes the memory to it.
    JResult startAssociation(int32_t associationFlag, IScpConnectSequence* association);
    bool isNegotiated() const { return m_state > SCP_STATE_NEGOTIATING; }
    bool isAssociated() const { return m_state > SCP_STATE_ASSOCIATING; }
    JResult keepAliveTick() override;

    // What the owner needs to time a sequence out: whether one runs, the
    // step it waits on, and a cancel that ends it (association: back to
    // negotiated; negotiation: idle). 13 when no sequence runs.
    bool isSequenceRunning() const { return m_state == SCP_STATE_NEGOTIATING || m_state == SCP_STATE_ASSOCIATING; }
    int32_t stepIndex() const { return m_stepIndex; }
    JResult cancelSequence();

    ScpClientState state() const { return m_state; }
    bool isConnected() const { return m_connected != 0; }
    ScpBaseClient& base() { return m_base; }

    SCP_CLIENT_REQUESTS(SCP_CLIENT_DECLARE_OVERRIDE)

    JResult forwardEvent(int32_t value1, int32_t value2, int32_t value3, int32_t value4) override;
    JResult parameterChanged(bool notifyOnly, int32_t index, int32_t x, int32_t y) override;
    JResult parameterChanged(int32_t index, int32_t x, int32_t y) override;
    JResult sceneRecalled(int32_t number) override;

    bool filter(int32_t id, const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values) override;
    void lineHandled(int32_t id) override;

private:
    void runFrom(int32_t index, int32_t associationFlag, ScpSequenceKind kind);
    // Whether a request can be made for the step at all: a kind that has a
    // request, and a parameter or meter that can be named. A step that
    // cannot is skipped; one whose request is then not sent ends the run.
    bool canFetch(const ScpConnectStep& step) const;
    JResult sendStep(const ScpConnectStep& step, int32_t associationFlag);
    bool matches(const ScpConnectStep& step, int32_t associationFlag, const ScpUnicodeStringTable& keys,
        const ScpUnicodeStringTable& values);
    template <class Call> JResult forward(Call call);

    uint8_t m_connected = 0;
    uint8_t m_started = 0;
    ScpClientState m_state = SCP_STATE_IDLE;
    int32_t m_associationFlag = SCP_ASSOCIATE_READ;
    IScpConnectSequence* m_negotiation = nullptr;
    IScpConnectSequence* m_association = nullptr;
    int32_t m_stepIndex = 0;
    IScpSynchronizeObserver* m_observer = nullptr;
    ScpBaseClient m_base;
    // Set by filter when the line answers the current step; acted on once
    // the line's handler has stored its values.
    bool m_advance = false;
};

} // namespace SCP
