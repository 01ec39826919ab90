// The JSDP packet: big-endian, "JSDP" tag, length, flags, address kind,
// 16-byte address, MAC, service type and payload.
#include "pbd/jsdp/jsdp.h"

#include "pbd/jlib/jlib_bytes.h"

#include <cstring>

namespace {

constexpr uint8_t kTag[4] = {'J', 'S', 'D', 'P'};
constexpr size_t kAddressOffset = 8;
constexpr size_t kMacOffset = 24;
constexpr size_t kTypeLengthOffset = 30;
constexpr size_t kTypeOffset = 31;

} // namespace

JsdpResult jsdp_buildPacket(const JsdpChannelConfig* channel, uint8_t* buffer, size_t size, size_t* length)
{
    if (!channel || !buffer || !length)
        return JSDP_E_PARAM;
    const size_t n = channel->serviceTypeLength;
    const size_t m = channel->payloadLength;
    if (m > JSDP_MAX_PAYLOAD || (n > 0 && !channel->serviceType) || (m > 0 && !channel->payload))
        return JSDP_E_PARAM;
    const size_t total = JSDP_HEADER_SIZE + n + m;
    if (total > size)
        return JSDP_E_FULL;

    memset(buffer, 0, total);
    memcpy(buffer, kTag, sizeof kTag);
    jlib_store16be(buffer + 4, static_cast<uint16_t>(total - 6));
    buffer[6] = channel->mode ? 0 : JSDP_FLAG_RESPONDER;
    buffer[7] = channel->addressKind;
    const size_t addressBytes = channel->addressKind == JSDP_ADDRESS_KIND_IPV6 ? 16 : 4;
    memcpy(buffer + kAddressOffset, channel->ownAddress.addr, addressBytes);
    memcpy(buffer + kMacOffset, channel->ownMac, 6);
    buffer[kTypeLengthOffset] = static_cast<uint8_t>(n);
    if (n > 0)
        memcpy(buffer + kTypeOffset, channel->serviceType, n);
    jlib_store16be(buffer + kTypeOffset + n, static_cast<uint16_t>(m));
    if (m > 0)
        memcpy(buffer + kTypeOffset + n + 2, channel->payload, m);
    *length = total;
    return JSDP_OK;
}

JsdpResult jsdp_parsePacket(const uint8_t* data, size_t length, JsdpService* service)
{
    if (!data || !service)
        return JSDP_E_PARAM;
    if (length < JSDP_MIN_PACKET || length > JSDP_MAX_PACKET)
        return JSDP_E_MALFORMED;
    if (memcmp(data, kTag, sizeof kTag) != 0)
        return JSDP_E_MALFORMED;
    if (jlib_load16be(data + 4) != length - 6)
        return JSDP_E_MALFORMED;
    const size_t n = data[kTypeLengthOffset];
    // The payload length field must lie inside the datagram.
    if (kTypeOffset + n + 2 > length)
        return JSDP_E_MALFORMED;
    const size_t m = jlib_load16be(data + kTypeOffset + n);
    if (m > JSDP_MAX_PAYLOAD || kTypeOffset + n + 2 + m > length)
        return JSDP_E_MALFORMED;

    memcpy(service->tag, data, 4);
    service->flags = data[6];
    service->addressKind = data[7];
    VSockAddress& announced = service->announcedAddress;
    memset(&announced, 0, sizeof announced);
    if (service->addressKind == JSDP_ADDRESS_KIND_IPV6) {
        announced.family = VSOCK_FAMILY_IPV6;
        memcpy(announced.addr, data + kAddressOffset, 16);
    } else {
        announced.family = VSOCK_FAMILY_IPV4;
        memcpy(announced.addr, data + kAddressOffset, 4);
    }
    memcpy(service->mac, data + kMacOffset, 6);
    service->serviceTypeLength = static_cast<uint8_t>(n);
    memset(service->serviceType, 0, sizeof service->serviceType);
    memcpy(service->serviceType, data + kTypeOffset, n);
    service->payloadLength = static_cast<uint16_t>(m);
    memset(service->payload, 0, sizeof service->payload);
    memcpy(service->payload, data + kTypeOffset + n + 2, m);
    return JSDP_OK;
}
