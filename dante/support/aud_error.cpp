#include "dante/support/aud_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>

namespace {

struct ErrorEntry {
    const char* name;
    const char* text;
};

#define AUD_ERROR_TABLE_ENTRY(code, name, text) {#name, text},
constexpr ErrorEntry kErrors[] = {AUD_ERRORS(AUD_ERROR_TABLE_ENTRY)};
#undef AUD_ERROR_TABLE_ENTRY
static_assert(sizeof kErrors / sizeof kErrors[0] == AUD_ERROR_MAX + 1, "every code has its entry");

struct SystemRow {
    uint32_t system;
    aud_error code;
};

// Rows in match order: the first row that matches wins.
constexpr SystemRow kSystemRows[] = {
    {0, AUD_SUCCESS},
    {87, AUD_INVALIDPARAMETER},
    {10022, AUD_INVALIDPARAMETER},
    {123, AUD_INVALIDPARAMETER},
    {14, AUD_NOMEMORY},
    {8, AUD_NOMEMORY},
    {192, AUD_INTERRUPTED},
    {10004, AUD_INTERRUPTED},
    {10045, AUD_NOTSUPPORTED},
    {10060, AUD_TIMEDOUT},
    {10035, AUD_TIMEDOUT},
    {2, AUD_NOTFOUND},
    {3, AUD_NOTFOUND},
    {5, AUD_ACCES},
    {10013, AUD_ACCES},
    {10048, AUD_ADDRINUSE},
    {10049, AUD_ADDRNOTAVAIL},
    {10047, AUD_AFNOSUPPORT},
    {10037, AUD_ALREADY},
    {10053, AUD_CONNABORTED},
    {10061, AUD_CONNREFUSED},
    {10054, AUD_CONNRESET},
    {10039, AUD_DESTADDRREQ},
    {10014, AUD_FAULT},
    {10065, AUD_HOSTUNREACH},
    {10036, AUD_INPROGRESS},
    {10056, AUD_ISCONN},
    {10024, AUD_MFILE},
    {10040, AUD_MSGSIZE},
    {10050, AUD_NETDOWN},
    {10052, AUD_NETRESET},
    {10051, AUD_NETUNREACH},
    {67, AUD_NETUNREACH},
    {1232, AUD_NETUNREACH},
    {1231, AUD_NETUNREACH},
    {31, AUD_NETUNREACH},
    {10055, AUD_NOBUFS},
    {11004, AUD_NODATA},
    {10042, AUD_NOPROTOOPT},
    {11003, AUD_NORECOVERY},
    {10057, AUD_NOTCONN},
    {10093, AUD_NOTINITIALISED},
    {10038, AUD_NOTSOCK},
    {10043, AUD_PROTONOSUPPORT},
    {10041, AUD_PROTOTYPE},
    {10058, AUD_SHUTDOWN},
    {10044, AUD_SOCKTNOSUPPORT},
    {11002, AUD_TRYAGAIN},
    {5010, AUD_ALREADY},
    {1060, AUD_NOTFOUND},
    {0x800706D9u, AUD_NOTRUNNING},
    {0xE000020Bu, AUD_NOTFOUND},
};

bool rowMatches(uint32_t row, uint32_t value)
{
    // A low-16-bit match on row 0 would make any HRESULT with a zero code
    // field (0x80070000) look like success: success is the value 0 only.
    if (row == 0 || row > 0xFFFF)
        return value == row;
    return (value & 0xFFFF) == row;
}

struct ErrnoRow {
    int err;
    aud_error code;
};

// getaddrinfo codes are negative in glibc, so they share the table with errno.
static_assert(EAI_AGAIN < 0 && EAI_FAIL < 0 && EAI_NONAME < 0, "EAI_ codes are negative");

constexpr ErrnoRow kErrnoRows[] = {
    {0, AUD_SUCCESS},
    {EAGAIN, AUD_TIMEDOUT},
    {EWOULDBLOCK, AUD_TIMEDOUT},
    {ETIMEDOUT, AUD_TIMEDOUT},
    {EINTR, AUD_INTERRUPTED},
    {EINVAL, AUD_INVALIDPARAMETER},
    {ENOMEM, AUD_NOMEMORY},
    {ENOENT, AUD_NOTFOUND},
    {EACCES, AUD_ACCES},
    {EPERM, AUD_ACCES},
    {ENODEV, AUD_NODEV},
    {EOPNOTSUPP, AUD_NOTSUPPORTED},
    {EADDRINUSE, AUD_ADDRINUSE},
    {EADDRNOTAVAIL, AUD_ADDRNOTAVAIL},
    {EAFNOSUPPORT, AUD_AFNOSUPPORT},
    {EALREADY, AUD_ALREADY},
    {EBADF, AUD_BADF},
    {ECONNABORTED, AUD_CONNABORTED},
    {ECONNREFUSED, AUD_CONNREFUSED},
    {ECONNRESET, AUD_CONNRESET},
    {EDESTADDRREQ, AUD_DESTADDRREQ},
    {EFAULT, AUD_FAULT},
    {EHOSTUNREACH, AUD_HOSTUNREACH},
    {EINPROGRESS, AUD_INPROGRESS},
    {EISCONN, AUD_ISCONN},
    {EMFILE, AUD_MFILE},
    {EMSGSIZE, AUD_MSGSIZE},
    {ENETDOWN, AUD_NETDOWN},
    {ENETRESET, AUD_NETRESET},
    {ENETUNREACH, AUD_NETUNREACH},
    {ENOBUFS, AUD_NOBUFS},
    {ENOPROTOOPT, AUD_NOPROTOOPT},
    {ENOTCONN, AUD_NOTCONN},
    {ENOTSOCK, AUD_NOTSOCK},
    {EPROTONOSUPPORT, AUD_PROTONOSUPPORT},
    {EPROTOTYPE, AUD_PROTOTYPE},
    {ESHUTDOWN, AUD_SHUTDOWN},
    {ESOCKTNOSUPPORT, AUD_SOCKTNOSUPPORT},
    {EAI_AGAIN, AUD_TRYAGAIN},
    {EAI_FAIL, AUD_NORECOVERY},
    {EAI_NONAME, AUD_NODATA},
};

} // namespace

const char* aud_error_name(uint32_t code)
{
    return code <= AUD_ERROR_MAX ? kErrors[code].name : nullptr;
}

const char* aud_error_text(uint32_t code)
{
    return code <= AUD_ERROR_MAX ? kErrors[code].text : nullptr;
}

aud_error aud_error_from_system(uint32_t code)
{
    for (const SystemRow& row : kSystemRows) {
        if (rowMatches(row.system, code))
            return row.code;
    }
    return AUD_SYSTEM;
}

aud_error aud_error_from_errno(int err)
{
    for (const ErrnoRow& row : kErrnoRows) {
        if (row.err == err)
            return row.code;
    }
    return AUD_SYSTEM;
}

aud_error aud_error_last()
{
    return aud_error_from_errno(errno);
}

const char* aud_strerror(uint32_t code, char* buffer)
{
    if (!buffer)
        return "";
    if (code == AUD_SUCCESS)
        snprintf(buffer, AUD_STRERROR_SIZE, "%s", kErrors[AUD_SUCCESS].text);
    else if (code == AUD_SYSTEM)
        snprintf(buffer, AUD_STRERROR_SIZE, "System error: %s: (0x%04x)", "", 0u);
    else if (code <= AUD_ERROR_MAX)
        snprintf(buffer, AUD_STRERROR_SIZE, "%s: (0x%04x=%s)", kErrors[code].text, code, kErrors[code].name);
    else
        snprintf(buffer, AUD_STRERROR_SIZE, "unknown error: (0x%04x=UNKNOWN)", code);
    return buffer;
}

const char* aud_system_error_text(int err)
{
    thread_local char text[1024];
    text[0] = '\0';
    if (err == 0)
        return text;
    // GNU strerror_r may hand back a static text instead of filling ours.
    const char* message = strerror_r(err, text, sizeof text);
    if (message != text)
        snprintf(text, sizeof text, "%s", message);
    return text;
}
