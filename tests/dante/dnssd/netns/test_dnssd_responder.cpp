// The querier against the independent responder in the peer namespace:
// browse, resolve, arrival index, goodbye, expiry, reconfirm, split answers,
// malformed packets and the per-reference queue bound.
#include "tests/dante/dnssd/netns/dnssd_pump.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <net/if.h>
#include <string>
#include <thread>

namespace {

using dnssdtest::has;
using dnssdtest::pumpUntil;
using dnssdtest::Seen;
using qtest::NetnsBed;

const char* kType = "_netaudio-arc._udp.";

struct Responder {
    explicit Responder(const NetnsBed& bed, std::vector<std::string> extra = {})
        : process(bed.inPeer(qtest::pythonPeer("mdns_responder.py", args(std::move(extra)))), true)
    {
        // An interpreter can take seconds to start on a loaded machine.
        std::string line;
        for (int i = 0; i < 20 && process.readLine(&line, 30000); ++i)
            if (line.rfind("ready", 0) == 0) {
                ready = true;
                break;
            }
    }
    static std::vector<std::string> args(std::vector<std::string> extra)
    {
        std::vector<std::string> a{"--interface", NetnsBed::kPeerInterface, "--service",
            "_netaudio-arc._udp/Dev.A/4440/devhost/198.18.0.2/router_info=x;mf=_0001", "--lifetime", "120"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    qtest::ChildProcess process;
    bool ready = false;
};

struct ResponderRef {
    DNSServiceRef ref = nullptr;
    ~ResponderRef() { DNSServiceRefDeallocate(ref); }
};

TEST(DnssdResponder, BrowseResolveAndGoodbyeWithTheArrivalIndex)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    Responder peer(bed);
    ASSERT_TRUE(peer.ready);
    const uint32_t veth = if_nametoindex(NetnsBed::kLocalInterface);

    std::vector<Seen> browsed;
    ResponderRef browse;
    ASSERT_EQ(DNSServiceBrowse(&browse.ref, 0, 0, kType, "local", dnssdtest::onBrowse, &browsed), DNSSD_OK);
    ASSERT_NE(browse.ref, nullptr);
    ASSERT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Dev.A", true); }, 8000));
    EXPECT_EQ(browsed[0].index, veth);

    std::vector<Seen> resolved;
    ResponderRef resolve;
    ASSERT_EQ(
        DNSServiceResolve(&resolve.ref, 0, veth, "Dev.A", kType, "local", dnssdtest::onResolve, &resolved), DNSSD_OK);
    ASSERT_TRUE(pumpUntil(
        resolve.ref, [&] { return !resolved.empty(); }, 8000));
    EXPECT_EQ(resolved[0].name, "Dev\\.A._netaudio-arc._udp.local.");
    EXPECT_EQ(resolved[0].target, "devhost.local.");
    EXPECT_EQ(resolved[0].port, 4440);
    EXPECT_EQ(resolved[0].index, veth);
    uint8_t length = 0;
    const void* mf
        = TXTRecordGetValuePtr(static_cast<uint16_t>(resolved[0].txt.size()), resolved[0].txt.data(), "MF", &length);
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(mf), length), "_0001");

    // One callback per resolve; nothing else waits on its descriptor.
    pollfd p{DNSServiceRefSockFD(resolve.ref), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 300), 0);

    ASSERT_TRUE(peer.process.writeLine("goodbye Dev.A"));
    EXPECT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Dev.A", false); }, 5000));
}

TEST(DnssdResponder, SilentRecordsExpireAndReconfirmFlushes)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    constexpr int kTtlMs = 5000;
    Responder peer(bed,
        {"--knob", "ttl=" + std::to_string(kTtlMs / 1000), "--service",
            "_netaudio-arc._udp/Dev.B/4441/hostb/198.18.0.2"});
    ASSERT_TRUE(peer.ready);
    std::vector<Seen> browsed;
    ResponderRef browse;
    ASSERT_EQ(DNSServiceBrowse(&browse.ref, 0, 0, kType, nullptr, dnssdtest::onBrowse, &browsed), DNSSD_OK);
    ASSERT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Dev.A", true) && has(browsed, "Dev.B", true); }, 8000));

    // From now on the responder answers no query. The knob travels through
    // the peer's input: wait for the peer to say it took it.
    ASSERT_TRUE(peer.process.writeLine("set answer none"));
    bool knobSet = false;
    std::string line;
    for (int i = 0; i < 2000 && !knobSet && peer.process.readLine(&line, 5000); ++i)
        knobSet = line.rfind("SET", 0) == 0;
    ASSERT_TRUE(knobSet);
    // One last announcement gives Dev.A and Dev.B the same fresh TTL, however
    // long ago the last answer went; answers sent before the knob may still
    // be on their way. Dev.C is announced after them, so once it is seen
    // every earlier packet has been taken in: none can refresh Dev.B after
    // its reconfirmation.
    ASSERT_TRUE(peer.process.writeLine("announce"));
    ASSERT_TRUE(peer.process.writeLine("add _netaudio-arc._udp/Dev.C/4442/hostc/198.18.0.2"));
    ASSERT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Dev.C", true); }, 8000));

    // Dev.B is reconfirmed and goes before its TTL ends: Dev.A, refreshed
    // just before it, is still there. Dev.A goes when its TTL ends.
    dnssd_set_reconfirm_time(500);
    char full[DNSSD_MAX_DOMAIN_NAME];
    ASSERT_EQ(DNSServiceConstructFullName(full, "Dev.B", kType, "local."), DNSSD_OK);
    ASSERT_EQ(
        DNSServiceReconfirmRecord(0, if_nametoindex(NetnsBed::kLocalInterface), full, 12, 1, 0, nullptr), DNSSD_OK);
    ASSERT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Dev.B", false); }, kTtlMs / 2));
    EXPECT_FALSE(has(browsed, "Dev.A", false));
    EXPECT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Dev.A", false); }, 2 * kTtlMs));
    dnssd_set_reconfirm_time(3000);
}

TEST(DnssdResponder, SplitAnswersAndMalformedPacketsStillResolve)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    Responder peer(bed, {"--knob", "split=1", "--knob", "split_order=ptr,srv,a,txt", "--knob", "split_delay=0.2"});
    ASSERT_TRUE(peer.ready);
    for (const char* kind : {"loop", "forward", "label64", "rdlength", "cut", "longname", "badtxt"})
        ASSERT_TRUE(peer.process.writeLine(std::string("malformed ") + kind));
    std::vector<Seen> resolved;
    ResponderRef resolve;
    ASSERT_EQ(
        DNSServiceResolve(&resolve.ref, 0, 0, "Dev.A", kType, "local", dnssdtest::onResolve, &resolved), DNSSD_OK);
    ASSERT_TRUE(pumpUntil(
        resolve.ref, [&] { return !resolved.empty(); }, 8000));
    EXPECT_EQ(resolved[0].port, 4440);
    EXPECT_TRUE(
        TXTRecordContainsKey(static_cast<uint16_t>(resolved[0].txt.size()), resolved[0].txt.data(), "router_info"));
    pollfd p{DNSServiceRefSockFD(resolve.ref), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 600), 0) << "the late TXT packet must not give a second callback";
}

TEST(DnssdResponder, AnUnpolledReferenceKeepsTheNewestResults)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    Responder peer(bed);
    ASSERT_TRUE(peer.ready);
    std::vector<Seen> browsed;
    ResponderRef browse;
    ASSERT_EQ(DNSServiceBrowse(&browse.ref, 0, 0, kType, "local", dnssdtest::onBrowse, &browsed), DNSSD_OK);
    // A small queue, so that the flood overfills it even when a loaded
    // (or sanitized) machine loses some of the datagrams; the reference is
    // not polled while they arrive.
    constexpr size_t kQueue = 64;
    dnssd_set_queue_max(kQueue);
    ASSERT_TRUE(peer.process.writeLine("flood 300 _netaudio-arc._udp"));
    ASSERT_TRUE(qtest::waitFor([&] { return dnssd_dropped_results(browse.ref) > 0; }, 20000));
    // Let the flood end: the count stands still for half a second.
    for (int i = 0, last = -1; i < 100; ++i) {
        const int now = static_cast<int>(dnssd_dropped_results(browse.ref));
        if (now == last)
            break;
        last = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    size_t processed = 0;
    pollfd p{DNSServiceRefSockFD(browse.ref), POLLIN, 0};
    while (processed < 2000 && poll(&p, 1, 0) == 1 && DNSServiceProcessResult(browse.ref) == DNSSD_OK)
        ++processed;
    EXPECT_EQ(processed, kQueue);
    EXPECT_EQ(DNSServiceProcessResult(browse.ref), DNSSD_ERR_BAD_STATE);
    dnssd_set_queue_max(DNSSD_QUEUE_MAX);
}

} // namespace
