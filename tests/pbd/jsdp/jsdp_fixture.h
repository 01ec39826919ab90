// Helpers for the discovery engine tests: one running engine per process,
// channel records, and a subscriber that records what it is told.
#pragma once

#include "pbd/jsdp/jsdp.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace jsdptest {

using qtest::waitFor;

// Starts the OS wrapper, the socket service and the engine once per process
// (the engine is set up once per process by design).
inline void ensureEngine()
{
    static bool started = [] {
        oswrap_init();
        vsock_init();
        jsdp_startService();
        // Threads must end before the process tears its statics down.
        std::atexit([] {
            jsdp_stopService();
            vsock_term();
            oswrap_shutdown();
        });
        return true;
    }();
    (void)started;
    ASSERT_TRUE(waitFor([] { return jsdp_getState() != JSDP_STATE_NOINIT; }));
}

// Closes whatever a test left open and waits until the engine is ready again.
inline void resetEngine()
{
    jsdp_close();
    ASSERT_TRUE(waitFor([] { return jsdp_getState() == JSDP_STATE_READY; }));
    jsdp_setAgeingTime(0);
}

inline VSockAddress ipv4(const char* text)
{
    VSockAddress a{};
    vsock_textToAddress(VSOCK_FAMILY_IPV4, text, &a);
    return a;
}

inline std::string ipText(const VSockAddress& a)
{
    char text[VSOCK_ADDRESS_TEXT_MAX];
    if (vsock_addressToText(&a, text, sizeof text) != VSOCK_OK)
        return "?";
    return text;
}

// A channel record owning its texts.
struct Channel {
    std::string type = JSDP_SERVICE_TYPE_SCP;
    std::string payload;
    JsdpChannelConfig config;

    Channel(bool announcer, const char* own, const std::string& payloadText, bool withGroup = true)
        : payload(payloadText)
    {
        config.mode = announcer ? 1 : 0;
        const uint8_t mac[6] = {0x02, 0x51, 0, 0, 0, 0x01};
        memcpy(config.ownMac, mac, 6);
        config.ownAddress = ipv4(own);
        config.netmask = ipv4("255.255.255.0");
        config.port = JSDP_DEFAULT_PORT;
        if (withGroup)
            config.group = ipv4(JSDP_DEFAULT_GROUP);
        config.periodMs = announcer ? 200 : 0;
        fix();
    }
    // Points the record at this object's texts (again after a copy).
    const JsdpChannelConfig* fix()
    {
        config.serviceType = type.data();
        config.serviceTypeLength = static_cast<uint8_t>(type.size());
        config.payload = reinterpret_cast<const uint8_t*>(payload.data());
        config.payloadLength = static_cast<uint16_t>(payload.size());
        return &config;
    }
};

struct Heard {
    int alive;
    const JsdpService* record; // table slot, compared only
    std::string sender;
    std::string announced;
    std::string payload;
    std::string type;
    uint8_t flags;
    uint8_t mac[6];
};

// Records every call; thread-safe.
class Recorder {
public:
    static void callback(const JsdpService* s, int alive, void* context)
    {
        auto* self = static_cast<Recorder*>(context);
        Heard h{alive, s, ipText(s->senderAddress), ipText(s->announcedAddress),
            std::string(reinterpret_cast<const char*>(s->payload), s->payloadLength),
            std::string(s->serviceType, s->serviceTypeLength), s->flags, {}};
        memcpy(h.mac, s->mac, 6);
        std::lock_guard<std::mutex> guard(self->m_lock);
        self->m_heard.push_back(h);
    }
    std::vector<Heard> heard() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_heard;
    }
    size_t count() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_heard.size();
    }
    // Waits for a call matching pred; true when one came.
    template <typename Pred> bool waitHeard(Pred pred, int timeoutMs = 5000) const
    {
        return waitFor(
            [&] {
                std::lock_guard<std::mutex> guard(m_lock);
                for (const Heard& h : m_heard)
                    if (pred(h))
                        return true;
                return false;
            },
            timeoutMs);
    }

private:
    mutable std::mutex m_lock;
    std::vector<Heard> m_heard;
};

} // namespace jsdptest
