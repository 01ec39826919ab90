// A network test bed inside network namespaces that the test creates itself,
// so that datagram, broadcast and multicast tests never reach a real network.
//
// Use in a test body:
//
//     TEST(Suite, Name) {
//         QTEST_IN_NETNS();            // re-runs this test inside a fresh namespace
//         qtest::NetnsBed bed;         // veth pair to a peer namespace
//         ASSERT_TRUE(bed.ready()) << bed.error();
//         ... open sockets on NetnsBed::kLocalAddress ...
//         qtest::ChildProcess peer(bed.inPeer(qtest::pythonPeer("x.py", {...})));
//     }
//
// QTEST_IN_NETNS() re-executes the test program for this one test in a child
// that has unshared its network namespace, and turns the child's exit status
// into the outcome (its failures are printed by the child). Inside the child
// the macro does nothing. Without the right to make namespaces the test is
// skipped with a clear message.
//
// The bed: the test's namespace has "qveth0" (kLocalAddress/24, kLocalMac);
// a second namespace, held by a helper process, has "qveth1" (kPeerAddress/24,
// kPeerMac). Both ends are up with multicast on and a multicast route, and
// the loopback interface is up in both. Each end also has its IPv6
// link-local address (kLocalLinkLocal, kPeerLinkLocal) without waiting for
// duplicate address detection. Everything goes away with the helper.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace qtest {

class NetnsBed {
public:
    static constexpr const char* kLocalInterface = "qveth0";
    static constexpr const char* kPeerInterface = "qveth1";
    static constexpr const char* kLocalAddress = "198.18.0.1";
    static constexpr const char* kPeerAddress = "198.18.0.2";
    static constexpr const char* kBroadcast = "198.18.0.255";
    static constexpr const char* kNetmask = "255.255.255.0";
    static constexpr const char* kLocalMac = "02:51:00:00:00:01";
    static constexpr const char* kPeerMac = "02:51:00:00:00:02";
    // IPv6 link-local addresses (EUI-64 of the MACs), usable at once:
    // duplicate address detection is off in both namespaces.
    static constexpr const char* kLocalLinkLocal = "fe80::51:ff:fe00:1";
    static constexpr const char* kPeerLinkLocal = "fe80::51:ff:fe00:2";

    NetnsBed();
    ~NetnsBed();
    NetnsBed(const NetnsBed&) = delete;
    NetnsBed& operator=(const NetnsBed&) = delete;

    bool ready() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }

    // argv that runs `argv` inside the peer namespace.
    std::vector<std::string> inPeer(const std::vector<std::string>& argv) const;
    // Runs a shell command inside the peer namespace; its exit status.
    int runInPeer(const std::string& command, std::string* output = nullptr) const;

private:
    pid_t m_holder = -1;
    std::string m_error;
};

// True inside the child that QTEST_IN_NETNS() started.
bool insideTestNetns();

// Runs the current test again inside a fresh network namespace. Returns
// 0 when it passed, 77 when namespaces are unavailable, else a failure.
int runCurrentTestInNetns(std::string* why);

} // namespace qtest

#define QTEST_IN_NETNS()                                                                                               \
    do {                                                                                                               \
        if (!::qtest::insideTestNetns()) {                                                                             \
            std::string qtestWhy;                                                                                      \
            const int qtestStatus = ::qtest::runCurrentTestInNetns(&qtestWhy);                                         \
            if (qtestStatus == 77)                                                                                     \
                GTEST_SKIP() << "network namespaces unavailable: " << qtestWhy;                                        \
            ASSERT_EQ(qtestStatus, 0) << "the test failed inside its network namespace (see above) " << qtestWhy;      \
            return;                                                                                                    \
        }                                                                                                              \
    } while (0)
