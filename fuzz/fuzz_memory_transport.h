// An in-memory transport for the fuzz targets: reads hand out `input` from
// `position` in pieces of at most `chunk` bytes, writes are swallowed whole
// and answer `writeResult`.
#pragma once

#include "vcom/vcom.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzzing {

class MemoryTransport : public VCOM::IVCom {
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
        const size_t n = std::min<size_t>(std::min<size_t>(size, chunk), input.size() - position);
        std::memcpy(buffer, input.data() + position, n);
        position += n;
        *countOut = static_cast<uint32_t>(n);
        return n ? VCOM::VCOM_MORE : VCOM::VCOM_OK;
    }
    VCOM::VComResult write(const void*, uint32_t length, uint32_t* countOut) override
    {
        *countOut = length;
        return writeResult;
    }
    VCOM::VComResult disconnect() override { return 0; }
    VCOM::VComResult processEvents(VCOM::IVComCallback*) override { return 0; }

    std::string input;
    size_t position = 0;
    size_t chunk = SIZE_MAX;
    VCOM::VComResult writeResult = VCOM::VCOM_OK;
};

} // namespace fuzzing
