// The agent's answers fed to the front's callback entry: with the agent
// stopped every request the front makes fails with DFA_ERR_NO_INIT, which
// shows the stage it reports; with the agent running on the fake glue the
// requests go through and their answers come back.
#include "tests/fwupdate/dfu/dfu_fixture.h"

#include <atomic>
#include <functional>
#include <thread>

namespace {

using dfutest::deviceNamed;
using dfutest::Empty;
using dfutest::feed;
using dfutest::FrontTest;
using dfutest::interfaceOf;
using dfutest::kWantedMac;

const uint8_t kOtherMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

class DfuFront : public FrontTest {
protected:
    // Feeds an interface list holding these interfaces.
    void feedList(std::vector<DfaInterface> interfaces)
    {
        m_list = std::move(interfaces);
        DfaInterfaceList list{static_cast<uint32_t>(m_list.size()), m_list.data()};
        feed(DFA_ERR_NOERR, DFA_CBACK_INF_IF_LIST, list);
    }
    std::vector<DfaInterface> m_list;
};

DfaUpgradeStatus statusOf(const char* name, uint16_t phase, uint16_t percent = 0)
{
    DfaUpgradeStatus s{};
    std::strncpy(s.name, name, sizeof s.name);
    s.phase = phase;
    s.percent = percent;
    return s;
}

TEST_F(DfuFront, AnswersOfTheChainAndTheirFailingRequests)
{
    stopped();
    const DfaInterface wanted = interfaceOf(u"eth-a", kWantedMac);
    const DfaInterface other = interfaceOf(u"eth-b", kOtherMac);
    const DfaDeviceInfo dev = deviceNamed("dev1");
    const struct Row {
        const char* what;
        std::function<void()> feedIt;
        std::vector<std::string> calls;
    } rows[] = {
        {"INIT asks for the list", [] { feed(DFA_ERR_NOERR, DFA_CBACK_INF_INIT, Empty{}); }, {"A3:8001"}},
        {"IF_LIST: event 5, then the current interface",
            [&] {
                feedList({other, wanted});
            },
            {"E5", "A4:8001"}},
        {"GET_IF asks for the wanted interface", [] { feed(DFA_ERR_NOERR, DFA_CBACK_INF_GET_IF, Empty{}); },
            {"A13:8001"}},
        {"SET_IF", [] { feed(DFA_ERR_NOERR, DFA_CBACK_INF_SET_IF, Empty{}); }, {"E6"}},
        {"DEVICE: the status request", [&] { feed(DFA_ERR_NOERR, DFA_CBACK_INF_DEVICE, dev); }, {"A7:8001"}},
        {"START_UPDATE: the status request", [] { feed(DFA_ERR_NOERR, DFA_CBACK_INF_START_UPDATE, Empty{}); },
            {"A8:8001"}},
        {"DEVICE_LIST and REBOOT: nothing",
            [] {
                feed(DFA_ERR_NOERR, DFA_CBACK_INF_DEVICE_LIST, Empty{});
                feed(DFA_ERR_NOERR, DFA_CBACK_INF_REBOOT, Empty{});
            },
            {}},
        {"a kind past the table: nothing", [] { feed(DFA_ERR_TIMEOUT, 10, Empty{}); }, {}},
        {"the list is kept: a list without the wanted interface",
            [&] {
                feedList({other});
                feed(DFA_ERR_NOERR, DFA_CBACK_INF_GET_IF, Empty{});
            },
            {"E5", "A4:8001", "A13:0"}},
        {"an empty list",
            [&] {
                feedList({});
                feed(DFA_ERR_NOERR, DFA_CBACK_INF_GET_IF, Empty{});
            },
            {"E5", "A4:8001", "A13:0"}},
    };
    for (const Row& row : rows) {
        const size_t from = calls.size();
        row.feedIt();
        EXPECT_EQ(calls.since(from), row.calls) << row.what;
    }
    // The DEVICE row added a node even though its status request failed.
    EXPECT_EQ(front->deviceCount(), 1u);
    EXPECT_TRUE(log.has("[DFU DEVICE LIST] addDfuDevice"));
    EXPECT_TRUE(log.has("dev1"));
}

TEST_F(DfuFront, AllZeroMacRequestsNothing)
{
    const uint8_t zero[6] = {};
    stopped(zero);
    feedList({interfaceOf(u"eth-a", zero)});
    const size_t from = calls.size();
    feed(DFA_ERR_NOERR, DFA_CBACK_INF_GET_IF, Empty{});
    EXPECT_TRUE(calls.since(from).empty());
}

TEST_F(DfuFront, ErrorsGiveTheirStageAndTheDeviceName)
{
    stopped();
    const DfaDeviceInfo dev = deviceNamed("dev7");
    DfaDeviceStat stat{};
    std::strncpy(stat.name, "dev7", sizeof stat.name);
    DfaUpgradeRequest request{};
    std::strncpy(request.name, "dev7", sizeof request.name);
    const DfaUpgradeStatus status = statusOf("dev7", DFA_PHASE_FLASH);
    DfaReboot reboot{};
    std::strncpy(reboot.name, "dev7", sizeof reboot.name);
    // Payloads that are not device records: no name is made of their bytes.
    const DfaInterface iface = interfaceOf(u"eth-a", kWantedMac);
    DfaFilterInfo filter{};
    std::memcpy(filter.platform, "Bklyn2", 6);
    DfaInterfaceList none{};

    const struct Row {
        const char* what;
        std::function<void()> feedIt;
        std::string call;
        const char* logLine;
    } rows[] = {
        {"INIT", [&] { feed(DFA_ERR_CONMON_ABSENT, DFA_CBACK_INF_INIT, iface); }, "D1:800a:", nullptr},
        {"DEVICE_LIST", [&] { feed(DFA_ERR_CONMON_ABSENT, DFA_CBACK_INF_DEVICE_LIST, filter); }, "D2:800a:", nullptr},
        {"DEVICE", [&] { feed(DFA_ERR_DNT_MANF_ID, DFA_CBACK_INF_DEVICE, dev); }, "D6:8107:dev7", nullptr},
        {"DEVICE_STAT", [&] { feed(DFA_ERR_NOT_FOUND, DFA_CBACK_INF_DEVICE_STAT, stat); }, "D0:8007:dev7", nullptr},
        {"START_UPDATE", [&] { feed(DFA_ERR_TIMEOUT, DFA_CBACK_INF_START_UPDATE, request); }, "D8:8003:dev7", nullptr},
        {"UPDATE_STATUS", [&] { feed(DFA_ERR_DAPI_UPGRADE_FLASH, DFA_CBACK_INF_UPDATE_STATUS, status); },
            "D9:c200:dev7", nullptr},
        {"REBOOT", [&] { feed(DFA_ERR_NOT_FOUND, DFA_CBACK_INF_REBOOT, reboot); }, "D10:8007:dev7", nullptr},
        {"IF_LIST", [&] { feed(DFA_ERR_DAPI_OTHER, DFA_CBACK_INF_IF_LIST, none); }, "D3:c0ff:", nullptr},
        {"GET_IF", [&] { feed(DFA_ERR_PROGRESS, DFA_CBACK_INF_GET_IF, iface); }, "D4:8006:", nullptr},
        {"SET_IF same", [&] { feed(DFA_ERR_INTERFACE_SAME, DFA_CBACK_INF_SET_IF, iface); }, "E6", nullptr},
        {"SET_IF not found", [&] { feed(DFA_ERR_NOT_FOUND, DFA_CBACK_INF_SET_IF, iface); },
            "D5:8007:", "[ERROR] Set Ether IF: DFA_ERR_NOT_FOUND"},
        {"SET_IF locked", [&] { feed(DFA_ERR_INTERFACE_LOCKED, DFA_CBACK_INF_SET_IF, iface); },
            "D5:800b:", "[ERROR] Set Ether IF: DFA_ERR_INTERFACE_LOCKED"},
        {"SET_IF changing", [&] { feed(DFA_ERR_INTERFACE_CHANGING, DFA_CBACK_INF_SET_IF, iface); },
            "D5:800c:", "[ERROR] Set Ether IF: DFA_ERR_INTERFACE_CHANGING"},
        {"SET_IF other", [&] { feed(DFA_ERR_TIMEOUT, DFA_CBACK_INF_SET_IF, iface); },
            "D5:8003:", "[ERROR] Set Ether IF: OTHER ERROR"},
    };
    for (const Row& row : rows) {
        log.clear();
        const size_t from = calls.size();
        row.feedIt();
        EXPECT_EQ(calls.since(from), std::vector<std::string>{row.call}) << row.what;
        if (row.logLine != nullptr) {
            EXPECT_TRUE(log.has(row.logLine)) << row.what;
        }
    }
    // No error added a device.
    EXPECT_EQ(front->deviceCount(), 0u);
}

TEST_F(DfuFront, UpdateStatusPhasesOfAListedDevice)
{
    stopped();
    front->addDfuDevice(deviceNamed("dev1"));
    ASSERT_EQ(front->setTargetDevice("dev1"), DFU_OK);
    const struct {
        uint16_t phase;
        uint16_t percent;
        uint32_t expected;
    } rows[] = {
        {DFA_PHASE_DOWNLOAD, 10, DFU_PHASE_DOWNLOAD},
        {DFA_PHASE_FLASH, 37, DFU_PHASE_FLASH},
        {DFA_PHASE_FINISH, 100, DFU_PHASE_FINISH},
        {7, 55, DFU_PHASE_NONE},
    };
    for (const auto& row : rows) {
        const size_t from = calls.size();
        feed(DFA_ERR_NOERR, DFA_CBACK_INF_UPDATE_STATUS, statusOf("dev1", row.phase, row.percent));
        EXPECT_EQ(calls.since(from), std::vector<std::string>{"E4"}) << row.phase;
        EXPECT_EQ(front->getTargetUpdatePhase(), row.expected) << row.phase;
        EXPECT_EQ(front->getDeviceUpdatePhase("dev1"), row.expected) << row.phase;
    }
    // Only the flash phase keeps its percent.
    EXPECT_EQ(front->getLastFlashPercent(), 37);

    log.clear();
    const size_t from = calls.size();
    feed(DFA_ERR_NOERR, DFA_CBACK_INF_UPDATE_STATUS, statusOf("ghost", DFA_PHASE_FLASH, 99));
    EXPECT_TRUE(calls.since(from).empty());
    EXPECT_EQ(front->getLastFlashPercent(), 37);
    EXPECT_TRUE(log.has("[ERROR] Cannot find Dante Device"));
}

TEST_F(DfuFront, LookupLogsEachComparisonAndFindsByName)
{
    stopped();
    for (const char* name : {"alpha", "beta", "gamma"})
        front->addDfuDevice(deviceNamed(name));
    log.clear();
    ASSERT_EQ(front->setTargetDevice("beta"), DFU_OK);
    const std::vector<std::string> expected = {"[TEMP] start dante devicelabel matching", "beta", "[TEMP] matching... ",
        "[TEMP] matching... ", "[TEMP] matched! "};
    EXPECT_EQ(log.lines(), expected);
    char name[DFA_DEVICE_NAME_SIZE + 1];
    ASSERT_TRUE(front->getTargetDeviceName(name, sizeof name));
    EXPECT_STREQ(name, "beta");

    // A miss leaves the target as it was.
    EXPECT_EQ(front->setTargetDevice("delta"), DFU_E_FAIL);
    EXPECT_TRUE(log.has("[ERROR] Cannot find Dante Device"));
    ASSERT_TRUE(front->getTargetDeviceName(name, sizeof name));
    EXPECT_STREQ(name, "beta");

    // Names compare on their 32 characters, with or without terminator.
    const std::string full(DFA_DEVICE_NAME_SIZE, 'n');
    front->addDfuDevice(deviceNamed(full.c_str()));
    EXPECT_EQ(front->setTargetDevice((full + "tail").c_str()), DFU_OK);
    ASSERT_TRUE(front->getTargetDeviceName(name, sizeof name));
    EXPECT_EQ(std::string(name), full);

    front->clearDfuDeviceInfo();
    EXPECT_FALSE(front->getTargetDeviceName(name, sizeof name));
    EXPECT_EQ(front->getTargetUpdatePhase(), DFU_PHASE_NONE);
    EXPECT_TRUE(log.has("[DFU DEVICE LIST] clearDfuDeviceInfo"));
}

TEST_F(DfuFront, ChainOnTheRunningAgentAndItsRepeat)
{
    running();
    // The chain ran once, on the agent's task.
    EXPECT_EQ(calls.count("E5"), 1u);
    EXPECT_EQ(calls.count("E6"), 1u);
    EXPECT_NE(calls.threads().front(), std::this_thread::get_id());
    // The interface changed elsewhere: GET_IF with req_id 0, then INIT
    // after the agent's restart; the chain runs again.
    const size_t from = calls.size();
    feed(DFA_ERR_NOERR, DFA_CBACK_INF_GET_IF, interfaceOf(u"eth-other", kOtherMac), 0);
    ASSERT_TRUE(calls.await("E6", 3000, from));
    feed(DFA_ERR_NOERR, DFA_CBACK_INF_INIT, Empty{}, 0);
    ASSERT_TRUE(qtest::waitFor([&] { return calls.count("E6") == 3; }, 3000));
    EXPECT_EQ(calls.since(from), (std::vector<std::string>{"E6", "E5", "E6"}));
}

TEST_F(DfuFront, DeviceGivesNodeStatusAndEvents)
{
    running();
    ASSERT_EQ(front->reqDeviceList(), DFU_OK);
    const size_t from = calls.size();
    feed(DFA_ERR_NOERR, DFA_CBACK_INF_DEVICE, deviceNamed("dev1"));
    // Event 3 at once, then the fake's status answer gives event 1.
    ASSERT_TRUE(calls.await("E1", 3000, from));
    EXPECT_EQ(calls.since(from), (std::vector<std::string>{"E3", "E1"}));
    DfuDevice d{};
    ASSERT_TRUE(front->getDeviceStat("dev1", &d));
    EXPECT_EQ(d.linkSpeed[0], DFA_LINK_1G);

    // A status of a device not in the list stores nothing, but is reported.
    const size_t before = calls.size();
    DfaDeviceStat ghost{};
    std::strncpy(ghost.name, "ghost", sizeof ghost.name);
    feed(DFA_ERR_NOERR, DFA_CBACK_INF_DEVICE_STAT, ghost);
    EXPECT_EQ(calls.since(before), std::vector<std::string>{"E1"});
    EXPECT_EQ(front->deviceCount(), 1u);

    // A start answer asks for the target's status; the fake's answer moves it.
    ASSERT_EQ(front->setTargetDevice("dev1"), DFU_OK);
    feed(DFA_ERR_NOERR, DFA_CBACK_INF_START_UPDATE, Empty{});
    ASSERT_TRUE(calls.await("E4", 3000, before));
    EXPECT_EQ(front->getTargetUpdatePhase(), DFU_PHASE_DOWNLOAD);
}

TEST_F(DfuFront, ListWindowEndSetsTheModelMatchExactly)
{
    stopped();
    // Slot 1 stays "NoModel" until a file is read: a device of that module
    // id is matched against the descriptor's all-zero model id.
    DfaDeviceInfo exact = deviceNamed("zero", "NoModel");
    DfaDeviceInfo other = deviceNamed("named", "NoModel");
    std::memcpy(other.manf_model_id, "BROX24\0\0", 8);
    DfaDeviceInfo module2 = deviceNamed("b2", "Bklyn2");
    for (const DfaDeviceInfo* d : {&exact, &other, &module2})
        front->addDfuDevice(*d);
    const size_t from = calls.size();
    DfaFilterInfo filter{};
    feed(DFA_ERR_DURATION_EXPIRE, DFA_CBACK_INF_DEVICE_LIST, filter);
    EXPECT_EQ(calls.since(from), std::vector<std::string>{"E2"});
    EXPECT_TRUE(front->getDeviceModelMatch("zero"));
    // dfa_model_id_equal would call the zero id equal to any id.
    EXPECT_FALSE(front->getDeviceModelMatch("named"));
    EXPECT_FALSE(front->getDeviceModelMatch("b2"));
}

TEST_F(DfuFront, RequestsWithoutTheAgentFailWithTheirCode)
{
    stopped();
    front->addDfuDevice(deviceNamed("dev1"));
    log.clear();
    EXPECT_EQ(front->reqDeviceList(), DFA_ERR_NO_INIT);
    EXPECT_TRUE(log.has("[ERROR] request device list. Function is DanteFirmwareUpdateModule::reqDeviceList()"));
    // Emptied before the post: a failed post leaves it empty.
    EXPECT_EQ(front->deviceCount(), 0u);
    EXPECT_EQ(front->reqStartUpdateTargetDevice(), DFA_ERR_NO_INIT);
    EXPECT_TRUE(
        log.has("[ERROR] request start update. Function is DanteFirmwareUpdateModule::reqStartUpdateTargetDevice()"));
}

TEST_F(DfuFront, InitializeDfaCodes)
{
    EXPECT_EQ(front->InitializeDfa(nullptr, kWantedMac), DFU_E_FAIL);
    EXPECT_EQ(front->InitializeDfa(&calls, nullptr), DFU_E_FAIL);
    m_probe.state = DFA_SERVICE_STOPPED;
    EXPECT_EQ(front->InitializeDfa(&calls, kWantedMac), DFU_E_CONMON_ABSENT);
    EXPECT_FALSE(front->isDfaInitialized());
    m_probe.state = DFA_SERVICE_RUNNING;
    m_probe.result = dfa_reason(DFA_REASON_OS);
    EXPECT_EQ(front->InitializeDfa(&calls, kWantedMac), DFU_E_EXIT);
    m_probe.result = DFA_OK;
    EXPECT_EQ(front->InitializeDfa(&calls, kWantedMac), DFU_OK);
    EXPECT_TRUE(front->isDfaInitialized());
    EXPECT_EQ(front->InitializeDfa(&calls, kWantedMac), DFU_E_DUP_INIT);
}

// Callbacks keep coming from other threads while the front goes away: none
// is delivered after the destructor has returned, and nothing touches freed
// memory (the sanitizer runs watch this).
TEST_F(DfuFront, TeardownDropsLateCallbacks)
{
    for (int round = 0; round < 20; ++round) {
        stopped();
        std::atomic<bool> stop{false};
        std::atomic<bool> gone{false};
        std::atomic<int> late{0};
        std::vector<std::thread> feeders;
        for (int t = 0; t < 3; ++t) {
            feeders.emplace_back([&] {
                const DfaInterfaceList empty{};
                for (int i = 0; i < 100000 && !stop; ++i) {
                    const bool wasGone = gone.load();
                    const size_t before = calls.size();
                    feed(DFA_ERR_NOERR, DFA_CBACK_INF_IF_LIST, empty);
                    feed(DFA_ERR_NOERR, DFA_CBACK_INF_GET_IF, Empty{});
                    feed(DFA_ERR_NOERR, DFA_CBACK_INF_SET_IF, Empty{});
                    if (wasGone && calls.size() != before)
                        late++;
                }
            });
        }
        ASSERT_TRUE(qtest::waitFor([&] { return calls.size() > 10; }, 3000));
        front.reset();
        gone = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stop = true;
        for (auto& t : feeders)
            t.join();
        EXPECT_EQ(late.load(), 0) << round;
        calls.clear();
        front = std::make_unique<DanteFirmwareUpdateModule>();
    }
}

} // namespace
