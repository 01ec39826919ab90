// Helpers of the Mavik package and server tests: fixtures made by the zip
// peer (tests/peers/mavik_zip.py), folder trees, and running the Qt event
// loop while a client process talks to the server.
#pragma once

#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <unistd.h>

namespace mavtest {

// The system's python3 when there is one: a wrapper found first on PATH may
// take seconds to start, and the peers need only the standard library.
inline std::string python()
{
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

// argv that runs tests/peers/<script>.
inline std::vector<std::string> peerCommand(const std::string& script, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {python(), "-u", qtest::peerPath(script)};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// Bytes ((i * 7 + seed) % 256), as the peers make them.
inline std::string pattern(size_t size, int seed)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) % 256);
    return out;
}

// The md5 of bytes as lower-case hex, by the md5sum tool.
inline std::string md5(const std::string& bytes)
{
    qtest::TempDir dir;
    qtest::writeFile(dir.file("x"), bytes);
    std::string out;
    qtest::runCommand("md5sum < " + dir.file("x"), &out);
    return out.substr(0, 32);
}

// Writes the fixture `kind` to path; false when the helper failed.
inline bool makeZip(const std::string& kind, const std::string& path, const std::vector<std::string>& args = {})
{
    std::string command = python() + " " + qtest::peerPath("mavik_zip.py") + " make " + kind + " '" + path + "'";
    for (const std::string& a : args)
        command += " '" + a + "'";
    return qtest::runCommand(command) == 0;
}

// The sorted tree below folder as the zip peer prints it; with withMode the
// file permissions are in each line.
inline std::vector<std::string> tree(const std::string& folder, bool withMode = false)
{
    std::string out;
    qtest::runCommand(python() + " " + qtest::peerPath("mavik_zip.py") + " tree '" + folder + "'", &out);
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t nl; (nl = out.find('\n', from)) != std::string::npos; from = nl + 1) {
        std::string line = out.substr(from, nl - from);
        if (!withMode && line[0] == 'f')
            line = line.substr(0, line.rfind(' '));
        lines.push_back(line);
    }
    return lines;
}

// Runs the event loop until pred holds or timeoutMs passed.
template <class Pred> bool spinUntil(Pred pred, int timeoutMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Every line of a child's output up to `last` (or its end), the event loop
// running meanwhile; "<timeout>" ends the list when it did not finish.
inline std::vector<std::string> linesOf(qtest::ChildProcess& child, const std::string& last, int timeoutMs = 20000)
{
    std::vector<std::string> lines;
    bool done = false;
    const bool finished = spinUntil(
        [&] {
            std::string line;
            while (!done && child.readLine(&line, 2)) {
                if (line == last)
                    done = true;
                else
                    lines.push_back(line);
            }
            return done;
        },
        timeoutMs);
    if (!finished)
        lines.push_back("<timeout>");
    return lines;
}

} // namespace mavtest
