// Feeds arbitrary datagrams through the packet parser into the service
// table, with ageing on a simulated clock. Checks: no read outside a
// datagram (the sanitizers watch), a parsed packet's fields lie inside it,
// and the table never holds an alive record that is not in use, whatever
// the order of packets, silences and reports.
//
// Input: a series of steps. Step byte s: s % 4 == 3 advances the clock by
// (s / 4) * 100 ms and ages the table; s % 4 == 2 marks everything reported;
// otherwise the next byte is a datagram length (times 8, cut at the input's
// end) and s / 4 picks the sender among 64.
#include "pbd/jsdp/jsdp_table.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

uint32_t g_now = 0;
uint32_t fakeTick()
{
    return g_now;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    oswrap_setTickSource(fakeTick);
    g_now = 0;
    static auto* table = new JsdpService[JSDP_MAX_SERVICES];
    jsdp_tableClear(table, JSDP_MAX_SERVICES);
    static JsdpService heard;

    size_t pos = 0;
    for (int steps = 0; pos < size && steps < 4096; ++steps) {
        const uint8_t step = data[pos++];
        if (step % 4 == 3) {
            g_now += (step / 4) * 100u;
            jsdp_tableAge(table, JSDP_MAX_SERVICES);
            continue;
        }
        if (step % 4 == 2) {
            for (int i = 0; i < JSDP_MAX_SERVICES; ++i)
                table[i].changed = 0;
            continue;
        }
        if (pos >= size)
            break;
        size_t length = static_cast<size_t>(data[pos++]) * 8;
        if (length > size - pos)
            length = size - pos;
        // Exact-size copy so that any read past the datagram is caught.
        std::vector<uint8_t> datagram(data + pos, data + pos + length);
        pos += length;
        if (jsdp_parsePacket(datagram.data(), datagram.size(), &heard) != JSDP_OK)
            continue;
        if (heard.payloadLength > JSDP_MAX_PAYLOAD
            || JSDP_HEADER_SIZE + heard.serviceTypeLength + heard.payloadLength > datagram.size())
            std::abort();
        heard.localAddress = VSockAddress{VSOCK_FAMILY_IPV4, {10, 0, 0, 1}, 0};
        heard.senderAddress = VSockAddress{VSOCK_FAMILY_IPV4, {10, 0, 1, static_cast<uint8_t>(step / 4)}, 0};
        jsdp_tableMerge(table, JSDP_MAX_SERVICES, heard, 6000);
    }
    for (int i = 0; i < JSDP_MAX_SERVICES; ++i)
        if (table[i].alive && !table[i].inUse)
            std::abort();
    oswrap_setTickSource(nullptr);
    return 0;
}
