// The firmware-update connection's test bed: the socket service, a Qt
// application object for the queued signals, and the scripted unit of
// tests/peers/scpclient_peer.py with its transcript.
#pragma once

#include "tests/support/test_support.h"
#include "tests/support/vsock_service_test.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fwscptest {

// The ten information tags and the two status tags a unit answers.
inline std::vector<std::string> unitAnswers(const std::string& error = "nothing", const std::string& name = "Stage A")
{
    std::vector<std::string> script = {"answer runmode normal", "answer protocolver 1.0", "answer paramsetver 1.0",
        "answer version 2.1.0", "answer productname BroxL-D", "answer manufacturer Valdor", "answer category IO",
        "answer deviceid J012", "answer devicename " + name, "answer inputport 16", "answer outputport 8"};
    if (!error.empty())
        script.push_back("answer error " + error);
    return script;
}

inline std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Runs the event loop until pred holds or timeoutMs passed.
template <class Pred> bool spinUntil(Pred pred, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
}

// One scripted unit and what it printed.
class Unit {
public:
    explicit Unit(const std::vector<std::string>& script)
        : m_process(qtest::pythonPeer("scpclient_peer.py", script))
        , m_port(qtest::peerPort(m_process))
    {
    }
    uint16_t port() const { return m_port; }

    // Every line printed so far (reads what is there, waiting a little).
    const std::vector<std::string>& transcript()
    {
        std::string line;
        while (m_process.readLine(&line, 5))
            m_lines.push_back(line);
        return m_lines;
    }
    int count(const std::string& line)
    {
        int n = 0;
        for (const std::string& l : transcript())
            n += l == line;
        return n;
    }
    // Waits until the unit printed line (count times at least).
    bool saw(const std::string& line, int times = 1, int timeoutMs = 5000)
    {
        return spinUntil([&] { return count(line) >= times; }, timeoutMs);
    }
    // The request lines, in order ("LINE " taken off).
    std::vector<std::string> requests()
    {
        std::vector<std::string> out;
        for (const std::string& l : transcript()) {
            if (l.rfind("LINE ", 0) == 0)
                out.push_back(l.substr(5));
            else if (l == "LINE")
                out.push_back("");
        }
        return out;
    }

private:
    qtest::ChildProcess m_process;
    uint16_t m_port = 0;
    std::vector<std::string> m_lines;
};

class Bed : public qtest::VsockServiceTest {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "fwscp";
        static char* argv[] = {name, nullptr};
        static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
        (void)app;
    }
};

} // namespace fwscptest
