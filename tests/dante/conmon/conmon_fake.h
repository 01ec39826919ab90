// The control-and-monitoring client against tests/peers/fake_conmon.py: the
// fake runs as a child with its standard input and output on pipes, so a
// test can drive it with command lines and read what it reports while it
// pumps the client on the same thread. Every wait is bounded.
#pragma once

#include "dante/conmon/conmon_client.h"
#include "dante/support/aud_env.h"

#include "tests/support/test_support.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace conmontest {

class FakeService {
public:
    // Starts the fake on 127.0.0.1:port with the extra arguments; waits for
    // its "ready" line.
    FakeService(uint16_t port, const std::vector<std::string>& args);
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    bool ready() const { return m_ready; }
    uint16_t port() const { return m_port; }
    // One command line to the fake.
    void command(const std::string& line);
    // Reads what the fake printed so far without waiting.
    void drain();
    // Lines printed so far.
    const std::vector<std::string>& lines() const { return m_lines; }
    // Lines starting with `kind` that contain every given text.
    size_t count(const std::string& kind, const std::vector<std::string>& texts) const;
    // Waits (reading the fake, pumping the client when given) until such a
    // line shows up.
    bool await(const std::string& kind, const std::vector<std::string>& texts, conmon_client* client = nullptr,
        int timeoutMs = 5000);

private:
    bool readSome(int timeoutMs);

    uint16_t m_port = 0;
    qtest::ChildProcess m_process;
    bool m_ready = false;
    std::vector<std::string> m_lines;
};

// Waits up to 10 ms for the client's socket and processes what arrived.
void pumpOnce(conmon_client* client);

// Pumps the client (and reads the fake when given) until pred holds.
template <typename Pred> bool pumpUntil(conmon_client* client, FakeService* fake, Pred pred, int timeoutMs = 5000)
{
    return qtest::waitFor(
        [&] {
            if (client)
                pumpOnce(client);
            if (fake)
                fake->drain();
            return pred();
        },
        timeoutMs);
}

// An environment reference for a test's life.
class EnvRef {
public:
    EnvRef() { aud_env_setup(&m_env); }
    ~EnvRef() { aud_env_release(m_env); }
    EnvRef(const EnvRef&) = delete;
    EnvRef& operator=(const EnvRef&) = delete;
    aud_env* get() const { return m_env; }

private:
    aud_env* m_env = nullptr;
};

// A configuration that points at 127.0.0.1:port.
conmon_client_config configFor(const char* name, uint16_t port, uint16_t version = CONMON_VERSION_DEFAULT);

} // namespace conmontest
