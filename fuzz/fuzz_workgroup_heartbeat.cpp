// Arbitrary datagrams through the heartbeat parser, each in an exact-size
// copy so that a read past the datagram is caught. A record must keep its
// texts inside their fields and its link entries inside the datagram.
#include "fuzz/fuzz_check.h"

#include "fwupdate/workgroup/wg_heartbeat.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > WG::kHeartbeatBufferSize)
        return 0;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size + 1]);
    if (size)
        memcpy(copy.get(), data, size);
    static const uint8_t sender[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    WG::HeartbeatInfo r;
    const bool ok = WG::parseHeartbeat(copy.get(), size, sender, 3, &r);
    fuzzCheck(ok == (size >= WG::kHeartbeatMinLength && memcmp(data, "VWMP", 4) == 0));
    if (!ok)
        return 0;
    fuzzCheck(r.shortName.size() <= 16);
    fuzzCheck(r.deviceIdText.size() <= 32);
    fuzzCheck(r.addressText.size() == 39);
    fuzzCheck(156 + 12 * r.linksA.size() <= size || r.linksA.empty());
    fuzzCheck(r.linksB.empty() || 160 + 12 * (r.linksA.size() + r.linksB.size()) <= size);
    fuzzCheck(r.mac == r.deviceId >> 16);
    return 0;
}
