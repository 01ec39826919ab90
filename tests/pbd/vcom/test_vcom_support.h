// An owner thread's side of a socket for the tests: it is woken through the
// wake-up interface, runs processEvents and records the callbacks.
#pragma once

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vcom/vcom.h"
#include "pbd/vsock/vsock.h"
#include "tests/support/test_support.h"
#include "tests/support/vsock_service_test.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vcomtest {

class Owner : public VCOM::IVComWakeupFunction, public VCOM::IVComCallback {
public:
    // wakeup runs without "SEM_SOCK", maybe on the service thread.
    int32_t wakeup(uint16_t, VCOM::IVCom*) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_woken = true;
            ++m_wakeups;
        }
        m_cond.notify_all();
        return 0;
    }

    int32_t OnConnected(int32_t, uint8_t) override { return note("connected"); }
    int32_t OnConnectionFailed(int32_t, uint8_t, int32_t reason) override
    {
        return note("failed:" + std::to_string(reason));
    }
    int32_t OnDisconnected(int32_t, uint8_t) override { return note("disconnected"); }
    int32_t OnReserved(int32_t, uint8_t, int32_t) override { return 0; }
    int32_t OnReceive(int32_t, uint8_t) override
    {
        ++receives;
        if (onReceive)
            onReceive();
        else if (drain && socket)
            drainAll();
        return 0;
    }
    int32_t OnSend(int32_t, uint8_t) override
    {
        ++sends;
        return 0;
    }
    int32_t OnCommunicationFailed(int32_t, uint8_t, int32_t reason) override
    {
        return note("commfailed:" + std::to_string(reason));
    }

    // Reads everything the socket holds into `received`.
    void drainAll()
    {
        char buffer[4096];
        for (int i = 0; i < 10000; ++i) {
            uint32_t n = 0;
            const int32_t rc = socket->read(buffer, sizeof buffer, &n);
            received.append(buffer, n);
            if (rc != VCOM::VCOM_MORE)
                break;
        }
    }

    // Runs processEvents whenever woken until pred() holds or the time is up.
    bool pump(const std::function<bool()>& pred, int timeoutMs = 5000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (pred())
                return true;
            {
                std::unique_lock<std::mutex> guard(m_lock);
                if (!m_cond.wait_until(guard, deadline, [this] { return m_woken; }))
                    return pred();
                m_woken = false;
            }
            socket->processEvents(this);
        }
    }

    // True once the callback log holds the entry.
    bool saw(const std::string& entry) const
    {
        for (const std::string& e : log) {
            if (e == entry)
                return true;
        }
        return false;
    }
    int count(const std::string& entry) const
    {
        int n = 0;
        for (const std::string& e : log)
            n += e == entry;
        return n;
    }
    int wakeups()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_wakeups;
    }

    VCOM::IVCom* socket = nullptr;
    bool drain = true;
    std::function<void()> onReceive;
    std::vector<std::string> log;
    std::string received;
    int receives = 0;
    int sends = 0;

private:
    int32_t note(const std::string& entry)
    {
        log.push_back(entry);
        return 0;
    }

    std::mutex m_lock;
    std::condition_variable m_cond;
    bool m_woken = false;
    int m_wakeups = 0;
};

inline VCOM::VComSocketAddress address(const char* text)
{
    VCOM::VComSocketAddress a;
    EXPECT_EQ(a.setAddressText(4, text), 0) << text;
    return a;
}

// Runs the OS wrapper and the socket service for one test.
class ServiceTest : public qtest::VsockServiceTest { };

} // namespace vcomtest
