#include "pbd/FileCache/fcache_MBDF.h"

#include "tests/pbd/FileCache/test_mbdf_util.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>

using namespace FILECACHE;
using namespace mbdftest;

namespace {

using ContainerTexts = std::vector<std::string>;

std::vector<std::string> folderEntries(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::unique_ptr<MBDFAbstractBlock> plainBlock(const char* tag, const std::string& p1, const std::string& p2)
{
    auto b = std::make_unique<MBDFAbstractBlock>();
    b->setTag(tag);
    b->setPart1(p1.data(), static_cast<uint32_t>(p1.size()));
    b->setPart2(p2.data(), static_cast<uint32_t>(p2.size()));
    return b;
}

} // namespace

TEST(MBDFContainer, EmptyFileProgress)
{
    qtest::TempDir dir;
    const std::string path = dir.file("empty.mbdf");
    MBDF out(16);
    EXPECT_FALSE(out.isValid());
    EXPECT_EQ(out.write(path.c_str(), nullptr, nullptr), FCACHE_E_FAIL) << "invalid until setTop";
    ASSERT_EQ(out.setTop("Setup", "device", "1.2.3", "xx", 2), 0);
    EXPECT_TRUE(out.isValid());
    RecordingObserver w;
    ASSERT_EQ(out.write(path.c_str(), nullptr, &w), 0);
    EXPECT_EQ(w.texts(), (ContainerTexts{"Writing top block...", "Writing end block...", "Finshed."}));
    ASSERT_EQ(w.reports.size(), 3u);
    EXPECT_EQ(w.reports[0].current, 0u);
    EXPECT_EQ(w.reports[1].current, 1u);
    EXPECT_EQ(w.reports[2].current, 2u);
    EXPECT_EQ(w.reports[2].total, 2u);
    EXPECT_TRUE(w.reports[2].finished);
    EXPECT_EQ(folderEntries(dir.path()), (ContainerTexts{"empty.mbdf"})) << "no temporary file left";

    const std::string bytes = qtest::readFile(path);
    EXPECT_EQ(bytes,
        block(
            "#VALDOR MBDF", "Setup", 12, topFields(48, "device", "1.2.3").substr(0, 32) + std::string("xx") + zeros(14))
            + endBlock());

    MBDF in(16);
    RecordingObserver r;
    ASSERT_EQ(in.read(path.c_str(), true, nullptr, &r), 0);
    EXPECT_EQ(r.texts(), (ContainerTexts{"Reading top block...", "Reading end block...", "Finished."}));
    EXPECT_EQ(r.reports.back().current, bytes.size());
    EXPECT_EQ(in.blockCount(), 0u);
    EXPECT_TRUE(in.isKind("Setup"));
    EXPECT_FALSE(in.isKind(nullptr));
    EXPECT_EQ(in.topName(), "device");
    EXPECT_EQ(std::memcmp(in.topField(), "1.2.3\0", 6), 0);
    EXPECT_TRUE(in.isValid());
}

TEST(MBDFContainer, DataBlocksRoundTripAndOffsets)
{
    qtest::TempDir dir;
    const std::string path = dir.file("c.mbdf");
    MBDF out(16);
    ASSERT_EQ(out.setTop("Setup", "n", "v", "e", 1), 0);
    out.append(plainBlock("UNKNOWN TAG", "abcde", "0123456789"));
    out.append(nullptr);
    out.append(plainBlock("SECOND", "", "z"));
    EXPECT_TRUE(out.blockAt(1).isNull());
    EXPECT_TRUE(out.blockAt(out.end()).isNull());
    RecordingObserver w;
    ASSERT_EQ(out.write(path.c_str(), nullptr, &w), 0);
    EXPECT_EQ(w.texts(),
        (ContainerTexts{"Writing top block...", "Writing data blocks...", "Writing data blocks...",
            "Writing data blocks...", "Writing end block...", "Finshed."}));
    EXPECT_EQ(w.reports.back().current, 5u);

    MBDF in(16);
    ASSERT_EQ(in.read(path.c_str(), false, nullptr, nullptr), 0);
    ASSERT_EQ(in.blockCount(), 2u);
    EXPECT_EQ(in.blockAt(0).tag(), "UNKNOWN TAG");
    EXPECT_EQ(in.blockAt(0).part2Data(), nullptr) << "second parts not loaded";
    EXPECT_EQ(in.blockOffset(0), 36u + 48);
    EXPECT_EQ(in.blockOffset(1), 36u + 48 + 36 + 8 + 12);

    // openBlockContent positions at the header of the block.
    FileAccessor a;
    ASSERT_EQ(in.openBlockContent(&a, 1), 0);
    MBDFAbstractBlock second;
    ASSERT_EQ(second.readFromFile(a, true), 0);
    EXPECT_EQ(second.tag(), "SECOND");
    EXPECT_EQ(in.openBlockContent(&a, 2), FCACHE_E_DATA);
    EXPECT_EQ(in.openBlockContent(nullptr, 0), FCACHE_E_ARG);
    MBDF never(16);
    EXPECT_EQ(never.openBlockContent(&a, 0), FCACHE_E_FILE);

    // An unregistered tag is written back unchanged.
    ASSERT_EQ(in.reread(), 0);
    const std::string copy = dir.file("copy.mbdf");
    MBDF full(16);
    ASSERT_EQ(full.read(path.c_str(), true, nullptr, nullptr), 0);
    ASSERT_EQ(full.write(copy.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(qtest::readFile(copy), qtest::readFile(path));
}

TEST(MBDFContainer, TopBlockVariants)
{
    qtest::TempDir dir;
    const std::string path = dir.file("t.mbdf");
    struct Case {
        size_t part1;
        int kind;
        JResult expected;
    };
    const Case cases[] = {
        {48, 4, FCACHE_OK},
        {36, 4, FCACHE_OK},
        {60, 4, FCACHE_E_DATA},
        {60, 16, FCACHE_E_DATA},
        {36, 16, FCACHE_OK},
        {60, 28, FCACHE_OK},
        {48, 28, FCACHE_OK},
        {0, 16, FCACHE_E_DATA},
        {16, 16, FCACHE_E_DATA},
        {19, 16, FCACHE_E_DATA},
        // Older writers' short top blocks: read with the missing fields zero.
        {20, 4, FCACHE_OK},
        {20, 28, FCACHE_OK},
        {35, 28, FCACHE_OK},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(qtest::writeFile(path, topBlock(c.part1, "K", "name") + endBlock()));
        MBDF m(c.kind);
        EXPECT_EQ(m.read(path.c_str(), true, nullptr, nullptr), c.expected) << c.part1 << " into " << c.kind;
        if (c.expected == FCACHE_OK) {
            EXPECT_EQ(m.topName(), "name");
            ASSERT_NE(m.topField(), nullptr);
        }
    }
    // A 36-byte top block in a kind-28 container: the fields past its end
    // read as zeros.
    std::string p1 = topFields(36, "short", "");
    std::memcpy(&p1[16], "ABCD", 4);
    std::memset(&p1[20], 'E', 16);
    ASSERT_TRUE(qtest::writeFile(path, block("#VALDOR MBDF", "K", 12, p1) + endBlock()));
    MBDF m(28);
    ASSERT_EQ(m.read(path.c_str(), true, nullptr, nullptr), 0);
    const uint8_t* v = m.topField();
    EXPECT_EQ(std::memcmp(v, "ABCDEEEEEEEEEEEEEEEE", 20), 0);
    for (int i = 20; i < 28; ++i)
        EXPECT_EQ(v[i], 0) << i;
    EXPECT_EQ(m.topBlock().extraField()[0], 0);
}

TEST(MBDFContainer, TopFields)
{
    MBDFTopBlock top;
    const uint8_t extra[3] = {1, 2, 3};
    // A short version text is read up to its terminator only.
    ASSERT_EQ(top.setFields("Kind", "a name longer than sixteen", "1.0", extra, 3), 0);
    EXPECT_EQ(top.subName(), "Kind");
    EXPECT_EQ(top.name(), "a name longer th");
    EXPECT_EQ(std::memcmp(top.versionField(), "1.0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), 0);
    EXPECT_EQ(std::memcmp(top.extraField(), "\1\2\3\0", 4), 0);
    EXPECT_EQ(top.part1Size(), 48u);

    // Missing or oversized extra data is reported, part 1 is stored anyway.
    EXPECT_EQ(top.setFields("Kind", "n", "1", nullptr, 0), FCACHE_E_ARG);
    EXPECT_EQ(top.part1Size(), 48u);
    EXPECT_EQ(top.setFields("Kind", "n", "1", extra, 17), FCACHE_E_ARG);
    EXPECT_EQ(top.setFields("Kind", "n", nullptr, extra, 3), FCACHE_E_ARG);

    // The numeric version is a big-endian integer of the field's width.
    QUILTopBlock quil;
    QUILBN3TopBlock bn3;
    BaseTopBlock* blocks[] = {&quil, &top, &bn3};
    for (BaseTopBlock* b : blocks) {
        ASSERT_EQ(b->setFieldsNumeric("K", "n", 0x01020304, extra, 3), 0);
        const uint32_t w = b->versionWidth();
        const uint8_t* v = b->versionField();
        for (uint32_t i = 0; i + 4 < w; ++i)
            EXPECT_EQ(v[i], 0) << w;
        EXPECT_EQ(getUInt(v + w - 4, 4, true), 0x01020304u) << "width " << w;
        EXPECT_EQ(b->part1Size(), b->fieldsSize());
    }
    MBDF m(16);
    EXPECT_EQ(m.setTop("K", "n", "v", nullptr, 0), FCACHE_E_FAIL);

    // A part 1 set shorter than the layout reads as zero-filled fields.
    QUILBN3TopBlock shortTop;
    ASSERT_EQ(shortTop.setTag(MBDF_TOP_TAG), 0);
    const std::string forty(40, 'v');
    ASSERT_EQ(shortTop.setPart1(forty.data(), 40), 0);
    ASSERT_TRUE(shortTop.isValid());
    EXPECT_EQ(shortTop.extraField()[15], 0);
    MBDFTopBlock copy;
    ASSERT_EQ(copy.copyFrom(shortTop, true), 0);
    EXPECT_EQ(copy.extraField()[15], 0);
}

TEST(MBDFContainer, DamagedFilesAreRefused)
{
    qtest::TempDir dir;
    const std::string path = dir.file("bad.mbdf");
    const std::string top = topBlock();
    const std::string data = block("DATA", "", 24, "abcd", "efgh");
    struct Case {
        const char* what;
        std::string bytes;
        JResult expected;
    };
    const Case cases[] = {
        {"empty file", "", FCACHE_E_DATA},
        {"truncated top header", top.substr(0, 30), FCACHE_E_DATA},
        {"no top block", data + endBlock(), FCACHE_E_DATA},
        {"truncated inside a data block", top + data.substr(0, data.size() - 2), FCACHE_E_DATA},
        {"no end block", top + data, FCACHE_E_DATA},
        {"end block with a part", top + block("#END", "", 24, "x"), FCACHE_E_DATA},
        {"zero name area", top + block("", "", 24, "abcd") + endBlock(), FCACHE_E_DATA},
        {"huge part 2", top + block("DATA", "", 24, "abcd", "", -1, 0x80000000u) + endBlock(), FCACHE_E_DATA},
        {"wrapping lengths", top + block("DATA", "", 24, "", "", 0xFFFFFFFCu, 8) + endBlock(), FCACHE_E_DATA},
        {"short top block", block("#VALDOR MBDF", "Archive", 12, "abc") + endBlock(), FCACHE_E_DATA},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(qtest::writeFile(path, c.bytes));
        for (bool loadPart2 : {false, true}) {
            MBDF m(16);
            RecordingObserver o;
            EXPECT_EQ(m.read(path.c_str(), loadPart2, nullptr, &o), c.expected) << c.what;
            ASSERT_EQ(o.errors.size(), 1u) << c.what;
            EXPECT_EQ(o.errors[0], std::make_pair(0, c.expected));
            EXPECT_FALSE(m.isValid()) << c.what;
        }
    }
    MBDF m(16);
    EXPECT_EQ(m.read(dir.file("missing").c_str(), true, nullptr, nullptr), FCACHE_E_FILE);
    EXPECT_EQ(m.read(nullptr, true, nullptr, nullptr), FCACHE_E_FAIL);
}

TEST(MBDFContainer, AbortIsNotSuccess)
{
    qtest::TempDir dir;
    const std::string path = dir.file("a.mbdf");
    MBDF out(16);
    ASSERT_EQ(out.setTop("K", "n", "v", "e", 1), 0);
    out.append(plainBlock("ONE", "1", ""));
    out.append(plainBlock("TWO", "2", ""));
    ASSERT_EQ(out.write(path.c_str(), nullptr, nullptr), 0);

    MBDFAbortFlag abort{1};
    MBDF in(16);
    RecordingObserver r;
    EXPECT_EQ(in.read(path.c_str(), true, &abort, &r), FCACHE_E_ABORTED);
    EXPECT_EQ(r.texts(), (ContainerTexts{"Aborted."}));
    EXPECT_TRUE(r.errors.empty());
    EXPECT_FALSE(in.isValid());
    EXPECT_EQ(in.blockCount(), 0u);

    // Aborted after the first data block.
    abort = 0;
    RecordingObserver r2;
    r2.onProgress = [&](const Report& rep) {
        if (rep.text == "Reading data blocks...")
            abort = 1;
    };
    EXPECT_EQ(in.read(path.c_str(), true, &abort, &r2), FCACHE_E_ABORTED);
    EXPECT_EQ(r2.texts().back(), "Aborted.");
    EXPECT_EQ(in.blockCount(), 1u);
}

// A save that fails or is aborted halfway leaves the previous file exactly
// as it was, and says so.
TEST(MBDFContainer, FailedSaveKeepsThePreviousFile)
{
    qtest::TempDir dir;
    const std::string path = dir.file("setup.mbdf");
    const std::string previous = "previous content, byte for byte";
    ASSERT_TRUE(qtest::writeFile(path, previous));

    MBDF out(16);
    ASSERT_EQ(out.setTop("K", "n", "v", "e", 1), 0);
    for (int i = 0; i < 5; ++i)
        out.append(plainBlock("BLOCK", std::string(1000, 'a' + i), ""));

    MBDFAbortFlag abort{0};
    RecordingObserver o;
    int dataBlocks = 0;
    o.onProgress = [&](const Report& rep) {
        if (rep.text == "Writing data blocks..." && ++dataBlocks == 3)
            abort = 1;
    };
    EXPECT_EQ(out.write(path.c_str(), &abort, &o), FCACHE_E_ABORTED);
    EXPECT_EQ(o.texts().back(), "Aborted.");
    EXPECT_EQ(o.reports.back().current, 4u) << "three data blocks were written";
    EXPECT_EQ(qtest::readFile(path), previous);
    EXPECT_EQ(folderEntries(dir.path()), (ContainerTexts{"setup.mbdf"}));

    // A block the reader would refuse fails the save the same way.
    auto big = std::make_unique<MBDFAbstractBlock>();
    big->setTag("BIG");
    const std::string half(MBDF_BLOCK_LIMIT / 2 + 1, 'x');
    ASSERT_EQ(big->setPart1(half.data(), static_cast<uint32_t>(half.size())), 0);
    ASSERT_EQ(big->setPart2(half.data(), static_cast<uint32_t>(half.size())), 0);
    out.append(std::move(big));
    RecordingObserver failed;
    EXPECT_EQ(out.write(path.c_str(), nullptr, &failed), FCACHE_E_DATA);
    ASSERT_EQ(failed.errors.size(), 1u);
    EXPECT_EQ(failed.errors[0], std::make_pair(1, FCACHE_E_DATA));
    EXPECT_EQ(qtest::readFile(path), previous);
    EXPECT_EQ(folderEntries(dir.path()), (ContainerTexts{"setup.mbdf"}));

    // A folder in the way, or a missing folder.
    EXPECT_EQ(out.write(dir.path().c_str(), nullptr, nullptr), FCACHE_E_FILE);
    EXPECT_EQ(out.write(dir.file("no/such/file").c_str(), nullptr, nullptr), FCACHE_E_FILE);
}

TEST(MBDFContainer, TopTagFactoryDoesNotDependOnOrder)
{
    // Whatever container kinds exist, a data block tagged "#VALDOR MBDF" is
    // made as the 48-byte variant.
    MBDF k4(4);
    MBDF k28(28);
    IMBDFBlockFactory* f = mbdf_factoryFor(MBDF_TOP_TAG);
    ASSERT_NE(f, nullptr);
    auto made = f->create();
    auto* top = dynamic_cast<BaseTopBlock*>(made.get());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->fieldsSize(), 48u);
    EXPECT_NE(mbdf_factoryFor(MBDF_END_TAG), nullptr);
    EXPECT_EQ(mbdf_registerFactory(nullptr, f), FCACHE_E_FAIL);
    // The first registration of a tag is kept.
    MBDFBlockFactory<QUILTopBlock> other;
    EXPECT_EQ(mbdf_registerFactory(MBDF_TOP_TAG, &other), 0);
    EXPECT_EQ(mbdf_factoryFor(MBDF_TOP_TAG), f);
}
