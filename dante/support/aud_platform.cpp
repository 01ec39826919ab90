#include "dante/support/aud_platform.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/utsname.h>
#include <unistd.h>

aud_error aud_platform_start()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    srand(unsigned(now.tv_sec) ^ unsigned(now.tv_nsec) ^ unsigned(getpid()));
    return AUD_SUCCESS;
}

aud_error aud_os_release(uint32_t* major, uint32_t* minor)
{
    if (!major || !minor)
        return AUD_INVALIDPARAMETER;
    utsname name{};
    if (uname(&name) != 0)
        return aud_error_last();
    unsigned a = 0, b = 0;
    if (sscanf(name.release, "%u.%u", &a, &b) != 2)
        return AUD_INVALIDDATA;
    *major = a & 0xFF;
    *minor = b & 0xFF;
    return AUD_SUCCESS;
}

aud_error aud_process_id(uint32_t* out)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    *out = uint32_t(getpid());
    return AUD_SUCCESS;
}
