// Helpers shared by the test programs: temporary folders, running commands,
// and python peers started as child processes.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

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

// Writes and reads whole files; false/empty on failure.
bool writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

// A child process (usually python3 with a peer script). Its standard output
// is a pipe; readLine() reads one line with a time-out. The process gets
// SIGTERM, then SIGKILL, when the object goes away.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    // One line without its line feed; false on time-out or end of output.
    bool readLine(std::string* line, int timeoutMs = 5000);
    // Waits for the exit; returns the exit status, or -1 on time-out.
    int wait(int timeoutMs = 5000);
    void terminate();

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_pending;
};

// Starts tests/peers/<script> with python3 and the given arguments.
std::vector<std::string> pythonPeer(const std::string& script, const std::vector<std::string>& args = {});

} // namespace qtest
