#include "dante/support/aud_inet.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

namespace {

bool isIpv4(const aud_sockaddr* record)
{
    return record && record->addr.sa.sa_family == AF_INET;
}

} // namespace

aud_error aud_inet_aton(const char* text, uint32_t* out)
{
    if (!text || !out)
        return AUD_INVALIDPARAMETER;
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1)
        return AUD_INVALIDPARAMETER;
    *out = a.s_addr;
    return AUD_SUCCESS;
}

const char* aud_inet_ntoa(uint32_t address, char* buffer, size_t size)
{
    if (!buffer)
        return nullptr;
    const auto* b = reinterpret_cast<const uint8_t*>(&address);
    char text[AUD_INET_TEXT_SIZE];
    const int n = snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    if (n < 0 || size_t(n) >= size)
        return nullptr;
    memcpy(buffer, text, size_t(n) + 1);
    return buffer;
}

bool aud_addr_is_multicast(uint32_t address)
{
    return (ntohl(address) & 0xF0000000u) == 0xE0000000u;
}

bool aud_sockaddr_is_multicast(const aud_sockaddr* record)
{
    return isIpv4(record) && aud_addr_is_multicast(record->addr.in.sin_addr.s_addr);
}

aud_error aud_sockaddr_set(aud_sockaddr* record, uint32_t address, uint16_t port)
{
    if (!record)
        return AUD_INVALIDPARAMETER;
    memset(record, 0, sizeof *record);
    record->len = sizeof(sockaddr_in);
    record->addr.in.sin_family = AF_INET;
    record->addr.in.sin_port = htons(port);
    record->addr.in.sin_addr.s_addr = address;
    return AUD_SUCCESS;
}

aud_error aud_sockaddr_any(aud_sockaddr* record, int family, uint16_t port)
{
    if (!record || family == 0)
        return AUD_INVALIDPARAMETER;
    if (family != AF_INET)
        return AUD_NOTSUPPORTED;
    return aud_sockaddr_set(record, htonl(INADDR_ANY), port);
}

aud_error aud_sockaddr_from_text(aud_sockaddr* record, int family, const char* text, uint16_t port)
{
    const aud_error e = aud_sockaddr_any(record, family, port);
    if (e != AUD_SUCCESS)
        return e;
    uint32_t address = 0;
    if (aud_inet_aton(text, &address) != AUD_SUCCESS)
        return AUD_INVALIDPARAMETER;
    record->addr.in.sin_addr.s_addr = address;
    return AUD_SUCCESS;
}

uint16_t aud_sockaddr_port(const aud_sockaddr* record)
{
    return isIpv4(record) ? ntohs(record->addr.in.sin_port) : 0;
}

aud_error aud_sockaddr_set_port(aud_sockaddr* record, uint16_t port)
{
    if (!record)
        return AUD_INVALIDPARAMETER;
    if (!isIpv4(record))
        return AUD_AFNOSUPPORT;
    record->addr.in.sin_port = htons(port);
    return AUD_SUCCESS;
}

uint32_t aud_sockaddr_address(const aud_sockaddr* record)
{
    return isIpv4(record) ? record->addr.in.sin_addr.s_addr : 0;
}

bool aud_sockaddr_equal(const aud_sockaddr* a, const aud_sockaddr* b)
{
    if (!a || !b || a->addr.sa.sa_family == 0 || b->addr.sa.sa_family == 0)
        return false;
    if (a->len != b->len || a->len > sizeof a->addr)
        return false;
    return memcmp(&a->addr, &b->addr, a->len) == 0;
}

const char* aud_sockaddr_text(const aud_sockaddr* record, char* buffer, size_t size)
{
    if (!buffer || size == 0)
        return buffer;
    buffer[0] = '\0';
    char address[AUD_INET_TEXT_SIZE];
    if (!isIpv4(record) || !aud_inet_ntoa(record->addr.in.sin_addr.s_addr, address, sizeof address))
        return buffer;
    const int n
        = snprintf(buffer, size, "%s:%u (len=%u)", address, unsigned(aud_sockaddr_port(record)), unsigned(record->len));
    if (n < 0 || size_t(n) >= size)
        buffer[0] = '\0';
    return buffer;
}
