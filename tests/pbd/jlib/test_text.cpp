#include "pbd/jlib/jlib_bytes.h"
#include "pbd/jlib/jlib_text.h"
#include "pbd/jlib/jlib_version.h"
#include "pbd/jlib/jvariant.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A heap copy of bytes without a terminating NUL, so that the address
// sanitizer reports any read past the end.
std::unique_ptr<char[]> exactCopy(const std::string& bytes)
{
    std::unique_ptr<char[]> p(new char[bytes.size()]);
    std::memcpy(p.get(), bytes.data(), bytes.size());
    return p;
}

} // namespace

TEST(Text, CharacterClasses)
{
    EXPECT_TRUE(jlib_isBlank(' ') && jlib_isBlank('\t'));
    EXPECT_FALSE(jlib_isBlank('\n'));
    for (int c = 9; c <= 13; ++c)
        EXPECT_TRUE(jlib_isSpace(c)) << c;
    EXPECT_FALSE(jlib_isSpace(0) || jlib_isSpace(14));
    EXPECT_TRUE(jlib_isDigit('0') && jlib_isDigit('9'));
    EXPECT_FALSE(jlib_isDigit('a') || jlib_isDigit('/'));
    EXPECT_TRUE(jlib_isLower('z'));
    EXPECT_FALSE(jlib_isLower('Z'));
    EXPECT_EQ(jlib_toLower('Q'), 'q');
    EXPECT_EQ(jlib_toLower(0xC4), 0xC4); // only A to Z move
    EXPECT_EQ(jlib_toLower('['), '[');
}

TEST(Text, MemoryOperations)
{
    char a[4] = {1, 2, 3, 4};
    char b[4] = {};
    EXPECT_EQ(jlib_memCopy(b, a, 4), JLIB_OK);
    EXPECT_EQ(jlib_memCompare(a, b, 4), 0);
    b[2] = static_cast<char>(0x80); // compared unsigned: b is now greater
    EXPECT_EQ(jlib_memCompare(a, b, 4), 2);
    EXPECT_EQ(jlib_memCompare(b, a, 4), 1);
    EXPECT_EQ(jlib_memSet(b, 7, 4), JLIB_OK);
    EXPECT_EQ(b[3], 7);
    EXPECT_EQ(jlib_memSet(b, 7, 0), JLIB_TEXT_E_NULL);
    EXPECT_EQ(jlib_memCopy(nullptr, a, 1), JLIB_TEXT_E_NULL);
    EXPECT_EQ(jlib_memCompare(a, nullptr, 1), JLIB_TEXT_E_NULL);
}

TEST(Text, CopyAndCompare)
{
    char four[4];
    EXPECT_EQ(jlib_strCopy(four, sizeof four, "abcdef"), JLIB_TEXT_E_CUT);
    EXPECT_STREQ(four, "abc");
    EXPECT_EQ(jlib_strCopy(four, sizeof four, "abc"), JLIB_OK);
    EXPECT_STREQ(four, "abc");
    EXPECT_EQ(jlib_strCopy(four, 0, "a"), JLIB_TEXT_E_NULL);

    char five[5];
    EXPECT_EQ(jlib_strCopyN(five, "abcdef", 4), JLIB_TEXT_CUT);
    EXPECT_STREQ(five, "abcd");
    EXPECT_EQ(jlib_strCopyN(five, "ab", 4), JLIB_OK);
    EXPECT_STREQ(five, "ab");
    EXPECT_EQ(jlib_strCopyN(five, "ab", 0), JLIB_TEXT_E_NULL);

    EXPECT_EQ(jlib_strCompare("abc", "abd", 2), 0);
    EXPECT_EQ(jlib_strCompare("abc", "abd", 3), 2);
    EXPECT_EQ(jlib_strCompare("b", "a", 5), 1);
    EXPECT_EQ(jlib_strCompare("ab", "ab\0x", 4), 0); // stops after the NUL
    EXPECT_EQ(jlib_strCompare("\x80", "a", 1), 2); // signed bytes
    EXPECT_EQ(jlib_strCompare("a", nullptr, 1), JLIB_TEXT_E_NULL);
}

// Lengths and searches read only the bytes they are given: the buffers here
// have no NUL after their last byte.
TEST(Text, LengthAndFindStayInsideTheirBound)
{
    auto abc = exactCopy("abc");
    size_t length = 99;
    // "abc" does not fit 2 characters: the third byte is not a NUL.
    EXPECT_EQ(jlib_strLength(abc.get(), 2, &length), JLIB_TEXT_E_NOTFOUND);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(jlib_strLength(abc.get(), 1, &length), JLIB_TEXT_E_NOTFOUND);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(jlib_strLength("abc", 3, &length), JLIB_OK);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(jlib_strLength("abc", 10, &length), JLIB_OK);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(jlib_strLength(nullptr, 3, &length), JLIB_TEXT_E_NULL);
    EXPECT_EQ(length, 0u);

    EXPECT_EQ(jlib_strLengthBounded(abc.get(), 3, &length), JLIB_TEXT_E_NOTFOUND);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(jlib_strLengthBounded("abc", 4, &length), JLIB_OK);
    EXPECT_EQ(length, 3u);

    const char* found = abc.get();
    EXPECT_EQ(jlib_strFindChar(abc.get(), 'c', 3, &found), JLIB_OK);
    EXPECT_EQ(found, abc.get() + 2);
    EXPECT_EQ(jlib_strFindChar(abc.get(), 'c', 2, &found), JLIB_TEXT_E_NOTFOUND);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(jlib_strFindChar(abc.get(), 'x', 3, &found), JLIB_TEXT_E_NOTFOUND);
    EXPECT_EQ(jlib_strFindChar("ab\0c", 'c', 4, &found), JLIB_TEXT_E_NOTFOUND); // stops at the NUL
    const char* text = "ab";
    EXPECT_EQ(jlib_strFindChar(text, 0, 5, &found), JLIB_OK);
    EXPECT_EQ(found, text + 2);
    EXPECT_EQ(jlib_strFindChar(text, 'a', 0, &found), JLIB_TEXT_E_NULL);
}

// ---------------------------------------------------------------------------
// Formatter against glibc snprintf

TEST(Format, MatchesSnprintfOnTheSubset)
{
    struct Case {
        const char* format;
        int value;
    };
    const Case cases[] = {
        {"%d", 42},
        {"%d", -42},
        {"%d", INT_MIN},
        {"%d", INT_MAX},
        {"%5d", -42},
        {"%05d", -42},
        {"%+d", 7},
        {"%+d", -7},
        {"%+05d", 42},
        {"%0+5d", 42},
        {"%+5d", 42},
        {"%2d", 12345},
        {"%u", -1},
        {"%7u", 123},
        {"%x", 255},
        {"%X", 255},
        {"%08X", 0xBEEF},
        {"%4x", 10},
        {"%x", -1},
        {"%c", 'A'},
        {"<%d%%>", 3},
        {"a%db", 0},
    };
    for (const Case& c : cases) {
        char ours[64];
        char theirs[64];
        size_t written = 0;
        ASSERT_EQ(jlib_formatString(ours, sizeof ours, &written, c.format, c.value), JLIB_OK);
        const int n = std::snprintf(theirs, sizeof theirs, c.format, c.value);
        EXPECT_STREQ(ours, theirs) << c.format << " " << c.value;
        EXPECT_EQ(written, static_cast<size_t>(n)) << c.format;
    }
    char ours[64];
    char theirs[64];
    jlib_formatString(ours, sizeof ours, nullptr, "%s=%d,%s", "key", -5, "v");
    std::snprintf(theirs, sizeof theirs, "%s=%d,%s", "key", -5, "v");
    EXPECT_STREQ(ours, theirs);
}

TEST(Format, DocumentedDifferencesFromSnprintf)
{
    char out[32];
    size_t written = 0;
    const char* format = "%+d";
    // Zero gets no plus sign (snprintf writes "+0").
    jlib_formatString(out, sizeof out, nullptr, format, 0);
    EXPECT_STREQ(out, "0");
    // A null text prints nothing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-overflow"
    jlib_formatString(out, sizeof out, nullptr, "[%s]", static_cast<const char*>(nullptr));
#pragma GCC diagnostic pop
    EXPECT_STREQ(out, "[]");
    // Width applies to numbers only.
    format = "[%5s][%3c]";
    jlib_formatString(out, sizeof out, nullptr, format, "ab", 'x');
    EXPECT_STREQ(out, "[ab][x]");
    // Anything outside the subset ends the conversion and is copied; no
    // argument is taken, so the next conversion gets the next argument.
    format = "%q%d|%-5d|%ld";
    jlib_formatString(out, sizeof out, nullptr, format, 1, 2, 3);
    EXPECT_STREQ(out, "q1|-5d|ld");
    // The count is what was written, not what would have been.
    jlib_formatString(out, 4, &written, "%d", 123456);
    EXPECT_STREQ(out, "123");
    EXPECT_EQ(written, 3u);
}

TEST(Format, BoundsAndBadArguments)
{
    char out[8];
    size_t written = 7;
    EXPECT_EQ(jlib_formatString(nullptr, 8, &written, "x"), JLIB_FAIL);
    EXPECT_EQ(jlib_formatString(out, 0, &written, "x"), JLIB_FAIL);
    EXPECT_EQ(jlib_formatString(out, 8, &written, nullptr), JLIB_FAIL);
    // A huge width pads only up to the end of the buffer.
    const char* wide = "%999999999d";
    EXPECT_EQ(jlib_formatString(out, sizeof out, &written, wide, 5), JLIB_OK);
    EXPECT_STREQ(out, "       ");
    // A format that ends inside a conversion stops there.
    const char* open = "ab%0+";
    EXPECT_EQ(jlib_formatString(out, sizeof out, &written, open), JLIB_OK);
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(jlib_formatString(out, 1, &written, "abc"), JLIB_OK);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(written, 0u);
}

// The formatter carries the compiler's printf checking, so an argument that
// does not match its conversion is caught when the caller is compiled.
TEST(Format, CompilerChecksArguments)
{
    qtest::TempDir dir;
    const std::string include = " -I" + qtest::sourcePath("pbd") + " -I" + qtest::sourcePath("");
    const std::string prefix = "#include \"jlib/jlib_text.h\"\nvoid f(char* b) { ";
    ASSERT_TRUE(qtest::writeFile(dir.file("good.cpp"), prefix + "jlib_formatString(b, 8, nullptr, \"%d\", 5); }\n"));
    ASSERT_TRUE(qtest::writeFile(dir.file("bad.cpp"), prefix + "jlib_formatString(b, 8, nullptr, \"%d\", 5L); }\n"));
    const std::string compile = "c++ -std=c++17 -fsyntax-only -Werror=format" + include + " ";
    EXPECT_EQ(qtest::runCommand(compile + dir.file("good.cpp") + " 2>&1"), 0);
    EXPECT_NE(qtest::runCommand(compile + dir.file("bad.cpp") + " 2>&1"), 0);
}

// ---------------------------------------------------------------------------
// jlib_strToLong against glibc strtol

TEST(StrToLong, MatchesStrtolClampedTo32Bits)
{
    struct Case {
        const char* text;
        int base;
    };
    const Case cases[] = {
        {"123", 10},
        {"  -0X1a", 0},
        {"\t+42xyz", 10},
        {"017", 0},
        {"08", 0},
        {"0", 0},
        {"zz", 36},
        {"ZZ", 36},
        {"101", 2},
        {"777", 8},
        {"abc", 10},
        {"ff", 16},
        {"2147483647", 0},
        {"-2147483648", 10},
        {"2147483648", 10},
        {"-2147483649", 10},
        {"99999999999", 10},
        {"-99999999999999999999999", 0},
        {"7fffffff", 16},
        {"80000000", 16},
        {"", 10},
    };
    for (const Case& c : cases) {
        int32_t value = 12345;
        const char* end = nullptr;
        const JResult result = jlib_strToLong(&value, c.text, &end, c.base, std::strlen(c.text) + 1);
        char* theirEnd = nullptr;
        long theirs = std::strtol(c.text, &theirEnd, c.base);
        JResult expected = JLIB_OK;
        if (theirs > INT32_MAX) {
            theirs = INT32_MAX;
            expected = JLIB_TEXT_E_OVERFLOW;
        } else if (theirs < INT32_MIN) {
            theirs = INT32_MIN;
            expected = JLIB_TEXT_E_UNDERFLOW;
        }
        EXPECT_EQ(value, theirs) << c.text;
        EXPECT_EQ(result, expected) << c.text;
        EXPECT_EQ(end, theirEnd) << c.text;
    }
}

TEST(StrToLong, DocumentedDifferencesFromStrtol)
{
    struct Case {
        const char* text;
        int base;
        int32_t value;
        size_t endOffset;
    };
    const Case cases[] = {
        {"0x1A", 16, 0, 1}, // an explicit base 16 takes no "0x" (strtol gives 26)
        {" -", 10, 0, 2}, // blanks and sign count as consumed (strtol: end at 0)
        {"0x", 0, 0, 2}, // "0x" is taken even without digits (strtol: end at 1)
        {"\n5", 10, 0, 0}, // only blanks and tabs are skipped (strtol: 5)
    };
    for (const Case& c : cases) {
        int32_t value = 99;
        const char* end = nullptr;
        EXPECT_EQ(jlib_strToLong(&value, c.text, &end, c.base, std::strlen(c.text)), JLIB_OK) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(end, c.text + c.endOffset) << c.text;
    }
}

TEST(StrToLong, LengthAndArguments)
{
    auto digits = exactCopy("12345");
    int32_t value = 0;
    const char* end = nullptr;
    EXPECT_EQ(jlib_strToLong(&value, digits.get(), &end, 10, 3), JLIB_OK);
    EXPECT_EQ(value, 123);
    EXPECT_EQ(end, digits.get() + 3);
    EXPECT_EQ(jlib_strToLong(&value, digits.get(), nullptr, 10, 5), JLIB_OK);
    EXPECT_EQ(value, 12345);
    // Base 0 looks at a second character only when the length has one.
    auto zeroX = exactCopy("0x");
    EXPECT_EQ(jlib_strToLong(&value, zeroX.get(), &end, 0, 1), JLIB_OK);
    EXPECT_EQ(end, zeroX.get() + 1);
    // The scan goes on over digits after the value was held at its limit.
    EXPECT_EQ(jlib_strToLong(&value, "99999999999x", &end, 10, 20), JLIB_TEXT_E_OVERFLOW);
    EXPECT_EQ(value, INT32_MAX);
    EXPECT_EQ(*end, 'x');

    for (int base : {-1, 1, 37})
        EXPECT_EQ(jlib_strToLong(&value, "1", nullptr, base, 1), JLIB_TEXT_E_SIZE) << base;
    EXPECT_EQ(jlib_strToLong(nullptr, "1", nullptr, 10, 1), JLIB_TEXT_E_SIZE);
    EXPECT_EQ(jlib_strToLong(&value, nullptr, nullptr, 10, 1), JLIB_TEXT_E_SIZE);
}

// ---------------------------------------------------------------------------
// jlib_parseNumberToVariant

TEST(ParseNumber, Forms)
{
    struct Case {
        const char* text;
        int32_t kind;
        uint32_t word; // integer value word
        float real; // float value for kind 2
    };
    const Case cases[] = {
        {"0x1F", JLIB_NUMBER_UNSIGNED, 31, 0},
        {"X1f", JLIB_NUMBER_UNSIGNED, 31, 0},
        {"000x10", JLIB_NUMBER_UNSIGNED, 16, 0},
        {"017", JLIB_NUMBER_UNSIGNED, 15, 0},
        {"010", JLIB_NUMBER_UNSIGNED, 8, 0},
        {"0", JLIB_NUMBER_UNSIGNED, 0, 0},
        {"000", JLIB_NUMBER_UNSIGNED, 0, 0},
        {"42", JLIB_NUMBER_UNSIGNED, 42, 0},
        {"+42", JLIB_NUMBER_UNSIGNED, 42, 0},
        {"-12", JLIB_NUMBER_SIGNED, static_cast<uint32_t>(-12), 0},
        {"-0", JLIB_NUMBER_SIGNED, 0, 0},
        {"4294967295", JLIB_NUMBER_UNSIGNED, 0xFFFFFFFFu, 0},
        {"0xFFFFFFFF", JLIB_NUMBER_UNSIGNED, 0xFFFFFFFFu, 0},
        {"-2147483648", JLIB_NUMBER_SIGNED, 0x80000000u, 0},
        {"12UL", JLIB_NUMBER_UNSIGNED, 12, 0},
        {"12u", JLIB_NUMBER_UNSIGNED, 12, 0},
        {"12L", JLIB_NUMBER_UNSIGNED, 12, 0},
        {"0x1Fu", JLIB_NUMBER_UNSIGNED, 31, 0},
        {"1e0", JLIB_NUMBER_UNSIGNED, 1, 0}, // a zero exponent keeps the integer
        {"1.25", JLIB_NUMBER_FLOAT, 0, 1.25f},
        {"1.5f", JLIB_NUMBER_FLOAT, 0, 1.5f},
        {"-0.5", JLIB_NUMBER_FLOAT, 0, -0.5f},
        {"0.5", JLIB_NUMBER_FLOAT, 0, 0.5f},
        {".5", JLIB_NUMBER_FLOAT, 0, 0.5f},
        {"2e3", JLIB_NUMBER_FLOAT, 0, 2000.0f},
        {"1.5e-1", JLIB_NUMBER_FLOAT, 0, 0.15f},
        {"-1E+2", JLIB_NUMBER_FLOAT, 0, -100.0f},
        {"1e-50", JLIB_NUMBER_FLOAT, 0, 0.0f},
        {"3.4028235e38", JLIB_NUMBER_FLOAT, 0, 3.4028235e38f}, // rounds down to the largest float
        // Mantissa digits beyond 32 bits keep their value.
        {"4294967296.5", JLIB_NUMBER_FLOAT, 0, 4294967296.5f},
        {"123456789012345678901234567890.0", JLIB_NUMBER_FLOAT, 0, 1.2345679e29f},
    };
    for (const Case& c : cases) {
        JLIB::JVariant v;
        int32_t kind = -1;
        ASSERT_EQ(jlib_parseNumberToVariant(&v, &kind, c.text, std::strlen(c.text) + 1), JLIB_OK) << c.text;
        EXPECT_EQ(kind, c.kind) << c.text;
        if (c.kind == JLIB_NUMBER_FLOAT) {
            EXPECT_EQ(v.type(), JLIB::JVARIANT_FLOAT) << c.text;
            EXPECT_EQ(v.toFloat(), c.real) << c.text;
            EXPECT_EQ(v.toFloat(), std::strtof(c.text, nullptr)) << c.text;
        } else {
            EXPECT_EQ(v.type(), c.kind == JLIB_NUMBER_SIGNED ? JLIB::JVARIANT_INT32 : JLIB::JVARIANT_UINT32) << c.text;
            EXPECT_EQ(v.toInteger(), c.word) << c.text;
        }
    }
}

// Values beyond their type are refused instead of wrapping; malformed texts
// leave the variant as it was.
TEST(ParseNumber, MalformedAndOutOfRange)
{
    const char* bad[] = {
        "1.2.3",
        "",
        "-",
        "+",
        "x",
        "0x",
        "08",
        "019",
        "0x1G",
        "abc",
        "1e",
        "1e+",
        "e5",
        ".",
        "1 ",
        "-0x1F",
        "12lu",
        "1.5F0",
        "4294967296",
        "0x100000000",
        "-2147483649",
        "040000000000",
        "99999999999999999999999",
        "1e39",
        "-1e39",
        "3.4028236e38",
    };
    for (const char* text : bad) {
        JLIB::JVariant v(7);
        int32_t kind = -1;
        EXPECT_EQ(jlib_parseNumberToVariant(&v, &kind, text, std::strlen(text) + 1), JLIB_TEXT_E_MALFORMED) << text;
        EXPECT_EQ(v.type(), JLIB::JVARIANT_INT32) << text;
        EXPECT_EQ(v.toInteger(), 7u) << text;
    }
    JLIB::JVariant v;
    int32_t kind = 0;
    EXPECT_EQ(jlib_parseNumberToVariant(nullptr, &kind, "1", 1), JLIB_TEXT_E_SIZE);
    EXPECT_EQ(jlib_parseNumberToVariant(&v, nullptr, "1", 1), JLIB_TEXT_E_SIZE);
    EXPECT_EQ(jlib_parseNumberToVariant(&v, &kind, nullptr, 1), JLIB_TEXT_E_SIZE);
    EXPECT_EQ(jlib_parseNumberToVariant(&v, &kind, "1", 0), JLIB_TEXT_E_SIZE);
}

TEST(ParseNumber, EndsAtNulOrLength)
{
    JLIB::JVariant v;
    int32_t kind = -1;
    auto text = exactCopy("1234");
    EXPECT_EQ(jlib_parseNumberToVariant(&v, &kind, text.get(), 4), JLIB_TEXT_ENDED_AT_LENGTH);
    EXPECT_EQ(v.toInteger(), 1234u);
    EXPECT_EQ(jlib_parseNumberToVariant(&v, &kind, text.get(), 2), JLIB_TEXT_ENDED_AT_LENGTH);
    EXPECT_EQ(v.toInteger(), 12u);
    EXPECT_EQ(jlib_parseNumberToVariant(&v, &kind,
                  "56\0"
                  "78",
                  5),
        JLIB_OK);
    EXPECT_EQ(v.toInteger(), 56u);
}

// ---------------------------------------------------------------------------
// Version words and byte order

TEST(Version, FormatAndDecode)
{
    struct Case {
        uint32_t word;
        const char* text;
        JResult result;
    };
    const Case cases[] = {
        {0x56010203, "V1.02d", JLIB_OK},
        {0x52020A19, "R2.10z", JLIB_OK},
        {0x56FF6300, "V255.99a", JLIB_OK},
        {0x56016400, "V?.???", JLIB_FAIL},
        {0x5601001A, "V?.???", JLIB_FAIL},
        {0x41010101, "V?.???", JLIB_FAIL},
    };
    for (const Case& c : cases) {
        char out[16];
        EXPECT_EQ(jlib_formatVersion(out, sizeof out, c.word), c.result) << std::hex << c.word;
        EXPECT_STREQ(out, c.text);
    }
    uint32_t release = 9, major = 0, tens = 0, units = 0;
    char letter = 0;
    EXPECT_EQ(jlib_decodeVersion(&release, &major, &tens, &units, &letter, 0x52020A19), JLIB_OK);
    EXPECT_EQ(release, 0u);
    EXPECT_EQ(major, 2u);
    EXPECT_EQ(tens, 1u);
    EXPECT_EQ(units, 0u);
    EXPECT_EQ(letter, 'z');
    EXPECT_EQ(jlib_decodeVersion(nullptr, nullptr, nullptr, nullptr, nullptr, 0x56000000), JLIB_OK);
    release = 9;
    EXPECT_EQ(jlib_decodeVersion(&release, nullptr, nullptr, nullptr, nullptr, 0x56006400), JLIB_FAIL);
    EXPECT_EQ(release, 9u);

    char small[4];
    EXPECT_EQ(jlib_formatVersion(small, sizeof small, 0x56010203), JLIB_OK);
    EXPECT_STREQ(small, "V1.");

    uint8_t b[4] = {};
    jlib_splitVersionBytes(&b[0], &b[1], &b[2], &b[3], 0x56010203);
    EXPECT_EQ(b[0], 0x56);
    EXPECT_EQ(b[3], 0x03);
    jlib_splitVersionBytes(nullptr, &b[1], nullptr, nullptr, 0x00AB0000);
    EXPECT_EQ(b[1], 0xAB);
}

TEST(Bytes, SwapSizes)
{
    uint64_t v8 = 0x0102030405060708ull;
    EXPECT_EQ(jlib_swapBytes(&v8, 8), JLIB_OK);
    EXPECT_EQ(v8, 0x0807060504030201ull);
    uint32_t v4 = 0x11223344;
    EXPECT_EQ(jlib_swapBytes(&v4, 4), JLIB_OK);
    EXPECT_EQ(v4, 0x44332211u);
    uint16_t v2 = 0xA1B2;
    EXPECT_EQ(jlib_swapBytes(&v2, 2), JLIB_OK);
    EXPECT_EQ(v2, 0xB2A1);
    uint8_t v1 = 5;
    EXPECT_EQ(jlib_swapBytes(&v1, 1), JLIB_OK);
    EXPECT_EQ(v1, 5);
    for (size_t size : {0u, 3u, 16u})
        EXPECT_EQ(jlib_swapBytes(&v8, size), JLIB_BYTES_E_SIZE) << size;
}

// Fixed-order fields: the bytes in memory are the order named, whatever the
// host's order, and high bytes survive (no sign extension through int).
TEST(Bytes, OrderedLoadsAndStores)
{
    const uint8_t bytes[8] = {0xF1, 0x82, 0x73, 0x64, 0x55, 0x46, 0x37, 0x28};
    EXPECT_EQ(jlib_load16be(bytes), 0xF182u);
    EXPECT_EQ(jlib_load32be(bytes), 0xF1827364u);
    EXPECT_EQ(jlib_load64be(bytes), 0xF182736455463728ull);
    EXPECT_EQ(jlib_load16le(bytes), 0x82F1u);
    EXPECT_EQ(jlib_load32le(bytes), 0x647382F1u);

    uint8_t out[8] = {};
    jlib_store64be(out, 0xF182736455463728ull);
    EXPECT_EQ(0, memcmp(out, bytes, 8));
    memset(out, 0, sizeof out);
    jlib_store32be(out, 0xF1827364u);
    jlib_store16be(out + 4, 0x5546);
    EXPECT_EQ(0, memcmp(out, bytes, 6));
    jlib_store32le(out, 0x647382F1u);
    jlib_store16le(out + 4, 0x4655);
    EXPECT_EQ(0, memcmp(out, bytes, 6));
}
