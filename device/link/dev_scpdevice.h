// ScpDevice: one unit's link. It holds the TCP socket, the SCP client, the
// five family objects and the connection state machine, and reports the
// state into the unit's memory (kConnectionStatePath).
//
// It lives in the GUI thread (where it was made) but works on the unit's
// thread: the owning ScpClientThread calls into it from its loop, and every
// call from the GUI thread is made under that thread's run mutex. The one
// slot, memParamChanged(), takes the run mutex itself.
#pragma once

#include "device/layouts/dev_devstate.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/link/dev_scpadapter.h"
#include "device/memory/dev_izdev.h"
#include "pbd/jlib/jlib_mutex.h"
#include "pbd/vcom/vcom.h"
#include "scp/scp_client.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace Quil {

constexpr JResult LINK_E_FAIL = static_cast<JResult>(0x80000000u);

// Every wait of the link, in milliseconds. The defaults are the program's.
struct DevCommTimings {
    int waitMs = 50; // longest idle wait of the loop
    int keepAliveStepMs = 100; // keep-alive step period
    int meterRenewalMs = 8000; // meter subscriptions renewed
    int stepTimeoutMs = 5000; // a negotiation or association step's reply
    // A connected unit that owes an answer and sends nothing this long is
    // lost. 0: three keep-alive intervals of the link, at least 5000 ms.
    int readTimeoutMs = 0;
};

// The TCP client socket, which also tells whether the unit owes an answer:
// a request other than the keep-alive line feed went out since the last
// byte came in.
class LinkSocket : public VCOM::VComTcpClientSocket {
public:
    LinkSocket() = default;
    // Closed before the base classes go, so that the socket service never
    // calls into a half-destroyed socket.
    ~LinkSocket() override { closeSocket(); }
    LinkSocket(const LinkSocket&) = delete;
    LinkSocket& operator=(const LinkSocket&) = delete;

    VCOM::VComResult read(void* buffer, uint32_t size, uint32_t* countOut) override;
    VCOM::VComResult write(const void* data, uint32_t length, uint32_t* countOut) override;

    bool answerOwed() const { return m_owed; }
    // Milliseconds since the owed request went out (0 when nothing owed).
    qint64 owedForMs() const { return m_owed ? m_owedSince.elapsed() : 0; }
    void forgetOwed() { m_owed = false; }

private:
    bool m_owed = false;
    QElapsedTimer m_owedSince;
};

class ScpDevice : public QObject, public VCOM::IVComCallback, public SCP::IScpSynchronizeObserver {
    Q_OBJECT

public:
    enum class State { Disconnected = 0, Negotiating = 1, Associating = 2, Connected = 3, Disconnecting = 4 };
    Q_ENUM(State)

    ScpDevice(const QString& ip, uint16_t port, const QString& localAddress, ModelType deviceType,
        const DevCommTimings& timings = DevCommTimings());
    ~ScpDevice() override;
    ScpDevice(const ScpDevice&) = delete;
    ScpDevice& operator=(const ScpDevice&) = delete;

    // The owner's run mutex, taken by memParamChanged(); set before the
    // device is attached to memory.
    void setRunMutex(JLIB::OwnedMutex* runMutex) { m_runMutex = runMutex; }

    JResult bindWakeup(VCOM::IVComWakeupFunction* wakeup);
    // Before connecting: the owner waits for the socket's input itself
    // (vsock_waitInput on inputSocketId()); the socket service then never
    // handles a received line.
    void setOwnerInput(bool on) { m_socket.setOwnerInput(on); }
    // The socket service's id of the owner-input socket, -1 when there is
    // none open.
    int inputSocketId() const { return m_socket.ownerInput() ? m_socket.serviceSocketId() : -1; }
    JResult attachMemory(IZDev* device, int source);
    JResult detachMemory();
    JResult connectToDevice();
    JResult disconnectFromDevice();
    bool isConnected() const { return m_state == State::Connected; }
    State state() const { return m_state; }
    JResult keepAliveTick();
    // Its result is never read; kept: callers and files use this name.
    JResult renewMeters();
    JResult dispatchSocketEvents();
    // Called by the loop after each pass's work: runs what had to wait until
    // no client call is on the stack, and ends steps and links whose unit
    // stopped answering. True when it changed anything.
    bool serviceDeadlines();
    JResult sendChanged();
    const DevCommTimings& timings() const { return m_timings; }
    SCP::ScpClient* client() const { return m_client; }
    IZDev* device() const { return m_device; }

    // Called from the loop pass with the run mutex held: the requests as
    // memParamChanged() would handle them.
    JResult handleRequests();

    // VCOM::IVComCallback.
    int32_t OnConnected(int32_t userId, uint8_t reserved) override;
    int32_t OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason) override;
    int32_t OnDisconnected(int32_t userId, uint8_t reserved) override;
    int32_t OnReserved(int32_t userId, uint8_t reserved, int32_t value) override;
    int32_t OnReceive(int32_t userId, uint8_t reserved) override;
    int32_t OnSend(int32_t userId, uint8_t reserved) override;
    int32_t OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason) override;

    // SCP::IScpSynchronizeObserver.
    JResult negotiated(SCP::ScpClient* client) override;
    JResult associated(SCP::ScpClient* client) override;
    JResult sequenceFailed(SCP::ScpClient* client, bool association, int32_t stepIndex, JResult result) override;

public slots:
    // The rack owner's ConnectReq and DisconnectReq; runs on the GUI thread.
    JResult memParamChanged();

signals:
    void connected();
    void disconnected();
    void stateChanged(Quil::ScpDevice::State state);

private:
    // Asserts that the caller holds the owner's run mutex (when there is an
    // owner: tests drive a device directly).
    void assertRunMutexHeld() const;
    JResult setState(State state);
    // The link is gone: state 0, meters and reset list cleared, and the
    // client stopped once the socket's dispatch has returned.
    void linkLost();
    void resetLinkValues();
    bool hasFamily() const { return m_parameter && m_reporter && m_meter; }
    int readTimeoutMs() const;
    bool readInt(const char* path, int32_t* out) const;
    void writeInt(const char* path, int32_t value);
    void wakeOwner();

    VCOM::IVComWakeupFunction* m_wakeup = nullptr;
    LinkSocket m_socket;
    VCOM::VComSocketAddress m_remote;
    VCOM::VComSocketAddress m_local;
    uint16_t m_port = 0;
    IZDev* m_device = nullptr;
    ModelType m_deviceType = MODEL_NONE;
    uint8_t m_source = 0;
    SCP::ScpClient* m_client = nullptr;
    std::unique_ptr<ScpParameter_Quil> m_parameter;
    std::unique_ptr<ScpDeviceReporter_Quil> m_reporter;
    std::unique_ptr<ScpMeterReporter_Quil> m_meter;
    std::unique_ptr<SCP::IScpConnectSequence> m_negotiation;
    std::unique_ptr<SCP::IScpConnectSequence> m_association;
    State m_state = State::Disconnected;

    const DevCommTimings m_timings;
    JLIB::OwnedMutex* m_runMutex = nullptr;
    // Set inside client or socket calls, acted on by serviceDeadlines().
    bool m_disconnectDue = false;
    bool m_stopClientDue = false;
    // The step being waited on, and since when.
    State m_stepState = State::Disconnected;
    int32_t m_stepIndex = -1;
    QElapsedTimer m_stepSince;
    // For the debug check that a device object never outlives its link's
    // attachment.
    std::shared_ptr<std::atomic<bool>> m_attached = std::make_shared<std::atomic<bool>>(false);
};

} // namespace Quil
