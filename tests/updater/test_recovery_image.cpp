// Image files by size and footer, and "update.ini" as another program
// writes it (Python's configparser, Shift-JIS).
#include "tests/updater/recovery_fixtures.h"
#include "updater/ini_settings.h"
#include "updater/update_file.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QTextCodec>

#include <string>

using recoverytest::writeImage;

namespace {

TEST(RecoveryImage, AcceptedSizesGiveTheirUsedLengthInBothModes)
{
    qtest::TempDir dir;
    struct Case {
        int64_t size;
        uint32_t program; // 0: refused
    } cases[] = {
        {0x100000, 0x10F010},
        {0x200000, 0x10F010},
        {0x300000, 0x20F010},
        {0x400000, 0x30F010},
        {0x420000, 0x40F010},
        {0x620000, 0x60F010},
        {0x700000, 0x60F010},
        {0x100001, 0},
        {0x0FFFFF, 0},
        {0, 0},
    };
    for (const Case& c : cases) {
        const QString path = QString::fromStdString(dir.file("image.bin"));
        ASSERT_TRUE(writeImage(path, c.size, 0, {}, {}));
        for (const bool boot : {false, true}) {
            UpdateFile file;
            const bool loaded = file.load(path, boot);
            EXPECT_EQ(loaded, c.program != 0) << std::hex << c.size << " boot " << boot;
            if (!loaded) {
                EXPECT_TRUE(file.path().isEmpty());
                continue;
            }
            const uint32_t used = boot ? UpdateFile::kBootUsedLength : c.program;
            EXPECT_EQ(file.usedLength(), used);
            EXPECT_EQ(file.fileSize(), c.size);
            EXPECT_EQ(file.imageData().size(), std::min<int64_t>(used, c.size));
            EXPECT_EQ(file.path(), path);
        }
    }
    UpdateFile missing;
    EXPECT_FALSE(missing.load(QString::fromStdString(dir.file("none.bin")), false));
}

TEST(RecoveryImage, FooterIsReadAtTheUsedLength)
{
    qtest::TempDir dir;
    const QString path = QString::fromStdString(dir.file("image.bin"));
    UpdateFile file;

    // A 2 MiB program image: footer at 0x10F010.
    ASSERT_TRUE(writeImage(path, 0x200000, 0x10F010, "r0107", "Sorn-D"));
    ASSERT_TRUE(file.load(path, false));
    EXPECT_EQ(file.versionText(), "R0.107");
    EXPECT_EQ(file.modelName(), "Sorn-D");

    // A 1 MiB program image: the footer lies beyond the file.
    ASSERT_TRUE(writeImage(path, 0x100000, 0, {}, {}));
    ASSERT_TRUE(file.load(path, false));
    EXPECT_EQ(file.versionText(), "Unknown");
    EXPECT_TRUE(file.modelName().isEmpty());

    // A boot image of any size: footer at 0xE0000, a full 16-byte name.
    ASSERT_TRUE(writeImage(path, 0x420000, 0xE0000, "A1234", "BroxL-D3-ABCDEFGH"));
    ASSERT_TRUE(file.load(path, true));
    EXPECT_EQ(file.versionText(), "A1234");
    EXPECT_EQ(file.modelName(), "BroxL-D3-ABCDEFG");
    EXPECT_EQ(file.data(0, 8), "00000000");
    EXPECT_EQ(file.data(0xD0000, 8), "000d0000");
    EXPECT_EQ(file.data(0xDFFFE, -1).size(), 2);
    EXPECT_EQ(file.data(0xDFFFE, 100).size(), 2);
    EXPECT_TRUE(file.data(0xE0000, -1).isEmpty());
    EXPECT_TRUE(file.data(-1, 4).isEmpty());

    file.setUpdated(true);
    EXPECT_TRUE(file.isUpdated());
    file.clear();
    EXPECT_FALSE(file.isUpdated());
    EXPECT_TRUE(file.path().isEmpty());
    EXPECT_TRUE(file.versionText().isEmpty());
    EXPECT_EQ(file.usedLength(), 0u);
    EXPECT_TRUE(file.imageData().isEmpty());
}

TEST(RecoveryImage, VersionTexts)
{
    struct Case {
        QByteArray bytes;
        const char* shown;
    } cases[] = {
        {"r0107", "R0.107"},
        {"V1234", "V1.234"},
        {"v9abc", "V9.ABC"},
        {"A1234", "A1234"},
        {"Rx123", "Rx123"},
        {QByteArray("R0\0"
                    "07",
             5),
            "Unknown"},
        {"R0\x7f"
         "07",
            "Unknown"},
        {"R0\x80"
         "07",
            "Unknown"},
        {"R010", "Unknown"},
        {"R01070", "Unknown"},
        {"r 107", "r 107"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UpdateFile::versionText(c.bytes), c.shown) << c.bytes.toHex().toStdString();
}

class RecoverySettings : public testing::Test {
protected:
    void SetUp() override { setApplicationDirectory(QString::fromStdString(dir.path())); }
    void TearDown() override { setApplicationDirectory(QString()); }

    // update.ini as configparser writes it, encoded as Shift-JIS.
    void writeIni(const std::string& values)
    {
        const std::string script = "import configparser,sys\n"
                                   "c=configparser.ConfigParser(interpolation=None)\n"
                                   "c.optionxform=str\n"
                                   "c['UPDATE']="
            + values
            + "\n"
              "with open(sys.argv[1],'w',encoding='shift_jis') as f: c.write(f)\n";
        ASSERT_TRUE(qtest::writeFile(dir.file("write_ini.py"), script));
        ASSERT_EQ(qtest::runCommand("python3 " + dir.file("write_ini.py") + " " + dir.file("update.ini")), 0);
    }

    qtest::TempDir dir;
};

TEST_F(RecoverySettings, MissingFileGivesEveryDefault)
{
    IniSettings& settings = IniSettings::instance();
    EXPECT_EQ(applicationFilePath(), QString::fromStdString(dir.path()) + "/");
    EXPECT_TRUE(settings.program().isEmpty());
    EXPECT_EQ(settings.ipAddress(), "192.168.0.2");
    EXPECT_EQ(settings.macAddress(), QByteArray(6, '\xFF'));
    EXPECT_EQ(settings.portNumber(), 12302);
}

TEST_F(RecoverySettings, ShiftJisFileIsReadAndEachCallSeesTheFileAnew)
{
    writeIni("{'PROGRAM':'\u30d5\u30a1\u30fc\u30e0/\u65b0.bin','IPaddress':'10.1.2.3',"
             "'MACaddress':'00-11-22-aa-BB-5','PortNumber':'40000'}");
    IniSettings& settings = IniSettings::instance();
    EXPECT_EQ(settings.program(), QString::fromUtf8(u8"\u30d5\u30a1\u30fc\u30e0/\u65b0.bin"));
    EXPECT_EQ(settings.ipAddress(), "10.1.2.3");
    EXPECT_EQ(settings.macAddress().toHex(), "001122aabb05");
    EXPECT_EQ(settings.portNumber(), 40000);
    // The file really is Shift-JIS, not UTF-8.
    const std::string raw = qtest::readFile(dir.file("update.ini"));
    EXPECT_NE(raw.find("\x83\x74\x83\x40"), std::string::npos);

    writeIni("{'IPaddress':'10.9.9.9'}");
    EXPECT_EQ(settings.ipAddress(), "10.9.9.9");
    EXPECT_TRUE(settings.program().isEmpty());
}

TEST_F(RecoverySettings, AddressesThatAreNotSixBytesAreNotApplied)
{
    struct Case {
        const char* value;
        const char* mac; // hex of the bytes taken
    } cases[] = {
        {"00-11-22-33-44-55", "001122334455"},
        {"ff-ff-ff-ff-ff-ff", "ffffffffffff"},
        {"00-11-22-33-44", "ffffffffffff"},
        {"00-11-22-33-44-55-66", "ffffffffffff"},
        {"zz-11-22-33-44-55", "ffffffffffff"},
        {"100-11-22-33-44-55", "ffffffffffff"},
        {"00:11:22:33:44:55", "ffffffffffff"},
        {"00--22-33-44-55", "ffffffffffff"},
    };
    for (const Case& c : cases) {
        writeIni(std::string("{'MACaddress':'") + c.value + "','PortNumber':'70000'}");
        EXPECT_EQ(IniSettings::instance().macAddress().toHex().toStdString(), c.mac) << c.value;
    }
    // A port past 16 bits is refused, not wrapped to another port.
    EXPECT_EQ(IniSettings::instance().portNumber(), 0);
}

} // namespace
