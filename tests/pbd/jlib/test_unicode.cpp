#include "pbd/jlib/junicode.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

using JLIB::JUnicode;

namespace {

using qtest::hex;

std::string utf8Of(uint32_t code)
{
    uint8_t buf[6];
    size_t n = 0;
    EXPECT_EQ(JUnicode(code).toUtf8(buf, sizeof buf, &n), JLIB_OK);
    return std::string(reinterpret_cast<char*>(buf), n);
}

void appendUtf16be(uint32_t code, std::string* out)
{
    uint16_t units[2];
    size_t count = 0;
    JUnicode(code).toUtf16(&units[0], &units[1], &count);
    for (size_t i = 0; i < count; ++i) {
        out->push_back(static_cast<char>(units[i] >> 8));
        out->push_back(static_cast<char>(units[i] & 0xFF));
    }
}

struct Step {
    uint32_t code;
    JResult result;
    size_t consumed;
};

// Decodes a whole byte string the way a receive loop does: one sequence at
// a time, advancing by what was consumed; a sequence cut off by the end of
// the data stops the walk.
std::vector<Step> decodeAll(const std::string& bytes)
{
    std::vector<Step> steps;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t pos = 0;
    while (pos < bytes.size() && steps.size() <= bytes.size()) {
        JUnicode ch;
        size_t used = 99;
        const JResult r = ch.fromUtf8(data + pos, bytes.size() - pos, &used);
        steps.push_back({ch.code(), r, used});
        if (used == 0)
            break;
        pos += used;
    }
    return steps;
}

std::vector<uint32_t> codesOf(const std::vector<Step>& steps)
{
    std::vector<uint32_t> codes;
    for (const Step& s : steps)
        codes.push_back(s.code);
    return codes;
}

} // namespace

// Scalar values at every boundary of both encodings, checked against
// Python's codecs in both directions.
TEST(Unicode, BoundaryScalarsMatchPythonCodecs)
{
    const uint32_t table[] = {0x0, 0x1, 0x41, 0x7F, 0x80, 0xE9, 0xFF, 0x100, 0x7FF, 0x800, 0xFFF, 0x1000, 0xD7FF,
        0xE000, 0xFFFD, 0xFFFE, 0xFFFF, 0x10000, 0x1F600, 0xFFFFF, 0x100000, 0x10FFFF};
    qtest::TempDir dir;
    std::string input;
    char line[16];
    for (uint32_t c : table) {
        std::snprintf(line, sizeof line, "%x\n", c);
        input += line;
    }
    ASSERT_TRUE(qtest::writeFile(dir.file("codes"), input));
    std::string output;
    ASSERT_EQ(
        qtest::runCommand("python3 '" + qtest::peerPath("strings_codec.py") + "' encode " + dir.file("codes"), &output),
        0);
    std::istringstream lines(output);
    for (uint32_t c : table) {
        SCOPED_TRACE(c);
        std::string wantUtf8, wantUtf16;
        ASSERT_TRUE(lines >> wantUtf8 >> wantUtf16);

        const std::string utf8 = utf8Of(c);
        EXPECT_EQ(hex(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()), wantUtf8);
        JUnicode back;
        size_t used = 0;
        EXPECT_EQ(back.fromUtf8(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), &used), JLIB_OK);
        EXPECT_EQ(back.code(), c);
        EXPECT_EQ(used, utf8.size());

        std::string utf16;
        appendUtf16be(c, &utf16);
        EXPECT_EQ(hex(reinterpret_cast<const uint8_t*>(utf16.data()), utf16.size()), wantUtf16);
        uint16_t units[2];
        size_t count = 0;
        JUnicode(c).toUtf16(&units[0], &units[1], &count);
        JUnicode fromPair;
        size_t taken = 0;
        const JResult r = fromPair.fromUtf16(units[0], count == 2 ? units[1] : 0, &taken);
        EXPECT_EQ(fromPair.code(), c);
        EXPECT_EQ(taken, count);
        EXPECT_EQ(r, count == 2 ? JLIB_UNICODE_PAIR : JLIB_OK);
    }
}

// Every scalar value, encoded by us, converted by iconv to UTF-16 must equal
// our own UTF-16; and our decoder must read our UTF-8 back exactly.
TEST(Unicode, AllScalarsAgreeWithIconv)
{
    std::string utf8, utf16;
    utf8.reserve(4u << 20);
    utf16.reserve(4u << 20);
    for (uint32_t c = 1; c < 0x110000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        utf8 += utf8Of(c);
        appendUtf16be(c, &utf16);
    }
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(dir.file("in"), utf8));
    ASSERT_EQ(qtest::runCommand("iconv -f UTF-8 -t UTF-16BE " + dir.file("in") + " > " + dir.file("out")), 0);
    EXPECT_TRUE(qtest::readFile(dir.file("out")) == utf16);

    const auto* data = reinterpret_cast<const uint8_t*>(utf8.data());
    size_t pos = 0;
    for (uint32_t c = 1; c < 0x110000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        JUnicode ch;
        size_t used = 0;
        ASSERT_EQ(ch.fromUtf8(data + pos, utf8.size() - pos, &used), JLIB_OK) << c;
        ASSERT_EQ(ch.code(), c);
        pos += used;
    }
    EXPECT_EQ(pos, utf8.size());
}

// Forms a strict decoder refuses but this one accepts on purpose (overlong,
// surrogates, five- and six-byte forms), or refuses with its own codes.
TEST(Unicode, LenientFormsDifferFromStrictDecodingOnPurpose)
{
    struct Case {
        std::string bytes;
        uint32_t code;
        JResult result;
        size_t consumed;
    } cases[] = {
        {"\xE0\x80\x80", 0x0000, JLIB_OK, 3}, // overlong three-byte NUL
        {"\xC1\xBF", 0xFFFD, JLIB_UNICODE_E_INVALID, 1}, // C0/C1 are never lead bytes
        {"\xC0\x80", 0xFFFD, JLIB_UNICODE_E_INVALID, 1},
        {"\xF0\x80\x80\x80", 0x0000, JLIB_OK, 4},
        {"\xED\xA0\x80", 0xD800, JLIB_OK, 3}, // a surrogate comes through as it is
        {"\xF8\x80\x80\x80\x81", 0x0001, JLIB_OK, 5},
        {"\xFC\x80\x80\x80\x80\x80", 0x0000, JLIB_OK, 6},
        {"\xF4\x90\x80\x80", 0xFFFD, JLIB_UNICODE_E_TOO_LARGE, 4},
        {"\xF8\x88\x80\x80\x80", 0xFFFD, JLIB_UNICODE_E_TOO_LARGE, 5},
        {"\xFD\xBF\xBF\xBF\xBF\xBF", 0xFFFD, JLIB_UNICODE_E_TOO_LARGE, 6},
    };
    qtest::TempDir dir;
    std::string input;
    for (const Case& c : cases)
        input += hex(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()) + "\n";
    ASSERT_TRUE(qtest::writeFile(dir.file("bytes"), input));
    std::string strict;
    ASSERT_EQ(
        qtest::runCommand("python3 '" + qtest::peerPath("strings_codec.py") + "' decode " + dir.file("bytes"), &strict),
        0);
    std::istringstream verdicts(strict);
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()));
        std::string verdict;
        ASSERT_TRUE(std::getline(verdicts, verdict));
        EXPECT_EQ(verdict, "error"); // it really is a deliberate difference
        JUnicode ch(0x41);
        size_t used = 99;
        EXPECT_EQ(ch.fromUtf8(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), &used), c.result);
        EXPECT_EQ(ch.code(), c.code);
        EXPECT_EQ(used, c.consumed);
    }
}

// A broken sequence yields U+FFFD and decoding resumes at the byte that broke
// it, so no byte below 0x80 is ever swallowed.
TEST(Unicode, BrokenSequencesNeverSwallowAscii)
{
    const uint32_t R = 0xFFFD;
    struct Case {
        std::string bytes;
        std::vector<uint32_t> codes;
    } cases[] = {
        {"\xC3\x0A", {R, 0x0A}},
        {"\xC3\xA9\x0A", {0xE9, 0x0A}},
        {"\xE2\x82\x0A", {R, 0x0A}},
        {"\xE2\x0A\x41", {R, 0x0A, 0x41}},
        {"\xF0\x9F\x98\x0D\x0A", {R, 0x0D, 0x0A}},
        {std::string("\xC3\x00\x41", 3), {R, 0x00, 0x41}},
        {"\xFC\x80\x80\x80\x80\x20", {R, 0x20}},
        {"\x80\x41", {R, 0x41}},
        {"\xFE\xFF\x0A", {R, R, 0x0A}},
        {"\xC3\xC3\xA9", {R, 0xE9}},
        {"\xBF\xBF\xE2\x82\xAC\x22", {R, R, 0x20AC, 0x22}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()));
        EXPECT_EQ(codesOf(decodeAll(c.bytes)), c.codes);
    }
}

TEST(Unicode, TruncatedAndMissingInput)
{
    const auto* d = reinterpret_cast<const uint8_t*>("\xE2\x82\xAC\x0A");
    JUnicode ch(0x41);
    size_t used = 99;
    // Cut off inside the sequence: nothing consumed, so a caller can wait for more.
    EXPECT_EQ(ch.fromUtf8(d, 2, &used), JLIB_UNICODE_E_SHORT);
    EXPECT_EQ(ch.code(), 0xFFFDu);
    EXPECT_EQ(used, 0u);
    // ...unless a byte already present breaks it; that byte must not be held back.
    const auto* broken = reinterpret_cast<const uint8_t*>("\xF0\x9F\x0A");
    EXPECT_EQ(ch.fromUtf8(broken, 3, &used), JLIB_UNICODE_E_INVALID);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(ch.fromUtf8(d, 0, &used), JLIB_UNICODE_E_SHORT);
    EXPECT_EQ(ch.code(), 0xFFFDu);
    EXPECT_EQ(used, 0u);
    used = 99;
    EXPECT_EQ(ch.fromUtf8(nullptr, 4, &used), JLIB_UNICODE_E_NULL);
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(ch.fromUtf8(d, 4, nullptr), JLIB_OK);
    EXPECT_EQ(ch.code(), 0x20ACu);
}

TEST(Unicode, Utf8EncodingErrorsWriteNothing)
{
    uint8_t buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    size_t written = 99;
    EXPECT_EQ(JUnicode(0x10FFFFu).toUtf8(buf, 3, &written), JLIB_UNICODE_E_SMALL);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(hex(buf, 4), "aaaaaaaa");
    EXPECT_EQ(JUnicode(0x10FFFFu).toUtf8(buf, 4, &written), JLIB_OK);
    EXPECT_EQ(hex(buf, 4), "f48fbfbf");
    written = 99;
    EXPECT_EQ(JUnicode(0x41u).toUtf8(nullptr, 4, &written), JLIB_UNICODE_E_NULL);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(JUnicode(0x41u).toUtf8(buf, 0, &written), JLIB_UNICODE_E_SMALL);
}

TEST(Unicode, Utf16PairsAndLoneSurrogates)
{
    uint16_t high = 1, low = 1;
    size_t count = 0;
    // The first supplementary code point needs a pair too.
    EXPECT_EQ(JUnicode(0x10000u).toUtf16(&high, &low, &count), JLIB_UNICODE_PAIR);
    EXPECT_EQ(high, 0xD800);
    EXPECT_EQ(low, 0xDC00);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(JUnicode(0xFFFFu).toUtf16(&high, &low, &count), JLIB_OK);
    EXPECT_EQ(high, 0xFFFF);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(count, 1u);

    struct Case {
        uint16_t first, second;
        uint32_t code;
        JResult result;
        size_t consumed;
    } cases[] = {
        {0xD83D, 0xDE00, 0x1F600, JLIB_UNICODE_PAIR, 2},
        {0xDBFF, 0xDFFF, 0x10FFFF, JLIB_UNICODE_PAIR, 2},
        {0xD83D, 0x0041, 0xD83D, JLIB_OK, 1}, // lone high surrogate kept as it is
        {0xDE00, 0xD83D, 0xDE00, JLIB_OK, 1}, // low before high is no pair
        {0x0041, 0xDE00, 0x0041, JLIB_OK, 1},
    };
    for (const Case& c : cases) {
        JUnicode ch;
        size_t used = 0;
        EXPECT_EQ(ch.fromUtf16(c.first, c.second, &used), c.result) << std::hex << c.first;
        EXPECT_EQ(ch.code(), c.code);
        EXPECT_EQ(used, c.consumed);
    }
}

TEST(Unicode, SettersKeepCodesInRange)
{
    EXPECT_EQ(JUnicode(0x110000u).code(), 0xFFFDu);
    EXPECT_EQ(JUnicode(0xFFFFFFFFu).code(), 0xFFFDu);
    EXPECT_EQ(JUnicode(-1).code(), 0xFFFDu);
    EXPECT_EQ(JUnicode(0x10FFFFu).code(), 0x10FFFFu);
    EXPECT_EQ(JUnicode(uint16_t(0xD800)).code(), 0xD800u);

    JUnicode ch;
    EXPECT_EQ(ch.setCode(0x110000), JLIB_UNICODE_E_TOO_LARGE);
    EXPECT_EQ(ch.code(), 0xFFFDu);
    EXPECT_EQ(ch.setAscii(0x7F), JLIB_OK);
    EXPECT_EQ(ch.code(), 0x7Fu);
    EXPECT_EQ(ch.setAscii(0x80), JLIB_UNICODE_E_RANGE);
    EXPECT_EQ(ch.code(), 0xFFFDu);
    EXPECT_EQ(ch.setChar('a'), JLIB_OK);
    EXPECT_EQ(ch.code(), 0x61u);
    EXPECT_EQ(ch.setChar(static_cast<signed char>(0xE9)), JLIB_UNICODE_E_TOO_LARGE);
    EXPECT_EQ(ch.code(), 0xFFFDu);
    EXPECT_EQ(ch.setCode16(0xDFFF), JLIB_OK);
    EXPECT_EQ(ch.code(), 0xDFFFu);
}

TEST(Unicode, LowerCaseAndNarrowing)
{
    const struct {
        uint32_t code, lower;
    } lowers[] = {{'A', 'a'}, {'Z', 'z'}, {'a', 'a'}, {'@', '@'}, {'[', '['}, {0xC0, 0xC0}, {0x391, 0x391}};
    for (const auto& c : lowers) {
        JUnicode ch(c.code);
        EXPECT_EQ(ch.toLower(), c.lower);
        ch.makeLower();
        EXPECT_EQ(ch.code(), c.lower);
    }

    const struct {
        uint32_t code;
        uint8_t ascii;
        JResult asciiResult;
        uint8_t latin1;
        JResult latin1Result;
    } narrow[] = {
        {0x7F, 0x7F, JLIB_OK, 0x7F, JLIB_OK},
        {0x80, '?', JLIB_UNICODE_E_RANGE, 0x80, JLIB_OK},
        {0xFF, '?', JLIB_UNICODE_E_RANGE, 0xFF, JLIB_OK},
        {0x100, '?', JLIB_UNICODE_E_RANGE, '?', JLIB_UNICODE_E_RANGE},
    };
    for (const auto& c : narrow) {
        uint8_t out = 0;
        EXPECT_EQ(JUnicode(c.code).toAscii(&out, '?'), c.asciiResult) << c.code;
        EXPECT_EQ(out, c.ascii);
        EXPECT_EQ(JUnicode(c.code).toLatin1(&out, '?'), c.latin1Result) << c.code;
        EXPECT_EQ(out, c.latin1);
    }
}
