// The agent with its real conmon and cmm clients against fake_conmon.py
// (service and devices, 127.0.0.1:8900) and fake_cmm.py (127.0.0.1:8850),
// inside the test's own network namespace. Most tests add their devices on
// the agent's task, as the browser does; the browse tests find them through
// avahi-daemon in the peer namespace. The agent's clock is stepped by the
// tests, so its windows and time-outs pass in milliseconds of real time.
#include "tests/support/dante_agent_fakes.h"

#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_glue.h"
#include "dante/dfa/dfa_glue_parts.h"
#include "dante/dfa/dfa_task.h"
#include "dante/support/aud_env.h"
#include "dante/support/aud_text.h"
#include "pbd/OSWRAP/oswrap.h"

#include "tests/support/avahi_daemon.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace dfaagent;

struct Answer {
    DfaResult code;
    uint16_t kind;
    uint16_t reqId;
    std::vector<uint8_t> payload;
    template <class T> T as() const
    {
        T record{};
        std::memcpy(&record, payload.data(), sizeof record);
        return record;
    }
};

class Answers {
public:
    static Answers& instance()
    {
        static Answers a;
        return a;
    }
    static void callback(DfaResult code, const DfaCallbackInfo* info)
    {
        Answers& a = instance();
        std::lock_guard<std::mutex> guard(a.m_lock);
        a.m_all.push_back(
            {code, info->kind, info->req_id, std::vector<uint8_t>(info->payload, info->payload + DFA_PAYLOAD_MAX)});
        a.m_wake.notify_all();
    }
    // The first answer of this kind and req_id after index `from`.
    bool await(uint16_t kind, uint16_t reqId, Answer* out, int timeoutMs, size_t* from = nullptr)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        size_t start = from != nullptr ? *from : 0;
        return m_wake.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            for (size_t i = start; i < m_all.size(); ++i) {
                if (m_all[i].kind == kind && m_all[i].reqId == reqId) {
                    *out = m_all[i];
                    if (from != nullptr)
                        *from = i + 1;
                    return true;
                }
            }
            return false;
        });
    }
    size_t size()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_all.size();
    }
    size_t count(uint16_t kind)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        size_t n = 0;
        for (const Answer& a : m_all)
            n += a.kind == kind ? 1 : 0;
        return n;
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_all.clear();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<Answer> m_all;
};

const char16_t kFirst[] = u"eth-first";
const char16_t kSecond[] = u"eth-second";

DfaInterface interfaceNamed(const char16_t* name, uint8_t last)
{
    DfaInterface i{};
    std::memcpy(i.name, name, std::char_traits<char16_t>::length(name) * 2);
    const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, last};
    std::memcpy(i.mac, mac, sizeof mac);
    return i;
}

bool sameName(const DfaInterface& i, const char16_t* name)
{
    return std::char_traits<char16_t>::compare(i.name, name, std::char_traits<char16_t>::length(name) + 1) == 0;
}

// Brings up the fakes and the agent; INIT must arrive.
class Agent {
public:
    Agent(const std::vector<std::string>& conmonArgs, const std::vector<std::string>& cmmArgs)
        : m_conmon("fake_conmon.py", with({"--port", "8900", "--lifetime", "120"}, conmonArgs))
        , m_cmm("fake_cmm.py", with({"--port", "8850", "--lifetime", "120"}, cmmArgs))
    {
        static const bool started = [] {
            oswrap_init();
            return true;
        }();
        (void)started;
        Answers::instance().clear();
        dfa_set_glue(nullptr);
        dfa_set_print_level(std::getenv("DFA_GLUE_VERBOSE") != nullptr ? 2 : 1);
    }
    ~Agent() { dfa_terminate(); }
    bool ready() const { return m_conmon.ready() && m_cmm.ready(); }
    // The fakes are ready and the agent started with its INIT.
    bool up() { return ready() && start(&m_init); }
    const Answer& init() const { return m_init; }
    Peer& conmon() { return m_conmon; }
    Peer& cmm() { return m_cmm; }
    // Moves the agent's clock forward.
    void step(int seconds) { m_clock.step(seconds); }
    // Steps the clock by `seconds` until the answer comes (a few times at
    // most): the agent may record a send's time only after the peer has
    // already reported the send, so one step can land before it.
    bool stepUntil(int seconds, uint16_t kind, uint16_t reqId, Answer* out, size_t* from = nullptr)
    {
        for (int i = 0; i < 4; ++i) {
            step(seconds);
            if (Answers::instance().await(kind, reqId, out, 1000, from))
                return true;
        }
        return false;
    }
    // The same, until the conmon service prints `text`.
    bool stepUntilPrinted(int seconds, const std::string& text)
    {
        for (int i = 0; i < 4; ++i) {
            step(seconds);
            if (m_conmon.await(text, 1000))
                return true;
        }
        return false;
    }

    // Starts the agent and waits for its INIT.
    bool start(Answer* init)
    {
        uint16_t reqId = 0;
        if (dfa_init(&Answers::callback, &reqId) != DFA_ERR_NOERR)
            return false;
        return Answers::instance().await(DFA_CBACK_INF_INIT, reqId, init, 15000);
    }
    // Adds a device on the agent's task, as the browser will.
    static bool add(const char* name) { return postDevice(name); }
    // Adds a device and waits for it to be reported.
    bool addAndQuery(const char* name, Answer* device)
    {
        return add(name) && Answers::instance().await(DFA_CBACK_INF_DEVICE, 0, device, 10000, &m_deviceSeen);
    }
    // Posts one request and waits for its answer.
    bool request(std::function<DfaResult(uint16_t*)> post, uint16_t kind, Answer* out, int timeoutMs = 5000)
    {
        uint16_t reqId = 0;
        if (post(&reqId) != DFA_ERR_NOERR)
            return false;
        return Answers::instance().await(kind, reqId, out, timeoutMs);
    }

private:
    static std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    SteppedClock m_clock;
    Peer m_conmon;
    Peer m_cmm;
    size_t m_deviceSeen = 0;
    Answer m_init{};
};

TEST(DfaGlueAgent, StartsQueriesReportsAndReboots)
{
    AGENT_BED();
    Agent agent({"--device", "dev1,reset_silence=0.5"}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    EXPECT_EQ(agent.init().code, DFA_ERR_NOERR);
    EXPECT_TRUE(sameName(agent.init().as<DfaInterface>(), kFirst));

    Answer device{};
    ASSERT_TRUE(agent.addAndQuery("dev1", &device));
    const auto info = device.as<DfaDeviceInfo>();
    EXPECT_STREQ(info.name, "dev1");
    EXPECT_EQ(std::memcmp(info.module_model_id, "Bklyn2\0\0", 8), 0);
    EXPECT_STREQ(info.manf_model_name, "Brox 24");
    // Every number of the device's version words reaches the window: "4.2.7",
    // "4.2.3" and the manufacturer's "2.1.9" (a third number lost would make
    // an up-to-date module look older than its file).
    const auto triple = [](const DfaVersion& v) {
        return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.bugfix);
    };
    EXPECT_EQ(triple(info.dante_sw_version), "4.2.7");
    EXPECT_EQ(triple(info.dante_fw_version), "4.2.3");
    EXPECT_EQ(triple(info.manf_sw_version), "2.1.9");
    // No .dnt file is set: the device says so.
    EXPECT_NE(info.check_flags & DNT_FLAG_NO_INFO, 0);

    Answer stat{};
    ASSERT_TRUE(agent.request(
        [](uint16_t* id) { return dfa_req_get_device_stat("dev1", id); }, DFA_CBACK_INF_DEVICE_STAT, &stat));
    EXPECT_EQ(stat.code, DFA_ERR_NOERR);
    const auto record = stat.as<DfaDeviceStat>();
    EXPECT_STREQ(record.name, "dev1");
    const uint8_t address[4] = {127, 0, 0, 2};
    EXPECT_EQ(std::memcmp(record.ipv4, address, 4), 0);

    Answer missing{};
    ASSERT_TRUE(agent.request(
        [](uint16_t* id) { return dfa_req_get_device_stat("nobody", id); }, DFA_CBACK_INF_DEVICE_STAT, &missing));
    EXPECT_EQ(missing.code, DFA_ERR_NOT_FOUND);

    // Reboot: SYS_RESET with the mode, then the device is queried again
    // once it speaks.
    DfaReboot reboot{};
    std::strncpy(reboot.name, "dev1", sizeof reboot.name);
    reboot.mode = 1;
    Answer rebooted{};
    ASSERT_TRUE(agent.request([&](uint16_t* id) { return dfa_req_post(DFA_REQ_REBOOT_DEVICE, &reboot, id); },
        DFA_CBACK_INF_REBOOT, &rebooted));
    EXPECT_EQ(rebooted.code, DFA_ERR_NOERR);
    EXPECT_EQ(rebooted.as<DfaReboot>().mode, 1);
    Answer again{};
    size_t from = 0;
    ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_DEVICE, 0, &again, 10000, &from));
    ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_DEVICE, 0, &again, 10000, &from));
    EXPECT_STREQ(again.as<DfaDeviceInfo>().name, "dev1");
}

TEST(DfaGlueAgent, SilentDeviceGetsFourQueriesThenNothing)
{
    AGENT_BED();
    Agent agent({"--device", "mute,answer=never"}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    ASSERT_TRUE(Agent::add("mute"));
    // Four queries, each given up after 10 s, then the device is left alone.
    for (int query = 1; query <= 4; ++query) {
        ASSERT_TRUE(agent.conmon().await("SILENT", 3000)) << query;
        agent.step(11);
    }
    agent.conmon().countFor("SILENT", 500);
    for (int i = 0; i < 2; ++i) {
        agent.step(11);
        EXPECT_EQ(agent.conmon().countFor("SILENT", 500), 0) << i;
    }
    EXPECT_EQ(Answers::instance().count(DFA_CBACK_INF_DEVICE), 0u);
}

// A device without capability bit 0x1000, or with a "DvsWin" module, is
// ready without manufacturer versions; any other device waits for them.
TEST(DfaGlueAgent, ManufacturerVersionsAreAwaitedOnlyFromDevicesThatHaveThem)
{
    AGENT_BED();
    struct Row {
        const char* name;
        const char* spec;
        const char* modelName; // null: not reported
    };
    const Row rows[] = {
        {"withmanf", "withmanf", "Brox 24"},
        {"nocaps", "nocaps,caps=0,manf=0", ""},
        {"dvs", "dvs,platform=DvsWin3,manf=0", ""},
        {"needsmanf", "needsmanf,manf=0", nullptr},
    };
    std::vector<std::string> conmon;
    for (const Row& row : rows)
        conmon.insert(conmon.end(), {"--device", row.spec});
    Agent agent(conmon, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    for (const Row& row : rows) {
        if (row.modelName == nullptr) {
            const size_t before = Answers::instance().size();
            ASSERT_TRUE(Agent::add(row.name));
            const std::string sender = std::string("\"device\":\"") + row.name + "\"";
            EXPECT_TRUE(agent.conmon().printed({"SILENT", sender, "\"type\":193"}, 3000)) << row.name;
            size_t at = before;
            Answer device{};
            EXPECT_FALSE(Answers::instance().await(DFA_CBACK_INF_DEVICE, 0, &device, 1000, &at)) << row.name;
            continue;
        }
        Answer device{};
        ASSERT_TRUE(agent.addAndQuery(row.name, &device)) << row.name;
        const auto info = device.as<DfaDeviceInfo>();
        EXPECT_STREQ(info.name, row.name);
        EXPECT_STREQ(info.manf_model_name, row.modelName) << row.name;
    }
}

TEST(DfaGlueAgent, NoCurrentInterfaceChoosesTheFirstAndInitFollows)
{
    AGENT_BED();
    Agent agent({}, cmmWith(""));
    ASSERT_TRUE(agent.up());
    EXPECT_EQ(agent.init().code, DFA_ERR_NOERR);
    EXPECT_TRUE(sameName(agent.init().as<DfaInterface>(), kFirst));
}

TEST(DfaGlueAgent, InterfaceRequests)
{
    AGENT_BED();
    Agent agent({}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());

    Answer list{};
    ASSERT_TRUE(agent.request(&dfa_req_get_if_list, DFA_CBACK_INF_IF_LIST, &list));
    EXPECT_EQ(list.code, DFA_ERR_NOERR);
    EXPECT_EQ(list.as<DfaInterfaceList>().count, 2u);

    const DfaInterface first = interfaceNamed(kFirst, 1);
    Answer same{};
    ASSERT_TRUE(
        agent.request([&](uint16_t* id) { return dfa_req_set_dante_if(&first, id); }, DFA_CBACK_INF_SET_IF, &same));
    EXPECT_EQ(same.code, DFA_ERR_INTERFACE_SAME);

    const DfaInterface second = interfaceNamed(kSecond, 2);
    Answer changed{};
    ASSERT_TRUE(agent.request(
        [&](uint16_t* id) { return dfa_req_set_dante_if(&second, id); }, DFA_CBACK_INF_SET_IF, &changed, 8000));
    EXPECT_EQ(changed.code, DFA_ERR_NOERR);
    EXPECT_TRUE(sameName(changed.as<DfaInterface>(), kSecond));
    Answer reinit{};
    ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_INIT, 0, &reinit, 15000));
    EXPECT_TRUE(sameName(reinit.as<DfaInterface>(), kSecond));

    Answer current{};
    ASSERT_TRUE(agent.request(&dfa_req_get_dante_if, DFA_CBACK_INF_GET_IF, &current));
    EXPECT_TRUE(sameName(current.as<DfaInterface>(), kSecond));

    // Someone else moves it back: an unsolicited GET_IF.
    agent.cmm().command("current eth-first");
    Answer foreign{};
    ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_GET_IF, 0, &foreign, 5000));
    EXPECT_TRUE(sameName(foreign.as<DfaInterface>(), kFirst));
}

TEST(DfaGlueAgent, InterfaceLockedByAnotherProcess)
{
    AGENT_BED();
    std::vector<std::string> cmm = cmmWith("eth-first");
    cmm.insert(cmm.end(), {"--foreign", "other:99:1"});
    Agent agent({}, cmm);
    ASSERT_TRUE(agent.up());
    const DfaInterface second = interfaceNamed(kSecond, 2);
    Answer locked{};
    ASSERT_TRUE(
        agent.request([&](uint16_t* id) { return dfa_req_set_dante_if(&second, id); }, DFA_CBACK_INF_SET_IF, &locked));
    EXPECT_EQ(locked.code, DFA_ERR_INTERFACE_LOCKED);
}

TEST(DfaGlueAgent, RestartStopsTheRunningQueries)
{
    AGENT_BED();
    Agent agent({"--device", "mute,answer=never"}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    ASSERT_TRUE(Agent::add("mute"));
    ASSERT_TRUE(agent.conmon().await("SILENT", 3000));

    // An interface change restarts the conmon set-up.
    const DfaInterface second = interfaceNamed(kSecond, 2);
    Answer changed{};
    ASSERT_TRUE(agent.request(
        [&](uint16_t* id) { return dfa_req_set_dante_if(&second, id); }, DFA_CBACK_INF_SET_IF, &changed, 8000));
    Answer reinit{};
    ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_INIT, 0, &reinit, 15000));
    // A query left running would ask again every 2 s.
    agent.conmon().countFor("SILENT", 500);
    for (int i = 0; i < 2; ++i) {
        agent.step(3);
        EXPECT_EQ(agent.conmon().countFor("SILENT", 500), 0) << i;
    }
}

TEST(DfaGlueAgent, ForeignChangeWhileSetIfIsPendingIsReported)
{
    AGENT_BED();
    Agent agent({},
        {"--interface", "eth-first=02:00:00:00:00:01", "--interface", "eth-second=02:00:00:00:00:02", "--interface",
            "eth-third=02:00:00:00:00:03", "--current", "eth-first", "--knob", "invalid_state=1"});
    ASSERT_TRUE(agent.up());
    const DfaInterface second = interfaceNamed(kSecond, 2);
    uint16_t reqId = 0;
    ASSERT_EQ(dfa_req_set_dante_if(&second, &reqId), DFA_ERR_NOERR);
    // The manager got the configuration (and refuses it): the request is
    // pending from here.
    ASSERT_TRUE(agent.cmm().await("\"mask\":1", 3000));
    agent.cmm().command("current eth-third");
    Answer foreign{};
    ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_GET_IF, 0, &foreign, 5000));
    EXPECT_TRUE(sameName(foreign.as<DfaInterface>(), u"eth-third"));
    // The request itself ends by its time-out, once.
    Answer timedOut{};
    ASSERT_TRUE(agent.stepUntil(6, DFA_CBACK_INF_SET_IF, reqId, &timedOut));
    EXPECT_EQ(timedOut.code, DFA_ERR_TIMEOUT);
}

TEST(DfaGlueAgent, ChangeSeenFirstWhileChangingStillAnswers)
{
    AGENT_BED();
    Agent agent({},
        {"--interface", "eth-first=02:00:00:00:00:01", "--interface", "eth-second=02:00:00:00:00:02", "--current",
            "eth-first", "--knob", "changing=current"});
    ASSERT_TRUE(agent.up());
    const DfaInterface second = interfaceNamed(kSecond, 2);
    Answer changed{};
    ASSERT_TRUE(agent.request(
        [&](uint16_t* id) { return dfa_req_set_dante_if(&second, id); }, DFA_CBACK_INF_SET_IF, &changed, 8000));
    EXPECT_EQ(changed.code, DFA_ERR_NOERR);
    EXPECT_TRUE(sameName(changed.as<DfaInterface>(), kSecond));
}

TEST(DfaGlueAgent, ServiceGoneIsReportedAndNothingStaleIsServed)
{
    AGENT_BED();
    Agent agent({"--device", "dev1"}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    Answer device{};
    ASSERT_TRUE(agent.addAndQuery("dev1", &device));

    agent.conmon().command("close");
    ASSERT_TRUE(agent.conmon().await("CLOSED", 3000));
    // The service's port is probed every 5 s.
    Answer gone{};
    size_t from = 0;
    ASSERT_TRUE(agent.stepUntil(6, DFA_CBACK_INF_INIT, 0, &gone, &from));
    EXPECT_EQ(gone.code, DFA_ERR_CONMON_ABSENT);
    EXPECT_TRUE(sameName(gone.as<DfaInterface>(), u""));

    Answer stat{};
    ASSERT_TRUE(agent.request(
        [](uint16_t* id) { return dfa_req_get_device_stat("dev1", id); }, DFA_CBACK_INF_DEVICE_STAT, &stat));
    EXPECT_EQ(stat.code, DFA_ERR_CONMON_ABSENT);
    Answer list{};
    ASSERT_TRUE(
        agent.request([](uint16_t* id) { return dfa_req_get_device_list(10, id); }, DFA_CBACK_INF_DEVICE_LIST, &list));
    EXPECT_EQ(list.code, DFA_ERR_CONMON_ABSENT);
}

TEST(DfaGlueAgent, ManagerGoneClearsTheInterface)
{
    AGENT_BED();
    Agent agent({}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    // The next keepalive (every 10 s) finds the port closed.
    agent.cmm().command("close");
    ASSERT_TRUE(agent.cmm().await("CLOSED", 3000));
    Answer gone{};
    ASSERT_TRUE(agent.stepUntil(11, DFA_CBACK_INF_GET_IF, 0, &gone));
    EXPECT_EQ(gone.code, DFA_ERR_DAPI_OTHER);
    EXPECT_TRUE(sameName(gone.as<DfaInterface>(), u""));
    Answer current{};
    ASSERT_TRUE(agent.request(&dfa_req_get_dante_if, DFA_CBACK_INF_GET_IF, &current));
    EXPECT_EQ(current.code, DFA_ERR_PROGRESS);
}

// Points slot 0 (the module "Bklyn2") at module.dnt in a folder and at the
// TFTP server on 127.0.0.1:1999.
void setUpgradeSource(const std::string& folder = "/srv/dnt")
{
    DfaSettings settings{};
    const uint8_t address[4] = {127, 0, 0, 1};
    std::memcpy(settings.tftp_ipv4, address, 4);
    settings.tftp_port = 1999;
    aud_mbs_to_wcs(settings.dnt_dir, folder.c_str(), DFA_DNT_NAME_CHARS);
    ASSERT_EQ(dfa_set_dnt_dir(&settings), DFA_ERR_NOERR);
    ASSERT_EQ(dfa_set_dnt_file(u"module.dnt", 0), DFA_ERR_NOERR);
}

// Debian's tftpd-hpa serving a folder with a generated module.dnt on
// 127.0.0.1:1999, in the test's namespace.
class TftpServer {
public:
    TftpServer()
    {
        if (qtest::runCommand(
                "python3 " + qtest::peerPath("dnt_gen.py") + " " + m_dir.path() + " --only v3_wildcard >/dev/null")
            != 0)
            return;
        m_file = qtest::readFile(m_dir.file("v3_wildcard.dnt"));
        if (m_file.empty() || !qtest::writeFile(m_dir.file("module.dnt"), m_file))
            return;
        m_server = std::make_unique<qtest::ChildProcess>(std::vector<std::string>{
            "/usr/sbin/in.tftpd", "-l", "-L", "-a", "127.0.0.1:1999", "-u", "root", "-s", m_dir.path()});
        // Bound once port 1999 (0x07CF) shows in the socket table.
        for (int i = 0; i < 100 && !m_ready; ++i) {
            m_ready = qtest::readFile("/proc/net/udp").find(":07CF ") != std::string::npos;
            if (!m_ready)
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    }
    static bool installed() { return ::access("/usr/sbin/in.tftpd", X_OK) == 0; }
    bool ready() const { return m_ready; }
    const std::string& folder() const { return m_dir.path(); }
    const std::string& file() const { return m_file; }

private:
    qtest::TempDir m_dir;
    std::string m_file;
    std::unique_ptr<qtest::ChildProcess> m_server;
    bool m_ready = false;
};

// The finishing UPDATE_STATUS of a device.
bool awaitFinish(const char* name, Answer* out, size_t* from)
{
    while (Answers::instance().await(DFA_CBACK_INF_UPDATE_STATUS, 0, out, 8000, from)) {
        const auto status = out->as<DfaUpgradeStatus>();
        if (std::strcmp(status.name, name) == 0 && status.phase == DFA_PHASE_FINISH)
            return true;
    }
    return false;
}

TEST(DfaGlueAgent, UpgradesInBothRequestFormsFetchingTheFileOverTftp)
{
    if (!TftpServer::installed())
        GTEST_SKIP() << "tftpd-hpa missing: run scripts/bootstrap";
    AGENT_BED();
    TftpServer tftp;
    ASSERT_TRUE(tftp.ready());
    Agent agent({"--device", "dev3,tftp=1", "--device", "devlegacy,upgrade_version=0,tftp=1"}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    setUpgradeSource(tftp.folder());
    Answer device{};
    ASSERT_TRUE(agent.addAndQuery("dev3", &device));
    ASSERT_TRUE(agent.addAndQuery("devlegacy", &device));

    for (const char* name : {"dev3", "devlegacy"}) {
        Answer started{};
        ASSERT_TRUE(agent.request(
            [&](uint16_t* id) { return dfa_req_start_update(name, id); }, DFA_CBACK_INF_START_UPDATE, &started, 12000))
            << name;
        EXPECT_EQ(started.code, DFA_ERR_NOERR) << name;
        const auto request = started.as<DfaUpgradeRequest>();
        EXPECT_STREQ(request.name, name);
        EXPECT_TRUE(std::char_traits<char16_t>::compare(request.dnt_file, u"module.dnt", 11) == 0);
        // The fake checked the request field by field.
        EXPECT_TRUE(agent.conmon().await("\"problems\":[]", 3000)) << name;
    }
    size_t from = 0;
    Answer finish{};
    ASSERT_TRUE(awaitFinish("dev3", &finish, &from));
    EXPECT_EQ(finish.code, DFA_ERR_NOERR);
    EXPECT_EQ(finish.as<DfaUpgradeStatus>().percent, 100);
    from = 0;
    ASSERT_TRUE(awaitFinish("devlegacy", &finish, &from));
    EXPECT_EQ(finish.code, DFA_ERR_NOERR);
    // Each device fetched the whole file the request named.
    const std::string bytes = "\"bytes\":" + std::to_string(tftp.file().size()) + ",";
    for (const char* name : {"dev3", "devlegacy"})
        EXPECT_TRUE(agent.conmon().printed({"TFTP", name, "\"ok\":true", bytes}, 3000)) << name;

    Answer status{};
    ASSERT_TRUE(agent.request(
        [](uint16_t* id) { return dfa_req_get_update_status("dev3", id); }, DFA_CBACK_INF_UPDATE_STATUS, &status));
    EXPECT_EQ(status.code, DFA_ERR_NOERR);
    EXPECT_EQ(status.as<DfaUpgradeStatus>().phase, DFA_PHASE_FINISH);
    // One LOCK for both upgrades, one UNLOCK after the last (which may still
    // be on its way), and nothing more.
    int locks = 0;
    for (int i = 0; i < 100 && locks < 2; ++i)
        locks += agent.cmm().countFor("\"mask\":2", 100);
    locks += agent.cmm().countFor("\"mask\":2", 500);
    EXPECT_EQ(locks, 2);
}

// Scripted status series: the start is answered by the first status, each
// status gives its phase and percentage, and the last its code. An End-Fail
// that carries no error is still a failure.
TEST(DfaGlueAgent, UpgradeStatusSeriesGiveTheirPhasesAndCodes)
{
    AGENT_BED();
    struct Row {
        const char* name;
        const char* series;
        uint16_t firstPhase;
        uint16_t firstPercent;
        DfaResult end;
    };
    const Row rows[] = {
        {"devflash", "[[4, 0, 50, 200], [2, 0, 200, 200]]", DFA_PHASE_FLASH, 25, DFA_ERR_NOERR},
        {"devfail", "[[1, 0, 10, 100], [3, 0, 10, 100]]", DFA_PHASE_DOWNLOAD, 10, DFA_ERR_DAPI_UNKNOWN},
    };
    std::string devices;
    for (const Row& row : rows) {
        devices += devices.empty() ? "[" : ", ";
        devices += std::string(R"({"name": ")") + row.name + R"(", "upgrade_series": )" + row.series
            + R"(, "upgrade_step": 0.2})";
    }
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(dir.file("devices.json"), devices + "]"));
    Agent agent({"--devices", dir.file("devices.json")}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    setUpgradeSource();
    for (const Row& row : rows) {
        Answer device{};
        ASSERT_TRUE(agent.addAndQuery(row.name, &device)) << row.name;
        size_t at = Answers::instance().size();
        Answer started{};
        ASSERT_TRUE(agent.request(
            [&](uint16_t* id) { return dfa_req_start_update(row.name, id); }, DFA_CBACK_INF_START_UPDATE, &started))
            << row.name;
        EXPECT_EQ(started.code, DFA_ERR_NOERR) << row.name;
        Answer first{};
        ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_UPDATE_STATUS, 0, &first, 3000, &at)) << row.name;
        EXPECT_EQ(first.as<DfaUpgradeStatus>().phase, row.firstPhase) << row.name;
        EXPECT_EQ(first.as<DfaUpgradeStatus>().percent, row.firstPercent) << row.name;
        Answer finish{};
        ASSERT_TRUE(awaitFinish(row.name, &finish, &at)) << row.name;
        EXPECT_EQ(finish.code, row.end) << row.name;
    }
}

TEST(DfaGlueAgent, FileCheckIsKeptWhileTheFileStaysTheSame)
{
    AGENT_BED();
    qtest::TempDir dir;
    ASSERT_EQ(qtest::runCommand("python3 " + qtest::peerPath("dnt_gen.py") + " " + dir.path()
                  + " --only v3_wildcard v3_bad_crc >/dev/null"),
        0);
    const std::string file = dir.file("module.dnt");
    const std::string good = qtest::readFile(dir.file("v3_wildcard.dnt"));
    const std::string bad = qtest::readFile(dir.file("v3_bad_crc.dnt"));
    ASSERT_EQ(good.size(), bad.size());
    ASSERT_TRUE(qtest::writeFile(file, good));
    Agent agent({"--device", "one", "--device", "two", "--device", "three"}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    DfaSettings settings{};
    aud_mbs_to_wcs(settings.dnt_dir, dir.path().c_str(), DFA_DNT_NAME_CHARS);
    ASSERT_EQ(dfa_set_dnt_dir(&settings), DFA_ERR_NOERR);
    ASSERT_EQ(dfa_set_dnt_file(u"module.dnt", 0), DFA_ERR_NOERR);

    Answer device{};
    ASSERT_TRUE(agent.addAndQuery("one", &device));
    EXPECT_EQ(device.as<DfaDeviceInfo>().check_flags & DNT_FLAG_NO_INFO, 0);

    // Other bytes of the same size under the same time: the kept check.
    struct stat before { };
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    ASSERT_TRUE(qtest::writeFile(file, bad));
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_TRUE(agent.addAndQuery("two", &device));
    EXPECT_EQ(device.as<DfaDeviceInfo>().check_flags & DNT_FLAG_NO_INFO, 0);

    // A new time: checked again.
    const struct timespec later[2] = {{before.st_mtim.tv_sec + 10, 0}, {before.st_mtim.tv_sec + 10, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), later, 0), 0);
    ASSERT_TRUE(agent.addAndQuery("three", &device));
    EXPECT_NE(device.as<DfaDeviceInfo>().check_flags & DNT_FLAG_NO_INFO, 0);
}

// A file with two individual model descriptors (BROX24 and PELL16) against
// devices reporting either, another model, or none: the check flags of each
// device as it is reported.
TEST(DfaGlueAgent, DeviceModelIdsAgainstTheFilesModelDescriptors)
{
    AGENT_BED();
    qtest::TempDir dir;
    ASSERT_EQ(qtest::runCommand(
                  "python3 " + qtest::peerPath("dnt_gen.py") + " " + dir.path() + " --only v3_two_models >/dev/null"),
        0);
    struct Row {
        const char* name;
        const char* spec;
        uint16_t flags;
    };
    const Row rows[] = {
        {"brox", "brox", 0},
        {"pell", "pell,model_id=PELL16", 0},
        {"sorn", "sorn,model_id=SORN08", DNT_FLAG_MODEL},
        {"nomodel", "nomodel,model_id=_00", DNT_FLAG_NEEDS_MODEL_ID},
    };
    std::vector<std::string> conmon;
    for (const Row& row : rows)
        conmon.insert(conmon.end(), {"--device", row.spec});
    Agent agent(conmon, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    DfaSettings settings{};
    aud_mbs_to_wcs(settings.dnt_dir, dir.path().c_str(), DFA_DNT_NAME_CHARS);
    ASSERT_EQ(dfa_set_dnt_dir(&settings), DFA_ERR_NOERR);
    ASSERT_EQ(dfa_set_dnt_file(u"v3_two_models.dnt", 0), DFA_ERR_NOERR);
    for (const Row& row : rows) {
        Answer device{};
        ASSERT_TRUE(agent.addAndQuery(row.name, &device)) << row.name;
        EXPECT_STREQ(device.as<DfaDeviceInfo>().name, row.name);
        EXPECT_EQ(device.as<DfaDeviceInfo>().check_flags, row.flags) << row.name;
    }
}

// An upgrade that is never answered holds the agent's own interface lock:
// an interface change asked for meanwhile is refused and never reaches the
// manager. After 10 s the start times out, the device is ready again and
// the lock is given back.
TEST(DfaGlueAgent, UpgradeWithoutStatusHoldsTheLockUntilItTimesOut)
{
    AGENT_BED();
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(dir.file("devices.json"), R"([{"name": "quiet", "upgrade_series": []}])"));
    Agent agent({"--devices", dir.file("devices.json")}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    setUpgradeSource();
    Answer device{};
    ASSERT_TRUE(agent.addAndQuery("quiet", &device));
    uint16_t reqId = 0;
    ASSERT_EQ(dfa_req_start_update("quiet", &reqId), DFA_ERR_NOERR);
    ASSERT_TRUE(agent.conmon().await("UPGRADE", 5000));
    // The lock is applied and the new state sent back.
    ASSERT_TRUE(agent.cmm().await("\"mask\":2", 5000));
    ASSERT_TRUE(agent.cmm().await("\"what\":\"state\"", 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const DfaInterface second = interfaceNamed(kSecond, 2);
    Answer locked{};
    ASSERT_TRUE(
        agent.request([&](uint16_t* id) { return dfa_req_set_dante_if(&second, id); }, DFA_CBACK_INF_SET_IF, &locked));
    EXPECT_EQ(locked.code, DFA_ERR_INTERFACE_LOCKED);
    EXPECT_EQ(agent.cmm().countFor("\"mask\":1", 300), 0);
    // No status within 10 s.
    Answer started{};
    ASSERT_TRUE(agent.stepUntil(11, DFA_CBACK_INF_START_UPDATE, reqId, &started));
    EXPECT_EQ(started.code, DFA_ERR_TIMEOUT);
    EXPECT_STREQ(started.as<DfaUpgradeRequest>().name, "quiet");
    EXPECT_TRUE(agent.cmm().await("\"mask\":2", 3000));
    // Ready again: a second request is taken.
    Answer status{};
    ASSERT_TRUE(agent.request(
        [](uint16_t* id) { return dfa_req_get_device_stat("quiet", id); }, DFA_CBACK_INF_DEVICE_STAT, &status));
    EXPECT_EQ(status.code, DFA_ERR_NOERR);
}

// What the operator reads of the Dante side: the manager's events, the PC's
// name change, a change made by someone else and an upgrade's status dump.
TEST(DfaGlueAgent, LogLinesTellWhatHappened)
{
    AGENT_BED();
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(dir.file("devices.json"),
        R"([{"name": "odd", "report_protocol": 7, "upgrade_series": [[4, 0, 50, 200], [2, 0, 200, 200]]}])"));
    Agent agent({"--devices", dir.file("devices.json")}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.ready());
    dfa_set_print_level(2);
    testing::internal::CaptureStdout();
    Answer init{};
    const bool started = agent.start(&init);
    agent.conmon().command("name new-pc");
    const bool renamed = agent.conmon().await("\"what\":\"name\"", 3000);
    agent.cmm().command("current eth-second");
    Answer foreign{};
    const bool changed = Answers::instance().await(DFA_CBACK_INF_GET_IF, 0, &foreign, 5000);
    setUpgradeSource();
    Answer device{};
    size_t from = 0;
    const bool upgraded = agent.addAndQuery("odd", &device)
        && dfa_req_start_update("odd", &device.reqId) == DFA_ERR_NOERR && awaitFinish("odd", &device, &from);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string out = testing::internal::GetCapturedStdout();
    dfa_set_print_level(1);
    ASSERT_TRUE(started && renamed && changed && upgraded) << started << renamed << changed << upgraded;

    const char* const lines[] = {
        "[CMM   ]Client connection state is now CONNECTED\n",
        "[CMM   ]Info is:\n[CMM   ]Version: 4.2.1\n[CMM   ]Max Dante Networks: 2\n",
        "[CMM   ]Options have changed, now:\n[CMM   ]Interfaces:\n"
        "[CMM   ]  eth-first(02:00:00:00:00:01)\n[CMM   ]  eth-second(02:00:00:00:00:02)\n",
        "[CMM   ]State has changed, now:\n[CMM   ]System status: Ready (0001)\n"
        "[CMM   ]Dante device name: QUILLON-PC\n[CMM   ]Current config:\n[CMM   ]  eth-first(02:00:00:00:00:01)\n"
        "[CMM   ]Pending config:\n[CMM   ]Processes:\n[CMM   ]  fua: ",
        "[CMM   ]Request completed\n",
        "[CONMON]conmon_cb_device_name_changed fired, quillon-pc to new-pc\n",
        "[CMM   ]callback DFA_CBACK_INF_SET_IF, req_id=0x0000, \"eth-second\"\n",
        ">> manufacturer  = 56616c646f720000 'Valdor..'\n>> model         = 42524f5832340000 'BROX24..'\n",
        ">>> <unknown 7>://127.0.0.1:1999/module.dnt\n",
    };
    for (const char* line : lines)
        EXPECT_NE(out.find(line), std::string::npos) << line;
    // The agent's own lock shows in the process list while it upgrades.
    EXPECT_NE(out.find(" (true)\n"), std::string::npos);
}

TEST(DfaGlueAgent, ConnectIsRetriedUntilTheServiceAnswers)
{
    AGENT_BED();
    Agent agent({"--knob", "drop=0x0100"}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.ready());
    uint16_t reqId = 0;
    ASSERT_EQ(dfa_init(&Answers::callback, &reqId), DFA_ERR_NOERR);
    ASSERT_TRUE(agent.conmon().await("DROP", 3000));
    agent.conmon().command("set drop none");
    ASSERT_TRUE(agent.conmon().await("SET", 3000));
    // The connect is retried after 5 s.
    Answer init{};
    ASSERT_TRUE(agent.stepUntil(6, DFA_CBACK_INF_INIT, reqId, &init));
    EXPECT_EQ(init.code, DFA_ERR_NOERR);
}

TEST(DfaGlueAgent, NoServiceNoStart)
{
    AGENT_BED();
    uint16_t reqId = 1;
    EXPECT_EQ(dfa_init(&Answers::callback, &reqId), DFA_ERR_CONMON_ABSENT);
    EXPECT_EQ(reqId, 0);
}

TEST(DfaGlueAgent, InitTerminateInit)
{
    AGENT_BED();
    Agent agent({}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.ready());
    for (int i = 0; i < 2; ++i) {
        Answer init{};
        ASSERT_TRUE(agent.start(&init)) << i;
        EXPECT_EQ(dfa_terminate(), DFA_ERR_NOERR);
    }
}

// The agent stops within its time-out whatever it is doing (a failure code
// says the task did not end in time), and starts afresh after.
TEST(DfaGlueAgent, TerminatesInEveryPhaseAndStartsAgain)
{
    AGENT_BED();
    struct Phase {
        const char* name;
        std::vector<std::string> conmon;
        std::vector<std::string> cmm;
        // Brings the agent into the phase; the agent was started, not awaited.
        std::function<bool(Agent&, uint16_t startId)> enter;
    };
    auto started = [](Agent&, uint16_t id) {
        Answer init{};
        return Answers::instance().await(DFA_CBACK_INF_INIT, id, &init, 15000);
    };
    const std::vector<Phase> phases = {
        {"starting", {}, cmmWith("eth-first"), [](Agent&, uint16_t) { return true; }},
        {"conmon connect unanswered", {"--knob", "drop=0x0100"}, cmmWith("eth-first"),
            [](Agent& a, uint16_t) { return a.conmon().await("DROP", 3000); }},
        {"connect retry wait", {"--knob", "drop=0x0100"}, cmmWith("eth-first"),
            [](Agent& a, uint16_t) { return a.conmon().await("DROP", 3000) && a.stepUntilPrinted(6, "DROP"); }},
        {"browse window open", {}, cmmWith("eth-first"),
            [&](Agent& a, uint16_t id) {
                uint16_t list = 0;
                return started(a, id) && dfa_req_get_device_list(10, &list) == DFA_ERR_NOERR;
            }},
        {"query running", {"--device", "mute,answer=never"}, cmmWith("eth-first"),
            [&](Agent& a, uint16_t id) {
                return started(a, id) && Agent::add("mute") && a.conmon().await("SILENT", 3000);
            }},
        {"interface change pending", {}, cmmWith("eth-first") + std::vector<std::string>{"--knob", "invalid_state=1"},
            [&](Agent& a, uint16_t id) {
                const DfaInterface second = interfaceNamed(kSecond, 2);
                uint16_t set = 0;
                return started(a, id) && dfa_req_set_dante_if(&second, &set) == DFA_ERR_NOERR
                    && a.cmm().await("\"mask\":1", 3000);
            }},
    };
    for (const Phase& phase : phases) {
        Agent agent(phase.conmon, phase.cmm);
        ASSERT_TRUE(agent.ready()) << phase.name;
        uint16_t reqId = 0;
        ASSERT_EQ(dfa_init(&Answers::callback, &reqId), DFA_ERR_NOERR) << phase.name;
        ASSERT_TRUE(phase.enter(agent, reqId)) << phase.name;
        EXPECT_EQ(dfa_terminate(), DFA_ERR_NOERR) << phase.name;
        agent.conmon().command("set drop none");
        ASSERT_TRUE(agent.conmon().await("SET", 3000)) << phase.name;
        Answer init{};
        EXPECT_TRUE(agent.start(&init)) << phase.name;
    }
}

// ---- device discovery

// The PC's own Dante device, advertised from the test's namespace with the
// identity the conmon service hands the agent.
std::vector<std::string> ownAdvertisement()
{
    const std::string host = std::string("/quillon-pc/") + qtest::NetnsBed::kLocalAddress;
    return {"--interface", qtest::NetnsBed::kLocalInterface, "--lifetime", "120", "--service",
        "_netaudio-arc._udp/quillon-pc/4440" + host + "/arcp_vers=2.7.1;mf=_0001", "--service",
        "_netaudio-cmc._udp/quillon-pc/8800" + host + "/id=001dc1fffe000001;process=4242"};
}

// The devices reported from index `from` on, with their check flags.
std::map<std::string, uint16_t> reportedSince(size_t from)
{
    std::map<std::string, uint16_t> devices;
    Answer a{};
    while (Answers::instance().await(DFA_CBACK_INF_DEVICE, 0, &a, 0, &from))
        devices[a.as<DfaDeviceInfo>().name] = a.as<DfaDeviceInfo>().check_flags;
    return devices;
}

// Three complete devices (one of another manufacturer than the .dnt file's),
// one that answers too late for the window, one advertising its media
// service only, and the PC itself: a 10 s window reports the three with
// their check flags, then closes once with DFA_ERR_DURATION_EXPIRE and the
// file's filter information.
TEST(DfaGlueBrowse, WindowReportsFinishedDevicesThenClosesOnce)
{
    if (!qtest::AvahiDaemon::installed())
        GTEST_SKIP() << qtest::AvahiDaemon::kMissing;
    AGENT_BED();
    std::vector<qtest::AvahiDaemon::Service> services;
    publish(&services, "dev1", true, 1);
    publish(&services, "dev2", true, 2);
    publish(&services, "slowdev", true, 3);
    publish(&services, "mediaonly", false, 4);
    publish(&services, "othermanf", true, 5);
    qtest::AvahiDaemon avahi(bed, services);
    ASSERT_TRUE(avahi.ready()) << avahi.error();
    Peer own("mdns_responder.py", ownAdvertisement());
    ASSERT_TRUE(own.ready());

    const std::string veth = std::string(qtest::NetnsBed::kLocalInterface) + "=" + qtest::NetnsBed::kLocalAddress;
    Agent agent({"--interface", veth, "--device", "dev1", "--device", "dev2", "--device", "slowdev,late=2", "--device",
                    "mediaonly", "--device", "othermanf,manf_id=Othr"},
        cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());
    qtest::TempDir dnt;
    ASSERT_EQ(
        qtest::runCommand("python3 " + qtest::peerPath("dnt_gen.py") + " " + dnt.path()
            + " --only v3_wildcard >/dev/null && mv " + dnt.file("v3_wildcard.dnt") + " " + dnt.file("module.dnt")),
        0);
    setUpgradeSource(dnt.path());
    const std::map<std::string, uint16_t> expected = {{"dev1", 0}, {"dev2", 0}, {"othermanf", DNT_FLAG_MANUFACTURER}};

    for (int round = 0; round < 2; ++round) {
        const size_t from = Answers::instance().size();
        uint16_t reqId = 0;
        ASSERT_EQ(dfa_req_get_device_list(10, &reqId), DFA_ERR_NOERR);
        // Every device is found and queried again in each window.
        std::map<std::string, uint16_t> devices;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (devices.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            devices = reportedSince(from);
        }
        ASSERT_EQ(devices, expected) << round;
        // The slow device was asked but its answers are not in yet.
        ASSERT_TRUE(agent.conmon().printed({"DEVREQ", "slowdev"}, 100)) << round;

        agent.step(11);
        Answer list{};
        size_t listFrom = from;
        ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_DEVICE_LIST, reqId, &list, 3000, &listFrom)) << round;
        EXPECT_EQ(list.code, DFA_ERR_DURATION_EXPIRE);
        const auto filter = list.as<DfaFilterInfo>();
        EXPECT_EQ(std::memcmp(filter.platform, "Bklyn2\0\0", 8), 0);
        EXPECT_EQ(std::memcmp(filter.manf_id, "Valdor\0\0", 8), 0);
        // The slow device answers after the window: its query was stopped,
        // so it is not reported.
        EXPECT_TRUE(agent.conmon().printed({"DEVMSG", "slowdev"}, 5000)) << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(reportedSince(from), expected) << round;
        EXPECT_EQ(reportedSince(listFrom).size(), 0u) << round;
        Answer again{};
        EXPECT_FALSE(Answers::instance().await(DFA_CBACK_INF_DEVICE_LIST, reqId, &again, 0, &listFrom)) << round;
    }
    // Neither the device with one service nor the PC itself was queried.
    EXPECT_FALSE(agent.conmon().printed({"mediaonly"}, 100));
    EXPECT_FALSE(agent.conmon().printed({"quillon-pc"}, 0));
}

// A window of negative length browses without an end: devices are reported
// but no DFA_CBACK_INF_DEVICE_LIST closes it, however long it runs; the next
// request opens a window that does close.
TEST(DfaGlueBrowse, NegativeWindowBrowsesWithoutAnEnd)
{
    if (!qtest::AvahiDaemon::installed())
        GTEST_SKIP() << qtest::AvahiDaemon::kMissing;
    AGENT_BED();
    std::vector<qtest::AvahiDaemon::Service> services;
    publish(&services, "dev1", true, 1);
    qtest::AvahiDaemon avahi(bed, services);
    ASSERT_TRUE(avahi.ready()) << avahi.error();
    const std::string veth = std::string(qtest::NetnsBed::kLocalInterface) + "=" + qtest::NetnsBed::kLocalAddress;
    Agent agent({"--interface", veth, "--device", "dev1"}, cmmWith("eth-first"));
    ASSERT_TRUE(agent.up());

    uint16_t endless = 0;
    ASSERT_EQ(dfa_req_get_device_list(-1, &endless), DFA_ERR_NOERR);
    Answer device{};
    size_t from = 0;
    ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_DEVICE, 0, &device, 20000, &from));
    EXPECT_STREQ(device.as<DfaDeviceInfo>().name, "dev1");
    Answer list{};
    for (int i = 0; i < 4; ++i) {
        agent.step(20);
        EXPECT_FALSE(Answers::instance().await(DFA_CBACK_INF_DEVICE_LIST, endless, &list, 300)) << i;
    }

    uint16_t windowed = 0;
    ASSERT_EQ(dfa_req_get_device_list(10, &windowed), DFA_ERR_NOERR);
    ASSERT_TRUE(Answers::instance().await(DFA_CBACK_INF_DEVICE, 0, &device, 20000, &from));
    ASSERT_TRUE(agent.stepUntil(11, DFA_CBACK_INF_DEVICE_LIST, windowed, &list));
    EXPECT_EQ(list.code, DFA_ERR_DURATION_EXPIRE);
    EXPECT_FALSE(Answers::instance().await(DFA_CBACK_INF_DEVICE_LIST, endless, &list, 0));
}

} // namespace
