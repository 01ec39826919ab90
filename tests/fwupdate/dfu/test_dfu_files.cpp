// The .dnt paths and what the window reads back: the folder and file names
// handed to the agent (whose settings holder lives only while it runs, here
// on the fake glue), the file information, module types and the version
// comparison against files made by dnt_gen.py.
#include "tests/fwupdate/dfu/dfu_fixture.h"

#include <sys/stat.h>

namespace {

using dfutest::deviceNamed;
using dfutest::Empty;
using dfutest::feed;
using dfutest::FrontTest;
using dfutest::makeDnt;
using dfutest::path160;
using dfutest::u16;

const char* const kIllegal = "[ERROR] illegal file path! DanteFirmwareUpdateModule::setDanteFilePath()";
const char* const kTooLong = "[ERROR] too long file path! DanteFirmwareUpdateModule::setDanteFilePath()";
const char* const kNoInfo = "[ERROR] get dante file info! DanteFirmwareUpdateModule::setDanteFilePath()";

class DfuFrontFiles : public FrontTest {
protected:
    void SetUp() override
    {
        FrontTest::SetUp();
        ASSERT_TRUE(makeDnt(dir.path(), "v3_wildcard", "module.dnt"));
        ASSERT_TRUE(makeDnt(dir.path(), "v2_with_cap", "b3.dnt"));
        ASSERT_TRUE(qtest::writeFile(dir.file("notes.txt"), "not a firmware file"));
    }
    DfuResult setPaths(const std::u16string& p0, const std::u16string& p1)
    {
        const auto a = path160(p0);
        const auto b = path160(p1);
        return front->setDanteFilePath(a.data(), b.data());
    }
    // A folder inside dir whose path has exactly `length` characters.
    std::string folderOf(size_t length)
    {
        std::string folder = dir.path() + "/";
        folder += std::string(length - folder.size(), 'f');
        ::mkdir(folder.c_str(), 0700);
        return folder;
    }
    std::u16string file(const std::string& name) { return u16(dir.file(name)); }

    qtest::TempDir dir;
};

TEST_F(DfuFrontFiles, PathsAreSplitCheckedAndRead)
{
    running();
    const std::string longest = folderOf(DFU_FOLDER_MAX);
    ASSERT_TRUE(qtest::writeFile(longest + "/module.dnt", qtest::readFile(dir.file("module.dnt"))));
    const struct Row {
        const char* what;
        std::u16string p0;
        std::u16string p1;
        DfuResult result;
        const char* line;
    } rows[] = {
        {"no folder", u"x.dnt", u"", DFU_E_ILLEGAL_PATH, kIllegal},
        {"empty first path", u"", u"", DFU_E_ILLEGAL_PATH, kIllegal},
        {"one character", u"/", u"", DFU_E_ILLEGAL_PATH, kIllegal},
        {"separator only first", u"/x.dnt", u"", DFU_E_ILLEGAL_PATH, kIllegal},
        {"second path without folder", file("module.dnt"), u"y.dnt", DFU_E_ILLEGAL_PATH, kIllegal},
        {"slash", file("module.dnt"), u"", DFU_OK, nullptr},
        {"backslash", u16(dir.path()) + u"\\module.dnt", u"", DFU_OK, nullptr},
        {"both slots", file("module.dnt"), file("b3.dnt"), DFU_OK, nullptr},
        {"longest folder", u16(longest) + u"/module.dnt", u"", DFU_OK, nullptr},
        {"one character more", u16(folderOf(DFU_FOLDER_MAX + 1)) + u"/module.dnt", u"", DFU_E_PATH_TOO_LONG, kTooLong},
        {"159 characters", std::u16string(159, u'd') + u"/", u"", DFU_E_PATH_TOO_LONG, kTooLong},
        {"not a firmware file", file("notes.txt"), u"", DFU_E_FILE_INFO, kNoInfo},
        {"second file missing", file("module.dnt"), file("gone.dnt"), DFU_E_FILE_INFO, kNoInfo},
    };
    for (const Row& row : rows) {
        log.clear();
        EXPECT_EQ(setPaths(row.p0, row.p1), row.result) << row.what;
        if (row.line != nullptr) {
            EXPECT_EQ(log.lines(), std::vector<std::string>{row.line}) << row.what;
        }
    }
    EXPECT_EQ(calls.size(), 2u) << "only the interface chain's events";
}

TEST_F(DfuFrontFiles, EmptySecondPathClearsSlotOne)
{
    running();
    ASSERT_EQ(setPaths(file("module.dnt"), file("b3.dnt")), DFU_OK);
    EXPECT_EQ(std::memcmp(front->getFileInfo(0).platform, "Bklyn2\0\0", 8), 0);
    EXPECT_EQ(std::memcmp(front->getFileInfo(1).platform, "Bklyn3\0\0", 8), 0);
    front->addDfuDevice(deviceNamed("b3", "Bklyn3"));
    front->addDfuDevice(deviceNamed("b2", "Bklyn2"));
    char16_t path[DFU_PATH_CHARS] = {};
    ASSERT_EQ(front->getDntFilePath("b3", path), DFU_OK);
    EXPECT_EQ(std::u16string(path), file("b3.dnt"));
    ASSERT_EQ(front->getDntFilePath("b2", path), DFU_OK);
    EXPECT_EQ(std::u16string(path), file("module.dnt"));

    ASSERT_EQ(setPaths(file("module.dnt"), u""), DFU_OK);
    EXPECT_EQ(std::memcmp(front->getFileInfo(1).platform, "NoModel", 8), 0);
    EXPECT_EQ(front->getDntFilePath("b3", path), DFU_E_FAIL);
    EXPECT_EQ(front->getDntFilePath("ghost", path), DFU_E_FAIL);
}

// A package lists its Dante files in its folder's order: whichever path
// comes first, each module is given the file for its own module, and a
// Brooklyn-3 file alone is not handed to Brooklyn-2 modules.
TEST_F(DfuFrontFiles, FilesGoToTheSlotsOfTheirModulesInEitherOrder)
{
    running();
    front->addDfuDevice(deviceNamed("b3", "Bklyn3"));
    front->addDfuDevice(deviceNamed("b2", "Bklyn2"));
    const struct {
        const char* what;
        std::u16string p0, p1, forB2, forB3;
    } rows[] = {
        {"Brooklyn-3 file first", file("b3.dnt"), file("module.dnt"), file("module.dnt"), file("b3.dnt")},
        {"Brooklyn-3 file alone", file("b3.dnt"), u"", u"", file("b3.dnt")},
        {"Brooklyn-2 file alone", file("module.dnt"), u"", file("module.dnt"), u""},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(setPaths(row.p0, row.p1), DFU_OK) << row.what;
        for (const auto& [device, wanted] : {std::pair{"b2", row.forB2}, std::pair{"b3", row.forB3}}) {
            char16_t path[DFU_PATH_CHARS] = {};
            EXPECT_EQ(front->getDntFilePath(device, path), wanted.empty() ? DFU_E_FAIL : DFU_OK)
                << row.what << " " << device;
            EXPECT_EQ(std::u16string(path), wanted) << row.what << " " << device;
        }
    }
    EXPECT_EQ(std::memcmp(front->getFileInfo(0).platform, "Bklyn2\0\0", 8), 0);
    EXPECT_EQ(std::memcmp(front->getFileInfo(1).platform, "NoModel", 8), 0);
}

TEST_F(DfuFrontFiles, SettingsNeedTheRunningAgent)
{
    stopped();
    EXPECT_EQ(setPaths(file("module.dnt"), u""), DFU_E_FAIL);
    EXPECT_TRUE(log.has("[ERROR] read dante file! DanteFirmwareUpdateModule::setDanteFilePath()"));
    EXPECT_EQ(calls.calls(), std::vector<std::string>{"A11:8005"});
}

// The Brooklyn-3 file's information, narrowed to every model (the front's
// all-zero model id), has an all-zero descriptor model id; at the end of the
// browse window it is matched exactly, so a named model is no match.
TEST_F(DfuFrontFiles, ModelMatchAgainstTheSecondFile)
{
    running();
    ASSERT_EQ(setPaths(file("module.dnt"), file("b3.dnt")), DFU_OK);
    const uint8_t zeroId[8] = {};
    ASSERT_EQ(std::memcmp(front->getFileInfo(1).md[0].model_id, zeroId, 8), 0);
    DfaDeviceInfo named = deviceNamed("named", "Bklyn3");
    std::memcpy(named.manf_model_id, "PELL16\0\0", 8);
    front->addDfuDevice(named);
    front->addDfuDevice(deviceNamed("zero", "Bklyn3"));
    front->addDfuDevice(deviceNamed("b2", "Bklyn2"));
    feed(DFA_ERR_DURATION_EXPIRE, DFA_CBACK_INF_DEVICE_LIST, Empty{});
    ASSERT_TRUE(calls.await("E2"));
    EXPECT_FALSE(front->getDeviceModelMatch("named"));
    EXPECT_TRUE(front->getDeviceModelMatch("zero"));
    EXPECT_FALSE(front->getDeviceModelMatch("b2"));
}

DfaVersion version(uint8_t major, uint8_t minor, uint16_t bugfix)
{
    return DfaVersion{major, minor, bugfix, 99};
}

TEST_F(DfuFrontFiles, VersionsAndTheirComparison)
{
    running();
    ASSERT_EQ(setPaths(file("module.dnt"), u""), DFU_OK);
    ASSERT_EQ(front->setDanteFileVersion(DfuVersion{4, 2, 3}, DFU_MODULE_BKLYN2), DFU_OK);
    // No slot holds a Brooklyn-3 file; 7 is no module type.
    EXPECT_EQ(front->setDanteFileVersion(DfuVersion{1, 1, 1}, DFU_MODULE_BKLYN3), DFU_E_FAIL);
    EXPECT_EQ(front->setDanteFileVersion(DfuVersion{1, 1, 1}, 7), DFU_E_FAIL);

    // The file's triples by kind (dnt_gen's v3_wildcard: part 12 4.2.0.12,
    // firmware 4.2.0.3, software 4.2.1.7, header 4.2 build 7).
    const DfuVersion fileTriples[] = {{4, 2, 0}, {4, 2, 3}, {4, 2, 0}, {4, 2, 1}, {4, 2, 7}};
    for (uint32_t kind = 0; kind < 5; ++kind) {
        DfuVersion v{};
        ASSERT_EQ(front->getFileVersion(0, kind, &v), DFU_OK) << kind;
        EXPECT_TRUE(v == fileTriples[kind]) << kind;
    }
    DfuVersion v{};
    EXPECT_EQ(front->getFileVersion(0, 5, &v), DFU_E_FAIL);
    EXPECT_EQ(front->getFileVersion(2, 0, &v), DFU_E_FAIL);

    const struct Row {
        const char* name;
        DfaVersion danteFw;
        DfaVersion manfSw;
        int expected;
    } rows[] = {
        {"equal", version(4, 2, 3), version(4, 2, 1), 0},
        {"dante lower", version(4, 2, 2), version(4, 2, 1), 1},
        {"dante higher", version(4, 2, 4), version(4, 2, 1), -1},
        {"dante minor decides first", version(4, 3, 0), version(0, 0, 0), -1},
        {"dante major decides first", version(3, 9, 9), version(9, 9, 9), 1},
        {"manufacturer lower", version(4, 2, 3), version(4, 2, 0), 1},
        {"manufacturer higher", version(4, 2, 3), version(4, 2, 2), -1},
        {"third part is 16 bits", version(4, 2, 0x0103), version(4, 2, 1), -1},
    };
    for (const Row& row : rows) {
        DfaDeviceInfo d = deviceNamed(row.name);
        d.dante_fw_version = row.danteFw;
        d.manf_sw_version = row.manfSw;
        front->addDfuDevice(d);
        EXPECT_EQ(front->compareVersion(row.name), row.expected) << row.name;
    }
    front->addDfuDevice(deviceNamed("brooklyn3", "Bklyn3"));
    EXPECT_EQ(front->compareVersion("brooklyn3"), -1);
    EXPECT_EQ(front->compareVersion("ghost"), -1);

    // A device's triples by kind.
    DfaDeviceInfo d = deviceNamed("kinds");
    d.dante_sw_version = version(1, 0, 0);
    d.dante_fw_version = version(2, 0, 0);
    d.manf_fw_version = version(3, 0, 0);
    d.manf_sw_version = version(4, 0, 0);
    front->addDfuDevice(d);
    for (uint32_t kind = 0; kind < 4; ++kind) {
        ASSERT_EQ(front->getDeviceVersion("kinds", kind, &v), DFU_OK) << kind;
        EXPECT_EQ(v.major, kind + 1) << kind;
    }
    EXPECT_EQ(front->getDeviceVersion("kinds", 4, &v), DFU_E_FAIL);
    EXPECT_EQ(front->getDeviceVersion("ghost", 1, &v), DFU_E_FAIL);
}

TEST_F(DfuFrontFiles, ModuleTypes)
{
    stopped();
    front->addDfuDevice(deviceNamed("b2", "Bklyn2"));
    front->addDfuDevice(deviceNamed("b3", "Bklyn3"));
    front->addDfuDevice(deviceNamed("pc", "DvsWin3"));
    EXPECT_EQ(front->getDeviceModuleType("b2"), DFU_MODULE_BKLYN2);
    EXPECT_EQ(front->getDeviceModuleType("b3"), DFU_MODULE_BKLYN3);
    EXPECT_EQ(front->getDeviceModuleType("pc"), DFU_MODULE_NONE);
    EXPECT_EQ(front->getDeviceModuleType("ghost"), DFU_MODULE_NONE);
}

} // namespace
