// What real clients cannot do, through the raw peer (tests/peers/tftp_peer.py):
// lost, repeated and malformed packets, silence, many peers at once.
#include "tests/fwupdate/tftp/tftp_fixture.h"

#include <cstdlib>
#include <sstream>

namespace {

using namespace tftptest;

struct PeerCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files; // in the root before
    std::vector<std::string> args;
    std::vector<std::string> transcript;
    std::vector<std::pair<std::string, std::string>> after; // root files after ("" = absent)
};

std::string sizeAndMd5(const std::string& bytes)
{
    return "SIZE " + std::to_string(bytes.size()) + " MD5 " + md5(bytes);
}

std::vector<PeerCase> peerCases()
{
    const std::string k = pattern(1024);
    const std::string old = pattern(3000, 1);
    return {
        {"1024 bytes: two full blocks and an empty one", {{"k.bin", k}}, {"get", "k.bin"},
            {"DATA 1 512", "DATA 2 512", "DATA 3 0", sizeAndMd5(k)}, {}},
        {"a duplicate ACK is ignored", {{"k.bin", k}}, {"dupack", "k.bin"},
            {"DATA 1 512", "DATA 2 512", "DATA 3 0", sizeAndMd5(k)}, {}},
        {"a stranger's datagrams to a child's port are ignored", {{"k.bin", k}}, {"stray", "k.bin"},
            {"DATA 1 512", "DATA 2 512", "DATA 3 0", sizeAndMd5(k)}, {}},
        {"an ACK of the wrong length gets ERROR 4", {{"k.bin", k}}, {"badack", "k.bin"},
            {"DATA 1 512", "ERROR 4 00050004"}, {}},
        {"a missing file gets ERROR 1, 4 bytes", {}, {"get", "none.bin"}, {"ERROR 1 00050001", sizeAndMd5("")}, {}},
        {"datagrams that are no request are dropped", {{"s.bin", "abc"}}, {"garbage", "s.bin"}, {"NONE", "DATA 1 3"},
            {}},
        {"two peers, each answered to itself", {{"a.bin", "aaaa"}, {"b.bin", "bbbb"}}, {"twopeers", "a.bin", "b.bin"},
            {"P1 DATA 1 4 61616161", "P2 DATA 1 4 62626262"}, {}},
        {"the same peer asking twice gets one child", {{"k.bin", k}}, {"twice", "k.bin"}, {"SOURCES 1"}, {}},
        {"a write with one lost ACK recovers", {}, {"put", "w.bin", "1500", "4", "--lose-ack", "1"},
            {"ACK 0", "ACK 1", "ACK 1", "ACK 2", "ACK 3"}, {{"w.bin", pattern(1500, 4)}}},
        {"DATA shorter than 4 bytes gets ERROR 4", {}, {"baddata", "w.bin", "000300"}, {"ACK 0", "ERROR 4 00050004"},
            {{"w.bin", ""}}},
        {"DATA longer than a block gets ERROR 4", {}, {"baddata", "w.bin", "00030001" + std::string(2 * 513, 'a')},
            {"ACK 0", "ERROR 4 00050004"}, {{"w.bin", ""}}},
        {"a write over a longer file leaves exactly the new bytes", {{"o.bin", old}}, {"put", "o.bin", "700", "6"},
            {"ACK 0", "ACK 1", "ACK 2"}, {{"o.bin", pattern(700, 6)}}},
        {"a write aborted halfway leaves the old file", {{"o.bin", old}},
            {"put", "o.bin", "2000", "6", "--abort-after", "2"}, {"ACK 0", "ACK 1", "ACK 2", "ERROR 4 00050004"},
            {{"o.bin", old}}},
        // The read ends first, while the write still runs.
        {"a read and a write at the same time", {{"r.bin", pattern(1000, 2)}},
            {"readwrite", "r.bin", "rw.bin", "6000", "8"}, {"READ 1000 MD5 " + md5(pattern(1000, 2)), "WROTE 6000"},
            {{"rw.bin", pattern(6000, 8)}}},
    };
}

class TftpPeer : public TftpNetTest {
protected:
    // Nothing but the files a case names: no temporary file stays behind.
    std::vector<std::string> rootListing()
    {
        std::string out;
        qtest::runCommand("ls -A " + root->path(), &out);
        std::istringstream in(out);
        std::vector<std::string> names;
        for (std::string name; in >> name;)
            names.push_back(name);
        return names;
    }
};

TEST_F(TftpPeer, TableOfCases)
{
    QTEST_IN_NETNS();
    // The transcripts are exact: a peer slowed by a loaded machine must not
    // see a block sent again. The case that never acknowledges ends after
    // six of these periods.
    TFTPTimings patient = quickTimings();
    patient.resendMs = 1000;
    tftp_setTimings(patient);
    startServer();
    for (const PeerCase& c : peerCases()) {
        SCOPED_TRACE(c.name);
        qtest::runCommand("rm -rf " + root->path() + "/* " + root->path() + "/.[!.]*");
        for (const auto& f : c.files)
            put(f.first, f.second);
        EXPECT_EQ(peer(c.args), c.transcript);
        // Every transfer has ended before the next case.
        ASSERT_TRUE(qtest::waitFor([&] { return events.settled(); }, 20000));
        for (const auto& f : c.after) {
            if (f.second.empty())
                EXPECT_NE(access(file(f.first).c_str(), F_OK), 0) << f.first;
            else
                EXPECT_TRUE(qtest::readFile(file(f.first)) == f.second) << f.first;
        }
        for (const std::string& name : rootListing())
            EXPECT_EQ(name.find(".tftp-"), std::string::npos) << name;
    }
    EXPECT_GE(log.count("[WARRNING] TFTP: Received message Last Blok does not match. wait for next packet."), 1);
    EXPECT_GE(log.count("[ERROR] TFTP : Received message is not the expected one!"), 3);
    EXPECT_EQ(log.count("[ERROR] TFTP: sendError ERR_FILE_NOT_FOUND"), 1);
}

// The Part's own schedule: block 1 six times, 500 ms apart, then the
// 13-byte time-out ERROR; events 1, 5, five times 3, then 4.
TEST_F(TftpPeer, NeverAcknowledgedReadTimesOutOnTheRealSchedule)
{
    QTEST_IN_NETNS();
    tftp_setTimings(TFTPTimings{});
    startServer();
    put("k.bin", pattern(1024));
    const std::vector<std::string> lines = peer({"noack", "k.bin", "6000"});
    ASSERT_EQ(lines.size(), 7u);
    int previous = 0;
    for (size_t i = 0; i < 6; ++i) {
        std::istringstream in(lines[i]);
        std::string kind;
        int block = 0, length = 0, ms = 0;
        in >> kind >> block >> length >> ms;
        EXPECT_EQ(kind + " " + std::to_string(block) + " " + std::to_string(length), "DATA 1 512");
        if (i > 0) {
            // 500 ms, checked on a 100 ms tick.
            EXPECT_GE(ms - previous, 450) << lines[i];
            EXPECT_LE(ms - previous, 800) << lines[i];
        }
        previous = ms;
    }
    EXPECT_EQ(lines[6], "ERROR 0 00050000" + qtest::hex(std::string("timeout!", 9)));
    ASSERT_TRUE(events.waitCount(TFTP_EVENT_ABORTED, 1));
    EXPECT_EQ(events.of(0), (std::vector<uint32_t>{1, 5, 3, 3, 3, 3, 3, 4}));
    EXPECT_EQ(log.count("[ERROR] TFTP : send ERR_TIMEOUT"), 1);
    EXPECT_EQ(log.count("[TFTP SERVER ERROR] TFTP::ERR = 11"), 1);
}

// The socket service holds 32 sockets, one of them the server's: that many
// senders run at once (32 once the service holds more).
TEST_F(TftpPeer, ThirtyThreeReadsAtOnce)
{
    QTEST_IN_NETNS();
    // No child may time out and free its slot while the 33 requests are
    // still being taken, however slow the machine.
    TFTPTimings slow = quickTimings();
    slow.resendMs = 20000;
    tftp_setTimings(slow);
    startServer();
    put("k.bin", pattern(1024));
    const int senders = std::min(TFTP_SENDER_SLOTS, VSOCK_MAX_OS_SOCKETS - 1);
    EXPECT_EQ(peer({"many", "33", "k.bin", "3000"}), (std::vector<std::string>{"ANSWERED " + std::to_string(senders)}));
}

TEST_F(TftpPeer, ReceiverRepeatsItsAckWhenThePeerStalls)
{
    QTEST_IN_NETNS();
    startServer();
    const std::vector<std::string> lines = peer({"put", "w.bin", "1024", "2", "--stall", "1", "350"});
    ASSERT_GE(lines.size(), 5u);
    EXPECT_GE(std::count(lines.begin(), lines.end(), "ACK 1"), 3) << ::testing::PrintToString(lines);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()), (std::vector<std::string>{"ACK 2", "ACK 3"}));
    ASSERT_TRUE(events.waitCount(TFTP_EVENT_FINISHED, 1));
    EXPECT_TRUE(qtest::readFile(file("w.bin")) == pattern(1024, 2));
    EXPECT_GE(events.of(0).size(), 6u);
}

TEST_F(TftpPeer, SilentWriterTimesOutAndTheNextWriteIsServed)
{
    QTEST_IN_NETNS();
    startServer();
    put("w.bin", "old");
    std::vector<std::string> expected = {"ACK 0", "ACK 1"};
    for (int i = 0; i < 5; ++i)
        expected.push_back("ACK 1");
    expected.push_back("ERROR 0 00050000" + qtest::hex(std::string("timeout!", 9)));
    EXPECT_EQ(peer({"put", "w.bin", "2000", "1", "--silent-after", "1"}), expected);
    ASSERT_TRUE(events.waitCount(TFTP_EVENT_ABORTED, 1));
    EXPECT_EQ(qtest::readFile(file("w.bin")), "old");
    // The receiver's slot is free again.
    EXPECT_EQ(peer({"put", "w.bin", "600", "3"}), (std::vector<std::string>{"ACK 0", "ACK 1", "ACK 2"}));
    ASSERT_TRUE(events.waitCount(TFTP_EVENT_FINISHED, 1));
    EXPECT_TRUE(qtest::readFile(file("w.bin")) == pattern(600, 3));
}

} // namespace

namespace {

using namespace tftptest;

// Flags from a busy transfer arrive far more often than every 100 ms; the
// tick must still come on its deadline, or a stalled child is never resent.
// The busy read is paced by its peer (an ACK every 5 ms, so it lasts at least
// 20 s) and runs at full speed only once told, so it outlasts the stalled
// one however fast or loaded the machine is.
TEST_F(TftpPeer, StalledReadTimesOutWhileAnotherTransferKeepsTheTaskBusy)
{
    QTEST_IN_NETNS();
    startServer();
    const std::string big = pattern(2 << 20, 4);
    put("big.bin", big);
    put("k.bin", pattern(1024));
    qtest::ChildProcess busy(
        qtest::pythonPeer("tftp_peer.py", {kHost, std::to_string(kPort), "paced", "big.bin", "5"}), true);
    ASSERT_TRUE(qtest::waitFor([&] { return events.of(0).size() > 20; }));
    const std::vector<std::string> lines = peer({"noack", "k.bin", "3000"});
    // The busy transfer was still running when the stalled one gave up.
    EXPECT_FALSE(events.waitCount(TFTP_EVENT_FINISHED, 1, 0));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("DATA 1 ", 0) == 0; }), 6);
    EXPECT_EQ(lines.back(), "ERROR 0 00050000" + qtest::hex(std::string("timeout!", 9)));
    ASSERT_TRUE(busy.writeLine("finish"));
    std::string result;
    ASSERT_TRUE(busy.readLine(&result, 60000));
    EXPECT_EQ(result, "SIZE " + std::to_string(big.size()) + " MD5 " + md5(big));
    EXPECT_TRUE(events.waitCount(TFTP_EVENT_FINISHED, 1));
}

} // namespace

namespace {

using namespace tftptest;

// The repeat is answered at once, not by the resend timer (here far longer
// than the peer waits).
TEST_F(TftpPeer, RepeatedBlockIsAcknowledgedAtOnce)
{
    QTEST_IN_NETNS();
    TFTPTimings slow = quickTimings();
    slow.resendMs = 20000;
    tftp_setTimings(slow);
    startServer();
    EXPECT_EQ(peer({"put", "w.bin", "1500", "4", "--lose-ack", "2"}),
        (std::vector<std::string>{"ACK 0", "ACK 1", "ACK 2", "ACK 2", "ACK 3"}));
    ASSERT_TRUE(events.waitCount(TFTP_EVENT_FINISHED, 1));
    EXPECT_TRUE(qtest::readFile(file("w.bin")) == pattern(1500, 4));
    EXPECT_EQ(events.of(0), (std::vector<uint32_t>{1, 5, 5, 5, 2}));
}

} // namespace
