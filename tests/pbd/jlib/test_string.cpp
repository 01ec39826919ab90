#include "jlib/jstring.h"

#include <gtest/gtest.h>

#include <string>

using JLIB::JUnicode;
using Text = JLIB::JString<JLIB::JUnicode>;

namespace {

std::string narrow(const Text& s)
{
    std::string out;
    for (const JUnicode& ch : s)
        out += ch.code() < 0x80 ? static_cast<char>(ch.code()) : '?';
    return out;
}

} // namespace

TEST(String, AssignStopsAtMaximumNulOrCount)
{
    Text s(4);
    ASSERT_EQ(s.maxLength(), 4u);
    EXPECT_EQ(s.assign("abcdef", 6), JLIB_STRING_E_CUT);
    EXPECT_EQ(narrow(s), "abcd");

    const struct {
        const char* text;
        size_t count;
        JResult result;
        const char* held;
    } cases[] = {
        {"abcd", 4, JLIB_OK, "abcd"}, // exactly the maximum is not a cut
        {"abcdef", 3, JLIB_OK, "abc"},
        {"ab\0cd", 5, JLIB_OK, "ab"},
        {"", 10, JLIB_OK, ""},
        {"x\xE9y", 3, JLIB_OK, "x?y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(s.assign(c.text, c.count), c.result) << c.text;
        EXPECT_EQ(narrow(s), c.held);
    }
    s.assign("x\xE9", 2);
    EXPECT_EQ(s[1].code(), 0xFFFDu);

    s.assign("ab", 2);
    EXPECT_EQ(s.assign(nullptr, 3), JLIB_STRING_E_NULL);
}

TEST(String, AppendNeverPassesTheMaximumOrReallocates)
{
    Text s(3);
    const JUnicode* storage = s.data();
    for (char c : std::string("xyz"))
        EXPECT_EQ(s.append(JUnicode(c)), JLIB_OK);
    EXPECT_EQ(s.append(JUnicode('!')), JLIB_STRING_E_FULL);
    EXPECT_EQ(narrow(s), "xyz");
    EXPECT_EQ(s.data(), storage);
    EXPECT_EQ(s.capacity(), 3u);

    EXPECT_EQ(s.reset(), JLIB_OK);
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(s.maxLength(), 3u);
    s.release();
    EXPECT_EQ(s.reset(), JLIB_OK); // reserves the maximum again
    EXPECT_EQ(s.capacity(), 3u);
}

TEST(String, UnobtainableMaximumBecomesZero)
{
    Text s(size_t(1) << 40); // past the heap's largest block
    EXPECT_EQ(s.maxLength(), 0u);
    EXPECT_EQ(s.append(JUnicode('a')), JLIB_STRING_E_FULL);
    EXPECT_EQ(s.assign("a", 1), JLIB_STRING_E_CUT);
    EXPECT_EQ(s.length(), 0u);
}

TEST(String, CopyIsCutToTheTargetMaximum)
{
    Text token(256);
    token.assign("\"hello\"", 100);
    Text entry(5);
    EXPECT_EQ(entry.assign(token), JLIB_STRING_E_CUT);
    EXPECT_EQ(narrow(entry), "\"hell");
    Text wide(20);
    EXPECT_EQ(wide.assign(token), JLIB_OK);
    EXPECT_EQ(narrow(wide), "\"hello\"");

    Text moved(std::move(wide));
    EXPECT_EQ(narrow(moved), "\"hello\"");
    EXPECT_EQ(moved.maxLength(), 20u);
    EXPECT_EQ(wide.maxLength(), 0u);
}

TEST(String, EqualsAscii)
{
    const struct {
        const char* held;
        const char* text;
        int mode;
        bool equal;
    } cases[] = {
        {"abc", "ABC", 1, true},
        {"abc", "ABC", 0, false},
        {"abc", "abc", 0, true},
        {"aBc", "AbC", 1, true},
        {"abc", "ab", 1, false},
        {"ab", "abc", 1, false},
        {"", "", 0, true},
        {"", "a", 0, false},
        {"[", "{", 1, false}, // only A to Z fold
        {"abc", "ABC", 2, false},
    };
    for (const auto& c : cases) {
        Text s(8);
        s.assign(c.held, 8);
        EXPECT_EQ(s.equalsAscii(c.text, c.mode), c.equal) << c.held << " vs " << c.text << " mode " << c.mode;
    }

    // Text bytes 0x80 and above compare as U+FFFD.
    Text s(4);
    s.append(JUnicode(0xFFFDu));
    EXPECT_TRUE(s.equalsAscii("\xE9", 0));
    s.reset();
    s.append(JUnicode(0xE9u));
    EXPECT_FALSE(s.equalsAscii("\xE9", 0));
    EXPECT_FALSE(s.equalsAscii(nullptr, 0));
}
