// Helpers of the workgroup tests: hex text, pumping the Qt event loop with a
// bound, and the peer script.
#pragma once

#include "tests/support/test_support.h"

#include <QByteArray>
#include <QCoreApplication>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace wgtest {

inline QByteArray fromHex(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (c != ' ')
            digits += c;
    return QByteArray::fromHex(QByteArray::fromStdString(digits));
}

inline std::string toHex(const QByteArray& bytes)
{
    return bytes.toHex().toStdString();
}

// Runs the Qt events of this thread until pred holds or timeoutMs passed.
template <typename Pred> bool pumpUntil(Pred pred, int timeoutMs = 5000)
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

inline void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

// The peer's output lines (python3 workgroup_peer.py ARGS...). One run
// answers many questions: starting python is the slow part.
inline std::vector<std::string> peerLines(const std::vector<std::string>& args)
{
    std::string command = "python3 " + qtest::peerPath("workgroup_peer.py");
    for (const std::string& a : args)
        command += " '" + a + "'";
    std::string out;
    qtest::runCommand(command, &out);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        lines.push_back(out.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

} // namespace wgtest
