// Servers as their owners see them: setup, start, several servers in one
// process, the parent events, and names that try to leave the root.
#include "tests/fwupdate/tftp/tftp_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace tftptest;

class TftpServers : public TftpNetTest { };

std::string tftpGet(uint16_t port, const std::string& name, const std::string& to)
{
    return "tftp -m binary " + std::string(kHost) + " " + std::to_string(port) + " -c get " + name + " " + to;
}

TEST_F(TftpServers, SetupAndStartRefuseWhatCannotWork)
{
    QTEST_IN_NETNS();
    TFTPServer server;
    EXPECT_EQ(server.state(), TFTP_SERVER_CREATED);
    EXPECT_LT(server.start(), 0); // not set up
    EXPECT_LT(server.setup("127.0.0.256", kPort, "/tmp/", &events), 0);
    EXPECT_LT(server.setup(kHost, kPort, nullptr, &events), 0);
    // A folder that does not fit is refused rather than cut to another one.
    const std::string tooLong = "/" + std::string(TFTP_ROOT_MAX - 1, 'd');
    EXPECT_LT(server.setup(kHost, kPort, tooLong.c_str(), &events), 0);
    EXPECT_EQ(server.state(), TFTP_SERVER_CREATED);
    const std::string fits = "/" + std::string(TFTP_ROOT_MAX - 2, 'd');
    EXPECT_EQ(server.setup(kHost, kPort, fits.c_str(), &events), TFTP_OK);
    EXPECT_EQ(server.state(), TFTP_SERVER_SET_UP);
    EXPECT_EQ(server.start(), TFTP_OK);
    EXPECT_EQ(server.state(), TFTP_SERVER_RUNNING);
    EXPECT_LT(server.start(), 0);
    EXPECT_LT(server.setup(kHost, kPort, "/tmp/", &events), 0); // running
    server.destroy();
    EXPECT_EQ(server.state(), TFTP_SERVER_CREATED);
}

TEST_F(TftpServers, TwoServersInOneProcess)
{
    QTEST_IN_NETNS();
    qtest::TempDir otherRoot, local;
    TFTPServer* first = startServer(kPort);
    // A second owner on the same port is told so: nobody would serve it.
    TFTPServer same;
    ASSERT_EQ(same.setup(kHost, kPort, (otherRoot.path() + "/").c_str(), &events), TFTP_OK);
    EXPECT_LT(same.start(), 0);

    Events otherEvents;
    TFTPServer* other = startServer(2999, otherRoot.path(), &otherEvents);
    put("a.bin", pattern(300000, 1));
    qtest::writeFile(otherRoot.file("b.bin"), pattern(300000, 2));
    // Both at once: their children share the port range without a clash.
    ASSERT_EQ(qtest::runCommand("(" + tftpGet(kPort, "a.bin", local.file("a")) + ") & ("
                  + tftpGet(2999, "b.bin", local.file("b")) + ") & wait"),
        0);
    EXPECT_TRUE(qtest::readFile(local.file("a")) == pattern(300000, 1));
    EXPECT_TRUE(qtest::readFile(local.file("b")) == pattern(300000, 2));

    // Destroying one server leaves the other served by the task.
    servers.erase(servers.begin());
    (void)first;
    ASSERT_EQ(qtest::runCommand(tftpGet(2999, "b.bin", local.file("b2"))), 0);
    EXPECT_TRUE(qtest::readFile(local.file("b2")) == pattern(300000, 2));
    EXPECT_EQ(other->state(), TFTP_SERVER_RUNNING);
    // And the port is free for a new owner.
    TFTPServer again;
    ASSERT_EQ(again.setup(kHost, kPort, (root->path() + "/").c_str(), &events), TFTP_OK);
    EXPECT_EQ(again.start(), TFTP_OK);
    ASSERT_EQ(qtest::runCommand(tftpGet(kPort, "a.bin", local.file("a2"))), 0);
    EXPECT_TRUE(qtest::readFile(local.file("a2")) == pattern(300000, 1));
}

// A parent that reads the progress from inside its callback, as owners do.
class ProgressParent : public Events {
public:
    int32_t transferEvent(uint16_t childId, uint32_t event) override
    {
        if (event == TFTP_EVENT_BLOCK_SENT && server) {
            const uint32_t bytes = server->bytesSentByChild(childId);
            std::lock_guard<std::mutex> guard(m_progressLock);
            m_progress.push_back(bytes);
        }
        return Events::transferEvent(childId, event);
    }
    std::vector<uint32_t> progress()
    {
        std::lock_guard<std::mutex> guard(m_progressLock);
        return m_progress;
    }
    TFTPServer* server = nullptr; // set before the server starts

private:
    std::mutex m_progressLock;
    std::vector<uint32_t> m_progress;
};

TEST_F(TftpServers, ParentEventsInOrder)
{
    QTEST_IN_NETNS();
    ProgressParent parent;
    TFTPServer server;
    parent.server = &server;
    ASSERT_EQ(server.setup(kHost, kPort, (root->path() + "/").c_str(), &parent), TFTP_OK);
    ASSERT_EQ(server.start(), TFTP_OK);
    put("k.bin", pattern(1024));
    EXPECT_EQ(peer({"get", "k.bin"}).size(), 4u);
    ASSERT_TRUE(parent.waitCount(TFTP_EVENT_FINISHED, 1));
    EXPECT_EQ(parent.of(0), (std::vector<uint32_t>{1, 5, 5, 5, 2}));
    EXPECT_EQ(parent.progress(), (std::vector<uint32_t>{512, 1024, 1024}));
    EXPECT_EQ(server.bytesSentByChild(0), 0u); // released

    // A write: ACK 0 and every full block count as sent; the last ends it.
    EXPECT_EQ(peer({"put", "w.bin", "600", "3"}), (std::vector<std::string>{"ACK 0", "ACK 1", "ACK 2"}));
    ASSERT_TRUE(parent.waitCount(TFTP_EVENT_FINISHED, 2));
    EXPECT_EQ(parent.of(0), (std::vector<uint32_t>{1, 5, 5, 5, 2, 1, 5, 5, 2}));

    // A missing file never started: only the abort.
    EXPECT_EQ(peer({"get", "none"}).front(), "ERROR 1 00050001");
    ASSERT_TRUE(parent.waitCount(TFTP_EVENT_ABORTED, 1));
    EXPECT_EQ(parent.of(0).back(), TFTP_EVENT_ABORTED);
    EXPECT_EQ(parent.of(0).size(), 10u);
    EXPECT_EQ(log.count("[TFTP SERVER ERROR] TFTP::ERR = 2"), 1);
}

TEST_F(TftpServers, NamesStayInsideTheRoot)
{
    QTEST_IN_NETNS();
    qtest::TempDir top;
    const std::string served = top.file("root");
    ASSERT_EQ(mkdir(served.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((served + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(qtest::writeFile(served + "/sub/ok.bin", "ok"));
    ASSERT_TRUE(qtest::writeFile(top.file("x"), "sentinel"));
    ASSERT_EQ(symlink(top.file("x").c_str(), (served + "/link").c_str()), 0);
    startServer(kPort, served);

    const std::string refused = "ERROR 2 00050002";
    int refusals = 0;
    for (const char* name : {"../x", "/etc/passwd", "a/../../x", "link"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(peer({"get", name}).front(), refused);
        EXPECT_EQ(peer({"put", name, "100", "1"}), (std::vector<std::string>{refused}));
        refusals += 2;
    }
    EXPECT_EQ(qtest::readFile(top.file("x")), "sentinel");
    EXPECT_EQ(log.count("[ERROR] TFTP : sendError ERR_FILE_ACCESS"), refusals);

    EXPECT_EQ(peer({"get", "sub/ok.bin"}).front(), "DATA 1 2");
    EXPECT_EQ(peer({"put", "sub/ok.bin", "100", "1"}), (std::vector<std::string>{"ACK 0", "ACK 1"}));
    ASSERT_TRUE(events.waitCount(TFTP_EVENT_FINISHED, 2));
    EXPECT_TRUE(qtest::readFile(served + "/sub/ok.bin") == pattern(100, 1));
}

} // namespace
