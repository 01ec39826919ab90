// The firmware update window against a rack: eight BroxL-D2 units and one
// BroxM-D2 unit, each a simulated unit process (update-mode connection) on
// its own address with its command link (mfu_unit.py), all placed and
// connected in the rack owner's slots, in a network namespace of the
// program's own (run it as root; without namespaces nothing runs).
//
// One round opens the window, chooses a package and times from the choice
// to UPDATE_UI_READY: the BroxL-D2 package lists the eight units (rack),
// the BroxM-D2 package the one unit (alone). Each choice closes the listed
// units' rack links, connects each unit in update mode, switches the mode
// on and reads the version over the command link; the window is closed
// after each round and the rack links are up again before the next.
//
// The units are analysed side by side, so eight should take at most three
// times one: in throughput (units analysed per second, rack ÷ alone, higher
// is better) the counter "ratio" = 8 × alone time ÷ rack time, bound
// ≥ 8 / 3 = 2.67; "time_ratio" is rack time ÷ alone time, bound ≤ 3.
#include "app/app_log.h"
#include "app/app_quilobject.h"
#include "bench/bench_budget.h"
#include "bench/bench_netns.h"
#include "device/layouts/dev_devstate.h"
#include "device/layouts/dev_modeltypes.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/rack_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/unit_process.h"
#include "tests/ui/fwupdate_ui/run/firmrun_access.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Quil;

constexpr int kRack = 8; // BroxL-D2 units, slots 0 to 7; the BroxM-D2 is slot 8
constexpr int kUnits = kRack + 1;
constexpr int kWaitMs = 30000;
const char* const kVersion = "V1.00";

// Everything the rounds share, made once in main.
struct Bed {
    qtest::NetnsBed* netns = nullptr;
    std::unique_ptr<qtest::TempDir> root;
    std::unique_ptr<qtest::UnitRack> units;
    std::unique_ptr<qtest::ChildProcess> links;
    std::unique_ptr<racktest::RackFixture> rack;
    std::string rackPackage, alonePackage;
    std::string error;
};
Bed* g_bed = nullptr;

// The application log echoes every line to standard output, where the
// results go; while a scope runs, standard output goes to /dev/null (the
// lines are still written to the log file).
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        if (m_saved >= 0) {
            ::dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
        }
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int m_saved = -1;
};

std::string word(uint32_t w)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", w);
    return text;
}

// A home, documents and package folder of the program's own: the package
// reader unpacks into the home folder.
bool makeSandbox(Bed* bed)
{
    bed->root = std::make_unique<qtest::TempDir>();
    const std::string base = bed->root->path();
    for (const char* d : {"home", "docs", "config", "pkg"})
        if (::mkdir((base + "/" + d).c_str(), 0755) != 0)
            return false;
    ::setenv("HOME", (base + "/home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    return qtest::writeFile(base + "/config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + base + "/docs\"\n");
}

// The two packages, made by the independent container peer: one firmware
// file of 64 KiB in "data", version V1.23a (newer than the units').
bool makePackages(Bed* bed)
{
    const std::string base = bed->root->path();
    const std::string firmware = base + "/fw.img";
    if (!qtest::writeFile(firmware, std::string(64 * 1024, 'F')))
        return false;
    const std::string field = word(uint32_t('V') << 24 | 1u << 16 | 23u << 8);
    bed->rackPackage = base + "/pkg/broxl.bin";
    bed->alonePackage = base + "/pkg/broxm.bin";
    std::string list;
    for (const auto& [path, top] : {std::pair{bed->rackPackage, "QuilBroxL-D2"}, {bed->alonePackage, "QuilBroxM-D2"}})
        list += path + "\t16\t" + top + "\t" + field + "\tdata/\tdata/fw.BIN=" + firmware + "\n";
    const std::string listFile = base + "/packages.list";
    return qtest::writeFile(listFile, list)
        && qtest::runCommand("python3 '" + qtest::peerPath("mbdf_peer.py") + "' packages '" + listFile + "'") == 0;
}

DiscoveryOptions bedDiscovery()
{
    DiscoveryOptions o;
    o.ageingTickMs = 50;
    o.ageingTicks = 4;
    o.announcePeriodMs = 200;
    return o;
}

// Every unit's rack link is connected (state 2), within a bounded wait.
bool allLinksUp(racktest::RackFixture& rack)
{
    return qtest::waitUntil(
        [&] {
            for (int slot = 0; slot < kUnits; ++slot)
                if (rack.value(slot, kConnectionStatePath) != 2)
                    return false;
            return true;
        },
        kWaitMs);
}

// The units, their command links and the rack owner with every unit's link
// up. False with bed->error on the first failure.
bool startBed(Bed* bed)
{
    const QuietStdout quiet;
    std::vector<qtest::UnitSpec> specs;
    std::vector<std::string> args = {"--work", bed->root->path()};
    for (int i = 0; i < kUnits; ++i) {
        qtest::UnitSpec spec;
        spec.modelType = i < kRack ? MODEL_BROXL_D2 : MODEL_BROXM_D2;
        spec.host = 2 + i;
        spec.deviceName = "Rack " + std::to_string(i + 1);
        spec.unitId = "J00" + std::to_string(i + 1); // slot i holds device id i + 1
        specs.push_back(spec);
        args.insert(args.end(),
            {"--unit",
                qtest::unitAddress(spec.host) + ",name=" + qtest::unitModelName(spec.modelType) + ",version=" + kVersion
                    + ",protocols=xmodem-1k"});
    }
    bed->units = std::make_unique<qtest::UnitRack>(*bed->netns);
    if (!bed->units->start(specs)) {
        bed->error = bed->units->error();
        return false;
    }
    bed->links = std::make_unique<qtest::ChildProcess>(bed->netns->inPeer(qtest::pythonPeer("mfu_unit.py", args)));
    std::string line;
    if (!bed->links->readLine(&line, 10000) || line != "READY") {
        bed->error = "mfu_unit.py: " + line;
        return false;
    }
    bed->rack = std::make_unique<racktest::RackFixture>(100, bedDiscovery());
    if (!bed->rack->ready()) {
        bed->error = "rack owner";
        return false;
    }
    bed->rack->rack().setNetworkInterface(
        QString::fromLatin1(qtest::NetnsBed::kLocalMac), QString::fromLatin1(qtest::NetnsBed::kLocalAddress), false);
    const bool found = qtest::waitUntil(
        [&] {
            QMap<QString, DeviceEntry> devices;
            bed->rack->rack().getFoundDevices(&devices);
            return devices.size() == kUnits;
        },
        kWaitMs);
    if (!found) {
        bed->error = "the rack owner did not find every unit";
        return false;
    }
    if (!allLinksUp(*bed->rack)) {
        bed->error = "not every rack link came up";
        return false;
    }
    return true;
}

// Opens the window, chooses the package and returns the ms from the choice
// to UPDATE_UI_READY; negative, with *why, when the analysis did not end
// with `rows` rows at the units' version. The window is closed and the rack
// links are up again on return.
double analyseMs(const std::string& package, size_t rows, std::string* why)
{
    const QuietStdout quiet;
    double ms = -1;
    {
        FirmUpdateUI window(nullptr, {}, createModelFirmUpdater);
        window.init(&g_bed->rack->rack());
        window.show();
        QElapsedTimer clock;
        clock.start();
        if (FirmRunAccess::choosePackage(window, QString::fromStdString(package)) < 0) {
            *why = "the package was refused";
            return -1;
        }
        const bool ready = qtest::waitUntil([&] { return window.uiState() == FirmUpdateUI::UPDATE_UI_READY; }, kWaitMs);
        ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (!ready) {
            *why = "the window did not get ready";
            ms = -1;
        } else if (window.rows().size() != rows) {
            *why = std::to_string(window.rows().size()) + " rows listed";
            ms = -1;
        } else {
            for (const auto& row : window.rows()) {
                if (row->modelState() != DeviceObject::Analyzed || row->modelVersion() != QLatin1String(kVersion)) {
                    *why = "a unit was not analysed: " + row->deviceName().toStdString();
                    ms = -1;
                }
            }
        }
    }
    if (!allLinksUp(*g_bed->rack)) {
        *why = "the rack links did not come back";
        return -1;
    }
    return ms;
}

void BM_RackAgainstOneUnit(benchmark::State& state)
{
    if (!g_bed) {
        state.SkipWithError("no bed");
        return;
    }
    double rackMs = 0;
    double aloneMs = 0;
    for (auto _ : state) {
        std::string why;
        const double alone = analyseMs(g_bed->alonePackage, 1, &why);
        const double rack = alone < 0 ? -1 : analyseMs(g_bed->rackPackage, kRack, &why);
        if (rack < 0) {
            state.SkipWithError(why.c_str());
            return;
        }
        state.SetIterationTime(rack / 1e3);
        rackMs += rack;
        aloneMs += alone;
    }
    state.counters["rack_ms"] = benchmark::Counter(rackMs, benchmark::Counter::kAvgIterations);
    state.counters["alone_ms"] = benchmark::Counter(aloneMs, benchmark::Counter::kAvgIterations);
    state.counters["time_ratio"] = aloneMs > 0 ? rackMs / aloneMs : 0;
    state.counters["ratio"] = rackMs > 0 ? kRack * aloneMs / rackMs : 0;
}

BENCHMARK(BM_RackAgainstOneUnit)->Iterations(benchbudget::rounds(5))->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    int exitCode = 0;
    const auto netns = benchNetnsBed("bench_fw_rack", &exitCode);
    if (!netns)
        return exitCode;
    Bed bed;
    bed.netns = netns.get();
    if (!makeSandbox(&bed) || !makePackages(&bed)) {
        std::printf("bench_fw_rack: the packages could not be made\n");
        return 1;
    }
    qtest::TempDir logDir;
    appLogSetPath(logDir.file("app.log").c_str());
    ZLook::preferOffscreen();
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();
    ZSkins::init();
    if (!startBed(&bed)) {
        std::printf("bench_fw_rack: %s\n", bed.error.c_str());
        return 1;
    }
    g_bed = &bed;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_bed = nullptr;
    const QuietStdout quiet;
    bed.rack.reset();
    bed.links.reset();
    bed.units.reset();
    appLogSetPath("");
    return 0;
}
