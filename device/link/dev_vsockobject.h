// The holder of the socket layer: the program makes one before anything of
// the device link exists and destroys it last. It brings up the OS wrapper
// and then the socket service, and takes them down in the opposite order.
#pragma once

#include <cstdint>

namespace Quil {

class VSockObject {
public:
    VSockObject();
    // Stops the socket service, then shuts the OS wrapper down; only what
    // this object itself started.
    ~VSockObject();
    VSockObject(const VSockObject&) = delete;
    VSockObject& operator=(const VSockObject&) = delete;

    // Both started by this object. A second holder in the same process is
    // never ready: the OS wrapper refuses a second initialisation.
    bool isReady() const { return m_osWrapperOwned && m_serviceOwned; }
    int32_t osWrapperResult() const { return m_osWrapperResult; }
    int32_t serviceResult() const { return m_serviceResult; }

private:
    int32_t m_osWrapperResult = 0;
    int32_t m_serviceResult = 0;
    bool m_osWrapperOwned = false;
    bool m_serviceOwned = false;
};

} // namespace Quil
