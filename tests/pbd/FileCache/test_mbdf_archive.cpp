#include "pbd/FileCache/fcache_MBDFFileBlock.h"

#include "tests/pbd/FileCache/test_mbdf_util.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace FILECACHE;
using namespace mbdftest;

namespace {

using Texts = std::vector<std::string>;

// Large contents by size only, so that a failure stays readable.
std::string shown(const std::string& content)
{
    return content.size() <= 4096 ? content : "<" + std::to_string(content.size()) + " bytes>";
}

// Every path below root, files with their content, folders with a slash.
void listTree(const std::string& root, const std::string& rel, std::vector<std::string>* out)
{
    DIR* d = ::opendir((root + (rel.empty() ? "" : "/" + rel)).c_str());
    if (!d)
        return;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        const std::string name = rel.empty() ? e->d_name : rel + "/" + e->d_name;
        struct stat st;
        ::lstat((root + "/" + name).c_str(), &st);
        if (S_ISDIR(st.st_mode)) {
            out->push_back(name + "/");
            listTree(root, name, out);
        } else if (S_ISLNK(st.st_mode)) {
            out->push_back(name + "@");
        } else {
            out->push_back(name + "=" + shown(qtest::readFile(root + "/" + name)));
        }
    }
    ::closedir(d);
    std::sort(out->begin(), out->end());
}

std::vector<std::string> tree(const std::string& root)
{
    std::vector<std::string> out;
    listTree(root, "", &out);
    return out;
}

using qtest::hex;

std::string zlibCompress(const std::string& data, int level = 6)
{
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    compress2(
        reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()), data.size(), level);
    out.resize(size);
    return out;
}

// A "#FILE" block made by hand: name length, 0, key, flags, name (not
// scrambled here), content as given.
std::string fileBlock(const std::string& name, uint32_t flags, const std::string& content, int nameLength = -1)
{
    std::string p1;
    const uint32_t n = nameLength < 0 ? static_cast<uint32_t>(name.size()) : static_cast<uint32_t>(nameLength);
    p1.push_back(static_cast<char>(n >> 8));
    p1.push_back(static_cast<char>(n));
    p1.push_back(0);
    p1.push_back(0);
    putBE32(p1, flags);
    p1 += name;
    return block("#FILE", "hand", 12, p1, content);
}

std::string archiveBytes(const std::string& blocks)
{
    return topBlock(48, "Archive", "pkg") + blocks + endBlock();
}

int runPeer(const std::string& args, std::string* output = nullptr)
{
    return qtest::runCommand("python3 '" + qtest::peerPath("mbdf_peer.py") + "' " + args, output);
}

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        src = dir.file("src");
        ASSERT_EQ(makeDirectory((src + "/sub").c_str()), 0);
        ASSERT_TRUE(qtest::writeFile(src + "/a.txt", "hello archive"));
        ASSERT_TRUE(qtest::writeFile(src + "/empty", ""));
        std::string big;
        for (int i = 0; i < 5000; ++i)
            big += "line " + std::to_string(i) + "\n";
        ASSERT_TRUE(qtest::writeFile(src + "/sub/big.log", big));
    }

    // Packs the entries into an archive with our writer.
    void pack(const std::string& path, bool loadContent, int level, uint8_t key)
    {
        MBDF m(16);
        ASSERT_EQ(m.setTop(MBDF_ARCHIVE_KIND, "pkg", "1.0", "x", 1), 0);
        const std::pair<const char*, bool> entries[]
            = {{"a.txt", false}, {"empty", false}, {"sub", true}, {"sub/big.log", false}};
        ArchiveFile::FileBlockBridge bridge;
        for (const auto& [name, isDir] : entries) {
            MBDFFileBlock b;
            ASSERT_EQ(b.setFromFile("test", isDir, src.c_str(), name, loadContent, level, key), 0) << name;
            ASSERT_EQ(bridge.insertBlock(m, b), 0);
        }
        ASSERT_EQ(m.write(path.c_str(), nullptr, nullptr), 0);
    }

    qtest::TempDir dir;
    std::string src;
};

} // namespace

TEST_F(ArchiveTest, FileBlockLayout)
{
    MBDFFileBlock b;
    ASSERT_EQ(b.setFromFile("sub", false, src.c_str(), "a.txt", true, 0, 0), 0);
    EXPECT_EQ(b.tag(), "#FILE");
    EXPECT_EQ(b.subName(), "sub");
    EXPECT_EQ(b.part1Size(), 13u);
    EXPECT_EQ(hex(b.part1Data(), 16),
        "000500000000000061"
        "2e747874000000");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.part2Data()), b.part2Size()), "hello archive");
    EXPECT_FALSE(b.isCompressed()) << "level 0 never compresses";

    ASSERT_EQ(b.setFromFile("sub", false, src.c_str(), "a.txt", true, 0, 0x5A), 0);
    EXPECT_EQ(
        hex(b.part1Data(), 13), "0005005a00000000" + hex(reinterpret_cast<const uint8_t*>("\x3b\x74\x2e\x22\x2e"), 5));
    EXPECT_EQ(b.part2Data()[0], 'h' ^ 0x5A);
    EXPECT_EQ(b.fileName(), "a.txt");
    EXPECT_EQ(b.key(), 0x5A);

    ASSERT_EQ(b.setFromFile("sub", false, src.c_str(), "a.txt", true, 10, 0x5A), 0);
    EXPECT_TRUE(b.isCompressed());
    EXPECT_EQ(b.level(), 10);
    EXPECT_EQ(b.setFromFile("sub", false, src.c_str(), "a.txt", true, 11, 0), FCACHE_E_ARG);
    EXPECT_FALSE(b.isValid());
    EXPECT_EQ(b.setFromFile("sub", true, src.c_str(), "a.txt", true, 0, 0), FCACHE_E_FILE) << "not a folder";
    EXPECT_EQ(b.setFromFile("sub", false, src.c_str(), "missing", true, 0, 0), FCACHE_E_FILE);
    EXPECT_EQ(b.setFromFile("sub", false, src.c_str(), nullptr, true, 0, 0), FCACHE_E_ARG);

    ASSERT_EQ(b.setFromFile("d", true, src.c_str(), "sub", true, 6, 0), 0);
    EXPECT_EQ(b.flags(), 0x84u);
    EXPECT_EQ(b.part2Size(), 0u);
    EXPECT_TRUE(b.isDirectory());
    EXPECT_EQ(b.setPart2("x", 1), FCACHE_E_FAIL);

    ASSERT_EQ(b.setFromFile("e", false, src.c_str(), "empty", true, 6, 0), 0);
    EXPECT_EQ(b.part2Size(), 0u);
}

TEST_F(ArchiveTest, RoundTripThroughOurReaderAndThePeer)
{
    struct Case {
        bool loadContent;
        int level;
        uint8_t key;
    };
    const Case cases[] = {{true, 0, 0}, {true, 6, 0x33}, {false, 0, 0x7F}, {false, 10, 0}, {false, 1, 0xFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.loadContent) + " level " + std::to_string(c.level));
        const std::string path = dir.file("ours.mbdf");
        pack(path, c.loadContent, c.level, c.key);

        std::string listing;
        ASSERT_EQ(runPeer("list '" + path + "'", &listing), 0) << listing;
        Texts expected{
            "TOP\tArchive\tpkg\t48\t" + hex(reinterpret_cast<const uint8_t*>("1.0\0\0\0\0\0\0\0\0\0\0\0\0\0"), 16)};
        for (const char* name : {"a.txt", "empty", "sub", "sub/big.log"}) {
            const bool isDir = std::strcmp(name, "sub") == 0;
            std::string md5 = "d41d8cd98f00b204e9800998ecf8427e";
            if (!isDir) {
                ASSERT_EQ(qtest::runCommand("md5sum < '" + src + "/" + name + "'", &md5), 0);
            }
            const size_t length = isDir ? 0 : qtest::readFile(src + "/" + name).size();
            const char* flags = isDir ? "84" : c.level > 0 ? "8" : "0";
            expected.push_back(std::string("FILE\t") + name + "\t" + flags + "\t" + std::to_string(c.key) + "\t"
                + std::to_string(length) + "\t" + md5.substr(0, 32) + "\ttest");
        }
        expected.push_back("END");
        std::istringstream lines(listing);
        Texts got;
        for (std::string line; std::getline(lines, line);)
            got.push_back(line);
        EXPECT_EQ(got, expected);

        ArchiveFile a;
        ASSERT_EQ(a.reset("shown"), 0);
        ASSERT_EQ(a.open(dir.path().c_str(), "ours.mbdf", "pkg"), 0);
        ASSERT_EQ(a.entries().size(), 4u);
        EXPECT_EQ(a.entries()[2].name, "sub");
        EXPECT_TRUE(a.entries()[2].isDirectory);
        const std::string out = dir.file("out");
        RecordingObserver o;
        ASSERT_EQ(a.extractAll(out.c_str(), nullptr, &o), 0);
        EXPECT_EQ(o.texts(),
            (Texts{"Extracting files...", "Extracting files...", "Extracting files...", "Extracting files...",
                "Finshed."}));
        EXPECT_EQ(o.reports.back().current, 4u);
        EXPECT_EQ(tree(out), tree(src));
        fcache_removePath(out.c_str());
    }
}

TEST_F(ArchiveTest, PeerWrittenArchivesExtract)
{
    for (const char* args : {"16 pkg 0 0", "16 pkg 90 9", "4 pkg 1 1", "28 pkg 0 6"}) {
        SCOPED_TRACE(args);
        const std::string path = dir.file("peer.mbdf");
        std::string output;
        ASSERT_EQ(runPeer("archive '" + path + "' " + args + " '" + src + "' a.txt empty sub sub/big.log", &output), 0)
            << output;
        const int kind = std::atoi(args);
        ArchiveFile a(kind);
        ASSERT_EQ(a.open(nullptr, path.c_str(), "pkg"), 0);
        ASSERT_EQ(a.entries().size(), 4u);
        const std::string out = dir.file("out");
        ASSERT_EQ(a.extractAll(out.c_str(), nullptr, nullptr), 0);
        EXPECT_EQ(tree(out), tree(src));
        fcache_removePath(out.c_str());

        // The same content with every part loaded, extracted from memory.
        MBDF m(kind);
        mbdf_registerFileBlockFactory();
        ASSERT_EQ(m.read(path.c_str(), true, nullptr, nullptr), 0);
        for (MBDF::Position p = m.begin(); p != m.end(); p = m.next(p)) {
            auto* b = dynamic_cast<MBDFFileBlock*>(&m.blockAt(p));
            ASSERT_NE(b, nullptr);
            ASSERT_EQ(b->extractTo(out.c_str()), 0) << b->fileName();
        }
        EXPECT_EQ(tree(out), tree(src));
        fcache_removePath(out.c_str());
    }
}

TEST_F(ArchiveTest, OpenChecksKindAndName)
{
    const std::string path = dir.file("a.mbdf");
    pack(path, true, 6, 0);
    ArchiveFile a;
    EXPECT_EQ(a.open(dir.path().c_str(), "a.mbdf", "other"), FCACHE_E_FAIL);
    EXPECT_FALSE(a.container().isValid()) << "cleared";
    EXPECT_EQ(a.open(dir.path().c_str(), nullptr, nullptr), FCACHE_E_FAIL);
    EXPECT_EQ(a.open(dir.path().c_str(), "missing", nullptr), FCACHE_E_FILE);
    EXPECT_EQ(a.extractAll(dir.file("out").c_str(), nullptr, nullptr), FCACHE_E_FAIL);

    ASSERT_TRUE(qtest::writeFile(path, topBlock(48, "Setup", "pkg") + endBlock()));
    EXPECT_EQ(a.open(dir.path().c_str(), "a.mbdf", nullptr), FCACHE_E_FAIL);
    EXPECT_TRUE(a.entries().empty());
}

TEST_F(ArchiveTest, DeferredContentGetsItsRealLength)
{
    MBDFFileBlock b;
    ASSERT_EQ(b.setFromFile("s", false, src.c_str(), "sub/big.log", false, 9, 0x11), 0);
    const uint64_t fileLength = b.part2Size();
    EXPECT_EQ(fileLength, qtest::readFile(src + "/sub/big.log").size());
    EXPECT_EQ(b.part2Data(), nullptr);
    EXPECT_EQ(b.extractTo(dir.file("x").c_str()), FCACHE_E_NOT_LOADED);

    MBDF m(16);
    ASSERT_EQ(m.setTop(MBDF_ARCHIVE_KIND, "pkg", "1", "x", 1), 0);
    ArchiveFile::FileBlockBridge bridge;
    ASSERT_EQ(bridge.insertBlock(m, b), 0);
    const std::string path = dir.file("d.mbdf");
    ASSERT_EQ(m.write(path.c_str(), nullptr, nullptr), 0);
    const MBDFAbstractBlock& written = m.blockAt(0);
    EXPECT_LT(written.part2Size(), fileLength / 4) << "compressed length patched in";
    EXPECT_EQ(qtest::readFile(path).size(), m.blockOffset(1) + 36);
    const std::string bytes = qtest::readFile(path);
    const uint64_t at = m.blockOffset(0);
    EXPECT_EQ(getUInt(bytes.data() + at + 28, 4, true), written.part2Size());
}

// Damaged or hostile archives: each is refused, nothing appears outside the
// destination, and no partial file stays behind.
TEST_F(ArchiveTest, HostileArchivesAreRefused)
{
    const std::string outside = dir.file("outside");
    ASSERT_EQ(makeDirectory(outside.c_str()), 0);
    ASSERT_TRUE(qtest::writeFile(outside + "/victim", "untouched"));

    // Inflates to more than the content limit.
    std::string bomb;
    {
        z_stream zs{};
        deflateInit(&zs, 1);
        std::string zerosPiece(1 << 20, '\0');
        std::string out(1 << 16, '\0');
        for (uint64_t done = 0; done <= MBDF_CONTENT_LIMIT; done += zerosPiece.size()) {
            zs.next_in = reinterpret_cast<Bytef*>(&zerosPiece[0]);
            zs.avail_in = static_cast<uInt>(zerosPiece.size());
            const bool last = done + zerosPiece.size() > MBDF_CONTENT_LIMIT;
            do {
                zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
                zs.avail_out = static_cast<uInt>(out.size());
                deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
                bomb.append(out.data(), out.size() - zs.avail_out);
            } while (zs.avail_out == 0);
        }
        deflateEnd(&zs);
    }
    const std::string good = zlibCompress("fine content");
    struct Case {
        const char* what;
        std::string blocks;
        bool opens;
    };
    const Case cases[] = {
        {"dot-dot name", fileBlock("../outside/victim", 0, "pwned"), true},
        {"dot-dot inside", fileBlock("sub/../../outside/victim", 0, "pwned"), true},
        {"absolute name", fileBlock(outside + "/victim", 0, "pwned"), true},
        {"drive letter", fileBlock("C:victim", 0, "pwned"), true},
        {"backslashes", fileBlock("..\\outside\\victim", 0, "pwned"), true},
        {"dot-dot inside, backslashes", fileBlock("sub\\..\\..\\outside\\victim", 0, "pwned"), true},
        {"drive letter, backslash", fileBlock("C:\\victim", 0, "pwned"), true},
        {"empty name", fileBlock("", 0, "pwned"), true},
        {"folder named ..", fileBlock("..", 0x84, ""), true},
        {"name past part 1", fileBlock("abc", 0, "x", 200), false},
        {"zlib bomb", fileBlock("bomb", 0x08, bomb), true},
        {"truncated stream", fileBlock("cut", 0x08, good.substr(0, good.size() - 6)), true},
        {"not a zlib stream", fileBlock("junk", 0x08, std::string(64, 'J')), true},
        {"block past the end", archiveBytes(fileBlock("big", 0, "abcd")).substr(0, 84 + 36 + 16 + 2), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("hostile.mbdf");
        const std::string bytes = c.blocks.rfind("#VALDOR", 0) == 0 ? c.blocks : archiveBytes(c.blocks);
        ASSERT_TRUE(qtest::writeFile(path, bytes));
        const std::string dest = dir.file("dest");
        ASSERT_EQ(makeDirectory(dest.c_str()), 0);
        for (bool fromMemory : {false, true}) {
            ArchiveFile a;
            const JResult opened = a.open(nullptr, path.c_str(), nullptr);
            if (!c.opens) {
                EXPECT_LT(opened, 0);
                continue;
            }
            ASSERT_EQ(opened, 0);
            if (fromMemory) {
                MBDF m(16);
                ASSERT_EQ(m.read(path.c_str(), true, nullptr, nullptr), 0);
                auto* b = dynamic_cast<MBDFFileBlock*>(&m.blockAt(0));
                ASSERT_NE(b, nullptr);
                EXPECT_LT(b->extractTo(dest.c_str()), 0);
            } else {
                EXPECT_EQ(a.extractAll(dest.c_str(), nullptr, nullptr), FCACHE_E_FAIL);
            }
        }
        EXPECT_EQ(tree(dest), Texts{}) << "nothing written, no partial file left";
        EXPECT_EQ(tree(dir.path()),
            (Texts{"dest/", "hostile.mbdf=" + shown(bytes), "outside/", "outside/victim=untouched", "src/",
                "src/a.txt=hello archive", "src/empty=", "src/sub/",
                "src/sub/big.log=" + shown(qtest::readFile(src + "/sub/big.log"))}));
        fcache_removePath(dest.c_str());
    }
}

TEST_F(ArchiveTest, LinksInTheDestinationAreNotFollowed)
{
    const std::string outside = dir.file("outside");
    ASSERT_EQ(makeDirectory(outside.c_str()), 0);
    ASSERT_TRUE(qtest::writeFile(outside + "/victim", "untouched"));
    const std::string dest = dir.file("dest");
    ASSERT_EQ(makeDirectory(dest.c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (dest + "/sub").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/victim").c_str(), (dest + "/victim").c_str()), 0);

    for (const char* name : {"sub/victim", "sub\\victim", "victim", "sub"}) {
        SCOPED_TRACE(name);
        const bool isDir = std::strcmp(name, "sub") == 0;
        ASSERT_TRUE(qtest::writeFile(
            dir.file("l.mbdf"), archiveBytes(fileBlock(name, isDir ? 0x84 : 0, isDir ? "" : "pwned"))));
        ArchiveFile a;
        ASSERT_EQ(a.open(dir.path().c_str(), "l.mbdf", nullptr), 0);
        EXPECT_EQ(a.extractAll(dest.c_str(), nullptr, nullptr), FCACHE_E_FAIL);
        EXPECT_EQ(qtest::readFile(outside + "/victim"), "untouched");
        EXPECT_EQ(tree(outside), (Texts{"victim=untouched"}));
    }
}

// An archive made on Windows names its entries with backslashes: they
// extract into the folders they name, from memory and from the container.
TEST_F(ArchiveTest, BackslashNamesExtractIntoTheirFolders)
{
    const std::string bytes = archiveBytes(fileBlock("win", 0x84, "") + fileBlock("win\\deep", 0x84, "")
        + fileBlock("win\\deep\\a.txt", 0, "from windows") + fileBlock("win\\b.txt", 0, "second"));
    ASSERT_TRUE(qtest::writeFile(dir.file("w.mbdf"), bytes));
    const Texts want{"win/", "win/b.txt=second", "win/deep/", "win/deep/a.txt=from windows"};

    ArchiveFile a;
    ASSERT_EQ(a.open(dir.path().c_str(), "w.mbdf", nullptr), 0);
    const std::string out = dir.file("out");
    EXPECT_EQ(a.extractAll(out.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(tree(out), want);

    MBDF m(16);
    ASSERT_EQ(m.read(dir.file("w.mbdf").c_str(), true, nullptr, nullptr), 0);
    const std::string mem = dir.file("mem");
    for (int i = 0; i < 4; ++i) {
        auto* b = dynamic_cast<MBDFFileBlock*>(&m.blockAt(i));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->extractTo(mem.c_str()), 0) << i;
    }
    EXPECT_EQ(tree(mem), want);
}

TEST_F(ArchiveTest, ExtractionAbortAndAttributes)
{
    ASSERT_EQ(setAttributes((src + "/a.txt").c_str(), true, false, false), 0);
    const std::string path = dir.file("a.mbdf");
    pack(path, false, 6, 0);
    ArchiveFile a;
    ASSERT_EQ(a.open(dir.path().c_str(), "a.mbdf", "pkg"), 0);

    MBDFAbortFlag abort{0};
    RecordingObserver o;
    o.onProgress = [&](const Report& r) {
        if (r.text == "Extracting files..." && r.current == 1)
            abort = 1;
    };
    const std::string out = dir.file("out");
    EXPECT_EQ(a.extractAll(out.c_str(), &abort, &o), FCACHE_E_ABORTED);
    EXPECT_EQ(o.texts(), (Texts{"Extracting files...", "Extracting files...", "Aborted."}));
    EXPECT_EQ(tree(out), (Texts{"a.txt=hello archive", "empty="}));

    // The read-only bit comes back with the file.
    bool ro = false;
    ASSERT_GE(getAttributes((out + "/a.txt").c_str(), &ro, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(ro);
}

// Content that can't be packed or written is refused when the archive is
// made, not discovered when it is read.
TEST_F(ArchiveTest, WriteTimeLimits)
{
    // Random bytes do not compress: more than the block limit after deflate.
    std::string noise(MBDF_BLOCK_LIMIT + 4096, '\0');
    std::mt19937 random(7);
    for (char& ch : noise)
        ch = static_cast<char>(random());
    ASSERT_TRUE(qtest::writeFile(src + "/noise", noise));
    MBDFFileBlock b;
    EXPECT_EQ(b.setFromFile("s", false, src.c_str(), "noise", true, 0, 0), FCACHE_E_DATA);
    EXPECT_EQ(b.setFromFile("s", false, src.c_str(), "noise", true, 1, 0), FCACHE_E_DATA);

    const std::string path = dir.file("keep.mbdf");
    ASSERT_TRUE(qtest::writeFile(path, "previous"));
    ASSERT_EQ(b.setFromFile("s", false, src.c_str(), "noise", false, 1, 0), 0);
    MBDF m(16);
    ASSERT_EQ(m.setTop(MBDF_ARCHIVE_KIND, "pkg", "1", "x", 1), 0);
    ArchiveFile::FileBlockBridge bridge;
    ASSERT_EQ(bridge.insertBlock(m, b), 0);
    EXPECT_EQ(m.write(path.c_str(), nullptr, nullptr), FCACHE_E_DATA);
    EXPECT_EQ(qtest::readFile(path), "previous");

    // Larger than extraction would accept: refused before any compression.
    const std::string sparse = src + "/sparse";
    ASSERT_TRUE(qtest::writeFile(sparse, ""));
    ASSERT_EQ(::truncate(sparse.c_str(), MBDF_CONTENT_LIMIT + 1), 0);
    EXPECT_EQ(b.setFromFile("s", false, src.c_str(), "sparse", true, 9, 0), FCACHE_E_DATA);

    // A source file that disappeared fails the save halfway.
    ASSERT_EQ(b.setFromFile("s", false, src.c_str(), "a.txt", false, 6, 0), 0);
    ASSERT_EQ(m.setTop(MBDF_ARCHIVE_KIND, "pkg", "1", "x", 1), 0);
    ASSERT_EQ(bridge.insertBlock(m, b), 0);
    ASSERT_EQ(::unlink((src + "/a.txt").c_str()), 0);
    EXPECT_EQ(m.write(path.c_str(), nullptr, nullptr), FCACHE_E_FILE);
    EXPECT_EQ(qtest::readFile(path), "previous");
}

// A file that holds fewer bytes than its size says (it shrank, or it is a
// kernel file) ends the packing with a failure instead of looping.
TEST_F(ArchiveTest, ShorterThanItsSize)
{
    const char* folder = "/sys/devices/system/cpu";
    const std::string path = std::string(folder) + "/online";
    FileAccessor probe;
    if (probe.open(path.c_str(), FileAccessor::ReadOnly) < 0 || probe.size() < 64)
        GTEST_SKIP() << "no kernel file that reads shorter than its size";
    probe.close();
    MBDFFileBlock b;
    EXPECT_EQ(b.setFromFile("s", false, folder, "online", true, 0, 0), FCACHE_E_FILE);
    EXPECT_EQ(b.setFromFile("s", false, folder, "online", true, 6, 0), FCACHE_E_FILE);
    for (int level : {0, 6}) {
        ASSERT_EQ(b.setFromFile("s", false, folder, "online", false, level, 0), 0);
        MBDF m(16);
        ASSERT_EQ(m.setTop(MBDF_ARCHIVE_KIND, "pkg", "1", "x", 1), 0);
        ArchiveFile::FileBlockBridge bridge;
        ASSERT_EQ(bridge.insertBlock(m, b), 0);
        EXPECT_EQ(m.write(dir.file("k.mbdf").c_str(), nullptr, nullptr), FCACHE_E_FILE) << level;
    }
}

TEST(ArchiveNames, SafeNames)
{
    const std::pair<const char*, bool> names[] = {
        {"a.txt", true},
        {"sub/a.txt", true},
        {"..a", true},
        {"a..", true},
        {"", false},
        {"..", false},
        {"../a", false},
        {"a/../b", false},
        {"a/..", false},
        {"/a", false},
        {"C:a", false},
        {"c:/a", false},
        // Archives made on Windows separate folders with a backslash; every
        // rule holds for it as for "/".
        {"a\\b", true},
        {"sub\\a.txt", true},
        {"a\\..\\..\\b", false},
        {"..\\a", false},
        {"\\a", false},
        {"\\\\server\\share", false},
        {"C:\\a", false},
        {"a\\\\b", false},
        {"a\\", false},
        {".\\a", false},
        {"a//b", false},
        {"a/", false},
        {"./a", false},
    };
    for (const auto& [name, safe] : names)
        EXPECT_EQ(mbdf_isSafeEntryName(name), safe) << name;
}
