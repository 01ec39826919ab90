// The agent's start, stop, loop and request processors with a fake service
// probe and a fake glue, and the service probe over the kernel's UDP tables.
#include "tests/dante/dfa/core/dfa_fixture.h"

#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"
#include "dante/dfa/dfa_task.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

using dfatest::Answer;
using dfatest::Recorder;

std::u16string nameOf(const Answer& a)
{
    const auto* text = reinterpret_cast<const char16_t*>(a.payload.data());
    return std::u16string(text, std::char_traits<char16_t>::length(text));
}

class DfaCoreAgent : public ::testing::Test {
protected:
    void SetUp() override
    {
        dfatest::ensureOswrap();
        dfa_set_print_level(0);
        Recorder::instance().clear();
        const DfaServiceProbe probe = m_probe.probe();
        dfa_set_service_probe(&probe);
        const DfaGlue glue = m_glue.glue();
        dfa_set_glue(&glue);
    }
    void TearDown() override
    {
        dfa_terminate();
        // Until every agent task is gone the fakes are still in use.
        ASSERT_TRUE(qtest::waitFor([] { return !dfa_main_active(); }, 6000));
        dfa_set_glue(nullptr);
        dfa_set_service_probe(nullptr);
        dfa_set_print_level(2);
    }

    // Starts the agent and waits for its DFA_CBACK_INF_INIT.
    void start()
    {
        uint16_t reqId = 0;
        ASSERT_EQ(dfa_init(&Recorder::callback, &reqId), DFA_ERR_NOERR);
        ASSERT_NE(reqId, 0);
        Answer init;
        ASSERT_TRUE(Recorder::instance().waitFor(reqId, &init));
        ASSERT_EQ(init.kind, DFA_CBACK_INF_INIT);
        ASSERT_EQ(init.code, DFA_ERR_NOERR);
        EXPECT_EQ(nameOf(init), u"eth-dante");
    }

    dfatest::FakeProbe m_probe;
    dfatest::FakeGlue m_glue;
};

TEST_F(DfaCoreAgent, InitTwiceLeavesTheRunningAgentAlone)
{
    start();
    uint16_t second = 99;
    EXPECT_EQ(dfa_init(&Recorder::callback, &second), DFA_ERR_DUP_INIT);
    EXPECT_EQ(second, 0);
    uint16_t reqId = 0;
    ASSERT_EQ(dfa_req_get_dante_if(&reqId), DFA_ERR_NOERR);
    Answer a;
    ASSERT_TRUE(Recorder::instance().waitFor(reqId, &a));
    EXPECT_EQ(a.kind, DFA_CBACK_INF_GET_IF);
    EXPECT_EQ(nameOf(a), u"eth-second");
    EXPECT_EQ(dfa_init(nullptr, nullptr), DFA_ERR_PARAM);
}

TEST_F(DfaCoreAgent, ServiceAbsentOrUnreadable)
{
    const struct {
        DfaStatus probe;
        uint32_t state;
        DfaResult code;
        const char* line;
    } cases[] = {
        {DFA_OK, DFA_SERVICE_STOPPED, DFA_ERR_CONMON_ABSENT,
            "[MAIN  ][ERROR]Not running: service=\"conmon\", state=SERVICE_STOPPED\n"},
        {DFA_OK, DFA_SERVICE_PAUSED, DFA_ERR_CONMON_ABSENT,
            "[MAIN  ][ERROR]Not running: service=\"conmon\", state=SERVICE_PAUSED\n"},
        {DFA_OK, 99, DFA_ERR_CONMON_ABSENT, "[MAIN  ][ERROR]Not running: service=\"conmon\", state=unknown\n"},
        {dfa_reason(DFA_REASON_SERVICE), 0, DFA_ERR_CONMON_ABSENT,
            "[MAIN  ][ERROR]QueryServiceStatus failed: service=\"conmon\""},
        {dfa_reason(DFA_REASON_OS), 0, DFA_ERR_EXIT, "[MAIN  ][ERROR]OpenSCManager failed"},
    };
    dfa_set_print_level(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        m_probe.result = c.probe;
        m_probe.state = c.state;
        uint16_t reqId = 5;
        testing::internal::CaptureStderr();
        EXPECT_EQ(dfa_init(&Recorder::callback, &reqId), c.code);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(reqId, 0);
        EXPECT_NE(err.find(c.line), std::string::npos) << err;
        EXPECT_FALSE(dfa_main_active());
        EXPECT_FALSE(dfa_task_ready());
    }
    dfa_set_print_level(0);
    m_probe.result = DFA_OK;
    m_probe.state = DFA_SERVICE_RUNNING;
    start();
}

TEST_F(DfaCoreAgent, ReqIdsSkipZeroWhenTheyWrap)
{
    dfa_set_last_req_id(0xFFFE);
    uint16_t initId = 0;
    ASSERT_EQ(dfa_init(&Recorder::callback, &initId), DFA_ERR_NOERR);
    EXPECT_EQ(initId, 0xFFFF);
    Answer a;
    ASSERT_TRUE(Recorder::instance().waitFor(initId, &a));
    uint16_t reqId = 0;
    ASSERT_EQ(dfa_req_get_dante_if(&reqId), DFA_ERR_NOERR);
    EXPECT_EQ(reqId, 1);
    ASSERT_TRUE(Recorder::instance().waitFor(1, &a));
    EXPECT_EQ(a.kind, DFA_CBACK_INF_GET_IF);
}

TEST_F(DfaCoreAgent, PostRefusals)
{
    start();
    const char name[32] = "dev";
    const struct {
        uint16_t kind;
        const void* parameter;
        bool withReqId;
        DfaResult code;
    } cases[] = {
        {12, name, true, DFA_ERR_UNKNOWN},
        {10, name, true, DFA_ERR_UNKNOWN},
        {0, name, true, DFA_ERR_NOT_IMPREMENTED},
        {2, name, true, DFA_ERR_NOT_IMPREMENTED},
        {3, nullptr, true, DFA_ERR_PARAM},
        {8, nullptr, true, DFA_ERR_PARAM},
        {3, name, false, DFA_ERR_PARAM},
        {7, nullptr, true, DFA_ERR_NOERR},
        {3, name, true, DFA_ERR_NOERR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        uint16_t reqId = 0;
        EXPECT_EQ(dfa_req_post(c.kind, c.parameter, c.withReqId ? &reqId : nullptr), c.code);
        if (c.code == DFA_ERR_NOERR) {
            Answer a;
            EXPECT_TRUE(Recorder::instance().waitFor(reqId, &a));
        }
    }
}

// Each processor's answer per failure reason: code, and whether it calls
// back at all. Rows without an answer are confirmed by a later request that
// does answer.
TEST_F(DfaCoreAgent, ProcessorAnswersPerReason)
{
    constexpr DfaStatus OK = DFA_OK;
    auto r = [](uint32_t reason) { return dfa_reason(reason); };
    auto lib = [](aud_error e) { return dfa_library_error(e); };
    constexpr DfaResult NONE = 0xFFFF; // no answer expected
    const struct {
        uint16_t kind;
        DfaStatus reason;
        DfaResult code;
    } cases[] = {
        {DFA_REQ_GET_DEVICE_LIST, OK, NONE},
        {DFA_REQ_GET_DEVICE_LIST, r(DFA_REASON_NOT_READY), DFA_ERR_PROGRESS},
        {DFA_REQ_GET_DEVICE_LIST, lib(AUD_TIMEDOUT), DFA_ERR_DAPI_TIMEOUT},
        {DFA_REQ_GET_DEVICE_LIST, lib(AUD_RANGE), DFA_ERR_DAPI_RANGE},
        {DFA_REQ_GET_DEVICE_LIST, lib(AUD_NOBUFS), DFA_ERR_DAPI_BUFOVR},
        {DFA_REQ_GET_DEVICE_LIST, lib(AUD_NOMEMORY), DFA_ERR_DAPI_OTHER},
        {DFA_REQ_GET_DEVICE_LIST, lib(AUD_SUCCESS), DFA_ERR_DAPI_OTHER},
        {DFA_REQ_GET_DEVICE_LIST, r(DFA_REASON_NOT_FOUND), DFA_ERR_UNKNOWN},
        {DFA_REQ_GET_DEVICE_STAT, OK, DFA_ERR_NOERR},
        {DFA_REQ_GET_DEVICE_STAT, r(DFA_REASON_NOT_FOUND), DFA_ERR_NOT_FOUND},
        {DFA_REQ_GET_DEVICE_STAT, r(DFA_REASON_BUSY), DFA_ERR_PROGRESS},
        {DFA_REQ_GET_DEVICE_STAT, r(DFA_REASON_NOT_READY), DFA_ERR_UNKNOWN},
        {DFA_REQ_START_UPDATE, OK, NONE},
        {DFA_REQ_START_UPDATE, r(DFA_REASON_NOT_FOUND), DFA_ERR_NOT_FOUND},
        {DFA_REQ_START_UPDATE, r(DFA_REASON_BUSY), DFA_ERR_PROGRESS},
        {DFA_REQ_START_UPDATE, lib(AUD_TIMEDOUT), DFA_ERR_DAPI_TIMEOUT},
        // No .dnt slot for the module: "no data", never success.
        {DFA_REQ_START_UPDATE, r(DFA_REASON_NO_DATA), DFA_ERR_DAPI_OTHER},
        {DFA_REQ_START_UPDATE, lib(AUD_SUCCESS), DFA_ERR_DAPI_OTHER},
        {DFA_REQ_START_UPDATE, r(DFA_REASON_NO_DNT), DFA_ERR_UNKNOWN},
        {DFA_REQ_GET_UPDATE_STATUS, OK, DFA_ERR_DAPI_UPGRADE_DNT_BAD_CRC},
        {DFA_REQ_GET_UPDATE_STATUS, r(DFA_REASON_NOT_FOUND), DFA_ERR_NOT_FOUND},
        {DFA_REQ_GET_UPDATE_STATUS, r(DFA_REASON_NO_STATUS), DFA_ERR_NOT_UPDATING},
        {DFA_REQ_GET_UPDATE_STATUS, r(DFA_REASON_BUSY), DFA_ERR_UNKNOWN},
        {DFA_REQ_REBOOT_DEVICE, OK, DFA_ERR_NOERR},
        {DFA_REQ_REBOOT_DEVICE, r(DFA_REASON_NOT_FOUND), DFA_ERR_NOT_FOUND},
        {DFA_REQ_REBOOT_DEVICE, r(DFA_REASON_BUSY), DFA_ERR_PROGRESS},
        {DFA_REQ_REBOOT_DEVICE, r(DFA_REASON_RANGE), DFA_ERR_PARAM},
        {DFA_REQ_REBOOT_DEVICE, lib(AUD_RANGE), DFA_ERR_DAPI_RANGE},
        {DFA_REQ_REBOOT_DEVICE, r(DFA_REASON_NOT_READY), DFA_ERR_UNKNOWN},
        {DFA_REQ_GET_IF_LIST, OK, DFA_ERR_NOERR},
        {DFA_REQ_GET_IF_LIST, r(DFA_REASON_NOT_READY), DFA_ERR_PROGRESS},
        {DFA_REQ_GET_IF_LIST, r(DFA_REASON_LIBRARY), DFA_ERR_DAPI_OTHER},
        {DFA_REQ_GET_IF_LIST, r(DFA_REASON_NO_DATA), DFA_ERR_DAPI_OTHER},
        {DFA_REQ_GET_IF_LIST, r(DFA_REASON_NOT_FOUND), DFA_ERR_UNKNOWN},
        {DFA_REQ_SET_DANTE_IF, OK, NONE},
        {DFA_REQ_SET_DANTE_IF, r(DFA_REASON_LOCKED), DFA_ERR_INTERFACE_LOCKED},
        {DFA_REQ_SET_DANTE_IF, r(DFA_REASON_BUSY), DFA_ERR_INTERFACE_CHANGING},
        {DFA_REQ_SET_DANTE_IF, r(DFA_REASON_RANGE), DFA_ERR_INTERFACE_SAME},
        {DFA_REQ_SET_DANTE_IF, r(DFA_REASON_NOT_FOUND), DFA_ERR_NOT_FOUND},
        {DFA_REQ_SET_DANTE_IF, r(DFA_REASON_NOT_READY), DFA_ERR_PROGRESS},
        {DFA_REQ_SET_DANTE_IF, r(DFA_REASON_LIBRARY), DFA_ERR_DAPI_OTHER},
        {DFA_REQ_SET_DANTE_IF, lib(AUD_NOBUFS), DFA_ERR_DAPI_BUFOVR},
        {DFA_REQ_SET_DANTE_IF, r(DFA_REASON_MISSING), DFA_ERR_UNKNOWN},
        {DFA_REQ_GET_DANTE_IF, OK, DFA_ERR_NOERR},
        {DFA_REQ_GET_DANTE_IF, r(DFA_REASON_NOT_READY), DFA_ERR_PROGRESS},
        {DFA_REQ_GET_DANTE_IF, r(DFA_REASON_LIBRARY), DFA_ERR_DAPI_OTHER},
        {DFA_REQ_GET_DANTE_IF, r(DFA_REASON_NOT_FOUND), DFA_ERR_UNKNOWN},
    };
    start();
    m_glue.upgradeCode = DFA_ERR_DAPI_UPGRADE_DNT_BAD_CRC;
    const DfaCallbackKind answerKind[DFA_REQ_COUNT] = {0, DFA_CBACK_INF_DEVICE_LIST, 0, DFA_CBACK_INF_DEVICE_STAT,
        DFA_CBACK_INF_START_UPDATE, DFA_CBACK_INF_UPDATE_STATUS, DFA_CBACK_INF_REBOOT, DFA_CBACK_INF_IF_LIST,
        DFA_CBACK_INF_SET_IF, DFA_CBACK_INF_GET_IF};
    for (const auto& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + " reason " + std::to_string(dfa_reason_of(c.reason)));
        for (auto& reason : m_glue.reasons)
            reason = DFA_OK;
        m_glue.reasons[c.kind] = c.reason;
        uint8_t parameter[sizeof(DfaInterface)] = {'u', 'n', 'i', 't', '1'};
        uint16_t reqId = 0;
        ASSERT_EQ(dfa_req_post(c.kind, parameter, &reqId), DFA_ERR_NOERR);
        Answer a;
        if (c.code == NONE) {
            m_glue.reasons[DFA_REQ_GET_DANTE_IF] = DFA_OK;
            uint16_t later = 0;
            ASSERT_EQ(dfa_req_get_dante_if(&later), DFA_ERR_NOERR);
            ASSERT_TRUE(Recorder::instance().waitFor(later, &a));
            EXPECT_FALSE(Recorder::instance().has(reqId));
            continue;
        }
        ASSERT_TRUE(Recorder::instance().waitFor(reqId, &a));
        EXPECT_EQ(a.code, c.code) << dfa_error_name(a.code);
        EXPECT_EQ(a.kind, answerKind[c.kind]);
        if (c.kind == DFA_REQ_GET_IF_LIST) {
            DfaInterfaceList list;
            std::memcpy(&list, a.payload.data(), sizeof list);
            EXPECT_EQ(list.count, c.reason == OK ? 2u : 0u);
        }
        if (c.kind == DFA_REQ_REBOOT_DEVICE
            || (c.reason == OK && c.kind != DFA_REQ_GET_DANTE_IF && c.kind != DFA_REQ_GET_IF_LIST)) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.payload.data())), "unit1");
        }
    }
}

TEST_F(DfaCoreAgent, ProcessorsRunAfterAWaitWithNoReadySocket)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    m_glue.socket = fd;
    start();
    ASSERT_TRUE(qtest::waitFor([&] { return m_glue.processorCalls.load() >= 5; }));
    EXPECT_EQ(m_glue.lastReady.load(), 0u);
    // The set is rebuilt only when a hook changes.
    EXPECT_EQ(m_glue.fillerCalls.load(), 1);
    dfa_terminate();
    close(fd);
}

TEST_F(DfaCoreAgent, IdleLoopWaitsItsPeriodWithoutSockets)
{
    // The clients never finish: every pass asks again, so the passes count.
    m_glue.conmonFinished = false;
    uint16_t reqId = 0;
    ASSERT_EQ(dfa_init(&Recorder::callback, &reqId), DFA_ERR_NOERR);
    ASSERT_TRUE(qtest::waitFor([&] { return m_glue.finishedQueries.load() > 0; }));
    const int before = m_glue.finishedQueries.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const int passes = m_glue.finishedQueries.load() - before;
    // 20 ms per pass: about 20 passes; a loop that spins makes thousands.
    EXPECT_GE(passes, 3);
    EXPECT_LE(passes, 60);
    EXPECT_EQ(Recorder::instance().count(), 0u);
}

TEST_F(DfaCoreAgent, TerminateEndsAGlueWaitAtOnce)
{
    m_glue.startBlockMs = 5000;
    uint16_t reqId = 0;
    ASSERT_EQ(dfa_init(&Recorder::callback, &reqId), DFA_ERR_NOERR);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(dfa_terminate(), DFA_ERR_NOERR);
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_FALSE(dfa_main_active());
    EXPECT_FALSE(dfa_task_ready());
    EXPECT_EQ(m_glue.terms.load(), 1);
}

TEST_F(DfaCoreAgent, FailedTaskStartIsReportedAndUndone)
{
    // Every task id taken: the agent's task cannot be made.
    std::vector<uint16_t> taken;
    for (int i = 0; i < 64; ++i) {
        OswrapTaskAttr attr;
        attr.entry = [](void*) {};
        attr.name = "filler";
        uint16_t id = 0;
        if (oswrap_createTask(&id, &attr) < 0)
            break;
        taken.push_back(id);
    }
    ASSERT_FALSE(taken.empty());
    uint16_t reqId = 7;
    EXPECT_EQ(dfa_init(&Recorder::callback, &reqId), DFA_ERR_EXIT);
    EXPECT_EQ(reqId, 0);
    EXPECT_FALSE(dfa_main_active());
    for (uint16_t id : taken)
        oswrap_deleteTask(id);
    start();
}

TEST_F(DfaCoreAgent, AgentThatEndedByItselfIsReplaced)
{
    // A failing initialisation ends the agent quietly; each new start must
    // reuse its task id rather than leave dormant tasks behind.
    m_glue.deviceListInit = dfa_reason(DFA_REASON_NO_MEMORY);
    for (int round = 0; round < 2 * OSWRAP_MAX_TASKS; ++round) {
        SCOPED_TRACE(round);
        uint16_t reqId = 0;
        ASSERT_EQ(dfa_init(&Recorder::callback, &reqId), DFA_ERR_NOERR);
        ASSERT_TRUE(qtest::waitFor([] { return !dfa_main_active(); }));
    }
    EXPECT_EQ(Recorder::instance().count(), 0u);
    m_glue.deviceListInit = DFA_OK;
    start();
}

TEST_F(DfaCoreAgent, PostsBeforeStartAndAfterStopAreRefused)
{
    uint16_t reqId = 3;
    EXPECT_EQ(dfa_req_get_if_list(&reqId), DFA_ERR_NO_INIT);
    EXPECT_EQ(reqId, 0);
    start();
    ASSERT_EQ(dfa_terminate(), DFA_ERR_NOERR);
    EXPECT_EQ(dfa_req_get_device_stat("unit", &reqId), DFA_ERR_NO_INIT);
    EXPECT_EQ(dfa_req_get_device_list(-1, &reqId), DFA_ERR_NO_INIT);
}

TEST_F(DfaCoreAgent, CallbackRefusals)
{
    const uint8_t payload[8] = {};
    EXPECT_EQ(dfa_main_callback(0, DFA_CBACK_INF_GET_IF, 1, payload, 8), dfa_reason(DFA_REASON_NOT_READY));
    start();
    EXPECT_EQ(dfa_main_callback(0, DFA_CBACK_INF_GET_IF, 1, nullptr, 8), dfa_reason(DFA_REASON_MISSING));
    EXPECT_EQ(dfa_main_callback(0, DFA_CBACK_INF_GET_IF, 1, payload, 0), dfa_reason(DFA_REASON_RANGE));
    EXPECT_EQ(dfa_main_callback(0, DFA_CBACK_INF_GET_IF, 1, payload, 1061), dfa_reason(DFA_REASON_RANGE));
    EXPECT_EQ(dfa_main_callback(0, 10, 1, payload, 8), dfa_reason(DFA_REASON_RANGE));
}

TEST_F(DfaCoreAgent, SettingsAndFileFunctions)
{
    const qtest::TempDir dir;
    ASSERT_EQ(qtest::runCommand("python3 " + qtest::peerPath("dnt_gen.py") + " " + dir.path()
                  + " --only v3_two_models v2_with_cap >/dev/null"),
        0);
    DfaSettings settings{};
    const std::u16string folder(dir.path().begin(), dir.path().end());
    ASSERT_LT(folder.size(), 78u);
    std::copy(folder.begin(), folder.end(), settings.dnt_dir);
    EXPECT_EQ(dfa_set_dnt_dir(&settings), DFA_ERR_PARAM); // no holder yet
    start();
    ASSERT_EQ(dfa_set_dnt_dir(&settings), DFA_ERR_NOERR);
    ASSERT_EQ(dfa_set_dnt_file(u"v3_two_models.dnt", 0), DFA_ERR_NOERR);
    ASSERT_EQ(dfa_set_dnt_file(u"/v2_with_cap.dnt", 1), DFA_ERR_NOERR);
    EXPECT_EQ(dfa_set_dnt_file(u"x.dnt", 2), DFA_ERR_PARAM);
    const DfaOverride none{};
    ASSERT_EQ(dfa_set_override(&none), DFA_ERR_NOERR);

    DfaFilterInfo filter{};
    ASSERT_EQ(dfa_check_dnt_override(&filter), DFA_ERR_NOERR);
    EXPECT_EQ(filter.model_id_count, 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(filter.model_ids[1]), "PELL16");

    const uint8_t pell[8] = {'P', 'E', 'L', 'L', '1', '6'};
    const auto info = std::make_unique<DntFileInfo>();
    ASSERT_EQ(dfa_get_dnt_file_info(pell, info.get(), 0), DFA_ERR_NOERR);
    EXPECT_EQ(info->md_count, 1);
    EXPECT_EQ(info->md[0].parts, 0x1Fu);
    ASSERT_EQ(dfa_get_dnt_file_info(pell, info.get(), 1), DFA_ERR_NOERR);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info->platform)), "Bklyn3");

    char16_t path[160];
    const uint8_t bklyn3[8] = {'B', 'k', 'l', 'y', 'n', '3'};
    ASSERT_EQ(dfa_get_dnt_path_for_model(path, 160, bklyn3), DFA_ERR_NOERR);
    EXPECT_EQ(std::u16string(path), folder + u"/v2_with_cap.dnt");
    EXPECT_EQ(dfa_get_dnt_path_for_model(path, 10, bklyn3), DFA_ERR_PARAM);
    const uint8_t other[8] = {'B', 'k', 'l', 'y', 'n', '9'};
    EXPECT_EQ(dfa_get_dnt_path_for_model(path, 160, other), DFA_ERR_PARAM);

    // A slot whose file is broken reports the check's code.
    ASSERT_EQ(dfa_set_dnt_file(u"missing.dnt", 0), DFA_ERR_NOERR);
    EXPECT_EQ(dfa_check_dnt_override(&filter), DFA_ERR_DNT_NOT_FOUND);
}

TEST(DfaCoreService, ProbeFindsABoundLoopbackPort)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const uint16_t port = ntohs(address.sin_port);

    const char* tables[] = {"/proc/net/udp", "/proc/net/udp6"};
    bool bound = false;
    ASSERT_EQ(dfa_service_udp_bound(tables, 2, port, &bound), DFA_OK);
    EXPECT_TRUE(bound);
    close(fd);
    ASSERT_EQ(dfa_service_udp_bound(tables, 2, port, &bound), DFA_OK);
    EXPECT_FALSE(bound);

    const char* missing[] = {"/proc/net/no-such-table"};
    EXPECT_EQ(dfa_service_udp_bound(missing, 1, port, &bound), dfa_reason(DFA_REASON_OS));
}

TEST(DfaCoreService, TableRowsByAddress)
{
    const qtest::TempDir dir;
    const std::string table = dir.file("udp");
    ASSERT_TRUE(qtest::writeFile(table,
        "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer "
        "drops\n"
        "  1: 0A00000F:22C4 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 1 2 0 0\n"
        "  2: 0100007F:22C5 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 1 2 0 0\n"));
    const char* tables[] = {table.c_str()};
    bool bound = true;
    // 8900 only on another address; 8901 on loopback.
    ASSERT_EQ(dfa_service_udp_bound(tables, 1, 8900, &bound), DFA_OK);
    EXPECT_FALSE(bound);
    ASSERT_EQ(dfa_service_udp_bound(tables, 1, 8901, &bound), DFA_OK);
    EXPECT_TRUE(bound);
    EXPECT_STREQ(dfa_service_state_name(DFA_SERVICE_START_PENDING), "SERVICE_START_PENDING");
    EXPECT_STREQ(dfa_service_state_name(0), "unknown");
}

} // namespace
