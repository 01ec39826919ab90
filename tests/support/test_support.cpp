#include "tests/support/test_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qtest {

std::string peerPath(const std::string& name)
{
    return std::string(QUILLON_PEERS_DIR) + "/" + name;
}

std::string sourcePath(const std::string& relative)
{
    return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quillon-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()))
        m_path = buf.data();
}

TempDir::~TempDir()
{
    if (m_path.empty())
        return;
    // rm does not follow links out of the folder.
    runCommand("chmod -R u+rwx '" + m_path + "' 2>/dev/null; rm -rf '" + m_path + "'");
}

int runCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        text.append(chunk, n);
    const int status = pclose(pipe);
    if (output)
        *output = text;
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string hex(const void* data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
    : ChildProcess(argv, false)
{
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool withInput)
{
    int fds[2];
    int in[2] = {-1, -1};
    if (argv.empty() || pipe2(fds, O_CLOEXEC) != 0)
        return;
    if (withInput && pipe2(in, O_CLOEXEC) != 0) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        // A peer dies with the test, so a crashed test leaves no process
        // behind holding the runner's pipes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(fds[1], STDOUT_FILENO);
        if (in[0] >= 0)
            dup2(in[0], STDIN_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    m_out = fds[0];
    if (in[0] >= 0) {
        close(in[0]);
        m_in = in[1];
    }
    if (m_pid < 0) {
        close(m_out);
        m_out = -1;
    }
}

ChildProcess::~ChildProcess()
{
    terminate();
    if (m_out >= 0)
        close(m_out);
    if (m_in >= 0)
        close(m_in);
}

bool ChildProcess::writeLine(const std::string& text)
{
    if (m_in < 0)
        return false;
    const std::string line = text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_in, line.data() + done, line.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ChildProcess::signal(int number)
{
    return m_pid > 0 && kill(m_pid, number) == 0;
}

bool ChildProcess::readLine(std::string* line, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int rounds = 0; rounds < 100000; ++rounds) {
        const auto lf = m_pending.find('\n');
        if (lf != std::string::npos) {
            *line = m_pending.substr(0, lf);
            m_pending.erase(0, lf + 1);
            return true;
        }
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                  .count();
        // A time-out of 0 still looks once at what is there.
        if (m_out < 0 || (left <= 0 && (timeoutMs > 0 || rounds > 0)))
            return false;
        pollfd p{m_out, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left > 0 ? left : 0)) <= 0)
            return false;
        char buf[1024];
        const ssize_t n = read(m_out, buf, sizeof buf);
        if (n <= 0)
            return false;
        m_pending.append(buf, static_cast<size_t>(n));
    }
    return false;
}

int ChildProcess::wait(int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        int status = 0;
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(10000);
    }
    return -1;
}

void ChildProcess::terminate()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    if (wait(2000) < 0 && m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

std::vector<std::string> pythonPeer(const std::string& script, const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"python3", "-u", peerPath(script)};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

uint16_t peerPort(ChildProcess& peer)
{
    // Starting an interpreter on a loaded machine can take seconds; a peer
    // that never starts still fails, only later.
    std::string line;
    if (!peer.readLine(&line, 30000) || line.rfind("PORT ", 0) != 0)
        return 0;
    return static_cast<uint16_t>(std::stoi(line.substr(5)));
}

uint16_t freePort(int type, const char* address)
{
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0)
        return 0;
    sockaddr_in in{};
    in.sin_family = AF_INET;
    inet_pton(AF_INET, address, &in.sin_addr);
    socklen_t len = sizeof in;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &len) == 0;
    close(fd);
    return bound ? ntohs(in.sin_port) : 0;
}

} // namespace qtest
