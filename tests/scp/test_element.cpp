// Element kinds, element lists, information records and name tables.
#include "scp/scp_codec.h"
#include "scp/scp_element.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace SCP;

namespace {

ScpText text(const std::u32string& s, size_t max = SCP_TOKEN_MAX)
{
    ScpText t(max);
    for (char32_t c : s)
        t.append(JLIB::JUnicode(static_cast<uint32_t>(c)));
    return t;
}

ScpText text(const std::string& s)
{
    return text(std::u32string(s.begin(), s.end()));
}

std::u32string codes(const ScpText& t)
{
    std::u32string out;
    for (const auto& ch : t)
        out += static_cast<char32_t>(ch.code());
    return out;
}

std::string bytes(const ScpRing& ring)
{
    return std::string(reinterpret_cast<const char*>(ring.buffer()), ring.count());
}

template <class E> std::string encoded(const E& element, bool json, bool utf8 = false)
{
    ScpRing ring;
    ring.allocate(0, 2048);
    EXPECT_EQ(element.encode(json, utf8, ring), SCP_OK);
    return bytes(ring);
}

} // namespace

TEST(ScpElementText, DecodeStripsTheOuterQuotesOnly)
{
    struct Case {
        std::string token;
        std::string value;
    } cases[] = {
        {"abc", "abc"},
        {"\"a b\"", "a b"},
        {"\"a b\"c\"", "a b\"c"}, // the inner quote came from an escape
        {"\"ab\"cd", "abcd"},
        {"\"\"", ""},
        {"\"open", "open"},
        {"\"\"\"", "\""},
    };
    for (const auto& c : cases) {
        ScpElementString element("s");
        ASSERT_EQ(element.decode(text(c.token)), SCP_OK) << c.token;
        EXPECT_TRUE(element.isPresent());
        EXPECT_EQ(codes(element.text()), std::u32string(c.value.begin(), c.value.end())) << c.token;
    }
}

TEST(ScpElementText, LimitsAndSetters)
{
    ScpElementAlNum alnum("a");
    ASSERT_EQ(alnum.decode(text(std::string(100, 'w'))), SCP_OK);
    EXPECT_EQ(alnum.text().length(), 64u);
    ScpElementString string("s");
    ASSERT_EQ(string.decode(text("\"" + std::string(200, 'w') + "\"")), SCP_OK);
    EXPECT_EQ(string.text().length(), 128u);

    EXPECT_EQ(alnum.set(std::string(64, 'k').c_str()), SCP_OK);
    EXPECT_EQ(alnum.set(std::string(65, 'k').c_str()), SCP_E_ARG);
    EXPECT_FALSE(alnum.isPresent());
    EXPECT_EQ(alnum.set(static_cast<const char*>(nullptr)), SCP_E_ARG);
    EXPECT_EQ(alnum.set("MiXeD-1"), SCP_OK);
    alnum.makeLower();
    EXPECT_EQ(codes(alnum.text()), U"mixed-1");

    const char16_t withPair[] = {u'a', 0xD83D, 0xDE00, u'b', 0};
    ASSERT_EQ(string.setUtf16(withPair), SCP_OK);
    EXPECT_EQ(codes(string.text()), U"a\U0001F600b");
    std::u16string tooLong(129, u'x');
    EXPECT_EQ(string.setUtf16(tooLong.c_str()), SCP_E_ARG);
    EXPECT_FALSE(string.isPresent());
    EXPECT_EQ(string.setUtf16(nullptr), SCP_E_ARG);
}

TEST(ScpElementText, EncodingOfTextKinds)
{
    ScpElementAlNum word("w", "IO:Gain");
    EXPECT_EQ(encoded(word, false), "IO:Gain");
    EXPECT_EQ(encoded(word, true), "\"IO:Gain\"");

    ScpElementString string("s");
    string.set(text(U"caf\u00e9 \"\\\n\r\U0001F600"));
    EXPECT_EQ(encoded(string, false), "\"caf? \\\"\\\\\\n\\r?\"");
    EXPECT_EQ(encoded(string, true, true), "\"caf\xc3\xa9 \\\"\\\\\\n\\r\xf0\x9f\x98\x80\"");

    // Words that could not stand as one bare token are quoted.
    ScpElementAlNum spaced("w");
    spaced.set(text("a b"));
    EXPECT_EQ(encoded(spaced, false), "\"a b\"");
    ScpElementAlNum empty("w");
    empty.set(text(""));
    EXPECT_EQ(encoded(empty, false), "\"\"");

    // A NUL has no escape and would end the line: the element is refused.
    ScpElementString nul("s");
    nul.set(text(std::u32string(U"a\0b", 3)));
    ScpRing ring;
    ring.allocate(0, 64);
    EXPECT_LT(nul.encode(false, false, ring), 0);

    ScpRing tiny;
    tiny.allocate(0, 3);
    EXPECT_EQ(word.encode(false, false, tiny), SCP_E_CONVERT);
}

TEST(ScpElementInteger, DecodeTable)
{
    struct Case {
        std::string token;
        JResult result;
        int32_t value;
    } cases[] = {
        {"0", SCP_OK, 0},
        {"  -7", SCP_OK, -7},
        {"+15\t ", SCP_OK, 15},
        {"2147483647", SCP_OK, 2147483647},
        {"-2147483648", SCP_OK, INT32_MIN},
        {"0000000000000000000000042", SCP_OK, 42},
        {"2147483648", SCP_E_SYNTAX, 0},
        {"-2147483649", SCP_E_SYNTAX, 0},
        {"12345678901234567890", SCP_E_SYNTAX, 0},
        {"12x", SCP_E_SYNTAX, 0},
        {"1 2", SCP_E_SYNTAX, 0},
        {"", SCP_E_SYNTAX, 0},
        {"-", SCP_E_SYNTAX, 0},
        {"\"5\"", SCP_E_SYNTAX, 0},
    };
    for (const auto& c : cases) {
        ScpElementInteger element("i");
        EXPECT_EQ(element.decode(text(c.token)), c.result) << c.token;
        EXPECT_EQ(element.isPresent(), c.result == SCP_OK) << c.token;
        if (c.result == SCP_OK) {
            EXPECT_EQ(element.value(), c.value) << c.token;
        }
    }
    EXPECT_EQ(encoded(ScpElementInteger("i", INT32_MIN), false), "-2147483648");
}

TEST(ScpElementSubAddress, AllInAnyCaseAndQuoted)
{
    for (const char* token : {"all", "ALL", "All", "\"all\""}) {
        ScpElementSubAddress x("x");
        x.set(9);
        ASSERT_EQ(x.decode(text(std::string(token))), SCP_OK) << token;
        EXPECT_TRUE(x.isAll());
        EXPECT_EQ(x.value(), 0);
        EXPECT_EQ(encoded(x, false), "all");
        EXPECT_EQ(encoded(x, true), "\"all\"");
    }
    ScpElementSubAddress x("x");
    ASSERT_EQ(x.decode(text("4")), SCP_OK);
    EXPECT_FALSE(x.isAll());
    EXPECT_EQ(encoded(x, true), "4");
    EXPECT_EQ(x.decode(text("alll")), SCP_E_SYNTAX);
    EXPECT_FALSE(x.isPresent());
}

TEST(ScpElementParameter, DecodeTextsAndIntegers)
{
    ScpElementParameter p("param");
    ASSERT_EQ(p.decode(text("-12")), SCP_OK);
    EXPECT_EQ(p.value().type(), JLIB::JVARIANT_INT32);
    EXPECT_EQ(static_cast<int32_t>(p.value().toInteger()), -12);

    ASSERT_EQ(p.decode(text(U"\"a b\"c \u00e9\"")), SCP_OK);
    ASSERT_EQ(p.value().type(), JLIB::JVARIANT_STRING);
    EXPECT_STREQ(p.value().getString(), "a b\"c \xc3\xa9");

    ASSERT_EQ(p.decode(text("\"\"")), SCP_OK);
    EXPECT_STREQ(p.value().getString(), "");

    ASSERT_EQ(p.decode(text("\"" + std::string(150, 'v') + "\"")), SCP_OK);
    EXPECT_EQ(std::string(p.value().getString()).size(), 128u);

    struct Bad {
        std::u32string token;
        JResult result;
    } bad[] = {
        {U"", SCP_E_ARG},
        {U"\"open", SCP_E_SYNTAX},
        {U"5x", SCP_E_SYNTAX},
        {U"99999999999", SCP_E_SYNTAX},
        {std::u32string(U"\"a\0b\"", 5), SCP_E_CONVERT},
    };
    for (const auto& b : bad) {
        EXPECT_EQ(p.decode(text(b.token)), b.result);
        EXPECT_FALSE(p.isPresent());
    }
}

TEST(ScpElementParameter, SetAndEncode)
{
    ScpElementParameter p("param");
    EXPECT_EQ(p.set(JLIB::JVariant(int32_t(7))), SCP_OK);
    EXPECT_EQ(encoded(p, false), "7");
    EXPECT_EQ(p.set(JLIB::JVariant("say \"hi\"\n", 64)), SCP_OK);
    EXPECT_EQ(encoded(p, true), "\"say \\\"hi\\\"\\n\"");

    JLIB::JVariant floating;
    floating = 1.5f;
    EXPECT_EQ(p.set(floating), SCP_E_ARG);
    EXPECT_FALSE(p.isPresent());
    ScpRing ring;
    ring.allocate(0, 64);
    EXPECT_EQ(p.encode(false, false, ring), SCP_E_FAIL);
}

TEST(ScpElementArray, BoundedAndResettable)
{
    ScpElementArray<ScpElementString> data("data", 150);
    EXPECT_EQ(data.count(), 150u);
    for (int i = 0; i < 150; ++i)
        ASSERT_EQ(data.decode(text("7f")), SCP_OK);
    EXPECT_EQ(data.decode(text("7f")), SCP_E_INDEX);
    EXPECT_EQ(data.size(), 150u);
    EXPECT_STREQ(data.item(149)->name(), "data");
    data.reset();
    EXPECT_EQ(data.size(), 0u);
    EXPECT_FALSE(data.isPresent());
    EXPECT_EQ(data.count(), 150u);

    ScpElementArray<ScpElementInteger> values("v", 3);
    EXPECT_EQ(values.decode(text("x")), SCP_E_SYNTAX);
    EXPECT_EQ(values.size(), 0u);
    values.decode(text("1"));
    values.appendItem()->set(-2);
    EXPECT_EQ(encoded(values, false), "1 -2");
    EXPECT_EQ(encoded(values, true), "[1,-2]");
    values.appendItem();
    EXPECT_EQ(values.appendItem(), nullptr);

    ScpElementArray<ScpElementParameter> params("param", 200);
    ASSERT_EQ(params.decode(text("\"x y\"")), SCP_OK);
    params.appendItem()->set(JLIB::JVariant(int32_t(5)));
    EXPECT_EQ(encoded(params, false), "\"x y\" 5");
}

TEST(ScpElementList, PushFlagsAndPresence)
{
    std::vector<ScpElementInteger> elements;
    elements.reserve(65);
    for (int i = 0; i < 65; ++i)
        elements.emplace_back("n");
    ScpElementList list;
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(list.push(&elements[i], i % 2 ? 0x10 : 0x08), SCP_OK);
    EXPECT_EQ(list.push(&elements[64], 0x08), SCP_E_FULL);
    EXPECT_EQ(list.count(), 64u);
    EXPECT_EQ(list.item(64), nullptr);
    EXPECT_TRUE(list.hasFlag(1, 0x30));
    EXPECT_FALSE(list.hasFlag(1, 0x08));
    EXPECT_FALSE(list.hasFlag(64, 0xFF));

    EXPECT_FALSE(list.allPresent(0x08));
    for (int i = 0; i < 64; i += 2)
        elements[i].set(i);
    EXPECT_TRUE(list.allPresent(0x08));
    EXPECT_FALSE(list.allPresent(0x10));
}

TEST(ScpElementList, DecodeByPositionOrByKey)
{
    ScpElementAlNum result("result");
    ScpElementAlNum command("command");
    ScpElementAlNum address("address");
    ScpElementInteger x("x");
    ScpElementInteger skipped("y");
    ScpElementList list;
    list.push(&result, 0x30);
    list.push(&command, 0x38);
    list.push(&address, 0x38);
    list.push(&x, 0x38);
    list.push(&skipped, 0x08);

    auto decodeLine = [&](ScpAbstractDecoder& decoder, const std::string& line) {
        size_t consumed = 0;
        EXPECT_EQ(
            decoder.feed(reinterpret_cast<const uint8_t*>(line.data()), line.size(), &consumed), SCP_LINE_COMPLETE);
        skipped.set(5);
        return list.decode(decoder.keys(), decoder.values());
    };

    ScpDecoderRAW raw;
    ASSERT_EQ(decodeLine(raw, "OK get \"IO:A b\" 3\n"), SCP_OK);
    EXPECT_EQ(codes(address.text()), U"IO:A b");
    EXPECT_EQ(x.value(), 3);
    EXPECT_FALSE(skipped.isPresent()) << "every element is reset, read or not";

    ScpDecoderJSON json;
    ASSERT_EQ(decodeLine(json, "{\"x\":4,\"command\":\"get\",\"result\":\"OK\",\"address\":\"IO:B\"}"), SCP_OK);
    EXPECT_EQ(codes(command.text()), U"get");
    EXPECT_EQ(codes(address.text()), U"IO:B");
    EXPECT_EQ(x.value(), 4);

    // A missing key and a bad value both fail; the walk still reads the rest.
    ScpDecoderJSON partial;
    EXPECT_EQ(decodeLine(partial, "{\"result\":\"OK\",\"x\":\"bad\",\"address\":\"IO:C\"}"), SCP_E_MISSING);
    EXPECT_EQ(codes(address.text()), U"IO:C");
    EXPECT_FALSE(command.isPresent());
    EXPECT_FALSE(list.allPresent(0x10));
    ScpDecoderRAW shortLine;
    EXPECT_EQ(decodeLine(shortLine, "OK get IO:D\n"), SCP_E_MISSING);
    EXPECT_TRUE(address.isPresent());
}

TEST(ScpNameTables, LookUpBothWays)
{
    int32_t index = -1;
    EXPECT_EQ(scp_nameToIndex(scp_meterTypes, "vu", &index), SCP_OK);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(scp_nameToIndex(scp_meterTypes, "VU", &index), SCP_E_FAIL);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(scp_nameToIndex(scp_uiTypes, nullptr, &index), SCP_E_FAIL);
    EXPECT_STREQ(scp_indexToName(scp_meterTypes, 4), "?");
    EXPECT_STREQ(scp_indexToName(scp_meterTypes, -1), "?");
    EXPECT_STREQ(scp_indexToName(scp_uiTypes, 3), "unlatchsw");
    EXPECT_STREQ(scp_indexToName(scp_accessAttributes, 2), "w");
    EXPECT_STREQ(scp_indexToName(scp_sceneAttributes, 2), "preinst");
    EXPECT_STREQ(scp_indexToName(scp_parameterTypes, 1), "freq");
}

TEST(ScpTextHelpers, ConversionsCutSafely)
{
    const ScpText t = text(U"a\u00e9\U0001F600z");
    char ascii[4];
    EXPECT_EQ(scp_textToAscii7(t, ascii, sizeof ascii), 3u);
    EXPECT_STREQ(ascii, "a  ");
    char16_t units[4];
    EXPECT_EQ(scp_textToUtf16(t, units, 4), 2u) << "a pair is never split";
    EXPECT_EQ(units[1], u'\u00e9');
    EXPECT_EQ(units[2], 0);
    char utf8[6];
    EXPECT_EQ(scp_textToUtf8(t, utf8, sizeof utf8), 3u);
    EXPECT_STREQ(utf8, "a\xc3\xa9");

    ScpParameterInfo info;
    info.xCount = 3;
    info.unit[0] = 'd';
    info.clear();
    EXPECT_EQ(info.xCount, 0);
    EXPECT_EQ(info.unit[0], 0);
}
