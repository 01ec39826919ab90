#include "tests/pbd/fsw/fsw_test_util.h"

#include <cstring>

namespace {

FswResult openResult(const std::string& path, uint32_t mode)
{
    FswFile* f = nullptr;
    const FswResult r = fsw_openFile(&f, path.c_str(), mode);
    if (f) {
        EXPECT_EQ(fsw_closeFile(f), FSW_OK);
    } else {
        EXPECT_NE(r, FSW_OK);
    }
    return r;
}

} // namespace

TEST(FswFile, OpenModesCreateTruncateOrRequireTheFile)
{
    qtest::TempDir dir;
    struct Case {
        uint32_t mode;
        bool existsBefore;
        FswResult result;
        const char* contentAfter; // null: the file must not exist
    };
    const Case cases[] = {
        {0x43, true, FSW_OK, ""}, // create or truncate
        {0x43, false, FSW_OK, ""}, {0x41, true, FSW_OK, "old"}, // read only: opens, never truncates
        {0x41, false, FSW_E_NOT_FOUND, nullptr}, {0x23, true, FSW_OK, "old"}, // open or create
        {0x23, false, FSW_OK, ""}, {0x13, true, FSW_OK, "old"}, // existing only
        {0x13, false, FSW_E_NOT_FOUND, nullptr}, {0x03, false, FSW_E_NOT_FOUND, nullptr}, {0x01, true, FSW_OK, "old"},
        {0x00, true, FSW_E_ARGUMENT, "old"}, {0x40, true, FSW_E_ARGUMENT, "old"}, // no access bit
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir.file("f" + std::to_string(n++));
        if (c.existsBefore) {
            ASSERT_TRUE(qtest::writeFile(path, "old"));
        }
        EXPECT_EQ(openResult(path, c.mode), c.result) << std::hex << c.mode << " exists=" << c.existsBefore;
        if (c.contentAfter) {
            EXPECT_EQ(qtest::readFile(path), c.contentAfter) << std::hex << c.mode;
        } else {
            EXPECT_FALSE(exists(path));
        }
    }

    // A folder is no file; a missing folder on the way is "not found".
    EXPECT_EQ(openResult(dir.path(), FSW_MODE_READ), FSW_E_ACCESS);
    EXPECT_EQ(openResult(dir.file("none/x"), 0x43), FSW_E_NOT_FOUND);
    FswFile* f = nullptr;
    EXPECT_EQ(fsw_openFile(nullptr, dir.file("x").c_str(), 0x43), FSW_E_ARGUMENT);
    EXPECT_EQ(fsw_openFile(&f, nullptr, 0x43), FSW_E_ARGUMENT);

    // Without permission.
    const std::string locked = dir.file("locked");
    ASSERT_TRUE(qtest::writeFile(locked, "x"));
    shell("chmod 000 " + quoted(locked));
    if (shell("id -u") != "0") { // root reads anything
        EXPECT_EQ(openResult(locked, FSW_MODE_READ), FSW_E_ACCESS);
    }
}

TEST(FswFile, ReadWriteSeekTell)
{
    qtest::TempDir dir;
    const std::string path = dir.file("data");
    FswFile* f = nullptr;
    ASSERT_EQ(fsw_openFile(&f, path.c_str(), 0x43), FSW_OK);
    uint32_t count = 99;
    ASSERT_EQ(fsw_writeFile("hello world", &count, 11, f), FSW_OK);
    EXPECT_EQ(count, 11u);

    uint32_t pos = 0;
    EXPECT_EQ(fsw_tellFile(&pos, f), FSW_OK);
    EXPECT_EQ(pos, 11u);
    char buf[16] = {};
    EXPECT_EQ(fsw_readFile(buf, &count, sizeof buf, f), FSW_END_OF_FILE);
    EXPECT_EQ(count, 0u);

    struct Seek {
        int32_t distance;
        uint32_t origin;
        FswResult result;
        uint32_t position; // afterwards
    };
    const Seek seeks[] = {
        {6, FSW_SEEK_SET, FSW_OK, 6}, {-2, FSW_SEEK_CUR, FSW_OK, 4}, {-5, FSW_SEEK_END, FSW_OK, 6},
        {-7, FSW_SEEK_CUR, FSW_E_OTHER, 6}, // before the start: position kept
        {0, 3, FSW_E_ARGUMENT, 6}, {20, FSW_SEEK_SET, FSW_OK, 20}, // past the end is allowed
    };
    for (const Seek& s : seeks) {
        EXPECT_EQ(fsw_seekFile(s.distance, s.origin, f), s.result) << s.distance << "/" << s.origin;
        ASSERT_EQ(fsw_tellFile(&pos, f), FSW_OK);
        EXPECT_EQ(pos, s.position) << s.distance << "/" << s.origin;
    }
    // Writing past the end fills the gap with zeros.
    ASSERT_EQ(fsw_writeFile("!", &count, 1, f), FSW_OK);
    ASSERT_EQ(fsw_seekFile(-5, FSW_SEEK_END, f), FSW_OK);
    ASSERT_EQ(fsw_readFile(buf, &count, 5, f), FSW_OK);
    EXPECT_EQ(std::string(buf, count), std::string("\0\0\0\0!", 5));
    EXPECT_EQ(fsw_closeFile(f), FSW_OK);

    // What another program sees.
    EXPECT_EQ(shell("python3 -c 'import sys; print(open(sys.argv[1], \"rb\").read().hex())' " + quoted(path)),
        "68656c6c6f20776f726c6400000000000000000021");
    EXPECT_EQ(readAll(path), std::string("hello world\0\0\0\0\0\0\0\0\0!", 21));

    // A read-only handle can't write.
    ASSERT_EQ(fsw_openFile(&f, path.c_str(), FSW_MODE_READ), FSW_OK);
    EXPECT_LT(fsw_writeFile("x", &count, 1, f), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(fsw_readFile(nullptr, &count, 1, f), FSW_E_ARGUMENT);
    EXPECT_EQ(fsw_tellFile(nullptr, f), FSW_E_ARGUMENT);
    EXPECT_EQ(fsw_closeFile(f), FSW_OK);
    EXPECT_EQ(fsw_closeFile(nullptr), FSW_E_ARGUMENT);
}

TEST(FswFile, PositionsAndSizesStayBelow4GiB)
{
    qtest::TempDir dir;
    const std::string path = dir.file("sparse");
    FswFile* f = nullptr;
    ASSERT_EQ(fsw_openFile(&f, path.c_str(), 0x43), FSW_OK);
    // 0xFFFFFFF0 in two steps; one more step would reach 4 GiB.
    ASSERT_EQ(fsw_seekFile(0x7FFFFFFF, FSW_SEEK_SET, f), FSW_OK);
    ASSERT_EQ(fsw_seekFile(0x7FFFFFF1, FSW_SEEK_CUR, f), FSW_OK);
    EXPECT_EQ(fsw_seekFile(0x10, FSW_SEEK_CUR, f), FSW_E_TOO_LARGE);
    uint32_t pos = 0, count = 0;
    ASSERT_EQ(fsw_tellFile(&pos, f), FSW_OK);
    EXPECT_EQ(pos, 0xFFFFFFF0u);

    char block[16] = {};
    EXPECT_EQ(fsw_writeFile(block, &count, 16, f), FSW_E_TOO_LARGE) << "would end at 4 GiB";
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(shell("stat -c %s " + quoted(path)), "0") << "nothing written";
    EXPECT_EQ(fsw_writeFile(block, &count, 15, f), FSW_OK);
    EXPECT_EQ(fsw_closeFile(f), FSW_OK);

    uint32_t size = 0;
    EXPECT_EQ(fsw_getFileSize(&size, path.c_str()), FSW_OK);
    EXPECT_EQ(size, 0xFFFFFFFFu);

    shell("truncate -s 4G " + quoted(path));
    size = 7;
    EXPECT_EQ(fsw_getFileSize(&size, path.c_str()), FSW_E_TOO_LARGE);
    EXPECT_EQ(size, 0u);
    ASSERT_EQ(fsw_openFile(&f, path.c_str(), FSW_MODE_READ), FSW_OK);
    EXPECT_EQ(fsw_seekFile(0, FSW_SEEK_END, f), FSW_E_TOO_LARGE);
    EXPECT_EQ(fsw_closeFile(f), FSW_OK);
}

TEST(FswFile, InvalidUtf8PathsAreRefusedEverywhere)
{
    qtest::TempDir dir;
    const char* invalid[] = {
        "a\xC3", // lone lead byte
        "a\xC3"
        "b", // lead byte followed by ASCII
        "\xC0\xAF", // overlong '/'
        "\xE0\x80\xAF", // overlong, three bytes
        "\xED\xA0\x80", // surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xFF",
        "\x80", // stray continuation
    };
    for (const char* name : invalid) {
        const std::string path = dir.file(name);
        const char* p = path.c_str();
        FswFile* f = nullptr;
        FswSearch* s = nullptr;
        uint32_t value = 0;
        FswDate d{};
        EXPECT_EQ(fsw_openFile(&f, p, 0x43), FSW_E_PATH) << name;
        EXPECT_EQ(fsw_getFileSize(&value, p), FSW_E_PATH);
        EXPECT_EQ(fsw_getFileTime(&d, nullptr, nullptr, p), FSW_E_PATH);
        EXPECT_EQ(fsw_getAttributes(&value, p), FSW_E_PATH);
        EXPECT_EQ(fsw_setAttributes(FSW_ATTR_READONLY, p), FSW_E_PATH);
        EXPECT_EQ(fsw_deleteFile(p), FSW_E_PATH);
        EXPECT_EQ(fsw_makeDir(p), FSW_E_PATH);
        EXPECT_EQ(fsw_makeDirs(p), FSW_E_PATH);
        EXPECT_EQ(fsw_removeDir(p, true), FSW_E_PATH);
        EXPECT_EQ(fsw_findFirst(&s, p), FSW_E_PATH);
    }
    EXPECT_EQ(shell("ls -A " + quoted(dir.path()) + " | wc -l"), "0") << "nothing was created";

    // Valid multi-byte names work and reach the disk unchanged.
    const std::string name = "gr\xC3\xB6\xC3\x9F"
                             "e \xE2\x82\xAC \xF0\x9F\x8E\xB5";
    FswFile* f = nullptr;
    ASSERT_EQ(fsw_openFile(&f, dir.file(name).c_str(), 0x43), FSW_OK);
    EXPECT_EQ(fsw_closeFile(f), FSW_OK);
    EXPECT_EQ(
        shell("python3 -c 'import os,sys; print(os.listdir(sys.argv[1])[0].encode().hex())' " + quoted(dir.path())),
        "6772c3b6c39f6520e282ac20f09f8eb5");
}
