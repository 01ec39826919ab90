// Stands in for the MFU task in the sequence tests: polls the unit's socket
// on each wake-up and pumps and evaluates on every 100 ms of a tick that
// follows the real clock plus an offset the test jumps forward, so no test
// waits out a step timer. Also runs the simulated units.
#pragma once

#include "fwupdate/mfu/mfu_sequence.h"
#include "pbd/OSWRAP/oswrap.h"
#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace mfutest {

class TaskDriver : public MFUTaskWakeupIF {
public:
    TaskDriver() { oswrap_setTickSource(&TaskDriver::tick); }
    ~TaskDriver() override
    {
        oswrap_setTickSource(nullptr);
        offset() = 0;
    }

    int32_t wake(uint32_t) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_woken = true;
        }
        m_wake.notify_all();
        ++wakeups;
        return 0;
    }
    int32_t versionErrorFlag(uint32_t) override { return sequence && sequence->versionError() ? 1 : 0; }

    // Runs the sequence until `done` holds or the real deadline passes;
    // every 200 ms of real time the tick jumps `jumpMs` forward.
    bool run(const std::function<bool()>& done, int deadlineMs = 30000, uint32_t jumpMs = 0)
    {
        const auto start = std::chrono::steady_clock::now();
        auto lastJump = start;
        uint32_t lastTick = tick();
        while (!done()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - start > std::chrono::milliseconds(deadlineMs))
                return false;
            bool woken = false;
            {
                std::unique_lock<std::mutex> guard(m_lock);
                m_wake.wait_for(guard, std::chrono::milliseconds(10), [this] { return m_woken; });
                woken = m_woken;
                m_woken = false;
            }
            if (woken)
                sequence->pollSocket();
            if (jumpMs && now - lastJump > std::chrono::milliseconds(200)) {
                lastJump = now;
                jump(jumpMs);
            }
            if (tick() - lastTick >= 100) {
                lastTick = tick();
                sequence->pump();
                const int32_t event = sequence->evaluate();
                if (event != MFU_EVENT_NONE)
                    events.push_back(event);
            }
        }
        return true;
    }

    bool sawEvent(int32_t event) const
    {
        for (int32_t e : events) {
            if (e == event)
                return true;
        }
        return false;
    }

    static void jump(uint32_t ms) { offset() += ms; }
    static uint32_t tick()
    {
        const auto ms
            = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                  .count();
        return static_cast<uint32_t>(ms + offset().load());
    }

    QuilMfuSequence* sequence = nullptr;
    std::vector<int32_t> events;
    std::atomic<int> wakeups{0};

private:
    static std::atomic<int64_t>& offset()
    {
        static std::atomic<int64_t> value{0};
        return value;
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_woken = false;
};

// mfu_unit.py with its output lines kept.
class UnitPeer {
public:
    UnitPeer(const std::string& work, const std::vector<std::string>& units)
        : m_process(qtest::pythonPeer("mfu_unit.py", arguments(work, units)))
    {
        m_ready = waitLine([](const std::string& line) { return line == "READY"; }, 10000);
    }
    bool ready() const { return m_ready; }
    // Waits for a line that holds; false on time-out.
    bool waitLine(const std::function<bool(const std::string&)>& match, int timeoutMs = 10000)
    {
        for (const std::string& line : m_lines) {
            if (match(line))
                return true;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string line;
        while (std::chrono::steady_clock::now() < deadline) {
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count());
            if (!m_process.readLine(&line, std::max(left, 1)))
                return false;
            m_lines.push_back(line);
            if (match(line))
                return true;
        }
        return false;
    }
    bool waitFor(const std::string& exact, int timeoutMs = 10000)
    {
        return waitLine([&](const std::string& line) { return line == exact; }, timeoutMs);
    }

private:
    static std::vector<std::string> arguments(const std::string& work, const std::vector<std::string>& units)
    {
        std::vector<std::string> args = {"--work", work};
        for (const std::string& unit : units) {
            args.push_back("--unit");
            args.push_back(unit);
        }
        return args;
    }

    qtest::ChildProcess m_process;
    std::vector<std::string> m_lines;
    bool m_ready = false;
};

} // namespace mfutest
