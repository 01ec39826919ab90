// Result codes of the Dante client library and their conversion from system
// error numbers. Every aud_ operation returns one of these codes: 0 is
// success, anything else a small positive number from the table below.
#pragma once

#include <cstddef>
#include <cstdint>

// X(code, NAME, "text"): the whole vocabulary, in code order.
#define AUD_ERRORS(X)                                                                                                  \
    X(0, SUCCESS, "success")                                                                                           \
    X(1, DONE, "operation done")                                                                                       \
    X(2, SYSTEM, "system-specific error")                                                                              \
    X(3, INVALIDPARAMETER, "invalid parameter")                                                                        \
    X(4, INVALIDDATA, "invalid data")                                                                                  \
    X(5, INVALIDSTATE, "invalid state")                                                                                \
    X(6, NOMEMORY, "out of memory")                                                                                    \
    X(7, INTERRUPTED, "interrupted")                                                                                   \
    X(8, TRUNCATED, "message truncated")                                                                               \
    X(9, NOTSUPPORTED, "operation not supported")                                                                      \
    X(10, TIMEDOUT, "operation timed out")                                                                             \
    X(11, NOTFOUND, "object or item not found")                                                                        \
    X(12, DNSSDFAIL, "DNS-SD system failed")                                                                           \
    X(13, RANGE, "data out of range")                                                                                  \
    X(14, POLICY, "administrative policy violation")                                                                   \
    X(15, VERSION, "unsupported version")                                                                              \
    X(16, ACCES, "access")                                                                                             \
    X(17, ADDRINUSE, "address in use")                                                                                 \
    X(18, ADDRNOTAVAIL, "address not available")                                                                       \
    X(19, AFNOSUPPORT, "address family not supported")                                                                 \
    X(20, ALREADY, "operation already in progress")                                                                    \
    X(21, BADF, "bad file")                                                                                            \
    X(22, CONNABORTED, "connection aborted")                                                                           \
    X(23, CONNREFUSED, "connection refused")                                                                           \
    X(24, CONNRESET, "connection reset")                                                                               \
    X(25, DESTADDRREQ, "destination address required")                                                                 \
    X(26, FAULT, "fault")                                                                                              \
    X(27, HOSTUNREACH, "host unreachable")                                                                             \
    X(28, INPROGRESS, "operation in progress")                                                                         \
    X(29, ISCONN, "socket already connected")                                                                          \
    X(30, MFILE, "too many open files")                                                                                \
    X(31, MSGSIZE, "message too long")                                                                                 \
    X(32, NETDOWN, "network down")                                                                                     \
    X(33, NETRESET, "network reset")                                                                                   \
    X(34, NETUNREACH, "network unreachable")                                                                           \
    X(35, NOBUFS, "no buffers")                                                                                        \
    X(36, NODATA, "no data")                                                                                           \
    X(37, NODEV, "no such device")                                                                                     \
    X(38, NOPROTOOPT, "protocol not available")                                                                        \
    X(39, NORECOVERY, "non-recoverable error")                                                                         \
    X(40, NOTCONN, "not connected")                                                                                    \
    X(41, NOTINITIALISED, "not initialised")                                                                           \
    X(42, NOTSOCK, "not a socket")                                                                                     \
    X(43, PROTONOSUPPORT, "unsupported protocol")                                                                      \
    X(44, PROTOTYPE, "wrong protocol type for socket")                                                                 \
    X(45, SHUTDOWN, "socket has shut down")                                                                            \
    X(46, SOCKTNOSUPPORT, "socket type not supported")                                                                 \
    X(47, TRYAGAIN, "try again")                                                                                       \
    X(48, NOTRUNNING, "not running")

#define AUD_ERROR_ENUM_ENTRY(code, name, text) AUD_##name = code,
enum aud_error : uint32_t { AUD_ERRORS(AUD_ERROR_ENUM_ENTRY) };
#undef AUD_ERROR_ENUM_ENTRY

// Highest code in the table.
constexpr uint32_t AUD_ERROR_MAX = AUD_NOTRUNNING;

// Name ("NOMEMORY") and text ("out of memory") of a code; null for a code
// outside the table.
const char* aud_error_name(uint32_t code);
const char* aud_error_text(uint32_t code);

// Converts a 32-bit Windows-style system code (Win32, Winsock, HRESULT), as
// peers and stored results may still carry them. Only 0 is SUCCESS; a row
// whose code is above 0xFFFF matches the whole value, the others match the
// low 16 bits (so 0x8007xxxx HRESULTs find their Win32 row). No match gives
// SYSTEM.
aud_error aud_error_from_system(uint32_t code);

// Converts an errno value (positive) or a getaddrinfo EAI_ code (negative):
// would-block and ETIMEDOUT give TIMEDOUT, EINTR INTERRUPTED, the socket
// errors their code of the same name, EINVAL INVALIDPARAMETER, ENOMEM
// NOMEMORY, ENOENT NOTFOUND, EACCES/EPERM ACCES, ENODEV NODEV, EAI_AGAIN
// TRYAGAIN, EAI_FAIL NORECOVERY, EAI_NONAME NODATA; 0 SUCCESS; else SYSTEM.
aud_error aud_error_from_errno(int err);

// aud_error_from_errno(errno), for the wrappers of failing system calls.
aud_error aud_error_last();

// Size of the buffer aud_strerror writes.
constexpr size_t AUD_STRERROR_SIZE = 513;

// Writes into buffer (AUD_STRERROR_SIZE bytes) and returns it: "success" for
// 0, "System error: : (0x0000)" for SYSTEM (no system number travels with
// it), else "<text>: (0x%04x=<NAME>)"; a code outside the table reads
// "unknown error: (0x%04x=UNKNOWN)".
const char* aud_strerror(uint32_t code, char* buffer);

// The system's message for an errno value, in a buffer owned by the calling
// thread that the next call overwrites; 0 gives "".
const char* aud_system_error_text(int err);
