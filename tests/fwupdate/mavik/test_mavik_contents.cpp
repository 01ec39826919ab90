// The package description: its reader and the reboot-setting rewrite.
#include "fwupdate/mavik/mavik_contents.h"
#include "tests/fwupdate/mavik/mavik_fixture.h"

#include <QXmlStreamReader>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace mavtest;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

TEST(MavikPackageReader, RootNameAndVersion)
{
    struct Case {
        const char* name;
        const char* xml;
        bool found;
        const char* root;
        const char* version;
    };
    const Case cases[] = {
        {"plain", "<MAVIK-D><ATTRIBUTE><UPDATE_PACKAGE_VERSION VALUE=\"1.20\"/></ATTRIBUTE></MAVIK-D>", true, "MAVIK-D",
            "1.20"},
        {"deeper, other children skipped whole",
            "<?xml version=\"1.0\"?><R><X><ATTRIBUTE><OTHER><UPDATE_PACKAGE_VERSION VALUE=\"9\"/></OTHER>"
            "<UPDATE_PACKAGE_VERSION VALUE=\"2.0\"/></ATTRIBUTE></X></R>",
            true, "R", "2.0"},
        {"the second ATTRIBUTE has it",
            "<R><ATTRIBUTE><A/></ATTRIBUTE><ATTRIBUTE><UPDATE_PACKAGE_VERSION VALUE=\"3\"/></ATTRIBUTE></R>", true, "R",
            "3"},
        {"no version", "<R><ATTRIBUTE><A VALUE=\"1\"/></ATTRIBUTE></R>", false, "R", ""},
        {"names are case-sensitive", "<R><attribute><UPDATE_PACKAGE_VERSION VALUE=\"1\"/></attribute></R>", false, "R",
            ""},
        {"version outside an ATTRIBUTE", "<R><UPDATE_PACKAGE_VERSION VALUE=\"1\"/></R>", false, "R", ""},
        {"broken XML", "<R><ATTRIBUTE><UPDATE_PACKAGE", false, "R", ""},
    };
    qtest::TempDir dir;
    for (const Case& c : cases) {
        ASSERT_TRUE(qtest::writeFile(dir.file("updater_contents.xml"), c.xml));
        UpdaterContentsReader reader;
        QString root;
        QString version;
        EXPECT_EQ(reader.read(q(dir.file("updater_contents.xml")), &root, &version), c.found) << c.name;
        EXPECT_EQ(root, QString::fromLatin1(c.root)) << c.name;
        EXPECT_EQ(version, QString::fromLatin1(c.version)) << c.name;
    }
    UpdaterContentsReader reader;
    QString root;
    QString version;
    EXPECT_FALSE(reader.read(q(dir.file("none.xml")), &root, &version));
    EXPECT_TRUE(root.isEmpty());
}

TEST(MavikPackageReader, DataFileOfFirmOrMain)
{
    struct Case {
        const char* name;
        const char* files;
        bool found;
        const char* version;
    };
    const Case cases[] = {
        {"Firm after another module",
            "<DATA_FILE><MODULE_NAME VALUE=\"Boot\"/><FILE_VERSION VALUE=\"1\"/></DATA_FILE>"
            "<DATA_FILE><FILE_VERSION VALUE=\"2\"/><MODULE_NAME VALUE=\"Firm\"/></DATA_FILE>"
            "<DATA_FILE><MODULE_NAME VALUE=\"MAIN\"/><FILE_VERSION VALUE=\"3\"/></DATA_FILE>",
            true, "2"},
        {"MAIN, other elements skipped",
            "<OTHER><DATA_FILE><MODULE_NAME VALUE=\"Firm\"/><FILE_VERSION VALUE=\"8\"/></DATA_FILE></OTHER>"
            "<DATA_FILE><MODULE_NAME VALUE=\"MAIN\"/><X/><FILE_VERSION VALUE=\"4\"/></DATA_FILE>",
            true, "4"},
        {"case counts", "<DATA_FILE><MODULE_NAME VALUE=\"firm\"/><FILE_VERSION VALUE=\"5\"/></DATA_FILE>", false, ""},
        {"none", "<X/>", false, ""},
    };
    for (const Case& c : cases) {
        QXmlStreamReader xml(QByteArray("<DATA_FILES>") + c.files + "</DATA_FILES>");
        ASSERT_TRUE(xml.readNextStartElement());
        UpdaterContentsReader reader;
        QString version;
        EXPECT_EQ(reader.readDataFiles(xml, &version), c.found) << c.name;
        EXPECT_EQ(version, QString::fromLatin1(c.version)) << c.name;
    }
}

const std::string kReboot1 = "  <REBOOT_AFTER_UPDATE VALUE=\"1\"/>";
const std::string kReboot0 = "  <REBOOT_AFTER_UPDATE VALUE=\"0\"/>";

TEST(MavikPackageRewrite, RebootDigitBecomesZero)
{
    const std::string pad(80, ' ');
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"1 becomes 0", "<R>\n" + kReboot1 + "\n</R>\n", "<R>\n" + kReboot0 + "\n</R>\n"},
        {"a marker past byte 63 of a long line", pad + kReboot1 + "\n", pad + kReboot0 + "\n"},
        {"two markers on one line", kReboot1 + kReboot1 + "\n" + kReboot1, kReboot0 + kReboot0 + "\n" + kReboot0},
        {"no marker", "<R>\n<OTHER VALUE=\"1\"/>\n</R>", "<R>\n<OTHER VALUE=\"1\"/>\n</R>"},
        {"CR LF lines", "<R>\r\n" + kReboot1 + "\r\n</R>\r\n", "<R>\r\n" + kReboot0 + "\r\n</R>\r\n"},
        {"no digit after the quote", "<REBOOT_AFTER_UPDATE VALUE=\"x\"/>\n<REBOOT_AFTER_UPDATE VALUE = \"1\"/>",
            "<REBOOT_AFTER_UPDATE VALUE=\"x\"/>\n<REBOOT_AFTER_UPDATE VALUE = \"1\"/>"},
        {"marker at the very end", "<REBOOT_AFTER_UPDATE VALUE=\"", "<REBOOT_AFTER_UPDATE VALUE=\""},
    };
    for (const char* name : {"updater_contents.xml", "updater_contents_v2.xml"}) {
        for (const Case& c : cases) {
            qtest::TempDir dir;
            ASSERT_TRUE(qtest::writeFile(dir.file(name), c.before));
            EXPECT_EQ(disableRebootAfterUpdate(q(dir.file(name))), MAVIK_OK) << c.name << " in " << name;
            EXPECT_EQ(qtest::readFile(dir.file(name)), c.after) << c.name << " in " << name;
            // The same name in the same folder, and nothing else left there.
            EXPECT_EQ(tree(dir.path()),
                (std::vector<std::string>{
                    "f " + std::string(name) + " " + std::to_string(c.after.size()) + " " + md5(c.after)}))
                << c.name << " in " << name;
        }
    }
    qtest::TempDir dir;
    EXPECT_EQ(disableRebootAfterUpdate(q(dir.file("updater_contents.xml"))), MAVIK_E_FAIL);
}

// A folder the program may not write to: the rewrite fails and the
// description stays as it was. Run as another user, since root writes
// anywhere.
TEST(MavikPackageRewrite, ReadOnlyFolderLeavesTheOriginal)
{
    qtest::TempDir dir;
    const std::string folder = dir.file("pkg");
    const std::string path = folder + "/updater_contents.xml";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_TRUE(qtest::writeFile(path, kReboot1 + "\n"));
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    int32_t result = 0;
    if (geteuid() == 0) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
            _exit(dropped ? (disableRebootAfterUpdate(q(path)) == MAVIK_E_FAIL ? 0 : 1) : 2);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    } else {
        result = disableRebootAfterUpdate(q(path));
        EXPECT_EQ(result, MAVIK_E_FAIL);
    }
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(qtest::readFile(path), kReboot1 + "\n");
    EXPECT_EQ(tree(folder).size(), 1u);
}

} // namespace
