#include "pbd/jlib/jstring.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Bulk appends widen whole blocks of 16 past a short run when the caller may
// read that far: only the run may count, never past the maximum length, and
// the storage (sized exactly to the maximum) is never outgrown.
TEST(String, BulkAppendsKeepTheRunAndTheMaximum)
{
    const std::string source = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const auto* bytes = reinterpret_cast<const uint8_t*>(source.data());
    const struct {
        size_t maxLength, held, count, readable;
    } cases[] = {
        {20, 0, 3, 64}, // one block with room to spare
        {20, 4, 16, 64}, // the block ends exactly at the maximum
        {20, 5, 3, 64}, // room for the run but not for a block
        {20, 18, 5, 64}, // cut at the maximum
        {20, 20, 1, 64}, // already full
        {20, 0, 16, 16}, // exactly one readable block
        {20, 0, 5, 5}, // nothing readable past the run
        {64, 1, 40, 64}, // several blocks and a tail
        {64, 1, 40, 40}, {16, 0, 0, 64}, // an empty run
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.maxLength << "/" << c.held << "/" << c.count << "/" << c.readable);
        Text s(c.maxLength);
        const JUnicode* storage = s.data();
        s.appendAscii(bytes, c.held);
        const size_t expected = std::min(c.count, c.maxLength - c.held);
        EXPECT_EQ(s.appendAscii(bytes + 10, c.count, c.readable), expected);
        EXPECT_EQ(narrow(s), source.substr(0, c.held) + source.substr(10, expected));
        EXPECT_EQ(s.data(), storage);
        EXPECT_EQ(s.capacity(), c.maxLength);
    }

    Text released(8);
    released.release(); // the storage is reserved again, up to the maximum
    EXPECT_EQ(released.appendAscii(bytes, 12, 64), 8u);
    EXPECT_EQ(narrow(released), "abcdefgh");

    Text token(64);
    token.appendAscii(bytes, 5);
    Text entry(8);
    EXPECT_EQ(entry.append(token), 5u);
    EXPECT_EQ(entry.append(token), 3u); // cut at the maximum
    EXPECT_EQ(narrow(entry), "abcdeabc");
    EXPECT_EQ(token.append(token), 5u); // a text may append itself
    EXPECT_EQ(narrow(token), "abcdeabcde");
    token.appendAscii(bytes, 30);
    Text wide(64);
    EXPECT_EQ(wide.append(token), 40u); // longer than one block
    EXPECT_EQ(narrow(wide), narrow(token));
}
