// Shared pieces of the model firmware tests: a transport that hands the link
// scripted chunks and records what it sends, a transfer object whose state
// the test sets, the engine's log lines, and a tick the test moves.
#pragma once

#include "OSWRAP/oswrap.h"
#include "mfu/mfu.h"
#include "vcom/vcom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace mfutest {

// Bytes the unit sends arrive in the chunks queued; every write is recorded.
class FakeTransport : public VCOM::IVCom {
public:
    int32_t attach(int32_t, VCOM::IVComWakeupFunction*) override { return 0; }
    int32_t detach() override { return 0; }
    int32_t getUserId() const override { return 1; }
    bool isConnected() const override { return true; }
    int32_t valid() const override { return 1; }
    IVCom* self() override { return this; }
    uint32_t writableSpace() const override { return 15000; }
    bool isOpen() const override { return true; }
    VCOM::VComResult read(void* buffer, uint32_t size, uint32_t* countOut) override
    {
        *countOut = 0;
        if (chunks.empty())
            return VCOM::VCOM_OK;
        std::string& chunk = chunks.front();
        const size_t n = std::min<size_t>(size, chunk.size());
        memcpy(buffer, chunk.data(), n);
        chunk.erase(0, n);
        if (chunk.empty())
            chunks.pop_front();
        *countOut = static_cast<uint32_t>(n);
        return VCOM::VCOM_MORE;
    }
    VCOM::VComResult write(const void* data, uint32_t length, uint32_t* countOut) override
    {
        *countOut = 0;
        if (failWrites)
            return VCOM::VCOM_E_STATE;
        sent.append(static_cast<const char*>(data), length);
        *countOut = length;
        return VCOM::VCOM_PENDING;
    }
    VCOM::VComResult disconnect() override { return 0; }
    VCOM::VComResult processEvents(VCOM::IVComCallback*) override { return 0; }

    // Queues bytes in chunks of at most `size`.
    void queue(const std::string& bytes, size_t size = 1 << 20)
    {
        for (size_t at = 0; at < bytes.size(); at += size)
            chunks.push_back(bytes.substr(at, size));
    }

    std::deque<std::string> chunks;
    std::string sent;
    bool failWrites = false;
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
