// The fixture of the firmware update window's end-to-end runs: the namespace
// bed with simulated units and their firmware command link, the packages,
// and the program with every unit placed and connected; the window's moves
// (package choice in the real file dialog, update, close) the runs share.
// Packages with Dante files go through the real Dante agent against the fake
// Dante services, their modules found through avahi-daemon in the peer
// namespace and fetching their files from the window's TFTP server.
#pragma once

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

namespace fwe2e {

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
    // False: a unit that only connects to the rack, without a command link.
    bool commandLink = true;
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
            if (!u.commandLink)
                continue;
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
        for (int i = 0; i < slotCount(); ++i) {
            // The strip scrolls: a lower slot is brought into view first.
            program->window->slotScroll()->ensureWidgetVisible(slotButton(i));
            ASSERT_NO_FATAL_FAILURE(qtest::chooseUnitId(slotButton(i), placed[i].host)) << i;
        }
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
        // the others. The BroxM-D2 package's field of 28 bytes holds V1.20,
        // then per Dante file its version 4.3.0 and a second triple whose
        // major number tells the module (4: Brooklyn-2, above 4: Brooklyn-3).
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
        selectPackage(window, package.path);
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

    // "Select" with the file typed into the real file dialog.
    static void selectPackage(FirmUpdateUI* window, const std::string& path)
    {
        // On a loaded X server the widget file dialog now and then ends up
        // open at "/" with the typed name gone, though the name was typed
        // and accepted; the dialog is then dismissed and opened again (a
        // few times, each bounded).
        QStringList missed;
        for (int attempt = 0; attempt < kFileAttempts; ++attempt) {
            qtest::ModalDriver driver(kFileDialogMs);
            driver.typeFileName(QString::fromStdString(path));
            QTest::mouseClick(window->form().m_btnFileSelect, Qt::LeftButton);
            EXPECT_TRUE(driver.waitAllAnswered(kWaitMs)) << describe(window);
            if (driver.errors().isEmpty())
                break;
            missed << driver.errors();
        }
        EXPECT_LT(missed.size(), kFileAttempts) << missed.join('\n').toStdString();
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

} // namespace fwe2e
