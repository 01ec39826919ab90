// The device memory's change road and unit set-up, each against the parameter
// memory alone doing the same work:
//  - the change walk of one function, from MMSAccessor::update to a
//    paramChanged receiver, per marked element, against a bare
//    getNextChangedByName loop over the same marks (floor);
//  - writes from four threads through the memory objects, with the
//    signalMemChanged broadcasts they cause, against the same writes into
//    bare locked fields (no trigger, no Qt);
//  - one unit's memory per family (archiver, layouts loaded and activated,
//    memory object with its accessors) against the same texts loaded into
//    bare fields.
#include "device/layouts/dev_layouts.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/link/dev_family.h"
#include "device/memory/dev_familymem.h"
#include "device/memory/dev_memconstructor.h"
#include "device/memory/dev_memthread.h"
#include "device/memory/dev_mmsarchiver.h"
#include "device/memory/dev_notifier.h"
#include "mms/mms_loader.h"
#include "mms/mms_lockedfield.h"
#include "pbd/jlib/jvariant.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace Quil;

namespace {

class Counter : public QObject {
    Q_OBJECT

public:
    std::atomic<int64_t> count{0};

public slots:
    void onParamChanged(const QString&) { ++count; }
    void slotMemChanged() { ++count; }
};

struct BroxUnit {
    BroxUnit()
    {
        BroxMemConstructor().load(&archiver);
        object = std::make_unique<BroxMemObject>(0, MODEL_BROXL_D, nullptr, &archiver);
        object->setNotifier(&notifier);
    }
    MMSArchiver archiver;
    MemNotifier notifier;
    std::unique_ptr<BroxMemObject> object;
};

const char* const kInputParameters[] = {"InCh/48VOn", "InCh/HPFOn", "InCh/HPFFreq", "InCh/HAGain", "InCh/CompGain"};

// Marks 32 channels x 5 parameters of Backup for key 1 (device-link writes).
int markInputs(BroxUnit& unit, int round)
{
    int marked = 0;
    for (uint32_t ch = 0; ch < 32; ++ch) {
        for (const char* path : kInputParameters) {
            const MemAddress address{"Backup", path, {ch, 0}};
            const int32_t value = std::strcmp(path, "InCh/HPFFreq") == 0 ? 10 + round % 2 : round % 2;
            if (unit.object->setRawValue(address, JLIB::JVariant(value), SOURCE_LINK) & MMS::MMS_CHANGED)
                ++marked;
        }
    }
    return marked;
}

void BM_ChangeWalkToParamChanged(benchmark::State& state)
{
    BroxUnit unit;
    Counter receiver;
    for (uint32_t ch = 0; ch < 32; ++ch) {
        for (const char* path : kInputParameters) {
            const QString text = QStringLiteral("/Backup/InCh:%1/%2:0").arg(ch).arg(QString(path).section('/', 1));
            unit.notifier.subscribe(text, &receiver, SOURCE_UI, SLOT(onParamChanged(QString)), Qt::DirectConnection);
        }
    }
    MMSAccessor* accessor = unit.object->accessor("Backup");
    int64_t elements = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        elements += markInputs(unit, ++round);
        state.ResumeTiming();
        accessor->update();
    }
    if (receiver.count != elements)
        state.SkipWithError("not every marked element reached its receiver");
    state.SetItemsProcessed(elements);
}
BENCHMARK(BM_ChangeWalkToParamChanged);

void BM_ChangeWalkBareFloor(benchmark::State& state)
{
    BroxUnit unit;
    MMS::Field* field = unit.archiver.field("Backup");
    int64_t elements = 0;
    int64_t found = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        elements += markInputs(unit, ++round);
        state.ResumeTiming();
        char path[256] = {};
        char previous[256] = {};
        uint32_t indexes[10] = {}, previousIndexes[10] = {}, count = 0, previousCount = 0;
        while (field->getNextChangedByName(path, sizeof path, indexes, &count, 10, "Backup", previous,
                   static_cast<uint32_t>(std::strlen(previous)), previousIndexes, previousCount, true, SOURCE_UI, false)
            >= 0) {
            ++found;
            std::memcpy(previous, path, sizeof path);
            std::memcpy(previousIndexes, indexes, sizeof indexes);
            previousCount = count;
        }
    }
    if (found != elements)
        state.SkipWithError("walk missed marks");
    state.SetItemsProcessed(elements);
}
BENCHMARK(BM_ChangeWalkBareFloor);

constexpr int kWriters = 4;
constexpr int kWritesPerThread = 20000;

// Each writer owns 8 input channels and toggles 48VOn on them.
template <class Write> void runWriters(Write write)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t) {
        threads.emplace_back([t, &write] {
            for (int i = 0; i < kWritesPerThread; ++i)
                write(static_cast<uint32_t>(t * 8 + i % 8), (i / 8) % 2 == 0 ? 1 : 0);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

void BM_FourWritersThroughMemoryObjects(benchmark::State& state)
{
    createMemThread();
    BroxUnit unit;
    Counter listener;
    registerMemArchiver(&unit.archiver);
    registerMemListener(&listener);
    int64_t broadcasts = 0;
    double seconds = 0;
    for (auto _ : state) {
        listener.count = 0;
        const auto start = std::chrono::steady_clock::now();
        std::atomic<bool> done{false};
        std::thread writers([&] {
            runWriters([&](uint32_t ch, int32_t value) {
                unit.object->setValue(MemAddress{"Backup", "InCh/48VOn", {ch, 0}}, JLIB::JVariant(value), SOURCE_UI);
            });
            done = true;
        });
        // The GUI thread's part: the queued wake-ups and the broadcasts.
        while (!done)
            QCoreApplication::processEvents();
        writers.join();
        QCoreApplication::processEvents();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        broadcasts += listener.count;
    }
    unregisterMemListener(&listener);
    destroyMemThread();
    QCoreApplication::processEvents();
    state.SetItemsProcessed(state.iterations() * kWriters * kWritesPerThread);
    state.counters["broadcasts/s"] = benchmark::Counter(static_cast<double>(broadcasts) / seconds);
}
BENCHMARK(BM_FourWritersThroughMemoryObjects)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_FourWritersBareFieldFloor(benchmark::State& state)
{
    MMS::RecursiveMutex mutex;
    MMS::Field field(nullptr, &mutex);
    MMS::mms_loadDefinitionFromMemory(&field, nullptr, 0, "Backup", 7, kLayoutBroxBackup,
        static_cast<uint32_t>(std::strlen(kLayoutBroxBackup) + 1), MMS::LOAD_ACTIVATE);
    field.addNotifier(0, 1, 1, false);
    field.addNotifier(0, 2, 1, false);
    for (auto _ : state) {
        runWriters([&](uint32_t ch, int32_t value) {
            const uint32_t indexes[] = {ch, 0};
            MMS::WriterOptions writer;
            writer.source = 1;
            writer.own = true;
            writer.key = 1;
            field.setValueByName(JLIB::JVariant(value), "Backup", "InCh/48VOn", 10, indexes, 2, writer);
        });
    }
    state.SetItemsProcessed(state.iterations() * kWriters * kWritesPerThread);
}
BENCHMARK(BM_FourWritersBareFieldFloor)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_UnitMemory(benchmark::State& state)
{
    const ModelType type = static_cast<ModelType>(state.range(0));
    for (auto _ : state) {
        MMSArchiver archiver;
        if (createMemConstructor(type)->load(&archiver) < 0)
            state.SkipWithError("load failed");
        std::unique_ptr<ZMemObject> object(createMemObject(type, 0, nullptr, &archiver));
        benchmark::DoNotOptimize(object.get());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnitMemory)->Arg(MODEL_BROXL_D)->Arg(MODEL_MAVIK_D)->Arg(MODEL_SORN_D)->Unit(benchmark::kMicrosecond);

void BM_UnitMemoryBareFieldsFloor(benchmark::State& state)
{
    const ModelType type = static_cast<ModelType>(state.range(0));
    const FamilyLayout& layout = servedByKit(type, ModelKit::Sorn) ? sornFamilyLayout()
        : servedByKit(type, ModelKit::Mavik)                       ? mavikFamilyLayout()
                                                                   : broxFamilyLayout();
    for (auto _ : state) {
        std::vector<std::unique_ptr<MMS::Base>> fields;
        for (size_t i = 0; i < layout.count; ++i) {
            const FamilyFunction& f = layout.functions[i];
            fields.push_back(std::make_unique<MMS::Base>(nullptr));
            if (MMS::mms_loadDefinitionFromMemory(fields.back().get(), nullptr, 0, f.name,
                    static_cast<uint32_t>(std::strlen(f.name) + 1), f.layout,
                    static_cast<uint32_t>(std::strlen(f.layout) + 1), MMS::LOAD_ACTIVATE)
                < 0)
                state.SkipWithError("load failed");
        }
        benchmark::DoNotOptimize(fields.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnitMemoryBareFieldsFloor)
    ->Arg(MODEL_BROXL_D)
    ->Arg(MODEL_MAVIK_D)
    ->Arg(MODEL_SORN_D)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    // The memory thread's wake-ups are queued to this (the GUI) thread.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "bench_device_memory.moc"
