// The test-side mirror of a unit: an SCP client over the socket classes
// with its own memory built from the unit's layout. It runs the connect
// sequences (negotiation: devinfo and devstatus; association: a get for
// every cell), stores what the unit sends as link writes (source 2) and sends
// the local edits (source 1) that key 2's change walk finds as sets. It runs
// on the thread that calls pump, as the device link's connection thread would.
#pragma once

#include "pbd/vcom/vcom.h"
#include "scp/scp_client.h"
#include "tests/sim/sim_memory.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace simtest {

// Starts the OS wrapper, the socket service and, when asked, the discovery
// engine once per process; they stop when the process exits. False when
// one does not come up.
bool simStartPlatform(bool discovery);

// Wakes the pumping thread for any of its sockets.
class SimWaker : public VCOM::IVComWakeupFunction {
public:
    int32_t wakeup(uint16_t, VCOM::IVCom*) override;
    // Waits up to ms for a wake-up and consumes it.
    void wait(int ms);

private:
    std::mutex m_lock;
    std::condition_variable m_cond;
    bool m_woken = false;
};

// Records what the unit reports on the client side.
class SimClientDevice : public SCP::ScpDeviceReporter {
public:
    JResult deviceInfo(int32_t id, SCP::ScpText& data, const SCP::ScpText& tag) override;
    JResult deviceStatus(int32_t id, SCP::ScpText& data, const SCP::ScpText& tag) override;
    JResult replyError(int32_t id, const SCP::ScpText& command, const SCP::ScpText& subject) override;

    std::string model;
    std::string unitId;
    std::string runMode;
    std::vector<std::string> errors; // "<command> <subject>"
};

class MirrorClient : public SCP::IScpSynchronizeObserver {
public:
    explicit MirrorClient(SimWaker& waker);
    ~MirrorClient() override;
    MirrorClient(const MirrorClient&) = delete;
    MirrorClient& operator=(const MirrorClient&) = delete;

    JResult load(const std::string& layoutPath, std::string* why) { return m_memory.loadFile(layoutPath, why); }
    // Starts the connection (pending or done); false when it failed at once.
    bool connect(const std::string& local, const std::string& remote, uint16_t port);
    // Delivers what the socket recorded to the client, on this thread.
    void processEvents();

    JResult negotiate();
    // Reads every cell of the unit (one get per cell).
    JResult associate();
    // Sends every element that key 2 sees changed; the number sent.
    size_t sendChanges();

    SCP::ScpClient& client() { return *m_client; }
    SimMemory& memory() { return m_memory; }
    SimParameter& parameter() { return m_parameter; }
    SimClientDevice& device() { return m_device; }
    bool connected() const { return m_client->isConnected(); }
    bool negotiated() const { return m_negotiated; }
    bool associated() const { return m_associated; }
    int failures() const { return m_failures; }

    // IScpSynchronizeObserver.
    JResult negotiated(SCP::ScpClient* client) override;
    JResult associated(SCP::ScpClient* client) override;
    JResult sequenceFailed(SCP::ScpClient* client, bool association, int32_t stepIndex, JResult result) override;

private:
    class Steps : public SCP::IScpConnectSequence {
    public:
        int32_t stepCount() override { return static_cast<int32_t>(steps.size()); }
        JResult step(SCP::ScpConnectStep& out, int32_t index) override;
        std::vector<SCP::ScpConnectStep> steps;
    };

    SimWaker& m_waker;
    SimMemory m_memory;
    SimParameter m_parameter{m_memory, SOURCE_LINK};
    SimClientDevice m_device;
    SCP::ScpMeterReporter m_meter;
    SCP::ScpClient* m_client = nullptr;
    std::unique_ptr<VCOM::VComTcpClientSocket> m_socket;
    Steps m_negotiation;
    Steps m_association;
    bool m_negotiated = false;
    bool m_associated = false;
    int m_failures = 0;
};

// Pumps the clients on this thread until pred holds or timeoutMs pass.
bool simPumpUntil(
    SimWaker& waker, const std::vector<MirrorClient*>& clients, const std::function<bool()>& pred, int timeoutMs);

} // namespace simtest
