#include "fwupdate/package/fwpkg_filemanager.h"

#include "device/layouts/dev_modeltypes.h"
#include "tests/fwupdate/package/fwpkg_fixture.h"

using namespace fwpkgtest;

namespace {

const uint32_t kV123a = version('V', 1, 23, 0);

struct OpenRow {
    const char* what;
    int width; // 16, 28, or a width that fits neither
    std::string top;
    std::string field; // hex
    int dntFiles; // "data/dN.dnt" entries besides the firmware file
    JResult result;
    int32_t modelType; // after the open
    Texts versions;
    bool unpacksToHome;
};

std::string words(std::initializer_list<uint32_t> ws)
{
    std::string out;
    for (uint32_t w : ws)
        out += word(w);
    return out;
}

const uint32_t kDanteWords[] = {0x04010203, 0x00000007, 0x0A0B0C0D, 0x04020000, 0x01020304, 0xFF000001};

std::vector<OpenRow> openRows()
{
    const std::string v = word(kV123a);
    std::vector<OpenRow> rows = {
        {"BroxL-D", 16, "QuilBroxL-D", v, 0, 0, Quil::MODEL_BROXL_D, {"v123a"}, true},
        {"BroxM-D", 16, "QuilBroxM-D", v, 0, 0, Quil::MODEL_BROXM_D, {"v123a"}, true},
        {"BroxI-D", 16, "QuilBroxI-D", v, 0, 0, Quil::MODEL_BROXI_D, {"v123a"}, true},
        {"BroxO-D", 16, "QuilBroxO-D", v, 0, 0, Quil::MODEL_BROXO_D, {"v123a"}, true},
        {"Sorn-D: package type 6", 16, "QuilSorn-D", v, 0, 0, Quil::MODEL_SORN_D, {"v123a"}, true},
        {"Mavik-D: package type 5", 16, "QuilMavik-D", v, 0, 0, Quil::MODEL_MAVIK_D, {"v123a"}, true},
        {"PellM-D", 16, "QuilPellM-D", v, 0, 0, Quil::MODEL_PELLM_D, {"v123a"}, true},
        {"BroxL-D2", 16, "QuilBroxL-D2", v, 0, 0, Quil::MODEL_BROXL_D2, {"v123a"}, true},
        {"BroxM-D2, kind 28", 28, "QuilBroxM-D2", v, 0, 0, Quil::MODEL_BROXM_D2, {"v123a"}, true},
        {"test release word", 16, "QuilBroxL-D", word(version('R', 12, 5, 25)), 0, 0, Quil::MODEL_BROXL_D, {"r1205z"},
            true},
        {"Quil + Brox-D3: no swap, not unpacked", 16, "QuilBrox-D3", v, 0, 0, Quil::MODEL_BROXL_D3, {"v123a"}, false},
        {"bare Brox-D3: word 0 swapped", 16, "Brox-D3", swappedWord(kV123a), 0, 0, Quil::MODEL_BROXL_D3, {"v123a"},
            false},
        {"two Dante files, kind 28", 28, "QuilBroxL-D",
            words({kV123a, kDanteWords[0], kDanteWords[1], kDanteWords[2], kDanteWords[3], kDanteWords[4],
                kDanteWords[5]}),
            2, 0, Quil::MODEL_BROXL_D, {"v123a", "v4123", "v0007", "v10111213", "v4200", "v1234", "v255001"}, true},
        {"unknown model", 16, "QuilFoo-D", v, 0, FWPKG_E_INVALID, 0, {}, false},
        {"model name as a prefix only", 16, "QuilBroxL-D2x", v, 0, FWPKG_E_INVALID, 0, {}, false},
        {"Brox-D3 with a tail", 16, "Brox-D3X", v, 0, FWPKG_E_INVALID, 0, {}, false},
        {"neither Quil nor Brox-D3", 16, "Foo", v, 0, FWPKG_E_HEADER, 0, {}, false},
        {"field fits neither kind", 40, "QuilBroxL-D", v, 0, FWPKG_E_KIND, 0, {}, false},
        {"kind 16 field too short for two Dante files", 16, "QuilBroxL-D", words({kV123a, 1, 2, 3}), 2, FWPKG_E_VERSION,
            Quil::MODEL_BROXL_D, {}, true},
        {"letter index 26", 16, "QuilBroxL-D", word(version('V', 1, 23, 26)), 0, FWPKG_E_VERSION, Quil::MODEL_BROXL_D,
            {}, true},
        {"top byte neither V nor R", 16, "QuilBroxL-D", word(version('v', 1, 23, 0)), 0, FWPKG_E_VERSION,
            Quil::MODEL_BROXL_D, {}, true},
        {"minor 100", 16, "QuilBroxL-D", word(version('V', 1, 100, 0)), 0, FWPKG_E_VERSION, Quil::MODEL_BROXL_D, {},
            true},
        {"bare Brox-D3 stored in the usual order", 16, "Brox-D3", word(kV123a), 0, FWPKG_E_VERSION,
            Quil::MODEL_BROXL_D3, {}, false},
    };
    return rows;
}

class FwPackageOpen : public PackageSandbox { };

} // namespace

TEST_F(FwPackageOpen, HeaderAndFieldTable)
{
    const std::vector<OpenRow> rows = openRows();
    std::vector<PackagePlan> plans;
    for (size_t i = 0; i < rows.size(); ++i) {
        Texts entries = firmwareEntries();
        for (int d = 0; d < rows[i].dntFiles; ++d)
            entries.push_back("data/d" + std::to_string(d) + ".dnt=" + dnt);
        plans.push_back({"p" + std::to_string(i) + ".bin", rows[i].width, rows[i].top, rows[i].field, entries, ""});
    }
    const Texts paths = packages(plans);
    for (size_t i = 0; i < rows.size(); ++i) {
        const OpenRow& row = rows[i];
        const std::string& path = paths[i];
        SCOPED_TRACE(row.what);
        FirmUpdateUIFileManager reader;
        QString header;
        QStringList versions{"kept"};
        const JResult r = reader.openPackage(QString::fromStdString(path), nullptr, nullptr, &header, &versions);
        EXPECT_EQ(r, row.result);
        EXPECT_EQ(reader.isUnpacked(), row.result >= 0);
        EXPECT_EQ(header.toStdString(), row.result == FWPKG_E_KIND ? "" : row.top);
        Texts got;
        for (const QString& s : versions.mid(1))
            got.push_back(s.toStdString());
        EXPECT_EQ(versions.value(0), "kept") << "texts are appended";
        EXPECT_EQ(got, row.versions);
        int32_t type = -1;
        EXPECT_EQ(reader.getModelType(&type), row.modelType ? 0 : FWPKG_E_MODEL_TYPE);
        EXPECT_EQ(type, row.modelType);
        EXPECT_EQ(unpackFolders(home).size(), row.unpacksToHome ? 1u : 0u);
        QString fw;
        reader.getFirmwarePath(&fw);
        QStringList dante;
        reader.getDanteFiles(&dante);
        if (row.result >= 0 && row.unpacksToHome) {
            const std::string data = home + "/" + unpackFolders(home)[0] + "/data";
            EXPECT_EQ(fw.toStdString(), data + "/fw.BIN");
            EXPECT_EQ(qtest::readFile(fw.toStdString()), qtest::readFile(firmware));
            EXPECT_EQ(dante.size(), row.dntFiles);
        } else if (row.modelType == Quil::MODEL_BROXL_D3) {
            EXPECT_EQ(fw.toStdString(), path);
            EXPECT_TRUE(dante.isEmpty());
        }
    }
}

TEST_F(FwPackageOpen, MissingOrForeignContainer)
{
    const std::string setup = package("setup.quil", 16, "QuilBroxL-D", word(kV123a), firmwareEntries(), "Setup");
    for (const std::string& path : {setup, pkgDir + "/missing.bin", pkgDir}) {
        SCOPED_TRACE(path);
        FirmUpdateUIFileManager reader;
        QString header = "old";
        EXPECT_EQ(reader.openPackage(QString::fromStdString(path), nullptr, nullptr, &header, nullptr), FWPKG_E_OPEN);
        EXPECT_FALSE(reader.isUnpacked());
        EXPECT_EQ(header, "");
        EXPECT_EQ(reader.readVersions(nullptr, nullptr), FWPKG_E_OPEN);
    }
}

TEST_F(FwPackageOpen, DisplayTextsWithTwoDanteFiles)
{
    const std::string path = package("p.bin", 28, "QuilBroxL-D",
        words({kV123a, kDanteWords[0], kDanteWords[1], kDanteWords[2], kDanteWords[3], kDanteWords[4], kDanteWords[5]}),
        {"data/", "data/fw.BIN=" + firmware, "data/a.dnt=" + dnt, "data/b.dnt=" + dnt});
    FirmUpdateUIFileManager reader;
    QString header;
    QStringList versions;
    ASSERT_EQ(reader.openPackage(QString::fromStdString(path), nullptr, nullptr, &header, &versions), 0);

    QString formatted;
    QStringList dotted;
    EXPECT_EQ(reader.danteVersionTexts(&formatted, &dotted), 0);
    EXPECT_EQ(formatted, "V1.23a");
    EXPECT_EQ(dotted, QStringList({"4.1.2", "0.0.0", "10.11.12", "4.2.0", "1.2.3", "255.0.0"}));

    QString model, fwVersion, fwFormatted, summary;
    QStringList lines;
    bool hasDante = false;
    EXPECT_EQ(reader.displayTexts(header, &model, versions, &fwVersion, &fwFormatted, &lines, &summary, &hasDante), 0);
    EXPECT_EQ(model, "BroxL-D");
    EXPECT_EQ(fwVersion, "v123a");
    EXPECT_EQ(fwFormatted, "V1.23a");
    EXPECT_EQ(lines, QStringList({"4.1.2  ,   10.11.12", "4.2.0  ,   255.0.0"}));
    EXPECT_EQ(summary, "V1.23a  ,   4.1.2  ,   0.0.0  ,   10.11.12  ,   4.2.0  ,   1.2.3  ,   255.0.0");
    EXPECT_TRUE(hasDante);
}

TEST_F(FwPackageOpen, DisplayTextsWithoutDanteLeaveOutputs)
{
    const std::string path = package("p.bin", 16, "QuilSorn-D", word(version('R', 2, 7, 3)), firmwareEntries());
    FirmUpdateUIFileManager reader;
    QString header;
    QStringList versions;
    ASSERT_EQ(reader.openPackage(QString::fromStdString(path), nullptr, nullptr, &header, &versions), 0);
    ASSERT_EQ(versions, QStringList({"r207d"}));
    QString model, fwVersion = "x", fwFormatted = "y", summary = "z";
    QStringList lines{"w"};
    bool hasDante = false;
    EXPECT_EQ(reader.displayTexts(header, &model, versions, &fwVersion, &fwFormatted, &lines, &summary, &hasDante), 0);
    EXPECT_EQ(model, "Sorn-D");
    EXPECT_EQ(fwVersion, "x");
    EXPECT_EQ(fwFormatted, "y");
    EXPECT_EQ(summary, "z");
    EXPECT_EQ(lines, QStringList({"w"}));
    EXPECT_FALSE(hasDante);

    QString formatted;
    QStringList dotted;
    EXPECT_EQ(reader.danteVersionTexts(&formatted, &dotted), 0);
    EXPECT_EQ(formatted, "R2.07d");
    EXPECT_TRUE(dotted.isEmpty());
}

TEST(FwPackageModels, TablesAndModelTypes)
{
    // Package type code -> Quil::ModelType.
    const std::pair<int32_t, int32_t> map[] = {{1, Quil::MODEL_BROXL_D}, {2, Quil::MODEL_BROXM_D},
        {3, Quil::MODEL_BROXI_D}, {4, Quil::MODEL_BROXO_D}, {5, Quil::MODEL_MAVIK_D}, {6, Quil::MODEL_SORN_D},
        {7, Quil::MODEL_PELLM_D}, {8, Quil::MODEL_BROXL_D2}, {9, Quil::MODEL_BROXM_D2}, {10, Quil::MODEL_BROXL_D3}};
    for (const auto& [code, type] : map) {
        int32_t got = -1;
        EXPECT_EQ(fwpkg_modelType(code, &got), 0) << code;
        EXPECT_EQ(got, type) << code;
    }
    for (int32_t code : {0, 11, 12, -1, 1000}) {
        int32_t got = -1;
        EXPECT_EQ(fwpkg_modelType(code, &got), FWPKG_E_MODEL_TYPE) << code;
        EXPECT_EQ(got, 0) << code;
    }

    // Every row's lengths match its texts; the tables end with a type-0 row.
    auto rows = [](const FwPackageModelRow* t) {
        std::vector<std::string> models;
        for (; t->typeCode != 0; ++t) {
            EXPECT_EQ(std::strlen(t->model), size_t(t->modelLength)) << t->model;
            EXPECT_EQ(std::strlen(t->prefix), size_t(t->prefixLength)) << t->model;
            models.push_back(std::string(t->prefix) + t->model);
        }
        return models;
    };
    const Texts quil = {"QuilBroxL-D", "QuilBroxM-D", "QuilBroxI-D", "QuilBroxO-D", "QuilSorn-D", "QuilMavik-D",
        "QuilPellM-D", "QuilBroxL-D2", "QuilBroxM-D2"};
    Texts full = quil;
    full.push_back("Brox-D3");
    EXPECT_EQ(rows(fwpkg_modelTable), full);
    EXPECT_EQ(rows(fwpkg_recoveryModelTable), quil);
    EXPECT_EQ(fwpkg_lookupModel(fwpkg_modelTable, "Brox-D3"), 10);
    EXPECT_EQ(fwpkg_lookupModel(fwpkg_recoveryModelTable, "Brox-D3"), 0);
    EXPECT_EQ(fwpkg_lookupModel(fwpkg_modelTable, ""), 0);
    EXPECT_EQ(fwpkg_lookupModel(fwpkg_modelTable, "BroxL-"), 0);
}
