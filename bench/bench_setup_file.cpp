// Setup files of a full rack: 24 BroxL-D3 with every stored ("Backup") value
// changed, saved and opened. The open is also split into its two costs,
// reading the container and mounting the 24 device objects. The peer is the
// independent python reader (tests/peers/quil.py) parsing the same file,
// timed inside python without the interpreter's start-up.
#include "app/app_setupfile.h"
#include "device/memory/dev_mmsarchiver.h"
#include "device/memory/dev_object.h"
#include "mms/mms_lockedfield.h"
#include "mmsfield/mmsfield_block.h"
#include "pbd/FileCache/fcache_MBDF.h"
#include "tests/app/setup/setup_rack.h"

#include <benchmark/benchmark.h>

#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr int kSlots = Quil::kRackSlotCount;

std::string run(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[256];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
            out.append(chunk, n);
        pclose(pipe);
    }
    return out;
}

// Every Backup value of a unit set away from its default: the minimum, or
// the maximum where the minimum is the default.
void changeEveryValue(Quil::RackObject& slot)
{
    static const char* const kPaths[] = {"InCh:%d/48VOn:0", "InCh:%d/HPFOn:0", "InCh:%d/HPFFreq:0", "InCh:%d/HAGain:0",
        "OutCh:%d/DelayOn:0", "OutCh:%d/DelayTime:0", "OutCh:%d/Polarity:0", "OutCh:%d/GainLevel:0"};
    for (const char* format : kPaths)
        for (int ch = 0; ch < 24; ++ch) {
            const QString path = QStringLiteral("/Backup/") + QString::asprintf(format, ch);
            JLIB::JVariant def, max, min;
            if (slot.getDefault(path, &def, false) < 0 || slot.getMaximum(path, &max) < 0
                || slot.getMinimum(path, &min) < 0)
                continue;
            slot.setValue(path, def == min ? max : min, 1);
        }
}

struct Fixture {
    Fixture()
    {
        char folder[] = "/tmp/quillon_bench_setup.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        dir = folder;
        path = dir + "/rack.quil";
        for (int i = 0; i < kSlots; ++i) {
            rack.slot(i).setDeviceId(i + 1);
            rack.mountModel(i, Quil::MODEL_BROXL_D3);
            changeEveryValue(rack.slot(i));
        }
        QString error;
        if (Quil::saveProject(rack, QString::fromStdString(path), &error) < 0)
            std::abort();
        bytes = QFileInfo(QString::fromStdString(path)).size();
    }
    ~Fixture()
    {
        ::unlink(path.c_str());
        ::rmdir(dir.c_str());
    }

    std::string dir;
    std::string path;
    setup_test::TestRack rack;
    int64_t bytes = 0;
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void report(benchmark::State& state, const Fixture& f)
{
    state.SetBytesProcessed(state.iterations() * f.bytes);
    state.counters["bytes_per_unit"] = static_cast<double>(f.bytes) / kSlots;
}

void BM_SaveFullRack(benchmark::State& state)
{
    Fixture& f = fixture();
    const QString target = QString::fromStdString(f.dir + "/saved.quil");
    QString error;
    for (auto _ : state)
        if (Quil::saveProject(f.rack, target, &error) < 0)
            std::abort();
    ::unlink((f.dir + "/saved.quil").c_str());
    report(state, f);
}
BENCHMARK(BM_SaveFullRack)->Unit(benchmark::kMillisecond);

// The whole open: container, rack block, 24 new device objects, 24 images.
void BM_OpenFullRack(benchmark::State& state)
{
    Fixture& f = fixture();
    const QString source = QString::fromStdString(f.path);
    setup_test::TestRack rack;
    QString error;
    for (auto _ : state) {
        state.PauseTiming();
        rack.unmountUnconnected();
        state.ResumeTiming();
        if (Quil::loadProject(rack, source, &error) < 0)
            std::abort();
    }
    report(state, f);
}
BENCHMARK(BM_OpenFullRack)->Unit(benchmark::kMillisecond);

void BM_OpenContainerRead(benchmark::State& state)
{
    Fixture& f = fixture();
    MMSFUNC::mbdf_registerMMSFieldBlockFactory();
    for (auto _ : state) {
        FILECACHE::MBDF file(4);
        if (file.read(f.path.c_str(), true, nullptr, nullptr) < 0)
            std::abort();
    }
    report(state, f);
}
BENCHMARK(BM_OpenContainerRead)->Unit(benchmark::kMillisecond);

void BM_OpenMountDeviceObjects(benchmark::State& state)
{
    setup_test::TestRack rack;
    for (auto _ : state) {
        state.PauseTiming();
        rack.unmountUnconnected();
        state.ResumeTiming();
        for (int i = 0; i < kSlots; ++i)
            rack.mountModel(i, Quil::MODEL_BROXL_D3);
    }
    report(state, fixture());
}
BENCHMARK(BM_OpenMountDeviceObjects)->Unit(benchmark::kMillisecond);

// The peer parses the same file (container, rack block, DataInfo and Backup
// images of the 24 units).
void BM_PeerReadFullRack(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string script = "import sys,time\n"
                               "sys.path.insert(0,sys.argv[1])\n"
                               "import quil\n"
                               "d=open(sys.argv[2],'rb').read()\n"
                               "t=time.perf_counter()\n"
                               "r=quil.read(d)\n"
                               "print(time.perf_counter()-t, len(r['units']))\n";
    const std::string peers = QUILLON_PEERS_DIR;
    for (auto _ : state) {
        const std::string out = run("python3 -c \"" + script + "\" '" + peers + "' '" + f.path + "'");
        double seconds = 0, units = 0;
        if (std::sscanf(out.c_str(), "%lf %lf", &seconds, &units) != 2 || units != kSlots)
            std::abort();
        state.SetIterationTime(seconds);
    }
    report(state, f);
}
BENCHMARK(BM_PeerReadFullRack)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
