// Helpers of the configuration-manager tests: hex bodies, and the fake
// manager (tests/peers/fake_cmm.py) as a child process with its stdin and
// stdout as pipes.
#pragma once

#include "dante/cmm/dgcp2_message.h"
#include "support/test_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace cmmtest {

// "0001 ab" -> bytes; blanks are ignored.
inline std::string unhex(const std::string& text)
{
    std::string digits, out;
    for (char ch : text)
        if (ch != ' ' && ch != '\n')
            digits += ch;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += char(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
}

inline std::string bodyHex(const dgcp2_message& msg)
{
    return qtest::hex(dgcp2_message_body(&msg), dgcp2_message_body_length(&msg));
}

// A type 2 message with this body (protocol 0x1001, the given opcode, status, seq).
inline dgcp2_message messageWithBody(
    const std::string& body, uint16_t opcode = 0x101, uint16_t status = 2, uint16_t seq = 0)
{
    std::string bytes(DGCP2_HEADER_SIZE_2, '\0');
    bytes += body;
    auto put = [&](size_t at, uint16_t v) {
        bytes[at] = char(v >> 8);
        bytes[at + 1] = char(v);
    };
    put(0, 0x1001);
    put(2, uint16_t(bytes.size()));
    put(4, seq);
    put(6, opcode);
    put(8, status);
    dgcp2_message msg{};
    dgcp2_message_load(&msg, DGCP2_HEADER_TYPE_2, bytes.data(), bytes.size());
    return msg;
}

// The fake manager on a free loopback port; stopped with SIGTERM (then
// SIGKILL) when the object goes away. Every wait is bounded.
class FakeCmm {
public:
    explicit FakeCmm(const std::vector<std::string>& args = {})
    {
        m_port = qtest::freePort(SOCK_DGRAM);
        std::vector<std::string> argv = qtest::pythonPeer("fake_cmm.py", {"--port", std::to_string(m_port)});
        argv.insert(argv.end(), args.begin(), args.end());
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0)
            return;
        if (pipe2(out, O_CLOEXEC) != 0) {
            close(in[0]);
            close(in[1]);
            return;
        }
        std::vector<char*> cargs;
        for (auto& a : argv)
            cargs.push_back(a.data());
        cargs.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            execvp(cargs[0], cargs.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
        std::string line;
        m_ready = m_pid > 0 && expect("ready", 10000, &line) && line == "ready " + std::to_string(m_port);
    }
    ~FakeCmm()
    {
        if (m_in >= 0)
            close(m_in);
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            for (int i = 0; i < 300 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
                usleep(10000);
            if (waitpid(m_pid, &status, WNOHANG) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
        }
        if (m_out >= 0)
            close(m_out);
    }
    FakeCmm(const FakeCmm&) = delete;
    FakeCmm& operator=(const FakeCmm&) = delete;

    bool ready() const { return m_ready; }
    uint16_t port() const { return m_port; }

    void send(const std::string& command)
    {
        const std::string line = command + "\n";
        if (m_in >= 0 && write(m_in, line.data(), line.size()) != ssize_t(line.size()))
            m_lines.push_back("WRITE FAILED");
    }

    // The next line starting with `prefix` (and holding `contains`), within timeoutMs.
    bool expect(
        const std::string& prefix, int timeoutMs = 5000, std::string* found = nullptr, const std::string& contains = "")
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int rounds = 0; rounds < 100000; ++rounds) {
            std::string line;
            while (takeLine(&line)) {
                m_lines.push_back(line);
                if (line.rfind(prefix, 0) == 0 && line.find(contains) != std::string::npos) {
                    if (found)
                        *found = line;
                    return true;
                }
            }
            const auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                      .count();
            if (left <= 0 || m_out < 0)
                return false;
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, int(left)) <= 0)
                return false;
            char buf[4096];
            const ssize_t n = read(m_out, buf, sizeof buf);
            if (n <= 0)
                return false;
            m_pending.append(buf, size_t(n));
        }
        return false;
    }

    // The last lines seen, for failure messages.
    std::string seen() const
    {
        std::string out;
        const size_t from = m_lines.size() > 15 ? m_lines.size() - 15 : 0;
        for (size_t i = from; i < m_lines.size(); ++i)
            out += m_lines[i] + "\n";
        return out;
    }

private:
    bool takeLine(std::string* line)
    {
        const size_t lf = m_pending.find('\n');
        if (lf == std::string::npos)
            return false;
        *line = m_pending.substr(0, lf);
        m_pending.erase(0, lf + 1);
        return true;
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    uint16_t m_port = 0;
    bool m_ready = false;
    std::string m_pending;
    std::vector<std::string> m_lines;
};

} // namespace cmmtest
