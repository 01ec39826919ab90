#include "pbd/vsock/vsock_addr.h"

#include "pbd/jlib/jlib_text.h"

#include <cstdio>
#include <cstring>
#include <netinet/in.h>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Strict dotted decimal: exactly four parts of 0..255, no leading zeros, no
// other characters. The text comes from users, so junk is refused rather than
// skipped.
bool parseIPv4(const char* text, size_t length, uint8_t out[4])
{
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= length || text[pos] != '.')
                return false;
            ++pos;
        }
        if (pos >= length || !isDigit(text[pos]))
            return false;
        if (text[pos] == '0' && pos + 1 < length && isDigit(text[pos + 1]))
            return false;
        unsigned value = 0;
        int digits = 0;
        while (pos < length && isDigit(text[pos])) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            if (++digits > 3 || value > 255)
                return false;
            ++pos;
        }
        out[part] = static_cast<uint8_t>(value);
    }
    return pos == length;
}

bool parseIPv6(const char* text, size_t length, uint8_t out[16])
{
    uint16_t head[8];
    uint16_t tail[8];
    int headCount = 0;
    int tailCount = 0;
    bool compressed = false;
    bool dottedTail = false;
    uint8_t v4[4] = {};
    size_t pos = 0;

    if (length >= 2 && text[0] == ':' && text[1] == ':') {
        compressed = true;
        pos = 2;
    } else if (length >= 1 && text[0] == ':') {
        return false;
    }
    while (pos < length) {
        // A group, or the dotted IPv4 tail.
        size_t end = pos;
        while (end < length && text[end] != ':')
            ++end;
        const size_t groupLength = end - pos;
        if (groupLength == 0)
            return false;
        const bool last = end == length;
        if (last && memchr(text + pos, '.', groupLength)) {
            if (!parseIPv4(text + pos, groupLength, v4))
                return false;
            dottedTail = true;
            pos = end;
            break;
        }
        if (groupLength > 4)
            return false;
        unsigned value = 0;
        for (size_t i = pos; i < end; ++i) {
            const int h = jlib_hexDigit(static_cast<unsigned char>(text[i]));
            if (h < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(h);
        }
        uint16_t* groups = compressed ? tail : head;
        int& count = compressed ? tailCount : headCount;
        if (headCount + tailCount >= 8)
            return false;
        groups[count++] = static_cast<uint16_t>(value);
        pos = end;
        if (pos == length)
            break;
        // At a ':'.
        if (pos + 1 < length && text[pos + 1] == ':') {
            if (compressed)
                return false;
            compressed = true;
            pos += 2;
        } else {
            ++pos;
            if (pos == length)
                return false; // a single trailing ':'
        }
    }

    const int groupSlots = dottedTail ? 6 : 8;
    const int used = headCount + tailCount;
    if (compressed ? used > groupSlots - 1 : used != groupSlots)
        return false;

    uint16_t groups[8] = {};
    for (int i = 0; i < headCount; ++i)
        groups[i] = head[i];
    for (int i = 0; i < tailCount; ++i)
        groups[groupSlots - tailCount + i] = tail[i];
    if (dottedTail) {
        // Only the IPv4-compatible (all zero) and IPv4-mapped (::FFFF) forms.
        for (int i = 0; i < 5; ++i) {
            if (groups[i] != 0)
                return false;
        }
        if (groups[5] != 0 && groups[5] != 0xFFFF)
            return false;
    }
    for (int i = 0; i < groupSlots; ++i) {
        out[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(groups[i] & 0xFF);
    }
    if (dottedTail)
        memcpy(out + 12, v4, 4);
    return true;
}

size_t formatIPv4(const uint8_t* a, char* buf)
{
    return static_cast<size_t>(sprintf(buf, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]));
}

size_t formatIPv6(const uint8_t* a, char* buf)
{
    uint16_t groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = static_cast<uint16_t>((a[2 * i] << 8) | a[2 * i + 1]);

    if (groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 && groups[4] == 0 && groups[5] == 0xFFFF) {
        const size_t n = static_cast<size_t>(sprintf(buf, "::FFFF:"));
        return n + formatIPv4(a + 12, buf + n);
    }

    int bestStart = -1;
    int bestLength = 1; // a run must be at least two groups
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }

    size_t n = 0;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            buf[n++] = ':';
            buf[n++] = ':';
            i += bestLength - 1;
            continue;
        }
        if (i > 0 && i != bestStart + bestLength)
            buf[n++] = ':';
        n += static_cast<size_t>(sprintf(buf + n, "%X", groups[i]));
    }
    buf[n] = '\0';
    return n;
}

} // namespace

VSockResult vsock_addressToText(const VSockAddress* address, char* text, size_t size)
{
    if (!address || !text || size == 0)
        return VSOCK_E_PARAM;
    char buf[64];
    size_t n;
    if (address->family == VSOCK_FAMILY_IPV4)
        n = formatIPv4(address->addr, buf);
    else if (address->family == VSOCK_FAMILY_IPV6)
        n = formatIPv6(address->addr, buf);
    else
        return VSOCK_E_PARAM;
    if (n + 1 > size)
        return VSOCK_E_FAIL;
    memcpy(text, buf, n + 1);
    return VSOCK_OK;
}

VSockResult vsock_textToAddress(uint32_t family, const char* text, VSockAddress* address)
{
    if (!text || !address)
        return VSOCK_E_PARAM;
    if (family != VSOCK_FAMILY_IPV4 && family != VSOCK_FAMILY_IPV6)
        return VSOCK_E_PARAM;
    memset(address, 0, sizeof *address);
    const size_t length = strlen(text);
    const bool ok
        = family == VSOCK_FAMILY_IPV4 ? parseIPv4(text, length, address->addr) : parseIPv6(text, length, address->addr);
    if (!ok) {
        memset(address, 0, sizeof *address);
        return VSOCK_E_FAIL;
    }
    address->family = family;
    return VSOCK_OK;
}

VSockResult vsock_endpointToSockaddr(const VSockEndpoint* endpoint, sockaddr_storage* out, socklen_t* length)
{
    if (!endpoint || !out || !length)
        return VSOCK_E_PARAM;
    memset(out, 0, sizeof *out);
    if (endpoint->address.family == VSOCK_FAMILY_IPV4) {
        auto* in = reinterpret_cast<sockaddr_in*>(out);
        in->sin_family = AF_INET;
        in->sin_port = htons(endpoint->port);
        memcpy(&in->sin_addr, endpoint->address.addr, 4);
        *length = sizeof(sockaddr_in);
        return VSOCK_OK;
    }
    if (endpoint->address.family == VSOCK_FAMILY_IPV6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(endpoint->port);
        memcpy(&in6->sin6_addr, endpoint->address.addr, 16);
        in6->sin6_scope_id = endpoint->address.scopeId;
        *length = sizeof(sockaddr_in6);
        return VSOCK_OK;
    }
    return VSOCK_E_PARAM;
}

VSockResult vsock_sockaddrToEndpoint(const sockaddr* address, socklen_t length, VSockEndpoint* out)
{
    if (!address || !out)
        return VSOCK_E_PARAM;
    memset(out, 0, sizeof *out);
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        sockaddr_in in;
        memcpy(&in, address, sizeof in);
        out->port = ntohs(in.sin_port);
        out->address.family = VSOCK_FAMILY_IPV4;
        memcpy(out->address.addr, &in.sin_addr, 4);
        return VSOCK_OK;
    }
    if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        sockaddr_in6 in6;
        memcpy(&in6, address, sizeof in6);
        out->port = ntohs(in6.sin6_port);
        out->address.family = VSOCK_FAMILY_IPV6;
        memcpy(out->address.addr, &in6.sin6_addr, 16);
        out->address.scopeId = in6.sin6_scope_id;
        return VSOCK_OK;
    }
    return VSOCK_E_PARAM;
}

bool vsock_addressIsEmpty(const VSockAddress* address)
{
    static const VSockAddress zero{};
    return memcmp(address->addr, zero.addr, sizeof zero.addr) == 0;
}
