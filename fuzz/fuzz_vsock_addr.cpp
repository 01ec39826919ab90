// Address text parsing and printing, differential against inet_pton.
#include "pbd/vsock/vsock.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool ok)
{
    if (!ok)
        abort();
}

void roundTrip(const VSockAddress& a, int af, size_t n)
{
    char text[VSOCK_ADDRESS_TEXT_MAX];
    check(vsock_addressToText(&a, text, sizeof text) == VSOCK_OK);
    VSockAddress back;
    check(vsock_textToAddress(a.family, text, &back) == VSOCK_OK);
    check(memcmp(back.addr, a.addr, n) == 0);
    unsigned char ref[16];
    check(inet_pton(af, text, ref) == 1);
    check(memcmp(ref, a.addr, n) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 64)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos)
        return 0;

    VSockAddress ours;
    unsigned char ref[16];

    // IPv4: the same texts as inet_pton, with the same bytes.
    const bool ok4 = vsock_textToAddress(VSOCK_FAMILY_IPV4, text.c_str(), &ours) == VSOCK_OK;
    const bool ref4 = inet_pton(AF_INET, text.c_str(), ref) == 1;
    check(ok4 == ref4);
    if (ok4) {
        check(memcmp(ours.addr, ref, 4) == 0);
        roundTrip(ours, AF_INET, 4);
    }

    // IPv6: whatever we accept, inet_pton reads the same; we refuse only an
    // IPv4 tail after groups that are not all zero (or zero and FFFF).
    const bool ok6 = vsock_textToAddress(VSOCK_FAMILY_IPV6, text.c_str(), &ours) == VSOCK_OK;
    const bool ref6 = inet_pton(AF_INET6, text.c_str(), ref) == 1;
    if (ok6) {
        check(ref6);
        check(memcmp(ours.addr, ref, 16) == 0);
        roundTrip(ours, AF_INET6, 16);
    } else if (ref6) {
        check(text.find('.') != std::string::npos);
    }

    // Printing any 16 bytes gives text that reads back the same.
    if (size >= 16) {
        VSockAddress any{};
        any.family = VSOCK_FAMILY_IPV6;
        memcpy(any.addr, data, 16);
        roundTrip(any, AF_INET6, 16);
    }
    return 0;
}
