// The .dnt check against files written by the independent generator
// (tests/peers/dnt_gen.py): every good file's extracted information and
// every broken or crafted file's code, read through the file path.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One manifest row, flattened by a small python reader of manifest.json.
struct ModelRow {
    std::string id; // hex
    uint32_t bits = 0;
    std::string part12, part1, fw, sw;
};

struct FileRow {
    std::string name;
    std::string code;
    uint32_t headerVersion = 0, word12 = 0, major = 0, minor = 0, build = 0;
    std::string platform, manf;
    std::vector<ModelRow> models;
};

const char* kFlatten = R"PY(
import json, sys
m = json.load(open(sys.argv[1]))
for name in sorted(m):
    row = m[name]
    out = [name, row["code"]]
    i = row.get("info")
    if i:
        out += [str(i[k]) for k in ("header_version", "word12", "major", "minor", "build")]
        out += [i["platform"], i["manf_id"], str(len(i["models"]))]
        for md in i["models"]:
            out += [md["model_id"], str(md["part_bits"]), md["part12"], md["part1"], md["fw"], md["sw"]]
    print(" ".join(out))
)PY";

std::vector<FileRow> generate(const qtest::TempDir& dir, const std::string& options)
{
    const std::string script = dir.file("flatten.py");
    EXPECT_TRUE(qtest::writeFile(script, kFlatten));
    std::string output;
    const std::string command = "python3 " + qtest::peerPath("dnt_gen.py") + " " + dir.path() + " " + options
        + " >/dev/null && python3 " + script + " " + dir.file("manifest.json");
    EXPECT_EQ(qtest::runCommand(command, &output), 0) << command;
    std::vector<FileRow> rows;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        FileRow row;
        f >> row.name >> row.code;
        if (row.code == "ERR_NOERR") {
            size_t count = 0;
            f >> row.headerVersion >> row.word12 >> row.major >> row.minor >> row.build >> row.platform >> row.manf
                >> count;
            for (size_t i = 0; i < count; ++i) {
                ModelRow md;
                f >> md.id >> md.bits >> md.part12 >> md.part1 >> md.fw >> md.sw;
                row.models.push_back(md);
            }
        }
        rows.push_back(row);
    }
    return rows;
}

std::u16string utf16(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string version(const DfaVersion& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.bugfix) + "."
        + std::to_string(v.build);
}

std::string platform(const uint8_t* id)
{
    return std::string(reinterpret_cast<const char*>(id), strnlen(reinterpret_cast<const char*>(id), 8));
}

void expectInfo(const FileRow& row, const DntFileInfo& info)
{
    EXPECT_EQ(info.header_version, row.headerVersion);
    EXPECT_EQ(info.word12, row.word12);
    EXPECT_EQ(info.major, row.major);
    EXPECT_EQ(info.minor, row.minor);
    EXPECT_EQ(info.build, row.build);
    EXPECT_EQ(platform(info.platform), row.platform);
    EXPECT_EQ(qtest::hex(info.manf_id, 8), row.manf);
    ASSERT_EQ(info.md_count, row.models.size());
    for (size_t i = 0; i < row.models.size(); ++i) {
        SCOPED_TRACE("model descriptor " + std::to_string(i));
        const DntModelDesc& md = info.md[i];
        EXPECT_EQ(qtest::hex(md.model_id, 8), row.models[i].id);
        EXPECT_EQ(md.parts, row.models[i].bits);
        EXPECT_EQ(version(md.part12), row.models[i].part12);
        EXPECT_EQ(version(md.part1), row.models[i].part1);
        EXPECT_EQ(version(md.fw), row.models[i].fw);
        EXPECT_EQ(version(md.sw), row.models[i].sw);
    }
}

class DntFiles : public ::testing::Test {
protected:
    void SetUp() override { dfa_set_print_level(0); }
    void TearDown() override { dfa_set_print_level(2); }
};

TEST_F(DntFiles, EveryGeneratedFileGivesItsCodeAndInformation)
{
    const qtest::TempDir dir;
    const std::vector<FileRow> rows = generate(dir, "");
    ASSERT_GT(rows.size(), 40u);
    int good = 0;
    for (const FileRow& row : rows) {
        SCOPED_TRACE(row.name);
        const auto info = std::make_unique<DntFileInfo>();
        const std::u16string path = utf16(dir.file(row.name));
        const DfaResult code = dfa_dntchk_dntfile(path.c_str(), info.get());
        EXPECT_STREQ(dfa_error_name(code), row.code.c_str());
        EXPECT_EQ(info->path, path);
        EXPECT_EQ(info->info_exist, row.code == "ERR_NOERR" ? 1 : 0);
        if (row.code == "ERR_NOERR") {
            expectInfo(row, *info);
            ++good;
        } else if (info->header_version == 2) {
            // A failed version-2 check leaves no identity behind.
            EXPECT_EQ(info->md_count, 0);
            EXPECT_EQ(qtest::hex(info->manf_id, 8), "0000000000000000");
        }
    }
    EXPECT_GE(good, 10);
}

TEST_F(DntFiles, SizeLimitIsInclusive)
{
    const qtest::TempDir dir;
    const std::vector<FileRow> rows = generate(dir, "--big --only v2_exact_limit v2_limit_plus_one");
    ASSERT_EQ(rows.size(), 2u);
    for (const FileRow& row : rows) {
        SCOPED_TRACE(row.name);
        const auto info = std::make_unique<DntFileInfo>();
        const std::u16string path = utf16(dir.file(row.name));
        EXPECT_STREQ(dfa_error_name(dfa_dntchk_dntfile(path.c_str(), info.get())), row.code.c_str());
    }
}

TEST_F(DntFiles, FilesThatCannotBeReadWhole)
{
    const qtest::TempDir dir;
    const auto info = std::make_unique<DntFileInfo>();
    EXPECT_EQ(dfa_dntchk_dntfile(utf16(dir.file("absent.dnt")).c_str(), info.get()), DFA_ERR_DNT_NOT_FOUND);
    // A folder has no size to read.
    EXPECT_EQ(dfa_dntchk_dntfile(utf16(dir.path()).c_str(), info.get()), DFA_ERR_DNT_NOT_FOUND);
    // A path longer than the record holds names another file: not looked for.
    const std::string longName = dir.file(std::string(200, 'a'));
    ASSERT_TRUE(qtest::writeFile(longName, "AUDI"));
    EXPECT_EQ(dfa_dntchk_dntfile(utf16(longName).c_str(), info.get()), DFA_ERR_DNT_NOT_FOUND);
    EXPECT_EQ(info->info_exist, 0);
    EXPECT_EQ(dfa_dntchk_dntfile(nullptr, info.get()), DFA_ERR_PARAM);
    // An unpaired surrogate would cut the name to that of another file.
    generate(dir, "--only v3_one_model");
    const std::u16string cut = utf16(dir.file("v3_one_model.dnt"));
    EXPECT_EQ(dfa_dntchk_dntfile(cut.c_str(), info.get()), DFA_ERR_NOERR);
    EXPECT_EQ(dfa_dntchk_dntfile((cut + u'\xD800' + u"x").c_str(), info.get()), DFA_ERR_DNT_NOT_FOUND);
    EXPECT_EQ(dfa_dntchk_dntfile((cut + u"\xDC00").c_str(), info.get()), DFA_ERR_DNT_NOT_FOUND);
}

TEST_F(DntFiles, LogLinesNameTheFileAndTheOutcome)
{
    const qtest::TempDir dir;
    generate(dir, "--only v3_one_model");
    dfa_set_print_level(2);
    testing::internal::CaptureStdout();
    const auto info = std::make_unique<DntFileInfo>();
    const std::string path = dir.file("v3_one_model.dnt");
    EXPECT_EQ(dfa_dntchk_dntfile(utf16(path).c_str(), info.get()), DFA_ERR_NOERR);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[dntchk] Start checking dnt file [" + path + "]\n"), std::string::npos);
    EXPECT_NE(out.find("[dntchk] End checking dnt file [" + path + "]. infoExist:1\n"), std::string::npos);
    EXPECT_NE(out.find("[dntchk] manf_id=56616C646F720000, model_id=42524F5832340000, model_name=Brox 24 Dante, "
                       "sw_ver=4.2.1.7, fw_ver=4.2.0.3\n"),
        std::string::npos);
}

} // namespace
