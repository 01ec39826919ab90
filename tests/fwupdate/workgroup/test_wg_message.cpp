// The messages the PC sends, as golden bytes written from the layout and as
// the independent peer reads them, and the decoder over every message a
// unit sends, in both session modes.
#include "fwupdate/workgroup/wg_message.h"

#include "tests/fwupdate/workgroup/wg_fixture.h"

#include <gtest/gtest.h>

using namespace WG;
using wgtest::fromHex;
using wgtest::peerLines;
using wgtest::toHex;

namespace {

constexpr uint64_t kMessageOwn = 0x0A0B0C0D0E0F0000ull;
const uint8_t kPcAddress[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};

struct Golden {
    const char* name;
    QByteArray built;
    const char* hex;
    const char* peer; // what the peer reads in it
};

TEST(WorkgroupMessage, SentMessagesMatchTheLayout)
{
    const Golden cases[] = {
        {"keep-alive", buildKeepAlive(0x0011223344550000ull),
            "56574d50 0000001c 00000000 00000010 00010000 0011223344550000", nullptr},
        {"management request, word above 256", buildManagementRequest(kMessageOwn, 300, 3),
            "56574d50 00000024 00000000 00000018 01000000 0a0b0c0d0e0f0000 0100 0000 0003 0000",
            "1/0 total=36 inner=24 wg=0a0b0c0d0e0f0000 word=256 slot=3"},
        {"management request, word below 256", buildManagementRequest(kMessageOwn, 200, 0x1234),
            "56574d50 00000024 00000000 00000018 01000000 0a0b0c0d0e0f0000 00c8 0000 1234 0000",
            "1/0 total=36 inner=24 wg=0a0b0c0d0e0f0000 word=200 slot=4660"},
        {"management disconnect", buildManagementDisconnect(kMessageOwn),
            "56574d50 0000001c 00000000 00000010 01020000 0a0b0c0d0e0f0000",
            "1/2 total=28 inner=16 wg=0a0b0c0d0e0f0000"},
        {"interrupt request", buildInterruptRequest(kMessageOwn),
            "56574d50 0000001c 00000000 00000010 01040000 0a0b0c0d0e0f0000",
            "1/4 total=28 inner=16 wg=0a0b0c0d0e0f0000"},
        {"interrupt disconnect", buildInterruptDisconnect(kMessageOwn),
            "56574d50 0000001c 00000000 00000010 01060000 0a0b0c0d0e0f0000",
            "1/6 total=28 inner=16 wg=0a0b0c0d0e0f0000"},
        {"workgroup id set", buildWorkgroupIdSet(0), "56574d50 0000001c 00000000 00000010 010f0000 0000000000000000",
            "1/15 total=28 inner=16 wg=0000000000000000"},
        {"identify", buildIdentify(kMessageOwn),
            "56574d50 00000020 00000000 00000014 02000000 0a0b0c0d0e0f0000 0001 0000",
            "2/0 total=32 inner=20 wg=0a0b0c0d0e0f0000 value=1"},
        {"firmware start, 10-byte name", buildFirmwareUpdateStart(kMessageOwn, kPcAddress, 50111, "abcdefghij"),
            "56574d50 0000003c 00000000 0000002e 03000000 0a0b0c0d0e0f0000 fe800000000000000000000000000001"
            " c3bf 0000 6162636465666768696a 0000",
            "3/0 total=60 inner=46 wg=0a0b0c0d0e0f0000 addr=fe80::1 port=50111 name=abcdefghij pad=2"},
        {"firmware start, no padding", buildFirmwareUpdateStart(kMessageOwn, kPcAddress, 69, "a.xm"),
            "56574d50 00000034 00000000 00000028 03000000 0a0b0c0d0e0f0000 fe800000000000000000000000000001"
            " 0045 0000 612e786d",
            "3/0 total=52 inner=40 wg=0a0b0c0d0e0f0000 addr=fe80::1 port=69 name=a.xm pad=0"},
        {"firmware start, empty name", buildFirmwareUpdateStart(kMessageOwn, kPcAddress, 1, ""),
            "56574d50 00000030 00000000 00000024 03000000 0a0b0c0d0e0f0000 fe800000000000000000000000000001"
            " 0001 0000",
            "3/0 total=48 inner=36 wg=0a0b0c0d0e0f0000 addr=fe80::1 port=1 name= pad=0"},
        {"status request", buildStatusRequest(kMessageOwn),
            "56574d50 0000001c 00000000 00000010 03020000 0a0b0c0d0e0f0000",
            "3/2 total=28 inner=16 wg=0a0b0c0d0e0f0000"},
    };
    std::vector<std::string> describe = {"describe"};
    std::vector<std::string> expected;
    for (const Golden& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(c.built), toHex(fromHex(c.hex)));
        if (c.peer) {
            describe.push_back(toHex(c.built));
            expected.push_back(c.peer);
        }
    }
    EXPECT_EQ(peerLines(describe), expected);
}

TEST(WorkgroupMessage, ReadersAndWordRules)
{
    const uint8_t bytes[] = {0, 0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0, 0x11};
    EXPECT_EQ(readUint32BE(bytes, 1), 0x12345678u);
    EXPECT_EQ(readUint64BE(bytes, 1), 0x123456789abcdef0ull);
    EXPECT_TRUE(resultFailed(0x8000));
    EXPECT_TRUE(resultFailed(0xFFFF));
    EXPECT_FALSE(resultFailed(0x7FFF));
    EXPECT_FALSE(resultFailed(0));
    EXPECT_EQ(negotiatedWord(256), 256);
    EXPECT_EQ(negotiatedWord(257), 256);
    EXPECT_EQ(negotiatedWord(17), 17);
}

// A unit's message, laid out by hand: header with the true lengths, then
// the body.
QByteArray unitMessage(uint8_t cls, uint8_t cmd, const std::string& bodyHex, const char* magic = "VWMP")
{
    const QByteArray body = fromHex(bodyHex);
    QByteArray out(magic, 4);
    const uint32_t total = 20 + static_cast<uint32_t>(body.size());
    for (uint32_t v : {total, 0u, total - 12}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(static_cast<char>(v >> shift));
    }
    out.append(static_cast<char>(cls));
    out.append(static_cast<char>(cmd));
    out.append(2, '\0');
    return out + body;
}

struct DecodeCase {
    const char* name;
    QByteArray message;
    SessionMode mode;
    Decode expected;
    uint64_t deviceId;
    uint16_t result;
};

Decode decode(const QByteArray& m, SessionMode mode, WgMessage* out)
{
    return decodeMessage(reinterpret_cast<const uint8_t*>(m.constData()), static_cast<size_t>(m.size()), mode, out);
}

TEST(WorkgroupMessage, DecoderTable)
{
    const auto M = SessionMode::Management;
    const auto I = SessionMode::Interrupt;
    const std::string dev = "0102030405060708";
    const DecodeCase cases[] = {
        {"1/1 management", unitMessage(1, 1, dev + "8000 0000"), M, Decode::Message, 0x0102030405060708ull, 0x8000},
        {"1/1 interrupt", unitMessage(1, 1, dev + "7fff 0000"), I, Decode::Message, 0x0102030405060708ull, 0x7fff},
        {"1/1 one byte short", unitMessage(1, 1, dev + "00"), M, Decode::Ignored, 0, 0},
        {"1/1 exactly 30 bytes", unitMessage(1, 1, dev + "0001"), M, Decode::Message, 0x0102030405060708ull, 1},
        {"1/3 both modes", unitMessage(1, 3, "0005"), I, Decode::Message, 0, 5},
        {"1/3 short", unitMessage(1, 3, "00"), M, Decode::Ignored, 0, 0},
        {"1/5 interrupt", unitMessage(1, 5, dev + "0000"), I, Decode::Message, 0x0102030405060708ull, 0},
        {"1/5 management ignores", unitMessage(1, 5, dev + "0000"), M, Decode::Ignored, 0, 0},
        {"1/7 interrupt", unitMessage(1, 7, "8001"), I, Decode::Message, 0, 0x8001},
        {"1/7 management ignores", unitMessage(1, 7, "8001"), M, Decode::Ignored, 0, 0},
        {"1/10", unitMessage(1, 10, "0003 0000" + dev), M, Decode::Message, 0x0102030405060708ull, 3},
        {"1/10 short", unitMessage(1, 10, "0003 0000 01020304050607"), M, Decode::Ignored, 0, 0},
        {"1/10 interrupt ignores", unitMessage(1, 10, "0003 0000" + dev), I, Decode::Ignored, 0, 0},
        {"1/14", unitMessage(1, 14, "0000"), M, Decode::Message, 0, 0},
        {"1/17", unitMessage(1, 17, dev), M, Decode::Message, 0x0102030405060708ull, 0},
        {"1/9 accepted, ignored", unitMessage(1, 9, ""), M, Decode::Ignored, 0, 0},
        {"1/12 accepted, ignored", unitMessage(1, 12, ""), M, Decode::Ignored, 0, 0},
        {"1/16 accepted, ignored", unitMessage(1, 16, ""), M, Decode::Ignored, 0, 0},
        {"1/99 unlisted", unitMessage(1, 99, dev + dev), M, Decode::Ignored, 0, 0},
        {"2/2", unitMessage(2, 2, dev), M, Decode::Message, 0x0102030405060708ull, 0},
        {"2/2 interrupt ignores", unitMessage(2, 2, dev), I, Decode::Ignored, 0, 0},
        {"2/1 ignored", unitMessage(2, 1, dev), M, Decode::Ignored, 0, 0},
        {"3/1 interrupt ignores", unitMessage(3, 1, "0001 00000000 0000 41"), I, Decode::Ignored, 0, 0},
        {"3/3", unitMessage(3, 3, "8000"), M, Decode::Message, 0, 0x8000},
        {"3/4 ignored", unitMessage(3, 4, dev), M, Decode::Ignored, 0, 0},
        {"3/8 short", unitMessage(3, 8, dev + "00000000 000001"), M, Decode::Ignored, 0, 0},
        {"class 0", unitMessage(0, 1, dev), M, Decode::Ignored, 0, 0},
        {"class 4", unitMessage(4, 1, dev), M, Decode::Ignored, 0, 0},
        {"VRSM refused", unitMessage(1, 1, dev + "0000", "VRSM"), M, Decode::Refused, 0, 0},
        {"VRCP refused", unitMessage(1, 1, dev + "0000", "VRCP"), I, Decode::Refused, 0, 0},
        {"17 bytes refused", unitMessage(1, 1, "").left(17), M, Decode::Refused, 0, 0},
        {"4 bytes refused", QByteArray("VWMP"), M, Decode::Refused, 0, 0},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        WgMessage m;
        ASSERT_EQ(decode(c.message, c.mode, &m), c.expected);
        if (c.expected == Decode::Message) {
            EXPECT_EQ(m.deviceId, c.deviceId);
            EXPECT_EQ(m.result, c.result);
        }
    }
    WgMessage m;
    EXPECT_EQ(decodeMessage(nullptr, 0, SessionMode::Management, &m), Decode::Refused);
}

TEST(WorkgroupMessage, StatusErrorAndHardwareFields)
{
    WgMessage m;
    // 3/1: status word, bytes 22, 24, 26, 27 and the text.
    ASSERT_EQ(
        decode(unitMessage(3, 1, "1234 aa 00 bb 00 cc dd 48656c6c6f"), SessionMode::Management, &m), Decode::Message);
    EXPECT_EQ(m.result, 0x1234);
    EXPECT_EQ(toHex(QByteArray(reinterpret_cast<const char*>(m.statusBytes), 4)), "aabbccdd");
    EXPECT_EQ(m.text, QByteArray("Hello"));

    // 300 bytes of text: the first 255; a zero ends it earlier.
    const std::string text300(600, 'a');
    ASSERT_EQ(decode(unitMessage(3, 1, "0000 00000000 0000" + text300), SessionMode::Management, &m), Decode::Message);
    EXPECT_EQ(m.text, QByteArray(255, '\xaa'));
    ASSERT_EQ(decode(unitMessage(3, 1, "0000 00000000 0000 414200 43"), SessionMode::Management, &m), Decode::Message);
    EXPECT_EQ(m.text, QByteArray("AB"));
    ASSERT_EQ(decode(unitMessage(3, 1, "0000 00000000 0000"), SessionMode::Management, &m), Decode::Message);
    EXPECT_TRUE(m.text.isEmpty());

    // 3/5 and 3/7: word and total length - 24 payload bytes.
    ASSERT_EQ(decode(unitMessage(3, 7, "0042 0000 78797a00"), SessionMode::Management, &m), Decode::Message);
    EXPECT_EQ(m.result, 0x42);
    EXPECT_EQ(toHex(m.payload), "78797a00");

    // 3/8: device id and the error code at 32.
    ASSERT_EQ(
        decode(unitMessage(3, 8, "0102030405060708 ffffffff 80000005"), SessionMode::Management, &m), Decode::Message);
    EXPECT_EQ(m.deviceId, 0x0102030405060708ull);
    EXPECT_EQ(m.errorCode, 0x80000005u);
}

TEST(WorkgroupMessage, DecodesWhatThePeerBuilds)
{
    const std::vector<std::string> built
        = peerLines({"build", "1/5", "dev=a1b2c3d4e5f60000", "result=32769", "--", "3/1", "status=7", "b22=1", "b24=2",
            "b26=3", "b27=4", "text=Writing", "--", "3/8", "dev=0000000000000001", "code=4660"});
    ASSERT_EQ(built.size(), 3u);
    WgMessage m;
    const QByteArray reply = fromHex(built[0]);
    ASSERT_EQ(decode(reply, SessionMode::Interrupt, &m), Decode::Message);
    EXPECT_EQ(m.messageClass, 1);
    EXPECT_EQ(m.command, 5);
    EXPECT_EQ(m.deviceId, 0xa1b2c3d4e5f60000ull);
    EXPECT_TRUE(resultFailed(m.result));

    const QByteArray status = fromHex(built[1]);
    ASSERT_EQ(decode(status, SessionMode::Management, &m), Decode::Message);
    EXPECT_EQ(m.result, 7);
    EXPECT_EQ(toHex(QByteArray(reinterpret_cast<const char*>(m.statusBytes), 4)), "01020304");
    EXPECT_EQ(m.text, QByteArray("Writing"));

    const QByteArray error = fromHex(built[2]);
    ASSERT_EQ(decode(error, SessionMode::Management, &m), Decode::Message);
    EXPECT_EQ(m.errorCode, 4660u);
}

} // namespace
