#include "device/link/dev_vsockobject.h"

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"

namespace Quil {

VSockObject::VSockObject()
{
    m_osWrapperResult = oswrap_init();
    m_osWrapperOwned = m_osWrapperResult >= 0;
    if (!m_osWrapperOwned) {
        // Someone else holds the platform; starting the service on top of it
        // would leave us stopping what we do not own.
        m_serviceResult = m_osWrapperResult;
        return;
    }
    m_serviceResult = vsock_init();
    m_serviceOwned = m_serviceResult >= 0;
}

VSockObject::~VSockObject()
{
    if (m_serviceOwned)
        vsock_term();
    if (m_osWrapperOwned)
        oswrap_shutdown();
}

} // namespace Quil
