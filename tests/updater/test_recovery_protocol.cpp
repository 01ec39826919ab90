// Request messages, transport frames, stuffing, frame cutting and reply
// checks, against bytes written out by hand from the byte tables.
#include "updater/recovery_bytes.h"
#include "updater/recovery_frame.h"
#include "updater/updater.h"

#include <gtest/gtest.h>

#include <string>

namespace {

QByteArray unhex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

std::string hexOf(const QByteArray& bytes)
{
    return bytes.toHex().toStdString();
}

const QByteArray kFF(6, static_cast<char>(0xFF));
const QByteArray kPc = unhex("02 51 00 00 00 01");

// A reply message as a unit sends it: header, result, optional second parameter.
QByteArray reply(uint16_t command, int32_t result, const QByteArray& second = QByteArray(), bool withSecond = false)
{
    QByteArray params;
    params.append(static_cast<char>(0x04));
    appendUint32BE(params, static_cast<uint32_t>(result));
    if (withSecond)
        params.append(encodeByteArrayParam(second));
    return Updater::buildMessage(command, withSecond ? 2 : 1, 0x8000, 0, 0, params);
}

QByteArray replyFrame(const QByteArray& message)
{
    return recovery_slipEncode(
        recovery_buildFrame(message, 0, message.size(), static_cast<uint16_t>(message.size() + 25), 0, kPc, kFF));
}

TEST(RecoveryProtocol, BigEndianFieldsAndTheirBounds)
{
    QByteArray buffer;
    appendUint16BE(buffer, 0xC0DB);
    appendUint32BE(buffer, 0x80000102u);
    EXPECT_EQ(hexOf(buffer), "c0db80000102");
    bool ok = false;
    EXPECT_EQ(readUint16BE(buffer, 0, &ok), 0xC0DB);
    EXPECT_TRUE(ok);
    EXPECT_EQ(readUint32BE(buffer, 2, &ok), 0x80000102u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(readUint32BE(buffer, 3, &ok), 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(readUint16BE(buffer, 5, &ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(readUint16BE(buffer, -1, &ok), 0);
    EXPECT_FALSE(ok);
}

TEST(RecoveryProtocol, EveryCommandMessageMatchesItsHandWrittenBytes)
{
    const QByteArray empty = encodeStringParam(QString());
    struct Case {
        const char* name;
        QByteArray message;
        const char* bytes;
    } cases[] = {
        {"secure pathway", Updater::buildMessage(1, 3, 0x8000, 0, 0, encodeByteParam(1) + empty + empty),
            "0001 00 8000 0000 0000 0001 82  0003 0101 8000000000 8000000000  05 0e"},
        {"acquire authority", Updater::buildMessage(2, 1, 0x8000, 0, 2, encodeByteParam(1)),
            "0002 00 8000 0000 0002 0001 85  0001 0101  03 10"},
        {"release authority", Updater::buildMessage(4, 1, 0x8000, 0, 2, encodeByteParam(0)),
            "0004 00 8000 0000 0002 0001 87  0001 0100  02 12"},
        {"update changeover", Updater::buildMessage(5, 1, 0x8000, 0, 3, encodeByteParam(1)),
            "0005 00 8000 0000 0003 0001 89  0001 0101  03 18"},
        {"version query", Updater::buildMessage(8, 1, 0x8010, 0xF1, 0, encodeStringParam("PVER")),
            "0008 00 8010 00f1 0000 0001 8a  0001 8000000004 50564552  c2 98"},
        {"file writing",
            Updater::buildMessage(6, 2, 0x8000, 2, 1, encodeStringParam("T") + encodeByteArrayParam("\xC0")),
            "0006 00 8000 0002 0001 0001 8a  0002 8000000001 54 8000000001 c0  18 44"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hexOf(c.message), hexOf(unhex(c.bytes))) << c.name;
}

TEST(RecoveryProtocol, MessagesArePiecedBy1024)
{
    struct Case {
        int64_t length;
        int64_t pieces;
        int last;
    } cases[] = {{1, 1, 1}, {1024, 1, 1024}, {2048, 2, 1024}, {2049, 3, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(recovery_pieceCount(c.length), c.pieces) << c.length;
        EXPECT_EQ(recovery_pieceLength(c.length, c.pieces - 1), c.last) << c.length;
        EXPECT_EQ(recovery_pieceLength(c.length, c.pieces), 0) << c.length;
    }
    const QByteArray message(2048, 'x');
    const QByteArray frame = recovery_buildFrame(message, 1024, 1024, 1024 + 25, 1, kFF, kPc);
    EXPECT_EQ(frame.size(), 1051);
    EXPECT_EQ(hexOf(frame.left(26)),
        "0419"
        "0001"
        "ffffffffffff"
        "025100000001"
        "0000"
        "00000800"
        "00000400");
}

TEST(RecoveryProtocol, DelimitersInsideAFrameAreStuffedButNotCounted)
{
    // Piece of 167 bytes at offset 0xC000: the length field reads 00 C0 and
    // the offset 00 00 C0 00; the piece itself holds C0 and DB.
    QByteArray message(0xC000 + 167, '\x11');
    message[0xC000] = static_cast<char>(0xC0);
    message[0xC001] = static_cast<char>(0xDB);
    const QByteArray frame = recovery_buildFrame(message, 0xC000, 167, 167 + 25, 0, kFF, kPc);
    ASSERT_EQ(frame.size(), 167 + 27);
    EXPECT_EQ(hexOf(frame.left(2)), "00c0");
    EXPECT_EQ(hexOf(frame.mid(22, 6)), "0000c000c0db");
    const QByteArray encoded = recovery_slipEncode(frame);
    // C0 in the length, the message length (00 00 C0 A7), the offset and the
    // piece, and DB in the piece, are escaped.
    EXPECT_EQ(hexOf(encoded.left(4)), "c000dbdc");
    EXPECT_EQ(hexOf(encoded.mid(24, 10)), "a70000dbdc00dbdcdbdd");
    const int escapes = frame.count(static_cast<char>(0xC0)) + frame.count(static_cast<char>(0xDB));
    EXPECT_GE(escapes, 4);
    EXPECT_EQ(encoded.size(), frame.size() + escapes + 2);
    EXPECT_EQ(encoded.count(static_cast<char>(0xC0)), 2);

    // Sum of bytes 2.. before stuffing.
    uint32_t sum = 0;
    for (int i = 2; i < frame.size() - 1; ++i)
        sum += static_cast<uint8_t>(frame.at(i));
    EXPECT_EQ(static_cast<uint8_t>(frame.back()), static_cast<uint8_t>(sum));
}

TEST(RecoveryProtocol, DecodingKeepsStrayEscapesAndRefusesWrongSizes)
{
    QByteArray message;
    // A frame whose stuffed bytes decode back, with lengths of 0x80 and above.
    const QByteArray longReply = reply(9, 0, QByteArray("DNAME\0", 6) + QByteArray(0xA0, '\xC0'), true);
    ASSERT_GE(longReply.size(), 0x80);
    ASSERT_EQ(Updater::decodeFrame(replyFrame(longReply), &message), RecoveryDecode::Ok);
    EXPECT_EQ(message, longReply);

    // 0xDB before a byte other than DC/DD stays, with that byte.
    const QByteArray accepted = reply(1, 0);
    const int size = accepted.size();
    QByteArray raw = recovery_buildFrame(accepted, 0, size, size + 25, 0, kPc, kFF);
    raw[26 + 19] = static_cast<char>(0xDB); // data-sum byte: no length field depends on it
    QByteArray stray = recovery_slipEncode(raw);
    stray.replace(QByteArray("\xDB\xDD", 2), QByteArray("\xDB", 1));
    // The stray escape is now followed by the total-sum byte; the decoded
    // size still matches, so the message carries the 0xDB.
    ASSERT_EQ(Updater::decodeFrame(stray, &message), RecoveryDecode::Ok);
    EXPECT_EQ(static_cast<uint8_t>(message.at(19)), 0xDB);

    QByteArray wrongSize = recovery_buildFrame(accepted, 0, size, size + 26, 0, kPc, kFF);
    EXPECT_EQ(Updater::decodeFrame(recovery_slipEncode(wrongSize), &message), RecoveryDecode::Malformed);
    EXPECT_EQ(Updater::decodeFrame(QByteArray("\xC0\x00\xC0", 3), &message), RecoveryDecode::Malformed);

    // A message length beyond the piece, and a frame too short for its fields.
    QByteArray longLength = recovery_buildFrame(accepted, 0, size, size + 25, 0, kPc, kFF);
    longLength[21] = static_cast<char>(size + 1);
    EXPECT_EQ(Updater::decodeFrame(recovery_slipEncode(longLength), &message), RecoveryDecode::Short);
    EXPECT_EQ(Updater::decodeFrame(recovery_slipEncode(unhex("0004 0000 ffff")), &message), RecoveryDecode::Short);
    EXPECT_TRUE(message.isEmpty());
}

TEST(RecoveryProtocol, TheCutterDropsLeadingBytesTakesOneFrameAtATimeAndIsCapped)
{
    RecoveryFrameCutter cutter;
    QByteArray frame;
    cutter.append(unhex("55 66 c0 01 02"));
    EXPECT_EQ(cutter.cut(&frame), RecoveryFrameCutter::Cut::NeedMore);
    cutter.append(unhex("c0 c0 c0 c0 00"));
    ASSERT_EQ(cutter.cut(&frame), RecoveryFrameCutter::Cut::Frame);
    EXPECT_EQ(hexOf(frame), "c00102c0");
    ASSERT_EQ(cutter.cut(&frame), RecoveryFrameCutter::Cut::Frame);
    EXPECT_EQ(hexOf(frame), "c0c0");
    EXPECT_EQ(cutter.cut(&frame), RecoveryFrameCutter::Cut::NeedMore);
    EXPECT_EQ(cutter.size(), 2);

    cutter.clear();
    int guard = 0;
    RecoveryFrameCutter::Cut cut = RecoveryFrameCutter::Cut::NeedMore;
    while (cut == RecoveryFrameCutter::Cut::NeedMore && guard++ < 1000) {
        cutter.append(QByteArray(std::min(cutter.room(), 4096), '\x55'));
        EXPECT_LE(cutter.size(), kRecoveryReceiveCap + 1);
        cut = cutter.cut(&frame);
    }
    EXPECT_EQ(cut, RecoveryFrameCutter::Cut::Overflow);
    EXPECT_EQ(cutter.size(), 0);
}

TEST(RecoveryProtocol, ReplyChecksGiveEachCommandsCode)
{
    const QByteArray version("PVER\0R1.020", 11);
    const QByteArray name("DNAME\0Sorn-D", 12);
    struct Case {
        const char* what;
        QByteArray message;
        uint16_t code;
        QString text;
    } cases[] = {
        {"pathway refused", reply(1, -1), 9, {}},
        {"authority refused", reply(2, int32_t(0x80000001u)), 10, {}},
        {"release refused", reply(4, -1), 12, {}},
        {"disconnect refused", reply(13, -1), 11, {}},
        {"changeover: Z series", reply(5, int32_t(0x800000FFu)), 20, {}},
        {"changeover refused", reply(5, int32_t(0x800000FEu)), 13, {}},
        {"write: mismatched", reply(6, int32_t(0x8000020Au)), 17, {}},
        {"write refused", reply(6, -1), 14, {}},
        {"version refused", reply(8, -1, version, true), 15, {}},
        {"name refused", reply(9, -1, name, true), 16, {}},
        {"other command", reply(77, -1), 0, {}},
        {"pathway accepted", reply(1, 0), 0, {}},
        {"version", reply(8, 0, version, true), 0, "R1.020"},
        {"name", reply(9, 5, name, true), 0, "Sorn-D"},
        {"bare tag keeps the name", reply(9, 0, QByteArray("DNAME\0", 6), true), 0, {}},
        {"no result parameter", reply(1, 0).left(14), 18, {}},
        {"wrong first kind", reply(1, 0).replace(14, 1, "\x80"), 18, {}},
        {"result cut short", reply(1, 0).left(17), 18, {}},
        {"query without second", reply(9, 0), 18, {}},
        {"tag cut short", reply(9, 0, QByteArray("DNAM"), true), 18, {}},
        {"version tag cut short", reply(8, 0, QByteArray("PVE"), true), 18, {}},
        {"second longer than present", reply(9, 0, name, true).left(30), 18, {}},
    };
    for (const Case& c : cases) {
        const RecoveryReplyCheck check = recovery_checkReply(c.message);
        EXPECT_EQ(check.code, c.code) << c.what;
        EXPECT_EQ(check.text, c.text) << c.what;
    }
}

} // namespace
