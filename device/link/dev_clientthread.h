// ScpClientThread: the thread of one unit's link. Its loop owns the
// ScpDevice: it dispatches socket events, steps the keep-alive, renews the
// meter subscriptions and sends memory changes, all under the run mutex,
// which it gives up at the end of every pass so that calls from the GUI
// thread are never starved by a busy link.
//
// The loop takes its socket's input itself: it sleeps on the socket and on
// a wake-up descriptor together (vsock_waitInput), so a line from the unit
// wakes this thread alone, not the socket service first and this thread
// after it. The socket service still completes connects and sends.
//
// Lock order: run mutex, then flags mutex. The flags mutex is held only to
// change the wake flags (the loop waits with both given up); a wake never
// takes the run mutex (the socket calls it from inside socket operations made
// under it), and only a wake from another thread that finds the loop waiting
// writes the wake-up descriptor: one raised on the loop's own thread (every
// received line's notice), or while the loop is busy anyway, costs no system
// call.
#pragma once

#include "device/link/dev_scpdevice.h"
#include "pbd/jlib/jlib_mutex.h"

#include <QThread>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Quil {

constexpr uint32_t WAKE_SOCKET = 0x02;
constexpr uint32_t WAKE_MEMORY = 0x04;
constexpr uint32_t WAKE_METERS = 0x40;
// The destructor's wake: the loop sees its stop flag.
constexpr uint32_t WAKE_STOP = 0x80000000u;

class ScpClientThread : public QThread, public VCOM::IVComWakeupFunction {
    Q_OBJECT

public:
    ScpClientThread(const QString& ip, uint16_t port, const QString& localAddress, ModelType deviceType,
        const DevCommTimings& timings = DevCommTimings(), QObject* parent = nullptr);
    // Detaches, disconnects, stops the loop and joins it, then the device
    // goes.
    ~ScpClientThread() override;

    // Calls fn(ScpDevice&) under the run mutex and returns what it returns:
    // the one way into the link from outside the loop.
    template <typename Fn> auto withDevice(Fn&& fn)
    {
        std::lock_guard<JLIB::OwnedMutex> lock(m_runMutex);
        return fn(m_device);
    }
    // For connecting to the link's signals only; calls go through withDevice.
    ScpDevice& device() { return m_device; }
    // The device's bindWakeup result.
    JResult bindResult() const { return m_bindResult; }

    // VCOM::IVComWakeupFunction: socket events are pending.
    int32_t wakeup(uint16_t ownerTaskId, VCOM::IVCom* socket) override;

public slots:
    void slotMemChanged();

signals:
    void connected();
    void disconnected();

protected:
    void run() override;

private:
    void raise(uint32_t flags);
    uint32_t takeFlags();
    // With no flag raised, gives up the run mutex and waits at most ms for
    // one, or for the socket's input; returns the flags taken, with the run
    // mutex held again.
    uint32_t waitFlags(std::unique_lock<JLIB::OwnedMutex>& run, int ms);
    // Sleeps on the wake-up descriptor (and the socket's input, when its
    // owner-input socket has a receive armed) at most ms.
    void sleepOnInput(int socketId, int ms);

    // Standard locks rather than Qt's: the race detector sees these.
    std::mutex m_flagsMutex;
    JLIB::OwnedMutex m_runMutex;
    // Written by a wake from another thread that finds the loop waiting;
    // -1 when it could not be made: the loop then waits on m_wake and the
    // socket service takes the input, as for any other socket.
    int m_wakeFd = -1;
    std::condition_variable m_wake; // with the flags mutex, without m_wakeFd
    bool m_stop = false; // under the run mutex
    uint32_t m_flags = 0; // under the flags mutex
    bool m_waiting = false; // under the flags mutex: the loop sleeps
    ScpDevice m_device;
    JResult m_bindResult = LINK_E_FAIL;
};

} // namespace Quil
