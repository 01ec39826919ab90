// The firmware update window as an operator uses it, on the program as its
// entry builds it: the rack's units placed and connected, Tool > Firmware
// Update, packages chosen in the real file dialog, the matching units
// analysed over their command link (the rack's links handed over meanwhile)
// and updated, the images the units stored compared with the packages'.
// Packages with Dante files go through the real Dante agent against the fake
// Dante services, their modules found through avahi-daemon in the peer
// namespace and fetching their files from the window's TFTP server.
#include "app/app_log.h"
#include "tests/support/avahi_daemon.h"
#include "tests/support/dante_agent_fakes.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"
#include "tests/support/unit_process.h"
#include "tests/ui/main/main_fixture.h"
#include "tests/ui/main/units/program_bed.h"

#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using Quil::DeviceObject;
using Quil::FirmUpdateUI;
using Quil::firmWindowDefaultTimings;

constexpr int kWaitMs = qtest::kProgramWaitMs;
// A whole run: the units' transfers and polled writes.
constexpr int kRunMs = 60000;
// A file dialog the driver could not answer is dismissed after this long
// and opened again, at most this many times.
constexpr int kFileDialogMs = 8000;
constexpr int kFileAttempts = 3;
// The units' firmware command link port.
constexpr const char* kCommandPort = "49552";
// A Dante module silent this long fails its job (the product waits 90 s).
constexpr int kDanteSilenceMs = 4000;
// How often the agent's clock is moved past the Dante device list's window
// once every module has been reported, so no analysis waits it out.
constexpr int kListPumpMs = 400;

struct FirmUnit {
    Quil::ModelType type;
    int host;
    const char* name;
    // The command link's answers: product name, version before and after an
    // update, transfer protocols.
    const char* product;
    const char* before;
    const char* after;
    const char* protocols;
    // More command-link knobs ("fault=...", "write=..."), or empty.
    const char* knobs = "";
};

// Two third-generation units pulled by TFTP, a Sorn-D sent by XMODEM, and a
// BroxL-D2 that no package here fits.
const std::vector<FirmUnit> kRack = {
    {Quil::MODEL_BROXL_D3, 11, "Stage Left", "BroxL-D3", "V2.04", "V2.10", "tftp"},
    {Quil::MODEL_BROXM_D3, 12, "Stage Right", "BroxM-D3", "V2.08", "V2.10", "tftp"},
    {Quil::MODEL_SORN_D, 13, "Patch", "Sorn-D", "V1.12", "V1.20", "xmodem-1k"},
    {Quil::MODEL_BROXL_D2, 14, "Monitors", "BroxL-D2", "V1.30", "V1.40", "xmodem-1k"},
};

struct Package {
    std::string path;
    std::string image; // the model firmware file in it
    std::set<QString> rows; // device names the window lists for it
};

class FirmwareE2E : public ::testing::Test {
protected:
    // Inside the test's namespace: the bed, the units (SCP and the command
    // link on one address each), the packages and the program with every
    // unit placed and connected.
    void bringUp(const std::vector<FirmUnit>& rack)
    {
        placed = rack;
        bed = std::make_unique<qtest::NetnsBed>();
        ASSERT_TRUE(bed->ready()) << bed->error();
        units = std::make_unique<qtest::UnitRack>(*bed);
        std::vector<qtest::UnitSpec> specs;
        for (const FirmUnit& u : placed) {
            qtest::UnitSpec spec;
            spec.modelType = u.type;
            spec.host = u.host;
            spec.deviceName = u.name;
            spec.version = u.before;
            specs.push_back(spec);
        }
        ASSERT_TRUE(units->start(specs)) << units->error();
        makePackages();
        std::vector<std::string> argv = {"/usr/bin/python3", "-u", qtest::peerPath("mfu_unit.py"), "--work",
            dir.file("units"), "--port", kCommandPort};
        for (const FirmUnit& u : placed) {
            // A bare third-generation package is itself what the unit fetches.
            const std::string image = u.type == Quil::MODEL_SORN_D ? sorn.image
                : u.type == Quil::MODEL_BROXM_D2                   ? brox2.image
                                                                   : brox3.path;
            argv.insert(argv.end(),
                {"--unit",
                    qtest::unitAddress(u.host) + ",name=" + u.product + ",version=" + u.before + ",after=" + u.after
                        + ",protocols=" + u.protocols + ",write=20:60:100,expect=" + image + (*u.knobs ? "," : "")
                        + u.knobs});
        }
        commandLink = std::make_unique<qtest::ChildProcess>(bed->inPeer(argv));
        std::string line;
        for (int i = 0; i < 100 && line != "READY"; ++i)
            commandLink->readLine(&line, 200);
        ASSERT_EQ(line, "READY") << "the command-link units did not start";

        // The engines' lines go to the application log, as the entry sets up.
        appLogInstallSinks();
        ASSERT_EQ(appLogSetPath(dir.file("AppLog.log").c_str()), APPLOG_OK);
        program = std::make_unique<qtest::Program>(QString::fromLatin1(qtest::NetnsBed::kLocalMac));
        ASSERT_TRUE(program->start());
        ASSERT_TRUE(program->waitFound(slotCount()));
        for (int i = 0; i < slotCount(); ++i)
            ASSERT_NO_FATAL_FAILURE(qtest::chooseUnitId(slotButton(i), placed[i].host));
        for (int i = 0; i < slotCount(); ++i)
            ASSERT_TRUE(qtest::waitForPicture(slotButton(i), SLOT_CONNECTED)) << i;
    }

    void makePackages()
    {
        // Images of a few hundred KiB that do not shrink in the package.
        uint32_t seed = 12345;
        const auto noise = [&seed](size_t size) {
            std::string bytes(size, '\0');
            for (char& c : bytes) {
                seed = seed * 1103515245u + 12345u;
                c = static_cast<char>(seed >> 23);
            }
            return bytes;
        };
        ASSERT_EQ(::mkdir(dir.file("units").c_str(), 0755), 0);
        const std::string a = noise(300 * 1024);
        const std::string b = noise(200 * 1024 + 77);
        brox3 = {dir.file("BroxL-D3_V210.bin"), dir.file("brox3.img"), {"Stage Left", "Stage Right"}};
        sorn = {dir.file("Sorn-D_V120.bin"), dir.file("sorn.img"), {"Patch"}};
        brox2 = {dir.file("BroxM-D2_V120.bin"), dir.file("brox2.img"), {"AmpA", "AmpB"}};
        ASSERT_TRUE(qtest::writeFile(brox3.image, a));
        ASSERT_TRUE(qtest::writeFile(sorn.image, b));
        ASSERT_TRUE(qtest::writeFile(brox2.image, noise(180 * 1024 + 5)));
        // Two Dante files for the Brox's module, one for Brooklyn-2 (device
        // code 9), one for Brooklyn-3 (40).
        const std::string dnt = dir.file("dnt");
        ASSERT_EQ(::mkdir(dnt.c_str(), 0755), 0);
        ASSERT_EQ(qtest::runCommand("cd '" + dnt + "' && PYTHONPATH='" + qtest::peerPath("")
                      + "' /usr/bin/python3 -c 'import dnt_gen; open(\"bn2.dnt\", \"wb\").write(dnt_gen.v3());"
                        " open(\"bn3.dnt\", \"wb\").write(dnt_gen.v3(device_code=40))'"),
            0);
        danteFiles = {qtest::readFile(dnt + "/bn2.dnt"), qtest::readFile(dnt + "/bn3.dnt")};
        // The Mavik's firmware: a zip (made by python's zipfile) of its
        // description and its main image.
        mavik = {dir.file("Mavik-D_V140.bin"), dir.file("mavik.zip"), {"Converter"}};
        const std::string src = dir.file("mavik");
        ASSERT_EQ(::mkdir(src.c_str(), 0755), 0);
        ASSERT_TRUE(qtest::writeFile(src + "/updater_contents.xml",
            "<MAVIK-D>\n<ATTRIBUTE><UPDATE_PACKAGE_VERSION VALUE=\"1.40\"/><REBOOT_AFTER_UPDATE VALUE=\"1\"/>"
            "</ATTRIBUTE>\n</MAVIK-D>\n"));
        ASSERT_TRUE(qtest::writeFile(src + "/main.bin", noise(150 * 1024)));
        ASSERT_EQ(qtest::runCommand("cd '" + src
                      + "' && /usr/bin/python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1],\"w\");"
                        " [z.write(n) for n in sys.argv[2:]]; z.close()' '"
                      + mavik.image + "' updater_contents.xml main.bin"),
            0);
        // V2.10 byte-swapped in a bare "Brox-D3" package; V1.20 and V1.40 in
        // the others.
        // The BroxM-D2 package's field of 28 bytes: V1.20, then per Dante
        // file its version 4.3.0 and a second triple whose major number
        // tells the module (4: Brooklyn-2, above 4: Brooklyn-3).
        const std::string list = brox3.path + "\t16\tBrox-D3\t000a0256\tfw=" + brox3.image + "\n" + sorn.path
            + "\t16\tQuilSorn-D\t56011400\tdata/\tdata/fw.BIN=" + sorn.image + "\n" + mavik.path
            + "\t16\tQuilMavik-D\t56012800\tdata/\tdata/fw.BIN=" + mavik.image + "\n" + brox2.path
            + "\t28\tQuilBroxM-D2\t56011400040300000000000004020100040300000000000005000000\tdata/\tdata/fw.BIN="
            + brox2.image + "\tdata/bn2.dnt=" + dnt + "/bn2.dnt\tdata/bn3.dnt=" + dnt + "/bn3.dnt\n";
        ASSERT_TRUE(qtest::writeFile(dir.file("packages.list"), list));
        ASSERT_EQ(qtest::runCommand("/usr/bin/python3 '" + qtest::peerPath("mbdf_peer.py") + "' packages '"
                      + dir.file("packages.list") + "'"),
            0);
    }

    void TearDown() override
    {
        firmWindowDefaultTimings() = Quil::FirmWindowTimings();
        if (!HasFailure() || !commandLink)
            return;
        std::string line;
        while (commandLink->readLine(&line, 100))
            std::printf("command link: %s\n", line.c_str());
    }

    int slotCount() const { return static_cast<int>(placed.size()); }
    // Tool > Firmware Update with `drive` run on the shown window (which it
    // closes); afterwards every slot the window took is connected again.
    void runWindow(const std::function<void(FirmUpdateUI*)>& drive)
    {
        bool driven = false;
        qtest::onNextModal<FirmUpdateUI>(
            [&](FirmUpdateUI* window) {
                driven = true;
                openWindow = window;
                drive(window);
                // A drive stopped by a failed check leaves the window up (or
                // a close it asked for was refused): it is ended here, so the
                // failure is reported instead of a hang in its modal loop.
                if (window->isVisible()) {
                    ADD_FAILURE() << "the window was left open in state " << window->uiState();
                    window->done(QDialog::Rejected);
                }
            },
            kWaitMs);
        program->window->action(QStringLiteral("Firmware Update"))->trigger();
        EXPECT_TRUE(driven);
        EXPECT_TRUE(qtest::waitUntil([&] { return connectedSlots() == slotCount(); }, kWaitMs)) << connectedSlots();
    }

    // What unit `host` received by XMODEM is `image` and the padding of its
    // last block.
    bool storedPadded(int host, const std::string& image) const
    {
        const std::string got = stored(host);
        return got.size() >= image.size() && got.compare(0, image.size(), image) == 0
            && got.find_first_not_of('\x1a', image.size()) == std::string::npos;
    }

    DevSelFrame* slotButton(int slot) const { return program->window->slotStrip()->button(slot); }
    int connectedSlots() const
    {
        int n = 0;
        for (int i = 0; i < slotCount(); ++i)
            n += program->core->isConnected(i) ? 1 : 0;
        return n;
    }

    // "Select" with the package typed into the real file dialog; true once
    // the window is ready with every listed row analysed. The window is then
    // grabbed into the build's screenshots (firmware-e2e-<package>.png).
    static bool choose(FirmUpdateUI* window, const Package& package)
    {
        // On a loaded X server the widget file dialog now and then ends up
        // open at "/" with the typed name gone, though the name was typed
        // and accepted; the dialog is then dismissed and opened again (a
        // few times, each bounded).
        QStringList missed;
        for (int attempt = 0; attempt < kFileAttempts; ++attempt) {
            qtest::ModalDriver driver(kFileDialogMs);
            driver.typeFileName(QString::fromStdString(package.path));
            QTest::mouseClick(window->form().m_btnFileSelect, Qt::LeftButton);
            EXPECT_TRUE(driver.waitAllAnswered(kWaitMs)) << describe(window);
            if (driver.errors().isEmpty())
                break;
            missed << driver.errors();
        }
        EXPECT_LT(missed.size(), kFileAttempts) << missed.join('\n').toStdString();
        const bool ready = qtest::waitUntil(
            [&] {
                const auto& rows = window->rows();
                return window->uiState() == FirmUpdateUI::UPDATE_UI_READY && rows.size() == package.rows.size()
                    && std::all_of(rows.begin(), rows.end(),
                        [](const auto& row) { return row->modelState() == DeviceObject::Analyzed; });
            },
            kWaitMs);
        const QString shots = QStringLiteral(QUILLON_SCREENSHOTS_DIR);
        if (QDir().mkpath(shots)) {
            window->grab().save(
                shots + "/firmware-e2e-" + QFileInfo(QString::fromStdString(package.path)).baseName() + ".png");
        }
        EXPECT_TRUE(ready) << describe(window);
        return ready;
    }

    // The window's state and each row's analysis and update states, for a
    // failure message that says which unit stalled.
    static std::string describe(const FirmUpdateUI* window)
    {
        std::string text = "window state " + std::to_string(window->uiState());
        for (const auto& row : window->rows()) {
            text += "; " + row->deviceName().toStdString() + ": analysis " + std::to_string(row->modelState())
                + ", update " + std::to_string(row->modelUpdateState());
        }
        return text;
    }

    static std::set<QString> rowNames(const FirmUpdateUI* window)
    {
        std::set<QString> names;
        for (const auto& row : window->rows())
            names.insert(row->deviceName());
        return names;
    }

    // "Update", the end message answered; its title and text.
    static QString update(FirmUpdateUI* window)
    {
        qtest::ModalDriver driver(kRunMs);
        driver.pressButton(QStringLiteral("OK"));
        EXPECT_TRUE(window->form().m_btnUpdate->isEnabled());
        QTest::mouseClick(window->form().m_btnUpdate, Qt::LeftButton);
        EXPECT_TRUE(driver.waitAllAnswered(kRunMs)) << describe(window);
        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
        EXPECT_TRUE(qtest::waitUntil([&] { return window->uiState() == FirmUpdateUI::UPDATE_UI_READY; }, kWaitMs))
            << describe(window);
        return driver.seen().empty() ? QString() : driver.seen()[0].title + "|" + driver.seen()[0].text;
    }

    // What unit `host` stored, as the command-link unit wrote it.
    std::string stored(int host) const
    {
        return qtest::readFile(dir.file("units/" + qtest::unitAddress(host) + ".bin"));
    }

    // The PC's Dante services in the test's namespace (fake_conmon.py with
    // one module per entry of `devices`, "name[,key=value...]", and
    // fake_cmm.py offering the bed's interface as the current one) and the
    // modules' advertisements by avahi-daemon in the peer namespace. While
    // a window analyses a Dante package and every module has been
    // reported, the agent's clock is moved past the list's window.
    void startDante(const std::vector<std::string>& devices)
    {
        using qtest::NetnsBed;
        clock = std::make_unique<dfaagent::SteppedClock>();
        const std::string itf = NetnsBed::kLocalInterface;
        std::vector<std::string> args
            = {"--port", "8900", "--lifetime", "300", "--interface", itf + "=" + NetnsBed::kLocalAddress};
        std::vector<qtest::AvahiDaemon::Service> services;
        for (const std::string& device : devices) {
            args.insert(args.end(), {"--device", device});
            dfaagent::publish(&services, device.substr(0, device.find(',')), true, ++danteDevices);
        }
        conmon = std::make_unique<dfaagent::Peer>("fake_conmon.py", args);
        cmm = std::make_unique<dfaagent::Peer>("fake_cmm.py",
            std::vector<std::string>{"--port", "8850", "--lifetime", "300", "--interface",
                itf + "=" + NetnsBed::kLocalMac, "--current", itf});
        ASSERT_TRUE(conmon->ready() && cmm->ready());
        avahi = std::make_unique<qtest::AvahiDaemon>(*bed, services);
        ASSERT_TRUE(avahi->ready()) << avahi->error();
        listPump.callOnTimeout([this] {
            // The fakes' reports are read as they come, so their pipes never fill.
            conmon->drain();
            cmm->drain();
            const FirmUpdateUI* window = openWindow.data();
            if (window && window->uiState() == FirmUpdateUI::UPDATE_UI_DEVICE_ANALYZING && window->danteMode()
                && window->danteFront() && window->danteFront()->deviceCount() >= size_t(danteDevices))
                clock->step(DFU_LIST_WINDOW_SECONDS + 1);
        });
        listPump.start(kListPumpMs);
    }

    // The fake module `name` fetched the Dante file `file` whole.
    bool fetched(const std::string& name, const std::string& file, int ms = 5000)
    {
        const std::string crc
            = std::to_string(crc32(0, reinterpret_cast<const Bytef*>(file.data()), static_cast<uInt>(file.size())));
        return conmon->printed({"TFTP {", "\"device\":\"" + name + "\"", "\"ok\":true",
                                   "\"bytes\":" + std::to_string(file.size()), "\"crc32\":" + crc},
            ms);
    }

    // The application log's lines from line `from` on.
    std::vector<std::string> logLines(size_t from = 0) const
    {
        std::vector<std::string> lines;
        std::string text = qtest::readFile(dir.file("AppLog.log"));
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = text.find('\n', at);
            lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
            at = end == std::string::npos ? text.size() : end + 1;
        }
        lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(from, lines.size())));
        return lines;
    }
    // Whether `wanted` appear in the log from line `from` on, in this order.
    bool logHolds(const std::vector<std::string>& wanted, size_t from = 0) const
    {
        const std::vector<std::string> lines = logLines(from);
        auto at = lines.begin();
        for (const std::string& line : wanted) {
            at = std::find(at, lines.end(), line);
            if (at == lines.end())
                return false;
            ++at;
        }
        return true;
    }

    static DeviceObject* rowNamed(const FirmUpdateUI* window, const QString& name)
    {
        return window->rowByDeviceName(name);
    }

    // The unit list's run lines of one unit's jobs.
    static std::string started(const char* side, const DeviceObject* row)
    {
        return "======= updateStarted " + std::string(side) + " " + std::to_string(row->id()) + " ======";
    }

    qtest::TempDir dir;
    std::unique_ptr<qtest::NetnsBed> bed;
    std::unique_ptr<qtest::UnitRack> units;
    std::unique_ptr<qtest::ChildProcess> commandLink;
    std::unique_ptr<qtest::Program> program;
    Package brox3, sorn, mavik, brox2;
    std::vector<FirmUnit> placed;
    std::vector<std::string> danteFiles; // as the package holds them
    // The Dante side, gone before the program and the bed.
    std::unique_ptr<dfaagent::SteppedClock> clock;
    std::unique_ptr<dfaagent::Peer> conmon, cmm;
    std::unique_ptr<qtest::AvahiDaemon> avahi;
    int danteDevices = 0;
    QTimer listPump;
    QPointer<FirmUpdateUI> openWindow;
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
