// Bounded copies and the UTF-16 / UTF-8 conversions, the latter checked
// against iconv for valid text.
#include "dante/support/aud_string.h"
#include "dante/support/aud_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iconv.h>
#include <string>
#include <vector>

namespace {

TEST(AudString, BoundedCopies)
{
    const struct {
        const char* src;
        size_t size;
        const char* dst;
        size_t result;
    } cases[] = {
        {"hello", 10, "hello", 5},
        {"hello", 6, "hello", 5},
        {"hello", 5, "hell", 5},
        {"hello", 1, "", 5},
        {"", 4, "", 0},
    };
    for (const auto& c : cases) {
        char dst[16];
        memset(dst, '#', sizeof dst);
        EXPECT_EQ(aud_strlcpy(dst, c.src, c.size), c.result) << c.src << " " << c.size;
        EXPECT_STREQ(dst, c.dst);
        EXPECT_EQ(dst[c.size], '#');
    }
    char untouched = '#';
    EXPECT_EQ(aud_strlcpy(&untouched, "abc", 0), 3u);
    EXPECT_EQ(untouched, '#');

    char16_t wide[4];
    EXPECT_EQ(aud_wcslcpy(wide, u"abcdef", 4), 6u);
    EXPECT_EQ(std::u16string(wide), u"abc");
}

TEST(AudString, Appends)
{
    char dst[8] = "abc";
    EXPECT_EQ(aud_strlcat(dst, "de", sizeof dst), 5u);
    EXPECT_STREQ(dst, "abcde");
    EXPECT_EQ(aud_strlcat(dst, "fghij", sizeof dst), 10u);
    EXPECT_STREQ(dst, "abcdefg");

    char full[3] = {'a', 'b', 'c'}; // fills its size without a terminator
    EXPECT_EQ(aud_strlcat(full, "x", sizeof full), 3u);
    EXPECT_EQ(memcmp(full, "abc", 3), 0);

    char list[10] = "a";
    EXPECT_EQ(aud_strlcat_list(list, sizeof list, "bc", "def", static_cast<const char*>(nullptr)), 6u);
    EXPECT_STREQ(list, "abcdef");
    EXPECT_EQ(aud_strlcat_list(list, sizeof list, "ghij", "klm", static_cast<const char*>(nullptr)), 13u);
    EXPECT_STREQ(list, "abcdefghi");
}

// UTF-8 to UTF-16LE through iconv, as the reference for valid text.
std::u16string iconvUtf16(const std::string& utf8)
{
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    EXPECT_NE(cd, iconv_t(-1));
    std::vector<char> out(utf8.size() * 4 + 4);
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), size_t(-1));
    iconv_close(cd);
    std::u16string result;
    for (const char* p = out.data(); p < o; p += 2)
        result += char16_t(uint8_t(p[0]) | uint8_t(p[1]) << 8);
    return result;
}

std::u16string toWide(const std::string& utf8, size_t count = 256)
{
    std::vector<char16_t> out(count + 1, u'#');
    aud_mbs_to_wcs(out.data(), utf8.c_str(), count);
    EXPECT_EQ(out[count], u'#');
    return out.data();
}

TEST(AudText, ValidTextAgreesWithIconvBothWays)
{
    const std::string texts[] = {
        "eth0",
        "Gr\xC3\xBC\xC3\x9F"
        "e",
        "\xE9\x9F\xB3\xE5\xA3\xB0 rack",
        "\xF0\x9F\x8E\x9B knob \xF0\x9F\x8E\x9A",
        "",
    };
    for (const std::string& t : texts) {
        const std::u16string wide = iconvUtf16(t);
        EXPECT_EQ(toWide(t), wide) << t;
        EXPECT_EQ(aud_mbs_to_wcs(nullptr, t.c_str(), 0), wide.size());
        char back[64];
        EXPECT_EQ(aud_wcs_to_mbs(back, wide.c_str(), sizeof back), t.size());
        EXPECT_EQ(std::string(back), t);
    }
}

TEST(AudText, BrokenUtf8GivesReplacementAndKeepsTheNextByte)
{
    const struct {
        const char* in;
        std::u16string out;
    } cases[] = {
        {"a\xC3\nb", u"a\uFFFD\nb"}, // a line feed is never swallowed
        {"\x80x", u"\uFFFDx"}, {"\xC0\x80", u"\uFFFD\uFFFD"}, // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // above U+10FFFF
        {"\xE2\x82", u"\uFFFD\uFFFD"}, // cut short at the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(toWide(c.in), c.out) << c.in;
}

TEST(AudText, CutsNeverSplitACharacter)
{
    // Two units and the terminator do not fit in 2: nothing is written.
    EXPECT_EQ(toWide("\xF0\x9F\x8E\x9B", 2), u"");
    EXPECT_EQ(toWide("ab\xF0\x9F\x8E\x9B", 4), u"ab");
    char out[4];
    memset(out, '#', sizeof out);
    EXPECT_EQ(aud_wcs_to_mbs(out, u"a\u00E9\u00E9", 3), 5u);
    EXPECT_STREQ(out, "a"); // "é" needs two bytes and only one is left
    // Conversion stops at an unpaired surrogate.
    const char16_t lone[] = {u'a', u'b', char16_t(0xDC00), u'c', 0};
    char text[8];
    EXPECT_EQ(aud_wcs_to_mbs(text, lone, sizeof text), 2u);
    EXPECT_STREQ(text, "ab");
}

TEST(AudText, U16TextForLogs)
{
    char out[64];
    EXPECT_STREQ(aud_u16_text(u"eth0", out, sizeof out), "eth0");
    EXPECT_STREQ(aud_u16_text(u"H\u00E9", out, sizeof out), "0048 00e9");
    EXPECT_STREQ(aud_u16_text(u"H\u00E9llo", out, 12), "0048 00e9"); // no half-written unit
    EXPECT_STREQ(aud_u16_text(u"abcdef", out, 4), "abc");
    EXPECT_STREQ(aud_u16_text(nullptr, out, sizeof out), "");
}

TEST(AudText, HexDigitsOfEitherCase)
{
    const std::string digits = "0123456789abcdefABCDEF";
    const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (size_t i = 0; i < digits.size(); ++i)
        EXPECT_EQ(aud_hex_digit(digits[i]), values[i]) << digits[i];
    for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\xff'})
        EXPECT_EQ(aud_hex_digit(c), -1) << int(c);
}

} // namespace
