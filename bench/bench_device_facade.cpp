// The device facade and the Brox parameter adapter, each against the
// parameter memory alone doing the same work:
//  - IZDev::getValue and setValue of paths already in the address cache,
//    and getValueAt and setValueAt of addresses found once (as a binding
//    holds them), against the field's by-name call with a pre-parsed
//    address (floor);
//  - one sendChanged scan of a Brox unit (every element of every sending
//    and receiving row: none, one or all marked), which every memory wake
//    pays in every connection, against a getNextChangedByName walk over
//    the link's key (floor).
#include "device/link/dev_brox.h"
#include "device/memory/dev_memobject.h"
#include "device/memory/dev_mmsarchiver.h"
#include "device/memory/dev_object.h"
#include "mms/mms_field.h"
#include "pbd/jlib/jvariant.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace Quil;

namespace {

// 32 inputs x 5 parameters of Backup.
std::vector<QString> inputPaths()
{
    std::vector<QString> paths;
    for (const char* p : {"48VOn", "HPFOn", "HPFFreq", "HAGain", "CompGain"})
        for (int ch = 0; ch < 32; ++ch)
            paths.push_back(QString("/Backup/InCh:%1/%2:0").arg(ch).arg(p));
    return paths;
}

std::vector<MemAddress> parsed(const std::vector<QString>& paths)
{
    std::vector<MemAddress> out(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        parseMemPath(paths[i], &out[i]);
    return out;
}

MMS::Field* backupField(DevObject& dev)
{
    return dev.memory()->accessor("Backup")->field();
}

void BM_FacadeGetValue(benchmark::State& state)
{
    DevObject dev(0, MODEL_BROXL_D);
    const std::vector<QString> paths = inputPaths();
    JLIB::JVariant value;
    for (const QString& p : paths)
        dev.getValue(p, &value); // fills the cache
    int64_t reads = 0;
    for (auto _ : state) {
        for (const QString& p : paths)
            if (dev.getValue(p, &value) < 0)
                state.SkipWithError("read failed");
        reads += static_cast<int64_t>(paths.size());
    }
    state.SetItemsProcessed(reads);
}
BENCHMARK(BM_FacadeGetValue);

// The same reads through addresses found once, as a binding holds them.
void BM_FacadeGetValueAt(benchmark::State& state)
{
    DevObject dev(0, MODEL_BROXL_D);
    std::vector<const MemAddress*> addresses;
    JLIB::JVariant value;
    for (const QString& p : inputPaths()) {
        dev.getValue(p, &value);
        addresses.push_back(dev.findAddress(p));
    }
    int64_t reads = 0;
    for (auto _ : state) {
        for (const MemAddress* a : addresses)
            if (dev.getValueAt(*a, &value) < 0)
                state.SkipWithError("read failed");
        reads += static_cast<int64_t>(addresses.size());
    }
    state.SetItemsProcessed(reads);
}
BENCHMARK(BM_FacadeGetValueAt);

void BM_FacadeGetValueFieldFloor(benchmark::State& state)
{
    DevObject dev(0, MODEL_BROXL_D);
    const std::vector<MemAddress> addresses = parsed(inputPaths());
    MMS::Field* field = backupField(dev);
    JLIB::JVariant value;
    int64_t reads = 0;
    for (auto _ : state) {
        for (const MemAddress& a : addresses) {
            uint8_t source = 0;
            if (field->getValueByName(&value, &source, a.function.c_str(), a.namePath.c_str(),
                    static_cast<uint32_t>(a.namePath.size()), a.indexes.data(), static_cast<uint32_t>(a.indexes.size()),
                    false, SOURCE_UI)
                < 0)
                state.SkipWithError("read failed");
        }
        reads += static_cast<int64_t>(addresses.size());
    }
    state.SetItemsProcessed(reads);
}
BENCHMARK(BM_FacadeGetValueFieldFloor);

// Arg: the write source (1 the user interface, which also reads the
// connection state; 2 the device link).
void BM_FacadeSetValue(benchmark::State& state)
{
    const uint8_t source = static_cast<uint8_t>(state.range(0));
    DevObject dev(0, MODEL_BROXL_D);
    const std::vector<QString> paths = inputPaths();
    int32_t v = 0;
    int64_t writes = 0;
    for (auto _ : state) {
        const JLIB::JVariant value(v++ & 1);
        for (const QString& p : paths)
            if (dev.setValue(p, value, source) < 0)
                state.SkipWithError("write failed");
        writes += static_cast<int64_t>(paths.size());
    }
    state.SetItemsProcessed(writes);
}
BENCHMARK(BM_FacadeSetValue)->Arg(SOURCE_UI)->Arg(SOURCE_LINK);

void BM_FacadeSetValueAt(benchmark::State& state)
{
    const uint8_t source = static_cast<uint8_t>(state.range(0));
    DevObject dev(0, MODEL_BROXL_D);
    std::vector<MemAddress> addresses = parsed(inputPaths());
    int32_t v = 0;
    int64_t writes = 0;
    for (auto _ : state) {
        const JLIB::JVariant value(v++ & 1);
        for (const MemAddress& a : addresses)
            if (dev.setValueAt(a, value, source) < 0)
                state.SkipWithError("write failed");
        writes += static_cast<int64_t>(addresses.size());
    }
    state.SetItemsProcessed(writes);
}
BENCHMARK(BM_FacadeSetValueAt)->Arg(SOURCE_UI)->Arg(SOURCE_LINK);

void BM_FacadeSetValueFieldFloor(benchmark::State& state)
{
    const uint8_t source = static_cast<uint8_t>(state.range(0));
    DevObject dev(0, MODEL_BROXL_D);
    const std::vector<MemAddress> addresses = parsed(inputPaths());
    MMS::Field* field = backupField(dev);
    MMS::WriterOptions writer;
    writer.source = source;
    writer.own = source != SOURCE_LINK;
    writer.key = source;
    int32_t v = 0;
    int64_t writes = 0;
    for (auto _ : state) {
        const JLIB::JVariant value(v++ & 1);
        for (const MemAddress& a : addresses)
            if (field->setValueByName(value, a.function.c_str(), a.namePath.c_str(),
                    static_cast<uint32_t>(a.namePath.size()), a.indexes.data(), static_cast<uint32_t>(a.indexes.size()),
                    writer)
                < 0)
                state.SkipWithError("write failed");
        writes += static_cast<int64_t>(addresses.size());
    }
    state.SetItemsProcessed(writes);
}
BENCHMARK(BM_FacadeSetValueFieldFloor)->Arg(SOURCE_UI)->Arg(SOURCE_LINK);

// Counts what the scan hands to the client.
class CountingCallback : public SCP::IScpParameterCallback {
public:
    int64_t changes = 0;
    JResult forwardEvent(int32_t, int32_t, int32_t, int32_t) override { return 0; }
    JResult parameterChanged(bool, int32_t, int32_t, int32_t) override
    {
        ++changes;
        return 0;
    }
    JResult parameterChanged(int32_t, int32_t, int32_t) override { return 0; }
    JResult sceneRecalled(int32_t) override { return 0; }
};

// Every element of the Brox table's sending rows, as paths.
std::vector<QString> sendingPaths(ScpParameter_Brox& parameter, int64_t* elements)
{
    std::vector<QString> paths;
    *elements = 0;
    for (int32_t a = 0; a < BROX_PARAMETER_COUNT; ++a) {
        const ScpPathFormat* f = parameter.pathFormat(a);
        *elements += f->collections * f->elements;
        if (!(parameter.row(a)->flags & ROW_SEND))
            continue;
        for (int32_t i = 0; i < f->collections; ++i)
            for (int32_t j = 0; j < f->elements; ++j) {
                QString p;
                formatMemPath(f->format, {i, j, 0, 0}, &p);
                paths.push_back(p);
            }
    }
    return paths;
}

// Arg: 0 nothing marked, 1 one element, 2 every sending element.
void markFor(DevObject& dev, const std::vector<QString>& paths, int64_t how, int round)
{
    const size_t n = how == 0 ? 0 : how == 1 ? 1 : paths.size();
    const JLIB::JVariant value(round & 1);
    for (size_t k = 0; k < n; ++k)
        dev.setRawValue(paths[k], value, SOURCE_UI);
}

void BM_SendChangedScan(benchmark::State& state)
{
    DevObject dev(0, MODEL_BROXL_D);
    ScpParameter_Brox parameter;
    CountingCallback callback;
    parameter.bind(&dev, SOURCE_LINK);
    parameter.setCallback(&callback);
    int64_t elements = 0;
    const std::vector<QString> paths = sendingPaths(parameter, &elements);
    parameter.sendChanged(); // clears the marks of construction
    int round = 0;
    int64_t scanned = 0;
    for (auto _ : state) {
        state.PauseTiming();
        markFor(dev, paths, state.range(0), ++round);
        state.ResumeTiming();
        parameter.sendChanged();
        scanned += elements;
    }
    state.counters["elements"] = static_cast<double>(elements);
    state.counters["sent"] = static_cast<double>(callback.changes);
    state.SetItemsProcessed(scanned);
}
BENCHMARK(BM_SendChangedScan)->Arg(0)->Arg(1)->Arg(2);

void BM_SendChangedWalkFloor(benchmark::State& state)
{
    DevObject dev(0, MODEL_BROXL_D);
    ScpParameter_Brox parameter;
    int64_t elements = 0;
    const std::vector<QString> paths = sendingPaths(parameter, &elements);
    MMS::Field* fields[3] = {dev.memory()->accessor("Backup")->field(), dev.memory()->accessor("Current")->field(),
        dev.memory()->accessor("Event")->field()};
    const char* names[3] = {"Backup", "Current", "Event"};
    auto walk = [&] {
        int64_t found = 0;
        for (int f = 0; f < 3; ++f) {
            char path[256] = {};
            char previous[256] = {};
            uint32_t indexes[10] = {}, previousIndexes[10] = {}, count = 0, previousCount = 0;
            while (fields[f]->getNextChangedByName(path, sizeof path, indexes, &count, 10, names[f], previous,
                       static_cast<uint32_t>(std::strlen(previous)), previousIndexes, previousCount, true, SOURCE_LINK,
                       false)
                >= 0) {
                ++found;
                std::memcpy(previous, path, sizeof path);
                std::memcpy(previousIndexes, indexes, sizeof indexes);
                previousCount = count;
            }
        }
        return found;
    };
    walk();
    int round = 0;
    int64_t scanned = 0;
    for (auto _ : state) {
        state.PauseTiming();
        markFor(dev, paths, state.range(0), ++round);
        state.ResumeTiming();
        benchmark::DoNotOptimize(walk());
        scanned += elements;
    }
    state.SetItemsProcessed(scanned);
}
BENCHMARK(BM_SendChangedWalkFloor)->Arg(0)->Arg(1)->Arg(2);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
