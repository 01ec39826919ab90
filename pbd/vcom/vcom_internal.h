// Helpers shared by the socket class sources.
#pragma once

#include "pbd/vcom/vcom.h"

namespace VCOM {

template <class Fill> void VComAbstractSocket::record(uint8_t flag, Fill fill)
{
    IVComWakeupFunction* wakeup = nullptr;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        m_pending.flags |= flag;
        fill(m_pending);
        wakeup = m_wakeup;
        if (wakeup)
            ++m_wakesRunning;
    }
    // Outside "SEM_SOCK": the owner's wake-up takes its own lock, and a thread
    // holding that lock may be calling into this socket.
    if (wakeup)
        runWakeup(wakeup);
}

// Event options every socket opens with: delivery through the mapper.
inline VSockEventOptions vcom_eventOptions()
{
    VSockEventOptions options{};
    options.flags = VSOCK_EVF_DELIVER;
    options.handler = &VComSocketMapper::eventFunction;
    options.context = nullptr;
    return options;
}

} // namespace VCOM
