// Helpers shared by the test programs: temporary folders, running commands,
// and python peers started as child processes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace qtest {

// Path of a file under tests/peers.
std::string peerPath(const std::string& name);
// Path of a file under the source tree.
std::string sourcePath(const std::string& relative);

// A fresh folder under $TMPDIR, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs a shell command; returns its exit status (-1 when it could not run)
// and its standard output in *output when given.
int runCommand(const std::string& command, std::string* output = nullptr);

// Bytes as lower-case hex digits, two per byte.
std::string hex(const void* data, size_t length);
inline std::string hex(const std::string& bytes)
{
    return hex(bytes.data(), bytes.size());
}

// Writes and reads whole files; false/empty on failure.
bool writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

// A child process (usually python3 with a peer script). Its standard output
// is a pipe; readLine() reads one line with a time-out. The process gets
// SIGTERM, then SIGKILL, when the object goes away.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    // With withInput the child's standard input is a pipe for writeLine();
    // otherwise it inherits ours.
    ChildProcess(const std::vector<std::string>& argv, bool withInput);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    // One line without its line feed; false on time-out or end of output.
    // With a time-out of 0 it takes a line only if one is there now.
    bool readLine(std::string* line, int timeoutMs = 5000);
    // Waits for the exit; returns the exit status, or -1 on time-out.
    int wait(int timeoutMs = 5000);
    void terminate();
    // Writes text and a line feed to the child's input (false without one).
    bool writeLine(const std::string& text);
    // Sends a signal to the child (false when it is not running).
    bool signal(int number);

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    std::string m_pending;
};

// Starts tests/peers/<script> with python3 and the given arguments.
std::vector<std::string> pythonPeer(const std::string& script, const std::vector<std::string>& args = {});

// Polls pred every millisecond for at most timeoutMs; true once it holds.
template <typename Pred> bool waitFor(Pred pred, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The port a peer names in its first line, "PORT <n>"; 0 when it names none.
uint16_t peerPort(ChildProcess& peer);

// A port of the socket type (SOCK_STREAM, SOCK_DGRAM) that is free right now
// on a local IPv4 address: for TCP, one nobody listens on.
uint16_t freePort(int type, const char* address = "127.0.0.1");

} // namespace qtest
