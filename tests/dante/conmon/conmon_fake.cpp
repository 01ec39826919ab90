#include "conmon_fake.h"

#include "dante/support/aud_fdset.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace conmontest {

FakeService::FakeService(uint16_t port, const std::vector<std::string>& args)
    : m_port(port)
{
    std::vector<std::string> argv
        = qtest::pythonPeer("fake_conmon.py", {"--port", std::to_string(port), "--lifetime", "60"});
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
        cargs.push_back(const_cast<char*>(a.c_str()));
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
    m_ready = await("ready", {});
}

FakeService::~FakeService()
{
    if (m_in >= 0)
        close(m_in);
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        bool gone = false;
        for (int i = 0; i < 200 && !gone; ++i) {
            gone = waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            if (!gone)
                usleep(10000);
        }
        if (!gone) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    if (m_out >= 0)
        close(m_out);
}

void FakeService::command(const std::string& line)
{
    const std::string text = line + "\n";
    if (m_in >= 0 && write(m_in, text.data(), text.size()) != ssize_t(text.size()))
        ADD_FAILURE() << "could not command the fake: " << line;
}

bool FakeService::readSome(int timeoutMs)
{
    if (m_out < 0)
        return false;
    pollfd p{m_out, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    char buf[8192];
    const ssize_t n = read(m_out, buf, sizeof buf);
    if (n <= 0)
        return false;
    m_pending.append(buf, size_t(n));
    for (size_t lf; (lf = m_pending.find('\n')) != std::string::npos;) {
        m_lines.push_back(m_pending.substr(0, lf));
        m_pending.erase(0, lf + 1);
    }
    return true;
}

void FakeService::drain()
{
    for (int i = 0; i < 64 && readSome(0); ++i) { }
}

size_t FakeService::count(const std::string& kind, const std::vector<std::string>& texts) const
{
    size_t n = 0;
    for (const auto& line : m_lines) {
        if (line.rfind(kind, 0) != 0)
            continue;
        bool all = true;
        for (const auto& t : texts)
            all = all && line.find(t) != std::string::npos;
        n += all ? 1 : 0;
    }
    return n;
}

bool FakeService::await(
    const std::string& kind, const std::vector<std::string>& texts, conmon_client* client, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const size_t before = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (count(kind, texts) > before)
            return true;
        if (client)
            pumpOnce(client);
        readSome(client ? 0 : 10);
    }
    return count(kind, texts) > before;
}

void pumpOnce(conmon_client* client)
{
    aud_fdset set;
    aud_fdset_zero(&set);
    if (conmon_client_get_sockets(client, &set) != AUD_SUCCESS) {
        usleep(1000);
        return;
    }
    size_t ready = 0;
    aud_fdset_poll(&set, 10, &ready);
    if (ready > 0)
        conmon_client_process_sockets(client);
}

conmon_client_config configFor(const char* name, uint16_t port, uint16_t version)
{
    conmon_client_config config;
    conmon_client_config_init(&config, name);
    aud_sockaddr_from_text(&config.server, AF_INET, "127.0.0.1", port);
    config.protocol_version = version;
    return config;
}

} // namespace conmontest
