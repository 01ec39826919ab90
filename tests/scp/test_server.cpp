// The answering side: request lines in, reply lines out, against a small
// in-memory unit. Tables pin the exact reply bytes of every word, the
// ERROR replies of malformed requests (with no state change), the 200-value
// limit of the read words and the protocol-mode pair with the client's
// session checks. A Python client written from the wire format talks to the
// server over loopback TCP.
#include "scp/scp_factory.h"
#include "scp/scp_server.h"
#include "scp/scp_server_commands.h"
#include "scp/scp_server_mode.h"
#include "scp/scp_server_session.h"
#include "tests/scp/scp_test_store.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace SCP;
using namespace scptest;

namespace {

uint32_t g_now = 0;
uint32_t fakeTick()
{
    return g_now;
}

ScpText makeText(const std::string& s)
{
    ScpText t(s.size() + 1);
    t.assign(s.c_str(), s.size());
    return t;
}

// A server session over the test unit.
struct Unit {
    TestParameters params;
    TestDevice device;
    TestMeters meters;
    ScpServerSession session{&device, &params, &meters, 7};
    ScpRing ring;

    Unit()
    {
        EXPECT_EQ(session.init(2), SCP_OK);
        ring.allocate(0, SCP_SERVER_RING_SIZE);
    }

    // All reply bytes for the bytes received.
    std::string send(const std::string& bytes)
    {
        std::vector<uint8_t> out;
        EXPECT_EQ(session.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out), SCP_OK);
        return std::string(out.begin(), out.end());
    }

    // One RAW request line: the command's result, the reply in *reply.
    JResult ask(const std::string& line, std::string* reply)
    {
        ScpDecoderRAW decoder;
        const std::string bytes = line + "\n";
        size_t used = 0;
        EXPECT_EQ(decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &used), SCP_LINE_COMPLETE);
        const JResult r = session.handleLine(decoder.keys(), decoder.values(), ring);
        reply->assign(reinterpret_cast<const char*>(ring.buffer()), ring.count());
        return r;
    }

    // Everything a request could change.
    std::string snapshot()
    {
        std::string s;
        for (const TestParam& p : params.params) {
            for (int32_t v : p.values)
                s += std::to_string(v) + ",";
            for (const std::string& t : p.texts)
                s += t + ",";
        }
        s += "|" + std::to_string(params.currentSceneNumber) + std::to_string(params.sceneModified);
        s += "|" + std::to_string(params.recalled.size()) + device.mode + std::to_string(device.events.size());
        ScpSessionData& d = session.session();
        s += "|" + std::to_string(d.decoderKind()) + std::to_string(d.encoding()) + std::to_string(d.valueType());
        s += std::to_string(d.resolution()) + "/" + std::to_string(d.keepAlive()) + "/";
        s += std::to_string(d.meters().count());
        return s;
    }
};

struct Case {
    const char* request;
    JResult result;
    const char* reply; // without the LF
};

void runTable(Unit& unit, const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        std::string reply;
        EXPECT_EQ(unit.ask(c.request, &reply), c.result) << c.request;
        EXPECT_EQ(reply, std::string(c.reply) + "\n") << c.request;
    }
}

} // namespace

// Every word's main path: what reaches the unit and the exact reply line.
TEST(ScpServerTest, EveryWordAnswersWithItsReplyElements)
{
    Unit unit;
    runTable(unit,
        {
            {"get IO:Current/InCh/48VOn 0 0", 0, "OK get IO:Current/InCh/48VOn 0 0 0"},
            {"GET io:current/inch/48von 2 0", 0, "OK get IO:Current/InCh/48VOn 2 0 0"},
            {"set IO:Current/InCh/48VOn 3 0 1", 1, "OK set IO:Current/InCh/48VOn 3 0 1 \"1\""},
            {"set IO:Current/InCh/48VOn 3 0 1", 0, "OK set IO:Current/InCh/48VOn 3 0 1 \"1\""},
            {"get IO:Current/InCh/48VOn all 0", 0, "OK get IO:Current/InCh/48VOn all 0 0 0 0 1 0 0 0 0"},
            {"set IO:Current/InCh/Label 0 0 \"Kick \\\"In\\\"\"", 1,
                "OK set IO:Current/InCh/Label 0 0 \"Kick \\\"In\\\"\" \"Kick \\\"In\\\"\""},
            {"gett IO:Current/InCh/Label all 0", 0,
                "OK gett IO:Current/InCh/Label all 0 \"Kick \\\"In\\\"\" \"Ch2\" \"Ch3\" \"Ch4\" \"Ch5\" \"Ch6\" "
                "\"Ch7\" \"Ch8\""},
            {"setn MIXER:Current/Fader/Level 0 1 500", 1, "OK setn MIXER:Current/Fader/Level 0 1 500 \"-6400\""},
            {"getn MIXER:Current/Fader/Level 0 all", 0, "OK getn MIXER:Current/Fader/Level 0 all 0 500"},
            {"setr MIXER:Current/Fader/Level 2 0 500", 1, "OK setr MIXER:Current/Fader/Level 2 0 -13300 \"-13300\""},
            {"sett MIXER:Current/Fader/Level 3 1 \"-100\"", 1, "OK sett MIXER:Current/Fader/Level 3 1 \"-100\" -100"},
            {"prminfo 2", 0,
                "OK prminfo 2 \"MIXER:Current/Fader/Level\" 4 2 -13800 1000 -13800 \"dB\" integer fader rw 100"},
            {"prmnum", 0, "OK prmnum 4"},
            {"mtrstart mixer:meter/stinch 100", 0, "OK mtrstart MIXER:Meter/StInCh 100"},
            {"mtrinfo 1", 0, "OK mtrinfo 1 \"MIXER:Meter/StInCh\" 2 gr"},
            {"mtrnum", 0, "OK mtrnum 2"},
            {"mtrstop MIXER:Meter/StInCh", 0, "OK mtrstop MIXER:Meter/StInCh"},
            {"sscurrent", 0, "OK sscurrent 1 modified"},
            {"ssupdate", 0, "OK ssupdate 1"},
            {"ssrecall 2", 0, "OK ssrecall 2"},
            {"sscurrent", 0, "OK sscurrent 2 unmodified"},
            {"ssinfo 0", 0, "OK ssinfo 0 \"000\" \"Scene 0\" \"?\" preinst"},
            {"ssnum", 0, "OK ssnum 3"},
            {"event Reboot \"in 5 s\"", 0, "OK event Reboot \"in 5 s\""},
            {"devinfo productname", 0, "OK devinfo productname \"QX16 Stage Rack\""},
            {"devmode update", 0, "OK devmode update"},
            {"devstatus runmode", 0, "OK devstatus runmode \"update\""},
            {"scpmode Resolution 0500", 0, "OK scpmode resolution 500"},
        });
    EXPECT_EQ(unit.params.cell(0, 3, 0), 1);
    EXPECT_EQ(unit.params.textCell(1, 0, 0), "Kick \"In\"");
    EXPECT_EQ(unit.params.cell(2, 0, 1), -6400);
    EXPECT_EQ(unit.params.cell(2, 2, 0), -13300);
    EXPECT_EQ(unit.params.cell(2, 3, 1), -100);
    EXPECT_EQ(unit.params.recalled, std::vector<int32_t>{2});
    ASSERT_EQ(unit.device.events.size(), 1u);
    EXPECT_EQ(unit.device.events[0], std::make_pair(std::string("Reboot"), std::string("in 5 s")));
    EXPECT_EQ(unit.session.session().resolution(), 500u);
    EXPECT_EQ(unit.session.session().meters().count(), 0u) << "started, then stopped";
}

// Malformed or refused requests: ERROR with the request's leading elements,
// the code of the failure, and nothing changed.
TEST(ScpServerTest, RefusedRequestsAnswerErrorAndChangeNothing)
{
    Unit unit;
    const std::string before = unit.snapshot();
    runTable(unit,
        {
            {"get IO:Current/InCh/48VOn 0", SCP_E_MISSING, "ERROR get IO:Current/InCh/48VOn 0"},
            {"get IO:Current/InCh/48VOn x 0", SCP_E_MISSING, "ERROR get IO:Current/InCh/48VOn"},
            {"get Nope 0 0", SCP_E_INDEX, "ERROR get Nope 0 0"},
            {"get Nope -1 0", SCP_E_INDEX, "ERROR get Nope -1 0"},
            {"get IO:Current/InCh/48VOn -1 0", SCP_E_ARG, "ERROR get IO:Current/InCh/48VOn -1 0"},
            {"getn IO:Current/InCh/48VOn all ALL", SCP_E_ARG, "ERROR getn IO:Current/InCh/48VOn all all"},
            {"gett IO:Current/InCh/Label 9 0", SCP_E_INDEX, "ERROR gett IO:Current/InCh/Label 9 0"},
            {"set IO:Current/InCh/48VOn 2147483647 0 1", SCP_E_INDEX, "ERROR set IO:Current/InCh/48VOn 2147483647 0 1"},
            {"set IO:Current/InCh/48VOn 0 0 5", SCP_E_ARG, "ERROR set IO:Current/InCh/48VOn 0 0 5"},
            {"set IO:Current/InCh/48VOn 0 0 12x", SCP_E_MISSING, "ERROR set IO:Current/InCh/48VOn 0 0"},
            {"set IO:Current/InCh/48VOn 0 0 99999999999", SCP_E_MISSING, "ERROR set IO:Current/InCh/48VOn 0 0"},
            {"set IO:Current/InCh/48VOn all all 1", SCP_E_ARG, "ERROR set IO:Current/InCh/48VOn all all 1"},
            {"set IO:Current/InCh/48VOn 0 0 \"on\"", SCP_E_ARG, "ERROR set IO:Current/InCh/48VOn 0 0 \"on\""},
            {"setn MIXER:Current/Fader/Level 0 0", SCP_E_MISSING, "ERROR setn MIXER:Current/Fader/Level 0 0"},
            {"setr MIXER:Current/Fader/Level 0 0 1.5", SCP_E_MISSING, "ERROR setr MIXER:Current/Fader/Level 0 0"},
            {"sett MIXER:Current/Fader/Level 0 0 loud", SCP_E_ARG, "ERROR sett MIXER:Current/Fader/Level 0 0 \"loud\""},
            {"prminfo -1", SCP_E_ARG, "ERROR prminfo -1"},
            {"prminfo 9", SCP_E_INDEX, "ERROR prminfo 9"},
            {"mtrinfo", SCP_E_MISSING, "ERROR mtrinfo"},
            {"ssinfo -2", SCP_E_ARG, "ERROR ssinfo -2"},
            {"ssrecall 7", SCP_E_INDEX, "ERROR ssrecall 7"},
            {"ssrecall -1", SCP_E_ARG, "ERROR ssrecall -1"},
            {"mtrstart Nope 100", SCP_E_INDEX, "ERROR mtrstart Nope 100"},
            {"mtrstart MIXER:Meter/InCh -5", SCP_E_ARG, "ERROR mtrstart MIXER:Meter/InCh -5"},
            {"mtrstart MIXER:Meter/InCh", SCP_E_MISSING, "ERROR mtrstart MIXER:Meter/InCh"},
            {"mtrstop Nope", SCP_E_INDEX, "ERROR mtrstop Nope"},
            {"devinfo serial", SCP_E_ARG, "ERROR devinfo serial"},
            {"devstatus", SCP_E_MISSING, "ERROR devstatus"},
            {"devmode party", SCP_E_ARG, "ERROR devmode party"},
            {"event", SCP_E_MISSING, "ERROR event"},
            {"scpmode keepalive 999", SCP_E_ARG, "ERROR scpmode keepalive 999"},
            {"scpmode resolution 99", SCP_E_ARG, "ERROR scpmode resolution 99"},
            {"scpmode resolution 1e3", SCP_E_ARG, "ERROR scpmode resolution 1e3"},
            {"scpmode resolution 99999999999", SCP_E_ARG, "ERROR scpmode resolution 99999999999"},
            {"scpmode format xml", SCP_E_ARG, "ERROR scpmode format xml"},
            {"scpmode colour red", SCP_E_ARG, "ERROR scpmode colour red"},
            {"scpmode format", SCP_E_MISSING, "ERROR scpmode format"},
            // Words of the client only, and unknown words.
            {"mtr MIXER:Meter/InCh level 7f", SCP_E_MISSING, "ERROR mtr"},
            {"LISTITEM a 1", SCP_E_MISSING, "ERROR LISTITEM"},
            {"frobnicate 1 2", SCP_E_MISSING, "ERROR frobnicate"},
            // A received word is written back with the line's escapes, never raw.
            {"\"x\\ny\" 1", SCP_E_MISSING, "ERROR \"x\\ny\""},
        });
    EXPECT_EQ(unit.snapshot(), before);
}

// More values than a reply holds are reported, not cut silently.
TEST(ScpServerTest, ReadWordsReportMoreThan200Values)
{
    Unit unit;
    for (const char* word : {"get", "getn", "gett"}) {
        std::string reply;
        EXPECT_EQ(unit.ask(std::string(word) + " IO:Current/Matrix/Send all 1", &reply), SCP_E_INDEX) << word;
        // ERROR, word, address, x, y, then the 200 values that fit.
        size_t tokens = 0;
        for (size_t i = 0; i < reply.size(); ++i)
            tokens += reply[i] == ' ' || reply[i] == '\n';
        EXPECT_EQ(tokens, 5u + 200u) << word;
        EXPECT_EQ(reply.rfind("ERROR ", 0), 0u) << word;
    }
    std::string reply;
    EXPECT_EQ(unit.ask("getn IO:Current/Matrix/Send 255 1", &reply), 0);
    EXPECT_EQ(reply, "OK getn IO:Current/Matrix/Send 255 1 0\n");
}

TEST(ScpServerTest, ReadFailureKeepsTheOtherRowsAndIsTheResult)
{
    Unit unit;
    unit.params.cell(2, 0, 1) = 250;
    unit.params.failRead.insert({2, 0, 0});
    std::string reply;
    EXPECT_EQ(unit.ask("get MIXER:Current/Fader/Level 0 all", &reply), SCP_E_INDEX);
    EXPECT_EQ(reply, "ERROR get MIXER:Current/Fader/Level 0 all 250\n");

    // A failed read-back after a store is not answered OK either.
    unit.params.failRead.insert({0, 1, 0});
    EXPECT_EQ(unit.ask("set IO:Current/InCh/48VOn 1 0 1", &reply), SCP_E_INDEX);
    EXPECT_EQ(reply, "ERROR set IO:Current/InCh/48VOn 1 0 1\n");
    EXPECT_EQ(unit.params.cell(0, 1, 0), 1) << "the store itself happened";
}

// "all" in a set word reaches every cell it addresses, not cell 0 alone.
TEST(ScpServerTest, StoreWordsWithAllReachEveryCell)
{
    Unit unit;
    std::string reply;
    EXPECT_EQ(unit.ask("set IO:Current/InCh/48VOn all 0 1", &reply), 1);
    EXPECT_EQ(reply, "OK set IO:Current/InCh/48VOn all 0 1 \"1\"\n");
    EXPECT_EQ(unit.params.params[0].values, std::vector<int32_t>(8, 1));

    EXPECT_EQ(unit.ask("setn MIXER:Current/Fader/Level 1 all 1000", &reply), 1);
    EXPECT_EQ(unit.params.cell(2, 1, 0), 1000);
    EXPECT_EQ(unit.params.cell(2, 1, 1), 1000);
    EXPECT_EQ(unit.params.cell(2, 0, 0), -13800);

    // A negative normalized value is stored as 0 and reported with 1, even
    // when the cell already held it.
    EXPECT_EQ(unit.ask("setn MIXER:Current/Fader/Level 2 1 -5", &reply), 1);
    EXPECT_EQ(reply, "OK setn MIXER:Current/Fader/Level 2 1 0 \"-13800\"\n");

    // A cell outside the parameter fails the store.
    EXPECT_EQ(unit.ask("setr IO:Current/InCh/48VOn all 1 1", &reply), SCP_E_INDEX) << "the parameter has one row";
}

TEST(ScpServerTest, CountsThatCannotBeReadAreNotAnsweredZero)
{
    Unit unit;
    unit.params.failCounts = true;
    unit.meters.failCounts = true;
    std::string reply;
    for (const char* word : {"prmnum", "ssnum", "mtrnum"}) {
        EXPECT_EQ(unit.ask(word, &reply), SCP_E_FAIL) << word;
        EXPECT_EQ(reply, std::string("ERROR ") + word + "\n");
    }
    unit.params.failStoreScene = true;
    EXPECT_EQ(unit.ask("ssupdate", &reply), SCP_E_FAIL);
    EXPECT_EQ(reply, "ERROR ssupdate\n");
}

// The protocol mode is read as the client reads it (case ignored, the same
// bounds), and everything the server accepts the client's session accepts
// when the reply comes back.
TEST(ScpServerTest, ScpModeAgreesWithTheClientsSessionChecks)
{
    struct ModeCase {
        const char* tag;
        const char* data;
        bool accepted;
        const char* echoed;
    };
    const ModeCase cases[] = {
        {"format", "raw", true, "raw"},
        {"FORMAT", "JSON", true, "json"},
        {"encoding", "UTF8", true, "utf8"},
        {"encoding", "latin1", false, nullptr},
        {"valuetype", "Normalized", true, "normalized"},
        {"resolution", "100", true, "100"},
        {"resolution", "99", false, nullptr},
        {"resolution", "-100", false, nullptr},
        {"keepalive", "1000", true, "1000"},
        {"keepalive", "1999", true, "1999"},
        {"keepalive", "999", false, nullptr},
        {"keepalive", "2147483647", true, "2147483647"},
        {"keepalive", "2147483648", false, nullptr},
        {"keepalive", "00000000001000", true, "1000"},
        {"keepalive", "000000000001000", false, nullptr}, // 15 characters
        {"keepalive", "10 00", false, nullptr},
        {"Keepalive", "5000", true, "5000"},
    };
    for (const ModeCase& c : cases) {
        Unit unit;
        ScpSessionData& server = unit.session.session();
        const std::string before = unit.snapshot();
        std::string reply;
        const std::string request = std::string("scpmode ") + c.tag + " \"" + c.data + "\"";
        const JResult r = unit.ask(request, &reply);
        SCOPED_TRACE(request);
        if (!c.accepted) {
            EXPECT_EQ(r, SCP_E_ARG);
            EXPECT_EQ(unit.snapshot(), before);
            continue;
        }
        ASSERT_EQ(r, SCP_OK);
        std::string tag = c.tag;
        for (char& ch : tag)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(reply, "OK scpmode " + tag + " " + c.echoed + "\n");

        // The client takes the echoed pair with the same reading and its
        // session must accept the value.
        ScpModeSetting setting;
        ASSERT_EQ(scp_modeParse(makeText(tag), makeText(c.echoed), &setting), SCP_OK);
        ScpSessionData client;
        ASSERT_EQ(client.init(1), SCP_OK);
        switch (setting.tag) {
        case SCP_MODE_FORMAT:
            EXPECT_EQ(client.setDecoder(setting.value), SCP_OK);
            EXPECT_EQ(client.decoderKind(), server.decoderKind());
            break;
        case SCP_MODE_ENCODING:
            EXPECT_EQ(client.setEncoding(setting.value), SCP_OK);
            EXPECT_EQ(client.encoding(), server.encoding());
            break;
        case SCP_MODE_VALUETYPE:
            EXPECT_EQ(client.setValueType(setting.value), SCP_OK);
            EXPECT_EQ(client.valueType(), server.valueType());
            break;
        case SCP_MODE_RESOLUTION:
            EXPECT_EQ(client.setResolution(static_cast<uint32_t>(setting.value)), SCP_OK);
            EXPECT_EQ(client.resolution(), server.resolution());
            break;
        case SCP_MODE_KEEPALIVE:
            EXPECT_EQ(client.setKeepAlive(static_cast<uint32_t>(setting.value)), SCP_OK);
            EXPECT_EQ(server.keepAlive(), 2ull * client.keepAlive()) << "the server waits two client intervals";
            break;
        }
    }
}

TEST(ScpServerTest, KeepAliveCountsSilenceFromTheLastLine)
{
    g_now = 1000;
    oswrap_setTickSource(fakeTick);
    Unit unit;
    EXPECT_EQ(unit.send("scpmode keepalive 1000\n"), "OK scpmode keepalive 1000\n");
    g_now += 1999;
    EXPECT_FALSE(unit.session.peerSilent());
    EXPECT_EQ(unit.send("\n"), "") << "a keep-alive line gets no reply";
    g_now += 1999;
    EXPECT_FALSE(unit.session.peerSilent()) << "the keep-alive restarted the countdown";
    g_now += 2;
    EXPECT_TRUE(unit.session.peerSilent());
    oswrap_setTickSource(nullptr);
}

// A format switch answers in the old format and reads the next line in the
// new one; the JSON reply is one object with the members in list order.
TEST(ScpServerTest, JsonRepliesAfterTheFormatSwitch)
{
    Unit unit;
    const std::string replies
        = unit.send("scpmode format json\n"
                    "{\"command\":\"get\",\"address\":\"IO:Current/InCh/Label\",\"x\":1,\"y\":0}"
                    "{\"command\":\"scpmode\",\"tag\":\"encoding\",\"data\":\"utf8\"}"
                    "{\"command\":\"ssinfo\",\"index\":1}"
                    "{\"command\":\"set\",\"address\":\"IO:Current/InCh/48VOn\",\"x\":\"all\",\"y\":0}"
                    "{\"command\":\"nope\"}{\"x\":1}");
    EXPECT_EQ(replies,
        "OK scpmode format json\n"
        "{\"result\":\"OK\",\"command\":\"get\",\"address\":\"IO:Current/InCh/Label\",\"x\":1,\"y\":0,"
        "\"param\":[\"Ch2\"]}\n"
        "{\"result\":\"OK\",\"command\":\"scpmode\",\"tag\":\"encoding\",\"data\":\"utf8\"}\n"
        "{\"result\":\"OK\",\"command\":\"ssinfo\",\"index\":1,\"numtext\":\"001\",\"title\":\"Scene 1\","
        "\"comment\":\"\xc3\xa9\",\"attrib\":\"user\"}\n"
        "{\"result\":\"ERROR\",\"command\":\"set\",\"address\":\"IO:Current/InCh/48VOn\",\"x\":\"all\","
        "\"y\":0}\n"
        "{\"result\":\"ERROR\",\"command\":\"nope\"}\n");
}

// Lines split across reads, several in one read, and a UTF-8 character cut
// between two reads.
TEST(ScpServerTest, ReceiveSplitsAndJoinsLines)
{
    Unit unit;
    EXPECT_EQ(unit.send("prmnum\nmtrnum\nss"), "OK prmnum 4\nOK mtrnum 2\n");
    EXPECT_EQ(unit.send("num\r\n   \n"), "OK ssnum 3\n") << "CR LF is a line and an empty line";
    EXPECT_EQ(unit.send("scpmode encoding utf8\n"), "OK scpmode encoding utf8\n");
    const std::string set = "set IO:Current/InCh/Label 4 0 \"Caf\xc3\xa9\"\n";
    EXPECT_EQ(unit.send(set.substr(0, 35)), "");
    EXPECT_EQ(unit.send(set.substr(35)), "OK set IO:Current/InCh/Label 4 0 \"Caf\xc3\xa9\" \"Caf\xc3\xa9\"\n");
    EXPECT_EQ(unit.params.textCell(1, 4, 0), "Caf\xc3\xa9");
}

TEST(ScpServerTest, FactoryTableAndBlocks)
{
    const char* const words[] = {"set", "setn", "setr", "sett", "get", "getn", "gett", "prminfo", "prmnum", "mtrstart",
        "mtrstop", "mtrinfo", "mtrnum", "sscurrent", "ssrecall", "ssupdate", "ssinfo", "ssnum", "event", "devstatus",
        "devinfo", "devmode", "scpmode"};
    const IScpServerCommandFactory* const* table = scp_serverCommandFactories();
    for (size_t i = 0; i < SCP_SERVER_COMMAND_COUNT; ++i) {
        ASSERT_NE(table[i], nullptr);
        EXPECT_STREQ(table[i]->commandWord(), words[i]);
        ScpServerCommand* command = table[i]->create();
        ASSERT_NE(command, nullptr);
        EXPECT_STREQ(command->word(), words[i]);
        const uint8_t* header = reinterpret_cast<const uint8_t*>(command) - 8;
        EXPECT_EQ(std::vector<uint8_t>(header, header + 8), (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 0, 0}));
        EXPECT_EQ(table[i]->release(&command), SCP_OK);
        EXPECT_EQ(command, nullptr);
        EXPECT_EQ(table[i]->release(&command), SCP_E_FAIL);
    }
    EXPECT_EQ(table[SCP_SERVER_COMMAND_COUNT], nullptr);
    EXPECT_EQ(table[0]->release(nullptr), SCP_E_FAIL);
    EXPECT_EQ(scp_serverFindFactory(makeText("SSCurrent")), table[13]);
    EXPECT_EQ(scp_serverFindFactory(makeText("\"get\"")), table[4]);
    EXPECT_EQ(scp_serverFindFactory(makeText("mtr")), nullptr);
    EXPECT_EQ(scp_serverFindFactory(makeText("")), nullptr);
}

TEST(ScpServerTest, ReplyThatDoesNotFitLeavesTheRingEmpty)
{
    ScpServerCommandDEVINFO command;
    ScpRing ring;
    ASSERT_EQ(ring.allocate(0, 13), 0);
    // Nothing is present yet, so even an OK result is answered ERROR.
    EXPECT_EQ(command.encodeReply(SCP_OK, false, false, ring), SCP_E_ENCODE) << "14 bytes needed";
    EXPECT_EQ(ring.count(), 0u);
    ASSERT_EQ(ring.allocate(0, 14), 0);
    EXPECT_EQ(command.encodeReply(SCP_OK, false, false, ring), SCP_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ring.buffer()), ring.count()), "ERROR devinfo\n");
}

namespace {

// Serves one TCP connection on loopback until the peer closes it or the
// deadline passes.
class LoopbackServer {
public:
    LoopbackServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::listen(m_listen, 1) != 0
            || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
    }
    int port() const { return m_port; }
    Unit unit;

private:
    void serve()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        pollfd p{m_listen, POLLIN, 0};
        int fd = -1;
        while (fd < 0 && !m_stop && std::chrono::steady_clock::now() < deadline) {
            if (::poll(&p, 1, 100) > 0)
                fd = ::accept(m_listen, nullptr, nullptr);
        }
        if (fd < 0)
            return;
        std::vector<uint8_t> in(4096), out;
        while (!m_stop && std::chrono::steady_clock::now() < deadline) {
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, 100) <= 0)
                continue;
            const ssize_t n = ::recv(fd, in.data(), in.size(), 0);
            if (n <= 0)
                break;
            out.clear();
            unit.session.receive(in.data(), static_cast<size_t>(n), out);
            for (size_t sent = 0; sent < out.size();) {
                const ssize_t s = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
                if (s <= 0)
                    break;
                sent += static_cast<size_t>(s);
            }
        }
        ::close(fd);
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

// The independent Python client questions the server over loopback TCP.
TEST(ScpServerTest, PythonClientOverLoopbackTcp)
{
    LoopbackServer server;
    ASSERT_GT(server.port(), 0);
    qtest::ChildProcess client(qtest::pythonPeer("scpserver_client.py", {std::to_string(server.port())}));
    ASSERT_TRUE(client.started());
    std::string line;
    std::string done;
    int checks = 0;
    while (client.readLine(&line, 10000)) {
        if (line.rfind("DONE", 0) == 0) {
            done = line;
            break;
        }
        EXPECT_EQ(line.rfind("ok ", 0), 0u) << line;
        ++checks;
    }
    EXPECT_EQ(done, "DONE 0");
    EXPECT_GT(checks, 40);
    EXPECT_EQ(client.wait(), 0);
}

namespace {

std::string utf16(const char16_t* units)
{
    std::string out;
    for (; *units; ++units)
        out += *units < 0x80 ? static_cast<char>(*units) : '?';
    return out;
}

// The client's view of the unit: a mirror of the test unit's parameters that
// the client words store into, and recorders of every report.
struct ClientParameters : TestParameters {
    std::vector<std::string> log;
    JResult storeParameterInfo(ScpParameterInfo& i, int32_t index) override
    {
        log.push_back("prminfo " + std::to_string(index) + " " + utf16(i.address) + " " + std::to_string(i.xCount) + "x"
            + std::to_string(i.yCount) + " " + std::to_string(i.minimum) + ".." + std::to_string(i.maximum) + " "
            + i.unit + " t" + std::to_string(i.type) + " u" + std::to_string(i.uiType) + " a"
            + std::to_string(i.attribute) + " s" + std::to_string(i.scaling));
        return 0;
    }
    JResult parameterCount(int32_t n) override { return note("prmnum " + std::to_string(n)); }
    JResult sceneCount(int32_t n) override { return note("ssnum " + std::to_string(n)); }
    JResult storeSceneInfo(const ScpSceneInfo& i, int32_t n) override
    {
        return note("ssinfo " + std::to_string(n) + " " + utf16(i.numberText) + " " + utf16(i.title) + " a"
            + std::to_string(i.attribute));
    }
    JResult storeCurrentScene(int32_t index, int32_t modified) override
    {
        return note("sscurrent " + std::to_string(index) + " " + std::to_string(modified));
    }
    JResult sceneRecalled(int32_t n) override { return note("ssrecall " + std::to_string(n)); }
    JResult sceneUpdated(int32_t n) override { return note("ssupdate " + std::to_string(n)); }
    JResult note(const std::string& entry)
    {
        log.push_back(entry);
        return 0;
    }
};

struct ClientDevice : ScpDeviceReporter {
    std::vector<std::string>* log = nullptr;
    JResult deviceInfo(int32_t, ScpText& data, const ScpText& tag) override
    {
        return note("devinfo " + toUtf8(tag) + " " + toUtf8(data));
    }
    JResult deviceStatus(int32_t, ScpText& data, const ScpText& tag) override
    {
        return note("devstatus " + toUtf8(tag) + " " + toUtf8(data));
    }
    JResult deviceMode(int32_t, const ScpText& mode) override { return note("devmode " + toUtf8(mode)); }
    JResult event(int32_t, const ScpText& id, const ScpText& data) override
    {
        return note("event " + toUtf8(id) + " " + toUtf8(data));
    }
    JResult replyError(int32_t, const ScpText& command, const ScpText& subject) override
    {
        return note("error " + toUtf8(command) + " " + toUtf8(subject));
    }
    JResult note(const std::string& entry)
    {
        log->push_back(entry);
        return 0;
    }
};

struct ClientMeters : TestMeters {
    std::vector<std::string>* log = nullptr;
    JResult meterInfo(int32_t, const ScpMeterInfo& i, int32_t index) override
    {
        log->push_back("mtrinfo " + std::to_string(index) + " " + utf16(i.address) + " " + std::to_string(i.number)
            + " t" + std::to_string(i.type));
        return 0;
    }
    JResult meterCount(int32_t, int32_t n) override
    {
        log->push_back("mtrnum " + std::to_string(n));
        return 0;
    }
};

struct Client {
    ClientParameters params;
    ClientDevice device;
    ClientMeters meters;
    ScpSessionData session;
    Client()
    {
        device.log = &params.log;
        meters.log = &params.log;
        session.init(1);
    }

    // The request line the client sends in the session's current format.
    std::string request(const char* word, const std::function<JResult(ScpClientCommand&)>& fill)
    {
        const IScpClientCommandFactory* factory = scp_findClientCommandFactory(makeText(word));
        EXPECT_NE(factory, nullptr) << word;
        if (!factory)
            return {};
        ScpClientCommand* request = factory->create();
        EXPECT_EQ(fill(*request), SCP_OK) << word;
        ScpRing ring;
        ring.allocate(0, 2048);
        EXPECT_EQ(
            request->encode(session.decoderKind() != SCP_DECODER_RAW, session.encoding() == SCP_ENCODING_UTF8, ring),
            SCP_OK)
            << word;
        factory->release(request);
        return std::string(reinterpret_cast<const char*>(ring.buffer()), ring.count());
    }

    // Sends the request through the server and dispatches its reply.
    JResult roundTrip(Unit& server, const char* word, const std::function<JResult(ScpClientCommand&)>& fill)
    {
        const IScpClientCommandFactory* factory = scp_findClientCommandFactory(makeText(word));
        EXPECT_NE(factory, nullptr) << word;
        if (!factory)
            return SCP_E_FAIL;
        return dispatchReply(factory, server.send(request(word, fill)), word);
    }

    // Decodes one reply line and runs the client's handler of its word.
    JResult dispatchReply(const IScpClientCommandFactory* factory, const std::string& reply, const char* word)
    {
        size_t used = 0;
        ScpAbstractDecoder* decoder = session.decoder();
        EXPECT_EQ(decoder->feed(reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), &used), SCP_LINE_COMPLETE)
            << word << ": " << reply;
        const ScpText* replyWord = scp_commandWord(decoder->keys(), decoder->values());
        const IScpClientCommandFactory* handler = replyWord ? scp_findClientCommandFactory(*replyWord) : nullptr;
        EXPECT_EQ(handler, factory) << word << ": " << reply;
        if (!handler)
            return SCP_E_FAIL;
        ScpClientCommand* command = handler->create();
        ScpInfoReporter info;
        info.device = &device;
        info.parameter = &params;
        info.meter = &meters;
        info.session = &session;
        const JResult r = command->dispatch(3, decoder->keys(), decoder->values(), info);
        handler->release(command);
        return r;
    }
};

} // namespace

// Every word our client sends round-trips through the server: the client's
// request line is answered, and the client's own reply handler reads the
// answer and reports what the unit holds.
TEST(ScpServerTest, ClientWordsRoundTripThroughTheServer)
{
    Unit unit;
    Client client;
    const ScpText in48 = makeText("IO:Current/InCh/48VOn");
    const ScpText label = makeText("IO:Current/InCh/Label");
    const ScpText fader = makeText("MIXER:Current/Fader/Level");
    unit.params.cell(0, 6, 0) = 1;
    unit.params.cell(2, 1, 1) = -6400;

    EXPECT_EQ(client.roundTrip(unit, "get", [&](ScpClientCommand& c) { return c.setCell(in48, 6, 0); }), 1);
    EXPECT_EQ(client.params.cell(0, 6, 0), 1);
    EXPECT_EQ(client.roundTrip(unit, "getn", [&](ScpClientCommand& c) { return c.setCell(fader, 1, 1); }), 1);
    EXPECT_EQ(client.params.cell(2, 1, 1), -6400);
    EXPECT_EQ(client.roundTrip(unit, "gett", [&](ScpClientCommand& c) { return c.setCell(label, 3, 0); }), 0);
    EXPECT_EQ(client.params.textCell(1, 3, 0), "Ch4");

    JLIB::JVariant one(int32_t(1));
    EXPECT_GE(client.roundTrip(unit, "set", [&](ScpClientCommand& c) { return c.setCell(in48, 2, 0, one); }), 0);
    EXPECT_EQ(unit.params.cell(0, 2, 0), 1);
    EXPECT_GE(client.roundTrip(unit, "setn", [&](ScpClientCommand& c) { return c.setCell(fader, 0, 1, 1000); }), 0);
    EXPECT_EQ(unit.params.cell(2, 0, 1), 1000);
    EXPECT_EQ(client.params.cell(2, 0, 1), 1000) << "the client stores the setn reply";
    EXPECT_GE(client.roundTrip(unit, "setr", [&](ScpClientCommand& c) { return c.setCell(fader, 3, 0, 800); }), 0);
    EXPECT_EQ(unit.params.cell(2, 3, 0), -13000);
    EXPECT_GE(
        client.roundTrip(unit, "sett", [&](ScpClientCommand& c) { return c.setCell(label, 5, 0, makeText("Vox")); }),
        0);
    EXPECT_EQ(unit.params.textCell(1, 5, 0), "Vox");
    EXPECT_EQ(client.params.textCell(1, 5, 0), "Vox");

    client.params.log.clear();
    EXPECT_EQ(client.roundTrip(unit, "prminfo", [](ScpClientCommand& c) { return c.setIndex(2); }), 0);
    EXPECT_EQ(client.roundTrip(unit, "prmnum", [](ScpClientCommand&) { return SCP_OK; }), 0);
    EXPECT_EQ(client.roundTrip(unit, "mtrinfo", [](ScpClientCommand& c) { return c.setIndex(1); }), 0);
    EXPECT_EQ(client.roundTrip(unit, "mtrnum", [](ScpClientCommand&) { return SCP_OK; }), 0);
    EXPECT_EQ(client.roundTrip(
                  unit, "mtrstart", [](ScpClientCommand& c) { return c.setMeter(makeText("MIXER:Meter/InCh"), 100); }),
        0);
    EXPECT_EQ(unit.session.session().meters().count(), 1u);
    EXPECT_EQ(client.session.meters().count(), 1u) << "the client read the echoed interval";
    EXPECT_EQ(
        client.roundTrip(unit, "mtrstop", [](ScpClientCommand& c) { return c.setMeter(makeText("MIXER:Meter/InCh")); }),
        0);
    EXPECT_EQ(client.session.meters().count(), 0u);
    EXPECT_EQ(client.roundTrip(unit, "sscurrent", [](ScpClientCommand&) { return SCP_OK; }), 0);
    EXPECT_EQ(client.roundTrip(unit, "ssinfo", [](ScpClientCommand& c) { return c.setIndex(0); }), 0);
    EXPECT_EQ(client.roundTrip(unit, "ssnum", [](ScpClientCommand&) { return SCP_OK; }), 0);
    EXPECT_EQ(client.roundTrip(unit, "ssupdate", [](ScpClientCommand&) { return SCP_OK; }), 0);
    EXPECT_EQ(client.roundTrip(unit, "ssrecall", [](ScpClientCommand& c) { return c.setIndex(2); }), 0);
    EXPECT_EQ(client.roundTrip(unit, "devinfo", [](ScpClientCommand& c) { return c.setText("version"); }), 0);
    EXPECT_EQ(client.roundTrip(unit, "devmode", [](ScpClientCommand& c) { return c.setText("update"); }), 0);
    EXPECT_EQ(client.roundTrip(unit, "devstatus", [](ScpClientCommand& c) { return c.setText("runmode"); }), 0);
    EXPECT_EQ(client.roundTrip(unit, "event", [](ScpClientCommand& c) { return c.setTexts("Clip", "ch 3"); }), 0);
    // A refused request reaches the client as an error naming it.
    EXPECT_LT(client.roundTrip(unit, "get", [](ScpClientCommand& c) { return c.setCell(makeText("Nope"), 0, 0); }), 0);
    EXPECT_EQ(client.params.log,
        (std::vector<std::string>{
            "prminfo 2 MIXER:Current/Fader/Level 4x2 -13800..1000 dB t0 u1 a0 s100",
            "prmnum 4",
            "mtrinfo 1 MIXER:Meter/StInCh 2 t2",
            "mtrnum 2",
            "sscurrent 1 1",
            "ssinfo 0 000 Scene 0 a2",
            "ssnum 3",
            "ssupdate 1",
            "ssrecall 2",
            "devinfo version 2.1.0",
            "devmode update",
            "devstatus runmode update",
            "event clip ch 3",
            "error get Nope",
        }));

    // The protocol mode switches both ends together.
    for (const auto& mode : {std::make_pair("keepalive", "1500"), std::make_pair("resolution", "4000"),
             std::make_pair("encoding", "utf8"), std::make_pair("format", "json")}) {
        EXPECT_EQ(
            client.roundTrip(unit, "scpmode", [&](ScpClientCommand& c) { return c.setTexts(mode.first, mode.second); }),
            0)
            << mode.first;
    }
    ScpSessionData& server = unit.session.session();
    EXPECT_EQ(client.session.keepAlive(), 1500u);
    EXPECT_EQ(server.keepAlive(), 3000u);
    EXPECT_EQ(client.session.resolution(), server.resolution());
    EXPECT_EQ(client.session.encoding(), server.encoding());
    EXPECT_EQ(client.session.decoderKind(), server.decoderKind());
}

// In JSON the members are found by name: setr's step and mtrnum's count
// carry the client's names ("param", "num"), and the client's word table
// reads the server's reply.
TEST(ScpServerTest, JsonSetrAndMtrnumUseTheClientsMemberNames)
{
    Unit unit;
    Client client;
    ASSERT_EQ(unit.send("scpmode format json\n"), "OK scpmode format json\n");
    ASSERT_GE(client.session.setDecoder(SCP_DECODER_JSON), 0);
    unit.params.cell(2, 3, 0) = -13800;
    const std::string setr
        = unit.send("{\"command\":\"setr\",\"address\":\"MIXER:Current/Fader/Level\",\"x\":3,\"y\":0,\"param\":800}");
    EXPECT_EQ(unit.params.cell(2, 3, 0), -13000) << setr;
    EXPECT_EQ(client.dispatchReply(scp_findClientCommandFactory(makeText("setr")), setr, "setr"), 0);

    const std::string mtrnum = unit.send("{\"command\":\"mtrnum\"}");
    EXPECT_EQ(mtrnum, "{\"result\":\"OK\",\"command\":\"mtrnum\",\"num\":2}\n");
    client.params.log.clear();
    EXPECT_EQ(client.dispatchReply(scp_findClientCommandFactory(makeText("mtrnum")), mtrnum, "mtrnum"), 0);
    EXPECT_EQ(client.params.log, std::vector<std::string>{"mtrnum 2"});
}

namespace {

std::string unhexDigits(const std::string& digits)
{
    std::string out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
}

// Each line's members as python's json module reads them, "name=value" in
// order (values re-dumped), or "BAD" when a line is not one JSON object.
std::vector<std::string> pythonJsonMembers(const std::vector<std::string>& lines)
{
    qtest::TempDir dir;
    std::string input;
    for (const std::string& line : lines)
        input += line;
    qtest::writeFile(dir.file("in"), input);
    qtest::writeFile(dir.file("check.py"),
        "import json, sys\n"
        "for line in sys.stdin.read().split('\\n')[:-1]:\n"
        "    try:\n"
        "        pairs = json.loads(line, object_pairs_hook=lambda p: p)\n"
        "        print(' '.join(k + '=' + json.dumps(v) for k, v in pairs))\n"
        "    except (ValueError, TypeError):\n"
        "        print('BAD')\n");
    std::string output;
    EXPECT_EQ(qtest::runCommand("python3 '" + dir.file("check.py") + "' < '" + dir.file("in") + "'", &output), 0);
    std::vector<std::string> out;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The member names the independent codec decodes from each line, quotes kept
// as its JSON decoder keeps them.
std::vector<std::string> peerJsonKeys(const std::vector<std::string>& lines)
{
    qtest::TempDir dir;
    std::string input;
    for (const std::string& line : lines)
        input += qtest::hex(line) + "\n";
    qtest::writeFile(dir.file("in"), input);
    std::string output;
    EXPECT_EQ(qtest::runCommand(
                  "python3 '" + qtest::peerPath("scp_codec.py") + "' decode json < '" + dir.file("in") + "'", &output),
        0);
    std::vector<std::string> out;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        std::string names;
        std::istringstream keys(line.substr(0, line.find('/')));
        for (std::string key; std::getline(keys, key, ',');)
            names += (names.empty() ? "" : " ") + unhexDigits(key);
        out.push_back(names);
    }
    return out;
}

} // namespace

// A JSON request is one well-formed object holding exactly its word's
// members, the empty "result" before "command": python's json module and the
// independent codec read it, and the server answers it in JSON mode.
TEST(ScpServerTest, JsonRequestsAreWellFormedAndAnswered)
{
    Unit unit;
    Client client;
    ASSERT_EQ(unit.send("scpmode format json\n"), "OK scpmode format json\n");
    ASSERT_GE(client.session.setDecoder(SCP_DECODER_JSON), 0);
    const ScpText in48 = makeText("IO:Current/InCh/48VOn");
    const ScpText fader = makeText("MIXER:Current/Fader/Level");
    const ScpText label = makeText("IO:Current/InCh/Label");
    unit.params.cell(0, 6, 0) = 1;
    unit.params.cell(2, 3, 0) = -13800;
    const JLIB::JVariant one(int32_t(1));

    struct JsonCase {
        const char* word;
        std::function<JResult(ScpClientCommand&)> fill;
        const char* members; // as python reads them
        // The request took effect (the reply given to look at).
        std::function<bool(const std::string&)> done;
        // The server's JSON get reply holds its values in an array, whose
        // value the client's JSON decoder does not record.
        bool clientReadsReply = true;
    };
    const std::vector<JsonCase> cases = {
        {"set", [&](ScpClientCommand& c) { return c.setCell(in48, 2, 0, one); },
            R"(result="" command="set" address="IO:Current/InCh/48VOn" x=2 y=0 param=1 text="")",
            [&](const std::string&) { return unit.params.cell(0, 2, 0) == 1; }},
        {"setr", [&](ScpClientCommand& c) { return c.setCell(fader, 3, 0, 800); },
            R"(result="" command="setr" address="MIXER:Current/Fader/Level" x=3 y=0 param=800)",
            [&](const std::string&) { return unit.params.cell(2, 3, 0) == -13000; }},
        {"get", [&](ScpClientCommand& c) { return c.setCell(in48, 6, 0); },
            R"(result="" command="get" address="IO:Current/InCh/48VOn" x=6 y=0 param="")",
            [](const std::string& reply) { return reply.find(",\"param\":[1]}") != std::string::npos; }, false},
        {"sett", [&](ScpClientCommand& c) { return c.setCell(label, 5, 0, makeText("a\"b\\c")); },
            R"(result="" command="sett" address="IO:Current/InCh/Label" x=5 y=0 text="a\"b\\c")",
            [&](const std::string&) {
                return unit.params.textCell(1, 5, 0) == "a\"b\\c" && client.params.textCell(1, 5, 0) == "a\"b\\c";
            }},
        {"mtrstart", [](ScpClientCommand& c) { return c.setMeter(makeText("MIXER:Meter/InCh"), 100); },
            R"(result="" command="mtrstart" address="MIXER:Meter/InCh" interval=100)",
            [&](const std::string&) {
                return unit.session.session().meters().count() == 1 && client.session.meters().count() == 1;
            }},
    };

    std::vector<std::string> lines;
    for (const JsonCase& c : cases)
        lines.push_back(client.request(c.word, c.fill));
    const std::vector<std::string> parsed = pythonJsonMembers(lines);
    const std::vector<std::string> peerKeys = peerJsonKeys(lines);
    ASSERT_EQ(parsed.size(), cases.size());
    ASSERT_EQ(peerKeys.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const JsonCase& c = cases[i];
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(parsed[i], c.members);
        // The same names, in the same order, with the quotes the decoder keeps.
        std::string names;
        std::istringstream members(c.members);
        for (std::string member; members >> member;)
            if (member.find('=') != std::string::npos)
                names += (names.empty() ? "\"" : " \"") + member.substr(0, member.find('=')) + "\"";
        EXPECT_EQ(peerKeys[i], names);
        const std::string reply = unit.send(lines[i]);
        EXPECT_EQ(reply.rfind("{\"result\":\"OK\",\"command\":\"" + std::string(c.word) + "\",", 0), 0u) << reply;
        if (c.clientReadsReply) {
            EXPECT_GE(client.dispatchReply(scp_findClientCommandFactory(makeText(c.word)), reply, c.word), 0);
        }
        EXPECT_TRUE(c.done(reply)) << reply;
    }
}
