// Arbitrary messages through both session dispatch tables, and arbitrary id
// texts through the member name rule. The first byte picks the session
// (management or interrupt) or the name rule; the rest is a sequence of
// messages, each a length byte and that many bytes, handed over in
// exact-size copies so that a read past a message is caught. The document
// is a stand-in over real tables, which must never grow.
#include "fuzz/fuzz_check.h"

#include "fwupdate/workgroup/wg_catalogue.h"
#include "fwupdate/workgroup/wg_session.h"
#include "fwupdate/workgroup/wg_tables.h"

#include <atomic>
#include <cstring>
#include <memory>

namespace {

class Document : public WG::SessionDocumentIF, public WG::MemberListsIF {
public:
    Document()
        : workgroup(&catalogue, this)
        , enumeration(&catalogue, this)
    {
    }
    void detachSession(uint64_t) override { ++calls; }
    void dropSession(uint64_t) override { ++calls; }
    void closeSession(uint64_t, bool) override { ++calls; }
    void openManagementSession(uint64_t) override { ++calls; }
    void startInterruptTask(uint64_t, int) override { ++calls; }
    void assignWorkgroupId(uint64_t, uint64_t) override { ++calls; }
    void recordError(uint64_t, uint32_t) override { ++calls; }
    void expireErrors() override { ++calls; }
    void setPendingLink(uint64_t, bool) override { ++calls; }
    void remoteCloseDone() override { ++calls; }
    void markConnected(uint64_t) override { ++calls; }
    WG::DocumentMutex& documentMutex() override { return mutex; }
    WG::WorkgroupData* workgroupTable() override { return &workgroup; }
    WG::EnumData* enumerationTable() override { return &enumeration; }
    uint64_t ownWorkgroupId() const override { return 0x0251000000010000ull; }
    bool enabled() const override { return true; }
    WG::Ipv6AdapterList* adapterList() override { return nullptr; }
    // No events: nothing would take them here.
    QObject* eventTarget() override { return nullptr; }
    const WG::MemberList& joinedMembers() const override { return workgroup.members(); }
    const WG::MemberList& discoveredMembers() const override { return enumeration.members(); }

    WG::ModelInfoList catalogue;
    WG::WorkgroupData workgroup;
    WG::EnumData enumeration;
    WG::DocumentMutex mutex;
    std::atomic<uint64_t> calls{0};
};

constexpr uint64_t kDevice = 0xa1b2c3d4e5f60000ull;

struct Bed {
    Bed()
    {
        // The session ids the messages most likely name.
        WG::WorkgroupMember m;
        m.deviceId = kDevice;
        m.modelType = 83;
        doc.workgroup.add(m, WG::AddAtPosition, false, 0);
        doc.enumeration.insertSorted(m);
        // Short waits, so that time-outs fire while the fuzzer runs.
        WG::sessionTimes().connectWaitMs = 1;
        WG::sessionTimes().disconnectWaitMs = 1;
        WG::sessionTimes().errorWaitMs = 1;
        management = std::make_unique<WG::WMSession>(&doc, kDevice, 83, 256, WG::SessionMode::Management);
        interrupt = std::make_unique<WG::WMSession>(&doc, kDevice, 83, 256, WG::SessionMode::Interrupt);
    }
    Document doc;
    std::unique_ptr<WG::WMSession> management;
    std::unique_ptr<WG::WMSession> interrupt;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t pick = data[0] % 3;
    ++data;
    --size;
    if (pick == 2) {
        const QString id = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
        const QString shown = WG::memberDisplayName(id);
        fuzzCheck(shown == id || (shown.endsWith(QLatin1Char(')')) && shown.size() <= id.size()));
        return 0;
    }
    static Bed* bed = new Bed;
    WG::WMSession* session = pick == 0 ? bed->management.get() : bed->interrupt.get();
    size_t pos = 0;
    while (pos < size) {
        const size_t length = data[pos++];
        const size_t take = length < size - pos ? length : size - pos;
        std::unique_ptr<uint8_t[]> copy(new uint8_t[take ? take : 1]);
        if (take)
            memcpy(copy.get(), data + pos, take);
        session->receive(copy.get(), static_cast<uint32_t>(take));
        pos += take;
    }
    std::lock_guard<WG::DocumentMutex> guard(bed->doc.mutex);
    fuzzCheck(bed->doc.workgroup.members().size() <= 1);
    fuzzCheck(bed->doc.enumeration.members().size() <= 1);
    return 0;
}
