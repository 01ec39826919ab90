// The link's thread against the GUI thread: nothing the unit does may keep
// the GUI thread's calls out, and a sequence end that comes late must not
// bring a link back.
#include "tests/device/connection_rig.h"

#include <atomic>
#include <future>
#include <thread>

using namespace conntest;
using devtest::spinFor;
using devtest::spinUntil;

namespace {

using DeviceConnectionThreads = ConnectionTest;

// While the unit floods meter lines (and every read queues another receive
// notification), the GUI thread's calls still get the run mutex.
TEST_F(DeviceConnectionThreads, GuiCallsReturnWhileTheUnitFloods)
{
    simtest::SimUnitConfig config = broxConfig();
    config.meterPeriodMs = 0; // as fast as the unit can send
    simtest::SimUnit flood;
    std::string why;
    ASSERT_EQ(0, flood.start(config, &why)) << why;
    DevCommTimings t = fastTimings();
    t.meterRenewalMs = 100;
    Rig r("127.0.0.1", flood.port(), "127.0.0.1", t);
    ASSERT_TRUE(r.connectAndWait());
    ASSERT_TRUE(spinUntil([&] { return flood.stats().meterLines > 200; }));
    // Wakes as the socket service gives them under steady traffic, so that
    // no pass of the loop finds its flags empty.
    std::atomic<bool> stop{false};
    std::thread waker([&] {
        while (!stop)
            r.comm.clientThread()->wakeup(0, nullptr);
    });

    // The calls run on a helper thread so that a starved mutex fails the
    // test instead of hanging it.
    auto calls = std::async(std::launch::async, [&] {
        int connected = 0;
        for (int i = 0; i < 200; ++i)
            connected += r.comm.isConnected() ? 1 : 0;
        return connected;
    });
    ASSERT_TRUE(spinUntil([&] { return calls.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30000))
        << "GUI-thread calls starved by a busy link";
    // (On failure the helper is still blocked; end the process cleanly.)
    stop = true;
    waker.join();
    EXPECT_EQ(200, calls.get());
    // The rack owner's requests are served too.
    r.disconnectReq();
    EXPECT_TRUE(r.sawFrom(0, State::Disconnected));
}

TEST_F(DeviceConnectionThreads, LateAssociationEndIsIgnored)
{
    auto r = rig();
    ScpClientThread* thread = r->comm.clientThread();
    thread->withDevice([](ScpDevice& device) {
        EXPECT_LT(device.associated(device.client()), 0);
        EXPECT_LT(device.negotiated(device.client()), 0);
    });
    EXPECT_FALSE(r->comm.isConnected());
    EXPECT_EQ(State::Disconnected, r->state());
    // State 0 still accepts a connect.
    EXPECT_TRUE(r->connectAndWait());
    // And once disconnecting, a late end does not claim the link either.
    r->disconnectReq();
    thread->withDevice([](ScpDevice& device) {
        if (device.state() == State::Disconnecting) {
            EXPECT_LT(device.associated(device.client()), 0);
        }
    });
    ASSERT_TRUE(r->saw(State::Connected, State::Disconnected));
    EXPECT_FALSE(r->comm.isConnected());
}

// The thread runs only once its device has a client: links made and
// dropped at once (run under TSan) leave no race and no state behind.
TEST_F(DeviceConnectionThreads, LinksMadeAndDroppedAtOnce)
{
    for (int i = 0; i < 20; ++i) {
        DevObject dev(0, MODEL_BROXL_D2);
        DevComm comm(nullptr, "key", "127.0.0.1", unit.port(), "BroxL-D2", MODEL_BROXL_D2, 0, "", fastTimings());
        ASSERT_NE(nullptr, comm.clientThread());
        EXPECT_EQ(0, comm.clientThread()->bindResult());
        ASSERT_EQ(0, comm.attachMemory(&dev, SOURCE_LINK));
        if (i % 2)
            dev.setValue(kConnectReqPath, JLIB::JVariant(1), SOURCE_UI);
        spinFor(i % 5);
    }
    EXPECT_TRUE(spinUntil([&] { return unit.stats().connections == 0; }));
}

// A family without adapters never leaves state 0.
TEST_F(DeviceConnectionThreads, UnknownTypeNeverConnects)
{
    DevObject dev(0, MODEL_BROXL_D2);
    DevComm comm(nullptr, "key", "127.0.0.1", unit.port(), "", 0, 0, "", fastTimings());
    EXPECT_LT(comm.attachMemory(&dev, SOURCE_LINK), 0);
    EXPECT_LT(comm.clientThread()->bindResult(), 0);
    dev.setValue(kConnectReqPath, JLIB::JVariant(1), SOURCE_UI);
    spinFor(200);
    EXPECT_FALSE(comm.isConnected());
    EXPECT_EQ(0u, unit.stats().accepted);
}

} // namespace
