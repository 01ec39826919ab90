// The SCP client over real TCP against a scripted unit on loopback, and its
// receive loop against an in-memory transport.
#include "scp/scp_client.h"
#include "tests/pbd/vcom/test_vcom_support.h"
#include "tests/scp/scp_test_store.h"
#include "tests/support/memory_transport.h"

#include "tests/support/test_support.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

using namespace SCP;
using VCOM::VComTcpClientSocket;

class Sequence : public IScpConnectSequence {
public:
    Sequence(std::initializer_list<ScpConnectStep> steps)
        : steps(steps)
    {
    }
    int32_t stepCount() override { return static_cast<int32_t>(steps.size()); }
    JResult step(ScpConnectStep& out, int32_t index) override
    {
        if (index < 0 || index >= stepCount() || failAt == index)
            return SCP_E_INDEX;
        out = steps[static_cast<size_t>(index)];
        return SCP_OK;
    }
    std::vector<ScpConnectStep> steps;
    int32_t failAt = -1;
};

ScpConnectStep textStep(int32_t kind, const char* first, const char* second = nullptr)
{
    ScpConnectStep s;
    s.kind = kind;
    s.values[0] = reinterpret_cast<intptr_t>(first);
    s.values[1] = reinterpret_cast<intptr_t>(second);
    return s;
}

ScpConnectStep numberStep(int32_t kind, int32_t a, int32_t b = 0, int32_t c = 0)
{
    ScpConnectStep s;
    s.kind = kind;
    s.values[0] = a;
    s.values[1] = b;
    s.values[2] = c;
    return s;
}

class Observer : public IScpSynchronizeObserver {
public:
    explicit Observer(scptest::TestParameters& p)
        : params(p)
    {
    }
    JResult negotiated(ScpClient*) override
    {
        log.push_back("negotiated");
        return 0;
    }
    JResult associated(ScpClient*) override
    {
        log.push_back("associated");
        // What the last reply carried must already be stored.
        lastCellAtAssociated = params.cell(2, 1, 0);
        return 0;
    }
    JResult sequenceFailed(ScpClient*, bool association, int32_t step, JResult) override
    {
        log.push_back(std::string(association ? "association" : "negotiation") + " failed at " + std::to_string(step));
        return 0;
    }
    scptest::TestParameters& params;
    std::vector<std::string> log;
    int32_t lastCellAtAssociated = 0;
};

// Wakes the test thread, which then runs processEvents into the client.
class Link : public VCOM::IVComWakeupFunction {
public:
    int32_t wakeup(uint16_t, VCOM::IVCom*) override
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            woken = true;
        }
        cond.notify_all();
        return 0;
    }
    std::mutex lock;
    std::condition_variable cond;
    bool woken = false;
};

constexpr const char* kFader = "MIXER:Current/Fader/Level";

class ScpClientNet : public vcomtest::ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        client = ScpClient::create();
        ASSERT_NE(client, nullptr);
    }
    void TearDown() override
    {
        ScpClient::release(client);
        socket.reset();
        ServiceTest::TearDown();
    }

    void connect(const std::vector<std::string>& script, IScpSynchronizeObserver* obs = nullptr)
    {
        peer = std::make_unique<qtest::ChildProcess>(qtest::pythonPeer("scpclient_peer.py", script));
        std::string line;
        ASSERT_TRUE(peer->readLine(&line));
        ASSERT_EQ(line.rfind("PORT ", 0), 0u) << line;
        const uint16_t port = static_cast<uint16_t>(std::stoi(line.substr(5)));
        socket = std::make_unique<VComTcpClientSocket>();
        socket->attach(1, &link);
        ASSERT_EQ(client->attach(nullptr, socket.get(), obs ? obs : &observer, &device, &params, &meters), SCP_OK);
        ASSERT_GE(socket->connect(vcomtest::address("127.0.0.1"), vcomtest::address("127.0.0.1"), port), 0);
        ASSERT_TRUE(pump([&] { return client->isConnected(); }));
    }

    bool pump(const std::function<bool()>& pred, int timeoutMs = 5000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (pred())
                return true;
            {
                std::unique_lock<std::mutex> guard(link.lock);
                link.cond.wait_until(guard,
                    std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(10)),
                    [this] { return link.woken; });
                link.woken = false;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return pred();
            socket->processEvents(client);
        }
    }

    // True once the peer printed a line starting with prefix (reads what is
    // there, waiting a few milliseconds).
    bool peerSaid(const std::string& prefix)
    {
        std::string line;
        while (peer->readLine(&line, 5))
            peerLines.push_back(line);
        for (const std::string& l : peerLines) {
            if (l.rfind(prefix, 0) == 0)
                return true;
        }
        return false;
    }
    int peerCount(const std::string& prefix)
    {
        peerSaid(prefix);
        int n = 0;
        for (const std::string& l : peerLines)
            n += l.rfind(prefix, 0) == 0;
        return n;
    }

    Link link;
    std::unique_ptr<VComTcpClientSocket> socket;
    scptest::TestParameters params;
    scptest::TestDevice device;
    scptest::TestMeters meters;
    Observer observer{params};
    ScpClient* client = nullptr;
    std::unique_ptr<qtest::ChildProcess> peer;
    std::vector<std::string> peerLines;
};

TEST_F(ScpClientNet, NegotiationAndAssociationWithAUnit)
{
    connect({
        "wait devinfo",
        "send NOTIFY set MIXER:Current/Fader/Level 0 0 -500 \"-5.00\"\\n",
        "split OK devinfo productname \"QX16\"\\n",
        "wait scpmode",
        "send OK scpmode keepalive 1000\\n",
        "wait get",
        // A reply to some other request: stored, but no answer to the step.
        "send OK get MIXER:Current/Fader/Level 3 0 -300\\n",
        // Refusal of another word: no answer to the step either.
        "send ERROR set InvalidArgument\\n",
        "sleep 200",
        "mark answered",
        "send OK GET MIXER:Current/Fader/Level 0 0 -100\\n",
        "wait get",
        "send OK get MIXER:Current/Fader/Level 1 0 -200\\n",
    });
    // Before negotiation, requests through the client send nothing.
    EXPECT_EQ(client->devStatus("runmode"), SCP_OK);

    Sequence negotiation{textStep(SCP_STEP_DEVINFO, "productname"), textStep(SCP_STEP_SCPMODE, "keepalive", "1000")};
    ASSERT_EQ(client->start(&negotiation), SCP_OK);
    EXPECT_EQ(client->state(), SCP_STATE_NEGOTIATING);
    EXPECT_EQ(client->startAssociation(1, &negotiation), SCP_NOT_STARTED);
    ASSERT_TRUE(pump([&] { return client->isNegotiated(); }));
    EXPECT_EQ(observer.log, std::vector<std::string>{"negotiated"});
    EXPECT_EQ(params.cell(2, 0, 0), -500) << "a notification during negotiation reaches the handlers";
    EXPECT_EQ(client->base().session().keepAlive(), 1000u);

    Sequence association{numberStep(SCP_STEP_GET, 2, 0, 0), numberStep(SCP_STEP_GET, 2, 1, 0)};
    ASSERT_EQ(client->startAssociation(1, &association), SCP_OK);
    ASSERT_TRUE(pump([&] { return client->isAssociated(); }));
    EXPECT_EQ(params.cell(2, 3, 0), -300);
    EXPECT_EQ(params.cell(2, 0, 0), -100);
    EXPECT_EQ(observer.lastCellAtAssociated, -200);
    EXPECT_EQ(client->startAssociation(1, &association), SCP_NOT_STARTED);

    EXPECT_EQ(peerCount("REQ get|MIXER:Current/Fader/Level|0|0"), 1);
    EXPECT_EQ(peerCount("REQ get|MIXER:Current/Fader/Level|1|0"), 1);
    // The second step went out only after the step's own reply.
    const auto at
        = [&](const std::string& l) { return std::find(peerLines.begin(), peerLines.end(), l) - peerLines.begin(); };
    EXPECT_LT(at("MARK answered"), at("LINE get|MIXER:Current/Fader/Level|1|0"));
    EXPECT_EQ(peerCount("LINE devstatus"), 0);
}

TEST_F(ScpClientNet, AStepThatCannotBeFetchedIsSkipped)
{
    connect({"wait devinfo", "send ERROR devinfo UnknownTag\\n"});
    Sequence negotiation{textStep(SCP_STEP_DEVINFO, "productname")};
    ASSERT_EQ(client->start(&negotiation), SCP_OK);
    // The unit's refusal answers the step.
    ASSERT_TRUE(pump([&] { return client->isNegotiated(); }));

    // A parameter the family table cannot name, a kind with no request and a
    // step the sequence cannot give: the association still finishes.
    Sequence association{numberStep(SCP_STEP_GET, 99, 0, 0), numberStep(42, 0), numberStep(SCP_STEP_PRMNUM, 0)};
    association.failAt = 2;
    observer.log.clear();
    EXPECT_EQ(client->startAssociation(SCP_ASSOCIATE_READ, &association), SCP_OK);
    EXPECT_EQ(observer.log, std::vector<std::string>{"associated"});
    EXPECT_EQ(client->state(), SCP_STATE_ASSOCIATED);
}

TEST_F(ScpClientNet, TheOwnerCanTimeOutAStepThatIsNeverAnswered)
{
    connect({"wait devinfo", "stall"});
    Sequence negotiation{textStep(SCP_STEP_DEVINFO, "productname")};
    ASSERT_EQ(client->start(&negotiation), SCP_OK);
    ASSERT_TRUE(pump([&] { return peerSaid("REQ devinfo"); }));
    OswrapTimer timer;
    oswrap_startTimer(&timer, 200);
    pump([&] { return oswrap_checkTimer(&timer) == OSWRAP_TIMER_REACHED; });
    EXPECT_TRUE(client->isSequenceRunning());
    EXPECT_EQ(client->stepIndex(), 0);
    EXPECT_EQ(client->cancelSequence(), SCP_OK);
    EXPECT_FALSE(client->isSequenceRunning());
    EXPECT_EQ(client->state(), SCP_STATE_IDLE);
    EXPECT_EQ(client->cancelSequence(), SCP_NOT_STARTED);
    EXPECT_TRUE(observer.log.empty());
}

// A handler that stops the client in the middle of a read.
class StoppingDevice : public scptest::TestDevice {
public:
    JResult event(int32_t id, const ScpText& eventId, const ScpText& data) override
    {
        TestDevice::event(id, eventId, data);
        if (client)
            client->stop();
        return 0;
    }
    ScpClient* client = nullptr;
};

// The decoder is replaced by a "format" reply and freed by a stop while the
// rest of the same read is still being fed (run under ASan).
TEST_F(ScpClientNet, DecoderReplacedOrFreedInTheMiddleOfARead)
{
    connect({"wait devstatus",
        "send OK scpmode format json\\n"
        "{\"result\":\"NOTIFY\",\"command\":\"set\",\"address\":\"MIXER:Current/Fader/Level\",\"x\":2,\"y\":1,"
        "\"param\":-42,\"text\":\"x\"}\\n"
        "{\"result\":\"NOTIFY\",\"command\":\"event\",\"eventid\":\"halt\",\"data\":\"now\"}\\n"
        "{\"result\":\"NOTIFY\",\"command\":\"set\",\"address\":\"MIXER:Current/Fader/Level\",\"x\":3,\"y\":1,"
        "\"param\":-43,\"text\":\"x\"}\\n"});
    StoppingDevice stopping;
    // Re-attach with the stopping device on a fresh client.
    ScpClient::release(client);
    client = ScpClient::create();
    stopping.client = client;
    socket->attach(1, &link);
    ASSERT_EQ(client->attach(nullptr, socket.get(), &observer, &stopping, &params, &meters), SCP_OK);
    client->OnConnected(1, 0);
    ASSERT_EQ(client->start(nullptr), SCP_OK);
    ASSERT_TRUE(client->isNegotiated());
    EXPECT_EQ(client->devStatus("runmode"), SCP_OK);
    ASSERT_TRUE(pump([&] { return !stopping.events.empty(); }));
    EXPECT_EQ(params.cell(2, 2, 1), -42) << "the line after the switch is read as JSON";
    EXPECT_EQ(params.cell(2, 3, 1), -13800) << "nothing is handled after the stop";
    EXPECT_EQ(client->state(), SCP_STATE_IDLE);
}

TEST_F(ScpClientNet, DataReceivedBeforeTheStartIsHandledAtTheStart)
{
    connect({"send NOTIFY set MIXER:Current/Fader/Level 0 1 -11 x\\nnotify SET MIXER:Current/Fader/Level 1 1 -12 x\\n"
             "NOTIFY bogus 1 2\\n"});
    pump([] { return false; }, 300);
    EXPECT_EQ(params.cell(2, 0, 1), -13800);
    ASSERT_EQ(client->start(nullptr), SCP_OK);
    EXPECT_EQ(params.cell(2, 0, 1), -11);
    EXPECT_EQ(params.cell(2, 1, 1), -12) << "words are recognised without regard to case";
}

TEST_F(ScpClientNet, KeepAliveIsSentWhenDue)
{
    static std::atomic<uint32_t> fakeTick{1000};
    oswrap_setTickSource([] { return fakeTick.load(); });
    struct Restore {
        ~Restore() { oswrap_setTickSource(nullptr); }
    } restore;
    connect({"wait scpmode", "send OK scpmode keepalive 1000\\n", "keepalive 5000"});
    EXPECT_EQ(client->keepAliveTick(), SCP_NOT_STARTED);
    Sequence negotiation{textStep(SCP_STEP_SCPMODE, "keepalive", "1000")};
    ASSERT_EQ(client->start(&negotiation), SCP_OK);
    EXPECT_EQ(client->keepAliveTick(), SCP_OK) << "keep-alive still off";
    ASSERT_TRUE(pump([&] { return client->isNegotiated(); }));
    fakeTick += 999;
    EXPECT_EQ(client->keepAliveTick(), SCP_OK);
    pump([] { return false; }, 100);
    EXPECT_FALSE(peerSaid("KEEPALIVE"));
    fakeTick += 1;
    EXPECT_EQ(client->keepAliveTick(), SCP_OK);
    EXPECT_TRUE(pump([&] { return peerSaid("KEEPALIVE"); }));
    EXPECT_EQ(peerCount("LINE "), 2) << "the request and one keep-alive line";
}

TEST_F(ScpClientNet, ResetInTheMiddleOfALine)
{
    connect({"send NOTIFY set MIXER:Current/Fader/Level 0 0 -7", "sleep 50", "reset"});
    ASSERT_EQ(client->start(nullptr), SCP_OK);
    ASSERT_TRUE(pump([&] { return !client->isConnected(); }));
    EXPECT_EQ(client->state(), SCP_STATE_IDLE);
    EXPECT_EQ(params.cell(2, 0, 0), -13800);
    EXPECT_EQ(socket->state(), VCOM::VCOM_STATE_CLOSED);
}

// ---------------------------------------------------------------------------
// The base client's receive loop and requests over an in-memory transport.

TEST(ScpBaseClient, ReceiveLoopAndRequestStates)
{
    qtest::MemoryTransport t(5);
    scptest::TestParameters params;
    scptest::TestDevice device;
    scptest::TestMeters meters;
    ScpBaseClient c;
    EXPECT_EQ(c.OnReceive(5, 0), SCP_E_NOTATTACHED);
    EXPECT_EQ(c.keepAliveTick(), SCP_E_NOTATTACHED);
    ASSERT_EQ(c.attach(nullptr, &t, nullptr, &device, &params, &meters), SCP_OK);
    EXPECT_EQ(c.attach(nullptr, &t, nullptr, &device, &params, &meters), SCP_E_NOTATTACHED);
    EXPECT_EQ(c.status(), SCP_NOT_STARTED);
    EXPECT_EQ(c.get(2, 0, 0), SCP_E_NOTREADY);
    EXPECT_TRUE(t.sent.empty());

    // Two lines and half of a third in one read; the rest in the next.
    t.chunk = 40;
    t.queue("OK get MIXER:Current/Fader/Level 0 0 -1\n"
            "ok get MIXER:Current/Fader/Level 1 0 -2\n"
            "OK get MIXER:Current/Fad"
            "er/Level 2 0 -3\nNOTIFY nosuchword 1\nOK get MIXER:Current/Fader/Level 3 0 -4\n");
    ASSERT_EQ(c.start(), SCP_OK);
    EXPECT_EQ(params.cell(2, 0, 0), -1);
    EXPECT_EQ(params.cell(2, 1, 0), -2);
    EXPECT_EQ(params.cell(2, 2, 0), -3);
    EXPECT_EQ(params.cell(2, 3, 0), -4);

    EXPECT_EQ(c.get(2, 1, 1), SCP_OK);
    EXPECT_EQ(t.sent, "get MIXER:Current/Fader/Level 1 1\n");
    EXPECT_EQ(c.get(77, 0, 0), SCP_E_FAIL) << "an address the parameter cannot name";
    t.sent.clear();
    EXPECT_EQ(c.keepAliveTick(), SCP_OK);
    EXPECT_TRUE(t.sent.empty()) << "keep-alive is off";
    t.open = false;
    EXPECT_EQ(c.get(2, 0, 0), SCP_E_NOTREADY);
    EXPECT_FALSE(c.isReady());
}

// Steps that cannot be fetched (the step itself, a parameter or meter that
// cannot be named, a kind with no request) are skipped; a step whose request
// the link does not take ends the sequence, so a dead link is never reported
// as negotiated.
TEST(ScpClientSequence, UnfetchableStepsAreSkippedUnsentOnesFail)
{
    const struct {
        const char* what;
        Sequence sequence;
        int32_t failAt;
        bool linkFails;
        const char* written;
        std::vector<std::string> log;
        ScpClientState state;
    } cases[] = {
        {"unnamed parameter", {numberStep(SCP_STEP_GET, 99, 0, 0), textStep(SCP_STEP_DEVINFO, "productname")}, -1,
            false, "devinfo productname\n", {}, SCP_STATE_NEGOTIATING},
        {"unknown meter", {numberStep(SCP_STEP_MTRSTART, 9, 100), numberStep(SCP_STEP_PRMNUM, 0)}, -1, false,
            "prmnum\n", {}, SCP_STATE_NEGOTIATING},
        {"unknown kind", {numberStep(42, 0), numberStep(SCP_STEP_PRMNUM, 0)}, -1, false, "prmnum\n", {},
            SCP_STATE_NEGOTIATING},
        {"step not given", {numberStep(SCP_STEP_PRMNUM, 0), numberStep(SCP_STEP_MTRNUM, 0)}, 0, false, "mtrnum\n", {},
            SCP_STATE_NEGOTIATING},
        {"every step unfetchable", {numberStep(SCP_STEP_GET, 99, 0, 0), numberStep(42, 0)}, -1, false, "",
            {"negotiated"}, SCP_STATE_NEGOTIATED},
        {"link takes nothing", {numberStep(SCP_STEP_PRMNUM, 0), numberStep(SCP_STEP_MTRNUM, 0)}, -1, true, "",
            {"negotiation failed at 0"}, SCP_STATE_IDLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qtest::MemoryTransport t(5);
        t.writeResult = c.linkFails ? VCOM::VCOM_E_FAIL : VCOM::VCOM_PENDING;
        scptest::TestParameters params;
        scptest::TestDevice device;
        scptest::TestMeters meters;
        Observer observer{params};
        ScpClient client;
        ASSERT_EQ(client.attach(nullptr, &t, &observer, &device, &params, &meters), SCP_OK);
        ASSERT_EQ(client.OnConnected(5, 0), SCP_OK);
        Sequence sequence = c.sequence;
        sequence.failAt = c.failAt;
        ASSERT_EQ(client.start(&sequence), SCP_OK);
        EXPECT_EQ(t.sent, c.written);
        EXPECT_EQ(observer.log, c.log);
        EXPECT_EQ(client.state(), c.state);
    }
}

TEST(ScpBaseClient, NormalizedChangesUseTheSessionResolution)
{
    qtest::MemoryTransport t(5);
    scptest::TestParameters params;
    scptest::TestDevice device;
    scptest::TestMeters meters;
    ScpBaseClient c;
    ASSERT_EQ(c.attach(nullptr, &t, nullptr, &device, &params, &meters), SCP_OK);
    ASSERT_EQ(c.start(), SCP_OK);
    const auto& p = params.params[2];
    params.cell(2, 0, 0) = p.maximum;

    c.session().setResolution(1000);
    ASSERT_EQ(c.setNFromMemory(2, 0, 0), SCP_OK);
    EXPECT_NE(t.sent.find(" 1000\n"), std::string::npos) << t.sent;
    t.sent.clear();
    ASSERT_EQ(c.session().setResolution(4000), SCP_OK);
    ASSERT_EQ(c.setNFromMemory(2, 0, 0), SCP_OK);
    EXPECT_NE(t.sent.find(" 4000\n"), std::string::npos) << t.sent;
}

} // namespace
