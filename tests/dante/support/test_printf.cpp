// Bounded formatting: the same output and return value as glibc snprintf at
// every buffer size, and the deliberate differences on their own.
#include "dante/support/aud_printf.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* text;
    std::function<int(char*, size_t)> ours;
    std::function<int(char*, size_t)> glibc;
};

#define FMT_CASE(...)                                                                                                  \
    Case                                                                                                               \
    {                                                                                                                  \
#__VA_ARGS__, [](char* b, size_t n) { return aud_snprintf(b, n, __VA_ARGS__); },                               \
            [](char* b, size_t n) { return snprintf(b, n, __VA_ARGS__); }                                              \
    }

const std::vector<Case>& cases()
{
    static const std::vector<Case> all = {
        FMT_CASE("plain text, no conversion"),
        FMT_CASE("%d|%i|%u", 42, -7, 3000000000u),
        FMT_CASE("%d %i %o %x %X %u %c", INT_MIN, 0, 0u, 0u, 0xABCDEFu, 0u, 'q'),
        FMT_CASE("%5d|%-5d|%05d|%+d|% d", -42, 42, 42, 7, 7),
        FMT_CASE("%x %X %o %#x %#o %#X", 255u, 255u, 8u, 255u, 8u, 0xBEEFu),
        FMT_CASE("%hhd %hhu %hd %hu", 300, 300, 70000, 70000),
        FMT_CASE("%ld %lu %lx", LONG_MIN, ULONG_MAX, 0x123456789abcdefUL),
        FMT_CASE("%lld %llu %llX", LLONG_MIN, ULLONG_MAX, 0xFEDCBA9876543210ULL),
        FMT_CASE("%*d|%-*d|%*d", 6, 1, 6, 2, -4, 3),
        FMT_CASE("%.*f|%*.*f", 3, 3.14159, 9, 2, 2.71828),
        FMT_CASE("%e %E %g %G %f %F", 12345.678, 0.000123, 1e-10, 1e20, -0.5, 1.25),
        FMT_CASE("%#.3g %.0f %.0e", 1.0, 2.5, 15.0),
        FMT_CASE("%.400f", 1e300), // longer than the scratch buffer
        FMT_CASE("%s|%.3s|%10s|%-10s|%5.1s", "abcdef", "abcdef", "ab", "ab", "xyz"),
        FMT_CASE("%s%s", "", "x"),
        FMT_CASE("%c%c%-3c%3c|", 'a', 'b', 'c', 'd'),
        FMT_CASE("%p %p", reinterpret_cast<void*>(0x1234), static_cast<void*>(nullptr)),
        FMT_CASE("100%% sure %%d"),
        FMT_CASE("%s: resolve '%s' initiated using socket %d\n", "db_browse", "Brox-12 rack", 17),
        FMT_CASE("%s: UP=%u TX=%u RX=%u\n", "eth0", 1u, 1000u, 1000u),
        FMT_CASE("[CMM   ]Version: %u.%u.%u\n", 4u, 2u, 31u),
        FMT_CASE("a\\nb\\q\\\\%d\\", 5),
    };
    return all;
}

// Output of one call at one size, with the bytes after it checked intact.
std::string run(const std::function<int(char*, size_t)>& f, size_t size, int* result)
{
    std::vector<char> buffer(size + 16, '#');
    *result = f(size ? buffer.data() : nullptr, size);
    for (size_t i = size; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], '#') << "written past the size " << size;
    if (size == 0)
        return "";
    return std::string(buffer.data(), strnlen(buffer.data(), size));
}

TEST(AudPrintf, MatchesGlibcAtEveryBufferSize)
{
    for (const Case& c : cases()) {
        const int length = c.glibc(nullptr, 0);
        ASSERT_GE(length, 0) << c.text;
        const size_t full = size_t(length);
        for (size_t size : {size_t(0), size_t(1), full / 2, full, full + 1, full + 5}) {
            int ours = 0, theirs = 0;
            const std::string a = run(c.ours, size, &ours);
            const std::string b = run(c.glibc, size, &theirs);
            EXPECT_EQ(ours, theirs) << c.text << " size " << size;
            EXPECT_EQ(a, b) << c.text << " size " << size;
        }
    }
}

TEST(AudPrintf, ReturnsTheWholeLengthWhenCut)
{
    char buffer[5];
    EXPECT_EQ(aud_snprintf(buffer, sizeof buffer, "%s", "abcdefgh"), 8);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(aud_snprintf(nullptr, 0, "%d-%s", 123, "xy"), 6);
    EXPECT_EQ(aud_snprintf(buffer, sizeof buffer, nullptr), -1);
}

std::string format(const char* f, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, f);
    const int n = aud_vsnprintf(buffer, sizeof buffer, f, args);
    va_end(args);
    EXPECT_EQ(size_t(n), strlen(buffer)) << f;
    return buffer;
}

TEST(AudPrintf, WindowsLengthsTakeTheirOwnWidth)
{
    EXPECT_EQ(format("%I64d|%d", INT64_MIN, 5), "-9223372036854775808|5");
    EXPECT_EQ(
        format("%I64x|%I64u", uint64_t(0x1122334455667788ULL), UINT64_MAX), "1122334455667788|18446744073709551615");
    EXPECT_EQ(format("%I32u|%I32d|%s", 0xFFFFFFFFu, -1, "after"), "4294967295|-1|after");
    EXPECT_EQ(format("%Id|%Iu|%d", intptr_t(-1), SIZE_MAX, 9), "-1|" + std::to_string(SIZE_MAX) + "|9");
    EXPECT_EQ(format("%lld then %c", -1LL, 'z'), "-1 then z");
}

TEST(AudPrintf, IncompleteConversionIsDroppedAndTakesNoArgument)
{
    const struct {
        const char* format;
        const char* expected;
    } cases[] = {
        {"50%q off %d", "50q off 7"},
        {"%5.2y|%d", "5.2y|7"},
        {"%lq %d", "lq 7"},
        {"%hlh %d", "hlh 7"}, // not a length we know
        {"end %", "end "},
        {"end %ll", "end ll"},
        {"%000000000000000000000000000000000d %d", "000000000000000000000000000000000d 7"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format(c.format, 7), c.expected) << c.format;
}

TEST(AudPrintf, BackslashPairsAreCopiedAsTheyAre)
{
    EXPECT_EQ(format("\\\"q\\\" \\n \\t \\\\ \\?"), "\\\"q\\\" \\n \\t \\\\ \\?");
    EXPECT_EQ(format("\\%d\\", 5), "\\5\\");
}

TEST(AudPrintf, Utf16TextsPrintUtf8)
{
    const char16_t* name = u"Gr\u00FC\u00DFe \U0001F39B";
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F"
                             "e \xF0\x9F\x8E\x9B";
    EXPECT_EQ(format("%ls", name), utf8);
    EXPECT_EQ(format("%S", name), utf8);
    EXPECT_EQ(format("%ws", name), utf8);
    EXPECT_EQ(format("%hS", "narrow"), "narrow");
    EXPECT_EQ(format("IF='%ls' %d", u"eth0", 3), "IF='eth0' 3");
    EXPECT_EQ(format("%-6ls|%6ls|", u"ab", u"cd"), "ab    |    cd|");
    EXPECT_EQ(format("%*ls|", 5, u"ab"), "   ab|");
    EXPECT_EQ(format("%.3ls|", u"abcdef"), "abc|");
    EXPECT_EQ(format("%lc%wc|", int(u'\u00E9'), int(u'x')), "\xC3\xA9x|");
    EXPECT_EQ(format("%ls", static_cast<const char16_t*>(nullptr)), "(null)");
    const char16_t lone[] = {u'a', char16_t(0xD800), u'b', 0};
    EXPECT_EQ(format("%ls", lone),
        "a\xEF\xBF\xBD"
        "b");
    // A precision bounds what is read: the array need not be terminated.
    const char16_t unterminated[3] = {u'x', u'y', u'z'};
    EXPECT_EQ(format("%.3ls", unterminated), "xyz");
}

TEST(AudPrintf, CountConversionStoresTheLengthSoFar)
{
    int n = -1;
    long long big = -1;
    EXPECT_EQ(format("abc%n%s%lln", &n, "de", &big), "abcde");
    EXPECT_EQ(n, 3);
    EXPECT_EQ(big, 5);
}

TEST(AudPrintf, Vasprintf)
{
    char* text = nullptr;
    auto call = [](char** out, const char* f, ...) {
        va_list args;
        va_start(args, f);
        const int n = aud_vasprintf(out, f, args);
        va_end(args);
        return n;
    };
    ASSERT_EQ(call(&text, "%s-%05d-%ls", "dfa", 42, u"x"), 11);
    EXPECT_STREQ(text, "dfa-00042-x");
    free(text);
    EXPECT_EQ(call(nullptr, "%d", 1), -1);
}

} // namespace
