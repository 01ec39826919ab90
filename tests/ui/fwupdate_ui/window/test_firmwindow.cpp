// The firmware update window without units: the updater factory, its texts,
// reader failures as messages, package choice through the real file dialog,
// the buttons per state, the network check and closing.
#include "app/app_quilobject.h"
#include "device/dev_modeltypes.h"
#include "fwpkg_fixture.h"
#include "fwupdate_ui/fw_firmupdateui.h"
#include "fwupdate_ui/fw_mavikupdater.h"
#include "fwupdate_ui/fw_updaterfactory.h"
#include "support/gui/gui_support.h"
#include "support/gui/modal_driver.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace Quil;
using fwpkgtest::Texts;
using fwpkgtest::version;
using fwpkgtest::word;

const uint32_t kV123a = version('V', 1, 23, 0);

// A rack owner on a usable adapter; discovery never started, so no unit.
class NetCore : public QuilObject {
public:
    HostInterface record;
    NetCore()
    {
        record.name = QStringLiteral("lo");
        record.mac = QStringLiteral("02:00:00:00:00:01");
        record.address = QStringLiteral("127.0.0.1");
        record.isUp = record.isRunning = record.canMulticast = true;
    }
    HostInterface findNetworkInterface(const QString&, const QString&) const override { return record; }
    JResult currentNetworkInterface(HostInterface* out) const override
    {
        *out = record;
        return 0;
    }
};

class FirmWindow : public fwpkgtest::PackageSandbox {
protected:
    // Chooses `path` through the real Select button and file dialog; the
    // messages that follow are answered with OK and returned.
    QStringList choose(FirmUpdateUI* window, const std::string& path, int messages)
    {
        qtest::ModalDriver driver;
        driver.typeFileName(QString::fromStdString(path));
        for (int i = 0; i < messages; ++i)
            driver.pressButton(QStringLiteral("OK"));
        QTest::mouseClick(window->form().m_btnFileSelect, Qt::LeftButton);
        EXPECT_TRUE(driver.waitAllAnswered());
        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
        QStringList texts;
        for (const auto& seen : driver.seen())
            if (seen.kind == QLatin1String("message"))
                texts << seen.title + "|" + seen.text;
        return texts;
    }
};

} // namespace

TEST(FirmUpdaterFactory, PicksTheUpdaterByDeviceType)
{
    for (int32_t type = -1; type <= MODEL_LAST + 1; ++type) {
        SCOPED_TRACE(type);
        const bool expected = type >= MODEL_BROXL_D && type <= MODEL_BROXL_D3 && type != MODEL_PELLM_D2;
        std::unique_ptr<IModelFirmUpdater> updater = createModelFirmUpdater(type);
        EXPECT_EQ(updater != nullptr, expected);
        if (updater) {
            const bool mavik = dynamic_cast<ModelFirmUpdater_Mavik*>(updater.get()) != nullptr;
            const bool commandLink = dynamic_cast<ModelFirmUpdater*>(updater.get()) != nullptr;
            EXPECT_EQ(mavik, type == MODEL_MAVIK_D);
            EXPECT_EQ(commandLink, type != MODEL_MAVIK_D);
        }
    }
}

TEST_F(FirmWindow, VersionAndModuleTexts)
{
    const struct {
        const char* in;
        const char* out;
    } versions[] = {
        {"", ""},
        {"v123a", "v1.23"},
        {"v123b", "v1.23b"},
        {"v123", "v1.23"},
        {"R207c", "R2.07c"},
        {"a", ""},
        {"v1a", "v1"},
        {"x", "x"},
        {"12", "12"},
        {"v100z", "v1.00z"},
    };
    for (const auto& row : versions)
        EXPECT_EQ(formatModelVersion(QString::fromLatin1(row.in)), QString::fromLatin1(row.out)) << row.in;

    const struct {
        const char* line;
        int module;
    } modules[] = {
        {"4.1.2  ,   10.11.12", 1},
        {"4.1.2  ,   5.11.12", 1},
        {"4.1.2  ,   4.0.0", 0},
        {"4.1.2", -1},
        {"", -1},
        {"1,2,3,x", 0},
        {"1 2 3 40", 1},
    };
    for (const auto& row : modules)
        EXPECT_EQ(danteLineModuleType(QString::fromLatin1(row.line)), row.module) << row.line;
}

TEST_F(FirmWindow, FitTable)
{
    const struct {
        int32_t package, unit;
        bool fits;
    } rows[] = {
        {MODEL_PELLM_D, MODEL_PELLM_D, true},
        {MODEL_PELLM_D, MODEL_PELLM_D2, true},
        {MODEL_PELLM_D2, MODEL_PELLM_D, false},
        {MODEL_BROXL_D3, MODEL_BROXM_D3, true},
        {MODEL_BROXM_D3, MODEL_BROXL_D3, true},
        {MODEL_BROXL_D, MODEL_BROXM_D, false},
        {MODEL_BROXL_D2, MODEL_BROXL_D, false},
        {MODEL_SORN_D, MODEL_SORN_D, true},
        {0, 0, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(unitFitsPackage(row.package, row.unit), row.fits) << row.package << " " << row.unit;
}

TEST_F(FirmWindow, ReaderCodesToMessages)
{
    const struct {
        uint32_t code;
        const char* title;
        const char* firstLine;
    } rows[] = {
        {0x80000002u, "FILE READ ERROR", "File path may be too long."},
        {0x80000003u, "FILE READ ERROR", "Select a valid file."},
        {0x80000004u, "FILE READ ERROR", "Select a valid file."},
        {0x80000007u, "FILE READ ERROR", "Select a valid file."},
        {0x80000008u, "FILE READ ERROR", "Select a valid file."},
        {0x8000000Au, "FILE READ ERROR", "Select a valid file."},
        {0x80000009u, "FILE READ ERROR", "User directory cannot be edited."},
        {0x80000000u, "FATAL ERROR", "Unexpected error occurred."},
        {0x8000000Bu, "FATAL ERROR", "Unexpected error occurred."},
    };
    for (const auto& row : rows) {
        const FirmMessage& m = packageErrorMessage(static_cast<JResult>(row.code));
        EXPECT_EQ(m.kind, 2);
        EXPECT_EQ(m.title, QString::fromLatin1(row.title)) << row.code;
        EXPECT_TRUE(m.body.contains(QString::fromLatin1(row.firstLine))) << row.code;
    }
    EXPECT_EQ(firmMessages().pathTooLong.body,
        "Cannot unpack the file.\nFile path may be too long.\nMake sure that the file path is less than 260 "
        "characters.");
    EXPECT_EQ(firmMessages().danteServiceMissing.body,
        "Dante Control and Monitoring service not found.\nMake sure that the Dante Controller is installed\nand the "
        "service is running.\nThen restart Quillon software.");
}

// Reader failures and package kinds, each chosen through the real dialog.
TEST_F(FirmWindow, ChoosingPackages)
{
    const Texts paths = packages({
        {"model.bin", 16, "QuilBroxL-D", word(kV123a), firmwareEntries(), ""},
        {"dante.bin", 16, "QuilBroxL-D",
            word(kV123a) + word(version('V', 4, 1, 2)) + word(0) + word(version('V', 10, 11, 12)),
            {"data/", "data/fw.BIN=" + firmware, "data/a.dnt=" + dnt}, ""},
        {"d3.bin", 16, "Brox-D3", fwpkgtest::swappedWord(version('V', 1, 23, 1)), {"fw=" + firmware}, ""},
        {"mavik.bin", 16, "QuilMavik-D", word(kV123a), firmwareEntries(), ""},
    });
    const std::string junk = source("junk.bin", "not a package at all");
    const struct {
        std::string path;
        int messages;
        const char* message; // title|first line, or empty
        int state;
        const char* type;
        const char* version;
        bool updater;
    } rows[] = {
        // A package without Dante files shows no model version.
        {paths[0], 0, "", FirmUpdateUI::UPDATE_UI_READY, "BroxL-D", "----", true},
        {paths[1], 1, "CAUTION|Dante Network Initialize Failed.", FirmUpdateUI::UPDATE_UI_NOFILE, "----", "----",
            false},
        {paths[2], 0, "", FirmUpdateUI::UPDATE_UI_READY, "Brox-D3", "V1.23b", true},
        {paths[3], 0, "", FirmUpdateUI::UPDATE_UI_READY, "Mavik-D", "----", true},
        {junk, 1, "FILE READ ERROR|Invalid file.", FirmUpdateUI::UPDATE_UI_NOFILE, "----", "----", false},
    };
    NetCore core;
    FirmUpdateUI window;
    ASSERT_EQ(window.init(&core), 0);
    ASSERT_TRUE(qtest::showAndWait(&window));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        const QStringList seen = choose(&window, row.path, row.messages);
        ASSERT_EQ(seen.size(), row.messages);
        if (row.messages) {
            EXPECT_TRUE(seen[0].startsWith(QString::fromLatin1(row.message))) << seen[0].toStdString();
        }
        EXPECT_EQ(window.uiState(), row.state);
        EXPECT_EQ(window.form().m_lblInfo_type->text(), QString::fromLatin1(row.type));
        EXPECT_EQ(window.form().m_lblInfo_modelVersion->text(), QString::fromLatin1(row.version));
        EXPECT_EQ(window.modelUpdater() != nullptr, row.updater);
        EXPECT_EQ(window.form().m_lblFileName->text().isEmpty(), row.messages > 0);
        // No fitting unit: an empty list, "Update" never enabled.
        EXPECT_TRUE(window.rows().empty());
        EXPECT_FALSE(window.form().m_btnUpdate->isEnabled());
        EXPECT_TRUE(window.form().m_btnFileSelect->isEnabled());
    }
    // Nothing of the package before stays: the same package gives the same
    // version text whatever was read first.
    choose(&window, paths[3], 0);
    const QString mavikVersion = window.packageVersion();
    choose(&window, paths[2], 0);
    EXPECT_NE(window.packageVersion(), mavikVersion);
    choose(&window, paths[3], 0);
    EXPECT_EQ(window.packageVersion(), mavikVersion);

    // A "Brox-D3" package works without the Dante agent.
    choose(&window, paths[2], 0);
    EXPECT_TRUE(window.thirdGeneration());
    EXPECT_FALSE(window.danteMode());
    EXPECT_EQ(window.modelFirmwarePath().toStdString(), paths[2]);

    // A package whose type has no updater is not set up.
    FirmUpdateUI noUpdater(nullptr, {}, [](int32_t) { return std::unique_ptr<IModelFirmUpdater>(); });
    ASSERT_EQ(noUpdater.init(&core), 0);
    ASSERT_TRUE(qtest::showAndWait(&noUpdater));
    choose(&noUpdater, paths[0], 0);
    EXPECT_EQ(noUpdater.uiState(), FirmUpdateUI::UPDATE_UI_NOFILE);
    EXPECT_EQ(noUpdater.modelUpdater(), nullptr);
}

TEST_F(FirmWindow, ButtonsPerState)
{
    FirmUpdateUI window;
    EXPECT_FALSE(window.form().m_btnUpdate->isEnabled());
    EXPECT_FALSE(window.form().m_btnCancel->isEnabled());
    const struct {
        int state;
        bool select, cancel;
    } rows[] = {
        {FirmUpdateUI::UPDATE_UI_NOFILE, true, false},
        {FirmUpdateUI::UPDATE_UI_DEVICE_ANALYZING, false, false},
        {FirmUpdateUI::UPDATE_UI_READY, true, false},
        {FirmUpdateUI::UPDATE_UI_UPDATING, false, true},
    };
    for (const auto& row : rows) {
        window.setUiState(row.state);
        EXPECT_EQ(window.form().m_btnFileSelect->isEnabled(), row.select) << row.state;
        EXPECT_EQ(window.form().m_btnCancel->isEnabled(), row.cancel) << row.state;
        EXPECT_FALSE(window.form().m_btnUpdate->isEnabled()) << "no row";
    }
}

TEST_F(FirmWindow, InitRefusesAnUnusableNetwork)
{
    struct FiveParts : NetCore {
        FiveParts() { record.mac = QStringLiteral("02:00:00:00:01"); }
    } fiveParts;
    struct NotHex : NetCore {
        NotHex() { record.mac = QStringLiteral("02:00:zz:00:00:01"); }
    } notHex;
    for (QuilObject* core :
        {static_cast<QuilObject*>(&fiveParts), static_cast<QuilObject*>(&notHex), static_cast<QuilObject*>(nullptr)}) {
        FirmUpdateUI window;
        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("OK"));
        EXPECT_EQ(window.init(core), FWUI_E_FAIL);
        EXPECT_TRUE(driver.waitAllAnswered());
        ASSERT_EQ(driver.seen().size(), 1u);
        EXPECT_EQ(driver.seen()[0].title, "CAUTION");
        EXPECT_TRUE(driver.seen()[0].text.startsWith("Invalid Network."));
        EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_NOFILE);
    }
}

TEST_F(FirmWindow, ClosingInEachState)
{
    NetCore core;
    FirmUpdateUI window;
    ASSERT_EQ(window.init(&core), 0);
    ASSERT_TRUE(qtest::showAndWait(&window));
    // While updating, both the close button and Escape only warn.
    window.setUiState(FirmUpdateUI::UPDATE_UI_UPDATING);
    for (bool escape : {false, true}) {
        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("OK"));
        if (escape)
            QTest::keyClick(&window, Qt::Key_Escape);
        else
            window.close();
        EXPECT_TRUE(driver.waitAllAnswered());
        ASSERT_EQ(driver.seen().size(), 1u);
        EXPECT_EQ(driver.seen()[0].text, "Update in progress.\nWait until update is completed.");
        EXPECT_TRUE(window.isVisible());
    }
    // Otherwise, with no failed unit, the window closes at once.
    for (int state : {FirmUpdateUI::UPDATE_UI_NOFILE, FirmUpdateUI::UPDATE_UI_READY}) {
        window.setUiState(state);
        ASSERT_TRUE(qtest::showAndWait(&window));
        window.close();
        EXPECT_FALSE(window.isVisible()) << state;
    }
    ASSERT_TRUE(qtest::showAndWait(&window));
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(FirmWindow, CallbacksForUnknownUnits)
{
    FirmUpdateUI window;
    char name[33] = "kept";
    EXPECT_EQ(window.deviceName(0, name), FWUI_E_FAIL);
    EXPECT_STREQ(name, "kept");
    uint32_t id = 77;
    EXPECT_FALSE(window.unitIdOf("nobody", &id));
    EXPECT_EQ(id, 77u);
    window.modelCallback(MODEL_CB_WAITING_START, 3);
    window.modelCallback(MODEL_CB_ERROR, 3);
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_NOFILE);
}
