// The fake Dante services and the agent's helpers shared by the tests that
// run the agent with its real clients against fake_conmon.py and
// fake_cmm.py in a network namespace of their own (the agent's own tests,
// the Dante front's and the firmware window's end-to-end runs): the fakes
// as child processes, the agent's stepped clock, a device added on the
// agent's task, as the browser adds one, and a device's advertisement as
// avahi-daemon publishes it.
#pragma once

#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_glue_parts.h"
#include "dante/dfa/dfa_task.h"
#include "dante/support/aud_env.h"

#include "tests/support/avahi_daemon.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace dfaagent {

// A fake service as a child whose output is read away so it never blocks.
class Peer {
public:
    Peer(const std::string& script, const std::vector<std::string>& args)
        : m_child(qtest::pythonPeer(script, args), true)
    {
        // An interpreter can take seconds to start on a loaded machine.
        std::string line;
        for (int i = 0; i < 100 && m_child.readLine(&line, 30000); ++i) {
            if (line.rfind("ready", 0) == 0) {
                m_ready = true;
                break;
            }
        }
    }
    bool ready() const { return m_ready; }
    void command(const std::string& line) { m_child.writeLine(line); }
    // Reads what the peer printed until a line holds `text`.
    bool await(const std::string& text, int timeoutMs)
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (read(&line) && line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    // Lines holding `text` printed within the next ms.
    int countFor(const std::string& text, int ms)
    {
        int n = 0;
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            if (read(&line) && line.find(text) != std::string::npos)
                ++n;
        }
        return n;
    }

    // Whether a line printed so far, or within the next ms, holds all of
    // `texts`.
    bool printed(const std::vector<std::string>& texts, int ms)
    {
        auto holds = [&](const std::string& line) {
            return std::all_of(
                texts.begin(), texts.end(), [&](const std::string& t) { return line.find(t) != std::string::npos; });
        };
        if (std::any_of(m_lines.begin(), m_lines.end(), holds))
            return true;
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            if (read(&line) && holds(line))
                return true;
        }
        return false;
    }

    // Reads what the peer has printed by now (at most `max` lines), so its
    // pipe never fills while a test waits on something else.
    void drain(int max = 1000)
    {
        std::string line;
        for (int i = 0; i < max && m_child.readLine(&line, 1); ++i)
            m_lines.push_back(line);
    }

    // Every line read so far.
    const std::vector<std::string>& lines() const { return m_lines; }

private:
    bool read(std::string* line)
    {
        if (!m_child.readLine(line, 100))
            return false;
        m_lines.push_back(*line);
        return true;
    }
    qtest::ChildProcess m_child;
    bool m_ready = false;
    std::vector<std::string> m_lines;
};

// The agent's clock: the monotonic clock plus the seconds the test stepped
// it forward. It rides on the process's environment, which the test holds
// for longer than the agent does.
class SteppedClock {
public:
    SteppedClock()
    {
        aud_env_setup(&m_env);
        aud_env_set_clock(m_env, &read, this);
    }
    ~SteppedClock()
    {
        aud_env_set_clock(m_env, nullptr, nullptr);
        aud_env_release(m_env);
    }
    SteppedClock(const SteppedClock&) = delete;
    SteppedClock& operator=(const SteppedClock&) = delete;
    void step(int seconds) { m_offset.fetch_add(seconds); }

private:
    static aud_error read(void* context, aud_time* out)
    {
        aud_clock_monotonic(out);
        out->seconds += static_cast<SteppedClock*>(context)->m_offset.load();
        return AUD_SUCCESS;
    }
    aud_env* m_env = nullptr;
    std::atomic<int32_t> m_offset{0};
};

inline int addDevice(DfaTask* task)
{
    dfa_conmon_add_device(reinterpret_cast<const char*>(dfa_task_param(task)));
    dfa_task_delete(task);
    return 0;
}

// Adds a device on the agent's task, as the browser will.
inline bool postDevice(const char* name)
{
    char param[DFA_DEVICE_NAME_SIZE + 1] = {};
    std::strncpy(param, name, DFA_DEVICE_NAME_SIZE);
    return dfa_task_post(&addDevice, nullptr, DFA_KEY_REQUEST, "test_add_device", param, sizeof param) != nullptr;
}

inline const std::vector<std::string> kTwoInterfaces
    = {"--interface", "eth-first=02:00:00:00:00:01", "--interface", "eth-second=02:00:00:00:00:02"};

inline std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::vector<std::string> cmmWith(const std::string& current)
{
    std::vector<std::string> a = kTwoInterfaces;
    a.push_back("--current");
    a.push_back(current);
    return a;
}

// A Dante device as avahi publishes it: its media service and, with
// conmon, its control-and-monitoring service (n keeps ports and ids apart).
inline void publish(std::vector<qtest::AvahiDaemon::Service>* out, const std::string& name, bool conmon, int n)
{
    out->push_back({name, "_netaudio-arc._udp", uint16_t(4440 + n), {"arcp_vers=2.7.1", "arcp_min=2.0.0", "mf=_0001"}});
    if (conmon) {
        char id[32];
        std::snprintf(id, sizeof id, "id=00aabbccddee00%02x", n);
        out->push_back({name, "_netaudio-cmc._udp", uint16_t(8800 + n), {id, "process=1"}});
    }
}

} // namespace dfaagent

#define AGENT_BED()                                                                                                    \
    QTEST_IN_NETNS();                                                                                                  \
    qtest::NetnsBed bed;                                                                                               \
    ASSERT_TRUE(bed.ready()) << bed.error()
