// Loading layouts of 10^2, 10^3 and 10^4 parameters, all in one collection
// and in collections of 100 (the growth should be linear either way), against
// the floor of expat parsing the same text with empty handlers, and setValue through the locked field with two
// recursive locks against the same call without locking.

#include "mms/mms_loader.h"
#include "mms/mms_lockedfield.h"

#include "pbd/jlib/jvariant.h"

#include <benchmark/benchmark.h>

#include <expat.h>

#include <string>

using namespace MMS;

namespace {

// count parameters in collections of perCollection, each with limits and a
// unit.
std::string layout(int count, int perCollection)
{
    const int collections = (count + perCollection - 1) / perCollection;
    std::string text = "<function name=\"Bench\" collections=\"" + std::to_string(collections) + "\" parameters=\""
        + std::to_string(count) + "\" stringsize=\"" + std::to_string(count * 4) + "\"><collections>";
    for (int c = 0; c < collections; ++c) {
        text += "<collection name=\"c" + std::to_string(c) + "\" arraysize=\"2\">";
        for (int p = 0; p < perCollection && c * perCollection + p < count; ++p) {
            text += "<parameter name=\"p" + std::to_string(p)
                + "\" type=\"int16_t\" arraysize=\"4\">"
                  "<minimum>-100</minimum><maximum>100</maximum><default>0</default><unit>dB</unit></parameter>";
        }
        text += "</collection>";
    }
    return text + "</collections></function>";
}

void BM_LoadLayout(benchmark::State& state)
{
    const std::string text = layout(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        Base field(nullptr);
        const JResult r = mms_loadDefinitionFromMemory(
            &field, nullptr, 0, "bench", 6, text.data(), static_cast<uint32_t>(text.size()), LOAD_ACTIVATE);
        if (r != 0)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
// Arguments: parameters, parameters per collection.
void layoutSizes(benchmark::internal::Benchmark* b)
{
    for (int n : {100, 1000, 10000}) {
        b->Args({n, n});
        if (n != 100)
            b->Args({n, 100});
    }
    b->ArgNames({"params", "per"})->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_LoadLayout)->Apply(layoutSizes);

void BM_ExpatParseFloor(benchmark::State& state)
{
    const std::string text = layout(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    size_t elements = 0;
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetUserData(parser, &elements);
        XML_SetElementHandler(
            parser, [](void* data, const XML_Char*, const XML_Char**) { ++*static_cast<size_t*>(data); },
            [](void*, const XML_Char*) {});
        XML_SetCharacterDataHandler(parser, [](void*, const XML_Char*, int) {});
        if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) != XML_STATUS_OK)
            state.SkipWithError("parse failed");
        XML_ParserFree(parser);
    }
    benchmark::DoNotOptimize(elements);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ExpatParseFloor)->Apply(layoutSizes);

void setValueLoop(benchmark::State& state, IMutex* mutex)
{
    Field field(nullptr, mutex);
    const std::string text = layout(100, 100);
    if (mms_loadDefinitionFromMemory(
            &field, nullptr, 0, "bench", 6, text.data(), static_cast<uint32_t>(text.size()), LOAD_ACTIVATE)
        != 0) {
        state.SkipWithError("load failed");
        return;
    }
    field.addNotifier(0, 1, 1, false);
    uint32_t tags[MMS_MAX_DEPTH], count = 0;
    field.resolveNamePath(tags, &count, MMS_MAX_DEPTH, "bench", "c0/p42", 6);
    const uint32_t indexes[] = {1, 3};
    WriterOptions writer;
    writer.key = 2;
    int32_t value = 0;
    for (auto _ : state) {
        value = value == 50 ? -50 : value + 1;
        benchmark::DoNotOptimize(field.setValue(JLIB::JVariant(value), "bench", tags, indexes, count, writer));
    }
}

void BM_SetValueLocked(benchmark::State& state)
{
    RecursiveMutex mutex;
    setValueLoop(state, &mutex);
}
BENCHMARK(BM_SetValueLocked);

void BM_SetValueNullMutex(benchmark::State& state)
{
    setValueLoop(state, nullptr);
}
BENCHMARK(BM_SetValueNullMutex);

} // namespace
BENCHMARK_MAIN();
