// The command link over a scripted transport: what each reply line does to
// the update state, the answer flags and the stored texts; the exact bytes
// of every command and the refusals; the pump around a transfer; and the
// choice of the transfer object from the unit's protocols text.
#include "tests/fwupdate/mfu/mfu_fixture.h"

#include "fwupdate/mfu/mfu_protocol.h"
#include "fwupdate/mfu/mfu_tftp.h"
#include "fwupdate/mfu/mfu_xmodem.h"

#include <gtest/gtest.h>

namespace {

using namespace mfutest;

// A link on a fake transport, brought into a given update state the way the
// unit would: by a command and its reply.
class Link {
public:
    Link() { link.setSocket(&unit); }

    void enter(uint32_t state)
    {
        switch (state) {
        case UPDATE_STATE_ERASING:
            ASSERT_EQ(link.sendCommand(CMD_TYPE_ERASE), MFU_OK);
            break;
        case UPDATE_STATE_TRANSFERING: {
            auto stub = std::make_unique<StubTransfer>();
            stub->state = TRANSFER_STATE_FINISHED;
            link.setTransfer(std::move(stub));
            ASSERT_EQ(link.sendCommand(CMD_TYPE_FILEPUT), MFU_OK);
            break;
        }
        case UPDATE_STATE_REBOOTING:
            ASSERT_EQ(link.sendCommand(CMD_TYPE_REBOOT), MFU_OK);
            break;
        case UPDATE_STATE_WRITING:
        case UPDATE_STATE_WRITING_SUB:
            ASSERT_EQ(link.sendCommand(state == UPDATE_STATE_WRITING ? CMD_TYPE_START_WRITE : CMD_TYPE_START_WRITE_SUB,
                          "Brox-D2_V2.00"),
                MFU_OK);
            feed("OK\r\n");
            break;
        default:
            break;
        }
        ASSERT_EQ(link.updateState(), state);
        unit.sent.clear();
    }

    // Queues bytes in chunks and pumps until every chunk is read.
    void feed(const std::string& bytes, size_t chunk = 1 << 20)
    {
        unit.queue(bytes, chunk);
        for (int i = 0; i < 100000 && unit.pending() > 0; ++i)
            link.receive();
        EXPECT_EQ(unit.pending(), 0u);
    }

    qtest::MemoryTransport unit;
    FirmwareUpdateProtocol link;
};

struct ReplyCase {
    const char* name;
    uint32_t state; // update state before the command
    uint32_t command; // 0: none sent
    const char* bytes; // what the unit sends
    size_t chunk; // read size
    uint32_t stateAfter;
    uint32_t flagsAfter; // answer flags expected set (others clear)
    uint32_t unitState; // 0: not parsed
    int progress; // -1: not checked
    const char* logLine; // nullptr: none checked
};

constexpr uint32_t kNone = 0;
constexpr uint32_t kErr = MFU_FLAG_ERROR;

const ReplyCase kReplies[] = {
    {"protocols split in 3-byte reads", UPDATE_STATE_READY, CMD_TYPE_GET_PROTOCOL, "OK xmodem-1k|tftp\r\n", 3,
        UPDATE_STATE_READY, MFU_FLAG_PROTOCOLS, 0, -1, "Available Protocols are xmodem-1k|tftp"},
    {"product name ended by LF CR", UPDATE_STATE_READY, CMD_TYPE_GET_PRODUCTNAME, "OK BroxL-D3\n\r", 5,
        UPDATE_STATE_READY, MFU_FLAG_PRODUCT_NAME, 0, -1, "Product Name is BroxL-D3"},
    {"version ended by CR, byte by byte", UPDATE_STATE_READY, CMD_TYPE_GET_VERSION, "\rOK V1.10\r", 1,
        UPDATE_STATE_READY, MFU_FLAG_VERSION, 0, -1, "Version is V1.10"},
    {"sub-image version", UPDATE_STATE_READY, CMD_TYPE_GET_VERSION_SUB, "OK V2.00\r\n", 64, UPDATE_STATE_READY,
        MFU_FLAG_VERSION, 0, -1, "Version Sub is V2.00"},
    {"ready reqboot is not ready", UPDATE_STATE_READY, CMD_TYPE_GET_UPDATESTATE, "OK READY REQBOOT\r\n", 64,
        UPDATE_STATE_READY, MFU_FLAG_UPDATE_STATE, MFU_UNIT_READY_REQBOOT, 101, nullptr},
    {"ready reqpowercycle", UPDATE_STATE_READY, CMD_TYPE_GET_UPDATESTATE, "OK READY REQPOWERCYCLE\r\n", 64,
        UPDATE_STATE_READY, MFU_FLAG_UPDATE_STATE, MFU_UNIT_READY_REQPOWERCYCLE, 101, nullptr},
    {"ready", UPDATE_STATE_READY, CMD_TYPE_GET_UPDATESTATE, "OK READY\r\n", 64, UPDATE_STATE_READY,
        MFU_FLAG_UPDATE_STATE, MFU_UNIT_READY, 0, nullptr},
    {"fail power is not fail", UPDATE_STATE_READY, CMD_TYPE_GET_UPDATESTATE, "OK FAIL POWER\r\n", 64,
        UPDATE_STATE_READY, MFU_FLAG_UPDATE_STATE, MFU_UNIT_FAIL_POWER, -1, "Device : FAIL POWER"},
    {"fail reqservice", UPDATE_STATE_READY, CMD_TYPE_GET_UPDATESTATE, "OK FAIL REQSERVICE\r\n", 64, UPDATE_STATE_READY,
        MFU_FLAG_UPDATE_STATE, MFU_UNIT_FAIL_REQSERVICE, -1, nullptr},
    {"fail", UPDATE_STATE_READY, CMD_TYPE_GET_UPDATESTATE, "OK FAIL\r\n", 64, UPDATE_STATE_READY, MFU_FLAG_UPDATE_STATE,
        MFU_UNIT_FAIL, -1, nullptr},
    {"busy self progress while writing", UPDATE_STATE_WRITING, CMD_TYPE_GET_UPDATESTATE, "OK BUSY SELF 45%\r\n", 7,
        UPDATE_STATE_WRITING, MFU_FLAG_UPDATE_STATE | MFU_FLAG_WRITE_STARTED, MFU_UNIT_BUSY_SELF, 45, nullptr},
    {"busy other progress", UPDATE_STATE_WRITING_SUB, CMD_TYPE_GET_UPDATESTATE, "OK BUSY OTHER 12%\r\n", 64,
        UPDATE_STATE_WRITING_SUB, MFU_FLAG_UPDATE_STATE | MFU_FLAG_WRITE_STARTED, MFU_UNIT_BUSY_OTHER, 12, nullptr},
    {"percent past the window is no progress", UPDATE_STATE_WRITING, CMD_TYPE_GET_UPDATESTATE,
        "OK BUSY SELF               45%\r\n", 64, UPDATE_STATE_WRITING, MFU_FLAG_UPDATE_STATE | MFU_FLAG_WRITE_STARTED,
        MFU_UNIT_BUSY_SELF, 0, nullptr},
    {"percent past a byte is no progress", UPDATE_STATE_WRITING, CMD_TYPE_GET_UPDATESTATE, "OK BUSY SELF 300%\r\n", 64,
        UPDATE_STATE_WRITING, MFU_FLAG_UPDATE_STATE | MFU_FLAG_WRITE_STARTED, MFU_UNIT_BUSY_SELF, 0, nullptr},
    {"ready while writing ends the write", UPDATE_STATE_WRITING, CMD_TYPE_GET_UPDATESTATE, "OK READY\r\n", 64,
        UPDATE_STATE_READY, MFU_FLAG_UPDATE_STATE | MFU_FLAG_WRITE_STARTED | MFU_FLAG_WRITE_FINISHED, MFU_UNIT_READY,
        -1, nullptr},
    {"pushed OK while writing", UPDATE_STATE_WRITING, kNone, "PUSH updatestate OK\r\n", 4, UPDATE_STATE_READY,
        MFU_FLAG_WRITE_STARTED | MFU_FLAG_WRITE_FINISHED, 0, -1, nullptr},
    {"pushed OK while writing the sub image", UPDATE_STATE_WRITING_SUB, kNone, "PUSH updatestate OK\n", 64,
        UPDATE_STATE_READY, MFU_FLAG_WRITE_STARTED | MFU_FLAG_WRITE_FINISHED, 0, -1, nullptr},
    {"pushed OK while ready is ignored", UPDATE_STATE_READY, kNone, "PUSH updatestate OK\r", 64, UPDATE_STATE_READY,
        kNone, 0, -1, nullptr},
    {"pushed line of another kind is ignored", UPDATE_STATE_WRITING, kNone, "PUSH somethingelse OK\r", 64,
        UPDATE_STATE_WRITING, MFU_FLAG_WRITE_STARTED, 0, -1, nullptr},
    {"error version while erasing", UPDATE_STATE_ERASING, kNone, "ERROR VERSION\r\n", 64, UPDATE_STATE_ABORTED, kErr, 0,
        -1, "COMM ERROR : VERSION"},
    {"erase finished", UPDATE_STATE_ERASING, kNone, "OK\r\n", 64, UPDATE_STATE_READY, MFU_FLAG_ERASED, 0, -1,
        "Firmware Erased"},
    {"error storage while transferring", UPDATE_STATE_TRANSFERING, kNone, "ERROR STORAGE\r\n", 64, UPDATE_STATE_ABORTED,
        kErr, 0, -1, "COMM ERROR : STORAGE"},
    {"unknown error while transferring", UPDATE_STATE_TRANSFERING, kNone, "ERROR DISK\r\n", 64, UPDATE_STATE_ABORTED,
        kErr, 0, -1, "COMM ERROR : UNKNOWN"},
    {"transfer confirmed", UPDATE_STATE_TRANSFERING, kNone, "OK\r\n", 64, UPDATE_STATE_READY, MFU_FLAG_TRANSFERRED, 0,
        -1, "File Transfer Finished"},
    {"error on the sub-image version keeps ready", UPDATE_STATE_READY, CMD_TYPE_GET_VERSION_SUB, "ERROR COMMAND\r\n",
        64, UPDATE_STATE_READY, kErr, 0, -1, nullptr},
    {"error on a query aborts", UPDATE_STATE_READY, CMD_TYPE_GET_PRODUCTNAME, "ERROR COMMAND\r\n", 64,
        UPDATE_STATE_ABORTED, kErr, 0, -1, nullptr},
    {"error while writing parses the state", UPDATE_STATE_WRITING, CMD_TYPE_GET_UPDATESTATE, "ERROR FAIL POWER\r\n", 64,
        UPDATE_STATE_ABORTED, kErr | MFU_FLAG_WRITE_STARTED, MFU_UNIT_FAIL_POWER, -1, "ERROR ON WRITING"},
    {"error while writing the sub image readies", UPDATE_STATE_WRITING_SUB, CMD_TYPE_GET_UPDATESTATE, "ERROR FAIL\r\n",
        64, UPDATE_STATE_READY, kErr | MFU_FLAG_WRITE_STARTED, MFU_UNIT_FAIL, -1, nullptr},
    {"write started", UPDATE_STATE_READY, CMD_TYPE_START_WRITE, "OK\r\n", 64, UPDATE_STATE_WRITING,
        MFU_FLAG_WRITE_STARTED, 0, -1, nullptr},
    // Lines shorter than their skip leave an empty rest.
    {"bare OK to a product name", UPDATE_STATE_READY, CMD_TYPE_GET_PRODUCTNAME, "OK\r", 64, UPDATE_STATE_READY,
        MFU_FLAG_PRODUCT_NAME, 0, -1, "Product Name is "},
    {"bare ERROR", UPDATE_STATE_READY, CMD_TYPE_GET_UPDATESTATE, "ERROR\r", 64, UPDATE_STATE_ABORTED, kErr, 0, -1,
        nullptr},
    {"bare busy self", UPDATE_STATE_WRITING, CMD_TYPE_GET_UPDATESTATE, "OK BUSY SELF\r", 64, UPDATE_STATE_WRITING,
        MFU_FLAG_UPDATE_STATE | MFU_FLAG_WRITE_STARTED, MFU_UNIT_BUSY_SELF, 0, nullptr},
    {"bare busy other", UPDATE_STATE_WRITING, CMD_TYPE_GET_UPDATESTATE, "OK BUSY OTHER\r", 64, UPDATE_STATE_WRITING,
        MFU_FLAG_UPDATE_STATE | MFU_FLAG_WRITE_STARTED, MFU_UNIT_BUSY_OTHER, 0, nullptr},
    {"bare PUSH", UPDATE_STATE_WRITING, kNone, "PUSH\rPUSH updatestate\r", 64, UPDATE_STATE_WRITING,
        MFU_FLAG_WRITE_STARTED, 0, -1, nullptr},
    {"unknown update state", UPDATE_STATE_READY, CMD_TYPE_GET_UPDATESTATE, "OK SLEEPING\r", 64, UPDATE_STATE_READY,
        MFU_FLAG_UPDATE_STATE, 0, -1, nullptr},
    {"other text is ignored", UPDATE_STATE_READY, CMD_TYPE_GET_PRODUCTNAME, "HELLO\r\n\r\n", 64, UPDATE_STATE_READY,
        kNone, 0, -1, nullptr},
};

TEST(MfuLinkReplies, EachReplyLineAgainstTheUpdateState)
{
    for (const ReplyCase& row : kReplies) {
        SCOPED_TRACE(row.name);
        LogCapture log;
        Link l;
        l.enter(row.state);
        if (row.command) {
            ASSERT_EQ(l.link.sendCommand(row.command, "sub"), MFU_OK);
        }
        l.feed(row.bytes, row.chunk);
        EXPECT_EQ(l.link.updateState(), row.stateAfter) << FirmwareUpdateProtocol::stateName(l.link.updateState());
        EXPECT_EQ(l.link.resultFlags() & ~MFU_FLAG_ERROR & ~MFU_FLAG_TRANSFERRED,
            row.flagsAfter & ~MFU_FLAG_ERROR & ~MFU_FLAG_TRANSFERRED);
        EXPECT_EQ(l.link.resultFlags() & (MFU_FLAG_ERROR | MFU_FLAG_TRANSFERRED),
            row.flagsAfter & (MFU_FLAG_ERROR | MFU_FLAG_TRANSFERRED));
        if (row.unitState) {
            EXPECT_EQ(l.link.unitUpdateState(), row.unitState);
        }
        if (row.progress >= 0) {
            EXPECT_EQ(l.link.writeProgress(), row.progress);
        }
        if (row.logLine) {
            EXPECT_TRUE(log.has(row.logLine)) << row.logLine;
        }
        // Separators never make empty lines.
        EXPECT_EQ(log.exact("[FirmwareUpdateProtocol] Received One Line : "), 0);
    }
}

TEST(MfuLinkReplies, SeparatorsGiveOneLineEach)
{
    for (const char* separator : {"\r", "\n", "\r\n", "\n\r", "\r\r\n\n"}) {
        for (size_t chunk : {size_t{1}, size_t{2}, size_t{64}}) {
            SCOPED_TRACE(
                std::string("separator ") + std::to_string(strlen(separator)) + " chunk " + std::to_string(chunk));
            LogCapture log;
            Link l;
            const std::string s(separator);
            l.feed(s + "A" + s + "BB" + s + s + "CCC" + s, chunk);
            EXPECT_EQ(log.count("Received One Line : "), 3);
            EXPECT_TRUE(log.has("Received One Line : A"));
            EXPECT_TRUE(log.has("Received One Line : BB"));
            EXPECT_TRUE(log.has("Received One Line : CCC"));
        }
    }
}

TEST(MfuLinkReplies, PartialLineWaitsForItsEnd)
{
    Link l;
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_PRODUCTNAME), MFU_OK);
    l.feed("OK Brox");
    EXPECT_EQ(l.link.productNameReceived(), 0);
    EXPECT_TRUE(l.link.isAsking());
    l.feed("L-D2\r");
    EXPECT_EQ(l.link.productNameReceived(), 1);
    EXPECT_STREQ(l.link.productName(), "BroxL-D2");
    EXPECT_FALSE(l.link.isAsking());
}

TEST(MfuLinkReplies, ErrorIsReadOnceThenTheFlags)
{
    Link l;
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_VERSION_SUB, "Brox-D2"), MFU_OK);
    l.feed("ERROR COMMAND\r");
    EXPECT_EQ(l.link.versionReceived(), 2);
    EXPECT_EQ(l.link.versionReceived(), 0);
    EXPECT_EQ(l.link.lastCommand(), 0u);
}

TEST(MfuLinkReplies, VersionErrorFlagOnlyWhileErasing)
{
    Link erasing;
    erasing.enter(UPDATE_STATE_ERASING);
    erasing.feed("ERROR VERSION MISMATCH\r");
    EXPECT_TRUE(erasing.link.versionError());
    EXPECT_EQ(erasing.link.eraseFinished(), 2);

    Link ready;
    ASSERT_EQ(ready.link.sendCommand(CMD_TYPE_GET_VERSION), MFU_OK);
    ready.feed("ERROR VERSION\r");
    EXPECT_FALSE(ready.link.versionError());
}

TEST(MfuLinkReplies, TextsAreCutToTheirFields)
{
    Link l;
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_VERSION), MFU_OK);
    l.feed("OK V1.10-abcdefghijklmnopqrstuvwxyz\r");
    EXPECT_STREQ(l.link.version(), "V1.10-abcdefghi");
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_PROTOCOL), MFU_OK);
    l.feed("OK " + std::string(400, 'p') + "\r");
    EXPECT_EQ(strlen(l.link.protocols()), MFU_PROTOCOLS_MAX - 1);
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_MACADDRESS), MFU_OK);
    l.feed("OK 0011223344\r");
    EXPECT_STREQ(l.link.macAddress(), "");
    EXPECT_EQ(l.link.macAddressReceived(), 1);
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_MACADDRESS_SUB, "Brox-D2"), MFU_OK);
    l.feed("OK 001122334455\r");
    EXPECT_STREQ(l.link.macAddress(), "001122334455");
}

TEST(MfuLinkReplies, BufferFullWithoutLineEndIsDroppedAndReadingGoesOn)
{
    LogCapture log;
    Link l;
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_PRODUCTNAME), MFU_OK);
    l.feed(std::string(10001, 'x'), 4096);
    EXPECT_TRUE(log.has("Line Too Long"));
    l.feed("\rOK PellM-D2\r");
    EXPECT_STREQ(l.link.productName(), "PellM-D2");
    EXPECT_EQ(l.link.productNameReceived(), 1);
}

TEST(MfuLinkReplies, WriteStopwatchRestartsOnProgress)
{
    ManualTick tick;
    Link l;
    l.enter(UPDATE_STATE_WRITING);
    tick.advance(20000);
    EXPECT_EQ(l.link.writeElapsedMs(), 20000u);
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_UPDATESTATE), MFU_OK);
    l.feed("OK BUSY SELF 45%\r\n");
    EXPECT_EQ(l.link.writeElapsedMs(), 0u);
    EXPECT_EQ(l.link.writeProgress(), 45);
    // Busy without a percent still shows the unit alive while writing.
    tick.advance(5000);
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_UPDATESTATE), MFU_OK);
    l.feed("OK BUSY SELF\r\n");
    EXPECT_EQ(l.link.writeElapsedMs(), 0u);
    // Another answer does not.
    tick.advance(7000);
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_UPDATESTATE), MFU_OK);
    l.feed("OK FAIL\r\n");
    EXPECT_EQ(l.link.writeElapsedMs(), 7000u);
}

// --- Sending ------------------------------------------------------------------

TEST(MfuLinkSend, ExactBytesOfEveryKind)
{
    const struct {
        uint32_t kind;
        const char* bytes;
    } kinds[] = {
        {1, "\rupdate get protocol\r"},
        {2, "\rupdate get productname\r"},
        {3, "\rupdate get version\r"},
        {4, "\rupdate get updatestate\r"},
        {5, "\rupdate erase _flashrom\r"},
        {6, "\rupdate fileput xmodem-1k\r"},
        {7, "\rupdate write\r"},
        {8, "\rupdate reboot\r"},
        {9, "\rupdate request get ARG\r"},
        {10, "\rupdate erase _flashrom ARG\r"},
        {11, "\rupdate fileput xmodem-1k ARG\r"},
        {12, "\rupdate get macaddress\r"},
        {13, "\rupdate get macaddress ARG\r"},
        {14, "\rupdate get version ARG\r"},
        {15, "\rupdate write noforce default ARG\r"},
    };
    const uint32_t stateAfter[] = {0, UPDATE_STATE_READY, UPDATE_STATE_READY, UPDATE_STATE_READY, UPDATE_STATE_READY,
        UPDATE_STATE_ERASING, UPDATE_STATE_TRANSFERING, UPDATE_STATE_READY, UPDATE_STATE_REBOOTING,
        UPDATE_STATE_TRANSFERING, UPDATE_STATE_ERASING, UPDATE_STATE_TRANSFERING, UPDATE_STATE_READY,
        UPDATE_STATE_READY, UPDATE_STATE_READY, UPDATE_STATE_READY};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.kind);
        LogCapture log;
        Link l;
        l.link.setTransfer(std::make_unique<StubTransfer>());
        ASSERT_EQ(l.link.sendCommand(k.kind, "ARG"), MFU_OK);
        EXPECT_EQ(l.unit.sent, k.bytes);
        EXPECT_EQ(l.link.lastCommand(), k.kind);
        EXPECT_EQ(l.link.updateState(), stateAfter[k.kind]);
        const bool query = k.kind <= 4 || k.kind == 7 || k.kind == 14 || k.kind == 15;
        EXPECT_EQ(l.link.isAsking(), query);
        if (query) {
            EXPECT_TRUE(log.has(std::string("m_isAsking TRUE : ") + FirmwareUpdateProtocol::commandName(k.kind)));
        }
    }
}

TEST(MfuLinkSend, CommandClearsOnlyItsOwnAnswer)
{
    Link l;
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_PRODUCTNAME), MFU_OK);
    l.feed("OK BroxM-D3\r");
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_VERSION), MFU_OK);
    l.feed("OK V1.20\r");
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_VERSION), MFU_OK);
    EXPECT_EQ(l.link.versionReceived(), 0);
    EXPECT_STREQ(l.link.version(), "");
    EXPECT_EQ(l.link.productNameReceived(), 1);
    EXPECT_STREQ(l.link.productName(), "BroxM-D3");
}

TEST(MfuLinkSend, Refusals)
{
    struct Refusal {
        const char* name;
        uint32_t state;
        uint32_t kind;
        std::string argument;
        bool transfer;
        MfuResult result;
        const char* logLine;
    };
    const Refusal refusals[] = {
        {"erasing", UPDATE_STATE_ERASING, CMD_TYPE_GET_PROTOCOL, "", true, MFU_E_FAIL,
            "device is busy because of : state is ERASING "},
        {"transferring", UPDATE_STATE_TRANSFERING, CMD_TYPE_GET_PROTOCOL, "", true, MFU_E_FAIL,
            "device is busy because of : state is TRANSFERRING "},
        {"rebooting", UPDATE_STATE_REBOOTING, CMD_TYPE_GET_UPDATESTATE, "", true, MFU_E_FAIL,
            "device is busy because of : state is REBOOTING "},
        {"kind 0", UPDATE_STATE_READY, 0, "", true, MFU_E_FAIL, "NG! Wrong Command. "},
        {"kind 16", UPDATE_STATE_READY, 16, "", true, MFU_E_FAIL, "NG! Wrong Command. "},
        {"file put without transfer", UPDATE_STATE_READY, CMD_TYPE_FILEPUT, "", false, MFU_E_FAIL,
            "NG! Transfer Protocol Is Not Set. "},
        {"request without transfer", UPDATE_STATE_READY, CMD_TYPE_REQUEST_GET, "x", false, MFU_E_FAIL,
            "NG! Transfer Protocol Is Not Set. "},
        {"line over 128 bytes", UPDATE_STATE_READY, CMD_TYPE_REQUEST_GET, std::string(107, 'a'), true, MFU_E_ARG,
            "NG! Command Too Long. "},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        LogCapture log;
        Link l;
        if (r.transfer)
            l.link.setTransfer(std::make_unique<StubTransfer>());
        l.enter(r.state);
        EXPECT_EQ(l.link.sendCommand(r.kind, r.argument.c_str()), r.result);
        EXPECT_EQ(l.unit.sent, "");
        EXPECT_TRUE(log.has(r.logLine)) << r.logLine;
        if (r.state != UPDATE_STATE_READY) {
            EXPECT_TRUE(log.has("NG! Module Is Busy. "));
        }
        EXPECT_EQ(l.link.updateState(), r.state);
    }
}

TEST(MfuLinkSend, LongestArgumentThatFits)
{
    // "\rupdate request get " + argument + "\r" fills 127 bytes.
    const std::string argument(127 - 2 - strlen("update request get "), 'a');
    Link l;
    l.link.setTransfer(std::make_unique<StubTransfer>());
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_REQUEST_GET, argument.c_str()), MFU_OK);
    EXPECT_EQ(l.unit.sent, "\rupdate request get " + argument + "\r");
    Link m;
    m.link.setTransfer(std::make_unique<StubTransfer>());
    EXPECT_EQ(m.link.sendCommand(CMD_TYPE_REQUEST_GET, (argument + "a").c_str()), MFU_E_ARG);
}

TEST(MfuLinkSend, NoSocketAndFailedSend)
{
    LogCapture log;
    FirmwareUpdateProtocol bare;
    EXPECT_EQ(bare.sendCommand(CMD_TYPE_GET_PROTOCOL), MFU_E_FAIL);
    EXPECT_TRUE(log.has("device is busy because of : state is OTHERS "));
    char byte;
    uint32_t count = 7;
    EXPECT_EQ(bare.readBytes(&byte, 1, &count), MFU_E_FAIL);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(bare.sendBytes("x", 1), MFU_E_FAIL);
    EXPECT_EQ(bare.setSocket(nullptr), MFU_E_FAIL);

    Link l;
    l.unit.writeResult = VCOM::VCOM_E_STATE;
    EXPECT_LT(l.link.sendCommand(CMD_TYPE_GET_PROTOCOL), 0);
    EXPECT_TRUE(log.has("NG! Cannot Send Command "));
    EXPECT_EQ(l.link.updateState(), UPDATE_STATE_ABORTED);
    EXPECT_TRUE(log.has("setUpdateState UPDATE_STATE_ABORTED"));
    EXPECT_EQ(l.link.sendCommand(CMD_TYPE_GET_PROTOCOL), MFU_E_FAIL);
}

TEST(MfuLinkSend, AskingOnlyAddsALogLine)
{
    LogCapture log;
    Link l;
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_PROTOCOL), MFU_OK);
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_GET_VERSION), MFU_OK);
    EXPECT_TRUE(log.has("device is busy because of : m_IsAsking "));
    l.feed("OK V1.00\r");
    EXPECT_TRUE(log.has("m_isAsking : FALSE"));
    EXPECT_FALSE(l.link.isAsking());
}

TEST(MfuLinkSend, FilePathLimit)
{
    FirmwareUpdateProtocol link;
    EXPECT_EQ(link.setFilePath(std::string(259, 'f').c_str()), MFU_OK);
    EXPECT_EQ(link.setFilePath(std::string(260, 'f').c_str()), MFU_E_FAIL);
    EXPECT_EQ(strlen(link.filePath()), 259u);
}

// --- The pump around a transfer ---------------------------------------------------

TEST(MfuLinkTransfer, PumpStepsUntilFinishedThenReadsTheReply)
{
    LogCapture log;
    Link l;
    auto owned = std::make_unique<StubTransfer>();
    StubTransfer* stub = owned.get();
    stub->script
        = {TRANSFER_STATE_TRANSFERRING, TRANSFER_STATE_WAIT_EOT, TRANSFER_STATE_WAIT_EOT, TRANSFER_STATE_FINISHED};
    l.link.setTransfer(std::move(owned));
    ASSERT_EQ(l.link.sendCommand(CMD_TYPE_FILEPUT_SUB, "Brox-D2_V2.00"), MFU_OK);
    l.unit.queue("OK\r\n");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(l.link.receive(), MFU_OK);
    EXPECT_EQ(stub->steps, 4);
    EXPECT_EQ(l.unit.pending(), 4u); // nothing read while the file goes out
    EXPECT_EQ(log.count("[proceedTransfering] EOT Waiting..."), 1);
    EXPECT_TRUE(log.has("Transfer Log : [proceedTransfering] Transfer Finished"));
    EXPECT_EQ(l.link.receive(), MFU_OK);
    EXPECT_EQ(stub->steps, 4);
    EXPECT_EQ(l.link.updateState(), UPDATE_STATE_READY);
    EXPECT_EQ(l.link.transferFinished(), 1);
}

TEST(MfuLinkTransfer, AbortedTransferAbortsTheLink)
{
    for (bool stepped : {true, false}) {
        SCOPED_TRACE(stepped ? "aborted in a step" : "aborted by the server's task");
        LogCapture log;
        Link l;
        auto owned = std::make_unique<StubTransfer>();
        StubTransfer* stub = owned.get();
        l.link.setTransfer(std::move(owned));
        ASSERT_EQ(l.link.sendCommand(CMD_TYPE_REQUEST_GET, "tftp://1.2.3.4:1999/f.bin"), MFU_OK);
        if (stepped)
            stub->script = {TRANSFER_STATE_ABORTED};
        else
            stub->state = TRANSFER_STATE_ABORTED;
        EXPECT_EQ(l.link.receive(), MFU_E_ABORTED);
        EXPECT_EQ(l.link.updateState(), UPDATE_STATE_ABORTED);
        EXPECT_TRUE(log.has("[ERROR] MFU Transfer Aborted!!! (probably cause by 30sec timeout)"));
        EXPECT_EQ(l.link.receive(), MFU_OK); // nothing more happens
    }
}

TEST(MfuLinkTransfer, PercentInSixtyFourBits)
{
    FirmwareUpdateProtocol link;
    EXPECT_EQ(link.transferPercent(), 0u);
    auto owned = std::make_unique<StubTransfer>();
    StubTransfer* stub = owned.get();
    link.setTransfer(std::move(owned));
    EXPECT_EQ(link.transferPercent(), 0u); // empty file
    stub->size = 40u << 20;
    stub->sent = 30u << 20;
    EXPECT_EQ(link.transferPercent(), 75u);
    stub->sent = stub->size;
    EXPECT_EQ(link.transferPercent(), 100u);
}

// --- Choosing the transfer ------------------------------------------------------------

TEST(MfuLinkChooser, FirstUsableNameWins)
{
    const std::string longName(40, 'x');
    const struct {
        std::string protocols;
        int32_t kind; // -1: none chosen
    } rows[] = {
        {"xmodem-1k|tftp", MFU_TRANSFER_XMODEM_1K},
        {"tftp", MFU_TRANSFER_TFTP},
        {"tftp|xmodem-1k", MFU_TRANSFER_TFTP},
        {"foo|xmodem-crc", MFU_TRANSFER_XMODEM_CRC},
        {"xmodem-sum", MFU_TRANSFER_XMODEM_SUM},
        {"", -1},
        {"|", -1},
        {"||xmodem-1k", MFU_TRANSFER_XMODEM_1K},
        {longName, -1},
        {longName + "|tftp", MFU_TRANSFER_TFTP},
        {"XMODEM-1K|tftp ", -1},
        {"xmodem-1k ", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.protocols);
        Link l;
        ASSERT_EQ(l.link.setFilePath("/tmp/firmware.bin"), MFU_OK);
        const MfuResult rc = mfu_chooseTransfer(l.link, row.protocols.c_str(), "127.0.0.1");
        if (row.kind < 0) {
            EXPECT_EQ(rc, MFU_E_FAIL);
            EXPECT_EQ(l.link.transfer(), nullptr);
            continue;
        }
        ASSERT_EQ(rc, MFU_OK);
        ASSERT_NE(l.link.transfer(), nullptr);
        if (row.kind == MFU_TRANSFER_TFTP) {
            EXPECT_NE(dynamic_cast<TransferTFTP*>(l.link.transfer()), nullptr);
        } else {
            auto* xmodem = dynamic_cast<TransferXModem*>(l.link.transfer());
            ASSERT_NE(xmodem, nullptr);
            EXPECT_EQ(xmodem->mode(), row.kind);
        }
    }
}

TEST(MfuLinkChooser, NothingIsChosenUnlessReadyOrForAPathTooLong)
{
    FirmwareUpdateProtocol notConnected;
    notConnected.setFilePath("/tmp/f.bin");
    EXPECT_EQ(mfu_chooseTransfer(notConnected, "xmodem-1k|tftp", "127.0.0.1"), MFU_E_FAIL);
    EXPECT_EQ(notConnected.transfer(), nullptr);

    Link l;
    ASSERT_EQ(l.link.setFilePath(("/" + std::string(257, 'p')).c_str()), MFU_OK);
    EXPECT_EQ(mfu_chooseTransfer(l.link, "xmodem-1k|tftp", "127.0.0.1"), MFU_E_FAIL);
}

TEST(MfuLinkChooser, NamesMatchExactly)
{
    EXPECT_EQ(mfu_transferKind("xmodem-sum"), 0);
    EXPECT_EQ(mfu_transferKind("xmodem-crc"), 1);
    EXPECT_EQ(mfu_transferKind("xmodem-1k"), 2);
    EXPECT_EQ(mfu_transferKind("tftp"), 3);
    for (const char* other : {"", "tft", "tftpx", "xmodem", "Xmodem-1k", "xmodem-1k\n"})
        EXPECT_EQ(mfu_transferKind(other), -1) << other;
    EXPECT_EQ(mfu_transferKind(nullptr), -1);
    EXPECT_EQ(mfu_makeTransfer("zmodem", "127.0.0.1"), nullptr);
}

} // namespace
