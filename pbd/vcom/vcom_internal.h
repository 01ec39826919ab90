// Helpers shared by the socket class sources.
#pragma once

#include "vcom/vcom.h"

namespace VCOM {

template <class Fill> void VComAbstractSocket::record(uint8_t flag, Fill fill)
{
    std::lock_guard<std::mutex> guard(socketLock());
    m_pending.flags |= flag;
    fill(m_pending);
    if (m_wakeup)
        m_wakeup->wakeup(m_ownerTask, this);
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
