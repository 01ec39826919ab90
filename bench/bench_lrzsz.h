// lrzsz as the XMODEM peer of the model firmware benchmarks: `sx -k`
// pushing a file into `rx -c` through the tests' bridge (xmodem_rx.py) over
// loopback TCP, and the median of a few runs to take fixed costs off.
#pragma once

#include "tests/support/test_support.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace lrzsz {

using Clock = std::chrono::steady_clock;

// Waits for the bridge's end; true when rx took the whole file.
inline bool bridgeDone(qtest::ChildProcess& bridge, size_t size)
{
    std::string line;
    long got = -1;
    while (bridge.readLine(&line, 60000) && line != "DONE") {
        if (line.rfind("SIZE ", 0) == 0)
            got = std::stol(line.substr(5));
    }
    return line == "DONE" && got >= static_cast<long>(size);
}

// Seconds `sx -k` takes from its start to its exit (it sleeps a second
// after the last ACK); < 0 on failure.
inline double sxOnce(const std::string& path, size_t size)
{
    qtest::TempDir out;
    qtest::ChildProcess bridge(qtest::pythonPeer("xmodem_rx.py", {out.path(), "got.bin", "--crc", "--prime", "0"}));
    const uint16_t port = qtest::peerPort(bridge);
    if (port == 0)
        return -1;
    const std::string command = "bash -c 'exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port) + "; sx -k -q " + path
        + " <&3 >&3 2>/dev/null'";
    const auto start = Clock::now();
    const int rc = qtest::runCommand(command);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return rc == 0 && bridgeDone(bridge, size) ? seconds : -1;
}

// Median of three runs of a small file: a side's fixed cost.
template <class Run> double fixedCost(Run run, const std::string& path)
{
    double t[3];
    for (double& v : t)
        v = run(path, 1);
    std::sort(t, t + 3);
    return t[0] < 0 ? -1 : t[1];
}

} // namespace lrzsz
