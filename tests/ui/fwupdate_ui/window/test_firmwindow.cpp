// The firmware update window without units: the updater factory, its texts,
// reader failures as messages, package choice through the real file dialog,
// the buttons per state, the network check and closing.
#include "app/app_quilobject.h"
#include "device/layouts/dev_modeltypes.h"
#include "pbd/vsock/vsock.h"
#include "tests/fwupdate/dfu/dfu_fixture.h"
#include "tests/fwupdate/package/fwpkg_fixture.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/netns.h"
#include "tests/ui/fwupdate_ui/dante_fakes.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"
#include "ui/fwupdate_ui/fw_mavikupdater.h"
#include "ui/fwupdate_ui/fw_updaterfactory.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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

// The Dante agent runs on fakes of the PC's Dante services: absent unless a
// test says they run.
class FirmWindow : public fwpkgtest::PackageSandbox {
protected:
    void SetUp() override
    {
        fwpkgtest::PackageSandbox::SetUp();
        // The socket service runs on the OS wrapper the agent starts.
        dante.install(kMac, false);
        ASSERT_EQ(vsock_init(), VSOCK_OK);
    }
    void TearDown() override
    {
        EXPECT_TRUE(dante.remove());
        fwpkgtest::PackageSandbox::TearDown();
    }
    // Starts the agent on the running fakes; true once it has set its
    // Dante interface.
    bool agentUp(FirmUpdateUI* window, QuilObject* core)
    {
        dante.probe.state = DFA_SERVICE_RUNNING;
        return window->init(core) == 0 && qtest::waitUntil([&] { return window->danteAgentResult() == 0; }, 5000);
    }

    static constexpr uint8_t kMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    fwwindowtest::DanteFakes dante;

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
        // The Dante services are absent: a package with Dante files is refused.
        {paths[1], 1, "FATAL ERROR|Dante Control and Monitoring service not found.", FirmUpdateUI::UPDATE_UI_NOFILE,
            "----", "----", false},
        {paths[2], 0, "", FirmUpdateUI::UPDATE_UI_READY, "Brox-D3", "V1.23b", true},
        {paths[3], 0, "", FirmUpdateUI::UPDATE_UI_READY, "Mavik-D", "----", true},
        {junk, 1, "FILE READ ERROR|Invalid file.", FirmUpdateUI::UPDATE_UI_NOFILE, "----", "----", false},
    };
    NetCore core;
    FirmUpdateUI window;
    EXPECT_EQ(window.init(&core), FWUI_E_FAIL);
    EXPECT_EQ(window.danteAgentResult(), DFU_E_CONMON_ABSENT);
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
    noUpdater.init(&core);
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
    window.init(&core);
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

namespace {

// True when a UDP socket can take the port on the address now.
bool udpPortFree(const char* address, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &sa.sin_addr);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return free;
}

// The bed's interface as the selected network.
class BedCore : public NetCore {
public:
    BedCore() { record.address = QString::fromLatin1(qtest::NetnsBed::kLocalAddress); }
};

} // namespace

// With the agent up, a package with Dante files loads: the file rows show
// its Dante lines, the front serves the files on port 1999 and knows their
// versions; a model-only package frees the port for the model pulls; a
// Dante file path that does not fit its slot is refused.
TEST_F(FirmWindow, DantePackagesWithTheAgentUp)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    const std::string good = "good.dnt";
    ASSERT_TRUE(dfutest::makeDnt(src, "v3_wildcard", good));
    const std::string dntPath = src + "/" + good;
    // Packages unpack into the home folder. The agent takes a folder and a
    // file name of 79 characters each, so the longest Dante path it can
    // serve has 159: the home is made as long as that needs.
    const size_t homeLength = 79 - std::string("/QuilMBDFOut00000000000000/data").size();
    ASSERT_LT(home.size() + 1, homeLength);
    const std::string deepHome = home + "/" + std::string(homeLength - home.size() - 1, 'h');
    ASSERT_EQ(::mkdir(deepHome.c_str(), 0755), 0);
    ::setenv("HOME", deepHome.c_str(), 1);
    const size_t prefix = deepHome.size() + std::string("/QuilMBDFOut00000000000000/data/").size();
    const auto named = [&](size_t length) { return std::string(length - prefix - 4, 'n') + ".dnt"; };
    // Dante words: the three top bytes are the dotted version.
    const auto dante
        = [](int a, int b, int c) { return word(uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8); };
    const std::string field = word(kV123a) + dante(4, 2, 7) + word(0) + dante(4, 0, 0);
    const Texts paths = packages({
        {"dante.bin", 16, "QuilBroxL-D", field, {"data/", "data/fw.BIN=" + firmware, "data/b2.dnt=" + dntPath}, ""},
        {"model.bin", 16, "QuilBroxL-D", word(kV123a), firmwareEntries(), ""},
        {"fits.bin", 16, "QuilBroxL-D", field,
            {"data/", "data/fw.BIN=" + firmware, "data/" + named(159) + "=" + dntPath}, ""},
        {"long.bin", 16, "QuilBroxL-D", field,
            {"data/", "data/fw.BIN=" + firmware, "data/" + named(160) + "=" + dntPath}, ""},
    });

    BedCore core;
    FirmUpdateUI window;
    ASSERT_TRUE(agentUp(&window, &core));
    ASSERT_TRUE(qtest::showAndWait(&window));
    const char* address = qtest::NetnsBed::kLocalAddress;

    EXPECT_TRUE(choose(&window, paths[0], 0).isEmpty());
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_READY);
    EXPECT_TRUE(window.danteMode());
    EXPECT_TRUE(window.danteReady());
    EXPECT_EQ(window.form().m_lblInfo_modelVersion->text(), "V1.23");
    EXPECT_EQ(window.form().m_lblInfo_danteVersion_BN2->text(), "4.2.7  ,   4.0.0");
    EXPECT_EQ(window.form().m_lblInfo_danteModel_BN2->text(), "for Brooklyn-2");
    EXPECT_EQ(window.form().m_lblInfo_danteVersion_BN3->text(), "Not Available");
    EXPECT_EQ(window.form().m_lblInfo_danteModel_BN3->text(), "for Brooklyn-3");
    DfuVersion fileVersion{};
    ASSERT_EQ(window.danteFront()->getFileVersion(0, DFU_FILE_DANTE, &fileVersion), DFU_OK);
    EXPECT_EQ(fileVersion, (DfuVersion{4, 2, 7}));
    EXPECT_FALSE(udpPortFree(address, 1999)) << "the front serves the Dante files";

    EXPECT_TRUE(choose(&window, paths[1], 0).isEmpty());
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_READY);
    EXPECT_FALSE(window.danteMode());
    EXPECT_FALSE(window.danteReady());
    // The socket service closes the server's socket on its own thread.
    EXPECT_TRUE(qtest::waitFor([&] { return udpPortFree(address, 1999); }, 3000))
        << "a model-only package leaves port 1999 to the model pulls";

    EXPECT_TRUE(choose(&window, paths[2], 0).isEmpty());
    ASSERT_EQ(window.danteFiles().size(), 1);
    EXPECT_EQ(window.danteFiles()[0].size(), 159);
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_READY);
    EXPECT_TRUE(window.danteReady());

    const QStringList seen = choose(&window, paths[3], 1);
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0], "FILE READ ERROR|" + firmMessages().pathTooLong.body);
    EXPECT_EQ(window.danteFiles().value(0).size(), 160);
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_NOFILE);
    EXPECT_FALSE(window.danteReady());
    EXPECT_TRUE(window.form().m_lblFileName->text().isEmpty());
}

// The front's callbacks come on its tasks; each carries the target's name
// and reaches the window's slots on the GUI thread. A device error counts
// only for the target (its first 32 characters).
TEST_F(FirmWindow, DanteCallbacksCarryTheTargetLabel)
{
    NetCore core;
    FirmUpdateUI window;
    window.init(&core);
    DanteFirmwareUpdateModule* front = window.danteFront();
    ASSERT_NE(front, nullptr);
    QSignalSpy events(&window, &FirmUpdateUI::signalDfuAppCallback);
    QSignalSpy errors(&window, &FirmUpdateUI::signalDfuAppErrorCallback);
    QSignalSpy sends(&window, &FirmUpdateUI::signalDfuSendDataCallback);
    const auto onTask = [](const std::function<void()>& call) { std::thread(call).join(); };
    const std::string longName(32, 'L');

    onTask([&] {
        window.dfuAppCallback(DFU_EVENT_DEVICE);
        window.dfuAppDeviceErrorCallback({DFU_STAGE_DEVICE_STATUS, 0x8007}, "dev1");
        window.dfuAppDeviceErrorCallback({DFU_STAGE_DEVICE_LIST, 0x800a}, "");
    });
    DfaDeviceInfo dev{};
    std::memcpy(dev.name, longName.data(), sizeof dev.name);
    front->addDfuDevice(dev);
    ASSERT_EQ(front->setTargetDevice(longName.c_str()), DFU_OK);
    onTask([&] {
        window.dfuAppCallback(DFU_EVENT_UPDATE_STATUS);
        window.dfuAppErrorCallback({DFU_STAGE_TFTP, 0});
        window.dfuAppDeviceErrorCallback({DFU_STAGE_UPDATE_STATUS, 0xc200}, "dev2");
        window.dfuAppDeviceErrorCallback({DFU_STAGE_START_UPDATE, 0x8003}, (longName + "-more").c_str());
        window.dfuSendDataCallback(3, 5);
    });

    const QString label = QString::fromStdString(longName);
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0], (QList<QVariant>{DFU_EVENT_DEVICE, QString()}));
    EXPECT_EQ(events[1], (QList<QVariant>{DFU_EVENT_UPDATE_STATUS, label}));
    ASSERT_EQ(errors.size(), 3);
    EXPECT_EQ(errors[0], (QList<QVariant>{DFU_STAGE_DEVICE_LIST, QString()}));
    EXPECT_EQ(errors[1], (QList<QVariant>{DFU_STAGE_TFTP, label}));
    EXPECT_EQ(errors[2], (QList<QVariant>{DFU_STAGE_START_UPDATE, label}));
    ASSERT_EQ(sends.size(), 1);
    EXPECT_EQ(sends[0], (QList<QVariant>{3u, 5u, label}));
}

// The front's error stages: each named in the log; stage 0 ignored; the
// interface not found (13) shows "Invalid Network" and ends the wait for
// the agent.
TEST_F(FirmWindow, DanteErrorStages)
{
    dfutest::TempLog log;
    NetCore core;
    FirmUpdateUI window;
    window.init(&core);
    const char* names[] = {"INITIALIZE", "DEVICE_LIST", "ETHER_IF_LIST", "DANTE_IF", "ETHER_IF", "GET_DEVICE",
        "DEVICE_STATUS", "START_UPDATE", "UPDATE_STATUS", "TYPE_REBOOT", "TFTP", "SET_FILE"};
    for (uint stage = 1; stage <= 12; ++stage) {
        log.clear();
        window.receiveDfuAppErrorCallback(stage, QString());
        EXPECT_EQ(
            log.lines(), std::vector<std::string>{std::string("[ERROR] DfuAppErrorCallback : ") + names[stage - 1]})
            << stage;
    }
    for (uint stage : {0u, 14u}) {
        log.clear();
        window.receiveDfuAppErrorCallback(stage, QString());
        EXPECT_TRUE(log.lines().empty()) << stage;
    }
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    log.clear();
    window.receiveDfuAppErrorCallback(DFU_STAGE_SET_DANTE_IF, QString());
    EXPECT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].title + "|" + driver.seen()[0].text, "CAUTION|" + firmMessages().invalidNetwork.body);
    EXPECT_TRUE(log.has("[ERROR] DfuAppErrorCallback : SET_DANTE_IF"));
}

// The agent starts but never sets its Dante interface: after the wait the
// window says so in its log, and a package with Dante files is refused as
// the Dante network failed.
TEST_F(FirmWindow, AgentThatNeverSetsItsInterface)
{
    dfutest::TempLog log;
    // The interface list never comes, so the interface is never set.
    dante.glue.reasons[DFA_REQ_GET_IF_LIST] = dfa_reason(DFA_REASON_BUSY);
    dante.probe.state = DFA_SERVICE_RUNNING;
    FirmWindowTimings timings;
    timings.agentMs = 200;
    NetCore core;
    FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, timings);
    ASSERT_EQ(window.init(&core), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return log.has("[ERROR] Dfu Callback Timeout : initializeDfa"); }, 5000));
    EXPECT_EQ(window.danteAgentResult(), FWUI_E_FAIL);
    const std::string path
        = package("dante.bin", 16, "QuilBroxL-D", word(kV123a) + word(0x04010200) + word(0) + word(0x0a0b0c00),
            {"data/", "data/fw.BIN=" + firmware, "data/a.dnt=" + dnt});
    ASSERT_TRUE(qtest::showAndWait(&window));
    const QStringList seen = choose(&window, path, 1);
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0], "CAUTION|" + firmMessages().danteInitFailed.body);
    EXPECT_TRUE(log.has("  -- Error Type [0]"));
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_NOFILE);
}

// Closing the window stops the agent; the window opened next starts it again.
TEST_F(FirmWindow, ReopenedWindowStartsTheAgentAgain)
{
    NetCore core;
    for (int i = 0; i < 2; ++i) {
        FirmUpdateUI window;
        EXPECT_TRUE(agentUp(&window, &core)) << "opening " << i;
    }
}
