#include "pbd/FileCache/fcache_BinaryAccessor.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace FILECACHE;

TEST(BinaryAccessor, IntegersInBothByteOrders)
{
    struct Case {
        int width;
        uint32_t value;
        bool bigEndian;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {1, 0xAB, true, {0xAB}},
        {2, 0x1234, true, {0x12, 0x34}},
        {2, 0x1234, false, {0x34, 0x12}},
        {4, 0x01020304, true, {1, 2, 3, 4}},
        {4, 0x01020304, false, {4, 3, 2, 1}},
        {4, 0xFFFFFFFE, true, {0xFF, 0xFF, 0xFF, 0xFE}},
    };
    for (const Case& c : cases) {
        uint8_t buffer[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        ASSERT_EQ(putUInt(buffer, c.width, c.value, c.bigEndian), 0);
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + c.width), c.bytes) << c.width << " " << c.value;
        EXPECT_EQ(buffer[c.width], 0xEE) << "wrote past the width";
        EXPECT_EQ(getUInt(c.bytes.data(), c.width, c.bigEndian), c.value);
    }
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(getUInt(nullptr, 4, true), 0u);
    EXPECT_EQ(getUInt(buffer, 3, true), 0u);
    EXPECT_EQ(putUInt(nullptr, 4, 1, true), FCACHE_E_FAIL);
    // A bad width writes nothing and is not reported as success.
    EXPECT_EQ(putUInt(buffer, 3, 0xFFFFFFFF, true), FCACHE_E_FAIL);
    EXPECT_EQ(buffer[0], 1);
}

TEST(BinaryAccessor, RoundingNeverWraps)
{
    const std::pair<uint64_t, uint64_t> rounded[] = {{0, 0}, {1, 4}, {4, 4}, {5, 8}, {0xFFFFFFFCu, 0xFFFFFFFCu},
        {0xFFFFFFFDu, 0x100000000ull}, {0xFFFFFFFFu, 0x100000000ull}};
    for (const auto& [n, up] : rounded)
        EXPECT_EQ(roundUp4(n), up) << n;
    const std::pair<uint64_t, uint32_t> padding[] = {{0, 0}, {5, 3}, {8, 0}, {6, 2}, {7, 1}, {0xFFFFFFFFu, 1}};
    for (const auto& [n, pad] : padding)
        EXPECT_EQ(padding4(n), pad) << n;
}

TEST(BinaryAccessor, FixedWidthFields)
{
    uint8_t field[16];
    std::memset(field, 0xEE, sizeof field);
    ASSERT_EQ(putFixedText(field, 16, "0123456789ABCDEFXYZ"), 0);
    EXPECT_EQ(std::memcmp(field, "0123456789ABCDEF", 16), 0) << "full width has no terminator";

    std::memset(field, 0xEE, sizeof field);
    ASSERT_EQ(putFixedText(field, 16, "abc"), 0);
    EXPECT_EQ(std::memcmp(field, "abc", 3), 0);
    for (int i = 3; i < 16; ++i)
        EXPECT_EQ(field[i], 0) << i;

    std::memset(field, 0xEE, sizeof field);
    EXPECT_EQ(putFixedText(field, 16, nullptr), 0);
    EXPECT_EQ(field[0] | field[15], 0);
    EXPECT_EQ(putFixedText(nullptr, 16, "a"), FCACHE_E_FAIL);
    EXPECT_EQ(putFixedText(field, 0, "a"), FCACHE_E_FAIL);

    std::memset(field, 0xEE, sizeof field);
    ASSERT_EQ(putFixedBytes(field, 8, "\x01\x00\x02", 3), 0);
    const uint8_t expected[8] = {1, 0, 2, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(field, expected, 8), 0);
    EXPECT_EQ(field[8], 0xEE);
    EXPECT_EQ(putFixedBytes(field, 2, "abc", 3), FCACHE_E_FAIL) << "source wider than the field";

    char text[4];
    ASSERT_EQ(copyToCString(text, sizeof text, "abcdef", 6), 0);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(copyToCString(text, 0, "a", 1), FCACHE_E_FAIL);

    EXPECT_EQ(fill(field, 0, 1), FCACHE_E_FAIL);
    ASSERT_EQ(fill(field, 4, 0x5A), 0);
    EXPECT_EQ(field[3], 0x5A);
}

TEST(BinaryAccessor, ScramblerIsItsOwnInverse)
{
    const std::string original = "scrambled \x00\xFF bytes";
    std::string data = original;
    ASSERT_EQ(xorScramble(data.data(), data.size(), 0), 0);
    EXPECT_EQ(data, original);
    ASSERT_EQ(xorScramble(data.data(), data.size(), 0xA5), 0);
    EXPECT_NE(data, original);
    EXPECT_EQ(static_cast<uint8_t>(data[0]), 's' ^ 0xA5);
    xorScramble(data.data(), data.size(), 0xA5);
    EXPECT_EQ(data, original);
    EXPECT_EQ(xorScramble(nullptr, 1, 1), FCACHE_E_FAIL);
    EXPECT_EQ(xorScramble(data.data(), 0, 1), FCACHE_E_FAIL);
}

TEST(BinaryAccessor, DateRepair)
{
    FileDateTime t;
    t.assign(FswDate{1999, 13, 0, 24, 60, 62});
    EXPECT_EQ(t.year, 2000);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.minute, 0);
    EXPECT_EQ(t.second, 0);
    t.assign(FswDate{2024, 12, 31, 23, 59, 61});
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 31);
    EXPECT_EQ(t.second, 61);
    t.assign(FswDate{3001, 0, 32, 0, 0, 0});
    EXPECT_EQ(t.year, 2000);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
}

TEST(BinaryAccessor, JoinPath)
{
    EXPECT_EQ(joinPath("dir", nullptr), "");
    EXPECT_EQ(joinPath(nullptr, "a"), "a");
    EXPECT_EQ(joinPath("", "a"), "a");
    EXPECT_EQ(joinPath("dir", "a"), "dir/a");
}

TEST(FileAccessor, ModesAndState)
{
    qtest::TempDir dir;
    const std::string path = dir.file("f.bin");
    FileAccessor f;
    EXPECT_EQ(f.open(path.c_str(), FileAccessor::OpenExisting), static_cast<JResult>(0x80000001u)) << "missing file";
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(f.open(path.c_str(), 4), FCACHE_E_ARGUMENT);
    EXPECT_EQ(f.open(nullptr, 0), FCACHE_E_ARGUMENT);
    EXPECT_EQ(f.close(), FCACHE_E_STATE);
    EXPECT_EQ(f.tell(), 0u);

    ASSERT_EQ(f.open(path.c_str(), FileAccessor::CreateTruncate), 0);
    uint32_t n = 0;
    ASSERT_EQ(f.write("hello world", 11, &n), 0);
    EXPECT_EQ(n, 11u);
    // A second open fails and keeps the first file.
    EXPECT_EQ(f.open(dir.file("other").c_str(), FileAccessor::CreateTruncate), FCACHE_E_STATE);
    EXPECT_TRUE(f.isOpen());
    EXPECT_EQ(f.tell(), 11u);
    EXPECT_EQ(f.size(), 11u);
    EXPECT_EQ(f.tell(), 11u) << "size() keeps the position";
    EXPECT_EQ(f.seek(3, 0), FCACHE_E_ARGUMENT);
    ASSERT_EQ(f.seek(2, -5), 0);
    char text[8] = {};
    ASSERT_EQ(f.read(text, 5, &n), 0);
    EXPECT_STREQ(text, "world");
    ASSERT_EQ(f.close(), 0);
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(f.read(text, 1, &n), FCACHE_E_STATE);

    // Mode 1 keeps the content, mode 0 truncates.
    ASSERT_EQ(f.open(path.c_str(), FileAccessor::OpenOrCreate), 0);
    EXPECT_EQ(f.size(), 11u);
    f.close();
    ASSERT_EQ(f.open(path.c_str(), FileAccessor::CreateTruncate), 0);
    EXPECT_EQ(f.size(), 0u);
    f.close();
    EXPECT_EQ(fileSize(path.c_str()), 0);
    EXPECT_LT(fileSize(nullptr), 0);
}

TEST(FileAccessor, AttributesAndDirectories)
{
    qtest::TempDir dir;
    const std::string sub = dir.file("a/b/c");
    ASSERT_EQ(makeDirectory(sub.c_str()), 0);
    bool ro = true, hidden = true, reserved = true, isDir = false;
    ASSERT_GE(getAttributes(sub.c_str(), &ro, &hidden, &reserved, &isDir), 0);
    EXPECT_TRUE(isDir);
    EXPECT_FALSE(ro);
    EXPECT_FALSE(reserved);

    const std::string file = dir.file(".hidden");
    ASSERT_TRUE(qtest::writeFile(file, "x"));
    ASSERT_GE(setAttributes(file.c_str(), true, false, true), 0);
    ASSERT_GE(getAttributes(file.c_str(), &ro, &hidden, &reserved, &isDir), 0);
    EXPECT_TRUE(ro);
    EXPECT_TRUE(hidden);
    EXPECT_FALSE(isDir);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(getAttributes(nullptr, &ro, &hidden, &reserved, &isDir), FCACHE_E_ARGUMENT);
    EXPECT_EQ(setAttributes(nullptr, false, false, false), FCACHE_E_ARGUMENT);
}

TEST(FileAccessor, RemovePathNeverFollowsLinks)
{
    qtest::TempDir dir;
    const std::string outside = dir.file("outside");
    ASSERT_EQ(makeDirectory(outside.c_str()), 0);
    ASSERT_TRUE(qtest::writeFile(outside + "/keep.txt", "keep"));

    // A tree with a link into the outside folder, and a link given directly.
    const std::string tree = dir.file("tree");
    ASSERT_EQ(makeDirectory((tree + "/sub").c_str()), 0);
    ASSERT_TRUE(qtest::writeFile(tree + "/sub/f", "f"));
    ASSERT_EQ(::symlink(outside.c_str(), (tree + "/link").c_str()), 0);
    const std::string direct = dir.file("direct");
    ASSERT_EQ(::symlink(outside.c_str(), direct.c_str()), 0);

    EXPECT_EQ(fcache_removePath(direct.c_str()), 0);
    EXPECT_EQ(::access(direct.c_str(), F_OK), -1);
    EXPECT_EQ(fcache_removePath(tree.c_str()), 0);
    EXPECT_EQ(::access(tree.c_str(), F_OK), -1);
    EXPECT_EQ(qtest::readFile(outside + "/keep.txt"), "keep");

    const std::string file = dir.file("plain");
    ASSERT_TRUE(qtest::writeFile(file, "x"));
    EXPECT_EQ(fcache_removePath(file.c_str()), 0);
    EXPECT_EQ(::access(file.c_str(), F_OK), -1);
    EXPECT_LT(fcache_removePath(file.c_str()), 0);
}
