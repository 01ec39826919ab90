// Unpacking of Mavik packages: fixtures from the zip peer
// (tests/peers/mavik_zip.py), trees compared with what python's zipfile
// makes of the same archive, and archives that try to leave the folder.
#include "fwupdate/mavik/mavik_decompress.h"
#include "tests/fwupdate/mavik/mavik_fixture.h"

#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace mavtest;

QString packageText(const std::string& text)
{
    return QString::fromStdString(text);
}

QString corrupt(const std::string& zip)
{
    return QStringLiteral("Failed to extract.\nThe file %1 is corrupted. Try to download again.").arg(packageText(zip));
}

// A package folder beside a sentinel file that no archive may touch.
class MavikPackageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qtest::writeFile(base.file("sentinel.txt"), "sentinel"));
        ASSERT_EQ(mkdir(dest().c_str(), 0755), 0);
    }
    void TearDown() override { mavik_setExtractLimits(mavik_defaultExtractLimits()); }

    std::string dest() const { return base.file("dest"); }
    std::string zip() const { return base.file("pkg.zip"); }
    QString destText() const { return packageText(dest() + "/"); }

    qtest::TempDir base;
    Decompress decompress;
};

class MavikPackageExtract : public MavikPackageTest { };
class MavikPackageMatching : public MavikPackageTest { };

TEST_F(MavikPackageExtract, TreeIsWhatZipfileMakesAndBackslashesAreFolders)
{
    ASSERT_TRUE(makeZip("plain", zip()));
    ASSERT_EQ(qtest::runCommand(python() + " -m zipfile -e '" + zip() + "' '" + base.file("ref") + "'"), 0);
    const std::vector<std::string> reference = tree(base.file("ref"));
    ASSERT_EQ(reference.size(), 8u);

    std::vector<std::pair<int, int>> progress;
    QObject::connect(
        &decompress, &Decompress::progress, [&](int done, int total) { progress.emplace_back(done, total); });
    QStringList files;
    ASSERT_TRUE(decompress.extractAll(packageText(zip()), destText(), &files)) << decompress.lastError().toStdString();
    EXPECT_EQ(tree(dest()), reference);
    const QString d = destText();
    EXPECT_EQ(files, (QStringList{d + "dir/sub/b.bin", d + "x/y/z.bin", d + "empty.bin", d + "top.txt"}));
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 6}, {1, 6}, {2, 6}, {3, 6}, {4, 6}, {5, 6}, {6, 6}}));
    EXPECT_TRUE(decompress.lastError().isEmpty());
    // Complete files get execute permission for everyone.
    for (const QString& file : files)
        EXPECT_EQ(QFileInfo(file).permissions() & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther),
            QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)
            << file.toStdString();

    ASSERT_TRUE(makeZip("backslash", base.file("back.zip")));
    ASSERT_TRUE(decompress.extractAll(packageText(base.file("back.zip")), packageText(base.file("back")), &files));
    EXPECT_EQ(tree(base.file("back")), reference);
    EXPECT_EQ(files.first(), packageText(base.file("back")) + "/dir/sub/b.bin");
}

// CP932 names are read byte by byte as Latin-1; the byte after a lead byte
// never ends a folder, even when it is a backslash turned slash.
TEST_F(MavikPackageExtract, Cp932NamesAreReadAsLatin1)
{
    ASSERT_TRUE(makeZip("cp932", zip()));
    QStringList files;
    ASSERT_TRUE(decompress.extractAll(packageText(zip()), destText(), &files)) << decompress.lastError().toStdString();
    const QString first = QString::fromLatin1(QByteArray::fromHex("83748340815b83802f8d5890562e62696e"));
    const QString second = QString::fromLatin1(QByteArray::fromHex("952f612f622e62696e"));
    const QString folder = QString::fromLatin1(QByteArray::fromHex("8366815b835e"));
    EXPECT_EQ(files, (QStringList{destText() + first, destText() + second}));
    EXPECT_EQ(QFileInfo(destText() + first).size(), 100);
    EXPECT_EQ(QFileInfo(destText() + second).size(), 50);
    EXPECT_TRUE(QFileInfo(destText() + folder).isDir());
}

TEST_F(MavikPackageExtract, DuplicateNamesLastOneWins)
{
    ASSERT_TRUE(makeZip("dup", zip()));
    QStringList files;
    ASSERT_TRUE(decompress.extractAll(packageText(zip()), destText(), &files));
    EXPECT_EQ(files, (QStringList{destText() + "d.txt", destText() + "d.txt"}));
    EXPECT_EQ(qtest::readFile(dest() + "/d.txt"), "two");
}

// Names that leave the folder fail the run, before anything is written
// for them; what came before stays for the caller to remove.
TEST_F(MavikPackageExtract, NamesOutsideTheFolderFailTheRun)
{
    const std::vector<std::string> names
        = {"../x.txt", "..\\x.txt", "a/../../x.txt", "a\\..\\..\\x.txt", "/tmp/mavik-abs.txt", "\\tmp\\mavik-abs.txt",
            "C:x.txt", "c:\\x.txt", "./x.txt", "a//x.txt", "../", "a/./x.txt"};
    const std::vector<std::string> expected
        = {"d dest", "f dest/first.txt 5 " + md5("first"), "f sentinel.txt 8 " + md5("sentinel")};
    for (const std::string& name : names) {
        ASSERT_TRUE(makeZip("unsafe", zip(), {qtest::hex(name)}));
        QStringList files{"stale"};
        EXPECT_FALSE(decompress.extractAll(packageText(zip()), destText(), &files)) << name;
        EXPECT_TRUE(files.isEmpty()) << name;
        EXPECT_EQ(decompress.lastError(), corrupt(zip())) << name;
        EXPECT_FALSE(decompress.extractMatching(packageText(zip()), destText(), &files, "x.txt")) << name;
        EXPECT_EQ(decompress.lastError(), corrupt(zip())) << name;
        EXPECT_FALSE(decompress.makePath(destText(), QString::fromLatin1(name.c_str()))) << name;
        std::vector<std::string> after = tree(base.path());
        after.erase(std::remove_if(after.begin(), after.end(),
                        [](const std::string& line) { return line.rfind("f pkg.zip ", 0) == 0; }),
            after.end());
        EXPECT_EQ(after, expected) << name;
        EXPECT_NE(access("/tmp/mavik-abs.txt", F_OK), 0);
    }
}

TEST_F(MavikPackageExtract, LinksInTheFolderAreNotFollowed)
{
    ASSERT_EQ(mkdir(base.file("outside").c_str(), 0755), 0);
    ASSERT_EQ(symlink(base.file("outside").c_str(), (dest() + "/link").c_str()), 0);
    ASSERT_EQ(symlink(base.file("sentinel.txt").c_str(), (dest() + "/target.bin").c_str()), 0);
    QStringList files;
    ASSERT_TRUE(makeZip("files", zip(), {"link/evil.bin=10"}));
    EXPECT_FALSE(decompress.extractAll(packageText(zip()), destText(), &files));
    EXPECT_EQ(decompress.lastError(), QStringLiteral("Could not create directory."));
    ASSERT_TRUE(makeZip("files", zip(), {"target.bin=10"}));
    EXPECT_FALSE(decompress.extractAll(packageText(zip()), destText(), &files));
    EXPECT_FALSE(decompress.extractMatching(packageText(zip()), destText(), &files, "target.bin"));
    EXPECT_EQ(tree(base.file("outside")), std::vector<std::string>{});
    EXPECT_EQ(qtest::readFile(base.file("sentinel.txt")), "sentinel");
}

TEST_F(MavikPackageExtract, BrokenEntriesFailAndAreRemoved)
{
    const std::vector<std::string> good = {"f good.txt 4 " + md5("good")};
    for (const char* kind : {"damaged", "badcrc"}) {
        ASSERT_EQ(qtest::runCommand("rm -rf '" + dest() + "'/*"), 0);
        ASSERT_TRUE(makeZip(kind, zip()));
        QStringList files;
        EXPECT_FALSE(decompress.extractAll(packageText(zip()), destText(), &files)) << kind;
        EXPECT_TRUE(files.isEmpty()) << kind;
        EXPECT_EQ(decompress.lastError(), corrupt(zip())) << kind;
        // The good entry before stays; the broken one is gone.
        EXPECT_EQ(tree(dest()), good) << kind;
    }
    QStringList files;
    EXPECT_FALSE(decompress.extractAll(packageText(base.file("none.zip")), destText(), &files));
    EXPECT_EQ(decompress.lastError(), corrupt(base.file("none.zip")));
    ASSERT_TRUE(qtest::writeFile(zip(), "PK\3\4 not a zip"));
    EXPECT_FALSE(decompress.extractMatching(packageText(zip()), destText(), &files, "*.bin"));
    EXPECT_EQ(decompress.lastError(), corrupt(zip()));
    ASSERT_TRUE(makeZip("longname", zip()));
    EXPECT_FALSE(decompress.extractAll(packageText(zip()), destText(), &files));
    EXPECT_EQ(tree(dest()), good);
}

// A small archive cannot fill the disk: past a cap the run fails and the
// entry in progress is removed.
TEST_F(MavikPackageExtract, CapsEndTheRun)
{
    struct Case {
        const char* name;
        MavikExtractLimits limits;
        std::string kind;
        std::vector<std::string> args;
        std::vector<std::string> left; // files left in dest
    };
    const std::vector<Case> cases = {
        {"bytes of one entry", {1 << 20, 1ull << 40, 100}, "big", {"2"}, {}},
        {"bytes of the run", {1ull << 40, 1500000, 100}, "files", {"a.bin=1000000", "b.bin=1000000"}, {"f a.bin"}},
        {"number of entries", {1ull << 40, 1ull << 40, 2}, "files", {"a.bin=1", "b.bin=1", "c.bin=1"},
            {"f a.bin", "f b.bin"}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(qtest::runCommand("rm -rf '" + dest() + "'/*"), 0);
        ASSERT_TRUE(makeZip(c.kind, zip(), c.args));
        mavik_setExtractLimits(c.limits);
        QStringList files;
        EXPECT_FALSE(decompress.extractAll(packageText(zip()), destText(), &files)) << c.name;
        EXPECT_EQ(decompress.lastError(), corrupt(zip())) << c.name;
        std::vector<std::string> left;
        for (const std::string& line : tree(dest()))
            left.push_back(line.substr(0, line.find(' ', 2)));
        EXPECT_EQ(left, c.left) << c.name;
    }
    // The defaults are far above a real package.
    const MavikExtractLimits defaults = mavik_defaultExtractLimits();
    EXPECT_EQ(defaults.entryBytes, 256ull << 20);
    EXPECT_GE(defaults.runBytes, defaults.entryBytes);
}

// A failed write reports the file system's own text and removes the file.
TEST_F(MavikPackageExtract, WriteFailureKeepsTheSystemText)
{
    ASSERT_TRUE(makeZip("files", zip(), {"w.bin=100000"}));
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QStringList files;
    const bool ok = decompress.extractAll(packageText(zip()), destText(), &files);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(ok);
    EXPECT_EQ(decompress.lastError(), QString::fromLocal8Bit(strerror(EFBIG)));
    EXPECT_EQ(tree(dest()), std::vector<std::string>{});
}

TEST(MavikPackageFilter, CompleteBaseNameDecides)
{
    struct Case {
        const char* entry;
        const char* filter;
        bool match;
    };
    const Case cases[] = {
        {"updater_contents.xml", "updater_contents*.xml", true},
        {"Updater_Contents_v2.XML", "updater_contents*.xml", true},
        {"updater_contents_v2.txt", "updater_contents*.xml", true}, // what follows the star is not compared
        {"updater_contents", "updater_contents*.xml", false}, // not longer than the part before the star
        {"sub/updater_contents.xml", "updater_contents*.xml", false},
        {"fw.bin", "*.bin", true},
        {"FW.BIN", "*.bin", true},
        {"fw.tar.bin", "*.bin", false}, // complete suffixes differ
        {"sub/fw.bin", "*.bin", true},
        {"fw.bin", "FW.Bin", true},
        {"fw.bin", "fw.bi", false},
        {"sub/fw.bin", "fw.bin", false},
        {"data/Fw.BIN", "data/fw.bin", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decompress::matchesFilter(c.entry, c.filter), c.match) << c.entry << " ~ " << c.filter;
}

// The first match only, whatever follows; folders of earlier entries are
// made on the way; no progress.
TEST_F(MavikPackageMatching, FirstMatchOnly)
{
    ASSERT_TRUE(makeZip("match", zip()));
    struct Case {
        const char* filter;
        const char* written; // nullptr: nothing matches
        int size;
    };
    const Case cases[] = {
        {"updater_contents*.xml", "UPDATER_CONTENTS_v2.xml", 5},
        {"*.bin", "fw.bin", 600},
        {"FW.BIN", "fw.bin", 600},
        {"updater_contents.xml", "updater_contents.xml", 8},
        {"data/fw.bin", "data/Fw.BIN", 80},
        {"*.txt", nullptr, 0},
        {"none.bin", nullptr, 0},
    };
    int emitted = 0;
    QObject::connect(&decompress, &Decompress::progress, [&] { ++emitted; });
    for (const Case& c : cases) {
        ASSERT_EQ(qtest::runCommand("rm -rf '" + dest() + "'/*"), 0);
        QStringList files;
        const bool ok = decompress.extractMatching(packageText(zip()), destText(), &files, c.filter);
        std::vector<std::string> written;
        for (const std::string& line : tree(dest())) {
            if (line[0] == 'f')
                written.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
        if (!c.written) {
            EXPECT_FALSE(ok) << c.filter;
            EXPECT_TRUE(files.isEmpty()) << c.filter;
            EXPECT_EQ(decompress.lastError(), corrupt(zip())) << c.filter;
            EXPECT_EQ(written, std::vector<std::string>{}) << c.filter;
            continue;
        }
        EXPECT_TRUE(ok) << c.filter;
        EXPECT_EQ(files, QStringList{destText() + c.written}) << c.filter;
        EXPECT_EQ(written, std::vector<std::string>{c.written}) << c.filter;
        EXPECT_EQ(QFileInfo(destText() + c.written).size(), c.size) << c.filter;
        EXPECT_TRUE(QFileInfo(destText() + "sub").isDir()) << c.filter;
    }
    EXPECT_EQ(emitted, 0);
}

} // namespace
