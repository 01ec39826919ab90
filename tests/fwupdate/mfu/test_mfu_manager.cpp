// The manager and the MFU task: wake bits, the index range, the event table,
// one task at a time, and a destroy that closes the units' sockets and ends
// the callbacks.
#include "tests/fwupdate/mfu/mfu_driver.h"
#include "tests/fwupdate/mfu/mfu_fixture.h"

#include "fwupdate/mfu/mfu_manager.h"
#include "pbd/vsock/vsock.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using namespace mfutest;

class RecordingTarget : public MfuCallbackIF {
public:
    int32_t runCallback(uint32_t index) override
    {
        std::lock_guard<std::mutex> guard(lock);
        polled.insert(index);
        return 0;
    }
    int32_t tick() override
    {
        ++ticks;
        return 0;
    }
    std::set<uint32_t> polledSet()
    {
        std::lock_guard<std::mutex> guard(lock);
        return polled;
    }
    std::mutex lock;
    std::set<uint32_t> polled;
    std::atomic<int> ticks{0};
};

class AppCalls : public MfuAppCallbackIF {
public:
    void mfuAppCallback(uint32_t code, uint32_t index) override
    {
        std::lock_guard<std::mutex> guard(lock);
        calls.emplace_back(code, index);
    }
    size_t count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return calls.size();
    }
    bool has(uint32_t code, uint32_t index)
    {
        std::lock_guard<std::mutex> guard(lock);
        return std::find(calls.begin(), calls.end(), std::make_pair(code, index)) != calls.end();
    }
    std::mutex lock;
    std::vector<std::pair<uint32_t, uint32_t>> calls;
};

TEST(MfuManagerTask, AWakeBitRunsEveryIndexThatSharesIt)
{
    oswrap_init();
    EXPECT_EQ(mfu_wakeBit(3), 0x100000u);
    EXPECT_EQ(mfu_wakeBit(11), 0x100000u);
    RecordingTarget target;
    RecordingTarget other;
    uint16_t id = 0;
    ASSERT_EQ(mfu_taskStart(&target, &id), MFU_OK);
    // One task at a time: a second start keeps the first target.
    EXPECT_EQ(mfu_taskStart(&other, nullptr), MFU_E_FAIL);
    ASSERT_EQ(oswrap_setTaskFlags(id, mfu_wakeBit(3)), OSWRAP_OK);
    EXPECT_TRUE(qtest::waitFor([&] { return target.polledSet().size() >= 4; }, 2000));
    EXPECT_EQ(target.polledSet(), (std::set<uint32_t>{3, 11, 19, 27}));
    EXPECT_TRUE(qtest::waitFor([&] { return target.ticks >= 3; }, 2000));
    EXPECT_EQ(mfu_taskStop(), MFU_OK);
    const int ticks = target.ticks;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(target.ticks, ticks);
    EXPECT_TRUE(other.polledSet().empty());
    EXPECT_EQ(other.ticks, 0);
    EXPECT_EQ(mfu_taskStop(), MFU_E_FAIL);
}

TEST(MfuManagerTask, DummyTarget)
{
    DummyMfuCallbackIF dummy;
    EXPECT_EQ(static_cast<uint32_t>(dummy.runCallback(0x1234)), 0x80000034u);
    EXPECT_EQ(dummy.tick(), MFU_E_FAIL);
}

TEST(MfuManager, EventTable)
{
    const struct {
        int32_t event;
        uint32_t errorType;
        uint32_t code;
        const char* line;
    } rows[] = {
        {1, 0, 1, "[FirmwareUpdateManager] START WAIT"},
        {2, 0, 2, "[FirmwareUpdateManager] TRANSFER STARTED"},
        {3, 0, 3, "[FirmwareUpdateManager] WRITE STARTED"},
        {4, 0, 4, ""},
        {5, 0, 5, ""},
        {6, 0, 6, "[FirmwareUpdateManager] FINISHED : ErrType = MFU_SEQUENCE_ERR_NONE "},
        {6, 1, 7, "[FirmwareUpdateManager] FINISHED : ErrType = MFU_SEQUENCE_ERR_CONNECTION"},
        {6, 2, 7, "[FirmwareUpdateManager] FINISHED : ErrType = MFU_SEQUENCE_ERR_GET_INFO"},
        {6, 3, 7, "[FirmwareUpdateManager] FINISHED : ErrType = UNKNOWN"},
        {6, 4, 7, "[FirmwareUpdateManager] FINISHED : ErrType = MFU_SEQUENCE_ERR_TRANSFER"},
        {6, 5, 7, "[FirmwareUpdateManager] FINISHED : ErrType = MFU_SEQUENCE_ERR_WRITE"},
        {6, 6, 7, "[FirmwareUpdateManager] FINISHED : ErrType = UNKNOWN"},
        {6, 7, 7, "[FirmwareUpdateManager] FINISHED : ErrType = MFU_SEQUENCE_ERR_OTHER"},
        {0, 0, 0, ""},
        {7, 0, 0, ""},
    };
    for (const auto& row : rows) {
        std::string line;
        EXPECT_EQ(mfu_eventCallback(row.event, row.errorType, &line), row.code) << row.event << "/" << row.errorType;
        EXPECT_EQ(line, row.line);
    }
}

class MfuManagerNet : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return;
        ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
        oswrap_init();
        ASSERT_EQ(vsock_init(), VSOCK_OK);
        file = work.file("fw.bin");
        ASSERT_TRUE(qtest::writeFile(file, std::string(3u << 20, 'f')));
    }
    void TearDown() override
    {
        if (qtest::insideTestNetns())
            vsock_term();
    }
    qtest::TempDir work;
    std::string file;
};

TEST_F(MfuManagerNet, IndexRangeAndTakenSlots)
{
    QTEST_IN_NETNS();
    LogCapture log;
    FirmwareUpdateManager manager;
    ASSERT_TRUE(manager.started());
    char version[16];
    for (uint32_t index : {31u, 5u}) {
        SCOPED_TRACE(index);
        const MfuResult refused = index == 31 ? MFU_E_FAIL : MFU_OK;
        if (index == 31) {
            EXPECT_EQ(manager.addDevice(index, "127.0.0.1", "127.0.0.9", file.c_str(), 7, "V1.00"), MFU_E_FAIL);
            EXPECT_EQ(manager.wake(index), MFU_E_FAIL);
        }
        EXPECT_EQ(manager.removeDevice(index), refused);
        EXPECT_EQ(manager.getReady(index), MFU_E_FAIL);
        EXPECT_EQ(manager.startUpdate(index), MFU_E_FAIL);
        EXPECT_EQ(manager.versionRelation(index), -1);
        EXPECT_EQ(manager.unitVersion(index, version), MFU_E_FAIL);
        EXPECT_EQ(manager.transferPercent(index), 0u);
        EXPECT_EQ(manager.versionErrorFlag(index), 0);
        EXPECT_EQ(manager.runCallback(index), MFU_E_FAIL);
    }

    // The first sequence stays: once the task took it past its first
    // step it can no longer be got ready, a new one could.
    ASSERT_EQ(manager.addDevice(0, "127.0.0.1", "127.0.0.9", file.c_str(), 7, "V1.00"), MFU_OK);
    ASSERT_EQ(manager.getReady(0), MFU_OK);
    ASSERT_TRUE(qtest::waitFor([&] { return manager.getReady(0) == MFU_E_FAIL; }, 3000));
    EXPECT_EQ(manager.addDevice(0, "127.0.0.1", "127.0.0.9", file.c_str(), 7, "V1.00"), MFU_E_ARG);
    EXPECT_TRUE(log.has("[ERROR][FirmwareUpdateManager::addDevice] failed in adding device: device already exist"));
    EXPECT_EQ(manager.getReady(0), MFU_E_FAIL);

    EXPECT_EQ(manager.addDevice(1, "no address", "127.0.0.9", file.c_str(), 7, "V1.00"), MFU_E_INIT);
    EXPECT_TRUE(log.has("[ERROR][FirmwareUpdateManager::addDevice] failed in adding device: Initialize Failed"));
    EXPECT_EQ(manager.getReady(1), MFU_E_FAIL);
    EXPECT_EQ(manager.removeDevice(0), MFU_OK);
    EXPECT_EQ(manager.addDevice(0, "127.0.0.1", "127.0.0.9", file.c_str(), 7, "V1.00"), MFU_OK);
    EXPECT_EQ(manager.getReady(0), MFU_OK);
}

TEST_F(MfuManagerNet, SecondManagerLeavesTheFirstRunning)
{
    QTEST_IN_NETNS();
    UnitPeer peer(work.path(), {"127.0.0.2,name=BroxL-D2,protocols=xmodem-1k,expect=" + file});
    ASSERT_TRUE(peer.ready());
    AppCalls calls;
    FirmwareUpdateManager first;
    first.setAppCallback(&calls);
    ASSERT_TRUE(first.started());
    {
        FirmwareUpdateManager second;
        EXPECT_FALSE(second.started());
        EXPECT_EQ(second.addDevice(0, "127.0.0.1", "127.0.0.2", file.c_str(), 7, "V1.00"), MFU_OK);
        EXPECT_EQ(second.wake(0), MFU_E_FAIL);
    }
    ASSERT_EQ(first.addDevice(4, "127.0.0.1", "127.0.0.2", file.c_str(), 7, "V1.00"), MFU_OK);
    ASSERT_EQ(first.getReady(4), MFU_OK);
    EXPECT_TRUE(qtest::waitFor([&] { return calls.has(MFU_APP_START_WAIT, 4); }, 10000));
}

TEST_F(MfuManagerNet, DestroyMidTransferClosesTheSocketAndEndsTheCallbacks)
{
    QTEST_IN_NETNS();
    UnitPeer peer(work.path(), {"127.0.0.3,name=BroxL-D3,protocols=tftp,expect=" + file});
    ASSERT_TRUE(peer.ready());
    AppCalls calls;
    auto manager = std::make_unique<FirmwareUpdateManager>();
    manager->setAppCallback(&calls);
    ASSERT_EQ(manager->addDevice(2, "127.0.0.1", "127.0.0.3", file.c_str(), 8, "V1.00"), MFU_OK);
    ASSERT_EQ(manager->getReady(2), MFU_OK);
    ASSERT_TRUE(qtest::waitFor([&] { return calls.has(MFU_APP_START_WAIT, 2); }, 10000));
    ASSERT_EQ(manager->startUpdate(2), MFU_OK);
    ASSERT_TRUE(qtest::waitFor([&] { return calls.has(MFU_APP_TRANSFER_PROGRESS, 2); }, 10000));
    manager.reset();
    const size_t after = calls.count();
    EXPECT_TRUE(peer.waitFor("CLOSED 127.0.0.3"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(calls.count(), after);
}

} // namespace
