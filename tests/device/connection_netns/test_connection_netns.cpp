// The device link across the namespace bed: the link leaves from the
// interface address it is given, and a simulated unit process in the peer
// namespace is connected, read, dropped and reconnected.
#include "tests/device/connection_rig.h"

#include "tests/sim/sim_client.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

using namespace conntest;
using devtest::spinUntil;
using qtest::NetnsBed;

namespace {

constexpr const char* kSecondAddress = "198.18.0.3";
constexpr uint16_t kUnitPort = 49280;
constexpr uint16_t kEchoPort = 49281;

// Accepts one connection after another and prints each peer's address.
constexpr const char* kWhoPeer = R"(
import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", int(sys.argv[1]))); s.listen(4); s.settimeout(30)
print("READY", flush=True)
for _ in range(4):
    c, a = s.accept(); print("PEER", a[0], flush=True); c.close()
)";

class DeviceConnectionNetns : public testing::Test {
protected:
    bool setUpBed()
    {
        bed = std::make_unique<NetnsBed>();
        if (!bed->ready()) {
            ADD_FAILURE() << bed->error();
            return false;
        }
        const std::string add = std::string("ip addr add ") + kSecondAddress + "/24 dev " + NetnsBed::kLocalInterface;
        if (std::system(add.c_str()) != 0) {
            ADD_FAILURE() << "cannot add " << kSecondAddress;
            return false;
        }
        return socketLayerUp() && createMemThread() == 0;
    }
    void TearDown() override
    {
        if (qtest::insideTestNetns())
            destroyMemThread();
        bed.reset();
    }

    std::unique_ptr<NetnsBed> bed;
};

// Opens a stream from `local` to the peer's echo port; the socket's result.
VCOM::VComResult connectFrom(VCOM::VComTcpClientSocket& socket, simtest::SimWaker& waker, const char* local)
{
    VCOM::VComSocketAddress localAddress, remote;
    localAddress.setAddressText(VSOCK_FAMILY_IPV4, local);
    remote.setAddressText(VSOCK_FAMILY_IPV4, NetnsBed::kPeerAddress);
    socket.attach(1, &waker);
    return socket.connect(localAddress, remote, kEchoPort);
}

TEST_F(DeviceConnectionNetns, StreamLeavesFromTheGivenAddress)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpBed());
    qtest::ChildProcess peer(bed->inPeer({"python3", "-c", kWhoPeer, std::to_string(kEchoPort)}));
    std::string line;
    ASSERT_TRUE(peer.readLine(&line, 10000) && line == "READY") << line;

    for (const char* local : {kSecondAddress, NetnsBed::kLocalAddress}) {
        SCOPED_TRACE(local);
        simtest::SimWaker waker;
        VCOM::VComTcpClientSocket socket;
        ASSERT_GE(connectFrom(socket, waker, local), 0);
        ASSERT_TRUE(peer.readLine(&line, 10000));
        EXPECT_EQ(std::string("PEER ") + local, line);
        socket.disconnect();
        socket.processEvents(nullptr);
    }

    // An address the host does not have fails at once, before any packet.
    simtest::SimWaker waker;
    VCOM::VComTcpClientSocket socket;
    EXPECT_EQ(VCOM::VCOM_E_ARG, connectFrom(socket, waker, "198.18.0.9"));
    EXPECT_EQ(VCOM::VCOM_STATE_CLOSED, socket.state());
}

// A Brox unit process in the peer namespace: the road to ConnectionState 2
// from the second address, a drop by the unit, and a reconnect that reads
// what the unit changed meanwhile.
TEST_F(DeviceConnectionNetns, UnitProcessConnectsDropsAndReconnects)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpBed());
    const std::string fifo = "/tmp/quillon_conn_" + std::to_string(getpid());
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    qtest::ChildProcess unit(bed->inPeer({QUILLON_SIMUNIT, "--layout", qtest::sourcePath("tests/sim/layouts/brox.xml"),
        "--address", NetnsBed::kPeerAddress, "--port", std::to_string(kUnitPort), "--brox", "--no-announce",
        "--control", fifo}));
    std::string line;
    ASSERT_TRUE(unit.readLine(&line, 10000) && line == "READY 49280") << line;
    auto control = [&](const std::string& text) {
        std::ofstream out(fifo);
        out << text << "\n";
    };

    Rig r(NetnsBed::kPeerAddress, kUnitPort, kSecondAddress);
    ASSERT_TRUE(r.connectAndWait());
    EXPECT_EQ("\"Stage Left\"", r.read("/DevInfo/devinfo:0/devicename:0"));
    std::string sockets;
    bed->runInPeer("ss -tn state established", &sockets);
    EXPECT_NE(std::string::npos, sockets.find(std::string(kSecondAddress) + ":")) << sockets;

    control("SET Current/OutCh/DelayTime 6 0 2400");
    ASSERT_TRUE(spinUntil([&] { return r.read("/Backup/OutCh:6/DelayTime:0") == "2400"; }));

    const size_t mark = r.states.size();
    control("CLOSE");
    ASSERT_TRUE(r.sawFrom(mark, State::Disconnected));
    EXPECT_TRUE(spinUntil([&] { return r.connectionState() == "0"; }));

    control("SET Current/OutCh/DelayTime 6 0 480");
    ASSERT_TRUE(r.connectAndWait());
    EXPECT_EQ("480", r.read("/Backup/OutCh:6/DelayTime:0"));
    control("QUIT");
    unlink(fifo.c_str());
}

} // namespace
