// Address text, socket-address conversion and error translation.
#include "pbd/vsock/vsock.h"
#include "pbd/vsock/vsock_addr.h"
#include "pbd/vsock/vsock_errors.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

std::string parseHex(uint32_t family, const std::string& text)
{
    VSockAddress a;
    if (vsock_textToAddress(family, text.c_str(), &a) != VSOCK_OK)
        return "-";
    EXPECT_EQ(a.family, family);
    EXPECT_EQ(a.scopeId, 0u);
    return qtest::hex(a.addr, family == VSOCK_FAMILY_IPV4 ? 4 : 16);
}

std::string shown(uint32_t family, const std::string& text)
{
    VSockAddress a;
    if (vsock_textToAddress(family, text.c_str(), &a) != VSOCK_OK)
        return "-";
    char buf[VSOCK_ADDRESS_TEXT_MAX];
    EXPECT_EQ(vsock_addressToText(&a, buf, sizeof buf), VSOCK_OK);
    return buf;
}

// Parsing and printing against inet_pton and python's ipaddress. Where we
// differ on purpose, the expected difference is spelled out in the table.
TEST(VsockAddressText, AgreesWithReferenceParser)
{
    struct Case {
        const char* text;
        const char* v4Differs; // our IPv4 result where it differs from inet_pton
        const char* v6Differs; // our IPv6 bytes where they differ
        const char* shownDiffers; // our IPv6 text where it differs from ipaddress
    };
    const Case cases[] = {
        {"192.168.0.10", nullptr, nullptr, nullptr},
        {"0.0.0.0", nullptr, nullptr, nullptr},
        {"255.255.255.255", nullptr, nullptr, nullptr},
        {"01.2.3.4", nullptr, nullptr, nullptr},
        {"1.2.3.4.5", nullptr, nullptr, nullptr},
        {"1.2.3", nullptr, nullptr, nullptr},
        {"1.2.3.256", nullptr, nullptr, nullptr},
        {"1.2.3.4 ", nullptr, nullptr, nullptr},
        {" 1.2.3.4", nullptr, nullptr, nullptr},
        {"1.2.3.4x", nullptr, nullptr, nullptr},
        {"1..3.4", nullptr, nullptr, nullptr},
        {"1.2.3.0004", nullptr, nullptr, nullptr},
        {"", nullptr, nullptr, nullptr},
        {"::", nullptr, nullptr, nullptr},
        {"::1", nullptr, nullptr, nullptr},
        {"1::", nullptr, nullptr, nullptr},
        {"2001:db8:0:0:1:0:0:1", nullptr, nullptr, nullptr},
        {"2001:DB8::1:0:0:1", nullptr, nullptr, nullptr},
        {"fe80::1:2:3:4", nullptr, nullptr, nullptr},
        {"1:2:3:4:5:6:7:8", nullptr, nullptr, nullptr},
        {"1:2:3:4:5:6:7::", nullptr, nullptr, nullptr},
        {"::2:3:4:5:6:7:8", nullptr, nullptr, nullptr},
        {"1:0:0:2:0:0:0:3", nullptr, nullptr, nullptr},
        {"1:0:0:2:0:0:3:4", nullptr, nullptr, nullptr},
        {"0:0:1:0:0:0:0:0", nullptr, nullptr, nullptr},
        {"1:2:3:4:5:6:7:8:9", nullptr, nullptr, nullptr},
        {"1:2:3:4:5:6:7", nullptr, nullptr, nullptr},
        {"1::2::3", nullptr, nullptr, nullptr},
        {":::", nullptr, nullptr, nullptr},
        {":1::", nullptr, nullptr, nullptr},
        {"1:", nullptr, nullptr, nullptr},
        {"12345::", nullptr, nullptr, nullptr},
        {"g::", nullptr, nullptr, nullptr},
        {"::ffff:10.0.0.1", nullptr, nullptr, "::FFFF:10.0.0.1"},
        {"::FFFF:1.2.3.4", nullptr, nullptr, "::FFFF:1.2.3.4"},
        {"::1.2.3.4", nullptr, nullptr, nullptr},
        {"::ffff:01.2.3.4", nullptr, nullptr, nullptr},
        {"::ffff:1.2.3", nullptr, nullptr, nullptr},
        // An IPv4 tail is taken only after all-zero groups or a final FFFF.
        {"64:ff9b::1.2.3.4", nullptr, "-", "-"},
        {"1.2.3.4::", nullptr, nullptr, nullptr},
    };
    std::vector<std::string> args;
    for (const Case& c : cases)
        args.push_back(c.text);
    std::string out;
    std::string command = "python3 '" + qtest::peerPath("vsock_addr_ref.py") + "'";
    for (const std::string& a : args)
        command += " '" + a + "'";
    ASSERT_EQ(qtest::runCommand(command, &out), 0);
    std::istringstream lines(out);
    for (const Case& c : cases) {
        std::string v4, v6, text;
        ASSERT_TRUE(lines >> v4 >> v6 >> text) << c.text;
        SCOPED_TRACE(std::string("text '") + c.text + "'");
        EXPECT_EQ(parseHex(VSOCK_FAMILY_IPV4, c.text), c.v4Differs ? c.v4Differs : v4);
        EXPECT_EQ(parseHex(VSOCK_FAMILY_IPV6, c.text), c.v6Differs ? c.v6Differs : v6);
        EXPECT_EQ(shown(VSOCK_FAMILY_IPV6, c.text), c.shownDiffers ? c.shownDiffers : text);
        if (v4 != "-") {
            EXPECT_EQ(shown(VSOCK_FAMILY_IPV4, c.text), c.text);
        }
    }
}

TEST(VsockAddressText, ArgumentAndBufferErrors)
{
    VSockAddress a;
    char buf[64];
    EXPECT_EQ(vsock_textToAddress(5, "1.2.3.4", &a), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, nullptr, &a), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, "1.2.3.4", nullptr), VSOCK_E_PARAM);

    // A failed parse leaves the empty address, not a half-filled one.
    memset(&a, 0xAA, sizeof a);
    EXPECT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, "1.2.3.x", &a), VSOCK_E_FAIL);
    const VSockAddress empty{};
    EXPECT_EQ(memcmp(&a, &empty, sizeof a), 0);

    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, "192.168.100.200", &a), VSOCK_OK);
    EXPECT_EQ(vsock_addressToText(&a, buf, 0), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_addressToText(nullptr, buf, sizeof buf), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_addressToText(&a, nullptr, sizeof buf), VSOCK_E_PARAM);
    // 15 characters and the NUL: one byte less does not fit.
    EXPECT_EQ(vsock_addressToText(&a, buf, 15), VSOCK_E_FAIL);
    EXPECT_EQ(vsock_addressToText(&a, buf, 16), VSOCK_OK);
    EXPECT_STREQ(buf, "192.168.100.200");
    a.family = 5;
    EXPECT_EQ(vsock_addressToText(&a, buf, sizeof buf), VSOCK_E_PARAM);

    // The longest IPv6 text fits the advertised maximum.
    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV6, "1111:2222:3333:4444:5555:6666:7777:8888", &a), VSOCK_OK);
    char exact[VSOCK_ADDRESS_TEXT_MAX];
    EXPECT_EQ(vsock_addressToText(&a, exact, sizeof exact), VSOCK_OK);
}

TEST(VsockAddressText, SockaddrRoundTrip)
{
    VSockEndpoint e{};
    e.port = 0x1234;
    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, "10.1.2.3", &e.address), VSOCK_OK);
    sockaddr_storage sa;
    socklen_t len = 0;
    ASSERT_EQ(vsock_endpointToSockaddr(&e, &sa, &len), VSOCK_OK);
    ASSERT_EQ(len, sizeof(sockaddr_in));
    const auto* in = reinterpret_cast<const sockaddr_in*>(&sa);
    EXPECT_EQ(in->sin_family, AF_INET);
    EXPECT_EQ(in->sin_port, htons(0x1234));
    char text[INET_ADDRSTRLEN];
    EXPECT_STREQ(inet_ntop(AF_INET, &in->sin_addr, text, sizeof text), "10.1.2.3");
    VSockEndpoint back;
    ASSERT_EQ(vsock_sockaddrToEndpoint(reinterpret_cast<const sockaddr*>(&sa), len, &back), VSOCK_OK);
    EXPECT_EQ(memcmp(&back, &e, sizeof e), 0);

    e.port = 80;
    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV6, "fe80::1", &e.address), VSOCK_OK);
    e.address.scopeId = 7;
    ASSERT_EQ(vsock_endpointToSockaddr(&e, &sa, &len), VSOCK_OK);
    ASSERT_EQ(len, sizeof(sockaddr_in6));
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&sa);
    EXPECT_EQ(in6->sin6_family, AF_INET6);
    EXPECT_EQ(in6->sin6_scope_id, 7u);
    ASSERT_EQ(vsock_sockaddrToEndpoint(reinterpret_cast<const sockaddr*>(&sa), len, &back), VSOCK_OK);
    EXPECT_EQ(memcmp(&back, &e, sizeof e), 0);

    sockaddr_storage unix{};
    unix.ss_family = AF_UNIX;
    EXPECT_EQ(vsock_sockaddrToEndpoint(reinterpret_cast<const sockaddr*>(&unix), sizeof unix, &back), VSOCK_E_PARAM);
    // A short AF_INET address is not read past its length.
    sa.ss_family = AF_INET;
    EXPECT_EQ(vsock_sockaddrToEndpoint(reinterpret_cast<const sockaddr*>(&sa), 8, &back), VSOCK_E_PARAM);
    e.address.family = 0;
    EXPECT_EQ(vsock_endpointToSockaddr(&e, &sa, &len), VSOCK_E_PARAM);
}

TEST(VsockErrors, TranslationTable)
{
    struct Case {
        VSockCall call;
        int err;
        VSockResult code;
    };
    const Case cases[] = {
        {VSockCall::Socket, 0, VSOCK_OK},
        {VSockCall::Socket, EMFILE, VSOCK_E_RESOURCE},
        {VSockCall::Socket, EAFNOSUPPORT, VSOCK_E_PARAM},
        {VSockCall::Socket, ECONNREFUSED, VSOCK_E_SOCKET},
        {VSockCall::Bind, EADDRINUSE, VSOCK_E_OBJ},
        {VSockCall::Bind, EADDRNOTAVAIL, VSOCK_E_PARAM},
        {VSockCall::Bind, ENOBUFS, VSOCK_E_RESOURCE},
        {VSockCall::Bind, ETIMEDOUT, VSOCK_E_SOCKET},
        {VSockCall::Listen, EISCONN, VSOCK_E_OBJ},
        {VSockCall::Accept, EAGAIN, VSOCK_E_PENDING},
        {VSockCall::Accept, ECONNRESET, VSOCK_E_OBJ},
        {VSockCall::Connect, EINPROGRESS, VSOCK_E_PENDING},
        {VSockCall::Connect, ECONNREFUSED, VSOCK_E_OBJ},
        {VSockCall::Connect, ETIMEDOUT, VSOCK_E_TIMEOUT},
        {VSockCall::Connect, ENOBUFS, VSOCK_E_RESOURCE},
        // Connect alone turns unlisted errors into a bad argument.
        {VSockCall::Connect, EHOSTUNREACH, VSOCK_E_PARAM},
        {VSockCall::Connect, ENETUNREACH, VSOCK_E_PARAM},
        {VSockCall::Send, EPIPE, VSOCK_E_OBJ},
        {VSockCall::Send, ECONNRESET, VSOCK_E_OBJ},
        {VSockCall::Send, EAGAIN, VSOCK_E_PENDING},
        {VSockCall::Send, EMSGSIZE, VSOCK_E_PARAM},
        {VSockCall::Send, ENETUNREACH, VSOCK_E_SOCKET},
        {VSockCall::SendTo, ENETUNREACH, VSOCK_E_OBJ},
        {VSockCall::SendTo, EADDRNOTAVAIL, VSOCK_E_PARAM},
        {VSockCall::Recv, ECONNRESET, VSOCK_E_OBJ},
        {VSockCall::Recv, ENOBUFS, VSOCK_E_SOCKET},
        {VSockCall::RecvFrom, EMSGSIZE, VSOCK_E_PARAM},
        {VSockCall::RecvFrom, EWOULDBLOCK, VSOCK_E_PENDING},
        {VSockCall::Close, EBADF, VSOCK_E_PARAM},
        {VSockCall::Ioctl, ENOTSOCK, VSOCK_E_PARAM},
        {VSockCall::SetSockOpt, ENOPROTOOPT, VSOCK_E_PARAM},
        {VSockCall::SetSockOpt, EADDRINUSE, VSOCK_E_SOCKET},
        {VSockCall::GetSockOpt, ENETDOWN, VSOCK_E_OBJ},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vsock_translateError(c.call, c.err), c.code)
            << "call " << static_cast<int>(c.call) << " errno " << c.err;
}

} // namespace
