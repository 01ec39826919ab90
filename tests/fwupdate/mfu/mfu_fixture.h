// Shared pieces of the model firmware tests (the unit's side of the link is
// qtest::MemoryTransport): a transfer object whose state the test sets, the
// engine's log lines, and a tick the test moves.
#pragma once

#include "fwupdate/mfu/mfu.h"
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vcom/vcom.h"
#include "tests/support/memory_transport.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace mfutest {

// A connected socket as the transfer's callback (a real peer on loopback).
class SocketLink : public ITransfererCallback {
public:
    explicit SocketLink(int fd)
        : m_fd(fd)
    {
    }
    int32_t sendBytes(const void* data, uint32_t length) override
    {
        const char* p = static_cast<const char*>(data);
        while (length > 0) {
            const ssize_t n = ::send(m_fd, p, length, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return MFU_E_FAIL;
            p += n;
            length -= static_cast<uint32_t>(n);
        }
        return MFU_OK;
    }
    int32_t readBytes(void* buffer, uint32_t capacity, uint32_t* countOut) override
    {
        *countOut = 0;
        const ssize_t n = ::recv(m_fd, buffer, capacity, MSG_DONTWAIT);
        if (n > 0)
            *countOut = static_cast<uint32_t>(n);
        return n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK ? 0 : MFU_E_FAIL;
    }

private:
    int m_fd;
};

// A transfer object that only reports what the test sets.
class StubTransfer : public ITransferProtocol {
public:
    MfuResult destroy() override { return MFU_OK; }
    MfuResult setCallback(ITransfererCallback* cb) override { return cb ? MFU_OK : MFU_E_FAIL; }
    MfuResult setFilePath(const char*) override { return MFU_OK; }
    MfuResult start() override { return MFU_OK; }
    MfuResult step() override
    {
        ++steps;
        if (!script.empty()) {
            state = script.front();
            script.pop_front();
        }
        return state == TRANSFER_STATE_ABORTED ? MFU_E_FAIL : MFU_OK;
    }
    MfuResult end() override { return MFU_OK; }
    uint32_t fileSize() const override { return size; }
    uint32_t bytesSent() const override { return sent; }
    bool finished() const override { return state >= TRANSFER_STATE_FINISHED; }
    int32_t transferState() const override { return state; }

    int32_t state = TRANSFER_STATE_TRANSFERRING;
    std::deque<int32_t> script; // states the next steps enter
    uint32_t size = 0;
    uint32_t sent = 0;
    int steps = 0;
};

// The engine's log lines while alive.
class LogCapture {
public:
    LogCapture()
    {
        mfu_setLogSink([this](const char* line) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_lines.emplace_back(line);
        });
    }
    ~LogCapture() { mfu_setLogSink(nullptr); }
    bool has(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return std::any_of(m_lines.begin(), m_lines.end(),
            [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
    int count(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return static_cast<int>(std::count_if(m_lines.begin(), m_lines.end(),
            [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }
    int exact(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), text));
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.clear();
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_lines;
};

// The OS wrapper's tick, moved by the test.
class ManualTick {
public:
    ManualTick()
    {
        now() = 100000;
        oswrap_setTickSource([] { return now().load(); });
    }
    ~ManualTick() { oswrap_setTickSource(nullptr); }
    void advance(uint32_t ms) { now() += ms; }

private:
    static std::atomic<uint32_t>& now()
    {
        static std::atomic<uint32_t> tick{0};
        return tick;
    }
};

} // namespace mfutest
