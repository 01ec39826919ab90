#include "tests/pbd/fsw/fsw_test_util.h"

#include <set>

TEST(FswDirs, DeleteFileAndMakeDir)
{
    qtest::TempDir dir;
    const std::string file = dir.file("f");
    const std::string sub = dir.file("sub");
    ASSERT_TRUE(qtest::writeFile(file, "x"));
    EXPECT_EQ(fsw_deleteFile(file.c_str()), FSW_OK);
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(fsw_deleteFile(file.c_str()), FSW_E_NOT_FOUND);

    EXPECT_EQ(fsw_makeDir(sub.c_str()), FSW_OK);
    EXPECT_TRUE(isDir(sub));
    EXPECT_EQ(fsw_makeDir(sub.c_str()), FSW_E_EXISTS);
    EXPECT_EQ(fsw_makeDir(dir.file("none/sub").c_str()), FSW_E_NOT_FOUND);
    EXPECT_EQ(fsw_deleteFile(sub.c_str()), FSW_E_ACCESS) << "a folder is not deleted as a file";
    EXPECT_TRUE(isDir(sub));
    EXPECT_EQ(fsw_deleteFile(nullptr), FSW_E_ARGUMENT);
}

TEST(FswDirs, MakeDirsCreatesEveryLevel)
{
    qtest::TempDir dir;
    // The temporary folder's path is absolute: its empty first prefix is skipped.
    const std::string path = dir.file("a/b//c/");
    EXPECT_EQ(fsw_makeDirs(path.c_str()), FSW_OK);
    EXPECT_TRUE(isDir(dir.file("a/b/c")));
    EXPECT_EQ(fsw_makeDirs(path.c_str()), FSW_OK) << "again: already there";
    EXPECT_EQ(fsw_makeDirs(dir.file("a/b/c").c_str()), FSW_OK);

    // Same result as mkdir -p for a relative path under the folder.
    shell("cd " + quoted(dir.path()) + " && mkdir -p x/y/z");
    EXPECT_EQ(fsw_makeDirs(dir.file("x/y/z/w").c_str()), FSW_OK);
    EXPECT_EQ(shell("cd " + quoted(dir.path()) + " && find x -type d | sort | paste -sd' '"), "x x/y x/y/z x/y/z/w");

    // A regular file where a folder should be is a failure, not a success.
    ASSERT_TRUE(qtest::writeFile(dir.file("file"), "x"));
    EXPECT_EQ(fsw_makeDirs(dir.file("file").c_str()), FSW_E_PATH);
    EXPECT_EQ(fsw_makeDirs(dir.file("file/below").c_str()), FSW_E_PATH);
    EXPECT_EQ(qtest::readFile(dir.file("file")), "x");

    const std::string tooLong = dir.path() + "/" + std::string(261 - dir.path().size(), 'n');
    ASSERT_EQ(tooLong.size(), 262u);
    EXPECT_EQ(fsw_makeDirs(tooLong.c_str()), FSW_E_PATH);
    EXPECT_FALSE(exists(tooLong));
    EXPECT_EQ(fsw_makeDirs(""), FSW_E_PATH);
    EXPECT_EQ(fsw_makeDirs(nullptr), FSW_E_ARGUMENT);
}

TEST(FswDirs, RemoveDirNonRecursiveOnlyWhenEmpty)
{
    qtest::TempDir dir;
    const std::string sub = dir.file("sub");
    shell("mkdir -p " + quoted(sub + "/inner"));
    EXPECT_LT(fsw_removeDir(sub.c_str(), false), 0);
    EXPECT_TRUE(isDir(sub + "/inner"));
    EXPECT_EQ(fsw_removeDir((sub + "/inner").c_str(), false), FSW_OK);
    EXPECT_EQ(fsw_removeDir(sub.c_str(), false), FSW_OK);
    EXPECT_FALSE(exists(sub));
    EXPECT_EQ(fsw_removeDir(sub.c_str(), false), FSW_E_NOT_FOUND);
    EXPECT_EQ(fsw_removeDir(sub.c_str(), true), FSW_E_NOT_FOUND);
}

// A tree with nested folders, hidden and read-only files, and links to an
// outside folder and file: the tree goes, everything outside it stays.
TEST(FswDirs, RecursiveRemovalNeverFollowsLinks)
{
    qtest::TempDir dir;
    const std::string tree = dir.file("tree");
    const std::string outside = dir.file("outside");
    shell("mkdir -p " + quoted(tree + "/a/b/c") + " " + quoted(outside + "/keep"));
    for (const char* f : {"/top.txt", "/a/.hidden", "/a/b/c/deep.bin"})
        ASSERT_TRUE(qtest::writeFile(tree + f, "data"));
    ASSERT_TRUE(qtest::writeFile(outside + "/precious.txt", "precious"));
    shell("chmod a-w " + quoted(tree + "/top.txt"));
    shell("ln -s " + quoted(outside) + " " + quoted(tree + "/a/to_outside"));
    shell("ln -s " + quoted(outside + "/precious.txt") + " " + quoted(tree + "/a/b/to_file"));
    shell("ln -s " + quoted(dir.file("nowhere")) + " " + quoted(tree + "/dangling"));

    EXPECT_EQ(fsw_removeDir(tree.c_str(), true), FSW_OK);
    EXPECT_FALSE(exists(tree));
    EXPECT_FALSE(isLink(tree + "/dangling"));
    EXPECT_TRUE(isDir(outside + "/keep"));
    EXPECT_EQ(qtest::readFile(outside + "/precious.txt"), "precious");
}

TEST(FswDirs, RecursiveRemovalOfALinkLeavesItsTargetAlone)
{
    qtest::TempDir dir;
    const std::string outside = dir.file("outside");
    const std::string link = dir.file("link");
    shell("mkdir -p " + quoted(outside + "/keep") + " && ln -s outside " + quoted(link));
    ASSERT_TRUE(qtest::writeFile(outside + "/precious.txt", "precious"));
    // A trailing slash would make the system resolve the link.
    for (const std::string& path : {link, link + "/", link + "//"}) {
        EXPECT_EQ(fsw_removeDir(path.c_str(), true), FSW_E_NOT_FOUND) << path;
        EXPECT_EQ(qtest::readFile(outside + "/precious.txt"), "precious") << path;
        EXPECT_TRUE(isDir(outside + "/keep")) << path;
    }
    EXPECT_TRUE(isLink(link));
}

TEST(FswDirs, RecursiveRemovalReportsAFailure)
{
    qtest::TempDir dir;
    const std::string tree = dir.file("tree");
    shell("mkdir -p " + quoted(tree + "/sub"));
    ASSERT_TRUE(qtest::writeFile(tree + "/sub/f", "x"));
    // Immutable files can't be removed even by root; fall back to a
    // read-only folder when chattr is not available.
    const bool immutable = qtest::runCommand("chattr +i " + quoted(tree + "/sub/f") + " 2>/dev/null") == 0;
    if (!immutable) {
        if (shell("id -u") == "0")
            GTEST_SKIP() << "needs chattr or a non-root user";
        shell("chmod a-w " + quoted(tree + "/sub"));
    }
    EXPECT_EQ(fsw_removeDir(tree.c_str(), true), FSW_E_PATH);
    EXPECT_TRUE(exists(tree + "/sub/f"));
    if (immutable)
        shell("chattr -i " + quoted(tree + "/sub/f"));
}

TEST(FswSearch, ListsEveryEntryOnce)
{
    qtest::TempDir dir;
    const std::string names[] = {"a.txt", "sub", ".hidden", "\xC3\xBC.bin"};
    shell("mkdir " + quoted(dir.file("sub")));
    for (const char* f : {"a.txt", ".hidden", "\xC3\xBC.bin"})
        ASSERT_TRUE(qtest::writeFile(dir.file(f), ""));

    FswSearch* s = nullptr;
    ASSERT_EQ(fsw_findFirst(&s, dir.path().c_str()), FSW_OK);
    std::multiset<std::string> seen;
    uint32_t size = 0;
    for (int guard = 0; guard < 100 && fsw_getEntryNameSize(s, &size) == FSW_OK; ++guard) {
        std::string name(size, '?');
        ASSERT_EQ(fsw_findNext(s, &name[0], size), FSW_OK);
        ASSERT_EQ(name.back(), '\0');
        name.pop_back();
        EXPECT_EQ(name.size() + 1, size);
        seen.insert(name);
    }
    EXPECT_EQ(fsw_getEntryNameSize(s, &size), FSW_E_NOT_FOUND);
    char buf[8] = "xxxxxxx";
    EXPECT_EQ(fsw_findNext(s, buf, sizeof buf), FSW_E_NOT_FOUND);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(fsw_findClose(s), FSW_OK);

    const std::multiset<std::string> expected = {".", "..", "a.txt", "sub", ".hidden", "\xC3\xBC.bin"};
    EXPECT_EQ(seen, expected);
}

TEST(FswSearch, NamesAreCutToTheBufferOnCharacterBoundaries)
{
    qtest::TempDir dir;
    const std::string sub = dir.file("one");
    shell("mkdir " + quoted(sub));
    ASSERT_TRUE(qtest::writeFile(sub + "/x\xC3\xBC\xC3\xBCy", "")); // "xüüy"
    FswSearch* s = nullptr;
    ASSERT_EQ(fsw_findFirst(&s, sub.c_str()), FSW_OK);
    std::set<std::string> seen;
    for (int guard = 0; guard < 10; ++guard) {
        char buf[5]; // room for 4 bytes: "xü" and half of the second "ü"
        if (fsw_findNext(s, buf, sizeof buf) != FSW_OK)
            break;
        seen.insert(buf);
    }
    EXPECT_EQ(seen, (std::set<std::string>{".", "..", "x\xC3\xBC"}));
    EXPECT_EQ(fsw_findClose(s), FSW_OK);
}

TEST(FswSearch, NonUtf8NamesReadAsEmpty)
{
    qtest::TempDir dir;
    const std::string sub = dir.file("one");
    shell("mkdir " + quoted(sub)
        + " && python3 -c 'import os,sys; open(os.path.join(sys.argv[1].encode(), b\"bad\\xff\"), \"w\")' "
        + quoted(sub));
    FswSearch* s = nullptr;
    ASSERT_EQ(fsw_findFirst(&s, sub.c_str()), FSW_OK);
    std::multiset<std::string> seen;
    for (int guard = 0; guard < 10; ++guard) {
        char buf[64];
        if (fsw_findNext(s, buf, sizeof buf) != FSW_OK)
            break;
        seen.insert(buf);
    }
    EXPECT_EQ(seen, (std::multiset<std::string>{"", ".", ".."}));
    EXPECT_EQ(fsw_findClose(s), FSW_OK);
}

TEST(FswSearch, Errors)
{
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(dir.file("f"), ""));
    FswSearch* s = reinterpret_cast<FswSearch*>(1);
    EXPECT_EQ(fsw_findFirst(&s, dir.file("missing").c_str()), FSW_E_NOT_FOUND);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(fsw_findFirst(&s, dir.file("f").c_str()), FSW_E_NOT_FOUND);
    EXPECT_EQ(fsw_findFirst(nullptr, dir.path().c_str()), FSW_E_ARGUMENT);
    uint32_t size = 0;
    char buf[4];
    EXPECT_EQ(fsw_getEntryNameSize(nullptr, &size), FSW_E_ARGUMENT);
    EXPECT_EQ(fsw_findNext(nullptr, buf, sizeof buf), FSW_E_ARGUMENT);
    EXPECT_EQ(fsw_findClose(nullptr), FSW_E_ARGUMENT);

    // A record without the marker is refused.
    alignas(16) unsigned char junk[128] = {};
    auto* fake = reinterpret_cast<FswSearch*>(junk);
    EXPECT_EQ(fsw_getEntryNameSize(fake, &size), FSW_E_HANDLE);
    EXPECT_EQ(fsw_findNext(fake, buf, sizeof buf), FSW_E_HANDLE);
    EXPECT_EQ(fsw_findClose(fake), FSW_E_HANDLE);
}
