// Result codes: the conversion tables and the texts.
#include "dante/support/aud_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <string>

namespace {

TEST(AudError, NamesAndTextsCoverTheWholeTable)
{
    EXPECT_STREQ(aud_error_name(0), "SUCCESS");
    EXPECT_STREQ(aud_error_text(0), "success");
    EXPECT_STREQ(aud_error_name(16), "ACCES");
    EXPECT_STREQ(aud_error_text(36), "no data");
    EXPECT_STREQ(aud_error_name(48), "NOTRUNNING");
    EXPECT_STREQ(aud_error_text(48), "not running");
    for (uint32_t code = 0; code <= AUD_ERROR_MAX; ++code) {
        EXPECT_NE(aud_error_name(code), nullptr) << code;
        EXPECT_NE(aud_error_text(code), nullptr) << code;
    }
    EXPECT_EQ(aud_error_name(49), nullptr);
    EXPECT_EQ(aud_error_text(0xFFFFFFFFu), nullptr);
}

TEST(AudError, FromSystemCode)
{
    const struct {
        uint32_t system;
        aud_error expected;
    } cases[] = {
        {0, AUD_SUCCESS},
        {10061, AUD_CONNREFUSED},
        {0x80070000u | 10061, AUD_CONNREFUSED}, // an HRESULT carries the code in its low 16 bits
        {12345, AUD_SYSTEM},
        {0x800706D9u, AUD_NOTRUNNING},
        {0x000006D9u, AUD_SYSTEM}, // only the whole value names the stopped service
        {0xE000020Bu, AUD_NOTFOUND},
        {10035, AUD_TIMEDOUT}, // would block
        {10060, AUD_TIMEDOUT},
        {87, AUD_INVALIDPARAMETER},
        {8, AUD_NOMEMORY},
        {31, AUD_NETUNREACH},
        {5010, AUD_ALREADY},
        {1060, AUD_NOTFOUND},
        {10093, AUD_NOTINITIALISED},
        {11002, AUD_TRYAGAIN},
        {11003, AUD_NORECOVERY},
        {11004, AUD_NODATA},
        // A zero low half is not success: only the value 0 is.
        {0x00010000u, AUD_SYSTEM},
        {0x80070000u, AUD_SYSTEM},
    };
    for (const auto& c : cases)
        EXPECT_EQ(aud_error_from_system(c.system), c.expected) << std::hex << c.system;
}

TEST(AudError, FromErrno)
{
    const struct {
        int err;
        aud_error expected;
    } cases[] = {
        {0, AUD_SUCCESS},
        {EAGAIN, AUD_TIMEDOUT},
        {EWOULDBLOCK, AUD_TIMEDOUT},
        {ETIMEDOUT, AUD_TIMEDOUT},
        {EINTR, AUD_INTERRUPTED},
        {ECONNREFUSED, AUD_CONNREFUSED},
        {ECONNRESET, AUD_CONNRESET},
        {EADDRINUSE, AUD_ADDRINUSE},
        {EADDRNOTAVAIL, AUD_ADDRNOTAVAIL},
        {EBADF, AUD_BADF},
        {EMSGSIZE, AUD_MSGSIZE},
        {ENETUNREACH, AUD_NETUNREACH},
        {ENOTSOCK, AUD_NOTSOCK},
        {ENOBUFS, AUD_NOBUFS},
        {EINVAL, AUD_INVALIDPARAMETER},
        {ENOMEM, AUD_NOMEMORY},
        {ENOENT, AUD_NOTFOUND},
        {EACCES, AUD_ACCES},
        {EPERM, AUD_ACCES},
        {ENODEV, AUD_NODEV},
        {EAI_AGAIN, AUD_TRYAGAIN},
        {EAI_FAIL, AUD_NORECOVERY},
        {EAI_NONAME, AUD_NODATA},
        {EIO, AUD_SYSTEM},
        {ENOSPC, AUD_SYSTEM},
    };
    for (const auto& c : cases)
        EXPECT_EQ(aud_error_from_errno(c.err), c.expected) << c.err;
    errno = ECONNREFUSED;
    EXPECT_EQ(aud_error_last(), AUD_CONNREFUSED);
}

TEST(AudError, StrerrorTexts)
{
    char buffer[AUD_STRERROR_SIZE];
    const struct {
        uint32_t code;
        const char* text;
    } cases[] = {
        {0, "success"},
        {6, "out of memory: (0x0006=NOMEMORY)"},
        {2, "System error: : (0x0000)"},
        {23, "connection refused: (0x0017=CONNREFUSED)"},
        {48, "not running: (0x0030=NOTRUNNING)"},
        {49, "unknown error: (0x0031=UNKNOWN)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(aud_strerror(c.code, buffer), buffer);
        EXPECT_STREQ(buffer, c.text) << c.code;
    }
}

TEST(AudError, SystemErrorText)
{
    EXPECT_STREQ(aud_system_error_text(0), "");
    EXPECT_EQ(std::string(aud_system_error_text(ECONNREFUSED)), std::string(strerror(ECONNREFUSED)));
}

} // namespace
