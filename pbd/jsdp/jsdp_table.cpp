// Merge and ageing of the service table.
#include "pbd/jsdp/jsdp_table.h"

#include <cstring>

namespace {

bool sameContent(const JsdpService& a, const JsdpService& b)
{
    return memcmp(a.tag, b.tag, 4) == 0 && a.flags == b.flags && a.addressKind == b.addressKind
        && jsdp_sameAddress(a.announcedAddress, b.announcedAddress) && memcmp(a.mac, b.mac, 6) == 0
        && a.serviceTypeLength == b.serviceTypeLength && memcmp(a.serviceType, b.serviceType, a.serviceTypeLength) == 0
        && a.payloadLength == b.payloadLength && memcmp(a.payload, b.payload, a.payloadLength) == 0;
}

void copyContent(JsdpService& to, const JsdpService& from)
{
    memcpy(to.tag, from.tag, 4);
    to.flags = from.flags;
    to.addressKind = from.addressKind;
    to.announcedAddress = from.announcedAddress;
    memcpy(to.mac, from.mac, 6);
    to.serviceTypeLength = from.serviceTypeLength;
    memset(to.serviceType, 0, sizeof to.serviceType);
    memcpy(to.serviceType, from.serviceType, from.serviceTypeLength);
    to.payloadLength = from.payloadLength;
    memset(to.payload, 0, sizeof to.payload);
    memcpy(to.payload, from.payload, from.payloadLength <= JSDP_MAX_PAYLOAD ? from.payloadLength : 0);
    to.localAddress = from.localAddress;
    to.senderAddress = from.senderAddress;
}

int findFree(const JsdpService* table, int count)
{
    for (int i = 0; i < count; ++i)
        if (!table[i].inUse)
            return i;
    // A record reported gone holds nothing a subscriber still waits for.
    for (int i = 0; i < count; ++i)
        if (!table[i].alive && !table[i].changed)
            return i;
    return -1;
}

} // namespace

bool jsdp_sameAddress(const VSockAddress& a, const VSockAddress& b)
{
    if (a.family != b.family)
        return false;
    if (a.family == VSOCK_FAMILY_IPV4)
        return memcmp(a.addr, b.addr, 4) == 0;
    if (a.family == VSOCK_FAMILY_IPV6)
        return memcmp(a.addr, b.addr, 16) == 0 && a.scopeId == b.scopeId;
    return false;
}

JsdpMerge jsdp_tableMerge(JsdpService* table, int count, const JsdpService& heard, uint32_t ageingMs)
{
    for (int i = 0; i < count; ++i) {
        JsdpService& r = table[i];
        if (!r.inUse || !jsdp_sameAddress(r.senderAddress, heard.senderAddress)
            || !jsdp_sameAddress(r.localAddress, heard.localAddress))
            continue;
        JsdpMerge result = JsdpMerge::Unchanged;
        if (!sameContent(r, heard)) {
            copyContent(r, heard);
            result = JsdpMerge::Changed;
        }
        if (!r.alive) {
            r.alive = 1;
            result = JsdpMerge::Changed;
        }
        if (result == JsdpMerge::Changed)
            r.changed = 1;
        oswrap_startTimer(&r.ageing, ageingMs);
        return result;
    }
    const int i = findFree(table, count);
    if (i < 0)
        return JsdpMerge::Full;
    JsdpService& r = table[i];
    copyContent(r, heard);
    r.alive = 1;
    r.inUse = 1;
    r.changed = 1;
    oswrap_clearTimer(&r.ageing);
    oswrap_startTimer(&r.ageing, ageingMs);
    return JsdpMerge::Changed;
}

bool jsdp_tableAge(JsdpService* table, int count)
{
    bool aged = false;
    for (int i = 0; i < count; ++i) {
        JsdpService& r = table[i];
        if (r.inUse && r.alive && oswrap_checkTimer(&r.ageing) == OSWRAP_TIMER_REACHED) {
            r.alive = 0;
            r.changed = 1;
            aged = true;
        }
    }
    return aged;
}

void jsdp_tableClear(JsdpService* table, int count)
{
    for (int i = 0; i < count; ++i) {
        table[i] = JsdpService{};
    }
}
