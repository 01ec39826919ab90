#include "fwupdate/package/fwpkg_datafiles.h"
#include "fwupdate/package/fwpkg_filemanager.h"

#include "tests/fwupdate/package/fwpkg_fixture.h"

#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <sys/time.h>
#include <unistd.h>

using namespace fwpkgtest;

namespace {

const std::string kV123aWord = word(version('V', 1, 23, 0));

// Sets the last-write time of a file (seconds since 1970, UTC).
void setWriteTime(const std::string& path, time_t seconds)
{
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

time_t utc(int year, int month, int day, int hour, int minute, int second)
{
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return ::timegm(&t);
}

// TZ for the life of the object.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (old)
            m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone()
    {
        if (m_had)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

JResult open(FwPackageReader& reader, const std::string& path, QStringList* versions = nullptr)
{
    return reader.openPackage(QString::fromStdString(path), nullptr, nullptr, nullptr, versions);
}

std::string firmwarePath(const FwPackageReader& reader)
{
    QString path;
    reader.getFirmwarePath(&path);
    return path.toStdString();
}

class FwPackageFolders : public PackageSandbox {
protected:
    // A firmware package whose unpack folder is named after 2024-03-05
    // 06:07:08 in UTC.
    std::string stampedPackage(const Texts& entries)
    {
        const std::string path = package("p.bin", 16, "QuilBroxL-D", kV123aWord, entries);
        setWriteTime(path, utc(2024, 3, 5, 6, 7, 8));
        return path;
    }
    const std::string kStamped = "QuilMBDFOut20240305060708";
};

class FwPackageConfine : public PackageSandbox { };
class FwPackageLifecycle : public PackageSandbox { };
class FwPackageRecovery : public PackageSandbox { };
class FwPackageDataFiles : public PackageSandbox { };

} // namespace

TEST_F(FwPackageDataFiles, FirmwareAndDanteNames)
{
    struct Row {
        const char* what;
        Texts files;
        Texts firmwareCandidates; // the one listed last wins
        Texts dante; // in the order listed
    };
    const Row rows[] = {
        {"two BIN files", {"a.BIN", "b.BIN", "notes.txt"}, {"a.BIN", "b.BIN"}, {}},
        {"lower-case extension not taken", {"fw.bin", "fw.Bin"}, {}, {}},
        {"names without a dot, too short", {"README", "xdnt", "a.BI", "p.d", "fw.prg"}, {"fw.prg"}, {}},
        {"Dante files in the order found", {"c.dnt", "a.dnt", "b.dnt", "m.BIN"}, {"m.BIN"},
            {"c.dnt", "a.dnt", "b.dnt"}},
        {"empty folder", {}, {}, {}},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = root.file("data" + std::to_string(n++));
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        for (const std::string& f : row.files)
            ASSERT_TRUE(qtest::writeFile(folder + "/" + f, f));
        std::string expectedFirmware;
        Texts expectedDante;
        for (const std::string& name : listFolder(folder)) {
            for (const std::string& c : row.firmwareCandidates) {
                if (c == name)
                    expectedFirmware = name;
            }
            for (const std::string& d : row.dante) {
                if (d == name)
                    expectedDante.push_back(name);
            }
        }
        ASSERT_EQ(sorted(expectedDante), sorted(row.dante));
        QString firmware = "old";
        QStringList dante{"old"};
        EXPECT_GE(fwpkg_listDataFiles(QString::fromStdString(folder), &firmware, &dante), 0);
        EXPECT_EQ(firmware.toStdString(), expectedFirmware);
        Texts got;
        for (const QString& d : dante)
            got.push_back(d.toStdString());
        EXPECT_EQ(got, expectedDante);
    }
    QString firmware = "kept";
    EXPECT_LT(fwpkg_listDataFiles(QString::fromStdString(root.file("none")), &firmware, nullptr), 0);
    EXPECT_EQ(firmware, "kept");
}

TEST_F(FwPackageDataFiles, PackageWithoutDataFolderIsInvalid)
{
    const std::string path = package("p.bin", 16, "QuilBroxL-D", kV123aWord, {"other/", "other/fw.BIN=" + firmware});
    FirmUpdateUIFileManager reader;
    EXPECT_EQ(open(reader, path), FWPKG_E_INVALID);
    EXPECT_FALSE(reader.isUnpacked());
}

TEST_F(FwPackageFolders, NameFromLastWriteTimeInLocalTime)
{
    const std::string path = stampedPackage(firmwareEntries());
    const std::pair<const char*, std::string> zones[]
        = {{"UTC", kStamped}, {"XST-2", "QuilMBDFOut20240305080708"}, {"YST+7", "QuilMBDFOut20240304230708"}};
    for (const auto& [zone, name] : zones) {
        SCOPED_TRACE(zone);
        TimeZone tz(zone);
        FirmUpdateUIFileManager reader;
        ASSERT_EQ(open(reader, path), 0);
        EXPECT_EQ(unpackFolders(home), Texts{name});
        EXPECT_EQ(firmwarePath(reader), home + "/" + name + "/data/fw.BIN");
    }
    EXPECT_TRUE(unpackFolders(home).empty());
}

TEST_F(FwPackageFolders, FallsBackToDocumentsThenPackageFolder)
{
    TimeZone tz("UTC");
    const std::string path = stampedPackage(firmwareEntries());
    // A regular file where the base folder should be: nothing can be made
    // below it, whoever runs the test.
    const std::string homeFile = root.file("home-file");
    const std::string docsFile = root.file("docs-file");
    ASSERT_TRUE(qtest::writeFile(homeFile, "h"));
    ASSERT_TRUE(qtest::writeFile(docsFile, "d"));
    ::setenv("HOME", homeFile.c_str(), 1);
    {
        FirmUpdateUIFileManager reader;
        ASSERT_EQ(open(reader, path), 0);
        EXPECT_EQ(firmwarePath(reader), docs + "/" + kStamped + "/data/fw.BIN");
        EXPECT_EQ(qtest::readFile(firmwarePath(reader)), qtest::readFile(firmware));
    }
    setDocuments(docsFile);
    {
        FirmUpdateUIFileManager reader;
        ASSERT_EQ(open(reader, path), 0);
        EXPECT_EQ(firmwarePath(reader), pkgDir + "/" + kStamped + "/data/fw.BIN");
        EXPECT_TRUE(unpackFolders(docs).empty());
    }
    EXPECT_EQ(qtest::readFile(homeFile), "h");
    EXPECT_EQ(qtest::readFile(docsFile), "d");
    EXPECT_EQ(listFolder(pkgDir), Texts{"p.bin"});
}

TEST_F(FwPackageFolders, FailureEverywhereLeavesNoPartialFolder)
{
    // The second file's stream is damaged: every base gets the first file
    // before the extraction fails.
    const std::string path = stampedPackage({"data/", "data/fw.BIN=" + firmware, "data/z.BIN!" + firmware});
    FirmUpdateUIFileManager reader;
    EXPECT_EQ(open(reader, path), FWPKG_E_UNPACK);
    EXPECT_FALSE(reader.isUnpacked());
    EXPECT_TRUE(listFolder(home).empty());
    EXPECT_TRUE(listFolder(docs).empty());
    EXPECT_EQ(listFolder(pkgDir), Texts{"p.bin"});
}

TEST_F(FwPackageFolders, ExistingFolderOrLinkOfTheNameIsReplaced)
{
    TimeZone tz("UTC");
    const std::string path = stampedPackage(firmwareEntries());
    const std::string target = home + "/" + kStamped;
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    ASSERT_TRUE(qtest::writeFile(target + "/stale.txt", "old"));
    {
        FirmUpdateUIFileManager reader;
        ASSERT_EQ(open(reader, path), 0);
        EXPECT_EQ(sorted(listFolder(target)), Texts{"data"});
    }
    // A link of that name goes, what it points at stays.
    const std::string sentinel = root.file("sentinel");
    ASSERT_EQ(::mkdir(sentinel.c_str(), 0755), 0);
    ASSERT_TRUE(qtest::writeFile(sentinel + "/keep.txt", "keep"));
    ASSERT_EQ(::symlink(sentinel.c_str(), target.c_str()), 0);
    {
        FirmUpdateUIFileManager reader;
        ASSERT_EQ(open(reader, path), 0);
        EXPECT_TRUE(isDirectory(target));
        EXPECT_EQ(listFolder(target), Texts{"data"});
    }
    EXPECT_FALSE(exists(target));
    EXPECT_EQ(listFolder(sentinel), Texts{"keep.txt"});
    EXPECT_EQ(qtest::readFile(sentinel + "/keep.txt"), "keep");
}

TEST_F(FwPackageFolders, PathWithoutFolderIsTheCurrentFolder)
{
    const std::string path = package("p.bin", 16, "QuilBroxL-D", kV123aWord, firmwareEntries());
    char* cwd = ::getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    const std::unique_ptr<char, decltype(&std::free)> saved(cwd, &std::free);
    ASSERT_EQ(::chdir(pkgDir.c_str()), 0);
    const char* homeFile = "home-file";
    ASSERT_TRUE(qtest::writeFile(root.file(homeFile), ""));
    ::setenv("HOME", root.file(homeFile).c_str(), 1);
    setDocuments(root.file(homeFile));
    {
        FirmUpdateUIFileManager reader;
        EXPECT_EQ(open(reader, "p.bin"), 0);
        // The package's own folder is the last base: the real one, not "".
        EXPECT_EQ(firmwarePath(reader).rfind(pkgDir + "/QuilMBDFOut", 0), 0u) << firmwarePath(reader);
    }
    ASSERT_EQ(::chdir(saved.get()), 0);
    EXPECT_EQ(listFolder(pkgDir), Texts{"p.bin"});
}

TEST_F(FwPackageConfine, UnsafeEntryNamesRefusedBeforeExtraction)
{
    const Texts names = {"../x", "/abs", "a/../../x", "C:x", "data\\..\\..\\x", "data/./fw.BIN"};
    std::vector<PackagePlan> plans;
    for (size_t i = 0; i < names.size(); ++i) {
        Texts entries = firmwareEntries();
        entries.push_back(names[i] + "=" + firmware);
        plans.push_back({"p" + std::to_string(i) + ".bin", 16, "QuilBroxL-D", kV123aWord, entries, ""});
    }
    const Texts paths = packages(plans);
    const Texts rootBefore = sorted(listFolder(root.path()));
    const Texts pkgBefore = sorted(listFolder(pkgDir));
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        FirmUpdateUIFileManager reader;
        EXPECT_EQ(open(reader, paths[i]), FWPKG_E_INVALID);
        EXPECT_FALSE(reader.isUnpacked());
        // Refused at once: no base folder was even tried.
        EXPECT_TRUE(listFolder(home).empty());
        EXPECT_TRUE(listFolder(docs).empty());
        EXPECT_EQ(sorted(listFolder(pkgDir)), pkgBefore);
        EXPECT_EQ(sorted(listFolder(root.path())), rootBefore);
    }
    EXPECT_FALSE(exists("/abs"));
}

TEST_F(FwPackageLifecycle, EachPackageReplacesTheLast)
{
    TimeZone tz("UTC");
    const uint32_t dante[] = {0x04010203, 0, 0, 0x04010300, 0, 0};
    std::string fieldA = kV123aWord;
    for (uint32_t w : dante)
        fieldA += word(w);
    const Texts paths = packages({
        {"a.bin", 28, "QuilBroxL-D", fieldA,
            {"data/", "data/fw.BIN=" + firmware, "data/a.dnt=" + dnt, "data/b.dnt=" + dnt}, ""},
        {"b.bin", 16, "QuilBroxM-D", kV123aWord, firmwareEntries(), ""},
        {"c.bin", 16, "Brox-D3", swappedWord(version('V', 3, 1, 1)), {"fw=" + firmware}, ""},
        {"d.bin", 16, "QuilBroxL-D", kV123aWord, {"other/", "other/fw.BIN=" + firmware}, ""},
    });
    setWriteTime(paths[0], utc(2024, 1, 1, 0, 0, 1));
    setWriteTime(paths[1], utc(2024, 1, 1, 0, 0, 2));
    setWriteTime(paths[3], utc(2024, 1, 1, 0, 0, 4));
    const std::string folderA = home + "/QuilMBDFOut20240101000001";
    const std::string folderB = home + "/QuilMBDFOut20240101000002";
    const std::string folderD = home + "/QuilMBDFOut20240101000004";
    {
        FirmUpdateUIFileManager reader;
        QStringList files;
        ASSERT_EQ(open(reader, paths[0]), 0);
        reader.getDanteFiles(&files);
        EXPECT_EQ(sorted({files.value(0).toStdString(), files.value(1).toStdString()}),
            Texts({folderA + "/data/a.dnt", folderA + "/data/b.dnt"}));

        ASSERT_EQ(open(reader, paths[1]), 0);
        EXPECT_FALSE(exists(folderA));
        EXPECT_EQ(unpackFolders(home), Texts{"QuilMBDFOut20240101000002"});
        reader.getDanteFiles(&files);
        EXPECT_TRUE(files.isEmpty());

        // Back to A, then the Brox-D3 package: none of A's files stay offered.
        ASSERT_EQ(open(reader, paths[0]), 0);
        EXPECT_FALSE(exists(folderB));
        QStringList versions;
        ASSERT_EQ(open(reader, paths[2], &versions), 0);
        EXPECT_EQ(versions, QStringList{"v301b"});
        reader.getDanteFiles(&files);
        EXPECT_TRUE(files.isEmpty());
        EXPECT_EQ(firmwarePath(reader), paths[2]);
        EXPECT_TRUE(unpackFolders(home).empty());

        // A failed open offers nothing of the package before it.
        ASSERT_EQ(open(reader, paths[0]), 0);
        EXPECT_EQ(open(reader, pkgDir + "/missing.bin"), FWPKG_E_OPEN);
        int32_t type = -1;
        EXPECT_EQ(reader.getModelType(&type), FWPKG_E_MODEL_TYPE);
        EXPECT_EQ(type, 0);
        EXPECT_EQ(firmwarePath(reader), "");
        reader.getDanteFiles(&files);
        EXPECT_TRUE(files.isEmpty());
        EXPECT_TRUE(unpackFolders(home).empty());

        // A package that unpacked but was refused afterwards: its folder
        // goes with the next package.
        EXPECT_EQ(open(reader, paths[3]), FWPKG_E_INVALID);
        EXPECT_TRUE(exists(folderD));
        ASSERT_EQ(open(reader, paths[1]), 0);
        EXPECT_FALSE(exists(folderD));
        EXPECT_TRUE(exists(folderB));
    }
    // Destruction removes the last one.
    EXPECT_TRUE(unpackFolders(home).empty());
    {
        FirmUpdateUIFileManager reader;
        EXPECT_EQ(open(reader, paths[3]), FWPKG_E_INVALID);
    }
    EXPECT_TRUE(unpackFolders(home).empty());
}

TEST_F(FwPackageLifecycle, FileSize)
{
    const std::string small = source("small", std::string(1234, 'x'));
    EXPECT_EQ(FirmUpdateUIFileManager::getFileSize(QString::fromStdString(small)), 1234u);
    EXPECT_EQ(FirmUpdateUIFileManager::getFileSize(QString::fromStdString(root.file("none"))), 0u);
    EXPECT_EQ(FirmUpdateUIFileManager::getFileSize(QString::fromStdString(src)), 0u);
    // 4 GiB (sparse) does not fit the size and reads as 0, not as its low bits.
    const std::string big = root.file("big");
    const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const bool sized = ::ftruncate(fd, (off_t(1) << 32) + 5) == 0;
    ::close(fd);
    ASSERT_TRUE(sized);
    EXPECT_EQ(FirmUpdateUIFileManager::getFileSize(QString::fromStdString(big)), 0u);
}

TEST_F(FwPackageRecovery, HeadersAndModelNames)
{
    struct Row {
        std::string top;
        JResult result;
        const char* model;
        bool brox;
        bool pell;
    };
    const Row rows[] = {
        {"QuilBroxL-D", 0, "BroxL-D", true, false},
        {"QuilBroxM-D", 0, "BroxM-D", true, false},
        {"QuilBroxI-D", 0, "BroxI-D", true, false},
        {"QuilBroxO-D", 0, "BroxO-D", true, false},
        {"QuilBroxL-D2", 0, "BroxL-D2", true, false},
        {"QuilBroxM-D2", 0, "BroxM-D2", true, false},
        {"QuilPellM-D", 0, "PellM-D", false, true},
        {"QuilSorn-D", 0, "Sorn-D", false, false},
        {"QuilMavik-D", 0, "Mavik-D", false, false},
        {"QuilBrox-D3", FWPKG_E_INVALID, "Brox-D3", false, false},
        {"QuilBroxL-D3", FWPKG_E_INVALID, "BroxL-D3", false, false},
        {"Brox-D3", FWPKG_E_HEADER, "-D3", false, false},
        {"Foo", FWPKG_E_HEADER, "", false, false},
    };
    std::vector<PackagePlan> plans;
    for (size_t i = 0; i < std::size(rows); ++i)
        plans.push_back({"r" + std::to_string(i) + ".bin", 16, rows[i].top, kV123aWord, firmwareEntries(), ""});
    const Texts paths = packages(plans);
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.top);
        RecoveryFileManager reader;
        QStringList versions;
        EXPECT_EQ(open(reader, paths[i], &versions), row.result);
        EXPECT_EQ(reader.isUnpacked(), row.result >= 0);
        QString model;
        EXPECT_EQ(reader.modelName(&model), 0);
        EXPECT_EQ(model.toStdString(), row.model);
        EXPECT_EQ(reader.isBroxModel(), row.brox);
        EXPECT_EQ(reader.isPellModel(), row.pell);
        if (row.result >= 0) {
            EXPECT_EQ(versions, QStringList{"v123a"});
            EXPECT_EQ(qtest::readFile(firmwarePath(reader)), qtest::readFile(firmware));
        } else {
            EXPECT_TRUE(unpackFolders(home).empty());
        }
    }
    RecoveryFileManager none;
    QString model = "kept";
    EXPECT_EQ(none.modelName(&model), FWPKG_E_OPEN);
    EXPECT_EQ(model, "kept");
    EXPECT_FALSE(none.isBroxModel());
    EXPECT_FALSE(none.isPellModel());
}
