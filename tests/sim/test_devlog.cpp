// A third-generation unit's log, driven over SCP as the program drives it:
// the unit is asked to collect its files, its progress is polled, it is given
// a TFTP address and uploads its files there. The servers are real ones, ours
// and tftpd-hpa, on loopback in the test's own network namespace (their
// ports are fixed).
#include "fwupdate/tftp/tftp.h"
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"
#include "tests/sim/sim_unit.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace simtest;

namespace {

constexpr char kUri[] = "tftp://127.0.0.1:1999";

// One SCP connection, a request line at a time.
class LineClient {
public:
    explicit LineClient(uint16_t port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LineClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool connected() const { return m_fd >= 0; }

    // The reply to `line` (NOTIFY lines skipped), "" after 3 s of silence.
    std::string ask(const std::string& line)
    {
        const std::string out = line + "\n";
        if (::send(m_fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
            return "";
        for (;;) {
            const size_t end = m_input.find('\n');
            if (end != std::string::npos) {
                const std::string reply = m_input.substr(0, end);
                m_input.erase(0, end + 1);
                if (reply.rfind("NOTIFY", 0) == 0)
                    continue;
                return reply;
            }
            pollfd p{m_fd, POLLIN, 0};
            char buffer[1024];
            const ssize_t got = ::poll(&p, 1, 3000) > 0 ? ::recv(m_fd, buffer, sizeof buffer, 0) : 0;
            if (got <= 0)
                return "";
            m_input.append(buffer, static_cast<size_t>(got));
        }
    }

    // The item's text as the unit sends it, without quotes.
    std::string item(const char* category, int index)
    {
        const std::string head = std::string("OK LISTITEM ") + category + " " + std::to_string(index) + " \"";
        const std::string reply = ask(std::string("LISTITEM ") + category + " " + std::to_string(index));
        if (reply.rfind(head, 0) != 0 || reply.back() != '"')
            return reply;
        return reply.substr(head.size(), reply.size() - head.size() - 1);
    }

    // Polls the item until it reads `until` (bounded); the texts seen.
    std::vector<std::string> pollItem(const char* category, int index, const std::string& until)
    {
        std::vector<std::string> seen;
        for (int i = 0; i < 1000; ++i) {
            seen.push_back(item(category, index));
            if (seen.back() == until || seen.back().rfind("ERROR", 0) == 0 || seen.back().empty())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return seen;
    }

private:
    int m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string m_input;
};

class NoParent : public TFTPParentCallbackIF {
public:
    int32_t transferEvent(uint16_t, uint32_t) override { return 0; }
};

// A TFTP server on 127.0.0.1:1999 writing into `folder`.
class Server {
public:
    virtual ~Server() = default;
    virtual bool ready() const = 0;
};

class OurServer : public Server {
public:
    explicit OurServer(const std::string& folder)
    {
        const std::string root = folder + "/";
        m_ready = m_server.setup("127.0.0.1", 1999, root.c_str(), &m_parent) == TFTP_OK && m_server.start() == TFTP_OK;
    }
    ~OurServer() override { m_server.destroy(); }
    bool ready() const override { return m_ready; }

private:
    NoParent m_parent;
    TFTPServer m_server;
    bool m_ready = false;
};

class HpaServer : public Server {
public:
    static bool installed() { return ::access("/usr/sbin/in.tftpd", X_OK) == 0; }
    explicit HpaServer(const std::string& folder)
        : m_process({"/usr/sbin/in.tftpd", "-l", "-L", "-c", "-a", "127.0.0.1:1999", "-u", "root", "-s", folder})
    {
        // Bound once port 1999 (0x07CF) shows in the socket table.
        for (int i = 0; i < 100 && !m_ready; ++i) {
            m_ready = qtest::readFile("/proc/net/udp").find(":07CF ") != std::string::npos;
            if (!m_ready)
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    }
    bool ready() const override { return m_ready; }

private:
    qtest::ChildProcess m_process;
    bool m_ready = false;
};

// Bytes that show a shifted or lost block: ((i * 7 + seed) % 256).
std::string pattern(size_t size, int seed)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) % 256);
    return out;
}

class SimDeviceLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return; // the outer run only starts the inner one
        // tftpd-hpa resolves its address only while some interface other
        // than loopback has an IPv4 address.
        ASSERT_EQ(qtest::runCommand("ip link set lo up && ip link add qdl0 type veth peer name qdl1"
                                    " && ip addr add 198.18.9.1/24 dev qdl0 && ip link set qdl0 up"),
            0);
        oswrap_init();
        ASSERT_EQ(vsock_init(), VSOCK_OK);
        TFTPTimings quick;
        quick.resendMs = 100;
        quick.tickMs = 20;
        tftp_setTimings(quick);
    }
    void TearDown() override
    {
        if (qtest::insideTestNetns())
            vsock_term();
    }

    // A unit on loopback with two files: one ending in a short block, one
    // filling its last block exactly (so an empty block ends it). Its TFTP
    // client resends every 100 ms and gives a packet up after `tries` sends.
    void startUnit(int tries = 4)
    {
        SimUnitConfig config;
        config.layoutPath = qtest::sourcePath("tests/sim/layouts/sim400.xml");
        config.logFiles = {{"unit_status.log", pattern(1400, 1)}, {"unit_event.log", pattern(1024, 2)}};
        config.logItemMs = 100;
        config.tftpTimings.resendMs = 100;
        config.tftpTimings.tries = tries;
        std::string why;
        client.reset();
        unit = std::make_unique<SimUnit>();
        ASSERT_EQ(0, unit->start(config, &why)) << why;
        client = std::make_unique<LineClient>(unit->port());
        ASSERT_TRUE(client->connected());
    }

    std::unique_ptr<SimUnit> unit;
    std::unique_ptr<LineClient> client;
};

} // namespace

TEST_F(SimDeviceLogTest, CollectsItsFilesThenUploadsThemToARealServer)
{
    QTEST_IN_NETNS();
    // Both ends still resend every 100 ms, but a loaded machine may keep a
    // server or the unit's task off the processor for longer than a few
    // resends: here only an answer that never comes fails the upload.
    constexpr int kPatientTries = 50;
    TFTPTimings patient = tftp_timings();
    patient.maxResends = kPatientTries;
    tftp_setTimings(patient);
    // tftpd-hpa first: our server's port is let go only some time after it
    // stops, and tftpd-hpa's as soon as it is killed.
    for (const bool ours : {false, true}) {
        SCOPED_TRACE(ours ? "our server" : "tftpd-hpa");
        if (!ours && !HpaServer::installed()) {
            ADD_FAILURE() << "tftpd-hpa missing: run scripts/bootstrap";
            continue;
        }
        qtest::TempDir folder;
        std::unique_ptr<Server> server;
        if (ours)
            server = std::make_unique<OurServer>(folder.path());
        else
            server = std::make_unique<HpaServer>(folder.path());
        ASSERT_TRUE(server->ready());
        ASSERT_NO_FATAL_FAILURE(startUnit(kPatientTries));

        EXPECT_EQ("OK LISTITEMNUM IO:_CurSummary 2 0 1", client->ask("LISTITEMNUM IO:_CurSummary"));
        EXPECT_EQ("OK LISTITEMNUM IO:_EvtSummary 2 0 1", client->ask("LISTITEMNUM IO:_EvtSummary"));
        // Nothing is collected before the unit is asked to.
        EXPECT_EQ("0", client->item("IO:_CurSummary", 1));
        EXPECT_EQ(0u, client->ask("event logging \"start\"").rfind("OK event logging", 0));
        for (int file = 0; file < 2; ++file) {
            const std::vector<std::string> seen = client->pollItem("IO:_CurSummary", file, "100");
            ASSERT_EQ("100", seen.back()) << "file " << file;
            for (size_t i = 1; i < seen.size(); ++i)
                EXPECT_LE(std::stoi(seen[i - 1]), std::stoi(seen[i])) << "progress falls back";
        }
        EXPECT_EQ("ERROR LISTITEM IO:_CurSummary 2", client->ask("LISTITEM IO:_CurSummary 2"));

        EXPECT_EQ(0u, client->ask(std::string("event tftpuri \"") + kUri + "\"").rfind("OK event tftpuri", 0));
        for (int file = 0; file < 2; ++file)
            EXPECT_EQ("100", client->pollItem("IO:_EvtSummary", file, "100").back()) << unit->deviceLog()->lastError();
        for (const SimLogFile& f : unit->deviceLog()->files())
            EXPECT_TRUE(qtest::readFile(folder.file(f.name)) == f.bytes) << f.name;
        EXPECT_EQ("", unit->deviceLog()->lastError());
    }
}

// An upload that cannot happen reports -1 for every file, so a poller of the
// progress is not left waiting.
TEST_F(SimDeviceLogTest, AnUploadThatCannotHappenReportsFailureForEveryFile)
{
    QTEST_IN_NETNS();
    const struct {
        const char* uri;
        const char* error; // the start of the unit's reason
    } cases[] = {
        {"tftp://pc.local:1999", "not a TFTP address"}, {"ftp://127.0.0.1:1999", "not a TFTP address"},
        {"tftp://127.0.0.1:99999", "not a TFTP address"}, {kUri, "unit_status.log: no answer"}, // nothing listens
    };
    ASSERT_NO_FATAL_FAILURE(startUnit());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        client->ask(std::string("event tftpuri \"") + c.uri + "\"");
        EXPECT_EQ("-1", client->pollItem("IO:_EvtSummary", 0, "-1").back());
        EXPECT_EQ("-1", client->item("IO:_EvtSummary", 1));
        EXPECT_EQ(0u, unit->deviceLog()->lastError().rfind(c.error, 0)) << unit->deviceLog()->lastError();
    }
}
