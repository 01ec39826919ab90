// An in-memory link for code that talks through VCOM::IVCom, shared by the
// tests, benchmarks and fuzz targets: reads hand out `input` from
// `position`, at most `chunk` bytes at a time and never across the end of a
// queued piece; writes are recorded in `sent` and answer `writeResult` (a
// failing result takes nothing).
#pragma once

#include "pbd/vcom/vcom.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>

namespace qtest {

class MemoryTransport : public VCOM::IVCom {
public:
    explicit MemoryTransport(int32_t userId = 1)
        : m_userId(userId)
    {
    }

    int32_t attach(int32_t, VCOM::IVComWakeupFunction*) override { return 0; }
    int32_t detach() override { return 0; }
    int32_t getUserId() const override { return m_userId; }
    bool isConnected() const override { return open; }
    int32_t valid() const override { return 1; }
    IVCom* self() override { return this; }
    uint32_t writableSpace() const override { return 15000; }
    bool isOpen() const override { return open; }
    VCOM::VComResult read(void* buffer, uint32_t size, uint32_t* countOut) override
    {
        while (!m_ends.empty() && m_ends.front() <= position)
            m_ends.pop_front();
        size_t n = std::min<size_t>(size, chunk);
        n = std::min(n, pending());
        if (!m_ends.empty())
            n = std::min(n, m_ends.front() - position);
        std::memcpy(buffer, input.data() + position, n);
        position += n;
        *countOut = static_cast<uint32_t>(n);
        return n ? VCOM::VCOM_MORE : VCOM::VCOM_OK;
    }
    VCOM::VComResult write(const void* data, uint32_t length, uint32_t* countOut) override
    {
        *countOut = 0;
        if (writeResult < 0)
            return writeResult;
        if (recordWrites)
            sent.append(static_cast<const char*>(data), length);
        *countOut = length;
        return writeResult;
    }
    VCOM::VComResult disconnect() override { return 0; }
    VCOM::VComResult processEvents(VCOM::IVComCallback*) override { return 0; }

    // Appends bytes the peer sends, as pieces of at most `size` bytes.
    void queue(const std::string& bytes, size_t size = SIZE_MAX)
    {
        for (size_t at = 0; at < bytes.size(); at += size) {
            input.append(bytes, at, size);
            m_ends.push_back(input.size());
        }
    }
    // Bytes not read yet.
    size_t pending() const { return position < input.size() ? input.size() - position : 0; }

    std::string input;
    size_t position = 0;
    size_t chunk = SIZE_MAX;
    std::string sent;
    VCOM::VComResult writeResult = VCOM::VCOM_PENDING;
    bool recordWrites = true; // fuzz targets keep no copy
    bool open = true;

private:
    const int32_t m_userId;
    std::deque<size_t> m_ends;
};

} // namespace qtest
