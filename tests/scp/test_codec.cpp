// Line decoders, line readers and encoders, checked against hand-written
// wire bytes and against the independent codec in tests/peers/scp_codec.py.
#include "scp/scp_codec.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace SCP;

namespace {

std::string utf8(const ScpText& text)
{
    char buffer[1600];
    scp_textToUtf8(text, buffer, sizeof buffer);
    return buffer;
}

std::vector<std::string> tableStrings(const ScpUnicodeStringTable& table)
{
    std::vector<std::string> out;
    for (uint32_t i = 0; i < table.count(); ++i)
        out.push_back(utf8(*table.item(i)));
    return out;
}

struct Line {
    std::vector<std::string> keys;
    std::vector<std::string> values;
    bool error = false;
    bool operator==(const Line& o) const { return keys == o.keys && values == o.values && error == o.error; }
};

// Feeds the stream in the given pieces the way a receive loop does.
std::vector<Line> feedPieces(ScpAbstractDecoder& decoder, const std::string& bytes, const std::vector<size_t>& cuts)
{
    std::vector<Line> lines;
    size_t start = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(bytes.size());
    for (size_t end : ends) {
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + start;
        size_t length = end - start;
        size_t pos = 0;
        for (int guard = 0; pos < length && guard < 100000; ++guard) {
            size_t consumed = 0;
            const JResult r = decoder.feed(data + pos, length - pos, &consumed);
            EXPECT_LE(consumed, length - pos);
            pos += consumed;
            if (r == SCP_LINE_COMPLETE) {
                lines.push_back(Line{tableStrings(decoder.keys()), tableStrings(decoder.values()), false});
                decoder.resetAll();
            } else if (r < 0) {
                lines.push_back(Line{{}, {}, true});
            } else {
                break; // all used, or a sequence held for the next piece
            }
        }
        start = end;
    }
    return lines;
}

std::vector<Line> feedWhole(ScpAbstractDecoder& decoder, const std::string& bytes)
{
    return feedPieces(decoder, bytes, {});
}

std::vector<Line> rawLines(const std::string& bytes)
{
    ScpDecoderRAW decoder;
    return feedWhole(decoder, bytes);
}

std::vector<std::string> rawValues(const std::string& line)
{
    auto lines = rawLines(line);
    EXPECT_EQ(lines.size(), 1u) << line;
    return lines.empty() ? std::vector<std::string>{} : lines[0].values;
}

struct Ring {
    ScpRing ring;
    Ring(uint32_t size = 2048) { ring.allocate(0, size); }
    std::string bytes() const { return std::string(reinterpret_cast<const char*>(ring.buffer()), ring.count()); }
};

using qtest::hex;

// Runs the python peer with one case per stdin line; one output line per case.
std::vector<std::string> runPeer(const std::string& args, const std::vector<std::string>& cases)
{
    qtest::TempDir dir;
    std::string input;
    for (const auto& c : cases)
        input += c + "\n";
    qtest::writeFile(dir.file("in"), input);
    std::string output;
    const int status = qtest::runCommand(
        "python3 '" + qtest::peerPath("scp_codec.py") + "' " + args + " < '" + dir.file("in") + "'", &output);
    EXPECT_EQ(status, 0);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = output.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(output.substr(start, nl - start));
    return lines;
}

// Our decoder's lines in the peer's output format (the peer drops a
// malformed JSON line silently).
std::string peerFormat(const std::vector<Line>& lines, bool json)
{
    std::vector<std::string> parts;
    for (const auto& line : lines) {
        if (line.error)
            continue;
        std::string keys, values;
        for (const auto& k : line.keys)
            keys += (keys.empty() ? "" : ",") + hex(k);
        for (const auto& v : line.values)
            values += (values.empty() ? "" : ",") + hex(v);
        parts.push_back(json ? keys + "/" + values : values);
    }
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i)
        out += (i ? " | " : "") + parts[i];
    return out;
}

} // namespace

// ---- RAW decoder ----

TEST(ScpRawDecoder, SplitsQuotesAndEscapes)
{
    const std::string longToken(200, 'x');
    struct Case {
        std::string line;
        std::vector<std::string> values;
    } cases[] = {
        {"get  a\n", {"get", "a"}},
        {"   \n", {}},
        {"\n", {}},
        {"OK get IO:Current/InCh/48VOn 0 0 1\r", {"OK", "get", "IO:Current/InCh/48VOn", "0", "0", "1"}},
        {"a\tb\x0b"
         "c\n",
            {"a", "b", "c"}},
        {"set \"a b\\\"c\"\n", {"set", "\"a b\"c\""}},
        {"\"a\\qb\"\n", {"\"ab\""}},
        {"\"\\\\\\/\\b\\f\\n\\r\\t\"\n", {"\"\\/\b\f\n\r\t\""}},
        {"ab\"cd\"ef\n", {"\"cd\"ef"}},
        {"\"ab\"cd\n", {"\"ab\"cd"}},
        {"x " + longToken + "\n", {"x", longToken.substr(0, 128)}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rawValues(c.line), c.values) << c.line;
}

TEST(ScpRawDecoder, LineEndsInsideQuotesDropTheToken)
{
    const auto lines = rawLines(std::string("get \"ab\ncd\n", 11) + std::string("e\0f\n", 4));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].values, (std::vector<std::string>{"get"}));
    EXPECT_EQ(lines[1].values, (std::vector<std::string>{"cd"}));
    EXPECT_EQ(lines[2].values, (std::vector<std::string>{"e"}));
    EXPECT_EQ(lines[3].values, (std::vector<std::string>{"f"}));
}

TEST(ScpRawDecoder, KeepsAtMostTableEntriesValuesAndSaysSo)
{
    std::string line;
    for (int i = 0; i < 170; ++i)
        line += std::to_string(i) + " ";
    const auto values = rawValues(line + "\n");
    ASSERT_EQ(values.size(), 160u);
    EXPECT_EQ(values.back(), "159");

    ScpDecoderRAW decoder;
    const std::string full = line + "\n";
    size_t consumed = 0;
    decoder.feed(reinterpret_cast<const uint8_t*>(full.data()), full.size(), &consumed);
    EXPECT_TRUE(decoder.values().overflowed());
}

TEST(ScpRawDecoder, BrokenUtf8IsReplacedAndLaterLinesSurvive)
{
    // An invalid byte, a sequence broken by a line feed, and a five-byte
    // form beyond U+10FFFF: each becomes U+FFFD and no line is lost.
    const std::string stream = "get \xff x\nOK \xe2\x82\nNOTIFY \xf8\x88\x80\x80\x80 z\nOK done\n";
    const auto lines = rawLines(stream);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].values, (std::vector<std::string>{"get", "\xef\xbf\xbd", "x"}));
    EXPECT_EQ(lines[1].values, (std::vector<std::string>{"OK", "\xef\xbf\xbd"}));
    EXPECT_EQ(lines[2].values, (std::vector<std::string>{"NOTIFY", "\xef\xbf\xbd", "z"}));
    EXPECT_EQ(lines[3].values, (std::vector<std::string>{"OK", "done"}));
}

TEST(ScpRawDecoder, SequenceSplitAcrossReadsIsCompleted)
{
    ScpDecoderRAW decoder;
    const std::string first = "set \"caf\xc3";
    size_t consumed = 0;
    EXPECT_EQ(decoder.feed(reinterpret_cast<const uint8_t*>(first.data()), first.size(), &consumed), SCP_FEED_STOPPED);
    EXPECT_EQ(consumed, first.size() - 1);
    const std::string second = "\xa9\"\n";
    EXPECT_EQ(
        decoder.feed(reinterpret_cast<const uint8_t*>(second.data()), second.size(), &consumed), SCP_LINE_COMPLETE);
    EXPECT_EQ(consumed, second.size());
    EXPECT_EQ(tableStrings(decoder.values()), (std::vector<std::string>{"set", "\"caf\xc3\xa9\""}));
}

TEST(ScpRawDecoder, HeldSequenceBrokenByNextReadKeepsThatByte)
{
    ScpDecoderRAW decoder;
    const auto lines = feedPieces(decoder, "a \xe2\x82\nb\n", {4});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].values, (std::vector<std::string>{"a", "\xef\xbf\xbd"}));
    EXPECT_EQ(lines[1].values, (std::vector<std::string>{"b"}));
}

TEST(ScpRawDecoder, NextLineStartsWithEmptyTablesWithoutReset)
{
    ScpDecoderRAW decoder;
    const std::string stream = "OK a\nOK b\n";
    size_t consumed = 0;
    const auto* data = reinterpret_cast<const uint8_t*>(stream.data());
    ASSERT_EQ(decoder.feed(data, stream.size(), &consumed), SCP_LINE_COMPLETE);
    ASSERT_EQ(decoder.feed(data + consumed, stream.size() - consumed, &consumed), SCP_LINE_COMPLETE);
    EXPECT_EQ(tableStrings(decoder.values()), (std::vector<std::string>{"OK", "b"}));
}

// ---- JSON decoder ----

TEST(ScpJsonDecoder, KeepsOutermostMembers)
{
    struct Case {
        std::string line;
        std::vector<std::string> keys;
        std::vector<std::string> values;
    } cases[] = {
        {"{\"result\":\"OK\",\"command\":\"get\",\"x\":0}", {"\"result\"", "\"command\"", "\"x\""},
            {"\"OK\"", "\"get\"", "0"}},
        {"{\"a\":[1,2],\"b\":3}", {"\"a\"", "\"b\""}, {"3"}},
        {"{\"a\":{\"x\":1},\"b\" : 2 }", {"\"a\"", "\"b\""}, {"2"}},
        {"{\"t\":\"x\\\"y\\n,}\"}", {"\"t\""}, {"\"x\"y\n,}\""}},
        {"\n{\"a\":1}", {"\"a\""}, {"1"}},
    };
    for (const auto& c : cases) {
        ScpDecoderJSON decoder;
        const auto lines = feedWhole(decoder, c.line);
        ASSERT_EQ(lines.size(), 1u) << c.line;
        EXPECT_EQ(lines[0].keys, c.keys) << c.line;
        EXPECT_EQ(lines[0].values, c.values) << c.line;
    }
}

TEST(ScpJsonDecoder, StrayClosersLeaveNothingForTheNextLine)
{
    for (const char* bad : {"\"k\":\"v\",}", "\"k\":\"v\"]"}) {
        ScpDecoderJSON decoder;
        const auto lines = feedWhole(decoder, std::string(bad) + "{\"a\":1}");
        ASSERT_EQ(lines.size(), 2u) << bad;
        EXPECT_TRUE(lines[0].error);
        EXPECT_EQ(lines[1].keys, (std::vector<std::string>{"\"a\""})) << bad;
        EXPECT_EQ(lines[1].values, (std::vector<std::string>{"1"})) << bad;
    }
}

TEST(ScpJsonDecoder, ResetAllStartsClean)
{
    ScpDecoderJSON decoder;
    feedWhole(decoder, "{\"a\":{\"b\":\"half");
    decoder.resetAll();
    EXPECT_EQ(decoder.objectDepth(), -1);
    EXPECT_EQ(decoder.arrayDepth(), -1);
    const auto lines = feedWhole(decoder, "{\"c\":5}");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].keys, (std::vector<std::string>{"\"c\""}));
    EXPECT_EQ(lines[0].values, (std::vector<std::string>{"5"}));
}

// ---- chunking ----

TEST(ScpDecoders, AnyChunkingGivesTheSameLines)
{
    const std::string raw
        = "OK get IO:Current/InCh/48VOn 0 0 1\nNOTIFY set \"t\\\"x \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\" 0 "
          "all \"v\"\r\nok mtr Meter 7f A zz\n\xff bad\nERROR \"unterminated\n\n";
    const std::string json = "{\"result\":\"OK\",\"command\":\"get\",\"v\":\"\xc3\xa9\\\"}\"}\n"
                             "{\"a\":[1,{\"b\":2}],\"c\":\"\xf0\x9f\x98\x80\"}]{\"d\":4}";
    for (int kind = 0; kind < 2; ++kind) {
        const std::string& stream = kind ? json : raw;
        auto make = [&]() -> std::unique_ptr<ScpAbstractDecoder> {
            if (kind)
                return std::make_unique<ScpDecoderJSON>();
            return std::make_unique<ScpDecoderRAW>();
        };
        const auto whole = feedWhole(*make(), stream);
        ASSERT_GE(whole.size(), 3u);
        std::vector<size_t> single;
        for (size_t i = 1; i < stream.size(); ++i)
            single.push_back(i);
        EXPECT_EQ(feedPieces(*make(), stream, single), whole) << "one byte at a time, kind " << kind;
        for (unsigned seed = 1; seed <= 50; ++seed) {
            std::mt19937 rng(seed);
            std::vector<size_t> cuts;
            for (size_t at = 0;;) {
                at += 1 + rng() % 7;
                if (at >= stream.size())
                    break;
                cuts.push_back(at);
            }
            EXPECT_EQ(feedPieces(*make(), stream, cuts), whole) << "seed " << seed << ", kind " << kind;
        }
    }
}

// Runs of plain bytes are taken whole, 16 at a time: a run that ends exactly
// at a read boundary, at a block boundary or one byte either side must give
// the same tokens as one byte at a time, and a long token is cut to the
// table's entry length as before.
TEST(ScpDecoders, PlainRunsEndingAtReadAndBlockBoundaries)
{
    std::string raw, json;
    for (size_t n : {1u, 15u, 16u, 17u, 31u, 32u, 33u}) {
        const std::string word(n, 'a' + static_cast<char>(n % 26));
        raw += word + " \"" + word + "\" " + word + "\xc3\xa9" + word + "\n";
        json += "{\"k\":\"" + word + "\",\"" + word + "\\n" + word + "\":" + std::to_string(n) + "}\n";
    }
    const std::string longToken(300, 'x');
    raw += longToken + " \"" + longToken + "\"\n";
    for (int kind = 0; kind < 2; ++kind) {
        SCOPED_TRACE(kind ? "JSON" : "RAW");
        const std::string& stream = kind ? json : raw;
        auto make = [&]() -> std::unique_ptr<ScpAbstractDecoder> {
            if (kind)
                return std::make_unique<ScpDecoderJSON>();
            return std::make_unique<ScpDecoderRAW>();
        };
        const auto whole = feedWhole(*make(), stream);
        std::vector<size_t> single;
        for (size_t i = 1; i < stream.size(); ++i)
            single.push_back(i);
        ASSERT_EQ(feedPieces(*make(), stream, single), whole);
        // Every read boundary once: each run is cut at each of its bytes.
        for (size_t cut = 1; cut < stream.size(); ++cut)
            ASSERT_EQ(feedPieces(*make(), stream, {cut}), whole) << "cut at " << cut;
        if (kind == 0) {
            ASSERT_EQ(whole.size(), 8u);
            EXPECT_EQ(whole[2].values[0], std::string(16, 'q'));
            EXPECT_EQ(whole[2].values[1], "\"" + std::string(16, 'q') + "\"");
            EXPECT_EQ(whole[7].values[0], std::string(SCP_VALUE_MAX, 'x'));
            EXPECT_EQ(whole[7].values[1].size(), SCP_VALUE_MAX);
        }
    }
}

// Plain tokens are found 64 bytes at a time: words of every length from 1
// to 70 put a token end and the blanks after it at every offset of a chunk;
// fed whole, cut at every byte or a byte at a time they give the same values.
TEST(ScpRawDecoder, TokensEndingAtEveryOffsetOfAChunk)
{
    std::string stream;
    std::vector<std::string> values;
    for (size_t n = 1; n <= 70; ++n) {
        values.push_back(std::string(n, static_cast<char>('a' + n % 26)));
        stream += values.back() + (n % 7 == 0 ? "  " : n % 11 == 0 ? "\t" : " ");
    }
    stream += "\"q r\" z\n";
    values.push_back("\"q r\"");
    values.push_back("z");

    ScpDecoderRAW decoder;
    const auto whole = feedWhole(decoder, stream);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].values, values);
    std::vector<size_t> single;
    for (size_t i = 1; i < stream.size(); ++i)
        single.push_back(i);
    EXPECT_EQ(feedPieces(decoder, stream, single), whole);
    for (size_t cut = 1; cut < stream.size(); ++cut)
        ASSERT_EQ(feedPieces(decoder, stream, {cut}), whole) << "cut at " << cut;
}

// ---- readers ----

TEST(ScpLineReaders, ReplyWordsAndClasses)
{
    struct Case {
        std::string line;
        int word;
        uint8_t lineClass;
    } cases[] = {
        {"OK get a\n", SCP_REPLY_OK, SCP_CLASS_REPLY},
        {"ok get a\n", SCP_REPLY_OK, SCP_CLASS_REPLY},
        {"oKM get a\n", SCP_REPLY_OKM, SCP_CLASS_REPLY},
        {"Error get\n", SCP_REPLY_ERROR, SCP_CLASS_REPLY},
        {"notify set\n", SCP_REPLY_NOTIFY, SCP_CLASS_NOTIFICATION},
        {"OKAY get\n", SCP_REPLY_NONE, 0},
        {"\n", SCP_REPLY_NONE, 0},
    };
    for (const auto& c : cases) {
        ScpDecoderRAW decoder;
        size_t consumed = 0;
        ASSERT_EQ(
            decoder.feed(reinterpret_cast<const uint8_t*>(c.line.data()), c.line.size(), &consumed), SCP_LINE_COMPLETE);
        EXPECT_EQ(scp_replyWord(decoder.keys(), decoder.values()), c.word) << c.line;
        EXPECT_EQ(scp_lineClass(decoder.keys(), decoder.values()), c.lineClass) << c.line;
    }
}

TEST(ScpLineReaders, JsonKeysMatchExactlyWithTheirQuotes)
{
    ScpDecoderJSON decoder;
    const std::string line = "{\"commandx\":\"no\",\"xresult\":\"no\",\"result\":\"NOTIFY\",\"command\":\"set\"}";
    size_t consumed = 0;
    ASSERT_EQ(decoder.feed(reinterpret_cast<const uint8_t*>(line.data()), line.size(), &consumed), SCP_LINE_COMPLETE);
    EXPECT_EQ(decoder.keys().find("result"), 2);
    EXPECT_EQ(decoder.keys().find("resul"), -1);
    EXPECT_EQ(decoder.keys().find(""), -1);
    EXPECT_EQ(scp_replyWord(decoder.keys(), decoder.values()), SCP_REPLY_NOTIFY);
    const ScpText* word = scp_commandWord(decoder.keys(), decoder.values());
    ASSERT_NE(word, nullptr);
    EXPECT_TRUE(scp_wordEquals(*word, "SET", true));
    // A key the line lacks falls back to the position.
    const ScpText* fallback = scp_valueByKey(decoder.keys(), decoder.values(), "missing", 1);
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(utf8(*fallback), "\"no\"");
    EXPECT_EQ(scp_valueByKey(decoder.keys(), decoder.values(), "missing", 9), nullptr);
}

TEST(ScpStringTable, SizingAndLimits)
{
    ScpUnicodeStringTable table;
    EXPECT_EQ(table.item(0), nullptr);
    EXPECT_EQ(table.allocate(0, 4), SCP_E_MISSING);
    ASSERT_EQ(table.allocate(2, 4), SCP_OK);
    ScpText text(10);
    for (char c : std::string("abcdef"))
        text.append(JLIB::JUnicode(c));
    EXPECT_EQ(table.push(text), SCP_OK);
    EXPECT_EQ(table.push(text), SCP_OK);
    EXPECT_EQ(table.push(text), SCP_E_SYNTAX);
    EXPECT_EQ(utf8(*table.item(1)), "abcd");
    EXPECT_EQ(table.item(2), nullptr);
    ASSERT_EQ(table.allocate(3, 8), SCP_OK);
    EXPECT_EQ(table.count(), 0u);
}

// ---- encoders ----

namespace {

// The elements of a get request and a set notification.
struct GetRequest {
    ScpElementAlNum result{"result"};
    ScpElementAlNum command{"command", "get"};
    ScpElementAlNum address{"address", "IO:Current/InCh/48VOn"};
    ScpElementInteger x{"x", 0};
    ScpElementInteger y{"y", 0};
    ScpElementParameter param{"param"};
    ScpElementList list;
    GetRequest()
    {
        list.push(&result, 0x30);
        list.push(&command, 0x38);
        list.push(&address, 0x38);
        list.push(&x, 0x38);
        list.push(&y, 0x38);
        list.push(&param, 0x30);
    }
};

struct SetNotification {
    ScpElementAlNum command{"command", "set"};
    ScpElementAlNum address{"address", "IO:Out/Gain"};
    ScpElementSubAddress x{"x", 0};
    ScpElementSubAddress y{"y", 3};
    ScpElementParameter param{"param"};
    ScpElementList list;
    SetNotification()
    {
        list.push(&command, 0x40);
        list.push(&address, 0x40);
        list.push(&x, 0x40);
        list.push(&y, 0x40);
        list.push(&param, 0x40);
    }
};

} // namespace

TEST(ScpEncoder, RawRequestAndNotificationBytes)
{
    Ring ring;
    GetRequest get;
    ASSERT_EQ(scp_encodeRequest(get.list, false, false, ring.ring), SCP_OK);
    EXPECT_EQ(ring.bytes(), "get IO:Current/InCh/48VOn 0 0\n");

    SetNotification set;
    set.param.set(JLIB::JVariant("a \"b\"\\", 64));
    set.x.setAll();
    ASSERT_EQ(scp_encodeNotification(set.list, false, false, ring.ring), SCP_OK);
    EXPECT_EQ(ring.bytes(), "set IO:Out/Gain all 3 \"a \\\"b\\\"\\\\\"\n");
    set.param.set(JLIB::JVariant(int32_t(-12)));
    ASSERT_EQ(scp_encodeNotification(set.list, false, false, ring.ring), SCP_OK);
    EXPECT_EQ(ring.bytes(), "set IO:Out/Gain all 3 -12\n");

    ASSERT_EQ(scp_encodeKeepAlive(ring.ring), SCP_OK);
    EXPECT_EQ(ring.bytes(), "\n");
}

// A JSON line is one object of exactly the listed members, a request's empty
// "result" first; no member of another name leads it.
TEST(ScpEncoder, JsonFramingBytesArePinned)
{
    Ring ring;
    GetRequest get;
    ASSERT_EQ(scp_encodeRequest(get.list, true, false, ring.ring), SCP_OK);
    EXPECT_EQ(ring.bytes(),
        "{\"result\":\"\",\"command\":\"get\",\"address\":\"IO:Current/InCh/48VOn\",\"x\":0,\"y\":0,"
        "\"param\":\"\"}\n");

    SetNotification set;
    set.param.set(JLIB::JVariant(int32_t(5)));
    set.x.setAll();
    ASSERT_EQ(scp_encodeNotification(set.list, true, false, ring.ring), SCP_OK);
    EXPECT_EQ(ring.bytes(), "{\"command\":\"set\",\"address\":\"IO:Out/Gain\",\"x\":\"all\",\"y\":3,\"param\":5}\n");
}

TEST(ScpEncoder, TextsCannotEndTheLineOrInjectACommand)
{
    // A text holding line ends, quotes and a backslash stays one token of
    // one line, and decodes back to the same text.
    const std::string evil = "x\"\nset IO:Mute 0 0 1\r\\";
    ScpText text(64);
    for (char c : evil)
        text.append(JLIB::JUnicode(c));
    for (bool json : {false, true}) {
        Ring ring;
        GetRequest get;
        get.address.set(text);
        ASSERT_EQ(scp_encodeRequest(get.list, json, false, ring.ring), SCP_OK);
        const std::string line = ring.bytes();
        EXPECT_EQ(line.find_first_of("\r\n"), line.size() - 1) << line;
        if (json)
            continue; // the JSON framing is not readable as a whole; the member is checked below

        ScpDecoderRAW decoder;
        size_t consumed = 0;
        ASSERT_EQ(
            decoder.feed(reinterpret_cast<const uint8_t*>(line.data()), line.size(), &consumed), SCP_LINE_COMPLETE);
        EXPECT_EQ(consumed, line.size());
        ASSERT_EQ(decoder.values().count(), 4u) << line;
        ScpElementAlNum back("address");
        ASSERT_EQ(back.decode(*decoder.values().item(1)), SCP_OK);
        EXPECT_EQ(utf8(back.text()), evil) << line;
    }

    // The JSON writer of the same text inside an object.
    Ring member;
    ScpElementString string("s");
    string.set(text);
    ASSERT_EQ(string.encode(true, false, member.ring), SCP_OK);
    const std::string object = "{\"s\":" + member.bytes() + "}";
    ScpDecoderJSON decoder;
    size_t consumed = 0;
    ASSERT_EQ(
        decoder.feed(reinterpret_cast<const uint8_t*>(object.data()), object.size(), &consumed), SCP_LINE_COMPLETE);
    EXPECT_EQ(consumed, object.size());
    ScpElementString back("s");
    ASSERT_EQ(back.decode(*scp_valueByKey(decoder.keys(), decoder.values(), "s", 0)), SCP_OK);
    EXPECT_EQ(utf8(back.text()), evil);
}

TEST(ScpEncoder, RefusesIncompleteOrOversizedLines)
{
    Ring ring;
    GetRequest get;
    get.y.reset();
    ASSERT_EQ(scp_encodeKeepAlive(ring.ring), SCP_OK);
    EXPECT_EQ(scp_encodeRequest(get.list, false, false, ring.ring), SCP_E_MISSING);
    EXPECT_EQ(ring.bytes(), "\n") << "the ring is not touched";
    EXPECT_EQ(scp_encodeRequest(get.list, true, false, ring.ring), SCP_E_MISSING);

    get.y.set(0);
    Ring small(29); // one byte short of the line
    EXPECT_EQ(scp_encodeRequest(get.list, false, false, small.ring), SCP_E_ENCODE);
    EXPECT_EQ(small.ring.count(), 0u) << "no partial line is left to send";
    Ring exact(30);
    EXPECT_EQ(scp_encodeRequest(get.list, false, false, exact.ring), SCP_OK);

    ScpRing none; // no storage: every encode fails
    EXPECT_EQ(scp_encodeKeepAlive(none), SCP_E_ENCODE);
}

// ---- against the independent peer ----

TEST(ScpPeer, DecodersAgreeWithThePeer)
{
    const std::vector<std::string> rawStreams = {
        "OK get IO:Current/InCh/48VOn 0 0 1\n",
        "NOTIFY set \"a b\\\"c\" 0 all \"\\q\\t\"\r\n\nok  x\n",
        "get \"ab\ncd\n",
        std::string("a\0b\n", 4),
        "\xff\xc0\x80 \xe2\x82\nx \xc3\xa9 \xf4\x90\x80\x80 \xe0\x80\xaf\n",
        "v " + std::string(300, 'q') + " \"" + std::string(300, 'w') + "\"\n",
    };
    const std::vector<std::string> jsonStreams = {
        "{\"result\":\"OK\",\"command\":\"get\",\"x\":0}\n",
        "{\"a\":[1,2],\"b\":{\"c\":3},\"d\":\"\\\"e\\n\"}",
        "}{\"a\":1}]{\"b\":[2]}",
        "{\"averyveryverylongkeyname\":\"" + std::string(200, 'z') + "\"}",
    };
    for (int json = 0; json < 2; ++json) {
        const auto& streams = json ? jsonStreams : rawStreams;
        std::vector<std::string> cases;
        for (const auto& s : streams)
            cases.push_back(hex(s));
        const auto expected = runPeer(json ? "decode json" : "decode raw", cases);
        ASSERT_EQ(expected.size(), streams.size());
        for (size_t i = 0; i < streams.size(); ++i) {
            std::unique_ptr<ScpAbstractDecoder> decoder;
            if (json)
                decoder = std::make_unique<ScpDecoderJSON>();
            else
                decoder = std::make_unique<ScpDecoderRAW>();
            EXPECT_EQ(peerFormat(feedWhole(*decoder, streams[i]), json), expected[i]) << "stream " << i;
        }
    }
}

TEST(ScpPeer, EncodersAgreeWithThePeer)
{
    auto h = [](const std::string& s) { return hex(s); };
    struct Case {
        const char* mode;
        std::string address;
        bool xAll;
        std::string text;
        bool utf8;
    } cases[] = {
        {"raw-request", "IO:Current/InCh/48VOn", false, "plain", false},
        {"json-request", "IO:Current/InCh/48VOn", true, "plain", false},
        {"raw-notify", "Na\xc3\xafve \"q\"", true, "t\\e\nxt", false},
        {"raw-notify", "Na\xc3\xafve", false, "\xe2\x82\xac", true},
        {"json-notify", "Na\xc3\xafve", false, "t\"x\r", true},
        {"raw-notify", "", false, "", false},
    };
    std::vector<std::string> peerCases;
    std::vector<std::string> ours;
    for (const auto& c : cases) {
        const bool request = std::strstr(c.mode, "request") != nullptr;
        const bool json = c.mode[0] == 'j';
        Ring ring;
        ScpText address(64);
        for (size_t i = 0; i < c.address.size();) {
            JLIB::JUnicode ch;
            size_t used = 1;
            ch.fromUtf8(reinterpret_cast<const uint8_t*>(c.address.data()) + i, c.address.size() - i, &used);
            address.append(ch);
            i += used;
        }
        std::string line = std::string(c.mode) + (c.utf8 ? "+utf8" : "");
        if (request) {
            GetRequest get;
            get.address.set(address);
            ASSERT_EQ(scp_encodeRequest(get.list, json, c.utf8, ring.ring), SCP_OK);
            if (json)
                line += " result=word:";
            line += std::string(" ") + (json ? "command=" : "") + "word:" + h("get");
            line += std::string(" ") + (json ? "address=" : "") + "word:" + h(c.address);
            line += std::string(" ") + (json ? "x=" : "") + "int:" + h("0");
            line += std::string(" ") + (json ? "y=" : "") + "int:" + h("0");
            if (json)
                line += " param=ptext:";
        } else {
            SetNotification set;
            set.address.set(address);
            if (c.xAll)
                set.x.setAll();
            set.param.set(JLIB::JVariant(c.text.c_str(), 64));
            ASSERT_EQ(scp_encodeNotification(set.list, json, c.utf8, ring.ring), SCP_OK);
            line += std::string(" ") + (json ? "command=" : "") + "word:" + h("set");
            line += std::string(" ") + (json ? "address=" : "") + "word:" + h(c.address);
            line += std::string(" ") + (json ? "x=" : "") + (c.xAll ? "all:" : "int:" + h("0"));
            line += std::string(" ") + (json ? "y=" : "") + "int:" + h("3");
            line += std::string(" ") + (json ? "param=" : "") + "ptext:" + h(c.text);
        }
        peerCases.push_back(line);
        ours.push_back(hex(ring.bytes()));
    }
    const auto expected = runPeer("encode", peerCases);
    ASSERT_EQ(expected.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i)
        EXPECT_EQ(ours[i], expected[i]) << peerCases[i];
}
