// Helpers of the configuration-manager tests: hex bodies, and the fake
// manager (tests/peers/fake_cmm.py) as a child process with its stdin and
// stdout as pipes.
#pragma once

#include "dante/cmm/dgcp2_message.h"
#include "tests/support/test_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
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
        : m_port(qtest::freePort(SOCK_DGRAM))
        , m_process(withArgs(m_port, args), true)
    {
        std::string line;
        m_ready = m_process.started() && expect("ready", 10000, &line) && line == "ready " + std::to_string(m_port);
    }

    bool ready() const { return m_ready; }
    uint16_t port() const { return m_port; }

    void send(const std::string& command)
    {
        if (!m_process.writeLine(command))
            m_lines.push_back("WRITE FAILED");
    }

    // The next line starting with `prefix` (and holding `contains`), within timeoutMs.
    bool expect(
        const std::string& prefix, int timeoutMs = 5000, std::string* found = nullptr, const std::string& contains = "")
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int rounds = 0; rounds < 100000; ++rounds) {
            const auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                      .count();
            std::string line;
            if (left <= 0 || !m_process.readLine(&line, int(left)))
                return false;
            m_lines.push_back(line);
            if (line.rfind(prefix, 0) == 0 && line.find(contains) != std::string::npos) {
                if (found)
                    *found = line;
                return true;
            }
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
    static std::vector<std::string> withArgs(uint16_t port, const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = qtest::pythonPeer("fake_cmm.py", {"--port", std::to_string(port)});
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    uint16_t m_port = 0;
    qtest::ChildProcess m_process;
    bool m_ready = false;
    std::vector<std::string> m_lines;
};

// A datagram socket on 127.0.0.1 that answers as the manager would.
class ScriptedManager {
public:
    ScriptedManager()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&a), n) != 0
            || getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
            return;
        m_port = ntohs(a.sin_port);
        timeval t{2, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    }
    ~ScriptedManager()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    ScriptedManager(const ScriptedManager&) = delete;
    ScriptedManager& operator=(const ScriptedManager&) = delete;

    uint16_t port() const { return m_port; }
    // Takes the next request (bounded wait); its opcode, or -1.
    int receive()
    {
        uint8_t buf[2048];
        m_peerLength = sizeof m_peer;
        const ssize_t n = recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&m_peer), &m_peerLength);
        return n >= 8 ? (buf[6] << 8 | buf[7]) : -1;
    }
    void send(const dgcp2_message& msg)
    {
        sendto(m_fd, msg.data, dgcp2_message_length(&msg), 0, reinterpret_cast<sockaddr*>(&m_peer), m_peerLength);
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
    sockaddr_in m_peer{};
    socklen_t m_peerLength = sizeof m_peer;
};

} // namespace cmmtest
