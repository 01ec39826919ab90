#include "pbd/FileCache/fcache_MBDFAbstractBlock.h"

#include "tests/pbd/FileCache/test_mbdf_util.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace FILECACHE;
using mbdftest::block;

namespace {

std::string writeBlock(MBDFAbstractBlock& b, const std::string& path)
{
    FileAccessor f;
    EXPECT_EQ(f.open(path.c_str(), FileAccessor::CreateTruncate), 0);
    EXPECT_EQ(b.writeToFile(f), 0);
    f.close();
    return qtest::readFile(path);
}

} // namespace

TEST(MBDFBlock, LayoutWithPadding)
{
    qtest::TempDir dir;
    MBDFAbstractBlock b;
    ASSERT_EQ(b.setTag("TAG"), 0);
    ASSERT_EQ(b.setPart1("abcde", 5), 0);
    EXPECT_EQ(b.totalSize(), 44u);
    const std::string bytes = writeBlock(b, dir.file("b"));
    EXPECT_EQ(bytes, block("TAG", "", 24, "abcde"));
    ASSERT_EQ(bytes.size(), 44u);

    ASSERT_EQ(b.setPart2("xy", 2), 0);
    EXPECT_EQ(writeBlock(b, dir.file("b")), block("TAG", "", 24, "abcde", "xy"));
    EXPECT_EQ(std::memcmp(b.part1Data() + 5, "\0\0\0", 3), 0) << "padding in memory is zero";

    // Read back, part 2 loaded and skipped.
    FileAccessor f;
    ASSERT_EQ(f.open(dir.file("b").c_str(), FileAccessor::ReadOnly), 0);
    MBDFAbstractBlock r;
    ASSERT_EQ(r.readFromFile(f, false), 0);
    EXPECT_EQ(f.tell(), 48u) << "positioned at the next block";
    EXPECT_EQ(r.tag(), "TAG");
    EXPECT_EQ(r.part2Size(), 2u);
    EXPECT_EQ(r.part2Data(), nullptr);
    EXPECT_FALSE(r.isComplete());
    ASSERT_EQ(f.seek(0, 0), 0);
    ASSERT_EQ(r.readFromFile(f, true), 0);
    EXPECT_TRUE(r.isComplete());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.part2Data()), 2), "xy");
    r.releasePart2();
    EXPECT_FALSE(r.isComplete());
    EXPECT_EQ(r.part2Size(), 2u);
}

TEST(MBDFBlock, SizeLimitOnRead)
{
    qtest::TempDir dir;
    const uint32_t half = MBDF_BLOCK_LIMIT / 2;
    struct Case {
        const char* what;
        std::string bytes;
        bool loadPart2;
        JResult expected;
    };
    const Case cases[] = {
        // Refused before any allocation: no part data follow the header.
        {"part 1 one above the limit", block("T", "", 24, "", "", MBDF_BLOCK_LIMIT + 1), false, FCACHE_E_DATA},
        {"halves one above, part 2 skipped", block("T", "", 24, std::string(half, 'a'), std::string(half + 1, 'b')),
            false, FCACHE_OK},
        {"halves one above, part 2 loaded", block("T", "", 24, std::string(half, 'a'), std::string(half + 1, 'b')),
            true, FCACHE_E_DATA},
        {"exactly the limit", block("T", "", 24, std::string(half, 'a'), std::string(half, 'b')), true, FCACHE_OK},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(qtest::writeFile(dir.file("b"), c.bytes));
        FileAccessor f;
        ASSERT_EQ(f.open(dir.file("b").c_str(), FileAccessor::ReadOnly), 0);
        MBDFAbstractBlock b;
        EXPECT_EQ(b.readFromFile(f, c.loadPart2), c.expected) << c.what;
    }
}

// Lengths that point past the end of the data, that wrap in 32 bits or that
// would make a signed 32-bit skip run backwards are refused, never followed.
TEST(MBDFBlock, DamagedHeadersAreRefused)
{
    qtest::TempDir dir;
    struct Case {
        const char* what;
        std::string bytes;
        bool loadPart2;
    };
    const Case cases[] = {
        {"truncated header", block("T", "", 24).substr(0, 20), false},
        {"part 1 past the end", block("T", "", 24, "abcd", "", 100), false},
        {"part 2 past the end, skipped", block("T", "", 24, "abcd", "", -1, 1000), false},
        {"part 2 of 2 GiB, skipped", block("T", "", 24, "", "", 0, 0x80000000u), false},
        {"part 2 of 4 GiB - 1, skipped", block("T", "", 24, "abcd", "", -1, 0xFFFFFFFFu), false},
        {"both lengths wrap", block("T", "", 24, "", "", 0xFFFFFFFEu, 0xFFFFFFFEu), true},
        {"data without padding", block("T", "", 24, "abcde").substr(0, 41), false},
        {"all-zero name", block("", "", 24, "abcd"), true},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(qtest::writeFile(dir.file("b"), c.bytes));
        FileAccessor f;
        ASSERT_EQ(f.open(dir.file("b").c_str(), FileAccessor::ReadOnly), 0);
        MBDFAbstractBlock b;
        EXPECT_EQ(b.readFromFile(f, c.loadPart2), FCACHE_E_DATA) << c.what;

        MBDFAbstractBlock m;
        size_t consumed = 99;
        const JResult r = m.parseFromMemory(c.bytes.data(), c.bytes.size(), &consumed);
        if (std::strcmp(c.what, "all-zero name") == 0) {
            EXPECT_EQ(r, 0) << "parsing checks no validity";
            continue;
        }
        EXPECT_EQ(r, FCACHE_E_DATA) << c.what;
        EXPECT_EQ(consumed, 0u) << c.what;
        EXPECT_EQ(m.part1Size(), 0u) << "cleared";
    }
    MBDFAbstractBlock b;
    FileAccessor closed;
    EXPECT_EQ(b.readFromFile(closed, true), FCACHE_E_FILE);
    EXPECT_EQ(b.writeToFile(closed), FCACHE_E_INVALID);
}

TEST(MBDFBlock, ParseFromMemory)
{
    const std::string bytes = block("ABC", "", 24, "hello", "xyz") + "trailing";
    MBDFAbstractBlock b;
    size_t consumed = 0;
    ASSERT_EQ(b.parseFromMemory(bytes.data(), bytes.size(), &consumed), 0);
    EXPECT_EQ(consumed, 36u + 8 + 4);
    EXPECT_EQ(b.tag(), "ABC");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.part1Data()), 5), "hello");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.part2Data()), 3), "xyz");
    EXPECT_EQ(b.parseFromMemory(nullptr, 10, &consumed), FCACHE_E_ARG);
    EXPECT_EQ(b.parseFromMemory(bytes.data(), 0, &consumed), FCACHE_E_ARG);
    // Over the limit even though the bytes are there.
    const std::string big = block("ABC", "", 24, std::string(MBDF_BLOCK_LIMIT + 1, 'x'));
    EXPECT_EQ(b.parseFromMemory(big.data(), big.size(), &consumed), FCACHE_E_DATA);
}

TEST(MBDFBlock, TagsPartsAndCopies)
{
    MBDFAbstractBlock b;
    EXPECT_FALSE(b.isValid());
    EXPECT_EQ(b.setPart1("abc", 3), FCACHE_E_INVALID);
    EXPECT_EQ(b.part1Size(), 0u) << "unchanged";
    EXPECT_EQ(b.setPart2("abc", 3), FCACHE_E_INVALID);

    ASSERT_EQ(b.setTag("A-TAG-THAT-IS-EXACTLY-24!"), 0);
    EXPECT_EQ(b.tag(), "A-TAG-THAT-IS-EXACTLY-24") << "cut to the width, no terminator";
    EXPECT_TRUE(b.isValid());
    ASSERT_EQ(b.setPart1("abc", 3), 0);
    ASSERT_EQ(b.setPart2("defgh", 5), 0);
    EXPECT_EQ(b.setPart1("x", MBDF_BLOCK_LIMIT + 1), FCACHE_E_DATA) << "no part the reader would refuse";
    ASSERT_EQ(b.setPart1("abc", 3), 0);
    EXPECT_EQ(b.part1Size(true), 4u);

    MBDFAbstractBlock deep;
    ASSERT_EQ(deep.copyFrom(b, true), 0);
    EXPECT_NE(deep.part1Data(), b.part1Data());
    EXPECT_EQ(std::memcmp(deep.header(), b.header(), MBDF_HEADER_SIZE), 0);
    EXPECT_EQ(std::memcmp(deep.part2Data(), "defgh\0\0", 8), 0);

    const uint8_t* p2 = b.part2Data();
    MBDFAbstractBlock shallow;
    ASSERT_EQ(shallow.copyFrom(b, false), 0);
    EXPECT_EQ(shallow.part2Data(), p2) << "buffers move over";
    EXPECT_EQ(b.part2Data(), nullptr);
    EXPECT_FALSE(b.isValid()) << "the source is left cleared";

    // Setting a null part frees it.
    ASSERT_EQ(shallow.setPart2(nullptr, 0), 0);
    EXPECT_EQ(shallow.part2Size(), 0u);
    EXPECT_EQ(shallow.part2Data(), nullptr);
    ASSERT_EQ(shallow.clear(), 0);
    EXPECT_EQ(shallow.tag(), "");
}

TEST(MBDFBlock, NullBlockChangesNothing)
{
    MBDFNullBlock& n = MBDFNullBlock::instance();
    EXPECT_TRUE(n.isNull());
    EXPECT_FALSE(n.isValid());
    EXPECT_EQ(n.tagWidth(), 24u);
    EXPECT_EQ(n.setTag("X"), 0);
    EXPECT_EQ(n.setPart1("abc", 3), 0);
    EXPECT_EQ(n.tag(), "");
    EXPECT_EQ(n.part1Size(), 0u);
    size_t consumed = 5;
    const std::string bytes = block("T", "", 24, "abcd");
    EXPECT_EQ(n.parseFromMemory(bytes.data(), bytes.size(), &consumed), 0);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(n.totalSize(), 36u);
}
