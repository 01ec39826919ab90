// The XMODEM sender: against an in-process receiver that scripts one byte
// (or silence) per step and records every packet, and against lrzsz's `rx`
// over loopback TCP.
#include "tests/fwupdate/mfu/mfu_fixture.h"

#include "fwupdate/mfu/mfu_xmodem.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace mfutest;

constexpr int kSilence = -1;

// One scripted byte per read; every send is one recorded packet.
class ScriptedReceiver : public ITransfererCallback {
public:
    int32_t sendBytes(const void* data, uint32_t length) override
    {
        if (failSends)
            return MFU_E_FAIL;
        packets.emplace_back(static_cast<const char*>(data), length);
        return MFU_OK;
    }
    int32_t readBytes(void* buffer, uint32_t capacity, uint32_t* countOut) override
    {
        *countOut = 0;
        if (input.empty() || capacity == 0)
            return 0;
        const int next = input.front();
        input.pop_front();
        if (next == kSilence)
            return 0;
        *static_cast<uint8_t*>(buffer) = static_cast<uint8_t>(next);
        *countOut = 1;
        return 2;
    }
    std::deque<int> input;
    std::vector<std::string> packets;
    bool failSends = false;
};

std::string xmodemPattern(size_t size, int seed = 0)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) % 251);
    return out;
}

class Sender {
public:
    Sender(int32_t mode, const std::string& content)
        : xmodem(mode)
    {
        const std::string path = dir.file("image.bin");
        EXPECT_TRUE(qtest::writeFile(path, content));
        EXPECT_EQ(xmodem.setFilePath(path.c_str()), MFU_OK);
        EXPECT_EQ(xmodem.setCallback(&unit), MFU_OK);
        EXPECT_EQ(xmodem.start(), MFU_OK);
        EXPECT_EQ(xmodem.transferState(), TRANSFER_STATE_STARTED);
        EXPECT_EQ(xmodem.fileSize(), content.size());
    }
    // Feeds bytes, one step each; returns the packets they produced.
    std::vector<std::string> feed(std::initializer_list<int> bytes)
    {
        unit.packets.clear();
        for (int b : bytes) {
            unit.input.push_back(b);
            xmodem.step();
        }
        return unit.packets;
    }
    // Silent calls 100 ms apart, as the task's tick makes them.
    std::vector<std::string> silence(int calls)
    {
        unit.packets.clear();
        for (int i = 0; i < calls; ++i) {
            tick.advance(XMODEM_SILENT_CALL_MS);
            xmodem.step();
        }
        return unit.packets;
    }

    ManualTick tick;
    qtest::TempDir dir;
    ScriptedReceiver unit;
    TransferXModem xmodem;
};

const std::string kCancel3("\x18\x18\x18", 3);

// The packet an independent reading of the format gives for a block.
std::string expectedPacket(const std::string& data, uint8_t block, bool crc, bool oneK)
{
    const size_t size = oneK ? 1024 : 128;
    std::string body = data;
    body.resize(size, '\x1A');
    std::string packet;
    packet += static_cast<char>(oneK ? 0x02 : 0x01);
    packet += static_cast<char>(block);
    packet += static_cast<char>(255 - block);
    packet += body;
    if (crc) {
        const uint16_t c = xmodem_crc16(reinterpret_cast<const uint8_t*>(body.data()), static_cast<uint32_t>(size));
        packet += static_cast<char>(c >> 8);
        packet += static_cast<char>(c & 0xFF);
    } else {
        unsigned sum = 0;
        for (unsigned char ch : body)
            sum += ch;
        packet += static_cast<char>(sum & 0xFF);
    }
    return packet;
}

TEST(MfuXModemSender, CrcCheckValue)
{
    const char* text = "123456789";
    EXPECT_EQ(xmodem_crc16(reinterpret_cast<const uint8_t*>(text), 9), 0x31C3);
    EXPECT_EQ(xmodem_crc16(nullptr, 0), 0);
}

TEST(MfuXModemSender, StartCharacterChoosesTheVariant)
{
    const struct {
        const char* name;
        int32_t mode;
        std::vector<int> start;
        size_t packetLength;
        char header;
    } rows[] = {
        {"crc: fourth C", MFU_TRANSFER_XMODEM_CRC, {'C', 'C', 'C', 'C'}, 133, 0x01},
        {"1k: fourth C", MFU_TRANSFER_XMODEM_1K, {'C', 'C', 'C', 'C'}, 1029, 0x02},
        {"sum: NAK", MFU_TRANSFER_XMODEM_SUM, {XMODEM_NAK}, 132, 0x01},
        {"crc mode started by NAK sends checksums", MFU_TRANSFER_XMODEM_CRC, {XMODEM_NAK}, 132, 0x01},
        {"1k mode started by NAK keeps 1k blocks with a checksum", MFU_TRANSFER_XMODEM_1K, {XMODEM_NAK}, 1028, 0x02},
        {"sum mode started by C sends CRCs", MFU_TRANSFER_XMODEM_SUM, {'C', 'C', 'C', 'C'}, 133, 0x01},
        {"other bytes start nothing", MFU_TRANSFER_XMODEM_CRC, {'x', XMODEM_ACK, 'C', 0, 'C', 'C', 'C'}, 133, 0x01},
        {"a C after three, other bytes between", MFU_TRANSFER_XMODEM_1K, {'C', 'C', kSilence, 'C', 'q', 'C'}, 1029,
            0x02},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Sender s(row.mode, xmodemPattern(3000));
        for (size_t i = 0; i + 1 < row.start.size(); ++i) {
            EXPECT_TRUE(s.feed({row.start[i]}).empty()) << "byte " << i;
            EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_TRANSFERRING);
        }
        const auto packets = s.feed({row.start.back()});
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0].size(), row.packetLength);
        EXPECT_EQ(packets[0][0], row.header);
        const bool oneK = row.header == 0x02;
        EXPECT_EQ(packets[0],
            expectedPacket(
                xmodemPattern(3000).substr(0, oneK ? 1024 : 128), 1, row.packetLength == (oneK ? 1029u : 133u), oneK));
    }
}

TEST(MfuXModemSender, BlocksPaddingAndEndOfTransmission)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{128}, size_t{300}, size_t{1024}, size_t{1025}}) {
        for (int32_t mode : {MFU_TRANSFER_XMODEM_SUM, MFU_TRANSFER_XMODEM_CRC, MFU_TRANSFER_XMODEM_1K}) {
            SCOPED_TRACE("size " + std::to_string(size) + " mode " + std::to_string(mode));
            const std::string content = xmodemPattern(size, static_cast<int>(size));
            Sender s(mode, content);
            const bool crc = mode != MFU_TRANSFER_XMODEM_SUM;
            const bool oneK = mode == MFU_TRANSFER_XMODEM_1K;
            const size_t block = oneK ? 1024 : 128;
            std::vector<std::string> packets = crc ? s.feed({'C', 'C', 'C', 'C'}) : s.feed({XMODEM_NAK});
            for (size_t at = 0, n = 1; at < size; at += block, ++n) {
                ASSERT_EQ(packets.size(), 1u);
                EXPECT_EQ(packets[0], expectedPacket(content.substr(at, block), static_cast<uint8_t>(n), crc, oneK));
                EXPECT_EQ(s.xmodem.bytesSent(), std::min(size, at + block));
                packets = s.feed({XMODEM_ACK});
            }
            ASSERT_EQ(packets.size(), 1u);
            EXPECT_EQ(packets[0], "\x04");
            EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_WAIT_EOT);
            EXPECT_FALSE(s.xmodem.finished());
            // A NAK on the EOT sends it again.
            EXPECT_EQ(s.feed({XMODEM_NAK}), std::vector<std::string>{"\x04"});
            EXPECT_TRUE(s.feed({XMODEM_ACK}).empty());
            EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_FINISHED);
            EXPECT_EQ(s.xmodem.sender().endCode, XMODEM_END_OK);
            EXPECT_EQ(s.xmodem.sender().file, nullptr);
            EXPECT_EQ(s.xmodem.bytesSent(), size);
        }
    }
}

TEST(MfuXModemSender, BlockNumberWraps)
{
    const std::string content = xmodemPattern(258 * 128);
    Sender s(MFU_TRANSFER_XMODEM_CRC, content);
    auto packets = s.feed({'C', 'C', 'C', 'C'});
    for (int n = 1; n <= 258; ++n) {
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(static_cast<uint8_t>(packets[0][1]), n % 256);
        EXPECT_EQ(static_cast<uint8_t>(packets[0][2]), 255 - n % 256);
        packets = s.feed({XMODEM_ACK});
    }
    EXPECT_EQ(packets, std::vector<std::string>{"\x04"});
}

TEST(MfuXModemSender, NakResendsAndTheTwentyFifthAborts)
{
    LogCapture log;
    Sender s(MFU_TRANSFER_XMODEM_1K, xmodemPattern(5000));
    const std::string first = s.feed({'C', 'C', 'C', 'C'}).at(0);
    // NAKs count over the whole transfer.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(s.feed({XMODEM_NAK}), std::vector<std::string>{first});
    const std::string second = s.feed({XMODEM_ACK}).at(0);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(s.feed({XMODEM_NAK}), std::vector<std::string>{second});
    EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_TRANSFERRING);
    EXPECT_EQ(s.feed({XMODEM_NAK}), std::vector<std::string>{kCancel3});
    EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_ABORTED);
    EXPECT_TRUE(s.xmodem.finished());
    EXPECT_EQ(s.xmodem.sender().endCode, XMODEM_END_CANCELLED);
    EXPECT_EQ(s.xmodem.sender().file, nullptr);
    EXPECT_TRUE(log.has("[ERROR] !!!!TRANSFER_STATE_ABORTED #1"));
    // Nothing more goes out.
    EXPECT_TRUE(s.feed({XMODEM_ACK, XMODEM_NAK}).empty());
}

TEST(MfuXModemSender, UnitCancelEndsWithoutSending)
{
    for (bool started : {false, true}) {
        SCOPED_TRACE(started ? "while sending" : "before the start");
        LogCapture log;
        Sender s(MFU_TRANSFER_XMODEM_CRC, xmodemPattern(1000));
        if (started)
            s.feed({'C', 'C', 'C', 'C'});
        // A lone CAN is nothing.
        if (started) {
            EXPECT_EQ(s.feed({XMODEM_CAN, XMODEM_ACK}).size(), 1u);
        }
        EXPECT_TRUE(s.feed({XMODEM_CAN, XMODEM_CAN}).empty());
        EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_FINISHED);
        EXPECT_EQ(s.xmodem.sender().endCode, XMODEM_END_CANCELLED);
        EXPECT_EQ(s.xmodem.sender().phase, XMODEM_PHASE_ENDED);
        EXPECT_EQ(s.xmodem.sender().file, nullptr);
        EXPECT_TRUE(log.has("[XMODEM] !!!! Received Cancel Command"));
        EXPECT_TRUE(log.has("!!!!TRANSFER_STATE_FINISHED #2"));
    }
}

TEST(MfuXModemSender, SilenceResendsOnceASecondAndAbortsAtThirty)
{
    LogCapture log;
    Sender s(MFU_TRANSFER_XMODEM_CRC, xmodemPattern(1000));
    // Waiting for the start, silence sends nothing.
    EXPECT_TRUE(s.silence(25).empty());
    const std::string first = s.feed({'C', 'C', 'C', 'C'}).at(0);
    EXPECT_TRUE(s.silence(9).empty());
    EXPECT_EQ(s.silence(1), std::vector<std::string>{first});
    EXPECT_TRUE(log.has("[XMODEM] No Signal... 1(sec)"));
    // 28 more seconds resend 28 times; the 30th second aborts.
    EXPECT_EQ(s.silence(280).size(), 28u);
    EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_TRANSFERRING);
    EXPECT_TRUE(s.silence(9).empty());
    EXPECT_EQ(s.silence(1), std::vector<std::string>{kCancel3});
    EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_ABORTED);
    EXPECT_TRUE(log.has("[XMODEM] No Signal... 30(sec)"));
}

TEST(MfuXModemSender, AByteRestartsTheSilence)
{
    Sender s(MFU_TRANSFER_XMODEM_CRC, xmodemPattern(100000));
    s.feed({'C', 'C', 'C', 'C'});
    for (int i = 0; i < 40; ++i) {
        s.silence(290);
        s.feed({'?'});
    }
    EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_TRANSFERRING);
    // Start waiting: 300 silent calls end it too.
    Sender idle(MFU_TRANSFER_XMODEM_CRC, xmodemPattern(10));
    EXPECT_EQ(idle.silence(300), std::vector<std::string>{kCancel3});
    EXPECT_EQ(idle.xmodem.transferState(), TRANSFER_STATE_ABORTED);
}

TEST(MfuXModemSender, CallsCloserThanATickAreNoSilence)
{
    Sender s(MFU_TRANSFER_XMODEM_CRC, xmodemPattern(1000));
    const std::string first = s.feed({'C', 'C', 'C', 'C'}).at(0);
    // Wake-ups between ticks step the sender without a byte: no resend.
    for (int i = 0; i < 500; ++i) {
        s.tick.advance(i % 10 == 0 ? 1 : 0);
        s.xmodem.step();
    }
    EXPECT_TRUE(s.unit.packets.size() == 1);
    EXPECT_EQ(s.xmodem.sender().silentCalls, 0);
    EXPECT_EQ(s.silence(10), std::vector<std::string>{first});
}

TEST(MfuXModemSender, FailedSendAborts)
{
    Sender s(MFU_TRANSFER_XMODEM_CRC, xmodemPattern(1000));
    s.unit.failSends = true;
    s.feed({'C', 'C', 'C', 'C'});
    EXPECT_EQ(s.xmodem.transferState(), TRANSFER_STATE_ABORTED);
    EXPECT_EQ(s.xmodem.sender().file, nullptr);
}

TEST(MfuXModemSender, StartNeedsAFileAPathAndAMode)
{
    TransferXModem noPath(MFU_TRANSFER_XMODEM_CRC);
    EXPECT_EQ(noPath.start(), MFU_E_FAIL);
    EXPECT_EQ(noPath.setCallback(nullptr), MFU_E_FAIL);
    EXPECT_EQ(noPath.setFilePath(std::string(257, 'a').c_str()), MFU_E_FAIL);

    qtest::TempDir dir;
    TransferXModem missing(MFU_TRANSFER_XMODEM_CRC);
    ASSERT_EQ(missing.setFilePath(dir.file("none.bin").c_str()), MFU_OK);
    EXPECT_EQ(missing.start(), MFU_E_FAIL);

    ASSERT_TRUE(qtest::writeFile(dir.file("f.bin"), "x"));
    TransferXModem badMode(7);
    ASSERT_EQ(badMode.setFilePath(dir.file("f.bin").c_str()), MFU_OK);
    EXPECT_EQ(badMode.start(), MFU_E_FAIL);
    // Not started: a step does nothing.
    EXPECT_EQ(badMode.step(), MFU_E_FAIL);
}

// --- Against lrzsz's rx -------------------------------------------------------------

int connectTo(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return fd;
}

// Sends a file to rx through the bridge; the bridge's last lines.
struct RxResult {
    int32_t state = 0;
    int rc = -1;
    std::string received;
};

RxResult sendToRx(int32_t mode, bool crc, const std::string& content)
{
    RxResult result;
    qtest::TempDir dir;
    const std::string path = dir.file("image.bin");
    qtest::writeFile(path, content);
    std::vector<std::string> args = {dir.path(), "got.bin"};
    if (crc)
        args.push_back("--crc");
    qtest::ChildProcess bridge(qtest::pythonPeer("xmodem_rx.py", args));
    const uint16_t port = qtest::peerPort(bridge);
    if (port == 0) {
        ADD_FAILURE() << "the bridge told no port";
        return result;
    }
    const int fd = connectTo(port);
    if (fd < 0) {
        ADD_FAILURE() << "no connection to the bridge";
        return result;
    }
    SocketLink link(fd);
    TransferXModem xmodem(mode);
    xmodem.setFilePath(path.c_str());
    xmodem.setCallback(&link);
    xmodem.start();
    // Like the task: a step when a byte is there, else every 100 ms.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!xmodem.finished() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 100);
        xmodem.step();
    }
    result.state = xmodem.transferState();
    ::shutdown(fd, SHUT_WR);
    std::string line;
    while (bridge.readLine(&line, 30000) && line != "DONE") {
        if (line.rfind("RC ", 0) == 0)
            result.rc = std::stoi(line.substr(3));
    }
    ::close(fd);
    result.received = qtest::readFile(dir.file("got.bin"));
    return result;
}

struct RxVariant {
    const char* name;
    int32_t mode;
    bool crc; // rx -c: starts with 'C'
    size_t block;
};

void everySizeThroughRx(const RxVariant& v)
{
    if (qtest::runCommand("command -v rx > /dev/null") != 0)
        GTEST_SKIP() << "lrzsz's rx is not installed (scripts/bootstrap installs it)";
    for (size_t size :
        {size_t{0}, size_t{1}, size_t{127}, size_t{128}, size_t{129}, size_t{1024}, size_t{1025}, size_t{1} << 20}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string content = xmodemPattern(size, 5);
        const RxResult r = sendToRx(v.mode, v.crc, content);
        EXPECT_EQ(r.state, TRANSFER_STATE_FINISHED);
        EXPECT_EQ(r.rc, 0);
        // rx keeps the padding of the last block.
        ASSERT_GE(r.received.size(), size);
        EXPECT_TRUE(r.received.compare(0, size, content) == 0);
        EXPECT_EQ(r.received.find_first_not_of('\x1A', size), std::string::npos);
        EXPECT_LT(r.received.size() - size, v.block);
    }
}

// One test per variant, so that they run side by side (rx takes a second
// to finish each file).
TEST(MfuXModemRx, Crc)
{
    everySizeThroughRx({"crc", MFU_TRANSFER_XMODEM_CRC, true, 128});
}

TEST(MfuXModemRx, OneK)
{
    everySizeThroughRx({"1k", MFU_TRANSFER_XMODEM_1K, true, 1024});
}

TEST(MfuXModemRx, Checksum)
{
    everySizeThroughRx({"sum", MFU_TRANSFER_XMODEM_SUM, false, 128});
}

TEST(MfuXModemRx, OneKStartedByNak)
{
    everySizeThroughRx({"1k by NAK", MFU_TRANSFER_XMODEM_1K, false, 1024});
}

} // namespace
