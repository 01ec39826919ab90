// A TFTP server on loopback inside the test's own network namespace (the
// child ports 2000-2032 are fixed, so no test may share the host's), with
// the parent events and log lines recorded, and helpers that run clients.
#pragma once

#include "fwupdate/tftp/tftp.h"
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tftptest {

constexpr const char* kHost = "127.0.0.1";
constexpr uint16_t kPort = 1999;

// Short resends for most cases; the schedule case sets the real one.
inline TFTPTimings quickTimings()
{
    TFTPTimings t;
    t.resendMs = 100;
    t.maxResends = 5;
    t.tickMs = 20;
    return t;
}

class Events : public TFTPParentCallbackIF {
public:
    int32_t transferEvent(uint16_t childId, uint32_t event) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_events.emplace_back(childId, event);
        }
        m_changed.notify_all();
        return 0;
    }
    std::vector<std::pair<uint16_t, uint32_t>> all()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events;
    }
    // The events of one child, in order.
    std::vector<uint32_t> of(uint16_t childId)
    {
        std::vector<uint32_t> out;
        for (const auto& e : all()) {
            if (e.first == childId)
                out.push_back(e.second);
        }
        return out;
    }
    // Every transfer that started has ended.
    bool settled()
    {
        size_t started = 0, ended = 0;
        for (const auto& e : all()) {
            started += e.second == TFTP_EVENT_STARTED;
            ended += e.second == TFTP_EVENT_FINISHED || e.second == TFTP_EVENT_ABORTED;
        }
        return ended >= started;
    }
    // Waits until `count` events of this kind have arrived.
    bool waitCount(uint32_t event, size_t count, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            return static_cast<size_t>(std::count_if(m_events.begin(), m_events.end(),
                       [&](const std::pair<uint16_t, uint32_t>& e) { return e.second == event; }))
                >= count;
        });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::pair<uint16_t, uint32_t>> m_events;
};

class Log {
public:
    void add(const char* line)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.emplace_back(line);
    }
    int count(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), line));
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_lines;
};

class TftpNetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return; // the outer run only starts the inner one
        ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
        oswrap_init();
        ASSERT_EQ(vsock_init(), VSOCK_OK);
        tftp_setTimings(quickTimings());
        tftp_setLogSink([this](const char* line) { log.add(line); });
        root = std::make_unique<qtest::TempDir>();
    }
    void TearDown() override
    {
        if (!qtest::insideTestNetns())
            return;
        servers.clear();
        tftp_setLogSink(nullptr);
        vsock_term();
    }

    // A running server on kHost:port serving folder (the root by default).
    TFTPServer* startServer(uint16_t port = kPort, const std::string& folder = "", Events* parent = nullptr)
    {
        servers.push_back(std::make_unique<TFTPServer>());
        TFTPServer* server = servers.back().get();
        const std::string dir = (folder.empty() ? root->path() : folder) + "/";
        EXPECT_EQ(server->setup(kHost, port, dir.c_str(), parent ? parent : &events), TFTP_OK);
        EXPECT_EQ(server->start(), TFTP_OK);
        return server;
    }

    std::string file(const std::string& name) const { return root->file(name); }
    void put(const std::string& name, const std::string& bytes) { ASSERT_TRUE(qtest::writeFile(file(name), bytes)); }

    // Runs the raw peer and returns its transcript (without "DONE").
    std::vector<std::string> peer(const std::vector<std::string>& args, uint16_t port = kPort, int timeoutMs = 30000)
    {
        std::vector<std::string> argv = {kHost, std::to_string(port)};
        argv.insert(argv.end(), args.begin(), args.end());
        qtest::ChildProcess child(qtest::pythonPeer("tftp_peer.py", argv));
        std::vector<std::string> lines;
        std::string line;
        while (child.readLine(&line, timeoutMs) && line != "DONE")
            lines.push_back(line);
        if (line != "DONE")
            lines.push_back("<peer did not finish>");
        return lines;
    }

    Events events;
    Log log;
    std::unique_ptr<qtest::TempDir> root;
    std::vector<std::unique_ptr<TFTPServer>> servers;
};

// Bytes of a test file: ((i * 7 + seed) % 256), as the raw peer makes them.
inline std::string pattern(size_t size, int seed = 0)
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

} // namespace tftptest
