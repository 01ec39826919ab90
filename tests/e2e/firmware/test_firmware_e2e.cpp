// The firmware update window as an operator uses it, on the program as its
// entry builds it: the rack's units placed and connected, Tool > Firmware
// Update, packages chosen in the real file dialog, the matching units
// analysed over their command link (the rack's links handed over meanwhile)
// and updated, the images the units stored compared with the packages'.
// Packages with Dante files go through the real Dante agent against the fake
// Dante services.
#include "tests/e2e/firmware/firmware_e2e_fixture.h"

namespace {

using namespace fwe2e;

// Two third-generation units pulled by TFTP, a Sorn-D sent by XMODEM, and a
// BroxL-D2 that no package here fits.
const std::vector<FirmUnit> kRack = {
    {Quil::MODEL_BROXL_D3, 11, "Stage Left", "BroxL-D3", "V2.04", "V2.10", "tftp"},
    {Quil::MODEL_BROXM_D3, 12, "Stage Right", "BroxM-D3", "V2.08", "V2.10", "tftp"},
    {Quil::MODEL_SORN_D, 13, "Patch", "Sorn-D", "V1.12", "V1.20", "xmodem-1k"},
    {Quil::MODEL_BROXL_D2, 14, "Monitors", "BroxL-D2", "V1.30", "V1.40", "xmodem-1k"},
};

TEST_F(FirmwareE2E, ModelPackagesUpdateTheirUnitsAndTheRackGetsItsLinksBack)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUp(kRack));

    runWindow([&](FirmUpdateUI* window) {
        // A third-generation package lists both third-generation units
        // and no other; their rack links are closed for the analysis,
        // the others' stay.
        ASSERT_TRUE(choose(window, brox3)) << window->uiState();
        EXPECT_EQ(rowNames(window), brox3.rows);
        EXPECT_FALSE(program->core->isConnected(0));
        EXPECT_FALSE(program->core->isConnected(1));
        EXPECT_TRUE(program->core->isConnected(2));
        EXPECT_TRUE(program->core->isConnected(3));
        for (const auto& row : window->rows()) {
            EXPECT_TRUE(row->modelChecked()) << row->deviceName().toStdString();
        }
        EXPECT_EQ(update(window), "UPDATE COMPLETED|Firmware update successfully completed.");
        for (int i : {0, 1}) {
            EXPECT_TRUE(stored(kRack[i].host) == qtest::readFile(brox3.path)) << kRack[i].name;
        }
        for (const auto& row : window->rows()) {
            EXPECT_EQ(row->modelUpdateState(), DeviceObject::Finished) << row->deviceName().toStdString();
        }

        // Chosen again: every unit at the package's version, nothing
        // ticked.
        ASSERT_TRUE(choose(window, brox3));
        for (const auto& row : window->rows()) {
            EXPECT_EQ(row->modelVersion(), "V2.10") << row->deviceName().toStdString();
            EXPECT_FALSE(row->modelChecked()) << row->deviceName().toStdString();
        }
        EXPECT_FALSE(window->form().m_btnUpdate->isEnabled());

        // The Sorn-D package: only the Sorn, sent by XMODEM (which pads
        // the last block).
        ASSERT_TRUE(choose(window, sorn)) << window->uiState();
        EXPECT_EQ(rowNames(window), sorn.rows);
        EXPECT_EQ(update(window), "UPDATE COMPLETED|Firmware update successfully completed.");
        EXPECT_TRUE(storedPadded(kRack[2].host, qtest::readFile(sorn.image)));
        window->close();
    });
}

// Cancel during the first job, then a run with a unit that refuses the
// package's version: the run goes on past it, and it is analysed again.
TEST_F(FirmwareE2E, CancelAndARefusedVersionEndTheirRunsAndTheUnitIsAnalysedAgain)
{
    QTEST_IN_NETNS();
    // The first unit writes slowly, so the cancel meets its job.
    const std::vector<FirmUnit> rack = {
        {Quil::MODEL_BROXL_D3, 11, "Stage Left", "BroxL-D3", "V2.04", "V2.10", "tftp",
            "write=5:10:15:20:25:30:35:40:45:50:55:60:65:70:75:80:85:90:95:100"},
        {Quil::MODEL_BROXM_D3, 12, "Stage Right", "BroxM-D3", "V2.04", "V2.10", "tftp", "fault=erase_version"},
        {Quil::MODEL_BROXL_D3, 13, "Side Fill", "BroxL-D3", "V2.04", "V2.10", "tftp"},
    };
    ASSERT_NO_FATAL_FAILURE(bringUp(rack));
    brox3.rows = {"Stage Left", "Stage Right", "Side Fill"};

    runWindow([&](FirmUpdateUI* window) {
        ASSERT_TRUE(choose(window, brox3)) << window->uiState();
        const auto row = [&](const char* name) {
            for (const auto& r : window->rows())
                if (r->deviceName() == QLatin1String(name))
                    return r.get();
            return static_cast<DeviceObject*>(nullptr);
        };
        DeviceObject* first = row("Stage Left");
        DeviceObject* refusing = row("Stage Right");
        DeviceObject* last = row("Side Fill");
        ASSERT_TRUE(first && refusing && last);

        // Cancel while the first unit's job runs: it completes, the
        // others' jobs are cancelled and the run ends.
        {
            qtest::ModalDriver driver(kRunMs);
            driver.pressButton(QStringLiteral("Yes"));
            driver.pressButton(QStringLiteral("OK"));
            QTest::mouseClick(window->form().m_btnUpdate, Qt::LeftButton);
            ASSERT_TRUE(qtest::waitUntil(
                [&] {
                    const int state = first->modelUpdateState();
                    return state == DeviceObject::Transferring || state == DeviceObject::Writing;
                },
                kWaitMs))
                << first->modelUpdateState();
            QTest::mouseClick(window->form().m_btnCancel, Qt::LeftButton);
            EXPECT_TRUE(driver.waitAllAnswered(kRunMs));
            ASSERT_EQ(driver.seen().size(), 2u);
            EXPECT_EQ(driver.seen()[0].title, "CONFIRMATION");
            EXPECT_EQ(driver.seen()[1].title + "|" + driver.seen()[1].text,
                "UPDATE COMPLETED|Firmware update successfully completed.");
        }
        ASSERT_TRUE(qtest::waitUntil([&] { return window->uiState() == FirmUpdateUI::UPDATE_UI_READY; }, kWaitMs));
        EXPECT_EQ(first->modelUpdateState(), DeviceObject::Finished);
        EXPECT_EQ(refusing->modelUpdateState(), DeviceObject::Cancelled);
        EXPECT_EQ(last->modelUpdateState(), DeviceObject::Cancelled);
        EXPECT_TRUE(stored(11) == qtest::readFile(brox3.path));
        EXPECT_EQ(stored(13), "") << "a cancelled unit was sent its image";

        // The cancelled units are still ticked; the next run passes the
        // refusing unit ("See Note.") and updates the last one.
        EXPECT_TRUE(refusing->modelChecked());
        EXPECT_TRUE(last->modelChecked());
        EXPECT_EQ(
            update(window), "CAUTION|Firmware Update failed for device(s) .\nCheck network connection and try again.");
        EXPECT_TRUE(stored(13) == qtest::readFile(brox3.path));
        // Ready again: the updated units done, the refusing one
        // analysed at its own version, to be tried again.
        ASSERT_TRUE(qtest::waitUntil([&] { return window->uiState() == FirmUpdateUI::UPDATE_UI_READY; }, kWaitMs));
        for (const char* name : {"Stage Left", "Side Fill"}) {
            ASSERT_NE(row(name), nullptr) << name;
            EXPECT_EQ(row(name)->modelState(), DeviceObject::Done) << name;
        }
        ASSERT_NE(row("Stage Right"), nullptr);
        EXPECT_EQ(row("Stage Right")->modelState(), DeviceObject::Analyzed);
        EXPECT_EQ(row("Stage Right")->modelVersion(), "V2.04");
        // Closing after a failed unit may ask first.
        qtest::ModalDriver closing(2000);
        closing.pressButton(QStringLiteral("Yes"));
        window->close();
    });
}

// A Mavik-D package updates its unit through the workgroup: the unit beats
// on the link (IPv6 multicast), takes the window's session and fetches its
// files over IPv6 TFTP.
TEST_F(FirmwareE2E, MavikPackageUpdatesItsUnitThroughTheWorkgroup)
{
    QTEST_IN_NETNS();
    const std::vector<FirmUnit> rack = {
        {Quil::MODEL_MAVIK_D, 15, "Converter", "Mavik-D", "V1.31", "V1.31", "tftp"},
        {Quil::MODEL_BROXL_D3, 11, "Stage Left", "BroxL-D3", "V2.04", "V2.10", "tftp"},
    };
    ASSERT_NO_FATAL_FAILURE(bringUp(rack));
    const std::string out = dir.file("mavik-unit");
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    // Its id text is its unit's device name: that is how its row finds it.
    qtest::ChildProcess unit(bed->inPeer({"/usr/bin/python3", "-u", qtest::peerPath("workgroup_unit.py"), "--ifname",
                                 qtest::NetnsBed::kPeerInterface, "--dev", "5300000015", "--id", "Converter",
                                 "--version", "0x011f0000", "--files", "main.bin", "--out", out, "--seconds", "120"}),
        true);

    runWindow([&](FirmUpdateUI* window) {
        ASSERT_TRUE(choose(window, mavik)) << window->uiState();
        EXPECT_EQ(rowNames(window), mavik.rows);
        EXPECT_FALSE(program->core->isConnected(0));
        EXPECT_TRUE(program->core->isConnected(1));
        EXPECT_EQ(update(window), "UPDATE COMPLETED|Firmware update successfully completed.");
        // The image byte for byte; the description as the manager
        // serves it (its own copy of the package's).
        EXPECT_TRUE(qtest::readFile(out + "/main.bin") == qtest::readFile(dir.file("mavik/main.bin")));
        EXPECT_NE(qtest::readFile(out + "/updater_contents.xml").find("<MAVIK-D>"), std::string::npos);
        window->close();
    });
    unit.writeLine("quit");
}

// A unit that closes its link mid-transfer fails alone: the run goes on to
// the next unit and ends with the failure message.
TEST_F(FirmwareE2E, UnitClosingMidTransferFailsAloneAndTheRunGoesOn)
{
    QTEST_IN_NETNS();
    const std::vector<FirmUnit> rack = {
        {Quil::MODEL_SORN_D, 13, "Patch", "Sorn-D", "V1.12", "V1.20", "xmodem-1k", "fault=close_mid"},
        {Quil::MODEL_SORN_D, 16, "Patch B", "Sorn-D", "V1.12", "V1.20", "xmodem-1k"},
    };
    ASSERT_NO_FATAL_FAILURE(bringUp(rack));
    sorn.rows = {"Patch", "Patch B"};

    runWindow([&](FirmUpdateUI* window) {
        ASSERT_TRUE(choose(window, sorn)) << window->uiState();
        EXPECT_EQ(
            update(window), "CAUTION|Firmware Update failed for device(s) .\nCheck network connection and try again.");
        EXPECT_TRUE(storedPadded(16, qtest::readFile(sorn.image)));
        for (const auto& row : window->rows()) {
            EXPECT_EQ(
                row->modelUpdateState(), row->deviceName() == "Patch" ? DeviceObject::Failed : DeviceObject::Finished)
                << row->deviceName().toStdString();
        }
        qtest::ModalDriver closing(2000);
        closing.pressButton(QStringLiteral("Yes"));
        window->close();
    });
}

// Two BroxM-D2 units, one with a Brooklyn-2 and one with a Brooklyn-3
// Dante module, each named as its unit: a package with a Dante file for
// each module lists both (and not the Sorn), and the run updates each
// unit's model side, then its Dante side through the real agent: the
// module fetches its own file from the window's TFTP server.
TEST_F(FirmwareE2E, DantePackageUpdatesEachUnitsModelThenItsDanteModule)
{
    QTEST_IN_NETNS();
    if (!qtest::AvahiDaemon::installed())
        GTEST_SKIP() << qtest::AvahiDaemon::kMissing;
    const std::vector<FirmUnit> rack = {
        {Quil::MODEL_BROXM_D2, 21, "AmpA", "BroxM-D2", "V1.12", "V1.20", "xmodem-1k"},
        {Quil::MODEL_BROXM_D2, 22, "AmpB", "BroxM-D2", "V1.12", "V1.20", "xmodem-1k"},
        {Quil::MODEL_SORN_D, 13, "Patch", "Sorn-D", "V1.12", "V1.20", "xmodem-1k"},
    };
    ASSERT_NO_FATAL_FAILURE(bringUp(rack));
    ASSERT_NO_FATAL_FAILURE(startDante({"AmpA,tftp=1", "AmpB,tftp=1,platform=Bklyn3"}));

    runWindow([&](FirmUpdateUI* window) {
        ASSERT_TRUE(choose(window, brox2)) << describe(window);
        EXPECT_EQ(rowNames(window), brox2.rows);
        EXPECT_TRUE(program->core->isConnected(2)) << "the Sorn's rack link was taken";
        DeviceObject* a = rowNamed(window, "AmpA");
        DeviceObject* b = rowNamed(window, "AmpB");
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->danteModule(), "Brooklyn-2");
        EXPECT_EQ(b->danteModule(), "Brooklyn-3");
        for (DeviceObject* row : {a, b}) {
            EXPECT_EQ(row->danteVersion(), "4.2.0 ,  2.1.0") << row->deviceName().toStdString();
            EXPECT_TRUE(row->modelChecked()) << row->deviceName().toStdString();
            EXPECT_TRUE(row->danteChecked()) << row->deviceName().toStdString();
        }
        const size_t mark = logLines().size();
        EXPECT_EQ(update(window), "UPDATE COMPLETED|Firmware update successfully completed.");
        for (DeviceObject* row : {a, b}) {
            const std::string name = row->deviceName().toStdString();
            EXPECT_EQ(row->modelUpdateState(), DeviceObject::Finished) << name;
            EXPECT_EQ(row->danteUpdateState(), DeviceObject::Finished) << name;
            EXPECT_EQ(row->modelState(), DeviceObject::Done) << name;
            EXPECT_EQ(row->danteState(), DeviceObject::Done) << name;
        }
        EXPECT_TRUE(storedPadded(21, qtest::readFile(brox2.image)));
        EXPECT_TRUE(storedPadded(22, qtest::readFile(brox2.image)));
        EXPECT_TRUE(fetched("AmpA", danteFiles[0]));
        EXPECT_TRUE(fetched("AmpB", danteFiles[1]));
        // Model then Dante job per unit, in row order.
        EXPECT_TRUE(logHolds(
            {"#### State Changed : UPDATE_UI_UPDATING", started("Model", a), started("Dante", a), started("Model", b),
                started("Dante", b), "======= updateEnd All ======", "#### State Changed : UPDATE_UI_READY"},
            mark))
            << ::testing::PrintToString(logLines(mark));
        window->close();
    });
}

// With the PC's Dante services stopped, a package with Dante files is
// refused with the services' message, and a package without any still
// updates its unit.
TEST_F(FirmwareE2E, WithoutTheDanteServicesOnlyModelOnlyPackagesAreTaken)
{
    QTEST_IN_NETNS();
    const std::vector<FirmUnit> rack = {
        {Quil::MODEL_BROXM_D2, 21, "AmpA", "BroxM-D2", "V1.12", "V1.20", "xmodem-1k"},
        {Quil::MODEL_SORN_D, 13, "Patch", "Sorn-D", "V1.12", "V1.20", "xmodem-1k"},
    };
    ASSERT_NO_FATAL_FAILURE(bringUp(rack));

    runWindow([&](FirmUpdateUI* window) {
        QStringList seen;
        for (int attempt = 0; attempt < kFileAttempts; ++attempt) {
            qtest::ModalDriver driver(kFileDialogMs);
            driver.typeFileName(QString::fromStdString(brox2.path));
            driver.pressButton(QStringLiteral("OK"));
            QTest::mouseClick(window->form().m_btnFileSelect, Qt::LeftButton);
            driver.waitAllAnswered(kWaitMs);
            for (const auto& s : driver.seen())
                if (s.kind == QLatin1String("message"))
                    seen << s.title + "|" + s.text;
            if (driver.errors().isEmpty())
                break;
        }
        ASSERT_EQ(seen.size(), 1) << seen.join('\n').toStdString();
        EXPECT_TRUE(seen[0].startsWith("FATAL ERROR|Dante Control and Monitoring service not found.\n"))
            << seen[0].toStdString();
        EXPECT_EQ(window->uiState(), FirmUpdateUI::UPDATE_UI_NOFILE);
        EXPECT_TRUE(window->rows().empty());
        EXPECT_TRUE(program->core->isConnected(0));

        ASSERT_TRUE(choose(window, sorn)) << describe(window);
        EXPECT_EQ(rowNames(window), sorn.rows);
        EXPECT_EQ(update(window), "UPDATE COMPLETED|Firmware update successfully completed.");
        EXPECT_TRUE(storedPadded(13, qtest::readFile(sorn.image)));
        window->close();
    });
    EXPECT_TRUE(logHolds({"  -- Error Type [1]"}));
}

// Failures in a run: a Dante module that falls silent after its first
// status (the window's Dante time-out, shortened) and a Mavik unit whose
// update fails. Each run goes on past its failure; the failed sides are
// analysed again once the window is ready, and a second run updates them
// once their faults are off.
TEST_F(FirmwareE2E, SilentDanteModuleAndFailedMavikAreAnalysedAgainAndUpdatedByASecondRun)
{
    QTEST_IN_NETNS();
    if (!qtest::AvahiDaemon::installed())
        GTEST_SKIP() << qtest::AvahiDaemon::kMissing;
    firmWindowDefaultTimings().danteUpdateMs = kDanteSilenceMs;
    const std::vector<FirmUnit> rack = {
        {Quil::MODEL_BROXM_D2, 21, "AmpA", "BroxM-D2", "V1.12", "V1.20", "xmodem-1k"},
        {Quil::MODEL_BROXM_D2, 22, "AmpB", "BroxM-D2", "V1.12", "V1.20", "xmodem-1k"},
        {Quil::MODEL_MAVIK_D, 15, "Converter", "Mavik-D", "V1.31", "V1.31", "tftp"},
    };
    ASSERT_NO_FATAL_FAILURE(bringUp(rack));
    ASSERT_NO_FATAL_FAILURE(startDante({"AmpA,tftp=0,upgrade_series=[[1,0,0,1000]]", "AmpB,tftp=1,platform=Bklyn3"}));
    const std::string out = dir.file("mavik-unit");
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    qtest::ChildProcess mavikUnit(
        bed->inPeer({"/usr/bin/python3", "-u", qtest::peerPath("workgroup_unit.py"), "--ifname",
            qtest::NetnsBed::kPeerInterface, "--dev", "5300000015", "--id", "Converter", "--version", "0x011f0000",
            "--files", "main.bin", "--out", out, "--result", "0x8001", "--seconds", "200"}),
        true);
    const QString failed
        = QStringLiteral("CAUTION|Firmware Update failed for device(s) .\nCheck network connection and try again.");
    const QString completed = QStringLiteral("UPDATE COMPLETED|Firmware update successfully completed.");

    runWindow([&](FirmUpdateUI* window) {
        ASSERT_TRUE(choose(window, brox2)) << describe(window);
        DeviceObject* a = rowNamed(window, "AmpA");
        DeviceObject* b = rowNamed(window, "AmpB");
        ASSERT_TRUE(a && b);
        const size_t mark = logLines().size();
        // The run ends once the silent module's job has failed and the
        // other unit's jobs have run; the window then asks for the Dante
        // list again and is ready once the silent module is analysed anew.
        EXPECT_EQ(update(window), failed);
        EXPECT_EQ(a->modelUpdateState(), DeviceObject::Finished);
        EXPECT_EQ(a->danteUpdateState(), DeviceObject::Failed);
        EXPECT_EQ(b->modelUpdateState(), DeviceObject::Finished);
        EXPECT_EQ(b->danteUpdateState(), DeviceObject::Finished);
        EXPECT_TRUE(storedPadded(21, qtest::readFile(brox2.image)));
        EXPECT_TRUE(fetched("AmpB", danteFiles[1]));
        EXPECT_TRUE(logHolds(
            {started("Dante", a), "!!! Timeout : Dante update id " + std::to_string(a->id()), started("Model", b),
                started("Dante", b), "======= updateEnd All ======", "NO Model. So start from DANTE search",
                "got DfuCallback_DEVICE_LIST", "#### State Changed : UPDATE_UI_READY"},
            mark))
            << ::testing::PrintToString(logLines(mark));
        ASSERT_TRUE(qtest::waitUntil([&] { return window->uiState() == FirmUpdateUI::UPDATE_UI_READY; }, kWaitMs));
        EXPECT_EQ(a->danteState(), DeviceObject::Analyzed);
        EXPECT_TRUE(a->danteChecked());

        // The module answers again: the second run updates it.
        conmon->command("device AmpA tftp=1");
        ASSERT_TRUE(conmon->await("DEVICE {", 3000));
        EXPECT_EQ(update(window), completed) << describe(window);
        EXPECT_EQ(a->danteUpdateState(), DeviceObject::Finished);
        EXPECT_TRUE(fetched("AmpA", danteFiles[0]));

        // The Mavik unit fails its update; it is analysed again and the
        // second run, its fault off, updates it.
        ASSERT_TRUE(choose(window, mavik)) << describe(window);
        DeviceObject* converter = rowNamed(window, "Converter");
        ASSERT_NE(converter, nullptr);
        EXPECT_EQ(update(window), failed);
        EXPECT_EQ(converter->modelUpdateState(), DeviceObject::Failed);
        ASSERT_TRUE(qtest::waitUntil(
            [&] {
                return window->uiState() == FirmUpdateUI::UPDATE_UI_READY
                    && converter->modelState() == DeviceObject::Analyzed;
            },
            kWaitMs))
            << describe(window);
        EXPECT_TRUE(converter->modelChecked());
        // The window ends the unit's update session after its reply; the
        // unit beats as free again before the second run asks for it.
        std::string line;
        std::vector<std::string> said;
        for (int i = 0; i < 2000 && line.rfind("MSG 1/2", 0) != 0 && mavikUnit.readLine(&line, 5000); ++i)
            said.push_back(line);
        EXPECT_EQ(line.rfind("MSG 1/2", 0), 0u) << ::testing::PrintToString(said);
        mavikUnit.writeLine("result 0");
        // The manager finds the unit again by its beats (ten a second).
        QTest::qWait(1000);
        EXPECT_EQ(update(window), completed) << describe(window);
        EXPECT_EQ(converter->modelUpdateState(), DeviceObject::Finished);
        EXPECT_TRUE(qtest::readFile(out + "/main.bin") == qtest::readFile(dir.file("mavik/main.bin")));
        window->close();
    });
    mavikUnit.writeLine("quit");
}

} // namespace
