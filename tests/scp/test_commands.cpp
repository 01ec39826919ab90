// Client command words: the request bytes each word encodes, and what each
// received reply or notification hands to the device side. The lines come
// from the independent word table in tests/peers/scp2_words.py.
#include "scp/scp_command.h"
#include "scp/scp_factory.h"
#include "scp/scp_session.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace SCP;

namespace {

std::string str(const ScpText& text)
{
    char buffer[1024];
    scp_textToUtf8(text, buffer, sizeof buffer);
    return buffer;
}

std::string str16(const char16_t* text)
{
    std::string out;
    for (; *text; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

std::string var(const JLIB::JVariant& v)
{
    if (v.type() == JLIB::JVARIANT_STRING)
        return std::string("s:") + v.getString();
    if (v.type() == JLIB::JVARIANT_INT32)
        return "i:" + std::to_string(static_cast<int32_t>(v.toInteger()));
    return "other";
}

ScpText text(const char* s)
{
    ScpText t(256);
    t.assign(s, 256);
    return t;
}

std::string hex(const ScpRing& ring)
{
    return qtest::hex(ring.buffer(), ring.count());
}

std::string unhex(const std::string& h)
{
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

struct Log {
    std::vector<std::string> calls;
    void add(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        char buffer[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        calls.emplace_back(buffer);
    }
};

// Parameters "IO:Current/InCh/48VOn" (3), "Gain" (7) and "Name" (9), each of
// 4 x 2 cells.
class RecordingParameter : public ScpParameter {
public:
    explicit RecordingParameter(Log& log)
        : m_log(log)
    {
    }
    JResult storeResult = 1;
    std::set<std::pair<int32_t, int32_t>> failingReads;

    JResult indexOf(int32_t& index, const ScpText& address) override
    {
        static const std::map<std::string, int32_t> known = {{"IO:Current/InCh/48VOn", 3}, {"Gain", 7}, {"Name", 9}};
        const auto it = known.find(str(address));
        index = it == known.end() ? -1 : it->second;
        return index < 0 ? SCP_E_INDEX : SCP_OK;
    }
    JResult parameterInfo(ScpParameterInfo& info, int32_t) override
    {
        info.clear();
        info.xCount = 4;
        info.yCount = 2;
        return SCP_OK;
    }
    JResult storeValue(int32_t id, int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value) override
    {
        m_log.add("value %d %d %d %d %s", id, index, x, y, var(value).c_str());
        return storeResult;
    }
    JResult storeNormalized(int32_t id, int32_t index, int32_t x, int32_t y, int32_t value, uint32_t res) override
    {
        m_log.add("norm %d %d %d %d %d %u", id, index, x, y, value, res);
        return storeResult;
    }
    JResult storeText(int32_t id, int32_t index, int32_t x, int32_t y, const ScpText& t) override
    {
        m_log.add("text %d %d %d %d %s", id, index, x, y, str(t).c_str());
        return storeResult;
    }
    JResult readValue(JLIB::JVariant& value, int32_t index, int32_t x, int32_t y) override
    {
        m_log.add("read %d %d %d", index, x, y);
        value.setInt32(0);
        return failingReads.count({x, y}) ? SCP_E_READ : SCP_OK;
    }
    JResult storeParameterInfo(ScpParameterInfo& i, int32_t index) override
    {
        m_log.add("prminfo %d %s %d %d %d %d %d %s %d %d %d %d", index, str16(i.address).c_str(), i.xCount, i.yCount,
            i.minimum, i.maximum, i.defaultValue, i.unit, i.type, i.uiType, i.attribute, i.scaling);
        return SCP_OK;
    }
    JResult parameterCount(int32_t count) override { return m_log.add("prmnum %d", count), SCP_OK; }
    JResult sceneCount(int32_t count) override { return m_log.add("ssnum %d", count), SCP_OK; }
    JResult storeSceneInfo(const ScpSceneInfo& i, int32_t number) override
    {
        m_log.add("ssinfo %d %s %s %s %d", number, str16(i.numberText).c_str(), str16(i.title).c_str(),
            str16(i.comment).c_str(), i.attribute);
        return SCP_OK;
    }
    JResult storeCurrentScene(int32_t index, int32_t modified) override
    {
        return m_log.add("sscurrent %d %d", index, modified), SCP_OK;
    }
    JResult sceneRecalled(int32_t number) override { return m_log.add("ssrecall %d", number), SCP_OK; }
    // A failure here must not become the ssupdate handler's result.
    JResult sceneUpdated(int32_t index) override { return m_log.add("ssupdate %d", index), SCP_E_FAIL; }

private:
    Log& m_log;
};

class RecordingDevice : public ScpDeviceReporter {
public:
    explicit RecordingDevice(Log& log)
        : m_log(log)
    {
    }
    JResult deviceInfo(int32_t id, ScpText& data, const ScpText& tag) override
    {
        return m_log.add("devinfo %d %s %s", id, str(data).c_str(), str(tag).c_str()), SCP_OK;
    }
    JResult deviceStatus(int32_t id, ScpText& data, const ScpText& tag) override
    {
        return m_log.add("devstatus %d %s %s", id, str(data).c_str(), str(tag).c_str()), SCP_OK;
    }
    JResult deviceMode(int32_t id, const ScpText& mode) override
    {
        return m_log.add("devmode %d %s", id, str(mode).c_str()), SCP_OK;
    }
    JResult event(int32_t id, const ScpText& eventId, const ScpText& data) override
    {
        return m_log.add("event %d %s %s", id, str(eventId).c_str(), str(data).c_str()), SCP_OK;
    }
    JResult listItemNumber(const ScpText& category, int32_t number, int32_t head, int32_t tail) override
    {
        return m_log.add("listnum %s %d %d %d", str(category).c_str(), number, head, tail), SCP_OK;
    }
    JResult listItem(const ScpText& category, int32_t index, const JLIB::JVariant& data) override
    {
        return m_log.add("listitem %s %d %s", str(category).c_str(), index, var(data).c_str()), SCP_OK;
    }
    JResult replyError(int32_t id, const ScpText& command, const ScpText& subject) override
    {
        return m_log.add("error %d %s %s", id, str(command).c_str(), str(subject).c_str()), SCP_OK;
    }

private:
    Log& m_log;
};

// One meter, "MTR:1" (index 0).
class RecordingMeter : public ScpMeterReporter {
public:
    explicit RecordingMeter(Log& log)
        : m_log(log)
    {
    }
    JResult indexOf(int32_t& meterIndex, const ScpText& address) override
    {
        if (str(address) == "MTR:down")
            return SCP_E_FAIL; // the lookup itself failed; the index is not set
        if (str(address) == "MTR:neg") {
            meterIndex = -1; // an answer that names no meter
            return SCP_OK;
        }
        meterIndex = str(address) == "MTR:1" ? 0 : -1;
        return meterIndex < 0 ? SCP_E_INDEX : SCP_OK;
    }
    JResult meterData(int32_t id, const uint8_t* values, int32_t count, int32_t meterIndex) override
    {
        std::string line
            = "meter " + std::to_string(id) + " " + std::to_string(meterIndex) + " " + std::to_string(count);
        char b[4];
        for (int32_t i = 0; i < count; ++i) {
            std::snprintf(b, sizeof b, " %02x", values[i]);
            line += b;
        }
        m_log.calls.push_back(line);
        return SCP_OK;
    }
    JResult meterInfo(int32_t id, const ScpMeterInfo& info, int32_t index) override
    {
        return m_log.add("mtrinfo %d %d %s %d %d", id, index, str16(info.address).c_str(), info.number, info.type),
               SCP_OK;
    }
    JResult meterCount(int32_t id, int32_t number) override { return m_log.add("mtrnum %d %d", id, number), SCP_OK; }

private:
    Log& m_log;
};

// The golden lines, read once from the independent peer.
struct Golden {
    std::map<std::string, std::pair<std::string, std::string>> requests, notifications;
    std::map<std::string, std::pair<std::string, std::string>> received; // name -> (syntax, bytes)
};

const Golden& golden()
{
    static const Golden g = [] {
        Golden out;
        std::string output;
        qtest::runCommand(std::string("python3 ") + QUILLON_PEERS_DIR + "/scp2_words.py", &output);
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream in(line);
            std::string kind, name, a, b;
            in >> kind >> name >> a >> b;
            if (kind == "req")
                out.requests[name] = {a, b};
            else if (kind == "note")
                out.notifications[name] = {a, b};
            else if (kind == "raw" || kind == "json")
                out.received[name] = {kind, unhex(a)};
        }
        return out;
    }();
    return g;
}

// One recording device side and a session with resolution 250.
struct Fixture {
    Log log;
    RecordingParameter parameter{log};
    RecordingDevice device{log};
    RecordingMeter meter{log};
    ScpSessionData session;
    Fixture()
    {
        session.init(1);
        session.setResolution(250);
    }
    ScpInfoReporter info() { return ScpInfoReporter{&device, &parameter, &meter, &session}; }

    // Decodes one line, finds its word's factory and dispatches with id 7.
    JResult receive(const std::string& syntax, const std::string& bytes)
    {
        ScpDecoderRAW raw;
        ScpDecoderJSON json;
        ScpAbstractDecoder& decoder = syntax == "json" ? static_cast<ScpAbstractDecoder&>(json) : raw;
        size_t consumed = 0;
        const JResult fed = decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &consumed);
        EXPECT_EQ(fed, SCP_LINE_COMPLETE);
        const ScpText* word = scp_commandWord(decoder.keys(), decoder.values());
        const IScpClientCommandFactory* factory = word ? scp_findClientCommandFactory(*word) : nullptr;
        if (!factory)
            return SCP_E_FAIL;
        ScpClientCommand* command = factory->create();
        if (!command)
            return SCP_E_FAIL;
        const JResult r = command->dispatch(7, decoder.keys(), decoder.values(), info());
        EXPECT_EQ(factory->release(command), SCP_OK);
        return r;
    }
    JResult receiveRaw(const std::string& line) { return receive("raw", line); }
};

std::vector<std::string> cells(const char* format, std::vector<std::pair<int, int>> xy)
{
    std::vector<std::string> out;
    char b[128];
    for (auto [x, y] : xy) {
        std::snprintf(b, sizeof b, format, x, y);
        out.emplace_back(b);
    }
    return out;
}

std::string fullMeterLine()
{
    std::string line = "meter 7 0 150";
    char b[4];
    for (int i = 0; i < 150; ++i) {
        std::snprintf(b, sizeof b, " %02x", i);
        line += b;
    }
    return line;
}

// "OK mtr address type" and 150 items, with room to see a longer line.
bool decoderHoldsMeterLine()
{
    return ScpDecoderRAW().values().capacity() > 4 + SCP_METER_ITEMS_MAX;
}

struct ReceivedCase {
    const char* name;
    JResult result;
    std::vector<std::string> calls;
};

const std::vector<ReceivedCase>& receivedCases()
{
    static const std::vector<ReceivedCase> cases = {
        {"get_ok", 1, {"value 7 3 0 1 i:5"}},
        {"get_lowercase", 1, {"value 7 3 0 1 i:5"}},
        {"get_text", 1, {"value 7 3 0 0 s:hello"}},
        {"get_notify", SCP_E_MISSING, {}},
        {"get_error", SCP_E_FAIL, {"error 7 get IO:Current/InCh/48VOn"}},
        {"get_x_negative", SCP_E_ARG, {}},
        {"get_unknown", SCP_E_INDEX, {}},
        {"get_short", SCP_E_MISSING, {}},
        {"set_ok_x_all", 0, {"read 7 0 1", "read 7 1 1", "read 7 2 1", "read 7 3 1"}},
        {"set_ok_both_all", SCP_E_ARG, {}},
        {"set_error", SCP_E_FAIL, {"error 7 set Gain"}},
        {"set_notify", 1, {"value 7 7 2 1 i:5"}},
        {"set_notify_x_all", 1, cells("value 7 7 %d %d i:9", {{0, 1}, {1, 1}, {2, 1}, {3, 1}})},
        {"set_notify_both_all", 1,
            cells("value 7 7 %d %d i:0", {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {2, 1}, {3, 1}})},
        {"set_notify_no_text", SCP_E_MISSING, {}},
        {"setn_ok_x_all", 1, cells("norm 7 7 %d %d 0 250", {{0, 0}, {1, 0}, {2, 0}, {3, 0}})},
        {"setn_notify_x_all", 1, cells("norm 7 7 %d %d 700 250", {{0, 1}, {1, 1}, {2, 1}, {3, 1}})},
        {"setn_error", SCP_E_FAIL, {"error 7 setn Gain"}},
        {"setr_ok", 0, {"read 7 1 1"}},
        {"setr_notify", 1, {"value 7 7 1 1 i:3"}},
        {"sett_notify_y_all", 1, {"text 7 7 0 0 abc", "text 7 7 0 1 abc"}},
        {"sett_ok", 1, {"text 7 7 3 1 xyz"}},
        {"getn_ok", 1, {"norm 7 7 1 0 600 250"}},
        {"getn_notify", SCP_E_MISSING, {}},
        {"gett_ok", 1, {"text 7 7 1 0 hi there"}},
        {"mtr_three", 0, {"meter 7 0 3 7f a0 00"}},
        {"mtr_none", 0, {"meter 7 0 0"}},
        {"mtr_unknown", 0, {}},
        // Until the decoder keeps a whole meter line, the cut line is refused.
        decoderHoldsMeterLine() ? ReceivedCase{"mtr_full", 0, {fullMeterLine()}}
                                : ReceivedCase{"mtr_full", SCP_E_MISSING, {}},
        {"mtr_cut", SCP_E_MISSING, {}},
        {"event", 0, {"event 7 btn pressed twice"}},
        {"mtrstart_unknown", SCP_E_INDEX, {}},
        {"mtrstart_notify", SCP_E_MISSING, {}},
        {"devinfo_ok", 0, {"devinfo 7 Rack 16 model"}},
        {"devinfo_notify", 0, {"devinfo 7 1.2 version"}},
        {"devmode_ok", 0, {"devmode 7 normal"}},
        {"devmode_notify", SCP_E_MISSING, {}},
        {"devstatus_ok", 0, {"devstatus 7 on power"}},
        {"prminfo_ok", 0, {"prminfo 5 IO:X 8 2 -10 10 0 dB 1 1 1 3"}},
        {"prminfo_negative", SCP_E_ARG, {}},
        {"prminfo_unknown_words", 0, {"prminfo 6 IO:Y 1 1 0 1 0  0 0 0 1"}},
        {"prminfo_error", SCP_E_FAIL, {"error 7 prminfo 99"}},
        {"prmnum", 0, {"prmnum 42"}},
        {"mtrinfo", 0, {"mtrinfo 7 0 MTR:1 16 2"}},
        {"mtrnum", 0, {"mtrnum 7 3"}},
        {"sscurrent_modified", 0, {"sscurrent 3 1"}},
        {"sscurrent_unmodified", 0, {"sscurrent 2 0"}},
        {"sscurrent_capital", SCP_E_MISSING, {}},
        {"ssinfo", 0, {"ssinfo 2 002 Title A comment 1"}},
        {"ssnum", 0, {"ssnum 10"}},
        {"ssrecall_notify", 0, {"ssrecall 4"}},
        {"ssrecall_negative", SCP_E_ARG, {}},
        {"ssupdate", 0, {"ssupdate 4"}},
        {"listitemnum", 0, {"listnum input 10 0 9"}},
        {"listitem", 0, {"listitem input 3 s:Mic"}},
        {"no_reply_word", 0, {}},
        {"json_get_ok", 1, {"value 7 3 0 1 i:5"}},
        {"json_set_notify_x_all", 1, cells("value 7 7 %d %d i:9", {{0, 1}, {1, 1}, {2, 1}, {3, 1}})},
        {"json_mtr_items_not_carried", 0, {"meter 7 0 0"}},
        {"json_setn_notify_named", 1, {"norm 7 7 2 0 300 250"}},
    };
    return cases;
}

TEST(ScpCommands, ReceivedLinesReachTheDeviceSide)
{
    ASSERT_FALSE(golden().received.empty()) << "the word peer did not run";
    for (const ReceivedCase& c : receivedCases()) {
        SCOPED_TRACE(c.name);
        const auto it = golden().received.find(c.name);
        ASSERT_NE(it, golden().received.end());
        Fixture f;
        EXPECT_EQ(f.receive(it->second.first, it->second.second), c.result);
        EXPECT_EQ(f.log.calls, c.calls);
    }
}

// The set acknowledgement reads every addressed cell; a failed read ends
// its row only, and the failure is the result.
TEST(ScpCommands, SetAcknowledgementKeepsReadingOtherRows)
{
    Fixture f;
    f.parameter.failingReads = {{1, 0}};
    EXPECT_EQ(f.receiveRaw("OK set Gain all all 5 \"\"\n"), SCP_E_ARG);
    EXPECT_EQ(f.receiveRaw("OK setn Gain 1 all 5 \"\"\n"), 1);
    f.log.calls.clear();
    f.parameter.storeResult = 0;
    // One row (y 0) fails at x 1: x 2 and 3 of that row are not read.
    ScpDecoderRAW decoder;
    const std::string line = "OK set Gain all 0 5 \"\"\n";
    size_t consumed = 0;
    decoder.feed(reinterpret_cast<const uint8_t*>(line.data()), line.size(), &consumed);
    ScpClientCommandSET set;
    EXPECT_EQ(set.dispatch(7, decoder.keys(), decoder.values(), f.info()), SCP_E_READ);
    EXPECT_EQ(f.log.calls, (std::vector<std::string>{"read 7 0 0", "read 7 1 0"}));
}

// The meter items are every value after the type, up to 150; a table
// filled to its last entry may have lost items and is refused.
TEST(ScpCommands, MeterLineTakesAllItemsAndRefusesACutOne)
{
    for (const uint32_t items : {150u, 151u, 156u}) {
        SCOPED_TRACE(items);
        ScpUnicodeStringTable keys;
        ScpUnicodeStringTable values;
        values.allocate(4 + 152, SCP_VALUE_MAX);
        for (const char* token : {"NOTIFY", "mtr", "MTR:1", "level"})
            values.push(text(token));
        for (uint32_t i = 0; i < items; ++i)
            values.push(text("01"));
        Fixture f;
        ScpClientCommandMTR mtr;
        const JResult r = mtr.dispatch(7, keys, values, f.info());
        if (items == 150) {
            EXPECT_EQ(r, SCP_OK);
            ASSERT_EQ(f.log.calls.size(), 1u);
            EXPECT_EQ(f.log.calls[0].substr(0, 16), "meter 7 0 150 01");
        } else {
            EXPECT_EQ(r, SCP_E_MISSING);
            EXPECT_TRUE(f.log.calls.empty());
        }
    }
}

TEST(ScpCommands, MeterStartAndStopKeepTheSubscription)
{
    Fixture f;
    EXPECT_EQ(f.receiveRaw("OK mtrstart MTR:1 100\n"), SCP_OK);
    ScpMeterSetting* s = f.session.meters().first();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->meterIndex, 0);
    EXPECT_EQ(s->interval, 0u);
    EXPECT_EQ(f.receiveRaw("ERROR mtrstop MTR:1\n"), SCP_E_FAIL);
    EXPECT_NE(f.session.meters().first(), nullptr);
    EXPECT_EQ(f.receiveRaw("OK mtrstop MTR:1\n"), SCP_OK);
    EXPECT_EQ(f.session.meters().first(), nullptr);
}

TEST(ScpCommands, ProtocolModeSetsTheSession)
{
    struct Case {
        const char* line;
        JResult result;
        std::function<bool(ScpSessionData&)> check;
    };
    const std::vector<Case> cases = {
        {"OK scpmode keepalive 10000\n", SCP_OK, [](ScpSessionData& s) { return s.keepAlive() == 10000; }},
        {"NOTIFY scpmode KEEPALIVE 999\n", SCP_E_ARG, [](ScpSessionData& s) { return s.keepAlive() == 0; }},
        {"OK scpmode resolution 99\n", SCP_E_ARG, [](ScpSessionData& s) { return s.resolution() == 250; }},
        {"OK scpmode resolution 4000\n", SCP_OK, [](ScpSessionData& s) { return s.resolution() == 4000; }},
        {"OK scpmode FORMAT JSON\n", SCP_OK, [](ScpSessionData& s) { return s.decoderKind() == SCP_DECODER_JSON; }},
        {"OK scpmode encoding utf8\n", SCP_OK, [](ScpSessionData& s) { return s.encoding() == SCP_ENCODING_UTF8; }},
        {"OK scpmode valuetype normalized\n", SCP_OK,
            [](ScpSessionData& s) { return s.valueType() == SCP_VALUETYPE_NORMALIZED; }},
        {"OK scpmode valuetype float\n", SCP_E_ARG,
            [](ScpSessionData& s) { return s.valueType() == SCP_VALUETYPE_RAW; }},
        {"OK scpmode speed 1\n", SCP_E_ARG, [](ScpSessionData& s) { return s.decoderKind() == SCP_DECODER_RAW; }},
        {"ERROR scpmode format json\n", SCP_E_FAIL,
            [](ScpSessionData& s) { return s.decoderKind() == SCP_DECODER_RAW; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Fixture f;
        EXPECT_EQ(f.receiveRaw(c.line), c.result);
        EXPECT_TRUE(c.check(f.session));
    }
}

// ---- requests ----

using Setter = std::function<JResult(ScpClientCommand&)>;

const std::map<std::string, std::pair<const char*, Setter>>& requestCases()
{
    static const std::map<std::string, std::pair<const char*, Setter>> cases = {
        {"devstatus", {"devstatus", [](ScpClientCommand& c) { return c.setText("version"); }}},
        {"devmode", {"devmode", [](ScpClientCommand& c) { return c.setText("normal"); }}},
        {"scpmode", {"scpmode", [](ScpClientCommand& c) { return c.setTexts("keepalive", "10000"); }}},
        {"get", {"get", [](ScpClientCommand& c) { return c.setCell(text("IO:Current/InCh/48VOn"), 0, 0); }}},
        {"getn", {"getn", [](ScpClientCommand& c) { return c.setCell(text("Gain"), 3, 1); }}},
        {"gett", {"gett", [](ScpClientCommand& c) { return c.setCell(text("Name"), 0, 12); }}},
        {"set", {"set", [](ScpClientCommand& c) { return c.setCell(text("Gain"), 1, 0, JLIB::JVariant(-12)); }}},
        {"set_text",
            {"set", [](ScpClientCommand& c) { return c.setCell(text("Name"), 0, 2, JLIB::JVariant("Vox 1", 64)); }}},
        {"setn", {"setn", [](ScpClientCommand& c) { return c.setCell(text("Gain"), 1, 0, int32_t(500)); }}},
        {"sett", {"sett", [](ScpClientCommand& c) { return c.setCell(text("Name"), 0, 2, text("say \"hi\"")); }}},
        {"setr", {"setr", [](ScpClientCommand& c) { return c.setCell(text("Gain"), 1, 0, int32_t(3)); }}},
        {"mtrstart", {"mtrstart", [](ScpClientCommand& c) { return c.setMeter(text("MTR:1"), 100); }}},
        {"mtrstop", {"mtrstop", [](ScpClientCommand& c) { return c.setMeter(text("MTR:1")); }}},
        {"sscurrent", {"sscurrent", [](ScpClientCommand&) { return SCP_OK; }}},
        {"ssrecall", {"ssrecall", [](ScpClientCommand& c) { return c.setIndex(4); }}},
        {"devinfo", {"devinfo", [](ScpClientCommand& c) { return c.setText("model"); }}},
        {"prmnum", {"prmnum", [](ScpClientCommand&) { return SCP_OK; }}},
        {"prminfo", {"prminfo", [](ScpClientCommand& c) { return c.setIndex(17); }}},
        {"mtrnum", {"mtrnum", [](ScpClientCommand&) { return SCP_OK; }}},
        {"mtrinfo", {"mtrinfo", [](ScpClientCommand& c) { return c.setIndex(2); }}},
        {"ssnum", {"ssnum", [](ScpClientCommand&) { return SCP_OK; }}},
        {"ssinfo", {"ssinfo", [](ScpClientCommand& c) { return c.setIndex(9); }}},
        {"ssupdate", {"ssupdate", [](ScpClientCommand&) { return SCP_OK; }}},
        {"event", {"event", [](ScpClientCommand& c) { return c.setTexts("button", "pressed twice"); }}},
        {"LISTITEMNUM", {"LISTITEMNUM", [](ScpClientCommand& c) { return c.setText("input"); }}},
        {"LISTITEM", {"LISTITEM", [](ScpClientCommand& c) { return c.setTextInteger("input", 3); }}},
    };
    return cases;
}

TEST(ScpCommands, RequestsEncodeAsThePeerDoes)
{
    ASSERT_EQ(golden().requests.size(), requestCases().size());
    std::set<std::string> words;
    for (const auto& [name, c] : requestCases()) {
        SCOPED_TRACE(name);
        const IScpClientCommandFactory* factory = scp_findClientCommandFactory(text(c.first));
        ASSERT_NE(factory, nullptr);
        words.insert(factory->word());
        ScpClientCommand* command = factory->create();
        ASSERT_NE(command, nullptr);
        EXPECT_EQ(c.second(*command), SCP_OK);
        ScpRing ring;
        ring.allocate(0, 2048);
        EXPECT_EQ(command->encode(false, false, ring), SCP_OK);
        EXPECT_EQ(hex(ring), golden().requests.at(name).first);
        EXPECT_EQ(command->encode(true, false, ring), SCP_OK);
        EXPECT_EQ(hex(ring), golden().requests.at(name).second);
        factory->release(command);
    }
    EXPECT_EQ(words.size(), 25u); // every word but mtr, which the client never sends
}

TEST(ScpCommands, RequestSettersRefuseWhatTheWordDoesNotTake)
{
    ScpClientCommandGET get;
    EXPECT_EQ(get.setIndex(3), SCP_E_ARG);
    EXPECT_EQ(get.setText("Gain"), SCP_OK);
    ScpRing ring;
    ring.allocate(0, 2048);
    EXPECT_EQ(get.encode(false, false, ring), SCP_E_MISSING); // x and y still missing
    ScpClientCommandSSUPDATE update;
    EXPECT_EQ(update.setIndex(3), SCP_E_ARG); // ssupdate sends no index
    ScpClientCommandDEVMODE mode;
    EXPECT_EQ(mode.setText(std::string(65, 'a').c_str()), SCP_E_ARG);
    EXPECT_EQ(mode.setText(std::string(64, 'a').c_str()), SCP_OK);
    ScpClientCommandSET set;
    EXPECT_EQ(set.setCell(text("Gain"), 0, 0, JLIB::JVariant()), SCP_E_ARG); // an empty value cannot be sent
}

// ---- factories ----

TEST(ScpFactories, TableHoldsTheWordsInOrder)
{
    const char* const expected[] = {"mtr", "set", "get", "event", "mtrstart", "mtrstop", "scpmode", "devinfo",
        "devmode", "devstatus", "setn", "setr", "sett", "getn", "gett", "prminfo", "prmnum", "mtrinfo", "mtrnum",
        "sscurrent", "ssinfo", "ssnum", "ssrecall", "ssupdate", "LISTITEMNUM", "LISTITEM"};
    const IScpClientCommandFactory* const* table = scp_clientCommandFactories();
    for (size_t i = 0; i < 26; ++i) {
        ASSERT_NE(table[i], nullptr);
        EXPECT_STREQ(table[i]->word(), expected[i]);
        ScpClientCommand* command = table[i]->create();
        ASSERT_NE(command, nullptr);
        EXPECT_STREQ(command->word(), expected[i]);
        table[i]->release(command);
    }
    EXPECT_EQ(table[26], nullptr);
}

TEST(ScpFactories, LookupIgnoresCase)
{
    struct Case {
        const char* word;
        const char* found;
    };
    const Case cases[] = {{"GET", "get"}, {"get", "get"}, {"listitem", "LISTITEM"}, {"ListItemNum", "LISTITEMNUM"},
        {"\"setn\"", "setn"}, {"gets", nullptr}, {"", nullptr}, {"ge", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        const IScpClientCommandFactory* f = scp_findClientCommandFactory(text(c.word));
        if (!c.found) {
            EXPECT_EQ(f, nullptr);
            continue;
        }
        ASSERT_NE(f, nullptr);
        EXPECT_STREQ(f->word(), c.found);
    }
}

int g_alive = 0;
struct Counted {
    Counted() { ++g_alive; }
    virtual ~Counted() { --g_alive; }
    uint64_t payload = 0;
};

TEST(ScpFactories, ObjectArraysCarryTheirHeader)
{
    const IScpClientCommandFactory* f = scp_findClientCommandFactory(text("LISTITEMNUM"));
    ScpClientCommand* command = f->create();
    ASSERT_NE(command, nullptr);
    const auto* header = reinterpret_cast<const uint8_t*>(command) - 8;
    EXPECT_EQ(std::vector<uint8_t>(header, header + 8), (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(scp_findClientCommandFactory(text("LISTITEM"))->release(command), SCP_E_FAIL);
    EXPECT_EQ(f->release(command), SCP_OK);
    EXPECT_EQ(f->release(nullptr), SCP_E_FAIL);

    EXPECT_EQ(JLIB::arrayNew<Counted>(0, "Counted", 0), nullptr);
    EXPECT_EQ(JLIB::arrayNew<Counted>(0, "Counted", 0x1000000), nullptr);
    EXPECT_EQ(JLIB::arrayNew<Counted>(31, "Counted", 1), nullptr); // no manager
    Counted* three = JLIB::arrayNew<Counted>(0, "Counted", 3);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(g_alive, 3);
    const auto* h = reinterpret_cast<const uint8_t*>(three) - 8;
    EXPECT_EQ(h[3], 3);
    EXPECT_EQ(JLIB::arrayDelete(three), JLIB_OK);
    EXPECT_EQ(g_alive, 0);
    EXPECT_EQ(JLIB::arrayDelete<Counted>(nullptr), JLIB_FAIL);
}

} // namespace

// The largest coordinate a line can carry still addresses its one cell: the
// end of the range must not wrap and leave nothing stored while reporting
// success.
TEST(ScpCommands, LargestCoordinateStillReachesTheParameter)
{
    Fixture f;
    EXPECT_EQ(f.receiveRaw("NOTIFY set Gain 2147483647 2147483647 5 \"\"\n"), 1);
    EXPECT_EQ(f.log.calls, (std::vector<std::string>{"value 7 7 2147483647 2147483647 i:5"}));
    f.log.calls.clear();
    EXPECT_EQ(f.receiveRaw("NOTIFY sett Gain all 2147483647 \"a\"\n"), 1);
    EXPECT_EQ(f.log.calls.size(), 4u);
}

// A meter lookup that fails for another reason than an unknown address must
// not hand the values to whatever meter index happens to be in the variable.
TEST(ScpCommands, MeterLineWithAFailedLookupReportsNothing)
{
    Fixture f;
    EXPECT_EQ(f.receiveRaw("NOTIFY mtr MTR:down level 7f 10\n"), SCP_E_FAIL);
    EXPECT_EQ(f.receiveRaw("NOTIFY mtr MTR:neg level 7f 10\n"), SCP_E_INDEX);
    EXPECT_TRUE(f.log.calls.empty());
}
