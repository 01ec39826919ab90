#include "tests/dante/conmon/conmon_fake.h"

#include "dante/support/aud_fdset.h"

#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

namespace conmontest {

namespace {

std::vector<std::string> fakeArgs(uint16_t port, const std::vector<std::string>& args)
{
    std::vector<std::string> argv
        = qtest::pythonPeer("fake_conmon.py", {"--port", std::to_string(port), "--lifetime", "60"});
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

} // namespace

FakeService::FakeService(uint16_t port, const std::vector<std::string>& args)
    : m_port(port)
    , m_process(fakeArgs(port, args), true)
{
    m_ready = m_process.started() && await("ready", {});
}

void FakeService::command(const std::string& line)
{
    if (!m_process.writeLine(line))
        ADD_FAILURE() << "could not command the fake: " << line;
}

bool FakeService::readSome(int timeoutMs)
{
    std::string line;
    // A line that is already waiting comes back at once; the reader counts
    // whole milliseconds, so 2 is the shortest wait that still polls.
    if (!m_process.readLine(&line, timeoutMs < 2 ? 2 : timeoutMs))
        return false;
    m_lines.push_back(line);
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
