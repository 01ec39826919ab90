// Sequences of heartbeat records (known and unknown model codes, link
// lists, ids, unit states), ageing ticks, the update manager's joins and
// removals and what sessions tell the document, in any order, against one
// document per input. The tables stay bounded and no unit is ever in both.
// The run happens in a network namespace of its own (when it can be made):
// the sessions the document opens then fail at once and reach nothing.
#include "fuzz/fuzz_check.h"

#include "fwupdate/workgroup/wg_document.h"
#include "fwupdate/workgroup/wg_tables.h"

#include <QCoreApplication>

#include <sched.h>

namespace {

constexpr size_t kOpSize = 12;
constexpr size_t kMaxOps = 64;
constexpr uint64_t kIds[8] = {0x10000, 0x20000, 0x30000, 0x40000, 0x50000, 0x60000, 0x70000, 0x80000};
constexpr uint16_t kCodes[10] = {83, 1, 3, 2, 48, 16, 80, 81, 82, 99};

std::vector<WG::HeartbeatLink> links(uint8_t count, uint8_t states)
{
    std::vector<WG::HeartbeatLink> out;
    for (uint8_t i = 0; i < count % 4; ++i)
        out.push_back({static_cast<uint16_t>((states >> (2 * i)) & 7), 0, kIds[(states + i) % 8]});
    return out;
}

void check(WG::WorkgroupManagerDoc& doc)
{
    const auto joined = doc.snapshot(false);
    const auto seen = doc.snapshot(true);
    fuzzCheck(joined.size() <= 8 && seen.size() <= 8);
    for (const WG::WorkgroupMember& s : seen)
        for (const WG::WorkgroupMember& j : joined)
            fuzzCheck(s.deviceId != j.deviceId);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    unshare(CLONE_NEWNET);
    static QCoreApplication app(*argc, *argv);
    WG::sessionTimes().connectWaitMs = 1;
    WG::sessionTimes().disconnectWaitMs = 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WG::WorkgroupManagerDoc doc;
    for (size_t op = 0; op < kMaxOps && (op + 1) * kOpSize <= size; ++op) {
        const uint8_t* b = data + op * kOpSize;
        const uint64_t id = kIds[b[1] % 8];
        switch (b[0] % 16) {
        case 8:
            for (int i = 0; i <= b[2] % 40; ++i)
                doc.ageMembers();
            break;
        case 9:
            doc.joinMember(id, b[2] & 1, b[3]);
            break;
        case 10:
            doc.removeMember(id, b[2]);
            break;
        case 11:
            doc.detachSession(id);
            break;
        case 12:
            doc.dropSession(id);
            break;
        case 13:
            doc.closeSession(id, b[2] & 1);
            break;
        case 14:
            doc.setPendingLink(id, b[2] & 1);
            doc.markConnected(id);
            break;
        case 15:
            doc.recordError(id, b[2]);
            doc.expireErrors();
            break;
        default: {
            WG::HeartbeatInfo r;
            r.deviceId = id;
            r.mac = id >> 16;
            r.modelCode = kCodes[b[2] % 10];
            r.workgroupId = b[3] % 3 == 0 ? 0 : b[3] % 3 == 1 ? doc.ownWorkgroupId() : 0x0999000000010000ull;
            r.statusWord = static_cast<uint16_t>(b[4] | b[5] << 8);
            r.announcedWord = b[6];
            r.linksA = links(b[7], b[8]);
            r.linksB = links(b[7] >> 2, b[9]);
            r.deviceIdText = QString::fromLatin1(reinterpret_cast<const char*>(b + 10), 2);
            r.addressText = "::1";
            r.sessionPort = 9;
            doc.onHeartbeat(r);
            break;
        }
        }
        check(doc);
    }
    // Deletions the sessions asked for.
    QCoreApplication::processEvents();
    check(doc);
    return 0;
}
