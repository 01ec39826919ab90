// The Mavik TFTP server on [::1] inside the test's own network namespace,
// against real clients (tftp-hpa, curl) and the raw peer
// (tests/peers/tftp_peer.py) for what clients cannot do.
#include "fwupdate/mavik/mavik_tftp.h"
#include "tests/fwupdate/mavik/mavik_fixture.h"
#include "tests/support/netns.h"

#include <QUdpSocket>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace mavtest;

constexpr const char* kHost = "::1";

// Far longer than the peer's quiet window, so transcripts show no resends;
// the silent-peer case sets a short schedule.
MavikTftpTimings calmTimings()
{
    return {2000, MAVIK_TFTP_MAX_RESENDS};
}

std::string sizeAndMd5(const std::string& bytes)
{
    return "SIZE " + std::to_string(bytes.size()) + " MD5 " + md5(bytes);
}

class MavikTftpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return; // the outer run only starts the inner one
        ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
        // tftp-hpa resolves "::1" with AI_ADDRCONFIG, which wants an IPv6
        // address on an interface other than the loopback.
        ASSERT_EQ(qtest::runCommand("ip link add qmav0 type veth peer name qmav1"
                                    " && ip addr add fd51::1/64 dev qmav0 nodad"
                                    " && ip link set qmav0 up && ip link set qmav1 up"),
            0);
        mavikTftp_setTimings(calmTimings());
        work = std::make_unique<qtest::TempDir>();
        outside = std::make_unique<qtest::TempDir>();
        put("fw.bin", pattern(2000, 9));
    }
    void TearDown() override
    {
        server.reset();
        mavikTftp_setTimings(MavikTftpTimings());
    }

    void put(const std::string& name, const std::string& bytes)
    {
        ASSERT_TRUE(qtest::writeFile(work->file(name), bytes));
    }

    bool startServer(const QString& archive = QString())
    {
        server = std::make_unique<TFTPServer_Mavik>();
        return server->setFile(
                   QString::fromStdString(work->file("fw.bin")), archive, QString::fromStdString(work->path()))
            && server->start(QHostAddress(QString::fromLatin1(kHost)), nullptr);
    }

    // The raw peer's transcript (without "DONE").
    std::vector<std::string> peer(const std::vector<std::string>& args)
    {
        // A short quiet window: resends are seconds apart here.
        std::vector<std::string> argv = {kHost, std::to_string(server->port()), "--quiet", "150"};
        argv.insert(argv.end(), args.begin(), args.end());
        qtest::ChildProcess child(peerCommand("tftp_peer.py", argv));
        return linesOf(child, "DONE", 40000);
    }

    // Runs a client command line (sh) with the event loop running; its
    // output lines, the last one "EXIT <status>".
    std::vector<std::string> client(const std::string& command)
    {
        qtest::ChildProcess child({"/bin/sh", "-c", command + " 2>&1; echo EXIT $?; echo DONE"});
        return linesOf(child, "DONE");
    }

    std::string port() const { return std::to_string(server->port()); }

    std::unique_ptr<qtest::TempDir> work;
    std::unique_ptr<qtest::TempDir> outside;
    std::unique_ptr<TFTPServer_Mavik> server;
};

class MavikTftpClients : public MavikTftpTest { };
class MavikTftpPeer : public MavikTftpTest { };
class MavikTftpPorts : public MavikTftpTest { };

// Reads by tftp-hpa and curl (with and without options): a file whose size
// is a multiple of 512 ends with an empty block, which clients need.
TEST_F(MavikTftpClients, ReadsOfEverySizeArriveWhole)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(startServer());
    const std::string url = "tftp://[::1]:" + port() + "/";
    for (size_t size : {0, 511, 512, 513, 1500}) {
        const std::string name = "f" + std::to_string(size) + ".bin";
        const std::string bytes = pattern(size, static_cast<int>(size));
        put(name, bytes);
        const std::vector<std::string> commands = {
            "tftp -6 -m binary ::1 " + port() + " -c get " + name + " '" + outside->file("out") + "'",
            "curl -s -S -o '" + outside->file("out") + "' " + url + name,
            "curl -s -S --tftp-no-options -o '" + outside->file("out") + "' " + url + name,
        };
        for (const std::string& command : commands) {
            unlink(outside->file("out").c_str());
            const std::vector<std::string> lines = client(command);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back(), "EXIT 0") << command;
            EXPECT_EQ(qtest::readFile(outside->file("out")), bytes) << command;
        }
    }
    // Every finished read has left the map.
    EXPECT_TRUE(spinUntil([&] { return server->senderCount() == 0; }));
}

// Writes by tftp-hpa and curl land in the work folder and nowhere else.
TEST_F(MavikTftpClients, WritesLandInsideTheWorkFolder)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(startServer());
    const std::string bytes = pattern(1300, 3);
    ASSERT_TRUE(qtest::writeFile(outside->file("src.bin"), bytes));
    std::vector<std::string> lines
        = client("tftp -6 -m binary ::1 " + port() + " -c put '" + outside->file("src.bin") + "' up1.bin");
    EXPECT_EQ(lines.back(), "EXIT 0");
    lines = client("curl -s -S -T '" + outside->file("src.bin") + "' tftp://[::1]:" + port() + "/up2.bin");
    EXPECT_EQ(lines.back(), "EXIT 0");
    EXPECT_TRUE(spinUntil([&] { return qtest::readFile(work->file("up2.bin")) == bytes; }));
    EXPECT_EQ(qtest::readFile(work->file("up1.bin")), bytes);
    EXPECT_EQ(tree(outside->path()), (std::vector<std::string>{"f src.bin 1300 " + md5(bytes)}));
}

// A file only in the package archive is unpacked for the transfer and gone
// once its last block was read; 512 bytes end with an empty block.
TEST_F(MavikTftpClients, ArchiveOnlyFileIsServedThenRemoved)
{
    QTEST_IN_NETNS();
    const std::string archive = outside->file("package.zip");
    ASSERT_TRUE(makeZip("files", archive, {"arch.bin=1500", "even.bin=512"}));
    ASSERT_TRUE(startServer(QString::fromStdString(archive)));
    const std::vector<std::string> lines
        = client("tftp -6 -m binary ::1 " + port() + " -c get arch.bin '" + outside->file("out") + "'");
    EXPECT_EQ(lines.back(), "EXIT 0");
    EXPECT_EQ(qtest::readFile(outside->file("out")), pattern(1500, 8));
    EXPECT_EQ(
        peer({"get", "even.bin"}), (std::vector<std::string>{"DATA 1 512", "DATA 2 0", sizeAndMd5(pattern(512, 8))}));
    EXPECT_TRUE(spinUntil([&] { return access(work->file("arch.bin").c_str(), F_OK) != 0; }));
    EXPECT_NE(access(work->file("even.bin").c_str(), F_OK), 0);
    // Neither a wrong name nor the archive itself leaves anything behind.
    EXPECT_EQ(peer({"get", "none.bin"}), (std::vector<std::string>{"ERROR 2 000500020000", sizeAndMd5("")}));
    EXPECT_EQ(tree(work->path()), (std::vector<std::string>{"f fw.bin 2000 " + md5(pattern(2000, 9))}));
}

struct PeerCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> transcript;
    std::vector<std::pair<std::string, std::string>> after; // work files after
};

std::vector<PeerCase> peerCases()
{
    const std::string k = pattern(1024, 1);
    return {
        {"mode in capitals is octet", {"--mode", "OCTET", "get", "k.bin"},
            {"DATA 1 512", "DATA 2 512", "DATA 3 0", sizeAndMd5(k)}, {}},
        {"an unknown mode gets the 6-byte ERROR 5", {"--mode", "foo", "get", "k.bin"},
            {"ERROR 5 000500050000", sizeAndMd5("")}, {}},
        {"netascii drops the CR of CR LF", {"--mode", "NetAscii", "get", "crlf.txt"},
            {"DATA 1 4", sizeAndMd5("a\nb\n")}, {}},
        {"an empty name gets ERROR 1", {"get", ""}, {"ERROR 1 000500010000", sizeAndMd5("")}, {}},
        {"a duplicate ACK does not duplicate later blocks", {"dupack", "k.bin"},
            {"DATA 1 512", "DATA 2 512", "DATA 3 0", sizeAndMd5(k)}, {}},
        {"a parent segment gets ERROR 2", {"get", "../secret.bin"}, {"ERROR 2 000500020000", sizeAndMd5("")}, {}},
        {"an absolute name gets ERROR 2", {"get", "/etc/hostname"}, {"ERROR 2 000500020000", sizeAndMd5("")}, {}},
        {"a deeper escape gets ERROR 2", {"get", "sub/../../secret.bin"}, {"ERROR 2 000500020000", sizeAndMd5("")}, {}},
        {"a write is acknowledged with 5-byte ACKs", {"put", "up.bin", "1500", "4"},
            {"ACK5 0", "ACK5 1", "ACK5 2", "ACK5 3"}, {{"up.bin", pattern(1500, 4)}}},
        {"a repeated DATA block gets ERROR 4", {"put", "rep.bin", "1500", "4", "--lose-ack", "1"},
            {"ACK5 0", "ACK5 1", "ERROR 4 000500040000", "ACK5 2", "ACK5 3"}, {{"rep.bin", pattern(1500, 4)}}},
        {"a write over the firmware file gets ERROR 6", {"put", "fw.bin", "100", "4"}, {"ERROR 6 000500060000"},
            {{"fw.bin", pattern(2000, 9)}}},
        {"a write out of the folder gets ERROR 2", {"put", "../up.bin", "100", "4"}, {"ERROR 2 000500020000"}, {}},
        // A peer's ERROR has no handler: it is answered, the write stays
        // open until the sender is dropped.
        {"an aborted write is not committed", {"put", "half.bin", "2000", "4", "--abort-after", "2"},
            {"ACK5 0", "ACK5 1", "ACK5 2", "ERROR 4 000500040000"}, {{"half.bin", ""}}},
    };
}

TEST_F(MavikTftpPeer, TableOfCases)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(qtest::writeFile(outside->file("secret.bin"), "secret"));
    ASSERT_EQ(mkdir(work->file("sub").c_str(), 0755), 0);
    ASSERT_TRUE(startServer());
    for (const PeerCase& c : peerCases()) {
        put("k.bin", pattern(1024, 1));
        put("crlf.txt", "a\r\nb\r\n");
        EXPECT_EQ(peer(c.args), c.transcript) << c.name;
        for (const auto& file : c.after) {
            // The write is renamed into place after its last block.
            spinUntil([&] { return qtest::readFile(work->file(file.first)) == file.second; }, 2000);
            EXPECT_EQ(qtest::readFile(work->file(file.first)), file.second) << c.name << ": " << file.first;
        }
    }
    EXPECT_EQ(qtest::readFile(outside->file("secret.bin")), "secret");
    EXPECT_NE(access((outside->path() + "/../up.bin").c_str(), F_OK), 0);
    // Dropping the senders leaves no temporary file of the unfinished write.
    server->destroy();
    spinUntil([] { return false; }, 50);
    std::string listing;
    qtest::runCommand("ls -A " + work->path(), &listing);
    EXPECT_EQ(listing, "crlf.txt\nfw.bin\nk.bin\nrep.bin\nsub\nup.bin\n");
}

// A silent peer gets the block and 10 resends, then nothing: no ERROR, and
// its sender is gone.
TEST_F(MavikTftpPeer, SilentPeerIsDroppedAfterTenResends)
{
    QTEST_IN_NETNS();
    mavikTftp_setTimings({40, MAVIK_TFTP_MAX_RESENDS});
    ASSERT_TRUE(startServer());
    const std::vector<std::string> lines = peer({"noack", "fw.bin", "1500"});
    ASSERT_EQ(lines.size(), 11u);
    for (const std::string& line : lines)
        EXPECT_EQ(line.rfind("DATA 1 512 ", 0), 0u) << line;
    EXPECT_GE(std::stoi(lines.back().substr(11)), 10 * 40 - 20);
    EXPECT_TRUE(spinUntil([&] { return server->senderCount() == 0; }, 2000));
}

QUdpSocket* holdPort(QObject* parent, quint16 port)
{
    auto* socket = new QUdpSocket(parent);
    EXPECT_TRUE(socket->bind(QHostAddress(QString::fromLatin1(kHost)), port, QAbstractSocket::DontShareAddress))
        << port;
    return socket;
}

TEST_F(MavikTftpPorts, TakesPort69ThenTheFirstFreeSparePort)
{
    QTEST_IN_NETNS();
    QObject holders;
    ASSERT_TRUE(startServer());
    EXPECT_EQ(server->port(), MAVIK_TFTP_PORT);
    server.reset();

    holdPort(&holders, MAVIK_TFTP_PORT);
    ASSERT_TRUE(startServer());
    EXPECT_EQ(server->port(), 50111);
    server.reset();

    holdPort(&holders, 50111);
    ASSERT_TRUE(startServer());
    EXPECT_EQ(server->port(), 50112);
    // A second server of the process never shares the first one's port.
    TFTPServer_Mavik second;
    ASSERT_TRUE(second.start(QHostAddress(QString::fromLatin1(kHost)), nullptr));
    EXPECT_EQ(second.port(), 50113);
    // A started server stays on its port.
    EXPECT_TRUE(server->start(QHostAddress(QString::fromLatin1(kHost)), nullptr));
    EXPECT_EQ(server->port(), 50112);
}

TEST(MavikTftpSetFile, MissingFirmwareFileIsRefused)
{
    qtest::TempDir work;
    TFTPServer_Mavik server;
    EXPECT_FALSE(
        server.setFile(QString::fromStdString(work.file("none.bin")), QString(), QString::fromStdString(work.path())));
    ASSERT_TRUE(qtest::writeFile(work.file("fw.bin"), "x"));
    EXPECT_TRUE(
        server.setFile(QString::fromStdString(work.file("fw.bin")), QString(), QString::fromStdString(work.path())));
}

} // namespace

// Through the server's socket-free seam: what the timer does after a
// datagram that asked for nothing, and packets that fit no transfer.
class MavikTftpSeam : public ::testing::Test {
protected:
    void SetUp() override
    {
        mavikTftp_setTimings({20, 3});
        ASSERT_TRUE(qtest::writeFile(work.file("fw.bin"), pattern(700, 2)));
        ASSERT_TRUE(server.setFile(
            QString::fromStdString(work.file("fw.bin")), QString(), QString::fromStdString(work.path())));
    }
    void TearDown() override { mavikTftp_setTimings(MavikTftpTimings()); }

    void deliver(quint16 port, const QByteArray& datagram)
    {
        server.deliver(port, datagram, [this](const QByteArray& packet) {
            sent.push_back(packet.toHex().toStdString());
            return true;
        });
    }
    static QByteArray request(quint16 op, const char* name)
    {
        return QByteArray(1, '\0') + char(op) + name + QByteArray(1, '\0') + "octet" + QByteArray(1, '\0');
    }
    static QByteArray packet(quint16 op, quint16 number, const QByteArray& rest = QByteArray())
    {
        QByteArray out(4, '\0');
        out[1] = char(op);
        out[2] = char(number >> 8);
        out[3] = char(number & 0xFF);
        return out + rest;
    }

    qtest::TempDir work;
    TFTPServer_Mavik server;
    std::vector<std::string> sent;
};

// A stale ACK is ignored, but the block it did not acknowledge is still
// resent on schedule and a silent peer is still dropped.
TEST_F(MavikTftpSeam, StaleAckKeepsTheResendSchedule)
{
    deliver(7000, request(MAVIK_TFTP_RRQ, "fw.bin"));
    ASSERT_EQ(sent.size(), 1u);
    deliver(7000, packet(MAVIK_TFTP_ACK, 0));
    EXPECT_EQ(sent.size(), 1u);
    ASSERT_TRUE(spinUntil([&] { return server.senderCount() == 0; }, 3000));
    // The first DATA and 3 resends of it, nothing else.
    ASSERT_EQ(sent.size(), 4u);
    for (const std::string& p : sent)
        EXPECT_EQ(p, sent.front());
}

TEST_F(MavikTftpSeam, PacketsThatFitNoTransferGetError4)
{
    const std::string error4 = "000500040000";
    const std::vector<std::pair<QByteArray, std::string>> first = {
        {QByteArray(1, '\0'), error4}, // fewer than 2 bytes
        {packet(9, 0), error4}, // no handler
        {packet(MAVIK_TFTP_ERROR, 0), error4}, // no handler either
        {packet(MAVIK_TFTP_ACK, 0), error4}, // an ACK with no read
        {packet(MAVIK_TFTP_DATA, 1, "x"), error4}, // DATA with no write
    };
    quint16 port = 7100;
    for (const auto& c : first) {
        sent.clear();
        deliver(++port, c.first);
        EXPECT_EQ(sent, std::vector<std::string>{c.second}) << c.first.toHex().toStdString();
        EXPECT_EQ(server.senderCount(), 0);
    }
    // DATA longer than a block within a write.
    sent.clear();
    deliver(7200, request(MAVIK_TFTP_WRQ, "w.bin"));
    deliver(7200, packet(MAVIK_TFTP_DATA, 1, QByteArray(513, 'x')));
    EXPECT_EQ(sent, (std::vector<std::string>{"0004000000", error4}));
}
