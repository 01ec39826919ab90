// A configuration-manager client on the stepped clock, serviced by a bounded
// poll() loop, with every callback it makes recorded.
#pragma once

#include "dante/cmm/cmm_client.h"
#include "dante/support/aud_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <poll.h>
#include <vector>

namespace cmmtest {

struct Change {
    uint32_t bits;
    aud_error result;
};

class CmmClientFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
        clock.now = aud_time{1000, 0};
        ASSERT_EQ(aud_env_set_clock(env, aud_stepped_clock_read, &clock), AUD_SUCCESS);
    }
    void TearDown() override
    {
        client.reset();
        aud_env_release(env);
    }

    // A client initialised for the manager on `port`.
    void makeClient(uint16_t port)
    {
        cmm_client* c = nullptr;
        ASSERT_EQ(cmm_client_new(env, &c), AUD_SUCCESS);
        client.reset(c);
        cmm_client_set_server_port(c, port);
        cmm_client_set_context(c, this);
        cmm_client_set_event_callback(c, [](cmm_client* cc, uint32_t bits, aud_error result) {
            static_cast<CmmClientFixture*>(cmm_client_context(cc))->changes.push_back(Change{bits, result});
        });
        ASSERT_EQ(cmm_client_init(c, "dfa"), AUD_SUCCESS);
    }

    // Services the client until pred holds or timeoutMs pass.
    bool pump(const std::function<bool()>& pred, int timeoutMs = 3000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int rounds = 0; rounds < 10000; ++rounds) {
            if (pred())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            pollfd p{cmm_client_socket(client.get()), POLLIN, 0};
            poll(&p, 1, 20);
            lastProcess = cmm_client_process(client.get(), &next);
        }
        return pred();
    }
    // Services the client for a while, whatever happens.
    void settle(int ms = 200)
    {
        pump([] { return false; }, ms);
    }
    void step(int32_t seconds, int32_t microseconds = 0)
    {
        const aud_time d{seconds, microseconds};
        aud_time_add(&clock.now, &d);
    }
    unsigned connection() const { return cmm_client_connection_state(client.get()); }
    bool connectedWithRecords() const
    {
        return connection() == CMM_CONNECTION_CONNECTED && cmm_client_options(client.get())
            && cmm_client_system_state(client.get());
    }
    // The union of the bits recorded since index `from`.
    uint32_t bitsSince(size_t from) const
    {
        uint32_t bits = 0;
        for (size_t i = from; i < changes.size(); ++i)
            bits |= changes[i].bits;
        return bits;
    }

    aud_env* env = nullptr;
    aud_stepped_clock clock{};
    cmm_client_ptr client;
    std::vector<Change> changes;
    aud_time next{};
    aud_error lastProcess = AUD_SUCCESS;
};

} // namespace cmmtest
