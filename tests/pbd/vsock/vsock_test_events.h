// Shared by the socket service tests: an event sink that records the
// service's completions and lets the test wait for them, and small helpers.
#pragma once

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"
#include "tests/support/vsock_service_test.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vtest {

struct Got {
    int id = -1;
    int32_t kind = -1;
    int32_t result = 0;
};

class Events {
public:
    static void handler(int id, const VSockEvent* event, void* context)
    {
        auto* self = static_cast<Events*>(context);
        {
            std::lock_guard<std::mutex> guard(self->m_lock);
            self->m_events.push_back({id, event->kind, event->result});
        }
        self->m_cond.notify_all();
    }

    VSockEventOptions options() { return {VSOCK_EVF_DELIVER, &Events::handler, this}; }

    // Takes the oldest event of `kind` for socket `id` (any socket with -1).
    bool wait(int id, int32_t kind, Got* out, int timeoutMs = 5000)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_cond.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            for (auto it = m_events.begin(); it != m_events.end(); ++it) {
                if (it->kind == kind && (id < 0 || it->id == id)) {
                    if (out)
                        *out = *it;
                    m_events.erase(it);
                    return true;
                }
            }
            return false;
        });
    }

    size_t pending()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events.size();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cond;
    std::deque<Got> m_events;
};

inline VSockEndpoint endpoint(const char* text, uint16_t port)
{
    VSockEndpoint e{};
    e.port = port;
    EXPECT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, text, &e.address), VSOCK_OK) << text;
    return e;
}

inline std::string text(const VSockAddress& a)
{
    char buf[VSOCK_ADDRESS_TEXT_MAX];
    if (vsock_addressToText(&a, buf, sizeof buf) != VSOCK_OK)
        return "?";
    return buf;
}

// Runs the service for one test, with an event sink for its sockets.
class ServiceTest : public qtest::VsockServiceTest {
protected:
    int open(uint32_t mode, const char* local = "0.0.0.0", uint16_t port = 0, uint8_t flags = 0)
    {
        VSockOpenParams p{};
        p.mode = mode;
        p.local = endpoint(local, port);
        VSockEventOptions o = events.options();
        o.flags |= flags;
        return vsock_open(&p, &o);
    }

    Events events;
};

} // namespace vtest
