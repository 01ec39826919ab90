#include "tests/support/netns.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qtest {

namespace {

constexpr const char* kInnerVariable = "QUILLON_IN_TEST_NETNS";
constexpr int kUnavailable = 77;
constexpr int kChildTimeoutMs = 110000;

std::string currentTestFilter()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

int run(const std::string& command, std::string* output = nullptr)
{
    return runCommand(command + " 2>&1", output);
}

} // namespace

bool insideTestNetns()
{
    return std::getenv(kInnerVariable) != nullptr;
}

int runCurrentTestInNetns(std::string* why)
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        *why = "cannot find the test program";
        return 1;
    }
    self[n] = '\0';
    const std::string filter = "--gtest_filter=" + currentTestFilter();

    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) {
        *why = "fork failed";
        return 1;
    }
    if (pid == 0) {
        if (unshare(CLONE_NEWNET) != 0) {
            fprintf(stderr, "unshare(CLONE_NEWNET): %s\n", strerror(errno));
            _exit(kUnavailable);
        }
        setenv(kInnerVariable, "1", 1);
        execl(self, self, filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kChildTimeoutMs);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 || std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            *why = "(timed out)";
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!WIFEXITED(status)) {
        *why = "(killed by a signal)";
        return 1;
    }
    if (WEXITSTATUS(status) == kUnavailable)
        *why = "unshare(CLONE_NEWNET) was refused";
    return WEXITSTATUS(status);
}

NetnsBed::NetnsBed()
{
    if (!insideTestNetns()) {
        m_error = "NetnsBed used outside QTEST_IN_NETNS()";
        return;
    }
    // The helper holds the peer namespace for as long as the bed lives.
    const pid_t pid = fork();
    if (pid < 0) {
        m_error = "fork failed";
        return;
    }
    if (pid == 0) {
        // Dies with the test: a test that crashes must not leave the holder
        // keeping its output pipe (and so the test runner) waiting.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (unshare(CLONE_NEWNET) != 0)
            _exit(1);
        for (;;)
            pause();
    }
    m_holder = pid;
    const std::string peerNs = "/proc/" + std::to_string(pid) + "/ns/net";
    // Wait until the helper has its own namespace.
    for (int i = 0; i < 200; ++i) {
        std::string own, peer;
        runCommand("readlink /proc/self/ns/net", &own);
        runCommand("readlink " + peerNs, &peer);
        if (!peer.empty() && peer != own)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    const std::string inPeer = "nsenter --net=" + peerNs + " ";
    const std::vector<std::string> steps = {
        "ip link set lo up",
        "sysctl -qw net.ipv6.conf.all.accept_dad=0",
        "sysctl -qw net.ipv6.conf.default.accept_dad=0",
        inPeer + "sysctl -qw net.ipv6.conf.all.accept_dad=0",
        inPeer + "sysctl -qw net.ipv6.conf.default.accept_dad=0",
        std::string("ip link add ") + kLocalInterface + " type veth peer name " + kPeerInterface,
        std::string("ip link set ") + kLocalInterface + " address " + kLocalMac + " multicast on",
        std::string("ip link set ") + kPeerInterface + " address " + kPeerMac + " multicast on",
        std::string("ip link set ") + kPeerInterface + " netns " + std::to_string(pid),
        std::string("ip addr add ") + kLocalAddress + "/24 broadcast " + kBroadcast + " dev " + kLocalInterface,
        std::string("ip link set ") + kLocalInterface + " up",
        std::string("ip route add 224.0.0.0/4 dev ") + kLocalInterface,
        inPeer + "ip link set lo up",
        inPeer + "ip addr add " + kPeerAddress + "/24 broadcast " + kBroadcast + " dev " + kPeerInterface,
        inPeer + "ip link set " + kPeerInterface + " up",
        inPeer + "ip route add 224.0.0.0/4 dev " + kPeerInterface,
    };
    for (const std::string& step : steps) {
        std::string output;
        if (run(step, &output) != 0) {
            m_error = "'" + step + "' failed: " + output;
            return;
        }
    }
    // Duplicate address detection and carrier: wait until both ends are up.
    for (int i = 0; i < 300; ++i) {
        // /sys shows the namespace it was mounted in, so ask ip.
        std::string a, b;
        runCommand(std::string("ip -o link show dev ") + kLocalInterface, &a);
        runInPeer(std::string("ip -o link show dev ") + kPeerInterface, &b);
        if (a.find("state UP") != std::string::npos && b.find("state UP") != std::string::npos) {
            // The link-local addresses come with the carrier.
            std::string a6, b6;
            runCommand(std::string("ip -6 -o addr show dev ") + kLocalInterface, &a6);
            runInPeer(std::string("ip -6 -o addr show dev ") + kPeerInterface, &b6);
            if (a6.find(kLocalLinkLocal) != std::string::npos && b6.find(kPeerLinkLocal) != std::string::npos)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_error = "the veth pair did not come up with its link-local addresses";
}

NetnsBed::~NetnsBed()
{
    if (m_holder > 0) {
        kill(m_holder, SIGKILL);
        waitpid(m_holder, nullptr, 0);
    }
    // The local end goes with its peer namespace; remove it anyway in case.
    runCommand(std::string("ip link del ") + kLocalInterface + " 2>/dev/null");
}

std::vector<std::string> NetnsBed::inPeer(const std::vector<std::string>& argv) const
{
    std::vector<std::string> out = {"nsenter", "--net=/proc/" + std::to_string(m_holder) + "/ns/net", "--"};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

int NetnsBed::runInPeer(const std::string& command, std::string* output) const
{
    return runCommand("nsenter --net=/proc/" + std::to_string(m_holder) + "/ns/net -- sh -c '" + command + "'", output);
}

} // namespace qtest
