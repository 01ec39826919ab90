// The front's TFTP server, fetched from by tftp-hpa on loopback inside the
// test's own network namespace (the server's ports 1999-2032 are fixed).
#include "tests/fwupdate/dfu/dfu_fixture.h"

#include "pbd/vsock/vsock.h"
#include "tests/support/netns.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using dfutest::FrontTest;
using dfutest::makeDnt;
using dfutest::path160;
using dfutest::u16;

const uint8_t kLoopback[4] = {127, 0, 0, 1};
constexpr uint16_t kPort = 1999;

// Whether UDP 127.0.0.1:port can be bound right now.
bool portFree(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0;
    ::close(fd);
    return bound;
}

// Reads the sender's byte count at each block event, as the window does.
class CountingCallback : public dfutest::Recording {
public:
    void dfuSendDataCallback(uint16_t childId, uint32_t state) override
    {
        if (state == TFTP_EVENT_BLOCK_SENT && front != nullptr)
            sent = std::max<uint32_t>(sent.load(), front->getTftpChildBytes(childId));
        Recording::dfuSendDataCallback(childId, state);
    }
    DanteFirmwareUpdateModule* front = nullptr;
    std::atomic<uint32_t> sent{0};
};

class DfuFrontTftp : public FrontTest {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return; // the outer run only starts the inner one
        ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
        FrontTest::SetUp();
        ASSERT_EQ(vsock_init(), VSOCK_OK);
        TFTPTimings quick;
        quick.resendMs = 100;
        quick.tickMs = 20;
        tftp_setTimings(quick);
        ASSERT_TRUE(makeDnt(first.path(), "v3_wildcard", "module.dnt"));
        ASSERT_TRUE(makeDnt(second.path(), "v3_wildcard_and_individual", "other.dnt"));
    }
    void TearDown() override
    {
        if (!qtest::insideTestNetns())
            return;
        FrontTest::TearDown();
        vsock_term();
    }
    DfuResult serve(const qtest::TempDir& dir, const std::string& name)
    {
        const auto p0 = path160(u16(dir.file(name)));
        const auto p1 = path160(u"");
        return front->InitializeTftp(kLoopback, kPort, p0.data(), p1.data());
    }
    // Fetches a file with tftp-hpa; its bytes, empty when the fetch failed.
    std::string fetch(const std::string& name)
    {
        const std::string local = into.file(name);
        ::unlink(local.c_str());
        const int status = qtest::runCommand(
            "tftp -m binary 127.0.0.1 " + std::to_string(kPort) + " -c get " + name + " " + local + " 2>&1");
        return status == 0 ? qtest::readFile(local) : std::string();
    }

    qtest::TempDir first;
    qtest::TempDir second;
    qtest::TempDir into;
    // Outlives the front, which TearDown deletes.
    CountingCallback counting;
};

TEST(DfuFrontTftpOrder, InitializeTftpNeedsTheAgent)
{
    dfutest::TempLog log;
    DanteFirmwareUpdateModule front;
    const auto p = path160(u"/srv/dnt/module.dnt");
    EXPECT_EQ(front.InitializeTftp(kLoopback, kPort, p.data(), p.data()), DFU_E_FAIL);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"[ERROR] InitializeTftp: DFA has not initialized"});
    EXPECT_FALSE(front.isTftpReady());
}

TEST_F(DfuFrontTftp, ServesTheFolderAndRelaysTransferEvents)
{
    QTEST_IN_NETNS();
    counting.front = front.get();
    ASSERT_EQ(front->InitializeDfa(&counting, dfutest::kWantedMac), DFU_OK);
    ASSERT_TRUE(counting.await("E6"));
    auto& calls = counting;
    auto& sent = counting.sent;
    ASSERT_EQ(serve(first, "module.dnt"), DFU_OK);
    EXPECT_TRUE(front->isTftpReady());

    const size_t from = calls.size();
    const std::string bytes = fetch("module.dnt");
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes, qtest::readFile(first.file("module.dnt")));
    ASSERT_TRUE(qtest::waitFor([&] { return !calls.since(from).empty() && calls.since(from).back().back() == '2'; }));
    // Started, one block-sent per block (the last one short), finished; all
    // from the TFTP task, for one child.
    const auto events = calls.since(from);
    ASSERT_GE(events.size(), 3u);
    const std::string child = events.front().substr(0, events.front().find(':') + 1);
    std::vector<std::string> expected = {child + "1"};
    expected.insert(expected.end(), bytes.size() / TFTP_BLOCK_SIZE + 1, child + "5");
    expected.push_back(child + "2");
    EXPECT_EQ(events, expected);
    EXPECT_NE(calls.threads().back(), std::this_thread::get_id());
    // While it ran, the child's byte count grew to the file's size.
    EXPECT_EQ(sent.load(), bytes.size());

    // Other states are not passed on.
    const size_t before = calls.size();
    EXPECT_EQ(front->transferEvent(0, 0), DFU_OK);
    EXPECT_EQ(front->transferEvent(0, 6), DFU_OK);
    EXPECT_EQ(calls.size(), before);
}

TEST_F(DfuFrontTftp, SecondInitializeReplacesTheServerAndReleaseFreesThePort)
{
    QTEST_IN_NETNS();
    running();
    ASSERT_EQ(serve(first, "module.dnt"), DFU_OK);
    ASSERT_FALSE(fetch("module.dnt").empty());
    ASSERT_EQ(serve(second, "other.dnt"), DFU_OK);
    EXPECT_EQ(fetch("other.dnt"), qtest::readFile(second.file("other.dnt")));
    EXPECT_TRUE(fetch("module.dnt").empty()) << "the old folder is no longer served";

    EXPECT_FALSE(portFree(kPort));
    front->releaseTftp();
    EXPECT_FALSE(front->isTftpReady());
    // The socket service may still hold the closed socket in its poll for a
    // moment; the port comes free as soon as that poll returns.
    EXPECT_TRUE(qtest::waitFor([] { return portFree(kPort); }));
    // Without a server a transfer event is refused and not passed on.
    const size_t before = calls.size();
    EXPECT_EQ(front->transferEvent(0, TFTP_EVENT_STARTED), DFU_E_FAIL);
    EXPECT_EQ(calls.size(), before);
}

TEST_F(DfuFrontTftp, FailuresOfTheSteps)
{
    QTEST_IN_NETNS();
    running();
    const auto good = path160(u16(first.file("module.dnt")));
    const auto none = path160(u"");
    log.clear();
    EXPECT_EQ(front->InitializeTftp(nullptr, kPort, good.data(), none.data()), DFU_E_FAIL);
    EXPECT_TRUE(log.has("[ERROR] InitializeTftp: setTftpIpAddr"));
    const auto bad = path160(u"module.dnt");
    EXPECT_EQ(front->InitializeTftp(kLoopback, kPort, bad.data(), none.data()), DFU_E_ILLEGAL_PATH);
    EXPECT_TRUE(log.has("[ERROR] InitializeTftp: setDanteFilePath"));
    // The port is held by someone else: the server cannot start.
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(kPort);
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in), 0);
    EXPECT_EQ(front->InitializeTftp(kLoopback, kPort, good.data(), none.data()), DFU_E_FAIL);
    EXPECT_TRUE(log.has("[ERROR] InitializeTftp: CreateTftpServer"));
    EXPECT_FALSE(front->isTftpReady());
    ::close(fd);
    EXPECT_EQ(front->InitializeTftp(kLoopback, kPort, good.data(), none.data()), DFU_OK);
}

} // namespace
