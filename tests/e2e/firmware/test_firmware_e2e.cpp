// The firmware update window as an operator uses it, on the program as its
// entry builds it: the rack's units placed and connected, Tool > Firmware
// Update, packages chosen in the real file dialog, the matching units
// analysed over their command link (the rack's links handed over meanwhile)
// and updated, the images the units stored compared with the packages'.
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

} // namespace
