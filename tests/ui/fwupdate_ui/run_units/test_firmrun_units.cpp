// The update run with the real model updater and its MFU task against
// simulated command-link units (mfu_unit.py) on loopback addresses of the
// test's own network namespace: the jobs' order, cancel, a unit refusing the
// version, a silent Dante module and a run in which everything succeeds;
// and once the whole way, from units the rack owner found in the namespace
// bed (quillon_simunit with its update-mode answers) through the window's
// own analysis to the end of the run.
#include "pbd/vsock/vsock.h"
#include "tests/fwupdate/mfu/mfu_driver.h"
#include "tests/support/netns.h"
#include "tests/support/rack_fixture.h"
#include "tests/support/unit_process.h"
#include "tests/ui/fwupdate_ui/run/firmrun_fixture.h"
#include "ui/fwupdate_ui/fw_updaterfactory.h"

namespace {

using namespace Quil;

struct UnitPlan {
    const char* name;
    const char* address;
    std::string knobs;
    bool dante;
};

class FirmRunUnits : public firmrun::RunBed {
protected:
    void SetUp() override
    {
        firmrun::RunBed::SetUp();
        if (!qtest::insideTestNetns())
            return;
        ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
        ASSERT_EQ(vsock_init(), VSOCK_OK);
    }
    void TearDown() override
    {
        window.reset();
        peer.reset();
        firmrun::RunBed::TearDown();
        if (qtest::insideTestNetns())
            vsock_term();
    }

    // Starts the units, makes the window for a package of `type` and runs
    // the model analysis through the real updater until the window is ready.
    void analyse(const std::vector<UnitPlan>& units, int32_t type = MODEL_BROXL_D2, int danteMs = 90000)
    {
        packageFile = QString::fromStdString(work.file("package.bin"));
        std::string content(40000, '\0');
        for (size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>(i * 7 + (i >> 8));
        ASSERT_TRUE(qtest::writeFile(packageFile.toStdString(), content));
        std::vector<std::string> specs;
        for (const UnitPlan& u : units)
            specs.push_back(std::string(u.address) + ",version=V1.00,protocols=xmodem-1k," + u.knobs
                + ",expect=" + packageFile.toStdString());
        peer = std::make_unique<mfutest::UnitPeer>(work.path(), specs);
        ASSERT_TRUE(peer->ready());
        factory = createModelFirmUpdater;
        packageVersion = QStringLiteral("V2.00a");
        makeWindow(type, true, danteMs);
        for (const UnitPlan& u : units) {
            DeviceObject* row = FirmRunAccess::addRow(
                *window, QString::fromLatin1(u.name), true, u.dante, QString::fromLatin1(u.address), false);
            ASSERT_NE(row, nullptr);
            row->setDanteVersion(QStringLiteral("4.1.2"), u.dante ? 1 : 0);
            row->danteAnalyzed(true);
            front()->addDfuDevice(dfutest::deviceNamed(u.name));
        }
        FirmRunAccess::requestSetup(*window);
        ASSERT_TRUE(qtest::waitUntil([&] { return window->uiState() == FirmUpdateUI::UPDATE_UI_READY; }, 20000));
        for (const auto& row : window->rows())
            ASSERT_TRUE(row->modelChecked()) << row->deviceName().toStdString();
    }

    // Runs until the end: model jobs by their units, Dante jobs through
    // their status (unless `silentDante`); bounded.
    void runToEnd(bool silentDante = false)
    {
        for (int step = 0; step < 3000 && window->uiState() == FirmUpdateUI::UPDATE_UI_UPDATING; ++step) {
            DeviceObject* row = runningRow();
            if (row && window->runningSide() == FirmUpdateUI::RunSide::Dante && !silentDante) {
                ASSERT_TRUE(finishDanteJob(row));
                continue;
            }
            QTest::qWait(10);
        }
        ASSERT_NE(window->uiState(), FirmUpdateUI::UPDATE_UI_UPDATING);
    }

    bool stored(const char* address)
    {
        return peer->waitLine(
            [&](const std::string& l) {
                return l.rfind(std::string("STORED ") + address + " ", 0) == 0 && l.find(" ok") != std::string::npos;
            },
            3000);
    }

    qtest::TempDir work;
    std::unique_ptr<mfutest::UnitPeer> peer;
};

const std::vector<std::string> kFullOrder
    = {"======= updateStarted Model 0 ======", "======= updateStarted Dante 0 ======",
        "======= updateStarted Model 1 ======", "======= updateStarted Dante 1 ======", "======= updateEnd All ======"};

TEST_F(FirmRunUnits, EveryJobSucceedsInOrderAndTheSidesAreDone)
{
    QTEST_IN_NETNS();
    analyse({{"unitA", "127.0.0.2", "", true}, {"unitB", "127.0.0.3", "split=3", true}});
    log.clear();
    qtest::ModalDriver driver(30000);
    driver.pressButton(QStringLiteral("OK"));
    start();
    runToEnd();
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(runLines(), kFullOrder);
    EXPECT_EQ(messagesOf(driver), "UPDATE COMPLETED|Firmware update successfully completed.\n");
    EXPECT_TRUE(stored("127.0.0.2"));
    EXPECT_TRUE(stored("127.0.0.3"));
    for (const auto& row : window->rows()) {
        EXPECT_EQ(row->modelState(), DeviceObject::Done);
        EXPECT_EQ(row->danteState(), DeviceObject::Done);
    }
}

// Cancel during A's model job: the rest is cancelled, A's job completes and
// only its result decides the end message.
TEST_F(FirmRunUnits, CancelDuringTheFirstModelJob)
{
    QTEST_IN_NETNS();
    const struct {
        const char* knobs;
        const char* end;
    } rows[] = {
        {"", "UPDATE COMPLETED|Firmware update successfully completed.\n"},
        {"fault=close_mid",
            "CAUTION|Firmware Update failed for device(s) .\nCheck network connection and try again.\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.knobs);
        analyse({{"unitA", "127.0.0.2", row.knobs, true}, {"unitB", "127.0.0.3", "", true}});
        log.clear();
        start();
        ASSERT_EQ(window->runningSide(), FirmUpdateUI::RunSide::Model);
        {
            qtest::ModalDriver cancel;
            cancel.pressButton(QStringLiteral("Yes"));
            QTest::mouseClick(window->form().m_btnCancel, Qt::LeftButton);
            ASSERT_TRUE(cancel.waitAllAnswered());
        }
        DeviceObject* a = window->rows()[0].get();
        DeviceObject* b = window->rows()[1].get();
        EXPECT_EQ(a->danteUpdateState(), DeviceObject::Cancelled);
        EXPECT_EQ(b->modelUpdateState(), DeviceObject::Cancelled);
        EXPECT_EQ(b->danteUpdateState(), DeviceObject::Cancelled);
        qtest::ModalDriver driver(30000);
        driver.pressButton(QStringLiteral("OK"));
        runToEnd();
        ASSERT_TRUE(driver.waitAllAnswered());
        EXPECT_EQ(messagesOf(driver), row.end);
        EXPECT_EQ(runLines(), (std::vector<std::string>{kFullOrder.front(), kFullOrder.back()}));
        window.reset();
        peer.reset();
    }
}

// A unit that refuses the version: "See Note.", and the note by package type.
TEST_F(FirmRunUnits, RefusedVersionEndsSeeNoteWithTheNote)
{
    QTEST_IN_NETNS();
    const struct {
        int32_t type;
        const char* name;
        const char* end;
    } rows[] = {
        {MODEL_PELLM_D, "name=PellM-D",
            "CAUTION|Firmware Update failed for device(s) .\nNote:  It(They) cannot be updated to this version.\n"},
        {MODEL_BROXL_D2, "name=BroxL-D2",
            "CAUTION|Firmware Update failed for device(s) .<br>It(They) cannot be updated to this version.<br><br>"
            "<font color=red>Note: Please refer to message of the device.</font>\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.type);
        analyse({{"unitA", "127.0.0.2", std::string(row.name) + ",fault=erase_version", false},
                    {"unitB", "127.0.0.3", row.name, false}},
            row.type);
        qtest::ModalDriver driver(30000);
        driver.pressButton(QStringLiteral("OK"));
        start();
        runToEnd();
        ASSERT_TRUE(driver.waitAllAnswered());
        EXPECT_EQ(messagesOf(driver), row.end);
        EXPECT_EQ(window->rows()[0]->modelUpdateState(), DeviceObject::SeeNote);
        EXPECT_EQ(window->rows()[1]->modelUpdateState(), DeviceObject::Finished);
        EXPECT_TRUE(stored("127.0.0.3"));
        window.reset();
        peer.reset();
    }
}

// A Dante job whose status stops after a Writing report fails after the
// time-out, and the next unit's model job runs.
TEST_F(FirmRunUnits, SilentDanteModuleTimesOutAndTheRunGoesOn)
{
    QTEST_IN_NETNS();
    analyse({{"unitA", "127.0.0.2", "", true}, {"unitB", "127.0.0.3", "", false}}, MODEL_BROXL_D2, 400);
    log.clear();
    qtest::ModalDriver driver(30000);
    driver.pressButton(QStringLiteral("OK"));
    start();
    DeviceObject* a = window->rows()[0].get();
    ASSERT_TRUE(qtest::waitUntil([&] { return window->runningSide() == FirmUpdateUI::RunSide::Dante; }, 20000));
    QTest::qWait(30);
    feedStatus(a, DFA_PHASE_FLASH, 20);
    ASSERT_TRUE(qtest::waitUntil([&] { return a->danteUpdateState() == DeviceObject::Writing; }, 3000));
    runToEnd(true);
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(a->danteUpdateState(), DeviceObject::Failed);
    EXPECT_EQ(runLines(), (std::vector<std::string>{kFullOrder[0], kFullOrder[1], kFullOrder[2], kFullOrder.back()}));
    EXPECT_TRUE(stored("127.0.0.3"));
    EXPECT_EQ(messagesOf(driver),
        "CAUTION|Firmware Update failed for device(s) .\nCheck network connection and try again.\n");
}

// The whole way: two units the rack owner found, a package with Dante files
// chosen through the dialog, update mode, the command link and the Dante
// list analysed by the window itself; then the run updates both units.
TEST_F(FirmRunUnits, RunAfterTheWindowsOwnAnalysis)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    qtest::UnitRack units(bed);
    std::vector<qtest::UnitSpec> specs(2);
    const char* names[] = {"Stage A", "Stage B"};
    for (int i = 0; i < 2; ++i) {
        specs[i].modelType = MODEL_BROXL_D2;
        specs[i].host = 2 + i;
        specs[i].deviceName = names[i];
        specs[i].unitId = "J00" + std::to_string(i + 1);
    }
    ASSERT_TRUE(units.start(specs)) << units.error();
    std::vector<std::string> args = {"--work", work.path()};
    for (size_t i = 0; i < units.size(); ++i)
        args.insert(args.end(),
            {"--unit", units[i].address() + ",name=BroxL-D2,version=V1.00,protocols=xmodem-1k,expect=" + firmware});
    qtest::ChildProcess links(bed.inPeer(qtest::pythonPeer("mfu_unit.py", args)));
    std::string line;
    ASSERT_TRUE(links.readLine(&line, 10000) && line == "READY") << line;
    racktest::RackFixture rack;
    ASSERT_TRUE(rack.ready());
    rack.rack().setNetworkInterface(
        QString::fromLatin1(qtest::NetnsBed::kLocalMac), QString::fromLatin1(qtest::NetnsBed::kLocalAddress), false);
    for (size_t i = 0; i < units.size(); ++i)
        rack.announce({units[i].unitId(), units[i].mac(), units[i].address(), units[i].model()});
    QMap<QString, DeviceEntry> found;
    ASSERT_TRUE(qtest::waitUntil(
        [&] {
            rack.rack().getFoundDevices(&found);
            return found.size() == 2;
        },
        15000));

    // The agent's interface is the bed's.
    const QStringList mac = QString::fromLatin1(qtest::NetnsBed::kLocalMac).split(':');
    for (int i = 0; i < 6; ++i)
        m_glue.interfaces[0].mac[i] = static_cast<uint8_t>(mac[i].toUInt(nullptr, 16));
    ASSERT_TRUE(dfutest::makeDnt(src, "v3_wildcard", "b2.dnt"));
    const auto danteWord
        = [](int a, int b, int c) { return fwpkgtest::word(uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8); };
    const std::string path = package("dante.bin", 16, "QuilBroxL-D2",
        fwpkgtest::word(fwpkgtest::version('V', 1, 23, 0)) + danteWord(4, 2, 7) + fwpkgtest::word(0)
            + danteWord(4, 0, 0),
        {"data/", "data/fw.BIN=" + firmware, "data/b2.dnt=" + src + "/b2.dnt"});

    FirmWindowTimings timings;
    timings.rows.updateModeMs = 1500;
    window = std::make_unique<FirmUpdateUI>(nullptr, Qt::WindowFlags(), createModelFirmUpdater, timings);
    // The window goes before the rack owner it was given.
    const std::shared_ptr<void> closeFirst(nullptr, [&](void*) { window.reset(); });
    ASSERT_EQ(window->init(&rack.rack()), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return window->danteAgentResult() == 0; }, 15000));
    ASSERT_TRUE(qtest::showAndWait(window.get()));
    {
        qtest::ModalDriver choose(15000);
        choose.typeFileName(QString::fromStdString(path));
        QTest::mouseClick(window->form().m_btnFileSelect, Qt::LeftButton);
        ASSERT_TRUE(choose.waitAllAnswered(15000));
    }
    ASSERT_EQ(window->rows().size(), 2u);
    ASSERT_TRUE(qtest::waitUntil(
        [&] {
            return std::all_of(window->rows().begin(), window->rows().end(),
                [](const auto& r) { return r->danteState() == DeviceObject::Analyzing; });
        },
        15000));
    for (const char* name : names) {
        DfaDeviceInfo device = dfutest::deviceNamed(name, "Bklyn2");
        device.dante_fw_version.major = 4;
        device.manf_sw_version.major = 4;
        dfutest::feed(DFA_ERR_NOERR, DFA_CBACK_INF_DEVICE, device);
    }
    dfutest::feed(DFA_ERR_DURATION_EXPIRE, DFA_CBACK_INF_DEVICE_LIST, dfutest::Empty{});
    ASSERT_TRUE(qtest::waitUntil([&] { return window->uiState() == FirmUpdateUI::UPDATE_UI_READY; }, 15000));
    for (const auto& row : window->rows()) {
        ASSERT_TRUE(row->modelChecked()) << row->deviceName().toStdString();
        ASSERT_TRUE(row->danteChecked()) << row->deviceName().toStdString();
    }

    log.clear();
    qtest::ModalDriver driver(30000);
    driver.pressButton(QStringLiteral("OK"));
    QTest::mouseClick(window->form().m_btnUpdate, Qt::LeftButton);
    runToEnd();
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(runLines(), kFullOrder);
    EXPECT_EQ(messagesOf(driver), "UPDATE COMPLETED|Firmware update successfully completed.\n");
    for (const auto& row : window->rows()) {
        EXPECT_EQ(row->modelState(), DeviceObject::Done);
        EXPECT_EQ(row->danteState(), DeviceObject::Done);
    }
    // Each unit received the package's firmware whole.
    std::vector<std::string> stores;
    for (std::string l; stores.size() < 2 && links.readLine(&l, 3000);)
        if (l.rfind("STORED ", 0) == 0)
            stores.push_back(l);
    ASSERT_EQ(stores.size(), 2u);
    for (const std::string& l : stores)
        EXPECT_NE(l.find(" ok"), std::string::npos) << l;
}

} // namespace
